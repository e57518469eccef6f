// Module lists: the modules of this process, the server here; a server process that has ended.
#include <gtest/gtest.h>
#include "log/log.h"
#include "modules/modules.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/test_support.h"

namespace
{
void ExpectFill(HWND dialog, const Texts &suite, const Texts &php, const Texts &apache,
                const std::string &log)
{
    OpenFreshControllerLog();
    FillModuleLists(dialog);
    EXPECT_EQ(suite, ListBoxTexts(dialog, IDC_SUITE_MODULES));
    EXPECT_EQ(php, ListBoxTexts(dialog, IDC_PHP_EXTENSIONS));
    EXPECT_EQ(apache, ListBoxTexts(dialog, IDC_APACHE_MODULES));
    ControllerLogClose();
    EXPECT_EQ("", LogMismatch(ReadControllerLog(), log, {}));
}

TEST(ModuleLists, SortedBoundedRefilled)
{
    HWND dialog = CreateBareDialog();
    ServiceEntry &server = ServiceTable.entries[SERVICE_INDEX_APACHE];
    server.bInstalled = 1;
    server.ssStatus.dwCurrentState = SERVICE_RUNNING;
    server.ssStatus.dwProcessId = GetCurrentProcessId();

    // Each suite-module name, names that begin with one; letter case. Copies of the test module,
    // loaded here after the process's own.
    Texts names = { "mod_aspdotnet.so", "mod_deflate.so",    "mod_fastcgi.so",   "mod_fcgid.so",
                    "mod_jk2.so",       "mod_perl.so",       "mod_security2.so", "mod_ssl.so",
                    "php4apache2.dll",  "php5apache2_2.dll", "mod_SSL.dll",      "php_mysql.dll",
                    "mod_rewrite.so" };
    std::string log = "\nEnumerating Process Modules...\n~~~\n";
    CreateDirectoryA("C:\\modules", NULL);
    for (const std::string &name : names) {
        std::string path = "C:\\modules\\" + name;
        CopyFileA((TestBinDirectory() + "qvx_module.dll").c_str(), path.c_str(), FALSE);
        LoadLibraryA(path.c_str());
        log += name + " ";
    }
    Texts suite(names.begin(), names.begin() + 10);
    ExpectFill(dialog, suite, { "php_mysql.dll" }, { "mod_rewrite.so", "mod_SSL.dll" }, log + "\n");

    // A list takes 256 names and drops the others; a refill shows only what the walk finds.
    for (int i = 0; i < 300; i++)
        ClassifyModule("mod_x.so");
    EXPECT_EQ(256u, ModuleLists.apacheModules.dwCount);
    ExpectFill(dialog, suite, { "php_mysql.dll" }, { "mod_rewrite.so", "mod_SSL.dll" }, log + "\n");

    // The server's process ended after its status was read (its open handle keeps its id).
    STARTUPINFOA startup = { sizeof(startup) };
    PROCESS_INFORMATION ended;
    char command[] = "cmd.exe /c exit";
    ASSERT_TRUE(CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &ended));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ended.hProcess, 60000));
    server.ssStatus.dwProcessId = ended.dwProcessId;
    ExpectFill(dialog, {}, {}, {}, "CreateToolhelp32Snapshot() failed (~~~\n).\n");
    CloseHandle(ended.hProcess);
    CloseHandle(ended.hThread);
    DestroyWindow(dialog);
}
} // namespace
