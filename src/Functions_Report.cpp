#include "Functions_Report.h"

#include "Functions_Report_Texts.h"
#include "Functions_Text.h"
#include "Functions_Verdict_Text.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QStringList>

#include <algorithm>

namespace {

// A JSON number, and, where a double cannot hold the value exactly, its decimal string too.
void vPut(QJsonObject &qjObject, const QString &qsKey, const quint64 qui64Value)
{
    qjObject.insert(qsKey, double(qui64Value));
    if (qui64Value > (quint64(1) << 53))
        qjObject.insert(qsKey + "_decimal", QString::number(qui64Value));
}

void vPut_Pattern(QJsonObject &qjObject, const quint64 qui64Pattern)
{
    vPut(qjObject, "pattern", qui64Pattern);
    qjObject.insert("pattern_decimal", QString::number(qui64Pattern));
}

// Device byte ranges as [first, end) pairs.
QJsonArray qjRanges(const tRanges &qvRanges)
{
    QJsonArray qjResult;
    for (const auto &qpRange : qvRanges)
        qjResult.append(QJsonArray{double(qpRange.first), double(qpRange.second)});
    return qjResult;
}

QJsonArray qjCounts(const QVector<quint64> &qvCounts)
{
    QJsonArray qjResult;
    for (const quint64 qui64Count : qvCounts)
        qjResult.append(double(qui64Count));
    return qjResult;
}

// The map's counts, region by region, so that scripts can draw their own: words of the file
// in place, belonging here but found elsewhere, found nowhere, changed; other fill words;
// unreadable bytes.
QJsonObject qjRegions(const cRead_Result &oResult)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    return {{"region_bytes", double(oResult.qui64Region_Bytes)},
            {"in_place", qjCounts(oVerdict.qvRegion_In_Place)},
            {"displaced", qjCounts(oVerdict.qvRegion_Displaced)},
            {"missing", qjCounts(oVerdict.qvRegion_Missing)},
            {"changed", qjCounts(oVerdict.qvRegion_Changed)},
            {"other", qjCounts(oVerdict.qvRegion_Stray)},
            {"unreadable", qjCounts(oResult.qvRegion_Bad)}};
}

} // namespace

QString qsPoll_Text(const cDrive &oDrive, const cVolume &oVolume, const cData &oData)
{
    const QStringList qslCaptions = qslPoll_Captions();
    const QStringList qslValues = qslPoll_Values(oDrive, oVolume, oData);
    const QStringList qslSections = qslPoll_Sections();
    QString qsResult;
    for (int i = 0; i < iPoll_Fields; ++i) {
        if (i == 0 || aoPoll_Fields[i].iSection != aoPoll_Fields[i - 1].iSection)
            qsResult += qslSections[aoPoll_Fields[i].iSection] + "\n";
        qsResult +=
            "  " + QString(qslCaptions[i]).replace('\n', ' ') + ": " + QString(qslValues[i]).replace('\n', ' ') + "\n";
    }
    return qsResult;
}

bool bFill_Ran(const cFill_Result &oResult)
{
    return oResult.eStatus != eFill_No_Poll && oResult.eStatus != eFill_Open_Failed &&
           oResult.eStatus != eFill_Not_Run && oResult.eStatus != eFill_Refused;
}

QString qsFill_Heading(const cFill_Result &oResult)
{
    switch (oResult.eStatus) {
    case eFill_Cancelled:
        return "Заполнение прервано.";
    case eFill_Error:
        return "Ошибка!";
    default:
        return "Заполнение завершено.";
    }
}

int iFill_Icon(const cFill_Result &oResult)
{
    return oResult.eStatus == eFill_Error ? 3 : 1;
}

