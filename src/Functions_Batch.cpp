#include "Functions_Batch.h"

#include "Functions_Core.h"
#include "Functions_Map.h"
#include "mainwindow.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

void vWrite(FILE *pFile, const QString &qsText)
{
    const QByteArray qbaText = qsText.toUtf8();
    std::fwrite(qbaText.constData(), 1, size_t(qbaText.size()), pFile);
    std::fflush(pFile);
}

QString qsTranslate(const char *pcText)
{
    return QCoreApplication::translate("MainWindow", pcText);
}

// A JSON number, and, where a double cannot hold the value exactly, its decimal string too.
void vPut(QJsonObject &qjObject, const QString &qsKey, const quint64 qui64Value)
{
    qjObject.insert(qsKey, double(qui64Value));
    if (qui64Value > (quint64(1) << 53))
        qjObject.insert(qsKey + "_decimal", QString::number(qui64Value));
}

QString qsPoll_Text()
{
    const QStringList qslCaptions = qslPoll_Captions();
    const QStringList qslValues = qslPoll_Values();
    const QStringList qslSections = {qsTranslate("Носитель:"), qsTranslate("Раздел:"), qsTranslate("Данные")};
    const int aiFirst_Of_Section[] = {0, 4, 10, 12};
    QString qsResult;
    for (int s = 0; s < 3; ++s) {
        qsResult += qslSections[s] + "\n";
        for (int i = aiFirst_Of_Section[s]; i < aiFirst_Of_Section[s + 1]; ++i)
            qsResult += "  " + QString(qslCaptions[i]).replace('\n', ' ') + ": " +
                        QString(qslValues[i]).replace('\n', ' ') + "\n";
    }
    return qsResult;
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
    vPut(qjData, "pattern", oData.qui64Pattern);
    qjData.insert("pattern_decimal", QString::number(oData.qui64Pattern));
    vPut(qjData, "word_count", oData.qui64Data_Count);
    return {{"step", "poll"}, {"ok", bOk}, {"device", qjDevice}, {"volume", qjVolume}, {"data", qjData}};
}

QJsonObject qjFill(const bool bOk)
{
    static const char *const apcStatus[] = {"not_run", "no_poll", "open_failed", "complete",
                                            "full",    "too_large", "error",     "cancelled"};
    const cFill_Result &oResult = oData.oFill_Result;
    QJsonObject qjResult{{"step", "fill"},
                         {"ok", bOk},
                         {"status", apcStatus[oResult.eStatus]},
                         {"path", oResult.qsPath},
                         {"error", oResult.qsError},
                         {"elapsed_ms", double(oResult.qi64Elapsed_Ms)}};
    vPut(qjResult, "pattern", oResult.qui64Pattern);
    qjResult.insert("pattern_decimal", QString::number(oResult.qui64Pattern));
    vPut(qjResult, "words_total", oResult.qui64Words_Total);
    vPut(qjResult, "words_written", oResult.qui64Words_Written);
    vPut(qjResult, "bytes_written", oResult.qui64Words_Written * 8);
    return qjResult;
}

QJsonObject qjRead(const bool bOk)
{
    static const char *const apcStatus[] = {"not_run", "no_poll", "done", "cancelled", "open_failed", "alloc_failed"};
    const cRead_Result &oResult = oDrive.oRead_Result;
    QJsonObject qjResult{{"step", "read"},
                         {"ok", bOk},
                         {"status", apcStatus[oResult.eStatus]},
                         {"device", oResult.qsDevice},
                         {"error", oResult.qsError},
                         {"direct_io", oResult.bDirect},
                         {"elapsed_ms", double(oResult.qi64Elapsed_Ms)}};
    vPut(qjResult, "bytes_count", oResult.qui64Bytes_Count);
    vPut(qjResult, "bytes_read", oResult.qui64Bytes_Done - oResult.qui64Bytes_Bad);
    vPut(qjResult, "bytes_unreadable", oResult.qui64Bytes_Bad);
    vPut(qjResult, "pattern", oResult.qui64Pattern);
    qjResult.insert("pattern_decimal", QString::number(oResult.qui64Pattern));
    vPut(qjResult, "indexes_tracked", oResult.qui64Table_Count);
    vPut(qjResult, "distinct", oResult.qui64Distinct);
    vPut(qjResult, "hits", oResult.qui64Hits);
    vPut(qjResult, "duplicates", oResult.qui64Hits - oResult.qui64Distinct);
    if (oResult.qsFill_Path.isEmpty()) {
        qjResult.insert("fill_file", QJsonValue::Null);
    } else {
        QJsonObject qjFill{{"path", oResult.qsFill_Path}};
        vPut(qjFill, "words", oResult.qui64Fill_Words);
        vPut(qjFill, "tracked", oResult.qui64Fill_Tracked);
        vPut(qjFill, "found", oResult.qui64Fill_Found);
        QJsonArray qjMissing;
        for (const auto &qpRange : oResult.qvMissing)
            qjMissing.append(QJsonArray{double(qpRange.first), double(qpRange.second)});
        qjFill.insert("missing_first_ranges", qjMissing);
        qjResult.insert("fill_file", qjFill);
    }
    qjResult.insert("volume_on_device", oResult.iOn_Device < 0 ? QJsonValue(QJsonValue::Null)
                                                               : QJsonValue(oResult.iOn_Device == 1));
    return qjResult;
}

