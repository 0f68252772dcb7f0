#ifndef FUNCTIONS_FILES_H
#define FUNCTIONS_FILES_H

#include <QString>

#include <cstddef>

// Direct I/O wants buffers, offsets and lengths in whole pages on every file system here.
const size_t stIO_Alignment = 4096;

// The system's text for an errno value.
QString qsSystem_Reason(const int iError);

// pread/pwrite until qui64Length bytes are done, the end of the file (read), or an error;
// interruptions are retried. Return the bytes done; *piError gets the errno that stopped
// them, 0 for a clean end. A write that makes no progress counts as ENOSPC.
quint64 qui64Read_Full(const int iFD, uchar *pucBuffer, const quint64 qui64Length, const quint64 qui64Offset,
                       int *piError);
quint64 qui64Write_Full(const int iFD, const uchar *pucData, const quint64 qui64Length, const quint64 qui64Offset,
                        int *piError);

// Writes a whole file the tool makes (a map, a report) atomically, through a temporary
// beside it. Refuses to replace anything but a regular file, and never follows a symbolic
// link: the tool runs as root, and a link planted under the name must not make it write
// elsewhere. False with the reason on failure.
bool bSave_File(const QString &qsPath, const QByteArray &qbaData, QString *pqsError);

#endif // FUNCTIONS_FILES_H
