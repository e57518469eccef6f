// Network endpoints on a simulated system: TCP mapping, handle walk, walker, log, texts, base URL, IPv4 list.
#include <winsock2.h>
#include <gtest/gtest.h>
#include "app/controller.h"
#include "log/log.h"
#include "network/network.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/simulated_network.h"
#include "support/test_support.h"

using std::string;
using std::to_string;
const string Head = "\nMapping Process IDs to IP:PORTs...",
             Walk = "\nUsing enum handle method instead...\n";
const string Fallback =
    Head + "\nGetProcAddress (GetExtendedTcpTable) failed (127), unable to load DLL.\n" + Walk;
const string Tcp = "\\Device\\Tcp", Udp = "\\Device\\Udp",
             Missing = " failed (127), unable to load DLL.\n";
string Srv(const char *name, DWORD pid, DWORD state, long address, int port)
{
    return "\nSrv Name: " + string(name) + "\nSrv PID (via tcp): " + to_string(pid) +
           "\nState: " + to_string(state) + "\nLocalAddr: " + to_string(address) +
           "\nLocalPort: " + to_string(port) + "\n";
}
string Named(const string &name)
{
    return "\nObject Name: " + name + "\n";
}
string Ip(string dotted, int port)
{
    return dotted.resize(16, ' '), "IP:\t\t" + dotted + "\nPort:\t\t" + to_string(port) + "\n";
}
string Found(int n, const string &head = Fallback)
{
    return head + "\nFound " + to_string(n) + " Handles on System...\n";
}
string Records()
{ // "count: address:port..." of each service, separated by " | "
    string text;
    char dotted[IP_ADDRESS_TEXT_SIZE];
    for (const ServiceEndpoints &r : EndpointTable) {
        text += (text.empty() ? "" : " | ") + to_string(r.count) + ":";
        for (DWORD k = 0; k < r.count && k < ENDPOINT_SLOTS; k++)
            text += string(" ") + (FormatIpAddress(dotted, r.slots[k].address), dotted) + ":" +
                    to_string(r.slots[k].port);
    }
    return text;
}
SimulatedHandle H(DWORD pid, USHORT value, const wchar_t *name, const char *address = "0.0.0.0",
                  USHORT port = 0)
{
    SimulatedHandle h;
    h.processId = pid, h.handle = value, h.name = name, h.address = inet_addr(address),
    h.port = port;
    return h;
}
void Set(int i, int installed, DWORD state, DWORD pid = 0)
{
    ServiceEntry &e = ServiceTable.entries[i];
    e.bInstalled = installed, e.ssStatus.dwCurrentState = state, e.ssStatus.dwProcessId = pid;
}

class NetworkTest : public ::testing::Test
{
  protected:
    SimulatedNetwork system;
    void SetUp() override
    {
        OpenFreshControllerLog();
        for (int i = 0; i < SERVICE_COUNT; i++)
            Set(i, 0, 0);
    }
    void TearDown() override
    {
        RemoveSimulatedNetwork(), ControllerLogClose();
        EXPECT_EQ("0 faults, 0 open", to_string(system.faults.size()) + " faults, " +
                                          to_string(system.openObjects) + " open");
    }
    int Map()
    {
        InstallSimulatedNetwork(&system);
        return MapServiceEndpoints();
    }
    string Log()
    {
        ControllerLogClose();
        string log = ReadControllerLog();
        OpenFreshControllerLog();
        return log;
    }
};

