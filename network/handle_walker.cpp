/* The walker of the handle walk: one thread kept parked between walks that
   runs each walk while the mapping watches its queries, gives up a walker
   stuck in one and goes on with a fresh walker, and counts what is stuck
   (given-up walkers and transport requests left with the driver). */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "network.h"
#include "../log/log.h"

#define WALKER_ABANDONED ((LONG)-1)

#define WALKER_PARKED  0
#define WALKER_WALKING 1
#define WALKER_ENDING  2

/* While the walker is inside a query that may block, lQuerySerial is odd
   and dwQueryStart holds when the query began. The mapping gives a walker
   up by swapping that odd serial for WALKER_ABANDONED; a walker that comes
   back from its query and finds itself given up touches nothing shared,
   releases what it holds, frees its own record and ends. */
struct HandleWalker {
    HANDLE hThread;
    HANDLE hStartEvent;
    HANDLE hDoneEvent;
    volatile LONG lQuerySerial;
    volatile DWORD dwQueryStart;
    volatile DWORD dwQueryAllowance; /* time given besides the limit */
    volatile LONG lState;
    HandleWalkFunction walk;
};

/* A transport request the driver still holds: its event and block stay
   until the event shows that it has completed. */
typedef struct LeftRequest {
    HANDLE event;
    void *block;
} LeftRequest;

static HandleWalker *CurrentWalker;  /* parked between walks */
static volatile LONG StalledQueries; /* given-up walkers and left requests */
static volatile LONG WalkerThreads;
/* No walk makes a query once STALLED_WALKERS_MAX are stuck, and each query
   adds at most one (a walker given up or a request left; a given-up walker
   that leaves its request on the way out stops counting as a walker), so
   no more requests than that are ever left at once. */
static LeftRequest LeftRequests[STALLED_WALKERS_MAX];
static volatile LONG LeftRequestsLock;

LONG StalledHandleWalkers(void)
{
    return StalledQueries;
}

LONG HandleWalkerThreads(void)
{
    return WalkerThreads;
}

int HandleWalkerParked(void)
{
    return CurrentWalker != NULL && CurrentWalker->lState == WALKER_PARKED ? 1 : 0;
}

LONG HandleQueriesStuck(void)
{
    LONG stuck = StalledQueries;

    return stuck >= STALLED_WALKERS_MAX ? stuck : 0;
}

int WalkerAbandoned(HandleWalker *walker)
{
    return walker != NULL && walker->lQuerySerial == WALKER_ABANDONED;
}

void BeginGuardedQuery(HandleWalker *walker)
{
    if (walker != NULL) {
        walker->dwQueryAllowance = 0;
        walker->dwQueryStart = GetTickCount();
        InterlockedIncrement(&walker->lQuerySerial);
    }
}

void AllowGuardedQuery(HandleWalker *walker, DWORD milliseconds)
{
    if (walker != NULL) {
        walker->dwQueryAllowance = milliseconds;
    }
}

int EndGuardedQuery(HandleWalker *walker)
{
    LONG serial;

    if (walker == NULL) {
        return 1;
    }
    serial = walker->lQuerySerial;
    if (serial == WALKER_ABANDONED) {
        return 0;
    }
    return InterlockedCompareExchange(&walker->lQuerySerial, serial + 1, serial) == serial ? 1 : 0;
}

static void LockLeftRequests(void)
{
    while (InterlockedExchange(&LeftRequestsLock, 1) != 0) {
        Sleep(0);
    }
}

void LeaveRequestWithDriver(HANDLE event, void *block)
{
    int i;

    InterlockedIncrement(&StalledQueries);
    LockLeftRequests();
    for (i = 0; i < STALLED_WALKERS_MAX; i++) {
        if (LeftRequests[i].event == NULL) {
            LeftRequests[i].event = event;
            LeftRequests[i].block = block;
            break;
        }
    }
    InterlockedExchange(&LeftRequestsLock, 0);
}

/* Requests the driver has completed since give their event and block back. */
static void ReclaimCompletedRequests(void)
{
    int i;

    LockLeftRequests();
    for (i = 0; i < STALLED_WALKERS_MAX; i++) {
        if (LeftRequests[i].event != NULL &&
            WaitForSingleObject(LeftRequests[i].event, 0) == WAIT_OBJECT_0) {
            CloseHandle(LeftRequests[i].event);
            free(LeftRequests[i].block);
            LeftRequests[i].event = NULL;
            LeftRequests[i].block = NULL;
            InterlockedDecrement(&StalledQueries);
        }
    }
    InterlockedExchange(&LeftRequestsLock, 0);
}

