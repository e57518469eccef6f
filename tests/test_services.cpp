// The services: the table and its log, the four actions, the panel's rows and fields, the dialog's buttons,
// poll timers, dots and Requery All, with the test service installed under the managed names.
#include <gtest/gtest.h>
#include "app/controller.h"
#include "log/log.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_services.h"
#include "support/test_support.h"
namespace
{
typedef std::vector<std::string> Texts;
const char *const Names[] = { "Apache2.2", "MySQL", "Tomcat5", "W3svc" };
std::string Each(const char *format) // once per service, in table order, its name for each %s
{
    std::string text;
    for (const char *n : Names) {
        char line[512];
        snprintf(line, sizeof(line), format, n, n, n, n, n, n);
        text += line;
    }
    return text;
}
std::string Status(DWORD state, DWORD controls, DWORD pid, DWORD exitCode = 0,
                   DWORD checkPoint = 0) // pending: check point 1
{
    return StatusBlock({ SERVICE_WIN32_OWN_PROCESS, state, controls, exitCode, 0, checkPoint,
                         checkPoint ? 2000u : 0u, pid, 0 });
}
std::string Pending(DWORD state, DWORD pid)
{
    return Status(state, state == SERVICE_START_PENDING, pid, 0, 1);
}
std::string Config(const std::string &name, DWORD startType, const std::string &arguments = "")
{
    return "\nConfiguration of Service:\n\tService Type: 0x00000010\n\tStart Type: " +
           HexText(startType) +
           "\n\tError Control: 0x00000001\n\tBinary "
           "Path Name: \"" +
           TestServiceProgram() + "\" run \"" + name + "\"" + arguments +
           "\n\tService Start Name: LocalSystem\n\tDisplay Name: " + name + "\n";
}
std::string Initial(const std::string &n, const std::string &status, const std::string &config,
                    const std::string &description)
{
    return "\nPerforming Initial ServiceQueryStatus (" + n + ")...\n" + status +
           "\nPerforming Initial ServiceQueryConfig (" + n + ")...\n" + config +
           "\nPerforming Initial ServiceQueryDescription (" + n +
           ")...\n\tDescription: " + description + "\n";
}
std::string CloseLog(const char *closed) // "1101": the rows whose handle is closed
{
    std::string text = "\nCloseServiceHandle(hSCManager) successful.\n";
    for (int i = 0; i < 4; i++)
        text +=
            "\nCloseServiceHandle (" + std::string(Names[i]) +
            (closed[i] == '1' ? ") successful.\n" : ") not called; Service is not Installed.\n");
    return text + Each("\nfree 'lpConfiguration' (%s) performed.\n\nfree 'lpDescription' (%s) "
                       "performed.\n");
}
const std::string NoneOpen = Each("\n'%s' Service name does NOT exist.\n") +
                             Each("\nInitial Service Query Status,Config,Description (%s) not "
                                  "performed; Service is not Installed.\n");
std::string Warning(const char *verb)
{
    return "\nWarning:\n'Apache2.2' Service exists, currently, in state that is neither "
           "\"SERVICE_STOPPED\" nor \"SERVICE_RUNNING\".\nMost likely, "
           "Service is currently in a PENDING or PAUSED state.\nWait a few seconds and try "
           "again.\nUser should manually " +
           std::string(verb) + " this Service.\n";
}
int Allowed; // blocks the table may still allocate
// Fresh log and dots, no managed service; the case's dialog and table closed after it.
class Services : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        RemoveAllManagedServices(), OpenFreshControllerLog();
        for (int i = 0; i < 4; i++)
            ProgressTextClear(i);
    }
    void TearDown() override
    {
        DestroyControllerDialog(dialog), ServiceTableClose(), ControllerLogClose(),
            RemoveAllManagedServices();
    }
    void Install(const char *name, const char *arguments, DWORD startType, const char *description,
                 bool start = false, const char *path = "")
    {
        TestServiceSetup setup;
        setup.name = name, setup.runArguments = arguments, setup.startType = startType,
        setup.binaryPathOverride = path;
        setup.description = description ? description : "",
        setup.hasDescription = description != NULL;
        std::string installed = InstallTestService(setup);
        ASSERT_EQ("", installed + (start && installed.empty()
                                       ? StartTestService(name, SERVICE_RUNNING, 30000)
                                       : ""));
    }
    void Bring(int row)
    {
        ASSERT_TRUE(dialog = CreateControllerDialog());
        Select(row), NewLog();
    }
    void Select(int row)
    {
        SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, row, 0),
            Click(IDC_SERVICES_LIST, LBN_SELCHANGE);
    }
    void Click(int id, int code = BN_CLICKED)
    {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)GetDlgItem(dialog, id));
    }
    void Tick(UINT id)
    {
        SendMessageA(dialog, WM_TIMER, id, 0);
    }
    bool Armed(UINT id)
    {
        return KillTimer(dialog, id) != 0;
    } // and stops it: the test ticks
    std::string Row(int row, int list = IDC_STATUS_LIST)
    {
        return ListBoxText(dialog, list, row);
    }
    std::string NewLog() // written since the last call
    {
        std::string log = (ControllerLogFlush(), ReadControllerLog()),
                    fresh = log.substr(std::min(seen, log.size()));
        return seen = log.size(), fresh;
    }
    HWND dialog = NULL;
    size_t seen = 0; // the log's bytes read so far
};

