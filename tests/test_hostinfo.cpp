// Host information, suite paths and registry: the paths log of a program on drive D: or a network path, the
// environment report at its bounds, the registry reader's blocks, the Windows version and .NET service-pack
// tables, and the System Information panel's four fields.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <string.h>

#include "app/controller.h"
#include "hostinfo/hostinfo.h"
#include "network/network.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

const char *const TestKey = "SOFTWARE\\QuorvexTest", *const NetRoot = "C:\\NetRoot\\";
const char *const JdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit", *const NetKey = "SOFTWARE\\Microsoft\\.NETFramework";
const char *const RuntimeDirs[] = { "v1.0.3705", "v1.1.4322", "v2.0.50727" };

void SetValue(const char *key, const char *name, const std::string &data, DWORD type = REG_SZ)
{
    HKEY handle;
    ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL)) << key;
    EXPECT_EQ(0, RegSetValueExA(handle, name, 0, type, (const BYTE *)data.data(), (DWORD)data.size())) << name;
    RegCloseKey(handle);
}
void SetText(const char *key, const char *name, const std::string &text) { SetValue(key, name, text + '\0'); }
void PlaceRuntime(int row, const std::string &fixture)   // a stand-in mscorlib.dll of that version
{
    std::string dir = NetRoot + std::string(RuntimeDirs[row]);
    CreateDirectoryA(NetRoot, NULL);
    CreateDirectoryA(dir.c_str(), NULL);
    ASSERT_TRUE(CopyFileA((TestBinDirectory() + fixture).c_str(), (dir + "\\mscorlib.dll").c_str(), FALSE)) << fixture;
}

// Machine facts as a stand-in system gives them (FactsFail: each call fails with an error of its own).
bool FactsFail;
const char *ProcessPath;   // null: the query fails
std::string SystemDirectory;
BOOL WINAPI Computer(LPSTR b, LPDWORD) { SetLastError(111); return !FactsFail && strcpy(b, "QVXHOST"); }
BOOL WINAPI User(LPSTR b, LPDWORD) { SetLastError(1332); return !FactsFail && strcpy(b, "tester"); }
UINT WINAPI WinDir(LPSTR b, UINT) { SetLastError(5); return FactsFail ? 0 : strlen(strcpy(b, "C:\\windows")); }
UINT WINAPI SysDir(LPSTR b, UINT n) { SetLastError(6); return FactsFail ? 0 : strlen(lstrcpynA(b, SystemDirectory.c_str(), n)); }
DWORD WINAPI Module(HANDLE, HMODULE, LPSTR b, DWORD n) { SetLastError(299); return ProcessPath ? strlen(lstrcpynA(b, ProcessPath, n)) : 0; }
DWORD WINAPI FailJavaHome(LPCSTR s, LPSTR d, DWORD n) { SetLastError(1234); return strcmp(s, "%JAVA_HOME%") ? ExpandEnvironmentStringsA(s, d, n) : 0; }

// An address table claiming `Claimed` rows and holding those of Addresses.
std::vector<const char *> Addresses;
DWORD Claimed;
DWORD WINAPI IpTable(void *table, PULONG size, BOOL)
{
    ULONG needed = (ULONG)(sizeof(DWORD) + Addresses.size() * sizeof(MIB_IPADDRROW));
    if (*size < needed) return *size = needed, ERROR_INSUFFICIENT_BUFFER;
    MIB_IPADDRTABLE *rows = (MIB_IPADDRTABLE *)memset(table, 0, needed);
    rows->dwNumEntries = Claimed;
    for (size_t i = 0; i < Addresses.size(); i++) rows->table[i].dwAddr = inet_addr(Addresses[i]);
    return NO_ERROR;
}

class HostInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        PathsCalls = { Computer, User, WinDir, SysDir, Module, ExpandEnvironmentStringsA, RegOpenKeyExA,
                       RegQueryValueExA, RegCloseKey };
        NetworkCalls.pGetIpAddrTable = IpTable;
        FactsFail = false, ProcessPath = "D:\\tools\\ctl.exe", SystemDirectory = "C:\\windows\\system32";
        SetEnvironmentVariableA("PATH", "C:\\bin");
        SetEnvironmentVariableA("CATALINA_HOME", "C:\\tomcat"), SetEnvironmentVariableA("JAVA_HOME", NULL);
        for (DotNetRuntime &row : DotNetRuntimeTable) row.found = 0, row.servicePack = 9;
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        PathsCalls = PathsSystemCallsDefault, NetworkCalls = NetworkSystemCallsDefault;
        ControllerLogClose();
        for (const char *key : { TestKey, JdkKey, NetKey }) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
        for (const char *dir : RuntimeDirs) DeleteFileA((NetRoot + std::string(dir) + "\\mscorlib.dll").c_str());
    }
    std::string Log()   // what was logged since the last call
    {
        ControllerLogClose();
        std::string log = ReadControllerLog();
        OpenFreshControllerLog();
        return log;
    }
};

std::string Derived(const std::string &w)   // the paths block of a run whose www root is w
{
    return "\nWebroot Path: " + w + "\\vhosts\n\nApache Root Path: " + w + "\\Apache22\nApache Logs Path: " + w +
           "\\Apache22\\logs\nApache Conf Path: " + w + "\\Apache22\\conf\nApache Conf Extra Path: " + w +
           "\\Apache22\\conf\\extra\nApache Conf Suite Path: " + w + "\\Apache22\\conf\\extra\n\nMySQL INI Path: " +
           w + "\\mysql5\nPHP INI Path: " + w + "\\php5\n";
}

TEST_F(HostInfo, SuitePathsFromTheProgramsDriveWithTheEnvironmentReport)
{
    const std::string facts = "\nComputer name: QVXHOST\nUser name: tester\n\nWindows Directory: C:\\windows"
                              "\nSystem Directory: C:\\windows\\system32\n";
    const struct { const char *process; bool fail; std::string head, www; } rows[] = {
        { "D:\\tools\\ctl.exe", false, facts + "\nHosts File Directory: C:\\windows\\system32\\drivers\\etc\n"
          "\nProcess Path: D:\\tools\\ctl.exe\n'www' Root Path: D:\\www\n", "D:\\www" },
        { "\\\\host\\share\\ctl.exe", false, facts + "\nHosts File Directory: C:\\windows\\system32\\drivers\\etc\n"
          "\nProcess Path: \\\\host\\share\\ctl.exe\n'www' Root Path: \\\\hwww\n", "\\\\hwww" },
        { nullptr, true, "GetComputerName() failed (111)GetUserName() failed (1332)GetWindowsDirectory() failed (5)"
          "GetSystemDirectory() failed (6)\nHosts File Directory: \\drivers\\etc\n"
          "GetModuleFileNameEx() for this process failed (299)", "" },
    };
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    for (const auto &row : rows) {
        ProcessPath = row.process, FactsFail = row.fail;
        EXPECT_EQ(1, SuitePathsQuery());
        EXPECT_EQ("\nQuerying System Directories and Info...\n" + row.head + Derived(row.www) +
                  "\nEnvironment Variables...\n\n%PATH% -- C:\\bin\n\n%JAVA_HOME% -- %JAVA_HOME%\n"
                  "\n%CATALINA_HOME% -- C:\\tomcat\n", Log()) << row.www;
        EXPECT_EQ(row.www + "\\Apache22\\conf\\extra", SuitePaths.ApacheConfSuitePath);
    }
    // The hosts file's directory is cut at the member's 259 characters.
    for (const auto &row : { std::make_pair(247, "\\drivers\\etc"), std::make_pair(248, "\\drivers\\et") }) {
        SystemDirectory = std::string(row.first, 's'), FactsFail = false;
        SuitePathsQuery();
        EXPECT_EQ(SystemDirectory + row.second, SuitePaths.HostsFileDirectory);
    }
}

