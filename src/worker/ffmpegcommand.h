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
    // When FFmpeg is started, in seconds since the epoch: on Linux every input is
    // stamped with the wall clock, and the file's time counts from here.
    double startedAt = 0;
};

// Exact, case-sensitive comparison on the whole text; anything unknown records
// the whole desktop.
Variant variantForMode(const QString &mode);

// What the screen input opens. The Windows grabber always opens "desktop".
struct Screen {
    QString display;    // X11: the DISPLAY value
    int pipe = -1;      // through GStreamer: the inherited descriptor the raw frames arrive on
    int width = 0;      // through GStreamer: the frames' size
    int height = 0;
    int originX = 0;    // Wayland: where the recorded screen starts on the desktop;
    int originY = 0;    // an area is cut relative to it
};

// The arguments after the program name.
QStringList arguments(const Order &order, Platform::CaptureBackend backend, const Screen &screen);

} // namespace FfmpegCommand
