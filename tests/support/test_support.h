// Shared helpers of the tests: the controller log read back, the dialog created in the test process
// from the program's own template, texts read from its controls, standard output captured.
#ifndef QVX_TESTS_TEST_SUPPORT_H
#define QVX_TESTS_TEST_SUPPORT_H
#include <windows.h>
#include <string>
#include <vector>

std::string ReadControllerLog(); // C:\www\suite-data\controller.log, "\n" line ends
void OpenFreshControllerLog();   // the log opened anew (truncated) for a test of its lines
HWND CreateControllerDialog();   // modeless, template 101 with ControllerDialogProc
HWND CreateBareDialog();         // the same template with a procedure that does nothing
void DestroyControllerDialog(HWND dialog); // WM_DESTROY tears down; drains the quit message
std::string DialogItemText(HWND dialog, int id);
std::string ListBoxText(HWND dialog, int id, int row);
std::vector<std::string> ListBoxTexts(HWND dialog, int id);
std::string HexText(DWORD value); // "%#010x", as the log writes numbers of flags
std::string StatusBlock(const SERVICE_STATUS_PROCESS &status); // the status query's log block
std::string ExpectedText(const char *name); // tests/expected/NAME, copied beside the test programs
// Handles a process holds below 0x800, probed by duplication (GetProcessHandleCount answers 0 under Wine).
int CountHandles(HANDLE process);
bool WriteWholeFile(const std::string &path, const std::string &content);
// The text from the first `from` up to the following `to` (or the end).
std::string Between(const std::string &text, const std::string &from, const std::string &to);

// What the process writes to its standard output between Begin and End.
class StdoutCapture
{
  public:
    void Begin();
    std::string End();

  private:
    int saved_ = -1;
};
#endif
