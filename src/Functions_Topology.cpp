#include "Functions_Topology.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QString qsSys_Block(const dev_t devDevice)
{
    return QString("/sys/dev/block/%1:%2").arg(major(devDevice)).arg(minor(devDevice));
}

bool bRead_Dev(const QString &qsDev_File, dev_t *pdevResult)
{
    QFile qFile(qsDev_File);
    if (!qFile.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> qlParts = qFile.readAll().trimmed().split(':');
    if (qlParts.size() != 2)
        return false;
    *pdevResult = makedev(qlParts[0].toUInt(), qlParts[1].toUInt());
    return true;
}

// The block device a mount with an anonymous device number (FUSE, btrfs) was made from.
bool bMount_Source(const dev_t devVolume, dev_t *pdevSource, bool *pbFound)
{
    *pbFound = false;
    QFile qFile("/proc/self/mountinfo");
    if (!qFile.open(QIODevice::ReadOnly))
        return false;
    const QByteArray qbaWanted = QByteArray::number(major(devVolume)) + ":" + QByteArray::number(minor(devVolume));
    for (const QByteArray &qbaLine : qFile.readAll().split('\n')) {
        const QList<QByteArray> qlFields = qbaLine.split(' ');
        const int iDash = qlFields.indexOf("-");
        if (qlFields.size() < 3 || qlFields[2] != qbaWanted || iDash < 0 || iDash + 2 >= qlFields.size())
            continue;
        *pbFound = true;
        struct stat strSource;
        if (stat(qlFields[iDash + 2].constData(), &strSource) == 0 && S_ISBLK(strSource.st_mode)) {
            *pdevSource = strSource.st_rdev;
            return true;
        }
        return false;
    }
    return false;
}

} // namespace

int iVolume_On_Device(const QString &qsVolume, const QString &qsDevice)
{
    struct stat strDevice, strVolume;
    if (stat(qsDevice.toStdString().c_str(), &strDevice) != 0 ||
        stat(qsVolume.toStdString().c_str(), &strVolume) != 0)
        return -1;
    const bool bImage = S_ISREG(strDevice.st_mode);
    if (!bImage && !S_ISBLK(strDevice.st_mode))
        return -1;
    const QString qsImage = bImage ? QFileInfo(qsDevice).canonicalFilePath() : QString();

    dev_t devVolume = strVolume.st_dev;
    if (major(devVolume) == 0) {
        bool bFound = false;
        if (!bMount_Source(devVolume, &devVolume, &bFound))
            return bFound ? 0 : -1; // a mount with no block device beneath it lies on no disk
    }

    // Walk from the volume's device down to what it is built on.
    QList<dev_t> qlPending{devVolume};
    QSet<quint64> qsetSeen;
    while (!qlPending.isEmpty()) {
        const dev_t devCurrent = qlPending.takeFirst();
        if (qsetSeen.contains(quint64(devCurrent)))
            continue;
        qsetSeen.insert(quint64(devCurrent));
        if (!bImage && devCurrent == strDevice.st_rdev)
            return 1;
        const QString qsSys = qsSys_Block(devCurrent);
        if (bImage) {
            QFile qBacking(qsSys + "/loop/backing_file");
            if (qBacking.open(QIODevice::ReadOnly) &&
                QFileInfo(QString::fromLocal8Bit(qBacking.readAll().trimmed())).canonicalFilePath() == qsImage)
                return 1;
        }
        dev_t devNext;
        if (QFile::exists(qsSys + "/partition") &&
            bRead_Dev(QFileInfo(QFileInfo(qsSys).canonicalFilePath()).path() + "/dev", &devNext))
            qlPending << devNext;
        const QDir qSlaves(qsSys + "/slaves");
        for (const QString &qsSlave : qSlaves.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (bRead_Dev(qSlaves.filePath(qsSlave) + "/dev", &devNext))
                qlPending << devNext;
    }
    return 0;
}
