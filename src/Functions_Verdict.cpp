#include "Functions_Verdict.h"

#include "Functions_Medium.h"

#include <algorithm>

namespace {

// Calls vEach(first, end, inside) for the pieces of [qui64First, qui64End) inside and
// outside the ranges.
template <typename tFunction>
void vSplit(const tRanges &qvRanges, quint64 qui64First, const quint64 qui64End, tFunction vEach)
{
    auto it =
        std::upper_bound(qvRanges.begin(), qvRanges.end(), qui64First,
                         [](quint64 qui64Value, const QPair<quint64, quint64> &qp) { return qui64Value < qp.second; });
    while (qui64First < qui64End) {
        if (it == qvRanges.end() || it->first >= qui64End) {
            vEach(qui64First, qui64End, false);
            return;
        }
        if (it->first > qui64First) {
            vEach(qui64First, it->first, false);
            qui64First = it->first;
        }
        const quint64 qui64Inside_End = std::min(qui64End, it->second);
        vEach(qui64First, qui64Inside_End, true);
        qui64First = qui64Inside_End;
        ++it;
    }
}

class cJudge
{
public:
    cJudge(cRead_Result &oRead, const cFill_Layout &oFill) : oResult(oRead), oLayout(oFill), oVerdict(oRead.oVerdict) {}
    void vRun();

private:
    void vStart();
    void vPieces();
    void vConclude();
    void vPlaced_Segment(const cRun &oSegment);
    void vNot_Found(const quint64 qui64First, const quint64 qui64End, const cRun &oSegment);
    void vAdd_Split(const cPiece &oPiece);
    void vAdd(const cPiece &oPiece);
    void vAdd_Regions(QVector<quint64> &qvRegions, quint64 qui64Offset, const quint64 qui64Words);
    void vAdd_Strip(QVector<quint64> &qvStrip, quint64 qui64First, const quint64 qui64Count);
    void vNote_Missing(const cPiece &oPiece);
    void vRemnant_Ranges();
    eVerdict eDecide(const eVerdict eFake) const;

