// The device map: what each region and index bucket shows, hover texts, and the window
// that keeps the result open.
#include "Functions_Core.h"
#include "Functions_Map.h"
#include "Functions_Map_Window.h"
#include "Functions_Report.h"
#include "Functions_Session.h"
#include "Functions_Verdict.h"
#include "mainwindow.h"
#include "support.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtEndian>
#include <QtTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_Map : public QObject
{
    Q_OBJECT

private slots:
    void regions_data();
    void regions();
    void strip();
    void hoverText();
    void window();
    void sessionUser_data();
    void sessionUser();
    void giveToUser_data();
    void giveToUser();
};

// A user other than root whose home directory exists, as pkexec or sudo would name them.
static bool bSome_User(uid_t *puiUser, QString *pqsHome)
{
    setpwent();
    while (const struct passwd *pstrEntry = getpwent())
        if (pstrEntry->pw_uid != 0 && QString(pstrEntry->pw_dir) != "/" && QDir(pstrEntry->pw_dir).exists()) {
            *puiUser = pstrEntry->pw_uid;
            *pqsHome = QFile::decodeName(pstrEntry->pw_dir);
            endpwent();
            return true;
        }
    endpwent();
    return false;
}

static const quint64 qui64P = 0xFFFFFFC000000000ULL;

// A 1 MiB image, 1024 regions of 1 KiB (128 words), read for real and compared with a fill
// of 13,184 words: 0 .. 13,055 belong at offset 0, 13,056 .. 13,183 at region 300.
// On the image: 0 .. 12,799 in place (regions 0-99), 12,800 .. 13,055 nowhere (regions
// 100-101 empty), 13,056 .. 13,183 in region 400 instead of 300, and 64 words of an older,
// longer fill in region 200.
static cRead_Result oCrafted_Read(const QTemporaryDir &qDir)
{
    QByteArray qbaImage(1 << 20, '\0');
    auto vPut = [&](quint64 qui64First, quint64 qui64Count, quint64 qui64Offset) {
        for (quint64 i = 0; i < qui64Count; ++i)
            qToBigEndian<quint64>(qui64P + qui64First + i, qbaImage.data() + qui64Offset + 8 * i);
    };
    vPut(0, 12800, 0);
    vPut(20000, 64, 200 * 1024);
    vPut(13056, 128, 400 * 1024);
    QFile qImage(qDir.filePath("crafted.img"));
    qImage.open(QIODevice::WriteOnly);
    qImage.write(qbaImage);
    qImage.close();
    cDrive oImage;
    oImage.vGet_Properties(qImage.fileName());
    cTest_Operator oOperator;
    cRead_Result oResult;
    oImage.vRead_Data(qui64P, 1 << 20, oOperator, oResult);
    cFill_Layout oLayout;
    oLayout.qvParts = {{qDir.filePath("data.data"), 0, 13184}};
    oLayout.bPlaced = true;
    oLayout.vecExpected = {{0, 13056, 0}, {13056, 128, 300 * 1024}};
    oLayout.eOn = eOn_Device_Yes;
    vJudge(oResult, oLayout);
    return oResult;
}

void tst_Map::regions_data()
{
    QTest::addColumn<int>("iRegion");
    QTest::addColumn<uint>("uShade");
    QTest::newRow("first") << 0 << uint(qrgbMap_In_Place);
    QTest::newRow("last in place") << 99 << uint(qrgbMap_In_Place);
    QTest::newRow("belongs here, found nowhere") << 101 << uint(qrgbMap_Missing);
    QTest::newRow("empty") << 102 << uint(qrgbMap_None);
    QTest::newRow("an older fill's words") << 200 << uint(qrgbMap_Stray);
    QTest::newRow("belongs here, lies in region 400") << 300 << uint(qrgbMap_Displaced);
    QTest::newRow("holds region 300's words") << 400 << uint(qrgbMap_Stray);
    QTest::newRow("unreadable bytes") << 500 << uint(qrgbMap_Bad);
    QTest::newRow("not reached") << 600 << uint(qrgbMap_Unread);
    QTest::newRow("last") << 1023 << uint(qrgbMap_None);
}

