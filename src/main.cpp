#include "Functions_Batch.h"
#include "Functions_Chooser_Dialog.h"
#include "Functions_Core.h"
#include "Functions_Dialogs.h"
#include "Functions_Report_Texts.h"
#include "Functions_Session.h"
#include "mainwindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void vName(QCoreApplication &qApplication)
{
    qApplication.setApplicationName("fillscan");
    qApplication.setApplicationVersion(FILLSCAN_VERSION);
    vInstall_Translations(qApplication);
}

} // namespace

namespace {

// A descriptor 0-2 left closed by whoever started the tool would be handed to the first
// file it opens (the volume, the fill file), and messages to standard error would land
// in that file.
void vOpen_Standard_Descriptors()
{
    for (int iFD = 0; iFD <= 2; ++iFD)
        if (fcntl(iFD, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != iFD)
            std::abort(); // the lowest free descriptor is iFD: nothing else can be meant
}

// Root's runtime directory: one per user, reused, made private and never through a link.
// Empty when it cannot be trusted.
QString qsRuntime_Directory()
{
    const QByteArray qbaPath = QFile::encodeName(QDir::tempPath()) + "/fillscan-runtime-" + QByteArray::number(geteuid());
    if (mkdir(qbaPath.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    struct stat strDir;
    if (lstat(qbaPath.constData(), &strDir) != 0 || !S_ISDIR(strDir.st_mode) || strDir.st_uid != geteuid() ||
        (strDir.st_mode & 077) != 0)
        return QString();
    return QFile::decodeName(qbaPath);
}

} // namespace

int main(int argc, char *argv[])
{
    vOpen_Standard_Descriptors();

    // A write to a closed pipe or past the file size limit fails with EPIPE or EFBIG, which
    // the tool handles, instead of killing it.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    // Options first: a usage error must not need a display.
    QStringList qslArguments;
    cOptions oOptions;
    for (int i = 0; i < argc; ++i) {
        qslArguments << QString::fromLocal8Bit(argv[i]);
        // A name the decoding changed would name another file ("dir\xff" became "dir\uFFFD").
        if (qslArguments.last().toLocal8Bit() != QByteArray(argv[i]) && oOptions.qsUndecodable.isEmpty())
            oOptions.qsUndecodable = qslArguments.last();
    }
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
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && geteuid() == 0) {
        const QString qsRuntime = qsRuntime_Directory();
        if (!qsRuntime.isEmpty())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(qsRuntime));
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