namespace {

// Why the fill stopped, after «Остановка: ».
QString qsFill_Stop_Reason(const cFill_Result &oResult)
{
    const quint64 i = oResult.qui64Words_Written;
    switch (oResult.eStatus) {
    case eFill_Complete:
        return "записаны все слова.";
    case eFill_Full:
        return QString("раздел заполнен на слове %1.").arg(qsCount_Text(i));
    case eFill_Too_Large:
        return QString("достигнут предельный размер файла для этой файловой системы на слове %1.").arg(qsCount_Text(i));
    case eFill_Cancelled:
        return QString(oResult.bOperator_Stop ? "прервано оператором на слове %1." // else writers stuck after a loss
                                              : "носитель перестал отвечать на слове %1.")
            .arg(qsCount_Text(i));
    case eFill_Loss:
        return QString("носитель теряет записанное: проверка прочла не то, что записано, %1 ~%2 МиБ.")
            .arg(oResult.bLoss_Placed ? "на носителе с" : "в файле с")
            .arg(oResult.qui64Loss_Offset >> 20);
    case eFill_Error:
    case eFill_Not_Run:
    case eFill_No_Poll:
    case eFill_Open_Failed:
    case eFill_Refused:
        return QString("ошибка записи на слове %1: %2.").arg(qsCount_Text(i), oResult.qsError);
    }
    return QString();
}

} // namespace

QString qsFill_Summary(const cFill_Result &oResult)
{
    const quint64 i = oResult.qui64Words_Written;
    QStringList qslLines;
    if (oResult.iFiles > 1)
        qslLines
            << QString("Файлы: %1 и продолжения до %2 — файловая система не принимает файлы больше.")
                   .arg(oResult.qsPath,
                        QFileInfo(qsFill_File_Path(QFileInfo(oResult.qsPath).path() + "/", oResult.iFiles)).fileName());
    else
        qslLines << "Файл: " + oResult.qsPath; // no full stop: it would read as part of the name
    qslLines << QString("Записано слов: %1 из %2 — %3.")
                    .arg(qsCount_Text(i), qsCount_Text(oResult.qui64Data_Count), qsBytes_Text(i * 8));
    qslLines << "Остановка: " + qsFill_Stop_Reason(oResult);
    qslLines << QString("Время: %1, %2.")
                    .arg(qsSeconds_Text(oResult.qi64Elapsed_Ms), qsRate_Text(i * 8, oResult.qi64Elapsed_Ms));
    if (!oResult.bDirect)
        qslLines << "Прямая запись (O_DIRECT) на этой файловой системе недоступна: запись шла через кэш страниц.";
    if (oResult.bAbandoned)
        qslLines << qsFill_Abandoned_Text(oResult.bOperator_Stop);
    if (oResult.eStatus == eFill_Cancelled && i > 0)
        qslLines << "Записанная часть файла заполнения осталась на разделе: чтение проверит её, удаление уберёт.";
    if (oResult.bClosing_Aside)
        qslLines << qsFill_Closing_Aside_Text();
    if (bFill_Wrote_Then_Failed(oResult) || oResult.eStatus == eFill_Loss)
        qslLines << "Чтение покажет, сколько из записанного носитель сохранил.";
    if (oResult.iChecks > 0)
        qslLines << QString("Проверок записанного по ходу: %1, прочитано для них %2.")
                        .arg(oResult.iChecks)
                        .arg(qsSize_Text(oResult.qui64Check_Bytes));
    if (!oResult.qslStale.isEmpty()) // the read will not count them: they do not go on from this fill
        qslLines << "Не удалось удалить продолжения прежнего заполнения: " + oResult.qslStale.join("; ") + ".";
    return qslLines.join("\n");
}

QString qsFill_Failure(const cFill_Result &oResult, const QString &qsPoll_First)
{
    if (oResult.eStatus == eFill_Refused)
        return qsFill_Refused_Text(QFileInfo(oResult.qsPath).path(), oResult.qsError);
    if (oResult.eStatus == eFill_Open_Failed)
        return QString("Не удалось создать файл заполнения %1: %2.").arg(oResult.qsPath, oResult.qsError);
    return "Раздел не опрошен: " + qsPoll_First + ". Файл заполнения не создан.";
}

