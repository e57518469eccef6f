// Bring-up and Requery All of the controller dialog against a bare probe
// that makes the calls the controller cannot avoid on the same data, in the
// same order: the service manager's queries, the rows and fields written
// into a dialog of the same template, the four fitted texts measured as the
// fitting measures them (dialog units mapped, the dialog's font read, the
// measuring font made, the text cut to 254 characters), the version record
// and metric, the address table, the registry values and the runtime files
// the values lead to, the machine facts, the module snapshot and the TCP
// owner table looked up at run time; Requery All's probe also kills the
// eight poll timers and closes the service handles first. What the probe
// leaves out is the controller's own work: the log and the building of its
// texts.
//
// The stack: the web server running with two listeners and four modules,
// the database running, Tomcat5 installed and stopped, W3svc stopped with
// an exit code of its own ("Error [3]"). Before timing, the probe's Status
// and Startup Type rows are checked against the controller's service panel
// in the states where they are not the plain texts (a configuration that
// could not be read among them, which the service manager here cannot be
// made to give), and one untimed run of each side checks that both dialogs
// show the same; then each round runs both, the first one alternating.
// Prints the medians, their difference and ratio.
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

#include <string>
#include <vector>

#include "bench_support.h"
#include "hostinfo/hostinfo.h"
#include "network/network.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_support.h"

