// Compiled into GoogleTest only: its failure reports also go to
// OutputDebugStringA, and under Wine on emulated 32-bit x86 that debug
// exception takes the test program down, losing the report and every test
// after it. The reports still go to standard output.
#ifndef QVX_TESTS_GTEST_QUIET_DEBUGGER_H
#define QVX_TESTS_GTEST_QUIET_DEBUGGER_H
#include <windows.h>
static inline void QvxQuietDebugString(const char *)
{
}
#define OutputDebugStringA QvxQuietDebugString
#endif
