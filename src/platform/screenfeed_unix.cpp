// The ScreenCast portal over D-Bus, and the GStreamer process that turns its
// PipeWire stream, or an X screen, into raw frames for FFmpeg.
#include "screenfeed.h"

#include "programsearch.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QPoint>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QSize>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <optional>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
constexpr int kCallTimeoutMs = 10000;

// The desktop's permission from the last share: asked once per run of the
// program, kept in memory only. Touched by the worker thread alone.
QString g_restoreToken;

// Receives one Request's answer; its loop runs until the answer comes, the portal
// goes away or the thread is told to quit (the program closing during the dialog).
class PortalAnswer : public QObject
{
    Q_OBJECT

public:
    bool answered = false;
    uint code = 2;
    QVariantMap results;
    QEventLoop loop;

public slots:
    void onResponse(uint response, const QVariantMap &values)
    {
        answered = true;
        code = response;
        results = values;
        loop.quit();
    }
    void onPortalGone() { loop.quit(); }
};

enum Response : uint { Success = 0, Cancelled = 1 };

// A uint property of the ScreenCast interface; 0 when there is no portal.
uint portalProperty(const QString &name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({kScreenCast, name});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return 0;
    return reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
}

// Calls a ScreenCast method that answers through a Request object, and waits for
// the answer. The Request's path is known before the call, so listening starts
// first and an early answer cannot be missed.
uint request(const QString &method, QVariantList arguments, QVariantMap options, QVariantMap *results)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = QStringLiteral("caprello%1").arg(QRandomGenerator::global()->generate());
    const QString sender = bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
    const char *slot = SLOT(onResponse(uint, QVariantMap));

    PortalAnswer answer;
    QString listening = path;
    bus.connect(kService, listening, requestInterface, QStringLiteral("Response"), &answer, slot);
    QDBusServiceWatcher watcher(kService, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &answer, &PortalAnswer::onPortalGone);

    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
    call.setArguments(arguments << options);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    uint code = 2;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning() << "ScreenCast portal:" << method << "failed:" << reply.errorMessage();
    } else {
        // Old portals answer on a path of their own choosing.
        const QString used = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (!used.isEmpty() && used != listening) {
            bus.disconnect(kService, listening, requestInterface, QStringLiteral("Response"), &answer, slot);
            listening = used;
            bus.connect(kService, listening, requestInterface, QStringLiteral("Response"), &answer, slot);
        }
        if (!answer.answered)
            answer.loop.exec();
        code = answer.answered ? answer.code : 2;
        *results = answer.results;
    }
    bus.disconnect(kService, listening, requestInterface, QStringLiteral("Response"), &answer, slot);
    return code;
}

// A D-Bus (ii) pair.
QPoint pairOf(const QVariant &value)
{
    const QDBusArgument argument = value.value<QDBusArgument>();
    int a = 0, b = 0;
    if (argument.currentType() == QDBusArgument::StructureType) {
        argument.beginStructure();
        argument >> a >> b;
        argument.endStructure();
    }
    return {a, b};
}

struct Stream {
    quint32 node = 0;
    QPoint position;
    QPoint size;
};

// The first of Start's streams, a(ua{sv}); the session shares one monitor.
std::optional<Stream> firstStream(const QVariant &streams)
{
    const QDBusArgument argument = streams.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::ArrayType)
        return std::nullopt;
    std::optional<Stream> first;
    argument.beginArray();
    while (!argument.atEnd()) {
        Stream stream;
        QVariantMap properties;
        argument.beginStructure();
        argument >> stream.node >> properties;
        argument.endStructure();
        stream.position = pairOf(properties.value(QStringLiteral("position")));
        stream.size = pairOf(properties.value(QStringLiteral("size")));
        if (!first)
            first = stream;
    }
    argument.endArray();
    return first;
}

// The portal gives the screen's size in the desktop's logical coordinates; the
// frames and a drawn area are in physical pixels of that screen.
qreal scaleAt(const QPoint &position)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 1.0;
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (screen->geometry().topLeft() == position)
            return screen->devicePixelRatio();
    }
    return 1.0;
}

