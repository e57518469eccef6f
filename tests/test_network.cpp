// The network endpoints, the address classes and base URL, the address list, on a simulated system.
#include <winsock2.h>
#include <gtest/gtest.h>

#include "log/log.h"
#include "network/network.h"
#include "services/services.h"
#include "support/simulated_network.h"
#include "support/test_support.h"

using std::string;

namespace
{

// The endpoints recorded, each service's ended by "|".
string Recorded()
{
    string text;
    for (const ServiceEndpoints &record : EndpointTable) {
        for (DWORD k = 0; k < record.count && k <= ENDPOINT_SLOTS; k++)
            text += string(inet_ntoa(*(in_addr *)&record.slots[k].address)) + ":" +
                    std::to_string(record.slots[k].port) + " ";
        text += "|";
    }
    return text;
}

class NetworkTest : public ::testing::Test
{
  protected:
    SimulatedNetwork system = SimulatedNetwork();

    void SetUp() override
    {
        OpenFreshControllerLog();
        InstallSimulatedNetwork(&system);
    }

    void TearDown() override
    {
        RemoveSimulatedNetwork();
    }
};

#ifndef _WIN64
BOOL WINAPI NotAllAssigned(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD)
{
    SetLastError(ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

HANDLE WINAPI NoEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
}

TEST_F(NetworkTest, ClosingTheDialogWaitsForTheWalkerWithinTheBound)
{
    HWND dialog = CreateControllerDialog();
    system.handles = { { .processId = 1200, .name = L"\\Device\\Tcp", .answer = Pending } };
    ServiceTable.entries[0].bInstalled = 1;
    ServiceTable.entries[0].ssStatus.dwCurrentState = SERVICE_RUNNING;
    ServiceTable.entries[0].ssStatus.dwProcessId = 1200;
    MapServiceEndpoints();
    ServiceTable.entries[0].bInstalled = 0;
    EXPECT_TRUE(HoldRequestingThread());

    DWORD start = GetTickCount();
    DestroyControllerDialog(dialog);

    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ("\nfree 'lpDescription' (W3svc) performed.\n",
              Between(ReadControllerLog(), "\nfree 'lpDescription' (W3svc)", ""));
}
#endif

// Tomcat is stopped, W3svc runs but is not installed. Without the TCP table the walk opens nothing
// without the debug privilege or a walker, asks exact device names only, and stops at 16 stuck.
TEST_F(NetworkTest, EndpointsByTheTcpTableOrTheHandleWalk)
{
    for (int i = 0; i < SERVICE_COUNT; i++) {
        ServiceTable.entries[i].bInstalled = i < 3;
        ServiceTable.entries[i].ssStatus.dwCurrentState =
            i == 2 ? SERVICE_STOPPED : SERVICE_RUNNING;
        ServiceTable.entries[i].ssStatus.dwProcessId = 1200 + 100 * i;
    }
    system.hasTcpTable = true;
    system.tcpRows = { SimulatedTcpRow(MIB_TCP_STATE_ESTAB, "192.168.1.200", 80, 1200) };
    for (USHORT port = 9001; port <= 9005; port++)
        system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "127.0.0.1", port, 1200));
    for (DWORD pid : { 1300, 1400, 1500 })
        system.tcpRows.push_back(SimulatedTcpRow(MIB_TCP_STATE_LISTEN, "10.0.0.2", 3306, pid));
    system.tcpRows[0].dwLocalPort |= 0xABCD0000; // only the low 16 bits hold the port

    EXPECT_EQ(1, MapServiceEndpoints());

    EXPECT_EQ("192.168.1.200:80 127.0.0.1:9001 127.0.0.1:9002 127.0.0.1:9003 127.0.0.1:9004 "
              "|10.0.0.2:3306 |||",
              Recorded());
    system.hasTcpTable = false;
    OpenFreshControllerLog();
#ifdef _WIN64
    EXPECT_EQ(0, MapServiceEndpoints());

