// Exercises win_tie_process_to_this_one() the way the recorder uses it: an
// intermediate process stands in for the recorder, starts long-running
// "sleepers" that stand in for FFmpeg, ties them to itself, and is then killed
// from outside. Tied sleepers must die with it; untied ones must not, which
// shows it is the tie that kills them.
//
// One executable plays every role:
//   (no arguments)                 the test itself
//   --tie-parent <name>            the stand-in recorder; <name> is a shared block
//   --sleeper <name> <index>       a stand-in FFmpeg that beats a counter
// Every helper also watches the test's own process and leaves when it is gone,
// so a crashed test leaves nothing running for long.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "../../src/platform/win_threads.h"
#include "win_test_support.h"

#define MAX_SLEEPERS 2
#define SLEEPER_LIFETIME_MS 60000
#define PARENT_LIFETIME_MS 90000

typedef struct {
    volatile DWORD root_pid;       // the test; helpers leave when it is gone
    volatile LONG sleeper_count;   // how many sleepers the intermediate starts
    volatile LONG tie;             // whether it ties them
    volatile LONG failed_step;     // non-zero: the intermediate could not set up
    volatile DWORD sleeper_pids[MAX_SLEEPERS];
    volatile LONG tie_results[MAX_SLEEPERS];
    volatile LONG jobs_before, jobs_after_first, jobs_after_last; // job handles held
    volatile LONG64 beats[MAX_SLEEPERS];
    volatile LONG left_on_its_own[MAX_SLEEPERS];
} shared_block;

static shared_block *open_block(const char *name)
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!mapping)
        return NULL;
    // The mapping handle stays open for the life of the helper on purpose.
    return (shared_block *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(shared_block));
}

/* -------------------------------------------------------------- sleeper -- */

static int sleeper_main(const char *name, int index)
{
    shared_block *block = open_block(name);
    HANDLE root;
    ULONGLONG started = GetTickCount64();

    if (!block || index < 0 || index >= MAX_SLEEPERS)
        return 10;
    root = OpenProcess(SYNCHRONIZE, FALSE, block->root_pid);
    if (!root)
        return 11;
    while (GetTickCount64() - started < SLEEPER_LIFETIME_MS) {
        block->beats[index]++;
        if (WaitForSingleObject(root, 10) != WAIT_TIMEOUT)
            break;
    }
    // Tells the test this process ended by itself rather than being killed.
    block->left_on_its_own[index] = 1;
    return 0;
}

/* --------------------------------------------------------- intermediate -- */

typedef NTSTATUS(NTAPI *query_object_fn)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);

// Number of job handles this process holds, found by probing handle values
// and asking each live one for its type name. Counting by type rather than
// counting all handles leaves out whatever else the runtime opens meanwhile.
static LONG job_handle_count(void)
{
    query_object_fn query = (query_object_fn)(void (*)(void))GetProcAddress(
        GetModuleHandleW(L"ntdll.dll"), "NtQueryObject");
    union {
        PUBLIC_OBJECT_TYPE_INFORMATION info;
        unsigned char bytes[1024];
    } type;
    ULONG_PTR value;
    DWORD flags;
    LONG jobs = 0;

    if (!query)
        return -1;
    // Handle values are multiples of 4; a helper holds far fewer than this.
    for (value = 4; value < 0x10000; value += 4) {
        HANDLE h = (HANDLE)value;
        ULONG length = 0;
        if (!GetHandleInformation(h, &flags))
            continue;
        if (query(h, ObjectTypeInformation, &type, sizeof type, &length) < 0)
            continue;
        if (type.info.TypeName.Buffer && type.info.TypeName.Length == 3 * sizeof(WCHAR) &&
            wcsncmp(type.info.TypeName.Buffer, L"Job", 3) == 0)
            ++jobs;
    }
    return jobs;
}

static int tie_parent_main(const char *name)
{
    shared_block *block = open_block(name);
    HANDLE root, ready;
    PROCESS_INFORMATION sleepers[MAX_SLEEPERS];
    char event_name[96];
    int count, i;

    if (!block)
        return 20;
    snprintf(event_name, sizeof event_name, "%s_ready", name);
    ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, event_name);
    root = OpenProcess(SYNCHRONIZE, FALSE, block->root_pid);
    count = (int)block->sleeper_count;
    if (!ready || !root || count < 1 || count > MAX_SLEEPERS) {
        block->failed_step = 1;
        return 21;
    }

    // Start and tie one sleeper at a time, the way recordings follow each
    // other. Like QProcess, let children inherit handles: the second sleeper
    // is born after the job exists and must not get a handle that keeps the
    // job open once we are gone.
    block->jobs_before = job_handle_count();
    for (i = 0; i < count; ++i) {
        wchar_t args[128];
        swprintf(args, sizeof args / sizeof args[0], L"--sleeper %hs %d", name, i);
        if (!launch_self(args, TRUE, 0, &sleepers[i])) {
            block->failed_step = 2;
            SetEvent(ready);
            return 22;
        }
        // Our handles stay open until we die, so no pid gets reused before
        // the test has opened its own handles to the sleepers.
        block->sleeper_pids[i] = sleepers[i].dwProcessId;
        block->tie_results[i] = block->tie ? win_tie_process_to_this_one(sleepers[i].dwProcessId) : 0;
        if (i == 0)
            block->jobs_after_first = job_handle_count();
    }
    block->jobs_after_last = job_handle_count();
    MemoryBarrier();
    SetEvent(ready);

    // Wait to be killed; leave anyway if the test is gone or forgot us.
    WaitForSingleObject(root, PARENT_LIFETIME_MS);
    return 0;
}

