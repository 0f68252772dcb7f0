// The verdict on real stacks: emulated media served by nbdkit (healthy; fakes that keep
// part of what they announce, wrap, chain, cache, keep only the last writes or refuse writes
// after a while; unreadable sectors; flipped bits) on ext4 and on exFAT, partitioned as
// sticks come or not; data encrypted or compressed at rest; an old fill under a sparse file.
// Each gets its verdict and real capacity from the batch tool, and the same in the window.
#include "Functions_Report.h"
#include "mainwindow.h"
#include "support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>

class tst_Media : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
    void earlyStop_data();
    void earlyStop();
};

// nbdfuse serving a medium from nbdkit as a file; unmounting ends both.
class cFuse_Server
{
public:
    ~cFuse_Server() { vStop_Fuse(qsDir, qProcess); }

    QString qsDir;
    QProcess qProcess;
};

// A medium served by nbdkit through nbdfuse as a file, attached as a loop device with direct
// I/O (without it the loop's page cache would hide what the medium does), ext4 on it. The
// members go in reverse order: the mount and the loop device before the file they use.
class cEmulated_Medium
{
public:
    // qslMedium: the plugin's parameters; qsFs: ext4 or exfat.
    QString qsStart(const QStringList &qslMedium, const QString &qsFs, const bool bPartitioned)
    {
        const QString qsDir = qTemp.filePath("nbd");
        QDir().mkpath(qsDir);
        const QString qsPid = qTemp.filePath("nbdfuse.pid");
        // A line for every failed request: in a pipe nobody drains it would stall the medium.
        oServer.qProcess.setStandardErrorFile(qTemp.filePath("nbdfuse.log"));
        oServer.qProcess.start("nbdfuse", QStringList{"-P", qsPid, qsDir + "/medium.img", "--command", "nbdkit", "-s",
                                                      FILLSCAN_FAKE_MEDIUM} +
                                              qslMedium);
        QElapsedTimer qTimer;
        qTimer.start();
        while (!QFile::exists(qsPid) && qTimer.elapsed() < 20000 && oServer.qProcess.state() != QProcess::NotRunning)
            QTest::qWait(50);
        if (!QFile::exists(qsPid))
            return "nbdfuse did not start: " + qsRun("cat", {qTemp.filePath("nbdfuse.log")});
        oServer.qsDir = qsDir;
        const QString qsError = oLoop.qsAttach(qsDir + "/medium.img", bPartitioned);
        // The journal would lie in the middle of the volume, which a fake medium loses.
        return qsError.isEmpty() ? oLoop.qsMake_Fs(qsFs, qsFs == "ext4" ? QStringList{"-O", "^has_journal"}
                                                                         : QStringList(), "defaults")
                                 : qsError;
    }

    QTemporaryDir qTemp;
    cFuse_Server oServer;
    cLoop_Device oLoop;
};

// An encrypting FUSE file system over a directory of ext4 on a loop device, served in the
// foreground so that its end can be awaited before the ext4 below is unmounted.
class cEncrypted_Volume
{
public:
    ~cEncrypted_Volume() { vStop_Fuse(qsPlain, qServer); }

    QString qsStart()
    {
        QString qsError = oLoop.qsCreate(256 * 1048576, 512, "ext4");
        if (!qsError.isEmpty())
            return qsError;
        const QString qsCipher = oLoop.qsMount + "cipher";
        const QString qsMount = oLoop.qTemp.filePath("plain");
        QDir().mkpath(qsCipher);
        QDir().mkpath(qsMount);
        int iExit = 0;
        qsRun("gocryptfs", {"-init", "-q", "-extpass", "echo fillscan", "-scryptn", "10", qsCipher}, &iExit);
        if (iExit != 0)
            return "gocryptfs -init failed";
        qServer.start("gocryptfs", {"-fg", "-q", "-extpass", "echo fillscan", qsCipher, qsMount});
        QElapsedTimer qTimer;
        qTimer.start();
        while (qsRun("findmnt", {"-n", "-o", "FSTYPE", qsMount}) != "fuse.gocryptfs" && qTimer.elapsed() < 20000 &&
               qServer.state() != QProcess::NotRunning)
            QTest::qWait(50);
        if (qServer.state() == QProcess::NotRunning)
            return "gocryptfs did not mount: " + QString::fromUtf8(qServer.readAllStandardError());
        qsPlain = qsMount;
        return QString();
    }

