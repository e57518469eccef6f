// The services: the table and its log, the four actions, the row texts, the dialog's buttons, poll
// timers, dots and Requery All, with the test service installed under the managed names.
#include <gtest/gtest.h>

#include "app/controller.h"
#include "log/log.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_services.h"

static const char *const Names[] = { "Apache2.2", "MySQL", "Tomcat5", "W3svc" };
static int AllocationsLeft;

static std::string Status(const char *state, const char *controls, const char *exitCode,
                          const std::string &processId)
{
    return Filled("\nStatus of Service:\n\tService Type: 0x00000010\n\tCurrent State: {STATE}\n"
                  "\tControls Accepted: {CONTROLS}\n\tWin32 Exit Code: {EXIT}\n"
                  "\tService Specific Exit Code: 0\n\tCheck Point: 0\n\tWait Hint: 0\n"
                  "\tProcess Id: {PID}\n\tService Flags: 0000000000\n",
                  { { "STATE", state },
                    { "CONTROLS", controls },
                    { "EXIT", exitCode },
                    { "PID", processId } });
}

static std::string Config(const char *name, const char *startType, const char *options)
{
    return Filled("\nConfiguration of Service:\n\tService Type: 0x00000010\n\tStart Type: {START}\n"
                  "\tError Control: 0x00000001\n\tBinary Path Name: \"{PROGRAM}\" run \"{NAME}\" "
                  "{OPTIONS}\n\tService Start Name: LocalSystem\n\tDisplay Name: {NAME}\n",
                  { { "NAME", name },
                    { "START", startType },
                    { "OPTIONS", options },
                    { "PROGRAM", TestServiceProgram() } });
}

// QVX_REQUERY_ROUNDS, or 100.
static int Rounds()
{
    const char *rounds = getenv("QVX_REQUERY_ROUNDS");
    return rounds ? atoi(rounds) : 100;
}

// The committed private memory of this process.
static SIZE_T PrivateBytes()
{
    MEMORY_BASIC_INFORMATION region = {};
    SIZE_T bytes = 0;
    BYTE *at = NULL;

    while (VirtualQuery(at, &region, sizeof(region))) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            bytes += region.RegionSize;
        at = (BYTE *)region.BaseAddress + region.RegionSize;
    }
    return bytes;
}

static void *LimitedAllocate(size_t size)
{
    if (AllocationsLeft == 0)
        return NULL;
    AllocationsLeft--;
    return malloc(size);
}

static SC_HANDLE WINAPI RefuseManager(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return NULL;
}

// A fresh log; the case's dialog, table and services gone after it.
class Services : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        OpenFreshControllerLog();
    }

    void TearDown() override
    {
        DestroyControllerDialog(dialog);
        ServiceTableClose();
        ControllerLogClose();
        RemoveAllManagedServices();
    }

    void Click(int id, int code = BN_CLICKED)
    {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)GetDlgItem(dialog, id));
    }

    // What the log gained since the last call.
    std::string NewLog()
    {
        ControllerLogFlush();
        std::string gained = ReadControllerLog().substr(seen);
        seen += gained.size();
        return gained;
    }

    HWND dialog = NULL;
    size_t seen = 0;
};

TEST_F(Services, RowTextsShowStateDotsServiceSpecificErrorAndStartType)
{
    struct Case {
        DWORD state;
        DWORD exitCode;
        DWORD specificCode;
        const char *status;
        DWORD startType;
        const char *startup;
    } cases[] = {
        { SERVICE_STOPPED, 0, 0, "Stopped", SERVICE_BOOT_START, "Boot Time" },
        { SERVICE_START_PENDING, 0, 0, "Starting....", SERVICE_SYSTEM_START, "System" },
        { SERVICE_STOP_PENDING, 0, 0, "Stopping....", SERVICE_AUTO_START, "Automatic" },
        { SERVICE_RUNNING, 0, 0, "Running", SERVICE_DEMAND_START, "Demand" },
        { SERVICE_CONTINUE_PENDING, 0, 0, "Continuing", SERVICE_DISABLED, "Disabled" },
        { SERVICE_PAUSE_PENDING, 0, 0, "Pausing", 5, "Unknown" },
        { SERVICE_PAUSED, 1067, 3, "Paused", 0xFFFFFFFF, "Unknown" },
        { 8, 0, 0, "Unknown", SERVICE_AUTO_START, "Automatic" },
        { SERVICE_STOPPED, 1066, 3, "Error [3]", SERVICE_AUTO_START, "Automatic" },
        { SERVICE_START_PENDING, 1066, 0x80000000, "Error [-2147483648]", SERVICE_AUTO_START,
          "Automatic" },
    };

    for (const Case &c : cases) {
        char status[STATUS_ROW_TEXT_SIZE] = "";
        EXPECT_EQ(1, FormatStatusRowText(status, 1, c.state, c.exitCode, c.specificCode, "...."));
        EXPECT_STREQ(c.status, status) << "state " << c.state << ", exit code " << c.exitCode;
        EXPECT_STREQ(c.startup, StartupTypeRowText(1, c.startType)) << "start type " << c.startType;
    }
}

