// 5. The gallery: refreshFileList() over a large recordings folder, and the
// window's frame times while its list (the real Main.qml) scrolls through 10,000 rows.
#include "benchsupport.h"
#include "benches.h"

#include "recorder/screenrecorder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMutex>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QLoggingCategory>
#include <QQmlComponent>
#include <QRegularExpression>
#include <QSGRendererInterface>
#include <QThread>
#include <QVariantMap>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Bench;

namespace {

// `count` empty recordings, one a minute back from now, so that every one has its
// own modification time and the newest sorts first.
bool createRecordings(const QString &folder, int count)
{
    QDir().mkpath(folder);
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < count; ++i) {
        const QDateTime when = now.addSecs(-60LL * (i + 1));
        const QByteArray path = QFile::encodeName(
                folder + QStringLiteral("/rec_%1.mp4").arg(when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        const timespec times[2] = {{when.toSecsSinceEpoch(), 0}, {when.toSecsSinceEpoch(), 0}};
        const bool ok = ::futimens(fd, times) == 0;
        ::close(fd);
        if (!ok)
            return false;
    }
    return true;
}

double elapsedMs(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

QString frameCell(const std::vector<double> &v)
{
    return QStringLiteral("max %1 / p99 %2 / median %3")
            .arg(ms(maximum(v)), ms(percentile(v, 99)), ms(median(v)));
}

// ---- the listing -------------------------------------------------------------------

struct ListingFigures {
    std::vector<double> program;  // refreshFileList()
    std::vector<double> bare;     // QDir::entryInfoList with the same filter, sorted by QDir::Time
    int listed = 0;
    bool newestFirst = false;
    // The steps of refreshFileList(), timed one by one on a copy of them (ms).
    double list = 0, times = 0, sort = 0, nameSize = 0, birthTime = 0, toText = 0, entries = 0;
};

ListingFigures measureListing(int count, int repeats)
{
    ListingFigures f;
    PrivateHome home;
    createRecordings(home.recordings(), count);
    ScreenRecorder recorder;  // reads the folder once itself; not timed
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer t;
        t.start();
        recorder.refreshFileList();
        f.program.push_back(elapsedMs(t));

        t.restart();
        QDir dir(home.recordings());
        dir.setNameFilters({QStringLiteral("*.mp4"), QStringLiteral("*.mp3")});
        const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Time);
        f.bare.push_back(elapsedMs(t));
        Q_UNUSED(files);
    }
    f.listed = int(recorder.fileList().size());
    QDir sorted(home.recordings());
    sorted.setNameFilters({QStringLiteral("*.mp4"), QStringLiteral("*.mp3")});
    const QString expectedFirst = sorted.entryInfoList(QDir::Files, QDir::Time).value(0).fileName();
    f.newestFirst = !recorder.fileList().isEmpty()
            && recorder.fileList().first().toMap().value(QStringLiteral("name")).toString() == expectedFirst;

    // Where the time goes: each step of refreshFileList() on its own.
    QElapsedTimer t;
    t.start();
    QDir dir(home.recordings());
    dir.setNameFilters({QStringLiteral("*.mp4"), QStringLiteral("*.mp3")});
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::NoSort);
    f.list = elapsedMs(t);
    t.restart();
    std::vector<std::pair<qint64, int>> keyed;
    keyed.reserve(size_t(files.size()));
    for (int i = 0; i < files.size(); ++i)
        keyed.emplace_back(files.at(i).lastModified().toMSecsSinceEpoch(), i);
    f.times = elapsedMs(t);
    t.restart();
    std::sort(keyed.begin(), keyed.end(), [&files](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : files.at(a.second).fileName() < files.at(b.second).fileName();
    });
    f.sort = elapsedMs(t);
    QStringList names, sizes, times;
    QList<QDateTime> births;
    t.restart();
    for (const auto &k : keyed) {
        names.append(files.at(k.second).fileName());
        sizes.append(ScreenRecorder::formatFileSize(files.at(k.second).size()));
    }
    f.nameSize = elapsedMs(t);
    t.restart();
    for (const auto &k : keyed)
        births.append(files.at(k.second).fileTime(QFileDevice::FileBirthTime));
    f.birthTime = elapsedMs(t);
    t.restart();
    for (const QDateTime &b : births)
        times.append(b.toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")));
    f.toText = elapsedMs(t);
    t.restart();
    QVariantList list;
    for (int i = 0; i < names.size(); ++i) {
        QVariantMap entry;
        entry.insert(QStringLiteral("name"), names.at(i));
        entry.insert(QStringLiteral("size"), sizes.at(i));
        entry.insert(QStringLiteral("createTime"), times.at(i));
        entry.insert(QStringLiteral("duration"), QStringLiteral("Recorded"));
        list.append(entry);
    }
    f.entries = elapsedMs(t);
    return f;
}

// ---- frames ---------------------------------------------------------------------

// Drives one frame at a time: a change is made, the window renders it, and the
// next change follows as soon as a frame is on screen (frameSwapped).
class FrameDriver : public QObject
{
public:
    explicit FrameDriver(QQuickWindow *window)
        : m_window(window)
    {
        m_clock.start();
        connect(window, &QQuickWindow::beforeRendering, this, [this] { readRenderer(); }, Qt::DirectConnection);
        connect(window, &QQuickWindow::frameSwapped, this, [this] {
            {
                QMutexLocker lock(&m_mutex);
                m_swapThread = QThread::currentThread();
                // Only the first frame after a change shows it; any other frame (one the
                // scene asked for by itself) is counted, and its time stays in the interval.
                if (!m_awaitingSwap) {
                    ++m_extraFrames;
                    return;
                }
                m_awaitingSwap = false;
                if (m_frame >= 0 && m_frame < m_total)
                    m_swap[size_t(m_frame)] = m_clock.nsecsElapsed();
            }
            QMetaObject::invokeMethod(this, [this] { advance(); }, Qt::QueuedConnection);
        }, Qt::DirectConnection);
        m_watchdog.setSingleShot(true);
        connect(&m_watchdog, &QTimer::timeout, this, [this] {
            // A change that the scene graph found empty gets no frame: ask again.
            ++m_kicks;
            m_window->update();
            m_watchdog.start(500);
        });
    }

