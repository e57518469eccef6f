// The simulated system behind the network layer (see simulated_network.h).
#include "simulated_network.h"
#include <string.h>
#include "network/network.h"
struct IoStatus {
    LONG Status;
    ULONG_PTR Information;
};
struct NameHeader {
    USHORT Length, MaximumLength;
    WCHAR *Buffer;
};
struct Issued {
    DWORD pid;
    long index;
    bool open;
}; // index -1: a process
struct Pending {
    long index;
    HANDLE event;
    IoStatus *io;
    BYTE *out;
    bool done;
};
static const ULONG_PTR Base = 0x70000000;
static SimulatedNetwork *Net;
static CRITICAL_SECTION Lock;
static HANDLE ReleaseSignal; // set: blocked name queries return, later ones do not block
static size_t TableCalls, TcpCalls,
    Cursor; // Cursor: where the last duplication found its handle (walks go in order)
static std::vector<Issued> Objects;
static std::vector<Pending> Queries;
struct Guard {
    Guard()
    {
        EnterCriticalSection(&Lock);
    }
    ~Guard()
    {
        LeaveCriticalSection(&Lock);
    }
};
static void Check(bool ok, const char *call)
{
    if (!ok)
        Net->faults.push_back(call);
}
static HANDLE Issue(DWORD pid, long i)
{
    return Objects.push_back(Issued{ pid, i, true }), Net->openObjects++,
           (HANDLE)(Base + 4 * (Objects.size() - 1));
}
static Issued *Find(HANDLE h)
{
    size_t k = ((ULONG_PTR)h - Base) / 4;
    return k < Objects.size() && Objects[k].open ? &Objects[k] : 0;
}
static long DuplicateOf(HANDLE h)
{
    Issued *o = Find(h);
    return o ? o->index : -1;
}
static void Complete(Pending &q, LONG status)
{
    USHORT port = htons(Net->handles[q.index].port);
    memcpy(q.out + 12, &port, 2), memcpy(q.out + 14, &Net->handles[q.index].address, 4),
        q.io->Status = status;
    if (q.done = true, !SetEvent(q.event))
        Net->lateCompletionsFailed++;
}
static LONG NTAPI SimulatedNtCancelIoFile(HANDLE, PVOID)
{
    Guard g;
    return Net->cancelCalls++, 0;
}
static DWORD WINAPI SimulatedGetExtendedTcpTable(PVOID table, PDWORD size, BOOL order, ULONG family,
                                                 TCP_TABLE_CLASS kind, ULONG reserved)
{
    Guard g;
    Net->tcpTableSizes.push_back(*size);
    Check(order == TRUE && family == AF_INET && kind == TCP_TABLE_OWNER_PID_ALL && !reserved,
          "GetExtendedTcpTable");
    DWORD count = (DWORD)Net->tcpRows.size(), needed = 4 + 24 * count, call = TcpCalls++,
          result = 0;
    if (call < Net->tcpForcedResults.size())
        result = Net->tcpForcedResults[call];
    if (result == 0 && *size >= needed)
        return memcpy(table, &count, 4), memcpy((BYTE *)table + 4, Net->tcpRows.data(), 24 * count),
               NO_ERROR;
    return *size = needed + (result ? 24 : 0), result = result ? result : 122, SetLastError(result),
           result;
}
static HANDLE WINAPI SimulatedOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
    Guard g;
    Net->openedProcesses.push_back(pid);
    Check(access == 0x450 && !inherit, "OpenProcess");
    for (DWORD refused : Net->unopenableProcesses)
        if (refused == pid)
            return SetLastError(5), (HANDLE)NULL;
    return Issue(pid, -1);
}
static BOOL WINAPI SimulatedDuplicateHandle(HANDLE process, HANDLE source, HANDLE target,
                                            LPHANDLE out, DWORD access, BOOL inherit, DWORD options)
{
    Guard g;
    Issued *p = Find(process);
    Check(p && p->index < 0 && target == GetCurrentProcess() && access == 0xF0000 && !inherit &&
              !options,
          "DuplicateHandle");
    for (size_t n = 0, size = Net->handles.size(), i; p && n < size; n++) {
        const SimulatedHandle &h = Net->handles[i = (Cursor + n) % size];
        if (h.processId != p->pid || h.handle != (ULONG_PTR)source)
            continue;
        Net->duplicatedHandles.push_back(Cursor = i);
        if (h.duplicateFails)
            break;
        return *out = Issue(p->pid, (long)i), TRUE;
    }
    return SetLastError(ERROR_INVALID_HANDLE), FALSE;
}
static BOOL WINAPI SimulatedCloseHandle(HANDLE handle)
{
    Guard g;
    Issued *o = Find(handle);
    Check(o != NULL, "CloseHandle");
    return o ? (o->open = false, Net->openObjects--, TRUE) : FALSE;
}
static DWORD WINAPI SimulatedGetIpAddrTable(void *table, PULONG size, BOOL order)
{
    Guard g;
    Net->ipTableSizes.push_back(*size);
    Check(!order, "GetIpAddrTable");
    DWORD count = (DWORD)Net->ipRows.size(), bytes = sizeof(MIB_IPADDRROW) * count, garbage = 7;
    if (*size < 4 + bytes)
        return *size = 4 + bytes, ERROR_INSUFFICIENT_BUFFER;
    if (Net->ipSecondCallFails)
        return memcpy(table, &garbage, 4), SetLastError(87), 87; // a count of no table
    return memcpy(table, &count, 4), memcpy((BYTE *)table + 4, Net->ipRows.data(), bytes), NO_ERROR;
}
static NetworkProcedure SimulatedLookup(const char *module, const char *procedure)
{
    static const struct {
        const char *module, *name;
        NetworkProcedure call;
    } known[] = {
        { "Iphlpapi.dll", "GetExtendedTcpTable", (NetworkProcedure)SimulatedGetExtendedTcpTable },
        { "NTDLL.DLL", "NtQuerySystemInformation",
          (NetworkProcedure)SimulatedNtQuerySystemInformation },
        { "NTDLL.DLL", "NtQueryObject", (NetworkProcedure)SimulatedNtQueryObject },
        { "NTDLL.DLL", "NtDeviceIoControlFile", (NetworkProcedure)SimulatedNtDeviceIoControlFile },
        { "NTDLL.DLL", "NtCancelIoFile", (NetworkProcedure)SimulatedNtCancelIoFile }
    };
    Guard g;
    Net->lookups.push_back(std::string(module) + "!" + procedure);
    bool missing = !Net->tcpTableAvailable && !strcmp(procedure, "GetExtendedTcpTable");
    for (const std::string &name : Net->missingProcedures)
        missing = missing || name == procedure;
    for (const auto &k : known)
        if (!missing && !strcmp(k.module, module) && !strcmp(k.name, procedure))
            return k.call;
    return SetLastError(ERROR_PROC_NOT_FOUND), (NetworkProcedure)NULL;
}
LONG NTAPI SimulatedNtQuerySystemInformation(ULONG informationClass, PVOID buffer, ULONG length,
                                             PULONG returned)
{
    Guard g;
    Net->handleTableLengths.push_back(length);
    Check(informationClass == 16, "NtQuerySystemInformation");
    DWORD count =
        (DWORD)Net->handles.size(); // handles opened between two calls make the table larger
    ULONG needed = 4 + 16 * count + (Net->handleTableGrowsBetweenCalls && TableCalls++ ? 128 : 0);
    if (returned)
        *returned = needed;
    if (length < needed)
        return SetLastError(ERROR_BAD_LENGTH), (LONG)0xC0000004;
    memset(buffer, 0, needed), memcpy(buffer, &count, 4);
    for (BYTE *e = (BYTE *)buffer + 4; count--; e += 16) {
        const SimulatedHandle &h = Net->handles[(e - (BYTE *)buffer) / 16];
        memcpy(e, &h.processId, 4), memcpy(e + 6, &h.handle, 2), e[4] = h.typeNumber;
    }
    return 0;
}
LONG NTAPI SimulatedNtQueryObject(HANDLE handle, ULONG informationClass, PVOID buffer, ULONG length,
                                  PULONG returned)
{
    long i;
    {
        Guard g;
        Check((i = DuplicateOf(handle)) >= 0 && informationClass == 1, "NtQueryObject");
        if (i < 0)
            return (LONG)0xC000000D;
        if (length == 8)
            Net->namedHandles.push_back(i);
    } // the probe of each name query
    if (Net->handles[i].nameBehaviour == NameBlocks)
        WaitForSingleObject(ReleaseSignal, INFINITE);
    Guard g;
    const SimulatedHandle &h = Net->handles[i];
    if (h.nameBehaviour == NameFails)
        return (LONG)0xC0000022;
    ULONG bytes = h.nameBehaviour == NameAbsent ? 0 : (ULONG)(2 * h.name.size()),
          needed = bytes ? 10 + bytes : 8;
    if (returned)
        *returned = needed;
    if (length < needed)
        return (LONG)0x80000005;
    WCHAR *characters = (WCHAR *)((BYTE *)buffer + 8);
    *(NameHeader *)buffer =
        NameHeader{ (USHORT)bytes, (USHORT)(bytes ? bytes + 2 : 0), bytes ? characters : NULL };
    return memcpy(characters, h.name.c_str(), bytes ? bytes + 2 : 0), 0;
}
LONG NTAPI SimulatedNtDeviceIoControlFile(HANDLE file, HANDLE event, PVOID apc, PVOID apcContext,
                                          PVOID ioStatus, ULONG code, PVOID input,
                                          ULONG inputLength, PVOID output, ULONG outputLength)
{
    static const BYTE request[24] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3 };
    Guard g;
    long i = DuplicateOf(file);
    bool ok = i >= 0 && code == 0x210012 && inputLength == 24 && outputLength == 128 && input &&
              output && !memcmp(input, request, 24) && !apc && !apcContext && event;
    Check(ok, "NtDeviceIoControlFile");
    if (!ok)
        return (LONG)0xC000000D;
    Net->transportQueries.push_back(i), ResetEvent(event);
    Pending q = { i, event, (IoStatus *)ioStatus, (BYTE *)output, false };
    SimulatedTransportBehaviour how = Net->handles[i].transport;
    if (how == TransportAnswers)
        return Complete(q, 0), 0;
    if (how == TransportFails)
        return SetLastError(ERROR_NOT_SUPPORTED), (LONG)0xC0000001;
    Queries.push_back(q); // a pending request that completes does so before the caller waits
    if (how == TransportPendingCompletes)
        Complete(Queries.back(), 0);
    return SetLastError(ERROR_IO_PENDING), 0x103;
}
void InstallSimulatedNetwork(SimulatedNetwork *network)
{
    if (!ReleaseSignal)
        InitializeCriticalSection(&Lock), ReleaseSignal = CreateEventA(NULL, TRUE, FALSE, NULL);
    ResetEvent(ReleaseSignal), TableCalls = TcpCalls = Cursor = 0, Objects.clear(), Queries.clear();
    Net = network,
    NetworkCalls =
        NetworkSystemCalls{ SimulatedLookup, SimulatedOpenProcess, SimulatedDuplicateHandle,
                            SimulatedCloseHandle, SimulatedGetIpAddrTable };
}
void ReleaseBlockedQueries()
{
    SetEvent(ReleaseSignal);
}
void CompletePendingTransportQueries()
{
    Guard g;
    for (Pending &q : Queries)
        if (!q.done)
            Complete(q, (LONG)0xC0000120);
}
void RemoveSimulatedNetwork()
{
    if (Net)
        ReleaseBlockedQueries(), CompletePendingTransportQueries();
    for (int i = 0; i < 500 && HandleWalkerThreads() > HandleWalkerParked(); i++)
        Sleep(10);
    NetworkCalls = NetworkSystemCallsDefault;
}
MIB_IPADDRROW SimulatedIpRow(const char *a, unsigned short type)
{
    return { inet_addr(a), 1, 0, 1, 65535, 0, type };
}
MIB_TCPROW_OWNER_PID SimulatedTcpRow(DWORD state, const char *a, USHORT port, DWORD pid)
{
    return { state, inet_addr(a), htons(port), 0, 0, pid };
}
