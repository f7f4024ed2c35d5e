#include "benchsupport.h"

#include "platform/platform.h"
#include "worker/ffmpegcommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <utility>

#include <unistd.h>

namespace Bench {

// ---- statistics -------------------------------------------------------------

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = size_t(std::ceil(p / 100.0 * double(v.size())));
    return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

double maximum(const std::vector<double> &v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

QString ms(double value, int decimals)
{
    return QString::number(value, 'f', decimals) + QStringLiteral(" ms");
}

// ---- table ------------------------------------------------------------------

Table::Table(const QString &title, const QString &programColumn, const QString &referenceColumn)
    : m_title(title)
    , m_header({QStringLiteral("Measure"), programColumn, referenceColumn, QStringLiteral("Goal"),
                QStringLiteral("Result")})
{
}

void Table::info(const QString &what, const QString &program, const QString &reference)
{
    m_rows.append({what, program.isEmpty() ? QStringLiteral("-") : program, reference.isEmpty() ? QStringLiteral("-") : reference, QStringLiteral("-"),
                   QStringLiteral("-")});
}

void Table::goal(const QString &what, const QString &program, const QString &reference, const QString &goal,
                 bool met)
{
    if (!met)
        ++m_misses;
    m_rows.append({what, program, reference, goal, met ? QStringLiteral("PASS") : QStringLiteral("MISS")});
}

void Table::note(const QString &text)
{
    m_notes.append(text);
}

void Table::print() const
{
    QList<int> widths;
    for (const QString &h : m_header)
        widths.append(h.size());
    for (const QStringList &row : m_rows)
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max<int>(widths[i], row[i].size());
    const auto line = [&](const QStringList &cells) {
        QString out = QStringLiteral("|");
        for (int i = 0; i < cells.size(); ++i)
            out += QLatin1Char(' ') + cells[i].leftJustified(widths[i]) + QStringLiteral(" |");
        return out;
    };
    QStringList rule;
    for (int w : widths)
        rule.append(QString(w, QLatin1Char('-')));
    QString text = QStringLiteral("\n### ") + m_title + QStringLiteral("\n\n") + line(m_header) + QLatin1Char('\n')
            + line(rule) + QLatin1Char('\n');
    for (const QStringList &row : m_rows)
        text += line(row) + QLatin1Char('\n');
    if (!m_notes.isEmpty())
        text += QLatin1Char('\n');
    for (const QString &n : m_notes)
        text += QStringLiteral("- ") + n + QLatin1Char('\n');
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// ---- environment ----------------------------------------------------------

PrivateHome::PrivateHome()
    : m_dir(QDir::tempPath() + QStringLiteral("/caprello-bench-home-XXXXXX"))
{
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    // The desktop folder must come from HOME, not from the user's own settings.
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DESKTOP_DIR");
    QDir(m_dir.path()).mkpath(QStringLiteral("Desktop/ScreenRecordings"));
}

QString PrivateHome::recordings() const
{
    return m_dir.path() + QStringLiteral("/Desktop/ScreenRecordings");
}

namespace {
const QByteArray &originalPath()
{
    static const QByteArray path = qgetenv("PATH");
    return path;
}
} // namespace

void useFakeFfmpeg()
{
    qputenv("PATH", QByteArray(FAKE_FFMPEG_DIR ":") + originalPath());
    qputenv("FAKE_FFMPEG_BEHAVIOUR", "quit-on-q");
}

void useRealFfmpeg()
{
    qputenv("PATH", originalPath());
}

// ---- FFmpeg's error output ------------------------------------------------------

namespace {
QMutex g_logMutex;
QFile *g_logFile = nullptr;
QString g_tail;
std::atomic<int> g_progressMs{-1};
std::atomic<int> g_messages{0};
constexpr int kTailChars = 16384;
QByteArray g_category;
QStringList g_captured;

void watchMessages(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Q_UNUSED(type);
    QMutexLocker lock(&g_logMutex);
    if (!g_category.isEmpty() && context.category && g_category == context.category) {
        g_captured.append(msg);
        return;
    }
    if (msg.startsWith(QLatin1String("[ffmpeg]:"))) {
        ++g_messages;
        const int t = progressMs(msg);
        if (t > g_progressMs)
            g_progressMs = t;
        g_tail += msg;
        if (g_tail.size() > kTailChars)
            g_tail = g_tail.right(kTailChars);
    }
    if (g_logFile) {
        g_logFile->write(msg.toLocal8Bit());
        g_logFile->write("\n");
        g_logFile->flush();
    }
}
} // namespace

void installFfmpegLogWatch(const QString &logFile)
{
    auto *f = new QFile(logFile);
    if (f->open(QIODevice::WriteOnly | QIODevice::Append))
        g_logFile = f;
    else
        delete f;
    qInstallMessageHandler(watchMessages);
}

void resetFfmpegLog()
{
    QMutexLocker lock(&g_logMutex);
    g_tail.clear();
    g_progressMs = -1;
    g_messages = 0;
}

void captureCategory(const QByteArray &category, bool on)
{
    QMutexLocker lock(&g_logMutex);
    g_category = on ? category : QByteArray();
    g_captured.clear();
}

QStringList capturedMessages()
{
    QMutexLocker lock(&g_logMutex);
    return std::exchange(g_captured, {});
}

int ffmpegProgressMs()
{
    return g_progressMs;
}

QString ffmpegLogTail()
{
    QMutexLocker lock(&g_logMutex);
    return g_tail;
}

int ffmpegLogMessages()
{
    return g_messages;
}

int progressMs(const QString &text)
{
    static const QRegularExpression time(QStringLiteral("time=(\\d+):(\\d+):(\\d+)\\.(\\d+)"));
    int best = -1;
    QRegularExpressionMatchIterator it = time.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const int value = ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) * 1000
                + m.captured(4).left(2).toInt() * 10;
        best = std::max(best, value);
    }
    return best;
}

FinalStats finalStats(const QString &stderrText)
{
    FinalStats s;
    // The final report is the last "frame=" line; it ends the progress lines.
    const int at = stderrText.lastIndexOf(QLatin1String("frame="));
    if (at < 0)
        return s;
    QString line = stderrText.mid(at);
    for (const QString &end : {QStringLiteral("\n"), QStringLiteral("\r"), QStringLiteral("\\n"), QStringLiteral("\\r")}) {
        const int cut = line.indexOf(end);
        if (cut >= 0)
            line.truncate(cut);
    }
    const auto field = [&line](const char *name, qint64 *out) {
        const QRegularExpression re(QStringLiteral("%1=\\s*(\\d+)").arg(QLatin1String(name)));
        const QRegularExpressionMatch m = re.match(line);
        if (m.hasMatch())
            *out = m.captured(1).toLongLong();
    };
    s.found = true;
    field("frame", &s.frames);
    field("dup", &s.dup);
    field("drop", &s.drop);
    return s;
}

// ---- the same FFmpeg by hand ---------------------------------------------------

QString ffmpegProgram()
{
    return Platform::ffmpegProgram();
}

QStringList fullArguments(const QString &outputFile)
{
    FfmpegCommand::Order order;
    order.fileName = outputFile;
    order.micDevice = QStringLiteral("mic");
    order.speakerDevice = QStringLiteral("speakers.monitor");
    order.mode = QStringLiteral("Full");
    return FfmpegCommand::arguments(order, *Platform::captureBackend(), Platform::screenName());
}

HandFfmpeg::HandFfmpeg(QObject *parent)
    : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
        const QString text = QString::fromLocal8Bit(m_process.readAllStandardError());
        m_stderr += text;
        m_progressMs = std::max(m_progressMs, Bench::progressMs(text));
    });
}

