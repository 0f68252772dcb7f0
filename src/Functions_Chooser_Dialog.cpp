#include "Functions_Chooser_Dialog.h"

#include "Functions_Core.h"
#include "Functions_Text.h"
#include "Functions_UDisks.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <atomic>
#include <memory>

namespace {

// Where an item's entry lies in the list: the device, and the partition (-1 for the device).
const int iRole_Disk = Qt::UserRole;
const int iRole_Part = Qt::UserRole + 1;

QStringList qslColumns(const cDevice_Entry &oEntry, const bool bWhole)
{
    QString qsLink;
    if (bWhole)
        qsLink = oEntry.bUsb()                   ? QString("USB")
                 : !oEntry.qsTransport.isEmpty() ? oEntry.qsTransport.toUpper()
                 : oEntry.qsType == "loop"       ? QString("образ")
                                                 : QString("—");
    const QString qsMaker = bWhole ? (oEntry.qsVendor + " " + oEntry.qsModel).trimmed() : QString();
    QString qsName = oEntry.qsPath;
    if (bWhole && oEntry.bSystem)
        qsName += " (системный диск)";
    QString qsMount = oEntry.qsMount;
    if (qsMount.isEmpty())
        qsMount = qsMount_Text(oEntry).replace("разделы смонтированы в ", "разделы: ");
    return {qsName,         qsSize_Text(oEntry.qui64Bytes),
            qsLink,         qsMaker.isEmpty() && bWhole ? QString("—") : qsMaker,
            oEntry.qsFs,    oEntry.qsLabel,
            qsMount};
}

// The partition mounted at qsMount (the disk itself when it is).
const cDevice_Entry &oMount_Entry(const cDevice_Entry &oDisk, const QString &qsMount)
{
    for (const cDevice_Entry &oPart : oDisk.qvParts)
        if (oPart.qsMount == qsMount)
            return oPart;
    return oDisk;
}

QString qsChosen_Text(const cDevice_Entry &oDisk, const cDevice_Entry &oVolume, const QString &qsMount)
{
    QStringList qslDisk = {qsSize_Text(oDisk.qui64Bytes)};
    const QString qsMaker = (oDisk.qsVendor + " " + oDisk.qsModel).trimmed();
    if (!qsMaker.isEmpty())
        qslDisk << qsMaker;
    QString qsText = "Проверяется носитель " + oDisk.qsPath + " (" + qslDisk.join(", ") + ")";
    QStringList qslVolume;
    if (oVolume.qsPath != oDisk.qsPath)
        qslVolume << oVolume.qsPath;
    if (!oVolume.qsFs.isEmpty())
        qslVolume << oVolume.qsFs;
    if (!oVolume.qsLabel.isEmpty())
        qslVolume << "метка «" + oVolume.qsLabel + "»";
    return qsLine_Safe(qsText + ", заполняется раздел " + qsMount +
                       (qslVolume.isEmpty() ? QString() : " (" + qslVolume.join(", ") + ")"));
}

// The partition the volume qsMount is (the chosen entry when it was just mounted).
const cDevice_Entry &oMount_Entry_Of(const cDevice_Entry &oDisk, const cDevice_Entry &oChosen, const QString &qsMount)
{
    return oChosen.qsPath != oDisk.qsPath || oDisk.qsMount == qsMount ? oChosen : oMount_Entry(oDisk, qsMount);
}

} // namespace

cChooser_Dialog::cChooser_Dialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle("fillscan — выбор носителя");
    auto *qLayout = new QVBoxLayout(this);
    auto *qLabel_Head = new QLabel("Выберите носитель (например, флешку) или его раздел. Проверка заполнит свободное "
                                   "место раздела файлом data.data, затем прочитает весь носитель.",
                                   this);
    qLabel_Head->setWordWrap(true);
    qLayout->addWidget(qLabel_Head);
    qTree = new QTreeWidget(this);
    qTree->setObjectName("treeWidget_Devices");
    qTree->setHeaderLabels(
        {"Носитель", "Объём", "Подключение", "Производитель и модель", "ФС", "Метка", "Смонтирован в"});
    qTree->setRootIsDecorated(true);
    qTree->setUniformRowHeights(true);
    qLayout->addWidget(qTree, 1);
    qLabel_Note = new QLabel(this);
    qLabel_Note->setObjectName("label_Note");
    qLabel_Note->setWordWrap(true);
    qLayout->addWidget(qLabel_Note);
    auto *qButtons = new QHBoxLayout;
    auto *qRefresh = new QPushButton("Обновить", this);
    qRefresh->setObjectName("pushButton_Refresh");
    qButton_Choose = new QPushButton("Проверить", this);
    qButton_Choose->setObjectName("pushButton_Choose");
    qButton_Choose->setDefault(true);
    auto *qCancel = new QPushButton("Отмена", this);
    qButtons->addWidget(qRefresh);
    qButtons->addStretch();
    qButtons->addWidget(qButton_Choose);
    qButtons->addWidget(qCancel);
    qLayout->addLayout(qButtons);
    connect(qRefresh, &QPushButton::clicked, this, &cChooser_Dialog::vRefresh);
    connect(qButton_Choose, &QPushButton::clicked, this, &cChooser_Dialog::vChoose);
    connect(qCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(qTree, &QTreeWidget::itemDoubleClicked, this, &cChooser_Dialog::vChoose);
    connect(qTree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *qItem) { qButton_Choose->setEnabled(qItem != nullptr); });
    // Room for a model name and a mount point on a laptop screen, and never more than it.
    const QRect qrScreen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                            : QRect(0, 0, 1366, 768);
    resize(qMin(960, qrScreen.width() - 40), qMin(460, qrScreen.height() - 60));
    vRefresh();
}

