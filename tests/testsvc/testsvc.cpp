// The test service program: runs as any of the managed services, doing what its command line says.
//   qvx_testsvc run NAME [--listen|--udp A.B.C.D:PORT]... [--load DLLPATH]... [--start-delay MS] [--start-forever]
//       [--stop-delay MS] [--stop-specific N] [--running-specific N] [--connect-self] [--accept-none] [--hold-start] [--hold-stop]
//   qvx_testsvc install NAME [--description TEXT] [--start auto|demand|disabled] [-- RUN OPTIONS...] | start|stop|remove NAME
// --hold-start (--hold-stop) waits for the event Global\qvx-hold-NAME.start (.stop) to report running (stopped); --accept-none
// refuses every control, ends on .stop. Sockets get a getsockopt(SO_KEEPALIVE): Wine's TCP table then names their owner.
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include "../support/test_services.h"
static std::string Name;
static std::vector<std::string> Listen, Udp, Load;
static DWORD StartDelay, StopDelay, StopSpecific,
    RunningSpecific; // service-specific codes: 0 for none
static bool StartForever, ConnectSelf, AcceptNone, HoldStart, HoldStop;
static const struct {
    const char *option;
    std::vector<std::string> *list;
    DWORD *value;
    bool *flag;
} Options[] = { { "--listen", &Listen },
                { "--udp", &Udp },
                { "--load", &Load },
                { "--start-delay", NULL, &StartDelay },
                { "--stop-delay", NULL, &StopDelay },
                { "--stop-specific", NULL, &StopSpecific },
                { "--running-specific", NULL, &RunningSpecific },
                { "--start-forever", NULL, NULL, &StartForever },
                { "--connect-self", NULL, NULL, &ConnectSelf },
                { "--accept-none", NULL, NULL, &AcceptNone },
                { "--hold-start", NULL, NULL, &HoldStart },
                { "--hold-stop", NULL, NULL, &HoldStop } };
