#include "Functions_Pool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// What the waiting thread and the workers share; a worker left behind keeps it alive.
class cWorkers
{
public:
    std::mutex qMutex;
    std::condition_variable qLeft;
    int iRunning = 0;
};

} // namespace

void cWorker_Gauge::vMeasure(const quint64 qui64Done_Bytes)
{
    const auto tNow = std::chrono::steady_clock::now();
    if (tSince == std::chrono::steady_clock::time_point()) {
        tSince = tNow;
        qui64Done_Since = qui64Done_Bytes;
        return;
    }
    // Soon on a fast medium (a few requests in 100 ms), at most a second on a slow one.
    const qint64 qi64Ms = std::chrono::duration_cast<std::chrono::milliseconds>(tNow - tSince).count();
    if (qi64Ms < 100 || (qi64Ms < 1000 && qui64Done_Bytes - qui64Done_Since < 4 * qui64Request))
        return;
    const quint64 qui64Per_Second = (qui64Done_Bytes - qui64Done_Since) * 1000 / quint64(qi64Ms);
    // Half a second's worth: what is in the medium when a stop comes is waited for, and the
    // program has still to close its files and end within the second.
    iAllowed = int(std::clamp<quint64>(qui64Per_Second / (2 * qui64Request), 1, quint64(iAll)));
    tSince = tNow;
    qui64Done_Since = qui64Done_Bytes;
}

bool cWorker_Gauge::bMay_Go(const int iWorker, const std::atomic<bool> &bStop) const
{
    while (iWorker >= iAllowed && !bStop && !bNo_More)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return !bStop && !bNo_More;
}

bool bRun_Workers(const int iWorkers, const std::function<void(int)> &vWork, std::atomic<bool> &bStop,
                  const std::function<bool()> &bTick, const int iGive_Up_Ms)
{
    auto pWorkers = std::make_shared<cWorkers>();
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < iWorkers; ++t) {
        std::lock_guard<std::mutex> qLock(pWorkers->qMutex);
        try {
            vecThreads.emplace_back([pWorkers, vWork, t] {
                vWork(t);
                std::lock_guard<std::mutex> qLeaving(pWorkers->qMutex);
                --pWorkers->iRunning;
                pWorkers->qLeft.notify_all();
            });
            ++pWorkers->iRunning;
        } catch (const std::system_error &) {
            break; // fewer workers still finish the job
        }
    }
    if (vecThreads.empty()) {
        vWork(0);
        return true;
    }
    using tClock = std::chrono::steady_clock;
    tClock::time_point tLast_Sign; // the stop, or the last worker back since
    bool bStopping = false;
    std::unique_lock<std::mutex> qLock(pWorkers->qMutex);
    int iWere_Running = pWorkers->iRunning;
    while (pWorkers->iRunning > 0) {
        pWorkers->qLeft.wait_for(qLock, std::chrono::milliseconds(50));
        qLock.unlock();
        if (!bTick())
            bStop = true;
        qLock.lock();
        // A slow medium still brings its workers back one by one: only one from which none
        // came back for a while has stopped answering.
        if ((bStop && !bStopping) || (bStopping && pWorkers->iRunning < iWere_Running))
            tLast_Sign = tClock::now();
        bStopping = bStopping || bStop;
        iWere_Running = pWorkers->iRunning;
        if (bStopping && tClock::now() - tLast_Sign > std::chrono::milliseconds(iGive_Up_Ms) && pWorkers->iRunning > 0)
            break;
    }
    const bool bAll_Back = pWorkers->iRunning == 0;
    qLock.unlock();
    for (std::thread &qThread : vecThreads) {
        if (bAll_Back)
            qThread.join();
        else
            qThread.detach(); // it holds what it works on until its request comes back
    }
    return bAll_Back;
}
