// The Tool Help stand-in of the module-list tests: snapshots of the names a
// process published, handed out through a real event handle per snapshot.
#include "simulated_toolhelp.h"

#include <stdio.h>
#include <string.h>

#include "modules/modules.h"

namespace {

SimulatedToolhelp Simulation;

struct Snapshot {
    HANDLE handle;
    std::vector<std::string> names;
    size_t next;
};
std::vector<Snapshot> Snapshots;

Snapshot *FindSnapshot(HANDLE handle)
{
    for (Snapshot &snapshot : Snapshots) if (snapshot.handle == handle) return &snapshot;
    return NULL;
}

bool ProcessAlive(DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

HANDLE WINAPI SimulatedSnapshot(DWORD flags, DWORD processId)
{
    Simulation.snapshots++;
    Simulation.lastFlags = flags;
    Simulation.lastProcessId = processId;
    Simulation.debugPrivilegeAtSnapshot = DebugPrivilegeEnabled();
    std::vector<std::string> names;
    if (ProcessAlive(processId)) {
        names = PublishedModuleNames(processId);
        if (names.empty() && processId == Simulation.givenProcessId) names = Simulation.givenNames;
    }
    if (names.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Snapshot snapshot = { CreateEventA(NULL, TRUE, FALSE, NULL), names, 0 };
    Snapshots.push_back(snapshot);
    return snapshot.handle;
}

BOOL Fill(Snapshot *snapshot, LPMODULEENTRY32 entry)
{
    if (!snapshot) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Simulation.lastEntrySize = entry->dwSize;
    if (entry->dwSize != sizeof(MODULEENTRY32)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (snapshot->next >= snapshot->names.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    const std::string &name = snapshot->names[snapshot->next++];
    memset(entry->szModule, 0, sizeof(entry->szModule));
    strncpy(entry->szModule, name.c_str(), sizeof(entry->szModule) - 1);
    snprintf(entry->szExePath, sizeof(entry->szExePath), "C:\\qvxmods\\%s", entry->szModule);
    return TRUE;
}

BOOL WINAPI SimulatedFirst(HANDLE handle, LPMODULEENTRY32 entry)
{
    Snapshot *snapshot = FindSnapshot(handle);
    if (snapshot && Simulation.firstError != 0) {
        SetLastError(Simulation.firstError);
        return FALSE;
    }
    if (snapshot) snapshot->next = 0;
    return Fill(snapshot, entry);
}

BOOL WINAPI SimulatedNext(HANDLE handle, LPMODULEENTRY32 entry)
{
    return Fill(FindSnapshot(handle), entry);
}

BOOL WINAPI SimulatedClose(HANDLE handle)
{
    for (size_t i = 0; i < Snapshots.size(); i++) {
        if (Snapshots[i].handle == handle) {
            Simulation.closes++;
            Snapshots.erase(Snapshots.begin() + (long)i);
            break;
        }
    }
    return CloseHandle(handle);
}

bool SetDebugPrivilege(DWORD attributes)
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = attributes;
    bool ok = LookupPrivilegeValueA(NULL, "SeDebugPrivilege", &privileges.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), NULL, NULL);
    CloseHandle(token);
    return ok;
}

}  // namespace

SimulatedToolhelp &InstallSimulatedToolhelp()
{
    Simulation = SimulatedToolhelp();
    ModuleCalls.pCreateToolhelp32Snapshot = SimulatedSnapshot;
    ModuleCalls.pModule32First = SimulatedFirst;
    ModuleCalls.pModule32Next = SimulatedNext;
    ModuleCalls.pCloseHandle = SimulatedClose;
    return Simulation;
}

void RemoveSimulatedToolhelp()
{
    ModuleCalls = ModuleWalkCallsDefault;
    for (Snapshot &snapshot : Snapshots) CloseHandle(snapshot.handle);
    Snapshots.clear();
}

std::vector<std::string> PublishedModuleNames(DWORD processId)
{
    std::vector<std::string> names;
    char path[MAX_PATH];
    snprintf(path, sizeof(path), "C:\\qvxmods\\walk-%lu.txt", processId);
    FILE *file = fopen(path, "rb");
    if (!file) return names;
    char line[MAX_PATH + 2];
    while (fgets(line, sizeof(line), file)) {
        size_t length = strcspn(line, "\r\n");
        line[length] = '\0';
        if (length > 0) names.push_back(line);
    }
    fclose(file);
    return names;
}

bool DebugPrivilegeEnabled()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    PRIVILEGE_SET set = {};
    set.PrivilegeCount = 1;
    set.Control = PRIVILEGE_SET_ALL_NECESSARY;
    BOOL held = FALSE;
    bool ok = LookupPrivilegeValueA(NULL, "SeDebugPrivilege", &set.Privilege[0].Luid) &&
              PrivilegeCheck(token, &set, &held);
    CloseHandle(token);
    return ok && held;
}

void DisableDebugPrivilege()
{
    SetDebugPrivilege(0);
}
