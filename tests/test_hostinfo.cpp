// Host information: every row of the Windows version table from records of
// versions Wine cannot report, the real version of prefixes set to older
// Windows, .NET detection with real mscorlib.dll version resources under an
// install root of the test prefix, the JDK, and the System Information
// panel's four fields and the order of its log.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <string.h>
#include <vector>

#include "app/controller.h"
#include "hostinfo/hostinfo.h"
#include "network/network.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/host_test_support.h"
#include "support/test_services.h"
#include "support/test_support.h"
#include "textfit/textfit.h"

namespace {

const char *const JdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit";
const char *const DotNetKey = "SOFTWARE\\Microsoft\\.NETFramework";

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
        { Version(0, 9, 9, "x"), x86, 1, "Microsoft Win32s x" },
        // 95: OSR2 by the second character C or B.
        { Version(1, 4, 0, " C"), x86, 0, "Microsoft Windows 95 OSR2  C" },
        { Version(1, 4, 0, " B"), x86, 0, "Microsoft Windows 95 OSR2  B" },
        { Version(1, 4, 0, " A"), x86, 0, "Microsoft Windows 95  A" },
        { Version(1, 4, 0, "C"), x86, 0, "Microsoft Windows 95 C" },
        { Version(1, 4, 0, ""), x86, 0, "Microsoft Windows 95 " },
        // 98: SE by the second character A or B.
        { Version(1, 4, 10, " A"), x86, 0, "Microsoft Windows 98 SE  A" },
        { Version(1, 4, 10, " B"), x86, 0, "Microsoft Windows 98 SE  B" },
        { Version(1, 4, 10, " C"), x86, 0, "Microsoft Windows 98  C" },
        { Version(1, 4, 10, ""), x86, 0, "Microsoft Windows 98 " },
        { Version(1, 4, 90, " "), x86, 0, "Microsoft Windows Millennium Edition  " },
        { Version(1, 5, 0, ""), x86, 0, "[Unknown] " },
        { Version(1, 4, 20, " A"), x86, 0, "[Unknown]  A" },
        // Vista and Longhorn by the product type (0 when only the short
        // record could be read).
        { Version(2, 6, 0, "", VER_NT_WORKSTATION), x86, 0, "Microsoft Windows Vista " },
        { Version(2, 6, 0, "Service Pack 1", VER_NT_SERVER), x86, 0, "Windows Server \"Longhorn\" Service Pack 1" },
        { Version(2, 6, 0, "", VER_NT_DOMAIN_CONTROLLER), amd64, 0, "Windows Server \"Longhorn\" " },
        { Version(2, 6, 0, "", 0), x86, 0, "Windows Server \"Longhorn\" " },
        // 5.2: R2 by the metric first, then x64 workstation, then 2003.
        { Version(2, 5, 2, "", VER_NT_WORKSTATION), amd64, 1, "Microsoft Windows Server 2003 \"R2\" " },
        { Version(2, 5, 2, "Service Pack 2", VER_NT_SERVER), x86, 1,
          "Microsoft Windows Server 2003 \"R2\" Service Pack 2" },
        { Version(2, 5, 2, "Service Pack 2", VER_NT_WORKSTATION), amd64, 0,
          "Microsoft Windows XP Professional x64 Edition Service Pack 2" },
        { Version(2, 5, 2, "", VER_NT_WORKSTATION), x86, 0, "Microsoft Windows Server 2003 " },
        { Version(2, 5, 2, "", VER_NT_WORKSTATION), PROCESSOR_ARCHITECTURE_IA64, 0,
          "Microsoft Windows Server 2003 " },
        { Version(2, 5, 2, "Service Pack 1", VER_NT_SERVER), amd64, 0, "Microsoft Windows Server 2003 Service Pack 1" },
        { Version(2, 5, 1, "Service Pack 3"), x86, 0, "Microsoft Windows XP Service Pack 3" },
        { Version(2, 5, 1, ""), x86, 1, "Microsoft Windows XP " },
        { Version(2, 5, 0, "Service Pack 4"), x86, 0, "Microsoft Windows 2000 Service Pack 4" },
        { Version(2, 4, 0, "Service Pack 6a"), x86, 0, "Microsoft Windows NT Service Pack 6a" },
        { Version(2, 3, 51, ""), x86, 0, "Microsoft Windows NT " },
        { Version(2, 0, 0, ""), x86, 0, "Microsoft Windows NT " },
        // No row: 5.3 and above, 6.1 and later, other platforms.
        { Version(2, 5, 3, ""), x86, 0, "[Unknown] " },
        { Version(2, 6, 1, "Service Pack 1", VER_NT_WORKSTATION), x86, 0, "[Unknown] Service Pack 1" },
        { Version(2, 6, 2, "", VER_NT_WORKSTATION), amd64, 0, "[Unknown] " },
        { Version(2, 10, 0, ""), x86, 0, "[Unknown] " },
        { Version(2, 0xFFFFFFFF, 0, ""), x86, 0, "[Unknown] " },
        { Version(3, 5, 1, "Service Pack 3"), x86, 0, "[Unknown] Service Pack 3" },
    };
    for (const VersionRow &row : rows) {
        char text[OS_VERSION_TEXT_SIZE];
        memset(text, 'x', sizeof(text));
        ComposeWindowsVersionText(text, &row.version, row.architecture, row.serverR2);
        EXPECT_STREQ(row.expected, text) << "platform " << row.version.dwPlatformId << ", version "
                                         << row.version.dwMajorVersion << "." << row.version.dwMinorVersion
                                         << ", product type " << (int)row.version.wProductType << ", R2 "
                                         << row.serverR2;
    }
}

