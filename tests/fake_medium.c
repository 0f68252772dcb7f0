/* An nbdkit plugin that emulates a storage medium, for tests and the benchmark:
 *   nbdkit ./fake_medium.so size=BYTES [keep=BYTES] [mode=healthy|limit|wrap] [mask=BYTES]
 *          [cache=BYTES [cache_mode=strict|loose]] [log=BYTES] [fail_after=BYTES] [die_after=BYTES]
 *          [bad=FIRST-END[,FIRST-END...]] [flip=N]
 * Sizes take nbdkit's suffixes (K, M, G: powers of 1024). Blocks are 4 KiB.
 *   size        what the medium announces.
 *   mask        every address is first taken modulo mask (a power of two, at least 4 KiB), as
 *               a controller that ignores its high address lines does; the medium then has
 *               min(size, mask) bytes of its own, and the other parameters apply to those.
 *   keep        what it really stores of them (all when healthy or when not given).
 *   mode        healthy stores everything; limit drops writes at and beyond keep and reads
 *               zeros there, as a fake-capacity stick does; wrap maps every address modulo
 *               keep, as one whose controller wraps its address space does. keep < mask in
 *               limit mode gives a chain: the same hole in every mask period.
 *   cache       limit mode only: a write cache of this many bytes for the blocks written
 *               beyond keep, as the controllers of some fakes have, so that a read right
 *               after the write still finds the data. It holds the most recently written
 *               such blocks, the oldest evicted first.
 *   cache_mode  strict (default): a read beyond keep finds a block only while the cache
 *               holds that very block, else zeros. loose: it gets whatever the slot the
 *               block maps to holds (slot = block index modulo cache blocks), possibly
 *               another block's stale data.
 *   log         keeps only the last log bytes written, whatever their address, as a
 *               controller that writes a log and drops its oldest entries; a block whose
 *               last write is older than that reads as zeros.
 *   fail_after  once this many bytes have been written in all, every write fails with EIO;
 *               the write that crosses the mark stores its bytes up to it. Reads still work.
 *   die_after   once this many bytes have been written in all, every request fails with EIO,
 *               reads as well: a medium that died, or whose server was killed, mid-fill.
 *   bad         byte ranges, FIRST inclusive, END exclusive, any alignment: a read that
 *               overlaps one fails with EIO. Writes there succeed.
 *   flip        on read, the lowest bit of the first byte of every N-th block (block index
 *               % N == N-1) is flipped, the same way on every read.
 * bad and flip use the medium's own address (after the mask and the wrap), as the chip's
 * own cells would.
 * The bandwidth of a slow medium comes from nbdkit's rate filter (--filter=rate, in bits
 * per second). */
#define NBDKIT_API_VERSION 2
#include <nbdkit-plugin.h>

#include <errno.h>
#include <inttypes.h>
#include <pthread.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define THREAD_MODEL NBDKIT_THREAD_MODEL_PARALLEL
#define BLOCK 4096u

static int64_t i64Size = 0, i64Keep = -1, i64Mask = 0, i64Cache = 0, i64Log = 0, i64Fail_After = -1, i64Flip = 0;
static int64_t i64Die_After = -1;
static int64_t i64Space = 0; // the medium's own bytes: size, or mask when smaller
static enum { eHealthy, eLimit, eWrap } eMode = eHealthy;
static bool bLoose = false;
static struct { uint64_t ui64First, ui64End; } *astrBad = NULL;
static size_t stBad = 0;
static unsigned char *pucStore = NULL;

// The cache: slots of a block each. strict keeps them in a list from the oldest write to the
// newest, so a rewrite moves a block to the newest end and eviction takes the oldest.
static unsigned char *pucCache = NULL;
static int64_t i64Slots = 0;
static int64_t *ai64Owner = NULL;    // beyond-keep block index held by a slot, -1 when free
static int64_t *ai64Slot_Of = NULL;  // slot holding a beyond-keep block, -1 when not cached
static int64_t *ai64Prev = NULL, *ai64Next = NULL;
static int64_t i64Oldest = -1, i64Newest = -1;

