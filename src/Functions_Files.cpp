#include "Functions_Files.h"

#include "Functions_Report_Texts.h"

#include <QSaveFile>

#include <cerrno>
#include <system_error>
#include <thread>
#include <cstring>

#include <sys/mman.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

QString qsSystem_Reason(const int iError)
{
    return QString::fromLocal8Bit(std::strerror(iError));
}

// The size of a huge page on x86-64 and most other systems; elsewhere the region is merely
// aligned more than it needs.
const size_t stHuge_Page = size_t(2) << 20;

cIO_Buffers::cIO_Buffers(const int iWanted, const size_t stSize) : stBuffer(stSize)
{
    for (int iTry = iWanted; iTry > 0 && !pucRegion; iTry /= 2) {
        const size_t stRegion = (size_t(iTry) * stSize + stHuge_Page - 1) / stHuge_Page * stHuge_Page;
        pucRegion.reset(static_cast<uchar *>(std::aligned_alloc(stHuge_Page, stRegion)));
        if (pucRegion) {
            iBuffers = iTry;
            // Only a hint: without huge pages the region works as well, a little slower.
            madvise(pucRegion.get(), stRegion, MADV_HUGEPAGE);
        }
    }
}

quint64 qui64Read_Full(const int iFD, uchar *pucBuffer, const quint64 qui64Length, const quint64 qui64Offset,
                       int *piError)
{
    *piError = 0;
    quint64 qui64Done = 0;
    while (qui64Done < qui64Length) {
        const ssize_t ssRead =
            pread(iFD, pucBuffer + qui64Done, size_t(qui64Length - qui64Done), off_t(qui64Offset + qui64Done));
        if (ssRead > 0) {
            qui64Done += quint64(ssRead);
        } else if (ssRead == 0) {
            break;
        } else if (errno != EINTR) {
            *piError = errno;
            break;
        }
    }
    return qui64Done;
}

quint64 qui64Write_Full(const int iFD, const uchar *pucData, const quint64 qui64Length, const quint64 qui64Offset,
                        int *piError)
{
    *piError = 0;
    quint64 qui64Done = 0;
    while (qui64Done < qui64Length) {
        const ssize_t ssWritten =
            pwrite(iFD, pucData + qui64Done, size_t(qui64Length - qui64Done), off_t(qui64Offset + qui64Done));
        if (ssWritten > 0) {
            qui64Done += quint64(ssWritten);
        } else if (ssWritten == 0) {
            *piError = ENOSPC;
            break;
        } else if (errno != EINTR) {
            *piError = errno;
            break;
        }
    }
    return qui64Done;
}

namespace {

// Empty when qsPath is free to be written: missing, or a regular file; else why not.
QString qsNot_Replaceable(const QString &qsPath)
{
    struct stat strNode;
    if (lstat(qsPath.toStdString().c_str(), &strNode) != 0)
        return errno == ENOENT ? QString() : qsSystem_Reason(errno);
    if (S_ISLNK(strNode.st_mode))
        return qsSymbolic_Link_Why();
    if (!S_ISREG(strNode.st_mode))
        return qsNot_Regular_Why();
    return QString();
}

} // namespace

bool bSave_File(const QString &qsPath, const QByteArray &qbaData, QString *pqsError)
{
    *pqsError = qsNot_Replaceable(qsPath);
    if (!pqsError->isEmpty())
        return false;
    QSaveFile qFile(qsPath);
    if (!qFile.open(QIODevice::WriteOnly) || qFile.write(qbaData) != qbaData.size()) {
        *pqsError = qFile.errorString();
        return false;
    }
    // QSaveFile renames over the name it resolved when it opened; a link put there since
    // would redirect it, so the name is checked again just before.
    *pqsError = qsNot_Replaceable(qsPath);
    if (!pqsError->isEmpty()) {
        qFile.cancelWriting();
        return false;
    }
    if (!qFile.commit()) {
        *pqsError = qFile.errorString();
        return false;
    }
    return true;
}

void vClose_Aside(const int iFD)
{
    if (iFD < 0)
        return;
    try {
        std::thread([iFD] { close(iFD); }).detach();
    } catch (const std::system_error &) { // no thread to be had: here, then
        close(iFD);
    }
}

bool bOn_Fuse(const int iFD)
{
    struct statfs strFs;
    return fstatfs(iFD, &strFs) == 0 && strFs.f_type == FUSE_SUPER_MAGIC;
}
