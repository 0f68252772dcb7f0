// The fill and the read: what reaches the disk, what the read finds, and every way they fail.
#include "Functions_Clean.h"
#include "Functions_Core.h"
#include "Functions_Data.h"
#include "Functions_Report.h"
#include "Functions_Steps.h"
#include "Functions_Text.h"
#include "Functions_Topology.h"
#include "Functions_Verdict.h"
#include "mainwindow.h"
#include "support.h"

#include <QJsonArray>
#include <QPushButton>
#include <QtEndian>
#include <QScopeGuard>
#include <QtTest>

#include <numeric>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_Fill_Read : public QObject
{
    Q_OBJECT

private slots:
    void buttonsBeforePoll();
    void endToEnd();
    void clean_data();
    void clean();
    void fillFile_data();
    void fillFile();
    void fillReachesDisk();
    void recordCalls();
    void fillRefused_data();
    void fillRefused();
    void fillCancel();
    void fillAsksFirst();
    void readErrors_data();
    void readErrors();
    void volumeOnDevice();
    void placement_data();
    void placement();
};

static const quint64 qui64P = 0xFFFFFFC000000000ULL;

// A name in a volume: a regular file of fill words (4, from index 4 * (part - 1)), a file of
// a user's text, a symbolic link to qsOther, a second hard link of qsOther, or a directory.
enum eEntry_Kind { eEntry_File, eEntry_Text, eEntry_Symlink, eEntry_Hard_Link, eEntry_Directory };
class cEntry
{
public:
    cEntry(const char *pcName = "", const eEntry_Kind eOf_Kind = eEntry_File, const char *pcOther = "")
        : qsName(pcName), eKind(eOf_Kind), qsOther(pcOther)
    {
    }
    QString qsName;
    eEntry_Kind eKind;
    QString qsOther;
};
typedef QVector<cEntry> tEntries;
Q_DECLARE_METATYPE(tEntries)
// What stands where the fill file would go.
enum eIn_The_Way { eWay_Symlink, eWay_Hard_Link, eWay_Fifo, eWay_Directory, eWay_No_Volume };
Q_DECLARE_METATYPE(eIn_The_Way)

void tst_Fill_Read::buttonsBeforePoll()
{
    // Each button reaches its operation, which refuses to guess a volume or a device.
    QTemporaryDir qDir;
    QDir::setCurrent(qDir.path());
    QFile qKeep("data.data");
    QVERIFY(qKeep.open(QIODevice::WriteOnly) && qKeep.write("keep") == 4);
    qKeep.close();
    vForget_Records();
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
    cDrive oDisk;
    cVolume oPolled;
    cData oPattern;
    cTest_Operator oOperator;
    QVERIFY(oPoll(oDisk, oPolled, oPattern, oLoop.qsDevice, oLoop.qsMount).bOk());
    const cRead_Result oBefore = oRead(oDisk, oPolled, oPattern, oOperator);
    QCOMPARE(oBefore.qui64Distinct, quint64(0));
    QCOMPARE(oBefore.oVerdict.eValue, eVerdict_Clean);
    // The trap: the device's pages are now cached, and the fill will not refresh them.
    QFile qDevice(oLoop.qsDevice);
    QVERIFY(qDevice.open(QIODevice::ReadOnly));
    while (!qDevice.read(1 << 20).isEmpty()) {
    }
    qDevice.close();
    const cFill_Result oFilled = oFill(oDisk, oPolled, oPattern, oOperator);
    QCOMPARE(oFilled.eStatus, eFill_Full);
    const cRead_Result oResult = oRead(oDisk, oPolled, oPattern, oOperator);
    QVERIFY(oOperator.qslAsked.isEmpty() && oOperator.qslTold.isEmpty());
    QCOMPARE(oOperator.iStarted, 3);
    QCOMPARE(oOperator.iFinished, 3);

    quint64 qui64Words = 0;
    QVERIFY(bFill_Sequence(oLoop.qsMount + "data.data", oPattern.qui64Pattern, &qui64Words));
    QVERIFY(qui64Words > 6 * 1048576); // most of 64 MiB
    QCOMPARE(oFilled.qui64Words_Written, qui64Words);
    QCOMPARE(oResult.eStatus, eRead_Done);
    const cVerdict &oVerdict = oResult.oVerdict;
    QCOMPARE(oVerdict.eValue, eVerdict_Intact);
    QVERIFY(oVerdict.oLayout.bPlaced);
    QCOMPARE(oVerdict.qui64Words, qui64Words);
    QCOMPARE(oVerdict.qui64In_Place, qui64Words);
    QVERIFY(oResult.qui64Distinct >= qui64Words);
    QCOMPARE(oVerdict.oLayout.eOn, eOn_Device_Yes);
    QVERIFY(qsFill_Summary(oFilled).contains(
        QString("Остановка: раздел заполнен на слове %1.").arg(qsCount_Text(qui64Words))));
    QVERIFY(qsRead_Summary(oResult).startsWith(
        QString("Данные целы: все %1 файла заполнения").arg(qsWords_Text(qui64Words))));
    // Blocks finish in any order: the map of an unchanged medium is the same on every read.
    const cRead_Result oAgain = oRead(oDisk, oPolled, oPattern, oOperator);
    QCOMPARE(oAgain.qvRegion_Hits, oResult.qvRegion_Hits);
    QCOMPARE(oAgain.oVerdict.qvRegion_Stray, oResult.oVerdict.qvRegion_Stray);
    QCOMPARE(std::accumulate(oResult.qvRegion_Hits.begin(), oResult.qvRegion_Hits.end(), quint64(0)),
             oResult.qui64Hits);
}

