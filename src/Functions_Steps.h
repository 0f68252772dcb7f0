#ifndef FUNCTIONS_STEPS_H
#define FUNCTIONS_STEPS_H

#include "Functions_Data.h"
#include "Functions_Drive.h"

#include <QStringList>

class cOperator;

// The three steps as the window's buttons and batch mode run them, on the records they are
// given. Each returns what it did; the caller tells the operator.

// What a poll found out besides the records.
class cPoll_Result
{
public:
    bool bDrive_Opened = false; // else the probe has told the operator already
    QString qsVolume_Error;     // the system's reason when the volume could not be probed
    bool bOk() const { return bDrive_Opened && qsVolume_Error.isEmpty(); }
};
// Probes the volume and the device and derives the pattern from the volume, in that order.
cPoll_Result oPoll(cDrive &oDrive, cVolume &oVolume, cData &oData, const QString &qsDrive_Path,
                   const QString &qsVolume_Path);

// Writes the fill into the polled volume. When the volume is not known to lie on the polled
// device the operator is asked first; a no leaves the result eFill_Refused.
cFill_Result oFill(const cDrive &oDrive, const cVolume &oVolume, const cData &oData, cOperator &oOperator);
// The fill wrote its file until it was done or the volume was full.
bool bFill_Ok(const cFill_Result &oResult);
// The fill wrote some words, then the medium refused more (an I/O error): what it kept is for
// the read to say.
bool bFill_Refused_Writes(const cFill_Result &oResult);
// The fill wrote some words before an error (the medium's, or its file system's alarm at what
// the medium did): a read still tells what is on the medium.
bool bFill_Wrote_Then_Failed(const cFill_Result &oResult);

// Reads the polled device for the last poll's words and compares it with the fill in the
// polled volume. oLast_Fill: the fill this run made before, if any (a medium that refused its
// writes is judged by how much it took; after a fill stopped at a loss only where it wrote is
// read whole, unless bRead_All).
cRead_Result oRead(const cDrive &oDrive, const cVolume &oVolume, const cData &oData, cOperator &oOperator,
                   const cFill_Result &oLast_Fill = cFill_Result(), const bool bRead_All = false);
// The whole device was read.
bool bRead_Ok(const cRead_Result &oResult);
// Empty unless a read finds less of the fill than the fill just made with the same records
// wrote (the file deleted or cut meanwhile); then what the operator must be told, since
// the read checked less than was written.
QString qsFill_Lost(const cFill_Result &oFill, const cRead_Result &oRead);
// What a read of qsDevice is compared with: the fill in qsVolume and where it lies.
cFill_Layout oFill_Layout(const QString &qsVolume, const QString &qsDevice);
// The same found through qsDir (a path of the volume's directory by its descriptor), its files
// named by the volume's name.
cFill_Layout oFill_Layout(const cVolume &oVolume, const QString &qsDir, const QString &qsDevice);
// Where the file system does not say where the fill lies: where the read found it.
void vInfer_Placement(const cRead_Result &oResult, cFill_Layout &oLayout);

// One value of the poll: its caption, its section, and where it comes from.
class cPoll_Field
{
public:
    const char *pcCaption;
    int iSection; // 0 the device, 1 the volume, 2 the data
    QString (*qsValue)(const cDrive &oDrive, const cVolume &oVolume, const cData &oData);
};
const int iPoll_Fields = 12;
// The order the poll shows its values in, everywhere: the window's widgets follow it.
extern const cPoll_Field aoPoll_Fields[iPoll_Fields];
QStringList qslPoll_Values(const cDrive &oDrive, const cVolume &oVolume, const cData &oData);
QStringList qslPoll_Captions(); // as the window shows them
QStringList qslPoll_Sections(); // the three headings

#endif // FUNCTIONS_STEPS_H