namespace
{

const char *const Names[SERVICE_COUNT] = { "Apache2.2", "MySQL", "Tomcat5", "W3svc" };
const char *const RowTexts[SERVICE_COUNT] = { "Apache2.2", "MySQL", "Tomcat5", "IIS W3" };
const int ShownFields[] = { IDC_DESCRIPTION, IDC_BINARY_PATH, IDC_PROCESS_ID,  IDC_IP_AND_PORT,
                            IDC_IP_ADDRESS,  IDC_NET_VERSION, IDC_JDK_VERSION, IDC_OS_VERSION };
const int ShownLists[] = { IDC_SERVICES_LIST, IDC_STATUS_LIST,    IDC_STARTUP_TYPE_LIST,
                           IDC_SUITE_MODULES, IDC_PHP_EXTENSIONS, IDC_APACHE_MODULES };
const int W3svcExitCode = 3;
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

INT_PTR CALLBACK BareDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// --- The probe ---------------------------------------------------------------

struct ProbeService {
    SC_HANDLE handle;
    SERVICE_STATUS_PROCESS status;
    BYTE config[4096];
    BYTE description[4096];
};
SC_HANDLE ProbeManager;
ProbeService Probe[SERVICE_COUNT];
ServiceEndpoints ProbeEndpoints[SERVICE_COUNT];

bool ProbeRunning(int i)
{
    return Probe[i].handle != NULL && Probe[i].status.dwCurrentState == SERVICE_RUNNING;
}

void ProbeOpenServices()
{
    ProbeManager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    for (int i = 0; i < SERVICE_COUNT; i++)
        Probe[i].handle = OpenServiceA(ProbeManager, Names[i], 0x10037);
    for (int i = 0; i < SERVICE_COUNT; i++) {
        ProbeService &s = Probe[i];
        memset(&s.status, 0, sizeof(s.status));
        if (!s.handle)
            continue;
        DWORD needed;
        QueryServiceStatusEx(s.handle, SC_STATUS_PROCESS_INFO, (LPBYTE)&s.status, sizeof(s.status),
                             &needed);
        memset(s.config, 0, sizeof(s.config));
        QueryServiceConfigA(s.handle, (LPQUERY_SERVICE_CONFIGA)s.config, sizeof(s.config), &needed);
        memset(s.description, 0, sizeof(s.description));
        QueryServiceConfig2A(s.handle, SERVICE_CONFIG_DESCRIPTION, s.description,
                             sizeof(s.description), &needed);
    }
}

void ProbeCloseServices()
{
    CloseServiceHandle(ProbeManager);
    for (int i = 0; i < SERVICE_COUNT; i++) {
        if (Probe[i].handle)
            CloseServiceHandle(Probe[i].handle);
        Probe[i].handle = NULL;
    }
}

void RewriteRow(HWND dialog, int list, int i, const char *text)
{
    SendDlgItemMessageA(dialog, list, LB_DELETESTRING, i, 0);
    SendDlgItemMessageA(dialog, list, LB_INSERTSTRING, i, (LPARAM)text);
}

// The measuring and cutting of a fitted text, without its log lines.
void ProbeFit(HWND dialog, int id, const char *text)
{
    char input[255];
    char output[258];
    memset(input, 0, sizeof(input));
    memset(output, 0, sizeof(output));
    strncpy(input, text ? text : "", sizeof(input));
    input[254] = '\0';
    RECT character = { 0, 0, 4, 8 };
    MapDialogRect(dialog, &character);
    RECT control = { 0, 0, 0, 0 };
    GetWindowRect(GetDlgItem(dialog, id), &control);
    RECT limit = { 0, 0,
                   (int)((double)(control.right - control.left) / ((double)character.right * 0.25)),
                   10 };
    MapDialogRect(dialog, &limit);
    HDC dc = GetDC(dialog);
    HGDIOBJ previous = GetCurrentObject(dc, OBJ_FONT);
    LOGFONTA font;
    memset(&font, 0, sizeof(font));
    GetObjectA(previous, sizeof(font), &font);
    if (strcmp(font.lfFaceName, "System") != 0)
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
    memset(&font, 0, sizeof(font));
    font.lfHeight = GetDeviceCaps(dc, LOGPIXELSY) / 9;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    strcpy(font.lfFaceName, "MS Sans Serif");
    HFONT created = CreateFontIndirectA(&font);
    SelectObject(dc, created);
    char face[32];
    GetTextFaceA(dc, sizeof(face), face);
    int n = (int)strlen(input), fit = 0;
    int *widths = (int *)calloc(n > 0 ? n : 1, sizeof(int));
    SIZE size;
    GetTextExtentExPointA(dc, input, n, limit.right, &fit, widths, &size);
    memcpy(output, input, fit);
    if (fit < n) {
        GetTextExtentPoint32A(dc, "...", 3, &size);
        for (int k = 1; k <= 3 && k <= fit; k++) {
            if (widths[fit - 1] - (fit - k > 0 ? widths[fit - k - 1] : 0) >= size.cx) {
                strcpy(output + fit - k, "...");
                break;
            }
        }
    }
    free(widths);
    SelectObject(dc, previous);
    DeleteObject(created);
    ReleaseDC(dialog, dc);
    SetDlgItemTextA(dialog, id, output);
}

// A service's Status and Startup Type rows as the controller writes them:
// "Error [n]" for a service that reports an exit code of its own, whatever
// its state; no start type where the configuration could not be read (its
// block stays zero-filled, service type 0 included).
void ProbeRowTexts(int i, char status[20], const char **start)
{
    static const char *const states[] = { "Unknown", "Stopped",    "Starting", "Stopping",
                                          "Running", "Continuing", "Pausing",  "Paused" };
    static const char *const starts[] = { "Boot Time", "System", "Automatic", "Demand",
                                          "Disabled" };
    const SERVICE_STATUS_PROCESS &s = Probe[i].status;
    const QUERY_SERVICE_CONFIGA *config = (const QUERY_SERVICE_CONFIGA *)Probe[i].config;
    *start = "";
    if (!Probe[i].handle) {
        strcpy(status, "[not installed]");
        return;
    }
    if (s.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
        snprintf(status, 20, "Error [%d]", (int)s.dwServiceSpecificExitCode);
    else
        strcpy(status, states[s.dwCurrentState < 8 ? s.dwCurrentState : 0]);
    if (config->dwServiceType != 0)
        *start = config->dwStartType < 5 ? starts[config->dwStartType] : "Unknown";
}

void ProbeRows(HWND dialog)
{
    for (int i = 0; i < SERVICE_COUNT; i++) {
        char status[20];
        const char *start;
        ProbeRowTexts(i, status, &start);
        RewriteRow(dialog, IDC_STATUS_LIST, i, status);
        RewriteRow(dialog, IDC_STARTUP_TYPE_LIST, i, start);
    }
}

void ProbeDetails(HWND dialog, int i)
{
    if (!Probe[i].handle) {
        SetDlgItemTextA(dialog, IDC_DESCRIPTION, "[not installed]");
        SetDlgItemTextA(dialog, IDC_BINARY_PATH, "");
        SetDlgItemTextA(dialog, IDC_PROCESS_ID, "");
        return;
    }
    const char *description = ((SERVICE_DESCRIPTIONA *)Probe[i].description)->lpDescription;
    if (description)
        ProbeFit(dialog, IDC_DESCRIPTION, description);
    else
        SetDlgItemTextA(dialog, IDC_DESCRIPTION, "[not provided]");
    ProbeFit(dialog, IDC_BINARY_PATH, ((QUERY_SERVICE_CONFIGA *)Probe[i].config)->lpBinaryPathName);
    char pid[16];
    snprintf(pid, sizeof(pid), "%d", (int)Probe[i].status.dwProcessId);
    SetDlgItemTextA(dialog, IDC_PROCESS_ID, Probe[i].status.dwProcessId ? pid : "[not running]");
}

// "a.b.c.d" with its class, as the fields show an address.
std::string AddressText(DWORD address)
{
    char dotted[16], addressClass[16];
    FormatIpAddress(dotted, address);
    ClassifyIpAddress(addressClass, address);
    return std::string(dotted) + " [" + addressClass + "]";
}

bool ProbeRegistry(const char *key, const char *value, char *text, size_t capacity)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != 0)
        return false;
    DWORD type = 0, size = 0;
    bool read = false;
    if (RegQueryValueExA(handle, value, NULL, &type, NULL, &size) == 0 &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<BYTE> data(size + 1);
        if (RegQueryValueExA(handle, value, NULL, &type, data.data(), &size) == 0) {
            snprintf(text, capacity, "%s", (const char *)data.data());
            read = true;
        }
    }
    RegCloseKey(handle);
    return read;
}

