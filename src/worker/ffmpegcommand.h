// The FFmpeg argument list for one start order: a pure function, no process,
// no devices, so that every variant can be checked for both platforms anywhere.
#pragma once

#include "platform/platform.h"

#include <QString>
#include <QStringList>

namespace FfmpegCommand {

enum class Variant { AudioOnly, FullDesktop, Region };

struct Order {
    QString fileName;
    QString micDevice;
    QString speakerDevice;
    double micVolume = 1.0;
    double speakerVolume = 1.0;
    QString mode;
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// Exact, case-sensitive comparison on the whole text; anything unknown records
// the whole desktop.
Variant variantForMode(const QString &mode);

// "[<first>:a]volume=S[a_spk]; [<first+1>:a]volume=M[a_mic]; ...amix...[aout]"
QString audioMixFilter(int firstAudioInput, double speakerVolume, double micVolume);

// Crop of the grabbed desktop, clamped to its right and bottom edges by FFmpeg.
QString cropFilter(int x, int y, int w, int h);

// The arguments after the program name. `screen` is what the screen input opens
// on X11 (the DISPLAY value); the Windows grabber always opens "desktop".
QStringList arguments(const Order &order, Platform::CaptureBackend backend, const QString &screen);

} // namespace FfmpegCommand
