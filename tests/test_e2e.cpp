// The real program driven from another process: bring-up and log, and on XP (test_e2e_xp32).
#include <gtest/gtest.h>

#include "res/resource.h"
#include "support/test_support.h"

class EndToEnd : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        TerminateProcess(program.hProcess, 99);
    }

    // The program in BIN, run in C:\ (where this program runs) until its dialog shows.
    void Start(const std::string &bin = TestBinDirectory())
    {
        STARTUPINFOA info = { sizeof(info) };
        char path[] = "C:\\www\\QuorvexController.exe";
        DWORD start = GetTickCount();

        CopyFileA((bin + "QuorvexController.exe").c_str(), path, FALSE);
        ASSERT_TRUE(CreateProcessA(path, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &info, &program));
        while (!IsWindowVisible(dialog)) {
            ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(program.hProcess, 100)) << "it ended";
            ASSERT_LT(GetTickCount() - start, 120000u) << "no dialog after 120 s";
            dialog = FindWindowA(NULL, "Quorvex Controller");
        }
    }

    void Send(UINT message, WPARAM wParam, int control = 0)
    {
        HWND window = control ? GetDlgItem(dialog, control) : dialog;
        DWORD_PTR result = 0;

        ASSERT_TRUE(SendMessageTimeoutW(window, message, wParam, 0, SMTO_NORMAL, 30000, &result));
    }

    int Exit() // after File, Exit; STILL_ACTIVE when it has not ended within 60 s
    {
        DWORD code = 0;

        PostMessageA(dialog, WM_COMMAND, IDM_EXIT, 0);
        WaitForSingleObject(program.hProcess, 60000);
        GetExitCodeProcess(program.hProcess, &code);
        return (int)code;
    }

    PROCESS_INFORMATION program = {};
    HWND dialog = NULL;
};

// Apache2.2 running with a module loaded, MySQL stopped, Tomcat5 and W3svc absent.
TEST_F(EndToEnd, BringUpShowsTheStackAndItsLogRunsFromOpenToClose)
{
    std::string module = TestBinDirectory() + "qvx_module.dll";
    std::string apache = "--listen 0.0.0.0:28080 --listen 0.0.0.0:28443 --load " + module;
    InstallTestService("Apache2.2", apache, SERVICE_AUTO_START, "Apache/2.2 web server");
    InstallTestService("MySQL", "--listen 0.0.0.0:3306", SERVICE_AUTO_START, "");
    ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 60000));
    // An earlier log, to be replaced.
    ASSERT_TRUE(CopyFileA(module.c_str(), "C:\\www\\suite-data\\controller.log", FALSE));
    ASSERT_NO_FATAL_FAILURE(Start());

    Send(WM_COMMAND, IDOK); // Enter and Escape leave it open
    Send(WM_COMMAND, IDCANCEL);
    EXPECT_EQ(Texts({ "Apache2.2", "MySQL", "Tomcat5", "IIS W3" }),
              ListBoxTexts(dialog, IDC_SERVICES_LIST));
    EXPECT_EQ(Texts({ "Running", "Stopped", "[not installed]", "[not installed]" }),
              ListBoxTexts(dialog, IDC_STATUS_LIST));
    EXPECT_EQ("Apache/2.2 web server", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("0.0.0.0:28080 [all], 0.0.0.0:28443 [all]", DialogItemText(dialog, IDC_IP_AND_PORT));
    EXPECT_EQ("127.0.0.1 [local]", DialogItemText(dialog, IDC_IP_ADDRESS)); // loopback only here

    EXPECT_EQ(0, Exit());
    EXPECT_EQ("", LogMismatch(ReadControllerLog(), ExpectedText("e2e_log.txt"),
                              { { "APACHE_PID", TestServiceProcessId("Apache2.2") },
                                { "BIN", TestBinDirectory() } }));
}

TEST_F(EndToEnd, BringsUpOnWindowsXp)
{
    if (!getenv("QVX_WINE_ARCH"))
        GTEST_SKIP() << "test_e2e_xp32 runs it in a Windows XP prefix";
    ASSERT_NO_FATAL_FAILURE(Start());

    EXPECT_EQ("Microsoft Windows XP Service Pack 3", DialogItemText(dialog, IDC_OS_VERSION));
    EXPECT_EQ(0, Exit());
}

// The 64-bit program over a 32-bit and a 64-bit server; the 32-bit one (QVX_PEER_BIN) over the latter.
TEST_F(EndToEnd, SixtyFourBitProgramReadsEitherWebServer)
{
    const char *peer = getenv("QVX_PEER_BIN");
    if (sizeof(void *) == 4 || !peer)
        GTEST_SKIP() << "for the 64-bit set, with the 32-bit tree's bin/ in QVX_PEER_BIN";
    auto serve = [](const std::string &bin, const std::string &module) {
        CopyFileA((bin + "qvx_module.dll").c_str(), module.c_str(), FALSE);
        RemoveAllManagedServices();
        InstallTestService("Apache2.2", "--load " + module, SERVICE_AUTO_START, "",
                           bin + "qvx_testsvc.exe");
        return StartTestService("Apache2.2", SERVICE_RUNNING, 60000);
    };

    RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Development Kit",
                    "CurrentVersion", REG_SZ, "1.6", 4);
    ASSERT_EQ("", serve(peer, "C:\\www\\php_mysql.dll"));
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Texts({ "php_mysql.dll" }), ListBoxTexts(dialog, IDC_PHP_EXTENSIONS));
    EXPECT_EQ("v1.6", DialogItemText(dialog, IDC_JDK_VERSION));
    EXPECT_EQ(0, Exit());

    // The JDK in both views from here on.
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\JavaSoft\\Java Development Kit",
                    "CurrentVersion", REG_SZ, "1.6", 4);
    ASSERT_EQ("", serve(TestBinDirectory(), "C:\\www\\mod_rewrite.so"));
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Texts({ "mod_rewrite.so" }), ListBoxTexts(dialog, IDC_APACHE_MODULES));
    EXPECT_EQ(0, Exit());
    std::string log = ReadControllerLog();

    ASSERT_NO_FATAL_FAILURE(Start(peer)); // the 32-bit program
    EXPECT_EQ(Texts(), ListBoxTexts(dialog, IDC_APACHE_MODULES));
    EXPECT_EQ(0, Exit());

    // Its log has the reason for no names where the 64-bit program's has the names.
    std::string names = Between(log, "\nEnumerating Process Modules...\n", "\nMapping");
    EXPECT_EQ(
        log.replace(log.find(names), names.size(), "CreateToolhelp32Snapshot() failed (998).\n"),
        ReadControllerLog());
}
