#include "Functions_Table.h"

#include <QtEndian>

#include <algorithm>
#include <new>

#include <immintrin.h>

// ---------------------------------------------------------------------------------------
// Word scan

namespace {

// Appends a run, or lengthens the last one when this one goes on from it.
inline void vAdd_Run(std::vector<cRun> &vecRuns, const cRun &oRun)
{
    if (!vecRuns.empty() && vecRuns.back().qui64End() == oRun.qui64First &&
        vecRuns.back().qui64Offset_End() == oRun.qui64Offset)
        vecRuns.back().qui64Count += oRun.qui64Count;
    else
        vecRuns.push_back(oRun);
}

// Grows a run of consecutive indexes starting at word j, qui64Run words of it already
// matched, while the words go on qui64First_Word + 1, + 2, ...; returns its length.
inline quint64 qui64Extend_Run(const uchar *pucData, const quint64 j, quint64 qui64Run, const quint64 qui64Max_Run,
                               const quint64 qui64First_Word)
{
    while (qui64Run < qui64Max_Run &&
           qFromBigEndian<quint64>(pucData + 8 * (j + qui64Run)) == qui64First_Word + qui64Run)
        ++qui64Run;
    return qui64Run;
}

quint64 qui64Scan_Portable(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Offset,
                           const quint64 qui64Pattern, const quint64 qui64Bound, std::vector<cRun> &vecRuns)
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
        vAdd_Run(vecRuns, cRun{qui64Index, qui64Run, qui64Offset + 8 * j});
        qui64Hits += qui64Run;
        j += qui64Run;
    }
    return qui64Hits;
}

