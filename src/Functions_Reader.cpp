#include "Functions_Reader.h"
#include "Functions_Report_Texts.h"

#include "Functions_Files.h"
#include "Functions_Memory.h"
#include "Functions_Operator.h"
#include "Functions_Pool.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cerrno>
#include <memory>
#include <new>
#include <mutex>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Blocks small enough to be still in the processor's cache when they are scanned after the
// device has filled them; many of them in flight keep a disk's queue as deep as 4 MiB
// requests at depth 8 would.
const quint64 qui64Block_Bytes = 1 << 20;
const int iMax_Regions = 1024;

// One read, shared by the readers and the caller. Whoever lets go of it last closes the
// device: a reader abandoned in a stalled request may outlive the call.
class cScan_Job
{
public:
    ~cScan_Job()
    {
        if (iFD >= 0)
            close(iFD);
    }

    QString qsDevice;
    int iFD = -1;
    bool bDirect = false;
    bool bImage = false; // a regular file: its holes need not be read
    quint64 qui64Bytes = 0;
    quint64 qui64Block = 0;
    quint64 qui64Blocks = 0;
    quint64 qui64Retry_Unit = 512;
    quint64 qui64Pattern = 0;
    quint64 qui64Bound = 0;
    quint64 qui64Region_Bytes = 0;
    int iRegions = 0;
    std::unique_ptr<cIO_Buffers> pBuffers;
    cRead_Plan oPlan;
    quint64 qui64Planned = 0; // bytes the plan reads

    bool bWanted(const quint64 qui64Block_Index) const
    {
        return qui64Block_Index * qui64Block < oPlan.qui64Whole_To ||
               qui64Block_Index % quint64(std::max(1, oPlan.iSample_Every)) == 0;
    }

    std::atomic<quint64> qui64Next_Block{0};
    std::atomic<quint64> qui64Done{0};
    std::atomic<bool> bStop{false};
    std::unique_ptr<cWorker_Gauge> pGauge; // readers allowed to have a block in the medium
    cRun_Table oRuns{qui64Run_Bound()}; // as many runs as the memory there is allows

    // What the finished blocks saw, under qMutex.
    std::mutex qMutex;
    quint64 qui64Hits = 0;
    quint64 qui64Bad = 0;
    quint64 qui64Shrunk_To = 0; // the device's size when it turned out smaller
    bool bShrunk = false;
    QVector<quint64> qvRegion_Hits, qvRegion_Bad, qvRegion_Done;
    std::vector<bool> vecBlock_Done;
    QVector<QPair<quint64, quint64>> qvBad;
};

// What one block saw, merged into the job when it is done.
class cBlock_Result
{
public:
    std::vector<cRun> vecRuns;
    quint64 qui64Hits = 0;
    quint64 qui64Untracked = 0, qui64Untracked_From = 0; // counted, no memory to keep their runs
    QVector<QPair<quint64, quint64>> qvBad; // [first, end)
};

quint64 qui64Device_Size(const int iFD)
{
    struct stat strStat;
    if (fstat(iFD, &strStat) != 0)
        return 0;
    if (S_ISREG(strStat.st_mode))
        return quint64(strStat.st_size);
    quint64 qui64Size = 0;
    return ioctl(iFD, BLKGETSIZE64, &qui64Size) == 0 ? qui64Size : 0;
}

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

// Reads up to qui64Length bytes at qui64Offset into pucBuffer. A direct read must cover
// whole sectors; the caller's buffer always has room up to the next sector boundary.
quint64 qui64Read_Block(const cScan_Job &oJob, uchar *pucBuffer, const quint64 qui64Offset, const quint64 qui64Length,
                        int *piError)
{
    const quint64 qui64Unit = oJob.qui64Retry_Unit;
    const quint64 qui64Request = oJob.bDirect ? (qui64Length + qui64Unit - 1) / qui64Unit * qui64Unit : qui64Length;
    return std::min(qui64Read_Full(oJob.iFD, pucBuffer, qui64Request, qui64Offset, piError), qui64Length);
}