void vPrint_Result(const cOptions &oOptions, const QJsonObject &qjResult, const QString &qsText)
{
    if (oOptions.bJson)
        vWrite(stdout, QString::fromUtf8(QJsonDocument(qjResult).toJson(QJsonDocument::Compact)) + "\n");
    else
        vWrite(stdout, qsText);
}

extern "C" void vOn_Signal(int iSignal)
{
    vRequest_Cancel(iSignal);
}

void vCatch_Signals()
{
    struct sigaction strAction;
    std::memset(&strAction, 0, sizeof strAction);
    strAction.sa_handler = vOn_Signal;
    sigemptyset(&strAction.sa_mask);
    // A second signal ends the process at once.
    strAction.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &strAction, nullptr);
    sigaction(SIGTERM, &strAction, nullptr);
}

int iUsage_Error(const QCommandLineParser &qParser, const QString &qsError)
{
    vWrite(stderr, QCoreApplication::applicationName() + ": " + qsError + "\n\n" + qParser.helpText());
    return 2;
}

} // namespace

QStringList qslPoll_Captions()
{
    return {qsTranslate("Системное имя"),
            qsTranslate("Размер сектора"),
            qsTranslate("Количество секторов"),
            qsTranslate("Объём носителя"),
            qsTranslate("Системное имя"),
            qsTranslate("Размер кластера"),
            qsTranslate("Количество кластеров"),
            qsTranslate("Объём раздела"),
            qsTranslate("Количество свободных кластеров"),
            qsTranslate("Количество свободного места"),
            qsTranslate("Паттерн 11...10\nдля свободного места\n(числом)"),
            qsTranslate("Паттерн 11...10\nдля свободного места\n(текстом)")};
}

eApp_Kind eApp_For(int argc, char **argv)
{
    bool bConsole = false, bMap = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray qbaArgument(argv[i]);
        if (qbaArgument == "--batch" || qbaArgument.startsWith("--batch=") || qbaArgument == "--help" ||
            qbaArgument == "-h" || qbaArgument == "--help-all" || qbaArgument == "--version" || qbaArgument == "-v")
            bConsole = true;
        if (qbaArgument == "--map" || qbaArgument.startsWith("--map="))
            bMap = true;
    }
    if (!bConsole)
        return eApp_Widgets;
    return bMap ? eApp_Gui : eApp_Core;
}

