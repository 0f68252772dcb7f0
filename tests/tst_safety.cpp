// What the tool refuses, run for real: writing over the medium under test, a second run on
// a volume, a fill that leaves its volume, names it cannot pass on, runs that checked nothing.
#include "Functions_Clean.h"
#include "Functions_Report.h"
#include "Functions_Steps.h"
#include "mainwindow.h"
#include "support.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

// What a shell row needs beyond a temporary directory.
enum eShell_Needs { eNeeds_Nothing, eNeeds_Loop, eNeeds_Root };
// What happens to the volume before or during a run that then checks nothing.
enum eBefore_Read { eVolume_Full, eFile_Limit_Under_A_Word, eFill_Deleted };
// What happens to the fill between the fill and the read of the same run.
enum eChange { eChange_None, eChange_Truncate, eChange_Delete, eChange_Stale_Continuation };
Q_DECLARE_METATYPE(eShell_Needs)
Q_DECLARE_METATYPE(eBefore_Read)
Q_DECLARE_METATYPE(eChange)

class tst_Safety : public QObject
{
    Q_OBJECT

private slots:
    void otherFilesKept_data();
    void otherFilesKept();
    void fillNotAllRead_data();
    void fillNotAllRead();
    void shell_data();
    void shell();
    void mapRefused_data();
    void mapRefused();
    void oneAtATime_data();
    void oneAtATime();
    void nothingChecked_data();
    void nothingChecked();
    void volumeMoved_data();
    void volumeMoved();
    void volumeChanged_data();
    void volumeChanged();
    void killedFill();
    void stalledFill_data();
    void stalledFill();
    void grownVolume();
    void overlayUpper();
    void manyRuns();
};

void tst_Safety::shell_data()
{
    // Runs that need a shell: raw bytes in arguments, closed descriptors, the environment.
    // $TOOL is the tool, $DIR a temporary directory; with a loop $DEV and $VOL are a 1 GiB ext4.
    QTest::addColumn<QString>("qsScript");
    QTest::addColumn<eShell_Needs>("eNeeds");
    QTest::addColumn<QStringList>("qslExpected"); // in standard output and error
    QTest::addColumn<QString>("qsNever");
    QTest::newRow("a name that does not survive decoding")
        << "export LC_ALL=C.UTF-8; A=\"$DIR/dir$(printf '\\377')\" B=\"$DIR/dir$(printf '\\357\\277\\275')\"\n"
           "mkdir \"$A\" \"$B\"; truncate -s 1M \"$DIR/img\"\n"
           "\"$TOOL\" --device \"$DIR/img\" --volume \"$A\" --batch poll,fill --json --quiet --force\n"
           "echo \"exit $?\"; ls \"$B\"; rm -rf -- \"$A\" \"$B\" \"$DIR/img\"" // QTemporaryDir cannot remove "dir\\377"
        << eNeeds_Nothing << QStringList{"не записан в кодировке системы: такое имя нельзя передать без искажений", "\nexit 2\n"}
        << "data.data";
    QTest::newRow("control characters in a name, as text")
        << "\"$TOOL\" --device /nonexistent --volume \"$DIR/v$(printf '\\033')[2J\" --batch poll" << eNeeds_Nothing
        << QStringList{"/v\\x1b[2J/"} << "\033[2J";
    QTest::newRow("standard input and error closed")
        << "\"$TOOL\" --device \"$DEV\" --volume \"$VOL\" --batch poll,fill --json --quiet 0<&- 2>&- & P=$!\n"
           "for i in $(seq 3000); do [ -e \"$VOL/data.data\" ] && break; sleep 0.01; done\n"
           "echo \"fd0 $(readlink /proc/$P/fd/0) fd2 $(readlink /proc/$P/fd/2)\"; kill -INT $P; wait $P"
        << eNeeds_Loop << QStringList{"fd0 /dev/null fd2 /dev/null"} << "fd2 " + QString("$VOL");
    // The probe's name taken by the user: a file, a link, a FIFO stay as they are, the probe
    // refuses; what a killed probe left (allocated, never written, 0600) is removed and it runs.
    QTest::newRow("the probe's name taken by the user")
        << "echo MINE > \"$VOL/mine\"\nfor k in file link fifo; do rm -f \"$VOL/probe.data\"\n"
           "case $k in file) cp \"$VOL/mine\" \"$VOL/probe.data\";; link) ln -s mine \"$VOL/probe.data\";;"
           " fifo) mkfifo \"$VOL/probe.data\";; esac\n"
           "\"$TOOL\" --device \"$DEV\" --volume \"$VOL\" --batch poll,probe --json --quiet | tail -n 1 |"
           " grep -o '\"status\":\"[a-z_]*\"'\n"
           "echo \"$k $(stat -c %F \"$VOL/probe.data\") $(cat \"$VOL/mine\")\"; done"
        << eNeeds_Loop
        << QStringList{"\"status\":\"failed\"\nfile regular file MINE\n",
                       "\"status\":\"failed\"\nlink symbolic link MINE\n", "\"status\":\"failed\"\nfifo fifo MINE\n"}
        << "\"status\":\"done\"";
    QTest::newRow("what a killed probe left")
        << "fallocate -l 64M \"$VOL/probe.data\"; chmod 600 \"$VOL/probe.data\"\n"
           "\"$TOOL\" --device \"$DEV\" --volume \"$VOL\" --batch poll,probe --json --quiet | tail -n 1 |"
           " grep -o '\"status\":\"[a-z_]*\"'; ls \"$VOL\""
        << eNeeds_Loop << QStringList{"\"status\":\"done\"\n"} << "probe.data";
    // Root without a runtime directory gets one of its own, kept for the next run, not a new
    // one each run that a killed run leaves behind.
    QTest::newRow("one runtime directory per user")
        << "export TMPDIR=\"$DIR\"; unset XDG_RUNTIME_DIR\n"
           "for i in 1 2; do \"$TOOL\" --device /nonexistent --volume / --batch poll 2>/dev/null; done\n"
           "ls \"$DIR\" | grep -c fillscan-runtime; stat -c 'mode %a owner %u' \"$DIR/fillscan-runtime-$(id -u)\""
        << eNeeds_Root << QStringList{"1\nmode 700 owner 0"} << "";
}

