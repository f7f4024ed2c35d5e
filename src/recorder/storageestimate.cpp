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

} // namespace StorageEstimate
