#include "Functions_Data.h"

#include "Functions_Files.h"
#include "Functions_Fill_Check.h"
#include "Functions_Fill_Pace.h"
#include "Functions_Lock.h"
#include "Functions_Operator.h"
#include "Functions_Report_Texts.h"
#include "Functions_Writer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void cData::vGet_Properties(quint64 qui64Clusters_Free_Count, int iCluster_Size)
{
    // Words per cluster first, then clusters; the product wraps modulo 2^64.
    const qint64 qi64Words_Per_Cluster = iCluster_Size / 8;
    qui64Data_Count = quint64(qi64Words_Per_Cluster) * qui64Clusters_Free_Count;
    qui64Pattern = qui64Calc_Pattern(qui64Data_Count);
    qsPattern = qsText_Data(qui64Pattern);
}

quint64 cData::qui64Calc_Pattern(quint64 qui64Value) const
{
    // The smallest k with 2^k >= value; 64 when the value is above 2^63.
    int iPow_2 = 0;
    while (iPow_2 < 64 && (quint64(1) << iPow_2) < qui64Value)
        ++iPow_2;
    // Ones in bits k+1 to 63, so pattern + index never reaches them for index < 2^k.
    quint64 qui64Result = 0;
    for (int i = iPow_2 + 1; i <= 63; ++i)
        qui64Result += quint64(1) << i;
    return qui64Result;
}

QString cData::qsText_Data(quint64 qui64Value) const
{
    const QString qsBits_Temp = QString::number(qui64Value, 2);
    QString qsBits;
    for (int i = 0; i < qsBits_Temp.size(); i += 8) {
        const QString qsGroup = qsBits_Temp.mid(i, 8);
        if (qsGroup == "00000000")
            break;
        qsBits += qsGroup + ".\n";
    }
    qsBits.chop(1);
    return qsBits + "..";
}

cFill_Result oFill_Status(const cWrite_Outcome &oOutcome)
{
    cFill_Result oResult;
    oResult.qui64Words_Written = oOutcome.qui64Words;
    oResult.iFiles = oOutcome.iFiles;
    oResult.bAbandoned = oOutcome.bAbandoned;
    oResult.bOperator_Stop = oOutcome.bCancelled;
    oResult.bClosing_Aside = oOutcome.bClosing_Aside;
    const int iError = oOutcome.iError;
    if (!oOutcome.qsStopped.isEmpty()) {
        oResult.eStatus = eFill_Error;
        oResult.qsError = oOutcome.qsStopped;
    } else if (oOutcome.iClose_Error != 0) {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(oOutcome.iClose_Error);
        oResult.iErrno = oOutcome.iClose_Error;
    } else if (oOutcome.bCancelled || oOutcome.bAbandoned) {
        oResult.eStatus = eFill_Cancelled;
    } else if (oOutcome.bLoss_Stop) {
        oResult.eStatus = eFill_Loss;
    } else if (oOutcome.qui64Words == 0) {
        // A full volume, or a size limit below one word: nothing was written, so nothing can
        // be checked.
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsNothing_Written_Why(iError == 0 ? QString() : qsSystem_Reason(iError));
    } else if (iError == 0 || bOut_Of_Space(iError) || iError == EFBIG) {
        oResult.eStatus = iError == 0 ? eFill_Complete : iError == EFBIG ? eFill_Too_Large : eFill_Full;
    } else {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(iError);
        oResult.iErrno = iError;
    }
    return oResult;
}

namespace {

// What the checks saw while the fill went on.
void vTake_Checks(const cFill_Check &oCheck, cFill_Result &oResult)
{
    oResult.iChecks = oCheck.iChecks;
    oResult.qui64Check_Bytes = oCheck.qui64Bytes_Read;
    oResult.bLoss_Seen = oCheck.bLoss_Found || oCheck.bGone_On;
    oResult.bLoss_Placed = oCheck.bLoss_Placed;
    oResult.qui64Loss_Offset = oCheck.bLoss_Placed ? oCheck.qui64Loss_Device_Offset : oCheck.qui64Loss_File_Offset;
}

} // namespace

