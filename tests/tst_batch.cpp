// Batch mode: the real tool run headless on loop devices: its output and exit codes, and
// what a mistyped option, a hostile file or a signal does to it.
#include "Functions_Data.h"
#include "Functions_Options.h"
#include "support.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

class tst_Batch : public QObject
{
    Q_OBJECT

private slots:
    void pollFillRead();
    void wipeCheck();
    void fillRenamed();
    void forgedLines();
    void options_data();
    void options();
    void failures_data();
    void failures();
    void fillElsewhere_data();
    void fillElsewhere();
    void fillRetargeted();
    void mapOnVolume_data();
    void mapOnVolume();
    void filesItWrites();
    void cleanStep();
    void interrupt_data();
    void interrupt();
    void stalledDevice();
    void closedOutput();
    void shrinkingDevice();
};

void tst_Batch::pollFillRead()
{
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(64 * 1048576, 4096, "ext4"));
    const QStringList qslVolume = qsRun("stat", {"-f", "-c", "%S %b %f", oLoop.qsMount}).split(' ');
    const QString qsMap = oLoop.qTemp.filePath("map.png");
    const cTool_Run oJson = oTool(
        {"--device", oLoop.qsDevice, "--volume", oLoop.qsMount, "--batch", "poll,fill,read", "--json", "--map", qsMap});
    QCOMPARE(oJson.iExit, 0);
    QVERIFY2(!oJson.qsErr.contains("XDG_RUNTIME_DIR"), qPrintable(oJson.qsErr));
    const QStringList qslLines = oJson.qsOut.trimmed().split('\n');
    QCOMPARE(qslLines.size(), 3);
    const QJsonObject qjPoll = QJsonDocument::fromJson(qslLines[0].toUtf8()).object();
    const QJsonObject qjFill = QJsonDocument::fromJson(qslLines[1].toUtf8()).object();
    const QJsonObject qjRead = QJsonDocument::fromJson(qslLines[2].toUtf8()).object();
    QCOMPARE(qjPoll["device"]["name"].toString(), oLoop.qsDevice);
    QCOMPARE(qjPoll["error"].toString(), QString());
    QCOMPARE(quint64(qjPoll["volume"]["clusters_count"].toDouble()), qslVolume[1].toULongLong());
    cData oExpected; // the pattern, which a double cannot hold, comes as a string too
    oExpected.vGet_Properties(qslVolume[1].toULongLong(), qslVolume[0].toInt());
    QCOMPARE(qjPoll["data"]["pattern_decimal"].toString(), QString::number(oExpected.qui64Pattern));

    QCOMPARE(qjFill["status"].toString(), QString("full"));
    const quint64 qui64File_Words = quint64(QFileInfo(oLoop.qsMount + "data.data").size()) / 8;
    QCOMPARE(quint64(qjFill["words_written"].toDouble()), qui64File_Words);
    QCOMPARE(qjRead["status"].toString(), QString("done"));
    QCOMPARE(qjRead["verdict"].toString(), QString("intact"));
    QCOMPARE(qjRead["placement"].toString(), QString("known"));
    QCOMPARE(quint64(qjRead["in_place"].toDouble()), qui64File_Words);
    QCOMPARE(quint64(qjRead["fill_file"]["words"].toDouble()), qui64File_Words);
    QCOMPARE(qjRead["fill_file"]["missing_first_ranges"].toArray().size(), 0);
    QCOMPARE(qjRead["volume_on_device"].toBool(), true);
    QImage qMap(qsMap);
    QVERIFY(!qMap.isNull() && qMap.width() > 800);

    // The same steps for a person: the window's captions and summaries.
    const cTool_Run oText = oTool({"--device", oLoop.qsDevice, "--volume", oLoop.qsMount, "--batch", "poll,read"});
    QCOMPARE(oText.iExit, 0);
    QVERIFY2(oText.qsOut.contains("Носитель:\n  Системное имя: " + oLoop.qsDevice + "\n  Размер сектора: 4096\n") &&
                 oText.qsOut.contains("Чтение завершено: данные целы.\nДанные целы: все "),
             qPrintable(oText.qsOut));
}

