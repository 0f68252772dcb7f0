#include "Functions_Topology.h"

#include "Functions_Btrfs.h"
#include "Functions_Files.h"
#include "Functions_Fuse_Placement.h"
#include "Functions_Fuse_Server.h"
#include "Functions_Report_Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <libmount/libmount.h>
#include <linux/btrfs.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Layers deeper than this (a loop over a file on a loop over ...) are not followed.
const int iMax_Depth = 8;

QString qsSys_Block(const dev_t devDevice)
{
    return QString("/sys/dev/block/%1:%2").arg(major(devDevice)).arg(minor(devDevice));
}

QString qsDevice_Text(const dev_t devDevice)
{
    const QString qsName = QFileInfo(QFileInfo(qsSys_Block(devDevice)).canonicalFilePath()).fileName();
    return qsName.isEmpty() ? QString("%1:%2").arg(major(devDevice)).arg(minor(devDevice)) : "/dev/" + qsName;
}

QByteArray qbaRead_Sys(const QString &qsFile)
{
    QFile qFile(qsFile);
    return qFile.open(QIODevice::ReadOnly) ? qFile.readAll().trimmed() : QByteArray();
}

bool bRead_Dev(const QString &qsDev_File, dev_t *pdevResult)
{
    const QList<QByteArray> qlParts = qbaRead_Sys(qsDev_File).split(':');
    if (qlParts.size() != 2)
        return false;
    *pdevResult = makedev(qlParts[0].toUInt(), qlParts[1].toUInt());
    return true;
}

