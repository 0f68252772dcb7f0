#include "Functions_Map_Window.h"

#include "Functions_Core.h"
#include "Functions_Files.h"
#include "Functions_Map.h"
#include "Functions_Report.h"
#include "Functions_Session.h"
#include "Functions_Topology.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

// Shows the picture and answers hovering with the text for the point under the mouse.
class cMap_View : public QLabel
{
public:
    cMap_View(const cRead_Result &oResult, const QImage &qimgPicture, QWidget *parent) : QLabel(parent), oRead(oResult)
    {
        setPixmap(QPixmap::fromImage(qimgPicture));
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setMouseTracking(true);
    }

protected:
    bool event(QEvent *qEvent) override
    {
        if (qEvent->type() == QEvent::ToolTip) {
            auto *qHelp = static_cast<QHelpEvent *>(qEvent);
            const QString qsTip = qsMap_Tip(oRead, qHelp->pos());
            if (qsTip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(qHelp->globalPos(), qsTip, this);
            return true;
        }
        return QLabel::event(qEvent);
    }

private:
    const cRead_Result &oRead;
};

} // namespace

cMap_Window::cMap_Window(const cRead_Result &oResult, QWidget *parent) : QDialog(parent), oRead(oResult)
{
    oRead.vecRuns.clear(); // the map and the report need the counts, not every run
    oRead.vecRuns.shrink_to_fit();
    qimgMap = qimgMap_Render(oRead);
    setWindowTitle(qsMap_Title(oRead));
    setAttribute(Qt::WA_AlwaysShowToolTips); // hover texts without a click into the window first
    auto *qLayout = new QVBoxLayout(this);
    auto *qBody = new QHBoxLayout;
    auto *qScroll = new QScrollArea(this);
    qScroll->setWidget(new cMap_View(oRead, qimgMap, qScroll));
    qScroll->setWidgetResizable(false);
    auto *qSummary = new QPlainTextEdit(this);
    qSummary->setObjectName("plainTextEdit_Summary");
    qSummary->setReadOnly(true);
    qSummary->setPlainText(qsRead_Heading(oRead) + "\n" + qsRead_Summary(oRead));
    // The picture at its full width where the screen allows it; the summary takes the rest.
    const QRect qrScreen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                            : QRect(0, 0, 1366, 768);
    qScroll->setMinimumWidth(qMin(qimgMap.width() + 2 * qScroll->frameWidth() + 2, qrScreen.width() * 2 / 3));
    qBody->addWidget(qScroll, 0);
    qBody->addWidget(qSummary, 1);
    qLayout->addLayout(qBody);
    auto *qButtons = new QHBoxLayout;
    auto *qSave = new QPushButton("Сохранить карту (PNG)…", this);
    qSave->setObjectName("pushButton_Save");
    auto *qReport = new QPushButton("Сохранить отчёт…", this);
    qReport->setObjectName("pushButton_Save_Report");
    auto *qClose = new QPushButton("Закрыть", this);
    qButtons->addStretch();
    qButtons->addWidget(qSave);
    qButtons->addWidget(qReport);
    qButtons->addWidget(qClose);
    qLayout->addLayout(qButtons);
    connect(qSave, &QPushButton::clicked, this, &cMap_Window::vSave_Picture);
    connect(qReport, &QPushButton::clicked, this, &cMap_Window::vSave_Report);
    connect(qClose, &QPushButton::clicked, this, &QDialog::accept);
    // The picture and the summary side by side where there is room; scrolled, never cut off.
    resize(qMin(qimgMap.width() + 460, qrScreen.width() - 40), qMin(qimgMap.height() + 80, qrScreen.height() - 60));
    move(qrScreen.center() - rect().center());
}

QByteArray cMap_Window::qbaReport(const bool bJson) const
{
    const QByteArray qbaJson = QJsonDocument(qjRead(oRead, oRead.eStatus == eRead_Done)).toJson(QJsonDocument::Compact);
    if (bJson)
        return qbaJson + "\n";
    return (qsRead_Heading(oRead) + "\n" + qsRead_Summary(oRead) + "\n\n").toUtf8() + qbaJson + "\n";
}

void cMap_Window::vSave_Picture()
{
    const QString qsPath =
        QFileDialog::getSaveFileName(this, "Сохранить карту", qsSave_Directory() + "/map.png", "PNG (*.png)");
    if (qsPath.isEmpty())
        return;
    // Saved as root under pkexec or sudo, the file goes to the user who started the tool.
    QString qsError = qsUnsafe_Output(qsPath, oRead.qsDevice, oRead.qsVolume);
    if (!qsError.isEmpty() || !bSave_Png(qimgMap, qsPath, &qsError) || !bGive_To_User(qsPath, &qsError))
        iMessageBox("Ошибка!", QString("Не удалось сохранить карту в %1: %2.").arg(qsPath, qsError), 3,
                    iMsgBox_OK_Button, 0, 0, "");
}

void cMap_Window::vSave_Report()
{
    QString qsFilter;
    const QString qsPath = QFileDialog::getSaveFileName(this, "Сохранить отчёт", qsSave_Directory() + "/report.txt",
                                                        "Текст (*.txt);;JSON (*.json)", &qsFilter);
    if (qsPath.isEmpty())
        return;
    QString qsError = qsUnsafe_Output(qsPath, oRead.qsDevice, oRead.qsVolume);
    if (!qsError.isEmpty() ||
        !bSave_File(qsPath, qbaReport(qsPath.endsWith(".json") || qsFilter.startsWith("JSON")), &qsError) ||
        !bGive_To_User(qsPath, &qsError))
        iMessageBox("Ошибка!", QString("Не удалось сохранить отчёт в %1: %2.").arg(qsPath, qsError), 3,
                    iMsgBox_OK_Button, 0, 0, "");
}
