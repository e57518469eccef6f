// The menu commands: what every id hands to the shell (recorded in place of
// the shell call, and through the real shell with a recorder program
// standing in for Notepad, the command prompt, the browser and the Services
// console in the prefix), refused launches, About and Exit on a bare
// dialog, and Requery All on the controller dialog.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/controller.h"
#include "modules/modules.h"
#include "network/network.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

// ---------------------------------------------------------------------------
// The shell call, recorded.

struct Launch {
    HWND owner;
    std::string verb, file, parameters, directory;
    bool hasParameters, hasDirectory;
    INT show;
};

std::vector<Launch> Launches;
INT_PTR LaunchAnswer = 42;

std::string Text(LPCSTR text)
{
    return text ? std::string(text) : std::string();
}

HINSTANCE WINAPI RecordLaunch(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                              LPCSTR directory, INT show)
{
    Launches.push_back({ owner, Text(verb), Text(file), Text(parameters), Text(directory),
                         parameters != NULL, directory != NULL, show });
    return (HINSTANCE)LaunchAnswer;
}

// Watches for message boxes while a command runs on this thread (a CBT
// hook of the thread, no second thread): records each box as it is
// activated and closes it with its OK button.
struct SeenBox {
    std::string caption, text;
    HWND owner;
    int buttons;
};

class BoxWatcher {
public:
    explicit BoxWatcher(HWND dialog)
    {
        current_ = this;
        dialog_ = dialog;
        hook_ = SetWindowsHookExA(WH_CBT, Hook, NULL, GetCurrentThreadId());
    }
    ~BoxWatcher()
    {
        if (hook_) UnhookWindowsHookEx(hook_);
        current_ = NULL;
    }
    bool hooked() const { return hook_ != NULL; }
    std::vector<SeenBox> boxes;

private:
    static BOOL CALLBACK CountButton(HWND child, LPARAM parameter)
    {
        char className[32] = { 0 };
        GetClassNameA(child, className, sizeof(className));
        if (lstrcmpiA(className, "Button") == 0 && (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE)) {
            ++*(int *)parameter;
        }
        return TRUE;
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        BoxWatcher *self = current_;
        HWND window = (HWND)wParam;
        if (code == HCBT_ACTIVATE && self && window != self->dialog_) {
            char className[32] = { 0 };
            GetClassNameA(window, className, sizeof(className));
            if (lstrcmpA(className, "#32770") == 0) {
                SeenBox box;
                char text[256] = { 0 };
                GetWindowTextA(window, text, sizeof(text));
                box.caption = text;
                text[0] = '\0';
                GetDlgItemTextA(window, 0xFFFF, text, sizeof(text));
                box.text = text;
                box.owner = GetWindow(window, GW_OWNER);
                box.buttons = 0;
                EnumChildWindows(window, CountButton, (LPARAM)&box.buttons);
                self->boxes.push_back(box);
                PostMessageA(window, WM_COMMAND, IDOK, 0);
            }
        }
        return CallNextHookEx(NULL, code, wParam, lParam);
    }
    static BoxWatcher *current_;
    HWND dialog_;
    HHOOK hook_;
};

BoxWatcher *BoxWatcher::current_ = NULL;

// Distinct text in every member the commands read, so that a command that
// takes the wrong member shows it.
void SetDistinctSuitePaths()
{
    memset(&SuitePaths, 0, sizeof(SuitePaths));
    strcpy(SuitePaths.HostsFileDirectory, "C:\\windows\\system32\\drivers\\etc");
    strcpy(SuitePaths.WwwRootPath, "C:\\www");
    strcpy(SuitePaths.ApacheLogsPath, "C:\\www\\Apache22\\logs");
    strcpy(SuitePaths.ApacheConfPath, "C:\\www\\Apache22\\conf");
    strcpy(SuitePaths.ApacheConfExtraPath, "C:\\www\\Apache22\\conf\\extra");
    strcpy(SuitePaths.ApacheConfSuitePath, "C:\\www\\Apache22\\conf\\suite");
    strcpy(SuitePaths.MySqlIniPath, "C:\\www\\mysql5");
    strcpy(SuitePaths.PhpIniPath, "C:\\www\\php5");
}

