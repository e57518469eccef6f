// Menu commands with the shell call recorded: what each id launches, refused launches, About and
// Exit. The program's dialog and menu templates and its manifest.
#include <gtest/gtest.h>
#include "app/controller.h"
#include "log/log.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/test_support.h"

namespace
{
#pragma pack(push, 2)
struct DialogHead { // of an extended dialog template
    WORD version, signature;
    DWORD helpId, exStyle, style;
    WORD items;
    short x, y, cx, cy;
};
struct ItemHead {
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
};
#pragma pack(pop)

// A text of a template; 0xFFFF and an ordinal are written "#ordinal".
std::string TemplateText(const WORD *&at)
{
    std::string text;
    if (*at == 0xFFFF) {
        text = "#" + std::to_string(at[1]);
        at += 2;
        return text;
    }
    while (*at != 0)
        text += (char)*at++;
    at++;
    return text;
}

// The dialog's line (style, box, menu, caption, point size, face), then the controls' (style,
// box, id, class, text).
std::string DialogLines(const WORD *at)
{
    const DialogHead *dialog = (const DialogHead *)at;
    at += sizeof(DialogHead) / 2;
    std::string menu = TemplateText(at);
    std::string kind = TemplateText(at);
    std::string caption = TemplateText(at);
    int points = at[0];
    at += 3; // the point size, the weight, the italic flag and the character set
    char line[160];
    snprintf(line, sizeof(line), "%08lX %d %d %d %d %s \"%s\" %d \"%s\"\n", dialog->style,
             dialog->x, dialog->y, dialog->cx, dialog->cy, menu.c_str(), caption.c_str(), points,
             TemplateText(at).c_str());
    std::string lines = line + kind;
    for (int i = 0; i < dialog->items; i++) {
        at = (const WORD *)(((UINT_PTR)at + 3) & ~(UINT_PTR)3);
        const ItemHead *item = (const ItemHead *)at;
        at += sizeof(ItemHead) / 2;
        kind = TemplateText(at);
        std::string text = TemplateText(at);
        at += 1 + (at[0] + 1) / 2; // the creation data
        snprintf(line, sizeof(line), "%08lX %d %d %d %d %d %s \"%s\"\n", item->style, item->x,
                 item->y, item->cx, item->cy, (int)item->id, kind.c_str(), text.c_str());
        lines += line;
    }
    return lines;
}

// Each item's id (-1 for a popup, 0 for a separator) and text; a popup's items indented below.
std::string MenuLines(HMENU menu, const std::string &indent)
{
    std::string lines;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        char text[64] = "";
        GetMenuStringA(menu, i, text, sizeof(text), MF_BYPOSITION);
        lines += indent + std::to_string((int)GetMenuItemID(menu, i)) + " \"" + text + "\"\n";
        if (GetSubMenu(menu, i) != NULL)
            lines += MenuLines(GetSubMenu(menu, i), indent + "  ");
    }
    return lines;
}

std::string Resource(LPCSTR type, int id)
{
    HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(id), type);
    return std::string((const char *)LockResource(LoadResource(NULL, found)),
                       SizeofResource(NULL, found));
}

TEST(Resources, DialogAndMenuTemplatesAndManifest)
{
    HWND dialog = CreateBareDialog();
    std::string manifest = Resource(RT_MANIFEST, 1);

    EXPECT_EQ(ExpectedText("dialog.txt"),
              DialogLines((const WORD *)Resource(RT_DIALOG, 101).data()));
    EXPECT_EQ(ExpectedText("menu.txt"), MenuLines(GetMenu(dialog), ""));
    EXPECT_NE(std::string::npos, manifest.find("level=\"highestAvailable\" uiAccess=\"false\""));
    EXPECT_NE(std::string::npos, manifest.find("Common-Controls\" version=\"6.0.0.0\""));
    DestroyWindow(dialog);
}

INT_PTR Answer;
HWND Dialog;
std::string Launched; // each shell call as "file|parameters|directory", the About box, WM_CLOSE

