// Helpers of the tests: the log, the program's dialog and its texts, the test services.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

typedef std::vector<std::string> Texts;
typedef std::map<std::string, std::string> Values;

std::string ReadControllerLog(); // C:\www\suite-data\controller.log, "\n" line ends
void OpenFreshControllerLog();
HWND CreateControllerDialog(); // modeless, template 101, ControllerDialogProc
HWND CreateBareDialog();       // the same with a procedure that does nothing
void DestroyControllerDialog(HWND dialog);
std::string DialogItemText(HWND dialog, int id); // wide messages: "<no answer>" after 10 s
Texts ListBoxTexts(HWND dialog, int id);
std::string Filled(std::string text, const Values &values); // each {NAME} replaced
// "" when the log is the expected text, filled, any text for each line "~~~"; else what differs.
std::string LogMismatch(const std::string &log, const std::string &expected, const Values &values);
std::string ExpectedText(const char *name); // tests/expected/NAME, beside the test programs
std::string TestBinDirectory();             // with a trailing backslash
// From `from` to the next `to` (the end for ""); "" without `from`.
std::string Between(const std::string &text, const std::string &from, const std::string &to);
int CountHandles(HANDLE process); // below 0x800; Wine's GetProcessHandleCount answers 0

struct StdoutCapture { // standard output from construction to End()
    StdoutCapture();
    std::string End();
    int saved;
};

// The test service (or PROGRAM) under a managed name; "" or what failed.
std::string InstallTestService(const std::string &name, const std::string &options, DWORD startType,
                               const std::string &description,
                               const std::string &program = TestBinDirectory() + "qvx_testsvc.exe");
std::string StartTestService(const std::string &name, DWORD waitForState, DWORD timeoutMs);
void RemoveAllManagedServices();
std::string TestServiceProcessId(const std::string &name);
bool WaitForTestServiceState(const std::string &name, DWORD state, DWORD timeoutMs);
bool ReleaseTestService(const std::string &name, const char *step); // "start" or "stop"