TEST_F(HostInfo, EnvironmentExpansionsAtTheBufferSizeAndAFailingOne)
{
    const std::string catalina = "\n%CATALINA_HOME% -- C:\\tomcat\n";
    const struct { size_t length; bool fail; std::string tail; int result; } rows[] = {
        { 2047, false, "\n%JAVA_HOME% -- " + std::string(2047, 'j') + "\n" + catalina, 1 },
        { 2048, false, "\n\t(Buffer too small to expand: \"%JAVA_HOME%\")" + catalina, 1 },
        { 4, true, "\nExpandEnvironmentStrings(%JAVA_HOME%) failed (1234).\n", 0 },
    };
    for (const auto &row : rows) {
        SetEnvironmentVariableA("JAVA_HOME", std::string(row.length, 'j').c_str());
        PathsCalls.pExpandEnvironmentStringsA = row.fail ? FailJavaHome : ExpandEnvironmentStringsA;
        EXPECT_EQ(row.result, SuitePathsQuery());
        EXPECT_EQ("\n%PATH% -- C:\\bin\n" + row.tail, Between(Log(), "\n%PATH%", "")) << row.length;
    }
}

std::string Read(const std::string &name, const std::string &key, int type, const std::string &what, int size)
{
    return "\nOpening value '" + name + "' under key '" + key + "' via Registry...\n\nValue Name: " + name +
           "\n\nValue Type: [" + std::to_string(type) + "] " + what + ".\n\nValue Size: " + std::to_string(size) +
           " [BYTES] (with terminating NULL(s) if type is REG_SZ, REG_EXPAND_SZ, or REG_MULTI_SZ).\n";
}

TEST_F(HostInfo, RegistryReaderDescribesEveryTypeAndAcceptsOnlyText)
{
    const char *const other = "Other\t -- unknown format";
    const struct { DWORD type; std::string data; const char *what, *text; } rows[] = {
        { REG_SZ, std::string("1.6\0", 4), "REG_SZ -- null-terminated string", "1.6" },
        { REG_EXPAND_SZ, std::string("%SystemRoot%\\j\0", 15), "REG_EXPAND_SZ -- null-terminated string that "
          "contains unexpanded references to environment variables", "%SystemRoot%\\j" },
        { REG_MULTI_SZ, std::string("1.5\0" "1.6\0\0", 9), "REG_MULTI_SZ -- sequence of null-terminated strings, "
          "terminated by an empty string (\\0)", nullptr },
        { REG_DWORD, std::string("\x2a\0\0\0", 4), other, nullptr },
        { REG_BINARY, "\x01\x02", other, nullptr },
    };
    for (const auto &row : rows) {
        SetValue(TestKey, "V", row.data, row.type);
        char text[32] = "untouched";
        DWORD size = 77, type = 77;
        EXPECT_EQ(row.text ? 1 : 0, ReadRegistryString(TestKey, "V", text, sizeof(text), &size, &type));
        EXPECT_STREQ(row.text ? row.text : "untouched", text);
        EXPECT_EQ(row.text ? row.data.size() : 77u, size);
        EXPECT_EQ(row.text ? row.type : 77u, type);
        EXPECT_EQ(Read("V", TestKey, row.type, row.what, row.data.size()) +
                  (row.text ? "\nValue Data: " + std::string(row.text) + "\n"
                            : "\nWarning:\n'V' Value Type (" + std::to_string(row.type) + ") is unsuported.\n"),
                  Log());
    }
}

TEST_F(HostInfo, RegistryFailuresAndTheCallersCapacity)
{
    SetText(TestKey, "Long", "0123456789");
    const struct { DWORD capacity; const char *text; } rows[] = { { 1, "" }, { 10, "012345678" }, { 11, "0123456789" } };
    for (const auto &row : rows) {
        char text[16];
        memset(text, '#', sizeof(text));
        EXPECT_EQ(1, ReadRegistryString(TestKey, "Long", text, row.capacity, NULL, NULL));
        EXPECT_EQ(std::string(row.text) + '\0' + std::string(15 - strlen(row.text), '#'), std::string(text, 16));
    }
    Log();
    char text[16] = "untouched";
    EXPECT_EQ(0, ReadRegistryString("SOFTWARE\\QuorvexTest\\None", "V", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Missing", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Long", text, 0, NULL, NULL));
    EXPECT_STREQ("untouched", text);
    EXPECT_EQ("\nOpening value 'V' under key 'SOFTWARE\\QuorvexTest\\None' via Registry...\n\nRegOpenKeyEx() returns: 2.\n"
              "\nOpening value 'Missing' under key 'SOFTWARE\\QuorvexTest' via Registry...\n"
              "\nRegQueryValueEx (Type and Size query only) returns: 2.\n"
              "\nNo room for value 'Long' in a buffer of 0 bytes.\n", Log());
}