/* ----------------------------------------------------------------- test -- */

static int g_passed, g_failed;

typedef struct {
    wchar_t name[64];
    HANDLE mapping;
    HANDLE ready;
    shared_block *block;
    PROCESS_INFORMATION parent;
    HANDLE sleepers[MAX_SLEEPERS];
    HANDLE outer_job;
} scenario;

#define MAX_SCENARIOS 8
static scenario *g_scenarios[MAX_SCENARIOS];
static int g_scenario_count;

static void check(int ok, const char *what)
{
    printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    fflush(stdout);
    if (ok)
        ++g_passed;
    else
        ++g_failed;
}

static void kill_and_close(HANDLE *process)
{
    if (*process) {
        if (WaitForSingleObject(*process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(*process, 99);
            WaitForSingleObject(*process, 5000);
        }
        CloseHandle(*process);
        *process = NULL;
    }
}

// Terminates and releases everything the scenario started. Also used on the
// way out of a failure, so it copes with a half-built scenario.
static void finish_scenario(scenario *s)
{
    int i;
    // The sleeper pids are only known once the intermediate has started them;
    // they may exist without us holding a handle if we failed in between.
    // Open them while the intermediate still lives, as its handles keep
    // those pids from being reused.
    if (s->block) {
        for (i = 0; i < MAX_SLEEPERS; ++i) {
            if (!s->sleepers[i] && s->block->sleeper_pids[i])
                s->sleepers[i] = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, s->block->sleeper_pids[i]);
        }
    }
    kill_and_close(&s->parent.hProcess);
    if (s->parent.hThread) {
        CloseHandle(s->parent.hThread);
        s->parent.hThread = NULL;
    }
    for (i = 0; i < MAX_SLEEPERS; ++i)
        kill_and_close(&s->sleepers[i]);
    if (s->outer_job) {
        CloseHandle(s->outer_job);
        s->outer_job = NULL;
    }
    if (s->block) {
        UnmapViewOfFile((void *)s->block);
        s->block = NULL;
    }
    if (s->mapping) {
        CloseHandle(s->mapping);
        s->mapping = NULL;
    }
    if (s->ready) {
        CloseHandle(s->ready);
        s->ready = NULL;
    }
}

static void fatal(const char *why)
{
    int i;
    printf("FATAL: %s (error %lu)\n", why, (unsigned long)GetLastError());
    ++g_failed;
    for (i = 0; i < g_scenario_count; ++i)
        finish_scenario(g_scenarios[i]);
    printf("%d passed, %d failed\n", g_passed, g_failed);
    fflush(stdout);
    exit(1);
}

// True once the sleeper's heartbeat moves, polling for up to timeout_ms so a
// slow machine only makes this slower, not flaky.
static int beating(scenario *s, int index, DWORD timeout_ms)
{
    LONG64 before = s->block->beats[index];
    ULONGLONG deadline = GetTickCount64() + timeout_ms;
    do {
        Sleep(20);
        if (s->block->beats[index] != before)
            return 1;
    } while (GetTickCount64() < deadline);
    return 0;
}

