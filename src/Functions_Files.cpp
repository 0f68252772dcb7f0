#include "Functions_Files.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

QString qsSystem_Reason(const int iError)
{
    return QString::fromLocal8Bit(std::strerror(iError));
}

quint64 qui64Read_Full(const int iFD, uchar *pucBuffer, const quint64 qui64Length, const quint64 qui64Offset,
                       int *piError)
{
    *piError = 0;
    quint64 qui64Done = 0;
    while (qui64Done < qui64Length) {
        const ssize_t ssRead = pread(iFD, pucBuffer + qui64Done, size_t(qui64Length - qui64Done),
                                     off_t(qui64Offset + qui64Done));
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
        const ssize_t ssWritten = pwrite(iFD, pucData + qui64Done, size_t(qui64Length - qui64Done),
                                         off_t(qui64Offset + qui64Done));
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
