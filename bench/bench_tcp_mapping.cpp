// The port-to-process mapping through the TCP owner table (MapServiceEndpoints,
// with the log open as in the controller) against a probe that makes only
// the calls the mapping cannot avoid (the run-time look-up, the two
// GetExtendedTcpTable calls, size query then fetch, and one pass over the
// rows for the services' process ids, recording their endpoints) and writes
// the lines the mapping must write: its opening line and one line per row of
// a service, byte for byte the same, to the same file. Two runs:
//
// - over the simulated TCP table of tests/support (simulated_network.h),
//   whose read costs next to nothing, so that the cost per row shows; its
//   rows are laid out as those of the run below. Beside the comparison,
//   the mapping against the same probe without its lines gives the
//   mapping's own cost per row of a service (the matching and the line);
// - over the prefix's real TCP table, where the web server's service is the
//   bench service (qvx_endpoint_service) holding a given number of
//   connections of its own (each one's connecting side is a row owned by
//   its process). Wine looks up the owner of every row by reading the
//   descriptors of every process of the prefix, so a table read grows with
//   the square of the connection count: 20 to 50 s at 1000 connections here
//   (the more the machine's other work), many minutes at 10000; rounds stop
//   once a count's rounds have taken five minutes. Run it alone in a
//   network of its own (tools/wine-run makes one) so that no other
//   program's connections are in the table. Where the system refuses that
//   many sockets the service holds as many as it could get.
//
// Each side gets one untimed run first; then the rounds alternate which
// side goes first. Both sides are checked to make the same calls (the
// simulated table) or to find the same rows (the real one), and to write
// the same log. Prints, per table, the medians, their difference in ms and
// their ratio.
//
//   tools/wine-run build/bin/bench_tcp_mapping.exe [ROUNDS] [CONNECTIONS...]
//
// ROUNDS defaults to 5 for the real table and is at least 11, 11 and 5 for
// the simulated ones, which hold 1000, 10000 and 100000 connections. The
// real table's connection counts default to 1000 (a run of a few minutes);
// QVX_BENCH_BIG=1 in the environment adds 10000 (an hour), and counts given
// on the command line replace both.
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
#include "support/test_support.h"
#include "counted_network.h"

namespace
{

const char *const FallbackLine = "\nUsing enum handle method instead...\n";
const char *const RowLine = "\nSrv Name: ";
const char *const ServiceNames[SERVICE_COUNT] = { "Apache2.2", "MySQL", "Tomcat5", "W3svc" };
const double RealGoal = 1.1;
const double SimulatedGoal = 1.2;
// The time a connection count's rounds may take before no further round
// starts (the first one always runs).
const double RoundsBudgetMs = 5 * 60 * 1000.0;

// The sides of a comparison.
enum Side {
    Mapping,
    ProbeWithLines,
    ProbeWithoutLines
};

struct TableCount {
    bool read;
    DWORD rows;
    DWORD owned;
};

typedef DWORD(WINAPI *TcpTableFunction)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

// The probe: the look-up through the layer the mapping uses (the system's
// GetModuleHandleA and GetProcAddress, or the simulated table's), the two
// calls, then one pass over the rows comparing each owner with the process
// ids of the running services and recording at most five endpoints per
// service, as the mapping does; with a log file, the mapping's opening line
// and its line for every row of a service.
TableCount ProbeTcpTable(const DWORD pids[SERVICE_COUNT], const bool running[SERVICE_COUNT],
                         FILE *log, ServiceEndpoints endpoints[SERVICE_COUNT])
{
    TableCount result = { false, 0, 0 };
    memset(endpoints, 0, SERVICE_COUNT * sizeof(ServiceEndpoints));
    if (log != NULL)
        fputs("\nMapping Process IDs to IP:PORTs...", log);
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
            const MIB_TCPROW_OWNER_PID &row = table->table[r];
            for (int i = 0; i < SERVICE_COUNT; i++) {
                if (!running[i] || row.dwOwningPid != pids[i])
                    continue;
                result.owned++;
                u_short port = ntohs((u_short)row.dwLocalPort);
                if (log != NULL) {
                    fprintf(log,
                            "\nSrv Name: %s\nSrv PID (via tcp): %d\nState: %d\nLocalAddr: "
                            "%d\nLocalPort: %d\n",
                            ServiceNames[i], (int)row.dwOwningPid, (int)row.dwState,
                            (int)row.dwLocalAddr, (int)port);
                }
                ServiceEndpoints &record = endpoints[i];
                if (record.count == ENDPOINT_SLOTS)
                    continue;
                record.slots[record.count].address = row.dwLocalAddr;
                record.slots[record.count++].port = port;
            }
        }
    }
    free(buffer);
    return result;
}