// Wine registers no load order group, tag or dependency: the blocks are prepared.
TEST_F(Services, ConfigurationBlockWritesItsOptionalLinesOnlyWhenTheyHoldSomething)
{
    const std::string fixed = "\nConfiguration of Service:\n\tService Type: 0000000000\n"
                              "\tStart Type: 0000000000\n\tError Control: 0000000000\n"
                              "\tBinary Path Name: C:\\svc.exe\n";
    QUERY_SERVICE_CONFIGA config = {};
    config.lpBinaryPathName = (LPSTR) "C:\\svc.exe";
    config.lpLoadOrderGroup = (LPSTR) "NetworkProvider";
    config.dwTagId = 7;
    config.lpDependencies = (LPSTR) "Tcpip\0Afd\0";
    config.lpServiceStartName = (LPSTR) "";
    config.lpDisplayName = (LPSTR) "Web";

    LogServiceConfiguration(&config);
    EXPECT_EQ(fixed + "\tLoad Order Group: NetworkProvider\n\tTag Id: 7\n\tDependencies: Tcpip\n"
                      "\tService Start Name: \n\tDisplay Name: Web\n",
              NewLog());

    config.lpLoadOrderGroup = (LPSTR) "";
    config.dwTagId = 0;
    config.lpDependencies = (LPSTR) "";
    config.lpServiceStartName = NULL;
    config.lpDisplayName = NULL;
    LogServiceConfiguration(&config);
    EXPECT_EQ(fixed, NewLog());
}

