// The network endpoints on a simulated system: the TCP table, the handle walk and its walker, the
// IP and Port field with the address classes, the base URL and the IPv4 address list.
#include <winsock2.h>
#include <gtest/gtest.h>

#include "log/log.h"
#include "network/network.h"
#include "res/resource.h"
#include "services/services.h"
#include "support/simulated_network.h"
#include "support/test_support.h"

using std::string;
using std::to_string;
using std::vector;

namespace
{

const wchar_t Tcp[] = L"\\Device\\Tcp";
const wchar_t Udp[] = L"\\Device\\Udp";
const string TcpName = "\nObject Name: \\Device\\Tcp\n";
const string UdpName = "\nObject Name: \\Device\\Udp\n";

string Found(int handles)
{
    return "\nMapping Process IDs to IP:PORTs..."
           "\nGetProcAddress (GetExtendedTcpTable) failed (127), unable to load DLL.\n"
           "\nUsing enum handle method instead...\n\nFound " +
           to_string(handles) + " Handles on System...\n";
}

// A transport answer's lines: the address left-aligned in 16 columns, then the port.
string Answer(string address, int port)
{
    address.resize(16, ' ');
    return "IP:\t\t" + address + "\nPort:\t\t" + to_string(port) + "\n";
}

string TcpRow(const string &service, int pid, int state, const string &address, int port)
{
    return "\nSrv Name: " + service + "\nSrv PID (via tcp): " + to_string(pid) +
           "\nState: " + to_string(state) + "\nLocalAddr: " + address +
           "\nLocalPort: " + to_string(port) + "\n";
}

// The endpoints recorded for a service, as "address:port".
vector<string> Endpoints(int service)
{
    vector<string> texts;
    const ServiceEndpoints &record = EndpointTable[service];
    for (DWORD k = 0; k < record.count && k <= ENDPOINT_SLOTS; k++) {
        in_addr address;
        address.s_addr = record.slots[k].address;
        texts.push_back(string(inet_ntoa(address)) + ":" + to_string(record.slots[k].port));
    }
    return texts;
}

void SetService(int service, int installed, DWORD state, DWORD processId)
{
    ServiceTable.entries[service].bInstalled = installed;
    ServiceTable.entries[service].ssStatus.dwCurrentState = state;
    ServiceTable.entries[service].ssStatus.dwProcessId = processId;
}

class NetworkTest : public ::testing::Test
{
  protected:
    SimulatedNetwork system = SimulatedNetwork();

    void SetUp() override
    {
        for (int i = 0; i < SERVICE_COUNT; i++)
            SetService(i, 0, 0, 0);
        OpenFreshControllerLog();
        InstallSimulatedNetwork(&system);
    }

    void TearDown() override
    {
        RemoveSimulatedNetwork();
        ControllerLogClose();
        EXPECT_EQ(0, system.openObjects) << "expected every process and duplicate closed";
    }

    string TakeLog()
    {
        ControllerLogClose();
        string log = ReadControllerLog();
        OpenFreshControllerLog();
        return log;
    }
};

TEST_F(NetworkTest, TcpRowsOfRunningServicesAreLoggedAndRecordedInTableOrderInFiveSlots)
{
    SetService(0, 1, SERVICE_RUNNING, 1200);
    SetService(1, 1, SERVICE_RUNNING, 1300);
    SetService(2, 1, SERVICE_STOPPED, 1400);
    SetService(3, 0, SERVICE_RUNNING, 1500);
    system.hasTcpTable = true;
    system.tcpRows = { SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "192.168.1.200", 80, 1200) };
    for (USHORT port = 9001; port <= 9005; port++)
        system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "127.0.0.1", port, 1200));
    for (DWORD pid : { 1300, 1400, 1500 })
        system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "10.0.0.2", 3306, pid));
    system.tcpRows[0].dwLocalPort |= 0xABCD0000; // only the low 16 bits hold the port
    memset(EndpointTable, 0x5A, sizeof(EndpointTable));

    EXPECT_EQ(1, MapServiceEndpoints());

    EXPECT_EQ((vector<ULONG>{ 28, 220 }), system.tableSizes)
        << "expected a probe with room for the count and one row, then one for nine rows";
    EXPECT_EQ((vector<string>{ "192.168.1.200:80", "127.0.0.1:9001", "127.0.0.1:9002",
                               "127.0.0.1:9003", "127.0.0.1:9004" }),
              Endpoints(0));
    EXPECT_EQ(vector<string>{ "10.0.0.2:3306" }, Endpoints(1));
    EXPECT_EQ(vector<string>(), Endpoints(2)) << "a stopped service";
    EXPECT_EQ(vector<string>(), Endpoints(3)) << "a service not installed";
    string log =
        "\nMapping Process IDs to IP:PORTs..." + TcpRow("Apache2.2", 1200, 5, "-939415360", 80);
    for (int port = 9001; port <= 9005; port++)
        log += TcpRow("Apache2.2", 1200, 2, "16777343", port);
    EXPECT_EQ(log + TcpRow("MySQL", 1300, 2, "33554442", 3306), TakeLog());
}