static SERVICE_STATUS_HANDLE StatusHandle;
static SERVICE_STATUS Status = { SERVICE_WIN32_OWN_PROCESS };
static HANDLE StopEvent;
static std::vector<SOCKET> Sockets; // closed when the service stops
static CRITICAL_SECTION SocketsLock;
static void Report(DWORD state, DWORD checkPoint)
{
    Status.dwCurrentState = state, Status.dwCheckPoint = checkPoint,
    Status.dwWaitHint = checkPoint ? 2000 : 0; // pending: checkPoint >= 1
    Status.dwControlsAccepted =
        !AcceptNone && (state == SERVICE_RUNNING ||
                        (state == SERVICE_START_PENDING && (StartForever || HoldStart)));
    SetServiceStatus(StatusHandle, &Status);
}
static void Keep(SOCKET s)
{
    int value = 0, length = sizeof(value);
    getsockopt(s, SOL_SOCKET, SO_KEEPALIVE, (char *)&value, &length);
    EnterCriticalSection(&SocketsLock), Sockets.push_back(s), LeaveCriticalSection(&SocketsLock);
}
static DWORD WINAPI AcceptLoop(LPVOID listener)
{
    for (SOCKET client;
         (client = accept((SOCKET)(UINT_PTR)listener, NULL, NULL)) != INVALID_SOCKET;)
        Keep(client);
    return 0;
}
static void OpenSockets()
{
    WSADATA data;
    SOCKET first = INVALID_SOCKET;
    BOOL reuse = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    for (size_t i = 0; i < Listen.size() + Udp.size(); i++) {
        bool tcp = i < Listen.size();
        std::string text = tcp ? Listen[i] : Udp[i - Listen.size()];
        sockaddr_in address = { AF_INET, htons((u_short)atoi(text.c_str() + text.rfind(':') + 1)) };
        address.sin_addr.s_addr = inet_addr(text.substr(0, text.rfind(':')).c_str());
        SOCKET s = socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, tcp ? IPPROTO_TCP : IPPROTO_UDP);
        if (tcp)
            setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof(reuse));
        if (bind(s, (sockaddr *)&address, sizeof(address)) != 0 || (tcp && listen(s, 16) != 0)) {
            closesocket(s);
            continue;
        }
        Keep(s);
        if (tcp)
            CreateThread(NULL, 0, AcceptLoop, (LPVOID)(UINT_PTR)s, 0, NULL),
                first = first == INVALID_SOCKET ? s : first;
    }
    sockaddr_in address;
    int length = sizeof(address);
    if (!ConnectSelf || first == INVALID_SOCKET ||
        getsockname(first, (sockaddr *)&address, &length) != 0)
        return;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(s, (sockaddr *)&address, sizeof(address)) == 0)
        Keep(s);
    else
        closesocket(s);
}
static DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN)
        return control == SERVICE_CONTROL_INTERROGATE ? 0 : ERROR_CALL_NOT_IMPLEMENTED;
    Report(SERVICE_STOP_PENDING, 1); // before the answer: the stop request returns this state
    return SetEvent(StopEvent), NO_ERROR;
}
static void WINAPI ServiceMain(DWORD, LPSTR *)
{
    HANDLE start[2] = { StopEvent, CreateEventA(NULL, TRUE, FALSE,
                                                ("Global\\qvx-hold-" + Name + ".start").c_str()) };
    HANDLE stop[2] = { StopEvent, CreateEventA(NULL, TRUE, FALSE,
                                               ("Global\\qvx-hold-" + Name + ".stop").c_str()) };
    DWORD checkPoint = 2;
    if (!(StatusHandle = RegisterServiceCtrlHandlerExA(Name.c_str(), ControlHandler, NULL)))
        return;
    Report(SERVICE_START_PENDING, 1);
    for (const std::string &path : Load)
        LoadLibraryA(path.c_str());
    OpenSockets();
    for (DWORD begun = GetTickCount(); StartForever || GetTickCount() - begun < StartDelay;
         Report(SERVICE_START_PENDING, checkPoint++)) {
        if (WaitForSingleObject(StopEvent, 200) == WAIT_OBJECT_0)
            break;
    }
    if (HoldStart)
        WaitForMultipleObjects(2, start, FALSE, INFINITE);
    if (WaitForSingleObject(StopEvent, 0) != WAIT_OBJECT_0) {
        if (RunningSpecific)
            Status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR,
            Status.dwServiceSpecificExitCode = RunningSpecific;
        Report(SERVICE_RUNNING, 0);
        WaitForMultipleObjects(AcceptNone ? 2 : 1, stop, FALSE, INFINITE);
    }
    Report(SERVICE_STOP_PENDING, checkPoint = 1);
    for (DWORD begun = GetTickCount(); GetTickCount() - begun < StopDelay;
         Report(SERVICE_STOP_PENDING, ++checkPoint))
        Sleep(200);
    if (HoldStop)
        WaitForSingleObject(stop[1], INFINITE);
    EnterCriticalSection(
        &SocketsLock); // for good: an accept still running waits until the process ends
    for (SOCKET s : Sockets)
        closesocket(s);
    if (StopSpecific)
        Status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR,
        Status.dwServiceSpecificExitCode = StopSpecific;
    else if (!RunningSpecific)
        Status.dwWin32ExitCode = NO_ERROR;
    Report(SERVICE_STOPPED, 0);
}
static int Run(int argc, char **argv)
{
    for (int i = 3; i < argc; i++) {
        for (const auto &o : Options) {
            if (strcmp(argv[i], o.option) == 0 && o.flag)
                *o.flag = true;
            if (strcmp(argv[i], o.option) == 0 && !o.flag && i + 1 < argc)
                o.list ? o.list->push_back(argv[++i])
                       : (void)(*o.value = strtoul(argv[++i], NULL, 10));
        }
    }
    InitializeCriticalSection(&SocketsLock);
    StopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    SERVICE_TABLE_ENTRYA table[2] = { { &(Name = argv[2])[0], ServiceMain }, { NULL, NULL } };
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
static std::string Quoted(const std::string &a)
{
    return a.empty() || a.find_first_of(" \t\"") != std::string::npos ? "\"" + a + "\"" : a;
}
static std::string Install(int argc, char **argv)
{
    TestServiceSetup setup;
    int i;
    for (setup.name = argv[2], i = 3; i + 1 < argc && strcmp(argv[i], "--") != 0; i += 2) {
        std::string option = argv[i], value = argv[i + 1];
        if (option == "--description")
            setup.description = value, setup.hasDescription = true;
        if (option == "--start")
            setup.startType = value == "auto"       ? SERVICE_AUTO_START
                              : value == "disabled" ? SERVICE_DISABLED
                                                    : SERVICE_DEMAND_START;
    }
    for (i++; i < argc; i++)
        setup.runArguments += (setup.runArguments.empty() ? "" : " ") + Quoted(argv[i]);
    return InstallTestService(setup);
}
int main(int argc, char **argv)
{
    std::string verb = argc >= 3 ? argv[1] : "", result;
    if (verb == "run")
        return Run(argc, argv);
    result = verb == "install"  ? Install(argc, argv)
             : verb == "start"  ? StartTestService(argv[2], SERVICE_RUNNING, 60000)
             : verb == "stop"   ? StopTestService(argv[2], 60000)
             : verb == "remove" ? RemoveTestService(argv[2])
                                : "usage: qvx_testsvc run|install|start|stop|remove NAME ...";
    if (!result.empty())
        fprintf(stderr, "%s %s: %s\n", verb.c_str(), argc >= 3 ? argv[2] : "", result.c_str());
    return result.empty() ? 0 : verb.empty() ? 2 : 1;
}
