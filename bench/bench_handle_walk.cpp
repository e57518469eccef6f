// The handle-walk fallback of the endpoint mapping (MapEndpointsByHandles,
// with its walker and the log open as in the controller) over a simulated
// system handle table of 100,000 entries, against a probe that makes the
// same calls on the same table: the two handle table calls, the debug
// privilege, and for each file handle of a running service the process
// open, the duplication, the name query (probe and fetch) and, for the TCP
// and UDP devices, the transport query, each query's function looked up by
// name before it as the walk looks it up; and that writes the walk's log
// lines, byte for byte the same, to the same file. What the probe leaves
// out is the walk's own machinery: the guard around each query and the
// walker thread the walk is handed to. Both run against the simulated
// system of tests/support (simulated_network.h), whose calls are counted
// (counted_network.h) and checked after each walk, as is the log.
//
// Between the bare loop (the functions called directly, no log) and the
// walk, a ladder of probes adds one part at a time (the lookups, the log
// lines, a guard of the walk's kind around each query, the walk handed to a
// parked thread), so that what each part costs is measured, and what is
// left is the walk's own work beyond them.
//
// The walker is kept parked between walks for the program's life, so what
// the user sees after the first mapping is a walk on a parked walker: that
// is what is measured, with the walker checked to be parked before each
// timed walk. The first walk of the process, which starts the walker, is
// timed once and printed on a line of its own. The data are warmed up by
// one bare walk before the first walk; then each side gets one untimed walk
// and each round starts with the next side in turn.
//
//   tools/wine-run build/bin/bench_handle_walk.exe [ROUNDS] [ENTRIES]
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_support.h"
#include "counted_network.h"
#include "app/controller.h"
#include "log/log.h"
#include "network/network.h"
#include "services/services.h"
#include "support/simulated_network.h"

