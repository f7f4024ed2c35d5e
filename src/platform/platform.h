// The small per-OS layer: which capture inputs FFmpeg gets, and how a running
// FFmpeg is frozen and thawed. One header, one source file per OS (chosen in CMake).
#pragma once

#include <QList>
#include <QString>

#include <optional>

class QProcess;

namespace Platform {

// One audio input as the platform lists it.
struct AudioInput {
    QString description;            // human-readable; what the log shows
    QString name;                   // what FFmpeg opens: the description on Windows, the source name on Linux
    bool isDefault = false;         // the system's default input
    bool isMonitor = false;         // Linux: the monitor of an output (what the speakers play)
    bool monitorsDefaultSink = false;  // Linux: the monitor of the default output

    bool operator==(const AudioInput &o) const
    {
        return description == o.description && name == o.name && isDefault == o.isDefault
                && isMonitor == o.isMonitor && monitorsDefaultSink == o.monitorsDefaultSink;
    }
};

struct AudioInputs {
    QList<AudioInput> inputs;       // in the platform's order
    AudioInput defaultInput;        // empty description when there is none
};

// The audio inputs, read afresh. On Linux straight from PulseAudio, monitors
// included (Qt Multimedia leaves them out, and they are the system sound there).
AudioInputs audioInputs();

// Started with the folder's native path when the desktop service cannot open it.
QString fileManagerProgram();

// Called once at start-up, before the application object exists.
// Linux: with TZ unset, glibc checks /etc/localtime on every local-time
// conversion; naming it in TZ makes listing 10,000 recordings several times faster.
void prepareApplication();

// The ffmpeg to run, as an absolute path; empty when there is none. Windows:
// ffmpeg.exe beside caprello.exe, else on PATH. Elsewhere: on PATH. Never the
// current directory, which Windows would search first for a bare name.
QString ffmpegProgram();

// Where ffmpegProgram() looks, for the window: "in the folders of PATH".
QString ffmpegSearchPlaces();

// Before the start: on Linux FFmpeg is told to finish its file (SIGINT) when the
// program dies, so that a killed or crashed Caprello leaves no FFmpeg recording on.
void prepareProcess(QProcess *process);

// After the start: on Windows FFmpeg joins a job object that ends with the program;
// on Linux a guardian finishes the recording when the program dies. `feeder` is
// the process that feeds FFmpeg the screen (Wayland), or null.
void processStarted(QProcess *process, QProcess *feeder = nullptr);

// Which FFmpeg inputs grab the screen and the sound on this OS.
enum class CaptureBackend {
    GdiDirectShow,  // Windows: -f gdigrab -i desktop, -f dshow -i audio=<description>
    X11Pulse,       // Linux:   -f x11grab -i $DISPLAY, -f pulse -i <source name>
    PortalPulse,    // Linux on Wayland: raw frames from the ScreenCast portal through
                    // GStreamer on an inherited pipe, -f pulse -i <source name>
    X11Feed,        // Linux on X with GStreamer: raw frames from its ximagesrc on an
                    // inherited pipe, as on Wayland; X11Pulse where it is missing
};

// The backend of this build and session, or nothing where the OS has neither.
std::optional<CaptureBackend> captureBackend();

// The X11 display FFmpeg or GStreamer grabs (only meaningful for X11Pulse and X11Feed).
QString screenName();

// Shown in the pause and resume log lines, e.g. "Windows API".
QString suspendMechanism();

// Freezes every thread of the process. Suspensions count: a process suspended
// twice runs again only after two resumes.
void suspendProcess(QProcess *process);

// Removes one suspension; a resume with no suspension before it changes nothing.
void resumeProcess(QProcess *process);

// Lets a suspended process run again however many suspensions it holds, so
// that it can read the stop command.
void releaseProcess(QProcess *process);

} // namespace Platform