void tst_Safety::shell()
{
    QFETCH(QString, qsScript);
    QFETCH(eShell_Needs, eNeeds);
    QFETCH(QStringList, qslExpected);
    QFETCH(QString, qsNever);
    if (eNeeds == eNeeds_Root && geteuid() != 0)
        QSKIP("only root, which often has none, is given a runtime directory of its own");
    cLoop_Device oLoop;
    QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
    if (eNeeds == eNeeds_Loop) {
        NEED_LOOP();
        QVERIFY_MADE(oLoop.qsCreate(1024ULL * 1048576, 4096, "ext4"));
        qEnvironment.insert("DEV", oLoop.qsDevice);
        qEnvironment.insert("VOL", oLoop.qsMount);
        qsNever.replace("$VOL", oLoop.qsMount);
    }
    qEnvironment.insert("TOOL", FILLSCAN_TOOL);
    qEnvironment.insert("DIR", oLoop.qTemp.path());
    QProcess qShell;
    qShell.setProcessEnvironment(qEnvironment);
    qShell.setProcessChannelMode(QProcess::MergedChannels);
    qShell.start("bash", {"-c", qsScript});
    QVERIFY(qShell.waitForFinished(120000));
    const QString qsOutput = QString::fromUtf8(qShell.readAll());
    for (const QString &qsExpected : qslExpected)
        QVERIFY2(qsOutput.contains(qsExpected), qPrintable(qsOutput));
    QVERIFY2(qsNever.isEmpty() || !qsOutput.contains(qsNever), qPrintable(qsOutput));
}

void tst_Safety::mapRefused_data()
{
    // The map is never written over the medium under test, nor onto the volume being judged;
    // where the system refuses it, its reason is told in Russian.
    QTest::addColumn<bool>("bRead_Loop"); // the loop device is read, else the image behind it
    QTest::addColumn<QString>("qsWhere"); // image, volume, missing (a directory that is not there), read-only
    QTest::addColumn<QString>("qsReason");
    const QString qsMedium = "это проверяемый носитель или файл образа под ним";
    const QString qsVolume = "файл лёг бы на проверяемый раздел";
    QTest::newRow("the image that is read") << false << "image" << qsMedium;
    QTest::newRow("the image behind the loop device") << true << "image" << qsMedium;
    QTest::newRow("a new file on the volume") << true << "volume" << qsVolume;
    QTest::newRow("a new file on the volume of the image") << false << "volume" << qsVolume;
    QTest::newRow("a directory that is not there") << true << "missing" << "Нет такого файла или каталога.";
    QTest::newRow("a read-only file system") << true << "read-only" << "Файловая система доступна только для чтения.";
}

