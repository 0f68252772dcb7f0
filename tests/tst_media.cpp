// The verdict on real stacks: emulated media served by nbdkit (healthy; fakes that keep
// part of what they announce, wrap, chain, cache, keep only the last writes or refuse writes
// after a while; unreadable sectors; flipped bits) on ext4 and on exFAT, partitioned as
// sticks come or not; data encrypted or compressed at rest; an old fill under a sparse file.
// Each gets its verdict and real capacity from the batch tool, and the same in the window.
// The medium probe on ext4, xfs and btrfs: its verdict in seconds, the user's files and the
// file system untouched, also when a signal stops it.
#include "Functions_Report.h"
#include "Functions_Text.h"
#include "Functions_Map.h"
#include "Functions_Map_Window.h"
#include "mainwindow.h"
#include "support.h"

#include <QAbstractButton>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QtEndian>
#include <QtTest>

#include <QCryptographicHash>

#include <csignal>

#include <unistd.h>

class tst_Media : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
    void earlyStop_data();
    void earlyStop();
    void patternGiven_data();
    void patternGiven();
    void slowCancel_data();
    void slowCancel();
    void probe_data();
    void probe();
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

// The stack the fill goes through onto the device.
enum eStack {
    eStack_Medium,     // an emulated medium, the file system on it (partitioned as a stick, when asked)
    eStack_Encrypted,  // gocryptfs over ext4 on a loop device
    eStack_Compressed, // btrfs with zstd forced, on a loop device
    eStack_Sparse,     // ext4 on a loop device, the fill file made sparse after the fill
};
Q_DECLARE_METATYPE(eStack)
typedef QVector<QPair<quint64, quint64>> tByte_Ranges; // [first, end) device bytes
Q_DECLARE_METATYPE(tByte_Ranges)

// Fakes on file systems whose placement comes from their own structures, 1 GiB announced:
// where the file system puts the fill decides what the read can prove.
static void vPlaced_Rows()
{
    auto vRow = [](const char *pcName, const QStringList &qslMedium, const QString &qsFs, const QStringList &qslMkfs,
                   const QString &qsVerdict, const double dUsable, const bool bRange, const double dCache,
                   const double dLost_From, const QString &qsFirst_Line) {
        QTest::newRow(pcName) << eStack_Medium << qslMedium << tByte_Ranges() << qsFs << qslMkfs << false << qsVerdict
                              << dUsable << bRange << dCache << dLost_From << qsFirst_Line;
    };
    // Four laps over 128 MiB: every word of the last lap is found four times.
    vRow("exfat: wraps every 128 of 512 MiB", {"size=512M", "keep=128M", "mode=wrap"}, "exfat", {}, "wraparound", 128,
         false, 0, 0, "Поддельная ёмкость: носитель зацикливает адреса через каждые 128,0 МиБ");
    // btrfs puts its data chunks past the start: the lost device ranges begin at the limit.
    vRow("btrfs: keeps 300 of 1024 MiB", {"size=1G", "keep=300M", "mode=limit"}, "btrfs", {}, "capacity_limited", 300,
         false, 0, 300, "Поддельная ёмкость: носитель хранит данные только до смещения 314");
    // xfs fills its first allocation group part way, then goes on in the second: nothing of
    // the fill lies where the medium ends.
    vRow("xfs, 2 allocation groups: keeps 400 of 1024 MiB, 32 MiB loose cache",
         {"size=1G", "keep=400M", "mode=limit", "cache=32M", "cache_mode=loose"}, "xfs", {"-d", "agcount=2"},
         "capacity_limited", 400, true, 32, 0, "между ними заполнение не легло, проверить нельзя");
    // The fill stops soon after the checks see the loss, wherever that lands.
    vRow("ext4: keeps 192 of 1024 MiB, 48 MiB strict cache", {"size=1G", "keep=192M", "mode=limit", "cache=48M"},
         "ext4", {}, "capacity_limited", 192, false, 48, 192, "и ещё около 48,0 МиБ держит кэш");
}