// The write counter, in bytes, and for the log each stored block's counter after its last write.
static uint64_t ui64Written = 0;
static uint64_t *aui64Written_At = NULL;
static bool bStateful = false; // cache, log, fail_after or die_after: requests then take the lock
static pthread_mutex_t oLock = PTHREAD_MUTEX_INITIALIZER;

static int iParse_Ranges(const char *pcValue)
{
    char *pcCopy = strdup(pcValue);
    if (!pcCopy) { nbdkit_error("strdup: %m"); return -1; }
    int iResult = 0;
    char *pcSave = NULL;
    for (char *pcRange = strtok_r(pcCopy, ",", &pcSave); pcRange; pcRange = strtok_r(NULL, ",", &pcSave)) {
        char *pcDash = strchr(pcRange, '-');
        if (!pcDash) { nbdkit_error("bad: FIRST-END, not %s", pcRange); iResult = -1; break; }
        *pcDash = '\0';
        const int64_t i64First = nbdkit_parse_size(pcRange), i64End = nbdkit_parse_size(pcDash + 1);
        if (i64First < 0 || i64End <= i64First) { nbdkit_error("bad: an empty or unreadable range"); iResult = -1; break; }
        void *pNew = realloc(astrBad, (stBad + 1) * sizeof *astrBad);
        if (!pNew) { nbdkit_error("realloc: %m"); iResult = -1; break; }
        astrBad = pNew;
        astrBad[stBad].ui64First = (uint64_t)i64First;
        astrBad[stBad].ui64End = (uint64_t)i64End;
        stBad++;
    }
    free(pcCopy);
    return iResult;
}

