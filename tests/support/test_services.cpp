// Test services in the prefix's Service Control Manager: the test service
// program installed under the managed names with the behaviour its command
// line asks for. Installed with CreateServiceW, which keeps a dependency
// list intact.
#include "test_services.h"

#include <vector>

static std::wstring Widen(const std::string &text)
{
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, NULL, 0);
    std::vector<wchar_t> buffer(n);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer.data(), n);
    return std::wstring(buffer.data());
}

static std::string Failure(const char *call)
{
    return std::string(call) + " failed (" + std::to_string(GetLastError()) + ")";
}

std::string TestBinDirectory()
{
    char path[MAX_PATH] = { 0 };
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string text(path);
    return text.substr(0, text.find_last_of('\\') + 1);
}

std::string TestServiceProgram()
{
    return TestBinDirectory() + "qvx_testsvc.exe";
}

static SC_HANDLE OpenManager()
{
    return OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
}

DWORD QueryTestServiceState(const std::string &name, DWORD *processId)
{
    DWORD state = 0;
    SC_HANDLE manager = OpenManager();
    if (processId) *processId = 0;
    if (!manager) return 0;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS_PROCESS status;
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status,
                                 sizeof(status), &needed)) {
            state = status.dwCurrentState;
            if (processId) *processId = status.dwProcessId;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

DWORD QueryTestServiceStartType(const std::string &name)
{
    DWORD startType = 0xFFFFFFFF;
    SC_HANDLE manager = OpenManager();
    if (!manager) return startType;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG);
    if (service) {
        std::vector<BYTE> block(8192);
        DWORD needed = 0;
        if (QueryServiceConfigA(service, (LPQUERY_SERVICE_CONFIGA)block.data(),
                                (DWORD)block.size(), &needed)) {
            startType = ((LPQUERY_SERVICE_CONFIGA)block.data())->dwStartType;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return startType;
}

static bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        SERVICE_STATUS_PROCESS status;
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status,
                                  sizeof(status), &needed)) {
            return false;
        }
        if (status.dwCurrentState == wanted) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
}

std::string RemoveTestService(const std::string &name)
{
    SC_HANDLE manager = OpenManager();
    if (!manager) return Failure("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (!service) {
        DWORD error = GetLastError();
        CloseServiceHandle(manager);
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) return std::string();
        SetLastError(error);
        return Failure("OpenService");
    }
    SERVICE_STATUS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        WaitForState(service, SERVICE_STOPPED, 20000);
    }
    std::string result;
    if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        result = Failure("DeleteService");
    }
    CloseServiceHandle(service);
    // The name is free once the last handle is gone.
    for (int i = 0; i < 200 && result.empty(); i++) {
        SC_HANDLE again = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
        if (!again) break;
        CloseServiceHandle(again);
        Sleep(50);
    }
    CloseServiceHandle(manager);
    return result;
}

void RemoveAllManagedServices()
{
    static const char *const names[] = { "Apache2.2", "MySQL", "Tomcat5", "W3svc" };
    for (const char *name : names) RemoveTestService(name);
}

std::string InstallTestService(const TestServiceSetup &setup)
{
    std::string removed = RemoveTestService(setup.name);
    if (!removed.empty()) return removed;

    std::string path = setup.binaryPathOverride;
    if (path.empty()) {
        path = "\"" + TestServiceProgram() + "\" run \"" + setup.name + "\"";
        if (!setup.runArguments.empty()) path += " " + setup.runArguments;
    }
    SC_HANDLE manager = OpenManager();
    if (!manager) return Failure("OpenSCManager");
    std::wstring wideName = Widen(setup.name);
    std::wstring widePath = Widen(path);
    std::wstring wideGroup = Widen(setup.loadOrderGroup);
    std::wstring wideAccount = Widen(setup.account);
    std::wstring deps = setup.dependencies;
    if (!deps.empty()) deps.push_back(L'\0');
    SC_HANDLE service = CreateServiceW(manager, wideName.c_str(), wideName.c_str(),
        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, setup.startType, SERVICE_ERROR_NORMAL,
        widePath.c_str(),
        setup.loadOrderGroup.empty() ? NULL : wideGroup.c_str(),
        NULL,
        deps.empty() ? NULL : deps.c_str(),
        setup.account.empty() ? NULL : wideAccount.c_str(),
        NULL);
    if (!service) {
        std::string failure = Failure("CreateService");
        CloseServiceHandle(manager);
        return failure;
    }
    std::string result;
    if (setup.hasDescription) {
        std::wstring wideDescription = Widen(setup.description);
        SERVICE_DESCRIPTIONW description;
        description.lpDescription = (LPWSTR)wideDescription.c_str();
        if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description)) {
            result = Failure("ChangeServiceConfig2");
        }
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

std::string StartTestService(const std::string &name, DWORD waitForState, DWORD timeoutMs)
{
    SC_HANDLE manager = OpenManager();
    if (!manager) return Failure("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (!service) {
        std::string failure = Failure("OpenService");
        CloseServiceHandle(manager);
        return failure;
    }
    std::string result;
    if (!StartServiceA(service, 0, NULL)) {
        result = Failure("StartService");
    } else if (waitForState != 0 && !WaitForState(service, waitForState, timeoutMs)) {
        result = "service " + name + " did not reach state " + std::to_string(waitForState);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

std::string StopTestService(const std::string &name, DWORD timeoutMs)
{
    SC_HANDLE manager = OpenManager();
    if (!manager) return Failure("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (!service) {
        std::string failure = Failure("OpenService");
        CloseServiceHandle(manager);
        return failure;
    }
    std::string result;
    SERVICE_STATUS status;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        result = Failure("ControlService");
    } else if (!WaitForState(service, SERVICE_STOPPED, timeoutMs)) {
        result = "service " + name + " did not stop";
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}
