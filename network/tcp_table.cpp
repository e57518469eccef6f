/* The EndpointTable and the mapping of each running service's process id to
   its TCP endpoints through the system's TCP owner table, with the handle
   walk as the fallback. */
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <stdlib.h>
#include <string.h>

#include "network.h"
#include "../log/log.h"
#include "../services/services.h"

ServiceEndpoints EndpointTable[4];

typedef DWORD(WINAPI *GetExtendedTcpTableFunction)(PVOID pTcpTable, PDWORD pdwSize, BOOL bOrder,
                                                   ULONG ulAf, TCP_TABLE_CLASS TableClass,
                                                   ULONG Reserved);

#define TCP_TABLE_PROBE_SIZE          28 /* the count and one row */
#define TCP_TABLE_ADDRESS_FAMILY      AF_INET
#define TCP_TABLE_CLASS_OWNER_PID_ALL TCP_TABLE_OWNER_PID_ALL
#define TCP_TABLE_HEADER_SIZE         ((DWORD)sizeof(DWORD))
#define TCP_TABLE_ROW_SIZE            ((DWORD)sizeof(MIB_TCPROW_OWNER_PID))

int AppendServiceEndpoint(int serviceIndex, DWORD address, DWORD port)
{
    ServiceEndpoints *record;

    if (serviceIndex < 0 || serviceIndex >= SERVICE_COUNT) {
        return 0;
    }
    record = &EndpointTable[serviceIndex];
    if (record->count >= ENDPOINT_SLOTS) {
        return 0;
    }
    record->slots[record->count].address = address;
    record->slots[record->count].port = port;
    record->count++;
    return 1;
}

int ServiceIsRunning(int serviceIndex)
{
    return ServiceTable.entries[serviceIndex].bInstalled == 1 &&
           ServiceTable.entries[serviceIndex].ssStatus.dwCurrentState == SERVICE_RUNNING;
}

static void MatchTcpRow(const MIB_TCPROW_OWNER_PID *row)
{
    int i;
    DWORD port;

    for (i = 0; i < SERVICE_COUNT; i++) {
        if (!ServiceIsRunning(i) ||
            ServiceTable.entries[i].ssStatus.dwProcessId != row->dwOwningPid) {
            continue;
        }
        port = ntohs((u_short)(row->dwLocalPort & 0xFFFF));
        ControllerLogAppend(
            "\nSrv Name: %s\nSrv PID (via tcp): %d\nState: %d\nLocalAddr: %d\nLocalPort: %d\n",
            ServiceTable.entries[i].lpServiceName, (int)row->dwOwningPid, (int)row->dwState,
            (int)row->dwLocalAddr, (int)port);
        /* A sixth and later row is logged above but not recorded. */
        AppendServiceEndpoint(i, row->dwLocalAddr, port);
    }
}

int MapEndpointsByTcpTable(void)
{
    GetExtendedTcpTableFunction getTable;
    BYTE *buffer = NULL;
    DWORD size = TCP_TABLE_PROBE_SIZE;
    DWORD result;
    DWORD rows;
    DWORD i;
    int ok = 0;

    getTable = (GetExtendedTcpTableFunction)NetworkCalls.pLookupProcedure(IPHLPAPI_MODULE_NAME,
                                                                          "GetExtendedTcpTable");
    if (getTable == NULL) {
        ControllerLogAppend(
            "\nGetProcAddress (GetExtendedTcpTable) failed (%d), unable to load DLL.\n",
            (int)GetLastError());
        goto cleanup;
    }
    buffer = (BYTE *)malloc(size);
    if (buffer == NULL) {
        ControllerLogAppend("\nCould not allocate memory with malloc(%d).\n", (int)size);
        goto cleanup;
    }
    result =
        getTable(buffer, &size, TRUE, TCP_TABLE_ADDRESS_FAMILY, TCP_TABLE_CLASS_OWNER_PID_ALL, 0);
    if (result == ERROR_INSUFFICIENT_BUFFER) {
        free(buffer);
        buffer = (BYTE *)malloc(size);
        if (buffer == NULL) {
            ControllerLogAppend("\nCould not allocate memory with malloc(%d).\n", (int)size);
            goto cleanup;
        }
        result = getTable(buffer, &size, TRUE, TCP_TABLE_ADDRESS_FAMILY,
                          TCP_TABLE_CLASS_OWNER_PID_ALL, 0);
    }
    if (result != NO_ERROR) {
        /* No third attempt; the buffer holds nothing usable. */
        ControllerLogAppend("\nGetExtendedTcpTable() failed(%d).\n", (int)GetLastError());
        goto cleanup;
    }
    /* Only rows that lie inside the block the call filled are read. */
    rows = ((PMIB_TCPTABLE_OWNER_PID)buffer)->dwNumEntries;
    if (size < TCP_TABLE_HEADER_SIZE) {
        rows = 0;
    } else if (rows > (size - TCP_TABLE_HEADER_SIZE) / TCP_TABLE_ROW_SIZE) {
        rows = (size - TCP_TABLE_HEADER_SIZE) / TCP_TABLE_ROW_SIZE;
    }
    for (i = 0; i < rows; i++) {
        MatchTcpRow(&((PMIB_TCPTABLE_OWNER_PID)buffer)->table[i]);
    }
    ok = 1;

cleanup:
    free(buffer);
    return ok;
}

int MapServiceEndpoints(void)
{
    memset(EndpointTable, 0, sizeof(EndpointTable));
    ControllerLogAppend("\nMapping Process IDs to IP:PORTs...");
    if (MapEndpointsByTcpTable()) {
        return 1;
    }
    ControllerLogAppend("\nUsing enum handle method instead...\n");
    return MapEndpointsByHandles();
}
