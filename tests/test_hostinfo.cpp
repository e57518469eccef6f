// Host information: the registry value reader, the Windows version table,
// .NET and JDK detection with real version resources, the suite paths and
// environment report, and the System Information panel.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include "app/controller.h"
#include "hostinfo/hostinfo.h"
#include "network/network.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

const char *const TestKey = "SOFTWARE\\QuorvexTest";
const char *const JdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit";
const char *const DotNetKey = "SOFTWARE\\Microsoft\\.NETFramework";

void SetValue(const char *key, const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                             &handle, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(handle, name, 0, type, (const BYTE *)data, size));
    RegCloseKey(handle);
}

void SetString(const char *key, const char *name, const std::string &text)
{
    SetValue(key, name, REG_SZ, text.c_str(), (DWORD)text.size() + 1);
}

void DeleteKey(const char *key)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
}

std::string LogOf(void (*action)())
{
    OpenFreshControllerLog();
    action();
    ControllerLogClose();
    return ReadControllerLog();
}

// Runs a call with the process's standard output sent to a file; returns
// what was written there.
template <typename F> std::string StandardOutputOf(F call)
{
    fflush(stdout);
    const char *path = "C:\\www\\stdout.txt";
    FILE *saved = fdopen(dup(fileno(stdout)), "w");
    freopen(path, "w", stdout);
    call();
    fflush(stdout);
    dup2(fileno(saved), fileno(stdout));
    fclose(saved);
    FILE *in = fopen(path, "rt");
    std::string text;
    char buffer[512];
    size_t n;
    while (in && (n = fread(buffer, 1, sizeof(buffer), in)) > 0) text.append(buffer, n);
    if (in) fclose(in);
    return text;
}

// ---------------------------------------------------------------- registry

class RegistryReader : public ::testing::Test {
protected:
    void SetUp() override { OpenFreshControllerLog(); }
    void TearDown() override
    {
        ControllerLogClose();
        DeleteKey(TestKey);
    }
    std::string Log()
    {
        ControllerLogClose();
        return ReadControllerLog();
    }
};

TEST_F(RegistryReader, JdkStringValueIsDescribedAndCopied)
{
    SetString(JdkKey, "CurrentVersion", "1.6");
    char text[260];
    memset(text, 'x', sizeof(text));
    DWORD size = 0, type = 0;
    EXPECT_EQ(1, ReadRegistryString(JdkKey, "CurrentVersion", text, sizeof(text), &size, &type));
    EXPECT_STREQ("1.6", text);
    EXPECT_EQ((DWORD)4, size);
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ("\nOpening value 'CurrentVersion' under key 'SOFTWARE\\JavaSoft\\Java Development Kit' via Registry...\n"
              "\nValue Name: CurrentVersion\n"
              "\nValue Type: [1] REG_SZ -- null-terminated string.\n"
              "\nValue Size: 4 [BYTES] (with terminating NULL(s) if type is REG_SZ, REG_EXPAND_SZ, or REG_MULTI_SZ).\n"
              "\nValue Data: 1.6\n",
              Log());
}

TEST_F(RegistryReader, NonStringTypesAreDescribedAndRefused)
{
    DWORD number = 42;
    SetValue(TestKey, "Number", REG_DWORD, &number, sizeof(number));
    SetValue(TestKey, "List", REG_MULTI_SZ, "a\0b\0", 5);
    char text[16] = "untouched";
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Number", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "List", text, sizeof(text), NULL, NULL));
    EXPECT_STREQ("untouched", text);
    EXPECT_EQ("\nOpening value 'Number' under key 'SOFTWARE\\QuorvexTest' via Registry...\n"
              "\nValue Name: Number\n"
              "\nValue Type: [4] Other\t -- unknown format.\n"
              "\nValue Size: 4 [BYTES] (with terminating NULL(s) if type is REG_SZ, REG_EXPAND_SZ, or REG_MULTI_SZ).\n"
              "\nWarning:\n'Number' Value Type (4) is unsuported.\n"
              "\nOpening value 'List' under key 'SOFTWARE\\QuorvexTest' via Registry...\n"
              "\nValue Name: List\n"
              "\nValue Type: [7] REG_MULTI_SZ -- sequence of null-terminated strings, terminated by an empty string (\\0).\n"
              "\nValue Size: 5 [BYTES] (with terminating NULL(s) if type is REG_SZ, REG_EXPAND_SZ, or REG_MULTI_SZ).\n"
              "\nWarning:\n'List' Value Type (7) is unsuported.\n",
              Log());
}

