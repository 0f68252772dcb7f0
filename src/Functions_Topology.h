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
bool bFill_Placement(const QVector<cFill_Part> &qvParts, const QString &qsDevice, std::vector<cRun> *pvecExpected,
                     QString *pqsWhy);

#endif // FUNCTIONS_TOPOLOGY_H
