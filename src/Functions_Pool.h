#ifndef FUNCTIONS_POOL_H
#define FUNCTIONS_POOL_H

#include <atomic>
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

#endif // FUNCTIONS_POOL_H
