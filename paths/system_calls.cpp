/* The system calls behind the suite paths, the environment report and the
   registry value reader: the real functions, reached through one record so
   that a test can stand in for the cases a live system never produces. */
#include "paths.h"

#include <psapi.h>

const PathsSystemCalls PathsSystemCallsDefault = {
    GetComputerNameA,    GetUserNameA,         GetWindowsDirectoryA,
    GetSystemDirectoryA, GetModuleFileNameExA, ExpandEnvironmentStringsA,
    RegOpenKeyExA,       RegQueryValueExA,     RegCloseKey,
};

PathsSystemCalls PathsCalls = PathsSystemCallsDefault;
