// Drive and volume probes and the poll, on real loop devices and file systems.
#include "Functions_Batch.h"
#include "Functions_Core.h"
#include "Functions_Records.h"
#include "mainwindow.h"
#include "support.h"

#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

class tst_Probe : public QObject
{
    Q_OBJECT

private slots:
    void drive_data();
    void drive();
    void driveFailure_data();
    void driveFailure();
    void volume_data();
    void volume();
    void volumeMissing();
    void pollWindow();
};

static const QString qsOpen_Failure =
    "Не удалось открыть носитель. Скорее всего, бинарнику не присвоены пользователь root и права 777.";

void tst_Probe::drive_data()
{
    QTest::addColumn<int>("iSector");
    QTest::addColumn<quint64>("qui64Bytes");
    QTest::newRow("512-byte sectors") << 512 << quint64(64) * 1048576;
    QTest::newRow("4096-byte sectors") << 4096 << quint64(96) * 1048576;
}

void tst_Probe::drive()
{
    NEED_LOOP();
    QFETCH(int, iSector);
    QFETCH(quint64, qui64Bytes);
    cLoop_Device oLoop;
    const QString qsError = oLoop.qsCreate(qui64Bytes, iSector);
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
    const QStringList qslKernel =
        qsRun("blockdev", {"--getss", "--getsize", "--getsize64", oLoop.qsDevice}).split('\n');
    QCOMPARE(qslKernel.size(), 3);

    cDrive oDrive;
    QVERIFY(oDrive.bGet_Properties(oLoop.qsDevice));
    QCOMPARE(oDrive.qsDrive_Name, oLoop.qsDevice);
    QCOMPARE(QString::number(oDrive.iSector_Size), qslKernel[0]);
    QCOMPARE(QString::number(oDrive.qui64Sectors_Count), qslKernel[1]); // 512-byte units whatever the sector
    QCOMPARE(QString::number(oDrive.qui64Bytes_Count), qslKernel[2]);
    QCOMPARE(oDrive.iSector_Size, iSector);
}

void tst_Probe::driveFailure_data()
{
    QTest::addColumn<bool>("bNode"); // false: a missing path
    QTest::newRow("missing path") << false;
    QTest::newRow("node of no device") << true;
}

