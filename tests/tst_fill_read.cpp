// The fill and the read: what reaches the disk, what the read finds, and every way they fail.
#include "Functions_Core.h"
#include "Functions_Data.h"
#include "Functions_Records.h"
#include "Functions_Report.h"
#include "Functions_Topology.h"
#include "mainwindow.h"
#include "support.h"

#include <QDialog>
#include <QPushButton>
#include <QtEndian>
#include <QtTest>

#include <sys/resource.h>

typedef QVector<quint64> tWords;
Q_DECLARE_METATYPE(tWords)
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
    void bitTable();
    void scanKernels_data();
    void scanKernels();
    void readBounds();
    void readUsesPollPattern();
    void readFailures();
    void readAllocFailure();
    void readErrors_data();
    void readErrors();
    void volumeOnDevice();
};

static const quint64 qui64P = 0xFFFFFFC000000000ULL;

// An image whose words are given: offset -> value (big-endian, at any byte offset).
static QString qsMake_Image(const QTemporaryDir &qDir, const qint64 qi64Size, const QList<QPair<qint64, quint64>> &qlWords)
{
    QByteArray qbaImage(int(qi64Size), '\0');
    for (const auto &qpWord : qlWords)
        qToBigEndian<quint64>(qpWord.second, qbaImage.data() + qpWord.first);
    QFile qFile(qDir.filePath("image.bin"));
    qFile.open(QIODevice::WriteOnly);
    qFile.write(qbaImage);
    return qFile.fileName();
}

// Reads a fill file and checks that it holds whole words pattern + i from i = 0.
static bool bLeading_Sequence(const QString &qsPath, const quint64 qui64Pattern, quint64 *pqui64Words)
{
    QFile qFile(qsPath);
    if (!qFile.open(QIODevice::ReadOnly) || qFile.size() % 8 != 0)
        return false;
    *pqui64Words = quint64(qFile.size()) / 8;
    quint64 i = 0;
    while (!qFile.atEnd()) {
        const QByteArray qbaChunk = qFile.read(1 << 20);
        for (int j = 0; j + 8 <= qbaChunk.size(); j += 8, ++i)
            if (qFromBigEndian<quint64>(qbaChunk.constData() + j) != qui64Pattern + i)
                return false;
    }
    return true;
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
    const QString qsError = oLoop.qsCreate(64 * 1048576, 512, true);
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
    MainWindow oWindow(nullptr, oLoop.qsDevice, oLoop.qsMount);
    cBox_Answerer oAnswerer;
    auto vClick = [&](const char *pcButton) {
        QTest::mouseClick(oWindow.findChild<QPushButton *>(pcButton), Qt::LeftButton);
    };
    vClick("pushButton_Properties");
    vClick("pushButton_Read");
    QCOMPARE(oDrive.oRead_Result.qui64Distinct, quint64(0));
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
    QVERIFY(bLeading_Sequence(oLoop.qsMount + "data.data", oData.qui64Pattern, &qui64Words));
    QVERIFY(qui64Words > 6 * 1048576); // most of 64 MiB
    const cRead_Result &oResult = oDrive.oRead_Result;
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Fill_Words, qui64Words);
    QCOMPARE(oResult.qui64Fill_Found, qui64Words);
    QVERIFY(oResult.qui64Distinct >= qui64Words);
    QCOMPARE(oResult.iOn_Device, 1);
    QCOMPARE(oAnswerer.qslHeadings, QStringList({"Чтение завершено.", "Заполнение завершено.", "Чтение завершено."}));
    QVERIFY(oAnswerer.qslMessages[1].contains(QString("Остановка: раздел заполнен на слове %1.").arg(qui64Words)));
    QVERIFY(oAnswerer.qslMessages[2].contains(
        QString("найдено %1 из %1 слов (100.00 %)").arg(qui64Words)));
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
    QVERIFY(bLeading_Sequence(qDir.filePath("data.data"), qui64P, &qui64Found));
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
    const QString qsError = oLoop.qsCreate(32 * 1048576, 512, true, "noauto_da_alloc");
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
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
    QTest::newRow("symbolic link") << "symlink" << "это символическая ссылка, а не файл";
    QTest::newRow("hard link") << "hardlink" << "у файла есть другие жёсткие ссылки";
    QTest::newRow("FIFO, without hanging") << "fifo" << "это не обычный файл";
    QTest::newRow("directory") << "dir" << "это не обычный файл";
    QTest::newRow("missing volume") << "missing" << "No such file or directory";
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
    const QString qsError = oLoop.qsCreate(2048ULL * 1048576, 4096, true);
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
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
    QVERIFY(bLeading_Sequence(oResult.qsPath, oData.qui64Pattern, &qui64Words));
    QCOMPARE(oResult.qui64Words_Written, qui64Words);
    QVERIFY(qui64Words > 0 && qui64Words * 8 < 1800ULL * 1048576);
}