void tst_Fill_Read::clean_data()
{
    // What lies in the volume, then the names the clean removes and the fill names it keeps
    // and tells (the step then fails); everything else stays unnamed.
    QTest::addColumn<tEntries>("qvEntries");
    QTest::addColumn<QStringList>("qslRemoved");
    QTest::addColumn<QStringList>("qslKept");
    QTest::newRow("the fill and its continuations")
        << tEntries{{"data.data"}, {"data.data.2"}, {"data.data.3"}, {"notes.txt"}}
        << QStringList{"data.data", "data.data.2", "data.data.3"} << QStringList{};
    QTest::newRow("names that only look like continuations")
        << tEntries{{"data.data"}, {"data.data.02"}, {"data.data.+2"}, {"data.data. 2"}, {"data.data.2x"}, {"data.data.1"}}
        << QStringList{"data.data"} << QStringList{};
    QTest::newRow("a link ends the chain")
        << tEntries{{"data.data"}, {"data.data.2", eEntry_Symlink, "victim"}, {"data.data.3"}, {"victim"}}
        << QStringList{"data.data"} << QStringList{"data.data.2", "data.data.3"};
    QTest::newRow("data.data a link") << tEntries{{"data.data", eEntry_Symlink, "victim"}, {"victim"}} << QStringList{}
                                      << QStringList{"data.data"};
    QTest::newRow("data.data a link, data.data.2 a file")
        << tEntries{{"data.data", eEntry_Symlink, "victim"}, {"victim"}, {"data.data.2"}} << QStringList{}
        << QStringList{"data.data", "data.data.2"};
    QTest::newRow("continuations without data.data")
        << tEntries{{"data.data.2"}, {"data.data.3"}} << QStringList{} << QStringList{"data.data.2", "data.data.3"};
    QTest::newRow("data.data a second name of a file")
        << tEntries{{"victim"}, {"data.data", eEntry_Hard_Link, "victim"}} << QStringList{} << QStringList{"data.data"};
    QTest::newRow("a directory named data.data.2")
        << tEntries{{"data.data"}, {"data.data.2", eEntry_Directory}} << QStringList{"data.data"}
        << QStringList{"data.data.2"};
    QTest::newRow("a user's data.data") << tEntries{{"data.data", eEntry_Text}} << QStringList{}
                                        << QStringList{"data.data"};
    QTest::newRow("a user's data.data.2 after the fill")
        << tEntries{{"data.data"}, {"data.data.2", eEntry_Text}} << QStringList{"data.data"}
        << QStringList{"data.data.2"};
    QTest::newRow("no fill") << tEntries{{"notes.txt"}} << QStringList{} << QStringList{};
}

