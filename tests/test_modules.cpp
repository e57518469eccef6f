// Module lists: the web server's modules sorted into the three list boxes, walked through a Tool
// Help stand-in (here no process can read another's modules).
#include <gtest/gtest.h>
#include "log/log.h"
#include "modules/modules.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_support.h"

namespace
{
typedef std::vector<std::string> Names;

Names Walk; // the modules of process 4242, the only process the stand-in can read
size_t WalkAt;
int OpenSnapshots;

HANDLE WINAPI Snapshot(DWORD flags, DWORD processId)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    if (flags != TH32CS_SNAPMODULE || processId != 4242)
        return INVALID_HANDLE_VALUE;
    WalkAt = 0;
    OpenSnapshots++;
    return (HANDLE)0x5150;
}

// The walk ends after the last module, or at once for an entry of another size than 548 bytes.
BOOL WINAPI Next(HANDLE, LPMODULEENTRY32 entry)
{
    SetLastError(ERROR_ACCESS_DENIED);
    if (entry->dwSize != 548 || WalkAt == Walk.size())
        return FALSE;
    lstrcpynA(entry->szModule, Walk[WalkAt++].c_str(), sizeof(entry->szModule));
    return TRUE;
}

BOOL WINAPI Close(HANDLE)
{
    OpenSnapshots--;
    return TRUE;
}

// Fills the lists: the result, what each list box shows, what the fill logged.
void ExpectFill(HWND dialog, int result, const Names &suite, const Names &php, const Names &apache,
                const std::string &log)
{
    OpenFreshControllerLog();
    EXPECT_EQ(result, FillModuleLists(dialog));
    EXPECT_EQ(suite, ListBoxTexts(dialog, IDC_SUITE_MODULES));
    EXPECT_EQ(php, ListBoxTexts(dialog, IDC_PHP_EXTENSIONS));
    EXPECT_EQ(apache, ListBoxTexts(dialog, IDC_APACHE_MODULES));
    ControllerLogClose();
    EXPECT_EQ(log, ReadControllerLog());
}

std::string WalkLog()
{
    std::string log = "\nEnumerating Process Modules...\n";
    for (const std::string &name : Walk)
        log += name + " ";
    return log + "\n";
}

TEST(ModuleLists, SortedByPrefixBoundedAt256RefilledOrShownAsPlaceholders)
{
    HWND dialog = CreateBareDialog();
    ServiceEntry &server = ServiceTable.entries[SERVICE_INDEX_APACHE];
    ModuleCalls = { Snapshot, Next, Next, Close };
    server.bInstalled = 1;
    server.ssStatus.dwCurrentState = SERVICE_RUNNING;
    server.ssStatus.dwProcessId = 4242;

    // Every suite-module name, names that begin with one, letter case, and names listed nowhere.
    // A second fill shows the same.
    Walk = { "httpd.exe",        "mod_fastcgi.so",    "mod_deflate.so",  "mod_ssl.so",
             "mod_security2.so", "mod_perl.so",       "mod_fcgid.so",    "mod_aspdotnet.so",
             "mod_jk2.so",       "php5apache2_2.dll", "php4apache2.dll", "mod_ssl",
             "mod_rewrite.so",   "mod_ss.so",         "mod_fastcg.so",   "php_mysql.dll",
             "php5ts.dll",       "Mod_SSL.so",        "PHP_mysql.dll",   "php5apache.dll" };
    Names suite = { "mod_aspdotnet.so", "mod_deflate.so",  "mod_fastcgi.so",   "mod_fcgid.so",
                    "mod_jk2.so",       "mod_perl.so",     "mod_security2.so", "mod_ssl",
                    "mod_ssl.so",       "php4apache2.dll", "php5apache2_2.dll" };
    Names apache = { "mod_fastcg.so", "mod_rewrite.so", "mod_ss.so" };
    ExpectFill(dialog, 1, suite, { "php_mysql.dll" }, apache, WalkLog());
    ExpectFill(dialog, 1, suite, { "php_mysql.dll" }, apache, WalkLog());

    // A list takes 256 names; a name for a full list is dropped, not refused. The log names all.
    Walk = { "php_a.dll" };
    for (int i = 1001; i <= 1300; i++)
        Walk.push_back("mod_" + std::to_string(i) + ".so");
    apache.assign(Walk.begin() + 1, Walk.begin() + 257);
    ExpectFill(dialog, 1, {}, { "php_a.dll" }, apache, WalkLog());
    EXPECT_EQ(1, ClassifyModule("mod_full.so"));

    // A placeholder, or nothing after a failed walk, replaces the lists.
    server.ssStatus.dwCurrentState = SERVICE_START_PENDING;
    ExpectFill(dialog, 0, { "[not running]" }, { "[not running]" }, { "[not running]" }, "");
    server.ssStatus.dwCurrentState = SERVICE_RUNNING;
    server.ssStatus.dwProcessId = 0; // the snapshot would describe the controller itself
    ExpectFill(dialog, 0, { "[not running]" }, { "[not running]" }, { "[not running]" }, "");
    server.ssStatus.dwProcessId = 4243;
    ExpectFill(dialog, 0, {}, {}, {}, "CreateToolhelp32Snapshot() failed (87).\n");
    server.ssStatus.dwProcessId = 4242;
    Walk.clear();
    ExpectFill(dialog, 0, {}, {}, {}, "Module32First() failed (5).\n");
    server.bInstalled = 0;
    ExpectFill(dialog, 0, { "[not installed]" }, { "[not installed]" }, { "[not installed]" }, "");
    EXPECT_EQ(0, OpenSnapshots) << "a snapshot was left open";

    ModuleCalls = ModuleWalkCallsDefault;
    DestroyWindow(dialog);
}
} // namespace
