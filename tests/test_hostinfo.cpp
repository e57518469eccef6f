// Host information, suite paths, registry: the paths and environment log, the registry reader, the version and
// service-pack tables, the System Information panel. Expected logs: tests/expected/hostinfo_*.log.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <fstream>
#include "app/controller.h"
#include "hostinfo/hostinfo.h"
#include "network/network.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {
const char *const TestKey = "SOFTWARE\\QuorvexTest", *const NetRoot = "C:\\NetRoot\\", *const None = "[not detected]";
const char *const JdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit", *const NetKey = "SOFTWARE\\Microsoft\\.NETFramework";
const char *const RuntimeDirs[] = { "v1.0.3705\\", "v1.1.4322\\", "v2.0.50727\\" };

std::string Expected(const char *name) {
    std::ifstream in(TestBinDirectory() + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void SetValue(const char *key, const char *name, const std::string &data, DWORD type = REG_SZ) {
    HKEY handle;
    ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL)) << key;
    EXPECT_EQ(0, RegSetValueExA(handle, name, 0, type, (const BYTE *)data.data(), (DWORD)data.size())) << name;
    RegCloseKey(handle);
}
void SetText(const char *key, const char *name, const std::string &text) { SetValue(key, name, text + '\0'); }

// Machine facts of a stand-in system; with FactsFail each call fails.
bool FactsFail;
const char *ProcessPath;   // null: the query fails
std::string SystemDir;
BOOL WINAPI Name(LPSTR b, LPDWORD) { SetLastError(1332); return !FactsFail && strcpy(b, "tester"); }
UINT WINAPI Dir(LPSTR b, UINT n) { SetLastError(5); return FactsFail ? 0 : strlen(lstrcpynA(b, SystemDir.c_str(), n)); }
DWORD WINAPI Module(HANDLE, HMODULE, LPSTR b, DWORD n)
{ SetLastError(299); return ProcessPath ? strlen(lstrcpynA(b, ProcessPath, n)) : 0; }
DWORD WINAPI FailJava(LPCSTR s, LPSTR d, DWORD n)
{ SetLastError(1234); return strcmp(s, "%JAVA_HOME%") ? ExpandEnvironmentStringsA(s, d, n) : 0; }

// An address table claiming `Claimed` rows and holding those of Addresses.
std::vector<const char *> Addresses;
DWORD Claimed;
DWORD WINAPI IpTable(void *table, PULONG size, BOOL) {
    ULONG needed = (ULONG)(sizeof(DWORD) + Addresses.size() * sizeof(MIB_IPADDRROW));
    if (*size < needed) return *size = needed, ERROR_INSUFFICIENT_BUFFER;
    MIB_IPADDRTABLE *rows = (MIB_IPADDRTABLE *)memset(table, 0, needed);
    for (size_t i = 0; i < Addresses.size(); i++) rows->table[i].dwAddr = inet_addr(Addresses[i]);
    return rows->dwNumEntries = Claimed, NO_ERROR;
}

class HostInfo : public ::testing::Test {
protected:
    void SetUp() override {
        PathsCalls = { Name, Name, Dir, Dir, Module, ExpandEnvironmentStringsA, RegOpenKeyExA, RegQueryValueExA, RegCloseKey };
        NetworkCalls.pGetIpAddrTable = IpTable;
        FactsFail = false, ProcessPath = "D:\\tools\\ctl.exe", SystemDir = "C:\\windows";
        SetEnvironmentVariableA("PATH", "C:\\bin"), SetEnvironmentVariableA("CATALINA_HOME", "C:\\tomcat");
        for (DotNetRuntime &row : DotNetRuntimeTable) row.found = 0, row.servicePack = 9;
        OpenFreshControllerLog();
    }
    void TearDown() override {
        PathsCalls = PathsSystemCallsDefault, NetworkCalls = NetworkSystemCallsDefault;
        for (const char *key : { TestKey, JdkKey, NetKey }) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
        for (const char *dir : RuntimeDirs) DeleteFileA((NetRoot + std::string(dir) + "mscorlib.dll").c_str());
    }
    std::string Log() { ControllerLogClose(); std::string log = ReadControllerLog(); return OpenFreshControllerLog(), log; }
    void PlaceRuntime(int row, const std::string &fixture) {   // a stand-in mscorlib.dll of that version
        std::string dir = NetRoot + std::string(RuntimeDirs[row]);
        CreateDirectoryA(NetRoot, NULL), CreateDirectoryA(dir.c_str(), NULL);
        ASSERT_TRUE(CopyFileA((TestBinDirectory() + fixture).c_str(), (dir + "mscorlib.dll").c_str(), FALSE));
    }
};

