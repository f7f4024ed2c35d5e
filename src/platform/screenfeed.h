// Wayland: the screen comes from the desktop's ScreenCast portal; on X, from the X
// server through GStreamer's ximagesrc. A GStreamer process reads the screen and
// writes raw frames into a pipe whose read end FFmpeg inherits, so FFmpeg's
// standard input still takes "q". It hands over only the newest frame, so after a
// pause it goes on with the screen as it is, without the frames the pause had.
// One implementation on Linux (screenfeed_unix.cpp); elsewhere none is started.
#pragma once

#include <QString>
#include <QStringList>

class QObject;
class QProcess;
class QTimer;

class ScreenFeed
{
public:
    enum class Outcome { Started, Cancelled, Failed };
    // The frames' rate, which FFmpeg is told as well.
    static constexpr int kFramesPerSecond = 30;

    ScreenFeed() = default;
    ~ScreenFeed();
    ScreenFeed(const ScreenFeed &) = delete;
    ScreenFeed &operator=(const ScreenFeed &) = delete;

    // True on a Wayland session whose desktop offers the ScreenCast portal.
    static bool available();
    // True where GStreamer can read an X screen (gst-launch-1.0 and ximagesrc).
    static bool availableOnX();

    // Asks the desktop for its screen and starts GStreamer. The desktop may show its
    // dialog first, so this waits for the user (once per run of the program: the
    // permission is kept in memory). The process is a child of `parent`.
    Outcome start(QObject *parent);
    // Starts GStreamer on the X display `display`'s screen instead.
    Outcome startOnX(QObject *parent, const QString &display);
    // Why a start failed, in words for the window ("the desktop could not share it.").
    QString failure() const { return m_failure; }

    // What FFmpeg reads: the descriptor, the frames' size and where the shared
    // screen starts on the desktop.
    int pipe() const { return m_readEnd; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int originX() const { return m_originX; }
    int originY() const { return m_originY; }

    // Before FFmpeg starts: it inherits the pipe's read end. After: ours is closed,
    // so that FFmpeg alone holds it and GStreamer sees its end when FFmpeg ends.
    void prepareFfmpeg(QProcess *ffmpeg);
    void ffmpegStarted();

    // The GStreamer process, for the guardian and for its end; null before a start.
    QProcess *process() const { return m_process; }

    // Before FFmpeg's pause: GStreamer stops too, so that nothing shown during the
    // pause waits in it to be written after. On X, with FFmpeg running (`ffmpeg`, a
    // pid; 0: stopped), it first grabs a last frame and returns once FFmpeg has read it
    // (some 50 ms). Resumed before FFmpeg is. On X a stop is kept only once the X
    // server answers (see pause()).
    void pause(qint64 ffmpeg);
    void resume();

    // Once FFmpeg has been told to stop: GStreamer ends its stream (FFmpeg needs no
    // more frames, and a stalled stream must not keep FFmpeg's frames reader waiting).
    // One that has not ended within kEndOfStreamMs is killed: its stream can stall
    // for good when the desktop's share goes, and FFmpeg cannot finish before it ends.
    void endStream();
    static constexpr int kEndOfStreamMs = 1000;

    // After FFmpeg has ended: GStreamer ends, the portal session closes.
    void finish();

private:
    // Runs `gstreamer` with `source` in front of the common pipeline; `remoteFd`, when
    // not -1, is inherited by it.
    Outcome startPipeline(QObject *parent, const QString &gstreamer, const QStringList &source, int remoteFd);
    // While paused on X: a GStreamer found holding the X server runs again, and is stopped anew.
    void keepTheDesktop();
    // GStreamer, stopped while it held the X server, runs again; waits for the server's
    // answer to the question it had not answered (an xcb_get_input_focus_cookie_t).
    void letRun(struct xcb_get_input_focus_cookie_t unanswered);

    QString m_failure;
    QString m_session;          // the portal session's object path
    QProcess *m_process = nullptr;
    int m_readEnd = -1;
    unsigned long long m_pipeInode = 0;  // the pipe, as FFmpeg's descriptors name it
    int m_width = 0;
    int m_height = 0;
    int m_originX = 0;
    int m_originY = 0;
    bool m_paused = false;
    struct xcb_connection_t *m_x = nullptr;  // on X: to see that the server answers
    QTimer *m_watch = nullptr;               // ... while paused
};