void tst_Fill_Read::bitTable()
{
    // Pages of 32,768 indexes nothing was set in are skipped when counting and searching.
    cBit_Table oTable;
    QVERIFY(oTable.bAllocate(1000000));
    QCOMPARE(oTable.qui64Set_Range(100, 100), quint64(100));
    QCOMPARE(oTable.qui64Set_Range(150, 100), quint64(50)); // half of it was set already
    QCOMPARE(oTable.qui64Set_Range(32760, 16), quint64(16)); // across a page boundary
    QCOMPARE(oTable.qui64Set_Range(700000, 1), quint64(1));
    QCOMPARE(oTable.qui64Count(0, 1000000), quint64(167));
    QCOMPARE(oTable.qui64Count(120, 32765), quint64(130 + 5));
    QCOMPARE(oTable.qui64Find(true, 250, 1000000), quint64(32760));
    QCOMPARE(oTable.qui64Find(false, 32760, 1000000), quint64(32776));
    QCOMPARE(oTable.qui64Find(true, 32776, 1000000), quint64(700000));
    QCOMPARE(oTable.qui64Find(true, 700001, 1000000), quint64(1000000));
    QCOMPARE(oTable.qui64Find(false, 100, 200), quint64(200));
}

void tst_Fill_Read::scanKernels_data()
{
    QTest::addColumn<tWords>("qlWords");
    QTest::addColumn<quint64>("qui64Pattern");
    QTest::addColumn<quint64>("qui64Bound");
    QTest::addColumn<tWords>("qlMarked");
    QTest::addColumn<quint64>("qui64Hits");
    const quint64 P = qui64P;
    tWords qlRun, qlRun_Indexes;
    for (quint64 i = 0; i < 21; ++i) { // longer than a vector step, and not a multiple of one
        qlRun << P + 40 + i;
        qlRun_Indexes << 40 + i;
    }
    QTest::newRow("nothing") << tWords(19, 0) << P << quint64(1000) << tWords() << quint64(0);
    QTest::newRow("a long run") << qlRun << P << quint64(1000) << qlRun_Indexes << quint64(21);
    QTest::newRow("run cut by the bound") << qlRun << P << quint64(50) << qlRun_Indexes.mid(0, 10) << quint64(10);
    QTest::newRow("broken runs, duplicates, words below")
        << tWords{0, P + 3, P + 4, P + 5, P + 9, P + 10, P + 4, P - 1, P + 11, 7, P + 12, P + 13, P + 14, P + 15, P + 16, 0, 0}
        << P << quint64(100) << tWords{3, 4, 5, 9, 10, 11, 12, 13, 14, 15, 16} << quint64(12);
    QTest::newRow("a match after eight misses")
        << tWords{1, 2, 3, 4, 5, 6, 7, 8, 9, P + 2} << P << quint64(100) << tWords{2} << quint64(1);
    // Indexes of words far below the pattern wrap to 2^63 and more: never "negative", never found.
    QTest::newRow("indexes at and above 2^63") << tWords{0x8000000000000000ULL, 0xBFFFFFFFFFFFFFFFULL, P + 1} << P
                                               << quint64(100) << tWords{1} << quint64(1);
    // Long enough for the vector steps: matches in either half of one, wrapped indexes around them.
    const quint64 W = 0x8000000000000000ULL;
    QTest::newRow("matches inside vector steps")
        << tWords{W, W + 5, P + 1, 3, 4, 5, 6, 7, 8, W + 9, 10, 11, 12, P + 7, 14, 15, 16, W + 17, 18, 19, P + 50,
                  P + 51, P + 52, P + 53}
        << P << quint64(100) << tWords{1, 7, 50, 51, 52, 53} << quint64(6);
    QTest::newRow("bound beyond the table") << tWords{P, P + 999, P + 1000} << P << ~quint64(0) << tWords{0, 999}
                                            << quint64(2);
}