struct NotepadCase {
    int id;
    const char *file;
    const char *directory;
};

const NotepadCase NotepadCases[] = {
    { 9101, "access.log", "C:\\www\\Apache22\\logs" },
    { 9102, "error.log", "C:\\www\\Apache22\\logs" },
    { 9111, "httpd.conf", "C:\\www\\Apache22\\conf" },
    { 9112, "httpd-ssl.conf", "C:\\www\\Apache22\\conf\\extra" },
    { 9113, "suite-custom.conf", "C:\\www\\Apache22\\conf\\suite" },
    { 9114, "httpd-vhosts.conf", "C:\\www\\Apache22\\conf\\extra" },
    { 9121, "my.ini", "C:\\www\\mysql5" },
    { 9122, "php.ini", "C:\\www\\php5" },
    { 9131, "hosts", "C:\\windows\\system32\\drivers\\etc" },
};

struct PageCase {
    int id;
    const char *path;       // behind the local base; null for an outside page
    const char *absolute;   // the whole URL of an outside page
};

const PageCase PageCases[] = {
    { 9201, "/", NULL },
    { 9202, "/docs/suite-guide/", NULL },
    { 9203, "/docs/apache2/", NULL },
    { 9211, "/server-info", NULL },
    { 9212, "/server-status", NULL },
    { 9213, "/phpinfo.php", NULL },
    { 9214, "/perl-status", NULL },
    { 9215, "/cgi-bin/printenv.pl", NULL },
    { 9221, NULL, "http://www.example.com/" },
    { 9222, NULL, "http://forum.example.com/" },
    { 9223, NULL, "http://www.example.org/" },
    { 9231, "/phpmyadmin/", NULL },
};

// Every item of menu 100, with the submenus walked.
void CollectMenuIds(HMENU menu, std::set<int> *ids)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; i++) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub) {
            CollectMenuIds(sub, ids);
        } else {
            UINT id = GetMenuItemID(menu, i);
            if (id != 0 && id != (UINT)-1) ids->insert((int)id);
        }
    }
}

// All texts the dialog shows, for "unchanged" checks.
std::map<int, std::string> DialogTexts(HWND dialog)
{
    static const int fields[] = { IDC_DESCRIPTION, IDC_BINARY_PATH, IDC_PROCESS_ID, IDC_IP_AND_PORT,
                                  IDC_IP_ADDRESS, IDC_NET_VERSION, IDC_JDK_VERSION, IDC_OS_VERSION };
    static const int lists[] = { IDC_SERVICES_LIST, IDC_STATUS_LIST, IDC_STARTUP_TYPE_LIST,
                                 IDC_SUITE_MODULES, IDC_PHP_EXTENSIONS, IDC_APACHE_MODULES };
    std::map<int, std::string> texts;
    for (int id : fields) texts[id] = DialogItemText(dialog, id);
    for (int id : lists) {
        std::string joined;
        for (const std::string &row : ListBoxTexts(dialog, id)) joined += row + "|";
        texts[id] = joined + "sel=" + std::to_string(ListBoxSelection(dialog, id));
    }
    return texts;
}

// Port of the test web server: off the usual ones, so that nothing else
// on the machine is in the way.
const int WebServerPort = 18931;

class MenuCommandTest : public ::testing::Test {
protected:
    HWND dialog = NULL;