TEST(WindowsVersion, EveryRowOfTheTable)
{
    const WORD x86 = PROCESSOR_ARCHITECTURE_INTEL, x64 = PROCESSOR_ARCHITECTURE_AMD64;
    const struct { DWORD platform, major, minor; const char *csd; BYTE product; WORD arch; int r2; const char *text; } rows[] = {
        { 0, 3, 10, "", 0, x86, 0, "Microsoft Win32s " },
        { 1, 4, 0, " C", 0, x86, 0, "Microsoft Windows 95 OSR2  C" }, { 1, 4, 0, " B", 0, x86, 0, "Microsoft Windows 95 OSR2  B" },
        { 1, 4, 0, " A", 0, x86, 0, "Microsoft Windows 95  A" }, { 1, 4, 10, " A", 0, x86, 0, "Microsoft Windows 98 SE  A" },
        { 1, 4, 10, " B", 0, x86, 0, "Microsoft Windows 98 SE  B" }, { 1, 4, 10, " C", 0, x86, 0, "Microsoft Windows 98  C" },
        { 1, 4, 90, "", 0, x86, 0, "Microsoft Windows Millennium Edition " }, { 1, 5, 0, " A", 0, x86, 0, "[Unknown]  A" },
        { 1, 4, 20, "", 0, x86, 0, "[Unknown] " }, { 2, 6, 0, "", 1, x86, 0, "Microsoft Windows Vista " },
        { 2, 6, 0, "Service Pack 1", 3, x86, 0, "Windows Server \"Longhorn\" Service Pack 1" },
        { 2, 6, 0, "", 0, x86, 0, "Windows Server \"Longhorn\" " },
        { 2, 5, 2, "", 1, x64, 1, "Microsoft Windows Server 2003 \"R2\" " },
        { 2, 5, 2, "Service Pack 2", 1, x64, 0, "Microsoft Windows XP Professional x64 Edition Service Pack 2" },
        { 2, 5, 2, "", 1, x86, 0, "Microsoft Windows Server 2003 " }, { 2, 5, 2, "", 3, x64, 0, "Microsoft Windows Server 2003 " },
        { 2, 5, 1, "Service Pack 3", 1, x86, 1, "Microsoft Windows XP Service Pack 3" },
        { 2, 5, 0, "", 1, x86, 0, "Microsoft Windows 2000 " }, { 2, 4, 0, "Service Pack 6a", 1, x86, 0, "Microsoft Windows NT Service Pack 6a" },
        { 2, 5, 3, "", 1, x86, 0, "[Unknown] " }, { 2, 6, 1, "Service Pack 1", 1, x86, 0, "[Unknown] Service Pack 1" },
        { 2, 0xFFFFFFFF, 0, "", 1, x86, 0, "[Unknown] " }, { 3, 5, 1, "", 1, x86, 0, "[Unknown] " },
    };
    for (const auto &row : rows) {
        OSVERSIONINFOEXA v = { sizeof(v), row.major, row.minor, 0, row.platform };
        strcpy(v.szCSDVersion, row.csd);
        v.wProductType = row.product;
        char text[OS_VERSION_TEXT_SIZE];
        ComposeWindowsVersionText(text, &v, row.arch, row.r2);
        EXPECT_STREQ(row.text, text) << row.platform << " " << row.major << "." << row.minor << " " << (int)row.product;
    }
}

