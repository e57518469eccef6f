// Network endpoints: the TCP mapping on the prefix's table (a test service) and on a simulated one; the
// handle walk, its walker and its log on the simulated system; the address texts, the IP and Port field,
// the base URL and the IPv4 address list.
#include <winsock2.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "app/controller.h"
#include "network/network.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/simulated_network.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {
using std::string;
using Strings = std::vector<string>;
const string Head = "\nMapping Process IDs to IP:PORTs...", Walk = "\nUsing enum handle method instead...\n";
const string Fallback = Head + "\nGetProcAddress (GetExtendedTcpTable) failed (127), unable to load DLL.\n" + Walk;
const string Empty = " 0.0.0.0:0";
const string Tcp = "\\Device\\Tcp", Udp = "\\Device\\Udp";

string Srv(const char *name, DWORD pid, DWORD state, long address, int port)
{
    return "\nSrv Name: " + string(name) + "\nSrv PID (via tcp): " + std::to_string(pid) + "\nState: " +
           std::to_string(state) + "\nLocalAddr: " + std::to_string(address) + "\nLocalPort: " + std::to_string(port) + "\n";
}
string Named(const string &name) { return "\nObject Name: " + name + "\n"; }
string Ip(string dotted, int port) { return dotted.resize(16, ' '), "IP:\t\t" + dotted + "\nPort:\t\t" + std::to_string(port) + "\n"; }
string Found(int n) { return Fallback + "\nFound " + std::to_string(n) + " Handles on System...\n"; }
string Record(int i)
{
    string text = std::to_string(EndpointTable[i].count) + ":";
    char dotted[IP_ADDRESS_TEXT_SIZE];
    for (const Endpoint &slot : EndpointTable[i].slots)
        text += string(" ") + (FormatIpAddress(dotted, slot.address), dotted) + ":" + std::to_string(slot.port);
    return text;
}
SimulatedHandle H(DWORD pid, USHORT value, const wchar_t *name, const char *address = "0.0.0.0", USHORT port = 0,
                  BYTE type = 28)
{
    SimulatedHandle h;
    h.processId = pid, h.handle = value, h.name = name, h.address = inet_addr(address), h.port = port, h.typeNumber = type;
    return h;
}
void Set(int i, int installed, DWORD state, DWORD pid = 0)
{
    ServiceTable.entries[i].bInstalled = installed;
    ServiceTable.entries[i].ssStatus.dwCurrentState = state, ServiceTable.entries[i].ssStatus.dwProcessId = pid;
}
template <typename F> bool WaitFor(F done) { for (int i = 0; i < 500 && !done(); i++) Sleep(10); return done(); }

class NetworkTest : public ::testing::Test {
protected:
    SimulatedNetwork system;
    void SetUp() override { OpenFreshControllerLog(); for (int i = 0; i < SERVICE_COUNT; i++) Set(i, 0, 0); }
    void TearDown() override
    {
        RemoveSimulatedNetwork();
        ControllerLogClose();
        EXPECT_EQ(Strings(), system.faults);
        EXPECT_EQ(0, system.openObjects) << "process or duplicated handles left open";
    }
    int Map() { InstallSimulatedNetwork(&system); return MapServiceEndpoints(); }
    string Log() { ControllerLogClose(); string log = ReadControllerLog(); OpenFreshControllerLog(); return log; }
};

TEST_F(NetworkTest, PrefixTcpTableMapsARunningServicesListenersInTableOrder)
{
    TestServiceSetup apache;
    apache.name = "Apache2.2", apache.runArguments = "--listen 127.0.0.1:18081 --listen 0.0.0.0:18080";
    ASSERT_EQ("", InstallTestService(apache));
    ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 30000));
    ASSERT_EQ(1, ServiceTableOpen());
    DWORD pid = ServiceTable.entries[0].ssStatus.dwProcessId;
    Log();
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("2: 0.0.0.0:18080 127.0.0.1:18081" + Empty + Empty + Empty, Record(0));
    EXPECT_EQ(Head + Srv("Apache2.2", pid, MIB_TCP_STATE_LISTEN, 0, 18080) +
              Srv("Apache2.2", pid, MIB_TCP_STATE_LISTEN, 16777343, 18081), Log());
    ServiceTable.entries[0].ssStatus.dwCurrentState = SERVICE_STOP_PENDING;
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("0:" + Empty + Empty + Empty + Empty + Empty, Record(0)) << "only a running service is mapped";
    EXPECT_EQ(Head, Log());
    ServiceTableClose();
    RemoveAllManagedServices();
}

