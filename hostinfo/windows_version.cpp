/* The Windows version text: the version record, the processor architecture
   and the SM_SERVERR2 metric chosen through one decision table, followed by
   the service-pack text the system reports. */
#include "hostinfo.h"

#include <string.h>

#include "../paths/paths.h"

char OsVersionText[OS_VERSION_TEXT_SIZE] = "[Unknown] ";

void ComposeWindowsVersionText(char *text, const OSVERSIONINFOEXA *version,
                               WORD processorArchitecture, int serverR2)
{
    const char *name = "[Unknown] ";
    const char *suffix = "";
    char csd[sizeof(version->szCSDVersion) + 1];

    memset(csd, 0, sizeof(csd));
    memcpy(csd, version->szCSDVersion, sizeof(version->szCSDVersion));

    if (version->dwPlatformId == VER_PLATFORM_WIN32s) {
        name = "Microsoft Win32s ";
    } else if (version->dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
               version->dwMajorVersion == 4) {
        if (version->dwMinorVersion == 0) {
            name = "Microsoft Windows 95 ";
            if (csd[1] == 'C' || csd[1] == 'B')
                suffix = "OSR2 ";
        } else if (version->dwMinorVersion == 10) {
            name = "Microsoft Windows 98 ";
            if (csd[1] == 'A' || csd[1] == 'B')
                suffix = "SE ";
        } else if (version->dwMinorVersion == 90) {
            name = "Microsoft Windows Millennium Edition ";
        }
    } else if (version->dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (version->dwMajorVersion == 6 && version->dwMinorVersion == 0) {
            name = version->wProductType == VER_NT_WORKSTATION ? "Microsoft Windows Vista "
                                                               : "Windows Server \"Longhorn\" ";
        } else if (version->dwMajorVersion == 5 && version->dwMinorVersion == 2) {
            if (serverR2 != 0) {
                name = "Microsoft Windows Server 2003 \"R2\" ";
            } else if (version->wProductType == VER_NT_WORKSTATION &&
                       processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
                name = "Microsoft Windows XP Professional x64 Edition ";
            } else {
                name = "Microsoft Windows Server 2003 ";
            }
        } else if (version->dwMajorVersion == 5 && version->dwMinorVersion == 1) {
            name = "Microsoft Windows XP ";
        } else if (version->dwMajorVersion == 5 && version->dwMinorVersion == 0) {
            name = "Microsoft Windows 2000 ";
        } else if (version->dwMajorVersion <= 4) {
            name = "Microsoft Windows NT ";
        }
    }

    CopyBoundedText(text, OS_VERSION_TEXT_SIZE, name, 1);
    AppendBoundedText(text, OS_VERSION_TEXT_SIZE, suffix, 1);
    AppendBoundedText(text, OS_VERSION_TEXT_SIZE, csd, 1);
}

int DetectWindowsVersion(void)
{
    OSVERSIONINFOEXA version;
    SYSTEM_INFO system;

    strcpy(OsVersionText, "[Unknown] ");
    memset(&version, 0, sizeof(version));
    memset(&system, 0, sizeof(system));
    GetSystemInfo(&system);
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA((OSVERSIONINFOA *)&version)) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA((OSVERSIONINFOA *)&version)) {
            return 0;
        }
    }
    ComposeWindowsVersionText(OsVersionText, &version, system.wProcessorArchitecture,
                              GetSystemMetrics(SM_SERVERR2));
    return 1;
}
