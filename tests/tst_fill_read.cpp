// The fill and the read: what reaches the disk, what the read finds, and every way they fail.
#include "Functions_Core.h"
#include "Functions_Data.h"
#include "Functions_Records.h"
#include "Functions_Report.h"
#include "Functions_Text.h"
#include "Functions_Topology.h"
#include "Functions_Verdict.h"
#include "mainwindow.h"
#include "support.h"

#include <QAbstractButton>
#include <QDialog>
#include <QPushButton>
#include <QtEndian>
#include <QtTest>

#include <sys/resource.h>

#include <sys/stat.h>
#include <unistd.h>

class tst_Fill_Read : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void buttonsBeforePoll();
    void endToEnd();
    void fillFile_data();
    void fillFile();
    void fillReachesDisk();
    void fillRefused_data();
    void fillRefused();
    void fillCancel();
    void fillAsksFirst();
    void readBounds();
    void readFailures_data();
    void readFailures();
    void readScale();
    void readErrors_data();
    void readErrors();
    void volumeOnDevice();
    void placement_data();
    void placement();
};

static const quint64 qui64P = 0xFFFFFFC000000000ULL;

// An image whose words are given: offset -> value (big-endian, at any byte offset).
static QString qsMake_Image(const QTemporaryDir &qDir, const qint64 qi64Size,
                            const QList<QPair<qint64, quint64>> &qlWords)
{
    QByteArray qbaImage(int(qi64Size), '\0');
    for (const auto &qpWord : qlWords)
        qToBigEndian<quint64>(qpWord.second, qbaImage.data() + qpWord.first);
    QFile qFile(qDir.filePath("image.bin"));
    qFile.open(QIODevice::WriteOnly);
    qFile.write(qbaImage);
    return qFile.fileName();
}

static cVolume oVolume_At(const QString &qsDir, const quint64 qui64Bytes)
{
    cVolume oResult;
    oResult.qsVolume_Name = qsDir + "/";
    oResult.qui64Bytes_Count = qui64Bytes;
    return oResult;
}

void tst_Fill_Read::init()
{
    oDrive = cDrive();
    oVolume = cVolume();
    oData = cData();
    vSet_Read_Mode(eRead_Direct);
}

void tst_Fill_Read::buttonsBeforePoll()
{
    // Each button reaches its operation, which refuses to guess a volume or a device.
    QTemporaryDir qDir;
    QDir::setCurrent(qDir.path());
    QFile qKeep("data.data");
    QVERIFY(qKeep.open(QIODevice::WriteOnly) && qKeep.write("keep") == 4);
    qKeep.close();
    MainWindow oWindow;
    cBox_Answerer oAnswerer;
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Write"), Qt::LeftButton);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Read"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslMessages.size(), 2);
    QVERIFY(oAnswerer.qslMessages[0].startsWith("Раздел не опрошен: сначала нажмите «1. Опрос»."));
    QVERIFY(oAnswerer.qslMessages[1].startsWith("Носитель не опрошен: сначала нажмите «1. Опрос»."));
    QCOMPARE(QFileInfo("data.data").size(), 4);
}