// Around the 28-byte probe: one call, or one repeat at the size written back; failures fall back.
TEST_F(NetworkTest, TcpTableIsSizedByOneProbeAndFailuresFallBackToTheHandleWalk)
{
    const struct { size_t rows; std::vector<DWORD> forced, sizes; const char *failure; } cases[] = {
        { 0, {}, { 28 }, NULL }, { 1, {}, { 28 }, NULL }, { 2, {}, { 28, 52 }, NULL }, { 3, {}, { 28, 76 }, NULL },
        { 2, { 87 }, { 28 }, "\nGetExtendedTcpTable() failed(87).\n" },
        { 2, { 0, 122 }, { 28, 52 }, "\nGetExtendedTcpTable() failed(122).\n" } };
    Set(0, 1, SERVICE_RUNNING, 1200);
    system.tcpTableAvailable = true;
    for (const auto &c : cases) {
        system.tcpRows.clear(), system.tcpTableSizes.clear(), system.tcpForcedResults = c.forced;
        string expected = Head;
        for (size_t k = 0; k < c.rows; k++) {
            system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", (USHORT)(80 + k), 1200));
            if (!c.failure) expected += Srv("Apache2.2", 1200, MIB_TCP_STATE_LISTEN, 0, (int)(80 + k));
        }
        EXPECT_EQ(1, Map()) << c.rows;
        EXPECT_EQ(c.sizes, system.tcpTableSizes) << c.rows;
        EXPECT_EQ(c.failure ? expected + c.failure + Walk + "\nFound 0 Handles on System...\n" : expected, Log());
    }
}

// Raw values: the signed network-order address, the port's low 16 bits; six and more rows of one service
// are logged, five recorded; rows of pid 0 and of services stopped or not installed are not theirs.
TEST_F(NetworkTest, TcpRowsAreRecordedAsReadInTableOrderIntoFiveSlots)
{
    Set(0, 1, SERVICE_RUNNING, 1200), Set(1, 1, SERVICE_RUNNING, 1300), Set(2, 1, SERVICE_STOPPED, 1400);
    Set(3, 0, SERVICE_RUNNING, 1500);
    system.tcpTableAvailable = true;
    system.tcpRows = { SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", 135, 0),
                       SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "192.168.1.200", 80, 1200) };
    system.tcpRows[1].dwLocalPort |= 0xABCD0000;
    for (USHORT k = 0; k < 6; k++) system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "127.0.0.1", 9000 + k, 1200));
    for (DWORD pid : { 1300, 1400, 1500 }) system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "10.0.0.2", 3306, pid));
    EXPECT_EQ(1, Map());
    EXPECT_EQ("5: 192.168.1.200:80 127.0.0.1:9000 127.0.0.1:9001 127.0.0.1:9002 127.0.0.1:9003", Record(0));
    EXPECT_EQ("1: 10.0.0.2:3306" + Empty + Empty + Empty + Empty, Record(1));
    EXPECT_EQ(Record(2), Record(3));
    string expected = Head + Srv("Apache2.2", 1200, MIB_TCP_STATE_ESTAB, -939415360, 80);
    for (int k = 0; k < 6; k++) expected += Srv("Apache2.2", 1200, MIB_TCP_STATE_ESTAB, 16777343, 9000 + k);
    EXPECT_EQ(expected + Srv("MySQL", 1300, MIB_TCP_STATE_LISTEN, 33554442, 3306), Log());
}

