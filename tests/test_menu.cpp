// Menu commands, the shell call recorded; the dialog and menu templates, the manifest.
#include <gtest/gtest.h>
#include "app/controller.h"
#include "log/log.h"
#include "paths/paths.h"
#include "res/resource.h"
#include "support/test_support.h"

namespace
{
#pragma pack(push, 2)
struct ItemHead { // of a control in an extended dialog template
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
};
#pragma pack(pop)

std::string TemplateText(const WORD *&at)
{
    std::string text;
    while (*at != 0)
        text += (char)*at++;
    at++;
    return text;
}

// Each control's style, box, id, class and text.
std::string DialogLines(const WORD *at)
{
    int items = at[8]; // after the version, signature, help id and styles
    std::string lines;
    at += 16;         // past the box, the menu and the class
    TemplateText(at); // the caption
    at += 3;          // the point size, weight, italic flag and character set
    TemplateText(at); // the face
    for (int i = 0; i < items; i++) {
        const ItemHead *item = (const ItemHead *)(((UINT_PTR)at + 3) & ~(UINT_PTR)3);
        char line[128];
        at = (const WORD *)(item + 1);
        std::string kind = TemplateText(at);
        std::string text = TemplateText(at);
        at += 1 + (at[0] + 1) / 2; // the creation data
        snprintf(line, sizeof(line), "%08lX %d %d %d %d %d %s \"%s\"\n", item->style, item->x,
                 item->y, item->cx, item->cy, (int)item->id, kind.c_str(), text.c_str());
        lines += line;
    }
    return lines;
}

// Each item's id (-1: a popup, 0: a separator) and text; a popup's items indented.
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

int Id;
INT_PTR Answer;
HWND Dialog;
std::string Launched;
int Ticks;

HINSTANCE WINAPI Shell(HWND, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT)
{
    Launched += std::to_string(Id) + " " + verb + " " + file + "|" +
                (parameters ? parameters : "-") + "|" + (directory ? directory : "-") + "\n";
    return (HINSTANCE)Answer;
}

// In the About box's loop: records and ends the box, or the loop at the 100th tick.
void CALLBACK Look(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = FindWindowA(NULL, "About...");
    char text[32] = "";
    if (box != NULL) {
        GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
        bool owned = GetWindow(box, GW_OWNER) == Dialog;
        Launched += std::to_string(Id) + " " + text + (owned ? " owned\n" : "\n");
        EndDialog(box, IDOK);
    }
    if (++Ticks == 100)
        PostQuitMessage(0);
}

#ifdef _WIN64
#define ARCHITECTURE "amd64"
#else
#define ARCHITECTURE "X86"
#endif

TEST(Menu, TemplatesAndCommands)
{
    Dialog = CreateBareDialog();
    EXPECT_EQ(ExpectedText("dialog.txt"),
              DialogLines((const WORD *)Resource(RT_DIALOG, IDD_CONTROLLER).data()));
    EXPECT_EQ(ExpectedText("menu.txt"), MenuLines(GetMenu(Dialog), ""));
    EXPECT_NE(
        std::string::npos,
        Resource(RT_MANIFEST, 1).find("6.0.0.0\" processorArchitecture=\"" ARCHITECTURE "\""));

    SuitePathsQuery();
    SetShellExecuteFunction(Shell);
    UINT_PTR look = SetTimer(NULL, 0, 100, Look);
    OpenFreshControllerLog();

    // Every id but Requery All's (the dialog ignores Exit's message).
    Answer = 33;
    for (Id = 9000; Id < 9500; Id++)
        EXPECT_EQ(1, RunMenuCommand(Dialog, Id));
    EXPECT_EQ(Filled(ExpectedText("launches.txt"), { { "ROOT", SuitePaths.WwwRootPath },
                                                     { "HOSTS", SuitePaths.HostsFileDirectory } }),
              Launched);

    // Refused by the shell, and before it: a directory too long.
    Answer = 32;
    EXPECT_EQ(0, RunMenuCommand(Dialog, IDM_LOCALHOST));
    strcpy(SuitePaths.HostsFileDirectory, std::string(256, 'd').c_str());
    EXPECT_EQ(0, RunMenuCommand(Dialog, IDM_HOSTS_FILE));
    ControllerLogClose();
    EXPECT_EQ(ExpectedText("refused.log"), ReadControllerLog());

    KillTimer(NULL, look);
    SetShellExecuteFunction(NULL);
    DestroyWindow(Dialog);
}
} // namespace