// The rows and fields of a table row as the queries leave it; row 2's entry stands in.
TEST_F(Services, PanelShowsEveryStateStartTypeAndPlaceholder)
{
    struct Case {
        int installed;
        DWORD state, exitCode, specific;
        int ticks;
        DWORD type, start;
        const char *description, *path, *shown;
    } cases[] = {
        { 1, 1, 0, 0, 2, 0x10, 0, "Web", "C:\\x.exe",
          "Stopped/Boot Time/Web|C:\\x.exe|[not running]" },
        { 1, 2, 0, 0, 15, 0x10, 1, "Web", "p", "Starting.........../System/Web|p|42" },
        { 1, 3, 0, 0, 4, 0x10, 2, "Web", "p", "Stopping..../Automatic/Web|p|42" },
        { 1, 4, 0, 0, 2, 0x10, 3, "Web", "p", "Running/Demand/Web|p|42" },
        { 1, 5, 0, 0, 2, 0x10, 4, NULL, "p", "Continuing/Disabled/[not provided]|p|42" },
        { 1, 6, 0, 0, 2, 0x10, 5, "Web", "p", "Pausing/Unknown/Web|p|42" },
        { 1, 7, 1067, 3, 2, 0x10, 0xFFFFFFFF, "Web", "p", "Paused/Unknown/Web|p|42" },
        { 1, 8, 0, 0, 2, 0x10, 2, "Web", "p", "Unknown/Automatic/Web|p|42" },
        { 1, 1, 1066, 3, 2, 0x10, 2, "Web", "p", "Error [3]/Automatic/Web|p|[not running]" },
        { 1, 2, 1066, 0x80000000, 11, 0x10, 2, "Web", "p",
          "Error [-2147483648]/Automatic/Web|p|42" },
        { 0, 4, 1066, 3, 2, 0x10, 2, "Web", "p", "[not installed]//[not installed]||" },
        { 1, 4, 0, 0, 2, 0, 0, "Web", NULL,
          "Running//Web||42" }, // configuration not known: its query failed
    };
    ASSERT_TRUE(dialog = CreateBareDialog());
    for (int i = 0; i < SERVICE_COUNT; i++)
        RefreshStatusRow(dialog, i), RefreshStartupTypeRow(dialog, i);
    ServiceEntry saved = ServiceTable.entries[2];
    for (const Case &c : cases) {
        QUERY_SERVICE_CONFIGA config = { c.type, c.start, 0, (LPSTR)c.path };
        SERVICE_DESCRIPTIONA description = {
            (LPSTR)c.description
        }; // a stopped service has no process
        ServiceTable.entries[2] = {
            "Tomcat5", c.installed,
            NULL,      { 0x10, c.state, 0, c.exitCode, c.specific, 0, 0, c.state == 1 ? 0u : 42u },
            &config,   &description
        };
        for (int t = (ProgressTextClear(2), 0); t < c.ticks; t++)
            ProgressTextGrow(2);
        EXPECT_EQ(3, RefreshStatusRow(dialog, 2) + RefreshStartupTypeRow(dialog, 2) +
                         ShowServiceDetails(dialog, 2));
        EXPECT_EQ(c.shown, Row(2) + "/" + Row(2, IDC_STARTUP_TYPE_LIST) + "/" +
                               DialogItemText(dialog, IDC_DESCRIPTION) + "|" +
                               DialogItemText(dialog, IDC_BINARY_PATH) + "|" +
                               DialogItemText(dialog, IDC_PROCESS_ID))
            << "state " << c.state << ", start type " << c.start;
        ServiceTable.entries[2] = saved;
    }
    EXPECT_EQ(Texts({ "[not installed]", "[not installed]", "Running", "[not installed]" }),
              ListBoxTexts(dialog, IDC_STATUS_LIST));
}
TEST_F(Services, TableAndActionsLogEveryQueryAndOutcome)
{
    Install("Apache2.2", "", SERVICE_AUTO_START, NULL, false,
            ("C:\\www\\httpd.exe " + std::string(5000, 'x')).c_str());
    Install("MySQL", "", SERVICE_DISABLED, "Test database server");
    Install("W3svc", "--accept-none", SERVICE_DEMAND_START, NULL, true);
    DWORD pid = 0;
    QueryTestServiceState("W3svc", &pid);
    const std::string exist = "\n'Apache2.2' Service name exist.\n\n'MySQL' Service name "
                              "exist.\n\n'Tomcat5' Service name does NOT exist.\n"
                              "\n'W3svc' Service name exist.\n";
    for (const char *block :
         { "lpConfiguration",
           "lpDescription" }) { // row 0 gets both blocks, row 1 not the one named
        Allowed = block[2] == 'C' ? 2 : 3, ServiceBlockAllocate = [](size_t size) {
            return Allowed-- > 0 ? malloc(size) : NULL;
        };
        EXPECT_EQ(0, ServiceTableOpen());
        ServiceBlockAllocate = malloc;
        EXPECT_EQ(exist + "\nUnable to allocate 4096 bytes for '" + block + "'.\n", NewLog());
        EXPECT_EQ(1, ServiceTable.entries[0].bInstalled);
        EXPECT_EQ(0, ServiceTable.entries[1].bInstalled + ServiceTable.entries[3].bInstalled +
                         ServiceQueryStatus(1) + ServiceQueryConfig(1));
        ServiceTableClose(), NewLog();
    }
    EXPECT_EQ(1, ServiceTableOpen()); // every row again
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS),
              w3svc = OpenServiceA(manager, "W3svc", DELETE);
    EXPECT_TRUE(DeleteService(w3svc) && CloseServiceHandle(w3svc) &&
                CloseServiceHandle(manager)); // the table still holds it
    const std::string stopped = Status(1, 0, 0, 1077), running = Status(4, 0, pid),
                      failed = "\nQueryServiceConfig (Apache2.2) failed (122).\n";
    EXPECT_EQ(exist + Initial("Apache2.2", stopped, failed, "[not provided]") +
                  Initial("MySQL", stopped, Config("MySQL", 4), "Test database server") +
                  "\nInitial Service Query Status,Config,Description (Tomcat5) not performed; "
                  "Service is not Installed.\n" +
                  Initial("W3svc", running, Config("W3svc", 3, " --accept-none"), "[not provided]"),
              NewLog());
    struct Step {
        int (*action)(int);
        int row, result;
        std::string log, note;
    } steps[] = {
        { ServiceStop, 1, 1, stopped + "\nService (MySQL) is already stopped.\n" },
        { ServiceStart, 3, 1, running + "\nService (W3svc) is already started.\n" },
        { ServiceStop, 3, 0, running + "\nControlService (W3svc) failed (1052).\n" },
        { ServiceStart, 0, 0, stopped + "\nStartService (Apache2.2) failed (2).\n" },
        { ServiceEnable, 0, 0, failed },
        { ServiceDisable, 1, 1, Config("MySQL", 4), "\nService (MySQL) is already disabled.\n" },
        { ServiceEnable, 1, 1,
          Config("MySQL", 4) + "\n'MySQL' Service Startup Type changed to 'Enabled'.\n" },
        { ServiceEnable, 1, 1, Config("MySQL", 2), "\nService (MySQL) is already enabled.\n" },
        { ServiceDisable, 1, 1,
          Config("MySQL", 2) + "\n'MySQL' Service Startup Type changed to 'Disabled'.\n" },
        { ServiceDisable, 1, 1, Config("MySQL", 3), "\nService (MySQL) is already disabled.\n" },
        { ServiceEnable, 3, 0,
          Config("W3svc", 3, " --accept-none") + "\nChangeServiceConfig (W3svc) failed (1072).\n" },
        { [](int) {
             return ServiceTableClose();
         },
          0, 1, CloseLog("1101") },
        { [](int) {
             return ServiceTableClose();
         },
          0, 0, "\nCloseServiceHandle(hSCManager) failed (6).\n" }, // closed already
    };
    StdoutCapture out;
    for (const Step &s : steps) {
        out.Begin(), SetLastError(0xdeadbeef);
        EXPECT_EQ(s.result, s.action(s.row)) << s.log;
        EXPECT_EQ(s.note + s.log, out.End() + NewLog());
    }
}