// Exact device names, file types only, running services only, failures that cost only their handle, and
// a wide name converted to the ANSI code page (a Latin-1 letter kept, a character outside it as "?").
TEST_F(NetworkTest, HandleWalkQueriesTheTransportOfExactDeviceNamesOfRunningServices)
{
    Set(0, 1, SERVICE_RUNNING, 1200), Set(1, 1, SERVICE_RUNNING, 1300), Set(2, 1, SERVICE_STOPPED, 1400);
    Set(3, 1, SERVICE_RUNNING, 1600);
    system.unopenableProcesses = { 1600 };
    system.handles = { H(1200, 0x10, L"\\Device\\Tcp", "0.0.0.0", 80), H(1200, 0x14, L"\\Device\\Tcp", "0.0.0.0", 81, 5),
                       H(1300, 0x20, L"\\Device\\Udp", "0.0.0.0", 53, 26), H(1300, 0x24, L"\\device\\tcp"),
                       H(1300, 0x28, L"\\Device\\Tcp6"), H(999, 0x10, L"\\Device\\Tcp"), H(1400, 0x10, L"\\Device\\Tcp"),
                       H(1200, 0x30, L"\\Device\\Caf\u00e9\u0416"), H(1200, 0x34, L"\\Device\\Tcp"),
                       H(1200, 0x38, L"\\Device\\Tcp"), H(1200, 0x3C, L"\\Device\\Tcp"), H(1200, 0x40, L"\\Device\\Tcp"),
                       H(1600, 0x10, L"\\Device\\Tcp"), H(1300, 0x2C, L"\\Device\\Udp", "127.0.0.1", 3306) };
    system.handles[8].duplicateFails = true, system.handles[9].nameBehaviour = NameFails;
    system.handles[10].nameBehaviour = NameAbsent, system.handles[11].transport = TransportFails;
    memset(EndpointTable, 0x5A, sizeof(EndpointTable));
    EXPECT_EQ(1, Map());
    EXPECT_EQ("1: 0.0.0.0:80" + Empty + Empty + Empty + Empty, Record(0));
    EXPECT_EQ("2: 0.0.0.0:53 127.0.0.1:3306" + Empty + Empty + Empty, Record(1));
    EXPECT_EQ(Record(2), Record(3));
    EXPECT_EQ((std::vector<DWORD>{ 1200, 1300, 1300, 1300, 1200, 1200, 1200, 1200, 1200, 1600, 1300 }), system.openedProcesses);
    EXPECT_EQ((std::vector<size_t>{ 0, 2, 3, 4, 7, 9, 10, 11, 13 }), system.namedHandles);
    EXPECT_EQ((std::vector<size_t>{ 0, 2, 11, 13 }), system.transportQueries);
    EXPECT_EQ((std::vector<ULONG>{ 20, 4 + 16 * 14 }), system.handleTableLengths);
    EXPECT_EQ(Found(14) + Named(Tcp) + Ip("0.0.0.0", 80) + Named(Udp) + Ip("0.0.0.0", 53) + Named("\\device\\tcp") +
              Named("\\Device\\Tcp6") + Named("\\Device\\Caf\xe9?") + Named(Tcp) +
              "\nNtDeviceIoControlFile() failed(50).\n" + Named(Udp) + Ip("127.0.0.1", 3306), Log());
}

