/* Host information: the Windows version text, the installed .NET runtimes
   and JDK, and the System Information panel. */
#ifndef QUORVEX_HOSTINFO_HOSTINFO_H
#define QUORVEX_HOSTINFO_HOSTINFO_H

#include <windows.h>

extern char OsVersionText[256];
int DetectWindowsVersion(void);

int FillSystemInformation(HWND hDlg);

#endif