namespace
{

const double Goal = 1.2;
const DWORD ApachePid = 1200;
const DWORD MySqlPid = 1300;
const DWORD TomcatOldPid = 1400;
const DWORD ProcessHandlesOther = 800; // handles per other process

// What a service process holds besides its plain objects: file handles by
// name, some of them sockets on the TCP and UDP devices.
struct FileHandleRow {
    DWORD pid;
    BYTE type;
    const wchar_t *name;
    int count;
    const char *address; // for the transport devices
    USHORT firstPort;
};

const FileHandleRow ServiceFiles[] = {
    { ApachePid, 28, L"\\Device\\Tcp", 4, "0.0.0.0", 80 },
    { ApachePid, 28, L"\\Device\\Tcp", 4, "127.0.0.1", 49200 },
    { ApachePid, 28, L"\\Device\\Afd", 40, NULL, 0 },
    { ApachePid, 28, L"\\Device\\HarddiskVolume1\\www\\Apache22\\logs\\access.log", 30, NULL, 0 },
    { ApachePid, 28, L"\\Device\\HarddiskVolume1\\www\\Apache22\\modules", 30, NULL, 0 },
    { ApachePid, 28, L"\\Device\\NamedPipe\\apache-child", 12, NULL, 0 },
    { ApachePid, 28, L"\\Device\\Tcp6", 2, NULL, 0 },
    { ApachePid, 26, L"\\BaseNamedObjects\\ApacheSection", 8, NULL, 0 },
    { MySqlPid, 28, L"\\Device\\Tcp", 2, "0.0.0.0", 3306 },
    { MySqlPid, 28, L"\\Device\\Udp", 1, "0.0.0.0", 53 },
    { MySqlPid, 28, L"\\Device\\Afd", 24, NULL, 0 },
    { MySqlPid, 28, L"\\Device\\HarddiskVolume1\\www\\mysql\\data\\ibdata1", 40, NULL, 0 },
    { MySqlPid, 28, L"\\Device\\KsecDD", 2, NULL, 0 },
    // The stopped service's old process: in the table, never opened.
    { TomcatOldPid, 28, L"\\Device\\Tcp", 2, "0.0.0.0", 8080 },
    { TomcatOldPid, 28, L"\\Device\\HarddiskVolume1\\www\\Tomcat5\\logs\\catalina.log", 20, NULL,
      0 },
};

// Object kinds that are not files (events, keys, threads, sections...).
const BYTE OtherTypes[] = { 2, 5, 6, 7, 9, 11, 12, 13, 17, 20, 24 };

struct ProcessPlan {
    DWORD pid;
    DWORD handles;
};

SimulatedHandle MakeHandle(DWORD pid, BYTE type, const wchar_t *name)
{
    SimulatedHandle h = SimulatedHandle();
    h.processId = pid;
    h.typeNumber = type;
    h.name = name;
    return h;
}

// The whole table, grouped by process as the system lists it: other
// processes with a fifth of their handles files, the services' processes
// with their files spread among their other objects.
void BuildHandleTable(SimulatedNetwork *system, size_t entries)
{
    std::vector<ProcessPlan> plan;
    const ProcessPlan services[] = { { ApachePid, 600 }, { MySqlPid, 400 }, { TomcatOldPid, 300 } };
    size_t servicesTotal = 0;
    for (const ProcessPlan &p : services)
        servicesTotal += p.handles;
    size_t others = entries > servicesTotal ? entries - servicesTotal : 0;
    DWORD pid = 4;
    while (others > 0) {
        if (pid == ApachePid || pid == MySqlPid || pid == TomcatOldPid) {
            for (const ProcessPlan &p : services) {
                if (p.pid == pid)
                    plan.push_back(p);
            }
        } else {
            DWORD n = others < ProcessHandlesOther ? (DWORD)others : ProcessHandlesOther;
            ProcessPlan p = { pid, n };
            plan.push_back(p);
            others -= n;
        }
        pid += 4;
    }
    for (const ProcessPlan &p : services) {
        if (p.pid >= pid)
            plan.push_back(p);
    }
    system->handles.clear();
    system->handles.reserve(entries);
    unsigned int seed = 12345;
    for (const ProcessPlan &p : plan) {
        std::vector<SimulatedHandle> own;
        for (const FileHandleRow &row : ServiceFiles) {
            if (row.pid != p.pid)
                continue;
            for (int k = 0; k < row.count; k++) {
                SimulatedHandle h = MakeHandle(p.pid, row.type, row.name);
                if (row.address != NULL) {
                    h.address = row.address;
                    h.port = (USHORT)(row.firstPort + k);
                }
                own.push_back(h);
            }
        }
        DWORD files = (DWORD)own.size();
        DWORD plain = p.handles > files ? p.handles - files : 0;
        std::vector<SimulatedHandle> all;
        size_t next = 0;
        DWORD total = plain + files;
        for (DWORD k = 0; k < total; k++) {
            seed = seed * 1103515245u + 12345u;
            // Selection sampling: the files land spread over the process's slots.
            DWORD filesLeft = (DWORD)(own.size() - next);
            bool file = filesLeft > 0 && (seed >> 12) % (total - k) < filesLeft;
            if (file) {
                all.push_back(own[next++]);
            } else if (p.pid != ApachePid && p.pid != MySqlPid && p.pid != TomcatOldPid &&
                       (seed >> 8) % 5 == 0) {
                all.push_back(
                    MakeHandle(p.pid, 28, L"\\Device\\HarddiskVolume1\\Windows\\System32"));
            } else {
                all.push_back(MakeHandle(p.pid, OtherTypes[(seed >> 4) % sizeof(OtherTypes)], L""));
            }
        }
        system->handles.insert(system->handles.end(), all.begin(), all.end());
    }
    system->handles.resize(std::min(system->handles.size(), entries));
}

void SetService(int i, int installed, DWORD state, DWORD pid)
{
    ServiceEntry &entry = ServiceTable.entries[i];
    entry.bInstalled = installed;
    memset(&entry.ssStatus, 0, sizeof(entry.ssStatus));
    entry.ssStatus.dwCurrentState = state;
    entry.ssStatus.dwProcessId = pid;
}

void ClearRecordings(SimulatedNetwork *system)
{
    system->openedProcesses.clear();
}

// What one walk made the system do, to check that every side did the same.
struct WalkCalls {
    size_t lookups, opened, duplicated, named, queried, transport;
    ServiceEndpoints endpoints[SERVICE_COUNT];
};

WalkCalls Observed(const SimulatedNetwork &system, const ServiceEndpoints endpoints[SERVICE_COUNT])
{
    WalkCalls calls;
    calls.lookups = CallCounts().lookups;
    calls.opened = system.openedProcesses.size();
    calls.duplicated = CallCounts().duplicated;
    calls.named = CallCounts().named;
    calls.queried = CallCounts().queried;
    calls.transport = CallCounts().transport;
    memcpy(calls.endpoints, endpoints, sizeof(calls.endpoints));
    return calls;
}

// The bare loop makes no lookups; every other side makes those of the walk.
bool SameCalls(const WalkCalls &a, const WalkCalls &b, bool lookups)
{
    return (!lookups || a.lookups == b.lookups) && a.opened == b.opened &&
           a.duplicated == b.duplicated && a.named == b.named && a.queried == b.queried &&
           a.transport == b.transport && memcmp(a.endpoints, b.endpoints, sizeof(a.endpoints)) == 0;
}

// --- The probes ------------------------------------------------------------

// What a probe does besides the necessary calls.
struct ProbeParts {
    bool lookups;  // each query's function looked up by name before the query
    bool logLines; // the walk's log lines, written to the log file
    bool guard;    // a tick count and two interlocked operations around each query
    bool walker;   // the pass over the table run on a parked thread, handed over once
};

struct LadderStep {
    const char *name;
    ProbeParts parts;
};

// From the bare loop to the walk, one part at a time.
const LadderStep Ladder[] = {
    { "bare loop, functions called directly", { false, false, false, false } },
    { "+ the lookups before each query", { true, false, false, false } },
    { "+ the walk's log lines", { true, true, false, false } },
    { "+ a guard around each query", { true, true, true, false } },
    { "+ the pass handed to a parked thread", { true, true, true, true } },
};
const int StepCount = (int)(sizeof(Ladder) / sizeof(Ladder[0]));
// The probe that does what the walk must do, without the walk's own guard
// and walker: the ratio's other side.
const int LikeWithLike = 2;
// The sides of a round: the steps of the ladder, then the walk itself.
const int ProductSide = StepCount;
const int SideCount = StepCount + 1;

#pragma pack(push, 1)
struct BareEntry {
    ULONG ProcessId;
    BYTE ObjectTypeNumber;
    BYTE Flags;
    USHORT Handle;
    ULONG Object;
    ULONG GrantedAccess;
};
#pragma pack(pop)

struct BareName {
    USHORT Length;
    USHORT MaximumLength;
    WCHAR *Buffer;
};

struct BareIoStatus {
    LONG Status;
    ULONG_PTR Information;
};

// One probe walk in progress.
struct ProbeWalk {
    ProbeParts parts;
    FILE *log;
    const BareEntry *entries;
    DWORD count;
    bool running[SERVICE_COUNT];
    DWORD pids[SERVICE_COUNT];
    ServiceEndpoints *endpoints;
    // The guard's record, kept as the walk keeps its own: the serial is odd
    // while a query runs, the tick count tells since when.
    volatile LONG serial;
    volatile DWORD queryStart;
    volatile DWORD queryAllowance;
    int overdue; // looks that found a query past the walk's limit
};

ProbeWalk Probe;

void GuardBegin()
{
    if (!Probe.parts.guard)
        return;
    Probe.queryAllowance = 0;
    Probe.queryStart = GetTickCount();
    InterlockedIncrement(&Probe.serial);
}

void GuardEnd()
{
    if (!Probe.parts.guard)
        return;
    LONG serial = Probe.serial;
    InterlockedCompareExchange(&Probe.serial, serial + 1, serial);
}

bool NameIs(const BareName *name, const wchar_t *device, size_t length)
{
    return name->Length == length * sizeof(WCHAR) &&
           memcmp(name->Buffer, device, length * sizeof(WCHAR)) == 0;
}

void BareEnableDebugPrivilege()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges;
    memset(&privileges, 0, sizeof(privileges));
    privileges.PrivilegeCount = 1;
    if (LookupPrivilegeValueA(NULL, "SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD returned = 0;
        NetworkCalls.pAdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), NULL,
                                            &returned);
    }
    CloseHandle(token);
}

