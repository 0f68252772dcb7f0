#ifndef FUNCTIONS_TEXT_H
#define FUNCTIONS_TEXT_H

#include <QString>

// Figures as the operator reads them.
QString qsBytes_Text(const quint64 qui64Bytes);
QString qsRate_Text(const quint64 qui64Bytes, const qint64 qi64Ms);
QString qsSeconds_Text(const qint64 qi64Ms);

#endif // FUNCTIONS_TEXT_H
