#ifndef FUNCTIONS_DEVICES_H
#define FUNCTIONS_DEVICES_H

#include <QString>
#include <QVector>

// One medium as the desktop's list shows it, whoever made the list (UDisks2 or lsblk), and
// the order the list is shown in.

class cDevice_Entry
{
public:
    QString qsName; // sdb, sdb1, loop3p1
    QString qsPath; // /dev/sdb1
    QString qsType; // disk, loop, part, crypt, lvm, ...
    quint64 qui64Bytes = 0;
    QString qsVendor;
    QString qsModel;
    QString qsTransport; // usb, sata, nvme, mmc, ...; empty when not known
    bool bRemovable = false;
    QString qsMount;                // where it is mounted, empty when it is not
    QString qsFs;                   // the file system's type where known
    QString qsLabel;                // the file system's label where known
    QString qsDisk;                 // the whole device it lies on (its own path for a whole device)
    bool bSystem = false;           // on the disk that holds the running system
    QString qsObject;               // the UDisks2 object of its file system, for mounting; empty from lsblk
    QVector<cDevice_Entry> qvParts; // a whole device's partitions and what lies on them, in order

    bool bUsb() const { return qsTransport == "usb"; }
};

// A mount point that makes its disk the system's: filling or scanning it concerns the running
// system itself.
bool bSystem_Mount(const QString &qsMount);
// Marks a whole device and its parts as the system's when any of them has such a mount point.
void vMark_System(cDevice_Entry &oDisk);

// USB media first, then other removable ones, the system's disk last; by name within each.
void vSort_Devices(QVector<cDevice_Entry> &qvDevices);

#endif // FUNCTIONS_DEVICES_H
