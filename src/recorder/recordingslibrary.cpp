// The recordings folder and what the window lists of it.
#include "screenrecorder.h"

#include "platform/platform.h"
#include "storageestimate.h"

#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>
#include <vector>

QString ScreenRecorder::saveDirectoryPath()
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
            + QStringLiteral("/ScreenRecordings");
    QDir dir(path);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    return path;
}

QString ScreenRecorder::formatFileSize(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    if (bytes < 1048576)
        return QString::number(double(bytes) * (1.0 / 1024), 'f', 1) + QStringLiteral(" KB");
    if (bytes < 1073741824)
        return QString::number(double(bytes) * (1.0 / 1048576), 'f', 2) + QStringLiteral(" MB");
    return QString::number(double(bytes) * (1.0 / 1073741824), 'f', 2) + QStringLiteral(" GB");
}

QString ScreenRecorder::recordingFilePath(const QString &directory, const QDateTime &start,
                                         const QString &extension)
{
    const QString stamp = start.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString path = directory + QLatin1Char('/') + QStringLiteral("rec_%1%2").arg(stamp, extension);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = directory + QLatin1Char('/') + QStringLiteral("rec_%1_%2%3").arg(stamp).arg(n).arg(extension);
    return path;
}

void ScreenRecorder::refreshFileList()
{
    m_fileList.clear();
    QDir dir(saveDirectoryPath());
    dir.setNameFilters({QStringLiteral("*.mp4"), QStringLiteral("*.mp3")});
    // Newest first, equal times by name: the order of QDir::Time, but QDir reads
    // and converts each file's time again in every comparison, which takes most
    // of a second for 10,000 files. Here each time is read once.
    struct Listed {
        qint64 modified;
        QFileInfo info;
    };
    std::vector<Listed> listed;
    const QFileInfoList found = dir.entryInfoList(QDir::Files, QDir::NoSort);
    listed.reserve(found.size());
    for (const QFileInfo &info : found)
        listed.push_back({info.lastModified().toMSecsSinceEpoch(), info});
    std::sort(listed.begin(), listed.end(), [](const Listed &a, const Listed &b) {
        if (a.modified != b.modified)
            return a.modified > b.modified;
        return a.info.fileName() < b.info.fileName();
    });

    m_fileList.reserve(qsizetype(listed.size()));
    for (const Listed &item : listed) {
        const QFileInfo &info = item.info;
        QVariantMap entry;
        entry.insert(QStringLiteral("name"), info.fileName());
        entry.insert(QStringLiteral("size"), formatFileSize(info.size()));
        entry.insert(QStringLiteral("createTime"),
                     info.fileTime(QFileDevice::FileBirthTime).toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")));
        entry.insert(QStringLiteral("duration"), QStringLiteral("Recorded"));
        m_fileList.append(entry);
    }
    emit fileListChanged();
}

void ScreenRecorder::openSaveDirectory()
{
    const QString path = saveDirectoryPath();
    const QString nativePath = QDir::toNativeSeparators(path);
    qDebug() << "Attempting to open folder:" << nativePath;
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return;
    qWarning() << "Failed to open folder! Trying fallback method...";
    QProcess::startDetached(Platform::fileManagerProgram(), {nativePath}, QString());
}

qint64 ScreenRecorder::refreshStorageInfo()
{
    const QString path = saveDirectoryPath();
    const QStorageInfo volume(path);
    const qint64 freeBytes = volume.isValid() && volume.isReady() ? volume.bytesAvailable() : -1;
    const QString folder = QDir::toNativeSeparators(path);
    const QString space = StorageEstimate::spaceText(freeBytes);
    const QString predict = StorageEstimate::predictText(freeBytes);
    if (folder == m_saveFolder && space == m_spaceText && predict == m_predictText)
        return freeBytes;
    m_saveFolder = folder;
    m_spaceText = space;
    m_predictText = predict;
    emit storageInfoChanged();
    return freeBytes;
}
