/* The local web server's base URL, which the browser commands put in
   front of their paths. */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "network.h"
#include "../services/services.h"

#define HTTPS_PORT 443
#define HTTP_PORT  80

int BuildLocalBaseUrl(char *url)
{
    const ServiceEntry *server = &ServiceTable.entries[SERVICE_INDEX_APACHE];
    const ServiceEndpoints *record = &EndpointTable[SERVICE_INDEX_APACHE];
    const Endpoint *first = &record->slots[0];
    char host[IP_ADDRESS_TEXT_SIZE];
    char port[8];

    /* Absent, stopped, or nothing found for it yet (slot 0 then holds port
       0, which would make "http://localhost:0"): the plain local URL. */
    if (server->bInstalled != 1 || server->ssStatus.dwCurrentState == SERVICE_STOPPED ||
        record->count == 0 || first->port == 0) {
        strcpy(url, "http://localhost");
        return 1;
    }
    if (first->address == inet_addr("127.0.0.1") || first->address == inet_addr("0.0.0.0")) {
        strcpy(host, "localhost");
    } else {
        FormatIpAddress(host, first->address);
    }
    port[0] = '\0';
    if (first->port != HTTPS_PORT && first->port != HTTP_PORT) {
        snprintf(port, sizeof(port), ":%d", (int)(first->port & 0xFFFF));
    }
    /* At most 8 + 15 + 6 characters. */
    strcpy(url, first->port == HTTPS_PORT ? "https://" : "http://");
    strcat(url, host);
    strcat(url, port);
    return 1;
}