TEST(WindowsVersionTable, LongestNameWithAFullServicePackTextStaysInTheBuffer)
{
    OSVERSIONINFOEXA v = Version(2, 5, 2, "", VER_NT_WORKSTATION);
    memset(v.szCSDVersion, 'S', sizeof(v.szCSDVersion));  // all 128 bytes, no terminator
    char text[OS_VERSION_TEXT_SIZE + 8];
    memset(text, '#', sizeof(text));
    ComposeWindowsVersionText(text, &v, PROCESSOR_ARCHITECTURE_AMD64, 0);
    EXPECT_EQ("Microsoft Windows XP Professional x64 Edition " + std::string(128, 'S'), std::string(text));
    for (size_t i = OS_VERSION_TEXT_SIZE; i < sizeof(text); i++) EXPECT_EQ('#', text[i]) << i;
}

// The real GetVersionExA path: the probe program, started after the
// prefix's Wine version was set, reports its OsVersionText.
std::string OsVersionOfChild(const char *wineVersion)
{
    SetWineVersion(wineVersion);
    const std::string report = "C:\\www\\probe-version.txt";
    DeleteFileA(report.c_str());
    int code = RunProgramToEnd("\"" + TestBinDirectory() + "qvx_hostinfo_probe.exe\" " + report, "C:\\");
    SetWineVersion(NULL);
    std::vector<std::string> lines = ReadTextLines(report);
    if (code != 0 || lines.empty()) return "<probe failed: " + std::to_string(code) + ">";
    return lines[0];
}

TEST(WindowsVersionOnWine, PrefixesSetToOlderVersions)
{
    struct Case {
        const char *wineVersion;
        const char *expected;
    };
    const Case cases[] = {
        { "winxp", "Microsoft Windows XP Service Pack 3" },
        { "win2k", "Microsoft Windows 2000 Service Pack 4" },
        { "vista", "Microsoft Windows Vista Service Pack 2" },
        { "win2003", "Microsoft Windows Server 2003 Service Pack 2" },
        { NULL, "[Unknown] Service Pack 1" },  // Wine's default, 6.1
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.expected, OsVersionOfChild(c.wineVersion)) << (c.wineVersion ? c.wineVersion : "default");
    }
}

// ------------------------------------------------------------------ .NET

const char *const InstallRoot = "C:\\NetRoot\\";
const char *const RuntimeDirectories[] = { "v1.0.3705", "v1.1.4322", "v2.0.50727" };

void PlaceFile(const std::string &root, const char *directory, const std::string &source)
{
    std::string dir = root + directory;
    CreateDirectoryA(root.c_str(), NULL);
    CreateDirectoryA(dir.c_str(), NULL);
    ASSERT_TRUE(CopyFileA(source.c_str(), (dir + "\\mscorlib.dll").c_str(), FALSE))
        << source << " to " << dir << ": " << GetLastError();
}

void PlaceRuntime(const char *directory, const char *fixture, const std::string &root = InstallRoot)
{
    PlaceFile(root, directory, TestBinDirectory() + fixture);
}

