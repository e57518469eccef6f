// A service program for the module-list tests: it runs as the web server
// service, loads modules under the names it is given, and publishes the
// names of every module loaded into its process, in the loader's order, as
// its own loader list gives them.
//
//   qvx_module_service run NAME [--load PATH]... [--load-dir DIR]...
//
// The list goes to C:\qvxmods\walk-PID.txt, one file name a line, before the
// service reports running. (The tests' module walk reads it: under the
// emulation these tests run in, one process cannot read another's memory,
// so the system's module snapshot has nothing to give.)
// NtCurrentTeb reads the thread block through fs:, which the compiler takes
// for a zero-length array.
#pragma GCC diagnostic ignored "-Warray-bounds"
#include <windows.h>
#include <winternl.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string ServiceName;
std::vector<std::string> LoadPaths;
std::vector<std::string> LoadDirectories;
SERVICE_STATUS_HANDLE StatusHandle;
HANDLE StopEvent;

void Report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    SetServiceStatus(StatusHandle, &status);
}

void LoadDirectory(const std::string &directory)
{
    // In name order, so that a test knows the order of the loader list.
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) LoadLibraryA((directory + "\\" + name).c_str());
}

// The loader's own list of this process, read in place.
std::vector<std::string> LoadedModuleNames()
{
    std::vector<std::string> names;
    PEB *peb = NtCurrentTeb()->ProcessEnvironmentBlock;
    LIST_ENTRY *head = &peb->Ldr->InMemoryOrderModuleList;
    for (LIST_ENTRY *link = head->Flink; link != head; link = link->Flink) {
        LDR_DATA_TABLE_ENTRY *entry = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
        std::wstring path(entry->FullDllName.Buffer, entry->FullDllName.Length / sizeof(wchar_t));
        size_t slash = path.find_last_of(L"\\/");
        std::wstring base = slash == std::wstring::npos ? path : path.substr(slash + 1);
        char name[MAX_PATH] = { 0 };
        WideCharToMultiByte(CP_ACP, 0, base.c_str(), (int)base.size(), name, sizeof(name) - 1, NULL, NULL);
        names.push_back(name);
    }
    return names;
}

void PublishModuleNames()
{
    char path[MAX_PATH];
    char temporary[MAX_PATH];
    snprintf(path, sizeof(path), "C:\\qvxmods\\walk-%lu.txt", GetCurrentProcessId());
    snprintf(temporary, sizeof(temporary), "%s.tmp", path);
    CreateDirectoryA("C:\\qvxmods", NULL);
    FILE *file = fopen(temporary, "wb");
    if (!file) return;
    for (const std::string &name : LoadedModuleNames()) fprintf(file, "%s\n", name.c_str());
    fclose(file);
    MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        SetEvent(StopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPSTR *)
{
    StatusHandle = RegisterServiceCtrlHandlerExA(ServiceName.c_str(), ControlHandler, NULL);
    if (!StatusHandle) return;
    Report(SERVICE_START_PENDING);
    for (const std::string &path : LoadPaths) LoadLibraryA(path.c_str());
    for (const std::string &directory : LoadDirectories) LoadDirectory(directory);
    PublishModuleNames();
    Report(SERVICE_RUNNING);
    WaitForSingleObject(StopEvent, INFINITE);
    Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || strcmp(argv[1], "run") != 0) {
        fprintf(stderr, "usage: qvx_module_service run NAME [--load PATH]... [--load-dir DIR]...\n");
        return 2;
    }
    ServiceName = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--load") == 0) LoadPaths.push_back(argv[i + 1]);
        else if (strcmp(argv[i], "--load-dir") == 0) LoadDirectories.push_back(argv[i + 1]);
    }
    StopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    SERVICE_TABLE_ENTRYA table[2] = { { (LPSTR)ServiceName.c_str(), ServiceMain }, { NULL, NULL } };
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