    void SetUp() override
    {
        RemoveAllManagedServices();
        OpenFreshControllerLog();
        ServiceTableOpen();
        MapServiceEndpoints();
        SetDistinctSuitePaths();
        Launches.clear();
        LaunchAnswer = 42;
        SetShellExecuteFunction(RecordLaunch);
        dialog = CreateBareDialog();
        ASSERT_NE((HWND)NULL, dialog);
    }
    void TearDown() override
    {
        SetShellExecuteFunction(NULL);
        DestroyWindow(dialog);
        ServiceTableClose();
        ControllerLogClose();
        RemoveAllManagedServices();
    }
    std::string LogSoFar()
    {
        ControllerLogFlush();
        return ReadControllerLog();
    }
    // Runs the command and returns what it handed to the shell.
    Launch RunOne(int id, int expectedResult = 1)
    {
        Launches.clear();
        EXPECT_EQ(expectedResult, RunMenuCommand(dialog, id)) << "id " << id;
        EXPECT_EQ((size_t)1, Launches.size()) << "id " << id << " launched " << Launches.size() << " times";
        return Launches.empty() ? Launch() : Launches.back();
    }
    void StartWebServer(const std::string &listen)
    {
        TestServiceSetup server;
        server.name = "Apache2.2";
        server.runArguments = "--listen " + listen;
        ASSERT_EQ("", InstallTestService(server));
        ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 60000));
        ServiceTableClose();
        ServiceTableOpen();
        MapServiceEndpoints();
    }
};

TEST_F(MenuCommandTest, EveryMenuItemIdIsOneTheCommandsKnow)
{
    HMENU menu = LoadMenuA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDR_MAINMENU));
    ASSERT_NE((HMENU)NULL, menu);
    std::set<int> ids;
    CollectMenuIds(menu, &ids);
    DestroyMenu(menu);
    std::set<int> known = { 9003, 9302, 9401, 9501 };
    for (const NotepadCase &c : NotepadCases) known.insert(c.id);
    for (const PageCase &c : PageCases) known.insert(c.id);
    known.insert(9301);
    known.erase(9214);   // handled, though the menu has no item for it
    EXPECT_EQ(known, ids);
}

TEST_F(MenuCommandTest, NotepadCommandsHandTheBareFileNameAndItsDirectory)
{
    OpenFreshControllerLog();
    for (const NotepadCase &c : NotepadCases) {
        Launch launch = RunOne(c.id);
        EXPECT_EQ((HWND)NULL, launch.owner) << c.id;
        EXPECT_EQ("open", launch.verb) << c.id;
        EXPECT_EQ("notepad.exe", launch.file) << c.id;
        EXPECT_EQ(c.file, launch.parameters) << c.id;
        EXPECT_EQ(c.directory, launch.directory) << c.id;
        EXPECT_EQ(SW_SHOWNORMAL, launch.show) << c.id;
    }
    EXPECT_EQ("", LogSoFar());
}

TEST_F(MenuCommandTest, PagesOpenBehindTheRunningServersBaseAndOutsidePagesWhole)
{
    StartWebServer("127.0.0.1:" + std::to_string(WebServerPort));
    ASSERT_LT((DWORD)0, EndpointTable[SERVICE_INDEX_APACHE].count) << "no endpoint mapped for the web server";
    const std::string base = "http://localhost:" + std::to_string(WebServerPort);
    for (const PageCase &c : PageCases) {
        Launch launch = RunOne(c.id);
        std::string expected = c.path ? base + c.path : std::string(c.absolute);
        EXPECT_EQ(expected, launch.file) << c.id;
        EXPECT_EQ("open", launch.verb) << c.id;
        EXPECT_EQ((HWND)NULL, launch.owner) << c.id;
        EXPECT_FALSE(launch.hasParameters) << c.id;
        EXPECT_FALSE(launch.hasDirectory) << c.id;
        EXPECT_EQ(SW_SHOWNORMAL, launch.show) << c.id;
    }
    // An outside page right after a local one carries nothing of it.
    RunOne(9215);
    EXPECT_EQ("http://www.example.com/", RunOne(9221).file);
    EXPECT_EQ(base + "/", RunOne(9201).file);

    // Stopped: the plain local base; the outside pages as before.
    ASSERT_EQ("", StopTestService("Apache2.2", 60000));
    ServiceQueryStatus(SERVICE_INDEX_APACHE);
    for (const PageCase &c : PageCases) {
        std::string expected = c.path ? std::string("http://localhost") + c.path : std::string(c.absolute);
        EXPECT_EQ(expected, RunOne(c.id).file) << c.id;
    }
}