void tst_Fill_Read::endToEnd()
{
    // The tool reads direct: buffered after POSIX_FADV_DONTNEED misses about 61 KiB of this
    // fill, as pages that ext4 keeps as metadata buffers stay cached.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(64 * 1048576, 512, "ext4"));
    MainWindow oWindow(nullptr, oLoop.qsDevice, oLoop.qsMount);
    cBox_Answerer oAnswerer;
    auto vClick = [&](const char *pcButton) {
        QTest::mouseClick(oWindow.findChild<QPushButton *>(pcButton), Qt::LeftButton);
    };
    vClick("pushButton_Properties");
    vClick("pushButton_Read");
    QCOMPARE(oDrive.oRead_Result.qui64Distinct, quint64(0));
    QCOMPARE(oDrive.oRead_Result.oVerdict.eValue, eVerdict_No_Fill_File);
    // The trap: the device's pages are now cached, and the fill will not refresh them.
    QFile qDevice(oLoop.qsDevice);
    QVERIFY(qDevice.open(QIODevice::ReadOnly));
    while (!qDevice.read(1 << 20).isEmpty()) {
    }
    qDevice.close();
    vClick("pushButton_Write");
    QCOMPARE(oData.oFill_Result.eStatus, eFill_Full);
    vClick("pushButton_Read");

    quint64 qui64Words = 0;
    QVERIFY(bFill_Sequence(oLoop.qsMount + "data.data", oData.qui64Pattern, &qui64Words));
    QVERIFY(qui64Words > 6 * 1048576); // most of 64 MiB
    const cRead_Result &oResult = oDrive.oRead_Result;
    QCOMPARE(oResult.eStatus, eRead_Done);
    const cVerdict &oVerdict = oResult.oVerdict;
    QCOMPARE(oVerdict.eValue, eVerdict_Intact);
    QVERIFY(oVerdict.oLayout.bPlaced);
    QCOMPARE(oVerdict.qui64Words, qui64Words);
    QCOMPARE(oVerdict.qui64In_Place, qui64Words);
    QVERIFY(oResult.qui64Distinct >= qui64Words);
    QCOMPARE(oVerdict.oLayout.iOn_Device, 1);
    QCOMPARE(oAnswerer.qslHeadings, QStringList({"Чтение завершено.", "Заполнение завершено.", "Чтение завершено."}));
    QCOMPARE(oAnswerer.qlIcons,
             QList<int>({QMessageBox::Information, QMessageBox::Information, QMessageBox::Information}));
    QVERIFY(oAnswerer.qslMessages[1].contains(
        QString("Остановка: раздел заполнен на слове %1.").arg(qsCount_Text(qui64Words))));
    QVERIFY(oAnswerer.qslMessages[2].startsWith(
        QString("Данные целы: все %1 слов файла заполнения").arg(qsCount_Text(qui64Words))));
}

void tst_Fill_Read::fillFile_data()
{
    QTest::addColumn<quint64>("qui64Bytes");
    QTest::addColumn<quint64>("qui64Words");
    QTest::newRow("32 KiB") << quint64(32768) << quint64(4096);
    QTest::newRow("4099 bytes drop their remainder") << quint64(4099) << quint64(512);
    QTest::newRow("more than one buffer") << quint64(9 << 20) + 24 << quint64((9 << 17) + 3);
}

void tst_Fill_Read::fillFile()
{
    QFETCH(quint64, qui64Bytes);
    QFETCH(quint64, qui64Words);
    QTemporaryDir qDir;
    QFile qOld(qDir.filePath("data.data")); // a second fill starts again at word 0
    QVERIFY(qOld.open(QIODevice::WriteOnly) && qOld.write(QByteArray(12 << 20, 'x')) > 0);
    qOld.close();
    cData oFill;
    oFill.qui64Pattern = qui64P;
    oFill.vWrite_Data(oVolume_At(qDir.path(), qui64Bytes));
    QCOMPARE(oFill.oFill_Result.eStatus, eFill_Complete);
    QCOMPARE(oFill.oFill_Result.qui64Words_Written, qui64Words);
    quint64 qui64Found = 0;
    QVERIFY(bFill_Sequence(qDir.filePath("data.data"), qui64P, &qui64Found));
    QCOMPARE(qui64Found, qui64Words);
    QFile qFile(qDir.filePath("data.data"));
    QVERIFY(qFile.open(QIODevice::ReadOnly));
    const QByteArray qbaHead = qFile.read(256 * 8);
    QCOMPARE(qbaHead.left(8).toHex(), QByteArray("ffffffc000000000"));
    QCOMPARE(qbaHead.mid(255 * 8, 8).toHex(), QByteArray("ffffffc0000000ff"));
}

