// The port-to-process mapping through the TCP owner table (MapServiceEndpoints,
// with the log open as in the controller) against a bare probe that makes
// only the calls the mapping cannot avoid: the run-time look-up, the two
// GetExtendedTcpTable calls (size query, then fetch) and one pass over the
// rows for the services' process ids, recording their endpoints. Two runs:
//
// - over the simulated TCP table of tests/support (simulated_network.h),
//   whose read costs next to nothing, so that the mapping's own cost per
//   row (the matching, and the log line of every row of a service) shows;
//   its rows are laid out as those of the run below;
// - over the prefix's real TCP table, where the web server's service is the
//   endpoint service (qvx_endpoint_service) holding a given number of connections
//   of its own (each one's connecting side is a row owned by its process).
//   Wine looks up the owner of every row by reading the descriptors of every
//   process, so a table read grows with the square of the connection count:
//   about 7 s at 1000 connections, about 9 minutes at 10000; rounds stop
//   once a count's rounds have taken five minutes. Run it alone in a
//   network namespace (tools/run-bench does) so that no other program's
//   connections are in the table. Where the system refuses that many
//   sockets the service holds as many as it could get.
//
// Prints, per table, the medians, their difference in ms and their ratio.
//
//   tools/wine-run build/bin/bench_tcp_mapping.exe [ROUNDS] [CONNECTIONS...]
//
// ROUNDS defaults to 3. The simulated tables hold 1000, 10000 and 100000
// connections. The real table's connection counts default to 1000 (a run of
// a few minutes); QVX_BENCH_BIG=1 in the environment adds 10000 (an hour),
// and counts given on the command line replace both.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/controller.h"
#include "log/log.h"
#include "network/network.h"
#include "services/services.h"
#include "support/test_services.h"
#include "counted_network.h"

namespace
{

const char *const FallbackLine = "\nUsing enum handle method instead...\n";
const char *const RowLine = "\nSrv Name: ";
const double Goal = 1.1;
// The time a connection count's rounds may take before no further round
// starts (the first one always runs).
const double RoundsBudgetMs = 5 * 60 * 1000.0;

struct TableCount {
    bool read;
    DWORD rows;
    DWORD owned;
};

typedef DWORD(WINAPI *TcpTableFunction)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

// The bare probe: the look-up through the layer the mapping uses (the
// system's GetModuleHandleA and GetProcAddress, or the simulated table's),
// the two calls, then one pass over the rows comparing each owner with the
// process ids of the running services and recording at most five endpoints
// per service, as the mapping does.
TableCount ProbeTcpTable(const DWORD pids[SERVICE_COUNT], const bool running[SERVICE_COUNT],
                         ServiceEndpoints endpoints[SERVICE_COUNT])
{
    TableCount result = { false, 0, 0 };
    memset(endpoints, 0, SERVICE_COUNT * sizeof(ServiceEndpoints));
    TcpTableFunction read = (TcpTableFunction)NetworkCalls.pLookupProcedure(IPHLPAPI_MODULE_NAME,
                                                                            "GetExtendedTcpTable");
    if (read == NULL)
        return result;
    DWORD size = 28;
    BYTE *buffer = (BYTE *)malloc(size);
    if (buffer == NULL)
        return result;
    DWORD status = read(buffer, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
        free(buffer);
        buffer = (BYTE *)malloc(size);
        if (buffer == NULL)
            return result;
        status = read(buffer, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    }
    if (status == NO_ERROR) {
        const MIB_TCPTABLE_OWNER_PID *table = (const MIB_TCPTABLE_OWNER_PID *)buffer;
        result.read = true;
        result.rows = table->dwNumEntries;
        for (DWORD r = 0; r < table->dwNumEntries; r++) {
            for (int i = 0; i < SERVICE_COUNT; i++) {
                if (!running[i] || table->table[r].dwOwningPid != pids[i])
                    continue;
                result.owned++;
                ServiceEndpoints &record = endpoints[i];
                if (record.count == ENDPOINT_SLOTS)
                    continue;
                record.slots[record.count].address = table->table[r].dwLocalAddr;
                record.slots[record.count++].port = ntohs((u_short)table->table[r].dwLocalPort);
            }
        }
    }
    free(buffer);
    return result;
}

// A loopback port that was free a moment ago.
USHORT FreePort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, (sockaddr *)&address, sizeof(address));
    int length = sizeof(address);
    getsockname(s, (sockaddr *)&address, &length);
    closesocket(s);
    return ntohs(address.sin_port);
}

