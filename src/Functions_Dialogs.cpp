#include "Functions_Dialogs.h"

#include "Functions_Core.h"
#include "Functions_Text.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QThread>
#include <QVBoxLayout>

#include <climits>
#include <memory>

namespace {

const char *const pcBox_Title = "Оставь надежду всяк сюда входящий.";

} // namespace

int iMessageBox_Window(const QString qsTitle_Message, QString qsMain_Message, const int iIcon, const int iMode,
                       const int iDefault_Button, const int iTime, const QString qsUnique_Button_Text)
{
    QMessageBox qMsgBox;
    QTimer qTimer_Msgbox_Down;

    qsMain_Message += "\n" + QString(127, QLatin1Char('_'));

    qMsgBox.setText(qsTitle_Message);
    qMsgBox.setInformativeText(qsMain_Message);
    qMsgBox.setWindowTitle(QString::fromUtf8(pcBox_Title));

    static const QMessageBox::Icon aeIcons[] = {QMessageBox::NoIcon, QMessageBox::Information, QMessageBox::Warning,
                                                QMessageBox::Critical, QMessageBox::Question};
    if (unsigned(iIcon) <= 4)
        qMsgBox.setIcon(aeIcons[iIcon]);

    const QString qsMode = QString::number(iMode, 2);
    for (int p = 0; p < qsMode.size() && p <= 17; ++p)
        if (qsMode.at(qsMode.size() - 1 - p) == QLatin1Char('1'))
            qMsgBox.addButton(QMessageBox::StandardButton(1024 << p));

    for (int iBit = 0; iBit <= 17; ++iBit)
        if (iDefault_Button == (1 << iBit))
            qMsgBox.setDefaultButton(QMessageBox::StandardButton(iDefault_Button * 1024));

    if (iTime != 0) {
        // Clamped rather than wrapped: a huge time must not turn into a short one. One
        // repeating timer: it closes the box, and tries again while the box refuses.
        const int iInterval = int(qBound<qint64>(INT_MIN, qint64(iTime) * 1000, INT_MAX));
        QObject::connect(&qTimer_Msgbox_Down, &QTimer::timeout, &qMsgBox, &QWidget::close);
        qTimer_Msgbox_Down.start(iInterval);
    }

    if (!qsUnique_Button_Text.isEmpty())
        qMsgBox.addButton(qsUnique_Button_Text, QMessageBox::AcceptRole);

    qMsgBox.window()->adjustSize();
    const int iWidth = qMsgBox.width();
    const int iHeight = qMsgBox.height();
    const QWidget *qDesktop = QApplication::desktop();
    int iLeft = qDesktop->width() / 4 - iWidth / 2 + 32;
    int iTop = qDesktop->height() / 2 - iHeight / 2;
    // A wide box (a long summary) would start left of the screen: it is kept on it.
    const QScreen *qScreen = QGuiApplication::screenAt(QPoint(iLeft + iWidth / 2, iTop + iHeight / 2));
    const QRect qrScreen = (qScreen ? qScreen : QGuiApplication::primaryScreen())->availableGeometry();
    iLeft = qBound(qrScreen.left(), iLeft, qMax(qrScreen.left(), qrScreen.right() + 1 - iWidth));
    iTop = qBound(qrScreen.top(), iTop, qMax(qrScreen.top(), qrScreen.bottom() + 1 - iHeight));
    qMsgBox.setGeometry(iLeft, iTop, iWidth, iHeight);

    return qMsgBox.exec() / 1024;
}