    struct Result {
        std::vector<double> interval;  // frameSwapped to frameSwapped, ms
        std::vector<double> change;    // the change itself on the GUI thread, ms
        int extraFrames = 0;           // frames rendered without a change of ours
        bool complete = false;
    };

    // Runs `frames` + 1 frames, `change(k)` before frame k; the first frame only
    // starts the clock, so `frames` intervals are measured.
    Result run(int frames, const std::function<void(int)> &change, int timeoutMs = 300000)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_total = frames + 1;
            m_frame = -1;
            m_swap.assign(size_t(m_total), -1);
            m_changeNs.assign(size_t(m_total), -1);
            m_extraFrames = 0;
            m_awaitingSwap = false;
        }
        m_change = change;
        QEventLoop loop;
        m_loop = &loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        QMetaObject::invokeMethod(this, [this] { advance(); }, Qt::QueuedConnection);
        loop.exec();
        m_loop = nullptr;
        m_watchdog.stop();

        QMutexLocker lock(&m_mutex);
        Result r;
        r.complete = m_frame >= m_total;
        r.extraFrames = m_extraFrames;
        for (int k = 1; k < m_total; ++k) {
            if (m_swap[k] >= 0 && m_swap[k - 1] >= 0)
                r.interval.push_back(double(m_swap[k] - m_swap[k - 1]) / 1e6);
            if (m_changeNs[k] >= 0)
                r.change.push_back(double(m_changeNs[k]) / 1e6);
        }
        return r;
    }

    bool renderThreaded() const { QMutexLocker lock(&m_mutex); return m_swapThread && m_swapThread != thread(); }
    QString glRenderer() const { QMutexLocker lock(&m_mutex); return m_renderer; }
    int kicks() const { return m_kicks; }

