#include "screenrecorder.h"

#include "devicechoice.h"
#include "storageestimate.h"
#include "platform/platform.h"
#include "worker/recorderworker.h"
#include "platform/recordingfinish.h"
#include "worker/workerreports.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QtGlobal>

ScreenRecorder::ScreenRecorder(QObject *parent)
    : QObject(parent)
    , m_workerThread(new QThread(this))
    , m_worker(new RecorderWorker)
    , m_diskWatch(new QTimer(this))
{
    m_diskWatch->setInterval(1000);
    connect(m_diskWatch, &QTimer::timeout, this, &ScreenRecorder::watchDiskSpace);
    connect(m_worker, &RecorderWorker::fileFinished, this, &ScreenRecorder::onFileFinished);
    m_worker->moveToThread(m_workerThread);

    connect(m_worker, &RecorderWorker::recordingStarted, this, &ScreenRecorder::onRecordingStarted);
    connect(m_worker, &RecorderWorker::recordingFinished, this, &ScreenRecorder::onRecordingFinished);
    connect(m_worker, &RecorderWorker::errorOccurred, this, &ScreenRecorder::onError);
    connect(m_worker, &RecorderWorker::progressReported, this, &ScreenRecorder::onProgressReported);
    connect(m_worker, &RecorderWorker::failureExplained, this, &ScreenRecorder::onFailureExplained);
    connect(this, &ScreenRecorder::startWorkerRecording, m_worker, &RecorderWorker::doRecord);
    connect(this, &ScreenRecorder::stopWorkerRecording, m_worker, &RecorderWorker::doStop);
    connect(this, &ScreenRecorder::pauseWorkerRecording, m_worker, &RecorderWorker::doPause);
    connect(this, &ScreenRecorder::resumeWorkerRecording, m_worker, &RecorderWorker::doResume);

    // What records the screen is looked up once before START, not after it (on X it
    // asks GStreamer, a process).
    connect(m_workerThread, &QThread::started, m_worker, [] { Platform::captureBackend(); });
    m_workerThread->start();
    refreshFileList();
    refreshStorageInfo();
}

ScreenRecorder::~ScreenRecorder()
{
    m_workerThread->quit();
    m_workerThread->wait();
    // Runs in this thread now that the worker thread has ended; stops a running FFmpeg.
    delete m_worker;
}

void ScreenRecorder::setMicVolume(double volume)
{
    if (qFuzzyCompare(volume, m_micVolume))
        return;
    m_micVolume = volume;
    emit micVolumeChanged();
}

void ScreenRecorder::setSpeakerVolume(double volume)
{
    if (qFuzzyCompare(volume, m_speakerVolume))
        return;
    m_speakerVolume = volume;
    emit speakerVolumeChanged();
}

void ScreenRecorder::setIsRecording(bool recording)
{
    if (recording == m_isRecording)
        return;
    m_isRecording = recording;
    m_recordedMs = -1;
    emit isRecordingChanged();
    updateClock();
}

void ScreenRecorder::setIsPaused(bool paused)
{
    if (paused == m_isPaused)
        return;
    m_isPaused = paused;
    emit isPausedChanged();
    updateClock();
}

void ScreenRecorder::setStatusText(const QString &text)
{
    if (text == m_statusText)
        return;
    m_statusText = text;
    if (!text.isEmpty())
        qInfo().noquote() << "Status:" << text;
    emit statusTextChanged();
}