TEST_F(NetworkTest, HandleWalkAsksTheTransportOnlyForExactDeviceNamesOfRunningServices)
{
    SetService(0, 1, SERVICE_RUNNING, 1200);
    SetService(1, 1, SERVICE_RUNNING, 1300);
    SetService(2, 1, SERVICE_STOPPED, 1400);
    system.handles = {
        { .processId = 1200, .handle = 0x10, .name = Tcp, .port = 80 },
        { .processId = 1200, .handle = 0x14, .name = Tcp, .port = 81, .typeNumber = 5 },
        { .processId = 1300, .handle = 0x20, .name = Udp, .port = 53, .typeNumber = 26 },
        { .processId = 1300, .handle = 0x24, .name = L"\\device\\tcp" },
        { .processId = 1300, .handle = 0x28, .name = L"\\Device\\Tcp6" },
        { .processId = 999, .handle = 0x10, .name = Tcp },
        { .processId = 1400, .handle = 0x10, .name = Tcp },
        { .processId = 1200, .handle = 0x30, .name = L"\\Device\\Caf\u00e9\u0416" },
        { .processId = 1300, .handle = 0x2C, .name = Udp, .address = "127.0.0.1", .port = 3306 },
    };

    EXPECT_EQ(1, MapServiceEndpoints());

    EXPECT_EQ((vector<ULONG>{ 20, 148 }), system.tableSizes)
        << "expected a probe with room for the count and one entry, then one for nine";
    EXPECT_EQ((vector<DWORD>{ 1200, 1300, 1300, 1300, 1200, 1300 }), system.openedProcesses)
        << "expected only the processes of running services opened, once per file handle";
    EXPECT_EQ(vector<string>{ "0.0.0.0:80" }, Endpoints(0));
    EXPECT_EQ((vector<string>{ "0.0.0.0:53", "127.0.0.1:3306" }), Endpoints(1));
    EXPECT_EQ(Found(9) + TcpName + Answer("0.0.0.0", 80) + UdpName + Answer("0.0.0.0", 53) +
                  "\nObject Name: \\device\\tcp\n\nObject Name: \\Device\\Tcp6\n"
                  "\nObject Name: \\Device\\Caf\xe9?\n" +
                  UdpName + Answer("127.0.0.1", 3306),
              TakeLog());
}

TEST_F(NetworkTest, WalkWithoutDebugPrivilegeOrWalkerLogsTheCauseAndRecordsNothing)
{
    SetService(0, 1, SERVICE_RUNNING, 1200);
    system.handles = { { .processId = 1200, .handle = 0x10, .name = Tcp, .port = 80 } };
    system.privilegeNotAssigned = true;

    EXPECT_EQ(0, MapServiceEndpoints());

    EXPECT_EQ(Found(1) + "AdjustTokenPrivileges () failed (ERROR_NOT_ALL_ASSIGNED).\n" +
                  "EnableDebugPrivilege() failed (1300).\n",
              TakeLog());
    EXPECT_EQ(vector<DWORD>(), system.openedProcesses);

    system.privilegeNotAssigned = false;
    system.eventsFail = true;
    EndHandleWalker();

    EXPECT_EQ(0, MapServiceEndpoints());

    EXPECT_EQ(Found(1) + "\nCreateEvent() failed(8).\n", TakeLog());
    EXPECT_EQ(vector<string>(), Endpoints(0));
}