static DWORD WINAPI HandleWalkerMain(LPVOID parameter)
{
    HandleWalker *walker = (HandleWalker *)parameter;

    for (;;) {
        WaitForSingleObject(walker->hStartEvent, INFINITE);
        if (walker->lState == WALKER_ENDING) {
            break;
        }
        if (!walker->walk(walker)) {
            /* Given up while in a query and back now. */
            InterlockedDecrement(&StalledQueries);
            break;
        }
        InterlockedExchange(&walker->lState, WALKER_PARKED);
        SetEvent(walker->hDoneEvent);
    }
    /* Ended at tear-down or given up: the mapping has let go of this
       record. */
    CloseHandle(walker->hStartEvent);
    CloseHandle(walker->hDoneEvent);
    free(walker);
    InterlockedDecrement(&WalkerThreads);
    return 0;
}

static void FreeWalkerRecord(HandleWalker *walker)
{
    if (walker->hThread != NULL) {
        CloseHandle(walker->hThread);
    }
    if (walker->hStartEvent != NULL) {
        CloseHandle(walker->hStartEvent);
    }
    if (walker->hDoneEvent != NULL) {
        CloseHandle(walker->hDoneEvent);
    }
    free(walker);
}

static HandleWalker *StartHandleWalker(void)
{
    HandleWalker *walker = (HandleWalker *)malloc(sizeof(HandleWalker));

    if (walker == NULL) {
        ControllerLogAppend("\nCould not allocate memory with malloc(%d).\n",
                            (int)sizeof(HandleWalker));
        return NULL;
    }
    memset(walker, 0, sizeof(HandleWalker));
    walker->lState = WALKER_PARKED;
    walker->hStartEvent = NetworkCalls.pCreateEventA(NULL, FALSE, FALSE, NULL);
    if (walker->hStartEvent != NULL) {
        walker->hDoneEvent = NetworkCalls.pCreateEventA(NULL, FALSE, FALSE, NULL);
    }
    if (walker->hDoneEvent == NULL) {
        ControllerLogAppend("\nCreateEvent() failed(%d).\n", (int)GetLastError());
    } else {
        InterlockedIncrement(&WalkerThreads);
        walker->hThread = CreateThread(NULL, 0, HandleWalkerMain, walker, 0, NULL);
        if (walker->hThread == NULL) {
            ControllerLogAppend("\nCreateThread() failed (%d).\n", (int)GetLastError());
            InterlockedDecrement(&WalkerThreads);
        }
    }
    if (walker->hThread == NULL) {
        FreeWalkerRecord(walker);
        return NULL;
    }
    return walker;
}

int RunHandleWalk(HandleWalkFunction walk)
{
    int stalls = 0;
    LONG serial;
    DWORD limit;
    HandleWalker *walker;
    HANDLE thread;

    ReclaimCompletedRequests();
    for (;;) {
        /* Even with too many queries stuck a walker starts: the walk itself
           stops before its first query and tells how many. */
        if (CurrentWalker == NULL) {
            CurrentWalker = StartHandleWalker();
        }
        walker = CurrentWalker;
        if (walker == NULL) {
            return 0;
        }
        walker->walk = walk;
        InterlockedExchange(&walker->lState, WALKER_WALKING);
        SetEvent(walker->hStartEvent);
        for (;;) {
            if (WaitForSingleObject(walker->hDoneEvent, HANDLE_QUERY_WATCH_PERIOD_MS) ==
                WAIT_OBJECT_0) {
                return 1;
            }
            serial = walker->lQuerySerial;
            if ((serial & 1) == 0) {
                continue;
            }
            limit = stalls >= HANDLE_QUERY_STALLS_BEFORE_SHORT ? HANDLE_QUERY_SHORT_LIMIT_MS
                                                               : HANDLE_QUERY_LIMIT_MS;
            if (GetTickCount() - walker->dwQueryStart < limit + walker->dwQueryAllowance) {
                continue;
            }
            /* Once the serial is swapped the walker may come back, free its
               record and end at any moment: what the give-up needs is
               copied before. The stall is counted only once the swap has
               succeeded, so that the walker, should it have left the query
               meanwhile, never sees one stall too many; it checks nothing
               once given up. */
            thread = walker->hThread;
            if (InterlockedCompareExchange(&walker->lQuerySerial, WALKER_ABANDONED, serial) ==
                serial) {
                InterlockedIncrement(&StalledQueries);
                CloseHandle(thread);
                CurrentWalker = NULL;
                stalls++;
                break;
            }
        }
    }
}

void EndHandleWalker(void)
{
    HANDLE thread;

    if (CurrentWalker == NULL) {
        return;
    }
    /* The walker frees its record as it ends, at any moment once told. */
    thread = CurrentWalker->hThread;
    InterlockedExchange(&CurrentWalker->lState, WALKER_ENDING);
    SetEvent(CurrentWalker->hStartEvent);
    CurrentWalker = NULL;
    WaitForSingleObject(thread, HANDLE_WALKER_END_WAIT_MS);
    CloseHandle(thread);
}