bool bRead_Ran(const cRead_Result &oResult)
{
    return bRead_Scanned(oResult.eStatus);
}

QString qsRead_Heading(const cRead_Result &oResult)
{
    switch (oResult.eStatus) {
    case eRead_Cancelled:
        return "Чтение прервано.";
    case eRead_Shrunk:
        return "Ошибка!";
    default: // the box's first line says what the medium is
        return "Чтение завершено: " + qsVerdict_Short(oResult.oVerdict.eValue) +
               (oResult.oVerdict.oLayout.qsFill_Stopped.isEmpty() ? "." : " в проверенной части.");
    }
}

int iRead_Icon(const cRead_Result &oResult)
{
    if (oResult.eStatus == eRead_Shrunk)
        return 3;
    return bVerdict_Good(oResult.oVerdict.eValue) ? 1 : 2;
}

namespace {

QString qsFill_Names(const cVerdict &oVerdict)
{
    const QVector<cFill_Part> &qvParts = oVerdict.oLayout.qvParts;
    if (qvParts.size() <= 1)
        return qvParts.isEmpty() ? QString() : qvParts.first().qsPath;
    return QString("%1 и ещё %2 файла продолжения").arg(qvParts.first().qsPath).arg(qvParts.size() - 1);
}

// Where a stretch of indexes lies in the fill's files.
QString qsFile_Place(const cVerdict &oVerdict, const quint64 qui64First, const quint64 qui64Count)
{
    for (const cFill_Part &oPart : oVerdict.oLayout.qvParts)
        if (qui64First >= oPart.qui64First && qui64First < oPart.qui64First + oPart.qui64Words) {
            const quint64 qui64At = 8 * (qui64First - oPart.qui64First);
            const quint64 qui64End = std::min(qui64At + 8 * qui64Count, 8 * oPart.qui64Words);
            return QString("%1, %2").arg(QFileInfo(oPart.qsPath).fileName(), qsByte_Range_Text(qui64At, qui64End));
        }
    return QString();
}

// What was read of the device, how, and how long it took.
QStringList qslRead_Lines(const cRead_Result &oResult)
{
    QStringList qslLines;
    if (oResult.eStatus == eRead_Shrunk)
        qslLines << QString("Носитель %1 уменьшился во время чтения: было %2, стало %3.")
                        .arg(oResult.qsDevice, qsBytes_Text(oResult.qui64Bytes_Count),
                             qsBytes_Text(oResult.qui64Shrunk_To));
    qslLines << QString("Носитель: %1, %2.").arg(oResult.qsDevice, qsBytes_Text(oResult.qui64Bytes_Count));
    qslLines << QString("Прочитано: %1, не удалось прочитать: %2.")
                    .arg(qsBytes_Text(oResult.qui64Bytes_Done - oResult.qui64Bytes_Bad),
                         qsBytes_Text(oResult.qui64Bytes_Bad));
    if (oResult.eStatus == eRead_Cancelled)
        qslLines << "Чтение прервано оператором.";
    if (oResult.bAbandoned)
        qslLines << qsRead_Abandoned_Text();
    if (oResult.qui64Unread_Bytes > 0)
        qslLines << qsRead_Unread_Text(qsBytes_Text(oResult.qui64Unread_Bytes),
                                       qsPercent_Text(oResult.qui64Unread_Bytes, oResult.qui64Bytes_Planned),
                                       qsSize_Text(oResult.qui64Bytes_Planned), qsRanges_Text(oResult.qvUnread, 3));
    qslLines << QString("Время: %1, %2.")
                    .arg(qsSeconds_Text(oResult.qi64Elapsed_Ms),
                         qsRate_Text(oResult.qui64Bytes_Done, oResult.qi64Elapsed_Ms));
    if (!oResult.bDirect)
        qslLines << "Прямое чтение (O_DIRECT) недоступно: между программой и носителем стоит кэш страниц.";
    if (oResult.bSampled)
        qslLines << QString("Заполнение остановлено на потере данных, поэтому прочитано выборочно: всё, куда оно "
                            "писало, и образцы по 1 МиБ дальше — %1 из %2.")
                        .arg(qsSize_Text(oResult.qui64Bytes_Planned), qsSize_Text(oResult.qui64Bytes_Count));
    return qslLines;
}

// How many of the file's words were found, and in place, as far as their places are known.
QString qsFile_Words_Line(const cVerdict &oVerdict)
{
    // Words whose place, or whose possible place, the read never reached.
    const QString qsNot_Read =
        oVerdict.qui64Not_Read == 0
            ? QString()
            : qsWords_Not_Read_Text(oVerdict.oLayout.bPlaced && !oVerdict.oLayout.bInferred,
                                    qsCount_Text(oVerdict.qui64Not_Read));
    if (oVerdict.oLayout.bInferred)
        return QString("Слова файла: найдены %1, не найдены %2%3. Где они должны лежать, %4.")
            .arg(qsCount_Text(oVerdict.qui64In_Place), qsCount_Text(oVerdict.qui64Missing), qsNot_Read,
                 oVerdict.oLayout.qsPlacement_Why);
    if (oVerdict.oLayout.bPlaced)
        return QString("Слова файла: на своих местах %1, не на своих местах %2, не найдены %3%4; %5.")
            .arg(qsCount_Text(oVerdict.qui64In_Place), qsCount_Text(oVerdict.qui64Displaced),
                 qsCount_Text(oVerdict.qui64Missing), qsNot_Read, qsPlacement_Source_Text(pcPlacement_Source_Name(oVerdict.oLayout.eSource)));
    return QString("Слова файла: найдены %1, не найдены %2%3. Где они должны лежать, неизвестно: %4.")
        .arg(qsCount_Text(oVerdict.qui64Found), qsCount_Text(oVerdict.qui64Missing), qsNot_Read,
             oVerdict.oLayout.qsPlacement_Why);
}

// One stretch of the file's words found nowhere: its indexes, its place in the file and on the device.
QString qsMissing_Line(const cVerdict &oVerdict, const cMissing_Range &oRange)
{
    return QString("  не найдены: индексы %1 … %2 — %3%4")
        .arg(qsCount_Text(oRange.qui64First), qsCount_Text(oRange.qui64First + oRange.qui64Count - 1),
             qsFile_Place(oVerdict, oRange.qui64First, oRange.qui64Count),
             oRange.bPlaced
                 ? "; на носителе " + qsByte_Range_Text(oRange.qui64Offset, oRange.qui64Offset + 8 * oRange.qui64Count)
             : oVerdict.oLayout.bPlaced ? QString("; данных у файла здесь нет")
                                        : QString("; место на носителе неизвестно"));
}

// The fill file: its words, and the stretches found nowhere; nothing when there is none.
QStringList qslFill_File_Lines(const cVerdict &oVerdict)
{
    QStringList qslLines;
    if (oVerdict.oLayout.qvParts.isEmpty())
        return qslLines;
    qslLines << QString("Файл заполнения: %1, %2 (%3).")
                    .arg(qsFill_Names(oVerdict), qsWords_Text(oVerdict.qui64Words),
                         qsBytes_Text(8 * oVerdict.qui64Words));
    qslLines << qsFile_Words_Line(oVerdict);
    for (const cMissing_Range &oRange : oVerdict.qvMissing)
        qslLines << qsMissing_Line(oVerdict, oRange);
    if (oVerdict.qvMissing.size() == cVerdict::iMax_Missing)
        qslLines << "  …";
    return qslLines;
}

// The other fill words, what was looked for, and the reservations on the verdict.
QStringList qslScan_Lines(const cRead_Result &oResult)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    QStringList qslLines;
    qslLines << qsOther_Words_Text(oVerdict.qui64Remnants, oResult.qui64Hits - oResult.qui64Distinct);
    qslLines << QString("Искались слова заполнения с номерами 0 … %1 (первое — %2): найдено разных %3, всего "
                        "вместе с копиями %4.")
                    .arg(qsCount_Text(oResult.qui64Data_Count == 0 ? 0 : oResult.qui64Data_Count - 1))
                    .arg(oResult.qui64Pattern)
                    .arg(qsCount_Text(oResult.qui64Distinct), qsCount_Text(oResult.qui64Hits));
    if (oResult.bPattern_From_Fill)
        qslLines << "Паттерн взят из файла заполнения: раздел с тех пор изменил размер, и опрос дал бы другой.";
    if (oResult.qui64Untracked_Words > 0)
        qslLines << QString("Памяти хватило не на всё: %1 слов, найденных начиная со смещения %2, посчитаны, "
                            "но не размещены; выводы о них неполны.")
                        .arg(qsCount_Text(oResult.qui64Untracked_Words), qsCount_Text(oResult.qui64Untracked_From));
    if (oVerdict.oLayout.eOn == eOn_Device_No)
        qslLines << QString("Внимание: раздел не лежит на носителе %1 (%2).")
                        .arg(oResult.qsDevice, oVerdict.oLayout.qsOn_Device_Why);
    else if (oVerdict.oLayout.eOn == eOn_Device_Unknown)
        qslLines << "Лежит ли раздел на носителе, установить не удалось: " + oVerdict.oLayout.qsOn_Device_Why + ".";
    return qslLines;
}

} // namespace

