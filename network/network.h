/* Network endpoints: which local addresses and ports each running service's
   process holds, the text that shows them, the local web server's base URL,
   the address helpers and the machine's IPv4 address list. */
#ifndef QUORVEX_NETWORK_NETWORK_H
#define QUORVEX_NETWORK_NETWORK_H

#include <windows.h>

#define ENDPOINT_SLOTS 5

typedef struct Endpoint {
    DWORD address;   /* IPv4, network byte order */
    DWORD port;      /* host byte order */
} Endpoint;

typedef struct ServiceEndpoints {
    DWORD count;
    Endpoint slots[ENDPOINT_SLOTS];
} ServiceEndpoints;

extern ServiceEndpoints EndpointTable[4];

int MapServiceEndpoints(void);
int MapEndpointsByTcpTable(void);
int MapEndpointsByHandles(void);
int EnableDebugPrivilege(void);

int FormatIpAddress(char *text, DWORD address);
int ClassifyIpAddress(char *text, DWORD address);
int ShowServiceEndpoints(HWND hDlg, int serviceIndex);
int BuildLocalBaseUrl(char *url);

#define LOCAL_IP_SLOTS 5

typedef struct LocalIpListRecord {
    DWORD detected;
    DWORD address[LOCAL_IP_SLOTS];
    char text[LOCAL_IP_SLOTS][16];
} LocalIpListRecord;

extern LocalIpListRecord LocalIpList;

int ReadLocalIpAddresses(void);

#endif
