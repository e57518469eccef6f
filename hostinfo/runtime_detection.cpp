/* Runtime detection: the .NET runtimes 1.0, 1.1 and 2.0 under the
   framework's install root, with the service-pack level their core
   library's revision tells, and the current JDK version. */
#include "hostinfo.h"

#include <stdlib.h>
#include <string.h>

#include "../log/log.h"
#include "../paths/paths.h"

char DotNetInstallRoot[DOTNET_PATH_SIZE];
DotNetRuntime DotNetRuntimeTable[DOTNET_RUNTIME_COUNT] = {
    { "v1.0.3705", "1.0", 0, 0 },
    { "v1.1.4322", "1.1", 0, 0 },
    { "v2.0.50727", "2.0", 0, 0 },
};
char JdkVersionText[260];
int JdkFound;

typedef struct ServicePackRow {
    WORD revision;
    int runtime;
    int level;
} ServicePackRow;

/* Keyed on the revision alone: the row a revision sets does not depend on
   the runtime being examined. */
static const ServicePackRow ServicePackRows[] = {
    { 0, 0, 0 },   { 209, 0, 1 },  { 288, 0, 2 },  { 6018, 0, 3 },
    { 573, 1, 0 }, { 2032, 1, 1 }, { 2300, 1, 1 }, { 42, 2, 0 },
};

static void SetServicePack(WORD revision, int examined)
{
    size_t i;

    for (i = 0; i < sizeof(ServicePackRows) / sizeof(ServicePackRows[0]); i++) {
        if (ServicePackRows[i].revision == revision) {
            DotNetRuntimeTable[ServicePackRows[i].runtime].servicePack = ServicePackRows[i].level;
            return;
        }
    }
    DotNetRuntimeTable[examined].servicePack = 0;
}

int FileExists(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search =
        FindFirstFileExA(path, FindExInfoStandard, &found, FindExSearchNameMatch, NULL, 0);

    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    FindClose(search);
    return 1;
}

/* Composes install root, directory name and "\mscorlib.dll" into the
   256-byte path; 0 when it does not fit. */
static int ComposeRuntimePath(char *path, const char *directoryName)
{
    return CopyBoundedText(path, DOTNET_PATH_SIZE, DotNetInstallRoot, 0) &&
           AppendBoundedText(path, DOTNET_PATH_SIZE, directoryName, 0) &&
           AppendBoundedText(path, DOTNET_PATH_SIZE, "\\mscorlib.dll", 0);
}

/* A version block counts as read only when it is whole: its own length,
   its first word, within the bytes it was read into. A longer one is
   corrupt and would lead VerQueryValue past the end of the block. */
static int VersionBlockIsWhole(const void *block, DWORD size)
{
    if (size < sizeof(WORD) || *(const WORD *)block > size) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    return 1;
}

int DetectDotNetRuntimes(void)
{
    char path[DOTNET_PATH_SIZE];
    int i;

    if (!ReadRegistryString("SOFTWARE\\Microsoft\\.NETFramework", "InstallRoot", DotNetInstallRoot,
                            sizeof(DotNetInstallRoot), NULL, NULL)) {
        return 0;
    }
    memset(path, 0, sizeof(path));
    for (i = 0; i < DOTNET_RUNTIME_COUNT; i++) {
        DotNetRuntime *runtime = &DotNetRuntimeTable[i];
        DWORD handle = 0;
        DWORD size;
        void *block;
        VS_FIXEDFILEINFO *fixed = NULL;
        UINT fixedSize = 0;

        if (!ComposeRuntimePath(path, runtime->directoryName)) {
            runtime->found = 0;
            ControllerLogAppend(
                "\n.NET v%s Runtime path too long for its buffer; runtime NOT Found.\n",
                runtime->displayVersion);
            continue;
        }
        if (!FileExists(path)) {
            runtime->found = 0;
            ControllerLogAppend("\n.NET v%s Runtime NOT Found.\n", runtime->displayVersion);
            continue;
        }
        runtime->found = 1;
        ControllerLogAppend("\n.NET v%s Runtime Found.\n", runtime->displayVersion);

        size = GetFileVersionInfoSizeA(path, &handle);
        if (size == 0) {
            ControllerLogAppend("GetFileVersionInfoSize() failed (%d).\n", (int)GetLastError());
            return 0;
        }
        block = calloc(size, 1);
        if (block == NULL) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
        if (block == NULL || !GetFileVersionInfoA(path, 0, size, block) ||
            !VersionBlockIsWhole(block, size)) {
            ControllerLogAppend("GetFileVersionInfo() failed (%d).\n", (int)GetLastError());
            free(block);
            return 0;
        }
        if (!VerQueryValueA(block, "\\", (LPVOID *)&fixed, &fixedSize) || fixed == NULL ||
            fixedSize < sizeof(VS_FIXEDFILEINFO)) {
            ControllerLogAppend("VerQueryValue(): The specified name does not exist or the "
                                "specified resource is not valid.\n");
            free(block);
            return 0;
        }
        SetServicePack(LOWORD(fixed->dwFileVersionLS), i);
        ControllerLogAppend("File:                 %s\n", path);
        ControllerLogAppend("MajorVersion:         %d\n", (int)HIWORD(fixed->dwFileVersionMS));
        ControllerLogAppend("MinorVersion:         %d\n", (int)LOWORD(fixed->dwFileVersionMS));
        ControllerLogAppend("BuildNumber:          %d\n", (int)HIWORD(fixed->dwFileVersionLS));
        ControllerLogAppend("RevisionNumber (QFE): %d\n", (int)LOWORD(fixed->dwFileVersionLS));
        free(block);
    }
    return 1;
}

int DetectJdkVersion(void)
{
    JdkFound = ReadRegistryString("SOFTWARE\\JavaSoft\\Java Development Kit", "CurrentVersion",
                                  JdkVersionText, sizeof(JdkVersionText), NULL, NULL);
    return 1;
}
