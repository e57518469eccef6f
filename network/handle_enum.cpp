/* The fallback mapping: the system handle table walked for the file handles
   of running services, each one named and, for the TCP and UDP devices,
   asked for its local address. */
#include <winsock2.h>
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "network.h"
#include "../log/log.h"
#include "../services/services.h"

#define SYSTEM_HANDLE_INFORMATION_CLASS 16
#define OBJECT_NAME_INFORMATION_CLASS   1
#define HANDLE_TABLE_PROBE_SIZE         20 /* the count and one entry */
#define OBJECT_NAME_PROBE_SIZE          8  /* the name header alone */

#define NT_STATUS_SUCCESS              ((LONG)0x00000000)
#define NT_STATUS_PENDING              ((LONG)0x00000103)
#define NT_STATUS_BUFFER_OVERFLOW      ((LONG)0x80000005)
#define NT_STATUS_INFO_LENGTH_MISMATCH ((LONG)0xC0000004)

/* The file object's type number on the Windows versions this method is for. */
static const BYTE FileObjectTypeNumbers[2] = { 26, 28 };

#define SERVICE_PROCESS_ACCESS  0x450   /* query information, duplicate handles, read memory */
#define DUPLICATE_HANDLE_ACCESS 0xF0000 /* STANDARD_RIGHTS_REQUIRED */

#define IOCTL_TDI_QUERY_INFORMATION   0x210012
#define TDI_QUERY_ADDRESS_INFO        3
#define TDI_REQUEST_SIZE              24
#define TDI_REQUEST_QUERY_TYPE_OFFSET 16
#define TDI_ANSWER_SIZE               128
#define TDI_ANSWER_PORT_OFFSET        12
#define TDI_ANSWER_ADDRESS_OFFSET     14

typedef LONG(NTAPI *NtQuerySystemInformationFunction)(ULONG SystemInformationClass,
                                                      PVOID SystemInformation,
                                                      ULONG SystemInformationLength,
                                                      PULONG ReturnLength);
typedef LONG(NTAPI *NtQueryObjectFunction)(HANDLE Handle, ULONG ObjectInformationClass,
                                           PVOID ObjectInformation, ULONG ObjectInformationLength,
                                           PULONG ReturnLength);
typedef LONG(NTAPI *NtDeviceIoControlFileFunction)(HANDLE FileHandle, HANDLE Event,
                                                   PVOID ApcRoutine, PVOID ApcContext,
                                                   PVOID IoStatusBlock, ULONG IoControlCode,
                                                   PVOID InputBuffer, ULONG InputBufferLength,
                                                   PVOID OutputBuffer, ULONG OutputBufferLength);
typedef LONG(NTAPI *NtCancelIoFileFunction)(HANDLE FileHandle, PVOID IoStatusBlock);

/* One entry of the system handle table (class 16), 16 bytes. */
typedef struct SystemHandleEntry {
    ULONG ProcessId;
    BYTE ObjectTypeNumber;
    BYTE Flags;
    USHORT Handle;
    ULONG Object;
    ULONG GrantedAccess;
} SystemHandleEntry;

/* The header of an object name answer (class 1), 8 bytes. */
typedef struct ObjectNameHeader {
    USHORT Length;
    USHORT MaximumLength;
    WCHAR *Buffer;
} ObjectNameHeader;

typedef struct IoStatus {
    LONG Status;
    ULONG_PTR Information;
} IoStatus;

/* What a transport query hands to the driver; kept on the heap so that a
   request that never completes can be left to the driver. */
typedef struct TdiQueryBlock {
    BYTE request[TDI_REQUEST_SIZE];
    BYTE answer[TDI_ANSWER_SIZE];
    IoStatus ioStatus;
} TdiQueryBlock;

typedef char HandleEntryIs16Bytes[sizeof(SystemHandleEntry) == 16 ? 1 : -1];
typedef char NameHeaderIs8Bytes[sizeof(ObjectNameHeader) == 8 ? 1 : -1];
typedef char IoStatusIs8Bytes[sizeof(IoStatus) == 8 ? 1 : -1];

/* The walk in progress: the table, where the next walker goes on, and the
   process ids of the services that take part. Written by the one walker
   that has not been given up, and by the mapping while no walker runs. */
typedef struct HandleWalk {
    const SystemHandleEntry *entries;
    DWORD count;
    DWORD nextEntry;
    int nextService;
    LONG stuck; /* the queries stuck that stopped the walk, or 0 */
    int bTakesPart[SERVICE_COUNT];
    DWORD dwProcessId[SERVICE_COUNT];
    NetworkSystemCalls calls;
} HandleWalk;

static HandleWalk Walk;

