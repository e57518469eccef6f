// Host information: the NET Version field by the runtimes found, the suite paths and environment
// report, the registry reader, the Windows version table.
#include <gtest/gtest.h>
#include "hostinfo/hostinfo.h"
#include "log/log.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace
{
const char *const NetKey = "SOFTWARE\\Microsoft\\.NETFramework";
const char *const TestKey = "SOFTWARE\\QuorvexTest";

// The machine facts of a stand-in system.
const char *ProgramPath;
std::string SystemDirectory;

BOOL WINAPI Name(LPSTR name, LPDWORD)
{
    strcpy(name, "tester");
    return TRUE;
}

UINT WINAPI Directory(LPSTR directory, UINT size)
{
    return strlen(lstrcpynA(directory, SystemDirectory.c_str(), size));
}

DWORD WINAPI ProgramFile(HANDLE, HMODULE, LPSTR path, DWORD size)
{
    return strlen(lstrcpynA(path, ProgramPath, size));
}

DWORD WINAPI FailingExpansion(LPCSTR, LPSTR, DWORD)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

void SetValue(const char *key, const char *name, DWORD type, const std::string &data)
{
    EXPECT_EQ(
        0, RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, name, type, data.data(), (DWORD)data.size()));
}

std::string Log()
{
    ControllerLogClose();
    std::string log = ReadControllerLog();
    OpenFreshControllerLog();
    return log;
}

void ExpectInLog(const std::string &log, const std::string &part)
{
    EXPECT_NE(std::string::npos, log.find(part)) << "expected in the log: " << part;
}

TEST(HostInfo, NetVersionByTheRuntimesFoundAndTheirRevisions)
{
    const struct {
        const char *runtimes[3]; // stand-in core libraries (tests/fixtures) of 1.0, 1.1, 2.0
        const char *field;
        const char *logged;
    } rows[] = {
        { { "1_0_3705_0", "1_1_4322_573", "2_0_50727_42" }, "v1.0 , v1.1 , v2.0 ", "(QFE): 0\n" },
        { { "1_0_3705_209", "1_1_4322_2032", "2_0_50727_1433" },
          "v1.0 SP 1, v1.1 SP 1, v2.0 ",
          "BuildNumber:          50727\nRevisionNumber (QFE): 1433\n" },
        { { "1_0_3705_288", "1_1_4322_2300", nullptr }, "v1.0 SP 2, v1.1 SP 1", "(QFE): 2300\n" },
        { { "1_0_3705_6018", "1_1_4322_999", nullptr }, "v1.0 SP 3, v1.1 ", "(QFE): 6018\n" },
        // The revision alone sets a level, whichever runtime's directory holds the file.
        { { "2_0_50727_42", nullptr, "1_1_4322_2032" },
          "v1.0 SP 9v2.0 ",
          "(QFE): 42\n\n.NET v1.1 Runtime NOT" },
        { { nullptr, nullptr, nullptr }, "", "\n.NET v2.0 Runtime NOT Found.\n" },
        { { nullptr, "no_version", nullptr },
          "[not detected]",
          "Found.\nGetFileVersionInfoSize() failed (1812).\n\nOpening" },
        // A version block that claims more bytes than its resource holds.
        { { nullptr, "corrupt_length", nullptr },
          "[not detected]",
          "Found.\nGetFileVersionInfo() failed (13).\n\nOpening" },
        { { nullptr, "no_fixed_info", nullptr },
          "[not detected]",
          "Found.\nVerQueryValue(): The specified name does not exist or the specified resource "
          "is not valid.\n\nOpening" },
    };
    const char *const directories[] = { "C:\\NetRoot\\v1.0.3705", "C:\\NetRoot\\v1.1.4322",
                                        "C:\\NetRoot\\v2.0.50727" };
    HWND dialog = CreateBareDialog();
    CreateDirectoryA("C:\\NetRoot", NULL);
    SetValue(NetKey, "InstallRoot", REG_SZ, "C:\\NetRoot\\");
    OpenFreshControllerLog();
    for (const auto &row : rows) {
        for (int i = 0; i < 3; i++) {
            std::string file = directories[i] + std::string("\\mscorlib.dll");
            CreateDirectoryA(directories[i], NULL);
            DeleteFileA(file.c_str());
            DotNetRuntimeTable[i].servicePack = 9; // left at 9 where no file sets a level
            if (row.runtimes[i] == nullptr)
                continue;
            std::string fixture = TestBinDirectory() + "mscorlib_" + row.runtimes[i] + ".dll";
            ASSERT_TRUE(CopyFileA(fixture.c_str(), file.c_str(), FALSE)) << fixture;
        }

        FillSystemInformation(dialog);

        EXPECT_EQ(row.field, DialogItemText(dialog, IDC_NET_VERSION)) << row.logged;
        ExpectInLog(Log(), row.logged);
    }
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_JDK_VERSION));
    // Windows 7 with service pack 1, as the prefix reports it, is a version the table does not name.
    EXPECT_EQ("[Unknown] Service Pack 1", DialogItemText(dialog, IDC_OS_VERSION));

    // Behind this install root only the runtime paths up to 255 characters are looked for.
    SetValue(NetKey, "InstallRoot", REG_SZ, "C:\\" + std::string(229, 'r') + "\\");
    FillSystemInformation(dialog);
    EXPECT_EQ("", DialogItemText(dialog, IDC_NET_VERSION));
    ExpectInLog(Log(), "1.1 Runtime NOT Found.\n\n.NET v2.0 Runtime path too long for its buffer; "
                       "runtime NOT Found.\n");

    RegDeleteTreeA(HKEY_LOCAL_MACHINE, NetKey);
    FillSystemInformation(dialog);
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_NET_VERSION));
    DestroyControllerDialog(dialog);
}

