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
    QStringList qslSteps; // poll, fill, read in the order given
    bool bJson = false;
    bool bQuiet = false;
    QString qsMap; // PNG file for the device map after a read
};

// Which application object the command line needs, decided before one exists: widgets
// for the window, a core one for batch mode, help and version, a GUI one (offscreen) when
// batch mode draws a map.
enum eApp_Kind { eApp_Widgets, eApp_Core, eApp_Gui };
eApp_Kind eApp_For(int argc, char **argv);

// Parses the arguments (program name first). Returns -1 to go on, otherwise the exit
// code: 0 after --help or --version, 2 for a usage error (the message and the usage text
// are on standard error).
int iParse_Options(const QStringList &qslArguments, cOptions &oOptions);

// Runs the steps on the shared records and prints their results; returns the exit code.
int iRun_Batch(const cOptions &oOptions);

#endif // FUNCTIONS_BATCH_H
