#include "Functions_Steps.h"

#include "Functions_Files.h"
#include "Functions_Fill_Check.h"
#include "Functions_Fuse_Server.h"
#include "Functions_Lock.h"
#include "Functions_Operator.h"
#include "Functions_Placement.h"
#include "Functions_Report_Texts.h"
#include "Functions_Topology.h"
#include "Functions_Tsk.h"
#include "Functions_Writer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>

// Each value in decimal, as the form shows it; the window puts them into its widgets in this order.
const cPoll_Field aoPoll_Fields[iPoll_Fields] = {
    {"Системное имя", 0, [](const cDrive &oDrive, const cVolume &, const cData &) { return oDrive.qsDrive_Name; }},
    {"Размер сектора", 0,
     [](const cDrive &oDrive, const cVolume &, const cData &) { return QString::number(oDrive.iSector_Size, 10); }},
    {"Количество секторов", 0,
     [](const cDrive &oDrive, const cVolume &, const cData &) {
         return QString::number(oDrive.qui64Sectors_Count, 10);
     }},
    {"Объём носителя", 0,
     [](const cDrive &oDrive, const cVolume &, const cData &) { return QString::number(oDrive.qui64Bytes_Count, 10); }},
    {"Системное имя", 1, [](const cDrive &, const cVolume &oVolume, const cData &) { return oVolume.qsVolume_Name; }},
    {"Размер кластера", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) { return QString::number(oVolume.iCluster_Size, 10); }},
    {"Количество кластеров", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) {
         return QString::number(oVolume.qui64Clusters_Count, 10);
     }},
    {"Объём раздела", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) {
         return QString::number(oVolume.qui64Bytes_Count, 10);
     }},
    {"Количество свободных кластеров", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) {
         return QString::number(oVolume.qui64Clusters_Free_Count, 10);
     }},
    {"Количество свободного места", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) {
         return QString::number(oVolume.qui64Bytes_Free_Count, 10);
     }},
    {"Паттерн 11...10\nдля свободного места\n(числом)", 2,
     [](const cDrive &, const cVolume &, const cData &oData) { return QString::number(oData.qui64Pattern, 10); }},
    {"Паттерн 11...10\nдля свободного места\n(текстом)", 2,
     [](const cDrive &, const cVolume &, const cData &oData) { return oData.qsPattern; }}};

