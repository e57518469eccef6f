// The real program: started under Wine with Apache2.2 and MySQL installed
// and the other two services absent, closed through WM_CLOSE; its exit code
// and the service table's lines at the start and the end of its log.
#include <gtest/gtest.h>

#include "support/test_program.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

// A service that never ran reports ERROR_SERVICE_NEVER_STARTED (1077).
std::string StoppedServiceBlocks(const std::string &name, DWORD startType)
{
    std::string path = "\"" + TestServiceProgram() + "\" run \"" + name + "\"";
    char start[16];
    snprintf(start, sizeof(start), "0x%08lx", (unsigned long)startType);
    return "\nPerforming Initial ServiceQueryStatus (" + name + ")...\n"
           "\nStatus of Service:\n"
           "\tService Type: 0x00000010\n"
           "\tCurrent State: 0x00000001\n"
           "\tControls Accepted: 0000000000\n"
           "\tWin32 Exit Code: 1077\n"
           "\tService Specific Exit Code: 0\n"
           "\tCheck Point: 0\n"
           "\tWait Hint: 0\n"
           "\tProcess Id: 0\n"
           "\tService Flags: 0000000000\n"
           "\nPerforming Initial ServiceQueryConfig (" + name + ")...\n"
           "\nConfiguration of Service:\n"
           "\tService Type: 0x00000010\n"
           "\tStart Type: " + start + "\n"
           "\tError Control: 0x00000001\n"
           "\tBinary Path Name: " + path + "\n"
           "\tService Start Name: LocalSystem\n"
           "\tDisplay Name: " + name + "\n"
           "\nPerforming Initial ServiceQueryDescription (" + name + ")...\n"
           "\tDescription: [not provided]\n";
}

const char *const CloseLines =
    "\nCloseServiceHandle(hSCManager) successful.\n"
    "\nCloseServiceHandle (Apache2.2) successful.\n"
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

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveAllManagedServices();
        TestServiceSetup setup;
        setup.name = "Apache2.2";
        setup.startType = SERVICE_AUTO_START;
        ASSERT_EQ("", InstallTestService(setup));
        setup.name = "MySQL";
        setup.startType = SERVICE_DEMAND_START;
        ASSERT_EQ("", InstallTestService(setup));
        CreateDirectoryA("C:\\www", NULL);
        CreateDirectoryA("C:\\www\\suite-data", NULL);
    }
    void TearDown() override { RemoveAllManagedServices(); }
};

TEST_F(ProgramRun, ClosesWithExitCodeZeroAndLogsTheServiceTableOpenAndClose)
{
    ASSERT_TRUE(WriteWholeFile("C:\\www\\suite-data\\controller.log", "an old log\n"));
    RunningProgram program;
    ASSERT_TRUE(StartProgram(&program, "C:\\"));
    EXPECT_EQ(std::vector<std::string>({ "Apache2.2", "MySQL", "Tomcat5", "IIS W3" }),
              RemoteListBoxTexts(program.dialog, 10101));
    EXPECT_EQ(0, RemoteListBoxSelection(program.dialog, 10101));
    EXPECT_EQ(0, CloseProgram(&program));

    std::string log = ReadControllerLog();
    std::string open =
        "\n'Apache2.2' Service name exist.\n"
        "\n'MySQL' Service name exist.\n"
        "\n'Tomcat5' Service name does NOT exist.\n"
        "\n'W3svc' Service name does NOT exist.\n" +
        StoppedServiceBlocks("Apache2.2", SERVICE_AUTO_START) +
        StoppedServiceBlocks("MySQL", SERVICE_DEMAND_START) +
        "\nInitial Service Query Status,Config,Description (Tomcat5) not performed; Service is not Installed.\n"
        "\nInitial Service Query Status,Config,Description (W3svc) not performed; Service is not Installed.\n";
    EXPECT_EQ(open, log.substr(0, open.size())) << "the log begins with the service table's open lines";
    std::string close = CloseLines;
    ASSERT_GE(log.size(), close.size());
    EXPECT_EQ(close, log.substr(log.size() - close.size())) << "the log ends with the close lines";
    EXPECT_EQ(std::string::npos, log.find("an old log")) << "the log of an earlier run is replaced";

    // A second run replaces the first run's log.
    ASSERT_TRUE(StartProgram(&program, "C:\\"));
    EXPECT_EQ(0, CloseProgram(&program));
    std::string second = ReadControllerLog();
    EXPECT_EQ(open, second.substr(0, open.size()));
    EXPECT_EQ(std::string::npos, second.find("\n'Apache2.2' Service name exist.\n", 1))
        << "exactly one open block: the second run did not append to the first log";
}

TEST_F(ProgramRun, RunsNormallyWithoutTheLogDirectory)
{
    DeleteFileA("C:\\www\\suite-data\\controller.log");
    ASSERT_TRUE(RemoveDirectoryA("C:\\www\\suite-data"));
    RunningProgram program;
    ASSERT_TRUE(StartProgram(&program, "C:\\"));
    EXPECT_EQ("Apache2.2", RemoteListBoxTexts(program.dialog, 10101).at(0));
    EXPECT_EQ(0, CloseProgram(&program));
    EXPECT_FALSE(FileExistsA("C:\\www\\suite-data")) << "the program does not create the directory";
    CreateDirectoryA("C:\\www\\suite-data", NULL);
}

TEST_F(ProgramRun, EnterAndEscapeDoNotCloseTheDialog)
{
    RunningProgram program;
    ASSERT_TRUE(StartProgram(&program, "C:\\"));
    ASSERT_TRUE(RemoteSend(program.dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0));
    ASSERT_TRUE(RemoteSend(program.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(program.process.hProcess, 500));
    EXPECT_TRUE(IsWindowVisible(program.dialog));
    EXPECT_EQ(0, CloseProgram(&program));
}

}  // namespace
