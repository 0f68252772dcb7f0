#include "Functions_Batch.h"
#include "mainwindow.h"

#include <QApplication>
#include <QGuiApplication>

#include <memory>

int main(int argc, char *argv[])
{
    // Batch mode must start without a display, so the kind of application object is
    // chosen before one exists.
    const eApp_Kind eKind = eApp_For(argc, argv);
    std::unique_ptr<QCoreApplication> qApplication;
    if (eKind == eApp_Widgets) {
        qApplication.reset(new QApplication(argc, argv));
    } else if (eKind == eApp_Gui) {
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the map is drawn into an image, never shown
        qApplication.reset(new QGuiApplication(argc, argv));
    } else {
        qApplication.reset(new QCoreApplication(argc, argv));
    }
    QCoreApplication::setApplicationName("fillscan");
    QCoreApplication::setApplicationVersion(FILLSCAN_VERSION);

    cOptions oOptions;
    const int iParsed = iParse_Options(QCoreApplication::arguments(), oOptions);
    if (iParsed >= 0)
        return iParsed;
    if (oOptions.bBatch)
        return iRun_Batch(oOptions);

    MainWindow w(nullptr, oOptions.qsDevice, oOptions.qsVolume);
    w.show();
    return qApplication->exec();
}
