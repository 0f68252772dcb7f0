#include "mainwindow.h"

#include "Functions_Clean.h"
#include "Functions_Core.h"
#include "Functions_Dialogs.h"
#include "Functions_Map_Window.h"
#include "Functions_Probe_Report.h"
#include "Functions_Reader.h"
#include "Functions_Report.h"
#include "Functions_Report_Texts.h"
#include "Functions_Steps.h"
#include "Functions_Verdict_Text.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTextEdit>
#include <QVBoxLayout>

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
    vBuild_Panel();
    const QScreen *qScreen = QGuiApplication::primaryScreen();
    vFit_Form(this, qPanel, qScreen ? qScreen->availableGeometry() : QRect(0, 0, 1366, 768));
}

namespace {

// The three buttons out of the form into a row of their own, left to right as the form has them.
QWidget *qButton_Row(QWidget *qForm, QWidget *qParent)
{
    auto *qButtons = new QWidget(qParent);
    qButtons->setObjectName("widget_Buttons");
    auto *qRow = new QHBoxLayout(qButtons);
    qRow->setContentsMargins(10, 0, 10, 0);
    for (const char *pcButton : {"pushButton_Properties", "pushButton_Write", "pushButton_Read"}) {
        auto *qButton = qForm->findChild<QPushButton *>(pcButton);
        qButton->setMinimumSize(qButton->size());
        qRow->addWidget(qButton);
        if (qRow->count() < 5)
            qRow->addStretch();
    }
    return qButtons;
}

} // namespace

void vFit_Form(QMainWindow *qWindow, QWidget *qPanel, const QRect &qrAvailable)
{
    QWidget *qForm = qWindow->takeCentralWidget();
    auto *qWhole = new QWidget(qWindow);
    qWhole->setObjectName("widget_Window");
    auto *qLayout = new QVBoxLayout(qWhole);
    const int iMargin = qLayout->spacing();
    qLayout->setContentsMargins(0, 0, 0, iMargin);
    QWidget *qButtons = qButton_Row(qForm, qWhole);
    // The sections are 801 pixels wide: all of each stays in view.
    qForm->setFixedSize(801, iForm_Sections_Height);
    const int iBelow = qPanel->sizeHint().height() + qButtons->sizeHint().height() + 3 * iMargin;
    int iWidth = qForm->width();
    if (iForm_Sections_Height + iBelow + iWindow_Frame_Allowance <= qrAvailable.height() &&
        iWidth + iWindow_Frame_Allowance / 4 <= qrAvailable.width()) {
        qLayout->addWidget(qForm);
    } else {
        // A laptop screen is lower than the form: the sections scroll, the buttons under them
        // stay in view.
        auto *qScroll = new QScrollArea(qWhole);
        qScroll->setObjectName("scrollArea_Form");
        qScroll->setWidgetResizable(false);
        qScroll->setWidget(qForm);
        iWidth += qScroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, qScroll) +
                  2 * qScroll->frameWidth();
        if (iWidth + iWindow_Frame_Allowance / 4 <= qrAvailable.width())
            qScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        qLayout->addWidget(qScroll, 1);
    }
    qLayout->addWidget(qPanel);
    qLayout->addWidget(qButtons);
    qWindow->setCentralWidget(qWhole);
    qWindow->resize(qMin(iWidth, qrAvailable.width() - iWindow_Frame_Allowance / 4),
                    qMin(iForm_Sections_Height + iBelow, qrAvailable.height() - iWindow_Frame_Allowance));
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

// Step by step the probe is offered once the poll is done; the button's own step stays the poll.
void MainWindow::on_pushButton_Properties_clicked()
{
    if (!bPoll_Step() ||
        iMessageBox(qsProbe_Ask_Heading(), qsProbe_Ask_Text(), iMsgBox_Question_Icon,
                    iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_No_Button, 0, "") != iMsgBox_Yes_Button)
        return;
    cProbe_Result oResult;
    if (bProbe_Step(oResult) && bProbe_Leaves_To_Fill(oResult)) // no question to fill follows here to say so
        iMessageBox(qsProbe_Heading(oResult), qsProbe_Summary(oResult), iProbe_Icon(oResult), iMsgBox_OK_Button, 0, 0,
                    "");
}

void MainWindow::on_pushButton_Write_clicked()
{
    bFill_Step();
}

void MainWindow::on_pushButton_Read_clicked()
{
    bRead_Step();
}

void MainWindow::vRun_Check()
{
    if (!bPoll_Step())
        return;
    cProbe_Result oProbe_Result;
    if (!bProbe_Step(oProbe_Result))
        return;
    // After a fake the verdict stands: the fill is offered only for the whole map. Where the
    // file system gave the probe no place, the question to fill says so.
    const bool bAsked = bProbe_Stops_Fill(oProbe_Result)
                            ? bAsk_Fill_After_Fake(oProbe_Result)
                            : bAsk_Fill(bProbe_Leaves_To_Fill(oProbe_Result) ? oProbe_Result.qsError : QString());
    if (!bAsked || !bFill_Step())
        return;
    bRead_Step();
}

