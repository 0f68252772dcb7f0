#include "Functions_Writer.h"

#include "Functions_Fill_Files.h"
#include "Functions_Files.h"
#include "Functions_Fill_Check.h"
#include "Functions_Fill_Pace.h"
#include "Functions_Lock.h"
#include "Functions_Operator.h"
#include "Functions_Pool.h"
#include "Functions_Report_Texts.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Empty when the fill may take the name qsName in the directory iDir over, else why not:
// the tool runs as root, and a link or a special file planted under the name must not make
// it destroy or wait on something else. A file that is there is removed, not emptied, so
// that the new one is the tool's own whoever owned the old one.
QString qsClear_Fill_Name(const int iDir, const QString &qsName)
{
    const QByteArray qbaName = QFile::encodeName(qsName);
    struct stat strNode;
    if (fstatat(iDir, qbaName.constData(), &strNode, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? QString() : qsSystem_Reason(errno);
    if (S_ISLNK(strNode.st_mode))
        return qsSymbolic_Link_Why();
    if (!S_ISREG(strNode.st_mode))
        return qsNot_Regular_Why();
    if (strNode.st_nlink > 1)
        return qsHard_Links_Why();
    return unlinkat(iDir, qbaName.constData(), 0) == 0 || errno == ENOENT ? QString() : qsSystem_Reason(errno);
}

int iCreate_Fill_File(const int iDir, const QString &qsName, QString *pqsError)
{
    *pqsError = qsClear_Fill_Name(iDir, qsName);
    if (!pqsError->isEmpty())
        return -1;
    const int iFD = openat(iDir, QFile::encodeName(qsName).constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (iFD < 0)
        *pqsError = qsSystem_Reason(errno);
    return iFD;
}

bool bSet_Direct(const int iFD, const bool bOn)
{
    const int iFlags = fcntl(iFD, F_GETFL);
    return iFlags != -1 && fcntl(iFD, F_SETFL, bOn ? (iFlags | O_DIRECT) : (iFlags & ~O_DIRECT)) == 0;
}

} // namespace

void vMake_Words(uchar *pucBuffer, const quint64 qui64Pattern, const quint64 qui64First, const quint64 qui64Count)
{
    quint64 *pqui64Words = reinterpret_cast<quint64 *>(pucBuffer);
    for (quint64 j = 0; j < qui64Count; ++j)
        pqui64Words[j] = qToBigEndian<quint64>(qui64Pattern + qui64First + j);
}

QStringList qslRemove_Continuations(const int iDir)
{
    QStringList qslLeft;
    const int iList = fcntl(iDir, F_DUPFD_CLOEXEC, 0); // closedir closes it, not the caller's
    DIR *pDir = iList >= 0 ? fdopendir(iList) : nullptr;
    if (!pDir) {
        if (iList >= 0)
            close(iList);
        return qslLeft;
    }
    QStringList qslOwn;
    while (const dirent *pEntry = readdir(pDir)) {
        const QString qsName = QFile::decodeName(pEntry->d_name);
        if (iContinuation_Number(qsName) >= 2)
            qslOwn << qsName;
    }
    closedir(pDir);
    for (const QString &qsName : qslOwn) {
        const QString qsWhy = qsClear_Fill_Name(iDir, qsName);
        if (!qsWhy.isEmpty())
            qslLeft << qsName + ": " + qsWhy;
    }
    return qslLeft;
}

quint64 qui64Free_Bytes(const QString &qsVolume)
{
    struct statvfs strStat;
    if (statvfs(qsVolume.toStdString().c_str(), &strStat) != 0)
        return 0;
    return quint64(strStat.f_bfree) * quint64(strStat.f_frsize);
}

bool bOut_Of_Space(const int iError)
{
    return iError == ENOSPC || iError == EDQUOT;
}

namespace {

// fusefat refuses a write for which no cluster is left with EPERM: on a FUSE file system with
// less than a chunk free, that is the end of the space.
int iSpace_Error(const int iFD, const int iError)
{
    struct statvfs strStat;
    if (iError == EPERM && bOn_Fuse(iFD) && fstatvfs(iFD, &strStat) == 0 &&
        quint64(strStat.f_bavail) * quint64(strStat.f_frsize) < stFill_Chunk)
        return ENOSPC;
    return iError;
}

} // namespace

quint64 cFill_File::qui64Write(const uchar *pucData, const quint64 qui64Length, const quint64 qui64Index, int *piError)
{
    const quint64 qui64Offset = 8 * (qui64Index - qui64First);
    quint64 qui64Done = 0, qui64Piece = qui64Length;
    *piError = 0;
    while (qui64Done < qui64Length) {
        const quint64 qui64Left = qui64Length - qui64Done;
        if (bDirect && qui64Left < qui64Block)
            bDirect = !bSet_Direct(iFD, false); // a tail shorter than a block goes through the cache
        qui64Piece = std::min(qui64Piece, qui64Left);
        if (bDirect)
            qui64Piece = std::max(qui64Block, qui64Piece / qui64Block * qui64Block);
        const quint64 qui64Written =
            qui64Write_Full(iFD, pucData + qui64Done, qui64Piece, qui64Offset + qui64Done, piError);
        qui64Done += qui64Written;
        if (qui64Written == qui64Piece)
            continue;
        *piError = iSpace_Error(iFD, *piError);
        // A refused direct write may be too large for what is left, or not allowed (a limit
        // that cuts it off the alignment): smaller, then buffered.
        if (bDirect && (bOut_Of_Space(*piError) || *piError == EINVAL || *piError == EFBIG)) {
            if (qui64Piece > qui64Block && *piError != EINVAL)
                qui64Piece = qui64Piece / 2;
            else
                bDirect = !bSet_Direct(iFD, false);
            continue;
        }
        return qui64Done;
    }
    *piError = 0;
    return qui64Done;
}

int cFill_File::iClose(const quint64 qui64End)
{
    int iError = 0;
    struct stat strStat;
    const quint64 qui64Bytes = 8 * (qui64End - qui64First);
    // Cut even to the same size: that also frees what was allocated beyond the end. A driver
    // that refuses every cut (fusefat) then leaves a file that ends where its words do.
    if (fstat(iFD, &strStat) == 0 && quint64(strStat.st_size) >= qui64Bytes && ftruncate(iFD, off_t(qui64Bytes)) != 0 &&
        quint64(strStat.st_size) > qui64Bytes)
        iError = errno;
    if (fdatasync(iFD) != 0 && iError == 0)
        iError = errno;
    if (close(iFD) != 0 && iError == 0)
        iError = errno;
    iFD = -1;
    return iError;
}

// Creates one file of the fill, new and the tool's own: never through a link, never over
// something that appeared meanwhile.
bool cFill_File::bOpen(const int iDir, const int iPart, const quint64 qui64First_Index, QString *pqsError)
{
    iFD = iCreate_Fill_File(iDir, qsFill_File_Name(iPart), pqsError);
    if (iFD < 0)
        return false;
    qui64First = qui64First_Index;
    bDirect = bSet_Direct(iFD, true);
    struct statvfs strStat;
    if (fstatvfs(iFD, &strStat) == 0 && strStat.f_bsize >= stIO_Alignment && strStat.f_bsize % stIO_Alignment == 0)
        qui64Block = strStat.f_bsize;
    return true;
}

namespace {

// Writers enough to keep requests in flight while others make words.
const int iWriters = 8;

// The writers' shared state: chunks are claimed in order; the first one not written whole
// (refused, or claimed after the stop) ends the run of chunks that count. Writers stuck in
// a device that stopped answering may outlive the fill, so the job has a descriptor and
// buffers of its own.
class cWrite_Job
{
public:
    cWrite_Job(const int iFile, const int iWanted) : iFD(dup(iFile)), oBuffers(iWanted, stFill_Chunk) {}
    ~cWrite_Job() { vClose_Aside(iFD); }

    const int iFD;
    const cIO_Buffers oBuffers;
    quint64 qui64Pattern = 0;
    quint64 qui64From = 0;       // index of the first word of chunk 0
    quint64 qui64File_First = 0; // index of the file's first word
    quint64 qui64Chunks = 0;
    std::atomic<quint64> qui64Next{0};
    std::atomic<quint64> qui64First_Missing{~quint64(0)};
    std::atomic<quint64> qui64Done_Bytes{0};
    std::atomic<bool> bStop{false};
    std::unique_ptr<std::atomic<bool>[]> pbChunk_Done; // written whole
    std::unique_ptr<cWorker_Gauge> pGauge; // writers allowed to have a chunk in the medium
    std::shared_ptr<cFill_Pace> pPace;

    // The file is allocated ahead of the writers: a write into allocated space need not wait
    // for the others, as one that makes the file grow must.
    std::mutex qAllocate;
    std::atomic<quint64> qui64Allocated{0}; // file bytes allocated so far
    std::atomic<bool> bAllocate{true};
};

// Steps in which the file is allocated ahead of the writers.
const quint64 qui64Allocate_Step = 256 << 20;

// Makes sure the file is allocated up to qui64End (file bytes). Where a step does not fit
// (the end of the space, a size limit) or the file system cannot allocate ahead, the
// writers go on without: the writes then find the end of the space themselves.
void vAllocate_To(cWrite_Job &oJob, const quint64 qui64End)
{
    if (!oJob.bAllocate || oJob.qui64Allocated >= qui64End)
        return;
    std::lock_guard<std::mutex> qLock(oJob.qAllocate);
    while (oJob.bAllocate && oJob.qui64Allocated < qui64End) {
        // The size stays where the words end: after a crash the file holds no space that
        // was never written, which a read would count as lost.
        if (fallocate(oJob.iFD, FALLOC_FL_KEEP_SIZE, off_t(oJob.qui64Allocated), off_t(qui64Allocate_Step)) == 0)
            oJob.qui64Allocated += qui64Allocate_Step;
        else
            oJob.bAllocate = false;
    }
}

void vNote_Missing(cWrite_Job &oJob, const quint64 qui64Chunk)
{
    quint64 qui64Seen = oJob.qui64First_Missing;
    while (qui64Chunk < qui64Seen && !oJob.qui64First_Missing.compare_exchange_weak(qui64Seen, qui64Chunk)) {
    }
    oJob.bStop = true;
}

void vWrite_Chunks(cWrite_Job &oJob, uchar *pucBuffer, const int iWriter)
{
    const quint64 qui64Words = stFill_Chunk / 8;
    for (;;) {
        if (!oJob.pGauge->bMay_Go(iWriter, oJob.bStop) ||
            (oJob.pPace && !oJob.pPace->bWait_Turn(8 * oJob.qui64From + oJob.qui64Done_Bytes, oJob.bStop)))
            return;
        const quint64 qui64Chunk = oJob.qui64Next.fetch_add(1);
        if (qui64Chunk >= oJob.qui64Chunks) {
            oJob.pGauge->vNo_More_Work();
            return;
        }
        if (oJob.bStop) {
            vNote_Missing(oJob, qui64Chunk);
            return;
        }
        const quint64 qui64First = oJob.qui64From + qui64Chunk * qui64Words;
        const quint64 qui64Offset = 8 * (qui64First - oJob.qui64File_First);
        vAllocate_To(oJob, qui64Offset + stFill_Chunk);
        vMake_Words(pucBuffer, oJob.qui64Pattern, qui64First, qui64Words);
        int iError = 0;
        if (qui64Write_Full(oJob.iFD, pucBuffer, stFill_Chunk, qui64Offset, &iError) != stFill_Chunk) {
            vNote_Missing(oJob, qui64Chunk);
            return;
        }
        oJob.pbChunk_Done[qui64Chunk] = true;
        oJob.qui64Done_Bytes += stFill_Chunk;
    }
}

} // namespace

bool bLoss_Seen(const cFill_File &oFile, const quint64 qui64Next_Word)
{
    cFill_Check *pCheck = oFile.pCheck;
    const quint64 qui64Written = 8 * (qui64Next_Word - oFile.qui64First);
    return pCheck && pCheck->bDue(qui64Written) &&
           pCheck->bLost(oFile.iFD, oFile.qsPath, oFile.qui64First, qui64Written);
}

namespace {

// Chunks written whole from the first on.
quint64 qui64Chunks_In_A_Row(const cWrite_Job &oJob)
{
    quint64 c = 0;
    while (c < oJob.qui64Chunks && oJob.pbChunk_Done[c])
        ++c;
    return c;
}

} // namespace

namespace {

// Writers in parallel write past the file's end, leaving holes for a moment, unless the file
// is allocated ahead. A FUSE driver of FAT (fusefat) chains a hole's clusters out of order and
// loses data there: on a FUSE file system that cannot allocate ahead, the chunks go in order.
bool bExtends_Out_Of_Order(const int iFD, const quint64 qui64At)
{
    return bOn_Fuse(iFD) && fallocate(iFD, FALLOC_FL_KEEP_SIZE, off_t(qui64At), off_t(stFill_Chunk)) != 0;
}

// A cut on a thread of its own: through a FUSE driver it waits for the medium as a write
// does, and after a cancel it is given up like one. The descriptor is the job's.
class cCut_Job
{
public:
    ~cCut_Job() { vClose_Aside(iFD); }
    int iFD = -1;
    quint64 qui64Bytes = 0;
    std::atomic<bool> bStop{false};
    std::atomic<bool> bCut{false};
};

// Cuts the file to qui64Bytes; false when that failed, or (*pbAbandoned) was given up.
bool bCut_Giving_Up(const int iFD, const quint64 qui64Bytes, cOperator &oOperator, bool *pbCancelled,
                    bool *pbAbandoned)
{
    auto pJob = std::make_shared<cCut_Job>();
    pJob->iFD = fcntl(iFD, F_DUPFD_CLOEXEC, 0);
    pJob->qui64Bytes = qui64Bytes;
    if (pJob->iFD < 0)
        return false;
    *pbAbandoned = !bRun_Workers(
        1, [pJob](int) { pJob->bCut = ftruncate(pJob->iFD, off_t(pJob->qui64Bytes)) == 0; }, pJob->bStop, [&] {
            if (oOperator.bAdvance(qui64Bytes))
                return true;
            *pbCancelled = true;
            return false;
        });
    return !*pbAbandoned && pJob->bCut;
}

} // namespace

quint64 qui64Write_Parallel(cFill_File &oFile, const quint64 qui64Pattern, const quint64 qui64From,
                            const quint64 qui64End, cOperator &oOperator, bool *pbCancelled, bool *pbAbandoned)
{
    const quint64 qui64Chunks = (qui64End - qui64From) / (stFill_Chunk / 8);
    if (!oFile.bDirect || qui64Chunks < 2 || bExtends_Out_Of_Order(oFile.iFD, 8 * (qui64From - oFile.qui64First)))
        return qui64From;
    auto pJob = std::make_shared<cWrite_Job>(oFile.iFD, iWriters);
    if (pJob->iFD < 0 || pJob->oBuffers.iCount() == 0)
        return qui64From; // the sequential writer goes on alone
    cWrite_Job &oJob = *pJob;
    oJob.qui64Pattern = qui64Pattern;
    oJob.qui64From = qui64From;
    oJob.qui64File_First = oFile.qui64First;
    oJob.qui64Chunks = qui64Chunks;
    oJob.pbChunk_Done.reset(new std::atomic<bool>[qui64Chunks]());
    oJob.qui64Allocated = 8 * (qui64From - oFile.qui64First);
    oJob.pGauge = std::make_unique<cWorker_Gauge>(oJob.oBuffers.iCount(), stFill_Chunk);
    oJob.pPace = oFile.pPace;
    const bool bAll_Back = bRun_Workers(
        oJob.oBuffers.iCount(),
        [pJob](int iWriter) { vWrite_Chunks(*pJob, pJob->oBuffers.pucBuffer(iWriter), iWriter); }, oJob.bStop,
        [&] {
            oJob.pGauge->vMeasure(oJob.qui64Done_Bytes);
            if (bLoss_Seen(oFile, qui64From + qui64Chunks_In_A_Row(oJob) * (stFill_Chunk / 8)))
                return false;
            if (oOperator.bAdvance(8 * qui64From + oJob.qui64Done_Bytes))
                return true;
            *pbCancelled = true;
            return false;
        });
    if (!bAll_Back) {
        // A writer is still inside the device: touching the file again (cutting it, syncing
        // it) would wait for it too. What was written whole before the stop counts.
        *pbAbandoned = true;
        return qui64From + qui64Chunks_In_A_Row(oJob) * (stFill_Chunk / 8);
    }
    const quint64 qui64Next_Word = qui64From + qui64Chunks_In_A_Row(oJob) * (stFill_Chunk / 8);
    // Chunks written after one that was refused would leave a gap: they go again. So does
    // what was allocated and not written.
    // A refused cut (an immutable file) keeps what was written in a row.
    bCut_Giving_Up(oFile.iFD, 8 * (qui64Next_Word - oFile.qui64First), oOperator, pbCancelled, pbAbandoned);
    return qui64Next_Word;
}

namespace {

// One writer in order, or the final sync, on a thread of its own: a device that stops
// answering then keeps only that thread, and after a cancel the fill gives up on it and
// returns. What the thread works on is the job's, since it may outlive the fill.
class cOrdered_Job
{
public:
    ~cOrdered_Job() { vClose_Aside(oFile.iFD); }

    cFill_File oFile; // with a descriptor of its own
    std::unique_ptr<cIO_Buffers> pBuffer;
    quint64 qui64Pattern = 0;
    quint64 qui64End = 0;
    std::atomic<quint64> qui64Next{0}; // the first word not written yet
    std::atomic<bool> bStop{false};
    int iError = 0;
};

void vWrite_In_Order(cOrdered_Job &oJob)
{
    uchar *pucBuffer = oJob.pBuffer->pucBuffer(0);
    quint64 i = oJob.qui64Next;
    while (i < oJob.qui64End && !oJob.bStop) {
        if (oJob.oFile.pPace && !oJob.oFile.pPace->bWait_Turn(8 * i, oJob.bStop))
            break;
        const quint64 qui64Words = std::min<quint64>(oJob.qui64End - i, stFill_Chunk / 8);
        vMake_Words(pucBuffer, oJob.qui64Pattern, i, qui64Words);
        i += oJob.oFile.qui64Write(pucBuffer, qui64Words * 8, i, &oJob.iError) / 8;
        oJob.qui64Next = i;
        if (oJob.iError != 0)
            break;
    }
}

// Runs vWork on the job's thread, showing progress up to its next word; false when a
// cancelled job did not come back in time and was left behind.
bool bRun_Ordered(const std::shared_ptr<cOrdered_Job> &pJob, void (*vWork)(cOrdered_Job &), cOperator &oOperator,
                  bool *pbCancelled, const int iGive_Up_Ms = iGive_Up_After_Ms)
{
    return bRun_Workers(
        1, [pJob, vWork](int) { vWork(*pJob); }, pJob->bStop, [&] {
            if (bLoss_Seen(pJob->oFile, pJob->qui64Next))
                return false;
            if (oOperator.bAdvance(8 * pJob->qui64Next))
                return true;
            *pbCancelled = true;
            return false;
        },
        iGive_Up_Ms);
}

// How long a stopped fill waits for its last file's cut, sync and close: a FUSE driver may
// spend many seconds flushing what it holds, and the stop is answered within a second.
const int iClose_Wait_Ms = 800;

} // namespace

quint64 qui64Write_Sequential(cFill_File &oFile, const quint64 qui64Pattern, const quint64 qui64From,
                              const quint64 qui64End, cOperator &oOperator, bool *pbCancelled, int *piError,
                              bool *pbAbandoned)
{
    auto pJob = std::make_shared<cOrdered_Job>();
    pJob->oFile = oFile;
    pJob->oFile.iFD = fcntl(oFile.iFD, F_DUPFD_CLOEXEC, 0);
    pJob->pBuffer = std::make_unique<cIO_Buffers>(1, stFill_Chunk);
    *piError = pJob->oFile.iFD < 0 ? errno : pJob->pBuffer->iCount() == 0 ? ENOMEM : 0;
    if (*piError != 0)
        return qui64From;
    pJob->qui64Pattern = qui64Pattern;
    pJob->qui64End = qui64End;
    pJob->qui64Next = qui64From;
    *pbAbandoned = !bRun_Ordered(pJob, vWrite_In_Order, oOperator, pbCancelled);
    if (*pbAbandoned) // whole words before the stuck request count; the file is not touched again
        return pJob->qui64Next;
    oFile.bDirect = pJob->oFile.bDirect;
    *piError = pJob->iError;
    return pJob->qui64Next;
}

int iClose_Aside_On_Stop(cFill_File &oFile, const quint64 qui64End, cOperator &oOperator, bool *pbCancelled,
                         bool *pbClosing_Aside)
{
    auto pJob = std::make_shared<cOrdered_Job>();
    pJob->oFile = oFile; // the job owns the descriptor from here on
    oFile.iFD = -1;
    pJob->qui64End = pJob->qui64Next = qui64End;
    *pbClosing_Aside = !bRun_Ordered(
        pJob, [](cOrdered_Job &oJob) { oJob.iError = oJob.oFile.iClose(oJob.qui64End); }, oOperator, pbCancelled,
        iClose_Wait_Ms);
    return *pbClosing_Aside ? 0 : pJob->iError;
}

namespace {

// The checks found the medium losing data: the operator decides whether the fill goes on
// (the whole volume written, as a slow full check wants) or stops here.
bool bStop_At_Loss(cFill_Check *pCheck, cOperator &oOperator)
{
    if (!pCheck || !pCheck->bLoss_Found)
        return false;
    const quint64 qui64At = pCheck->bLoss_Placed ? pCheck->qui64Loss_Device_Offset : pCheck->qui64Loss_File_Offset;
    if (oOperator.bAsk(qsWarning_Heading(), qsLoss_Question(qui64At), true))
        return true;
    pCheck->bEnabled = false; // asked once: the fill goes on to the end
    pCheck->bLoss_Found = false;
    pCheck->bGone_On = true;
    return false;
}

// After a round of writers: stop (left behind, or stopped at a loss), write again (told to go
// on past a loss) or go on.
enum eAfter_Round { eRound_Go_On, eRound_Again, eRound_Stop };

eAfter_Round eAfter(cWrite_Outcome &oOutcome, cFill_Check *pCheck, cOperator &oOperator)
{
    const bool bAsked = pCheck && pCheck->bLoss_Found;
    if (oOutcome.bAbandoned || (oOutcome.bLoss_Stop = bStop_At_Loss(pCheck, oOperator)))
        return eRound_Stop;
    return bAsked ? eRound_Again : eRound_Go_On;
}

// Writes into the open file until its words are done or the file system refuses more: in
// parallel while it takes whole chunks, then in order. False when the whole fill stops here.
bool bWrite_One_File(cFill_File &oFile, const cFill_Words &oWords, cOperator &oOperator, cWrite_Outcome &oOutcome)
{
    for (;;) {
        oOutcome.qui64Words = qui64Write_Parallel(oFile, oWords.qui64Pattern, oOutcome.qui64Words, oWords.qui64Count,
                                                  oOperator, &oOutcome.bCancelled, &oOutcome.bAbandoned);
        eAfter_Round eNext = eAfter(oOutcome, oFile.pCheck, oOperator);
        if (eNext == eRound_Stop)
            return false;
        if (eNext == eRound_Again)
            continue; // the operator said go on: the writers start again where they stopped
        if (!oOutcome.bCancelled)
            oOutcome.qui64Words =
                qui64Write_Sequential(oFile, oWords.qui64Pattern, oOutcome.qui64Words, oWords.qui64Count, oOperator,
                                      &oOutcome.bCancelled, &oOutcome.iError, &oOutcome.bAbandoned);
        eNext = eAfter(oOutcome, oFile.pCheck, oOperator);
        if (eNext == eRound_Stop)
            return false;
        if (eNext != eRound_Again)
            return true;
    }
}

// Why the fill stops before the file it has open is closed or the next one made, empty when
// it may go on: the volume must still be where it was, and each file on the first one's
// file system.
QString qsVolume_Gone(const cFill_Target &oTarget, const QString &qsPath)
{
    struct stat strFile;
    if (fstat(oTarget.oFile.iFD, &strFile) != 0)
        return QString("%1: %2").arg(qsPath, qsSystem_Reason(errno));
    if (strFile.st_nlink == 0)
        return qsFile_Removed_Why(qsPath);
    if (strFile.st_dev != oTarget.devFirst)
        return qsFile_Elsewhere_Why(qsPath);
    return oTarget.oLock.qsStill_There();
}

// The file system's largest file was reached (FAT32: 4 GiB): the open file is closed and the
// sequence goes on in the next one, in the same volume. False when it cannot.
bool bNext_File(cFill_Target &oTarget, cOperator &oOperator, cWrite_Outcome &oOutcome)
{
    oOutcome.qsStopped = qsVolume_Gone(oTarget, qsFill_File_Path(oTarget.qsVolume, oOutcome.iFiles));
    if (!oOutcome.qsStopped.isEmpty())
        return false;
    oOutcome.iError = iClose_Aside_On_Stop(oTarget.oFile, oOutcome.qui64Words, oOperator, &oOutcome.bCancelled,
                                           &oOutcome.bClosing_Aside);
    if (oOutcome.iError != 0 || oOutcome.bClosing_Aside)
        return false;
    if (oTarget.oFile.bOpen(oTarget.oLock.iDir_FD(), oOutcome.iFiles + 1, oOutcome.qui64Words, &oOutcome.qsStopped)) {
        ++oOutcome.iFiles;
        return true;
    }
    oOutcome.qsStopped = qsFill_File_Path(oTarget.qsVolume, oOutcome.iFiles + 1) + ": " + oOutcome.qsStopped;
    return false;
}

// The last file: cut to whole words, synced and closed, unless writers were left in it.
void vClose_Last(cFill_Target &oTarget, cOperator &oOperator, cWrite_Outcome &oOutcome)
{
    cFill_File &oFile = oTarget.oFile;
    if (oFile.iFD < 0)
        return;
    if (oOutcome.bAbandoned) {
        vClose_Aside(oFile.iFD); // no cut, no sync: either would wait for the writers left in the device
        oFile.iFD = -1;
        return;
    }
    const QString qsGone = qsVolume_Gone(oTarget, qsFill_File_Path(oTarget.qsVolume, oOutcome.iFiles));
    oOutcome.iClose_Error = iClose_Aside_On_Stop(oFile, oOutcome.qui64Words, oOperator, &oOutcome.bCancelled,
                                                 &oOutcome.bClosing_Aside);
    if (oOutcome.qsStopped.isEmpty())
        oOutcome.qsStopped = qsGone;
}

} // namespace

cWrite_Outcome oWrite_Fill(cFill_Target &oTarget, const cFill_Words &oWords, cOperator &oOperator)
{
    cWrite_Outcome oOutcome;
    oOutcome.qui64Words = oTarget.oFile.qui64First;
    oOutcome.iFiles = 1;
    while (bWrite_One_File(oTarget.oFile, oWords, oOperator, oOutcome) && !oOutcome.bCancelled &&
           oOutcome.iError == EFBIG && oOutcome.qui64Words != oTarget.oFile.qui64First &&
           bNext_File(oTarget, oOperator, oOutcome)) {
    }
    vClose_Last(oTarget, oOperator, oOutcome);
    return oOutcome;
}
