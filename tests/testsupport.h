// Shared by the tests: a fake ffmpeg first on PATH, and a HOME of their own.
#pragma once

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace TestSupport {

// Puts `dir` first on PATH (or, when dir is empty, leaves only an empty folder
// on PATH so that no ffmpeg can be found).
inline void setPath(const QString &dir)
{
    static const QByteArray original = qgetenv("PATH");
    if (dir.isEmpty())
        qputenv("PATH", QByteArray("/nonexistent-caprello-path"));
    else
        qputenv("PATH", QFile::encodeName(dir) + ':' + original);
}

inline void useFakeFfmpeg()
{
    setPath(QStringLiteral(FAKE_FFMPEG_DIR));
}

// Environment read by tests/fake-ffmpeg/ffmpeg; cleared between tests.
inline void configureFake(const QByteArray &behaviour, const QByteArray &stderrText = {},
                          const QByteArray &exitCode = {})
{
    qputenv("FAKE_FFMPEG_BEHAVIOUR", behaviour);
    qputenv("FAKE_FFMPEG_STDERR", stderrText);
    qputenv("FAKE_FFMPEG_EXIT", exitCode);
}

inline QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(f.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

// Waits until the fake has written its pid and returns it (0 on time-out).
inline qint64 waitForPid(const QString &pidFile)
{
    qint64 pid = 0;
    (void)QTest::qWaitFor([&] {
        const QStringList lines = readLines(pidFile);
        pid = lines.isEmpty() ? 0 : lines.first().toLongLong();
        return pid > 0;
    }, 5000);
    return pid;
}

// One-letter process state from /proc: 'T' stopped, 'S' sleeping, 'R' running, ...
inline char processState(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray stat = f.readAll();
    const int close = stat.lastIndexOf(')');
    return close >= 0 && close + 2 < stat.size() ? stat.at(close + 2) : '?';
}

inline bool processExists(qint64 pid)
{
    const char state = processState(pid);
    return state != '?' && state != 'Z';
}

// The furthest output time in FFmpeg's progress lines ("time=00:01:02.50") within
// one piece of its error output, in ms; 0 when there is none.
inline int progressMs(const QString &ffmpegOutput)
{
    static const QRegularExpression time(QStringLiteral("time=(\\d+):(\\d+):(\\d+)\\.(\\d+)"));
    int furthest = 0;
    QRegularExpressionMatchIterator it = time.globalMatch(ffmpegOutput);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const int ms = ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) * 1000
                + m.captured(4).toInt() * 10;
        furthest = qMax(furthest, ms);
    }
    return furthest;
}

// What ffprobe says of a recording.
struct Probe {
    QStringList codecs;  // in stream order
    int width = 0;
    int height = 0;
    double duration = 0;
};

inline Probe probe(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "stream=codec_name,width,height:format=duration", "-of", "json", file});
    p.waitForFinished(30000);
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    Probe result;
    for (const QJsonValue &s : root.value("streams").toArray()) {
        const QJsonObject stream = s.toObject();
        result.codecs << stream.value("codec_name").toString();
        if (stream.contains("width")) {
            result.width = stream.value("width").toInt();
            result.height = stream.value("height").toInt();
        }
    }
    result.duration = root.value("format").toObject().value("duration").toString().toDouble();
    return result;
}

} // namespace TestSupport