    cLoop_Device oLoop;
    QProcess qServer;
    QString qsPlain;
};

void tst_Media::verdict_data()
{
    QTest::addColumn<QString>("qsSetup");   // a medium's plugin parameters, or gocryptfs, btrfs, sparse
    QTest::addColumn<QString>("qsFs");      // ext4, exfat; "p" after it: partitioned
    QTest::addColumn<QString>("qsVerdict");
    QTest::addColumn<double>("dUsable");    // MiB, within 2 %; 0: none
    QTest::addColumn<double>("dCache");     // MiB, within 2 %; 0: none
    QTest::addColumn<QString>("qsFirst_Line");
    const QString qsFake = "Поддельная ёмкость: носитель хранит данные только до";
    const QString qsWrap = "Поддельная ёмкость: носитель зацикливает адреса";
    QTest::newRow("healthy") << "size=512M" << "ext4" << "intact" << 0.0 << 0.0 << "Данные целы: все";
    QTest::newRow("keeps 192 of 512 MiB") << "size=512M keep=192M mode=limit" << "ext4" << "capacity_limited" << 192.0
                                          << 0.0 << qsFake;
    QTest::newRow("keeps 192 MiB, partitioned") << "size=512M keep=192M mode=limit" << "ext4p" << "capacity_limited"
                                                << 192.0 << 0.0 << qsFake;
    QTest::newRow("wraps every 320 MiB") << "size=512M keep=320M mode=wrap" << "ext4" << "wraparound" << 320.0 << 0.0
                                         << qsWrap;
    QTest::newRow("chain: 1 GiB, mask 512 MiB, 384 MiB real")
        << "size=1G mask=512M keep=384M mode=limit" << "ext4" << "wraparound" << 384.0 << 0.0
        << qsWrap + " через каждые 512,0 МиБ";
    QTest::newRow("16 MiB strict cache beyond 192 MiB")
        << "size=512M keep=192M mode=limit cache=16M cache_mode=strict" << "ext4" << "capacity_limited" << 192.0
        << 16.0 << ", и ещё около 16,0 МиБ держит кэш";
    QTest::newRow("16 MiB loose cache beyond 192 MiB")
        << "size=512M keep=192M mode=limit cache=16M cache_mode=loose" << "ext4" << "capacity_limited" << 192.0 << 16.0
        << ", и ещё около 16,0 МиБ держит кэш";
    QTest::newRow("keeps the last 192 MiB written")
        << "size=512M log=192M" << "ext4" << "keeps_recent" << 192.0 << 0.0
        << "Поддельная ёмкость: носитель хранит только последние ~";
    QTest::newRow("refuses writes after 320 MiB")
        << "size=512M fail_after=320M" << "ext4" << "write_failed" << 320.0 << 0.0
        << "Носитель перестал принимать запись после ~";
    QTest::newRow("1 MiB unreadable at 256 MiB") << "size=512M bad=256M-257M" << "ext4" << "damaged" << 0.0 << 0.0
                                                 << "Носитель повреждён: не удалось прочитать 1,00 МиБ";
    QTest::newRow("3 unreadable sectors") << "size=512M bad=268435456-268436992" << "exfat" << "damaged" << 0.0 << 0.0
                                          << "Носитель повреждён: не удалось прочитать 1,50 КиБ";
    QTest::newRow("a bit flipped in every 1000th block")
        << "size=512M flip=1000" << "ext4" << "data_changed" << 0.0 << 0.0 << "Данные искажены: на своих местах";
    QTest::newRow("exFAT: healthy") << "size=512M" << "exfat" << "intact" << 0.0 << 0.0 << "Данные целы: все";
    QTest::newRow("exFAT: keeps 192 MiB, partitioned")
        << "size=512M keep=192M mode=limit" << "exfatp" << "capacity_limited" << 192.0 << 0.0 << qsFake;
    QTest::newRow("exFAT: 16 MiB loose cache")
        << "size=512M keep=192M mode=limit cache=16M cache_mode=loose" << "exfat" << "capacity_limited" << 192.0
        << 16.0 << qsFake;
    QTest::newRow("exFAT: wraps every 320 MiB") << "size=512M keep=320M mode=wrap" << "exfat" << "wraparound" << 320.0
                                                << 0.0 << qsWrap;
    QTest::newRow("exFAT: keeps the last 192 MiB written") << "size=512M log=192M" << "exfat" << "keeps_recent" << 192.0
                                                           << 0.0 << "Поддельная ёмкость: носитель хранит только";
    QTest::newRow("exFAT: refuses writes after 320 MiB") << "size=512M fail_after=320M" << "exfat" << "write_failed"
                                                         << 320.0 << 0.0 << "Носитель перестал принимать запись";
    QTest::newRow("exFAT: a bit flipped in every 1000th block")
        << "size=512M flip=1000" << "exfat" << "data_changed" << 0.0 << 0.0 << "Данные искажены";
    QTest::newRow("encrypted at rest (gocryptfs)")
        << "gocryptfs" << "ext4" << "no_plaintext" << 0.0 << 0.0
        << "Ни одного слова заполнения на носителе нет: данные попадают на носитель зашифрованными или сжатыми.";
    // btrfs stores a few kilobytes of the file's tail as they are, so the first line may
    // count them.
    QTest::newRow("compressed at rest (btrfs, zstd)")
        << "btrfs" << "btrfs" << "no_plaintext" << 0.0 << 0.0 << "данные попадают на носитель зашифрованными или сжатыми";
    QTest::newRow("sparse fill file over an old fill")
        << "sparse" << "ext4" << "data_missing" << 0.0 << 0.0 << "Часть данных потеряна: не найдено";
}

