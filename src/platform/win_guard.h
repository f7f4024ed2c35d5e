// The guardian: a tiny process (caprello-guard.exe) that outlives Caprello so
// that a recording in progress is finished, not cut off, when Caprello dies.
// Qt-free C, so that the same code runs in the program, in the guardian and
// in the Wine test.
#pragma once

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

// How long the guardian lets FFmpeg finish its file after the stop.
#define WIN_GUARD_STOP_TIMEOUT_MS 30000UL

// The guardian's exit codes.
enum {
    WIN_GUARD_CHILD_ENDED = 0,     // FFmpeg ended while Caprello lived: nothing to do
    WIN_GUARD_CHILD_STOPPED = 1,   // Caprello died; FFmpeg finished after the stop
    WIN_GUARD_CHILD_LEFT_TO_JOB = 2, // it did not: our exit closes the job, which kills it
    WIN_GUARD_BAD_ARGUMENTS = 3
};

// Caprello's side, right after FFmpeg (process `child_pid`) started and was
// tied with win_tie_process_to_this_one. Starts `guard_exe` (full path), which
// inherits only a handle to this process and one to the child, and receives
// a handle to the tie job, so the job and FFmpeg live on after this process
// for as long as the guardian does. Returns the guardian's process handle (a
// HANDLE, for the caller to close), or NULL when it could not be started; the
// job then keeps its old rule: FFmpeg dies with this process.
void *win_guard_start(const wchar_t *guard_exe, unsigned long child_pid, unsigned long stop_timeout_ms);

// The guardian's whole run, given its command line as win_guard_start wrote
// it. Waits for the child or the watched process to end. If the watched one
// (Caprello) ends first: lets a paused child run, sends it one console break
// event (FFmpeg then finishes its file, as on SIGINT), waits up to the stop
// timeout and returns. Returns one of the codes above.
int win_guard_main(const wchar_t *command_line);

#ifdef __cplusplus
}
#endif
