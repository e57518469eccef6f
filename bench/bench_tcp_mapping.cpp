// The port-to-process mapping through the TCP owner table (MapServiceEndpoints,
// with the log open as in the controller) against a bare probe that makes
// only the two GetExtendedTcpTable calls (size query, then fetch) and walks
// the rows for the services' process ids. The web server's service is the
// endpoint service of tests/tools holding a given number of connections of
// its own (each one's connecting side is a row owned by its process), in
// the prefix's real TCP table. Prints, per connection count, how many
// connections the service's process actually holds in the table, the
// medians and their ratio.
//
//   tools/wine-run build/bin/bench_tcp_mapping.exe [ROUNDS] [CONNECTIONS...]
//
// ROUNDS defaults to 3, the connection counts to 1000 and 10000. Where the
// system refuses that many sockets the service holds as many as it could get
// (under Wine both ends of every connection are descriptors of the one Wine
// server, whose descriptor limit then bounds the count). Wine looks up the
// owner of every row by reading the descriptors of every process, so a
// table read grows with the square of the connection count: about 7 s at
// 1000 connections, about 9 minutes at 10000; rounds stop once a count's
// rounds have taken five minutes. Run it alone in a network namespace
// (tools/run-bench does) so that no other program's connections are in the
// table.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "app/controller.h"
#include "network/network.h"
#include "services/services.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

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

// The bare probe: the two calls, then one pass over the rows comparing each
// owner with the process ids of the running services, as the mapping does.
TableCount ProbeTcpTable(const DWORD pids[SERVICE_COUNT], const bool running[SERVICE_COUNT])
{
    TableCount result = { false, 0, 0 };
    DWORD size = 28;
    BYTE *buffer = (BYTE *)malloc(size);
    if (buffer == NULL) return result;
    DWORD status = GetExtendedTcpTable(buffer, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
        free(buffer);
        buffer = (BYTE *)malloc(size);
        if (buffer == NULL) return result;
        status = GetExtendedTcpTable(buffer, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    }
    if (status == NO_ERROR) {
        const MIB_TCPTABLE_OWNER_PID *table = (const MIB_TCPTABLE_OWNER_PID *)buffer;
        result.read = true;
        result.rows = table->dwNumEntries;
        for (DWORD r = 0; r < table->dwNumEntries; r++) {
            for (int i = 0; i < SERVICE_COUNT; i++) {
                if (running[i] && table->table[r].dwOwningPid == pids[i]) result.owned++;
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
    if (ms < 0) return "left out";
    snprintf(text, sizeof(text), "%.1f ms", ms);
    return text;
}

size_t CountOccurrences(const std::string &text, const char *what)
{
    size_t n = 0;
    size_t length = strlen(what);
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + length)) n++;
    return n;
}

// Runs the benchmark for one connection count; false when the service could
// not be set up.
bool BenchConnections(long connections, int rounds)
{
    RemoveAllManagedServices();
    char arguments[128];
    snprintf(arguments, sizeof(arguments), "--listen 127.0.0.1:%u --connections %ld", (unsigned)FreePort(),
             connections);
    TestServiceSetup setup;
    setup.name = "Apache2.2";
    setup.binaryPathOverride = "\"" + TestBinDirectory() + "qvx_endpoint_service.exe\" Apache2.2 " + arguments;
    double start = Now();
    std::string failure = InstallTestService(setup);
    if (failure.empty()) failure = StartTestService("Apache2.2", SERVICE_RUNNING, 600000);
    if (!failure.empty()) {
        fprintf(stderr, "cannot start the service with %ld connections: %s\n", connections, failure.c_str());
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
        if (round > 0 && spent + spent / round > RoundsBudgetMs) break;
        roundsMade++;
        // Alternate which goes first, so neither always meets a warmer table.
        double roundMapping = -1, roundProbe = -1;
        for (int turn = 0; turn < 2; turn++) {
            if ((turn == 0) == (round % 2 == 0)) {
                OpenFreshControllerLog();
                start = Now();
                MapServiceEndpoints();
                double elapsed = Now() - start;
                ControllerLogClose();
                std::string log = ReadControllerLog();
                if (log.find(FallbackLine) != std::string::npos) {
                    mappingFallbacks++;
                } else {
                    mapping.push_back(elapsed);
                    roundMapping = elapsed;
                    mappedRows = CountOccurrences(log, RowLine);
                }
            } else {
                start = Now();
                TableCount count = ProbeTcpTable(pids, running);
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
        printf("  round %d: MapServiceEndpoints %s, bare probe %s\n", round + 1, RoundText(roundMapping).c_str(),
               RoundText(roundProbe).c_str());
        fflush(stdout);
    }
    ServiceTableClose();
    RemoveAllManagedServices();
    if (mappingFallbacks || probeFailures) {
        printf("  rounds left out (the table changed between the two calls): mapping %d, probe %d\n",
               mappingFallbacks, probeFailures);
    }
    if (mapping.empty() || probe.empty()) {
        printf("  no round of one side completed\n");
        return true;
    }
    double m = Median(mapping), p = Median(probe);
    // The listener is one of the service's rows; the rest are its connections.
    printf("  connections of the service in the table: %lu (its rows: mapping %lu, probe %lu; table rows %lu)\n",
           (unsigned long)(probedRows > 0 ? probedRows - 1 : 0), (unsigned long)mappedRows,
           (unsigned long)probedRows, (unsigned long)tableRows);
    printf("  medians of %u and %u rounds (%d of %d made within the budget of %.0f minutes)\n",
           (unsigned)mapping.size(), (unsigned)probe.size(), roundsMade, rounds, RoundsBudgetMs / 60000.0);
    printf("  MapServiceEndpoints %.1f ms, bare probe %.1f ms, ratio %.3f (goal at most %.1f)\n", m, p, m / p,
           Goal);
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    std::vector<long> counts;
    for (int i = 2; i < argc; i++) counts.push_back(atol(argv[i]));
    if (counts.empty()) {
        counts.push_back(1000);
        counts.push_back(10000);
    }
    if (rounds < 1) rounds = 1;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    printf("TCP owner table mapping, %d rounds (medians)\n", rounds);
    int failed = 0;
    for (long connections : counts) {
        if (!BenchConnections(connections, rounds)) failed = 1;
    }
    WSACleanup();
    return failed;
}
