#include "Functions_Text.h"

QString qsBytes_Text(const quint64 qui64Bytes)
{
    return QString::number(double(qui64Bytes) / 1e6, 'f', 1) + " МБ";
}

QString qsRate_Text(const quint64 qui64Bytes, const qint64 qi64Ms)
{
    if (qi64Ms <= 0)
        return "-";
    return QString::number(double(qui64Bytes) / 1e3 / double(qi64Ms), 'f', 1) + " МБ/с";
}

QString qsSeconds_Text(const qint64 qi64Ms)
{
    return QString::number(double(qi64Ms) / 1000.0, 'f', 2) + " с";
}