void tst_Batch::wipeCheck()
{
    // A fill deleted leaves its words on the medium: remnants, where they lie, exit 3, also
    // with a file of the user's named data.data in its place, which is kept as it was. Once
    // the file system has told the medium (fstrim), nothing is left: clean, exit 0.
    NEED_LOOP();
    NEED_PROGRAMS("fstrim");
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(64 * 1048576, 512, "ext4"));
    const QStringList qslRead = qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,read");
    QCOMPARE(oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,fill")).iExit, 0);
    // The user's own data.data in its place, text not a fill: no fill file on the volume.
    const QString qsUser_File = oLoop.qsMount + "data.data";
    QVERIFY(QFile::remove(qsUser_File));
    QFile qUser(qsUser_File);
    QVERIFY(qUser.open(QIODevice::WriteOnly) &&
            qUser.write(QByteArray("строка текста пользователя\n").repeated(2000)) > 100000);
    qUser.close();
    const QByteArray qbaUser = qsRun("sha256sum", {qsUser_File}).toUtf8();
    const cTool_Run oDeleted = oTool(qslRead);
    QCOMPARE(oDeleted.iExit, 3);
    QJsonObject qjRead = oDeleted.qjLast();
    QCOMPARE(qjRead["verdict"].toString(), QString("remnants"));
    QVERIFY(qjRead["remnant_words"].toDouble() > 6 * 1048576);
    const QJsonArray qjRanges = qjRead["remnant_ranges"].toArray();
    QVERIFY(!qjRanges.isEmpty() && qjRead["remnant_areas"].toDouble() >= qjRanges.size());
    const QString qsFirst = QString::number(qint64(qjRanges[0].toArray()[0].toDouble()));
    QVERIFY2(qjRead["verdict_text"].toString().remove(QChar(0x00A0)).contains("первая с байта " + qsFirst),
             qPrintable(qjRead["verdict_text"].toString()));
    // The text says so too, with the ranges.
    const cTool_Run oText = oTool({"--device", oLoop.qsDevice, "--volume", oLoop.qsMount, "--batch", "poll,read"});
    QVERIFY2(oText.qsOut.contains("Слова прежнего заполнения лежат: байты "), qPrintable(oText.qsOut));

    int iExit = 0;
    qsRun("sync", {"-f", oLoop.qsMount}, &iExit); // ext4 trims what it freed once that is committed
    qsRun("fstrim", {oLoop.qsMount}, &iExit);
    QCOMPARE(iExit, 0);
    const cTool_Run oTrimmed = oTool(qslRead);
    QCOMPARE(oTrimmed.iExit, 0);
    qjRead = oTrimmed.qjLast();
    QCOMPARE(qjRead["verdict"].toString(), QString("clean"));
    QCOMPARE(qjRead["remnant_words"].toDouble(), 0.0);
    QVERIFY(qjRead["remnant_ranges"].toArray().isEmpty());
    QCOMPARE(qsRun("sha256sum", {qsUser_File}).toUtf8(), qbaUser);
}

void tst_Batch::fillRenamed()
{
    // data.data renamed away while it is written and a file of that name made: the checks
    // while filling read back the file the fill writes, never the new one, and a healthy
    // medium fills to its end.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(512 * 1048576, 4096, "ext4"));
    QProcess qTool;
    QVERIFY(bStart_Fill(qTool, oLoop.qsDevice, oLoop.qsMount, "poll,fill", 1));
    QVERIFY(QFile::rename(oLoop.qsMount + "data.data", oLoop.qsMount + "moved"));
    QFile qNew(oLoop.qsMount + "data.data");
    QVERIFY(qNew.open(QIODevice::WriteOnly) && qNew.write(QByteArray(1 << 20, 'x')) == 1 << 20);
    qNew.close();
    const cTool_Run oRun = oFinished(qTool);
    const QJsonObject qjFill = oRun.qjLast();
    QVERIFY2(qjFill["status"].toString() == "full" && !qjFill["loss_seen"].toBool(), qPrintable(oRun.qsOut));
    QVERIFY(qjFill["checks"].toInt() > 1);
    QCOMPARE(oRun.iExit, 0);
    quint64 qui64Words = 0;
    QVERIFY(bFill_Sequence(oLoop.qsMount + "moved", qjFill["pattern_decimal"].toString().toULongLong(), &qui64Words));
    QCOMPARE(qui64Words, quint64(qjFill["words_written"].toDouble()));
}

