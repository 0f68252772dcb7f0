// The window's wiring: each button reaches its own slot, batch mode prints the poll's values
// under the window's own captions, and the window fits the screen it is shown on.
#include "Functions_Core.h"
#include "Functions_Steps.h"
#include "Functions_Text.h"
#include "mainwindow.h"
#include "support.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QtEndian>
#include <QtTest>

#include <csignal>

class tst_Form : public QObject
{
    Q_OBJECT

private slots:
    void slotsByName_data();
    void slotsByName();
    void batchCaptions();
    void thisScreen();
    void screens_data();
    void screens();
    void check_data();
    void check();
    void removeFill_data();
    void removeFill();
    void closeDuringStep_data();
    void closeDuringStep();
    void signalCloses_data();
    void signalCloses();
};

void tst_Form::slotsByName_data()
{
    QTest::addColumn<QString>("qsButton");
    QTest::addColumn<QByteArray>("qbaSlot");
    QTest::newRow("poll") << "pushButton_Properties" << QByteArray(SLOT(on_pushButton_Properties_clicked()));
    QTest::newRow("fill") << "pushButton_Write" << QByteArray(SLOT(on_pushButton_Write_clicked()));
    QTest::newRow("read") << "pushButton_Read" << QByteArray(SLOT(on_pushButton_Read_clicked()));
}

void tst_Form::slotsByName()
{
    QFETCH(QString, qsButton);
    QFETCH(QByteArray, qbaSlot);
    MainWindow oWindow;
    auto *qButton = oWindow.findChild<QPushButton *>(qsButton);
    QVERIFY(qButton);
    // disconnect() succeeds only for a connection that exists, exactly once.
    QVERIFY(QObject::disconnect(qButton, SIGNAL(clicked()), &oWindow, qbaSlot.constData()));
    QVERIFY(!QObject::disconnect(qButton, SIGNAL(clicked()), &oWindow, qbaSlot.constData()));
}

void tst_Form::batchCaptions()
{
    // Batch mode prints the values under the window's own captions.
    const QStringList qslNames = {"label_Drive_Name",
                                  "label_Drive_Sector_Size",
                                  "label_Drive_Sectors_Count",
                                  "label_Drive_Bytes_Count",
                                  "label_Volume_Name",
                                  "label_Volume_Cluster_Size",
                                  "label_Volume_Clusters_Count",
                                  "label_Volume_Bytes_Count",
                                  "label_Volume_Clusters_Free_Count",
                                  "label_Volume_Bytes_Free_Count",
                                  "label_Data_Pattern",
                                  "label_Data_Pattern_Text"};
    MainWindow oWindow;
    QStringList qslForm;
    for (const QString &qsName : qslNames)
        qslForm << oWindow.findChild<QLabel *>(qsName)->text();
    QCOMPARE(qslPoll_Captions(), qslForm);
}

