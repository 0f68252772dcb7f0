#ifndef FUNCTIONS_RECORDS_H
#define FUNCTIONS_RECORDS_H

#include "Functions_Data.h"
#include "Functions_Drive.h"

#include <QStringList>

// The records the three operations share, defined beside the window.
extern cDrive oDrive;
extern cVolume oVolume;
extern cData oData;

// The operations as the window's buttons and batch mode run them. They fill in the
// records and their results and open no box but the drive probe's; the caller tells the
// operator.
// Poll: probes the volume and the device and derives the pattern; false when the device did
// not open or the volume could not be probed (oVolume.qsError).
bool bPoll_Records(const QString &qsDrive_Path, const QString &qsVolume_Path, bool *pbDrive_Opened = nullptr);
// Fill: true when the fill file was written until done or full. Refused (eFill_Refused, the
// reason in qsError) when the volume is not known to lie on the polled device, unless bForce.
bool bFill_Records(const bool bForce = false);
// Read: true when the whole device was scanned; the verdict is in the read's result.
bool bRead_Records();
// What a read of qsDevice is compared with: the fill in qsVolume and where it lies.
cFill_Layout oFill_Layout(const QString &qsVolume, const QString &qsDevice);

// One value of the poll: the widget that shows it, its caption there, its section, and
// where it comes from.
class cPoll_Field
{
public:
    const char *pcValue_Widget;
    const char *pcCaption;
    int iSection; // 0 the device, 1 the volume, 2 the data
    QString (*qsValue)();
};
const int iPoll_Fields = 12;
// In the order of the form's value widgets, which is the order the poll shows them in.
extern const cPoll_Field aoPoll_Fields[iPoll_Fields];
QStringList qslPoll_Values();
QStringList qslPoll_Captions(); // as the window shows them
QStringList qslPoll_Sections(); // the three headings

#endif // FUNCTIONS_RECORDS_H