void tst_Batch::forgedLines()
{
    // Names with line feeds and escape sequences (a mount point, the volume given) are
    // printed escaped, so none can put a line of its own into the output.
    NEED_LOOP();
    NEED_PROGRAMS("lsblk", "mkfs.ext4");
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(32 * 1048576, 4096, "ext4"));
    const QString qsForged = "\nДанные целы: подделка\n";
    const QString qsMount = oLoop.qTemp.filePath("v" + qsForged + "\033[2J");
    QVERIFY(QDir().mkpath(qsMount));
    int iExit = 0;
    qsRun("umount", {oLoop.qsMount}, &iExit);
    QCOMPARE(iExit, 0);
    oLoop.qsMount.clear();
    qsRun("mount", {oLoop.qsDevice, qsMount}, &iExit);
    QCOMPARE(iExit, 0);
    oLoop.qsMount = qsMount + "/"; // unmounted with the fixture
    const cTool_Run oList = oTool({"--list"});
    const cTool_Run oRun = oTool({"--device", oLoop.qsDevice, "--volume", qsMount, "--batch", "poll,fill,read"});
    QCOMPARE(oRun.iExit, 0);
    QVERIFY2(oList.qsOut.contains("v\\x0aДанные целы: подделка\\x0a\\x1b[2J"), qPrintable(oList.qsOut));
    QVERIFY2(oRun.qsOut.contains("v\\x0aДанные целы: подделка\\x0a\\x1b[2J/data.data"), qPrintable(oRun.qsOut));
    for (const cTool_Run &oOutput : {oList, oRun})
        for (const QString &qsLine : (oOutput.qsOut + oOutput.qsErr).split('\n'))
            QVERIFY2(!qsLine.startsWith("Данные целы: подделка") && !qsLine.contains('\033'), qPrintable(qsLine));
}

void tst_Batch::options_data()
{
    QTest::addColumn<QStringList>("qslArguments");
    QTest::addColumn<int>("iExit");
    // For a command line that goes on: what batch mode is then given.
    QTest::addColumn<QString>("qsVolume");
    QTest::addColumn<QStringList>("qslSteps");
    QTest::addColumn<QString>("qsFlags");
    QTest::addColumn<quint64>("qui64Pattern");
    // Each flag in one row only, so that one taken for another shows.
    QTest::newRow("all steps, --json, --force, --map")
        << QStringList{"--volume", "/mnt/stick", "--batch", "poll,fill,read,clean",
                       "--json",   "--force",    "--map",   "m.png"}
        << iOptions_Go_On << "/mnt/stick/" << QStringList{"poll", "fill", "read", "clean"} << "json force map=m.png"
        << quint64(0);
    QTest::newRow("steps in the order given, the slash kept, --quiet, --full")
        << QStringList{"--volume", "/mnt/stick/", "--batch", "read,poll", "--quiet", "--full"} << iOptions_Go_On
        << "/mnt/stick/" << QStringList{"read", "poll"} << "quiet full" << quint64(0);
    QTest::newRow("--pattern in hex") << QStringList{"--batch", "read", "--pattern", "0XFFFFFFFFFFFFF000"}
                                      << iOptions_Go_On << "/documents_hdd/" << QStringList{"read"} << ""
                                      << quint64(0xFFFFFFFFFFFFF000ULL);
    QTest::newRow("--pattern in decimal")
        << QStringList{"--batch", "read", "--pattern", "18446744073709551600"} << iOptions_Go_On << "/documents_hdd/"
        << QStringList{"read"} << "" << quint64(0xFFFFFFFFFFFFFFF0ULL);

    const auto vEnds = [](const QString &qsRow, const QStringList &qslArguments, const int iExit) {
        QTest::newRow(qPrintable(qsRow)) << qslArguments << iExit << QString() << QStringList() << QString()
                                         << quint64(0);
    };
    for (const char *pcBad : {"0x5", "0xFFFFFFFFFFFFFFFF", "12ab", "-16"})
        vEnds(QString("--pattern ") + pcBad, {"--batch", "read", "--pattern", pcBad}, iExit_Usage);
    vEnds("an empty step", {"--batch", "poll,,read"}, iExit_Usage);
    vEnds("--force without --batch", {"--force"}, iExit_Usage);
    vEnds("a stray argument", {"--batch", "poll", "stray"}, iExit_Usage);
    vEnds("--help before any check", {"--batch", "erase", "--help"}, iExit_Ok);
    vEnds("--version", {"--version"}, iExit_Ok);
}

