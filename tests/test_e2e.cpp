// The real program on C: of a prepared prefix (Apache2.2, MySQL, Tomcat5; .NET, a JDK) driven from outside; the robustness runs.
#include <gtest/gtest.h>
#include <sstream>
#include <map>
#include "res/resource.h"
#include "support/test_program.h"
#include "support/test_services.h"
#include "support/test_support.h"
const char *const Program = "C:\\www\\QuorvexController.exe", *const ModuleDir =
                                                                  "C:\\www\\Apache22\\modules\\";
const char *const Modules[] = { "mod_ssl.so",        "mod_rewrite.so", "php_mysql.dll",
                                "php5apache2_2.dll", "php5ts.dll",     "libapr-1.dll" };
const bool Xp = getenv("QVX_WINE_ARCH") && std::string(getenv("QVX_WINE_ARCH")) == "win32";

void Command(HWND d, int id, int code = 0)
{
    ASSERT_TRUE(RemoteSend(d, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)GetDlgItem(d, id)));
} // a click, a menu
void Select(HWND d, int row)
{
    RemoteSend(GetDlgItem(d, IDC_SERVICES_LIST), LB_SETCURSEL, row, 0),
        Command(d, IDC_SERVICES_LIST, LBN_SELCHANGE);
}
bool TickUntil(HWND d, int timer, const std::string &rows,
               DWORD start = GetTickCount()) // as the timer would tick, 30 s at most
{
    while (!(RemoteSend(d, WM_TIMER, timer, 0) && RemoteTexts(d, { IDC_STATUS_LIST }) == rows) &&
           GetTickCount() - start < 30000)
        Sleep(200);
    return RemoteTexts(d, { IDC_STATUS_LIST }) == rows;
}
// The log against expected/NAME: pieces parted by "~~~" lines, {KEY}s replaced, in order, the first opening, the last ending it.
void ExpectLogShape(const std::string &log, const char *name,
                    const std::map<std::string, std::string> &keys)
{
    std::istringstream in(ExpectedText(name));
    std::vector<std::string> pieces(1);
    for (std::string line; std::getline(in, line);)
        line == "~~~" ? pieces.push_back("") : (void)(pieces.back() += line + "\n");
    for (size_t i = 0, at = 0; i < pieces.size(); at += pieces[i++].size()) {
        for (const auto &key : keys)
            for (size_t k; (k = pieces[i].find(key.first)) != std::string::npos;)
                pieces[i].replace(k, key.first.size(), key.second);
        ASSERT_NE(std::string::npos, at = log.find(pieces[i], at)) << "missing or out of order:\n"
                                                                   << pieces[i] << "\n--- log ---\n"
                                                                   << log;
        if (i == 0 || i + 1 == pieces.size()) {
            EXPECT_EQ(i ? log.size() - pieces[i].size() : 0, at) << "opens/ends the log\n" << log;
        }
    }
}
// Handles and committed private bytes.
std::pair<int, size_t> Footprint(const PROCESS_INFORMATION &process)
{
    std::pair<int, size_t> footprint(CountHandles(process.hProcess), 0);
    for (MEMORY_BASIC_INFORMATION r = {};
         VirtualQueryEx(process.hProcess, (BYTE *)r.BaseAddress + r.RegionSize, &r, sizeof(r));)
        footprint.second += (r.State == MEM_COMMIT && r.Type == MEM_PRIVATE) ? r.RegionSize : 0;
    return footprint;
}
void Install(const char *name, const std::string &arguments, const char *description,
             DWORD startType)
{
    TestServiceSetup s;
    s.name = name, s.runArguments = arguments, s.description = description,
    s.hasDescription = *description, s.startType = startType;
    std::string error = InstallTestService(s);
    ASSERT_EQ("", error.empty() && startType == SERVICE_AUTO_START
                      ? StartTestService(name, SERVICE_RUNNING, 60000)
                      : error);
}
std::string Pid(const char *service)
{
    DWORD pid = 0;
    QueryTestServiceState(service, &pid);
    return std::to_string(pid);
}
class EndToEnd : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        for (const char *dir : { "C:\\www", "C:\\www\\Apache22", ModuleDir, "C:\\NetRoot",
                                 "C:\\NetRoot\\v1.1.4322", "C:\\NetRoot\\v2.0.50727" })
            CreateDirectoryA(dir, NULL);
        std::map<std::string, std::string> copies = {
            { Program, "QuorvexController.exe" },
            { "C:\\NetRoot\\v1.1.4322\\mscorlib.dll", "mscorlib_1_1_4322_2032.dll" },
            { "C:\\NetRoot\\v2.0.50727\\mscorlib.dll", "mscorlib_2_0_50727_42.dll" }
        };
        for (const char *m : Modules)
            copies[std::string(ModuleDir) + m] = "qvx_module.dll";
        for (const auto &copy : copies)
            CopyFileA((TestBinDirectory() + copy.second).c_str(), copy.first.c_str(), FALSE);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\.NETFramework", "InstallRoot",
                        REG_SZ, "C:\\NetRoot\\", 12);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Development Kit",
                        "CurrentVersion", REG_SZ, "1.6", 4);
    }
    void SetUp() override // the stack, installed anew when a test before took it down
    {
        if (QueryTestServiceState("Apache2.2", NULL) == SERVICE_RUNNING &&
            QueryTestServiceState("MySQL", NULL) == SERVICE_RUNNING)
            return;
        std::string apache = "--listen 0.0.0.0:28080 --listen 0.0.0.0:28443";
        for (const char *m : Modules)
            apache += std::string(" --load ") + ModuleDir + m;
        Install("Apache2.2", apache, "Apache/2.2 web server", SERVICE_AUTO_START);
        Install("MySQL", "--listen 0.0.0.0:3306", "MySQL database server", SERVICE_AUTO_START);
        Install("Tomcat5", "--start-delay 2500 --listen 0.0.0.0:28009", "", SERVICE_DEMAND_START);
    }
    void TearDown() override
    {
        EndProgram(&program_, true, 10000), CreateDirectoryA("C:\\www\\suite-data", NULL);
    }
    bool Start()
    {
        return StartProgram(&program_, Program) && (d = program_.dialog) != NULL;
    }
    RunningProgram program_;
    HWND d = NULL; // the program and its dialog
};
struct EndToEndWithoutServices : EndToEnd {
    void SetUp() override
    {
        RemoveAllManagedServices();
    }
};
TEST_F(EndToEnd, BringUpUserActionsAndTearDownAsTheUserMeetsThem)
{
    ASSERT_TRUE(
        WriteWholeFile("C:\\www\\suite-data\\controller.log", "the log of an earlier run\n"));
    ASSERT_TRUE(Start());
    EXPECT_EQ("Apache2.2|MySQL|Tomcat5|IIS W3\nRunning|Running|Stopped|[not "
              "installed]\nAutomatic|Automatic|Demand|\nApache/2.2 web server\n" +
                  Pid("Apache2.2") +
                  "\n0.0.0.0:28080 [all], 0.0.0.0:28443 [all]\nv1.1 SP 1, v2.0 \nv1.6\n127.0.0.1 "
                  "[local]\n" +
                  (Xp ? "Microsoft Windows XP Service Pack 3" : "[Unknown] Service Pack 1") +
                  "\nmod_ssl.so|php5apache2_2.dll\nphp_mysql.dll\nmod_rewrite.so\n",
              RemoteTexts(d, { IDC_SERVICES_LIST, IDC_STATUS_LIST, IDC_STARTUP_TYPE_LIST,
                               IDC_DESCRIPTION, IDC_PROCESS_ID, IDC_IP_AND_PORT, IDC_NET_VERSION,
                               IDC_JDK_VERSION, IDC_IP_ADDRESS, IDC_OS_VERSION, IDC_SUITE_MODULES,
                               IDC_PHP_EXTENSIONS, IDC_APACHE_MODULES }));
    Select(d, 2); // Tomcat5: its startup enabled and disabled again; started (slowly), then stopped
    Command(d, IDC_ENABLE_STARTUP);
    EXPECT_EQ("Automatic|Automatic|Automatic|\n[not provided]\n[not running]\n\n",
              RemoteTexts(
                  d, { IDC_STARTUP_TYPE_LIST, IDC_DESCRIPTION, IDC_PROCESS_ID, IDC_IP_AND_PORT }));
    Command(d, IDC_DISABLE_STARTUP);
    EXPECT_EQ("Automatic|Automatic|Demand|\n", RemoteTexts(d, { IDC_STARTUP_TYPE_LIST }));
    Command(d, IDC_START_SERVICE);
    EXPECT_TRUE(TickUntil(d, IDT_START_POLL_BASE + 2, "Running|Running|Running|[not installed]\n"));
    std::string tomcat = Pid("Tomcat5");
    EXPECT_EQ(tomcat + "\n0.0.0.0:28009 [all]\n",
              RemoteTexts(d, { IDC_PROCESS_ID, IDC_IP_AND_PORT }));
    Command(d, IDC_STOP_SERVICE);
    EXPECT_TRUE(TickUntil(d, IDT_STOP_POLL_BASE + 2, "Running|Running|Stopped|[not installed]\n"));
    EXPECT_EQ("[not running]\n\n", RemoteTexts(d, { IDC_PROCESS_ID, IDC_IP_AND_PORT }));
    PostMessageA(d, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(0, EndProgram(&program_, false));
    ExpectLogShape(ReadControllerLog(), "e2e_log.txt",
                   { { "{APACHE_PID}", Pid("Apache2.2") },
                     { "{MYSQL_PID}", Pid("MySQL") },
                     { "{TOMCAT_PID}", tomcat },
                     { "{TESTSVC}", TestServiceProgram() } });
}
TEST_F(EndToEnd, ManyRequeryAllWithoutALogDirectoryKeepHandlesAndMemoryFlat)
{
    ASSERT_TRUE(DeleteFileA("C:\\www\\suite-data\\controller.log") &&
                RemoveDirectoryA("C:\\www\\suite-data"));
    ASSERT_TRUE(Start());
    Command(d, IDC_START_SERVICE); // Apache2.2, running already
    int rounds = getenv("QVX_REQUERY_ROUNDS") ? atoi(getenv("QVX_REQUERY_ROUNDS")) : 100,
        warmUp = std::min(20, rounds);
    std::pair<int, size_t> start = Footprint(program_.process), warm = start;
    for (int i = 1; i <= rounds; i++)
        if (Command(d, IDM_REQUERY_ALL), i == warmUp)
            warm = Footprint(program_.process);
    std::pair<int, size_t> end = Footprint(program_.process);
    printf("Requery All x%d: handles %d at start, %d after %d, %d at the end; private bytes %lu, "
           "%lu, %lu\n",
           rounds, start.first, warm.first, warmUp, end.first, (unsigned long)start.second,
           (unsigned long)warm.second, (unsigned long)end.second);
    ASSERT_GT(warm.first, 0) << "the program's handles are counted";
    EXPECT_LE(end.first, warm.first + 5) << "handles grow with Requery All";
    EXPECT_LE(end.second, warm.second + 1024 * 1024) << "private memory grows with Requery All";
    EXPECT_EQ("Running|Running|Stopped|[not installed]\nAutomatic|Automatic|Demand|\n",
              RemoteTexts(d, { IDC_STATUS_LIST, IDC_STARTUP_TYPE_LIST }));
    EXPECT_EQ(0, EndProgram(&program_));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\www\\suite-data"))
        << "the program makes no log directory";
}
TEST_F(EndToEnd, StartThatNeverFinishesAndKilledServiceProcessKeepTheDialogAnswering)
{
    Install("W3svc", "--start-forever", "", SERVICE_DEMAND_START);
    ASSERT_TRUE(Start());
    Select(d, 3);
    Command(d, IDC_START_SERVICE);
    for (int tick = 0; tick < 13; tick++)
        EXPECT_TRUE(RemoteSend(d, WM_TIMER, IDT_START_POLL_BASE + 3, 0, 10000))
            << "the dialog answers";
    EXPECT_EQ("Running|Running|Stopped|Starting...........\n", RemoteTexts(d, { IDC_STATUS_LIST }))
        << "eleven dots at most";
    Select(d, 1);
    HANDLE mysql = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, atoi(Pid("MySQL").c_str()));
    ASSERT_TRUE(mysql && TerminateProcess(mysql, 1) &&
                WaitForSingleObject(mysql, 10000) == WAIT_OBJECT_0 && CloseHandle(mysql));
    Command(d, IDM_REQUERY_ALL);
    bool stopped = QueryTestServiceState("MySQL", NULL) ==
                   SERVICE_STOPPED; // Windows: stopped; Wine: running, the pid dead
    EXPECT_EQ(std::string("Running|") + (stopped ? "Stopped" : "Running") +
                  "|Stopped|Starting...........\n" + (stopped ? "[not running]" : Pid("MySQL")) +
                  "\n\n",
              RemoteTexts(d, { IDC_STATUS_LIST, IDC_PROCESS_ID, IDC_IP_AND_PORT }))
        << "Requery All leaves the dots";
    EXPECT_EQ(0, EndProgram(&program_));
}
TEST_F(EndToEndWithoutServices, PlaceholdersShowAndEnterAndEscapeDoNotClose)
{
    ASSERT_TRUE(Start());
    for (int id : { IDOK, IDCANCEL, IDC_START_SERVICE, IDT_START_POLL_BASE })
        ASSERT_TRUE(RemoteSend(d, id == IDT_START_POLL_BASE ? WM_TIMER : WM_COMMAND, id, 0));
    Command(d, IDM_REQUERY_ALL);
    EXPECT_EQ("[not installed]|[not installed]|[not installed]|[not installed]\n|||\n[not "
              "installed]\n\n\n\n[not installed]\n[not installed]\n"
              "[not installed]\n",
              RemoteTexts(d, { IDC_STATUS_LIST, IDC_STARTUP_TYPE_LIST, IDC_DESCRIPTION,
                               IDC_BINARY_PATH, IDC_PROCESS_ID, IDC_IP_AND_PORT, IDC_SUITE_MODULES,
                               IDC_PHP_EXTENSIONS, IDC_APACHE_MODULES }));
    EXPECT_EQ(0, EndProgram(&program_));
    EXPECT_NE(std::string::npos,
              ReadControllerLog().find("\nUser Select 'Start Service' Apache2.2...\n\nTimer Set "
                                       "for Apache2.2 -- Start Pending\n"));
}
