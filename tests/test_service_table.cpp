// The service table against the prefix's real Service Control Manager, with
// the test service program installed under the managed names.
#include <gtest/gtest.h>

#include <string.h>

#include "app/controller.h"
#include "services/services.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

class ServiceTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveAllManagedServices();
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        ControllerLogClose();
        RemoveAllManagedServices();
    }
};

const char *const NoneInstalledOpen =
    "\n'Apache2.2' Service name does NOT exist.\n"
    "\n'MySQL' Service name does NOT exist.\n"
    "\n'Tomcat5' Service name does NOT exist.\n"
    "\n'W3svc' Service name does NOT exist.\n"
    "\nInitial Service Query Status,Config,Description (Apache2.2) not performed; Service is not Installed.\n"
    "\nInitial Service Query Status,Config,Description (MySQL) not performed; Service is not Installed.\n"
    "\nInitial Service Query Status,Config,Description (Tomcat5) not performed; Service is not Installed.\n"
    "\nInitial Service Query Status,Config,Description (W3svc) not performed; Service is not Installed.\n";

const char *const NoneInstalledClose =
    "\nCloseServiceHandle(hSCManager) successful.\n"
    "\nCloseServiceHandle (Apache2.2) not called; Service is not Installed.\n"
    "\nCloseServiceHandle (MySQL) not called; Service is not Installed.\n"
    "\nCloseServiceHandle (Tomcat5) not called; Service is not Installed.\n"
    "\nCloseServiceHandle (W3svc) not called; Service is not Installed.\n"
    "\nfree 'lpConfiguration' (Apache2.2) performed.\n"
    "\nfree 'lpDescription' (Apache2.2) performed.\n"
    "\nfree 'lpConfiguration' (MySQL) performed.\n"
    "\nfree 'lpDescription' (MySQL) performed.\n"
    "\nfree 'lpConfiguration' (Tomcat5) performed.\n"
    "\nfree 'lpDescription' (Tomcat5) performed.\n"
    "\nfree 'lpConfiguration' (W3svc) performed.\n"
    "\nfree 'lpDescription' (W3svc) performed.\n";

TEST_F(ServiceTableTest, NoServiceInstalledOpensAndClosesWithExactLog)
{
    EXPECT_EQ(1, ServiceTableOpen());
    for (int i = 0; i < SERVICE_COUNT; i++) {
        EXPECT_EQ(0, ServiceTable.entries[i].bInstalled) << "row " << i;
        EXPECT_NE(nullptr, ServiceTable.entries[i].lpConfiguration) << "row " << i;
        EXPECT_NE(nullptr, ServiceTable.entries[i].lpDescription) << "row " << i;
        EXPECT_EQ(0, ServiceQueryStatus(i)) << "query on a row that is not installed";
        EXPECT_EQ(0, ServiceQueryConfig(i));
        EXPECT_EQ(0, ServiceQueryDescription(i));
    }
    EXPECT_EQ(1, ServiceTableClose());
    ControllerLogClose();
    EXPECT_EQ(std::string(NoneInstalledOpen) + NoneInstalledClose, ReadControllerLog());
    for (int i = 0; i < SERVICE_COUNT; i++) {
        EXPECT_EQ(nullptr, ServiceTable.entries[i].lpConfiguration);
        EXPECT_EQ(nullptr, ServiceTable.entries[i].lpDescription);
    }
}

