#include "Functions_Data.h"

#include "Functions_Files.h"
#include "Functions_Operator.h"
#include "Functions_Writer.h"

#include <QElapsedTimer>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

void cData::vGet_Properties(quint64 qui64Clusters_Free_Count, int iCluster_Size)
{
    // Words per cluster first, then clusters; the product wraps modulo 2^64.
    const qint64 qi64Words_Per_Cluster = iCluster_Size / 8;
    qui64Data_Count = quint64(qi64Words_Per_Cluster) * qui64Clusters_Free_Count;
    qui64Pattern = qui64Calc_Pattern(qui64Data_Count);
    qsPattern = qsText_Data(qui64Pattern);
}

quint64 cData::qui64Calc_Pattern(quint64 qui64Value) const
{
    // The smallest k with 2^k >= value; 64 when the value is above 2^63.
    int iPow_2 = 0;
    while (iPow_2 < 64 && (quint64(1) << iPow_2) < qui64Value)
        ++iPow_2;
    // Ones in bits k+1 to 63, so pattern + index never reaches them for index < 2^k.
    quint64 qui64Result = 0;
    for (int i = iPow_2 + 1; i <= 63; ++i)
        qui64Result += quint64(1) << i;
    return qui64Result;
}

QString cData::qsText_Data(quint64 qui64Value) const
{
    const QString qsBits_Temp = QString::number(qui64Value, 2);
    QString qsBits;
    for (int i = 0; i < qsBits_Temp.size(); i += 8) {
        const QString qsGroup = qsBits_Temp.mid(i, 8);
        if (qsGroup == "00000000")
            break;
        qsBits += qsGroup + ".\n";
    }
    qsBits.chop(1);
    return qsBits + "..";
}

void cData::vWrite_Data(cVolume oVolume, cOperator &oOperator, cFill_Result &oResult) const
{
    QElapsedTimer qTimer;
    qTimer.start();
    oResult = cFill_Result();
    const quint64 qui64Data_Count = oVolume.qui64Bytes_Count >> 3;
    oResult.qui64Data_Count = qui64Data_Count;
    oResult.qui64Pattern = qui64Pattern;
    if (oVolume.qsVolume_Name.isEmpty()) {
        // Without a volume the name would be relative to the working directory.
        oResult.eStatus = eFill_No_Poll;
        return;
    }
    const QString &qsVolume = oVolume.qsVolume_Name;
    oResult.qsPath = qsFill_File_Path(qsVolume);
    const cIO_Buffers oBuffer(1, stFill_Chunk);
    if (oBuffer.iCount() == 0) {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(ENOMEM);
        return;
    }
    cFill_File oFile;
    if (!oFile.bOpen(qsVolume, 1, 0, &oResult.qsError)) {
        oResult.eStatus = eFill_Open_Failed;
        return;
    }
    vRemove_Continuations(qsVolume);
    oResult.bDirect = oFile.bDirect;
    oResult.iFiles = 1;

    cProgress_Scope oProgress(oOperator, "Заполнение", "Запись файла " + oResult.qsPath,
                              qMin(qui64Data_Count * 8, qui64Free_Bytes(qsVolume)));
    quint64 i = 0;
    int iError = 0;
    bool bCancelled = false;
    for (;;) {
        i = qui64Write_Parallel(oFile, qui64Pattern, i, qui64Data_Count, oOperator, &bCancelled, &oResult.bAbandoned);
        if (oResult.bAbandoned)
            break;
        if (!bCancelled)
            i = qui64Write_Sequential(oFile, qui64Pattern, i, qui64Data_Count, oBuffer.pucBuffer(0), oOperator,
                                      &bCancelled, &iError);
        if (bCancelled || iError != EFBIG || i == oFile.qui64First)
            break;
        // The file system's largest file (FAT32: 4 GiB): the sequence goes on in the next file.
        if ((iError = oFile.iClose(i)) != 0)
            break;
        if (!oFile.bOpen(qsVolume, ++oResult.iFiles, i, &oResult.qsError)) {
            oResult.qsError = qsFill_File_Path(qsVolume, oResult.iFiles) + ": " + oResult.qsError;
            --oResult.iFiles;
            iError = -1;
            break;
        }
    }
    int iClose_Error = 0;
    if (oResult.bAbandoned) {
        close(oFile.iFD); // no cut, no sync: either would wait for the writers left in the device
        oFile.iFD = -1;
    } else if (oFile.iFD >= 0) {
        iClose_Error = oFile.iClose(i);
    }
    oResult.qui64Words_Written = i;
    oResult.qi64Elapsed_Ms = qTimer.elapsed();
    if (iError == -1) {
        oResult.eStatus = eFill_Error; // the next file could not be made; qsError says why
    } else if (iClose_Error != 0) {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(iClose_Error);
        oResult.iErrno = iClose_Error;
    } else if (bCancelled || oResult.bAbandoned) {
        oResult.eStatus = eFill_Cancelled;
    } else if (iError == 0) {
        oResult.eStatus = eFill_Complete;
    } else if (bOut_Of_Space(iError)) {
        oResult.eStatus = eFill_Full;
    } else if (iError == EFBIG) {
        oResult.eStatus = eFill_Too_Large;
    } else {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(iError);
        oResult.iErrno = iError;
    }
}

quint64 qui64Pattern_Indexes(const quint64 qui64Pattern)
{
    const quint64 qui64Low = ~qui64Pattern; // the zeros below the ones, as ones
    if (qui64Pattern == 0 || (qui64Low & (qui64Low + 1)) != 0 || qui64Low == 0)
        return 0;
    return (qui64Low >> 1) + 1;
}

QString qsFill_File_Path(const QString &qsVolume, const int iPart)
{
    return qsVolume + pcFill_File_Name + (iPart <= 1 ? QString() : "." + QString::number(iPart));
}

int iFill_Part_Of(const QString &qsName)
{
    if (qsName == pcFill_File_Name)
        return 1;
    const QString qsPrefix = QString(pcFill_File_Name) + ".";
    if (!qsName.startsWith(qsPrefix))
        return 0;
    bool bNumber = false;
    const int iPart = qsName.mid(qsPrefix.size()).toInt(&bNumber);
    // toInt takes "02", "+2" and " 2" too: those names are someone else's.
    return bNumber && iPart >= 2 && qsName == qsPrefix + QString::number(iPart) ? iPart : 0;
}

QVector<cFill_Part> qvFill_Parts(const QString &qsVolume)
{
    QVector<cFill_Part> qvResult;
    quint64 qui64First = 0;
    struct stat strFile;
    for (int iPart = 1; !qsVolume.isEmpty(); ++iPart) {
        const QString qsPath = qsFill_File_Path(qsVolume, iPart);
        if (lstat(qsPath.toStdString().c_str(), &strFile) != 0 || !S_ISREG(strFile.st_mode))
            break;
        qvResult.append({qsPath, qui64First, quint64(strFile.st_size) / 8});
        qui64First += quint64(strFile.st_size) / 8;
    }
    return qvResult;
}

const char *pcFill_Status_Name(const eFill_Status eStatus)
{
    switch (eStatus) {
    case eFill_Not_Run:
        return "not_run";
    case eFill_No_Poll:
        return "no_poll";
    case eFill_Open_Failed:
        return "open_failed";
    case eFill_Complete:
        return "complete";
    case eFill_Full:
        return "full";
    case eFill_Too_Large:
        return "too_large";
    case eFill_Error:
        return "error";
    case eFill_Cancelled:
        return "cancelled";
    case eFill_Refused:
        return "refused";
    }
    return "";
}