void ProbeSystemInformation(HWND dialog)
{
    OSVERSIONINFOEXA version;
    SYSTEM_INFO system;
    memset(&version, 0, sizeof(version));
    memset(&system, 0, sizeof(system));
    GetSystemInfo(&system);
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA((OSVERSIONINFOA *)&version)) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        GetVersionExA((OSVERSIONINFOA *)&version);
    }
    char text[256];
    ComposeWindowsVersionText(text, &version, system.wProcessorArchitecture,
                              GetSystemMetrics(SM_SERVERR2));
    SetDlgItemTextA(dialog, IDC_OS_VERSION, text);

    ULONG size = 0;
    BYTE *table = (BYTE *)malloc(28);
    if (GetIpAddrTable((PMIB_IPADDRTABLE)table, &size, FALSE) == ERROR_INSUFFICIENT_BUFFER) {
        free(table);
        table = (BYTE *)malloc(size);
    }
    std::string addresses;
    if (GetIpAddrTable((PMIB_IPADDRTABLE)table, &size, FALSE) == NO_ERROR) {
        const MIB_IPADDRTABLE *rows = (const MIB_IPADDRTABLE *)table;
        for (DWORD r = 0; r < rows->dwNumEntries && r < 5; r++) {
            if (r > 0)
                addresses += ", ";
            addresses += AddressText(rows->table[r].dwAddr);
        }
    }
    free(table);
    ProbeFit(dialog, IDC_IP_ADDRESS, addresses.c_str());

    static const char *const runtimes[3][2] = { { "v1.0.3705", "1.0" },
                                                { "v1.1.4322", "1.1" },
                                                { "v2.0.50727", "2.0" } };
    char root[256];
    std::string dotNet = "[not detected]";
    if (ProbeRegistry("SOFTWARE\\Microsoft\\.NETFramework", "InstallRoot", root, sizeof(root))) {
        dotNet.clear();
        for (int i = 0; i < 3; i++) {
            std::string path = std::string(root) + runtimes[i][0] + "\\mscorlib.dll";
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileExA(path.c_str(), FindExInfoStandard, &found,
                                             FindExSearchNameMatch, NULL, 0);
            if (search == INVALID_HANDLE_VALUE)
                continue;
            FindClose(search);
            DWORD handle = 0, length = GetFileVersionInfoSizeA(path.c_str(), &handle);
            std::vector<BYTE> block(length ? length : 1);
            VS_FIXEDFILEINFO *fixed = NULL;
            UINT fixedSize = 0;
            GetFileVersionInfoA(path.c_str(), 0, length, block.data());
            VerQueryValueA(block.data(), "\\", (LPVOID *)&fixed, &fixedSize);
            dotNet += std::string(dotNet.empty() ? "" : ", ") + "v" + runtimes[i][1] + " ";
        }
    }
    SetDlgItemTextA(dialog, IDC_NET_VERSION, dotNet.c_str());
    char jdk[260];
    bool jdkFound = ProbeRegistry("SOFTWARE\\JavaSoft\\Java Development Kit", "CurrentVersion", jdk,
                                  sizeof(jdk));
    SetDlgItemTextA(dialog, IDC_JDK_VERSION,
                    jdkFound ? (std::string("v") + jdk).c_str() : "[not detected]");

    char fact[2048];
    DWORD length = 260;
    GetComputerNameA(fact, &length);
    length = 260;
    GetUserNameA(fact, &length);
    GetWindowsDirectoryA(fact, 260);
    GetSystemDirectoryA(fact, 260);
    GetModuleFileNameExA(GetCurrentProcess(), NULL, fact, 260);
    ExpandEnvironmentStringsA("%PATH%", fact, sizeof(fact));
    ExpandEnvironmentStringsA("%JAVA_HOME%", fact, sizeof(fact));
    ExpandEnvironmentStringsA("%CATALINA_HOME%", fact, sizeof(fact));
}

