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
static LeftRequest LeftRequests[2 * STALLED_WALKERS_MAX];
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

int HandleQueriesStuck(void)
{
    return StalledQueries >= STALLED_WALKERS_MAX ? 1 : 0;
}

int WalkerAbandoned(HandleWalker *walker)
{
    return walker != NULL && walker->lQuerySerial == WALKER_ABANDONED;
}

void BeginGuardedQuery(HandleWalker *walker)
{
    if (walker != NULL) {
        walker->dwQueryStart = GetTickCount();
        InterlockedIncrement(&walker->lQuerySerial);
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
    for (i = 0; i < 2 * STALLED_WALKERS_MAX; i++) {
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
    for (i = 0; i < 2 * STALLED_WALKERS_MAX; i++) {
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
            /* Ended at tear-down: the record stays with the mapping. */
            InterlockedDecrement(&WalkerThreads);
            return 0;
        }
        if (!walker->walk(walker)) {
            break;
        }
        InterlockedExchange(&walker->lState, WALKER_PARKED);
        SetEvent(walker->hDoneEvent);
    }
    /* Given up while in a query and back now: the mapping has let go of
       this record. */
    CloseHandle(walker->hStartEvent);
    CloseHandle(walker->hDoneEvent);
    free(walker);
    InterlockedDecrement(&StalledQueries);
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
        return NULL;
    }
    memset(walker, 0, sizeof(HandleWalker));
    walker->lState = WALKER_PARKED;
    walker->hStartEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    walker->hDoneEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (walker->hStartEvent != NULL && walker->hDoneEvent != NULL) {
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
        if (HandleQueriesStuck()) {
            return 0;
        }
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
            if (GetTickCount() - walker->dwQueryStart < limit) {
                continue;
            }
            /* Once the serial is swapped the walker may come back, free its
               record and end at any moment: what the give-up needs is
               copied, and the stall counted, before. */
            thread = walker->hThread;
            InterlockedIncrement(&StalledQueries);
            if (InterlockedCompareExchange(&walker->lQuerySerial, WALKER_ABANDONED, serial) ==
                serial) {
                CloseHandle(thread);
                CurrentWalker = NULL;
                stalls++;
                break;
            }
            InterlockedDecrement(&StalledQueries);
        }
    }
}

void EndHandleWalker(void)
{
    if (CurrentWalker == NULL) {
        return;
    }
    InterlockedExchange(&CurrentWalker->lState, WALKER_ENDING);
    SetEvent(CurrentWalker->hStartEvent);
    WaitForSingleObject(CurrentWalker->hThread, INFINITE);
    FreeWalkerRecord(CurrentWalker);
    CurrentWalker = NULL;
}
