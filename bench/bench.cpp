// caprello_bench {start|stop|cpu|fidelity|gallery-list|gallery-frames|windows-command} [--quick]
// Benchmarks 1 to 5 (see bench/README.md): the program's own classes run in this process
// as src/app/application.cpp runs them, next to the same work done without them. Prints
// one table, the program's log on the error output; exit code 0 when every goal is met,
// 1 when one is missed, 2 on a usage error.
#include "platform/platform.h"
#include "recorder/screenrecorder.h"
#include "worker/ffmpegcommand.h"

#include <QQuickStyle>
#include <QtCore>
#include <QtQml>
#include <QtQuick>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <numeric>

#include <sys/resource.h>

namespace {

using Vec = std::vector<double>;
bool quick = false;

// ---- statistics, the table -----------------------------------------------------------

double percentile(Vec v, double p)  // nearest rank, p in [0, 100]
{
    std::sort(v.begin(), v.end());
    const double rank = std::ceil(p / 100 * double(v.size()));
    return v.empty() ? 0 : v[std::min(v.size(), size_t(std::max(rank, 1.0))) - 1];
}
double median(Vec v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
double maximum(const Vec &v) { return percentile(v, 100); }
double mean(const Vec &v) { return v.empty() ? 0 : std::accumulate(v.begin(), v.end(), 0.0) / double(v.size()); }
QString num(double v, int decimals = 1) { return QString::number(v, 'f', decimals); }
QString ms(double v, int decimals = 1) { return num(v, decimals) + " ms"; }
struct Clock : QElapsedTimer {
    Clock() { start(); }
    double ms() const { return double(nsecsElapsed()) / 1e6; }
};

// The program's figure, the reference measured in the same run, the goal, PASS or MISS.
struct Table {
    QString title, program, reference;
    QList<QStringList> rows = {};
    int misses = 0;

    // Without `met` (-1): a figure for context, no goal.
    void row(const QString &what, const QString &a, const QString &b = "-", const QString &goal = "-", int met = -1)
    {
        misses += met == 0;
        rows.append({what, a, b, goal, met < 0 ? "-" : met ? "PASS" : "MISS"});
    }
    int print()
    {
        rows.prepend({"Measure", program, reference, "Goal", "Result"});
        QList<qsizetype> width(5);
        for (const QStringList &r : rows)
            for (int i = 0; i < 5; ++i)
                width[i] = std::max(width[i], r[i].size());
        rows.insert(1, QStringList(5));  // the rule under the header
        QString out = "\n### " + title + "\n\n";
        for (QStringList r : rows) {
            for (int i = 0; i < 5; ++i)
                r[i] = r[i].isEmpty() ? QString(width[i], '-') : r[i].leftJustified(width[i]);
            out += "| " + r.join(" | ") + " |\n";
        }
        std::fputs(out.toUtf8().constData(), stdout);
        return misses;
    }
};

// ---- the program's log -------------------------------------------------------------------

// Everything the program logs goes to the error output, as it would go to a terminal. Of
// FFmpeg's error output (logged by the worker as "[ffmpeg]: ...") the furthest "time="
// and the last 16 KB are kept.
QMutex logMutex;
QString ffmpegTail;
std::atomic<int> ffmpegProgress{-1};

int progressMs(const QString &text)  // the furthest "time=hh:mm:ss.cc", -1 when none
{
    static const QRegularExpression time("time=(\\d+):(\\d+):(\\d+)\\.(\\d\\d)");
    int best = -1;
    for (const QRegularExpressionMatch &m : time.globalMatch(text))
        best = std::max(best, m.captured(1).toInt() * 3600000 + m.captured(2).toInt() * 60000
                                      + m.captured(3).toInt() * 1000 + m.captured(4).toInt() * 10);
    return best;
}

// Keeps FFmpeg's error output, from the worker's log or, by hand, from the process; a
// null `text` forgets what was kept.
void keepFfmpegOutput(const QString &text)
{
    const QMutexLocker lock(&logMutex);
    ffmpegProgress = text.isNull() ? -1 : std::max<int>(ffmpegProgress, progressMs(text));
    ffmpegTail = text.isNull() ? QString() : (ffmpegTail + text).right(16384);
}

void onMessage(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (msg.startsWith("[ffmpeg]:"))
        keepFfmpegOutput(msg);
    std::fprintf(stderr, "%s\n", msg.toLocal8Bit().constData());
}

// ---- environment, waiting --------------------------------------------------------------

// HOME: a fresh temporary folder (set in main()), so recordings land in its Desktop/ScreenRecordings.
QString home, recordings;

const QByteArray realPath = qgetenv("PATH");
void useFfmpeg(bool fake)  // tests/fake-ffmpeg (exits on "q") or the real one, first on PATH
{
    qputenv("PATH", fake ? FAKE_FFMPEG_DIR ":" + realPath : realPath);
    qputenv("FAKE_FFMPEG_BEHAVIOUR", "quit-on-q");
}

// What the program gives FFmpeg for "Full" with the test desktop's devices.
QStringList fullArguments(const QString &file)
{
    FfmpegCommand::Order order;
    order.fileName = file;
    order.micDevice = "mic";
    order.speakerDevice = "speakers.monitor";
    order.mode = "Full";
    order.startedAt = QDateTime::currentMSecsSinceEpoch() / 1000.0;  // called right before the start
    return FfmpegCommand::arguments(order, *Platform::captureBackend(), {Platform::screenName()});
}

// Runs the event loop until `done` holds, checked after every event and at least every
// `pollMs`; false on time-out.
bool waitUntil(const std::function<bool()> &done, int timeoutMs, int pollMs = 5)
{
    QTimer poll;
    poll.start(pollMs);
    for (const QDeadlineTimer deadline(timeoutMs); !done(); QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents))
        if (deadline.hasExpired())
            return false;
    return true;
}

// Runs `action`, then the event loop until `signal` fires with `accept()` true: ms from
// the action to that signal (stamped in the slot); -1 after 15 s without.
template <typename Signal>
double timeToSignal(ScreenRecorder &recorder, Signal signal, const std::function<bool()> &accept,
                    const std::function<void()> &action)
{
    double at = -1;
    Clock clock;
    const auto stamp = QObject::connect(&recorder, signal, [&] { at = at < 0 && accept() ? clock.ms() : at; });
    clock.restart();
    action();
    waitUntil([&] { return at >= 0; }, 15000, 1000);
    QObject::disconnect(stamp);
    return at;
}

QString firstListed(const ScreenRecorder &recorder)
{
    return recorder.fileList().value(0).toMap().value("name").toString();
}

// ---- one recording -----------------------------------------------------------------------

// "Full" through the program (`recorder`) or by hand (a bare QProcess with the program's
// arguments writing `file`), stopped once FFmpeg reports `seconds` of output (looked at
// every `pollMs`; 0: at once). startMs: startRecording() until isRecording, or by hand
// QProcess::start() + waitForStarted(). stopMs: stopRecording() until the file is first in
// fileList, or by hand "q" written until FFmpeg's exit. -1 when it failed.
struct Recording {
    double startMs = -1, stopMs = -1;
    QString file, log;  // the file; the end of FFmpeg's error output
};
Recording record(ScreenRecorder *recorder, const QString &file, double seconds, int pollMs = 10)
{
    Recording r{-1, -1, file, {}};
    keepFfmpegOutput({});
    QProcess p;
    QObject::connect(&p, &QProcess::readyReadStandardError,
                     [&] { keepFfmpegOutput(QString::fromLocal8Bit(p.readAllStandardError())); });
    if (recorder) {
        const auto order = QObject::connect(recorder, &ScreenRecorder::startWorkerRecording,
                                            [&](const QString &ordered) { r.file = ordered; });
        r.startMs = timeToSignal(*recorder, &ScreenRecorder::isRecordingChanged, [&] { return recorder->isRecording(); },
                                 [&] { recorder->startRecording("Full"); });
        QObject::disconnect(order);
    } else {
        const QString ffmpeg = Platform::ffmpegProgram();
        const QStringList args = fullArguments(file);
        const Clock clock;
        p.start(ffmpeg, args, QIODevice::ReadWrite);
        r.startMs = p.waitForStarted(10000) ? clock.ms() : -1;
    }
    // FFmpeg reads "q" only once its inputs are open: a stop before can leave a file without frames.
    const bool recorded = r.startMs >= 0 && waitUntil([&] { return seconds <= 0 || ffmpegProgress >= seconds * 1000; },
                                                      int(seconds * 1000) + 30000, pollMs);
    if (recorder) {
        r.stopMs = timeToSignal(*recorder, &ScreenRecorder::fileListChanged,
                                [&] { return firstListed(*recorder) == QFileInfo(r.file).fileName(); },
                                [&] { recorder->stopRecording(); });
        waitUntil([&] { return !recorder->isRecording(); }, 15000);
    } else {
        const Clock clock;
        p.write("q\n");
        r.stopMs = p.waitForFinished(15000) && p.exitCode() == 0 ? clock.ms() : -1;
    }
    r.stopMs = recorded ? r.stopMs : -1;
    const QMutexLocker lock(&logMutex);
    r.log = ffmpegTail;
    return r;
}

// Recordings through the program and by hand in the given order (true: the program), with
// FFmpeg's final report (its last progress line, which names dup and drop once one is
// non-zero) and what ffprobe finds in each file. Failed ones, and files without video
// frames, are left out and counted.
struct Side {
    Vec stopMs, fps, frames, dupDrop, avMs;
};
std::array<Side, 2> alternate(const QList<bool> &order, double seconds, int *failures)
{
    ScreenRecorder recorder;
    std::array<Side, 2> sides;  // the program, by hand
    for (int i = 0; i < order.size(); ++i) {
        const Recording r = record(order[i] ? &recorder : nullptr, home + QString("/hand-%1.mp4").arg(i), seconds);
        const QString report = r.log.mid(r.log.lastIndexOf("frame=")).section(QRegularExpression("\\n|\\r|\\\\[nr]"), 0, 0);
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type,nb_frames,duration", "-of", "json", r.file});
        probe.waitForFinished(30000);
        double video = 0, audio = 0, frames = 0, dupDrop = 0;
        for (const QJsonValue &stream : QJsonDocument::fromJson(probe.readAllStandardOutput())["streams"].toArray()) {
            const bool isVideo = stream["codec_type"].toString() == "video";
            (isVideo ? video : audio) = stream["duration"].toString().toDouble();
            frames = isVideo ? stream["nb_frames"].toString().toDouble() : frames;
        }
        for (const QString name : {"dup", "drop"})
            dupDrop += QRegularExpression(name + "=\\s*(\\d+)").match(report).captured(1).toDouble();
        if (r.stopMs < 0 || !report.startsWith("frame=") || frames <= 0) {
            ++*failures;
            continue;
        }
        Side &s = sides[order[i] ? 0 : 1];
        s.stopMs.push_back(r.stopMs);
        s.fps.push_back(frames / video);
        s.frames.push_back(frames);
        s.dupDrop.push_back(dupDrop);
        s.avMs.push_back(std::abs(video - audio) * 1000);
    }
    return sides;
}

// ---- 1 to 4: recording ---------------------------------------------------------------------

// 1. startRecording("Full") until isRecording, next to a bare QProcess start (start +
// waitForStarted) of the same ffmpeg with the same arguments; each stopped again with
// "q" (real ffmpeg: once it records); the two alternate after one unmeasured round
// (first process start, first PulseAudio client).
int benchStart()
{
    ScreenRecorder recorder;
    Table table{"1. Start latency: startRecording(\"Full\") until isRecording", "Caprello, median (p90)",
                "Bare QProcess start, median (p90)"};
    const auto cell = [](const Vec &v) { return ms(median(v)) + " (p90 " + ms(percentile(v, 90)) + ")"; };
    for (const bool fake : {true, false}) {
        useFfmpeg(fake);
        const int count = fake ? (quick ? 10 : 30) : (quick ? 5 : 10);
        Vec program, bare;
        for (int i = -1; i < count; ++i) {
            const double a = record(&recorder, {}, fake ? 0 : 0.5, 20).startMs;
            const double b = record(nullptr, home + "/bare.mp4", fake ? 0 : 0.5, 20).startMs;
            if (i >= 0 && a >= 0 && b >= 0)
                program.push_back(a), bare.push_back(b);
        }
        const double added = median(program) - median(bare);
        table.row(QString("%1, %2 of %3 runs").arg(fake ? "fake ffmpeg (tests/fake-ffmpeg)" : "real ffmpeg")
                          .arg(program.size()).arg(count),
                  cell(program) + ", +" + ms(added), cell(bare), "at most +20 ms", !program.empty() && added <= 20);
    }
    return table.print();
}

// 2. Stop: stopRecording() until the new file is first in fileList, next to the same FFmpeg
// by hand stopped with "q" (timed until its exit); 3 s recordings at 1280x720, alternated.
// 4. Fidelity: the same 20 s recording through the program and by hand (program, hand,
// hand, program: each side goes first once, so a drift of the machine weighs on both),
// compared on FFmpeg's own dup + drop and on what ffprobe finds. Tolerances, about FFmpeg's
// own run-to-run spread: frame rate max(0.3 fps, 1 %), dup + drop max(5, 2 % of the frames,
// the spread between the by-hand runs: they follow the capture's timing jitter), A/V 50 ms.
int benchRecordings(bool stop)
{
    useFfmpeg(false);
    const int seconds = stop ? 3 : quick ? 8 : 20;
    QList<bool> order = quick ? QList<bool>{true, false} : QList<bool>{true, false, false, true};
    for (int i = 0; stop && i < (quick ? 2 : 6); ++i)
        order << true << false;
    int failures = 0;
    const auto [a, b] = alternate(order, seconds, &failures);
    const bool both = !a.fps.empty() && !b.fps.empty();
    if (stop) {
        const double ratio = median(b.stopMs) > 0 ? median(a.stopMs) / median(b.stopMs) : 0;
        Table table{"2. Stop latency: stopRecording() until the new file is first in fileList", "Caprello",
                    "FFmpeg by hand: \"q\" -> exit"};
        table.row(QString("median of %1 stops, 3 s recordings; %2 failed or without video").arg(a.stopMs.size()).arg(failures),
                  ms(median(a.stopMs)) + " (ratio " + num(ratio, 2) + "; max " + ms(maximum(a.stopMs)) + ")",
                  ms(median(b.stopMs)) + " (max " + ms(maximum(b.stopMs)) + ")", "ratio at most 1.10",
                  both && ratio <= 1.10);
        return table.print();
    }
    const double fpsTolerance = std::max(0.3, 0.01 * mean(b.fps));
    const double ddTolerance = std::max({5.0, 0.02 * mean(b.frames), maximum(b.dupDrop) - percentile(b.dupDrop, 0)});
    Table table{QString("4. Capture fidelity: %1 s of \"Full\", mean of %2 each; %3 failed").arg(seconds)
                        .arg(order.size() / 2).arg(failures), "Caprello", "FFmpeg by hand"};
    table.row("output frame rate (ffprobe nb_frames / video duration)", num(mean(a.fps), 2) + " fps",
              num(mean(b.fps), 2) + " fps", "at least by hand - " + num(fpsTolerance, 2) + " fps",
              both && mean(a.fps) >= mean(b.fps) - fpsTolerance);
    const auto dd = [](const Vec &v) {  // the mean and each run
        return std::accumulate(v.begin(), v.end(), num(mean(v)) + " (runs",
                               [](const QString &s, double x) { return s + " " + num(x, 0); }) + ")";
    };
    table.row("dup + drop (FFmpeg's last progress line)", dd(a.dupDrop), dd(b.dupDrop),
              "at most by hand + " + num(ddTolerance, 0), both && mean(a.dupDrop) <= mean(b.dupDrop) + ddTolerance);
    table.row("|video - audio| stream length (ffprobe)", ms(mean(a.avMs)), ms(mean(b.avMs)), "at most by hand + 50 ms",
              both && mean(a.avMs) <= mean(b.avMs) + 50);
    return table.print();
}

// 3. This process's CPU time (the ScreenRecorder and its worker thread, from just before
// startRecording() until the new file is listed) over one long recording, as a share of
// that of the FFmpeg it supervises (reaped: RUSAGE_CHILDREN).
double cpuMs(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}
int benchCpu()
{
    useFfmpeg(false);
    const int seconds = quick ? 20 : 60;
    ScreenRecorder recorder;
    const double self0 = cpuMs(RUSAGE_SELF), children0 = cpuMs(RUSAGE_CHILDREN);
    // Progress looked at once a second: the event loop sits idle, as the window's would.
    const Recording r = record(&recorder, {}, seconds, 1000);
    const double self = cpuMs(RUSAGE_SELF) - self0, ffmpeg = cpuMs(RUSAGE_CHILDREN) - children0;
    const double percent = 100 * self / ffmpeg;
    Table table{"3. Supervision overhead: program CPU time as a share of FFmpeg's", "Caprello (this process)",
                "FFmpeg (child)"};
    table.row(QString("CPU time over a %1 s recording (getrusage)").arg(seconds),
              ms(self, 0) + " = " + num(percent, 3) + " %", ms(ffmpeg, 0), "at most 1 % of FFmpeg's",
              r.stopMs >= 0 && ffmpeg > 0 && percent <= 1);
    return table.print();
}

// ---- 5: the gallery --------------------------------------------------------------------

// Empty recordings a minute apart up to `count`, the newest a minute old: each its own time.
void createRecordings(int count)
{
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = int(QDir(recordings).entryList(QDir::Files).size()) + 1; i <= count; ++i) {
        QFile f(recordings + "/rec_" + now.addSecs(-60LL * i).toString("yyyy-MM-dd_HH-mm-ss") + ".mp4");
        if (!f.open(QIODevice::WriteOnly) || !f.setFileTime(now.addSecs(-60LL * i), QFileDevice::FileModificationTime))
            qFatal("cannot create %s", qPrintable(f.fileName()));
    }
}

