// Shared helpers of the tests: the controller log read and compared, the dialog made in the test
// process from the program's template, the texts of a dialog of this process or another.
#ifndef QVX_TESTS_TEST_SUPPORT_H
#define QVX_TESTS_TEST_SUPPORT_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

typedef std::vector<std::string> Texts;
typedef std::map<std::string, std::string> Values;

std::string ReadControllerLog(); // C:\www\suite-data\controller.log, "\n" line ends
void OpenFreshControllerLog();
HWND CreateControllerDialog();             // modeless, template 101, ControllerDialogProc
HWND CreateBareDialog();                   // the same with a procedure that does nothing
void DestroyControllerDialog(HWND dialog); // torn down, the messages left drained
// Of a dialog in this process or another; "<no answer>" after 10 s.
std::string DialogItemText(HWND dialog, int id);
Texts ListBoxTexts(HWND dialog, int id);
// Each {NAME} replaced by the value of that name.
std::string Filled(const std::string &text, const Values &values);
// "" when the log is the expected text, filled, with any text for each line "~~~"; else the piece
// not found and the log from where it was looked for.
std::string LogMismatch(const std::string &log, const std::string &expected, const Values &values);
std::string ExpectedText(const char *name); // tests/expected/NAME, beside the test programs
std::string TestBinDirectory();             // with a trailing backslash
bool WriteWholeFile(const std::string &path, const std::string &content);
// From `from` to the next `to` (the end for ""); "" without `from`.
std::string Between(const std::string &text, const std::string &from, const std::string &to);
// Handles below 0x800, found by duplicating them (Wine's GetProcessHandleCount answers 0).
int CountHandles(HANDLE process);

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
