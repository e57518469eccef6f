/* The debug privilege of the program's own token, which the handle walk and
   the module walk need to read the service processes. */
#include <windows.h>
#include <string.h>

#include "network.h"
#include "../log/log.h"

#define DEBUG_TOKEN_ACCESS 0x28 /* TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY */

int EnableDebugPrivilege(void)
{
    HANDLE token = NULL;
    TOKEN_PRIVILEGES privileges;
    DWORD returned = 0;
    BOOL adjusted;
    int ok = 0;

    if (!OpenProcessToken(GetCurrentProcess(), DEBUG_TOKEN_ACCESS, &token)) {
        ControllerLogAppend("OpenProcessToken () failed (%d).\n", (int)GetLastError());
        return 0;
    }
    memset(&privileges, 0, sizeof(privileges));
    privileges.PrivilegeCount = 1;
    if (!LookupPrivilegeValueA(NULL, "SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
        ControllerLogAppend("LookupPrivilegeValue () failed (%d).\n", (int)GetLastError());
        goto cleanup;
    }
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    adjusted = NetworkCalls.pAdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges),
                                                   NULL, &returned);
    if (!adjusted) {
        ControllerLogAppend("AdjustTokenPrivileges () failed (%d).\n", (int)GetLastError());
        goto cleanup;
    }
    if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
        ControllerLogAppend("AdjustTokenPrivileges () failed (%s).\n", "ERROR_NOT_ALL_ASSIGNED");
        goto cleanup;
    }
    ok = 1;

cleanup:
    CloseHandle(token);
    return ok;
}
