#pragma once

// What a benchmark reads of its own process: CPU time and the kernel's memory figures.

#include <QByteArray>
#include <QFile>

#include <cstring>
#include <ctime>

// Seconds of CPU on `clock`: the whole process by default, or one thread's.
inline double CpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A line of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 when it cannot be read.
inline long StatusKiB(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}

inline long ResidentKiB()
{
    return StatusKiB("VmRSS:");
}
