#include "Functions_Clean.h"

#include "Functions_Data.h"
#include "Functions_Files.h"
#include "Functions_Lock.h"
#include "Functions_Report_Texts.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Empty when the name in the directory is one the clean may remove; else why not.
QString qsNot_Removable(const int iDir, const QByteArray &qbaName, quint64 *pqui64Bytes)
{
    struct stat strNode;
    if (fstatat(iDir, qbaName.constData(), &strNode, AT_SYMLINK_NOFOLLOW) != 0)
        return qsSystem_Reason(errno);
    if (S_ISLNK(strNode.st_mode))
        return qsSymbolic_Link_Why();
    if (!S_ISREG(strNode.st_mode))
        return qsNot_Regular_Why();
    if (strNode.st_nlink > 1) // another name would keep the data: it is someone's file too
        return qsHard_Links_Why();
    *pqui64Bytes = quint64(strNode.st_size);
    return QString();
}

// The fill names in iDir, sorted by the part each is; empty when the directory cannot be listed.
QVector<QPair<int, QString>> qvFill_Entries(const int iDir)
{
    QVector<QPair<int, QString>> qvResult;
    const int iList = openat(iDir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *pDir = iList < 0 ? nullptr : fdopendir(iList);
    if (!pDir) {
        if (iList >= 0)
            close(iList);
        return qvResult;
    }
    while (const dirent *pEntry = readdir(pDir)) {
        const QString qsName = QFile::decodeName(pEntry->d_name);
        const int iPart = iFill_Part_Of(qsName);
        if (iPart > 0 && QFile::encodeName(qsName) == pEntry->d_name)
            qvResult.append({iPart, qsName});
    }
    closedir(pDir);
    std::sort(qvResult.begin(), qvResult.end());
    return qvResult;
}

} // namespace

QVector<cFill_Name> qvFill_Names(const int iDir)
{
    QVector<cFill_Name> qvResult;
    int iLast_Part = 0; // the last part found the fill's, 0 before data.data
    quint64 qui64Pattern = 0, qui64Next = 0, qui64Word = 0;
    for (const auto &qpEntry : qvFill_Entries(iDir)) {
        cFill_Name oName{qpEntry.second, 0, QString()};
        const QByteArray qbaName = QFile::encodeName(oName.qsName);
        oName.qsWhy_Not = qsNot_Removable(iDir, qbaName, &oName.qui64Bytes);
        oName.bRegular = oName.qsWhy_Not.isEmpty();
        const bool bEmpty_Head = qpEntry.first == 1 && oName.qui64Bytes == 0;
        if (!oName.qsWhy_Not.isEmpty() || bEmpty_Head) {
        } else if (oName.qui64Bytes % 8 != 0 || !bFirst_Word(iDir, qbaName, &qui64Word)) {
            oName.qsWhy_Not = qsNot_Fill_Words_Why();
        } else if (qpEntry.first == 1) {
            qui64Pattern = qui64Word;
            if (qui64Pattern_Indexes(qui64Pattern) == 0)
                oName.qsWhy_Not = qsNot_Fill_Words_Why();
        } else if (qpEntry.first != iLast_Part + 1 || qui64Pattern == 0 || qui64Word != qui64Pattern + qui64Next) {
            oName.qsWhy_Not = qsNot_Following_Why();
        }
        if (oName.qsWhy_Not.isEmpty() && !bEmpty_Head) {
            iLast_Part = qpEntry.first;
            qui64Next += oName.qui64Bytes / 8;
        } else if (!bEmpty_Head) {
            iLast_Part = -1; // nothing after a file that is not the fill's follows it
        }
        qvResult.append(oName);
    }
    return qvResult;
}

namespace {

// The names of the fill in the volume's directory, when it is the one polled.
QVector<cFill_Name> qvNames_In(const cVolume &oVolume)
{
    const cVolume_FD oDir(oVolume.pDir.get(), oVolume.qsVolume_Name);
    return oDir.iFD < 0 ? QVector<cFill_Name>() : qvFill_Names(oDir.iFD);
}

cVolume oBy_Name(const QString &qsVolume)
{
    cVolume oVolume;
    oVolume.qsVolume_Name = qsVolume;
    return oVolume;
}

} // namespace

quint64 qui64Fill_Bytes(const cVolume &oVolume)
{
    quint64 qui64Total = 0;
    for (const cFill_Name &oName : qvNames_In(oVolume))
        if (oName.qsWhy_Not.isEmpty())
            qui64Total += oName.qui64Bytes;
    return qui64Total;
}

quint64 qui64Fill_Bytes(const QString &qsVolume)
{
    return qui64Fill_Bytes(oBy_Name(qsVolume));
}

QStringList qslFill_Files(const cVolume &oVolume)
{
    QStringList qslResult;
    for (const cFill_Name &oName : qvNames_In(oVolume))
        if (oName.qsWhy_Not.isEmpty())
            qslResult << oVolume.qsVolume_Name + oName.qsName;
    return qslResult;
}

QStringList qslFill_Names(const cVolume &oVolume, quint64 *pqui64Bytes)
{
    QStringList qslResult;
    *pqui64Bytes = 0;
    for (const cFill_Name &oName : qvNames_In(oVolume))
        if (oName.bRegular) {
            qslResult << oVolume.qsVolume_Name + oName.qsName;
            *pqui64Bytes += oName.qui64Bytes;
        }
    return qslResult;
}

QStringList qslFill_Files(const QString &qsVolume)
{
    return qslFill_Files(oBy_Name(qsVolume));
}

cClean_Result oClean(const cVolume &oVolume)
{
    cClean_Result oResult;
    const QString &qsVolume = oVolume.qsVolume_Name;
    if (qsVolume.isEmpty())
        return oResult;
    oResult.bPolled = true;
    // As the fill does: not while another run fills or reads it, and only in the directory
    // polled, whatever its name comes to mean meanwhile.
    cVolume_Lock oLock;
    QString qsWhy;
    if (oVolume.pDir ? !oLock.bTake(*oVolume.pDir, &qsWhy) : !oLock.bTake(qsVolume, &qsWhy)) {
        oResult.qsError = qsClean_Busy_Text(qsVolume, qsWhy);
        return oResult;
    }
    const int iDir = oLock.iDir_FD();
    for (const cFill_Name &oName : qvFill_Names(iDir)) {
        const QString qsPath = qsVolume + oName.qsName;
        qsWhy = oName.qsWhy_Not;
        if (qsWhy.isEmpty() && unlinkat(iDir, QFile::encodeName(oName.qsName).constData(), 0) != 0)
            qsWhy = qsSystem_Reason(errno);
        if (!qsWhy.isEmpty()) {
            oResult.qslKept << qsPath + ": " + qsWhy;
            if (oResult.qsError.isEmpty())
                oResult.qsError = oResult.qslKept.last();
            continue;
        }
        oResult.qslRemoved << qsPath;
        oResult.qui64Bytes += oName.qui64Bytes;
    }
    if (!oResult.qslRemoved.isEmpty() && fsync(iDir) != 0 && oResult.qsError.isEmpty())
        oResult.qsError = qsVolume + ": " + qsSystem_Reason(errno);
    return oResult;
}
