#ifndef FUNCTIONS_VERDICT_H
#define FUNCTIONS_VERDICT_H

#include "Functions_Reader.h"

// Compares a finished read with the fill file in qsVolume (volume path ending in "/"),
// summarises the presence table into the strip and the missing ranges, and releases it.
void vCompare_With_Volume(cRead_Result &oResult, const QString &qsVolume);

#endif // FUNCTIONS_VERDICT_H