void tst_Media::verdict_data()
{
    QTest::addColumn<eStack>("eThrough");
    QTest::addColumn<QStringList>("qslMedium"); // the emulated medium's parameters, but the unreadable bytes
    QTest::addColumn<tByte_Ranges>("qvUnreadable"); // the medium's, located to the sector by the read
    QTest::addColumn<QString>("qsFs");
    QTest::addColumn<QStringList>("qslMkfs"); // more of mkfs's options
    QTest::addColumn<bool>("bPartitioned");
    QTest::addColumn<QString>("qsVerdict");
    QTest::addColumn<double>("dUsable"); // MiB, within 2 %; 0: none
    // The fill leaves a stretch unwritten where the medium ends: the capacity is told as a
    // range that holds dUsable, usable_bytes its proven lower end.
    QTest::addColumn<bool>("bRange");
    QTest::addColumn<double>("dCache");     // MiB, within 2 %; 0: none
    // MiB: every missing stretch lies at or past it (a range's top when bRange); 0: not checked
    QTest::addColumn<double>("dLost_From");
    QTest::addColumn<QString>("qsFirst_Line");
    const QString qsFake = "Поддельная ёмкость: носитель хранит данные только до";
    const QString qsWrap = "Поддельная ёмкость: носитель зацикливает адреса";
    const QString qsCache = ", и ещё около 16,0 МиБ держит кэш";
    const QStringList qslKeep = {"size=512M", "keep=192M", "mode=limit"}, qslCached = qslKeep + QStringList{"cache=16M"};
    const QStringList qslWrap = {"size=512M", "keep=320M", "mode=wrap"}, qslLog = {"size=512M", "log=192M"};
    const QStringList qslRefuse = {"size=512M", "fail_after=320M"}, qslFlip = {"size=512M", "flip=1000"};
    const QString qsLast = "Поддельная ёмкость: носитель хранит только последние ~";
    const QString qsRefused = "Носитель перестал принимать запись после ~", qsChanged = "Данные искажены: на своих местах";
    const tByte_Ranges qvNone;
    for (const QString &qsFs : QStringList{"ext4", "exfat"}) {
        auto vRow = [&](const QString &qsName, const QStringList &qslMedium, const bool bPartitioned,
                        const QString &qsVerdict, const double dUsable, const double dCache, const double dLost_From,
                        const QString &qsFirst_Line, const tByte_Ranges &qvUnreadable = {}) {
            QTest::newRow(qPrintable(qsFs + ": " + qsName))
                << eStack_Medium << qslMedium << qvUnreadable << qsFs << QStringList() << bPartitioned << qsVerdict
                << dUsable << false << dCache << dLost_From << qsFirst_Line;
        };
        vRow("healthy", {"size=512M"}, false, "intact", 0, 0, 0, "Данные целы: все");
        vRow("keeps 192 MiB, partitioned", qslKeep, true, "capacity_limited", 192, 0, 192, qsFake);
        vRow("16 MiB loose cache beyond 192 MiB", qslCached + QStringList{"cache_mode=loose"}, false,
             "capacity_limited", 192, 16, 192, qsFs == "ext4" ? qsCache : qsFake);
        vRow("wraps every 320 MiB", qslWrap, false, "wraparound", 320, 0, 0, qsWrap);
        vRow("keeps the last 192 MiB written", qslLog, false, "keeps_recent", 192, 0, 0, qsLast);
        vRow("refuses writes after 320 MiB", qslRefuse, false, "write_failed", 320, 0, 0, qsRefused);
        vRow("a bit flipped in every 1000th block", qslFlip, false, "data_changed", 0, 0, 0, qsChanged);
        if (qsFs == "exfat") {
            vRow("3 unreadable sectors", {"size=512M"}, false, "damaged", 0, 0, 0,
                 "Носитель повреждён: не удалось прочитать 1,50 КиБ", {{268435456, 268436992}});
            continue;
        }
        vRow("keeps 192 of 512 MiB", qslKeep, false, "capacity_limited", 192, 0, 192, qsFake);
        // Nothing read proves nothing intact, whatever the fill saw refused.
        vRow("dies after 24 MiB written: nothing can be read", {"size=64M", "die_after=24M"}, false, "damaged", 0, 0,
             0, "Носитель повреждён: не удалось прочитать 64,0 МиБ");
        vRow("chain: 1 GiB, mask 512 MiB, 384 MiB real", {"size=1G", "mask=512M", "keep=384M", "mode=limit"}, false,
             "wraparound", 384, 0, 0, qsWrap + " через каждые 512,0 МиБ");
        vRow("16 MiB strict cache beyond 192 MiB", qslCached + QStringList{"cache_mode=strict"}, false,
             "capacity_limited", 192, 16, 192, qsCache);
        vRow("1 MiB unreadable at 256 MiB", {"size=512M"}, false, "damaged", 0, 0, 0,
             "Носитель повреждён: не удалось прочитать 1,00 МиБ", {{256 << 20, 257 << 20}});
    }
    vPlaced_Rows();
    QTest::newRow("encrypted at rest (gocryptfs)")
        << eStack_Encrypted << QStringList() << qvNone << "ext4" << QStringList() << false << "no_plaintext" << 0.0
        << false << 0.0 << 0.0
        << "Ни одного слова заполнения на носителе нет: данные попадают на носитель зашифрованными или сжатыми.";
    // btrfs stores a few kilobytes of the file's tail as they are, so the first line may
    // count them.
    QTest::newRow("compressed at rest (btrfs, zstd)")
        << eStack_Compressed << QStringList() << qvNone << "btrfs" << QStringList() << false << "no_plaintext" << 0.0
        << false << 0.0 << 0.0 << "данные попадают на носитель зашифрованными или сжатыми";
    QTest::newRow("sparse fill file over an old fill")
        << eStack_Sparse << QStringList() << qvNone << "ext4" << QStringList() << false << "data_missing" << 0.0
        << false << 0.0 << 0.0 << "Часть данных потеряна: не найдено";
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

// The emulated medium's figure within 2 %, or none.
static void vWithin(const double dBytes, const double dMiB)
{
    QVERIFY2(dMiB == 0 ? dBytes == 0 : qAbs(dBytes / 1048576 - dMiB) <= dMiB / 50,
             qPrintable(QString("%1 MiB, expected %2").arg(dBytes / 1048576).arg(dMiB)));
}

// The capacity: usable_bytes the proven part; a range holds the truth (MiB), proven kept
// below, proven lost above, and the loss is then looked for from its top (*pdLost_From).
static void vCheck_Capacity(const QJsonObject &qjRead, const double dUsable, const bool bRange, double *pdLost_From)
{
    const double dMin = qjRead["capacity_min_bytes"].toDouble(), dMax = qjRead["capacity_max_bytes"].toDouble();
    QCOMPARE(dMin, qjRead["usable_bytes"].toDouble());
    if (!bRange) {
        vWithin(dMin, dUsable);
        QCOMPARE(dMax, dMin);
        return;
    }
    QVERIFY2(dMin < dMax && dMin <= dUsable * 1.02 * 1048576 && dMax >= dUsable * 0.98 * 1048576,
             qPrintable(QString("%1 .. %2 MiB").arg(dMin / 1048576).arg(dMax / 1048576)));
    *pdLost_From = dMax / 1048576;
    // A loose cache's stale copies in the unmeasured stretch are its, not an earlier fill's.
    QVERIFY(qjRead["remnants"].toDouble() * 100 < qjRead["medium_copies"].toDouble());
}

// The window says the same in the read's box: the verdict first, with a warning when the
// medium failed.
static void vCheck_Window(const QString &qsDevice, const QString &qsVolume, const QString &qsVerdict,
                          const QString &qsFirst_Line)
{
    vForget_Records();
    MainWindow oWindow(nullptr, qsDevice, qsVolume);
    cBox_Answerer oAnswerer([](QMessageBox *qBox) { // the fill stays: no to removing it
        (qBox->button(QMessageBox::No) ? qBox->button(QMessageBox::No) : qBox->buttons().first())->click();
    });
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Read"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslMessages.size(), 3); // no probe, the read, then whether to remove the fill
    QVERIFY(oAnswerer.qslHeadings[0].startsWith("Провести быструю пробу"));
    QVERIFY(oAnswerer.qslHeadings[1].startsWith("Чтение завершено: "));
    QVERIFY(oAnswerer.qslHeadings[2].startsWith("Удалить файл заполнения"));
    QVERIFY2(oAnswerer.qslMessages[1].section('\n', 0, 0).contains(qsFirst_Line), qPrintable(oAnswerer.qslMessages[1]));
    QCOMPARE(oAnswerer.qlIcons[1], qsVerdict == "intact" ? int(QMessageBox::Information) : int(QMessageBox::Warning));
}

void tst_Media::verdict()
{
    NEED_LOOP();
    QFETCH(eStack, eThrough);
    QFETCH(QStringList, qslMedium);
    QFETCH(tByte_Ranges, qvUnreadable);
    QFETCH(QString, qsFs);
    QFETCH(QStringList, qslMkfs);
    QFETCH(bool, bPartitioned);
    QFETCH(QString, qsVerdict);
    QFETCH(double, dUsable);
    QFETCH(bool, bRange);
    QFETCH(double, dCache);
    QFETCH(double, dLost_From);
    QFETCH(QString, qsFirst_Line);
    cEmulated_Medium oMedium;
    cEncrypted_Volume oEncrypted;
    cLoop_Device oPlain;
    QString qsDevice, qsVolume;
    if (eThrough == eStack_Medium) {
        if (QString(FILLSCAN_FAKE_MEDIUM).isEmpty())
            QSKIP("the nbdkit plugin was not built (nbdkit-plugin-dev missing)");
        NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3", "sfdisk", "partx",
                      qsFs == "exfat" ? "mount.exfat-fuse" : "mkfs." + qsFs);
        for (const auto &qpBad : qvUnreadable)
            qslMedium << QString("bad=%1-%2").arg(qpBad.first).arg(qpBad.second);
        QVERIFY_MADE(oMedium.qsStart(qslMedium, qsFs, bPartitioned, qslMkfs));
        qsDevice = oMedium.oLoop.qsDevice;
        qsVolume = oMedium.oLoop.qsMount;
    } else if (eThrough == eStack_Encrypted) {
        NEED_PROGRAMS("gocryptfs", "fusermount3");
        QVERIFY_MADE(oEncrypted.qsStart());
        qsDevice = oEncrypted.oLoop.qsDevice;
        qsVolume = oEncrypted.qsPlain + "/";
    } else {
        NEED_PROGRAMS("mkfs." + qsFs);
        QVERIFY_MADE(eThrough == eStack_Compressed
                         ? oPlain.qsCreate(256 * 1048576, 512, "btrfs", {}, "compress-force=zstd")
                         : oPlain.qsCreate(64 * 1048576, 512, "ext4"));
        qsDevice = oPlain.qsDevice;
        qsVolume = oPlain.qsMount;
    }

    const bool bSparse = eThrough == eStack_Sparse;
    cTool_Run oRun = oTool(qslBatch(qsDevice, qsVolume, bSparse ? "poll,fill" : "poll,fill,read"));
    if (bSparse) { // an old fill's words stay on the disk under a file without data
        QCOMPARE(oRun.iExit, 0);
        const QString qsFill = qsVolume + "data.data";
        const qint64 qi64Size = QFileInfo(qsFill).size();
        QVERIFY(QFile::remove(qsFill));
        QFile qSparse(qsFill);
        QVERIFY(qSparse.open(QIODevice::WriteOnly) && qSparse.resize(qi64Size));
        oRun = oTool(qslBatch(qsDevice, qsVolume, "poll,read"));
    }
    const QJsonObject qjRead = oRun.qjLast();
    QVERIFY2(qjRead["verdict"].toString() == qsVerdict, qPrintable(oRun.qsOut.trimmed().section('\n', -1)));
    QCOMPARE(oRun.iExit, qsVerdict == "intact" ? 0 : 3);
    QCOMPARE(qjRead["volume_on_device"].toBool(), true);
    vCheck_Capacity(qjRead, dUsable, bRange, &dLost_From);
    if (QTest::currentTestFailed())
        return;
    vWithin(qjRead["cache_bytes"].toDouble(), dCache);
    vCheck_Regions(qjRead);
    if (!qvUnreadable.isEmpty()) // located to the sector
        QCOMPARE(qjRead["unreadable_ranges"].toArray(),
                 (QJsonArray{QJsonArray{double(qvUnreadable[0].first), double(qvUnreadable[0].second)}}));
    if (qsVerdict == "data_changed") // a word of every 1000th 4 KiB block of the fill
        QVERIFY(qjRead["changed"].toDouble() > 100 && qjRead["missing"].toDouble() == 0);
    if (dLost_From > 0) { // what is lost lay beyond what the medium keeps, from its first byte on
        const QJsonArray qjMissing = qjRead["fill_file"]["missing_ranges"].toArray();
        QVERIFY(!qjMissing.isEmpty());
        for (const QJsonValue &qjRange : qjMissing)
            QVERIFY2(qjRange["device_offset"].toDouble() >= dLost_From * 1048576, qPrintable(QJsonDocument(qjRange.toObject()).toJson()));
        QVERIFY(qjMissing[0]["device_offset"].toDouble() < (dLost_From + 1) * 1048576);
    }
    if (qsVerdict == "damaged" && qvUnreadable.isEmpty()) { // the dead medium: not a byte read
        QCOMPARE(qjRead["bytes_read"].toDouble(), 0.0);
        QCOMPARE(qjRead["bytes_unreadable"].toDouble(), qjRead["bytes_count"].toDouble());
        QCOMPARE(qjRead["in_place"].toDouble(), 0.0);
    }
    if (qsVerdict == "write_failed" || qjRead["bytes_read"].toDouble() == 0)
        return; // only the run that filled knows that the medium refused its writes; a dead one stays dead
    vCheck_Window(qsDevice, qsVolume, qsVerdict, qsFirst_Line);
}

