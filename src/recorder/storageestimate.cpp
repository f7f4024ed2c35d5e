#include "storageestimate.h"

namespace StorageEstimate {

QString spaceText(qint64 freeBytes)
{
    if (freeBytes < 0)
        return QStringLiteral("?");
    return QString::number(freeBytes / (qint64(1) << 30)) + QStringLiteral("GB");
}

QString predictText(qint64 freeBytes)
{
    if (freeBytes < 0)
        return QStringLiteral("?");
    return QString::number(freeBytes / (kBytesPerSecond * 3600)) + QStringLiteral("Hour");
}

bool roomToGoOn(qint64 freeBytes, qint64 finishBytes)
{
    return freeBytes < 0 || freeBytes >= kBytesPerSecond * 60 + qMax<qint64>(finishBytes, 0);
}

} // namespace StorageEstimate
