#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "Functions_Data.h"
#include "Functions_Drive.h"

#include <QMainWindow>
#include <QStringList>

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

// The records the three operations share.
extern cDrive oDrive;
extern cVolume oVolume;
extern cData oData;

// The operations as the buttons run them; batch mode runs the same ones.
// Poll: probes the volume and the device and derives the pattern; false when the device did not open.
bool bPoll_Records(const QString &qsDrive_Path, const QString &qsVolume_Path);
// The twelve values a poll shows, in the order of the form's value widgets.
QStringList qslPoll_Values();
// Fill: true when the fill file was written until done, full, or at the file size limit.
bool bFill_Records();
// Read: true when the whole device was scanned.
bool bRead_Records();
// What the operator is told when an operation ran (heading, then text).
QString qsFill_Heading(const cFill_Result &oResult);
QString qsFill_Summary(const cFill_Result &oResult);
QString qsRead_Heading(const cRead_Result &oResult);
QString qsRead_Summary(const cRead_Result &oResult);

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr, const QString &qsDrive_Path = "/dev/sdb",
                        const QString &qsVolume_Path = "/documents_hdd/");
    ~MainWindow();

private slots:
    void on_pushButton_Properties_clicked();
    void on_pushButton_Write_clicked();
    void on_pushButton_Read_clicked();

private:
    Ui::MainWindow *ui;
    QString qsDrive_Path;
    QString qsVolume_Path;
};

#endif // MAINWINDOW_H
