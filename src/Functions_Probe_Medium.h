#ifndef FUNCTIONS_PROBE_MEDIUM_H
#define FUNCTIONS_PROBE_MEDIUM_H

#include "Functions_Drive.h"
#include "Functions_Results.h"

#include <QString>

class cOperator;

// The medium probe: a verdict in seconds on the mounted volume, between the poll and the
// fill. A file is preallocated in the volume without being written, its place on the device
// learnt, and marked blocks are written straight to the device inside that place, spread over
// the whole device; what the medium gives back tells whether it keeps what it announces.
// Whatever lay under each block is written back afterwards, and the file is removed.

enum eProbe_Status {
    eProbe_Not_Run,
    eProbe_No_Poll,     // no device or volume polled
    eProbe_Refused,     // the volume is not the polled one, or not known to lie on the device
    eProbe_Busy,        // another run holds the volume
    eProbe_No_Prealloc, // the file system allocates only by writing: the checking fill is for it
    eProbe_Unplaced,    // where the file lies on the device is not known
    eProbe_Failed,      // the file or the device could not be used
    eProbe_Cancelled,   // by the operator or a signal; what was written is back
    eProbe_Done
};
const char *pcProbe_Status_Name(const eProbe_Status eStatus); // for scripts

class cProbe_Result
{
public:
    eProbe_Status eStatus = eProbe_Not_Run;
    QString qsError; // why it did not probe, naming the volume or the device
    QString qsDevice, qsVolume;
    eVerdict eValue = eVerdict_None; // as the read names it, where it applies
    quint64 qui64Device_Bytes = 0;
    quint64 qui64File_Bytes = 0;    // the preallocated file
    quint64 qui64Usable_Bytes = 0;  // a fake: what it keeps (wraparound: before the period repeats)
    quint64 qui64Wrap_Period = 0;   // wraparound: the distance at which places repeat
    quint64 qui64Cache_Bytes = 0;   // capacity limited: what a cache beyond the capacity still held
    quint64 qui64Bytes_Written = 0; // marks and filler, not the restore
    quint64 qui64Step = 0;          // the distance between the first round's samples
    int iBlocks = 0;                // sample blocks written and read back
    int iRounds = 0;
    int iUnreadable = 0;            // sample blocks that could not be read
    quint64 qui64Not_Restored = 0;  // blocks whose old content could not be written back
    int iRestore_Errno = 0;
    int iWrite_Errno = 0;           // the refused write's reason
    qint64 qi64Elapsed_Ms = 0;
};

// Probes the medium under the polled volume; the operator sees progress and may cancel.
cProbe_Result oProbe(const cDrive &oDrive, const cVolume &oVolume, cOperator &oOperator);
// The probe ran to a verdict.
bool bProbe_Ok(const cProbe_Result &oResult);
// A fake: the fill is worth offering only up to what the medium keeps (0: no such limit).
quint64 qui64Probe_Fill_Limit(const cProbe_Result &oResult);
// The probe found a fake, or a medium that refuses writes: a fill would write where nothing is kept.
bool bProbe_Stops_Fill(const cProbe_Result &oResult);

#endif // FUNCTIONS_PROBE_MEDIUM_H
