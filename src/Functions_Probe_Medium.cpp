#include "Functions_Probe_Medium.h"

#include "Functions_Files.h"
#include "Functions_Lock.h"
#include "Functions_Operator.h"
#include "Functions_Probe_Plan.h"
#include "Functions_Report_Texts.h"
#include "Functions_Topology.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

const char *pcProbe_Status_Name(const eProbe_Status eStatus)
{
    static const char *const apcNames[] = {"not_run",    "no_poll",  "refused", "busy",     "no_prealloc",
                                           "unplaced",   "failed",   "cancelled", "done"};
    return apcNames[eStatus];
}

bool bProbe_Ok(const cProbe_Result &oResult)
{
    return oResult.eStatus == eProbe_Done;
}

quint64 qui64Probe_Fill_Limit(const cProbe_Result &oResult)
{
    if (!bProbe_Ok(oResult) || bVerdict_Good(oResult.eValue) || oResult.eValue == eVerdict_Data_Changed ||
        oResult.eValue == eVerdict_Damaged)
        return 0;
    return oResult.qui64Usable_Bytes;
}

bool bProbe_Stops_Fill(const cProbe_Result &oResult)
{
    return qui64Probe_Fill_Limit(oResult) > 0 || (bProbe_Ok(oResult) && oResult.eValue == eVerdict_Write_Failed);
}

namespace {

// The probe's file: made in the locked directory, never through a link, its space allocated
// and not written; removed when it goes, only while its name still leads to it.
class cProbe_File
{
public:
    explicit cProbe_File(const int iDir_In) : iDir(iDir_In) {}
    ~cProbe_File()
    {
        if (iFD < 0)
            return;
        struct stat strName, strFile;
        if (fstat(iFD, &strFile) == 0 && fstatat(iDir, pcName, &strName, AT_SYMLINK_NOFOLLOW) == 0 &&
            strName.st_dev == strFile.st_dev && strName.st_ino == strFile.st_ino)
            unlinkat(iDir, pcName, 0);
        close(iFD);
    }
    cProbe_File(const cProbe_File &) = delete;
    cProbe_File &operator=(const cProbe_File &) = delete;