void tst_Media::earlyStop_data()
{
    QTest::addColumn<QStringList>("qslMedium");
    QTest::addColumn<QString>("qsFs");     // ext4, or exfat or vfat (FAT32) through their FUSE drivers
    QTest::addColumn<bool>("bFull");
    QTest::addColumn<QString>("qsVerdict");
    QTest::addColumn<double>("dUsable");     // MiB, within 2 %
    QTest::addColumn<bool>("bMostly_Fake"); // it keeps a small part of what it announces
    QTest::addColumn<bool>("bLoss");        // the checks while filling see the medium lose data
    // A 2 GiB fake that keeps 256 MiB: the fill stops soon after it passes them, and the read
    // covers what the fill wrote and samples the rest.
    const QStringList qslFake = {"size=2G", "keep=256M", "mode=limit"};
    QTest::newRow("2 GiB announced, 256 MiB kept") << qslFake << "ext4" << false << "capacity_limited" << 256.0 << true
                                                   << true;
    QTest::newRow("the same, --full") << qslFake << "ext4" << true << "capacity_limited" << 256.0 << true << true;
    // A read right after the write finds the last 16 MiB in the cache: only the stretch
    // written a lag ago shows the loss.
    QTest::newRow("the same with a 16 MiB cache") << qslFake + QStringList{"cache=16M"} << "ext4" << false
                                                  << "capacity_limited" << 256.0 << true << true;
    // Where the FUSE driver does not say where the file lies, the checks read it from the file
    // system's structures on the device each time, and still stop the fill as soon.
    QTest::newRow("exFAT: 2 GiB announced, 256 MiB kept") << qslFake << "exfat" << false << "capacity_limited" << 256.0
                                                          << true << true;
    QTest::newRow("FAT32 (fusefat): 2 GiB announced, 256 MiB kept") << qslFake << "vfat" << false << "capacity_limited"
                                                                    << 256.0 << true << true;
    // Stopped before it wrote over them, the file system's own structures at the start survive.
    QTest::newRow("wraps every 320 MiB") << QStringList{"size=1G", "keep=320M", "mode=wrap"} << "ext4" << false
                                         << "wraparound" << 320.0 << false << true;
    QTest::newRow("healthy: nothing stops") << QStringList{"size=512M"} << "ext4" << false << "intact" << 0.0 << false
                                            << false;
    QTest::newRow("exFAT, healthy: nothing stops") << QStringList{"size=512M"} << "exfat" << false << "intact" << 0.0
                                                   << false << false;
    QTest::newRow("FAT32 (fusefat), healthy: nothing stops") << QStringList{"size=512M"} << "vfat" << false << "intact"
                                                             << 0.0 << false << false;
    // A bit flipped in every tenth block is a change for the read to tell, not a loss.
    QTest::newRow("flipped bits: nothing stops") << QStringList{"size=512M", "flip=10"} << "ext4" << false
                                                 << "data_changed" << 0.0 << false << false;
}

