// The test service program installed under the managed names in the prefix's service manager; the
// calls that return text give "" or what failed.
#ifndef QVX_TESTS_TEST_SERVICES_H
#define QVX_TESTS_TEST_SERVICES_H

#include "test_support.h"

std::string TestServiceProgram(); // qvx_testsvc.exe beside this program
// A service of that name, replaced, that runs `binaryPath`; a description unless "".
std::string InstallService(const std::string &name, const std::string &binaryPath, DWORD startType,
                           const std::string &description);
// The same running the test service with these options.
std::string InstallTestService(const std::string &name, const std::string &options, DWORD startType,
                               const std::string &description);
std::string StartTestService(const std::string &name, DWORD waitForState, DWORD timeoutMs);
void RemoveAllManagedServices();
std::string TestServiceProcessId(const std::string &name); // as the service manager reports it
bool WaitForTestServiceState(const std::string &name, DWORD state, DWORD timeoutMs);
// Lets a service go on that holds its start ("start"), or with --accept-none its run ("stop").
bool ReleaseTestService(const std::string &name, const char *step);

#endif
