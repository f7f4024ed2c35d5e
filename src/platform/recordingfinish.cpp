#include "recordingfinish.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

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

bool finishNow(const QString &ffmpeg, const QString &recording, int timeoutMs)
{
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