TEST_F(NetworkTest, TcpRowsAreRecordedAsReadInTableOrderIntoFiveSlots)
{
    Set(0, 1, SERVICE_RUNNING, 1200), Set(1, 1, SERVICE_RUNNING, 1300),
        Set(2, 1, SERVICE_STOPPED, 1400);
    Set(3, 0, SERVICE_RUNNING, 1500), memset(EndpointTable, 0x5A, sizeof(EndpointTable));
    system.tcpRows = { SimulatedTcpRow(5, "192.168.1.200", 80, 1200),
                       SimulatedTcpRow(5, "0.0.0.0", 135, 0) };
    system.tcpTableAvailable = true, system.tcpRows[0].dwLocalPort |= 0xABCD0000;
    for (USHORT k = 0; k < 5; k++)
        system.tcpRows.push_back(SimulatedTcpRow(5, "127.0.0.1", 9000 + k, 1200));
    for (DWORD pid : { 1300, 1400, 1500 })
        system.tcpRows.push_back(SimulatedTcpRow(2, "10.0.0.2", 3306, pid));
    EXPECT_EQ(1, Map());
    EXPECT_EQ((std::vector<DWORD>{ 28, 4 + 24 * 10 }), system.tcpTableSizes)
        << "a 28-byte probe, then the size it was told";
    EXPECT_EQ("5: 192.168.1.200:80 127.0.0.1:9000 127.0.0.1:9001 127.0.0.1:9002 127.0.0.1:9003 | "
              "1: 10.0.0.2:3306 | 0: | 0:",
              Records());
    string expected = Head + Srv("Apache2.2", 1200, 5, -939415360, 80);
    for (int k = 0; k < 5; k++)
        expected += Srv("Apache2.2", 1200, 5, 16777343, 9000 + k);
    EXPECT_EQ(expected + Srv("MySQL", 1300, 2, 33554442, 3306), Log());
}

// Exact device names, file types, running services, per-handle failures, a wide name in the ANSI code page.
TEST_F(NetworkTest, HandleWalkQueriesTheTransportOfExactDeviceNamesOfRunningServices)
{
    Set(0, 1, SERVICE_RUNNING, 1200), Set(1, 1, SERVICE_RUNNING, 1300),
        Set(2, 1, SERVICE_STOPPED, 1400);
    Set(3, 1, SERVICE_RUNNING, 1600), system.unopenableProcesses = { 1600 };
    system.handles = { H(1200, 0x10, L"\\Device\\Tcp", "0.0.0.0", 80),
                       H(1200, 0x14, L"\\Device\\Tcp", "0.0.0.0", 81),
                       H(1300, 0x20, L"\\Device\\Udp", "0.0.0.0", 53),
                       H(1300, 0x24, L"\\device\\tcp"),
                       H(1300, 0x28, L"\\Device\\Tcp6"),
                       H(999, 0x10, L"\\Device\\Tcp"),
                       H(1400, 0x10, L"\\Device\\Tcp"),
                       H(1200, 0x30, L"\\Device\\Caf\u00e9\u0416"),
                       H(1200, 0x34, L"\\Device\\Tcp"),
                       H(1200, 0x38, L"\\Device\\Tcp"),
                       H(1200, 0x3C, L"\\Device\\Tcp"),
                       H(1200, 0x40, L"\\Device\\Tcp"),
                       H(1600, 0x10, L"\\Device\\Tcp"),
                       H(1300, 0x2C, L"\\Device\\Udp", "127.0.0.1", 3306) };
    system.handles[1].typeNumber = 5, system.handles[2].typeNumber = 26,
    system.handles[8].duplicateFails = true;
    system.handles[9].nameBehaviour = NameFails, system.handles[10].nameBehaviour = NameAbsent,
    system.handles[11].transport = TransportFails;
    EXPECT_EQ(1, Map());
    EXPECT_EQ("1: 0.0.0.0:80 | 2: 0.0.0.0:53 127.0.0.1:3306 | 0: | 0:", Records());
    EXPECT_EQ(Found(14) + Named(Tcp) + Ip("0.0.0.0", 80) + Named(Udp) + Ip("0.0.0.0", 53) +
                  Named("\\device\\tcp") + Named("\\Device\\Tcp6") + Named("\\Device\\Caf\xe9?") +
                  Named(Tcp) + "\nNtDeviceIoControlFile() failed(50).\n" + Named(Udp) +
                  Ip("127.0.0.1", 3306),
              Log());
}

