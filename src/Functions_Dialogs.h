#ifndef FUNCTIONS_DIALOGS_H
#define FUNCTIONS_DIALOGS_H

#include "Functions_Operator.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>

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

// The window as the operator of a step: message boxes, and a modal progress dialog with a
// bar, the figures and "Отмена" while a step runs.
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

private:
    QWidget *qParent;
    QDialog *qDialog = nullptr;
    QProgressBar *qBar = nullptr;
    QLabel *qLabel_Figures = nullptr;
    QElapsedTimer qTimer;
    qint64 qi64Last_Update = -1000000;
    quint64 qui64Total = 0;
    std::atomic<bool> bCancel{false};
    bool bRunning = false;
};

#endif // FUNCTIONS_DIALOGS_H