TEST_F(Services, NothingInstalledPollsHarmlesslyAndRequeryAllStopsEveryTimerKeepingTheDots)
{
    Bring(0);
    for (int i = 0; i < SERVICE_COUNT; i++)
        EXPECT_EQ(0, ServiceQueryStatus(i) + ServiceQueryConfig(i) + ServiceQueryDescription(i) +
                         ServiceStop(i) + ServiceStart(i) + ServiceDisable(i) + ServiceEnable(i))
            << Names[i];
    for (int i = 0; i < SERVICE_COUNT; i++)
        Select(i), Click(IDC_STOP_SERVICE), Click(IDC_START_SERVICE), Click(IDC_DISABLE_STARTUP),
            Click(IDC_ENABLE_STARTUP);
    EXPECT_EQ(Each("\nUser Select 'Stop Service' %s...\n\nTimer Set for %s -- Stop Pending\n\nUser "
                   "Select 'Start Service' %s...\n\nTimer Set for %s -- "
                   "Start Pending\n\nUser Select 'Disable Service' %s...\n\nUser Select 'Enable "
                   "Service' %s...\n"),
              NewLog());
    for (UINT id : { 7102u, 7202u, 7102u, 7202u, 7099u, 7104u, 7199u, 7204u })
        Tick(id); // nothing to log
    Click(IDM_REQUERY_ALL, 0);
    EXPECT_EQ(0u, NewLog().find(CloseLog("0000") + NoneOpen));
    for (UINT id : { 7100, 7101, 7102, 7103, 7200, 7201, 7202, 7203 })
        EXPECT_FALSE(Armed(id)) << id;
    EXPECT_EQ("....|[not installed]", ProgressText(2) + ("|" + Row(2)));
    DestroyControllerDialog(dialog), dialog = NULL;
    EXPECT_EQ(CloseLog("0000"),
              ReadControllerLog().substr(seen)); // torn down: the table closed, then the log
}

