// The controller dialog's service buttons, Services list and poll timers:
// the real dialog brought up in the test process against services in the
// prefix's Service Control Manager, ticks driven by sending WM_TIMER with the
// timer id, and the real timers checked where they are armed or killed.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <vector>

#include "app/controller.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

std::string ConfigBlock(const std::string &name, DWORD startType, const std::string &arguments = "")
{
    std::string path = "\"" + TestServiceProgram() + "\" run \"" + name + "\"";
    if (!arguments.empty()) path += " " + arguments;
    return "\nConfiguration of Service:\n"
           "\tService Type: 0x00000010\n"
           "\tStart Type: " + HexText(startType) + "\n"
           "\tError Control: 0x00000001\n"
           "\tBinary Path Name: " + path + "\n"
           "\tService Start Name: LocalSystem\n"
           "\tDisplay Name: " + name + "\n";
}

bool WaitForState(const char *name, DWORD state, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 100) {
        if (QueryTestServiceState(name, NULL) == state) return true;
        Sleep(100);
    }
    return false;
}

const UINT AllPollTimers[] = {
    IDT_STOP_POLL_BASE + 0, IDT_STOP_POLL_BASE + 1, IDT_STOP_POLL_BASE + 2, IDT_STOP_POLL_BASE + 3,
    IDT_START_POLL_BASE + 0, IDT_START_POLL_BASE + 1, IDT_START_POLL_BASE + 2, IDT_START_POLL_BASE + 3,
};

class DialogServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveAllManagedServices();
        for (int i = 0; i < SERVICE_COUNT; i++) ProgressTextClear(i);
    }
    void TearDown() override
    {
        if (dialog) DestroyControllerDialog(dialog);
        RemoveAllManagedServices();
        for (int i = 0; i < SERVICE_COUNT; i++) ProgressTextClear(i);
    }
    void Install(const char *name, const std::string &arguments = "", DWORD startType = SERVICE_DEMAND_START,
                 const char *description = nullptr)
    {
        TestServiceSetup setup;
        setup.name = name;
        setup.runArguments = arguments;
        setup.startType = startType;
        if (description) {
            setup.description = description;
            setup.hasDescription = true;
        }
        ASSERT_EQ("", InstallTestService(setup));
    }
    void Bring()
    {
        dialog = CreateControllerDialog();
        ASSERT_NE((HWND)NULL, dialog);
    }
    void Select(int row)
    {
        SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, (WPARAM)row, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SERVICES_LIST, LBN_SELCHANGE),
                     (LPARAM)GetDlgItem(dialog, IDC_SERVICES_LIST));
    }
    void Click(int id)
    {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
    }
    void Tick(UINT id) { SendMessageA(dialog, WM_TIMER, id, 0); }
    // The log written since the last call.
    std::string NewLog()
    {
        ControllerLogFlush();
        std::string log = ReadControllerLog();
        std::string fresh = log.size() >= seen ? log.substr(seen) : log;
        seen = log.size();
        return fresh;
    }
    // Whether the real timer was armed; kills it (tests drive ticks themselves).
    bool Armed(UINT id) { return KillTimer(dialog, id) != 0; }
    std::string Status(int row) { return ListBoxText(dialog, IDC_STATUS_LIST, row); }

    HWND dialog = NULL;
    size_t seen = 0;
};

