#ifndef FUNCTIONS_VERDICT_TEXT_H
#define FUNCTIONS_VERDICT_TEXT_H

#include "Functions_Reader.h"

#include <QString>
#include <QStringList>

// The verdict as the operator reads it: the summary's first line, a few words for titles
// and headings, and the lines that say where a fake or a fault lies.
QString qsVerdict_Text(const cRead_Result &oResult);
QString qsVerdict_Short(const eVerdict eValue);
QStringList qslVerdict_Details(const cRead_Result &oResult);
// Device byte ranges, the first few of them, as a Russian reader reads them.
QString qsRanges_Text(const tRanges &qvRanges, const int iFirst = 4);

#endif // FUNCTIONS_VERDICT_TEXT_H
