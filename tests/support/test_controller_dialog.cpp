// The real controller dialog created in the test process. Kept apart from
// the other dialog helpers so that a test of one display operation links
// without the dialog procedure and every subsystem it calls.
#include "test_support.h"

#include "app/controller.h"
#include "res/resource.h"

HWND CreateControllerDialog()
{
    return CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROLLER), NULL,
                              ControllerDialogProc, 0);
}
