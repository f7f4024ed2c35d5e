#include "ffmpegcommand.h"

namespace FfmpegCommand {

namespace {

QStringList screenInput(Platform::CaptureBackend backend, const QString &screen)
{
    if (backend == Platform::CaptureBackend::X11Pulse)
        return {QStringLiteral("-f"), QStringLiteral("x11grab"), QStringLiteral("-i"), screen};
    return {QStringLiteral("-f"), QStringLiteral("gdigrab"), QStringLiteral("-i"), QStringLiteral("desktop")};
}

// An empty device keeps its place so that the input numbers in the filter stay right.
QStringList audioInput(Platform::CaptureBackend backend, const QString &device)
{
    if (backend == Platform::CaptureBackend::X11Pulse) {
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

QStringList arguments(const Order &order, Platform::CaptureBackend backend, const QString &screen)
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
             << (region ? cropFilter(order.x, order.y, order.w, order.h) + QLatin1Char(';') + mix : mix)
             << QStringLiteral("-map") << (region ? QStringLiteral("[vout]") : QStringLiteral("0:v"))
             << QStringLiteral("-map") << QStringLiteral("[aout]")
             << QStringLiteral("-c:v") << QStringLiteral("libx264")
             << QStringLiteral("-preset") << QStringLiteral("ultrafast")
             << QStringLiteral("-crf") << QStringLiteral("28")
             << QStringLiteral("-c:a") << QStringLiteral("aac")
             << QStringLiteral("-b:a") << QStringLiteral("192k")
             << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
    }
    args << QStringLiteral("-y") << order.fileName;
    return args;
}

} // namespace FfmpegCommand