TEST_F(HostInfo, SuitePathsFromTheProgramsDriveAndTheEnvironmentReport) {
    // From drive D:, from a network path, with every fact failing; JAVA_HOME undefined, of 2047 characters, of 2048,
    // and a failing expansion, which ends the report.
    const struct { const char *process; size_t java; int result; } rows[] = {
        { "D:\\tools\\ctl.exe", 0, 1 }, { "\\\\host\\share\\ctl.exe", 2047, 1 }, { nullptr, 2048, 1 }, { "C:\\ctl.exe", 0, 0 },
    };
    std::string log;
    for (const auto &row : rows) {
        ProcessPath = row.process, FactsFail = !row.process;
        SetEnvironmentVariableA("JAVA_HOME", row.java ? std::string(row.java, 'j').c_str() : NULL);
        PathsCalls.pExpandEnvironmentStringsA = row.result ? ExpandEnvironmentStringsA : FailJava;
        EXPECT_EQ(row.result, SuitePathsQuery());
        log += Log();
    }
    EXPECT_EQ(Expected("hostinfo_paths.log"), log);
    // The hosts file's directory is cut at the member's 259 characters.
    for (const auto &row : { std::make_pair(247, "\\drivers\\etc"), std::make_pair(248, "\\drivers\\et") }) {
        SystemDir = std::string(row.first, 's'), SuitePathsQuery();
        EXPECT_EQ(SystemDir + row.second, SuitePaths.HostsFileDirectory);
    }
}