    cRead_Result &oResult;
    const cFill_Layout &oLayout;
    cVerdict &oVerdict;
    quint64 qui64Words = 0;
    tRanges qvFound;
    std::vector<cRun> vecBy_Diagonal;
    std::vector<cPiece> vecPieces;     // every stretch of the fill, in index order
    quint64 qui64Unplaced_Missing = 0; // missing where the file holds no data
};

void cJudge::vAdd_Regions(QVector<quint64> &qvRegions, quint64 qui64Offset, const quint64 qui64Words_Here)
{
    const quint64 qui64Region_Bytes = oResult.qui64Region_Bytes;
    if (qui64Region_Bytes == 0)
        return;
    const quint64 qui64End = qui64Offset + 8 * qui64Words_Here;
    while (qui64Offset < qui64End) {
        const quint64 qui64Region = qui64Offset / qui64Region_Bytes;
        if (qui64Region >= quint64(qvRegions.size()))
            return; // beyond the device: the medium cannot hold it anyway
        const quint64 qui64Piece_End = std::min(qui64End, (qui64Region + 1) * qui64Region_Bytes);
        qvRegions[int(qui64Region)] += (qui64Piece_End - qui64Offset) / 8;
        qui64Offset = qui64Piece_End;
    }
}

void cJudge::vAdd_Strip(QVector<quint64> &qvStrip, quint64 qui64First, const quint64 qui64Count)
{
    const quint64 qui64End = qui64First + qui64Count;
    while (qui64First < qui64End) {
        const quint64 qui64Bucket = qui64First / oVerdict.qui64Strip_Bucket;
        const quint64 qui64Piece_End = std::min(qui64End, (qui64Bucket + 1) * oVerdict.qui64Strip_Bucket);
        qvStrip[int(qui64Bucket)] += qui64Piece_End - qui64First;
        qui64First = qui64Piece_End;
    }
}

void cJudge::vNote_Missing(const cPiece &oPiece)
{
    QVector<cMissing_Range> &qvMissing = oVerdict.qvMissing;
    if (!qvMissing.isEmpty()) {
        cMissing_Range &oLast = qvMissing.last();
        const bool bGoes_On = oLast.qui64First + oLast.qui64Count == oPiece.qui64First &&
                              oLast.bPlaced == oPiece.bPlaced &&
                              (!oPiece.bPlaced || oLast.qui64Offset + 8 * oLast.qui64Count == oPiece.qui64Offset);
        if (bGoes_On) {
            oLast.qui64Count += oPiece.qui64Count;
            return;
        }
    }
    if (qvMissing.size() < cVerdict::iMax_Missing)
        qvMissing.append({oPiece.qui64First, oPiece.qui64Count, oPiece.bPlaced, oPiece.qui64Offset});
}

void cJudge::vAdd(const cPiece &oPiece)
{
    if (oPiece.qui64Count == 0)
        return;
    QVector<quint64> *pqvRegion = nullptr, *pqvStrip = nullptr;
    switch (oPiece.eValue) {
    case eFate_In_Place:
        oVerdict.qui64In_Place += oPiece.qui64Count;
        oVerdict.qui64Found += oPiece.qui64Count;
        pqvRegion = &oVerdict.qvRegion_In_Place;
        pqvStrip = &oVerdict.qvStrip_Found;
        break;
    case eFate_Displaced:
        oVerdict.qui64Displaced += oPiece.qui64Count;
        oVerdict.qui64Found += oPiece.qui64Count;
        pqvRegion = &oVerdict.qvRegion_Displaced;
        pqvStrip = &oVerdict.qvStrip_Displaced;
        break;
    case eFate_Found:
        oVerdict.qui64Found += oPiece.qui64Count;
        pqvStrip = &oVerdict.qvStrip_Found;
        break;
    case eFate_Missing:
        oVerdict.qui64Missing += oPiece.qui64Count;
        pqvRegion = &oVerdict.qvRegion_Missing;
        pqvStrip = &oVerdict.qvStrip_Missing;
        if (!oPiece.bPlaced && oLayout.bPlaced)
            qui64Unplaced_Missing += oPiece.qui64Count;
        vNote_Missing(oPiece);
        break;
    case eFate_Not_Read:
        oVerdict.qui64Not_Read += oPiece.qui64Count;
        pqvStrip = &oVerdict.qvStrip_Not_Read;
        break;
    case eFate_Changed:
        oVerdict.qui64Changed += oPiece.qui64Count;
        pqvRegion = &oVerdict.qvRegion_Changed;
        pqvStrip = &oVerdict.qvStrip_Missing;
        break;
    }
    if (pqvRegion && oPiece.bPlaced)
        vAdd_Regions(*pqvRegion, oPiece.qui64Offset, oPiece.qui64Count);
    vAdd_Strip(*pqvStrip, oPiece.qui64First, oPiece.qui64Count);
    if ((oPiece.eValue == eFate_Missing || oPiece.eValue == eFate_Displaced) && oPiece.bPlaced &&
        oPiece.qui64Count <= 4 && oVerdict.vecSuspects.size() < 65536)
        oVerdict.vecSuspects.push_back({oPiece.qui64First, oPiece.qui64Count, oPiece.qui64Offset});
    vecPieces.push_back(oPiece);
}

// Words not found at their place, but for those a second look found there changed.
void cJudge::vAdd_Split(const cPiece &oPiece)
{
    const QVector<quint64> &qvChanged = oLayout.qvChanged;
    auto it = std::lower_bound(qvChanged.begin(), qvChanged.end(), oPiece.qui64First);
    quint64 qui64At = oPiece.qui64First;
    const quint64 qui64End = oPiece.qui64First + oPiece.qui64Count;
    auto qui64Offset_Of = [&](quint64 qui64Index) { return oPiece.qui64Offset + 8 * (qui64Index - oPiece.qui64First); };
    for (; oPiece.bPlaced && it != qvChanged.end() && *it < qui64End; ++it) {
        vAdd({qui64At, *it - qui64At, true, qui64Offset_Of(qui64At), oPiece.eValue});
        vAdd({*it, 1, true, qui64Offset_Of(*it), eFate_Changed});
        qui64At = *it + 1;
    }
    vAdd({qui64At, qui64End - qui64At, oPiece.bPlaced, oPiece.bPlaced ? qui64Offset_Of(qui64At) : 0, oPiece.eValue});
}

// Words of a placed stretch found nowhere: missing, or not read where they should lie.
void cJudge::vNot_Found(const quint64 qui64First, const quint64 qui64End, const cRun &oSegment)
{
    auto qui64Offset_Of = [&](quint64 qui64Index) {
        return oSegment.qui64Offset + 8 * (qui64Index - oSegment.qui64First);
    };
    vSplit(oResult.qvNot_Read, qui64Offset_Of(qui64First), qui64Offset_Of(qui64End),
           [&](quint64 qui64From, quint64 qui64To, bool bNot_Read) {
               const quint64 qui64Index = oSegment.qui64First + (qui64From - oSegment.qui64Offset + 7) / 8;
               const quint64 qui64Index_End = oSegment.qui64First + (qui64To - oSegment.qui64Offset + 7) / 8;
               const cPiece oPiece{qui64Index, qui64Index_End - qui64Index, true, qui64Offset_Of(qui64Index),
                                   bNot_Read ? eFate_Not_Read : eFate_Missing};
               if (bNot_Read)
                   vAdd(oPiece);
               else
                   vAdd_Split(oPiece);
           });
}

void cJudge::vPlaced_Segment(const cRun &oSegment)
{
    // Runs on the segment's diagonal hold its words in place; they never overlap each other.
    const quint64 qui64Diagonal = oSegment.qui64Diagonal();
    auto it =
        std::lower_bound(vecBy_Diagonal.begin(), vecBy_Diagonal.end(), oSegment, [](const cRun &a, const cRun &b) {
            return a.qui64Diagonal() != b.qui64Diagonal() ? a.qui64Diagonal() < b.qui64Diagonal()
                                                          : a.qui64End() <= b.qui64First;
        });
    quint64 qui64At = oSegment.qui64First;
    auto vGap = [&](quint64 qui64To) {
        vSplit(qvFound, qui64At, qui64To, [&](quint64 qui64From, quint64 qui64Until, bool bFound) {
            if (bFound)
                vAdd_Split({qui64From, qui64Until - qui64From, true,
                            oSegment.qui64Offset + 8 * (qui64From - oSegment.qui64First), eFate_Displaced});
            else
                vNot_Found(qui64From, qui64Until, oSegment);
        });
    };
    for (; it != vecBy_Diagonal.end() && it->qui64Diagonal() == qui64Diagonal && it->qui64First < oSegment.qui64End();
         ++it) {
        const quint64 qui64From = std::max(it->qui64First, oSegment.qui64First);
        const quint64 qui64To = std::min(it->qui64End(), oSegment.qui64End());
        if (qui64From >= qui64To)
            continue;
        vGap(qui64From);
        vAdd({qui64From, qui64To - qui64From, true, oSegment.qui64Offset + 8 * (qui64From - oSegment.qui64First),
              eFate_In_Place});
        qui64At = qui64To;
    }
    vGap(oSegment.qui64End());
}

// Without a fill file, where the words of an earlier fill lie: runs close together on the
// device make one area.
void cJudge::vRemnant_Ranges()
{
    std::vector<cRun> vecBy_Offset = oResult.vecRuns;
    std::sort(vecBy_Offset.begin(), vecBy_Offset.end(),
              [](const cRun &a, const cRun &b) { return a.qui64Offset < b.qui64Offset; });
    const quint64 qui64Gap = 64 << 10; // a file system's metadata between two stretches of one fill
    tRanges qvAreas;
    for (const cRun &oRun : vecBy_Offset) {
        if (oRun.qui64Count < cVerdict::qui64Min_Remnant_Run)
            continue;
        oVerdict.qui64Remnant_Words += oRun.qui64Count;
        if (!qvAreas.isEmpty() && oRun.qui64Offset <= qvAreas.last().second + qui64Gap)
            qvAreas.last().second = std::max(qvAreas.last().second, oRun.qui64Offset_End());
        else
            qvAreas.append({oRun.qui64Offset, oRun.qui64Offset_End()});
    }
    oVerdict.qui64Remnant_Areas = quint64(qvAreas.size());
    oVerdict.qvRemnant_Ranges = qvAreas.mid(0, cVerdict::iMax_Ranges);
}

// eFake: what the medium's pattern of losses says, when it says anything.
eVerdict cJudge::eDecide(const eVerdict eFake) const
{
    const bool bRead_Whole = oResult.eStatus == eRead_Done && !oResult.bAbandoned;
    if (oLayout.qvParts.isEmpty() || qui64Words == 0) {
        if (oVerdict.qui64Remnant_Words > 0)
            return eVerdict_Remnants; // whatever was not read, these are left
        if (!bRead_Whole)
            return eVerdict_Incomplete;
        return oResult.qui64Bytes_Bad > 0 ? eVerdict_Damaged : eVerdict_Clean;
    }
    if (!bRead_Whole)
        return eVerdict_Incomplete;
    if (oVerdict.oLayout.eOn == eOn_Device_No)
        return eVerdict_Not_On_Device;
    // Not a word of the file read back, and room enough for all of it unreadable: nothing
    // shows what the medium kept, so neither a fake's limit nor "what was written is intact".
    if (oVerdict.qui64Found + oVerdict.qui64Changed == 0 && oResult.qui64Bytes_Bad >= 8 * qui64Words)
        return eVerdict_Damaged;
    // Next to nothing found of what the file system wrote: the words reach the medium in
    // another form (a compressing file system still stores a small tail as it is). A file
    // without data (sparse) wrote nothing, so its words are simply missing.
    if (1000 * (oVerdict.qui64Found + oVerdict.qui64Changed) <= qui64Words &&
        (!oLayout.bPlaced || oLayout.bInferred || qui64Unplaced_Missing < oVerdict.qui64Missing))
        return eVerdict_No_Plaintext;
    if (eFake != eVerdict_None)
        return eFake;
    if (oResult.qui64Bytes_Bad > 0)
        return eVerdict_Damaged;
    if (oVerdict.qui64Missing > 0 || oVerdict.qui64Displaced > 0)
        return eVerdict_Data_Missing;
    return oVerdict.qui64Changed > 0 ? eVerdict_Data_Changed : eVerdict_Intact;
}

void cJudge::vStart()
{
    oVerdict = cVerdict();
    oVerdict.oLayout = oLayout;
    oVerdict.oLayout.vecExpected.clear(); // the verdict keeps what it says, not the extents
    qui64Words = std::min(oLayout.qui64Words(), oResult.qui64Data_Count);
    oVerdict.qui64Words = qui64Words;
    const int iRegions = oResult.qvRegion_Hits.size();
    for (QVector<quint64> *pqv : {&oVerdict.qvRegion_In_Place, &oVerdict.qvRegion_Displaced,
                                  &oVerdict.qvRegion_Missing, &oVerdict.qvRegion_Changed})
        pqv->fill(0, iRegions);
    const quint64 qui64Buckets = std::min<quint64>(1024, qui64Words);
    oVerdict.qui64Strip_Bucket = qui64Buckets == 0 ? 0 : (qui64Words + qui64Buckets - 1) / qui64Buckets;
    const int iBuckets =
        qui64Buckets == 0 ? 0 : int((qui64Words + oVerdict.qui64Strip_Bucket - 1) / oVerdict.qui64Strip_Bucket);
    for (QVector<quint64> *pqv :
         {&oVerdict.qvStrip_Found, &oVerdict.qvStrip_Displaced, &oVerdict.qvStrip_Missing, &oVerdict.qvStrip_Not_Read})
        pqv->fill(0, iBuckets);
}

void cJudge::vPieces()
{
    qvFound = qvFound_Indexes(oResult.vecRuns);
    if (!oLayout.bPlaced) {
        vSplit(qvFound, 0, qui64Words, [&](quint64 qui64From, quint64 qui64To, bool bFound) {
            vAdd({qui64From, qui64To - qui64From, false, 0, bFound ? eFate_Found : eFate_Missing});
        });
        return;
    }
    vecBy_Diagonal = oResult.vecRuns;
    std::sort(vecBy_Diagonal.begin(), vecBy_Diagonal.end(), [](const cRun &a, const cRun &b) {
        return a.qui64Diagonal() != b.qui64Diagonal() ? a.qui64Diagonal() < b.qui64Diagonal()
                                                      : a.qui64First < b.qui64First;
    });
    // Indexes the file holds no data for (holes) are missing wherever else they turn up.
    quint64 qui64At = 0;
    for (const cRun &oSegment : oLayout.vecExpected) {
        if (oSegment.qui64First >= qui64Words)
            break;
        cRun oClipped = oSegment;
        oClipped.qui64Count = std::min(oSegment.qui64End(), qui64Words) - oSegment.qui64First;
        if (oClipped.qui64First > qui64At)
            vAdd({qui64At, oClipped.qui64First - qui64At, false, 0, eFate_Missing});
        vPlaced_Segment(oClipped);
        qui64At = std::max(qui64At, oClipped.qui64End());
    }
    if (qui64Words > qui64At)
        vAdd({qui64At, qui64Words - qui64At, false, 0, eFate_Missing});
    std::vector<cRun>().swap(vecBy_Diagonal);
}

void cJudge::vConclude()
{
    // Words of the file found on the device show that the volume lies on it.
    if (oVerdict.oLayout.eOn != eOn_Device_Yes && oVerdict.qui64Found > 0) // even over a "no" the layers gave
        oVerdict.oLayout.eOn = eOn_Device_Yes;
    const cMedium oMedium =
        oModel_Medium(vecPieces, oResult.vecRuns, oResult.qui64Bytes_Count, qui64Words, oLayout.qui64Refused_After,
                      oResult.qui64Distinct);
    std::vector<cPiece>().swap(vecPieces);
    // Copies a cache returned elsewhere are the cache's, a wrap's aliases are the wrap's, and a
    // changed word that reads as another fill word is the change: none is a remnant.
    const quint64 qui64Explained = oVerdict.qui64Found + oLayout.qui64Changed_Hits + oMedium.qui64Medium_Copies;
    oVerdict.qui64Remnants = oResult.qui64Hits > qui64Explained ? oResult.qui64Hits - qui64Explained : 0;
    oVerdict.qvRegion_Stray = oResult.qvRegion_Hits;
    for (int r = 0; r < oVerdict.qvRegion_Stray.size(); ++r)
        oVerdict.qvRegion_Stray[r] -= std::min(oVerdict.qvRegion_Stray[r], oVerdict.qvRegion_In_Place[r]);
    if (oLayout.qvParts.isEmpty() || qui64Words == 0)
        vRemnant_Ranges();
    oVerdict.eValue = eDecide(oMedium.eFake);
    if (oVerdict.eValue == oMedium.eFake) {
        oVerdict.qui64Usable_Bytes = oMedium.qui64Usable_Bytes;
        oVerdict.qui64Wrap_Period = oMedium.qui64Period;
        oVerdict.qui64Cache_Bytes = oMedium.qui64Cache_Bytes;
        oVerdict.qui64Capacity_Min = oMedium.qui64Capacity_Min;
        oVerdict.qui64Capacity_Max = oMedium.qui64Capacity_Max;
        oVerdict.qui64Medium_Copies = oMedium.qui64Medium_Copies;
    }
}

// Every word of the fill gets its fate, then the medium is judged from the fates.
void cJudge::vRun()
{
    vStart();
    vPieces();
    vConclude();
}

} // namespace

tRanges qvFound_Indexes(const std::vector<cRun> &vecBy_Index)
{
    tRanges qvResult;
    for (const cRun &oRun : vecBy_Index) {
        if (!qvResult.isEmpty() && qvResult.last().second >= oRun.qui64First)
            qvResult.last().second = std::max(qvResult.last().second, oRun.qui64End());
        else
            qvResult.append({oRun.qui64First, oRun.qui64End()});
    }
    return qvResult;
}

void vJudge(cRead_Result &oResult, const cFill_Layout &oLayout)
{
    cJudge(oResult, oLayout).vRun();
}