void ClearRuntimes(const std::string &root = InstallRoot)
{
    for (const char *directory : RuntimeDirectories) {
        std::string dir = root + directory;
        DeleteFileA((dir + "\\mscorlib.dll").c_str());
        RemoveDirectoryA(dir.c_str());
    }
}

void ResetRuntimeTable(int level)
{
    for (DotNetRuntime &runtime : DotNetRuntimeTable) {
        runtime.found = 0;
        runtime.servicePack = level;
    }
}

std::string DotNetText()
{
    char text[SYSTEM_INFO_TEXT_SIZE];
    ComposeDotNetText(text, sizeof(text));
    return text;
}

std::string VersionBlock(const std::string &path, int major, int minor, int build, int revision)
{
    return "File:                 " + path + "\n"
           "MajorVersion:         " + std::to_string(major) + "\n"
           "MinorVersion:         " + std::to_string(minor) + "\n"
           "BuildNumber:          " + std::to_string(build) + "\n"
           "RevisionNumber (QFE): " + std::to_string(revision) + "\n";
}

class RuntimeDetection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearRuntimes();
        ResetRuntimeTable(0);
        ASSERT_EQ("", SetRegistryString(DotNetKey, "InstallRoot", InstallRoot));
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        ControllerLogClose();
        ClearRuntimes();
        ResetRuntimeTable(0);
        DeleteRegistryKey(DotNetKey);
    }
    std::string Log()
    {
        ControllerLogClose();
        return ReadControllerLog();
    }
};

TEST_F(RuntimeDetection, OneOneServicePackOneAndTwoZero)
{
    PlaceRuntime("v1.1.4322", "mscorlib_1_1_4322_2032.dll");
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll");
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_STREQ(InstallRoot, DotNetInstallRoot);
    EXPECT_EQ(0, DotNetRuntimeTable[0].found);
    EXPECT_EQ(1, DotNetRuntimeTable[1].found);
    EXPECT_EQ(1, DotNetRuntimeTable[1].servicePack);
    EXPECT_EQ(1, DotNetRuntimeTable[2].found);
    EXPECT_EQ(0, DotNetRuntimeTable[2].servicePack);
    EXPECT_EQ("v1.1 SP 1, v2.0 ", DotNetText());
    EXPECT_EQ("\nOpening value 'InstallRoot' under key 'SOFTWARE\\Microsoft\\.NETFramework' via Registry...\n"
              "\nValue Name: InstallRoot\n"
              "\nValue Type: [1] REG_SZ -- null-terminated string.\n"
              "\nValue Size: 12 [BYTES] (with terminating NULL(s) if type is REG_SZ, REG_EXPAND_SZ, or REG_MULTI_SZ).\n"
              "\nValue Data: C:\\NetRoot\\\n"
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
              "RevisionNumber (QFE): 42\n",
              Log());
}

TEST_F(RuntimeDetection, OneZeroAndTwoZeroWithoutOneOneHaveNoSeparator)
{
    PlaceRuntime("v1.0.3705", "mscorlib_1_0_3705_0.dll");
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll");
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ("v1.0 v2.0 ", DotNetText());
    PlaceRuntime("v1.0.3705", "mscorlib_1_0_3705_6018.dll");
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ("v1.0 SP 3v2.0 ", DotNetText());
    PlaceRuntime("v1.1.4322", "mscorlib_1_1_4322_2300.dll");
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ("v1.0 SP 3, v1.1 SP 1, v2.0 ", DotNetText());
}

// The service-pack table, keyed on the revision alone: each fixture is
// examined as the runtime of `directory`, and the row its revision names is
// the one that changes (every level starts at 9).
struct RevisionCase {
    const char *fixture;
    const char *directory;
    int row;         // the runtime examined
    int levels[3];   // the levels afterwards
};

