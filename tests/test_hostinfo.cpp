// Host information, suite paths and registry: paths and environment log, registry reader, version and .NET tables,
// the System Information panel, the bounded text helpers.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
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
const char *const RuntimeDirs[] = { "v1.0.3705\\", "v1.1.4322\\", "v2.0.50727\\" };
const char *const SzText = "REG_SZ -- null-terminated string", *const None = "[not detected]";

void SetValue(const char *key, const char *name, const std::string &data, DWORD type = REG_SZ)
{
    HKEY handle;
    ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL)) << key;
    EXPECT_EQ(0, RegSetValueExA(handle, name, 0, type, (const BYTE *)data.data(), (DWORD)data.size())) << name;
    RegCloseKey(handle);
}
void SetText(const char *key, const char *name, const std::string &text) { SetValue(key, name, text + '\0'); }

// Machine facts of a stand-in system; with FactsFail each call fails.
bool FactsFail;
const char *ProcessPath;   // null: the query fails
BOOL WINAPI Name(LPSTR b, LPDWORD) { SetLastError(1332); return !FactsFail && strcpy(b, "tester"); }
UINT WINAPI Dir(LPSTR b, UINT) { SetLastError(5); return FactsFail ? 0 : strlen(strcpy(b, "C:\\windows")); }
DWORD WINAPI Module(HANDLE, HMODULE, LPSTR b, DWORD n)
{
    SetLastError(299);
    return ProcessPath ? strlen(lstrcpynA(b, ProcessPath, n)) : 0;
}
DWORD WINAPI FailJava(LPCSTR s, LPSTR d, DWORD n)
{
    SetLastError(1234);
    return strcmp(s, "%JAVA_HOME%") ? ExpandEnvironmentStringsA(s, d, n) : 0;
}

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
        PathsCalls = { Name, Name, Dir, Dir, Module, ExpandEnvironmentStringsA, RegOpenKeyExA, RegQueryValueExA, RegCloseKey };
        NetworkCalls.pGetIpAddrTable = IpTable;
        FactsFail = false, ProcessPath = "D:\\tools\\ctl.exe";
        SetEnvironmentVariableA("PATH", "C:\\bin"), SetEnvironmentVariableA("JAVA_HOME", NULL);
        SetEnvironmentVariableA("CATALINA_HOME", "C:\\tomcat");
        for (DotNetRuntime &row : DotNetRuntimeTable) row.found = 0, row.servicePack = 9;
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        PathsCalls = PathsSystemCallsDefault, NetworkCalls = NetworkSystemCallsDefault;
        for (const char *key : { TestKey, JdkKey, NetKey }) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
        for (const char *dir : RuntimeDirs) DeleteFileA((NetRoot + std::string(dir) + "mscorlib.dll").c_str());
    }
    std::string Log() { ControllerLogClose(); std::string log = ReadControllerLog(); return OpenFreshControllerLog(), log; }
    void PlaceRuntime(int row, const std::string &fixture)   // a stand-in mscorlib.dll of that version
    {
        std::string dir = NetRoot + std::string(RuntimeDirs[row]);
        CreateDirectoryA(NetRoot, NULL), CreateDirectoryA(dir.c_str(), NULL);
        ASSERT_TRUE(CopyFileA((TestBinDirectory() + fixture).c_str(), (dir + "mscorlib.dll").c_str(), FALSE));
    }
};

std::string Derived(const std::string &w)   // the paths block of a run whose www root is w
{
    return "\nWebroot Path: " + w + "\\vhosts\n\nApache Root Path: " + w + "\\Apache22\nApache Logs Path: " + w +
           "\\Apache22\\logs\nApache Conf Path: " + w + "\\Apache22\\conf\nApache Conf Extra Path: " + w +
           "\\Apache22\\conf\\extra\nApache Conf Suite Path: " + w + "\\Apache22\\conf\\extra\n\nMySQL INI Path: " +
           w + "\\mysql5\nPHP INI Path: " + w + "\\php5\n\nEnvironment Variables...\n\n%PATH% -- C:\\bin\n";
}

