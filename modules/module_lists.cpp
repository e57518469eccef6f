/* The loaded-module lists: the module walk of the web server's process,
   the sorting of each module name into suite modules, PHP extensions or
   Apache modules, and the three list boxes that show them. */
#include <windows.h>
#include <tlhelp32.h>
#include <string.h>

#include "modules.h"
#include "../log/log.h"
#include "../network/network.h"
#include "../res/resource.h"
#include "../services/services.h"

ModuleListsRecord ModuleLists;

/* The size Module32First expects in dwSize: the ANSI MODULEENTRY32 of the
   program's own kind. */
#ifdef _WIN64
#define MODULE_ENTRY_SIZE ((DWORD)sizeof(MODULEENTRY32))

const ModuleWalkCalls ModuleWalkCallsDefault = { SnapshotProcessModules, FirstProcessModule,
                                                 NextProcessModule, CloseProcessModules };
#else
#define MODULE_ENTRY_SIZE 548
typedef char ModuleEntrySizeCheck[sizeof(MODULEENTRY32) == MODULE_ENTRY_SIZE ? 1 : -1];

const ModuleWalkCalls ModuleWalkCallsDefault = { CreateToolhelp32Snapshot, Module32First,
                                                 Module32Next, CloseHandle };
#endif
ModuleWalkCalls ModuleCalls = ModuleWalkCallsDefault;

/* Tested in this order; a name that begins with one of them is a suite
   module, whatever follows (mod_security2.so, mod_jk2.so). */
static const char *const SuiteModuleNames[] = { "mod_fastcgi",   "mod_deflate", "mod_ssl",
                                                "mod_security",  "mod_perl",    "mod_fcgid",
                                                "mod_aspdotnet", "mod_jk",      "php5apache2",
                                                "php4apache2" };
#define SUITE_MODULE_NAME_COUNT (sizeof(SuiteModuleNames) / sizeof(SuiteModuleNames[0]))

#define APACHE_MODULE_PREFIX "mod_"
#define PHP_EXTENSION_PREFIX "php_"

/* The list boxes, emptied and given their placeholder in this order. */
static const int ModuleListBoxOrder[3] = { IDC_APACHE_MODULES, IDC_PHP_EXTENSIONS,
                                           IDC_SUITE_MODULES };

static int BeginsWith(const char *name, const char *prefix)
{
    return strncmp(name, prefix, strlen(prefix)) == 0;
}

static void AppendModuleName(ModuleList *list, const char *name)
{
    char *entry;

    if (list->dwCount >= MODULE_LIST_ENTRIES) {
        list->dwDropped++;
        return;
    }
    entry = list->szNames[list->dwCount];
    strncpy(entry, name, MODULE_NAME_SIZE - 1);
    entry[MODULE_NAME_SIZE - 1] = '\0';
    list->dwCount++;
}

static void EmptyModuleList(ModuleList *list)
{
    list->dwCount = 0;
    list->dwDropped = 0;
}

static void AddListToBox(HWND hDlg, int id, const ModuleList *list)
{
    DWORD i;

    for (i = 0; i < list->dwCount; i++) {
        SendDlgItemMessageA(hDlg, id, LB_ADDSTRING, 0, (LPARAM)list->szNames[i]);
    }
}

static void ShowPlaceholder(HWND hDlg, const char *text)
{
    int i;

    for (i = 0; i < 3; i++) {
        SendDlgItemMessageA(hDlg, ModuleListBoxOrder[i], LB_INSERTSTRING, 0, (LPARAM)text);
    }
}

int ClassifyModule(const char *moduleName)
{
    size_t i;

    for (i = 0; i < SUITE_MODULE_NAME_COUNT; i++) {
        if (BeginsWith(moduleName, SuiteModuleNames[i])) {
            AppendModuleName(&ModuleLists.suiteModules, moduleName);
            return 1;
        }
    }
    if (BeginsWith(moduleName, APACHE_MODULE_PREFIX)) {
        AppendModuleName(&ModuleLists.apacheModules, moduleName);
    } else if (BeginsWith(moduleName, PHP_EXTENSION_PREFIX)) {
        AppendModuleName(&ModuleLists.phpExtensions, moduleName);
    }
    return 1;
}

int EnumerateProcessModules(DWORD processId)
{
    HANDLE snapshot;
    MODULEENTRY32 entry;

    EnableDebugPrivilege();
    snapshot = ModuleCalls.pCreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE) {
        ControllerLogAppend("CreateToolhelp32Snapshot() failed (%d).\n", (int)GetLastError());
        return 0;
    }
    memset(&entry, 0, sizeof(entry));
    entry.dwSize = MODULE_ENTRY_SIZE;
    if (!ModuleCalls.pModule32First(snapshot, &entry)) {
        ControllerLogAppend("Module32First() failed (%d).\n", (int)GetLastError());
        ModuleCalls.pCloseHandle(snapshot);
        return 0;
    }
    ControllerLogAppend("\nEnumerating Process Modules...\n");
    do {
        /* szModule is terminated within its array by the system; make sure. */
        entry.szModule[sizeof(entry.szModule) - 1] = '\0';
        ControllerLogAppend("%s ", entry.szModule);
        ClassifyModule(entry.szModule);
    } while (ModuleCalls.pModule32Next(snapshot, &entry));
    ControllerLogAppend("\n");
    ModuleCalls.pCloseHandle(snapshot);
    return 1;
}

int FillModuleLists(HWND hDlg)
{
    const ServiceEntry *server = &ServiceTable.entries[SERVICE_INDEX_APACHE];
    int i;

    EmptyModuleList(&ModuleLists.suiteModules);
    EmptyModuleList(&ModuleLists.phpExtensions);
    EmptyModuleList(&ModuleLists.apacheModules);
    for (i = 0; i < 3; i++) {
        SendDlgItemMessageA(hDlg, ModuleListBoxOrder[i], LB_RESETCONTENT, 0, 0);
    }
    if (server->bInstalled != 1) {
        ShowPlaceholder(hDlg, "[not installed]");
        return 0;
    }
    /* A running row without a process id would make the snapshot describe
       the controller's own process: shown as not running. */
    if (server->ssStatus.dwCurrentState != SERVICE_RUNNING || server->ssStatus.dwProcessId == 0) {
        ShowPlaceholder(hDlg, "[not running]");
        return 0;
    }
    if (!EnumerateProcessModules(server->ssStatus.dwProcessId)) {
        return 0;
    }
    AddListToBox(hDlg, IDC_APACHE_MODULES, &ModuleLists.apacheModules);
    AddListToBox(hDlg, IDC_PHP_EXTENSIONS, &ModuleLists.phpExtensions);
    AddListToBox(hDlg, IDC_SUITE_MODULES, &ModuleLists.suiteModules);
    return 1;
}
