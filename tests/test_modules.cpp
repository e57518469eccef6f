// The loaded-module lists: names sorted into the three lists, the real
// Toolhelp walk of the web server's process (the test service loading one
// empty module of ours under web server module names), the placeholders and
// the three list boxes of the dialog template.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/controller.h"
#include "modules/modules.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/simulated_toolhelp.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

enum Kind { SUITE, PHP, APACHE, NONE };

const char *KindName(Kind kind)
{
    switch (kind) {
    case SUITE: return "Suite Modules";
    case PHP: return "PHP Extensions";
    case APACHE: return "Apache Modules";
    default: return "no list";
    }
}

void EmptyLists()
{
    ModuleLists.suiteModules.dwCount = 0;
    ModuleLists.phpExtensions.dwCount = 0;
    ModuleLists.apacheModules.dwCount = 0;
    ModuleLists.suiteModules.dwDropped = 0;
    ModuleLists.phpExtensions.dwDropped = 0;
    ModuleLists.apacheModules.dwDropped = 0;
}

std::vector<std::string> Names(const ModuleList &list)
{
    std::vector<std::string> names;
    for (DWORD i = 0; i < list.dwCount && i < MODULE_LIST_ENTRIES; i++) names.push_back(list.szNames[i]);
    return names;
}

Kind WhereIs(const std::string &name)
{
    for (const std::string &n : Names(ModuleLists.suiteModules)) if (n == name) return SUITE;
    for (const std::string &n : Names(ModuleLists.phpExtensions)) if (n == name) return PHP;
    for (const std::string &n : Names(ModuleLists.apacheModules)) if (n == name) return APACHE;
    return NONE;
}

struct ClassifyCase {
    const char *name;
    Kind kind;
};

// Every suite-module name, prefixes that merely begin with one, letter
// case, and the names the server's own libraries have.
const ClassifyCase ClassifyCases[] = {
    { "mod_fastcgi.so", SUITE },
    { "mod_deflate.so", SUITE },
    { "mod_ssl.so", SUITE },
    { "mod_security2.so", SUITE },
    { "mod_perl.so", SUITE },
    { "mod_fcgid.so", SUITE },
    { "mod_aspdotnet.so", SUITE },
    { "mod_jk.so", SUITE },
    { "mod_jk2.so", SUITE },
    { "php5apache2_2.dll", SUITE },
    { "php4apache2.dll", SUITE },
    { "mod_ssl", SUITE },                 // the suite name itself, nothing after it
    { "mod_rewrite.so", APACHE },
    { "mod_ss.so", APACHE },              // shorter than "mod_ssl": only "mod_" matches
    { "mod_", APACHE },
    { "mod_fastcg.so", APACHE },
    { "php_mysql.dll", PHP },
    { "php_", PHP },
    { "php5ts.dll", NONE },
    { "libapr-1.dll", NONE },
    { "Mod_SSL.so", NONE },
    { "MOD_REWRITE.SO", NONE },
    { "PHP_mysql.dll", NONE },
    { "mod", NONE },
    { "php", NONE },
    { "", NONE },
    { "httpd.exe", NONE },
    { "php5apache.dll", NONE },           // neither "php5apache2" nor "php_"
    { " mod_ssl.so", NONE },
};

TEST(ClassifyModuleTest, EachNameGoesToItsListOrNowhere)
{
    for (const ClassifyCase &c : ClassifyCases) {
        EmptyLists();
        EXPECT_EQ(1, ClassifyModule(c.name)) << c.name;
        DWORD total = ModuleLists.suiteModules.dwCount + ModuleLists.phpExtensions.dwCount +
                      ModuleLists.apacheModules.dwCount;
        EXPECT_EQ((DWORD)(c.kind == NONE ? 0 : 1), total) << "'" << c.name << "' counted " << total << " times";
        EXPECT_STREQ(KindName(c.kind), KindName(WhereIs(c.name)))
            << "'" << c.name << "': expected " << KindName(c.kind) << ", got " << KindName(WhereIs(c.name));
    }
}

TEST(ClassifyModuleTest, AppendsInCallOrderBehindWhatIsThere)
{
    EmptyLists();
    const char *const names[] = { "mod_ssl.so", "mod_rewrite.so", "php_gd2.dll", "mod_alias.so",
                                  "php5apache2_2.dll", "php_mysql.dll" };
    for (const char *name : names) ClassifyModule(name);
    EXPECT_EQ((std::vector<std::string>{ "mod_ssl.so", "php5apache2_2.dll" }), Names(ModuleLists.suiteModules));
    EXPECT_EQ((std::vector<std::string>{ "php_gd2.dll", "php_mysql.dll" }), Names(ModuleLists.phpExtensions));
    EXPECT_EQ((std::vector<std::string>{ "mod_rewrite.so", "mod_alias.so" }), Names(ModuleLists.apacheModules));
}

