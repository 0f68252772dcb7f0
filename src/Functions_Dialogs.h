#ifndef FUNCTIONS_DIALOGS_H
#define FUNCTIONS_DIALOGS_H

#include "Functions_Operator.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QDialog;
class QLabel;
class QProgressBar;
class QWidget;

// The message box as the window shows it: a modal QMessageBox. main installs it as the
// tool's iMessageBox when it opens the window.
int iMessageBox_Window(const QString qsTitle_Message, QString qsMain_Message, const int iIcon, const int iMode,
                       const int iDefault_Button, const int iTime, const QString qsUnique_Button_Text);

// Moves a bar and lets the window handle what is pending, so a long step on the GUI thread
// keeps it drawn and its "Отмена" answers.
void vProgressBar(QProgressBar *qProgress_Bar, const int iValue);

// Runs fStep on a thread of its own and returns when it is done, the window's events handled
// meanwhile: nothing that may wait on the medium runs on the window's thread, so the window
// stays drawn and its "Отмена" and close control answer whatever the medium does.
void vRun_Off_Window(const std::function<void()> &fStep);

// The window as the operator of a step: message boxes, and a modal progress dialog with a
// bar, the figures and "Отмена" while a step runs. A step may run on another thread (see
// vRun_Off_Window): what it asks and shows then reaches the window through its event loop.
class cWindow_Operator : public cOperator
{
public:
    explicit cWindow_Operator(QWidget *qParent_Window) : qParent(qParent_Window) {}
    ~cWindow_Operator() override;

    void vTell(const QString &qsHeading, const QString &qsMessage, const int iIcon) override;
    bool bAsk(const QString &qsHeading, const QString &qsQuestion, const bool bYes_Is_Safe = false) override;
    void vStart(const QString &qsTitle, const QString &qsWhat, const quint64 qui64Total) override;
    bool bAdvance(const quint64 qui64Done) override;
    void vFinish() override;
    bool bCancelled() const override { return bCancel; }
    QString qsPoll_First() const override;
    // The window's close, or a signal: the step stops as with "Отмена".
    void vCancel()
    {
        bClosing = true;
        bCancel = true;
    }

private:
    void vStart_Here(const QString &qsTitle, const QString &qsWhat);
    void vShow_Progress(const quint64 qui64Done);

    QWidget *qParent;
    QObject qContext; // lives on the window's thread: what a step's thread sends there is run in its name
    QDialog *qDialog = nullptr;
    QProgressBar *qBar = nullptr;
    QLabel *qLabel_Figures = nullptr;
    QElapsedTimer qTimer;
    qint64 qi64Last_Update = -1000000;
    quint64 qui64Total = 0;
    std::atomic<bool> bCancel{false};
    std::atomic<bool> bClosing{false}; // cancelled for good: a later progress of the step starts cancelled
    std::atomic<bool> bRunning{false};
    std::atomic<qint64> qi64Posted{-1000000}; // when the last figures were sent to the window
};

#endif // FUNCTIONS_DIALOGS_H
