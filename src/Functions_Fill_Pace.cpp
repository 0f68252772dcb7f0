#include "Functions_Fill_Pace.h"

#include "Functions_Fuse_Server.h"

#include <QFile>
#include <QFileInfo>

#include <condition_variable>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

using tClock = std::chrono::steady_clock;

// A device that wrote less than the least lead in this long while the fill waited is not kept
// up by the write-back asked for (its cache is not the one the driver fills), or it stalls:
// the pace stands aside until it writes that much again.
const auto tGive_Up_After = std::chrono::seconds(10);

} // namespace

// Starts the write-back of the device's cache on a thread of its own: on a slow medium the
// call waits while the device's queue is full, and it must hold neither writer.
class cFill_Pace::cKicker
{
public:
    explicit cKicker(const int iFD) : iDevice(iFD) {}
    ~cKicker() { close(iDevice); }

    static void vRun(std::shared_ptr<cKicker> pKicker)
    {
        std::unique_lock<std::mutex> qLock(pKicker->qMutex);
        for (;;) {
            pKicker->qWake.wait(qLock, [&] { return pKicker->bKick || pKicker->bEnd; });
            if (pKicker->bEnd)
                return;
            pKicker->bKick = false;
            qLock.unlock();
            sync_file_range(pKicker->iDevice, 0, 0, SYNC_FILE_RANGE_WRITE); // a hint: its result changes nothing
            qLock.lock();
        }
    }
    void vSignal(const bool bFinish)
    {
        std::lock_guard<std::mutex> qLock(qMutex);
        (bFinish ? bEnd : bKick) = true;
        qWake.notify_one();
    }

private:
    const int iDevice;
    std::mutex qMutex;
    std::condition_variable qWake;
    bool bKick = false;
    bool bEnd = false;
};

std::shared_ptr<cFill_Pace> cFill_Pace::pFor(const QString &qsVolume, const quint64 qui64Least_Lead)
{
    const QString qsNode = qsFuse_Server_Node(qsVolume);
    if (qsNode.isEmpty())
        return nullptr;
    const QString qsStat = "/sys/class/block/" + QFileInfo(QFileInfo(qsNode).canonicalFilePath()).fileName() + "/stat";
    quint64 qui64Written = 0;
    if (!bDevice_Written(qsStat, &qui64Written))
        return nullptr;
    const int iFD = open(QFile::encodeName(qsNode).constData(), O_RDONLY | O_CLOEXEC);
    if (iFD < 0)
        return nullptr;
    return std::make_shared<cFill_Pace>(qsStat, iFD, qui64Least_Lead);
}

cFill_Pace::cFill_Pace(const QString &qsStat_Path, const int iDevice_FD, const quint64 qui64Least_Lead)
    : qsStat(qsStat_Path), pKicker(std::make_shared<cKicker>(iDevice_FD)), qui64Least(qui64Least_Lead),
      qui64Allowed(qui64Least_Lead)
{
    std::thread(cKicker::vRun, pKicker).detach();
}

cFill_Pace::~cFill_Pace()
{
    pKicker->vSignal(true);
}

bool cFill_Pace::bDevice_Written(const QString &qsStat_Path, quint64 *pqui64Bytes)
{
    QFile qFile(qsStat_Path);
    if (!qFile.open(QIODevice::ReadOnly))
        return false;
    // The seventh field: sectors written, in 512-byte units whatever the device's sector.
    const QList<QByteArray> qlFields = qFile.readAll().simplified().split(' ');
    bool bOk = false;
    *pqui64Bytes = qlFields.size() > 6 ? qlFields[6].toULongLong(&bOk) * 512 : 0;
    return bOk;
}

// Under the lock: whether the fill is more than allowed ahead; measures the device's rate
// meanwhile (over a second at least), half a second of it allowed, qui64Least at least.
bool cFill_Pace::bAhead(const quint64 qui64Filled)
{
    quint64 qui64Written = 0;
    if (!bDevice_Written(qsStat, &qui64Written))
        return false;
    const auto tNow = tClock::now();
    if (!bStarted) {
        bStarted = true;
        qui64Filled_Start = qui64Filled;
        qui64Written_Start = qui64Rate_Since = qui64Progress_Since = qui64Written;
        tRate_Since = tProgress_Since = tNow;
    }
    if (tNow - tRate_Since >= std::chrono::seconds(1)) {
        const qint64 qi64Ms = std::chrono::duration_cast<std::chrono::milliseconds>(tNow - tRate_Since).count();
        qui64Allowed = std::max(qui64Least, (qui64Written - qui64Rate_Since) * 1000 / quint64(qi64Ms) / 2);
        tRate_Since = tNow;
        qui64Rate_Since = qui64Written;
    }
    if (bAside && qui64Written - qui64Aside_At >= qui64Least)
        bAside = false; // it writes again: the fill waits for it again, what ran ahead included
    const bool bIs_Ahead =
        !bAside && qui64Filled - qui64Filled_Start > qui64Written - qui64Written_Start + qui64Allowed;
    if (!bIs_Ahead || tNow - tProgress_Since > tGive_Up_After) {
        // Since the fill was last within its lead, or for the last stretch of a wait, the
        // device is to write qui64Least: else it is not the one the driver fills, or it stalls.
        if (bIs_Ahead && qui64Written - qui64Progress_Since < qui64Least) {
            bAside = true;
            qui64Aside_At = qui64Written;
            return false;
        }
        tProgress_Since = tNow;
        qui64Progress_Since = qui64Written;
    }
    return bIs_Ahead;
}

bool cFill_Pace::bWait_Turn(const quint64 qui64Filled, const std::atomic<bool> &bStop)
{
    for (bool bKicked = false; !bStop; bKicked = true) {
        {
            std::lock_guard<std::mutex> qLock(qMutex);
            if (!bAhead(qui64Filled))
                return true;
        }
        if (!bKicked)
            pKicker->vSignal(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}