void tst_Form::thisScreen()
{
    // On the screen this runs on (offscreen: 800 x 600; under Xvfb: whatever it was given): the
    // buttons and the panel in view as the window opens, the sections' whole width too.
    MainWindow oWindow;
    oWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&oWindow));
    const QRect qrAvailable = oWindow.screen()->availableGeometry();
    auto *qScroll = oWindow.findChild<QScrollArea *>("scrollArea_Form");
    auto *qForm = oWindow.findChild<QWidget *>("centralwidget");
    QCOMPARE(qForm->size(), QSize(801, iForm_Sections_Height));
    QVERIFY2(qrAvailable.contains(oWindow.frameGeometry()),
             qPrintable(QString("window %1 x %2 at %3, %4 on a screen of %5 x %6")
                            .arg(oWindow.frameGeometry().width())
                            .arg(oWindow.frameGeometry().height())
                            .arg(oWindow.frameGeometry().x())
                            .arg(oWindow.frameGeometry().y())
                            .arg(qrAvailable.width())
                            .arg(qrAvailable.height())));
    QCOMPARE(qScroll == nullptr, qrAvailable.height() >= 1100 && qrAvailable.width() >= 811);
    if (qScroll) {
        QCOMPARE(qScroll->verticalScrollBar()->value(), 0);
        QVERIFY(qScroll->viewport()->width() >= 801 || qrAvailable.width() < 811);
        QCOMPARE(qScroll->horizontalScrollBar()->isVisible(), qrAvailable.width() < 811);
    }
    for (const char *pcWidget : {"pushButton_Properties", "pushButton_Write", "pushButton_Read", "widget_Check"}) {
        auto *qWidget = oWindow.findChild<QWidget *>(pcWidget);
        QVERIFY2(qWidget->isVisible() && !qForm->isAncestorOf(qWidget), pcWidget);
        QVERIFY2(oWindow.rect().contains(QRect(qWidget->mapTo(&oWindow, QPoint(0, 0)), qWidget->size())), pcWidget);
    }
    QStringList qslButtons; // left to right as the form has them
    for (QPushButton *qButton : oWindow.findChild<QWidget *>("widget_Buttons")->findChildren<QPushButton *>())
        qslButtons << QString::number(qButton->x()) + " " + qButton->text();
    qslButtons.sort();
    QCOMPARE(qslButtons.size(), 3);
    QVERIFY(qslButtons[0].endsWith("1. Опрос") && qslButtons[2].endsWith("3. Чтение"));
}

void tst_Form::screens_data()
{
    QTest::addColumn<QString>("qsScreen");
    QTest::newRow("laptop, 1366 x 768: scrolled") << "1366x768x24";
    QTest::newRow("1920 x 1200: the form as it is") << "1920x1200x24";
    QTest::newRow("800 x 600: narrower than the form") << "800x600x24";
}

void tst_Form::screens()
{
    // thisScreen once more, in a process of its own on a real X server of that size.
    NEED_PROGRAMS("Xvfb");
    if (QLibraryInfo::location(QLibraryInfo::PluginsPath).isEmpty() ||
        !QFile::exists(QLibraryInfo::location(QLibraryInfo::PluginsPath) + "/platforms/libqxcb.so"))
        QSKIP("Qt's xcb platform plugin is not installed");
    QFETCH(QString, qsScreen);
    QProcess qServer;
    qServer.start("Xvfb", {"-displayfd", "1", "-screen", "0", qsScreen, "-nolisten", "tcp"});
    QVERIFY(qServer.waitForStarted());
    QByteArray qbaDisplay;
    for (int iTry = 0; iTry < 100 && !qbaDisplay.contains('\n'); ++iTry) {
        qServer.waitForReadyRead(100);
        qbaDisplay += qServer.readAllStandardOutput();
    }
    QVERIFY2(qbaDisplay.contains('\n'), "Xvfb did not say which display it took");
    QProcess qChild;
    QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
    qEnvironment.insert("DISPLAY", ":" + QString::fromLatin1(qbaDisplay.trimmed()));
    qEnvironment.insert("QT_QPA_PLATFORM", "xcb");
    qChild.setProcessEnvironment(qEnvironment);
    qChild.start(QCoreApplication::applicationFilePath(), {"thisScreen"});
    const bool bFinished = qChild.waitForFinished(60000);
    const QString qsOutput = QString::fromUtf8(qChild.readAllStandardOutput() + qChild.readAllStandardError());
    qServer.terminate();
    qServer.waitForFinished(5000);
    QVERIFY2(bFinished && qChild.exitCode() == 0 && qsOutput.contains("PASS   : tst_Form::thisScreen()"),
             qPrintable(qsOutput));
}