// A round's time, or why it has none.
std::string RoundText(double ms)
{
    char text[64];
    if (ms < 0)
        return "left out";
    snprintf(text, sizeof(text), "%.1f ms", ms);
    return text;
}

size_t CountOccurrences(const std::string &text, const char *what)
{
    size_t n = 0;
    size_t length = strlen(what);
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + length))
        n++;
    return n;
}

// Runs the benchmark for one connection count; false when the service could
// not be set up.
bool BenchConnections(long connections, int rounds)
{
    RemoveAllManagedServices();
    char arguments[128];
    snprintf(arguments, sizeof(arguments), "--listen 127.0.0.1:%u --connections %ld",
             (unsigned)FreePort(), connections);
    std::string program = TestBinDirectory() + "qvx_endpoint_service.exe";
    double start = Now();
    std::string failure =
        InstallTestService("Apache2.2", arguments, SERVICE_DEMAND_START, "", program);
    if (failure.empty())
        failure = StartTestService("Apache2.2", SERVICE_RUNNING, 600000);
    if (!failure.empty()) {
        fprintf(stderr, "cannot start the service with %ld connections: %s\n", connections,
                failure.c_str());
        return false;
    }
    double setUp = Now() - start;

    if (ServiceTableOpen() != 1) {
        fprintf(stderr, "cannot open the service table\n");
        RemoveAllManagedServices();
        return false;
    }
    DWORD pids[SERVICE_COUNT];
    bool running[SERVICE_COUNT];
    for (int i = 0; i < SERVICE_COUNT; i++) {
        const ServiceEntry &entry = ServiceTable.entries[i];
        running[i] = entry.bInstalled == 1 && entry.ssStatus.dwCurrentState == SERVICE_RUNNING;
        pids[i] = entry.ssStatus.dwProcessId;
    }
    printf("connections asked for: %ld, service set up in %.1f s\n", connections, setUp / 1000.0);
    fflush(stdout);

    std::vector<double> mapping, probe;
    int mappingFallbacks = 0, probeFailures = 0;
    size_t mappedRows = 0;
    DWORD probedRows = 0;
    DWORD tableRows = 0;
    double roundsStart = Now();
    int roundsMade = 0;
    for (int round = 0; round < rounds; round++) {
        // Past the budget no further round starts: at ten thousand
        // connections one round alone takes more than half an hour here.
        double spent = Now() - roundsStart;
        if (round > 0 && spent + spent / round > RoundsBudgetMs)
            break;
        roundsMade++;
        // Alternate which goes first, so neither always meets a warmer table.
        double roundMapping = -1, roundProbe = -1;
        for (int turn = 0; turn < 2; turn++) {
            if ((turn == 0) == (round % 2 == 0)) {
                OpenBenchLog();
                start = Now();
                MapServiceEndpoints();
                double elapsed = Now() - start;
                ControllerLogClose();
                std::string log = ReadBenchLog();
                if (log.find(FallbackLine) != std::string::npos) {
                    mappingFallbacks++;
                } else {
                    mapping.push_back(elapsed);
                    roundMapping = elapsed;
                    mappedRows = CountOccurrences(log, RowLine);
                }
            } else {
                start = Now();
                ServiceEndpoints endpoints[SERVICE_COUNT];
                TableCount count = ProbeTcpTable(pids, running, endpoints);
                double elapsed = Now() - start;
                if (!count.read) {
                    probeFailures++;
                } else {
                    probe.push_back(elapsed);
                    roundProbe = elapsed;
                    probedRows = count.owned;
                    tableRows = count.rows;
                }
            }
        }
        printf("  round %d: MapServiceEndpoints %s, bare probe %s\n", round + 1,
               RoundText(roundMapping).c_str(), RoundText(roundProbe).c_str());
        fflush(stdout);
    }
    ServiceTableClose();
    RemoveAllManagedServices();
    if (mappingFallbacks || probeFailures) {
        printf(
            "  rounds left out (the table changed between the two calls): mapping %d, probe %d\n",
            mappingFallbacks, probeFailures);
    }
    if (mapping.empty() || probe.empty()) {
        printf("  no round of one side completed\n");
        return true;
    }
    // The listener is one of the service's rows; the rest are its connections.
    printf("  connections of the service in the table: %lu (its rows: mapping %lu, probe %lu; "
           "table rows %lu)\n",
           (unsigned long)(probedRows > 0 ? probedRows - 1 : 0), (unsigned long)mappedRows,
           (unsigned long)probedRows, (unsigned long)tableRows);
    printf("  medians of %u and %u rounds (%d of %d made within the budget of %.0f minutes)\n",
           (unsigned)mapping.size(), (unsigned)probe.size(), roundsMade, rounds,
           RoundsBudgetMs / 60000.0);
    PrintComparison("real table", "MapServiceEndpoints", mapping, "bare probe", probe, Goal);
    return true;
}

