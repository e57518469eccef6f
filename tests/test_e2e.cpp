// The whole program as its users meet it: the real QuorvexController.exe
// started on drive C: of a prepared prefix (Apache2.2 with modules and two
// listening ports, MySQL on 3306, Tomcat5 slow to start, W3svc absent, a
// JDK registry value), its dialog read and driven from outside, and its log
// checked in order. Also the robustness runs: many Requery All, a service
// that never finishes starting, a service process killed, no services.
#include <gtest/gtest.h>

#include <windows.h>
#include <stdlib.h>

#include <algorithm>

#include "res/resource.h"
#include "support/test_program.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

const char *const ProgramPath = "C:\\www\\QuorvexController.exe";
const char *const ModuleDirectory = "C:\\www\\Apache22\\modules\\";
const char *const ApacheModules[] = {
    "mod_ssl.so", "mod_rewrite.so", "php_mysql.dll", "php5apache2_2.dll", "php5ts.dll", "libapr-1.dll"
};

int EnvironmentNumber(const char *name, int fallback)
{
    const char *value = getenv(name);
    return value && *value ? atoi(value) : fallback;
}

void SetJdkVersion(const char *version)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Development Kit",
                                             0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    RegSetValueExA(key, "CurrentVersion", 0, REG_SZ, (const BYTE *)version, (DWORD)strlen(version) + 1);
    RegCloseKey(key);
}

std::string ApacheRunArguments(const std::string &extra)
{
    std::string arguments = "--listen 0.0.0.0:28080 --listen 0.0.0.0:28443";
    for (const char *name : ApacheModules) arguments += std::string(" --load ") + ModuleDirectory + name;
    if (!extra.empty()) arguments += " " + extra;
    return arguments;
}

// Clicks a button of the remote dialog as the dialog manager would report it.
void Click(HWND dialog, int id)
{
    ASSERT_TRUE(RemoteSend(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id)));
}

void SelectRow(HWND dialog, int row)
{
    HWND list = GetDlgItem(dialog, IDC_SERVICES_LIST);
    ASSERT_TRUE(RemoteSend(list, LB_SETCURSEL, (WPARAM)row, 0));
    ASSERT_TRUE(RemoteSend(dialog, WM_COMMAND, MAKEWPARAM(IDC_SERVICES_LIST, LBN_SELCHANGE), (LPARAM)list));
}

void Menu(HWND dialog, int id)
{
    ASSERT_TRUE(RemoteSend(dialog, WM_COMMAND, MAKEWPARAM(id, 0), 0, 300000));
}

// Waits until row `row` of the Status list reads `text`.
bool WaitForStatus(HWND dialog, int row, const std::string &text, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        std::vector<std::string> rows = RemoteListBoxTexts(dialog, IDC_STATUS_LIST);
        if ((int)rows.size() > row && rows[row] == text) return true;
        Sleep(100);
    }
    return false;
}

