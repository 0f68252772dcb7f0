#ifndef FUNCTIONS_DRIVE_H
#define FUNCTIONS_DRIVE_H

#include "Functions_Lock.h"
#include "Functions_Reader.h"

#include <QString>

#include <memory>

class cDrive
{
public:
    QString qsDrive_Name;
    int iSector_Size = 0;
    quint64 qui64Sectors_Count = 0;
    quint64 qui64Bytes_Count = 0;

    void vGet_Properties(QString qsDrive);
    // The probe itself; false when the device did not open (the operator was told).
    bool bGet_Properties(QString qsDrive);
    void vFormat(QString qsVolume);
    // Reads the whole device for the words pattern + i, i below qui64Data_Part; what it saw
    // is in oResult, progress goes to the operator.
    void vRead_Data(quint64 qui64Pattern, quint64 qui64Data_Part, cOperator &oOperator, cRead_Result &oResult,
                    const cRead_Plan &oPlan = cRead_Plan()) const;
    // The same for a caller that wants only the scan: progress goes to the default operator
    // (the window's in a widget program), a failure is told through it.
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
    QString qsError; // the system's reason when the last probe failed: no such directory, ...
    // Which directory the poll found, shared by the record's copies: the volume's one identity
    // for the whole run. Null for a record made by hand, whose steps go by the name.
    std::shared_ptr<const cVolume_Dir> pDir;

    void vGet_Properties(QString qsPath);
    // Empty while the volume is the one polled (or the record has no directory of its own);
    // else why not, naming the volume.
    QString qsChanged() const;
};

#endif // FUNCTIONS_DRIVE_H
