// The handle-walk fallback of the endpoint mapping. Wine names no socket
// "\Device\Tcp" and answers no transport query, so these tests run the
// mapping against the simulated system of support/simulated_network.h (a
// handle table, names, transport answers) with GetExtendedTcpTable absent;
// the debug privilege, the walker threads and the log are real. One test
// walks Wine's own handle table.
#include <winsock2.h>
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "app/controller.h"
#include "network/network.h"
#include "services/services.h"
#include "support/simulated_network.h"
#include "support/test_services.h"
#include "support/test_support.h"

namespace {

const DWORD ApachePid = 1200;
const DWORD MySqlPid = 1300;
const DWORD TomcatOldPid = 1400;
const DWORD W3svcPid = 1500;
const DWORD OtherPid = 999;

void SetService(int i, int installed, DWORD state, DWORD pid)
{
    ServiceEntry &entry = ServiceTable.entries[i];
    entry.bInstalled = installed;
    memset(&entry.ssStatus, 0, sizeof(entry.ssStatus));
    entry.ssStatus.dwCurrentState = state;
    entry.ssStatus.dwProcessId = pid;
}

SimulatedHandle Handle(DWORD pid, BYTE type, USHORT value, const wchar_t *name,
                       const char *address = "0.0.0.0", USHORT port = 0)
{
    SimulatedHandle h;
    h.processId = pid;
    h.typeNumber = type;
    h.handle = value;
    h.name = name;
    h.address = inet_addr(address);
    h.port = port;
    return h;
}

std::string IpBlock(const char *dotted, int port)
{
    std::string padded = dotted;
    padded.resize(16, ' ');
    return "IP:\t\t" + padded + "\nPort:\t\t" + std::to_string(port) + "\n";
}

const char *const FallbackHead =
    "\nMapping Process IDs to IP:PORTs..."
    "\nGetProcAddress (GetExtendedTcpTable) failed (127), unable to load DLL.\n"
    "\nUsing enum handle method instead...\n";

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

class HandleWalkTest : public ::testing::Test {
protected:
    SimulatedNetwork system;