TEST_F(MenuCommandTest, OutsidePagesAreCompleteHttpUrlsEndingInASlash)
{
    for (const PageCase &c : PageCases) {
        if (c.path) continue;
        std::string url = RunOne(c.id).file;
        EXPECT_EQ(0u, url.find("http://")) << url;
        EXPECT_EQ('/', url.back()) << url;
        EXPECT_GT(url.size(), strlen("http://x/")) << url;
    }
}

TEST_F(MenuCommandTest, CommandPromptStartsInTheWwwRootAndServicesOpensTheConsole)
{
    Launch prompt = RunOne(9301);
    EXPECT_EQ("cmd.exe", prompt.file);
    EXPECT_EQ("/K CD /D C:\\www", prompt.parameters);
    EXPECT_FALSE(prompt.hasDirectory);
    EXPECT_EQ("open", prompt.verb);
    EXPECT_EQ(SW_SHOWNORMAL, prompt.show);

    // The www root of a program on a network path (\\host\share\...).
    strcpy(SuitePaths.WwwRootPath, "\\\\hwww");
    EXPECT_EQ("/K CD /D \\\\hwww", RunOne(9301).parameters);

    Launch console = RunOne(9302);
    EXPECT_EQ("services.msc", console.file);
    EXPECT_EQ("/s", console.parameters);
    EXPECT_FALSE(console.hasDirectory);
    EXPECT_EQ("open", console.verb);
    EXPECT_EQ((HWND)NULL, console.owner);
}

TEST_F(MenuCommandTest, RefusedLaunchWritesOneLineReturnsZeroAndChangesNothing)
{
    SetDlgItemTextA(dialog, IDC_DESCRIPTION, "before");
    SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_ADDSTRING, 0, (LPARAM)"Apache2.2");
    SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, 0, 0);
    std::map<int, std::string> before = DialogTexts(dialog);

    struct Answer { INT_PTR result; int returned; };
    const Answer answers[] = { { 0, 0 }, { 2, 0 }, { 31, 0 }, { 32, 0 }, { 33, 1 }, { -1, 0 } };
    const int ids[] = { 9101, 9201, 9221, 9301, 9302 };
    BoxWatcher watcher(dialog);
    for (const Answer &answer : answers) {
        for (int id : ids) {
            LaunchAnswer = answer.result;
            OpenFreshControllerLog();
            RunOne(id, answer.returned);
            ControllerLogFlush();
            std::string expected;
            if (answer.returned == 0) {
                expected = "\nShellExecute (" + std::to_string(id) + ") failed (" +
                           std::to_string((int)answer.result) + ").\n";
            }
            EXPECT_EQ(expected, ReadControllerLog()) << "id " << id << " answer " << answer.result;
            EXPECT_TRUE(watcher.boxes.empty()) << "a message box was shown";
        }
    }
    EXPECT_EQ(before, DialogTexts(dialog));
}

TEST_F(MenuCommandTest, DirectoryTooLongForItsBufferIsRefusedNotCut)
{
    // A system directory long enough that the hosts file's directory
    // (259 characters) outgrows the 256-byte directory buffer.
    std::string directory = "C:\\" + std::string(256, 'd');
    strcpy(SuitePaths.HostsFileDirectory, directory.c_str());
    OpenFreshControllerLog();
    Launches.clear();
    EXPECT_EQ(0, RunMenuCommand(dialog, 9131));
    EXPECT_TRUE(Launches.empty()) << "launched with " << Launches.back().directory;
    ControllerLogFlush();
    EXPECT_EQ("\nShellExecute (9131) failed (3).\n", ReadControllerLog());
    // 255 characters still fit whole.
    directory.resize(255);
    strcpy(SuitePaths.HostsFileDirectory, directory.c_str());
    EXPECT_EQ(directory, RunOne(9131).directory);
}