void tst_Media::earlyStop()
{
    NEED_LOOP();
    QFETCH(QStringList, qslMedium);
    QFETCH(QString, qsFs);
    QFETCH(bool, bFull);
    QFETCH(QString, qsVerdict);
    QFETCH(double, dUsable);
    QFETCH(bool, bMostly_Fake);
    QFETCH(bool, bLoss);
    if (QString(FILLSCAN_FAKE_MEDIUM).isEmpty())
        QSKIP("the nbdkit plugin was not built (nbdkit-plugin-dev missing)");
    NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3",
                  qsFs == "exfat" ? "mount.exfat-fuse" : qsFs == "vfat" ? "fusefat" : "mkfs.ext4");
    cEmulated_Medium oMedium;
    QVERIFY_MADE(oMedium.qsStart(qslMedium, qsFs, false));
    const cTool_Run oRun = oTool(qslBatch(oMedium.oLoop.qsDevice, oMedium.oLoop.qsMount, "poll,fill,read") +
                                 (bFull ? QStringList{"--full"} : QStringList()));
    const QStringList qslLines = oRun.qsOut.trimmed().split('\n');
    QCOMPARE(qslLines.size(), 3);
    const QJsonObject qjFill = QJsonDocument::fromJson(qslLines[1].toUtf8()).object();
    const QJsonObject qjRead = QJsonDocument::fromJson(qslLines[2].toUtf8()).object();
    QVERIFY2(qjRead["verdict"].toString() == qsVerdict, qPrintable(qslLines[2].left(600)));
    QCOMPARE(oRun.iExit, qsVerdict == "intact" ? 0 : 3);
    vWithin(qjRead["usable_bytes"].toDouble(), dUsable);
    QVERIFY(qjFill["checks"].toInt() > 0);
    QCOMPARE(qjRead["placement_source"].toString(), QString(qsFs == "ext4" ? "fiemap" : "tsk"));
    const bool bStopped = bLoss && !bFull;
    QVERIFY2(qjFill["status"].toString() == (bStopped ? "medium_loses_data" : "full"), qPrintable(qslLines[1]));
    QCOMPARE(qjFill["loss_seen"].toBool(), bLoss);
    // Stopped within a few checks' length of the loss, not at the announced end; the loss
    // seen where the medium stopped keeping, behind the newest write (a cache holds what was
    // written last: a check of that would see nothing lost, or see it too late).
    const double dWritten = qjFill["bytes_written"].toDouble() / 1048576;
    const double dLoss = qjFill["loss_device_offset"].toDouble() / 1048576;
    if (bStopped)
        QVERIFY2(dWritten < dUsable + 400 && (!bMostly_Fake || (dLoss >= dUsable && dLoss < dWritten)),
                 qPrintable(qslLines[1]));
    if (!bLoss) { // the fill ran to the end of the volume
        const QJsonObject qjPoll = QJsonDocument::fromJson(qslLines[0].toUtf8()).object();
        QVERIFY2(dWritten >= 0.95 * qjPoll["volume"]["bytes_free_count"].toDouble() / 1048576, qPrintable(qslLines[1]));
    }
    QCOMPARE(qjRead["sampled"].toBool(), bStopped);
    if (bStopped && bMostly_Fake) // a small part of what it announces
        QVERIFY(qjRead["bytes_read"].toDouble() < qjRead["bytes_count"].toDouble() / 2);
    if (qsVerdict == "wraparound") { // the volume still mounts and holds the fill file
        int iExit = 0;
        qsRun("umount", {oMedium.oLoop.qsMount}, &iExit);
        QCOMPARE(iExit, 0);
        qsRun("mount", {oMedium.oLoop.qsDevice, oMedium.oLoop.qsMount}, &iExit);
        QCOMPARE(iExit, 0);
        QVERIFY(QFileInfo(oMedium.oLoop.qsMount + "data.data").isFile());
    }
}

