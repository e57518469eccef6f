// Test services: the test service program installed under the managed names
// in the prefix's Service Control Manager, doing what its command line asks.
#ifndef QVX_TESTS_TEST_SERVICES_H
#define QVX_TESTS_TEST_SERVICES_H
#include <windows.h>
#include <string>

struct TestServiceSetup {
    std::string name, runArguments;   // e.g. "Apache2.2"; "--listen 0.0.0.0:80 --hold-start"...
    std::string description;          // registered when hasDescription
    bool hasDescription = false;
    DWORD startType = SERVICE_DEMAND_START;
    std::string binaryPathOverride;   // replaces the whole binary path when set
};
std::string TestBinDirectory();       // this program's directory, with a trailing backslash
std::string TestServiceProgram();
// These return "" on success, else what failed.
std::string InstallTestService(const TestServiceSetup &setup);   // replaces one of that name
std::string StartTestService(const std::string &name, DWORD waitForState, DWORD timeoutMs);
std::string StopTestService(const std::string &name, DWORD timeoutMs);
std::string RemoveTestService(const std::string &name);          // stops, deletes, waits for the name to go
void RemoveAllManagedServices();
DWORD QueryTestServiceState(const std::string &name, DWORD *processId);  // 0: no such service
bool WaitForTestServiceState(const std::string &name, DWORD state, DWORD timeoutMs);
// Lets a service run with --hold-start report running ("start"), or --hold-stop stopped ("stop").
bool ReleaseTestService(const std::string &name, const char *step);
#endif