void tst_Fill_Read::scanKernels()
{
    QFETCH(tWords, qlWords);
    QFETCH(quint64, qui64Pattern);
    QFETCH(quint64, qui64Bound);
    QFETCH(tWords, qlMarked);
    QFETCH(quint64, qui64Hits);
    QByteArray qbaData(qlWords.size() * 8, '\0');
    for (int i = 0; i < qlWords.size(); ++i)
        qToBigEndian<quint64>(qlWords[i], qbaData.data() + 8 * i);
    for (const bool bVectorised : {false, true}) {
        if (bVectorised && !bScan_Vectorised())
            QSKIP("no AVX2 here: only the portable loop was checked");
        cBit_Table oTable;
        QVERIFY(oTable.bAllocate(1000));
        quint64 qui64New = 0;
        QCOMPARE(qui64Scan_Words(reinterpret_cast<const uchar *>(qbaData.constData()), quint64(qlWords.size()),
                                 qui64Pattern, qui64Bound, oTable, bVectorised, &qui64New),
                 qui64Hits);
        tWords qlSeen;
        for (quint64 i = 0; i < 1000; ++i)
            if (oTable.bTest(i))
                qlSeen << i;
        QCOMPARE(qlSeen, qlMarked);
        QCOMPARE(qui64New, quint64(qlMarked.size()));
        QCOMPARE(oTable.qui64Count(0, 1000), quint64(qlMarked.size()));
    }
}

void tst_Fill_Read::readBounds()
{
    QTemporaryDir qDir;
    // Runs, duplicates and words below the pattern are the kernel's (scanKernels); here the
    // device: the table's edge, the 8-byte grid, regions, and the device's own size.
    QList<QPair<qint64, quint64>> qlWords = {
        {0, qui64P},              // index 0
        {8, qui64P + 999},        // the last tracked index
        {16, qui64P + 1000},      // the first one beyond the table
        {28, qui64P + 7},         // off the 8-byte grid: never seen
        {64, qui64P + 5},         // region 1 (regions of 64 bytes here)
        {65528, qui64P + 8191}};  // the device's last word, beyond the table too
    cDrive oDrive_Image;
    oDrive_Image.vGet_Properties(qsMake_Image(qDir, 65536, qlWords));

    oDrive_Image.vRead_Data(qui64P, 1000);
    const cRead_Result &oResult = oDrive_Image.oRead_Result;
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Table_Count, quint64(1000));
    QList<quint64> qlSeen;
    for (quint64 i = 0; i < 1000; ++i)
        if (oResult.oTable.bTest(i))
            qlSeen << i;
    QCOMPARE(qlSeen, (QList<quint64>{0, 5, 999}));
    QCOMPARE(oResult.qui64Distinct, quint64(3));
    QCOMPARE(oResult.qui64Region_Bytes, quint64(64));
    QCOMPARE(oResult.qvRegion_Hits.mid(0, 3), (QVector<quint64>{2, 1, 0}));

    // A huge table is cut to the device's words: index 8191 is the last there can be.
    oDrive_Image.vRead_Data(qui64P, quint64(1) << 40);
    QCOMPARE(oResult.qui64Table_Count, quint64(8192));
    QVERIFY(oResult.oTable.bTest(8191) && oResult.oTable.bTest(1000));

    // Indexes past 2^64 wrap to small values: a word below the pattern must not count.
    QTemporaryDir qDir_Top;
    cDrive oDrive_Top;
    oDrive_Top.vGet_Properties(qsMake_Image(qDir_Top, 4096, {{0, 3}, {8, 0xFFFFFFFFFFFFFFFFULL}}));
    oDrive_Top.vRead_Data(0xFFFFFFFFFFFFFFFEULL, 100);
    QCOMPARE(oDrive_Top.oRead_Result.qui64Distinct, quint64(1));
    QVERIFY(oDrive_Top.oRead_Result.oTable.bTest(1));
}

