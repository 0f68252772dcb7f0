#include "Functions_Fuse_Placement.h"

#include "Functions_Files.h"
#include "Functions_Fuse_Server.h"
#include "Functions_Report_Texts.h"
#include "Functions_Tsk.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <libmount/libmount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The mount holding qsPath: its root directory, type and source.
bool bMount_Of(const QString &qsPath, QString *pqsRoot, QString *pqsType, QString *pqsSource)
{
    std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> pTable(mnt_new_table_from_file("/proc/self/mountinfo"),
                                                                     &mnt_unref_table);
    const QByteArray qbaPath = QFileInfo(qsPath).canonicalFilePath().toUtf8();
    libmnt_fs *pFs = pTable ? mnt_table_find_mountpoint(pTable.get(), qbaPath.constData(), MNT_ITER_BACKWARD) : nullptr;
    if (!pFs)
        return false;
    *pqsRoot = QString::fromUtf8(mnt_fs_get_target(pFs));
    *pqsType = QString::fromUtf8(mnt_fs_get_fstype(pFs));
    *pqsSource = QString::fromUtf8(mnt_fs_get_source(pFs));
    return true;
}

// The node of a block device, by its number.
QString qsNode(const dev_t devDevice)
{
    const QString qsSys = QString("/sys/dev/block/%1:%2").arg(major(devDevice)).arg(minor(devDevice));
    const QString qsName = QFileInfo(QFileInfo(qsSys).canonicalFilePath()).fileName();
    return qsName.isEmpty() ? QString() : "/dev/" + qsName;
}

// qsDevice and its partitions, as block device numbers.
QList<dev_t> qlWith_Partitions(const QString &qsDevice)
{
    QList<dev_t> qlDevices;
    struct stat strDevice;
    if (stat(QFile::encodeName(qsDevice).constData(), &strDevice) != 0 || !S_ISBLK(strDevice.st_mode))
        return qlDevices;
    qlDevices << strDevice.st_rdev;
    const QDir qSys(QString("/sys/dev/block/%1:%2").arg(major(strDevice.st_rdev)).arg(minor(strDevice.st_rdev)));
    for (const QString &qsName : qSys.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        struct stat strPart;
        if (QFile::exists(qSys.filePath(qsName + "/partition")) &&
            stat(QFile::encodeName("/dev/" + qsName).constData(), &strPart) == 0 && S_ISBLK(strPart.st_mode))
            qlDevices << strPart.st_rdev;
    }
    return qlDevices;
}

// The device's cache written through, so that the medium holds what the structures say and
// the samples read from it directly find it. The cache is kept: the structures are read as the
// driver wrote them (where it put the file), and the driver goes on from the same records
// even where a fake medium has lost them. Not the files through their driver: a driver that
// serves one request at a time would wait there for the medium, and every other request of
// the fill (its close too) behind it, for as long as the medium stalls. exfat-fuse, ntfs-3g
// and fusefat write their records of a file to the device as it grows.
bool bSync_Device(const QString &qsNode, QString *pqsWhy)
{
    const int iFD = open(QFile::encodeName(qsNode).constData(), O_RDONLY | O_CLOEXEC);
    if (iFD < 0 || fsync(iFD) != 0) {
        *pqsWhy = qsSync_Failed_Why(qsNode, qsSystem_Reason(errno));
        if (iFD >= 0)
            close(iFD);
        return false;
    }
    close(iFD);
    return true;
}

// Asks the driver to write what it holds of the volume at qsRoot: syncfs, and the root
// directory's fsync, whichever of them it honours. What either returns decides nothing:
// whether the structures then hold the fill is checked where they are read.
void vSettle_Volume(const QString &qsRoot)
{
    const int iFD = open(QFile::encodeName(qsRoot).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (iFD < 0)
        return;
    (void)syncfs(iFD);
    (void)fsync(iFD);
    close(iFD);
}

// The size of the file at qsPath as its driver has it now: the kernel's copy of a FUSE file's
// size may be a second old, and a fill meanwhile made the file larger on the device.
qint64 qi64Size_Now(const QString &qsPath)
{
    struct statx strFile;
    if (statx(AT_FDCWD, QFile::encodeName(qsPath).constData(), AT_STATX_FORCE_SYNC, STATX_SIZE, &strFile) != 0)
        return -1;
    return qint64(strFile.stx_size);
}

// The one device among qlCandidates whose file system holds qsIn_Fs (the fill's qsPath), at no
// more than the bytes the file has after its structures were read (a fill still going on adds
// to it meanwhile).
bool bFind_Holder(const QList<dev_t> &qlCandidates, const QString &qsIn_Fs, const QString &qsPath, dev_t *pdevFs)
{
    QList<qint64> qlHeld;
    for (const dev_t devCandidate : qlCandidates)
        qlHeld << qi64Tsk_File_Size(qsNode(devCandidate), qsIn_Fs);
    const qint64 qi64Size = qi64Size_Now(qsPath);
    int iFound = 0;
    for (int i = 0; i < qlCandidates.size(); ++i) {
        const dev_t devCandidate = qlCandidates[i];
        const qint64 qi64Held = qlHeld[i];
        if (qi64Held >= 0 && qi64Held <= qi64Size) {
            *pdevFs = devCandidate;
            ++iFound;
        }
    }
    return iFound == 1;
}

} // namespace

