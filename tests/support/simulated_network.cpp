// The simulated system behind the network layer: handle table, object
// names, transport answers, TCP owner table and IPv4 address table, each
// call checked against its documented arguments and recorded.
#include "simulated_network.h"

#include <string.h>

#include <unordered_map>

#include "network/network.h"

namespace {

const LONG StatusSuccess = 0;
const LONG StatusPending = 0x103;
const LONG StatusBufferOverflow = (LONG)0x80000005;
const LONG StatusInfoLengthMismatch = (LONG)0xC0000004;
const LONG StatusAccessDenied = (LONG)0xC0000022;
const LONG StatusUnsuccessful = (LONG)0xC0000001;
const LONG StatusInvalidParameter = (LONG)0xC000000D;
const LONG StatusCancelled = (LONG)0xC0000120;
const ULONG_PTR FakeHandleBase = 0x70000000;

struct IoStatus {
    LONG Status;
    ULONG_PTR Information;
};

struct IssuedObject {
    bool isProcess;
    DWORD processId;
    size_t index;
    bool open;
};

struct PendingQuery {
    size_t index;
    HANDLE file;
    HANDLE event;
    IoStatus *ioStatus;
    BYTE *output;
    SimulatedTransportBehaviour behaviour;
    bool completed;
};

SimulatedNetwork *Current;
CRITICAL_SECTION Lock;
bool LockReady;
HANDLE ReleaseSemaphore_;
bool Released;
int BlockedNow;
std::vector<IssuedObject> Issued;
std::vector<PendingQuery> Pending;
int NtQuerySystemCalls;
// Where each (process id, handle value) first stands in the handles, so that
// a duplication in a large table costs no scan of it.
std::unordered_map<unsigned long long, size_t> HandleIndex;
int TcpCalls;
int IpCalls;

struct Guard {
    Guard() { EnterCriticalSection(&Lock); }
    ~Guard() { LeaveCriticalSection(&Lock); }
};

void Fault(const std::string &text)
{
    Current->faults.push_back(text);
}

HANDLE Issue(bool isProcess, DWORD processId, size_t index)
{
    IssuedObject object = { isProcess, processId, index, true };
    Issued.push_back(object);
    Current->openObjects++;
    return (HANDLE)(FakeHandleBase + 4 * (Issued.size() - 1));
}

IssuedObject *Find(HANDLE handle)
{
    ULONG_PTR value = (ULONG_PTR)handle;
    if (value < FakeHandleBase || (value - FakeHandleBase) % 4 != 0) return NULL;
    size_t k = (value - FakeHandleBase) / 4;
    if (k >= Issued.size() || !Issued[k].open) return NULL;
    return &Issued[k];
}

// The duplicate's index into the handles, or -1.
long DuplicateIndex(HANDLE handle)
{
    IssuedObject *object = Find(handle);
    if (object == NULL || object->isProcess) return -1;
    return (long)object->index;
}

unsigned long long HandleKey(DWORD processId, ULONG_PTR handle)
{
    return ((unsigned long long)processId << 32) | (unsigned long long)(handle & 0xFFFFFFFFu);
}

void BuildTableImage(SimulatedNetwork *network)
{
    size_t n = network->handles.size();
    HandleIndex.clear();
    for (size_t i = 0; i < n; i++) {
        HandleIndex.insert(std::make_pair(HandleKey(network->handles[i].processId, network->handles[i].handle), i));
    }
    network->tableImage.assign(4 + 16 * n, 0);
    DWORD count = (DWORD)n;
    memcpy(&network->tableImage[0], &count, 4);
    for (size_t i = 0; i < n; i++) {
        BYTE *entry = &network->tableImage[4 + 16 * i];
        const SimulatedHandle &h = network->handles[i];
        DWORD object = 0x80000000u + (DWORD)i * 0x20;
        DWORD access = 0x0012019F;
        memcpy(entry, &h.processId, 4);
        entry[4] = h.typeNumber;
        entry[5] = 0;
        memcpy(entry + 6, &h.handle, 2);
        memcpy(entry + 8, &object, 4);
        memcpy(entry + 12, &access, 4);
    }
}

bool Missing(const char *procedure)
{
    for (const std::string &name : Current->missingProcedures) {
        if (name == procedure) return true;
    }
    return false;
}

DWORD WINAPI CompleteLater(LPVOID parameter)
{
    size_t k = (size_t)(ULONG_PTR)parameter;
    Sleep(60);
    Guard guard;
    PendingQuery &query = Pending[k];
    const SimulatedHandle &h = Current->handles[query.index];
    USHORT port = htons(h.port);
    memcpy(query.output + 12, &port, 2);
    memcpy(query.output + 14, &h.address, 4);
    query.ioStatus->Status = StatusSuccess;
    query.ioStatus->Information = 128;
    query.completed = true;
    if (!SetEvent(query.event)) Current->lateCompletionsFailed++;
    return 0;
}

LONG NTAPI SimulatedNtCancelIoFile(HANDLE file, PVOID ioStatus)
{
    Guard guard;
    Current->cancelCalls++;
    for (PendingQuery &query : Pending) {
        if (query.file != file || query.completed) continue;
        if (query.behaviour == TransportPendingUntilCancel) {
            query.ioStatus->Status = StatusCancelled;
            query.ioStatus->Information = 0;
            query.completed = true;
            if (!SetEvent(query.event)) Current->lateCompletionsFailed++;
        }
    }
    if (ioStatus != NULL) ((IoStatus *)ioStatus)->Status = StatusSuccess;
    return StatusSuccess;
}

DWORD WINAPI SimulatedGetExtendedTcpTable(PVOID table, PDWORD size, BOOL order, ULONG family,
                                          TCP_TABLE_CLASS tableClass, ULONG reserved)
{
    Guard guard;
    int call = TcpCalls++;
    Current->tcpTableSizes.push_back(*size);
    if (order != TRUE || family != AF_INET || tableClass != TCP_TABLE_OWNER_PID_ALL || reserved != 0) {
        Fault("GetExtendedTcpTable arguments");
    }
    if (call < (int)Current->tcpForcedResults.size() && Current->tcpForcedResults[call] != NO_ERROR) {
        DWORD result = Current->tcpForcedResults[call];
        if (result == ERROR_INSUFFICIENT_BUFFER) {
            *size = (DWORD)(4 + 24 * Current->tcpRows.size() + 24);
        }
        // Something for the caller to wrongly read.
        if (*size >= 4) memset(table, 0x5A, 4);
        SetLastError(result);
        return result;
    }
    DWORD needed = (DWORD)(4 + 24 * Current->tcpRows.size());
    if (*size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    DWORD count = (DWORD)Current->tcpRows.size();
    memcpy(table, &count, 4);
    if (count) memcpy((BYTE *)table + 4, Current->tcpRows.data(), 24 * count);
    return NO_ERROR;
}

NetworkProcedure SimulatedLookup(const char *module, const char *procedure)
{
    NetworkProcedure found = NULL;
    {
        Guard guard;
        Current->lookups.push_back(std::string(module) + "!" + procedure);
    }
    if (Missing(procedure)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    std::string name = procedure;
    std::string moduleName = module;
    if (moduleName == IPHLPAPI_MODULE_NAME && name == "GetExtendedTcpTable" && Current->tcpTableAvailable) {
        found = (NetworkProcedure)SimulatedGetExtendedTcpTable;
    } else if (moduleName == NTDLL_MODULE_NAME) {
        if (name == "NtQuerySystemInformation") found = (NetworkProcedure)SimulatedNtQuerySystemInformation;
        else if (name == "NtQueryObject") found = (NetworkProcedure)SimulatedNtQueryObject;
        else if (name == "NtDeviceIoControlFile") found = (NetworkProcedure)SimulatedNtDeviceIoControlFile;
        else if (name == "NtCancelIoFile") found = (NetworkProcedure)SimulatedNtCancelIoFile;
    }
    if (found == NULL) SetLastError(ERROR_PROC_NOT_FOUND);
    return found;
}

HANDLE WINAPI SimulatedOpenProcess(DWORD access, BOOL inherit, DWORD processId)
{
    Guard guard;
    Current->openedProcesses.push_back(processId);
    if (access != 0x450 || inherit != FALSE) Fault("OpenProcess arguments");
    for (DWORD pid : Current->unopenableProcesses) {
        if (pid == processId) {
            SetLastError(ERROR_ACCESS_DENIED);
            return NULL;
        }
    }
    return Issue(true, processId, 0);
}

BOOL WINAPI SimulatedDuplicateHandle(HANDLE sourceProcess, HANDLE sourceHandle, HANDLE targetProcess,
                                     LPHANDLE target, DWORD access, BOOL inherit, DWORD options)
{
    Guard guard;
    IssuedObject *process = Find(sourceProcess);
    if (process == NULL || !process->isProcess) {
        Fault("DuplicateHandle from a process not opened");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (targetProcess != GetCurrentProcess() || access != 0xF0000 || inherit != FALSE || options != 0) {
        Fault("DuplicateHandle arguments");
    }
    DWORD pid = process->processId;
    size_t first = 0;
    auto known = HandleIndex.find(HandleKey(pid, (ULONG_PTR)sourceHandle));
    if (known != HandleIndex.end() && known->second < Current->handles.size()
        && Current->handles[known->second].processId == pid
        && (ULONG_PTR)Current->handles[known->second].handle == (ULONG_PTR)sourceHandle) {
        first = known->second;
    }
    for (size_t i = first; i < Current->handles.size(); i++) {
        const SimulatedHandle &h = Current->handles[i];
        if (h.processId == pid && (ULONG_PTR)h.handle == (ULONG_PTR)sourceHandle) {
            Current->duplicatedHandles.push_back(i);
            if (h.duplicateFails) {
                SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            *target = Issue(false, pid, i);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI SimulatedCloseHandle(HANDLE handle)
{
    Guard guard;
    IssuedObject *object = Find(handle);
    if (object == NULL) {
        Fault("CloseHandle of a handle not issued");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->open = false;
    Current->openObjects--;
    return TRUE;
}

DWORD WINAPI SimulatedGetIpAddrTable(void *table, PULONG size, BOOL order)
{
    Guard guard;
    int call = IpCalls++;
    Current->ipTableSizes.push_back(*size);
    if (order != FALSE) Fault("GetIpAddrTable order");
    ULONG needed = (ULONG)(4 + sizeof(MIB_IPADDRROW) * Current->ipRows.size());
    if (*size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (call >= 1 && Current->ipSecondCallFails) {
        // A count that does not belong to any table.
        DWORD garbage = 7;
        memcpy(table, &garbage, 4);
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    DWORD count = (DWORD)Current->ipRows.size();
    memcpy(table, &count, 4);
    if (count) memcpy((BYTE *)table + 4, Current->ipRows.data(), sizeof(MIB_IPADDRROW) * count);
    return NO_ERROR;
}

} // namespace

LONG NTAPI SimulatedNtQuerySystemInformation(ULONG informationClass, PVOID buffer, ULONG length,
                                             PULONG returned)
{
    Guard guard;
    int call = NtQuerySystemCalls++;
    Current->handleTableLengths.push_back(length);
    if (informationClass != 16) {
        Fault("NtQuerySystemInformation class");
        return StatusInvalidParameter;
    }
    ULONG needed = (ULONG)Current->tableImage.size();
    // Handles opened between the two calls make the table larger.
    if (Current->handleTableGrowsBetweenCalls && call >= 1) needed += 16 * 8;
    if (length < needed) {
        if (returned) *returned = needed;
        SetLastError(ERROR_BAD_LENGTH);
        return StatusInfoLengthMismatch;
    }
    memcpy(buffer, Current->tableImage.data(), Current->tableImage.size());
    if (returned) *returned = (ULONG)Current->tableImage.size();
    return StatusSuccess;
}

LONG NTAPI SimulatedNtQueryObject(HANDLE handle, ULONG informationClass, PVOID buffer, ULONG length,
                                  PULONG returned)
{
    long index;
    SimulatedNameBehaviour behaviour;
    {
        Guard guard;
        index = DuplicateIndex(handle);
        if (index < 0) {
            Fault("NtQueryObject on a handle not duplicated");
            return StatusInvalidParameter;
        }
        if (informationClass != 1) Fault("NtQueryObject class");
        // The probe of each name query (its first call, 8 bytes).
        if (length == 8) Current->namedHandles.push_back((size_t)index);
        behaviour = Current->handles[index].nameBehaviour;
        if (behaviour == NameBlocks && !Released) BlockedNow++;
        else if (behaviour == NameBlocks) behaviour = NameAnswers;
    }
    if (behaviour == NameBlocks) {
        WaitForSingleObject(ReleaseSemaphore_, INFINITE);
    }
    Guard guard;
    const SimulatedHandle &h = Current->handles[index];
    if (behaviour == NameFails) return StatusAccessDenied;
    if (length < 8) return StatusInfoLengthMismatch;
    BYTE *out = (BYTE *)buffer;
    if (behaviour == NameAbsent) {
        memset(out, 0, 8);
        if (returned) *returned = 8;
        return StatusSuccess;
    }
    ULONG bytes = (ULONG)(h.name.size() * sizeof(WCHAR));
    ULONG needed = 8 + bytes + sizeof(WCHAR);
    if (returned) *returned = needed;
    if (length < needed) return StatusBufferOverflow;
    USHORT len = (USHORT)bytes;
    USHORT maximum = (USHORT)(bytes + sizeof(WCHAR));
    WCHAR *characters = (WCHAR *)(out + 8);
    memcpy(out, &len, 2);
    memcpy(out + 2, &maximum, 2);
    memcpy(out + 4, &characters, 4);
    memcpy(characters, h.name.c_str(), bytes + sizeof(WCHAR));
    return StatusSuccess;
}

LONG NTAPI SimulatedNtDeviceIoControlFile(HANDLE file, HANDLE event, PVOID apc, PVOID apcContext,
                                          PVOID ioStatus, ULONG code, PVOID input, ULONG inputLength,
                                          PVOID output, ULONG outputLength)
{
    Guard guard;
    long index = DuplicateIndex(file);
    if (index < 0) {
        Fault("NtDeviceIoControlFile on a handle not duplicated");
        return StatusInvalidParameter;
    }
    Current->transportQueries.push_back((size_t)index);
    static const BYTE expectedRequest[24] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0 };
    if (code != 0x210012 || inputLength != 24 || outputLength != 128 || input == NULL || output == NULL
        || memcmp(input, expectedRequest, 24) != 0 || apc != NULL || apcContext != NULL || event == NULL) {
        Fault("NtDeviceIoControlFile arguments");
        return StatusInvalidParameter;
    }
    ResetEvent(event);
    const SimulatedHandle &h = Current->handles[index];
    IoStatus *status = (IoStatus *)ioStatus;
    switch (h.transport) {
    case TransportAnswers: {
        USHORT port = htons(h.port);
        memcpy((BYTE *)output + 12, &port, 2);
        memcpy((BYTE *)output + 14, &h.address, 4);
        status->Status = StatusSuccess;
        status->Information = 128;
        SetEvent(event);
        return StatusSuccess;
    }
    case TransportFails:
        status->Status = StatusUnsuccessful;
        SetLastError(ERROR_NOT_SUPPORTED);
        return StatusUnsuccessful;
    default: {
        PendingQuery query = { (size_t)index, file, event, status, (BYTE *)output, h.transport, false };
        Pending.push_back(query);
        status->Status = StatusPending;
        SetLastError(ERROR_IO_PENDING);
        if (h.transport == TransportPendingCompletes) {
            HANDLE thread = CreateThread(NULL, 0, CompleteLater, (LPVOID)(ULONG_PTR)(Pending.size() - 1), 0, NULL);
            if (thread) CloseHandle(thread);
        }
        return StatusPending;
    }
    }
}

void InstallSimulatedNetwork(SimulatedNetwork *network)
{
    if (!LockReady) {
        InitializeCriticalSection(&Lock);
        ReleaseSemaphore_ = CreateSemaphoreA(NULL, 0, 1000, NULL);
        LockReady = true;
    }
    Released = false;
    BlockedNow = 0;
    Issued.clear();
    Pending.clear();
    NtQuerySystemCalls = 0;
    TcpCalls = 0;
    IpCalls = 0;
    BuildTableImage(network);
    Current = network;
    NetworkCalls.pLookupProcedure = SimulatedLookup;
    NetworkCalls.pOpenProcess = SimulatedOpenProcess;
    NetworkCalls.pDuplicateHandle = SimulatedDuplicateHandle;
    NetworkCalls.pCloseHandle = SimulatedCloseHandle;
    NetworkCalls.pGetIpAddrTable = SimulatedGetIpAddrTable;
}

void ReleaseBlockedQueries()
{
    if (!LockReady) return;
    int n;
    {
        Guard guard;
        Released = true;
        n = BlockedNow;
        BlockedNow = 0;
    }
    // One at a time: the stuck walkers come back and end one after another.
    for (int i = 0; i < n; i++) {
        ReleaseSemaphore(ReleaseSemaphore_, 1, NULL);
        Sleep(50);
    }
}

void CompletePendingTransportQueries()
{
    Guard guard;
    for (PendingQuery &query : Pending) {
        if (query.completed) continue;
        query.ioStatus->Status = StatusCancelled;
        query.completed = true;
        if (!SetEvent(query.event)) Current->lateCompletionsFailed++;
    }
}

void RemoveSimulatedNetwork()
{
    ReleaseBlockedQueries();
    CompletePendingTransportQueries();
    // Stuck walkers come back, the idle one ends, answers still on their
    // way land, before the records go.
    for (int i = 0; i < 300 && HandleWalkerThreads() > 0; i++) Sleep(10);
    Sleep(100);
    NetworkCalls = NetworkSystemCallsDefault;
}

MIB_IPADDRROW SimulatedIpRow(const char *dotted, unsigned short type)
{
    MIB_IPADDRROW row;
    memset(&row, 0, sizeof(row));
    row.dwAddr = inet_addr(dotted);
    row.dwIndex = 1;
    row.dwMask = inet_addr("255.255.255.0");
    row.dwBCastAddr = 1;
    row.dwReasmSize = 65535;
    row.wType = type;
    return row;
}

MIB_TCPROW_OWNER_PID SimulatedTcpRow(DWORD state, const char *local, USHORT port, DWORD pid)
{
    MIB_TCPROW_OWNER_PID row;
    memset(&row, 0, sizeof(row));
    row.dwState = state;
    row.dwLocalAddr = inet_addr(local);
    row.dwLocalPort = htons(port);
    row.dwOwningPid = pid;
    return row;
}
