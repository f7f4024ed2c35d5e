// 4. Capture fidelity: the same recording through the program and by hand, one
// after the other in the same run, compared on FFmpeg's own dup/drop counts and on
// what ffprobe finds in the files (frame rate, audio/video length difference).
#include "benchsupport.h"
#include "benches.h"

#include "recorder/screenrecorder.h"

#include <QFileInfo>
#include <QSignalSpy>

#include <algorithm>
#include <cmath>

using namespace Bench;

namespace {

struct Capture {
    bool ok = false;
    FinalStats stats;
    ProbeResult probe;
    double avDiff() const { return std::abs(probe.videoDuration - probe.audioDuration); }
};

Capture throughProgram(int seconds)
{
    Capture c;
    ScreenRecorder recorder;
    QSignalSpy orders(&recorder, &ScreenRecorder::startWorkerRecording);
    resetFfmpegLog();
    recorder.startRecording(QStringLiteral("Full"));
    if (orders.isEmpty() || !waitUntil([&] { return recorder.isRecording(); }, 10000))
        return c;
    const QString file = orders.first().at(0).toString();
    if (!waitUntil([&] { return ffmpegProgressMs() >= seconds * 1000; }, seconds * 1000 + 30000, 10))
        return c;
    recorder.stopRecording();
    if (!waitUntil([&] { return !recorder.isRecording(); }, 15000))
        return c;
    // The worker logs the last pieces of error output as FFmpeg ends.
    c.stats = finalStats(ffmpegLogTail());
    c.probe = probe(file);
    c.ok = c.stats.found && c.probe.ok;
    return c;
}

Capture byHand(const QString &file, int seconds)
{
    Capture c;
    HandFfmpeg hand;
    hand.start(ffmpegProgram(), fullArguments(file));
    if (!hand.process().waitForStarted(10000))
        return c;
    if (!waitUntil([&] { return hand.progressMs() >= seconds * 1000; }, seconds * 1000 + 30000, 10)) {
        hand.process().kill();
        hand.process().waitForFinished(5000);
        return c;
    }
    hand.process().write("q\n");
    if (!hand.process().waitForFinished(15000))
        return c;
    c.stats = finalStats(hand.errorText());
    c.probe = probe(file);
    c.ok = c.stats.found && c.probe.ok;
    return c;
}

struct Totals {
    int runs = 0;
    double fps = 0, avDiff = 0, frames = 0, dup = 0, drop = 0;
    QStringList dupDrop;  // each run's dup + drop
    std::vector<double> dupDropValues;
    void add(const Capture &c)
    {
        ++runs;
        dupDrop << QString::number(c.stats.dup + c.stats.drop);
        dupDropValues.push_back(double(c.stats.dup + c.stats.drop));
        fps += c.probe.fps();
        avDiff += c.avDiff();
        frames += double(c.probe.videoFrames);
        dup += double(c.stats.dup);
        drop += double(c.stats.drop);
    }
    double mean(double sum) const { return runs ? sum / runs : 0; }
};

} // namespace

int benchFidelity(const Options &options)
{
    PrivateHome home;
    useRealFfmpeg();
    const int seconds = options.quick ? 8 : 20;
    // Program, hand, hand, program: each side goes first once, so that a drift of
    // the machine over the run weighs on both alike.
    const QList<bool> order = options.quick ? QList<bool>{true, false} : QList<bool>{true, false, false, true};

    Totals program, hand;
    int failures = 0;
    for (int i = 0; i < order.size(); ++i) {
        const Capture c = order.at(i) ? throughProgram(seconds)
                                      : byHand(home.path() + QStringLiteral("/hand-%1.mp4").arg(i), seconds);
        if (!c.ok) {
            ++failures;
            continue;
        }
        (order.at(i) ? program : hand).add(c);
    }

    // Tolerances: about FFmpeg's own run-to-run spread on this machine. dup and drop
    // follow the capture's timing jitter, so the spread between the by-hand runs
    // themselves counts too.
    const double fpsTolerance = std::max(0.3, 0.01 * hand.mean(hand.fps));
    const double handSpread = hand.dupDropValues.empty()
            ? 0
            : *std::max_element(hand.dupDropValues.begin(), hand.dupDropValues.end())
                    - *std::min_element(hand.dupDropValues.begin(), hand.dupDropValues.end());
    const double dupDropTolerance = std::max({5.0, 0.02 * hand.mean(hand.frames), handSpread});
    constexpr double kAvToleranceS = 0.050;

    Table table(QStringLiteral("4. Capture fidelity: %1 s of \"Full\" through the program and by hand (mean of %2 each)")
                        .arg(seconds).arg(order.size() / 2),
                QStringLiteral("Caprello"), QStringLiteral("FFmpeg by hand"));
    const bool both = program.runs > 0 && hand.runs > 0;
    const double pFps = program.mean(program.fps), hFps = hand.mean(hand.fps);
    table.goal(QStringLiteral("output frame rate (ffprobe nb_frames / video duration)"),
               QStringLiteral("%1 fps").arg(pFps, 0, 'f', 2), QStringLiteral("%1 fps").arg(hFps, 0, 'f', 2),
               QStringLiteral("at least by hand - %1 fps").arg(fpsTolerance, 0, 'f', 2),
               both && pFps >= hFps - fpsTolerance);
    const double pDD = program.mean(program.dup + program.drop), hDD = hand.mean(hand.dup + hand.drop);
    table.goal(QStringLiteral("dup + drop (FFmpeg's last progress line)"),
               QStringLiteral("%1 (dup %2, drop %3)").arg(pDD, 0, 'f', 1).arg(program.mean(program.dup), 0, 'f', 1)
                       .arg(program.mean(program.drop), 0, 'f', 1),
               QStringLiteral("%1 (dup %2, drop %3)").arg(hDD, 0, 'f', 1).arg(hand.mean(hand.dup), 0, 'f', 1)
                       .arg(hand.mean(hand.drop), 0, 'f', 1),
               QStringLiteral("at most by hand + %1").arg(dupDropTolerance, 0, 'f', 0), both && pDD <= hDD + dupDropTolerance);
    const double pAv = program.mean(program.avDiff), hAv = hand.mean(hand.avDiff);
    table.goal(QStringLiteral("|video - audio| stream length (ffprobe)"), ms(pAv * 1000), ms(hAv * 1000),
               QStringLiteral("at most by hand + %1").arg(ms(kAvToleranceS * 1000, 0)),
               both && pAv <= hAv + kAvToleranceS);
    table.info(QStringLiteral("dup + drop of each run"), program.dupDrop.join(QStringLiteral(", ")),
               hand.dupDrop.join(QStringLiteral(", ")));
    table.info(QStringLiteral("video frames in the file"), QString::number(program.mean(program.frames), 'f', 0),
               QString::number(hand.mean(hand.frames), 'f', 0));
    table.note(QStringLiteral("Each recording is stopped once FFmpeg reports %1 s of output; order program, hand%2. "
                              "Tolerances: frame rate max(0.3 fps, 1 %), dup+drop max(5, 2 % of the frames, the spread "
                              "between the by-hand runs), "
                              "A/V difference 50 ms (1.5 frames at 30 fps).")
                       .arg(seconds)
                       .arg(order.size() > 2 ? QStringLiteral(", hand, program") : QString()));
    if (failures)
        table.note(QStringLiteral("Failed recordings left out: %1.").arg(failures));
    table.print();
    return table.misses();
}