// The per-region counts add up to the totals they break down.
static void vCheck_Regions(const QJsonObject &qjRead)
{
    const QJsonObject qjRegions = qjRead["regions"].toObject();
    auto dSum = [&](const char *pcKey) {
        double dResult = 0;
        for (const QJsonValue &qjCount : qjRegions[pcKey].toArray())
            dResult += qjCount.toDouble();
        return dResult;
    };
    QCOMPARE(dSum("unreadable"), qjRead["bytes_unreadable"].toDouble());
    QCOMPARE(dSum("changed"), qjRead["changed"].toDouble());
    if (qjRead["placement"].toString() == "unknown")
        return;
    QCOMPARE(dSum("in_place"), qjRead["in_place"].toDouble());
    QCOMPARE(dSum("in_place") + dSum("other"), qjRead["hits"].toDouble());
}

void tst_Media::verdict()
{
    NEED_LOOP();
    QFETCH(QString, qsSetup);
    QFETCH(QString, qsFs);
    QFETCH(QString, qsVerdict);
    QFETCH(double, dUsable);
    QFETCH(double, dCache);
    QFETCH(QString, qsFirst_Line);
    cEmulated_Medium oMedium;
    cEncrypted_Volume oEncrypted;
    cLoop_Device oPlain;
    QString qsDevice, qsVolume, qsError;
    if (qsSetup.startsWith("size=")) {
        if (QString(FILLSCAN_FAKE_MEDIUM).isEmpty())
            QSKIP("the nbdkit plugin was not built (nbdkit-plugin-dev missing)");
        NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3", "sfdisk", "partx",
                      qsFs.startsWith("exfat") ? "mount.exfat-fuse" : "mkfs.ext4");
        const bool bPartitioned = qsFs.endsWith('p');
        qsError = oMedium.qsStart(qsSetup.split(' '), bPartitioned ? qsFs.chopped(1) : qsFs, bPartitioned);
        qsDevice = oMedium.oLoop.qsDevice;
        qsVolume = oMedium.oLoop.qsMount;
    } else if (qsSetup == "gocryptfs") {
        NEED_PROGRAMS("gocryptfs", "fusermount3");
        qsError = oEncrypted.qsStart();
        qsDevice = oEncrypted.oLoop.qsDevice;
        qsVolume = oEncrypted.qsPlain + "/";
    } else {
        NEED_PROGRAMS("mkfs." + qsFs);
        qsError = qsSetup == "btrfs" ? oPlain.qsCreate(256 * 1048576, 512, "btrfs", {}, "compress-force=zstd")
                                     : oPlain.qsCreate(64 * 1048576, 512, "ext4");
        qsDevice = oPlain.qsDevice;
        qsVolume = oPlain.qsMount;
    }
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));

    QProcess qTool;
    const QStringList qslWhere = {"--device", qsDevice, "--volume", qsVolume, "--json", "--quiet"};
    const bool bSparse = qsSetup == "sparse";
    qTool.start(FILLSCAN_TOOL, qslWhere + QStringList{"--batch", bSparse ? "poll,fill" : "poll,fill,read"});
    QVERIFY(qTool.waitForFinished(120000));
    if (bSparse) { // an old fill's words stay on the disk under a file without data
        QCOMPARE(qTool.exitCode(), 0);
        const QString qsFill = qsVolume + "data.data";
        const qint64 qi64Size = QFileInfo(qsFill).size();
        QVERIFY(QFile::remove(qsFill));
        QFile qSparse(qsFill);
        QVERIFY(qSparse.open(QIODevice::WriteOnly) && qSparse.resize(qi64Size));
        qTool.start(FILLSCAN_TOOL, qslWhere + QStringList{"--batch", "poll,read"});
        QVERIFY(qTool.waitForFinished(120000));
    }
    const QList<QByteArray> qlLines = qTool.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject qjRead = QJsonDocument::fromJson(qlLines.last()).object();
    QVERIFY2(qjRead["verdict"].toString() == qsVerdict, qlLines.last().constData());
    QCOMPARE(qTool.exitCode(), qsVerdict == "intact" ? 0 : 3);
    QCOMPARE(qjRead["volume_on_device"].toBool(), true);
    auto vWithin = [](const double dBytes, const double dMiB) {
        QVERIFY2(dMiB == 0 ? dBytes == 0 : qAbs(dBytes / 1048576 - dMiB) <= dMiB / 50,
                 qPrintable(QString("%1 MiB, expected %2").arg(dBytes / 1048576).arg(dMiB)));
    };
    vWithin(qjRead["usable_bytes"].toDouble(), dUsable);
    vWithin(qjRead["cache_bytes"].toDouble(), dCache);
    vCheck_Regions(qjRead);
    if (qsSetup.contains("bad=")) { // located to the sector
        const QStringList qslBad = qsSetup.section("bad=", 1).split('-');
        const auto qui64Size = [](QString qs) {
            return qs.endsWith('M') ? qs.chopped(1).toULongLong() << 20 : qs.toULongLong();
        };
        QCOMPARE(qjRead["unreadable_ranges"].toArray(),
                 (QJsonArray{QJsonArray{double(qui64Size(qslBad[0])), double(qui64Size(qslBad[1]))}}));
    }
    if (qsVerdict == "data_changed") // a word of every 1000th 4 KiB block of the fill
        QVERIFY(qjRead["changed"].toDouble() > 100 && qjRead["missing"].toDouble() == 0);
    if (qsSetup.contains("fail_after"))
        return; // only the run that filled knows that the medium refused its writes

    // The window says the same in the read's box: the verdict first, with a warning when
    // the medium failed.
    oDrive = cDrive();
    oData = cData();
    MainWindow oWindow(nullptr, qsDevice, qsVolume);
    cBox_Answerer oAnswerer([](QMessageBox *qBox) { // the fill stays: no to removing it
        (qBox->button(QMessageBox::No) ? qBox->button(QMessageBox::No) : qBox->buttons().first())->click();
    });
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Read"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslMessages.size(), 2); // the read, then whether to remove the fill
    QVERIFY(oAnswerer.qslHeadings[0].startsWith("Чтение завершено: "));
    QVERIFY(oAnswerer.qslHeadings[1].startsWith("Удалить файл заполнения"));
    QVERIFY2(oAnswerer.qslMessages[0].section('\n', 0, 0).contains(qsFirst_Line), qPrintable(oAnswerer.qslMessages[0]));
    QCOMPARE(oAnswerer.qlIcons[0], qsVerdict == "intact" ? int(QMessageBox::Information) : int(QMessageBox::Warning));
}

