#ifndef FUNCTIONS_LOCK_H
#define FUNCTIONS_LOCK_H

#include <QString>

#include <sys/types.h>

// The volume's directory as the poll found it: which directory it is, kept for the whole run.
// Every step opens the name anew and works in what it opened only when that is this directory
// (not after a lazy unmount, not through a link pointed elsewhere). No descriptor is held
// between the steps, so the volume can be unmounted once a run is over.
class cVolume_Dir
{
public:
    // The directory open as iFD (its identity is read from the descriptor, not the name).
    cVolume_Dir(const QString &qsPath, const int iFD);

    // A new descriptor of the directory qsPath names when it is still this one, else -1 and why.
    int iOpen(QString *pqsWhy) const;
    // Empty while qsPath still names this directory, mounted as it was; else why not.
    QString qsStill_There() const;

    QString qsPath;
    dev_t devDir = 0;
    ino_t inoDir = 0;
    quint64 qui64Fs_Id = 0; // the file system's id (statfs), which a new mount of another would not share
};

// A step's descriptor of the volume's directory, closed when it goes: opened through the
// poll's record where there is one (qsWhy says why not), else by the name.
class cVolume_FD
{
public:
    cVolume_FD(const cVolume_Dir *pDir, const QString &qsName);
    ~cVolume_FD();
    cVolume_FD(const cVolume_FD &) = delete;
    cVolume_FD &operator=(const cVolume_FD &) = delete;
    // The directory by a name that leads to it alone, for calls that take a path.
    QString qsPath() const;
    int iFD = -1;
    QString qsWhy;
};

// Empty while qsPath leads to the directory devDir/inoDir; else why not.
QString qsSame_Directory(const QString &qsPath, const dev_t devDir, const ino_t inoDir);

// One instance of the tool per volume: the fill, the read and the clean hold the volume's
// directory locked (flock on a descriptor of it), so that a second fill or a clean does not
// delete the first one's files and a read does not judge a fill still being written.
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
    // The same for the directory the poll found, refused when its name no longer leads to it.
    bool bTake(const cVolume_Dir &oDir, QString *pqsWhy);
    // The directory as it was opened: every fill file is made relative to it.
    int iDir_FD() const { return iFD; }
    QString qsFD_Path() const; // the directory by its descriptor's entry in /proc
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