void tst_Form::check_data()
{
    // The medium: an exFAT stick (through FUSE: no probe), an ext4 stick, or an emulated fake;
    // the answers: to fill, on the verdict (the map or not), to remove the fill.
    QTest::addColumn<QString>("qsMedium");
    QTest::addColumn<bool>("bFill");
    QTest::addColumn<bool>("bMap");
    QTest::addColumn<bool>("bRemove");
    QTest::addColumn<QStringList>("qslHeadings");
    QTest::addColumn<QString>("qsProbe"); // the probe's line in the panel
    QTest::addColumn<QString>("qsPanel"); // the panel's end
    const QString qsAsk = "Заполнить свободное место раздела %1?";
    // exFAT through FUSE gives the probe no place: the question to fill says so, no box of its own.
    const QString qsNo_Probe_Line = "не выполнена: проверит заполнение.";
    const QString qsNot_Filled = "2. Заполнение: не начато: вы отказались.\n3. Чтение: —\nУдаление заполнения: —";
    QTest::newRow("exfat: no probe, no fill")
        << "exfat" << false << false << false << QStringList{qsAsk} << qsNo_Probe_Line << qsNot_Filled;
    QTest::newRow("exfat: all yes, no map")
        << "exfat" << true << false << true
        << QStringList{qsAsk, "Заполнение завершено.", "Чтение завершено: данные целы.",
                       "Удалить файл заполнения (%2) с носителя?", "Файлы заполнения удалены."}
        << qsNo_Probe_Line << "3. Чтение: данные целы.\nУдаление заполнения: файлы заполнения удалены.";
    QTest::newRow("exfat: map, then keep the fill")
        << "exfat" << true << true << false
        << QStringList{qsAsk, "Заполнение завершено.", "Чтение завершено: данные целы.",
                       "Удалить файл заполнения (%2) с носителя?"}
        << qsNo_Probe_Line << "3. Чтение: данные целы.\nУдаление заполнения: файл заполнения оставлен на носителе.";
    QTest::newRow("ext4, 64 MiB: too little room to probe, the fill asked")
        << "ext4, 64 MiB" << false << false << false << QStringList{"Проба не выполнена.", qsAsk} << "не выполнена."
        << qsNot_Filled;
    QTest::newRow("ext4: healthy, the fill asked as without a probe")
        << "ext4" << false << false << false << QStringList{"Проба завершена: данные целы.", qsAsk} << "данные целы."
        << qsNot_Filled;
    QTest::newRow("fake keeping 192 of 512 MiB: stop after the probe")
        << "fake" << false << false << false
        << QStringList{"Проба завершена: поддельная ёмкость.", "Проба нашла подделку. Заполнить раздел %1 всё равно?"}
        << "поддельная ёмкость."
        << "2. Заполнение: не начато: проба нашла подделку.\n3. Чтение: —\nУдаление заполнения: —";
}

// The volume of the check: a stick of 128 MiB (or as qsMedium says) with qsMedium's file
// system on it, or a fake of 512 MiB that keeps 192 (ext4 on the whole device).
static QString qsMake_Check_Medium(const QString &qsMedium, cEmulated_Medium &oMedium)
{
    if (qsMedium != "fake")
        return oMedium.oLoop.qsCreate_Stick(qsMedium.endsWith("64 MiB") ? 64ULL << 20 : 128ULL << 20,
                                            qsMedium.section(',', 0, 0));
    return oMedium.qsStart({"size=512M", "keep=192M", "mode=limit"}, "ext4", false);
}