void tst_Probe::driveFailure()
{
    QFETCH(bool, bNode);
    QTemporaryDir qDir;
    QString qsPath = qDir.filePath("absent");
    if (bNode) {
        if (geteuid() != 0)
            QSKIP("needs root to make a device node");
        // A block node whose device does not exist: open fails with ENXIO.
        qsPath = qDir.filePath("nodev");
        QCOMPARE(mknod(qsPath.toLocal8Bit().constData(), S_IFBLK | 0600, makedev(259, 1048000)), 0);
    }
    cDrive oDrive;
    QFile qImage(qDir.filePath("earlier.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.resize(4096));
    oDrive.vGet_Properties(qImage.fileName()); // an earlier successful probe, of an image: 512-byte sectors
    cBox_Answerer oAnswerer;
    QVERIFY(!oDrive.bGet_Properties(qsPath));
    QCOMPARE(oAnswerer.qslHeadings, QStringList{"Ошибка!"});
    QCOMPARE(oAnswerer.qslMessages, QStringList{qsOpen_Failure + "\n" + QString(127, '_')});
    QCOMPARE(oAnswerer.qlIcons, QList<int>{int(QMessageBox::Critical)});
    QCOMPARE(oDrive.qsDrive_Name, qImage.fileName());
    QCOMPARE(oDrive.iSector_Size, 512);
    QCOMPARE(oDrive.qui64Sectors_Count, quint64(8));
    QCOMPARE(oDrive.qui64Bytes_Count, quint64(4096));
}

void tst_Probe::volume_data()
{
    QTest::addColumn<QString>("qsType");
    QTest::newRow("ext4 on a loop device") << "ext4";
    QTest::newRow("tmpfs") << "tmpfs";
}

void tst_Probe::volume()
{
    NEED_LOOP();
    QFETCH(QString, qsType);
    cLoop_Device oLoop;
    QString qsDir;
    if (qsType == "ext4") {
        const QString qsError = oLoop.qsCreate(64 * 1048576, 512, "ext4");
        QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
        qsDir = oLoop.qsMount;
    } else {
        qsDir = oLoop.qTemp.filePath("tmpfs") + "/";
        QDir().mkpath(qsDir);
        int iExit = 0;
        qsRun("mount", {"-t", "tmpfs", "-o", "size=16m", "tmpfs", qsDir}, &iExit);
        QCOMPARE(iExit, 0);
        oLoop.qsMount = qsDir; // unmounted with the fixture
    }
    // f_frsize, f_blocks, f_bfree (the reserve included), f_bavail
    auto qslStat = [&] { return qsRun("stat", {"-f", "-c", "%S %b %f %a", qsDir}).split(' '); };
    QStringList qslKernel = qslStat();
    cVolume oVolume;
    oVolume.vGet_Properties(qsDir);
    QCOMPARE(oVolume.qsVolume_Name, qsDir);
    QCOMPARE(QString::number(oVolume.iCluster_Size), qslKernel[0]);
    QCOMPARE(QString::number(oVolume.qui64Clusters_Count), qslKernel[1]);
    QCOMPARE(QString::number(oVolume.qui64Clusters_Free_Count), qslKernel[2]);
    QCOMPARE(oVolume.qui64Bytes_Count, qslKernel[1].toULongLong() * qslKernel[0].toULongLong());
    QCOMPARE(oVolume.qui64Bytes_Free_Count, qslKernel[2].toULongLong() * qslKernel[0].toULongLong());
    if (qsType == "ext4") // ext4 keeps a reserve for root, which the free count includes
        QVERIFY(oVolume.qui64Clusters_Free_Count > qslKernel[3].toULongLong());

    const quint64 qui64Free_Before = oVolume.qui64Clusters_Free_Count;
    QFile qFile(qsDir + "some.file");
    QVERIFY(qFile.open(QIODevice::WriteOnly));
    qFile.write(QByteArray(1048576, 'x'));
    qFile.close();
    qsRun("sync", {});
    oVolume.vGet_Properties(qsDir);
    QCOMPARE(QString::number(oVolume.qui64Clusters_Free_Count), qslStat()[2]);
    QVERIFY(oVolume.qui64Clusters_Free_Count < qui64Free_Before);
}

void tst_Probe::volumeMissing()
{
    cVolume oVolume;
    oVolume.vGet_Properties("/nonexistent/volume/");
    QCOMPARE(oVolume.qsVolume_Name, QString("/nonexistent/volume/"));
    QCOMPARE(oVolume.iCluster_Size, 0);
    QCOMPARE(oVolume.qui64Clusters_Count + oVolume.qui64Bytes_Count + oVolume.qui64Clusters_Free_Count +
                 oVolume.qui64Bytes_Free_Count,
             quint64(0));
}

void tst_Probe::pollWindow()
{
    NEED_LOOP();
    cLoop_Device oLoop;
    const QString qsError = oLoop.qsCreate(48 * 1048576, 4096, "ext4");
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
    // Through the command line, the volume without its slash: the tool adds it.
    cOptions oOptions;
    QCOMPARE(iParse_Options({"fillscan", "--device", oLoop.qsDevice, "--volume", oLoop.qsMount.chopped(1)}, oOptions),
             -1);
    MainWindow oWindow(nullptr, oOptions.qsDevice, oOptions.qsVolume);
    oWindow.show();
    auto qsShown = [&](const char *pcName) {
        if (auto *qLabel = oWindow.findChild<QLabel *>(pcName))
            return qLabel->text();
        return oWindow.findChild<QTextEdit *>(pcName)->toPlainText();
    };
    QCOMPARE(qsShown("label_Drive_Name_Value"), QString("-"));
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);

    const QStringList qslDrive = qsRun("blockdev", {"--getss", "--getsize", "--getsize64", oLoop.qsDevice}).split('\n');
    const QStringList qslVolume = qsRun("stat", {"-f", "-c", "%S %b %f", oLoop.qsMount}).split(' ');
    const quint64 qui64Frsize = qslVolume[0].toULongLong();
    cData oExpected;
    oExpected.vGet_Properties(qslVolume[1].toULongLong(), int(qui64Frsize));
    const QStringList qslExpected = {oLoop.qsDevice,
                                     qslDrive[0],
                                     qslDrive[1],
                                     qslDrive[2],
                                     oLoop.qsMount,
                                     qslVolume[0],
                                     qslVolume[1],
                                     QString::number(qslVolume[1].toULongLong() * qui64Frsize),
                                     qslVolume[2],
                                     QString::number(qslVolume[2].toULongLong() * qui64Frsize),
                                     QString::number(oExpected.qui64Pattern),
                                     oExpected.qsPattern};
    const char *const apcWidgets[] = {"label_Drive_Name_Value",
                                      "label_Drive_Sector_Size_Value",
                                      "label_Drive_Sectors_Count_Value",
                                      "label_Drive_Bytes_Count_Value",
                                      "label_Volume_Name_Value",
                                      "label_Volume_Cluster_Size_Value",
                                      "label_Volume_Clusters_Count_Value",
                                      "label_Volume_Bytes_Count_Value",
                                      "label_Volume_Clusters_Free_Count_Value",
                                      "label_Volume_Bytes_Free_Count_Value",
                                      "textEdit_Data_Pattern_Value",
                                      "textEdit_Data_Pattern_Text_Value"};
    for (int i = 0; i < 12; ++i)
        QCOMPARE(qsShown(apcWidgets[i]), qslExpected[i]);
    QVERIFY(!qsShown("textEdit_Data_Pattern_Value").startsWith('-')); // unsigned, never negative

    // The disk goes away: one error box, the drive keeps what the last good poll saw.
    oLoop.vUnplug();
    cBox_Answerer oAnswerer;
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslMessages.size(), 1);
    QVERIFY(oAnswerer.qslMessages[0].startsWith(qsOpen_Failure));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(qsShown(apcWidgets[i]), qslExpected[i]);
}

QTEST_MAIN(tst_Probe)
#include "tst_probe.moc"
