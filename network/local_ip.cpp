/* The LocalIpList: the machine's IPv4 addresses as the system's address
   table lists them, the first five kept with their dotted texts, each kept
   one logged with its type. */
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <stdlib.h>
#include <string.h>

#include "network.h"
#include "../log/log.h"

#define IP_TABLE_PROBE_SIZE  28 /* the count and one row */
#define IP_TYPE_TEXT_SIZE    22
#define IP_TABLE_HEADER_SIZE ((ULONG)sizeof(DWORD))
#define IP_TABLE_ROW_SIZE    ((ULONG)sizeof(MIB_IPADDRROW))

LocalIpListRecord LocalIpList;

/* Type texts by the exact value of wType; combinations are unknown. */
typedef struct AddressTypeRow {
    unsigned short wType;
    const char *text;
} AddressTypeRow;

static const AddressTypeRow AddressTypes[] = {
    { MIB_IPADDR_PRIMARY, "Primary" },           { MIB_IPADDR_DYNAMIC, "Dynamic" },
    { MIB_IPADDR_DISCONNECTED, "Disconnected" }, { MIB_IPADDR_DELETED, "Deleted" },
    { MIB_IPADDR_TRANSIENT, "Transient" },
};

static const char *AddressTypeText(unsigned short wType)
{
    size_t i;

    for (i = 0; i < sizeof(AddressTypes) / sizeof(AddressTypes[0]); i++) {
        if (AddressTypes[i].wType == wType) {
            return AddressTypes[i].text;
        }
    }
    return "Unknown returned Type";
}

int ReadLocalIpAddresses(void)
{
    BYTE *buffer;
    ULONG size = 0;
    DWORD result;
    const MIB_IPADDRROW *row;
    char typeText[IP_TYPE_TEXT_SIZE];
    DWORD i;
    DWORD rows;

    LocalIpList.detected = 0;
    buffer = (BYTE *)malloc(IP_TABLE_PROBE_SIZE);
    if (buffer == NULL) {
        ControllerLogAppend("\nCould not allocate memory with malloc(%d).\n", IP_TABLE_PROBE_SIZE);
        goto report;
    }
    /* With size 0 the first call only reports the size it needs. */
    result = NetworkCalls.pGetIpAddrTable(buffer, &size, FALSE);
    if (result == ERROR_INSUFFICIENT_BUFFER) {
        free(buffer);
        buffer = (BYTE *)malloc(size);
        if (buffer == NULL) {
            ControllerLogAppend("\nCould not allocate memory with malloc(%d).\n", (int)size);
            goto report;
        }
    }
    result = NetworkCalls.pGetIpAddrTable(buffer, &size, FALSE);
    if (result != NO_ERROR) {
        /* The buffer holds no table then: nothing is read from it. */
        ControllerLogAppend("Call to GetIpAddrTable failed (%d).\n", (int)GetLastError());
        goto report;
    }
    LocalIpList.detected = ((const MIB_IPADDRTABLE *)buffer)->dwNumEntries;

report:
    ControllerLogAppend("\nNumber of system IPs detected: %d\n", (int)LocalIpList.detected);
    rows = LocalIpList.detected < LOCAL_IP_SLOTS ? LocalIpList.detected : LOCAL_IP_SLOTS;
    /* Only rows inside the block the call filled are read. */
    if (rows > 0 &&
        (size < IP_TABLE_HEADER_SIZE || rows > (size - IP_TABLE_HEADER_SIZE) / IP_TABLE_ROW_SIZE)) {
        rows = size < IP_TABLE_HEADER_SIZE ? 0 : (size - IP_TABLE_HEADER_SIZE) / IP_TABLE_ROW_SIZE;
    }
    LocalIpList.listed = rows;
    for (i = 0; i < rows; i++) {
        row = &((const MIB_IPADDRTABLE *)buffer)->table[i];
        LocalIpList.address[i] = row->dwAddr;
        FormatIpAddress(LocalIpList.text[i], row->dwAddr);
        strncpy(typeText, AddressTypeText(row->wType), IP_TYPE_TEXT_SIZE);
        typeText[IP_TYPE_TEXT_SIZE - 1] = '\0';
        ControllerLogAppend("\nIP %d: %s (%ld), %u [%s]\n", (int)i, LocalIpList.text[i],
                            (long)row->dwAddr, (unsigned)row->wType, typeText);
    }
    free(buffer);
    return 1;
}
