#include "Functions_Memory.h"

#include "Functions_Table.h"

#include <QFile>

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Room the read needs besides the table: its readers' stacks and buffers, the libraries'
// mappings that grow.
const quint64 qui64Read_Reserve = quint64(256) << 20;

QByteArray qbaRead_Proc(const QString &qsFile)
{
    QFile qFile(qsFile);
    return qFile.open(QIODevice::ReadOnly) ? qFile.readAll() : QByteArray();
}

quint64 qui64Left(const quint64 qui64Limit, const quint64 qui64Used)
{
    return qui64Limit > qui64Used ? qui64Limit - qui64Used : 0;
}

quint64 qui64Address_Space_Left()
{
    struct rlimit strLimit;
    if (getrlimit(RLIMIT_AS, &strLimit) != 0 || strLimit.rlim_cur == RLIM_INFINITY)
        return ~quint64(0);
    // statm: the whole mapped size first, in pages.
    const quint64 qui64Pages = qbaRead_Proc("/proc/self/statm").split(' ').value(0).toULongLong();
    return qui64Left(strLimit.rlim_cur, qui64Pages * quint64(sysconf(_SC_PAGESIZE)));
}

quint64 qui64Cgroup_Left()
{
    // cgroup v2: "0::/path" names the process's group.
    for (const QByteArray &qbaLine : qbaRead_Proc("/proc/self/cgroup").split('\n')) {
        if (!qbaLine.startsWith("0::"))
            continue;
        const QString qsGroup = "/sys/fs/cgroup" + QString::fromUtf8(qbaLine.mid(3).trimmed());
        const QByteArray qbaMax = qbaRead_Proc(qsGroup + "/memory.max").trimmed();
        bool bNumber = false;
        const quint64 qui64Max = qbaMax.toULongLong(&bNumber);
        if (!bNumber)
            return ~quint64(0); // "max", or no memory controller
        return qui64Left(qui64Max, qbaRead_Proc(qsGroup + "/memory.current").trimmed().toULongLong());
    }
    return ~quint64(0);
}

quint64 qui64System_Available()
{
    for (const QByteArray &qbaLine : qbaRead_Proc("/proc/meminfo").split('\n'))
        if (qbaLine.startsWith("MemAvailable:"))
            return qbaLine.mid(13).trimmed().split(' ').value(0).toULongLong() * 1024;
    return ~quint64(0);
}

} // namespace

quint64 qui64Memory_Available()
{
    return std::min({qui64Address_Space_Left(), qui64Cgroup_Left(), qui64System_Available()});
}

quint64 qui64Run_Bound()
{
    const quint64 qui64Bytes = qui64Left(qui64Memory_Available(), qui64Read_Reserve);
    return std::max<quint64>(1024, std::min(qui64Default_Max_Runs, qui64Bytes / (4 * sizeof(cRun))));
}