QString qsRead_Summary(const cRead_Result &oResult)
{
    QStringList qslLines;
    qslLines << qsVerdict_Text(oResult) << QString();
    qslLines << qslRead_Lines(oResult);
    qslLines << qslFill_File_Lines(oResult.oVerdict);
    qslLines << qslVerdict_Details(oResult);
    qslLines << qslScan_Lines(oResult);
    return qslLines.join("\n");
}

QString qsRead_Failure(const cRead_Result &oResult, const QString &qsPoll_First)
{
    switch (oResult.eStatus) {
    case eRead_Open_Failed:
    case eRead_Not_Device:
        return QString("Не удалось открыть носитель %1 для чтения: %2.").arg(oResult.qsDevice, oResult.qsError);
    case eRead_Alloc_Failed:
        return QString("Не хватает памяти для буферов чтения: %1.").arg(oResult.qsError);
    case eRead_Volume_Changed:
        return qsRead_Volume_Changed_Text(oResult.qsError);
    case eRead_Fill_Unwritten:
        return oResult.qsError;
    default:
        return "Носитель не опрошен: " + qsPoll_First + ".";
    }
}

QString qsPoll_Volume_Failure(const cVolume &oVolume)
{
    return QString("Не удалось опросить раздел %1: %2.").arg(oVolume.qsVolume_Name, oVolume.qsError);
}

