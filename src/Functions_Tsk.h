#ifndef FUNCTIONS_TSK_H
#define FUNCTIONS_TSK_H

#include "Functions_Results.h"

#include <QString>

#include <vector>

// Where a file lies, from the file system's own structures on its block device, read with
// The Sleuth Kit: FAT12/16/32, exFAT and NTFS, whose FUSE drivers do not say it themselves.
// The device is only read; what its driver still holds in memory is not there yet, so the
// caller syncs first.

// The runs of oPart's words (as bFill_Placement gives them, by index) in the file
// qsIn_Fs (its path from the file system's root) of the file system on qsFs_Device, as
// offsets from that device's start. False, with the reason, where the structures do not
// say: no such file system or file, data kept inside a record, compressed or sparse.
bool bTsk_Part_Runs(const QString &qsFs_Device, const QString &qsIn_Fs, const cFill_Part &oPart,
                    std::vector<cRun> *pvecRuns, QString *pqsWhy);

// The size in bytes of the file qsIn_Fs of the file system on qsFs_Device; -1 where there is
// no file system TSK knows there, or no such file.
qint64 qi64Tsk_File_Size(const QString &qsFs_Device, const QString &qsIn_Fs);

// The space of the FAT file system on qsFs_Device, from its boot sector and its FAT: the size of
// a cluster, the clusters of its data area and the free ones among them. False where TSK finds
// no FAT there.
bool bTsk_Fat_Space(const QString &qsFs_Device, quint64 *pqui64Cluster_Bytes, quint64 *pqui64Clusters,
                    quint64 *pqui64Free);

#endif // FUNCTIONS_TSK_H