void tst_Batch::options()
{
    // Parsed in-process, printing nothing: the exit code, or the fields batch mode reads.
    QFETCH(QStringList, qslArguments);
    QFETCH(int, iExit);
    QFETCH(QString, qsVolume);
    QFETCH(QStringList, qslSteps);
    QFETCH(QString, qsFlags);
    QFETCH(quint64, qui64Pattern);
    cOptions oOptions;
    QCOMPARE(iParse_Options(QStringList{"fillscan"} + qslArguments, oOptions, false), iExit);
    if (iExit != iOptions_Go_On)
        return;
    QCOMPARE(oOptions.bBatch, true);
    QCOMPARE(oOptions.qsVolume, qsVolume);
    QCOMPARE(oOptions.qslSteps, qslSteps);
    QStringList qslFlags = {oOptions.bJson ? "json" : "", oOptions.bQuiet ? "quiet" : "",
                            oOptions.bForce ? "force" : "", oOptions.bFull ? "full" : "",
                            oOptions.qsMap.isEmpty() ? "" : "map=" + oOptions.qsMap};
    qslFlags.removeAll(QString());
    QCOMPARE(qslFlags.join(' '), qsFlags);
    QCOMPARE(oOptions.qui64Pattern, qui64Pattern);
}

void tst_Batch::failures_data()
{
    QTest::addColumn<QStringList>("qslArguments");
    QTest::addColumn<int>("iExit");
    QTest::addColumn<QString>("qsError");
    QTest::addColumn<QString>("qsJson_Error"); // the last JSON line's "error", when there is one
    // Kept until the rows have run.
    static QTemporaryDir qDir;
    const QString qsFifo = qDir.filePath("fifo"), qsPlain = qDir.filePath("plain-file");
    mkfifo(qsFifo.toLocal8Bit().constData(), 0600);
    QFile qFile(qsPlain);
    qFile.open(QIODevice::WriteOnly);
    const QStringList qslImage = {"--device", qsPlain, "--json"};
    QTest::newRow("device cannot be opened")
        << QStringList{"--device", "/nonexistent/disk", "--volume", "/tmp", "--batch", "poll"} << 1
        << "Ошибка!\nНе удалось открыть носитель. Скорее всего, бинарнику не присвоены пользователь root и права "
           "777.\n/nonexistent/disk: No such file or directory.\n"
        << "";
    QTest::newRow("a directory as the device")
        << QStringList{"--device", qDir.path(), "--volume", "/tmp", "--batch", "poll", "--json"} << 1
        << "Носитель " + qDir.path() + " — каталог, а не блочное устройство или файл образа: Is a directory."
        << "не удалось открыть носитель";
    QTest::newRow("--map naming nothing") << QStringList{"--batch", "poll", "--map", ""} << 2
                                          << "--map не может быть пустым"
                                          << "";
    QTest::newRow("--help-all, without a display") << QStringList{"--help-all"} << 0 << ""
                                                   << "";
    QTest::newRow("missing volume") << qslImage + QStringList{"--volume", "/nonexistent/volume", "--batch", "poll"} << 1
                                    << "Не удалось опросить раздел /nonexistent/volume/: No such file or directory."
                                    << "не удалось опросить раздел /nonexistent/volume/: No such file or directory";
    QTest::newRow("volume that is a file")
        << qslImage + QStringList{"--volume", qsPlain, "--batch", "poll"} << 1 << "Not a directory"
        << "не удалось опросить раздел " + qsPlain + "/: Not a directory";
    QTest::newRow("fill before any poll")
        << QStringList{"--batch", "fill"} << 1 << "Раздел не опрошен: сначала выполните шаг poll"
        << "";
    QTest::newRow("a FIFO as the device, without hanging")
        << QStringList{"--device", qsFifo, "--volume", "/tmp", "--batch", "poll,read", "--json"} << 1
        << "Не удалось открыть носитель " + qsFifo + " для чтения: это не блочное устройство и не файл образа."
        << "это не блочное устройство и не файл образа";
    QTest::newRow("/dev/null as the device")
        << QStringList{"--device", "/dev/null", "--volume", "/tmp", "--batch", "poll,read"} << 1
        << "это не блочное устройство и не файл образа"
        << "";
    QTest::newRow("unknown step") << QStringList{"--batch", "poll,erase"} << 2 << "неизвестный шаг \"erase\""
                                  << "";
    QTest::newRow("unknown option, in Russian") << QStringList{"--bogus"} << 2 << "Неизвестный параметр «bogus»"
                                                << "";
    QTest::newRow("--json without --batch") << QStringList{"--json"} << 2 << "действуют только вместе с --batch"
                                            << "";
    QTest::newRow("empty volume") << QStringList{"--volume", "", "--batch", "poll"} << 2 << "не могут быть пустыми"
                                  << "";
}