// 5a. refreshFileList() over 1,000 and 10,000 recordings (HOME a fresh folder), next to
// QDir sorting them by time; TZ as the program's start leaves it.
int benchGalleryList()
{
    Table table{"5a. Gallery: refreshFileList() over the recordings folder, median of 5", "Caprello refreshFileList()",
                "Bare QDir::entryInfoList (same filter, QDir::Time)"};
    ScreenRecorder recorder;
    for (const int count : {1000, 10000}) {
        createRecordings(count);
        recorder.refreshFileList();  // not timed
        Vec program, bare;
        QString newest;
        for (int i = 0; i < 5; ++i) {
            Clock clock;
            recorder.refreshFileList();
            program.push_back(clock.ms());
            clock.restart();
            newest = QDir(recordings, "*.mp4 *.mp3", QDir::Time, QDir::Files).entryInfoList().value(0).fileName();
            bare.push_back(clock.ms());
        }
        const bool right = recorder.fileList().size() == count && firstListed(recorder) == newest;
        table.row(QString("%1 files (%2 listed, %3; TZ %4)").arg(QLocale(QLocale::English).toString(count)).arg(recorder.fileList().size())
                          .arg(right ? "newest first" : "WRONG", qEnvironmentVariable("TZ", "unset")),
                  ms(median(program)) + " (max " + ms(maximum(program)) + ")", ms(median(bare)),
                  count < 10000 ? "-" : "under 100 ms", count < 10000 ? -1 : right && median(program) < 100);
    }
    return table.print();
}

