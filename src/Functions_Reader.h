#ifndef FUNCTIONS_READER_H
#define FUNCTIONS_READER_H

#include "Functions_Table.h"
#include "Functions_Verdict.h"

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>

#include <vector>

enum eRead_Status {
    eRead_Not_Run,
    eRead_No_Poll,      // no device known yet
    eRead_Done,         // every byte was read or tried
    eRead_Cancelled,    // by the operator or a signal
    eRead_Open_Failed,  // the device could not be opened
    eRead_Not_Device,   // neither a block device nor an image file
    eRead_Alloc_Failed, // no memory for the read buffers
    eRead_Shrunk        // the device became smaller during the read
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

    // The device as equal regions: fill words, unreadable bytes and bytes covered in each.
    quint64 qui64Region_Bytes = 0;
    QVector<quint64> qvRegion_Hits;
    QVector<quint64> qvRegion_Bad;
    QVector<quint64> qvRegion_Done;

    cVerdict oVerdict;
};

class cOperator;

// What a read covers: the whole device, or, after a fill that stopped when the medium lost
// data, everything up to where the fill wrote (whole) and a block of every few beyond it,
// enough to tell a limit from a wrap and to see what a cache holds.
class cRead_Plan
{
public:
    quint64 qui64Whole_To = ~quint64(0); // read whole up to this device offset
    int iSample_Every = 1;               // beyond it, one block of every this many
    bool bSampled() const { return iSample_Every > 1 && qui64Whole_To != ~quint64(0); }
};

// Reads the device qsDevice over qui64Bytes_Count bytes from offset 0 with a few threads
// and notes where every word pattern + i with i below qui64Data_Part lies. Fills oResult;
// shows progress through the operator and tells it nothing else. A cancelled read ends
// within a few seconds even when the device has stopped answering.
void vScan_Device(const QString &qsDrive_Name, const quint64 qui64Bytes_Count, const quint64 qui64Pattern,
                  const quint64 qui64Data_Part, cOperator &oOperator, cRead_Result &oResult,
                  const cRead_Plan &oPlan = cRead_Plan());

// Reads the words of each run's place again, past the page cache, into *pqvWords (in order;
// a word that cannot be read comes back as 0). False with the reason when the device could
// not be read at all.
bool bRead_Words(const QString &qsDevice, const std::vector<cRun> &vecWhere, QVector<quint64> *pqvWords,
                 QString *pqsError);

#endif // FUNCTIONS_READER_H
