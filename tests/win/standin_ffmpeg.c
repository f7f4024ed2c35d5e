// A stand-in ffmpeg.exe for tests/win/wine-e2e.sh (Wine 8 cannot capture sound
// through dshow). Beside itself it writes standin-args.txt (its own path, then
// one argument a line), standin-count.txt (a counter its worker thread bumps
// every 50 ms: it stands still while Caprello has the threads suspended) and,
// when it finishes, standin-stop.txt ("q" from stdin, or "ctrl" for a console
// event). Like FFmpeg, the handler only raises a flag: the worker thread writes
// the output file (the last argument) and ends the process.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

static volatile LONG g_stop; // 1: "q", 2: console event
static wchar_t g_dir[MAX_PATH];
static wchar_t *g_output;

static void put(const wchar_t *name, const char *text)
{
    wchar_t path[MAX_PATH + 32];
    swprintf(path, MAX_PATH + 32, L"%ls\\%ls", g_dir, name);
    FILE *f = _wfopen(path, L"wb");
    if (f) {
        fputs(text, f);
        fclose(f);
    }
}

static BOOL WINAPI on_console(DWORD event) { (void)event; InterlockedCompareExchange(&g_stop, 2, 0); return TRUE; }

static DWORD WINAPI read_stdin(LPVOID unused)
{
    (void)unused;
    char c;
    DWORD n;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, NULL) && n == 1)
        if (c == 'q')
            InterlockedCompareExchange(&g_stop, 1, 0);
    return 0;
}

static DWORD WINAPI work(LPVOID unused)
{
    (void)unused;
    char text[64];
    for (long count = 0; count < 20 * 600; ++count, Sleep(50)) { // ten minutes at most
        snprintf(text, sizeof text, "%ld\n", count);
        put(L"standin-count.txt", text);
        if (count % 10 == 0)
            fprintf(stderr, "frame=%ld fps=30 q=28.0 size=1kB time=00:00:%02ld.00 bitrate=1.0kbits/s speed=1x\r",
                    count * 3 / 2, (count / 20) % 60), fflush(stderr);
        if (g_stop) {
            FILE *out = _wfopen(g_output, L"wb");
            if (out) {
                fputs("stand-in recording\n", out);
                fclose(out);
            }
            put(L"standin-stop.txt", g_stop == 1 ? "q\n" : "ctrl\n");
            ExitProcess(out ? 0 : 1);
        }
    }
    ExitProcess(3);
}

int main(void)
{
    int argc;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    GetModuleFileNameW(NULL, g_dir, MAX_PATH);
    *wcsrchr(g_dir, L'\\') = 0;
    if (!argv || argc < 2)
        return 2;
    g_output = argv[argc - 1];

    wchar_t path[MAX_PATH + 32];
    swprintf(path, MAX_PATH + 32, L"%ls\\standin-args.txt", g_dir);
    FILE *f = _wfopen(path, L"wb");
    for (int i = 0; f && i < argc; ++i) {
        char line[4096];
        WideCharToMultiByte(CP_UTF8, 0, i ? argv[i] : path, -1, line, sizeof line, NULL, NULL);
        if (i == 0) // its own path, not the name it was started by
            GetModuleFileNameA(NULL, line, sizeof line);
        fprintf(f, "%s\n", line);
    }
    if (f)
        fclose(f);

    // A new process group starts with Ctrl+C ignored; Wine sends Ctrl+C where
    // Windows sends the break event (see src/platform/win_guard.c).
    SetConsoleCtrlHandler(NULL, FALSE);
    SetConsoleCtrlHandler(on_console, TRUE);
    CloseHandle(CreateThread(NULL, 0, read_stdin, NULL, 0, NULL));
    HANDLE worker = CreateThread(NULL, 0, work, NULL, 0, NULL);
    WaitForSingleObject(worker, INFINITE);
    return 4;
}