void tst_Fill_Read::readUsesPollPattern()
{
    // The read looks for the last poll's pattern, over no more indexes than that poll counted.
    QTemporaryDir qDir;
    const quint64 qui64Small = 0xFFFFFFFFFFF00000ULL;
    const QString qsImage = qsMake_Image(qDir, 8192, {{0, qui64Small}, {8, qui64Small + 49}, {16, qui64Small + 50}});
    oDrive.vGet_Properties(qsImage);
    oData.qui64Pattern = qui64Small;
    oData.qui64Data_Count = 50;
    QVERIFY(bRead_Records());
    QCOMPARE(oDrive.oRead_Result.qui64Pattern, qui64Small);
    QCOMPARE(oDrive.oRead_Result.qui64Table_Count, quint64(50));
    QCOMPARE(oDrive.oRead_Result.qui64Distinct, quint64(2));
}

void tst_Fill_Read::readFailures()
{
    cDrive oMissing;
    oMissing.qsDrive_Name = "/nonexistent/disk";
    oMissing.qui64Bytes_Count = 4096;
    oMissing.vRead_Data(qui64P, 100);
    QCOMPARE(oMissing.oRead_Result.eStatus, eRead_Open_Failed);
    QVERIFY(!oMissing.oRead_Result.oTable.bAllocated());
    cDrive oNever_Polled;
    oNever_Polled.vRead_Data(qui64P, 100);
    QCOMPARE(oNever_Polled.oRead_Result.eStatus, eRead_No_Poll);
    QCOMPARE(qsRead_Failure(oMissing.oRead_Result),
             QString("Не удалось открыть носитель /nonexistent/disk для чтения: No such file or directory."));
    QVERIFY(qsRead_Failure(oNever_Polled.oRead_Result).startsWith("Носитель не опрошен"));
}

