#ifndef FUNCTIONS_DRIVE_H
#define FUNCTIONS_DRIVE_H

#include "Functions_Reader.h"

#include <QString>

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

    void vGet_Properties(QString qsPath);
};

#endif // FUNCTIONS_DRIVE_H