private:
    void readRenderer()
    {
        QMutexLocker lock(&m_mutex);
        if (!m_renderer.isEmpty())
            return;
        QOpenGLContext *context = QOpenGLContext::currentContext();
        if (!context) {
            m_renderer = QStringLiteral("(no OpenGL context)");
            return;
        }
        const auto *text = reinterpret_cast<const char *>(context->functions()->glGetString(GL_RENDERER));
        m_renderer = text ? QString::fromLatin1(text) : QStringLiteral("(unknown)");
    }

    void advance()
    {
        int next;
        {
            QMutexLocker lock(&m_mutex);
            next = ++m_frame;
            m_awaitingSwap = next < m_total;
        }
        if (next >= m_total) {
            if (m_loop)
                m_loop->quit();
            return;
        }
        // Setting contentY makes the ListView create and drop delegates right away,
        // inside this call, so its duration is the list's own work for the frame.
        QElapsedTimer t;
        t.start();
        m_change(next);
        const qint64 spent = t.nsecsElapsed();
        {
            QMutexLocker lock(&m_mutex);
            m_changeNs[size_t(next)] = spent;
        }
        m_window->update();
        m_watchdog.start(500);
    }

    QQuickWindow *m_window;
    QElapsedTimer m_clock;
    mutable QMutex m_mutex;
    std::vector<qint64> m_swap;
    std::vector<qint64> m_changeNs;
    bool m_awaitingSwap = false;
    int m_extraFrames = 0;
    int m_frame = -1;
    int m_total = 0;
    std::function<void(int)> m_change;
    QEventLoop *m_loop = nullptr;
    QTimer m_watchdog;
    QThread *m_swapThread = nullptr;
    QString m_renderer;
    int m_kicks = 0;
};

// Qt's own per-frame timings (logging category qt.scenegraph.time.renderloop), in ms:
// the GUI thread's polish (layout, delegates) and the render thread's sync and swap
// (llvmpipe rasterises in the swap).
struct QtTimings {
    std::vector<double> polish, sync, render, swap;
};

std::vector<double> renderSwap(const QtTimings &t)
{
    std::vector<double> v;
    for (size_t i = 0; i < t.swap.size(); ++i)
        v.push_back(t.render[i] + t.swap[i]);
    return v;
}

QtTimings parseQtTimings(const QStringList &messages)
{
    static const QRegularExpression gui(QStringLiteral("polish=(\\d+) ms"));
    static const QRegularExpression rt(QStringLiteral("sync=(\\d+), render=(\\d+), swap=(\\d+)"));
    QtTimings t;
    for (const QString &m : messages) {
        QRegularExpressionMatch g = gui.match(m);
        if (g.hasMatch())
            t.polish.push_back(g.captured(1).toDouble());
        QRegularExpressionMatch r = rt.match(m);
        if (r.hasMatch()) {
            t.sync.push_back(r.captured(1).toDouble());
            t.render.push_back(r.captured(2).toDouble());
            t.swap.push_back(r.captured(3).toDouble());
        }
    }
    return t;
}

QString graphicsApiName(QSGRendererInterface::GraphicsApi api)
{
    switch (api) {
    case QSGRendererInterface::Software: return QStringLiteral("Software");
    case QSGRendererInterface::OpenVG: return QStringLiteral("OpenVG");
    case QSGRendererInterface::OpenGL: return QStringLiteral("OpenGL");
    case QSGRendererInterface::Direct3D11: return QStringLiteral("Direct3D 11");
    case QSGRendererInterface::Vulkan: return QStringLiteral("Vulkan");
    case QSGRendererInterface::Metal: return QStringLiteral("Metal");
    case QSGRendererInterface::Null: return QStringLiteral("Null");
    default: return QStringLiteral("Unknown (%1)").arg(int(api));
    }
}

} // namespace

