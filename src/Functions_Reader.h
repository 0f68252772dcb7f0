#ifndef FUNCTIONS_READER_H
#define FUNCTIONS_READER_H

#include "Functions_Table.h"

#include <QPair>
#include <QString>
#include <QVector>

enum eRead_Status { eRead_Not_Run, eRead_No_Poll, eRead_Done, eRead_Cancelled, eRead_Open_Failed, eRead_Alloc_Failed };
// The status as scripts see it.
const char *pcRead_Status_Name(const eRead_Status eStatus);

// What one read of the raw device saw.
class cRead_Result
{
public:
    eRead_Status eStatus = eRead_Not_Run;
    QString qsError;              // the system's reason when the read could not start
    QString qsDevice;
    quint64 qui64Bytes_Count = 0; // bytes the read was to cover
    quint64 qui64Pattern = 0;
    quint64 qui64Table_Count = 0; // indexes 0 .. qui64Table_Count - 1 are tracked
    quint64 qui64Bytes_Done = 0;  // bytes read or given up as unreadable
    quint64 qui64Bytes_Bad = 0;
    quint64 qui64Hits = 0;        // fill words seen, duplicates included
    quint64 qui64Distinct = 0;    // distinct indexes seen
    qint64 qi64Elapsed_Ms = 0;
    bool bDirect = false;         // the page cache was bypassed

    // The device as equal regions: fill words, unreadable bytes and bytes covered in each.
    quint64 qui64Region_Bytes = 0;
    QVector<quint64> qvRegion_Hits;
    QVector<quint64> qvRegion_Bad;
    QVector<quint64> qvRegion_Done;

    cBit_Table oTable; // released once the result has been compared with the fill file

    // Compared with the fill file of the polled volume (vCompare_With_Volume).
    QString qsFill_Path;          // empty when the volume holds no fill file
    quint64 qui64Fill_Words = 0;  // words the fill file holds: indexes 0 .. qui64Fill_Words - 1
    quint64 qui64Fill_Found = 0;  // of those, tracked and seen on the device
    quint64 qui64Fill_Tracked = 0;
    QVector<QPair<quint64, quint64>> qvMissing; // the first index ranges not seen (first, last)
    int iOn_Device = -1;          // as iVolume_On_Device tells
    // Found indexes in equal buckets over [0, qui64Strip_End).
    quint64 qui64Strip_End = 0;
    quint64 qui64Strip_Bucket = 0;
    QVector<quint64> qvStrip_Found;
};

// Reads the device qsDevice over qui64Bytes_Count bytes from offset 0 with a few threads
// and marks every word pattern + i with i below qui64Data_Part (and the device's word
// count). Fills oResult; reports nothing.
void vScan_Device(const QString &qsDrive_Name, const quint64 qui64Bytes_Count, const quint64 qui64Pattern,
                  const quint64 qui64Data_Part, cRead_Result &oResult);

// How the read reaches the medium: O_DIRECT, or buffered after dropping the device's
// cached pages. The benchmark compares both; the tool uses the default.
enum eRead_Mode { eRead_Direct, eRead_Buffered };
void vSet_Read_Mode(const eRead_Mode eMode);

#endif // FUNCTIONS_READER_H