TEST_F(RuntimeDetection, ServicePackTableKeyedOnTheRevision)
{
    const RevisionCase cases[] = {
        { "mscorlib_1_0_3705_0.dll", "v1.0.3705", 0, { 0, 9, 9 } },
        { "mscorlib_1_0_3705_209.dll", "v1.0.3705", 0, { 1, 9, 9 } },
        { "mscorlib_1_0_3705_288.dll", "v1.0.3705", 0, { 2, 9, 9 } },
        { "mscorlib_1_0_3705_6018.dll", "v1.0.3705", 0, { 3, 9, 9 } },
        { "mscorlib_1_1_4322_573.dll", "v1.1.4322", 1, { 9, 0, 9 } },
        { "mscorlib_1_1_4322_2032.dll", "v1.1.4322", 1, { 9, 1, 9 } },
        { "mscorlib_1_1_4322_2300.dll", "v1.1.4322", 1, { 9, 1, 9 } },
        { "mscorlib_2_0_50727_42.dll", "v2.0.50727", 2, { 9, 9, 0 } },
        // Revisions outside the table set the examined row to 0.
        { "mscorlib_1_1_4322_999.dll", "v1.1.4322", 1, { 9, 0, 9 } },
        { "mscorlib_2_0_50727_1433.dll", "v2.0.50727", 2, { 9, 9, 0 } },
        // A revision of the table found under another runtime's directory
        // sets the row the table names, not the one examined.
        { "mscorlib_1_1_4322_2032.dll", "v2.0.50727", 2, { 9, 1, 9 } },
        { "mscorlib_1_0_3705_288.dll", "v1.1.4322", 1, { 2, 9, 9 } },
        { "mscorlib_2_0_50727_42.dll", "v1.0.3705", 0, { 9, 9, 0 } },
    };
    for (const RevisionCase &c : cases) {
        ClearRuntimes();
        ResetRuntimeTable(9);
        PlaceRuntime(c.directory, c.fixture);
        EXPECT_EQ(1, DetectDotNetRuntimes()) << c.fixture;
        for (int row = 0; row < DOTNET_RUNTIME_COUNT; row++) {
            EXPECT_EQ(row == c.row ? 1 : 0, DotNetRuntimeTable[row].found) << c.fixture << " row " << row;
            EXPECT_EQ(c.levels[row], DotNetRuntimeTable[row].servicePack)
                << c.fixture << " under " << c.directory << ": level of row " << row;
        }
    }
}

TEST_F(RuntimeDetection, InstallRootWithoutRuntimesGivesAnEmptyField)
{
    ResetRuntimeTable(0);
    DotNetRuntimeTable[2].found = 1;
    EXPECT_EQ(1, DetectDotNetRuntimes());
    for (const DotNetRuntime &runtime : DotNetRuntimeTable) EXPECT_EQ(0, runtime.found);
    EXPECT_EQ("", DotNetText());
    std::string log = Log();
    EXPECT_EQ("\n.NET v1.0 Runtime NOT Found.\n\n.NET v1.1 Runtime NOT Found.\n\n.NET v2.0 Runtime NOT Found.\n",
              log.substr(log.find("\n.NET v1.0")));
}

TEST_F(RuntimeDetection, NoInstallRootLeavesTheTableAsItWas)
{
    DeleteRegistryKey(DotNetKey);
    DotNetRuntimeTable[1].found = 1;
    DotNetRuntimeTable[1].servicePack = 1;
    strcpy(DotNetInstallRoot, "C:\\Before\\");
    EXPECT_EQ(0, DetectDotNetRuntimes());
    EXPECT_EQ(1, DotNetRuntimeTable[1].found);
    EXPECT_EQ(1, DotNetRuntimeTable[1].servicePack);
    EXPECT_STREQ("C:\\Before\\", DotNetInstallRoot);
    EXPECT_EQ("\nOpening value 'InstallRoot' under key 'SOFTWARE\\Microsoft\\.NETFramework' via Registry...\n"
              "\nRegOpenKeyEx() returns: 2.\n",
              Log());
}