TEST_F(HostInfo, RegistryReaderAcceptsOnlyTextWithinTheCallersCapacity) {
    const std::string digits("0123456789", 11);
    const struct { DWORD type; std::string data; DWORD capacity; const char *text; } rows[] = {
        { REG_SZ, std::string("1.6\0", 4), 32, "1.6" }, { REG_EXPAND_SZ, std::string("%SystemRoot%\\j\0", 15), 32,
        "%SystemRoot%\\j" }, { REG_MULTI_SZ, std::string("1.5\0" "1.6\0\0", 9), 32, nullptr }, { REG_DWORD,
        std::string("\x2a\0\0\0", 4), 32, nullptr }, { REG_SZ, digits, 1, "" }, { REG_SZ, digits, 10, "012345678" },
        { REG_SZ, digits, 11, "0123456789" }, { REG_SZ, digits, 0, nullptr },
    };
    for (const auto &row : rows) {
        SetValue(TestKey, "V", row.data, row.type);
        char text[40];
        DWORD size = 77, type = 77;
        EXPECT_EQ(row.text ? 1 : 0, ReadRegistryString(TestKey, "V", (char *)memset(text, '#', 40), row.capacity, &size, &type));
        std::string copied = row.text ? row.text + std::string(1, '\0') : "";   // and nothing written beyond it
        EXPECT_EQ(copied + std::string(40 - copied.size(), '#'), std::string(text, 40)) << row.capacity;
        EXPECT_EQ(std::make_pair(row.text ? (DWORD)row.data.size() : 77u, row.text ? row.type : 77u), std::make_pair(size, type));
    }
    char text[16] = "untouched";
    EXPECT_EQ(0, ReadRegistryString("SOFTWARE\\QuorvexTest\\None", "V", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(0, ReadRegistryString(TestKey, "Missing", text, sizeof(text), NULL, NULL));
    EXPECT_EQ(std::string("untouched") + Expected("hostinfo_registry.log"), text + Log());
}

TEST(WindowsVersion, EveryRowOfTheTable) {
#define MW "Microsoft Windows "
    const WORD x64 = PROCESSOR_ARCHITECTURE_AMD64;   // x86 is 0
    const struct { DWORD platform, major, minor; const char *text, *csd; BYTE product; WORD arch; int r2; } rows[] = {
        { 0, 3, 10, "Microsoft Win32s ", "" }, { 1, 4, 0, MW "95 OSR2  C", " C" }, { 1, 4, 0, MW "95 OSR2  B", " B" },
        { 1, 4, 0, MW "95  A", " A" }, { 1, 4, 10, MW "98 SE  A", " A" }, { 1, 4, 10, MW "98 SE  B", " B" },
        { 1, 4, 10, MW "98  C", " C" }, { 1, 4, 20, "[Unknown] ", "" }, { 1, 4, 90, MW "Millennium Edition ", "" },
        { 1, 5, 0, "[Unknown]  A", " A" }, { 2, 6, 0, MW "Vista ", "", 1 }, { 2, 6, 0, "Windows Server \"Longhorn\" ", "" },
        { 2, 6, 0, "Windows Server \"Longhorn\" SP1", "SP1", 3 }, { 2, 5, 2, MW "Server 2003 \"R2\" ", "", 1, x64, 1 },
        { 2, 5, 2, MW "XP Professional x64 Edition SP2", "SP2", 1, x64 }, { 2, 5, 2, MW "Server 2003 ", "", 1 },
        { 2, 5, 2, MW "Server 2003 ", "", 3, x64 }, { 2, 5, 1, MW "XP SP3", "SP3", 1, 0, 1 }, { 2, 5, 0, MW "2000 ", "" },
        { 2, 4, 0, MW "NT SP6a", "SP6a" }, { 2, 5, 3, "[Unknown] ", "" }, { 2, 6, 1, "[Unknown] SP1", "SP1", 1 },
        { 2, 0xFFFFFFFF, 0, "[Unknown] ", "" }, { 3, 5, 1, "[Unknown] ", "" },
    };
    for (const auto &row : rows) {
        OSVERSIONINFOEXA v = { sizeof(v), row.major, row.minor, 0, row.platform };
        strcpy(v.szCSDVersion, row.csd), v.wProductType = row.product;
        char text[OS_VERSION_TEXT_SIZE];
        ComposeWindowsVersionText(text, &v, row.arch, row.r2);
        EXPECT_STREQ(row.text, text) << row.platform << " " << row.major << "." << row.minor << " " << (int)row.product;
    }
}

TEST_F(HostInfo, ServicePackTableIsKeyedOnTheRevisionAlone) {
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

TEST_F(HostInfo, SystemInformationPanelShowsWhatWasDetected) {
    const std::string longRoot = "C:\\" + std::string(229, 'r') + "\\", found = "\n.NET v1.1 Runtime Found.\n";
    const char *const jdk = "\nOpening value 'CurrentVersion'";
    const struct { std::vector<const char *> ips; DWORD claimed; std::string root; std::vector<const char *> dlls;
                   const char *jdk, *fields[3]; std::string log; } rows[] = {
        { { "192.168.1.5", "127.0.0.1" }, 2, NetRoot, { "", "mscorlib_1_1_4322_2032.dll", "mscorlib_2_0_50727_42.dll" },
          "1.6", { "192.168.1.5 [private], 127.0.0.1 [local]", "v1.1 SP 1, v2.0 ", "v1.6" }, Expected("hostinfo_dotnet_jdk.log") },
        // A table claiming three rows but holding one: the one address, and the system's count in the log.
        { { "10.0.0.1" }, 3, "", {}, nullptr, { "10.0.0.1 [private]", None, None }, "\nNumber of system IPs detected: 3\n" },
        { {}, 0, NetRoot, { "mscorlib_1_0_3705_6018.dll", "", "mscorlib_2_0_50727_42.dll" }, "", { "", "v1.0 SP 3v2.0 ",
          "v" }, "\n.NET v1.1 Runtime NOT Found.\n" },
        { {}, 0, longRoot, {}, nullptr, { "", "", None },   // 1.1's path just fits, 2.0's not
          "\n.NET v1.1 Runtime NOT Found.\n\n.NET v2.0 Runtime path too long for its buffer; runtime NOT Found.\n" },
        { {}, 0, NetRoot, { "", "qvx_module.dll" }, nullptr, { "", None, None }, found + "GetFileVersionInfoSize() failed (1812).\n" + jdk },
        { {}, 0, NetRoot, { "", "mscorlib_no_fixed_info.dll" }, nullptr, { "", None, None }, found + "VerQueryValue(): "
          "The specified name does not exist or the specified resource is not valid.\n" + jdk },
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
}  // namespace
