#ifndef FUNCTIONS_BATCH_H
#define FUNCTIONS_BATCH_H

#include "Functions_Options.h"

// --list: prints the media, in Russian or as JSON; iExit_Ok, or iExit_Failed when no list
// could be had.
int iRun_List(const cOptions &oOptions);

class cDrive;
class cVolume;
class cData;

// Runs the steps on the records it is given and prints their results; returns the exit
// code: iExit_Ok done, iExit_Failed a step failed, iExit_Medium_Failed the medium failed the
// check, iExit_Signal_Base + the signal that stopped it (SIGPIPE when standard output was
// closed).
int iRun_Batch(const cOptions &oOptions, cDrive &oDrive, cVolume &oVolume, cData &oData);

#endif // FUNCTIONS_BATCH_H