TEST(ClassifyModuleTest, FullListTakesNoMoreNamesAndLeavesTheOthersAlone)
{
    EmptyLists();
    // The PHP list lies between the suite and the Apache lists in the record:
    // a write past the suite list's last entry would land in it.
    ClassifyModule("php_first.dll");
    char name[64];
    for (int i = 1; i <= 300; i++) {
        snprintf(name, sizeof(name), "mod_ssl%03d.so", i);
        ClassifyModule(name);
    }
    ClassifyModule("mod_rewrite.so");
    EXPECT_EQ((DWORD)MODULE_LIST_ENTRIES, ModuleLists.suiteModules.dwCount);
    EXPECT_EQ((DWORD)(300 - MODULE_LIST_ENTRIES), ModuleLists.suiteModules.dwDropped);
    EXPECT_STREQ("mod_ssl001.so", ModuleLists.suiteModules.szNames[0]);
    EXPECT_STREQ("mod_ssl256.so", ModuleLists.suiteModules.szNames[MODULE_LIST_ENTRIES - 1]);
    EXPECT_EQ((std::vector<std::string>{ "php_first.dll" }), Names(ModuleLists.phpExtensions));
    EXPECT_EQ((std::vector<std::string>{ "mod_rewrite.so" }), Names(ModuleLists.apacheModules));
}

TEST(ClassifyModuleTest, LongestNameIsKeptWhole)
{
    EmptyLists();
    std::string longest = "mod_" + std::string(MODULE_NAME_SIZE - 1 - 4, 'x');
    ClassifyModule(longest.c_str());
    ASSERT_EQ((DWORD)1, ModuleLists.apacheModules.dwCount);
    EXPECT_EQ(longest, std::string(ModuleLists.apacheModules.szNames[0]));
    // One more character than an entry holds is cut, terminated, to fit.
    std::string tooLong = longest + "y";
    ClassifyModule(tooLong.c_str());
    ASSERT_EQ((DWORD)2, ModuleLists.apacheModules.dwCount);
    EXPECT_EQ(longest, std::string(ModuleLists.apacheModules.szNames[1]));
}

// ---------------------------------------------------------------------------
// The walk of the web server's process: the Apache2.2 service is a real
// service of the prefix (tests/tools/qvx_module_service.cpp) that loads the
// empty module of the tests under web server module names. The system's
// module snapshot cannot read another process under the emulation the tests
// run in; the stand-in hands the walk the names the service's own loader
// list holds, and one test runs the system's calls as they are.

const char *const ModuleDirectory = "C:\\qvxmods";

// Copies the empty module of the tests under `name` into `directory`.
std::string CopyModule(const std::string &directory, const std::string &name)
{
    CreateDirectoryA(ModuleDirectory, NULL);
    CreateDirectoryA(directory.c_str(), NULL);
    std::string target = directory + "\\" + name;
    if (!CopyFileA((TestBinDirectory() + "qvx_module.dll").c_str(), target.c_str(), FALSE)) {
        return "";
    }
    return target;
}

std::string WalkLog(const std::vector<std::string> &names)
{
    std::string text = "\nEnumerating Process Modules...\n";
    for (const std::string &name : names) text += name + " ";
    return text + "\n";
}

std::vector<std::string> Filtered(const std::vector<std::string> &names, const std::set<std::string> &keep)
{
    std::vector<std::string> out;
    for (const std::string &name : names) if (keep.count(name)) out.push_back(name);
    return out;
}

// Whether the log ends with this line: before a failure line only the
// privilege step may have written (the network subsystem's lines).
bool EndsWith(const std::string &log, const std::string &line)
{
    return log.size() >= line.size() && log.compare(log.size() - line.size(), line.size(), line) == 0;
}

// The log from the walk's first line on: what the privilege step before it
// writes belongs to the network subsystem and is checked there.
std::string FromWalk(const std::string &log)
{
    size_t at = log.find("\nEnumerating Process Modules...\n");
    return at == std::string::npos ? log : log.substr(at);
}

const char *const ServerModuleNames[] = {
    "mod_ssl.so", "mod_rewrite.so", "php_mysql.dll", "php5apache2_2.dll",
    "php5ts.dll", "libapr-1.dll", "Mod_SSL.so", "mod_security2.so"
};

