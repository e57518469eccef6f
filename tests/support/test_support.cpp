// Helpers shared by the tests.
#include "test_support.h"
#include <io.h>
#include <stdio.h>
#include "app/controller.h"
#include "log/log.h"
#include "res/resource.h"
static std::string ReadWhole(const char *path, const char *mode)
{
    std::string text;
    FILE *file = fopen(path, mode);
    if (!file)
        return text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), file)) > 0;)
        text.append(buffer, n);
    fclose(file);
    return text;
}
std::string ExpectedText(const char *name)
{
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\')
        length--;
    return ReadWhole((std::string(path, length) + name).c_str(), "rb");
}
std::string ReadControllerLog()
{
    return ReadWhole("C:\\www\\suite-data\\controller.log", "rt");
}
void OpenFreshControllerLog()
{
    CreateDirectoryA("C:\\www", NULL);
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
    return CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                              ControllerDialogProc, 0);
}
HWND CreateBareDialog()
{
    return CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                              BareDialogProc, 0);
}
void DestroyControllerDialog(HWND dialog)
{
    if (dialog)
        DestroyWindow(dialog);
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        if (message.message != WM_QUIT)
            DispatchMessageA(&message);
}
std::string DialogItemText(HWND dialog, int id)
{
    char text[1024] = { 0 };
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}
std::string ListBoxText(HWND dialog, int id, int row)
{
    LRESULT length = SendDlgItemMessageA(dialog, id, LB_GETTEXTLEN, (WPARAM)row, 0);
    std::string text(length == LB_ERR ? 0 : (size_t)length + 1, '\0');
    if (length == LB_ERR)
        return "<no row>";
    SendDlgItemMessageA(dialog, id, LB_GETTEXT, (WPARAM)row, (LPARAM)&text[0]);
    return text.substr(0, (size_t)length);
}
std::vector<std::string> ListBoxTexts(HWND dialog, int id)
{
    std::vector<std::string> rows;
    LRESULT count = SendDlgItemMessageA(dialog, id, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++)
        rows.push_back(ListBoxText(dialog, id, (int)i));
    return rows;
}
std::string HexText(DWORD value)
{
    char text[16];
    snprintf(text, sizeof(text), "%#010x", (unsigned)value);
    return text;
}
std::string StatusBlock(const SERVICE_STATUS_PROCESS &s)
{
    return "\nStatus of Service:\n\tService Type: " + HexText(s.dwServiceType) +
           "\n\tCurrent State: " + HexText(s.dwCurrentState) +
           "\n\tControls Accepted: " + HexText(s.dwControlsAccepted) +
           "\n\tWin32 Exit Code: " + std::to_string((int)s.dwWin32ExitCode) +
           "\n\tService Specific Exit Code: " + std::to_string((int)s.dwServiceSpecificExitCode) +
           "\n\tCheck Point: " + std::to_string((int)s.dwCheckPoint) +
           "\n\tWait Hint: " + std::to_string((int)s.dwWaitHint) +
           "\n\tProcess Id: " + std::to_string((int)s.dwProcessId) +
           "\n\tService Flags: " + HexText(s.dwServiceFlags) + "\n";
}
int CountHandles(HANDLE process)
{
    int count = 0;
    for (HANDLE h = (HANDLE)4, copy; h < (HANDLE)0x800; h = (HANDLE)((ULONG_PTR)h + 4))
        if (DuplicateHandle(process, h, GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS))
            count++, CloseHandle(copy);
    return count;
}
bool WriteWholeFile(const std::string &path, const std::string &content)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
    return fclose(file) == 0 && ok;
}
std::string Between(const std::string &text, const std::string &from, const std::string &to)
{
    size_t start = text.find(from);
    if (start == std::string::npos)
        return std::string();
    size_t end = to.empty() ? std::string::npos : text.find(to, start + from.size());
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}
static const char CapturePath[] = "C:\\qvx-stdout.txt";
void StdoutCapture::Begin()
{
    fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    FILE *file = fopen(CapturePath, "wb");
    if (file) {
        _dup2(_fileno(file), _fileno(stdout));
        fclose(file);
    }
}
std::string StdoutCapture::End()
{
    fflush(stdout);
    if (saved_ >= 0) {
        _dup2(saved_, _fileno(stdout));
        _close(saved_);
        saved_ = -1;
    }
    std::string text = ReadWhole(CapturePath, "rb"), plain;
    DeleteFileA(CapturePath);
    for (size_t i = 0; i < text.size(); i++) // the runtime may write the descriptor in text mode
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            plain.push_back(text[i]);
    return plain;
}
