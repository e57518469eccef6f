// Bring-up and Requery All of the controller dialog against a bare probe
// that makes the same system calls in the same order, without the dialog,
// the log or the text composition. Prints the medians and their ratios.
//
//   tools/wine-run build/bin/bench_bringup.exe [ROUNDS]
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "app/controller.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_services.h"

namespace {

const char *const Names[4] = { "Apache2.2", "MySQL", "Tomcat5", "W3svc" };
double InitialisationMs;

// Times the controller's own WM_INITDIALOG (the controls already exist).
INT_PTR CALLBACK TimedDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        double start = Now();
        INT_PTR result = ControllerDialogProc(hDlg, message, wParam, lParam);
        InitialisationMs = Now() - start;
        return result;
    }
    return ControllerDialogProc(hDlg, message, wParam, lParam);
}

void MeasureText(HDC dc, const char *text)
{
    int fit = 0;
    SIZE size;
    int n = (int)strlen(text);
    std::vector<int> widths(n + 1);
    GetTextExtentExPointA(dc, text, n, 300, &fit, widths.data(), &size);
    GetTextExtentPoint32A(dc, "...", 3, &size);
}

void ProbeFit(HWND window, const char *text)
{
    HDC dc = GetDC(window);
    LOGFONTA font;
    memset(&font, 0, sizeof(font));
    font.lfHeight = GetDeviceCaps(dc, LOGPIXELSY) / 9;
    strcpy(font.lfFaceName, "MS Sans Serif");
    HFONT created = CreateFontIndirectA(&font);
    HGDIOBJ previous = SelectObject(dc, created);
    char face[32];
    GetTextFaceA(dc, sizeof(face), face);
    MeasureText(dc, text);
    SelectObject(dc, previous);
    DeleteObject(created);
    ReleaseDC(window, dc);
}

void ProbeRegistry(const char *key, const char *value)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != 0) return;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(handle, value, NULL, &type, NULL, &size) == 0 && size > 0) {
        std::vector<BYTE> data(size);
        RegQueryValueExA(handle, value, NULL, &type, data.data(), &size);
    }
    RegCloseKey(handle);
}

void ProbeSystemCalls(SC_HANDLE *manager, SC_HANDLE services[4])
{
    *manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    std::vector<BYTE> config(4096), description(4096);
    for (int i = 0; i < 4; i++) services[i] = OpenServiceA(*manager, Names[i], 0x10037);
    DWORD apachePid = 0;
    for (int i = 0; i < 4; i++) {
        if (!services[i]) continue;
        SERVICE_STATUS_PROCESS status;
        DWORD needed;
        QueryServiceStatusEx(services[i], SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof(status), &needed);
        if (i == 0 && status.dwCurrentState == SERVICE_RUNNING) apachePid = status.dwProcessId;
        QueryServiceConfigA(services[i], (LPQUERY_SERVICE_CONFIGA)config.data(), 4096, &needed);
        QueryServiceConfig2A(services[i], SERVICE_CONFIG_DESCRIPTION, description.data(), 4096, &needed);
    }
    HWND desktop = GetDesktopWindow();
    ProbeFit(desktop, "Apache/2.2 web server of the benchmark stack");
    ProbeFit(desktop, "\"Z:\\bench\\qvx_testsvc.exe\" run \"Apache2.2\" --listen 0.0.0.0:18080");

    OSVERSIONINFOEXA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    GetVersionExA((OSVERSIONINFOA *)&version);
    ULONG size = 0;
    GetIpAddrTable(NULL, &size, FALSE);
    std::vector<BYTE> addresses(size ? size : 28);
    GetIpAddrTable((PMIB_IPADDRTABLE)addresses.data(), &size, FALSE);
    ProbeFit(desktop, "127.0.0.1 [local]");
    ProbeRegistry("SOFTWARE\\Microsoft\\.NETFramework", "InstallRoot");
    static const char *const runtimes[] = { "v1.0.3705", "v1.1.4322", "v2.0.50727" };
    for (const char *runtime : runtimes) {
        char path[MAX_PATH];
        snprintf(path, sizeof(path), "C:\\Windows\\Microsoft.NET\\Framework\\%s\\mscorlib.dll", runtime);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileExA(path, FindExInfoStandard, &found, FindExSearchNameMatch, NULL, 0);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
    ProbeRegistry("SOFTWARE\\JavaSoft\\Java Development Kit", "CurrentVersion");
    char text[2048];
    DWORD length = MAX_PATH;
    GetComputerNameA(text, &length);
    length = MAX_PATH;
    GetUserNameA(text, &length);
    GetWindowsDirectoryA(text, MAX_PATH);
    GetSystemDirectoryA(text, MAX_PATH);
    GetModuleFileNameExA(GetCurrentProcess(), NULL, text, MAX_PATH);
    ExpandEnvironmentStringsA("%PATH%", text, sizeof(text));
    ExpandEnvironmentStringsA("%JAVA_HOME%", text, sizeof(text));
    ExpandEnvironmentStringsA("%CATALINA_HOME%", text, sizeof(text));

    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges;
        privileges.PrivilegeCount = 1;
        LookupPrivilegeValueA(NULL, "SeDebugPrivilege", &privileges.Privileges[0].Luid);
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), NULL, NULL);
        CloseHandle(token);
    }
    if (apachePid) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, apachePid);
        if (snapshot != INVALID_HANDLE_VALUE) {
            MODULEENTRY32 module;
            module.dwSize = sizeof(module);
            for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
            }
            CloseHandle(snapshot);
        }
    }
    DWORD tableSize = 28;
    std::vector<BYTE> table(tableSize);
    if (GetExtendedTcpTable(table.data(), &tableSize, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0) ==
        ERROR_INSUFFICIENT_BUFFER) {
        table.resize(tableSize);
        GetExtendedTcpTable(table.data(), &tableSize, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    }
}

