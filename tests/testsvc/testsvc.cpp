// qvx_testsvc run NAME [--listen ADDR:PORT]... [--load DLL]... [--hold-start|stop] [--accept-none]
// --hold-start|stop wait for Global\qvx-hold-NAME.start|.stop; --accept-none runs until .stop.
#include <winsock2.h>
#include <windows.h>

#include <string>

#include "listen.h"

static int Count;
static char **Options;
static bool HoldStart;
static bool HoldStop;
static bool AcceptNone;
static SERVICE_STATUS_HANDLE StatusHandle;
static SERVICE_STATUS Status = { SERVICE_WIN32_OWN_PROCESS };
static HANDLE StopRequest;

static void Report(DWORD state)
{
    Status.dwCurrentState = state;
    Status.dwControlsAccepted = state == SERVICE_RUNNING && !AcceptNone ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(StatusHandle, &Status);
}

static void WINAPI OnControl(DWORD)
{
    Report(SERVICE_STOP_PENDING);
    SetEvent(StopRequest);
}

static void WINAPI ServiceMain(DWORD, LPSTR *)
{
    std::string hold = std::string("Global\\qvx-hold-") + Options[2];
    HANDLE start = CreateEventA(NULL, TRUE, FALSE, (hold + ".start").c_str());
    HANDLE stop = CreateEventA(NULL, TRUE, FALSE, (hold + ".stop").c_str());

    StatusHandle = RegisterServiceCtrlHandlerA(Options[2], OnControl);
    Report(SERVICE_START_PENDING);
    for (int i = 3; i + 1 < Count; i++) {
        if (strcmp(Options[i], "--load") == 0)
            LoadLibraryA(Options[i + 1]);
        if (strcmp(Options[i], "--listen") == 0)
            Listen(Options[i + 1]);
    }
    if (HoldStart)
        WaitForSingleObject(start, INFINITE);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(AcceptNone ? stop : StopRequest, INFINITE);
    if (HoldStop)
        WaitForSingleObject(stop, INFINITE);
    Report(SERVICE_STOPPED);
}

int main(int argc, char **argv)
{
    SERVICE_TABLE_ENTRYA table[2] = { { argv[2], ServiceMain }, { NULL, NULL } };
    WSADATA sockets;

    Count = argc;
    Options = argv;
    WSAStartup(MAKEWORD(2, 2), &sockets);
    for (int i = 3; i < argc; i++) {
        HoldStart |= strcmp(argv[i], "--hold-start") == 0;
        HoldStop |= strcmp(argv[i], "--hold-stop") == 0;
        AcceptNone |= strcmp(argv[i], "--accept-none") == 0;
    }
    StopRequest = CreateEventA(NULL, TRUE, FALSE, NULL);
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
