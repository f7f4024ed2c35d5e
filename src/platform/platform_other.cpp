// Fallback for an OS with neither gdigrab/DirectShow nor X11/PulseAudio:
// recording is refused with a clear message instead of running a broken command.
#include "platform.h"

namespace Platform {

std::optional<CaptureBackend> captureBackend()
{
    return std::nullopt;
}

AudioInputs audioInputs()
{
    return {};
}

void prepareApplication() {}

QString ffmpegSearchPlaces()
{
    return QStringLiteral("in the folders of PATH");
}

QString ffmpegProgram()
{
    return {};
}

void prepareProcess(QProcess *) {}
void processStarted(QProcess *, QProcess *) {}

QString fileManagerProgram()
{
    return {};
}

QString screenName()
{
    return {};
}

QString suspendMechanism()
{
    return QStringLiteral("unsupported");
}

void suspendProcess(QProcess *) {}
void resumeProcess(QProcess *) {}
void releaseProcess(QProcess *) {}

} // namespace Platform
