// The simulated system behind the network layer (see simulated_network.h). The handles it gives
// out are numbers: a process's is ProcessBase plus its id, a duplicate's DuplicateBase plus four
// times its entry in the table.
#include "simulated_network.h"

#include <winternl.h>
#include <string.h>

#include "network/network.h"

namespace
{

struct Request {
    size_t entry;
    HANDLE event;
    LONG *status;
    BYTE *answer;
    DWORD threadId;
};

const ULONG_PTR ProcessBase = 0x10000000;
const ULONG_PTR DuplicateBase = 0x20000000;

SimulatedNetwork *Net;
HANDLE Released;
std::vector<Request> Requests;
std::vector<HANDLE> HeldThreads;
size_t Cursor; // walks ask in table order: a search starts where the last one ended

const SimulatedHandle *EntryOf(HANDLE duplicate)
{
    size_t entry = ((ULONG_PTR)duplicate - DuplicateBase) / 4;
    return entry < Net->handles.size() ? &Net->handles[entry] : NULL;
}

// A table the system sizes: the count and the rows when they fit, else the size needed.
DWORD Fill(void *table, ULONG *size, const void *rows, size_t count, size_t rowSize)
{
    ULONG needed = sizeof(DWORD) + count * rowSize;
    Net->tableSizes.push_back(*size);
    if (*size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    *(DWORD *)table = count;
    memcpy((DWORD *)table + 1, rows, count * rowSize);
    return NO_ERROR;
}

void Complete(const Request &request, LONG status)
{
    const SimulatedHandle &entry = Net->handles[request.entry];
    USHORT port = htons(entry.port);
    DWORD address = inet_addr(entry.address ? entry.address : "0.0.0.0");
    memcpy(request.answer + 12, &port, sizeof(port));
    memcpy(request.answer + 14, &address, sizeof(address));
    *request.status = status;
    SetEvent(request.event);
}

DWORD WINAPI TcpTable(PVOID table, PDWORD size, BOOL order, ULONG family, TCP_TABLE_CLASS kind,
                      ULONG reserved)
{
    if (!order || family != AF_INET || kind != TCP_TABLE_OWNER_PID_ALL || reserved)
        return ERROR_INVALID_PARAMETER;
    return Fill(table, size, Net->tcpRows.data(), Net->tcpRows.size(), 24);
}

DWORD WINAPI IpTable(void *table, PULONG size, BOOL order)
{
    DWORD result = Fill(table, size, Net->ipRows.data(), Net->ipRows.size(), 24);
    if (order || (result == NO_ERROR && Net->ipSecondCallFails)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    return result;
}

HANDLE WINAPI Open(DWORD access, BOOL inherit, DWORD processId)
{
    Net->openedProcesses.push_back(processId);
    if (access != 0x450 || inherit)
        return NULL;
    InterlockedIncrement(&Net->openObjects);
    return (HANDLE)(ProcessBase + processId);
}

BOOL WINAPI Duplicate(HANDLE process, HANDLE source, HANDLE target, LPHANDLE copy, DWORD access,
                      BOOL inherit, DWORD options)
{
    size_t count = Net->handles.size();
    bool allowed = target == GetCurrentProcess() && access == 0xF0000 && !inherit && !options;
    for (size_t n = 0; n < count && allowed; n++) {
        size_t entry = (Cursor + n) % count;
        const SimulatedHandle &handle = Net->handles[entry];
        if (ProcessBase + handle.processId == (ULONG_PTR)process &&
            handle.handle == (ULONG_PTR)source) {
            Cursor = entry;
            InterlockedIncrement(&Net->openObjects);
            *copy = (HANDLE)(DuplicateBase + 4 * entry);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI Close(HANDLE handle)
{
    InterlockedDecrement(&Net->openObjects);
    return TRUE;
}

BOOL WINAPI AdjustToken(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES privileges, DWORD length,
                        PTOKEN_PRIVILEGES previous, PDWORD returned)
{
    if (!Net->privilegeNotAssigned)
        return AdjustTokenPrivileges(token, disableAll, privileges, length, previous, returned);
    SetLastError(ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

HANDLE WINAPI MakeEvent(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL signalled, LPCSTR name)
{
    if (!Net->eventsFail)
        return CreateEventA(security, manual, signalled, name);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
}

// Entries of 16 bytes: process id, type, flags, handle, object, access.
LONG NTAPI QuerySystem(ULONG kind, PVOID table, ULONG length, PULONG returned)
{
    BYTE *entry = (BYTE *)table + sizeof(DWORD);
    Net->tableSizes.push_back(length);
    *returned = sizeof(DWORD) + 16 * Net->handles.size();
    if (kind != 16 || length < *returned)
        return (LONG)0xC0000004;
    *(DWORD *)table = Net->handles.size();
    for (const SimulatedHandle &handle : Net->handles) {
        memcpy(entry, &handle.processId, sizeof(DWORD));
        entry[4] = handle.typeNumber ? handle.typeNumber : 28;
        memcpy(entry + 6, &handle.handle, sizeof(USHORT));
        entry += 16;
    }
    return 0;
}

// The name's characters follow the header, with no terminator.
LONG NTAPI QueryObject(HANDLE handle, ULONG kind, PVOID buffer, ULONG length, PULONG returned)
{
    const SimulatedHandle *entry = EntryOf(handle);
    UNICODE_STRING *name = (UNICODE_STRING *)buffer;
    if (kind != 1 || entry == NULL)
        return (LONG)0xC0000008;
    if (entry->answer == NameBlocks)
        WaitForSingleObject(Released, INFINITE);
    *returned = sizeof(UNICODE_STRING) + 2 * entry->name.size();
    if (length < *returned)
        return (LONG)0x80000005;
    name->Length = 2 * entry->name.size();
    name->MaximumLength = name->Length;
    name->Buffer = (PWSTR)(name + 1);
    memcpy(name->Buffer, entry->name.data(), name->Length);
    return 0;
}

LONG NTAPI DeviceControl(HANDLE file, HANDLE event, PVOID apc, PVOID context, PVOID status,
                         ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength)
{
    static const BYTE AddressQuery[24] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3 };
    const SimulatedHandle *entry = EntryOf(file);
    if (entry == NULL || !event || apc || context || code != 0x210012 || inputLength != 24 ||
        memcmp(input, AddressQuery, 24) || outputLength != 128)
        return (LONG)0xC000000D;
    Request request = { (size_t)(entry - &Net->handles[0]), event, (LONG *)status, (BYTE *)output,
                        GetCurrentThreadId() };
    if (entry->answer == Answers || entry->answer == PendingCompletes)
        Complete(request, 0);
    else
        Requests.push_back(request);
    SetLastError(ERROR_IO_PENDING);
    return entry->answer == Answers ? 0 : 0x103;
}

LONG NTAPI CancelIo(HANDLE file, PVOID status)
{
    if (EntryOf(file) != NULL && EntryOf(file)->answer == CancelBlocks)
        WaitForSingleObject(Released, INFINITE);
    return 0;
}

// The TCP table comes first: it is missing unless the system has one.
NetworkProcedure LookUp(const char *module, const char *procedure)
{
    static const struct {
        const char *name;
        NetworkProcedure address;
    } Known[] = {
        { "Iphlpapi.dll!GetExtendedTcpTable", (NetworkProcedure)TcpTable },
        { "NTDLL.DLL!NtQuerySystemInformation", (NetworkProcedure)QuerySystem },
        { "NTDLL.DLL!NtQueryObject", (NetworkProcedure)QueryObject },
        { "NTDLL.DLL!NtDeviceIoControlFile", (NetworkProcedure)DeviceControl },
        { "NTDLL.DLL!NtCancelIoFile", (NetworkProcedure)CancelIo },
    };
    for (size_t k = Net->hasTcpTable ? 0 : 1; k < 5; k++) {
        if (std::string(module) + "!" + procedure == Known[k].name)
            return Known[k].address;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return NULL;
}

} // namespace

void InstallSimulatedNetwork(SimulatedNetwork *network)
{
    if (Released == NULL)
        Released = CreateEventA(NULL, TRUE, FALSE, NULL);
    ResetEvent(Released);
    Net = network;
    NetworkCalls = { LookUp, Open, Duplicate, Close, IpTable, AdjustToken, MakeEvent };
}

void ReleaseStuckQueries()
{
    SetEvent(Released);
    for (const Request &request : Requests)
        Complete(request, (LONG)0xC0000120);
    Requests.clear();
}

int HoldRequestingThreads()
{
    for (const Request &request : Requests) {
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, request.threadId);
        if (thread != NULL && SuspendThread(thread) != (DWORD)-1)
            HeldThreads.push_back(thread);
    }
    return (int)HeldThreads.size();
}

void RemoveSimulatedNetwork()
{
    DWORD start = GetTickCount();
    ReleaseStuckQueries();
    for (HANDLE thread : HeldThreads) {
        ResumeThread(thread);
        CloseHandle(thread);
    }
    HeldThreads.clear();
    while (HandleWalkerThreads() > HandleWalkerParked() && GetTickCount() - start < 20000)
        Sleep(10);
    NetworkCalls = NetworkSystemCallsDefault;
}

MIB_TCPROW_OWNER_PID SimulatedTcpRow(DWORD state, const char *address, USHORT port, DWORD pid)
{
    MIB_TCPROW_OWNER_PID row = { state, inet_addr(address), htons(port), 0, 0, pid };
    return row;
}

MIB_IPADDRROW SimulatedIpRow(const char *address, unsigned short type)
{
    MIB_IPADDRROW row = { inet_addr(address), 1, 0, 1, 65535, 0, type };
    return row;
}