void vScan_Bytes(const cScan_Job &oJob, cBlock_Result &oBlock, const uchar *pucData, const quint64 qui64Offset,
                 const quint64 qui64Length)
{
    const size_t stBefore = oBlock.vecRuns.size();
    try {
        oBlock.qui64Hits += qui64Scan_Words(pucData, qui64Length / 8, qui64Offset, oJob.qui64Pattern,
                                            oJob.qui64Bound, oBlock.vecRuns, true);
    } catch (const std::bad_alloc &) { // no room for the runs: the words are counted, not placed
        oBlock.vecRuns.erase(oBlock.vecRuns.begin() + std::ptrdiff_t(stBefore), oBlock.vecRuns.end());
        const quint64 qui64Count = qui64Count_Words(pucData, qui64Length / 8, oJob.qui64Pattern, oJob.qui64Bound);
        if (oBlock.qui64Untracked == 0)
            oBlock.qui64Untracked_From = qui64Offset;
        oBlock.qui64Hits += qui64Count;
        oBlock.qui64Untracked += qui64Count;
    }
}

// The device ended before the size the poll saw: it shrank, unless it is as large as ever.
bool bShrank(cScan_Job &oJob)
{
    const quint64 qui64Now = qui64Device_Size(oJob.iFD);
    if (qui64Now >= oJob.qui64Bytes)
        return false;
    std::lock_guard<std::mutex> qLock(oJob.qMutex);
    oJob.bShrunk = true;
    oJob.qui64Shrunk_To = qui64Now;
    oJob.bStop = true;
    return true;
}

// One block: read it whole; after a failure, go on unit by unit, scanning what can be read
// and noting what cannot. Returns false when the device has shrunk under the read.
bool bScan_Block(cScan_Job &oJob, cBlock_Result &oBlock, uchar *pucBuffer, const quint64 qui64Offset,
                 const quint64 qui64Length)
{
    int iError = 0;
    const quint64 qui64Read = qui64Read_Block(oJob, pucBuffer, qui64Offset, qui64Length, &iError);
    if (iError == 0) {
        vScan_Bytes(oJob, oBlock, pucBuffer, qui64Offset, qui64Read & ~7ULL);
        return qui64Read == qui64Length || !bShrank(oJob);
    }
    // Keep what came before the error, in whole units so the retries start aligned.
    const quint64 qui64Good = qui64Read / oJob.qui64Retry_Unit * oJob.qui64Retry_Unit;
    vScan_Bytes(oJob, oBlock, pucBuffer, qui64Offset, qui64Good);
    const quint64 qui64End = qui64Offset + qui64Length;
    for (quint64 qui64Position = qui64Offset + qui64Good; qui64Position < qui64End;) {
        const quint64 qui64Unit_End =
            std::min(qui64End, (qui64Position / oJob.qui64Retry_Unit + 1) * oJob.qui64Retry_Unit);
        const quint64 qui64Want = qui64Unit_End - qui64Position;
        uchar *pucAt = pucBuffer + (qui64Position - qui64Offset);
        const quint64 qui64Unit_Read = qui64Read_Block(oJob, pucAt, qui64Position, qui64Want, &iError) & ~7ULL;
        vScan_Bytes(oJob, oBlock, pucAt, qui64Position, qui64Unit_Read);
        if (qui64Unit_Read < qui64Want) {
            if (iError == 0 && bShrank(oJob))
                return false;
            const QPair<quint64, quint64> qpBad(qui64Position + qui64Unit_Read, qui64Unit_End);
            if (!oBlock.qvBad.isEmpty() && oBlock.qvBad.last().second == qpBad.first)
                oBlock.qvBad.last().second = qpBad.second;
            else
                oBlock.qvBad.append(qpBad);
        }
        qui64Position = qui64Unit_End;
    }
    return true;
}

// A block of an image file that lies wholly in a hole holds zeros: nothing to read.
bool bIn_Hole(const cScan_Job &oJob, const quint64 qui64Offset, const quint64 qui64Length)
{
    if (!oJob.bImage)
        return false;
    const off_t offData = lseek(oJob.iFD, off_t(qui64Offset), SEEK_DATA);
    return (offData < 0 && errno == ENXIO) || (offData >= 0 && quint64(offData) >= qui64Offset + qui64Length);
}