void tst_Form::check()
{
    // «Проверить» of the chooser: the steps one after another, the probe's verdict after the
    // poll, a question before the fill (after a fake: whether to fill at all) and after the
    // read (once the map is closed), each step's result in the window's panel.
    NEED_LOOP();
    QFETCH(QString, qsMedium);
    QFETCH(bool, bFill);
    QFETCH(bool, bMap);
    QFETCH(bool, bRemove);
    QFETCH(QStringList, qslHeadings);
    QFETCH(QString, qsProbe);
    QFETCH(QString, qsPanel);
    if (qsMedium == "fake") {
        if (!cEmulated_Medium::qsSkip_Reason().isEmpty())
            QSKIP(qPrintable(cEmulated_Medium::qsSkip_Reason()));
        NEED_PROGRAMS("nbdkit", "nbdfuse", "fusermount3", "mkfs.ext4");
    }
    vForget_Records();
    cEmulated_Medium oMedium;
    QVERIFY_MADE(qsMake_Check_Medium(qsMedium, oMedium));
    const cLoop_Device &oLoop = oMedium.oLoop;
    bool bMap_Open_At_Removal = false;
    int iMaps = 0;
    cBox_Answerer oAnswerer([&](QMessageBox *qBox) {
        QPushButton *qMap = nullptr;
        for (QAbstractButton *qButton : qBox->buttons())
            if (qButton->text() == "Карта")
                qMap = static_cast<QPushButton *>(qButton);
        if (qBox->text().startsWith("Заполнить") || qBox->text().startsWith("Проба нашла подделку"))
            return qBox->button(bFill ? QMessageBox::Yes : QMessageBox::No)->click();
        if (qBox->text().startsWith("Удалить")) {
            for (QWidget *qTop : QApplication::topLevelWidgets())
                bMap_Open_At_Removal = bMap_Open_At_Removal || (qTop->inherits("cMap_Window") && qTop->isVisible());
            return qBox->button(bRemove ? QMessageBox::Yes : QMessageBox::No)->click();
        }
        if (qMap && bMap)
            return qMap->click();
        qBox->button(QMessageBox::Ok)->click();
    });
    QTimer qMap_Closer; // the user looks at the map, then closes it
    QObject::connect(&qMap_Closer, &QTimer::timeout, [&] {
        for (QWidget *qTop : QApplication::topLevelWidgets())
            if (qTop->inherits("cMap_Window") && qTop->isVisible()) {
                ++iMaps;
                qTop->close();
            }
    });
    qMap_Closer.start(300);
    MainWindow oWindow(nullptr, oLoop.qsDevice, oLoop.qsMount);
    oWindow.show();
    oWindow.vRun_Check();
    QVERIFY(bWait_For([&] { return oAnswerer.qslHeadings.size() >= qslHeadings.size(); }, 20000)); // the map's close
    // The fill takes all the space the poll found free.
    for (QString &qsHeading : qslHeadings)
        qsHeading = qsHeading.replace("%1", oLoop.qsMount).replace("%2", qsSize_Text(oVolume.qui64Bytes_Free_Count));
    if (bFill && !bRemove)
        QCOMPARE(quint64(QFileInfo(oLoop.qsMount + "data.data").size()), oVolume.qui64Bytes_Free_Count);
    QVERIFY2(oAnswerer.qslHeadings == qslHeadings,
             qPrintable(oAnswerer.qslHeadings.join('|') + "\n" + oAnswerer.qslMessages.join('|')));
    int iAsk = -1; // the question to fill, where it came
    for (int i = 0; i < oAnswerer.qslHeadings.size() && iAsk < 0; ++i)
        iAsk = oAnswerer.qslHeadings[i].startsWith("Заполнить свободное место") ? i : -1;
    QVERIFY(iAsk < 0 || oAnswerer.qslMessages.value(iAsk).contains("займёт всё свободное место раздела"));
    const bool bSays_No_Probe = iAsk >= 0 && oAnswerer.qslMessages.value(iAsk).startsWith(
                                                 "Файловая система раздела " + oLoop.qsMount + " выделяет место");
    QVERIFY2(bSays_No_Probe == (qsMedium == "exfat"), qPrintable(oAnswerer.qslMessages.value(iAsk)));
    QVERIFY(!QFileInfo::exists(oLoop.qsMount + "probe.data"));
    if (qsMedium == "fake") // where the fake stops keeping, and that all under the probe went back
        QVERIFY2(oAnswerer.qslMessages.value(0).contains("только до смещения ~192,0 МиБ из 512,0 МиБ") &&
                     oAnswerer.qslMessages.value(0).contains("возвращено на место") &&
                     oAnswerer.qslMessages.value(1).startsWith("Носитель хранит данные только до смещения ~192,0 МиБ."),
                 qPrintable(oAnswerer.qslMessages.join('\n')));
    QCOMPARE(iMaps, bMap ? 1 : 0);
    QVERIFY(!bMap_Open_At_Removal);
    QCOMPARE(QFileInfo::exists(oLoop.qsMount + "data.data"), bFill && !bRemove);
    const QString qsSteps = oWindow.findChild<QLabel *>("label_Check_Steps")->text();
    const QString qsPoll = qsMedium == "fake"            ? "носитель 512,0 МиБ, раздел 51"
                           : qsMedium.endsWith("64 MiB") ? "носитель 64,0 МиБ, раздел "
                           : qsMedium == "exfat" ? "носитель 128,0 МиБ, раздел 127,0 МиБ, свободно "
                                                 : "носитель 128,0 МиБ, раздел ";
    QVERIFY2(qsSteps.startsWith("1. Опрос: " + qsPoll) &&
                 qsSteps.contains("\nПроба: " + qsProbe + "\n2. Заполнение: ") && qsSteps.endsWith(qsPanel),
             qPrintable(qsSteps));
}

