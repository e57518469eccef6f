// The four service actions against the prefix's real Service Control
// Manager: whole log blocks, the notes on standard output, and the state
// and start type the manager holds afterwards.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

#include "app/controller.h"
#include "services/services.h"
#include "support/test_fitting.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

SERVICE_STATUS_PROCESS Settled(DWORD state, DWORD controls, DWORD pid)
{
    SERVICE_STATUS_PROCESS s;
    memset(&s, 0, sizeof(s));
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted = controls;
    s.dwProcessId = pid;
    return s;
}

// A service that never ran reports ERROR_SERVICE_NEVER_STARTED (1077).
std::string StoppedBlock(DWORD exitCode = ERROR_SERVICE_NEVER_STARTED)
{
    SERVICE_STATUS_PROCESS s = Settled(SERVICE_STOPPED, 0, 0);
    s.dwWin32ExitCode = exitCode;
    return StatusBlock(s);
}
std::string RunningBlock(DWORD pid) { return StatusBlock(Settled(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, pid)); }

std::string ConfigBlock(const std::string &name, DWORD startType)
{
    return "\nConfiguration of Service:\n"
           "\tService Type: 0x00000010\n"
           "\tStart Type: " + HexText(startType) + "\n"
           "\tError Control: 0x00000001\n"
           "\tBinary Path Name: \"" + TestServiceProgram() + "\" run \"" + name + "\"\n"
           "\tService Start Name: LocalSystem\n"
           "\tDisplay Name: " + name + "\n";
}

std::string Warning(const std::string &name, const char *verb)
{
    return "\nWarning:\n'" + name + "' Service exists, currently, in state that is neither "
           "\"SERVICE_STOPPED\" nor \"SERVICE_RUNNING\".\nMost likely, Service is currently in a "
           "PENDING or PAUSED state.\nWait a few seconds and try again.\nUser should manually " +
           verb + " this Service.\n";
}

bool WaitForState(const char *name, DWORD state, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 100) {
        if (QueryTestServiceState(name, NULL) == state) return true;
        Sleep(100);
    }
    return false;
}

class ActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveAllManagedServices();
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        if (tableOpen) ServiceTableClose();
        ControllerLogClose();
        if (stubbornPid != 0) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, stubbornPid);
            if (process) {
                TerminateProcess(process, 0);
                WaitForSingleObject(process, 10000);
                CloseHandle(process);
            }
        }
        RemoveAllManagedServices();
    }
    void Install(const char *name, const char *arguments = "", DWORD startType = SERVICE_DEMAND_START)
    {
        TestServiceSetup setup;
        setup.name = name;
        setup.runArguments = arguments;
        setup.startType = startType;
        ASSERT_EQ("", InstallTestService(setup));
    }
    // Opens the table, then starts the log afresh so that only the action's
    // lines are in it.
    void OpenTable()
    {
        ASSERT_EQ(1, ServiceTableOpen());
        tableOpen = true;
        OpenFreshControllerLog();
    }
    std::string Log()
    {
        ControllerLogClose();
        return ReadControllerLog();
    }
    bool tableOpen = false;
    DWORD stubbornPid = 0;
};

TEST_F(ActionsTest, StopOnAStoppedServiceSendsNothing)
{
    Install("MySQL");
    OpenTable();
    StdoutCapture out;
    out.Begin();
    EXPECT_EQ(1, ServiceStop(1));
    EXPECT_EQ("", out.End());
    EXPECT_EQ(StoppedBlock() + "\nService (MySQL) is already stopped.\n", Log());
    EXPECT_EQ((DWORD)SERVICE_STOPPED, QueryTestServiceState("MySQL", NULL));
}

TEST_F(ActionsTest, StartOnARunningServiceSendsNothing)
{
    Install("Tomcat5");
    ASSERT_EQ("", StartTestService("Tomcat5", SERVICE_RUNNING, 30000));
    DWORD pid = 0;
    QueryTestServiceState("Tomcat5", &pid);
    OpenTable();
    EXPECT_EQ(1, ServiceStart(2));
    EXPECT_EQ(RunningBlock(pid) + "\nService (Tomcat5) is already started.\n", Log());
    DWORD pidAfter = 0;
    EXPECT_EQ((DWORD)SERVICE_RUNNING, QueryTestServiceState("Tomcat5", &pidAfter));
    EXPECT_EQ(pid, pidAfter) << "the service was restarted";
}

