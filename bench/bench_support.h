#ifndef BENCH_SUPPORT_H
#define BENCH_SUPPORT_H

// What the benchmarks share: the process CPU clock and the settings of a
// window that polls the simulated CPE with no pause between periods.

#include "test_support.h"

#include <QString>

#include <ctime>

// CPU seconds of the whole process, every thread (the simulated CPE's too).
inline double cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

inline void write_polling_settings(const ScopedWorkFolder &folder, const char *address)
{
    folder.writeFile(
        QStringLiteral("Vemu.ini"),
        QStringLiteral("[Settings]\nip_address=%1\npolling_time=0\noutput_file=bench\n")
            .arg(QString::fromLatin1(address))
            .toUtf8());
}

#endif
