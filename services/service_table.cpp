/* The ServiceTable: the handle on the Service Control Manager and the four
   managed services' rows, opened at bring-up and by Requery All, each
   query refreshing one row in place and logging what it learned. */
#include "services.h"

#include <stdlib.h>
#include <string.h>

#include "../log/log.h"

ServiceTableRecord ServiceTable = { NULL,
                                    {
                                        { "Apache2.2", 0, NULL, { 0 }, NULL, NULL },
                                        { "MySQL", 0, NULL, { 0 }, NULL, NULL },
                                        { "Tomcat5", 0, NULL, { 0 }, NULL, NULL },
                                        { "W3svc", 0, NULL, { 0 }, NULL, NULL },
                                    } };

ServiceBlockAllocator ServiceBlockAllocate = malloc;
ServiceManagerOpener ServiceManagerOpen = OpenSCManagerA;

/* What a failed close left behind is replaced here, without log lines. */
static void ReleaseLeftovers(void)
{
    int i;

    for (i = 0; i < SERVICE_COUNT; i++) {
        ServiceEntry *entry = &ServiceTable.entries[i];
        if (entry->bInstalled && entry->hService != NULL) {
            CloseServiceHandle(entry->hService);
        }
        entry->hService = NULL;
        entry->bInstalled = 0;
        free(entry->lpConfiguration);
        entry->lpConfiguration = NULL;
        free(entry->lpDescription);
        entry->lpDescription = NULL;
    }
}

/* After a failed open: a row without both buffers reads as not installed,
   and its handle is given back at once. */
static void DisableRowsWithoutBuffers(void)
{
    int i;

    for (i = 0; i < SERVICE_COUNT; i++) {
        ServiceEntry *entry = &ServiceTable.entries[i];
        if (entry->lpConfiguration == NULL || entry->lpDescription == NULL) {
            if (entry->bInstalled && entry->hService != NULL) {
                CloseServiceHandle(entry->hService);
            }
            entry->hService = NULL;
            entry->bInstalled = 0;
        }
    }
}

int ServiceTableOpen(void)
{
    int i;
    DWORD error;

    ReleaseLeftovers();
    ServiceTable.hSCManager = ServiceManagerOpen(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (ServiceTable.hSCManager == NULL) {
        ControllerLogAppend("\nOpenSCManager failed (%d).\n", (int)GetLastError());
        return 0;
    }

    for (i = 0; i < SERVICE_COUNT; i++) {
        ServiceEntry *entry = &ServiceTable.entries[i];
        entry->hService =
            OpenServiceA(ServiceTable.hSCManager, entry->lpServiceName, SERVICE_OPEN_ACCESS);
        if (entry->hService != NULL) {
            entry->bInstalled = 1;
            ControllerLogAppend("\n'%s' Service name exist.\n", entry->lpServiceName);
            continue;
        }
        error = GetLastError();
        entry->bInstalled = 0;
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            ControllerLogAppend("\n'%s' Service name does NOT exist.\n", entry->lpServiceName);
        } else {
            ControllerLogAppend("\nOpenService (%s) failed (%d).\n", entry->lpServiceName,
                                (int)error);
            DisableRowsWithoutBuffers();
            return 0;
        }
    }

    for (i = 0; i < SERVICE_COUNT; i++) {
        ServiceEntry *entry = &ServiceTable.entries[i];
        entry->lpConfiguration = (LPQUERY_SERVICE_CONFIGA)ServiceBlockAllocate(SERVICE_BLOCK_SIZE);
        if (entry->lpConfiguration == NULL) {
            ControllerLogAppend("\nUnable to allocate %d bytes for 'lpConfiguration'.\n",
                                SERVICE_BLOCK_SIZE);
            DisableRowsWithoutBuffers();
            return 0;
        }
        memset(entry->lpConfiguration, 0, SERVICE_BLOCK_SIZE);
        entry->lpDescription = (LPSERVICE_DESCRIPTIONA)ServiceBlockAllocate(SERVICE_BLOCK_SIZE);
        if (entry->lpDescription == NULL) {
            ControllerLogAppend("\nUnable to allocate %d bytes for 'lpDescription'.\n",
                                SERVICE_BLOCK_SIZE);
            DisableRowsWithoutBuffers();
            return 0;
        }
        memset(entry->lpDescription, 0, SERVICE_BLOCK_SIZE);
    }

    for (i = 0; i < SERVICE_COUNT; i++) {
        memset(&ServiceTable.entries[i].ssStatus, 0, sizeof(SERVICE_STATUS_PROCESS));
    }

    for (i = 0; i < SERVICE_COUNT; i++) {
        const char *name = ServiceTable.entries[i].lpServiceName;
        if (ServiceTable.entries[i].bInstalled == 1) {
            ControllerLogAppend("\nPerforming Initial ServiceQueryStatus (%s)...\n", name);
            ServiceQueryStatus(i);
            ControllerLogAppend("\nPerforming Initial ServiceQueryConfig (%s)...\n", name);
            ServiceQueryConfig(i);
            ControllerLogAppend("\nPerforming Initial ServiceQueryDescription (%s)...\n", name);
            ServiceQueryDescription(i);
        } else {
            ControllerLogAppend("\nInitial Service Query Status,Config,Description (%s) not "
                                "performed; Service is not Installed.\n",
                                name);
        }
    }
    ControllerLogFlush();
    return 1;
}