void cChooser_Dialog::vRefresh()
{
    QVector<cDevice_Entry> qvList;
    eDevice_Source eSource = eSource_Lsblk;
    QString qsError;
    if (!bList_Devices(&qvList, &eSource, &qsError)) {
        vShow_Devices({}, "Не удалось получить список носителей: " + qsError + ".");
        return;
    }
    const QString qsLsblk = "несмонтированный раздел смонтируйте сами (например, открыв его в файловом "
                            "менеджере) и нажмите «Обновить».";
    vShow_Devices(qvList, eSource == eSource_UDisks ? QString("Список от UDisks2; несмонтированный раздел можно "
                                                              "смонтировать отсюда.")
                          : eSource == eSource_Lsblk_UDisks_Empty ? qsUDisks_Empty_Text() + " Поэтому " + qsLsblk
                                                                  : "Список от lsblk; " + qsLsblk);
}

void cChooser_Dialog::vShow_Devices(const QVector<cDevice_Entry> &qvList, const QString &qsNote)
{
    qvDevices = qvList;
    qTree->clear();
    QTreeWidgetItem *qFirst = nullptr;
    for (int d = 0; d < qvDevices.size(); ++d) {
        const cDevice_Entry &oDisk = qvDevices[d];
        auto *qItem = new QTreeWidgetItem(qTree, qslColumns(oDisk, true));
        qItem->setData(0, iRole_Disk, d);
        qItem->setData(0, iRole_Part, -1);
        QFont qFont = qItem->font(0);
        qFont.setBold(true);
        qItem->setFont(0, qFont);
        if (oDisk.bSystem)
            qItem->setForeground(0, QColor(170, 0, 0));
        for (int p = 0; p < oDisk.qvParts.size(); ++p) {
            auto *qPart = new QTreeWidgetItem(qItem, qslColumns(oDisk.qvParts[p], false));
            qPart->setData(0, iRole_Disk, d);
            qPart->setData(0, iRole_Part, p);
        }
        qItem->setExpanded(true);
        if (!qFirst && !oDisk.bSystem)
            qFirst = qItem;
    }
    for (int c = 0; c < qTree->columnCount(); ++c)
        qTree->resizeColumnToContents(c);
    // lsblk without udev knows no file system types or labels: no empty column then.
    bool bAny_Fs = false, bAny_Label = false;
    for (const cDevice_Entry &oDisk : qvDevices) {
        bAny_Fs = bAny_Fs || !oDisk.qsFs.isEmpty();
        bAny_Label = bAny_Label || !oDisk.qsLabel.isEmpty();
        for (const cDevice_Entry &oPart : oDisk.qvParts) {
            bAny_Fs = bAny_Fs || !oPart.qsFs.isEmpty();
            bAny_Label = bAny_Label || !oPart.qsLabel.isEmpty();
        }
    }
    qTree->setColumnHidden(4, !bAny_Fs);
    qTree->setColumnHidden(5, !bAny_Label);
    qTree->setCurrentItem(qFirst);
    qButton_Choose->setEnabled(qFirst != nullptr);
    qLabel_Note->setText(qvDevices.isEmpty() && !qsNote.startsWith("Не удалось") ? "Носителей не найдено. " + qsNote
                                                                                 : qsNote);
}