const char *const SuiteModules[] = { "mod_fastcgi", "mod_deflate", "mod_ssl",       "mod_security",
                                     "mod_perl",    "mod_fcgid",   "mod_aspdotnet", "mod_jk",
                                     "php5apache2", "php4apache2" };

void ProbeModules(HWND dialog)
{
    static const int lists[3] = { IDC_APACHE_MODULES, IDC_PHP_EXTENSIONS, IDC_SUITE_MODULES };
    for (int list : lists)
        SendDlgItemMessageA(dialog, list, LB_RESETCONTENT, 0, 0);
    if (!ProbeRunning(0) || Probe[0].status.dwProcessId == 0) {
        for (int list : lists) {
            SendDlgItemMessageA(dialog, list, LB_INSERTSTRING, 0,
                                (LPARAM)(Probe[0].handle ? "[not running]" : "[not installed]"));
        }
        return;
    }
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges;
        privileges.PrivilegeCount = 1;
        LookupPrivilegeValueA(NULL, "SeDebugPrivilege", &privileges.Privileges[0].Luid);
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD returned;
        AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), NULL, &returned);
        CloseHandle(token);
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, Probe[0].status.dwProcessId);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    MODULEENTRY32 module;
    module.dwSize = sizeof(module);
    for (BOOL more = Module32First(snapshot, &module); more;
         more = Module32Next(snapshot, &module)) {
        const char *name = module.szModule;
        int list = strncmp(name, "mod_", 4) == 0   ? IDC_APACHE_MODULES
                   : strncmp(name, "php_", 4) == 0 ? IDC_PHP_EXTENSIONS
                                                   : 0;
        for (const char *suite : SuiteModules) {
            if (strncmp(name, suite, strlen(suite)) == 0)
                list = IDC_SUITE_MODULES;
        }
        if (list)
            SendDlgItemMessageA(dialog, list, LB_ADDSTRING, 0, (LPARAM)name);
    }
    CloseHandle(snapshot);
}

typedef DWORD(WINAPI *TcpTableFunction)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

