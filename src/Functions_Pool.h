#ifndef FUNCTIONS_POOL_H
#define FUNCTIONS_POOL_H

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <functional>

// How long workers stuck in a device that stopped answering get to come back after a stop.
const int iGive_Up_After_Ms = 3000;

// Runs vWork(i) on up to iWorkers threads (on this one when no thread can be started) and
// waits for them, calling bTick() about every 50 ms on this thread; when it returns false,
// or a worker sets bStop, the job stops. Workers still out when none has come back for
// iGive_Up_Ms since the stop are left behind: the function returns false, and whatever vWork holds (the job, its
// descriptor, its buffers) must be owned through it, since they outlive the call.
bool bRun_Workers(const int iWorkers, const std::function<void(int)> &vWork, std::atomic<bool> &bStop,
                  const std::function<bool()> &bTick, const int iGive_Up_Ms = iGive_Up_After_Ms);

// How many workers may have a request in the medium at once: about half a second's worth of
// what it takes, so that a stop is answered within a second on a slow stick too, not after
// the megabytes queued in it. One to start with, then from one (a stick at 2 MiB/s) to all
// (a disk), measured every 100 ms on a fast medium, every second on a slow one.
class cWorker_Gauge
{
public:
    cWorker_Gauge(const int iWorkers, const quint64 qui64Request_Bytes)
        : iAll(iWorkers), qui64Request(qui64Request_Bytes), iAllowed(1)
    {
    }
    // From the waiting thread's tick: the bytes the workers have done so far.
    void vMeasure(const quint64 qui64Done_Bytes);
    // From worker iWorker before each request: waits while it is beyond those allowed; false
    // when the job stopped or ran out of work meanwhile.
    bool bMay_Go(const int iWorker, const std::atomic<bool> &bStop) const;
    // From the worker that found no work left: those waiting need not wait any longer.
    void vNo_More_Work() { bNo_More = true; }

private:
    const int iAll;
    const quint64 qui64Request;
    std::atomic<int> iAllowed;
    std::atomic<bool> bNo_More{false};
    std::chrono::steady_clock::time_point tSince{};
    quint64 qui64Done_Since = 0;
};

#endif // FUNCTIONS_POOL_H
