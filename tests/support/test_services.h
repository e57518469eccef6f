// Installing, starting, stopping and removing the test service program in the
// Service Control Manager of the test prefix.
#ifndef QVX_TESTS_TEST_SERVICES_H
#define QVX_TESTS_TEST_SERVICES_H

#include <windows.h>
#include <string>

struct TestServiceSetup {
    std::string name;             // service name, e.g. "Apache2.2"
    std::string runArguments;     // what the service does: --listen, --load, delays...
    std::string description;      // registered description; empty: none
    bool hasDescription = false;
    DWORD startType = SERVICE_DEMAND_START;
    std::string loadOrderGroup;   // empty: none
    std::wstring dependencies;    // double-terminated list, wide; empty: none
    std::string account;          // empty: LocalSystem
    std::string binaryPathOverride; // replaces the whole binary path when set
};

// Directory holding the test programs (this executable's directory), with a
// trailing backslash.
std::string TestBinDirectory();
// Full path of the test service program.
std::string TestServiceProgram();

// Installs (replacing an existing service of that name). Returns an empty
// string on success, else the failing call and its error.
std::string InstallTestService(const TestServiceSetup &setup);
std::string StartTestService(const std::string &name, DWORD waitForState, DWORD timeoutMs);
std::string StopTestService(const std::string &name, DWORD timeoutMs);
// Stops (if running) and deletes; waits until the name is gone.
std::string RemoveTestService(const std::string &name);
void RemoveAllManagedServices();
DWORD QueryTestServiceState(const std::string &name, DWORD *processId);
DWORD QueryTestServiceStartType(const std::string &name);

#endif