size_t FindInOrder(const std::string &log, const std::vector<std::string> &pieces)
{
    size_t at = 0;
    for (size_t i = 0; i < pieces.size(); i++) {
        size_t found = log.find(pieces[i], at);
        if (found == std::string::npos) return i;
        at = found + pieces[i].size();
    }
    return pieces.size();
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CreateDirectoryA("C:\\www", NULL);
        CreateDirectoryA("C:\\www\\suite-data", NULL);
        CreateDirectoryA("C:\\www\\Apache22", NULL);
        CreateDirectoryA("C:\\www\\Apache22\\modules", NULL);
        std::string dll = TestBinDirectory() + "qvx_module.dll";
        for (const char *name : ApacheModules) {
            CopyFileA(dll.c_str(), (std::string(ModuleDirectory) + name).c_str(), FALSE);
        }
        CopyFileA((TestBinDirectory() + "QuorvexController.exe").c_str(), ProgramPath, FALSE);
        // .NET 1.1 SP1 and 2.0 under an install root of their own.
        CreateDirectoryA("C:\\NetRoot", NULL);
        CreateDirectoryA("C:\\NetRoot\\v1.1.4322", NULL);
        CreateDirectoryA("C:\\NetRoot\\v2.0.50727", NULL);
        CopyFileA((TestBinDirectory() + "mscorlib_1_1_4322_2032.dll").c_str(),
                  "C:\\NetRoot\\v1.1.4322\\mscorlib.dll", FALSE);
        CopyFileA((TestBinDirectory() + "mscorlib_2_0_50727_42.dll").c_str(),
                  "C:\\NetRoot\\v2.0.50727\\mscorlib.dll", FALSE);
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\.NETFramework", 0, NULL, 0, KEY_ALL_ACCESS,
                            NULL, &key, NULL) == ERROR_SUCCESS) {
            RegSetValueExA(key, "InstallRoot", 0, REG_SZ, (const BYTE *)"C:\\NetRoot\\", 12);
            RegCloseKey(key);
        }
    }

    void SetUp() override
    {
        RemoveAllManagedServices();
        SetJdkVersion("1.6");
    }

    void TearDown() override
    {
        KillProgram(&program_);
        RemoveAllManagedServices();
    }

    void InstallStack(const std::string &tomcatArguments)
    {
        TestServiceSetup apache;
        apache.name = "Apache2.2";
        apache.hasDescription = true;
        apache.description = "Apache/2.2 web server";
        apache.startType = SERVICE_AUTO_START;
        apache.runArguments = ApacheRunArguments("--connect-self");
        ASSERT_EQ("", InstallTestService(apache));
        ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 60000));
        TestServiceSetup mysql;
        mysql.name = "MySQL";
        mysql.hasDescription = true;
        mysql.description = "MySQL database server";
        mysql.startType = SERVICE_AUTO_START;
        mysql.runArguments = "--listen 0.0.0.0:3306";
        ASSERT_EQ("", InstallTestService(mysql));
        ASSERT_EQ("", StartTestService("MySQL", SERVICE_RUNNING, 60000));
        TestServiceSetup tomcat;
        tomcat.name = "Tomcat5";
        tomcat.runArguments = tomcatArguments;
        ASSERT_EQ("", InstallTestService(tomcat));
    }

    RunningProgram program_;
};

