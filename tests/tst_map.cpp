// The device map: shades where the words lie, the index strip's gaps, hover texts, and the way in.
#include "Functions_Map.h"
#include "Functions_Verdict.h"
#include "mainwindow.h"
#include "support.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QtEndian>
#include <QtTest>

class tst_Map : public QObject
{
    Q_OBJECT

private slots:
    void regions_data();
    void regions();
    void stripGap();
    void hoverText();
    void fromSummaryBox();
};

static const quint64 qui64P = 0xFFFFFFC000000000ULL;

// A 1 MiB image, 1024 regions of 1 KiB (128 words): regions 0-99 all fill words, region 200
// half of them, the rest zeros. Read back, so the map comes from a real scan.
static cRead_Result oScan_Crafted(const QTemporaryDir &qDir)
{
    QByteArray qbaImage(1 << 20, '\0');
    for (quint64 i = 0; i < 100 * 128; ++i)
        qToBigEndian<quint64>(qui64P + i, qbaImage.data() + 8 * i);
    for (quint64 i = 0; i < 64; ++i)
        qToBigEndian<quint64>(qui64P + 20000 + i, qbaImage.data() + 200 * 1024 + 8 * i);
    QFile qImage(qDir.filePath("crafted.img"));
    qImage.open(QIODevice::WriteOnly);
    qImage.write(qbaImage);
    qImage.close();
    cDrive oDrive_Image;
    oDrive_Image.vGet_Properties(qImage.fileName());
    oDrive_Image.vRead_Data(qui64P, 1 << 20);
    return std::move(oDrive_Image.oRead_Result);
}

static QRgb qrgbAt(const QImage &qImage, const QPoint &qpAt)
{
    return qImage.pixel(qpAt) | 0xff000000;
}

void tst_Map::regions_data()
{
    QTest::addColumn<int>("iRegion");
    QTest::addColumn<uint>("uShade");
    QTest::newRow("first") << 0 << uint(qrgbMap_All);
    QTest::newRow("inside the filled run") << 50 << uint(qrgbMap_All);
    QTest::newRow("last filled") << 99 << uint(qrgbMap_All);
    QTest::newRow("first empty") << 100 << uint(qrgbMap_None);
    QTest::newRow("half filled") << 200 << uint(qrgbMap_Some);
    QTest::newRow("empty") << 500 << uint(qrgbMap_None);
    QTest::newRow("last") << 1023 << uint(qrgbMap_None);
    QTest::newRow("unreadable bytes") << 300 << uint(qrgbMap_Bad);
    QTest::newRow("not reached") << 400 << uint(qrgbMap_Unread);
}

void tst_Map::regions()
{
    QFETCH(int, iRegion);
    QFETCH(uint, uShade);
    QTemporaryDir qDir;
    const cRead_Result oResult = oScan_Crafted(qDir);
    QCOMPARE(oResult.qvRegion_Hits.size(), 1024);
    cMap_Data oMap(oResult);
    oMap.qvRegion_Bad[300] = 512; // as a failing disk would leave them
    oMap.qvRegion_Done[400] = 0;  // as an interrupted read would
    const QImage qImage = qimgMap_Render(oMap);
    const QRect qrCell = qrMap_Cell(oMap, iRegion);
    QVERIFY(QRect(QPoint(0, 0), qImage.size()).contains(qrCell));
    QCOMPARE(QString::number(qrgbAt(qImage, qrCell.center()), 16), QString::number(uShade, 16));
    // Neighbouring cells are apart: the next one is somewhere else.
    QVERIFY(!qrCell.intersects(qrMap_Cell(oMap, iRegion + 1)));
}

