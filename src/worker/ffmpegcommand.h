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

// What the screen input opens. The Windows grabber always opens "desktop".
struct Screen {
    QString display;    // X11: the DISPLAY value
    int pipe = -1;      // Wayland: the inherited descriptor the raw frames arrive on
    int width = 0;      // Wayland: the frames' size
    int height = 0;
    int originX = 0;    // Wayland: where the recorded screen starts on the desktop;
    int originY = 0;    // an area is cut relative to it
};

// Crop of the grabbed desktop, clamped to its right and bottom edges by FFmpeg.
QString cropFilter(int x, int y, int w, int h);

// The arguments after the program name.
QStringList arguments(const Order &order, Platform::CaptureBackend backend, const Screen &screen);

// Wayland: the GStreamer pipeline (gst-launch-1.0's arguments) that reads the
// portal's PipeWire stream `node` through the remote `remoteFd` and writes
// steady 30 fps BGRx frames of the given size into `outputFd`.
QStringList screenCastPipeline(int remoteFd, quint32 node, int width, int height, int outputFd);

} // namespace FfmpegCommand
