#include "Functions_Verdict_Text.h"

#include "Functions_Text.h"

#include <algorithm>

namespace {

QString qsWhy_Incomplete(const cRead_Result &oResult)
{
    QStringList qslWhy;
    // A stop is the operator's (or a signal's); readers left behind after it are the medium's.
    if (oResult.eStatus == eRead_Cancelled)
        qslWhy << "чтение прервано оператором";
    if (oResult.bAbandoned)
        qslWhy << "носитель перестал отвечать";
    if (oResult.eStatus == eRead_Shrunk)
        qslWhy << "носитель уменьшился во время чтения";
    if (oResult.qui64Bytes_Bad > 0)
        qslWhy << "не удалось прочитать " + qsBytes_Text(oResult.qui64Bytes_Bad);
    return qslWhy.join(", ");
}

// How much of the volume a fill that ended early covered: "1,56 % раздела (1 022,0 МиБ)".
QString qsVolume_Share(const cVerdict &oVerdict)
{
    const cFill_Layout &oLayout = oVerdict.oLayout;
    return QString("%1 раздела (%2)")
        .arg(qsPercent_Text(8 * oVerdict.qui64Words, std::max(oLayout.qui64Volume_Bytes, 8 * oVerdict.qui64Words)),
             qsSize_Text(oLayout.qui64Volume_Bytes));
}

QString qsIntact_Text(const cVerdict &oVerdict)
{
    const QString qsWords = qsWords_Text(oVerdict.qui64Words), qsSize = qsSize_Text(8 * oVerdict.qui64Words);
    if (!oVerdict.oLayout.qsFill_Stopped.isEmpty()) // what was never written is not known to be kept
        return QString("Проверена только часть раздела: все %1 файла заполнения (%2) %3, но это лишь %4 — %5. "
                       "Остальное место раздела не проверено.")
            .arg(qsWords, qsSize,
                 oVerdict.oLayout.bPlaced && !oVerdict.oLayout.bInferred ? "целы и лежат на носителе на своих местах"
                                                                         : "найдены на носителе",
                 qsVolume_Share(oVerdict), oVerdict.oLayout.qsFill_Stopped);
    if (oVerdict.qui64Words < oVerdict.oLayout.qui64Words()) // the rest was not looked for: never "все"
        return QString("Проверена только часть файла заполнения: %1 (%2) из %3 найдены на носителе; остальные не "
                       "искались.")
            .arg(qsWords, qsSize, qsWords_Text(oVerdict.oLayout.qui64Words()));
    if (oVerdict.oLayout.bPlaced && !oVerdict.oLayout.bInferred)
        return QString("Данные целы: все %1 файла заполнения (%2) лежат на носителе на своих местах.")
            .arg(qsWords, qsSize);
    return QString("Данные целы: все %1 файла заполнения (%2) найдены на носителе; на своих ли они местах, "
                   "проверить нельзя.")
        .arg(qsWords, qsSize);
}

QString qsMissing_Text(const cVerdict &oVerdict)
{
    if (oVerdict.qui64Missing == 0)
        return QString("Данные не на своих местах: не там, куда их записала файловая система, найдено %1 файла "
                       "заполнения.")
            .arg(qsWords_Text(oVerdict.qui64Displaced));
    return QString("Часть данных потеряна: не найдено %1 (%2, %3 файла заполнения)%4.")
        .arg(qsWords_Text(oVerdict.qui64Missing), qsSize_Text(8 * oVerdict.qui64Missing),
             qsPercent_Text(oVerdict.qui64Missing, oVerdict.qui64Words),
             oVerdict.qui64Displaced == 0
                 ? QString()
                 : QString(", ещё не на своих местах: %1").arg(qsWords_Text(oVerdict.qui64Displaced)));
}

QString qsCapacity_Text(const cVerdict &oVerdict)
{
    const quint64 qui64Min = oVerdict.qui64Capacity_Min, qui64Max = oVerdict.qui64Capacity_Max;
    const QString qsCache =
        oVerdict.qui64Cache_Bytes == 0
            ? QString()
            : QString(", и ещё около %1 держит кэш, пока их не вытеснят").arg(qsSize_Text(oVerdict.qui64Cache_Bytes));
    if (qui64Max <= qui64Min)
        return QString("Поддельная ёмкость: носитель хранит данные только до смещения %1, всё записанное дальше "
                       "потеряно. Настоящая ёмкость — около %2%3.")
            .arg(qsCount_Text(qui64Min), qsSize_Text(qui64Min), qsCache);
    // Where the file system put nothing of the fill, nothing was measured: a range, not a figure.
    return QString("Поддельная ёмкость: носитель хранит данные до смещения %1, записанное начиная со смещения %2 "
                   "потеряно. Настоящая ёмкость — от %3 до %4: между ними заполнение не легло, проверить нельзя%5.")
        .arg(qsCount_Text(qui64Min), qsCount_Text(qui64Max), qsSize_Text(qui64Min), qsSize_Text(qui64Max), qsCache);
}

QString qsFake_Text(const cVerdict &oVerdict)
{
    const quint64 qui64Usable = oVerdict.qui64Usable_Bytes;
    switch (oVerdict.eValue) {
    case eVerdict_Capacity_Limited:
        return qsCapacity_Text(oVerdict);
    case eVerdict_Wraparound:
        if (qui64Usable < oVerdict.qui64Wrap_Period)
            return QString("Поддельная ёмкость: носитель зацикливает адреса через каждые %1 и из каждого круга хранит "
                           "только первые %2 — записанное дальше ложится поверх начала или пропадает. Настоящая "
                           "ёмкость — около %2.")
                .arg(qsBytes_Text(oVerdict.qui64Wrap_Period), qsSize_Text(qui64Usable));
        return QString("Поддельная ёмкость: носитель зацикливает адреса через каждые %1 — записанное дальше ложится "
                       "поверх начала. Настоящая ёмкость — около %2.")
            .arg(qsBytes_Text(oVerdict.qui64Wrap_Period), qsSize_Text(qui64Usable));
    case eVerdict_Keeps_Recent:
        return QString("Поддельная ёмкость: носитель хранит только последние ~%1 записанного, где бы они ни лежали, — "
                       "всё записанное раньше потеряно. Настоящая ёмкость — около %1.")
            .arg(qsSize_Text(qui64Usable));
    case eVerdict_Write_Failed:
        return QString("Носитель перестал принимать запись после ~%1: дальше запись завершалась ошибкой. Записанное "
                       "до того цело. Настоящая ёмкость — около %1.")
            .arg(qsSize_Text(qui64Usable));
    default:
        return QString();
    }
}

QString qsNo_Plaintext_Text(const cVerdict &oVerdict)
{
    return QString("%1: данные попадают на носитель зашифрованными или сжатыми%2.")
        .arg(oVerdict.qui64Found == 0 ? QString("Ни одного слова заполнения на носителе нет")
                                      : QString("В открытом виде на носителе только %1 заполнения из %2 (%3)")
                                            .arg(qsWords_Text(oVerdict.qui64Found), qsCount_Text(oVerdict.qui64Words),
                                                 qsPercent_Text(oVerdict.qui64Found, oVerdict.qui64Words)),
             oVerdict.oLayout.eOn == eOn_Device_Yes
                 ? QString()
                 : " (или раздел не лежит на этом носителе: установить это не удалось)");
}

QString qsRemnants_Text(const cRead_Result &oResult)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    return QString("На носителе остались слова прежнего заполнения: %1 (%2) в %3, первая с байта %4.")
        .arg(qsWords_Text(oVerdict.qui64Remnant_Words), qsSize_Text(8 * oVerdict.qui64Remnant_Words),
             qsAreas_Text(oVerdict.qui64Remnant_Areas),
             qsCount_Text(oVerdict.qvRemnant_Ranges.isEmpty() ? 0 : oVerdict.qvRemnant_Ranges.first().first));
}

} // namespace

