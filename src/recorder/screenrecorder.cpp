#include "screenrecorder.h"

#include "devicechoice.h"
#include "platform/platform.h"
#include "worker/recorderworker.h"
#include "worker/workerreports.h"

#include <QDebug>
#include <QThread>
#include <QtGlobal>

ScreenRecorder::ScreenRecorder(QObject *parent)
    : QObject(parent)
    , m_workerThread(new QThread(this))
    , m_worker(new RecorderWorker)
{
    m_worker->moveToThread(m_workerThread);

    connect(m_worker, &RecorderWorker::recordingStarted, this, &ScreenRecorder::onRecordingStarted);
    connect(m_worker, &RecorderWorker::recordingFinished, this, &ScreenRecorder::onRecordingFinished);
    connect(m_worker, &RecorderWorker::errorOccurred, this, &ScreenRecorder::onError);
    connect(this, &ScreenRecorder::startWorkerRecording, m_worker, &RecorderWorker::doRecord);
    connect(this, &ScreenRecorder::stopWorkerRecording, m_worker, &RecorderWorker::doStop);
    connect(this, &ScreenRecorder::pauseWorkerRecording, m_worker, &RecorderWorker::doPause);
    connect(this, &ScreenRecorder::resumeWorkerRecording, m_worker, &RecorderWorker::doResume);

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
    emit isRecordingChanged();
}

void ScreenRecorder::setIsPaused(bool paused)
{
    if (paused == m_isPaused)
        return;
    m_isPaused = paused;
    emit isPausedChanged();
}

void ScreenRecorder::startRecording(const QString &mode, int x, int y, int w, int h)
{
    // A double click on START must not send a second order before the first is confirmed.
    if (m_isRecording || m_startPending)
        return;
    m_micDevice.clear();
    m_speakerDevice.clear();

    qDebug() << "Start Recording Requested. Mode:" << mode << " Area:" << w << "x" << h << "at" << x << "," << y;

    const QString extension = mode.trimmed().compare(QLatin1String("MP3 only"), Qt::CaseInsensitive) == 0
            ? QStringLiteral(".mp3")
            : QStringLiteral(".mp4");

    const Platform::AudioInputs devices = Platform::audioInputs();
    const DeviceChoice::Choice choice = DeviceChoice::choose(devices.inputs, devices.defaultInput);
    m_micDevice = choice.mic.description;
    m_speakerDevice = choice.speaker.description;
    if (!choice.speakerFound)
        qWarning("WARNING: 'Stereo Mix' not found! System audio cannot be recorded.");
    qDebug() << "Dynamic Mic Found:" << m_micDevice;
    qDebug() << "Dynamic Speaker Found:" << m_speakerDevice;

    const QString fileName = recordingFilePath(saveDirectoryPath(), QDateTime::currentDateTime(), extension);

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
}

void ScreenRecorder::onRecordingFinished()
{
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
    m_startPending = false;
    setIsRecording(false);
    setIsPaused(false);
}