void tst_Fill_Read::readAllocFailure()
{
    // A sparse 64 GiB image wants a 1 GiB table; the address space is capped well below that.
    QTemporaryDir qDir;
    QFile qImage(qDir.filePath("huge.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.resize(64LL << 30));
    qImage.close();
    cDrive oHuge;
    oHuge.vGet_Properties(qImage.fileName());
    QFile qStatm("/proc/self/statm"); // first field: the address space in pages
    QVERIFY(qStatm.open(QIODevice::ReadOnly));
    const rlim_t rlimUsed = rlim_t(qStatm.readAll().split(' ')[0].toULongLong()) * rlim_t(sysconf(_SC_PAGESIZE));
    struct rlimit strOld, strCapped;
    getrlimit(RLIMIT_AS, &strOld);
    strCapped = strOld;
    strCapped.rlim_cur = rlimUsed + (256 << 20);
    QCOMPARE(setrlimit(RLIMIT_AS, &strCapped), 0);
    oHuge.vRead_Data(qui64P, 12000000000ULL);
    setrlimit(RLIMIT_AS, &strOld);
    QCOMPARE(oHuge.oRead_Result.eStatus, eRead_Alloc_Failed);
    QVERIFY2(qsRead_Failure(oHuge.oRead_Result).startsWith("Не хватает памяти для таблицы найденных слов: 8589934592 записей"),
             qPrintable(qsRead_Failure(oHuge.oRead_Result)));
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
    const QString qsHelper = FILLSCAN_FAULTY_FUSE;
    if (qsHelper.isEmpty())
        QSKIP("the FUSE helper was not built (libfuse3-dev missing)");
    if (!QFile::exists("/dev/fuse") || geteuid() != 0)
        QSKIP("needs root and /dev/fuse to serve a failing disk");
    NEED_LOOP();
    // 8 MiB of fill words, indexes 0 .. 1 Mi - 1; bytes [2 MiB, 2 MiB + 64 KiB) cannot be read.
    QTemporaryDir qDir;
    const quint64 qui64Bad = 2 << 20, qui64Bad_Length = 65536, qui64Words = 1 << 20;
    QByteArray qbaImage(int(qui64Words * 8), '\0');
    for (quint64 i = 0; i < qui64Words; ++i)
        qToBigEndian<quint64>(qui64P + i, qbaImage.data() + 8 * i);
    QFile qImage(qDir.filePath("backing.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.write(qbaImage) == qbaImage.size());
    qImage.close();
    const QString qsMount = qDir.filePath("fuse");
    QDir().mkpath(qsMount);
    int iExit = 0;
    qsRun(qsHelper, {qImage.fileName(), QString::number(qui64Bad), QString::number(qui64Bad + qui64Bad_Length),
                     qsMount, "-o", "allow_other"}, &iExit);
    QCOMPARE(iExit, 0);
    struct cUnmount {
        QString qs;
        ~cUnmount() { qsRun("umount", {qs}); }
    } oUnmount{qsMount};
    cLoop_Device oLoop; // only its cleanup is used when the loop runs over the FUSE file
    QString qsDevice = qsMount + "/disk.img";
    if (bLoop) {
        oLoop.qsDevice = qsRun("losetup", {"--show", "-f", qsDevice}, &iExit);
        QCOMPARE(iExit, 0);
        qsDevice = oLoop.qsDevice;
    }

    cDrive oFailing;
    QVERIFY(oFailing.bGet_Properties(qsDevice));
    cBox_Answerer oAnswerer;
    oFailing.vRead_Data(qui64P, qui64Words);
    const cRead_Result &oResult = oFailing.oRead_Result;
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Bytes_Bad, qui64Bad_Length);
    QCOMPARE(oResult.qui64Bytes_Done, qui64Words * 8);
    QCOMPARE(oResult.qui64Distinct, qui64Words - qui64Bad_Length / 8);
    QVERIFY(oResult.oTable.bTest(qui64Bad / 8 - 1) && !oResult.oTable.bTest(qui64Bad / 8));
    QVERIFY(oResult.oTable.bTest((qui64Bad + qui64Bad_Length) / 8));
    const int iRegion = int(qui64Bad / oResult.qui64Region_Bytes);
    QCOMPARE(oResult.qvRegion_Bad.value(iRegion), qMin(oResult.qui64Region_Bytes, qui64Bad_Length));
    QCOMPARE(oResult.qvRegion_Bad.value(iRegion - 1), quint64(0));
    QVERIFY(qsRead_Summary(oResult).contains(QString("не удалось прочитать: %1 байт.").arg(qui64Bad_Length)));
    QCOMPARE(oAnswerer.qslMessages.size(), 0);
}

void tst_Fill_Read::volumeOnDevice()
{
    NEED_LOOP();
    cLoop_Device oLoop, oOther;
    QString qsError = oLoop.qsCreate(32 * 1048576, 512, true);
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
    qsError = oOther.qsCreate(8 * 1048576);
    QVERIFY2(qsError.isEmpty(), qPrintable(qsError));
    QCOMPARE(iVolume_On_Device(oLoop.qsMount, oLoop.qsDevice), 1);
    QCOMPARE(iVolume_On_Device(oLoop.qsMount, oLoop.qsImage), 1); // the image behind the loop device
    QCOMPARE(iVolume_On_Device(oLoop.qsMount, oOther.qsDevice), 0);
    QCOMPARE(iVolume_On_Device("/dev/shm/", oLoop.qsDevice), 0); // tmpfs lies on no disk
    cRead_Result oElsewhere;
    oElsewhere.iOn_Device = 0;
    oElsewhere.qsDevice = oOther.qsDevice;
    QVERIFY(qsRead_Summary(oElsewhere).contains("Внимание: раздел не лежит на носителе " + oOther.qsDevice));
}

QTEST_MAIN(tst_Fill_Read)
#include "tst_fill_read.moc"
