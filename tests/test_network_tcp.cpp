// The port-to-process mapping through the TCP owner table: against the
// prefix's real table with the test service listening under the managed
// names, and against a simulated table for the sizing at the edges, the
// failing calls and the raw values of the log lines.
#include <winsock2.h>
#include <gtest/gtest.h>
#include <iphlpapi.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/controller.h"
#include "network/network.h"
#include "services/services.h"
#include "support/simulated_network.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

const char *const MappingHead = "\nMapping Process IDs to IP:PORTs...";

std::string SrvBlock(const char *name, DWORD pid, DWORD state, long address, int port)
{
    return std::string("\nSrv Name: ") + name + "\nSrv PID (via tcp): " + std::to_string(pid) +
           "\nState: " + std::to_string(state) + "\nLocalAddr: " + std::to_string(address) +
           "\nLocalPort: " + std::to_string(port) + "\n";
}

std::string Record(int i)
{
    std::string text = std::to_string(EndpointTable[i].count) + ":";
    for (int k = 0; k < ENDPOINT_SLOTS; k++) {
        char dotted[IP_ADDRESS_TEXT_SIZE];
        FormatIpAddress(dotted, EndpointTable[i].slots[k].address);
        text += std::string(" ") + dotted + ":" + std::to_string(EndpointTable[i].slots[k].port);
    }
    return text;
}

const std::string EmptyRecord = "0: 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0";

// Ports that were free a moment ago (bound to port 0 together, then let go).
std::vector<USHORT> FreePorts(int n)
{
    std::vector<SOCKET> sockets;
    std::vector<USHORT> ports;
    for (int i = 0; i < n; i++) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address;
        memset(&address, 0, sizeof(address));
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        bind(s, (sockaddr *)&address, sizeof(address));
        int length = sizeof(address);
        getsockname(s, (sockaddr *)&address, &length);
        ports.push_back(ntohs(address.sin_port));
        sockets.push_back(s);
    }
    for (SOCKET s : sockets) closesocket(s);
    return ports;
}

// The rows of the real table owned by a process, in table order.
std::vector<MIB_TCPROW_OWNER_PID> RowsOf(DWORD pid)
{
    std::vector<MIB_TCPROW_OWNER_PID> rows;
    DWORD size = 0;
    GetExtendedTcpTable(NULL, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    std::vector<BYTE> buffer(size + 24 * 16);
    size = (DWORD)buffer.size();
    if (GetExtendedTcpTable(buffer.data(), &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0) != NO_ERROR) {
        return rows;
    }
    const MIB_TCPTABLE_OWNER_PID *table = (const MIB_TCPTABLE_OWNER_PID *)buffer.data();
    for (DWORD i = 0; i < table->dwNumEntries; i++) {
        if (table->table[i].dwOwningPid == pid) rows.push_back(table->table[i]);
    }
    return rows;
}

// Waits until the process owns `count` rows (the test service marks its
// sockets right after listen and accept).
std::vector<MIB_TCPROW_OWNER_PID> WaitForRows(DWORD pid, size_t count)
{
    std::vector<MIB_TCPROW_OWNER_PID> rows;
    for (int i = 0; i < 200; i++) {
        rows = RowsOf(pid);
        if (rows.size() >= count) break;
        Sleep(50);
    }
    return rows;
}

class TcpTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        RemoveAllManagedServices();
        OpenFreshControllerLog();
    }
    void TearDown() override
    {
        ServiceTableClose();
        ControllerLogClose();
        RemoveAllManagedServices();
        WSACleanup();
    }
    // The endpoint service of tests/tools under a managed name.
    DWORD StartService(const char *name, const std::string &arguments)
    {
        TestServiceSetup setup;
        setup.name = name;
        setup.binaryPathOverride = "\"" + TestBinDirectory() + "qvx_endpoint_service.exe\" \"" + name + "\" " +
                                  arguments;
        std::string installed = InstallTestService(setup);
        EXPECT_EQ("", installed);
        std::string started = StartTestService(name, SERVICE_RUNNING, 30000);
        EXPECT_EQ("", started);
        DWORD pid = 0;
        QueryTestServiceState(name, &pid);
        return pid;
    }
    // Opens the table, then starts the log afresh so that it holds the
    // mapping alone.
    void OpenTableAndFreshLog()
    {
        ASSERT_EQ(1, ServiceTableOpen());
        OpenFreshControllerLog();
    }
    std::string CloseAndReadLog()
    {
        ControllerLogClose();
        return ReadControllerLog();
    }
};