void ProbeMapEndpoints()
{
    memset(ProbeEndpoints, 0, sizeof(ProbeEndpoints));
    TcpTableFunction read = (TcpTableFunction)(void (*)(void))GetProcAddress(
        GetModuleHandleA("Iphlpapi.dll"), "GetExtendedTcpTable");
    if (!read)
        return;
    DWORD size = 28;
    BYTE *buffer = (BYTE *)malloc(size);
    DWORD result = read(buffer, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    if (result == ERROR_INSUFFICIENT_BUFFER) {
        free(buffer);
        buffer = (BYTE *)malloc(size);
        result = read(buffer, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    }
    const MIB_TCPTABLE_OWNER_PID *table = (const MIB_TCPTABLE_OWNER_PID *)buffer;
    for (DWORD r = 0; result == NO_ERROR && r < table->dwNumEntries; r++) {
        for (int i = 0; i < SERVICE_COUNT; i++) {
            ServiceEndpoints &record = ProbeEndpoints[i];
            if (!ProbeRunning(i) || table->table[r].dwOwningPid != Probe[i].status.dwProcessId)
                continue;
            if (record.count == ENDPOINT_SLOTS)
                continue;
            record.slots[record.count].address = table->table[r].dwLocalAddr;
            record.slots[record.count++].port = ntohs((u_short)table->table[r].dwLocalPort);
        }
    }
    free(buffer);
}

void ProbeShowEndpoints(HWND dialog, int i)
{
    if (!ProbeRunning(i)) {
        SetDlgItemTextA(dialog, IDC_IP_AND_PORT, "");
        return;
    }
    std::string text;
    for (DWORD k = 0; k < ProbeEndpoints[i].count; k++) {
        char dotted[16], addressClass[16], endpoint[40];
        FormatIpAddress(dotted, ProbeEndpoints[i].slots[k].address);
        ClassifyIpAddress(addressClass, ProbeEndpoints[i].slots[k].address);
        snprintf(endpoint, sizeof(endpoint), "%s%s:%d [%s]", k ? ", " : "", dotted,
                 (int)ProbeEndpoints[i].slots[k].port, addressClass);
        text += endpoint;
    }
    ProbeFit(dialog, IDC_IP_AND_PORT, text.c_str());
}

void ProbeShowAll(HWND dialog)
{
    ProbeRows(dialog);
    int selected = (int)SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_GETCURSEL, 0, 0);
    ProbeDetails(dialog, selected);
    ProbeSystemInformation(dialog);
    ProbeModules(dialog);
    ProbeMapEndpoints();
    ProbeShowEndpoints(dialog, selected);
}

void ProbeBringUp(HWND dialog)
{
    ProbeOpenServices();
    for (int i = 0; i < SERVICE_COUNT; i++) {
        SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_INSERTSTRING, i, (LPARAM)RowTexts[i]);
    }
    SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SELECTSTRING, 0, (LPARAM) "Apache2");
    ProbeShowAll(dialog);
}

void ProbeRequeryAll(HWND dialog)
{
    for (int i = 0; i < SERVICE_COUNT; i++) {
        KillTimer(dialog, IDT_STOP_POLL_BASE + i);
        KillTimer(dialog, IDT_START_POLL_BASE + i);
    }
    ProbeCloseServices();
    ProbeOpenServices();
    ProbeShowAll(dialog);
}

void Drain()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    }
}

// --- The probe's rows against the controller's --------------------------------

// The states whose rows are not the plain state and start type texts, and a
// plain one.
struct RowState {
    const char *what;
    bool installed;
    DWORD state;
    DWORD exitCode;
    DWORD ownExitCode;
    DWORD serviceType; // 0: the configuration could not be read
    DWORD startType;
};

const RowState RowStates[] = {
    { "running, on demand", true, SERVICE_RUNNING, NO_ERROR, 0, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_DEMAND_START },
    { "not installed", false, 0, NO_ERROR, 0, 0, 0 },
    { "stopped with an exit code of its own", true, SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR,
      3, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START },
    { "running, an exit code of its own still reported", true, SERVICE_RUNNING,
      ERROR_SERVICE_SPECIFIC_ERROR, 70000, SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED },
    { "stopped with a system exit code", true, SERVICE_STOPPED, ERROR_FILE_NOT_FOUND, 0,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START },
    { "configuration unknown", true, SERVICE_STOPPED, NO_ERROR, 0, 0, 0 },
    { "a state and a start type with no text", true, 9, NO_ERROR, 0, SERVICE_WIN32_OWN_PROCESS, 7 },
};

// Row i of the Status and Startup Type lists, quoted.
std::string RowsOf(HWND dialog, int i)
{
    char status[64], start[64];
    status[0] = start[0] = '\0';
    SendDlgItemMessageA(dialog, IDC_STATUS_LIST, LB_GETTEXT, i, (LPARAM)status);
    SendDlgItemMessageA(dialog, IDC_STARTUP_TYPE_LIST, LB_GETTEXT, i, (LPARAM)start);
    return std::string("\"") + status + "\", \"" + start + "\"";
}

