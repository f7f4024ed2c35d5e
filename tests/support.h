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

inline void putFirstOnPath(const QString &dir)
{
    static const QByteArray original = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir) + ':' + original);
}

inline QString run(const QString &program, const QStringList &args, bool errorOutput = false)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(errorOutput ? p.readAllStandardError() : p.readAllStandardOutput()).trimmed();
}

inline QString firstLine(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readLine()).trimmed() : QString();
}

// One letter from /proc: 'T' stopped, 'S' sleeping, 'Z' zombie, '?' gone.
inline char processState(qint64 pid)
{
    const QString stat = firstLine(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.isEmpty() ? '?' : stat.at(stat.lastIndexOf(')') + 2).toLatin1();
}

// "h264+aac 1280x720 8.31": codecs, picture size ("0x0" for sound only), seconds.
inline QString probe(const QString &file)
{
    const QJsonObject o = QJsonDocument::fromJson(run("ffprobe", {"-v", "error", "-show_entries",
            "stream=codec_name,width,height:format=duration", "-of", "json", file}).toUtf8()).object();
    QStringList codecs, size = {"0", "0"};
    for (const QJsonValue &stream : o["streams"].toArray()) {
        codecs << stream["codec_name"].toString();
        if (stream["width"].toInt() > 0)
            size = QStringList{QString::number(stream["width"].toInt()), QString::number(stream["height"].toInt())};
    }
    return codecs.join('+') + ' ' + size.join('x') + ' ' + o["format"]["duration"].toString();
}

// An MP4 as FFmpeg writes it while recording (moof boxes), not yet an ordinary one.
inline bool fragmented(const QString &file)
{
    return run("ffprobe", {"-v", "trace", file}, true).contains("type:'moof'");
}

// Mean level in dB of the sound within 50 Hz of `hz`, -1000 for none. `input` is
// FFmpeg's input arguments: a file (with -ss/-t to pick a span) or a PulseAudio source.
inline double toneLevel(const QStringList &input, int hz)
{
    static const QRegularExpression mean(QStringLiteral("mean_volume: (-?[0-9.]+) dB"));
    const QRegularExpressionMatch m = mean.match(run("ffmpeg", QStringList{"-hide_banner", "-nostats"} + input
            + QStringList{"-vn", "-af", QStringLiteral("bandpass=f=%1:width_type=h:w=50,volumedetect").arg(hz), "-f", "null", "-"},
            true));
    return m.hasMatch() ? m.captured(1).toDouble() : -1000;
}

// The test desktops of scripts/test.sh and wayland-desktop.sh: a display, PulseAudio, ffmpeg.
inline bool testDesktop()
{
    return (qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
            && run("pactl", {"list", "short", "sources"}).contains("speakers.monitor");
}

// Each span of at least `least` seconds in which the picture stood still, as (start,
// length) (FFmpeg's freezedetect: a re-encoded still picture is never bit for bit the same).
inline QList<QPair<double, double>> stillSpans(const QString &file, double least)
{
    static const QRegularExpression span(QStringLiteral("freeze_start: ([0-9.]+)\n.*freeze_duration: ([0-9.]+)"));
    QList<QPair<double, double>> spans;
    const QString log = run("ffmpeg", {"-hide_banner", "-nostats", "-i", file, "-an", "-vf",
                                       QStringLiteral("freezedetect=n=-60dB:d=%1").arg(least), "-f", "null", "-"}, true);
    for (auto it = span.globalMatch(log); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        spans.append({m.captured(1).toDouble(), m.captured(2).toDouble()});
    }
    return spans;
}

// When something begins in the file: the left half of the picture's top-right 320x240 turning
// white (the other half moves on: a flash is no still), or a 3000 Hz tone (in 5 ms steps) sounding.
inline QList<double> onsets(const QString &file, bool picture)
{
    const QString filter = picture ? "crop=160:240:960:0,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-"
            : "bandpass=f=3000:width_type=h:w=200,asetnsamples=n=240:p=0,astats=metadata=1:reset=1:measure_perchannel=none:"
              "measure_overall=RMS_level,ametadata=print:key=lavfi.astats.Overall.RMS_level:file=-";
    static const QRegularExpression line(QStringLiteral("pts_time:([0-9.]+)\\s*\\S+=(-?[0-9.]+|-inf)\n"));
    QList<double> times;
    // White; the beep's -11 dB against what leaks, below -45 dB. A flash or beep already on
    // when its stream begins (the picture's first frame comes 0.15-0.55 s in) began unrecorded.
    bool on = true;
    for (auto it = line.globalMatch(run("ffmpeg", {"-v", "error", "-i", file, picture ? "-an" : "-vn",
                                                   picture ? "-vf" : "-af", filter, "-f", "null", "-"}));
         it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const bool now = m.captured(2) != "-inf" && m.captured(2).toDouble() >= (picture ? 200 : -30);
        if (now && !on)
            times << m.captured(1).toDouble();
        on = now;
    }
    return times;
}

} // namespace Support
