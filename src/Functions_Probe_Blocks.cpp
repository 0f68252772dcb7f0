#include "Functions_Probe_Blocks.h"

#include "Functions_Files.h"

#include <QtEndian>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace {

const quint64 qui64Words_Per_Block = qui64Probe_Block / 8;
// A sample's mark read back with at most this many bits changed is its own, changed.
const int iMax_Changed_Bits = 8;

// The mark of the block at qui64Offset: the tag, the offset, then words that go on from both,
// so that a block found elsewhere tells where it was written. A filler block's tag is inverted.
void vMark(uchar *pucBlock, const quint64 qui64Tag, const quint64 qui64Offset)
{
    qToBigEndian(qui64Tag, pucBlock);
    qToBigEndian(qui64Offset, pucBlock + 8);
    for (quint64 j = 2; j < qui64Words_Per_Block; ++j)
        qToBigEndian(qui64Tag + qui64Offset + 8 * j, pucBlock + 8 * j);
}

// Bits in which the block differs from the mark of qui64Offset under qui64Tag.
int iBits_Off(const uchar *pucBlock, const quint64 qui64Tag, const quint64 qui64Offset)
{
    alignas(8) uchar aucMark[qui64Probe_Block];
    vMark(aucMark, qui64Tag, qui64Offset);
    int iBits = 0;
    for (quint64 j = 0; j < qui64Words_Per_Block && iBits <= iMax_Changed_Bits; ++j)
        iBits += __builtin_popcountll(qFromBigEndian<quint64>(pucBlock + 8 * j) ^
                                      qFromBigEndian<quint64>(aucMark + 8 * j));
    return iBits;
}

// What the block read back at oSample's place is.
void vClassify(const uchar *pucBlock, const quint64 qui64Tag, cProbe_Sample &oSample)
{
    const quint64 qui64First = qFromBigEndian<quint64>(pucBlock);
    const quint64 qui64Where = qFromBigEndian<quint64>(pucBlock + 8);
    oSample.qui64Seen_Offset = qui64Where;
    if (qui64First == qui64Tag && qui64Where != oSample.qui64Offset && iBits_Off(pucBlock, qui64Tag, qui64Where) == 0)
        oSample.eSeen = eSeen_Other;
    else if (qui64First == ~qui64Tag && iBits_Off(pucBlock, ~qui64Tag, qui64Where) == 0)
        oSample.eSeen = eSeen_Filler;
    else {
        const int iBits = iBits_Off(pucBlock, qui64Tag, oSample.qui64Offset);
        oSample.eSeen = iBits == 0 ? eSeen_Own : iBits <= iMax_Changed_Bits ? eSeen_Changed : eSeen_Lost;
    }
}

// SIGINT, SIGTERM and SIGHUP held back from this thread while what was written is put back:
// a second Ctrl-C must not end the process with the medium half restored.
class cSignals_Held
{
public:
    cSignals_Held()
    {
        sigset_t strHeld;
        sigemptyset(&strHeld);
        for (const int iSignal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&strHeld, iSignal);
        pthread_sigmask(SIG_BLOCK, &strHeld, &strOld);
    }
    ~cSignals_Held() { pthread_sigmask(SIG_SETMASK, &strOld, nullptr); }

private:
    sigset_t strOld;
};

