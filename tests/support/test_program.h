// The real controller program started from a test: its process, its dialog
// found from outside, and texts read out of the dialog's controls across
// the process boundary.
#ifndef QVX_TESTS_TEST_PROGRAM_H
#define QVX_TESTS_TEST_PROGRAM_H

#include <windows.h>
#include <string>
#include <vector>

struct RunningProgram {
    PROCESS_INFORMATION process = {};
    HWND dialog = NULL;
};

// Starts bin\QuorvexController.exe (or `exePath`) with the current
// directory `directory` and waits up to `timeoutMs` for its dialog to finish
// initialising (the dialog is visible and its Services list has four rows).
bool StartProgram(RunningProgram *program, const std::string &directory,
                  const std::string &exePath = std::string(), DWORD timeoutMs = 120000);
// Sends WM_CLOSE and waits for the exit; returns the exit code, or -1.
int CloseProgram(RunningProgram *program, DWORD timeoutMs = 60000);
void KillProgram(RunningProgram *program);

std::string RemoteItemText(HWND dialog, int id);
std::vector<std::string> RemoteListBoxTexts(HWND dialog, int id);
int RemoteListBoxSelection(HWND dialog, int id);
// Sends a message with a time limit; false when the dialog did not answer.
bool RemoteSend(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                DWORD timeoutMs = 60000, DWORD_PTR *result = NULL);

// The number of handles process `pid` holds, counted in the system handle
// table (GetProcessHandleCount answers 0 under Wine); -1 when it cannot be read.
int CountProcessHandles(DWORD pid);
// The committed private memory of a process in bytes, summed over its
// regions (GetProcessMemoryInfo answers 0 for another process under Wine).
size_t CountPrivateBytes(HANDLE process);

#endif
