#ifndef FUNCTIONS_PROBE_BLOCKS_H
#define FUNCTIONS_PROBE_BLOCKS_H

#include <QtGlobal>

#include <functional>
#include <vector>

// One round of the medium probe on the raw device: marked 4 KiB blocks at sample places, a
// filler written after them that pushes them out of any write cache, then everything read
// back. Every block is read before anything is written and written back afterwards in the
// reverse order of the writes, so that what lay there is there again, also where the medium
// maps an announced place onto another one.

const quint64 qui64Probe_Block = 4096;

// What a sample's place held when read back.
enum eProbe_Seen {
    eSeen_Not_Written, // not written: unreadable before, or the round stopped first
    eSeen_Own,         // its own mark
    eSeen_Changed,     // its own mark with a few bits changed
    eSeen_Other,       // the mark of another sample: the two places are one on the medium
    eSeen_Filler,      // a block of the filler
    eSeen_Lost         // anything else: zeros, old data
};

class cProbe_Sample
{
public:
    quint64 qui64Offset = 0;
    eProbe_Seen eSeen = eSeen_Not_Written;
    quint64 qui64Seen_Offset = 0; // whose mark was found (eSeen_Other, eSeen_Filler)
    bool bUnreadable = false;
};

// How a round went besides the samples.
class cProbe_Round
{
public:
    std::vector<cProbe_Sample> vecSamples;
    std::vector<quint64> vecFiller; // offsets, written in this order after the samples
    quint64 qui64Filler_Kept = 0;   // filler blocks read back with their own mark: the last ones written
    bool bFiller_Last_Kept = false; // the very last block written reads back
    quint64 qui64Bytes_Written = 0; // marks and filler, not the restore
    bool bWrite_Refused = false;    // a write failed: the medium takes no more
    int iWrite_Errno = 0;
    bool bCancelled = false;
    quint64 qui64Not_Restored = 0; // blocks whose old content could not be written back
    int iRestore_Errno = 0;
};

// Runs one round on the device open as iFD (O_DIRECT, read-write), several requests at a
// time. qui64Tag tells this probe's marks from anything else. bStop is asked before each
// write, from the round's threads; once it says stop, what was written is restored and the
// round ends. vAdvance gets the blocks done so far, four passes over each (read, write, read
// back, restore), on the calling thread.
void vProbe_Round(const int iFD, const quint64 qui64Tag, cProbe_Round &oRound, const std::function<bool()> &bStop,
                  const std::function<void(quint64)> &vAdvance);

#endif // FUNCTIONS_PROBE_BLOCKS_H