void tst_Fill_Read::fillReachesDisk()
{
    // 4 MiB go past the cache, the last 800 bytes through it: both must be on the disk when
    // the fill says it is done. (ext4 would flush a file emptied and rewritten on close by
    // itself; noauto_da_alloc leaves that to the fill.)
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(32 * 1048576, 512, "ext4", {}, "noauto_da_alloc"));
    const quint64 qui64Words = (4 << 17) + 100;
    cData oFill;
    oFill.qui64Pattern = qui64P;
    oFill.vWrite_Data(oVolume_At(oLoop.qsMount.chopped(1), qui64Words * 8));
    QCOMPARE(oFill.oFill_Result.eStatus, eFill_Complete);
    cDrive oDisk;
    QVERIFY(oDisk.bGet_Properties(oLoop.qsDevice));
    oDisk.vRead_Data(qui64P, qui64Words);
    QCOMPARE(oDisk.oRead_Result.qui64Distinct, qui64Words);
}

void tst_Fill_Read::fillRefused_data()
{
    QTest::addColumn<QString>("qsKind");
    QTest::addColumn<QString>("qsReason");
    QTest::newRow("symbolic link") << "symlink"
                                   << "это символическая ссылка, а не файл";
    QTest::newRow("hard link") << "hardlink"
                               << "у файла есть другие жёсткие ссылки";
    QTest::newRow("FIFO, without hanging") << "fifo"
                                           << "это не обычный файл";
    QTest::newRow("directory") << "dir"
                               << "это не обычный файл";
    QTest::newRow("missing volume") << "missing"
                                    << "No such file or directory";
}

void tst_Fill_Read::fillRefused()
{
    QFETCH(QString, qsKind);
    QFETCH(QString, qsReason);
    QTemporaryDir qDir;
    const QString qsFill = qDir.filePath("data.data");
    const QString qsVictim = qDir.filePath("victim");
    QFile qVictim(qsVictim);
    QVERIFY(qVictim.open(QIODevice::WriteOnly) && qVictim.write("precious") == 8);
    qVictim.close();
    const QByteArray qbaFill = qsFill.toLocal8Bit(), qbaVictim = qsVictim.toLocal8Bit();
    QString qsVolume = qDir.path();
    if (qsKind == "symlink")
        QCOMPARE(symlink(qbaVictim.constData(), qbaFill.constData()), 0);
    else if (qsKind == "hardlink")
        QCOMPARE(link(qbaVictim.constData(), qbaFill.constData()), 0);
    else if (qsKind == "fifo")
        QCOMPARE(mkfifo(qbaFill.constData(), 0644), 0);
    else if (qsKind == "dir")
        QVERIFY(QDir().mkdir(qsFill));
    else
        qsVolume += "/absent";
    cData oFill;
    oFill.qui64Pattern = qui64P;
    oFill.vWrite_Data(oVolume_At(qsVolume, 1 << 20));
    QCOMPARE(oFill.oFill_Result.eStatus, eFill_Open_Failed);
    QCOMPARE(qsFill_Failure(oFill.oFill_Result),
             "Не удалось создать файл заполнения " + qsVolume + "/data.data: " + qsReason + ".");
    QCOMPARE(QFileInfo(qsVictim).size(), 8);
}

void tst_Fill_Read::fillCancel()
{
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(2048ULL * 1048576, 4096, "ext4"));
    MainWindow oWindow(nullptr, oLoop.qsDevice, oLoop.qsMount);
    oWindow.show();
    bool bCancel_Clicked = false;
    QTimer qCanceller;
    connect(&qCanceller, &QTimer::timeout, [&] {
        QWidget *qModal = QApplication::activeModalWidget();
        auto *qCancel = qModal ? qModal->findChild<QPushButton *>("pushButton_Cancel") : nullptr;
        if (qCancel && !bCancel_Clicked) {
            bCancel_Clicked = true;
            qCancel->click();
        }
    });
    qCanceller.start(20);
    cBox_Answerer oAnswerer;
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Write"), Qt::LeftButton);
    QVERIFY(bCancel_Clicked);
    const cFill_Result &oResult = oData.oFill_Result;
    QCOMPARE(oResult.eStatus, eFill_Cancelled);
    QCOMPARE(oAnswerer.qslHeadings, QStringList{"Заполнение прервано."});
    quint64 qui64Words = 0;
    QVERIFY(bFill_Sequence(oResult.qsPath, oData.qui64Pattern, &qui64Words));
    QCOMPARE(oResult.qui64Words_Written, qui64Words);
    QVERIFY(qui64Words > 0 && qui64Words * 8 < 1800ULL * 1048576);
}

