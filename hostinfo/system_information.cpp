/* The System Information panel: the IP Address, NET Version, JDK Version
   and OS Version fields, then the suite paths and environment report. */
#include "hostinfo.h"

#include <stdio.h>
#include <string.h>

#include "../network/network.h"
#include "../paths/paths.h"
#include "../res/resource.h"
#include "../textfit/textfit.h"

/* Appends within a buffer of `size` bytes; what does not fit is cut. */
static void AppendBounded(char *text, size_t size, const char *suffix)
{
    size_t length = strlen(text);
    size_t add = strlen(suffix);

    if (length + 1 >= size) {
        return;
    }
    if (length + add > size - 1) {
        add = size - 1 - length;
    }
    memcpy(text + length, suffix, add);
    text[length + add] = '\0';
}

void ComposeIpAddressText(char *text, size_t size)
{
    DWORD listed = LocalIpList.detected < LOCAL_IP_SLOTS ? LocalIpList.detected : LOCAL_IP_SLOTS;
    DWORD i;

    memset(text, 0, size);
    for (i = 0; i < listed; i++) {
        char dotted[16];
        char addressClass[24];
        FormatIpAddress(dotted, LocalIpList.address[i]);
        ClassifyIpAddress(addressClass, LocalIpList.address[i]);
        AppendBounded(text, size, dotted);
        AppendBounded(text, size, " [");
        AppendBounded(text, size, addressClass);
        AppendBounded(text, size, "]");
        if (i + 1 < listed) {
            AppendBounded(text, size, ", ");
        }
    }
}

void ComposeDotNetText(char *text, size_t size)
{
    int i;

    memset(text, 0, size);
    for (i = 0; i < DOTNET_RUNTIME_COUNT; i++) {
        const DotNetRuntime *runtime = &DotNetRuntimeTable[i];
        if (!runtime->found) {
            continue;
        }
        AppendBounded(text, size, "v");
        AppendBounded(text, size, runtime->displayVersion);
        AppendBounded(text, size, " ");
        if (runtime->servicePack != 0) {
            char level[16];
            snprintf(level, sizeof(level), "%d", runtime->servicePack);
            AppendBounded(text, size, "SP ");
            AppendBounded(text, size, level);
        }
        if (i < DOTNET_RUNTIME_COUNT - 1 && DotNetRuntimeTable[i + 1].found) {
            AppendBounded(text, size, ", ");
        }
    }
}

void ComposeJdkText(char *text, size_t size)
{
    memset(text, 0, size);
    if (JdkFound == 1) {
        AppendBounded(text, size, "v");
        AppendBounded(text, size, JdkVersionText);
    } else {
        AppendBounded(text, size, "[not detected]");
    }
}

int FillSystemInformation(HWND hDlg)
{
    char text[SYSTEM_INFO_TEXT_SIZE];

    DetectWindowsVersion();
    SetDlgItemTextA(hDlg, IDC_OS_VERSION, OsVersionText);

    ReadLocalIpAddresses();
    ComposeIpAddressText(text, sizeof(text));
    SetFittedDlgItemText(hDlg, IDC_IP_ADDRESS, text);

    if (!DetectDotNetRuntimes()) {
        SetDlgItemTextA(hDlg, IDC_NET_VERSION, "[not detected]");
    } else {
        ComposeDotNetText(text, sizeof(text));
        SetDlgItemTextA(hDlg, IDC_NET_VERSION, text);
    }

    DetectJdkVersion();
    ComposeJdkText(text, sizeof(text));
    SetDlgItemTextA(hDlg, IDC_JDK_VERSION, text);

    SuitePathsQuery();
    return 1;
}
