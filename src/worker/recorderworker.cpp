#include "recorderworker.h"

#include "ffmpegcommand.h"
#include "platform/platform.h"
#include "platform/screenfeed.h"
#include "platform/recordingfinish.h"
#include "workerreports.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QMetaType>
#include <QRegularExpression>
#include <QThread>

#include <utility>

namespace {
constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 5000;
// FFmpeg's filters tell a pause by its stall (see FfmpegCommand): a shorter one
// would stay in the file.
constexpr int kShortestPauseMs = 500;
// FFmpeg reads its sound a little behind (the server hands it over in blocks), and
// "q" leaves unread whatever it has not taken in yet: 0 to 0.1 s of the last sound
// before STOP, measured. It gets that long to read it.
constexpr int kStopGraceMs = 50;
constexpr char kRecording[] = "caprelloRecording";

bool endedWell(const QProcess *process)
{
    return process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
}

QString outputOf(const QProcess *process)
{
    return process->arguments().value(process->arguments().size() - 1);
}
}

RecorderWorker::RecorderWorker(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<QProcess::ExitStatus>("QProcess::ExitStatus");
}

RecorderWorker::~RecorderWorker()
{
    // The worker thread's event loop is gone and the controller is being torn
    // down: finish the files, but report nothing to anyone.
    for (QProcess *copier : std::as_const(m_copiers)) {
        copier->disconnect(this);
        const bool copied = copier->waitForFinished(RecordingFinish::kTimeoutMs) && endedWell(copier);
        copier->kill();
        copier->waitForFinished(1000);
        RecordingFinish::settle(copier->property(kRecording).toString(), copied);
    }
    if (!m_process)
        return;
    QProcess *proc = m_process;
    m_process = nullptr;
    proc->disconnect(this);
    const bool stopped = sendStopCommand(proc);
    if (!stopped)
        proc->waitForFinished(1000); // reap the killed process before it is destroyed
    m_feed.reset();
    if (!RecordingFinish::wanted(outputOf(proc)))
        return;
    if (stopped && endedWell(proc))
        RecordingFinish::finishNow(proc->program(), outputOf(proc), RecordingFinish::kTimeoutMs);
    else
        RecordingFinish::keepWholeFragments(outputOf(proc));
}

void RecorderWorker::doRecord(const QString &fileName, const QString &micDevice,
                              const QString &speakerDevice, double micVolume,
                              double speakerVolume, const QString &mode,
                              int x, int y, int w, int h)
{
    if (m_process) {
        emit errorOccurred(WorkerReports::alreadyRunning());
        return;
    }
    const std::optional<Platform::CaptureBackend> backend = Platform::captureBackend();
    if (!backend) {
        emit errorOccurred(WorkerReports::unsupportedPlatform());
        return;
    }

    FfmpegCommand::Screen screen{Platform::screenName()};
    const bool fed = *backend == Platform::CaptureBackend::PortalPulse || *backend == Platform::CaptureBackend::X11Feed;
    if (fed && FfmpegCommand::variantForMode(mode) != FfmpegCommand::Variant::AudioOnly) {
        // May wait for the desktop's dialog.
        m_feed = std::make_unique<ScreenFeed>();
        const ScreenFeed::Outcome outcome = *backend == Platform::CaptureBackend::X11Feed
                ? m_feed->startOnX(this, screen.display) : m_feed->start(this);
        if (outcome != ScreenFeed::Outcome::Started) {
            const QString why = m_feed->failure();
            qWarning() << "No screen to record:" << why;
            m_feed.reset();
            emit errorOccurred(outcome == ScreenFeed::Outcome::Cancelled ? WorkerReports::screenNotShared()
                                                                        : WorkerReports::noScreen(why));
            return;
        }
        screen = {QString(), m_feed->pipe(), m_feed->width(), m_feed->height(), m_feed->originX(), m_feed->originY()};
        connect(m_feed->process(), &QProcess::finished, this, &RecorderWorker::onFeedFinished);
    }

    m_process = new QProcess(this);
    m_lastLine.clear();
    m_partialLine.clear();
    m_killed = false;
    // Never read; unread output would pile up in memory.
    m_process->setStandardOutputFile(QProcess::nullDevice());
    Platform::prepareProcess(m_process);
    if (m_feed)
        m_feed->prepareFfmpeg(m_process);

    const QString program = Platform::ffmpegProgram();
    const QStringList args = FfmpegCommand::arguments(
            {fileName, micDevice, speakerDevice, micVolume, speakerVolume, mode, x, y, w, h,
             QDateTime::currentMSecsSinceEpoch() / 1000.0},
            *backend, screen);

    qDebug() << "Starting FFMPEG (" << mode << ") with command:";
    qDebug() << program << args.join(QLatin1Char(' '));

    connect(m_process, &QProcess::readyReadStandardError, this, &RecorderWorker::onFFMPEGReadyReadError);
    connect(m_process, &QProcess::finished, this, &RecorderWorker::onFFMPEGFinished);

    // No ffmpeg found: fail like a start that did not happen, without letting a
    // bare name reach the system's own search.
    if (!program.isEmpty())
        m_process->start(program, args, QIODevice::ReadWrite);
    if (program.isEmpty() || !m_process->waitForStarted(kStartTimeoutMs)) {
        emit errorOccurred(WorkerReports::failedToStart());
        // Not deferred: a process that was merely slow to start ends with it,
        // and nothing of it may reach the end handling.
        QProcess *proc = m_process;
        m_process = nullptr;
        proc->disconnect(this);
        delete proc;
        m_feed.reset();
        return;
    }
    if (m_feed)
        m_feed->ffmpegStarted();
    emit recordingStarted();
    // After the report: the window need not wait for what guards the recording.
    Platform::processStarted(m_process, m_feed ? m_feed->process() : nullptr);
}

