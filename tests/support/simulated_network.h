// A simulated system behind network/network.h's layer for what Wine cannot produce (socket names, transport
// answers, failing tables): installed in NetworkCalls, it records each call and checks its arguments (`faults`).
#ifndef QVX_TESTS_SIMULATED_NETWORK_H
#define QVX_TESTS_SIMULATED_NETWORK_H
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <string>
#include <vector>

enum SimulatedNameBehaviour {
    NameAnswers,
    NameAbsent,
    NameFails,
    NameBlocks /* until released */
};
enum SimulatedTransportBehaviour {
    TransportAnswers,
    TransportFails,
    TransportPendingCompletes,
    TransportPendingForever
};
struct
    SimulatedHandle { // address in network, port in host order; a failing transport leaves error 50
    DWORD processId = 0;
    BYTE typeNumber = 28;
    USHORT handle = 0;
    std::wstring name;
    SimulatedNameBehaviour nameBehaviour = NameAnswers;
    SimulatedTransportBehaviour transport = TransportAnswers;
    DWORD address = 0;
    USHORT port = 0;
    bool duplicateFails = false;
};
struct SimulatedNetwork { // what the system holds, then what it saw
    std::vector<SimulatedHandle> handles;
    std::vector<DWORD> unopenableProcesses, tcpForcedResults; // forced results per call, 0: answer
    std::vector<std::string> missingProcedures;
    bool handleTableGrowsBetweenCalls = false, tcpTableAvailable = false, ipSecondCallFails = false;
    std::vector<MIB_TCPROW_OWNER_PID> tcpRows;
    std::vector<MIB_IPADDRROW> ipRows;
    std::vector<std::string> lookups, faults; // "MODULE!procedure"; calls with wrong arguments
    std::vector<ULONG> handleTableLengths, ipTableSizes;
    std::vector<DWORD> tcpTableSizes, openedProcesses;
    std::vector<size_t> duplicatedHandles, namedHandles, transportQueries; // indexes into handles
    int openObjects = 0, cancelCalls = 0, lateCompletionsFailed = 0;
};
void InstallSimulatedNetwork(SimulatedNetwork *network);
void ReleaseBlockedQueries();
void CompletePendingTransportQueries();
void RemoveSimulatedNetwork(); // both of the above; waits for stuck walkers; the system's calls back
LONG NTAPI SimulatedNtQuerySystemInformation(ULONG informationClass, PVOID buffer, ULONG length,
                                             PULONG returned);
LONG NTAPI SimulatedNtQueryObject(HANDLE handle, ULONG informationClass, PVOID buffer, ULONG length,
                                  PULONG returned);
LONG NTAPI SimulatedNtDeviceIoControlFile(HANDLE file, HANDLE event, PVOID apc, PVOID apcContext,
                                          PVOID ioStatus, ULONG code, PVOID input,
                                          ULONG inputLength, PVOID output, ULONG outputLength);
MIB_IPADDRROW SimulatedIpRow(const char *dotted, unsigned short type);
MIB_TCPROW_OWNER_PID SimulatedTcpRow(DWORD state, const char *local, USHORT port,
                                     DWORD pid); // port in host order
#endif