static int iConfig(const char *pcKey, const char *pcValue)
{
    if (strcmp(pcKey, "size") == 0)
        return (i64Size = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
    if (strcmp(pcKey, "keep") == 0)
        return (i64Keep = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
    if (strcmp(pcKey, "mask") == 0)
        return (i64Mask = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
    if (strcmp(pcKey, "cache") == 0)
        return (i64Cache = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
    if (strcmp(pcKey, "log") == 0)
        return (i64Log = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
    if (strcmp(pcKey, "fail_after") == 0)
        return (i64Fail_After = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
    if (strcmp(pcKey, "die_after") == 0)
        return (i64Die_After = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
    if (strcmp(pcKey, "flip") == 0)
        return nbdkit_parse_int64_t("flip", pcValue, &i64Flip) < 0 || i64Flip < 0 ? -1 : 0;
    if (strcmp(pcKey, "bad") == 0)
        return iParse_Ranges(pcValue);
    if (strcmp(pcKey, "cache_mode") == 0) {
        if (strcmp(pcValue, "strict") == 0) bLoose = false;
        else if (strcmp(pcValue, "loose") == 0) bLoose = true;
        else { nbdkit_error("cache_mode: strict or loose"); return -1; }
        return 0;
    }
    if (strcmp(pcKey, "mode") == 0) {
        if (strcmp(pcValue, "healthy") == 0) eMode = eHealthy;
        else if (strcmp(pcValue, "limit") == 0) eMode = eLimit;
        else if (strcmp(pcValue, "wrap") == 0) eMode = eWrap;
        else { nbdkit_error("mode: healthy, limit or wrap"); return -1; }
        return 0;
    }
    nbdkit_error("unknown parameter %s", pcKey);
    return -1;
}

static void *pCalloc(int64_t i64Count, size_t stSize)
{
    void *p = calloc(i64Count > 0 ? (size_t)i64Count : 1, stSize);
    if (!p) nbdkit_error("calloc: %m");
    return p;
}

static int iConfig_Complete(void)
{
    if (i64Size <= 0) { nbdkit_error("size= is needed"); return -1; }
    if (i64Mask && (i64Mask < (int64_t)BLOCK || (i64Mask & (i64Mask - 1)))) {
        nbdkit_error("mask: a power of two of at least 4 KiB");
        return -1;
    }
    i64Space = i64Mask && i64Mask < i64Size ? i64Mask : i64Size;
    if (eMode == eHealthy || i64Keep < 0 || i64Keep > i64Space) i64Keep = i64Space;
    // Whole blocks keep the cache and the log per block, and the wrap block-aligned.
    if (i64Keep % BLOCK || i64Cache % BLOCK || i64Log % BLOCK) {
        nbdkit_error("keep, cache and log: whole 4 KiB blocks");
        return -1;
    }
    if (i64Keep == 0 && eMode == eWrap) { nbdkit_error("wrap needs keep > 0"); return -1; }
    if (i64Cache && eMode != eLimit) { nbdkit_error("cache works in mode=limit only"); return -1; }
    if (!(pucStore = pCalloc(i64Keep, 1))) return -1;
    if (i64Cache) {
        i64Slots = i64Cache / BLOCK;
        const int64_t i64Beyond = (i64Space - i64Keep + BLOCK - 1) / BLOCK;
        if (!(pucCache = pCalloc(i64Cache, 1)) || !(ai64Owner = pCalloc(i64Slots, sizeof *ai64Owner))
            || !(ai64Prev = pCalloc(i64Slots, sizeof *ai64Prev)) || !(ai64Next = pCalloc(i64Slots, sizeof *ai64Next))
            || !(ai64Slot_Of = pCalloc(i64Beyond, sizeof *ai64Slot_Of)))
            return -1;
        for (int64_t i = 0; i < i64Slots; i++) {
            ai64Owner[i] = -1;
            ai64Prev[i] = i - 1;
            ai64Next[i] = i + 1 < i64Slots ? i + 1 : -1;
        }
        for (int64_t i = 0; i < i64Beyond; i++) ai64Slot_Of[i] = -1;
        i64Oldest = 0;
        i64Newest = i64Slots - 1;
    }
    if (i64Log && !(aui64Written_At = pCalloc(i64Keep / BLOCK, sizeof *aui64Written_At))) return -1;
    bStateful = i64Cache || i64Log || i64Fail_After >= 0 || i64Die_After >= 0;
    return 0;
}

static void *pOpen(int iReadonly) { (void)iReadonly; return NBDKIT_HANDLE_NOT_NEEDED; }
static int64_t i64Get_Size(void *pHandle) { (void)pHandle; return i64Size; }

// The medium's own address of an announced one: the mask first, then the wrap.
static uint64_t ui64Medium_Address(uint64_t ui64At)
{
    if (i64Mask) ui64At &= (uint64_t)i64Mask - 1;
    if (eMode == eWrap) ui64At %= (uint64_t)i64Keep;
    return ui64At;
}

static bool bLog_Dropped(uint64_t ui64Block)
{
    return i64Log && ui64Written - aui64Written_At[ui64Block] >= (uint64_t)i64Log;
}

// Makes a slot the newest in the strict cache's order.
static void vCache_Touch(int64_t i64Slot)
{
    if (i64Slot == i64Newest) return;
    if (ai64Prev[i64Slot] >= 0) ai64Next[ai64Prev[i64Slot]] = ai64Next[i64Slot];
    else i64Oldest = ai64Next[i64Slot];
    ai64Prev[ai64Next[i64Slot]] = ai64Prev[i64Slot];
    ai64Prev[i64Slot] = i64Newest;
    ai64Next[i64Slot] = -1;
    ai64Next[i64Newest] = i64Slot;
    i64Newest = i64Slot;
}

// The cache slot for a beyond-keep address, -1 when a read finds nothing there.
static int64_t i64Cache_Read_Slot(uint64_t ui64At)
{
    if (!i64Cache) return -1;
    if (bLoose) return (int64_t)(ui64At / BLOCK % (uint64_t)i64Slots);
    return ai64Slot_Of[(ui64At - (uint64_t)i64Keep) / BLOCK];
}

// The cache slot a write to a beyond-keep address goes to, evicting the oldest when strict.
static int64_t i64Cache_Write_Slot(uint64_t ui64At, uint32_t ui32Length)
{
    if (bLoose) return (int64_t)(ui64At / BLOCK % (uint64_t)i64Slots);
    const int64_t i64Block = (int64_t)((ui64At - (uint64_t)i64Keep) / BLOCK);
    int64_t i64Slot = ai64Slot_Of[i64Block];
    if (i64Slot < 0) {
        i64Slot = i64Oldest;
        if (ai64Owner[i64Slot] >= 0) ai64Slot_Of[ai64Owner[i64Slot]] = -1;
        ai64Owner[i64Slot] = i64Block;
        ai64Slot_Of[i64Block] = i64Slot;
        // A partial write to a block the cache did not hold: the rest of it was never stored.
        if (ui32Length < BLOCK) memset(pucCache + (size_t)i64Slot * BLOCK, 0, BLOCK);
    }
    vCache_Touch(i64Slot);
    return i64Slot;
}

// One piece of a request, within one block of the medium.
static void vRead_Piece(uint64_t ui64At, unsigned char *pucBuffer, uint32_t ui32Length)
{
    if (ui64At < (uint64_t)i64Keep) {
        if (bLog_Dropped(ui64At / BLOCK)) memset(pucBuffer, 0, ui32Length);
        else memcpy(pucBuffer, pucStore + ui64At, ui32Length);
    } else {
        const int64_t i64Slot = i64Cache_Read_Slot(ui64At);
        if (i64Slot < 0) memset(pucBuffer, 0, ui32Length);
        else memcpy(pucBuffer, pucCache + (size_t)i64Slot * BLOCK + ui64At % BLOCK, ui32Length);
    }
    if (i64Flip && ui64At % BLOCK == 0 && ui64At / BLOCK % (uint64_t)i64Flip == (uint64_t)i64Flip - 1)
        pucBuffer[0] ^= 1;
}

static void vWrite_Piece(uint64_t ui64At, const unsigned char *pucBuffer, uint32_t ui32Length)
{
    if (ui64At < (uint64_t)i64Keep) {
        const uint64_t ui64Block = ui64At / BLOCK;
        // A block the log has dropped reads as zeros; a partial write must not revive the rest.
        if (ui32Length < BLOCK && bLog_Dropped(ui64Block)) memset(pucStore + ui64Block * BLOCK, 0, BLOCK);
        memcpy(pucStore + ui64At, pucBuffer, ui32Length);
        if (i64Log) aui64Written_At[ui64Block] = ui64Written + ui32Length;
    } else if (i64Cache) {
        const int64_t i64Slot = i64Cache_Write_Slot(ui64At, ui32Length);
        memcpy(pucCache + (size_t)i64Slot * BLOCK + ui64At % BLOCK, pucBuffer, ui32Length);
    }
    ui64Written += ui32Length;
}

// Splits a request at the medium's block boundaries, which the mask and the wrap keep aligned.
static void vPieces(uint64_t ui64Offset, uint32_t ui32Count, unsigned char *pucBuffer, bool bWrite)
{
    uint32_t ui32Done = 0;
    while (ui32Done < ui32Count) {
        const uint64_t ui64At = ui64Offset + ui32Done;
        const uint32_t ui32Room = BLOCK - (uint32_t)(ui64At % BLOCK);
        const uint32_t ui32Piece = ui32Room < ui32Count - ui32Done ? ui32Room : ui32Count - ui32Done;
        if (bWrite) vWrite_Piece(ui64Medium_Address(ui64At), pucBuffer + ui32Done, ui32Piece);
        else vRead_Piece(ui64Medium_Address(ui64At), pucBuffer + ui32Done, ui32Piece);
        ui32Done += ui32Piece;
    }
}

static bool bTouches_Bad(uint64_t ui64Offset, uint32_t ui32Count)
{
    for (uint32_t ui32Done = 0; ui32Done < ui32Count;) {
        const uint64_t ui64At = ui64Offset + ui32Done;
        const uint32_t ui32Room = BLOCK - (uint32_t)(ui64At % BLOCK);
        const uint32_t ui32Piece = ui32Room < ui32Count - ui32Done ? ui32Room : ui32Count - ui32Done;
        const uint64_t ui64First = ui64Medium_Address(ui64At), ui64End = ui64First + ui32Piece;
        for (size_t i = 0; i < stBad; i++)
            if (ui64First < astrBad[i].ui64End && ui64End > astrBad[i].ui64First) return true;
        ui32Done += ui32Piece;
    }
    return false;
}

static int iPread(void *pHandle, void *pBuffer, uint32_t ui32Count, uint64_t ui64Offset, uint32_t ui32Flags)
{
    (void)pHandle; (void)ui32Flags;
    if (stBad && bTouches_Bad(ui64Offset, ui32Count)) {
        nbdkit_set_error(EIO);
        return -1;
    }
    if (bStateful) pthread_mutex_lock(&oLock);
    const bool bDead = i64Die_After >= 0 && ui64Written >= (uint64_t)i64Die_After;
    if (!bDead) vPieces(ui64Offset, ui32Count, pBuffer, false);
    if (bStateful) pthread_mutex_unlock(&oLock);
    if (bDead) {
        nbdkit_set_error(EIO);
        return -1;
    }
    return 0;
}

static int iPwrite(void *pHandle, const void *pBuffer, uint32_t ui32Count, uint64_t ui64Offset, uint32_t ui32Flags)
{
    (void)pHandle; (void)ui32Flags;
    if (!bStateful) {
        vPieces(ui64Offset, ui32Count, (unsigned char *)pBuffer, true);
        return 0;
    }
    pthread_mutex_lock(&oLock);
    uint32_t ui32Allowed = ui32Count;
    const int64_t ai64Marks[2] = {i64Fail_After, i64Die_After};
    for (int i = 0; i < 2; i++)
        if (ai64Marks[i] >= 0 && ui64Written + ui32Allowed > (uint64_t)ai64Marks[i])
            ui32Allowed = ui64Written >= (uint64_t)ai64Marks[i] ? 0 : (uint32_t)((uint64_t)ai64Marks[i] - ui64Written);
    vPieces(ui64Offset, ui32Allowed, (unsigned char *)pBuffer, true);
    pthread_mutex_unlock(&oLock);
    if (ui32Allowed < ui32Count) {
        nbdkit_set_error(EIO);
        return -1;
    }
    return 0;
}

static int iFlush(void *pHandle, uint32_t ui32Flags) { (void)pHandle; (void)ui32Flags; return 0; }

static void vUnload(void)
{
    free(pucStore); free(pucCache); free(ai64Owner); free(ai64Slot_Of); free(ai64Prev); free(ai64Next);
    free(aui64Written_At); free(astrBad);
}

static struct nbdkit_plugin oPlugin = {
    .name = "fake-medium",
    .config = iConfig,
    .config_complete = iConfig_Complete,
    .config_help = "size=BYTES [keep=BYTES] [mode=healthy|limit|wrap] [mask=BYTES] [cache=BYTES]\n"
                   "[cache_mode=strict|loose] [log=BYTES] [fail_after=BYTES] [die_after=BYTES]\n"
                   "[bad=FIRST-END,...] [flip=N]",
    .unload = vUnload,
    .open = pOpen,
    .get_size = i64Get_Size,
    .pread = iPread,
    .pwrite = iPwrite,
    .flush = iFlush,
};
NBDKIT_REGISTER_PLUGIN(oPlugin)
