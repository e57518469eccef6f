/* Suite paths, the environment report and the registry value reader. */
#ifndef QUORVEX_PATHS_PATHS_H
#define QUORVEX_PATHS_PATHS_H

#include <windows.h>

#endif
