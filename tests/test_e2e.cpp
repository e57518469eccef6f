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

    void Start() // in C:\ (where this program runs), until its dialog shows: bring-up done
    {
        STARTUPINFOA info = { sizeof(info) };
        char path[] = "C:\\www\\QuorvexController.exe";
        DWORD start = GetTickCount();

        CopyFileA((TestBinDirectory() + "QuorvexController.exe").c_str(), path, FALSE);
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
