// The handle-walk fallback of the endpoint mapping (MapEndpointsByHandles,
// with its walker and the log open as in the controller) over a simulated
// system handle table of 100,000 entries, against a bare loop over the same
// table that does only the necessary work: the two handle table calls, the
// debug privilege, and for each file handle of a running service the
// process open, the duplication, the name query (probe and fetch, compared
// in place) and, for the TCP and UDP devices, the transport query; no
// walker, no guard, no log. Both run against the simulated system of
// tests/support (tests/support/simulated_network.h), whose calls are the
// same for both and counted (counted_network.h) and checked after each walk.
//
// The walker is kept parked between walks for the program's life, so what
// the user sees after the first mapping is a walk on a parked walker: that
// is the ratio measured, with the walker checked to be parked before each
// timed walk. The first walk of the process, which starts the walker, is
// timed once and printed on a line of its own. The data are warmed up by
// one bare walk before the first walk; then each side gets one untimed walk
// and the rounds alternate which side goes first.
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

// What one walk made the system do, to check that both sides did the same.
struct WalkCalls {
    size_t opened, duplicated, named, transport;
    ServiceEndpoints endpoints[SERVICE_COUNT];
};

WalkCalls Observed(const SimulatedNetwork &system, const ServiceEndpoints endpoints[SERVICE_COUNT])
{
    WalkCalls calls;
    calls.opened = system.openedProcesses.size();
    calls.duplicated = CallCounts().duplicated;
    calls.named = CallCounts().named;
    calls.transport = CallCounts().transport;
    memcpy(calls.endpoints, endpoints, sizeof(calls.endpoints));
    return calls;
}

bool SameCalls(const WalkCalls &a, const WalkCalls &b)
{
    return a.opened == b.opened && a.duplicated == b.duplicated && a.named == b.named &&
           a.transport == b.transport && memcmp(a.endpoints, b.endpoints, sizeof(a.endpoints)) == 0;
}

// --- The bare loop ---------------------------------------------------------

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

bool NameIs(const BareName *name, const wchar_t *device, size_t length)
{
    return name->Buffer != NULL && name->Length == length * sizeof(WCHAR) &&
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
        AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), NULL, &returned);
    }
    CloseHandle(token);
}

void BareExamine(const BareEntry *entry, int service, ServiceEndpoints endpoints[SERVICE_COUNT])
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
    BYTE probe[8];
    ULONG length = sizeof(probe);
    BYTE *buffer = probe;
    LONG status = CountedNtQueryObject(duplicate, 1, probe, sizeof(probe), &length);
    if (status == (LONG)0x80000005) {
        buffer = (BYTE *)malloc(length);
        status = buffer ? CountedNtQueryObject(duplicate, 1, buffer, length, &length) : -1;
    }
    const BareName *name = (const BareName *)buffer;
    if (status >= 0 && buffer != NULL &&
        (NameIs(name, tcp, wcslen(tcp)) || NameIs(name, udp, wcslen(udp)))) {
        BYTE request[24];
        BYTE answer[128];
        BareIoStatus io;
        DWORD queryType = 3;
        memset(request, 0, sizeof(request));
        memcpy(request + 16, &queryType, sizeof(queryType));
        HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
        if (event != NULL) {
            status = CountedNtDeviceIoControlFile(duplicate, event, NULL, NULL, &io, 0x210012,
                                                  request, sizeof(request), answer, sizeof(answer));
            CloseHandle(event);
            ServiceEndpoints &record = endpoints[service];
            if (status == 0 && record.count < ENDPOINT_SLOTS) {
                USHORT port;
                DWORD address;
                memcpy(&port, answer + 12, sizeof(port));
                memcpy(&address, answer + 14, sizeof(address));
                record.slots[record.count].address = address;
                record.slots[record.count].port = ntohs(port);
                record.count++;
            }
        }
    }
    if (buffer != probe)
        free(buffer);
    NetworkCalls.pCloseHandle(duplicate);
    NetworkCalls.pCloseHandle(process);
}