// The index ranges a read found, merged: what the device holds, whatever its place.
static QVector<QPair<quint64, quint64>> qvFound(const cRead_Result &oResult)
{
    QVector<QPair<quint64, quint64>> qvResult;
    for (const cRun &oRun : oResult.vecRuns) {
        if (!qvResult.isEmpty() && qvResult.last().second >= oRun.qui64First)
            qvResult.last().second = qMax(qvResult.last().second, oRun.qui64End());
        else
            qvResult.append({oRun.qui64First, oRun.qui64End()});
    }
    return qvResult;
}

void tst_Fill_Read::fillAsksFirst()
{
    // A volume not on the polled device (here tmpfs) is filled only after a yes.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(16 * 1048576));
    QVERIFY_MADE(oLoop.qsMount_Tmpfs("4m"));
    const QString qsVolume = oLoop.qsMount;
    MainWindow oWindow(nullptr, oLoop.qsDevice, qsVolume);
    for (const int iAnswer : {iMsgBox_No_Button, iMsgBox_Yes_Button}) {
        cBox_Answerer oAnswerer([iAnswer](QMessageBox *qBox) {
            qBox->button(QMessageBox::StandardButton(iAnswer * 1024))
                ? qBox->button(QMessageBox::StandardButton(iAnswer * 1024))->click()
                : qBox->buttons().first()->click();
        });
        QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
        QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Write"), Qt::LeftButton);
        QCOMPARE(oAnswerer.qlIcons.first(), int(QMessageBox::Question));
        QVERIFY(oAnswerer.qslMessages.first().contains("файловая система tmpfs не лежит ни на каком носителе"));
        QCOMPARE(QFileInfo::exists(qsVolume + "data.data"), iAnswer == iMsgBox_Yes_Button);
        QCOMPARE(oAnswerer.qslHeadings.size(), iAnswer == iMsgBox_Yes_Button ? 2 : 1);
    }
    QCOMPARE(oData.oFill_Result.eStatus, eFill_Complete); // tmpfs holds all the words of its size
}

