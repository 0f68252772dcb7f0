#include "Functions_Drive.h"

#include "Functions_Core.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <immintrin.h>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------
// Bit table

namespace {

const quint64 qui64Page_Words = 512; // 4 KiB of the table

// Set bits in words [qui64W0, qui64W1] of touched pages, the first and last word masked.
__attribute__((target_clones("popcnt", "default"))) quint64
qui64Count_Bits(const quint64 *pqui64Words, const quint64 *pqui64Touched, const quint64 qui64W0,
                const quint64 qui64W1, const quint64 qui64Head, const quint64 qui64Tail)
{
    quint64 qui64Result = 0;
    for (quint64 w = qui64W0; w <= qui64W1;) {
        const quint64 qui64Page = w / qui64Page_Words;
        if (!((pqui64Touched[qui64Page >> 6] >> (qui64Page & 63)) & 1)) {
            w = (qui64Page + 1) * qui64Page_Words;
            continue;
        }
        quint64 qui64Bits = pqui64Words[w];
        if (w == qui64W0)
            qui64Bits &= qui64Head;
        if (w == qui64W1)
            qui64Bits &= qui64Tail;
        qui64Result += quint64(__builtin_popcountll(qui64Bits));
        ++w;
    }
    return qui64Result;
}

quint64 qui64New_Bits(quint64 *pqui64Word, const quint64 qui64Mask)
{
    const quint64 qui64Old = __atomic_fetch_or(pqui64Word, qui64Mask, __ATOMIC_RELAXED);
    return quint64(__builtin_popcountll(qui64Mask & ~qui64Old));
}

} // namespace

cBit_Table::~cBit_Table()
{
    vRelease();
}

cBit_Table::cBit_Table(cBit_Table &&oOther) noexcept
    : pqui64Words(oOther.pqui64Words), pqui64Touched(oOther.pqui64Touched), qui64Size(oOther.qui64Size)
{
    oOther.pqui64Words = nullptr;
    oOther.pqui64Touched = nullptr;
    oOther.qui64Size = 0;
}

cBit_Table &cBit_Table::operator=(cBit_Table &&oOther) noexcept
{
    if (this != &oOther) {
        vRelease();
        std::swap(pqui64Words, oOther.pqui64Words);
        std::swap(pqui64Touched, oOther.pqui64Touched);
        std::swap(qui64Size, oOther.qui64Size);
    }
    return *this;
}

bool cBit_Table::bAllocate(const quint64 qui64Entries)
{
    vRelease();
    const quint64 qui64Words = qui64Entries / 64 + 1;
    const quint64 qui64Pages = qui64Words / qui64Page_Words + 1;
    if (qui64Words > SIZE_MAX / sizeof(quint64))
        return false;
    pqui64Words = static_cast<quint64 *>(std::calloc(size_t(qui64Words), sizeof(quint64)));
    pqui64Touched = static_cast<quint64 *>(std::calloc(size_t(qui64Pages / 64 + 1), sizeof(quint64)));
    if (!pqui64Words || !pqui64Touched) {
        vRelease();
        return false;
    }
    qui64Size = qui64Entries;
    return true;
}

void cBit_Table::vRelease()
{
    std::free(pqui64Words);
    std::free(pqui64Touched);
    pqui64Words = nullptr;
    pqui64Touched = nullptr;
    qui64Size = 0;
}

bool cBit_Table::bPage_Touched(const quint64 qui64Word) const
{
    const quint64 qui64Page = qui64Word / qui64Page_Words;
    return (pqui64Touched[qui64Page >> 6] >> (qui64Page & 63)) & 1;
}