    void SetUp() override
    {
        OpenFreshControllerLog();
        for (int i = 0; i < SERVICE_COUNT; i++) SetService(i, 0, 0, 0);
    }
    void TearDown() override
    {
        RemoveSimulatedNetwork();
        ControllerLogClose();
        for (int i = 0; i < SERVICE_COUNT; i++) SetService(i, 0, 0, 0);
        EXPECT_EQ(0, StalledHandleWalkers());
        EXPECT_EQ(0, HandleWalkerThreads());
    }
    void Install() { InstallSimulatedNetwork(&system); }
    std::string CloseAndReadLog()
    {
        ControllerLogClose();
        return ReadControllerLog();
    }
    void ExpectNoFaultsAndAllClosed()
    {
        EXPECT_TRUE(system.faults.empty()) << system.faults[0];
        EXPECT_EQ(0, system.openObjects) << "process or duplicated handles left open";
    }
};

TEST_F(HandleWalkTest, RecordsTcpAndUdpDevicesOfRunningServicesAndOpensNoOtherProcess)
{
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    SetService(1, 1, SERVICE_RUNNING, MySqlPid);
    SetService(2, 1, SERVICE_STOPPED, TomcatOldPid);     // its old process id still in the table
    SetService(3, 0, SERVICE_RUNNING, W3svcPid);         // not installed
    system.handles = {
        Handle(ApachePid, 28, 0x10, L"\\Device\\Tcp", "0.0.0.0", 80),
        Handle(ApachePid, 5, 0x14, L"\\Device\\Tcp", "0.0.0.0", 81),     // not a file handle
        Handle(MySqlPid, 26, 0x20, L"\\Device\\Udp", "0.0.0.0", 53),
        Handle(MySqlPid, 28, 0x24, L"\\device\\tcp", "0.0.0.0", 82),     // letter case differs
        Handle(MySqlPid, 28, 0x28, L"\\Device\\Tcp6", "0.0.0.0", 83),    // longer
        Handle(MySqlPid, 28, 0x2C, L"\\Device\\Udp", "127.0.0.1", 3306),
        Handle(OtherPid, 28, 0x10, L"\\Device\\Tcp", "0.0.0.0", 84),
        Handle(TomcatOldPid, 28, 0x10, L"\\Device\\Tcp", "0.0.0.0", 85),
        Handle(W3svcPid, 26, 0x10, L"\\Device\\Tcp", "0.0.0.0", 86),
        Handle(ApachePid, 28, 0x30, L"\\Device\\NamedPipe\\ap"),
    };
    Install();
    memset(EndpointTable, 0x5A, sizeof(EndpointTable));   // cleared first

    SetLastError(0xdeadbeef);
    EXPECT_EQ(1, MapServiceEndpoints());

    EXPECT_EQ("1: 0.0.0.0:80 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(0));
    EXPECT_EQ("2: 0.0.0.0:53 127.0.0.1:3306 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(1));
    EXPECT_EQ("0: 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(2));
    EXPECT_EQ("0: 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(3));
    EXPECT_EQ((std::vector<DWORD>{ ApachePid, MySqlPid, MySqlPid, MySqlPid, MySqlPid, ApachePid }),
              system.openedProcesses);
    EXPECT_EQ((std::vector<size_t>{ 0, 2, 5 }), system.transportQueries);
    EXPECT_EQ((std::vector<size_t>{ 0, 2, 3, 4, 5, 9 }), system.namedHandles);
    ASSERT_GE(system.lookups.size(), 3u);
    EXPECT_EQ("Iphlpapi.dll!GetExtendedTcpTable", system.lookups[0]);
    EXPECT_EQ("NTDLL.DLL!NtQuerySystemInformation", system.lookups[1]);
    for (size_t i = 2; i < system.lookups.size(); i++) {
        EXPECT_EQ(0u, system.lookups[i].find("NTDLL.DLL!Nt")) << system.lookups[i];
    }
    EXPECT_EQ((std::vector<ULONG>{ 20, 4 + 16 * 10 }), system.handleTableLengths);
    ExpectNoFaultsAndAllClosed();

    std::string expected = std::string(FallbackHead) +
        "\nFound 10 Handles on System...\n"
        "\nObject Name: \\Device\\Tcp\n" + IpBlock("0.0.0.0", 80) +
        "\nObject Name: \\Device\\Udp\n" + IpBlock("0.0.0.0", 53) +
        "\nObject Name: \\device\\tcp\n"
        "\nObject Name: \\Device\\Tcp6\n"
        "\nObject Name: \\Device\\Udp\n" + IpBlock("127.0.0.1", 3306) +
        "\nObject Name: \\Device\\NamedPipe\\ap\n";
    EXPECT_EQ(expected, CloseAndReadLog());
}

TEST_F(HandleWalkTest, SixthAndLaterEndpointsAreLoggedButNeverRecorded)
{
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    SetService(1, 1, SERVICE_RUNNING, MySqlPid);
    for (USHORT k = 0; k < 7; k++) {
        system.handles.push_back(Handle(ApachePid, 28, (USHORT)(0x100 + 4 * k), L"\\Device\\Tcp",
                                        "10.0.0.2", (USHORT)(8001 + k)));
    }
    system.handles.push_back(Handle(MySqlPid, 28, 0x10, L"\\Device\\Tcp", "127.0.0.1", 3306));
    Install();

    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("5: 10.0.0.2:8001 10.0.0.2:8002 10.0.0.2:8003 10.0.0.2:8004 10.0.0.2:8005", Record(0));
    EXPECT_EQ("1: 127.0.0.1:3306 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(1));
    ExpectNoFaultsAndAllClosed();

    std::string expected = std::string(FallbackHead) + "\nFound 8 Handles on System...\n";
    for (int k = 0; k < 7; k++) expected += "\nObject Name: \\Device\\Tcp\n" + IpBlock("10.0.0.2", 8001 + k);
    expected += "\nObject Name: \\Device\\Tcp\n" + IpBlock("127.0.0.1", 3306);
    EXPECT_EQ(expected, CloseAndReadLog());
}

TEST_F(HandleWalkTest, FailuresForOneHandleCostOnlyThatHandle)
{
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    SetService(1, 1, SERVICE_RUNNING, MySqlPid);
    system.unopenableProcesses = { MySqlPid };
    system.handles = {
        Handle(MySqlPid, 28, 0x10, L"\\Device\\Tcp", "0.0.0.0", 3306),
        Handle(ApachePid, 28, 0x10, L"\\Device\\Tcp", "0.0.0.0", 81),
        Handle(ApachePid, 28, 0x14, L"\\Device\\Tcp", "0.0.0.0", 82),
        Handle(ApachePid, 28, 0x18, L"\\Device\\Tcp", "0.0.0.0", 83),
        Handle(ApachePid, 28, 0x1C, L"\\Device\\Tcp", "0.0.0.0", 84),
        Handle(ApachePid, 28, 0x20, L"\\Device\\Tcp", "0.0.0.0", 85),
    };
    system.handles[1].duplicateFails = true;
    system.handles[2].nameBehaviour = NameFails;
    system.handles[3].nameBehaviour = NameAbsent;
    system.handles[4].transport = TransportFails;
    Install();

    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("1: 0.0.0.0:85 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(0));
    EXPECT_EQ(0u, EndpointTable[1].count);
    EXPECT_EQ((std::vector<DWORD>{ MySqlPid, ApachePid, ApachePid, ApachePid, ApachePid, ApachePid }),
              system.openedProcesses);
    EXPECT_EQ((std::vector<size_t>{ 2, 3, 4, 5 }), system.namedHandles);
    EXPECT_EQ((std::vector<size_t>{ 4, 5 }), system.transportQueries);
    ExpectNoFaultsAndAllClosed();

    // The failed transport query logs the number its call left.
    EXPECT_EQ(std::string(FallbackHead) +
              "\nFound 6 Handles on System...\n"
              "\nObject Name: \\Device\\Tcp\n"
              "\nNtDeviceIoControlFile() failed(50).\n"
              "\nObject Name: \\Device\\Tcp\n" + IpBlock("0.0.0.0", 85),
              CloseAndReadLog());
}

TEST_F(HandleWalkTest, MissingNativeFunctionsAreLoggedWithTheLookupError)
{
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    system.handles = { Handle(ApachePid, 28, 0x10, L"\\Device\\Tcp", "0.0.0.0", 80) };

    system.missingProcedures = { "NtQuerySystemInformation" };
    Install();
    EXPECT_EQ(0, MapServiceEndpoints()) << "both methods failed";
    EXPECT_TRUE(system.openedProcesses.empty());
    system.missingProcedures = { "NtQueryObject" };
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ(0u, EndpointTable[0].count);
    system.missingProcedures = { "NtDeviceIoControlFile" };
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ(0u, EndpointTable[0].count);
    ExpectNoFaultsAndAllClosed();

    EXPECT_EQ(std::string(FallbackHead) +
              "GetProcAddress (NtQuerySystemInformation) failed (127), unable to load DLL.\n" +
              FallbackHead +
              "\nFound 1 Handles on System...\n"
              "GetProcAddress (NtQueryObject) failed (127), unable to load DLL.\n" +
              FallbackHead +
              "\nFound 1 Handles on System...\n"
              "\nObject Name: \\Device\\Tcp\n"
              "GetProcAddress (NtDeviceIoControlFile) failed (127), unable to load DLL.\n",
              CloseAndReadLog());
}

// Handle counts around the 20-byte probe: 0 and 1 entries fit it (one
// call), 2 need exactly one buffer of the reported length and one repeat.
TEST_F(HandleWalkTest, HandleTableIsSizedByOneProbeAndReadOnce)
{
    struct Case { size_t entries; std::vector<ULONG> lengths; };
    const Case cases[] = {
        { 0, { 20 } },
        { 1, { 20 } },
        { 2, { 20, 36 } },
        { 3, { 20, 52 } },
    };
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    for (const Case &c : cases) {
        system.handles.clear();
        for (size_t k = 0; k < c.entries; k++) {
            system.handles.push_back(Handle(ApachePid, 28, (USHORT)(4 + 4 * k), L"\\Device\\Tcp",
                                            "0.0.0.0", (USHORT)(80 + k)));
        }
        system.handleTableLengths.clear();
        Install();
        EXPECT_EQ(1, MapServiceEndpoints()) << c.entries << " entries";
        EXPECT_EQ(c.lengths, system.handleTableLengths) << c.entries << " entries";
        EXPECT_EQ((DWORD)c.entries, EndpointTable[0].count) << c.entries << " entries";
    }
    ExpectNoFaultsAndAllClosed();
}

TEST_F(HandleWalkTest, TableThatGrowsBetweenTheTwoCallsIsALoggedFailureWithoutRetry)
{
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    system.handles = { Handle(ApachePid, 28, 0x10, L"\\Device\\Tcp", "0.0.0.0", 80),
                       Handle(ApachePid, 28, 0x14, L"\\Device\\Tcp", "0.0.0.0", 81) };
    system.handleTableGrowsBetweenCalls = true;
    Install();

    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, MapServiceEndpoints());
    EXPECT_EQ((std::vector<ULONG>{ 20, 36 }), system.handleTableLengths) << "no third attempt";
    EXPECT_TRUE(system.openedProcesses.empty());
    EXPECT_EQ(0u, EndpointTable[0].count);
    // The number is the one the failing call left (24), not a stale one.
    EXPECT_EQ(std::string(FallbackHead) +
              "\nNtQuerySystemInformation() failed (24) with NTSTATUS c0000004.\n",
              CloseAndReadLog());
}

// A name query that never returns: the mapping gives it up, goes on with
// the next handles, and ends within a second; the walker that was stuck
// writes nothing when it finally comes back, and closes what it held.
TEST_F(HandleWalkTest, NameQueryThatNeverReturnsDoesNotHoldTheMapping)
{
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    SetService(2, 1, SERVICE_RUNNING, TomcatOldPid);
    system.handles = {
        Handle(ApachePid, 28, 0x10, L"\\Device\\NamedPipe\\blocked"),
        Handle(ApachePid, 28, 0x14, L"\\Device\\Tcp", "0.0.0.0", 80),
        Handle(TomcatOldPid, 28, 0x10, L"\\Device\\NamedPipe\\blocked-too"),
        Handle(TomcatOldPid, 28, 0x18, L"\\Device\\Tcp", "127.0.0.1", 8080),
    };
    system.handles[0].nameBehaviour = NameBlocks;
    system.handles[2].nameBehaviour = NameBlocks;
    Install();

    DWORD start = GetTickCount();
    EXPECT_EQ(1, MapServiceEndpoints());
    DWORD elapsed = GetTickCount() - start;
    EXPECT_LT(elapsed, 1000u) << "mapping with two blocking name queries took " << elapsed << " ms";
    EXPECT_EQ("1: 0.0.0.0:80 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(0));
    EXPECT_EQ("1: 127.0.0.1:8080 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(2));
    EXPECT_EQ(2, StalledHandleWalkers());
    EXPECT_EQ((std::vector<size_t>{ 0, 1, 2, 3 }), system.namedHandles);

    ReleaseBlockedQueries();
    for (int i = 0; i < 300 && StalledHandleWalkers() > 0; i++) Sleep(10);
    // Back from their queries, the given-up walkers wrote nothing.
    EXPECT_EQ(0, StalledHandleWalkers());
    ExpectNoFaultsAndAllClosed();

    // Later mappings run normally on a fresh walker.
    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ(1u, EndpointTable[0].count);
    EXPECT_EQ(1u, EndpointTable[2].count);
    ExpectNoFaultsAndAllClosed();

    EXPECT_EQ(std::string(FallbackHead) +
              "\nFound 4 Handles on System...\n"
              "\nObject Name: \\Device\\Tcp\n" + IpBlock("0.0.0.0", 80) +
              "\nObject Name: \\Device\\Tcp\n" + IpBlock("127.0.0.1", 8080) +
              FallbackHead +
              "\nFound 4 Handles on System...\n"
              "\nObject Name: \\Device\\NamedPipe\\blocked\n"
              "\nObject Name: \\Device\\Tcp\n" + IpBlock("0.0.0.0", 80) +
              "\nObject Name: \\Device\\NamedPipe\\blocked-too\n"
              "\nObject Name: \\Device\\Tcp\n" + IpBlock("127.0.0.1", 8080),
              CloseAndReadLog());
}

// STATUS_PENDING: an answer that comes later is waited for and taken; one
// that is cancelled is a failure; one that never completes leaves its event
// and block to the request, which can still complete them afterwards.
TEST_F(HandleWalkTest, PendingTransportQueriesAreWaitedForBeforeTheirBuffersGo)
{
    SetService(0, 1, SERVICE_RUNNING, ApachePid);
    system.handles = {
        Handle(ApachePid, 28, 0x10, L"\\Device\\Tcp", "0.0.0.0", 8080),
        Handle(ApachePid, 28, 0x14, L"\\Device\\Udp", "0.0.0.0", 161),
        Handle(ApachePid, 28, 0x18, L"\\Device\\Tcp", "0.0.0.0", 8443),
        Handle(ApachePid, 28, 0x1C, L"\\Device\\Tcp", "127.0.0.1", 80),
    };
    system.handles[0].transport = TransportPendingCompletes;
    system.handles[1].transport = TransportPendingUntilCancel;
    system.handles[2].transport = TransportPendingForever;
    Install();

    EXPECT_EQ(1, MapServiceEndpoints());
    EXPECT_EQ("2: 0.0.0.0:8080 127.0.0.1:80 0.0.0.0:0 0.0.0.0:0 0.0.0.0:0", Record(0));
    EXPECT_EQ(2, system.cancelCalls);
    EXPECT_EQ(0, system.lateCompletionsFailed);
    CompletePendingTransportQueries();
    EXPECT_EQ(0, system.lateCompletionsFailed) << "the event of a request still pending was closed";
    ExpectNoFaultsAndAllClosed();

    EXPECT_EQ(std::string(FallbackHead) +
              "\nFound 4 Handles on System...\n"
              "\nObject Name: \\Device\\Tcp\n" + IpBlock("0.0.0.0", 8080) +
              "\nObject Name: \\Device\\Udp\n"
              "\nNtDeviceIoControlFile() failed(997).\n"
              "\nObject Name: \\Device\\Tcp\n"
              "\nNtDeviceIoControlFile() failed(997).\n"
              "\nObject Name: \\Device\\Tcp\n" + IpBlock("127.0.0.1", 80),
              CloseAndReadLog());
}

TEST(DebugPrivilege, IsEnabledInTheWinePrefixWithoutLogLines)
{
    OpenFreshControllerLog();
    EXPECT_EQ(1, EnableDebugPrivilege());
    EXPECT_EQ(1, EnableDebugPrivilege()) << "enabling it again";
    ControllerLogClose();
    EXPECT_EQ("", ReadControllerLog());

    HANDLE token = NULL;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    std::vector<BYTE> buffer(4096);
    DWORD needed = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer.data(), (DWORD)buffer.size(), &needed));
    CloseHandle(token);
    LUID debug;
    ASSERT_TRUE(LookupPrivilegeValueA(NULL, "SeDebugPrivilege", &debug));
    const TOKEN_PRIVILEGES *privileges = (const TOKEN_PRIVILEGES *)buffer.data();
    bool enabled = false;
    for (DWORD i = 0; i < privileges->PrivilegeCount; i++) {
        if (privileges->Privileges[i].Luid.LowPart == debug.LowPart
            && privileges->Privileges[i].Luid.HighPart == debug.HighPart) {
            enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    EXPECT_TRUE(enabled);
}

// Wine's own handle table, walked with the real native functions and the
// real process calls while a service holds sockets: the walk completes.
NetworkProcedure RealNtdllOnly(const char *module, const char *procedure)
{
    if (strcmp(procedure, "GetExtendedTcpTable") == 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    HMODULE handle = GetModuleHandleA(module);
    return handle ? (NetworkProcedure)GetProcAddress(handle, procedure) : NULL;
}

TEST(HandleWalkUnderWine, WalksTheRealHandleTableOfARunningService)
{
    RemoveAllManagedServices();
    TestServiceSetup apache;
    apache.name = "Apache2.2";
    apache.binaryPathOverride = "\"" + TestBinDirectory() + "qvx_endpoint_service.exe\" Apache2.2 "
                                "--listen 127.0.0.1:0 --connect-self";
    ASSERT_EQ("", InstallTestService(apache));
    ASSERT_EQ("", StartTestService("Apache2.2", SERVICE_RUNNING, 30000));
    OpenFreshControllerLog();
    ASSERT_EQ(1, ServiceTableOpen());
    OpenFreshControllerLog();

    NetworkCalls.pLookupProcedure = RealNtdllOnly;
    DWORD start = GetTickCount();
    int result = MapServiceEndpoints();
    DWORD elapsed = GetTickCount() - start;
    NetworkCalls = NetworkSystemCallsDefault;
    ControllerLogClose();
    std::string log = ReadControllerLog();
    for (int i = 0; i < 300 && HandleWalkerThreads() > 0; i++) Sleep(10);

    EXPECT_EQ(1, result) << log;
    EXPECT_EQ(std::string(FallbackHead), log.substr(0, strlen(FallbackHead)));
    EXPECT_NE(std::string::npos, log.find("\nFound ")) << log;
    EXPECT_LT(elapsed, 20000u);
    EXPECT_LE(EndpointTable[0].count, (DWORD)ENDPOINT_SLOTS);
    ServiceTableClose();
    RemoveAllManagedServices();
}

} // namespace