// Starts an intermediate with `count` sleepers, tied or not, and waits until
// it reports that it is set up. With `outer_job`, the intermediate is first
// put into a plain job of ours, as a launcher or IDE might do to the recorder.
static void start_scenario(scenario *s, const char *label, int count, int tie, int outer_job)
{
    wchar_t event_name[96];
    wchar_t args[128];
    HANDLE waits[2];
    DWORD woke;
    int i;

    if (g_scenario_count == MAX_SCENARIOS)
        fatal("too many scenarios");
    memset(s, 0, sizeof *s);
    g_scenarios[g_scenario_count++] = s;

    swprintf(s->name, sizeof s->name / sizeof s->name[0], L"caprello_tst_win_job_%lu_%d",
             (unsigned long)GetCurrentProcessId(), g_scenario_count);
    s->mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                    sizeof(shared_block), s->name);
    if (!s->mapping)
        fatal("CreateFileMapping");
    s->block = (shared_block *)MapViewOfFile(s->mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(shared_block));
    if (!s->block)
        fatal("MapViewOfFile");
    memset((void *)s->block, 0, sizeof(shared_block));
    s->block->root_pid = GetCurrentProcessId();
    s->block->sleeper_count = count;
    s->block->tie = tie;

    swprintf(event_name, sizeof event_name / sizeof event_name[0], L"%ls_ready", s->name);
    s->ready = CreateEventW(NULL, TRUE, FALSE, event_name);
    if (!s->ready)
        fatal("CreateEvent");

    swprintf(args, sizeof args / sizeof args[0], L"--tie-parent %ls", s->name);
    if (outer_job) {
        // No breakaway allowed, so the sleepers are born in this job too and
        // the tie has to nest a second job inside it.
        s->outer_job = CreateJobObjectW(NULL, NULL);
        if (!s->outer_job)
            fatal("CreateJobObject for the outer job");
        if (!launch_self(args, FALSE, CREATE_SUSPENDED, &s->parent))
            fatal("cannot start the intermediate process");
        if (!AssignProcessToJobObject(s->outer_job, s->parent.hProcess))
            fatal("cannot put the intermediate into the outer job");
        ResumeThread(s->parent.hThread);
    } else if (!launch_self(args, FALSE, 0, &s->parent)) {
        fatal("cannot start the intermediate process");
    }

    waits[0] = s->ready;
    waits[1] = s->parent.hProcess;
    woke = WaitForMultipleObjects(2, waits, FALSE, 30000);
    if (woke != WAIT_OBJECT_0) {
        printf("  %s: intermediate %s\n", label,
               woke == WAIT_OBJECT_0 + 1 ? "exited early" : "did not get ready");
        fatal("intermediate process did not set up");
    }
    MemoryBarrier();
    if (s->block->failed_step)
        fatal("intermediate process could not start its sleepers");

    for (i = 0; i < count; ++i) {
        s->sleepers[i] = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION,
                                     FALSE, s->block->sleeper_pids[i]);
        if (!s->sleepers[i])
            fatal("cannot open a sleeper");
    }
    printf("%s: intermediate pid %lu, sleepers", label, (unsigned long)s->parent.dwProcessId);
    for (i = 0; i < count; ++i)
        printf(" %lu", (unsigned long)s->block->sleeper_pids[i]);
    printf("\n");
    fflush(stdout);
}

static void check_alive(scenario *s, int index, const char *label, const char *when)
{
    char line[256];
    snprintf(line, sizeof line, "%s: sleeper %d is running %s", label, index, when);
    check(WaitForSingleObject(s->sleepers[index], 0) == WAIT_TIMEOUT && beating(s, index, 10000), line);
}

// Simulates the recorder being killed: nothing of it runs any more code.
static void kill_intermediate(scenario *s, const char *label)
{
    char line[256];
    snprintf(line, sizeof line, "%s: intermediate is still waiting before the kill", label);
    check(WaitForSingleObject(s->parent.hProcess, 0) == WAIT_TIMEOUT, line);
    TerminateProcess(s->parent.hProcess, 1);
    snprintf(line, sizeof line, "%s: intermediate is gone after TerminateProcess", label);
    check(WaitForSingleObject(s->parent.hProcess, 10000) == WAIT_OBJECT_0, line);
}

static void check_dies_with_parent(scenario *s, int index, const char *label)
{
    char line[256];
    int died = WaitForSingleObject(s->sleepers[index], 15000) == WAIT_OBJECT_0;
    snprintf(line, sizeof line, "%s: sleeper %d is killed with the intermediate", label, index);
    check(died && !s->block->left_on_its_own[index], line);
}

// With job NULL: in any job at all. The untied control has no such check,
// since the test itself may already run inside a job on a CI machine.
static void check_in_job(scenario *s, int index, HANDLE job, const char *label, const char *which)
{
    char line[256];
    BOOL in_job = FALSE;
    BOOL ok = IsProcessInJob(s->sleepers[index], job, &in_job);
    snprintf(line, sizeof line, "%s: sleeper %d is in %s (IsProcessInJob %s, error %lu)", label, index, which,
             ok ? (in_job ? "yes" : "no") : "failed", ok ? 0UL : (unsigned long)GetLastError());
    check(ok && in_job, line);
}

static void check_tie_result(scenario *s, int index, const char *label)
{
    char line[256];
    snprintf(line, sizeof line, "%s: tie of sleeper %d returns 0 (got %ld)", label, index,
             (long)s->block->tie_results[index]);
    check(s->block->tie_results[index] == 0, line);
}

