/* Suite paths, the environment report and the registry value reader. */
#ifndef QUORVEX_PATHS_PATHS_H
#define QUORVEX_PATHS_PATHS_H

#include <windows.h>

#define SUITE_PATH_SIZE 260

/* The machine facts and the stack's directories, rebuilt by every
   SuitePathsQuery. */
typedef struct SuitePathsRecord {
    char ComputerName[SUITE_PATH_SIZE];
    char UserName[SUITE_PATH_SIZE];
    char WindowsDirectory[SUITE_PATH_SIZE];
    char SystemDirectory[SUITE_PATH_SIZE];
    char HostsFileDirectory[SUITE_PATH_SIZE];
    char WwwRootPath[SUITE_PATH_SIZE];
    char WebrootPath[SUITE_PATH_SIZE];
    char ApacheRootPath[SUITE_PATH_SIZE];
    char ApacheLogsPath[SUITE_PATH_SIZE];
    char ApacheConfPath[SUITE_PATH_SIZE];
    char ApacheConfExtraPath[SUITE_PATH_SIZE];
    char ApacheConfSuitePath[SUITE_PATH_SIZE];
    char MySqlIniPath[SUITE_PATH_SIZE];
    char PhpIniPath[SUITE_PATH_SIZE];
} SuitePathsRecord;

extern SuitePathsRecord SuitePaths;

#define ENVIRONMENT_TEXT_SIZE   2048
#define ENVIRONMENT_ENTRY_COUNT 3

typedef struct EnvironmentReportEntry {
    char referenceText[ENVIRONMENT_TEXT_SIZE];
    char expansion[ENVIRONMENT_TEXT_SIZE];
} EnvironmentReportEntry;

extern EnvironmentReportEntry EnvironmentReport[ENVIRONMENT_ENTRY_COUNT];

int SuitePathsQuery(void);

/* The system calls of this folder. The program uses PathsSystemCallsDefault
   (the kernel32, advapi32 and psapi functions themselves); a test may put
   others in their place for what a live system does not produce: a failing
   machine-fact query or expansion, a registry that refuses write access, a
   value query that fails between its two calls. */
typedef struct PathsSystemCalls {
    BOOL(WINAPI *pGetComputerNameA)(LPSTR lpBuffer, LPDWORD nSize);
    BOOL(WINAPI *pGetUserNameA)(LPSTR lpBuffer, LPDWORD pcbBuffer);
    UINT(WINAPI *pGetWindowsDirectoryA)(LPSTR lpBuffer, UINT uSize);
    UINT(WINAPI *pGetSystemDirectoryA)(LPSTR lpBuffer, UINT uSize);
    DWORD(WINAPI *pGetModuleFileNameExA)
    (HANDLE hProcess, HMODULE hModule, LPSTR lpFilename, DWORD nSize);
    DWORD(WINAPI *pExpandEnvironmentStringsA)(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);
    LONG(WINAPI *pRegOpenKeyExA)
    (HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
    LONG(WINAPI *pRegQueryValueExA)
    (HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
     LPDWORD lpcbData);
    LONG(WINAPI *pRegCloseKey)(HKEY hKey);
} PathsSystemCalls;

extern PathsSystemCalls PathsCalls;
extern const PathsSystemCalls PathsSystemCallsDefault;

/* Reads one string value (REG_SZ, or REG_EXPAND_SZ unexpanded) under
   HKEY_LOCAL_MACHINE into outText, which holds outCapacity bytes: 1 when
   read and copied, 0 otherwise with outText untouched. A text longer than
   outCapacity - 1 characters is cut there; the result is still 1. A
   capacity of 0 fails at once with one line. outSize (the value's size in
   bytes) and outType may be null. */
int ReadRegistryString(const char *keyPath, const char *valueName, char *outText, DWORD outCapacity,
                       DWORD *outSize, DWORD *outType);

/* Appends text to the zero-terminated text in buffer, which holds size
   bytes in all: 1 when the whole text went in. A text that does not fit is
   cut at size - 1 characters when cut is set, else left out with the buffer
   unchanged. CopyBoundedText does the same into the emptied buffer. */
int AppendBoundedText(char *buffer, size_t size, const char *text, int cut);
int CopyBoundedText(char *buffer, size_t size, const char *text, int cut);

#endif
