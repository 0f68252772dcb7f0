#include "Functions_Devices.h"

#include <algorithm>

namespace {

int iRank(const cDevice_Entry &oDevice)
{
    if (oDevice.bSystem)
        return 3;
    if (oDevice.bUsb())
        return 0;
    return oDevice.bRemovable ? 1 : 2;
}

} // namespace

bool bSystem_Mount(const QString &qsMount)
{
    return qsMount == "/" || qsMount == "/boot" || qsMount == "/boot/efi" || qsMount == "/usr" || qsMount == "[SWAP]";
}

void vMark_System(cDevice_Entry &oDisk)
{
    oDisk.bSystem = bSystem_Mount(oDisk.qsMount);
    for (const cDevice_Entry &oPart : oDisk.qvParts)
        oDisk.bSystem = oDisk.bSystem || bSystem_Mount(oPart.qsMount);
    for (cDevice_Entry &oPart : oDisk.qvParts) {
        oPart.bSystem = oDisk.bSystem;
        if (oPart.qsTransport.isEmpty())
            oPart.qsTransport = oDisk.qsTransport;
    }
}

void vSort_Devices(QVector<cDevice_Entry> &qvDevices)
{
    std::stable_sort(qvDevices.begin(), qvDevices.end(), [](const cDevice_Entry &oA, const cDevice_Entry &oB) {
        return iRank(oA) != iRank(oB) ? iRank(oA) < iRank(oB) : oA.qsName < oB.qsName;
    });
}
