// What the information bar says about the recordings folder's volume: the free
// space and how many hours of recording fit in it.
#pragma once

#include <QString>

namespace StorageEstimate {

// The byte rate a recording is assumed to take: about 4 Mbit/s, H.264 "ultrafast"
// at CRF 28 of a busy 1080p desktop, plus 192 kbit/s of AAC. Quiet desktops take
// far less, so the prediction errs on the safe side.
constexpr qint64 kBytesPerSecond = 500000;

// Whole gibibytes, e.g. "66GB"; "?" when the free space is unknown (negative).
QString spaceText(qint64 freeBytes);

// Whole hours at kBytesPerSecond, e.g. "56Hour"; "?" when unknown.
QString predictText(qint64 freeBytes);

// Whether a recording can go on: the free space holds another minute at
// kBytesPerSecond plus `finishBytes` for its finishing copy (the recording's size
// for an MP4, 0 for an MP3). Unknown free space (negative) never stops one.
bool roomToGoOn(qint64 freeBytes, qint64 finishBytes);

} // namespace StorageEstimate
