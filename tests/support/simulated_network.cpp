// The simulated system: a process's handle is its id, a duplicate's the address of its entry.
#include "simulated_network.h"

#include <winternl.h>
#include <string.h>

#include "network/network.h"

namespace
{

SimulatedNetwork *Net;
HANDLE Released;
DWORD RequestingThread;
HANDLE HeldThread;

DWORD Fill(void *table, ULONG *size, const void *rows, size_t count, size_t rowSize)
{
    if (*size < 4 + count * rowSize) {
        *size = 4 + count * rowSize;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    *(DWORD *)table = count;
    memcpy((DWORD *)table + 1, rows, count * rowSize);
    return NO_ERROR;
}

DWORD WINAPI TcpTable(PVOID table, PDWORD size, BOOL order, ULONG family, TCP_TABLE_CLASS kind,
                      ULONG reserved)
{
    if (!order || family != AF_INET || kind != TCP_TABLE_OWNER_PID_ALL || reserved != 0)
        return ERROR_INVALID_PARAMETER;
    return Fill(table, size, Net->tcpRows.data(), Net->tcpRows.size(), 24);
}

DWORD WINAPI IpTable(void *table, PULONG size, BOOL order)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    if (order || (*size > 0 && Net->ipSecondCallFails))
        return ERROR_INVALID_PARAMETER;
    return Fill(table, size, Net->ipRows.data(), Net->ipRows.size(), 24);
}

// Entries of 16 bytes: process id; type, flags and handle (k modulo 65536 for entry k); 0; 0.
LONG NTAPI QuerySystem(ULONG kind, PVOID table, ULONG length, PULONG returned)
{
    std::vector<DWORD> entries;
    for (const SimulatedHandle &handle : Net->handles) {
        DWORD type = handle.typeNumber ? handle.typeNumber : 28;
        DWORD entry[4] = { handle.processId, type | (DWORD)entries.size() / 4 << 16, 0, 0 };
        entries.insert(entries.end(), entry, entry + 4);
    }
    *returned = length;
    if (kind != 16 || Fill(table, returned, entries.data(), Net->handles.size(), 16) != NO_ERROR)
        return (LONG)0xC0000004;
    return 0;
}

HANDLE WINAPI Open(DWORD access, BOOL, DWORD processId)
{
    Net->openedProcesses.push_back(processId);
    return access == 0x450 ? (HANDLE)(ULONG_PTR)processId : NULL;
}

BOOL WINAPI Duplicate(HANDLE process, HANDLE source, HANDLE, LPHANDLE copy, DWORD access, BOOL,
                      DWORD options)
{
    size_t k = (ULONG_PTR)source;
    while (k < Net->handles.size() && Net->handles[k].processId != (ULONG_PTR)process)
        k += 65536;
    if (k >= Net->handles.size() || access != 0xF0000 || options != 0)
        return FALSE;
    *copy = (HANDLE)&Net->handles[k];
    return TRUE;
}

BOOL WINAPI Close(HANDLE)
{
    return TRUE;
}

LONG NTAPI QueryObject(HANDLE handle, ULONG kind, PVOID buffer, ULONG length, PULONG returned)
{
    const SimulatedHandle *entry = (const SimulatedHandle *)handle;
    UNICODE_STRING *name = (UNICODE_STRING *)buffer;
    if (entry->answer == NameBlocks)
        WaitForSingleObject(Released, INFINITE);
    *returned = 8 + 2 * entry->name.size();
    if (kind != 1 || length < *returned)
        return (LONG)0x80000005;
    name->Length = 2 * entry->name.size();
    name->Buffer = (PWSTR)(name + 1);
    memcpy(name->Buffer, entry->name.data(), name->Length);
    return 0;
}

LONG NTAPI DeviceControl(HANDLE file, HANDLE event, PVOID, PVOID, PVOID status, ULONG code,
                         PVOID input, ULONG inputLength, PVOID output, ULONG outputLength)
{
    static const BYTE Query[24] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3 };
    const SimulatedHandle *entry = (const SimulatedHandle *)file;
    if (code != 0x210012 || inputLength != 24 || memcmp(input, Query, 24) || outputLength != 128)
        return (LONG)0xC000000D;
    SetLastError(ERROR_IO_PENDING);
    if (entry->answer != Answers) {
        Net->pendingEvents.push_back(event);
        RequestingThread = GetCurrentThreadId();
        return 0x103;
    }
    *(USHORT *)((BYTE *)output + 12) = htons(entry->port);
    *(DWORD *)((BYTE *)output + 14) = entry->address ? inet_addr(entry->address) : 0;
    *(LONG *)status = 0;
    return 0;
}

LONG NTAPI CancelIo(HANDLE file, PVOID)
{
    if (((const SimulatedHandle *)file)->answer == CancelBlocks)
        WaitForSingleObject(Released, INFINITE);
    return 0;
}

NetworkProcedure LookUp(const char *module, const char *procedure)
{
    std::string name = std::string(module) + "!" + procedure;
    SetLastError(ERROR_PROC_NOT_FOUND);
    if (name == "Iphlpapi.dll!GetExtendedTcpTable" && Net->hasTcpTable)
        return (NetworkProcedure)TcpTable;
    if (name == "NTDLL.DLL!NtQuerySystemInformation")
        return (NetworkProcedure)QuerySystem;
    if (name == "NTDLL.DLL!NtQueryObject")
        return (NetworkProcedure)QueryObject;
    if (name == "NTDLL.DLL!NtDeviceIoControlFile")
        return (NetworkProcedure)DeviceControl;
    return name == "NTDLL.DLL!NtCancelIoFile" ? (NetworkProcedure)CancelIo : NULL;
}

} // namespace

void InstallSimulatedNetwork(SimulatedNetwork *network)
{
    CloseHandle(Released);
    Released = CreateEventA(NULL, TRUE, FALSE, NULL);
    Net = network;
    NetworkCalls = { LookUp, Open, Duplicate, Close, IpTable, AdjustTokenPrivileges, CreateEventA };
}

bool HoldRequestingThread()
{
    HeldThread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, RequestingThread);
    return SuspendThread(HeldThread) != (DWORD)-1;
}

void RemoveSimulatedNetwork()
{
    DWORD start = GetTickCount();
    SetEvent(Released);
    for (HANDLE event : Net->pendingEvents)
        SetEvent(event);
    ResumeThread(HeldThread);
    CloseHandle(HeldThread);
    HeldThread = NULL;
    while (HandleWalkerThreads() > HandleWalkerParked() && GetTickCount() - start < 20000)
        Sleep(10);
    NetworkCalls = NetworkSystemCallsDefault;
}

MIB_TCPROW_OWNER_PID SimulatedTcpRow(DWORD state, const char *address, USHORT port, DWORD pid)
{
    MIB_TCPROW_OWNER_PID row = { state, inet_addr(address), htons(port), 0, 0, pid };
    return row;
}