void tst_Batch::failures()
{
    QFETCH(QStringList, qslArguments);
    QFETCH(int, iExit);
    QFETCH(QString, qsError);
    QFETCH(QString, qsJson_Error);
    const cTool_Run oResult = oTool(qslArguments);
    QCOMPARE(oResult.iExit, iExit);
    QVERIFY2(oResult.qsErr.contains(qsError), qPrintable(oResult.qsErr));
    QVERIFY(!oResult.qsErr.contains("_____")); // no separator line on a terminal
    QVERIFY(oResult.qi64Ms < 20000);
    if (!qsJson_Error.isEmpty()) {
        QCOMPARE(oResult.qjLast()["error"].toString(), qsJson_Error);
        QCOMPARE(oResult.qjLast()["ok"].toBool(), false);
    }
    if (iExit == 2) // the usage text, in Russian like the rest
        QVERIFY(oResult.qsErr.contains("--batch <STEPS>") && oResult.qsErr.contains("Параметры:"));
    if (iExit == 0)
        QVERIFY(oResult.qsOut.contains("--batch <STEPS>"));
}

void tst_Batch::fillElsewhere_data()
{
    QTest::addColumn<bool>("bTmpfs"); // a tmpfs of the test's own, else the root file system
    QTest::addColumn<bool>("bForce");
    QTest::newRow("tmpfs, refused") << true << false;
    QTest::newRow("tmpfs, with --force") << true << true;
    QTest::newRow("the root file system, refused") << false << false;
}

void tst_Batch::fillElsewhere()
{
    // A volume that does not lie on the polled device is not filled unless the operator
    // says so: a mistyped path must not fill the root file system or RAM.
    NEED_LOOP();
    QFETCH(bool, bTmpfs);
    QFETCH(bool, bForce);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(16 * 1048576));
    if (bTmpfs)
        QVERIFY_MADE(oLoop.qsMount_Tmpfs("8m"));
    const QString qsVolume = bTmpfs ? oLoop.qsMount : "/";
    const cTool_Run oResult =
        oTool(qslBatch(oLoop.qsDevice, qsVolume, "poll,fill") + (bForce ? QStringList{"--force"} : QStringList()));
    QCOMPARE(oResult.iExit, bForce ? 0 : 1);
    QCOMPARE(oResult.qjLast()["status"].toString(), QString(bForce ? "complete" : "refused"));
    QCOMPARE(QFileInfo::exists(qsVolume + "data.data"), bForce);
    if (!bForce)
        QVERIFY2(oResult.qsErr.contains("Чтобы заполнить его всё равно, добавьте --force."), qPrintable(oResult.qsErr));
}

void tst_Batch::fillRetargeted()
{
    // The volume's link is pointed at a tmpfs after the fill checked where the volume lies and
    // before it opened the directory (every open of the link's path held back 1.5 s): the fill
    // writes where it checked, or nowhere, never into RAM.
    NEED_LOOP();
    NEED_PROGRAMS("strace");
    cLoop_Device oLoop, oRam;
    QVERIFY_MADE(oLoop.qsCreate(64 * 1048576, 512, "ext4"));
    QVERIFY_MADE(oRam.qsMount_Tmpfs("16m"));
    const QString qsLink = oLoop.qTemp.filePath("volume");
    QVERIFY(QFile::link(oLoop.qsMount, qsLink));
    QProcess qTool;
    qTool.start("strace", QStringList{"-f", "-qq", "-o", "/dev/null", "-P", qsLink, "-P", qsLink + "/", "-e",
                                      "trace=openat", "-e", "inject=openat:delay_enter=1500000", FILLSCAN_TOOL} +
                              qslBatch(oLoop.qsDevice, qsLink + "/", "poll,fill"));
    QByteArray qbaOut;
    QVERIFY(bWait_For([&] { return (qbaOut += qTool.readAllStandardOutput()).count('\n') >= 1; }));
    QTest::qWait(300); // the check is done, the open held back
    QVERIFY(QFile::remove(qsLink) && QFile::link(oRam.qsMount, qsLink));
    const cTool_Run oRun = oFinished(qTool);
    QVERIFY2(QDir(oRam.qsMount).entryList(QDir::Files | QDir::Hidden).isEmpty(), qPrintable(oRun.qsOut));
    const QJsonObject qjFill = oRun.qjLast();
    QCOMPARE(qjFill["step"].toString(), QString("fill"));
    if (oRun.iExit == 0) // written where it was checked
        QVERIFY(QFileInfo(oLoop.qsMount + "data.data").size() > (1 << 20));
    else
        QVERIFY2(qjFill["error"].toString().contains("отмонтирован или его путь теперь ведёт в другой каталог"),
                 qPrintable(oRun.qsOut + oRun.qsErr));
}

