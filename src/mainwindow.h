#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "Functions_Data.h"
#include "Functions_Drive.h"
#include "Functions_Probe_Medium.h"

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
// The form's height without its buttons: its three sections end above it.
const int iForm_Sections_Height = 880;
// Lays the window out to fit qrAvailable: the form's sections at their own size (in a scroll
// area, object name scrollArea_Form, where the screen is too low for them), under them qPanel,
// and under that the form's three buttons in a row of their own (widget_Buttons), in view
// whatever the screen.
void vFit_Form(QMainWindow *qWindow, QWidget *qPanel, const QRect &qrAvailable);

class cWindow_Operator;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr, const QString &qsDrive_Path = "/dev/sdb",
                        const QString &qsVolume_Path = "/documents_hdd/");
    ~MainWindow();

    // The check in one go, as the chooser's «Проверить» starts it: the poll, the quick probe
    // (after a fake: the whole fill only if asked for), the question to fill, the fill, the
    // read and its verdict, the question to remove the fill; each step's result stays in view
    // in the window's panel. The three buttons still run one step each.
    void vRun_Check();
    // What was chosen to check (the device, its partition, label and file system), as the
    // panel names it; by default the device and the volume directory.
    void vSet_Target_Text(const QString &qsText);

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
    // The steps as the buttons and the check run them: each tells its result in boxes and in
    // the panel, and returns whether the next step has anything to work on.
    bool bPoll_Step();
    bool bProbe_Step(cProbe_Result &oResult);
    bool bAsk_Fill(const QString &qsBefore = QString());
    bool bAsk_Fill_After_Fake(const cProbe_Result &oResult);
    bool bFill_Step();
    bool bRead_Step();
    // The panel's line for step iStep (0 the poll, 1 the probe … 4 the removal), and what it shows.
    void vShow_Step(const int iStep, const QString &qsState);
    void vBuild_Panel();

    QWidget *qPanel = nullptr;
    QStringList qslStep_States;
};

#endif // MAINWINDOW_H
