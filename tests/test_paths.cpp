// The suite paths and the environment report: the whole log of a run on the
// test prefix, the failure texts of the machine facts, the paths of a
// program on drive D: and elsewhere on C:, the bounds of the members, and
// the three outcomes of an expansion.
#include <gtest/gtest.h>

#include <string.h>

#include "app/controller.h"
#include "paths/paths.h"
#include "support/host_test_support.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

std::string SystemText(UINT (WINAPI *query)(LPSTR, UINT))
{
    char text[MAX_PATH] = { 0 };
    query(text, sizeof(text));
    return text;
}

// The paths block of a run whose www root is `www` (empty when the process
// path could not be read), from the Webroot line to the PHP line.
std::string DerivedPathsBlock(const std::string &www)
{
    return "\nWebroot Path: " + www + "\\vhosts\n"
           "\nApache Root Path: " + www + "\\Apache22"
           "\nApache Logs Path: " + www + "\\Apache22\\logs"
           "\nApache Conf Path: " + www + "\\Apache22\\conf"
           "\nApache Conf Extra Path: " + www + "\\Apache22\\conf\\extra"
           "\nApache Conf Suite Path: " + www + "\\Apache22\\conf\\extra\n"
           "\nMySQL INI Path: " + www + "\\mysql5"
           "\nPHP INI Path: " + www + "\\php5\n";
}

class SuitePathsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PathsCalls = PathsSystemCallsDefault;
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        PathsCalls = PathsSystemCallsDefault;
        ControllerLogClose();
        SetEnvironmentVariableA("JAVA_HOME", NULL);
        SetEnvironmentVariableA("CATALINA_HOME", NULL);
    }
    std::string RunAndReadLog(int expectedResult = 1)
    {
        OpenFreshControllerLog();
        EXPECT_EQ(expectedResult, SuitePathsQuery());
        ControllerLogClose();
        return ReadControllerLog();
    }
};

TEST_F(SuitePathsTest, RunOnThePrefixLogsFactsPathsAndEnvironment)
{
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    SetEnvironmentVariableA("CATALINA_HOME", "C:\\www\\tomcat5");
    std::string log = RunAndReadLog();

    char computer[MAX_PATH] = { 0 }, user[MAX_PATH] = { 0 }, self[MAX_PATH] = { 0 }, path[4096] = { 0 };
    DWORD size = sizeof(computer);
    GetComputerNameA(computer, &size);
    size = sizeof(user);
    GetUserNameA(user, &size);
    GetModuleFileNameA(NULL, self, sizeof(self));
    ExpandEnvironmentStringsA("%PATH%", path, sizeof(path));
    std::string system = SystemText(GetSystemDirectoryA);
    std::string www = std::string(self).substr(0, 3) + "www";
    std::string expected =
        "\nQuerying System Directories and Info...\n"
        "\nComputer name: " + std::string(computer) +
        "\nUser name: " + user + "\n"
        "\nWindows Directory: " + SystemText(GetWindowsDirectoryA) +
        "\nSystem Directory: " + system + "\n"
        "\nHosts File Directory: " + system + "\\drivers\\etc\n"
        "\nProcess Path: " + self +
        "\n'www' Root Path: " + www + "\n" +
        DerivedPathsBlock(www) +
        "\nEnvironment Variables...\n"
        "\n%PATH% -- " + path + "\n"
        "\n%JAVA_HOME% -- %JAVA_HOME%\n"
        "\n%CATALINA_HOME% -- C:\\www\\tomcat5\n";
    EXPECT_EQ(expected, log);

    EXPECT_STREQ(computer, SuitePaths.ComputerName);
    EXPECT_STREQ(user, SuitePaths.UserName);
    EXPECT_EQ(system + "\\drivers\\etc", SuitePaths.HostsFileDirectory);
    EXPECT_EQ(www, SuitePaths.WwwRootPath);
    EXPECT_EQ(www + "\\vhosts", SuitePaths.WebrootPath);
    EXPECT_EQ(www + "\\Apache22", SuitePaths.ApacheRootPath);
    EXPECT_EQ(www + "\\Apache22\\logs", SuitePaths.ApacheLogsPath);
    EXPECT_EQ(www + "\\Apache22\\conf", SuitePaths.ApacheConfPath);
    EXPECT_EQ(www + "\\Apache22\\conf\\extra", SuitePaths.ApacheConfExtraPath);
    EXPECT_STREQ(SuitePaths.ApacheConfExtraPath, SuitePaths.ApacheConfSuitePath);
    EXPECT_EQ(www + "\\mysql5", SuitePaths.MySqlIniPath);
    EXPECT_EQ(www + "\\php5", SuitePaths.PhpIniPath);
    EXPECT_STREQ("%JAVA_HOME%", EnvironmentReport[1].expansion);
    EXPECT_STREQ("%CATALINA_HOME%", EnvironmentReport[2].referenceText);

    // A second run (Requery All) writes the same lines and the same paths.
    SuitePathsRecord first = SuitePaths;
    EXPECT_EQ(expected, RunAndReadLog());
    EXPECT_EQ(0, memcmp(&first, &SuitePaths, sizeof(first)));
}