TEST_F(MenuCommandTest, IdsWithoutACommandLaunchNothingAndLogNothing)
{
    OpenFreshControllerLog();
    for (int id : { 9000, 9100, 9150, 9199, 9200, 9250, 9299, 9300, 9350, 9399, 9402, 9999 }) {
        Launches.clear();
        EXPECT_EQ(1, RunMenuCommand(dialog, id)) << id;
        EXPECT_TRUE(Launches.empty()) << id;
    }
    ControllerLogFlush();
    EXPECT_EQ("", ReadControllerLog());
}

TEST_F(MenuCommandTest, AboutShowsOneModalBoxOwnedByTheDialog)
{
    std::vector<SeenBox> boxes;
    {
        BoxWatcher watcher(dialog);
        ASSERT_TRUE(watcher.hooked());
        EXPECT_EQ(1, RunMenuCommand(dialog, 9401));
        boxes = watcher.boxes;
    }
    ASSERT_EQ((size_t)1, boxes.size());
    EXPECT_EQ("About...", boxes[0].caption);
    EXPECT_EQ("Quorvex Controller v2.00", boxes[0].text);
    EXPECT_EQ(dialog, boxes[0].owner);
    EXPECT_EQ(1, boxes[0].buttons);
    EXPECT_TRUE(Launches.empty());
}

struct CloseRecord {
    WNDPROC original;
    int closes;
    WPARAM wParam;
    LPARAM lParam;
} Closing;

LRESULT CALLBACK RecordClose(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        Closing.closes++;
        Closing.wParam = wParam;
        Closing.lParam = lParam;
        return 0;
    }
    return CallWindowProcA(Closing.original, window, message, wParam, lParam);
}

TEST_F(MenuCommandTest, ExitSendsTheDialogItsCloseMessage)
{
    Closing = CloseRecord();
    Closing.wParam = 99;
    Closing.lParam = 99;
    Closing.original = (WNDPROC)SetWindowLongPtrA(dialog, GWLP_WNDPROC, (LONG_PTR)RecordClose);
    EXPECT_EQ(1, RunMenuCommand(dialog, 9003));
    SetWindowLongPtrA(dialog, GWLP_WNDPROC, (LONG_PTR)Closing.original);
    EXPECT_EQ(1, Closing.closes);
    EXPECT_EQ((WPARAM)0, Closing.wParam);
    EXPECT_EQ((LPARAM)0, Closing.lParam);
    EXPECT_TRUE(Launches.empty());
}

// ---------------------------------------------------------------------------
// Through the real shell: the recorder program stands in for Notepad and
// the command prompt in the prefix's system directory, and is the prefix's
// handler of http and https links and of .msc consoles.

const char *const RecordDirectory = "C:\\qvxshell";

std::string Recorder()
{
    return TestBinDirectory() + "qvx_shell_recorder.exe";
}

std::set<std::string> RecordFiles()
{
    std::set<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(RecordDirectory) + "\\launch-*.txt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do files.insert(found.cFileName); while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

// The record of the next start of the recorder: "program=...\ncommand=...".
std::string NextRecord(const std::set<std::string> &before)
{
    for (int i = 0; i < 600; i++) {
        for (const std::string &name : RecordFiles()) {
            if (before.count(name)) continue;
            std::string text;
            FILE *file = fopen((std::string(RecordDirectory) + "\\" + name).c_str(), "rb");
            if (!file) continue;
            char buffer[2048];
            size_t n = fread(buffer, 1, sizeof(buffer), file);
            fclose(file);
            return std::string(buffer, n);
        }
        Sleep(100);
    }
    return "<nothing started>";
}

bool SetClassCommand(const std::string &key, const std::string &value)
{
    HKEY handle = NULL;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL) != 0) {
        return false;
    }
    LONG status = RegSetValueExA(handle, NULL, 0, REG_SZ, (const BYTE *)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(handle);
    return status == 0;
}

