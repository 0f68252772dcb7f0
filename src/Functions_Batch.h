#ifndef FUNCTIONS_BATCH_H
#define FUNCTIONS_BATCH_H

#include <QString>
#include <QStringList>

// The command line of the tool.
class cOptions
{
public:
    QString qsDevice = "/dev/sdb";
    QString qsVolume = "/documents_hdd/";
    bool bBatch = false;
    QStringList qslSteps; // poll, fill, read, clean in the order given
    bool bJson = false;
    bool bQuiet = false;
    bool bForce = false; // fill even a volume not known to lie on the device
    QString qsMap;       // PNG file for the device map after a read
    quint64 qui64Pattern = 0; // --pattern: the words a read looks for, 0 for the poll's
    bool bFull = false;       // fill on and read everything, even on a medium seen losing data
    bool bChoose = false;       // the window starts with the media chooser (no --device or --volume given)
    bool bList = false;         // print the media list (--json: as JSON) and end
    bool bExplain_Root = false; // only say why and how the tool needs administrator rights
    QString qsRoot_Reason;      // what failed when the launcher tried to get them
    QString qsUndecodable; // set by the entry: an argument that is not in the system's encoding
};

// Parses the arguments (program name first). Needs no application object, so that a usage
// error never reaches a platform plugin. Returns -1 to go on, otherwise the exit code: 0
// for --help or --version, 2 for a usage error. With bPrint the help, the version or the
// error and the usage text are printed (an application object must exist then).
int iParse_Options(const QStringList &qslArguments, cOptions &oOptions, const bool bPrint = true);

// Which application object the options need: widgets for the window, a core one for batch
// mode, a GUI one (offscreen) when batch mode draws a map.
enum eApp_Kind { eApp_Widgets, eApp_Core, eApp_Gui };
eApp_Kind eApp_For(const cOptions &oOptions);

// --list: prints the media, in Russian or as JSON; 0, or 1 when no list could be had.
int iRun_List(const cOptions &oOptions);

class cDrive;
class cVolume;
class cData;

// Runs the steps on the records it is given and prints their results; returns the exit
// code: 0 done, 1 a step failed, 3 the medium failed the check, 128 + the signal that
// stopped it (141 when standard output was closed).
int iRun_Batch(const cOptions &oOptions, cDrive &oDrive, cVolume &oVolume, cData &oData);

#endif // FUNCTIONS_BATCH_H
