#include "Functions_Clean.h"

#include "Functions_Data.h"
#include "Functions_Files.h"
#include "Functions_Report_Texts.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

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

} // namespace

QStringList qslFill_Files(const QString &qsVolume)
{
    QStringList qslResult;
    struct stat strFile;
    for (int iPart = 1;; ++iPart) {
        const QString qsPath = qsFill_File_Path(qsVolume, iPart);
        if (lstat(QFile::encodeName(qsPath).constData(), &strFile) != 0 || !S_ISREG(strFile.st_mode))
            return qslResult;
        qslResult << qsPath;
    }
}

quint64 qui64Fill_Bytes(const QString &qsVolume)
{
    quint64 qui64Total = 0;
    const int iDir = open(QFile::encodeName(qsVolume).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (iDir < 0)
        return 0;
    for (const QString &qsPath : qslFill_Files(qsVolume)) {
        quint64 qui64Bytes = 0;
        if (qsNot_Removable(iDir, QFile::encodeName(QFileInfo(qsPath).fileName()), &qui64Bytes).isEmpty())
            qui64Total += qui64Bytes;
    }
    close(iDir);
    return qui64Total;
}

cClean_Result oClean(const cVolume &oVolume)
{
    cClean_Result oResult;
    const QString &qsVolume = oVolume.qsVolume_Name;
    if (qsVolume.isEmpty())
        return oResult;
    oResult.bPolled = true;
    // The names are checked and removed in one directory, whatever its path comes to mean
    // meanwhile.
    const int iDir = open(QFile::encodeName(qsVolume).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (iDir < 0) {
        oResult.qsError = qsVolume + ": " + qsSystem_Reason(errno);
        return oResult;
    }
    for (const QString &qsPath : qslFill_Files(qsVolume)) {
        const QByteArray qbaName = QFile::encodeName(QFileInfo(qsPath).fileName());
        quint64 qui64Bytes = 0;
        QString qsWhy = qsNot_Removable(iDir, qbaName, &qui64Bytes);
        if (qsWhy.isEmpty() && unlinkat(iDir, qbaName.constData(), 0) != 0)
            qsWhy = qsSystem_Reason(errno);
        if (!qsWhy.isEmpty()) {
            oResult.qslKept << qsPath + ": " + qsWhy;
            if (oResult.qsError.isEmpty())
                oResult.qsError = oResult.qslKept.last();
            continue;
        }
        oResult.qslRemoved << qsPath;
        oResult.qui64Bytes += qui64Bytes;
    }
    if (!oResult.qslRemoved.isEmpty() && fsync(iDir) != 0 && oResult.qsError.isEmpty())
        oResult.qsError = qsVolume + ": " + qsSystem_Reason(errno);
    close(iDir);
    return oResult;
}
