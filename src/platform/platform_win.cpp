// Windows: gdigrab and DirectShow inputs; pause by suspending every thread of
// the process through kernel32 (see win_threads.c).
#include "platform.h"
#include "programsearch.h"
#include "win_threads.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QDebug>
#include <QMediaDevices>
#include <QProcess>

namespace Platform {

std::optional<CaptureBackend> captureBackend()
{
    return CaptureBackend::GdiDirectShow;
}

AudioInputs audioInputs()
{
    // DirectShow opens a device by the same description Qt Multimedia reports.
    const auto toInput = [](const QAudioDevice &device) {
        return AudioInput{device.description(), device.description(), device.isDefault(), false, false};
    };
    AudioInputs result;
    for (const QAudioDevice &device : QMediaDevices::audioInputs())
        result.inputs.append(toInput(device));
    result.defaultInput = toInput(QMediaDevices::defaultAudioInput());
    return result;
}

void prepareApplication()
{
}

QString ffmpegSearchPlaces()
{
    return QStringLiteral("beside caprello.exe, then in the folders of PATH");
}

QString ffmpegProgram()
{
    // CreateProcess would look in the current directory right after the
    // program's own: a planted ffmpeg.exe there must not run.
    return ProgramSearch::find(QStringLiteral("ffmpeg.exe"), {QCoreApplication::applicationDirPath()},
                               qEnvironmentVariable("PATH"), QLatin1Char(';'));
}

void prepareProcess(QProcess *)
{
}

void processStarted(QProcess *process)
{
    // If Caprello is killed, Windows then ends FFmpeg too (its file is not finished).
    if (win_tie_process_to_this_one(static_cast<unsigned long>(process->processId())) != 0)
        qWarning() << "Could not tie FFmpeg to this program; it would outlive a crash.";
}

QString fileManagerProgram()
{
    return QStringLiteral("explorer.exe");
}

QString screenName()
{
    return QStringLiteral("desktop");
}

QString suspendMechanism()
{
    return QStringLiteral("Windows API");
}

void suspendProcess(QProcess *process)
{
    win_suspend_process_threads(static_cast<unsigned long>(process->processId()));
}

void resumeProcess(QProcess *process)
{
    win_resume_process_threads(static_cast<unsigned long>(process->processId()));
}

void releaseProcess(QProcess *process)
{
    win_release_process_threads(static_cast<unsigned long>(process->processId()));
}

} // namespace Platform
