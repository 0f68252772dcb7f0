#include "Functions_Batch.h"

#include "Functions_Core.h"
#include "Functions_Map.h"
#include "Functions_Records.h"
#include "Functions_Report.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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
    bool bOk = true, bMedium_Failed = false;
    for (const QString &qsStep : oOptions.qslSteps) {
        if (iCancel_Signal() != 0)
            break;
        if (qsStep == "poll") {
            bOk = bPoll_Records(oOptions.qsDevice, oOptions.qsVolume);
            vPrint_Result(oOptions, qjPoll(bOk), qsPoll_Text());
        } else if (qsStep == "fill") {
            bOk = bFill_Records();
            const cFill_Result &oResult = oData.oFill_Result;
            if (!bFill_Ran(oResult))
                iMessageBox("Ошибка!", qsFill_Failure(oResult), 3, iMsgBox_OK_Button, 0, 0, "");
            vPrint_Result(oOptions, qjFill(oResult, bOk),
                          bFill_Ran(oResult) ? qsFill_Heading(oResult) + "\n" + qsFill_Summary(oResult) + "\n"
                                             : QString());
        } else {
            bOk = bRead_Records();
            const cRead_Result &oResult = oDrive.oRead_Result;
            const bool bScanned = bRead_Ran(oResult);
            if (!bScanned)
                iMessageBox("Ошибка!", qsRead_Failure(oResult), 3, iMsgBox_OK_Button, 0, 0, "");
            vPrint_Result(oOptions, qjRead(oResult, bOk),
                          bScanned ? qsRead_Heading(oResult) + "\n" + qsRead_Summary(oResult) + "\n" : QString());
            QString qsError;
            if (bScanned && !oOptions.qsMap.isEmpty() && !bSave_Png(qimgMap_Render(oResult), oOptions.qsMap, &qsError)) {
                iMessageBox("Ошибка!", QString("Не удалось сохранить карту в %1: %2.").arg(oOptions.qsMap, qsError), 3,
                            iMsgBox_OK_Button, 0, 0, "");
                bOk = false;
            }
            bMedium_Failed = bMedium_Failed || (bScanned && !bVerdict_Good(oResult.oVerdict.eValue));
        }
        if (!bOk)
            break;
    }
    if (iCancel_Signal() != 0)
        return 128 + iCancel_Signal();
    if (!bOk)
        return 1;
    return bMedium_Failed ? 3 : 0;
}
