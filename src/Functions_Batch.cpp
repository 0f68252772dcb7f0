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

// Writes to standard output or error; false once the reader is gone (a closed pipe).
bool bWrite(FILE *pFile, const QString &qsText)
{
    const QByteArray qbaText = qsText.toUtf8();
    const bool bWritten = std::fwrite(qbaText.constData(), 1, size_t(qbaText.size()), pFile) == size_t(qbaText.size());
    return std::fflush(pFile) == 0 && bWritten;
}

void vPrint_Result(const cOptions &oOptions, const QJsonObject &qjResult, const QString &qsText)
{
    const bool bWritten =
        oOptions.bJson
            ? bWrite(stdout, QString::fromUtf8(QJsonDocument(qjResult).toJson(QJsonDocument::Compact)) + "\n")
            : bWrite(stdout, qsText);
    if (!bWritten) // nobody reads the results any more: stop as if told to
        vRequest_Cancel(SIGPIPE);
}

void vTell_Error(const QString &qsMessage)
{
    iMessageBox("Ошибка!", qsMessage, 3, iMsgBox_OK_Button, 0, 0, "");
}

extern "C" void vOn_Signal(int iSignal)
{
    vRequest_Cancel(iSignal);
}

// SIGINT, SIGTERM and SIGHUP stop the running step as "Отмена" does; a second one ends the
// process at once.
void vCatch_Signals()
{
    struct sigaction strAction;
    std::memset(&strAction, 0, sizeof strAction);
    strAction.sa_handler = vOn_Signal;
    sigemptyset(&strAction.sa_mask);
    strAction.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int iSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(iSignal, &strAction, nullptr);
}

int iUsage_Error(const QCommandLineParser &qParser, const QString &qsError, const bool bPrint)
{
    if (bPrint)
        bWrite(stderr, QCoreApplication::applicationName() + ": " + qsError + "\n\n" + qParser.helpText());
    return 2;
}

// Each step returns 0 when it did its job, 1 when it failed, 3 when the medium failed the check.
int iPoll_Step(const cOptions &oOptions)
{
    bool bDrive_Opened = false;
    const bool bOk = bPoll_Records(oOptions.qsDevice, oOptions.qsVolume, &bDrive_Opened);
    if (!oVolume.qsError.isEmpty())
        vTell_Error(QString("Не удалось опросить раздел %1: %2.").arg(oVolume.qsVolume_Name, oVolume.qsError));
    vPrint_Result(oOptions, qjPoll(bDrive_Opened), qsPoll_Text());
    return bOk ? 0 : 1;
}

int iFill_Step(const cOptions &oOptions)
{
    const bool bOk = bFill_Records(oOptions.bForce);
    const cFill_Result &oResult = oData.oFill_Result;
    if (oResult.eStatus == eFill_Refused)
        vTell_Error(qsFill_Failure(oResult) + " Чтобы заполнить его всё равно, добавьте --force.");
    else if (!bFill_Ran(oResult))
        vTell_Error(qsFill_Failure(oResult));
    vPrint_Result(oOptions, qjFill(oResult, bOk),
                  bFill_Ran(oResult) ? qsFill_Heading(oResult) + "\n" + qsFill_Summary(oResult) + "\n" : QString());
    return bOk ? 0 : 1;
}

int iRead_Step(const cOptions &oOptions)
{
    const bool bOk = bRead_Records();
    const cRead_Result &oResult = oDrive.oRead_Result;
    const bool bScanned = bRead_Ran(oResult);
    if (!bScanned)
        vTell_Error(qsRead_Failure(oResult));
    vPrint_Result(oOptions, qjRead(oResult, bOk),
                  bScanned ? qsRead_Heading(oResult) + "\n" + qsRead_Summary(oResult) + "\n" : QString());
    QString qsError;
    if (bScanned && !oOptions.qsMap.isEmpty() && !bSave_Png(qimgMap_Render(oResult), oOptions.qsMap, &qsError)) {
        vTell_Error(QString("Не удалось сохранить карту в %1: %2.").arg(oOptions.qsMap, qsError));
        return 1;
    }
    if (!bOk)
        return 1;
    return bVerdict_Good(oResult.oVerdict.eValue) ? 0 : 3;
}

} // namespace

