// Takes the README's pictures of a read: starts the window on a device and a volume, polls,
// reads, and saves the screen while the read's summary is open, then with its map window.
//   fillscan_screenshots DEVICE VOLUME SUMMARY.png MAP.png      (under an X server)
#include "Functions_Core.h"
#include "Functions_Map.h"
#include "Functions_Map_Window.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication qApplication(argc, argv);
    vInstall_Translations(qApplication);
    const QStringList qslArguments = QCoreApplication::arguments();
    if (qslArguments.size() != 5)
        return 2;
    MainWindow oWindow(nullptr, qslArguments[1], qslArguments[2]);
    oWindow.show();
    auto vShoot = [](const QString &qsPath) {
        return QGuiApplication::primaryScreen()->grabWindow(0).save(qsPath, "PNG");
    };
    bool bSummary = false, bFailed = false;
    QTimer qWatch;
    QObject::connect(&qWatch, &QTimer::timeout, [&] {
        auto *qBox = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (qBox && qBox->text().startsWith("Провести")) // the poll's offer of the probe: not in these pictures
            return qBox->button(QMessageBox::No)->click();
        if (qBox && !bSummary) {
            bSummary = true;
            QTimer::singleShot(800, [&, qBox] {
                bFailed = !vShoot(qslArguments[3]);
                for (QAbstractButton *qButton : qBox->buttons())
                    if (qButton->text() == "Карта")
                        qButton->click();
            });
        }
        if (qBox && bSummary && qBox->text().startsWith("Удалить")) // the fill stays for the next picture
            qBox->button(QMessageBox::No)->click();
        auto *qMap = oWindow.findChild<cMap_Window *>();
        if (bSummary && qMap && qMap->isVisible()) {
            qWatch.stop();
            QTimer::singleShot(800, [&] {
                bFailed = bFailed || !vShoot(qslArguments[4]);
                qApplication.exit(bFailed ? 1 : 0);
            });
        }
    });
    qWatch.start(200);
    QTimer::singleShot(300, [&] {
        QMetaObject::invokeMethod(&oWindow, "on_pushButton_Properties_clicked");
        QMetaObject::invokeMethod(&oWindow, "on_pushButton_Read_clicked");
    });
    return qApplication.exec();
}