void tst_Batch::mapOnVolume_data()
{
    // A map that would lie on the volume under test by another way than its device number.
    QTest::addColumn<bool>("bOverlay"); // else a btrfs subvolume of the volume
    QTest::newRow("a btrfs subvolume of the volume") << false;
    QTest::newRow("an overlay whose upper directory is on the volume") << true;
}

void tst_Batch::mapOnVolume()
{
    NEED_LOOP();
    QFETCH(bool, bOverlay);
    if (!bOverlay)
        NEED_PROGRAMS("mkfs.btrfs", "btrfs");
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(bOverlay ? 64 * 1048576 : 256 * 1048576, 512, bOverlay ? "ext4" : "btrfs"));
    const QString qsUpper = oLoop.qsMount + "upper", qsMerged = oLoop.qTemp.filePath("merged");
    QString qsDir = oLoop.qsMount + "sub";
    int iExit = 0;
    if (bOverlay) {
        for (const QString &qsMade : {qsUpper, oLoop.qsMount + "work", oLoop.qTemp.filePath("lower"), qsMerged})
            QVERIFY(QDir().mkpath(qsMade));
        qsRun("mount", {"-t", "overlay", "overlay", "-o",
                        QString("lowerdir=%1,upperdir=%2,workdir=%3")
                            .arg(oLoop.qTemp.filePath("lower"), qsUpper, oLoop.qsMount + "work"),
                        qsMerged},
              &iExit);
        qsDir = qsMerged;
    } else {
        qsRun("btrfs", {"subvolume", "create", qsDir}, &iExit);
    }
    if (iExit != 0)
        QSKIP(bOverlay ? "overlayfs cannot be mounted here" : "no btrfs subvolume can be made here");
    const QString qsMap = qsDir + "/map.png";
    const cTool_Run oResult = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,read") + QStringList{"--map", qsMap});
    const bool bWritten = QFileInfo::exists(qsMap);
    if (bOverlay)
        qsRun("umount", {qsMerged});
    QCOMPARE(oResult.iExit, 1);
    QVERIFY2(oResult.qsErr.contains("Не удалось сохранить карту в " + qsMap + ": файл лёг бы на проверяемый раздел"),
             qPrintable(oResult.qsErr));
    QCOMPARE(bWritten, false);
    QCOMPARE(QFileInfo::exists(qsUpper + "/map.png"), false);
}

void tst_Batch::filesItWrites()
{
    // The tool runs as root: a map name planted as a link, and a fill file left by another
    // user, must not make it write into someone else's file.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(32 * 1048576, 512, "ext4"));
    const QString qsVictim = oLoop.qTemp.filePath("root-only"), qsMap = oLoop.qTemp.filePath("map.png");
    QFile qVictim(qsVictim);
    QVERIFY(qVictim.open(QIODevice::WriteOnly) && qVictim.write("secret") == 6);
    qVictim.close();
    QVERIFY(QFile::link(qsVictim, qsMap));
    const QString qsFill = oLoop.qsMount + "data.data";
    QFile qForeign(qsFill);
    QVERIFY(qForeign.open(QIODevice::WriteOnly) && qForeign.write("theirs") == 6);
    qForeign.close();
    QCOMPARE(chown(qsFill.toLocal8Bit().constData(), 65534, 65534), 0);
    QCOMPARE(chmod(qsFill.toLocal8Bit().constData(), 0), 0);

    const cTool_Run oResult = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,fill,read") + QStringList{"--map", qsMap});
    QCOMPARE(oResult.iExit, 1);
    QVERIFY2(oResult.qsErr.contains("Не удалось сохранить карту в " + qsMap + ": это символическая ссылка, а не файл."),
             qPrintable(oResult.qsErr));
    QVERIFY(qVictim.open(QIODevice::ReadOnly));
    QCOMPARE(qVictim.readAll(), QByteArray("secret"));
    struct stat strFill;
    QCOMPARE(stat(qsFill.toLocal8Bit().constData(), &strFill), 0);
    QCOMPARE(int(strFill.st_uid), 0);
    QCOMPARE(int(strFill.st_mode & 07777), 0644);
    QCOMPARE(oResult.qsOut.trimmed().split('\n').size(), 3); // the read ran, and said so
}