QString qsRanges_Text(const tRanges &qvRanges, const int iFirst)
{
    QStringList qslRanges;
    for (int i = 0; i < qvRanges.size() && i < iFirst; ++i)
        qslRanges << qsByte_Range_Text(qvRanges[i].first, qvRanges[i].second);
    if (qvRanges.size() > iFirst)
        qslRanges << "…";
    return qslRanges.join("; ");
}

QString qsVerdict_Text(const cRead_Result &oResult)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    switch (oVerdict.eValue) {
    case eVerdict_Intact:
        return qsIntact_Text(oVerdict);
    case eVerdict_Data_Missing:
        return qsMissing_Text(oVerdict);
    case eVerdict_Data_Changed:
        return QString("Данные искажены: на своих местах, но с изменёнными битами, найдено %1 файла заполнения "
                       "(%2); остальные целы.")
            .arg(qsWords_Text(oVerdict.qui64Changed), qsPercent_Text(oVerdict.qui64Changed, oVerdict.qui64Words));
    case eVerdict_Damaged:
        return QString("Носитель повреждён: не удалось прочитать %1 в %2, первая — %3.")
            .arg(qsBytes_Text(oResult.qui64Bytes_Bad), qsAreas_Text(quint64(oResult.qvUnreadable.size())),
                 qsRanges_Text(oResult.qvUnreadable, 1));
    case eVerdict_Capacity_Limited:
    case eVerdict_Wraparound:
    case eVerdict_Keeps_Recent:
    case eVerdict_Write_Failed:
        return qsFake_Text(oVerdict);
    case eVerdict_No_Plaintext:
        return qsNo_Plaintext_Text(oVerdict);
    case eVerdict_Not_On_Device:
        return QString("Раздел не лежит на носителе %1: проверить его этим чтением нельзя.").arg(oResult.qsDevice);
    case eVerdict_Incomplete:
        return QString("Проверка неполная (%1): выводы ниже относятся только к прочитанной части носителя.")
            .arg(qsWhy_Incomplete(oResult));
    case eVerdict_Remnants:
        return qsRemnants_Text(oResult);
    case eVerdict_Clean:
        return "Слов заполнения на носителе нет: от прежних заполнений ничего не осталось.";
    case eVerdict_None:
        break;
    }
    return QString();
}