// A query that does not come back in time is given up with its walker and counted, and the walk
// goes on with a fresh walker; with STALLED_WALKERS_MAX stuck, a walk stops before its next query.
TEST_F(NetworkTest, StuckQueriesAreGivenUpAndStopTheWalkAtTheLimit)
{
    EndHandleWalker();
    const int handles = CountHandles(GetCurrentProcess());
    SetService(0, 1, SERVICE_RUNNING, 1200);
    system.handles = {
        { .processId = 1200, .handle = 0x10, .name = Tcp, .port = 80 },
        { .processId = 1200,
          .handle = 0x14,
          .name = Tcp,
          .port = 8080,
          .answer = PendingCompletes },
        { .processId = 1200, .handle = 0x18, .name = Udp, .port = 161, .answer = PendingForever },
        { .processId = 1200, .handle = 0x1C, .name = Tcp, .port = 443, .answer = CancelBlocks },
    };
    for (USHORT k = 0; k < 14; k++)
        system.handles.push_back({ .processId = 1200,
                                   .handle = (USHORT)(0x20 + 4 * k),
                                   .name = L"\\Device\\NamedPipe\\a",
                                   .answer = NameBlocks });
    system.handles.push_back({ .processId = 1200, .handle = 0x80, .name = Tcp, .port = 81 });

    EXPECT_EQ(0, MapServiceEndpoints());

    EXPECT_EQ((vector<string>{ "0.0.0.0:80", "0.0.0.0:8080" }), Endpoints(0));
    EXPECT_EQ(Found(19) + TcpName + Answer("0.0.0.0", 80) + TcpName + Answer("0.0.0.0", 8080) +
                  UdpName + "\nNtDeviceIoControlFile() failed(997).\n" + TcpName +
                  "\nHandle walk stopped, 16 queries stuck.\n",
              TakeLog());

    for (int k = 0; k < 4; k++)
        system.handles[k].typeNumber = 5;
    ReleaseStuckQueries();
    DWORD start = GetTickCount();
    while (HandleWalkerThreads() > 1 && GetTickCount() - start < 20000)
        Sleep(10);

    EXPECT_EQ(1, MapServiceEndpoints());

    EXPECT_EQ(0, StalledHandleWalkers()) << "expected every stuck query back and reclaimed";
    EXPECT_EQ(vector<string>{ "0.0.0.0:81" }, Endpoints(0));
    EXPECT_EQ(1, HandleWalkerParked());
    EndHandleWalker();
    EXPECT_EQ(0, HandleWalkerThreads());
    EXPECT_EQ(handles, CountHandles(GetCurrentProcess())) << "expected no handle left behind";
}

// A driver that ignores the cancel of a request holds the exit of the thread that asked for it.
TEST_F(NetworkTest, ClosingTheDialogWaitsForAWalkerTheDriverHoldsOnlyWithinTheBound)
{
    HWND dialog = CreateControllerDialog();
    system.handles = {
        { .processId = 1200, .handle = 0x10, .name = Tcp, .answer = PendingForever }
    };
    SetService(0, 1, SERVICE_RUNNING, 1200);
    MapServiceEndpoints();
    SetService(0, 0, 0, 0);
    EXPECT_EQ(1, HoldRequestingThreads()) << "expected the parked walker to hold the request";

    DWORD start = GetTickCount();
    DestroyControllerDialog(dialog);

    EXPECT_LT(GetTickCount() - start, 5000u) << "expected a second's wait for the walker at most";
    string log = ReadControllerLog();
    string last = "\nfree 'lpDescription' (W3svc) performed.\n";
    EXPECT_EQ(last, log.substr(log.size() - std::min(log.size(), last.size())))
        << "expected the log to end with its closing block";
}