void tst_Map::stripGap()
{
    // 65,536 fill words with indexes 16,416 .. 32,767 missing; the fill file holds all of them.
    QTemporaryDir qDir;
    const quint64 qui64Words = 65536, qui64Gap_First = 16416, qui64Gap_End = 32768;
    QByteArray qbaImage(int(qui64Words * 8), '\0');
    for (quint64 i = 0; i < qui64Words; ++i)
        if (i < qui64Gap_First || i >= qui64Gap_End)
            qToBigEndian<quint64>(qui64P + i, qbaImage.data() + 8 * i);
    QFile qImage(qDir.filePath("gap.img"));
    QVERIFY(qImage.open(QIODevice::WriteOnly) && qImage.write(qbaImage) == qbaImage.size());
    qImage.close();
    QVERIFY(QFile::copy(qImage.fileName(), qDir.filePath("data.data")));
    cDrive oDrive_Image;
    oDrive_Image.vGet_Properties(qImage.fileName());
    oDrive_Image.vRead_Data(qui64P, 1ULL << 30);
    vCompare_With_Volume(oDrive_Image.oRead_Result, qDir.path() + "/");
    const cRead_Result &oResult = oDrive_Image.oRead_Result;
    QCOMPARE(oResult.qui64Fill_Words, qui64Words);
    QCOMPARE(oResult.qui64Fill_Found, qui64Words - (qui64Gap_End - qui64Gap_First));
    QCOMPARE(oResult.qvMissing, (QVector<QPair<quint64, quint64>>{{qui64Gap_First, qui64Gap_End - 1}}));
    QVERIFY(!oResult.oTable.bAllocated()); // summarised, then released

    // 1024 pixel columns over 65,536 indexes: 64 indexes a column.
    const cMap_Data oMap(oResult);
    const QImage qImage_Map = qimgMap_Render(oMap);
    const QRect qrStrip = qrMap_Strip(oMap);
    QCOMPARE(qrStrip.width(), 1024);
    auto qrgbColumn = [&](int iColumn) { return qrgbAt(qImage_Map, QPoint(qrStrip.left() + iColumn, qrStrip.center().y())); };
    for (const int iColumn : {0, 100, 255, 512, 700, 1023})
        QCOMPARE(qrgbColumn(iColumn), qrgbStrip_Found);
    QCOMPARE(qrgbColumn(256), qrgbStrip_Partly); // 16,384 .. 16,447: half found
    for (const int iColumn : {257, 300, 511})
        QCOMPARE(qrgbColumn(iColumn), qrgbStrip_Missing);
}

void tst_Map::hoverText()
{
    QTemporaryDir qDir;
    const cMap_Data oMap(oScan_Crafted(qDir));
    const QString qsTip = qsMap_Tip(oMap, qrMap_Cell(oMap, 5).center());
    QVERIFY2(qsTip.startsWith("Регион 5: байты 5120 … 6143\nСлов заполнения: 128 из 128"), qPrintable(qsTip));
    QVERIFY(qsMap_Tip(oMap, QPoint(1, 1)).isEmpty());
}

void tst_Map::fromSummaryBox()
{
    // The read's summary offers the map through its extra button.
    QTemporaryDir qDir;
    const cMap_Data oExpected(oScan_Crafted(qDir));
    MainWindow oWindow(nullptr, qDir.filePath("crafted.img"), qDir.path() + "/");
    cBox_Answerer oAnswerer([](QMessageBox *qBox) {
        for (QAbstractButton *qButton : qBox->buttons())
            if (qButton->text() == "Карта")
                return qButton->click();
        qBox->buttons().first()->click();
    });
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Read"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslHeadings, QStringList{"Чтение завершено."});
    cMap_Window *qMap = oWindow.findChild<cMap_Window *>();
    QVERIFY(qMap && qMap->isVisible());
    QCOMPARE(qMap->qimgPicture().size(), qimgMap_Render(cMap_Data(oDrive.oRead_Result)).size());
    QVERIFY(qMap->windowTitle().endsWith("crafted.img"));
}

QTEST_MAIN(tst_Map)
#include "tst_map.moc"