TEST_F(NetworkTest, FailingTcpTableFallsBackAndTheHandleTableIsSizedByOneProbe)
{
    const string TcpFailed = Head + "\nGetExtendedTcpTable() failed(", Walked = ").\n" + Walk;
    const struct {
        std::vector<DWORD> tcp;
        USHORT entries;
        bool grows;
        const char *missing;
        std::vector<ULONG> lengths;
        int ok;
        string log;
    } cases[] = { { { 87 }, 0, false, "", { 20 }, 1, Found(0, TcpFailed + "87" + Walked) },
                  { { 0, 122 }, 0, false, "", { 20 }, 1, Found(0, TcpFailed + "122" + Walked) },
                  { {},
                    2,
                    false,
                    "",
                    { 20, 36 },
                    1,
                    Found(2) + Named(Tcp) + Ip("0.0.0.0", 80) + Named(Tcp) + Ip("0.0.0.0", 81) },
                  { {},
                    2,
                    true,
                    "",
                    { 20, 36 },
                    0,
                    Fallback +
                        "\nNtQuerySystemInformation() failed (24) with NTSTATUS c0000004.\n" },
                  { {},
                    1,
                    false,
                    "NtQuerySystemInformation",
                    {},
                    0,
                    Fallback + "GetProcAddress (NtQuerySystemInformation)" + Missing },
                  { {},
                    1,
                    false,
                    "NtQueryObject",
                    { 20 },
                    1,
                    Found(1) + "GetProcAddress (NtQueryObject)" + Missing },
                  { {},
                    1,
                    false,
                    "NtDeviceIoControlFile",
                    { 20 },
                    1,
                    Found(1) + Named(Tcp) + "GetProcAddress (NtDeviceIoControlFile)" + Missing } };
    Set(0, 1, SERVICE_RUNNING, 1200), system.tcpRows = { SimulatedTcpRow(2, "0.0.0.0", 80, 1200),
                                                         SimulatedTcpRow(2, "0.0.0.0", 81, 1200) };
    for (const auto &c : cases) {
        system.handles.clear(), system.handleTableLengths.clear(),
            system.missingProcedures = { c.missing }, SetLastError(0xdeadbeef);
        for (USHORT k = 0; k < c.entries; k++)
            system.handles.push_back(H(1200, 4 + 4 * k, L"\\Device\\Tcp", "0.0.0.0", 80 + k));
        system.handleTableGrowsBetweenCalls = c.grows, system.tcpTableAvailable = !c.tcp.empty(),
        system.tcpForcedResults = c.tcp;
        EXPECT_EQ(c.ok, Map()) << c.entries << c.missing;
        EXPECT_EQ(c.lengths, system.handleTableLengths) << c.entries << c.missing;
        EXPECT_EQ(c.log, Log());
    }
}

