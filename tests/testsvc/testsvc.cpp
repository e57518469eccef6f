// The test service program: runs as any of the managed services, and its
// command line says what it does while it runs.
//
//   qvx_testsvc run NAME [--listen A.B.C.D:PORT]... [--udp A.B.C.D:PORT]...
//                        [--load DLLPATH]... [--start-delay MS] [--start-forever]
//                        [--stop-delay MS] [--stop-specific N] [--running-specific N]
//                        [--connect-self] [--accept-none]
//   qvx_testsvc install NAME [--description TEXT] [--start auto|demand|disabled]
//                        [--group G] [--depends NAME]... [--account A] [-- RUN OPTIONS...]
//   qvx_testsvc start NAME | stop NAME | remove NAME
//
// Listening sockets get one getsockopt(SO_KEEPALIVE) after listen(), and
// accepted ones one after accept(), which makes Wine's TCP owner table carry
// this process's id for them.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "../support/test_services.h"

struct RunOptions {
    std::string name;
    std::vector<std::string> listen;
    std::vector<std::string> udp;
    std::vector<std::string> load;
    DWORD startDelay = 0;
    bool startForever = false;
    DWORD stopDelay = 0;
    bool stopSpecific = false;
    DWORD stopSpecificCode = 0;
    bool runningSpecific = false;
    DWORD runningSpecificCode = 0;
    bool connectSelf = false;
    bool acceptNone = false;      // running, but refuses every control
};

static RunOptions Options;
static SERVICE_STATUS_HANDLE StatusHandle;
static SERVICE_STATUS Status;
static HANDLE StopEvent;
static std::vector<SOCKET> Listeners;
static std::vector<SOCKET> Held;
static CRITICAL_SECTION HeldLock;

static void Report(DWORD state, DWORD checkPoint)
{
    Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    Status.dwCurrentState = state;
    Status.dwControlsAccepted = (state == SERVICE_RUNNING) ? SERVICE_ACCEPT_STOP : 0;
    if (state == SERVICE_START_PENDING && Options.startForever) {
        Status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    }
    if (Options.acceptNone) {
        Status.dwControlsAccepted = 0;
    }
    Status.dwCheckPoint = checkPoint;
    Status.dwWaitHint = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) ? 2000 : 0;
    SetServiceStatus(StatusHandle, &Status);
}

static bool ParseAddress(const std::string &text, sockaddr_in *address)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    memset(address, 0, sizeof(*address));
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = inet_addr(text.substr(0, colon).c_str());
    address->sin_port = htons((u_short)atoi(text.substr(colon + 1).c_str()));
    return true;
}

static void TouchOwner(SOCKET s)
{
    int value = 0;
    int length = sizeof(value);
    getsockopt(s, SOL_SOCKET, SO_KEEPALIVE, (char *)&value, &length);
}

static DWORD WINAPI AcceptLoop(LPVOID parameter)
{
    SOCKET listener = (SOCKET)(UINT_PTR)parameter;
    for (;;) {
        SOCKET client = accept(listener, NULL, NULL);
        if (client == INVALID_SOCKET) return 0;
        TouchOwner(client);
        EnterCriticalSection(&HeldLock);
        Held.push_back(client);
        LeaveCriticalSection(&HeldLock);
    }
}

static void OpenSockets()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    for (const std::string &text : Options.listen) {
        sockaddr_in address;
        if (!ParseAddress(text, &address)) continue;
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        BOOL reuse = TRUE;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof(reuse));
        if (bind(s, (sockaddr *)&address, sizeof(address)) != 0 || listen(s, 16) != 0) {
            closesocket(s);
            continue;
        }
        TouchOwner(s);
        Listeners.push_back(s);
        CreateThread(NULL, 0, AcceptLoop, (LPVOID)(UINT_PTR)s, 0, NULL);
    }
    for (const std::string &text : Options.udp) {
        sockaddr_in address;
        if (!ParseAddress(text, &address)) continue;
        SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (bind(s, (sockaddr *)&address, sizeof(address)) == 0) {
            TouchOwner(s);
            Held.push_back(s);
        } else {
            closesocket(s);
        }
    }
    if (Options.connectSelf && !Listeners.empty()) {
        sockaddr_in address;
        int length = sizeof(address);
        getsockname(Listeners[0], (sockaddr *)&address, &length);
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (connect(s, (sockaddr *)&address, sizeof(address)) == 0) {
            TouchOwner(s);
            Held.push_back(s);
        } else {
            closesocket(s);
        }
    }
}

static void CloseSockets()
{
    for (SOCKET s : Listeners) closesocket(s);
    EnterCriticalSection(&HeldLock);
    for (SOCKET s : Held) closesocket(s);
    Held.clear();
    LeaveCriticalSection(&HeldLock);
}

static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        SetEvent(StopEvent);
        return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
    return ERROR_CALL_NOT_IMPLEMENTED;
}

