/* The table of the four managed services, its queries and the four
   service actions. */
#ifndef QUORVEX_SERVICES_SERVICES_H
#define QUORVEX_SERVICES_SERVICES_H

#include <windows.h>

#define SERVICE_COUNT        4
#define SERVICE_INDEX_APACHE 0
#define SERVICE_BLOCK_SIZE   4096
#define SERVICE_OPEN_ACCESS  0x10037

typedef struct ServiceEntry {
    const char *lpServiceName;
    int bInstalled;
    SC_HANDLE hService;
    SERVICE_STATUS_PROCESS ssStatus;
    LPQUERY_SERVICE_CONFIGA lpConfiguration; /* 4096-byte block */
    LPSERVICE_DESCRIPTIONA lpDescription;    /* 4096-byte block */
} ServiceEntry;

typedef struct ServiceTableRecord {
    SC_HANDLE hSCManager;
    ServiceEntry entries[SERVICE_COUNT];
} ServiceTableRecord;

extern ServiceTableRecord ServiceTable;

/* Allocates the per-service blocks; malloc unless a test replaces it to
   make an allocation fail. */
typedef void *(*ServiceBlockAllocator)(size_t size);
extern ServiceBlockAllocator ServiceBlockAllocate;

/* Opens the Service Control Manager; OpenSCManagerA unless a test replaces
   it to refuse the open, as Windows does for a user without full access. */
typedef SC_HANDLE(WINAPI *ServiceManagerOpener)(LPCSTR machine, LPCSTR database, DWORD access);
extern ServiceManagerOpener ServiceManagerOpen;

int ServiceTableOpen(void);
int ServiceTableClose(void);
int ServiceQueryStatus(int serviceIndex);
int ServiceQueryConfig(int serviceIndex);
int ServiceQueryDescription(int serviceIndex);

/* Writes the configuration block lines for a filled configuration. */
void LogServiceConfiguration(const QUERY_SERVICE_CONFIGA *config);

int ServiceStop(int serviceIndex);
int ServiceStart(int serviceIndex);
int ServiceDisable(int serviceIndex);
int ServiceEnable(int serviceIndex);

#endif