static const WCHAR TcpDeviceName[] = L"\\Device\\Tcp";
static const WCHAR UdpDeviceName[] = L"\\Device\\Udp";

/* Returns a new terminated wide string the caller frees, or null. */
static WCHAR *QueryObjectName(HandleWalker *walker, const NetworkSystemCalls *calls, HANDLE handle)
{
    NtQueryObjectFunction queryObject;
    BYTE *buffer = NULL;
    ULONG bufferSize = OBJECT_NAME_PROBE_SIZE;
    ULONG length = OBJECT_NAME_PROBE_SIZE;
    LONG status;
    const ObjectNameHeader *header;
    const BYTE *characters;
    WCHAR *name = NULL;

    queryObject =
        (NtQueryObjectFunction)calls->pLookupProcedure(NTDLL_MODULE_NAME, "NtQueryObject");
    if (queryObject == NULL) {
        ControllerLogAppend("GetProcAddress (NtQueryObject) failed (%d), unable to load DLL.\n",
                            (int)GetLastError());
        goto cleanup;
    }
    buffer = (BYTE *)malloc(bufferSize);
    if (buffer == NULL) {
        goto cleanup;
    }
    BeginGuardedQuery(walker);
    status = queryObject(handle, OBJECT_NAME_INFORMATION_CLASS, buffer, bufferSize, &length);
    if (!EndGuardedQuery(walker)) {
        goto cleanup;
    }
    if (status == NT_STATUS_BUFFER_OVERFLOW) {
        free(buffer);
        bufferSize = length;
        buffer = (BYTE *)malloc(bufferSize);
        if (buffer == NULL) {
            goto cleanup;
        }
        BeginGuardedQuery(walker);
        status = queryObject(handle, OBJECT_NAME_INFORMATION_CLASS, buffer, bufferSize, &length);
        if (!EndGuardedQuery(walker)) {
            goto cleanup;
        }
    }
    if (status < 0 || bufferSize < sizeof(ObjectNameHeader)) {
        goto cleanup;
    }
    header = (const ObjectNameHeader *)buffer;
    characters = (const BYTE *)header->Buffer;
    if (characters == NULL) {
        goto cleanup;
    }
    /* The characters are read only where they lie inside the answer. */
    if (characters < buffer + sizeof(ObjectNameHeader) || characters > buffer + bufferSize ||
        header->Length > (ULONG)(buffer + bufferSize - characters)) {
        goto cleanup;
    }
    name = (WCHAR *)malloc((size_t)header->Length + sizeof(WCHAR));
    if (name == NULL) {
        goto cleanup;
    }
    memset(name, 0, (size_t)header->Length + sizeof(WCHAR));
    memcpy(name, characters, header->Length);

cleanup:
    free(buffer);
    return name;
}

/* After STATUS_PENDING: the final status, or STATUS_PENDING with *inUse set
   when the request neither completed nor was cancelled in time, in which
   case its event and block must stay as they are. */
static LONG AwaitTdiCompletion(const NetworkSystemCalls *calls, HANDLE handle, HANDLE event,
                               TdiQueryBlock *block, int *inUse)
{
    NtCancelIoFileFunction cancelIo;
    IoStatus cancelStatus;

    if (WaitForSingleObject(event, TDI_COMPLETION_WAIT_MS) == WAIT_OBJECT_0) {
        return block->ioStatus.Status;
    }
    cancelIo = (NtCancelIoFileFunction)calls->pLookupProcedure(NTDLL_MODULE_NAME, "NtCancelIoFile");
    if (cancelIo != NULL) {
        memset(&cancelStatus, 0, sizeof(cancelStatus));
        cancelIo(handle, &cancelStatus);
        if (WaitForSingleObject(event, TDI_CANCEL_WAIT_MS) == WAIT_OBJECT_0) {
            return block->ioStatus.Status;
        }
    }
    *inUse = 1;
    return NT_STATUS_PENDING;
}

