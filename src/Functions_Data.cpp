#include "Functions_Data.h"

#include "Functions_Core.h"
#include "Functions_Files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtEndian>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
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

// Empty when the fill may take the name qsPath over, else why not: the tool runs as root,
// and a link or a special file planted under the name must not make it destroy or wait on
// something else. A file that is there is removed, not emptied, so that the new one is the
// tool's own whoever owned the old one.
QString qsClear_Fill_Name(const QString &qsPath)
{
    const std::string sPath = qsPath.toStdString();
    struct stat strNode;
    if (lstat(sPath.c_str(), &strNode) != 0)
        return errno == ENOENT ? QString() : qsSystem_Reason(errno);
    if (S_ISLNK(strNode.st_mode))
        return "это символическая ссылка, а не файл";
    if (!S_ISREG(strNode.st_mode))
        return "это не обычный файл";
    if (strNode.st_nlink > 1)
        return "у файла есть другие жёсткие ссылки";
    return unlink(sPath.c_str()) == 0 || errno == ENOENT ? QString() : qsSystem_Reason(errno);
}

// Removes the continuation files a previous fill left: regular files only, by their names.
void vRemove_Continuations(const QString &qsVolume)
{
    const QDir qDir(qsVolume);
    const QString qsPrefix = QString(pcFill_File_Name) + ".";
    for (const QString &qsName : qDir.entryList({qsPrefix + "*"}, QDir::Files | QDir::Hidden | QDir::System)) {
        bool bNumber = false;
        if (qsName.mid(qsPrefix.size()).toInt(&bNumber) >= 2 && bNumber)
            qsClear_Fill_Name(qDir.filePath(qsName));
    }
}