TEST_F(HostInfo, ServicePackTableIsKeyedOnTheRevision)
{
    const struct { const char *revision; int row; int levels[3]; } rows[] = {   // every level starts at 9
        { "1_0_3705_0", 0, { 0, 9, 9 } }, { "1_0_3705_209", 0, { 1, 9, 9 } }, { "1_0_3705_288", 0, { 2, 9, 9 } },
        { "1_0_3705_6018", 0, { 3, 9, 9 } }, { "1_1_4322_573", 1, { 9, 0, 9 } }, { "1_1_4322_2032", 1, { 9, 1, 9 } },
        { "1_1_4322_2300", 1, { 9, 1, 9 } }, { "2_0_50727_42", 2, { 9, 9, 0 } }, { "1_1_4322_999", 1, { 9, 0, 9 } },
        { "2_0_50727_1433", 2, { 9, 9, 0 } }, { "1_1_4322_2032", 2, { 9, 1, 9 } }, { "2_0_50727_42", 0, { 9, 9, 0 } },
    };
    SetText(NetKey, "InstallRoot", NetRoot);
    for (const auto &row : rows) {
        TearDown(), SetUp(), SetText(NetKey, "InstallRoot", NetRoot);
        PlaceRuntime(row.row, "mscorlib_" + std::string(row.revision) + ".dll");
        EXPECT_EQ(1, DetectDotNetRuntimes()) << row.revision;
        for (int i = 0; i < DOTNET_RUNTIME_COUNT; i++) {
            EXPECT_EQ(i == row.row, DotNetRuntimeTable[i].found) << row.revision << " row " << i;
            EXPECT_EQ(row.levels[i], DotNetRuntimeTable[i].servicePack) << row.revision << " row " << i;
        }
    }
}

TEST_F(HostInfo, SystemInformationPanelShowsWhatWasDetected)
{
    const std::string longRoot = "C:\\" + std::string(229, 'r') + "\\";   // 1.1's path just fits, 2.0's not
    const struct { std::vector<const char *> ips; DWORD claimed; std::string root; std::vector<std::pair<int, const char *>> dlls;
                   const char *jdk, *fields[3]; std::string log; } rows[] = {
        { { "192.168.1.5", "127.0.0.1" }, 2, NetRoot, { { 1, "mscorlib_1_1_4322_2032.dll" }, { 2, "mscorlib_2_0_50727_42.dll" } },
          "1.6", { "192.168.1.5 [private], 127.0.0.1 [local]", "v1.1 SP 1, v2.0 ", "v1.6" },
          Read("InstallRoot", NetKey, 1, "REG_SZ -- null-terminated string", 12) + "\nValue Data: C:\\NetRoot\\\n"
          "\n.NET v1.0 Runtime NOT Found.\n\n.NET v1.1 Runtime Found.\nFile:                 C:\\NetRoot\\v1.1.4322\\mscorlib.dll\n"
          "MajorVersion:         1\nMinorVersion:         1\nBuildNumber:          4322\nRevisionNumber (QFE): 2032\n"
          "\n.NET v2.0 Runtime Found.\nFile:                 C:\\NetRoot\\v2.0.50727\\mscorlib.dll\n"
          "MajorVersion:         2\nMinorVersion:         0\nBuildNumber:          50727\nRevisionNumber (QFE): 42\n" +
          Read("CurrentVersion", JdkKey, 1, "REG_SZ -- null-terminated string", 4) +
          "\nValue Data: 1.6\n\nQuerying System Directories and Info...\n" },
        // A table claiming three rows but holding one: the one address, and the system's count in the log.
        { { "10.0.0.1" }, 3, "", {}, nullptr, { "10.0.0.1 [private]", "[not detected]", "[not detected]" },
          "\nNumber of system IPs detected: 3\n" },
        { {}, 0, NetRoot, {}, nullptr, { "", "", "[not detected]" }, "\n.NET v2.0 Runtime NOT Found.\n" },
        { {}, 0, longRoot, {}, nullptr, { "", "", "[not detected]" }, "\n.NET v1.1 Runtime NOT Found.\n"
          "\n.NET v2.0 Runtime path too long for its buffer; runtime NOT Found.\n" },
        { {}, 0, NetRoot, { { 0, "qvx_module.dll" } }, nullptr, { "", "[not detected]", "[not detected]" },
          "\n.NET v1.0 Runtime Found.\nGetFileVersionInfoSize() failed (1812).\n\nOpening value 'CurrentVersion'" },
        { {}, 0, NetRoot, { { 1, "mscorlib_no_fixed_info.dll" } }, nullptr, { "", "[not detected]", "[not detected]" },
          "\n.NET v1.1 Runtime Found.\nVerQueryValue(): The specified name does not exist or the specified resource is "
          "not valid.\n\nOpening value 'CurrentVersion'" },
    };
    HWND dialog = CreateBareDialog();
    ASSERT_NE(nullptr, dialog);
    for (const auto &row : rows) {
        TearDown(), SetUp();
        Addresses = row.ips, Claimed = row.claimed;
        if (!row.root.empty()) SetText(NetKey, "InstallRoot", row.root);
        for (const auto &dll : row.dlls) PlaceRuntime(dll.first, dll.second);
        if (row.jdk) SetText(JdkKey, "CurrentVersion", row.jdk);
        EXPECT_EQ(1, FillSystemInformation(dialog));
        const int ids[] = { IDC_IP_ADDRESS, IDC_NET_VERSION, IDC_JDK_VERSION };
        for (int i = 0; i < 3; i++) EXPECT_EQ(row.fields[i], DialogItemText(dialog, ids[i])) << row.log;
        EXPECT_EQ("[Unknown] Service Pack 1", DialogItemText(dialog, IDC_OS_VERSION));
        std::string log = Log();
        EXPECT_NE(std::string::npos, log.find(row.log)) << log;
    }
    DestroyControllerDialog(dialog);
}

