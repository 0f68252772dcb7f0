#include "Functions_Fuse_Server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace {

// The kernel's own number of a device, as fdinfo and /sys/fs/fuse/connections write it.
quint64 qui64Kernel_Dev(const dev_t devDevice)
{
    return (quint64(major(devDevice)) << 20) | quint64(minor(devDevice));
}

// Whether the descriptor qsFd_Info (a /proc/PID/fdinfo/N) is a /dev/fuse of connection qui64Connection.
bool bServes(const QString &qsFd_Info, const quint64 qui64Connection)
{
    QFile qFile(qsFd_Info);
    if (!qFile.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &qbaLine : qFile.readAll().split('\n'))
        if (qbaLine.startsWith("fuse_connection:"))
            return qbaLine.mid(16).trimmed().toULongLong() == qui64Connection;
    return false;
}

// The block devices among the descriptors of the process at qsProc (/proc/PID).
QList<dev_t> qlOpen_Block_Devices(const QString &qsProc)
{
    QList<dev_t> qlDevices;
    const QDir qFds(qsProc + "/fd");
    for (const QString &qsFd : qFds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        struct stat strFd;
        if (stat(QFile::encodeName(qFds.filePath(qsFd)).constData(), &strFd) == 0 && S_ISBLK(strFd.st_mode) &&
            !qlDevices.contains(strFd.st_rdev))
            qlDevices << strFd.st_rdev;
    }
    return qlDevices;
}

} // namespace

QList<dev_t> qlFuse_Server_Devices(const dev_t devMount)
{
    const quint64 qui64Connection = qui64Kernel_Dev(devMount);
    QList<dev_t> qlDevices;
    const QDir qProc("/proc");
    for (const QString &qsPid : qProc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool bNumber = false;
        qsPid.toUInt(&bNumber);
        if (!bNumber)
            continue;
        const QDir qFd_Info(qProc.filePath(qsPid + "/fdinfo"));
        for (const QString &qsFd : qFd_Info.entryList(QDir::Files))
            if (QFile::symLinkTarget(qProc.filePath(qsPid + "/fd/" + qsFd)) == "/dev/fuse" &&
                bServes(qFd_Info.filePath(qsFd), qui64Connection)) {
                for (const dev_t devOpen : qlOpen_Block_Devices(qProc.filePath(qsPid)))
                    if (!qlDevices.contains(devOpen))
                        qlDevices << devOpen;
                break;
            }
    }
    return qlDevices;
}

QString qsFuse_Server_Node(const QString &qsVolume)
{
    const QByteArray qbaVolume = QFile::encodeName(qsVolume);
    struct stat strVolume;
    struct statfs strFs;
    if (stat(qbaVolume.constData(), &strVolume) != 0 || statfs(qbaVolume.constData(), &strFs) != 0 ||
        strFs.f_type != FUSE_SUPER_MAGIC)
        return QString();
    const QList<dev_t> qlDevices = qlFuse_Server_Devices(strVolume.st_dev);
    if (qlDevices.size() != 1)
        return QString();
    const QString qsSys = QString("/sys/dev/block/%1:%2").arg(major(qlDevices.first())).arg(minor(qlDevices.first()));
    const QString qsName = QFileInfo(QFileInfo(qsSys).canonicalFilePath()).fileName();
    return qsName.isEmpty() ? QString() : "/dev/" + qsName;
}