void tst_Map::regions()
{
    QFETCH(int, iRegion);
    QFETCH(uint, uShade);
    QTemporaryDir qDir;
    cRead_Result oResult = oCrafted_Read(qDir);
    QCOMPARE(QString(pcVerdict_Name(oResult.oVerdict.eValue)), QString("data_missing"));
    oResult.qvRegion_Bad[500] = 512; // as a failing disk would leave them
    oResult.qvRegion_Done[600] = 0;  // as an interrupted read would
    QCOMPARE(QString::number(qrgbMap_Region(oResult, iRegion), 16), QString::number(uShade, 16));
    const QImage qImage = qimgMap_Render(oResult);
    const QRect qrCell = qrMap_Cell(iRegion);
    QVERIFY(QRect(QPoint(0, 0), qImage.size()).contains(qrCell));
    QCOMPARE(QString::number(qImage.pixel(qrCell.center()), 16), QString::number(uShade, 16));
    QVERIFY(!qrCell.intersects(qrMap_Cell(iRegion + 1)));
}

void tst_Map::strip()
{
    // 13,184 indexes in 1,015 buckets of 13: each shows what became of its words.
    QTemporaryDir qDir;
    const cRead_Result oResult = oCrafted_Read(qDir);
    QCOMPARE(oResult.oVerdict.qui64Strip_Bucket, quint64(13));
    QCOMPARE(qrgbMap_Bucket(oResult, 0), qrgbMap_In_Place);
    QCOMPARE(qrgbMap_Bucket(oResult, 12800 / 13 - 1), qrgbMap_In_Place);
    QCOMPARE(qrgbMap_Bucket(oResult, 12800 / 13), qrgbStrip_Partly); // 12,792 .. 12,804
    QCOMPARE(qrgbMap_Bucket(oResult, 12900 / 13), qrgbMap_Missing);
    QCOMPARE(qrgbMap_Bucket(oResult, 13100 / 13), qrgbMap_Displaced);
    const QImage qImage = qimgMap_Render(oResult);
    const QRect qrStrip = qrMap_Strip(oResult);
    auto qrgbColumn = [&](int iIndex) {
        return qImage.pixel(qrStrip.left() + int(qint64(iIndex) * qrStrip.width() / 13184), qrStrip.center().y());
    };
    QCOMPARE(qrgbColumn(100), qrgbMap_In_Place);
    QCOMPARE(qrgbColumn(12950), qrgbMap_Missing);
}

void tst_Map::hoverText()
{
    QTemporaryDir qDir;
    const cRead_Result oResult = oCrafted_Read(qDir);
    QString qsTip = qsMap_Tip(oResult, qrMap_Cell(300).center());
    qsTip.replace(QChar(0x00A0), ' ');
    QVERIFY2(qsTip.startsWith("Регион 300: байты 307 200 … 308 223\nСлов заполнения: 0 из 128\n"
                              "Слова файла здесь: на месте 0, лежат в другом месте 128, не найдены 0"),
             qPrintable(qsTip));
    QVERIFY(qsMap_Tip(oResult, QPoint(1, 1)).isEmpty());
}