void tst_Batch::cleanStep()
{
    // The stick back as it was: the fill's file goes, a user's file with a look-alike name stays
    // (a new fill must not take it for a continuation either).
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(32 * 1048576, 512, "ext4"));
    const QString qsUser_File = oLoop.qsMount + "data.data.02";
    QFile qUser(qsUser_File);
    QVERIFY(qUser.open(QIODevice::WriteOnly) && qUser.write("mine") == 4);
    qUser.close();
    const cTool_Run oResult = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,fill,read,clean"));
    QCOMPARE(oResult.iExit, 0);
    const QStringList qslLines = oResult.qsOut.trimmed().split('\n');
    QCOMPARE(qslLines.size(), 4);
    const QJsonObject qjFill = QJsonDocument::fromJson(qslLines[1].toUtf8()).object();
    const QJsonObject qjClean = oResult.qjLast();
    QCOMPARE(qjClean["step"].toString(), QString("clean"));
    QCOMPARE(qjClean["ok"].toBool(), true);
    QCOMPARE(qjClean["removed"].toArray(), QJsonArray{oLoop.qsMount + "data.data"});
    QCOMPARE(qjClean["bytes"].toDouble(), qjFill["words_written"].toDouble() * 8);
    QVERIFY(!QFileInfo::exists(oLoop.qsMount + "data.data"));
    QVERIFY(qUser.open(QIODevice::ReadOnly));
    QCOMPARE(qUser.readAll(), QByteArray("mine"));

    // Nothing left to remove is no failure; without a poll the step says what to do first.
    const cTool_Run oAgain = oTool({"--volume", oLoop.qsMount, "--device", oLoop.qsDevice, "--batch", "poll,clean"});
    QCOMPARE(oAgain.iExit, 0);
    QVERIFY2(oAgain.qsOut.contains("Файлов заполнения на разделе нет."), qPrintable(oAgain.qsOut));
    const cTool_Run oNo_Poll = oTool({"--batch", "clean"});
    QCOMPARE(oNo_Poll.iExit, 1);
    QVERIFY2(oNo_Poll.qsErr.contains("Раздел не опрошен: сначала выполните шаг poll"), qPrintable(oNo_Poll.qsErr));
    QCOMPARE(oNo_Poll.qsOut, QString()); // no summary of a clean that did not run
}