void tst_Media::patternGiven_data()
{
    QTest::addColumn<QStringList>("qslMedium");
    QTest::addColumn<QString>("qsVerdict");
    QTest::newRow("healthy") << QStringList{"size=128M"} << "intact";
    QTest::newRow("keeps 96 of 128 MiB") << QStringList{"size=128M", "keep=96M", "mode=limit"} << "capacity_limited";
}

void tst_Media::patternGiven()
{
    // A wipe check names a pattern of room for 2^20 words (8 MiB); the fill file on the
    // volume has another, and several times as many words: the read takes the file's pattern
    // and checks every word of it.
    NEED_LOOP();
    QFETCH(QStringList, qslMedium);
    QFETCH(QString, qsVerdict);
    if (QString(FILLSCAN_FAKE_MEDIUM).isEmpty())
        QSKIP("the nbdkit plugin was not built (nbdkit-plugin-dev missing)");
    NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3", "mkfs.ext4");
    cEmulated_Medium oMedium;
    QVERIFY_MADE(oMedium.qsStart(qslMedium, "ext4", false));
    const QString qsDevice = oMedium.oLoop.qsDevice, qsVolume = oMedium.oLoop.qsMount;
    oTool(qslBatch(qsDevice, qsVolume, "poll,fill") + QStringList{"--full"});
    const cTool_Run oRun =
        oTool(qslBatch(qsDevice, qsVolume, "poll,read") + QStringList{"--pattern", "0xFFFFFFFFFFE00000"});
    const QJsonObject qjRead = oRun.qjLast();
    const QJsonObject qjFile = qjRead["fill_file"].toObject();
    QVERIFY2(qjRead["verdict"].toString() == qsVerdict, qPrintable(qjRead["verdict_text"].toString()));
    QCOMPARE(oRun.iExit, qsVerdict == "intact" ? 0 : 3);
    QCOMPARE(qjRead["pattern_source"].toString(), QString("fill_file"));
    QVERIFY(qjFile["words"].toDouble() > 8 << 20);
    QCOMPARE(qjFile["tracked"].toDouble(), qjFile["words"].toDouble());
    if (qsVerdict == "intact")
        QCOMPARE(qjRead["in_place"].toDouble(), qjFile["words"].toDouble());
    else
        vWithin(qjRead["usable_bytes"].toDouble(), 96);
}

// The read stopped by the operator: the box says what was read and what was not, the words
// whose place was not reached are not read, none missing, and the map draws the rest unread.
static void vCheck_Stopped_Read(MainWindow &oWindow, const QString &qsBox, const quint64 qui64Fill_Words)
{
    QVERIFY2(qsBox.startsWith("Проверка неполная (чтение прервано оператором)"), qPrintable(qsBox));
    QVERIFY2(qsBox.contains("\nЧтение прервано оператором.\n"), qPrintable(qsBox));
    cMap_Window *qMap = oWindow.findChild<cMap_Window *>();
    QVERIFY(qMap);
    const QJsonObject qjRead = QJsonDocument::fromJson(qMap->qbaReport(true)).object();
    QCOMPARE(qjRead.value("verdict").toString(), QString("incomplete"));
    const quint64 qui64Count = quint64(qjRead.value("bytes_count").toDouble());
    const quint64 qui64Read = quint64(qjRead.value("bytes_read").toDouble());
    const quint64 qui64Unread = quint64(qjRead.value("unread_bytes").toDouble());
    QVERIFY(qui64Read > 0 && qui64Unread > 0);
    QCOMPARE(qui64Read + qui64Unread, qui64Count);
    QVERIFY2(qsBox.contains("Прочитано: " + qsBytes_Text(qui64Read) + ", не удалось прочитать: 0 байт."), qPrintable(qsBox));
    QVERIFY2(qsBox.contains("Не прочитано: " + qsBytes_Text(qui64Unread) + " ("), qPrintable(qsBox));
    QCOMPARE(qjRead.value("missing").toDouble(), 0.0);
    const quint64 qui64Not_Read = quint64(qjRead.value("not_read").toDouble());
    QVERIFY(qui64Not_Read > 0);
    QCOMPARE(quint64(qjRead.value("in_place").toDouble()) + qui64Not_Read, qui64Fill_Words);
    QVERIFY2(qsBox.contains(", не найдены 0, их места не прочитаны: " + qsCount_Text(qui64Not_Read)), qPrintable(qsBox));
    // The device's last region was never reached: drawn as not read, as the window shows it.
    const QImage qimgShown = qMap->grab().toImage();
    if (!qgetenv("FILLSCAN_SHOTS").isEmpty())
        qimgShown.save(QString::fromLocal8Bit(qgetenv("FILLSCAN_SHOTS")) + "/stopped-read-map.png");
    const int iLast = qjRead.value("regions").toObject().value("in_place").toArray().size() - 1;
    QCOMPARE(QString::number(qMap->qimgPicture().pixel(qrMap_Cell(iLast).center()), 16),
             QString::number(qrgbMap_Unread, 16));
}

void tst_Media::slowCancel_data()
{
    QTest::addColumn<QString>("qsButton");
    QTest::addColumn<QString>("qsRate"); // the medium's, in bits per second
    QTest::addColumn<QString>("qsFs");
    QTest::addColumn<bool>("bClose"); // the window's close instead of «Отмена»
    QTest::newRow("fill") << "pushButton_Write" << "20M" << "ext4" << false;
    QTest::newRow("read of a fill") << "pushButton_Read" << "64M" << "ext4" << false;
    // exfat-fuse takes O_DIRECT writes into the device's cache, and its writers then wait
    // while the kernel writes that cache back at the medium's pace.
    QTest::newRow("fill, exFAT") << "pushButton_Write" << "20M" << "exfat" << false;
    QTest::newRow("fill, exFAT, 8 MiB/s") << "pushButton_Write" << "64M" << "exfat" << false;
    QTest::newRow("fill, exFAT, 8 MiB/s, window closed") << "pushButton_Write" << "64M" << "exfat" << true;
    QTest::newRow("read, window closed") << "pushButton_Read" << "64M" << "ext4" << true;
}