TEST_F(Services, TableLogsEveryQueryAndTheActionsTheirOutcomes)
{
    // Apache2.2's binary path does not fit the 4096-byte configuration block.
    ASSERT_EQ("", InstallTestService("Apache2.2", std::string(5000, 'x'), SERVICE_AUTO_START, ""));
    ASSERT_EQ("", InstallTestService("MySQL", "", SERVICE_DISABLED, "Test database server"));
    ASSERT_EQ("", InstallTestService("W3svc", "--accept-none", SERVICE_DEMAND_START, ""));
    ASSERT_EQ("", StartTestService("W3svc", SERVICE_RUNNING, 30000));
    const std::string never = Status("0x00000001", "0000000000", "1077", "0");
    const std::string running =
        Status("0x00000004", "0000000000", "0", TestServiceProcessId("W3svc"));
    const std::string exist = "\n'Apache2.2' Service name exist.\n\n'MySQL' Service name exist.\n"
                              "\n'Tomcat5' Service name does NOT exist.\n"
                              "\n'W3svc' Service name exist.\n";

    // Without full access to the manager no row is installed.
    ServiceManagerOpen = RefuseManager;
    EXPECT_EQ(0, ServiceTableOpen());
    ServiceManagerOpen = OpenSCManagerA;
    EXPECT_EQ("\nOpenSCManager failed (5).\n", NewLog());
    for (const ServiceEntry &entry : ServiceTable.entries)
        EXPECT_EQ(0, entry.bInstalled) << entry.lpServiceName;

    // A block that cannot be had ends the open; only the rows that have both stay installed. Apache2.2
    // gets its two, then MySQL none or its first.
    for (const char *block : { "lpConfiguration", "lpDescription" }) {
        AllocationsLeft = std::string(block) == "lpConfiguration" ? 2 : 3;
        ServiceBlockAllocate = LimitedAllocate;
        EXPECT_EQ(0, ServiceTableOpen());
        ServiceBlockAllocate = malloc;
        EXPECT_EQ(exist + "\nUnable to allocate 4096 bytes for '" + block + "'.\n", NewLog());
        for (int row = 0; row < SERVICE_COUNT; row++)
            EXPECT_EQ(row == 0 ? 1 : 0, ServiceTable.entries[row].bInstalled) << Names[row];
        ServiceTableClose();
        NewLog();
    }
    EXPECT_EQ(1, ServiceTableOpen());
    NewLog();

    // W3svc deleted while the table holds it: its start type can no longer change.
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE w3svc = OpenServiceA(manager, "W3svc", DELETE);
    EXPECT_TRUE(DeleteService(w3svc));
    CloseServiceHandle(w3svc);
    CloseServiceHandle(manager);

    const std::string disabled = Config("MySQL", "0x00000004", "");
    const std::string automatic = Config("MySQL", "0x00000002", "");
    const std::string tooLong = "\nQueryServiceConfig (Apache2.2) failed (122).\n";
    struct Step {
        int (*call)(int);
        int row;
        int result;
        std::string log;
        const char *output;
    } steps[] = {
        { ServiceQueryStatus, 3, 1, running, "" },
        { ServiceQueryConfig, 0, 0, tooLong, "" },
        { ServiceQueryDescription, 1, 1, "\tDescription: Test database server\n", "" },
        { ServiceStop, 1, 1, never + "\nService (MySQL) is already stopped.\n", "" },
        { ServiceStart, 1, 0, never + "\nStartService (MySQL) failed (1058).\n", "" },
        { ServiceStart, 3, 1, running + "\nService (W3svc) is already started.\n", "" },
        { ServiceStop, 3, 0, running + "\nControlService (W3svc) failed (1052).\n", "" },
        { ServiceEnable, 0, 0, tooLong, "" },
        { ServiceDisable, 1, 1, disabled, "\nService (MySQL) is already disabled.\n" },
        { ServiceEnable, 1, 1, disabled + "\n'MySQL' Service Startup Type changed to 'Enabled'.\n",
          "" },
        { ServiceEnable, 1, 1, automatic, "\nService (MySQL) is already enabled.\n" },
        { ServiceDisable, 1, 1,
          automatic + "\n'MySQL' Service Startup Type changed to 'Disabled'.\n", "" },
        { ServiceDisable, 1, 1, Config("MySQL", "0x00000003", ""),
          "\nService (MySQL) is already disabled.\n" },
        { ServiceEnable, 3, 0,
          Config("W3svc", "0x00000003", "--accept-none") +
              "\nChangeServiceConfig (W3svc) failed (1072).\n",
          "" },
    };
    for (const Step &step : steps) {
        StdoutCapture output;
        output.Begin();
        SetLastError(0xdeadbeef);
        int result = step.call(step.row);
        std::string written = output.End();
        EXPECT_EQ(step.result, result) << "step " << &step - steps;
        EXPECT_EQ(step.log, NewLog()) << "step " << &step - steps;
        EXPECT_EQ(step.output, written) << "step " << &step - steps;
    }

    EXPECT_EQ(1, ServiceTableClose());
    NewLog();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, ServiceTableClose());
    EXPECT_EQ("\nCloseServiceHandle(hSCManager) failed (6).\n", NewLog());
}

