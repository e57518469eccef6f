// The service panel: Status and Startup Type row texts from their tables,
// rows rewritten in place on the program's dialog template, and the detail
// fields of services installed in the prefix's real Service Control Manager.
#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

#include "app/controller.h"
#include "res/resource.h"
#include "services/services.h"
#include "textfit/textfit.h"
#include "support/test_fitting.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

std::string StatusText(int installed, DWORD state, DWORD exitCode, DWORD specific, const char *progress)
{
    char text[STATUS_ROW_TEXT_SIZE + 8];
    memset(text, 'Z', sizeof(text));
    FormatStatusRowText(text, installed, state, exitCode, specific, progress);
    for (size_t i = STATUS_ROW_TEXT_SIZE; i < sizeof(text); i++) {
        EXPECT_EQ('Z', text[i]) << "written past the 20-byte row buffer";
    }
    return text;
}

TEST(StatusRowText, TableOfStates)
{
    const struct { DWORD state; const char *text; } rows[] = {
        { SERVICE_STOPPED, "Stopped" },
        { SERVICE_START_PENDING, "Starting.." },
        { SERVICE_STOP_PENDING, "Stopping.." },
        { SERVICE_RUNNING, "Running" },
        { SERVICE_CONTINUE_PENDING, "Continuing" },
        { SERVICE_PAUSE_PENDING, "Pausing" },
        { SERVICE_PAUSED, "Paused" },
        { 0, "Unknown" },
        { 8, "Unknown" },
        { 0xFFFFFFFF, "Unknown" },
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.text, StatusText(1, row.state, 0, 0, "..")) << "state " << row.state;
    }
}

TEST(StatusRowText, ProgressDotsOnlyOnPendingStatesUpToEleven)
{
    EXPECT_EQ("Starting", StatusText(1, SERVICE_START_PENDING, 0, 0, ""));
    EXPECT_EQ("Stopping....", StatusText(1, SERVICE_STOP_PENDING, 0, 0, "...."));
    EXPECT_EQ("Starting...........", StatusText(1, SERVICE_START_PENDING, 0, 0, "..........."));
    EXPECT_EQ(19u, StatusText(1, SERVICE_STOP_PENDING, 0, 0, "...........").size());
    EXPECT_EQ("Running", StatusText(1, SERVICE_RUNNING, 0, 0, "..."));
    EXPECT_EQ("Stopping", StatusText(1, SERVICE_STOP_PENDING, 0, 0, NULL));
}

TEST(StatusRowText, ServiceSpecificExitCodeReplacesEveryState)
{
    const DWORD states[] = { SERVICE_STOPPED, SERVICE_RUNNING, SERVICE_START_PENDING, 0, 9 };
    for (DWORD state : states) {
        EXPECT_EQ("Error [3]", StatusText(1, state, ERROR_SERVICE_SPECIFIC_ERROR, 3, "...")) << state;
    }
    EXPECT_EQ("Error [-2147483648]", StatusText(1, SERVICE_STOPPED, 1066, 0x80000000, ""));
    EXPECT_EQ("Error [-1]", StatusText(1, SERVICE_STOPPED, 1066, 0xFFFFFFFF, ""));
    // Other exit codes leave the state text.
    EXPECT_EQ("Stopped", StatusText(1, SERVICE_STOPPED, 1067, 3, ""));
    EXPECT_EQ("Running", StatusText(1, SERVICE_RUNNING, 2, 3, ""));
}

TEST(StatusRowText, NotInstalledWhateverTheStatus)
{
    EXPECT_EQ("[not installed]", StatusText(0, SERVICE_RUNNING, 0, 0, ""));
    EXPECT_EQ("[not installed]", StatusText(0, 0, 1066, 3, ""));
}

TEST(StartupTypeRowTextTable, TableOfStartTypes)
{
    const struct { DWORD startType; const char *text; } rows[] = {
        { SERVICE_BOOT_START, "Boot Time" },
        { SERVICE_SYSTEM_START, "System" },
        { SERVICE_AUTO_START, "Automatic" },
        { SERVICE_DEMAND_START, "Demand" },
        { SERVICE_DISABLED, "Disabled" },
        { 5, "Unknown" },
        { 0xFFFFFFFF, "Unknown" },
    };
    for (const auto &row : rows) {
        EXPECT_STREQ(row.text, StartupTypeRowText(1, row.startType)) << "start type " << row.startType;
        EXPECT_STREQ("", StartupTypeRowText(0, row.startType)) << "not installed";
    }
}

// ---------------------------------------------------------------------------
// On the dialog template, with real services.

