#ifndef FUNCTIONS_TOPOLOGY_H
#define FUNCTIONS_TOPOLOGY_H

#include "Functions_Verdict.h"

#include <QString>

// Whether the file system holding qsVolume lies on qsDevice (the device itself, a
// partition, a loop device or another layer on it, or a loop device over the image file
// qsDevice); *pqsWhy says why not, or why it cannot be told.
eOn_Device eVolume_On_Device(const QString &qsVolume, const QString &qsDevice, QString *pqsWhy = nullptr);

// Where the file system put the words of the fill's files, as device offsets of qsDevice
// (runs sorted by index; holes and unwritten extents have none). False, with the reason,
// when the file system does not say, or its device is no plain part of qsDevice.
// *pqui64Unwritten: index of the first word of the last part that lies in space allocated
// and never written (a fill stopped by a crash), else the end of the fill. FIEMAP where it
// gives device offsets; btrfs's through its chunk tree; a FUSE file system's from its
// structures on the device (*peSource says which), after its device's cache is written
// through unless !bSync (a caller that flushes only what it reads, bFlush_Range).
// bUnwritten_Too: space allocated and never written is placed as well (a preallocated file).
bool bFill_Placement(const QVector<cFill_Part> &qvParts, const QString &qsDevice, std::vector<cRun> *pvecExpected,
                     QString *pqsWhy, quint64 *pqui64Unwritten = nullptr, ePlacement_Source *peSource = nullptr,
                     const bool bSync = true, const bool bUnwritten_Too = false);

// Empty when a map or a report may be written to qsPath, else why not: never over the
// device under test or an image beneath it (a loop's backing file, the device's or the
// volume's), never onto the volume under test (its file system, also for a file not made yet).
QString qsUnsafe_Output(const QString &qsPath, const QString &qsDevice, const QString &qsVolume);
// Whether the open file has space allocated and none of it written (FIEMAP: every extent
// unwritten): what a probe killed before it could remove its file leaves, and nothing else.
bool bAllocated_Unwritten(int iFD);

#endif // FUNCTIONS_TOPOLOGY_H
