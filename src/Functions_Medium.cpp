#include "Functions_Medium.h"

#include <QHash>

#include <algorithm>

namespace {

bool bLost(const cPiece &oPiece)
{
    return oPiece.eValue == eFate_Missing || oPiece.eValue == eFate_Displaced;
}

bool bKept(const cPiece &oPiece)
{
    return oPiece.eValue == eFate_In_Place || oPiece.eValue == eFate_Found || oPiece.eValue == eFate_Changed;
}

// The period of a medium that wraps its addresses: most words found twice lie that far
// apart, and most words found beyond it have their twin there. 0 when there is none.
quint64 qui64Wrap_Period(const std::vector<cRun> &vecRuns, const quint64 qui64Device_Bytes, const quint64 qui64Words)
{
    QHash<quint64, quint64> qhTwins; // distance -> words seen at both places
    quint64 qui64All_Twins = 0;
    const cRun *pWidest = nullptr;
    for (const cRun &oRun : vecRuns) {
        if (pWidest && oRun.qui64First < pWidest->qui64End() && oRun.qui64Diagonal() != pWidest->qui64Diagonal()) {
            const quint64 qui64Overlap = std::min(oRun.qui64End(), pWidest->qui64End()) - oRun.qui64First;
            const qint64 qi64Distance = qint64(oRun.qui64Diagonal() - pWidest->qui64Diagonal());
            qhTwins[quint64(qi64Distance < 0 ? -qi64Distance : qi64Distance)] += qui64Overlap;
            qui64All_Twins += qui64Overlap;
        }
        if (!pWidest || oRun.qui64End() > pWidest->qui64End())
            pWidest = &oRun;
    }
    quint64 qui64Period = 0, qui64Most = 0;
    for (auto it = qhTwins.cbegin(); it != qhTwins.cend(); ++it)
        if (it.value() > qui64Most) {
            qui64Most = it.value();
            qui64Period = it.key();
        }
    if (qui64Period == 0 || qui64Period >= qui64Device_Bytes || 2 * qui64Most < qui64All_Twins ||
        100 * qui64Most < qui64Words)
        return 0;
    quint64 qui64Beyond = 0;
    for (const cRun &oRun : vecRuns)
        if (oRun.qui64Offset_End() > qui64Period)
            qui64Beyond += (oRun.qui64Offset_End() - std::max(oRun.qui64Offset, qui64Period)) / 8;
    return 2 * qui64Most >= qui64Beyond ? qui64Period : 0;
}

// The words a wrapping medium shows below the period as aliases of those beyond it.
quint64 qui64Aliases(const std::vector<cRun> &vecRuns, const quint64 qui64Period)
{
    quint64 qui64Result = 0;
    const cRun *pWidest = nullptr;
    for (const cRun &oRun : vecRuns) {
        const quint64 qui64Distance = pWidest ? oRun.qui64Diagonal() - pWidest->qui64Diagonal() : 0;
        if (pWidest && oRun.qui64First < pWidest->qui64End() &&
            (qui64Distance == qui64Period || 0 - qui64Distance == qui64Period))
            qui64Result += std::min(oRun.qui64End(), pWidest->qui64End()) - oRun.qui64First;
        if (!pWidest || oRun.qui64End() > pWidest->qui64End())
            pWidest = &oRun;
    }
    return qui64Result;
}

// Within one period of a wrapping medium, where it stops keeping anything: the end of the
// last fill word found below the period, when the rest of the period kept nothing of what
// was written to it or to its aliases (a "chain": a period with a hole in it).
quint64 qui64Kept_In_Period(const std::vector<cPiece> &vecPieces, const std::vector<cRun> &vecRuns,
                            const quint64 qui64Period)
{
    quint64 qui64Kept_End = 0;
    for (const cRun &oRun : vecRuns)
        if (oRun.qui64Offset < qui64Period)
            qui64Kept_End = std::max(qui64Kept_End, std::min(oRun.qui64Offset_End(), qui64Period));
    if (qui64Kept_End + qui64Period / 50 >= qui64Period)
        return qui64Period;
    for (const cPiece &oPiece : vecPieces)
        if (oPiece.bPlaced && bLost(oPiece) && oPiece.qui64Offset % qui64Period >= qui64Kept_End)
            return qui64Kept_End;
    return qui64Period;
}

// The placed pieces that were lost or kept, by where they should lie.
std::vector<cPiece> vecLost_Or_Kept_By_Offset(const std::vector<cPiece> &vecPieces)
{
    std::vector<cPiece> vecBy_Offset;
    for (const cPiece &oPiece : vecPieces)
        if (oPiece.bPlaced && (bLost(oPiece) || bKept(oPiece)))
            vecBy_Offset.push_back(oPiece);
    std::sort(vecBy_Offset.begin(), vecBy_Offset.end(),
              [](const cPiece &a, const cPiece &b) { return a.qui64Offset < b.qui64Offset; });
    return vecBy_Offset;
}

// Words found beyond qui64Limit that are not what a cache holds there (the indexes kept from
// piece i on) nor its stale copies; *pqui64Found_Beyond: all words found beyond.
quint64 qui64Unexplained_Beyond(const std::vector<cPiece> &vecBy_Offset, const size_t i,
                                const std::vector<cRun> &vecRuns, const quint64 qui64Words, const quint64 qui64Limit,
                                quint64 *pqui64Found_Beyond)
{
    quint64 qui64Kept_Low = ~quint64(0), qui64Kept_High = 0;
    for (size_t k = i; k < vecBy_Offset.size(); ++k)
        if (bKept(vecBy_Offset[k])) {
            qui64Kept_Low = std::min(qui64Kept_Low, vecBy_Offset[k].qui64First);
            qui64Kept_High = std::max(qui64Kept_High, vecBy_Offset[k].qui64First + vecBy_Offset[k].qui64Count);
        }
    quint64 qui64Unexplained = 0;
    *pqui64Found_Beyond = 0;
    for (const cRun &oRun : vecRuns) {
        if (oRun.qui64Offset_End() <= qui64Limit)
            continue;
        const quint64 qui64Skip = oRun.qui64Offset < qui64Limit ? (qui64Limit - oRun.qui64Offset) / 8 : 0;
        const quint64 qui64First = oRun.qui64First + qui64Skip, qui64End = oRun.qui64End();
        *pqui64Found_Beyond += qui64End - qui64First;
        // Words past the file's end are the fill's own too: chunks it wrote last and then cut
        // off, which a cache may well hold.
        const quint64 qui64Own_End = std::min(qui64End, qui64Words);
        const quint64 qui64Inside_First = std::max(qui64First, qui64Kept_Low);
        const quint64 qui64Inside_End = std::min(qui64Own_End, qui64Kept_High);
        qui64Unexplained += (qui64Own_End > qui64First ? qui64Own_End - qui64First : 0) -
                            (qui64Inside_End > qui64Inside_First ? qui64Inside_End - qui64Inside_First : 0);
    }
    return qui64Unexplained;
}

// The capacity of a medium that keeps nothing beyond some offset but what a small cache
// still holds: the first place of a lost word below which next to nothing was lost and
// beyond which at most a quarter as much was kept as was lost, or as the capacity. Fills
// *pMedium and returns true when there is one.
bool bCapacity_Limit(const std::vector<cPiece> &vecPieces, const std::vector<cRun> &vecRuns, const quint64 qui64Words,
                     cMedium *pMedium)
{
    const std::vector<cPiece> vecBy_Offset = vecLost_Or_Kept_By_Offset(vecPieces);
    // Bytes lost and kept from each piece on.
    std::vector<quint64> vecLost_After(vecBy_Offset.size() + 1, 0), vecKept_After(vecBy_Offset.size() + 1, 0);
    for (size_t i = vecBy_Offset.size(); i-- > 0;) {
        const quint64 qui64Bytes = 8 * vecBy_Offset[i].qui64Count;
        vecLost_After[i] = vecLost_After[i + 1] + (bLost(vecBy_Offset[i]) ? qui64Bytes : 0);
        vecKept_After[i] = vecKept_After[i + 1] + (bKept(vecBy_Offset[i]) ? qui64Bytes : 0);
    }
    quint64 qui64Lost_Before = 0, qui64Kept_Before = 0;
    for (size_t i = 0; i < vecBy_Offset.size(); ++i) {
        const quint64 qui64Limit = vecBy_Offset[i].qui64Offset;
        if (i > 0) {
            const quint64 qui64Bytes = 8 * vecBy_Offset[i - 1].qui64Count;
            (bLost(vecBy_Offset[i - 1]) ? qui64Lost_Before : qui64Kept_Before) += qui64Bytes;
        }
        if (!bLost(vecBy_Offset[i]) || qui64Limit == 0)
            continue;
        // Below the capacity the medium keeps what it is given: a medium that lost much there
        // too (one that keeps what was written last, wherever the file system put it) is another kind.
        if (10 * qui64Lost_Before > qui64Kept_Before)
            continue;
        // A few lost words are a fault, not a capacity: the loss must be a hundredth of the fill.
        if (100 * vecLost_After[i] < 8 * qui64Words)
            return false;
        // What is kept beyond is a cache's: small against the loss, and against the capacity.
        if (4 * vecKept_After[i] > vecLost_After[i] || 4 * vecKept_After[i] > qui64Limit)
            continue;
        // What was found beyond must be what the cache holds there, or its stale copies: words
        // of the indexes it kept. Anything else (the fill's words moved there, an old fill)
        // shows a medium that keeps data beyond the place.
        quint64 qui64Found_Beyond = 0;
        if (1000 * 8 * qui64Unexplained_Beyond(vecBy_Offset, i, vecRuns, qui64Words, qui64Limit, &qui64Found_Beyond) >
            vecLost_After[i] + vecKept_After[i])
            continue;
        pMedium->eFake = eVerdict_Capacity_Limited;
        pMedium->qui64Usable_Bytes = qui64Limit;
        pMedium->qui64Cache_Bytes = vecKept_After[i];
        const quint64 qui64Kept_Words = vecKept_After[i] / 8;
        pMedium->qui64Medium_Copies = qui64Found_Beyond > qui64Kept_Words ? qui64Found_Beyond - qui64Kept_Words : 0;
        return true;
    }
    return false;
}

// A medium that keeps only the last bytes written, wherever they lie (its controller writes
// a log and drops the oldest): the fill's first indexes are lost and its last ones kept,
// with one split between them. Returns the bytes it kept, 0 when it is no such medium.
quint64 qui64Recent_Only(const std::vector<cPiece> &vecPieces, const quint64 qui64Words)
{
    quint64 qui64Lost_Total = 0, qui64Kept_Total = 0;
    for (const cPiece &oPiece : vecPieces) {
        if (bLost(oPiece) && oPiece.bPlaced)
            qui64Lost_Total += oPiece.qui64Count;
        else if (bKept(oPiece))
            qui64Kept_Total += oPiece.qui64Count;
    }
    quint64 qui64Lost_Before = 0, qui64Kept_Before = 0;
    for (const cPiece &oPiece : vecPieces) {
        const quint64 qui64Before = qui64Lost_Before + qui64Kept_Before;
        const quint64 qui64Kept_After = qui64Kept_Total - qui64Kept_Before;
        const quint64 qui64Lost_After = qui64Lost_Total - qui64Lost_Before;
        if (10 * qui64Before >= qui64Words && 5 * qui64Lost_Before >= 4 * qui64Before &&
            50 * (qui64Kept_After + qui64Lost_After) >= qui64Words && qui64Kept_After >= 9 * qui64Lost_After)
            return 8 * qui64Kept_Total;
        if (bLost(oPiece) && oPiece.bPlaced)
            qui64Lost_Before += oPiece.qui64Count;
        else if (bKept(oPiece))
            qui64Kept_Before += oPiece.qui64Count;
    }
    return 0;
}

} // namespace

