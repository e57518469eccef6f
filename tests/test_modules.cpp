// Module lists: module names sorted into the three lists, and the list boxes
// filled from the web server's row through a Tool Help stand-in (under the
// emulation here no process can read another's module list).
#include <gtest/gtest.h>
#include "app/controller.h"
#include "log/log.h"
#include "modules/modules.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_support.h"

namespace
{
typedef std::vector<std::string> Names;
Names Walk;
bool PrivilegedAtSnapshot; // Walk: the modules of process 4242, the only one the stand-in knows
HANDLE const Snap = (HANDLE)0x5150;
size_t WalkAt;
DWORD FirstError, Flags, EntrySize;
int Snapshots, Closes;
bool DebugPrivilege(bool disableAll)
{ // whether it is enabled, after disabling all when asked
    HANDLE token = NULL;
    PRIVILEGE_SET set = { 1, PRIVILEGE_SET_ALL_NECESSARY, {} };
    BOOL held = FALSE;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &token);
    if (disableAll)
        AdjustTokenPrivileges(token, TRUE, NULL, 0, NULL, NULL);
    LookupPrivilegeValueA(NULL, "SeDebugPrivilege", &set.Privilege[0].Luid);
    PrivilegeCheck(token, &set, &held);
    return CloseHandle(token), held;
}
HANDLE WINAPI Snapshot(DWORD flags, DWORD pid)
{
    Snapshots++, Flags = flags, WalkAt = 0, PrivilegedAtSnapshot = DebugPrivilege(false);
    return pid == 4242 ? Snap : (SetLastError(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE);
}
BOOL WINAPI Next(HANDLE, LPMODULEENTRY32 entry)
{
    if (EntrySize = entry->dwSize, WalkAt == Walk.size())
        return SetLastError(ERROR_NO_MORE_FILES), FALSE;
    return snprintf(entry->szModule, sizeof(entry->szModule), "%s", Walk[WalkAt++].c_str()) > 0;
}
BOOL WINAPI First(HANDLE h, LPMODULEENTRY32 entry)
{
    return FirstError ? SetLastError(FirstError), FALSE : Next(h, entry);
}
BOOL WINAPI Close(HANDLE h)
{
    return Closes += h == Snap, TRUE;
}
std::string WalkLog(const Names &names, std::string log = "\nEnumerating Process Modules...\n")
{
    for (const std::string &name : names)
        log += name + " ";
    return log + "\n";
}
struct ModuleListBoxes : ::testing::Test {
    void SetUp() override
    {
        ModuleCalls = { Snapshot, First, Next, Close }, Snapshots = Closes = 0, FirstError = 0;
        dialog = CreateBareDialog(), Server(1, SERVICE_RUNNING, 4242), OpenFreshControllerLog(),
        DebugPrivilege(true);
    }
    void TearDown() override
    {
        ModuleCalls = ModuleWalkCallsDefault, Server(0, 0, 0), DestroyWindow(dialog),
        ControllerLogClose();
    }
    void Server(int installed, DWORD state, DWORD pid)
    {
        ServiceEntry &row = ServiceTable.entries[SERVICE_INDEX_APACHE];
        row.bInstalled = installed, row.ssStatus.dwCurrentState = state,
        row.ssStatus.dwProcessId = pid;
    }
    void Expect(int result, const Names &suite, const Names &php, const Names &apache,
                const std::string &log)
    {
        EXPECT_EQ(result, FillModuleLists(dialog));
        EXPECT_EQ(suite, ListBoxTexts(dialog, IDC_SUITE_MODULES));
        EXPECT_EQ(php, ListBoxTexts(dialog, IDC_PHP_EXTENSIONS));
        EXPECT_EQ(apache, ListBoxTexts(dialog, IDC_APACHE_MODULES));
        ControllerLogFlush();
        EXPECT_EQ(log, ReadControllerLog());
        OpenFreshControllerLog();
    }
    HWND dialog;
};

// Every suite-module name, names that begin with one, letter case, and libraries listed nowhere.
TEST_F(ModuleListBoxes, RunningServersModulesGoToTheirListsSortedAndARefillAddsNoDuplicates)
{
    Walk = { "httpd.exe",
             "mod_fastcgi.so",
             "mod_deflate.so",
             "mod_ssl.so",
             "mod_security2.so",
             "mod_perl.so",
             "mod_fcgid.so",
             "mod_aspdotnet.so",
             "mod_jk2.so",
             "php5apache2_2.dll",
             "php4apache2.dll",
             "mod_ssl",
             "mod_rewrite.so",
             "mod_ss.so",
             "mod_fastcg.so",
             "php_mysql.dll",
             "php5ts.dll",
             "libapr-1.dll",
             "Mod_SSL.so",
             "PHP_mysql.dll",
             "php5apache.dll",
             "mod",
             "php" };
    for (int fill = 0; fill < 2; fill++)
        Expect(1,
               { "mod_aspdotnet.so", "mod_deflate.so", "mod_fastcgi.so", "mod_fcgid.so",
                 "mod_jk2.so", "mod_perl.so", "mod_security2.so", "mod_ssl", "mod_ssl.so",
                 "php4apache2.dll", "php5apache2_2.dll" },
               { "php_mysql.dll" }, { "mod_fastcg.so", "mod_rewrite.so", "mod_ss.so" },
               WalkLog(Walk));
    EXPECT_EQ((DWORD)TH32CS_SNAPMODULE, Flags);
    EXPECT_EQ((DWORD)548, EntrySize);
    EXPECT_TRUE(PrivilegedAtSnapshot) << "the debug privilege was not enabled before the snapshot";
    EXPECT_EQ(2, Closes);
}

// Placeholders replace an earlier fill without a walk; a failed walk logs its line, lists nothing.
TEST_F(ModuleListBoxes, ServerNotInstalledNotRunningOrUnreadableShowsNoModules)
{
    const Names notRunning = { "[not running]" };
    const struct {
        int installed;
        DWORD state, pid, firstError;
        Names shown;
        const char *log;
    } cases[] = {
        { 0, SERVICE_RUNNING, 4242, 0, { "[not installed]" }, "" },
        { 1, SERVICE_STOPPED, 0, 0, notRunning, "" },
        { 1, SERVICE_START_PENDING, 4242, 0, notRunning, "" },
        { 1, SERVICE_STOP_PENDING, 4242, 0, notRunning, "" },
        { 1, SERVICE_RUNNING, 0, 0, notRunning, "" }, // process 0 would be the controller itself
        { 1, SERVICE_RUNNING, 4243, 0, {}, "CreateToolhelp32Snapshot() failed (87).\n" },
        { 1, SERVICE_RUNNING, 4242, ERROR_ACCESS_DENIED, {}, "Module32First() failed (5).\n" }
    };
    for (const auto &c : cases) {
        Walk = { "mod_ssl.so" }, FirstError = 0, Server(1, SERVICE_RUNNING, 4242);
        Expect(1, { "mod_ssl.so" }, {}, {}, WalkLog(Walk));
        Server(c.installed, c.state, c.pid), FirstError = c.firstError;
        Expect(0, c.shown, c.shown, c.shown, c.log);
    }
    EXPECT_EQ(9, Snapshots);
    EXPECT_EQ(8, Closes) << "a snapshot was left open";
}
TEST_F(ModuleListBoxes, AListTakesAtMost256NamesAndTheLogNamesEveryModule)
{
    Walk = { "php_a.dll" };
    for (int i = 1001; i <= 1300; i++)
        Walk.push_back("mod_x" + std::to_string(i).substr(1) + ".so");
    Expect(1, {}, { "php_a.dll" }, Names(Walk.begin() + 1, Walk.begin() + 257), WalkLog(Walk));
    EXPECT_EQ(1, ClassifyModule("mod_y.so")) << "a name for a full list is dropped, not refused";
    EXPECT_EQ((DWORD)45, ModuleLists.apacheModules.dwDropped);
}
} // namespace
