#include "Functions_Batch.h"
#include "Functions_Chooser_Dialog.h"
#include "Functions_Core.h"
#include "Functions_Options.h"
#include "Functions_Report_Texts.h"
#include "Functions_Session.h"
#include "Functions_Window_Signals.h"
#include "mainwindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <malloc.h>
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

// A write to a closed pipe or past the file size limit fails with EPIPE or EFBIG, which the
// tool handles, instead of killing it.
void vIgnore_Write_Signals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// The arguments as Qt reads them; the first one decoding changed is kept in oOptions, as it
// would name another file ("dir\xff" became "dir\uFFFD").
QStringList qslDecode_Arguments(const int argc, char *argv[], cOptions &oOptions)
{
    QStringList qslArguments;
    for (int i = 0; i < argc; ++i) {
        qslArguments << QString::fromLocal8Bit(argv[i]);
        if (qslArguments.last().toLocal8Bit() != QByteArray(argv[i]) && oOptions.qsUndecodable.isEmpty())
            oOptions.qsUndecodable = qslArguments.last();
    }
    return qslArguments;
}

// The options end the tool (help, version, a usage error): parsed again with an application
// object, so that Qt's texts are in Russian, and printed.
int iPrint_Options(int &argc, char *argv[], const QStringList &qslArguments, cOptions &oOptions)
{
    QCoreApplication qApplication(argc, argv);
    vName(qApplication);
    return iParse_Options(qslArguments, oOptions, true);
}

// Root often has no runtime directory of its own (sudo, su): give it a private one.
void vGive_Runtime_Directory()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") || geteuid() != 0)
        return;
    const QString qsRuntime = qsRuntime_Directory();
    if (!qsRuntime.isEmpty())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(qsRuntime));
}

// Where no display is, Qt's platform plugin would abort the process with its own lines: the
// window is refused here first. -platform on the command line names one, as the variable does.
bool bDisplay_Missing(const int argc, char *argv[])
{
    for (const char *pcName : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(pcName))
            return false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return false;
    return true;
}

// Qt keeps argc by reference for the application's life: it is main's own.
std::unique_ptr<QCoreApplication> qApplication_For(const cOptions &oOptions, int &argc, char *argv[])
{
    switch (eApp_For(oOptions)) {
    case eApp_Widgets:
        return std::make_unique<QApplication>(argc, argv);
    case eApp_Gui:
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the map is drawn into an image, never shown
        return std::make_unique<QGuiApplication>(argc, argv);
    case eApp_Core:
        break;
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

// The window: the root explanation alone, or the chooser first when asked for, then the form.
int iRun_Window(cOptions &oOptions, QCoreApplication &qApplication)
{
    if (oOptions.bExplain_Root) {
        iMessageBox(qsRoot_Heading(), qsRoot_Text(oOptions.qsRoot_Reason), iMsgBox_Warning_Icon, iMsgBox_OK_Button, 0,
                    0, "");
        return iExit_Failed;
    }
    QString qsTarget;
    if (oOptions.bChoose) {
        cChooser_Dialog oChooser;
        if (oChooser.exec() != QDialog::Accepted)
            return iExit_Ok;
        oOptions.qsDevice = oChooser.qsDevice();
        oOptions.qsVolume = oChooser.qsVolume();
        qsTarget = oChooser.qsTarget();
    }
    MainWindow w(nullptr, oOptions.qsDevice, oOptions.qsVolume);
    w.show();
    // «Проверить» in the chooser starts the check itself, once the window is drawn.
    if (!qsTarget.isEmpty()) {
        w.vSet_Target_Text(qsTarget);
        QTimer::singleShot(0, &w, [&w] { w.vRun_Check(); });
    }
    bClose_On_Signals(&w); // without it a signal still ends the tool, only less gently
    return qApplication.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    vOpen_Standard_Descriptors();
    vIgnore_Write_Signals();
    // Each thread's malloc arena reserves 64 MiB of address space: under an address-space
    // limit (ulimit -v) the readers' and writers' reservations, not their data, would run out.
    mallopt(M_ARENA_MAX, 4);

    // Options first: a usage error must not need a display.
    cOptions oOptions;
    const QStringList qslArguments = qslDecode_Arguments(argc, argv, oOptions);
    if (iParse_Options(qslArguments, oOptions, false) != iOptions_Go_On)
        return iPrint_Options(argc, argv, qslArguments, oOptions);
    // The launcher could not get root: said on the terminal first, which needs no display.
    if (oOptions.bExplain_Root)
        bWrite_Stream(stderr, qsRoot_Heading() + "\n" + qsRoot_Text(oOptions.qsRoot_Reason) + "\n");

    if (eApp_For(oOptions) == eApp_Widgets && bDisplay_Missing(argc, argv)) {
        bWrite_Stream(stderr, qsNo_Display_Text());
        return iExit_Failed;
    }
    vGive_Runtime_Directory();
    const std::unique_ptr<QCoreApplication> qApplication = qApplication_For(oOptions, argc, argv);
    vName(*qApplication);
    if (oOptions.bBatch)
        return iRun_Batch(oOptions, oDrive, oVolume, oData);
    if (oOptions.bList)
        return iRun_List(oOptions);
    return iRun_Window(oOptions, *qApplication);
}