// gst-launch-1.0's arguments for the portal's PipeWire stream `node`, read through
// the remote `remoteFd`.
QStringList portalSource(int remoteFd, quint32 node)
{
    // The portal's stream sends frames only when the screen changes, at most at the
    // file's rate (max-framerate): keepalive-time repeats the last one when a frame's
    // time has passed without one, so that a frame before a pause is never far from
    // the pause; FFmpeg's fps filter makes the rate steady. No videorate: it holds
    // every frame back until the next one has come, up to a keepalive behind the sound.
    return {QStringLiteral("pipewiresrc"), QStringLiteral("fd=%1").arg(remoteFd),
            QStringLiteral("path=%1").arg(node), QStringLiteral("do-timestamp=true"),
            QStringLiteral("keepalive-time=%1").arg(1000 / ScreenFeed::kFramesPerSecond),
            QStringLiteral("!"), QStringLiteral("video/x-raw,max-framerate=%1/1").arg(ScreenFeed::kFramesPerSecond)};
}

// ... and for the X display `display`: the whole screen at the file's rate, each grab
// whole (damage-based grabs copy only what changed, and miss what some programs draw).
QStringList xSource(const QString &display)
{
    return {QStringLiteral("ximagesrc"), QStringLiteral("display-name=%1").arg(display),
            QStringLiteral("use-damage=false"),
            QStringLiteral("!"), QStringLiteral("video/x-raw,framerate=%1/1").arg(ScreenFeed::kFramesPerSecond)};
}

// The rest: steady BGRx frames of the given size into `outputFd`.
QStringList pipeline(const QStringList &source, int width, int height, int outputFd)
{
    // -e: SIGINT ends the stream cleanly. While FFmpeg does not read (opening its sound
    // inputs, paused), the leaky queue keeps only the newest frame: no backlog builds
    // up that FFmpeg would have to catch up with, and that a stop would cut off.
    return QStringList{QStringLiteral("-e"), QStringLiteral("-q")} + source + QStringList{
            QStringLiteral("!"), QStringLiteral("videoconvert"),
            QStringLiteral("!"), QStringLiteral("videoscale"),
            QStringLiteral("!"), QStringLiteral("video/x-raw,format=BGRx,width=%1,height=%2")
                                         .arg(width).arg(height),
            QStringLiteral("!"), QStringLiteral("queue"), QStringLiteral("leaky=downstream"),
            QStringLiteral("max-size-buffers=1"), QStringLiteral("max-size-bytes=0"), QStringLiteral("max-size-time=0"),
            QStringLiteral("!"), QStringLiteral("fdsink"), QStringLiteral("fd=%1").arg(outputFd)};
}

// The size of screen `number` of the display `connection` is open on, in pixels;
// empty when it cannot be reached.
QSize xScreenSize(xcb_connection_t *connection, int number)
{
    if (xcb_connection_has_error(connection))
        return {};
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; screens.rem > 0 && number > 0; --number)
        xcb_screen_next(&screens);
    return screens.rem > 0 ? QSize(screens.data->width_in_pixels, screens.data->height_in_pixels) : QSize();
}

// Whether the X server answers `connection` within `ms`; when it does not, the answer is
// still awaited by the caller (xcb_get_input_focus_reply on the returned cookie).
bool xAnswers(xcb_connection_t *connection, int ms, xcb_get_input_focus_cookie_t *cookie)
{
    *cookie = xcb_get_input_focus(connection);
    xcb_flush(connection);
    pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
    if (::poll(&fd, 1, ms) <= 0)
        return false;
    ::free(xcb_get_input_focus_reply(connection, *cookie, nullptr));
    return true;
}

QString gstreamerProgram()
{
    return ProgramSearch::find(QStringLiteral("gst-launch-1.0"), {}, qEnvironmentVariable("PATH"), QLatin1Char(':'));
}

} // namespace

bool ScreenFeed::available()
{
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        return true;
    return qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && portalProperty(QStringLiteral("version")) > 0;
}

bool ScreenFeed::availableOnX()
{
    const QString gstreamer = gstreamerProgram();
    if (gstreamer.isEmpty())
        return false;
    // Asked once: GStreamer's plugins do not come and go while the program runs.
    static const bool plugin = [&gstreamer] {
        QProcess inspect;
        inspect.start(gstreamer.left(gstreamer.lastIndexOf(QLatin1Char('/')) + 1) + QStringLiteral("gst-inspect-1.0"),
                      {QStringLiteral("--exists"), QStringLiteral("ximagesrc")});
        return inspect.waitForFinished(10000) && inspect.exitStatus() == QProcess::NormalExit && inspect.exitCode() == 0;
    }();
    return plugin;
}

ScreenFeed::~ScreenFeed()
{
    finish();
}

