#ifndef FUNCTIONS_FUSE_SERVER_H
#define FUNCTIONS_FUSE_SERVER_H

#include <QList>
#include <QString>

#include <sys/types.h>

// The block devices that the process serving the FUSE mount devMount (its st_dev) holds open:
// the devices a driver whose mount names none (fusefat) reads the file system from. The
// server is the process whose /dev/fuse descriptor belongs to that mount's connection, as
// the kernel tells in its fdinfo; a copy of the medium elsewhere cannot pass for it. Empty
// where no such process is seen (another kernel, another user's process).
QList<dev_t> qlFuse_Server_Devices(const dev_t devMount);

// The node of the one block device that the server of the FUSE volume at qsVolume reads;
// empty where it is no such volume, or its server reads none or several.
QString qsFuse_Server_Node(const QString &qsVolume);

#endif // FUNCTIONS_FUSE_SERVER_H
