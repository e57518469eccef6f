// A service for the benchmarks. With --exit-code N it stops as soon as it has
// started, reporting a service-specific exit code N (the bring-up benchmark's
// service in that state). Otherwise it listens on the given addresses,
// optionally connects to its own first listener, and accepts clients, all on
// its service thread (the test bed's emulation copes badly with several
// threads waiting at once). Under Wine 8 a listening socket's row in the TCP
// owner table carries the owner's process id after an option call, a
// connecting socket's row only after the process has sent on it, and an
// accepted socket's row never; so the connection to itself is what gives
// this service a connected row: the local side of its outgoing connection.
// --connections N makes N such connections (each accepted at once, so the
// backlog never fills) for the mapping benchmark; it stops early when the
// system refuses more sockets.
//
//   qvx_endpoint_service run NAME [--listen A.B.C.D:PORT]... [--connect-self] [--connections N]
//   qvx_endpoint_service run NAME --exit-code N
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace
{

const DWORD PollMs = 50;
const int ConnectionsGivenBack = 256;

std::string ServiceName;
std::vector<std::string> ListenTexts;
bool ConnectSelf;
long Connections;
long ExitCode = -1;
SERVICE_STATUS_HANDLE StatusHandle;
SERVICE_STATUS Status;
HANDLE StopEvent;

void Report(DWORD state)
{
    Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    Status.dwCurrentState = state;
    Status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    Status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 2000;
    SetServiceStatus(StatusHandle, &Status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        SetEvent(StopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

SOCKET Listen(const std::string &text)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return INVALID_SOCKET;
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(text.substr(0, colon).c_str());
    address.sin_port = htons((u_short)atoi(text.substr(colon + 1).c_str()));
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (bind(s, (sockaddr *)&address, sizeof(address)) != 0 || listen(s, 16) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    // Enough for a listening socket's row to carry this process's id.
    int value = 0;
    int length = sizeof(value);
    getsockopt(s, SOL_SOCKET, SO_KEEPALIVE, (char *)&value, &length);
    return s;
}

void WINAPI ServiceMain(DWORD, LPSTR *)
{
    StatusHandle = RegisterServiceCtrlHandlerExA(ServiceName.c_str(), Control, NULL);
    if (!StatusHandle)
        return;
    Report(SERVICE_START_PENDING);
    if (ExitCode >= 0) {
        Status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        Status.dwServiceSpecificExitCode = (DWORD)ExitCode;
        Report(SERVICE_STOPPED);
        return;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    std::vector<SOCKET> listeners;
    for (const std::string &text : ListenTexts) {
        SOCKET s = Listen(text);
        if (s != INVALID_SOCKET)
            listeners.push_back(s);
    }
    std::vector<SOCKET> waiting; // accepted, nothing read yet
    SOCKET self = INVALID_SOCKET;
    if (ConnectSelf && !listeners.empty()) {
        sockaddr_in address;
        int length = sizeof(address);
        getsockname(listeners[0], (sockaddr *)&address, &length);
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        self = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (connect(self, (sockaddr *)&address, sizeof(address)) == 0) {
            send(self, "x", 1, 0);
        }
    }
    std::vector<SOCKET> held;     // accepted and read from
    std::vector<SOCKET> outgoing; // --connections: the connecting sides
    if (Connections > 0 && !listeners.empty()) {
        sockaddr_in address;
        int length = sizeof(address);
        getsockname(listeners[0], (sockaddr *)&address, &length);
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        bool refused = false;
        for (long k = 0; k < Connections && !refused; k++) {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            if (s == INVALID_SOCKET) {
                refused = true;
                break;
            }
            if (connect(s, (sockaddr *)&address, sizeof(address)) != 0) {
                closesocket(s);
                refused = true;
                break;
            }
            send(s, "x", 1, 0);
            outgoing.push_back(s);
            SOCKET client = accept(listeners[0], NULL, NULL);
            if (client == INVALID_SOCKET) {
                refused = true;
                break;
            }
            held.push_back(client);
            if (k % 256 == 255) {
                Status.dwCheckPoint++;
                Report(SERVICE_START_PENDING);
            }
        }
        // At the system's limit nothing else could open a file or a pipe
        // (the service manager among them): give some connections back.
        for (int k = 0; refused && k < ConnectionsGivenBack && !outgoing.empty(); k++) {
            closesocket(outgoing.back());
            outgoing.pop_back();
            if (held.size() > outgoing.size()) {
                closesocket(held.back());
                held.pop_back();
            }
        }
        Status.dwCheckPoint = 0;
    }
    Report(SERVICE_RUNNING);
    while (WaitForSingleObject(StopEvent, 0) != WAIT_OBJECT_0) {
        fd_set readable;
        FD_ZERO(&readable);
        for (SOCKET s : listeners)
            FD_SET(s, &readable);
        for (SOCKET s : waiting)
            FD_SET(s, &readable);
        timeval timeout = { 0, (long)PollMs * 1000 };
        if (readable.fd_count == 0) {
            WaitForSingleObject(StopEvent, PollMs);
            continue;
        }
        if (select(0, &readable, NULL, NULL, &timeout) <= 0)
            continue;
        for (SOCKET s : listeners) {
            if (!FD_ISSET(s, &readable))
                continue;
            SOCKET client = accept(s, NULL, NULL);
            if (client != INVALID_SOCKET)
                waiting.push_back(client);
        }
        for (size_t i = 0; i < waiting.size();) {
            if (FD_ISSET(waiting[i], &readable)) {
                char byte;
                recv(waiting[i], &byte, 1, MSG_PEEK);
                held.push_back(waiting[i]);
                waiting.erase(waiting.begin() + (long)i);
            } else {
                i++;
            }
        }
    }
    Report(SERVICE_STOP_PENDING);
    for (SOCKET s : listeners)
        closesocket(s);
    for (SOCKET s : waiting)
        closesocket(s);
    for (SOCKET s : held)
        closesocket(s);
    for (SOCKET s : outgoing)
        closesocket(s);
    if (self != INVALID_SOCKET)
        closesocket(self);
    Report(SERVICE_STOPPED);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: qvx_endpoint_service run NAME [--listen A.B.C.D:PORT]... "
                        "[--connect-self] [--connections N] | --exit-code N\n");
        return 2;
    }
    ServiceName = argv[2];
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "--listen") == 0 && i + 1 < argc)
            ListenTexts.push_back(argv[++i]);
        else if (strcmp(argv[i], "--connect-self") == 0)
            ConnectSelf = true;
        else if (strcmp(argv[i], "--connections") == 0 && i + 1 < argc)
            Connections = atol(argv[++i]);
        else if (strcmp(argv[i], "--exit-code") == 0 && i + 1 < argc)
            ExitCode = atol(argv[++i]);
    }
    StopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    SERVICE_TABLE_ENTRYA table[2];
    table[0].lpServiceName = (LPSTR)ServiceName.c_str();
    table[0].lpServiceProc = ServiceMain;
    table[1].lpServiceName = NULL;
    table[1].lpServiceProc = NULL;
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
