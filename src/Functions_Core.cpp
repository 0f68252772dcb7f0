#include "Functions_Core.h"

#include "Functions_Text.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>

#include <climits>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace {

const char *const pcBox_Title = "Оставь надежду всяк сюда входящий.";

std::atomic<bool> bQuiet_Mode{false};
volatile std::sig_atomic_t iCancel_Signal_Value = 0;

// A standard button's role decides whether QMessageBox takes it as the escape button.
QMessageBox::ButtonRole eButton_Role(const int iCode)
{
    switch (iCode) {
    case iMsgBox_Yes_Button:
    case iMsgBox_YesToAll_Button:
        return QMessageBox::YesRole;
    case iMsgBox_No_Button:
    case iMsgBox_NoToAll_Button:
        return QMessageBox::NoRole;
    case iMsgBox_Abort_Button:
    case iMsgBox_Close_Button:
    case iMsgBox_Cancel_Button:
        return QMessageBox::RejectRole;
    case iMsgBox_Discard_Button:
        return QMessageBox::DestructiveRole;
    case iMsgBox_Help_Button:
        return QMessageBox::HelpRole;
    case iMsgBox_Apply_Button:
        return QMessageBox::ApplyRole;
    case iMsgBox_Reset_Button:
    case iMsgBox_RestoreDefaults_Button:
        return QMessageBox::ResetRole;
    default:
        return QMessageBox::AcceptRole;
    }
}

int iConsole_Message(const QString &qsTitle_Message, const QString &qsMain_Message, const int iMode,
                     const bool bUnique_Button)
{
    const QByteArray qbaText = (qsTitle_Message + "\n" + qsMain_Message + "\n").toUtf8();
    std::fwrite(qbaText.constData(), 1, size_t(qbaText.size()), stderr);
    std::fflush(stderr);
    return iMessageBox_Close_Result(iMode, bUnique_Button);
}

int iPercent(const quint64 qui64Done, const quint64 qui64Total)
{
    if (qui64Total == 0)
        return 100;
    return int(qMin<quint64>(100, quint64(double(qui64Done) * 100.0 / double(qui64Total))));
}

} // namespace

int iMessageBox_Close_Result(const int iMode, const bool bUnique_Button)
{
    QList<int> qlCodes;
    for (int iBit = 0; iBit <= 17; ++iBit)
        if (iMode & (1 << iBit))
            qlCodes << (1 << iBit);
    if (qlCodes.isEmpty() && !bUnique_Button)
        qlCodes << iMsgBox_OK_Button; // QMessageBox adds its own OK to a box without buttons

    // QMessageBox's order: Cancel; the only button; the one reject button; the one "no" button.
    if (qlCodes.contains(iMsgBox_Cancel_Button))
        return iMsgBox_Cancel_Button;
    if (qlCodes.size() + (bUnique_Button ? 1 : 0) == 1)
        return qlCodes.isEmpty() ? 0 : qlCodes.first();
    for (const QMessageBox::ButtonRole eRole : {QMessageBox::RejectRole, QMessageBox::NoRole}) {
        int iFound = 0, iCount = 0;
        for (const int iCode : qlCodes)
            if (eButton_Role(iCode) == eRole) {
                iFound = iCode;
                ++iCount;
            }
        if (iCount == 1)
            return iFound;
    }
    return 0;
}

