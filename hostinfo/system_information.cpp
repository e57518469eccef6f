/* The System Information panel: the IP Address, NET Version, JDK Version
   and OS Version fields, then the suite paths and environment report. */
#include "hostinfo.h"

#include <stdio.h>
#include <string.h>

#include "../network/network.h"
#include "../paths/paths.h"
#include "../res/resource.h"
#include "../textfit/textfit.h"

void ComposeIpAddressText(char *text, size_t size)
{
    /* The addresses the list read, which may be fewer than the system
       claimed. */
    DWORD listed = LocalIpList.listed < LOCAL_IP_SLOTS ? LocalIpList.listed : LOCAL_IP_SLOTS;
    DWORD i;

    memset(text, 0, size);
    for (i = 0; i < listed; i++) {
        char dotted[16];
        char addressClass[24];
        FormatIpAddress(dotted, LocalIpList.address[i]);
        ClassifyIpAddress(addressClass, LocalIpList.address[i]);
        AppendBoundedText(text, size, dotted, 1);
        AppendBoundedText(text, size, " [", 1);
        AppendBoundedText(text, size, addressClass, 1);
        AppendBoundedText(text, size, "]", 1);
        if (i + 1 < listed) {
            AppendBoundedText(text, size, ", ", 1);
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
        AppendBoundedText(text, size, "v", 1);
        AppendBoundedText(text, size, runtime->displayVersion, 1);
        AppendBoundedText(text, size, " ", 1);
        if (runtime->servicePack != 0) {
            char level[16];
            snprintf(level, sizeof(level), "%d", runtime->servicePack);
            AppendBoundedText(text, size, "SP ", 1);
            AppendBoundedText(text, size, level, 1);
        }
        if (i < DOTNET_RUNTIME_COUNT - 1 && DotNetRuntimeTable[i + 1].found) {
            AppendBoundedText(text, size, ", ", 1);
        }
    }
}

void ComposeJdkText(char *text, size_t size)
{
    memset(text, 0, size);
    if (JdkFound == 1) {
        AppendBoundedText(text, size, "v", 1);
        AppendBoundedText(text, size, JdkVersionText, 1);
    } else {
        AppendBoundedText(text, size, "[not detected]", 1);
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
