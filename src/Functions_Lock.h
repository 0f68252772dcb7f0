#ifndef FUNCTIONS_LOCK_H
#define FUNCTIONS_LOCK_H

#include <QString>

#include <sys/types.h>

// The volume's directory as the poll found it, held open for the whole run: every step works
// in this directory, whatever its name comes to lead to, and first checks that the name still
// leads to it (not after a lazy unmount, not through a link pointed elsewhere).
class cVolume_Dir
{
public:
    // Opens qsPath; iErrno says why not.
    explicit cVolume_Dir(const QString &qsPath);
    ~cVolume_Dir();
    cVolume_Dir(const cVolume_Dir &) = delete;
    cVolume_Dir &operator=(const cVolume_Dir &) = delete;

    // Empty while qsPath still names this directory, mounted as it was; else why not.
    QString qsStill_There() const;
    // The directory by a name that leads to it alone, for calls that take a path: a
    // descriptor's entry in /proc, with a slash at its end.
    QString qsFD_Path() const;

    int iFD = -1;
    int iErrno = 0;
    QString qsPath;
    dev_t devDir = 0;
    ino_t inoDir = 0;
};

// Empty while qsPath leads to the directory devDir/inoDir; else why not.
QString qsSame_Directory(const QString &qsPath, const dev_t devDir, const ino_t inoDir);

// One instance of the tool per volume: the fill and the read hold the volume's directory
// locked (flock on a descriptor of it), so that a second fill does not delete the first
// one's files and a read does not judge a fill still being written.
class cVolume_Lock
{
public:
    cVolume_Lock() = default;
    ~cVolume_Lock();
    cVolume_Lock(const cVolume_Lock &) = delete;
    cVolume_Lock &operator=(const cVolume_Lock &) = delete;

    // Opens the directory qsVolume once and locks it. False with the reason: it cannot be
    // opened, or another process holds it (named by its PID where the system says).
    bool bTake(const QString &qsVolume, QString *pqsWhy);
    // The same for the directory the poll opened: locked through a descriptor of its own, so
    // the lock is this run's alone, and refused when its name no longer leads to it.
    bool bTake(const cVolume_Dir &oDir, QString *pqsWhy);
    // The directory as it was opened: every fill file is made relative to it.
    int iDir_FD() const { return iFD; }
    bool bBusy = false; // bTake failed because another process holds the lock
    // Empty while qsVolume still names the directory that was locked, mounted as it was;
    // else why not (unmounted, even lazily, or the name now leads elsewhere).
    QString qsStill_There() const;

private:
    bool bLock(QString *pqsWhy);
    int iFD = -1;
    QString qsPath;
    dev_t devDir = 0;
    ino_t inoDir = 0;
};

// The process that holds a flock on the file dev/ino, 0 when none is listed.
qint64 qi64Lock_Holder(const dev_t devFile, const ino_t inoFile);

#endif // FUNCTIONS_LOCK_H
