#ifndef FUNCTIONS_CHOOSER_H
#define FUNCTIONS_CHOOSER_H

#include <QJsonArray>
#include <QString>
#include <QVector>

// The media a desktop user can choose from: block devices, their partitions and where each
// is mounted, as UDisks2 or lsblk see them. No widgets: the chooser window and --list both
// show this list.

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

// Where the list came from.
enum eDevice_Source { eSource_UDisks, eSource_Lsblk };

// lsblk's columns for the list, in the order of its --output option.
extern const char *const pcLsblk_Columns;
// The whole devices in lsblk's JSON (lsblk --json -b -o pcLsblk_Columns), with their
// partitions, sorted (see vSort_Devices). False, with the reason, when it is not such JSON.
bool bParse_Lsblk(const QByteArray &qbaJson, QVector<cDevice_Entry> *pqvDevices, QString *pqsError);
// USB media first, then other removable ones, the system's disk last; by name within each.
void vSort_Devices(QVector<cDevice_Entry> &qvDevices);
// The devices now: UDisks2 over the system bus where it runs, else lsblk. False, with the
// reason, when neither answered.
bool bList_Devices(QVector<cDevice_Entry> *pqvDevices, eDevice_Source *peSource, QString *pqsError);

// A device or partition on one line: name, size, transport, vendor and model, mount point.
QString qsDevice_Line(const cDevice_Entry &oDevice);
// The list for the command line, in Russian.
QString qsDevices_Text(const QVector<cDevice_Entry> &qvDevices);
// The list for scripts, English keys.
QJsonArray qjDevices(const QVector<cDevice_Entry> &qvDevices);
// The mount point the tool would fill for a whole device: its own, else its first mounted
// partition's; empty when none is mounted.
QString qsFirst_Mount(const cDevice_Entry &oDevice);

#endif // FUNCTIONS_CHOOSER_H