TEST_F(RuntimeDetection, FoundRuntimeWithoutVersionResourceEndsTheRun)
{
    // A module without a version resource, under the 1.0 directory.
    PlaceFile(InstallRoot, "v1.0.3705", TestBinDirectory() + "qvx_module.dll");
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll");
    DotNetRuntimeTable[2].servicePack = 7;
    std::string path = std::string(InstallRoot) + "v1.0.3705\\mscorlib.dll";
    DWORD handle = 0;
    SetLastError(0xdeadbeef);
    ASSERT_EQ(0u, GetFileVersionInfoSizeA(path.c_str(), &handle));
    DWORD error = GetLastError();
    ASSERT_NE(0xdeadbeefu, error);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, DetectDotNetRuntimes());
    EXPECT_EQ(1, DotNetRuntimeTable[0].found) << "found before its resource was read";
    EXPECT_EQ(0, DotNetRuntimeTable[2].found) << "the rows after it keep their flags";
    EXPECT_EQ(7, DotNetRuntimeTable[2].servicePack);
    std::string log = Log();
    EXPECT_EQ("\n.NET v1.0 Runtime Found.\nGetFileVersionInfoSize() failed (" + std::to_string(error) + ").\n",
              log.substr(log.find("\n.NET v1.0")));

    // A file that is no module at all.
    ClearRuntimes();
    CreateDirectoryA("C:\\NetRoot\\v1.1.4322", NULL);
    ASSERT_TRUE(WriteWholeFile("C:\\NetRoot\\v1.1.4322\\mscorlib.dll", "not a module"));
    OpenFreshControllerLog();
    EXPECT_EQ(0, DetectDotNetRuntimes());
    log = Log();
    EXPECT_EQ(0u, log.find("\nOpening value 'InstallRoot'")) << log;
    EXPECT_NE(std::string::npos, log.find("\n.NET v1.0 Runtime NOT Found.\n\n.NET v1.1 Runtime Found.\n"
                                          "GetFileVersionInfoSize() failed (")) << log;
    EXPECT_EQ(std::string::npos, log.find("v2.0")) << log;
    DeleteFileA("C:\\NetRoot\\v1.1.4322\\mscorlib.dll");
}

TEST_F(RuntimeDetection, VersionResourceWithoutFixedFileInformation)
{
    PlaceRuntime("v1.1.4322", "mscorlib_no_fixed_info.dll");
    EXPECT_EQ(0, DetectDotNetRuntimes());
    EXPECT_EQ(1, DotNetRuntimeTable[1].found);
    std::string log = Log();
    EXPECT_EQ("\n.NET v1.0 Runtime NOT Found.\n"
              "\n.NET v1.1 Runtime Found.\n"
              "VerQueryValue(): The specified name does not exist or the specified resource is not valid.\n",
              log.substr(log.find("\n.NET v1.0")));
}

TEST_F(RuntimeDetection, InstallRootTooLongForThePathBuffer)
{
    // A root of 233 characters: v1.0.3705 and v1.1.4322 make paths of 255
    // characters, which just fit; v2.0.50727 one more, which does not.
    std::string root = "C:\\" + std::string(229, 'r') + "\\";
    ASSERT_EQ(233u, root.size());
    ASSERT_EQ("", SetRegistryString(DotNetKey, "InstallRoot", root));
    PlaceRuntime("v1.1.4322", "mscorlib_1_1_4322_2032.dll", root);
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll", root);
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ(0, DotNetRuntimeTable[0].found);
    EXPECT_EQ(1, DotNetRuntimeTable[1].found);
    EXPECT_EQ(0, DotNetRuntimeTable[2].found) << "its path does not fit, so it counts as not found";
    EXPECT_EQ("v1.1 SP 1", DotNetText());
    std::string log = Log();
    EXPECT_EQ("\n.NET v1.0 Runtime NOT Found.\n"
              "\n.NET v1.1 Runtime Found.\n" +
                  VersionBlock(root + "v1.1.4322\\mscorlib.dll", 1, 1, 4322, 2032) +
                  "\n.NET v2.0 Runtime path too long for its buffer; runtime NOT Found.\n",
              log.substr(log.find("\n.NET v1.0")));
    ClearRuntimes(root);
    RemoveDirectoryA(root.c_str());

    // A root longer than the 256-byte buffer is cut there by the reader, and
    // no runtime path fits after it.
    ASSERT_EQ("", SetRegistryString(DotNetKey, "InstallRoot", "C:\\" + std::string(300, 'q') + "\\"));
    OpenFreshControllerLog();
    EXPECT_EQ(1, DetectDotNetRuntimes());
    EXPECT_EQ(255u, strlen(DotNetInstallRoot));
    log = Log();
    EXPECT_EQ("\n.NET v1.0 Runtime path too long for its buffer; runtime NOT Found.\n"
              "\n.NET v1.1 Runtime path too long for its buffer; runtime NOT Found.\n"
              "\n.NET v2.0 Runtime path too long for its buffer; runtime NOT Found.\n",
              log.substr(log.find("\n.NET v1.0")));
}