// Creates one file of the fill, new and the tool's own: never through a link, never over
// something that appeared meanwhile.
int iCreate_Fill_File(const QString &qsPath, QString *pqsError)
{
    *pqsError = qsClear_Fill_Name(qsPath);
    if (!pqsError->isEmpty())
        return -1;
    const int iFD = open(qsPath.toStdString().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (iFD < 0)
        *pqsError = qsSystem_Reason(errno);
    return iFD;
}

bool bSet_Direct(const int iFD, const bool bOn)
{
    const int iFlags = fcntl(iFD, F_GETFL);
    return iFlags != -1 && fcntl(iFD, F_SETFL, bOn ? (iFlags | O_DIRECT) : (iFlags & ~O_DIRECT)) == 0;
}

// Room the fill can take: the free space (the superuser's reserve included) after the old
// file was removed.
quint64 qui64Free_Bytes(const QString &qsVolume)
{
    struct statvfs strStat;
    if (statvfs(qsVolume.toStdString().c_str(), &strStat) != 0)
        return 0;
    return quint64(strStat.f_bfree) * quint64(strStat.f_frsize);
}

bool bOut_Of_Space(const int iError)
{
    return iError == ENOSPC || iError == EDQUOT;
}

// One file of the fill being written.
class cFill_File
{
public:
    int iFD = -1;
    bool bDirect = false;
    quint64 qui64First = 0; // index of its first word
    quint64 qui64Block = stIO_Alignment;

    // Writes as much of qui64Length bytes at word qui64Index as the file system takes:
    // whole; where that is refused near the end of the space (a direct write is all or
    // nothing), in halves down to the file system's block, then the rest buffered, so the
    // volume really ends up full. Returns the bytes written; *piError why it stopped.
    quint64 qui64Write(const uchar *pucData, const quint64 qui64Length, const quint64 qui64Index, int *piError);
    // Keeps whole words up to qui64End (a write cut short may have left part of one), syncs
    // and closes; returns the first error.
    int iClose(const quint64 qui64End);
};

quint64 cFill_File::qui64Write(const uchar *pucData, const quint64 qui64Length, const quint64 qui64Index,
                               int *piError)
{
    const quint64 qui64Offset = 8 * (qui64Index - qui64First);
    quint64 qui64Done = 0, qui64Piece = qui64Length;
    *piError = 0;
    while (qui64Done < qui64Length) {
        const quint64 qui64Left = qui64Length - qui64Done;
        if (bDirect && qui64Left < qui64Block)
            bDirect = !bSet_Direct(iFD, false); // a tail shorter than a block goes through the cache
        qui64Piece = std::min(qui64Piece, qui64Left);
        if (bDirect)
            qui64Piece = std::max(qui64Block, qui64Piece / qui64Block * qui64Block);
        const quint64 qui64Written = qui64Write_Full(iFD, pucData + qui64Done, qui64Piece, qui64Offset + qui64Done, piError);
        qui64Done += qui64Written;
        if (qui64Written == qui64Piece)
            continue;
        // A refused direct write may be too large for what is left, or not allowed (a limit
        // that cuts it off the alignment): smaller, then buffered.
        if (bDirect && (bOut_Of_Space(*piError) || *piError == EINVAL || *piError == EFBIG)) {
            if (qui64Piece > qui64Block && *piError != EINVAL)
                qui64Piece = qui64Piece / 2;
            else
                bDirect = !bSet_Direct(iFD, false);
            continue;
        }
        return qui64Done;
    }
    *piError = 0;
    return qui64Done;
}

int cFill_File::iClose(const quint64 qui64End)
{
    int iError = 0;
    struct stat strStat;
    const quint64 qui64Bytes = 8 * (qui64End - qui64First);
    if (fstat(iFD, &strStat) == 0 && quint64(strStat.st_size) != qui64Bytes && ftruncate(iFD, off_t(qui64Bytes)) != 0)
        iError = errno;
    if (fdatasync(iFD) != 0 && iError == 0)
        iError = errno;
    if (close(iFD) != 0 && iError == 0)
        iError = errno;
    iFD = -1;
    return iError;
}

// Opens file iPart of the fill for words from qui64First on, direct where the file system allows it.
bool bOpen_Part(const QString &qsVolume, const int iPart, const quint64 qui64First, cFill_File &oFile,
                QString *pqsError)
{
    const QString qsPath = qsFill_File_Path(qsVolume, iPart);
    oFile.iFD = iCreate_Fill_File(qsPath, pqsError);
    if (oFile.iFD < 0)
        return false;
    oFile.qui64First = qui64First;
    oFile.bDirect = bSet_Direct(oFile.iFD, true);
    struct statvfs strStat;
    if (fstatvfs(oFile.iFD, &strStat) == 0 && strStat.f_bsize >= stIO_Alignment && strStat.f_bsize % stIO_Alignment == 0)
        oFile.qui64Block = strStat.f_bsize;
    return true;
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
    const QString &qsVolume = oVolume.qsVolume_Name;
    oResult.qsPath = qsFill_File_Path(qsVolume);
    std::unique_ptr<uchar, decltype(&std::free)> pucBuffer(
        static_cast<uchar *>(std::aligned_alloc(stIO_Alignment, stFill_Buffer)), &std::free);
    if (!pucBuffer) {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(ENOMEM);
        return;
    }
    cFill_File oFile;
    if (!bOpen_Part(qsVolume, 1, 0, oFile, &oResult.qsError)) {
        oResult.eStatus = eFill_Open_Failed;
        return;
    }
    vRemove_Continuations(qsVolume);
    oResult.bDirect = oFile.bDirect;
    oResult.iFiles = 1;

    cProgress oProgress("Заполнение", "Запись файла " + oResult.qsPath,
                        qMin(qui64Data_Count * 8, qui64Free_Bytes(qsVolume)));
    quint64 *pqui64Words = reinterpret_cast<quint64 *>(pucBuffer.get());
    quint64 i = 0;
    int iError = 0;
    bool bCancelled = false;
    while (i < qui64Data_Count) {
        const quint64 qui64Words = qMin<quint64>(qui64Data_Count - i, stFill_Buffer / 8);
        for (quint64 j = 0; j < qui64Words; ++j)
            pqui64Words[j] = qToBigEndian<quint64>(qui64Pattern + i + j);
        const quint64 qui64Written = oFile.qui64Write(pucBuffer.get(), qui64Words * 8, i, &iError);
        i += qui64Written / 8;
        if (iError == EFBIG && i > oFile.qui64First) {
            // The file system's largest file (FAT32: 4 GiB): the sequence goes on in the next file.
            if ((iError = oFile.iClose(i)) != 0)
                break;
            if (!bOpen_Part(qsVolume, ++oResult.iFiles, i, oFile, &oResult.qsError)) {
                oResult.qsError = qsFill_File_Path(qsVolume, oResult.iFiles) + ": " + oResult.qsError;
                --oResult.iFiles;
                iError = -1;
                break;
            }
            continue;
        }
        if (iError != 0)
            break;
        if (!oProgress.bUpdate(i * 8)) {
            bCancelled = true;
            break;
        }
    }
    oProgress.vFinish();
    const int iClose_Error = oFile.iFD >= 0 ? oFile.iClose(i) : 0;
    oResult.qui64Words_Written = i;
    oResult.qi64Elapsed_Ms = qTimer.elapsed();
    if (iError == -1) {
        oResult.eStatus = eFill_Error; // the next file could not be made; qsError says why
    } else if (iClose_Error != 0) {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(iClose_Error);
    } else if (bCancelled) {
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
    }
}

QString qsFill_File_Path(const QString &qsVolume, const int iPart)
{
    return qsVolume + pcFill_File_Name + (iPart <= 1 ? QString() : "." + QString::number(iPart));
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
