// A video recording is written as a fragmented MP4, which plays up to its last
// second whatever stops FFmpeg (a crash, a power cut, a full disk). Once FFmpeg has
// ended well it is copied, without re-encoding, into an ordinary MP4 with its index
// at the front, which every player and editor handles (length shown, instant
// seeking). The copy replaces the recording only once it is complete.
#pragma once

#include <QString>
#include <QStringList>

namespace RecordingFinish {

// Stream copy runs at disk speed: a few seconds for an hour of recording.
constexpr int kTimeoutMs = 10 * 60 * 1000;

// Only MP4s are fragmented; every MP3 frame stands alone.
bool wanted(const QString &recording);

// Where the copy is written: beside the recording, a name the gallery does not list.
QString copyPath(const QString &recording);

// FFmpeg's arguments for the copy.
QStringList arguments(const QString &recording);

// After FFmpeg's copy ended (`copied`: exit code 0): puts the copy in the
// recording's place, or removes what there is of it and leaves the recording as
// it was. True when the recording is now the ordinary MP4.
bool settle(const QString &recording, bool copied);

// Cuts an MP4 that FFmpeg could not end (killed, disk full) back to its last whole
// fragment: one whose header is cut short makes FFmpeg, and the players built on
// it, refuse the whole file. A whole file is left as it is.
void keepWholeFragments(const QString &recording);

// The whole finish, blocking, for when nothing may be left to run afterwards (the
// program closing, the guardian): `ffmpeg` is the program that recorded.
bool finishNow(const QString &ffmpeg, const QString &recording, int timeoutMs);

} // namespace RecordingFinish
