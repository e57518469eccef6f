// Test services in the prefix's Service Control Manager.
#include "test_services.h"

static SC_HANDLE Manager()
{
    static SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    return manager;
}

static SERVICE_STATUS_PROCESS Query(const std::string &name)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    SC_HANDLE service = OpenServiceA(Manager(), name.c_str(), SERVICE_QUERY_STATUS);

    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof(status), &needed);
    CloseServiceHandle(service);
    return status;
}

std::string TestServiceProgram()
{
    return TestBinDirectory() + "qvx_testsvc.exe";
}

std::string TestServiceProcessId(const std::string &name)
{
    return std::to_string(Query(name).dwProcessId);
}

bool WaitForTestServiceState(const std::string &name, DWORD state, DWORD timeoutMs)
{
    DWORD start = GetTickCount();

    while (Query(name).dwCurrentState != state && GetTickCount() - start < timeoutMs)
        Sleep(50);
    return Query(name).dwCurrentState == state;
}

bool ReleaseTestService(const std::string &name, const char *step)
{
    HANDLE hold =
        OpenEventA(EVENT_MODIFY_STATE, FALSE, ("Global\\qvx-hold-" + name + "." + step).c_str());
    bool released = hold && SetEvent(hold);

    CloseHandle(hold);
    return released;
}

std::string StartTestService(const std::string &name, DWORD waitForState, DWORD timeoutMs)
{
    SC_HANDLE service = OpenServiceA(Manager(), name.c_str(), SERVICE_START);
    bool started = StartServiceA(service, 0, NULL);
    std::string failure = "StartService failed (" + std::to_string(GetLastError()) + ")";

    CloseServiceHandle(service);
    if (!started)
        return failure;
    return WaitForTestServiceState(name, waitForState, timeoutMs) ? "" : name + " did not settle";
}

// Its holds let go, stopped, deleted, and waited for until its name is gone.
static void RemoveService(const std::string &name)
{
    SERVICE_STATUS status;
    SC_HANDLE service = OpenServiceA(Manager(), name.c_str(), SERVICE_ALL_ACCESS);

    if (!service)
        return;
    ReleaseTestService(name, "start");
    ReleaseTestService(name, "stop");
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    WaitForTestServiceState(name, SERVICE_STOPPED, 20000);
    DeleteService(service);
    CloseServiceHandle(service);
    WaitForTestServiceState(name, 0, 10000);
}

void RemoveAllManagedServices()
{
    for (const char *name : { "Apache2.2", "MySQL", "Tomcat5", "W3svc" })
        RemoveService(name);
}

std::string InstallService(const std::string &name, const std::string &binaryPath, DWORD startType,
                           const std::string &description)
{
    SERVICE_DESCRIPTIONA text = { (LPSTR)description.c_str() };

    RemoveService(name);
    SC_HANDLE service = CreateServiceA(Manager(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                       binaryPath.c_str(), NULL, NULL, NULL, NULL, NULL);
    std::string failure = "CreateService failed (" + std::to_string(GetLastError()) + ")";

    if (!service)
        return failure;
    if (!description.empty())
        ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text);
    CloseServiceHandle(service);
    return "";
}

std::string InstallTestService(const std::string &name, const std::string &options, DWORD startType,
                               const std::string &description)
{
    std::string path = "\"" + TestServiceProgram() + "\" run \"" + name + "\" " + options;

    return InstallService(name, path, startType, description);
}