void tst_Safety::mapRefused()
{
    NEED_LOOP();
    QFETCH(bool, bRead_Loop);
    QFETCH(QString, qsWhere);
    QFETCH(QString, qsReason);
    if (qsWhere == "missing" || qsWhere == "read-only") {
        const QString qsWhy = qsRussian_Messages();
        if (!qsWhy.isEmpty())
            QSKIP(qPrintable(qsWhy));
    }
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(32 * 1048576, 512, "ext4"));
    const QString qsDevice = bRead_Loop ? oLoop.qsDevice : oLoop.qsImage;
    QTemporaryDir qElsewhere;
    const QString qsRead_Only = qElsewhere.filePath("ro");
    QDir().mkpath(qsRead_Only);
    const QString qsMap = qsWhere == "image"     ? oLoop.qsImage
                          : qsWhere == "volume"  ? oLoop.qsMount + "map.png"
                          : qsWhere == "missing" ? qElsewhere.filePath("not-there/map.png")
                                                 : qsRead_Only + "/map.png";
    int iExit = 0;
    if (qsWhere == "read-only")
        QVERIFY(qsRun("mount", {"-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", qsRead_Only}, &iExit).isEmpty() || iExit == 0);
    const qint64 qi64Image = QFileInfo(oLoop.qsImage).size();
    const cTool_Run oResult = oTool(qslBatch(qsDevice, oLoop.qsMount, "poll,read") + QStringList{"--map", qsMap});
    if (qsWhere == "read-only")
        qsRun("umount", {qsRead_Only});
    QCOMPARE(oResult.iExit, 1);
    QVERIFY2(oResult.qsErr.contains("Не удалось сохранить карту в " + qsMap + ": " + qsReason),
             qPrintable(oResult.qsErr));
    QCOMPARE(QFileInfo(oLoop.qsImage).size(), qi64Image);
    QCOMPARE(QFileInfo::exists(oLoop.qsMount + "map.png"), false);
    QFile qImage(oLoop.qsImage); // the file system is still there
    QVERIFY(qImage.open(QIODevice::ReadOnly) && qImage.seek(1080));
    QCOMPARE(qImage.read(2).toHex(), QByteArray("53ef"));
}

void tst_Safety::oneAtATime_data()
{
    // One run per volume: a second fill would delete the first one's files, a read would
    // judge a fill still being written.
    QTest::addColumn<QString>("qsSteps");
    QTest::newRow("a second fill") << "poll,fill";
    QTest::newRow("a read during a fill") << "poll,read";
    QTest::newRow("a clean during a fill") << "poll,clean";
}

void tst_Safety::oneAtATime()
{
    NEED_LOOP();
    QFETCH(QString, qsSteps);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(2048ULL * 1048576, 4096, "ext4"));
    QProcess qFirst;
    QVERIFY(bStart_Fill(qFirst, oLoop.qsDevice, oLoop.qsMount, "poll,fill", 16));
    const qint64 qi64First = qFirst.processId();
    const cTool_Run oSecond = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, qsSteps));
    const bool bFirst_Running = qFirst.state() == QProcess::Running;
    kill(pid_t(qFirst.processId()), SIGINT);
    QVERIFY(qFirst.waitForFinished(60000));
    QVERIFY(bFirst_Running);
    QCOMPARE(oSecond.iExit, 1);
    QVERIFY2(oSecond.qsErr.contains(
                 QString("раздел занят другим запуском fillscan (PID %1): он заполняет или читает этот раздел")
                     .arg(qi64First)),
             qPrintable(oSecond.qsErr));
    if (qsSteps.endsWith("clean")) // named with the volume, and nothing removed
        QVERIFY2(oSecond.qsErr.contains("Файлы заполнения в " + oLoop.qsMount + " не удалены: раздел занят"),
                 qPrintable(oSecond.qsErr));
    quint64 qui64Words = 0; // the first fill's file is whole
    QVERIFY(bFill_Sequence(oLoop.qsMount + "data.data",
                           QJsonDocument::fromJson(qFirst.readAllStandardOutput().trimmed().split('\n').last())
                               .object()["pattern_decimal"]
                               .toString()
                               .toULongLong(),
                           &qui64Words));
    QVERIFY(qui64Words > 0);
}

void tst_Safety::nothingChecked_data()
{
    // A run that wrote nothing, or whose fill went away before the read, checked nothing.
    QTest::addColumn<eBefore_Read>("eBefore");
    QTest::addColumn<QString>("qsError");
    QTest::addColumn<int>("iErrno"); // the system's reason after qsError, in English or Russian
    QTest::newRow("a full volume") << eVolume_Full << "не записано ни одного слова: " << ENOSPC;
    QTest::newRow("a file size limit under one word")
        << eFile_Limit_Under_A_Word << "не записано ни одного слова: " << EFBIG;
    QTest::newRow("data.data deleted during the fill") << eFill_Deleted << "удалён во время заполнения" << 0;
}