// Each state's rows, written by the controller's service panel from a
// service table row and by the probe from the same status and configuration
// block, in a dialog of the template; returns the number of states where
// they differ, each printed.
int CheckRowTexts()
{
    const int i = SERVICE_COUNT - 1;
    HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                                     BareDialogProc, 0);
    if (!dialog) {
        printf("  no dialog to check the rows in\n");
        return 1;
    }
    for (int row = 0; row < SERVICE_COUNT; row++) {
        SendDlgItemMessageA(dialog, IDC_STATUS_LIST, LB_ADDSTRING, 0, (LPARAM) "");
        SendDlgItemMessageA(dialog, IDC_STARTUP_TYPE_LIST, LB_ADDSTRING, 0, (LPARAM) "");
    }
    ServiceEntry saved = ServiceTable.entries[i];
    int differences = 0;
    for (const RowState &row : RowStates) {
        QUERY_SERVICE_CONFIGA config;
        memset(&config, 0, sizeof(config));
        config.dwServiceType = row.serviceType;
        config.dwStartType = row.startType;
        SERVICE_STATUS_PROCESS status;
        memset(&status, 0, sizeof(status));
        status.dwCurrentState = row.state;
        status.dwWin32ExitCode = row.exitCode;
        status.dwServiceSpecificExitCode = row.ownExitCode;

        ServiceEntry &entry = ServiceTable.entries[i];
        entry.bInstalled = row.installed ? 1 : 0;
        entry.ssStatus = status;
        entry.lpConfiguration = &config;
        RefreshStatusRow(dialog, i);
        RefreshStartupTypeRow(dialog, i);
        std::string controller = RowsOf(dialog, i);

        // Only whether the probe holds a handle is read.
        Probe[i].handle = row.installed ? (SC_HANDLE)&Probe[i] : NULL;
        Probe[i].status = status;
        memset(Probe[i].config, 0, sizeof(Probe[i].config));
        memcpy(Probe[i].config, &config, sizeof(config));
        ProbeRows(dialog);
        std::string probe = RowsOf(dialog, i);
        if (probe != controller) {
            printf("  %s: the controller writes %s, the probe %s\n", row.what, controller.c_str(),
                   probe.c_str());
            differences++;
        }
    }
    ServiceTable.entries[i] = saved;
    memset(&Probe[i], 0, sizeof(Probe[i]));
    DestroyWindow(dialog);
    Drain();
    if (differences == 0) {
        printf("the probe writes the controller's Status and Startup Type rows in the %d states "
               "checked (an exit code of its own, the configuration unknown among them)\n",
               (int)(sizeof(RowStates) / sizeof(RowStates[0])));
    }
    return differences;
}

// --- The rounds --------------------------------------------------------------

// What a dialog shows: its fields and list rows, one text per line.
std::string Shown(HWND dialog)
{
    std::string shown;
    char text[512];
    for (int id : ShownFields) {
        GetDlgItemTextA(dialog, id, text, sizeof(text));
        shown += std::to_string(id) + " " + text + "\n";
    }
    for (int id : ShownLists) {
        int rows = (int)SendDlgItemMessageA(dialog, id, LB_GETCOUNT, 0, 0);
        for (int r = 0; r < rows; r++) {
            if (SendDlgItemMessageA(dialog, id, LB_GETTEXTLEN, r, 0) >= (LRESULT)sizeof(text))
                continue;
            SendDlgItemMessageA(dialog, id, LB_GETTEXT, r, (LPARAM)text);
            shown += std::to_string(id) + "." + std::to_string(r) + " " + text + "\n";
        }
    }
    return shown;
}

// One run of a side: bring-up, then Requery All; returns what it showed.
std::string RunController(double *bringUp, double *requery)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                                     TimedDialogProc, 0);
    if (!dialog)
        return "";
    *bringUp = InitialisationMs;
    double start = Now();
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDM_REQUERY_ALL, 0), 0);
    *requery = Now() - start;
    std::string shown = Shown(dialog);
    DestroyWindow(dialog);
    Drain();
    return shown;
}

std::string RunProbe(double *bringUp, double *requery)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                                     BareDialogProc, 0);
    if (!dialog)
        return "";
    double start = Now();
    ProbeBringUp(dialog);
    *bringUp = Now() - start;
    start = Now();
    ProbeRequeryAll(dialog);
    *requery = Now() - start;
    std::string shown = Shown(dialog);
    ProbeCloseServices();
    DestroyWindow(dialog);
    Drain();
    return shown;
}

// Started, and stopped again at once with its own exit code, as the
// service manager reports it within 30 s.
bool StoppedWithOwnExitCode(const char *name)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_START | SERVICE_QUERY_STATUS);
    StartServiceA(service, 0, NULL);
    SERVICE_STATUS_PROCESS status;
    memset(&status, 0, sizeof(status));
    DWORD start = GetTickCount();
    bool stopped = false;
    while (!stopped && GetTickCount() - start < 30000) {
        DWORD needed;
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof(status),
                             &needed);
        stopped = status.dwCurrentState == SERVICE_STOPPED &&
                  status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR;
        if (!stopped)
            Sleep(50);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return stopped;
}

