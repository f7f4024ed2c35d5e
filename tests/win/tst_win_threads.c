// Exercises win_threads.c against a real child process: this executable
// relaunches itself with --child, the child runs a main thread plus three
// workers that each bump their own counter in shared memory, and the parent
// watches those counters while suspending and resuming the child.
//
// Besides "is it moving", every check also reads each child thread's exact
// suspend count (SuspendThread returns the previous count; we undo it at once),
// so a wrong number of suspensions is caught even if timing is noisy.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "../../src/platform/win_threads.h"
#include "win_test_support.h"

#define WORKERS 3
#define SLOTS (WORKERS + 1) /* slot 0 is the child's main thread */

typedef struct {
    volatile LONG ready;
    volatile LONG stop;
    volatile DWORD parent_pid;
    volatile DWORD tids[SLOTS];
    volatile LONG64 counters[SLOTS];
} shared_block;

/* ---------------------------------------------------------------- child -- */

static shared_block *g_child_block;

static DWORD WINAPI child_worker(LPVOID arg)
{
    int slot = (int)(INT_PTR)arg;
    while (!g_child_block->stop) {
        g_child_block->counters[slot]++;
        // Sleeping keeps three workers from starving the parent on a small
        // machine; a suspended thread cannot come back from it either way.
        Sleep(1);
    }
    return 0;
}

static int child_main(const char *mapping_name)
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, mapping_name);
    HANDLE parent;
    HANDLE workers[WORKERS];
    ULONGLONG started;
    int i;

    if (!mapping)
        return 10;
    g_child_block = (shared_block *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(shared_block));
    if (!g_child_block)
        return 11;

    // Leave on our own if the test dies without killing us.
    parent = OpenProcess(SYNCHRONIZE, FALSE, g_child_block->parent_pid);

    g_child_block->tids[0] = GetCurrentThreadId();
    for (i = 0; i < WORKERS; ++i) {
        DWORD tid = 0;
        workers[i] = CreateThread(NULL, 0, child_worker, (LPVOID)(INT_PTR)(i + 1), 0, &tid);
        if (!workers[i])
            return 12;
        g_child_block->tids[i + 1] = tid;
    }
    MemoryBarrier();
    g_child_block->ready = 1;

    started = GetTickCount64();
    while (!g_child_block->stop) {
        g_child_block->counters[0]++;
        if (parent) {
            if (WaitForSingleObject(parent, 5) == WAIT_OBJECT_0)
                break;
        } else {
            Sleep(5);
        }
        if (GetTickCount64() - started > 150000)
            break;
    }
    g_child_block->stop = 1;
    WaitForMultipleObjects(WORKERS, workers, TRUE, 2000);
    return 0;
}

/* --------------------------------------------------------------- parent -- */

static int g_passed, g_failed;
static PROCESS_INFORMATION g_child;
static HANDLE g_job;
static shared_block *g_block;
static volatile LONG64 g_own_ticks;
static volatile LONG g_stop_ticker;

static void kill_child(void)
{
    if (g_child.hProcess) {
        if (g_block) {
            // Leave the child runnable so it can also notice the stop flag.
            win_release_process_threads(g_child.dwProcessId);
            g_block->stop = 1;
        }
        if (WaitForSingleObject(g_child.hProcess, 2000) != WAIT_OBJECT_0) {
            TerminateProcess(g_child.hProcess, 99);
            WaitForSingleObject(g_child.hProcess, 5000);
        }
        CloseHandle(g_child.hProcess);
        CloseHandle(g_child.hThread);
        memset(&g_child, 0, sizeof g_child);
    }
    if (g_job) {
        CloseHandle(g_job);
        g_job = NULL;
    }
}

static void check(int ok, const char *what)
{
    printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    fflush(stdout);
    if (ok)
        ++g_passed;
    else
        ++g_failed;
}

static void check_int(int actual, int expected, const char *what)
{
    char line[256];
    snprintf(line, sizeof line, "%s (got %d, expected %d)", what, actual, expected);
    check(actual == expected, line);
}

static void fatal(const char *why)
{
    printf("FATAL: %s (error %lu)\n", why, (unsigned long)GetLastError());
    ++g_failed;
    kill_child();
    printf("%d passed, %d failed\n", g_passed, g_failed);
    fflush(stdout);
    exit(1);
}

static DWORD WINAPI own_ticker(LPVOID arg)
{
    (void)arg;
    while (!g_stop_ticker) {
        g_own_ticks++;
        Sleep(1);
    }
    return 0;
}

