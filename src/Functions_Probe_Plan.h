#ifndef FUNCTIONS_PROBE_PLAN_H
#define FUNCTIONS_PROBE_PLAN_H

#include "Functions_Probe_Blocks.h"
#include "Functions_Results.h"

#include <QPair>
#include <QVector>

// Where the probe writes and what its rounds say: plain values, no I/O.

typedef QVector<QPair<quint64, quint64>> tProbe_Extents; // [first, end) device bytes, sorted, 4 KiB-aligned

// A cache a stick may have between its writes and its cells is pushed out by more than this.
const quint64 qui64Probe_Filler = quint64(32) << 20;

// The first round's distance between samples: a power of two, at least 1 MiB, about 2048 of
// them over the device; two places a wrapping medium maps onto one are then both samples.
quint64 qui64Probe_Step(const quint64 qui64Device_Bytes);
// The filler: the file's highest blocks, up to qui64Bytes, in ascending order.
std::vector<quint64> vecProbe_Filler(const tProbe_Extents &qvExtents, const quint64 qui64Bytes);
// Samples every qui64Step from qui64From up to qui64To, those that lie whole in the file and
// below the filler.
std::vector<cProbe_Sample> vecProbe_Samples(const tProbe_Extents &qvExtents, const quint64 qui64From,
                                            const quint64 qui64To, const quint64 qui64Step,
                                            const std::vector<quint64> &vecFiller);

// What a round says of the medium.
class cProbe_Judgement
{
public:
    eVerdict eValue = eVerdict_Intact;
    quint64 qui64Usable = 0, qui64Period = 0, qui64Cache = 0;
    quint64 qui64Last_Good = 0; // capacity limited: the last sample kept before the first lost one
    int iUnreadable = 0;
};
cProbe_Judgement oJudge_Probe(const cProbe_Round &oRound);
// A round between the last sample kept and the first lost of a capacity-limited medium: both
// moved to the last kept and the first lost of this round.
void vNarrow_Capacity(const cProbe_Round &oRound, cProbe_Judgement &oJudgement);

#endif // FUNCTIONS_PROBE_PLAN_H
