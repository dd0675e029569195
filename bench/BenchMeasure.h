// Shared measuring of the benchmarks: the library walk every benchmark
// takes as its baseline, timing after a warm-up, peak memory, the kind of
// file system a folder is on, and the closing ratio line with its exit code.
// Without Qt, so bench_walk stays a plain program.
#pragma once

#include "server/wcsrv.h"

#include <sys/statfs.h>
#include <sys/vfs.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using BenchClock = std::chrono::steady_clock;

inline double SecondsSince(BenchClock::time_point since)
{
    return std::chrono::duration<double>(BenchClock::now() - since).count();
}

struct WalkResult {
    long records = 0;
    long long sizeSum = 0;
    double seconds = 0;
};

// Every area's records through the server library, as the windows walk them:
// SearchFileRecByAreaName, then GetNextFileRec while the Area stays. With
// `withFull`, GetFullFileRec for each record as well. `areas` empty: every
// area. This is the one baseline walk of all the benchmarks.
inline WalkResult LibraryWalk(bool withFull, const std::vector<int32_t>& areas = {})
{
    std::vector<int32_t> chosen = areas;
    if (chosen.empty())
        for (int32_t a = 1, n = GetFileAreaCount(); a <= n; ++a)
            chosen.push_back(a);
    WalkResult w;
    const auto start = BenchClock::now();
    FileRec r;
    FullFileRec full;
    for (const int32_t area : chosen) {
        uint32_t position = 0;
        if (!SearchFileRecByAreaName(area, "", &r, &position))
            continue;
        while (r.Area == area) {
            if (withFull) {
                if (!GetFullFileRec(&r, &full))
                    break;
                w.sizeSum += full.Rec.Size;
            } else {
                w.sizeSum += r.Size;
            }
            ++w.records;
            if (!GetNextFileRec(WC_KEY_AREA_NAME, &r, &position))
                break;
        }
    }
    w.seconds = SecondsSince(start);
    return w;
}

// The times of `runs` runs of `body` after one untimed warm-up run, so every
// side of a benchmark reads from warm caches and is timed the same way.
// `body` returns its own time in seconds.
inline std::vector<double> TimeRuns(int runs, const std::function<double()>& body)
{
    body();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(body());
    return times;
}

inline double Best(const std::vector<double>& v)
{
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

inline double MedianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// "1.23 1.25 1.31": each run's time, for the printed report.
inline std::string RunList(const std::vector<double>& v, double scale = 1.0)
{
    std::string s;
    char buffer[32];
    for (const double x : v) {
        std::snprintf(buffer, sizeof buffer, "%s%.3f", s.empty() ? "" : " ", x * scale);
        s += buffer;
    }
    return s;
}

// A field of /proc/self/status in MiB ("VmHWM", "VmRSS"); -1 when unknown.
inline double StatusMiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return double(std::stoll(line.substr(n + 1))) / 1024.0; // kB
    return -1;
}

// Sets the peak resident size back to the present one, so the next peak
// read belongs to what runs in between. False when the kernel cannot.
inline bool ResetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

// "tmpfs", "ext4", ... of the file system holding `path`.
inline std::string FileSystemKind(const std::string& path)
{
    struct statfs fs {
    };
    if (::statfs(path.c_str(), &fs) != 0)
        return "unknown";
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x01021994UL:
        return "tmpfs (memory, not a disk)";
    case 0x858458f6UL:
        return "ramfs (memory, not a disk)";
    case 0xEF53UL:
        return "ext2/3/4 (disk)";
    case 0x58465342UL:
        return "xfs (disk)";
    case 0x9123683EUL:
        return "btrfs (disk)";
    case 0x794c7630UL:
        return "overlayfs (on the disk below it)";
    case 0x6969UL:
        return "nfs (network)";
    default: {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "file system 0x%lx",
                      static_cast<unsigned long>(fs.f_type));
        return buffer;
    }
    }
}

// True for a file system held in memory: a copy onto it measures no disk.
inline bool OnMemoryFileSystem(const std::string& path)
{
    struct statfs fs {
    };
    return ::statfs(path.c_str(), &fs) == 0 &&
           (static_cast<unsigned long>(fs.f_type) == 0x01021994UL ||
            static_cast<unsigned long>(fs.f_type) == 0x858458f6UL);
}

// Prints the closing line "<what>: ratio <x> (goal <y>)" and gives the exit
// code: 0 when the ratio reaches the goal, 2 when it does not (a line
// before it says so). The ratio is printed cut (not rounded) to two
// decimals, so a printed ratio never claims more than was measured.
inline int RatioLine(const char* what, double ratio, double goal)
{
    const bool met = ratio >= goal;
    if (!met)
        std::printf("goal missed: %s\n", what);
    std::printf("%s: ratio %.2f (goal %g)\n", what, std::floor(ratio * 100.0) / 100.0, goal);
    std::fflush(stdout);
    return met ? 0 : 2;
}
