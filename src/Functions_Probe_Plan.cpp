#include "Functions_Probe_Plan.h"

#include <algorithm>
#include <numeric>

quint64 qui64Probe_Step(const quint64 qui64Device_Bytes)
{
    quint64 qui64Step = quint64(1) << 20;
    while (qui64Step * 2048 < qui64Device_Bytes)
        qui64Step *= 2;
    return qui64Step;
}

std::vector<quint64> vecProbe_Filler(const tProbe_Extents &qvExtents, const quint64 qui64Bytes)
{
    std::vector<quint64> vecFiller;
    for (int e = qvExtents.size() - 1; e >= 0 && vecFiller.size() * qui64Probe_Block < qui64Bytes; --e)
        for (quint64 qui64At = qvExtents[e].second; qui64At >= qvExtents[e].first + qui64Probe_Block &&
                                                    vecFiller.size() * qui64Probe_Block < qui64Bytes;)
            vecFiller.push_back(qui64At -= qui64Probe_Block);
    std::reverse(vecFiller.begin(), vecFiller.end());
    return vecFiller;
}

namespace {

// The block [qui64At, + 4 KiB) lies whole in one extent of the file.
bool bIn_File(const tProbe_Extents &qvExtents, const quint64 qui64At)
{
    auto it = std::upper_bound(qvExtents.begin(), qvExtents.end(), qui64At,
                               [](const quint64 qui64Value, const QPair<quint64, quint64> &qpExtent) {
                                   return qui64Value < qpExtent.first;
                               });
    return it != qvExtents.begin() && qui64At + qui64Probe_Block <= (it - 1)->second;
}

} // namespace

std::vector<cProbe_Sample> vecProbe_Samples(const tProbe_Extents &qvExtents, const quint64 qui64From,
                                            const quint64 qui64To, const quint64 qui64Step,
                                            const std::vector<quint64> &vecFiller)
{
    const quint64 qui64Filler_From = vecFiller.empty() ? ~quint64(0) : vecFiller.front();
    std::vector<cProbe_Sample> vecSamples;
    for (quint64 qui64At = qui64From; qui64At < qui64To && qui64At + qui64Probe_Block <= qui64Filler_From;
         qui64At += qui64Step)
        if (bIn_File(qvExtents, qui64At)) {
            cProbe_Sample oSample;
            oSample.qui64Offset = qui64At;
            vecSamples.push_back(oSample);
        }
    return vecSamples;
}

