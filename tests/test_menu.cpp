// Menu commands and resources: what each menu id hands to the shell (the
// shell call recorded), refused launches, About and Exit; the dialog and menu
// templates (tests/expected/dialog.txt, menu.txt) and the manifest read back
// from the built QuorvexController.exe.
#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include "app/controller.h"
#include "network/network.h"
#include "paths/paths.h"
#include "services/services.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {
std::string Expected(const char *name) {
    std::stringstream text;
    return text << std::ifstream(std::string(QVX_EXPECTED_DIR) + name, std::ios::binary).rdbuf(), text.str();
}
struct Words {  // a resource read as 16-bit words
    const WORD *p;
    DWORD Dword() { return p += 2, p[-2] | (DWORD)p[-1] << 16; }
    std::string Text() { std::string s; while (*p) s += (char)*p++; return p++, s; }
    std::string NameOrId() { return *p == 0xFFFF ? (p += 2, "#" + std::to_string(p[-1])) : Text(); }
};
std::string MenuItems(Words &w, const std::string &indent) {
    std::string out; WORD flags;
    do {
        flags = *w.p++;
        WORD id = flags & MF_POPUP ? 0 : *w.p++;
        std::string text = w.Text();
        out += indent + (text.empty() ? "-" : text) + (id ? " " + std::to_string(id) : "") + "\n";
        if (flags & MF_POPUP) out += MenuItems(w, indent + "  ");
    } while (!(flags & MF_END));
    return out;
}
TEST(Resources, DialogAndMenuTemplatesAndManifestOfTheBuiltProgram) {
    HMODULE exe = LoadLibraryExA((TestBinDirectory() + "QuorvexController.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    auto resource = [exe](LPCSTR type, int id) { HRSRC r = FindResourceA(exe, MAKEINTRESOURCEA(id), type);
        return r ? std::make_pair((const WORD *)LockResource(LoadResource(exe, r)), SizeofResource(exe, r)) : std::make_pair((const WORD *)NULL, 0ul); };
    ASSERT_TRUE(resource(RT_DIALOG, 101).first && resource(RT_MENU, 100).first && resource(RT_MANIFEST, 1).first);
    Words w = { resource(RT_DIALOG, 101).first + 6 };  // after version, signature, help id, extended style
    char line[160];
    DWORD style = w.Dword();
    int count = *w.p++;
    snprintf(line, sizeof(line), "%08lX %d %d,%d,%d,%d menu ", style, count, w.p[0], w.p[1], w.p[2], w.p[3]);
    std::string dump = line + (w.p += 4, w.NameOrId());  // each read in its own statement: in order
    dump += " class \"" + w.NameOrId();
    dump += "\" \"" + w.Text() + "\"";
    snprintf(line, sizeof(line), " font %d %d %d %d \"", w.p[0], w.p[1], w.p[2] & 0xFF, w.p[2] >> 8);
    dump += line + (w.p += 3, w.Text()) + "\"\n";
    for (int i = 0; i < count; i++) {
        w.p = (const WORD *)(((UINT_PTR)w.p + 3) & ~(UINT_PTR)3), w.p += 4;  // help id, extended style
        style = w.Dword();
        const short *at = (const short *)w.p;
        w.p += 4;
        int id = (int)w.Dword();
        std::string cls = w.NameOrId(), caption = w.NameOrId();
        const char *const classes[] = { "BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX" };
        if (cls[0] == '#') cls = classes[std::stoi(cls.substr(1)) - 0x80];
        snprintf(line, sizeof(line), "%d %s \"%s\" %08lX %d,%d,%d,%d\n", id, cls.c_str(), caption.c_str(), style, at[0], at[1], at[2], at[3]);
        dump += line, w.p += (*w.p + 3) / 2;  // the creation data and its size
    }
    EXPECT_EQ(Expected("dialog.txt"), dump);
    Words menu = { resource(RT_MENU, 100).first + 2 };
    EXPECT_EQ(Expected("menu.txt"), MenuItems(menu, ""));
    std::string manifest((const char *)resource(RT_MANIFEST, 1).first, resource(RT_MANIFEST, 1).second);
    EXPECT_EQ("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v2\">\n    <security>\n      <requestedPrivileges>\n"
              "        <requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>\n"
              "      </requestedPrivileges>\n    </security>\n  ", Between(manifest, "<trustInfo", "</trustInfo>"));
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    FreeLibrary(exe);
}
std::string Launched;  // each shell call as "file|parameters|directory", "-" for none
INT_PTR Answer;
HINSTANCE WINAPI Shell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show) {
    auto text = [](LPCSTR s) { return std::string(s ? s : "-"); };
    Launched += (owner || strcmp(verb, "open") || show != SW_SHOWNORMAL ? "?" : "") + text(file) + "|" + text(parameters);
    return Launched += "|" + text(directory) + "\n", (HINSTANCE)Answer;
}
HWND Dialog;
std::string Closing;  // the About box (caption|text|owner) and the dialog's close messages
LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) return Closing += "WM_CLOSE " + std::to_string(wParam + lParam) + "\n", 0;
    return CallWindowProcA((WNDPROC)GetPropA(window, "next"), window, message, wParam, lParam);
}
LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
    char caption[64] = "", text[64] = "";
    if (code == HCBT_ACTIVATE && (HWND)wParam != Dialog) {
        GetWindowTextA((HWND)wParam, caption, 64), GetDlgItemTextA((HWND)wParam, 0xFFFF, text, 64);
        Closing += std::string(caption) + "|" + text + (GetWindow((HWND)wParam, GW_OWNER) == Dialog ? "|owned\n" : "|?\n");
        PostMessageA((HWND)wParam, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
struct MenuCommands : ::testing::Test {
    void SetUp() override {
        strcpy(SuitePaths.ApacheLogsPath, "logs"), strcpy(SuitePaths.ApacheConfPath, "conf"), strcpy(SuitePaths.ApacheConfExtraPath, "extra");
        strcpy(SuitePaths.ApacheConfSuitePath, "suite"), strcpy(SuitePaths.MySqlIniPath, "mysql"), strcpy(SuitePaths.PhpIniPath, "php");
        strcpy(SuitePaths.HostsFileDirectory, "etc"), strcpy(SuitePaths.WwwRootPath, "C:\\www");
        ServiceTable.entries[0].bInstalled = 1, ServiceTable.entries[0].ssStatus.dwCurrentState = SERVICE_RUNNING;
        EndpointTable[0].count = 1, EndpointTable[0].slots[0] = { 0x0100007F, 8080 };  // 127.0.0.1:8080
        SetShellExecuteFunction(Shell), Launched.clear(), Closing.clear(), Answer = 42, OpenFreshControllerLog();
        Dialog = CreateBareDialog();
    }
    void TearDown() override { SetShellExecuteFunction(NULL), DestroyWindow(Dialog), ControllerLogClose(); }
    std::string Log() { return ControllerLogFlush(), ReadControllerLog(); }
};
TEST_F(MenuCommands, EachIdHandsItsFileUrlOrToolToTheShellOrNothing) {
    for (int id : { 9101, 9102, 9111, 9112, 9113, 9114, 9121, 9122, 9131, 9201, 9202, 9203, 9211, 9212, 9213, 9214,
                    9215, 9221, 9222, 9223, 9231, 9301, 9302, 9000, 9150, 9250, 9350, 9402, 9999 }) {
        Launched += std::to_string(id) + " ";
        EXPECT_EQ(1, RunMenuCommand(Dialog, id)) << id;
    }
    EXPECT_EQ(Expected("launches.txt"), Launched + "\n");
    EXPECT_EQ("", Log());
}
TEST_F(MenuCommands, RefusedLaunchLogsOneLineAndTextsTooLongAreRefusedBeforeTheShell) {
    for (int answer : { 0, 2, 32, -1, 33 })
        for (int id : { 9101, 9201, 9301 }) {
            Answer = answer, OpenFreshControllerLog();
            EXPECT_EQ(answer == 33, RunMenuCommand(Dialog, id));
            EXPECT_EQ(answer == 33 ? "" : "\nShellExecute (" + std::to_string(id) + ") failed (" + std::to_string(answer) + ").\n", Log());
        }
    Answer = 42, Launched.clear(), OpenFreshControllerLog();
    std::string directory(256, 'd'), root(71, 'w');  // one more than the directory and parameter buffers take
    strcpy(SuitePaths.HostsFileDirectory, directory.c_str()), strcpy(SuitePaths.WwwRootPath, root.c_str());
    EXPECT_EQ(0, RunMenuCommand(Dialog, 9131));
    EXPECT_EQ(0, RunMenuCommand(Dialog, 9301));
    EXPECT_EQ("\nShellExecute (9131) failed (206).\n\nShellExecute (9301) failed (206).\n", Log());
    SuitePaths.HostsFileDirectory[255] = SuitePaths.WwwRootPath[70] = '\0';
    RunMenuCommand(Dialog, 9131), RunMenuCommand(Dialog, 9301);
    EXPECT_EQ("notepad.exe|hosts|" + directory.substr(1) + "\ncmd.exe|/K CD /D " + root.substr(1) + "|-\n", Launched);
}
TEST_F(MenuCommands, AboutShowsItsBoxOwnedByTheDialogAndExitSendsItWmClose) {
    HHOOK hook = SetWindowsHookExA(WH_CBT, BoxHook, NULL, GetCurrentThreadId());
    SetPropA(Dialog, "next", (HANDLE)SetWindowLongPtrA(Dialog, GWLP_WNDPROC, (LONG_PTR)Recorder));
    EXPECT_EQ(1, RunMenuCommand(Dialog, 9401));
    EXPECT_EQ(1, RunMenuCommand(Dialog, 9003));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ("About...|Quorvex Controller v2.00|owned\nWM_CLOSE 0\n", Closing);
    EXPECT_EQ("", Launched + Log());
}
}  // namespace