static int QueryTdiAddress(HandleWalker *walker, const NetworkSystemCalls *calls, HANDLE handle,
                           int serviceIndex)
{
    NtDeviceIoControlFileFunction deviceControl;
    TdiQueryBlock *block = NULL;
    HANDLE event = NULL;
    DWORD queryType = TDI_QUERY_ADDRESS_INFO;
    LONG status;
    DWORD error;
    int owner;
    int inUse = 0;
    USHORT port;
    DWORD address;
    char dotted[IP_ADDRESS_TEXT_SIZE];
    int ok = 0;

    deviceControl = (NtDeviceIoControlFileFunction)calls->pLookupProcedure(NTDLL_MODULE_NAME,
                                                                           "NtDeviceIoControlFile");
    if (deviceControl == NULL) {
        ControllerLogAppend(
            "GetProcAddress (NtDeviceIoControlFile) failed (%d), unable to load DLL.\n",
            (int)GetLastError());
        goto cleanup;
    }
    block = (TdiQueryBlock *)malloc(sizeof(TdiQueryBlock));
    if (block == NULL) {
        ControllerLogAppend("\nCould not allocate memory with malloc(%d).\n",
                            (int)sizeof(TdiQueryBlock));
        goto cleanup;
    }
    memset(block, 0, sizeof(TdiQueryBlock));
    memcpy(block->request + TDI_REQUEST_QUERY_TYPE_OFFSET, &queryType, sizeof(queryType));
    event = calls->pCreateEventA(NULL, TRUE, FALSE, NULL);
    if (event == NULL) {
        ControllerLogAppend("\nCreateEvent() failed(%d).\n", (int)GetLastError());
        goto cleanup;
    }
    /* The cancel can block as long as the request itself: the guard covers
       the waits for a pending answer too, and allows for them. */
    BeginGuardedQuery(walker);
    status = deviceControl(handle, event, NULL, NULL, &block->ioStatus, IOCTL_TDI_QUERY_INFORMATION,
                           block->request, TDI_REQUEST_SIZE, block->answer, TDI_ANSWER_SIZE);
    error = GetLastError();
    if (status == NT_STATUS_PENDING) {
        AllowGuardedQuery(walker,
                          TDI_COMPLETION_WAIT_MS + TDI_CANCEL_WAIT_MS + HANDLE_QUERY_LIMIT_MS);
        status = AwaitTdiCompletion(calls, handle, event, block, &inUse);
    }
    owner = EndGuardedQuery(walker);
    if (!owner) {
        goto cleanup;
    }
    if (status != NT_STATUS_SUCCESS) {
        ControllerLogAppend("\nNtDeviceIoControlFile() failed(%d).\n", (int)error);
        goto cleanup;
    }
    memcpy(&port, block->answer + TDI_ANSWER_PORT_OFFSET, sizeof(port));
    memcpy(&address, block->answer + TDI_ANSWER_ADDRESS_OFFSET, sizeof(address));
    FormatIpAddress(dotted, address);
    ControllerLogAppend("IP:\t\t%-16s\nPort:\t\t%d\n", dotted, (int)ntohs(port));
    /* A sixth and later endpoint is logged above but not recorded. */
    AppendServiceEndpoint(serviceIndex, address, ntohs(port));
    ok = 1;

cleanup:
    if (inUse) {
        LeaveRequestWithDriver(event, block);
    } else {
        if (event != NULL) {
            CloseHandle(event);
        }
        free(block);
    }
    return ok;
}

static int IsTransportDeviceName(const WCHAR *name)
{
    return wcscmp(name, TcpDeviceName) == 0 || wcscmp(name, UdpDeviceName) == 0;
}

/* One candidate: the handle of a running service's process. Returns 0 when
   the walker was given up on the way (it must then end at once). */
static int ExamineServiceHandle(HandleWalker *walker, DWORD processId, USHORT handleValue,
                                int serviceIndex)
{
    NetworkSystemCalls calls = Walk.calls;
    HANDLE process;
    HANDLE duplicate = NULL;
    WCHAR *name;
    int owner = 1;

    process = calls.pOpenProcess(SERVICE_PROCESS_ACCESS, FALSE, processId);
    if (process == NULL) {
        return 1;
    }
    if (!calls.pDuplicateHandle(process, (HANDLE)(ULONG_PTR)handleValue, GetCurrentProcess(),
                                &duplicate, DUPLICATE_HANDLE_ACCESS, FALSE, 0)) {
        calls.pCloseHandle(process);
        return 1;
    }
    name = QueryObjectName(walker, &calls, duplicate);
    if (WalkerAbandoned(walker)) {
        owner = 0;
    } else if (name != NULL) {
        ControllerLogAppendW(L"\nObject Name: %ls\n", name);
        if (IsTransportDeviceName(name)) {
            QueryTdiAddress(walker, &calls, duplicate, serviceIndex);
            if (WalkerAbandoned(walker)) {
                owner = 0;
            }
        }
    }
    calls.pCloseHandle(duplicate);
    free(name);
    calls.pCloseHandle(process);
    return owner;
}

static int IsFileObjectType(BYTE typeNumber)
{
    return typeNumber == FileObjectTypeNumbers[0] || typeNumber == FileObjectTypeNumbers[1];
}

/* Walks from where the walk stands, and stops there, unfinished, once too
   many queries are stuck. Returns 0 when the walker was given up. */
