// Runs and supervises one FFmpeg process at a time. Lives in the controller's
// worker thread; every request arrives as a queued slot call, every report
// leaves as a signal.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

class ScreenFeed;

class RecorderWorker : public QObject
{
    Q_OBJECT

public:
    explicit RecorderWorker(QObject *parent = nullptr);
    ~RecorderWorker() override;

signals:
    void recordingStarted();
    void recordingFinished();
    // A recording reported finished has become an ordinary MP4, or stays fragmented.
    void fileFinished();
    void errorOccurred(QString error);
    // Beside the reports above, for the window: how much FFmpeg has recorded (the
    // time= of its status line), and, right before an end reported as an error,
    // its exit code, FFmpeg's last line of its own and whether the stop had to kill it.
    void progressReported(qint64 recordedMs);
    void failureExplained(int exitCode, QString lastLine, bool killed);

public slots:
    void doRecord(const QString &fileName, const QString &micDevice, const QString &speakerDevice,
                  double micVolume, double speakerVolume, const QString &mode,
                  int x, int y, int w, int h);
    void doStop();
    void doPause();
    void doResume();

private slots:
    void onFFMPEGReadyReadError();
    void onFFMPEGFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onFeedFinished();
    void onCopyFinished();

private:
    // Takes FFmpeg's progress and its last line that explains a failure from whole lines.
    void readErrorLines(const QString &lines);
    // Writes "q", waits, kills on time-out; returns true when the process ended in time.
    bool sendStopCommand(QProcess *proc);
    // Copies a fragmented recording into an ordinary MP4 beside the next recording.
    void startCopy(const QString &ffmpeg, const QString &recording);

    // The FFmpeg of the current recording; null while the worker is free.
    QProcess *m_process = nullptr;
    // Wayland: what feeds that FFmpeg the screen; null elsewhere and without a screen.
    std::unique_ptr<ScreenFeed> m_feed;
    // Of the current recording: FFmpeg's last whole line that is neither a status
    // line nor part of what it prints while closing, and whether the stop killed it.
    QString m_lastLine;
    QString m_partialLine;  // output after the last line's end, not yet a line
    bool m_killed = false;
    // Since the last PAUSE; invalid while running.
    QElapsedTimer m_pausedFor;
    // FFmpegs copying finished recordings into ordinary MP4s; each knows its recording.
    QList<QProcess *> m_copiers;
};
