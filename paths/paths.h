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

/* Copies source into a SuitePaths member and appends suffix, cut at the
   member's 259 characters. Returns 1 when nothing was cut. */
int ComposeSuitePath(char *member, const char *source, const char *suffix);

/* Reads one string value under HKEY_LOCAL_MACHINE into outText, which holds
   outCapacity bytes; a longer text is cut to outCapacity - 1 characters.
   outSize and outType may be null. */
int ReadRegistryString(const char *keyPath, const char *valueName, char *outText,
                       DWORD outCapacity, DWORD *outSize, DWORD *outType);

#endif