ScreenFeed::Outcome ScreenFeed::startOnX(QObject *parent, const QString &display)
{
    const QString gstreamer = gstreamerProgram();
    // One connection, kept: a server whose last client leaves resets itself, and the
    // next one to connect waits for that (65 ms on Xvfb), all of it after START.
    if (m_x)
        xcb_disconnect(m_x);
    int number = 0;
    m_x = xcb_connect(display.toLocal8Bit().constData(), &number);
    // x264 wants even sizes.
    const QSize size = xScreenSize(m_x, number);
    m_width = size.width() & ~1;
    m_height = size.height() & ~1;
    Outcome outcome = Outcome::Failed;
    if (gstreamer.isEmpty() || m_width <= 0 || m_height <= 0)
        m_failure = QStringLiteral("the X display %1 could not be read.").arg(display);
    else
        outcome = startPipeline(parent, gstreamer, xSource(display), -1);
    if (outcome == Outcome::Started) {
        m_watch = new QTimer(m_process);  // goes with it
        m_watch->setInterval(250);
        QObject::connect(m_watch, &QTimer::timeout, m_process, [this] { keepTheDesktop(); });
    } else {
        xcb_disconnect(m_x);  // nothing to watch: not held while the recording goes on without it
        m_x = nullptr;
    }
    return outcome;
}

ScreenFeed::Outcome ScreenFeed::start(QObject *parent)
{
    const QString gstreamer = gstreamerProgram();
    const uint version = portalProperty(QStringLiteral("version"));
    if (version == 0) {
        m_failure = QStringLiteral("the desktop offers no ScreenCast portal.");
        return Outcome::Failed;
    }
    if (gstreamer.isEmpty()) {
        m_failure = QStringLiteral("GStreamer (gst-launch-1.0) was not found; it needs gstreamer1.0-tools and gstreamer1.0-pipewire.");
        return Outcome::Failed;
    }
    const QString failed = QStringLiteral("the desktop could not share it.");

    QVariantMap results;
    uint code = request(QStringLiteral("CreateSession"), {},
                        {{QStringLiteral("session_handle_token"), QStringLiteral("caprello")}}, &results);
    m_session = results.value(QStringLiteral("session_handle")).toString();
    if (code != Success || m_session.isEmpty()) {
        m_failure = failed;
        return Outcome::Failed;
    }
    const QVariant session = QVariant::fromValue(QDBusObjectPath(m_session));

    QVariantMap sources = {{QStringLiteral("types"), QVariant::fromValue(uint(1))},  // a monitor
                           {QStringLiteral("multiple"), false}};
    if (portalProperty(QStringLiteral("AvailableCursorModes")) & 2)
        sources.insert(QStringLiteral("cursor_mode"), QVariant::fromValue(uint(2)));  // drawn into the picture
    if (version >= 4) {
        sources.insert(QStringLiteral("persist_mode"), QVariant::fromValue(uint(1)));  // while the program runs
        if (!g_restoreToken.isEmpty())
            sources.insert(QStringLiteral("restore_token"), g_restoreToken);
    }
    code = request(QStringLiteral("SelectSources"), {session}, sources, &results);
    if (code != Success && code != Cancelled && sources.remove(QStringLiteral("restore_token"))) {
        // A token the desktop no longer takes fails the call: ask afresh.
        g_restoreToken.clear();
        code = request(QStringLiteral("SelectSources"), {session}, sources, &results);
    }
    if (code == Success)
        code = request(QStringLiteral("Start"), {session, QString()}, {}, &results);
    if (code != Success) {
        m_failure = failed;
        return code == Cancelled ? Outcome::Cancelled : Outcome::Failed;
    }
    // A token is good for one restore; each share hands out the next.
    g_restoreToken = results.value(QStringLiteral("restore_token")).toString();
    const std::optional<Stream> stream = firstStream(results.value(QStringLiteral("streams")));
    if (!stream || stream->size.x() <= 0 || stream->size.y() <= 0) {
        m_failure = failed;
        return Outcome::Failed;
    }

    QDBusMessage open = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, QStringLiteral("OpenPipeWireRemote"));
    open.setArguments({session, QVariantMap()});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(open, QDBus::Block, kCallTimeoutMs);
    const QDBusUnixFileDescriptor remote = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (!remote.isValid()) {
        qWarning() << "ScreenCast portal: no PipeWire remote:" << reply.errorMessage();
        m_failure = failed;
        return Outcome::Failed;
    }

    // x264 wants even sizes.
    const qreal scale = scaleAt(stream->position);
    m_width = qRound(stream->size.x() * scale) & ~1;
    m_height = qRound(stream->size.y() * scale) & ~1;
    m_originX = stream->position.x();
    m_originY = stream->position.y();
    // The remote stays open (ours) until GStreamer has its copy.
    return startPipeline(parent, gstreamer, portalSource(remote.fileDescriptor(), stream->node), remote.fileDescriptor());
}