QString qsPoll_Error(const cPoll_Result &oPoll, const cVolume &oVolume)
{
    QStringList qslErrors;
    if (!oPoll.qsVolume_Error.isEmpty())
        qslErrors << QString("не удалось опросить раздел %1: %2").arg(oVolume.qsVolume_Name, oPoll.qsVolume_Error);
    if (!oPoll.bDrive_Opened)
        qslErrors << "не удалось открыть носитель";
    return qslErrors.join("; ");
}

QJsonObject qjPoll(const cPoll_Result &oPoll, const cDrive &oDrive, const cVolume &oVolume, const cData &oData)
{
    const QString qsError = qsPoll_Error(oPoll, oVolume);
    const bool bOk = qsError.isEmpty();
    QJsonObject qjDevice{{"name", oDrive.qsDrive_Name}, {"sector_size", oDrive.iSector_Size}};
    vPut(qjDevice, "sectors_count", oDrive.qui64Sectors_Count);
    vPut(qjDevice, "bytes_count", oDrive.qui64Bytes_Count);
    QJsonObject qjVolume{{"name", oVolume.qsVolume_Name}, {"cluster_size", oVolume.iCluster_Size}};
    vPut(qjVolume, "clusters_count", oVolume.qui64Clusters_Count);
    vPut(qjVolume, "bytes_count", oVolume.qui64Bytes_Count);
    vPut(qjVolume, "clusters_free_count", oVolume.qui64Clusters_Free_Count);
    vPut(qjVolume, "bytes_free_count", oVolume.qui64Bytes_Free_Count);
    QJsonObject qjData{{"pattern_text", oData.qsPattern}};
    vPut_Pattern(qjData, oData.qui64Pattern);
    vPut(qjData, "word_count", oData.qui64Data_Count);
    return {{"step", "poll"},     {"ok", bOk},          {"error", qsError},
            {"device", qjDevice}, {"volume", qjVolume}, {"data", qjData}};
}