void tst_Fill_Read::clean()
{
    QFETCH(tEntries, qvEntries);
    QFETCH(QStringList, qslRemoved);
    QFETCH(QStringList, qslKept);
    QTemporaryDir qDir;
    const QString qsVolume = qDir.path() + "/";
    quint64 qui64Bytes = 0;
    for (const cEntry &oEntry : qvEntries) {
        const QString qsPath = qsVolume + oEntry.qsName;
        if (oEntry.eKind == eEntry_Symlink) {
            QVERIFY(QFile::link(qsVolume + oEntry.qsOther, qsPath));
        } else if (oEntry.eKind == eEntry_Hard_Link) {
            QCOMPARE(link(QFile::encodeName(qsVolume + oEntry.qsOther).constData(), QFile::encodeName(qsPath).constData()),
                     0);
        } else if (oEntry.eKind == eEntry_Directory) {
            QVERIFY(QDir().mkdir(qsPath));
        } else {
            const bool bWords = oEntry.eKind == eEntry_File;
            QByteArray qbaWords = bWords ? QByteArray(32, '\0') : QByteArray("my own notes, not words");
            const quint64 qui64First = qui64P + 4 * qMax(0, iFill_Part_Of(oEntry.qsName) - 1);
            for (int i = 0; i < 4 && bWords; ++i)
                qToBigEndian<quint64>(qui64First + i, qbaWords.data() + 8 * i);
            QFile qFile(qsPath);
            QVERIFY(qFile.open(QIODevice::WriteOnly) && qFile.write(qbaWords) > 0);
            if (qslRemoved.contains(oEntry.qsName))
                qui64Bytes += quint64(qFile.size());
        }
    }
    QCOMPARE(qui64Fill_Bytes(qsVolume), qui64Bytes);
    cVolume oPolled;
    oPolled.vGet_Properties(qsVolume);
    const cClean_Result oResult = oClean(oPolled);
    QStringList qslExpected, qslKept_Names;
    for (const QString &qsName : qslRemoved)
        qslExpected << qsVolume + qsName;
    for (const QString &qsKept : oResult.qslKept)
        qslKept_Names << qsKept.section(": ", 0, 0).mid(qsVolume.size());
    QCOMPARE(oResult.qslRemoved, qslExpected);
    QCOMPARE(qslKept_Names, qslKept);
    QCOMPARE(oResult.qui64Bytes, qui64Bytes);
    for (const cEntry &oEntry : qvEntries)
        QCOMPARE(QFileInfo(qsVolume + oEntry.qsName).exists() || QFileInfo(qsVolume + oEntry.qsName).isSymLink(),
                 !qslRemoved.contains(oEntry.qsName));
    // A fill name that is someone else's is named, and the step fails so a script notices.
    QCOMPARE(oResult.bOk(), qslKept.isEmpty());
    QCOMPARE(qjClean(oResult)["removed"].toArray().size(), qslRemoved.size());
    QCOMPARE(qsClean_Summary(oResult, QString()).contains("Файлов заполнения на разделе нет."),
             qslRemoved.isEmpty() && qslKept.isEmpty());
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
    const cFill_Result oResult = oFill_Into(qDir.path(), qui64Bytes, qui64P);
    QCOMPARE(oResult.eStatus, eFill_Complete);
    QCOMPARE(oResult.qui64Words_Written, qui64Words);
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
    QCOMPARE(oFill_Into(oLoop.qsMount.chopped(1), qui64Words * 8, qui64P).eStatus, eFill_Complete);
    cDrive oDisk;
    QVERIFY(oDisk.bGet_Properties(oLoop.qsDevice));
    QCOMPARE(oRead_Of(oDisk, qui64P, qui64Words).qui64Distinct, qui64Words);
}

