// Host information, suite paths, registry: the paths and environment log, the registry reader, the version and
// service-pack tables, the System Information panel. Expected logs: tests/expected/hostinfo_*.log.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include "app/controller.h"
#include "log/log.h"
#include "hostinfo/hostinfo.h"
#include "network/network.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace
{
const char *const TestKey = "SOFTWARE\\QuorvexTest", *const NetKey =
                                                         "SOFTWARE\\Microsoft\\.NETFramework";
const char *const JdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit", *const None =
                                                                           "[not detected]";
const char *const NetRoot = "C:\\NetRoot\\", *const RuntimeDirs[] = { "v1.0.3705\\", "v1.1.4322\\",
                                                                      "v2.0.50727\\" };
void SetValue(const char *key, const char *name, const std::string &data, DWORD type = REG_SZ)
{
    HKEY handle;
    ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle,
                                 NULL))
        << key;
    EXPECT_EQ(0,
              RegSetValueExA(handle, name, 0, type, (const BYTE *)data.data(), (DWORD)data.size()))
        << name;
    RegCloseKey(handle);
}
void SetText(const char *key, const char *name, const std::string &text)
{
    SetValue(key, name, text + '\0');
}
// Machine facts of a stand-in system: each call fails with FactsFail, the path query with Exe null.
bool FactsFail;
const char *Exe;
std::string SystemDir;
BOOL WINAPI Name(LPSTR b, LPDWORD)
{
    SetLastError(1332);
    return !FactsFail && strcpy(b, "tester");
}
UINT WINAPI Dir(LPSTR b, UINT n)
{
    SetLastError(5);
    return FactsFail ? 0 : strlen(lstrcpynA(b, SystemDir.c_str(), n));
}
DWORD WINAPI Module(HANDLE, HMODULE, LPSTR b, DWORD n)
{
    SetLastError(299);
    return Exe ? strlen(lstrcpynA(b, Exe, n)) : 0;
}
DWORD WINAPI NoJava(LPCSTR s, LPSTR d, DWORD n)
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
    if (*size < needed)
        return *size = needed, ERROR_INSUFFICIENT_BUFFER;
    MIB_IPADDRTABLE *rows = (MIB_IPADDRTABLE *)memset(table, 0, needed);
    for (size_t i = 0; i < Addresses.size(); i++)
        rows->table[i].dwAddr = inet_addr(Addresses[i]);
    return rows->dwNumEntries = Claimed, NO_ERROR;
}
class HostInfo : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        PathsCalls = { Name,          Name,
                       Dir,           Dir,
                       Module,        ExpandEnvironmentStringsA,
                       RegOpenKeyExA, RegQueryValueExA,
                       RegCloseKey };
        NetworkCalls.pGetIpAddrTable = IpTable;
        FactsFail = false, Exe = "D:\\tools\\ctl.exe", SystemDir = "C:\\windows";
        SetEnvironmentVariableA("PATH", "C:\\bin"),
            SetEnvironmentVariableA("CATALINA_HOME", "C:\\tomcat");
        for (DotNetRuntime &row : DotNetRuntimeTable)
            row.found = 0, row.servicePack = 9;
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        PathsCalls = PathsSystemCallsDefault, NetworkCalls = NetworkSystemCallsDefault;
        for (const char *key : { TestKey, JdkKey, NetKey })
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
        for (const char *dir : RuntimeDirs)
            DeleteFileA((NetRoot + std::string(dir) + "mscorlib.dll").c_str());
    }
    std::string Log()
    {
        ControllerLogClose();
        std::string l = ReadControllerLog();
        return OpenFreshControllerLog(), l;
    }
};

TEST_F(HostInfo, SuitePathsFromTheProgramsDriveAndTheEnvironmentReport)
{
    // From drive D:, a network path, with every fact failing, a system directory the hosts directory cuts at 259
    // characters; JAVA_HOME undefined, of 2047 characters, of 2048, and failing, which ends the report.
    const struct {
        const char *exe;
        size_t java;
        int result;
        size_t system;
    } rows[] = { { "D:\\tools\\ctl.exe", 0, 1 },
                 { "\\\\host\\share\\ctl.exe", 2047, 1 },
                 { nullptr, 2048, 1 },
                 { "C:\\ctl.exe", 0, 0 },
                 { "C:\\ctl.exe", 0, 1, 248 } };
    std::string log;
    for (const auto &row : rows) {
        Exe = row.exe, FactsFail = !row.exe,
        SystemDir = row.system ? std::string(row.system, 's') : "C:\\windows";
        SetEnvironmentVariableA("JAVA_HOME", row.java ? std::string(row.java, 'j').c_str() : NULL);
        PathsCalls.pExpandEnvironmentStringsA = row.result ? ExpandEnvironmentStringsA : NoJava;
        EXPECT_EQ(row.result, SuitePathsQuery());
        log += Log();
    }
    EXPECT_EQ(ExpectedText("hostinfo_paths.log"), log);
}

