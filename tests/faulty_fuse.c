/* A one-file FUSE file system for tests: it serves an image file as /disk.img and fails
 * every read that reaches the byte range [BAD_START, BAD_END) with EIO, like a disk with
 * unreadable sectors.
 *
 *   faulty_fuse IMAGE BAD_START BAD_END MOUNTPOINT [fuse options]
 * With FAULTY_FUSE_DELAY_MS set, every read waits that long first: a slow disk. With
 * FAULTY_FUSE_WRITABLE set the image is served writable (a loop device and a file system can
 * be put on it), and FAULTY_FUSE_WRITE_DELAY_MS slows every write; stopping the server
 * (SIGSTOP) then stalls the writes of whatever lies on it.
 */
#define FUSE_USE_VERSION 31

#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char *pcImage;
static off_t offBad_Start, offBad_End;
static int iImage_FD = -1;
static useconds_t uiDelay_Us = 0, uiWrite_Delay_Us = 0;
static int bWritable = 0;

static int iGetattr(const char *pcPath, struct stat *pStat, struct fuse_file_info *pInfo)
{
    (void)pInfo;
    memset(pStat, 0, sizeof *pStat);
    if (strcmp(pcPath, "/") == 0) {
        pStat->st_mode = S_IFDIR | 0755;
        pStat->st_nlink = 2;
        return 0;
    }
    if (strcmp(pcPath, "/disk.img") != 0)
        return -ENOENT;
    struct stat strImage;
    if (fstat(iImage_FD, &strImage) != 0)
        return -errno;
    pStat->st_mode = S_IFREG | (bWritable ? 0644 : 0444);
    pStat->st_nlink = 1;
    pStat->st_size = strImage.st_size;
    return 0;
}

static int iReaddir(const char *pcPath, void *pBuffer, fuse_fill_dir_t fFill, off_t offOffset,
                    struct fuse_file_info *pInfo, enum fuse_readdir_flags eFlags)
{
    (void)offOffset;
    (void)pInfo;
    (void)eFlags;
    if (strcmp(pcPath, "/") != 0)
        return -ENOENT;
    fFill(pBuffer, ".", NULL, 0, 0);
    fFill(pBuffer, "..", NULL, 0, 0);
    fFill(pBuffer, "disk.img", NULL, 0, 0);
    return 0;
}

static int iOpen(const char *pcPath, struct fuse_file_info *pInfo)
{
    if (strcmp(pcPath, "/disk.img") != 0)
        return -ENOENT;
    pInfo->direct_io = 1; /* no page cache: every read comes here and may fail */
    return 0;
}

static int iRead(const char *pcPath, char *pcBuffer, size_t stSize, off_t offOffset, struct fuse_file_info *pInfo)
{
    (void)pcPath;
    (void)pInfo;
    if (uiDelay_Us > 0)
        usleep(uiDelay_Us);
    if (offOffset >= offBad_Start && offOffset < offBad_End)
        return -EIO;
    if (offOffset < offBad_Start && offOffset + (off_t)stSize > offBad_Start)
        stSize = (size_t)(offBad_Start - offOffset); /* the good part first, then the error */
    const ssize_t ssRead = pread(iImage_FD, pcBuffer, stSize, offOffset);
    return ssRead < 0 ? -errno : (int)ssRead;
}

static int iWrite(const char *pcPath, const char *pcBuffer, size_t stSize, off_t offOffset,
                  struct fuse_file_info *pInfo)
{
    (void)pcPath;
    (void)pInfo;
    if (!bWritable)
        return -EROFS;
    if (uiWrite_Delay_Us > 0)
        usleep(uiWrite_Delay_Us);
    const ssize_t ssWritten = pwrite(iImage_FD, pcBuffer, stSize, offOffset);
    return ssWritten < 0 ? -errno : (int)ssWritten;
}

static int iFsync(const char *pcPath, int iData_Only, struct fuse_file_info *pInfo)
{
    (void)pcPath;
    (void)pInfo;
    return (iData_Only ? fdatasync(iImage_FD) : fsync(iImage_FD)) == 0 ? 0 : -errno;
}

static const struct fuse_operations oOperations = {
    .getattr = iGetattr,
    .open = iOpen,
    .read = iRead,
    .write = iWrite,
    .fsync = iFsync,
    .readdir = iReaddir,
};

int main(int argc, char *argv[])
{
    if (argc < 5)
        return 2;
    pcImage = argv[1];
    offBad_Start = strtoll(argv[2], NULL, 10);
    offBad_End = strtoll(argv[3], NULL, 10);
    bWritable = getenv("FAULTY_FUSE_WRITABLE") != NULL;
    iImage_FD = open(pcImage, bWritable ? O_RDWR : O_RDONLY);
    if (getenv("FAULTY_FUSE_DELAY_MS"))
        uiDelay_Us = (useconds_t)(1000 * atoi(getenv("FAULTY_FUSE_DELAY_MS")));
    if (getenv("FAULTY_FUSE_WRITE_DELAY_MS"))
        uiWrite_Delay_Us = (useconds_t)(1000 * atoi(getenv("FAULTY_FUSE_WRITE_DELAY_MS")));
    if (iImage_FD < 0)
        return 1;
    argv[3] = argv[0];
    return fuse_main(argc - 3, argv + 3, &oOperations, NULL);
}