void tst_Fill_Read::readBounds()
{
    QTemporaryDir qDir;
    // Runs, duplicates and words below the pattern are the kernel's (tst_scan); here the
    // device: the bound, the 8-byte grid, regions, and where each word lies.
    QList<QPair<qint64, quint64>> qlWords = {{0, qui64P},             // index 0
                                             {8, qui64P + 999},       // the last one looked for
                                             {16, qui64P + 1000},     // the first one beyond
                                             {28, qui64P + 7},        // off the 8-byte grid: never seen
                                             {64, qui64P + 5},        // region 1 (regions of 64 bytes here)
                                             {65528, qui64P + 8191}}; // the device's last word
    cDrive oDrive_Image;
    oDrive_Image.vGet_Properties(qsMake_Image(qDir, 65536, qlWords));
    oDrive_Image.vRead_Data(qui64P, 1000);
    const cRead_Result &oResult = oDrive_Image.oRead_Result;
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Indexes, quint64(1000));
    QCOMPARE(oResult.vecRuns.size(), size_t(3));
    QCOMPARE(
        (QVector<quint64>{oResult.vecRuns[0].qui64First, oResult.vecRuns[1].qui64First, oResult.vecRuns[2].qui64First}),
        (QVector<quint64>{0, 5, 999}));
    QCOMPARE((QVector<quint64>{oResult.vecRuns[0].qui64Offset, oResult.vecRuns[1].qui64Offset,
                               oResult.vecRuns[2].qui64Offset}),
             (QVector<quint64>{0, 64, 8}));
    QCOMPARE(oResult.qui64Distinct, quint64(3));
    QCOMPARE(oResult.qui64Region_Bytes, quint64(64));
    QCOMPARE(oResult.qvRegion_Hits.mid(0, 3), (QVector<quint64>{2, 1, 0}));
    QVERIFY(oResult.qvNot_Read.isEmpty());

    // No bound of its own: every index below the count is looked for, whatever the device.
    oDrive_Image.vRead_Data(qui64P, quint64(1) << 40);
    QCOMPARE(oResult.qui64Distinct, quint64(5));

    // Indexes past 2^64 wrap to small values: a word below the pattern must not count.
    const quint64 qui64Top = 0xFFFFFFFFFFFFFFFEULL;
    QTemporaryDir qDir_Top;
    cDrive oDrive_Top;
    oDrive_Top.vGet_Properties(qsMake_Image(qDir_Top, 4096, {{0, 3}, {8, 0xFFFFFFFFFFFFFFFFULL}}));
    oDrive_Top.vRead_Data(qui64Top, 100);
    QCOMPARE(oDrive_Top.oRead_Result.qui64Distinct, quint64(1));
    QCOMPARE(oDrive_Top.oRead_Result.vecRuns[0].qui64First, quint64(1));

    // The read of the window looks for the last poll's pattern, over the indexes that poll counted.
    const quint64 qui64Small = 0xFFFFFFFFFFF00000ULL;
    oDrive.vGet_Properties(qsMake_Image(qDir, 8192, {{0, qui64Small}, {8, qui64Small + 49}, {16, qui64Small + 50}}));
    oData.qui64Pattern = qui64Small;
    oData.qui64Data_Count = 50;
    QVERIFY(bRead_Records());
    QCOMPARE(oDrive.oRead_Result.qui64Distinct, quint64(2));
}

void tst_Fill_Read::readFailures_data()
{
    QTest::addColumn<QString>("qsDevice");
    QTest::addColumn<int>("iStatus");
    QTest::addColumn<QString>("qsMessage");
    QTest::newRow("missing") << "/nonexistent/disk" << int(eRead_Open_Failed)
                             << "Не удалось открыть носитель /nonexistent/disk для чтения: No such file or directory.";
    QTest::newRow("a character device")
        << "/dev/zero" << int(eRead_Not_Device)
        << "Не удалось открыть носитель /dev/zero для чтения: это не блочное устройство и не файл образа.";
    QTest::newRow("a directory")
        << "/tmp" << int(eRead_Not_Device)
        << "Не удалось открыть носитель /tmp для чтения: это не блочное устройство и не файл образа.";
    QTest::newRow("never polled") << "" << int(eRead_No_Poll) << "Носитель не опрошен: сначала нажмите «1. Опрос».";
}

void tst_Fill_Read::readFailures()
{
    QFETCH(QString, qsDevice);
    QFETCH(int, iStatus);
    QFETCH(QString, qsMessage);
    cDrive oFailing;
    oFailing.qsDrive_Name = qsDevice;
    oFailing.qui64Bytes_Count = 1ULL << 30; // /dev/zero would be read for ever
    oFailing.vRead_Data(qui64P, 100);
    QCOMPARE(int(oFailing.oRead_Result.eStatus), iStatus);
    QCOMPARE(qsRead_Failure(oFailing.oRead_Result), qsMessage);
}

