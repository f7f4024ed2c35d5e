// The one object the window drives: recording state, gains, the recordings list,
// and the worker thread in which FFmpeg is run and supervised.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariantList>

class QThread;
class QTimer;
class RecorderWorker;

class ScreenRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList fileList READ fileList NOTIFY fileListChanged FINAL)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged FINAL)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged FINAL)
    Q_PROPERTY(double micVolume READ micVolume WRITE setMicVolume NOTIFY micVolumeChanged FINAL)
    Q_PROPERTY(double speakerVolume READ speakerVolume WRITE setSpeakerVolume NOTIFY speakerVolumeChanged FINAL)
    // The information bar: the recordings folder (native separators), the free
    // space of its volume and the hours of recording that fit in it.
    Q_PROPERTY(QString saveFolder READ saveFolder NOTIFY storageInfoChanged FINAL)
    Q_PROPERTY(QString spaceText READ spaceText NOTIFY storageInfoChanged FINAL)
    Q_PROPERTY(QString predictText READ predictText NOTIFY storageInfoChanged FINAL)
    // What the file holds so far, from FFmpeg's own progress: "Starting..." until its
    // first report, then "m:ss" ("h:mm:ss" from an hour on), "Paused"; empty when idle.
    Q_PROPERTY(QString clockText READ clockText NOTIFY clockTextChanged FINAL)
    // The last thing the user must know, in plain words, until the next start.
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged FINAL)

public:
    explicit ScreenRecorder(QObject *parent = nullptr);
    ~ScreenRecorder() override;

    QVariantList fileList() const { return m_fileList; }
    bool isRecording() const { return m_isRecording; }
    bool isPaused() const { return m_isPaused; }
    double micVolume() const { return m_micVolume; }
    double speakerVolume() const { return m_speakerVolume; }
    QString saveFolder() const { return m_saveFolder; }
    QString spaceText() const { return m_spaceText; }
    QString predictText() const { return m_predictText; }
    QString clockText() const { return m_clockText; }
    QString statusText() const { return m_statusText; }

    void setMicVolume(double volume);
    void setSpeakerVolume(double volume);

    // The recordings folder, "ScreenRecordings" on the desktop; created when missing.
    static QString saveDirectoryPath();
    static QString formatFileSize(qint64 bytes);
    // "rec_<yyyy-MM-dd_HH-mm-ss><extension>" in `directory`, or "rec_<stamp>_2<extension>",
    // "_3", ... when that name is taken, so that no recording overwrites another.
    static QString recordingFilePath(const QString &directory, const QDateTime &start, const QString &extension);
    void refreshFileList();
    // Returns the free bytes of the recordings volume, -1 when unknown.
    qint64 refreshStorageInfo();

    Q_INVOKABLE void openSaveDirectory();

signals:
    void fileListChanged();
    void isRecordingChanged();
    void isPausedChanged();
    void micVolumeChanged();
    void speakerVolumeChanged();
    void storageInfoChanged();
    void clockTextChanged();
    void statusTextChanged();
    void stopWorkerRecording();
    void pauseWorkerRecording();
    void resumeWorkerRecording();
    void startWorkerRecording(const QString &fileName, const QString &micDevice,
                              const QString &speakerDevice, double micVolume, double speakerVolume,
                              const QString &mode, int x, int y, int w, int h);

public slots:
    void startRecording(const QString &mode, int x = 0, int y = 0, int w = 0, int h = 0);
    void stopRecording();
    void pauseRecording();
    void resumeRecording();
    void onRecordingStarted();
    void onRecordingFinished();
    void onError(const QString &error);
    void onProgressReported(qint64 recordedMs);
    void onFailureExplained(int exitCode, const QString &lastLine, bool killed);
    void onFileFinished();

private:
    void setIsRecording(bool recording);
    void setIsPaused(bool paused);
    void setStatusText(const QString &text);
    void updateClock();
    void watchDiskSpace();

    QVariantList m_fileList;
    bool m_isRecording = false;
    bool m_isPaused = false;
    // A start order is on its way to the worker and not yet confirmed or refused.
    bool m_startPending = false;
    double m_micVolume = 1.0;
    double m_speakerVolume = 1.0;
    QThread *m_workerThread = nullptr;
    RecorderWorker *m_worker = nullptr;
    QTimer *m_diskWatch = nullptr;
    QString m_recordingFile;  // of the current recording
    bool m_stoppedForSpace = false;
    QString m_micDevice;
    QString m_speakerDevice;
    QString m_saveFolder;
    QString m_spaceText;
    QString m_predictText;
    qint64 m_recordedMs = -1;  // -1: FFmpeg has not reported any time yet
    QString m_clockText;
    QString m_statusText;
    // From the worker, right before an error that ends FFmpeg.
    int m_failureExitCode = 0;
    QString m_failureLine;
    bool m_failureKilled = false;
};