bool RecorderWorker::sendStopCommand(QProcess *proc)
{
    // A paused FFmpeg took in its last sound before the pause.
    if (!m_pausedFor.isValid())
        QThread::msleep(kStopGraceMs);
    m_pausedFor.invalidate();  // the next recording starts unpaused
    qDebug() << "Sending 'q' to FFMPEG to stop gracefully...";
    proc->write("q\n");
    // In the pipe before a paused FFmpeg runs again: the first thing it does then is
    // read it, before it takes in what its inputs held through the pause.
    proc->waitForBytesWritten(1000);
    // A suspended FFmpeg cannot read "q": it would be killed and leave a file
    // without an index. Let it run, and what feeds it.
    if (m_feed)
        m_feed->resume();
    Platform::releaseProcess(proc);
    if (m_feed) {
        m_feed->process()->disconnect(this);  // its end is expected now
        m_feed->endStream();
    }
    if (proc->waitForFinished(kStopTimeoutMs))
        return true;
    qDebug() << "FFMPEG did not stop, killing process.";
    m_killed = true;
    proc->kill();
    return false;
}

void RecorderWorker::doStop()
{
    if (!m_process)
        return;
    // The end handler may run inside the wait and release m_process, hence the copy.
    sendStopCommand(m_process);
}

void RecorderWorker::doPause()
{
    if (!m_process || m_process->state() != QProcess::Running)
        return;
    qDebug().noquote() << QStringLiteral("--- PAUSING (%1) ---").arg(Platform::suspendMechanism());
    // The screen first, between two frames: FFmpeg reads the last one before it stops.
    if (m_feed)
        m_feed->pause(m_process->processId());
    Platform::suspendProcess(m_process);
    m_pausedFor.start();
}

void RecorderWorker::doResume()
{
    if (!m_process)
        return;
    if (m_pausedFor.isValid() && m_pausedFor.elapsed() < kShortestPauseMs)
        QThread::msleep(static_cast<unsigned long>(kShortestPauseMs - m_pausedFor.elapsed()));
    m_pausedFor.invalidate();
    qDebug().noquote() << QStringLiteral("--- RESUMING (%1) ---").arg(Platform::suspendMechanism());
    if (m_feed)
        m_feed->resume();
    Platform::resumeProcess(m_process);
}