void vMerge_Block(cScan_Job &oJob, const quint64 qui64Block, const quint64 qui64Offset, const quint64 qui64Length,
                  cBlock_Result &oBlock)
{
    std::lock_guard<std::mutex> qLock(oJob.qMutex);
    oJob.qui64Hits += oBlock.qui64Hits;
    for (const cRun &oRun : oBlock.vecRuns)
        vFor_Regions(oJob, oRun.qui64Offset, 8 * oRun.qui64Count,
                     [&](int iRegion, quint64, quint64 qui64Piece) { oJob.qvRegion_Hits[iRegion] += qui64Piece / 8; });
    for (const auto &qpBad : oBlock.qvBad) {
        oJob.qui64Bad += qpBad.second - qpBad.first;
        oJob.qvBad.append(qpBad);
        vFor_Regions(oJob, qpBad.first, qpBad.second - qpBad.first,
                     [&](int iRegion, quint64, quint64 qui64Piece) { oJob.qvRegion_Bad[iRegion] += qui64Piece; });
    }
    vFor_Regions(oJob, qui64Offset, qui64Length,
                 [&](int iRegion, quint64, quint64 qui64Piece) { oJob.qvRegion_Done[iRegion] += qui64Piece; });
    oJob.vecBlock_Done[size_t(qui64Block)] = true;
    oJob.qui64Done += qui64Length;
}

void vScan_Worker(cScan_Job &oJob, uchar *pucBuffer, const int iReader)
{
    while (oJob.pGauge->bMay_Go(iReader, oJob.bStop)) {
        const quint64 qui64Block = oJob.qui64Next_Block.fetch_add(1);
        if (qui64Block >= oJob.qui64Blocks) {
            oJob.pGauge->vNo_More_Work();
            break;
        }
        if (!oJob.bWanted(qui64Block))
            continue;
        const quint64 qui64Offset = qui64Block * oJob.qui64Block;
        const quint64 qui64Length = std::min(oJob.qui64Block, oJob.qui64Bytes - qui64Offset);
        cBlock_Result oBlock;
        if (!bIn_Hole(oJob, qui64Offset, qui64Length) &&
            !bScan_Block(oJob, oBlock, pucBuffer, qui64Offset, qui64Length))
            break;
        if (!oJob.bDirect) // drop behind the read, so a whole-disk scan does not flood the page cache
            posix_fadvise(oJob.iFD, off_t(qui64Offset), off_t(qui64Length), POSIX_FADV_DONTNEED);
        // The region totals first: the table takes the block's runs away.
        vMerge_Block(oJob, qui64Block, qui64Offset, qui64Length, oBlock);
        if (oBlock.qui64Untracked > 0)
            oJob.oRuns.vAdd_Untracked(oBlock.qui64Untracked, oBlock.qui64Untracked_From);
        quint64 qui64Words = 0;
        for (const cRun &oRun : oBlock.vecRuns)
            qui64Words += oRun.qui64Count;
        try {
            oJob.oRuns.vAdd_Block(qui64Block, std::move(oBlock.vecRuns));
        } catch (const std::bad_alloc &) { // the table could not even hold the block aside
            oJob.oRuns.vAdd_Untracked(qui64Words, qui64Offset);
        }
    }
}

// Opens the device for the read without waiting (a FIFO would block for ever) and takes
// only what can hold a volume: a block device or an image file. Direct, because dropping
// the cache is not enough: on a file system with blocks smaller than a page, a page that
// still carries a metadata buffer cannot be dropped, and the file data in its other blocks
// is then read stale. A direct open that the file system refuses (tmpfs) falls back to a
// buffered one.
eRead_Status eOpen_Device(const QString &qsDevice, cScan_Job &oJob, QString *pqsError)
{
    const std::string sPath = qsDevice.toStdString();
    const int iFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    int iFD = open(sPath.c_str(), iFlags | O_DIRECT);
    oJob.bDirect = iFD >= 0;
    if (iFD < 0)
        iFD = open(sPath.c_str(), iFlags);
    if (iFD < 0) {
        *pqsError = qsSystem_Reason(errno);
        return eRead_Open_Failed;
    }
    oJob.iFD = iFD;
    struct stat strStat;
    if (fstat(iFD, &strStat) != 0) {
        *pqsError = qsSystem_Reason(errno);
        return eRead_Open_Failed;
    }
    if (!S_ISBLK(strStat.st_mode) && !S_ISREG(strStat.st_mode)) {
        *pqsError = qsNot_Device_Why();
        return eRead_Not_Device;
    }
    oJob.bImage = S_ISREG(strStat.st_mode);
    const int iOpen_Flags = fcntl(iFD, F_GETFL);
    if (iOpen_Flags == -1 || fcntl(iFD, F_SETFL, iOpen_Flags & ~O_NONBLOCK) != 0) {
        *pqsError = qsSystem_Reason(errno);
        return eRead_Open_Failed;
    }
    return eRead_Done;
}

