// Shared by the tests: a fake ffmpeg first on PATH, and a HOME of their own.
#pragma once

#include <QDir>
#include <QFile>
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

} // namespace TestSupport
