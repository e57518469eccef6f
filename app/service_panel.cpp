/* The service panel: one service's row of the Status and Startup Type lists
   and the Description, Binary Path and Process Id fields, built from its
   ServiceTable row and its ProgressText. */
#include "controller.h"

#include <stdio.h>
#include <string.h>

#include "../res/resource.h"
#include "../services/services.h"
#include "../textfit/textfit.h"

typedef struct StatusRowTextRow {
    DWORD dwCurrentState;
    const char *text;
    int withProgress; /* followed by the ProgressText */
} StatusRowTextRow;

static const StatusRowTextRow StatusRowTexts[] = {
    { SERVICE_STOPPED, "Stopped", 0 },
    { SERVICE_START_PENDING, "Starting", 1 },
    { SERVICE_STOP_PENDING, "Stopping", 1 },
    { SERVICE_RUNNING, "Running", 0 },
    { SERVICE_CONTINUE_PENDING, "Continuing", 0 },
    { SERVICE_PAUSE_PENDING, "Pausing", 0 },
    { SERVICE_PAUSED, "Paused", 0 },
};

typedef struct StartupTypeTextRow {
    DWORD dwStartType;
    const char *text;
} StartupTypeTextRow;

static const StartupTypeTextRow StartupTypeTexts[] = {
    { SERVICE_BOOT_START, "Boot Time" }, { SERVICE_SYSTEM_START, "System" },
    { SERVICE_AUTO_START, "Automatic" }, { SERVICE_DEMAND_START, "Demand" },
    { SERVICE_DISABLED, "Disabled" },
};

#define STATE_TEXT_UNKNOWN      "Unknown"
#define START_TYPE_TEXT_UNKNOWN "Unknown"
#define TEXT_NOT_INSTALLED      "[not installed]"
#define TEXT_NOT_PROVIDED       "[not provided]"
#define TEXT_NOT_RUNNING        "[not running]"

static int IsServiceIndex(int serviceIndex)
{
    return serviceIndex >= 0 && serviceIndex < SERVICE_COUNT;
}

int FormatStatusRowText(char *text, int installed, DWORD currentState, DWORD win32ExitCode,
                        DWORD serviceSpecificExitCode, const char *progress)
{
    const char *stateText = STATE_TEXT_UNKNOWN;
    int withProgress = 0;
    size_t i;

    if (installed != 1) {
        snprintf(text, STATUS_ROW_TEXT_SIZE, "%s", TEXT_NOT_INSTALLED);
        return 1;
    }
    for (i = 0; i < sizeof(StatusRowTexts) / sizeof(StatusRowTexts[0]); i++) {
        if (StatusRowTexts[i].dwCurrentState == currentState) {
            stateText = StatusRowTexts[i].text;
            withProgress = StatusRowTexts[i].withProgress;
            break;
        }
    }
    snprintf(text, STATUS_ROW_TEXT_SIZE, "%s%s", stateText,
             (withProgress && progress != NULL) ? progress : "");
    /* A service that reports its own exit code shows it, whatever its state. */
    if (win32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) {
        snprintf(text, STATUS_ROW_TEXT_SIZE, "Error [%d]", (int)serviceSpecificExitCode);
    }
    return 1;
}

const char *StartupTypeRowText(int installed, DWORD startType)
{
    size_t i;

    if (installed != 1) {
        return "";
    }
    for (i = 0; i < sizeof(StartupTypeTexts) / sizeof(StartupTypeTexts[0]); i++) {
        if (StartupTypeTexts[i].dwStartType == startType) {
            return StartupTypeTexts[i].text;
        }
    }
    return START_TYPE_TEXT_UNKNOWN;
}

/* Row i rewritten where it stands: delete, then insert at the same index. */
static void RewriteListRow(HWND hDlg, int listId, int row, const char *text)
{
    SendDlgItemMessageA(hDlg, listId, LB_DELETESTRING, (WPARAM)row, 0);
    SendDlgItemMessageA(hDlg, listId, LB_INSERTSTRING, (WPARAM)row, (LPARAM)text);
}

int RefreshStatusRow(HWND hDlg, int serviceIndex)
{
    const ServiceEntry *entry;
    char text[STATUS_ROW_TEXT_SIZE];

    if (!IsServiceIndex(serviceIndex)) {
        return 0;
    }
    entry = &ServiceTable.entries[serviceIndex];
    memset(text, 0, sizeof(text));
    FormatStatusRowText(text, entry->bInstalled, entry->ssStatus.dwCurrentState,
                        entry->ssStatus.dwWin32ExitCode, entry->ssStatus.dwServiceSpecificExitCode,
                        ProgressText(serviceIndex));
    RewriteListRow(hDlg, IDC_STATUS_LIST, serviceIndex, text);
    return 1;
}

int RefreshStartupTypeRow(HWND hDlg, int serviceIndex)
{
    const ServiceEntry *entry;
    const char *text = "";

    if (!IsServiceIndex(serviceIndex)) {
        return 0;
    }
    entry = &ServiceTable.entries[serviceIndex];
    /* A failed configuration query leaves the block zero-filled, service
       type 0 included: the start type is not known, and the row stays empty
       rather than reading as a boot-time service. */
    if (entry->lpConfiguration != NULL && entry->lpConfiguration->dwServiceType != 0) {
        text = StartupTypeRowText(entry->bInstalled, entry->lpConfiguration->dwStartType);
    }
    RewriteListRow(hDlg, IDC_STARTUP_TYPE_LIST, serviceIndex, text);
    return 1;
}

int ShowServiceDetails(HWND hDlg, int serviceIndex)
{
    const ServiceEntry *entry;
    const char *path = NULL;
    char processId[PROCESS_ID_TEXT_SIZE];

    if (!IsServiceIndex(serviceIndex)) {
        return 0;
    }
    entry = &ServiceTable.entries[serviceIndex];
    if (entry->bInstalled == 0) {
        SetDlgItemTextA(hDlg, IDC_DESCRIPTION, TEXT_NOT_INSTALLED);
        SetDlgItemTextA(hDlg, IDC_BINARY_PATH, "");
        SetDlgItemTextA(hDlg, IDC_PROCESS_ID, "");
        return 1;
    }

    if (entry->lpDescription == NULL || entry->lpDescription->lpDescription == NULL) {
        SetDlgItemTextA(hDlg, IDC_DESCRIPTION, TEXT_NOT_PROVIDED);
    } else {
        SetFittedDlgItemText(hDlg, IDC_DESCRIPTION, entry->lpDescription->lpDescription);
    }

    /* A failed configuration query leaves the block zero-filled: no path,
       an empty field. */
    if (entry->lpConfiguration != NULL) {
        path = entry->lpConfiguration->lpBinaryPathName;
    }
    SetFittedDlgItemText(hDlg, IDC_BINARY_PATH, path != NULL ? path : "");

    if (entry->ssStatus.dwProcessId == 0) {
        SetDlgItemTextA(hDlg, IDC_PROCESS_ID, TEXT_NOT_RUNNING);
    } else {
        memset(processId, 0, sizeof(processId));
        snprintf(processId, sizeof(processId), "%d", (int)entry->ssStatus.dwProcessId);
        SetDlgItemTextA(hDlg, IDC_PROCESS_ID, processId);
    }
    return 1;
}
