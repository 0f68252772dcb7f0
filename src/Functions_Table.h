#ifndef FUNCTIONS_TABLE_H
#define FUNCTIONS_TABLE_H

#include <QtGlobal>

// One bit per word index. Zero pages are mapped lazily, so a large table costs memory
// only where something was found; a second, small map notes which pages hold a set bit,
// so counting and searching never touch the others. qui64Set_Range may be called from several
// threads at once.
class cBit_Table
{
public:
    cBit_Table() = default;
    ~cBit_Table();
    cBit_Table(cBit_Table &&oOther) noexcept;
    cBit_Table &operator=(cBit_Table &&oOther) noexcept;
    cBit_Table(const cBit_Table &) = delete;
    cBit_Table &operator=(const cBit_Table &) = delete;

    bool bAllocate(const quint64 qui64Entries); // false when the memory cannot be had
    void vRelease();
    quint64 qui64Entries() const { return qui64Size; }
    bool bAllocated() const { return pqui64Words != nullptr; }

    // Sets [qui64First, qui64First + qui64Count); returns how many of them were not set before.
    quint64 qui64Set_Range(const quint64 qui64First, const quint64 qui64Count);
    bool bTest(const quint64 qui64Index) const;
    // Set entries in [qui64First, qui64End).
    quint64 qui64Count(const quint64 qui64First, const quint64 qui64End) const;
    // The first index in [qui64From, qui64End) whose bit equals bValue, else qui64End.
    quint64 qui64Find(const bool bValue, const quint64 qui64From, const quint64 qui64End) const;

private:
    bool bPage_Touched(const quint64 qui64Word) const;

    quint64 *pqui64Words = nullptr;
    quint64 *pqui64Touched = nullptr; // one bit per page of 512 words
    quint64 qui64Size = 0;
};

// The read's inner loop: marks in oTable every word of pucData whose index (word - pattern)
// is below qui64Bound (and the table's size), and returns how many there were; adds to
// *pqui64New the indexes that were not marked before. bVectorised uses AVX2 where the
// processor has it; both ways give the same result.
quint64 qui64Scan_Words(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Pattern,
                        const quint64 qui64Bound, cBit_Table &oTable, const bool bVectorised, quint64 *pqui64New);
bool bScan_Vectorised(); // the processor has AVX2

#endif // FUNCTIONS_TABLE_H