bool bFuse_Runs(const QVector<cFill_Part> &qvParts, const QString &qsDevice, std::vector<cRun> *pvecRuns, dev_t *pdevFs,
                QString *pqsWhy, const bool bSync)
{
    QString qsRoot, qsType, qsSource;
    struct stat strFile, strSource;
    if (qvParts.isEmpty() || !bMount_Of(qvParts.first().qsPath, &qsRoot, &qsType, &qsSource) ||
        stat(QFile::encodeName(qvParts.first().qsPath).constData(), &strFile) != 0) {
        *pqsWhy = qsFuse_Unplaced_Why();
        return false;
    }
    // A path inside the file system, from its root.
    auto qsIn_Fs = [&](const cFill_Part &oPart) {
        return "/" + QDir(qsRoot).relativeFilePath(QFileInfo(oPart.qsPath).canonicalFilePath());
    };
    const bool bSource_Node = qsSource.startsWith('/');
    const QList<dev_t> qlServer = bSource_Node ? QList<dev_t>() : qlFuse_Server_Devices(strFile.st_dev);
    if (major(strFile.st_dev) != 0) { // fuseblk: the kernel knows the device
        *pdevFs = strFile.st_dev;
    } else if (bSource_Node && stat(QFile::encodeName(qsSource).constData(), &strSource) == 0 &&
               S_ISBLK(strSource.st_mode)) {
        *pdevFs = strSource.st_rdev;
    } else if (bSource_Node) { // over a directory or a file (an encrypting file system)
        *pqsWhy = qsFuse_Unplaced_Why();
        return false;
    } else if (qlServer.size() == 1) { // the one device its server reads
        *pdevFs = qlServer.first();
    } else {
        // The mount names no device: find the one file system on the scanned device (or
        // its partitions) that holds the fill.
        if (!bFind_Holder(qlWith_Partitions(qsDevice), qsIn_Fs(qvParts.first()), qvParts.first().qsPath, pdevFs)) {
            *pqsWhy = qsFuse_No_Device_Why(qsType, qsDevice);
            return false;
        }
    }
    const QString qsFs_Node = qsNode(*pdevFs);
    if (bSync)
        vSettle_Volume(qsRoot);
    if (bSync && !bSync_Device(qsFs_Node, pqsWhy))
        return false;
    for (const cFill_Part &oPart : qvParts)
        if (!bTsk_Part_Runs(qsFs_Node, qsIn_Fs(oPart), oPart, pvecRuns, pqsWhy))
            return false;
    return true;
}

bool bFlush_Range(const QString &qsDevice, const quint64 qui64At, const quint64 qui64Length)
{
    bool bOk = true;
    const QList<dev_t> qlNodes = qlWith_Partitions(qsDevice);
    for (int i = 0; i < qlNodes.size(); ++i) {
        // sysfs counts a partition's start in 512-byte sectors, whatever the device's own
        const QString qsSys = QString("/sys/dev/block/%1:%2").arg(major(qlNodes[i])).arg(minor(qlNodes[i]));
        QFile qStart(qsSys + "/start");
        const quint64 qui64Start =
            i > 0 && qStart.open(QIODevice::ReadOnly) ? qStart.readAll().trimmed().toULongLong() * 512 : 0;
        if (i > 0 && qui64At < qui64Start)
            continue;
        const int iFD = open(QFile::encodeName(qsNode(qlNodes[i])).constData(), O_RDONLY | O_CLOEXEC);
        bOk = bOk && iFD >= 0 &&
              sync_file_range(iFD, off64_t(qui64At - qui64Start), off64_t(qui64Length),
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) == 0;
        if (iFD >= 0)
            close(iFD);
    }
    return bOk;
}
