#include "Functions_Verdict.h"

#include "Functions_Reader.h"

#include <QHash>

#include <algorithm>

namespace {

// The fate of one stretch of the fill.
enum eFate { eFate_In_Place, eFate_Displaced, eFate_Found, eFate_Missing, eFate_Not_Read };

class cPiece
{
public:
    quint64 qui64First;
    quint64 qui64Count;
    bool bPlaced;
    quint64 qui64Offset;
    eFate eValue;
};

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
    void vPlaced_Segment(const cRun &oSegment);
    void vNot_Found(const quint64 qui64First, const quint64 qui64End, const cRun &oSegment);
    void vAdd(const cPiece &oPiece);
    void vAdd_Regions(QVector<quint64> &qvRegions, quint64 qui64Offset, const quint64 qui64Words);
    void vAdd_Strip(QVector<quint64> &qvStrip, quint64 qui64First, const quint64 qui64Count);
    void vNote_Missing(const cPiece &oPiece);
    quint64 qui64Wrap_Period() const;
    quint64 qui64Capacity_Limit() const;
    eVerdict eDecide(const eVerdict eFake) const;

    cRead_Result &oResult;
    const cFill_Layout &oLayout;
    cVerdict &oVerdict;
    quint64 qui64Words = 0;
    tRanges qvFound;
    std::vector<cRun> vecBy_Diagonal;
    std::vector<cPiece> vecPlaced;     // placed pieces, for the capacity check
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
    }
    if (pqvRegion && oPiece.bPlaced)
        vAdd_Regions(*pqvRegion, oPiece.qui64Offset, oPiece.qui64Count);
    vAdd_Strip(*pqvStrip, oPiece.qui64First, oPiece.qui64Count);
    if (oPiece.bPlaced)
        vecPlaced.push_back(oPiece);
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
               vAdd({qui64Index, qui64Index_End - qui64Index, true, qui64Offset_Of(qui64Index),
                     bNot_Read ? eFate_Not_Read : eFate_Missing});
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
                vAdd({qui64From, qui64Until - qui64From, true,
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

// The period of a medium that wraps its addresses: most words found twice lie that far
// apart, and most words found beyond it have their twin there. 0 when there is none.
quint64 cJudge::qui64Wrap_Period() const
{
    QHash<quint64, quint64> qhTwins; // distance -> words seen at both places
    quint64 qui64All_Twins = 0;
    const cRun *pWidest = nullptr;
    for (const cRun &oRun : oResult.vecRuns) {
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
    if (qui64Period == 0 || qui64Period >= oResult.qui64Bytes_Count || 2 * qui64Most < qui64All_Twins ||
        100 * qui64Most < qui64Words)
        return 0;
    quint64 qui64Beyond = 0;
    for (const cRun &oRun : oResult.vecRuns)
        if (oRun.qui64Offset_End() > qui64Period)
            qui64Beyond += (oRun.qui64Offset_End() - std::max(oRun.qui64Offset, qui64Period)) / 8;
    return 2 * qui64Most >= qui64Beyond ? qui64Period : 0;
}

// The offset from which a medium keeps nothing: the first place of a missing word, when
// next to nothing of what should lie beyond it is found there, nor any fill word at all.
quint64 cJudge::qui64Capacity_Limit() const
{
    if (!oLayout.bPlaced)
        return 0;
    quint64 qui64Limit = ~quint64(0);
    for (const cPiece &oPiece : vecPlaced)
        if (oPiece.eValue == eFate_Missing)
            qui64Limit = std::min(qui64Limit, oPiece.qui64Offset);
    if (qui64Limit == ~quint64(0) || qui64Limit == 0)
        return 0;
    quint64 qui64Expected = 0, qui64Kept = 0, qui64Found_Beyond = 0;
    for (const cPiece &oPiece : vecPlaced) {
        const quint64 qui64End = oPiece.qui64Offset + 8 * oPiece.qui64Count;
        if (qui64End <= qui64Limit)
            continue;
        const quint64 qui64Beyond = (qui64End - std::max(oPiece.qui64Offset, qui64Limit)) / 8;
        qui64Expected += qui64Beyond;
        if (oPiece.eValue == eFate_In_Place)
            qui64Kept += qui64Beyond;
    }
    for (const cRun &oRun : oResult.vecRuns)
        if (oRun.qui64Offset_End() > qui64Limit)
            qui64Found_Beyond += (oRun.qui64Offset_End() - std::max(oRun.qui64Offset, qui64Limit)) / 8;
    return 100 * qui64Kept <= qui64Expected && 1000 * qui64Found_Beyond <= qui64Expected ? qui64Limit : 0;
}

// eFake: what the medium's pattern of losses says, when it says anything.
eVerdict cJudge::eDecide(const eVerdict eFake) const
{
    if (oLayout.qvParts.isEmpty() || qui64Words == 0)
        return eVerdict_No_Fill_File;
    if (oResult.eStatus != eRead_Done || oResult.qui64Bytes_Bad > 0)
        return eVerdict_Incomplete;
    if (oVerdict.oLayout.eOn == eOn_Device_No)
        return eVerdict_Not_On_Device;
    // Next to nothing found of what the file system wrote: the words reach the medium in
    // another form (a compressing file system still stores a small tail as it is). A file
    // without data (sparse) wrote nothing, so its words are simply missing.
    if (1000 * oVerdict.qui64Found <= qui64Words && (!oLayout.bPlaced || qui64Unplaced_Missing < oVerdict.qui64Missing))
        return eVerdict_No_Plaintext;
    if (oVerdict.qui64Missing == 0 && oVerdict.qui64Displaced == 0)
        return eVerdict_Intact;
    return eFake != eVerdict_None ? eFake : eVerdict_Data_Missing;
}

void cJudge::vRun()
{
    oVerdict = cVerdict();
    oVerdict.oLayout = oLayout;
    oVerdict.oLayout.vecExpected.clear(); // the verdict keeps what it says, not the extents
    qui64Words = std::min(oLayout.qui64Words(), oResult.qui64Data_Count);
    oVerdict.qui64Words = qui64Words;
    const int iRegions = oResult.qvRegion_Hits.size();
    for (QVector<quint64> *pqv :
         {&oVerdict.qvRegion_In_Place, &oVerdict.qvRegion_Displaced, &oVerdict.qvRegion_Missing})
        pqv->fill(0, iRegions);
    const quint64 qui64Buckets = std::min<quint64>(1024, qui64Words);
    oVerdict.qui64Strip_Bucket = qui64Buckets == 0 ? 0 : (qui64Words + qui64Buckets - 1) / qui64Buckets;
    const int iBuckets =
        qui64Buckets == 0 ? 0 : int((qui64Words + oVerdict.qui64Strip_Bucket - 1) / oVerdict.qui64Strip_Bucket);
    for (QVector<quint64> *pqv :
         {&oVerdict.qvStrip_Found, &oVerdict.qvStrip_Displaced, &oVerdict.qvStrip_Missing, &oVerdict.qvStrip_Not_Read})
        pqv->fill(0, iBuckets);

    qvFound = qvFound_Indexes(oResult.vecRuns);
    if (oLayout.bPlaced) {
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
            vAdd({qui64At, oClipped.qui64First - qui64At, false, 0, eFate_Missing});
            vPlaced_Segment(oClipped);
            qui64At = oClipped.qui64End();
        }
        vAdd({qui64At, qui64Words - qui64At, false, 0, eFate_Missing});
        std::vector<cRun>().swap(vecBy_Diagonal);
    } else {
        vSplit(qvFound, 0, qui64Words, [&](quint64 qui64From, quint64 qui64To, bool bFound) {
            vAdd({qui64From, qui64To - qui64From, false, 0, bFound ? eFate_Found : eFate_Missing});
        });
    }

    // Words of the file found on the device show that the volume lies on it.
    if (oVerdict.oLayout.eOn != eOn_Device_Yes && oVerdict.qui64Found > 0) // even over a "no" the layers gave
        oVerdict.oLayout.eOn = eOn_Device_Yes;
    oVerdict.qui64Remnants = oResult.qui64Hits > oVerdict.qui64Found ? oResult.qui64Hits - oVerdict.qui64Found : 0;
    oVerdict.qvRegion_Stray = oResult.qvRegion_Hits;
    for (int r = 0; r < iRegions; ++r)
        oVerdict.qvRegion_Stray[r] -= std::min(oVerdict.qvRegion_Stray[r], oVerdict.qvRegion_In_Place[r]);
    eVerdict eFake = eVerdict_None;
    quint64 qui64Usable = 0;
    if (oVerdict.qui64Missing + oVerdict.qui64Displaced > 0) {
        if ((qui64Usable = qui64Wrap_Period()) > 0)
            eFake = eVerdict_Wraparound;
        else if ((qui64Usable = qui64Capacity_Limit()) > 0)
            eFake = eVerdict_Capacity_Limited;
    }
    oVerdict.eValue = eDecide(eFake);
    oVerdict.qui64Usable_Bytes = oVerdict.eValue == eFake ? qui64Usable : 0;
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

const char *pcVerdict_Name(const eVerdict eValue)
{
    switch (eValue) {
    case eVerdict_None:
        return "none";
    case eVerdict_Intact:
        return "intact";
    case eVerdict_Data_Missing:
        return "data_missing";
    case eVerdict_Capacity_Limited:
        return "capacity_limited";
    case eVerdict_Wraparound:
        return "wraparound";
    case eVerdict_No_Plaintext:
        return "no_plaintext";
    case eVerdict_Not_On_Device:
        return "not_on_device";
    case eVerdict_Incomplete:
        return "incomplete";
    case eVerdict_No_Fill_File:
        return "no_fill_file";
    }
    return "";
}

bool bVerdict_Good(const eVerdict eValue)
{
    return eValue == eVerdict_Intact || eValue == eVerdict_No_Fill_File;
}