TEST_F(HostInfo, RegistryReaderAcceptsOnlyTextWithinTheCallersCapacity)
{
    const std::string digits("0123456789", 11);
    const struct {
        DWORD type;
        std::string data;
        DWORD capacity;
        const char *text;
    } rows[] = {
        { REG_SZ, std::string("1.6\0", 4), 32, "1.6" },
        { REG_EXPAND_SZ, std::string("%SystemRoot%\\j\0", 15), 32, "%SystemRoot%\\j" },
        { REG_MULTI_SZ,
          std::string("1.5\0"
                      "1.6\0\0",
                      9),
          32, nullptr },
        { REG_QWORD, std::string(8, '\x2a'), 32, nullptr },
        { REG_SZ, digits, 1, "" },
        { REG_SZ, digits, 10, "012345678" },
        { REG_SZ, digits, 11, "0123456789" },
        { REG_SZ, digits, 0, nullptr },
    };
    for (const auto &row : rows) {
        SetValue(TestKey, "V", row.data, row.type);
        char text[40];
        DWORD size = 77, type = 77;
        memset(text, '#', sizeof(text));
        EXPECT_EQ(row.text ? 1 : 0,
                  ReadRegistryString(TestKey, "V", text, row.capacity, &size, &type));
        std::string copied =
            row.text ? row.text + std::string(1, '\0') : ""; // and nothing written beyond it
        EXPECT_EQ(copied + std::string(40 - copied.size(), '#'), std::string(text, 40))
            << row.capacity;
        EXPECT_EQ(row.text ? row.data.size() : 77u, size);
        EXPECT_EQ(row.text ? row.type : 77u, type);
    }
    char text[16];
    EXPECT_EQ(
        0, ReadRegistryString("SOFTWARE\\QuorvexTest\\None", "V", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Missing", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(ExpectedText("hostinfo_registry.log"), Log());
}

TEST(WindowsVersion, EveryRowOfTheTable)
{
#define MW "Microsoft Windows "
    const struct {
        DWORD platform, major, minor;
        const char *text, *csd;
        BYTE product;
        WORD arch;
        int r2;
    } rows[] = {
        { 0, 3, 10, "Microsoft Win32s ", "" },
        { 1, 4, 0, MW "95 OSR2  C", " C" },
        { 1, 4, 0, MW "95 OSR2  B", " B" },
        { 1, 4, 0, MW "95  A", " A" },
        { 1, 4, 10, MW "98 SE  A", " A" },
        { 1, 4, 10, MW "98 SE  B", " B" },
        { 1, 4, 10, MW "98  C", " C" },
        { 1, 4, 20, "[Unknown] ", "" },
        { 1, 4, 90, MW "Millennium Edition ", "" },
        { 1, 5, 0, "[Unknown]  A", " A" },
        { 2, 6, 0, MW "Vista ", "", 1 },
        { 2, 5, 0, MW "2000 ", "" },
        { 2, 6, 0, "Windows Server \"Longhorn\" ", "" },
        { 2, 6, 0, "Windows Server \"Longhorn\" SP1", "SP1", 3 },
        { 2, 5, 2, MW "Server 2003 \"R2\" ", "", 1, 9, 1 },
        { 2, 5, 2, MW "Server 2003 ", "", 1 },
        { 2, 5, 2, MW "XP Professional x64 Edition SP2", "SP2", 1, 9 },
        { 2, 5, 2, MW "Server 2003 ", "", 3, 9 },
        { 2, 5, 1, MW "XP SP3", "SP3", 1, 0, 1 },
        { 2, 4, 0, MW "NT SP6a", "SP6a" },
        { 2, 5, 3, "[Unknown] ", "" },
        { 2, 6, 1, "[Unknown] SP1", "SP1", 1 },
        { 2, 0xFFFFFFFF, 0, "[Unknown] ", "" },
        { 3, 5, 1, "[Unknown] ", "" },
    }; // architecture 0 is x86, 9 AMD64
    for (const auto &row : rows) {
        OSVERSIONINFOEXA v = { sizeof(v), row.major, row.minor, 0, row.platform };
        strcpy(v.szCSDVersion, row.csd), v.wProductType = row.product;
        char text[OS_VERSION_TEXT_SIZE];
        ComposeWindowsVersionText(text, &v, row.arch, row.r2);
        EXPECT_STREQ(row.text, text)
            << row.platform << " " << row.major << "." << row.minor << " " << (int)row.product;
    }
}

TEST_F(HostInfo, SystemInformationPanelShowsWhatWasDetected)
{
    const std::string longRoot = "C:\\" + std::string(229, 'r') + "\\",
                      found = "\n.NET v1.1 Runtime Found.\n";
    const char *const jdk = "\nOpening value 'CurrentVersion'";
    const struct {
        std::vector<const char *> ips;
        DWORD claimed;
        std::string root;
        const char *dlls[3], *jdk, *fields[3];
        std::string log;
    } rows[] = {
        { { "192.168.1.5", "127.0.0.1" },
          2,
          NetRoot,
          { nullptr, "1_1_4322_2032", "2_0_50727_42" },
          "1.6",
          { "192.168.1.5 [private], 127.0.0.1 [local]", "v1.1 SP 1, v2.0 ", "v1.6" },
          ExpectedText("hostinfo_dotnet_jdk.log") },
        // A table claiming three rows but holding one: the one address, and the system's count in the log.
        { { "10.0.0.1" },
          3,
          "",
          {},
          nullptr,
          { "10.0.0.1 [private]", None, None },
          "\nNumber of system IPs detected: 3\n" },
        // Service-pack levels (each starts at 9) set by the revision alone; ", " only before a runtime found.
        { {},
          0,
          NetRoot,
          { "1_0_3705_0", "1_1_4322_573", "2_0_50727_42" },
          "",
          { "", "v1.0 , v1.1 , v2.0 ", "v" } },
        { {},
          0,
          NetRoot,
          { "1_0_3705_209", "1_1_4322_2032", "2_0_50727_1433" },
          nullptr,
          { "", "v1.0 SP 1, v1.1 SP 1, v2.0 ", None } },
        { {},
          0,
          NetRoot,
          { "1_0_3705_288", "1_1_4322_2300" },
          nullptr,
          { "", "v1.0 SP 2, v1.1 SP 1", None } },
        { {},
          0,
          NetRoot,
          { "1_0_3705_6018", "1_1_4322_999" },
          nullptr,
          { "", "v1.0 SP 3, v1.1 ", None } },
        { {},
          0,
          NetRoot,
          { "2_0_50727_42", nullptr, "1_1_4322_2032" },
          nullptr,
          { "", "v1.0 SP 9v2.0 ", None } },
        { {}, 0, NetRoot, { nullptr, "1_0_3705_288" }, nullptr, { "", "v1.1 SP 9", None } },
        { {},
          0,
          longRoot,
          {},
          nullptr,
          { "", "", None }, // 1.1's path just fits, 2.0's not
          "\n.NET v1.1 Runtime NOT Found.\n\n.NET v2.0 Runtime path too long for its buffer; "
          "runtime NOT Found.\n" },
        { {},
          0,
          NetRoot,
          { nullptr, "no_version" },
          nullptr,
          { "", None, None },
          found + "GetFileVersionInfoSize() failed (1812).\n" + jdk },
        { {},
          0,
          NetRoot,
          { nullptr, "no_fixed_info" },
          nullptr,
          { "", None, None },
          found +
              "VerQueryValue(): The "
              "specified name does not exist or the specified resource is not valid.\n" +
              jdk },
    };
    HWND dialog = CreateBareDialog();
    ASSERT_NE(nullptr, dialog);
    for (const auto &row : rows) {
        TearDown(), SetUp(), Addresses = row.ips, Claimed = row.claimed;
        if (!row.root.empty())
            SetText(NetKey, "InstallRoot", row.root);
        for (int i = 0; i < 3; i++) { // stand-in mscorlib.dll files of those versions
            std::string dir = NetRoot + std::string(RuntimeDirs[i]);
            std::string from =
                TestBinDirectory() + "mscorlib_" + (row.dlls[i] ? row.dlls[i] : "") + ".dll";
            CreateDirectoryA(NetRoot, NULL), CreateDirectoryA(dir.c_str(), NULL);
            if (row.dlls[i])
                CopyFileA(from.c_str(), (dir + "mscorlib.dll").c_str(), FALSE);
        }
        if (row.jdk)
            SetText(JdkKey, "CurrentVersion", row.jdk);
        EXPECT_EQ(1, FillSystemInformation(dialog));
        const int ids[] = { IDC_IP_ADDRESS, IDC_NET_VERSION, IDC_JDK_VERSION };
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(row.fields[i], DialogItemText(dialog, ids[i])) << row.log;
        EXPECT_EQ("[Unknown] Service Pack 1", DialogItemText(dialog, IDC_OS_VERSION));
        EXPECT_NE(std::string::npos, Log().find(row.log)) << row.log;
    }
    DestroyControllerDialog(dialog);
}
} // namespace