// Around the 20-byte probe; a table that grows between the calls (no third call); missing functions.
TEST_F(NetworkTest, HandleTableIsSizedByOneProbeAndMissingFunctionsAreLogged)
{
    const struct { size_t entries; bool grows; const char *missing; std::vector<ULONG> lengths; int result; string log; } cases[] = {
        { 0, false, "", { 20 }, 1, Found(0) }, { 1, false, "", { 20 }, 1, Found(1) + Named(Tcp) + Ip("0.0.0.0", 80) },
        { 2, false, "", { 20, 36 }, 1, Found(2) + Named(Tcp) + Ip("0.0.0.0", 80) + Named(Tcp) + Ip("0.0.0.0", 81) },
        { 2, true, "", { 20, 36 }, 0, Fallback + "\nNtQuerySystemInformation() failed (24) with NTSTATUS c0000004.\n" },
        { 1, false, "NtQuerySystemInformation", {}, 0,
          Fallback + "GetProcAddress (NtQuerySystemInformation) failed (127), unable to load DLL.\n" },
        { 1, false, "NtQueryObject", { 20 }, 1, Found(1) + "GetProcAddress (NtQueryObject) failed (127), unable to load DLL.\n" },
        { 1, false, "NtDeviceIoControlFile", { 20 }, 1,
          Found(1) + Named(Tcp) + "GetProcAddress (NtDeviceIoControlFile) failed (127), unable to load DLL.\n" } };
    Set(0, 1, SERVICE_RUNNING, 1200);
    for (const auto &c : cases) {
        system.handles.clear(), system.handleTableLengths.clear();
        for (USHORT k = 0; k < c.entries; k++) system.handles.push_back(H(1200, 4 + 4 * k, L"\\Device\\Tcp", "0.0.0.0", 80 + k));
        system.handleTableGrowsBetweenCalls = c.grows, system.missingProcedures = { c.missing };
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.result, Map()) << c.entries << c.missing;
        EXPECT_EQ(c.lengths, system.handleTableLengths) << c.entries << c.missing;
        EXPECT_EQ(c.log, Log()) << c.entries << c.missing;
    }
}

// Name queries that never return and transport requests left pending are given up and counted; at 16
// stuck the walk stops with a line of its own; once they come back the count falls and walks go on; one
// walker stays parked between walks and ends at tear-down.
TEST_F(NetworkTest, StuckQueriesAreGivenUpCountedAndStopTheWalkAtTheLimit)
{
    Set(0, 1, SERVICE_RUNNING, 1200), Set(2, 1, SERVICE_RUNNING, 1400);
    system.handles = { H(1200, 0x10, L"\\Device\\NamedPipe\\a"), H(1200, 0x14, L"\\Device\\Tcp", "0.0.0.0", 80),
                       H(1200, 0x18, L"\\Device\\Tcp", "0.0.0.0", 8080), H(1200, 0x1C, L"\\Device\\Udp", "0.0.0.0", 161),
                       H(1400, 0x10, L"\\Device\\NamedPipe\\t"), H(1400, 0x14, L"\\Device\\Tcp", "127.0.0.1", 8080) };
    system.handles[0].nameBehaviour = system.handles[4].nameBehaviour = NameBlocks;
    system.handles[2].transport = TransportPendingCompletes, system.handles[3].transport = TransportPendingForever;
    EXPECT_EQ(1, Map());
    EXPECT_EQ("2: 0.0.0.0:80 0.0.0.0:8080" + Empty + Empty + Empty, Record(0));
    EXPECT_EQ("1: 127.0.0.1:8080" + Empty + Empty + Empty + Empty, Record(2));
    EXPECT_EQ(3, StalledHandleWalkers()) << "two walkers given up, one request left with the driver";
    EXPECT_EQ(1, system.cancelCalls);
    EXPECT_EQ(Found(6) + Named(Tcp) + Ip("0.0.0.0", 80) + Named(Tcp) + Ip("0.0.0.0", 8080) + Named(Udp) +
              "\nNtDeviceIoControlFile() failed(997).\n" + Named(Tcp) + Ip("127.0.0.1", 8080), Log());
    for (SimulatedHandle &h : system.handles) h.typeNumber = h.nameBehaviour == NameBlocks ? 28 : 5;
    for (int k = 0; k < 11; k++) system.handles.push_back(system.handles[0]);
    system.handles.push_back(H(1200, 0x20, L"\\Device\\Tcp", "0.0.0.0", 81));
    EXPECT_EQ(0, MapServiceEndpoints());
    EXPECT_EQ(0u, EndpointTable[0].count);
    EXPECT_EQ(Found(18) + "\nHandle walk stopped, 16 queries stuck.\n", Log());
    ReleaseBlockedQueries(), CompletePendingTransportQueries();
    EXPECT_TRUE(WaitFor([] { return StalledHandleWalkers() == 1; })) << StalledHandleWalkers();
    EXPECT_EQ(0, system.lateCompletionsFailed) << "the event of a request still pending was closed";
    for (int k = 0; k < 3; k++) EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("1: 0.0.0.0:81" + Empty + Empty + Empty + Empty, Record(0));
    EXPECT_EQ(0, StalledHandleWalkers());
    EXPECT_EQ(1, HandleWalkerThreads());
    EXPECT_EQ(1, HandleWalkerParked());
    EndHandleWalker();
    EXPECT_EQ(0, HandleWalkerThreads() + HandleWalkerParked());
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ(1, HandleWalkerThreads() * HandleWalkerParked());
}