// The quick probe between the poll and the fill; false when the check goes no further (the
// window closed, or the operator stopped the probe).
bool MainWindow::bProbe_Step(cProbe_Result &oResult)
{
    cWindow_Operator oOperator(this);
    vShow_Step(1, "идёт…");
    if (!bRun_Step(oOperator, [&] { oResult = oProbe(oDrive, oVolume, oOperator); }))
        return false;
    vShow_Step(1, qsProbe_Step_Text(oResult));
    if (!bProbe_Leaves_To_Fill(oResult)) // else the question to fill tells it
        iMessageBox(qsProbe_Heading(oResult), qsProbe_Summary(oResult), iProbe_Icon(oResult), iMsgBox_OK_Button, 0, 0,
                    "");
    return oResult.eStatus != eProbe_Cancelled;
}

// The file system places a fill where it likes, so a fill of the usable part's size would not
// be a fill of the usable part: the whole volume, or stop here.
bool MainWindow::bAsk_Fill_After_Fake(const cProbe_Result &oResult)
{
    if (iMessageBox(qsFill_After_Fake_Ask_Heading(oVolume.qsVolume_Name),
                    qsFill_After_Fake_Ask_Text(qui64Probe_Fill_Limit(oResult)), iMsgBox_Warning_Icon,
                    iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_No_Button, 0, "") == iMsgBox_Yes_Button)
        return true;
    vShow_Step(2, "не начато: проба нашла подделку.");
    return false;
}

bool MainWindow::bPoll_Step()
{
    cWindow_Operator oOperator(this);
    cPoll_Result oResult;
    vShow_Step(0, "идёт…");
    if (!bRun_Step(oOperator, [&] { oResult = oPoll(oDrive, oVolume, oData, qsDrive_Path, qsVolume_Path); }))
        return false;
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
    vShow_Step(0, oResult.bOk() ? qsPoll_Done_Text(oDrive.qui64Bytes_Count, oVolume.qui64Bytes_Count,
                                                   oVolume.qui64Bytes_Free_Count)
                                : qsPoll_Error(oResult, oVolume) + ".");
    return oResult.bOk();
}

// Before the check fills: how much the fill takes, and about how long the check lasts at the
// rate the device reads at; qsBefore, where given, first.
bool MainWindow::bAsk_Fill(const QString &qsBefore)
{
    cWindow_Operator oOperator(this);
    quint64 qui64Sample = 0;
    qint64 qi64Ms = 0;
    QString qsWhy;
    if (!bRun_Step(oOperator, [&] {
            if (!bSample_Read_Rate(oDrive.qsDrive_Name, qMin<quint64>(oDrive.qui64Bytes_Count, 64 << 20),
                                   &qui64Sample, &qi64Ms, &qsWhy))
                qui64Sample = 0;
        }))
        return false;
    if (iMessageBox(
            qsFill_Ask_Heading(oVolume.qsVolume_Name),
            (qsBefore.isEmpty() ? QString() : qsBefore + "\n\n") +
                qsFill_Ask_Text(oVolume.qui64Bytes_Free_Count, oDrive.qui64Bytes_Count, qui64Sample, qi64Ms, qsWhy),
            iMsgBox_Question_Icon, iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_Yes_Button, 0,
            "") == iMsgBox_Yes_Button)
        return true;
    vShow_Step(2, "не начато: вы отказались.");
    return false;
}

bool MainWindow::bFill_Step()
{
    cWindow_Operator oOperator(this);
    cFill_Result oResult;
    vShow_Step(2, "идёт…");
    const bool bOpen = bRun_Step(oOperator, [&] { oResult = oFill(oDrive, oVolume, oData, oOperator); });
    oLast_Fill = oResult;
    if (!bOpen)
        return false;
    if (oResult.eStatus == eFill_Refused) { // the operator said no
        vShow_Step(2, "не начато: вы отказались.");
        return false;
    }
    vShow_Step(2, qsFill_Done_Text(oResult.eStatus == eFill_Cancelled ? "прервано"
                                   : bFill_Ok(oResult)                ? "завершено"
                                                                      : "ошибка",
                                   oResult.qui64Words_Written * 8));
    if (!bFill_Ran(oResult))
        iMessageBox("Ошибка!", qsFill_Failure(oResult, oOperator.qsPoll_First()), iMsgBox_Critical_Icon,
                    iMsgBox_OK_Button, 0, 0, "");
    else
        iMessageBox(qsFill_Heading(oResult), qsFill_Summary(oResult), iFill_Icon(oResult), iMsgBox_OK_Button, 0, 0, "");
    if (oResult.eStatus == eFill_Cancelled && !oResult.bAbandoned) // a file left behind by writers is not touched
        vOffer_Clean(oOperator);
    return bFill_Ok(oResult) || bFill_Wrote_Then_Failed(oResult);
}