// Only for the log: the same checks must pass on Windows and under Wine.
static void report_wine(void)
{
    typedef const char *(CDECL *version_fn)(void);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    version_fn version = ntdll ? (version_fn)(void (*)(void))GetProcAddress(ntdll, "wine_get_version") : NULL;
    if (version)
        printf("running under Wine %s\n", version());
}

static void test_single_tie(void)
{
    static scenario s;
    const char *label = "tied";
    start_scenario(&s, label, 1, 1, 0);
    check_tie_result(&s, 0, label);
    check_in_job(&s, 0, NULL, label, "a job after the tie");
    check_alive(&s, 0, label, "before the intermediate is killed");
    kill_intermediate(&s, label);
    check_dies_with_parent(&s, 0, label);
    finish_scenario(&s);
}

static void test_untied_control(void)
{
    static scenario s;
    const char *label = "untied";
    char line[256];
    start_scenario(&s, label, 1, 0, 0);
    check_alive(&s, 0, label, "before the intermediate is killed");
    kill_intermediate(&s, label);
    // Given a little while to die, as a tied sleeper would have, it must not.
    snprintf(line, sizeof line, "%s: sleeper 0 outlives the intermediate", label);
    check(WaitForSingleObject(s.sleepers[0], 2000) == WAIT_TIMEOUT, line);
    check_alive(&s, 0, label, "after the intermediate was killed");
    TerminateProcess(s.sleepers[0], 7);
    check(WaitForSingleObject(s.sleepers[0], 10000) == WAIT_OBJECT_0, "untied: the test can end the sleeper itself");
    finish_scenario(&s);
}

static void test_two_ties(void)
{
    static scenario s;
    const char *label = "two tied";
    char line[256];
    start_scenario(&s, label, 2, 1, 0);
    check_tie_result(&s, 0, label);
    check_tie_result(&s, 1, label);
    // One job for the life of the process, shared by every tie.
    snprintf(line, sizeof line, "%s: job handles held before/after the first/after the second tie: %ld/%ld/%ld, "
             "expected n/n+1/n+1", label, (long)s.block->jobs_before, (long)s.block->jobs_after_first,
             (long)s.block->jobs_after_last);
    check(s.block->jobs_before >= 0 && s.block->jobs_after_first == s.block->jobs_before + 1 &&
              s.block->jobs_after_last == s.block->jobs_after_first, line);
    check_alive(&s, 0, label, "before the intermediate is killed");
    check_alive(&s, 1, label, "before the intermediate is killed");
    kill_intermediate(&s, label);
    check_dies_with_parent(&s, 0, label);
    check_dies_with_parent(&s, 1, label);
    finish_scenario(&s);
}

static void test_inside_outer_job(void)
{
    static scenario s;
    const char *label = "nested";
    start_scenario(&s, label, 1, 1, 1);
    check_tie_result(&s, 0, label);
    // Nested, not moved: the launcher's job must still hold it too.
    check_in_job(&s, 0, s.outer_job, label, "the outer job still");
    check_alive(&s, 0, label, "before the intermediate is killed");
    kill_intermediate(&s, label);
    check_dies_with_parent(&s, 0, label);
    finish_scenario(&s);
}

static void test_failures(void)
{
    PROCESS_INFORMATION gone;
    char line[128];
    int r;

    r = win_tie_process_to_this_one(0xFFFFFFF0UL);
    snprintf(line, sizeof line, "tie of a pid that does not exist returns -1 (got %d)", r);
    check(r == -1, line);
    r = win_tie_process_to_this_one(0);
    snprintf(line, sizeof line, "tie of pid 0 returns -1 (got %d)", r);
    check(r == -1, line);

    if (!launch_self(L"--exit-now", FALSE, 0, &gone))
        fatal("cannot start the short-lived process");
    // Holding its handle keeps the pid from being reused meanwhile.
    if (WaitForSingleObject(gone.hProcess, 20000) != WAIT_OBJECT_0) {
        TerminateProcess(gone.hProcess, 1);
        check(0, "short-lived process exits on its own");
    } else {
        r = win_tie_process_to_this_one(gone.dwProcessId);
        snprintf(line, sizeof line, "tie of a process that already exited returns -1 (got %d)", r);
        check(r == -1, line);
    }
    CloseHandle(gone.hProcess);
    CloseHandle(gone.hThread);
}

int main(int argc, char **argv)
{
    if (argc >= 4 && strcmp(argv[1], "--sleeper") == 0)
        return sleeper_main(argv[2], atoi(argv[3]));
    if (argc >= 3 && strcmp(argv[1], "--tie-parent") == 0)
        return tie_parent_main(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "--exit-now") == 0)
        return 0;

    report_wine();

    test_single_tie();
    test_untied_control();
    test_two_ties();
    test_inside_outer_job();
    test_failures();

    printf("%d passed, %d failed\n", g_passed, g_failed);
    fflush(stdout);
    return g_failed == 0 ? 0 : 1;
}
