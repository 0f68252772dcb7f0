#ifndef FUNCTIONS_VERDICT_H
#define FUNCTIONS_VERDICT_H

#include "Functions_Table.h"

#include <QPair>
#include <QString>
#include <QVector>

#include <vector>

typedef QVector<QPair<quint64, quint64>> tRanges; // [first, end), sorted, apart

class cRead_Result;

// What a read says of the medium, worst news first where several apply.
enum eVerdict {
    eVerdict_None,             // no read has been compared yet
    eVerdict_Intact,           // every word of the fill file is on the medium, in place
    eVerdict_Data_Missing,     // part of the fill is missing, or not where it was written
    eVerdict_Data_Changed,     // words lie at their place with some bits changed
    eVerdict_Damaged,          // some sectors cannot be read
    eVerdict_Capacity_Limited, // the medium keeps nothing beyond some offset (but what a cache holds)
    eVerdict_Wraparound,       // the medium maps its announced space onto a smaller one
    eVerdict_Keeps_Recent,     // the medium keeps only what was written last, wherever it lies
    eVerdict_Write_Failed,     // the medium refused writes after some amount
    eVerdict_No_Plaintext,     // nothing of the fill is on the device: encrypted or compressed
    eVerdict_Not_On_Device,    // the volume does not lie on the scanned device
    eVerdict_Incomplete,       // the read was cancelled or stopped before the device's end
    eVerdict_Remnants,         // no fill file; words of an earlier fill are on the medium
    eVerdict_Clean             // no fill file, and no fill words on the medium
};
// The verdict as scripts see it.
const char *pcVerdict_Name(const eVerdict eValue);
// The medium passed, or there was nothing to check.
bool bVerdict_Good(const eVerdict eValue);

// One file of the fill. data.data and its continuations hold one sequence of indexes.
class cFill_Part
{
public:
    QString qsPath;
    quint64 qui64First = 0; // index of its first word
    quint64 qui64Words = 0;
};

// Whether a volume lies on the scanned device.
enum eOn_Device { eOn_Device_Unknown, eOn_Device_Yes, eOn_Device_No };

// What a read is compared with: the fill's files, where the file system put their words
// (runs in device offsets, sorted by index; holes have none), and whether the volume lies
// on the scanned device.
class cFill_Layout
{
public:
    QVector<cFill_Part> qvParts;
    bool bPlaced = false;
    bool bInferred = false; // placed from where the words were found, not by the file system
    std::vector<cRun> vecExpected;
    QString qsPlacement_Why; // why the placement is unknown, or how it was inferred
    eOn_Device eOn = eOn_Device_Unknown;
    QString qsOn_Device_Why;
    // Words missing from their place that a second look found there with a few bits changed,
    // sorted; and how many of those read as another fill word.
    QVector<quint64> qvChanged;
    quint64 qui64Changed_Hits = 0;
    // The fill of this same run had its writes refused (an I/O error) after this many bytes.
    quint64 qui64Refused_After = 0;

    quint64 qui64Words() const { return qvParts.isEmpty() ? 0 : qvParts.last().qui64First + qvParts.last().qui64Words; }
};

// A stretch of the fill that is not on the medium: indexes, and where it should have lain.
class cMissing_Range
{
public:
    quint64 qui64First = 0;
    quint64 qui64Count = 0;
    bool bPlaced = false;
    quint64 qui64Offset = 0; // device offset of its first word, when placed
};

class cVerdict
{
public:
    eVerdict eValue = eVerdict_None;
    cFill_Layout oLayout;
    quint64 qui64Words = 0; // words of the fill file(s)
    // Each word of the fill is one of these (in place and displaced only when placed).
    quint64 qui64In_Place = 0;         // found at the offset the file system put it
    quint64 qui64Displaced = 0;        // found, but elsewhere
    quint64 qui64Missing = 0;          // found nowhere
    quint64 qui64Not_Read = 0;         // its place was not read (cancelled, unreadable)
    quint64 qui64Found = 0;            // in place + displaced, or found anywhere when not placed
    quint64 qui64Changed = 0;          // at its place, with a few bits changed
    quint64 qui64Remnants = 0;         // fill-pattern words found that are none of the above
    quint64 qui64Usable_Bytes = 0;     // a fake: what the medium really keeps
    quint64 qui64Wrap_Period = 0;      // wraparound: the distance at which addresses repeat
    quint64 qui64Cache_Bytes = 0;      // capacity limited: what a cache beyond the capacity still held
    quint64 qui64Medium_Copies = 0;     // words a cache returned at other places than their own
    QVector<cMissing_Range> qvMissing; // the first stretches not found
    static const int iMax_Missing = 8;
    // Short stretches missing from known places: worth a second look for changed bits.
    std::vector<cRun> vecSuspects;
    // Without a fill file: where fill words of an earlier fill lie ([first, end) device bytes,
    // the first of them), and in how many areas.
    tRanges qvRemnant_Ranges;
    quint64 qui64Remnant_Areas = 0;
    quint64 qui64Remnant_Words = 0;
    // A fill leaves whole sectors; a shorter match is a metadata block (a bitmap, say) that
    // happens to look like a fill word.
    static const quint64 qui64Min_Remnant_Run = 8;
    static const int iMax_Ranges = 1000;

    // For the map: per device region (as the read's), the fill's words by their expected
    // place, and the fill-pattern words found there that are not the file's in place.
    QVector<quint64> qvRegion_In_Place, qvRegion_Displaced, qvRegion_Missing, qvRegion_Changed, qvRegion_Stray;
    // Per bucket of qui64Strip_Bucket indexes of the fill.
    quint64 qui64Strip_Bucket = 0;
    QVector<quint64> qvStrip_Found, qvStrip_Displaced, qvStrip_Missing, qvStrip_Not_Read;
};

// Compares a finished read with the fill and writes the verdict into oResult.oVerdict.
// It asks the system nothing: all it needs is in the read and the layout.
void vJudge(cRead_Result &oResult, const cFill_Layout &oLayout);
// The index ranges found anywhere, from runs sorted by first index.
tRanges qvFound_Indexes(const std::vector<cRun> &vecBy_Index);

#endif // FUNCTIONS_VERDICT_H
