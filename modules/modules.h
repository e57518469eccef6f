/* Module inventory: the three lists of modules loaded into the web server's
   process. */
#ifndef QUORVEX_MODULES_MODULES_H
#define QUORVEX_MODULES_MODULES_H

#include <windows.h>

int FillModuleLists(HWND hDlg);
int EnumerateProcessModules(DWORD processId);
int ClassifyModule(const char *moduleName);

#endif