namespace {

// The form's texts are translatable under the window's context.
QString qsForm_Text(const char *pcText)
{
    return QCoreApplication::translate("MainWindow", pcText);
}

// The fill writes until the volume is full: it must be the volume on the polled device, not
// the root file system or RAM because a path was mistyped. Empty when it is; else why not.
QString qsNot_On_Polled_Device(const cDrive &oDrive, const cVolume &oVolume)
{
    if (!oVolume.qsError.isEmpty())
        return oVolume.qsError;
    if (oDrive.qsDrive_Name.isEmpty())
        return qsDrive_Not_Polled_Why();
    // The directory opened, which the fill's own open must find the same, not what the name
    // leads to by the time it is looked at.
    const cVolume_FD oDir(oVolume.pDir.get(), oVolume.qsVolume_Name);
    if (oDir.iFD < 0)
        return oDir.qsWhy;
    QString qsWhy;
    if (eVolume_On_Device(oDir.qsPath(), oDrive.qsDrive_Name, &qsWhy) == eOn_Device_Yes)
        return QString();
    return qsWhy.replace(oDir.qsPath(), oVolume.qsVolume_Name);
}

// A word read at its place that differs from the one written there in a few bits is
// changed, not missing: the medium kept it, but not as it was.
bool bFew_Bits_Changed(const quint64 qui64Read, const quint64 qui64Written)
{
    return qui64Read != 0 && __builtin_popcountll(qui64Read ^ qui64Written) <= 4;
}

// The missing words of a read whose places are known, read once more: those found there
// with a few bits changed go into the layout, and the read is judged again.
void vLook_Again(cRead_Result &oResult, cFill_Layout &oLayout)
{
    const std::vector<cRun> vecSuspects = oResult.oVerdict.vecSuspects;
    QVector<quint64> qvWords;
    QString qsIgnored; // without a second look the words simply stay missing
    if (vecSuspects.empty() || !bRead_Words(oResult.qsDevice, vecSuspects, &qvWords, &qsIgnored))
        return;
    int w = 0;
    for (const cRun &oRun : vecSuspects)
        for (quint64 i = 0; i < oRun.qui64Count; ++i, ++w) {
            const quint64 qui64Index = oRun.qui64First + i;
            if (!bFew_Bits_Changed(qvWords[w], oResult.qui64Pattern + qui64Index))
                continue;
            oLayout.qvChanged.append(qui64Index);
            const quint64 qui64As_Index = qvWords[w] - oResult.qui64Pattern;
            if (qvWords[w] >= oResult.qui64Pattern && qui64As_Index < oResult.qui64Data_Count)
                ++oLayout.qui64Changed_Hits; // the scan counted it as another fill word
        }
    if (oLayout.qvChanged.isEmpty())
        return;
    std::sort(oLayout.qvChanged.begin(), oLayout.qvChanged.end());
    vJudge(oResult, oLayout);
}

// A volume whose driver says it has no blocks (fusefat's statfs, where a cluster is 512
// bytes): a fill of it would write nothing. Where it lies on the polled device, its FAT there
// tells its space; else the poll fails, naming why.
void vSpace_From_Structures(const cDrive &oDrive, cVolume &oVolume)
{
    const QString qsNode = qsFuse_Server_Node(oVolume.qsVolume_Name);
    quint64 qui64Cluster = 0, qui64Clusters = 0, qui64Free = 0;
    if (qsNode.isEmpty() || oDrive.qsDrive_Name.isEmpty() ||
        eVolume_On_Device(oVolume.qsVolume_Name, oDrive.qsDrive_Name) != eOn_Device_Yes ||
        !bTsk_Fat_Space(qsNode, &qui64Cluster, &qui64Clusters, &qui64Free) || qui64Cluster > quint64(INT_MAX)) {
        oVolume.qsError = qsVolume_No_Blocks_Why();
        return;
    }
    oVolume.iCluster_Size = int(qui64Cluster);
    oVolume.qui64Clusters_Count = qui64Clusters;
    oVolume.qui64Bytes_Count = qui64Clusters * qui64Cluster;
    oVolume.qui64Clusters_Free_Count = qui64Free;
    oVolume.qui64Bytes_Free_Count = qui64Free * qui64Cluster;
}

} // namespace

cPoll_Result oPoll(cDrive &oDrive, cVolume &oVolume, cData &oData, const QString &qsDrive_Path,
                   const QString &qsVolume_Path)
{
    cPoll_Result oResult;
    oVolume.vGet_Properties(qsVolume_Path);
    oResult.bDrive_Opened = oDrive.bGet_Properties(qsDrive_Path);
    if (oVolume.qsError.isEmpty() && oVolume.qui64Clusters_Count == 0)
        vSpace_From_Structures(oDrive, oVolume);
    oData.vGet_Properties(oVolume.qui64Clusters_Count, oVolume.iCluster_Size);
    oResult.qsVolume_Error = oVolume.qsError;
    return oResult;
}

