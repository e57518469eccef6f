// Selects a row of the running controller's Services list and presses one of
// its service buttons, as a user would with the mouse; the demo script uses
// it to show a service starting.
//
//   qvx_demo_press ROW BUTTON-ID
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "res/resource.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: qvx_demo_press ROW BUTTON-ID\n");
        return 2;
    }
    int row = atoi(argv[1]);
    int button = atoi(argv[2]);
    HWND dialog = NULL;
    for (int i = 0; i < 600 && !dialog; i++) {
        dialog = FindWindowA(NULL, "Quorvex Controller");
        if (!dialog)
            Sleep(100);
    }
    if (!dialog) {
        fprintf(stderr, "the controller's dialog is not open\n");
        return 1;
    }
    HWND list = GetDlgItem(dialog, IDC_SERVICES_LIST);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(list, LB_SETCURSEL, (WPARAM)row, 0, SMTO_NORMAL, 30000, &result) ||
        !SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SERVICES_LIST, LBN_SELCHANGE),
                             (LPARAM)list, SMTO_NORMAL, 30000, &result) ||
        !SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                             (LPARAM)GetDlgItem(dialog, button), SMTO_NORMAL, 30000, &result)) {
        fprintf(stderr, "the dialog did not answer\n");
        return 1;
    }
    return 0;
}