void tst_Form::removeFill_data()
{
    QTest::addColumn<int>("iAnswer"); // the button pressed on the question; 0: the box is closed
    QTest::newRow("yes") << iMsgBox_Yes_Button;
    QTest::newRow("no") << iMsgBox_No_Button;
    QTest::newRow("closed") << 0;
}

void tst_Form::removeFill()
{
    // After the read the window offers the medium back: yes removes the fill's files alone.
    QTemporaryDir qDir;
    const QString qsVolume = qDir.path() + "/";
    // The fill's files hold its words (the clean takes nothing else for them), data.data.02 too.
    for (const QString qsName : {"disk.img", "data.data", "data.data.2", "data.data.02"}) {
        QFile qFile(qsVolume + qsName);
        QVERIFY(qFile.open(QIODevice::WriteOnly) && qFile.resize(qsName == "disk.img" ? 1 << 20 : 3 << 20));
        uchar aucWord[8];
        qToBigEndian<quint64>(0xFFFFFFC000000000ULL + (qsName == "data.data" ? 0 : (3 << 20) / 8), aucWord);
        QVERIFY(qsName == "disk.img" || qFile.write(reinterpret_cast<const char *>(aucWord), 8) == 8);
    }
    QFETCH(int, iAnswer);
    cBox_Answerer oAnswerer([&](QMessageBox *qBox) {
        if (qBox->text().startsWith("Провести"))
            return qBox->button(QMessageBox::No)->click();
        if (!qBox->text().startsWith("Удалить"))
            return qBox->button(QMessageBox::Ok)->click();
        QCOMPARE(qBox->defaultButton(), qBox->button(QMessageBox::No));
        if (iAnswer == 0)
            qBox->reject();
        else
            qBox->button(QMessageBox::StandardButton(iAnswer * 1024))->click();
    });
    MainWindow oWindow(nullptr, qsVolume + "disk.img", qsVolume);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
    QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Read"), Qt::LeftButton);
    QCOMPARE(oAnswerer.qslHeadings.value(0), QString("Провести быструю пробу носителя сейчас?")); // no
    QCOMPARE(oAnswerer.qslHeadings.value(2), QString("Удалить файл заполнения (6,00 МиБ) с носителя?"));
    QVERIFY(oAnswerer.qslMessages.value(2).contains(qsVolume + "data.data.2"));
    const bool bRemoved = iAnswer == iMsgBox_Yes_Button;
    QCOMPARE(oAnswerer.qslHeadings.size(), bRemoved ? 4 : 3);
    QCOMPARE(QFileInfo::exists(qsVolume + "data.data"), !bRemoved);
    QCOMPARE(QFileInfo::exists(qsVolume + "data.data.2"), !bRemoved);
    QVERIFY(QFileInfo::exists(qsVolume + "data.data.02"));
}

void tst_Form::closeDuringStep_data()
{
    QTest::addColumn<QString>("qsButton");
    QTest::newRow("fill") << "pushButton_Write";
    QTest::newRow("read") << "pushButton_Read";
}

