// The message box: what it shows, what it returns, where it stands.
#include "Functions_Core.h"
#include "support.h"

#include <QAbstractButton>
#include <QDesktopWidget>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QtTest>

Q_DECLARE_METATYPE(QList<int>)

class tst_MessageBox : public QObject
{
    Q_OBJECT

private slots:
    void shows_data();
    void shows();
    void result_data();
    void result();
    void autoClose();
    void hugeTimeIsClamped();
    void placement();
    void closeResult_data();
    void closeResult();
    void fromWorker();
};

// Opens a box and lets fInspect look at it before fAnswer ends it; returns the result.
static int iShow(std::function<void(QMessageBox *)> fAnswer, const int iMode, const int iDefault = 0,
                 const int iIcon = 3, const QString &qsExtra = QString(), const int iTime = 0)
{
    cBox_Answerer oAnswerer(fAnswer);
    return iMessageBox("Заголовок", "Текст", iIcon, iMode, iDefault, iTime, qsExtra);
}

static void vPress(QMessageBox *qBox, const int iCode)
{
    qBox->button(QMessageBox::StandardButton(iCode * 1024))->click();
}

void tst_MessageBox::shows_data()
{
    QTest::addColumn<int>("iMode");
    QTest::addColumn<int>("iDefault");
    QTest::addColumn<int>("iIcon");
    QTest::addColumn<QList<int>>("qlButtons");
    QTest::addColumn<int>("iShown_Default"); // 0: none
    QTest::addColumn<int>("iShown_Icon");
    QList<int> qlAll;
    for (int p = 0; p <= 17; ++p)
        qlAll << (1 << p);
    const QList<int> qlOk{1}, qlOk_Save{1, 2};
    QTest::newRow("mask 0: QMessageBox adds OK") << 0 << 0 << 3 << qlOk << 0 << 3;
    QTest::newRow("mask OK") << 1 << 0 << 3 << qlOk << 0 << 3;
    QTest::newRow("mask bit 18 ignored") << 0x40001 << 0 << 3 << qlOk << 0 << 3;
    QTest::newRow("mask -1: all eighteen") << -1 << 0 << 3 << qlAll << 0 << 3;
    QTest::newRow("default OK") << 3 << 1 << 3 << qlOk_Save << 1 << 3;
    QTest::newRow("default Save") << 3 << 2 << 3 << qlOk_Save << 2 << 3;
    QTest::newRow("default 3 is two codes: none") << 3 << 3 << 3 << qlOk_Save << 0 << 3;
    QTest::newRow("default not in the mask") << 3 << 64 << 3 << qlOk_Save << 0 << 3;
    for (int i = 0; i <= 4; ++i)
        QTest::newRow(qPrintable("icon " + QString::number(i))) << 1 << 0 << i << qlOk << 0 << i;
    QTest::newRow("icon 5: none") << 1 << 0 << 5 << qlOk << 0 << 0;
    QTest::newRow("icon -1: none") << 1 << 0 << -1 << qlOk << 0 << 0;
}

void tst_MessageBox::shows()
{
    QFETCH(int, iMode);
    QFETCH(int, iDefault);
    QFETCH(int, iIcon);
    QFETCH(QList<int>, qlButtons);
    QFETCH(int, iShown_Default);
    QFETCH(int, iShown_Icon);
    QList<int> qlCodes;
    int iSeen_Default = -1, iSeen_Icon = -1;
    iShow(
        [&](QMessageBox *qBox) {
            for (QAbstractButton *qButton : qBox->buttons())
                qlCodes << int(qBox->standardButton(qButton)) / 1024;
            QPushButton *qButton = qBox->defaultButton();
            iSeen_Default = qButton ? int(qBox->standardButton(qButton)) / 1024 : 0;
            iSeen_Icon = int(qBox->icon());
            qBox->buttons().first()->click();
        },
        iMode, iDefault, iIcon);
    std::sort(qlCodes.begin(), qlCodes.end());
    QCOMPARE(qlCodes, qlButtons);
    QCOMPARE(iSeen_Default, iShown_Default);
    QCOMPARE(iSeen_Icon, iShown_Icon);
}

void tst_MessageBox::result_data()
{
    QTest::addColumn<int>("iMode");
    QTest::addColumn<QString>("qsExtra");
    QTest::addColumn<int>("iPress"); // -1: the extra button
    QTest::addColumn<int>("iExpected");
    QTest::newRow("OK") << 1 << "" << 1 << 1;
    QTest::newRow("Save of OK+Save") << 3 << "" << 2 << 2;
    QTest::newRow("RestoreDefaults") << -1 << "" << iMsgBox_RestoreDefaults_Button << iMsgBox_RestoreDefaults_Button;
    QTest::newRow("extra button") << 1 << "Карта" << -1 << 0;
    QTest::newRow("extra button alone") << 0 << "Карта" << -1 << 0;
}

void tst_MessageBox::result()
{
    QFETCH(int, iMode);
    QFETCH(QString, qsExtra);
    QFETCH(int, iPress);
    QFETCH(int, iExpected);
    const int iResult = iShow(
        [&](QMessageBox *qBox) {
            if (iPress >= 0)
                return vPress(qBox, iPress);
            for (QAbstractButton *qButton : qBox->buttons())
                if (qButton->text() == qsExtra)
                    qButton->click();
        },
        iMode, 0, 1, qsExtra);
    QCOMPARE(iResult, iExpected);
}

