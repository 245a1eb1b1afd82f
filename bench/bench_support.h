#pragma once

#include "test_support.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#else
#include <unistd.h>
#endif

namespace Bench {

// The trees are made as the tests make theirs; a benchmark cannot go on without its tree.
inline void createEmptyFile(const QByteArray& path)
{
    if (!TestTree::makeFile(path)) {
        std::fprintf(stderr, "%s: cannot make the file\n", path.constData());
        std::exit(1);
    }
}

inline void createDir(const QByteArray& path)
{
    if (!TestTree::makeFolder(path)) {
        std::fprintf(stderr, "%s: cannot make the folder\n", path.constData());
        std::exit(1);
    }
}

inline double secondsOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

inline double bestOf(int runs, const std::function<void()>& work)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i)
        best = std::min(best, secondsOf(work));
    return best;
}

// Resident memory of this process (its working set on Windows), in bytes.
inline qint64 residentBytes()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
        ? static_cast<qint64>(counters.WorkingSetSize)
        : 0;
#else
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<qint64>(resident) * ::sysconf(_SC_PAGESIZE);
#endif
}

} // namespace Bench