void vProgressBar(QProgressBar *qProgress_Bar, const int iValue)
{
    qProgress_Bar->setValue(iValue);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

cWindow_Operator::~cWindow_Operator()
{
    delete qDialog;
}

void cWindow_Operator::vTell(const QString &qsHeading, const QString &qsMessage, const int iIcon)
{
    iMessageBox(qsHeading, qsMessage, iIcon, iMsgBox_OK_Button, 0, 0, "");
}

bool cWindow_Operator::bAsk(const QString &qsHeading, const QString &qsQuestion, const bool bYes_Is_Safe)
{
    return iMessageBox(qsHeading, qsQuestion, 4, iMsgBox_Yes_Button | iMsgBox_No_Button,
                       bYes_Is_Safe ? iMsgBox_Yes_Button : iMsgBox_No_Button, 0, "") == iMsgBox_Yes_Button;
}

QString cWindow_Operator::qsPoll_First() const
{
    return "сначала нажмите «1. Опрос»";
}

void vRun_Off_Window(const std::function<void()> &fStep)
{
    QEventLoop qLoop;
    std::unique_ptr<QThread> qStep(QThread::create(fStep));
    // Queued: a step that ends before the loop runs still ends it.
    QObject::connect(qStep.get(), &QThread::finished, &qLoop, &QEventLoop::quit, Qt::QueuedConnection);
    qStep->start();
    qLoop.exec();
    qStep->wait();
}

namespace {

bool bOn_Window_Thread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

void cWindow_Operator::vStart(const QString &qsTitle, const QString &qsWhat, const quint64 qui64Total_Bytes)
{
    qui64Total = qui64Total_Bytes;
    bCancel = bClosing.load();
    bRunning = true;
    qTimer.start();
    qi64Last_Update = qi64Posted = -1000000;
    if (bOn_Window_Thread())
        return vStart_Here(qsTitle, qsWhat);
    QMetaObject::invokeMethod(&qContext, [&] { vStart_Here(qsTitle, qsWhat); }, Qt::BlockingQueuedConnection);
}

void cWindow_Operator::vStart_Here(const QString &qsTitle, const QString &qsWhat)
{
    delete qDialog;
    qDialog = new QDialog(qParent);
    qDialog->setWindowTitle(qsTitle);
    qDialog->setWindowModality(Qt::ApplicationModal);
    auto *qLayout = new QVBoxLayout(qDialog);
    auto *qLabel_What = new QLabel(qsWhat, qDialog);
    qLabel_What->setWordWrap(true);
    qBar = new QProgressBar(qDialog);
    qBar->setRange(0, 100);
    qBar->setValue(0);
    qLabel_Figures = new QLabel(qsProgress_Text(0, qui64Total, 0), qDialog);
    auto *qButton = new QPushButton("Отмена", qDialog);
    qButton->setObjectName("pushButton_Cancel");
    qLayout->addWidget(qLabel_What);
    qLayout->addWidget(qBar);
    qLayout->addWidget(qLabel_Figures);
    qLayout->addWidget(qButton);
    QObject::connect(qButton, &QPushButton::clicked, qDialog, [this] { bCancel = true; });
    // Escape or the window's close control also cancel; the dialog itself stays until the end.
    QObject::connect(qDialog, &QDialog::rejected, qDialog, [this] {
        bCancel = true;
        if (bRunning)
            qDialog->show();
    });
    qDialog->resize(520, qDialog->sizeHint().height());
    qDialog->show();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool cWindow_Operator::bAdvance(const quint64 qui64Done)
{
    const qint64 qi64Now = qTimer.elapsed();
    if (bOn_Window_Thread()) {
        if (qDialog && qi64Now - qi64Last_Update >= 100) {
            qi64Last_Update = qi64Now;
            qLabel_Figures->setText(qsProgress_Text(qui64Done, qui64Total, qi64Now));
            vProgressBar(qBar, iPercent(qui64Done, qui64Total)); // a step on this thread keeps the window drawn
        }
        return !bCancel;
    }
    // From a step's thread (several of them, as the probe's): the figures go to the window,
    // which draws them when it can; one thread of those racing posts them.
    qint64 qi64Last = qi64Posted;
    if (qi64Now - qi64Last >= 100 && qi64Posted.compare_exchange_strong(qi64Last, qi64Now)) {
        // To the operator's own object: what is still queued when the operator goes is dropped.
        QMetaObject::invokeMethod(
            &qContext, [this, qui64Done] { vShow_Progress(qui64Done); }, Qt::QueuedConnection);
    }
    return !bCancel;
}

void cWindow_Operator::vShow_Progress(const quint64 qui64Done)
{
    if (!qDialog || !bRunning)
        return;
    qLabel_Figures->setText(qsProgress_Text(qui64Done, qui64Total, qTimer.elapsed()));
    qBar->setValue(iPercent(qui64Done, qui64Total));
}

void cWindow_Operator::vFinish()
{
    bRunning = false;
    if (bOn_Window_Thread()) {
        if (qDialog)
            qDialog->hide();
        return;
    }
    QMetaObject::invokeMethod(
        &qContext,
        [this] {
            if (qDialog)
                qDialog->hide();
        },
        Qt::BlockingQueuedConnection);
}