TEST_F(ActionsTest, StopOfARunningServiceShowsTheStateTheRequestReturned)
{
    Install("Apache2.2", "--stop-delay 3000");
    ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 30000));
    DWORD pid = 0;
    QueryTestServiceState("Apache2.2", &pid);
    OpenTable();
    EXPECT_EQ(1, ServiceStop(0));
    const SERVICE_STATUS_PROCESS &s = ServiceTable.entries[0].ssStatus;
    // The reply of the stop request overwrote the first seven fields only.
    EXPECT_EQ(pid, s.dwProcessId);
    EXPECT_TRUE(s.dwCurrentState == SERVICE_STOP_PENDING || s.dwCurrentState == SERVICE_RUNNING)
        << s.dwCurrentState;
    char state[16];
    snprintf(state, sizeof(state), "%x", (unsigned)s.dwCurrentState);
    // One status block: the fresh query's; none after the request.
    EXPECT_EQ(RunningBlock(pid) +
              "\n'Apache2.2' Stopping Service...\n"
              "\n'Apache2.2' Imidiate Service State: '" + state + "'\n", Log());
    EXPECT_EQ((DWORD)SERVICE_STOP_PENDING, QueryTestServiceState("Apache2.2", NULL));
    EXPECT_TRUE(WaitForState("Apache2.2", SERVICE_STOPPED, 20000));
}

TEST_F(ActionsTest, StartOfAStoppedServiceQueriesItsStatusAgain)
{
    Install("MySQL", "--start-delay 4000");
    OpenTable();
    EXPECT_EQ(1, ServiceStart(1));
    const SERVICE_STATUS_PROCESS s = ServiceTable.entries[1].ssStatus;
    EXPECT_EQ((DWORD)SERVICE_START_PENDING, s.dwCurrentState);
    EXPECT_NE((DWORD)0, s.dwProcessId);
    EXPECT_EQ(StoppedBlock() +
              "\n'MySQL' Starting Service...\n" + StatusBlock(s) +
              "\n'MySQL' Imidiate Service State: '2'\n", Log());
    EXPECT_TRUE(WaitForState("MySQL", SERVICE_RUNNING, 30000));
}

TEST_F(ActionsTest, PendingServiceGetsTheWarningsAndNoRequest)
{
    Install("W3svc", "--start-forever");
    ASSERT_EQ("", StartTestService("W3svc", SERVICE_START_PENDING, 30000));
    OpenTable();
    EXPECT_EQ(0, ServiceStop(3));
    SERVICE_STATUS_PROCESS first = ServiceTable.entries[3].ssStatus;
    EXPECT_EQ((DWORD)SERVICE_START_PENDING, first.dwCurrentState);
    std::string expected = StatusBlock(first) + Warning("W3svc", "stop");
    EXPECT_EQ(expected, Log());

    OpenFreshControllerLog();
    EXPECT_EQ(0, ServiceStart(3));
    SERVICE_STATUS_PROCESS second = ServiceTable.entries[3].ssStatus;
    EXPECT_EQ(StatusBlock(second) + Warning("W3svc", "start"), Log());
    EXPECT_EQ((DWORD)SERVICE_START_PENDING, QueryTestServiceState("W3svc", NULL))
        << "the pending service must not have been asked to stop";
}

TEST_F(ActionsTest, ServiceThatIsNotInstalledIsLeftAloneSilently)
{
    OpenTable();
    StdoutCapture out;
    out.Begin();
    for (int i = 0; i < SERVICE_COUNT; i++) {
        EXPECT_EQ(0, ServiceStop(i));
        EXPECT_EQ(0, ServiceStart(i));
        EXPECT_EQ(0, ServiceDisable(i));
        EXPECT_EQ(0, ServiceEnable(i));
    }
    EXPECT_EQ("", out.End());
    EXPECT_EQ("", Log());
}

TEST_F(ActionsTest, DisableSetsDemandStartAndEnableSetsAutomaticAgain)
{
    Install("Apache2.2", "", SERVICE_AUTO_START);
    OpenTable();
    StdoutCapture out;
    out.Begin();
    EXPECT_EQ(1, ServiceDisable(0));
    EXPECT_EQ("", out.End());
    EXPECT_EQ((DWORD)SERVICE_DEMAND_START, QueryTestServiceStartType("Apache2.2"));
    EXPECT_EQ(ConfigBlock("Apache2.2", SERVICE_AUTO_START) +
              "\n'Apache2.2' Service Startup Type changed to 'Disabled'.\n", Log());

    OpenFreshControllerLog();
    out.Begin();
    EXPECT_EQ(1, ServiceEnable(0));
    EXPECT_EQ("", out.End());
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, QueryTestServiceStartType("Apache2.2"));
    EXPECT_EQ(ConfigBlock("Apache2.2", SERVICE_DEMAND_START) +
              "\n'Apache2.2' Service Startup Type changed to 'Enabled'.\n", Log());
}