namespace {

bool bKept(const cProbe_Sample &oSample)
{
    return oSample.eSeen == eSeen_Own || oSample.eSeen == eSeen_Changed;
}

// Written and not given back: nothing there, or what a cache's slot held of the filler.
bool bGone(const cProbe_Sample &oSample)
{
    return oSample.eSeen == eSeen_Lost || oSample.eSeen == eSeen_Filler;
}

// Samples that read another sample's mark: the medium maps both places onto one, every
// period bytes. The period divides every such distance; the filler's marks found in samples
// are then of the same kind, not losses. Usable: where within a period the first loss lies
// (a chain), else the period.
void vJudge_Wrap(const cProbe_Round &oRound, cProbe_Judgement &oJudgement)
{
    quint64 qui64Period = 0;
    for (const cProbe_Sample &oSample : oRound.vecSamples)
        if (oSample.eSeen == eSeen_Other)
            qui64Period = std::gcd(qui64Period, oSample.qui64Seen_Offset > oSample.qui64Offset
                                                    ? oSample.qui64Seen_Offset - oSample.qui64Offset
                                                    : oSample.qui64Offset - oSample.qui64Seen_Offset);
    oJudgement.eValue = eVerdict_Wraparound;
    oJudgement.qui64Period = oJudgement.qui64Usable = qui64Period;
    // Each place of the medium is sampled in every period: a chain loses the same stretch at
    // the end of each. A loss alone lower down is a place the file system wrote meanwhile.
    std::vector<std::pair<quint64, bool>> vecResidues; // place within the period, lost
    for (const cProbe_Sample &oSample : oRound.vecSamples)
        if (oSample.eSeen != eSeen_Not_Written && qui64Period > 0)
            vecResidues.push_back({oSample.qui64Offset % qui64Period, oSample.eSeen == eSeen_Lost});
    std::sort(vecResidues.begin(), vecResidues.end());
    for (auto it = vecResidues.rbegin(); it != vecResidues.rend() && it->second; ++it)
        oJudgement.qui64Usable = it->first;
}

// Everything written first is gone, what was written last is there: the medium keeps only
// its latest writes. What it kept of them is how much it keeps.
bool bJudge_Recent(const cProbe_Round &oRound, cProbe_Judgement &oJudgement)
{
    const std::vector<cProbe_Sample> &vecSamples = oRound.vecSamples;
    auto itFirst = std::find_if(vecSamples.begin(), vecSamples.end(),
                                [](const cProbe_Sample &oSample) { return oSample.eSeen != eSeen_Not_Written; });
    if (itFirst == vecSamples.end() || !bGone(*itFirst) || !oRound.bFiller_Last_Kept)
        return false;
    // The losses, in the order written, come first and the kept ones after them.
    auto itKept = std::find_if(itFirst, vecSamples.end(), bKept);
    if (std::any_of(itKept, vecSamples.end(), bGone))
        return false;
    const quint64 qui64Kept_Samples = quint64(std::count_if(itKept, vecSamples.end(), bKept));
    const bool bFiller_Whole = oRound.qui64Filler_Kept == oRound.vecFiller.size() * qui64Probe_Block;
    oJudgement.eValue = eVerdict_Keeps_Recent;
    oJudgement.qui64Usable = oRound.qui64Filler_Kept + (bFiller_Whole ? qui64Kept_Samples * qui64Probe_Block : 0);
    return true;
}

// Kept up to some place, nothing beyond: the capacity; a cache beyond it shows in the filler
// read back, which lies at the device's end.
bool bJudge_Limit(const cProbe_Round &oRound, cProbe_Judgement &oJudgement)
{
    const std::vector<cProbe_Sample> &vecSamples = oRound.vecSamples;
    auto itLast_Kept = std::find_if(vecSamples.rbegin(), vecSamples.rend(), bKept);
    auto itLost = std::find_if(itLast_Kept.base(), vecSamples.end(), bGone);
    if (itLost == vecSamples.end())
        return false;
    oJudgement.eValue = eVerdict_Capacity_Limited;
    oJudgement.qui64Usable = itLost->qui64Offset;
    oJudgement.qui64Last_Good = itLast_Kept == vecSamples.rend() ? 0 : itLast_Kept->qui64Offset;
    if (!oRound.vecFiller.empty() && oRound.vecFiller.front() >= itLost->qui64Offset)
        oJudgement.qui64Cache = oRound.qui64Filler_Kept;
    return true;
}

} // namespace

cProbe_Judgement oJudge_Probe(const cProbe_Round &oRound)
{
    cProbe_Judgement oJudgement;
    const std::vector<cProbe_Sample> &vecSamples = oRound.vecSamples;
    oJudgement.iUnreadable = int(std::count_if(vecSamples.begin(), vecSamples.end(),
                                               [](const cProbe_Sample &oSample) { return oSample.bUnreadable; }));
    auto bAny = [&](const eProbe_Seen eSeen) {
        return std::any_of(vecSamples.begin(), vecSamples.end(),
                           [eSeen](const cProbe_Sample &oSample) { return oSample.eSeen == eSeen; });
    };
    if (oRound.bWrite_Refused)
        oJudgement.eValue = eVerdict_Write_Failed;
    else if (bAny(eSeen_Other))
        vJudge_Wrap(oRound, oJudgement);
    else if (bJudge_Recent(oRound, oJudgement) || bJudge_Limit(oRound, oJudgement))
        ;
    else if (bAny(eSeen_Lost) || bAny(eSeen_Filler))
        oJudgement.eValue = eVerdict_Data_Missing; // lost here and there, kept around them
    else if (bAny(eSeen_Changed))
        oJudgement.eValue = eVerdict_Data_Changed;
    else if (oJudgement.iUnreadable > 0)
        oJudgement.eValue = eVerdict_Damaged;
    return oJudgement;
}

void vNarrow_Capacity(const cProbe_Round &oRound, cProbe_Judgement &oJudgement)
{
    for (const cProbe_Sample &oSample : oRound.vecSamples) {
        if (bKept(oSample))
            oJudgement.qui64Last_Good = oSample.qui64Offset;
        else if (bGone(oSample)) {
            oJudgement.qui64Usable = oSample.qui64Offset;
            return;
        }
    }
}