void ProbeTransport(HANDLE duplicate, int service)
{
    DeviceControlFunction deviceControl = CountedNtDeviceIoControlFile;
    if (Probe.parts.lookups) {
        deviceControl = (DeviceControlFunction)NetworkCalls.pLookupProcedure(
            NTDLL_MODULE_NAME, "NtDeviceIoControlFile");
    }
    BYTE request[24];
    BYTE answer[128];
    BareIoStatus io;
    DWORD queryType = 3;
    memset(request, 0, sizeof(request));
    memcpy(request + 16, &queryType, sizeof(queryType));
    HANDLE event = NetworkCalls.pCreateEventA(NULL, TRUE, FALSE, NULL);
    if (event == NULL)
        return;
    GuardBegin();
    LONG status = deviceControl(duplicate, event, NULL, NULL, &io, 0x210012, request,
                                sizeof(request), answer, sizeof(answer));
    GuardEnd();
    CloseHandle(event);
    if (status != 0)
        return;
    USHORT port;
    in_addr address;
    memcpy(&port, answer + 12, sizeof(port));
    memcpy(&address.s_addr, answer + 14, sizeof(address.s_addr));
    if (Probe.log != NULL)
        fprintf(Probe.log, "IP:\t\t%-16s\nPort:\t\t%d\n", inet_ntoa(address), (int)ntohs(port));
    ServiceEndpoints &record = Probe.endpoints[service];
    if (record.count < ENDPOINT_SLOTS) {
        record.slots[record.count].address = address.s_addr;
        record.slots[record.count].port = ntohs(port);
        record.count++;
    }
}

