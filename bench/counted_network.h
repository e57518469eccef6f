// What only the benchmarks need of the tests' simulated network: the calls counted on their way
// to it (so that both sides of a comparison can be checked to make the same ones), each lookup
// made at the cost of the system's own, and its native functions for the bare loops to call
// directly, counted the same way.
#ifndef QVX_BENCH_COUNTED_NETWORK_H
#define QVX_BENCH_COUNTED_NETWORK_H

#include <string.h>

#include <vector>

#include "network/network.h"
#include "support/simulated_network.h"

struct NetworkCallCounts {
    size_t lookups;
    size_t duplicated;
    size_t named;   // name queries, counted by their probes
    size_t queried; // name query calls, probes and fetches
    size_t transport;
};

typedef LONG(NTAPI *QuerySystemFunction)(ULONG, PVOID, ULONG, PULONG);
typedef LONG(NTAPI *QueryObjectFunction)(HANDLE, ULONG, PVOID, ULONG, PULONG);
typedef LONG(NTAPI *DeviceControlFunction)(HANDLE, HANDLE, PVOID, PVOID, PVOID, ULONG, PVOID, ULONG,
                                           PVOID, ULONG);

inline NetworkCallCounts &CallCounts()
{
    static NetworkCallCounts counts;
    return counts;
}

// The simulated system's own calls, as installed.
struct SimulatedFunctions {
    NetworkSystemCalls calls;
    QuerySystemFunction querySystem;
    QueryObjectFunction queryObject;
    DeviceControlFunction deviceControl;
};

inline SimulatedFunctions &Simulated()
{
    static SimulatedFunctions functions;
    return functions;
}

// The simulated system builds its handle table's answer anew at each call, which costs far more
// than the copy Windows makes of its table and would hide the walk's own cost in both sides'
// times; the benchmarks answer from a copy of it made at installation.
inline std::vector<BYTE> &HandleTableAnswer()
{
    static std::vector<BYTE> answer;
    return answer;
}

inline LONG NTAPI CountedNtQuerySystemInformation(ULONG kind, PVOID table, ULONG length,
                                                  PULONG returned)
{
    const std::vector<BYTE> &answer = HandleTableAnswer();
    if (kind != 16 || answer.empty())
        return Simulated().querySystem(kind, table, length, returned);
    if (length < answer.size()) {
        *returned = (ULONG)answer.size();
        return (LONG)0xC0000004;
    }
    memcpy(table, answer.data(), answer.size());
    *returned = length;
    return 0;
}

inline LONG NTAPI CountedNtQueryObject(HANDLE handle, ULONG kind, PVOID buffer, ULONG length,
                                       PULONG returned)
{
    if (length == 8)
        CallCounts().named++;
    CallCounts().queried++;
    return Simulated().queryObject(handle, kind, buffer, length, returned);
}

inline LONG NTAPI CountedNtDeviceIoControlFile(HANDLE file, HANDLE event, PVOID apc, PVOID context,
                                               PVOID status, ULONG code, PVOID input,
                                               ULONG inputLength, PVOID output, ULONG outputLength)
{
    CallCounts().transport++;
    return Simulated().deviceControl(file, event, apc, context, status, code, input, inputLength,
                                     output, outputLength);
}

// The simulated system answers a lookup from a table; this one first makes
// the system's own (the loaded module's handle, then the procedure's
// address), so that a lookup costs what it costs the program on Windows.
inline NetworkProcedure CountedLookup(const char *module, const char *procedure)
{
    CallCounts().lookups++;
    HMODULE loaded = GetModuleHandleA(module);
    if (loaded != NULL)
        GetProcAddress(loaded, procedure);
    if (strcmp(procedure, "NtQuerySystemInformation") == 0)
        return (NetworkProcedure)CountedNtQuerySystemInformation;
    if (strcmp(procedure, "NtQueryObject") == 0)
        return (NetworkProcedure)CountedNtQueryObject;
    if (strcmp(procedure, "NtDeviceIoControlFile") == 0)
        return (NetworkProcedure)CountedNtDeviceIoControlFile;
    return Simulated().calls.pLookupProcedure(module, procedure);
}

inline BOOL WINAPI CountedDuplicateHandle(HANDLE process, HANDLE source, HANDLE target,
                                          LPHANDLE copy, DWORD access, BOOL inherit, DWORD options)
{
    CallCounts().duplicated++;
    return Simulated().calls.pDuplicateHandle(process, source, target, copy, access, inherit,
                                              options);
}

// The simulated network with the counting layer in front of it, the counts set to zero.
inline void InstallCountedNetwork(SimulatedNetwork *system)
{
    InstallSimulatedNetwork(system);
    Simulated().calls = NetworkCalls;
    Simulated().querySystem = (QuerySystemFunction)NetworkCalls.pLookupProcedure(
        NTDLL_MODULE_NAME, "NtQuerySystemInformation");
    Simulated().queryObject =
        (QueryObjectFunction)NetworkCalls.pLookupProcedure(NTDLL_MODULE_NAME, "NtQueryObject");
    Simulated().deviceControl = (DeviceControlFunction)NetworkCalls.pLookupProcedure(
        NTDLL_MODULE_NAME, "NtDeviceIoControlFile");
    ULONG needed = 0;
    std::vector<BYTE> &answer = HandleTableAnswer();
    answer.clear();
    Simulated().querySystem(16, NULL, 0, &needed);
    answer.resize(needed);
    if (Simulated().querySystem(16, answer.data(), needed, &needed) != 0)
        answer.clear();
    memset(&CallCounts(), 0, sizeof(NetworkCallCounts));
    NetworkCalls.pLookupProcedure = CountedLookup;
    NetworkCalls.pDuplicateHandle = CountedDuplicateHandle;
}

#endif
