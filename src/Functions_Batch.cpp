#include "Functions_Batch.h"

#include "Functions_Chooser.h"
#include "Functions_Clean.h"
#include "Functions_Core.h"
#include "Functions_Data.h"
#include "Functions_Map.h"
#include "Functions_Operator.h"
#include "Functions_Probe_Report.h"
#include "Functions_Report.h"
#include "Functions_Report_Texts.h"
#include "Functions_Steps.h"
#include "Functions_Text.h"
#include "Functions_Topology.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace {

// The signal that stopped the run; a handler can set nothing but such a value.
volatile std::sig_atomic_t iStop_Signal = 0;

extern "C" void vOn_Signal(int iSignal)
{
    iStop_Signal = iSignal;
}

// Standard output leads nowhere any more: its reader closed the pipe.
bool bOutput_Gone()
{
    struct pollfd strOutput = {STDOUT_FILENO, 0, 0};
    return poll(&strOutput, 1, 0) == 1 && (strOutput.revents & (POLLERR | POLLHUP)) != 0;
}

// The names the operator gave, as they may stand in a text: a line feed in one stays on its line.
QStringList qslNames(const cOptions &oOptions)
{
    return {oOptions.qsVolume, oOptions.qsDevice, oOptions.qsMap};
}

// Batch mode as the operator: messages and a progress line on standard error, no
// questions (the options answer them), and signals or a closed output as "Отмена".
class cConsole_Operator : public cOperator
{
public:
    explicit cConsole_Operator(const cOptions &oOptions_In) : oOptions(oOptions_In) {}

    void vTell(const QString &qsHeading, const QString &qsMessage, const int iIcon) override
    {
        iMessageBox(qsHeading, qsValues_Escaped(qsMessage, qslNames(oOptions)), iIcon, iMsgBox_OK_Button, 0, 0, "");
    }
    // The options answer: whether to fill a volume not known to lie on the device (--force),
    // whether to stop a fill on a medium that loses data (yes, unless --full).
    bool bAsk(const QString &, const QString &, const bool bYes_Is_Safe = false) override
    {
        return bYes_Is_Safe ? !oOptions.bFull : oOptions.bForce;
    }
    QString qsPoll_First() const override { return "сначала выполните шаг poll"; }

    void vStart(const QString &qsTitle_Text, const QString &, const quint64 qui64Total_Bytes) override
    {
        qsTitle = qsTitle_Text;
        qui64Total = qui64Total_Bytes;
        qui64Last_Done = 0;
        bPrinted = false;
        bTerminal = isatty(STDERR_FILENO) == 1;
        qTimer.start();
        qi64Last_Line = 0; // the first line after one period, so short steps stay silent
        qi64Last_Output_Check = 0;
    }
    bool bAdvance(const quint64 qui64Done) override
    {
        qui64Last_Done = qui64Done;
        const qint64 qi64Now = qTimer.elapsed();
        // A terminal line is redrawn often; a log gets a line every few seconds.
        if (qi64Now - qi64Last_Line >= (bTerminal ? 200 : 5000)) {
            qi64Last_Line = qi64Now;
            vLine(false);
        }
        if (qi64Now - qi64Last_Output_Check >= 200) {
            qi64Last_Output_Check = qi64Now;
            if (bOutput_Gone()) // the results would have nowhere to go
                iStop_Signal = SIGPIPE;
        }
        return !bCancelled();
    }
    void vFinish() override
    {
        if (bPrinted)
            vLine(true);
        bPrinted = false;
    }
    bool bCancelled() const override { return iStop_Signal != 0; }

private:
    void vLine(const bool bFinal)
    {
        if (oOptions.bQuiet)
            return;
        bPrinted = true;
        const QByteArray qbaLine = (qsTitle + ": " + QString::number(iPercent(qui64Last_Done, qui64Total)) + "%, " +
                                    qsProgress_Text(qui64Last_Done, qui64Total, qTimer.elapsed()))
                                       .toUtf8();
        if (bTerminal)
            std::fprintf(stderr, "\r\033[K%s%s", qbaLine.constData(), bFinal ? "\n" : "");
        else
            std::fprintf(stderr, "%s\n", qbaLine.constData());
        std::fflush(stderr);
    }

    const cOptions &oOptions;
    QString qsTitle;
    quint64 qui64Total = 0;
    quint64 qui64Last_Done = 0;
    QElapsedTimer qTimer;
    qint64 qi64Last_Line = 0;
    qint64 qi64Last_Output_Check = 0;
    bool bTerminal = false;
    bool bPrinted = false;
};

void vPrint_Result(const cOptions &oOptions, const QJsonObject &qjResult, const QString &qsText)
{
    const bool bWritten =
        oOptions.bJson
            ? bWrite_Stream(stdout, QString::fromUtf8(QJsonDocument(qjResult).toJson(QJsonDocument::Compact)) + "\n")
            : bWrite_Stream(stdout, qsTerminal_Safe(qsValues_Escaped(qsText, qslNames(oOptions)))); // JSON escapes
    if (!bWritten) // nobody reads the results any more: stop as if told to
        iStop_Signal = SIGPIPE;
}

