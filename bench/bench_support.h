// What the benchmarks share: a millisecond clock, the median of a series of
// rounds, the controller log opened afresh and read back, and the line that
// sets two medians side by side.
#ifndef QVX_BENCH_SUPPORT_H
#define QVX_BENCH_SUPPORT_H

#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/controller.h"
#include "log/log.h"

inline double Now()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * (double)t.QuadPart / (double)frequency.QuadPart;
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

#define BENCH_LOG_PATH "C:\\www\\suite-data\\controller.log"

// The controller log, truncated and open, as the dialog opens it.
inline void OpenBenchLog()
{
    CreateDirectoryA("C:\\www", NULL);
    CreateDirectoryA("C:\\www\\suite-data", NULL);
    ControllerLogClose();
    ControllerLogOpen();
}

// The same file, truncated and open as the controller opens it, for a probe
// that writes the controller's log lines itself; the controller's log is
// closed.
inline FILE *OpenProbeLog()
{
    CreateDirectoryA("C:\\www", NULL);
    CreateDirectoryA("C:\\www\\suite-data", NULL);
    ControllerLogClose();
    return fopen(BENCH_LOG_PATH, "wt");
}

inline std::string ReadBenchLog()
{
    std::string text;
    FILE *file = fopen(BENCH_LOG_PATH, "rt");
    if (!file)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return text;
}

// "NAME: controller X ms, bare probe Y ms, difference Z ms, ratio R" for the
// medians, with the goal where there is one, then the same for the fastest
// rounds, which a machine loaded by other work disturbs least.
inline void PrintComparison(const char *name, const char *product, const std::vector<double> &p,
                            const char *probe, const std::vector<double> &b, double goal)
{
    if (p.empty() || b.empty()) {
        printf("  %s: no round of one side completed\n", name);
        return;
    }
    for (int fastest = 0; fastest < 2; fastest++) {
        double x = fastest ? *std::min_element(p.begin(), p.end()) : Median(p);
        double y = fastest ? *std::min_element(b.begin(), b.end()) : Median(b);
        printf("  %s%s: %s %.2f ms, %s %.2f ms, difference %+.2f ms, ratio %.3f", name,
               fastest ? ", fastest" : "", product, x, probe, y, x - y, y > 0 ? x / y : 0.0);
        if (goal > 0 && !fastest)
            printf(" (goal at most %.1f)", goal);
        printf("\n");
    }
    fflush(stdout);
}

#endif
