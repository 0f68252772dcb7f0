#ifndef FUNCTIONS_PROBE_REPORT_H
#define FUNCTIONS_PROBE_REPORT_H

#include "Functions_Probe_Medium.h"

#include <QJsonObject>
#include <QString>

// What the medium probe tells the operator: its heading, its summary in sentences, its icon,
// and its JSON object for scripts (the read's keys where they mean the same).
QString qsProbe_Heading(const cProbe_Result &oResult);
QString qsProbe_Summary(const cProbe_Result &oResult);
int iProbe_Icon(const cProbe_Result &oResult);
QJsonObject qjProbe(const cProbe_Result &oResult);
// The file system could not give the probe its place: the checking fill is what tells.
bool bProbe_Leaves_To_Fill(const cProbe_Result &oResult);
// The probe's line in the window's panel.
QString qsProbe_Step_Text(const cProbe_Result &oResult);

#endif // FUNCTIONS_PROBE_REPORT_H
