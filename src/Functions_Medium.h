#ifndef FUNCTIONS_MEDIUM_H
#define FUNCTIONS_MEDIUM_H

#include "Functions_Table.h"
#include "Functions_Results.h"

#include <vector>

// The fate of one stretch of the fill.
enum eFate { eFate_In_Place, eFate_Displaced, eFate_Found, eFate_Missing, eFate_Not_Read, eFate_Changed };

// A stretch of the fill's indexes with one fate, and where it should lie when that is known.
class cPiece
{
public:
    quint64 qui64First;
    quint64 qui64Count;
    bool bPlaced;
    quint64 qui64Offset;
    eFate eValue;

    quint64 qui64Offset_End() const { return qui64Offset + 8 * qui64Count; }
};

// What the medium is, judged from where the fill's words were expected and found: the kind
// of fake (eVerdict_None when it behaves like an honest one) and its real capacity.
class cMedium
{
public:
    eVerdict eFake = eVerdict_None;
    quint64 qui64Usable_Bytes = 0;
    quint64 qui64Period = 0;       // wraparound: the distance at which addresses repeat
    quint64 qui64Cache_Bytes = 0;  // capacity limited: kept beyond the capacity by a cache
    // The capacity as a range where the fill left a stretch below the first loss unwritten:
    // proven kept up to the first, proven lost from the last; equal when nothing lies between.
    quint64 qui64Capacity_Min = 0, qui64Capacity_Max = 0;
    quint64 qui64Medium_Copies = 0; // words it returned away from their own place: a cache's stale
                                   // copies, a wrap's aliases
};

// vecPieces: every stretch of the fill in index order; vecRuns: what the read found, by
// index; qui64Refused_After: the fill's writes failed after this many bytes (0: they did not);
// qui64Distinct: the fill's words found anywhere, each once.
cMedium oModel_Medium(const std::vector<cPiece> &vecPieces, const std::vector<cRun> &vecRuns,
                      const quint64 qui64Device_Bytes, const quint64 qui64Words, const quint64 qui64Refused_After,
                      const quint64 qui64Distinct);

#endif // FUNCTIONS_MEDIUM_H
