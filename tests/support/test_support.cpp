// Helpers shared by the tests.
#include "test_support.h"

#include <io.h>
#include <stdio.h>

#include <fstream>
#include <sstream>

#include "app/controller.h"
#include "log/log.h"
#include "res/resource.h"

// Read in text mode, "\r\n" comes back as "\n".
static std::string ReadWhole(const std::string &path, std::ios::openmode mode)
{
    std::ifstream file(path.c_str(), mode);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string ReadControllerLog()
{
    return ReadWhole("C:\\www\\suite-data\\controller.log", std::ios::in);
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
    MSG message;

    if (dialog)
        DestroyWindow(dialog);
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

// Asked by a wide message: another process's list box answers rightly only so.
static std::string AskText(HWND window, UINT message, WPARAM wParam)
{
    wchar_t wide[1024] = { 0 };
    char text[2048] = { 0 };
    DWORD_PTR result = 0;

    if (!SendMessageTimeoutW(window, message, wParam, (LPARAM)wide, SMTO_NORMAL, 10000, &result))
        return "<no answer>";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), NULL, NULL);
    return text;
}

std::string DialogItemText(HWND dialog, int id)
{
    return AskText(GetDlgItem(dialog, id), WM_GETTEXT, 1024);
}

Texts ListBoxTexts(HWND dialog, int id)
{
    DWORD_PTR count = 0;
    Texts rows;

    SendMessageTimeoutW(GetDlgItem(dialog, id), LB_GETCOUNT, 0, 0, SMTO_NORMAL, 10000, &count);
    for (int row = 0; row < (int)count; row++)
        rows.push_back(AskText(GetDlgItem(dialog, id), LB_GETTEXT, row));
    return rows;
}

std::string Filled(const std::string &text, const Values &values)
{
    std::string filled = text;

    for (const auto &value : values) {
        std::string name = "{" + value.first + "}";
        for (size_t at = filled.find(name); at != std::string::npos; at = filled.find(name, at))
            filled.replace(at, name.size(), value.second);
    }
    return filled;
}

std::string LogMismatch(const std::string &log, const std::string &expected, const Values &values)
{
    // Marked ends: the first piece opens the log, the last ends it.
    std::string marked = "\x01" + log + "\x02";
    std::string rest = "\x01" + Filled(expected, values) + "\x02";
    size_t from = 0;

    while (!rest.empty()) {
        size_t gap = rest.find("~~~\n");
        std::string piece = rest.substr(0, gap);
        rest.erase(0, gap == std::string::npos ? gap : gap + 4);
        size_t at = marked.find(piece, from);
        if (at == std::string::npos)
            return "expected:\n" + piece + "\n--- but the log from there is ---\n" +
                   marked.substr(from, piece.size() + 400);
        from = at + piece.size();
    }
    return "";
}

std::string TestBinDirectory()
{
    char path[MAX_PATH] = { 0 };

    GetModuleFileNameA(NULL, path, MAX_PATH);
    return std::string(path, strrchr(path, '\\') + 1);
}

std::string ExpectedText(const char *name)
{
    return ReadWhole(TestBinDirectory() + name, std::ios::binary);
}

bool WriteWholeFile(const std::string &path, const std::string &content)
{
    std::ofstream file(path.c_str(), std::ios::binary);

    file << content;
    file.close();
    return !file.fail();
}

std::string Between(const std::string &text, const std::string &from, const std::string &to)
{
    size_t start = text.find(from);
    size_t end = to.empty() ? std::string::npos : text.find(to, start + from.size());

    if (start == std::string::npos)
        return "";
    return text.substr(start, end == std::string::npos ? end : end - start);
}

int CountHandles(HANDLE process)
{
    int count = 0;

    for (ULONG_PTR value = 4; value < 0x800; value += 4) {
        HANDLE copy = NULL;
        if (DuplicateHandle(process, (HANDLE)value, GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
            CloseHandle(copy);
            count++;
        }
    }
    return count;
}

void StdoutCapture::Begin()
{
    FILE *file = fopen("C:\\qvx-stdout.txt", "wb");

    fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    _dup2(_fileno(file), _fileno(stdout));
    fclose(file);
}

std::string StdoutCapture::End()
{
    fflush(stdout);
    _dup2(saved_, _fileno(stdout));
    _close(saved_);
    return ReadWhole("C:\\qvx-stdout.txt", std::ios::in);
}
