// Installs and starts the demo stack's services: the test service program (qvx_testsvc.exe, which
// must lie beside this program) under one of the managed names, run with the options given after
// "--"; the demo script keeps one copy of both programs in each server's bin directory.
//
//   qvx_demo_service install NAME [--description TEXT] [--start auto|demand|disabled] [-- OPTIONS...]
//   qvx_demo_service start NAME     (until the service runs, at most 60 s; running already is fine)
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>

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
    char program[MAX_PATH] = { 0 };
    int i = 3;

    for (; i + 1 < argc && strcmp(argv[i], "--") != 0; i += 2) {
        if (strcmp(argv[i], "--description") == 0)
            description = argv[i + 1];
        if (strcmp(argv[i], "--start") == 0 && strcmp(argv[i + 1], "auto") == 0)
            startType = SERVICE_AUTO_START;
        if (strcmp(argv[i], "--start") == 0 && strcmp(argv[i + 1], "disabled") == 0)
            startType = SERVICE_DISABLED;
    }
    GetModuleFileNameA(NULL, program, MAX_PATH);
    strcpy(strrchr(program, '\\') + 1, "qvx_testsvc.exe");
    std::string path = "\"" + std::string(program) + "\" run \"" + name + "\"";
    for (i++; i < argc; i++)
        path += " " + Quoted(argv[i]);

    SC_HANDLE old = OpenServiceA(manager, name, DELETE);
    if (old) {
        DeleteService(old);
        CloseServiceHandle(old);
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

int main(int argc, char **argv)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);

    if (!manager)
        return Fail("OpenSCManager", "");
    if (argc >= 3 && strcmp(argv[1], "install") == 0)
        return Install(manager, argc, argv);
    if (argc >= 3 && strcmp(argv[1], "start") == 0)
        return Start(manager, argv[2]);
    fprintf(stderr, "usage: qvx_demo_service install NAME [--description TEXT] "
                    "[--start auto|demand|disabled] [-- OPTIONS...] | start NAME\n");
    return 2;
}
