// Installs and starts the demo stack's services: the test service program (qvx_testsvc.exe, or the
// program named by --program; it must lie beside this program) under one of the managed names, run
// with the options given after "--"; the demo script keeps one copy of both programs in each
// server's bin directory. Run as a service itself, it stops slowly with an exit code of its own.
//
//   qvx_demo_service install NAME [--description TEXT] [--start auto|demand|disabled]
//                                 [--program FILE] [-- OPTIONS...]
//   qvx_demo_service start NAME     (until the service runs, at most 60 s; running already is fine)
//   qvx_demo_service run NAME [--listen ADDR:PORT]... [--stop-delay MS] [--stop-specific N]
//       (a stop takes MS milliseconds, reported every 200 ms; the service then stops with the
//       service-specific exit code N, none when N is 0)
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "../tests/testsvc/listen.h"

static char **RunOptions;
static int RunOptionCount;
static SERVICE_STATUS_HANDLE StatusHandle;
static SERVICE_STATUS Status = { SERVICE_WIN32_OWN_PROCESS };
static HANDLE StopRequest;
static DWORD StopDelay;

static int Fail(const char *call, const char *name)
{
    fprintf(stderr, "%s (%s) failed (%lu)\n", call, name, GetLastError());
    return 1;
}

// An argument quoted where the service manager would split it.
static std::string Quoted(const char *argument)
{
    if (argument[0] != '\0' && strpbrk(argument, " \t\"") == NULL)
        return argument;
    return std::string("\"") + argument + "\"";
}

static int Install(SC_HANDLE manager, int argc, char **argv)
{
    const char *name = argv[2];
    std::string description;
    DWORD startType = SERVICE_DEMAND_START;
    const char *file = "qvx_testsvc.exe";
    char program[MAX_PATH] = { 0 };
    int i = 3;

    for (; i + 1 < argc && strcmp(argv[i], "--") != 0; i += 2) {
        if (strcmp(argv[i], "--description") == 0)
            description = argv[i + 1];
        if (strcmp(argv[i], "--start") == 0 && strcmp(argv[i + 1], "auto") == 0)
            startType = SERVICE_AUTO_START;
        if (strcmp(argv[i], "--start") == 0 && strcmp(argv[i + 1], "disabled") == 0)
            startType = SERVICE_DISABLED;
        if (strcmp(argv[i], "--program") == 0)
            file = argv[i + 1];
    }
    GetModuleFileNameA(NULL, program, MAX_PATH);
    strrchr(program, '\\')[1] = '\0';
    std::string path = "\"" + std::string(program) + file + "\" run \"" + name + "\"";
    for (i++; i < argc; i++)
        path += " " + Quoted(argv[i]);

    // A service installed already goes first: it is removed once it has stopped and the last
    // handle on it is closed, and its name is free again only then.
    SC_HANDLE old = OpenServiceA(manager, name, DELETE | SERVICE_STOP);
    SERVICE_STATUS status;
    if (old) {
        ControlService(old, SERVICE_CONTROL_STOP, &status);
        DeleteService(old);
    }
    for (int poll = 0; poll < 600 && old; poll++) {
        CloseServiceHandle(old);
        Sleep(100);
        old = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    }
    SC_HANDLE service =
        CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                       startType, SERVICE_ERROR_NORMAL, path.c_str(), NULL, NULL, NULL, NULL, NULL);
    if (!service)
        return Fail("CreateService", name);
    SERVICE_DESCRIPTIONA text = { &description[0] };
    if (!description.empty())
        ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text);
    CloseServiceHandle(service);
    return 0;
}

static int Start(SC_HANDLE manager, const char *name)
{
    SERVICE_STATUS status = {};
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_START | SERVICE_QUERY_STATUS);

    // Wine may have started an automatic service already, when its service manager started.
    if (!service ||
        (!StartServiceA(service, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING))
        return Fail("StartService", name);
    for (int poll = 0; poll < 600 && status.dwCurrentState != SERVICE_RUNNING; poll++) {
        Sleep(100);
        QueryServiceStatus(service, &status);
    }
    CloseServiceHandle(service);
    if (status.dwCurrentState != SERVICE_RUNNING)
        fprintf(stderr, "%s did not start within 60 s\n", name);
    return status.dwCurrentState == SERVICE_RUNNING ? 0 : 1;
}

static void Report(DWORD state, DWORD checkPoint, DWORD waitHint)
{
    Status.dwCurrentState = state;
    Status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    Status.dwCheckPoint = checkPoint;
    Status.dwWaitHint = waitHint;
    SetServiceStatus(StatusHandle, &Status);
}

static void WINAPI OnControl(DWORD control)
{
    if (control != SERVICE_CONTROL_STOP)
        return;
    Report(SERVICE_STOP_PENDING, 1, StopDelay);
    SetEvent(StopRequest);
}

static void WINAPI ServiceMain(DWORD, LPSTR *)
{
    DWORD exitCode = 0;
    DWORD checkPoint = 1;

    StatusHandle = RegisterServiceCtrlHandlerA(RunOptions[2], OnControl);
    for (int i = 3; i + 1 < RunOptionCount; i++) {
        if (strcmp(RunOptions[i], "--listen") == 0)
            Listen(RunOptions[i + 1]);
        if (strcmp(RunOptions[i], "--stop-delay") == 0)
            StopDelay = strtoul(RunOptions[i + 1], NULL, 10);
        if (strcmp(RunOptions[i], "--stop-specific") == 0)
            exitCode = strtoul(RunOptions[i + 1], NULL, 10);
    }
    Report(SERVICE_RUNNING, 0, 0);
    WaitForSingleObject(StopRequest, INFINITE);
    for (DWORD begun = GetTickCount(); GetTickCount() - begun < StopDelay;) {
        Sleep(200);
        checkPoint++;
        Report(SERVICE_STOP_PENDING, checkPoint, StopDelay);
    }
    if (exitCode != 0) {
        Status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        Status.dwServiceSpecificExitCode = exitCode;
    }
    Report(SERVICE_STOPPED, 0, 0);
}

static int Run(int argc, char **argv)
{
    SERVICE_TABLE_ENTRYA table[2] = { { argv[2], ServiceMain }, { NULL, NULL } };
    WSADATA sockets;

    RunOptions = argv;
    RunOptionCount = argc;
    WSAStartup(MAKEWORD(2, 2), &sockets);
    StopRequest = CreateEventA(NULL, TRUE, FALSE, NULL);
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "run") == 0)
        return Run(argc, argv);

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);

    if (!manager)
        return Fail("OpenSCManager", "");
    if (argc >= 3 && strcmp(argv[1], "install") == 0)
        return Install(manager, argc, argv);
    if (argc >= 3 && strcmp(argv[1], "start") == 0)
        return Start(manager, argv[2]);
    fprintf(stderr, "usage: qvx_demo_service install NAME [--description TEXT] "
                    "[--start auto|demand|disabled] [--program FILE] [-- OPTIONS...] | start NAME "
                    "| run NAME [--listen ADDR:PORT]... [--stop-delay MS] [--stop-specific N]\n");
    return 2;
}