void tst_Safety::nothingChecked()
{
    NEED_LOOP();
    QFETCH(eBefore_Read, eBefore);
    QFETCH(QString, qsError);
    QFETCH(int, iErrno);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate((eBefore == eFill_Deleted ? 2048ULL : 32ULL) * 1048576, 4096, "ext4"));
    if (eBefore == eVolume_Full) {
        // Blocks until the volume refuses, then words until it refuses once more after a sync:
        // ext4 frees what it had set aside for writes in flight only when they reach the disk.
        const int iFiller = ::open(QFile::encodeName(oLoop.qsMount + "filler").constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(iFiller >= 0);
        const QByteArray qbaBlock(4096, 'f');
        for (const int iSize : {4096, 8, 8}) {
            while (::write(iFiller, qbaBlock.constData(), size_t(iSize)) == iSize) {
            }
            ::fsync(iFiller);
        }
        ::close(iFiller);
    }
    const QStringList qslArguments = qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,fill,read");
    cTool_Run oResult;
    if (eBefore == eFill_Deleted) {
        QProcess qTool;
        QVERIFY(bStart_Fill(qTool, oLoop.qsDevice, oLoop.qsMount, "poll,fill,read", 16));
        QVERIFY(QFile::remove(oLoop.qsMount + "data.data"));
        oResult = oFinished(qTool);
    } else if (eBefore == eFile_Limit_Under_A_Word) {
        oResult = oTool(QStringList{"--fsize=4", FILLSCAN_TOOL} + qslArguments, "prlimit");
    } else {
        oResult = oTool(qslArguments);
    }
    QCOMPARE(oResult.iExit, 1);
    QCOMPARE(oResult.qjLast()["step"].toString(), QString("fill"));
    QCOMPARE(oResult.qjLast()["status"].toString(), QString("error"));
    const QString qsSaid = oResult.qjLast()["error"].toString();
    if (iErrno == 0)
        QVERIFY2(qsSaid.contains(qsError), qPrintable(oResult.qsOut));
    else // the tool says the reason in Russian where that locale is there (LOCPATH included)
        QVERIFY2(qsSaid == qsError + std::strerror(iErrno) || qsSaid == qsError + qsRussian_Reason(iErrno),
                 qPrintable(oResult.qsOut));
}

void tst_Safety::volumeMoved_data()
{
    // Continuations (a 8 MiB file size limit) go into the volume the fill started in, or
    // nowhere: not into the directory under a volume unmounted meanwhile, nor where the
    // volume's link has been pointed since.
    QTest::addColumn<bool>("bUnmounted"); // lazily unmounted, else the volume's link pointed elsewhere
    QTest::addColumn<bool>("bSame_Fs");   // elsewhere is a directory of the volume's own file system
    QTest::newRow("lazily unmounted") << true << false;
    QTest::newRow("the volume's link pointed elsewhere") << false << false;
    QTest::newRow("the link pointed to another directory of the volume") << false << true;
}

void tst_Safety::volumeMoved()
{
    NEED_LOOP();
    NEED_PROGRAMS("prlimit");
    QFETCH(bool, bUnmounted);
    QFETCH(bool, bSame_Fs);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(1024ULL * 1048576, 4096, "ext4"));
    const QString qsMount = oLoop.qsMount, qsLink = oLoop.qTemp.filePath("volume"),
                  qsElsewhere = bSame_Fs ? qsMount + "elsewhere" : oLoop.qTemp.filePath("elsewhere");
    QVERIFY(QDir().mkpath(qsElsewhere) && QFile::link(qsMount, qsLink));
    QProcess qTool;
    qTool.start("prlimit", QStringList{"--fsize=" + QString::number(8 << 20), FILLSCAN_TOOL} +
                               qslBatch(oLoop.qsDevice, qsLink, "poll,fill"));
    QVERIFY(bWait_For([&] { return QFileInfo::exists(qsMount + "data.data.3"); }));
    if (bUnmounted) {
        QCOMPARE(qsRun("umount", {"-l", qsMount}).isEmpty(), true);
        oLoop.qsMount.clear(); // gone already; the device is free once the tool lets go
    } else {
        QVERIFY(QFile::remove(qsLink) && QFile::link(qsElsewhere, qsLink));
    }
    const cTool_Run oRun = oFinished(qTool);
    const QJsonObject qjFill = oRun.qjLast();
    QCOMPARE(oRun.iExit, 1);
    QCOMPARE(qjFill["status"].toString(), QString("error"));
    QVERIFY2(qjFill["error"].toString().contains("отмонтирован или его путь теперь ведёт в другой каталог"),
             qPrintable(qjFill["error"].toString()));
    QCOMPARE(QDir(bUnmounted ? qsMount : qsElsewhere).entryList(QDir::Files).size(), 0);
}