TEST_F(RegistryReader, MissingKeyLogsTwoLinesAndMissingValueThree)
{
    char text[16] = "untouched";
    EXPECT_EQ(0, ReadRegistryString("SOFTWARE\\NoSuchVendor\\NoSuchKey", "Value", text, sizeof(text), NULL, NULL));
    SetString(TestKey, "Other", "x");
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Missing", text, sizeof(text), NULL, NULL));
    EXPECT_STREQ("untouched", text);
    EXPECT_EQ("\nOpening value 'Value' under key 'SOFTWARE\\NoSuchVendor\\NoSuchKey' via Registry...\n"
              "\nRegOpenKeyEx() returns: 2.\n"
              "\nOpening value 'Missing' under key 'SOFTWARE\\QuorvexTest' via Registry...\n"
              "\nRegQueryValueEx (Type and Size query only) returns: 2.\n",
              Log());
}

TEST_F(RegistryReader, EdgeSizesEmptyUnterminatedExpandAndTooLong)
{
    char text[8];
    SetValue(TestKey, "Empty", REG_SZ, "", 0);
    memset(text, 'x', sizeof(text));
    DWORD size = 99;
    EXPECT_EQ(1, ReadRegistryString(TestKey, "Empty", text, sizeof(text), &size, NULL));
    EXPECT_STREQ("", text);
    EXPECT_EQ((DWORD)0, size);

    SetValue(TestKey, "Raw", REG_SZ, "abcdef", 3);  // no terminator stored
    EXPECT_EQ(1, ReadRegistryString(TestKey, "Raw", text, sizeof(text), NULL, NULL));
    EXPECT_STREQ("abc", text);

    SetValue(TestKey, "Expand", REG_EXPAND_SZ, "%TEMP%", 7);
    DWORD type = 0;
    EXPECT_EQ(1, ReadRegistryString(TestKey, "Expand", text, sizeof(text), NULL, &type));
    EXPECT_STREQ("%TEMP%", text) << "returned unexpanded";
    EXPECT_EQ((DWORD)REG_EXPAND_SZ, type);

    // Capacity 8: seven characters and the terminator, never more.
    char guarded[16];
    memset(guarded, '#', sizeof(guarded));
    SetString(TestKey, "Long", "0123456789ABCDEF");
    EXPECT_EQ(1, ReadRegistryString(TestKey, "Long", guarded, 8, NULL, NULL));
    EXPECT_STREQ("0123456", guarded);
    for (int i = 8; i < 16; i++) EXPECT_EQ('#', guarded[i]) << "byte " << i << " written past the capacity";
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("\nValue Size: 0 [BYTES]")) << log;
    EXPECT_NE(std::string::npos, log.find("\nValue Data: \n")) << log;
}

TEST(RegistryReaderOutput, NothingGoesToStandardOutputOnSuccess)
{
    SetString(TestKey, "Quiet", "q");
    char text[8];
    std::string out = StandardOutputOf([&] { ReadRegistryString(TestKey, "Quiet", text, sizeof(text), NULL, NULL); });
    EXPECT_EQ("", out);
    DeleteKey(TestKey);
}

// ---------------------------------------------------------- Windows version

OSVERSIONINFOEXA Version(DWORD platform, DWORD major, DWORD minor, const char *csd, BYTE productType = 0)
{
    OSVERSIONINFOEXA v;
    memset(&v, 0, sizeof(v));
    v.dwOSVersionInfoSize = sizeof(v);
    v.dwPlatformId = platform;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    strcpy(v.szCSDVersion, csd);
    v.wProductType = productType;
    return v;
}

struct VersionRow {
    OSVERSIONINFOEXA version;
    WORD architecture;
    int serverR2;
    const char *expected;
};

