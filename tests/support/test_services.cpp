// Test services in the prefix's Service Control Manager.
#include "test_services.h"
#include <string.h>
static SC_HANDLE Manager()
{
    static SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    return manager;
}
static SC_HANDLE Open(const std::string &name)
{
    return OpenServiceA(Manager(), name.c_str(), SERVICE_ALL_ACCESS);
}
static std::string Failure(const char *call)
{
    return std::string(call) + " failed (" + std::to_string(GetLastError()) + ")";
}
std::string TestBinDirectory()
{
    char path[MAX_PATH] = { 0 };
    GetModuleFileNameA(NULL, path, MAX_PATH);
    return std::string(path, strrchr(path, '\\') + 1);
}
std::string TestServiceProgram()
{
    return TestBinDirectory() + "qvx_testsvc.exe";
}
DWORD QueryTestServiceState(const std::string &name, DWORD *processId)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed;
    if (SC_HANDLE s = Open(name))
        QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof(status), &needed),
            CloseServiceHandle(s);
    if (processId)
        *processId = status.dwProcessId;
    return status.dwCurrentState;
}
DWORD QueryTestServiceStartType(const std::string &name)
{
    static QUERY_SERVICE_CONFIGA config[128]; // 4 KB: the configuration and its texts
    SC_HANDLE s = Open(name);
    DWORD needed, startType = s && QueryServiceConfigA(s, config, sizeof(config), &needed)
                                  ? config->dwStartType
                                  : 0xFFFFFFFF;
    return s && CloseServiceHandle(s), startType;
}
bool WaitForTestServiceState(const std::string &name, DWORD state, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount();
         QueryTestServiceState(name, NULL) != state && GetTickCount() - start <= timeoutMs;)
        Sleep(50);
    return QueryTestServiceState(name, NULL) == state;
}
bool ReleaseTestService(const std::string &name, const char *step)
{
    HANDLE hold =
        OpenEventA(EVENT_MODIFY_STATE, FALSE, ("Global\\qvx-hold-" + name + "." + step).c_str());
    return hold && SetEvent(hold) && CloseHandle(hold);
}
static std::string Request(const std::string &name, bool start, DWORD state,
                           DWORD timeoutMs) // state 0: no wait
{
    SC_HANDLE service = Open(name);
    SERVICE_STATUS status;
    std::string result = !service ? Failure("OpenService")
                         : start  ? (StartServiceA(service, 0, NULL) ? "" : Failure("StartService"))
                         : ControlService(service, 1, &status) ? ""
                                                               : Failure("ControlService");
    if (service)
        CloseServiceHandle(service);
    return result.empty() && state && !WaitForTestServiceState(name, state, timeoutMs)
               ? name + " is not in state " + std::to_string(state)
               : result;
}
std::string StartTestService(const std::string &name, DWORD waitForState, DWORD timeoutMs)
{
    return Request(name, true, waitForState, timeoutMs);
}
std::string StopTestService(const std::string &name, DWORD timeoutMs)
{
    return Request(name, false, SERVICE_STOPPED, timeoutMs);
}
std::string RemoveTestService(const std::string &name)
{
    ReleaseTestService(name, "start"),
        ReleaseTestService(name, "stop"); // the latter also ends a run with --accept-none
    if (Request(name, false, 0, 0) != "OpenService failed (1060)")
        WaitForTestServiceState(name, SERVICE_STOPPED, 20000);
    SC_HANDLE service = Open(name);
    std::string result =
        service || GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? "" : Failure("OpenService");
    if (service && !DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        result = Failure("DeleteService");
    if (service)
        CloseServiceHandle(service),
            WaitForTestServiceState(name, 0, 10000); // the name goes with the last handle
    return result;
}
void RemoveAllManagedServices()
{
    for (const char *name : { "Apache2.2", "MySQL", "Tomcat5", "W3svc" })
        RemoveTestService(name);
}
std::string InstallTestService(const TestServiceSetup &setup)
{
    std::string result = RemoveTestService(setup.name), path = setup.binaryPathOverride;
    if (path.empty())
        path = "\"" + TestServiceProgram() + "\" run \"" + setup.name + "\"" +
               (setup.runArguments.empty() ? "" : " ") + setup.runArguments;
    SC_HANDLE service =
        !result.empty()
            ? NULL
            : CreateServiceA(Manager(), setup.name.c_str(), setup.name.c_str(), SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, setup.startType, SERVICE_ERROR_NORMAL,
                             path.c_str(), NULL, NULL, NULL, NULL, NULL);
    SERVICE_DESCRIPTIONA description = { (LPSTR)setup.description.c_str() };
    if (result.empty() && !service)
        result = Failure("CreateService");
    if (service && setup.hasDescription &&
        !ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description))
        result = Failure("ChangeServiceConfig2");
    if (service)
        CloseServiceHandle(service);
    return result;
}
