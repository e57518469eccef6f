/* The per-service progress dots of the poll timers and the killing of all
   eight poll timers, which the dialog and Requery All share. */
#include "controller.h"

#include <string.h>

#include "../res/resource.h"
#include "../services/services.h"

/* Killed in this order at destruction and by Requery All. */
static const UINT PollTimerKillOrder[2 * SERVICE_COUNT] = {
    IDT_STOP_POLL_BASE + 0,  IDT_START_POLL_BASE + 0, IDT_STOP_POLL_BASE + 1,
    IDT_START_POLL_BASE + 1, IDT_STOP_POLL_BASE + 2,  IDT_START_POLL_BASE + 2,
    IDT_STOP_POLL_BASE + 3,  IDT_START_POLL_BASE + 3
};

static char ProgressTexts[SERVICE_COUNT][PROGRESS_TEXT_MAX + 1];

const char *ProgressText(int serviceIndex)
{
    return ProgressTexts[serviceIndex];
}

void ProgressTextClear(int serviceIndex)
{
    ProgressTexts[serviceIndex][0] = '\0';
}

void ProgressTextGrow(int serviceIndex)
{
    size_t length = strlen(ProgressTexts[serviceIndex]);

    if (length <= PROGRESS_TEXT_MAX - 1) {
        ProgressTexts[serviceIndex][length] = '.';
        ProgressTexts[serviceIndex][length + 1] = '\0';
    }
}

void KillAllPollTimers(HWND hDlg)
{
    int i;

    for (i = 0; i < 2 * SERVICE_COUNT; i++) {
        KillTimer(hDlg, PollTimerKillOrder[i]);
    }
}
