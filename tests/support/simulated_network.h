// A simulated system behind the network layer; it refuses a wrong access, class, code or request.
#ifndef QVX_TESTS_SIMULATED_NETWORK_H
#define QVX_TESTS_SIMULATED_NETWORK_H
#include <winsock2.h>
#include <iphlpapi.h>
#include <string>
#include <vector>

// A blocked query returns, and a pending request completes, at RemoveSimulatedNetwork.
enum SimulatedAnswer {
    Answers,
    Pending,
    CancelBlocks,
    NameBlocks
};

// A file handle, of type 28 unless typeNumber says otherwise; a null address is 0.0.0.0.
struct SimulatedHandle {
    DWORD processId;
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
    std::vector<MIB_IPADDRROW> ipRows;
    bool ipSecondCallFails;
    std::vector<DWORD> openedProcesses;
    std::vector<HANDLE> pendingEvents;
};

void InstallSimulatedNetwork(SimulatedNetwork *network);
// Stops the thread that made the last pending request, as a driver holding its exit would.
bool HoldRequestingThread();
void RemoveSimulatedNetwork();
MIB_TCPROW_OWNER_PID SimulatedTcpRow(DWORD state, const char *address, USHORT port, DWORD pid);
#endif
