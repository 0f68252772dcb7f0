/* An nbdkit plugin that emulates a storage medium, for tests and the benchmark:
 *   nbdkit ./fake_medium.so size=BYTES [keep=BYTES] [mode=healthy|limit|wrap]
 * size is what the medium announces; keep is what it really stores (all of it when
 * healthy). mode=limit drops writes at and beyond keep and reads zeros there, as a
 * fake-capacity stick does; mode=wrap maps every address modulo keep, as one whose
 * controller wraps its address space does. */
#define NBDKIT_API_VERSION 2
#include <nbdkit-plugin.h>

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define THREAD_MODEL NBDKIT_THREAD_MODEL_PARALLEL

static int64_t i64Size = 0, i64Keep = -1;
static enum { eHealthy, eLimit, eWrap } eMode = eHealthy;
static unsigned char *pucStore = NULL;

static int iConfig(const char *pcKey, const char *pcValue)
{
    if (strcmp(pcKey, "size") == 0)
        return (i64Size = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
    if (strcmp(pcKey, "keep") == 0)
        return (i64Keep = nbdkit_parse_size(pcValue)) < 0 ? -1 : 0;
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

static int iConfig_Complete(void)
{
    if (i64Size <= 0) { nbdkit_error("size= is needed"); return -1; }
    if (eMode == eHealthy || i64Keep < 0 || i64Keep > i64Size) i64Keep = i64Size;
    pucStore = calloc(1, (size_t)i64Keep);
    if (!pucStore) { nbdkit_error("calloc: %m"); return -1; }
    return 0;
}

static void *pOpen(int iReadonly) { (void)iReadonly; return NBDKIT_HANDLE_NOT_NEEDED; }
static int64_t i64Get_Size(void *pHandle) { (void)pHandle; return i64Size; }

/* Calls fPiece(store offset or -1, buffer offset, length) for the pieces of a request. */
static void vPieces(uint64_t ui64Offset, uint32_t ui32Count, void (*fPiece)(int64_t, uint32_t, uint32_t, void *), void *pBuffer)
{
    uint32_t ui32Done = 0;
    while (ui32Done < ui32Count) {
        const uint64_t ui64At = ui64Offset + ui32Done;
        uint64_t ui64Room;
        int64_t i64Store;
        if (eMode == eWrap) {
            i64Store = (int64_t)(ui64At % (uint64_t)i64Keep);
            ui64Room = (uint64_t)i64Keep - (uint64_t)i64Store;
        } else if (ui64At < (uint64_t)i64Keep) {
            i64Store = (int64_t)ui64At;
            ui64Room = (uint64_t)i64Keep - ui64At;
        } else {
            i64Store = -1;
            ui64Room = ui32Count - ui32Done;
        }
        const uint32_t ui32Piece = ui64Room < ui32Count - ui32Done ? (uint32_t)ui64Room : ui32Count - ui32Done;
        fPiece(i64Store, ui32Done, ui32Piece, pBuffer);
        ui32Done += ui32Piece;
    }
}

static void vRead_Piece(int64_t i64Store, uint32_t ui32At, uint32_t ui32Length, void *pBuffer)
{
    if (i64Store < 0) memset((char *)pBuffer + ui32At, 0, ui32Length);
    else memcpy((char *)pBuffer + ui32At, pucStore + i64Store, ui32Length);
}

static void vWrite_Piece(int64_t i64Store, uint32_t ui32At, uint32_t ui32Length, void *pBuffer)
{
    if (i64Store >= 0) memcpy(pucStore + i64Store, (const char *)pBuffer + ui32At, ui32Length);
}

static int iPread(void *pHandle, void *pBuffer, uint32_t ui32Count, uint64_t ui64Offset, uint32_t ui32Flags)
{
    (void)pHandle; (void)ui32Flags;
    vPieces(ui64Offset, ui32Count, vRead_Piece, pBuffer);
    return 0;
}

static int iPwrite(void *pHandle, const void *pBuffer, uint32_t ui32Count, uint64_t ui64Offset, uint32_t ui32Flags)
{
    (void)pHandle; (void)ui32Flags;
    vPieces(ui64Offset, ui32Count, vWrite_Piece, (void *)pBuffer);
    return 0;
}

static int iFlush(void *pHandle, uint32_t ui32Flags) { (void)pHandle; (void)ui32Flags; return 0; }

static struct nbdkit_plugin oPlugin = {
    .name = "fake-medium",
    .config = iConfig,
    .config_complete = iConfig_Complete,
    .open = pOpen,
    .get_size = i64Get_Size,
    .pread = iPread,
    .pwrite = iPwrite,
    .flush = iFlush,
};
NBDKIT_REGISTER_PLUGIN(oPlugin)
