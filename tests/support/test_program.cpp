// Starting the real controller program and reading its dialog from outside.
#include "test_program.h"

#include <algorithm>

#include "res/resource.h"
#include "test_services.h"

namespace {

struct FindContext {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    FindContext *context = (FindContext *)parameter;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != context->processId) return TRUE;
    char caption[64] = { 0 };
    GetWindowTextA(window, caption, sizeof(caption));
    if (lstrcmpA(caption, "Quorvex Controller") == 0) {
        context->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool RemoteSend(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                DWORD_PTR *result)
{
    DWORD_PTR value = 0;
    LRESULT ok = SendMessageTimeoutW(dialog, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &value);
    if (result) *result = value;
    return ok != 0;
}

bool StartProgram(RunningProgram *program, const std::string &directory, const std::string &exePath,
                  DWORD timeoutMs)
{
    std::string path = exePath.empty() ? TestBinDirectory() + "QuorvexController.exe" : exePath;
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(path.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                        directory.c_str(), &startup, &program->process)) {
        return false;
    }
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        FindContext context = { program->process.dwProcessId, NULL };
        EnumWindows(FindDialog, (LPARAM)&context);
        if (context.found) {
            HWND list = GetDlgItem(context.found, IDC_SERVICES_LIST);
            DWORD_PTR rows = 0;
            // The dialog answers messages only once WM_INITDIALOG returned.
            if (list && IsWindowVisible(context.found) &&
                SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 2000, &rows) && rows == 4) {
                program->dialog = context.found;
                return true;
            }
        }
        if (WaitForSingleObject(program->process.hProcess, 100) == WAIT_OBJECT_0) return false;
    }
    return false;
}

int CloseProgram(RunningProgram *program, DWORD timeoutMs)
{
    if (program->dialog) PostMessageA(program->dialog, WM_CLOSE, 0, 0);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(program->process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        KillProgram(program);
        return -1;
    }
    GetExitCodeProcess(program->process.hProcess, &code);
    CloseHandle(program->process.hProcess);
    CloseHandle(program->process.hThread);
    program->process = PROCESS_INFORMATION();
    program->dialog = NULL;
    return (int)code;
}

void KillProgram(RunningProgram *program)
{
    if (!program->process.hProcess) return;
    TerminateProcess(program->process.hProcess, 99);
    WaitForSingleObject(program->process.hProcess, 10000);
    CloseHandle(program->process.hProcess);
    CloseHandle(program->process.hThread);
    program->process = PROCESS_INFORMATION();
    program->dialog = NULL;
}

std::string RemoteItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    wchar_t text[1024] = { 0 };
    DWORD_PTR length = 0;
    if (!item || !SendMessageTimeoutW(item, WM_GETTEXT, 1024, (LPARAM)text, SMTO_NORMAL, 10000, &length)) {
        return "<no answer>";
    }
    char narrow[2048] = { 0 };
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), NULL, NULL);
    return narrow;
}

std::vector<std::string> RemoteListBoxTexts(HWND dialog, int id)
{
    std::vector<std::string> rows;
    HWND list = GetDlgItem(dialog, id);
    DWORD_PTR count = 0;
    if (!list || !SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 10000, &count)) return rows;
    for (DWORD_PTR i = 0; i < count; i++) {
        wchar_t text[1024] = { 0 };
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, LB_GETTEXT, (WPARAM)i, (LPARAM)text, SMTO_NORMAL, 10000, &length);
        char narrow[2048] = { 0 };
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), NULL, NULL);
        rows.push_back(narrow);
    }
    return rows;
}

int RemoteListBoxSelection(HWND dialog, int id)
{
    HWND list = GetDlgItem(dialog, id);
    DWORD_PTR selection = (DWORD_PTR)-1;
    if (list) SendMessageTimeoutW(list, LB_GETCURSEL, 0, 0, SMTO_NORMAL, 10000, &selection);
    return (int)(LRESULT)selection;
}

int CountProcessHandles(DWORD pid)
{
    typedef LONG (NTAPI *QuerySystem)(ULONG, PVOID, ULONG, PULONG);
    QuerySystem query = (QuerySystem)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    if (!query) return -1;
    // Class 16: a ULONG count, then 16-byte entries whose first ULONG is the owner's pid.
    std::vector<BYTE> table(1 << 16);
    for (int attempt = 0; attempt < 12; attempt++) {
        ULONG needed = 0;
        LONG status = query(16, table.data(), (ULONG)table.size(), &needed);
        if (status == (LONG)0xC0000004) {  // too small
            table.resize(std::max<size_t>(table.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) return -1;
        ULONG count = *(ULONG *)table.data();
        if (4 + (size_t)count * 16 > table.size()) return -1;
        int owned = 0;
        for (ULONG i = 0; i < count; i++) {
            if (*(ULONG *)(table.data() + 4 + (size_t)i * 16) == pid) owned++;
        }
        return owned;
    }
    return -1;
}

size_t CountPrivateBytes(HANDLE process)
{
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    BYTE *address = NULL;
    while (VirtualQueryEx(process, address, &region, sizeof(region)) == sizeof(region)) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        BYTE *next = (BYTE *)region.BaseAddress + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}
