#ifndef FUNCTIONS_CHOOSER_H
#define FUNCTIONS_CHOOSER_H

#include "Functions_Devices.h"

#include <QJsonArray>
#include <QString>
#include <QVector>

// The media a desktop user can choose from: block devices, their partitions and where each
// is mounted, as UDisks2 or lsblk see them. No widgets: the chooser window and --list both
// show this list.

// Where the list came from.
// eSource_Lsblk_UDisks_Empty: lsblk's, since UDisks2 answered but knew no device.
enum eDevice_Source { eSource_UDisks, eSource_Lsblk, eSource_Lsblk_UDisks_Empty };

// lsblk's columns for the list, in the order of its --output option.
extern const char *const pcLsblk_Columns;
// The whole devices in lsblk's JSON (lsblk --json -b -o pcLsblk_Columns), with their
// partitions, sorted (see vSort_Devices). False, with the reason, when it is not such JSON.
bool bParse_Lsblk(const QByteArray &qbaJson, QVector<cDevice_Entry> *pqvDevices, QString *pqsError);
// The devices now: UDisks2 over the system bus where it runs and knows any, else lsblk.
// False, with the reason, when neither answered.
bool bList_Devices(QVector<cDevice_Entry> *pqvDevices, eDevice_Source *peSource, QString *pqsError);

// Why the list is lsblk's though UDisks2 runs.
QString qsUDisks_Empty_Text();
// Where a device is mounted, in words; a whole device names its partitions' mount points.
QString qsMount_Text(const cDevice_Entry &oDevice);
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