int ServiceTableClose(void)
{
    int i;

    if (!CloseServiceHandle(ServiceTable.hSCManager)) {
        ControllerLogAppend("\nCloseServiceHandle(hSCManager) failed (%d).\n", (int)GetLastError());
        return 0;
    }
    ControllerLogAppend("\nCloseServiceHandle(hSCManager) successful.\n");
    ServiceTable.hSCManager = NULL;

    for (i = 0; i < SERVICE_COUNT; i++) {
        ServiceEntry *entry = &ServiceTable.entries[i];
        if (entry->bInstalled == 1) {
            if (!CloseServiceHandle(entry->hService)) {
                ControllerLogAppend("\nCloseServiceHandle (%s) failed (%d).\n",
                                    entry->lpServiceName, (int)GetLastError());
                return 0;
            }
            ControllerLogAppend("\nCloseServiceHandle (%s) successful.\n", entry->lpServiceName);
            entry->hService = NULL;
            entry->bInstalled = 0;
        } else {
            ControllerLogAppend("\nCloseServiceHandle (%s) not called; Service is not Installed.\n",
                                entry->lpServiceName);
        }
    }

    for (i = 0; i < SERVICE_COUNT; i++) {
        ServiceEntry *entry = &ServiceTable.entries[i];
        free(entry->lpConfiguration);
        entry->lpConfiguration = NULL;
        ControllerLogAppend("\nfree 'lpConfiguration' (%s) performed.\n", entry->lpServiceName);
        free(entry->lpDescription);
        entry->lpDescription = NULL;
        ControllerLogAppend("\nfree 'lpDescription' (%s) performed.\n", entry->lpServiceName);
    }

    for (i = 0; i < SERVICE_COUNT; i++) {
        ServiceTable.entries[i].bInstalled = 0;
        ServiceTable.entries[i].hService = NULL;
    }
    ControllerLogFlush();
    return 1;
}

int ServiceQueryStatus(int serviceIndex)
{
    ServiceEntry *entry = &ServiceTable.entries[serviceIndex];
    SERVICE_STATUS_PROCESS *status = &entry->ssStatus;
    DWORD needed = 0;

    if (entry->bInstalled == 0) {
        return 0;
    }
    memset(status, 0, sizeof(*status));
    if (!QueryServiceStatusEx(entry->hService, SC_STATUS_PROCESS_INFO, (LPBYTE)status,
                              sizeof(SERVICE_STATUS_PROCESS), &needed)) {
        ControllerLogAppend("\nQueryServiceStatusEx (%s) failed (%d).\n", entry->lpServiceName,
                            (int)GetLastError());
        memset(status, 0, sizeof(*status));
        return 0;
    }
    ControllerLogAppend("\nStatus of Service:\n");
    ControllerLogAppend("\tService Type: %#010x\n", (unsigned)status->dwServiceType);
    ControllerLogAppend("\tCurrent State: %#010x\n", (unsigned)status->dwCurrentState);
    ControllerLogAppend("\tControls Accepted: %#010x\n", (unsigned)status->dwControlsAccepted);
    ControllerLogAppend("\tWin32 Exit Code: %d\n", (int)status->dwWin32ExitCode);
    ControllerLogAppend("\tService Specific Exit Code: %d\n",
                        (int)status->dwServiceSpecificExitCode);
    ControllerLogAppend("\tCheck Point: %d\n", (int)status->dwCheckPoint);
    ControllerLogAppend("\tWait Hint: %d\n", (int)status->dwWaitHint);
    ControllerLogAppend("\tProcess Id: %d\n", (int)status->dwProcessId);
    ControllerLogAppend("\tService Flags: %#010x\n", (unsigned)status->dwServiceFlags);
    ControllerLogFlush();
    return 1;
}

