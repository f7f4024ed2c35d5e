// The texts the worker reports through errorOccurred, and which of them mean
// that no FFmpeg is running any more. Everything else it reports is a piece of
// FFmpeg's error output, sent while FFmpeg records on.
#pragma once

#include <QString>

namespace WorkerReports {

inline QString alreadyRunning() { return QStringLiteral("A recording process is already running."); }
inline QString failedToStart() { return QStringLiteral("ffmpeg.exe process failed to start."); }
inline QString exited(int exitCode) { return QStringLiteral("FFMPEG crashed or exited with code %1").arg(exitCode); }
inline QString unsupportedPlatform()
{
    return QStringLiteral("Recording is not supported on this platform: it needs Windows "
                          "(gdigrab, DirectShow) or Linux (X11, PulseAudio).");
}

// Wayland: the user declined to share the screen, or it could not be had (`why`).
inline QString screenNotShared() { return QStringLiteral("The screen was not shared: nothing was recorded."); }
inline QString noScreen(const QString &why) { return QStringLiteral("The screen cannot be recorded: %1").arg(why); }

// True for exited(): FFmpeg ran and is gone.
inline bool isExit(const QString &error)
{
    static const QLatin1String exitPrefix("FFMPEG crashed or exited with code ");
    if (!error.startsWith(exitPrefix))
        return false;
    bool isNumber = false;
    error.mid(exitPrefix.size()).toInt(&isNumber);
    return isNumber;
}

// True for the reports after which the worker holds no process.
inline bool endsProcess(const QString &error)
{
    return error == failedToStart() || error == unsupportedPlatform() || error == screenNotShared()
            || error.startsWith(noScreen(QString())) || isExit(error);
}

} // namespace WorkerReports