cFill_Result oFill(const cDrive &oDrive, const cVolume &oVolume, const cData &oData, cOperator &oOperator)
{
    cFill_Result oResult;
    if (!oVolume.qsVolume_Name.isEmpty() && !oVolume.qsChanged().isEmpty()) {
        oResult.eStatus = eFill_Open_Failed;
        oResult.qsPath = qsFill_File_Path(oVolume.qsVolume_Name);
        oResult.qsError = oVolume.qsChanged();
        return oResult;
    }
    if (!oVolume.qsVolume_Name.isEmpty()) {
        const QString qsWhy = qsNot_On_Polled_Device(oDrive, oVolume);
        if (!qsWhy.isEmpty()) {
            oResult.eStatus = eFill_Refused;
            oResult.qsPath = qsFill_File_Path(oVolume.qsVolume_Name);
            oResult.qsError = qsWhy;
            if (!oOperator.bAsk(qsWarning_Heading(), qsFill_Refused_Question(QFileInfo(oResult.qsPath).path(), qsWhy)))
                return oResult;
        }
    }
    // Checked as it goes, where the polled device can be read back: a medium that loses data is
    // told in minutes, not after hours of filling.
    cFill_Check oCheck(oDrive.qsDrive_Name, oData.qui64Pattern, oVolume.qui64Bytes_Count,
                       [&oOperator] { return oOperator.bCancelled(); });
    oData.vWrite_Data(oVolume, oOperator, oResult, oDrive.qsDrive_Name.isEmpty() ? nullptr : &oCheck);
    return oResult;
}

bool bFill_Ok(const cFill_Result &oResult)
{
    return oResult.eStatus == eFill_Complete || oResult.eStatus == eFill_Full || oResult.eStatus == eFill_Too_Large;
}

bool bFill_Refused_Writes(const cFill_Result &oResult)
{
    return oResult.eStatus == eFill_Error && oResult.iErrno == EIO && oResult.qui64Words_Written > 0;
}

bool bFill_Wrote_Then_Failed(const cFill_Result &oResult)
{
    // An error of the system's (not the volume gone, not the file removed by another)
    return oResult.eStatus == eFill_Error && oResult.iErrno != 0 && oResult.qui64Words_Written > 0;
}

namespace {

// The fill's words the placement puts somewhere on the device.
quint64 qui64Placed_Words(const std::vector<cRun> &vecRuns)
{
    quint64 qui64Words = 0;
    for (const cRun &oRun : vecRuns)
        qui64Words += oRun.qui64Count;
    return qui64Words;
}

} // namespace

cFill_Layout oFill_Layout(const QString &qsVolume, const QString &qsDevice)
{
    cFill_Layout oLayout;
    oLayout.qvParts = qvFill_Parts(qsVolume);
    oLayout.eOn = eVolume_On_Device(qsVolume, qsDevice, &oLayout.qsOn_Device_Why);
    quint64 qui64Unwritten = 0;
    // A FUSE driver that holds part of the fill in its memory writes it on the sync that the
    // placement asks for, or a moment later: asked again once before nothing is judged.
    for (int iTry = 0; iTry < 2 && !oLayout.qvParts.isEmpty(); ++iTry) {
        oLayout.bPlaced = bFill_Placement(oLayout.qvParts, qsDevice, &oLayout.vecExpected, &oLayout.qsPlacement_Why,
                                          &qui64Unwritten, &oLayout.eSource);
        const quint64 qui64Placed = qui64Placed_Words(oLayout.vecExpected);
        oLayout.bUnwritten = oLayout.bPlaced && oLayout.eSource == ePlacement_Tsk && qui64Placed < oLayout.qui64Words();
        if (!oLayout.bUnwritten)
            break;
        oLayout.qsPlacement_Why = qsFill_Unwritten_Why(qsVolume, 8 * qui64Placed, 8 * oLayout.qui64Words());
        QThread::sleep(1);
    }
    // The fill writes front to back; where a killed one left allocated space unwritten, its
    // file ends: those words were never written, so they cannot have been lost.
    cFill_Part *pLast = oLayout.qvParts.isEmpty() ? nullptr : &oLayout.qvParts.last();
    if (oLayout.bPlaced && qui64Unwritten < pLast->qui64First + pLast->qui64Words)
        pLast->qui64Words = qui64Unwritten - pLast->qui64First;
    return oLayout;
}

