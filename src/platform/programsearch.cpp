#include "programsearch.h"

#include <QDir>
#include <QFileInfo>

namespace ProgramSearch {

QString find(const QString &fileName, const QStringList &preferredDirs, const QString &pathVariable,
             QChar separator)
{
    const QStringList dirs = preferredDirs + pathVariable.split(separator, Qt::SkipEmptyParts);
    for (const QString &dir : dirs) {
        if (!QDir::isAbsolutePath(dir))
            continue;
        const QFileInfo candidate(QDir(dir).filePath(fileName));
        if (candidate.isFile() && candidate.isExecutable())
            return QDir::cleanPath(candidate.absoluteFilePath());
    }
    return {};
}

} // namespace ProgramSearch
