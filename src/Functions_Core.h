#ifndef FUNCTIONS_CORE_H
#define FUNCTIONS_CORE_H

#include <QString>
#include <QStringList>

class QCoreApplication;

// Button codes of iMessageBox: one bit each, the QMessageBox::StandardButton divided by 1024.
const int iMsgBox_OK_Button = 1;
const int iMsgBox_Save_Button = 2;
const int iMsgBox_SaveAll_Button = 4;
const int iMsgBox_Open_Button = 8;
const int iMsgBox_Yes_Button = 16;
const int iMsgBox_YesToAll_Button = 32;
const int iMsgBox_No_Button = 64;
const int iMsgBox_NoToAll_Button = 128;
const int iMsgBox_Abort_Button = 256;
const int iMsgBox_Retry_Button = 512;
const int iMsgBox_Ignore_Button = 1024;
const int iMsgBox_Close_Button = 2048;
const int iMsgBox_Cancel_Button = 4096;
const int iMsgBox_Discard_Button = 8192;
const int iMsgBox_Help_Button = 16384;
const int iMsgBox_Apply_Button = 32768;
const int iMsgBox_Reset_Button = 65536;
const int iMsgBox_RestoreDefaults_Button = 131072;

// Icon codes of iMessageBox, in QMessageBox::Icon's order.
const int iMsgBox_No_Icon = 0;
const int iMsgBox_Information_Icon = 1;
const int iMsgBox_Warning_Icon = 2;
const int iMsgBox_Critical_Icon = 3;
const int iMsgBox_Question_Icon = 4;

// The one way the probe and the command runner talk to the operator. Returns the code of the
// button that ended the box, 0 for the extra button. Wherever a QApplication runs and the
// window's library is linked, this is the window's modal box (shown on the application's
// thread whichever thread asks); otherwise (batch mode, a core application) heading and
// message go to standard error and the result is what closing the box would give.
int iMessageBox(const QString qsTitle_Message, QString qsMain_Message, const int iIcon, const int iMode,
                const int iDefault_Button, const int iTime, const QString qsUnique_Button_Text);
typedef int (*tMessage_Box)(const QString, QString, const int, const int, const int, const int, const QString);
// The window's library installs its box here when it is linked, before main runs; null goes
// back to standard error.
void vInstall_Message_Box(const tMessage_Box pfBox);
// A QApplication runs: boxes and dialogs can be shown.
bool bWidgets_Running();

// What closing a box with these buttons returns: the code of QMessageBox's escape button,
// 0 when it has none (the close is then refused) or when that is the extra button.
int iMessageBox_Close_Result(const int iMode, const bool bUnique_Button);

// Runs one command line without a shell; reports a failure in the message box and returns
// standard output split into lines.
QStringList qslProcess_Run(const QString qsProcess, const bool bBig_Delay);

class QProcess;
// Why a program did not start, in the system's words (Qt tells it in English only).
QString qsStart_Failed_Why(const QProcess &qProcess);

// Qt's own texts (file dialogs, --help, button names) in Russian, like the rest of the tool.
void vInstall_Translations(QCoreApplication &qApplication);

#endif // FUNCTIONS_CORE_H
