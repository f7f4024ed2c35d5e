// Suspending and resuming every thread of a process, and tying a child's life
// to ours, through kernel32.
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

// Puts process `pid` into a job object that this process keeps open until it
// exits, with JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE: when we die, however we die,
// the system closes our last handle to the job and kills `pid` (and whatever it
// started after this call). Used so FFmpeg cannot record on forever after a
// crash. The job is created on the first successful call and shared by all
// later ones. Meant to be called from the one recording worker thread; it is
// still safe if two threads race on the first call.
// Returns 0 on success, -1 if the process cannot be opened (for instance it
// does not exist), the job cannot be set up, or the assignment is refused.
int win_tie_process_to_this_one(unsigned long pid);

// The job of win_tie_process_to_this_one (a HANDLE), or NULL before its first
// success. Still owned here: a caller may duplicate it, never close it.
void *win_tie_job(void);

#ifdef __cplusplus
}
#endif
