#ifndef FUNCTIONS_CORE_H
#define FUNCTIONS_CORE_H

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <atomic>

class QCoreApplication;
class QDialog;
class QLabel;
class QProgressBar;

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

// The one way the operations talk to the operator. Returns the code of the button that
// ended the box, 0 for the extra button. Without a QApplication (batch mode) nothing
// opens: heading and message go to standard error and the result is what closing the
// box would give.
int iMessageBox(const QString qsTitle_Message, QString qsMain_Message, const int iIcon, const int iMode,
                const int iDefault_Button, const int iTime, const QString qsUnique_Button_Text);

// What closing a box with these buttons returns: the code of QMessageBox's escape button,
// 0 when it has none (the close is then refused) or when that is the extra button.
int iMessageBox_Close_Result(const int iMode, const bool bUnique_Button);

// Runs one command line without a shell; reports a failure in the message box and returns
// standard output split into lines.
QStringList qslProcess_Run(const QString qsProcess, const bool bBig_Delay);

void vProgressBar(QProgressBar *qProgress_Bar, const int iValue);

// True when no QApplication exists, so no widget may be created: batch mode.
bool bConsole_Mode();
// Qt's own texts (file dialogs, --help, button names) in Russian, like the rest of the tool.
void vInstall_Translations(QCoreApplication &qApplication);

// Standard output leads nowhere any more: its reader closed the pipe.
bool bOutput_Gone();
// Batch mode only: no progress lines on standard error.
void vSet_Quiet(const bool bQuiet);

// Cancellation by signal (SIGINT, SIGTERM in batch mode). Safe to call from a signal
// handler; every running progress reports "cancelled" from then on.
void vRequest_Cancel(const int iSignal);
int iCancel_Signal();

// Progress of one long operation: a modal window with a bar, figures and "Отмена" in the
// GUI, a line on standard error in batch mode. bUpdate is cheap to call per block: it
// handles events and redraws only about every 100 ms, and returns false once the operator
// has cancelled.
class cProgress
{
public:
    cProgress(const QString &qsTitle, const QString &qsWhat, const quint64 qui64Total);
    ~cProgress();
    cProgress(const cProgress &) = delete;
    cProgress &operator=(const cProgress &) = delete;

    bool bUpdate(const quint64 qui64Done);
    bool bCancelled() const;
    void vFinish();

private:
    QString qsText(const quint64 qui64Done) const;
    void vConsole_Line(const quint64 qui64Done, const bool bFinal);

    QString qsTitle;
    quint64 qui64Total;
    quint64 qui64Last_Done = 0;
    QElapsedTimer qTimer;
    qint64 qi64Last_Update = -1000000;
    qint64 qi64Last_Output_Check = 0;
    std::atomic<bool> bCancel{false};
    bool bFinished = false;
    bool bTerminal = false;
    bool bPrinted = false;
    QDialog *qDialog = nullptr;
    QProgressBar *qBar = nullptr;
    QLabel *qLabel_Figures = nullptr;
};

#endif // FUNCTIONS_CORE_H