quint64 cBit_Table::qui64Set_Range(const quint64 qui64First, const quint64 qui64Count)
{
    if (qui64Count == 0)
        return 0;
    const quint64 qui64Last = qui64First + qui64Count - 1;
    const quint64 qui64W0 = qui64First >> 6, qui64W1 = qui64Last >> 6;
    for (quint64 p = qui64W0 / qui64Page_Words; p <= qui64W1 / qui64Page_Words; ++p) {
        const quint64 qui64Bit = quint64(1) << (p & 63);
        if (!(__atomic_load_n(&pqui64Touched[p >> 6], __ATOMIC_RELAXED) & qui64Bit))
            __atomic_fetch_or(&pqui64Touched[p >> 6], qui64Bit, __ATOMIC_RELAXED);
    }
    const quint64 qui64Head = ~0ULL << (qui64First & 63);
    const quint64 qui64Tail = ~0ULL >> (63 - (qui64Last & 63));
    if (qui64W0 == qui64W1)
        return qui64New_Bits(&pqui64Words[qui64W0], qui64Head & qui64Tail);
    quint64 qui64New = qui64New_Bits(&pqui64Words[qui64W0], qui64Head);
    for (quint64 w = qui64W0 + 1; w < qui64W1; ++w)
        qui64New += qui64New_Bits(&pqui64Words[w], ~0ULL);
    return qui64New + qui64New_Bits(&pqui64Words[qui64W1], qui64Tail);
}

bool cBit_Table::bTest(const quint64 qui64Index) const
{
    return qui64Index < qui64Size && (pqui64Words[qui64Index >> 6] >> (qui64Index & 63)) & 1;
}

quint64 cBit_Table::qui64Count(const quint64 qui64First, quint64 qui64End) const
{
    qui64End = std::min(qui64End, qui64Size);
    if (qui64First >= qui64End)
        return 0;
    return qui64Count_Bits(pqui64Words, pqui64Touched, qui64First >> 6, (qui64End - 1) >> 6,
                           ~0ULL << (qui64First & 63), ~0ULL >> (63 - ((qui64End - 1) & 63)));
}

quint64 cBit_Table::qui64Find(const bool bValue, const quint64 qui64From, quint64 qui64End) const
{
    qui64End = std::min(qui64End, qui64Size);
    quint64 i = qui64From;
    while (i < qui64End) {
        const quint64 qui64Word = i >> 6;
        if (!bPage_Touched(qui64Word)) {
            // A page nothing was found in: all clear.
            if (!bValue)
                return i;
            i = (qui64Word / qui64Page_Words + 1) * qui64Page_Words * 64;
            continue;
        }
        quint64 qui64Bits = pqui64Words[qui64Word];
        if (!bValue)
            qui64Bits = ~qui64Bits;
        qui64Bits &= ~0ULL << (i & 63);
        if (qui64Bits != 0)
            return std::min(qui64End, (i & ~63ULL) + quint64(__builtin_ctzll(qui64Bits)));
        i = (i & ~63ULL) + 64;
    }
    return qui64End;
}

// ---------------------------------------------------------------------------------------
// Drive probe

void cDrive::vGet_Properties(QString qsDrive)
{
    bGet_Properties(qsDrive);
}

