// The verdict on real stacks: emulated media (healthy, fake capacity, wrapped addresses)
// served by nbdkit, data encrypted or compressed at rest, and an old fill under a sparse
// file. Each gets the same verdict from the batch tool and in the window.
#include "Functions_Report.h"
#include "mainwindow.h"
#include "support.h"

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
    QString qsStart(const QString &qsMode, const QString &qsKeep)
    {
        const QString qsDir = qTemp.filePath("nbd");
        QDir().mkpath(qsDir);
        const QString qsPid = qTemp.filePath("nbdfuse.pid");
        oServer.qProcess.start("nbdfuse", {"-P", qsPid, qsDir + "/medium.img", "--command", "nbdkit", "-s",
                                           FILLSCAN_FAKE_MEDIUM, "size=512M", "keep=" + qsKeep, "mode=" + qsMode});
        QElapsedTimer qTimer;
        qTimer.start();
        while (!QFile::exists(qsPid) && qTimer.elapsed() < 20000 && oServer.qProcess.state() != QProcess::NotRunning)
            QTest::qWait(50);
        if (!QFile::exists(qsPid))
            return "nbdfuse did not start: " + QString::fromUtf8(oServer.qProcess.readAllStandardError());
        oServer.qsDir = qsDir;
        const QString qsError = oLoop.qsAttach(qsDir + "/medium.img");
        // The journal would lie in the middle of the volume, which a fake medium loses.
        return qsError.isEmpty() ? oLoop.qsMake_Fs("ext4", {"-O", "^has_journal"}, "defaults") : qsError;
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
    QTest::addColumn<QString>("qsSetup");
    QTest::addColumn<QString>("qsVerdict");
    QTest::addColumn<quint64>("qui64Usable");
    QTest::addColumn<QString>("qsFirst_Line");
    QTest::newRow("healthy medium") << "healthy"
                                    << "intact" << quint64(0) << "Данные целы: все";
    QTest::newRow("512 MiB announced, 192 MiB kept")
        << "limit"
        << "capacity_limited" << quint64(192) << "Поддельная ёмкость: носитель хранит данные только до";
    QTest::newRow("addresses wrap every 320 MiB")
        << "wrap"
        << "wraparound" << quint64(320) << "Поддельная ёмкость: носитель зацикливает адреса";
    QTest::newRow("encrypted at rest (gocryptfs)")
        << "gocryptfs"
        << "no_plaintext" << quint64(0)
        << "Ни одного слова заполнения на носителе нет: данные попадают на носитель зашифрованными или сжатыми.";
    // btrfs stores a few kilobytes of the file's tail as they are, so the first line may
    // count them.
    QTest::newRow("compressed at rest (btrfs, zstd)")
        << "btrfs"
        << "no_plaintext" << quint64(0) << "данные попадают на носитель зашифрованными или сжатыми";
    QTest::newRow("sparse fill file over an old fill")
        << "sparse"
        << "data_missing" << quint64(0) << "Часть данных потеряна: не найдено";
}

void tst_Media::verdict()
{
    NEED_LOOP();
    QFETCH(QString, qsSetup);
    QFETCH(QString, qsVerdict);
    QFETCH(quint64, qui64Usable);
    QFETCH(QString, qsFirst_Line);
    cEmulated_Medium oMedium;
    cEncrypted_Volume oEncrypted;
    cLoop_Device oPlain;
    QString qsDevice, qsVolume, qsError;
    if (qsSetup == "healthy" || qsSetup == "limit" || qsSetup == "wrap") {
        if (QString(FILLSCAN_FAKE_MEDIUM).isEmpty())
            QSKIP("the nbdkit plugin was not built (nbdkit-plugin-dev missing)");
        NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3");
        qsError = oMedium.qsStart(qsSetup, qsSetup == "limit" ? "192M" : qsSetup == "wrap" ? "320M" : "512M");
        qsDevice = oMedium.oLoop.qsDevice;
        qsVolume = oMedium.oLoop.qsMount;
    } else if (qsSetup == "gocryptfs") {
        NEED_PROGRAMS("gocryptfs", "fusermount3");
        qsError = oEncrypted.qsStart();
        qsDevice = oEncrypted.oLoop.qsDevice;
        qsVolume = oEncrypted.qsPlain + "/";
    } else {
        NEED_PROGRAMS(qsSetup == "btrfs" ? "mkfs.btrfs" : "mkfs.ext4");
        qsError = qsSetup == "btrfs" ? oPlain.qsCreate(256 * 1048576, 512, "btrfs", {}, "compress-force=zstd")
                                     : oPlain.qsCreate(64 * 1048576, 512, "ext4");
        qsDevice = oPlain.qsDevice;
        qsVolume = oPlain.qsMount;
    }
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));

    QProcess qTool;
    const QStringList qslWhere = {"--device", qsDevice, "--volume", qsVolume, "--json", "--quiet"};
    qTool.start(FILLSCAN_TOOL, qslWhere + QStringList{"--batch", "poll,fill"});
    QVERIFY(qTool.waitForFinished(120000) && qTool.exitCode() == 0);
    if (qsSetup == "sparse") { // an old fill's words stay on the disk under a file without data
        const QString qsFill = qsVolume + "data.data";
        const qint64 qi64Size = QFileInfo(qsFill).size();
        QVERIFY(QFile::remove(qsFill));
        QFile qSparse(qsFill);
        QVERIFY(qSparse.open(QIODevice::WriteOnly) && qSparse.resize(qi64Size));
    }
    qTool.start(FILLSCAN_TOOL, qslWhere + QStringList{"--batch", "poll,read"});
    QVERIFY(qTool.waitForFinished(120000));
    const QList<QByteArray> qlLines = qTool.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject qjRead = QJsonDocument::fromJson(qlLines.last()).object();
    QCOMPARE(qjRead["verdict"].toString(), qsVerdict);
    QCOMPARE(qTool.exitCode(), qsVerdict == "intact" ? 0 : 3);
    QCOMPARE(qjRead["volume_on_device"].toBool(), true);
    const quint64 qui64Usable_Bytes = quint64(qjRead["usable_bytes"].toDouble());
    if (qui64Usable > 0) // within the file system's last block of the medium's real size
        QVERIFY2(qui64Usable_Bytes <= qui64Usable << 20 && qui64Usable_Bytes + 4096 > qui64Usable << 20,
                 qPrintable(QString::number(qui64Usable_Bytes)));
    else
        QCOMPARE(qui64Usable_Bytes, quint64(0));

    // The window says the same in the read's summary, with a warning when the medium failed.
    oDrive = cDrive();
    oData = cData();
    MainWindow oWindow(nullptr, qsDevice, qsVolume);
    cBox_Answerer oAnswerer([](QMessageBox *qBox) { // the fill stays: no to removing it
        (qBox->button(QMessageBox::No) ? qBox->button(QMessageBox::No) : qBox->buttons().first())->click();
    });
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Read"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslMessages.size(), 2);
    QVERIFY(oAnswerer.qslHeadings[1].startsWith("Удалить файл заполнения"));
    QVERIFY2(oAnswerer.qslMessages[0].section('\n', 0, 0).contains(qsFirst_Line), qPrintable(oAnswerer.qslMessages[0]));
    QCOMPARE(oAnswerer.qlIcons[0], qsVerdict == "intact" ? int(QMessageBox::Information) : int(QMessageBox::Warning));
}

QTEST_MAIN(tst_Media)
#include "tst_media.moc"
