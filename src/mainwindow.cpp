#include "mainwindow.h"

#include "Functions_Clean.h"
#include "Functions_Core.h"
#include "Functions_Dialogs.h"
#include "Functions_Map_Window.h"
#include "Functions_Report.h"
#include "Functions_Steps.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextEdit>

#include <iterator>

cDrive oDrive;
cVolume oVolume;
cData oData;

namespace {

// The form's value widgets, one for each of the poll's values, in the poll's order.
const char *const apcPoll_Widgets[] = {"label_Drive_Name_Value",
                                       "label_Drive_Sector_Size_Value",
                                       "label_Drive_Sectors_Count_Value",
                                       "label_Drive_Bytes_Count_Value",
                                       "label_Volume_Name_Value",
                                       "label_Volume_Cluster_Size_Value",
                                       "label_Volume_Clusters_Count_Value",
                                       "label_Volume_Bytes_Count_Value",
                                       "label_Volume_Clusters_Free_Count_Value",
                                       "label_Volume_Bytes_Free_Count_Value",
                                       "textEdit_Data_Pattern_Value",
                                       "textEdit_Data_Pattern_Text_Value"};
static_assert(std::size(apcPoll_Widgets) == iPoll_Fields, "one widget for each of the poll's values");

} // namespace

const char *pcPoll_Widget(const int iField)
{
    return apcPoll_Widgets[iField];
}

MainWindow::MainWindow(QWidget *parent, const QString &qsDrive, const QString &qsVolume)
    : QMainWindow(parent), ui(new Ui::MainWindow), qsDrive_Path(qsDrive), qsVolume_Path(qsVolume)
{
    ui->setupUi(this);
    if (const QScreen *qScreen = QGuiApplication::primaryScreen())
        vFit_Form(this, qScreen->availableGeometry());
}

void vFit_Form(QMainWindow *qWindow, const QRect &qrAvailable)
{
    QWidget *qForm = qWindow->centralWidget();
    const QSize qsizeForm = qWindow->size(); // the form has no menu or status bar: all of it is the form
    if (qsizeForm.height() + iWindow_Frame_Allowance <= qrAvailable.height() &&
        qsizeForm.width() + iWindow_Frame_Allowance / 4 <= qrAvailable.width())
        return;
    // A laptop screen is lower than the form: every control stays where the form puts it and
    // the scroll bar reaches the buttons at its bottom.
    auto *qScroll = new QScrollArea(qWindow);
    qScroll->setObjectName("scrollArea_Form");
    qScroll->setWidgetResizable(false);
    qWindow->takeCentralWidget();
    qForm->setFixedSize(qsizeForm);
    qScroll->setWidget(qForm);
    qWindow->setCentralWidget(qScroll);
    const int iBar = qScroll->verticalScrollBar()->sizeHint().width();
    const int iFrame = 2 * qScroll->frameWidth();
    qWindow->resize(qMin(qsizeForm.width() + iBar + iFrame, qrAvailable.width() - iWindow_Frame_Allowance / 4),
                    qMin(qsizeForm.height() + iFrame, qrAvailable.height() - iWindow_Frame_Allowance));
    qWindow->move(qrAvailable.left() + qMax(0, (qrAvailable.width() - qWindow->width()) / 2), qrAvailable.top());
}

MainWindow::~MainWindow()
{
    delete ui;
}

bool MainWindow::bRun_Step(cWindow_Operator &oOperator, const std::function<void()> &fStep)
{
    pStep_Operator = &oOperator;
    centralWidget()->setEnabled(false); // the records are the step's until it is done
    vRun_Off_Window(fStep);
    centralWidget()->setEnabled(true);
    pStep_Operator = nullptr;
    if (!bClose_Asked)
        return true;
    close();
    return false;
}

void MainWindow::closeEvent(QCloseEvent *qEvent)
{
    if (!pStep_Operator)
        return QMainWindow::closeEvent(qEvent);
    bClose_Asked = true;
    pStep_Operator->vCancel();
    qEvent->ignore();
}

