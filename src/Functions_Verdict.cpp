#include "Functions_Verdict.h"

#include "Functions_Data.h"
#include "Functions_Topology.h"

#include <algorithm>

#include <sys/stat.h>

void vCompare_With_Volume(cRead_Result &oResult, const QString &qsVolume)
{
    const cBit_Table &oTable = oResult.oTable;
    if (!oTable.bAllocated())
        return;
    oResult.iOn_Device = iVolume_On_Device(qsVolume, oResult.qsDevice);
    oResult.qui64Strip_End = oResult.qui64Table_Count;

    const QString qsFill = qsFill_File_Path(qsVolume);
    struct stat strFill;
    if (!qsVolume.isEmpty() && lstat(qsFill.toStdString().c_str(), &strFill) == 0 && S_ISREG(strFill.st_mode)) {
        oResult.qsFill_Path = qsFill;
        oResult.qui64Fill_Words = quint64(strFill.st_size) / 8;
        oResult.qui64Fill_Tracked = std::min(oResult.qui64Fill_Words, oResult.qui64Table_Count);
        oResult.qui64Fill_Found = oTable.qui64Count(0, oResult.qui64Fill_Tracked);
        oResult.qui64Strip_End = oResult.qui64Fill_Tracked;
        const int iMax_Ranges = 8;
        quint64 qui64From = 0;
        while (oResult.qvMissing.size() < iMax_Ranges) {
            const quint64 qui64First = oTable.qui64Find(false, qui64From, oResult.qui64Fill_Tracked);
            if (qui64First >= oResult.qui64Fill_Tracked)
                break;
            const quint64 qui64End = oTable.qui64Find(true, qui64First, oResult.qui64Fill_Tracked);
            oResult.qvMissing.append(qMakePair(qui64First, qui64End - 1));
            qui64From = qui64End;
        }
    }

    const quint64 qui64Buckets = std::min<quint64>(1024, oResult.qui64Strip_End);
    if (qui64Buckets > 0) {
        oResult.qui64Strip_Bucket = (oResult.qui64Strip_End + qui64Buckets - 1) / qui64Buckets;
        for (quint64 b = 0; b * oResult.qui64Strip_Bucket < oResult.qui64Strip_End; ++b) {
            const quint64 qui64First = b * oResult.qui64Strip_Bucket;
            oResult.qvStrip_Found.append(oTable.qui64Count(qui64First, qui64First + oResult.qui64Strip_Bucket));
        }
    }
    oResult.oTable.vRelease();
}
