// Starting the real controller program and reading its dialog from outside.
#include "test_program.h"
#include "res/resource.h"

bool RemoteSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                DWORD_PTR *result)
{
    DWORD_PTR value = 0;
    bool answered =
        SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &value) != 0;
    return (result ? *result = value : 0), answered;
}
bool StartProgram(RunningProgram *program, const std::string &path)
{
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup = { sizeof(startup) };
    if (!CreateProcessA(path.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, "C:\\", &startup,
                        &program->process))
        return false;
    for (DWORD start = GetTickCount(), owner = 0; GetTickCount() - start < 120000;) {
        HWND found = FindWindowA(NULL, "Quorvex Controller");
        DWORD_PTR rows = 0;
        if (found && GetWindowThreadProcessId(found, &owner) &&
            owner == program->process.dwProcessId && IsWindowVisible(found) &&
            RemoteSend(GetDlgItem(found, IDC_SERVICES_LIST), LB_GETCOUNT, 0, 0, 2000, &rows) &&
            rows == 4)
            return (program->dialog = found) != NULL;
        if (WaitForSingleObject(program->process.hProcess, 100) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}
int EndProgram(RunningProgram *program, bool close, DWORD timeoutMs)
{
    DWORD code = (DWORD)-1;
    if (!program->process.hProcess)
        return -1;
    if (close)
        PostMessageA(program->dialog, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(program->process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(program->process.hProcess, &code);
    else if (TerminateProcess(program->process.hProcess, 99))
        WaitForSingleObject(program->process.hProcess, 10000);
    CloseHandle(program->process.hProcess);
    CloseHandle(program->process.hThread);
    return *program = RunningProgram(), (int)code;
}
static std::string RemoteText(HWND window, UINT message, WPARAM wParam)
{
    wchar_t text[1024] = { 0 };
    char narrow[2048] = { 0 };
    if (!RemoteSend(window, message, wParam, (LPARAM)text, 10000))
        return "<no answer>";
    return WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), NULL, NULL), narrow;
}
std::string RemoteTexts(HWND dialog, std::initializer_list<int> ids)
{
    std::string all;
    for (int id : ids) {
        DWORD_PTR rows = 0;
        bool list = RemoteSend(GetDlgItem(dialog, id), LB_GETCOUNT, 0, 0, 10000, &rows) && rows &&
                    rows != (DWORD_PTR)LB_ERR;
        for (DWORD_PTR i = 0; list && i < rows; i++)
            all += (i ? "|" : "") + RemoteText(GetDlgItem(dialog, id), LB_GETTEXT, i);
        all += (list ? "" : RemoteText(GetDlgItem(dialog, id), WM_GETTEXT, 1024)) + "\n";
    }
    return all;
}
