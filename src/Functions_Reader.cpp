#include "Functions_Reader.h"

#include "Functions_Core.h"
#include "Functions_Files.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Direct, because dropping the cache is not enough: on a file system with blocks smaller
// than a page, a page that still carries a metadata buffer cannot be dropped, and the
// file data in its other blocks is then read stale.
eRead_Mode eRead_Mode_Current = eRead_Direct;

// Direct reads go to the disk in large requests; cached ones copy into a buffer small
// enough to stay in the core's cache while it is scanned.
const quint64 qui64Direct_Block = 4 << 20;
const quint64 qui64Cached_Block = 1 << 20;
const int iMax_Regions = 1024;

class cScan_Job
{
public:
    int iFD = -1;
    bool bDirect = false;
    quint64 qui64Bytes = 0;
    quint64 qui64Block = 0;
    quint64 qui64Blocks = 0;
    quint64 qui64Retry_Unit = 512;
    quint64 qui64Pattern = 0;
    quint64 qui64Bound = 0;
    quint64 qui64Region_Bytes = 0;
    int iRegions = 0;
    cBit_Table *pTable = nullptr;

    std::atomic<quint64> qui64Next_Block{0};
    std::atomic<quint64> qui64Done{0};
    std::atomic<bool> bStop{false};
};

// One worker's share, merged when the scan ends.
class cScan_Totals
{
public:
    quint64 qui64Hits = 0;
    quint64 qui64Distinct = 0;
    quint64 qui64Bad = 0;
    QVector<quint64> qvRegion_Hits, qvRegion_Bad, qvRegion_Done;
};

// Calls vEach(region, first, length) for the pieces of [qui64Offset, +qui64Length) per region.
template <typename tFunction>
void vFor_Regions(const cScan_Job &oJob, quint64 qui64Offset, const quint64 qui64Length, tFunction vEach)
{
    const quint64 qui64End = qui64Offset + qui64Length;
    while (qui64Offset < qui64End) {
        const quint64 qui64Region = qui64Offset / oJob.qui64Region_Bytes;
        const quint64 qui64Piece_End = std::min(qui64End, (qui64Region + 1) * oJob.qui64Region_Bytes);
        vEach(int(qui64Region), qui64Offset, qui64Piece_End - qui64Offset);
        qui64Offset = qui64Piece_End;
    }
}

void vScan_Bytes(const cScan_Job &oJob, cScan_Totals &oTotals, const uchar *pucBlock,
                 const quint64 qui64Block_Offset, const quint64 qui64Offset, const quint64 qui64Length)
{
    vFor_Regions(oJob, qui64Offset, qui64Length, [&](int iRegion, quint64 qui64First, quint64 qui64Piece) {
        const quint64 qui64Hits = qui64Scan_Words(pucBlock + (qui64First - qui64Block_Offset), qui64Piece / 8,
                                                  oJob.qui64Pattern, oJob.qui64Bound, *oJob.pTable, true,
                                                  &oTotals.qui64Distinct);
        oTotals.qvRegion_Hits[iRegion] += qui64Hits;
        oTotals.qui64Hits += qui64Hits;
    });
}

void vCount_Bad(const cScan_Job &oJob, cScan_Totals &oTotals, const quint64 qui64Offset, const quint64 qui64Length)
{
    oTotals.qui64Bad += qui64Length;
    vFor_Regions(oJob, qui64Offset, qui64Length, [&](int iRegion, quint64, quint64 qui64Piece) {
        oTotals.qvRegion_Bad[iRegion] += qui64Piece;
    });
}