TEST_F(ActionsTest, AlreadyDisabledAndAlreadyEnabledGoToStandardOutputOnly)
{
    Install("MySQL", "", SERVICE_DISABLED);
    Install("Tomcat5", "", SERVICE_DEMAND_START);
    Install("W3svc", "", SERVICE_AUTO_START);
    OpenTable();
    const struct {
        int index;
        const char *name;
        int enable;
        DWORD before;
        const char *note;
    } rows[] = {
        { 1, "MySQL", 0, SERVICE_DISABLED, "\nService (MySQL) is already disabled.\n" },
        { 2, "Tomcat5", 0, SERVICE_DEMAND_START, "\nService (Tomcat5) is already disabled.\n" },
        { 3, "W3svc", 1, SERVICE_AUTO_START, "\nService (W3svc) is already enabled.\n" },
    };
    for (const auto &row : rows) {
        OpenFreshControllerLog();
        StdoutCapture out;
        out.Begin();
        int result = row.enable ? ServiceEnable(row.index) : ServiceDisable(row.index);
        EXPECT_EQ(row.note, out.End()) << row.name;
        EXPECT_EQ(1, result) << row.name;
        EXPECT_EQ(ConfigBlock(row.name, row.before), Log()) << row.name;
        EXPECT_EQ(row.before, QueryTestServiceStartType(row.name)) << row.name;
    }

    // Enable on a disabled service sets it to automatic.
    OpenFreshControllerLog();
    EXPECT_EQ(1, ServiceEnable(1));
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, QueryTestServiceStartType("MySQL"));
    EXPECT_EQ(ConfigBlock("MySQL", SERVICE_DISABLED) +
              "\n'MySQL' Service Startup Type changed to 'Enabled'.\n", Log());
}

TEST_F(ActionsTest, RefusedStartIsLoggedWithItsError)
{
    TestServiceSetup setup;
    setup.name = "Apache2.2";
    setup.binaryPathOverride = "C:\\www\\missing\\httpd.exe";
    ASSERT_EQ("", InstallTestService(setup));
    // What the manager answers to this start, asked independently.
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "Apache2.2", SERVICE_START);
    SetLastError(0xdeadbeef);
    ASSERT_FALSE(StartServiceA(service, 0, NULL));
    DWORD error = GetLastError();
    ASSERT_NE((DWORD)0xdeadbeef, error);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_TRUE(WaitForState("Apache2.2", SERVICE_STOPPED, 10000));

    OpenTable();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, ServiceStart(0));
    EXPECT_EQ(StoppedBlock() + "\nStartService (Apache2.2) failed (" + std::to_string(error) + ").\n",
              Log());
}

TEST_F(ActionsTest, RefusedStopIsLoggedWithItsError)
{
    Install("Tomcat5", "--accept-none");
    ASSERT_EQ("", StartTestService("Tomcat5", SERVICE_RUNNING, 30000));
    QueryTestServiceState("Tomcat5", &stubbornPid);
    OpenTable();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, ServiceStop(2));
    EXPECT_EQ(StatusBlock(Settled(SERVICE_RUNNING, 0, stubbornPid)) +
              "\nControlService (Tomcat5) failed (1052).\n", Log());
    EXPECT_EQ((DWORD)SERVICE_RUNNING, QueryTestServiceState("Tomcat5", NULL));
}

TEST_F(ActionsTest, RefusedStartTypeChangeIsLoggedWithItsError)
{
    Install("MySQL", "", SERVICE_AUTO_START);
    OpenTable();
    // Marked for deletion while the table still holds its handle.
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "MySQL", DELETE);
    ASSERT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, ServiceDisable(1));
    std::string log = Log();
    EXPECT_EQ(ConfigBlock("MySQL", SERVICE_AUTO_START) +
              "\nChangeServiceConfig (MySQL) failed (1072).\n", log);
}

}  // namespace