void ScreenRecorder::updateClock()
{
    QString clock;
    if (m_isRecording && m_isPaused) {
        clock = QStringLiteral("Paused");
    } else if (m_isRecording && m_recordedMs < 0) {
        clock = QStringLiteral("Starting...");
    } else if (m_isRecording) {
        const qint64 s = m_recordedMs / 1000;
        clock = s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                                    .arg(s % 60, 2, 10, QLatin1Char('0'))
                          : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    if (clock == m_clockText)
        return;
    m_clockText = clock;
    emit clockTextChanged();
}

void ScreenRecorder::onProgressReported(qint64 recordedMs)
{
    if (!m_isRecording)
        return;
    m_recordedMs = recordedMs;
    updateClock();
}

void ScreenRecorder::onFailureExplained(int exitCode, const QString &lastLine, bool killed)
{
    m_failureExitCode = exitCode;
    m_failureLine = lastLine;
    m_failureKilled = killed;
}

void ScreenRecorder::startRecording(const QString &mode, int x, int y, int w, int h)
{
    // A double click on START must not send a second order before the first is confirmed.
    if (m_isRecording || m_startPending)
        return;
    m_micDevice.clear();
    m_speakerDevice.clear();
    m_failureLine.clear();
    m_failureKilled = false;
    m_stoppedForSpace = false;
    setStatusText({});

    qDebug() << "Start Recording Requested. Mode:" << mode << " Area:" << w << "x" << h << "at" << x << "," << y;

    // FFmpeg would only fail after its start; say so before anything runs.
    const QFileInfo folder(saveDirectoryPath());
    if (!folder.isDir() || !folder.isWritable()) {
        qWarning() << "Recordings folder cannot be written:" << folder.filePath();
        setStatusText(QStringLiteral("The recordings folder cannot be written: %1")
                              .arg(QDir::toNativeSeparators(folder.filePath())));
        return;
    }

    const QString extension = mode.trimmed().compare(QLatin1String("MP3 only"), Qt::CaseInsensitive) == 0
            ? QStringLiteral(".mp3")
            : QStringLiteral(".mp4");

    const Platform::AudioInputs devices = Platform::audioInputs();
    const DeviceChoice::Choice choice = DeviceChoice::choose(devices.inputs, devices.defaultInput);
    m_micDevice = choice.mic.description;
    m_speakerDevice = choice.speaker.description;
    if (!choice.speakerFound) {
        qWarning("WARNING: 'Stereo Mix' not found! System audio cannot be recorded.");
        setStatusText(QStringLiteral("No system-sound input was found: only the microphone is recorded."));
    }
    qDebug() << "Dynamic Mic Found:" << m_micDevice;
    qDebug() << "Dynamic Speaker Found:" << m_speakerDevice;

    const QString fileName = recordingFilePath(folder.filePath(), QDateTime::currentDateTime(), extension);

    m_recordingFile = fileName;
    m_startPending = true;
    emit startWorkerRecording(fileName, choice.mic.name, choice.speaker.name, m_micVolume, m_speakerVolume,
                              mode, x, y, w, h);
}

void ScreenRecorder::stopRecording()
{
    if (m_isRecording)
        emit stopWorkerRecording();
}

void ScreenRecorder::pauseRecording()
{
    if (!m_isRecording || m_isPaused)
        return;
    setIsPaused(true);
    emit pauseWorkerRecording();
}

void ScreenRecorder::resumeRecording()
{
    if (!m_isRecording || !m_isPaused)
        return;
    setIsPaused(false);
    emit resumeWorkerRecording();
}

void ScreenRecorder::onRecordingStarted()
{
    m_startPending = false;
    setIsRecording(true);
    setIsPaused(false);
    m_diskWatch->start();
}

namespace {
QString diskFullText()
{
    return QStringLiteral("The disk is full: the recording was stopped and saved.");
}
} // namespace

// Stops while the file can still be finished: an MP4 whose disk fills up keeps
// only its last whole fragment, and its finishing copy needs room of its own.
void ScreenRecorder::watchDiskSpace()
{
    const qint64 freeBytes = refreshStorageInfo();
    const qint64 finishBytes = RecordingFinish::wanted(m_recordingFile) ? QFileInfo(m_recordingFile).size() : 0;
    if (!m_isRecording || m_stoppedForSpace || StorageEstimate::roomToGoOn(freeBytes, finishBytes))
        return;
    qWarning() << "Only" << freeBytes << "bytes left on the recordings volume: stopping.";
    m_stoppedForSpace = true;
    setStatusText(diskFullText());
    emit stopWorkerRecording();
}

void ScreenRecorder::onFileFinished()
{
    refreshFileList();
    refreshStorageInfo();
}

void ScreenRecorder::onRecordingFinished()
{
    m_diskWatch->stop();
    m_startPending = false;
    setIsRecording(false);
    setIsPaused(false);
    refreshFileList();
    refreshStorageInfo();
}

void ScreenRecorder::onError(const QString &error)
{
    qWarning() << "WORKER ERROR:" << error;
    // FFmpeg reports some errors and records on (PulseAudio prints
    // "pa_stream_get_latency() failed" after every resume): while it runs, the
    // window must keep offering STOP. Only a report that FFmpeg is gone ends it.
    if (!WorkerReports::endsProcess(error))
        return;
    if (error == WorkerReports::failedToStart()) {
        setStatusText(Platform::ffmpegProgram().isEmpty()
                              ? QStringLiteral("FFmpeg was not found. Caprello looks for it %1.").arg(Platform::ffmpegSearchPlaces())
                              : QStringLiteral("FFmpeg could not be started."));
    } else if (m_stoppedForSpace || m_failureLine.contains(QLatin1String("No space left on device"))) {
        // The fragments that reached the disk play.
        setStatusText(diskFullText());
    } else if (m_failureKilled) {
        setStatusText(QStringLiteral("FFmpeg did not answer STOP and was ended after 5 seconds: the recording may not play."));
    } else if (WorkerReports::isExit(error)) {
        setStatusText(QStringLiteral("The recording failed: FFmpeg ended with code %1%2")
                              .arg(QString::number(m_failureExitCode),
                                   m_failureLine.isEmpty() ? QStringLiteral(".") : QStringLiteral(" (%1).").arg(m_failureLine)));
    } else {
        setStatusText(error);
    }
    m_diskWatch->stop();
    m_startPending = false;
    setIsRecording(false);
    setIsPaused(false);
    // A failed MP4 still plays up to its last fragment.
    refreshFileList();
    refreshStorageInfo();
}