// Reads until qui64Length bytes are in, the end of the device, or an error. Returns the
// bytes read; *piError gets the errno of the failure, 0 for a clean end.
quint64 qui64Read_Block(const cScan_Job &oJob, uchar *pucBuffer, const quint64 qui64Offset,
                        const quint64 qui64Length, int *piError)
{
    // A direct read must cover whole sectors; the device's end cuts it short. The caller's
    // buffer always has room up to the next sector boundary.
    const quint64 qui64Unit = oJob.qui64Retry_Unit;
    const quint64 qui64Request = oJob.bDirect ? (qui64Length + qui64Unit - 1) / qui64Unit * qui64Unit : qui64Length;
    return std::min(qui64Read_Full(oJob.iFD, pucBuffer, qui64Request, qui64Offset, piError), qui64Length);
}

// One block: read it whole; after a failure, go on unit by unit, scanning what can be read
// and counting what cannot.
void vScan_Block(const cScan_Job &oJob, cScan_Totals &oTotals, uchar *pucBuffer, const quint64 qui64Offset,
                 const quint64 qui64Length)
{
    int iError = 0;
    const quint64 qui64Read = qui64Read_Block(oJob, pucBuffer, qui64Offset, qui64Length, &iError);
    const quint64 qui64End = qui64Offset + qui64Length;
    if (iError == 0) {
        // Whole, or cut short by the device's end (it shrank under us): the rest was not read.
        const quint64 qui64Words = qui64Read & ~7ULL;
        vScan_Bytes(oJob, oTotals, pucBuffer, qui64Offset, qui64Offset, qui64Words);
        if (qui64Words < qui64Length)
            vCount_Bad(oJob, oTotals, qui64Offset + qui64Words, qui64Length - qui64Words);
        return;
    }
    // Keep what came before the error, in whole units so the retries start aligned.
    const quint64 qui64Good = qui64Read / oJob.qui64Retry_Unit * oJob.qui64Retry_Unit;
    vScan_Bytes(oJob, oTotals, pucBuffer, qui64Offset, qui64Offset, qui64Good);
    quint64 qui64Position = qui64Offset + qui64Good;
    while (qui64Position < qui64End) {
        const quint64 qui64Unit_End =
            std::min(qui64End, (qui64Position / oJob.qui64Retry_Unit + 1) * oJob.qui64Retry_Unit);
        const quint64 qui64Want = qui64Unit_End - qui64Position;
        uchar *pucAt = pucBuffer + (qui64Position - qui64Offset);
        const quint64 qui64Unit_Read = qui64Read_Block(oJob, pucAt, qui64Position, qui64Want, &iError) & ~7ULL;
        vScan_Bytes(oJob, oTotals, pucBuffer, qui64Offset, qui64Position, qui64Unit_Read);
        if (qui64Unit_Read < qui64Want)
            vCount_Bad(oJob, oTotals, qui64Position + qui64Unit_Read, qui64Want - qui64Unit_Read);
        qui64Position = qui64Unit_End;
    }
}

void vScan_Worker(cScan_Job &oJob, cScan_Totals &oTotals, uchar *pucBuffer)
{
    oTotals.qvRegion_Hits.fill(0, oJob.iRegions);
    oTotals.qvRegion_Bad.fill(0, oJob.iRegions);
    oTotals.qvRegion_Done.fill(0, oJob.iRegions);
    while (!oJob.bStop) {
        const quint64 qui64Block = oJob.qui64Next_Block.fetch_add(1);
        if (qui64Block >= oJob.qui64Blocks)
            break;
        const quint64 qui64Offset = qui64Block * oJob.qui64Block;
        const quint64 qui64Length = std::min(oJob.qui64Block, oJob.qui64Bytes - qui64Offset);
        vScan_Block(oJob, oTotals, pucBuffer, qui64Offset, qui64Length);
        if (!oJob.bDirect) // drop behind the read, so a whole-disk scan does not flood the page cache
            posix_fadvise(oJob.iFD, off_t(qui64Offset), off_t(qui64Length), POSIX_FADV_DONTNEED);
        vFor_Regions(oJob, qui64Offset, qui64Length, [&](int iRegion, quint64, quint64 qui64Piece) {
            oTotals.qvRegion_Done[iRegion] += qui64Piece;
        });
        oJob.qui64Done += qui64Length;
    }
}