TEST_F(Services, ButtonsPollTimersDotsAndRequeryAllFromNothingInstalledToAServiceStartedAndStopped)
{
    const char *options = "--hold-start --hold-stop --listen 127.0.0.1:18080";
    dialog = CreateControllerDialog();
    EXPECT_EQ(Texts(4, "[not installed]"), ListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ(Texts(4, ""), ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
    EXPECT_EQ("[not installed]", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("", DialogItemText(dialog, IDC_BINARY_PATH) + DialogItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ(Texts(1, "[not installed]"), ListBoxTexts(dialog, IDC_SUITE_MODULES));

    // On a row that is not installed the queries and actions do nothing; the buttons log, and
    // Start and Stop arm their timers, which tick harmlessly; other ids are not theirs.
    NewLog();
    EXPECT_EQ(0, ServiceQueryStatus(2));
    EXPECT_EQ(0, ServiceQueryConfig(2));
    EXPECT_EQ(0, ServiceQueryDescription(2));
    EXPECT_EQ(0, ServiceStop(2));
    EXPECT_EQ(0, ServiceStart(2));
    EXPECT_EQ(0, ServiceDisable(2));
    EXPECT_EQ(0, ServiceEnable(2));
    SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, 2, 0);
    for (int id : { IDC_STOP_SERVICE, IDC_START_SERVICE, IDC_DISABLE_STARTUP, IDC_ENABLE_STARTUP })
        Click(id);
    for (UINT id : { 7102, 7202, 7102, 7202, 7099, 7104, 7199, 7204 })
        SendMessageA(dialog, WM_TIMER, id, 0);
    EXPECT_EQ("\nUser Select 'Stop Service' Tomcat5...\n\nTimer Set for Tomcat5 -- Stop Pending\n"
              "\nUser Select 'Start Service' Tomcat5...\n\nTimer Set for Tomcat5 -- Start Pending\n"
              "\nUser Select 'Disable Service' Tomcat5...\n"
              "\nUser Select 'Enable Service' Tomcat5...\n",
              NewLog());

    // Requery All stops every timer, keeps the dots and finds the services installed meanwhile.
    ASSERT_EQ("", InstallTestService("Apache2.2", options, SERVICE_DEMAND_START, "Web server"));
    ASSERT_EQ("", InstallTestService("MySQL", "", SERVICE_DEMAND_START, ""));
    Click(IDM_REQUERY_ALL, 0);
    for (UINT id : { 7100, 7101, 7102, 7103, 7200, 7201, 7202, 7203 })
        EXPECT_FALSE(KillTimer(dialog, id)) << "timer " << id << " still runs after Requery All";
    EXPECT_EQ(Texts({ "", "", "....", "" }),
              Texts({ ProgressText(0), ProgressText(1), ProgressText(2), ProgressText(3) }));
    EXPECT_EQ(Texts({ "Stopped", "Stopped", "[not installed]", "[not installed]" }),
              ListBoxTexts(dialog, IDC_STATUS_LIST));

    // Enable and Disable redraw the Startup Type row at once.
    SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, 0, 0);
    Click(IDC_ENABLE_STARTUP);
    EXPECT_EQ("Automatic", ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST).at(0));
    Click(IDC_DISABLE_STARTUP);
    EXPECT_EQ("Demand", ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST).at(0));
    NewLog();

    Click(IDC_START_SERVICE);
    const std::string processId = TestServiceProcessId("Apache2.2");
    const std::string starting = Status("0x00000002", "0000000000", "0", processId);
    EXPECT_EQ("\nUser Select 'Start Service' Apache2.2...\n" +
                  Status("0x00000001", "0000000000", "1077", "0") +
                  "\n'Apache2.2' Starting Service...\n" + starting +
                  "\n'Apache2.2' Imidiate Service State: '2'\n"
                  "\nTimer Set for Apache2.2 -- Start Pending\n",
              NewLog());
    for (int tick = 1; tick <= 12; tick++) {
        SendMessageA(dialog, WM_TIMER, 7200, 0);
        EXPECT_EQ(starting, NewLog()) << "tick " << tick;
    }
    EXPECT_EQ("Starting...........", ListBoxTexts(dialog, IDC_STATUS_LIST).at(0));

    // With the start never done and no log directory (which the log does not make), Requery All
    // 100 times after ten to warm up leaves the handles and nearly all private memory as they were.
    ControllerLogClose();
    DeleteFileA("C:\\www\\suite-data\\controller.log");
    ASSERT_TRUE(RemoveDirectoryA("C:\\www\\suite-data"));
    ControllerLogOpen();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\www\\suite-data"));
    int handles = 0;
    SIZE_T bytes = 0;
    for (int round = -10; round < Rounds(); round++) {
        if (round == 0) {
            handles = CountHandles(GetCurrentProcess());
            bytes = PrivateBytes();
        }
        Click(IDM_REQUERY_ALL, 0);
        SendMessageA(dialog, WM_TIMER, 7200, 0);
    }
    EXPECT_EQ(handles, CountHandles(GetCurrentProcess())) << "handles before and after the rounds";
    EXPECT_LT(PrivateBytes(), bytes + 256 * 1024) << "a leak of 4 KB a round exceeds this";
    OpenFreshControllerLog();
    seen = 0;

    // Stop and Start while the start is pending: refused with a warning, the timers armed anew.
    const std::string warning =
        "\nWarning:\n'Apache2.2' Service exists, currently, in state that is neither "
        "\"SERVICE_STOPPED\" nor \"SERVICE_RUNNING\".\nMost likely, Service is currently in a "
        "PENDING or PAUSED state.\nWait a few seconds and try again.\nUser should manually {VERB} "
        "this Service.\n";
    Click(IDC_STOP_SERVICE);
    Click(IDC_START_SERVICE);
    EXPECT_EQ("\nUser Select 'Stop Service' Apache2.2...\n" + starting +
                  Filled(warning, { { "VERB", "stop" } }) +
                  "\nTimer Set for Apache2.2 -- Stop Pending\n"
                  "\nUser Select 'Start Service' Apache2.2...\n" +
                  starting + Filled(warning, { { "VERB", "start" } }) +
                  "\nTimer Set for Apache2.2 -- Start Pending\n",
              NewLog());
    EXPECT_EQ("Starting", ListBoxTexts(dialog, IDC_STATUS_LIST).at(0));
    EXPECT_TRUE(KillTimer(dialog, 7100));
    EXPECT_TRUE(KillTimer(dialog, 7200));
    EXPECT_EQ(0, ServiceStop(0));
    EXPECT_EQ(0, ServiceStart(0));

    // Released, it runs: the tick that sees it maps the endpoints and refills the module lists.
    ASSERT_TRUE(ReleaseTestService("Apache2.2", "start"));
    ASSERT_TRUE(WaitForTestServiceState("Apache2.2", SERVICE_RUNNING, 30000));
    NewLog();
    SendMessageA(dialog, WM_TIMER, 7200, 0);
    const std::string running = Status("0x00000004", "0x00000001", "0", processId);
    const std::string config = Config("Apache2.2", "0x00000003", options);
    EXPECT_EQ("", LogMismatch(NewLog(),
                              running + config +
                                  "\tDescription: Web server\n"
                                  "\nMapping Process IDs to IP:PORTs...\n~~~\n",
                              {}));
    EXPECT_EQ("Running", ListBoxTexts(dialog, IDC_STATUS_LIST).at(0));
    EXPECT_FALSE(KillTimer(dialog, 7200));
    EXPECT_EQ(processId, DialogItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("127.0.0.1:18080 [local]", DialogItemText(dialog, IDC_IP_AND_PORT));
    EXPECT_EQ(Texts(), ListBoxTexts(dialog, IDC_SUITE_MODULES)) << "the server loads no module";

    // Stopped while MySQL is selected: the tick that sees it leaves the fields to MySQL.
    Click(IDC_STOP_SERVICE);
    EXPECT_EQ("\nUser Select 'Stop Service' Apache2.2...\n" + running +
                  "\n'Apache2.2' Stopping Service...\n"
                  "\n'Apache2.2' Imidiate Service State: '3'\n"
                  "\nTimer Set for Apache2.2 -- Stop Pending\n",
              NewLog());
    EXPECT_EQ("Stopping", ListBoxTexts(dialog, IDC_STATUS_LIST).at(0));
    SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, 1, 0);
    Click(IDC_SERVICES_LIST, LBN_SELCHANGE);
    ASSERT_TRUE(ReleaseTestService("Apache2.2", "stop"));
    ASSERT_TRUE(WaitForTestServiceState("Apache2.2", SERVICE_STOPPED, 30000));
    NewLog();
    SendMessageA(dialog, WM_TIMER, 7100, 0);
    EXPECT_EQ(Status("0x00000001", "0000000000", "0", "0") + config + "\tDescription: Web server\n",
              NewLog());
    EXPECT_EQ("Stopped", ListBoxTexts(dialog, IDC_STATUS_LIST).at(0));
    EXPECT_FALSE(KillTimer(dialog, 7100));
    EXPECT_EQ("[not provided]", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("[not running]", DialogItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ(Texts(1, "[not running]"), ListBoxTexts(dialog, IDC_SUITE_MODULES));
}