void tst_Safety::volumeChanged_data()
{
    // After the fill the volume is lazily unmounted, or its link re-pointed, and a user's data.data
    // that starts as a fill lies where the name now leads: the read judges it not, the clean keeps it.
    QTest::addColumn<bool>("bUnmounted"); // else the link pointed elsewhere
    QTest::addColumn<bool>("bBatch");     // poll,fill,read,clean in batch mode, else the engine's clean
    QTest::newRow("lazily unmounted, batch read and clean") << true << true;
    QTest::newRow("link pointed elsewhere, batch read and clean") << false << true;
    QTest::newRow("lazily unmounted, the clean") << true << false;
    QTest::newRow("link pointed elsewhere, the clean") << false << false;
}

void tst_Safety::volumeChanged()
{
    NEED_LOOP();
    QFETCH(bool, bUnmounted);
    QFETCH(bool, bBatch);
    cLoop_Device oLoop, oOther;
    QVERIFY_MADE(oLoop.qsCreate((bBatch ? 1024ULL : 64ULL) << 20, 4096, "ext4"));
    QVERIFY_MADE(bUnmounted ? QString() : oOther.qsCreate(32ULL << 20, 4096, "ext4"));
    const QString qsMount = oLoop.qsMount, qsLink = oLoop.qTemp.filePath("volume");
    QFile qUser((bUnmounted ? qsMount : oOther.qsMount) + "data.data");
    QVERIFY(QFile::link(qsMount, qsLink));
    QByteArray qbaUser(bBatch ? 28 : 24, 't'); // three words from the pattern, in batch mode a tail
    cData oPattern_Of_Poll;
    auto vChange = [&](const quint64 qui64Pattern) {
        // Each step's failure shows in the checks of the user's file at the end.
        if (bUnmounted && qsRun("umount", {"-l", qsMount}).isEmpty())
            oLoop.qsMount.clear(); // gone already; the device is free once the tool lets go
        if (!bUnmounted && QFile::remove(qsLink))
            QFile::link(oOther.qsMount, qsLink);
        for (int i = 0; i < 3; ++i)
            qToBigEndian<quint64>(qui64Pattern + i, qbaUser.data() + 8 * i);
        if (qUser.open(QIODevice::WriteOnly))
            qUser.write(qbaUser);
        qUser.close();
    };
    QString qsError;
    if (bBatch) {
        QProcess qTool;
        QVERIFY(bStart_Fill(qTool, oLoop.qsDevice, qsLink, "poll,fill,read,clean", 1));
        QByteArray qbaOut; // stopped as soon as the fill has told its end
        QVERIFY(bWait_For([&] { return (qbaOut += qTool.readAllStandardOutput()).count('\n') >= 2; }));
        kill(pid_t(qTool.processId()), SIGSTOP);
        vChange(QJsonDocument::fromJson(qbaOut.split('\n')[1]).object()["pattern_decimal"].toString().toULongLong());
        kill(pid_t(qTool.processId()), SIGCONT);
        const cTool_Run oRun = oFinished(qTool);
        const QStringList qslLines = (QString::fromUtf8(qbaOut) + oRun.qsOut).trimmed().split('\n');
        QCOMPARE(oRun.iExit, 1);
        QCOMPARE(qslLines.size(), 3); // no clean after the failed read
        const QJsonObject qjRead = QJsonDocument::fromJson(qslLines[2].toUtf8()).object();
        QCOMPARE(qjRead["status"].toString() + " " + qjRead["verdict"].toString(), QString("volume_changed none"));
        qsError = qjRead["error"].toString();
    } else {
        cDrive oDisk;
        cVolume oPolled;
        cTest_Operator oOperator;
        QVERIFY(oPoll(oDisk, oPolled, oPattern_Of_Poll, oLoop.qsDevice, qsLink + "/").bOk());
        const cFill_Result oFilled = oFill(oDisk, oPolled, oPattern_Of_Poll, oOperator);
        vChange(oFilled.qui64Pattern);
        const cClean_Result oClean_Result = oClean(oPolled);
        QVERIFY(bFill_Ok(oFilled) && !oClean_Result.bOk() && oClean_Result.qslRemoved.isEmpty());
        qsError = oClean_Result.qsError;
    }
    QVERIFY2(qsError.contains("раздел " + qsLink + "/ отмонтирован или его путь теперь ведёт в другой каталог"),
             qPrintable(qsError));
    QVERIFY(qUser.open(QIODevice::ReadOnly));
    QCOMPARE(qUser.readAll(), qbaUser);
    QVERIFY(bUnmounted || QFileInfo(qsMount + "data.data").size() > (1 << 20)); // the fill stays where written
}