TEST(HostInfo, SuitePathsAndTheEnvironmentReport)
{
    PathsCalls = { Name,          Name,
                   Directory,     Directory,
                   ProgramFile,   ExpandEnvironmentStringsA,
                   RegOpenKeyExA, RegQueryValueExA,
                   RegCloseKey };
    ProgramPath = "D:\\tools\\ctl.exe";
    SystemDirectory = "C:\\windows";
    SetEnvironmentVariableA("PATH", "C:\\bin");
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    SetEnvironmentVariableA("CATALINA_HOME", "C:\\tomcat");
    OpenFreshControllerLog();
    EXPECT_EQ(1, SuitePathsQuery());
    EXPECT_EQ(ExpectedText("hostinfo_paths.log"), Log());

    // A network path's first three characters; texts at the limits of their buffers.
    ProgramPath = "\\\\host\\share\\ctl.exe";
    SystemDirectory = std::string(248, 's');
    SetEnvironmentVariableA("JAVA_HOME", std::string(2047, 'j').c_str());
    SetEnvironmentVariableA("CATALINA_HOME", std::string(2048, 'c').c_str());
    EXPECT_EQ(1, SuitePathsQuery());
    std::string log = Log();
    ExpectInLog(log, "\nHosts File Directory: " + SystemDirectory + "\\drivers\\et\n");
    ExpectInLog(log, "\n'www' Root Path: \\\\hwww\n\nWebroot Path: \\\\hwww\\vhosts\n");
    ExpectInLog(log, "\n%JAVA_HOME% -- " + std::string(2047, 'j') + "\n");
    ExpectInLog(log, "\n\t(Buffer too small to expand: \"%CATALINA_HOME%\")");

    // A failing expansion ends the report.
    PathsCalls.pExpandEnvironmentStringsA = FailingExpansion;
    EXPECT_EQ(0, SuitePathsQuery());
    EXPECT_EQ("\nEnvironment Variables...\n\nExpandEnvironmentStrings(%PATH%) failed (87).\n",
              Between(Log(), "\nEnvironment", ""));
    PathsCalls = PathsSystemCallsDefault;
}

