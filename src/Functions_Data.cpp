#include "Functions_Data.h"

#include "Functions_Files.h"
#include "Functions_Fill_Check.h"
#include "Functions_Lock.h"
#include "Functions_Operator.h"
#include "Functions_Writer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>

#include <cerrno>

#include <fcntl.h>
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

namespace {

// Why the fill stops before file qsName is made or kept, empty when it may go on: the
// volume must still be where it was, and each file on the first one's file system.
QString qsVolume_Gone(const cVolume_Lock &oLock, const int iFD, const dev_t devFirst, const QString &qsPath)
{
    struct stat strFile;
    if (fstat(iFD, &strFile) != 0)
        return QString("%1: %2").arg(qsPath, qsSystem_Reason(errno));
    if (strFile.st_nlink == 0)
        return QString("файл %1 удалён во время заполнения").arg(qsPath);
    if (strFile.st_dev != devFirst)
        return QString("файл %1 оказался на другой файловой системе").arg(qsPath);
    return oLock.qsStill_There();
}

} // namespace

namespace {

// The checks found the medium losing data: the operator decides whether the fill goes on
// (the whole volume written, as a slow full check wants) or stops here.
bool bStop_At_Loss(cFill_Check *pCheck, cOperator &oOperator)
{
    if (!pCheck || !pCheck->bLoss_Found)
        return false;
    const quint64 qui64At = pCheck->bLoss_Placed ? pCheck->qui64Loss_Device_Offset : pCheck->qui64Loss_File_Offset;
    if (oOperator.bAsk("Внимание!",
                       QString("Носитель теряет данные после ~%1 МиБ. Остановить заполнение?").arg(qui64At >> 20),
                       true))
        return true;
    pCheck->bEnabled = false; // asked once: the fill goes on to the end
    pCheck->bLoss_Found = false;
    pCheck->bGone_On = true;
    return false;
}

} // namespace