void tst_Safety::killedFill()
{
    // A fill killed outright leaves a file whose size covers only words it wrote (the space
    // allocated ahead lies beyond it), and a read of it finds nothing lost.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(1024ULL * 1048576, 4096, "ext4"));
    const QString qsFill = oLoop.qsMount + "data.data";
    QProcess qTool;
    QVERIFY(bStart_Fill(qTool, oLoop.qsDevice, oLoop.qsMount, "poll,fill", 64));
    // Killed once its first chunk is in too (the writers finish chunks in any order).
    QVERIFY(bWait_For([&] {
        QFile qHead(qsFill);
        return qHead.open(QIODevice::ReadOnly) && qFromBigEndian<quint64>(qHead.read(8).constData()) != 0;
    }));
    kill(pid_t(qTool.processId()), SIGKILL);
    QVERIFY(qTool.waitForFinished(60000));
    QFile qFile(qsFill);
    QVERIFY(qFile.open(QIODevice::ReadOnly));
    const qint64 qi64Size = qFile.size();
    const quint64 qui64Pattern = qFromBigEndian<quint64>(qFile.read(8).constData());
    QVERIFY(qFile.seek(qi64Size - 8));
    QCOMPARE(qFromBigEndian<quint64>(qFile.read(8).constData()), qui64Pattern + quint64(qi64Size) / 8 - 1);
    const cTool_Run oRead = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,read"));
    QCOMPARE(oRead.qjLast()["verdict"].toString(), QString("intact"));
    QCOMPARE(oRead.iExit, 0);
}

void tst_Safety::stalledFill_data()
{
    QTest::addColumn<QString>("qsFs");
    QTest::addColumn<QString>("qsDriver");
    QTest::newRow("ext4, writers in parallel") << "ext4" << "mkfs.ext4";
    // Through a FUSE driver the fill waits in the writer in order, or in the final sync.
    QTest::newRow("exfat (exfat-fuse)") << "exfat" << "mount.exfat-fuse";
}

void tst_Safety::stalledFill()
{
    // A medium that stops taking writes (its FUSE server stopped) does not keep a fill from
    // ending on SIGINT: the fill reports within seconds. The process ends once the server
    // answers again: the kernel waits for requests in flight, whatever a program does.
    NEED_LOOP();
    QFETCH(QString, qsFs);
    QFETCH(QString, qsDriver);
    NEED_PROGRAMS("mkfs." + qsFs, qsDriver);
    NEED_FAULTY_DISK();
    QTemporaryDir qDir;
    QFile qImage(qDir.filePath("backing.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.resize(512LL << 20));
    qImage.close();
    cFaulty_Disk oDisk;
    QVERIFY_MADE(oDisk.qsStart_Writable(qImage.fileName(), 2));
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsAttach(oDisk.qsFile));
    QVERIFY_MADE(oLoop.qsMake_Fs(qsFs, {}, "defaults"));
    QProcess qTool;
    QVERIFY(bStart_Fill(qTool, oLoop.qsDevice, oLoop.qsMount, "poll,fill", 8, {"--force"}));
    kill(pid_t(oDisk.qServer.processId()), SIGSTOP);
    QTest::qWait(300);
    const QByteArray qbaOut = qbaAfter_Signal(qTool, SIGINT, 2);
    kill(pid_t(oDisk.qServer.processId()), SIGCONT);
    QCOMPARE(qbaOut.count('\n'), 2);
    QVERIFY(qTool.waitForFinished(60000));
    QCOMPARE(qTool.exitCode(), 128 + SIGINT);
    const QJsonObject qjFill = QJsonDocument::fromJson(qbaOut.trimmed().split('\n').last()).object();
    QCOMPARE(qjFill["status"].toString(), QString("cancelled"));
}

void tst_Safety::grownVolume()
{
    // A volume grown after its fill has another pattern by the poll; the read takes the
    // fill file's own and finds it, instead of calling the data encrypted.
    NEED_LOOP();
    NEED_PROGRAMS("resize2fs", "e2fsck");
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(24 * 1048576, 512, "ext4"));
    const cTool_Run oFill = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,fill"));
    QCOMPARE(oFill.iExit, 0);
    // Grown offline: a container may refuse the online resize.
    int iExit = 0;
    qsRun("umount", {oLoop.qsMount}, &iExit);
    QCOMPARE(iExit, 0);
    QVERIFY(QFile::resize(oLoop.qsImage, 96 << 20));
    qsRun("losetup", {"-c", oLoop.qsDevice}, &iExit);
    QCOMPARE(iExit, 0);
    qsRun("e2fsck", {"-fy", oLoop.qsDevice}, &iExit);
    qsRun("resize2fs", {oLoop.qsDevice}, &iExit);
    QCOMPARE(iExit, 0);
    qsRun("mount", {oLoop.qsDevice, oLoop.qsMount}, &iExit);
    QCOMPARE(iExit, 0);
    const cTool_Run oRead = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,read"));
    const QJsonObject qjPoll = QJsonDocument::fromJson(oRead.qsOut.split('\n').first().toUtf8()).object();
    QVERIFY(qjPoll["data"]["pattern_decimal"].toString() != oFill.qjLast()["pattern_decimal"].toString());
    QCOMPARE(oRead.qjLast()["pattern_source"].toString(), QString("fill_file"));
    QCOMPARE(oRead.qjLast()["pattern_decimal"].toString(), oFill.qjLast()["pattern_decimal"].toString());
    QCOMPARE(oRead.qjLast()["verdict"].toString(), QString("intact"));
    QCOMPARE(oRead.iExit, 0);
}

