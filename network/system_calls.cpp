/* The layer between the endpoint mapping and the system: procedures looked
   up by name in modules already loaded, the process, handle, event and
   token calls of the handle walk, and the imported GetIpAddrTable. */
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include "network.h"

static NetworkProcedure LookupLoadedProcedure(const char *moduleName, const char *procedureName)
{
    HMODULE module = GetModuleHandleA(moduleName);

    if (module == NULL) {
        return NULL;
    }
    return (NetworkProcedure)GetProcAddress(module, procedureName);
}

static DWORD WINAPI CallGetIpAddrTable(void *pIpAddrTable, PULONG pdwSize, BOOL bOrder)
{
    return GetIpAddrTable((PMIB_IPADDRTABLE)pIpAddrTable, pdwSize, bOrder);
}

/* The import of GetIpAddrTable is what brings Iphlpapi.dll into the process
   for the run-time lookup of GetExtendedTcpTable. */
const NetworkSystemCalls NetworkSystemCallsDefault = {
    LookupLoadedProcedure, OpenProcess,           DuplicateHandle, CloseHandle,
    CallGetIpAddrTable,    AdjustTokenPrivileges, CreateEventA,
};

NetworkSystemCalls NetworkCalls = NetworkSystemCallsDefault;
