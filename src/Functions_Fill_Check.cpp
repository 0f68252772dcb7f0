#include "Functions_Fill_Check.h"

#include "Functions_Files.h"
#include "Functions_Topology.h"

#include <QtEndian>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

cFill_Check::cFill_Check(const QString &qsDevice_Path, const quint64 qui64Pattern_Value,
                         const quint64 qui64Volume_Bytes)
    : qsDevice(qsDevice_Path), qui64Pattern(qui64Pattern_Value)
{
    // A hundredth of the volume, but at least 32 MiB (a fast disk) and at most 256 MiB (a big
    // slow stick): on a medium that keeps everything the reads cost well under a hundredth.
    qui64Step = std::clamp<quint64>(qui64Volume_Bytes / 100, quint64(32) << 20, quint64(256) << 20);
    qui64Next = qui64Step;
}

bool cFill_Check::bDue(const quint64 qui64Written) const
{
    return bEnabled && qui64Written >= qui64Next;
}

namespace {

// Reads [qui64At, +qui64Length) of iFD into an aligned buffer; the bytes read.
quint64 qui64Read_Aligned(const int iFD, const cIO_Buffers &oBuffer, const quint64 qui64At, const quint64 qui64Length)
{
    int iError = 0;
    return qui64Read_Full(iFD, oBuffer.pucBuffer(0), qui64Length, qui64At, &iError);
}

// More than half the words of the sample are not what was written there: lost. A few changed
// words are a fault of their own, for the read to tell.
bool bMostly_Wrong(const uchar *pucData, const quint64 qui64Bytes, const quint64 qui64Expected_First)
{
    quint64 qui64Right = 0;
    for (quint64 w = 0; w < qui64Bytes / 8; ++w)
        qui64Right += qFromBigEndian<quint64>(pucData + 8 * w) == qui64Expected_First + w;
    return 2 * qui64Right < qui64Bytes / 8;
}

} // namespace

bool cFill_Check::bSample_Lost(const QString &qsPath, const quint64 qui64First, const quint64 qui64At)
{
    const cIO_Buffers oBuffer(1, qui64Check_Sample);
    if (oBuffer.iCount() == 0)
        return false;
    const quint64 qui64Expected = qui64Pattern + qui64First + qui64At / 8;
    // Where the file system says the words lie: read the device there, past its caches.
    std::vector<cRun> vecRuns;
    QString qsWhy;
    const cFill_Part oPart{qsPath, qui64First, (qui64At + qui64Check_Sample) / 8};
    if (bFill_Placement({oPart}, qsDevice, &vecRuns, &qsWhy)) {
        ++iChecks;
        const quint64 qui64Index = qui64First + qui64At / 8;
        auto it = std::find_if(vecRuns.begin(), vecRuns.end(), [&](const cRun &oRun) {
            return oRun.qui64First <= qui64Index && qui64Index < oRun.qui64End();
        });
        if (it == vecRuns.end())
            return false; // not written yet where the file system says: nothing to tell
        const quint64 qui64Device_At = it->qui64Offset + 8 * (qui64Index - it->qui64First);
        const quint64 qui64Length = std::min(qui64Check_Sample, 8 * (it->qui64End() - qui64Index));
        const int iDevice = open(qsDevice.toStdString().c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT);
        if (iDevice < 0)
            return false;
        const quint64 qui64Read = qui64Read_Aligned(iDevice, oBuffer, qui64Device_At, qui64Length);
        close(iDevice);
        qui64Bytes_Read += qui64Read;
        if (qui64Read < qui64Length) // unreadable is a fault for the read to locate, not a loss
            return false;
        if (!bMostly_Wrong(oBuffer.pucBuffer(0), qui64Length, qui64Expected))
            return false;
        qui64Loss_Device_Offset = qui64Device_At;
        bLoss_Placed = true;
        return true;
    }
    // Where the words lie is not known (an encrypting file system over a directory, btrfs in
    // RAID): reading back through the file system would read its caches, not the medium; such
    // a fill runs to the end, and the read judges it.
    bEnabled = false;
    return false;
}

bool cFill_Check::bLost(const QString &qsPath, const quint64 qui64First, const quint64 qui64Written)
{
    qui64Next = qui64Written + qui64Step;
    // The first stretch again, then the one written a cache's length or two ago.
    QVector<quint64> qvAt{0};
    if (qui64Written >= qui64Check_Lag + 2 * qui64Check_Sample)
        qvAt << (qui64Written - qui64Check_Lag - qui64Check_Sample) / stIO_Alignment * stIO_Alignment;
    for (const quint64 qui64At : qvAt)
        if (bSample_Lost(qsPath, qui64First, qui64At) && bEnabled) {
            qui64Loss_File_Offset = qui64At;
            bLoss_Found = true;
            return true;
        }
    return false;
}