// Stand-ins that fail as the system would, each with an error of its own.
BOOL WINAPI FailComputerName(LPSTR, LPDWORD) { SetLastError(111); return FALSE; }
BOOL WINAPI FailUserName(LPSTR, LPDWORD) { SetLastError(1332); return FALSE; }
UINT WINAPI FailWindowsDirectory(LPSTR, UINT) { SetLastError(5); return 0; }
UINT WINAPI FailSystemDirectory(LPSTR, UINT) { SetLastError(6); return 0; }
DWORD WINAPI FailModuleFileName(HANDLE, HMODULE, LPSTR, DWORD) { SetLastError(299); return 0; }

TEST_F(SuitePathsTest, FailedFactsAreWrittenWithoutLineFeedsAndPathsAreStillBuilt)
{
    SetEnvironmentVariableA("JAVA_HOME", "C:\\jdk");
    SetEnvironmentVariableA("CATALINA_HOME", "C:\\tomcat");
    PathsCalls.pGetComputerNameA = FailComputerName;
    PathsCalls.pGetUserNameA = FailUserName;
    PathsCalls.pGetWindowsDirectoryA = FailWindowsDirectory;
    PathsCalls.pGetSystemDirectoryA = FailSystemDirectory;
    PathsCalls.pGetModuleFileNameExA = FailModuleFileName;
    std::string log = RunAndReadLog();
    std::string expected =
        "\nQuerying System Directories and Info...\n"
        "GetComputerName() failed (111)"
        "GetUserName() failed (1332)"
        "GetWindowsDirectory() failed (5)"
        "GetSystemDirectory() failed (6)"
        "\nHosts File Directory: \\drivers\\etc\n"
        "GetModuleFileNameEx() for this process failed (299)" +
        DerivedPathsBlock("") +
        "\nEnvironment Variables...\n";
    EXPECT_EQ(expected, log.substr(0, log.find("\n%PATH% -- ")));
    EXPECT_STREQ("", SuitePaths.ComputerName);
    EXPECT_STREQ("", SuitePaths.WwwRootPath);
    EXPECT_STREQ("\\Apache22\\logs", SuitePaths.ApacheLogsPath);
    EXPECT_STREQ("\\drivers\\etc", SuitePaths.HostsFileDirectory);
    EXPECT_NE(std::string::npos, log.find("\n%JAVA_HOME% -- C:\\jdk\n\n%CATALINA_HOME% -- C:\\tomcat\n"));
}

// A system directory of the length given by LongDirectoryLength.
size_t LongDirectoryLength;
UINT WINAPI LongSystemDirectory(LPSTR buffer, UINT size)
{
    std::string text = "C:\\" + std::string(LongDirectoryLength - 3, 's');
    if (text.size() + 1 > size) return (UINT)text.size() + 1;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return (UINT)text.size();
}

TEST_F(SuitePathsTest, HostsFileDirectoryIsCutAtTheMemberSize)
{
    PathsCalls.pGetSystemDirectoryA = LongSystemDirectory;
    // 247 characters and the 12 of \drivers\etc just fit; longer is cut.
    const size_t lengths[] = { 246, 247, 248, 259 };
    for (size_t length : lengths) {
        LongDirectoryLength = length;
        std::string log = RunAndReadLog();
        std::string system = "C:\\" + std::string(length - 3, 's');
        std::string hosts = (system + "\\drivers\\etc").substr(0, SUITE_PATH_SIZE - 1);
        EXPECT_EQ(hosts, SuitePaths.HostsFileDirectory) << "system directory of " << length;
        EXPECT_EQ(std::min<size_t>(length + 12, 259), strlen(SuitePaths.HostsFileDirectory));
        EXPECT_NE(std::string::npos, log.find("\nHosts File Directory: " + hosts + "\n")) << length;
        // The member after it was written on its own, not by an overflow.
        EXPECT_EQ(std::string::npos, std::string(SuitePaths.WwwRootPath).find('s')) << length;
    }
}

// Process paths the prefix cannot give: a network path and one that fills
// the whole buffer without a terminating zero.
const char *StandInProcessPath;
DWORD WINAPI StandInModuleFileName(HANDLE, HMODULE, LPSTR buffer, DWORD size)
{
    if (StandInProcessPath) {
        strncpy(buffer, StandInProcessPath, size);
        return (DWORD)strlen(StandInProcessPath);
    }
    memset(buffer, 'a', size);
    return size;
}