ScreenFeed::Outcome ScreenFeed::startPipeline(QObject *parent, const QString &gstreamer, const QStringList &source, int remoteFd)
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        m_failure = QStringLiteral("no pipe for its frames.");
        return Outcome::Failed;
    }
    m_readEnd = ends[0];
    // Room for a good part of a frame (the default 64 KiB is under 2 % of one): a frame
    // then crosses in a few reads, not some sixty turns of GStreamer and FFmpeg, each
    // waiting to be scheduled, which stamped frames up to tens of milliseconds late.
    ::fcntl(ends[0], F_SETPIPE_SZ, 1 << 20);

    m_process = new QProcess(parent);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);  // into the program's log
    // Only GStreamer gets the remote and the write end: FFmpeg must see the pipe
    // end when GStreamer does.
    const int writeEnd = ends[1];
    m_process->setChildProcessModifier([remoteFd, writeEnd] {
        if (remoteFd >= 0)
            ::fcntl(remoteFd, F_SETFD, 0);
        ::fcntl(writeEnd, F_SETFD, 0);
    });
    const QStringList arguments = pipeline(source, m_width, m_height, writeEnd);
    qDebug() << "Starting GStreamer for the screen:" << gstreamer << arguments.join(QLatin1Char(' '));
    m_process->start(gstreamer, arguments);
    const bool started = m_process->waitForStarted();
    ::close(writeEnd);
    if (!started) {
        m_failure = QStringLiteral("GStreamer could not be started.");
        return Outcome::Failed;
    }
    return Outcome::Started;
}

void ScreenFeed::prepareFfmpeg(QProcess *ffmpeg)
{
    const int readEnd = m_readEnd;
    ffmpeg->setChildProcessModifier([readEnd] { ::fcntl(readEnd, F_SETFD, 0); });
}

namespace {

// The system call thread `task` (a directory in /proc/<pid>/task) waits in, and its first
// argument; nothing while it runs.
std::optional<std::pair<long, long long>> waitingIn(const QString &task)
{
    QFile file(task + QStringLiteral("/syscall"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> fields = file.readAll().simplified().split(' ');
    bool isCall = false;
    bool isArgument = false;
    const long call = fields.value(0).toLong(&isCall);
    const long long argument = fields.value(1).toLongLong(&isArgument, 0);
    if (!isCall || !isArgument)
        return std::nullopt;
    return std::pair{call, argument};
}

QStringList tasks(qint64 pid)
{
    const QString dir = QStringLiteral("/proc/%1/task/").arg(pid);
    QStringList out;
    for (const QString &task : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        out << dir + task;
    return out;
}

// GStreamer's streaming threads: the source's, which grabs and converts, and the writer's
// (GStreamer names them "<element>:src").
QStringList streamingThreads(qint64 gstreamer)
{
    QStringList out;
    for (const QString &task : tasks(gstreamer)) {
        QFile name(task + QStringLiteral("/comm"));
        if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed().endsWith(":src"))
            out << task;
    }
    return out;
}

// Whether GStreamer is between frames: its streaming `threads` all wait for the next one.
bool betweenFrames(const QStringList &threads)
{
    for (const QString &task : threads) {
        const auto call = waitingIn(task);
        if (!call || call->first != SYS_futex)
            return false;
    }
    return true;
}

// How many bytes process `pid` has written so far (-1: unknown).
qint64 written(qint64 pid)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// Whether a thread of FFmpeg waits to read the pipe `inode`: it has read all there was.
bool readerWaiting(qint64 ffmpeg, ino_t inode)
{
    const QByteArray pipe = "pipe:[" + QByteArray::number(quint64(inode)) + ']';
    for (const QString &task : tasks(ffmpeg)) {
        const auto call = waitingIn(task);
        if (!call || call->first != SYS_read)
            continue;
        char target[64] = {};
        const QByteArray link = QStringLiteral("/proc/%1/fd/%2").arg(ffmpeg).arg(call->second).toLocal8Bit();
        if (::readlink(link.constData(), target, sizeof target - 1) > 0 && pipe == target)
            return true;
    }
    return false;
}

// Looks every millisecond, up to `ms`, whether `ready`.
template <typename Ready>
bool waitUntil(Ready ready, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!ready()) {
        if (clock.elapsed() >= ms)
            return false;
        ::usleep(1000);
    }
    return true;
}

} // namespace

void ScreenFeed::ffmpegStarted()
{
    struct stat pipe = {};
    if (m_readEnd >= 0 && ::fstat(m_readEnd, &pipe) == 0)
        m_pipeInode = pipe.st_ino;
    if (m_readEnd >= 0)
        ::close(m_readEnd);
    m_readEnd = -1;
}

void ScreenFeed::pause(qint64 ffmpeg)
{
    if (!m_process || m_paused)
        return;
    const pid_t pid = pid_t(m_process->processId());
    // The last frame before the pause is grabbed as it comes, not up to a frame earlier:
    // the picture's cut counts from that frame's time, and FFmpeg's stop follows it by a
    // steady few milliseconds. GStreamer, stopped between two frames for longer than one,
    // grabs the moment it runs again; once that frame is written and FFmpeg has read all
    // of it (a frame half read when FFmpeg stops is read whole only after the pause,
    // stamped as new), GStreamer stops for the pause. Only with a running FFmpeg (a
    // stopped one reads nothing), and on X: pipewiresrc has no frame to give until the
    // screen changes or its keepalive passes, and FFmpeg would go on recording meanwhile.
    if (m_x && ffmpeg > 0 && m_pipeInode != 0) {
        const qint64 frameBytes = qint64(m_width) * m_height * 4;
        const QStringList threads = streamingThreads(pid);
        waitUntil([&threads] { return betweenFrames(threads); }, 2 * 1000 / kFramesPerSecond);
        if (::kill(pid, SIGSTOP) != 0)
            return;
        ::usleep((1000 / kFramesPerSecond + 5) * 1000);
        const qint64 before = written(pid);
        ::kill(pid, SIGCONT);
        waitUntil([&] {
            return written(pid) - before >= frameBytes && betweenFrames(threads) && readerWaiting(ffmpeg, m_pipeInode);
        }, 3 * 1000 / kFramesPerSecond);
    }
    // ximagesrc holds the X server (XGrabServer) while it grabs: stopped inside, it
    // would leave the whole desktop deaf, the window's RESUME too. So on X a stop
    // the server does not answer after is undone and tried again, a few times; then
    // GStreamer goes on (blocked on the full pipe, keeping only the newest frame).
    // A hold it had sent just before it stopped can reach the server later: while
    // paused, the server is asked again every quarter of a second.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (::kill(pid, SIGSTOP) != 0)
            return;
        xcb_get_input_focus_cookie_t cookie;
        if (!m_x || xcb_connection_has_error(m_x) || xAnswers(m_x, 50, &cookie)) {
            m_paused = true;
            if (m_watch)
                m_watch->start();
            return;
        }
        qDebug() << "GStreamer was stopped while it held the X server: it runs again and is stopped anew.";
        letRun(cookie);
    }
}