// The same with AVX2, eight words a step both where nothing matches and inside a run.
// Memory, not this loop, then limits a cached read.
__attribute__((target("avx2"))) quint64 qui64Scan_Avx2(const uchar *pucData, const quint64 qui64Words,
                                                       const quint64 qui64Offset, const quint64 qui64Pattern,
                                                       const quint64 qui64Bound, std::vector<cRun> &vecRuns)
{
    const __m256i qSwap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,
                                           15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i qPattern = _mm256_set1_epi64x(qint64(qui64Pattern));
    // AVX2 compares signed: flipping the top bit of both sides makes it an unsigned compare.
    const __m256i qSign = _mm256_set1_epi64x(qint64(0x8000000000000000ULL));
    const __m256i qBound = _mm256_xor_si256(_mm256_set1_epi64x(qint64(qui64Bound)), qSign);
    const __m256i qFour = _mm256_set1_epi64x(4);
    const __m256i qEight = _mm256_set1_epi64x(8);
#define qWords(j) _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(pucData + 8 * (j))), qSwap)
#define qIndexes(j) _mm256_sub_epi64(qWords(j), qPattern)
    quint64 qui64Hits = 0;
    quint64 j = 0;
    while (j < qui64Words) {
        while (j + 8 <= qui64Words) {
            const __m256i qIn = _mm256_or_si256(_mm256_cmpgt_epi64(qBound, _mm256_xor_si256(qIndexes(j), qSign)),
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
        // Inside a run the words themselves are compared with the ones expected, eight a step.
        quint64 qui64Run = 1;
        __m256i qNext =
            _mm256_add_epi64(_mm256_set1_epi64x(qint64(qui64Pattern + qui64Index + 1)), _mm256_setr_epi64x(0, 1, 2, 3));
        __m256i qNext_High = _mm256_add_epi64(qNext, qFour);
        while (qui64Run + 8 <= qui64Max_Run) {
            const __m256i qDiffer = _mm256_or_si256(_mm256_xor_si256(qWords(j + qui64Run), qNext),
                                                    _mm256_xor_si256(qWords(j + qui64Run + 4), qNext_High));
            if (!_mm256_testz_si256(qDiffer, qDiffer))
                break;
            qui64Run += 8;
            qNext = _mm256_add_epi64(qNext, qEight);
            qNext_High = _mm256_add_epi64(qNext_High, qEight);
        }
        qui64Run = qui64Extend_Run(pucData, j, qui64Run, qui64Max_Run, qui64Pattern + qui64Index);
        vAdd_Run(vecRuns, cRun{qui64Index, qui64Run, qui64Offset + 8 * j});
        qui64Hits += qui64Run;
        j += qui64Run;
    }
#undef qIndexes
#undef qWords
    return qui64Hits;
}

const bool bHas_Avx2 = __builtin_cpu_supports("avx2");

} // namespace

bool bScan_Vectorised()
{
    return bHas_Avx2;
}

quint64 qui64Scan_Words(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Offset,
                        const quint64 qui64Pattern, const quint64 qui64Bound, std::vector<cRun> &vecRuns,
                        const bool bVectorised)
{
    if (bVectorised && bHas_Avx2)
        return qui64Scan_Avx2(pucData, qui64Words, qui64Offset, qui64Pattern, qui64Bound, vecRuns);
    return qui64Scan_Portable(pucData, qui64Words, qui64Offset, qui64Pattern, qui64Bound, vecRuns);
}

quint64 qui64Count_Words(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Pattern,
                         const quint64 qui64Bound)
{
    quint64 qui64Hits = 0;
    for (quint64 j = 0; j < qui64Words; ++j)
        qui64Hits += qFromBigEndian<quint64>(pucData + 8 * j) - qui64Pattern < qui64Bound;
    return qui64Hits;
}

// ---------------------------------------------------------------------------------------
// Run table

cRun_Table::cRun_Table(const quint64 qui64Max) : qui64Max_Runs(qui64Max) {}

void cRun_Table::vAppend(const std::vector<cRun> &vecBlock)
{
    for (const cRun &oRun : vecBlock) {
        if (!vecRuns.empty() && vecRuns.back().qui64End() == oRun.qui64First &&
            vecRuns.back().qui64Offset_End() == oRun.qui64Offset) {
            vecRuns.back().qui64Count += oRun.qui64Count; // a run across the blocks' boundary
        } else if (vecRuns.size() < qui64Max_Runs) {
            try {
                vecRuns.push_back(oRun);
            } catch (const std::bad_alloc &) { // less memory than the bound assumed: it is here
                qui64Max_Runs = vecRuns.size();
                vUntracked(oRun);
            }
        } else {
            vUntracked(oRun);
        }
    }
}

void cRun_Table::vUntracked(const cRun &oRun)
{
    if (qui64Untracked_Words == 0 || oRun.qui64Offset < qui64Untracked_From)
        qui64Untracked_From = oRun.qui64Offset;
    qui64Untracked_Words += oRun.qui64Count;
}

void cRun_Table::vAdd_Untracked(const quint64 qui64Words, const quint64 qui64Offset)
{
    std::lock_guard<std::mutex> qLock(qMutex);
    vUntracked(cRun{0, qui64Words, qui64Offset});
}

void cRun_Table::vAdd_Block(const quint64 qui64Block, std::vector<cRun> &&vecBlock)
{
    std::lock_guard<std::mutex> qLock(qMutex);
    if (qui64Block != qui64Next_Block) {
        mapWaiting.emplace(qui64Block, std::move(vecBlock));
        return;
    }
    vAppend(vecBlock);
    ++qui64Next_Block;
    // Blocks that finished early follow in order.
    for (auto it = mapWaiting.begin(); it != mapWaiting.end() && it->first == qui64Next_Block;
         it = mapWaiting.erase(it)) {
        vAppend(it->second);
        ++qui64Next_Block;
    }
}

std::vector<cRun> cRun_Table::vecTake(quint64 *pqui64Untracked, quint64 *pqui64Untracked_From)
{
    std::lock_guard<std::mutex> qLock(qMutex);
    // Blocks still waiting for one that was never read (a cancelled read) join in order.
    for (const auto &oWaiting : mapWaiting)
        vAppend(oWaiting.second);
    mapWaiting.clear();
    *pqui64Untracked = qui64Untracked_Words;
    *pqui64Untracked_From = qui64Untracked_From;
    return std::move(vecRuns);
}

quint64 qui64Sort_By_Index(std::vector<cRun> &vecRuns)
{
    std::sort(vecRuns.begin(), vecRuns.end(), [](const cRun &a, const cRun &b) { return a.qui64First < b.qui64First; });
    quint64 qui64Distinct = 0, qui64Covered_To = 0;
    for (const cRun &oRun : vecRuns) {
        const quint64 qui64From = std::max(oRun.qui64First, qui64Covered_To);
        if (oRun.qui64End() > qui64From) {
            qui64Distinct += oRun.qui64End() - qui64From;
            qui64Covered_To = oRun.qui64End();
        }
    }
    return qui64Distinct;
}