void tst_Batch::interrupt_data()
{
    QTest::addColumn<int>("iSignal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void tst_Batch::interrupt()
{
    // A signal stops the fill like "Отмена": whole words kept, the exit status says which
    // signal. The next fill over the remains of this one is judged on its own words.
    NEED_LOOP();
    QFETCH(int, iSignal);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(1024ULL * 1048576, 4096, "ext4"));
    QProcess qProcess;
    QVERIFY(bStart_Fill(qProcess, oLoop.qsDevice, oLoop.qsMount, "poll,fill,read", 64));
    kill(pid_t(qProcess.processId()), iSignal);
    QVERIFY(qProcess.waitForFinished(60000));
    QCOMPARE(qProcess.exitCode(), 128 + iSignal);
    const QStringList qslLines = QString::fromUtf8(qProcess.readAllStandardOutput()).trimmed().split('\n');
    QCOMPARE(qslLines.size(), 2); // poll and the cut fill; the read never starts
    const QJsonObject qjFill = QJsonDocument::fromJson(qslLines[1].toUtf8()).object();
    QCOMPARE(qjFill["status"].toString(), QString("cancelled"));
    const quint64 qui64Words = quint64(qjFill["words_written"].toDouble());
    QVERIFY(qui64Words > 0 && qui64Words * 8 < 1000ULL * 1048576);
    quint64 qui64In_File = 0;
    QVERIFY(bFill_Sequence(oLoop.qsMount + "data.data", qjFill["pattern_decimal"].toString().toULongLong(), &qui64In_File));
    QCOMPARE(qui64In_File, qui64Words);
    if (iSignal == SIGHUP) {
        const cTool_Run oAgain = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,fill,read"));
        QCOMPARE(oAgain.iExit, 0);
        QCOMPARE(oAgain.qjLast()["verdict"].toString(), QString("intact"));
    }
}

void tst_Batch::stalledDevice()
{
    // A device that stops answering (its FUSE server stopped) does not keep the tool after
    // SIGTERM: it reports what it read within seconds. The process itself ends only when the
    // requests the server had taken come back: the kernel waits for those, whatever a
    // program does.
    NEED_FAULTY_DISK();
    QTemporaryDir qDir;
    QFile qImage(qDir.filePath("backing.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.resize(1LL << 30));
    qImage.close();
    cFaulty_Disk oDisk;
    QVERIFY_MADE(oDisk.qsStart(qImage.fileName(), 0, 0, 20));
    QProcess qTool;
    qTool.start(FILLSCAN_TOOL, qslBatch(oDisk.qsFile, qDir.path(), "poll,read"));
    QVERIFY(qTool.waitForStarted());
    QTest::qWait(500);
    kill(pid_t(oDisk.qServer.processId()), SIGSTOP);
    QTest::qWait(200);
    const QByteArray qbaOut = qbaAfter_Signal(qTool, SIGTERM, 2);
    QCOMPARE(qbaOut.count('\n'), 2);
    kill(pid_t(oDisk.qServer.processId()), SIGCONT);
    QVERIFY(qTool.waitForFinished(20000));
    QCOMPARE(qTool.exitCode(), 128 + SIGTERM);
    const QJsonObject qjRead = QJsonDocument::fromJson(qbaOut.trimmed().split('\n').last()).object();
    QCOMPARE(qjRead["status"].toString(), QString("cancelled"));
    QVERIFY(qjRead["bytes_read"].toDouble() < double(1LL << 30));
}

void tst_Batch::closedOutput()
{
    // `--json | head -1`: once nobody reads the results the tool stops, with whole words.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(2048ULL * 1048576, 4096, "ext4"));
    const QString qsCommand = QString("'%1' --device %2 --volume %3 --batch poll,fill,read --json --quiet | head -n 1 "
                                      "> /dev/null; exit ${PIPESTATUS[0]}")
                                  .arg(FILLSCAN_TOOL, oLoop.qsDevice, oLoop.qsMount);
    int iExit = 0;
    qsRun("bash", {"-c", qsCommand}, &iExit);
    QCOMPARE(iExit, 128 + SIGPIPE);
    const quint64 qui64Bytes = quint64(QFileInfo(oLoop.qsMount + "data.data").size());
    QVERIFY(qui64Bytes % 8 == 0 && qui64Bytes < 1900ULL * 1048576);
}

void tst_Batch::shrinkingDevice()
{
    // A device that becomes smaller under the read is a failed read, not unreadable bytes.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(16ULL << 30));
    QProcess qTool;
    qTool.start(FILLSCAN_TOOL, qslBatch(oLoop.qsDevice, oLoop.qTemp.path(), "poll,read"));
    QVERIFY(qTool.waitForStarted());
    QTest::qWait(300);
    QVERIFY(QFile::resize(oLoop.qsImage, 1LL << 30));
    int iExit = 0;
    qsRun("losetup", {"-c", oLoop.qsDevice}, &iExit);
    QCOMPARE(iExit, 0);
    const cTool_Run oRun = oFinished(qTool);
    QCOMPARE(oRun.iExit, 1);
    const QJsonObject qjRead = oRun.qjLast();
    QCOMPARE(qjRead["status"].toString(), QString("device_shrank"));
    QCOMPARE(qjRead["bytes_unreadable"].toDouble(), 0.0);
    QCOMPARE(qjRead["device_shrank_to"].toDouble(), double(1LL << 30));
}

QTEST_MAIN(tst_Batch)
#include "tst_batch.moc"
