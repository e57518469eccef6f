/* The module walk of the 64-bit program, in the shape of the Tool Help walk
   (snapshot, first, next, close) that the module lists use. A 64-bit caller
   gets a 32-bit process's modules from Tool Help only with
   TH32CS_SNAPMODULE32, which Wine does not answer, while the process status
   calls answer on Windows and Wine alike for 64-bit and 32-bit targets: the
   snapshot lists the process's modules with EnumProcessModulesEx (all of
   them, 64-bit and 32-bit) and reads their names at once. */
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <stdlib.h>
#include <string.h>

#include "modules.h"

#define MODULE_PROCESS_ACCESS (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)
#define PSAPI_MODULE_NAME     "PSAPI.DLL"

typedef BOOL(WINAPI *EnumProcessModulesExFunction)(HANDLE hProcess, HMODULE *lphModule, DWORD cb,
                                                   LPDWORD lpcbNeeded, DWORD dwFilterFlag);

typedef struct ProcessModule {
    HMODULE hModule;
    char szModule[MAX_MODULE_NAME32 + 1]; /* empty: unloaded before it was read */
} ProcessModule;

typedef struct ProcessModuleSnapshot {
    DWORD dwProcessId;
    DWORD dwCount;
    DWORD dwNext;
    ProcessModule *modules;
} ProcessModuleSnapshot;

/* All modules of the process, 64-bit and 32-bit. Windows versions before
   Vista have no EnumProcessModulesEx; there the process's own kind is
   listed. */
static BOOL ListProcessModules(HANDLE process, HMODULE *modules, DWORD size, DWORD *needed)
{
    HMODULE psapi = GetModuleHandleA(PSAPI_MODULE_NAME);
    EnumProcessModulesExFunction listAll = NULL;

    if (psapi != NULL) {
        listAll = (EnumProcessModulesExFunction)(void (*)(void))GetProcAddress(
            psapi, "EnumProcessModulesEx");
    }
    if (listAll == NULL) {
        return EnumProcessModules(process, modules, size, needed);
    }
    return listAll(process, modules, size, needed, LIST_MODULES_ALL);
}

static void FreeModuleSnapshot(ProcessModuleSnapshot *snapshot)
{
    if (snapshot != NULL) {
        free(snapshot->modules);
        free(snapshot);
    }
}

/* Fills the snapshot's modules with the handles and names of the process's
   modules; 0 with the system's error number left when the list cannot be
   had, or when not one name could be read (the process has ended). */
static int ReadProcessModules(HANDLE process, ProcessModuleSnapshot *snapshot)
{
    HMODULE probe;
    HMODULE *handles = NULL;
    DWORD needed = 0;
    DWORD size;
    DWORD i;
    DWORD named = 0;
    DWORD error = ERROR_SUCCESS;
    int ok = 0;

    if (!ListProcessModules(process, &probe, sizeof(probe), &needed)) {
        return 0;
    }
    size = needed;
    if (size < sizeof(HMODULE)) {
        return 1;
    }
    handles = (HMODULE *)malloc(size);
    snapshot->modules = (ProcessModule *)calloc(size / sizeof(HMODULE), sizeof(ProcessModule));
    if (handles == NULL || snapshot->modules == NULL) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        goto cleanup;
    }
    if (!ListProcessModules(process, handles, size, &needed)) {
        error = GetLastError();
        goto cleanup;
    }
    /* Modules loaded since the probe are not in this snapshot. */
    snapshot->dwCount = (needed < size ? needed : size) / sizeof(HMODULE);
    for (i = 0; i < snapshot->dwCount; i++) {
        snapshot->modules[i].hModule = handles[i];
        if (GetModuleBaseNameA(process, handles[i], snapshot->modules[i].szModule,
                               MAX_MODULE_NAME32 + 1) == 0) {
            error = GetLastError();
            snapshot->modules[i].szModule[0] = '\0';
            continue;
        }
        snapshot->modules[i].szModule[MAX_MODULE_NAME32] = '\0';
        named++;
    }
    ok = snapshot->dwCount == 0 || named > 0;

cleanup:
    free(handles);
    if (!ok) {
        SetLastError(error);
    }
    return ok;
}

/* The flags are not consulted: the snapshot always holds every module. */
HANDLE WINAPI SnapshotProcessModules(DWORD dwFlags, DWORD th32ProcessID)
{
    ProcessModuleSnapshot *snapshot;
    HANDLE process;
    DWORD error;

    (void)dwFlags;
    process = OpenProcess(MODULE_PROCESS_ACCESS, FALSE, th32ProcessID);
    if (process == NULL) {
        return INVALID_HANDLE_VALUE;
    }
    snapshot = (ProcessModuleSnapshot *)calloc(1, sizeof(ProcessModuleSnapshot));
    if (snapshot == NULL) {
        CloseHandle(process);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    snapshot->dwProcessId = th32ProcessID;
    if (!ReadProcessModules(process, snapshot)) {
        error = GetLastError();
        FreeModuleSnapshot(snapshot);
        CloseHandle(process);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    CloseHandle(process);
    return (HANDLE)snapshot;
}

/* Copies the next module that has a name into the entry: the process id,
   the module's handle and base address and its file name (the fields the
   module lists read); the rest of the entry is zero. */
static BOOL CopyNextModule(ProcessModuleSnapshot *snapshot, LPMODULEENTRY32 lpme)
{
    const ProcessModule *module;
    DWORD size;

    while (snapshot->dwNext < snapshot->dwCount &&
           snapshot->modules[snapshot->dwNext].szModule[0] == '\0') {
        snapshot->dwNext++;
    }
    if (snapshot->dwNext >= snapshot->dwCount) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    module = &snapshot->modules[snapshot->dwNext++];
    size = lpme->dwSize;
    memset(lpme, 0, sizeof(MODULEENTRY32));
    lpme->dwSize = size;
    lpme->th32ProcessID = snapshot->dwProcessId;
    lpme->hModule = module->hModule;
    lpme->modBaseAddr = (BYTE *)module->hModule;
    memcpy(lpme->szModule, module->szModule, sizeof(lpme->szModule));
    return TRUE;
}

static ProcessModuleSnapshot *OpenedSnapshot(HANDLE hSnapshot, LPMODULEENTRY32 lpme)
{
    if (hSnapshot == NULL || hSnapshot == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    if (lpme == NULL || lpme->dwSize < sizeof(MODULEENTRY32)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    return (ProcessModuleSnapshot *)hSnapshot;
}

BOOL WINAPI FirstProcessModule(HANDLE hSnapshot, LPMODULEENTRY32 lpme)
{
    ProcessModuleSnapshot *snapshot = OpenedSnapshot(hSnapshot, lpme);

    if (snapshot == NULL) {
        return FALSE;
    }
    snapshot->dwNext = 0;
    return CopyNextModule(snapshot, lpme);
}

BOOL WINAPI NextProcessModule(HANDLE hSnapshot, LPMODULEENTRY32 lpme)
{
    ProcessModuleSnapshot *snapshot = OpenedSnapshot(hSnapshot, lpme);

    if (snapshot == NULL) {
        return FALSE;
    }
    return CopyNextModule(snapshot, lpme);
}

BOOL WINAPI CloseProcessModules(HANDLE hSnapshot)
{
    if (hSnapshot == NULL || hSnapshot == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    FreeModuleSnapshot((ProcessModuleSnapshot *)hSnapshot);
    return TRUE;
}
