/* The four service actions behind the dialog's buttons: stop, start,
   disable (start on demand) and enable (start automatically) one
   ServiceTable row, each after a fresh query of that row. */
#include "services.h"

#include <stdio.h>

#include "../log/log.h"

#define PENDING_WARNING_FORMAT                                                                     \
    "\nWarning:\n'%s' Service exists, currently, in state that is neither "                        \
    "\"SERVICE_STOPPED\" nor \"SERVICE_RUNNING\".\nMost likely, Service is currently "             \
    "in a PENDING or PAUSED state.\nWait a few seconds and try again.\nUser should "               \
    "manually %s this Service.\n"

/* The notes that go to standard output instead of the log. */
static void WriteStandardOutputNote(const char *format, const char *name)
{
    printf(format, name);
    fflush(stdout);
}

static int ChangeStartType(ServiceEntry *entry, DWORD startType)
{
    if (!ChangeServiceConfigA(entry->hService, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                              NULL, NULL, NULL, NULL, NULL, NULL, NULL)) {
        ControllerLogAppend("\nChangeServiceConfig (%s) failed (%d).\n", entry->lpServiceName,
                            (int)GetLastError());
        return 0;
    }
    return 1;
}

int ServiceStop(int serviceIndex)
{
    ServiceEntry *entry = &ServiceTable.entries[serviceIndex];

    if (entry->bInstalled == 0 || !ServiceQueryStatus(serviceIndex)) {
        return 0;
    }
    switch (entry->ssStatus.dwCurrentState) {
    case SERVICE_STOPPED:
        ControllerLogAppend("\nService (%s) is already stopped.\n", entry->lpServiceName);
        return 1;
    case SERVICE_RUNNING:
        /* The reply overwrites the first seven fields of the row's status;
           process id and flags stay those of the fresh query. */
        if (!ControlService(entry->hService, SERVICE_CONTROL_STOP,
                            (LPSERVICE_STATUS)&entry->ssStatus)) {
            ControllerLogAppend("\nControlService (%s) failed (%d).\n", entry->lpServiceName,
                                (int)GetLastError());
            return 0;
        }
        ControllerLogAppend("\n'%s' Stopping Service...\n", entry->lpServiceName);
        ControllerLogAppend("\n'%s' Imidiate Service State: '%x'\n", entry->lpServiceName,
                            (unsigned)entry->ssStatus.dwCurrentState);
        ControllerLogFlush();
        return 1;
    default:
        ControllerLogAppend(PENDING_WARNING_FORMAT, entry->lpServiceName, "stop");
        return 0;
    }
}

int ServiceStart(int serviceIndex)
{
    ServiceEntry *entry = &ServiceTable.entries[serviceIndex];

    if (entry->bInstalled == 0 || !ServiceQueryStatus(serviceIndex)) {
        return 0;
    }
    switch (entry->ssStatus.dwCurrentState) {
    case SERVICE_RUNNING:
        ControllerLogAppend("\nService (%s) is already started.\n", entry->lpServiceName);
        return 1;
    case SERVICE_STOPPED:
        if (!StartServiceA(entry->hService, 0, NULL)) {
            ControllerLogAppend("\nStartService (%s) failed (%d).\n", entry->lpServiceName,
                                (int)GetLastError());
            return 0;
        }
        ControllerLogAppend("\n'%s' Starting Service...\n", entry->lpServiceName);
        if (!ServiceQueryStatus(serviceIndex)) {
            return 0;
        }
        ControllerLogAppend("\n'%s' Imidiate Service State: '%x'\n", entry->lpServiceName,
                            (unsigned)entry->ssStatus.dwCurrentState);
        ControllerLogFlush();
        return 1;
    default:
        ControllerLogAppend(PENDING_WARNING_FORMAT, entry->lpServiceName, "start");
        return 0;
    }
}

int ServiceDisable(int serviceIndex)
{
    ServiceEntry *entry = &ServiceTable.entries[serviceIndex];
    DWORD startType;

    if (entry->bInstalled == 0 || !ServiceQueryConfig(serviceIndex)) {
        return 0;
    }
    startType = entry->lpConfiguration->dwStartType;
    if (startType == SERVICE_DISABLED || startType == SERVICE_DEMAND_START) {
        WriteStandardOutputNote("\nService (%s) is already disabled.\n", entry->lpServiceName);
        return 1;
    }
    if (!ChangeStartType(entry, SERVICE_DEMAND_START)) {
        return 0;
    }
    ControllerLogAppend("\n'%s' Service Startup Type changed to 'Disabled'.\n",
                        entry->lpServiceName);
    return 1;
}

int ServiceEnable(int serviceIndex)
{
    ServiceEntry *entry = &ServiceTable.entries[serviceIndex];

    if (entry->bInstalled == 0 || !ServiceQueryConfig(serviceIndex)) {
        return 0;
    }
    if (entry->lpConfiguration->dwStartType == SERVICE_AUTO_START) {
        WriteStandardOutputNote("\nService (%s) is already enabled.\n", entry->lpServiceName);
        return 1;
    }
    if (!ChangeStartType(entry, SERVICE_AUTO_START)) {
        return 0;
    }
    ControllerLogAppend("\n'%s' Service Startup Type changed to 'Enabled'.\n",
                        entry->lpServiceName);
    return 1;
}
