#include "Functions_Drive.h"

#include "Functions_Core.h"
#include "Functions_Files.h"
#include "Functions_Report_Texts.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

void cDrive::vGet_Properties(QString qsDrive)
{
    bGet_Properties(qsDrive);
}

bool cDrive::bGet_Properties(QString qsDrive)
{
    // O_NONBLOCK: a FIFO given as the device must not hang the poll.
    const int iFD = open(qsDrive.toStdString().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (iFD == -1) {
        const QString qsReason = qsSystem_Reason(errno);
        iMessageBox(qsError_Heading(), qsDrive_Open_Failure(qsDrive, qsReason), iMsgBox_Critical_Icon,
                    iMsgBox_OK_Button, 0, 0, "");
        return false;
    }

    struct stat strStat;
    std::memset(&strStat, 0, sizeof strStat);
    if (fstat(iFD, &strStat) == 0 && S_ISDIR(strStat.st_mode)) {
        close(iFD);
        iMessageBox(qsError_Heading(), qsDrive_Is_Directory(qsDrive, qsSystem_Reason(EISDIR)), iMsgBox_Critical_Icon,
                    iMsgBox_OK_Button, 0, 0, "");
        return false;
    }
    if (S_ISREG(strStat.st_mode)) {
        // A disk image: 512-byte sectors over the file's length.
        iSector_Size = 512;
        qui64Sectors_Count = quint64(strStat.st_size) / 512;
        qui64Bytes_Count = quint64(strStat.st_size);
    } else {
        // A request that fails (not a block device) leaves its field 0.
        int iSector = 0;
        unsigned long ulSectors = 0;
        quint64 qui64Bytes = 0;
        const bool bSize_Known = ioctl(iFD, BLKGETSIZE64, &qui64Bytes) == 0;
        if (S_ISBLK(strStat.st_mode) && (!bSize_Known || qui64Bytes == 0)) {
            // A loop device with nothing attached, a card reader without its card, a stick
            // pulled out: nothing to read, which must not pass for an empty, clean medium.
            close(iFD);
            iMessageBox(qsError_Heading(), qsDrive_Empty(qsDrive), iMsgBox_Critical_Icon, iMsgBox_OK_Button, 0, 0, "");
            return false;
        }
        iSector_Size = ioctl(iFD, BLKSSZGET, &iSector) == 0 ? iSector : 0;
        qui64Sectors_Count = ioctl(iFD, BLKGETSIZE, &ulSectors) == 0 ? ulSectors : 0;
        qui64Bytes_Count = bSize_Known ? qui64Bytes : 0;
    }
    qsDrive_Name = qsDrive;
    close(iFD);
    return true;
}

void cDrive::vFormat(QString qsVolume)
{
    Q_UNUSED(qsVolume);
    const QStringList qsl = qslProcess_Run("mkfs -t ntfs -c 512 -Q /dev/sdb1", true);
    const QStringList qsl76 = qslProcess_Run("mkfs -t ext4 /dev/sdb1", true);
    Q_UNUSED(qsl);
    Q_UNUSED(qsl76);
}

void cVolume::vGet_Properties(QString qsPath)
{
    struct statvfs str_StatVFS;
    qsError.clear();
    pDir.reset();
    // Its numbers and its identity are those of the directory opened, whatever the name leads to.
    const int iFD = open(QFile::encodeName(qsPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (iFD < 0 || fstatvfs(iFD, &str_StatVFS) != 0)
        qsError = qsSystem_Reason(errno);
    else
        pDir = std::make_shared<const cVolume_Dir>(qsPath, iFD);
    if (iFD >= 0)
        close(iFD);
    if (!qsError.isEmpty())
        std::memset(&str_StatVFS, 0, sizeof str_StatVFS); // no such path: every number 0
    iCluster_Size = int(str_StatVFS.f_frsize);
    qui64Clusters_Count = quint64(str_StatVFS.f_blocks);
    qui64Bytes_Count = quint64(str_StatVFS.f_blocks) * quint64(str_StatVFS.f_frsize);
    qui64Clusters_Free_Count = quint64(str_StatVFS.f_bfree);
    qui64Bytes_Free_Count = quint64(str_StatVFS.f_bfree) * quint64(str_StatVFS.f_frsize);
    qsVolume_Name = qsPath;
}

QString cVolume::qsChanged() const
{
    return pDir ? pDir->qsStill_There() : QString();
}

void cDrive::vRead_Data(quint64 qui64Pattern, quint64 qui64Data_Part, cOperator &oOperator, cRead_Result &oResult,
                        const cRead_Plan &oPlan) const
{
    vScan_Device(qsDrive_Name, qui64Bytes_Count, qui64Pattern, qui64Data_Part, oOperator, oResult, oPlan);
}