void MainWindow::on_pushButton_Properties_clicked()
{
    cWindow_Operator oOperator(this);
    cPoll_Result oResult;
    if (!bRun_Step(oOperator, [&] { oResult = oPoll(oDrive, oVolume, oData, qsDrive_Path, qsVolume_Path); }))
        return;
    if (!oResult.qsVolume_Error.isEmpty())
        iMessageBox("Ошибка!", qsPoll_Volume_Failure(oVolume), iMsgBox_Critical_Icon, iMsgBox_OK_Button, 0, 0, "");
    const QStringList qslValues = qslPoll_Values(oDrive, oVolume, oData);
    for (int i = 0; i < iPoll_Fields; ++i) {
        QWidget *qWidget = findChild<QWidget *>(pcPoll_Widget(i));
        if (auto *qLabel = qobject_cast<QLabel *>(qWidget))
            qLabel->setText(qslValues[i]);
        else if (auto *qText = qobject_cast<QTextEdit *>(qWidget))
            qText->setText(qslValues[i]);
    }
}

void MainWindow::on_pushButton_Write_clicked()
{
    cWindow_Operator oOperator(this);
    cFill_Result oResult;
    const bool bOpen = bRun_Step(oOperator, [&] { oResult = oFill(oDrive, oVolume, oData, oOperator); });
    oLast_Fill = oResult;
    if (!bOpen)
        return;
    if (oResult.eStatus == eFill_Refused)
        return; // the operator said no
    if (!bFill_Ran(oResult))
        iMessageBox("Ошибка!", qsFill_Failure(oResult, oOperator.qsPoll_First()), iMsgBox_Critical_Icon,
                    iMsgBox_OK_Button, 0, 0, "");
    else
        iMessageBox(qsFill_Heading(oResult), qsFill_Summary(oResult), iFill_Icon(oResult), iMsgBox_OK_Button, 0, 0, "");
    if (oResult.eStatus == eFill_Cancelled && !oResult.bAbandoned) // a file left behind by writers is not touched
        vOffer_Clean(oOperator);
}

void MainWindow::on_pushButton_Read_clicked()
{
    cWindow_Operator oOperator(this);
    cRead_Result oResult;
    if (!bRun_Step(oOperator, [&] { oResult = oRead(oDrive, oVolume, oData, oOperator, oLast_Fill); }))
        return;
    if (!bRead_Ran(oResult)) {
        iMessageBox("Ошибка!", qsRead_Failure(oResult, oOperator.qsPoll_First()), iMsgBox_Critical_Icon,
                    iMsgBox_OK_Button, 0, 0, "");
        return;
    }
    const QString qsLost = qsFill_Lost(oLast_Fill, oResult);
    if (!qsLost.isEmpty())
        iMessageBox("Внимание!", qsLost, iMsgBox_Warning_Icon, iMsgBox_OK_Button, 0, 0, "");
    if (iMessageBox(qsRead_Heading(oResult), qsRead_Summary(oResult), iRead_Icon(oResult), iMsgBox_OK_Button, 0, 0,
                    "Карта") == 0) {
        auto *qMap = new cMap_Window(oResult, this);
        qMap->setAttribute(Qt::WA_DeleteOnClose);
        qMap->show();
    }
    vOffer_Clean(oOperator);
}

// The checked medium, or one whose fill was stopped, goes back to its owner as it was, if
// they wish.
void MainWindow::vOffer_Clean(cWindow_Operator &oOperator)
{
    quint64 qui64Bytes = 0;
    const QStringList qslFiles = qslFill_Names(oVolume, &qui64Bytes);
    if (qslFiles.isEmpty())
        return;
    if (iMessageBox(qsClean_Question(qui64Bytes),
                    "Будут удалены только файлы заполнения:\n" + qslFiles.join('\n'), iMsgBox_Question_Icon,
                    iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_No_Button, 0, "") != iMsgBox_Yes_Button)
        return;
    cClean_Result oClean_Result;
    if (!bRun_Step(oOperator, [&] { oClean_Result = oClean(oVolume); }))
        return;
    iMessageBox(oClean_Result.bOk() ? "Файлы заполнения удалены." : "Ошибка!",
                qsClean_Summary(oClean_Result, oOperator.qsPoll_First()),
                oClean_Result.bOk() ? iMsgBox_Information_Icon : iMsgBox_Critical_Icon, iMsgBox_OK_Button, 0, 0, "");
}
