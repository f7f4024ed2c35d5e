#include "ffmpegcommand.h"

#include "platform/screenfeed.h"

namespace FfmpegCommand {

namespace {

constexpr int kFramesPerSecond = ScreenFeed::kFramesPerSecond;

// A pause freezes FFmpeg, and with it its filters: the paused span shows in them as
// a stall of FFmpeg's own clock (RTCTIME, in microseconds) of at least this long
// between two frames. The worker makes every pause last that long.
constexpr char kStallUs[] = "400000";

// How long after a grab FFmpeg reads it, through the pipe (measured on X: the first grab
// after a resume, taken the moment GStreamer runs again, was read 10 to 13 ms after it
// on average).
constexpr double kPipeLagS = 0.011;

// What a pause's sound cut leaves in on Linux, where the muted silence is dropped in
// 2.5 ms pieces: a piece that holds sound too stays whole, so some of the silence at the
// pause's two edges stays. The picture's cut leaves as much in, or the sound fell behind the
// picture after each pause (2 to 7.5 ms a pause, 4.5 on average, in 5 runs of 8 pauses).
constexpr double kSoundLeftInS = 0.004;

// Frames the screen input may queue while FFmpeg is behind; a pause's jump in the grabs'
// stamps can come only after all of them.
constexpr int kScreenQueue = 32;

// The screen comes from GStreamer through a pipe (else from a grabber inside FFmpeg).
bool throughPipe(Platform::CaptureBackend backend)
{
    return backend == Platform::CaptureBackend::PortalPulse || backend == Platform::CaptureBackend::X11Feed;
}

QStringList screenInput(Platform::CaptureBackend backend, const Screen &screen)
{
    // Room for a second of frames: after a pause FFmpeg first works through the sound
    // that waited, and a grabber kept waiting for room meanwhile would leave a still.
    const QStringList queue{QStringLiteral("-thread_queue_size"), QString::number(kScreenQueue)};
    if (backend == Platform::CaptureBackend::X11Pulse)
        return queue + QStringList{QStringLiteral("-f"), QStringLiteral("x11grab"), QStringLiteral("-i"), screen.display};
    if (throughPipe(backend)) {
        // Raw frames carry no size and no time: the size is told here, and each frame
        // is stamped when FFmpeg reads it, as x11grab stamps its grabs. The pipeline
        // hands over only the newest frame, so the picture is never behind the sound.
        // The "frame rate" here is only the stamps' unit: milliseconds. In whole frames
        // each stamp was rounded by up to half a frame, and so was a pause's cut.
        // Opened by its file name: an input named "pipe:..." turns off FFmpeg's reading
        // of its standard input, and with it the "q" that stops the recording.
        return queue + QStringList{QStringLiteral("-f"), QStringLiteral("rawvideo"),
                QStringLiteral("-use_wallclock_as_timestamps"), QStringLiteral("1"),
                QStringLiteral("-pixel_format"), QStringLiteral("bgr0"),
                QStringLiteral("-video_size"), QStringLiteral("%1x%2").arg(screen.width).arg(screen.height),
                QStringLiteral("-framerate"), QStringLiteral("1000"),
                QStringLiteral("-i"), QStringLiteral("/dev/fd/%1").arg(screen.pipe)};
    }
    return queue + QStringList{QStringLiteral("-f"), QStringLiteral("gdigrab"), QStringLiteral("-i"), QStringLiteral("desktop")};
}

// An empty device keeps its place so that the input numbers in the filter stay right.
QStringList audioInput(Platform::CaptureBackend backend, const QString &device)
{
    if (backend != Platform::CaptureBackend::GdiDirectShow) {
        // Room for all the sound server kept through a long pause (about 20 s), so that
        // FFmpeg takes it off the server at once: a server whose buffer stays full drops
        // the sound that follows the resume.
        return {QStringLiteral("-thread_queue_size"), QStringLiteral("1024"), QStringLiteral("-f"), QStringLiteral("pulse"), QStringLiteral("-i"),
                device.isEmpty() ? QStringLiteral("default") : device};
    }
    // DirectShow's own buffer (500 ms by default) is what a suspended FFmpeg finds
    // on resume, sound of the pause: keep it short.
    return {QStringLiteral("-f"), QStringLiteral("dshow"), QStringLiteral("-audio_buffer_size"), QStringLiteral("50"),
            QStringLiteral("-i"), QStringLiteral("audio=%1").arg(device)};
}

// Always a point as decimal mark and one decimal: FFmpeg's parser needs "0.5",
// never the "0,5" of a German locale.
QString gain(double value)
{
    return QString::number(value, 'f', 1);
}

// "[<first>:a]...volume=S[a_spk]; [<first+1>:a]...volume=M[a_mic]; ...amix...[aout]".
// `base` is the input time the file's time counts from, in seconds. `dropMuted`: the
// muted silence of a pause is dropped (where the sound server mutes FFmpeg's streams).
QString audioMixFilter(int firstAudioInput, double speakerVolume, double micVolume, const QString &base, bool dropMuted)
{
    // Each input's time is a count of its samples from its first packet's stamp, held
    // to the wall clock that stamps the picture: a sound device's clock runs a little
    // fast or slow (tens of parts per million), enough to part sound from picture by a
    // frame every few minutes. How far the packets' stamps lie from the count is
    // followed slowly (over half a minute, so their jitter averages out, and so does
    // the first stamp's error, up to some hundredths), and aresample stretches or
    // squeezes the sound by at most 0.2 % to match, out of hearing. For two seconds
    // after a stall the stamps are not followed (the sound that waited is read in a
    // rush); a jump of more than 0.1 s in them is sound the server could not keep
    // through a long pause, which the cut below deals with. The stretching holds no
    // more than a few samples back, and aresample pads nothing here: sound it held
    // when FFmpeg froze would come out after the stall and be counted as the pause's.
    // ld(0): time of the first sample, ld(1): the correction, ld(3): clock at the last
    // packet, ld(4): clock at the last stall, ld(5): jumps, ld(6): this packet's lead.
    // A pause stalls the input's filters: what comes after is moved back so that the sound
    // the server took in as FFmpeg ran again follows on from what came before. When that
    // was: the wall clock as the first packet after the stall arrives, less the shortest
    // delay yet seen between a packet's end and its arrival (in the next filter's own
    // memory, ld(7); ld(2): where the sound so far ends, ld(3): this packet's delay). A busy
    // FFmpeg reads the sound late, by a tenth of a second and more: moved back by the stall
    // alone, the sound kept that much of the pause's silence.
    // The sound server keeps what a paused FFmpeg's muted streams get, silence, and
    // hands it over on resume, up to its buffer's size: digital silence is dropped (in
    // 100 ms pieces first, which takes most of a long pause's cheaply, then in 2.5 ms
    // pieces), and a piece that would then start before the one before it ended
    // is moved on to follow it. So nothing heard is lost or doubled, whether the server
    // kept the whole pause or less of it, and a stall that was no pause undoes itself.
    // Only what was moved back before what came earlier can be the pause's: all else
    // gets an inaudible 1e-9, so that an input's silence (nothing playing, the
    // microphone off) is kept and never holds the mix back. Each input is cut on its
    // own: the server mutes a stream from its source's next block on (a tenth of a
    // second for some), and the mix is silent only where both are: too little is cut.
    // aeval works sample by sample, the costliest piece here: after a long pause FFmpeg
    // works through the 20 s the server kept, and meanwhile the screen's queue filled
    // (stills of 0.2-0.37 s). A frame that starts over a second before the latest one
    // (packets are far shorter) lies wholly before what came earlier and would come out
    // unchanged: aeval skips it (never one without a time).
    // Windows has no mute, so no muted silence: the ffmpeg.exe shipped there is built
    // without aeval, astats, ametadata and asetnsamples, and would refuse the graph.
    const QString dropSilence = QStringLiteral(
            "astats=metadata=1:reset=1:measure_perchannel=none:measure_overall=Peak_level,"
            "ametadata=mode=select:key=lavfi.astats.Overall.Peak_level:value=-1000:function=greater");
    const QString chain = QStringLiteral(
            "asetpts='if(eq(N,0),st(0,T-%1));if(N*gt(RTCTIME-ld(3),%2),st(4,RTCTIME));st(3,RTCTIME);"
            "st(6,T-%1-ld(0)-N/SR-ld(1)-ld(5));if(N*gt(RTCTIME-ld(4),2000000)*not(isnan(T)),"
            "if(gt(abs(ld(6)),0.1),st(5,ld(5)+ld(6)),st(1,ld(1)+ld(6)*NB_SAMPLES/SR/30)));"
            "(ld(0)+ld(1))*SR+N',"
            "aresample=async=100:min_hard_comp=1:flags=res,"
            "asetpts='st(3,RTCTIME/1e6-(PTS+NB_SAMPLES)/SR);if(N*gt(RTCTIME-ld(0),%2),"
            "st(1,max(ld(1),(RTCTIME/1e6-ld(7))*SR-ld(2))),st(7,if(N,min(ld(7),ld(3)),ld(3))));"
            "st(0,RTCTIME);st(2,PTS+NB_SAMPLES-ld(1));PTS-ld(1)',%3"
            "asetpts='st(1,max(PTS,ld(2)));st(2,ld(1)+NB_SAMPLES);ld(1)',"
            "aresample=async=1:min_hard_comp=0:first_pts=0,")
            .arg(base, QLatin1String(kStallUs),
                 dropMuted ? QStringLiteral("aeval='if(lt(t,ld(0)-0.0001),val(ch),st(0,t)*0+val(ch)+1e-9)':c=same:"
                                            "enable='not(lt(t,ld(0)-1))+0*st(0,max(t,ld(0)))',"
                                            "asetnsamples=n=4800:p=0,%1,asetnsamples=n=120:p=0,%1,").arg(dropSilence)
                           : QString());
    return QStringLiteral("[%1:a]%2volume=%3[a_spk]; [%4:a]%2volume=%5[a_mic]; "
                          "[a_spk][a_mic]amix=inputs=2:duration=longest[aout]")
            .arg(QString::number(firstAudioInput), chain, gain(speakerVolume),
                 QString::number(firstAudioInput + 1), gain(micVolume));
}

// Crop of the grabbed desktop, clamped to its right and bottom edges by FFmpeg.
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
    return QStringLiteral("crop=w=min(%1\\,iw-%3):h=min(%2\\,ih-%4):x=%3:y=%4")
            .arg(QString::number(w), QString::number(h), QString::number(x), QString::number(y));
}

// The picture's times: "[0:v][crop,]setpts=...[vout]", for the screen from `backend`.
QString pictureFilter(const QString &crop, const QString &base, Platform::CaptureBackend backend)
{
    // Each grab is stamped with the time it was read, so the first one after a pause is
    // a whole pause later than the one before: that jump is taken out, but for what the
    // two grabs' times leave in. On X through the pipe the screen feed grabs the last
    // frame as the pause comes, and GStreamer grabs the first the moment it runs again:
    // what is left in is the way through the pipe (a steady 10 to 20 ms between the two
    // reads and FFmpeg's stop and run, 8 pauses; with a frame's worth left in, the picture
    // came some 17 ms later after each pause than the sound). On Wayland the last grab
    // comes a frame's time at random before the pause: half a frame more is left in
    // (not measured there). Any frame shows the screen
    // as it was some time before FFmpeg read it (half a frame on average since the screen
    // changed, and the pipe): every stamp is moved back by that, or the picture came some
    // 25 ms after the sound. The grabbers inside FFmpeg (Windows, and x11grab) keep a
    // whole frame, as measured before. On Linux the cut also leaves in what the sound's
    // leaves in.
    // Only a jump within a queue's length (and a few) of a stall of FFmpeg (the grabs
    // queued before the pause come first; FFmpeg may have been behind, after a long
    // pause) is a pause, not a slow grab.
    // A grab that comes late after the resume (its thread waiting for room in FFmpeg's
    // queue) is no later in the file than the resume itself: the cut ends there.
    // On X the file keeps each grab's own time: rounded to a steady rate's grid, the frames
    // moved against it at every pause's cut, by up to half a frame. So does Windows, where
    // gdigrab grabs at a steady rate of its own (and the ffmpeg.exe shipped there has no
    // fps filter). Elsewhere (the portal sends frames only when the screen changes) a
    // steady rate from the first grab on: the file's picture starts there, not with copies
    // of it. A frame is never stamped within 2 ms of the one before: the file's frames
    // must follow one another.
    // ld(0): clock at the last frame, ld(1): time taken out, ld(2): last stamp,
    // ld(3): the frame at which FFmpeg was seen stalled (-100: none), ld(4): when,
    // ld(5): the last frame's time in the file.
    const bool onX = backend == Platform::CaptureBackend::X11Feed;
    const bool grabTimes = onX || backend == Platform::CaptureBackend::GdiDirectShow;  // no fps
    const bool piped = throughPipe(backend);
    // How far each stamp lies after the screen it shows, and what a pause's cut leaves in.
    const double lag = piped ? 0.5 / kFramesPerSecond + kPipeLagS : 0.0;
    const double leftIn = (onX ? kPipeLagS : piped ? lag : 1.0 / kFramesPerSecond)
            + (backend == Platform::CaptureBackend::GdiDirectShow ? 0.0 : kSoundLeftInS);
    return QStringLiteral("[0:v]%1setpts='if(eq(N,0),st(3,-100));if(N*gt(RTCTIME-ld(0),%2),st(3,N)+st(4,RTCTIME/1e6));"
                          "if(lt(N-ld(3),%5)*gt(T-ld(2),0.4),st(1,ld(1)+min(T,ld(4))-ld(2)-%6)+st(3,-100));"
                          "st(0,RTCTIME);st(2,T);st(5,max(T-%4-ld(1)-%7,if(N,ld(5)+0.002,-1e9)))/TB'%3[vout]")
            .arg(crop.isEmpty() ? QString() : crop + QLatin1Char(','), QLatin1String(kStallUs),
                 grabTimes ? QString() : QStringLiteral(",fps=%1").arg(kFramesPerSecond), base,
                 QString::number(kScreenQueue + 8), QString::number(leftIn, 'f', 4), QString::number(lag, 'f', 4));
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

QStringList arguments(const Order &order, Platform::CaptureBackend backend, const Screen &screen)
{
    const Variant variant = variantForMode(order.mode);
    // DirectShow stamps with a clock of its own, so on Windows FFmpeg probes its inputs
    // and counts each from its first packet. Elsewhere every input is stamped with the
    // wall clock: unprobed, they keep it (and start at once), and the file counts from
    // FFmpeg's start.
    const bool wallClock = backend != Platform::CaptureBackend::GdiDirectShow;
    const QString base = wallClock ? QString::number(order.startedAt, 'f', 3) : QStringLiteral("0");
    QStringList args;
    if (wallClock)
        args << QStringLiteral("-nofind_stream_info");
    // Where the sound server mutes a paused FFmpeg's streams (not on Windows).
    const bool muted = backend != Platform::CaptureBackend::GdiDirectShow;

    if (variant == Variant::AudioOnly) {
        args << audioInput(backend, order.speakerDevice)
             << audioInput(backend, order.micDevice)
             << QStringLiteral("-filter_complex")
             << audioMixFilter(0, order.speakerVolume, order.micVolume, base, muted)
             << QStringLiteral("-c:a") << QStringLiteral("libmp3lame")
             << QStringLiteral("-q:a") << QStringLiteral("2")
             << QStringLiteral("-map") << QStringLiteral("[aout]");
    } else {
        const QString crop = variant == Variant::Region
                ? cropFilter(order.x - screen.originX, order.y - screen.originY, order.w, order.h) : QString();
        args << screenInput(backend, screen)
             << audioInput(backend, order.speakerDevice)
             << audioInput(backend, order.micDevice)
             << QStringLiteral("-filter_complex")
             << pictureFilter(crop, base, backend) + QLatin1Char(';') + audioMixFilter(1, order.speakerVolume, order.micVolume, base, muted)
             << QStringLiteral("-map") << QStringLiteral("[vout]")
             << QStringLiteral("-map") << QStringLiteral("[aout]");
        args << QStringLiteral("-fps_mode") << QStringLiteral("passthrough");
        // gdigrab's rate (29.97) would be the encoder's unit of time: each frame rounded to
        // it, a pause's cut (no whole number of frames) lost, and the grabs that catch up
        // after a pause squeezed together. In milliseconds, each grab keeps its time.
        if (backend == Platform::CaptureBackend::GdiDirectShow)
            args << QStringLiteral("-enc_time_base:v") << QStringLiteral("1:1000");
        args << QStringLiteral("-c:v") << QStringLiteral("libx264")
             << QStringLiteral("-preset") << QStringLiteral("ultrafast")
             << QStringLiteral("-crf") << QStringLiteral("28")
             << QStringLiteral("-c:a") << QStringLiteral("aac")
             << QStringLiteral("-b:a") << QStringLiteral("192k")
             << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p")
             // Fragments of at most a second, each written out at once: a file cut off
             // at any moment (FFmpeg killed, power lost, disk full) plays up to there. The
             // header waits for the first fragment, which tells where each stream starts:
             // written before, it would show the first grab from the file's start on.
             << QStringLiteral("-movflags") << QStringLiteral("+frag_keyframe+empty_moov+default_base_moof+delay_moov")
             << QStringLiteral("-frag_duration") << QStringLiteral("1000000")
             << QStringLiteral("-flush_packets") << QStringLiteral("1");
    }
    args << QStringLiteral("-y") << order.fileName;
    return args;
}

} // namespace FfmpegCommand