HINSTANCE WINAPI Shell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                       INT show)
{
    if (owner != NULL || strcmp(verb, "open") != 0 || show != SW_SHOWNORMAL)
        Launched += "not an open of its own: ";
    Launched += file + std::string("|") + (parameters ? parameters : "-") + "|";
    Launched += (directory ? directory : "-") + std::string("\n");
    return (HINSTANCE)Answer;
}

// Records the message box as "caption|text|owner" and closes it; records WM_CLOSE.
LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT *sent = (const CWPRETSTRUCT *)lParam;
    if (sent->message == WM_CLOSE && sent->hwnd == Dialog)
        Launched += "WM_CLOSE " + std::to_string(sent->wParam + sent->lParam) + "\n";
    if (sent->message == WM_INITDIALOG && sent->hwnd != Dialog) {
        char caption[32] = "";
        char text[32] = "";
        GetWindowTextA(sent->hwnd, caption, sizeof(caption));
        GetDlgItemTextA(sent->hwnd, 0xFFFF, text, sizeof(text));
        bool owned = GetWindow(sent->hwnd, GW_OWNER) == Dialog;
        Launched += std::string(caption) + "|" + text + (owned ? "|owned\n" : "|not owned\n");
        PostMessageA(sent->hwnd, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

// Ends a message box the watch missed: the box's loop ends on the quit message.
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD)
{
    PostQuitMessage(0);
}

TEST(MenuCommands, LaunchesAboutExitAndRefusedLaunches)
{
    strcpy(SuitePaths.ApacheLogsPath, "logs");
    strcpy(SuitePaths.ApacheConfPath, "conf");
    strcpy(SuitePaths.ApacheConfExtraPath, "extra");
    strcpy(SuitePaths.ApacheConfSuitePath, "suite");
    strcpy(SuitePaths.MySqlIniPath, "mysql");
    strcpy(SuitePaths.PhpIniPath, "php");
    strcpy(SuitePaths.HostsFileDirectory, "etc");
    strcpy(SuitePaths.WwwRootPath, "C:\\www");
    SetShellExecuteFunction(Shell);
    Dialog = CreateBareDialog();
    HHOOK watch = SetWindowsHookExA(WH_CALLWNDPROCRET, Watch, NULL, GetCurrentThreadId());
    UINT_PTR bound = SetTimer(NULL, 0, 20000, GiveUp);
    OpenFreshControllerLog();

    Answer = 33;
    for (int id : { 9101, 9102, 9111, 9112, 9113, 9114, 9121, 9122, 9131, 9201, 9202,
                    9203, 9211, 9212, 9213, 9214, 9215, 9221, 9222, 9223, 9231, 9301,
                    9302, 9401, 9003, 9000, 9150, 9250, 9350, 9402, 9999 }) {
        Launched += std::to_string(id) + " ";
        EXPECT_EQ(1, RunMenuCommand(Dialog, id)) << id;
    }
    EXPECT_EQ(ExpectedText("launches.txt"), Launched + "\n");

    const struct {
        int id;
        INT_PTR answer;
    } refused[] = { { 9101, 0 }, { 9201, 32 }, { 9301, -1 }, { 9302, 2 } };
    for (const auto &launch : refused) {
        Answer = launch.answer;
        EXPECT_EQ(0, RunMenuCommand(Dialog, launch.id)) << launch.id;
    }
    // A directory or command line one byte longer than its buffer is refused before the shell.
    Answer = 33;
    strcpy(SuitePaths.HostsFileDirectory, std::string(256, 'd').c_str());
    strcpy(SuitePaths.WwwRootPath, std::string(71, 'w').c_str());
    EXPECT_EQ(0, RunMenuCommand(Dialog, IDM_HOSTS_FILE));
    EXPECT_EQ(0, RunMenuCommand(Dialog, IDM_COMMAND_PROMPT));
    ControllerLogClose();
    EXPECT_EQ(ExpectedText("refused.log"), ReadControllerLog());

    KillTimer(NULL, bound);
    UnhookWindowsHookEx(watch);
    SetShellExecuteFunction(NULL);
    DestroyWindow(Dialog);
}
} // namespace