// A fill of qui64Words words written straight into data.data, synced.
static bool bWrite_Fill(const QString &qsPath, const quint64 qui64Pattern, const quint64 qui64Words)
{
    QFile qFile(qsPath);
    if (!qFile.open(QIODevice::WriteOnly))
        return false;
    QByteArray qbaChunk(1 << 20, '\0');
    for (quint64 i = 0; i < qui64Words; i += quint64(qbaChunk.size()) / 8) {
        for (int w = 0; w < qbaChunk.size() / 8; ++w)
            qToBigEndian<quint64>(qui64Pattern + i + quint64(w), qbaChunk.data() + 8 * w);
        if (qFile.write(qbaChunk) != qbaChunk.size())
            return false;
    }
    return qFile.flush() && fsync(qFile.handle()) == 0;
}

void tst_Media::slowCancel()
{
    // "Отмена" in the window on a slow medium: answered within about a second, the requests
    // still in the medium waited for, not given up, so the box's figures are what the file
    // holds, the stop is the operator's, and the medium is not blamed. What a stopped read
    // did not reach is said, counted and drawn as not read, never as missing.
    NEED_LOOP();
    QFETCH(QString, qsButton);
    QFETCH(QString, qsRate);
    QFETCH(QString, qsFs);
    QFETCH(bool, bClose);
    if (QString(FILLSCAN_FAKE_MEDIUM).isEmpty())
        QSKIP("the nbdkit plugin was not built (nbdkit-plugin-dev missing)");
    NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3", qsFs == "exfat" ? "mount.exfat-fuse" : "mkfs.ext4");
    cEmulated_Medium oMedium;
    QVERIFY_MADE(oMedium.qsStart({"--filter=rate", "size=512M", "rate=" + qsRate}, qsFs, false));
    MainWindow oWindow(nullptr, oMedium.oLoop.qsDevice, oMedium.oLoop.qsMount);
    oWindow.show();
    cBox_Answerer oAnswerer([](QMessageBox *qBox) {
        for (QAbstractButton *qButton : qBox->buttons())
            if (qButton->text() == "Карта")
                return qButton->click();
        (qBox->button(QMessageBox::No) ? qBox->button(QMessageBox::No) : qBox->buttons().first())->click();
    });
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    const bool bFill = qsButton == "pushButton_Write";
    const quint64 qui64Fill_Words = 4 << 20; // 32 MiB: more than the read reaches before the stop
    if (!bFill)
        QVERIFY(bWrite_Fill(oMedium.oLoop.qsMount + "data.data", oData.qui64Pattern, qui64Fill_Words));
    QElapsedTimer qShown, qCancelled, qTick;
    qint64 qi64Longest_Wait = 0; // between two ticks of the window's thread
    QTimer qCanceller;
    QObject::connect(&qCanceller, &QTimer::timeout, [&] {
        qi64Longest_Wait = qMax(qi64Longest_Wait, qTick.restart());
        auto *qCancel = oWindow.findChild<QPushButton *>("pushButton_Cancel");
        if (!qShown.isValid() && qCancel && qCancel->isVisible())
            qShown.start();
        if (qShown.isValid() && !qCancelled.isValid() && qShown.elapsed() > 3000) {
            qCancelled.start();
            bClose ? void(oWindow.close()) : qCancel->click();
        }
    });
    qCanceller.start(50);
    qTick.start();
    QTest::mouseClick(oWindow.findChild<QPushButton *>(qsButton), Qt::LeftButton);
    QVERIFY(qCancelled.isValid());
    // The window's thread never waits on the medium: it answers all along.
    QVERIFY2(qi64Longest_Wait < 2000, qPrintable(QString::number(qi64Longest_Wait)));
    // A request or two in the medium (4 MiB: 1.6 s at 2.5 MiB/s) and the cut, not the 13 s
    // that the 32 MiB of eight writers took, nor the minute (200 s at 2.5 MiB/s) exfat-fuse
    // took to write back the fill its device's cache had taken at once.
    QVERIFY2(qCancelled.elapsed() < 5000, qPrintable(QString::number(qCancelled.elapsed())));
    QCOMPARE(oAnswerer.qslHeadings.value(0), QString("Провести быструю пробу носителя сейчас?")); // no
    quint64 qui64Words = 0;
    if (bClose) { // the window closes without a result box, what was written whole left in the file
        QVERIFY(!oWindow.isVisible());
        QCOMPARE(oAnswerer.qslHeadings.size(), 1);
        QVERIFY(bFill_Sequence(oMedium.oLoop.qsMount + "data.data", oData.qui64Pattern, &qui64Words));
        QVERIFY(qui64Words > 0);
        return;
    }
    QCOMPARE(oAnswerer.qslHeadings.value(1), bFill ? QString("Заполнение прервано.") : QString("Чтение прервано."));
    const QString qsBox = oAnswerer.qslMessages.value(1);
    QVERIFY2(!qsBox.contains("перестал отвечать"), qPrintable(qsBox));
    if (!bFill)
        return vCheck_Stopped_Read(oWindow, qsBox, qui64Fill_Words);
    QVERIFY(bFill_Sequence(oMedium.oLoop.qsMount + "data.data", oData.qui64Pattern, &qui64Words));
    QVERIFY(qui64Words > 0);
    QVERIFY2(qsBox.contains("Записано слов: " + qsCount_Text(qui64Words) + " из "), qPrintable(qsBox));
    QVERIFY2(qsBox.contains("Остановка: прервано оператором"), qPrintable(qsBox));
    QVERIFY(qsBox.contains("осталась на разделе"));
    QVERIFY(oAnswerer.qslHeadings.value(2).startsWith("Удалить файл заполнения")); // offered, answered no
    QVERIFY(QFileInfo::exists(oMedium.oLoop.qsMount + "data.data"));
}

