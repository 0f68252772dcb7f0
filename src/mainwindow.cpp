#include "mainwindow.h"

#include "Functions_Core.h"
#include "Functions_Map.h"
#include "Functions_Records.h"
#include "Functions_Report.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QTextEdit>

cDrive oDrive;
cVolume oVolume;
cData oData;

MainWindow::MainWindow(QWidget *parent, const QString &qsDrive, const QString &qsVolume)
    : QMainWindow(parent), ui(new Ui::MainWindow), qsDrive_Path(qsDrive), qsVolume_Path(qsVolume)
{
    ui->setupUi(this);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::on_pushButton_Properties_clicked()
{
    bPoll_Records(qsDrive_Path, qsVolume_Path);
    if (!oVolume.qsError.isEmpty())
        iMessageBox("Ошибка!",
                    QString("Не удалось опросить раздел %1: %2.").arg(oVolume.qsVolume_Name, oVolume.qsError), 3,
                    iMsgBox_OK_Button, 0, 0, "");
    const QStringList qslValues = qslPoll_Values();
    for (int i = 0; i < iPoll_Fields; ++i) {
        QWidget *qWidget = findChild<QWidget *>(aoPoll_Fields[i].pcValue_Widget);
        if (auto *qLabel = qobject_cast<QLabel *>(qWidget))
            qLabel->setText(qslValues[i]);
        else if (auto *qText = qobject_cast<QTextEdit *>(qWidget))
            qText->setText(qslValues[i]);
    }
}

void MainWindow::on_pushButton_Write_clicked()
{
    bFill_Records(false);
    const cFill_Result &oResult = oData.oFill_Result;
    if (oResult.eStatus == eFill_Refused &&
        iMessageBox("Внимание!", qsFill_Failure(oResult) + "\n\nЗаполнить этот раздел всё равно?", 4,
                    iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_No_Button, 0, "") == iMsgBox_Yes_Button)
        bFill_Records(true);
    if (oResult.eStatus == eFill_Refused)
        return; // the operator said no
    if (!bFill_Ran(oResult))
        iMessageBox("Ошибка!", qsFill_Failure(oResult), 3, iMsgBox_OK_Button, 0, 0, "");
    else
        iMessageBox(qsFill_Heading(oResult), qsFill_Summary(oResult), iFill_Icon(oResult), iMsgBox_OK_Button, 0, 0, "");
}

void MainWindow::on_pushButton_Read_clicked()
{
    bRead_Records();
    const cRead_Result &oResult = oDrive.oRead_Result;
    if (!bRead_Ran(oResult)) {
        iMessageBox("Ошибка!", qsRead_Failure(oResult), 3, iMsgBox_OK_Button, 0, 0, "");
        return;
    }
    if (iMessageBox(qsRead_Heading(oResult), qsRead_Summary(oResult), iRead_Icon(oResult), iMsgBox_OK_Button, 0, 0,
                    "Карта") == 0) {
        auto *qMap = new cMap_Window(oResult, this);
        qMap->setAttribute(Qt::WA_DeleteOnClose);
        qMap->show();
    }
}
