// Drive and volume probes and the poll, on real loop devices and file systems.
#include "Functions_Batch.h"
#include "Functions_Core.h"
#include "Functions_Files.h"
#include "Functions_Steps.h"
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
    void driveFailure_data();
    void driveFailure();
    void volume_data();
    void volume();
    void volumeMissing();
    void pollWindow();
};

static const QString qsOpen_Failure =
    "Не удалось открыть носитель. Скорее всего, бинарнику не присвоены пользователь root и права 777.";

enum eDrive_Node { eNode_Missing, eNode_No_Device, eNode_Detached_Loop };
Q_DECLARE_METATYPE(eDrive_Node)

void tst_Probe::driveFailure_data()
{
    QTest::addColumn<eDrive_Node>("eNode");
    QTest::addColumn<QString>("qsReason"); // the second line names the device and the system's reason
    QTest::newRow("missing path") << eNode_Missing << qsSystem_Reason(ENOENT);
    QTest::newRow("node of no device") << eNode_No_Device << qsSystem_Reason(ENXIO);
    QTest::newRow("loop device with nothing attached") << eNode_Detached_Loop << "";
}

// The device path a row probes; empty after QSKIP.
static QString qsFailing_Drive(const eDrive_Node eNode, const QTemporaryDir &qDir)
{
    if (eNode == eNode_Missing)
        return qDir.filePath("absent");
    if (geteuid() != 0)
        return QString();
    if (eNode == eNode_Detached_Loop) {
        QString qsWhy;
        return qsFree_Loop_Node(&qsWhy);
    }
    // A block node whose device does not exist: open fails with ENXIO.
    const QString qsPath = qDir.filePath("nodev");
    return mknod(qsPath.toLocal8Bit().constData(), S_IFBLK | 0600, makedev(259, 1048000)) == 0 ? qsPath : QString();
}

void tst_Probe::driveFailure()
{
    QFETCH(eDrive_Node, eNode);
    QFETCH(QString, qsReason);
    QTemporaryDir qDir;
    const QString qsPath = qsFailing_Drive(eNode, qDir);
    if (qsPath.isEmpty())
        QSKIP("needs root for a device node or a free loop device");
    cDrive oDrive;
    QFile qImage(qDir.filePath("earlier.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.resize(4096));
    oDrive.vGet_Properties(qImage.fileName()); // an earlier successful probe, of an image: 512-byte sectors
    cBox_Answerer oAnswerer;
    QVERIFY(!oDrive.bGet_Properties(qsPath));
    QCOMPARE(oAnswerer.qslHeadings, QStringList{"Ошибка!"});
    const QString qsMessage = eNode == eNode_Detached_Loop
                                  ? "Носитель " + qsPath + " отключён или пуст: система сообщает его размер 0 байт. "
                                                           "Проверять нечего: подключите носитель (или образ к "
                                                           "устройству loop) и повторите опрос."
                                  : qsOpen_Failure + "\n" + qsPath + ": " + qsReason + ".";
    QCOMPARE(oAnswerer.qslMessages, QStringList{qsMessage + "\n" + QString(127, '_')});
    QCOMPARE(oAnswerer.qlIcons, QList<int>{int(QMessageBox::Critical)});
    QCOMPARE(oDrive.qsDrive_Name, qImage.fileName());
    QCOMPARE(oDrive.iSector_Size, 512);
    QCOMPARE(oDrive.qui64Sectors_Count, quint64(8));
    QCOMPARE(oDrive.qui64Bytes_Count, quint64(4096));
    if (eNode != eNode_Detached_Loop)
        return;
    // Polled while attached, detached before the read: the read says so and reads nothing.
    cDrive oGone;
    oGone.qsDrive_Name = qsPath;
    oGone.qui64Bytes_Count = 1ULL << 30;
    cTest_Operator oOperator;
    cRead_Result oRead;
    oGone.vRead_Data(0xFFFFFFC000000000ULL, 1000, oOperator, oRead);
    QCOMPARE(oRead.eStatus, eRead_Open_Failed);
    QCOMPARE(oRead.qsError, QString("носитель отключён после опроса: система сообщает его размер 0 байт"));
    QCOMPARE(oRead.qui64Bytes_Done, quint64(0));
}

void tst_Probe::volume_data()
{
    QTest::addColumn<bool>("bTmpfs"); // else ext4 on a loop device
    QTest::newRow("ext4 on a loop device") << false;
    QTest::newRow("tmpfs") << true;
}

void tst_Probe::volume()
{
    NEED_LOOP();
    QFETCH(bool, bTmpfs);
    cLoop_Device oLoop;
    QVERIFY_MADE(bTmpfs ? oLoop.qsMount_Tmpfs("16m") : oLoop.qsCreate(64 * 1048576, 512, "ext4"));
    const QString qsDir = oLoop.qsMount;
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
    if (!bTmpfs) // ext4 keeps a reserve for root, which the free count includes
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
    QVERIFY_MADE(oLoop.qsCreate(48 * 1048576, 4096, "ext4"));
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
    // The sector count is in 512-byte units whatever the sector size (4096 here).
    {
        // The offer of the probe, taken: 48 MiB leave it too little room, which it says.
        cBox_Answerer oProbe([](QMessageBox *qBox) {
            (qBox->button(QMessageBox::Yes) ? qBox->button(QMessageBox::Yes) : qBox->button(QMessageBox::Ok))->click();
        });
        QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
        QCOMPARE(oProbe.qslHeadings, (QStringList{"Провести быструю пробу носителя сейчас?", "Проба не выполнена."}));
        QVERIFY2(oProbe.qslMessages.value(1).startsWith(oLoop.qsMount + "probe.data: "),
                 qPrintable(oProbe.qslMessages.value(1)));
        QVERIFY(oWindow.findChild<QLabel *>("label_Check_Steps")->text().contains("\nПроба: не выполнена.\n"));
        QVERIFY(!QFileInfo::exists(oLoop.qsMount + "probe.data"));
    }

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
    for (int i = 0; i < 12; ++i)
        QCOMPARE(qsShown(pcPoll_Widget(i)), qslExpected[i]);
    QVERIFY(!qsShown("textEdit_Data_Pattern_Value").startsWith('-')); // unsigned, never negative

    // The disk goes away: one error box, the drive keeps what the last good poll saw.
    oLoop.vUnplug();
    cBox_Answerer oAnswerer;
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslMessages.size(), 1);
    QVERIFY(oAnswerer.qslMessages[0].startsWith(qsOpen_Failure));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(qsShown(pcPoll_Widget(i)), qslExpected[i]);
}

QTEST_MAIN(tst_Probe)
#include "tst_probe.moc"