// Stuck names and requests are given up and counted, at 16 the walk stops and says so; one walker stays parked.
TEST_F(NetworkTest, StuckQueriesAreGivenUpCountedAndStopTheWalkAtTheLimit)
{
    const int handles = CountHandles(GetCurrentProcess()); // a walker is parked before and after
    Set(0, 1, SERVICE_RUNNING, 1200), Set(2, 1, SERVICE_RUNNING, 1400);
    system.handles = { H(1200, 0x10, L"\\Device\\NamedPipe\\a"),
                       H(1200, 0x14, L"\\Device\\Tcp", "0.0.0.0", 80),
                       H(1200, 0x18, L"\\Device\\Tcp", "0.0.0.0", 8080),
                       H(1200, 0x1C, L"\\Device\\Udp", "0.0.0.0", 161),
                       H(1400, 0x10, L"\\Device\\NamedPipe\\t"),
                       H(1400, 0x14, L"\\Device\\Tcp", "127.0.0.1", 8080) };
    system.handles[0].nameBehaviour = system.handles[4].nameBehaviour = NameBlocks;
    system.handles[2].transport = TransportPendingCompletes,
    system.handles[3].transport = TransportPendingForever;
    auto walkers = [] {
        return to_string(StalledHandleWalkers()) + to_string(HandleWalkerThreads()) +
               to_string(HandleWalkerParked());
    };
    EXPECT_EQ(1, Map());
    EXPECT_EQ("2: 0.0.0.0:80 0.0.0.0:8080 | 0: | 1: 127.0.0.1:8080 | 0: | 331",
              Records() + " | " + walkers()); // stuck 2+1
    EXPECT_EQ(Found(6) + Named(Tcp) + Ip("0.0.0.0", 80) + Named(Tcp) + Ip("0.0.0.0", 8080) +
                  Named(Udp) + "\nNtDeviceIoControlFile() failed(997).\n" + Named(Tcp) +
                  Ip("127.0.0.1", 8080),
              Log());
    for (SimulatedHandle &h : system.handles)
        h.typeNumber = h.nameBehaviour == NameBlocks ? 28 : 5;
    system.handles.insert(system.handles.end(), 11, system.handles[0]),
        system.handles.push_back(H(1200, 0x20, L"\\Device\\Tcp", "0.0.0.0", 81));
    EXPECT_EQ(0, MapServiceEndpoints());
    EXPECT_EQ(Found(18) + "\nHandle walk stopped, 16 queries stuck.\n", Log());
    ReleaseBlockedQueries(), CompletePendingTransportQueries();
    for (int i = 0; i < 500 && StalledHandleWalkers() > 1; i++)
        Sleep(10);
    EXPECT_EQ(0, system.lateCompletionsFailed + system.cancelCalls - 1)
        << "one cancel; the pending request's event kept open";
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(1, MapServiceEndpoints());
    string parked = Records().substr(0, 13) + " " + walkers();
    parked += ", ended " + (EndHandleWalker(), walkers()),
        parked += ", again " + (MapServiceEndpoints(), walkers());
    EXPECT_EQ("1: 0.0.0.0:81 011, ended 000, again 011, handles +0",
              parked + ", handles +" + to_string(CountHandles(GetCurrentProcess()) - handles));
}

TEST_F(NetworkTest, IpAndPortFieldWithAddressClassesAndTheBaseUrl)
{
    const struct {
        int installed;
        DWORD state;
        const char *first, *second;
        DWORD port;
        const char *field, *url;
    } cases[] = { { 1, SERVICE_RUNNING, "0.0.0.0", "127.5.5.5", 80,
                    "0.0.0.0:80 [all], 127.5.5.5:80 [local]", "http://localhost" },
                  { 1, SERVICE_START_PENDING, "192.168.1.5", NULL, 8080, "",
                    "http://192.168.1.5:8080" },
                  { 1, SERVICE_RUNNING, "10.255.2.3", "172.16.0.1", 8,
                    "10.255.2.3:8 [private], 172.16.0.1:8 [private]", "http://10.255.2.3:8" },
                  { 1, SERVICE_RUNNING, "127.0.0.1", "172.31.9.9", 443,
                    "127.0.0.1:443 [local], 172.31.9.9:443 [private]", "https://localhost" },
                  { 1, SERVICE_RUNNING, "192.168.0.1", "172.15.0.1", 443,
                    "192.168.0.1:443 [private], 172.15.0.1:443 [public]", "https://192.168.0.1" },
                  { 1, SERVICE_RUNNING, "127.0.0.1", "172.32.0.1", 81,
                    "127.0.0.1:81 [local], 172.32.0.1:81 [public]", "http://localhost:81" },
                  { 1, SERVICE_RUNNING, "169.254.1.1", "169.1.1.1", 80,
                    "169.254.1.1:80 [failed], 169.1.1.1:80 [failed]", "http://169.254.1.1" },
                  { 1, SERVICE_RUNNING, NULL, NULL, 0, "", "http://localhost" },
                  { 1, SERVICE_PAUSED, "192.169.0.1", NULL, 443, "", "https://192.169.0.1" },
                  { 1, SERVICE_STOPPED, "10.0.0.2", NULL, 81, "", "http://localhost" },
                  { 0, SERVICE_RUNNING, "10.0.0.2", NULL, 81, "", "http://localhost" } };
    HWND dialog = CreateBareDialog();
    for (const auto &c : cases) {
        for (int i = 0; i < SERVICE_COUNT; i++)
            Set(i, 1, SERVICE_RUNNING), EndpointTable[i] = { 1, { { 0x0909090A, 99 } } };
        Set(0, c.installed, c.state), EndpointTable[0] = ServiceEndpoints();
        for (const char *address : { c.first, c.second })
            if (address)
                AppendServiceEndpoint(0, inet_addr(address), c.port);
        char url[256];
        SetDlgItemTextA(dialog, IDC_IP_AND_PORT, "old text");
        EXPECT_EQ(2, ShowServiceEndpoints(dialog, 0) + BuildLocalBaseUrl(url));
        EXPECT_EQ(string(c.field) + " | " + c.url,
                  DialogItemText(dialog, IDC_IP_AND_PORT) + " | " + url);
    }
    DestroyControllerDialog(dialog);
}

