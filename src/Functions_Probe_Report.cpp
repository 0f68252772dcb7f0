#include "Functions_Probe_Report.h"

#include "Functions_Core.h"
#include "Functions_Files.h"
#include "Functions_Text.h"
#include "Functions_Verdict_Text.h"

namespace {

// The verdict in a sentence, with the figures the probe found.
QString qsProbe_Verdict_Text(const cProbe_Result &oResult)
{
    const QString qsUsable = qsSize_Text(oResult.qui64Usable_Bytes);
    switch (oResult.eValue) {
    case eVerdict_Intact:
        return QString("Носитель хранит записанное по всему объёму %1: все %2 блоков пробы на своих местах.")
            .arg(qsSize_Text(oResult.qui64Device_Bytes))
            .arg(oResult.iBlocks);
    case eVerdict_Capacity_Limited:
        return QString("Поддельная ёмкость: носитель хранит данные только до смещения ~%1 из %2, записанное дальше "
                       "пропадает%3.")
            .arg(qsUsable, qsSize_Text(oResult.qui64Device_Bytes),
                 oResult.qui64Cache_Bytes == 0
                     ? QString()
                     : QString(" (около %1 держит кэш, пока их не вытеснят)").arg(qsSize_Text(oResult.qui64Cache_Bytes)));
    case eVerdict_Wraparound:
        return QString("Поддельная ёмкость: носитель зацикливает адреса через каждые %1 — записанное дальше ложится "
                       "поверх начала. Настоящая ёмкость — около %2.")
            .arg(qsBytes_Text(oResult.qui64Wrap_Period), qsUsable);
    case eVerdict_Keeps_Recent:
        return QString("Поддельная ёмкость: носитель хранит только последние ~%1 записанного, где бы они ни лежали.")
            .arg(qsUsable);
    case eVerdict_Write_Failed:
        return QString("Носитель перестал принимать запись во время пробы: %1.").arg(qsSystem_Reason(oResult.iWrite_Errno));
    case eVerdict_Damaged:
        return QString("Носитель повреждён: не удалось прочитать блоков пробы: %1.").arg(oResult.iUnreadable);
    case eVerdict_Data_Changed:
        return "Данные искажены: в блоках пробы, прочитанных на своих местах, изменены биты.";
    case eVerdict_Data_Missing:
        return "Часть данных потеряна: блоки пробы пропали в разных местах носителя.";
    default:
        return QString();
    }
}

// What became of what lay under the probe's blocks.
QString qsRestore_Text(const cProbe_Result &oResult)
{
    if (oResult.qui64Not_Restored == 0 && oResult.iRestore_Errno == 0)
        return "Всё, что лежало под блоками пробы, возвращено на место; файл пробы удалён.";
    return QString("Не удалось вернуть на место блоков: %1 (%2).")
        .arg(oResult.qui64Not_Restored)
        .arg(qsSystem_Reason(oResult.iRestore_Errno));
}

} // namespace

QString qsProbe_Heading(const cProbe_Result &oResult)
{
    if (oResult.eStatus == eProbe_Cancelled)
        return "Проба прервана.";
    if (!bProbe_Ok(oResult))
        return "Проба не выполнена.";
    return "Проба завершена: " + qsVerdict_Short(oResult.eValue) + ".";
}

QString qsProbe_Summary(const cProbe_Result &oResult)
{
    QStringList qslLines;
    if (bProbe_Ok(oResult))
        qslLines << qsProbe_Verdict_Text(oResult);
    else if (!oResult.qsError.trimmed().isEmpty())
        qslLines << oResult.qsError;
    if (oResult.qui64Bytes_Written > 0 || oResult.qui64Not_Restored > 0) {
        qslLines << QString("Проба заняла %1: записано %2 прямо на носитель, проверено блоков: %3, через каждые %4.")
                        .arg(qsSeconds_Text(oResult.qi64Elapsed_Ms), qsSize_Text(oResult.qui64Bytes_Written))
                        .arg(oResult.iBlocks)
                        .arg(qsSize_Text(oResult.qui64Step));
        qslLines << qsRestore_Text(oResult);
    }
    if (!bProbe_Ok(oResult))
        return qslLines.join('\n');
    const quint64 qui64Limit = qui64Probe_Fill_Limit(oResult);
    if (qui64Limit > 0)
        qslLines << QString("Заполнение имеет смысл только до ~%1: дальше носитель не хранит данных.")
                        .arg(qsSize_Text(qui64Limit));
    qslLines << "Проба проверяет выборку блоков по всему носителю; что цел каждый байт, покажут только заполнение "
                "и чтение.";
    return qslLines.join('\n');
}

bool bProbe_Leaves_To_Fill(const cProbe_Result &oResult)
{
    return oResult.eStatus == eProbe_No_Prealloc || oResult.eStatus == eProbe_Unplaced;
}

QString qsProbe_Step_Text(const cProbe_Result &oResult)
{
    if (oResult.eStatus == eProbe_Cancelled)
        return "прервано.";
    if (bProbe_Leaves_To_Fill(oResult))
        return "не выполнена: проверит заполнение.";
    if (!bProbe_Ok(oResult))
        return "не выполнена.";
    return qsVerdict_Short(oResult.eValue) + (oResult.qui64Not_Restored > 0 ? ", не всё возвращено на место." : ".");
}

int iProbe_Icon(const cProbe_Result &oResult)
{
    if (bProbe_Leaves_To_Fill(oResult))
        return iMsgBox_Warning_Icon; // not a failure: the fill checks such a volume
    if (!bProbe_Ok(oResult))
        return oResult.eStatus == eProbe_Cancelled ? iMsgBox_Warning_Icon : iMsgBox_Critical_Icon;
    return bVerdict_Good(oResult.eValue) && oResult.qui64Not_Restored == 0 ? iMsgBox_Information_Icon
                                                                           : iMsgBox_Warning_Icon;
}

QJsonObject qjProbe(const cProbe_Result &oResult)
{
    auto dValue = [](const quint64 qui64Value) { return double(qui64Value); };
    return {{"step", "probe"},
            {"ok", bProbe_Ok(oResult)},
            {"status", pcProbe_Status_Name(oResult.eStatus)},
            {"device", oResult.qsDevice},
            {"volume", oResult.qsVolume},
            {"error", oResult.qsError.trimmed()},
            {"verdict", pcVerdict_Name(oResult.eValue)},
            {"verdict_text", bProbe_Ok(oResult) ? qsProbe_Verdict_Text(oResult) : QString()},
            {"bytes_count", dValue(oResult.qui64Device_Bytes)},
            {"usable_bytes", dValue(oResult.qui64Usable_Bytes)},
            {"wrap_period_bytes", dValue(oResult.qui64Wrap_Period)},
            {"cache_bytes", dValue(oResult.qui64Cache_Bytes)},
            {"fill_limit_bytes", dValue(qui64Probe_Fill_Limit(oResult))},
            {"probe_seconds", double(oResult.qi64Elapsed_Ms) / 1000},
            {"bytes_written", dValue(oResult.qui64Bytes_Written)},
            {"blocks", oResult.iBlocks},
            {"step_bytes", dValue(oResult.qui64Step)},
            {"rounds", oResult.iRounds},
            {"unreadable_blocks", oResult.iUnreadable},
            {"file_bytes", dValue(oResult.qui64File_Bytes)},
            {"not_restored_blocks", dValue(oResult.qui64Not_Restored)}};
}
