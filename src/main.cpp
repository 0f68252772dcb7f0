#include "Functions_Batch.h"
#include "Functions_Core.h"
#include "Functions_Dialogs.h"
#include "mainwindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

#include <unistd.h>

namespace {

void vName(QCoreApplication &qApplication)
{
    qApplication.setApplicationName("fillscan");
    qApplication.setApplicationVersion(FILLSCAN_VERSION);
    vInstall_Translations(qApplication);
}

} // namespace

int main(int argc, char *argv[])
{
    // A write to a closed pipe or past the file size limit fails with EPIPE or EFBIG, which
    // the tool handles, instead of killing it.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    // Options first: a usage error must not need a display.
    QStringList qslArguments;
    for (int i = 0; i < argc; ++i)
        qslArguments << QString::fromLocal8Bit(argv[i]);
    cOptions oOptions;
    if (iParse_Options(qslArguments, oOptions, false) >= 0) {
        QCoreApplication qApplication(argc, argv);
        vName(qApplication);
        return iParse_Options(qslArguments, oOptions, true); // now in Russian, and printed
    }

    // Root often has no runtime directory of its own (sudo, su): give it a private one.
    std::unique_ptr<QTemporaryDir> pRuntime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && geteuid() == 0) {
        pRuntime.reset(new QTemporaryDir(QDir::tempPath() + "/fillscan-runtime-XXXXXX"));
        if (pRuntime->isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(pRuntime->path()));
    }
    std::unique_ptr<QCoreApplication> qApplication;
    switch (eApp_For(oOptions)) {
    case eApp_Widgets:
        qApplication.reset(new QApplication(argc, argv));
        break;
    case eApp_Gui:
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the map is drawn into an image, never shown
        qApplication.reset(new QGuiApplication(argc, argv));
        break;
    case eApp_Core:
        qApplication.reset(new QCoreApplication(argc, argv));
        break;
    }
    vName(*qApplication);
    if (oOptions.bBatch)
        return iRun_Batch(oOptions, oDrive, oVolume, oData);

    vInstall_Message_Box(iMessageBox_Window);
    MainWindow w(nullptr, oOptions.qsDevice, oOptions.qsVolume);
    w.show();
    return qApplication->exec();
}