static void sample(LONG64 out[SLOTS])
{
    int i;
    for (i = 0; i < SLOTS; ++i)
        out[i] = g_block->counters[i];
}

// True once every child thread has moved, polling for up to timeout_ms so a
// busy machine only makes this slower, not flaky.
static int all_progress(DWORD timeout_ms)
{
    LONG64 before[SLOTS], now[SLOTS];
    ULONGLONG deadline = GetTickCount64() + timeout_ms;
    int i, moved;
    sample(before);
    do {
        Sleep(20);
        sample(now);
        moved = 1;
        for (i = 0; i < SLOTS; ++i)
            if (now[i] == before[i])
                moved = 0;
        if (moved)
            return 1;
    } while (GetTickCount64() < deadline);
    return 0;
}

// True when no child thread moves during a 300 ms window. The settle delay
// first lets a suspension that is still being delivered take effect (on Wine
// SuspendThread can return before the target has actually stopped).
static int frozen(void)
{
    LONG64 before[SLOTS], after[SLOTS];
    LONG64 own_before;
    int i;
    Sleep(100);
    sample(before);
    own_before = g_own_ticks;
    Sleep(300);
    sample(after);
    // Our own process must have kept running the whole time.
    if (g_own_ticks == own_before) {
        printf("  note: the test's own ticker thread did not move\n");
        return 0;
    }
    for (i = 0; i < SLOTS; ++i)
        if (after[i] != before[i])
            return 0;
    return 1;
}

// Reads a child thread's current suspend count without changing it.
static int suspend_count(DWORD tid)
{
    HANDLE h = OpenThread(THREAD_SUSPEND_RESUME, FALSE, tid);
    DWORD previous;
    if (!h)
        return -1;
    previous = SuspendThread(h);
    if (previous != (DWORD)-1)
        ResumeThread(h);
    CloseHandle(h);
    return previous == (DWORD)-1 ? -1 : (int)previous;
}

// Every one of the child's known threads has exactly `expected` suspensions.
static void check_counts(int expected, const char *what)
{
    char line[256];
    int i, ok = 1, counts[SLOTS];
    for (i = 0; i < SLOTS; ++i) {
        counts[i] = suspend_count(g_block->tids[i]);
        if (counts[i] != expected)
            ok = 0;
    }
    snprintf(line, sizeof line, "%s: suspend counts %d/%d/%d/%d, expected %d each", what,
             counts[0], counts[1], counts[2], counts[3], expected);
    check(ok, line);
}

