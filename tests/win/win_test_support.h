/* Shared by the Wine tests: each test exe starts copies of itself in other roles. */
#pragma once

#include <windows.h>

#include <string.h>
#include <wchar.h>

/* Starts this same executable with `args` after its own path. */
static BOOL launch_self(const wchar_t *args, BOOL inherit, DWORD flags, PROCESS_INFORMATION *pi)
{
    wchar_t exe[MAX_PATH];
    wchar_t cmd[MAX_PATH + 160];
    STARTUPINFOW si;
    DWORD n = GetModuleFileNameW(NULL, exe, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return FALSE;
    swprintf(cmd, sizeof cmd / sizeof cmd[0], L"\"%ls\" %ls", exe, args);
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    memset(pi, 0, sizeof *pi);
    return CreateProcessW(NULL, cmd, NULL, NULL, inherit, flags, NULL, NULL, &si, pi);
}