TEST(FileExistsTest, EntriesOfThatName)
{
    CreateDirectoryA("C:\\exists", NULL);
    ASSERT_TRUE(WriteWholeFile("C:\\exists\\file.txt", "x"));
    EXPECT_EQ(1, FileExists("C:\\exists\\file.txt"));
    EXPECT_EQ(1, FileExists("C:\\exists")) << "a directory is an entry too";
    EXPECT_EQ(0, FileExists("C:\\exists\\missing.txt"));
    EXPECT_EQ(0, FileExists("C:\\no-such-directory\\file.txt"));
    DeleteFileA("C:\\exists\\file.txt");
    RemoveDirectoryA("C:\\exists");
}

// ------------------------------------------------------------------- JDK

TEST(JdkDetection, PresentAndAbsent)
{
    OpenFreshControllerLog();
    ASSERT_EQ("", SetRegistryString(JdkKey, "CurrentVersion", "1.5"));
    EXPECT_EQ(1, DetectJdkVersion());
    EXPECT_EQ(1, JdkFound);
    EXPECT_STREQ("1.5", JdkVersionText);
    char text[SYSTEM_INFO_TEXT_SIZE];
    ComposeJdkText(text, sizeof(text));
    EXPECT_STREQ("v1.5", text);

    DeleteRegistryKey(JdkKey);
    EXPECT_EQ(1, DetectJdkVersion());
    EXPECT_EQ(0, JdkFound);
    ComposeJdkText(text, sizeof(text));
    EXPECT_STREQ("[not detected]", text);
    ControllerLogClose();
}

TEST(JdkDetection, VersionTextLongerThanTheFieldBufferIsCut)
{
    JdkFound = 1;
    memset(JdkVersionText, '9', sizeof(JdkVersionText) - 1);
    JdkVersionText[sizeof(JdkVersionText) - 1] = '\0';
    char small[80 + 8];
    memset(small, '#', sizeof(small));
    ComposeJdkText(small, 80);
    EXPECT_EQ("v" + std::string(78, '9'), std::string(small));
    for (size_t i = 80; i < sizeof(small); i++) EXPECT_EQ('#', small[i]) << i;
    char text[SYSTEM_INFO_TEXT_SIZE];
    ComposeJdkText(text, sizeof(text));
    EXPECT_EQ("v" + std::string(SYSTEM_INFO_TEXT_SIZE - 2, '9'), std::string(text));
    JdkFound = 0;
}

// ------------------------------------------------------------- IP text

struct SavedIpList {
    LocalIpListRecord saved = LocalIpList;
    ~SavedIpList() { LocalIpList = saved; }
};

void SetIpList(DWORD detected, const std::vector<const char *> &addresses)
{
    LocalIpList.detected = detected;
    for (size_t i = 0; i < addresses.size() && i < LOCAL_IP_SLOTS; i++) LocalIpList.address[i] = inet_addr(addresses[i]);
}

TEST(IpAddressText, AtMostFiveAddressesWithTheirClassesWithinTheBuffer)
{
    SavedIpList saved;
    SetIpList(7, { "192.168.100.200", "127.0.0.1", "172.16.255.255", "169.254.1.1", "198.51.100.7" });
    char full[SYSTEM_INFO_TEXT_SIZE];
    ComposeIpAddressText(full, sizeof(full));
    const std::string expected = "192.168.100.200 [private], 127.0.0.1 [local], 172.16.255.255 [private], "
                                 "169.254.1.1 [failed], 198.51.100.7 [public]";
    EXPECT_EQ(expected, std::string(full));
    // The 80 bytes the field's text was once built in: cut, never overrun.
    char small[80 + 8];
    memset(small, '#', sizeof(small));
    ComposeIpAddressText(small, 80);
    EXPECT_EQ(expected.substr(0, 79), std::string(small));
    for (size_t i = 80; i < sizeof(small); i++) EXPECT_EQ('#', small[i]) << i;
    SetIpList(1, { "10.0.0.1" });
    ComposeIpAddressText(full, sizeof(full));
    EXPECT_STREQ("10.0.0.1 [private]", full) << "one address, no separator";
}

// ------------------------------------------------------ the panel's fields