TEST_F(HostInfo, SuitePathsFromTheProgramsDriveAndTheEnvironmentReport)
{
    const std::string facts = "\nQuerying System Directories and Info...\n\nComputer name: tester\nUser name: tester\n"
        "\nWindows Directory: C:\\windows\nSystem Directory: C:\\windows\n\nHosts File Directory: C:\\windows\\drivers"
        "\\etc\n\nProcess Path: ";
    const std::string java = "\n%JAVA_HOME% -- %JAVA_HOME%\n", catalina = "\n%CATALINA_HOME% -- C:\\tomcat\n";
    const struct { const char *process; std::string head, www, tail; size_t java; int result; } rows[] = {
        { "D:\\tools\\ctl.exe", facts + "D:\\tools\\ctl.exe\n'www' Root Path: D:\\www\n", "D:\\www", java + catalina, 0, 1 },
        { "\\\\host\\share\\ctl.exe", facts + "\\\\host\\share\\ctl.exe\n'www' Root Path: \\\\hwww\n", "\\\\hwww",
          "\n%JAVA_HOME% -- " + std::string(2047, 'j') + "\n" + catalina, 2047, 1 },
        { nullptr, "\nQuerying System Directories and Info...\nGetComputerName() failed (1332)GetUserName() failed (1332)"
          "GetWindowsDirectory() failed (5)GetSystemDirectory() failed (5)\nHosts File Directory: \\drivers\\etc\n"
          "GetModuleFileNameEx() for this process failed (299)", "", "\n\t(Buffer too small to expand: \"%JAVA_HOME%\")"
          + catalina, 2048, 1 },
        { "C:\\ctl.exe", facts + "C:\\ctl.exe\n'www' Root Path: C:\\www\n", "C:\\www",
          "\nExpandEnvironmentStrings(%JAVA_HOME%) failed (1234).\n", 0, 0 },
    };
    for (const auto &row : rows) {
        ProcessPath = row.process, FactsFail = !row.process;
        SetEnvironmentVariableA("JAVA_HOME", row.java ? std::string(row.java, 'j').c_str() : NULL);
        PathsCalls.pExpandEnvironmentStringsA = row.result ? ExpandEnvironmentStringsA : FailJava;
        EXPECT_EQ(row.result, SuitePathsQuery());
        EXPECT_EQ(row.head + Derived(row.www) + row.tail, Log()) << row.www;
    }
}

std::string Read(const std::string &name, const std::string &key, int type, const std::string &what, int size)
{
    return "\nOpening value '" + name + "' under key '" + key + "' via Registry...\n\nValue Name: " + name +
           "\n\nValue Type: [" + std::to_string(type) + "] " + what + ".\n\nValue Size: " + std::to_string(size) +
           " [BYTES] (with terminating NULL(s) if type is REG_SZ, REG_EXPAND_SZ, or REG_MULTI_SZ).\n";
}

