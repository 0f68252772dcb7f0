#include "support.h"

#include "Functions_Core.h"
#include "Functions_Dialogs.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <locale.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

cBox_Answerer::cBox_Answerer(std::function<void(QMessageBox *)> fAnswer) : fHandler(std::move(fAnswer))
{
    QObject::connect(&qTimer, &QTimer::timeout, this, [this] {
        auto *qBox = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!qBox || qBox->property("answered").toBool())
            return;
        qBox->setProperty("answered", true);
        qslHeadings << qBox->text();
        qslMessages << qBox->informativeText();
        qlIcons << int(qBox->icon());
        if (fHandler)
            fHandler(qBox);
        else
            qBox->buttons().first()->click();
    });
    qTimer.start(10);
}

QJsonObject cTool_Run::qjLast() const
{
    return QJsonDocument::fromJson(qsOut.trimmed().split('\n').last().toUtf8()).object();
}

// The environment of a server: no display.
static QProcessEnvironment qHeadless()
{
    QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
    for (const char *pcName : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        qEnvironment.remove(pcName);
    return qEnvironment;
}

cTool_Run oFinished(QProcess &qProcess)
{
    QElapsedTimer qTimer;
    qTimer.start();
    if (!qProcess.waitForFinished(120000))
        qProcess.kill();
    qProcess.waitForFinished();
    cTool_Run oResult;
    oResult.qi64Ms = qTimer.elapsed();
    oResult.iExit = qProcess.exitStatus() == QProcess::NormalExit ? qProcess.exitCode() : -1;
    oResult.qsOut = QString::fromUtf8(qProcess.readAllStandardOutput());
    oResult.qsErr = QString::fromUtf8(qProcess.readAllStandardError());
    return oResult;
}

cTool_Run oTool(const QStringList &qslArguments, const QString &qsProgram)
{
    QProcess qProcess;
    qProcess.setProcessEnvironment(qHeadless());
    qProcess.start(qsProgram.isEmpty() ? QString(FILLSCAN_TOOL) : qsProgram, qslArguments);
    return oFinished(qProcess);
}

QStringList qslBatch(const QString &qsDevice, const QString &qsVolume, const QString &qsSteps)
{
    return {"--device", qsDevice, "--volume", qsVolume, "--batch", qsSteps, "--json", "--quiet"};
}

bool bStart_Fill(QProcess &qTool, const QString &qsDevice, const QString &qsVolume, const QString &qsSteps,
                 const quint64 qui64MiB, const QStringList &qslMore)
{
    qTool.setProcessEnvironment(qHeadless());
    qTool.start(FILLSCAN_TOOL, qslBatch(qsDevice, qsVolume, qsSteps) + qslMore);
    const QString qsFill = QDir(qsVolume).filePath("data.data");
    return bWait_For([&] { return quint64(QFileInfo(qsFill).size()) > (qui64MiB << 20); });
}

QByteArray qbaAfter_Signal(QProcess &qTool, const int iSignal, const int iLines, const qint64 iMs)
{
    QElapsedTimer qTimer;
    qTimer.start();
    kill(pid_t(qTool.processId()), iSignal);
    QByteArray qbaOut;
    while (qbaOut.count('\n') < iLines && qTimer.elapsed() < iMs && qTool.state() != QProcess::NotRunning) {
        qTool.waitForReadyRead(100);
        qbaOut += qTool.readAllStandardOutput();
    }
    return qbaOut;
}

bool bWait_For(const std::function<bool()> &bDone, const qint64 qi64Ms)
{
    QElapsedTimer qTimer;
    qTimer.start();
    while (!bDone() && qTimer.elapsed() < qi64Ms)
        QTest::qWait(2);
    return bDone();
}

QString qsMake_Image(const QTemporaryDir &qDir, const qint64 qi64Size, const QList<QPair<qint64, quint64>> &qlWords)
{
    QByteArray qbaImage(int(qi64Size), '\0');
    for (const auto &qpWord : qlWords)
        qToBigEndian<quint64>(qpWord.second, qbaImage.data() + qpWord.first);
    QFile qFile(qDir.filePath("image.bin"));
    if (!qFile.open(QIODevice::WriteOnly) || qFile.write(qbaImage) != qbaImage.size())
        return QString();
    return qFile.fileName();
}

cRead_Result oRead_Of(const cDrive &oDisk, const quint64 qui64Pattern, const quint64 qui64Words)
{
    cTest_Operator oOperator;
    cRead_Result oResult;
    oDisk.vRead_Data(qui64Pattern, qui64Words, oOperator, oResult);
    return oResult;
}

cVolume oVolume_At(const QString &qsDir, const quint64 qui64Bytes)
{
    cVolume oResult;
    oResult.qsVolume_Name = qsDir + "/";
    oResult.qui64Bytes_Count = qui64Bytes;
    return oResult;
}

cFill_Result oFill_Into(const QString &qsDir, const quint64 qui64Bytes, const quint64 qui64Pattern)
{
    cData oFill;
    oFill.qui64Pattern = qui64Pattern;
    cTest_Operator oOperator;
    cFill_Result oResult;
    oFill.vWrite_Data(oVolume_At(qsDir, qui64Bytes), oOperator, oResult);
    return oResult;
}

void vForget_Records()
{
    oDrive = cDrive();
    oVolume = cVolume();
    oData = cData();
}

QString qsRun(const QString &qsProgram, const QStringList &qslArguments, int *piExit)
{
    QProcess qProcess;
    qProcess.start(qsProgram, qslArguments);
    qProcess.waitForFinished(120000);
    if (piExit)
        *piExit = qProcess.exitStatus() == QProcess::NormalExit ? qProcess.exitCode() : -1;
    return QString::fromUtf8(qProcess.readAllStandardOutput()).trimmed();
}

QString qsLoop_Skip_Reason()
{
    if (geteuid() != 0)
        return "needs root to attach loop devices and mount file systems";
    if (!QFile::exists("/dev/loop-control"))
        return "no loop device support here (/dev/loop-control is missing)";
    return QString();
}

QString qsMissing_Program(const QStringList &qslPrograms)
{
    for (const QString &qsProgram : qslPrograms)
        if (QStandardPaths::findExecutable(qsProgram).isEmpty() &&
            QStandardPaths::findExecutable(qsProgram, {"/sbin", "/usr/sbin"}).isEmpty())
            return qsProgram;
    return QString();
}

QString cLoop_Device::qsCreate(const quint64 qui64Bytes, const int iSector_Size, const QString &qsFs,
                               const QStringList &qslMkfs, const QString &qsMount_Options, const quint64 qui64Offset)
{
    qsImage = qTemp.filePath("disk.img");
    QFile qImage(qsImage);
    if (!qImage.open(QIODevice::WriteOnly) || !qImage.resize(qint64(qui64Bytes + qui64Offset)))
        return "cannot make the image file " + qsImage;
    qImage.close();
    int iExit = 0;
    qsDevice = qsRun("losetup",
                     {"--show", "-f", "--sector-size", QString::number(iSector_Size), "--offset",
                      QString::number(qui64Offset), qsImage},
                     &iExit);
    if (iExit != 0 || !qsDevice.startsWith("/dev/loop")) {
        qsDevice.clear();
        return "losetup could not attach " + qsImage;
    }
    return qsFs.isEmpty() ? QString() : qsMake_Fs(qsFs, qslMkfs, qsMount_Options);
}

QString cLoop_Device::qsCreate_Stick(const quint64 qui64Bytes, const QString &qsFs)
{
    qsImage = qTemp.filePath("stick.img");
    QFile qImage(qsImage);
    if (!qImage.open(QIODevice::WriteOnly) || !qImage.resize(qint64(qui64Bytes)))
        return "cannot make the image file " + qsImage;
    qImage.close();
    const QString qsError = qsAttach(qsImage, true);
    return qsError.isEmpty() ? qsMake_Fs(qsFs, {}, "defaults") : qsError;
}

QString cLoop_Device::qsAttach(const QString &qsFile, const bool bPartitioned)
{
    int iExit = 0;
    qsDevice = qsRun("losetup", {"--show", "-f", "--direct-io=on", "--partscan", qsFile}, &iExit);
    if (iExit != 0 || !qsDevice.startsWith("/dev/loop")) {
        qsDevice.clear();
        return "losetup could not attach " + qsFile;
    }
    if (!bPartitioned)
        return QString();
    // An MBR with one partition from 1 MiB to the end, as sticks come. Without udev the
    // kernel's rescan may leave no partition node; partx adds it.
    QProcess qSfdisk;
    qSfdisk.start("sfdisk", {"-q", "--label", "dos", qsDevice});
    qSfdisk.write("start=2048, type=7\n");
    qSfdisk.closeWriteChannel();
    // Its partition-table reread waits for udev, which takes long on a loaded machine.
    if (!qSfdisk.waitForFinished(180000) || qSfdisk.exitCode() != 0)
        return "sfdisk failed on " + qsDevice + ": " + QString::fromUtf8(qSfdisk.readAllStandardError());
    qsPartition = qsDevice + "p1";
    if (!QFile::exists(qsPartition))
        qsRun("partx", {"-a", qsDevice});
    for (int i = 0; i < 100 && !QFile::exists(qsPartition); ++i)
        QThread::msleep(50);
    return QFile::exists(qsPartition) ? QString() : qsPartition + " did not appear";
}

QString cLoop_Device::qsMake_Fs(const QString &qsFs, const QStringList &qslMkfs, const QString &qsMount_Options)
{
    // Quiet and forced, in each builder's words.
    static const QMap<QString, QStringList> qmapForce = {{"ext4", {"-q", "-F"}},
                                                         {"xfs", {"-q", "-f"}},
                                                         {"btrfs", {"-q", "-f"}},
                                                         {"exfat", {}},
                                                         {"vfat", {"-F", "32"}},
                                                         {"ntfs", {"-Q", "-F", "-q"}}};
    static const QMap<QString, QString> qmapMount_Type = {{"exfat", "exfat-fuse"}, {"ntfs", "ntfs-3g"}};
    int iExit = 0;
    const QString qsMkfs = qsFs == "ntfs" ? "mkfs.ntfs" : "mkfs." + qsFs;
    const QString qsTarget = qsPartition.isEmpty() ? qsDevice : qsPartition;
    const QString qsOutput = qsRun(qsMkfs, qmapForce.value(qsFs) + qslMkfs + QStringList{qsTarget}, &iExit);
    if (iExit != 0)
        return qsMkfs + " failed on " + qsTarget + ": " + qsOutput;
    const QString qsDir = qTemp.filePath("mnt");
    QDir().mkpath(qsDir);
    // FAT through its FUSE driver, which has no mount helper: started by itself, and ended by
    // unmounting as the others are.
    if (qsFs == "vfat")
        qsRun("fusefat", {"-o", "rw+", qsTarget, qsDir}, &iExit);
    else
        qsRun("mount", {"-t", qmapMount_Type.value(qsFs, qsFs), "-o", qsMount_Options, qsTarget, qsDir}, &iExit);
    if (iExit != 0)
        return "cannot mount " + qsTarget + " as " + qsFs;
    qsMount = qsDir + "/";
    return QString();
}

void cLoop_Device::vUnmount()
{
    if (qsMount.isEmpty())
        return;
    // A FUSE server on top that is still exiting keeps the volume busy for a moment.
    int iExit = 0;
    for (int iTry = 0; iTry < 50; ++iTry) {
        qsRun("umount", {qsMount}, &iExit);
        if (iExit == 0)
            break;
        QThread::msleep(100);
    }
    qsMount.clear();
}

QString qsFree_Loop_Node(QString *pqsWhy)
{
    const int iControl = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    const int iIndex = iControl < 0 ? -1 : ioctl(iControl, LOOP_CTL_GET_FREE);
    *pqsWhy = iIndex < 0 ? QString("/dev/loop-control: %1").arg(strerror(errno)) : QString();
    if (iControl >= 0)
        close(iControl);
    return iIndex < 0 ? QString() : "/dev/loop" + QString::number(iIndex);
}

void cLoop_Device::vUnplug()
{
    vUnmount();
    if (qsDevice.isEmpty())
        return;
    qsRun("losetup", {"-d", qsDevice});
    const int iControl = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    if (iControl >= 0) {
        // The node goes away for real, as /dev/sdX does when a disk is pulled out.
        bRemoved = ioctl(iControl, LOOP_CTL_REMOVE, qsDevice.mid(9).toInt()) >= 0;
        close(iControl);
    }
}

cLoop_Device::~cLoop_Device()
{
    vUnmount();
    if (qsDevice.isEmpty())
        return;
    if (bRemoved) {
        // Give the machine its loop device back.
        const int iControl = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
        if (iControl >= 0) {
            ioctl(iControl, LOOP_CTL_ADD, qsDevice.mid(9).toInt());
            close(iControl);
        }
    } else {
        qsRun("losetup", {"-d", qsDevice});
    }
}

QString cFaulty_Disk::qsSkip_Reason()
{
    if (QString(FILLSCAN_FAULTY_FUSE).isEmpty())
        return "the FUSE helper was not built (libfuse3-dev missing)";
    if (!QFile::exists("/dev/fuse") || geteuid() != 0)
        return "needs root and /dev/fuse to serve a failing disk";
    return QString();
}

QString cFaulty_Disk::qsStart(const QString &qsImage, const quint64 qui64Bad_First, const quint64 qui64Bad_End,
                              const int iDelay_Ms)
{
    qsMount = qTemp.filePath("fuse");
    QDir().mkpath(qsMount);
    QProcessEnvironment qEnvironment = qServer.processEnvironment().isEmpty() ? QProcessEnvironment::systemEnvironment()
                                                                             : qServer.processEnvironment();
    qEnvironment.insert("FAULTY_FUSE_DELAY_MS", QString::number(iDelay_Ms));
    qServer.setProcessEnvironment(qEnvironment);
    qServer.start(FILLSCAN_FAULTY_FUSE, {qsImage, QString::number(qui64Bad_First), QString::number(qui64Bad_End),
                                         qsMount, "-f", "-o", "allow_other"});
    qsFile = qsMount + "/disk.img";
    for (int iTry = 0; iTry < 200 && !QFile::exists(qsFile); ++iTry)
        QThread::msleep(20);
    return QFile::exists(qsFile) ? QString() : "the FUSE helper did not serve " + qsImage;
}

QString cFaulty_Disk::qsStart_Writable(const QString &qsImage, const int iWrite_Delay_Ms)
{
    QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
    qEnvironment.insert("FAULTY_FUSE_WRITABLE", "1");
    qEnvironment.insert("FAULTY_FUSE_WRITE_DELAY_MS", QString::number(iWrite_Delay_Ms));
    qServer.setProcessEnvironment(qEnvironment);
    return qsStart(qsImage, 0, 0);
}

void vStop_Fuse(const QString &qsMount, QProcess &qServer)
{
    if (qServer.state() == QProcess::NotRunning)
        return;
    kill(pid_t(qServer.processId()), SIGCONT); // a stopped server could not answer the unmount
    int iExit = 1;
    for (int iTry = 0; iTry < 50 && iExit != 0 && !qsMount.isEmpty(); ++iTry) {
        qsRun("fusermount3", {"-u", qsMount}, &iExit);
        if (iExit != 0)
            QThread::msleep(100);
    }
    if (!qServer.waitForFinished(10000)) {
        qServer.kill();
        qServer.waitForFinished();
        if (!qsMount.isEmpty())
            qsRun("umount", {"-l", qsMount});
    }
}

cFaulty_Disk::~cFaulty_Disk()
{
    vStop_Fuse(qsMount, qServer);
}

QString cLoop_Device::qsMount_Tmpfs(const QString &qsSize)
{
    const QString qsDir = qTemp.filePath("tmpfs") + "/";
    QDir().mkpath(qsDir);
    int iExit = 0;
    qsRun("mount", {"-t", "tmpfs", "-o", "size=" + qsSize, "tmpfs", qsDir}, &iExit);
    if (iExit != 0)
        return "cannot mount a tmpfs at " + qsDir;
    qsMount = qsDir; // unmounted with the fixture
    return QString();
}

bool bFill_Sequence(const QString &qsPath, const quint64 qui64Pattern, quint64 *pqui64Words)
{
    QFile qFile(qsPath);
    if (!qFile.open(QIODevice::ReadOnly) || qFile.size() % 8 != 0)
        return false;
    *pqui64Words = quint64(qFile.size()) / 8;
    quint64 i = 0;
    while (!qFile.atEnd()) {
        const QByteArray qbaChunk = qFile.read(1 << 20);
        for (int j = 0; j + 8 <= qbaChunk.size(); j += 8, ++i)
            if (qFromBigEndian<quint64>(qbaChunk.constData() + j) != qui64Pattern + i)
                return false;
    }
    return true;
}

static bool bRussian_Locale()
{
    const locale_t locMessages = newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "ru_RU.UTF-8", locale_t(0));
    if (locMessages == locale_t(0))
        return false;
    freelocale(locMessages);
    return true;
}