// An address table of the given addresses, as GetIpAddrTable returns it.
std::vector<const char *> StandInAddresses;
DWORD WINAPI StandInIpAddrTable(void *table, PULONG size, BOOL)
{
    ULONG needed = (ULONG)(sizeof(DWORD) + StandInAddresses.size() * sizeof(MIB_IPADDRROW));
    if (*size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    MIB_IPADDRTABLE *rows = (MIB_IPADDRTABLE *)table;
    memset(rows, 0, needed);
    rows->dwNumEntries = (DWORD)StandInAddresses.size();
    for (size_t i = 0; i < StandInAddresses.size(); i++) {
        rows->table[i].dwAddr = inet_addr(StandInAddresses[i]);
        rows->table[i].wType = MIB_IPADDR_PRIMARY;
    }
    return NO_ERROR;
}

class SystemInformationPanel : public ::testing::Test {
protected:
    HWND dialog = NULL;
    void SetUp() override
    {
        ClearRuntimes();
        ResetRuntimeTable(0);
        dialog = CreateBareDialog();
        ASSERT_NE(nullptr, dialog);
    }
    void TearDown() override
    {
        NetworkCalls = NetworkSystemCallsDefault;
        DestroyControllerDialog(dialog);
        ControllerLogClose();
        ClearRuntimes();
        DeleteRegistryKey(JdkKey);
        DeleteRegistryKey(DotNetKey);
    }
    std::string Fill()
    {
        OpenFreshControllerLog();
        EXPECT_EQ(1, FillSystemInformation(dialog));
        ControllerLogClose();
        return ReadControllerLog();
    }
    // What the IP Address field shows for a text: the text fitted to it.
    std::string FittedIpText(const std::string &text)
    {
        HWND other = CreateBareDialog();
        SetFittedDlgItemText(other, IDC_IP_ADDRESS, text.c_str());
        std::string fitted = DialogItemText(other, IDC_IP_ADDRESS);
        DestroyControllerDialog(other);
        return fitted;
    }
};

TEST_F(SystemInformationPanel, FourFieldsAndTheOrderOfTheLog)
{
    ASSERT_EQ("", SetRegistryString(DotNetKey, "InstallRoot", InstallRoot));
    PlaceRuntime("v1.1.4322", "mscorlib_1_1_4322_2032.dll");
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll");
    ASSERT_EQ("", SetRegistryString(JdkKey, "CurrentVersion", "1.6"));
    NetworkCalls.pGetIpAddrTable = StandInIpAddrTable;
    StandInAddresses = { "192.168.1.5", "127.0.0.1" };
    std::string log = Fill();

    EXPECT_EQ("v1.1 SP 1, v2.0 ", DialogItemText(dialog, IDC_NET_VERSION));
    EXPECT_EQ("v1.6", DialogItemText(dialog, IDC_JDK_VERSION));
    EXPECT_EQ("[Unknown] Service Pack 1", DialogItemText(dialog, IDC_OS_VERSION));
    EXPECT_EQ(FittedIpText("192.168.1.5 [private], 127.0.0.1 [local]"), DialogItemText(dialog, IDC_IP_ADDRESS));
    EXPECT_EQ("192.168.1.5 [private], 127.0.0.1 [local]", DialogItemText(dialog, IDC_IP_ADDRESS))
        << "two short addresses fit the field";

    // The IP list's lines, the .NET lines after the reader's, the JDK
    // reader's lines, then the paths report; the OS version logs nothing.
    size_t ip = log.find("\nNumber of system IPs detected: 2\n");
    size_t net = log.find("\nOpening value 'InstallRoot' under key 'SOFTWARE\\Microsoft\\.NETFramework' via Registry...\n");
    size_t runtimes = log.find("\n.NET v1.0 Runtime NOT Found.\n");
    size_t jdk = log.find("\nOpening value 'CurrentVersion' under key 'SOFTWARE\\JavaSoft\\Java Development Kit' via "
                          "Registry...\n");
    size_t paths = log.find("\nQuerying System Directories and Info...\n");
    ASSERT_NE(std::string::npos, ip) << log;
    EXPECT_TRUE(ip < net && net < runtimes && runtimes < jdk && jdk < paths) << log;
    EXPECT_EQ(std::string::npos, log.find("Service Pack 1")) << log;
    EXPECT_NE(std::string::npos, log.find("\nValue Data: 1.6\n\nQuerying System Directories and Info...\n")) << log;
}

TEST_F(SystemInformationPanel, FallbacksWhenNothingIsDetected)
{
    NetworkCalls.pGetIpAddrTable = StandInIpAddrTable;
    StandInAddresses = {};
    std::string log = Fill();
    EXPECT_EQ("", DialogItemText(dialog, IDC_IP_ADDRESS));
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_NET_VERSION));
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_JDK_VERSION));
    EXPECT_EQ("[Unknown] Service Pack 1", DialogItemText(dialog, IDC_OS_VERSION));
    EXPECT_NE(std::string::npos, log.find("\nQuerying System Directories and Info...\n")) << "the report still runs";

    // An install root without runtimes: empty, not [not detected].
    ASSERT_EQ("", SetRegistryString(DotNetKey, "InstallRoot", InstallRoot));
    Fill();
    EXPECT_EQ("", DialogItemText(dialog, IDC_NET_VERSION));

    // A runtime whose resource cannot be read: [not detected].
    PlaceFile(InstallRoot, "v2.0.50727", TestBinDirectory() + "qvx_module.dll");
    Fill();
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_NET_VERSION));
}

