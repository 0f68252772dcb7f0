#ifndef FUNCTIONS_REPORT_H
#define FUNCTIONS_REPORT_H

#include "Functions_Clean.h"
#include "Functions_Data.h"
#include "Functions_Drive.h"
#include "Functions_Steps.h"
#include "Functions_Verdict_Text.h"

#include <QJsonObject>
#include <QString>

// What the operator is told after each operation: by the window in a message box, by
// batch mode on its outputs. A fill or read that ran has a heading, a summary and an
// icon; one that could not start has a failure text instead.

// The poll's values under the window's captions.
QString qsPoll_Text(const cDrive &oDrive, const cVolume &oVolume, const cData &oData);
// What went wrong in a poll, empty when nothing; the sentence the operator is told.
QString qsPoll_Error(const cPoll_Result &oPoll, const cVolume &oVolume);
QString qsPoll_Volume_Failure(const cVolume &oVolume);

bool bFill_Ran(const cFill_Result &oResult);
QString qsFill_Heading(const cFill_Result &oResult);
QString qsFill_Summary(const cFill_Result &oResult);
int iFill_Icon(const cFill_Result &oResult);
// qsPoll_First: what to do first when no poll was made, in the operator's words.
QString qsFill_Failure(const cFill_Result &oResult, const QString &qsPoll_First);

bool bRead_Ran(const cRead_Result &oResult);
QString qsRead_Heading(const cRead_Result &oResult);
QString qsRead_Summary(const cRead_Result &oResult);
int iRead_Icon(const cRead_Result &oResult);
QString qsRead_Failure(const cRead_Result &oResult, const QString &qsPoll_First);

// The clean: the question the window asks, and what the clean did.
QString qsClean_Question(const quint64 qui64Bytes);
QString qsClean_Summary(const cClean_Result &oResult, const QString &qsPoll_First);

// The same for scripts: one object per step, English keys.
QJsonObject qjPoll(const cPoll_Result &oPoll, const cDrive &oDrive, const cVolume &oVolume, const cData &oData);
QJsonObject qjFill(const cFill_Result &oResult, const bool bOk);
QJsonObject qjRead(const cRead_Result &oResult, const bool bOk);
QJsonObject qjClean(const cClean_Result &oResult);

#endif // FUNCTIONS_REPORT_H