// Frame time = frameSwapped to frameSwapped, the next change made as soon as a frame is
// swapped (Xvfb has no vsync: Qt paces update requests with a timer). frameSwapped comes
// on the render thread: stamped there, handed to `onSwap` on the GUI thread.
std::function<void(qint64)> onSwap;
struct Frames {
    Vec interval, change;  // ms; change: making the change itself, on the GUI thread
    bool complete = false;
};
// `frames` + 1 frames, `change(k)` before frame k; the first frame only starts the clock.
Frames drive(QQuickWindow *window, int frames, const std::function<void(int)> &change)
{
    Frames f;
    std::vector<qint64> swaps;
    bool awaiting = false;  // else the frame is one the scene asked for itself; its time stays in the interval
    QEventLoop loop;
    QTimer watchdog;  // a change the scene graph finds empty gets no frame: ask again
    QObject::connect(&watchdog, &QTimer::timeout, window, &QQuickWindow::update);
    const auto next = [&] {
        if (int(swaps.size()) > frames)
            return loop.quit();
        const Clock clock;
        change(int(swaps.size()));  // setting contentY: the ListView makes, reuses, drops rows in this call
        if (!swaps.empty())
            f.change.push_back(clock.ms());
        awaiting = true;
        window->update();
        watchdog.start(500);
    };
    onSwap = [&](qint64 ns) {
        if (std::exchange(awaiting, false))
            swaps.push_back(ns), next();
    };
    QTimer::singleShot(0, &loop, next);
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    loop.exec();
    onSwap = nullptr;
    f.complete = int(swaps.size()) > frames;
    for (size_t k = 1; k < swaps.size(); ++k)
        f.interval.push_back(double(swaps[k] - swaps[k - 1]) / 1e6);
    return f;
}

