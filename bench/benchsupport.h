// Shared by the benchmarks: statistics, the result table, a home folder of their
// own, FFmpeg's progress as the program logs it, /proc readings and ffprobe.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <vector>

namespace Bench {

struct Options {
    bool quick = false;
};

// ---- statistics -------------------------------------------------------------

double median(std::vector<double> v);
double percentile(std::vector<double> v, double p);  // nearest rank, p in [0, 100]
double maximum(const std::vector<double> &v);
QString ms(double value, int decimals = 1);

// ---- the table every benchmark prints ------------------------------------------

class Table
{
public:
    Table(const QString &title, const QString &programColumn, const QString &referenceColumn);
    // A row without a verdict (context figures).
    void info(const QString &what, const QString &program, const QString &reference = QString());
    // A row with a goal: PASS when `met`, else MISS.
    void goal(const QString &what, const QString &program, const QString &reference, const QString &goal, bool met);
    void note(const QString &text);
    void print() const;
    int misses() const { return m_misses; }

private:
    QString m_title;
    QStringList m_header;
    QList<QStringList> m_rows;
    QStringList m_notes;
    int m_misses = 0;
};

// ---- environment ----------------------------------------------------------

// HOME pointed at a fresh temporary folder (recordings land in its
// Desktop/ScreenRecordings); removed with the object.
class PrivateHome
{
public:
    PrivateHome();
    QString path() const { return m_dir.path(); }
    QString recordings() const;

private:
    QTemporaryDir m_dir;
};

void useFakeFfmpeg();
void useRealFfmpeg();

// ---- FFmpeg's error output, as the program's worker logs it ----------------------

// Installs a message handler that keeps what the worker logs as "[ffmpeg]: ..."
// (the furthest "time=" and the text tail) and writes every message to `logFile`
// (as the program writes them to its error output), not to the terminal.
void installFfmpegLogWatch(const QString &logFile);
void resetFfmpegLog();
int ffmpegProgressMs();         // furthest output time reported so far
QString ffmpegLogTail();        // the last few KB of what FFmpeg wrote
int ffmpegLogMessages();        // "[ffmpeg]: ..." messages so far

// Keeps the messages of one logging category (e.g. Qt's own frame timings) while on.
void captureCategory(const QByteArray &category, bool on);
QStringList capturedMessages();  // and forgets them

// The furthest "time=hh:mm:ss.cc" in `text`, in ms; -1 when none.
int progressMs(const QString &text);

// The counts of FFmpeg's last progress line ("frame= ... dup= drop= ...").
struct FinalStats {
    bool found = false;
    qint64 frames = 0;
    qint64 dup = 0;   // FFmpeg prints dup/drop only once one of them is non-zero
    qint64 drop = 0;
};
FinalStats finalStats(const QString &stderrText);

// ---- the same FFmpeg by hand ---------------------------------------------------

// The absolute ffmpeg the program would run (the first on PATH).
QString ffmpegProgram();
// What the program gives FFmpeg for "Full" with the test desktop's devices.
QStringList fullArguments(const QString &outputFile);

// A QProcess running FFmpeg as a person would: started, its error output read
// as it comes (kept, and its progress followed), stopped with "q".
class HandFfmpeg : public QObject
{
    Q_OBJECT
public:
    explicit HandFfmpeg(QObject *parent = nullptr);
    void start(const QString &program, const QStringList &args);
    QProcess &process() { return m_process; }
    int progressMs() const { return m_progressMs; }
    QString errorText() const { return m_stderr; }

private:
    QProcess m_process;
    QString m_stderr;
    int m_progressMs = -1;
};

// ---- waiting without polling delays -------------------------------------------

// Runs the event loop until `done` holds (checked every `pollMs`) or the time-out.
bool waitUntil(const std::function<bool()> &done, int timeoutMs, int pollMs = 5);

// Connects to `signal` of `sender`, runs `action`, then runs the event loop until
// the signal fires with `accept()` true; the nanosecond stamp of that moment (on
// `clock`) goes to *stampNs. The stamp is taken in the slot itself, so no polling
// interval is added. False on time-out.
template <typename Sender, typename Signal>
bool waitForSignal(Sender *sender, Signal signal, const std::function<bool()> &accept,
                   const std::function<void()> &action, const QElapsedTimer &clock, qint64 *stampNs,
                   int timeoutMs)
{
    QEventLoop loop;
    bool fired = false;
    const QMetaObject::Connection c = QObject::connect(sender, signal, &loop, [&] {
        if (fired || !accept())
            return;
        fired = true;
        *stampNs = clock.nsecsElapsed();
        loop.quit();
    });
    action();
    if (!fired) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QObject::disconnect(c);
    return fired;
}

// ---- /proc --------------------------------------------------------------------

// utime + stime of a process (clock ticks), -1 when it cannot be read.
qint64 cpuTicks(qint64 pid);
qint64 selfCpuTicks();
double ticksToMs(qint64 ticks);
// The running child process of this process with that command name, 0 if none.
qint64 childPid(const QString &comm);

// ---- ffprobe -----------------------------------------------------------------

struct ProbeResult {
    bool ok = false;
    qint64 videoFrames = 0;
    double videoDuration = 0;
    double audioDuration = 0;
    double fps() const { return videoDuration > 0 ? videoFrames / videoDuration : 0; }
};
ProbeResult probe(const QString &file);

} // namespace Bench