void vTell_Error(cOperator &oOperator, const QString &qsMessage)
{
    oOperator.vTell("Ошибка!", qsMessage, iMsgBox_Critical_Icon);
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

// The records and the operator the steps of one run share.
class cBatch_Run
{
public:
    const cOptions &oOptions;
    cDrive &oDrive;
    cVolume &oVolume;
    cData &oData;
    cConsole_Operator oOperator;
    cFill_Result oLast_Fill; // what this run's fill wrote, and whether the medium refused more
    bool bProbe_Stops_Fill = false; // a probe found a fake
    quint64 qui64Fill_Limit = 0;    // and the device offset beyond which it keeps nothing, where known
};

// Each step returns iExit_Ok when it did its job, iExit_Failed when it failed,
// iExit_Medium_Failed when the medium failed the check.
int iPoll_Step(cBatch_Run &oRun)
{
    const cPoll_Result oResult =
        oPoll(oRun.oDrive, oRun.oVolume, oRun.oData, oRun.oOptions.qsDevice, oRun.oOptions.qsVolume);
    if (!oResult.qsVolume_Error.isEmpty())
        vTell_Error(oRun.oOperator, qsPoll_Volume_Failure(oRun.oVolume));
    vPrint_Result(oRun.oOptions, qjPoll(oResult, oRun.oDrive, oRun.oVolume, oRun.oData),
                  qsPoll_Text(oRun.oDrive, oRun.oVolume, oRun.oData));
    return oResult.bOk() ? iExit_Ok : iExit_Failed;
}

int iFill_Step(cBatch_Run &oRun)
{
    // A probe of this run found a fake: its verdict stands, and filling it would only write
    // where it keeps nothing, over hours; --full fills all the same.
    if (oRun.bProbe_Stops_Fill && !oRun.oOptions.bFull) {
        const QString qsWhy = qsFill_After_Fake_Text(oRun.qui64Fill_Limit);
        oRun.oOperator.vTell(qsWarning_Heading(), qsWhy, iMsgBox_Warning_Icon);
        vPrint_Result(oRun.oOptions, {{"step", "fill"}, {"ok", false}, {"status", "skipped_after_probe"}, {"error", qsWhy}},
                      qsWhy + "\n");
        return iExit_Medium_Failed;
    }
    const cFill_Result oResult = oFill(oRun.oDrive, oRun.oVolume, oRun.oData, oRun.oOperator);
    oRun.oLast_Fill = oResult;
    const bool bOk = bFill_Ok(oResult);
    const QString qsFailure = qsFill_Failure(oResult, oRun.oOperator.qsPoll_First());
    if (oResult.eStatus == eFill_Refused)
        vTell_Error(oRun.oOperator, qsFailure + " Чтобы заполнить его всё равно, добавьте --force.");
    else if (!bFill_Ran(oResult))
        vTell_Error(oRun.oOperator, qsFailure);
    vPrint_Result(oRun.oOptions, qjFill(oResult, bOk),
                  bFill_Ran(oResult) ? qsFill_Heading(oResult) + "\n" + qsFill_Summary(oResult) + "\n" : QString());
    if (bFill_Wrote_Then_Failed(oResult) || oResult.eStatus == eFill_Loss)
        return iExit_Medium_Failed; // the medium failed, and a read still tells how much it kept
    return bOk ? iExit_Ok : iExit_Failed;
}

// The medium probe; a fake fails the run as a read that finds one does.
int iProbe_Step(cBatch_Run &oRun)
{
    const cProbe_Result oResult = oProbe(oRun.oDrive, oRun.oVolume, oRun.oOperator);
    oRun.bProbe_Stops_Fill = bProbe_Stops_Fill(oResult);
    oRun.qui64Fill_Limit = qui64Probe_Fill_Limit(oResult);
    // Where the file system cannot give the probe its place, the checking fill is what tells.
    const bool bFill_Tells = oResult.eStatus == eProbe_No_Prealloc || oResult.eStatus == eProbe_Unplaced;
    if (bFill_Tells)
        oRun.oOperator.vTell(qsWarning_Heading(), oResult.qsError, iMsgBox_Warning_Icon);
    else if (!bProbe_Ok(oResult) || oResult.qui64Not_Restored > 0)
        vTell_Error(oRun.oOperator, qsProbe_Summary(oResult));
    vPrint_Result(oRun.oOptions, qjProbe(oResult), qsProbe_Heading(oResult) + "\n" + qsProbe_Summary(oResult) + "\n");
    if (!bProbe_Ok(oResult))
        return bFill_Tells ? iExit_Ok : iExit_Failed;
    if (!bVerdict_Good(oResult.eValue))
        return iExit_Medium_Failed; // a medium that refuses writes takes nothing back either
    return oResult.qui64Not_Restored > 0 ? iExit_Failed : iExit_Ok;
}

// --map: the read's map as a PNG; false, told, when it could not be saved.
bool bSave_Map(cBatch_Run &oRun, const cRead_Result &oResult)
{
    const QString &qsMap = oRun.oOptions.qsMap;
    // Never over the medium under test, nor onto the volume whose fill is judged.
    QString qsError = qsUnsafe_Output(qsMap, oResult.qsDevice, oResult.qsVolume);
    if (qsError.isEmpty() && bSave_Png(qimgMap_Render(oResult), qsMap, &qsError))
        return true;
    vTell_Error(oRun.oOperator, QString("Не удалось сохранить карту в %1: %2.").arg(qsMap, qsError));
    return false;
}

int iRead_Step(cBatch_Run &oRun)
{
    // An earlier fill on a volume of another size had another pattern: the operator names it.
    cData oPattern = oRun.oData;
    if (oRun.oOptions.qui64Pattern != 0) {
        oPattern.qui64Pattern = oRun.oOptions.qui64Pattern;
        oPattern.qui64Data_Count = qui64Pattern_Indexes(oPattern.qui64Pattern);
    }
    const cRead_Result oResult =
        oRead(oRun.oDrive, oRun.oVolume, oPattern, oRun.oOperator, oRun.oLast_Fill, oRun.oOptions.bFull);
    const bool bOk = bRead_Ok(oResult);
    const bool bScanned = bRead_Ran(oResult);
    if (!bScanned)
        vTell_Error(oRun.oOperator, qsRead_Failure(oResult, oRun.oOperator.qsPoll_First()));
    vPrint_Result(oRun.oOptions, qjRead(oResult, bOk),
                  bScanned ? qsRead_Heading(oResult) + "\n" + qsRead_Summary(oResult) + "\n" : QString());
    if (bScanned && !oRun.oOptions.qsMap.isEmpty() && !bSave_Map(oRun, oResult))
        return iExit_Failed;
    if (!bOk)
        return iExit_Failed;
    const QString qsLost = qsFill_Lost(oRun.oLast_Fill, oResult);
    if (!qsLost.isEmpty()) {
        vTell_Error(oRun.oOperator, qsLost);
        return iExit_Medium_Failed;
    }
    return bVerdict_Good(oResult.oVerdict.eValue) ? iExit_Ok : iExit_Medium_Failed;
}

int iClean_Step(cBatch_Run &oRun)
{
    const cClean_Result oResult = oClean(oRun.oVolume);
    if (!oResult.bOk())
        vTell_Error(oRun.oOperator, qsClean_Summary(oResult, oRun.oOperator.qsPoll_First()));
    vPrint_Result(oRun.oOptions, qjClean(oResult),
                  oResult.bPolled ? "Очистка раздела.\n" + qsClean_Summary(oResult, QString()) + "\n" : QString());
    return oResult.bOk() ? iExit_Ok : iExit_Failed;
}

} // namespace