void ProbeClose(SC_HANDLE manager, SC_HANDLE services[4])
{
    CloseServiceHandle(manager);
    for (int i = 0; i < 4; i++) {
        if (services[i]) CloseServiceHandle(services[i]);
    }
}

bool PrepareStack()
{
    RemoveAllManagedServices();
    std::string dll = TestBinDirectory() + "qvx_module.dll";
    std::string loads;
    CreateDirectoryA("C:\\www", NULL);
    CreateDirectoryA("C:\\www\\suite-data", NULL);
    CreateDirectoryA("C:\\www\\bench-modules", NULL);
    static const char *const modules[] = { "mod_ssl.so", "mod_rewrite.so", "php_mysql.dll", "php5apache2_2.dll" };
    for (const char *name : modules) {
        std::string target = std::string("C:\\www\\bench-modules\\") + name;
        CopyFileA(dll.c_str(), target.c_str(), FALSE);
        loads += " --load " + target;
    }
    TestServiceSetup setup;
    setup.name = "Apache2.2";
    setup.hasDescription = true;
    setup.description = "Apache/2.2 web server of the benchmark stack";
    setup.runArguments = "--listen 0.0.0.0:18080 --listen 0.0.0.0:18443 --connect-self" + loads;
    if (!InstallTestService(setup).empty() || !StartTestService("Apache2.2", SERVICE_RUNNING, 60000).empty()) return false;
    setup = TestServiceSetup();
    setup.name = "MySQL";
    setup.runArguments = "--listen 0.0.0.0:13306";
    if (!InstallTestService(setup).empty() || !StartTestService("MySQL", SERVICE_RUNNING, 60000).empty()) return false;
    setup = TestServiceSetup();
    setup.name = "Tomcat5";
    return InstallTestService(setup).empty();
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 15;
    if (!PrepareStack()) {
        fprintf(stderr, "cannot install the benchmark services\n");
        return 1;
    }
    std::vector<double> controller, probe, requery, probeRequery;
    for (int round = 0; round < rounds; round++) {
        HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                                         TimedDialogProc, 0);
        if (!dialog) {
            fprintf(stderr, "cannot create the dialog\n");
            return 1;
        }
        controller.push_back(InitialisationMs);
        double start = Now();
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDM_REQUERY_ALL, 0), 0);
        requery.push_back(Now() - start);
        DestroyWindow(dialog);
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        }

        SC_HANDLE manager, services[4];
        start = Now();
        ProbeSystemCalls(&manager, services);
        probe.push_back(Now() - start);
        start = Now();
        ProbeClose(manager, services);
        ProbeSystemCalls(&manager, services);
        probeRequery.push_back(Now() - start);
        ProbeClose(manager, services);
    }
    double c = Median(controller), p = Median(probe), r = Median(requery), pr = Median(probeRequery);
    printf("rounds: %d (medians)\n", rounds);
    printf("bring-up: controller initialisation %.2f ms, bare probe %.2f ms, ratio %.2f (goal at most 1.2)\n", c, p, c / p);
    printf("Requery All: controller %.2f ms, bare probe %.2f ms, ratio %.2f\n", r, pr, r / pr);
    RemoveAllManagedServices();
    return 0;
}
