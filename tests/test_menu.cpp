// Menu commands (the shell call recorded): launches by id, refused launches, About and Exit; the dialog
// and menu templates and the manifest read back from the built QuorvexController.exe (tests/expected/).
#include <gtest/gtest.h>
#include "app/controller.h"
#include "log/log.h"
#include "network/network.h"
#include "paths/paths.h"
#include "services/services.h"
#include "support/test_services.h"
#include "support/test_support.h"
namespace
{
struct Words { // a resource read as 16-bit words
    const WORD *p;
    std::string Text()
    {
        std::string s;
        while (*p)
            s += (char)*p++;
        return p++, s;
    }
    // One record of a dialog template by its layout: D dword in hex, I dword, w word, x word in hex, n name or
    // #ordinal, t text; a aligns to a dword; s skips a dword, e the creation data.
    std::string Fields(const char *layout, std::string out = "")
    {
        for (char field[16] = ""; *layout; out += field, field[0] = '\0') {
            char f = *layout++;
            if (f == 'D' || f == 'I')
                snprintf(field, 16, f == 'D' ? "%08lX " : "%ld ", (long)(p[0] | p[1] << 16)),
                    p += 2;
            if (f == 'w' || f == 'x')
                snprintf(field, 16, f == 'w' ? "%d " : "%04X ", f == 'w' ? (short)*p : *p), p++;
            if (f == 'n')
                out += (*p == 0xFFFF ? (p += 2, "#" + std::to_string(p[-1])) : Text()) + " ";
            if (f == 't')
                out += "\"" + Text() + "\" ";
            p = f == 'a' ? (const WORD *)(((UINT_PTR)p + 3) & ~(UINT_PTR)3)
                         : p + (f == 's'   ? 2
                                : f == 'e' ? (*p + 3) / 2
                                           : 0);
        }
        return out + "\n";
    }
    std::string MenuItems(const std::string &indent, std::string out = "")
    { // "flags id text", a popup indents
        for (WORD flags = 0; !(flags & MF_END);
             out += flags & MF_POPUP ? MenuItems(indent + "  ") : "")
            out += indent + Fields((flags = *p) & MF_POPUP ? "xt" : "xwt");
        return out;
    }
};
TEST(Resources, DialogAndMenuTemplatesAndManifestOfTheBuiltProgram)
{
    HMODULE exe = LoadLibraryExA((TestBinDirectory() + "QuorvexController.exe").c_str(), NULL,
                                 LOAD_LIBRARY_AS_DATAFILE);
    auto resource = [exe](LPCSTR type, int id) {
        HRSRC r = FindResourceA(exe, MAKEINTRESOURCEA(id), type);
        return std::make_pair(r ? (const WORD *)LockResource(LoadResource(exe, r)) : NULL,
                              r ? SizeofResource(exe, r) : 0);
    };
    ASSERT_TRUE(resource(RT_DIALOG, 101).first && resource(RT_MENU, 100).first &&
                resource(RT_MANIFEST, 1).first);
    Words dialog = { resource(RT_DIALOG, 101).first }, menu = { resource(RT_MENU, 100).first + 2 };
    std::string dump =
        dialog.Fields("DsDDwwwwwnntwwxt"); // the count of controls is the fifth field
    for (int i = 0; i < resource(RT_DIALOG, 101).first[8]; i++)
        dump += dialog.Fields("asDDwwwwInte");
    EXPECT_EQ(ExpectedText("dialog.txt"), dump);
    EXPECT_EQ(ExpectedText("menu.txt"), menu.MenuItems(""));
    std::string manifest((const char *)resource(RT_MANIFEST, 1).first,
                         resource(RT_MANIFEST, 1).second);
    EXPECT_EQ(ExpectedText("trustinfo.xml"),
              Between(manifest, "<trustInfo", "</trustInfo>") + "</trustInfo>\n");
    EXPECT_NE(std::string::npos,
              manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    FreeLibrary(exe);
}
INT_PTR Answer;
HWND Dialog;
std::string Launched; // shell calls "file|parameters|directory", the About box, WM_CLOSE
HINSTANCE WINAPI Shell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                       INT show)
{
    auto text = [](LPCSTR s) {
        return std::string(s ? s : "-");
    };
    Launched += (owner || strcmp(verb, "open") || show != SW_SHOWNORMAL ? "?" : "") + text(file) +
                "|" + text(parameters);
    return Launched += "|" + text(directory) + "\n", (HINSTANCE)Answer;
}
LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT &m = *(const CWPRETSTRUCT *)lParam;
    char caption[64] = "", text[64] = "";
    if (m.message == WM_CLOSE && m.hwnd == Dialog)
        Launched += "WM_CLOSE " + std::to_string(m.wParam + m.lParam) + "\n";
    if (m.message == WM_INITDIALOG && m.hwnd != Dialog &&
        (GetWindowTextA(m.hwnd, caption, 64), GetDlgItemTextA(m.hwnd, 0xFFFF, text, 64), true))
        Launched += std::string(caption) + "|" + text +
                    (GetWindow(m.hwnd, GW_OWNER) == Dialog ? "|owned\n" : "|?\n"),
            PostMessageA(m.hwnd, WM_COMMAND, IDOK, 0);
    return CallNextHookEx(NULL, code, wParam, lParam);
}
struct MenuCommands : ::testing::Test {
    void SetUp() override
    {
        strcpy(SuitePaths.ApacheLogsPath, "logs"), strcpy(SuitePaths.ApacheConfPath, "conf"),
            strcpy(SuitePaths.ApacheConfExtraPath, "extra");
        strcpy(SuitePaths.ApacheConfSuitePath, "suite"), strcpy(SuitePaths.MySqlIniPath, "mysql"),
            strcpy(SuitePaths.PhpIniPath, "php");
        strcpy(SuitePaths.HostsFileDirectory, "etc"), strcpy(SuitePaths.WwwRootPath, "C:\\www");
        ServiceTable.entries[0].bInstalled = 1,
        ServiceTable.entries[0].ssStatus.dwCurrentState = SERVICE_RUNNING;
        EndpointTable[0].count = 1,
        EndpointTable[0].slots[0] = { 0x0100007F, 8080 }; // 127.0.0.1:8080
        SetShellExecuteFunction(Shell), Launched.clear(), Answer = 42, OpenFreshControllerLog();
        Dialog = CreateBareDialog(),
        Hook = SetWindowsHookExA(WH_CALLWNDPROCRET, Watch, NULL, GetCurrentThreadId());
    }
    void TearDown() override
    {
        SetShellExecuteFunction(NULL), UnhookWindowsHookEx(Hook), DestroyWindow(Dialog),
            ControllerLogClose();
    }
    HHOOK Hook;
    std::string Log()
    {
        return ControllerLogFlush(), ReadControllerLog();
    }
};
TEST_F(MenuCommands, EachIdHandsItsFileUrlOrToolToTheShellShowsAboutClosesOrDoesNothing)
{
    int results = 0;
    for (int id : { 9101, 9102, 9111, 9112, 9113, 9114, 9121, 9122, 9131, 9201, 9202,
                    9203, 9211, 9212, 9213, 9214, 9215, 9221, 9222, 9223, 9231, 9301,
                    9302, 9401, 9003, 9000, 9150, 9250, 9350, 9402, 9999 })
        Launched += std::to_string(id) + " ", results += RunMenuCommand(Dialog, id);
    EXPECT_EQ(31, results);
    EXPECT_EQ(ExpectedText("launches.txt"), Launched + "\n");
    EXPECT_EQ("", Log());
}
TEST_F(MenuCommands, RefusedLaunchLogsOneLineAndTextsTooLongAreRefusedBeforeTheShell)
{
    for (int answer : { 0, 2, 32, -1, 33, 42 })
        for (int id : { 9101, 9201, 9301 }) {
            Answer = answer;
            EXPECT_EQ(answer > 32, RunMenuCommand(Dialog, id)) << id;
        }
    std::string directory(256, 'd'),
        root(71, 'w'); // one more than the directory and parameter buffers take
    strcpy(SuitePaths.HostsFileDirectory, directory.c_str()),
        strcpy(SuitePaths.WwwRootPath, root.c_str()), Launched.clear();
    EXPECT_EQ(0, RunMenuCommand(Dialog, 9131) + RunMenuCommand(Dialog, 9301));
    SuitePaths.HostsFileDirectory[255] = SuitePaths.WwwRootPath[70] = '\0';
    EXPECT_EQ(2, RunMenuCommand(Dialog, 9131) + RunMenuCommand(Dialog, 9301));
    EXPECT_EQ("notepad.exe|hosts|" + directory.substr(1) + "\ncmd.exe|/K CD /D " + root.substr(1) +
                  "|-\n",
              Launched);
    EXPECT_EQ(ExpectedText("refused.log"), Log());
}
} // namespace