int iMessageBox(const QString qsTitle_Message, QString qsMain_Message, const int iIcon, const int iMode,
                const int iDefault_Button, const int iTime, const QString qsUnique_Button_Text)
{
    if (bConsole_Mode())
        return iConsole_Message(qsTitle_Message, qsMain_Message, iMode, !qsUnique_Button_Text.isEmpty());

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
        // Clamped rather than wrapped: a huge time must not turn into a short one.
        const int iInterval = int(qBound<qint64>(INT_MIN, qint64(iTime) * 1000, INT_MAX));
        QObject::connect(&qTimer_Msgbox_Down, &QTimer::timeout, &qMsgBox, &QWidget::close);
        qTimer_Msgbox_Down.start(iInterval);
        QTimer::singleShot(iInterval, &qMsgBox, &QWidget::close);
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

QStringList qslProcess_Run(const QString qsProcess, const bool bBig_Delay)
{
    QProcess *qProcess = new QProcess();
    QByteArray qbaResult;
    const int iTimeout_Ms = bBig_Delay ? 2000000 : 5000;

    QStringList qslArguments = QProcess::splitCommand(qsProcess);
    const QString qsProgram = qslArguments.isEmpty() ? QString() : qslArguments.takeFirst();
    qProcess->start(qsProgram, qslArguments, QIODevice::ReadWrite);
    const bool bFinished = qProcess->waitForFinished(iTimeout_Ms);

    const QString qsQuoted = "Запрос \"" + qsProcess + "\"";
    QString qsFailure;
    if (qProcess->error() == QProcess::FailedToStart) {
        qsFailure = qsQuoted + " не удалось запустить. Причина - " + qProcess->errorString() + ".";
    } else if (!bFinished && qProcess->state() != QProcess::NotRunning) {
        // Still running: end it before telling the operator, so nothing keeps working behind the box.
        qProcess->terminate();
        if (!qProcess->waitForFinished(3000)) {
            qProcess->kill();
            qProcess->waitForFinished(3000);
        }
        qsFailure = qsQuoted + " не завершился за отведённое время (" + QString::number(iTimeout_Ms / 1000) +
                    " с) и был остановлен.";
    } else if (qProcess->exitStatus() == QProcess::CrashExit) {
        qsFailure = qsQuoted + " завершился аварийно.";
    } else if (qProcess->exitCode() != 0) {
        qsFailure =
            qsQuoted + " не отработал корректно. Код ошибки - " + QString::number(qProcess->exitCode(), 10) + ".";
    }
    if (!qsFailure.isEmpty())
        iMessageBox("Ошибка!", qsFailure, 3, iMsgBox_OK_Button, 0, 0, "");

    qbaResult = qProcess->readAllStandardOutput();
    qProcess->terminate();
    delete qProcess;
    qProcess = nullptr;

    // The text ends at the first zero byte.
    const int iZero = qbaResult.indexOf('\0');
    const QString qsResult = QString::fromUtf8(iZero < 0 ? qbaResult : qbaResult.left(iZero));
    return qsResult.split("\n", Qt::KeepEmptyParts, Qt::CaseSensitive);
}

void vProgressBar(QProgressBar *qProgress_Bar, const int iValue)
{
    qProgress_Bar->setValue(iValue);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void vInstall_Translations(QCoreApplication &qApplication)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    auto *qTranslator = new QTranslator(&qApplication);
    if (qTranslator->load(QLocale(QLocale::Russian), "qtbase", "_",
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        qApplication.installTranslator(qTranslator);
}

bool bOutput_Gone()
{
    struct pollfd strOutput = {STDOUT_FILENO, 0, 0};
    return poll(&strOutput, 1, 0) == 1 && (strOutput.revents & (POLLERR | POLLHUP)) != 0;
}

bool bConsole_Mode()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) == nullptr;
}

void vSet_Quiet(const bool bQuiet)
{
    bQuiet_Mode = bQuiet;
}

void vRequest_Cancel(const int iSignal)
{
    iCancel_Signal_Value = iSignal;
}

int iCancel_Signal()
{
    return iCancel_Signal_Value;
}

cProgress::cProgress(const QString &qsTitle_Text, const QString &qsWhat, const quint64 qui64Total_Bytes)
    : qsTitle(qsTitle_Text), qui64Total(qui64Total_Bytes)
{
    qTimer.start();
    if (bConsole_Mode()) {
        bTerminal = isatty(STDERR_FILENO) == 1;
        qi64Last_Update = 0; // the first line after one period, so short steps stay silent
        return;
    }
    qDialog = new QDialog(QApplication::activeWindow());
    qDialog->setWindowTitle(qsTitle);
    qDialog->setWindowModality(Qt::ApplicationModal);
    auto *qLayout = new QVBoxLayout(qDialog);
    auto *qLabel_What = new QLabel(qsWhat, qDialog);
    qLabel_What->setWordWrap(true);
    qBar = new QProgressBar(qDialog);
    qBar->setRange(0, 100);
    qBar->setValue(0);
    qLabel_Figures = new QLabel(qDialog);
    auto *qButton = new QPushButton("Отмена", qDialog);
    qButton->setObjectName("pushButton_Cancel");
    qLayout->addWidget(qLabel_What);
    qLayout->addWidget(qBar);
    qLayout->addWidget(qLabel_Figures);
    qLayout->addWidget(qButton);
    QObject::connect(qButton, &QPushButton::clicked, qDialog, [this] { bCancel = true; });
    // Escape or the window's close control also cancel; the window itself stays until the end.
    QObject::connect(qDialog, &QDialog::rejected, qDialog, [this] {
        bCancel = true;
        if (!bFinished)
            qDialog->show();
    });
    qDialog->resize(520, qDialog->sizeHint().height());
    qLabel_Figures->setText(qsText(0));
    qDialog->show();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

cProgress::~cProgress()
{
    vFinish();
    delete qDialog;
}

bool cProgress::bCancelled() const
{
    return bCancel || iCancel_Signal() != 0;
}

QString cProgress::qsText(const quint64 qui64Done) const
{
    const qint64 qi64Ms = qTimer.elapsed();
    QString qsResult =
        qsSize_Text(qui64Done) + " из " + qsSize_Text(qui64Total) + ", " + qsRate_Text(qui64Done, qi64Ms);
    if (qui64Done > 0 && qi64Ms > 0 && qui64Total > qui64Done) {
        const qint64 qi64Left_S = qint64(double(qui64Total - qui64Done) * double(qi64Ms) / double(qui64Done) / 1000.0);
        qsResult += QString(", осталось %1:%2").arg(qi64Left_S / 60).arg(qi64Left_S % 60, 2, 10, QLatin1Char('0'));
    }
    return qsResult;
}

void cProgress::vConsole_Line(const quint64 qui64Done, const bool bFinal)
{
    if (bQuiet_Mode)
        return;
    bPrinted = true;
    const QString qsLine =
        qsTitle + ": " + QString::number(iPercent(qui64Done, qui64Total)) + "%, " + qsText(qui64Done);
    const QByteArray qbaLine = qsLine.toUtf8();
    if (bTerminal)
        std::fprintf(stderr, "\r\033[K%s%s", qbaLine.constData(), bFinal ? "\n" : "");
    else
        std::fprintf(stderr, "%s\n", qbaLine.constData());
    std::fflush(stderr);
}

bool cProgress::bUpdate(const quint64 qui64Done)
{
    qui64Last_Done = qui64Done;
    const qint64 qi64Now = qTimer.elapsed();
    // A terminal line is redrawn often; a log gets a line every few seconds.
    const qint64 qi64Period = qDialog ? 100 : (bTerminal ? 200 : 5000);
    if (qi64Now - qi64Last_Update >= qi64Period) {
        qi64Last_Update = qi64Now;
        if (qDialog) {
            qLabel_Figures->setText(qsText(qui64Done));
            vProgressBar(qBar, iPercent(qui64Done, qui64Total));
        } else {
            vConsole_Line(qui64Done, false);
        }
    }
    if (!qDialog && qi64Now - qi64Last_Output_Check >= 200) {
        qi64Last_Output_Check = qi64Now;
        if (bOutput_Gone()) // the results would have nowhere to go
            vRequest_Cancel(SIGPIPE);
    }
    return !bCancelled();
}

void cProgress::vFinish()
{
    if (bFinished)
        return;
    bFinished = true;
    if (qDialog)
        qDialog->hide();
    else if (bPrinted)
        vConsole_Line(qui64Last_Done, true);
}
