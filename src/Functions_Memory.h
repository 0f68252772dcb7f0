#ifndef FUNCTIONS_MEMORY_H
#define FUNCTIONS_MEMORY_H

#include <QtGlobal>

// Bytes this process may still take: the least of its address-space limit (RLIMIT_AS) less
// what it maps already, its cgroup's memory.max less what the cgroup uses, and the
// system's MemAvailable. ~0 when nothing can be told.
quint64 qui64Memory_Available();

// The run table's bound for a read: as many runs as the default (1 GiB with the table's
// room to grow and the comparison's copies) where the memory is there, fewer where it is
// not, so that a medium of isolated words is counted, not a crash.
quint64 qui64Run_Bound();

#endif // FUNCTIONS_MEMORY_H