TEST_F(HostInfo, RegistryReaderAcceptsOnlyTextWithinTheCallersCapacity)
{
    const struct { DWORD type; std::string data; const char *what, *text; } rows[] = {
        { REG_SZ, std::string("1.6\0", 4), SzText, "1.6" },
        { REG_EXPAND_SZ, std::string("%SystemRoot%\\j\0", 15), "REG_EXPAND_SZ -- null-terminated string that "
          "contains unexpanded references to environment variables", "%SystemRoot%\\j" },
        { REG_MULTI_SZ, std::string("1.5\0" "1.6\0\0", 9), "REG_MULTI_SZ -- sequence of null-terminated strings, "
          "terminated by an empty string (\\0)", nullptr },
        { REG_DWORD, std::string("\x2a\0\0\0", 4), "Other\t -- unknown format", nullptr },
    };
    for (const auto &row : rows) {
        SetValue(TestKey, "V", row.data, row.type);
        char text[32] = "untouched";
        DWORD size = 77, type = 77;
        EXPECT_EQ(row.text ? 1 : 0, ReadRegistryString(TestKey, "V", text, sizeof(text), &size, &type));
        EXPECT_STREQ(row.text ? row.text : "untouched", text);
        EXPECT_EQ(row.text ? row.data.size() : 77u, size);
        EXPECT_EQ(row.text ? row.type : 77u, type);
        EXPECT_EQ(Read("V", TestKey, row.type, row.what, row.data.size()) + (row.text ? "\nValue Data: " +
                  std::string(row.text) : "\nWarning:\n'V' Value Type (" + std::to_string(row.type) + ") is unsuported.")
                  + "\n", Log());
    }
    SetText(TestKey, "Long", "0123456789");
    for (const auto &row : { std::make_pair(1, ""), std::make_pair(10, "012345678"), std::make_pair(11, "0123456789") }) {
        char text[16];
        EXPECT_EQ(1, ReadRegistryString(TestKey, "Long", (char *)memset(text, '#', 16), row.first, NULL, NULL));
        EXPECT_EQ(row.second + std::string(1, '\0') + std::string(15 - strlen(row.second), '#'), std::string(text, 16));
    }
    char text[16] = "untouched";
    EXPECT_EQ(0, ReadRegistryString("SOFTWARE\\QuorvexTest\\None", "V", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Missing", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Long", text, 0, NULL, NULL));
    EXPECT_STREQ("untouched", text);
    EXPECT_EQ("\nOpening value 'V' under key 'SOFTWARE\\QuorvexTest\\None' via Registry...\n\nRegOpenKeyEx() returns: 2.\n"
              "\nOpening value 'Missing' under key 'SOFTWARE\\QuorvexTest' via Registry...\n\nRegQueryValueEx (Type and "
              "Size query only) returns: 2.\n\nNo room for value 'Long' in a buffer of 0 bytes.\n",
              Between(Log(), "\nOpening value 'V'", ""));
}

TEST(WindowsVersion, EveryRowOfTheTable)
{
    const WORD x86 = PROCESSOR_ARCHITECTURE_INTEL, x64 = PROCESSOR_ARCHITECTURE_AMD64;
    const struct { DWORD platform, major, minor; const char *csd; BYTE product; WORD arch; int r2; const char *text; } rows[] = {
        { 0, 3, 10, "", 0, x86, 0, "Microsoft Win32s " }, { 1, 4, 0, " C", 0, x86, 0, "Microsoft Windows 95 OSR2  C" },
        { 1, 4, 0, " B", 0, x86, 0, "Microsoft Windows 95 OSR2  B" }, { 1, 4, 0, " A", 0, x86, 0, "Microsoft Windows 95  A" },
        { 1, 4, 10, " A", 0, x86, 0, "Microsoft Windows 98 SE  A" }, { 1, 4, 10, " B", 0, x86, 0, "Microsoft Windows 98 SE  B" },
        { 1, 4, 10, " C", 0, x86, 0, "Microsoft Windows 98  C" }, { 1, 4, 20, "", 0, x86, 0, "[Unknown] " },
        { 1, 4, 90, "", 0, x86, 0, "Microsoft Windows Millennium Edition " }, { 1, 5, 0, " A", 0, x86, 0, "[Unknown]  A" },
        { 2, 6, 0, "", 1, x86, 0, "Microsoft Windows Vista " }, { 2, 6, 0, "", 0, x86, 0, "Windows Server \"Longhorn\" " },
        { 2, 6, 0, "SP1", 3, x86, 0, "Windows Server \"Longhorn\" SP1" },
        { 2, 5, 2, "", 1, x64, 1, "Microsoft Windows Server 2003 \"R2\" " },
        { 2, 5, 2, "SP2", 1, x64, 0, "Microsoft Windows XP Professional x64 Edition SP2" },
        { 2, 5, 2, "", 1, x86, 0, "Microsoft Windows Server 2003 " }, { 2, 5, 2, "", 3, x64, 0, "Microsoft Windows Server 2003 " },
        { 2, 5, 1, "SP3", 1, x86, 1, "Microsoft Windows XP SP3" }, { 2, 5, 0, "", 1, x86, 0, "Microsoft Windows 2000 " },
        { 2, 4, 0, "SP6a", 1, x86, 0, "Microsoft Windows NT SP6a" }, { 2, 5, 3, "", 1, x86, 0, "[Unknown] " },
        { 2, 6, 1, "SP1", 1, x86, 0, "[Unknown] SP1" }, { 2, 0xFFFFFFFF, 0, "", 1, x86, 0, "[Unknown] " },
        { 3, 5, 1, "", 1, x86, 0, "[Unknown] " },
    };
    for (const auto &row : rows) {
        OSVERSIONINFOEXA v = { sizeof(v), row.major, row.minor, 0, row.platform };
        strcpy(v.szCSDVersion, row.csd), v.wProductType = row.product;
        char text[OS_VERSION_TEXT_SIZE];
        ComposeWindowsVersionText(text, &v, row.arch, row.r2);
        EXPECT_STREQ(row.text, text) << row.platform << " " << row.major << "." << row.minor << " " << (int)row.product;
    }
}