std::string SystemDirectory()
{
    char directory[MAX_PATH] = { 0 };
    GetSystemDirectoryA(directory, MAX_PATH);
    return directory;
}

TEST_F(MenuCommandTest, RealShellRefusesTheConsoleWithoutAHandlerThenStartsWhatEachCommandNames)
{
    SetShellExecuteFunction(NULL);
    const std::string system = SystemDirectory();

    // The prefix has no Services console: the shell's own refusal.
    ASSERT_FALSE(FileExistsA(system + "\\services.msc"));
    OpenFreshControllerLog();
    {
        BoxWatcher watcher(dialog);
        EXPECT_EQ(0, RunMenuCommand(dialog, 9302));
        EXPECT_TRUE(watcher.boxes.empty());
    }
    ControllerLogFlush();
    EXPECT_EQ("\nShellExecute (9302) failed (2).\n", ReadControllerLog());

    // The stand-ins.
    CreateDirectoryA(RecordDirectory, NULL);
    ASSERT_TRUE(CopyFileA(Recorder().c_str(), (system + "\\notepad.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Recorder().c_str(), (system + "\\cmd.exe").c_str(), FALSE));
    ASSERT_TRUE(SetClassCommand("http\\shell\\open\\command", "\"" + Recorder() + "\" \"%1\""));
    ASSERT_TRUE(SetClassCommand("https\\shell\\open\\command", "\"" + Recorder() + "\" \"%1\""));
    ASSERT_TRUE(SetClassCommand(".msc", "QvxConsole"));
    ASSERT_TRUE(SetClassCommand("QvxConsole\\shell\\open\\command", "\"" + Recorder() + "\" \"%1\" %*"));
    ASSERT_TRUE(WriteWholeFile(system + "\\services.msc", ""));
    for (const char *directory : { "C:\\www", "C:\\www\\Apache22", "C:\\www\\Apache22\\logs" }) {
        CreateDirectoryA(directory, NULL);
    }

    struct RealCase {
        int id;
        std::string record;
    };
    const std::string recorder = Recorder();
    const RealCase cases[] = {
        { 9101, "command=\"" + system + "\\notepad.exe\" access.log\ndirectory=C:\\www\\Apache22\\logs\n" },
        { 9131, "command=\"" + system + "\\notepad.exe\" hosts\ndirectory=" + system + "\\drivers\\etc\n" },
        { 9201, "" },
        { 9221, "" },
        { 9301, "command=\"" + system + "\\cmd.exe\" /K CD /D C:\\www\n" },
        { 9302, "program=" + recorder + "\ncommand=\"" + recorder + "\" \"" + system + "\\services.msc\" /s\n" },
    };
    strcpy(SuitePaths.HostsFileDirectory, (system + "\\drivers\\etc").c_str());
    OpenFreshControllerLog();
    for (const RealCase &c : cases) {
        std::set<std::string> before = RecordFiles();
        EXPECT_EQ(1, RunMenuCommand(dialog, c.id)) << c.id;
        std::string record = NextRecord(before);
        // A stand-in in the system directory: under WoW64 its own path
        // names the 32-bit system directory; the command line tells more.
        if (c.id == 9101 || c.id == 9131 || c.id == 9301) record = record.substr(record.find("command="));
        if (c.id == 9201 || c.id == 9221) {
            std::string url = c.id == 9201 ? "http://localhost/" : "http://www.example.com/";
            EXPECT_EQ("program=" + recorder + "\ncommand=\"" + recorder + "\" \"" + url + "\"\n",
                      record.substr(0, record.find("directory="))) << c.id;
        } else if (c.id == 9301 || c.id == 9302) {
            // Started without a directory: where it starts is the shell's affair.
            EXPECT_EQ(c.record, record.substr(0, record.find("directory="))) << c.id;
        } else {
            EXPECT_EQ(c.record, record) << c.id;
        }
    }
    ControllerLogFlush();
    EXPECT_EQ("", ReadControllerLog());
}

}  // namespace
