// The whole program as its users meet it: the real QuorvexController.exe started on C: of a prepared prefix
// (Apache2.2 with modules and two ports, MySQL on 3306, Tomcat5 slow to start, W3svc absent, .NET and a JDK),
// driven from outside, its log held against expected/e2e_log.txt; then the robustness runs. Under
// QVX_WINE_ARCH=win32 (a 32-bit prefix reporting Windows XP) the bring-up expects what XP shows.
#include <gtest/gtest.h>
#include <fstream>
#include "res/resource.h"
#include "support/test_program.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {
typedef std::vector<std::string> Rows;
typedef std::vector<std::pair<std::string, std::string>> Pairs;
const char *const Program = "C:\\www\\QuorvexController.exe", *const ModuleDir = "C:\\www\\Apache22\\modules\\";
const char *const Modules[] = { "mod_ssl.so", "mod_rewrite.so", "php_mysql.dll", "php5apache2_2.dll", "php5ts.dll", "libapr-1.dll" };
const bool Xp = getenv("QVX_WINE_ARCH") && std::string(getenv("QVX_WINE_ARCH")) == "win32";
const Rows StackStatus = { "Running", "Running", "Stopped", "[not installed]" };

void Click(HWND d, int id) { ASSERT_TRUE(RemoteSend(d, WM_COMMAND, id, (LPARAM)GetDlgItem(d, id))); }
void Menu(HWND d, int id) { ASSERT_TRUE(RemoteSend(d, WM_COMMAND, id, 0, 300000)); }
bool Tick(HWND d, int timer) { return RemoteSend(d, WM_TIMER, timer, 0, 10000); }
std::string Status(HWND d, int row) { Rows r = RemoteListBoxTexts(d, IDC_STATUS_LIST); return row < (int)r.size() ? r[row] : "?"; }
Rows Fields(HWND d, std::initializer_list<int> ids) { Rows texts; for (int id : ids) texts.push_back(RemoteItemText(d, id)); return texts; }
void Select(HWND d, int row, HWND list = NULL)
{
    ASSERT_TRUE(RemoteSend(list = GetDlgItem(d, IDC_SERVICES_LIST), LB_SETCURSEL, row, 0) && RemoteSend(d, WM_COMMAND, MAKEWPARAM(IDC_SERVICES_LIST, LBN_SELCHANGE), (LPARAM)list));
}
// Sends WM_TIMER of poll timer `timer`, as the timer would, until row `row` of the Status list reads `text`.
bool TickUntil(HWND d, int timer, int row, const std::string &text)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(200)) if (Tick(d, timer) && Status(d, row) == text) return true;
    return false;
}
// The log against expected/NAME, pieces split at "~~~\n" with {KEY}s replaced: all in this order, the first
// opening the log, the last ending it.
void ExpectLogShape(const std::string &log, const char *name, const Pairs &keys)
{
    std::ifstream in(TestBinDirectory() + name, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto &key : keys) for (size_t at; (at = text.find(key.first)) != std::string::npos;) text.replace(at, key.first.size(), key.second);
    Rows pieces;
    for (size_t at = 0, end; at < text.size(); at = end + 4) pieces.push_back(text.substr(at, (end = std::min(text.find("~~~\n", at), text.size())) - at));
    ASSERT_GT(pieces.size(), 1u) << name;
    for (size_t i = 0, at = 0; i < pieces.size(); at += pieces[i++].size()) {
        ASSERT_NE(std::string::npos, at = log.find(pieces[i], at)) << "missing or out of order:\n" << pieces[i] << "\n--- log ---\n" << log;
        if (i == 0 || i + 1 == pieces.size()) { EXPECT_EQ(i ? log.size() - pieces[i].size() : 0, at) << "the log opens and ends so:\n" << log; }
    }
}
// Handles of the process in the system handle table (GetProcessHandleCount answers 0 under Wine; class 16 is
// a count, then 4-ULONG entries led by the owner's pid), and its committed private bytes.
std::pair<int, size_t> Footprint(const PROCESS_INFORMATION &process)
{
    typedef LONG(NTAPI * Query)(ULONG, PVOID, ULONG, PULONG);
    Query query = (Query)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    std::vector<ULONG> table(1 << 16);
    std::pair<int, size_t> footprint(0, 0);
    while (query(16, table.data(), table.size() * 4, NULL) == (LONG)0xC0000004) table.resize(table.size() * 2);
    for (ULONG i = 0; i < table[0] && 1 + i * 4 < table.size(); i++) footprint.first += table[1 + i * 4] == process.dwProcessId;
    MEMORY_BASIC_INFORMATION r;
    for (BYTE *at = NULL; VirtualQueryEx(process.hProcess, at, &r, sizeof(r)) == sizeof(r) && (BYTE *)r.BaseAddress + r.RegionSize > at;
         at = (BYTE *)r.BaseAddress + r.RegionSize) footprint.second += (r.State == MEM_COMMIT && r.Type == MEM_PRIVATE) ? r.RegionSize : 0;
    return footprint;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (const char *d : { "C:\\www", "C:\\www\\Apache22", ModuleDir, "C:\\NetRoot", "C:\\NetRoot\\v1.1.4322", "C:\\NetRoot\\v2.0.50727" }) CreateDirectoryA(d, NULL);
        Pairs copies = { { "QuorvexController.exe", Program }, { "mscorlib_1_1_4322_2032.dll", "C:\\NetRoot\\v1.1.4322\\mscorlib.dll" },
                         { "mscorlib_2_0_50727_42.dll", "C:\\NetRoot\\v2.0.50727\\mscorlib.dll" } };
        for (const char *m : Modules) copies.push_back({ "qvx_module.dll", std::string(ModuleDir) + m });
        for (const auto &copy : copies) CopyFileA((TestBinDirectory() + copy.first).c_str(), copy.second.c_str(), FALSE);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\.NETFramework", "InstallRoot", REG_SZ, "C:\\NetRoot\\", 12);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Development Kit", "CurrentVersion", REG_SZ, "1.6", 4);
    }
    // The stack, installed anew when a test before took it down.
    void SetUp() override
    {
        if (QueryTestServiceState("Apache2.2", NULL) == SERVICE_RUNNING && QueryTestServiceState("MySQL", NULL) == SERVICE_RUNNING) return;
        RemoveAllManagedServices();
        std::string apache = "--listen 0.0.0.0:28080 --listen 0.0.0.0:28443";
        for (const char *m : Modules) apache += std::string(" --load ") + ModuleDir + m;
        Install("Apache2.2", apache, "Apache/2.2 web server", SERVICE_AUTO_START);
        Install("MySQL", "--listen 0.0.0.0:3306", "MySQL database server", SERVICE_AUTO_START);
        Install("Tomcat5", "--start-delay 2500 --listen 0.0.0.0:28009", "", SERVICE_DEMAND_START);
    }
    void TearDown() override { EndProgram(&program_, true, 10000), CreateDirectoryA("C:\\www\\suite-data", NULL); }
    static void Install(const char *name, const std::string &arguments, const char *description, DWORD startType)
    {
        TestServiceSetup s;
        s.name = name, s.runArguments = arguments, s.description = description, s.hasDescription = *description, s.startType = startType;
        ASSERT_EQ("", InstallTestService(s));
        if (startType != SERVICE_DEMAND_START) { ASSERT_EQ("", StartTestService(name, SERVICE_RUNNING, 60000)); }
    }
    static std::string Pid(const char *service) { DWORD pid = 0; QueryTestServiceState(service, &pid); return std::to_string(pid); }
    RunningProgram program_;
};

