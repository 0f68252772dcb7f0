#ifndef FUNCTIONS_BTRFS_H
#define FUNCTIONS_BTRFS_H

#include "Functions_Table.h"

#include <QString>

#include <vector>

// btrfs's FIEMAP gives addresses in its own logical space; its chunk tree says where each
// chunk of that space lies on its devices. On one device with a profile that keeps one copy
// (single) or two on the same device (DUP, where the first copy is taken: a second one is
// where the words lie again, not instead), that is one offset per chunk; across devices or
// in a RAID profile a word's place is no single device offset, and the answer is no.

// Rewrites the runs of *pvecRuns, whose offsets are logical addresses of the btrfs holding
// qsPath, to offsets on its one device, splitting runs at chunk ends. False, with the
// reason, where a run lies outside every chunk or the volume is not as above.
bool bBtrfs_Physical(const QString &qsPath, std::vector<cRun> *pvecRuns, QString *pqsWhy);

#endif // FUNCTIONS_BTRFS_H
