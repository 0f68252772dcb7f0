#include "Functions_Table.h"

#include <QtEndian>

#include <algorithm>
#include <cstdlib>

#include <immintrin.h>


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