TEST(WindowsVersionTable, EveryRowOfTheDecisionTable)
{
    const WORD x86 = PROCESSOR_ARCHITECTURE_INTEL, amd64 = PROCESSOR_ARCHITECTURE_AMD64;
    const VersionRow rows[] = {
        { Version(0, 3, 10, ""), x86, 0, "Microsoft Win32s " },
        { Version(1, 4, 0, " C"), x86, 0, "Microsoft Windows 95 OSR2  C" },
        { Version(1, 4, 0, " B"), x86, 0, "Microsoft Windows 95 OSR2  B" },
        { Version(1, 4, 0, " A"), x86, 0, "Microsoft Windows 95  A" },
        { Version(1, 4, 10, " A"), x86, 0, "Microsoft Windows 98 SE  A" },
        { Version(1, 4, 10, ""), x86, 0, "Microsoft Windows 98 " },
        { Version(1, 4, 90, " "), x86, 0, "Microsoft Windows Millennium Edition  " },
        { Version(1, 5, 0, ""), x86, 0, "[Unknown] " },
        { Version(1, 4, 20, ""), x86, 0, "[Unknown] " },
        { Version(2, 6, 0, "", VER_NT_WORKSTATION), x86, 0, "Microsoft Windows Vista " },
        { Version(2, 6, 0, "Service Pack 1", VER_NT_SERVER), x86, 0, "Windows Server \"Longhorn\" Service Pack 1" },
        { Version(2, 6, 0, "", 0), x86, 0, "Windows Server \"Longhorn\" " },
        { Version(2, 5, 2, "", VER_NT_WORKSTATION), amd64, 1, "Microsoft Windows Server 2003 \"R2\" " },
        { Version(2, 5, 2, "Service Pack 2", VER_NT_WORKSTATION), amd64, 0,
          "Microsoft Windows XP Professional x64 Edition Service Pack 2" },
        { Version(2, 5, 2, "", VER_NT_WORKSTATION), x86, 0, "Microsoft Windows Server 2003 " },
        { Version(2, 5, 2, "Service Pack 1", VER_NT_SERVER), amd64, 0, "Microsoft Windows Server 2003 Service Pack 1" },
        { Version(2, 5, 1, "Service Pack 3"), x86, 0, "Microsoft Windows XP Service Pack 3" },
        { Version(2, 5, 0, "Service Pack 4"), x86, 0, "Microsoft Windows 2000 Service Pack 4" },
        { Version(2, 4, 0, "Service Pack 6a"), x86, 0, "Microsoft Windows NT Service Pack 6a" },
        { Version(2, 3, 51, ""), x86, 0, "Microsoft Windows NT " },
        { Version(2, 5, 3, ""), x86, 0, "[Unknown] " },
        { Version(2, 6, 1, "Service Pack 1", VER_NT_WORKSTATION), x86, 0, "[Unknown] Service Pack 1" },
        { Version(2, 10, 0, ""), x86, 0, "[Unknown] " },
        { Version(3, 5, 1, ""), x86, 0, "[Unknown] " },
    };
    for (const VersionRow &row : rows) {
        char text[OS_VERSION_TEXT_SIZE];
        memset(text, 'x', sizeof(text));
        ComposeWindowsVersionText(text, &row.version, row.architecture, row.serverR2);
        EXPECT_STREQ(row.expected, text) << "platform " << row.version.dwPlatformId << " version "
                                         << row.version.dwMajorVersion << "." << row.version.dwMinorVersion;
    }
}

TEST(WindowsVersionTable, LongestServicePackTextStaysInTheBuffer)
{
    OSVERSIONINFOEXA v = Version(2, 5, 2, "", VER_NT_WORKSTATION);
    memset(v.szCSDVersion, 'S', sizeof(v.szCSDVersion));  // 128 bytes, no terminator
    char text[OS_VERSION_TEXT_SIZE + 8];
    memset(text, '#', sizeof(text));
    ComposeWindowsVersionText(text, &v, PROCESSOR_ARCHITECTURE_AMD64, 0);
    EXPECT_EQ(strlen("Microsoft Windows XP Professional x64 Edition ") + 128, strlen(text));
    for (size_t i = OS_VERSION_TEXT_SIZE; i < sizeof(text); i++) EXPECT_EQ('#', text[i]);
}