quint64 qui64Retry_Unit(const int iFD, const bool bDirect)
{
    int iSector = 0;
    if (ioctl(iFD, BLKSSZGET, &iSector) == 0 && iSector >= 512)
        return quint64(iSector);
    return bDirect ? stIO_Alignment : 512;
}

// Readers, each with one request in flight: one waiting on the device costs no processor
// time, and the scanning is shared by the cores.
const int iReaders = 16;

void vPrepare_Job(cScan_Job &oJob, const quint64 qui64Bytes_Count, const quint64 qui64Pattern,
                  const quint64 qui64Data_Count)
{
    oJob.qui64Bytes = qui64Bytes_Count & ~7ULL; // a trailing part-word is never a fill word
    oJob.qui64Block = qui64Block_Bytes;
    oJob.qui64Blocks = (oJob.qui64Bytes + oJob.qui64Block - 1) / oJob.qui64Block;
    oJob.qui64Retry_Unit = qui64Retry_Unit(oJob.iFD, oJob.bDirect);
    oJob.qui64Pattern = qui64Pattern;
    // Only words >= pattern count: at most 2^64 - pattern indexes exist above it.
    oJob.qui64Bound = qui64Pattern == 0 ? qui64Data_Count : std::min(qui64Data_Count, 0 - qui64Pattern);
    const quint64 qui64Cell = (oJob.qui64Bytes + iMax_Regions - 1) / iMax_Regions;
    oJob.qui64Region_Bytes = std::max<quint64>(8, (qui64Cell + 7) & ~7ULL);
    oJob.iRegions = int((oJob.qui64Bytes + oJob.qui64Region_Bytes - 1) / oJob.qui64Region_Bytes);
    oJob.qvRegion_Hits.fill(0, oJob.iRegions);
    oJob.qvRegion_Bad.fill(0, oJob.iRegions);
    oJob.qvRegion_Done.fill(0, oJob.iRegions);
    oJob.vecBlock_Done.assign(size_t(oJob.qui64Blocks), false);
    for (quint64 b = 0; b < oJob.qui64Blocks; ++b)
        if (oJob.bWanted(b))
            oJob.qui64Planned += std::min(oJob.qui64Block, oJob.qui64Bytes - b * oJob.qui64Block);
}

// Runs the readers and waits for them, showing progress. Returns false when a cancelled
// read's readers did not come back in time and were left behind.
bool bRun_Readers(const std::shared_ptr<cScan_Job> &pJob, cOperator &oOperator)
{
    cScan_Job &oJob = *pJob;
    oJob.pGauge = std::make_unique<cWorker_Gauge>(oJob.pBuffers->iCount(), oJob.qui64Block);
    const cProgress_Scope oProgress(oOperator, qsRead_Progress_Title(), qsRead_Progress_Text(oJob.qsDevice),
                                    oJob.qui64Planned);
    return bRun_Workers(
        oJob.pBuffers->iCount(),
        [pJob](int iReader) { vScan_Worker(*pJob, pJob->pBuffers->pucBuffer(iReader), iReader); }, oJob.bStop, [&] {
            oJob.pGauge->vMeasure(oJob.qui64Done);
            return oOperator.bAdvance(oJob.qui64Done);
        });
}

// Ranges sorted, and those that touch joined.
QVector<QPair<quint64, quint64>> qvMerged(QVector<QPair<quint64, quint64>> qvRanges)
{
    std::sort(qvRanges.begin(), qvRanges.end());
    QVector<QPair<quint64, quint64>> qvResult;
    for (const auto &qpRange : qvRanges) {
        if (!qvResult.isEmpty() && qvResult.last().second >= qpRange.first)
            qvResult.last().second = std::max(qvResult.last().second, qpRange.second);
        else
            qvResult.append(qpRange);
    }
    return qvResult;
}

