// Shared helpers of the tests: the controller log read back, the dialog
// created in the test process from the program's own template, and texts
// read out of its controls.
#ifndef QVX_TESTS_TEST_SUPPORT_H
#define QVX_TESTS_TEST_SUPPORT_H

#include <windows.h>
#include <string>
#include <vector>

// C:\www\suite-data\controller.log as text ("\n" line ends).
std::string ReadControllerLog();
// Opens the log fresh (truncating it) for a test that checks its lines.
void OpenFreshControllerLog();

// The controller dialog, modeless, from template 101 and ControllerDialogProc.
HWND CreateControllerDialog();
// The same template with a dialog procedure that does nothing, for testing
// one display operation without the controller's bring-up.
HWND CreateBareDialog();
// Destroys it (WM_DESTROY tears down) and drains the quit message it posts.
void DestroyControllerDialog(HWND dialog);

std::string DialogItemText(HWND dialog, int id);
std::string ListBoxText(HWND dialog, int id, int row);
std::vector<std::string> ListBoxTexts(HWND dialog, int id);
int ListBoxSelection(HWND dialog, int id);

// The status block the service status query logs for these values, and
// the "%#010x" form of a value that it uses.
std::string HexText(DWORD value);
std::string StatusBlock(const SERVICE_STATUS_PROCESS &status);

// Writes a file (binary) and returns whether it worked.
bool WriteWholeFile(const std::string &path, const std::string &content);
bool FileExistsA(const std::string &path);

// The text between the first occurrence of `from` and the following `to`
// (or the end), for comparing one block of a log.
std::string Between(const std::string &text, const std::string &from, const std::string &to);

#endif
