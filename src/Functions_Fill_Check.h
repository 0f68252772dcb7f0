#ifndef FUNCTIONS_FILL_CHECK_H
#define FUNCTIONS_FILL_CHECK_H

#include "Functions_Table.h"

#include <QString>

#include <functional>
#include <vector>

class cFill_Part;

// The fill checks as it goes that the medium keeps what it was given: now and then it reads
// back, past every cache, the first stretch of the file (a medium that wraps its addresses
// writes over it) and a stretch written long enough ago that no cache of the medium's still
// holds it. A medium that keeps everything costs a few reads; one that loses data is caught
// soon after the loss begins, instead of hours of filling later. Wherever the file's place
// is known (FIEMAP, btrfs's chunk tree, a FUSE file system's structures on the device): the
// device is read there, direct, never through the file system.
class cFill_Check
{
public:
    // fCancelled: whether the operator asked to stop, for a check that waits on the device.
    cFill_Check(const QString &qsDevice, const quint64 qui64Pattern, const quint64 qui64Volume_Bytes,
                std::function<bool()> fCancelled = {});

    // A check is due now that the file holds this many bytes from its start.
    bool bDue(const quint64 qui64Written) const;
    // Reads the samples back of the file the writer writes through iFD (named qsPath, which
    // may have been renamed meanwhile), whose first word has index qui64First and whose first
    // qui64Written bytes are written. True when the medium lost them; where the lost sample
    // lay is kept.
    bool bLost(const int iFD, const QString &qsPath, const quint64 qui64First, const quint64 qui64Written);

    bool bEnabled = true;
    bool bLoss_Found = false;
    bool bGone_On = false; // a loss was seen, and the operator said fill on
    quint64 qui64Loss_File_Offset = 0; // the first lost sample, in the file
    quint64 qui64Loss_Device_Offset = 0;
    bool bLoss_Placed = false;
    quint64 qui64Bytes_Read = 0; // what the checks cost
    int iChecks = 0;

private:
    std::function<bool()> fCancelled;
    bool bSample_Lost(const cFill_Part &oFile, const quint64 qui64At);

    QString qsDevice;
    quint64 qui64Pattern;
    std::vector<cRun> vecKnown_Runs; // the last placement the file system gave, of qsKnown_Path
    QString qsKnown_Path;
    quint64 qui64Step;     // bytes of the file between checks
    quint64 qui64Next = 0; // the next check, in bytes of the file
};

// How far behind the newest write a sample lies: twice the largest write cache a stick is
// taken to have.
const quint64 qui64Check_Lag = quint64(64) << 20;
const quint64 qui64Check_Sample = quint64(256) << 10;

#endif // FUNCTIONS_FILL_CHECK_H