// Installs Apache2.2 as the module service with these run options.
std::string InstallModuleServer(const std::string &options)
{
    TestServiceSetup setup;
    setup.name = "Apache2.2";
    setup.binaryPathOverride = "\"" + TestBinDirectory() + "qvx_module_service.exe\" run Apache2.2" + options;
    return InstallTestService(setup);
}

// Apache2.2 loading the module under every name of ServerModuleNames.
std::string InstallServerWithModules()
{
    std::string options;
    for (const char *name : ServerModuleNames) {
        // Mod_SSL.so differs from mod_ssl.so only in case, which the file
        // system does not tell apart: it lives in a folder of its own.
        std::string directory = std::string(ModuleDirectory) + (name[0] == 'M' ? "\\upper" : "");
        std::string path = CopyModule(directory, name);
        if (path.empty()) return std::string("copy of ") + name + " failed";
        options += " --load " + path;
    }
    return InstallModuleServer(options);
}

class ModuleListsTest : public ::testing::Test {
protected:
    HWND dialog = NULL;

    void SetUp() override
    {
        RemoveAllManagedServices();
        OpenFreshControllerLog();
        dialog = CreateBareDialog();
        ASSERT_NE((HWND)NULL, dialog);
    }
    void TearDown() override
    {
        RemoveSimulatedToolhelp();
        DestroyWindow(dialog);
        // Rows a test marked by hand hold no service handle.
        for (int i = 0; i < SERVICE_COUNT; i++) {
            if (ServiceTable.entries[i].hService == NULL) ServiceTable.entries[i].bInstalled = 0;
        }
        ServiceTableClose();
        ControllerLogClose();
        RemoveAllManagedServices();
    }

    // The log as written since the last fresh open.
    std::string LogSoFar()
    {
        ControllerLogFlush();
        return ReadControllerLog();
    }

    void ExpectLists(const std::vector<std::string> &suite, const std::vector<std::string> &php,
                     const std::vector<std::string> &apache)
    {
        EXPECT_EQ(suite, ListBoxTexts(dialog, IDC_SUITE_MODULES)) << "Suite Modules";
        EXPECT_EQ(php, ListBoxTexts(dialog, IDC_PHP_EXTENSIONS)) << "PHP Extensions";
        EXPECT_EQ(apache, ListBoxTexts(dialog, IDC_APACHE_MODULES)) << "Apache Modules";
    }

    // Starts the installed Apache2.2 and opens the table on it.
    DWORD StartServer()
    {
        EXPECT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 60000));
        EXPECT_EQ(1, ServiceTableOpen());
        return ServiceTable.entries[SERVICE_INDEX_APACHE].ssStatus.dwProcessId;
    }
};

TEST_F(ModuleListsTest, RunningServerModulesGoToTheirListsInSortedListBoxes)
{
    ASSERT_EQ("", InstallServerWithModules());
    DWORD pid = StartServer();
    ASSERT_NE((DWORD)0, pid);
    std::vector<std::string> modules = PublishedModuleNames(pid);
    ASSERT_FALSE(modules.empty()) << "the service published no module list";
    // Every name was loaded, the ones listed nowhere too.
    for (const char *name : ServerModuleNames) {
        EXPECT_NE(modules.end(), std::find(modules.begin(), modules.end(), name)) << name << " not loaded";
    }

    SimulatedToolhelp &walk = InstallSimulatedToolhelp();
    DisableDebugPrivilege();
    OpenFreshControllerLog();
    EXPECT_EQ(1, FillModuleLists(dialog));
    EXPECT_EQ(WalkLog(modules), FromWalk(LogSoFar()));
    EXPECT_EQ((DWORD)TH32CS_SNAPMODULE, walk.lastFlags);
    EXPECT_EQ(pid, walk.lastProcessId);
    EXPECT_EQ((DWORD)548, walk.lastEntrySize);
    EXPECT_TRUE(walk.debugPrivilegeAtSnapshot) << "the debug privilege was not enabled before the snapshot";
    EXPECT_EQ(1, walk.snapshots);
    EXPECT_EQ(1, walk.closes);

    // The list boxes sort; the lists keep the order of the walk.
    ExpectLists({ "mod_security2.so", "mod_ssl.so", "php5apache2_2.dll" }, { "php_mysql.dll" },
                { "mod_rewrite.so" });
    EXPECT_EQ(Filtered(modules, { "mod_ssl.so", "php5apache2_2.dll", "mod_security2.so" }),
              Names(ModuleLists.suiteModules));
    EXPECT_EQ((std::vector<std::string>{ "php_mysql.dll" }), Names(ModuleLists.phpExtensions));
    EXPECT_EQ((std::vector<std::string>{ "mod_rewrite.so" }), Names(ModuleLists.apacheModules));
    for (const char *absent : { "php5ts.dll", "libapr-1.dll", "Mod_SSL.so" }) {
        EXPECT_EQ(NONE, WhereIs(absent)) << absent;
    }

    // A second fill replaces the first: no duplicates, the same log block.
    OpenFreshControllerLog();
    EXPECT_EQ(1, FillModuleLists(dialog));
    ExpectLists({ "mod_security2.so", "mod_ssl.so", "php5apache2_2.dll" }, { "php_mysql.dll" },
                { "mod_rewrite.so" });
    EXPECT_EQ((DWORD)3, ModuleLists.suiteModules.dwCount);
    EXPECT_EQ(WalkLog(modules), FromWalk(LogSoFar()));
    EXPECT_EQ(2, walk.closes);
}