    // Makes the file and allocates about all the free space but a margin for the file
    // system's own needs; the errno of what failed, EOPNOTSUPP where it cannot preallocate.
    int iMake()
    {
        // One a killed probe left is this probe's to remove (the lock says no other runs);
        // anything else under the name is the user's.
        if (!bRemove_Left_Over())
            return EEXIST;
        iFD = openat(iDir, pcName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (iFD < 0)
            return errno;
        struct statvfs strFs;
        if (fstatvfs(iFD, &strFs) != 0)
            return errno;
        const quint64 qui64Free = quint64(strFs.f_bavail) * strFs.f_frsize;
        if (qui64Free < (quint64(64) << 20))
            return ENOSPC;
        quint64 qui64Want = qui64Free - std::max(qui64Free / 32, quint64(8) << 20);
        qui64Want &= ~((quint64(1) << 20) - 1);
        // A file system that keeps room for its own structures refuses the first size: less.
        for (int iTry = 0; iTry < 4; ++iTry, qui64Want = qui64Want / 8 * 7 & ~((quint64(1) << 20) - 1)) {
            if (fallocate(iFD, 0, 0, off_t(qui64Want)) == 0) {
                qui64Bytes = qui64Want;
                return fsync(iFD) == 0 ? 0 : errno; // the extents on the medium, as FIEMAP tells them
            }
            if (errno != ENOSPC)
                return errno;
        }
        return ENOSPC;
    }
    // Empty while the file is still whole under its name; else why not.
    QString qsStill_Whole() const
    {
        struct stat strName, strFile;
        if (fstat(iFD, &strFile) != 0 || fstatat(iDir, pcName, &strName, AT_SYMLINK_NOFOLLOW) != 0 ||
            strName.st_dev != strFile.st_dev || strName.st_ino != strFile.st_ino ||
            quint64(strFile.st_size) != qui64Bytes)
            return qsProbe_File_Changed_Why(pcName);
        return QString();
    }

    // True where nothing is under the name now: there was nothing, or what a killed probe left
    // (a regular file of ours, one link, mode 0600, its space allocated and never written).
    bool bRemove_Left_Over() const
    {
        struct stat strName;
        if (fstatat(iDir, pcName, &strName, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT;
        if (!S_ISREG(strName.st_mode) || strName.st_nlink != 1 || strName.st_uid != geteuid() ||
            (strName.st_mode & 07777) != 0600)
            return false;
        const int iOld = openat(iDir, pcName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (iOld < 0)
            return false;
        struct stat strOld;
        const bool bOurs = fstat(iOld, &strOld) == 0 && strOld.st_ino == strName.st_ino &&
                           strOld.st_dev == strName.st_dev && bAllocated_Unwritten(iOld);
        close(iOld);
        return bOurs && unlinkat(iDir, pcName, 0) == 0;
    }

    static constexpr const char *pcName = "probe.data";
    int iDir;
    int iFD = -1;
    quint64 qui64Bytes = 0;
};

// Where the file lies on qsDevice, as whole 4 KiB blocks; false with the reason.
bool bFile_Extents(const cProbe_File &oFile, const QString &qsDir, const QString &qsDevice, tProbe_Extents *pqvExtents,
                   QString *pqsWhy)
{
    cFill_Part oPart;
    oPart.qsPath = qsDir + "/" + cProbe_File::pcName;
    oPart.iFD = oFile.iFD;
    oPart.qui64Words = oFile.qui64Bytes / 8;
    std::vector<cRun> vecRuns;
    if (!bFill_Placement({oPart}, qsDevice, &vecRuns, pqsWhy, nullptr, nullptr, true, true))
        return false;
    pqvExtents->clear();
    for (const cRun &oRun : vecRuns) {
        const quint64 qui64First = (oRun.qui64Offset + qui64Probe_Block - 1) / qui64Probe_Block * qui64Probe_Block;
        const quint64 qui64End = oRun.qui64Offset_End() / qui64Probe_Block * qui64Probe_Block;
        if (qui64First < qui64End)
            pqvExtents->append({qui64First, qui64End});
    }
    std::sort(pqvExtents->begin(), pqvExtents->end());
    if (pqvExtents->isEmpty())
        *pqsWhy = qsProbe_No_Extents_Why();
    return !pqvExtents->isEmpty();
}

// Empty when the probe may go on in the polled volume on the polled device; else why not,
// with the status it leaves.
QString qsProbe_Refused(const cDrive &oDrive, const cVolume &oVolume, cVolume_Lock &oLock, eProbe_Status *peStatus)
{
    *peStatus = eProbe_No_Poll;
    if (oDrive.qsDrive_Name.isEmpty() || oVolume.qsVolume_Name.isEmpty())
        return QString(" ");
    *peStatus = eProbe_Refused;
    QString qsWhy = oVolume.qsChanged();
    if (!qsWhy.isEmpty())
        return qsWhy;
    if (!(oVolume.pDir ? oLock.bTake(*oVolume.pDir, &qsWhy) : oLock.bTake(oVolume.qsVolume_Name, &qsWhy))) {
        *peStatus = oLock.bBusy ? eProbe_Busy : eProbe_Failed;
        return qsWhy;
    }
    // Blocks go to the device under the volume: only where the volume is known to lie on it.
    if (eVolume_On_Device(oLock.qsFD_Path(), oDrive.qsDrive_Name, &qsWhy) != eOn_Device_Yes)
        return qsWhy.replace(oLock.qsFD_Path(), oVolume.qsVolume_Name);
    return QString();
}

// The polled device, open for direct reads and writes and still of the polled size; -1 with why not.
int iOpen_Device(const cDrive &oDrive, QString *pqsWhy)
{
    const int iFD = open(QFile::encodeName(oDrive.qsDrive_Name).constData(), O_RDWR | O_DIRECT | O_CLOEXEC);
    if (iFD < 0) {
        *pqsWhy = QString("%1: %2").arg(oDrive.qsDrive_Name, qsSystem_Reason(errno));
        return -1;
    }
    const off_t offEnd = lseek(iFD, 0, SEEK_END);
    if (offEnd < 0 || quint64(offEnd) != oDrive.qui64Bytes_Count) {
        *pqsWhy = qsProbe_Device_Changed_Why(oDrive.qsDrive_Name);
        close(iFD);
        return -1;
    }
    return iFD;
}

// The rounds on the open device: the whole device every step bytes, then between the last
// sample kept and the first lost while that gap is more than about 1 % of the capacity.
void vRun_Rounds(const int iDevice, const tProbe_Extents &qvExtents, cProbe_Result &oResult, cOperator &oOperator,
                 const std::function<QString()> &qsStill_There)
{
    const quint64 qui64Tag = QRandomGenerator::system()->generate64() | 1;
    const std::vector<quint64> vecFiller = vecProbe_Filler(qvExtents, qui64Probe_Filler);
    quint64 qui64From = 0, qui64To = oResult.qui64Device_Bytes;
    quint64 qui64Step = oResult.qui64Step = qui64Probe_Step(oResult.qui64Device_Bytes);
    cProbe_Judgement oFirst;
    for (int iRound = 0; iRound < 4; ++iRound) {
        cProbe_Round oRound;
        oRound.vecFiller = vecFiller;
        oRound.vecSamples = vecProbe_Samples(qvExtents, qui64From, qui64To, qui64Step, vecFiller);
        if (oRound.vecSamples.empty())
            break;
        // Nothing goes to the device unless the volume and the file are still as placed.
        oResult.qsError = qsStill_There();
        if (!oResult.qsError.isEmpty()) {
            oResult.eStatus = eProbe_Failed;
            return;
        }
        const quint64 qui64Blocks = oRound.vecSamples.size() + vecFiller.size();
        const cProgress_Scope oProgress(oOperator, qsProbe_Progress_Title(), oResult.qsDevice,
                                        4 * qui64Blocks * qui64Probe_Block);
        vProbe_Round(
            iDevice, qui64Tag, oRound, [&oOperator] { return oOperator.bCancelled(); },
            [&oOperator](const quint64 qui64Done) { oOperator.bAdvance(qui64Done * qui64Probe_Block); });
        ++oResult.iRounds;
        oResult.iBlocks += int(oRound.vecSamples.size());
        oResult.qui64Bytes_Written += oRound.qui64Bytes_Written;
        oResult.qui64Not_Restored += oRound.qui64Not_Restored;
        oResult.iRestore_Errno = oResult.iRestore_Errno ? oResult.iRestore_Errno : oRound.iRestore_Errno;
        oResult.iWrite_Errno = oRound.iWrite_Errno;
        if (oRound.bCancelled) {
            oResult.eStatus = eProbe_Cancelled;
            return;
        }
        if (iRound == 0) {
            oFirst = oJudge_Probe(oRound);
            oResult.iUnreadable = oFirst.iUnreadable;
        } else
            vNarrow_Capacity(oRound, oFirst);
        if (oFirst.eValue != eVerdict_Capacity_Limited ||
            oFirst.qui64Usable - oFirst.qui64Last_Good <= std::max(oFirst.qui64Usable / 128, qui64Probe_Block))
            break;
        qui64From = oFirst.qui64Last_Good + qui64Probe_Block;
        qui64To = oFirst.qui64Usable;
        qui64Step = std::max((qui64To - qui64From) / 64 / qui64Probe_Block * qui64Probe_Block, qui64Probe_Block);
    }
    oResult.eStatus = eProbe_Done;
    oResult.eValue = oFirst.eValue;
    oResult.qui64Usable_Bytes = oFirst.qui64Usable;
    oResult.qui64Wrap_Period = oFirst.qui64Period;
    oResult.qui64Cache_Bytes = oFirst.qui64Cache;
}

// The file made and placed, the device opened, the rounds run.
void vProbe_In(const cVolume_Lock &oLock, const cDrive &oDrive, cProbe_Result &oResult, cOperator &oOperator)
{
    cProbe_File oFile(oLock.iDir_FD());
    const int iError = oFile.iMake();
    oResult.qui64File_Bytes = oFile.qui64Bytes;
    if (iError != 0) {
        oResult.eStatus = iError == EOPNOTSUPP ? eProbe_No_Prealloc : eProbe_Failed;
        if (iError == EOPNOTSUPP)
            oResult.qsError = qsProbe_No_Prealloc_Why(oResult.qsVolume);
        else if (iError == EEXIST)
            oResult.qsError = qsProbe_Name_Taken_Why(oResult.qsVolume + cProbe_File::pcName);
        else
            oResult.qsError = QString("%1%2: %3").arg(oResult.qsVolume, cProbe_File::pcName, qsSystem_Reason(iError));
        return;
    }
    tProbe_Extents qvExtents;
    if (!bFile_Extents(oFile, oLock.qsFD_Path(), oDrive.qsDrive_Name, &qvExtents, &oResult.qsError)) {
        oResult.eStatus = eProbe_Unplaced;
        oResult.qsError.replace(oLock.qsFD_Path() + "/", oResult.qsVolume);
        return;
    }
    const int iDevice = iOpen_Device(oDrive, &oResult.qsError);
    if (iDevice < 0) {
        oResult.eStatus = eProbe_Failed;
        return;
    }
    auto qsStill_There = [&]() {
        QString qsWhy = oLock.qsStill_There();
        if (qsWhy.isEmpty())
            qsWhy = oFile.qsStill_Whole();
        tProbe_Extents qvNow;
        QString qsIgnored;
        if (qsWhy.isEmpty() && (!bFile_Extents(oFile, oLock.qsFD_Path(), oDrive.qsDrive_Name, &qvNow, &qsIgnored) ||
                                qvNow != qvExtents))
            qsWhy = qsProbe_File_Changed_Why(oResult.qsVolume + cProbe_File::pcName);
        return qsWhy;
    };
    vRun_Rounds(iDevice, qvExtents, oResult, oOperator, qsStill_There);
    if (close(iDevice) != 0 && oResult.iRestore_Errno == 0)
        oResult.iRestore_Errno = errno;
}

} // namespace

cProbe_Result oProbe(const cDrive &oDrive, const cVolume &oVolume, cOperator &oOperator)
{
    cProbe_Result oResult;
    QElapsedTimer qTimer;
    qTimer.start();
    oResult.qsDevice = oDrive.qsDrive_Name;
    oResult.qsVolume = oVolume.qsVolume_Name;
    oResult.qui64Device_Bytes = oDrive.qui64Bytes_Count;
    cVolume_Lock oLock;
    oResult.qsError = qsProbe_Refused(oDrive, oVolume, oLock, &oResult.eStatus);
    if (oResult.qsError.isEmpty()) {
        // What the file system still holds in memory goes to the medium first: nothing of it
        // is to be written while the probe's blocks lie there.
        if (syncfs(oLock.iDir_FD()) != 0) {
            oResult.eStatus = eProbe_Failed;
            oResult.qsError = QString("%1: %2").arg(oResult.qsVolume, qsSystem_Reason(errno));
        } else
            vProbe_In(oLock, oDrive, oResult, oOperator);
    }
    if (oResult.eStatus == eProbe_No_Poll)
        oResult.qsError = oOperator.qsPoll_First();
    oResult.qi64Elapsed_Ms = qTimer.elapsed();
    return oResult;
}
