// pause_process.exe IMAGE MS: suspends every thread of the running process IMAGE (its file
// name, "ffmpeg.exe") with the program's own win_threads.c, for MS milliseconds, and
// prints the wall-clock times (Unix seconds) at which it suspended and resumed it.
// For bench/wine-pause.sh: Caprello's pause, without Caprello.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "win_threads.h"

static double unix_now(void)
{
    FILETIME ft;
    ULARGE_INTEGER t;
    GetSystemTimePreciseAsFileTime(&ft);
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return (double)(t.QuadPart - 116444736000000000ULL) / 1e7;
}

static DWORD find_process(const char *image)
{
    PROCESSENTRY32 pe;
    DWORD pid = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32First(snapshot, &pe); more && !pid; more = Process32Next(snapshot, &pe)) {
        if (_stricmp(pe.szExeFile, image) == 0)
            pid = pe.th32ProcessID;
    }
    CloseHandle(snapshot);
    return pid;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s IMAGE MS\n", argv[0]);
        return 2;
    }
    const DWORD pid = find_process(argv[1]);
    if (!pid) {
        fprintf(stderr, "no process %s\n", argv[1]);
        return 1;
    }
    const double suspended = unix_now();
    if (win_suspend_process_threads(pid) <= 0)
        return 1;
    Sleep((DWORD)atoi(argv[2]));
    const double resumed = unix_now();
    if (win_resume_process_threads(pid) <= 0)
        return 1;
    printf("%.4f %.4f\n", suspended, resumed);
    return 0;
}