bool SetStartType(const char *name, DWORD startType)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_CHANGE_CONFIG);
    bool ok = service != NULL &&
              ChangeServiceConfigA(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                   NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok;
}

const char *const ServiceRows[] = { "Apache2.2", "MySQL", "Tomcat5", "IIS W3" };

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveAllManagedServices();
        OpenFreshControllerLog();
        for (int i = 0; i < SERVICE_COUNT; i++) ProgressTextClear(i);
        dialog = CreateBareDialog();
        ASSERT_NE((HWND)NULL, dialog);
        for (int i = 0; i < SERVICE_COUNT; i++) {
            SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_INSERTSTRING, i, (LPARAM)ServiceRows[i]);
        }
        SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, 0, 0);
    }
    void TearDown() override
    {
        if (tableOpen) ServiceTableClose();
        if (dialog) DestroyWindow(dialog);
        ControllerLogClose();
        RemoveAllManagedServices();
        for (int i = 0; i < SERVICE_COUNT; i++) ProgressTextClear(i);
    }
    void OpenTable()
    {
        ASSERT_EQ(1, ServiceTableOpen());
        tableOpen = true;
    }
    void BuildRows()
    {
        for (int i = 0; i < SERVICE_COUNT; i++) {
            EXPECT_EQ(1, RefreshStatusRow(dialog, i));
            EXPECT_EQ(1, RefreshStartupTypeRow(dialog, i));
        }
    }
    void FillFieldsWithJunk()
    {
        SetDlgItemTextA(dialog, IDC_DESCRIPTION, "junk");
        SetDlgItemTextA(dialog, IDC_BINARY_PATH, "junk");
        SetDlgItemTextA(dialog, IDC_PROCESS_ID, "junk");
    }
    HWND dialog = NULL;
    bool tableOpen = false;
};