size_t CountOccurrences(const std::string &text, const char *what)
{
    size_t n = 0;
    size_t length = strlen(what);
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + length))
        n++;
    return n;
}

// One run of a side: its time, whether it read the table (the mapping did
// not fall back to the handle walk), the rows of the services it found, the
// endpoints it recorded and the log it wrote.
struct SideRun {
    double ms;
    bool read;
    size_t owned;
    ServiceEndpoints endpoints[SERVICE_COUNT];
    std::string log;
};

SideRun RunSide(int side, const DWORD pids[SERVICE_COUNT], const bool running[SERVICE_COUNT])
{
    SideRun run;
    memset(run.endpoints, 0, sizeof(run.endpoints));
    if (side == Mapping) {
        OpenBenchLog();
        double start = Now();
        MapServiceEndpoints();
        run.ms = Now() - start;
        ControllerLogClose();
        memcpy(run.endpoints, EndpointTable, sizeof(run.endpoints));
        run.log = ReadBenchLog();
        run.read = run.log.find(FallbackLine) == std::string::npos;
        run.owned = CountOccurrences(run.log, RowLine);
        return run;
    }
    FILE *log = side == ProbeWithLines ? OpenProbeLog() : NULL;
    double start = Now();
    TableCount count = ProbeTcpTable(pids, running, log, run.endpoints);
    run.ms = Now() - start;
    if (log != NULL) {
        fclose(log);
        run.log = ReadBenchLog();
    }
    run.read = count.read;
    run.owned = count.owned;
    return run;
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

// Runs the benchmark over the real table for one connection count; false
// when the service could not be set up or the sides did not agree.
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

    std::vector<double> times[2];
    int leftOut[2] = { 0, 0 };
    int mismatches = 0;
    size_t owned[2] = { 0, 0 };
    std::string mappingLog;
    double roundsStart = 0;
    int roundsMade = 0;
    for (int round = -1; round < rounds; round++) { // round -1: the warm-up of each side
        // Past the budget no further round starts: at ten thousand
        // connections one round alone takes more than half an hour here.
        if (round == 0)
            roundsStart = Now();
        double spent = Now() - roundsStart;
        if (round > 0 && spent + spent / round > RoundsBudgetMs)
            break;
        if (round >= 0)
            roundsMade++;
        // Alternate which goes first, so neither always meets a warmer table.
        double roundTimes[2] = { -1, -1 };
        for (int turn = 0; turn < 2; turn++) {
            int side = (turn == 0) == (round % 2 == 0) ? Mapping : ProbeWithLines;
            SideRun run = RunSide(side, pids, running);
            if (!run.read) {
                leftOut[side]++;
                continue;
            }
            owned[side] = run.owned;
            // The probe's log against the mapping's last one.
            if (side == Mapping)
                mappingLog = run.log;
            else if (!mappingLog.empty() && run.log != mappingLog)
                mismatches++;
            if (round >= 0) {
                times[side].push_back(run.ms);
                roundTimes[side] = run.ms;
            }
        }
        if (round >= 0) {
            printf("  round %d: MapServiceEndpoints %s, probe %s\n", round + 1,
                   RoundText(roundTimes[Mapping]).c_str(),
                   RoundText(roundTimes[ProbeWithLines]).c_str());
            fflush(stdout);
        }
    }
    ServiceTableClose();
    RemoveAllManagedServices();
    if (leftOut[Mapping] || leftOut[ProbeWithLines]) {
        printf("  runs left out (the table changed between the two calls): mapping %d, probe %d\n",
               leftOut[Mapping], leftOut[ProbeWithLines]);
    }
    if (mismatches)
        printf("  %d runs of the probe did not write the mapping's log\n", mismatches);
    // The listener is one of the service's rows; the rest are its connections.
    printf("  connections of the service in the table: %lu (its rows: mapping %lu, probe %lu)\n",
           (unsigned long)(owned[ProbeWithLines] > 0 ? owned[ProbeWithLines] - 1 : 0),
           (unsigned long)owned[Mapping], (unsigned long)owned[ProbeWithLines]);
    printf("  medians of %u and %u rounds after one warm-up run of each side (%d of %d made "
           "within the budget of %.0f minutes)\n",
           (unsigned)times[Mapping].size(), (unsigned)times[ProbeWithLines].size(), roundsMade,
           rounds, RoundsBudgetMs / 60000.0);
    PrintComparison("real table", "MapServiceEndpoints", times[Mapping],
                    "probe writing the same lines", times[ProbeWithLines], RealGoal);
    return mismatches == 0 && owned[Mapping] == owned[ProbeWithLines];
}

