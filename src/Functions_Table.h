#ifndef FUNCTIONS_TABLE_H
#define FUNCTIONS_TABLE_H

#include <QtGlobal>

#include <map>
#include <mutex>
#include <vector>

// A run of fill words that follow one another both in index and on the device: indexes
// qui64First .. qui64First + qui64Count - 1, the first of them at byte qui64Offset. The
// same record says where the fill file's words should lie.
class cRun
{
public:
    quint64 qui64First;
    quint64 qui64Count;
    quint64 qui64Offset;

    quint64 qui64End() const { return qui64First + qui64Count; }
    quint64 qui64Offset_End() const { return qui64Offset + 8 * qui64Count; }
    // Runs that hold the same index at the same place share this value (modulo 2^64).
    quint64 qui64Diagonal() const { return qui64Offset - 8 * qui64First; }
};

// The read's inner loop over qui64Words big-endian words that start at device offset
// qui64Offset: every word whose index (word - pattern) is below qui64Bound goes into
// vecRuns, runs of consecutive indexes as one record (joined to the last record when
// they go on from it). Returns how many such words there were. bVectorised uses AVX2
// where the processor has it; both ways give the same result.
quint64 qui64Scan_Words(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Offset,
                        const quint64 qui64Pattern, const quint64 qui64Bound, std::vector<cRun> &vecRuns,
                        const bool bVectorised);
bool bScan_Vectorised(); // the processor has AVX2
// How many of the words are fill words, keeping nothing: for when there is no memory left
// for the runs.
quint64 qui64Count_Words(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Pattern,
                         const quint64 qui64Bound);

// A healthy fill is a few runs per file extent; a medium of isolated words would be one
// run a word. The table stops growing at this many runs (a quarter of them for the
// sorted copies the comparison makes, all of it with the vector's room to grow: 1 GiB).
const quint64 qui64Default_Max_Runs = (quint64(1) << 30) / (4 * sizeof(cRun));

// The runs of one read, gathered from the blocks the readers finish in any order and on
// any thread, joined in device order so that a run across blocks stays one record.
class cRun_Table
{
public:
    explicit cRun_Table(const quint64 qui64Max = qui64Default_Max_Runs);
    void vAdd_Block(const quint64 qui64Block, std::vector<cRun> &&vecBlock);
    // Words of a block whose runs found no memory: counted, not placed.
    void vAdd_Untracked(const quint64 qui64Words, const quint64 qui64Offset);
    // The runs in device order; the words past the bound were counted, not kept.
    std::vector<cRun> vecTake(quint64 *pqui64Untracked, quint64 *pqui64Untracked_From);

private:
    void vAppend(const std::vector<cRun> &vecBlock);
    void vUntracked(const cRun &oRun);

    std::mutex qMutex;
    std::map<quint64, std::vector<cRun>> mapWaiting; // blocks done before an earlier one
    quint64 qui64Next_Block = 0;
    std::vector<cRun> vecRuns;
    quint64 qui64Max_Runs; // lowered where the memory ran out first
    quint64 qui64Untracked_Words = 0;
    quint64 qui64Untracked_From = 0;
};

// Sorts runs by first index and returns how many distinct indexes they hold.
quint64 qui64Sort_By_Index(std::vector<cRun> &vecRuns);

#endif // FUNCTIONS_TABLE_H
