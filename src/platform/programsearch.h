// Finding the ffmpeg executable without letting the current directory decide.
#pragma once

#include <QString>
#include <QStringList>

namespace ProgramSearch {

// The first file named `fileName` that is an executable, looked for in
// `preferredDirs` and then in the entries of `pathVariable` (split at
// `separator`). Empty and relative entries are skipped: they name the current
// directory, where anyone who can drop a file could plant a program.
// Returns an absolute path, or an empty text when there is none.
QString find(const QString &fileName, const QStringList &preferredDirs, const QString &pathVariable,
             QChar separator);

} // namespace ProgramSearch