void tst_Fill_Read::readScale()
{
    // A 100 GB device (a sparse image) from a volume that holds 12,500,000,000 words: fill
    // words with indexes past 12,000,000,000, at the offset they would have, are found, and
    // the read needs no memory for the indexes it did not find.
    QTemporaryDir qDir;
    const quint64 qui64Device = 100000000000ULL, qui64First = 12000000000ULL, qui64Words = 1 << 20;
    QFile qImage(qDir.filePath("huge.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.resize(qint64(qui64Device)));
    QByteArray qbaWords(int(qui64Words * 8), '\0');
    for (quint64 i = 0; i < qui64Words; ++i)
        qToBigEndian<quint64>(qui64P + qui64First + i, qbaWords.data() + 8 * i);
    QVERIFY(qImage.seek(qint64(qui64First * 8)) && qImage.write(qbaWords) == qbaWords.size());
    qImage.close();
    struct rusage strBefore, strAfter;
    getrusage(RUSAGE_SELF, &strBefore);
    cDrive oHuge;
    QVERIFY(oHuge.bGet_Properties(qImage.fileName()));
    oHuge.vRead_Data(qui64P, 12500000000ULL);
    getrusage(RUSAGE_SELF, &strAfter);
    const cRead_Result &oResult = oHuge.oRead_Result;
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Bytes_Done, qui64Device);
    QCOMPARE(oResult.qui64Distinct, qui64Words);
    QCOMPARE(oResult.vecRuns.size(), size_t(1));
    QCOMPARE(oResult.vecRuns[0].qui64First, qui64First);
    QCOMPARE(oResult.vecRuns[0].qui64Offset, qui64First * 8);
    // The old table of 12,000,000,000 flags took 1.4 GiB even as bits.
    QVERIFY2(strAfter.ru_maxrss - strBefore.ru_maxrss < 100 * 1024,
             qPrintable(QString("peak memory grew by %1 KiB").arg(strAfter.ru_maxrss - strBefore.ru_maxrss)));
}

void tst_Fill_Read::readErrors_data()
{
    QTest::addColumn<bool>("bLoop");
    QTest::newRow("image file on the failing file system") << false;
    QTest::newRow("loop device over it") << true;
}

void tst_Fill_Read::readErrors()
{
    QFETCH(bool, bLoop);
    NEED_FAULTY_DISK();
    NEED_LOOP();
    // 8 MiB of fill words, indexes 0 .. 1 Mi - 1; bytes [2 MiB, 2 MiB + 64 KiB) cannot be read.
    const quint64 qui64Bad = 2 << 20, qui64Bad_Length = 65536, qui64Words = 1 << 20;
    QList<QPair<qint64, quint64>> qlWords;
    for (quint64 i = 0; i < qui64Words; ++i)
        qlWords.append({qint64(8 * i), qui64P + i});
    QTemporaryDir qDir;
    cFaulty_Disk oDisk;
    QVERIFY_MADE(
        oDisk.qsStart(qsMake_Image(qDir, qint64(8 * qui64Words), qlWords), qui64Bad, qui64Bad + qui64Bad_Length));
    cLoop_Device oLoop; // only its cleanup is used when the loop runs over the FUSE file
    QString qsDevice = oDisk.qsFile;
    if (bLoop) {
        QVERIFY_MADE(oLoop.qsAttach(qsDevice));
        qsDevice = oLoop.qsDevice;
    }

    cDrive oFailing;
    QVERIFY(oFailing.bGet_Properties(qsDevice));
    oFailing.vRead_Data(qui64P, qui64Words);
    const cRead_Result &oResult = oFailing.oRead_Result;
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Bytes_Bad, qui64Bad_Length);
    QCOMPARE(oResult.qui64Bytes_Done, qui64Words * 8);
    QCOMPARE(qvFound(oResult),
             (QVector<QPair<quint64, quint64>>{{0, qui64Bad / 8}, {(qui64Bad + qui64Bad_Length) / 8, qui64Words}}));
    QCOMPARE(oResult.qvNot_Read, (QVector<QPair<quint64, quint64>>{{qui64Bad, qui64Bad + qui64Bad_Length}}));
    const int iRegion = int(qui64Bad / oResult.qui64Region_Bytes);
    QCOMPARE(oResult.qvRegion_Bad.value(iRegion), qMin(oResult.qui64Region_Bytes, qui64Bad_Length));
    QCOMPARE(oResult.qvRegion_Bad.value(iRegion - 1), quint64(0));
    QVERIFY(qsRead_Summary(oResult).contains("не удалось прочитать: " + qsBytes_Text(qui64Bad_Length) + "."));
}