void tst_MessageBox::autoClose()
{
    QElapsedTimer qTimer;
    qTimer.start();
    QCOMPARE(iMessageBox("Ошибка!", "Закроется сам", 3, 1, 0, 1, ""), 1);
    QVERIFY2(qTimer.elapsed() >= 900 && qTimer.elapsed() < 5000, qPrintable(QString::number(qTimer.elapsed())));
}

void tst_MessageBox::hugeTimeIsClamped()
{
    // 4,294,968 s × 1000 wraps a 32-bit int to 672 ms; clamped, the box waits.
    bool bStill_Open = false;
    QTimer::singleShot(1500, [&] {
        auto *qBox = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        bStill_Open = qBox != nullptr;
        if (qBox)
            qBox->button(QMessageBox::Ok)->click();
    });
    iMessageBox("Ошибка!", "Ждёт", 3, 1, 0, 4294968, "");
    QVERIFY(bStill_Open);
}

void tst_MessageBox::placement()
{
    QPoint qpBox;
    iShow(
        [&](QMessageBox *qBox) {
            qpBox = qBox->geometry().topLeft();
            vPress(qBox, 1);
        },
        1);
    // Placed by the size the same box takes after adjustSize(), before it is shown.
    QMessageBox qReference;
    qReference.setText("Заголовок");
    qReference.setInformativeText("Текст\n" + QString(127, '_'));
    qReference.setWindowTitle("Оставь надежду всяк сюда входящий.");
    qReference.setIcon(QMessageBox::Critical);
    qReference.addButton(QMessageBox::Ok);
    qReference.adjustSize();
    // A box too wide for that place is kept on the screen.
    const QWidget *qDesktop = QApplication::desktop();
    const QRect qrScreen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint qpExpected(qBound(qrScreen.left(), qDesktop->width() / 4 - qReference.width() / 2 + 32,
                                   qMax(qrScreen.left(), qrScreen.right() + 1 - qReference.width())),
                            qBound(qrScreen.top(), qDesktop->height() / 2 - qReference.height() / 2,
                                   qMax(qrScreen.top(), qrScreen.bottom() + 1 - qReference.height())));
    // The platform may nudge a window by its frame (2 px offscreen), nothing more.
    QVERIFY2(
        (qpBox - qpExpected).manhattanLength() <= 4,
        qPrintable(
            QString("at %1,%2, expected %3,%4").arg(qpBox.x()).arg(qpBox.y()).arg(qpExpected.x()).arg(qpExpected.y())));
}

void tst_MessageBox::closeResult_data()
{
    QTest::addColumn<int>("iMode");
    QTest::addColumn<bool>("bExtra");
    QTest::newRow("OK") << 1 << false;
    QTest::newRow("no buttons") << 0 << false;
    QTest::newRow("OK+Cancel") << (1 | 4096) << false;
    QTest::newRow("Yes+No") << (16 | 64) << false;
    QTest::newRow("OK+Close") << (1 | 2048) << false;
    QTest::newRow("extra alone") << 0 << true;
    QTest::newRow("OK+extra: close refused") << 1 << true;
    QTest::newRow("Save+Open: close refused") << (2 | 8) << false;
}

void tst_MessageBox::closeResult()
{
    // Batch mode answers with what closing the real box would give.
    QFETCH(int, iMode);
    QFETCH(bool, bExtra);
    bool bRefused = false;
    const int iResult = iShow(
        [&](QMessageBox *qBox) {
            qBox->close();
            QTimer::singleShot(50, qBox, [&bRefused, qBox] {
                bRefused = qBox->isVisible();
                if (bRefused)
                    qBox->buttons().first()->click();
            });
        },
        iMode, 0, 3, bExtra ? "Карта" : "");
    const int iExpected = iMessageBox_Close_Result(iMode, bExtra);
    if (bRefused)
        QCOMPARE(iExpected, 0);
    else
        QCOMPARE(iResult, iExpected);
}

void tst_MessageBox::fromWorker()
{
    // No set-up call in this program: linking the window is what makes the box the window's.
    // A worker that asks waits for the box, which opens on the application's thread.
    bool bOn_Application_Thread = false;
    cBox_Answerer oAnswerer([&](QMessageBox *qBox) {
        bOn_Application_Thread = qBox->thread() == QCoreApplication::instance()->thread();
        vPress(qBox, iMsgBox_No_Button);
    });
    int iResult = -1;
    std::unique_ptr<QThread> qWorker(QThread::create([&] {
        iResult = iMessageBox("Вопрос", "С рабочего потока", iMsgBox_Question_Icon,
                              iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_Yes_Button, 0, "");
    }));
    qWorker->start();
    QTRY_VERIFY_WITH_TIMEOUT(qWorker->isFinished(), 10000);
    QCOMPARE(iResult, iMsgBox_No_Button);
    QCOMPARE(oAnswerer.qslMessages, QStringList("С рабочего потока\n" + QString(127, '_')));
    QVERIFY(bOn_Application_Thread);
}

QTEST_MAIN(tst_MessageBox)
#include "tst_messagebox.moc"