static void WINAPI ServiceMain(DWORD argc, LPSTR *argv)
{
    DWORD checkPoint = 1;
    StatusHandle = RegisterServiceCtrlHandlerExA(Options.name.c_str(), ControlHandler, NULL);
    if (!StatusHandle) return;
    Report(SERVICE_START_PENDING, checkPoint++);

    for (const std::string &path : Options.load) LoadLibraryA(path.c_str());
    OpenSockets();

    DWORD started = GetTickCount();
    while (Options.startForever || GetTickCount() - started < Options.startDelay) {
        if (WaitForSingleObject(StopEvent, 200) == WAIT_OBJECT_0) break;
        Report(SERVICE_START_PENDING, checkPoint++);
    }
    if (WaitForSingleObject(StopEvent, 0) != WAIT_OBJECT_0) {
        if (Options.runningSpecific) {
            Status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
            Status.dwServiceSpecificExitCode = Options.runningSpecificCode;
        }
        Report(SERVICE_RUNNING, 0);
        WaitForSingleObject(StopEvent, INFINITE);
    }

    checkPoint = 1;
    Report(SERVICE_STOP_PENDING, checkPoint++);
    DWORD stopping = GetTickCount();
    while (GetTickCount() - stopping < Options.stopDelay) {
        Sleep(200);
        Report(SERVICE_STOP_PENDING, checkPoint++);
    }
    CloseSockets();
    if (Options.stopSpecific) {
        Status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        Status.dwServiceSpecificExitCode = Options.stopSpecificCode;
    } else if (!Options.runningSpecific) {
        Status.dwWin32ExitCode = NO_ERROR;
    }
    Report(SERVICE_STOPPED, 0);
}

static int Run(int argc, char **argv)
{
    Options.name = argv[2];
    for (int i = 3; i < argc; i++) {
        std::string option = argv[i];
        const char *value = (i + 1 < argc) ? argv[i + 1] : "";
        if (option == "--listen") { Options.listen.push_back(value); i++; }
        else if (option == "--udp") { Options.udp.push_back(value); i++; }
        else if (option == "--load") { Options.load.push_back(value); i++; }
        else if (option == "--start-delay") { Options.startDelay = strtoul(value, NULL, 10); i++; }
        else if (option == "--start-forever") { Options.startForever = true; }
        else if (option == "--stop-delay") { Options.stopDelay = strtoul(value, NULL, 10); i++; }
        else if (option == "--stop-specific") { Options.stopSpecific = true; Options.stopSpecificCode = strtoul(value, NULL, 10); i++; }
        else if (option == "--running-specific") { Options.runningSpecific = true; Options.runningSpecificCode = strtoul(value, NULL, 10); i++; }
        else if (option == "--connect-self") { Options.connectSelf = true; }
        else if (option == "--accept-none") { Options.acceptNone = true; }
    }
    InitializeCriticalSection(&HeldLock);
    StopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    SERVICE_TABLE_ENTRYA table[2];
    table[0].lpServiceName = (LPSTR)Options.name.c_str();
    table[0].lpServiceProc = ServiceMain;
    table[1].lpServiceName = NULL;
    table[1].lpServiceProc = NULL;
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}

static std::string Quote(const std::string &text)
{
    if (text.find_first_of(" \t\"") == std::string::npos && !text.empty()) return text;
    return "\"" + text + "\"";
}

static int Install(int argc, char **argv)
{
    TestServiceSetup setup;
    setup.name = argv[2];
    int i = 3;
    for (; i < argc; i++) {
        std::string option = argv[i];
        const char *value = (i + 1 < argc) ? argv[i + 1] : "";
        if (option == "--") { i++; break; }
        if (option == "--description") { setup.description = value; setup.hasDescription = true; i++; }
        else if (option == "--start") {
            std::string v = value; i++;
            setup.startType = v == "auto" ? SERVICE_AUTO_START : v == "disabled" ? SERVICE_DISABLED : SERVICE_DEMAND_START;
        }
        else if (option == "--group") { setup.loadOrderGroup = value; i++; }
        else if (option == "--account") { setup.account = value; i++; }
        else if (option == "--depends") {
            std::string v = value; i++;
            setup.dependencies += std::wstring(v.begin(), v.end());
            setup.dependencies.push_back(L'\0');
        }
    }
    for (; i < argc; i++) {
        if (!setup.runArguments.empty()) setup.runArguments += " ";
        setup.runArguments += Quote(argv[i]);
    }
    if (!setup.dependencies.empty()) setup.dependencies.pop_back();
    std::string result = InstallTestService(setup);
    if (!result.empty()) { fprintf(stderr, "install %s: %s\n", setup.name.c_str(), result.c_str()); return 1; }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: qvx_testsvc run|install|start|stop|remove NAME ...\n");
        return 2;
    }
    std::string verb = argv[1];
    std::string result;
    if (verb == "run") return Run(argc, argv);
    if (verb == "install") return Install(argc, argv);
    if (verb == "start") result = StartTestService(argv[2], SERVICE_RUNNING, 60000);
    else if (verb == "stop") result = StopTestService(argv[2], 60000);
    else if (verb == "remove") result = RemoveTestService(argv[2]);
    else { fprintf(stderr, "unknown verb %s\n", verb.c_str()); return 2; }
    if (!result.empty()) { fprintf(stderr, "%s %s: %s\n", verb.c_str(), argv[2], result.c_str()); return 1; }
    return 0;
}
