#include "Functions_Data.h"

#include "Functions_Core.h"
#include "Functions_Files.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

void cData::vGet_Properties(quint64 qui64Clusters_Free_Count, int iCluster_Size)
{
    // Words per cluster first, then clusters; the product wraps modulo 2^64.
    const qint64 qi64Words_Per_Cluster = iCluster_Size / 8;
    qui64Data_Count = quint64(qi64Words_Per_Cluster) * qui64Clusters_Free_Count;
    qui64Pattern = qui64Calc_Pattern(qui64Data_Count);
    qsPattern = qsText_Data(qui64Pattern);
}

quint64 cData::qui64Calc_Pattern(quint64 qui64Value)
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

QString cData::qsText_Data(quint64 qui64Value)
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

namespace {

const size_t stFill_Buffer = 4 << 20;

// Opens the fill file without following a symbolic link and empties it only when it is a
// plain file of its own: the tool runs as root, and a link planted under that name must
// not make it destroy another file.
int iOpen_Fill_File(const QString &qsPath, QString *pqsError)
{
    const std::string sPath = qsPath.toStdString();
    // O_NONBLOCK: opening a FIFO for writing would otherwise wait for a reader.
    const int iFD = open(sPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (iFD < 0) {
        const int iError = errno;
        struct stat strNode;
        if (lstat(sPath.c_str(), &strNode) != 0)
            *pqsError = qsSystem_Reason(iError);
        else if (S_ISLNK(strNode.st_mode))
            *pqsError = "это символическая ссылка, а не файл";
        else if (!S_ISREG(strNode.st_mode))
            *pqsError = "это не обычный файл"; // a directory, or a FIFO without a reader
        else
            *pqsError = qsSystem_Reason(iError);
        return -1;
    }
    struct stat strStat;
    QString qsRefusal;
    if (fstat(iFD, &strStat) != 0)
        qsRefusal = qsSystem_Reason(errno);
    else if (!S_ISREG(strStat.st_mode))
        qsRefusal = "это не обычный файл";
    else if (strStat.st_nlink > 1)
        qsRefusal = "у файла есть другие жёсткие ссылки";
    else if (ftruncate(iFD, 0) != 0)
        qsRefusal = qsSystem_Reason(errno);
    if (!qsRefusal.isEmpty()) {
        close(iFD);
        *pqsError = qsRefusal;
        return -1;
    }
    fcntl(iFD, F_SETFL, fcntl(iFD, F_GETFL) & ~O_NONBLOCK);
    return iFD;
}

bool bSet_Direct(const int iFD, const bool bOn)
{
    const int iFlags = fcntl(iFD, F_GETFL);
    return iFlags != -1 && fcntl(iFD, F_SETFL, bOn ? (iFlags | O_DIRECT) : (iFlags & ~O_DIRECT)) == 0;
}

// Room the fill can take: the free space (the superuser's reserve included) after the old
// file was emptied.
quint64 qui64Free_Bytes(const QString &qsVolume)
{
    struct statvfs strStat;
    if (statvfs(qsVolume.toStdString().c_str(), &strStat) != 0)
        return 0;
    return quint64(strStat.f_bfree) * quint64(strStat.f_frsize);
}

} // namespace

void cData::vWrite_Data(cVolume oVolume)
{
    QElapsedTimer qTimer;
    qTimer.start();
    cFill_Result &oResult = oFill_Result;
    oResult = cFill_Result();
    const quint64 qui64Data_Count = oVolume.qui64Bytes_Count >> 3;
    oResult.qui64Words_Total = qui64Data_Count;
    oResult.qui64Pattern = qui64Pattern;

    if (oVolume.qsVolume_Name.isEmpty()) {
        // Without a volume the name would be relative to the working directory.
        oResult.eStatus = eFill_No_Poll;
        return;
    }
    oResult.qsPath = qsFill_File_Path(oVolume.qsVolume_Name);

    const int iFD = iOpen_Fill_File(oResult.qsPath, &oResult.qsError);
    if (iFD < 0) {
        oResult.eStatus = eFill_Open_Failed;
        return;
    }
    std::unique_ptr<uchar, decltype(&std::free)> pucBuffer(
        static_cast<uchar *>(std::aligned_alloc(stIO_Alignment, stFill_Buffer)), &std::free);
    if (!pucBuffer) {
        close(iFD);
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(ENOMEM);
        return;
    }
    // Direct writes skip the page cache; a file system that refuses them gets buffered ones.
    bool bDirect = bSet_Direct(iFD, true);
    oResult.bDirect = bDirect;

    const quint64 qui64Room = qMin(qui64Data_Count * 8, qui64Free_Bytes(oVolume.qsVolume_Name));
    cProgress oProgress("Заполнение", "Запись файла " + oResult.qsPath, qui64Room);
    quint64 *pqui64Words = reinterpret_cast<quint64 *>(pucBuffer.get());
    quint64 i = 0;
    int iError = 0;
    bool bCancelled = false;
    while (i < qui64Data_Count) {
        const quint64 qui64Words = qMin<quint64>(qui64Data_Count - i, stFill_Buffer / 8);
        for (quint64 j = 0; j < qui64Words; ++j)
            pqui64Words[j] = qToBigEndian<quint64>(qui64Pattern + i + j);
        const quint64 qui64Bytes = qui64Words * 8;
        if (bDirect && qui64Bytes % stIO_Alignment != 0)
            bDirect = !bSet_Direct(iFD, false); // the short tail goes through the cache
        quint64 qui64Written = qui64Write_Full(iFD, pucBuffer.get(), qui64Bytes, i * 8, &iError);
        if (qui64Written < qui64Bytes && bDirect) {
            // A direct write refused at the end of the space may still fit in part when buffered.
            bDirect = !bSet_Direct(iFD, false);
            qui64Written += qui64Write_Full(iFD, pucBuffer.get() + qui64Written, qui64Bytes - qui64Written,
                                            i * 8 + qui64Written, &iError);
        }
        i += qui64Written / 8;
        if (qui64Written < qui64Bytes)
            break;
        if (!oProgress.bUpdate(i * 8)) {
            bCancelled = true;
            break;
        }
    }
    oProgress.vFinish();

    // Only whole words stay: a write cut short may have left part of one.
    struct stat strStat;
    if (fstat(iFD, &strStat) == 0 && quint64(strStat.st_size) != i * 8 && ftruncate(iFD, off_t(i * 8)) != 0 &&
        iError == 0)
        iError = errno;
    int iSync_Error = 0;
    if (fdatasync(iFD) != 0)
        iSync_Error = errno;
    if (close(iFD) != 0 && iSync_Error == 0)
        iSync_Error = errno;

    oResult.qui64Words_Written = i;
    oResult.qi64Elapsed_Ms = qTimer.elapsed();
    if (iSync_Error != 0) {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(iSync_Error);
    } else if (bCancelled) {
        oResult.eStatus = eFill_Cancelled;
    } else if (iError == 0) {
        oResult.eStatus = eFill_Complete;
    } else if (iError == ENOSPC || iError == EDQUOT) {
        oResult.eStatus = eFill_Full;
    } else if (iError == EFBIG) {
        oResult.eStatus = eFill_Too_Large;
    } else {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(iError);
    }
}

QString qsFill_File_Path(const QString &qsVolume)
{
    return qsVolume + pcFill_File_Name;
}

QVector<cFill_Part> qvFill_Parts(const QString &qsVolume)
{
    QVector<cFill_Part> qvResult;
    struct stat strFile;
    const QString qsPath = qsFill_File_Path(qsVolume);
    if (!qsVolume.isEmpty() && lstat(qsPath.toStdString().c_str(), &strFile) == 0 && S_ISREG(strFile.st_mode))
        qvResult.append({qsPath, 0, quint64(strFile.st_size) / 8});
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
    }
    return "";
}
