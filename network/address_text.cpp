/* The address helpers: the dotted text of an IPv4 address and its class
   text. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "network.h"

/* The address classes, tested in this order on the first two octets. */
typedef struct AddressClassRow {
    BYTE firstOctet;
    BYTE secondLow;
    BYTE secondHigh;
    const char *text;
} AddressClassRow;

static const AddressClassRow AddressClasses[] = {
    { 10, 0, 255, "private" }, { 172, 16, 31, "private" }, { 192, 168, 168, "private" },
    { 127, 0, 255, "local" },  { 169, 0, 255, "failed" },
};

int FormatIpAddress(char *text, DWORD address)
{
    const BYTE *octets = (const BYTE *)&address;

    /* The four bytes in memory order, as inet_ntoa writes them. */
    snprintf(text, IP_ADDRESS_TEXT_SIZE, "%u.%u.%u.%u", (unsigned)octets[0], (unsigned)octets[1],
             (unsigned)octets[2], (unsigned)octets[3]);
    return 1;
}

int ClassifyIpAddress(char *text, DWORD address)
{
    const BYTE *octets = (const BYTE *)&address;
    const char *classText = "public";
    size_t i;

    if (address == 0) {
        classText = "all";
    }
    for (i = 0; i < sizeof(AddressClasses) / sizeof(AddressClasses[0]); i++) {
        if (octets[0] == AddressClasses[i].firstOctet && octets[1] >= AddressClasses[i].secondLow &&
            octets[1] <= AddressClasses[i].secondHigh) {
            classText = AddressClasses[i].text;
            break;
        }
    }
    strcpy(text, classText);
    return 1;
}