namespace {

// Parts found through the directory qsDir (a descriptor's path), named by the volume's own name.
void vName_Parts(QVector<cFill_Part> &qvParts, const cVolume &oVolume, const QString &qsDir)
{
    for (cFill_Part &oPart : qvParts)
        oPart.qsPath = oVolume.qsVolume_Name + oPart.qsPath.mid(qsDir.size());
}

} // namespace

cFill_Layout oFill_Layout(const cVolume &oVolume, const QString &qsDir, const QString &qsDevice)
{
    cFill_Layout oLayout = oFill_Layout(qsDir, qsDevice);
    vName_Parts(oLayout.qvParts, oVolume, qsDir);
    oLayout.qsOn_Device_Why.replace(qsDir, oVolume.qsVolume_Name);
    oLayout.qsPlacement_Why.replace(qsDir, oVolume.qsVolume_Name);
    return oLayout;
}

void vInfer_Placement(const cRead_Result &oResult, cFill_Layout &oLayout)
{
    if (oLayout.bPlaced || oLayout.qvParts.isEmpty())
        return;
    const quint64 qui64Words = std::min(oLayout.qui64Words(), oResult.qui64Data_Count);
    std::vector<cRun> vecInferred = vecInfer_Placement(oResult.vecRuns, qui64Words, oResult.qui64Bytes_Count);
    if (vecInferred.empty())
        return;
    oLayout.vecExpected = std::move(vecInferred);
    oLayout.bPlaced = oLayout.bInferred = true;
    oLayout.eSource = ePlacement_Found_Words;
    oLayout.qsPlacement_Why = qsPlacement_Inferred_Why(oLayout.qsPlacement_Why);
}

namespace {

// After a fill that stopped because the medium lost data, the read need not cover the whole
// announced size: everything up to where the fill wrote, and a sample beyond.
cRead_Plan oPlan_After(const cFill_Result &oLast_Fill, const cVolume &oVolume, const QString &qsDir,
                       const cDrive &oDrive)
{
    cRead_Plan oPlan;
    if (oLast_Fill.eStatus != eFill_Loss || oLast_Fill.qsPath != qsFill_File_Path(oVolume.qsVolume_Name))
        return oPlan;
    std::vector<cRun> vecRuns;
    QString qsWhy;
    quint64 qui64End = 0;
    if (bFill_Placement(qvFill_Parts(qsDir), oDrive.qsDrive_Name, &vecRuns, &qsWhy)) {
        for (const cRun &oRun : vecRuns)
            qui64End = std::max(qui64End, oRun.qui64Offset_End());
    } else { // the file system does not say: room for its own structures besides the words
        qui64End = 8 * oLast_Fill.qui64Words_Written / 4 * 5;
    }
    oPlan.qui64Whole_To = qui64End + (quint64(16) << 20);
    // A block of every 16 beyond, but not more than about a thousand blocks: on a "1 TB" fake
    // that keeps 32 GB that is 1 GiB more to read, not 60.
    const quint64 qui64Beyond = oDrive.qui64Bytes_Count > oPlan.qui64Whole_To
                                    ? (oDrive.qui64Bytes_Count - oPlan.qui64Whole_To) >> 20
                                    : 0;
    oPlan.iSample_Every = int(std::clamp<quint64>(qui64Beyond / 1024, 16, 1 << 20));
    return oPlan;
}

} // namespace