// What the read did not cover: the unreadable ranges and the blocks never read.
QVector<QPair<quint64, quint64>> qvNot_Covered(const cScan_Job &oJob)
{
    QVector<QPair<quint64, quint64>> qvRanges = oJob.qvBad;
    for (quint64 b = 0; b < oJob.qui64Blocks; ++b)
        if (!oJob.vecBlock_Done[size_t(b)])
            qvRanges.append({b * oJob.qui64Block, std::min(oJob.qui64Bytes, (b + 1) * oJob.qui64Block)});
    return qvMerged(qvRanges);
}

// The blocks the read was to cover and never reached.
tRanges qvUnread(const cScan_Job &oJob, quint64 *pqui64Bytes)
{
    tRanges qvRanges;
    *pqui64Bytes = 0;
    for (quint64 b = 0; b < oJob.qui64Blocks; ++b) {
        if (oJob.vecBlock_Done[size_t(b)] || !oJob.bWanted(b))
            continue;
        const quint64 qui64First = b * oJob.qui64Block, qui64End = std::min(oJob.qui64Bytes, qui64First + oJob.qui64Block);
        *pqui64Bytes += qui64End - qui64First;
        if (!qvRanges.isEmpty() && qvRanges.last().second == qui64First)
            qvRanges.last().second = qui64End;
        else
            qvRanges.append({qui64First, qui64End});
    }
    return qvRanges;
}

void vCollect(cScan_Job &oJob, cRead_Result &oResult)
{
    oResult.vecRuns = oJob.oRuns.vecTake(&oResult.qui64Untracked_Words, &oResult.qui64Untracked_From);
    oResult.qui64Distinct = qui64Sort_By_Index(oResult.vecRuns);
    std::lock_guard<std::mutex> qLock(oJob.qMutex);
    oResult.qui64Hits = oJob.qui64Hits;
    oResult.qui64Bytes_Bad = oJob.qui64Bad;
    oResult.qui64Bytes_Done = oJob.qui64Done;
    oResult.qui64Region_Bytes = oJob.qui64Region_Bytes;
    oResult.qvRegion_Hits = oJob.qvRegion_Hits;
    oResult.qvRegion_Bad = oJob.qvRegion_Bad;
    oResult.qvRegion_Done = oJob.qvRegion_Done;
    oResult.qvNot_Read = qvNot_Covered(oJob);
    oResult.qvUnreadable = qvMerged(oJob.qvBad);
    oResult.qvUnread = qvUnread(oJob, &oResult.qui64Unread_Bytes);
    oResult.qui64Shrunk_To = oJob.qui64Shrunk_To;
    if (oJob.bShrunk)
        oResult.eStatus = eRead_Shrunk;
    else
        oResult.eStatus = oJob.qui64Done < oJob.qui64Planned ? eRead_Cancelled : eRead_Done;
    oResult.bSampled = oJob.qui64Planned < oJob.qui64Bytes;
    oResult.qui64Bytes_Planned = oJob.qui64Planned;
}

} // namespace

