#ifndef FUNCTIONS_REPORT_TEXTS_H
#define FUNCTIONS_REPORT_TEXTS_H

#include <QString>

// The sentences the probes and the steps put into their results and questions, with the parts
// that vary as arguments. Plain values only, no records: every engine file may include this
// one without the report's headers coming along.

// The fill refused a volume not known to lie on the polled device; qsWhy: why not known.
QString qsFill_Refused_Text(const QString &qsVolume_Dir, const QString &qsWhy);
// The same, as the question whether to fill it all the same.
QString qsFill_Refused_Question(const QString &qsVolume_Dir, const QString &qsWhy);

#endif // FUNCTIONS_REPORT_TEXTS_H
