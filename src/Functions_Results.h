#ifndef FUNCTIONS_RESULTS_H
#define FUNCTIONS_RESULTS_H

#include "Functions_Table.h"

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>

#include <vector>

// The plain results of a read, shared by the reader that fills them, the verdict that judges
// them, the model of the medium and the report that tells them: no behaviour here but their
// names for scripts.

typedef QVector<QPair<quint64, quint64>> tRanges; // [first, end), sorted, apart

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
    int iFD = -1; // the file as the writer holds it open: asked instead of the name, which may lead elsewhere now
};

// Where the fill's placement was learnt: the file system's FIEMAP, its structures on the
// device read with The Sleuth Kit, btrfs's logical addresses through its chunk tree, or,
// as the last resort, the words the read found.
enum ePlacement_Source {
    ePlacement_None,
    ePlacement_Fiemap,
    ePlacement_Tsk,
    ePlacement_Btrfs_Chunks,
    ePlacement_Found_Words
};
const char *pcPlacement_Source_Name(const ePlacement_Source eSource); // for scripts; "" for none

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
    ePlacement_Source eSource = ePlacement_None;
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
    // The fill of this same run ended before the volume was full: why (empty where it filled
    // it, or no fill of this run is known). The volume's size is the whole the fill is a
    // share of.
    QString qsFill_Stopped;
    quint64 qui64Volume_Bytes = 0;
    // The file system's structures on the device hold less of the fill than its files do: a
    // FUSE driver keeps the rest in its memory, and nothing can be judged yet.
    bool bUnwritten = false;

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
    quint64 qui64Capacity_Min = 0;     // a fake's capacity: proven kept up to here (usable)
    quint64 qui64Capacity_Max = 0;     // and proven lost from here; larger where the fill left a gap
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

enum eRead_Status {
    eRead_Not_Run,
    eRead_No_Poll,        // no device known yet
    eRead_Done,           // every byte was read or tried
    eRead_Cancelled,      // by the operator or a signal
    eRead_Open_Failed,    // the device could not be opened
    eRead_Not_Device,     // neither a block device nor an image file
    eRead_Alloc_Failed,   // no memory for the read buffers
    eRead_Shrunk,         // the device became smaller during the read
    eRead_Volume_Changed, // the volume is no longer the one polled: nothing to compare with
    eRead_Fill_Unwritten  // the file system's driver has not put all of the fill on the device yet
};
// The status as scripts see it.
const char *pcRead_Status_Name(const eRead_Status eStatus);
// The read went over the device, whole or in part, so its result says something.
bool bRead_Scanned(const eRead_Status eStatus);

// What one read of the raw device saw, and (oVerdict) what that says of the fill.
class cRead_Result
{
public:
    eRead_Status eStatus = eRead_Not_Run;
    QString qsError; // the system's reason when the read could not start
    QString qsDevice;
    QString qsVolume;             // whose fill the read is compared with
    bool bPattern_From_Fill = false; // the fill file's pattern, not the poll's (the volume grew since)
    QDateTime qdtRead;            // when it started
    quint64 qui64Bytes_Count = 0; // bytes the read was to cover
    quint64 qui64Pattern = 0;
    quint64 qui64Data_Count = 0; // indexes 0 .. qui64Data_Count - 1 are looked for
    quint64 qui64Bytes_Done = 0; // bytes read or given up as unreadable
    quint64 qui64Bytes_Bad = 0;
    quint64 qui64Shrunk_To = 0; // the device's size when it shrank
    quint64 qui64Hits = 0;      // fill words seen, duplicates included
    quint64 qui64Distinct = 0;  // distinct indexes seen
    qint64 qi64Elapsed_Ms = 0;
    bool bDirect = false;    // the page cache was bypassed
    bool bAbandoned = false; // readers stuck in the device were left behind
    bool bSampled = false;   // read as a plan said: whole where the fill wrote, sampled beyond
    quint64 qui64Bytes_Planned = 0;

    // Where the words lie, sorted by first index; words beyond the table's bound were
    // counted, not placed.
    std::vector<cRun> vecRuns;
    quint64 qui64Untracked_Words = 0;
    quint64 qui64Untracked_From = 0; // device offset of the first of them
    // Device ranges [first, end) not read, or unreadable; and the unreadable ones alone.
    QVector<QPair<quint64, quint64>> qvNot_Read;
    QVector<QPair<quint64, quint64>> qvUnreadable;
    // What the read was to cover and never reached, because it stopped first.
    tRanges qvUnread;
    quint64 qui64Unread_Bytes = 0;

    // The device as equal regions: fill words, unreadable bytes and bytes covered in each.
    quint64 qui64Region_Bytes = 0;
    QVector<quint64> qvRegion_Hits;
    QVector<quint64> qvRegion_Bad;
    QVector<quint64> qvRegion_Done;

    cVerdict oVerdict;
};
// Every byte the read was to cover was read or tried: no reader stopped early, none left behind.
bool bRead_Whole(const cRead_Result &oResult);

#endif // FUNCTIONS_RESULTS_H