void tst_Fill_Read::recordCalls()
{
    // The records' own calls, made as a caller with nothing but the records makes them: the
    // fill writes the volume's words, the read scans, and only a failure is told, in the
    // window's box (this program links the window and installs nothing).
    void (cData::*pfWrite)(cVolume) = &cData::vWrite_Data;
    void (cDrive::*pfRead)(quint64, quint64) = &cDrive::vRead_Data;
    QTemporaryDir qDir;
    QDir::setCurrent(qDir.path());
    cData oFill;
    oFill.qui64Pattern = qui64P;
    cBox_Answerer oAnswerer;
    (oFill.*pfWrite)(oVolume_At(qDir.path(), 4099));
    quint64 qui64Found = 0;
    QVERIFY(bFill_Sequence(qDir.filePath("data.data"), qui64P, &qui64Found));
    QCOMPARE(qui64Found, quint64(512));
    cDrive oImage;
    oImage.vGet_Properties(qDir.filePath("data.data"));
    (oImage.*pfRead)(0xFFFFFFC000000000ULL, 12000000000ULL); // the table the window's read passes
    QCOMPARE(oAnswerer.qslMessages, QStringList());

    QVERIFY(QFile::remove(qDir.filePath("data.data")));
    (oFill.*pfWrite)(cVolume()); // before a poll: nothing is written into the working directory
    cDrive oMissing;
    oMissing.qsDrive_Name = "/nonexistent/disk";
    oMissing.qui64Bytes_Count = 4096;
    (oMissing.*pfRead)(qui64P, 100);
    QCOMPARE(oAnswerer.qslHeadings, QStringList({"Ошибка!", "Ошибка!"}));
    QCOMPARE(oAnswerer.qslMessages.size(), 2);
    QVERIFY2(oAnswerer.qslMessages[0].startsWith("Раздел не опрошен: сначала нажмите «1. Опрос». Файл заполнения не "
                                                 "создан."),
             qPrintable(oAnswerer.qslMessages[0]));
    QVERIFY2(oAnswerer.qslMessages[1].startsWith("Не удалось открыть носитель /nonexistent/disk для чтения: "),
             qPrintable(oAnswerer.qslMessages[1]));
    QVERIFY(!QFileInfo::exists(qDir.filePath("data.data")));
}

void tst_Fill_Read::fillRefused_data()
{
    QTest::addColumn<eIn_The_Way>("eWay");
    QTest::addColumn<QString>("qsReason");
    QTest::newRow("symbolic link") << eWay_Symlink << "это символическая ссылка, а не файл";
    QTest::newRow("hard link") << eWay_Hard_Link << "у файла есть другие жёсткие ссылки";
    QTest::newRow("FIFO, without hanging") << eWay_Fifo << "это не обычный файл";
    QTest::newRow("directory") << eWay_Directory << "это не обычный файл";
    QTest::newRow("missing volume") << eWay_No_Volume << "No such file or directory";
}

void tst_Fill_Read::fillRefused()
{
    QFETCH(eIn_The_Way, eWay);
    QFETCH(QString, qsReason);
    QTemporaryDir qDir;
    const QString qsFill = qDir.filePath("data.data");
    const QString qsVictim = qDir.filePath("victim");
    QFile qVictim(qsVictim);
    QVERIFY(qVictim.open(QIODevice::WriteOnly) && qVictim.write("precious") == 8);
    qVictim.close();
    const QByteArray qbaFill = qsFill.toLocal8Bit(), qbaVictim = qsVictim.toLocal8Bit();
    QString qsVolume = qDir.path();
    if (eWay == eWay_Symlink)
        QCOMPARE(symlink(qbaVictim.constData(), qbaFill.constData()), 0);
    else if (eWay == eWay_Hard_Link)
        QCOMPARE(link(qbaVictim.constData(), qbaFill.constData()), 0);
    else if (eWay == eWay_Fifo)
        QCOMPARE(mkfifo(qbaFill.constData(), 0644), 0);
    else if (eWay == eWay_Directory)
        QVERIFY(QDir().mkdir(qsFill));
    else
        qsVolume += "/absent";
    const cFill_Result oResult = oFill_Into(qsVolume, 1 << 20, qui64P);
    QCOMPARE(oResult.eStatus, eFill_Open_Failed);
    QCOMPARE(qsFill_Failure(oResult, "сначала опросите"),
             "Не удалось создать файл заполнения " + qsVolume + "/data.data: " + qsReason + ".");
    QCOMPARE(QFileInfo(qsVictim).size(), 8);
}

void tst_Fill_Read::fillCancel()
{
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(2048ULL * 1048576, 4096, "ext4"));
    cDrive oDisk;
    cVolume oPolled;
    cData oPattern;
    QVERIFY(oPoll(oDisk, oPolled, oPattern, oLoop.qsDevice, oLoop.qsMount).bOk());
    cTest_Operator oOperator;
    oOperator.qui64Cancel_At = 64 << 20;
    const cFill_Result oResult = oFill(oDisk, oPolled, oPattern, oOperator);
    QCOMPARE(oResult.eStatus, eFill_Cancelled);
    QCOMPARE(qsFill_Heading(oResult), QString("Заполнение прервано."));
    quint64 qui64Words = 0;
    QVERIFY(bFill_Sequence(oResult.qsPath, oPattern.qui64Pattern, &qui64Words));
    QCOMPARE(oResult.qui64Words_Written, qui64Words);
    QVERIFY(qui64Words > 0 && qui64Words * 8 < 1800ULL * 1048576);
}

