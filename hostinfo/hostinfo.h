/* Host information: the Windows version text, the installed .NET runtimes
   and JDK, and the System Information panel. */
#ifndef QUORVEX_HOSTINFO_HOSTINFO_H
#define QUORVEX_HOSTINFO_HOSTINFO_H

#include <windows.h>

#define OS_VERSION_TEXT_SIZE 256

extern char OsVersionText[OS_VERSION_TEXT_SIZE];
int DetectWindowsVersion(void);
/* The name chosen for a version record, the processor architecture and the
   SM_SERVERR2 metric, followed by the service-pack text; into text (256
   bytes). */
void ComposeWindowsVersionText(char *text, const OSVERSIONINFOEXA *version,
                               WORD processorArchitecture, int serverR2);

#define DOTNET_RUNTIME_COUNT 3
#define DOTNET_PATH_SIZE     256

typedef struct DotNetRuntime {
    const char *directoryName;
    const char *displayVersion;
    int found;
    int servicePack;
} DotNetRuntime;

extern char DotNetInstallRoot[DOTNET_PATH_SIZE];
extern DotNetRuntime DotNetRuntimeTable[DOTNET_RUNTIME_COUNT];
extern char JdkVersionText[260];
extern int JdkFound;

int DetectDotNetRuntimes(void);
int DetectJdkVersion(void);
int FileExists(const char *path);

/* The field texts of the panel, each bounded by `size`. */
#define SYSTEM_INFO_TEXT_SIZE 256
void ComposeIpAddressText(char *text, size_t size);
void ComposeDotNetText(char *text, size_t size);
void ComposeJdkText(char *text, size_t size);

int FillSystemInformation(HWND hDlg);

#endif
