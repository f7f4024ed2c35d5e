#include "screenrecorder.h"

#include "worker/recorderworker.h"

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
    setIsRecording(true);
    setIsPaused(false);
}

void ScreenRecorder::onRecordingFinished()
{
    setIsRecording(false);
    setIsPaused(false);
    refreshFileList();
}

void ScreenRecorder::onError(const QString &error)
{
    qWarning() << "WORKER ERROR:" << error;
    setIsRecording(false);
    setIsPaused(false);
}