int iParse_Options(const QStringList &qslArguments, cOptions &oOptions)
{
    QCommandLineParser qParser;
    qParser.setApplicationDescription(
        "Заполняет раздел узнаваемыми 64-битными словами и ищет их на носителе под ним.");
    const QCommandLineOption qHelp = qParser.addHelpOption();
    const QCommandLineOption qVersion = qParser.addVersionOption();
    const QCommandLineOption qDevice("device", "Носитель (блочное устройство или образ), по умолчанию /dev/sdb.",
                                     "PATH", oOptions.qsDevice);
    const QCommandLineOption qVolume("volume", "Каталог смонтированного раздела, по умолчанию /documents_hdd/.",
                                     "DIR", oOptions.qsVolume);
    const QCommandLineOption qBatch("batch", "Без окна: выполнить шаги poll, fill, read в заданном порядке.",
                                    "STEPS");
    const QCommandLineOption qJson("json", "В пакетном режиме: по одному объекту JSON на шаг.");
    const QCommandLineOption qQuiet("quiet", "В пакетном режиме: без строки хода работы.");
    const QCommandLineOption qMap("map", "В пакетном режиме: после чтения сохранить карту носителя в PNG.", "FILE");
    qParser.addOptions({qDevice, qVolume, qBatch, qJson, qQuiet, qMap});

    if (!qParser.parse(qslArguments))
        return iUsage_Error(qParser, qParser.errorText());
    if (qParser.isSet(qHelp)) {
        vWrite(stdout, qParser.helpText());
        return 0;
    }
    if (qParser.isSet(qVersion)) {
        vWrite(stdout, QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion() + "\n");
        return 0;
    }
    if (!qParser.positionalArguments().isEmpty())
        return iUsage_Error(qParser, "лишние аргументы: " + qParser.positionalArguments().join(' '));

    oOptions.qsDevice = qParser.value(qDevice);
    oOptions.qsVolume = qParser.value(qVolume);
    // The fill appends the file name to the volume directly.
    if (!oOptions.qsVolume.endsWith('/'))
        oOptions.qsVolume += '/';
    oOptions.bBatch = qParser.isSet(qBatch);
    oOptions.bJson = qParser.isSet(qJson);
    oOptions.bQuiet = qParser.isSet(qQuiet);
    oOptions.qsMap = qParser.value(qMap);
    if (!oOptions.bBatch && (oOptions.bJson || oOptions.bQuiet || qParser.isSet(qMap)))
        return iUsage_Error(qParser, "--json, --quiet и --map действуют только вместе с --batch");
    if (oOptions.bBatch) {
        oOptions.qslSteps = qParser.value(qBatch).split(',');
        for (const QString &qsStep : oOptions.qslSteps)
            if (qsStep != "poll" && qsStep != "fill" && qsStep != "read")
                return iUsage_Error(qParser, "неизвестный шаг \"" + qsStep + "\" (возможны poll, fill, read)");
    }
    return -1;
}

int iRun_Batch(const cOptions &oOptions)
{
    vCatch_Signals();
    vSet_Quiet(oOptions.bQuiet);
    bool bOk = true;
    for (const QString &qsStep : oOptions.qslSteps) {
        if (iCancel_Signal() != 0)
            break;
        if (qsStep == "poll") {
            bOk = bPoll_Records(oOptions.qsDevice, oOptions.qsVolume);
            vPrint_Result(oOptions, qjPoll(bOk), qsPoll_Text());
        } else if (qsStep == "fill") {
            bOk = bFill_Records();
            const cFill_Result &oResult = oData.oFill_Result;
            // A fill that never started has said why on standard error already.
            const bool bRan = oResult.eStatus != eFill_No_Poll && oResult.eStatus != eFill_Open_Failed &&
                              oResult.eStatus != eFill_Not_Run;
            vPrint_Result(oOptions, qjFill(bOk),
                          bRan ? qsFill_Heading(oResult) + "\n" + qsFill_Summary(oResult) + "\n" : QString());
        } else {
            bOk = bRead_Records();
            const cRead_Result &oResult = oDrive.oRead_Result;
            const bool bScanned = oResult.eStatus == eRead_Done || oResult.eStatus == eRead_Cancelled;
            vPrint_Result(oOptions, qjRead(bOk),
                          bScanned ? qsRead_Heading(oResult) + "\n" + qsRead_Summary(oResult) + "\n" : QString());
            if (bScanned && !oOptions.qsMap.isEmpty() && !qimgMap_Render(cMap_Data(oResult)).save(oOptions.qsMap, "PNG")) {
                iMessageBox("Ошибка!", QString("Не удалось сохранить карту в %1.").arg(oOptions.qsMap), 3,
                            iMsgBox_OK_Button, 0, 0, "");
                bOk = false;
            }
        }
        if (!bOk)
            break;
    }
    if (iCancel_Signal() != 0)
        return 128 + iCancel_Signal();
    return bOk ? 0 : 1;
}
