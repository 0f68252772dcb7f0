// The file systems users fill, each made on a loop device: the fill covers the volume, the
// read finds every word, and the volume is seen on its device; and where each file system put
// the fill, as the tool learns it, is where the words lie on the raw device.
#include "support.h"

#include "Functions_Fill_Files.h"
#include "Functions_Topology.h"
#include "Functions_Tsk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

class tst_File_Systems : public QObject
{
    Q_OBJECT

private slots:
    void fillAndRead_data();
    void fillAndRead();
    void placement_data();
    void placement();
    void unwrittenFill();
};

void tst_File_Systems::fillAndRead_data()
{
    QTest::addColumn<QString>("qsFs");
    QTest::addColumn<QString>("qsDriver");     // a program the file system needs
    QTest::addColumn<quint64>("qui64File_Limit"); // prlimit --fsize for the tool, 0 for none
    QTest::addColumn<QString>("qsSource"); // where the placement comes from
    QTest::addColumn<double>("dShare");    // of the free space the fill must take at least
    QTest::addColumn<quint64>("qui64Stop_MiB"); // the fill file made immutable past this (EPERM), 0: never
    QTest::newRow("xfs") << "xfs" << "mkfs.xfs" << quint64(0) << "fiemap" << 0.9 << quint64(0);
    // btrfs counts as free what its metadata will still take. It gives logical addresses,
    // mapped through its chunk tree; the FUSE drivers none: their structures on the device say.
    QTest::newRow("btrfs") << "btrfs" << "mkfs.btrfs" << quint64(0) << "btrfs_chunks" << 0.8 << quint64(0);
    QTest::newRow("exfat (exfat-fuse)") << "exfat" << "mount.exfat-fuse" << quint64(0) << "tsk" << 0.9 << quint64(0);
    QTest::newRow("ntfs (ntfs-3g)") << "ntfs" << "ntfs-3g" << quint64(0) << "tsk" << 0.9 << quint64(0);
    // fusefat cannot allocate ahead, loses the clusters of a file grown past a gap, and
    // answers a full volume with EPERM, even to a cut that changes nothing.
    QTest::newRow("FAT32 (fusefat)") << "vfat" << "fusefat" << quint64(0) << "tsk" << 0.9 << quint64(0);
    // FAT32 refuses files of 4 GiB and more with EFBIG, as a per-file limit does; a limit
    // off the word grid, as FAT32's 4 GiB - 1 is, cuts the last word of each file.
    QTest::newRow("ext4 under a file size limit")
        << "ext4" << "prlimit" << quint64((96 << 20) + 12345) << "fiemap" << 0.9 << quint64(0);
    // What was written is intact, but it is a small part of the volume: the read says so.
    QTest::newRow("ext4, writes refused (EPERM) early")
        << "ext4" << "chattr" << quint64(0) << "fiemap" << 0.0 << quint64(16);
}

