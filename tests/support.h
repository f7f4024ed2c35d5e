// Shared by the tests: PATH control for the fake ffmpeg, process states, and what
// ffprobe and FFmpeg's filters say of a recording.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace Support {

// `dir` first on PATH; an empty `dir` leaves no ffmpeg to be found at all.
inline void putFirstOnPath(const QString &dir)
{
    static const QByteArray original = qgetenv("PATH");
    qputenv("PATH", dir.isEmpty() ? QByteArray("/nonexistent") : QFile::encodeName(dir) + ':' + original);
}

inline QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// One letter from /proc: 'T' stopped, 'S' sleeping, 'Z' zombie, '?' gone.
inline char processState(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !f.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray stat = f.readAll();
    const int state = stat.lastIndexOf(')') + 2;
    return state > 1 && state < stat.size() ? stat.at(state) : '?';
}

struct Probe {
    QStringList codecs;  // in stream order
    int width = 0;
    int height = 0;
    double duration = 0;
};

inline Probe probe(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries",
                                        "stream=codec_name,width,height:format=duration", "-of", "json", file});
    p.waitForFinished(30000);
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    Probe result;
    for (const QJsonValue &s : root.value("streams").toArray()) {
        result.codecs << s.toObject().value("codec_name").toString();
        result.width = qMax(result.width, s.toObject().value("width").toInt());
        result.height = qMax(result.height, s.toObject().value("height").toInt());
    }
    result.duration = root.value("format").toObject().value("duration").toString().toDouble();
    return result;
}

// Mean level in dB of the sound within 50 Hz of `hz`, -1000 for none. `input` is
// FFmpeg's input arguments: a file (with -ss/-t to pick a span) or a PulseAudio source.
inline double toneLevel(const QStringList &input, int hz)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-nostats"} + input
                    + QStringList{"-vn", "-af", QStringLiteral("bandpass=f=%1:width_type=h:w=50,volumedetect").arg(hz),
                                  "-f", "null", "-"});
    p.waitForFinished(60000);
    static const QRegularExpression mean(QStringLiteral("mean_volume: (-?[0-9.]+) dB"));
    const QRegularExpressionMatch m = mean.match(QString::fromUtf8(p.readAllStandardError()));
    return m.hasMatch() ? m.captured(1).toDouble() : -1000;
}

// The test desktop of scripts/test.sh: an X display, PulseAudio with "speakers" and "mic", ffmpeg.
inline bool testDesktop()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {"list", "short", "sources"});
    return pactl.waitForFinished(5000) && pactl.readAllStandardOutput().contains("speakers.monitor")
            && qEnvironmentVariableIsSet("DISPLAY") && !QStandardPaths::findExecutable("ffmpeg").isEmpty();
}

} // namespace Support

// Skips without the test desktop, unless the test command (CAPRELLO_E2E_REQUIRED) demands it.
#define REQUIRE_TEST_DESKTOP()                                                          \
    do {                                                                                \
        if (!Support::testDesktop()) {                                                  \
            if (qEnvironmentVariableIsSet("CAPRELLO_E2E_REQUIRED"))                     \
                QFAIL("needs DISPLAY, ffmpeg and the PulseAudio test server");          \
            QSKIP("no test desktop: run through scripts/test.sh");                      \
        }                                                                               \
    } while (false)
