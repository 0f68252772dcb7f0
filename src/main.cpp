#include "Functions_Batch.h"
#include "Functions_Chooser_Dialog.h"
#include "Functions_Core.h"
#include "Functions_Dialogs.h"
#include "Functions_Session.h"
#include "mainwindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
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

    if (oOptions.bExplain_Root) {
        // The launcher could not get root: said on the terminal first, which needs no display.
        const QByteArray qbaText = (qsRoot_Heading() + "\n" + qsRoot_Text(oOptions.qsRoot_Reason) + "\n").toUtf8();
        std::fwrite(qbaText.constData(), 1, size_t(qbaText.size()), stderr);
        std::fflush(stderr);
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
    if (oOptions.bList)
        return iRun_List(oOptions);

    vInstall_Message_Box(iMessageBox_Window);
    if (oOptions.bExplain_Root) {
        iMessageBox(qsRoot_Heading(), qsRoot_Text(oOptions.qsRoot_Reason), 2, iMsgBox_OK_Button, 0, 0, "");
        return 1;
    }
    if (oOptions.bChoose) {
        cChooser_Dialog oChooser;
        if (oChooser.exec() != QDialog::Accepted)
            return 0;
        oOptions.qsDevice = oChooser.qsDevice();
        oOptions.qsVolume = oChooser.qsVolume();
    }
    MainWindow w(nullptr, oOptions.qsDevice, oOptions.qsVolume);
    w.show();
    return qApplication->exec();
}