void tst_Form::closeDuringStep()
{
    // The window's close while a step runs stops the step, and the window then closes without
    // a result box; the step ran off the window's thread, so the close was taken at once.
    NEED_LOOP();
    QFETCH(QString, qsButton);
    cLoop_Device oLoop;
    QVERIFY_MADE(oLoop.qsCreate(2048ULL * 1048576, 4096, "ext4"));
    MainWindow oWindow(nullptr, oLoop.qsDevice, oLoop.qsMount);
    oWindow.show();
    {
        cBox_Answerer oNo_Probe([](QMessageBox *qBox) { qBox->button(QMessageBox::No)->click(); });
        QTest::mouseClick(oWindow.findChild<QPushButton *>("pushButton_Properties"), Qt::LeftButton);
        QCOMPARE(oNo_Probe.qslHeadings, QStringList{"Провести быструю пробу носителя сейчас?"});
    }
    if (qsButton == "pushButton_Read") // something of a fill to read: a cancelled one
        QVERIFY(oFill_Into(oLoop.qsMount.chopped(1), 64 << 20, oData.qui64Pattern).eStatus == eFill_Complete);
    cBox_Answerer oAnswerer;
    QElapsedTimer qClosed;
    QTimer qCloser;
    QObject::connect(&qCloser, &QTimer::timeout, [&] {
        auto *qCancel = oWindow.findChild<QPushButton *>("pushButton_Cancel");
        if (qClosed.isValid() || !qCancel || !qCancel->isVisible())
            return;
        qClosed.start();
        oWindow.close();
    });
    qCloser.start(20);
    QTest::mouseClick(oWindow.findChild<QPushButton *>(qsButton), Qt::LeftButton);
    QVERIFY(qClosed.isValid());
    QVERIFY2(qClosed.elapsed() < 5000, qPrintable(QString::number(qClosed.elapsed()))); // the give-up bound, not a speed
    QVERIFY(!oWindow.isVisible());
    QCOMPARE(oAnswerer.qslHeadings, QStringList());
    quint64 qui64Words = 0;
    QVERIFY(bFill_Sequence(oLoop.qsMount + "data.data", oData.qui64Pattern, &qui64Words)); // whole words only
    QVERIFY(qui64Words > 0 && qui64Words * 8 < 1800ULL * 1048576);
}

void tst_Form::signalCloses_data()
{
    QTest::addColumn<int>("iSignal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

// The signals the process catches, from the kernel's own account of it.
static quint64 qui64Caught(const qint64 qi64Pid)
{
    QFile qStatus(QString("/proc/%1/status").arg(qi64Pid));
    if (!qStatus.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &qbaLine : qStatus.readAll().split('\n'))
        if (qbaLine.startsWith("SigCgt:"))
            return qbaLine.mid(7).trimmed().toULongLong(nullptr, 16);
    return 0;
}

void tst_Form::signalCloses()
{
    // A signal closes the window as its close control does: the tool ends of itself, exit 0.
    QFETCH(int, iSignal);
    QTemporaryDir qDir;
    QProcess qTool;
    QProcessEnvironment qEnvironment = QProcessEnvironment::systemEnvironment();
    qEnvironment.insert("QT_QPA_PLATFORM", "offscreen");
    qTool.setProcessEnvironment(qEnvironment);
    qTool.start(FILLSCAN_TOOL, {"--device", "/dev/null", "--volume", qDir.path() + "/"});
    QVERIFY(qTool.waitForStarted());
    const quint64 qui64Bit = quint64(1) << (iSignal - 1);
    QVERIFY(bWait_For([&] { return (qui64Caught(qTool.processId()) & qui64Bit) != 0; }, 20000));
    kill(pid_t(qTool.processId()), iSignal);
    QVERIFY(qTool.waitForFinished(10000));
    QCOMPARE(qTool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(qTool.exitCode(), 0);
}

QTEST_MAIN(tst_Form)
#include "tst_form.moc"
