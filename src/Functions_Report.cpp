#include "Functions_Report.h"

#include "Functions_Records.h"
#include "Functions_Text.h"

#include <QJsonArray>
#include <QStringList>

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

} // namespace

QString qsPoll_Text()
{
    const QStringList qslCaptions = qslPoll_Captions();
    const QStringList qslValues = qslPoll_Values();
    const QStringList qslSections = qslPoll_Sections();
    QString qsResult;
    for (int i = 0; i < iPoll_Fields; ++i) {
        if (i == 0 || aoPoll_Fields[i].iSection != aoPoll_Fields[i - 1].iSection)
            qsResult += qslSections[aoPoll_Fields[i].iSection] + "\n";
        qsResult += "  " + QString(qslCaptions[i]).replace('\n', ' ') + ": " + QString(qslValues[i]).replace('\n', ' ') +
                    "\n";
    }
    return qsResult;
}

bool bFill_Ran(const cFill_Result &oResult)
{
    return oResult.eStatus != eFill_No_Poll && oResult.eStatus != eFill_Open_Failed &&
           oResult.eStatus != eFill_Not_Run;
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

QString qsFill_Summary(const cFill_Result &oResult)
{
    const quint64 i = oResult.qui64Words_Written;
    QString qsReason;
    switch (oResult.eStatus) {
    case eFill_Complete:
        qsReason = "записаны все слова.";
        break;
    case eFill_Full:
        qsReason = QString("раздел заполнен на слове %1.").arg(i);
        break;
    case eFill_Too_Large:
        qsReason = QString("достигнут предельный размер файла для этой файловой системы на слове %1.").arg(i);
        break;
    case eFill_Cancelled:
        qsReason = QString("прервано оператором на слове %1.").arg(i);
        break;
    case eFill_Error:
    case eFill_Not_Run:
    case eFill_No_Poll:
    case eFill_Open_Failed:
        qsReason = QString("ошибка записи на слове %1: %2.").arg(i).arg(oResult.qsError);
        break;
    }
    return QString("Файл: %1.\n"
                   "Записано слов: %2 из %3 (%4 байт из %5).\n"
                   "Остановка: %6\n"
                   "Время: %7, %8.")
        .arg(oResult.qsPath)
        .arg(i)
        .arg(oResult.qui64Words_Total)
        .arg(i * 8)
        .arg(oResult.qui64Words_Total * 8)
        .arg(qsReason, qsSeconds_Text(oResult.qi64Elapsed_Ms), qsRate_Text(i * 8, oResult.qi64Elapsed_Ms));
}

QString qsFill_Failure(const cFill_Result &oResult)
{
    if (oResult.eStatus == eFill_Open_Failed)
        return QString("Не удалось создать файл заполнения %1: %2.").arg(oResult.qsPath, oResult.qsError);
    return "Раздел не опрошен: сначала нажмите «1. Опрос». Файл заполнения не создан.";
}

bool bRead_Ran(const cRead_Result &oResult)
{
    return oResult.eStatus == eRead_Done || oResult.eStatus == eRead_Cancelled;
}

QString qsRead_Heading(const cRead_Result &oResult)
{
    return oResult.eStatus == eRead_Cancelled ? "Чтение прервано." : "Чтение завершено.";
}

int iRead_Icon(const cRead_Result &)
{
    return 1;
}

QString qsRead_Summary(const cRead_Result &oResult)
{
    QStringList qslLines;
    qslLines << QString("Носитель: %1, %2 байт.").arg(oResult.qsDevice).arg(oResult.qui64Bytes_Count);
    qslLines << QString("Прочитано: %1 байт из %2, не удалось прочитать: %3 байт.")
                    .arg(oResult.qui64Bytes_Done - oResult.qui64Bytes_Bad)
                    .arg(oResult.qui64Bytes_Count)
                    .arg(oResult.qui64Bytes_Bad);
    if (oResult.eStatus == eRead_Cancelled)
        qslLines << "Чтение прервано оператором: результат относится к прочитанной части.";
    qslLines << QString("Время: %1, %2.")
                    .arg(qsSeconds_Text(oResult.qi64Elapsed_Ms),
                         qsRate_Text(oResult.qui64Bytes_Done, oResult.qi64Elapsed_Ms));
    if (oResult.qui64Table_Count == 0)
        qslLines << "Отслеживаемых индексов нет.";
    else
        qslLines << QString("Отслеживаемые индексы: 0 … %1 (паттерн %2).")
                        .arg(oResult.qui64Table_Count - 1)
                        .arg(oResult.qui64Pattern);
    qslLines << QString("Найдено различных индексов: %1, всего совпадений: %2, повторов: %3.")
                    .arg(oResult.qui64Distinct)
                    .arg(oResult.qui64Hits)
                    .arg(oResult.qui64Hits - oResult.qui64Distinct);
    if (!oResult.qsFill_Path.isEmpty()) {
        const double dPercent = oResult.qui64Fill_Words == 0
                                    ? 100.0
                                    : 100.0 * double(oResult.qui64Fill_Found) / double(oResult.qui64Fill_Words);
        QString qsLine = QString("Файл заполнения %1: найдено %2 из %3 слов (%4 %).")
                             .arg(oResult.qsFill_Path)
                             .arg(oResult.qui64Fill_Found)
                             .arg(oResult.qui64Fill_Words)
                             .arg(dPercent, 0, 'f', 2);
        if (oResult.qui64Fill_Tracked < oResult.qui64Fill_Words)
            qsLine += QString(" Отслеживаются только первые %1 слов.").arg(oResult.qui64Fill_Tracked);
        qslLines << qsLine;
        if (!oResult.qvMissing.isEmpty()) {
            QStringList qslRanges;
            for (const auto &qpRange : oResult.qvMissing)
                qslRanges << (qpRange.first == qpRange.second
                                  ? QString::number(qpRange.first)
                                  : QString("%1 … %2").arg(qpRange.first).arg(qpRange.second));
            const quint64 qui64Missing = oResult.qui64Fill_Tracked - oResult.qui64Fill_Found;
            qslLines << QString("Не найдены индексы: %1%2 (всего %3).")
                            .arg(qslRanges.join(", "), qslRanges.size() >= 8 ? ", …" : "")
                            .arg(qui64Missing);
        }
    }
    if (oResult.iOn_Device == 0)
        qslLines << QString("Внимание: раздел не лежит на носителе %1, найти на нём слова заполнения нельзя.")
                        .arg(oResult.qsDevice);
    return qslLines.join("\n");
}

QString qsRead_Failure(const cRead_Result &oResult)
{
    switch (oResult.eStatus) {
    case eRead_Open_Failed:
        return QString("Не удалось открыть носитель %1 для чтения: %2.").arg(oResult.qsDevice, oResult.qsError);
    case eRead_Alloc_Failed:
        return QString("Не хватает памяти для таблицы найденных слов: %1 записей, %2 МиБ.")
            .arg(oResult.qui64Table_Count)
            .arg(oResult.qui64Table_Count / 8 / 1048576 + 1);
    default:
        return "Носитель не опрошен: сначала нажмите «1. Опрос».";
    }
}

QJsonObject qjPoll(const bool bOk)
{
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
    return {{"step", "poll"}, {"ok", bOk}, {"device", qjDevice}, {"volume", qjVolume}, {"data", qjData}};
}

QJsonObject qjFill(const cFill_Result &oResult, const bool bOk)
{
    QJsonObject qjResult{{"step", "fill"},
                         {"ok", bOk},
                         {"status", pcFill_Status_Name(oResult.eStatus)},
                         {"path", oResult.qsPath},
                         {"error", oResult.qsError},
                         {"elapsed_ms", double(oResult.qi64Elapsed_Ms)}};
    vPut_Pattern(qjResult, oResult.qui64Pattern);
    vPut(qjResult, "words_total", oResult.qui64Words_Total);
    vPut(qjResult, "words_written", oResult.qui64Words_Written);
    vPut(qjResult, "bytes_written", oResult.qui64Words_Written * 8);
    return qjResult;
}

QJsonObject qjRead(const cRead_Result &oResult, const bool bOk)
{
    QJsonObject qjResult{{"step", "read"},
                         {"ok", bOk},
                         {"status", pcRead_Status_Name(oResult.eStatus)},
                         {"device", oResult.qsDevice},
                         {"error", oResult.qsError},
                         {"direct_io", oResult.bDirect},
                         {"elapsed_ms", double(oResult.qi64Elapsed_Ms)}};
    vPut(qjResult, "bytes_count", oResult.qui64Bytes_Count);
    vPut(qjResult, "bytes_read", oResult.qui64Bytes_Done - oResult.qui64Bytes_Bad);
    vPut(qjResult, "bytes_unreadable", oResult.qui64Bytes_Bad);
    vPut_Pattern(qjResult, oResult.qui64Pattern);
    vPut(qjResult, "indexes_tracked", oResult.qui64Table_Count);
    vPut(qjResult, "distinct", oResult.qui64Distinct);
    vPut(qjResult, "hits", oResult.qui64Hits);
    vPut(qjResult, "duplicates", oResult.qui64Hits - oResult.qui64Distinct);
    if (oResult.qsFill_Path.isEmpty()) {
        qjResult.insert("fill_file", QJsonValue::Null);
    } else {
        QJsonObject qjFill_File{{"path", oResult.qsFill_Path}};
        vPut(qjFill_File, "words", oResult.qui64Fill_Words);
        vPut(qjFill_File, "tracked", oResult.qui64Fill_Tracked);
        vPut(qjFill_File, "found", oResult.qui64Fill_Found);
        QJsonArray qjMissing;
        for (const auto &qpRange : oResult.qvMissing)
            qjMissing.append(QJsonArray{double(qpRange.first), double(qpRange.second)});
        qjFill_File.insert("missing_first_ranges", qjMissing);
        qjResult.insert("fill_file", qjFill_File);
    }
    qjResult.insert("volume_on_device", oResult.iOn_Device < 0 ? QJsonValue(QJsonValue::Null)
                                                               : QJsonValue(oResult.iOn_Device == 1));
    return qjResult;
}
