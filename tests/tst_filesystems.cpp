// The file systems users fill, each made on a loop device: the fill covers the volume, the
// read finds every word, and the volume is seen on its device.
#include "support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <sys/statvfs.h>

class tst_File_Systems : public QObject
{
    Q_OBJECT

private slots:
    void fillAndRead_data();
    void fillAndRead();
};

void tst_File_Systems::fillAndRead_data()
{
    QTest::addColumn<QString>("qsFs");
    QTest::addColumn<QString>("qsDriver");     // a program the file system needs
    QTest::addColumn<quint64>("qui64File_Limit"); // prlimit --fsize for the tool, 0 for none
    QTest::addColumn<QString>("qsPlacement");
    QTest::addColumn<double>("dShare"); // of the free space the fill must take at least
    QTest::newRow("xfs") << "xfs" << "mkfs.xfs" << quint64(0) << "known" << 0.9;
    // btrfs counts as free what its metadata will still take. It gives logical addresses and
    // FUSE file systems none: where the words lay is inferred from where they were found.
    QTest::newRow("btrfs") << "btrfs" << "mkfs.btrfs" << quint64(0) << "inferred" << 0.8;
    QTest::newRow("exfat (exfat-fuse)") << "exfat" << "mount.exfat-fuse" << quint64(0) << "inferred" << 0.9;
    QTest::newRow("ntfs (ntfs-3g)") << "ntfs" << "ntfs-3g" << quint64(0) << "inferred" << 0.9;
    // FAT32 refuses files of 4 GiB and more with EFBIG, as a per-file limit does; a limit
    // off the word grid, as FAT32's 4 GiB - 1 is, cuts the last word of each file.
    QTest::newRow("ext4 under a file size limit")
        << "ext4" << "prlimit" << quint64((96 << 20) + 12345) << "known" << 0.9;
}

void tst_File_Systems::fillAndRead()
{
    NEED_LOOP();
    QFETCH(QString, qsFs);
    QFETCH(QString, qsDriver);
    QFETCH(quint64, qui64File_Limit);
    QFETCH(QString, qsPlacement);
    QFETCH(double, dShare);
    NEED_PROGRAMS("mkfs." + qsFs, qsDriver);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(512 * 1048576, 512, qsFs));
    struct statvfs strBefore;
    QCOMPARE(statvfs(oLoop.qsMount.toLocal8Bit().constData(), &strBefore), 0);
    QStringList qslCommand = QStringList{FILLSCAN_TOOL} + qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,fill,read");
    if (qui64File_Limit > 0)
        qslCommand = QStringList{"--fsize=" + QString::number(qui64File_Limit)} + qslCommand;
    QProcess qTool;
    qTool.start(qui64File_Limit == 0 ? qslCommand.takeFirst() : QString("prlimit"), qslCommand);
    QVERIFY(qTool.waitForFinished(300000));
    const QList<QByteArray> qlLines = qTool.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(qTool.exitCode(), 0);
    QCOMPARE(qlLines.size(), 3);
    const QJsonObject qjFill = QJsonDocument::fromJson(qlLines[1]).object();
    const QJsonObject qjRead = QJsonDocument::fromJson(qlLines[2]).object();
    const quint64 qui64Written = quint64(qjFill["bytes_written"].toDouble());
    QVERIFY2(qui64Written >= quint64(dShare * strBefore.f_bfree * strBefore.f_frsize),
             qPrintable(QString("%1 of %2 free bytes").arg(qui64Written).arg(strBefore.f_bfree * strBefore.f_frsize)));
    QCOMPARE(qjRead["verdict"].toString(), QString("intact"));
    QCOMPARE(qjRead["volume_on_device"].toBool(), true);
    QCOMPARE(qjRead["placement"].toString(), qsPlacement);
    QFile qFill(oLoop.qsMount + "data.data"); // and it is full: not a block more fits
    QVERIFY(qFill.open(QIODevice::Append));
    QCOMPARE(qFill.write(QByteArray(4096, 'x')) <= 0 || !qFill.flush(), true);
    QCOMPARE(quint64(qjRead["fill_file"]["found"].toDouble()), qui64Written / 8);
    const QJsonArray qjParts = qjRead["fill_file"]["parts"].toArray();
    if (qui64File_Limit == 0) {
        QCOMPARE(qjParts.size(), 1);
    } else { // data.data, data.data.2, ...: one sequence of words, each file below the limit
        QVERIFY(qjParts.size() >= 4);
        QCOMPARE(qjFill["files"].toInt(), qjParts.size());
        for (int i = 0; i < qjParts.size(); ++i) {
            const QJsonObject qjPart = qjParts[i].toObject();
            QCOMPARE(qjPart["path"].toString(),
                     oLoop.qsMount + "data.data" + (i == 0 ? QString() : "." + QString::number(i + 1)));
            QVERIFY(qjPart["words"].toDouble() * 8 <= double(qui64File_Limit));
        }
    }
}

QTEST_MAIN(tst_File_Systems)
#include "tst_filesystems.moc"
