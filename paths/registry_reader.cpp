/* The registry value reader: one string value under HKEY_LOCAL_MACHINE,
   described step by step in the log, copied into the caller's buffer within
   its capacity. */
#include "paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../log/log.h"

typedef struct RegistryTypeRow {
    DWORD type;
    const char *description;
} RegistryTypeRow;

static const RegistryTypeRow RegistryTypeRows[] = {
    { REG_SZ, "REG_SZ -- null-terminated string" },
    { REG_EXPAND_SZ, "REG_EXPAND_SZ -- null-terminated string that contains unexpanded references "
                     "to environment variables" },
    { REG_MULTI_SZ,
      "REG_MULTI_SZ -- sequence of null-terminated strings, terminated by an empty string (\\0)" },
};

static const char *DescribeRegistryType(DWORD type)
{
    size_t i;

    for (i = 0; i < sizeof(RegistryTypeRows) / sizeof(RegistryTypeRows[0]); i++) {
        if (RegistryTypeRows[i].type == type) {
            return RegistryTypeRows[i].description;
        }
    }
    return "Other\t -- unknown format";
}

int ReadRegistryString(const char *keyPath, const char *valueName, char *outText, DWORD outCapacity,
                       DWORD *outSize, DWORD *outType)
{
    HKEY hKey = NULL;
    BYTE *data = NULL;
    DWORD blockSize;
    DWORD type = 0;
    DWORD size = 0;
    DWORD length;
    LONG status;
    int result = 0;

    if (outCapacity == 0) {
        ControllerLogAppend("\nNo room for value '%s' in a buffer of 0 bytes.\n", valueName);
        return 0;
    }
    ControllerLogAppend("\nOpening value '%s' under key '%s' via Registry...\n", valueName,
                        keyPath);
    /* Read access is all a reader needs: asking for write access too makes
       the value read as absent for a user who may not write to the key. */
    status = PathsCalls.pRegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &hKey);
    if (status != ERROR_SUCCESS) {
        ControllerLogAppend("\nRegOpenKeyEx() returns: %ld.\n", (long)status);
        return 0;
    }

    status = PathsCalls.pRegQueryValueExA(hKey, valueName, NULL, &type, NULL, &size);
    if (status != ERROR_SUCCESS) {
        ControllerLogAppend("\nRegQueryValueEx (Type and Size query only) returns: %ld.\n",
                            (long)status);
        goto cleanup;
    }

    ControllerLogAppend("\nValue Name: %s\n", valueName);
    ControllerLogAppend("\nValue Type: [%d] ", (int)type);
    ControllerLogAppend("%s", DescribeRegistryType(type));
    ControllerLogAppend(".\n");
    ControllerLogAppend("\nValue Size: %d [BYTES] (with terminating NULL(s) if type is REG_SZ, "
                        "REG_EXPAND_SZ, or REG_MULTI_SZ).\n",
                        (int)size);

    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        ControllerLogAppend("\nWarning:\n'%s' Value Type (%d) is unsuported.\n", valueName,
                            (int)type);
        goto cleanup;
    }

    /* A block of the value's size and one byte more: an empty value still
       gets a block of its own (some allocators give none for 0 bytes), and
       the data always ends in a zero. */
    blockSize = size;
    if (blockSize < MAXDWORD) {
        data = (BYTE *)malloc((size_t)blockSize + 1);
    }
    if (data == NULL) {
        ControllerLogAppend("\nUnable to allocate %d bytes for 'ValueData'.\n", (int)size);
        goto cleanup;
    }
    memset(data, 0, (size_t)blockSize + 1);

    status = PathsCalls.pRegQueryValueExA(hKey, valueName, NULL, &type, data, &size);
    if (status != ERROR_SUCCESS) {
        printf("\nRegQueryValueEx (%s) returns: %ld\n", valueName, (long)status);
        fflush(stdout);
        goto cleanup;
    }
    /* The text up to its first zero, never beyond the value's size or the
       block, and cut to what the caller's buffer holds. */
    length = 0;
    while (length < size && length < blockSize && data[length] != 0 && length < outCapacity - 1) {
        length++;
    }
    memcpy(outText, data, length);
    outText[length] = '\0';
    if (outSize != NULL) {
        *outSize = size;
    }
    if (outType != NULL) {
        *outType = type;
    }
    ControllerLogAppend("\nValue Data: %s\n", outText);
    result = 1;

cleanup:
    free(data);
    PathsCalls.pRegCloseKey(hKey);
    return result;
}