bool cDrive::bGet_Properties(QString qsDrive)
{
    // O_NONBLOCK: a FIFO given as the device must not hang the poll.
    const int iFD = open(qsDrive.toStdString().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (iFD == -1) {
        iMessageBox("Ошибка!",
                    "Не удалось открыть носитель. Скорее всего, бинарнику не присвоены "
                    "пользователь root и права 777.",
                    3, iMsgBox_OK_Button, 0, 0, "");
        return false;
    }

    struct stat strStat;
    std::memset(&strStat, 0, sizeof strStat);
    fstat(iFD, &strStat);
    if (S_ISREG(strStat.st_mode)) {
        // A disk image: 512-byte sectors over the file's length.
        iSector_Size = 512;
        qui64Sectors_Count = quint64(strStat.st_size) / 512;
        qui64Bytes_Count = quint64(strStat.st_size);
    } else {
        // A request that fails (not a block device) leaves its field 0.
        int iSector = 0;
        unsigned long ulSectors = 0;
        quint64 qui64Bytes = 0;
        iSector_Size = ioctl(iFD, BLKSSZGET, &iSector) == 0 ? iSector : 0;
        qui64Sectors_Count = ioctl(iFD, BLKGETSIZE, &ulSectors) == 0 ? ulSectors : 0;
        qui64Bytes_Count = ioctl(iFD, BLKGETSIZE64, &qui64Bytes) == 0 ? qui64Bytes : 0;
    }
    qsDrive_Name = qsDrive;
    close(iFD);
    return true;
}

void cDrive::vFormat(QString qsVolume)
{
    Q_UNUSED(qsVolume);
    const QStringList qsl = qslProcess_Run("mkfs -t ntfs -c 512 -Q /dev/sdb1", true);
    const QStringList qsl76 = qslProcess_Run("mkfs -t ext4 /dev/sdb1", true);
    Q_UNUSED(qsl);
    Q_UNUSED(qsl76);
}

// ---------------------------------------------------------------------------------------
// Volume probe

void cVolume::vGet_Properties(QString qsPath)
{
    struct statvfs str_StatVFS;
    if (statvfs(qsPath.toStdString().c_str(), &str_StatVFS) != 0)
        std::memset(&str_StatVFS, 0, sizeof str_StatVFS); // no such path: every number 0
    iCluster_Size = int(str_StatVFS.f_frsize);
    qui64Clusters_Count = quint64(str_StatVFS.f_blocks);
    qui64Bytes_Count = quint64(str_StatVFS.f_blocks) * quint64(str_StatVFS.f_frsize);
    qui64Clusters_Free_Count = quint64(str_StatVFS.f_bfree);
    qui64Bytes_Free_Count = quint64(str_StatVFS.f_bfree) * quint64(str_StatVFS.f_frsize);
    qsVolume_Name = qsPath;
}

// ---------------------------------------------------------------------------------------
// Word scan

namespace {

// Grows a run of consecutive indexes starting at word j, qui64Run words of it already
// matched, while the words go on qui64First_Word + 1, + 2, ...; returns its length.
inline quint64 qui64Extend_Run(const uchar *pucData, const quint64 j, quint64 qui64Run, const quint64 qui64Max_Run,
                               const quint64 qui64First_Word)
{
    while (qui64Run < qui64Max_Run && qFromBigEndian<quint64>(pucData + 8 * (j + qui64Run)) == qui64First_Word + qui64Run)
        ++qui64Run;
    return qui64Run;
}

quint64 qui64Scan_Portable(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Pattern,
                           const quint64 qui64Bound, cBit_Table &oTable, quint64 *pqui64New)
{
    quint64 qui64Hits = 0;
    quint64 j = 0;
    while (j < qui64Words) {
        const quint64 qui64Index = qFromBigEndian<quint64>(pucData + 8 * j) - qui64Pattern;
        if (Q_LIKELY(qui64Index >= qui64Bound)) {
            ++j;
            continue;
        }
        const quint64 qui64Max_Run = std::min(qui64Words - j, qui64Bound - qui64Index);
        const quint64 qui64Run = qui64Extend_Run(pucData, j, 1, qui64Max_Run, qui64Pattern + qui64Index);
        *pqui64New += oTable.qui64Set_Range(qui64Index, qui64Run);
        qui64Hits += qui64Run;
        j += qui64Run;
    }
    return qui64Hits;
}

// The same with AVX2: eight words tested per step where nothing matches, four compared
// per step inside a run. Memory, not this loop, then limits a cached read.
__attribute__((target("avx2"))) quint64 qui64Scan_Avx2(const uchar *pucData, const quint64 qui64Words,
                                                       const quint64 qui64Pattern, const quint64 qui64Bound,
                                                       cBit_Table &oTable, quint64 *pqui64New)
{
    const __m256i qSwap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2,
                                           1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i qPattern = _mm256_set1_epi64x(qint64(qui64Pattern));
    // AVX2 compares signed: flipping the top bit of both sides makes it an unsigned compare.
    const __m256i qSign = _mm256_set1_epi64x(qint64(0x8000000000000000ULL));
    const __m256i qBound = _mm256_xor_si256(_mm256_set1_epi64x(qint64(qui64Bound)), qSign);
    const __m256i qFour = _mm256_set1_epi64x(4);
#define qIndexes(j)                                                                                      \
    _mm256_sub_epi64(                                                                                    \
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(pucData + 8 * (j))), qSwap), \
        qPattern)
    quint64 qui64Hits = 0;
    quint64 j = 0;
    while (j < qui64Words) {
        while (j + 8 <= qui64Words) {
            const __m256i qIn = _mm256_or_si256(
                _mm256_cmpgt_epi64(qBound, _mm256_xor_si256(qIndexes(j), qSign)),
                _mm256_cmpgt_epi64(qBound, _mm256_xor_si256(qIndexes(j + 4), qSign)));
            if (!_mm256_testz_si256(qIn, qIn))
                break;
            j += 8;
        }
        if (j >= qui64Words)
            break;
        const quint64 qui64Index = qFromBigEndian<quint64>(pucData + 8 * j) - qui64Pattern;
        if (qui64Index >= qui64Bound) {
            ++j;
            continue;
        }
        const quint64 qui64Max_Run = std::min(qui64Words - j, qui64Bound - qui64Index);
        quint64 qui64Run = 1;
        __m256i qNext = _mm256_add_epi64(_mm256_set1_epi64x(qint64(qui64Index + 1)), _mm256_setr_epi64x(0, 1, 2, 3));
        while (qui64Run + 4 <= qui64Max_Run &&
               _mm256_movemask_epi8(_mm256_cmpeq_epi64(qIndexes(j + qui64Run), qNext)) == -1) {
            qui64Run += 4;
            qNext = _mm256_add_epi64(qNext, qFour);
        }
        qui64Run = qui64Extend_Run(pucData, j, qui64Run, qui64Max_Run, qui64Pattern + qui64Index);
        *pqui64New += oTable.qui64Set_Range(qui64Index, qui64Run);
        qui64Hits += qui64Run;
        j += qui64Run;
    }
#undef qIndexes
    return qui64Hits;
}