// The same comparison over a simulated table of the given number of the web
// server's connections, laid out as the real table of the run below: the
// listener and the connecting end of every connection are rows of its
// process, the accepted end a row without an owner (as Wine reports it),
// among a listener of the database's and rows of other processes. Checks that both sides make the same calls and record the
// same endpoints.
void BenchSimulatedTable(long connections, int rounds)
{
    const DWORD webPid = 1200, databasePid = 1300, stoppedPid = 1400;
    SimulatedNetwork system = SimulatedNetwork();
    system.hasTcpTable = true;
    for (int k = 0; k < 40; k++) {
        system.tcpRows.push_back(
            SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "10.0.0.2", (USHORT)(1024 + k), 500 + 4 * k));
    }
    system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", 8080, stoppedPid));
    system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", 3306, databasePid));
    system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", 80, webPid));
    for (long k = 0; k < connections; k++) {
        system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "127.0.0.1", 80, 0));
        system.tcpRows.push_back(
            SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "127.0.0.1", (USHORT)(20000 + k % 40000), webPid));
    }
    const DWORD pids[SERVICE_COUNT] = { webPid, databasePid, stoppedPid, 0 };
    const DWORD states[SERVICE_COUNT] = { SERVICE_RUNNING, SERVICE_RUNNING, SERVICE_STOPPED, 0 };
    bool running[SERVICE_COUNT];
    for (int i = 0; i < SERVICE_COUNT; i++) {
        ServiceEntry &entry = ServiceTable.entries[i];
        entry.bInstalled = i < 3;
        memset(&entry.ssStatus, 0, sizeof(entry.ssStatus));
        entry.ssStatus.dwCurrentState = states[i];
        entry.ssStatus.dwProcessId = pids[i];
        running[i] = states[i] == SERVICE_RUNNING;
    }
    std::vector<double> mapping, probe;
    int mismatches = 0;
    for (int round = -1; round < rounds; round++) { // round -1: the warm-up of both
        for (int turn = 0; turn < 2; turn++) {
            InstallCountedNetwork(&system);
            ServiceEndpoints endpoints[SERVICE_COUNT];
            bool product = (turn == 0) == (round % 2 == 0);
            double start = 0, elapsed = 0;
            if (product) {
                OpenBenchLog();
                start = Now();
                MapServiceEndpoints();
                elapsed = Now() - start;
                ControllerLogClose();
                memcpy(endpoints, EndpointTable, sizeof(endpoints));
            } else {
                start = Now();
                ProbeTcpTable(pids, running, endpoints);
                elapsed = Now() - start;
            }
            static ServiceEndpoints reference[SERVICE_COUNT];
            if (round == -1 && turn == 0) {
                memcpy(reference, endpoints, sizeof(reference));
            } else if (memcmp(reference, endpoints, sizeof(reference)) != 0 ||
                       CallCounts().lookups != 1) {
                mismatches++;
            }
            if (round >= 0)
                (product ? mapping : probe).push_back(elapsed);
        }
    }
    RemoveSimulatedNetwork();
    double m = Median(mapping), p = Median(probe);
    size_t owned = 1 + (size_t)connections;
    printf("simulated table: %u rows, %u of them the web server's (medians of %d rounds)\n",
           (unsigned)system.tcpRows.size(), (unsigned)owned, rounds);
    if (mismatches)
        printf("  %d runs did not make the same calls or record the same endpoints\n", mismatches);
    PrintComparison("one mapping", "MapServiceEndpoints", mapping, "bare probe", probe, 0);
    printf("  the mapping's own cost: %.2f us per row of a service\n",
           1000.0 * (m - p) / (double)owned);
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    if (rounds < 1)
        rounds = 1;
    std::vector<long> counts;
    for (int i = 2; i < argc; i++)
        counts.push_back(atol(argv[i]));
    if (counts.empty()) {
        counts.push_back(1000);
        const char *big = getenv("QVX_BENCH_BIG");
        if (big != NULL && *big != '\0' && strcmp(big, "0") != 0)
            counts.push_back(10000);
    }
    printf("TCP owner table mapping, %d rounds (medians)\n", rounds);
    static const long simulated[] = { 1000, 10000, 100000 };
    for (long connections : simulated)
        BenchSimulatedTable(connections, rounds);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    int failed = 0;
    for (long connections : counts) {
        if (!BenchConnections(connections, rounds))
            failed = 1;
    }
    WSACleanup();
    return failed;
}
