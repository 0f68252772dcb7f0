#ifndef FUNCTIONS_FILES_H
#define FUNCTIONS_FILES_H

#include <QString>

#include <cstddef>
#include <cstdlib>
#include <memory>

// Direct I/O wants buffers, offsets and lengths in whole pages on every file system here.
const size_t stIO_Alignment = 4096;

// Equal buffers for direct I/O in one region, on huge pages where the system allows it: a
// request then pins a few large pages instead of hundreds of small ones, and reaches the
// device in a few long segments. Fewer buffers when memory is short; none when there is
// none at all.
class cIO_Buffers
{
public:
    cIO_Buffers(const int iWanted, const size_t stSize);
    int iCount() const { return iBuffers; }
    uchar *pucBuffer(const int i) const { return pucRegion.get() + size_t(i) * stBuffer; }

private:
    std::unique_ptr<uchar, decltype(&std::free)> pucRegion{nullptr, &std::free};
    int iBuffers = 0;
    size_t stBuffer = 0;
};

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

// Whether iFD lies on a FUSE file system (false where that cannot be told).
bool bOn_Fuse(const int iFD);

// Closes iFD (nothing for -1) on a thread of its own: through a FUSE driver whose medium stopped
// answering a close waits for the driver's flush, and the fill must not wait with it. A
// descriptor the fill only reads or writes through is all it is for: nothing checks its close.
void vClose_Aside(const int iFD);

#endif // FUNCTIONS_FILES_H
