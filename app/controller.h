/* The controller window: the per-service progress dots, the poll timers,
   the dialog procedure, the service panel display and the menu commands. */
#ifndef QUORVEX_APP_CONTROLLER_H
#define QUORVEX_APP_CONTROLLER_H

#include <windows.h>

/* ProgressText: zero to 11 dots per ServiceIndex. */
#define PROGRESS_TEXT_MAX 11
const char *ProgressText(int serviceIndex);
void ProgressTextClear(int serviceIndex);
void ProgressTextGrow(int serviceIndex); /* one dot while at most 10 */

/* Poll timers. */
#define STOP_POLL_PERIOD_MS  1500
#define START_POLL_PERIOD_MS 2500

/* Kills the eight poll timers in the order 7100, 7200, 7101, ... 7203. */
void KillAllPollTimers(HWND hDlg);

INT_PTR CALLBACK ControllerDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

/* Service panel display: rows of the Status and Startup Type lists and the
   Description, Binary Path and Process Id fields. */
int RefreshStatusRow(HWND hDlg, int serviceIndex);
int RefreshStartupTypeRow(HWND hDlg, int serviceIndex);
int ShowServiceDetails(HWND hDlg, int serviceIndex);
/* Fills every panel from the service table as it now is: the Status and
   Startup Type rows, the selected row's details, System Information, the
   module lists, and the endpoints mapped anew. Bring-up and Requery All. */
void ShowAllPanels(HWND hDlg);
#define STATUS_ROW_TEXT_SIZE 20
#define PROCESS_ID_TEXT_SIZE 256
/* The text of a Status row for the given status values (20-byte buffer). */
int FormatStatusRowText(char *text, int installed, DWORD currentState, DWORD win32ExitCode,
                        DWORD serviceSpecificExitCode, const char *progress);
const char *StartupTypeRowText(int installed, DWORD startType);

/* Menu commands. */
int RunMenuCommand(HWND hDlg, int id);

/* The shell launch every menu command goes through. Production code calls
   ShellExecuteA; tests may install a recorder in its place. */
typedef HINSTANCE(WINAPI *ShellExecuteFunction)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
void SetShellExecuteFunction(ShellExecuteFunction function); /* null restores ShellExecuteA */

#endif
