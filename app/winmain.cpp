/* Program entry: registers the common controls and runs the controller
   dialog modally; the dialog manager's loop is the main loop. */
#include <windows.h>
#include <commctrl.h>

#include "controller.h"
#include "../res/resource.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    INITCOMMONCONTROLSEX controls;

    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;
    controls.dwSize = 8;
    controls.dwICC = ICC_BAR_CLASSES | ICC_INTERNET_CLASSES;
    InitCommonControlsEx(&controls);
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                                ControllerDialogProc, 0);
}