// The two operations test the service's state differently: the field wants it running, the URL not stopped.
TEST_F(NetworkTest, AddressTextsTheIpAndPortFieldAndTheBaseUrl)
{
    const struct { const char *dotted, *kind; } classes[] = {
        { "10.1.2.3", "private" }, { "172.16.0.1", "private" }, { "172.31.255.255", "private" }, { "172.15.0.1", "public" },
        { "172.32.0.1", "public" }, { "192.168.0.1", "private" }, { "192.169.0.1", "public" }, { "192.0.2.1", "public" },
        { "127.5.5.5", "local" }, { "169.254.1.1", "failed" }, { "169.1.1.1", "failed" }, { "0.0.0.0", "all" },
        { "255.255.255.255", "public" }, { "198.51.100.7", "public" }, { "1.2.3.4", "public" } };
    for (const auto &c : classes) {
        char dotted[IP_ADDRESS_TEXT_SIZE], kind[IP_CLASS_TEXT_SIZE];
        EXPECT_EQ(2, FormatIpAddress(dotted, inet_addr(c.dotted)) + ClassifyIpAddress(kind, inet_addr(c.dotted)));
        EXPECT_EQ(string(c.dotted) + " " + c.kind, string(dotted) + " " + kind);
    }
    const struct { int installed; DWORD state; std::vector<Endpoint> slots; const char *field, *url; } cases[] = {
        { 1, SERVICE_RUNNING, { { inet_addr("0.0.0.0"), 80 }, { 0x0100007F, 80 } }, "0.0.0.0:80 [all], 127.0.0.1:80 [local]", "http://localhost" },
        { 1, SERVICE_RUNNING, { { inet_addr("192.168.1.5"), 8080 } }, "192.168.1.5:8080 [private]", "http://192.168.1.5:8080" },
        { 1, SERVICE_RUNNING, { { 0x0100007F, 443 } }, "127.0.0.1:443 [local]", "https://localhost" },
        { 1, SERVICE_RUNNING, { { 0, 443 } }, "0.0.0.0:443 [all]", "https://localhost" },
        { 1, SERVICE_RUNNING, { { inet_addr("10.0.0.2"), 80 } }, "10.0.0.2:80 [private]", "http://10.0.0.2" },
        { 1, SERVICE_RUNNING, { { inet_addr("10.0.0.2"), 443 } }, "10.0.0.2:443 [private]", "https://10.0.0.2" },
        { 1, SERVICE_RUNNING, { { 0x0100007F, 81 } }, "127.0.0.1:81 [local]", "http://localhost:81" },
        { 1, SERVICE_RUNNING, { { inet_addr("127.0.0.2"), 80 } }, "127.0.0.2:80 [local]", "http://127.0.0.2" },
        { 1, SERVICE_RUNNING, { { 0, 8443 } }, "0.0.0.0:8443 [all]", "http://localhost:8443" },
        { 1, SERVICE_RUNNING, {}, "", "http://localhost" },
        { 1, SERVICE_START_PENDING, { { 0, 8080 } }, "", "http://localhost:8080" },
        { 1, SERVICE_STOP_PENDING, { { inet_addr("192.168.1.5"), 65535 } }, "", "http://192.168.1.5:65535" },
        { 1, SERVICE_PAUSED, { { 0, 443 } }, "", "https://localhost" },
        { 1, SERVICE_STOPPED, { { inet_addr("10.0.0.2"), 8080 } }, "", "http://localhost" },
        { 0, SERVICE_RUNNING, { { inet_addr("10.0.0.2"), 8080 } }, "", "http://localhost" } };
    HWND dialog = CreateBareDialog();
    for (const auto &c : cases) {
        for (int i = 0; i < SERVICE_COUNT; i++) Set(i, 1, SERVICE_RUNNING), EndpointTable[i] = { 1, { { inet_addr("10.9.9.9"), 99 } } };
        Set(0, c.installed, c.state), EndpointTable[0] = ServiceEndpoints();
        for (const Endpoint &slot : c.slots) AppendServiceEndpoint(0, slot.address, slot.port);
        char url[256];
        SetDlgItemTextA(dialog, IDC_IP_AND_PORT, "old text");
        EXPECT_EQ(2, ShowServiceEndpoints(dialog, 0) + BuildLocalBaseUrl(url));
        EXPECT_EQ(string(c.field) + " | " + c.url, DialogItemText(dialog, IDC_IP_AND_PORT) + " | " + url);
    }
    DestroyControllerDialog(dialog);
}

