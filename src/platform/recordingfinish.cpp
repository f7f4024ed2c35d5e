#include "recordingfinish.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>

#include <filesystem>
#include <system_error>

namespace RecordingFinish {

bool wanted(const QString &recording)
{
    return recording.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive);
}

QString copyPath(const QString &recording)
{
    return recording + QStringLiteral(".finishing");
}

QStringList arguments(const QString &recording)
{
    // "-f mp4": the copy's name does not say what it is.
    return {QStringLiteral("-hide_banner"), QStringLiteral("-v"), QStringLiteral("error"),
            QStringLiteral("-i"), recording, QStringLiteral("-map"), QStringLiteral("0"),
            QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-movflags"), QStringLiteral("+faststart"),
            QStringLiteral("-f"), QStringLiteral("mp4"), QStringLiteral("-y"), copyPath(recording)};
}

bool settle(const QString &recording, bool copied)
{
    const QString copy = copyPath(recording);
    std::error_code error;
    if (copied && QFileInfo(copy).size() > 0) {
        // Replaces in one step (MoveFileEx on Windows): at every moment one of the
        // two is a whole recording under the recording's name.
        std::filesystem::rename(QFile::encodeName(copy).toStdString(), QFile::encodeName(recording).toStdString(), error);
        if (!error)
            return true;
    }
    qWarning().noquote() << "The recording stays fragmented (it plays, but some players cannot seek in it):"
                         << recording << QString::fromStdString(error.message());
    QFile::remove(copy);
    return false;
}

void keepWholeFragments(const QString &recording)
{
    QFile file(recording);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return;
    // The top-level boxes, each its length (4 bytes, or 1 and 8 more) and its type.
    const qint64 size = file.size();
    qint64 at = 0;
    qint64 whole = 0; // where the last box that needs nothing after it ends
    bool header = false;
    while (at + 8 <= size) {
        file.seek(at);
        const QByteArray head = file.read(16);
        quint64 length = qFromBigEndian<quint32>(head.constData());
        if (length == 1)
            length = head.size() == 16 ? qFromBigEndian<quint64>(head.constData() + 8) : 0;
        else if (length == 0) // "up to the end of the file"
            length = quint64(size - at);
        if (length < 8 || length > quint64(size - at))
            break;
        at += qint64(length);
        const QByteArray type = head.mid(4, 4);
        // A fragment's header is worth nothing without the samples that follow it.
        if (type != "moof")
            whole = at;
        header = header || type == "moov";
    }
    // Without a whole header nothing plays: what the file holds is left for someone to rescue.
    if (header && whole < size) {
        qWarning().noquote() << "The recording was cut off in a fragment: it keeps its first" << whole << "bytes of" << size;
        file.resize(whole);
    }
}

bool finishNow(const QString &ffmpeg, const QString &recording, int timeoutMs)
{
    keepWholeFragments(recording);
    QProcess copier;
    copier.setStandardOutputFile(QProcess::nullDevice());
    copier.setStandardErrorFile(QProcess::nullDevice());
    copier.start(ffmpeg, arguments(recording), QIODevice::ReadOnly);
    const bool ended = copier.waitForStarted() && copier.waitForFinished(timeoutMs);
    if (!ended) {
        copier.kill();
        copier.waitForFinished(1000);
    }
    return settle(recording, ended && copier.exitStatus() == QProcess::NormalExit && copier.exitCode() == 0);
}

} // namespace RecordingFinish