    EXPECT_EQ("||||", Recorded());
    const char *expected = "handle_walk_64.log";
#else
    system.handles = {
        { .processId = 1200, .name = L"\\Device\\Tcp", .address = "127.0.0.1", .port = 80 },
        { .processId = 1200, .name = L"\\Device\\Tcp", .port = 81, .typeNumber = 5 },
        { .processId = 1300, .name = L"\\Device\\Udp", .port = 53, .typeNumber = 26 },
        { .processId = 1300, .name = L"\\device\\tcp" },
        { .processId = 1400, .name = L"\\Device\\Tcp" },
        { .processId = 1200, .name = L"\\Device\\Udp", .port = 83, .answer = Pending },
        { .processId = 1200, .name = L"\\Device\\Tcp", .port = 84, .answer = CancelBlocks },
    };
    system.handles.resize(21,
                          { .processId = 1200, .name = L"\\Device\\Null", .answer = NameBlocks });
    system.handles.push_back({ .processId = 1200, .name = L"\\Device\\Tcp", .port = 85 });
    NetworkCalls.pAdjustTokenPrivileges = NotAllAssigned;
    MapServiceEndpoints();
    NetworkCalls.pAdjustTokenPrivileges = AdjustTokenPrivileges;
    NetworkCalls.pCreateEventA = NoEvent;
    EndHandleWalker();
    MapServiceEndpoints();
    NetworkCalls.pCreateEventA = CreateEventA;

    EXPECT_EQ(0, MapServiceEndpoints());

    std::vector<DWORD> opened = { 1200, 1300, 1300 };
    opened.resize(19, 1200);
    EXPECT_EQ(opened, system.openedProcesses);
    EXPECT_EQ("127.0.0.1:80 |0.0.0.0:53 |||", Recorded());
    const char *expected = "handle_walk.log";
#endif
    ControllerLogClose();
    EXPECT_EQ(ExpectedText(expected), ReadControllerLog());
}

TEST_F(NetworkTest, AddressClassesAndBaseUrl)
{
    const struct {
        DWORD state; // 0: not installed
        const char *address;
        DWORD port;
        const char *text;
        const char *url;
    } cases[] = {
        { SERVICE_RUNNING, "0.0.0.0", 443, "all", "https://localhost" },
        { SERVICE_RUNNING, "0.0.0.0", 0, "all", "http://localhost" },
        { SERVICE_START_PENDING, "127.0.0.1", 8080, "local", "http://localhost:8080" },
        { SERVICE_RUNNING, "169.254.1.1", 8, "failed", "http://169.254.1.1:8" },
        { SERVICE_RUNNING, "172.16.0.1", 443, "private", "https://172.16.0.1" },
        { SERVICE_RUNNING, "192.168.0.1", 80, "private", "http://192.168.0.1" },
        { SERVICE_STOPPED, "172.32.0.1", 81, "public", "http://localhost" },
        { 0, "10.0.0.2", 81, "private", "http://localhost" },
    };
    for (const auto &c : cases) {
        char text[256];
        ServiceTable.entries[0].bInstalled = c.state != 0;
        ServiceTable.entries[0].ssStatus.dwCurrentState = c.state;
        EndpointTable[0] = { 1, { { inet_addr(c.address), c.port } } };

        ClassifyIpAddress(text, inet_addr(c.address));

        EXPECT_EQ(string(c.text), text) << c.address;

        BuildLocalBaseUrl(text);

        EXPECT_EQ(string(c.url), text) << c.address << ":" << c.port;
    }
}

TEST_F(NetworkTest, LocalIpListKeepsFiveOfSevenAndNothingAfterAFailure)
{
    const unsigned short types[] = { 1, 4, 8, 5, 128, 64, 1 };
    for (int k = 0; k < 7; k++)
        system.ipRows.push_back({ .dwAddr = inet_addr("192.168.1.200") + k, .wType = types[k] });

    ReadLocalIpAddresses();
    system.ipSecondCallFails = true;
    ReadLocalIpAddresses();

    ControllerLogClose();
    EXPECT_EQ(ExpectedText("local_ips.log"), ReadControllerLog());
}

} // namespace