TEST_F(SuitePathsTest, NetworkPathAndUnterminatedProcessPath)
{
    PathsCalls.pGetModuleFileNameExA = StandInModuleFileName;
    StandInProcessPath = "\\\\host\\share\\ctl.exe";
    std::string log = RunAndReadLog();
    EXPECT_STREQ("\\\\hwww", SuitePaths.WwwRootPath);
    EXPECT_STREQ("\\\\hwww\\Apache22\\logs", SuitePaths.ApacheLogsPath);
    EXPECT_NE(std::string::npos,
              log.find("\nProcess Path: \\\\host\\share\\ctl.exe\n'www' Root Path: \\\\hwww\n" +
                       DerivedPathsBlock("\\\\hwww")));

    StandInProcessPath = NULL;
    log = RunAndReadLog();
    EXPECT_NE(std::string::npos, log.find("\nProcess Path: " + std::string(SUITE_PATH_SIZE - 1, 'a') +
                                          "\n'www' Root Path: aaawww\n"));
}

TEST_F(SuitePathsTest, UndefinedVariableShowsItsReferenceTwice)
{
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    SetEnvironmentVariableA("CATALINA_HOME", NULL);
    std::string log = RunAndReadLog();
    EXPECT_NE(std::string::npos, log.find("\n%JAVA_HOME% -- %JAVA_HOME%\n"
                                          "\n%CATALINA_HOME% -- %CATALINA_HOME%\n"))
        << log;
}

TEST_F(SuitePathsTest, ExpansionsAtTheBufferSizeAndBeyond)
{
    // An expansion of 2047 characters needs the whole 2048 bytes; one more
    // character is too long, and the next entry is still reported.
    struct Case {
        size_t length;
        bool fits;
    };
    const Case cases[] = { { 2046, true }, { 2047, true }, { 2048, false }, { 5000, false } };
    for (const Case &c : cases) {
        std::string value(c.length, 'j');
        SetEnvironmentVariableA("JAVA_HOME", value.c_str());
        SetEnvironmentVariableA("CATALINA_HOME", "C:\\tomcat");
        std::string log = RunAndReadLog();
        std::string tail = log.substr(log.find("\n%PATH% -- "));
        tail = tail.substr(tail.find("\n", 1) + 1);
        if (c.fits) {
            EXPECT_EQ("\n%JAVA_HOME% -- " + value + "\n\n%CATALINA_HOME% -- C:\\tomcat\n", tail) << c.length;
        } else {
            EXPECT_EQ("\n\t(Buffer too small to expand: \"%JAVA_HOME%\")\n%CATALINA_HOME% -- C:\\tomcat\n", tail)
                << c.length;
        }
    }
}

DWORD WINAPI FailSecondExpansion(LPCSTR source, LPSTR destination, DWORD size)
{
    if (strcmp(source, "%JAVA_HOME%") == 0) {
        SetLastError(1234);
        return 0;
    }
    return ExpandEnvironmentStringsA(source, destination, size);
}

TEST_F(SuitePathsTest, FailedExpansionEndsTheReport)
{
    PathsCalls.pExpandEnvironmentStringsA = FailSecondExpansion;
    SetEnvironmentVariableA("CATALINA_HOME", "C:\\tomcat");
    std::string log = RunAndReadLog(0);
    std::string tail = log.substr(log.find("\n%PATH% -- "));
    tail = tail.substr(tail.find("\n", 1) + 1);
    EXPECT_EQ("\nExpandEnvironmentStrings(%JAVA_HOME%) failed (1234).\n", tail);
}

// The probe program, placed somewhere, reports the paths it derives from
// its own location.
std::vector<std::string> ProbeFrom(const std::string &exePath, const std::string &directory)
{
    const std::string report = "C:\\www\\probe-paths.txt";
    DeleteFileA(report.c_str());
    if (!CopyFileA((TestBinDirectory() + "qvx_hostinfo_probe.exe").c_str(), exePath.c_str(), FALSE)) {
        ADD_FAILURE() << "copy to " << exePath << " failed (" << GetLastError() << ")";
        return {};
    }
    EXPECT_EQ(0, RunProgramToEnd("\"" + exePath + "\" " + report, directory));
    return ReadTextLines(report);
}

TEST(SuitePathsOfAProgram, OnDriveDUsesDWww)
{
    ASSERT_TRUE(EnsureDriveD());
    CreateDirectoryA("D:\\tools", NULL);
    std::vector<std::string> lines = ProbeFrom("D:\\tools\\ctl.exe", "C:\\");
    const std::vector<std::string> expected = {
        "D:\\www", "D:\\www\\vhosts", "D:\\www\\Apache22\\logs", "D:\\www\\Apache22\\conf\\extra",
        "D:\\www\\Apache22\\conf\\extra", "D:\\www\\mysql5", "D:\\www\\php5",
    };
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ(expected, std::vector<std::string>(lines.begin() + 1, lines.end()));
}

TEST(SuitePathsOfAProgram, AnywhereOnDriveCUsesCWwwWhateverTheCurrentDirectory)
{
    ASSERT_TRUE(EnsureDriveD());
    CreateDirectoryA("C:\\deep", NULL);
    CreateDirectoryA("C:\\deep\\er", NULL);
    std::vector<std::string> lines = ProbeFrom("C:\\deep\\er\\ctl.exe", "D:\\");
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("C:\\www", lines[1]);
    EXPECT_EQ("C:\\www\\Apache22\\logs", lines[3]);
}

}  // namespace