TEST_F(ModuleListsTest, SystemSnapshotOfTheRunningServerListsItOrLogsItsFailure)
{
    // The system's own calls, as the program makes them.
    ASSERT_EQ("", InstallServerWithModules());
    DWORD pid = StartServer();
    ASSERT_NE((DWORD)0, pid);
    SetLastError(0xdeadbeef);
    HANDLE probe = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    DWORD probeError = GetLastError();
    if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);

    OpenFreshControllerLog();
    SetLastError(0xdeadbeef);
    int result = FillModuleLists(dialog);
    std::string log = LogSoFar();
    if (probe == INVALID_HANDLE_VALUE) {
        // Emulated: no process can read another's loader list.
        char line[96];
        snprintf(line, sizeof(line), "CreateToolhelp32Snapshot() failed (%d).\n", (int)probeError);
        EXPECT_EQ(0, result);
        EXPECT_TRUE(EndsWith(log, line)) << log;
        EXPECT_EQ(std::string::npos, log.find("Enumerating")) << log;
        ExpectLists({}, {}, {});
    } else {
        EXPECT_EQ(1, result);
        EXPECT_EQ(WalkLog(PublishedModuleNames(pid)), FromWalk(log));
        ExpectLists({ "mod_security2.so", "mod_ssl.so", "php5apache2_2.dll" }, { "php_mysql.dll" },
                    { "mod_rewrite.so" });
    }
}

TEST_F(ModuleListsTest, StoppedStartingAndAbsentServerShowPlaceholders)
{
    const std::vector<std::string> notInstalled = { "[not installed]" };
    const std::vector<std::string> notRunning = { "[not running]" };
    SimulatedToolhelp &walk = InstallSimulatedToolhelp();

    // Absent.
    ASSERT_EQ(1, ServiceTableOpen());
    OpenFreshControllerLog();
    EXPECT_EQ(0, FillModuleLists(dialog));
    ExpectLists(notInstalled, notInstalled, notInstalled);
    ServiceTableClose();

    // Installed and stopped: the placeholder replaces the names of an
    // earlier fill, in the lists and in the list boxes.
    TestServiceSetup starting;
    starting.name = "Apache2.2";
    starting.runArguments = "--start-forever";
    ASSERT_EQ("", InstallTestService(starting));
    ASSERT_EQ(1, ServiceTableOpen());
    ClassifyModule("mod_ssl.so");
    SendDlgItemMessageA(dialog, IDC_SUITE_MODULES, LB_ADDSTRING, 0, (LPARAM)"mod_ssl.so");
    EXPECT_EQ(0, FillModuleLists(dialog));
    ExpectLists(notRunning, notRunning, notRunning);
    EXPECT_EQ((DWORD)0, ModuleLists.suiteModules.dwCount);
    ServiceTableClose();

    // Start pending (it never reports running) counts as not running.
    ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_START_PENDING, 60000));
    ASSERT_EQ(1, ServiceTableOpen());
    ASSERT_EQ((DWORD)SERVICE_START_PENDING, ServiceTable.entries[SERVICE_INDEX_APACHE].ssStatus.dwCurrentState);
    ASSERT_NE((DWORD)0, ServiceTable.entries[SERVICE_INDEX_APACHE].ssStatus.dwProcessId);
    EXPECT_EQ(0, FillModuleLists(dialog));
    ExpectLists(notRunning, notRunning, notRunning);

    // None of the placeholder fills takes a snapshot or logs a line.
    EXPECT_EQ(0, walk.snapshots);
    EXPECT_EQ(std::string::npos, LogSoFar().find("Enumerating")) << LogSoFar();
}