TEST_F(HostInfo, ServicePackTableIsKeyedOnTheRevisionAlone)
{
    const struct { const char *revision; int row; int levels[3]; } rows[] = {   // every level starts at 9
        { "1_0_3705_0", 0, { 0, 9, 9 } }, { "1_0_3705_209", 0, { 1, 9, 9 } }, { "1_0_3705_288", 0, { 2, 9, 9 } },
        { "1_0_3705_6018", 0, { 3, 9, 9 } }, { "1_1_4322_573", 1, { 9, 0, 9 } }, { "1_1_4322_2032", 1, { 9, 1, 9 } },
        { "1_1_4322_2300", 1, { 9, 1, 9 } }, { "2_0_50727_42", 2, { 9, 9, 0 } }, { "1_1_4322_999", 1, { 9, 0, 9 } },
        { "2_0_50727_1433", 2, { 9, 9, 0 } }, { "1_1_4322_2032", 2, { 9, 1, 9 } }, { "2_0_50727_42", 0, { 9, 9, 0 } },
    };
    for (const auto &row : rows) {
        TearDown(), SetUp(), SetText(NetKey, "InstallRoot", NetRoot);
        PlaceRuntime(row.row, "mscorlib_" + std::string(row.revision) + ".dll");
        EXPECT_EQ(1, DetectDotNetRuntimes()) << row.revision;
        for (int i = 0; i < DOTNET_RUNTIME_COUNT; i++)
            EXPECT_EQ(std::make_pair(int(i == row.row), row.levels[i]), std::make_pair(DotNetRuntimeTable[i].found,
                      DotNetRuntimeTable[i].servicePack)) << row.revision << " row " << i;
    }
}

