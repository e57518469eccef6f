// Host information: the panel, suite paths, registry reader, Windows versions.
#include <gtest/gtest.h>
#include "hostinfo/hostinfo.h"
#include "log/log.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/test_support.h"

namespace
{
const char *const NetKey = "SOFTWARE\\Microsoft\\.NETFramework";
const char *const JdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit";

void SetValue(const char *key, const char *name, DWORD type, const std::string &data)
{
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, name, type, data.data(), (DWORD)data.size());
}

UINT WINAPI NoDirectory(LPSTR, UINT)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

UINT WINAPI Directory(LPSTR directory, UINT size)
{
    return strlen(lstrcpynA(directory, std::string(248, 's').c_str(), size));
}

DWORD WINAPI ProgramFile(HANDLE, HMODULE, LPSTR path, DWORD size)
{
    return strlen(lstrcpynA(path, "D:\\tools\\ctl.exe", size));
}

// NET and JDK fields; the paths report with texts at the limits of their buffers.
TEST(HostInfo, SystemInformation)
{
    const struct {
        const char *revisions[3]; // of 1.0, 1.1, 2.0 (tests/fixtures)
        const char *field;
    } rows[] = {
        { { "209", "2300", "42" }, "v1.0 SP 1, v1.1 SP 1, v2.0 " },
        { { "6018", "573", "1433" }, "v1.0 SP 3, v1.1 , v2.0 " },
        // The revision alone sets a level, whichever directory holds the file.
        { { "288", nullptr, "2032" }, "v1.0 SP 2v2.0 SP 9" },
        { { nullptr, nullptr, nullptr }, "" },
        // A version block longer than its resource.
        { { nullptr, "corrupt_length", nullptr }, "[not detected]" },
    };
    const char *const directories[] = { "C:\\NetRoot\\v1.0.3705", "C:\\NetRoot\\v1.1.4322",
                                        "C:\\NetRoot\\v2.0.50727" };
    HWND dialog = CreateBareDialog();
    PathsCalls.pGetWindowsDirectoryA = NoDirectory;
    PathsCalls.pGetSystemDirectoryA = Directory;
    PathsCalls.pGetModuleFileNameExA = ProgramFile;
    SetEnvironmentVariableA("PATH", "C:\\bin");
    SetEnvironmentVariableA("JAVA_HOME", std::string(2048, 'j').c_str());
    SetEnvironmentVariableA("CATALINA_HOME", std::string(2047, 'c').c_str());
    CreateDirectoryA("C:\\NetRoot", NULL);
    SetValue(NetKey, "InstallRoot", REG_SZ, "C:\\NetRoot\\");
    SetValue(JdkKey, "CurrentVersion", REG_SZ, "1.6");
    OpenFreshControllerLog();
    for (const auto &row : rows) {
        for (int i = 0; i < 3; i++) {
            std::string file = directories[i] + std::string("\\mscorlib.dll");
            std::string fixture = TestBinDirectory() + "mscorlib_";
            CreateDirectoryA(directories[i], NULL);
            DeleteFileA(file.c_str());
            DotNetRuntimeTable[i].servicePack = 9; // where no file sets a level
            if (row.revisions[i] != nullptr)
                CopyFileA((fixture + row.revisions[i] + ".dll").c_str(), file.c_str(), FALSE);
        }

        FillSystemInformation(dialog);

        EXPECT_EQ(row.field, DialogItemText(dialog, IDC_NET_VERSION));
    }
    EXPECT_EQ("v1.6", DialogItemText(dialog, IDC_JDK_VERSION));

    RegDeleteTreeA(HKEY_LOCAL_MACHINE, NetKey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, JdkKey);
    FillSystemInformation(dialog);
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_NET_VERSION));
    EXPECT_EQ("[not detected]", DialogItemText(dialog, IDC_JDK_VERSION));
    ControllerLogClose();
    EXPECT_EQ("", LogMismatch(ReadControllerLog(), ExpectedText("hostinfo_panel.log"),
                              { { "SYSTEM", std::string(248, 's') },
                                { "CATALINA", std::string(2047, 'c') } }));
    PathsCalls = PathsSystemCallsDefault;
    DestroyControllerDialog(dialog);
}

TEST(HostInfo, RegistryReader)
{
    const struct {
        DWORD type;
        std::string data;
        DWORD capacity;
        const char *text; // null: not read
    } rows[] = {
        { REG_EXPAND_SZ, std::string("%SystemRoot%\\j\0", 15), 15, "%SystemRoot%\\j" },
        { REG_MULTI_SZ, std::string("1.5\0001.6\0\0", 9), 16, nullptr },
        { REG_QWORD, std::string(8, '*'), 16, nullptr },
        { REG_SZ, "0123456789", 10, "012345678" },
    };
    OpenFreshControllerLog();
    for (const auto &row : rows) {
        SetValue(NetKey, "V", row.type, row.data);
        std::string text(16, '#');

        int read = ReadRegistryString(NetKey, "V", &text[0], row.capacity, NULL, NULL);

        EXPECT_EQ(row.text ? 1 : 0, read);
        std::string copied = row.text ? row.text + std::string(1, '\0') : "";
        EXPECT_EQ(copied + std::string(16 - copied.size(), '#'), text);
    }
    ControllerLogClose();
    EXPECT_EQ(ExpectedText("hostinfo_registry.log"), ReadControllerLog());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, NetKey);
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
        { 1, 4, 10, " B", MW "98 SE  B" },
        { 1, 4, 90, "", MW "Millennium Edition " },
        { 2, 6, 0, "", MW "Vista ", 1 },
        { 2, 6, 0, "SP1", "Windows Server \"Longhorn\" SP1", 3 },
        { 2, 5, 2, "", MW "Server 2003 \"R2\" ", 1, 9, 1 },
        { 2, 5, 2, "SP2", MW "XP Professional x64 Edition SP2", 1, 9 },
        { 2, 5, 2, "", MW "Server 2003 ", 1 },
        { 2, 5, 1, "SP3", MW "XP SP3", 1, 0, 1 },
        { 2, 5, 0, "", MW "2000 " },
        { 2, 4, 0, "SP6a", MW "NT SP6a" },
        { 2, 6, 1, "SP1", "[Unknown] SP1", 1 },
    };
    for (const auto &row : rows) {
        OSVERSIONINFOEXA version = { sizeof(version), row.major, row.minor, 0, row.platform };
        strcpy(version.szCSDVersion, row.servicePack);
        version.wProductType = row.productType;
        char text[OS_VERSION_TEXT_SIZE];

        ComposeWindowsVersionText(text, &version, row.architecture, row.serverR2);

        EXPECT_STREQ(row.text, text);
    }
}
} // namespace