int benchGalleryList(const Options &options)
{
    Q_UNUSED(options);
    constexpr int kRepeats = 5;
    constexpr double kGoalMs = 100.0;
    const ListingFigures small = measureListing(1000, kRepeats);
    const ListingFigures large = measureListing(10000, kRepeats);

    Table table(QStringLiteral("5a. Gallery: refreshFileList() over the recordings folder, median of %1").arg(kRepeats),
                QStringLiteral("Caprello refreshFileList()"),
                QStringLiteral("Bare QDir::entryInfoList (same filter, QDir::Time)"));
    const auto listed = [](const ListingFigures &f) {
        return QStringLiteral("%1 listed%2").arg(f.listed).arg(f.newestFirst ? ", newest first" : ", ORDER WRONG");
    };
    table.info(QStringLiteral("1,000 files (%1)").arg(listed(small)),
               ms(median(small.program)) + QStringLiteral(" (max ") + ms(maximum(small.program)) + QLatin1Char(')'),
               ms(median(small.bare)));
    table.goal(QStringLiteral("10,000 files (%1)").arg(listed(large)),
               ms(median(large.program)) + QStringLiteral(" (max ") + ms(maximum(large.program)) + QLatin1Char(')'),
               ms(median(large.bare)), QStringLiteral("under %1 ms").arg(kGoalMs, 0, 'f', 0),
               large.listed == 10000 && large.newestFirst && median(large.program) < kGoalMs);
    const QByteArray tz = qgetenv("TZ");
    table.info(QStringLiteral("TZ in the environment (after Platform::prepareApplication(), as at the program's start)"),
               tz.isNull() ? QStringLiteral("unset") : QStringLiteral("\"%1\"").arg(QString::fromLocal8Bit(tz)));
    if (!tz.isNull()) {
        // Without it glibc stats /etc/localtime at each tzset(), and Qt calls tzset()
        // before each local-time conversion.
        qunsetenv("TZ");
        const ListingFigures unset = measureListing(10000, kRepeats);
        qputenv("TZ", tz);
        table.info(QStringLiteral("10,000 files with TZ unset"), ms(median(unset.program)), ms(median(unset.bare)));
    }
    table.note(QStringLiteral("10,000 files, the steps of refreshFileList() timed one by one: listing %1, each file's "
                              "time %2, sorting %3, names and sizes %4, fileTime(FileBirthTime) %5, "
                              "QDateTime::toString %6, QVariantMap entries %7.")
                       .arg(ms(large.list), ms(large.times), ms(large.sort), ms(large.nameSize), ms(large.birthTime),
                            ms(large.toText), ms(large.entries)));
    table.note(QStringLiteral("Empty .mp4 files a minute apart in $HOME/Desktop/ScreenRecordings, HOME a fresh temporary folder."));
    table.print();
    return table.misses();
}