TEST_F(HostInfo, SystemInformationPanelShowsWhatWasDetected)
{
    const std::string longRoot = "C:\\" + std::string(229, 'r') + "\\", found = "\n.NET v1.1 Runtime Found.\n";
    const std::string fieldsLog = Read("InstallRoot", NetKey, 1, SzText, 12) + "\nValue Data: C:\\NetRoot\\\n\n.NET v1.0 "
        "Runtime NOT Found.\n" + found + "File:                 C:\\NetRoot\\v1.1.4322\\mscorlib.dll\nMajorVersion:      "
        "   1\nMinorVersion:         1\nBuildNumber:          4322\nRevisionNumber (QFE): 2032\n\n.NET v2.0 Runtime Found."
        "\nFile:                 C:\\NetRoot\\v2.0.50727\\mscorlib.dll\nMajorVersion:         2\nMinorVersion:         0\n"
        "BuildNumber:          50727\nRevisionNumber (QFE): 42\n" + Read("CurrentVersion", JdkKey, 1, SzText, 4) +
        "\nValue Data: 1.6\n\nQuerying System Directories and Info...\n";
    const struct { std::vector<const char *> ips; DWORD claimed; std::string root; std::vector<const char *> dlls;
                   const char *jdk, *fields[3]; std::string log; } rows[] = {
        { { "192.168.1.5", "127.0.0.1" }, 2, NetRoot, { "", "mscorlib_1_1_4322_2032.dll", "mscorlib_2_0_50727_42.dll" },
          "1.6", { "192.168.1.5 [private], 127.0.0.1 [local]", "v1.1 SP 1, v2.0 ", "v1.6" }, fieldsLog },
        // A table claiming three rows but holding one: the one address, and the system's count in the log.
        { { "10.0.0.1" }, 3, "", {}, nullptr, { "10.0.0.1 [private]", None, None }, "\nNumber of system IPs detected: 3\n" },
        { {}, 0, NetRoot, { "mscorlib_1_0_3705_6018.dll", "", "mscorlib_2_0_50727_42.dll" }, "", { "", "v1.0 SP 3v2.0 ",
          "v" }, "\n.NET v1.1 Runtime NOT Found.\n" },
        { {}, 0, longRoot, {}, nullptr, { "", "", None },
          "\n.NET v1.1 Runtime NOT Found.\n\n.NET v2.0 Runtime path too long for its buffer; runtime NOT Found.\n" },
        { {}, 0, NetRoot, { "", "qvx_module.dll" }, nullptr, { "", None, None },
          found + "GetFileVersionInfoSize() failed (1812).\n\nOpening value 'CurrentVersion'" },
        { {}, 0, NetRoot, { "", "mscorlib_no_fixed_info.dll" }, nullptr, { "", None, None }, found + "VerQueryValue(): "
          "The specified name does not exist or the specified resource is not valid.\n\nOpening value 'CurrentVersion'" },
    };
    HWND dialog = CreateBareDialog();
    ASSERT_NE(nullptr, dialog);
    for (const auto &row : rows) {
        TearDown(), SetUp(), Addresses = row.ips, Claimed = row.claimed;
        if (!row.root.empty()) SetText(NetKey, "InstallRoot", row.root);
        for (size_t i = 0; i < row.dlls.size(); i++) if (*row.dlls[i]) PlaceRuntime(i, row.dlls[i]);
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

TEST(BoundedText, CutOrRefusedNeverBeyondTheBuffer)
{
    const struct { const char *before; size_t size; const char *text; int cut, result; const char *after; } rows[] = {
        { "ab", 6, "cde", 1, 1, "abcde" }, { "ab", 6, "cdef", 1, 0, "abcde" }, { "ab", 6, "cdef", 0, 0, "ab" },
        { "abcde", 6, "f", 1, 0, "abcde" }, { "abcde", 6, "", 0, 1, "abcde" }, { "", 1, "a", 1, 0, "" },
    };
    for (const auto &row : rows) {
        char text[8] = "#######";
        strcpy(text, row.before);
        EXPECT_EQ(row.result, AppendBoundedText(text, row.size, row.text, row.cut)) << row.before << "+" << row.text;
        EXPECT_EQ(std::string(row.after) + '\0' + std::string(6 - strlen(row.after), '#'), std::string(text, 7));
    }
    char text[4] = "ab";
    EXPECT_EQ(0, CopyBoundedText(text, 3, "xyz", 0));
    EXPECT_EQ(std::string("\0b", 3), std::string(text, 3)) << "a refused copy leaves the buffer empty";
    EXPECT_EQ(0, CopyBoundedText(text, 3, "xyz", 1));
    EXPECT_STREQ("xy", text);
}
}  // namespace