void ProbeExamine(const BareEntry *entry, int service)
{
    static const wchar_t tcp[] = L"\\Device\\Tcp";
    static const wchar_t udp[] = L"\\Device\\Udp";
    HANDLE process = NetworkCalls.pOpenProcess(0x450, FALSE, entry->ProcessId);
    if (process == NULL)
        return;
    HANDLE duplicate = NULL;
    if (!NetworkCalls.pDuplicateHandle(process, (HANDLE)(ULONG_PTR)entry->Handle,
                                       GetCurrentProcess(), &duplicate, 0xF0000, FALSE, 0)) {
        NetworkCalls.pCloseHandle(process);
        return;
    }
    QueryObjectFunction queryObject = CountedNtQueryObject;
    if (Probe.parts.lookups) {
        queryObject =
            (QueryObjectFunction)NetworkCalls.pLookupProcedure(NTDLL_MODULE_NAME, "NtQueryObject");
    }
    BYTE probe[8];
    ULONG length = sizeof(probe);
    BYTE *buffer = probe;
    GuardBegin();
    LONG status = queryObject(duplicate, 1, probe, sizeof(probe), &length);
    GuardEnd();
    if (status == (LONG)0x80000005) {
        buffer = (BYTE *)malloc(length);
        status = -1;
        if (buffer != NULL) {
            GuardBegin();
            status = queryObject(duplicate, 1, buffer, length, &length);
            GuardEnd();
        }
    }
    const BareName *name = (const BareName *)buffer;
    if (status >= 0 && buffer != NULL && name->Buffer != NULL) {
        if (Probe.log != NULL) {
            wchar_t text[MAX_PATH];
            size_t characters =
                std::min((size_t)name->Length / sizeof(WCHAR), (size_t)MAX_PATH - 1);
            memcpy(text, name->Buffer, characters * sizeof(WCHAR));
            text[characters] = L'\0';
            fprintf(Probe.log, "\nObject Name: %ls\n", text);
        }
        if (NameIs(name, tcp, wcslen(tcp)) || NameIs(name, udp, wcslen(udp)))
            ProbeTransport(duplicate, service);
    }
    if (buffer != probe)
        free(buffer);
    NetworkCalls.pCloseHandle(duplicate);
    NetworkCalls.pCloseHandle(process);
}