int iParse_Options(const QStringList &qslArguments, cOptions &oOptions, const bool bPrint)
{
    QCommandLineParser qParser;
    qParser.setApplicationDescription("Заполняет раздел узнаваемыми 64-битными словами и ищет их на носителе под ним.");
    const QCommandLineOption qHelp = qParser.addHelpOption();
    const QCommandLineOption qVersion = qParser.addVersionOption();
    const QCommandLineOption qDevice("device", "Носитель (блочное устройство или образ), по умолчанию /dev/sdb.",
                                     "PATH", oOptions.qsDevice);
    const QCommandLineOption qVolume("volume", "Каталог смонтированного раздела, по умолчанию /documents_hdd/.", "DIR",
                                     oOptions.qsVolume);
    const QCommandLineOption qBatch("batch", "Без окна: выполнить шаги poll, fill, read в заданном порядке.", "STEPS");
    const QCommandLineOption qJson("json", "В пакетном режиме: по одному объекту JSON на шаг.");
    const QCommandLineOption qQuiet("quiet", "В пакетном режиме: без строки хода работы.");
    const QCommandLineOption qMap("map", "В пакетном режиме: после чтения сохранить карту носителя в PNG.", "FILE");
    const QCommandLineOption qForce("force", "В пакетном режиме: заполнять, даже если не установлено, что раздел "
                                             "лежит на носителе.");
    qParser.addOptions({qDevice, qVolume, qBatch, qJson, qQuiet, qMap, qForce});

    if (!qParser.parse(qslArguments))
        return iUsage_Error(qParser, qParser.errorText(), bPrint);
    if (qParser.isSet(qHelp)) {
        if (bPrint)
            bWrite(stdout, qParser.helpText());
        return 0;
    }
    if (qParser.isSet(qVersion)) {
        if (bPrint)
            bWrite(stdout, QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion() + "\n");
        return 0;
    }
    if (!qParser.positionalArguments().isEmpty())
        return iUsage_Error(qParser, "лишние аргументы: " + qParser.positionalArguments().join(' '), bPrint);

    oOptions.qsDevice = qParser.value(qDevice);
    oOptions.qsVolume = qParser.value(qVolume);
    if (oOptions.qsDevice.isEmpty() || oOptions.qsVolume.isEmpty())
        return iUsage_Error(qParser, "--device и --volume не могут быть пустыми", bPrint);
    // The fill appends the file name to the volume directly.
    if (!oOptions.qsVolume.endsWith('/'))
        oOptions.qsVolume += '/';
    oOptions.bBatch = qParser.isSet(qBatch);
    oOptions.bJson = qParser.isSet(qJson);
    oOptions.bQuiet = qParser.isSet(qQuiet);
    oOptions.bForce = qParser.isSet(qForce);
    oOptions.qsMap = qParser.value(qMap);
    if (!oOptions.bBatch && (oOptions.bJson || oOptions.bQuiet || oOptions.bForce || qParser.isSet(qMap)))
        return iUsage_Error(qParser, "--json, --quiet, --force и --map действуют только вместе с --batch", bPrint);
    if (oOptions.bBatch) {
        oOptions.qslSteps = qParser.value(qBatch).split(',');
        for (const QString &qsStep : oOptions.qslSteps)
            if (qsStep != "poll" && qsStep != "fill" && qsStep != "read")
                return iUsage_Error(qParser, "неизвестный шаг \"" + qsStep + "\" (возможны poll, fill, read)", bPrint);
    }
    return -1;
}

eApp_Kind eApp_For(const cOptions &oOptions)
{
    if (!oOptions.bBatch)
        return eApp_Widgets;
    return oOptions.qsMap.isEmpty() ? eApp_Core : eApp_Gui;
}

int iRun_Batch(const cOptions &oOptions)
{
    vCatch_Signals();
    vSet_Quiet(oOptions.bQuiet);
    int iResult = 0;
    for (const QString &qsStep : oOptions.qslSteps) {
        if (iCancel_Signal() != 0)
            break;
        const int iStep = qsStep == "poll"   ? iPoll_Step(oOptions)
                          : qsStep == "fill" ? iFill_Step(oOptions)
                                             : iRead_Step(oOptions);
        if (iStep == 1) {
            iResult = 1;
            break;
        }
        iResult = qMax(iResult, iStep);
    }
    return iCancel_Signal() != 0 ? 128 + iCancel_Signal() : iResult;
}