bool MainWindow::bRead_Step()
{
    cWindow_Operator oOperator(this);
    cRead_Result oResult;
    vShow_Step(3, "идёт…");
    if (!bRun_Step(oOperator, [&] { oResult = oRead(oDrive, oVolume, oData, oOperator, oLast_Fill); }))
        return false;
    if (!bRead_Ran(oResult)) {
        vShow_Step(3, "не удалось.");
        iMessageBox("Ошибка!", qsRead_Failure(oResult, oOperator.qsPoll_First()), iMsgBox_Critical_Icon,
                    iMsgBox_OK_Button, 0, 0, "");
        return false;
    }
    vShow_Step(3, oResult.eStatus == eRead_Cancelled ? QString("прервано.")
                                                     : qsVerdict_Short(oResult.oVerdict.eValue) + ".");
    const QString qsLost = qsFill_Lost(oLast_Fill, oResult);
    if (!qsLost.isEmpty())
        iMessageBox("Внимание!", qsLost, iMsgBox_Warning_Icon, iMsgBox_OK_Button, 0, 0, "");
    if (iMessageBox(qsRead_Heading(oResult), qsRead_Summary(oResult), iRead_Icon(oResult), iMsgBox_OK_Button, 0, 0,
                    "Карта") == 0) {
        // The question to remove the fill comes when the map is closed, not over it.
        auto *qMap = new cMap_Window(oResult, this);
        qMap->setAttribute(Qt::WA_DeleteOnClose);
        connect(qMap, &QDialog::finished, this, [this] {
            cWindow_Operator oClean_Operator(this);
            vOffer_Clean(oClean_Operator);
        });
        qMap->show();
        return true;
    }
    vOffer_Clean(oOperator);
    return true;
}

// The checked medium, or one whose fill was stopped, goes back to its owner as it was, if
// they wish.
void MainWindow::vOffer_Clean(cWindow_Operator &oOperator)
{
    quint64 qui64Bytes = 0;
    QStringList qslFiles;
    // Listed off the window's thread: a FUSE driver still writing a stopped fill back makes
    // the listing wait for it.
    if (!bRun_Step(oOperator, [&] { qslFiles = qslFill_Names(oVolume, &qui64Bytes); }) || qslFiles.isEmpty())
        return;
    if (iMessageBox(qsClean_Question(qui64Bytes),
                    "Будут удалены только файлы заполнения:\n" + qslFiles.join('\n'), iMsgBox_Question_Icon,
                    iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_No_Button, 0, "") != iMsgBox_Yes_Button) {
        vShow_Step(4, "файл заполнения оставлен на носителе.");
        return;
    }
    cClean_Result oClean_Result;
    vShow_Step(4, "идёт…");
    if (!bRun_Step(oOperator, [&] { oClean_Result = oClean(oVolume); }))
        return;
    vShow_Step(4, oClean_Result.bOk() ? "файлы заполнения удалены." : "не удалось.");
    iMessageBox(oClean_Result.bOk() ? "Файлы заполнения удалены." : "Ошибка!",
                qsClean_Summary(oClean_Result, oOperator.qsPoll_First()),
                oClean_Result.bOk() ? iMsgBox_Information_Icon : iMsgBox_Critical_Icon, iMsgBox_OK_Button, 0, 0, "");
}

// Under the form: what is checked, and each step's state or result, so that what a step
// changed is in view whatever part of the form is.
void MainWindow::vBuild_Panel()
{
    qPanel = new QFrame(this);
    qPanel->setObjectName("widget_Check");
    static_cast<QFrame *>(qPanel)->setFrameShape(QFrame::StyledPanel);
    auto *qLayout = new QVBoxLayout(qPanel);
    auto *qTarget = new QLabel(qPanel);
    qTarget->setObjectName("label_Check_Target");
    qTarget->setTextFormat(Qt::PlainText);
    qTarget->setWordWrap(true);
    QFont qFont = qTarget->font();
    qFont.setBold(true);
    qTarget->setFont(qFont);
    auto *qSteps = new QLabel(qPanel);
    qSteps->setObjectName("label_Check_Steps");
    qSteps->setTextFormat(Qt::PlainText);
    qLayout->addWidget(qTarget);
    qLayout->addWidget(qSteps);
    qslStep_States = QStringList{"", "", "", "", ""};
    vSet_Target_Text(qsTarget_Text(qsDrive_Path, qsVolume_Path));
    vShow_Step(0, "");
}

void MainWindow::vSet_Target_Text(const QString &qsText)
{
    findChild<QLabel *>("label_Check_Target")->setText(qsText);
}

void MainWindow::vShow_Step(const int iStep, const QString &qsState)
{
    static const char *const apcSteps[] = {"1. Опрос", "Проба", "2. Заполнение", "3. Чтение", "Удаление заполнения"};
    qslStep_States[iStep] = qsState;
    QStringList qslLines;
    for (int i = 0; i < qslStep_States.size(); ++i)
        qslLines << QString("%1: %2").arg(apcSteps[i], qslStep_States[i].isEmpty() ? "—" : qslStep_States[i]);
    findChild<QLabel *>("label_Check_Steps")->setText(qslLines.join('\n'));
}
