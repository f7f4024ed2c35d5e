// Suspending and resuming every thread of a process through kernel32.
// Kept free of Qt so that it can be cross-compiled with MinGW-w64 and exercised under Wine.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Adds one suspension to every thread of process `pid` (walks a system-wide
// thread snapshot, opens each matching thread with THREAD_SUSPEND_RESUME).
// Returns the number of threads suspended, or -1 when no snapshot could be taken
// or its first entry could not be read.
int win_suspend_process_threads(unsigned long pid);

// Removes one suspension from every thread of process `pid`. Same result convention.
int win_resume_process_threads(unsigned long pid);

// Resumes every thread of process `pid` until none is left suspended, whatever the
// number of earlier suspensions. Used before the stop command so a paused FFmpeg
// can read "q" and finish its file. Same result convention (threads touched).
int win_release_process_threads(unsigned long pid);

#ifdef __cplusplus
}
#endif