void ProbePass()
{
    for (DWORD k = 0; k < Probe.count; k++) {
        const BareEntry &entry = Probe.entries[k];
        if (entry.ObjectTypeNumber != 26 && entry.ObjectTypeNumber != 28)
            continue;
        for (int i = 0; i < SERVICE_COUNT; i++) {
            if (Probe.running[i] && Probe.pids[i] == entry.ProcessId)
                ProbeExamine(&entry, i);
        }
    }
}

HANDLE ProbeStart;
HANDLE ProbeDone;
HANDLE ProbeThread;
volatile LONG ProbeEnding;

DWORD WINAPI ProbeWalkerMain(LPVOID)
{
    for (;;) {
        WaitForSingleObject(ProbeStart, INFINITE);
        if (ProbeEnding)
            break;
        ProbePass();
        SetEvent(ProbeDone);
    }
    return 0;
}

// The pass, on the parked thread where the step asks for it (started by the
// first such walk), watched as the walk watches its walker: a look at the
// guard's record every HANDLE_QUERY_WATCH_PERIOD_MS until the pass is done.
void RunProbePass()
{
    if (!Probe.parts.walker) {
        ProbePass();
        return;
    }
    if (ProbeThread == NULL) {
        ProbeStart = CreateEventA(NULL, FALSE, FALSE, NULL);
        ProbeDone = CreateEventA(NULL, FALSE, FALSE, NULL);
        ProbeThread = CreateThread(NULL, 0, ProbeWalkerMain, NULL, 0, NULL);
    }
    SetEvent(ProbeStart);
    while (WaitForSingleObject(ProbeDone, HANDLE_QUERY_WATCH_PERIOD_MS) != WAIT_OBJECT_0) {
        LONG serial = Probe.serial;
        if ((serial & 1) != 0 &&
            GetTickCount() - Probe.queryStart >= HANDLE_QUERY_LIMIT_MS + Probe.queryAllowance) {
            Probe.overdue++;
        }
    }
}

void EndProbeWalker()
{
    if (ProbeThread == NULL)
        return;
    ProbeEnding = 1;
    SetEvent(ProbeStart);
    WaitForSingleObject(ProbeThread, INFINITE);
    CloseHandle(ProbeThread);
    CloseHandle(ProbeStart);
    CloseHandle(ProbeDone);
}

