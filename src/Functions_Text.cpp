#include "Functions_Text.h"

#include <QLocale>

namespace {

const QLocale &qRussian()
{
    static const QLocale qLocale(QLocale::Russian, QLocale::Russia);
    return qLocale;
}

QString qsDecimal(const double dValue, const int iDigits)
{
    return qRussian().toString(dValue, 'f', iDigits);
}

} // namespace

QString qsCount_Text(const quint64 qui64Value)
{
    return qRussian().toString(qulonglong(qui64Value));
}

QString qsSize_Text(const quint64 qui64Bytes)
{
    static const char *const apcUnits[] = {"КиБ", "МиБ", "ГиБ", "ТиБ", "ПиБ", "ЭиБ"};
    if (qui64Bytes < 1024)
        return qsCount_Text(qui64Bytes) + " байт";
    double dValue = double(qui64Bytes) / 1024.0;
    int iUnit = 0;
    while (dValue >= 1024.0 && iUnit < 5) {
        dValue /= 1024.0;
        ++iUnit;
    }
    return qsDecimal(dValue, dValue < 10 ? 2 : 1) + " " + QString::fromUtf8(apcUnits[iUnit]);
}

QString qsBytes_Text(const quint64 qui64Bytes)
{
    if (qui64Bytes < 1024)
        return qsSize_Text(qui64Bytes);
    return qsSize_Text(qui64Bytes) + " (" + qsCount_Text(qui64Bytes) + " байт)";
}

QString qsRate_Text(const quint64 qui64Bytes, const qint64 qi64Ms)
{
    if (qi64Ms <= 0)
        return "-";
    return qsDecimal(double(qui64Bytes) / 1048576.0 * 1000.0 / double(qi64Ms), 1) + " МиБ/с";
}

QString qsSeconds_Text(const qint64 qi64Ms)
{
    if (qi64Ms < 60000)
        return qsDecimal(double(qi64Ms) / 1000.0, 2) + " с";
    const qint64 qi64S = qi64Ms / 1000;
    if (qi64S < 3600)
        return QString("%1 мин %2 с").arg(qi64S / 60).arg(qi64S % 60, 2, 10, QLatin1Char('0'));
    return QString("%1 ч %2 мин").arg(qi64S / 3600).arg(qi64S / 60 % 60, 2, 10, QLatin1Char('0'));
}

QString qsPercent_Text(const quint64 qui64Part, const quint64 qui64Whole)
{
    const double dPercent = qui64Whole == 0 ? 100.0 : 100.0 * double(qui64Part) / double(qui64Whole);
    // A share that rounds to 0 or to 100 is not none, nor all.
    if (qui64Part > 0 && dPercent < 0.005)
        return "менее " + qsDecimal(0.01, 2) + " %";
    if (qui64Part < qui64Whole && dPercent >= 99.995)
        return "более " + qsDecimal(99.99, 2) + " %";
    return qsDecimal(dPercent, 2) + " %";
}

QString qsByte_Range_Text(const quint64 qui64First, const quint64 qui64End)
{
    return "байты " + qsCount_Text(qui64First) + " … " + qsCount_Text(qui64End - 1);
}

int iPercent(const quint64 qui64Done, const quint64 qui64Total)
{
    if (qui64Total == 0)
        return 100;
    return int(qMin<quint64>(100, quint64(double(qui64Done) * 100.0 / double(qui64Total))));
}

QString qsProgress_Text(const quint64 qui64Done, const quint64 qui64Total, const qint64 qi64Ms)
{
    QString qsResult = qsSize_Text(qui64Done) + " из " + qsSize_Text(qui64Total) + ", " + qsRate_Text(qui64Done, qi64Ms);
    if (qui64Done > 0 && qi64Ms > 0 && qui64Total > qui64Done) {
        const qint64 qi64Left_S = qint64(double(qui64Total - qui64Done) * double(qi64Ms) / double(qui64Done) / 1000.0);
        qsResult += QString(", осталось %1:%2").arg(qi64Left_S / 60).arg(qi64Left_S % 60, 2, 10, QLatin1Char('0'));
    }
    return qsResult;
}

QString qsPlural(const quint64 qui64Count, const char *pcOne, const char *pcFew, const char *pcMany)
{
    const quint64 qui64Tens = qui64Count % 100, qui64Units = qui64Count % 10;
    if (qui64Units == 1 && qui64Tens != 11)
        return QString::fromUtf8(pcOne);
    if (qui64Units >= 2 && qui64Units <= 4 && (qui64Tens < 12 || qui64Tens > 14))
        return QString::fromUtf8(pcFew);
    return QString::fromUtf8(pcMany);
}

QString qsWords_Text(const quint64 qui64Count)
{
    return qsCount_Text(qui64Count) + " " + qsPlural(qui64Count, "слово", "слова", "слов");
}

QString qsAreas_Text(const quint64 qui64Count)
{
    return qsCount_Text(qui64Count) + " " + qsPlural(qui64Count, "области", "областях", "областях");
}

namespace {

QString qsEscaped(const QString &qsText, const bool bKeep_Lines)
{
    QString qsResult;
    qsResult.reserve(qsText.size());
    for (const QChar qcChar : qsText) {
        const ushort usCode = qcChar.unicode();
        if ((usCode < 0x20 && (usCode != '\n' || !bKeep_Lines)) || (usCode >= 0x7f && usCode < 0xa0))
            qsResult += QString("\\x%1").arg(usCode, 2, 16, QChar('0'));
        else
            qsResult += qcChar;
    }
    return qsResult;
}

} // namespace

QString qsTerminal_Safe(const QString &qsText)
{
    return qsEscaped(qsText, true);
}

QString qsLine_Safe(const QString &qsValue)
{
    return qsEscaped(qsValue, false);
}

QString qsValues_Escaped(QString qsText, const QStringList &qslValues)
{
    for (const QString &qsValue : qslValues)
        if (!qsValue.isEmpty() && qsLine_Safe(qsValue) != qsValue)
            qsText.replace(qsValue, qsLine_Safe(qsValue));
    return qsText;
}