namespace {

// Empty when the read may go on in the polled volume; else why not: it is no longer the one
// polled, or another run holds it.
QString qsRead_Refused(const cVolume &oVolume, cVolume_Lock &oLock)
{
    if (oVolume.qsVolume_Name.isEmpty())
        return QString();
    QString qsWhy = oVolume.qsChanged();
    if (!qsWhy.isEmpty())
        return qsWhy;
    // By the name alone, a lock that cannot be taken for another reason than a holder
    // is no reason not to read.
    if (oVolume.pDir ? oLock.bTake(*oVolume.pDir, &qsWhy) : oLock.bTake(oVolume.qsVolume_Name, &qsWhy) ||
                                                                !oLock.bBusy)
        return QString();
    return qsWhy;
}

// Why this run's fill of the volume ended before the volume was full; empty where it filled
// it (an error at its very end, as a caching driver gives, leaves little room free), or
// where the volume holds no fill of this run. A file system that says it has no room while
// a quarter of the volume is still free has not been filled either.
QString qsFill_Stopped(const cFill_Result &oLast_Fill, const cVolume &oVolume, const QString &qsDir)
{
    if (oLast_Fill.qsPath != qsFill_File_Path(oVolume.qsVolume_Name) || oLast_Fill.qui64Words_Written == 0 ||
        qui64Free_Bytes(qsDir) <= oVolume.qui64Bytes_Count / 100)
        return QString();
    switch (oLast_Fill.eStatus) {
    case eFill_Error:
        return qsStopped_By_Error_Why(oLast_Fill.qsError);
    case eFill_Cancelled:
        return qsStopped_By_Operator_Why();
    case eFill_Loss:
        return qsStopped_At_Loss_Why();
    case eFill_Full: {
        const quint64 qui64Free = qui64Free_Bytes(qsDir);
        return qui64Free > oVolume.qui64Bytes_Count / 4 ? qsStopped_Space_Left_Why(qui64Free) : QString();
    }
    default:
        return QString();
    }
}

// A fill of this run that stopped on an error or a cancel may leave chunks written out of
// order past the words it counts, with gaps between: only what it counts was written.
void vTrim_To_Written(const cFill_Result &oLast_Fill, const cVolume &oVolume, cFill_Layout &oLayout)
{
    if ((oLast_Fill.eStatus != eFill_Error && oLast_Fill.eStatus != eFill_Cancelled) || oLayout.qvParts.isEmpty() ||
        oLast_Fill.qsPath != qsFill_File_Path(oVolume.qsVolume_Name))
        return;
    cFill_Part &oLast = oLayout.qvParts.last();
    if (oLast_Fill.qui64Words_Written >= oLast.qui64First && oLast_Fill.qui64Words_Written < oLayout.qui64Words())
        oLast.qui64Words = oLast_Fill.qui64Words_Written - oLast.qui64First;
}

// The read compared with the fill in the volume it was given.
void vCompare(cRead_Result &oResult, const cVolume &oVolume, const QString &qsDir, const cFill_Result &oLast_Fill)
{
    if (oResult.bAbandoned) {
        // The device stopped answering: asking where things lie on it would hang as well.
        cFill_Layout oLayout;
        oLayout.qvParts = qvFill_Parts(qsDir);
        vName_Parts(oLayout.qvParts, oVolume, qsDir);
        oLayout.qsPlacement_Why = oLayout.qsOn_Device_Why = qsDevice_Stopped_Why();
        vJudge(oResult, oLayout);
        return;
    }
    if (!bRead_Scanned(oResult.eStatus))
        return;
    try {
        cFill_Layout oLayout = oFill_Layout(oVolume, qsDir, oResult.qsDevice);
        if (oLayout.bUnwritten) { // a verdict now would call lost what the driver still holds
            oResult.eStatus = eRead_Fill_Unwritten;
            oResult.qsError = oLayout.qsPlacement_Why;
            return;
        }
        vTrim_To_Written(oLast_Fill, oVolume, oLayout);
        vInfer_Placement(oResult, oLayout);
        if (bFill_Refused_Writes(oLast_Fill) && oLast_Fill.qsPath == qsFill_File_Path(oVolume.qsVolume_Name))
            oLayout.qui64Refused_After = 8 * oLast_Fill.qui64Words_Written;
        oLayout.qsFill_Stopped = qsFill_Stopped(oLast_Fill, oVolume, qsDir);
        oLayout.qui64Volume_Bytes = oVolume.qui64Bytes_Count;
        vJudge(oResult, oLayout);
        vLook_Again(oResult, oLayout);
    } catch (const std::bad_alloc &) { // the comparison's copies found no memory
        oResult.eStatus = eRead_Alloc_Failed;
        oResult.qsError = qsSystem_Reason(ENOMEM);
    }
}

} // namespace