void tst_Map::window()
{
    // The read's summary offers the map; its window fits a 1366 x 768 screen, keeps the
    // summary beside the picture, and saves the report with batch mode's JSON.
    QTemporaryDir qDir;
    MainWindow oWindow(nullptr, qDir.filePath("crafted.img"), qDir.path() + "/");
    oCrafted_Read(qDir);
    cTest_Operator oOperator;
    cDrive oImage;
    QVERIFY(oImage.bGet_Properties(qDir.filePath("crafted.img")));
    cVolume oBeside;
    oBeside.vGet_Properties(qDir.path() + "/");
    cData oPattern;
    oPattern.vGet_Properties(oBeside.qui64Clusters_Count, oBeside.iCluster_Size);
    const cRead_Result oExpected = oRead(oImage, oBeside, oPattern, oOperator);
    cBox_Answerer oAnswerer([](QMessageBox *qBox) {
        for (QAbstractButton *qButton : qBox->buttons())
            if (qButton->text() == "Карта")
                return qButton->click();
        (qBox->button(QMessageBox::No) ? qBox->button(QMessageBox::No) : qBox->buttons().first())->click();
    });
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Read"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslHeadings,
             (QStringList{"Провести быструю пробу носителя сейчас?", "Чтение завершено: слов заполнения нет."}));
    cMap_Window *qMap = oWindow.findChild<cMap_Window *>();
    QVERIFY(qMap && qMap->isVisible());
    QVERIFY2(qMap->width() <= 1366 && qMap->height() <= 768,
             qPrintable(QString("%1 x %2").arg(qMap->width()).arg(qMap->height())));
    QVERIFY(qMap->windowTitle().startsWith("Носитель " + qDir.filePath("crafted.img") +
                                           " — слов заполнения нет — чтение "));
    QVERIFY(qMap->testAttribute(Qt::WA_AlwaysShowToolTips));
    const QString qsSummary = qMap->findChild<QPlainTextEdit *>("plainTextEdit_Summary")->toPlainText();
    const QString qsExpected = qsRead_Summary(oExpected).replace(QChar(0x00A0), ' ');
    for (const QString &qsLine : {qsExpected.section('\n', 0, 0), qsExpected.section('\n', 2, 2)})
        QVERIFY2(qsSummary.contains(qsLine), qPrintable(qsLine)); // the verdict and the device

    // The report is saved through Qt's file dialog, in Russian like the rest; never onto the
    // volume (here the temporary directory's file system). Started through pkexec, the dialog
    // opens in the user's home and the file becomes theirs.
    vInstall_Translations(*qApp);
    QTemporaryDir qElsewhere("/dev/shm/tst_map-XXXXXX");
    QVERIFY(qElsewhere.isValid());
    const QString qsReport = qElsewhere.filePath("report.txt");
    QString qsSave_Label, qsStart_Directory;
    auto vSave = [&](const QString &qsPath, const char *pcButton) {
        QTimer::singleShot(300, [&] {
            auto *qDialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!qDialog)
                return;
            if (qsSave_Label.isEmpty()) // the first one; later ones mark a shortcut
                qsSave_Label = qDialog->labelText(QFileDialog::Accept);
            qsStart_Directory = qDialog->directory().absolutePath();
            qDialog->selectFile(qsPath);
            QMetaObject::invokeMethod(qDialog, "accept");
        });
        qMap->findChild<QPushButton *>(pcButton)->click();
    };
    vSave(qDir.filePath("map.png"), "pushButton_Save");
    vSave(qDir.filePath("report.txt"), "pushButton_Save_Report");
    QTRY_COMPARE(oAnswerer.qslMessages.size(), 4); // the probe declined, the read, then the two refusals
    QVERIFY2(oAnswerer.qslMessages[2].contains("map.png: файл лёг бы на проверяемый раздел"),
             qPrintable(oAnswerer.qslMessages[2]));
    QVERIFY2(oAnswerer.qslMessages[3].contains("report.txt: файл лёг бы на проверяемый раздел"),
             qPrintable(oAnswerer.qslMessages[3]));
    QVERIFY(!QFileInfo::exists(qDir.filePath("map.png")) && !QFileInfo::exists(qDir.filePath("report.txt")));
    uid_t uiUser = 0;
    QString qsHome;
    const bool bUser = bSome_User(&uiUser, &qsHome);
    if (bUser)
        qputenv("PKEXEC_UID", QByteArray::number(uiUser));
    vSave(qsReport, "pushButton_Save_Report");
    qunsetenv("PKEXEC_UID");
    QCOMPARE(qsSave_Label, QString("Сохранить"));
    if (bUser) {
        QCOMPARE(qsStart_Directory, QDir(qsHome).absolutePath());
        struct stat strReport;
        QCOMPARE(stat(QFile::encodeName(qsReport).constData(), &strReport), 0);
        if (geteuid() == 0)
            QCOMPARE(strReport.st_uid, uiUser);
    }
    QFile qFile(qsReport);
    QVERIFY(qFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> qlReport = qFile.readAll().trimmed().split('\n');
    QCOMPARE(QJsonDocument::fromJson(qlReport.last()).object()["verdict"].toString(), QString("clean"));
    QCOMPARE(QString::fromUtf8(qlReport.first()), QString("Чтение завершено: слов заполнения нет."));
}