void tst_Safety::overlayUpper()
{
    // An overlay whose upper directory lies on the device writes its fill there: it is
    // filled without --force, and the read says the volume is on the device.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(64 * 1048576, 512, "ext4"));
    const QString qsUpper = oLoop.qsMount + "upper", qsWork = oLoop.qsMount + "work",
                  qsLower = oLoop.qTemp.filePath("lower"), qsMerged = oLoop.qTemp.filePath("merged");
    for (const QString &qsDir : {qsUpper, qsWork, qsLower, qsMerged})
        QVERIFY(QDir().mkpath(qsDir));
    int iExit = 0;
    qsRun("mount",
          {"-t", "overlay", "overlay", "-o",
           QString("lowerdir=%1,upperdir=%2,workdir=%3").arg(qsLower, qsUpper, qsWork), qsMerged},
          &iExit);
    if (iExit != 0)
        QSKIP("overlayfs cannot be mounted here");
    const cTool_Run oResult = oTool(qslBatch(oLoop.qsDevice, qsMerged, "poll,fill,read"));
    qsRun("umount", {qsMerged});
    QVERIFY2(oResult.iExit == 0, qPrintable(oResult.qsErr));
    QCOMPARE(oResult.qjLast()["verdict"].toString(), QString("intact"));
    QCOMPARE(oResult.qjLast()["volume_on_device"].toBool(), true);
    QVERIFY(QFileInfo(qsUpper + "/data.data").size() > (16 << 20));
}

void tst_Safety::manyRuns()
{
    // A medium of isolated fill words (one run each) under a tight address-space limit: the
    // read keeps as many runs as the memory allows and counts the rest, never a crash.
#ifdef __SANITIZE_ADDRESS__
    QSKIP("built with AddressSanitizer, whose shadow memory alone exceeds any address-space limit");
#endif
    NEED_LOOP();
    NEED_PROGRAMS("prlimit");
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsMount_Tmpfs("1g")); // the volume: it decides the pattern, holds no fill
    const QStringList qslWhere = {"--volume", oLoop.qsMount, "--json", "--quiet"};
    const QString qsImage = oLoop.qTemp.filePath("runs.img");
    const cTool_Run oPoll = oTool(qslWhere + QStringList{"--device", "/dev/null", "--batch", "poll"});
    const quint64 qui64Pattern = oPoll.qjLast()["data"].toObject()["pattern_decimal"].toString().toULongLong();
    QVERIFY(qui64Pattern != 0);
    QFile qImage(qsImage);
    QVERIFY(qImage.open(QIODevice::WriteOnly));
    QByteArray qbaChunk(1 << 20, '\0');
    quint64 j = 0;
    for (int iChunk = 0; iChunk < 256; ++iChunk) {
        for (int w = 0; w < (1 << 17); w += 2, j += 2)
            qToBigEndian<quint64>(qui64Pattern + j, qbaChunk.data() + 8 * w);
        QCOMPARE(qImage.write(qbaChunk), qint64(qbaChunk.size()));
    }
    qImage.close();
    const cTool_Run oRead = oTool(QStringList{"--as=1000000000", FILLSCAN_TOOL} + qslWhere +
                                      QStringList{"--device", qsImage, "--batch", "poll,read"},
                                  "prlimit");
    QVERIFY2(oRead.iExit == 0, qPrintable(QString::number(oRead.iExit) + oRead.qsErr));
    const QJsonObject qjRead = oRead.qjLast();
    QCOMPARE(qjRead["status"].toString(), QString("done"));
    QCOMPARE(quint64(qjRead["hits"].toDouble()), j / 2);
    QVERIFY(qjRead["untracked"].toDouble() > 0);
}

void tst_Safety::otherFilesKept_data()
{
    // Only the names the fill makes are its own: a user's files that look like them stay.
    QTest::addColumn<QString>("qsName");
    QTest::addColumn<bool>("bKept");
    QTest::newRow("data.data.02") << "data.data.02" << true;
    QTest::newRow("data.data.+2") << "data.data.+2" << true;
    QTest::newRow("data.data.0002") << "data.data.0002" << true;
    QTest::newRow("a blank before the number") << "data.data. 2" << true;
    QTest::newRow("a blank after the number") << "data.data.2 " << true;
    QTest::newRow("data.data.1") << "data.data.1" << true;
    QTest::newRow("an earlier fill's data.data.2 goes") << "data.data.2" << false;
    QTest::newRow("an earlier fill's data.data.17 goes") << "data.data.17" << false;
}