void tst_Media::earlyStop_data()
{
    QTest::addColumn<QString>("qsMedium");
    QTest::addColumn<bool>("bFull");
    QTest::addColumn<QString>("qsVerdict");
    QTest::addColumn<double>("dUsable"); // MiB, within 2 %
    // A 2 GiB fake that keeps 256 MiB: the fill stops soon after it passes them, and the read
    // covers what the fill wrote and samples the rest.
    QTest::newRow("2 GiB announced, 256 MiB kept") << "size=2G keep=256M mode=limit" << false << "capacity_limited"
                                                 << 256.0;
    QTest::newRow("the same, --full") << "size=2G keep=256M mode=limit" << true << "capacity_limited" << 256.0;
    // Stopped before it wrote over them, the file system's own structures at the start survive.
    QTest::newRow("wraps every 320 MiB") << "size=1G keep=320M mode=wrap" << false << "wraparound" << 320.0;
    QTest::newRow("healthy: nothing stops") << "size=512M" << false << "intact" << 0.0;
}

void tst_Media::earlyStop()
{
    NEED_LOOP();
    QFETCH(QString, qsMedium);
    QFETCH(bool, bFull);
    QFETCH(QString, qsVerdict);
    QFETCH(double, dUsable);
    if (QString(FILLSCAN_FAKE_MEDIUM).isEmpty())
        QSKIP("the nbdkit plugin was not built (nbdkit-plugin-dev missing)");
    NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3", "mkfs.ext4");
    cEmulated_Medium oMedium;
    QVERIFY_MADE(oMedium.qsStart(qsMedium.split(' '), "ext4", false));
    QStringList qslArguments = {"--device", oMedium.oLoop.qsDevice, "--volume", oMedium.oLoop.qsMount,
                                "--batch",  "poll,fill,read",        "--json",   "--quiet"};
    if (bFull)
        qslArguments << "--full";
    const cTool_Run oRun = oTool(qslArguments);
    const QStringList qslLines = oRun.qsOut.trimmed().split('\n');
    QCOMPARE(qslLines.size(), 3);
    const QJsonObject qjFill = QJsonDocument::fromJson(qslLines[1].toUtf8()).object();
    const QJsonObject qjRead = QJsonDocument::fromJson(qslLines[2].toUtf8()).object();
    QVERIFY2(qjRead["verdict"].toString() == qsVerdict, qPrintable(qslLines[2].left(600)));
    QCOMPARE(oRun.iExit, qsVerdict == "intact" ? 0 : 3);
    const double dBytes = qjRead["usable_bytes"].toDouble();
    QVERIFY2(dUsable == 0 ? dBytes == 0 : qAbs(dBytes / 1048576 - dUsable) <= dUsable / 50,
             qPrintable(QString::number(dBytes / 1048576)));
    QVERIFY(qjFill["checks"].toInt() > 0);
    const bool bStopped = qsVerdict != "intact" && !bFull;
    QCOMPARE(qjFill["status"].toString(), bStopped ? QString("medium_loses_data") : QString("full"));
    QCOMPARE(qjFill["loss_seen"].toBool(), qsVerdict != "intact");
    // Stopped within a few checks' length of the loss, not at the announced end.
    const double dWritten = qjFill["bytes_written"].toDouble() / 1048576;
    if (bStopped)
        QVERIFY2(dWritten < dUsable + 400, qPrintable(QString::number(dWritten)));
    QCOMPARE(qjRead["sampled"].toBool(), bStopped);
    if (bStopped && qsMedium.startsWith("size=2G")) // a small part of what it announces
        QVERIFY(qjRead["bytes_read"].toDouble() < qjRead["bytes_count"].toDouble() / 2);
    if (qsMedium.contains("wrap")) { // the volume still mounts and holds the fill file
        int iExit = 0;
        qsRun("umount", {oMedium.oLoop.qsMount}, &iExit);
        QCOMPARE(iExit, 0);
        qsRun("mount", {oMedium.oLoop.qsDevice, oMedium.oLoop.qsMount}, &iExit);
        QCOMPARE(iExit, 0);
        QVERIFY(QFileInfo(oMedium.oLoop.qsMount + "data.data").isFile());
    }
}

QTEST_MAIN(tst_Media)
#include "tst_media.moc"