// Opens the device for the read. A direct open that the file system refuses (tmpfs)
// falls back to a buffered one.
int iOpen_Device(const QString &qsDevice, const bool bWant_Direct, bool *pbDirect, int *piError)
{
    const std::string sPath = qsDevice.toStdString();
    int iFD = -1;
    if (bWant_Direct) {
        iFD = open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT);
        *pbDirect = iFD >= 0;
    }
    if (iFD < 0) {
        iFD = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
        *pbDirect = false;
    }
    *piError = iFD < 0 ? errno : 0;
    return iFD;
}

quint64 qui64Retry_Unit(const int iFD, const bool bDirect)
{
    int iSector = 0;
    if (ioctl(iFD, BLKSSZGET, &iSector) == 0 && iSector >= 512)
        return quint64(iSector);
    return bDirect ? stIO_Alignment : 512;
}

} // namespace

void vSet_Read_Mode(const eRead_Mode eMode)
{
    eRead_Mode_Current = eMode;
}

void vScan_Device(const QString &qsDrive_Name, const quint64 qui64Bytes_Count, const quint64 qui64Pattern,
                  const quint64 qui64Data_Part, cRead_Result &oResult)
{
    QElapsedTimer qTimer;
    qTimer.start();
    oResult = cRead_Result();
    oResult.qsDevice = qsDrive_Name;
    oResult.qui64Pattern = qui64Pattern;
    oResult.qui64Bytes_Count = qui64Bytes_Count;

    if (qsDrive_Name.isEmpty()) {
        oResult.eStatus = eRead_No_Poll;
        return;
    }
    const quint64 qui64Data_Count = qui64Bytes_Count >> 3;
    oResult.qui64Table_Count = std::min(qui64Data_Part, qui64Data_Count);
    if (!oResult.oTable.bAllocate(oResult.qui64Table_Count)) {
        oResult.eStatus = eRead_Alloc_Failed;
        oResult.qsError = qsSystem_Reason(ENOMEM);
        return;
    }

    cScan_Job oJob;
    int iError = 0;
    oJob.iFD = iOpen_Device(qsDrive_Name, eRead_Mode_Current == eRead_Direct, &oJob.bDirect, &iError);
    if (oJob.iFD < 0) {
        oResult.eStatus = eRead_Open_Failed;
        oResult.qsError = qsSystem_Reason(iError);
        oResult.oTable.vRelease();
        return;
    }
    oResult.bDirect = oJob.bDirect;
    if (!oJob.bDirect) {
        // Pages cached before the fill would hide what the file system wrote since.
        posix_fadvise(oJob.iFD, 0, 0, POSIX_FADV_DONTNEED);
        posix_fadvise(oJob.iFD, 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    oJob.qui64Bytes = qui64Bytes_Count & ~7ULL; // a trailing part-word is never a fill word
    oJob.qui64Block = oJob.bDirect ? qui64Direct_Block : qui64Cached_Block;
    oJob.qui64Blocks = (oJob.qui64Bytes + oJob.qui64Block - 1) / oJob.qui64Block;
    oJob.qui64Retry_Unit = qui64Retry_Unit(oJob.iFD, oJob.bDirect);
    oJob.qui64Pattern = qui64Pattern;
    // Only words >= pattern count: at most 2^64 - pattern indexes exist above it.
    oJob.qui64Bound = qui64Pattern == 0 ? oResult.qui64Table_Count
                                        : std::min(oResult.qui64Table_Count, 0 - qui64Pattern);
    const quint64 qui64Cell = (oJob.qui64Bytes + iMax_Regions - 1) / iMax_Regions;
    oJob.qui64Region_Bytes = std::max<quint64>(8, (qui64Cell + 7) & ~7ULL);
    oJob.iRegions = int((oJob.qui64Bytes + oJob.qui64Region_Bytes - 1) / oJob.qui64Region_Bytes);
    oJob.pTable = &oResult.oTable;

    const int iThreads = qBound(2, QThread::idealThreadCount(), 4);
    std::vector<cScan_Totals> vecTotals(static_cast<size_t>(iThreads));
    std::vector<std::unique_ptr<uchar, decltype(&std::free)>> vecBuffers;
    for (int t = 0; t < iThreads; ++t) {
        vecBuffers.emplace_back(static_cast<uchar *>(std::aligned_alloc(stIO_Alignment, oJob.qui64Block)), &std::free);
        if (!vecBuffers.back()) {
            close(oJob.iFD);
            oResult.oTable.vRelease();
            oResult.eStatus = eRead_Alloc_Failed;
            oResult.qsError = qsSystem_Reason(ENOMEM);
            return;
        }
    }
    std::vector<std::thread> vecThreads;
    std::mutex qMutex;
    std::condition_variable qDone;
    int iRunning = 0;
    {
        cProgress oProgress("Чтение", "Чтение носителя " + qsDrive_Name, oJob.qui64Bytes);
        for (int t = 0; t < iThreads; ++t) {
            std::lock_guard<std::mutex> qLock(qMutex);
            try {
                vecThreads.emplace_back([&, t] {
                    vScan_Worker(oJob, vecTotals[size_t(t)], vecBuffers[size_t(t)].get());
                    std::lock_guard<std::mutex> qLock_Done(qMutex);
                    --iRunning;
                    qDone.notify_all();
                });
                ++iRunning;
            } catch (const std::system_error &) {
                break; // fewer workers still finish the scan
            }
        }
        std::unique_lock<std::mutex> qLock(qMutex);
        while (iRunning > 0) {
            qDone.wait_for(qLock, std::chrono::milliseconds(100));
            qLock.unlock();
            if (!oProgress.bUpdate(oJob.qui64Done))
                oJob.bStop = true;
            qLock.lock();
        }
    }
    if (vecThreads.empty()) // no thread could be started: scan on this one
        vScan_Worker(oJob, vecTotals[0], vecBuffers[0].get());
    for (std::thread &qThread : vecThreads)
        qThread.join();
    close(oJob.iFD);

    oResult.qui64Region_Bytes = oJob.qui64Region_Bytes;
    oResult.qvRegion_Hits.fill(0, oJob.iRegions);
    oResult.qvRegion_Bad.fill(0, oJob.iRegions);
    oResult.qvRegion_Done.fill(0, oJob.iRegions);
    for (const cScan_Totals &oTotals : vecTotals) {
        oResult.qui64Hits += oTotals.qui64Hits;
        oResult.qui64Distinct += oTotals.qui64Distinct;
        oResult.qui64Bytes_Bad += oTotals.qui64Bad;
        for (int r = 0; r < oTotals.qvRegion_Hits.size(); ++r) {
            oResult.qvRegion_Hits[r] += oTotals.qvRegion_Hits[r];
            oResult.qvRegion_Bad[r] += oTotals.qvRegion_Bad[r];
            oResult.qvRegion_Done[r] += oTotals.qvRegion_Done[r];
        }
    }
    oResult.qui64Bytes_Done = oJob.qui64Done;
    oResult.eStatus = oJob.qui64Done < oJob.qui64Bytes ? eRead_Cancelled : eRead_Done;
    oResult.qi64Elapsed_Ms = qTimer.elapsed();
}

const char *pcRead_Status_Name(const eRead_Status eStatus)
{
    switch (eStatus) {
    case eRead_Not_Run:
        return "not_run";
    case eRead_No_Poll:
        return "no_poll";
    case eRead_Done:
        return "done";
    case eRead_Cancelled:
        return "cancelled";
    case eRead_Open_Failed:
        return "open_failed";
    case eRead_Alloc_Failed:
        return "alloc_failed";
    }
    return "";
}