void HandFfmpeg::start(const QString &program, const QStringList &args)
{
    m_stderr.clear();
    m_progressMs = -1;
    m_process.start(program, args, QIODevice::ReadWrite);
}

// ---- waiting --------------------------------------------------------------------

bool waitUntil(const std::function<bool()> &done, int timeoutMs, int pollMs)
{
    if (done())
        return true;
    QEventLoop loop;
    bool ok = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            ok = true;
            loop.quit();
        }
    });
    poll.start(pollMs);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return ok || done();
}

// ---- /proc --------------------------------------------------------------------

namespace {
// Fields after the command name's closing parenthesis: state is the first (field 3).
QList<QByteArray> statFields(qint64 pid, QByteArray *comm = nullptr)
{
    QFile f(pid > 0 ? QStringLiteral("/proc/%1/stat").arg(pid) : QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = f.readAll();
    const int open = stat.indexOf('(');
    const int close = stat.lastIndexOf(')');
    if (open < 0 || close < 0)
        return {};
    if (comm)
        *comm = stat.mid(open + 1, close - open - 1);
    return stat.mid(close + 2).split(' ');
}
} // namespace

qint64 cpuTicks(qint64 pid)
{
    const QList<QByteArray> f = statFields(pid);
    // utime and stime are fields 14 and 15, i.e. 11 and 12 after the state.
    if (f.size() < 13)
        return -1;
    return f.at(11).toLongLong() + f.at(12).toLongLong();
}

qint64 selfCpuTicks()
{
    return cpuTicks(0);
}

double ticksToMs(qint64 ticks)
{
    return double(ticks) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

qint64 childPid(const QString &comm)
{
    const qint64 self = getpid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QByteArray name;
        const QList<QByteArray> f = statFields(pid, &name);
        // ppid is field 4, i.e. 1 after the state.
        if (f.size() > 1 && f.at(1).toLongLong() == self && name == comm.toLocal8Bit() && f.at(0) != "Z")
            return pid;
    }
    return 0;
}

// ---- ffprobe -----------------------------------------------------------------

ProbeResult probe(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                        QStringLiteral("stream=codec_type,nb_frames,duration"), QStringLiteral("-of"),
                                        QStringLiteral("json"), file});
    ProbeResult r;
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return r;
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    for (const QJsonValue &v : root.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject s = v.toObject();
        const QString type = s.value(QStringLiteral("codec_type")).toString();
        const double duration = s.value(QStringLiteral("duration")).toString().toDouble();
        if (type == QLatin1String("video")) {
            r.videoFrames = s.value(QStringLiteral("nb_frames")).toString().toLongLong();
            r.videoDuration = duration;
            r.ok = true;
        } else if (type == QLatin1String("audio")) {
            r.audioDuration = duration;
        }
    }
    return r;
}

} // namespace Bench
