#include "Functions_Tsk.h"

#include "Functions_Report_Texts.h"

#include <tsk/libtsk.h>

#include <algorithm>
#include <memory>

namespace {

// One file of a file system on a device, opened read-only; each member null where it failed.
class cTsk_File
{
public:
    cTsk_File(const QString &qsFs_Device, const QString &qsIn_Fs)
    {
        const QByteArray qbaDevice = qsFs_Device.toLocal8Bit();
        // A device is a raw image. Only the file systems whose FUSE drivers do not say where a
        // file lies are tried, and ext, whose FIEMAP its structures confirm: the detection of
        // every kind (YAFFS2's above all) read much of the device, which on a slow medium took
        // longer than the fill's checks may wait, while the writers ran on.
        pImg.reset(tsk_img_open_sing(qbaDevice.constData(), TSK_IMG_TYPE_RAW, 0));
        for (const TSK_FS_TYPE_ENUM eType : {TSK_FS_TYPE_FAT_DETECT, TSK_FS_TYPE_NTFS_DETECT, TSK_FS_TYPE_EXT_DETECT})
            if (pImg && !pFs)
                pFs.reset(tsk_fs_open_img(pImg.get(), 0, eType));
        if (pFs)
            pFile.reset(tsk_fs_file_open(pFs.get(), nullptr, qsIn_Fs.toUtf8().constData()));
    }
    // TSK's own text of its last error, for the reason.
    static QString qsError() { return QString::fromLocal8Bit(tsk_error_get()); }

    std::unique_ptr<TSK_IMG_INFO, decltype(&tsk_img_close)> pImg{nullptr, &tsk_img_close};
    std::unique_ptr<TSK_FS_INFO, decltype(&tsk_fs_close)> pFs{nullptr, &tsk_fs_close};
    std::unique_ptr<TSK_FS_FILE, decltype(&tsk_fs_file_close)> pFile{nullptr, &tsk_fs_file_close};
};

// Adds the words [qui64From, qui64To) of the part (indexes from its start) that one run of
// blocks holds, joined to the run before where they follow it on the device too.
void vAdd_Words(const cFill_Part &oPart, const quint64 qui64From, const quint64 qui64To, const quint64 qui64Offset,
                std::vector<cRun> *pvecRuns)
{
    const quint64 qui64End = std::min(qui64To, oPart.qui64Words);
    if (qui64From >= qui64End)
        return;
    const cRun oRun{oPart.qui64First + qui64From, qui64End - qui64From, qui64Offset};
    if (!pvecRuns->empty() && pvecRuns->back().qui64End() == oRun.qui64First &&
        pvecRuns->back().qui64Offset_End() == oRun.qui64Offset)
        pvecRuns->back().qui64Count += oRun.qui64Count;
    else
        pvecRuns->push_back(oRun);
}

// A little-endian field of the boot sector.
quint64 qui64Field(const unsigned char *pucSector, const int iAt, const int iBytes)
{
    quint64 qui64Value = 0;
    for (int i = iBytes - 1; i >= 0; --i)
        qui64Value = (qui64Value << 8) | pucSector[iAt + i];
    return qui64Value;
}

TSK_WALK_RET_ENUM eCount_Block(const TSK_FS_BLOCK *, void *pvCount)
{
    ++*static_cast<quint64 *>(pvCount);
    return TSK_WALK_CONT;
}

} // namespace

