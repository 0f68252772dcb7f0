// The records' own fill and read for callers that have nothing but the records: the steps run
// with the default operator, and what went wrong is told through it, since these calls return
// nothing. Here, above the report, so that the records' files need not know its texts.
#include "Functions_Data.h"
#include "Functions_Drive.h"
#include "Functions_Operator.h"
#include "Functions_Report.h"
#include "Functions_Report_Texts.h"
#include "Functions_Core.h"

void cData::vWrite_Data(cVolume oVolume)
{
    const std::unique_ptr<cOperator> pOperator = pDefault_Operator();
    cFill_Result oResult;
    vWrite_Data(oVolume, *pOperator, oResult);
    if (!bFill_Ran(oResult))
        pOperator->vTell(qsError_Heading(), qsFill_Failure(oResult, pOperator->qsPoll_First()), iMsgBox_Critical_Icon);
    else if (!bFill_Ok(oResult))
        pOperator->vTell(qsFill_Heading(oResult), qsFill_Summary(oResult), iFill_Icon(oResult));
}

void cDrive::vRead_Data(quint64 qui64Pattern, quint64 qui64Data_Part)
{
    const std::unique_ptr<cOperator> pOperator = pDefault_Operator();
    cRead_Result oResult;
    vRead_Data(qui64Pattern, qui64Data_Part, *pOperator, oResult);
    if (!bRead_Ran(oResult))
        pOperator->vTell(qsError_Heading(), qsRead_Failure(oResult, pOperator->qsPoll_First()), iMsgBox_Critical_Icon);
    else if (oResult.eStatus == eRead_Shrunk) // a cancel was the operator's own
        pOperator->vTell(qsRead_Heading(oResult), qsRead_Summary(oResult), iRead_Icon(oResult));
}
