#include "Functions_Window_Signals.h"

#include <QSocketNotifier>
#include <QWidget>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] the handler writes, [1] the window reads; set once, before the handlers.
int aiSignal_Socket[2] = {-1, -1};

void vOn_Signal(int)
{
    const char cByte = 1;
    const ssize_t ssWritten = write(aiSignal_Socket[0], &cByte, 1); // async-signal-safe; a full socket has one already
    (void)ssWritten;
}

} // namespace

bool bClose_On_Signals(QWidget *qWindow)
{
    if (aiSignal_Socket[0] < 0 &&
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, aiSignal_Socket) != 0)
        return false;
    auto *qNotifier = new QSocketNotifier(aiSignal_Socket[1], QSocketNotifier::Read, qWindow);
    QObject::connect(qNotifier, &QSocketNotifier::activated, qWindow, [qWindow] {
        char acBytes[16];
        while (read(aiSignal_Socket[1], acBytes, sizeof acBytes) > 0) {
        }
        qWindow->close();
    });
    struct sigaction strAction = {};
    strAction.sa_handler = vOn_Signal;
    sigemptyset(&strAction.sa_mask);
    strAction.sa_flags = SA_RESTART;
    bool bAll = true;
    for (const int iSignal : {SIGTERM, SIGINT, SIGHUP})
        bAll = sigaction(iSignal, &strAction, nullptr) == 0 && bAll;
    return bAll;
}