// The devices of a mounted btrfs, which lists them under its UUID in sysfs.
bool bBtrfs_Devices(const QString &qsPath, QList<dev_t> *pqlDevices)
{
    const int iFD = open(qsPath.toStdString().c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (iFD < 0)
        return false;
    struct btrfs_ioctl_fs_info_args strInfo;
    std::memset(&strInfo, 0, sizeof strInfo);
    const bool bOk = ioctl(iFD, BTRFS_IOC_FS_INFO, &strInfo) == 0;
    close(iFD);
    if (!bOk)
        return false;
    const QByteArray qbaId = QByteArray(reinterpret_cast<const char *>(strInfo.fsid), BTRFS_FSID_SIZE).toHex();
    const QString qsUuid = QString("%1-%2-%3-%4-%5")
                               .arg(QString(qbaId.mid(0, 8)), QString(qbaId.mid(8, 4)), QString(qbaId.mid(12, 4)),
                                    QString(qbaId.mid(16, 4)), QString(qbaId.mid(20, 12)));
    const QDir qDevices("/sys/fs/btrfs/" + qsUuid + "/devices");
    for (const QString &qsName : qDevices.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        dev_t devMember;
        if (bRead_Dev(qDevices.filePath(qsName) + "/dev", &devMember))
            pqlDevices->append(devMember);
    }
    return !pqlDevices->isEmpty();
}

// The block devices the file system holding qsPath is made on: 1 with them, 0 when it
// lies on no disk at all (tmpfs, a network file system), -1 when that cannot be told.
int iFile_System_Devices(const QString &qsPath, QList<dev_t> *pqlDevices, QString *pqsWhy, const int iDepth = 0)
{
    struct stat strPath;
    if (stat(qsPath.toStdString().c_str(), &strPath) != 0) {
        *pqsWhy = QString("%1: %2").arg(qsPath, qsSystem_Reason(errno));
        return -1;
    }
    if (major(strPath.st_dev) != 0) {
        pqlDevices->append(strPath.st_dev);
        return 1;
    }
    // An anonymous device number (btrfs, FUSE, tmpfs): ask the mount table what it is.
    std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> pTable(mnt_new_table_from_file("/proc/self/mountinfo"),
                                                                     &mnt_unref_table);
    const QByteArray qbaPath = QFileInfo(qsPath).canonicalFilePath().toUtf8();
    libmnt_fs *pFs = pTable ? mnt_table_find_mountpoint(pTable.get(), qbaPath.constData(), MNT_ITER_BACKWARD) : nullptr;
    if (!pFs) {
        *pqsWhy = qsNot_Mounted_Why();
        return -1;
    }
    const QString qsType = QString::fromUtf8(mnt_fs_get_fstype(pFs));
    const QString qsSource = QString::fromUtf8(mnt_fs_get_source(pFs));
    if (qsType == "btrfs") {
        if (bBtrfs_Devices(qsPath, pqlDevices))
            return 1;
        *pqsWhy = qsBtrfs_Devices_Why();
        return -1;
    }
    // overlayfs writes into its upper directory: the volume lies where that one lies.
    char *pcUpper = nullptr;
    size_t stUpper = 0;
    if (qsType == "overlay" && iDepth < iMax_Depth && mnt_fs_get_option(pFs, "upperdir", &pcUpper, &stUpper) == 0 &&
        pcUpper)
        return iFile_System_Devices(QString::fromUtf8(pcUpper, int(stUpper)), pqlDevices, pqsWhy, iDepth + 1);
    if (mnt_fs_is_pseudofs(pFs) || mnt_fs_is_netfs(pFs)) {
        *pqsWhy = qsNo_Medium_Why(qsType);
        return 0;
    }
    // A FUSE file system made from a device (ntfs-3g) or over a directory (an encrypting one).
    struct stat strSource;
    if (qsSource.startsWith('/') && iDepth < iMax_Depth && stat(qsSource.toStdString().c_str(), &strSource) == 0) {
        if (S_ISBLK(strSource.st_mode)) {
            pqlDevices->append(strSource.st_rdev);
            return 1;
        }
        return iFile_System_Devices(qsSource, pqlDevices, pqsWhy, iDepth + 1);
    }
    // A FUSE driver whose mount names no device (fusefat): the devices its server reads.
    const QList<dev_t> qlServer = qsType.startsWith("fuse") ? qlFuse_Server_Devices(strPath.st_dev) : QList<dev_t>();
    if (!qlServer.isEmpty()) {
        pqlDevices->append(qlServer);
        return 1;
    }
    *pqsWhy = qsUnknown_Source_Why(qsType, qsSource);
    return -1;
}

// The image a loop device reads, empty for any other device. Only the line's end is cut:
// a name may end in blanks, and "IMG " is not "IMG".
QString qsLoop_Backing(const dev_t devDevice)
{
    QFile qFile(qsSys_Block(devDevice) + "/loop/backing_file");
    if (!qFile.open(QIODevice::ReadOnly))
        return QString();
    QByteArray qbaName = qFile.readAll();
    if (qbaName.endsWith('\n'))
        qbaName.chop(1);
    return QFile::decodeName(qbaName);
}

// What a read scans: a block device, or an image file.
class cTarget
{
public:
    dev_t devDevice = 0;
    QString qsImage; // canonical path; empty for a block device
};

bool bTarget(const QString &qsDevice, cTarget *pTarget)
{
    struct stat strDevice;
    if (stat(qsDevice.toStdString().c_str(), &strDevice) != 0)
        return false;
    if (S_ISBLK(strDevice.st_mode)) {
        pTarget->devDevice = strDevice.st_rdev;
        return true;
    }
    if (S_ISREG(strDevice.st_mode)) {
        pTarget->qsImage = QFileInfo(qsDevice).canonicalFilePath();
        return true;
    }
    return false;
}

// One device on the way down from a file system to what it is built on, and where it
// starts inside the first device of the way (known only through partitions and loop
// offsets: a layer that maps blocks itself, such as device-mapper, or a loop over a file of
// another file system, loses it).
class cLayer
{
public:
    dev_t devDevice;
    quint64 qui64Offset;
    bool bPlaced;
};

// Walks from the devices in qlStart down the layers under them: partitions to their disk,
// loop devices to their image (or the devices of the file system the image is on), stacked
// devices to their members. True when it reaches the target; *pLayer then says where the
// first of qlStart starts inside it.
bool bReach_Target(const QList<dev_t> &qlStart, const cTarget &oTarget, cLayer *pLayer)
{
    QList<cLayer> qlPending;
    for (const dev_t devStart : qlStart)
        qlPending.append({devStart, 0, qlStart.size() == 1});
    QSet<quint64> qsetSeen;
    while (!qlPending.isEmpty() && qsetSeen.size() < 64) {
        const cLayer oLayer = qlPending.takeFirst();
        if (qsetSeen.contains(quint64(oLayer.devDevice)))
            continue;
        qsetSeen.insert(quint64(oLayer.devDevice));
        if (oTarget.qsImage.isEmpty() && oLayer.devDevice == oTarget.devDevice) {
            *pLayer = oLayer;
            return true;
        }
        const QString qsSys = qsSys_Block(oLayer.devDevice);
        dev_t devNext;
        if (QFile::exists(qsSys + "/partition") &&
            bRead_Dev(QFileInfo(QFileInfo(qsSys).canonicalFilePath()).path() + "/dev", &devNext)) {
            // sysfs counts a partition's start in 512-byte sectors, whatever the device's own
            const quint64 qui64Start = qbaRead_Sys(qsSys + "/start").toULongLong() * 512;
            qlPending.append({devNext, oLayer.qui64Offset + qui64Start, oLayer.bPlaced});
        }
        const QString qsBacking = qsLoop_Backing(oLayer.devDevice);
        if (!qsBacking.isEmpty()) {
            const quint64 qui64Loop_Offset = oLayer.qui64Offset + qbaRead_Sys(qsSys + "/loop/offset").toULongLong();
            if (!oTarget.qsImage.isEmpty() && QFileInfo(qsBacking).canonicalFilePath() == oTarget.qsImage) {
                *pLayer = {oLayer.devDevice, qui64Loop_Offset, oLayer.bPlaced};
                return true;
            }
            struct stat strBacking;
            if (stat(qsBacking.toStdString().c_str(), &strBacking) == 0 && S_ISBLK(strBacking.st_mode)) {
                qlPending.append({strBacking.st_rdev, qui64Loop_Offset, oLayer.bPlaced});
            } else {
                QList<dev_t> qlUnder; // a loop over a file lies where that file lies
                QString qsIgnored;
                iFile_System_Devices(qsBacking, &qlUnder, &qsIgnored);
                for (const dev_t devUnder : qlUnder)
                    qlPending.append({devUnder, 0, false});
            }
        }
        const QDir qSlaves(qsSys + "/slaves");
        for (const QString &qsSlave : qSlaves.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (bRead_Dev(qSlaves.filePath(qsSlave) + "/dev", &devNext))
                qlPending.append({devNext, 0, false});
    }
    return false;
}

} // namespace

eOn_Device eVolume_On_Device(const QString &qsVolume, const QString &qsDevice, QString *pqsWhy)
{
    QString qsWhy;
    cTarget oTarget;
    QList<dev_t> qlDevices;
    eOn_Device eResult = eOn_Device_Unknown;
    if (!bTarget(qsDevice, &oTarget)) {
        qsWhy = qsDevice_Not_Target_Why();
    } else {
        const int iDevices = iFile_System_Devices(qsVolume, &qlDevices, &qsWhy);
        cLayer oLayer;
        if (iDevices == 0)
            eResult = eOn_Device_No;
        else if (iDevices == 1 && bReach_Target(qlDevices, oTarget, &oLayer))
            eResult = eOn_Device_Yes;
        else if (iDevices == 1) {
            eResult = eOn_Device_No;
            qsWhy = qsVolume_Elsewhere_Why(qsDevice_Text(qlDevices.first()), qsDevice);
        }
    }
    if (pqsWhy)
        *pqsWhy = qsWhy;
    return eResult;
}

namespace {

// The file itself, and for a loop device the files under it, layer by layer.
void vAdd_Files_Under(const QString &qsFile, QList<QPair<dev_t, ino_t>> *pqlFiles, const int iDepth = 0)
{
    struct stat strFile;
    if (iDepth > iMax_Depth || stat(QFile::encodeName(qsFile).constData(), &strFile) != 0)
        return;
    pqlFiles->append({strFile.st_dev, strFile.st_ino});
    if (S_ISBLK(strFile.st_mode)) {
        const QString qsBacking = qsLoop_Backing(strFile.st_rdev);
        if (!qsBacking.isEmpty())
            vAdd_Files_Under(qsBacking, pqlFiles, iDepth + 1);
    }
}

} // namespace

QString qsUnsafe_Output(const QString &qsPath, const QString &qsDevice, const QString &qsVolume)
{
    // The file, or the directory it would be made in.
    const QByteArray qbaPath = QFile::encodeName(qsPath);
    struct stat strOut;
    const bool bExists = lstat(qbaPath.constData(), &strOut) == 0;
    if (!bExists && stat(QFile::encodeName(QFileInfo(qsPath).absolutePath()).constData(), &strOut) != 0)
        return QString(); // nowhere to write: saving fails by itself
    QList<QPair<dev_t, ino_t>> qlMedium;
    vAdd_Files_Under(qsDevice, &qlMedium);
    struct stat strVolume;
    const bool bVolume = !qsVolume.isEmpty() && stat(QFile::encodeName(qsVolume).constData(), &strVolume) == 0;
    if (bVolume && major(strVolume.st_dev) != 0) { // the image under the volume's loop device
        const QString qsBacking = qsLoop_Backing(strVolume.st_dev);
        if (!qsBacking.isEmpty())
            vAdd_Files_Under(qsBacking, &qlMedium);
    }
    struct stat strDevice;
    const bool bSame_Device = S_ISBLK(strOut.st_mode) && stat(QFile::encodeName(qsDevice).constData(), &strDevice) == 0 &&
                              S_ISBLK(strDevice.st_mode) && strDevice.st_rdev == strOut.st_rdev;
    if (bExists && (bSame_Device || qlMedium.contains({strOut.st_dev, strOut.st_ino})))
        return qsOutput_Is_Medium_Why();
    // A btrfs subvolume has device numbers of its own, an overlay writes into its upper
    // directory: the devices the file systems lie on tell where the file would go.
    QList<dev_t> qlOut, qlVolume;
    QString qsIgnored;
    const QString qsOut_Dir = bExists ? qsPath : QFileInfo(qsPath).absolutePath();
    if (bVolume && (strVolume.st_dev == strOut.st_dev ||
                    (iFile_System_Devices(qsOut_Dir, &qlOut, &qsIgnored) == 1 &&
                     iFile_System_Devices(qsVolume, &qlVolume, &qsIgnored) == 1 && qlOut == qlVolume)))
        return qsOutput_On_Volume_Why(qsVolume);
    return QString();
}

namespace {

// Where the block device devFs starts inside qsDevice, through partitions and loop devices.
bool bDevice_Offset(const dev_t devFs, const QString &qsDevice, quint64 *pqui64Offset, QString *pqsWhy)
{
    cTarget oTarget;
    if (!bTarget(qsDevice, &oTarget)) {
        *pqsWhy = qsDevice_Not_Target_Why();
        return false;
    }
    cLayer oLayer;
    if (bReach_Target({devFs}, oTarget, &oLayer) && oLayer.bPlaced) {
        *pqui64Offset = oLayer.qui64Offset;
        return true;
    }
    *pqsWhy = qsNot_Simple_Part_Why(qsDevice_Text(devFs), qsDevice);
    return false;
}

// Why a file system gives no device offsets, by its kind; empty when it may (btrfs gives
// logical ones, mapped afterwards).
QString qsNo_Offsets(const int iFD)
{
    struct statfs strFs;
    if (fstatfs(iFD, &strFs) == 0 && strFs.f_type == FUSE_SUPER_MAGIC)
        return qsFuse_Unplaced_Why();
    return QString();
}

// The kind of file system holding qsPath, by statfs's magic; 0 where unknown.
quint64 qui64Fs_Magic(const QString &qsPath)
{
    struct statfs strFs;
    return statfs(QFile::encodeName(qsPath).constData(), &strFs) == 0 ? quint64(strFs.f_type) : 0;
}

// FIEMAP flags under which the reported place is not where the words lie as written.
const quint32 ui32Unplaced = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_ENCODED |
                             FIEMAP_EXTENT_DATA_ENCRYPTED | FIEMAP_EXTENT_NOT_ALIGNED | FIEMAP_EXTENT_DATA_INLINE |
                             FIEMAP_EXTENT_DATA_TAIL;

// The words of one fill file as runs on its file system's device.
bool bPart_Runs(const cFill_Part &oPart, std::vector<cRun> *pvecRuns, dev_t *pdevFs, QString *pqsWhy,
                quint64 *pqui64Unwritten, const bool bUnwritten_Too)
{
    *pqui64Unwritten = oPart.qui64First + oPart.qui64Words;
    const int iFD = oPart.iFD >= 0 ? fcntl(oPart.iFD, F_DUPFD_CLOEXEC, 0)
                                   : open(oPart.qsPath.toStdString().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (iFD < 0) {
        *pqsWhy = QString("%1: %2").arg(oPart.qsPath, qsSystem_Reason(errno));
        return false;
    }
    struct stat strFile;
    if (fstat(iFD, &strFile) != 0) {
        *pqsWhy = QString("%1: %2").arg(oPart.qsPath, qsSystem_Reason(errno));
        close(iFD);
        return false;
    }
    *pdevFs = strFile.st_dev;
    *pqsWhy = qsNo_Offsets(iFD);
    const int iBatch = 256;
    std::vector<char> vecBuffer(sizeof(fiemap) + iBatch * sizeof(fiemap_extent));
    auto *pMap = reinterpret_cast<fiemap *>(vecBuffer.data());
    const quint64 qui64Bytes = 8 * oPart.qui64Words;
    quint64 qui64From = 0;
    bool bLast = !pqsWhy->isEmpty();
    quint32 ui32Flags = FIEMAP_FLAG_SYNC; // the words still cached are placed first
    while (!bLast && pqsWhy->isEmpty() && qui64From < qui64Bytes) {
        std::memset(pMap, 0, sizeof(fiemap));
        pMap->fm_start = qui64From;
        pMap->fm_length = qui64Bytes - qui64From;
        pMap->fm_flags = ui32Flags;
        pMap->fm_extent_count = iBatch;
        ui32Flags = 0;
        if (ioctl(iFD, FS_IOC_FIEMAP, pMap) != 0) {
            *pqsWhy = qsFiemap_Failed_Why(qsSystem_Reason(errno));
            break;
        }
        if (pMap->fm_mapped_extents == 0)
            break;
        for (quint32 e = 0; e < pMap->fm_mapped_extents && pqsWhy->isEmpty(); ++e) {
            const fiemap_extent &oExtent = pMap->fm_extents[e];
            bLast = bLast || (oExtent.fe_flags & FIEMAP_EXTENT_LAST);
            qui64From = oExtent.fe_logical + oExtent.fe_length;
            if (oExtent.fe_flags & ui32Unplaced)
                *pqsWhy = qsExtents_Encoded_Why();
            else if (oExtent.fe_logical % 8 != 0 || oExtent.fe_physical % 8 != 0)
                *pqsWhy = qsExtents_Unaligned_Why();
            else if (!bUnwritten_Too && (oExtent.fe_flags & FIEMAP_EXTENT_UNWRITTEN) &&
                     oExtent.fe_logical < qui64Bytes)
                *pqui64Unwritten = std::min(*pqui64Unwritten, oPart.qui64First + oExtent.fe_logical / 8);
            else if (oExtent.fe_logical < qui64Bytes)
                pvecRuns->push_back({oPart.qui64First + oExtent.fe_logical / 8,
                                     (std::min(qui64From, qui64Bytes) - oExtent.fe_logical) / 8, oExtent.fe_physical});
        }
    }
    close(iFD);
    return pqsWhy->isEmpty();
}

} // namespace

bool bFill_Placement(const QVector<cFill_Part> &qvParts, const QString &qsDevice, std::vector<cRun> *pvecExpected,
                     QString *pqsWhy, quint64 *pqui64Unwritten, ePlacement_Source *peSource, const bool bSync,
                     const bool bUnwritten_Too)
{
    pvecExpected->clear();
    dev_t devFs = 0;
    quint64 qui64Unwritten = qvParts.isEmpty() ? 0 : qvParts.last().qui64First + qvParts.last().qui64Words;
    const quint64 qui64Magic = qvParts.isEmpty() ? 0 : qui64Fs_Magic(qvParts.first().qsPath);
    ePlacement_Source eSource = ePlacement_Fiemap;
    if (qui64Magic == FUSE_SUPER_MAGIC) {
        if (!bFuse_Runs(qvParts, qsDevice, pvecExpected, &devFs, pqsWhy, bSync))
            return false;
        eSource = ePlacement_Tsk;
    } else {
        for (const cFill_Part &oPart : qvParts)
            if (!bPart_Runs(oPart, pvecExpected, &devFs, pqsWhy, &qui64Unwritten, bUnwritten_Too))
                return false;
    }
    QList<dev_t> qlBtrfs;
    if (qui64Magic == BTRFS_SUPER_MAGIC) {
        if (!bBtrfs_Physical(qvParts.first().qsPath, pvecExpected, pqsWhy))
            return false;
        if (!bBtrfs_Devices(QFileInfo(qvParts.first().qsPath).absolutePath(), &qlBtrfs) || qlBtrfs.size() != 1) {
            *pqsWhy = qsBtrfs_Profile_Why();
            return false;
        }
        devFs = qlBtrfs.first();
        eSource = ePlacement_Btrfs_Chunks;
    }
    if (pqui64Unwritten)
        *pqui64Unwritten = qui64Unwritten; // the last part's
    quint64 qui64Offset = 0;
    if (!qvParts.isEmpty() && !bDevice_Offset(devFs, qsDevice, &qui64Offset, pqsWhy))
        return false;
    for (cRun &oRun : *pvecExpected)
        oRun.qui64Offset += qui64Offset;
    if (peSource)
        *peSource = qvParts.isEmpty() ? ePlacement_None : eSource;
    return true;
}

bool bAllocated_Unwritten(const int iFD)
{
    const int iBatch = 64;
    std::vector<char> vecBuffer(sizeof(fiemap) + iBatch * sizeof(fiemap_extent));
    auto *pMap = reinterpret_cast<fiemap *>(vecBuffer.data());
    quint64 qui64From = 0;
    bool bAny = false;
    for (;;) {
        std::memset(pMap, 0, sizeof(fiemap));
        pMap->fm_start = qui64From;
        pMap->fm_length = FIEMAP_MAX_OFFSET - qui64From;
        pMap->fm_extent_count = iBatch;
        if (ioctl(iFD, FS_IOC_FIEMAP, pMap) != 0)
            return false;
        if (pMap->fm_mapped_extents == 0)
            return bAny;
        for (quint32 e = 0; e < pMap->fm_mapped_extents; ++e) {
            const fiemap_extent &oExtent = pMap->fm_extents[e];
            if (!(oExtent.fe_flags & FIEMAP_EXTENT_UNWRITTEN))
                return false;
            bAny = true;
            qui64From = oExtent.fe_logical + oExtent.fe_length;
            if (oExtent.fe_flags & FIEMAP_EXTENT_LAST)
                return true;
        }
    }
}
