#include "Functions_Records.h"

#include "Functions_Topology.h"

#include <QCoreApplication>

// Each value in decimal, as the form shows it.
const cPoll_Field aoPoll_Fields[iPoll_Fields] = {
    {"label_Drive_Name_Value", "Системное имя", 0, [] { return oDrive.qsDrive_Name; }},
    {"label_Drive_Sector_Size_Value", "Размер сектора", 0, [] { return QString::number(oDrive.iSector_Size, 10); }},
    {"label_Drive_Sectors_Count_Value", "Количество секторов", 0,
     [] { return QString::number(oDrive.qui64Sectors_Count, 10); }},
    {"label_Drive_Bytes_Count_Value", "Объём носителя", 0, [] { return QString::number(oDrive.qui64Bytes_Count, 10); }},
    {"label_Volume_Name_Value", "Системное имя", 1, [] { return oVolume.qsVolume_Name; }},
    {"label_Volume_Cluster_Size_Value", "Размер кластера", 1,
     [] { return QString::number(oVolume.iCluster_Size, 10); }},
    {"label_Volume_Clusters_Count_Value", "Количество кластеров", 1,
     [] { return QString::number(oVolume.qui64Clusters_Count, 10); }},
    {"label_Volume_Bytes_Count_Value", "Объём раздела", 1,
     [] { return QString::number(oVolume.qui64Bytes_Count, 10); }},
    {"label_Volume_Clusters_Free_Count_Value", "Количество свободных кластеров", 1,
     [] { return QString::number(oVolume.qui64Clusters_Free_Count, 10); }},
    {"label_Volume_Bytes_Free_Count_Value", "Количество свободного места", 1,
     [] { return QString::number(oVolume.qui64Bytes_Free_Count, 10); }},
    {"textEdit_Data_Pattern_Value", "Паттерн 11...10\nдля свободного места\n(числом)", 2,
     [] { return QString::number(oData.qui64Pattern, 10); }},
    {"textEdit_Data_Pattern_Text_Value", "Паттерн 11...10\nдля свободного места\n(текстом)", 2,
     [] { return oData.qsPattern; }}};

namespace {

// The form's texts are translatable under the window's context.
QString qsForm_Text(const char *pcText)
{
    return QCoreApplication::translate("MainWindow", pcText);
}

} // namespace

bool bPoll_Records(const QString &qsDrive_Path, const QString &qsVolume_Path, bool *pbDrive_Opened)
{
    oVolume.vGet_Properties(qsVolume_Path);
    const bool bDrive_Opened = oDrive.bGet_Properties(qsDrive_Path);
    oData.vGet_Properties(oVolume.qui64Clusters_Count, oVolume.iCluster_Size);
    if (pbDrive_Opened)
        *pbDrive_Opened = bDrive_Opened;
    return bDrive_Opened && oVolume.qsError.isEmpty();
}

bool bFill_Records(const bool bForce)
{
    // The fill writes until the volume is full: it must be the volume on the polled device,
    // not the root file system or RAM because a path was mistyped.
    if (!oVolume.qsVolume_Name.isEmpty() && !bForce) {
        QString qsWhy = oVolume.qsError;
        const int iOn_Device = !qsWhy.isEmpty() ? -1
                               : oDrive.qsDrive_Name.isEmpty()
                                   ? -1
                                   : iVolume_On_Device(oVolume.qsVolume_Name, oDrive.qsDrive_Name, &qsWhy);
        if (iOn_Device != 1) {
            oData.oFill_Result = cFill_Result();
            oData.oFill_Result.eStatus = eFill_Refused;
            oData.oFill_Result.qsPath = qsFill_File_Path(oVolume.qsVolume_Name);
            oData.oFill_Result.qsError = oDrive.qsDrive_Name.isEmpty() ? "носитель не опрошен" : qsWhy;
            return false;
        }
    }
    const cVolume oVolume_Copy = oVolume;
    oData.vWrite_Data(oVolume_Copy);
    const eFill_Status eStatus = oData.oFill_Result.eStatus;
    return eStatus == eFill_Complete || eStatus == eFill_Full || eStatus == eFill_Too_Large;
}

cFill_Layout oFill_Layout(const QString &qsVolume, const QString &qsDevice)
{
    cFill_Layout oLayout;
    oLayout.qvParts = qvFill_Parts(qsVolume);
    oLayout.iOn_Device = iVolume_On_Device(qsVolume, qsDevice, &oLayout.qsOn_Device_Why);
    if (!oLayout.qvParts.isEmpty())
        oLayout.bPlaced = bFill_Placement(oLayout.qvParts, qsDevice, &oLayout.vecExpected, &oLayout.qsPlacement_Why);
    return oLayout;
}

bool bRead_Records()
{
    // The last poll's pattern, and every index that poll's volume could hold.
    oDrive.vRead_Data(oData.qui64Pattern, oData.qui64Data_Count);
    cRead_Result &oResult = oDrive.oRead_Result;
    if (oResult.bAbandoned) {
        // The device stopped answering: asking where things lie on it would hang as well.
        cFill_Layout oLayout;
        oLayout.qvParts = qvFill_Parts(oVolume.qsVolume_Name);
        oLayout.qsPlacement_Why = oLayout.qsOn_Device_Why = "носитель перестал отвечать";
        vJudge(oResult, oLayout);
    } else if (bRead_Scanned(oResult.eStatus)) {
        vJudge(oResult, oFill_Layout(oVolume.qsVolume_Name, oResult.qsDevice));
    }
    return oResult.eStatus == eRead_Done;
}

QStringList qslPoll_Values()
{
    QStringList qslResult;
    for (const cPoll_Field &oField : aoPoll_Fields)
        qslResult << oField.qsValue();
    return qslResult;
}

QStringList qslPoll_Captions()
{
    QStringList qslResult;
    for (const cPoll_Field &oField : aoPoll_Fields)
        qslResult << qsForm_Text(oField.pcCaption);
    return qslResult;
}

QStringList qslPoll_Sections()
{
    return {qsForm_Text("Носитель:"), qsForm_Text("Раздел:"), qsForm_Text("Данные")};
}