QString qsClean_Question(const quint64 qui64Bytes)
{
    return QString("Удалить файл заполнения (%1) с носителя?").arg(qsSize_Text(qui64Bytes));
}

QString qsClean_Summary(const cClean_Result &oResult, const QString &qsPoll_First)
{
    if (!oResult.bPolled)
        return "Раздел не опрошен: " + qsPoll_First + ".";
    if (oResult.qslRemoved.isEmpty() && oResult.qslKept.isEmpty()) // nothing there, or the clean was refused
        return oResult.qsError.isEmpty() ? QString("Файлов заполнения на разделе нет.") : oResult.qsError;
    QString qsText = oResult.qslRemoved.isEmpty()
                         ? qsClean_None_Removed_Text()
                         : QString("Удалено файлов заполнения: %1, освобождено %2.\n%3")
                               .arg(oResult.qslRemoved.size())
                               .arg(qsBytes_Text(oResult.qui64Bytes), oResult.qslRemoved.join('\n'));
    if (!oResult.qslKept.isEmpty())
        qsText += "\nНе удалены:\n" + oResult.qslKept.join('\n');
    return qsText;
}

QJsonObject qjFill(const cFill_Result &oResult, const bool bOk)
{
    QJsonObject qjResult{{"step", "fill"},
                         {"ok", bOk},
                         {"status", pcFill_Status_Name(oResult.eStatus)},
                         {"path", oResult.qsPath},
                         {"error", oResult.qsError},
                         {"elapsed_ms", double(oResult.qi64Elapsed_Ms)},
                         {"files", oResult.iFiles},
                         {"direct_io", oResult.bDirect}};
    vPut_Pattern(qjResult, oResult.qui64Pattern);
    vPut(qjResult, "words_total", oResult.qui64Data_Count);
    vPut(qjResult, "words_written", oResult.qui64Words_Written);
    vPut(qjResult, "bytes_written", oResult.qui64Words_Written * 8);
    qjResult.insert("checks", oResult.iChecks);
    vPut(qjResult, "check_bytes", oResult.qui64Check_Bytes);
    qjResult.insert("loss_seen", oResult.bLoss_Seen);
    if (oResult.bLoss_Seen)
        vPut(qjResult, oResult.bLoss_Placed ? "loss_device_offset" : "loss_file_offset", oResult.qui64Loss_Offset);
    qjResult.insert("stale_continuations", QJsonArray::fromStringList(oResult.qslStale));
    return qjResult;
}

