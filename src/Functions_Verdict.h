#ifndef FUNCTIONS_VERDICT_H
#define FUNCTIONS_VERDICT_H

#include "Functions_Results.h"
#include "Functions_Table.h"

#include <vector>

// Compares a finished read with the fill and writes the verdict into oResult.oVerdict.
// It asks the system nothing: all it needs is in the read and the layout.
void vJudge(cRead_Result &oResult, const cFill_Layout &oLayout);
// The index ranges found anywhere, from runs sorted by first index.
tRanges qvFound_Indexes(const std::vector<cRun> &vecBy_Index);

#endif // FUNCTIONS_VERDICT_H
