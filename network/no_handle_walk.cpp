/* The 64-bit build's side of the fallback mapping. Every 64-bit Windows
   has the TCP owner table, so the handle walk (which reads the 32-bit
   layouts of the handle table, the object name and the transport answer)
   is not built into the 64-bit program: the log says so where the walk
   would start, and the mapping reports that it found nothing. */
#include <windows.h>

#include "network.h"
#include "../log/log.h"

int MapEndpointsByHandles(void)
{
    ControllerLogAppend("\nThe enum handle method is not part of the 64-bit build.\n");
    return 0;
}

/* No walker is ever started in this build: nothing to end, none stuck,
   none alive, none parked. */
void EndHandleWalker(void)
{
}

LONG StalledHandleWalkers(void)
{
    return 0;
}

LONG HandleWalkerThreads(void)
{
    return 0;
}

int HandleWalkerParked(void)
{
    return 0;
}
