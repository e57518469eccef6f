/* The controller dialog: bring-up, the four service buttons, the Services
   list, the two families of poll timers with their progress dots, closing
   and tear-down. Everything runs here, on the dialog's thread. */
#include "controller.h"
#include "../log/log.h"

#include <string.h>

#include "../res/resource.h"
#include "../services/services.h"
#include "../network/network.h"
#include "../hostinfo/hostinfo.h"
#include "../modules/modules.h"

static const char *const ServiceRowTexts[SERVICE_COUNT] = { "Apache2.2", "MySQL", "Tomcat5",
                                                            "IIS W3" };

static int SelectedService(HWND hDlg)
{
    return (int)SendDlgItemMessageA(hDlg, IDC_SERVICES_LIST, LB_GETCURSEL, 0, 0);
}

void ShowAllPanels(HWND hDlg)
{
    int i;
    int selected;

    for (i = 0; i < SERVICE_COUNT; i++) {
        RefreshStatusRow(hDlg, i);
        RefreshStartupTypeRow(hDlg, i);
    }
    selected = SelectedService(hDlg);
    if (selected != LB_ERR) {
        ShowServiceDetails(hDlg, selected);
    }
    FillSystemInformation(hDlg);
    FillModuleLists(hDlg);
    MapServiceEndpoints();
    if (selected != LB_ERR) {
        ShowServiceEndpoints(hDlg, selected);
    }
}

static void InitialiseDialog(HWND hDlg)
{
    int i;

    ControllerLogOpen();
    ServiceTableOpen();
    for (i = 0; i < SERVICE_COUNT; i++) {
        SendDlgItemMessageA(hDlg, IDC_SERVICES_LIST, LB_INSERTSTRING, (WPARAM)i,
                            (LPARAM)ServiceRowTexts[i]);
    }
    SendDlgItemMessageA(hDlg, IDC_SERVICES_LIST, LB_SELECTSTRING, 0, (LPARAM) "Apache2");
    ShowAllPanels(hDlg);
}

static void StartSelectedService(HWND hDlg)
{
    int i = SelectedService(hDlg);
    const char *name;

    if (i == LB_ERR) {
        return;
    }
    name = ServiceTable.entries[i].lpServiceName;
    ControllerLogAppend("\nUser Select 'Start Service' %s...\n", name);
    ServiceStart(i);
    ProgressTextClear(i);
    RefreshStatusRow(hDlg, i);
    SetTimer(hDlg, IDT_START_POLL_BASE + i, START_POLL_PERIOD_MS, NULL);
    ControllerLogAppend("\nTimer Set for %s -- Start Pending\n", name);
}

static void StopSelectedService(HWND hDlg)
{
    int i = SelectedService(hDlg);
    const char *name;

    if (i == LB_ERR) {
        return;
    }
    name = ServiceTable.entries[i].lpServiceName;
    ControllerLogAppend("\nUser Select 'Stop Service' %s...\n", name);
    ServiceStop(i);
    ProgressTextClear(i);
    RefreshStatusRow(hDlg, i);
    SetTimer(hDlg, IDT_STOP_POLL_BASE + i, STOP_POLL_PERIOD_MS, NULL);
    ControllerLogAppend("\nTimer Set for %s -- Stop Pending\n", name);
}

static void ChangeSelectedStartup(HWND hDlg, int enable)
{
    int i = SelectedService(hDlg);

    if (i == LB_ERR) {
        return;
    }
    if (enable) {
        ControllerLogAppend("\nUser Select 'Enable Service' %s...\n",
                            ServiceTable.entries[i].lpServiceName);
        ServiceEnable(i);
    } else {
        ControllerLogAppend("\nUser Select 'Disable Service' %s...\n",
                            ServiceTable.entries[i].lpServiceName);
        ServiceDisable(i);
    }
    ServiceQueryConfig(i);
    RefreshStartupTypeRow(hDlg, i);
}

static void HandleCommand(HWND hDlg, WPARAM wParam, LPARAM lParam)
{
    int id = LOWORD(wParam);
    int code = HIWORD(wParam);
    int selected;

    if (code == 0 && lParam == 0 && id >= IDM_FIRST && id <= IDM_LAST) {
        RunMenuCommand(hDlg, id);
        return;
    }
    switch (id) {
    case IDC_START_SERVICE:
        if (code == BN_CLICKED)
            StartSelectedService(hDlg);
        break;
    case IDC_STOP_SERVICE:
        if (code == BN_CLICKED)
            StopSelectedService(hDlg);
        break;
    case IDC_DISABLE_STARTUP:
        if (code == BN_CLICKED)
            ChangeSelectedStartup(hDlg, 0);
        break;
    case IDC_ENABLE_STARTUP:
        if (code == BN_CLICKED)
            ChangeSelectedStartup(hDlg, 1);
        break;
    case IDC_SERVICES_LIST:
        if (code == LBN_SELCHANGE) {
            /* A notification without a selection (LB_ERR) names no row. */
            selected = SelectedService(hDlg);
            if (selected == LB_ERR) {
                break;
            }
            ShowServiceDetails(hDlg, selected);
            ShowServiceEndpoints(hDlg, selected);
        }
        break;
    default:
        /* IDOK and IDCANCEL (Enter and Escape) and everything else: ignored. */
        break;
    }
}

static void HandlePollTimer(HWND hDlg, UINT_PTR timerId)
{
    int i;
    int isStart;
    DWORD target;
    UINT period;

    if (timerId >= IDT_STOP_POLL_BASE && timerId < IDT_STOP_POLL_BASE + SERVICE_COUNT) {
        i = (int)(timerId - IDT_STOP_POLL_BASE);
        isStart = 0;
    } else if (timerId >= IDT_START_POLL_BASE && timerId < IDT_START_POLL_BASE + SERVICE_COUNT) {
        i = (int)(timerId - IDT_START_POLL_BASE);
        isStart = 1;
    } else {
        return;
    }
    ProgressTextGrow(i);
    target = isStart ? SERVICE_RUNNING : SERVICE_STOPPED;
    period = isStart ? START_POLL_PERIOD_MS : STOP_POLL_PERIOD_MS;

    KillTimer(hDlg, timerId);
    ServiceQueryStatus(i);
    RefreshStatusRow(hDlg, i);
    if (ServiceTable.entries[i].ssStatus.dwCurrentState == target) {
        ProgressTextClear(i);
        ServiceQueryConfig(i);
        ServiceQueryDescription(i);
        if (isStart) {
            MapServiceEndpoints();
        }
        if (SelectedService(hDlg) == i) {
            ShowServiceDetails(hDlg, i);
            ShowServiceEndpoints(hDlg, i);
        }
        if (i == SERVICE_INDEX_APACHE) {
            FillModuleLists(hDlg);
        }
    } else {
        SetTimer(hDlg, timerId, period, NULL);
    }
}

INT_PTR CALLBACK ControllerDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitialiseDialog(hDlg);
        return TRUE;
    case WM_COMMAND:
        HandleCommand(hDlg, wParam, lParam);
        return FALSE;
    case WM_TIMER:
        HandlePollTimer(hDlg, (UINT_PTR)wParam);
        return FALSE;
    case WM_CLOSE:
        EndDialog(hDlg, (INT_PTR)wParam);
        return FALSE;
    case WM_DESTROY:
        KillAllPollTimers(hDlg);
        ServiceTableClose();
        /* The log is complete before the wait for the walker, which a driver
           can hold for its bound. */
        ControllerLogClose();
        EndHandleWalker();
        PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}