void tst_Media::probe_data()
{
    QTest::addColumn<QString>("qsFs");
    QTest::addColumn<QStringList>("qslMedium");
    QTest::addColumn<QString>("qsVerdict");
    QTest::addColumn<double>("dUsable"); // MiB, within 2 %; 0: none
    QTest::addColumn<double>("dPeriod"); // MiB, exact; 0: none
    QTest::addColumn<double>("dCache");  // MiB, within 2 %; 0: none
    QTest::addColumn<int>("iSignal");    // sent while the probe writes; 0: none
    const QStringList qslLimit = {"size=512M", "keep=192M", "mode=limit"};
    const QStringList qslWrap = {"size=1G", "keep=256M", "mode=wrap"};
    const QStringList qslChain = {"size=1G", "mask=512M", "keep=320M", "mode=limit"};
    // 10 MiB/s: the filler alone takes seconds to write, time for a signal to come in between.
    const QStringList qslSlow = {"--filter=rate", "rate=80M"};
    QTest::newRow("ext4: keeps 192 of 512 MiB") << "ext4" << qslLimit << "capacity_limited" << 192.0 << 0.0 << 0.0 << 0;
    QTest::newRow("ext4: wraps 1 GiB onto 256 MiB") << "ext4" << qslWrap << "wraparound" << 256.0 << 256.0 << 0.0 << 0;
    QTest::newRow("ext4: chain, 1 GiB, mask 512 MiB, 320 MiB real")
        << "ext4" << qslChain << "wraparound" << 320.0 << 512.0 << 0.0 << 0;
    QTest::newRow("ext4: 16 MiB strict cache beyond 192 MiB")
        << "ext4" << qslLimit + QStringList{"cache=16M", "cache_mode=strict"} << "capacity_limited" << 192.0 << 0.0
        << 16.0 << 0;
    // A loose cache hands out another block's data: no wrap for that.
    QTest::newRow("ext4: 16 MiB loose cache beyond 192 MiB")
        << "ext4" << qslLimit + QStringList{"cache=16M", "cache_mode=loose"} << "capacity_limited" << 192.0 << 0.0
        << 16.0 << 0;
    QTest::newRow("ext4: keeps the last 24 MiB written")
        << "ext4" << QStringList{"size=256M", "log=24M"} << "keeps_recent" << 24.0 << 0.0 << 0.0 << 0;
    QTest::newRow("ext4: refuses writes after 12 MiB")
        << "ext4" << QStringList{"size=256M", "fail_after=12M"} << "write_failed" << 0.0 << 0.0 << 0.0 << 0;
    QTest::newRow("ext4: healthy, 10 MiB/s") << "ext4" << qslSlow + QStringList{"size=512M"} << "intact" << 0.0 << 0.0
                                            << 0.0 << 0;
    QTest::newRow("ext4: wrap, SIGINT while probing") << "ext4" << qslSlow + qslWrap << "" << 0.0 << 0.0 << 0.0 << SIGINT;
    QTest::newRow("ext4: chain, SIGTERM while probing")
        << "ext4" << qslSlow + qslChain << "" << 0.0 << 0.0 << 0.0 << SIGTERM;
    // xfs heads each quarter of its space: the medium keeps the last head.
    QTest::newRow("xfs: keeps 896 MiB of 1 GiB")
        << "xfs" << QStringList{"size=1G", "keep=896M", "mode=limit"} << "capacity_limited" << 896.0 << 0.0 << 0.0 << 0;
    QTest::newRow("xfs: healthy") << "xfs" << QStringList{"size=512M"} << "intact" << 0.0 << 0.0 << 0.0 << 0;
    QTest::newRow("btrfs: keeps 512 MiB of 1 GiB")
        << "btrfs" << QStringList{"size=1G", "keep=512M", "mode=limit"} << "capacity_limited" << 512.0 << 0.0 << 0.0
        << 0;
    QTest::newRow("btrfs: healthy") << "btrfs" << QStringList{"size=512M"} << "intact" << 0.0 << 0.0 << 0.0 << 0;
    // exFAT through FUSE allocates only by writing: no probe, and the checking fill runs.
    QTest::newRow("exfat: no probe, the fill runs") << "exfat" << QStringList{"size=128M"} << "" << 0.0 << 0.0 << 0.0
                                                    << 0;
}

// Files of the user's in the volume, as the medium holds them: made, written out, and their
// checksums read back after a new mount.
static QMap<QString, QByteArray> qmapPlant(const QString &qsVolume)
{
    QMap<QString, QByteArray> qmapFiles;
    QDir().mkpath(qsVolume + "user/deep");
    for (int i = 0; i < 24; ++i) {
        const QString qsName = QString(i % 2 ? "user/deep/file%1.bin" : "user/file%1.bin").arg(i);
        QByteArray qbaData(256 * 1024 + 777 * i, Qt::Uninitialized);
        for (int j = 0; j < qbaData.size(); ++j)
            qbaData[j] = char((j * 131 + i * 7919) >> 3);
        QFile qFile(qsVolume + qsName);
        if (qFile.open(QIODevice::WriteOnly) && qFile.write(qbaData) == qbaData.size())
            qmapFiles[qsName] = QCryptographicHash::hash(qbaData, QCryptographicHash::Sha256);
    }
    sync();
    return qmapFiles;
}

// The volume unmounted, its file system checked without a change, and mounted again; empty
// when all went well, else what did not.
static QString qsCheck_And_Remount(const QString &qsFs, const QString &qsDevice, const QString &qsMount)
{
    int iExit = 0;
    qsRun("umount", {qsMount}, &iExit);
    if (iExit != 0)
        return "umount failed";
    const QString qsOut = qsFs == "ext4"  ? qsRun("e2fsck", {"-fn", qsDevice}, &iExit)
                          : qsFs == "xfs" ? qsRun("xfs_repair", {"-n", qsDevice}, &iExit)
                                          : qsRun("btrfs", {"check", "--readonly", qsDevice}, &iExit);
    const int iCheck = iExit;
    qsRun("mount", {qsDevice, qsMount}, &iExit);
    if (iCheck != 0)
        return "the file system check failed: " + qsOut.right(600);
    return iExit == 0 ? QString() : "mount failed";
}

