#ifndef FUNCTIONS_OPTIONS_H
#define FUNCTIONS_OPTIONS_H

#include <QString>
#include <QStringList>

#include <cstdio>

// The tool's exit status, which scripts read: the entry's and batch mode's.
const int iExit_Ok = 0;            // done; --help or --version
const int iExit_Failed = 1;        // a step, the media list or getting root failed
const int iExit_Usage = 2;         // the command line is wrong
const int iExit_Medium_Failed = 3; // the medium failed the check
const int iExit_Signal_Base = 128; // plus the signal that stopped the run (SIGPIPE: standard output was closed)
// What iParse_Options returns when the tool is to go on rather than end.
const int iOptions_Go_On = -1;

// The command line of the tool.
class cOptions
{
public:
    QString qsDevice = "/dev/sdb";
    QString qsVolume = "/documents_hdd/";
    bool bBatch = false;
    QStringList qslSteps; // poll, probe, fill, read, clean in the order given
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
// error never reaches a platform plugin. Returns iOptions_Go_On to go on, otherwise the exit
// code: iExit_Ok for --help or --version, iExit_Usage for a usage error. With bPrint the
// help, the version or the error and the usage text are printed (an application object must
// exist then).
int iParse_Options(const QStringList &qslArguments, cOptions &oOptions, const bool bPrint = true);

// Which application object the options need: widgets for the window, a core one for batch
// mode, a GUI one (offscreen) when batch mode draws a map.
enum eApp_Kind { eApp_Widgets, eApp_Core, eApp_Gui };
eApp_Kind eApp_For(const cOptions &oOptions);

// Writes to standard output or error at once, for the help here and batch mode's results;
// false once the reader is gone (a closed pipe).
bool bWrite_Stream(FILE *pFile, const QString &qsText);

#endif // FUNCTIONS_OPTIONS_H