void LogServiceConfiguration(const QUERY_SERVICE_CONFIGA *config)
{
    ControllerLogAppend("\nConfiguration of Service:\n");
    ControllerLogAppend("\tService Type: %#010x\n", (unsigned)config->dwServiceType);
    ControllerLogAppend("\tStart Type: %#010x\n", (unsigned)config->dwStartType);
    ControllerLogAppend("\tError Control: %#010x\n", (unsigned)config->dwErrorControl);
    ControllerLogAppend("\tBinary Path Name: %s\n",
                        config->lpBinaryPathName != NULL ? config->lpBinaryPathName : "");
    if (config->lpLoadOrderGroup != NULL && config->lpLoadOrderGroup[0] != '\0') {
        ControllerLogAppend("\tLoad Order Group: %s\n", config->lpLoadOrderGroup);
    }
    if (config->dwTagId != 0) {
        ControllerLogAppend("\tTag Id: %d\n", (int)config->dwTagId);
    }
    /* A dependency list is a sequence of terminated names: %s prints the
       first one. */
    if (config->lpDependencies != NULL && config->lpDependencies[0] != '\0') {
        ControllerLogAppend("\tDependencies: %s\n", config->lpDependencies);
    }
    if (config->lpServiceStartName != NULL) {
        ControllerLogAppend("\tService Start Name: %s\n", config->lpServiceStartName);
    }
    if (config->lpDisplayName != NULL) {
        ControllerLogAppend("\tDisplay Name: %s\n", config->lpDisplayName);
    }
}

int ServiceQueryConfig(int serviceIndex)
{
    ServiceEntry *entry = &ServiceTable.entries[serviceIndex];
    DWORD needed = 0;

    if (entry->bInstalled == 0) {
        return 0;
    }
    memset(entry->lpConfiguration, 0, SERVICE_BLOCK_SIZE);
    if (!QueryServiceConfigA(entry->hService, entry->lpConfiguration, SERVICE_BLOCK_SIZE,
                             &needed)) {
        ControllerLogAppend("\nQueryServiceConfig (%s) failed (%d).\n", entry->lpServiceName,
                            (int)GetLastError());
        memset(entry->lpConfiguration, 0, SERVICE_BLOCK_SIZE);
        return 0;
    }
    LogServiceConfiguration(entry->lpConfiguration);
    ControllerLogFlush();
    return 1;
}

int ServiceQueryDescription(int serviceIndex)
{
    ServiceEntry *entry = &ServiceTable.entries[serviceIndex];
    DWORD needed = 0;

    if (entry->bInstalled == 0) {
        return 0;
    }
    memset(entry->lpDescription, 0, SERVICE_BLOCK_SIZE);
    if (!QueryServiceConfig2A(entry->hService, SERVICE_CONFIG_DESCRIPTION,
                              (LPBYTE)entry->lpDescription, SERVICE_BLOCK_SIZE, &needed)) {
        ControllerLogAppend("\nQueryServiceConfig2 (%s) failed (%d).\n", entry->lpServiceName,
                            (int)GetLastError());
        memset(entry->lpDescription, 0, SERVICE_BLOCK_SIZE);
        return 0;
    }
    if (entry->lpDescription->lpDescription != NULL) {
        ControllerLogAppend("\tDescription: %s\n", entry->lpDescription->lpDescription);
    } else {
        ControllerLogAppend("\tDescription: [not provided]\n");
    }
    ControllerLogFlush();
    return 1;
}