void tst_File_Systems::fillAndRead()
{
    NEED_LOOP();
    QFETCH(QString, qsFs);
    QFETCH(QString, qsDriver);
    QFETCH(quint64, qui64File_Limit);
    QFETCH(QString, qsSource);
    QFETCH(double, dShare);
    QFETCH(quint64, qui64Stop_MiB);
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
    const QString qsFill_Path = oLoop.qsMount + "data.data";
    if (qui64Stop_MiB > 0) {
        QVERIFY(bWait_For([&] { return quint64(QFileInfo(qsFill_Path).size()) > (qui64Stop_MiB << 20); }));
        QCOMPARE(QProcess::execute("chattr", {"+i", qsFill_Path}), 0);
    }
    const bool bDone = qTool.waitForFinished(300000);
    if (qui64Stop_MiB > 0) // the volume is removed with the file in it
        QProcess::execute("chattr", {"-i", qsFill_Path});
    QVERIFY(bDone);
    const QByteArray qbaOut = qTool.readAllStandardOutput();
    const QList<QByteArray> qlLines = qbaOut.trimmed().split('\n');
    QVERIFY2(qlLines.size() == 3, qPrintable(QString::fromUtf8(qbaOut + qTool.readAllStandardError())));
    const QJsonObject qjFill = QJsonDocument::fromJson(qlLines[1]).object();
    const QJsonObject qjRead = QJsonDocument::fromJson(qlLines[2]).object();
    const quint64 qui64Written = quint64(qjFill["bytes_written"].toDouble());
    QVERIFY2(qui64Written >= quint64(dShare * strBefore.f_bfree * strBefore.f_frsize),
             qPrintable(QString("%1 of %2 free bytes").arg(qui64Written).arg(strBefore.f_bfree * strBefore.f_frsize)));
    QCOMPARE(qjRead["verdict"].toString(), QString("intact"));
    QCOMPARE(quint64(qjRead["checked_bytes"].toDouble()), qui64Written);
    QCOMPARE(quint64(qjRead["volume_bytes"].toDouble()), quint64(strBefore.f_blocks * strBefore.f_frsize));
    const QString qsVerdict = qjRead["verdict_text"].toString().replace(QChar(0x00A0), ' ');
    if (qui64Stop_MiB > 0) {
        // A refusal is no medium's capacity: the fill failed, and the read tells what share it checked.
        QCOMPARE(qTool.exitCode(), 3);
        QCOMPARE(qjFill["status"].toString(), QString("error"));
        QVERIFY2(qui64Written < strBefore.f_bfree * strBefore.f_frsize / 2, qPrintable(QString::number(qui64Written)));
        QVERIFY(!qjRead["fill_stopped_early"].toString().isEmpty());
        QString qsShare = QLocale(QLocale::Russian).toString(
            100.0 * double(qui64Written) / double(strBefore.f_blocks * strBefore.f_frsize), 'f', 2);
        QVERIFY2(qsVerdict.startsWith("Проверена только часть раздела: все ") &&
                     qsVerdict.contains("лишь " + qsShare.replace(QChar(0x00A0), ' ') + " % раздела"),
                 qPrintable(qsVerdict));
        return;
    }
    QCOMPARE(qTool.exitCode(), 0);
    QCOMPARE(qjRead["fill_stopped_early"].toString(), QString());
    QVERIFY2(qsVerdict.startsWith("Данные целы: все "), qPrintable(qsVerdict));
    QCOMPARE(qjRead["volume_on_device"].toBool(), true);
    QCOMPARE(qjRead["placement"].toString(), QString("known"));
    QCOMPARE(qjRead["placement_source"].toString(), qsSource);
    QCOMPARE(quint64(qjRead["in_place"].toDouble()), qui64Written / 8);
    // The fill read its samples back from the device as it went. Through a FUSE driver the
    // checks may not be due before a small volume is full (under the sanitizers, none was).
    if (qsSource != "tsk")
        QVERIFY2(qjFill["checks"].toInt() >= 2, qPrintable(QString::number(qjFill["checks"].toInt())));
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

namespace {

// Runs joined where they go on from each other in index and on the device.
std::vector<cRun> vecJoined(const std::vector<cRun> &vecRuns)
{
    std::vector<cRun> vecResult;
    for (const cRun &oRun : vecRuns)
        if (!vecResult.empty() && vecResult.back().qui64End() == oRun.qui64First &&
            vecResult.back().qui64Offset_End() == oRun.qui64Offset)
            vecResult.back().qui64Count += oRun.qui64Count;
        else
            vecResult.push_back(oRun);
    return vecResult;
}

// The big-endian word at byte qui64At of the device, read past its cache.
quint64 qui64Device_Word(const int iFD, const quint64 qui64At)
{
    alignas(4096) static uchar aucBlock[4096];
    const quint64 qui64Block = qui64At / 4096 * 4096;
    if (pread(iFD, aucBlock, 4096, off_t(qui64Block)) != 4096)
        return 0;
    return qFromBigEndian<quint64>(aucBlock + (qui64At - qui64Block));
}

// data.data of qui64Words words from qui64Pattern, and data.data.2 going on from it, each
// written a MiB at a time between the MiBs of another file: the fill's runs are many and out
// of order on the device, as on a volume that holds other files.
QString qsWrite_Interleaved(const QString &qsDir, const quint64 qui64Pattern, const quint64 qui64Words)
{
    QFile qFirst(qsDir + "data.data"), qSecond(qsDir + "data.data.2"), qOther(qsDir + "other.bin");
    if (!qFirst.open(QIODevice::WriteOnly) || !qSecond.open(QIODevice::WriteOnly) ||
        !qOther.open(QIODevice::WriteOnly))
        return "cannot make the files in " + qsDir;
    QByteArray qbaChunk(1 << 20, '\0');
    for (quint64 i = 0; i < qui64Words; i += qbaChunk.size() / 8) {
        for (int j = 0; j < qbaChunk.size() / 8; ++j)
            qToBigEndian<quint64>(qui64Pattern + i + j, qbaChunk.data() + 8 * j);
        QFile &qPart = i < qui64Words * 3 / 4 ? qFirst : qSecond;
        // Each MiB synced before the next: a file system that allocates late places them apart.
        for (QFile *pqFile : {&qPart, &qOther})
            if (pqFile->write(qbaChunk) != qbaChunk.size() || !pqFile->flush() || fsync(pqFile->handle()) != 0)
                return "cannot write in " + qsDir;
    }
    return QString();
}

} // namespace

void tst_File_Systems::placement_data()
{
    QTest::addColumn<QString>("qsFs");
    QTest::addColumn<QStringList>("qslMkfs");
    QTest::addColumn<bool>("bStick"); // on a partition from 1 MiB, the whole device scanned
    QTest::addColumn<QString>("qsSource");
    QTest::addColumn<QString>("qsDriver");
    QTest::newRow("ext4") << "ext4" << QStringList() << false << "fiemap" << "mkfs.ext4";
    QTest::newRow("xfs") << "xfs" << QStringList() << false << "fiemap" << "mkfs.xfs";
    QTest::newRow("btrfs") << "btrfs" << QStringList() << false << "btrfs_chunks" << "mkfs.btrfs";
    // Two copies on one device: the words lie at the first, and again at the second.
    QTest::newRow("btrfs, data DUP") << "btrfs" << QStringList{"-d", "dup", "-m", "dup"} << false << "btrfs_chunks"
                                     << "mkfs.btrfs";
    QTest::newRow("exfat (exfat-fuse)") << "exfat" << QStringList() << false << "tsk" << "mount.exfat-fuse";
    QTest::newRow("exfat on a stick's partition") << "exfat" << QStringList() << true << "tsk" << "mount.exfat-fuse";
    // fusefat names no device: the file system is the one on the device its server reads.
    QTest::newRow("FAT32 (fusefat)") << "vfat" << QStringList{"-F", "32"} << false << "tsk" << "fusefat";
    QTest::newRow("FAT32 on a stick's partition") << "vfat" << QStringList() << true << "tsk" << "fusefat";
    QTest::newRow("ntfs (ntfs-3g)") << "ntfs" << QStringList() << false << "tsk" << "ntfs-3g";
}

void tst_File_Systems::placement()
{
    // Where the tool says each run of the fill lies, the raw device holds exactly that run's
    // words, first and last; the runs cover the fill once. ext4's FIEMAP and its structures
    // read with The Sleuth Kit give the same runs.
    NEED_LOOP();
    QFETCH(QString, qsFs);
    QFETCH(QStringList, qslMkfs);
    QFETCH(bool, bStick);
    QFETCH(QString, qsSource);
    QFETCH(QString, qsDriver);
    NEED_PROGRAMS("mkfs." + qsFs, qsDriver);
    if (bStick)
        NEED_PROGRAMS("sfdisk", "partx");
    cLoop_Device oLoop;
    QVERIFY_MADE(bStick ? oLoop.qsCreate_Stick(320 << 20, qsFs) : oLoop.qsCreate(320 << 20, 512, qsFs, qslMkfs));
    const quint64 qui64Pattern = 0xffffffffff000000, qui64Words = (24 << 20) / 8;
    QVERIFY_MADE(qsWrite_Interleaved(oLoop.qsMount, qui64Pattern, qui64Words));
    const QVector<cFill_Part> qvParts = qvFill_Parts(oLoop.qsMount);
    QCOMPARE(qvParts.size(), 2);
    std::vector<cRun> vecRuns;
    QString qsWhy;
    ePlacement_Source eSource = ePlacement_None;
    QVERIFY2(bFill_Placement(qvParts, oLoop.qsDevice, &vecRuns, &qsWhy, nullptr, &eSource), qPrintable(qsWhy));
    QCOMPARE(QString(pcPlacement_Source_Name(eSource)), qsSource);
    // The two files, and the MiBs of the other file between the runs of at least one of them.
    QVERIFY2(vecRuns.size() >= 3, qPrintable(QString::number(vecRuns.size())));
    const int iFD = open(oLoop.qsDevice.toLocal8Bit().constData(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    QVERIFY(iFD >= 0);
    quint64 qui64Next = 0;
    for (const cRun &oRun : vecRuns) {
        QCOMPARE(oRun.qui64First, qui64Next);
        QCOMPARE(qui64Device_Word(iFD, oRun.qui64Offset), qui64Pattern + oRun.qui64First);
        QCOMPARE(qui64Device_Word(iFD, oRun.qui64Offset_End() - 8), qui64Pattern + oRun.qui64End() - 1);
        qui64Next = oRun.qui64End();
    }
    close(iFD);
    QCOMPARE(qui64Next, qui64Words);
    if (qsFs != "ext4")
        return;
    std::vector<cRun> vecTsk;
    for (const cFill_Part &oPart : qvParts)
        QVERIFY2(bTsk_Part_Runs(oLoop.qsDevice, "/" + QFileInfo(oPart.qsPath).fileName(), oPart, &vecTsk, &qsWhy),
                 qPrintable(qsWhy));
    const std::vector<cRun> vecFiemap = vecJoined(vecRuns);
    vecTsk = vecJoined(vecTsk);
    QCOMPARE(vecTsk.size(), vecFiemap.size());
    for (size_t r = 0; r < vecTsk.size(); ++r)
        QVERIFY(vecTsk[r].qui64First == vecFiemap[r].qui64First && vecTsk[r].qui64Count == vecFiemap[r].qui64Count &&
                vecTsk[r].qui64Offset == vecFiemap[r].qui64Offset);
}

void tst_File_Systems::unwrittenFill()
{
    // fusefat loses the clusters of a file grown past a gap: the file's structures on the
    // device then hold less than its size, as they do while a driver keeps data in memory.
    // Nothing is judged then; the medium is no fake.
    NEED_LOOP();
    NEED_PROGRAMS("mkfs.vfat", "fusefat");
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(128 << 20, 512, "vfat"));
    const cTool_Run oPoll = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll"));
    const quint64 qui64Pattern =
        QJsonDocument::fromJson(oPoll.qsOut.toUtf8())["data"]["pattern_decimal"].toString().toULongLong();
    QVERIFY(qui64Pattern != 0);
    QFile qFill(oLoop.qsMount + "data.data");
    QVERIFY(qFill.open(QIODevice::WriteOnly));
    QByteArray qbaChunk(1 << 20, '\0');
    for (const int iMiB : {1, 0, 3, 2, 5, 4, 7, 6}) { // each odd MiB written past the end
        for (int j = 0; j < qbaChunk.size() / 8; ++j)
            qToBigEndian<quint64>(qui64Pattern + quint64(iMiB) * (qbaChunk.size() / 8) + j, qbaChunk.data() + 8 * j);
        QVERIFY(qFill.seek(qint64(iMiB) << 20) && qFill.write(qbaChunk) == qbaChunk.size() && qFill.flush());
    }
    qFill.close();
    const cTool_Run oRead = oTool(qslBatch(oLoop.qsDevice, oLoop.qsMount, "poll,read"));
    const QJsonObject qjRead = oRead.qjLast();
    QCOMPARE(oRead.iExit, 1);
    QCOMPARE(qjRead["status"].toString(), QString("fill_not_on_device"));
    QVERIFY(!qjRead.contains("verdict") || qjRead["verdict"].toString() == "none");
    QVERIFY2(oRead.qsErr.contains("Носитель пока нельзя оценить: записано 8,00 МиБ заполнения в " + oLoop.qsMount),
             qPrintable(oRead.qsErr));
}

QTEST_MAIN(tst_File_Systems)
#include "tst_filesystems.moc"