void tst_Map::sessionUser_data()
{
    QTest::addColumn<QByteArray>("qbaPkexec");
    QTest::addColumn<QByteArray>("qbaSudo");
    QTest::addColumn<int>("iUser"); // -1: no user of the session
    QTest::newRow("pkexec") << QByteArray("65534") << QByteArray() << 65534;
    QTest::newRow("sudo") << QByteArray() << QByteArray("65534") << 65534;
    QTest::newRow("pkexec before sudo") << QByteArray("65534") << QByteArray("1") << 65534;
    QTest::newRow("neither") << QByteArray() << QByteArray() << -1;
    QTest::newRow("root itself") << QByteArray("0") << QByteArray() << -1;
    QTest::newRow("a sign") << QByteArray("+65534") << QByteArray() << -1;
    QTest::newRow("a blank") << QByteArray(" 65534") << QByteArray() << -1;
    QTest::newRow("trailing letters") << QByteArray() << QByteArray("65534x") << -1;
    QTest::newRow("no such user") << QByteArray("3999999999") << QByteArray() << -1;
}

void tst_Map::sessionUser()
{
    QFETCH(QByteArray, qbaPkexec);
    QFETCH(QByteArray, qbaSudo);
    QFETCH(int, iUser);
    const struct passwd *pstrNobody = getpwuid(65534);
    if (iUser == 65534 && !pstrNobody)
        QSKIP("no user 65534 (nobody) on this system");
    qputenv("PKEXEC_UID", qbaPkexec);
    qputenv("SUDO_UID", qbaSudo);
    uid_t uiUser = 0;
    gid_t uiGroup = 0;
    QString qsHome;
    const bool bFound = bUser_Of_Session(&uiUser, &uiGroup, &qsHome);
    qunsetenv("PKEXEC_UID");
    qunsetenv("SUDO_UID");
    QCOMPARE(bFound, iUser >= 0);
    if (!bFound)
        return;
    QCOMPARE(int(uiUser), iUser);
    QCOMPARE(uiGroup, pstrNobody->pw_gid);
    QCOMPARE(qsHome, QString(pstrNobody->pw_dir));
}

void tst_Map::giveToUser_data()
{
    QTest::addColumn<bool>("bLink"); // a link planted where the file was saved, to a file of root's
    QTest::newRow("the file saved") << false;
    QTest::newRow("a link planted after the save") << true;
}

void tst_Map::giveToUser()
{
    // Root saves for the user behind sudo and gives the file away: only the file saved,
    // never what a link planted in its place leads to (say /etc/shadow).
    QFETCH(bool, bLink);
    const struct passwd *pstrNobody = getpwuid(65534);
    if (geteuid() != 0 || !pstrNobody)
        QSKIP("only root gives a file away, here to user 65534 (nobody)");
    QTemporaryDir qDir;
    const QString qsSaved = qDir.filePath("map.png"), qsRoots = qDir.filePath("roots");
    QVERIFY(QFile(qsRoots).open(QIODevice::WriteOnly));
    QVERIFY(bLink ? QFile::link(qsRoots, qsSaved) : QFile(qsSaved).open(QIODevice::WriteOnly));
    qputenv("SUDO_UID", "65534");
    QString qsError;
    const bool bGiven = bGive_To_User(qsSaved, &qsError);
    qunsetenv("SUDO_UID");
    QCOMPARE(bGiven, !bLink);
    struct stat strRoots, strSaved;
    QVERIFY(stat(QFile::encodeName(qsRoots).constData(), &strRoots) == 0);
    QCOMPARE(strRoots.st_uid, uid_t(0));
    QVERIFY(lstat(QFile::encodeName(qsSaved).constData(), &strSaved) == 0);
    QCOMPARE(strSaved.st_uid, bLink ? uid_t(0) : pstrNobody->pw_uid);
}

QTEST_MAIN(tst_Map)
#include "tst_map.moc"