TEST_F(EndToEnd, BringUpUserActionsAndTearDownAsTheUserMeetsThem)
{
    ASSERT_TRUE(WriteWholeFile("C:\\www\\suite-data\\controller.log", "the log of an earlier run\n"));
    ASSERT_TRUE(StartProgram(&program_, Program));
    HWND d = program_.dialog;
    EXPECT_EQ(Rows({ "Apache2.2", "MySQL", "Tomcat5", "IIS W3" }), RemoteListBoxTexts(d, IDC_SERVICES_LIST));
    EXPECT_EQ(StackStatus, RemoteListBoxTexts(d, IDC_STATUS_LIST));
    EXPECT_EQ(Rows({ "Automatic", "Automatic", "Demand", "" }), RemoteListBoxTexts(d, IDC_STARTUP_TYPE_LIST));
    EXPECT_EQ(Rows({ "Apache/2.2 web server", Pid("Apache2.2"), "0.0.0.0:28080 [all], 0.0.0.0:28443 [all]", "v1.1 SP 1, v2.0 ", "v1.6", "127.0.0.1 [local]",
                     Xp ? "Microsoft Windows XP Service Pack 3" : "[Unknown] Service Pack 1" }),
              Fields(d, { IDC_DESCRIPTION, IDC_PROCESS_ID, IDC_IP_AND_PORT, IDC_NET_VERSION, IDC_JDK_VERSION, IDC_IP_ADDRESS, IDC_OS_VERSION }));
    EXPECT_EQ(Rows({ "mod_ssl.so", "php5apache2_2.dll", "php_mysql.dll", "mod_rewrite.so" }),
              Rows({ RemoteListBoxTexts(d, IDC_SUITE_MODULES).at(0), RemoteListBoxTexts(d, IDC_SUITE_MODULES).at(1),
                     RemoteListBoxTexts(d, IDC_PHP_EXTENSIONS).at(0), RemoteListBoxTexts(d, IDC_APACHE_MODULES).at(0) }));
    Select(d, 1);  // MySQL: its details; its startup disabled and enabled, as the service manager then says
    EXPECT_EQ(Rows({ "MySQL database server", Pid("MySQL"), "0.0.0.0:3306 [all]" }), Fields(d, { IDC_DESCRIPTION, IDC_PROCESS_ID, IDC_IP_AND_PORT }));
    for (int button : { IDC_DISABLE_STARTUP, IDC_ENABLE_STARTUP }) {
        Click(d, button);
        EXPECT_EQ(button == IDC_ENABLE_STARTUP ? SERVICE_AUTO_START : SERVICE_DEMAND_START, (int)QueryTestServiceStartType("MySQL"));
        EXPECT_EQ(button == IDC_ENABLE_STARTUP ? "Automatic" : "Demand", RemoteListBoxTexts(d, IDC_STARTUP_TYPE_LIST).at(1));
    }
    Select(d, 2);  // Tomcat5: started (slowly), then stopped
    Click(d, IDC_START_SERVICE);
    EXPECT_EQ("Starting", Status(d, 2));
    EXPECT_TRUE(TickUntil(d, IDT_START_POLL_BASE + 2, 2, "Running"));
    std::string tomcat = Pid("Tomcat5");
    EXPECT_EQ(Rows({ tomcat, "0.0.0.0:28009 [all]" }), Fields(d, { IDC_PROCESS_ID, IDC_IP_AND_PORT }));
    Click(d, IDC_STOP_SERVICE);
    EXPECT_TRUE(TickUntil(d, IDT_STOP_POLL_BASE + 2, 2, "Stopped"));
    EXPECT_EQ(Rows({ "[not running]", "" }), Fields(d, { IDC_PROCESS_ID, IDC_IP_AND_PORT }));
    Menu(d, IDM_REQUERY_ALL);
    EXPECT_EQ(StackStatus, RemoteListBoxTexts(d, IDC_STATUS_LIST));
    PostMessageA(d, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(0, EndProgram(&program_, false));
    ExpectLogShape(ReadControllerLog(), "e2e_log.txt", { { "{APACHE_PID}", Pid("Apache2.2") }, { "{MYSQL_PID}", Pid("MySQL") },
                   { "{TOMCAT_PID}", tomcat }, { "{TESTSVC}", TestServiceProgram() } });
}

// Without the log directory: every log write meets a log that is not open.
TEST_F(EndToEnd, ManyRequeryAllWithoutALogDirectoryKeepHandlesAndMemoryFlat)
{
    ASSERT_TRUE(DeleteFileA("C:\\www\\suite-data\\controller.log") && RemoveDirectoryA("C:\\www\\suite-data"));
    ASSERT_TRUE(StartProgram(&program_, Program));
    HWND d = program_.dialog;
    Select(d, 2);
    Click(d, IDC_STOP_SERVICE);
    EXPECT_TRUE(Tick(d, IDT_STOP_POLL_BASE + 2));
    int rounds = getenv("QVX_REQUERY_ROUNDS") ? atoi(getenv("QVX_REQUERY_ROUNDS")) : 100, warmUp = std::min(20, rounds);
    std::pair<int, size_t> start = Footprint(program_.process), warm, end;
    for (int i = 1; i <= rounds; i++, warm = i == warmUp ? Footprint(program_.process) : warm) Menu(d, IDM_REQUERY_ALL);
    end = Footprint(program_.process);
    printf("Requery All x%d: handles %d at start, %d after %d, %d at the end; private bytes %lu, %lu, %lu\n", rounds, start.first,
           warm.first, warmUp, end.first, (unsigned long)start.second, (unsigned long)warm.second, (unsigned long)end.second);
    ASSERT_GT(warm.first, 0) << "the system handle table lists the program's handles";
    EXPECT_LE(end.first, warm.first + 5) << "handles grow with Requery All";
    EXPECT_LE(end.second, warm.second + 1024 * 1024) << "private memory grows with Requery All";
    EXPECT_EQ(StackStatus, RemoteListBoxTexts(d, IDC_STATUS_LIST));
    EXPECT_EQ(0, EndProgram(&program_));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\www\\suite-data")) << "the program makes no log directory";
}

TEST_F(EndToEnd, StartThatNeverFinishesStopsAtElevenDotsAndTheDialogKeepsAnswering)
{
    Install("W3svc", "--start-forever", "", SERVICE_DEMAND_START);
    ASSERT_TRUE(StartProgram(&program_, Program));
    Select(program_.dialog, 3);
    Click(program_.dialog, IDC_START_SERVICE);
    for (int tick = 0; tick < 13; tick++) EXPECT_TRUE(Tick(program_.dialog, IDT_START_POLL_BASE + 3));
    EXPECT_EQ("Starting...........", Status(program_.dialog, 3));
    EXPECT_TRUE(RemoteSend(program_.dialog, WM_NULL, 0, 0, 100)) << "the dialog answers at once";
    EXPECT_EQ(0, EndProgram(&program_));
    EXPECT_EQ("", RemoveTestService("W3svc"));
}

// Windows reports a service whose process was killed as stopped; Wine's service manager keeps it running with
// the dead process id. Either way the dialog shows what the manager says, the dead process has no endpoint.
TEST_F(EndToEnd, KilledServiceProcessShowsWhatTheServiceManagerSays)
{
    ASSERT_TRUE(StartProgram(&program_, Program));
    HWND d = program_.dialog;
    Select(d, 1);
    HANDLE mysql = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, atoi(Pid("MySQL").c_str()));
    ASSERT_TRUE(mysql && TerminateProcess(mysql, 1) && WaitForSingleObject(mysql, 10000) == WAIT_OBJECT_0 && CloseHandle(mysql));
    Menu(d, IDM_REQUERY_ALL);
    bool stopped = QueryTestServiceState("MySQL", NULL) == SERVICE_STOPPED;
    EXPECT_EQ(stopped ? "Stopped" : "Running", Status(d, 1));
    EXPECT_EQ(Rows({ stopped ? "[not running]" : Pid("MySQL"), "" }), Fields(d, { IDC_PROCESS_ID, IDC_IP_AND_PORT }));
    Click(d, IDC_STOP_SERVICE);
    for (int tick = 0; tick < 3; tick++) EXPECT_TRUE(Tick(d, IDT_STOP_POLL_BASE + 1)) << "the dialog answers while polling";
    EXPECT_EQ(0, EndProgram(&program_));
    EXPECT_EQ("", RemoveTestService("MySQL"));  // the next test installs the stack anew
}

