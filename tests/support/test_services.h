// Test services: the test service program installed under the managed names in the prefix's Service
// Control Manager, doing what its command line asks. The calls returning text give "" or what failed.
#ifndef QVX_TESTS_TEST_SERVICES_H
#define QVX_TESTS_TEST_SERVICES_H
#include <windows.h>
#include <string>
struct TestServiceSetup {
    std::string name, runArguments,
        description; // "Apache2.2"; "--listen 0.0.0.0:80 --hold-start"...; see below
    bool hasDescription = false;
    DWORD startType = SERVICE_DEMAND_START; // a description registered only when true
    std::string binaryPathOverride;         // replaces the whole binary path when set
};
std::string TestBinDirectory(); // this program's directory, with a trailing backslash
std::string TestServiceProgram();
std::string InstallTestService(const TestServiceSetup &setup); // replaces one of that name
std::string StartTestService(const std::string &name, DWORD waitForState, DWORD timeoutMs);
std::string StopTestService(const std::string &name, DWORD timeoutMs);
std::string RemoveTestService(const std::string &name); // stops, deletes, waits for the name to go
void RemoveAllManagedServices();
DWORD QueryTestServiceState(const std::string &name, DWORD *processId); // 0: no such service
DWORD QueryTestServiceStartType(const std::string &name);
bool WaitForTestServiceState(const std::string &name, DWORD state, DWORD timeoutMs);
bool ReleaseTestService(
    const std::string &name,
    const char *step); // lets --hold-start ("start"), --hold-stop ("stop") go on
#endif
