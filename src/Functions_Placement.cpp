#include "Functions_Placement.h"

#include <QHash>

#include <algorithm>

namespace {

// Appends [qui64First, +qui64Count) at qui64Offset, cut at the device's end.
void vPlace(std::vector<cRun> &vecResult, const quint64 qui64First, quint64 qui64Count, const quint64 qui64Offset,
            const quint64 qui64Device_Bytes)
{
    if (qui64Offset >= qui64Device_Bytes)
        return;
    qui64Count = std::min(qui64Count, (qui64Device_Bytes - qui64Offset) / 8);
    if (qui64Count == 0)
        return;
    if (!vecResult.empty() && vecResult.back().qui64End() == qui64First &&
        vecResult.back().qui64Offset_End() == qui64Offset)
        vecResult.back().qui64Count += qui64Count;
    else
        vecResult.push_back({qui64First, qui64Count, qui64Offset});
}

} // namespace

std::vector<cRun> vecInfer_Placement(const std::vector<cRun> &vecBy_Index, const quint64 qui64Words,
                                     const quint64 qui64Device_Bytes)
{
    QHash<quint64, quint64> qhWeight; // diagonal -> words found on it
    for (const cRun &oRun : vecBy_Index)
        if (oRun.qui64First < qui64Words)
            qhWeight[oRun.qui64Diagonal()] += oRun.qui64Count;
    std::vector<cRun> vecCandidates;
    for (const cRun &oRun : vecBy_Index)
        if (oRun.qui64First < qui64Words)
            vecCandidates.push_back({oRun.qui64First, std::min(oRun.qui64End(), qui64Words) - oRun.qui64First,
                                     oRun.qui64Offset});
    std::sort(vecCandidates.begin(), vecCandidates.end(), [&](const cRun &a, const cRun &b) {
        if (a.qui64First != b.qui64First)
            return a.qui64First < b.qui64First;
        const quint64 qui64A = qhWeight.value(a.qui64Diagonal()), qui64B = qhWeight.value(b.qui64Diagonal());
        return qui64A != qui64B ? qui64A > qui64B : a.qui64Offset > b.qui64Offset;
    });
    // The found words, each index once: a run that overlaps the ones taken gives only its rest.
    std::vector<cRun> vecFound;
    quint64 qui64Covered = 0;
    for (const cRun &oRun : vecCandidates) {
        if (oRun.qui64End() <= qui64Covered)
            continue;
        const quint64 qui64Skip = qui64Covered > oRun.qui64First ? qui64Covered - oRun.qui64First : 0;
        vecFound.push_back({oRun.qui64First + qui64Skip, oRun.qui64Count - qui64Skip, oRun.qui64Offset + 8 * qui64Skip});
        qui64Covered = oRun.qui64End();
    }
    std::vector<cRun> vecResult;
    if (vecFound.empty())
        return vecResult;
    const cRun &oFirst = vecFound.front();
    const quint64 qui64Head_Bytes = 8 * oFirst.qui64First;
    if (oFirst.qui64First > 0 && oFirst.qui64Offset >= qui64Head_Bytes)
        vPlace(vecResult, 0, oFirst.qui64First, oFirst.qui64Offset - qui64Head_Bytes, qui64Device_Bytes);
    for (size_t i = 0; i < vecFound.size(); ++i) {
        const cRun &oRun = vecFound[i];
        vPlace(vecResult, oRun.qui64First, oRun.qui64Count, oRun.qui64Offset, qui64Device_Bytes);
        const quint64 qui64Next = i + 1 < vecFound.size() ? vecFound[i + 1].qui64First : qui64Words;
        if (qui64Next > oRun.qui64End()) // the words between lay right after these
            vPlace(vecResult, oRun.qui64End(), qui64Next - oRun.qui64End(), oRun.qui64Offset_End(), qui64Device_Bytes);
    }
    return vecResult;
}
