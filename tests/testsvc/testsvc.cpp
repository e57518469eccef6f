// The test service program, run by the service manager under one of the managed names:
//   qvx_testsvc run NAME [--listen A.B.C.D:PORT]... [--load DLL]... [--hold-start] [--hold-stop]
//                        [--accept-none]
// --hold-start (--hold-stop) reports running (stopped) only once the event Global\qvx-hold-NAME.start
// (.stop) is set; --accept-none accepts no control, and stops once .stop is set.
#include <winsock2.h>
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static int Count;
static char **Options;
static SERVICE_STATUS_HANDLE StatusHandle;
static SERVICE_STATUS Status = { SERVICE_WIN32_OWN_PROCESS };
static HANDLE StopRequest;

static bool Has(const char *option)
{
    for (int i = 3; i < Count; i++) {
        if (strcmp(Options[i], option) == 0)
            return true;
    }
    return false;
}

static void Report(DWORD state)
{
    Status.dwCurrentState = state;
    Status.dwControlsAccepted = 0;
    if (state == SERVICE_RUNNING && !Has("--accept-none"))
        Status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    SetServiceStatus(StatusHandle, &Status);
}

static HANDLE Hold(const char *step)
{
    std::string name = std::string("Global\\qvx-hold-") + Options[2] + "." + step;
    return CreateEventA(NULL, TRUE, FALSE, name.c_str());
}

// Listening; Wine's TCP table names the owner of a socket its process has used.
static void Listen(const char *address)
{
    const char *colon = strrchr(address, ':');
    sockaddr_in where = {};
    int keepAlive = 0;
    int size = sizeof(keepAlive);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);

    where.sin_family = AF_INET;
    where.sin_port = htons((u_short)atoi(colon + 1));
    where.sin_addr.s_addr = inet_addr(std::string(address, colon).c_str());
    bind(listener, (sockaddr *)&where, sizeof(where));
    listen(listener, 16);
    getsockopt(listener, SOL_SOCKET, SO_KEEPALIVE, (char *)&keepAlive, &size);
}

static DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(StopRequest);
    }
    return NO_ERROR;
}

static void WINAPI ServiceMain(DWORD, LPSTR *)
{
    HANDLE start = Hold("start");
    HANDLE stop = Hold("stop");
    WSADATA sockets;

    StatusHandle = RegisterServiceCtrlHandlerExA(Options[2], OnControl, NULL);
    Report(SERVICE_START_PENDING);
    WSAStartup(MAKEWORD(2, 2), &sockets);
    for (int i = 3; i + 1 < Count; i++) {
        if (strcmp(Options[i], "--load") == 0)
            LoadLibraryA(Options[i + 1]);
        if (strcmp(Options[i], "--listen") == 0)
            Listen(Options[i + 1]);
    }
    if (Has("--hold-start"))
        WaitForSingleObject(start, INFINITE);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(Has("--accept-none") ? stop : StopRequest, INFINITE);
    if (Has("--hold-stop"))
        WaitForSingleObject(stop, INFINITE);
    Report(SERVICE_STOPPED);
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    Count = argc;
    Options = argv;
    StopRequest = CreateEventA(NULL, TRUE, FALSE, NULL);
    SERVICE_TABLE_ENTRYA table[2] = { { argv[2], ServiceMain }, { NULL, NULL } };
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
