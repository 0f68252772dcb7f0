#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "Functions_Data.h"
#include "Functions_Drive.h"

#include <QMainWindow>

#include <functional>

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

// The records the three operations share.
extern cDrive oDrive;
extern cVolume oVolume;
extern cData oData;

// The name of the form's widget that shows the poll's value iField (0 … iPoll_Fields - 1, in
// the order of qslPoll_Values).
const char *pcPoll_Widget(const int iField);

// Room a window manager's title bar and borders take around the window.
const int iWindow_Frame_Allowance = 40;
// Keeps the form at its own size: as it is where qrAvailable holds it with its frame, else in
// a scroll area (object name scrollArea_Form) in a window that fits qrAvailable.
void vFit_Form(QMainWindow *qWindow, const QRect &qrAvailable);

class cWindow_Operator;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr, const QString &qsDrive_Path = "/dev/sdb",
                        const QString &qsVolume_Path = "/documents_hdd/");
    ~MainWindow();

protected:
    // During a step the close stops the step first; the window closes when it has.
    void closeEvent(QCloseEvent *qEvent) override;

private slots:
    void on_pushButton_Properties_clicked();
    void on_pushButton_Write_clicked();
    void on_pushButton_Read_clicked();

private:
    Ui::MainWindow *ui;
    QString qsDrive_Path;
    QString qsVolume_Path;
    cFill_Result oLast_Fill; // the read accounts for what this fill wrote, and for writes the medium refused
    cWindow_Operator *pStep_Operator = nullptr; // of the step running now
    bool bClose_Asked = false;

    // Runs fStep off the window's thread with the form locked; false when the window was
    // closed meanwhile (it then closes, and nothing more is shown).
    bool bRun_Step(cWindow_Operator &oOperator, const std::function<void()> &fStep);
    void vOffer_Clean(cWindow_Operator &oOperator);
};

#endif // MAINWINDOW_H
