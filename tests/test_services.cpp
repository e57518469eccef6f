// The service table and actions, row texts, buttons, poll timers and Requery All.
#include <gtest/gtest.h>

#include "app/controller.h"
#include "log/log.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_support.h"

static const UINT PollTimers[] = { 7100, 7101, 7102, 7103, 7200, 7201, 7202, 7203 };
static const std::string StatusBlock = "\nStatus of Service:\n~~~\n"; // whole in test_e2e
static const std::string ConfigBlock = "\nConfiguration of Service:\n~~~\n";

static SIZE_T PrivateBytes()
{
    MEMORY_BASIC_INFORMATION region = {};
    SIZE_T bytes = 0;

    for (BYTE *at = NULL; VirtualQuery(at, &region, sizeof(region)); at += region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            bytes += region.RegionSize;
    }
    return bytes;
}

static SC_HANDLE WINAPI RefuseManager(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return NULL;
}

class Services : public ::testing::Test
{
  protected:
    std::string NewLog()
    {
        ControllerLogFlush();
        std::string gained = ReadControllerLog().substr(seen);
        seen += gained.size();
        return gained;
    }

    size_t seen = 0;
};

TEST_F(Services, RowTextsAndTheConfigurationBlocksOptionalLines)
{
    Texts states;
    Texts types;
    char text[STATUS_ROW_TEXT_SIZE];
    for (DWORD value = 0; value <= 8; value++) {
        FormatStatusRowText(text, 1, value, 0, 0, "....");
        states.push_back(text);
        types.push_back(StartupTypeRowText(1, value));
    }
    EXPECT_EQ(Texts({ "Unknown", "Stopped", "Starting....", "Stopping....", "Running", "Continuing",
                      "Pausing", "Paused", "Unknown" }),
              states);
    EXPECT_EQ(Texts({ "Boot Time", "System", "Automatic", "Demand", "Disabled", "Unknown",
                      "Unknown", "Unknown", "Unknown" }),
              types);
    FormatStatusRowText(text, 1, SERVICE_RUNNING, 1066, 0x80000000, "");
    EXPECT_STREQ("Error [-2147483648]", text);

    // Wine registers no load order group, tag or dependency.
    OpenFreshControllerLog();
    QUERY_SERVICE_CONFIGA config = {};
    config.lpBinaryPathName = (LPSTR) "C:\\svc.exe";
    config.lpLoadOrderGroup = (LPSTR) "NetworkProvider";
    config.dwTagId = 7;
    config.lpDependencies = (LPSTR) "Tcpip\0Afd\0";
    config.lpServiceStartName = (LPSTR) "";
    LogServiceConfiguration(&config);
    EXPECT_EQ(ExpectedText("configuration.log"), NewLog());
}

