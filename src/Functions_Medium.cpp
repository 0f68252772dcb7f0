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

// Words of one index range seen at two places: how far apart, and where the lower copy lies.
class cTwins
{
public:
    quint64 qui64Distance;
    quint64 qui64Low_Offset;
    quint64 qui64Count;
};

// Each run against the widest run before it that overlaps its indexes.
std::vector<cTwins> vecTwins_Of(const std::vector<cRun> &vecRuns)
{
    std::vector<cTwins> vecTwins;
    const cRun *pWidest = nullptr;
    for (const cRun &oRun : vecRuns) {
        if (pWidest && oRun.qui64First < pWidest->qui64End() && oRun.qui64Diagonal() != pWidest->qui64Diagonal()) {
            const quint64 qui64Overlap = std::min(oRun.qui64End(), pWidest->qui64End()) - oRun.qui64First;
            const qint64 qi64Distance = qint64(oRun.qui64Diagonal() - pWidest->qui64Diagonal());
            const quint64 qui64Widest_At = pWidest->qui64Offset + 8 * (oRun.qui64First - pWidest->qui64First);
            vecTwins.push_back({quint64(qi64Distance < 0 ? -qi64Distance : qi64Distance),
                                std::min(oRun.qui64Offset, qui64Widest_At), qui64Overlap});
        }
        if (!pWidest || oRun.qui64End() > pWidest->qui64End())
            pWidest = &oRun;
    }
    return vecTwins;
}

// The period of a medium that wraps its addresses: most words found twice lie a multiple of
// it apart (a fill of several laps leaves each word of the last one at every multiple), the
// first period holds aliases of words written beyond it (a loose cache's stale copies all lie
// beyond its capacity), and most words found beyond it have their twin there. 0 when there is none.
quint64 qui64Wrap_Period(const std::vector<cRun> &vecRuns, const quint64 qui64Device_Bytes, const quint64 qui64Words)
{
    const std::vector<cTwins> vecTwins = vecTwins_Of(vecRuns);
    QHash<quint64, quint64> qhTwins; // distance -> words seen at both places
    quint64 qui64All_Twins = 0, qui64Commonest = 0;
    for (const cTwins &oTwins : vecTwins) {
        qui64Commonest = std::max(qui64Commonest, qhTwins[oTwins.qui64Distance] += oTwins.qui64Count);
        qui64All_Twins += oTwins.qui64Count;
    }
    QList<quint64> qlDistances = qhTwins.keys();
    std::sort(qlDistances.begin(), qlDistances.end());
    for (const quint64 qui64Period : qlDistances) {
        // A distance of its own weight, not a small one that merely divides the others.
        if (qui64Period == 0 || qui64Period >= qui64Device_Bytes || 100 * qhTwins.value(qui64Period) < qui64Words ||
            2 * qhTwins.value(qui64Period) < qui64Commonest)
            continue;
        quint64 qui64Multiples = 0, qui64Aliases_Below = 0;
        for (const cTwins &oTwins : vecTwins)
            if (oTwins.qui64Distance % qui64Period == 0) {
                qui64Multiples += oTwins.qui64Count;
                if (oTwins.qui64Low_Offset < qui64Period)
                    qui64Aliases_Below += oTwins.qui64Count;
            }
        if (2 * qui64Multiples < qui64All_Twins || 100 * qui64Aliases_Below < qui64Words)
            continue;
        quint64 qui64Beyond = 0;
        for (const cRun &oRun : vecRuns)
            if (oRun.qui64Offset_End() > qui64Period)
                qui64Beyond += (oRun.qui64Offset_End() - std::max(oRun.qui64Offset, qui64Period)) / 8;
        return 2 * qui64Multiples >= qui64Beyond ? qui64Period : 0;
    }
    return 0;
}