const bool bHas_Avx2 = __builtin_cpu_supports("avx2");

} // namespace

bool bScan_Vectorised()
{
    return bHas_Avx2;
}

quint64 qui64Scan_Words(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Pattern,
                        quint64 qui64Bound, cBit_Table &oTable, const bool bVectorised, quint64 *pqui64New)
{
    qui64Bound = std::min(qui64Bound, oTable.qui64Entries());
    if (bVectorised && bHas_Avx2)
        return qui64Scan_Avx2(pucData, qui64Words, qui64Pattern, qui64Bound, oTable, pqui64New);
    return qui64Scan_Portable(pucData, qui64Words, qui64Pattern, qui64Bound, oTable, pqui64New);
}

// ---------------------------------------------------------------------------------------
// Raw device scan

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
const size_t stAlignment = 4096;

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
quint64 qui64Read_Full(const cScan_Job &oJob, uchar *pucBuffer, const quint64 qui64Offset,
                       const quint64 qui64Length, int *piError)
{
    *piError = 0;
    // A direct read must cover whole sectors; the device's end cuts it short. The caller's
    // buffer always has room up to the next sector boundary.
    const quint64 qui64Unit = oJob.qui64Retry_Unit;
    const quint64 qui64Request = oJob.bDirect ? (qui64Length + qui64Unit - 1) / qui64Unit * qui64Unit : qui64Length;
    quint64 qui64Got = 0;
    while (qui64Got < qui64Length) {
        const ssize_t ssRead = pread(oJob.iFD, pucBuffer + qui64Got, size_t(qui64Request - qui64Got),
                                     off_t(qui64Offset + qui64Got));
        if (ssRead > 0) {
            qui64Got += quint64(ssRead);
        } else if (ssRead == 0) {
            break;
        } else if (errno != EINTR) {
            *piError = errno;
            break;
        }
    }
    return std::min(qui64Got, qui64Length);
}

// One block: read it whole; after a failure, go on unit by unit, scanning what can be read
// and counting what cannot.
void vScan_Block(const cScan_Job &oJob, cScan_Totals &oTotals, uchar *pucBuffer, const quint64 qui64Offset,
                 const quint64 qui64Length)
{
    int iError = 0;
    const quint64 qui64Read = qui64Read_Full(oJob, pucBuffer, qui64Offset, qui64Length, &iError);
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
        const quint64 qui64Unit_Read = qui64Read_Full(oJob, pucAt, qui64Position, qui64Want, &iError) & ~7ULL;
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
    return bDirect ? stAlignment : 512;
}

} // namespace

void vSet_Read_Mode(const eRead_Mode eMode)
{
    eRead_Mode_Current = eMode;
}