// The pieces of a round: each sample's block, then the filler in runs of up to 1 MiB, each
// with what it held before.
class cRound_Blocks
{
public:
    cRound_Blocks(const int iFD_In, cProbe_Round &oRound_In) : iFD(iFD_In), oRound(oRound_In)
    {
        for (const cProbe_Sample &oSample : oRound.vecSamples)
            vecPieces.push_back({oSample.qui64Offset, qui64Probe_Block});
        stSamples = vecPieces.size();
        for (const quint64 qui64At : oRound.vecFiller) {
            if (vecPieces.size() > stSamples && vecPieces.back().first + vecPieces.back().second == qui64At &&
                vecPieces.back().second < qui64Filler_Piece)
                vecPieces.back().second += qui64Probe_Block;
            else
                vecPieces.push_back({qui64At, qui64Probe_Block});
        }
        quint64 qui64Bytes = 0;
        for (const auto &oPiece : vecPieces) {
            vecSaved_At.push_back(qui64Bytes);
            qui64Bytes += oPiece.second;
        }
        void *pMemory = nullptr;
        if (posix_memalign(&pMemory, stIO_Alignment, qui64Bytes + 2 * iThreads * qui64Filler_Piece) == 0)
            pucSaved.reset(static_cast<uchar *>(pMemory));
        pucScratch_Base = pucSaved.get() + qui64Bytes;
        vecReadable.assign(vecPieces.size(), 0);
        vecWritten.assign(vecPieces.size(), 0);
    }
    bool bMemory() const { return pucSaved != nullptr; }
    uchar *pucSaved_Of(const size_t i) const { return pucSaved.get() + vecSaved_At[i]; }
    // Each thread's own buffer for marks and what is read back.
    uchar *pucScratch(const int iThread) const { return pucScratch_Base + 2 * size_t(iThread) * qui64Filler_Piece; }
    bool bFiller(const size_t i) const { return i >= stSamples; }

    static const quint64 qui64Filler_Piece = quint64(1) << 20;
    static const int iThreads = 8; // requests in flight: a stick answers several at once

    int iFD;
    cProbe_Round &oRound;
    std::vector<std::pair<quint64, quint64>> vecPieces; // offset, length
    size_t stSamples = 0;
    std::vector<quint64> vecSaved_At;
    std::unique_ptr<uchar, decltype(&std::free)> pucSaved{nullptr, &std::free};
    uchar *pucScratch_Base = nullptr;
    std::vector<char> vecReadable, vecWritten; // per piece; char, not bool: written by several threads
    std::atomic<bool> bFailed{false};
};

// Runs fPiece(piece, thread) over [qui64First, qui64End) on the round's threads, the pieces
// of each thread in ascending order.
void vEach_Piece(const size_t stFirst, const size_t stEnd, const std::function<void(size_t, int)> &fPiece)
{
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < cRound_Blocks::iThreads; ++t)
        vecThreads.emplace_back([=, &fPiece] {
            for (size_t i = stFirst + size_t(t); i < stEnd; i += cRound_Blocks::iThreads)
                fPiece(i, t);
        });
    for (std::thread &oThread : vecThreads)
        oThread.join();
}

// The marks of a piece: a block's mark each 4 KiB.
void vMark_Piece(uchar *pucBuffer, const quint64 qui64Tag, const std::pair<quint64, quint64> &oPiece)
{
    for (quint64 qui64At = 0; qui64At < oPiece.second; qui64At += qui64Probe_Block)
        vMark(pucBuffer + qui64At, qui64Tag, oPiece.first + qui64At);
}

// Writes the marks of the pieces [stFirst, stEnd); false when a write failed or the round
// was stopped.
bool bWrite_Marks(cRound_Blocks &oBlocks, const size_t stFirst, const size_t stEnd, const quint64 qui64Tag,
                  const std::function<bool()> &bStop)
{
    std::atomic<bool> bStopped{false};
    std::mutex oMutex;
    vEach_Piece(stFirst, stEnd, [&](const size_t i, const int t) {
        if (!oBlocks.vecReadable[i] || bStopped || oBlocks.bFailed)
            return; // what lay there is not known: it could not be put back
        if (bStop()) {
            bStopped = true;
            return;
        }
        const auto &oPiece = oBlocks.vecPieces[i];
        vMark_Piece(oBlocks.pucScratch(t), oBlocks.bFiller(i) ? ~qui64Tag : qui64Tag, oPiece);
        oBlocks.vecWritten[i] = 1; // a failed write may have stored part of it
        int iError = 0;
        const bool bDone = qui64Write_Full(oBlocks.iFD, oBlocks.pucScratch(t), oPiece.second, oPiece.first, &iError) ==
                           oPiece.second;
        const std::lock_guard<std::mutex> oLock(oMutex);
        if (bDone)
            oBlocks.oRound.qui64Bytes_Written += oPiece.second;
        else if (!oBlocks.bFailed.exchange(true)) {
            oBlocks.oRound.bWrite_Refused = true;
            oBlocks.oRound.iWrite_Errno = iError;
        }
    });
    // A medium without a flush still took the writes: the read back tells what it kept.
    (void)fdatasync(oBlocks.iFD);
    return !bStopped && !oBlocks.bFailed;
}