void cData::vWrite_Data(cVolume oVolume, cOperator &oOperator, cFill_Result &oResult, cFill_Check *pCheck) const
{
    QElapsedTimer qTimer;
    qTimer.start();
    oResult = cFill_Result();
    const cFill_Words oWords{qui64Pattern, oVolume.qui64Bytes_Count >> 3};
    oResult.qui64Data_Count = oWords.qui64Count;
    oResult.qui64Pattern = qui64Pattern;
    if (oVolume.qsVolume_Name.isEmpty()) {
        // Without a volume the name would be relative to the working directory.
        oResult.eStatus = eFill_No_Poll;
        return;
    }
    const QString &qsVolume = oVolume.qsVolume_Name;
    oResult.qsPath = qsFill_File_Path(qsVolume);
    // Every file of the fill is made in the one directory opened here, which stays locked.
    cVolume_Lock oLock;
    cFill_File oFile;
    const bool bLocked =
        oVolume.pDir ? oLock.bTake(*oVolume.pDir, &oResult.qsError) : oLock.bTake(qsVolume, &oResult.qsError);
    if (!bLocked || !oFile.bOpen(oLock.iDir_FD(), 1, 0, &oResult.qsError)) {
        oResult.eStatus = eFill_Open_Failed;
        return;
    }
    struct stat strFirst;
    cFill_Target oTarget{oLock, oFile, fstat(oFile.iFD, &strFirst) == 0 ? strFirst.st_dev : 0, qsVolume};
    const QStringList qslStale = qslRemove_Continuations(oLock.iDir_FD());
    const bool bDirect = oFile.bDirect;
    oFile.qsPath = oResult.qsPath;
    oFile.pCheck = pCheck;
    if (bOn_Fuse(oFile.iFD))
        oFile.pPace = cFill_Pace::pFor(qsVolume, stFill_Chunk / 4); // 1 MiB: 0.4 s at 2.5 MiB/s

    cWrite_Outcome oOutcome;
    {
        cProgress_Scope oProgress(oOperator, qsFill_Progress_Title(), qsFill_Progress_Text(oResult.qsPath),
                                  qMin(oWords.qui64Count * 8, qui64Free_Bytes(oLock.qsFD_Path())));
        oOutcome = oWrite_Fill(oTarget, oWords, oOperator);
    }
    const cFill_Result oStatus = oFill_Status(oOutcome);
    oResult.eStatus = oStatus.eStatus;
    oResult.qsError = oStatus.qsError;
    oResult.iErrno = oStatus.iErrno;
    oResult.qui64Words_Written = oStatus.qui64Words_Written;
    oResult.iFiles = oStatus.iFiles;
    oResult.qslStale = qslStale;
    oResult.bDirect = bDirect;
    oResult.bAbandoned = oStatus.bAbandoned;
    oResult.bOperator_Stop = oStatus.bOperator_Stop;
    oResult.bClosing_Aside = oStatus.bClosing_Aside;
    oResult.qi64Elapsed_Ms = qTimer.elapsed();
    if (pCheck)
        vTake_Checks(*pCheck, oResult);
}

quint64 qui64Pattern_Indexes(const quint64 qui64Pattern)
{
    const quint64 qui64Low = ~qui64Pattern; // the zeros below the ones, as ones
    if (qui64Pattern == 0 || (qui64Low & (qui64Low + 1)) != 0 || qui64Low == 0)
        return 0;
    return (qui64Low >> 1) + 1;
}

const char *pcFill_Status_Name(const eFill_Status eStatus)
{
    switch (eStatus) {
    case eFill_Not_Run:
        return "not_run";
    case eFill_No_Poll:
        return "no_poll";
    case eFill_Open_Failed:
        return "open_failed";
    case eFill_Complete:
        return "complete";
    case eFill_Full:
        return "full";
    case eFill_Too_Large:
        return "too_large";
    case eFill_Error:
        return "error";
    case eFill_Cancelled:
        return "cancelled";
    case eFill_Refused:
        return "refused";
    case eFill_Loss:
        return "medium_loses_data";
    }
    return "";
}
