/* Module inventory: the three lists of modules loaded into the web server's
   process. */
#ifndef QUORVEX_MODULES_MODULES_H
#define QUORVEX_MODULES_MODULES_H

#include <windows.h>
#include <tlhelp32.h>

#define MODULE_LIST_ENTRIES 256
#define MODULE_NAME_SIZE    260

/* One list: module file names in the order they were enumerated. A list
   that is full takes no more names; `dwDropped` counts the names of this
   fill that found it full (the log names every module all the same). */
typedef struct ModuleList {
    DWORD dwCount;
    DWORD dwDropped;
    char szNames[MODULE_LIST_ENTRIES][MODULE_NAME_SIZE];
} ModuleList;

typedef struct ModuleListsRecord {
    ModuleList suiteModules;  /* list box 11001 */
    ModuleList phpExtensions; /* list box 11002 */
    ModuleList apacheModules; /* list box 11003 */
} ModuleListsRecord;

/* Rewritten in place by every FillModuleLists. */
extern ModuleListsRecord ModuleLists;

/* The calls of the module walk, reached through one record. The program
   uses ModuleWalkCallsDefault: the 32-bit program the system's Tool Help
   calls (CreateToolhelp32Snapshot, Module32First, Module32Next and
   CloseHandle), the 64-bit program the process module walk below, which
   takes the same arguments and answers the same way. Tests put simulated
   ones in their place where the system cannot produce a case. */
typedef struct ModuleWalkCalls {
    HANDLE(WINAPI *pCreateToolhelp32Snapshot)(DWORD dwFlags, DWORD th32ProcessID);
    BOOL(WINAPI *pModule32First)(HANDLE hSnapshot, LPMODULEENTRY32 lpme);
    BOOL(WINAPI *pModule32Next)(HANDLE hSnapshot, LPMODULEENTRY32 lpme);
    BOOL(WINAPI *pCloseHandle)(HANDLE hObject);
} ModuleWalkCalls;

extern ModuleWalkCalls ModuleCalls;
extern const ModuleWalkCalls ModuleWalkCallsDefault;

/* The process module walk: a snapshot of the modules of a 64-bit or a
   32-bit process (EnumProcessModulesEx with LIST_MODULES_ALL, the names read
   at once), walked and closed like a Tool Help snapshot. The snapshot fails
   with INVALID_HANDLE_VALUE and the system's error number; the walk fails
   with ERROR_NO_MORE_FILES after the last module. */
HANDLE WINAPI SnapshotProcessModules(DWORD dwFlags, DWORD th32ProcessID);
BOOL WINAPI FirstProcessModule(HANDLE hSnapshot, LPMODULEENTRY32 lpme);
BOOL WINAPI NextProcessModule(HANDLE hSnapshot, LPMODULEENTRY32 lpme);
BOOL WINAPI CloseProcessModules(HANDLE hSnapshot);

int FillModuleLists(HWND hDlg);
int EnumerateProcessModules(DWORD processId);
int ClassifyModule(const char *moduleName);

#endif
