// Linux (X11 + PulseAudio/PipeWire): x11grab and pulse inputs; pause by
// stopping the whole process with SIGSTOP and continuing it with SIGCONT; a
// guardian that finishes the recording when the program dies.
// The audio inputs come from pulse_inputs.cpp.
#include "platform.h"
#include "programsearch.h"
#include "pulse_audio.h"
#include "screenfeed.h"
#include "recordingfinish.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QVariant>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>
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

// Lets a paused FFmpeg run and sends it one SIGINT, on which it finishes its file
// as on "q" (a second one would make it quit without its index). An FFmpeg that
// has not ended 30 s later is killed: none is left recording. A process feeding it
// the screen (-1: none) ends first: FFmpeg finishes only once its frames reader
// returns, and that waits on the feeder's pipe. With the program gone, the desktop's
// share can be gone too, and then the feeder never ends its stream by itself
// (seen on Wayland: FFmpeg held for the full 30 s and killed without its index), so
// it gets a moment to end cleanly and is killed after that, which closes the pipe.
void finishRecording(int ffmpeg, int feeder)
{
    sendSignal(ffmpeg, SIGCONT);
    sendSignal(ffmpeg, SIGINT);
    if (feeder >= 0) {
        sendSignal(feeder, SIGCONT);
        sendSignal(feeder, SIGINT);
    }
    for (const auto &[process, waitMs] : {std::pair{feeder, ScreenFeed::kEndOfStreamMs}, std::pair{ffmpeg, 30000}}) {
        pollfd ended = {process, POLLIN, 0};
        if (process >= 0 && ::poll(&ended, 1, waitMs) == 0)
            sendSignal(process, SIGKILL);
    }
}

constexpr char kGuardianTask[] = "CAPRELLO_GUARDIAN";  // FFmpeg's pid; descriptors 3 to 5 as below
constexpr char kGuardianFfmpeg[] = "CAPRELLO_GUARDIAN_FFMPEG";  // the program and its recording,
constexpr char kGuardianFile[] = "CAPRELLO_GUARDIAN_FILE";      // for the copy into an ordinary MP4

// Waits on FFmpeg's pidfd and the lifeline; when the lifeline breaks first, the
// program is dead: `finish` runs.
template <typename Finish>
void watch(int ffmpeg, int lifeline, Finish finish)
{
    pollfd fds[2] = {{ffmpeg, POLLIN, 0}, {lifeline, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    if (!(fds[0].revents & POLLIN))
        finish();
}

// The guardian: this program's file run again (in the tests, the test's) with its
// task in the environment. It holds nothing but a pidfd of FFmpeg (descriptor 3),
// which names that one process even after its pid is reused, the read end of
// the lifeline (4), whose write end only the program holds, and on Wayland a
// pidfd of the process feeding FFmpeg the screen (5); none of the program's
// memory. It does its task before main() and never reaches it, in a child of its
// own, so that the program need not wait for it nor reap it.
const bool g_guardianDone = [] {
    const char *ffmpeg = ::getenv(kGuardianTask);
    if (!ffmpeg)
        return false;
    if (::fork() != 0)
        ::_exit(0);
    watch(3, 4, [ffmpeg] {
        // A pause's mute would be kept by the sound server for FFmpeg's next streams.
        PulseAudio::setRecordingMuted(QByteArray(ffmpeg).toLongLong(), false);
        finishRecording(3, ::fcntl(5, F_GETFD) != -1 ? 5 : -1);
        // Also after FFmpeg had to be killed: the copy keeps what the fragments hold.
        const QString file = qEnvironmentVariable(kGuardianFile);
        if (RecordingFinish::wanted(file))
            RecordingFinish::finishNow(qEnvironmentVariable(kGuardianFfmpeg), file, RecordingFinish::kTimeoutMs);
    });
    ::_exit(0);
}();

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

} // namespace

namespace Platform {

std::optional<CaptureBackend> captureBackend()
{
    // x11grab on a Wayland desktop sees only XWayland's black root window.
    if (ScreenFeed::available())
        return CaptureBackend::PortalPulse;
    // x11grab catches up after a pause with every frame the pause had, back to back.
    return ScreenFeed::availableOnX() ? CaptureBackend::X11Feed : CaptureBackend::X11Pulse;
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

void processStarted(QProcess *process, QProcess *feeder)
{
    // Created once; the write end stays open, unused, until the program ends, and
    // no child inherits it, so its read end breaks exactly when the program dies.
    static int lifeline[2] = {-1, -1};
    static const bool haveLifeline = ::pipe2(lifeline, O_CLOEXEC) == 0;
    // FFmpeg is our unreaped child here, so its pid still names it.
    const int ffmpeg = int(::syscall(SYS_pidfd_open, pid_t(process->processId()), 0));
    const int feeding = feeder ? int(::syscall(SYS_pidfd_open, pid_t(feeder->processId()), 0)) : -1;
    if (!haveLifeline || ffmpeg < 0) {
        qWarning() << "FFmpeg has no guardian: if the program dies, the recording is not finished.";
        for (int fd : {ffmpeg, feeding}) {
            if (fd >= 0)
                ::close(fd);
        }
        return;
    }
    QList<QByteArray> strings = {QByteArray(kGuardianTask) + '=' + QByteArray::number(process->processId()),
                                 QByteArray(kGuardianFfmpeg) + '=' + QFile::encodeName(process->program()),
                                 QByteArray(kGuardianFile) + '=' + QFile::encodeName(process->arguments().value(
                                         process->arguments().size() - 1))};
    for (char **variable = environ; *variable; ++variable)
        strings.append(*variable);
    std::vector<char *> environment;
    for (QByteArray &string : strings)
        environment.push_back(string.data());
    environment.push_back(nullptr);
    // Spawned, not forked: a fork would copy this large process and slow its other threads.
    // Descriptors 3 to 5 come from copies above 5, so that none is already in place.
    const int pidfd = ::fcntl(ffmpeg, F_DUPFD_CLOEXEC, 6), life = ::fcntl(lifeline[0], F_DUPFD_CLOEXEC, 6);
    const int feedfd = feeding >= 0 ? ::fcntl(feeding, F_DUPFD_CLOEXEC, 6) : -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, 0, 2);
    posix_spawn_file_actions_adddup2(&actions, pidfd, 3);
    posix_spawn_file_actions_adddup2(&actions, life, 4);
    if (feedfd >= 0)
        posix_spawn_file_actions_adddup2(&actions, feedfd, 5);
    // All else goes, above all FFmpeg's error pipe: a copy held there would fill up unread and block it.
    posix_spawn_file_actions_addclosefrom_np(&actions, feedfd >= 0 ? 6 : 5);
    char program[] = "caprello";
    char *argv[] = {program, nullptr};
    pid_t guardian = 0;
    const bool spawned = pidfd >= 0 && life >= 0
            && ::posix_spawn(&guardian, "/proc/self/exe", &actions, nullptr, argv, environment.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {ffmpeg, pidfd, life, feeding, feedfd}) {
        if (fd >= 0)
            ::close(fd);
    }
    if (!spawned)
        qWarning() << "FFmpeg has no guardian: if the program dies, the recording is not finished.";
    else
        ::waitpid(guardian, nullptr, 0);  // it leaves at once, its child stands guard
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
