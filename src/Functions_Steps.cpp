#include "Functions_Steps.h"

#include "Functions_Operator.h"
#include "Functions_Report.h"
#include "Functions_Topology.h"

#include <QCoreApplication>

// Each value in decimal, as the form shows it.
const cPoll_Field aoPoll_Fields[iPoll_Fields] = {
    {"label_Drive_Name_Value", "Системное имя", 0,
     [](const cDrive &oDrive, const cVolume &, const cData &) { return oDrive.qsDrive_Name; }},
    {"label_Drive_Sector_Size_Value", "Размер сектора", 0,
     [](const cDrive &oDrive, const cVolume &, const cData &) { return QString::number(oDrive.iSector_Size, 10); }},
    {"label_Drive_Sectors_Count_Value", "Количество секторов", 0,
     [](const cDrive &oDrive, const cVolume &, const cData &) {
         return QString::number(oDrive.qui64Sectors_Count, 10);
     }},
    {"label_Drive_Bytes_Count_Value", "Объём носителя", 0,
     [](const cDrive &oDrive, const cVolume &, const cData &) { return QString::number(oDrive.qui64Bytes_Count, 10); }},
    {"label_Volume_Name_Value", "Системное имя", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) { return oVolume.qsVolume_Name; }},
    {"label_Volume_Cluster_Size_Value", "Размер кластера", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) { return QString::number(oVolume.iCluster_Size, 10); }},
    {"label_Volume_Clusters_Count_Value", "Количество кластеров", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) {
         return QString::number(oVolume.qui64Clusters_Count, 10);
     }},
    {"label_Volume_Bytes_Count_Value", "Объём раздела", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) {
         return QString::number(oVolume.qui64Bytes_Count, 10);
     }},
    {"label_Volume_Clusters_Free_Count_Value", "Количество свободных кластеров", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) {
         return QString::number(oVolume.qui64Clusters_Free_Count, 10);
     }},
    {"label_Volume_Bytes_Free_Count_Value", "Количество свободного места", 1,
     [](const cDrive &, const cVolume &oVolume, const cData &) {
         return QString::number(oVolume.qui64Bytes_Free_Count, 10);
     }},
    {"textEdit_Data_Pattern_Value", "Паттерн 11...10\nдля свободного места\n(числом)", 2,
     [](const cDrive &, const cVolume &, const cData &oData) { return QString::number(oData.qui64Pattern, 10); }},
    {"textEdit_Data_Pattern_Text_Value", "Паттерн 11...10\nдля свободного места\n(текстом)", 2,
     [](const cDrive &, const cVolume &, const cData &oData) { return oData.qsPattern; }}};

namespace {

// The form's texts are translatable under the window's context.
QString qsForm_Text(const char *pcText)
{
    return QCoreApplication::translate("MainWindow", pcText);
}

// The fill writes until the volume is full: it must be the volume on the polled device, not
// the root file system or RAM because a path was mistyped. Empty when it is; else why not.
QString qsNot_On_Polled_Device(const cDrive &oDrive, const cVolume &oVolume)
{
    if (!oVolume.qsError.isEmpty())
        return oVolume.qsError;
    if (oDrive.qsDrive_Name.isEmpty())
        return "носитель не опрошен";
    QString qsWhy;
    if (eVolume_On_Device(oVolume.qsVolume_Name, oDrive.qsDrive_Name, &qsWhy) == eOn_Device_Yes)
        return QString();
    return qsWhy;
}

} // namespace

cPoll_Result oPoll(cDrive &oDrive, cVolume &oVolume, cData &oData, const QString &qsDrive_Path,
                   const QString &qsVolume_Path)
{
    cPoll_Result oResult;
    oVolume.vGet_Properties(qsVolume_Path);
    oResult.bDrive_Opened = oDrive.bGet_Properties(qsDrive_Path);
    oData.vGet_Properties(oVolume.qui64Clusters_Count, oVolume.iCluster_Size);
    oResult.qsVolume_Error = oVolume.qsError;
    return oResult;
}

cFill_Result oFill(const cDrive &oDrive, const cVolume &oVolume, const cData &oData, cOperator &oOperator)
{
    cFill_Result oResult;
    if (!oVolume.qsVolume_Name.isEmpty()) {
        const QString qsWhy = qsNot_On_Polled_Device(oDrive, oVolume);
        if (!qsWhy.isEmpty()) {
            oResult.eStatus = eFill_Refused;
            oResult.qsPath = qsFill_File_Path(oVolume.qsVolume_Name);
            oResult.qsError = qsWhy;
            if (!oOperator.bAsk("Внимание!", qsFill_Failure(oResult, oOperator.qsPoll_First()) +
                                                 "\n\nЗаполнить этот раздел всё равно?"))
                return oResult;
        }
    }
    oData.vWrite_Data(oVolume, oOperator, oResult);
    return oResult;
}

bool bFill_Ok(const cFill_Result &oResult)
{
    return oResult.eStatus == eFill_Complete || oResult.eStatus == eFill_Full || oResult.eStatus == eFill_Too_Large;
}

cFill_Layout oFill_Layout(const QString &qsVolume, const QString &qsDevice)
{
    cFill_Layout oLayout;
    oLayout.qvParts = qvFill_Parts(qsVolume);
    oLayout.eOn = eVolume_On_Device(qsVolume, qsDevice, &oLayout.qsOn_Device_Why);
    if (!oLayout.qvParts.isEmpty())
        oLayout.bPlaced = bFill_Placement(oLayout.qvParts, qsDevice, &oLayout.vecExpected, &oLayout.qsPlacement_Why);
    return oLayout;
}

cRead_Result oRead(const cDrive &oDrive, const cVolume &oVolume, const cData &oData, cOperator &oOperator)
{
    cRead_Result oResult;
    // The last poll's pattern, and every index that poll's volume could hold.
    oDrive.vRead_Data(oData.qui64Pattern, oData.qui64Data_Count, oOperator, oResult);
    if (oResult.bAbandoned) {
        // The device stopped answering: asking where things lie on it would hang as well.
        cFill_Layout oLayout;
        oLayout.qvParts = qvFill_Parts(oVolume.qsVolume_Name);
        oLayout.qsPlacement_Why = oLayout.qsOn_Device_Why = "носитель перестал отвечать";
        vJudge(oResult, oLayout);
    } else if (bRead_Scanned(oResult.eStatus)) {
        vJudge(oResult, oFill_Layout(oVolume.qsVolume_Name, oResult.qsDevice));
    }
    return oResult;
}

bool bRead_Ok(const cRead_Result &oResult)
{
    return oResult.eStatus == eRead_Done;
}

QStringList qslPoll_Values(const cDrive &oDrive, const cVolume &oVolume, const cData &oData)
{
    QStringList qslResult;
    for (const cPoll_Field &oField : aoPoll_Fields)
        qslResult << oField.qsValue(oDrive, oVolume, oData);
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
