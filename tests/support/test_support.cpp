#include "test_support.h"

#include <io.h>
#include <stdio.h>

#include <fstream>

#include "app/controller.h"
#include "log/log.h"
#include "res/resource.h"

static std::string ReadWhole(const std::string &path, std::ios::openmode mode)
{
    std::ifstream file(path.c_str(), mode);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string ReadControllerLog()
{
    return ReadWhole("C:\\www\\suite-data\\controller.log", std::ios::in);
}

void OpenFreshControllerLog()
{
    CreateDirectoryA("C:\\www\\suite-data", NULL);
    ControllerLogClose();
    ControllerLogOpen();
}

static INT_PTR CALLBACK BareDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

HWND CreateControllerDialog()
{
    return CreateDialogParamA(NULL, MAKEINTRESOURCEA(IDD_CONTROLLER), NULL, ControllerDialogProc,
                              0);
}

HWND CreateBareDialog()
{
    return CreateDialogParamA(NULL, MAKEINTRESOURCEA(IDD_CONTROLLER), NULL, BareDialogProc, 0);
}

void DestroyControllerDialog(HWND dialog)
{
    MSG message;

    DestroyWindow(dialog);
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

static std::string AskText(HWND window, UINT message, WPARAM wParam)
{
    wchar_t wide[1024] = { 0 };
    char text[2048] = { 0 };
    DWORD_PTR result = 0;

    if (!SendMessageTimeoutW(window, message, wParam, (LPARAM)wide, SMTO_NORMAL, 10000, &result))
        return "<no answer>";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), NULL, NULL);
    return text;
}

std::string DialogItemText(HWND dialog, int id)
{
    return AskText(GetDlgItem(dialog, id), WM_GETTEXT, 1024);
}

Texts ListBoxTexts(HWND dialog, int id)
{
    DWORD_PTR count = 0;
    Texts rows;

    SendMessageTimeoutW(GetDlgItem(dialog, id), LB_GETCOUNT, 0, 0, SMTO_NORMAL, 10000, &count);
    for (int row = 0; row < (int)count; row++)
        rows.push_back(AskText(GetDlgItem(dialog, id), LB_GETTEXT, row));
    return rows;
}

std::string Filled(std::string text, const Values &values)
{
    for (const auto &value : values) {
        std::string name = "{" + value.first + "}";
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at))
            text.replace(at, name.size(), value.second);
    }
    return text;
}

std::string LogMismatch(const std::string &log, const std::string &expected, const Values &values)
{
    std::string marked = "\x01" + log + "\x02";
    std::string rest = "\x01" + Filled(expected, values) + "\x02~~~\n";
    size_t from = 0;

    for (size_t gap = rest.find("~~~\n"); gap != std::string::npos; gap = rest.find("~~~\n")) {
        std::string piece = rest.substr(0, gap);
        size_t at = marked.find(piece, from);
        if (at == std::string::npos)
            return "not found:\n" + piece + "\n--- in ---\n" +
                   marked.substr(from, piece.size() + 400);
        from = at + piece.size();
        rest.erase(0, gap + 4);
    }
    return "";
}

std::string TestBinDirectory()
{
    char path[MAX_PATH] = { 0 };

    GetModuleFileNameA(NULL, path, MAX_PATH);
    return std::string(path, strrchr(path, '\\') + 1);
}

std::string ExpectedText(const char *name)
{
    return ReadWhole(TestBinDirectory() + name, std::ios::binary);
}

std::string Between(const std::string &text, const std::string &from, const std::string &to)
{
    size_t start = text.find(from);

    if (start == std::string::npos)
        return "";
    return text.substr(start, to.empty() ? to.npos : text.find(to, start + from.size()) - start);
}

int CountHandles(HANDLE process)
{
    int count = 0;
    HANDLE copy;

    for (ULONG_PTR value = 4; value < 0x800; value += 4)
        count += DuplicateHandle(process, (HANDLE)value, GetCurrentProcess(), &copy, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS) &&
                 CloseHandle(copy);
    return count;
}

StdoutCapture::StdoutCapture()
{
    fflush(stdout);
    saved = _dup(1);
    freopen("C:\\qvx-stdout.txt", "w", stdout);
}

std::string StdoutCapture::End()
{
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    return ReadWhole("C:\\qvx-stdout.txt", std::ios::in);
}

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

    CloseServiceHandle(service);
    if (started && WaitForTestServiceState(name, waitForState, timeoutMs))
        return "";
    return name + " did not start";
}

void RemoveAllManagedServices()
{
    for (const char *name : { "Apache2.2", "MySQL", "Tomcat5", "W3svc" }) {
        SERVICE_STATUS status;
        SC_HANDLE service = OpenServiceA(Manager(), name, SERVICE_ALL_ACCESS);
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
        WaitForTestServiceState(name, 0, 30000);
    }
}

std::string InstallTestService(const std::string &name, const std::string &options, DWORD startType,
                               const std::string &description, const std::string &program)
{
    std::string path = "\"" + program + "\" run \"" + name + "\" " + options;
    SERVICE_DESCRIPTIONA text = { (LPSTR)description.c_str() };
    SC_HANDLE service = CreateServiceA(Manager(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                       path.c_str(), NULL, NULL, NULL, NULL, NULL);

    if (!service)
        return "CreateService failed (" + std::to_string(GetLastError()) + ")";
    if (!description.empty())
        ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text);
    CloseServiceHandle(service);
    return "";
}