void ProbeHandleWalk(const ProbeParts &parts, FILE *log, ServiceEndpoints endpoints[SERVICE_COUNT])
{
    Probe.parts = parts;
    Probe.log = log;
    Probe.endpoints = endpoints;
    QuerySystemFunction querySystem = CountedNtQuerySystemInformation;
    if (parts.lookups) {
        querySystem = (QuerySystemFunction)NetworkCalls.pLookupProcedure(
            NTDLL_MODULE_NAME, "NtQuerySystemInformation");
    }
    ULONG length = 20;
    ULONG returned = 0;
    BYTE *table = (BYTE *)malloc(length);
    if (table == NULL)
        return;
    LONG status = querySystem(16, table, length, &returned);
    if (status == (LONG)0xC0000004) {
        free(table);
        length = returned;
        table = (BYTE *)malloc(length);
        if (table == NULL)
            return;
        status = querySystem(16, table, length, &returned);
    }
    if (status == 0) {
        DWORD count;
        memcpy(&count, table, sizeof(count));
        if (log != NULL)
            fprintf(log, "\nFound %d Handles on System...\n", (int)count);
        BareEnableDebugPrivilege();
        for (int i = 0; i < SERVICE_COUNT; i++) {
            Probe.running[i] = ServiceTable.entries[i].bInstalled == 1 &&
                               ServiceTable.entries[i].ssStatus.dwCurrentState == SERVICE_RUNNING;
            Probe.pids[i] = ServiceTable.entries[i].ssStatus.dwProcessId;
        }
        Probe.entries = (const BareEntry *)(table + sizeof(DWORD));
        Probe.count = count;
        RunProbePass();
    }
    free(table);
}

// --- The rounds ------------------------------------------------------------

struct Checks {
    const WalkCalls *calls; // what every walk must make the system do
    const std::string *log; // what every walk that writes the log must write
    int callMismatches;
    int logMismatches;
};

// One walk of a side on a fresh recording; its time, checked against the
// reference walk where there is one.
double TimedWalk(SimulatedNetwork *system, int side, Checks *checks)
{
    InstallCountedNetwork(system);
    ClearRecordings(system);
    ServiceEndpoints endpoints[SERVICE_COUNT];
    memset(endpoints, 0, sizeof(endpoints));
    memset(EndpointTable, 0, sizeof(EndpointTable));
    bool product = side == ProductSide;
    bool logs = product || Ladder[side].parts.logLines;
    double start, elapsed;
    if (product) {
        OpenBenchLog();
        start = Now();
        MapEndpointsByHandles();
        elapsed = Now() - start;
        ControllerLogClose();
        memcpy(endpoints, EndpointTable, sizeof(endpoints));
    } else {
        FILE *log = logs ? OpenProbeLog() : NULL;
        start = Now();
        ProbeHandleWalk(Ladder[side].parts, log, endpoints);
        elapsed = Now() - start;
        if (log != NULL)
            fclose(log);
    }
    bool lookups = product || Ladder[side].parts.lookups;
    if (checks->calls != NULL && !SameCalls(Observed(*system, endpoints), *checks->calls, lookups))
        checks->callMismatches++;
    if (checks->log != NULL && logs && ReadBenchLog() != *checks->log)
        checks->logMismatches++;
    return elapsed;
}