TEST(HostInfo, RegistryReaderAcceptsOnlyTextAndCopiesItWithinTheCallersCapacity)
{
    const struct {
        DWORD type;
        std::string data;
        DWORD capacity;
        const char *text; // null: not read
    } rows[] = {
        { REG_EXPAND_SZ, std::string("%SystemRoot%\\j\0", 15), 16, "%SystemRoot%\\j" },
        { REG_MULTI_SZ, std::string("1.5\0001.6\0\0", 9), 16, nullptr },
        { REG_QWORD, std::string(8, '*'), 16, nullptr },
        { REG_SZ, "0123456789", 11, "0123456789" },
        { REG_SZ, "0123456789", 10, "012345678" },
        { REG_SZ, "0123456789", 0, nullptr },
    };
    OpenFreshControllerLog();
    for (const auto &row : rows) {
        SetValue(TestKey, "V", row.type, row.data);
        std::string text(16, '#');

        int read = ReadRegistryString(TestKey, "V", &text[0], row.capacity, NULL, NULL);

        EXPECT_EQ(row.text ? 1 : 0, read) << row.type;
        std::string copied = row.text ? row.text + std::string(1, '\0') : "";
        EXPECT_EQ(copied + std::string(16 - copied.size(), '#'), text) << "written beyond the text";
    }
    char text[16];
    EXPECT_EQ(0, ReadRegistryString("SOFTWARE\\QuorvexTest\\None", "V", text, 16, NULL, NULL));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Missing", text, 16, NULL, NULL));
    EXPECT_EQ(ExpectedText("hostinfo_registry.log"), Log());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, TestKey);
}

TEST(HostInfo, WindowsVersionTable)
{
#define MW "Microsoft Windows "
    const struct {
        DWORD platform, major, minor;
        const char *servicePack;
        const char *text;
        BYTE productType;
        WORD architecture; // 0 x86, 9 AMD64
        int serverR2;
    } rows[] = {
        { 0, 3, 10, "", "Microsoft Win32s " },
        { 1, 4, 0, " C", MW "95 OSR2  C" },
        { 1, 4, 0, " B", MW "95 OSR2  B" },
        { 1, 4, 0, " A", MW "95  A" },
        { 1, 4, 10, " A", MW "98 SE  A" },
        { 1, 4, 10, " B", MW "98 SE  B" },
        { 1, 4, 10, " C", MW "98  C" },
        { 1, 4, 20, "", "[Unknown] " },
        { 1, 4, 90, "", MW "Millennium Edition " },
        { 1, 5, 0, " A", "[Unknown]  A" },
        { 2, 6, 0, "", MW "Vista ", 1 },
        { 2, 6, 0, "SP1", "Windows Server \"Longhorn\" SP1", 3 },
        { 2, 5, 2, "", MW "Server 2003 \"R2\" ", 1, 9, 1 },
        { 2, 5, 2, "", MW "Server 2003 ", 1 },
        { 2, 5, 2, "SP2", MW "XP Professional x64 Edition SP2", 1, 9 },
        { 2, 5, 2, "", MW "Server 2003 ", 3, 9 },
        { 2, 5, 1, "SP3", MW "XP SP3", 1, 0, 1 },
        { 2, 5, 0, "", MW "2000 " },
        { 2, 4, 0, "SP6a", MW "NT SP6a" },
        { 2, 5, 3, "", "[Unknown] " },
        { 2, 6, 1, "SP1", "[Unknown] SP1", 1 },
        { 2, 0xFFFFFFFF, 0, "", "[Unknown] " },
        { 3, 5, 1, "", "[Unknown] " },
    };
    for (const auto &row : rows) {
        OSVERSIONINFOEXA version = { sizeof(version), row.major, row.minor, 0, row.platform };
        strcpy(version.szCSDVersion, row.servicePack);
        version.wProductType = row.productType;
        char text[OS_VERSION_TEXT_SIZE];

        ComposeWindowsVersionText(text, &version, row.architecture, row.serverR2);

        EXPECT_STREQ(row.text, text) << row.platform << " " << row.major << "." << row.minor;
    }
}
} // namespace
