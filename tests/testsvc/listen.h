// A socket listening on ADDR:PORT, for the test service and the demo's service mode.
#pragma once
#include <winsock2.h>

#include <stdlib.h>
#include <string.h>

#include <string>

// Wine's TCP table names the owner of a listening socket once its process has used it.
static void Listen(const char *address)
{
    const char *colon = strrchr(address, ':');
    sockaddr_in where = { AF_INET, htons((u_short)atoi(colon + 1)) };
    int keepAlive = 0;
    int size = sizeof(keepAlive);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);

    where.sin_addr.s_addr = inet_addr(std::string(address, colon).c_str());
    bind(listener, (sockaddr *)&where, sizeof(where));
    listen(listener, 16);
    getsockopt(listener, SOL_SOCKET, SO_KEEPALIVE, (char *)&keepAlive, &size);
}
