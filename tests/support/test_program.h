// The real controller program run from a test: its process and its dialog, read from outside (by wide
// messages: list box texts come back right only so).
#ifndef QVX_TESTS_TEST_PROGRAM_H
#define QVX_TESTS_TEST_PROGRAM_H
#include <windows.h>
#include <string>
struct RunningProgram {
    PROCESS_INFORMATION process = {};
    HWND dialog = NULL;
};
// Starts `path` in C:\ and waits until its dialog answers with four service rows.
bool StartProgram(RunningProgram *program, const std::string &path);
// Posts WM_CLOSE when `close`, waits for the exit: its code, or -1 (killed) when late.
int EndProgram(RunningProgram *program, bool close = true, DWORD timeoutMs = 60000);
// SendMessageTimeoutW: false when the window did not answer in time.
bool RemoteSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs = 60000,
                DWORD_PTR *result = NULL);
// The texts of controls `ids`, a line each; a list box's rows joined with "|".
std::string RemoteTexts(HWND dialog, std::initializer_list<int> ids);
#endif