TEST_F(Services, ButtonsPollTimersRequeryAllTableAndActions)
{
    HWND dialog = CreateControllerDialog();
    const char *apache = "--hold-start --hold-stop --listen 127.0.0.1:18080";
    ASSERT_EQ("", InstallTestService("Apache2.2", apache, SERVICE_AUTO_START, ""));
    ASSERT_EQ("", InstallTestService("MySQL", "", SERVICE_DISABLED, ""));
    ASSERT_EQ("", InstallTestService("Tomcat5", "--accept-none", SERVICE_DEMAND_START, ""));
    ASSERT_EQ("", InstallTestService("W3svc", "--hold-start", SERVICE_DEMAND_START, ""));
    ASSERT_EQ("", StartTestService("Tomcat5", SERVICE_RUNNING, 30000));
    for (UINT id : PollTimers)
        SetTimer(dialog, id, 60000, NULL);
    SendMessageA(dialog, WM_COMMAND, IDM_REQUERY_ALL, 0);
    for (UINT id : PollTimers)
        EXPECT_FALSE(KillTimer(dialog, id)) << "timer " << id << " still runs after Requery All";
    SendMessageA(dialog, WM_COMMAND, IDC_DISABLE_STARTUP, 0);
    EXPECT_EQ("Demand", ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST).at(0));

    // Start never done, no log directory made: 100 Requery All leak nothing, the dots stop at 11.
    SendMessageA(dialog, WM_COMMAND, IDC_START_SERVICE, 0);
    ControllerLogClose();
    DeleteFileA("C:\\www\\suite-data\\controller.log");
    ASSERT_TRUE(RemoveDirectoryA("C:\\www\\suite-data"));
    ControllerLogOpen();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\www\\suite-data"));
    int handles = 0;
    SIZE_T bytes = 0;
    for (int round = -10; round < 100; round++) {
        if (round == 0) {
            handles = CountHandles(GetCurrentProcess());
            bytes = PrivateBytes();
        }
        SendMessageA(dialog, WM_COMMAND, IDM_REQUERY_ALL, 0);
        SendMessageA(dialog, WM_TIMER, 7200, 0);
    }
    EXPECT_EQ(handles, CountHandles(GetCurrentProcess())) << "handles before and after the rounds";
    EXPECT_LT(PrivateBytes(), bytes + 256 * 1024) << "a leak of 4 KB a round exceeds this";
    EXPECT_EQ("Starting...........", ListBoxTexts(dialog, IDC_STATUS_LIST).at(0));

    // Start again empties the dots; released, the tick that sees it running maps the endpoints.
    OpenFreshControllerLog();
    SendMessageA(dialog, WM_COMMAND, IDC_START_SERVICE, 0);
    EXPECT_EQ("Starting", ListBoxTexts(dialog, IDC_STATUS_LIST).at(0));
    ASSERT_TRUE(ReleaseTestService("Apache2.2", "start"));
    ASSERT_TRUE(WaitForTestServiceState("Apache2.2", SERVICE_RUNNING, 30000));
    SendMessageA(dialog, WM_TIMER, 7200, 0);
    EXPECT_EQ("Running", ListBoxTexts(dialog, IDC_STATUS_LIST).at(0));
    EXPECT_FALSE(KillTimer(dialog, 7200));
    EXPECT_EQ("127.0.0.1:18080 [local]", DialogItemText(dialog, IDC_IP_AND_PORT));

    // Without full access to the manager no row is installed; Tomcat5 deleted while held.
    ServiceManagerOpen = RefuseManager;
    ServiceTableOpen();
    ServiceManagerOpen = OpenSCManagerA;
    EXPECT_EQ("", LogMismatch(NewLog(), "~~~\nOpenSCManager failed (5).\n", {}));
    EXPECT_EQ(0, ServiceTable.entries[0].bInstalled);
    ServiceTableOpen();
    NewLog();
    EXPECT_TRUE(DeleteService(ServiceTable.entries[2].hService));
    const std::string pending = "\nWarning:\n'W3svc' Service exists, currently, in state "
                                "that is neither \"SERVICE_STOPPED\" nor \"SERVICE_RUNNING\".\n"
                                "Most likely, Service is currently in a PENDING or PAUSED "
                                "state.\nWait a few seconds and try again.\nUser should manually ";
    const std::string mysql = ConfigBlock + "\tDisplay Name: MySQL\n";
    struct Step {
        int (*call)(int); // or, where null, the button pressed with the row selected
        int row;
        std::string log;
        const char *output;
        UINT button;
    } steps[] = {
        { ServiceStop, 1, StatusBlock + "\nService (MySQL) is already stopped.\n", "" },
        { ServiceStart, 1, StatusBlock + "\nStartService (MySQL) failed (1058).\n", "" },
        { ServiceStart, 0, StatusBlock + "\nService (Apache2.2) is already started.\n", "" },
        { ServiceStop, 2, StatusBlock + "\nControlService (Tomcat5) failed (1052).\n", "" },
        { NULL, 0,
          "\nUser Select 'Stop Service' Apache2.2...\n" + StatusBlock +
              "\n'Apache2.2' Stopping Service...\n\n'Apache2.2' Imidiate Service State: '3'\n~~~\n"
              "Timer Set for Apache2.2 -- Stop Pending\n",
          "", IDC_STOP_SERVICE },
        { ServiceStart, 3,
          StatusBlock + "\n'W3svc' Starting Service...\n" + StatusBlock +
              "\n'W3svc' Imidiate Service State: '2'\n",
          "" },
        { ServiceStop, 3, StatusBlock + pending + "stop this Service.\n", "" },
        { ServiceStart, 3, StatusBlock + pending + "start this Service.\n", "" },
        { ServiceDisable, 1, mysql, "\nService (MySQL) is already disabled.\n" },
        { NULL, 1,
          "\nUser Select 'Enable Service' MySQL...\n" + mysql +
              "\n'MySQL' Service Startup Type changed to 'Enabled'.\n~~~\n",
          "", IDC_ENABLE_STARTUP },
        { ServiceEnable, 1, mysql, "\nService (MySQL) is already enabled.\n" },
        { ServiceEnable, 2, ConfigBlock + "\nChangeServiceConfig (Tomcat5) failed (1072).\n", "" },
    };
    for (const Step &step : steps) {
        StdoutCapture output;
        SetLastError(0xdeadbeef);
        SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, step.row, 0);
        if (step.call != NULL)
            step.call(step.row);
        else
            SendMessageA(dialog, WM_COMMAND, step.button, 0);
        EXPECT_EQ(step.output, output.End()) << "step " << &step - steps;
        EXPECT_EQ("", LogMismatch(NewLog(), step.log, {})) << "step " << &step - steps;
    }
}