TEST_F(ServiceTableTest, InstalledServiceLogsStatusConfigurationAndDescriptionBlocks)
{
    TestServiceSetup mysql;
    mysql.name = "MySQL";
    mysql.description = "Test database server";
    mysql.hasDescription = true;
    mysql.startType = SERVICE_AUTO_START;
    ASSERT_EQ("", InstallTestService(mysql));
    ASSERT_EQ("", StartTestService("MySQL", SERVICE_RUNNING, 30000));
    DWORD pid = 0;
    ASSERT_EQ((DWORD)SERVICE_RUNNING, QueryTestServiceState("MySQL", &pid));

    EXPECT_EQ(1, ServiceTableOpen());
    EXPECT_EQ(1, ServiceTable.entries[1].bInstalled);
    EXPECT_EQ((DWORD)SERVICE_RUNNING, ServiceTable.entries[1].ssStatus.dwCurrentState);
    EXPECT_EQ(pid, ServiceTable.entries[1].ssStatus.dwProcessId);
    EXPECT_EQ(1, ServiceTableClose());
    ControllerLogClose();

    std::string path = "\"" + TestServiceProgram() + "\" run \"MySQL\"";
    std::string expected =
        "\n'Apache2.2' Service name does NOT exist.\n"
        "\n'MySQL' Service name exist.\n"
        "\n'Tomcat5' Service name does NOT exist.\n"
        "\n'W3svc' Service name does NOT exist.\n"
        "\nInitial Service Query Status,Config,Description (Apache2.2) not performed; Service is not Installed.\n"
        "\nPerforming Initial ServiceQueryStatus (MySQL)...\n"
        "\nStatus of Service:\n"
        "\tService Type: 0x00000010\n"
        "\tCurrent State: 0x00000004\n"
        "\tControls Accepted: 0x00000001\n"
        "\tWin32 Exit Code: 0\n"
        "\tService Specific Exit Code: 0\n"
        "\tCheck Point: 0\n"
        "\tWait Hint: 0\n"
        "\tProcess Id: " + std::to_string(pid) + "\n"
        "\tService Flags: 0000000000\n"
        "\nPerforming Initial ServiceQueryConfig (MySQL)...\n"
        "\nConfiguration of Service:\n"
        "\tService Type: 0x00000010\n"
        "\tStart Type: 0x00000002\n"
        "\tError Control: 0x00000001\n"
        "\tBinary Path Name: " + path + "\n"
        "\tService Start Name: LocalSystem\n"
        "\tDisplay Name: MySQL\n"
        "\nPerforming Initial ServiceQueryDescription (MySQL)...\n"
        "\tDescription: Test database server\n"
        "\nInitial Service Query Status,Config,Description (Tomcat5) not performed; Service is not Installed.\n"
        "\nInitial Service Query Status,Config,Description (W3svc) not performed; Service is not Installed.\n"
        "\nCloseServiceHandle(hSCManager) successful.\n"
        "\nCloseServiceHandle (Apache2.2) not called; Service is not Installed.\n"
        "\nCloseServiceHandle (MySQL) successful.\n"
        "\nCloseServiceHandle (Tomcat5) not called; Service is not Installed.\n"
        "\nCloseServiceHandle (W3svc) not called; Service is not Installed.\n"
        "\nfree 'lpConfiguration' (Apache2.2) performed.\n"
        "\nfree 'lpDescription' (Apache2.2) performed.\n"
        "\nfree 'lpConfiguration' (MySQL) performed.\n"
        "\nfree 'lpDescription' (MySQL) performed.\n"
        "\nfree 'lpConfiguration' (Tomcat5) performed.\n"
        "\nfree 'lpDescription' (Tomcat5) performed.\n"
        "\nfree 'lpConfiguration' (W3svc) performed.\n"
        "\nfree 'lpDescription' (W3svc) performed.\n";
    EXPECT_EQ(expected, ReadControllerLog());
}

TEST_F(ServiceTableTest, ServiceWithoutDescriptionAndStoppedState)
{
    TestServiceSetup tomcat;
    tomcat.name = "Tomcat5";
    ASSERT_EQ("", InstallTestService(tomcat));
    EXPECT_EQ(1, ServiceTableOpen());
    ServiceEntry &row = ServiceTable.entries[2];
    EXPECT_EQ(1, row.bInstalled);
    EXPECT_EQ((DWORD)SERVICE_STOPPED, row.ssStatus.dwCurrentState);
    EXPECT_EQ((DWORD)0, row.ssStatus.dwProcessId);
    EXPECT_EQ((DWORD)SERVICE_DEMAND_START, row.lpConfiguration->dwStartType);
    EXPECT_EQ(nullptr, row.lpDescription->lpDescription);
    EXPECT_EQ(1, ServiceTableClose());
    ControllerLogClose();
    std::string log = ReadControllerLog();
    EXPECT_NE(std::string::npos, log.find("\nPerforming Initial ServiceQueryDescription (Tomcat5)...\n"
                                          "\tDescription: [not provided]\n")) << log;
    EXPECT_NE(std::string::npos, log.find("\tCurrent State: 0x00000001\n")) << log;
}

// Configuration lines: empty group left out, first dependency only, zero tag
// left out, empty start name still printed, null texts left out.
TEST(ServiceConfigurationLog, OptionalLinesFollowTheirConditions)
{
    OpenFreshControllerLog();
    static char group[] = "";
    static char dependencies[] = "Tcpip\0Afd\0";
    static char startName[] = "";
    static char path[] = "C:\\www\\Apache22\\bin\\httpd.exe -k runservice";
    QUERY_SERVICE_CONFIGA config;
    memset(&config, 0, sizeof(config));
    config.dwServiceType = 0x10;
    config.dwStartType = 3;
    config.dwErrorControl = 1;
    config.lpBinaryPathName = path;
    config.lpLoadOrderGroup = group;
    config.dwTagId = 0;
    config.lpDependencies = dependencies;
    config.lpServiceStartName = startName;
    config.lpDisplayName = NULL;
    LogServiceConfiguration(&config);

    static char realGroup[] = "NetworkProvider";
    config.lpLoadOrderGroup = realGroup;
    config.dwTagId = 7;
    config.lpDependencies = NULL;
    config.lpServiceStartName = NULL;
    static char display[] = "Apache2.2";
    config.lpDisplayName = display;
    LogServiceConfiguration(&config);
    ControllerLogClose();

    EXPECT_EQ(
        "\nConfiguration of Service:\n"
        "\tService Type: 0x00000010\n"
        "\tStart Type: 0x00000003\n"
        "\tError Control: 0x00000001\n"
        "\tBinary Path Name: C:\\www\\Apache22\\bin\\httpd.exe -k runservice\n"
        "\tDependencies: Tcpip\n"
        "\tService Start Name: \n"
        "\nConfiguration of Service:\n"
        "\tService Type: 0x00000010\n"
        "\tStart Type: 0x00000003\n"
        "\tError Control: 0x00000001\n"
        "\tBinary Path Name: C:\\www\\Apache22\\bin\\httpd.exe -k runservice\n"
        "\tLoad Order Group: NetworkProvider\n"
        "\tTag Id: 7\n"
        "\tDisplay Name: Apache2.2\n",
        ReadControllerLog());
}

