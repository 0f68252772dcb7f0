#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

#include "Functions_Data.h"
#include "Functions_Operator.h"

#include <QJsonObject>
#include <QMessageBox>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

// Answers every modal message box that opens while it lives, so no test is left hanging.
// The handler decides how to end the box; the default presses its first button. It makes
// the tool's boxes the window's, as the window's entry does.
class cBox_Answerer : public QObject
{
public:
    explicit cBox_Answerer(std::function<void(QMessageBox *)> fAnswer = {});
    QStringList qslHeadings; // text() of each box answered
    QStringList qslMessages; // informativeText() of each box answered
    QList<int> qlIcons;

private:
    QTimer qTimer;
    std::function<void(QMessageBox *)> fHandler;
};

// The operator of a step run by a test: keeps what it was told and asked, answers every
// question with bAnswer, and cancels once the progress has reached qui64Cancel_At bytes.
class cTest_Operator : public cOperator
{
public:
    bool bAnswer = false;
    quint64 qui64Cancel_At = ~quint64(0);
    QStringList qslTold, qslAsked; // heading, a line feed, the message
    int iStarted = 0, iFinished = 0;
    quint64 qui64Last_Done = 0;

    void vTell(const QString &qsHeading, const QString &qsMessage, const int) override
    {
        qslTold << qsHeading + "\n" + qsMessage;
    }
    bool bAsk(const QString &qsHeading, const QString &qsQuestion, const bool = false) override
    {
        qslAsked << qsHeading + "\n" + qsQuestion;
        return bAnswer;
    }
    void vStart(const QString &, const QString &, const quint64) override { ++iStarted; }
    bool bAdvance(const quint64 qui64Done) override
    {
        qui64Last_Done = qui64Done;
        return !bCancelled();
    }
    void vFinish() override { ++iFinished; }
    bool bCancelled() const override { return qui64Last_Done >= qui64Cancel_At; }
    QString qsPoll_First() const override { return "сначала опросите"; }
};

// Fails the test, with the reason, when a fixture could not be made (an error text).
#define QVERIFY_MADE(qsMade)                                                                                           \
    do {                                                                                                               \
        const QString qsWhy_Not_Made = (qsMade);                                                                       \
        QVERIFY2(qsWhy_Not_Made.isEmpty(), qPrintable(qsWhy_Not_Made));                                                \
    } while (false)

// What a run of the tool left: its exit status, time and outputs.
class cTool_Run
{
public:
    int iExit = -1;
    qint64 qi64Ms = 0;
    QString qsOut, qsErr;
    QJsonObject qjLast() const; // the last line of standard output as JSON
};
// Runs the tool without a display, as on a server; with qsProgram (prlimit) that program,
// whose arguments then name the tool.
cTool_Run oTool(const QStringList &qslArguments, const QString &qsProgram = QString());
// Waits up to qi64Ms for bDone, handling events meanwhile.
bool bWait_For(const std::function<bool()> &bDone, const qint64 qi64Ms = 60000);
// The arguments of batch steps on a volume of a device, as scripts give them: JSON, no progress.
QStringList qslBatch(const QString &qsDevice, const QString &qsVolume, const QString &qsSteps);
// Starts the tool in qTool (headless, as oTool) on batch steps that begin with a fill, and
// waits until the volume's data.data holds more than qui64MiB; false when it did not within
// a minute. qslMore go after the steps.
bool bStart_Fill(QProcess &qTool, const QString &qsDevice, const QString &qsVolume, const QString &qsSteps,
                 const quint64 qui64MiB, const QStringList &qslMore = {});
// Waits for the tool started in qTool to end and returns what it left.
cTool_Run oFinished(QProcess &qTool);
// Sends iSignal to the tool and gathers its standard output until it holds iLines lines, it
// ends, or iMs pass: what it reported in time.
QByteArray qbaAfter_Signal(QProcess &qTool, const int iSignal, const int iLines, const qint64 iMs = 10000);

// A fill of the words from qui64Pattern into the directory qsDir, as a volume of qui64Bytes.
// An image whose words are given: offset -> value (big-endian, at any byte offset), as
// image.bin in qDir.
QString qsMake_Image(const QTemporaryDir &qDir, const qint64 qi64Size, const QList<QPair<qint64, quint64>> &qlWords);
// A read of the device named by the record, for the words pattern + i, i below qui64Words.
cRead_Result oRead_Of(const cDrive &oDisk, const quint64 qui64Pattern, const quint64 qui64Words);
// A volume record for the directory qsDir, as a poll of qui64Bytes would leave it.
cVolume oVolume_At(const QString &qsDir, const quint64 qui64Bytes);
cFill_Result oFill_Into(const QString &qsDir, const quint64 qui64Bytes, const quint64 qui64Pattern);

// Forgets what the window's records (oDrive, oVolume, oData) hold from an earlier case.
void vForget_Records();

// Runs a command and returns its standard output, trimmed.
QString qsRun(const QString &qsProgram, const QStringList &qslArguments, int *piExit = nullptr);
// The C library's Russian messages for this process and the tool it starts: as the system
// has them, else ru_RU.UTF-8 built once beside the tests and found through LOCPATH. Empty
// when they can be had, else why not. Call it before the first qsSystem_Reason.
QString qsRussian_Messages();
// A system error's text in the Russian locale as this process finds it now; empty without one.
QString qsRussian_Reason(int iError);