TEST_F(Services, StartAndStopPollADotPerTickUntilTheirStateThenRefresh)
{
    const std::string args = " --hold-start --hold-stop --listen 127.0.0.1:18080";
    Install("Apache2.2", args.c_str() + 1, SERVICE_DEMAND_START, "Test web server");
    Install("MySQL", "", SERVICE_DEMAND_START, "Test database server");
    Bring(0);
    Click(IDC_ENABLE_STARTUP), NewLog();
    EXPECT_EQ("Automatic/Demand", Row(0, IDC_STARTUP_TYPE_LIST) + "/" +
                                      Row(1, IDC_STARTUP_TYPE_LIST)); // queried again, redrawn
    Click(IDC_START_SERVICE);
    DWORD pid = ServiceTable.entries[0].ssStatus.dwProcessId;
    EXPECT_EQ("\nUser Select 'Start Service' Apache2.2...\n" + Status(1, 0, 0, 1077) +
                  "\n'Apache2.2' Starting Service...\n" + Pending(2, pid) +
                  "\n'Apache2.2' Imidiate Service State: '2'\n\nTimer Set for Apache2.2 -- Start "
                  "Pending\n",
              NewLog());
    for (int tick = 1; tick <= 12; tick++) {
        Tick(7200);
        EXPECT_EQ(Pending(2, pid) + "Starting" + std::string(std::min(tick, 11), '.'),
                  NewLog() + Row(0))
            << tick;
    }
    Click(IDM_REQUERY_ALL, 0), NewLog(); // the timer stops, the dots stay
    EXPECT_EQ("Starting...........", Row(0));
    Click(IDC_STOP_SERVICE), Click(IDC_START_SERVICE);
    EXPECT_EQ("\nUser Select 'Stop Service' Apache2.2...\n" + Pending(2, pid) + Warning("stop") +
                  "\nTimer Set for Apache2.2 -- Stop Pending\n"
                  "\nUser Select 'Start Service' Apache2.2...\n" +
                  Pending(2, pid) + Warning("start") +
                  "\nTimer Set for Apache2.2 -- Start Pending\n",
              NewLog());
    EXPECT_EQ("Starting, polling", Row(0) + (Armed(7100) && Armed(7200) ? ", polling" : ""));
    EXPECT_EQ(std::vector<int>({ 0, 0 }),
              std::vector<int>({ ServiceStop(0), ServiceStart(0) })); // the same refusals, returned
    EXPECT_EQ(Pending(2, pid) + Warning("stop") + Pending(2, pid) + Warning("start"), NewLog());
    ASSERT_TRUE(ReleaseTestService("Apache2.2", "start") &&
                WaitForTestServiceState("Apache2.2", SERVICE_RUNNING, 20000));
    Tick(7200);
    EXPECT_EQ("Running|" + std::to_string(pid) + "|127.0.0.1:18080 [local]|",
              Row(0) + "|" + DialogItemText(dialog, IDC_PROCESS_ID) + "|" +
                  DialogItemText(dialog, IDC_IP_AND_PORT) + "|" + ProgressText(0) +
                  (Armed(7200) ? "polling" : ""));
    EXPECT_NE(Texts({ "[not running]" }), ListBoxTexts(dialog, IDC_SUITE_MODULES))
        << "refilled from the running server";
    EXPECT_EQ(
        0u, NewLog().find(Status(4, 1, pid) + Config("Apache2.2", 2, args) +
                          "\tDescription: Test web server\n\nMapping Process IDs to IP:PORTs..."));
    Click(IDC_STOP_SERVICE);
    EXPECT_EQ("\nUser Select 'Stop Service' Apache2.2...\n" + Status(4, 1, pid) +
                  "\n'Apache2.2' Stopping Service...\n"
                  "\n'Apache2.2' Imidiate Service State: '3'\n\nTimer Set for Apache2.2 -- Stop "
                  "Pending\n",
              NewLog());
    for (int tick = 1; tick <= 4; tick++) {
        Tick(7100);
        EXPECT_EQ(Pending(3, pid) + "polling", NewLog() + (Armed(7100) ? "polling" : "")) << tick;
    }
    EXPECT_EQ("Stopping....|" + std::to_string(pid),
              Row(0) + "|" + DialogItemText(dialog, IDC_PROCESS_ID));
    Select(1), NewLog(); // the fields now show row 1, and stay so
    ASSERT_TRUE(ReleaseTestService("Apache2.2", "stop") &&
                WaitForTestServiceState("Apache2.2", SERVICE_STOPPED, 20000));
    Tick(7100);
    EXPECT_EQ(Status(1, 0, 0) + Config("Apache2.2", 2, args) + "\tDescription: Test web server\n",
              NewLog());
    EXPECT_EQ("Stopped||Test database server|[not running]",
              Row(0) + "|" + ProgressText(0) + (Armed(7100) ? "polling" : "") + "|" +
                  DialogItemText(dialog, IDC_DESCRIPTION) + "|" +
                  DialogItemText(dialog, IDC_PROCESS_ID));
    for (int id : { IDC_SUITE_MODULES, IDC_PHP_EXTENSIONS, IDC_APACHE_MODULES })
        EXPECT_EQ(Texts({ "[not running]" }), ListBoxTexts(dialog, id));
}
} // namespace