TEST_F(EndToEnd, NoServicesShowPlaceholdersAndEnterAndEscapeDoNotClose)
{
    RemoveAllManagedServices();
    ASSERT_TRUE(StartProgram(&program_, Program));
    HWND d = program_.dialog;
    EXPECT_EQ(Rows(4, "[not installed]"), RemoteListBoxTexts(d, IDC_STATUS_LIST));
    EXPECT_EQ(Rows(4, ""), RemoteListBoxTexts(d, IDC_STARTUP_TYPE_LIST));
    EXPECT_EQ(Rows({ "[not installed]", "", "", "" }), Fields(d, { IDC_DESCRIPTION, IDC_BINARY_PATH, IDC_PROCESS_ID, IDC_IP_AND_PORT }));
    for (int id : { IDC_SUITE_MODULES, IDC_PHP_EXTENSIONS, IDC_APACHE_MODULES }) EXPECT_EQ(Rows({ "[not installed]" }), RemoteListBoxTexts(d, id));
    for (int id : { IDOK, IDCANCEL, IDC_START_SERVICE, IDT_START_POLL_BASE }) ASSERT_TRUE(RemoteSend(d, id == IDT_START_POLL_BASE ? WM_TIMER : WM_COMMAND, id, 0));
    Menu(d, IDM_REQUERY_ALL);
    EXPECT_EQ("[not installed]", Status(d, 0));
    EXPECT_EQ(0, EndProgram(&program_));
    EXPECT_NE(std::string::npos, ReadControllerLog().find("\nUser Select 'Start Service' Apache2.2...\n\nTimer Set for Apache2.2 -- Start Pending\n"));
}
}  // namespace