int benchGalleryFrames(const Options &options)
{
    constexpr int kRows = 10000;
    constexpr double kGoalMs = 16.0;
    PrivateHome home;
    useFakeFfmpeg();
    createRecordings(home.recordings(), kRows);

    // As src/app/application.cpp registers it.
    qmlRegisterType<ScreenRecorder>("io.vantor.recorder", 1, 0, "ScreenRecorder");
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/Main.qml")));
    auto *window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    auto *list = window ? window->findChild<QQuickItem *>(QStringLiteral("mediaListView")) : nullptr;
    auto *recorder = window ? window->findChild<ScreenRecorder *>(QStringLiteral("recorder")) : nullptr;
    Table table(QStringLiteral("5b. Gallery: frame times while the list scrolls through 10,000 rows"),
                QStringLiteral("Caprello window (qml/Main.qml)"),
                QStringLiteral("Same window and list, one-Text delegate"));
    if (!window || !list || !recorder || !waitUntil([&] { return window->isExposed(); }, 20000)) {
        table.goal(QStringLiteral("window"), QStringLiteral("not shown"), QStringLiteral("-"), QStringLiteral("-"), false);
        table.print();
        return 1;
    }

    const bool reuseInQml = list->property("reuseItems").toBool();
    FrameDriver driver(window);
    const QColor colour = window->color();
    const auto repaint = [&](int k) {
        // The smallest visible change: the background colour one step apart.
        window->setColor(k % 2 ? colour.lighter(101) : colour);
    };
    driver.run(30, repaint);  // settle: first frames, caches, glyphs
    window->setColor(colour);

    const int idleFrames = options.quick ? 100 : 200;
    const int wheelFrames = options.quick ? 200 : 400;
    const double wheelStep = 50;  // one row a frame: 3,000 px/s at 60 Hz, a brisk mouse wheel
    const double fastStep = options.quick ? 1000 : 400;

    const auto top = [&] { return list->property("originY").toDouble(); };
    const auto bottom = [&] {
        return list->property("originY").toDouble() + list->property("contentHeight").toDouble() - list->height();
    };
    // Back to the top (a few frames to settle there), then `frames` frames `step` px apart.
    const auto scroll = [&](int frames, double step, QtTimings *timings = nullptr) {
        list->setProperty("contentY", top());
        driver.run(5, repaint);
        window->setColor(colour);
        const double from = top();
        if (timings) {
            captureCategory("qt.scenegraph.time.renderloop", true);
            QLoggingCategory::setFilterRules(QStringLiteral("qt.scenegraph.time.renderloop.debug=true"));
        }
        const FrameDriver::Result r = driver.run(frames, [&, from, step](int k) {
            list->setProperty("contentY", std::min(from + step * k, bottom()));
        });
        if (timings) {
            QLoggingCategory::setFilterRules(QStringLiteral("qt.scenegraph.time.renderloop.debug=false"));
            *timings = parseQtTimings(capturedMessages());
            captureCategory({}, false);
        }
        return r;
    };
    const auto atEnd = [&] { return list->property("contentY").toDouble() >= bottom() - 1; };

    // The program's gallery as it is.
    const FrameDriver::Result idle = driver.run(idleFrames, repaint);
    window->setColor(colour);
    const FrameDriver::Result wheel = scroll(wheelFrames, wheelStep);
    const int fastFrames = int(std::ceil((bottom() - top()) / fastStep));
    QtTimings fastTimings, referenceTimings;
    const FrameDriver::Result fast = scroll(fastFrames, fastStep, &fastTimings);
    const bool reachedEnd = atEnd();

    // refreshFileList() while the window lists 10,000 rows: the call (the model is
    // replaced) and the call up to the next frame on screen.
    list->setProperty("contentY", top());
    driver.run(5, repaint);
    std::vector<double> refreshCall, refreshFrame;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        double call = 0;
        driver.run(1, [&](int k) {
            if (k == 0) {
                repaint(0);
                return;
            }
            t.start();
            recorder->refreshFileList();
            call = elapsedMs(t);
        });
        refreshCall.push_back(call);
        refreshFrame.push_back(elapsedMs(t));
    }
    window->setColor(colour);

    // Reference: the same window, list and model with the lightest delegate that
    // still shows each row's name.
    const QVariant programDelegate = list->property("delegate");
    QQmlComponent light(&engine);
    light.setData("import QtQuick\n"
                  "Rectangle {\n"
                  "    required property int index\n"
                  "    required property var modelData\n"
                  "    width: ListView.view.width; height: 50\n"
                  "    Text { x: 10; anchors.verticalCenter: parent.verticalCenter; text: modelData.name }\n"
                  "}\n",
                  QUrl(QStringLiteral("bench:/LightDelegate.qml")));
    FrameDriver::Result wheelRef, fastRef;
    waitUntil([&] { return !light.isLoading(); }, 5000);
    const bool lightReady = light.isReady();
    const bool haveReference = lightReady && list->setProperty("delegate", QVariant::fromValue(&light));
    if (haveReference) {
        wheelRef = scroll(wheelFrames, wheelStep);
        fastRef = scroll(fastFrames, fastStep, &referenceTimings);
        list->setProperty("delegate", programDelegate);
    }

    // Delegates reused instead of created anew, tried at run time when Main.qml does not ask for it.
    const bool canReuse = !reuseInQml && list->setProperty("reuseItems", true);
    FrameDriver::Result wheelReuse, fastReuse;
    QtTimings reuseTimings;
    if (canReuse) {
        scroll(50, fastStep);  // the delegate pool fills; the first pass after the switch pays that once
        wheelReuse = scroll(wheelFrames, wheelStep);
        fastReuse = scroll(fastFrames, fastStep, &reuseTimings);
    }

    const QString api = graphicsApiName(window->rendererInterface()->graphicsApi());
    QStringList overrides;
    for (const char *name : {"QT_QUICK_BACKEND", "QSG_RHI_BACKEND", "QSG_RENDER_LOOP", "QT_QPA_UPDATE_IDLE_TIME", "LIBGL_ALWAYS_SOFTWARE"}) {
        if (qEnvironmentVariableIsSet(name))
            overrides << QStringLiteral("%1=%2").arg(QLatin1String(name), qEnvironmentVariable(name));
    }
    const auto goal = QStringLiteral("no frame over %1 ms").arg(kGoalMs, 0, 'f', 0);
    table.goal(QStringLiteral("wheel speed: %1 px (one row) a frame, %2 frames").arg(wheelStep).arg(wheel.interval.size()),
               frameCell(wheel.interval), frameCell(wheelRef.interval), goal,
               wheel.complete && maximum(wheel.interval) <= kGoalMs);
    table.goal(QStringLiteral("all 10,000 rows: %1 px a frame, %2 frames%3").arg(fastStep).arg(fast.interval.size())
                       .arg(reachedEnd ? QString() : QStringLiteral(" (END NOT REACHED)")),
               frameCell(fast.interval), frameCell(fastRef.interval), goal,
               fast.complete && reachedEnd && maximum(fast.interval) <= kGoalMs);
    const auto split = [](const std::vector<double> &v) {
        return QStringLiteral("p99 %1 / median %2").arg(ms(percentile(v, 99), 0), ms(median(v), 0));
    };
    const auto splitFine = [](const std::vector<double> &v) {
        return QStringLiteral("p99 %1 / median %2").arg(ms(percentile(v, 99)), ms(median(v)));
    };
    table.info(QStringLiteral("of which (all rows): GUI thread, contentY set (ListView creates/drops delegates)"),
               splitFine(fast.change), splitFine(fastRef.change));
    table.info(QStringLiteral("of which (all rows, Qt's own timings, whole ms): GUI thread polish"),
               split(fastTimings.polish), split(referenceTimings.polish));
    table.info(QStringLiteral("of which (all rows, Qt's own timings, whole ms): render thread sync"),
               split(fastTimings.sync), split(referenceTimings.sync));
    table.info(QStringLiteral("of which (all rows, Qt's own timings, whole ms): render thread render + swap"),
               split(renderSwap(fastTimings)), split(renderSwap(referenceTimings)));
    table.info(QStringLiteral("window repainted without scrolling (background colour toggled), %1 frames").arg(idle.interval.size()),
               frameCell(idle.interval));
    if (canReuse) {
        table.info(QStringLiteral("what-if reuseItems: true, wheel speed"), frameCell(wheelReuse.interval));
        table.info(QStringLiteral("what-if reuseItems: true, all rows"), frameCell(fastReuse.interval));
        table.info(QStringLiteral("what-if reuseItems: true, all rows: contentY set / render + swap"),
                   splitFine(fastReuse.change) + QStringLiteral(" / ") + split(renderSwap(reuseTimings)));
    }
    table.info(QStringLiteral("refreshFileList() with the window open: call / until the next frame, median of 5"),
               QStringLiteral("%1 / %2").arg(ms(median(refreshCall)), ms(median(refreshFrame))));
    table.note(QStringLiteral("Qt Quick on the xcb platform under Xvfb (no GPU): graphics API %1, GL_RENDERER \"%2\", "
                              "%3 render loop; window %4x%5; %6.")
                       .arg(api, driver.glRenderer(),
                            driver.renderThreaded() ? QStringLiteral("threaded") : QStringLiteral("basic (GUI thread)"))
                       .arg(window->width()).arg(window->height())
                       .arg(overrides.isEmpty() ? QStringLiteral("Qt's default settings (no environment overrides)")
                                                : QStringLiteral("set in the environment: ") + overrides.join(QStringLiteral(", "))));
    table.note(QStringLiteral("Frame time = interval between two frameSwapped signals, the next change being made "
                              "as soon as a frame is swapped (Xvfb has no vsync; Qt's xcb platform paces update "
                              "requests with its own idle timer). The first frame of each series only starts the clock."));
    if (reuseInQml)
        table.note(QStringLiteral("mediaListView has reuseItems: true in Main.qml."));
    if (!haveReference)
        table.note(QStringLiteral("The one-Text delegate could not be set: %1").arg(light.errorString()));
    table.note(QStringLiteral("Frames the scene rendered between two changes of ours (their time stays in the interval): "
                              "program %1 / %2, one-Text delegate %3 / %4%5 (wheel / all rows).")
                       .arg(wheel.extraFrames).arg(fast.extraFrames).arg(wheelRef.extraFrames).arg(fastRef.extraFrames)
                       .arg(canReuse ? QStringLiteral(", reuseItems %1 / %2").arg(wheelReuse.extraFrames).arg(fastReuse.extraFrames)
                                     : QString()));
    if (driver.kicks())
        table.note(QStringLiteral("Frames asked for again after 500 ms without one: %1.").arg(driver.kicks()));
    table.print();
    return table.misses();
}
