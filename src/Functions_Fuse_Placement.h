#ifndef FUNCTIONS_FUSE_PLACEMENT_H
#define FUNCTIONS_FUSE_PLACEMENT_H

#include "Functions_Results.h"

#include <QString>

#include <sys/types.h>
#include <vector>

// Where the fill lies on a FUSE file system made on a block device (exfat-fuse, ntfs-3g,
// fusefat), whose driver does not say it: the fill is synced to the device, then its runs
// are read from the file system's own structures there (Functions_Tsk). The device is the
// one the mount names; a driver that names none (fusefat) is matched among qsDevice and its
// partitions by a file system there that holds the fill's files at their size.

// The runs (by index) as offsets within the file system's block device, which goes to
// *pdevFs. False, with the reason, where the volume is no FUSE file system on a device, the
// sync failed or the structures do not say.
bool bFuse_Runs(const QVector<cFill_Part> &qvParts, const QString &qsDevice, std::vector<cRun> *pvecRuns, dev_t *pdevFs,
                QString *pqsWhy, const bool bSync = true);

// Writes through what the caches of qsDevice and of its partitions hold of the device's bytes
// [qui64At, +qui64Length), so that a direct read there finds what was written: cheaper than
// a whole device's sync while a fill goes on. False where a flush failed.
bool bFlush_Range(const QString &qsDevice, const quint64 qui64At, const quint64 qui64Length);

#endif // FUNCTIONS_FUSE_PLACEMENT_H