void cData::vWrite_Data(cVolume oVolume, cOperator &oOperator, cFill_Result &oResult, cFill_Check *pCheck) const
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
    // Every file of the fill is made in the one directory opened here, which stays locked.
    cVolume_Lock oLock;
    cFill_File oFile;
    if (!oLock.bTake(qsVolume, &oResult.qsError) || !oFile.bOpen(oLock.iDir_FD(), 1, 0, &oResult.qsError)) {
        oResult.eStatus = eFill_Open_Failed;
        return;
    }
    struct stat strFirst;
    const dev_t devFirst = fstat(oFile.iFD, &strFirst) == 0 ? strFirst.st_dev : 0;
    oResult.qslStale = qslRemove_Continuations(oLock.iDir_FD());
    oResult.bDirect = oFile.bDirect;
    oResult.iFiles = 1;
    oFile.qsPath = oResult.qsPath;
    oFile.pCheck = pCheck;
    bool bLoss_Stop = false;

    cProgress_Scope oProgress(oOperator, "Заполнение", "Запись файла " + oResult.qsPath,
                              qMin(qui64Data_Count * 8, qui64Free_Bytes(qsVolume)));
    quint64 i = 0;
    int iError = 0;
    bool bCancelled = false;
    for (;;) {
        i = qui64Write_Parallel(oFile, qui64Pattern, i, qui64Data_Count, oOperator, &bCancelled, &oResult.bAbandoned);
        bool bAsked = pCheck && pCheck->bLoss_Found;
        if (oResult.bAbandoned || (bLoss_Stop = bStop_At_Loss(pCheck, oOperator)))
            break;
        if (bAsked)
            continue; // the operator said go on: the writers start again where they stopped
        if (!bCancelled)
            i = qui64Write_Sequential(oFile, qui64Pattern, i, qui64Data_Count, oOperator, &bCancelled, &iError,
                                      &oResult.bAbandoned);
        bAsked = pCheck && pCheck->bLoss_Found;
        if (oResult.bAbandoned || (bLoss_Stop = bStop_At_Loss(pCheck, oOperator)))
            break;
        if (bAsked)
            continue;
        if (bCancelled || iError != EFBIG || i == oFile.qui64First)
            break;
        // The file system's largest file (FAT32: 4 GiB): the sequence goes on in the next file,
        // in the same volume, or not at all.
        oResult.qsError = qsVolume_Gone(oLock, oFile.iFD, devFirst, qsFill_File_Path(qsVolume, oResult.iFiles));
        if (!oResult.qsError.isEmpty() ||
            (iError = iClose_Giving_Up(oFile, i, oOperator, &bCancelled, &oResult.bAbandoned)) != 0 ||
            oResult.bAbandoned) {
            iError = oResult.qsError.isEmpty() ? iError : -1;
            break;
        }
        if (!oFile.bOpen(oLock.iDir_FD(), ++oResult.iFiles, i, &oResult.qsError)) {
            oResult.qsError = qsFill_File_Path(qsVolume, oResult.iFiles) + ": " + oResult.qsError;
            --oResult.iFiles;
            iError = -1;
            break;
        }
    }
    int iClose_Error = 0;
    if (oResult.bAbandoned && oFile.iFD >= 0) {
        close(oFile.iFD); // no cut, no sync: either would wait for the writers left in the device
        oFile.iFD = -1;
    } else if (oFile.iFD >= 0) {
        const QString qsGone = qsVolume_Gone(oLock, oFile.iFD, devFirst, qsFill_File_Path(qsVolume, oResult.iFiles));
        iClose_Error = iClose_Giving_Up(oFile, i, oOperator, &bCancelled, &oResult.bAbandoned);
        if (!qsGone.isEmpty() && iError != -1) {
            oResult.qsError = qsGone;
            iError = -1;
        }
    }
    oResult.qui64Words_Written = i;
    oResult.qi64Elapsed_Ms = qTimer.elapsed();
    if (pCheck) {
        oResult.iChecks = pCheck->iChecks;
        oResult.qui64Check_Bytes = pCheck->qui64Bytes_Read;
        oResult.bLoss_Seen = pCheck->bLoss_Found || pCheck->bGone_On;
        oResult.bLoss_Placed = pCheck->bLoss_Placed;
        oResult.qui64Loss_Offset = pCheck->bLoss_Placed ? pCheck->qui64Loss_Device_Offset : pCheck->qui64Loss_File_Offset;
    }
    if (iError == -1) {
        oResult.eStatus = eFill_Error; // qsError says why
    } else if (iClose_Error != 0) {
        oResult.eStatus = eFill_Error;
        oResult.qsError = qsSystem_Reason(iClose_Error);
        oResult.iErrno = iClose_Error;
    } else if (bCancelled || oResult.bAbandoned) {
        oResult.eStatus = eFill_Cancelled;
    } else if (bLoss_Stop) {
        oResult.eStatus = eFill_Loss;
    } else if (i == 0) {
        // A full volume, or a size limit below one word: nothing was written, so nothing can
        // be checked.
        oResult.eStatus = eFill_Error;
        oResult.qsError = "не записано ни одного слова" + (iError == 0 ? QString() : ": " + qsSystem_Reason(iError));
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

QString qsFill_File_Name(const int iPart)
{
    return pcFill_File_Name + (iPart <= 1 ? QString() : "." + QString::number(iPart));
}

QString qsFill_File_Path(const QString &qsVolume, const int iPart)
{
    return qsVolume + qsFill_File_Name(iPart);
}

int iFill_Part_Of(const QString &qsName)
{
    return qsName == pcFill_File_Name ? 1 : iContinuation_Number(qsName);
}

int iContinuation_Number(const QString &qsName)
{
    const QString qsPrefix = QString(pcFill_File_Name) + ".";
    if (!qsName.startsWith(qsPrefix))
        return 0;
    const QString qsNumber = qsName.mid(qsPrefix.size());
    if (qsNumber.isEmpty() || qsNumber.size() > 9 || qsNumber[0] == '0')
        return 0;
    for (const QChar qcDigit : qsNumber)
        if (qcDigit < '0' || qcDigit > '9')
            return 0;
    const int iNumber = qsNumber.toInt();
    return iNumber >= 2 ? iNumber : 0;
}

namespace {

// The first word of a regular file, big-endian; false when it has none.
bool bFirst_Word(const QString &qsPath, quint64 *pqui64Word)
{
    const int iFD = open(QFile::encodeName(qsPath).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (iFD < 0)
        return false;
    uchar aucWord[8];
    int iError = 0;
    const bool bRead = qui64Read_Full(iFD, aucWord, 8, 0, &iError) == 8;
    close(iFD);
    if (bRead)
        *pqui64Word = qFromBigEndian<quint64>(aucWord);
    return bRead;
}

} // namespace

QVector<cFill_Part> qvFill_Parts(const QString &qsVolume)
{
    QVector<cFill_Part> qvResult;
    quint64 qui64First = 0, qui64Pattern = 0, qui64Word = 0;
    struct stat strFile;
    for (int iPart = 1; !qsVolume.isEmpty(); ++iPart) {
        const QString qsPath = qsFill_File_Path(qsVolume, iPart);
        if (lstat(QFile::encodeName(qsPath).constData(), &strFile) != 0 || !S_ISREG(strFile.st_mode))
            break;
        if (iPart == 1 && !bFirst_Word(qsPath, &qui64Pattern))
            qui64Pattern = 0; // an empty data.data has no continuation of its own
        else if (iPart > 1 && (qui64First == 0 || !bFirst_Word(qsPath, &qui64Word) ||
                               qui64Word != qui64Pattern + qui64First))
            break; // not where this fill's words go on: an earlier fill's
        qvResult.append({qsPath, qui64First, quint64(strFile.st_size) / 8});
        qui64First += quint64(strFile.st_size) / 8;
    }
    return qvResult;
}

bool bFill_Pattern(const QString &qsVolume, quint64 *pqui64Pattern)
{
    quint64 qui64Word = 0;
    if (qsVolume.isEmpty() || !bFirst_Word(qsFill_File_Path(qsVolume), &qui64Word))
        return false;
    // Ones in bits k+1 to 63 (k >= 0) and none below: the complement is 2^(k+1) - 1, odd.
    // Zeros (a file without data) are no pattern.
    const quint64 qui64Low = ~qui64Word;
    if (qui64Word == 0 || (qui64Low & 1) == 0 || (qui64Low & (qui64Low + 1)) != 0)
        return false;
    *pqui64Pattern = qui64Word;
    return true;
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
    case eFill_Loss:
        return "medium_loses_data";
    }
    return "";
}
