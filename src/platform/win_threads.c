// Pausing a child process on Windows by suspending each of its threads.
// Windows has no documented "suspend process" call, so we walk a Toolhelp
// thread snapshot and act on every thread the process owns.
// Plain C and kernel32 only, so it builds into any target and runs under Wine.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>

#include "win_threads.h"

// Thread32First rejects an entry whose dwSize does not match the layout it
// knows; a packing or header mismatch would make every walk fail at run time.
#ifdef __cplusplus
static_assert(sizeof(THREADENTRY32) == 28, "THREADENTRY32 must be 28 bytes");
#else
_Static_assert(sizeof(THREADENTRY32) == 28, "THREADENTRY32 must be 28 bytes");
#endif

#ifndef MAXIMUM_SUSPEND_COUNT
#define MAXIMUM_SUSPEND_COUNT 0x7f
#endif

enum thread_action {
    THREAD_ACTION_SUSPEND,
    THREAD_ACTION_RESUME,
    THREAD_ACTION_RELEASE
};

static void apply_action(HANDLE thread, enum thread_action action)
{
    switch (action) {
    case THREAD_ACTION_SUSPEND:
        SuspendThread(thread);
        break;
    case THREAD_ACTION_RESUME:
        ResumeThread(thread);
        break;
    case THREAD_ACTION_RELEASE: {
        // ResumeThread returns the count before the call; the thread runs
        // again once that was 0 or 1. A suspend count never exceeds
        // MAXIMUM_SUSPEND_COUNT, so the bound only guards against a thread
        // that someone else keeps suspending while we loop.
        int i;
        for (i = 0; i < MAXIMUM_SUSPEND_COUNT; ++i) {
            DWORD previous = ResumeThread(thread);
            if (previous == (DWORD)-1 || previous <= 1)
                break;
        }
        break;
    }
    }
}

static int walk_process_threads(unsigned long pid, enum thread_action action)
{
    HANDLE snapshot;
    THREADENTRY32 te;
    int count = 0;

    // The pid argument of CreateToolhelp32Snapshot is ignored for thread
    // snapshots: we always get every thread in the system and filter here.
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;

    te.dwSize = sizeof(THREADENTRY32);
    if (!Thread32First(snapshot, &te)) {
        CloseHandle(snapshot);
        return -1;
    }

    do {
        if (te.th32OwnerProcessID == (DWORD)pid) {
            // A thread may have exited since the snapshot, or be protected;
            // neither is an error for pausing the process as a whole.
            HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, te.th32ThreadID);
            if (thread != NULL) {
                apply_action(thread, action);
                CloseHandle(thread);
                ++count;
            }
        }
    } while (Thread32Next(snapshot, &te));

    CloseHandle(snapshot);
    return count;
}

int win_suspend_process_threads(unsigned long pid)
{
    return walk_process_threads(pid, THREAD_ACTION_SUSPEND);
}

int win_resume_process_threads(unsigned long pid)
{
    return walk_process_threads(pid, THREAD_ACTION_RESUME);
}

int win_release_process_threads(unsigned long pid)
{
    return walk_process_threads(pid, THREAD_ACTION_RELEASE);
}

/* ------------------------------------------------------------------------ */

// Never closed on purpose: the kernel closes it when our process ends, and
// that close is what kills everything we put in the job. Created without an
// inheritable handle, so a child started with handle inheritance (as FFmpeg
// is, for its pipes) cannot keep the job alive after us.
static HANDLE volatile g_tie_job;

static HANDLE tie_job(void)
{
    HANDLE job = g_tie_job;
    HANDLE previous;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;

    if (job != NULL)
        return job;

    job = CreateJobObjectW(NULL, NULL);
    if (job == NULL)
        return NULL;
    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return NULL;
    }

    // Publish only a fully configured job. If another thread got there first,
    // use its job; ours is still empty, so closing it kills nothing.
    previous = (HANDLE)InterlockedCompareExchangePointer((PVOID volatile *)&g_tie_job, job, NULL);
    if (previous != NULL) {
        CloseHandle(job);
        return previous;
    }
    return job;
}

int win_tie_process_to_this_one(unsigned long pid)
{
    HANDLE process;
    HANDLE job;
    BOOL assigned;

    // Open the target first so a bad pid does not leave a job behind.
    process = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, (DWORD)pid);
    if (process == NULL)
        return -1;

    job = tie_job();
    // Since Windows 8 jobs nest, so this also works when whoever started us
    // already put us (and therefore the child) in a job without breakaway.
    assigned = job != NULL && AssignProcessToJobObject(job, process);
    CloseHandle(process);
    return assigned ? 0 : -1;
}

void *win_tie_job(void)
{
    return g_tie_job;
}