namespace {

// What the read was and what it concluded, in words and names.
QJsonObject qjRead_Status(const cRead_Result &oResult, const bool bOk)
{
    const cFill_Layout &oLayout = oResult.oVerdict.oLayout;
    return {{"step", "read"},
            {"ok", bOk},
            {"status", pcRead_Status_Name(oResult.eStatus)},
            {"device", oResult.qsDevice},
            {"error", oResult.qsError},
            {"direct_io", oResult.bDirect},
            {"elapsed_ms", double(oResult.qi64Elapsed_Ms)},
            {"verdict", pcVerdict_Name(oResult.oVerdict.eValue)},
            {"verdict_text", qsVerdict_Text(oResult)},
            {"placement", oLayout.bInferred ? "inferred"
                          : oLayout.bPlaced ? "known"
                                            : "unknown"},
            {"placement_source", pcPlacement_Source_Name(oLayout.eSource)},
            {"placement_reason", oLayout.qsPlacement_Why},
            {"pattern_source", oResult.bPattern_From_Fill ? "fill_file" : "poll"}};
}

// The read's counts: bytes, words, and what the verdict made of them.
void vPut_Read_Counts(QJsonObject &qjResult, const cRead_Result &oResult)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    vPut(qjResult, "bytes_count", oResult.qui64Bytes_Count);
    vPut(qjResult, "bytes_read", oResult.qui64Bytes_Done - oResult.qui64Bytes_Bad);
    vPut(qjResult, "bytes_unreadable", oResult.qui64Bytes_Bad);
    vPut(qjResult, "unread_bytes", oResult.qui64Unread_Bytes);
    qjResult.insert("sampled", oResult.bSampled);
    vPut_Pattern(qjResult, oResult.qui64Pattern);
    vPut(qjResult, "indexes_tracked", oResult.qui64Data_Count);
    vPut(qjResult, "distinct", oResult.qui64Distinct);
    vPut(qjResult, "hits", oResult.qui64Hits);
    vPut(qjResult, "duplicates", oResult.qui64Hits - oResult.qui64Distinct);
    vPut(qjResult, "untracked", oResult.qui64Untracked_Words);
    vPut(qjResult, "usable_bytes", oVerdict.qui64Usable_Bytes);
    vPut(qjResult, "missing", oVerdict.qui64Missing);
    vPut(qjResult, "not_read", oVerdict.qui64Not_Read);
    vPut(qjResult, "remnants", oVerdict.qui64Remnants);
    vPut(qjResult, "changed", oVerdict.qui64Changed);
    vPut(qjResult, "cache_bytes", oVerdict.qui64Cache_Bytes);
    vPut(qjResult, "capacity_min_bytes", oVerdict.qui64Capacity_Min);
    vPut(qjResult, "capacity_max_bytes", oVerdict.qui64Capacity_Max);
    vPut(qjResult, "medium_copies", oVerdict.qui64Medium_Copies);
    vPut(qjResult, "wrap_period_bytes", oVerdict.qui64Wrap_Period);
    vPut(qjResult, "refused_after_bytes", oVerdict.oLayout.qui64Refused_After);
    vPut(qjResult, "checked_bytes", 8 * oVerdict.qui64Words);
    vPut(qjResult, "volume_bytes", oVerdict.oLayout.qui64Volume_Bytes);
    qjResult.insert("fill_stopped_early", oVerdict.oLayout.qsFill_Stopped);
    // What each count counts. The fill's bytes that the file system took before a write
    // failed are no place on the device: a driver that caches them (exfat-fuse) takes far
    // more than the medium kept, which usable_bytes measures from the device's start, the
    // file system's own structures with it.
    qjResult.insert("byte_counts", QJsonObject{{"refused_after_bytes", "fill_file_bytes_accepted"},
                                               {"usable_bytes", "device_bytes_from_start"},
                                               {"checked_bytes", "fill_file_bytes"},
                                               {"volume_bytes", "volume_size"}});
    vPut(qjResult, "remnant_areas", oVerdict.qui64Remnant_Areas);
    vPut(qjResult, "remnant_words", oVerdict.qui64Remnant_Words);
}