void RecorderWorker::readErrorLines(const QString &lines)
{
    // Status lines ("frame=... time=00:01:02.50 bitrate=...") end in a carriage return.
    static const QRegularExpression time(QStringLiteral("time=(\\d+):(\\d\\d):(\\d\\d)\\.(\\d\\d)"));
    static const QRegularExpression lineEnd(QStringLiteral("[\r\n]"));
    // What FFmpeg prints while it closes, whatever went wrong, is never the reason: the
    // encoders and the sound's level meters only tell how it went.
    static const QRegularExpression closing(QStringLiteral(
            "^(?:Conversion failed!|Exiting|Last message repeated|video:\\d+kB audio:"
            "|\\[(?:libx264|aac|libmp3lame|Parsed_astats_\\d+) @ )"));
    qint64 recordedMs = -1;
    for (const QString &piece : lines.split(lineEnd, Qt::SkipEmptyParts)) {
        const QString line = piece.trimmed();
        const QRegularExpressionMatch m = time.match(line);
        if (m.hasMatch())
            recordedMs = ((m.captured(1).toLongLong() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) * 1000
                    + m.captured(4).toInt() * 10;
        else if (!line.isEmpty() && !closing.match(line).hasMatch())
            m_lastLine = line;
    }
    if (recordedMs >= 0)
        emit progressReported(recordedMs);
}

void RecorderWorker::onFFMPEGReadyReadError()
{
    auto *proc = qobject_cast<QProcess *>(sender());
    if (!proc)
        return;
    const QString text = QString::fromLocal8Bit(proc->readAllStandardError());
    if (text.isEmpty())
        return;
    qDebug() << "[ffmpeg]:" << text;

    // A line can come in pieces ("[libx264 @ 0x…] " and its text in two reads): only
    // whole lines are read, the rest waits for the rest of it.
    QString lines = m_partialLine + text;
    const int whole = int(qMax(lines.lastIndexOf(QLatin1Char('\n')), lines.lastIndexOf(QLatin1Char('\r')))) + 1;
    m_partialLine = lines.mid(whole);
    lines.truncate(whole);
    readErrorLines(lines);

    static const QLatin1String phrases[] = {
        QLatin1String("Unknown error"),
        QLatin1String("failed"),
        QLatin1String("Cannot find a part of the path"),
    };
    for (const QLatin1String &phrase : phrases) {
        if (lines.contains(phrase)) {  // whole lines: a phrase can come in two reads too
            emit errorOccurred(lines);
            break;
        }
    }
}

void RecorderWorker::onFeedFinished()
{
    // The desktop stopped sharing (or GStreamer died): FFmpeg would record sound only.
    if (!m_process || m_process->state() != QProcess::Running)
        return;
    qWarning() << "The screen's stream ended: finishing the recording.";
    sendStopCommand(m_process);
}

void RecorderWorker::startCopy(const QString &ffmpeg, const QString &recording)
{
    auto *copier = new QProcess(this);
    copier->setProperty(kRecording, recording);
    copier->setStandardOutputFile(QProcess::nullDevice());
    copier->setStandardErrorFile(QProcess::nullDevice());
    connect(copier, &QProcess::finished, this, &RecorderWorker::onCopyFinished);
    m_copiers.append(copier);
    copier->start(ffmpeg, RecordingFinish::arguments(recording), QIODevice::ReadOnly);
}

void RecorderWorker::onCopyFinished()
{
    auto *copier = qobject_cast<QProcess *>(sender());
    if (!copier || !m_copiers.removeOne(copier))
        return;
    RecordingFinish::settle(copier->property(kRecording).toString(), endedWell(copier));
    copier->deleteLater();
    emit fileFinished();
}

void RecorderWorker::onFFMPEGFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    qDebug() << "FFMPEG process finished.";
    // The screen's feed and the desktop's share end with FFmpeg, before anyone hears of the end.
    m_feed.reset();
    const QString output = m_process ? outputOf(m_process) : QString();
    // However it ended: its exit code does not tell of every write that failed.
    if (RecordingFinish::wanted(output))
        RecordingFinish::keepWholeFragments(output);
    if (exitStatus == QProcess::CrashExit || exitCode != 0) {
        readErrorLines(std::exchange(m_partialLine, QString()));
        emit failureExplained(exitCode, m_lastLine, m_killed);
        emit errorOccurred(WorkerReports::exited(exitCode));
    } else {
        // FFmpeg ended well, but its file can be gone (the folder deleted meanwhile): say so.
        if (!output.isEmpty() && !QFileInfo::exists(output))
            qWarning() << "FFMPEG finished, but the recording is not in its folder any more:" << output;
        else if (RecordingFinish::wanted(output))
            startCopy(m_process->program(), output);
        // The fragmented file plays already: STOP need not wait for the copy.
        emit recordingFinished();
    }

    if (m_process) {
        m_process->deleteLater();
        m_process = nullptr;
    }
}
