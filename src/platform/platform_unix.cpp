// Linux (X11 + PulseAudio/PipeWire): x11grab and pulse inputs; pause by
// stopping the whole process with SIGSTOP and continuing it with SIGCONT.
// The audio inputs come from pulse_inputs.cpp.
#include "platform.h"
#include "programsearch.h"

#include <QFileInfo>
#include <QProcess>
#include <QVariant>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// Stop signals do not nest (one SIGCONT undoes any number of SIGSTOPs), so the
// count that Windows keeps per thread is kept here on the process object itself;
// it dies with the process, so a reused pid never inherits it.
constexpr char kSuspensions[] = "caprelloSuspensions";

int suspensions(const QProcess *process)
{
    return process->property(kSuspensions).toInt();
}

bool signalProcess(QProcess *process, int signal)
{
    const qint64 pid = process->processId();
    return pid > 0 && ::kill(static_cast<pid_t>(pid), signal) == 0;
}

} // namespace

namespace Platform {

std::optional<CaptureBackend> captureBackend()
{
    return CaptureBackend::X11Pulse;
}

void prepareApplication()
{
    if (!qEnvironmentVariableIsSet("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
}

QString ffmpegSearchPlaces()
{
    return QStringLiteral("in the folders of PATH");
}

QString ffmpegProgram()
{
    return ProgramSearch::find(QStringLiteral("ffmpeg"), {}, qEnvironmentVariable("PATH"), QLatin1Char(':'));
}

void prepareProcess(QProcess *process)
{
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec: only async-signal-safe calls.
    // The death signal follows the thread that started the child (the worker
    // thread), which ends only when the program ends anyway. SIGINT makes FFmpeg
    // finish its file as "q" does.
    process->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGINT);
        if (::getppid() != parent)  // the program died before the line above
            ::raise(SIGINT);
    });
}

void processStarted(QProcess *)
{
}

QString fileManagerProgram()
{
    return QStringLiteral("xdg-open");
}

QString screenName()
{
    const QString display = qEnvironmentVariable("DISPLAY");
    return display.isEmpty() ? QStringLiteral(":0") : display;
}

QString suspendMechanism()
{
    return QStringLiteral("POSIX signals");
}

void suspendProcess(QProcess *process)
{
    const int count = suspensions(process);
    if (count == 0 && !signalProcess(process, SIGSTOP))
        return;
    process->setProperty(kSuspensions, count + 1);
}

void resumeProcess(QProcess *process)
{
    const int count = suspensions(process);
    if (count == 0)
        return;
    if (count == 1)
        signalProcess(process, SIGCONT);
    process->setProperty(kSuspensions, count - 1);
}

void releaseProcess(QProcess *process)
{
    if (suspensions(process) == 0)
        return;
    signalProcess(process, SIGCONT);
    process->setProperty(kSuspensions, 0);
}

} // namespace Platform