void tst_Safety::otherFilesKept()
{
    QFETCH(QString, qsName);
    QFETCH(bool, bKept);
    QTemporaryDir qDir;
    QFile qFile(qDir.filePath(qsName));
    QVERIFY(qFile.open(QIODevice::WriteOnly) && qFile.write("mine") == 4);
    qFile.close();
    QCOMPARE(oFill_Into(qDir.path(), 4096, cData().qui64Pattern).eStatus, eFill_Complete);
    QCOMPARE(QFileInfo::exists(qDir.filePath(qsName)), bKept);
}

void tst_Safety::fillNotAllRead_data()
{
    // What happens to the fill between the fill and the read of the same run.
    QTest::addColumn<eChange>("eWhat");
    QTest::addColumn<QString>("qsVerdict");
    QTest::addColumn<bool>("bLost"); // the read checked less than the fill wrote
    QTest::newRow("nothing") << eChange_None << "intact" << false;
    QTest::newRow("cut to one word") << eChange_Truncate << "intact" << true;
    QTest::newRow("deleted") << eChange_Delete << "remnants" << true; // its words are still on the medium
    // A continuation an earlier fill left and this one could not remove (another link to it
    // keeps it) is not part of this fill: its words do not go on from data.data's.
    QTest::newRow("a stale data.data.2 beside it") << eChange_Stale_Continuation << "intact" << false;
}

void tst_Safety::fillNotAllRead()
{
    NEED_LOOP();
    QFETCH(eChange, eWhat);
    QFETCH(QString, qsVerdict);
    QFETCH(bool, bLost);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(32 * 1048576, 512, "ext4"));
    const QString qsFill = oLoop.qsMount + "data.data";
    if (eWhat == eChange_Stale_Continuation) {
        QFile qOld(qsFill + ".2");
        QVERIFY(qOld.open(QIODevice::WriteOnly) && qOld.write(QByteArray(1 << 20, '\x55')) > 0);
        qOld.close();
        QCOMPARE(link(qPrintable(qsFill + ".2"), qPrintable(oLoop.qsMount + "keep")), 0);
    }
    cDrive oDisk;
    cVolume oPolled;
    cData oPattern;
    cTest_Operator oOperator;
    QVERIFY(oPoll(oDisk, oPolled, oPattern, oLoop.qsDevice, oLoop.qsMount).bOk());
    const cFill_Result oFilled = oFill(oDisk, oPolled, oPattern, oOperator);
    QVERIFY(bFill_Ok(oFilled));
    QCOMPARE(oFilled.qslStale.size(), eWhat == eChange_Stale_Continuation ? 1 : 0);
    if (eWhat == eChange_Stale_Continuation)
        QVERIFY(qsFill_Summary(oFilled).contains("Не удалось удалить продолжения прежнего заполнения: data.data.2: "
                                                 "у файла есть другие жёсткие ссылки."));
    auto vChange = [&] {
        if (eWhat == eChange_Truncate)
            QFile::resize(qsFill, 8);
        if (eWhat == eChange_Delete)
            QFile::remove(qsFill);
    };
    vChange();
    const cRead_Result oResult = oRead(oDisk, oPolled, oPattern, oOperator);
    QCOMPARE(QString(pcVerdict_Name(oResult.oVerdict.eValue)), qsVerdict);
    QCOMPARE(oResult.oVerdict.oLayout.qvParts.size(), eWhat == eChange_Delete ? 0 : 1);
    const QString qsLost = qsFill_Lost(oFilled, oResult);
    QCOMPARE(!qsLost.isEmpty(), bLost);
    if (bLost)
        QVERIFY(
            qsLost.startsWith(QString("Заполнение записало %1 слов в %2").arg(oFilled.qui64Words_Written).arg(qsFill)));

    // The window, which keeps its last fill's result, says the same.
    vForget_Records();
    MainWindow oWindow(nullptr, oLoop.qsDevice, oLoop.qsMount);
    cBox_Answerer oAnswerer;
    for (const char *pcButton : {"pushButton_Properties", "pushButton_Write"})
        QTest::mouseClick(oWindow.findChild<QPushButton *>(pcButton), Qt::LeftButton);
    vChange();
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Read"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslMessages.filter("Заполнение записало").size(), bLost ? 1 : 0);
}

QTEST_MAIN(tst_Safety)
#include "tst_safety.moc"