// 5b. Frame times of the real Main.qml while its gallery scrolls through 10,000 rows, next
// to the same window, list and model with the lightest row that still shows the name.
int benchGalleryFrames()
{
    useFfmpeg(true);
    createRecordings(10000);
    qmlRegisterType<ScreenRecorder>("io.vantor.recorder", 1, 0, "ScreenRecorder");  // as application.cpp does
    QQmlApplicationEngine engine(QUrl("qrc:/Main.qml"));
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    auto *list = window ? window->findChild<QQuickItem *>("mediaListView") : nullptr;
    if (!list || !waitUntil([&] { return window->isExposed(); }, 20000))
        qFatal("Main.qml: no window with a mediaListView shown");
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [window, clock = Clock()] {
        QMetaObject::invokeMethod(window, [ns = clock.nsecsElapsed()] { onSwap ? onSwap(ns) : void(); });
    }, Qt::DirectConnection);
    const QColor colour = window->color();
    // The smallest visible change: the background colour one step apart.
    const auto repaint = [&](int k) { window->setColor(k % 2 ? colour.lighter(101) : colour); };
    drive(window, 30, repaint);  // settle: first frames, caches, glyphs
    const Frames idle = drive(window, quick ? 100 : 200, repaint);
    const auto top = [&] { return list->property("originY").toDouble(); };
    const auto bottom = [&] { return top() + list->property("contentHeight").toDouble() - list->height(); };
    // Back to the top (a few frames to settle), then `frames` frames `step` px apart.
    const auto scroll = [&](int frames, double step) {
        list->setProperty("contentY", top());
        drive(window, 5, repaint);
        window->setColor(colour);
        const double from = top();
        return drive(window, frames, [&](int k) { list->setProperty("contentY", std::min(from + step * k, bottom())); });
    };
    const double fastStep = quick ? 1000 : 400;
    QQmlComponent light(&engine);
    light.setData("import QtQuick\nRectangle {\n    required property int index\n    required property var modelData\n"
                  "    width: ListView.view.width; height: 50\n"
                  "    Text { x: 10; anchors.verticalCenter: parent.verticalCenter; text: modelData.name }\n}\n",
                  QUrl("bench:/LightDelegate.qml"));
    waitUntil([&] { return !light.isLoading(); }, 10000);
    Frames wheel[2], fast[2];  // the program's rows, the one-Text rows
    for (const int i : {0, 1}) {
        if (i == 1 && (!light.isReady() || !list->setProperty("delegate", QVariant::fromValue(&light))))
            qFatal("the one-Text delegate: %s", qPrintable(light.errorString()));
        wheel[i] = scroll(quick ? 200 : 400, 50);  // one row a frame: 3,000 px/s at 60 Hz, a brisk wheel
        fast[i] = scroll(int(std::ceil((bottom() - top()) / fastStep)), fastStep);
        fast[i].complete = fast[i].complete && list->property("contentY").toDouble() >= bottom() - 1;  // the end reached
    }

    Table table{QString("5b. Gallery: frame times while the list scrolls through 10,000 rows (window %1x%2, "
                        "reuseItems %3)").arg(window->width()).arg(window->height())
                        .arg(list->property("reuseItems").toString()),
                "Caprello window (qml/Main.qml)", "Same window and list, one-Text delegate"};
    const auto frames = [](const Vec &v) {
        return QString("max %1 / p99 %2 / median %3").arg(ms(maximum(v)), ms(percentile(v, 99)), ms(median(v)));
    };
    table.row(QString("wheel speed: 50 px (one row) a frame, %1 frames%2").arg(wheel[0].interval.size())
                      .arg(wheel[0].complete ? "" : " (INCOMPLETE)"),
              frames(wheel[0].interval), frames(wheel[1].interval), "no frame over 16 ms",
              wheel[0].complete && maximum(wheel[0].interval) <= 16);
    table.row(QString("all 10,000 rows: %1 px a frame, %2 frames%3").arg(fastStep).arg(fast[0].interval.size())
                      .arg(fast[0].complete ? "" : " (END NOT REACHED)"),
              frames(fast[0].interval), frames(fast[1].interval), "no frame over 16 ms",
              fast[0].complete && maximum(fast[0].interval) <= 16);
    const auto work = [](const Vec &v) { return QString("p99 %1 / median %2").arg(ms(percentile(v, 99)), ms(median(v))); };
    table.row("of which (all rows): GUI thread, contentY set (the list makes, reuses, drops rows)", work(fast[0].change),
              work(fast[1].change));
    table.row(QString("window repainted without scrolling (background colour toggled), %1 frames")
                      .arg(idle.interval.size()), frames(idle.interval));
    return table.print();
}