bool bTsk_Part_Runs(const QString &qsFs_Device, const QString &qsIn_Fs, const cFill_Part &oPart,
                    std::vector<cRun> *pvecRuns, QString *pqsWhy)
{
    const cTsk_File oFile(qsFs_Device, qsIn_Fs);
    if (!oFile.pFile) {
        *pqsWhy = qsTsk_Failed_Why(qsFs_Device, cTsk_File::qsError());
        return false;
    }
    const TSK_FS_ATTR *pAttr = tsk_fs_file_attr_get(oFile.pFile.get());
    if (!pAttr) {
        *pqsWhy = qsTsk_Failed_Why(qsFs_Device, cTsk_File::qsError());
        return false;
    }
    // Data kept in the file's own record (small NTFS files), or stored compressed, does not
    // lie word for word in blocks of its own.
    if (!(pAttr->flags & TSK_FS_ATTR_NONRES) || (pAttr->flags & (TSK_FS_ATTR_COMP | TSK_FS_ATTR_ENC))) {
        *pqsWhy = qsExtents_Encoded_Why();
        return false;
    }
    const quint64 qui64Block = oFile.pFs->block_size;
    if (qui64Block == 0 || qui64Block % 8 != 0) {
        *pqsWhy = qsExtents_Unaligned_Why();
        return false;
    }
    // Past the valid data length (NTFS's initsize) a file reads as zeros: nothing of the fill
    // lies there.
    const quint64 qui64Valid = quint64(std::max<TSK_OFF_T>(0, std::min(pAttr->size, pAttr->nrd.initsize)));
    for (const TSK_FS_ATTR_RUN *pRun = pAttr->nrd.run; pRun; pRun = pRun->next) {
        if (pRun->flags & (TSK_FS_ATTR_RUN_FLAG_FILLER | TSK_FS_ATTR_RUN_FLAG_SPARSE | TSK_FS_ATTR_RUN_FLAG_ENCRYPTED))
            continue; // no place on the device: a hole, or a run the structures lost
        const quint64 qui64From = pRun->offset * qui64Block / 8;
        const quint64 qui64To = std::min((pRun->offset + pRun->len) * qui64Block, qui64Valid) / 8;
        vAdd_Words(oPart, qui64From, qui64To, pRun->addr * qui64Block, pvecRuns);
    }
    return true;
}

qint64 qi64Tsk_File_Size(const QString &qsFs_Device, const QString &qsIn_Fs)
{
    const cTsk_File oFile(qsFs_Device, qsIn_Fs);
    if (!oFile.pFile || !oFile.pFile->meta)
        return -1;
    return qint64(oFile.pFile->meta->size);
}

bool bTsk_Fat_Space(const QString &qsFs_Device, quint64 *pqui64Cluster_Bytes, quint64 *pqui64Clusters,
                    quint64 *pqui64Free)
{
    std::unique_ptr<TSK_IMG_INFO, decltype(&tsk_img_close)> pImg(
        tsk_img_open_sing(qsFs_Device.toLocal8Bit().constData(), TSK_IMG_TYPE_RAW, 0), &tsk_img_close);
    std::unique_ptr<TSK_FS_INFO, decltype(&tsk_fs_close)> pFs(
        pImg ? tsk_fs_open_img(pImg.get(), 0, TSK_FS_TYPE_FAT_DETECT) : nullptr, &tsk_fs_close);
    unsigned char aucBoot[512];
    if (!pFs || tsk_fs_read(pFs.get(), 0, reinterpret_cast<char *>(aucBoot), sizeof aucBoot) != sizeof aucBoot)
        return false;
    // TSK's blocks of a FAT are its sectors; the boot sector tells how they make clusters.
    const quint64 qui64Sector = qui64Field(aucBoot, 11, 2), qui64Per_Cluster = aucBoot[13];
    const quint64 qui64Root = (qui64Field(aucBoot, 17, 2) * 32 + qui64Sector - 1) / std::max<quint64>(qui64Sector, 1);
    const quint64 qui64Fat = qui64Field(aucBoot, 22, 2) ? qui64Field(aucBoot, 22, 2) : qui64Field(aucBoot, 36, 4);
    const quint64 qui64Total = qui64Field(aucBoot, 19, 2) ? qui64Field(aucBoot, 19, 2) : qui64Field(aucBoot, 32, 4);
    const quint64 qui64Data = qui64Field(aucBoot, 14, 2) + aucBoot[16] * qui64Fat + qui64Root;
    if (qui64Sector != pFs->block_size || qui64Per_Cluster == 0 || qui64Data >= qui64Total ||
        qui64Total - 1 > pFs->last_block)
        return false;
    *pqui64Cluster_Bytes = qui64Sector * qui64Per_Cluster;
    *pqui64Clusters = (qui64Total - qui64Data) / qui64Per_Cluster;
    quint64 qui64Free_Sectors = 0;
    if (*pqui64Clusters == 0 ||
        tsk_fs_block_walk(pFs.get(), qui64Data, qui64Data + *pqui64Clusters * qui64Per_Cluster - 1,
                          TSK_FS_BLOCK_WALK_FLAG_ENUM(TSK_FS_BLOCK_WALK_FLAG_UNALLOC | TSK_FS_BLOCK_WALK_FLAG_AONLY),
                          eCount_Block, &qui64Free_Sectors) != 0)
        return false;
    *pqui64Free = qui64Free_Sectors / qui64Per_Cluster;
    return true;
}