void tst_Fill_Read::volumeOnDevice()
{
    NEED_LOOP();
    cLoop_Device oLoop, oOther;
    QVERIFY_MADE(oLoop.qsCreate(32 * 1048576, 512, "ext4"));
    QVERIFY_MADE(oOther.qsCreate(8 * 1048576));
    QCOMPARE(iVolume_On_Device(oLoop.qsMount, oLoop.qsDevice), 1);
    QCOMPARE(iVolume_On_Device(oLoop.qsMount, oLoop.qsImage), 1); // the image behind the loop device
    QString qsWhy;
    QCOMPARE(iVolume_On_Device(oLoop.qsMount, oOther.qsDevice, &qsWhy), 0);
    QCOMPARE(qsWhy, "раздел лежит на " + oLoop.qsDevice + ", а не на " + oOther.qsDevice);
    QCOMPARE(iVolume_On_Device("/dev/shm/", oLoop.qsDevice, &qsWhy), 0); // tmpfs lies on no disk
    QCOMPARE(qsWhy, QString("файловая система tmpfs не лежит ни на каком носителе"));
    // A FUSE mount whose source names no device cannot be told: unknown, never "not on it".
    if (!qsMissing_Program({"fusefat", "mkfs.vfat"}).isEmpty())
        QSKIP(qPrintable("not installed: " + qsMissing_Program({"fusefat", "mkfs.vfat"})));
    int iExit = 0;
    qsRun("mkfs.vfat", {"-F", "32", oOther.qsDevice}, &iExit);
    QCOMPARE(iExit, 0);
    const QString qsFat = oOther.qTemp.filePath("fat");
    QDir().mkpath(qsFat);
    qsRun("fusefat", {"-o", "rw+", oOther.qsDevice, qsFat}, &iExit);
    QCOMPARE(iExit, 0);
    oOther.qsMount = qsFat; // unmounted with the fixture
    QCOMPARE(iVolume_On_Device(qsFat, oOther.qsDevice, &qsWhy), -1);
    QCOMPARE(
        qsWhy,
        QString("файловая система fuse.fusefat из источника «fusefat»: на каком носителе она лежит, не установить"));
}

void tst_Fill_Read::placement_data()
{
    QTest::addColumn<QString>("qsFs");
    QTest::addColumn<QStringList>("qslMkfs");
    QTest::addColumn<quint64>("qui64Offset"); // of the volume inside the image that is read
    QTest::newRow("ext4, 4 KiB blocks") << "ext4" << QStringList{"-b", "4096"} << quint64(0);
    QTest::newRow("xfs") << "xfs" << QStringList() << quint64(0);
    QTest::newRow("ext4 at 3 MiB inside the image") << "ext4" << QStringList() << quint64(3 << 20);
}

void tst_Fill_Read::placement()
{
    // Every word of the fill is found exactly where the file system says it put it, and the
    // verdict says so, also when the image that is read holds the volume at an offset.
    NEED_LOOP();
    QFETCH(QString, qsFs);
    QFETCH(QStringList, qslMkfs);
    QFETCH(quint64, qui64Offset);
    NEED_PROGRAMS("mkfs." + qsFs);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(320 * 1048576, 512, qsFs, qslMkfs, "defaults", qui64Offset));
    QVERIFY(bPoll_Records(qui64Offset == 0 ? oLoop.qsDevice : oLoop.qsImage, oLoop.qsMount));
    QVERIFY(bFill_Records());
    QVERIFY(bRead_Records());
    const cVerdict &oVerdict = oDrive.oRead_Result.oVerdict;
    QVERIFY2(oVerdict.oLayout.bPlaced, qPrintable(oVerdict.oLayout.qsPlacement_Why));
    QCOMPARE(oVerdict.eValue, eVerdict_Intact);
    QCOMPARE(oVerdict.qui64In_Place, oData.oFill_Result.qui64Words_Written);
    QVERIFY(oVerdict.qui64Words > 25 * 1048576);
}

QTEST_MAIN(tst_Fill_Read)
#include "tst_fill_read.moc"