TEST_F(PanelTest, RowsShowEachServiceAsQueried)
{
    TestServiceSetup apache;
    apache.name = "Apache2.2";
    apache.startType = SERVICE_AUTO_START;
    ASSERT_EQ("", InstallTestService(apache));
    ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 30000));
    // Stopped, having reported a service-specific exit code 3.
    TestServiceSetup mysql;
    mysql.name = "MySQL";
    mysql.runArguments = "--stop-specific 3";
    ASSERT_EQ("", InstallTestService(mysql));
    ASSERT_EQ("", StartTestService("MySQL", SERVICE_RUNNING, 30000));
    ASSERT_EQ("", StopTestService("MySQL", 30000));
    // Running, reporting a service-specific exit code 3.
    TestServiceSetup w3;
    w3.name = "W3svc";
    w3.runArguments = "--running-specific 3";
    ASSERT_EQ("", InstallTestService(w3));
    ASSERT_EQ("", StartTestService("W3svc", SERVICE_RUNNING, 30000));
    ASSERT_TRUE(SetStartType("W3svc", SERVICE_DISABLED));

    OpenTable();
    ASSERT_EQ((DWORD)SERVICE_STOPPED, ServiceTable.entries[1].ssStatus.dwCurrentState);
    ASSERT_EQ((DWORD)SERVICE_RUNNING, ServiceTable.entries[3].ssStatus.dwCurrentState);
    BuildRows();
    EXPECT_EQ((std::vector<std::string>{ "Running", "Error [3]", "[not installed]", "Error [3]" }),
              ListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ((std::vector<std::string>{ "Automatic", "Demand", "", "Disabled" }),
              ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
}

TEST_F(PanelTest, RefreshRewritesOnlyItsRowAndKeepsTheSelection)
{
    TestServiceSetup setup;
    for (const char *name : { "Apache2.2", "Tomcat5" }) {
        setup.name = name;
        ASSERT_EQ("", InstallTestService(setup));
    }
    ASSERT_EQ("", StartTestService("Tomcat5", SERVICE_RUNNING, 30000));
    OpenTable();
    BuildRows();
    std::vector<std::string> status = ListBoxTexts(dialog, IDC_STATUS_LIST);
    std::vector<std::string> startup = ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST);
    EXPECT_EQ((std::vector<std::string>{ "Stopped", "[not installed]", "Running", "[not installed]" }), status);
    EXPECT_EQ((std::vector<std::string>{ "Demand", "", "Demand", "" }), startup);
    SendDlgItemMessageA(dialog, IDC_SERVICES_LIST, LB_SETCURSEL, 1, 0);

    ASSERT_EQ("", StopTestService("Tomcat5", 30000));
    ASSERT_TRUE(SetStartType("Tomcat5", SERVICE_AUTO_START));
    ServiceQueryStatus(2);
    ServiceQueryConfig(2);
    EXPECT_EQ(1, RefreshStatusRow(dialog, 2));
    EXPECT_EQ(1, RefreshStartupTypeRow(dialog, 2));
    status[2] = "Stopped";
    startup[2] = "Automatic";
    EXPECT_EQ(status, ListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ(startup, ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
    EXPECT_EQ(1, ListBoxSelection(dialog, IDC_SERVICES_LIST));
    EXPECT_EQ((std::vector<std::string>(ServiceRows, ServiceRows + 4)), ListBoxTexts(dialog, IDC_SERVICES_LIST));

    // Indexes outside the table change nothing.
    EXPECT_EQ(0, RefreshStatusRow(dialog, -1));
    EXPECT_EQ(0, RefreshStatusRow(dialog, SERVICE_COUNT));
    EXPECT_EQ(0, RefreshStartupTypeRow(dialog, SERVICE_COUNT));
    EXPECT_EQ(0, ShowServiceDetails(dialog, -1));
    EXPECT_EQ(status, ListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ(startup, ListBoxTexts(dialog, IDC_STARTUP_TYPE_LIST));
}

TEST_F(PanelTest, PendingRowsCarryTheProgressDots)
{
    TestServiceSetup slowStop;
    slowStop.name = "MySQL";
    slowStop.runArguments = "--stop-delay 30000";
    ASSERT_EQ("", InstallTestService(slowStop));
    ASSERT_EQ("", StartTestService("MySQL", SERVICE_RUNNING, 30000));
    TestServiceSetup pending;
    pending.name = "Tomcat5";
    pending.runArguments = "--start-forever";
    ASSERT_EQ("", InstallTestService(pending));
    ASSERT_EQ("", StartTestService("Tomcat5", SERVICE_START_PENDING, 30000));
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "MySQL", SERVICE_STOP);
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    OpenTable();
    for (int tries = 0; tries < 50 && ServiceTable.entries[1].ssStatus.dwCurrentState != SERVICE_STOP_PENDING; tries++) {
        Sleep(100);
        ServiceQueryStatus(1);
    }
    ASSERT_EQ((DWORD)SERVICE_STOP_PENDING, ServiceTable.entries[1].ssStatus.dwCurrentState);
    ASSERT_EQ((DWORD)SERVICE_START_PENDING, ServiceTable.entries[2].ssStatus.dwCurrentState);

    BuildRows();
    EXPECT_EQ("Stopping", ListBoxText(dialog, IDC_STATUS_LIST, 1));
    EXPECT_EQ("Starting", ListBoxText(dialog, IDC_STATUS_LIST, 2));
    for (int tick = 0; tick < 4; tick++) ProgressTextGrow(1);
    RefreshStatusRow(dialog, 1);
    EXPECT_EQ("Stopping....", ListBoxText(dialog, IDC_STATUS_LIST, 1));
    for (int tick = 0; tick < 15; tick++) ProgressTextGrow(2);
    RefreshStatusRow(dialog, 2);
    EXPECT_EQ("Starting...........", ListBoxText(dialog, IDC_STATUS_LIST, 2));
    EXPECT_EQ(std::string(PROGRESS_TEXT_MAX, '.'), ProgressText(2));
    EXPECT_EQ("Stopping....", ListBoxText(dialog, IDC_STATUS_LIST, 1)) << "row 1 must stay as it was";
}

TEST_F(PanelTest, DetailsOfAServiceThatIsNotInstalled)
{
    OpenTable();
    FillFieldsWithJunk();
    OpenFreshControllerLog();
    EXPECT_EQ(1, ShowServiceDetails(dialog, 3));
    ControllerLogClose();
    EXPECT_EQ("[not installed]", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("", DialogItemText(dialog, IDC_BINARY_PATH));
    EXPECT_EQ("", DialogItemText(dialog, IDC_PROCESS_ID));
    EXPECT_EQ("", ReadControllerLog()) << "nothing is fitted, nothing logged";
}

TEST_F(PanelTest, DetailsOfRunningAndStoppedServices)
{
    TestServiceSetup apache;
    apache.name = "Apache2.2";
    apache.description = "Test web server";
    apache.hasDescription = true;
    ASSERT_EQ("", InstallTestService(apache));
    ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 30000));
    DWORD pid = 0;
    ASSERT_EQ((DWORD)SERVICE_RUNNING, QueryTestServiceState("Apache2.2", &pid));
    TestServiceSetup mysql;
    mysql.name = "MySQL";
    mysql.binaryPathOverride = "C:\\www\\MySQL\\bin\\mysqld.exe";
    ASSERT_EQ("", InstallTestService(mysql));
    OpenTable();
    FittingMeasure measure = MeasureOn(dialog);
    int pathLimit = FieldPixelLimit(dialog, IDC_BINARY_PATH);

    FillFieldsWithJunk();
    EXPECT_EQ(1, ShowServiceDetails(dialog, 0));
    EXPECT_EQ("Test web server", DialogItemText(dialog, IDC_DESCRIPTION));
    std::string path = "\"" + TestServiceProgram() + "\" run \"Apache2.2\"";
    EXPECT_EQ(ExpectedFittedText(measure, path, pathLimit), DialogItemText(dialog, IDC_BINARY_PATH));
    EXPECT_EQ(std::to_string(pid), DialogItemText(dialog, IDC_PROCESS_ID));

    FillFieldsWithJunk();
    OpenFreshControllerLog();
    EXPECT_EQ(1, ShowServiceDetails(dialog, 1));
    ControllerLogClose();
    EXPECT_EQ("[not provided]", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("C:\\www\\MySQL\\bin\\mysqld.exe", DialogItemText(dialog, IDC_BINARY_PATH));
    EXPECT_EQ("[not running]", DialogItemText(dialog, IDC_PROCESS_ID));
    // Only the path went through the fitting: one trace.
    std::string log = ReadControllerLog();
    EXPECT_EQ(0u, log.find("\nClipping string to fit '")) << log;
    EXPECT_EQ(log.find("\nClipping"), log.rfind("\nClipping")) << log;
    EXPECT_NE(std::string::npos, log.find("\nString: C:\\www\\MySQL\\bin\\mysqld.exe\n")) << log;
}

TEST_F(PanelTest, FailedConfigurationQueryLeavesThePathFieldEmpty)
{
    TestServiceSetup apache;
    apache.name = "Apache2.2";
    apache.description = "Test web server";
    apache.hasDescription = true;
    apache.binaryPathOverride = "C:\\www\\Apache22\\bin\\httpd.exe " + std::string(5000, 'x');
    ASSERT_EQ("", InstallTestService(apache));
    OpenTable();
    ASSERT_EQ(1, ServiceTable.entries[0].bInstalled);
    ASSERT_EQ(nullptr, ServiceTable.entries[0].lpConfiguration->lpBinaryPathName);
    FillFieldsWithJunk();
    EXPECT_EQ(1, ShowServiceDetails(dialog, 0));
    EXPECT_EQ("Test web server", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("", DialogItemText(dialog, IDC_BINARY_PATH));
    EXPECT_EQ("[not running]", DialogItemText(dialog, IDC_PROCESS_ID));
    RefreshStartupTypeRow(dialog, 0);
    EXPECT_EQ("Boot Time", ListBoxText(dialog, IDC_STARTUP_TYPE_LIST, 0))
        << "a zero-filled block reads as start type 0";
}

TEST_F(PanelTest, LongDescriptionAndPathAreClippedToTheFieldWidth)
{
    TestServiceSetup apache;
    apache.name = "Apache2.2";
    apache.description = "Apache/2.2 HTTP Server of the local web-development stack, serving PHP "
                         "and Perl pages and the servlet container's applications to this machine";
    apache.hasDescription = true;
    apache.binaryPathOverride = "\"C:\\Program Files\\Quorvex\\www\\Apache22\\bin\\httpd.exe\" -k runservice "
                                "-f \"C:\\Program Files\\Quorvex\\www\\Apache22\\conf\\httpd.conf\"";
    ASSERT_EQ("", InstallTestService(apache));
    OpenTable();
    FittingMeasure measure = MeasureOn(dialog);
    EXPECT_EQ(1, ShowServiceDetails(dialog, 0));
    struct { int id; std::string whole; } fields[] = {
        { IDC_DESCRIPTION, apache.description },
        { IDC_BINARY_PATH, apache.binaryPathOverride },
    };
    for (const auto &field : fields) {
        int limit = FieldPixelLimit(dialog, field.id);
        ASSERT_GT(measure.Width(field.whole), limit) << "the text should be too wide for the field";
        std::string shown = DialogItemText(dialog, field.id);
        EXPECT_EQ(ExpectedFittedText(measure, field.whole, limit), shown);
        ASSERT_GT(shown.size(), 3u);
        EXPECT_EQ("...", shown.substr(shown.size() - 3)) << shown;
        EXPECT_EQ(0u, field.whole.find(shown.substr(0, shown.size() - 3))) << shown;
        EXPECT_LE(measure.Width(shown), limit) << shown;
    }
}

}  // namespace