// The real GetVersionExA of processes started under Wine set to a version.
std::string OsVersionOfChild(const char *wineVersion)
{
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (wineVersion) {
        RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)wineVersion, (DWORD)strlen(wineVersion) + 1);
    } else {
        RegDeleteValueA(key, "Version");
    }
    RegCloseKey(key);
    std::string out = "C:\\www\\probe.txt";
    DeleteFileA(out.c_str());
    std::string command = "\"" + TestBinDirectory() + "qvx_hostinfo_probe.exe\" " + out;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, "C:\\", &startup, &process)) return "<no start>";
    WaitForSingleObject(process.hProcess, 120000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    FILE *in = fopen(out.c_str(), "rt");
    char line[512] = { 0 };
    if (in) {
        fgets(line, sizeof(line), in);
        fclose(in);
    }
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

TEST(WindowsVersionOnWine, PrefixesSetToOlderVersions)
{
    EXPECT_EQ("Microsoft Windows XP Service Pack 3", OsVersionOfChild("winxp"));
    EXPECT_EQ("Microsoft Windows 2000 Service Pack 4", OsVersionOfChild("win2k"));
    EXPECT_EQ("Microsoft Windows Vista Service Pack 2", OsVersionOfChild("vista"));
    EXPECT_EQ("[Unknown] Service Pack 1", OsVersionOfChild(NULL)) << "Wine's default, 6.1";
}

// ------------------------------------------------------------------ .NET, JDK

const char *const InstallRoot = "C:\\NetRoot\\";

void PlaceRuntime(const char *directory, const char *fixture)
{
    std::string dir = std::string(InstallRoot) + directory;
    CreateDirectoryA("C:\\NetRoot", NULL);
    CreateDirectoryA(dir.c_str(), NULL);
    ASSERT_TRUE(CopyFileA((TestBinDirectory() + fixture).c_str(), (dir + "\\mscorlib.dll").c_str(), FALSE))
        << fixture;
}

void ClearRuntimes()
{
    for (const char *directory : { "v1.0.3705", "v1.1.4322", "v2.0.50727" }) {
        std::string dir = std::string(InstallRoot) + directory;
        DeleteFileA((dir + "\\mscorlib.dll").c_str());
        RemoveDirectoryA(dir.c_str());
    }
    for (DotNetRuntime &runtime : DotNetRuntimeTable) {
        runtime.found = 0;
        runtime.servicePack = 0;
    }
}

class RuntimeDetection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearRuntimes();
        SetString(DotNetKey, "InstallRoot", InstallRoot);
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        ControllerLogClose();
        ClearRuntimes();
        DeleteKey(DotNetKey);
    }
    std::string DotNetText()
    {
        char text[SYSTEM_INFO_TEXT_SIZE];
        ComposeDotNetText(text, sizeof(text));
        return text;
    }
};

TEST_F(RuntimeDetection, OneOneServicePackOneAndTwoZero)
{
    PlaceRuntime("v1.1.4322", "mscorlib_1_1_4322_2032.dll");
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll");
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ(0, DotNetRuntimeTable[0].found);
    EXPECT_EQ(1, DotNetRuntimeTable[1].found);
    EXPECT_EQ(1, DotNetRuntimeTable[1].servicePack);
    EXPECT_EQ(1, DotNetRuntimeTable[2].found);
    EXPECT_EQ(0, DotNetRuntimeTable[2].servicePack);
    EXPECT_EQ("v1.1 SP 1, v2.0 ", DotNetText());
    ControllerLogClose();
    std::string log = ReadControllerLog();
    std::string expected =
        "\n.NET v1.0 Runtime NOT Found.\n"
        "\n.NET v1.1 Runtime Found.\n"
        "File:                 C:\\NetRoot\\v1.1.4322\\mscorlib.dll\n"
        "MajorVersion:         1\n"
        "MinorVersion:         1\n"
        "BuildNumber:          4322\n"
        "RevisionNumber (QFE): 2032\n"
        "\n.NET v2.0 Runtime Found.\n"
        "File:                 C:\\NetRoot\\v2.0.50727\\mscorlib.dll\n"
        "MajorVersion:         2\n"
        "MinorVersion:         0\n"
        "BuildNumber:          50727\n"
        "RevisionNumber (QFE): 42\n";
    EXPECT_EQ(expected, log.substr(log.find("\n.NET v1.0"))) << log;
}

