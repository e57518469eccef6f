// A simulated system behind the network layer (network/network.h) for what Wine cannot produce:
// socket names, transport answers, a token without the debug privilege, failing events. Installed
// in NetworkCalls, it answers from a SimulatedNetwork, refuses calls with wrong arguments as the
// system would, and notes what it was asked.
#ifndef QVX_TESTS_SIMULATED_NETWORK_H
#define QVX_TESTS_SIMULATED_NETWORK_H
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <string>
#include <vector>

// How the system answers for a handle. A blocked call, and a request pending forever (which
// ignores its cancel), returns at ReleaseStuckQueries.
enum SimulatedAnswer {
    Answers,
    PendingCompletes,
    PendingForever,
    CancelBlocks,
    NameBlocks
};

// A file handle (type 28 unless typeNumber says otherwise); for a socket, its local address
// (0.0.0.0 when null) and port.
struct SimulatedHandle {
    DWORD processId;
    USHORT handle;
    std::wstring name;
    const char *address;
    USHORT port;
    SimulatedAnswer answer;
    BYTE typeNumber;
};

struct SimulatedNetwork {
    bool hasTcpTable;
    std::vector<MIB_TCPROW_OWNER_PID> tcpRows;
    std::vector<SimulatedHandle> handles;
    bool privilegeNotAssigned;
    bool eventsFail;
    std::vector<MIB_IPADDRROW> ipRows;
    bool ipSecondCallFails;
    std::vector<ULONG> tableSizes; // the buffer size each table call was given
    std::vector<DWORD> openedProcesses;
    LONG openObjects;
};

void InstallSimulatedNetwork(SimulatedNetwork *network);
void ReleaseStuckQueries();
// The threads that asked for requests still pending stop where they are, as a driver that ignores
// cancellation holds their exit; returns how many. RemoveSimulatedNetwork lets them go.
int HoldRequestingThreads();
// Releases everything, waits for the walkers and puts the system's own calls back.
void RemoveSimulatedNetwork();
MIB_TCPROW_OWNER_PID SimulatedTcpRow(DWORD state, const char *address, USHORT port, DWORD pid);
MIB_IPADDRROW SimulatedIpRow(const char *address, unsigned short type);
#endif