// Reads back the filler (which of it a cache or a log still holds), then the samples; false
// when the round was stopped meanwhile.
bool bRead_Back(cRound_Blocks &oBlocks, const quint64 qui64Tag, const std::function<bool()> &bStop)
{
    cProbe_Round &oRound = oBlocks.oRound;
    std::atomic<quint64> qui64Kept{0};
    std::atomic<bool> bLast_Kept{false};
    const size_t stPieces = oBlocks.vecPieces.size();
    vEach_Piece(oBlocks.stSamples, stPieces, [&](const size_t i, const int t) {
        const auto &oPiece = oBlocks.vecPieces[i];
        int iError = 0;
        if (!oBlocks.vecReadable[i] ||
            qui64Read_Full(oBlocks.iFD, oBlocks.pucScratch(t), oPiece.second, oPiece.first, &iError) != oPiece.second)
            return;
        for (quint64 qui64At = 0; qui64At < oPiece.second; qui64At += qui64Probe_Block) {
            const bool bOwn = iBits_Off(oBlocks.pucScratch(t) + qui64At, ~qui64Tag, oPiece.first + qui64At) == 0;
            qui64Kept += bOwn ? qui64Probe_Block : 0;
            if (i + 1 == stPieces && qui64At + qui64Probe_Block == oPiece.second)
                bLast_Kept = bOwn;
        }
    });
    oRound.qui64Filler_Kept = qui64Kept;
    oRound.bFiller_Last_Kept = bLast_Kept;
    if (bStop())
        return false;
    vEach_Piece(0, oBlocks.stSamples, [&](const size_t i, const int t) {
        cProbe_Sample &oSample = oRound.vecSamples[i];
        int iError = 0;
        if (!oBlocks.vecReadable[i])
            return;
        if (qui64Read_Full(oBlocks.iFD, oBlocks.pucScratch(t), qui64Probe_Block, oSample.qui64Offset, &iError) ==
            qui64Probe_Block)
            vClassify(oBlocks.pucScratch(t), qui64Tag, oSample);
        else {
            oSample.eSeen = eSeen_Lost;
            oSample.bUnreadable = true;
        }
    });
    return !bStop();
}

// Whether the block holds a mark of this probe (a sample's or the filler's) as its first word
// says: anything else was written there since by another, and stays.
bool bProbe_Mark(const uchar *pucBlock, const quint64 qui64Tag)
{
    const quint64 qui64First = qFromBigEndian<quint64>(pucBlock);
    return qui64First == qui64Tag || qui64First == ~qui64Tag;
}