// What the program gives FFmpeg on Windows for "Full", one argument a line, for
// bench/wine-pause.sh: the picture's part of it runs under Wine.
int printWindowsCommand()
{
    FfmpegCommand::Order order;
    order.fileName = "rec.mp4";
    order.micDevice = "Microphone";
    order.speakerDevice = "Stereo Mix";
    order.mode = "Full";
    for (const QString &argument : FfmpegCommand::arguments(order, Platform::CaptureBackend::GdiDirectShow, {}))
        std::printf("%s\n", qPrintable(argument));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::map<QByteArray, int (*)()> benches = {{"start", benchStart}, {"stop", [] { return benchRecordings(true); }},
            {"cpu", benchCpu}, {"fidelity", [] { return benchRecordings(false); }}, {"gallery-list", benchGalleryList},
            {"gallery-frames", benchGalleryFrames}, {"windows-command", printWindowsCommand}};
    const QByteArray name = argc > 1 ? argv[1] : "";
    quick = argc == 3 && qstrcmp(argv[2], "--quick") == 0;
    if (!benches.count(name) || argc != 2 + quick) {
        std::fprintf(stderr, "usage: %s {start|stop|cpu|fidelity|gallery-list|gallery-frames|windows-command} [--quick]\n", argv[0]);
        return 2;
    }
    // The program's start (src/app/application.cpp); the window benchmark needs its GUI set-up.
    Platform::prepareApplication();
    if (name == "gallery-frames")
        QQuickStyle::setStyle("Fusion");
    const std::unique_ptr<QCoreApplication> app(name == "gallery-frames" ? new QGuiApplication(argc, argv)
                                                                          : new QCoreApplication(argc, argv));
    qInstallMessageHandler(onMessage);
    const QTemporaryDir dir(QDir::tempPath() + "/caprello-bench-home-XXXXXX");
    home = dir.path(), recordings = home + "/Desktop/ScreenRecordings";
    qputenv("HOME", QFile::encodeName(home));
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DESKTOP_DIR");
    QDir().mkpath(recordings);
    return benches.at(name)() > 0 ? 1 : 0;
}
