#include "Functions_Core.h"

#include "Functions_Files.h"

#include "Functions_Report_Texts.h"

#include "Functions_Text.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTranslator>

#include <cerrno>
#include <cstdio>

namespace {

// The window's box, set before main runs where the window's library is linked.
tMessage_Box pfMessage_Box = nullptr;

// The roles QMessageBox gives its standard buttons; they decide which is the escape button.
enum eButton_Role { eRole_Accept, eRole_Reject, eRole_Yes, eRole_No, eRole_Other };

eButton_Role eRole_Of(const int iCode)
{
    switch (iCode) {
    case iMsgBox_Yes_Button:
    case iMsgBox_YesToAll_Button:
        return eRole_Yes;
    case iMsgBox_No_Button:
    case iMsgBox_NoToAll_Button:
        return eRole_No;
    case iMsgBox_Abort_Button:
    case iMsgBox_Close_Button:
    case iMsgBox_Cancel_Button:
        return eRole_Reject;
    case iMsgBox_Discard_Button:
    case iMsgBox_Help_Button:
    case iMsgBox_Apply_Button:
    case iMsgBox_Reset_Button:
    case iMsgBox_RestoreDefaults_Button:
        return eRole_Other;
    default:
        return eRole_Accept;
    }
}

int iConsole_Message(const QString &qsTitle_Message, const QString &qsMain_Message, const int iMode,
                     const bool bUnique_Button)
{
    const QByteArray qbaText = qsTerminal_Safe(qsTitle_Message + "\n" + qsMain_Message + "\n").toUtf8();
    std::fwrite(qbaText.constData(), 1, size_t(qbaText.size()), stderr);
    std::fflush(stderr);
    return iMessageBox_Close_Result(iMode, bUnique_Button);
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
    for (const eButton_Role eRole : {eRole_Reject, eRole_No}) {
        int iFound = 0, iCount = 0;
        for (const int iCode : qlCodes)
            if (eRole_Of(iCode) == eRole) {
                iFound = iCode;
                ++iCount;
            }
        if (iCount == 1)
            return iFound;
    }
    return 0;
}

bool bWidgets_Running()
{
    const QCoreApplication *qApplication = QCoreApplication::instance();
    return qApplication && qApplication->inherits("QApplication");
}

int iMessageBox(const QString qsTitle_Message, QString qsMain_Message, const int iIcon, const int iMode,
                const int iDefault_Button, const int iTime, const QString qsUnique_Button_Text)
{
    if (!pfMessage_Box || !bWidgets_Running())
        return iConsole_Message(qsTitle_Message, qsMain_Message, iMode, !qsUnique_Button_Text.isEmpty());
    const auto fShow = [&] {
        return pfMessage_Box(qsTitle_Message, qsMain_Message, iIcon, iMode, iDefault_Button, iTime,
                             qsUnique_Button_Text);
    };
    QCoreApplication *qApplication = QCoreApplication::instance();
    if (QThread::currentThread() == qApplication->thread())
        return fShow();
    // Widgets live on the application's thread only: a worker waits there for the answer.
    int iResult = iMessageBox_Close_Result(iMode, !qsUnique_Button_Text.isEmpty());
    QMetaObject::invokeMethod(qApplication, fShow, Qt::BlockingQueuedConnection, &iResult);
    return iResult;
}

void vInstall_Message_Box(const tMessage_Box pfBox)
{
    pfMessage_Box = pfBox;
}

QString qsStart_Failed_Why(const QProcess &qProcess)
{
    const QString qsProgram = qProcess.program();
    const QString qsFound = qsProgram.contains('/') ? qsProgram : QStandardPaths::findExecutable(qsProgram);
    if (qsFound.isEmpty() || !QFileInfo::exists(qsFound))
        return qsSystem_Reason(ENOENT);
    if (!QFileInfo(qsFound).isExecutable())
        return qsSystem_Reason(EACCES);
    return qProcess.errorString();
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

    QString qsFailure;
    if (qProcess->error() == QProcess::FailedToStart) {
        qsFailure = qsProcess_Not_Started(qsProcess, qsStart_Failed_Why(*qProcess));
    } else if (!bFinished && qProcess->state() != QProcess::NotRunning) {
        // Still running: end it before telling the operator, so nothing keeps working behind the box.
        qProcess->terminate();
        if (!qProcess->waitForFinished(3000)) {
            qProcess->kill();
            qProcess->waitForFinished(3000);
        }
        qsFailure = qsProcess_Timed_Out(qsProcess, iTimeout_Ms / 1000);
    } else if (qProcess->exitStatus() == QProcess::CrashExit) {
        qsFailure = qsProcess_Crashed(qsProcess);
    } else if (qProcess->exitCode() != 0) {
        qsFailure = qsProcess_Failed(qsProcess, qProcess->exitCode());
    }
    if (!qsFailure.isEmpty())
        iMessageBox(qsError_Heading(), qsFailure, iMsgBox_Critical_Icon, iMsgBox_OK_Button, 0, 0, "");

    qbaResult = qProcess->readAllStandardOutput();
    qProcess->terminate();
    delete qProcess;
    qProcess = nullptr;

    // The text ends at the first zero byte.
    const int iZero = qbaResult.indexOf('\0');
    const QString qsResult = QString::fromUtf8(iZero < 0 ? qbaResult : qbaResult.left(iZero));
    return qsResult.split("\n", Qt::KeepEmptyParts, Qt::CaseSensitive);
}

void vInstall_Translations(QCoreApplication &qApplication)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    auto *qTranslator = new QTranslator(&qApplication);
    if (qTranslator->load(QLocale(QLocale::Russian), "qtbase", "_",
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        qApplication.installTranslator(qTranslator);
}
