#ifndef FUNCTIONS_UDISKS_H
#define FUNCTIONS_UDISKS_H

#include <QString>
#include <QVector>

class cDevice_Entry;

// The desktop's own storage service, UDisks2 on the system bus: the list of media as the
// file manager sees it, and mounting a partition for the user. Where no system bus or no
// udisksd runs, each says so and the caller falls back to lsblk.

// The whole devices with their partitions, sorted like lsblk's list. False, with the
// reason, when UDisks2 cannot be asked.
bool bUDisks_Devices(QVector<cDevice_Entry> *pqvDevices, QString *pqsError);
// Mounts the file system of the UDisks2 object qsObject where UDisks2 mounts media
// (/media/USER/LABEL, /run/media/...); its mount point goes to *pqsMount.
bool bUDisks_Mount(const QString &qsObject, QString *pqsMount, QString *pqsError);

#endif // FUNCTIONS_UDISKS_H