QString qsVerdict_Short(const eVerdict eValue)
{
    switch (eValue) {
    case eVerdict_Intact:
        return "данные целы";
    case eVerdict_Data_Missing:
        return "часть данных потеряна";
    case eVerdict_Data_Changed:
        return "данные искажены";
    case eVerdict_Damaged:
        return "носитель повреждён";
    case eVerdict_Capacity_Limited:
        return "поддельная ёмкость";
    case eVerdict_Wraparound:
        return "поддельная ёмкость (адреса по кругу)";
    case eVerdict_Keeps_Recent:
        return "поддельная ёмкость (хранит только последнее)";
    case eVerdict_Write_Failed:
        return "носитель перестал принимать запись";
    case eVerdict_No_Plaintext:
        return "данных в открытом виде нет";
    case eVerdict_Not_On_Device:
        return "раздел не на этом носителе";
    case eVerdict_Incomplete:
        return "проверка неполная";
    case eVerdict_Remnants:
        return "остались слова прежнего заполнения";
    case eVerdict_Clean:
        return "слов заполнения нет";
    case eVerdict_None:
        break;
    }
    return "не проверено";
}

QStringList qslVerdict_Details(const cRead_Result &oResult)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    QStringList qslLines;
    if (!oResult.qvUnreadable.isEmpty())
        qslLines << QString("Не удалось прочитать %1 в %2: %3.")
                        .arg(qsBytes_Text(oResult.qui64Bytes_Bad), qsAreas_Text(quint64(oResult.qvUnreadable.size())),
                             qsRanges_Text(oResult.qvUnreadable));
    if (oVerdict.qui64Changed > 0)
        qslLines << QString("С изменёнными битами на своих местах: %1.").arg(qsWords_Text(oVerdict.qui64Changed));
    if (oVerdict.qui64Medium_Copies > 0)
        qslLines << QString("Носитель вернул %1 не на их местах: %2.")
                        .arg(qsWords_Text(oVerdict.qui64Medium_Copies), oVerdict.eValue == eVerdict_Wraparound
                                                                            ? "двойники слов, записанных на круг дальше"
                                                                            : "устаревшие копии из его кэша");
    if (oVerdict.eValue == eVerdict_Wraparound)
        qslLines << QString("Адреса повторяются через каждые %1.").arg(qsBytes_Text(oVerdict.qui64Wrap_Period));
    if (!oVerdict.oLayout.qsFill_Stopped.isEmpty() && oVerdict.eValue != eVerdict_Intact)
        qslLines << QString("Заполнение закончилось раньше, чем заполнился раздел (%1): проверено %2, %3.")
                        .arg(oVerdict.oLayout.qsFill_Stopped, qsSize_Text(8 * oVerdict.qui64Words),
                             qsVolume_Share(oVerdict));
    if (oVerdict.oLayout.qui64Refused_After > 0 && oVerdict.eValue != eVerdict_Write_Failed)
        qslLines << QString("Заполнение остановила ошибка записи после %1.")
                        .arg(qsBytes_Text(oVerdict.oLayout.qui64Refused_After));
    if (!oVerdict.qvRemnant_Ranges.isEmpty())
        qslLines << "Слова прежнего заполнения лежат: " + qsRanges_Text(oVerdict.qvRemnant_Ranges) + ".";
    return qslLines;
}
