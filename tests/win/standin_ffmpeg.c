// A stand-in ffmpeg.exe for tests/win/wine-e2e.sh (Wine 8 cannot capture sound
// through dshow). Beside itself it writes standin-args.txt (its path, then one
// argument a line), standin-count.txt (a counter its worker thread bumps every
// 50 ms: still while Caprello has the threads suspended) and, when it finishes,
// standin-stop.txt ("q" from stdin or "ctrl" for a console event). As in FFmpeg,
// the handler only raises a flag: the worker writes the output (last argument).
// A stream copy (a recording's finishing) copies its input to its output at once.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

static volatile LONG g_stop; // 1: "q", 2: console event
static wchar_t g_dir[MAX_PATH];

static FILE *open_beside(const wchar_t *name)
{
    wchar_t path[MAX_PATH + 32];
    swprintf(path, MAX_PATH + 32, L"%ls\\%ls", g_dir, name);
    return _wfopen(path, L"wb");
}

static BOOL WINAPI on_console(DWORD event) { (void)event; InterlockedCompareExchange(&g_stop, 2, 0); return TRUE; }

static DWORD WINAPI read_stdin(LPVOID unused)
{
    char c;
    DWORD n;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, NULL) && n == 1)
        if (c == 'q')
            InterlockedCompareExchange(&g_stop, 1, 0);
    return (DWORD)(INT_PTR)unused;
}

static DWORD WINAPI work(LPVOID output)
{
    for (long count = 0; count < 20 * 600; ++count, Sleep(50)) { // ten minutes at most
        FILE *f = open_beside(L"standin-count.txt");
        if (f)
            fprintf(f, "%ld\n", count), fclose(f);
        fprintf(stderr, "frame=%ld fps=20 size=1kB time=00:%02ld:%02ld.%02ld bitrate=1kbits/s\r",
                count, count / 1200, count / 20 % 60, count % 20 * 5), fflush(stderr); // a pipe buffers
        if (g_stop) {
            FILE *out = _wfopen((const wchar_t *)output, L"wb"), *stop = open_beside(L"standin-stop.txt");
            if (out)
                fputs("stand-in recording\n", out), fclose(out);
            if (stop)
                fputs(g_stop == 1 ? "q\n" : "ctrl\n", stop), fclose(stop);
            ExitProcess(out ? 0 : 1);
        }
    }
    ExitProcess(3);
}

int main(void)
{
    int argc;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    char line[4096];
    GetModuleFileNameW(NULL, g_dir, MAX_PATH);
    *wcsrchr(g_dir, L'\\') = 0;
    if (!argv || argc < 2)
        return 2;
    for (int i = 1; i + 1 < argc; ++i)
        if (wcscmp(argv[i], L"-c") == 0 && wcscmp(argv[i + 1], L"copy") == 0)
            for (int j = 1; j + 1 < argc; ++j)
                if (wcscmp(argv[j], L"-i") == 0)
                    return CopyFileW(argv[j + 1], argv[argc - 1], FALSE) ? 0 : 1;
    FILE *f = open_beside(L"standin-args.txt");
    GetModuleFileNameA(NULL, line, sizeof line); // the path it runs from, not the name it was given
    for (int i = 0; f && i < argc; ++i) {
        if (i)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, line, sizeof line, NULL, NULL);
        fprintf(f, "%s\n", line);
    }
    if (f)
        fclose(f);
    // A new process group starts with Ctrl+C ignored; Wine sends Ctrl+C where
    // Windows sends the break event (see src/platform/win_guard.c).
    SetConsoleCtrlHandler(NULL, FALSE);
    SetConsoleCtrlHandler(on_console, TRUE);
    CloseHandle(CreateThread(NULL, 0, read_stdin, NULL, 0, NULL));
    WaitForSingleObject(CreateThread(NULL, 0, work, argv[argc - 1], 0, NULL), INFINITE);
    return 4;
}
