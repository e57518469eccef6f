// Compiled into GoogleTest only: under Wine on emulated 32-bit x86 its failure reports to
// OutputDebugStringA end the test program; they still go to standard output.
#include <windows.h>
static inline void QvxQuietDebugString(const char *)
{
}
#define OutputDebugStringA QvxQuietDebugString