static int WalkHandleTable(HandleWalker *walker)
{
    DWORD k = Walk.nextEntry;
    int i = Walk.nextService;
    const SystemHandleEntry *entry;

    for (; k < Walk.count; k++, i = 0) {
        entry = &Walk.entries[k];
        if (!IsFileObjectType(entry->ObjectTypeNumber)) {
            continue;
        }
        for (; i < SERVICE_COUNT; i++) {
            if (!Walk.bTakesPart[i] || Walk.dwProcessId[i] != entry->ProcessId) {
                continue;
            }
            /* Should this handle stall, the next walker goes on after it. */
            Walk.nextEntry = k;
            Walk.nextService = i + 1;
            Walk.stuck = HandleQueriesStuck();
            if (Walk.stuck > 0) {
                return 1;
            }
            if (!ExamineServiceHandle(walker, entry->ProcessId, entry->Handle, i)) {
                return 0;
            }
        }
    }
    Walk.nextEntry = Walk.count;
    Walk.nextService = 0;
    return 1;
}

int MapEndpointsByHandles(void)
{
    NtQuerySystemInformationFunction querySystem;
    BYTE *table = NULL;
    ULONG length = HANDLE_TABLE_PROBE_SIZE;
    ULONG returned = 0;
    LONG status;
    DWORD error;
    DWORD count;
    int i;
    int takingPart;
    int ok = 0;

    querySystem = (NtQuerySystemInformationFunction)NetworkCalls.pLookupProcedure(
        NTDLL_MODULE_NAME, "NtQuerySystemInformation");
    if (querySystem == NULL) {
        ControllerLogAppend(
            "GetProcAddress (NtQuerySystemInformation) failed (%d), unable to load DLL.\n",
            (int)GetLastError());
        goto cleanup;
    }
    table = (BYTE *)malloc(length);
    if (table == NULL) {
        ControllerLogAppend("\nCould not allocate memory with malloc(%d).\n", (int)length);
        goto cleanup;
    }
    status = querySystem(SYSTEM_HANDLE_INFORMATION_CLASS, table, length, &returned);
    error = GetLastError();
    if (status == NT_STATUS_INFO_LENGTH_MISMATCH) {
        free(table);
        length = returned;
        table = (BYTE *)malloc(length);
        if (table == NULL) {
            ControllerLogAppend("\nCould not allocate memory with malloc(%d).\n", (int)length);
            goto cleanup;
        }
        /* No third attempt: a table that grew meanwhile fails here too. */
        status = querySystem(SYSTEM_HANDLE_INFORMATION_CLASS, table, length, &returned);
        error = GetLastError();
    }
    if (status != NT_STATUS_SUCCESS) {
        ControllerLogAppend("\nNtQuerySystemInformation() failed (%d) with NTSTATUS %x.\n",
                            (int)error, (unsigned int)status);
        goto cleanup;
    }
    if (length < sizeof(ULONG)) {
        goto cleanup;
    }
    memcpy(&count, table, sizeof(count));
    ControllerLogAppend("\nFound %d Handles on System...\n", (int)count);
    if (!EnableDebugPrivilege()) {
        ControllerLogAppend("EnableDebugPrivilege() failed (%d).\n", (int)GetLastError());
        goto cleanup;
    }
    /* Only entries that lie inside the block the call filled are read. */
    if (count > (length - sizeof(ULONG)) / sizeof(SystemHandleEntry)) {
        count = (DWORD)((length - sizeof(ULONG)) / sizeof(SystemHandleEntry));
    }
    Walk.entries = (const SystemHandleEntry *)(table + sizeof(ULONG));
    Walk.count = count;
    Walk.nextEntry = 0;
    Walk.nextService = 0;
    Walk.stuck = 0;
    Walk.calls = NetworkCalls;
    takingPart = 0;
    for (i = 0; i < SERVICE_COUNT; i++) {
        Walk.bTakesPart[i] = ServiceIsRunning(i);
        Walk.dwProcessId[i] = ServiceTable.entries[i].ssStatus.dwProcessId;
        takingPart += Walk.bTakesPart[i];
    }
    /* With no running service no handle can be a candidate. A walk that
       stops unfinished, too many queries being stuck, says how many stopped
       it; one that could not start has logged why. */
    ok = 1;
    if (takingPart > 0 && count > 0) {
        if (!RunHandleWalk(WalkHandleTable)) {
            ok = 0;
        } else if (Walk.nextEntry < Walk.count) {
            ControllerLogAppend("\nHandle walk stopped, %d queries stuck.\n", (int)Walk.stuck);
            ok = 0;
        }
    }
    Walk.entries = NULL;
    Walk.count = 0;

cleanup:
    free(table);
    return ok;
}