cMedium oModel_Medium(const std::vector<cPiece> &vecPieces, const std::vector<cRun> &vecRuns,
                      const quint64 qui64Device_Bytes, const quint64 qui64Words, const quint64 qui64Refused_After,
                      const quint64 qui64Distinct)
{
    // What a medium that refused writes took: every word of the fill it holds, also those of
    // chunks written whole after the first refused one (the file was cut before them).
    const quint64 qui64Taken = std::max(qui64Refused_After, 8 * qui64Distinct);
    cMedium oMedium;
    bool bAny_Lost = false;
    for (const cPiece &oPiece : vecPieces)
        bAny_Lost = bAny_Lost || (bLost(oPiece) && oPiece.bPlaced);
    if (bAny_Lost) {
        if ((oMedium.qui64Period = qui64Wrap_Period(vecRuns, qui64Device_Bytes, qui64Words)) > 0) {
            oMedium.eFake = eVerdict_Wraparound;
            oMedium.qui64Usable_Bytes = qui64Kept_In_Period(vecPieces, vecRuns, oMedium.qui64Period);
            oMedium.qui64Medium_Copies = qui64Aliases(vecRuns, oMedium.qui64Period);
            return oMedium;
        }
        if (bCapacity_Limit(vecPieces, vecRuns, qui64Words, &oMedium)) {
            // Writes that were refused (a file system that writes later, FUSE, only says so at
            // the end) left nothing beyond: that is what the medium did.
            if (qui64Refused_After > 0) {
                oMedium.eFake = eVerdict_Write_Failed;
                oMedium.qui64Usable_Bytes = std::min(oMedium.qui64Usable_Bytes, qui64Taken);
                oMedium.qui64Cache_Bytes = oMedium.qui64Medium_Copies = 0;
            }
            return oMedium;
        }
        if ((oMedium.qui64Usable_Bytes = qui64Recent_Only(vecPieces, qui64Words)) > 0) {
            oMedium.eFake = eVerdict_Keeps_Recent;
            return oMedium;
        }
    }
    if (qui64Refused_After > 0) {
        oMedium.eFake = eVerdict_Write_Failed;
        oMedium.qui64Usable_Bytes = qui64Taken;
    }
    return oMedium;
}