void cDrive::vRead_Data(quint64 qui64Pattern, quint64 qui64Data_Part)
{
    QElapsedTimer qTimer;
    qTimer.start();
    cRead_Result &oResult = oRead_Result;
    oResult = cRead_Result();
    oResult.qsDevice = qsDrive_Name;
    oResult.qui64Pattern = qui64Pattern;
    oResult.qui64Bytes_Count = qui64Bytes_Count;

    if (qsDrive_Name.isEmpty()) {
        oResult.eStatus = eRead_No_Poll;
        iMessageBox("Ошибка!", "Носитель не опрошен: сначала нажмите «1. Опрос».", 3, iMsgBox_OK_Button, 0, 0, "");
        return;
    }
    const quint64 qui64Data_Count = qui64Bytes_Count >> 3;
    oResult.qui64Table_Count = std::min(qui64Data_Part, qui64Data_Count);
    if (!oResult.oTable.bAllocate(oResult.qui64Table_Count)) {
        oResult.eStatus = eRead_Alloc_Failed;
        oResult.qsError = QString::fromLocal8Bit(std::strerror(ENOMEM));
        iMessageBox("Ошибка!",
                    QString("Не хватает памяти для таблицы найденных слов: %1 записей, %2 МиБ.")
                        .arg(oResult.qui64Table_Count)
                        .arg(oResult.qui64Table_Count / 8 / 1048576 + 1),
                    3, iMsgBox_OK_Button, 0, 0, "");
        return;
    }

    cScan_Job oJob;
    int iError = 0;
    oJob.iFD = iOpen_Device(qsDrive_Name, eRead_Mode_Current == eRead_Direct, &oJob.bDirect, &iError);
    if (oJob.iFD < 0) {
        oResult.eStatus = eRead_Open_Failed;
        oResult.qsError = QString::fromLocal8Bit(std::strerror(iError));
        oResult.oTable.vRelease();
        iMessageBox("Ошибка!",
                    QString("Не удалось открыть носитель %1 для чтения: %2.").arg(qsDrive_Name, oResult.qsError),
                    3, iMsgBox_OK_Button, 0, 0, "");
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
        vecBuffers.emplace_back(static_cast<uchar *>(std::aligned_alloc(stAlignment, oJob.qui64Block)), &std::free);
        if (!vecBuffers.back()) {
            close(oJob.iFD);
            oResult.oTable.vRelease();
            oResult.eStatus = eRead_Alloc_Failed;
            oResult.qsError = QString::fromLocal8Bit(std::strerror(ENOMEM));
            iMessageBox("Ошибка!", "Не хватает памяти для буферов чтения.", 3, iMsgBox_OK_Button, 0, 0, "");
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

void vCompare_With_Volume(cRead_Result &oResult, const QString &qsVolume)
{
    const cBit_Table &oTable = oResult.oTable;
    if (!oTable.bAllocated())
        return;
    oResult.iOn_Device = iVolume_On_Device(qsVolume, oResult.qsDevice);
    oResult.qui64Strip_End = oResult.qui64Table_Count;

    const QString qsFill = qsVolume + "data.data";
    struct stat strFill;
    if (!qsVolume.isEmpty() && lstat(qsFill.toStdString().c_str(), &strFill) == 0 && S_ISREG(strFill.st_mode)) {
        oResult.qsFill_Path = qsFill;
        oResult.qui64Fill_Words = quint64(strFill.st_size) / 8;
        oResult.qui64Fill_Tracked = std::min(oResult.qui64Fill_Words, oResult.qui64Table_Count);
        oResult.qui64Fill_Found = oTable.qui64Count(0, oResult.qui64Fill_Tracked);
        oResult.qui64Strip_End = oResult.qui64Fill_Tracked;
        const int iMax_Ranges = 8;
        quint64 qui64From = 0;
        while (oResult.qvMissing.size() < iMax_Ranges) {
            const quint64 qui64First = oTable.qui64Find(false, qui64From, oResult.qui64Fill_Tracked);
            if (qui64First >= oResult.qui64Fill_Tracked)
                break;
            const quint64 qui64End = oTable.qui64Find(true, qui64First, oResult.qui64Fill_Tracked);
            oResult.qvMissing.append(qMakePair(qui64First, qui64End - 1));
            qui64From = qui64End;
        }
    }

    const quint64 qui64Buckets = std::min<quint64>(1024, oResult.qui64Strip_End);
    if (qui64Buckets > 0) {
        oResult.qui64Strip_Bucket = (oResult.qui64Strip_End + qui64Buckets - 1) / qui64Buckets;
        for (quint64 b = 0; b * oResult.qui64Strip_Bucket < oResult.qui64Strip_End; ++b) {
            const quint64 qui64First = b * oResult.qui64Strip_Bucket;
            oResult.qvStrip_Found.append(oTable.qui64Count(qui64First, qui64First + oResult.qui64Strip_Bucket));
        }
    }
    oResult.oTable.vRelease();
}

// ---------------------------------------------------------------------------------------
// Does the volume lie on the device?

namespace {

QString qsSys_Block(const dev_t devDevice)
{
    return QString("/sys/dev/block/%1:%2").arg(major(devDevice)).arg(minor(devDevice));
}

bool bRead_Dev(const QString &qsDev_File, dev_t *pdevResult)
{
    QFile qFile(qsDev_File);
    if (!qFile.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> qlParts = qFile.readAll().trimmed().split(':');
    if (qlParts.size() != 2)
        return false;
    *pdevResult = makedev(qlParts[0].toUInt(), qlParts[1].toUInt());
    return true;
}

// The block device a mount with an anonymous device number (FUSE, btrfs) was made from.
bool bMount_Source(const dev_t devVolume, dev_t *pdevSource, bool *pbFound)
{
    *pbFound = false;
    QFile qFile("/proc/self/mountinfo");
    if (!qFile.open(QIODevice::ReadOnly))
        return false;
    const QByteArray qbaWanted = QByteArray::number(major(devVolume)) + ":" + QByteArray::number(minor(devVolume));
    for (const QByteArray &qbaLine : qFile.readAll().split('\n')) {
        const QList<QByteArray> qlFields = qbaLine.split(' ');
        const int iDash = qlFields.indexOf("-");
        if (qlFields.size() < 3 || qlFields[2] != qbaWanted || iDash < 0 || iDash + 2 >= qlFields.size())
            continue;
        *pbFound = true;
        struct stat strSource;
        if (stat(qlFields[iDash + 2].constData(), &strSource) == 0 && S_ISBLK(strSource.st_mode)) {
            *pdevSource = strSource.st_rdev;
            return true;
        }
        return false;
    }
    return false;
}

} // namespace

int iVolume_On_Device(const QString &qsVolume, const QString &qsDevice)
{
    struct stat strDevice, strVolume;
    if (stat(qsDevice.toStdString().c_str(), &strDevice) != 0 ||
        stat(qsVolume.toStdString().c_str(), &strVolume) != 0)
        return -1;
    const bool bImage = S_ISREG(strDevice.st_mode);
    if (!bImage && !S_ISBLK(strDevice.st_mode))
        return -1;
    const QString qsImage = bImage ? QFileInfo(qsDevice).canonicalFilePath() : QString();

    dev_t devVolume = strVolume.st_dev;
    if (major(devVolume) == 0) {
        bool bFound = false;
        if (!bMount_Source(devVolume, &devVolume, &bFound))
            return bFound ? 0 : -1; // a mount with no block device beneath it lies on no disk
    }

    // Walk from the volume's device down to what it is built on.
    QList<dev_t> qlPending{devVolume};
    QSet<quint64> qsetSeen;
    while (!qlPending.isEmpty()) {
        const dev_t devCurrent = qlPending.takeFirst();
        if (qsetSeen.contains(quint64(devCurrent)))
            continue;
        qsetSeen.insert(quint64(devCurrent));
        if (!bImage && devCurrent == strDevice.st_rdev)
            return 1;
        const QString qsSys = qsSys_Block(devCurrent);
        if (bImage) {
            QFile qBacking(qsSys + "/loop/backing_file");
            if (qBacking.open(QIODevice::ReadOnly) &&
                QFileInfo(QString::fromLocal8Bit(qBacking.readAll().trimmed())).canonicalFilePath() == qsImage)
                return 1;
        }
        dev_t devNext;
        if (QFile::exists(qsSys + "/partition") &&
            bRead_Dev(QFileInfo(QFileInfo(qsSys).canonicalFilePath()).path() + "/dev", &devNext))
            qlPending << devNext;
        const QDir qSlaves(qsSys + "/slaves");
        for (const QString &qsSlave : qSlaves.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (bRead_Dev(qSlaves.filePath(qsSlave) + "/dev", &devNext))
                qlPending << devNext;
    }
    return 0;
}
