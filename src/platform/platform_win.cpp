// Windows: gdigrab and DirectShow inputs; pause by suspending every thread of
// the process through kernel32 (see win_threads.c); caprello-guard.exe
// finishes the recording if the program dies (see win_guard.h).
#include "platform.h"
#include "programsearch.h"
#include "win_guard.h"
#include "win_threads.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMediaDevices>
#include <QProcess>

#include <qt_windows.h>

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

void prepareProcess(QProcess *process)
{
    // QProcess gives FFmpeg a console of its own without a window; a process
    // group of its own too lets the guardian send the break event to FFmpeg alone.
    process->setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags |= CREATE_NEW_PROCESS_GROUP;
    });
}

void processStarted(QProcess *process, QProcess *)
{
    const auto pid = static_cast<unsigned long>(process->processId());
    // FFmpeg joins a job that kills it when the last handle to the job closes,
    // so it cannot record on forever after we die...
    if (win_tie_process_to_this_one(pid) != 0) {
        qWarning() << "Could not tie FFmpeg to this program; it would outlive a crash.";
        return;
    }
    // ...and the guardian holds the job too, so that it can first let FFmpeg
    // finish its file.
    const QString guard = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()
                                                   + QStringLiteral("/caprello-guard.exe"));
    if (!QFileInfo::exists(guard)) {
        qWarning().noquote() << "No" << guard << "- if this program dies, the recording in progress is lost.";
        return;
    }
    void *guardian = win_guard_start(reinterpret_cast<const wchar_t *>(guard.utf16()), pid,
                                     WIN_GUARD_STOP_TIMEOUT_MS);
    if (!guardian) {
        qWarning().noquote() << "Could not start" << guard
                             << "- if this program dies, the recording in progress is lost.";
        return;
    }
    CloseHandle(guardian);
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