QString qsRussian_Reason(const int iError)
{
    const locale_t locMessages = newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "ru_RU.UTF-8", locale_t(0));
    if (locMessages == locale_t(0))
        return QString();
    const QString qsReason = QString::fromUtf8(strerror_l(iError, locMessages));
    freelocale(locMessages);
    return qsReason;
}

QString qsRussian_Messages()
{
    if (!QFile::exists("/usr/share/locale/ru/LC_MESSAGES/libc.mo"))
        return "the C library's Russian messages are not installed (libc-l10n)";
    if (bRussian_Locale())
        return QString();
    const QString qsDir = QCoreApplication::applicationDirPath() + "/locale";
    if (!QFileInfo::exists(qsDir + "/ru_RU.UTF-8/LC_MESSAGES")) {
        QDir().mkpath(qsDir);
        qsRun("localedef", {"-i", "ru_RU", "-f", "UTF-8", qsDir + "/ru_RU.UTF-8"}); // warnings give exit 1
    }
    qputenv("LOCPATH", QFile::encodeName(qsDir));
    return bRussian_Locale() ? QString() : "ru_RU.UTF-8 could not be built (localedef, the locales package)";
}

QString cEmulated_Medium::qsStart(const QStringList &qslMedium, const QString &qsFs, const bool bPartitioned,
                                  const QStringList &qslMkfs)
{
    const QString qsDir = qTemp.filePath("nbd");
    QDir().mkpath(qsDir);
    const QString qsPid = qTemp.filePath("nbdfuse.pid");
    // A line for every failed request: in a pipe nobody drains it would stall the medium.
    oServer.qProcess.setStandardErrorFile(qTemp.filePath("nbdfuse.log"));
    QStringList qslFilters = qslMedium.filter(QRegularExpression("^--filter="));
    QStringList qslParameters = qslMedium;
    for (const QString &qsFilter : qslFilters)
        qslParameters.removeAll(qsFilter);
    oServer.qProcess.start("nbdfuse", QStringList{"-P", qsPid, qsDir + "/medium.img", "--command", "nbdkit", "-s"} +
                                          qslFilters + QStringList{FILLSCAN_FAKE_MEDIUM} + qslParameters);
    QElapsedTimer qTimer;
    qTimer.start();
    while (!QFile::exists(qsPid) && qTimer.elapsed() < 20000 && oServer.qProcess.state() != QProcess::NotRunning)
        QTest::qWait(50);
    if (!QFile::exists(qsPid))
        return "nbdfuse did not start: " + qsRun("cat", {qTemp.filePath("nbdfuse.log")});
    oServer.qsDir = qsDir;
    const QString qsError = oLoop.qsAttach(qsDir + "/medium.img", bPartitioned);
    // The journal would lie in the middle of the volume, which a fake medium loses. The
    // inode tables are few (the fill makes a few files) and written now: the kernel would
    // write them while the fill runs, and a medium that counts its writes (keeping the
    // last ones, refusing after some) would count them against the fill.
    const QStringList qslExt4 = {"-O", "^has_journal", "-N", "1024", "-E", "lazy_itable_init=0"};
    return qsError.isEmpty() ? oLoop.qsMake_Fs(qsFs, (qsFs == "ext4" ? qslExt4 : QStringList()) + qslMkfs, "defaults")
                             : qsError;
}

QString cEmulated_Medium::qsSkip_Reason()
{
    return QString(FILLSCAN_FAKE_MEDIUM).isEmpty() ? "the nbdkit plugin was not built (nbdkit-plugin-dev missing)"
                                                   : QString();
}
