/* Network endpoints: which local addresses and ports each running service's
   process holds, the text that shows them, the local web server's base URL,
   the address helpers and the machine's IPv4 address list. */
#ifndef QUORVEX_NETWORK_NETWORK_H
#define QUORVEX_NETWORK_NETWORK_H

#include <windows.h>

#define ENDPOINT_SLOTS 5

typedef struct Endpoint {
    DWORD address; /* IPv4, network byte order */
    DWORD port;    /* host byte order */
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
/* 1 when the service is installed and running: only such a service's
   process is mapped and only its endpoints are shown. */
int ServiceIsRunning(int serviceIndex);

/* Text buffer sizes of the endpoint texts. */
#define IP_ADDRESS_TEXT_SIZE 16
#define IP_CLASS_TEXT_SIZE   16
#define ENDPOINT_TEXT_SIZE   40
#define ENDPOINT_FIELD_SIZE  256

int FormatIpAddress(char *text, DWORD address);
int ClassifyIpAddress(char *text, DWORD address);
int ShowServiceEndpoints(HWND hDlg, int serviceIndex);
int BuildLocalBaseUrl(char *url);

#define LOCAL_IP_SLOTS 5

typedef struct LocalIpListRecord {
    DWORD detected;
    DWORD listed; /* rows actually read, at most five */
    DWORD address[LOCAL_IP_SLOTS];
    char text[LOCAL_IP_SLOTS][16];
} LocalIpListRecord;

extern LocalIpListRecord LocalIpList;

int ReadLocalIpAddresses(void);

/* The system functions the mapping and the address list reach through one
   layer: the run-time lookup of procedures in loaded modules, the process,
   handle, event and token calls of the handle walk, and the IPv4 address
   table. The program uses NetworkSystemCallsDefault (GetModuleHandleA and
   GetProcAddress, the kernel32 and advapi32 calls, the imported
   GetIpAddrTable); tests put simulated ones in their place where the system
   cannot produce a case. */
typedef void (*NetworkProcedure)(void);
typedef NetworkProcedure (*NetworkProcedureLookup)(const char *moduleName,
                                                   const char *procedureName);

typedef struct NetworkSystemCalls {
    NetworkProcedureLookup pLookupProcedure;
    HANDLE(WINAPI *pOpenProcess)(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
    BOOL(WINAPI *pDuplicateHandle)
    (HANDLE hSourceProcess, HANDLE hSourceHandle, HANDLE hTargetProcess, LPHANDLE lpTargetHandle,
     DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
    BOOL(WINAPI *pCloseHandle)(HANDLE hObject);
    /* GetIpAddrTable, with the table as an untyped block. */
    DWORD(WINAPI *pGetIpAddrTable)(void *pIpAddrTable, PULONG pdwSize, BOOL bOrder);
    BOOL(WINAPI *pAdjustTokenPrivileges)
    (HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
     PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength);
    /* The events of the walker and of the transport queries. */
    HANDLE(WINAPI *pCreateEventA)
    (LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
} NetworkSystemCalls;

extern NetworkSystemCalls NetworkCalls;
extern const NetworkSystemCalls NetworkSystemCallsDefault;

/* The module and procedure names looked up at run time. */
#define IPHLPAPI_MODULE_NAME "Iphlpapi.dll"
#define NTDLL_MODULE_NAME    "NTDLL.DLL"

/* The name and transport queries of the handle walk run on a walker
   thread that the mapping watches; a query that has not returned within the
   limit is given up, and the walk goes on with the next handle on a fresh
   walker. One walker is kept parked between walks for the program's life. */
#define HANDLE_QUERY_LIMIT_MS            200
/* The limit once this many queries were given up in one walk. */
#define HANDLE_QUERY_SHORT_LIMIT_MS      50
#define HANDLE_QUERY_STALLS_BEFORE_SHORT 2
#define HANDLE_QUERY_WATCH_PERIOD_MS     10
/* Queries still stuck: walkers given up in one that have not come back,
   and transport requests the driver still holds. At this many, a walk
   stops before its next query (recording nothing more) until some of them
   come back. */
#define STALLED_WALKERS_MAX              16
/* A transport query answered with STATUS_PENDING: waited for this long,
   then cancelled and waited for once more. The guard of that query allows
   it both waits and one more full limit, and still covers the cancel,
   which a driver can hold. */
#define TDI_COMPLETION_WAIT_MS           250
#define TDI_CANCEL_WAIT_MS               250
/* At tear-down the parked walker is waited for this long; one that does
   not end (a driver holding its exit) is left to the process's exit. */
#define HANDLE_WALKER_END_WAIT_MS        1000

typedef struct HandleWalker HandleWalker;
/* One walk, run on the walker; returns 0 when the walker was given up on
   the way (it must then end at once). */
typedef int (*HandleWalkFunction)(HandleWalker *walker);

/* Runs the walk on the parked walker (started first if there is none) and
   watches its queries. Returns 1 when the walk returned, 0 when no walker
   could be started (the cause is logged). */
int RunHandleWalk(HandleWalkFunction walk);
/* Brackets a query that may block; EndGuardedQuery returns 1 while the
   walker still owns the walk, 0 when it was given up. AllowGuardedQuery
   gives the query in progress that much more time. */
void BeginGuardedQuery(HandleWalker *walker);
void AllowGuardedQuery(HandleWalker *walker, DWORD milliseconds);
int EndGuardedQuery(HandleWalker *walker);
int WalkerAbandoned(HandleWalker *walker);
/* A transport request that neither completed nor was cancelled: its event
   and block stay with the driver, counted as stuck, and are freed once the
   event shows completion. */
void LeaveRequestWithDriver(HANDLE event, void *block);
/* The number of queries stuck once it has reached STALLED_WALKERS_MAX, else
   0: the number that stops a walk. */
LONG HandleQueriesStuck(void);
/* Ends the parked walker (at tear-down), waiting for it at most
   HANDLE_WALKER_END_WAIT_MS; the next walk starts a new one. */
void EndHandleWalker(void);

/* Queries stuck: given-up walkers not yet back and requests left with the
   driver. */
LONG StalledHandleWalkers(void);
/* Walker threads alive: parked, walking, or given up and stuck. */
LONG HandleWalkerThreads(void);
/* 1 while a walker waits, parked, for the next walk. */
int HandleWalkerParked(void);

#endif
