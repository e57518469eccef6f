// A stand-in for the Tool Help module snapshot, for the module-list tests.
// Under the emulation the tests run in, one process cannot read another's
// memory, so the system's module snapshot fails for every process. The
// stand-in answers for a process with the module names that the process
// published itself (tests/tools/qvx_module_service.cpp), or with names a
// test gives, and records how it was called.
#ifndef QVX_TESTS_SIMULATED_TOOLHELP_H
#define QVX_TESTS_SIMULATED_TOOLHELP_H

#include <windows.h>
#include <string>
#include <vector>

struct SimulatedToolhelp {
    // Names for a process id that publishes none; empty: such a process has
    // no snapshot (error 87, as for a process id that does not exist).
    DWORD givenProcessId = 0;
    std::vector<std::string> givenNames;
    // Module32First fails with this error when non-zero.
    DWORD firstError = 0;

    // What the walk did.
    int snapshots = 0;
    int closes = 0;
    DWORD lastFlags = 0;
    DWORD lastProcessId = 0;
    DWORD lastEntrySize = 0;
    bool debugPrivilegeAtSnapshot = false;
};

// Puts the stand-in in place of the system's calls, fresh.
SimulatedToolhelp &InstallSimulatedToolhelp();
// Puts the system's calls back.
void RemoveSimulatedToolhelp();

// The names a qvx_module_service process published (empty if none).
std::vector<std::string> PublishedModuleNames(DWORD processId);

// Whether SeDebugPrivilege is enabled in this process's token; and turns it
// off, so that a test can see the walk turn it on.
bool DebugPrivilegeEnabled();
void DisableDebugPrivilege();

#endif
