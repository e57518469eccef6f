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

inline double Now()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * (double)t.QuadPart / (double)frequency.QuadPart;
}

inline double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The controller log, truncated and open, as the dialog opens it.
inline void OpenBenchLog()
{
    CreateDirectoryA("C:\\www", NULL);
    CreateDirectoryA("C:\\www\\suite-data", NULL);
    ControllerLogClose();
    ControllerLogOpen();
}

inline std::string ReadBenchLog()
{
    std::string text;
    FILE *file = fopen("C:\\www\\suite-data\\controller.log", "rt");
    if (!file) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
    fclose(file);
    return text;
}

// "NAME: controller X ms, bare probe Y ms, difference Z ms, ratio R", with
// the goal where there is one.
inline void PrintComparison(const char *name, const char *product, double p, const char *probe, double b,
                            double goal)
{
    printf("  %s: %s %.2f ms, %s %.2f ms, difference %+.2f ms, ratio %.3f", name, product, p, probe, b, p - b,
           b > 0 ? p / b : 0.0);
    if (goal > 0) printf(" (goal at most %.1f)", goal);
    printf("\n");
    fflush(stdout);
}

#endif