void ScreenFeed::letRun(xcb_get_input_focus_cookie_t unanswered)
{
    ::kill(pid_t(m_process->processId()), SIGCONT);
    m_paused = false;
    // Comes once GStreamer has let go of the server.
    ::free(xcb_get_input_focus_reply(m_x, unanswered, nullptr));
}

void ScreenFeed::keepTheDesktop()
{
    xcb_get_input_focus_cookie_t cookie;
    if (!m_paused || !m_x || xcb_connection_has_error(m_x) || xAnswers(m_x, 50, &cookie))
        return;
    qDebug() << "GStreamer held the X server in the pause: it runs again and is stopped anew.";
    letRun(cookie);
    pause(0);
}

void ScreenFeed::resume()
{
    if (m_watch)
        m_watch->stop();
    if (m_process && m_paused)
        ::kill(pid_t(m_process->processId()), SIGCONT);
    m_paused = false;
}

void ScreenFeed::endStream()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    // -e turns SIGINT into a clean end of stream; a paused one must run to see it.
    resume();
    ::kill(pid_t(m_process->processId()), SIGINT);
    if (!m_process->waitForFinished(kEndOfStreamMs)) {
        qWarning() << "GStreamer did not end its stream: stopping it.";
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

void ScreenFeed::finish()
{
    ffmpegStarted();  // our copy of the read end, if FFmpeg never started
    if (m_process) {
        m_process->disconnect();
        if (m_process->state() != QProcess::NotRunning) {
            endStream();
        }
        delete m_process;
        m_process = nullptr;
        m_watch = nullptr;
    }
    if (!m_session.isEmpty()) {
        const QDBusMessage close = QDBusMessage::createMethodCall(kService, m_session, QStringLiteral("org.freedesktop.portal.Session"),
                                                                  QStringLiteral("Close"));
        QDBusConnection::sessionBus().call(close, QDBus::Block, 2000);
        m_session.clear();
    }
    if (m_x) {
        xcb_disconnect(m_x);
        m_x = nullptr;
    }
}

#include "screenfeed_unix.moc"
