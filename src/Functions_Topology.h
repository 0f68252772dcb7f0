#ifndef FUNCTIONS_TOPOLOGY_H
#define FUNCTIONS_TOPOLOGY_H

#include <QString>

// 1 when the file system holding qsVolume lies on qsDevice (the device itself, a
// partition or a layer on it, or a loop device over the image file qsDevice), 0 when it
// does not, -1 when that cannot be told.
int iVolume_On_Device(const QString &qsVolume, const QString &qsDevice);

#endif // FUNCTIONS_TOPOLOGY_H