static QString qsFile_Hash(const QString &qsPath)
{
    QFile qFile(qsPath);
    return qFile.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(qFile.readAll(), QCryptographicHash::Sha256).toHex()
                                           : QString("unreadable");
}

void tst_Media::probe()
{
    NEED_LOOP();
    QFETCH(QString, qsFs);
    QFETCH(QStringList, qslMedium);
    QFETCH(QString, qsVerdict);
    QFETCH(double, dUsable);
    QFETCH(double, dPeriod);
    QFETCH(double, dCache);
    QFETCH(int, iSignal);
    if (QString(FILLSCAN_FAKE_MEDIUM).isEmpty())
        QSKIP("the nbdkit plugin was not built (nbdkit-plugin-dev missing)");
    NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3", "mkfs." + qsFs,
                  qsFs == "ext4" ? "e2fsck" : qsFs == "xfs" ? "xfs_repair" : qsFs == "btrfs" ? "btrfs" : "mount.exfat-fuse");
    const bool bNo_Probe = qsFs == "exfat";
    cEmulated_Medium oMedium;
    QVERIFY_MADE(oMedium.qsStart(qslMedium, qsFs, false));
    const QString qsDevice = oMedium.oLoop.qsDevice, qsVolume = oMedium.oLoop.qsMount;
    // The user's files, as the medium holds them before the probe (a fake may already have
    // mapped some of them onto others: what the probe must keep is what is there).
    const bool bPlant = qsVerdict != "keeps_recent" && qsVerdict != "write_failed" && !bNo_Probe;
    const QMap<QString, QByteArray> qmapPlanted = bPlant ? qmapPlant(qsVolume) : QMap<QString, QByteArray>();
    QMap<QString, QString> qmapBefore;
    if (bPlant) {
        QVERIFY_MADE(qsCheck_And_Remount(qsFs, qsDevice, qsVolume));
        for (const QString &qsName : qmapPlanted.keys())
            qmapBefore[qsName] = qsFile_Hash(qsVolume + qsName);
    }
    QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
    for (const char *pcName : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        qEnvironment.remove(pcName);
    QProcess qTool;
    qTool.setProcessEnvironment(qEnvironment);
    // After a fake found, the fill is not run: it would write where the medium keeps nothing.
    const bool bFake = !qsVerdict.isEmpty() && qsVerdict != "intact";
    qTool.start(FILLSCAN_TOOL, qslBatch(qsDevice, qsVolume, bFake || bNo_Probe ? "poll,probe,fill" : "poll,probe"));
    if (iSignal != 0) { // once the probe's file is there and its blocks are being written
        QVERIFY(bWait_For([&] { return QFileInfo::exists(qsVolume + "probe.data"); }, 20000));
        QTest::qWait(4500);
        kill(pid_t(qTool.processId()), iSignal);
    }
    const cTool_Run oRun = oFinished(qTool);
    const QStringList qslLines = oRun.qsOut.trimmed().split('\n');
    const QJsonObject qjProbe = QJsonDocument::fromJson(qslLines.value(1).toUtf8()).object();
    QCOMPARE(qslLines.size(), bFake || bNo_Probe ? 3 : 2);
    if (bFake)
        QCOMPARE(oRun.qjLast()["status"].toString(), QString("skipped_after_probe"));
    if (bNo_Probe) { // told why, nothing written to the device, and the fill filled
        QCOMPARE(qjProbe["status"].toString(), QString("no_prealloc"));
        QVERIFY(qjProbe["error"].toString().contains("выделяет место только записью"));
        QCOMPARE(qjProbe["bytes_written"].toDouble(), 0.0);
        QCOMPARE(oRun.qjLast()["status"].toString(), QString("full"));
        QCOMPARE(oRun.iExit, 0);
        return;
    }
    QCOMPARE(qjProbe["step"].toString(), QString("probe"));
    // A medium that refuses writes refuses to take back what lay there too.
    QVERIFY((qjProbe["not_restored_blocks"].toDouble() == 0) != (qsVerdict == "write_failed"));
    QVERIFY(!QFileInfo::exists(qsVolume + "probe.data"));
    if (iSignal != 0) {
        QCOMPARE(oRun.iExit, 128 + iSignal);
        QCOMPARE(qjProbe["status"].toString(), QString("cancelled"));
        QVERIFY2(qjProbe["bytes_written"].toDouble() > 0, "the signal came before any block was written");
    } else {
        QVERIFY2(qjProbe["verdict"].toString() == qsVerdict, qPrintable(oRun.qsOut + oRun.qsErr));
        QCOMPARE(oRun.iExit, qsVerdict == "intact" ? 0 : 3);
        vWithin(qjProbe["usable_bytes"].toDouble(), dUsable);
        vWithin(qjProbe["cache_bytes"].toDouble(), dCache);
        QCOMPARE(qjProbe["wrap_period_bytes"].toDouble(), dPeriod * 1048576);
        QCOMPARE(qjProbe["fill_limit_bytes"].toDouble(), qsVerdict == "intact" ? 0.0 : qjProbe["usable_bytes"].toDouble());
        // Spread over the whole device, every megabyte or so, in seconds.
        QVERIFY(qjProbe["blocks"].toDouble() > 0.5 * qjProbe["bytes_count"].toDouble() / 1048576 ||
                qsVerdict == "write_failed");
        QVERIFY2(qjProbe["probe_seconds"].toDouble() < 30, qPrintable(oRun.qsOut));
    }
    if (!bPlant)
        return;
    QVERIFY_MADE(qsCheck_And_Remount(qsFs, qsDevice, qsVolume));
    for (const QString &qsName : qmapPlanted.keys())
        QVERIFY2(qsFile_Hash(qsVolume + qsName) == qmapBefore[qsName], qPrintable(qsName));
}

QTEST_MAIN(tst_Media)
#include "tst_media.moc"
