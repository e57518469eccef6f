/* SuitePaths: the machine facts and the stack's directories derived from
   the program's own drive, written to the log with the environment report
   of PATH, JAVA_HOME and CATALINA_HOME. */
#include "paths.h"

#include <string.h>

#include "../log/log.h"

SuitePathsRecord SuitePaths;

EnvironmentReportEntry EnvironmentReport[ENVIRONMENT_ENTRY_COUNT] = {
    { "%PATH%", "" },
    { "%JAVA_HOME%", "" },
    { "%CATALINA_HOME%", "" },
};

/* Copies source into a SuitePaths member and appends suffix, cut at the
   member's 259 characters. Only the hosts file's directory, built on the
   system directory, can come near the limit. */
static void ComposeSuitePath(char *member, const char *source, const char *suffix)
{
    CopyBoundedText(member, SUITE_PATH_SIZE, source, 1);
    AppendBoundedText(member, SUITE_PATH_SIZE, suffix, 1);
}

int SuitePathsQuery(void)
{
    DWORD size;
    char processPath[SUITE_PATH_SIZE];
    char drive[4];
    int i;

    memset(&SuitePaths, 0, sizeof(SuitePaths));
    ControllerLogAppend("\nQuerying System Directories and Info...\n");

    size = SUITE_PATH_SIZE;
    if (PathsCalls.pGetComputerNameA(SuitePaths.ComputerName, &size)) {
        ControllerLogAppend("\nComputer name: %s", SuitePaths.ComputerName);
    } else {
        ControllerLogAppend("GetComputerName() failed (%d)", (int)GetLastError());
    }
    size = SUITE_PATH_SIZE;
    if (PathsCalls.pGetUserNameA(SuitePaths.UserName, &size)) {
        ControllerLogAppend("\nUser name: %s\n", SuitePaths.UserName);
    } else {
        ControllerLogAppend("GetUserName() failed (%d)", (int)GetLastError());
    }
    if (PathsCalls.pGetWindowsDirectoryA(SuitePaths.WindowsDirectory, SUITE_PATH_SIZE) == 0) {
        ControllerLogAppend("GetWindowsDirectory() failed (%d)", (int)GetLastError());
    } else {
        ControllerLogAppend("\nWindows Directory: %s", SuitePaths.WindowsDirectory);
    }
    if (PathsCalls.pGetSystemDirectoryA(SuitePaths.SystemDirectory, SUITE_PATH_SIZE) == 0) {
        ControllerLogAppend("GetSystemDirectory() failed (%d)", (int)GetLastError());
    } else {
        ControllerLogAppend("\nSystem Directory: %s\n", SuitePaths.SystemDirectory);
    }
    ComposeSuitePath(SuitePaths.HostsFileDirectory, SuitePaths.SystemDirectory, "\\drivers\\etc");
    ControllerLogAppend("\nHosts File Directory: %s\n", SuitePaths.HostsFileDirectory);

    memset(processPath, 0, sizeof(processPath));
    if (PathsCalls.pGetModuleFileNameExA(GetCurrentProcess(), NULL, processPath, SUITE_PATH_SIZE) !=
        0) {
        /* A path that filled the buffer may come back unterminated. */
        processPath[SUITE_PATH_SIZE - 1] = '\0';
        ControllerLogAppend("\nProcess Path: %s", processPath);
        memset(drive, 0, sizeof(drive));
        memcpy(drive, processPath, 3);
        ComposeSuitePath(SuitePaths.WwwRootPath, drive, "www");
        ControllerLogAppend("\n'www' Root Path: %s\n", SuitePaths.WwwRootPath);
    } else {
        ControllerLogAppend("GetModuleFileNameEx() for this process failed (%d)",
                            (int)GetLastError());
    }

    ComposeSuitePath(SuitePaths.WebrootPath, SuitePaths.WwwRootPath, "\\vhosts");
    ControllerLogAppend("\nWebroot Path: %s\n", SuitePaths.WebrootPath);
    ComposeSuitePath(SuitePaths.ApacheRootPath, SuitePaths.WwwRootPath, "\\Apache22");
    ControllerLogAppend("\nApache Root Path: %s", SuitePaths.ApacheRootPath);
    ComposeSuitePath(SuitePaths.ApacheLogsPath, SuitePaths.ApacheRootPath, "\\logs");
    ControllerLogAppend("\nApache Logs Path: %s", SuitePaths.ApacheLogsPath);
    ComposeSuitePath(SuitePaths.ApacheConfPath, SuitePaths.ApacheRootPath, "\\conf");
    ControllerLogAppend("\nApache Conf Path: %s", SuitePaths.ApacheConfPath);
    ComposeSuitePath(SuitePaths.ApacheConfExtraPath, SuitePaths.ApacheConfPath, "\\extra");
    ControllerLogAppend("\nApache Conf Extra Path: %s", SuitePaths.ApacheConfExtraPath);
    ComposeSuitePath(SuitePaths.ApacheConfSuitePath, SuitePaths.ApacheConfPath, "\\extra");
    ControllerLogAppend("\nApache Conf Suite Path: %s\n", SuitePaths.ApacheConfSuitePath);
    ComposeSuitePath(SuitePaths.MySqlIniPath, SuitePaths.WwwRootPath, "\\mysql5");
    ControllerLogAppend("\nMySQL INI Path: %s", SuitePaths.MySqlIniPath);
    ComposeSuitePath(SuitePaths.PhpIniPath, SuitePaths.WwwRootPath, "\\php5");
    ControllerLogAppend("\nPHP INI Path: %s\n", SuitePaths.PhpIniPath);

    ControllerLogAppend("\nEnvironment Variables...\n");
    for (i = 0; i < ENVIRONMENT_ENTRY_COUNT; i++) {
        EnvironmentReportEntry *entry = &EnvironmentReport[i];
        DWORD needed = PathsCalls.pExpandEnvironmentStringsA(entry->referenceText, entry->expansion,
                                                             ENVIRONMENT_TEXT_SIZE);
        if (needed > ENVIRONMENT_TEXT_SIZE) {
            ControllerLogAppend("\n\t(Buffer too small to expand: \"%s\")", entry->referenceText);
            continue;
        }
        if (needed == 0) {
            ControllerLogAppend("\nExpandEnvironmentStrings(%s) failed (%d).\n",
                                entry->referenceText, (int)GetLastError());
            return 0;
        }
        ControllerLogAppend("\n%s -- %s\n", entry->referenceText, entry->expansion);
    }
    return 1;
}