TEST_F(RuntimeDetection, OneZeroAndTwoZeroWithoutOneOneHaveNoSeparator)
{
    PlaceRuntime("v1.0.3705", "mscorlib_1_0_3705_6018.dll");
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll");
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ(3, DotNetRuntimeTable[0].servicePack);
    EXPECT_EQ("v1.0 SP 3v2.0 ", DotNetText());
}

TEST_F(RuntimeDetection, RevisionOutsideTheTableSetsItsOwnRowToZero)
{
    DotNetRuntimeTable[1].servicePack = 5;
    PlaceRuntime("v1.1.4322", "mscorlib_1_1_4322_999.dll");
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ(0, DotNetRuntimeTable[1].servicePack);
    EXPECT_EQ("v1.1 ", DotNetText());
}

TEST_F(RuntimeDetection, InstallRootWithoutRuntimesAndNoKey)
{
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ("", DotNetText()) << "readable root, no runtime: empty, not [not detected]";
    DeleteKey(DotNetKey);
    EXPECT_EQ(0, DetectDotNetRuntimes());
}

TEST_F(RuntimeDetection, InstallRootTooLongForThePathCountsAsNotFound)
{
    std::string root = "C:\\" + std::string(235, 'r') + "\\";
    SetString(DotNetKey, "InstallRoot", root);
    EXPECT_EQ(1, DetectDotNetRuntimes());
    for (const DotNetRuntime &runtime : DotNetRuntimeTable) EXPECT_EQ(0, runtime.found);
    ControllerLogClose();
    EXPECT_NE(std::string::npos,
              ReadControllerLog().find("\n.NET v2.0 Runtime path too long for its buffer; runtime NOT Found.\n"));
}

TEST(JdkDetection, PresentAndAbsent)
{
    OpenFreshControllerLog();
    SetString(JdkKey, "CurrentVersion", "1.5");
    DetectJdkVersion();
    EXPECT_EQ(1, JdkFound);
    EXPECT_STREQ("1.5", JdkVersionText);
    char text[SYSTEM_INFO_TEXT_SIZE];
    ComposeJdkText(text, sizeof(text));
    EXPECT_STREQ("v1.5", text);
    DeleteKey(JdkKey);
    DetectJdkVersion();
    EXPECT_EQ(0, JdkFound);
    ComposeJdkText(text, sizeof(text));
    EXPECT_STREQ("[not detected]", text);
    // A long version text is cut at the field buffer.
    JdkFound = 1;
    memset(JdkVersionText, '9', sizeof(JdkVersionText) - 1);
    JdkVersionText[sizeof(JdkVersionText) - 1] = '\0';
    char small[80];
    ComposeJdkText(small, sizeof(small));
    EXPECT_EQ(79u, strlen(small));
    ControllerLogClose();
}

TEST(IpAddressText, AddressesWithClassesBoundedToFive)
{
    LocalIpListRecord saved = LocalIpList;
    LocalIpList.detected = 7;
    const char *const addresses[] = { "192.168.1.200", "127.0.0.1", "10.1.2.3", "169.254.1.1", "198.51.100.7" };
    for (int i = 0; i < 5; i++) LocalIpList.address[i] = inet_addr(addresses[i]);
    char text[SYSTEM_INFO_TEXT_SIZE];
    ComposeIpAddressText(text, sizeof(text));
    EXPECT_STREQ("192.168.1.200 [private], 127.0.0.1 [local], 10.1.2.3 [private], 169.254.1.1 [failed], "
                 "198.51.100.7 [public]", text);
    char small[40];
    ComposeIpAddressText(small, sizeof(small));
    EXPECT_STREQ("192.168.1.200 [private], 127.0.0.1 [loc", small);
    LocalIpList.detected = 1;
    ComposeIpAddressText(text, sizeof(text));
    EXPECT_STREQ("192.168.1.200 [private]", text);
    LocalIpList.detected = 0;
    ComposeIpAddressText(text, sizeof(text));
    EXPECT_STREQ("", text);
    LocalIpList = saved;
}