TEST_F(ModuleListsTest, ServerGoneSinceTheQueryLeavesTheListsEmpty)
{
    ASSERT_EQ("", InstallServerWithModules());
    DWORD pid = StartServer();
    SimulatedToolhelp &walk = InstallSimulatedToolhelp();
    ASSERT_EQ(1, FillModuleLists(dialog));
    // The process ends; the row still says running with its old process id.
    ASSERT_EQ("", StopTestService("Apache2.2", 60000));
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process) {
        WaitForSingleObject(process, 20000);
        CloseHandle(process);
    }
    OpenFreshControllerLog();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, FillModuleLists(dialog));
    std::string log = LogSoFar();
    EXPECT_TRUE(EndsWith(log, "CreateToolhelp32Snapshot() failed (87).\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("Enumerating")) << log;
    ExpectLists({}, {}, {});
    EXPECT_EQ((DWORD)0, ModuleLists.suiteModules.dwCount);
    EXPECT_EQ(walk.snapshots - 1, walk.closes);
}

TEST_F(ModuleListsTest, FirstModuleFailureClosesTheSnapshotAndLeavesTheListsEmpty)
{
    ASSERT_EQ("", InstallServerWithModules());
    StartServer();
    SimulatedToolhelp &walk = InstallSimulatedToolhelp();
    ASSERT_EQ(1, FillModuleLists(dialog));
    walk.firstError = ERROR_ACCESS_DENIED;
    OpenFreshControllerLog();
    EXPECT_EQ(0, FillModuleLists(dialog));
    std::string log = LogSoFar();
    EXPECT_TRUE(EndsWith(log, "Module32First() failed (5).\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("Enumerating")) << log;
    ExpectLists({}, {}, {});
    EXPECT_EQ(2, walk.snapshots);
    EXPECT_EQ(2, walk.closes) << "the snapshot was not closed after the failure";
}

TEST_F(ModuleListsTest, RunningRowWithoutProcessIdDoesNotWalkTheControllersOwnProcess)
{
    // A process id of 0 would make the snapshot describe the caller itself.
    SimulatedToolhelp &walk = InstallSimulatedToolhelp();
    walk.givenProcessId = 0;
    walk.givenNames = { "test_modules.exe", "mod_own.so" };
    ASSERT_EQ(1, ServiceTableOpen());
    ServiceEntry &server = ServiceTable.entries[SERVICE_INDEX_APACHE];
    server.bInstalled = 1;
    server.ssStatus.dwCurrentState = SERVICE_RUNNING;
    server.ssStatus.dwProcessId = 0;
    OpenFreshControllerLog();
    EXPECT_EQ(0, FillModuleLists(dialog));
    ExpectLists({ "[not running]" }, { "[not running]" }, { "[not running]" });
    EXPECT_EQ(0, walk.snapshots);
    server.bInstalled = 0;
}

TEST_F(ModuleListsTest, MoreThanAListHoldsShowsTheFirst256AndLogsEveryModule)
{
    char name[32];
    std::string many = std::string(ModuleDirectory) + "\\many";
    for (int i = 1; i <= 300; i++) {
        snprintf(name, sizeof(name), "mod_x%03d.so", i);
        ASSERT_NE("", CopyModule(many, name)) << name;
    }
    ASSERT_NE("", CopyModule(many, "php_a.dll"));
    ASSERT_NE("", CopyModule(many, "php_b.dll"));
    ASSERT_EQ("", InstallModuleServer(" --load-dir " + many));
    DWORD pid = StartServer();
    std::vector<std::string> modules = PublishedModuleNames(pid);
    SimulatedToolhelp &walk = InstallSimulatedToolhelp();

    OpenFreshControllerLog();
    EXPECT_EQ(1, FillModuleLists(dialog));
    EXPECT_EQ(1, walk.snapshots);
    std::string log = FromWalk(LogSoFar());
    EXPECT_EQ(WalkLog(modules), log);
    for (int i = 1; i <= 300; i++) {
        snprintf(name, sizeof(name), " mod_x%03d.so ", i);
        EXPECT_NE(std::string::npos, log.find(name)) << "the log does not name" << name;
    }

    std::vector<std::string> apache;
    for (const std::string &module : modules) if (module.compare(0, 5, "mod_x") == 0) apache.push_back(module);
    ASSERT_EQ((size_t)300, apache.size());
    apache.resize(MODULE_LIST_ENTRIES);
    EXPECT_EQ(apache, Names(ModuleLists.apacheModules));
    EXPECT_EQ((DWORD)(300 - MODULE_LIST_ENTRIES), ModuleLists.apacheModules.dwDropped);
    std::sort(apache.begin(), apache.end());
    ExpectLists({}, { "php_a.dll", "php_b.dll" }, apache);
}

}  // namespace
