// A simulated system behind the layer of network/network.h, for the cases
// Wine cannot produce: a system handle table with socket device names and
// transport answers, a missing or failing TCP owner table, a failing IPv4
// address table. Installing it replaces NetworkCalls; every call the
// mapping makes is checked against the documented arguments and recorded.
#ifndef QVX_TESTS_SIMULATED_NETWORK_H
#define QVX_TESTS_SIMULATED_NETWORK_H

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <string>
#include <vector>

enum SimulatedNameBehaviour {
    NameAnswers,        // the name, sized through STATUS_BUFFER_OVERFLOW
    NameAbsent,         // success without a name (null Buffer)
    NameFails,          // STATUS_ACCESS_DENIED
    NameBlocks          // does not return until ReleaseBlockedQueries()
};

enum SimulatedTransportBehaviour {
    TransportAnswers,           // the address at once
    TransportFails,             // STATUS_UNSUCCESSFUL, last error 50
    TransportPendingCompletes,  // STATUS_PENDING, answered 60 ms later
    TransportPendingUntilCancel,// STATUS_PENDING until NtCancelIoFile
    TransportPendingForever     // STATUS_PENDING, cancel ignored
};

struct SimulatedHandle {
    DWORD processId = 0;
    BYTE typeNumber = 28;
    USHORT handle = 0;
    std::wstring name;
    SimulatedNameBehaviour nameBehaviour = NameAnswers;
    SimulatedTransportBehaviour transport = TransportAnswers;
    DWORD address = 0;          // network byte order
    USHORT port = 0;            // host byte order
    bool duplicateFails = false;
};

struct SimulatedNetwork {
    // What the system holds.
    std::vector<SimulatedHandle> handles;
    std::vector<DWORD> unopenableProcesses;
    std::vector<std::string> missingProcedures;     // procedure names
    bool handleTableGrowsBetweenCalls = false;
    bool tcpTableAvailable = false;
    std::vector<MIB_TCPROW_OWNER_PID> tcpRows;
    std::vector<DWORD> tcpForcedResults;            // per call; the rest answer normally
    std::vector<MIB_IPADDRROW> ipRows;
    bool ipSecondCallFails = false;

    // What the system saw.
    std::vector<std::string> lookups;               // "MODULE!procedure"
    std::vector<ULONG> handleTableLengths;
    std::vector<DWORD> tcpTableSizes;
    std::vector<ULONG> ipTableSizes;
    std::vector<DWORD> openedProcesses;
    std::vector<size_t> duplicatedHandles;          // indexes into handles
    std::vector<size_t> namedHandles;
    std::vector<size_t> transportQueries;
    std::vector<std::string> faults;                // calls made with wrong arguments
    int openObjects = 0;                            // process and duplicate handles not closed
    int cancelCalls = 0;
    int lateCompletionsFailed = 0;                  // pending answers whose event was gone

    // The handle table as the system returns it, built by Install.
    std::vector<BYTE> tableImage;
};

void InstallSimulatedNetwork(SimulatedNetwork *network);
// Releases blocked queries and waits until no walker thread is left (the
// test bed copes badly with a process ending while several threads
// wait), then puts the system's own calls back.
void RemoveSimulatedNetwork();
// Lets blocked name queries return, one after another; later ones do not
// block.
void ReleaseBlockedQueries();
// Completes transport queries left pending (the request's event must still
// be open and its block still owned by the request).
void CompletePendingTransportQueries();

// The simulated native functions themselves, for benchmarks that call them
// directly.
LONG NTAPI SimulatedNtQuerySystemInformation(ULONG informationClass, PVOID buffer, ULONG length,
                                             PULONG returned);
LONG NTAPI SimulatedNtQueryObject(HANDLE handle, ULONG informationClass, PVOID buffer, ULONG length,
                                  PULONG returned);
LONG NTAPI SimulatedNtDeviceIoControlFile(HANDLE file, HANDLE event, PVOID apc, PVOID apcContext,
                                          PVOID ioStatus, ULONG code, PVOID input, ULONG inputLength,
                                          PVOID output, ULONG outputLength);

// A row of the IPv4 address table.
MIB_IPADDRROW SimulatedIpRow(const char *dotted, unsigned short type);
// A row of the TCP owner table (port in host order).
MIB_TCPROW_OWNER_PID SimulatedTcpRow(DWORD state, const char *local, USHORT port, DWORD pid);

#endif