// ------------------------------------------------------------- suite paths

TEST(SuitePaths, ComposedPathsAreCutAtTheMemberSize)
{
    char member[SUITE_PATH_SIZE + 8];
    memset(member, '#', sizeof(member));
    std::string system(255, 's');
    EXPECT_EQ(0, ComposeSuitePath(member, system.c_str(), "\\drivers\\etc"));
    EXPECT_EQ(259u, strlen(member));
    for (size_t i = SUITE_PATH_SIZE; i < sizeof(member); i++) EXPECT_EQ('#', member[i]);
    EXPECT_EQ(1, ComposeSuitePath(member, "C:\\WINDOWS\\system32", "\\drivers\\etc"));
    EXPECT_STREQ("C:\\WINDOWS\\system32\\drivers\\etc", member);
}

TEST(SuitePaths, QueryLogsFactsPathsAndEnvironmentInOrder)
{
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    SetEnvironmentVariableA("CATALINA_HOME", "C:\\www\\tomcat5");
    OpenFreshControllerLog();
    EXPECT_EQ(1, SuitePathsQuery());
    ControllerLogClose();
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof(computer);
    GetComputerNameA(computer, &size);
    char user[260];
    size = sizeof(user);
    GetUserNameA(user, &size);
    char windows[260], system[260], self[260], path[2048];
    GetWindowsDirectoryA(windows, sizeof(windows));
    GetSystemDirectoryA(system, sizeof(system));
    GetModuleFileNameA(NULL, self, sizeof(self));
    ExpandEnvironmentStringsA("%PATH%", path, sizeof(path));
    std::string drive = std::string(self).substr(0, 3);
    std::string www = drive + "www";
    std::string expected =
        "\nQuerying System Directories and Info...\n"
        "\nComputer name: " + std::string(computer) +
        "\nUser name: " + user + "\n"
        "\nWindows Directory: " + windows +
        "\nSystem Directory: " + system + "\n"
        "\nHosts File Directory: " + system + "\\drivers\\etc\n"
        "\nProcess Path: " + self +
        "\n'www' Root Path: " + www + "\n"
        "\nWebroot Path: " + www + "\\vhosts\n"
        "\nApache Root Path: " + www + "\\Apache22"
        "\nApache Logs Path: " + www + "\\Apache22\\logs"
        "\nApache Conf Path: " + www + "\\Apache22\\conf"
        "\nApache Conf Extra Path: " + www + "\\Apache22\\conf\\extra"
        "\nApache Conf Suite Path: " + www + "\\Apache22\\conf\\extra\n"
        "\nMySQL INI Path: " + www + "\\mysql5"
        "\nPHP INI Path: " + www + "\\php5\n"
        "\nEnvironment Variables...\n"
        "\n%PATH% -- " + path + "\n"
        "\n%JAVA_HOME% -- %JAVA_HOME%\n"
        "\n%CATALINA_HOME% -- C:\\www\\tomcat5\n";
    EXPECT_EQ(expected, ReadControllerLog());
    EXPECT_STREQ((www + "\\Apache22\\conf\\extra").c_str(), SuitePaths.ApacheConfSuitePath);
    EXPECT_STREQ(SuitePaths.ApacheConfExtraPath, SuitePaths.ApacheConfSuitePath);

    // A second run writes the same lines and leaves the same paths.
    SuitePathsRecord first = SuitePaths;
    OpenFreshControllerLog();
    SuitePathsQuery();
    ControllerLogClose();
    EXPECT_EQ(expected, ReadControllerLog());
    EXPECT_EQ(0, memcmp(&first, &SuitePaths, sizeof(first)));
}