TEST_F(SystemInformationPanel, LongTextsStayInTheirBuffers)
{
    // Seven long addresses: the first five, fitted to the field.
    NetworkCalls.pGetIpAddrTable = StandInIpAddrTable;
    StandInAddresses = { "192.168.100.200", "192.168.100.201", "172.16.255.255", "172.31.255.254",
                         "192.168.255.255", "10.255.255.255", "10.255.255.254" };
    // A JDK version text of 259 characters, the most its buffer holds.
    ASSERT_EQ("", SetRegistryString(JdkKey, "CurrentVersion", std::string(300, '7')));
    Fill();
    const std::string five = "192.168.100.200 [private], 192.168.100.201 [private], 172.16.255.255 [private], "
                             "172.31.255.254 [private], 192.168.255.255 [private]";
    std::string field = DialogItemText(dialog, IDC_IP_ADDRESS);
    EXPECT_EQ(FittedIpText(five), field);
    ASSERT_GE(field.size(), 3u);
    EXPECT_EQ("...", field.substr(field.size() - 3)) << field;
    EXPECT_EQ(0u, five.find(field.substr(0, field.size() - 3))) << field;
    EXPECT_EQ(259u, strlen(JdkVersionText));
    EXPECT_EQ("v" + std::string(SYSTEM_INFO_TEXT_SIZE - 2, '7'), DialogItemText(dialog, IDC_JDK_VERSION));
}

// Through the controller dialog itself: its bring-up fills the panel, and
// Requery All fills it again with what changed meanwhile.
TEST(SystemInformationInTheController, BringUpAndRequeryAll)
{
    RemoveAllManagedServices();
    ClearRuntimes();
    ResetRuntimeTable(0);
    ASSERT_EQ("", SetRegistryString(DotNetKey, "InstallRoot", InstallRoot));
    PlaceRuntime("v1.1.4322", "mscorlib_1_1_4322_2032.dll");
    PlaceRuntime("v2.0.50727", "mscorlib_2_0_50727_42.dll");
    ASSERT_EQ("", SetRegistryString(JdkKey, "CurrentVersion", "1.5"));
    OpenFreshControllerLog();
    HWND dialog = CreateControllerDialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ("v1.1 SP 1, v2.0 ", DialogItemText(dialog, IDC_NET_VERSION));
    EXPECT_EQ("v1.5", DialogItemText(dialog, IDC_JDK_VERSION));
    EXPECT_EQ("[Unknown] Service Pack 1", DialogItemText(dialog, IDC_OS_VERSION));

    ClearRuntimes();
    PlaceRuntime("v1.0.3705", "mscorlib_1_0_3705_209.dll");
    DeleteRegistryKey(JdkKey);
    RunMenuCommand(dialog, IDM_REQUERY_ALL);
    EXPECT_EQ("v1.0 SP 1", DialogItemText(dialog, IDC_NET_VERSION));
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_JDK_VERSION));
    DestroyControllerDialog(dialog);
    ControllerLogClose();

    std::string log = ReadControllerLog();
    size_t first = log.find("\nQuerying System Directories and Info...\n");
    ASSERT_NE(std::string::npos, first) << log;
    EXPECT_NE(std::string::npos, log.find("\nQuerying System Directories and Info...\n", first + 1))
        << "Requery All writes the paths report again";
    EXPECT_LT(log.find("\n.NET v2.0 Runtime Found.\n"), first);
    ClearRuntimes();
    ResetRuntimeTable(0);
    DeleteRegistryKey(DotNetKey);
}

}  // namespace
