#include "Functions_Lock.h"
#include "Functions_Report_Texts.h"

#include "Functions_Files.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

cVolume_Lock::~cVolume_Lock()
{
    if (iFD >= 0)
        close(iFD); // the lock goes with the last descriptor
}

namespace {

QString qsFD_Entry(const int iFD)
{
    return QString("/proc/self/fd/%1/").arg(iFD);
}

quint64 qui64Fs_Id_Of(const int iFD)
{
    struct statfs strFs;
    if (fstatfs(iFD, &strFs) != 0)
        return 0;
    quint64 qui64Id = 0;
    static_assert(sizeof strFs.f_fsid <= sizeof qui64Id, "the id fits");
    std::memcpy(&qui64Id, &strFs.f_fsid, sizeof strFs.f_fsid);
    return qui64Id;
}

} // namespace

cVolume_Dir::cVolume_Dir(const QString &qsPath_In, const int iFD) : qsPath(qsPath_In)
{
    struct stat strDir;
    if (fstat(iFD, &strDir) == 0) {
        devDir = strDir.st_dev;
        inoDir = strDir.st_ino;
    }
    qui64Fs_Id = qui64Fs_Id_Of(iFD);
}

int cVolume_Dir::iOpen(QString *pqsWhy) const
{
    // The directory opened is compared, not the name: between a check of the name and an open
    // of it, the name may come to lead elsewhere.
    const int iFD = open(QFile::encodeName(qsPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat strNow;
    if (iFD < 0 || fstat(iFD, &strNow) != 0) {
        *pqsWhy = qsVolume_Gone_Why(qsPath, qsSystem_Reason(errno));
        if (iFD >= 0)
            close(iFD);
        return -1;
    }
    if (strNow.st_dev == devDir && strNow.st_ino == inoDir && qui64Fs_Id_Of(iFD) == qui64Fs_Id)
        return iFD;
    close(iFD);
    *pqsWhy = qsVolume_Moved_Why(qsPath);
    return -1;
}

QString cVolume_Dir::qsStill_There() const
{
    QString qsWhy;
    const int iFD = iOpen(&qsWhy);
    if (iFD >= 0)
        close(iFD);
    return qsWhy;
}

cVolume_FD::cVolume_FD(const cVolume_Dir *pDir, const QString &qsName)
{
    if (pDir) {
        iFD = pDir->iOpen(&qsWhy);
        return;
    }
    iFD = open(QFile::encodeName(qsName).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (iFD < 0)
        qsWhy = qsVolume_Gone_Why(qsName, qsSystem_Reason(errno));
}

cVolume_FD::~cVolume_FD()
{
    if (iFD >= 0)
        close(iFD);
}

QString cVolume_FD::qsPath() const
{
    return qsFD_Entry(iFD);
}

QString cVolume_Lock::qsFD_Path() const
{
    return qsFD_Entry(iFD);
}

QString qsSame_Directory(const QString &qsPath, const dev_t devDir, const ino_t inoDir)
{
    // A lazy unmount leaves the descriptor working on a volume no one can reach; the name
    // then leads to the directory below it. A re-pointed link leads elsewhere as well.
    struct stat strNow;
    if (stat(QFile::encodeName(qsPath).constData(), &strNow) != 0)
        return qsVolume_Gone_Why(qsPath, qsSystem_Reason(errno));
    if (strNow.st_dev != devDir || strNow.st_ino != inoDir)
        return qsVolume_Moved_Why(qsPath);
    return QString();
}

bool cVolume_Lock::bTake(const cVolume_Dir &oDir, QString *pqsWhy)
{
    qsPath = oDir.qsPath;
    iFD = oDir.iOpen(pqsWhy);
    return iFD >= 0 && bLock(pqsWhy);
}

bool cVolume_Lock::bTake(const QString &qsVolume, QString *pqsWhy)
{
    qsPath = qsVolume;
    iFD = open(QFile::encodeName(qsVolume).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return bLock(pqsWhy);
}

bool cVolume_Lock::bLock(QString *pqsWhy)
{
    struct stat strDir;
    if (iFD < 0 || fstat(iFD, &strDir) != 0) {
        *pqsWhy = qsSystem_Reason(errno);
        return false;
    }
    devDir = strDir.st_dev;
    inoDir = strDir.st_ino;
    if (flock(iFD, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int iError = errno;
    if (iError != EWOULDBLOCK) {
        *pqsWhy = qsSystem_Reason(iError);
        return false;
    }
    bBusy = true;
    const qint64 qi64Holder = qi64Lock_Holder(devDir, inoDir);
    *pqsWhy = qsVolume_Busy_Why(qi64Holder);
    return false;
}

QString cVolume_Lock::qsStill_There() const
{
    return qsSame_Directory(qsPath, devDir, inoDir);
}

qint64 qi64Lock_Holder(const dev_t devFile, const ino_t inoFile)
{
    // Lines as "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF", the device in hex.
    QFile qLocks("/proc/locks");
    if (!qLocks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray qbaWanted =
        QByteArray::number(major(devFile), 16).rightJustified(2, '0') + ":" +
        QByteArray::number(minor(devFile), 16).rightJustified(2, '0') + ":" + QByteArray::number(quint64(inoFile));
    for (const QByteArray &qbaLine : qLocks.readAll().split('\n')) {
        const QList<QByteArray> qlFields = qbaLine.simplified().split(' ');
        if (qlFields.size() >= 6 && qlFields[1] == "FLOCK" && qlFields[5] == qbaWanted)
            return qlFields[4].toLongLong();
    }
    return 0;
}