TEST_F(NetworkTest, LocalIpListKeepsFiveAddressesAndRecordsNothingFromAFailingCall)
{
    for (const char *dotted : { "192.168.1.200", "127.0.0.1", "10.0.0.2", "255.255.255.255",
                                "169.254.1.1", "10.0.0.6", "10.0.0.7" })
        system.ipRows.push_back(
            SimulatedIpRow(dotted, system.ipRows.empty() ? 1 : 2 << system.ipRows.size()));
    auto read = [&](size_t rows) {
        system.ipRows.resize(rows), system.ipTableSizes.clear(), InstallSimulatedNetwork(&system),
            SetLastError(0xdeadbeef);
        int ok = ReadLocalIpAddresses();
        string stored = to_string(ok) + " " + to_string(LocalIpList.detected);
        for (const char *text : LocalIpList.text)
            stored += string(" ") + text;
        return stored + Log();
    };
    EXPECT_EQ("1 7 192.168.1.200 127.0.0.1 10.0.0.2 255.255.255.255 169.254.1.1\nNumber of system "
              "IPs detected: 7\n"
              "\nIP 0: 192.168.1.200 (-939415360), 1 [Primary]\n\nIP 1: 127.0.0.1 (16777343), 4 "
              "[Dynamic]\n"
              "\nIP 2: 10.0.0.2 (33554442), 8 [Disconnected]\n\nIP 3: 255.255.255.255 (-1), 16 "
              "[Unknown returned Type]\n"
              "\nIP 4: 169.254.1.1 (16907945), 32 [Unknown returned Type]\n",
              read(7));
    EXPECT_EQ((std::vector<ULONG>{ 0, 4 + 7 * sizeof(MIB_IPADDRROW) }), system.ipTableSizes);
    system.ipRows = { SimulatedIpRow("10.0.0.1", 64), SimulatedIpRow("10.0.0.3", 128),
                      SimulatedIpRow("10.0.0.4", 5) };
    EXPECT_EQ(
        "1 3 10.0.0.1 10.0.0.3 10.0.0.4 255.255.255.255 169.254.1.1\nNumber of system IPs "
        "detected: 3\n"
        "\nIP 0: 10.0.0.1 (16777226), 64 [Deleted]\n\nIP 1: 10.0.0.3 (50331658), 128 [Transient]\n"
        "\nIP 2: 10.0.0.4 (67108874), 5 [Unknown returned Type]\n",
        read(3));
    system.ipSecondCallFails = true;
    EXPECT_EQ("1 0 10.0.0.1 10.0.0.3 10.0.0.4 255.255.255.255 169.254.1.1Call to GetIpAddrTable "
              "failed (87).\n"
              "\nNumber of system IPs detected: 0\n",
              read(3));
}