void cChooser_Dialog::vChoose()
{
    const QTreeWidgetItem *qItem = qTree->currentItem();
    if (!qItem)
        return;
    const cDevice_Entry &oDisk = qvDevices.at(qItem->data(0, iRole_Disk).toInt());
    const int iPart = qItem->data(0, iRole_Part).toInt();
    QString qsMount = iPart < 0 ? qsFirst_Mount(oDisk) : oDisk.qvParts.at(iPart).qsMount;
    if (qsMount == "[SWAP]")
        qsMount.clear();
    // A whole stick with one partition, none mounted: that partition is what gets mounted.
    const cDevice_Entry &oEntry = iPart >= 0                                        ? oDisk.qvParts.at(iPart)
                                  : qsMount.isEmpty() && oDisk.qvParts.size() == 1 ? oDisk.qvParts.first()
                                                                                   : oDisk;
    // The second yes, before anything is done to it: this disk holds the running system.
    if (oDisk.bSystem &&
        iMessageBox("Это системный диск.",
                    oDisk.qsPath +
                        " — диск, на котором работает система. Заполнение займёт всё свободное место "
                        "раздела " +
                        (qsMount.isEmpty() ? oEntry.qsPath : qsMount) +
                        ", пока файл не будет удалён. Проверять его всё равно?",
                    iMsgBox_Warning_Icon, iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_No_Button, 0, "") != iMsgBox_Yes_Button)
        return;
    if (qsMount.isEmpty() && !bMount(oEntry, oEntry.qsPath != oDisk.qsPath, &qsMount))
        return;
    qsChosen_Device = oDisk.qsPath;
    qsChosen_Volume = qsMount.endsWith('/') ? qsMount : qsMount + "/";
    qsChosen_Target = qsChosen_Text(oDisk, oMount_Entry_Of(oDisk, oEntry, qsMount), qsChosen_Volume);
    accept();
}

// An unmounted partition (bPartition) or whole device: mounted through UDisks2 where it can be,
// after a yes; false when it is not.
bool cChooser_Dialog::bMount(const cDevice_Entry &oEntry, const bool bPartition, QString *pqsMount)
{
    const QString qsHeading = bPartition ? "Раздел не смонтирован." : "Носитель не смонтирован.";
    if (oEntry.qsObject.isEmpty()) {
        iMessageBox(qsHeading,
                    (bPartition ? "Раздел " + oEntry.qsPath + " не смонтирован"
                                : "На носителе " + oEntry.qsPath + " нет смонтированного раздела") +
                        ", заполнять нечего. Смонтируйте раздел (например, откройте его в файловом менеджере) "
                        "и нажмите «Обновить», или выберите другой.",
                    iMsgBox_Warning_Icon, iMsgBox_OK_Button, 0, 0, "");
        return false;
    }
    if (iMessageBox(qsHeading, "Смонтировать " + oEntry.qsPath + (oEntry.qsLabel.isEmpty() ? QString() : " «" + oEntry.qsLabel + "»") + "?",
                    iMsgBox_Question_Icon, iMsgBox_Yes_Button | iMsgBox_No_Button, iMsgBox_Yes_Button, 0,
                    "") != iMsgBox_Yes_Button)
        return false;
    QString qsError;
    if (!bMount_Off_Dialog(oEntry.qsObject, pqsMount, &qsError)) {
        if (!qsError.isEmpty())
            iMessageBox("Ошибка!", "Не удалось смонтировать " + oEntry.qsPath + ": " + qsError + ".",
                        iMsgBox_Critical_Icon, iMsgBox_OK_Button, 0, 0, "");
        return false;
    }
    return true;
}

bool cChooser_Dialog::bMount_Off_Dialog(const QString &qsObject, QString *pqsMount, QString *pqsError)
{
    // Shared with the thread: a cancelled mount may still end after this returns.
    struct cMount_State
    {
        std::atomic<bool> bDone{false};
        bool bOk = false;
        QString qsMount, qsError;
    };
    auto pState = std::make_shared<cMount_State>();
    QThread *qThread = QThread::create([pState, qsObject] {
        pState->bOk = bUDisks_Mount(qsObject, &pState->qsMount, &pState->qsError);
        pState->bDone = true;
    });
    connect(qThread, &QThread::finished, qThread, &QObject::deleteLater);
    QProgressDialog qBusy("Раздел монтируется…", "Отмена", 0, 0, this);
    qBusy.setWindowTitle("Монтирование");
    qBusy.setWindowModality(Qt::WindowModal);
    qBusy.setMinimumDuration(0);
    QEventLoop qLoop;
    connect(qThread, &QThread::finished, &qLoop, &QEventLoop::quit);
    connect(&qBusy, &QProgressDialog::canceled, &qLoop, &QEventLoop::quit);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    qThread->start();
    qBusy.show();
    qLoop.exec();
    QApplication::restoreOverrideCursor();
    if (!pState->bDone) {
        pqsError->clear();
        qLabel_Note->setText("Монтирование отменено; если раздел всё же смонтируется, нажмите «Обновить».");
        return false;
    }
    *pqsMount = pState->qsMount;
    *pqsError = pState->qsError;
    return pState->bOk;
}