// Seven rows: all counted, five stored and logged with their type texts; a shorter read rewrites only
// its own; a failing second call records nothing.
TEST_F(NetworkTest, LocalIpListKeepsFiveAddressesAndRecordsNothingFromAFailingCall)
{
    const char *const dotted[] = { "192.168.1.200", "127.0.0.1", "10.0.0.2", "255.255.255.255", "169.254.1.1", "10.0.0.6", "10.0.0.7" };
    const unsigned short types[] = { 1, 4, 8, 64, 128, 5, 0 };
    for (int k = 0; k < 7; k++) system.ipRows.push_back(SimulatedIpRow(dotted[k], types[k]));
    auto read = [&](size_t rows) {
        system.ipRows.resize(rows), system.ipTableSizes.clear();
        InstallSimulatedNetwork(&system);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(1, ReadLocalIpAddresses());
        string stored = std::to_string(LocalIpList.detected);
        for (const char *text : LocalIpList.text) stored += string(" ") + text;
        return stored + Log();
    };
    memset(&LocalIpList, 0, sizeof(LocalIpList));
    EXPECT_EQ("7 192.168.1.200 127.0.0.1 10.0.0.2 255.255.255.255 169.254.1.1\nNumber of system IPs detected: 7\n"
              "\nIP 0: 192.168.1.200 (-939415360), 1 [Primary]\n\nIP 1: 127.0.0.1 (16777343), 4 [Dynamic]\n"
              "\nIP 2: 10.0.0.2 (33554442), 8 [Disconnected]\n\nIP 3: 255.255.255.255 (-1), 64 [Deleted]\n"
              "\nIP 4: 169.254.1.1 (16907945), 128 [Transient]\n", read(7));
    EXPECT_EQ((std::vector<ULONG>{ 0, 4 + 7 * sizeof(MIB_IPADDRROW) }), system.ipTableSizes);
    system.ipRows[0] = SimulatedIpRow("10.0.0.1", 5);
    EXPECT_EQ("1 10.0.0.1 127.0.0.1 10.0.0.2 255.255.255.255 169.254.1.1\nNumber of system IPs detected: 1\n"
              "\nIP 0: 10.0.0.1 (16777226), 5 [Unknown returned Type]\n", read(1));
    system.ipSecondCallFails = true;
    EXPECT_EQ("0 10.0.0.1 127.0.0.1 10.0.0.2 255.255.255.255 169.254.1.1"
              "Call to GetIpAddrTable failed (87).\n\nNumber of system IPs detected: 0\n", read(1));
}
} // namespace
