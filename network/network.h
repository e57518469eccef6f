/* Network endpoints: which local addresses and ports each running service's
   process holds, the text that shows them, the local web server's base URL,
   the address helpers and the machine's IPv4 address list. */
#ifndef QUORVEX_NETWORK_NETWORK_H
#define QUORVEX_NETWORK_NETWORK_H

#include <windows.h>

#define ENDPOINT_SLOTS 5

typedef struct Endpoint {
    DWORD address;   /* IPv4, network byte order */
    DWORD port;      /* host byte order */
} Endpoint;

typedef struct ServiceEndpoints {
    DWORD count;
    Endpoint slots[ENDPOINT_SLOTS];
} ServiceEndpoints;

/* Per ServiceIndex; rebuilt from nothing by MapServiceEndpoints. */
extern ServiceEndpoints EndpointTable[4];

int MapServiceEndpoints(void);
int MapEndpointsByTcpTable(void);
int MapEndpointsByHandles(void);
int EnableDebugPrivilege(void);

/* Appends one endpoint to a service's record; 0 (nothing written) when the
   record already holds its five slots. Used by both mapping methods. */
int AppendServiceEndpoint(int serviceIndex, DWORD address, DWORD port);

/* Text buffer sizes of the endpoint texts. */
#define IP_ADDRESS_TEXT_SIZE   16
#define IP_CLASS_TEXT_SIZE     16
#define ENDPOINT_TEXT_SIZE     40
#define ENDPOINT_FIELD_SIZE    256

int FormatIpAddress(char *text, DWORD address);
int ClassifyIpAddress(char *text, DWORD address);
int ShowServiceEndpoints(HWND hDlg, int serviceIndex);
int BuildLocalBaseUrl(char *url);

#define LOCAL_IP_SLOTS 5

typedef struct LocalIpListRecord {
    DWORD detected;
    DWORD listed;                       /* rows actually read, at most five */
    DWORD address[LOCAL_IP_SLOTS];
    char text[LOCAL_IP_SLOTS][16];
} LocalIpListRecord;

extern LocalIpListRecord LocalIpList;

int ReadLocalIpAddresses(void);

/* The system functions the mapping and the address list reach through one
   layer: the run-time lookup of procedures in loaded modules, the process
   and handle calls of the handle walk, and the IPv4 address table. The
   program uses NetworkSystemCallsDefault (GetModuleHandleA and
   GetProcAddress, the kernel32 calls, the imported GetIpAddrTable); tests
   put simulated ones in their place where the system cannot produce a
   case. */
typedef void (*NetworkProcedure)(void);
typedef NetworkProcedure (*NetworkProcedureLookup)(const char *moduleName, const char *procedureName);

typedef struct NetworkSystemCalls {
    NetworkProcedureLookup pLookupProcedure;
    HANDLE (WINAPI *pOpenProcess)(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
    BOOL (WINAPI *pDuplicateHandle)(HANDLE hSourceProcess, HANDLE hSourceHandle,
                                    HANDLE hTargetProcess, LPHANDLE lpTargetHandle,
                                    DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
    BOOL (WINAPI *pCloseHandle)(HANDLE hObject);
    /* GetIpAddrTable, with the table as an untyped block. */
    DWORD (WINAPI *pGetIpAddrTable)(void *pIpAddrTable, PULONG pdwSize, BOOL bOrder);
} NetworkSystemCalls;

extern NetworkSystemCalls NetworkCalls;
extern const NetworkSystemCalls NetworkSystemCallsDefault;

/* The module and procedure names looked up at run time. */
#define IPHLPAPI_MODULE_NAME "Iphlpapi.dll"
#define NTDLL_MODULE_NAME    "NTDLL.DLL"

/* The name and transport queries of the handle walk run on a walker
   thread that the mapping watches; a query that has not returned within the
   limit is given up, and the walk goes on with the next handle on a fresh
   walker. */
#define HANDLE_QUERY_LIMIT_MS            200
/* The limit once this many queries were given up in one walk. */
#define HANDLE_QUERY_SHORT_LIMIT_MS      50
#define HANDLE_QUERY_STALLS_BEFORE_SHORT 2
#define HANDLE_QUERY_WATCH_PERIOD_MS     10
/* Walkers still stuck in a query; at this many, a walk stops before its
   next query (recording nothing more) until some of them come back. */
#define STALLED_WALKERS_MAX              16
/* A transport query answered with STATUS_PENDING: waited for this long,
   then cancelled and waited for once more. */
#define TDI_COMPLETION_WAIT_MS        250
#define TDI_CANCEL_WAIT_MS            250

/* A walker waits this long for the next walk before it ends. */
#define HANDLE_WALKER_IDLE_MS            500

/* Walkers given up in a query that have not come back yet. */
LONG StalledHandleWalkers(void);
/* Walker threads alive: working, waiting for a walk, or stalled. */
LONG HandleWalkerThreads(void);

#endif
