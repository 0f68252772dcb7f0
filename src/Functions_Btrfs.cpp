#include "Functions_Btrfs.h"

#include "Functions_Files.h"
#include "Functions_Report_Texts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include <endian.h>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// One chunk: its logical length, and where its first stripe starts on the device.
class cChunk
{
public:
    quint64 qui64Length;
    quint64 qui64Physical;
};

// Takes one chunk item of the tree search's answer; false where its profile has no single
// place per word on one device.
bool bTake_Chunk(const char *pcItem, const quint32 ui32Length, const quint64 qui64Logical,
                 std::map<quint64, cChunk> *pmapChunks, QString *pqsWhy)
{
    struct btrfs_chunk strChunk;
    if (ui32Length < sizeof strChunk) {
        *pqsWhy = qsBtrfs_Profile_Why();
        return false;
    }
    std::memcpy(&strChunk, pcItem, sizeof strChunk); // the answer's items are not aligned
    const quint64 qui64Profile = le64toh(strChunk.type) & BTRFS_BLOCK_GROUP_PROFILE_MASK;
    if ((qui64Profile != 0 && qui64Profile != BTRFS_BLOCK_GROUP_DUP) || le16toh(strChunk.num_stripes) == 0) {
        *pqsWhy = qsBtrfs_Profile_Why();
        return false;
    }
    (*pmapChunks)[qui64Logical] = {le64toh(strChunk.length), le64toh(strChunk.stripe.offset)};
    return true;
}

// Every chunk of the volume, by logical start, read with the tree search on the chunk tree.
bool bRead_Chunks(const int iFD, std::map<quint64, cChunk> *pmapChunks, QString *pqsWhy)
{
    struct btrfs_ioctl_search_args strArgs;
    quint64 qui64From = 0;
    for (;;) {
        std::memset(&strArgs, 0, sizeof strArgs);
        btrfs_ioctl_search_key &strKey = strArgs.key;
        strKey.tree_id = BTRFS_CHUNK_TREE_OBJECTID;
        strKey.min_objectid = strKey.max_objectid = BTRFS_FIRST_CHUNK_TREE_OBJECTID;
        strKey.min_type = strKey.max_type = BTRFS_CHUNK_ITEM_KEY;
        strKey.min_offset = qui64From;
        strKey.max_offset = strKey.max_transid = ~quint64(0);
        strKey.nr_items = 4096;
        if (ioctl(iFD, BTRFS_IOC_TREE_SEARCH, &strArgs) != 0) {
            *pqsWhy = qsBtrfs_Chunks_Failed_Why(qsSystem_Reason(errno));
            return false;
        }
        if (strKey.nr_items == 0)
            return !pmapChunks->empty();
        size_t stAt = 0;
        for (quint32 i = 0; i < strKey.nr_items; ++i) {
            btrfs_ioctl_search_header strHeader;
            std::memcpy(&strHeader, strArgs.buf + stAt, sizeof strHeader);
            stAt += sizeof strHeader;
            if (strHeader.type == BTRFS_CHUNK_ITEM_KEY &&
                !bTake_Chunk(strArgs.buf + stAt, strHeader.len, strHeader.offset, pmapChunks, pqsWhy))
                return false;
            stAt += strHeader.len;
            qui64From = strHeader.offset + 1;
        }
        if (qui64From == 0) // the last possible key was read
            return true;
    }
}

// The number of devices the volume is made on.
bool bOne_Device(const int iFD, QString *pqsWhy)
{
    struct btrfs_ioctl_fs_info_args strInfo;
    std::memset(&strInfo, 0, sizeof strInfo);
    if (ioctl(iFD, BTRFS_IOC_FS_INFO, &strInfo) != 0) {
        *pqsWhy = qsBtrfs_Chunks_Failed_Why(qsSystem_Reason(errno));
        return false;
    }
    if (strInfo.num_devices != 1) {
        *pqsWhy = qsBtrfs_Profile_Why();
        return false;
    }
    return true;
}

} // namespace

bool bBtrfs_Physical(const QString &qsPath, std::vector<cRun> *pvecRuns, QString *pqsWhy)
{
    const int iFD = open(qsPath.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (iFD < 0) {
        *pqsWhy = QString("%1: %2").arg(qsPath, qsSystem_Reason(errno));
        return false;
    }
    std::map<quint64, cChunk> mapChunks;
    const bool bRead = bOne_Device(iFD, pqsWhy) && bRead_Chunks(iFD, &mapChunks, pqsWhy);
    close(iFD);
    if (!bRead)
        return false;
    std::vector<cRun> vecPhysical;
    for (cRun oRun : *pvecRuns) {
        while (oRun.qui64Count > 0) {
            auto it = mapChunks.upper_bound(oRun.qui64Offset);
            if (it == mapChunks.begin() ||
                oRun.qui64Offset >= std::prev(it)->first + std::prev(it)->second.qui64Length) {
                *pqsWhy = qsBtrfs_Unmapped_Why(oRun.qui64Offset);
                return false;
            }
            --it;
            const quint64 qui64Into = oRun.qui64Offset - it->first;
            const quint64 qui64Words = std::min(oRun.qui64Count, (it->second.qui64Length - qui64Into) / 8);
            if (qui64Words == 0) { // a chunk that ends inside a word: no such volume is made
                *pqsWhy = qsBtrfs_Unmapped_Why(oRun.qui64Offset);
                return false;
            }
            vecPhysical.push_back({oRun.qui64First, qui64Words, it->second.qui64Physical + qui64Into});
            oRun.qui64First += qui64Words;
            oRun.qui64Count -= qui64Words;
            oRun.qui64Offset += 8 * qui64Words;
        }
    }
    *pvecRuns = std::move(vecPhysical);
    return true;
}