int iRun_Batch(const cOptions &oOptions, cDrive &oDrive, cVolume &oVolume, cData &oData)
{
    iStop_Signal = 0;
    vCatch_Signals();
    cBatch_Run oRun{oOptions, oDrive, oVolume, oData, cConsole_Operator(oOptions), cFill_Result()};
    int iResult = iExit_Ok;
    for (const QString &qsStep : oOptions.qslSteps) {
        if (iStop_Signal != 0)
            break;
        const int iStep = qsStep == "poll"   ? iPoll_Step(oRun)
                          : qsStep == "fill" ? iFill_Step(oRun)
                          : qsStep == "read" ? iRead_Step(oRun)
                          : qsStep == "probe" ? iProbe_Step(oRun)
                                             : iClean_Step(oRun);
        if (iStep == iExit_Failed) {
            iResult = iExit_Failed;
            break;
        }
        iResult = qMax(iResult, iStep);
    }
    return iStop_Signal != 0 ? iExit_Signal_Base + iStop_Signal : iResult;
}

int iRun_List(const cOptions &oOptions)
{
    QVector<cDevice_Entry> qvDevices;
    eDevice_Source eSource = eSource_Lsblk;
    QString qsError;
    if (!bList_Devices(&qvDevices, &eSource, &qsError)) {
        bWrite_Stream(stderr, "Не удалось получить список носителей: " + qsError + ".\n");
        return iExit_Failed;
    }
    QJsonObject qjList{{"source", eSource == eSource_UDisks ? "udisks2" : "lsblk"},
                       {"devices", qjDevices(qvDevices)}};
    if (eSource == eSource_Lsblk_UDisks_Empty)
        qjList["udisks2_empty"] = true;
    // Said first on standard error: the text list stays as scripts read it.
    if (eSource == eSource_Lsblk_UDisks_Empty && !oOptions.bJson)
        bWrite_Stream(stderr, qsUDisks_Empty_Text() + "\n");
    return (oOptions.bJson
                ? bWrite_Stream(stdout, QString::fromUtf8(QJsonDocument(qjList).toJson(QJsonDocument::Compact)) + "\n")
                : bWrite_Stream(stdout, qsDevices_Text(qvDevices)))
               ? iExit_Ok
               : iExit_Failed;
}