// The stack: the web server running with its listeners and modules, the
// database running, Tomcat5 installed and stopped, W3svc stopped with an
// exit code of its own.
bool PrepareStack()
{
    RemoveAllManagedServices();
    std::string dll = TestBinDirectory() + "qvx_module.dll";
    std::string loads;
    CreateDirectoryA("C:\\www", NULL);
    CreateDirectoryA("C:\\www\\suite-data", NULL);
    CreateDirectoryA("C:\\www\\bench-modules", NULL);
    static const char *const modules[] = { "mod_ssl.so", "mod_rewrite.so", "php_mysql.dll",
                                           "php5apache2_2.dll" };
    for (const char *name : modules) {
        std::string target = std::string("C:\\www\\bench-modules\\") + name;
        CopyFileA(dll.c_str(), target.c_str(), FALSE);
        loads += " --load " + target;
    }
    std::string apache = "--listen 0.0.0.0:18080 --listen 0.0.0.0:18443" + loads;
    if (!InstallTestService("Apache2.2", apache, SERVICE_DEMAND_START,
                            "Apache/2.2 web server of the benchmark stack")
             .empty() ||
        !StartTestService("Apache2.2", SERVICE_RUNNING, 60000).empty())
        return false;
    if (!InstallTestService("MySQL", "--listen 0.0.0.0:13306", SERVICE_DEMAND_START, "").empty() ||
        !StartTestService("MySQL", SERVICE_RUNNING, 60000).empty())
        return false;
    if (!InstallTestService("Tomcat5", "", SERVICE_DEMAND_START, "").empty())
        return false;
    std::string failing = "--exit-code " + std::to_string(W3svcExitCode);
    std::string program = TestBinDirectory() + "qvx_endpoint_service.exe";
    return InstallTestService("W3svc", failing, SERVICE_DEMAND_START, "", program).empty() &&
           StoppedWithOwnExitCode("W3svc");
}

// The lines of one text that the other lacks, marked with the side's name.
void PrintDifferences(const std::string &a, const char *nameA, const std::string &b)
{
    size_t at = 0;
    while (at < a.size()) {
        size_t end = a.find('\n', at);
        std::string line = a.substr(at, end - at + 1);
        if (b.find(line) == std::string::npos)
            printf("    only the %s shows: %s", nameA, line.c_str());
        at = end + 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 41;
    if (rounds < 1)
        rounds = 1;
    int status = CheckRowTexts() == 0 ? 0 : 1;
    if (!PrepareStack()) {
        fprintf(stderr, "cannot install the benchmark services\n");
        return 1;
    }
    double ignored[2];
    std::string controllerShows = RunController(&ignored[0], &ignored[1]);
    std::string probeShows = RunProbe(&ignored[0], &ignored[1]);
    if (controllerShows.empty() || controllerShows != probeShows) {
        printf("  the probe's dialog does not show what the controller's shows:\n");
        PrintDifferences(controllerShows, "controller", probeShows);
        PrintDifferences(probeShows, "probe", controllerShows);
        status = 1;
    } else {
        printf("both dialogs show the same %d fields and list rows\n",
               (int)std::count(controllerShows.begin(), controllerShows.end(), '\n'));
    }
    std::vector<double> controller, probe, requery, probeRequery;
    for (int round = 0; round < rounds; round++) {
        for (int turn = 0; turn < 2; turn++) {
            double b = 0, r = 0;
            if ((turn == 0) == (round % 2 == 0)) {
                RunController(&b, &r);
                controller.push_back(b);
                requery.push_back(r);
            } else {
                RunProbe(&b, &r);
                probe.push_back(b);
                probeRequery.push_back(r);
            }
        }
    }
    printf("bring-up and Requery All, %d rounds after one warm-up of each, order alternating "
           "(medians)\n",
           rounds);
    PrintComparison("bring-up", "controller initialisation", controller, "bare probe", probe, 1.2);
    PrintComparison("Requery All", "controller", requery, "bare probe", probeRequery, 0);
    RemoveAllManagedServices();
    return status;
}
