#include "ffmpegcommand.h"

namespace FfmpegCommand {

namespace {

constexpr int kFramesPerSecond = 30;

QStringList screenInput(Platform::CaptureBackend backend, const Screen &screen)
{
    if (backend == Platform::CaptureBackend::X11Pulse)
        return {QStringLiteral("-f"), QStringLiteral("x11grab"), QStringLiteral("-i"), screen.display};
    if (backend == Platform::CaptureBackend::PortalPulse) {
        // Raw frames carry no size and no time: the size is told here, and each frame
        // is stamped when FFmpeg reads it, as x11grab stamps its grabs. The pipeline
        // hands over only the newest frame, so the picture is never behind the sound,
        // and a pause (FFmpeg not reading) stays in the file as a still picture.
        // Opened by its file name: an input named "pipe:..." turns off FFmpeg's reading
        // of its standard input, and with it the "q" that stops the recording.
        return {QStringLiteral("-f"), QStringLiteral("rawvideo"),
                QStringLiteral("-use_wallclock_as_timestamps"), QStringLiteral("1"),
                QStringLiteral("-pixel_format"), QStringLiteral("bgr0"),
                QStringLiteral("-video_size"), QStringLiteral("%1x%2").arg(screen.width).arg(screen.height),
                QStringLiteral("-framerate"), QString::number(kFramesPerSecond),
                QStringLiteral("-i"), QStringLiteral("/dev/fd/%1").arg(screen.pipe)};
    }
    return {QStringLiteral("-f"), QStringLiteral("gdigrab"), QStringLiteral("-i"), QStringLiteral("desktop")};
}

// An empty device keeps its place so that the input numbers in the filter stay right.
QStringList audioInput(Platform::CaptureBackend backend, const QString &device)
{
    if (backend != Platform::CaptureBackend::GdiDirectShow) {
        return {QStringLiteral("-f"), QStringLiteral("pulse"), QStringLiteral("-i"),
                device.isEmpty() ? QStringLiteral("default") : device};
    }
    return {QStringLiteral("-f"), QStringLiteral("dshow"), QStringLiteral("-i"),
            QStringLiteral("audio=%1").arg(device)};
}

// Always a point as decimal mark and one decimal: FFmpeg's parser needs "0.5",
// never the "0,5" of a German locale.
QString gain(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

Variant variantForMode(const QString &mode)
{
    if (mode == QLatin1String("MP3 only") || mode == QLatin1String("Audio Only"))
        return Variant::AudioOnly;
    if (mode == QLatin1String("Area") || mode == QLatin1String("Custom Area"))
        return Variant::Region;
    return Variant::FullDesktop;
}

QString audioMixFilter(int firstAudioInput, double speakerVolume, double micVolume)
{
    return QStringLiteral("[%1:a]volume=%2[a_spk]; [%3:a]volume=%4[a_mic]; "
                          "[a_spk][a_mic]amix=inputs=2:duration=longest[aout]")
            .arg(QString::number(firstAudioInput), gain(speakerVolume),
                 QString::number(firstAudioInput + 1), gain(micVolume));
}

QString cropFilter(int x, int y, int w, int h)
{
    if (w <= 0 || h <= 0) {
        x = 0;
        y = 0;
        w = 1280;
        h = 720;
    } else {
        x = qMax(x, 0);
        y = qMax(y, 0);
    }
    // The backslashes escape the commas for FFmpeg's filter-graph parser.
    return QStringLiteral("[0:v]crop=w=min(%1\\,iw-%3):h=min(%2\\,ih-%4):x=%3:y=%4[vout]")
            .arg(QString::number(w), QString::number(h), QString::number(x), QString::number(y));
}

QStringList arguments(const Order &order, Platform::CaptureBackend backend, const Screen &screen)
{
    const Variant variant = variantForMode(order.mode);
    QStringList args;

    if (variant == Variant::AudioOnly) {
        args << audioInput(backend, order.speakerDevice)
             << audioInput(backend, order.micDevice)
             << QStringLiteral("-filter_complex")
             << audioMixFilter(0, order.speakerVolume, order.micVolume)
             << QStringLiteral("-c:a") << QStringLiteral("libmp3lame")
             << QStringLiteral("-q:a") << QStringLiteral("2")
             << QStringLiteral("-map") << QStringLiteral("[aout]");
    } else {
        const bool region = variant == Variant::Region;
        const QString mix = audioMixFilter(1, order.speakerVolume, order.micVolume);
        args << screenInput(backend, screen)
             << audioInput(backend, order.speakerDevice)
             << audioInput(backend, order.micDevice)
             << QStringLiteral("-filter_complex")
             << (region ? cropFilter(order.x - screen.originX, order.y - screen.originY, order.w, order.h)
                                  + QLatin1Char(';') + mix
                        : mix)
             << QStringLiteral("-map") << (region ? QStringLiteral("[vout]") : QStringLiteral("0:v"))
             << QStringLiteral("-map") << QStringLiteral("[aout]")
             << QStringLiteral("-c:v") << QStringLiteral("libx264")
             << QStringLiteral("-preset") << QStringLiteral("ultrafast")
             << QStringLiteral("-crf") << QStringLiteral("28")
             << QStringLiteral("-c:a") << QStringLiteral("aac")
             << QStringLiteral("-b:a") << QStringLiteral("192k")
             << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p")
             // Fragments of at most a second, each written out at once: a file cut off
             // at any moment (FFmpeg killed, power lost, disk full) plays up to there.
             << QStringLiteral("-movflags") << QStringLiteral("+frag_keyframe+empty_moov+default_base_moof")
             << QStringLiteral("-frag_duration") << QStringLiteral("1000000")
             << QStringLiteral("-flush_packets") << QStringLiteral("1");
    }
    args << QStringLiteral("-y") << order.fileName;
    return args;
}

QStringList screenCastPipeline(int remoteFd, quint32 node, int width, int height, int outputFd)
{
    // -e: SIGINT ends the stream cleanly. The portal's stream sends frames only when
    // the screen changes: keepalive-time repeats the last one and videorate makes a
    // steady rate of them. While FFmpeg does not read (opening its sound inputs,
    // paused), the leaky queue keeps only the newest frame: no backlog builds up that
    // FFmpeg would have to catch up with, and that a stop would cut off.
    return {QStringLiteral("-e"), QStringLiteral("-q"),
            QStringLiteral("pipewiresrc"), QStringLiteral("fd=%1").arg(remoteFd),
            QStringLiteral("path=%1").arg(node), QStringLiteral("do-timestamp=true"),
            QStringLiteral("keepalive-time=100"),
            QStringLiteral("!"), QStringLiteral("videoconvert"),
            QStringLiteral("!"), QStringLiteral("videoscale"),
            QStringLiteral("!"), QStringLiteral("videorate"),
            QStringLiteral("!"), QStringLiteral("video/x-raw,format=BGRx,width=%1,height=%2,framerate=%3/1")
                                         .arg(width).arg(height).arg(kFramesPerSecond),
            QStringLiteral("!"), QStringLiteral("queue"), QStringLiteral("leaky=downstream"),
            QStringLiteral("max-size-buffers=1"), QStringLiteral("max-size-bytes=0"), QStringLiteral("max-size-time=0"),
            QStringLiteral("!"), QStringLiteral("fdsink"), QStringLiteral("fd=%1").arg(outputFd)};
}

} // namespace FfmpegCommand
