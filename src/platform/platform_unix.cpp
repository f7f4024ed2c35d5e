// Linux (X11 + PulseAudio/PipeWire): x11grab and pulse inputs; pause by
// stopping the whole process with SIGSTOP and continuing it with SIGCONT; a
// guardian that finishes the recording when the program dies.
// The audio inputs come from pulse_inputs.cpp.
#include "platform.h"
#include "programsearch.h"
#include "pulse_audio.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>
#include <QVariant>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

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

int sendSignal(int pidfd, int signal)
{
    return int(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

void closeFds(int from, int to)
{
    if (from <= to && ::syscall(SYS_close_range, unsigned(from), unsigned(to), 0) != 0) {
        for (int fd = from; fd <= to; ++fd)
            ::close(fd);
    }
}

// Lets a paused FFmpeg run and sends it one SIGINT, on which it finishes its file
// as on "q" (a second one would make it quit without its index). An FFmpeg that
// has not ended 30 s later is killed: none is left recording. Only system calls.
void finishRecording(int ffmpeg)
{
    sendSignal(ffmpeg, SIGCONT);
    sendSignal(ffmpeg, SIGINT);
    pollfd ended = {ffmpeg, POLLIN, 0};
    if (::poll(&ended, 1, 30000) == 0)
        sendSignal(ffmpeg, SIGKILL);
}

constexpr char kGuardianTask[] = "CAPRELLO_GUARDIAN";  // FFmpeg's pid; descriptors 3 and 4 as below

// Waits on FFmpeg's pidfd and the lifeline; when the lifeline breaks first, the
// program is dead: `finish` runs. Only system calls.
template <typename Finish>
void watch(int ffmpeg, int lifeline, Finish finish)
{
    pollfd fds[2] = {{ffmpeg, POLLIN, 0}, {lifeline, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    if (!(fds[0].revents & POLLIN))
        finish();
}

// The guardian: a process that holds nothing but a pidfd of FFmpeg, which names
// that one process even after its pid is reused, and the read end of `lifeline`,
// whose write end only the program holds. It is started as a fresh copy of the
// program (`environment` names its task), so it holds none of the program's memory
// and can talk to the sound server. Between fork and exec only async-signal-safe
// calls: this is a copy of a threaded process.
[[noreturn]] void startGuardian(int lifeline, int ffmpeg, int maxFd, char **environment)
{
    // Descriptors 3 and 4, without close-on-exec; all else goes, above all FFmpeg's
    // error pipe: a copy held here would fill up unread and block it.
    const int pidfd = ::fcntl(ffmpeg, F_DUPFD, 10), life = ::fcntl(lifeline, F_DUPFD, 10);
    const bool placed = pidfd >= 0 && life >= 0 && ::dup2(pidfd, 3) == 3 && ::dup2(life, 4) == 4;
    closeFds(5, maxFd);
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd)
        ::dup2(null, fd);
    char program[] = "caprello";
    char *argv[] = {program, nullptr};
    if (placed)
        ::execve("/proc/self/exe", argv, environment);
    watch(3, 4, [] { finishRecording(3); });  // without the fresh copy, this copy stands guard
    ::_exit(0);
}

// A guardian is this program's file run again (or, in the tests, the test's): it
// does its task before main() and never reaches it.
const bool g_guardianDone = [] {
    const char *ffmpeg = ::getenv(kGuardianTask);
    if (!ffmpeg)
        return false;
    watch(3, 4, [ffmpeg] {
        // A pause's mute would be kept by the sound server for FFmpeg's next streams.
        PulseAudio::setRecordingMuted(QByteArray(ffmpeg).toLongLong(), false);
        finishRecording(3);
    });
    ::_exit(0);
}();

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

void prepareProcess(QProcess *)
{
}

void processStarted(QProcess *process)
{
    // Created once; the write end stays open, unused, until the program ends, and
    // no child inherits it, so its read end breaks exactly when the program dies.
    static int lifeline[2] = {-1, -1};
    static const bool haveLifeline = ::pipe2(lifeline, O_CLOEXEC) == 0;
    // FFmpeg is our unreaped child here, so its pid still names it.
    const int ffmpeg = int(::syscall(SYS_pidfd_open, pid_t(process->processId()), 0));
    if (!haveLifeline || ffmpeg < 0) {
        qWarning() << "FFmpeg has no guardian: if the program dies, the recording is not finished.";
        if (ffmpeg >= 0)
            ::close(ffmpeg);
        return;
    }
    const int maxFd = int(::sysconf(_SC_OPEN_MAX));
    // Made before the fork: the copy may not allocate.
    QList<QByteArray> strings = {QByteArray(kGuardianTask) + '=' + QByteArray::number(process->processId())};
    for (char **variable = environ; *variable; ++variable)
        strings.append(*variable);
    std::vector<char *> environment;
    for (QByteArray &string : strings)
        environment.push_back(string.data());
    environment.push_back(nullptr);
    // Forked twice, so that the guardian is nobody's child here and nothing has to reap it.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(lifeline[1]);
        if (::fork() == 0)
            startGuardian(lifeline[0], ffmpeg, maxFd, environment.data());
        ::_exit(0);
    }
    ::close(ffmpeg);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
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

// A stopped FFmpeg still gets sound: the server fills its streams and hands it all
// over on resume. Muted from before the stop until after the resume, they hold silence.
void setMuted(QProcess *process, bool muted)
{
    if (!muted && !process->property("caprelloMuted").toBool())
        return;
    const bool done = PulseAudio::setRecordingMuted(process->processId(), muted);
    process->setProperty("caprelloMuted", muted && done);
    if (!done)
        qWarning() << (muted ? "The sound could not be silenced for the pause: the paused span may hold it."
                             : "The sound could not be turned on again after the pause.");
}

void suspendProcess(QProcess *process)
{
    const int count = suspensions(process);
    if (count == 0) {
        setMuted(process, true);
        if (!signalProcess(process, SIGSTOP))
            return;
    }
    process->setProperty(kSuspensions, count + 1);
}

void resumeProcess(QProcess *process)
{
    const int count = suspensions(process);
    if (count == 0)
        return;
    if (count == 1) {
        setMuted(process, false);
        signalProcess(process, SIGCONT);
    }
    process->setProperty(kSuspensions, count - 1);
}

void releaseProcess(QProcess *process)
{
    if (suspensions(process) == 0)
        return;
    setMuted(process, false);
    signalProcess(process, SIGCONT);
    process->setProperty(kSuspensions, 0);
}

} // namespace Platform