void tst_Fill_Read::fillAsksFirst()
{
    // A volume not on the polled device (here tmpfs) is filled only after a yes.
    NEED_LOOP();
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(16 * 1048576));
    QVERIFY_MADE(oLoop.qsMount_Tmpfs("4m"));
    const QString qsVolume = oLoop.qsMount;
    for (const bool bYes : {false, true}) {
        cDrive oDisk;
        cVolume oPolled;
        cData oPattern;
        oPoll(oDisk, oPolled, oPattern, oLoop.qsDevice, qsVolume);
        cTest_Operator oOperator;
        oOperator.bAnswer = bYes;
        const cFill_Result oResult = oFill(oDisk, oPolled, oPattern, oOperator);
        QCOMPARE(oOperator.qslAsked.size(), 1);
        QVERIFY(oOperator.qslAsked.first().contains("файловая система tmpfs не лежит ни на каком носителе"));
        QCOMPARE(QFileInfo::exists(qsVolume + "data.data"), bYes);
        QCOMPARE(oResult.eStatus, bYes ? eFill_Complete : eFill_Refused); // tmpfs holds all the words of its size
    }
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
    const cRead_Result oResult = oRead_Of(oFailing, qui64P, qui64Words);
    QCOMPARE(oResult.eStatus, eRead_Done);
    QCOMPARE(oResult.qui64Bytes_Bad, qui64Bad_Length);
    QCOMPARE(oResult.qui64Bytes_Done, qui64Words * 8);
    QCOMPARE(qvFound_Indexes(oResult.vecRuns),
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
    QVERIFY_MADE(oOther.qsCreate(64 * 1048576)); // FAT32 of 512-byte clusters, as TSK reads it
    QCOMPARE(eVolume_On_Device(oLoop.qsMount, oLoop.qsDevice), eOn_Device_Yes);
    QCOMPARE(eVolume_On_Device(oLoop.qsMount, oLoop.qsImage), eOn_Device_Yes); // the image behind the loop device
    QString qsWhy;
    QCOMPARE(eVolume_On_Device(oLoop.qsMount, oOther.qsDevice, &qsWhy), eOn_Device_No);
    QCOMPARE(qsWhy, "раздел лежит на " + oLoop.qsDevice + ", а не на " + oOther.qsDevice);
    // A loop over "IMG " is not over the "IMG" beside it: the backing name keeps its blanks.
    cLoop_Device oBlank;
    const QString qsBlank = oBlank.qTemp.filePath("IMG "), qsDecoy = oBlank.qTemp.filePath("IMG");
    QVERIFY(QFile(qsBlank).open(QIODevice::WriteOnly) && QFile::resize(qsBlank, 16 << 20));
    QVERIFY(QFile(qsDecoy).open(QIODevice::WriteOnly) && QFile::resize(qsDecoy, 16 << 20));
    QVERIFY_MADE(oBlank.qsAttach(qsBlank));
    QVERIFY_MADE(oBlank.qsMake_Fs("ext4", {}, "defaults"));
    QCOMPARE(eVolume_On_Device(oBlank.qsMount, qsBlank), eOn_Device_Yes);
    QCOMPARE(eVolume_On_Device(oBlank.qsMount, qsDecoy), eOn_Device_No);
    QCOMPARE(eVolume_On_Device("/dev/shm/", oLoop.qsDevice, &qsWhy), eOn_Device_No); // tmpfs lies on no disk
    QCOMPARE(qsWhy, QString("файловая система tmpfs не лежит ни на каком носителе"));
    // A FUSE mount whose source names no device (fusefat): on the device its server reads.
    NEED_PROGRAMS("fusefat", "mkfs.vfat", "fsck.fat");
    int iExit = 0;
    qsRun("mkfs.vfat", {"-F", "32", oOther.qsDevice}, &iExit);
    QCOMPARE(iExit, 0);
    const QString qsFat = oOther.qTemp.filePath("fat");
    QDir().mkpath(qsFat);
    qsRun("fusefat", {"-o", "rw+", oOther.qsDevice, qsFat}, &iExit);
    QCOMPARE(iExit, 0);
    oOther.qsMount = qsFat; // unmounted with the fixture
    QVERIFY2(eVolume_On_Device(qsFat, oOther.qsDevice, &qsWhy) == eOn_Device_Yes, qPrintable(qsWhy));
    QCOMPARE(eVolume_On_Device(qsFat, oLoop.qsDevice, &qsWhy), eOn_Device_No);
    QCOMPARE(qsWhy, "раздел лежит на " + oOther.qsDevice + ", а не на " + oLoop.qsDevice);
    // Its clusters of 512 bytes make fusefat's statfs say 0 blocks: the poll takes the
    // volume's space from its FAT, as fsck.fat counts it, where it lies on the polled device.
    QFile qFile(qsFat + "/x"); // one cluster in use
    QVERIFY(qFile.open(QIODevice::WriteOnly) && qFile.write(QByteArray(100, 'x')) == 100);
    qFile.close();
    qsRun("umount", {qsFat});
    const QRegularExpressionMatch qMatch =
        QRegularExpression("(\\d+)/(\\d+) clusters").match(qsRun("fsck.fat", {"-n", oOther.qsDevice}));
    QVERIFY(qMatch.hasMatch());
    qsRun("fusefat", {"-o", "rw+", oOther.qsDevice, qsFat}, &iExit);
    QCOMPARE(iExit, 0);
    for (const QString &qsPolled : {oOther.qsDevice, oLoop.qsDevice}) {
        const cTool_Run oRun = oTool(qslBatch(qsPolled, qsFat, "poll"));
        const QJsonObject qjVolume = QJsonDocument::fromJson(oRun.qsOut.toUtf8()).object()["volume"].toObject();
        const bool bOn = qsPolled == oOther.qsDevice;
        QVERIFY2(oRun.iExit == (bOn ? 0 : 1), qPrintable(oRun.qsOut + oRun.qsErr));
        QCOMPARE(quint64(qjVolume["bytes_count"].toDouble()), bOn ? qMatch.captured(2).toULongLong() * 512 : 0);
        if (bOn)
            QCOMPARE(quint64(qjVolume["clusters_free_count"].toDouble()),
                     qMatch.captured(2).toULongLong() - qMatch.captured(1).toULongLong());
        if (!bOn)
            QVERIFY2(oRun.qsOut.contains("не удалось опросить раздел " + qsFat +
                                         "/: его файловая система сообщает 0 блоков"),
                     qPrintable(oRun.qsOut));
    }
    // One whose source is the device it reads (as ntfs-3g run by a user mounts): on that device.
    const QString qsNamed = oOther.qTemp.filePath("named");
    QDir().mkpath(qsNamed);
    qsRun("fusefat", {"-o", "ro,subtype=fusefat,fsname=" + oOther.qsDevice, oOther.qsDevice, qsNamed}, &iExit);
    QCOMPARE(iExit, 0);
    const auto qUnmount = qScopeGuard([&] { qsRun("umount", {qsNamed}); });
    const QString qsSource = qsRun("findmnt", {"-n", "-o", "SOURCE", qsNamed});
    QVERIFY2(qsSource == oOther.qsDevice, qPrintable(qsSource));
    QVERIFY2(eVolume_On_Device(qsNamed, oOther.qsDevice, &qsWhy) == eOn_Device_Yes, qPrintable(qsWhy));
    QVERIFY2(eVolume_On_Device(qsNamed, oLoop.qsDevice, &qsWhy) == eOn_Device_No, qPrintable(qsWhy));
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
    cDrive oDisk;
    cVolume oPolled;
    cData oPattern;
    cTest_Operator oOperator;
    QVERIFY(oPoll(oDisk, oPolled, oPattern, qui64Offset == 0 ? oLoop.qsDevice : oLoop.qsImage, oLoop.qsMount).bOk());
    const cFill_Result oFilled = oFill(oDisk, oPolled, oPattern, oOperator);
    QVERIFY(bFill_Ok(oFilled));
    const cRead_Result oResult = oRead(oDisk, oPolled, oPattern, oOperator);
    QVERIFY(bRead_Ok(oResult));
    const cVerdict &oVerdict = oResult.oVerdict;
    QVERIFY2(oVerdict.oLayout.bPlaced, qPrintable(oVerdict.oLayout.qsPlacement_Why));
    QCOMPARE(oVerdict.eValue, eVerdict_Intact);
    QCOMPARE(oVerdict.qui64In_Place, oFilled.qui64Words_Written);
    QVERIFY(oVerdict.qui64Words > 25 * 1048576);
}

QTEST_MAIN(tst_Fill_Read)
#include "tst_fill_read.moc"