// Reads a fill file and checks that it holds whole words pattern + i from i = 0; their
// number goes to *pqui64Words.
bool bFill_Sequence(const QString &qsPath, const quint64 qui64Pattern, quint64 *pqui64Words);

// Empty when the programs are installed, else which one is missing.
QString qsMissing_Program(const QStringList &qslPrograms);
#define NEED_PROGRAMS(...)                                                                                             \
    if (!qsMissing_Program({__VA_ARGS__}).isEmpty())                                                                   \
        QSKIP(qPrintable("not installed: " + qsMissing_Program({__VA_ARGS__})));

// Empty when loop devices can be attached here, else why not.
QString qsLoop_Skip_Reason();
// A loop device node with nothing attached, as one is after losetup -d: the kernel's next
// free one. Empty, with *pqsWhy, when there is none to be had.
QString qsFree_Loop_Node(QString *pqsWhy);

#define NEED_LOOP()                                                                                                    \
    if (!qsLoop_Skip_Reason().isEmpty())                                                                               \
        QSKIP(qPrintable(qsLoop_Skip_Reason()));

// A loop device over a sparse image in a temporary directory (from qui64Offset of it),
// optionally with a file system made on it and mounted. Everything is undone by exact name
// when it goes, even if a test failed.
class cLoop_Device
{
public:
    ~cLoop_Device();
    // Returns an error text, empty on success. qsFs is a mkfs type (ext4, xfs, btrfs, exfat,
    // vfat (FAT32), ntfs), empty for none; FUSE ones are mounted through their FUSE driver.
    QString qsCreate(const quint64 qui64Bytes, const int iSector_Size = 512, const QString &qsFs = QString(),
                     const QStringList &qslMkfs = {}, const QString &qsMount_Options = "defaults",
                     const quint64 qui64Offset = 0);
    // A USB stick as a desktop has it: an MBR with one partition from 1 MiB on, the loop device
    // scanned for partitions (qsPartition), qsFs made on the partition and mounted.
    QString qsCreate_Stick(const quint64 qui64Bytes, const QString &qsFs);
    // Attaches a loop device to an existing file (an emulated medium), with direct I/O so
    // that no page cache hides what the medium does; partitioned as a stick comes (MBR, one
    // partition from 1 MiB), the file system then goes on the partition.
    QString qsAttach(const QString &qsFile, const bool bPartitioned = false);
    QString qsMake_Fs(const QString &qsFs, const QStringList &qslMkfs, const QString &qsMount_Options);
    // Mounts a tmpfs of qsSize in the temporary directory as the volume (qsMount): a file
    // system that lies on no device.
    QString qsMount_Tmpfs(const QString &qsSize);
    // Unmounts, detaches and removes the device node, as when a disk is pulled out.
    void vUnplug();

    QTemporaryDir qTemp;
    QString qsImage;
    QString qsDevice;
    QString qsPartition; // the stick's partition, empty for a device without one
    QString qsMount;     // with a trailing slash, empty when not mounted

private:
    void vUnmount();
    bool bRemoved = false;
};

// Ends a FUSE server started in the foreground: unmounts qsMount (waiting while a reader that
// has just ended keeps it busy), then waits for the server, killing it and detaching its
// mount if it will not go.
void vStop_Fuse(const QString &qsMount, QProcess &qServer);

// The FUSE helper serving an image as qsFile, failing every read of [first, end) and, when
// asked, waiting before each read: a disk with bad sectors, or a slow one. Unmounted and
// ended by exact path and PID when it goes, stopped or not.
class cFaulty_Disk
{
public:
    ~cFaulty_Disk();
    // Empty when it serves, else why not (for QSKIP when empty qsSkip is returned first).
    QString qsStart(const QString &qsImage, const quint64 qui64Bad_First, const quint64 qui64Bad_End,
                    const int iDelay_Ms = 0);
    // Serves the image writable, each write delayed by iWrite_Delay_Ms: a disk to fill.
    QString qsStart_Writable(const QString &qsImage, const int iWrite_Delay_Ms);
    static QString qsSkip_Reason(); // empty when the helper and /dev/fuse can be used here

    QTemporaryDir qTemp;
    QProcess qServer;
    QString qsMount, qsFile;
};
#define NEED_FAULTY_DISK()                                                                                             \
    if (!cFaulty_Disk::qsSkip_Reason().isEmpty())                                                                      \
        QSKIP(qPrintable(cFaulty_Disk::qsSkip_Reason()));

// nbdfuse serving a medium from nbdkit as a file; unmounting ends both.
class cFuse_Server
{
public:
    ~cFuse_Server() { vStop_Fuse(qsDir, qProcess); }

    QString qsDir;
    QProcess qProcess;
};

// A medium served by nbdkit (tests/fake_medium.c) through nbdfuse as a file, attached as a
// loop device with direct I/O (without it the loop's page cache would hide what the medium
// does), a file system on it. The members go in reverse order: the mount and the loop device
// before the file they use.
class cEmulated_Medium
{
public:
    // qslMedium: the plugin's parameters, nbdkit's filters (--filter=...) among them; qsFs:
    // a mkfs type (exfat and vfat mounted through their FUSE drivers: FAT32 through fusefat),
    // qslMkfs more of its options.
    QString qsStart(const QStringList &qslMedium, const QString &qsFs, const bool bPartitioned,
                    const QStringList &qslMkfs = {});
    static QString qsSkip_Reason(); // empty when the plugin was built

    QTemporaryDir qTemp;
    cFuse_Server oServer;
    cLoop_Device oLoop;
};

#endif // TESTS_SUPPORT_H