// The words a wrapping medium shows a whole number of periods away from their place: aliases.
quint64 qui64Aliases(const std::vector<cRun> &vecRuns, const quint64 qui64Period)
{
    quint64 qui64Result = 0;
    const cRun *pWidest = nullptr;
    for (const cRun &oRun : vecRuns) {
        const quint64 qui64Distance = pWidest ? oRun.qui64Diagonal() - pWidest->qui64Diagonal() : 0;
        if (pWidest && oRun.qui64First < pWidest->qui64End() && qui64Distance != 0 &&
            (qui64Distance % qui64Period == 0 || (0 - qui64Distance) % qui64Period == 0))
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

// The fill's words found past its file's end (chunks written last and then cut off), each
// once; only those found at or beyond qui64From (device bytes).
quint64 qui64Past_End(const std::vector<cRun> &vecBy_Index, const quint64 qui64Words, const quint64 qui64From)
{
    quint64 qui64Result = 0, qui64Counted_To = qui64Words;
    for (const cRun &oRun : vecBy_Index)
        if (oRun.qui64Offset >= qui64From && oRun.qui64End() > qui64Counted_To) {
            qui64Result += oRun.qui64End() - std::max(oRun.qui64First, qui64Counted_To);
            qui64Counted_To = oRun.qui64End();
        }
    return qui64Result;
}

// The capacity between what was proven kept and the first place proven lost: the file
// system's own blocks between the fill's stretches are no gap, a stretch it left unwritten
// (a second allocation group, say) is one, and nothing in it was measured.
void vSet_Capacity(cMedium *pMedium, const quint64 qui64Kept_End, const quint64 qui64Lost_From)
{
    const bool bGap = qui64Lost_From - qui64Kept_End > qui64Lost_From / 100;
    pMedium->qui64Usable_Bytes = bGap ? qui64Kept_End : qui64Lost_From;
    pMedium->qui64Capacity_Min = pMedium->qui64Usable_Bytes;
    pMedium->qui64Capacity_Max = qui64Lost_From;
}

// The capacity of a medium that keeps nothing beyond some offset but what a small cache
// still holds: the first place of a lost word below which next to nothing was lost and
// beyond which less was kept than was lost, and at most a quarter of the capacity. Fills
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
    quint64 qui64Lost_Before = 0, qui64Kept_Before = 0, qui64Kept_End = 0;
    for (size_t i = 0; i < vecBy_Offset.size(); ++i) {
        const quint64 qui64Limit = vecBy_Offset[i].qui64Offset;
        if (i > 0) {
            const quint64 qui64Bytes = 8 * vecBy_Offset[i - 1].qui64Count;
            (bLost(vecBy_Offset[i - 1]) ? qui64Lost_Before : qui64Kept_Before) += qui64Bytes;
            if (bKept(vecBy_Offset[i - 1]))
                qui64Kept_End = std::max(qui64Kept_End, vecBy_Offset[i - 1].qui64Offset_End());
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
        // What is kept beyond is a cache's: less than the loss (a fill stopped early, soon
        // after the checks saw the loss, lost not much more than the cache holds), and small
        // against the capacity.
        if (vecKept_After[i] >= vecLost_After[i] || 4 * vecKept_After[i] > qui64Limit)
            continue;
        // What was found beyond must be what the cache holds there, or its stale copies: words
        // of the indexes it kept. Anything else (the fill's words moved there, an old fill)
        // shows a medium that keeps data beyond the place.
        quint64 qui64Found_Beyond = 0;
        if (1000 * 8 * qui64Unexplained_Beyond(vecBy_Offset, i, vecRuns, qui64Words, qui64Limit, &qui64Found_Beyond) >
            vecLost_After[i] + vecKept_After[i])
            continue;
        pMedium->eFake = eVerdict_Capacity_Limited;
        vSet_Capacity(pMedium, std::min(qui64Kept_End, qui64Limit), qui64Limit);
        // The cache holds the chunks cut off the file's end too.
        pMedium->qui64Cache_Bytes = vecKept_After[i] + 8 * qui64Past_End(vecRuns, qui64Words, qui64Limit);
        // A loose cache's stale copies fill the unmeasured stretch too: they are its, not remnants.
        if (pMedium->qui64Capacity_Min < qui64Limit)
            qui64Unexplained_Beyond(vecBy_Offset, i, vecRuns, qui64Words, pMedium->qui64Capacity_Min,
                                    &qui64Found_Beyond);
        const quint64 qui64Kept_Words = pMedium->qui64Cache_Bytes / 8;
        pMedium->qui64Medium_Copies = qui64Found_Beyond > qui64Kept_Words ? qui64Found_Beyond - qui64Kept_Words : 0;
        return true;
    }
    return false;
}

// A medium that keeps only the last bytes written, wherever they lie (its controller writes
// a log and drops the oldest): the fill's first indexes are lost and its last ones kept,
// with one split between them. Returns the bytes it kept, 0 when it is no such medium: the
// fill's words it kept, and those of chunks written last and then cut off the file's end,
// which took their part of what it keeps.
quint64 qui64Recent_Only(const std::vector<cPiece> &vecPieces, const std::vector<cRun> &vecRuns,
                         const quint64 qui64Words)
{
    // The lost start is a tenth of the fill at least, or 8 MiB: a fill that stops soon after
    // the medium starts dropping its oldest writes has lost only a little of its start.
    const quint64 qui64Recent_Least_Words = (8 << 20) / 8;
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
        if ((10 * qui64Before >= qui64Words || qui64Before >= qui64Recent_Least_Words) &&
            5 * qui64Lost_Before >= 4 * qui64Before &&
            50 * (qui64Kept_After + qui64Lost_After) >= qui64Words && qui64Kept_After >= 9 * qui64Lost_After)
            return 8 * (qui64Kept_Total + qui64Past_End(vecRuns, qui64Words, 0));
        if (bLost(oPiece) && oPiece.bPlaced)
            qui64Lost_Before += oPiece.qui64Count;
        else if (bKept(oPiece))
            qui64Kept_Before += oPiece.qui64Count;
    }
    return 0;
}

cMedium oKind_Of_Medium(const std::vector<cPiece> &vecPieces, const std::vector<cRun> &vecRuns,
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
                // A FUSE driver writes its stretches out of order, so some below the first
                // lost place may be lost too: every word found was taken all the same.
                oMedium.qui64Usable_Bytes =
                    std::max(std::min(oMedium.qui64Usable_Bytes, qui64Taken), 8 * qui64Distinct);
                oMedium.qui64Cache_Bytes = oMedium.qui64Medium_Copies = oMedium.qui64Capacity_Max = 0;
            }
            return oMedium;
        }
        if ((oMedium.qui64Usable_Bytes = qui64Recent_Only(vecPieces, vecRuns, qui64Words)) > 0) {
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

} // namespace

cMedium oModel_Medium(const std::vector<cPiece> &vecPieces, const std::vector<cRun> &vecRuns,
                      const quint64 qui64Device_Bytes, const quint64 qui64Words, const quint64 qui64Refused_After,
                      const quint64 qui64Distinct)
{
    cMedium oMedium =
        oKind_Of_Medium(vecPieces, vecRuns, qui64Device_Bytes, qui64Words, qui64Refused_After, qui64Distinct);
    if (oMedium.qui64Capacity_Max == 0) // measured where it ends: no range
        oMedium.qui64Capacity_Min = oMedium.qui64Capacity_Max = oMedium.qui64Usable_Bytes;
    return oMedium;
}