static int parent_main(void)
{
    wchar_t mapping_name[64];
    wchar_t child_args[96];
    HANDLE mapping, ticker;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ULONGLONG deadline;
    DWORD pid;
    int n, n2;

    ticker = CreateThread(NULL, 0, own_ticker, NULL, 0, NULL);
    if (!ticker)
        fatal("cannot start the ticker thread");

    swprintf(mapping_name, sizeof mapping_name / sizeof mapping_name[0],
             L"caprello_tst_win_threads_%lu", (unsigned long)GetCurrentProcessId());
    mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                 sizeof(shared_block), mapping_name);
    if (!mapping)
        fatal("CreateFileMapping");
    g_block = (shared_block *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(shared_block));
    if (!g_block)
        fatal("MapViewOfFile");
    memset((void *)g_block, 0, sizeof(shared_block));
    g_block->parent_pid = GetCurrentProcessId();

    // A kill-on-close job takes the child down with us even if we crash.
    // Not essential (kill_child covers normal paths), so failures are ignored.
    g_job = CreateJobObjectW(NULL, NULL);
    if (g_job) {
        memset(&limits, 0, sizeof limits);
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(g_job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    swprintf(child_args, sizeof child_args / sizeof child_args[0], L"--child %ls", mapping_name);
    if (!launch_self(child_args, FALSE, 0, &g_child))
        fatal("cannot start the child process");
    if (g_job)
        AssignProcessToJobObject(g_job, g_child.hProcess);
    pid = g_child.dwProcessId;

    deadline = GetTickCount64() + 20000;
    while (!g_block->ready) {
        if (WaitForSingleObject(g_child.hProcess, 0) == WAIT_OBJECT_0)
            fatal("the child exited before it was ready");
        if (GetTickCount64() > deadline)
            fatal("the child did not become ready");
        Sleep(10);
    }
    MemoryBarrier();
    printf("child pid %lu, threads %lu/%lu/%lu/%lu\n", (unsigned long)pid,
           (unsigned long)g_block->tids[0], (unsigned long)g_block->tids[1],
           (unsigned long)g_block->tids[2], (unsigned long)g_block->tids[3]);

    check(all_progress(5000), "child runs before any suspension");
    check_counts(0, "before any suspension");

    /* Single suspend / resume. */
    n = win_suspend_process_threads(pid);
    printf("win_suspend_process_threads acted on %d threads\n", n);
    check(n >= SLOTS, "suspend acts on at least the main thread and the three workers");
    check(frozen(), "child is frozen after one suspend, while the test keeps running");
    check_counts(1, "after one suspend");
    n2 = win_resume_process_threads(pid);
    check_int(n2, n, "resume acts on the same threads as suspend");
    check(all_progress(5000), "child runs again after resume");
    check_counts(0, "after resume");

    /* Suspensions nest. */
    check_int(win_suspend_process_threads(pid), n, "first of two suspends");
    check_int(win_suspend_process_threads(pid), n, "second of two suspends");
    check_counts(2, "after two suspends");
    check_int(win_resume_process_threads(pid), n, "first resume after two suspends");
    check(frozen(), "child stays frozen after two suspends and one resume");
    check_counts(1, "after two suspends and one resume");
    check_int(win_resume_process_threads(pid), n, "second resume");
    check(all_progress(5000), "child runs after the second resume");
    check_counts(0, "after the second resume");

    /* Release undoes any number of suspensions at once. */
    check_int(win_suspend_process_threads(pid), n, "suspend 1 of 3 before release");
    check_int(win_suspend_process_threads(pid), n, "suspend 2 of 3 before release");
    check_int(win_suspend_process_threads(pid), n, "suspend 3 of 3 before release");
    check(frozen(), "child is frozen before release");
    check_counts(3, "after three suspends");
    check_int(win_release_process_threads(pid), n, "release acts on every thread");
    check(all_progress(5000), "child runs after one release");
    check_counts(0, "after release");

    /* Resuming or releasing a running process is harmless and banks nothing. */
    check_int(win_resume_process_threads(pid), n, "resume of a running child still visits its threads");
    check(all_progress(5000), "child keeps running after a needless resume");
    check_counts(0, "after a needless resume");
    check_int(win_release_process_threads(pid), n, "release of a running child still visits its threads");
    check(all_progress(5000), "child keeps running after a needless release");
    check_counts(0, "after a needless release");
    check_int(win_suspend_process_threads(pid), n, "suspend after needless resume/release");
    check(frozen(), "one suspend still freezes the child after a needless resume");
    check_int(win_resume_process_threads(pid), n, "resume after that");
    check(all_progress(5000), "child runs after that resume");

    /* Pids that own no threads. */
    check_int(win_suspend_process_threads(0xFFFFFFF0UL), 0, "suspend of a pid with no threads");
    check_int(win_resume_process_threads(0xFFFFFFF0UL), 0, "resume of a pid with no threads");
    check_int(win_release_process_threads(0xFFFFFFF0UL), 0, "release of a pid with no threads");
    {
        PROCESS_INFORMATION gone;
        if (!launch_self(L"--exit-now", FALSE, 0, &gone))
            fatal("cannot start the short-lived process");
        // Holding its handle keeps the pid from being reused meanwhile.
        if (WaitForSingleObject(gone.hProcess, 20000) != WAIT_OBJECT_0) {
            TerminateProcess(gone.hProcess, 1);
            check(0, "short-lived process exits on its own");
        } else {
            check_int(win_suspend_process_threads(gone.dwProcessId), 0,
                      "suspend of an exited process");
            check_int(win_resume_process_threads(gone.dwProcessId), 0,
                      "resume of an exited process");
            check_int(win_release_process_threads(gone.dwProcessId), 0,
                      "release of an exited process");
        }
        CloseHandle(gone.hProcess);
        CloseHandle(gone.hThread);
    }

    /* The child was not disturbed by the calls for other pids. */
    check(all_progress(5000), "child still runs at the end");
    check_counts(0, "at the end");

    kill_child();
    g_stop_ticker = 1;
    WaitForSingleObject(ticker, 2000);
    CloseHandle(ticker);
    UnmapViewOfFile((void *)g_block);
    g_block = NULL;
    CloseHandle(mapping);

    printf("%d passed, %d failed\n", g_passed, g_failed);
    fflush(stdout);
    return g_failed == 0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "--child") == 0)
        return child_main(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "--exit-now") == 0)
        return 0;
    return parent_main();
}
