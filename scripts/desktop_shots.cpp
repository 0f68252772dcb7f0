// Takes the README's pictures of the desktop use, under an X server with a window manager:
//   fillscan_desktop_shots chooser PARTITION OUT.png       the media chooser, PARTITION chosen
//   fillscan_desktop_shots window DEVICE VOLUME OUT.png    the window as it opens
//   fillscan_desktop_shots check PARTITION OUTDIR          the check as a new user makes it: the
//       chooser, «Проверить», yes to the fill, the verdict, the map, yes to the removal; a
//       picture of each step in OUTDIR, numbered in order (check-01-chooser.png … check-NN-done.png)
#include "Functions_Chooser_Dialog.h"
#include "Functions_Core.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

namespace {

bool bShoot(const QString &qsPath)
{
    return QGuiApplication::primaryScreen()->grabWindow(0).save(qsPath, "PNG");
}

void vChoose(cChooser_Dialog &oChooser, const QString &qsPartition)
{
    auto *qTree = oChooser.findChild<QTreeWidget *>("treeWidget_Devices");
    qTree->setCurrentItem(qTree->findItems(qsPartition, Qt::MatchExactly | Qt::MatchRecursive).value(0));
}

// Answers each box and window of the check as a new user would, a picture of each first.
class cCheck_User : public QObject
{
public:
    cCheck_User(const QString &qsDir) : qsOut(qsDir)
    {
        connect(&qWatch, &QTimer::timeout, this, [this] { vLook(); });
        qWatch.start(200);
    }
    bool bOk = true;

private:
public:
    void vShoot(const QString &qsWhat) { bOk = bShoot(QString("%1/check-%2-%3.png").arg(qsOut).arg(++iShot, 2, 10, QLatin1Char('0')).arg(qsWhat)) && bOk; }

private:
    void vShoot_Then(QWidget *qWidget, const QString &qsWhat, const std::function<void()> &fAnswer, const int iMs = 700)
    {
        qWidget->setProperty("answered", true);
        QTimer::singleShot(iMs, qWidget, [this, qsWhat, fAnswer] {
            vShoot(qsWhat);
            fAnswer();
        });
    }
    void vLook()
    {
        QWidget *qModal = QApplication::activeModalWidget();
        for (QWidget *qTop : QApplication::topLevelWidgets()) // the map is no modal window
            if (!qModal && qTop->inherits("cMap_Window") && qTop->isVisible())
                qModal = qTop;
        if (!qModal || qModal->property("answered").toBool())
            return;
        if (auto *qBar = qModal->findChild<QProgressBar *>()) {
            if (qBar->value() >= 30)
                vShoot_Then(qModal, iProgress++ == 0 ? "filling" : "reading", [] {}, 50);
            return;
        }
        auto *qBox = qobject_cast<QMessageBox *>(qModal);
        if (!qBox) { // the map
            vShoot_Then(qModal, "map", [qModal] { qModal->close(); });
            return;
        }
        if (qBox->text().startsWith("Заполнить"))
            return vShoot_Then(qBox, "question", [qBox] { qBox->button(QMessageBox::Yes)->click(); });
        if (qBox->text().startsWith("Удалить"))
            return vShoot_Then(qBox, "remove", [qBox] { qBox->button(QMessageBox::Yes)->click(); });
        if (qBox->text().startsWith("Чтение завершено"))
            return vShoot_Then(qBox, "verdict", [qBox] {
                for (QAbstractButton *qButton : qBox->buttons())
                    if (qButton->text() == "Карта")
                        qButton->click();
            });
        const bool bLast = !qBox->text().startsWith("Заполнение");
        vShoot_Then(qBox, bLast ? "removed" : "filled", [this, qBox, bLast] {
            qBox->button(QMessageBox::Ok) ? qBox->button(QMessageBox::Ok)->click() : qBox->reject();
            if (bLast) // the check is over: the window as it is left
                QTimer::singleShot(700, [this] {
                    vShoot("done");
                    qApp->exit(bOk ? 0 : 1);
                });
        });
    }

    QString qsOut;
    QTimer qWatch;
    int iProgress = 0;
    int iShot = 1; // the chooser's is the first
};

int iCheck(const QString &qsPartition, const QString &qsDir)
{
    QString qsDevice, qsVolume, qsTarget;
    {
        cChooser_Dialog oChooser;
        vChoose(oChooser, qsPartition);
        oChooser.show();
        bool bShot = false;
        QTimer::singleShot(1000, [&] {
            bShot = bShoot(qsDir + "/check-01-chooser.png");
            oChooser.findChild<QPushButton *>("pushButton_Choose")->click();
        });
        if (oChooser.exec() != QDialog::Accepted || !bShot)
            return 1;
        qsDevice = oChooser.qsDevice();
        qsVolume = oChooser.qsVolume();
        qsTarget = oChooser.qsTarget();
    }
    MainWindow oWindow(nullptr, qsDevice, qsVolume);
    oWindow.vSet_Target_Text(qsTarget);
    oWindow.show();
    cCheck_User oUser(qsDir);
    QTimer::singleShot(300, [&] { oUser.vShoot("window"); });
    QTimer::singleShot(600, [&] { oWindow.vRun_Check(); });
    return qApp->exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication qApplication(argc, argv);
    vInstall_Translations(qApplication);
    const QStringList qslArguments = QCoreApplication::arguments();
    const QString qsMode = qslArguments.value(1);
    if (qsMode == "check" && qslArguments.size() == 4)
        return iCheck(qslArguments[2], qslArguments[3]);
    if (qsMode == "chooser" && qslArguments.size() == 4) {
        cChooser_Dialog oChooser;
        vChoose(oChooser, qslArguments[2]);
        oChooser.show();
        int iResult = 1;
        QTimer::singleShot(1000, [&] {
            iResult = bShoot(qslArguments[3]) ? 0 : 1;
            oChooser.reject();
        });
        oChooser.exec();
        return iResult;
    }
    if (qsMode != "window" || qslArguments.size() != 5)
        return 2;
    MainWindow oWindow(nullptr, qslArguments[2], qslArguments[3]);
    oWindow.show();
    QTimer::singleShot(1000, [&] { qApplication.exit(bShoot(qslArguments[4]) ? 0 : 1); });
    return qApplication.exec();
}