TEST_F(ServiceTableTest, ConfigurationLargerThanTheBlockFailsAndLeavesItZeroFilled)
{
    TestServiceSetup apache;
    apache.name = "Apache2.2";
    apache.binaryPathOverride = "C:\\www\\Apache22\\bin\\httpd.exe " + std::string(5000, 'x');
    ASSERT_EQ("", InstallTestService(apache));
    EXPECT_EQ(1, ServiceTableOpen());
    ServiceEntry &row = ServiceTable.entries[0];
    EXPECT_EQ(1, row.bInstalled);
    EXPECT_EQ(nullptr, row.lpConfiguration->lpBinaryPathName);
    EXPECT_EQ((DWORD)0, row.lpConfiguration->dwStartType);
    EXPECT_EQ(1, ServiceTableClose());
    ControllerLogClose();
    std::string log = ReadControllerLog();
    EXPECT_NE(std::string::npos, log.find("\nPerforming Initial ServiceQueryConfig (Apache2.2)...\n"
                                          "\nQueryServiceConfig (Apache2.2) failed (122).\n")) << log;
}

int AllocationsBeforeFailure;
void *FailingAllocator(size_t size)
{
    if (AllocationsBeforeFailure-- <= 0) return NULL;
    return malloc(size);
}

TEST_F(ServiceTableTest, AllocationFailurePartWayLeavesRowsWithoutBuffersNotInstalled)
{
    TestServiceSetup setup;
    for (const char *name : { "Apache2.2", "MySQL" }) {
        setup.name = name;
        ASSERT_EQ("", InstallTestService(setup));
    }
    // Row 0 gets both blocks, row 1 only its configuration block.
    AllocationsBeforeFailure = 3;
    ServiceBlockAllocate = FailingAllocator;
    EXPECT_EQ(0, ServiceTableOpen());
    ServiceBlockAllocate = malloc;
    EXPECT_EQ(1, ServiceTable.entries[0].bInstalled);
    EXPECT_EQ(0, ServiceTable.entries[1].bInstalled);
    EXPECT_EQ(0, ServiceQueryStatus(1)) << "a row without buffers must not be queried";
    EXPECT_EQ(0, ServiceQueryConfig(1));
    EXPECT_EQ(0, ServiceTable.entries[2].bInstalled);

    // A later close and open recover every row.
    ServiceTableClose();
    EXPECT_EQ(1, ServiceTableOpen());
    EXPECT_EQ(1, ServiceTable.entries[0].bInstalled);
    EXPECT_EQ(1, ServiceTable.entries[1].bInstalled);
    EXPECT_EQ((DWORD)SERVICE_STOPPED, ServiceTable.entries[1].ssStatus.dwCurrentState);
    EXPECT_EQ(1, ServiceTableClose());
    ControllerLogClose();
    std::string log = ReadControllerLog();
    EXPECT_NE(std::string::npos, log.find("\nUnable to allocate 4096 bytes for 'lpDescription'.\n")) << log;
}

TEST_F(ServiceTableTest, LogWritesAreHarmlessWhenTheLogDirectoryIsMissing)
{
    ControllerLogClose();
    DeleteFileA("C:\\www\\suite-data\\controller.log");
    ASSERT_TRUE(RemoveDirectoryA("C:\\www\\suite-data"));
    EXPECT_EQ(0, ControllerLogOpen());
    EXPECT_EQ(nullptr, ControllerLogStream());
    EXPECT_EQ(0, ControllerLogAppend("\nnothing %d\n", 1));
    EXPECT_EQ(0, ControllerLogAppendW(L"\nnothing %d\n", 1));
    ControllerLogFlush();
    EXPECT_EQ(1, ServiceTableOpen());
    EXPECT_EQ(1, ServiceTableClose());
    ControllerLogClose();
    CreateDirectoryA("C:\\www\\suite-data", NULL);
}

}  // namespace
