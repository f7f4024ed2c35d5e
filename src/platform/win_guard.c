// See win_guard.h. kernel32 only.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "win_guard.h"
#include "win_threads.h"

void *win_guard_start(const wchar_t *guard_exe, unsigned long child_pid, unsigned long stop_timeout_ms)
{
    HANDLE job = (HANDLE)win_tie_job();
    HANDLE inherited[2] = {NULL, NULL}; // this process, the child
    HANDLE job_in_guard = NULL;
    STARTUPINFOEXW si;
    PROCESS_INFORMATION pi;
    SIZE_T size = 0;
    wchar_t command[MAX_PATH + 64];
    BOOL started = FALSE;

    if (job == NULL || GetFileAttributesW(guard_exe) == INVALID_FILE_ATTRIBUTES)
        return NULL;

    // Inheritable copies, closed again below, for the guardian to wait on.
    // Holding the child's handle also keeps its pid from being reused, so the
    // guardian never acts on a stranger.
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &inherited[0],
                    SYNCHRONIZE, TRUE, 0);
    inherited[1] = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, (DWORD)child_pid);

    ZeroMemory(&si, sizeof si);
    si.StartupInfo.cb = sizeof si;
    InitializeProcThreadAttributeList(NULL, 1, 0, &size);
    si.lpAttributeList = (LPPROC_THREAD_ATTRIBUTE_LIST)HeapAlloc(GetProcessHeap(), 0, size);
    if (inherited[0] && inherited[1] && si.lpAttributeList &&
        InitializeProcThreadAttributeList(si.lpAttributeList, 1, 0, &size)) {
        // Only these two: anything else inheritable here (FFmpeg's pipes while
        // QProcess starts another one, say) must not live on in the guardian.
        if (UpdateProcThreadAttribute(si.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                      sizeof inherited, NULL, NULL) &&
            swprintf(command, sizeof command / sizeof command[0], L"\"%ls\" %lu %lu %lu", guard_exe,
                     (unsigned long)(ULONG_PTR)inherited[0], (unsigned long)(ULONG_PTR)inherited[1],
                     stop_timeout_ms) > 0)
            started = CreateProcessW(guard_exe, command, NULL, NULL, TRUE,
                                     DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT, NULL, NULL,
                                     &si.StartupInfo, &pi);
        DeleteProcThreadAttributeList(si.lpAttributeList);
    }
    if (si.lpAttributeList)
        HeapFree(GetProcessHeap(), 0, si.lpAttributeList);
    if (inherited[0])
        CloseHandle(inherited[0]);
    if (inherited[1])
        CloseHandle(inherited[1]);
    if (!started)
        return NULL;
    CloseHandle(pi.hThread);

    // The guardian never uses the job, it only has to hold it; so the handle
    // goes straight into its table and is never inheritable here, where a
    // process started meanwhile could otherwise keep the job alive.
    if (!DuplicateHandle(GetCurrentProcess(), job, pi.hProcess, &job_in_guard, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        TerminateProcess(pi.hProcess, WIN_GUARD_BAD_ARGUMENTS);
        CloseHandle(pi.hProcess);
        return NULL;
    }
    return pi.hProcess;
}

// One graceful stop for the child. FFmpeg's console handler treats the break
// event like SIGINT and finishes the file. The child was started in a process
// group of its own, whose id is its pid, and has a console of its own, so
// nothing else is addressed.
static void send_stop(DWORD pid)
{
    if (!AttachConsole(pid))
        return;
    // Windows does not confine Ctrl+C to a group; we must not be stopped by it.
    SetConsoleCtrlHandler(NULL, TRUE);
    // Wine 8 generates only Ctrl+C and refuses the break event; on Windows
    // the break event goes through and the second call never runs.
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pid))
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, pid);
}

int win_guard_main(const wchar_t *command_line)
{
    const wchar_t *p = command_line;
    wchar_t *end;
    unsigned long values[3];
    HANDLE waits[2];
    DWORD pid;
    int i;

    // Skip the program's own name, quoted or not.
    if (*p == L'"') {
        p = wcschr(p + 1, L'"');
        if (!p)
            return WIN_GUARD_BAD_ARGUMENTS;
        ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
    }
    for (i = 0; i < 3; ++i) {
        values[i] = wcstoul(p, &end, 10);
        if (end == p)
            return WIN_GUARD_BAD_ARGUMENTS;
        p = end;
    }
    waits[0] = (HANDLE)(ULONG_PTR)values[1]; // the child first: if both ended, nothing is left to finish
    waits[1] = (HANDLE)(ULONG_PTR)values[0];
    pid = GetProcessId(waits[0]);
    if (pid == 0 || WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
        return pid == 0 ? WIN_GUARD_BAD_ARGUMENTS : WIN_GUARD_CHILD_ENDED;

    // Caprello is gone and its pauses with it: a suspended FFmpeg could not
    // act on the stop.
    win_release_process_threads(pid);
    send_stop(pid);
    // Returning closes the last handle to the job: a child still running then is killed.
    return WaitForSingleObject(waits[0], values[2]) == WAIT_OBJECT_0 ? WIN_GUARD_CHILD_STOPPED
                                                                      : WIN_GUARD_CHILD_LEFT_TO_JOB;
}