// The stretches of the file's words found nowhere: as index pairs, and as objects with their
// place on the device where it is known.
void vPut_Missing_Ranges(QJsonObject &qjFill_File, const cVerdict &oVerdict)
{
    QJsonArray qjFirst_Ranges, qjMissing_Ranges;
    for (const cMissing_Range &oRange : oVerdict.qvMissing) {
        const quint64 qui64Last = oRange.qui64First + oRange.qui64Count - 1;
        qjFirst_Ranges.append(QJsonArray{double(oRange.qui64First), double(qui64Last)});
        QJsonObject qjRange{{"first_index", double(oRange.qui64First)}, {"last_index", double(qui64Last)}};
        if (oRange.bPlaced) {
            qjRange.insert("device_offset", double(oRange.qui64Offset));
            qjRange.insert("device_end", double(oRange.qui64Offset + 8 * oRange.qui64Count));
        }
        qjMissing_Ranges.append(qjRange);
    }
    qjFill_File.insert("missing_first_ranges", qjFirst_Ranges);
    qjFill_File.insert("missing_ranges", qjMissing_Ranges);
}

// The fill file and its parts, and what of it was found; null when there is none.
QJsonValue qjFill_File(const cVerdict &oVerdict)
{
    const cFill_Layout &oLayout = oVerdict.oLayout;
    if (oLayout.qvParts.isEmpty())
        return QJsonValue::Null;
    QJsonObject qjResult{{"path", oLayout.qvParts.first().qsPath}};
    QJsonArray qjParts;
    for (const cFill_Part &oPart : oLayout.qvParts)
        qjParts.append(QJsonObject{
            {"path", oPart.qsPath}, {"first_index", double(oPart.qui64First)}, {"words", double(oPart.qui64Words)}});
    qjResult.insert("parts", qjParts);
    vPut(qjResult, "words", oLayout.qui64Words());
    vPut(qjResult, "tracked", oVerdict.qui64Words);
    vPut(qjResult, "found", oVerdict.qui64Found);
    vPut_Missing_Ranges(qjResult, oVerdict);
    return qjResult;
}

} // namespace

QJsonObject qjRead(const cRead_Result &oResult, const bool bOk)
{
    const cVerdict &oVerdict = oResult.oVerdict;
    QJsonObject qjResult = qjRead_Status(oResult, bOk);
    vPut_Read_Counts(qjResult, oResult);
    qjResult.insert("unreadable_ranges", qjRanges(oResult.qvUnreadable));
    qjResult.insert("remnant_ranges", qjRanges(oVerdict.qvRemnant_Ranges));
    qjResult.insert("regions", qjRegions(oResult));
    if (oVerdict.oLayout.bPlaced) {
        vPut(qjResult, "in_place", oVerdict.qui64In_Place);
        vPut(qjResult, "displaced", oVerdict.qui64Displaced);
    } else {
        qjResult.insert("in_place", QJsonValue::Null);
        qjResult.insert("displaced", QJsonValue::Null);
    }
    qjResult.insert("fill_file", qjFill_File(oVerdict));
    const eOn_Device eOn = oVerdict.oLayout.eOn;
    qjResult.insert("volume_on_device",
                    eOn == eOn_Device_Unknown ? QJsonValue(QJsonValue::Null) : QJsonValue(eOn == eOn_Device_Yes));
    if (oResult.eStatus == eRead_Shrunk)
        vPut(qjResult, "device_shrank_to", oResult.qui64Shrunk_To);
    return qjResult;
}

QJsonObject qjClean(const cClean_Result &oResult)
{
    return {{"step", "clean"},
            {"ok", oResult.bOk()},
            {"error", oResult.bPolled ? oResult.qsError : QString("раздел не опрошен")},
            {"removed", QJsonArray::fromStringList(oResult.qslRemoved)},
            {"kept", QJsonArray::fromStringList(oResult.qslKept)},
            {"bytes", double(oResult.qui64Bytes)}};
}
