// The Windows process code under Wine: pausing FFmpeg by suspending its
// threads, tying it to Caprello with a job, and the guardian that finishes a
// recording when Caprello dies. One executable plays every part:
//   (no arguments)                        the test
//   child <marker> <stubborn> <event>     a stand-in FFmpeg
//   recorder <child pid> <guard> <event>  a stand-in Caprello: ties the child,
//                                         starts the guardian, then waits
// caprello-guard.exe is expected beside this executable.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../../src/platform/win_guard.h"
#include "../../src/platform/win_threads.h"

static int g_failed;
#define CHECK(ok, what) (printf("%s: %s\n", (ok) ? "PASS" : "FAIL", what), fflush(stdout), g_failed += !(ok))

static volatile LONG g_stops;
static int g_stubborn;

static BOOL WINAPI on_console_stop(DWORD event) { (void)event; InterlockedIncrement(&g_stops); return TRUE; }

// Like FFmpeg, the handler only raises a flag and another thread finishes the
// file (writes the marker), which a thread left suspended never does.
static DWORD WINAPI child_work(LPVOID marker)
{
    for (int i = 0; i < 2400; ++i, Sleep(25)) { // a minute at most
        if (g_stops)
            CloseHandle(CreateFileA((const char *)marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
        if (g_stops && !g_stubborn)
            ExitProcess(0);
    }
    ExitProcess(3);
}

static int child_main(char *marker, HANDLE started)
{
    // A new process group starts with Ctrl+C ignored, and Wine generates no
    // break event, only Ctrl+C (see win_guard.c); FFmpeg would not do this.
    SetConsoleCtrlHandler(NULL, FALSE);
    SetConsoleCtrlHandler(on_console_stop, TRUE);
    HANDLE worker = CreateThread(NULL, 0, child_work, marker, 0, NULL);
    SetEvent(started);
    WaitForSingleObject(worker, INFINITE); // it ends the process
    return 4;
}

static int recorder_main(DWORD child_pid, const char *guard_name, HANDLE ready)
{
    wchar_t guard_exe[MAX_PATH + 64];
    HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, child_pid), guard;
    DWORD code = 9;
    GetModuleFileNameW(NULL, guard_exe, MAX_PATH);
    swprintf(wcsrchr(guard_exe, L'\\') + 1, 64, L"%hs", guard_name);
    if (!child || win_tie_process_to_this_one(child_pid) != 0)
        return 8;
    guard = win_guard_start(guard_exe, child_pid, 3000);
    SetEvent(ready);
    // The test kills us here, or ends the child: then the guardian must leave at once.
    WaitForSingleObject(child, 60000);
    if (guard && WaitForSingleObject(guard, 5000) == WAIT_OBJECT_0)
        GetExitCodeProcess(guard, &code);
    return (int)code;
}

static PROCESS_INFORMATION launch(const char *args, DWORD flags)
{
    char cmd[MAX_PATH + 200] = "\"";
    STARTUPINFOA si = {.cb = sizeof si};
    PROCESS_INFORMATION pi;
    DWORD n = GetModuleFileNameA(NULL, cmd + 1, MAX_PATH);
    snprintf(cmd + 1 + n, sizeof cmd - 1 - n, "\" %s", args);
    if (!CreateProcessA(NULL, cmd, NULL, NULL, TRUE, flags, NULL, NULL, &si, &pi))
        printf("FATAL: cannot start %s\n", args), exit(1);
    return pi;
}

// -1 when the process still runs after timeout_ms.
static long exit_code(PROCESS_INFORMATION pi, DWORD timeout_ms)
{
    DWORD code = 0;
    int ended = WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0;
    return ended && GetExitCodeProcess(pi.hProcess, &code) ? (long)code : -1;
}

static int exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

static int suspend_count(HANDLE t) { int count = (int)SuspendThread(t); ResumeThread(t); return count; }

static PROCESS_INFORMATION g_recorder;

// A stand-in FFmpeg started the way QProcess starts a console child of a GUI
// program, in its own process group (platform_win.cpp), and a stand-in
// Caprello that ties it and starts `guard` beside this executable.
static PROCESS_INFORMATION start_recording(const char *marker, int stubborn, const char *guard)
{
    char args[256];
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE ready = CreateEventA(&inheritable, FALSE, FALSE, NULL);
    DeleteFileA(marker);
    snprintf(args, sizeof args, "child %s %d %lu", marker, stubborn, (unsigned long)(ULONG_PTR)ready);
    PROCESS_INFORMATION child = launch(args, CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP);
    if (WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0)
        printf("FATAL: the stand-in FFmpeg did not start\n"), exit(1);
    snprintf(args, sizeof args, "recorder %lu %s %lu", child.dwProcessId, guard, (unsigned long)(ULONG_PTR)ready);
    g_recorder = launch(args, 0);
    if (WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0)
        printf("FATAL: the stand-in Caprello did not get ready\n"), exit(1);
    return child;
}

// Kills the stand-in Caprello after pausing FFmpeg `pauses` times; FFmpeg's
// exit code then, -1 if it still runs 20 s later (its own limit is a minute).
static long when_caprello_dies(const char *marker, int stubborn, int pauses, const char *guard)
{
    PROCESS_INFORMATION child = start_recording(marker, stubborn, guard);
    while (pauses-- > 0)
        win_suspend_process_threads(child.dwProcessId);
    TerminateProcess(g_recorder.hProcess, 1);
    return exit_code(child, 20000);
}

int main(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[1], "child") == 0)
        return g_stubborn = atoi(argv[3]), child_main(argv[2], (HANDLE)(ULONG_PTR)strtoul(argv[4], NULL, 10));
    if (argc == 5 && strcmp(argv[1], "recorder") == 0)
        return recorder_main(strtoul(argv[2], NULL, 10), argv[3], (HANDLE)(ULONG_PTR)strtoul(argv[4], NULL, 10));

    // A recording: pause and resume it, then let FFmpeg end as after a stop.
    PROCESS_INFORMATION c = start_recording("done0", 0, "caprello-guard.exe");
    const DWORD pid = c.dwProcessId;
    int n = win_suspend_process_threads(pid);
    CHECK(n >= 2 && suspend_count(c.hThread) == 1, "a pause suspends every thread of FFmpeg");
    win_suspend_process_threads(pid);
    win_resume_process_threads(pid);
    CHECK(suspend_count(c.hThread) == 1, "paused twice, FFmpeg stays paused after one resume");
    CHECK(win_resume_process_threads(pid) == n && suspend_count(c.hThread) == 0, "and runs after the second");
    for (int i = 0; i < 3; ++i)
        win_suspend_process_threads(pid);
    CHECK(win_release_process_threads(pid) == n && suspend_count(c.hThread) == 0, "release runs it, paused 3 times");
    Sleep(2000);
    CHECK(WaitForSingleObject(c.hProcess, 0) == WAIT_TIMEOUT && !exists("done0"), "the guardian leaves FFmpeg alone");
    TerminateProcess(c.hProcess, 0);
    CHECK(exit_code(g_recorder, 10000) == WIN_GUARD_CHILD_ENDED, "when FFmpeg ends first, its guardian leaves at once");

    const char *guard = "caprello-guard.exe";
    CHECK(when_caprello_dies("done1", 0, 0, guard) == 0 && exists("done1"), "Caprello killed: FFmpeg ends its file");
    CHECK(when_caprello_dies("done2", 0, 2, guard) == 0 && exists("done2"), "the same when FFmpeg was paused twice");
    CHECK(when_caprello_dies("done3", 1, 0, guard) >= 0 && exists("done3"), "an FFmpeg ignoring the stop is killed");
    CHECK(when_caprello_dies("done4", 0, 0, "none.exe") >= 0 && !exists("done4"), "no guardian: FFmpeg dies with it");

    printf("%s\n", g_failed ? "FAILED" : "all passed");
    return g_failed != 0;
}