void vScan_Device(const QString &qsDrive_Name, const quint64 qui64Bytes_Count, const quint64 qui64Pattern,
                  const quint64 qui64Data_Part, cOperator &oOperator, cRead_Result &oResult, const cRead_Plan &oPlan)
{
    QElapsedTimer qTimer;
    qTimer.start();
    oResult = cRead_Result();
    oResult.qsDevice = qsDrive_Name;
    oResult.qui64Pattern = qui64Pattern;
    oResult.qui64Bytes_Count = qui64Bytes_Count;
    oResult.qui64Data_Count = qui64Data_Part;
    oResult.qdtRead = QDateTime::currentDateTime();
    if (qsDrive_Name.isEmpty()) {
        oResult.eStatus = eRead_No_Poll;
        return;
    }

    auto pJob = std::make_shared<cScan_Job>();
    pJob->qsDevice = qsDrive_Name;
    pJob->oPlan = oPlan;
    oResult.eStatus = eOpen_Device(qsDrive_Name, *pJob, &oResult.qsError);
    if (oResult.eStatus != eRead_Done)
        return;
    if (qui64Bytes_Count > 0 && qui64Device_Size(pJob->iFD) == 0) {
        // Detached or pulled out since the poll: reading nothing would look like an empty medium.
        oResult.eStatus = eRead_Open_Failed;
        oResult.qsError = qsDevice_Gone_Why();
        return;
    }
    oResult.bDirect = pJob->bDirect;
    if (!pJob->bDirect) {
        // Pages cached before the fill would hide what the file system wrote since.
        posix_fadvise(pJob->iFD, 0, 0, POSIX_FADV_DONTNEED);
        posix_fadvise(pJob->iFD, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    vPrepare_Job(*pJob, qui64Bytes_Count, qui64Pattern, qui64Data_Part);
    pJob->pBuffers = std::make_unique<cIO_Buffers>(iReaders, pJob->qui64Block);
    if (pJob->pBuffers->iCount() == 0) {
        oResult.eStatus = eRead_Alloc_Failed;
        oResult.qsError = qsSystem_Reason(ENOMEM);
        return;
    }
    oResult.bAbandoned = !bRun_Readers(pJob, oOperator);
    vCollect(*pJob, oResult);
    oResult.qi64Elapsed_Ms = qTimer.elapsed();
}

bool bRead_Words(const QString &qsDevice, const std::vector<cRun> &vecWhere, QVector<quint64> *pqvWords,
                 QString *pqsError)
{
    const std::string sPath = qsDevice.toStdString();
    int iFD = open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_DIRECT);
    if (iFD < 0)
        iFD = open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (iFD < 0) {
        *pqsError = qsSystem_Reason(errno);
        return false;
    }
    const cIO_Buffers oBuffer(1, 2 * stIO_Alignment);
    bool bOk = oBuffer.iCount() == 1;
    for (const cRun &oRun : vecWhere) {
        if (!bOk)
            break;
        // Whole aligned pages around the words, as a direct read wants them.
        const quint64 qui64From = oRun.qui64Offset / stIO_Alignment * stIO_Alignment;
        const quint64 qui64Length = std::min<quint64>(
            2 * stIO_Alignment, (oRun.qui64Offset_End() - qui64From + stIO_Alignment - 1) / stIO_Alignment * stIO_Alignment);
        int iError = 0;
        const quint64 qui64Read = qui64Read_Full(iFD, oBuffer.pucBuffer(0), qui64Length, qui64From, &iError);
        for (quint64 i = 0; i < oRun.qui64Count; ++i) {
            const quint64 qui64At = oRun.qui64Offset + 8 * i - qui64From;
            pqvWords->append(qui64At + 8 <= qui64Read ? qFromBigEndian<quint64>(oBuffer.pucBuffer(0) + qui64At) : 0);
        }
        if (iError != 0 && iError != EIO) {
            *pqsError = qsSystem_Reason(iError);
            bOk = false;
        }
    }
    close(iFD);
    return bOk;
}

bool bSample_Read_Rate(const QString &qsDevice, const quint64 qui64Bytes, quint64 *pqui64Read, qint64 *pqi64Ms,
                       QString *pqsError)
{
    const quint64 qui64Chunk = 4 << 20;
    const int iFD = open(qsDevice.toStdString().c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (iFD < 0) {
        *pqsError = qsSystem_Reason(errno);
        return false;
    }
    void *pBuffer = nullptr;
    if (posix_memalign(&pBuffer, 4096, qui64Chunk) != 0) {
        close(iFD);
        *pqsError = qsSystem_Reason(ENOMEM);
        return false;
    }
    std::unique_ptr<uchar, decltype(&std::free)> pucBuffer(static_cast<uchar *>(pBuffer), &std::free);
    QElapsedTimer qTimer;
    qTimer.start();
    quint64 qui64Done = 0;
    int iError = 0;
    while (qui64Done < qui64Bytes && qTimer.elapsed() < 1000 && iError == 0) {
        const quint64 qui64Got =
            qui64Read_Full(iFD, pucBuffer.get(), qMin(qui64Chunk, qui64Bytes - qui64Done), qui64Done, &iError);
        qui64Done += qui64Got;
        if (qui64Got == 0)
            break;
    }
    *pqi64Ms = qMax<qint64>(1, qTimer.elapsed());
    close(iFD);
    *pqui64Read = qui64Done;
    if (qui64Done == 0)
        *pqsError = qsSystem_Reason(iError != 0 ? iError : EIO);
    return qui64Done > 0;
}
