#ifndef FUNCTIONS_FILL_PACE_H
#define FUNCTIONS_FILL_PACE_H

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

// A FUSE driver that writes through the page cache of its device (exfat-fuse, ntfs-3g,
// fusefat) takes a fill at memory speed and leaves the medium gigabytes behind: the progress
// then tells what the cache holds, a stop waits for all of it to be written back, and so does
// every later call on the volume. The pace keeps the fill at most about half a second of the
// device's writes ahead of what the device has written (its sectors written, as the kernel
// counts them), and starts the write-back of the device's cache as soon as it is ahead.
class cFill_Pace
{
public:
    // The pace for a fill of the FUSE volume at qsVolume; qui64Least_Lead the least lead it
    // allows, and the least the device is to write in a wait of 10 s; null where the volume's
    // server writes no single block device, or the device's counters cannot be read.
    static std::shared_ptr<cFill_Pace> pFor(const QString &qsVolume, const quint64 qui64Least_Lead);
    cFill_Pace(const QString &qsStat_Path, const int iDevice_FD, const quint64 qui64Least_Lead);
    ~cFill_Pace();

    // From a writer before each request, qui64Filled the fill's bytes done so far (any
    // origin: the first call is the start): waits while the fill is too far ahead of the
    // device. False when bStop came meanwhile.
    bool bWait_Turn(const quint64 qui64Filled, const std::atomic<bool> &bStop);

    // The device's bytes written, as counted in qsStat_Path (/sys/class/block/<name>/stat);
    // false where it cannot be read.
    static bool bDevice_Written(const QString &qsStat_Path, quint64 *pqui64Bytes);

private:
    bool bAhead(const quint64 qui64Filled);

    class cKicker;
    const QString qsStat;
    std::shared_ptr<cKicker> pKicker; // its thread may outlive the fill in a stuck device
    std::mutex qMutex;
    bool bStarted = false;
    bool bAside = false;       // the device wrote too little while held: the pace stands aside
    quint64 qui64Aside_At = 0; // the device's count then
    quint64 qui64Filled_Start = 0;
    quint64 qui64Written_Start = 0;
    const quint64 qui64Least;
    quint64 qui64Allowed; // bytes the fill may be ahead
    std::chrono::steady_clock::time_point tRate_Since;
    quint64 qui64Rate_Since = 0;
    std::chrono::steady_clock::time_point tProgress_Since; // the device's progress measured from
    quint64 qui64Progress_Since = 0;
};

#endif // FUNCTIONS_FILL_PACE_H
