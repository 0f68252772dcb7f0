// Takes the README's pictures of the desktop use, under an X server with a window manager:
//   fillscan_desktop_shots chooser PARTITION OUT.png       the media chooser, PARTITION chosen
//   fillscan_desktop_shots window DEVICE VOLUME OUT.png    the window after a poll, scrolled to its buttons
//   fillscan_desktop_shots remove DEVICE VOLUME OUT.png    the question after the read (answered no)
#include "Functions_Chooser_Dialog.h"
#include "Functions_Core.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QTreeWidget>

namespace {

bool bShoot(const QString &qsPath)
{
    return QGuiApplication::primaryScreen()->grabWindow(0).save(qsPath, "PNG");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication qApplication(argc, argv);
    vInstall_Translations(qApplication);
    const QStringList qslArguments = QCoreApplication::arguments();
    const QString qsMode = qslArguments.value(1);
    int iResult = 1;
    if (qsMode == "chooser" && qslArguments.size() == 4) {
        cChooser_Dialog oChooser;
        auto *qTree = oChooser.findChild<QTreeWidget *>("treeWidget_Devices");
        qTree->setCurrentItem(qTree->findItems(qslArguments[2], Qt::MatchExactly | Qt::MatchRecursive).value(0));
        oChooser.show();
        QTimer::singleShot(1000, [&] {
            iResult = bShoot(qslArguments[3]) ? 0 : 1;
            oChooser.reject();
        });
        oChooser.exec();
        return iResult;
    }
    if ((qsMode != "window" && qsMode != "remove") || qslArguments.size() != 5)
        return 2;
    MainWindow oWindow(nullptr, qslArguments[2], qslArguments[3]);
    oWindow.show();
    QTimer qWatch;
    QObject::connect(&qWatch, &QTimer::timeout, [&] {
        auto *qBox = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!qBox || qBox->property("answered").toBool())
            return;
        qBox->setProperty("answered", true);
        if (!qBox->text().startsWith("Удалить")) {
            QTimer::singleShot(100, qBox, [qBox] { qBox->button(QMessageBox::Ok)->click(); });
            return;
        }
        QTimer::singleShot(800, qBox, [&, qBox] {
            iResult = bShoot(qslArguments[4]) ? 0 : 1;
            qBox->button(QMessageBox::No)->click();
            qApplication.exit(iResult);
        });
    });
    qWatch.start(100);
    QTimer::singleShot(500, [&] {
        QMetaObject::invokeMethod(&oWindow, "on_pushButton_Properties_clicked");
        if (auto *qScroll = oWindow.findChild<QScrollArea *>("scrollArea_Form"))
            qScroll->ensureWidgetVisible(oWindow.findChild<QPushButton *>("pushButton_Read"));
        if (qsMode == "window") {
            QTimer::singleShot(800, [&] { qApplication.exit(bShoot(qslArguments[4]) ? 0 : 1); });
            return;
        }
        QMetaObject::invokeMethod(&oWindow, "on_pushButton_Read_clicked");
    });
    return qApplication.exec();
}