cRead_Result oRead(const cDrive &oDrive, const cVolume &oVolume, const cData &oData, cOperator &oOperator,
                   const cFill_Result &oLast_Fill, const bool bRead_All)
{
    cRead_Result oResult;
    // Not while another run fills or reads this volume, nor in a volume no longer the polled one.
    cVolume_Lock oLock;
    oResult.qsError = qsRead_Refused(oVolume, oLock);
    if (!oResult.qsError.isEmpty()) {
        oResult.eStatus = oLock.bBusy ? eRead_Open_Failed : eRead_Volume_Changed;
        oResult.qsDevice = oDrive.qsDrive_Name;
        return oResult;
    }
    // The last poll's pattern, and every index that poll's volume could hold; but a fill
    // written before the volume grew has the pattern of the smaller volume.
    quint64 qui64Pattern = oData.qui64Pattern;
    // Found in the directory locked, which is the polled one.
    const QString qsDir = oLock.iDir_FD() >= 0 ? oLock.qsFD_Path() : oVolume.qsVolume_Name;
    const bool bFrom_Fill = bFill_Pattern(qsDir, &qui64Pattern) && qui64Pattern != oData.qui64Pattern;
    if (!bFrom_Fill)
        qui64Pattern = oData.qui64Pattern;
    // The file's pattern comes with the file's room: a count taken from another pattern would
    // check only part of the file.
    const quint64 qui64Indexes = bFrom_Fill ? qui64Pattern_Indexes(qui64Pattern) : oData.qui64Data_Count;
    oDrive.vRead_Data(qui64Pattern, qui64Indexes, oOperator, oResult,
                      bRead_All ? cRead_Plan() : oPlan_After(oLast_Fill, oVolume, qsDir, oDrive));
    oResult.qsVolume = oVolume.qsVolume_Name;
    oResult.bPattern_From_Fill = bFrom_Fill;
    // What was read is judged against the polled volume's fill only while it is still that one.
    const QString qsChanged = oVolume.qsChanged();
    if (!qsChanged.isEmpty() && bRead_Scanned(oResult.eStatus)) {
        oResult.eStatus = eRead_Volume_Changed;
        oResult.qsError = qsChanged;
        return oResult;
    }
    vCompare(oResult, oVolume, qsDir, oLast_Fill);
    return oResult;
}

bool bRead_Ok(const cRead_Result &oResult)
{
    return oResult.eStatus == eRead_Done;
}

QString qsFill_Lost(const cFill_Result &oFill, const cRead_Result &oRead)
{
    if (!bFill_Ok(oFill) || !bRead_Scanned(oRead.eStatus))
        return QString();
    const cFill_Layout &oLayout = oRead.oVerdict.oLayout;
    const quint64 qui64Now = oLayout.qvParts.isEmpty() || oLayout.qvParts.first().qsPath != oFill.qsPath
                                 ? 0
                                 : oLayout.qui64Words();
    if (qui64Now >= oFill.qui64Words_Written)
        return QString();
    return qsFill_Lost_Text(oFill.qui64Words_Written, oFill.qsPath, qui64Now);
}

QStringList qslPoll_Values(const cDrive &oDrive, const cVolume &oVolume, const cData &oData)
{
    QStringList qslResult;
    for (const cPoll_Field &oField : aoPoll_Fields)
        qslResult << oField.qsValue(oDrive, oVolume, oData);
    return qslResult;
}

QStringList qslPoll_Captions()
{
    QStringList qslResult;
    for (const cPoll_Field &oField : aoPoll_Fields)
        qslResult << qsForm_Text(oField.pcCaption);
    return qslResult;
}

QStringList qslPoll_Sections()
{
    return {qsForm_Text("Носитель:"), qsForm_Text("Раздел:"), qsForm_Text("Данные")};
}