// The same comparison over a simulated table of the given number of the web
// server's connections, laid out as the real table of the run below: the
// listener and the connecting end of every connection are rows of its
// process, the accepted end a row without an owner (as Wine reports it),
// among a listener of the database's and rows of other processes; and the
// mapping against the probe without its lines, for its own cost per row.
// Checks that every side makes the same calls, records the same endpoints
// and, where it writes the log, writes the same. False when they did not.
bool BenchSimulatedTable(long connections, int rounds)
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
    const int sides = 3;
    std::vector<double> times[sides];
    int callMismatches = 0, logMismatches = 0;
    ServiceEndpoints reference[SERVICE_COUNT];
    std::string referenceLog;
    // Round -1 is the warm-up of each side, the mapping first: the reference.
    for (int round = -1; round < rounds; round++) {
        for (int turn = 0; turn < sides; turn++) {
            int side = (round + 1 + turn) % sides;
            InstallCountedNetwork(&system);
            SideRun run = RunSide(side, pids, running);
            if (round == -1 && side == Mapping) {
                memcpy(reference, run.endpoints, sizeof(reference));
                referenceLog = run.log;
            } else {
                if (memcmp(reference, run.endpoints, sizeof(reference)) != 0 ||
                    CallCounts().lookups != 1) {
                    callMismatches++;
                }
                if (side != ProbeWithoutLines && run.log != referenceLog)
                    logMismatches++;
            }
            if (round >= 0)
                times[side].push_back(run.ms);
        }
    }
    RemoveSimulatedNetwork();
    size_t owned = 1 + (size_t)connections;
    printf("simulated table: %u rows, %u of them the web server's (medians of %d rounds after one "
           "warm-up run of each side, each round starting with the next side)\n",
           (unsigned)system.tcpRows.size(), (unsigned)owned, rounds);
    if (callMismatches)
        printf("  %d runs did not make the same calls or record the same endpoints\n",
               callMismatches);
    if (logMismatches)
        printf("  %d runs did not write the mapping's log\n", logMismatches);
    PrintComparison("one mapping", "MapServiceEndpoints", times[Mapping],
                    "probe writing the same lines", times[ProbeWithLines], SimulatedGoal);
    double m = Median(times[Mapping]);
    double withLines = Median(times[ProbeWithLines]);
    double bare = Median(times[ProbeWithoutLines]);
    printf("  the mapping's own cost: %.2f us per row of a service (%.2f ms over the probe without "
           "its lines, %.2f ms); the line alone, as the probe writes it: %.2f us per row\n",
           1000.0 * (m - bare) / (double)owned, m - bare, bare,
           1000.0 * (withLines - bare) / (double)owned);
    fflush(stdout);
    return callMismatches == 0 && logMismatches == 0;
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 5;
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
    printf("TCP owner table mapping (medians)\n");
    int failed = 0;
    // A mapping of the largest table takes seconds, and its median keeps
    // still over fewer rounds.
    static const struct {
        long connections;
        int rounds;
    } simulated[] = { { 1000, 11 }, { 10000, 11 }, { 100000, 5 } };
    for (const auto &table : simulated) {
        if (!BenchSimulatedTable(table.connections, std::max(rounds, table.rounds)))
            failed = 1;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    for (long connections : counts) {
        if (!BenchConnections(connections, rounds))
            failed = 1;
    }
    WSACleanup();
    return failed;
}
