#include "Functions_Fill_Check.h"

#include "Functions_Files.h"
#include "Functions_Fuse_Placement.h"
#include "Functions_Pool.h"
#include "Functions_Topology.h"

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

cFill_Check::cFill_Check(const QString &qsDevice_Path, const quint64 qui64Pattern_Value,
                         const quint64 qui64Volume_Bytes, std::function<bool()> fCancelled_Asked)
    : fCancelled(std::move(fCancelled_Asked)), qsDevice(qsDevice_Path), qui64Pattern(qui64Pattern_Value)
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

namespace {

// One sample's work, owned through a pointer: where the device stops answering, the thread
// that does it may be left behind inside the sync or the read, holding what it works on.
class cSample
{
public:
    ~cSample()
    {
        if (oPart.iFD >= 0)
            close(oPart.iFD);
    }

    cFill_Part oPart; // with a descriptor of its own: the writer may close its one meanwhile
    QString qsDevice;
    quint64 qui64Index = 0;    // the sample's first word
    quint64 qui64Expected = 0; // the word that should lie there
    std::vector<cRun> vecKnown; // the runs the file system gave before, for when it no longer says
    std::atomic<bool> bStop{false};
    // What the work found.
    bool bPlaced = false, bFresh = false, bRead = false, bLost = false;
    std::vector<cRun> vecRuns;
    quint64 qui64Device_At = 0, qui64Bytes_Read = 0;
};

void vTake_Sample(cSample &oSample)
{
    QString qsWhy;
    // Not the whole device synced: what the file system's driver still has in the cache is
    // the fill's newest writes, and writing all of it through at every check would let the
    // writers run far ahead meanwhile. Only the sample's bytes are written through.
    oSample.bPlaced = oSample.bFresh =
        bFill_Placement({oSample.oPart}, oSample.qsDevice, &oSample.vecRuns, &qsWhy, nullptr, nullptr, false);
    // A FUSE file system's placement is read from its structures on the medium, which a
    // wrapping medium overwrites too: where they no longer say, the runs they said before
    // still hold (these drivers never move data once written), and the sample is read there.
    if (!oSample.bPlaced && !oSample.vecKnown.empty()) {
        oSample.vecRuns = oSample.vecKnown;
        oSample.bPlaced = true;
    }
    const quint64 qui64Index = oSample.qui64Index;
    auto it = std::find_if(oSample.vecRuns.begin(), oSample.vecRuns.end(), [&](const cRun &oRun) {
        return oRun.qui64First <= qui64Index && qui64Index < oRun.qui64End();
    });
    const cIO_Buffers oBuffer(1, qui64Check_Sample);
    if (!oSample.bPlaced || it == oSample.vecRuns.end() || oBuffer.iCount() == 0)
        return; // not written yet where the file system says: nothing to tell
    oSample.qui64Device_At = it->qui64Offset + 8 * (qui64Index - it->qui64First);
    const quint64 qui64Length = std::min(qui64Check_Sample, 8 * (it->qui64End() - qui64Index));
    if (!bFlush_Range(oSample.qsDevice, oSample.qui64Device_At, qui64Length))
        return; // what the medium holds there may not be what was written yet: nothing to tell
    const int iDevice = open(oSample.qsDevice.toStdString().c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT);
    if (iDevice < 0)
        return;
    oSample.qui64Bytes_Read = qui64Read_Aligned(iDevice, oBuffer, oSample.qui64Device_At, qui64Length);
    close(iDevice);
    // Unreadable is a fault for the read to locate, not a loss.
    oSample.bRead = oSample.qui64Bytes_Read == qui64Length;
    oSample.bLost = oSample.bRead && bMostly_Wrong(oBuffer.pucBuffer(0), qui64Length, oSample.qui64Expected);
}

} // namespace

bool cFill_Check::bSample_Lost(const cFill_Part &oFile, const quint64 qui64At)
{
    const QString &qsPath = oFile.qsPath;
    const quint64 qui64First = oFile.qui64First;
    auto pSample = std::make_shared<cSample>();
    pSample->oPart = {qsPath, qui64First, (qui64At + qui64Check_Sample) / 8,
                      oFile.iFD < 0 ? -1 : fcntl(oFile.iFD, F_DUPFD_CLOEXEC, 0)};
    pSample->qsDevice = qsDevice;
    pSample->qui64Index = qui64First + qui64At / 8;
    pSample->qui64Expected = qui64Pattern + qui64First + qui64At / 8;
    if (qsKnown_Path == qsPath)
        pSample->vecKnown = vecKnown_Runs;
    // The sync and the read wait for the device: a stop asked meanwhile is not kept waiting.
    const bool bBack = bRun_Workers(
        1, [pSample](int) { vTake_Sample(*pSample); }, pSample->bStop,
        [this] { return !(fCancelled && fCancelled()); }, 500);
    if (!bBack) { // the device stopped answering: no more checks
        bEnabled = false;
        return false;
    }
    if (pSample->bFresh) {
        vecKnown_Runs = pSample->vecRuns;
        qsKnown_Path = qsPath;
    }
    if (!pSample->bPlaced) {
        // Where the words lie is not known (an encrypting file system over a directory, btrfs
        // in RAID): reading back through the file system would read its caches, not the
        // medium; such a fill runs to the end, and the read judges it.
        bEnabled = false;
        return false;
    }
    ++iChecks;
    qui64Bytes_Read += pSample->qui64Bytes_Read;
    if (!pSample->bLost)
        return false;
    qui64Loss_Device_Offset = pSample->qui64Device_At;
    bLoss_Placed = true;
    return true;
}

bool cFill_Check::bLost(const int iFD, const QString &qsPath, const quint64 qui64First, const quint64 qui64Written)
{
    const cFill_Part oFile{qsPath, qui64First, 0, iFD};
    qui64Next = qui64Written + qui64Step;
    // The first stretch again, then the one written a cache's length or two ago.
    QVector<quint64> qvAt{0};
    if (qui64Written >= qui64Check_Lag + 2 * qui64Check_Sample)
        qvAt << (qui64Written - qui64Check_Lag - qui64Check_Sample) / stIO_Alignment * stIO_Alignment;
    for (const quint64 qui64At : qvAt)
        if (bSample_Lost(oFile, qui64At) && bEnabled) {
            qui64Loss_File_Offset = qui64At;
            bLoss_Found = true;
            return true;
        }
    return false;
}
