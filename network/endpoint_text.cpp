/* The IP and Port field: the endpoints recorded for the selected service,
   as the user sees them. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "network.h"
#include "../paths/paths.h"
#include "../res/resource.h"
#include "../services/services.h"
#include "../textfit/textfit.h"

int ShowServiceEndpoints(HWND hDlg, int serviceIndex)
{
    char field[ENDPOINT_FIELD_SIZE];
    char endpoint[ENDPOINT_TEXT_SIZE];
    char dotted[IP_ADDRESS_TEXT_SIZE];
    char classText[IP_CLASS_TEXT_SIZE];
    const ServiceEndpoints *record;
    DWORD count;
    DWORD i;

    if (serviceIndex < 0 || serviceIndex >= SERVICE_COUNT || !ServiceIsRunning(serviceIndex)) {
        SetDlgItemTextA(hDlg, IDC_IP_AND_PORT, "");
        return 1;
    }
    record = &EndpointTable[serviceIndex];
    count = record->count <= ENDPOINT_SLOTS ? record->count : ENDPOINT_SLOTS;
    memset(field, 0, sizeof(field));
    for (i = 0; i < count; i++) {
        FormatIpAddress(dotted, record->slots[i].address);
        ClassifyIpAddress(classText, record->slots[i].address);
        snprintf(endpoint, sizeof(endpoint), "%s:%d [%s]", dotted, (int)record->slots[i].port,
                 classText);
        /* Five endpoints of at most 31 characters and four ", " fit. */
        AppendBoundedText(field, sizeof(field), endpoint, 1);
        if (count > 1 && i < count - 1) {
            AppendBoundedText(field, sizeof(field), ", ", 1);
        }
    }
    SetFittedDlgItemText(hDlg, IDC_IP_AND_PORT, field);
    return 1;
}