TEST(SuitePaths, ExpansionLongerThanTheBufferIsReportedAndTheNextStillRuns)
{
    std::string huge(3000, 'p');
    char savedPath[32768];
    DWORD savedLength = GetEnvironmentVariableA("PATH", savedPath, sizeof(savedPath));
    SetEnvironmentVariableA("PATH", huge.c_str());
    SetEnvironmentVariableA("JAVA_HOME", "C:\\jdk1.6");
    OpenFreshControllerLog();
    EXPECT_EQ(1, SuitePathsQuery());
    ControllerLogClose();
    if (savedLength) SetEnvironmentVariableA("PATH", savedPath);
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    std::string log = ReadControllerLog();
    EXPECT_NE(std::string::npos, log.find("\nEnvironment Variables...\n"
                                          "\n\t(Buffer too small to expand: \"%PATH%\")"
                                          "\n%JAVA_HOME% -- C:\\jdk1.6\n")) << log;
}

TEST(SuitePaths, ProgramOnDriveDUsesDWww)
{
    // The test prefix has a drive D: of its own.
    CreateDirectoryA("D:\\tools", NULL);
    ASSERT_TRUE(CopyFileA((TestBinDirectory() + "qvx_hostinfo_probe.exe").c_str(), "D:\\tools\\ctl.exe", FALSE))
        << GetLastError();
    std::string command = "D:\\tools\\ctl.exe C:\\www\\drive-d.txt";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, "C:\\", &startup, &process));
    WaitForSingleObject(process.hProcess, 120000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    FILE *in = fopen("C:\\www\\drive-d.txt", "rt");
    ASSERT_NE(nullptr, in);
    char lines[5][300] = {};
    for (auto &line : lines) {
        if (!fgets(line, sizeof(line), in)) break;
        line[strcspn(line, "\n")] = '\0';
    }
    fclose(in);
    EXPECT_STREQ("D:\\www", lines[1]);
    EXPECT_STREQ("D:\\www\\Apache22\\logs", lines[2]);
    EXPECT_STREQ("D:\\www\\Apache22\\conf\\extra", lines[3]);
    EXPECT_STREQ("D:\\www\\mysql5", lines[4]);
}

// ------------------------------------------------------ the panel's fields

TEST(SystemInformationPanel, FieldsAndTheOrderOfTheLog)
{
    ClearRuntimes();
    SetString(DotNetKey, "InstallRoot", InstallRoot);
    PlaceRuntime("v1.1.4322", "mscorlib_1_1_4322_2032.dll");
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll");
    SetString(JdkKey, "CurrentVersion", "1.6");
    HWND dialog = CreateBareDialog();
    ASSERT_NE(nullptr, dialog);
    OpenFreshControllerLog();
    EXPECT_EQ(1, FillSystemInformation(dialog));
    ControllerLogClose();
    EXPECT_EQ("v1.1 SP 1, v2.0 ", DialogItemText(dialog, IDC_NET_VERSION));
    EXPECT_EQ("v1.6", DialogItemText(dialog, IDC_JDK_VERSION));
    EXPECT_EQ(std::string(OsVersionText), DialogItemText(dialog, IDC_OS_VERSION));
    EXPECT_NE(std::string::npos, DialogItemText(dialog, IDC_IP_ADDRESS).find("127.0.0.1 [local]"));
    std::string log = ReadControllerLog();
    size_t ip = log.find("\nNumber of system IPs detected: ");
    size_t net = log.find("\nOpening value 'InstallRoot' under key 'SOFTWARE\\Microsoft\\.NETFramework'");
    size_t jdk = log.find("\nOpening value 'CurrentVersion' under key 'SOFTWARE\\JavaSoft\\Java Development Kit'");
    size_t paths = log.find("\nQuerying System Directories and Info...\n");
    EXPECT_TRUE(ip != std::string::npos && ip < net && net < jdk && jdk < paths) << log;

    // No JDK, no .NET key: both fields read [not detected].
    DeleteKey(JdkKey);
    DeleteKey(DotNetKey);
    OpenFreshControllerLog();
    FillSystemInformation(dialog);
    ControllerLogClose();
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_NET_VERSION));
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_JDK_VERSION));
    DestroyWindow(dialog);
    ClearRuntimes();
}

}  // namespace