// The median of a side's rounds, and of its difference to the side before
// within each round where both were timed.
void PrintStep(const char *name, const std::vector<std::vector<double>> &rounds, int side)
{
    std::vector<double> times, differences;
    for (const std::vector<double> &round : rounds) {
        if (round[side] < 0)
            continue;
        times.push_back(round[side]);
        if (side > 0 && round[side - 1] >= 0)
            differences.push_back(round[side] - round[side - 1]);
    }
    printf("    %-48s %7.2f ms", name, Median(times));
    if (side > 0)
        printf("  %+6.2f ms", Median(differences));
    printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 41;
    size_t entries = argc > 2 ? (size_t)atol(argv[2]) : 100000;
    if (rounds < 1)
        rounds = 1;

    SimulatedNetwork system = SimulatedNetwork();
    BuildHandleTable(&system, entries);
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    SetService(1, 1, SERVICE_RUNNING, MySqlPid);
    SetService(2, 1, SERVICE_STOPPED, TomcatOldPid);
    SetService(3, 0, 0, 0);
    size_t candidates = 0;
    for (const SimulatedHandle &h : system.handles) {
        if ((h.typeNumber == 26 || h.typeNumber == 28) &&
            (h.processId == ApachePid || h.processId == MySqlPid)) {
            candidates++;
        }
    }

    // The calls every walk must make, from one probe walk with the lookups,
    // which also warms up the data for the first walk; the log every walk
    // must write, from that first walk.
    Checks checks = { NULL, NULL, 0, 0 };
    ServiceEndpoints reference[SERVICE_COUNT];
    memset(reference, 0, sizeof(reference));
    InstallCountedNetwork(&system);
    ClearRecordings(&system);
    ProbeHandleWalk(Ladder[1].parts, NULL, reference);
    WalkCalls expected = Observed(system, reference);
    checks.calls = &expected;

    bool walkerBefore = HandleWalkerThreads() > 0;
    double first = TimedWalk(&system, ProductSide, &checks);
    std::string log = ReadBenchLog();
    checks.log = &log;
    for (int side = 0; side < SideCount; side++)
        TimedWalk(&system, side, &checks);

    // Each round starts with the next side; a walk of the program on a
    // walker that is not parked is left out (-1).
    std::vector<std::vector<double>> times(rounds, std::vector<double>(SideCount, -1));
    int notParked = 0;
    for (int round = 0; round < rounds; round++) {
        for (int turn = 0; turn < SideCount; turn++) {
            int side = (round + turn) % SideCount;
            if (side == ProductSide && HandleWalkerParked() != 1) {
                notParked++;
                continue;
            }
            times[round][side] = TimedWalk(&system, side, &checks);
        }
    }
    EndHandleWalker();
    EndProbeWalker();
    RemoveSimulatedNetwork();

    std::vector<double> product, probe;
    for (const std::vector<double> &round : times) {
        if (round[ProductSide] >= 0)
            product.push_back(round[ProductSide]);
        probe.push_back(round[LikeWithLike]);
    }
    printf("handle walk over %u simulated handle-table entries, %u candidate handles of running "
           "services (%u lookups, %u name and %u transport queries), %d rounds after one warm-up "
           "walk of each side, each round starting with the next side (medians)\n",
           (unsigned)system.handles.size(), (unsigned)candidates, (unsigned)expected.lookups,
           (unsigned)expected.queried, (unsigned)expected.transport, rounds);
    printf("  endpoints recorded: Apache2.2 %lu, MySQL %lu; log of one walk: %u bytes\n",
           (unsigned long)expected.endpoints[0].count, (unsigned long)expected.endpoints[1].count,
           (unsigned)log.size());
    if (checks.callMismatches > 0) {
        printf("  %d walks did not make the calls of the reference walk or recorded other "
               "endpoints\n",
               checks.callMismatches);
    }
    if (checks.logMismatches > 0)
        printf("  %d walks did not write the log of the first walk\n", checks.logMismatches);
    if (notParked > 0 || walkerBefore) {
        printf("  the walker was not parked before %d timed walks (left out); a walker before the "
               "first walk: %s\n",
               notParked, walkerBefore ? "yes" : "no");
    }
    if (Probe.overdue > 0)
        printf("  a probe's query was past the walk's limit at %d looks\n", Probe.overdue);
    PrintComparison("per walk, walker parked", "MapEndpointsByHandles", product,
                    "probe with the same lookups and log lines", probe, Goal);
    printf("  from the bare loop to the walk, one part at a time (median of each side, and of its "
           "difference to the side above within a round):\n");
    for (int side = 0; side < StepCount; side++)
        PrintStep(Ladder[side].name, times, side);
    PrintStep("MapEndpointsByHandles: the rest, its own work", times, ProductSide);
    printf(
        "  first walk of the process (starts the walker): %.2f ms, %+.2f ms over the same probe\n",
        first, first - Median(probe));
    bool failed = checks.callMismatches > 0 || checks.logMismatches > 0 || product.empty();
    return failed ? 1 : 0;
}