// Writes back what one written piece held, block by block where some of it is no mark any
// more: the file system may have written there meanwhile, on a medium that puts two places
// in one, and its newer content is not to be undone.
void vRestore_Piece(cRound_Blocks &oBlocks, const size_t i, const int t, const quint64 qui64Tag, std::mutex &oMutex)
{
    const auto &oPiece = oBlocks.vecPieces[i];
    int iError = 0;
    quint64 qui64Failed = 0;
    const bool bRead = qui64Read_Full(oBlocks.iFD, oBlocks.pucScratch(t), oPiece.second, oPiece.first, &iError) ==
                       oPiece.second;
    bool bAll_Marks = bRead;
    for (quint64 qui64At = 0; bAll_Marks && qui64At < oPiece.second; qui64At += qui64Probe_Block)
        bAll_Marks = bProbe_Mark(oBlocks.pucScratch(t) + qui64At, qui64Tag);
    if (bAll_Marks || !bRead) { // unreadable now: what was written is put back all the same
        if (qui64Write_Full(oBlocks.iFD, oBlocks.pucSaved_Of(i), oPiece.second, oPiece.first, &iError) != oPiece.second)
            qui64Failed = oPiece.second / qui64Probe_Block;
    } else
        for (quint64 qui64At = 0; qui64At < oPiece.second; qui64At += qui64Probe_Block)
            if (bProbe_Mark(oBlocks.pucScratch(t) + qui64At, qui64Tag) &&
                qui64Write_Full(oBlocks.iFD, oBlocks.pucSaved_Of(i) + qui64At, qui64Probe_Block,
                                oPiece.first + qui64At, &iError) != qui64Probe_Block)
                ++qui64Failed;
    if (qui64Failed == 0)
        return;
    const std::lock_guard<std::mutex> oLock(oMutex);
    oBlocks.oRound.qui64Not_Restored += qui64Failed;
    oBlocks.oRound.iRestore_Errno = iError;
}

// Writes back what every written piece held, the filler first, each thread from its last
// piece to its first. Everything was read before anything was written: where two places
// are one on the medium, both copies hold what lay there, so the order cannot undo it.
void vRestore(cRound_Blocks &oBlocks, const quint64 qui64Tag)
{
    const cSignals_Held oHeld;
    std::mutex oMutex;
    const size_t stPieces = oBlocks.vecPieces.size();
    for (const auto &oRange : {std::make_pair(oBlocks.stSamples, stPieces), std::make_pair(size_t(0), oBlocks.stSamples)})
        vEach_Piece(0, oRange.second - oRange.first, [&](const size_t i, const int t) {
            if (oBlocks.vecWritten[oRange.second - 1 - i])
                vRestore_Piece(oBlocks, oRange.second - 1 - i, t, qui64Tag, oMutex);
        });
    if (fdatasync(oBlocks.iFD) != 0 && oBlocks.oRound.iRestore_Errno == 0)
        oBlocks.oRound.iRestore_Errno = errno;
}

} // namespace

void vProbe_Round(const int iFD, const quint64 qui64Tag, cProbe_Round &oRound, const std::function<bool()> &bStop,
                  const std::function<void(quint64)> &vAdvance)
{
    cRound_Blocks oBlocks(iFD, oRound);
    if (!oBlocks.bMemory()) {
        oRound.bCancelled = true;
        return;
    }
    // Everything read before anything is written: a place that is another one on the medium
    // then still shows what lay there.
    vEach_Piece(0, oBlocks.vecPieces.size(), [&](const size_t i, const int) {
        int iError = 0;
        const auto &oPiece = oBlocks.vecPieces[i];
        oBlocks.vecReadable[i] =
            qui64Read_Full(iFD, oBlocks.pucSaved_Of(i), oPiece.second, oPiece.first, &iError) == oPiece.second;
        if (!oBlocks.bFiller(i) && !oBlocks.vecReadable[i])
            oRound.vecSamples[i].bUnreadable = true;
    });
    vAdvance(oRound.vecSamples.size() + oRound.vecFiller.size());
    // The samples on the medium before the filler goes after them.
    bool bWritten = bWrite_Marks(oBlocks, 0, oBlocks.stSamples, qui64Tag, bStop);
    vAdvance(2 * oRound.vecSamples.size() + oRound.vecFiller.size());
    bWritten = bWritten && bWrite_Marks(oBlocks, oBlocks.stSamples, oBlocks.vecPieces.size(), qui64Tag, bStop);
    vAdvance(2 * (oRound.vecSamples.size() + oRound.vecFiller.size()));
    oRound.bCancelled = !bWritten && !oRound.bWrite_Refused;
    if (bWritten && !bRead_Back(oBlocks, qui64Tag, bStop))
        oRound.bCancelled = true;
    vAdvance(3 * (oRound.vecSamples.size() + oRound.vecFiller.size()));
    vRestore(oBlocks, qui64Tag);
}