// A server on 0.0.0.0 with a local connection: its listening row and the
// local side of its connection, in table order; a running service with no
// socket and a stopped one get nothing; an outside client's rows are not
// the service's. (Wine never gives an accepted socket's row an owner, so
// the server side of a connection appears in the simulated tests below.)
TEST_F(TcpTableTest, ListeningServiceWithLocalConnectionRecordsBothEndpointsInTableOrder)
{
    USHORT port = FreePorts(1)[0];
    DWORD apache = StartService("Apache2.2", "--listen 0.0.0.0:" + std::to_string(port) + " --connect-self");
    DWORD w3svc = StartService("W3svc", "");   // running, no socket
    TestServiceSetup mysql;
    mysql.name = "MySQL";
    ASSERT_EQ("", InstallTestService(mysql));
    ASSERT_FALSE(HasFailure());

    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = htons(port);
    ASSERT_EQ(0, connect(client, (sockaddr *)&address, sizeof(address)));
    ASSERT_EQ(1, send(client, "x", 1, 0));
    std::vector<MIB_TCPROW_OWNER_PID> rows = WaitForRows(apache, 2);
    ASSERT_EQ(2u, rows.size()) << "the listener and the service's own connection";
    USHORT local = ntohs((u_short)rows[1].dwLocalPort);

    OpenTableAndFreshLog();
    ASSERT_EQ(w3svc, ServiceTable.entries[3].ssStatus.dwProcessId);
    memset(EndpointTable, 0x5A, sizeof(EndpointTable));
    EXPECT_EQ(1, MapServiceEndpoints());
    closesocket(client);

    const long loopback = (long)inet_addr("127.0.0.1");
    EXPECT_EQ(16777343, loopback);
    EXPECT_EQ("2: 0.0.0.0:" + std::to_string(port) + " 127.0.0.1:" + std::to_string(local) +
              " 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(0));
    EXPECT_EQ(EmptyRecord, Record(1));
    EXPECT_EQ(EmptyRecord, Record(2));
    EXPECT_EQ(EmptyRecord, Record(3));
    EXPECT_EQ(std::string(MappingHead) +
              SrvBlock("Apache2.2", apache, MIB_TCP_STATE_LISTEN, 0, port) +
              SrvBlock("Apache2.2", apache, MIB_TCP_STATE_ESTAB, loopback, local),
              CloseAndReadLog());
}

// Only a running service is compared: in any other state (or not
// installed) its process's rows are ignored, though the process holds them.
TEST_F(TcpTableTest, ServiceThatIsNotRunningIsNotMatchedThoughItsProcessHoldsRows)
{
    USHORT port = FreePorts(1)[0];
    DWORD mysql = StartService("MySQL", "--listen 127.0.0.1:" + std::to_string(port));
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(1u, WaitForRows(mysql, 1).size());
    OpenTableAndFreshLog();
    ServiceEntry &row = ServiceTable.entries[1];
    ASSERT_EQ(mysql, row.ssStatus.dwProcessId);

    const DWORD states[] = { SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_STOP_PENDING,
                             SERVICE_CONTINUE_PENDING, SERVICE_PAUSE_PENDING, SERVICE_PAUSED, 0 };
    std::string expected;
    for (DWORD state : states) {
        row.ssStatus.dwCurrentState = state;
        EXPECT_EQ(1, MapServiceEndpoints());
        EXPECT_EQ(EmptyRecord, Record(1)) << "state " << state;
        expected += MappingHead;
    }
    row.ssStatus.dwCurrentState = SERVICE_RUNNING;
    row.bInstalled = 0;
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ(EmptyRecord, Record(1)) << "not installed";
    expected += MappingHead;
    row.bInstalled = 1;
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("1: 127.0.0.1:" + std::to_string(port) + " 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(1));
    expected += MappingHead + SrvBlock("MySQL", mysql, MIB_TCP_STATE_LISTEN, 16777343, port);
    EXPECT_EQ(expected, CloseAndReadLog());
}

TEST_F(TcpTableTest, SixthAndSeventhListenersAreLoggedButNotRecorded)
{
    std::vector<USHORT> ports = FreePorts(7);
    std::string arguments;
    for (USHORT port : ports) arguments += " --listen 127.0.0.1:" + std::to_string(port);
    DWORD tomcat = StartService("Tomcat5", arguments);
    ASSERT_FALSE(HasFailure());
    std::vector<MIB_TCPROW_OWNER_PID> rows = WaitForRows(tomcat, 7);
    ASSERT_EQ(7u, rows.size());
    OpenTableAndFreshLog();
    EXPECT_EQ(1, MapServiceEndpoints());

    // Table order, as the system sorts it.
    std::string expectedRecord = "5:";
    std::string expectedLog = MappingHead;
    for (size_t i = 0; i < rows.size(); i++) {
        int port = ntohs((u_short)rows[i].dwLocalPort);
        if (i < 5) expectedRecord += " 127.0.0.1:" + std::to_string(port);
        expectedLog += SrvBlock("Tomcat5", tomcat, rows[i].dwState, 16777343, port);
        EXPECT_NE(ports.end(), std::find(ports.begin(), ports.end(), (USHORT)port));
    }
    EXPECT_EQ(expectedRecord, Record(2));
    EXPECT_EQ(EmptyRecord, Record(0));
    EXPECT_EQ(EmptyRecord, Record(3));
    EXPECT_EQ(expectedLog, CloseAndReadLog());
}

// The simulated table: sizes around the 28-byte probe and calls that fail.
void SetService(int i, int installed, DWORD state, DWORD pid)
{
    ServiceEntry &entry = ServiceTable.entries[i];
    entry.bInstalled = installed;
    memset(&entry.ssStatus, 0, sizeof(entry.ssStatus));
    entry.ssStatus.dwCurrentState = state;
    entry.ssStatus.dwProcessId = pid;
}

class SimulatedTcpTableTest : public ::testing::Test {
protected:
    SimulatedNetwork system;
    void SetUp() override
    {
        OpenFreshControllerLog();
        for (int i = 0; i < SERVICE_COUNT; i++) SetService(i, 0, 0, 0);
        system.tcpTableAvailable = true;
    }
    void TearDown() override
    {
        RemoveSimulatedNetwork();
        ControllerLogClose();
        for (int i = 0; i < SERVICE_COUNT; i++) SetService(i, 0, 0, 0);
    }
};

TEST_F(SimulatedTcpTableTest, TableIsSizedByOneProbeAndFailuresFallBackToTheHandleWalk)
{
    struct Case {
        size_t rows;
        std::vector<DWORD> forced;
        std::vector<DWORD> sizes;
        int tcpResult;
        const char *log;
    };
    const std::string fallback = "\nUsing enum handle method instead...\n\nFound 0 Handles on System...\n";
    const Case cases[] = {
        { 0, {}, { 28 }, 1, "" },                    // 4 bytes needed
        { 1, {}, { 28 }, 1, "" },                    // 28: exactly the probe
        { 2, {}, { 28, 52 }, 1, "" },                // 52: one repeat
        { 3, {}, { 28, 76 }, 1, "" },
        { 2, { ERROR_INVALID_PARAMETER }, { 28 }, 0, "\nGetExtendedTcpTable() failed(87).\n" },
        { 2, { NO_ERROR, ERROR_INSUFFICIENT_BUFFER }, { 28, 52 }, 0, "\nGetExtendedTcpTable() failed(122).\n" },
    };
    SetService(0, 1, SERVICE_RUNNING, 1200);
    for (const Case &c : cases) {
        system.tcpRows.clear();
        for (size_t k = 0; k < c.rows; k++) {
            system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", (USHORT)(80 + k), 1200));
        }
        system.tcpForcedResults = c.forced;
        system.tcpTableSizes.clear();
        InstallSimulatedNetwork(&system);
        OpenFreshControllerLog();
        SetLastError(0xdeadbeef);
        EXPECT_EQ(1, MapServiceEndpoints()) << c.rows << " rows: the fallback completes on an empty handle table";
        EXPECT_EQ(c.sizes, system.tcpTableSizes) << c.rows << " rows";
        EXPECT_EQ(c.tcpResult ? (DWORD)c.rows : 0u, EndpointTable[0].count) << c.rows << " rows";
        ControllerLogClose();
        std::string expected = MappingHead;
        for (size_t k = 0; k < (c.tcpResult ? c.rows : 0); k++) {
            expected += SrvBlock("Apache2.2", 1200, MIB_TCP_STATE_LISTEN, 0, (int)(80 + k));
        }
        expected += std::string(c.log) + (c.tcpResult ? "" : fallback);
        EXPECT_EQ(expected, ReadControllerLog()) << c.rows << " rows";
    }
    EXPECT_TRUE(system.faults.empty());
}

// Raw values: the address logged as the signed network-order value, the
// port taken from the low 16 bits; rows of process 0 or of no running
// service ignored; a row of a process shared by two services in both.
TEST_F(SimulatedTcpTableTest, RowValuesAreRecordedAsReadAndLoggedRaw)
{
    SetService(0, 1, SERVICE_RUNNING, 1200);
    SetService(1, 1, SERVICE_RUNNING, 1300);
    SetService(3, 1, SERVICE_RUNNING, 1300);
    SetService(2, 1, SERVICE_STOPPED, 0);
    MIB_TCPROW_OWNER_PID apache = SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "192.168.1.200", 80, 1200);
    apache.dwLocalPort |= 0xABCD0000;          // only the low 16 bits are the port
    const BYTE *portBytes = (const BYTE *)&apache.dwLocalPort;
    ASSERT_EQ(0x00, portBytes[0]);
    ASSERT_EQ(0x50, portBytes[1]);
    system.tcpRows = {
        SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", 135, 0),
        apache,
        SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "10.0.0.2", 3306, 1300),
        SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", 445, 4),
    };
    InstallSimulatedNetwork(&system);
    EXPECT_EQ(1, MapServiceEndpoints());

    const BYTE *address = (const BYTE *)&EndpointTable[0].slots[0].address;
    EXPECT_EQ(192, address[0]);
    EXPECT_EQ(168, address[1]);
    EXPECT_EQ(1, address[2]);
    EXPECT_EQ(200, address[3]);
    EXPECT_EQ("1: 192.168.1.200:80 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(0));
    EXPECT_EQ("1: 10.0.0.2:3306 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(1));
    EXPECT_EQ(EmptyRecord, Record(2)) << "a stopped service's process id 0 matches nothing";
    EXPECT_EQ("1: 10.0.0.2:3306 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(3));
    ControllerLogClose();
    EXPECT_EQ(std::string(MappingHead) +
              SrvBlock("Apache2.2", 1200, MIB_TCP_STATE_ESTAB, -939415360, 80) +
              SrvBlock("MySQL", 1300, MIB_TCP_STATE_LISTEN, (long)inet_addr("10.0.0.2"), 3306) +
              SrvBlock("W3svc", 1300, MIB_TCP_STATE_LISTEN, (long)inet_addr("10.0.0.2"), 3306),
              ReadControllerLog());
    EXPECT_EQ((std::vector<std::string>{ "Iphlpapi.dll!GetExtendedTcpTable" }), system.lookups);
}

// The rows Windows lists for a server on 0.0.0.0:80 with one connection
// from a local browser (process 3100): the listener and the server side of
// the connection are the server's.
TEST_F(SimulatedTcpTableTest, ServerWithLocalBrowserRecordsListenerAndServerSideInTableOrder)
{
    SetService(0, 1, SERVICE_RUNNING, 1200);
    system.tcpRows = {
        SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "0.0.0.0", 80, 1200),
        SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "127.0.0.1", 80, 1200),
        SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "127.0.0.1", 49731, 3100),
    };
    InstallSimulatedNetwork(&system);
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("2: 0.0.0.0:80 127.0.0.1:80 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(0));
    ControllerLogClose();
    EXPECT_EQ(std::string(MappingHead) +
              SrvBlock("Apache2.2", 1200, MIB_TCP_STATE_LISTEN, 0, 80) +
              SrvBlock("Apache2.2", 1200, MIB_TCP_STATE_ESTAB, 16777343, 80),
              ReadControllerLog());
}

TEST_F(SimulatedTcpTableTest, SixthAndLaterRowsAreLoggedButNeverWrittenPastTheSlots)
{
    SetService(0, 1, SERVICE_RUNNING, 1200);
    SetService(1, 1, SERVICE_RUNNING, 1300);
    for (USHORT k = 0; k < 9; k++) {
        system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "127.0.0.1", (USHORT)(9000 + k), 1200));
    }
    system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "127.0.0.1", 3306, 1300));
    InstallSimulatedNetwork(&system);
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("5: 127.0.0.1:9000 127.0.0.1:9001 127.0.0.1:9002 127.0.0.1:9003 127.0.0.1:9004", Record(0));
    EXPECT_EQ("1: 127.0.0.1:3306 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(1));
    ControllerLogClose();
    std::string expected = MappingHead;
    for (int k = 0; k < 9; k++) expected += SrvBlock("Apache2.2", 1200, MIB_TCP_STATE_ESTAB, 16777343, 9000 + k);
    expected += SrvBlock("MySQL", 1300, MIB_TCP_STATE_LISTEN, 16777343, 3306);
    EXPECT_EQ(expected, ReadControllerLog());
}

} // namespace