TEST(SystemInformationTexts, FieldTextsStayInTheirBuffers)
{
    const struct { int found[3], level[3]; const char *text; } nets[] = {
        { { 1, 0, 1 }, { 0, 0, 0 }, "v1.0 v2.0 " }, { { 1, 0, 1 }, { 3, 0, 0 }, "v1.0 SP 3v2.0 " },
        { { 1, 1, 1 }, { 3, 1, 0 }, "v1.0 SP 3, v1.1 SP 1, v2.0 " }, { { 0, 1, 0 }, { 0, 2, 0 }, "v1.1 SP 2" },
    };
    char text[SYSTEM_INFO_TEXT_SIZE + 8];
    for (const auto &net : nets) {
        for (int i = 0; i < 3; i++) DotNetRuntimeTable[i].found = net.found[i], DotNetRuntimeTable[i].servicePack = net.level[i];
        ComposeDotNetText(text, SYSTEM_INFO_TEXT_SIZE);
        EXPECT_STREQ(net.text, text);
    }
    // Five of seven addresses; in a smaller buffer cut, never overrun.
    const char *five[] = { "192.168.100.200", "127.0.0.1", "172.16.255.255", "169.254.1.1", "198.51.100.7" };
    LocalIpList.detected = 7, LocalIpList.listed = 5;
    for (int i = 0; i < 5; i++) LocalIpList.address[i] = inet_addr(five[i]);
    const std::string ips = "192.168.100.200 [private], 127.0.0.1 [local], 172.16.255.255 [private], "
                            "169.254.1.1 [failed], 198.51.100.7 [public]";
    ComposeIpAddressText(text, SYSTEM_INFO_TEXT_SIZE);
    EXPECT_EQ(ips, text);
    memset(text, '#', sizeof(text));
    ComposeIpAddressText(text, 80);
    EXPECT_EQ(ips.substr(0, 79) + '\0' + "########", std::string(text, 88));
    JdkFound = 1, JdkVersionText[259] = '\0';
    memset(JdkVersionText, '9', 259);
    ComposeJdkText(text, SYSTEM_INFO_TEXT_SIZE);
    EXPECT_EQ("v" + std::string(254, '9'), text);
}
}  // namespace