TEST_F(DialogServicesTest, ButtonsWithoutSelectionDoNothing)
{
    Install("MySQL", "", SERVICE_AUTO_START);
    Bring();
    ASSERT_EQ(0, ListBoxSelection(dialog, IDC_SERVICES_LIST));
    SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, (WPARAM)-1, 0);
    ASSERT_EQ(LB_ERR, ListBoxSelection(dialog, IDC_SERVICES_LIST));
    NewLog();
    std::vector<std::string> status = ListBoxTexts(dialog, IDC_STATUS_LIST);
    std::vector<std::string> startup = ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST);
    std::string description = DialogItemText(dialog, IDC_DESCRIPTION);
    for (int id : { IDC_START_SERVICE, IDC_STOP_SERVICE, IDC_DISABLE_STARTUP, IDC_ENABLE_STARTUP }) Click(id);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SERVICES_LIST, LBN_SELCHANGE),
                 (LPARAM)GetDlgItem(dialog, IDC_SERVICES_LIST));
    EXPECT_EQ("", NewLog());
    for (UINT id : AllPollTimers) EXPECT_FALSE(Armed(id)) << "timer " << id;
    EXPECT_EQ(status, ListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ(startup, ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
    EXPECT_EQ(description, DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, QueryTestServiceStartType("MySQL"));
    EXPECT_EQ((DWORD)SERVICE_STOPPED, QueryTestServiceState("MySQL", NULL));
}

TEST_F(DialogServicesTest, ServiceNotInstalledLogsTheChoiceAndPollsHarmlessly)
{
    Bring();
    Select(2);
    NewLog();
    Click(IDC_STOP_SERVICE);
    EXPECT_EQ("\nUser Select 'Stop Service' Tomcat5...\n"
              "\nTimer Set for Tomcat5 -- Stop Pending\n", NewLog());
    EXPECT_EQ("[not installed]", Status(2));
    Click(IDC_START_SERVICE);
    EXPECT_EQ("\nUser Select 'Start Service' Tomcat5...\n"
              "\nTimer Set for Tomcat5 -- Start Pending\n", NewLog());
    for (int tick = 0; tick < 3; tick++) {
        Tick(IDT_STOP_POLL_BASE + 2);
        Tick(IDT_START_POLL_BASE + 2);
    }
    EXPECT_EQ("", NewLog());
    EXPECT_EQ("[not installed]", Status(2));
    EXPECT_EQ("[not installed]", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_TRUE(Armed(IDT_STOP_POLL_BASE + 2)) << "still polling after its ticks";
    EXPECT_TRUE(Armed(IDT_START_POLL_BASE + 2));
    // Both families grew the one ProgressText.
    EXPECT_EQ(std::string(6, '.'), ProgressText(2));
    Click(IDC_DISABLE_STARTUP);
    Click(IDC_ENABLE_STARTUP);
    EXPECT_EQ("\nUser Select 'Disable Service' Tomcat5...\n"
              "\nUser Select 'Enable Service' Tomcat5...\n", NewLog());
    EXPECT_EQ("", ListBoxText(dialog, IDC_STARTUP_TYPE_LIST, 2));
}

TEST_F(DialogServicesTest, StopShowsDotsPerTickThenStoppedAndNotRunning)
{
    const std::string arguments = "--stop-delay 5000";
    Install("MySQL", arguments, SERVICE_DEMAND_START, "Test database server");
    ASSERT_EQ("", StartTestService("MySQL", SERVICE_RUNNING, 30000));
    DWORD pid = 0;
    QueryTestServiceState("MySQL", &pid);
    Bring();
    Select(1);
    EXPECT_EQ(std::to_string(pid), DialogItemText(dialog, IDC_PROCESS_ID));
    NewLog();

    Click(IDC_STOP_SERVICE);
    const SERVICE_STATUS_PROCESS &s = ServiceTable.entries[1].ssStatus;
    char state[16];
    snprintf(state, sizeof(state), "%x", (unsigned)s.dwCurrentState);
    SERVICE_STATUS_PROCESS running;
    memset(&running, 0, sizeof(running));
    running.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    running.dwCurrentState = SERVICE_RUNNING;
    running.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    running.dwProcessId = pid;
    EXPECT_EQ("\nUser Select 'Stop Service' MySQL...\n" + StatusBlock(running) +
              "\n'MySQL' Stopping Service...\n"
              "\n'MySQL' Imidiate Service State: '" + state + "'\n"
              "\nTimer Set for MySQL -- Stop Pending\n", NewLog());
    EXPECT_EQ(s.dwCurrentState == SERVICE_STOP_PENDING ? "Stopping" : "Running", Status(1));
    EXPECT_TRUE(Armed(IDT_STOP_POLL_BASE + 1));
    EXPECT_FALSE(Armed(IDT_START_POLL_BASE + 1));

    for (int tick = 1; tick <= 4; tick++) {
        Tick(IDT_STOP_POLL_BASE + 1);
        ASSERT_EQ((DWORD)SERVICE_STOP_PENDING, s.dwCurrentState) << "the stop should still be pending";
        // A tick writes the status block and nothing else while pending.
        EXPECT_EQ(StatusBlock(s), NewLog()) << "tick " << tick;
        EXPECT_TRUE(Armed(IDT_STOP_POLL_BASE + 1)) << "re-armed on tick " << tick;
    }
    EXPECT_EQ("Stopping....", Status(1));
    for (int tick = 5; tick <= 14; tick++) Tick(IDT_STOP_POLL_BASE + 1);
    ASSERT_EQ((DWORD)SERVICE_STOP_PENDING, s.dwCurrentState);
    EXPECT_EQ("Stopping...........", Status(1)) << "dots stop at 11";
    EXPECT_EQ(std::to_string(pid), DialogItemText(dialog, IDC_PROCESS_ID)) << "fields wait for the target";

    ASSERT_TRUE(WaitForState("MySQL", SERVICE_STOPPED, 30000));
    NewLog();
    Tick(IDT_STOP_POLL_BASE + 1);
    EXPECT_EQ("Stopped", Status(1));
    EXPECT_EQ("", std::string(ProgressText(1)));
    EXPECT_EQ("[not running]", DialogItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("Test database server", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_FALSE(Armed(IDT_STOP_POLL_BASE + 1)) << "polling ends at the target state";
    std::string tick = NewLog();
    EXPECT_EQ(0u, tick.find(StatusBlock(s) + ConfigBlock("MySQL", SERVICE_DEMAND_START, arguments) +
                            "\tDescription: Test database server\n")) << tick;
    EXPECT_NE(std::string::npos, tick.find("\nString: Test database server\n")) << "details refreshed";
}

TEST_F(DialogServicesTest, StartShowsDotsThenRunningAndASecondPressRestarts)
{
    const std::string arguments = "--start-delay 6000";
    Install("Tomcat5", arguments);
    Bring();
    Select(2);
    EXPECT_EQ("Stopped", Status(2));
    EXPECT_EQ("[not running]", DialogItemText(dialog, IDC_PROCESS_ID));
    NewLog();

    Click(IDC_START_SERVICE);
    EXPECT_EQ("Starting", Status(2));
    EXPECT_TRUE(Armed(IDT_START_POLL_BASE + 2));
    std::string pressed = NewLog();
    EXPECT_EQ(0u, pressed.find("\nUser Select 'Start Service' Tomcat5...\n")) << pressed;
    EXPECT_NE(std::string::npos, pressed.find("\n'Tomcat5' Starting Service...\n"));
    EXPECT_EQ(pressed.size() - strlen("\nTimer Set for Tomcat5 -- Start Pending\n"),
              pressed.rfind("\nTimer Set for Tomcat5 -- Start Pending\n"));

    for (int tick = 1; tick <= 3; tick++) Tick(IDT_START_POLL_BASE + 2);
    ASSERT_EQ((DWORD)SERVICE_START_PENDING, ServiceTable.entries[2].ssStatus.dwCurrentState);
    EXPECT_EQ("Starting...", Status(2));

    // Pressed again while pending: the warning, dots emptied, timer armed anew.
    Click(IDC_START_SERVICE);
    EXPECT_EQ("Starting", Status(2));
    EXPECT_EQ("", std::string(ProgressText(2)));
    EXPECT_TRUE(Armed(IDT_START_POLL_BASE + 2));
    EXPECT_NE(std::string::npos, NewLog().find("User should manually start this Service.\n"
                                               "\nTimer Set for Tomcat5 -- Start Pending\n"));
    for (int tick = 1; tick <= 12; tick++) Tick(IDT_START_POLL_BASE + 2);
    ASSERT_EQ((DWORD)SERVICE_START_PENDING, ServiceTable.entries[2].ssStatus.dwCurrentState);
    EXPECT_EQ("Starting...........", Status(2));

    ASSERT_TRUE(WaitForState("Tomcat5", SERVICE_RUNNING, 30000));
    DWORD pid = 0;
    QueryTestServiceState("Tomcat5", &pid);
    NewLog();
    Tick(IDT_START_POLL_BASE + 2);
    EXPECT_EQ("Running", Status(2));
    EXPECT_EQ("", std::string(ProgressText(2)));
    EXPECT_EQ(std::to_string(pid), DialogItemText(dialog, IDC_PROCESS_ID));
    EXPECT_FALSE(Armed(IDT_START_POLL_BASE + 2));
    std::string tick = NewLog();
    EXPECT_EQ(0u, tick.find(StatusBlock(ServiceTable.entries[2].ssStatus) +
                            ConfigBlock("Tomcat5", SERVICE_DEMAND_START, arguments) +
                            "\tDescription: [not provided]\n")) << tick;
}

TEST_F(DialogServicesTest, MovingTheSelectionWhilePollingLeavesTheFieldsOnTheNewRow)
{
    Install("Apache2.2", "", SERVICE_DEMAND_START, "Test web server");
    Install("MySQL", "--stop-delay 2000", SERVICE_DEMAND_START, "Test database server");
    ASSERT_EQ("", StartTestService("MySQL", SERVICE_RUNNING, 30000));
    Bring();
    Select(1);
    Click(IDC_STOP_SERVICE);
    Select(0);
    EXPECT_EQ("Test web server", DialogItemText(dialog, IDC_DESCRIPTION));
    ASSERT_TRUE(WaitForState("MySQL", SERVICE_STOPPED, 30000));
    Tick(IDT_STOP_POLL_BASE + 1);
    EXPECT_EQ("Stopped", Status(1));
    EXPECT_EQ("Test web server", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("[not running]", DialogItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ(0, ListBoxSelection(dialog, IDC_SERVICES_LIST));
    EXPECT_FALSE(Armed(IDT_STOP_POLL_BASE + 1));
    Select(1);
    EXPECT_EQ("Test database server", DialogItemText(dialog, IDC_DESCRIPTION));
}

TEST_F(DialogServicesTest, DisableAndEnableRedrawOnlyTheStartupTypeRow)
{
    Install("W3svc", "", SERVICE_AUTO_START);
    Install("MySQL", "", SERVICE_AUTO_START);
    Bring();
    Select(3);
    std::vector<std::string> status = ListBoxTexts(dialog, IDC_STATUS_LIST);
    EXPECT_EQ((std::vector<std::string>{ "", "Automatic", "", "Automatic" }),
              ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
    NewLog();
    Click(IDC_DISABLE_STARTUP);
    EXPECT_EQ((DWORD)SERVICE_DEMAND_START, QueryTestServiceStartType("W3svc"));
    EXPECT_EQ("\nUser Select 'Disable Service' W3svc...\n" + ConfigBlock("W3svc", SERVICE_AUTO_START) +
              "\n'W3svc' Service Startup Type changed to 'Disabled'.\n" +
              ConfigBlock("W3svc", SERVICE_DEMAND_START), NewLog());
    EXPECT_EQ((std::vector<std::string>{ "", "Automatic", "", "Demand" }),
              ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
    Click(IDC_ENABLE_STARTUP);
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, QueryTestServiceStartType("W3svc"));
    EXPECT_EQ("\nUser Select 'Enable Service' W3svc...\n" + ConfigBlock("W3svc", SERVICE_DEMAND_START) +
              "\n'W3svc' Service Startup Type changed to 'Enabled'.\n" +
              ConfigBlock("W3svc", SERVICE_AUTO_START), NewLog());
    EXPECT_EQ((std::vector<std::string>{ "", "Automatic", "", "Automatic" }),
              ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
    EXPECT_EQ(status, ListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ(3, ListBoxSelection(dialog, IDC_SERVICES_LIST));
    for (UINT id : AllPollTimers) EXPECT_FALSE(Armed(id)) << "timer " << id;
    EXPECT_EQ("", std::string(ProgressText(3)));
}

TEST_F(DialogServicesTest, OtherTimerIdsAndNotificationsAreIgnored)
{
    Install("MySQL");
    Bring();
    std::vector<std::string> status = ListBoxTexts(dialog, IDC_STATUS_LIST);
    NewLog();
    for (UINT id : { 7099u, 7104u, 7199u, 7204u, 1u }) Tick(id);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_STOP_SERVICE, BN_SETFOCUS), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SERVICES_LIST, LBN_DBLCLK), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ("", NewLog());
    EXPECT_EQ(status, ListBoxTexts(dialog, IDC_STATUS_LIST));
    for (int i = 0; i < SERVICE_COUNT; i++) EXPECT_EQ("", std::string(ProgressText(i)));
    EXPECT_TRUE(IsWindow(dialog));
}

// The real timers: no tick before the period, one after it.
bool TimerMessageWithin(HWND dialog, UINT id, DWORD fromMs, DWORD toMs, DWORD start)
{
    MSG message;
    for (;;) {
        DWORD now = GetTickCount() - start;
        if (PeekMessageA(&message, dialog, WM_TIMER, WM_TIMER, PM_REMOVE) && message.wParam == id) {
            return now >= fromMs;
        }
        if (now > toMs) return false;
        Sleep(20);
    }
}

TEST_F(DialogServicesTest, PollTimersTickAtTheirPeriods)
{
    Bring();
    Select(1);
    DWORD start = GetTickCount();
    Click(IDC_STOP_SERVICE);
    EXPECT_TRUE(TimerMessageWithin(dialog, IDT_STOP_POLL_BASE + 1, 1000, 4000, start));
    KillTimer(dialog, IDT_STOP_POLL_BASE + 1);
    start = GetTickCount();
    Click(IDC_START_SERVICE);
    EXPECT_TRUE(TimerMessageWithin(dialog, IDT_START_POLL_BASE + 1, 2000, 5000, start));
    KillTimer(dialog, IDT_START_POLL_BASE + 1);
}

}  // namespace