TEST_F(NetworkTest, IpAndPortFieldWithAddressClassesAndBaseUrlOfTheWebServer)
{
    const struct {
        int installed;
        DWORD state;
        const char *first;
        const char *second;
        DWORD port;
        const char *field;
        const char *url;
    } cases[] = {
        { 1, SERVICE_RUNNING, "0.0.0.0", "127.5.5.5", 80, "0.0.0.0:80 [all], 127.5.5.5:80 [local]",
          "http://localhost" },
        { 1, SERVICE_RUNNING, "172.31.255.255", "172.16.0.1", 8,
          "172.31.255.255:8 [private], 172.16.0.1:8 [private]", "http://172.31.255.255:8" },
        { 1, SERVICE_RUNNING, "127.0.0.1", "172.15.0.1", 443,
          "127.0.0.1:443 [local], 172.15.0.1:443 [public]", "https://localhost" },
        { 1, SERVICE_RUNNING, "192.168.0.1", "192.169.0.1", 443,
          "192.168.0.1:443 [private], 192.169.0.1:443 [public]", "https://192.168.0.1" },
        { 1, SERVICE_RUNNING, "10.255.2.3", "172.32.0.1", 80,
          "10.255.2.3:80 [private], 172.32.0.1:80 [public]", "http://10.255.2.3" },
        { 1, SERVICE_RUNNING, "169.254.1.1", "169.1.1.1", 81,
          "169.254.1.1:81 [failed], 169.1.1.1:81 [failed]", "http://169.254.1.1:81" },
        { 1, SERVICE_RUNNING, "127.0.0.1", NULL, 81, "127.0.0.1:81 [local]",
          "http://localhost:81" },
        { 1, SERVICE_START_PENDING, "192.168.1.5", NULL, 8080, "", "http://192.168.1.5:8080" },
        { 1, SERVICE_PAUSED, "192.0.2.1", NULL, 443, "", "https://192.0.2.1" },
        { 1, SERVICE_RUNNING, NULL, NULL, 0, "", "http://localhost" },
        { 1, SERVICE_STOPPED, "10.0.0.2", NULL, 81, "", "http://localhost" },
        { 0, SERVICE_RUNNING, "10.0.0.2", NULL, 81, "", "http://localhost" },
    };
    HWND dialog = CreateBareDialog();
    for (const auto &c : cases) {
        char url[256];
        SetService(0, c.installed, c.state, 0);
        EndpointTable[0] = ServiceEndpoints();
        for (const char *address : { c.first, c.second }) {
            if (address)
                AppendServiceEndpoint(0, inet_addr(address), c.port);
        }
        SetDlgItemTextA(dialog, IDC_IP_AND_PORT, "old text");

        EXPECT_EQ(1, ShowServiceEndpoints(dialog, 0));
        EXPECT_EQ(1, BuildLocalBaseUrl(url));

        EXPECT_EQ(c.field, DialogItemText(dialog, IDC_IP_AND_PORT)) << c.url;
        EXPECT_EQ(string(c.url), url) << c.field;
    }
    DestroyControllerDialog(dialog);
}

TEST_F(NetworkTest, LocalIpListKeepsFiveAddressesAndNothingFromAFailedSecondCall)
{
    system.ipRows = { SimulatedIpRow("192.168.1.200", 1), SimulatedIpRow("127.0.0.1", 4),
                      SimulatedIpRow("10.0.0.2", 8),      SimulatedIpRow("10.0.0.3", 64),
                      SimulatedIpRow("10.0.0.4", 5),      SimulatedIpRow("10.0.0.5", 128),
                      SimulatedIpRow("10.0.0.6", 1) };

    EXPECT_EQ(1, ReadLocalIpAddresses());

    EXPECT_EQ(7u, LocalIpList.detected);
    EXPECT_EQ((vector<string>{ "192.168.1.200", "127.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4" }),
              vector<string>(LocalIpList.text, LocalIpList.text + LOCAL_IP_SLOTS));
    EXPECT_EQ(
        "\nNumber of system IPs detected: 7\n\nIP 0: 192.168.1.200 (-939415360), 1 [Primary]\n"
        "\nIP 1: 127.0.0.1 (16777343), 4 [Dynamic]\n\nIP 2: 10.0.0.2 (33554442), 8 "
        "[Disconnected]\n\nIP 3: 10.0.0.3 (50331658), 64 [Deleted]\n"
        "\nIP 4: 10.0.0.4 (67108874), 5 [Unknown returned Type]\n",
        TakeLog());

    system.ipRows = { SimulatedIpRow("10.0.0.9", 128) };
    system.ipSecondCallFails = true;

    EXPECT_EQ(1, ReadLocalIpAddresses());

    EXPECT_EQ(0u, LocalIpList.detected);
    EXPECT_EQ("Call to GetIpAddrTable failed (87).\n\nNumber of system IPs detected: 0\n",
              TakeLog());
}

} // namespace
