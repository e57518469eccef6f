// Dialog helpers of the tests: the controller dialog created in the test
// process from the program's own template, and texts read from its controls.
#include "test_support.h"

#include "app/controller.h"
#include "res/resource.h"

void DestroyControllerDialog(HWND dialog)
{
    if (dialog) DestroyWindow(dialog);
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) DispatchMessageA(&message);
    }
}

std::string DialogItemText(HWND dialog, int id)
{
    char text[1024] = { 0 };
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

std::string ListBoxText(HWND dialog, int id, int row)
{
    LRESULT length = SendDlgItemMessageA(dialog, id, LB_GETTEXTLEN, (WPARAM)row, 0);
    if (length == LB_ERR) return "<no row>";
    std::string text((size_t)length + 1, '\0');
    SendDlgItemMessageA(dialog, id, LB_GETTEXT, (WPARAM)row, (LPARAM)&text[0]);
    text.resize((size_t)length);
    return text;
}

std::vector<std::string> ListBoxTexts(HWND dialog, int id)
{
    std::vector<std::string> rows;
    LRESULT count = SendDlgItemMessageA(dialog, id, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++) rows.push_back(ListBoxText(dialog, id, (int)i));
    return rows;
}

int ListBoxSelection(HWND dialog, int id)
{
    return (int)SendDlgItemMessageA(dialog, id, LB_GETCURSEL, 0, 0);
}


static INT_PTR CALLBACK BareDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

HWND CreateBareDialog()
{
    return CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                              BareDialogProc, 0);
}
