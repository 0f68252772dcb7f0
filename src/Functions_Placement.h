#ifndef FUNCTIONS_PLACEMENT_H
#define FUNCTIONS_PLACEMENT_H

#include "Functions_Table.h"

#include <vector>

// Where the fill's words lay, inferred from where the read found them, for a file system
// that does not say (FUSE: exFAT, NTFS). On a volume the fill has just filled, the found
// runs map index to offset piecewise: each index range is taken from the copy on the
// diagonal that holds most words (the file's own extents; a wrapped or cached copy holds no
// more), the higher offset on a tie (an alias of a wrapping medium lies below its
// original); a missing stretch between two runs lay right after the first of them, a
// missing head right before the first run, a missing tail after the last one. Returns runs
// by index over [0, qui64Words), none of them past qui64Device_Bytes; empty when nothing was
// found.
std::vector<cRun> vecInfer_Placement(const std::vector<cRun> &vecBy_Index, const quint64 qui64Words,
                                     const quint64 qui64Device_Bytes);

#endif // FUNCTIONS_PLACEMENT_H
