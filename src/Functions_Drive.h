#ifndef FUNCTIONS_DRIVE_H
#define FUNCTIONS_DRIVE_H

#include <QString>
#include <QVector>

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

enum eRead_Status { eRead_Not_Run, eRead_No_Poll, eRead_Done, eRead_Cancelled, eRead_Open_Failed, eRead_Alloc_Failed };

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

class cDrive
{
public:
    QString qsDrive_Name;
    int iSector_Size = 0;
    quint64 qui64Sectors_Count = 0;
    quint64 qui64Bytes_Count = 0;
    cRead_Result oRead_Result; // the last read

    void vGet_Properties(QString qsDrive);
    // The probe itself; false when the device did not open (the operator was told).
    bool bGet_Properties(QString qsDrive);
    void vFormat(QString qsVolume);
    void vRead_Data(quint64 qui64Pattern, quint64 qui64Data_Part);
};

class cVolume
{
public:
    QString qsVolume_Name;
    int iCluster_Size = 0;
    quint64 qui64Clusters_Count = 0;
    quint64 qui64Bytes_Count = 0;
    quint64 qui64Clusters_Free_Count = 0;
    quint64 qui64Bytes_Free_Count = 0;

    void vGet_Properties(QString qsPath);
};

// Compares a finished read with the fill file in qsVolume (volume path ending in "/"),
// summarises the presence table into the strip and the missing ranges, and releases it.
void vCompare_With_Volume(cRead_Result &oResult, const QString &qsVolume);

// The read's inner loop: marks in oTable every word of pucData whose index (word - pattern)
// is below qui64Bound (and the table's size), and returns how many there were; adds to
// *pqui64New the indexes that were not marked before. bVectorised uses AVX2 where the
// processor has it; both ways give the same result.
quint64 qui64Scan_Words(const uchar *pucData, const quint64 qui64Words, const quint64 qui64Pattern,
                        const quint64 qui64Bound, cBit_Table &oTable, const bool bVectorised, quint64 *pqui64New);
bool bScan_Vectorised(); // the processor has AVX2

// How the read reaches the medium: O_DIRECT, or buffered after dropping the device's
// cached pages. The benchmark compares both; the tool uses the default.
enum eRead_Mode { eRead_Direct, eRead_Buffered };
void vSet_Read_Mode(const eRead_Mode eMode);

// 1 when the file system holding qsVolume lies on qsDevice (the device itself, a
// partition or a layer on it, or a loop device over the image file qsDevice), 0 when it
// does not, -1 when that cannot be told.
int iVolume_On_Device(const QString &qsVolume, const QString &qsDevice);

#endif // FUNCTIONS_DRIVE_H