TEST_F(EndToEnd, BringUpEventsAndTearDownAsTheUserMeetsThem)
{
    ASSERT_NO_FATAL_FAILURE(InstallStack("--start-delay 4000 --listen 0.0.0.0:28009"));
    DWORD apachePid = 0, mysqlPid = 0;
    QueryTestServiceState("Apache2.2", &apachePid);
    QueryTestServiceState("MySQL", &mysqlPid);
    ASSERT_TRUE(StartProgram(&program_, "C:\\", ProgramPath));
    HWND dialog = program_.dialog;

    // Bring-up: rows, selection, details of row 0, system information, modules.
    EXPECT_EQ(std::vector<std::string>({ "Apache2.2", "MySQL", "Tomcat5", "IIS W3" }),
              RemoteListBoxTexts(dialog, IDC_SERVICES_LIST));
    EXPECT_EQ(0, RemoteListBoxSelection(dialog, IDC_SERVICES_LIST));
    EXPECT_EQ(std::vector<std::string>({ "Running", "Running", "Stopped", "[not installed]" }),
              RemoteListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ(std::vector<std::string>({ "Automatic", "Automatic", "Demand", "" }),
              RemoteListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
    EXPECT_EQ("Apache/2.2 web server", RemoteItemText(dialog, IDC_DESCRIPTION));
    std::string path = RemoteItemText(dialog, IDC_BINARY_PATH);
    EXPECT_EQ(0u, path.find("\"" + TestServiceProgram().substr(0, 10))) << path;
    EXPECT_EQ(std::to_string(apachePid), RemoteItemText(dialog, IDC_PROCESS_ID));
    std::string endpoints = RemoteItemText(dialog, IDC_IP_AND_PORT);
    EXPECT_EQ(0u, endpoints.find("0.0.0.0:28080 [all], 0.0.0.0:28443 [all], 127.0.0.1:")) << endpoints;
    EXPECT_EQ("v1.1 SP 1, v2.0 ", RemoteItemText(dialog, IDC_NET_VERSION));
    EXPECT_EQ("v1.6", RemoteItemText(dialog, IDC_JDK_VERSION));
    EXPECT_EQ(0u, RemoteItemText(dialog, IDC_OS_VERSION).find("[Unknown] ")) << "Wine reports 6.1";
    EXPECT_NE(std::string::npos, RemoteItemText(dialog, IDC_IP_ADDRESS).find("127.0.0.1 [local]"));
    EXPECT_EQ(std::vector<std::string>({ "mod_ssl.so", "php5apache2_2.dll" }),
              RemoteListBoxTexts(dialog, IDC_SUITE_MODULES));
    EXPECT_EQ(std::vector<std::string>({ "php_mysql.dll" }), RemoteListBoxTexts(dialog, IDC_PHP_EXTENSIONS));
    EXPECT_EQ(std::vector<std::string>({ "mod_rewrite.so" }), RemoteListBoxTexts(dialog, IDC_APACHE_MODULES));

    // MySQL selected: its details and its one listening endpoint.
    SelectRow(dialog, 1);
    EXPECT_EQ("MySQL database server", RemoteItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ(std::to_string(mysqlPid), RemoteItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("0.0.0.0:3306 [all]", RemoteItemText(dialog, IDC_IP_AND_PORT));

    // Disable and Enable Startup on MySQL, checked in the service manager.
    Click(dialog, IDC_DISABLE_STARTUP);
    EXPECT_EQ((DWORD)SERVICE_DEMAND_START, QueryTestServiceStartType("MySQL"));
    EXPECT_EQ("Demand", RemoteListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST).at(1));
    Click(dialog, IDC_ENABLE_STARTUP);
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, QueryTestServiceStartType("MySQL"));
    EXPECT_EQ("Automatic", RemoteListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST).at(1));

    // Tomcat5: stopped, then started (slowly) with the Start button.
    SelectRow(dialog, 2);
    EXPECT_EQ("[not running]", RemoteItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("", RemoteItemText(dialog, IDC_IP_AND_PORT));
    Click(dialog, IDC_START_SERVICE);
    EXPECT_EQ(0u, RemoteListBoxTexts(dialog, IDC_STATUS_LIST).at(2).find("Starting"));
    EXPECT_TRUE(WaitForStatus(dialog, 2, "Starting.", 10000)) << "a dot on the first tick";
    EXPECT_TRUE(WaitForStatus(dialog, 2, "Running", 30000));
    DWORD tomcatPid = 0;
    QueryTestServiceState("Tomcat5", &tomcatPid);
    EXPECT_EQ(std::to_string(tomcatPid), RemoteItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("0.0.0.0:28009 [all]", RemoteItemText(dialog, IDC_IP_AND_PORT));

    // Stop it again.
    Click(dialog, IDC_STOP_SERVICE);
    EXPECT_TRUE(WaitForStatus(dialog, 2, "Stopped", 30000));
    EXPECT_EQ("[not running]", RemoteItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("", RemoteItemText(dialog, IDC_IP_AND_PORT));

    // Requery All keeps the rows, the selection and the texts.
    std::vector<std::string> status = RemoteListBoxTexts(dialog, IDC_STATUS_LIST);
    Menu(dialog, IDM_REQUERY_ALL);
    EXPECT_EQ(status, RemoteListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ(2, RemoteListBoxSelection(dialog, IDC_SERVICES_LIST));
    EXPECT_EQ("[not running]", RemoteItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ(std::vector<std::string>({ "mod_rewrite.so" }), RemoteListBoxTexts(dialog, IDC_APACHE_MODULES));

    // About: a modal box owned by the dialog, closed with its OK button.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
    HWND about = NULL;
    for (int i = 0; i < 200 && !about; i++) {
        Sleep(50);
        about = FindWindowA(NULL, "About...");
    }
    ASSERT_NE(nullptr, about) << "the About box";
    EXPECT_EQ(dialog, GetWindow(about, GW_OWNER));
    PostMessageA(about, WM_COMMAND, IDOK, 0);

    // File, Exit closes the dialog; the program exits with 0.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    DWORD code = 1;
    ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(program_.process.hProcess, 60000));
    GetExitCodeProcess(program_.process.hProcess, &code);
    EXPECT_EQ((DWORD)0, code);
    CloseHandle(program_.process.hProcess);
    CloseHandle(program_.process.hThread);
    program_.process = PROCESS_INFORMATION();

    // The log, in the order of the bring-up, the user's actions and the tear-down.
    std::string log = ReadControllerLog();
    std::vector<std::string> order = {
        "\n'Apache2.2' Service name exist.\n\n'MySQL' Service name exist.\n\n'Tomcat5' Service name exist.\n"
        "\n'W3svc' Service name does NOT exist.\n",
        "\nPerforming Initial ServiceQueryStatus (Apache2.2)...\n",
        "\nInitial Service Query Status,Config,Description (W3svc) not performed; Service is not Installed.\n",
        "\nClipping string to fit '210' Dialog Units [if needed]...\n",
        "\nNumber of system IPs detected: ",
        "\nOpening value 'InstallRoot' under key 'SOFTWARE\\Microsoft\\.NETFramework' via Registry...\n",
        "\nValue Data: C:\\NetRoot\\\n",
        "\n.NET v1.0 Runtime NOT Found.\n\n.NET v1.1 Runtime Found.\nFile:                 C:\\NetRoot\\v1.1.4322\\mscorlib.dll\n",
        "RevisionNumber (QFE): 2032\n\n.NET v2.0 Runtime Found.\n",
        "\nOpening value 'CurrentVersion' under key 'SOFTWARE\\JavaSoft\\Java Development Kit' via Registry...\n",
        "\nValue Data: 1.6\n",
        "\nQuerying System Directories and Info...\n",
        "\nProcess Path: C:\\www\\QuorvexController.exe",
        "\n'www' Root Path: C:\\www\n",
        "\nEnvironment Variables...\n",
        "\nEnumerating Process Modules...\n",
        "mod_ssl.so mod_rewrite.so php_mysql.dll php5apache2_2.dll php5ts.dll libapr-1.dll ",
        "\nMapping Process IDs to IP:PORTs...",
        // The table lists its rows by local port: MySQL's 3306 before Apache's.
        "\nSrv Name: MySQL\nSrv PID (via tcp): " + std::to_string(mysqlPid) + "\nState: 2\nLocalAddr: 0\nLocalPort: 3306\n",
        "\nSrv Name: Apache2.2\nSrv PID (via tcp): " + std::to_string(apachePid) + "\n",
        "\nUser Select 'Disable Service' MySQL...\n",
        "\n'MySQL' Service Startup Type changed to 'Disabled'.\n",
        "\nUser Select 'Enable Service' MySQL...\n",
        "\n'MySQL' Service Startup Type changed to 'Enabled'.\n",
        "\nUser Select 'Start Service' Tomcat5...\n",
        "\n'Tomcat5' Starting Service...\n",
        "\nTimer Set for Tomcat5 -- Start Pending\n",
        "\nSrv Name: Tomcat5\n",
        "\nUser Select 'Stop Service' Tomcat5...\n",
        "\n'Tomcat5' Stopping Service...\n",
        "\nTimer Set for Tomcat5 -- Stop Pending\n",
        "\tCurrent State: 0x00000001\n",
        "\nCloseServiceHandle(hSCManager) successful.\n",
        "\n'Apache2.2' Service name exist.\n",
        "\nMapping Process IDs to IP:PORTs...",
        "\nCloseServiceHandle(hSCManager) successful.\n\nCloseServiceHandle (Apache2.2) successful.\n"
        "\nCloseServiceHandle (MySQL) successful.\n\nCloseServiceHandle (Tomcat5) successful.\n"
        "\nCloseServiceHandle (W3svc) not called; Service is not Installed.\n",
        "\nfree 'lpDescription' (W3svc) performed.\n",
    };
    size_t reached = FindInOrder(log, order);
    EXPECT_EQ(order.size(), reached) << "missing or out of order: " << (reached < order.size() ? order[reached] : "")
                                     << "\n--- log ---\n" << log;
    EXPECT_EQ(log.size() - strlen("\nfree 'lpDescription' (W3svc) performed.\n"),
              log.rfind("\nfree 'lpDescription' (W3svc) performed.\n")) << "the close lines end the log";
}

TEST_F(EndToEnd, ManyRequeryAllKeepHandlesAndMemoryFlat)
{
    ASSERT_NO_FATAL_FAILURE(InstallStack(""));
    ASSERT_TRUE(StartProgram(&program_, "C:\\", ProgramPath));
    HANDLE process = program_.process.hProcess;
    DWORD pid = program_.process.dwProcessId;
    int rounds = EnvironmentNumber("QVX_REQUERY_ROUNDS", 1000);
    size_t memoryWarm = 0, memoryEnd = 0;
    int handlesStart = CountProcessHandles(pid);
    int warmUp = std::min(20, rounds);
    for (int i = 0; i < warmUp; i++) Menu(program_.dialog, IDM_REQUERY_ALL);
    int handlesWarm = CountProcessHandles(pid);
    memoryWarm = CountPrivateBytes(process);
    DWORD start = GetTickCount();
    for (int i = warmUp; i < rounds; i++) Menu(program_.dialog, IDM_REQUERY_ALL);
    DWORD elapsed = GetTickCount() - start;
    int handlesEnd = CountProcessHandles(pid);
    memoryEnd = CountPrivateBytes(process);
    printf("Requery All x%d: handles %d at start, %d after %d, %d at the end; "
           "private bytes %lu after %d, %lu at the end; %.1f ms per Requery All\n",
           rounds, handlesStart, handlesWarm, warmUp, handlesEnd, (unsigned long)memoryWarm, warmUp,
           (unsigned long)memoryEnd, rounds > warmUp ? (double)elapsed / (rounds - warmUp) : 0.0);
    ASSERT_GT(handlesWarm, 0) << "the system handle table lists the program's handles";
    EXPECT_LE(handlesEnd, handlesWarm + 5) << "handles grow with Requery All";
    EXPECT_GE(handlesEnd, 0);
    ASSERT_GT(memoryWarm, (size_t)0);
    EXPECT_LE(memoryEnd, memoryWarm + 1024 * 1024) << "private memory grows";
    EXPECT_EQ("Running", RemoteListBoxTexts(program_.dialog, IDC_STATUS_LIST).at(0));
    EXPECT_EQ(0, CloseProgram(&program_));
}

TEST_F(EndToEnd, ServiceThatNeverFinishesStartingKeepsTheDialogAnswering)
{
    ASSERT_NO_FATAL_FAILURE(InstallStack("--start-forever"));
    ASSERT_TRUE(StartProgram(&program_, "C:\\", ProgramPath));
    HWND dialog = program_.dialog;
    SelectRow(dialog, 2);
    Click(dialog, IDC_START_SERVICE);
    // Twelve and more ticks of 2500 ms: the dots stop at eleven.
    DWORD start = GetTickCount();
    DWORD slowest = 0;
    while (GetTickCount() - start < 34000) {
        DWORD before = GetTickCount();
        DWORD_PTR result = 0;
        EXPECT_TRUE(RemoteSend(dialog, WM_NULL, 0, 0, 100, &result)) << "the dialog did not answer within 100 ms";
        slowest = std::max(slowest, GetTickCount() - before);
        Sleep(250);
    }
    printf("slowest WM_NULL answer while polling: %lu ms\n", (unsigned long)slowest);
    EXPECT_EQ("Starting...........", RemoteListBoxTexts(dialog, IDC_STATUS_LIST).at(2));
    EXPECT_EQ(0, CloseProgram(&program_));
}

// The controller shows what the service manager says of a service whose
// process was killed: Windows reports it stopped; Wine's service manager keeps
// reporting it running with the dead process id. Either way the endpoints of
// the dead process are gone, Stop on it keeps the dialog answering, and the
// program closes normally.
TEST_F(EndToEnd, KilledServiceProcessShowsWhatTheServiceManagerSays)
{
    ASSERT_NO_FATAL_FAILURE(InstallStack(""));
    ASSERT_TRUE(StartProgram(&program_, "C:\\", ProgramPath));
    HWND dialog = program_.dialog;
    SelectRow(dialog, 1);
    EXPECT_EQ("0.0.0.0:3306 [all]", RemoteItemText(dialog, IDC_IP_AND_PORT));
    DWORD mysqlPid = 0;
    QueryTestServiceState("MySQL", &mysqlPid);
    HANDLE service = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, mysqlPid);
    ASSERT_NE(nullptr, service);
    EXPECT_TRUE(TerminateProcess(service, 1));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(service, 10000));
    CloseHandle(service);
    for (int i = 0; i < 50 && QueryTestServiceState("MySQL", NULL) != SERVICE_STOPPED; i++) Sleep(100);
    DWORD reportedPid = 0;
    DWORD state = QueryTestServiceState("MySQL", &reportedPid);
    printf("the service manager reports state %lu, process id %lu, for the killed service\n",
           (unsigned long)state, (unsigned long)reportedPid);
    ASSERT_TRUE(state == SERVICE_STOPPED || state == SERVICE_RUNNING) << state;

    Menu(dialog, IDM_REQUERY_ALL);
    EXPECT_EQ(state == SERVICE_STOPPED ? "Stopped" : "Running", RemoteListBoxTexts(dialog, IDC_STATUS_LIST).at(1));
    EXPECT_EQ(1, RemoteListBoxSelection(dialog, IDC_SERVICES_LIST));
    EXPECT_EQ(state == SERVICE_STOPPED ? std::string("[not running]") : std::to_string(reportedPid),
              RemoteItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("", RemoteItemText(dialog, IDC_IP_AND_PORT)) << "the dead process holds no endpoint";
    EXPECT_EQ("Running", RemoteListBoxTexts(dialog, IDC_STATUS_LIST).at(0)) << "the other services are untouched";

    Click(dialog, IDC_STOP_SERVICE);
    for (int tick = 0; tick < 4; tick++) {
        Sleep(1500);
        DWORD_PTR result = 0;
        EXPECT_TRUE(RemoteSend(dialog, WM_NULL, 0, 0, 5000, &result)) << "the dialog answers while polling";
    }
    EXPECT_EQ(0, CloseProgram(&program_));
    std::string log = ReadControllerLog();
    EXPECT_NE(std::string::npos, log.find("\nUser Select 'Stop Service' MySQL...\n")) << log;
}

TEST_F(EndToEnd, MissingLogDirectoryChangesNothingTheUserSees)
{
    ASSERT_NO_FATAL_FAILURE(InstallStack("--start-delay 1000"));
    DeleteFileA("C:\\www\\suite-data\\controller.log");
    ASSERT_TRUE(RemoveDirectoryA("C:\\www\\suite-data"));
    bool started = StartProgram(&program_, "C:\\", ProgramPath);
    if (started) {
        HWND dialog = program_.dialog;
        EXPECT_EQ(std::vector<std::string>({ "Running", "Running", "Stopped", "[not installed]" }),
                  RemoteListBoxTexts(dialog, IDC_STATUS_LIST));
        SelectRow(dialog, 2);
        Click(dialog, IDC_START_SERVICE);
        EXPECT_TRUE(WaitForStatus(dialog, 2, "Running", 30000));
        Menu(dialog, IDM_REQUERY_ALL);
        EXPECT_EQ(std::vector<std::string>({ "mod_ssl.so", "php5apache2_2.dll" }),
                  RemoteListBoxTexts(dialog, IDC_SUITE_MODULES));
        EXPECT_EQ(0, CloseProgram(&program_));
    }
    DWORD attributes = GetFileAttributesA("C:\\www\\suite-data");
    CreateDirectoryA("C:\\www\\suite-data", NULL);
    ASSERT_TRUE(started);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes) << "the program does not make the log directory";
}

TEST_F(EndToEnd, NoManagedServiceInstalled)
{
    ASSERT_TRUE(StartProgram(&program_, "C:\\", ProgramPath));
    HWND dialog = program_.dialog;
    EXPECT_EQ(std::vector<std::string>(4, "[not installed]"), RemoteListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ(std::vector<std::string>(4, ""), RemoteListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
    EXPECT_EQ("[not installed]", RemoteItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("", RemoteItemText(dialog, IDC_BINARY_PATH));
    EXPECT_EQ("", RemoteItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("", RemoteItemText(dialog, IDC_IP_AND_PORT));
    for (int id : { IDC_SUITE_MODULES, IDC_PHP_EXTENSIONS, IDC_APACHE_MODULES }) {
        EXPECT_EQ(std::vector<std::string>({ "[not installed]" }), RemoteListBoxTexts(dialog, id));
    }
    Click(dialog, IDC_START_SERVICE);
    Menu(dialog, IDM_REQUERY_ALL);
    EXPECT_EQ("[not installed]", RemoteListBoxTexts(dialog, IDC_STATUS_LIST).at(0));
    EXPECT_EQ(0, CloseProgram(&program_));
    std::string log = ReadControllerLog();
    EXPECT_NE(std::string::npos, log.find("\nUser Select 'Start Service' Apache2.2...\n\nTimer Set for Apache2.2 -- Start Pending\n"))
        << log;
}

}  // namespace