void BareHandleWalk(ServiceEndpoints endpoints[SERVICE_COUNT])
{
    ULONG length = 20;
    ULONG returned = 0;
    BYTE *table = (BYTE *)malloc(length);
    if (table == NULL)
        return;
    LONG status = CountedNtQuerySystemInformation(16, table, length, &returned);
    if (status == (LONG)0xC0000004) {
        free(table);
        length = returned;
        table = (BYTE *)malloc(length);
        if (table == NULL)
            return;
        status = CountedNtQuerySystemInformation(16, table, length, &returned);
    }
    if (status == 0) {
        BareEnableDebugPrivilege();
        DWORD pids[SERVICE_COUNT];
        bool running[SERVICE_COUNT];
        for (int i = 0; i < SERVICE_COUNT; i++) {
            running[i] = ServiceTable.entries[i].bInstalled == 1 &&
                         ServiceTable.entries[i].ssStatus.dwCurrentState == SERVICE_RUNNING;
            pids[i] = ServiceTable.entries[i].ssStatus.dwProcessId;
        }
        DWORD count;
        memcpy(&count, table, sizeof(count));
        const BareEntry *entries = (const BareEntry *)(table + sizeof(DWORD));
        for (DWORD k = 0; k < count; k++) {
            if (entries[k].ObjectTypeNumber != 26 && entries[k].ObjectTypeNumber != 28)
                continue;
            for (int i = 0; i < SERVICE_COUNT; i++) {
                if (running[i] && pids[i] == entries[k].ProcessId)
                    BareExamine(&entries[k], i, endpoints);
            }
        }
    }
    free(table);
}

// Whether the mapping's walker waits, parked, for the next walk. Where the
// walker still ends after an idle spell (HANDLE_WALKER_IDLE_MS), one live
// walker with no query stuck is the parked one.
bool WalkerParked()
{
#ifdef HANDLE_WALKER_IDLE_MS
    return HandleWalkerThreads() == 1 && StalledHandleWalkers() == 0;
#else
    return HandleWalkerParked() == 1;
#endif
}

// One walk of either side on a fresh recording; its time, and whether it
// made the calls of the reference walk.
double TimedWalk(SimulatedNetwork *system, bool product, const WalkCalls *expected, int *mismatches)
{
    InstallCountedNetwork(system);
    ClearRecordings(system);
    ServiceEndpoints endpoints[SERVICE_COUNT];
    memset(endpoints, 0, sizeof(endpoints));
    memset(EndpointTable, 0, sizeof(EndpointTable));
    double start, elapsed;
    if (product) {
        OpenBenchLog();
        start = Now();
        MapEndpointsByHandles();
        elapsed = Now() - start;
        ControllerLogClose();
        memcpy(endpoints, EndpointTable, sizeof(endpoints));
    } else {
        start = Now();
        BareHandleWalk(endpoints);
        elapsed = Now() - start;
    }
    if (expected != NULL && !SameCalls(Observed(*system, endpoints), *expected))
        (*mismatches)++;
    return elapsed;
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

    // The calls every walk must make, from one bare walk, which also warms
    // up the data for the first walk.
    int mismatches = 0;
    ServiceEndpoints reference[SERVICE_COUNT];
    memset(reference, 0, sizeof(reference));
    InstallCountedNetwork(&system);
    ClearRecordings(&system);
    BareHandleWalk(reference);
    WalkCalls expected = Observed(system, reference);

    bool walkerBefore = HandleWalkerThreads() > 0;
    double first = TimedWalk(&system, true, &expected, &mismatches);
    TimedWalk(&system, true, &expected, &mismatches);
    TimedWalk(&system, false, &expected, &mismatches);

    std::vector<double> parked, bare;
    int notParked = 0;
    for (int round = 0; round < rounds; round++) {
        for (int turn = 0; turn < 2; turn++) {
            bool product = (turn == 0) == (round % 2 == 0);
            if (product && !WalkerParked()) {
                notParked++;
                continue;
            }
            (product ? parked : bare)
                .push_back(TimedWalk(&system, product, &expected, &mismatches));
        }
    }
    std::string log = ReadBenchLog();
#ifndef HANDLE_WALKER_IDLE_MS
    EndHandleWalker();
#endif
    RemoveSimulatedNetwork();

    double b = Median(bare);
    printf("handle walk over %u simulated handle-table entries, %u candidate handles of running "
           "services"
           " (%u named, %u transport queries), %d rounds after one warm-up walk of each side "
           "(medians)\n",
           (unsigned)system.handles.size(), (unsigned)candidates, (unsigned)expected.named,
           (unsigned)expected.transport, rounds);
    printf("  endpoints recorded: Apache2.2 %lu, MySQL %lu; log of one walk: %u bytes\n",
           (unsigned long)expected.endpoints[0].count, (unsigned long)expected.endpoints[1].count,
           (unsigned)log.size());
    if (mismatches > 0) {
        printf("  %d walks did not make the calls of the bare walk or recorded other endpoints\n",
               mismatches);
    }
    if (notParked > 0 || walkerBefore) {
        printf("  the walker was not parked before %d timed walks (left out); a walker before the "
               "first walk: %s\n",
               notParked, walkerBefore ? "yes" : "no");
    }
    PrintComparison("per walk, walker parked", "MapEndpointsByHandles", parked, "bare loop", bare,
                    Goal);
    printf(
        "  first walk of the process (starts the walker): %.2f ms, %+.2f ms over the bare loop\n",
        first, first - b);
    return mismatches == 0 && notParked == 0 && !parked.empty() ? 0 : 1;
}
