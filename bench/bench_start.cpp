// 1. Start latency: ScreenRecorder::startRecording("Full") until isRecording is
// true, next to a bare QProcess start (start + waitForStarted) of the same
// program with the same arguments, alternated in the same run.
#include "benchsupport.h"
#include "benches.h"

#include "platform/platform.h"
#include "recorder/screenrecorder.h"

#include <QFileInfo>
#include <QProcess>

using namespace Bench;

namespace {

struct Samples {
    std::vector<double> program;
    std::vector<double> call;  // startRecording() returning: the part on the caller's thread
    std::vector<double> bare;
    std::vector<double> prepared;  // bare, but the QProcess set up as the worker sets it up
    int failures = 0;
};

// One start through the program; returns ms, or -1 on failure. Stops the
// recording again and waits until the program is idle (not timed).
double programStart(ScreenRecorder &recorder, bool realFfmpeg, double *callMs = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    qint64 t0 = 0, t1 = 0, returned = 0;
    resetFfmpegLog();
    const bool ok = waitForSignal(
            &recorder, &ScreenRecorder::isRecordingChanged, [&] { return recorder.isRecording(); },
            [&] {
                t0 = clock.nsecsElapsed();
                recorder.startRecording(QStringLiteral("Full"));
                returned = clock.nsecsElapsed();
            },
            clock, &t1, 10000);
    if (ok && realFfmpeg) {
        // FFmpeg reads "q" only once its inputs are open and it records; a stop
        // before that can leave a file without frames.
        waitUntil([] { return ffmpegProgressMs() >= 500; }, 15000, 20);
    }
    if (recorder.isRecording()) {
        recorder.stopRecording();
        waitUntil([&] { return !recorder.isRecording(); }, 15000, 5);
    }
    if (callMs)
        *callMs = double(returned - t0) / 1e6;
    return ok ? double(t1 - t0) / 1e6 : -1;
}

double bareStart(const QString &program, const QString &file, bool realFfmpeg, bool prepared = false)
{
    const QStringList args = fullArguments(file);
    QProcess p;
    if (prepared) {
        p.setStandardOutputFile(QProcess::nullDevice());
        Platform::prepareProcess(&p);
    }
    QElapsedTimer clock;
    clock.start();
    p.start(program, args, QIODevice::ReadWrite);
    const bool ok = p.waitForStarted(10000);
    const double elapsed = double(clock.nsecsElapsed()) / 1e6;
    if (realFfmpeg) {
        // Only the start is of interest; the file is thrown away.
        p.kill();
    } else {
        p.write("q\n");
    }
    p.waitForFinished(10000);
    QFile::remove(file);
    return ok ? elapsed : -1;
}

Samples measure(const PrivateHome &home, bool realFfmpeg, int iterations)
{
    Samples s;
    ScreenRecorder recorder;
    const QString program = ffmpegProgram();
    // One unmeasured round first: the first process start and the first PulseAudio
    // connection of a process pay one-time costs that a user pays once per session.
    programStart(recorder, realFfmpeg);
    bareStart(program, home.path() + QStringLiteral("/bare-warmup.mp4"), realFfmpeg);
    for (int i = 0; i < iterations; ++i) {
        double call = 0;
        const double a = programStart(recorder, realFfmpeg, &call);
        const double b = bareStart(program, home.path() + QStringLiteral("/bare-%1.mp4").arg(i), realFfmpeg);
        const double c = bareStart(program, home.path() + QStringLiteral("/prepared-%1.mp4").arg(i), realFfmpeg, true);
        if (a < 0 || b < 0 || c < 0) {
            ++s.failures;
            continue;
        }
        s.program.push_back(a);
        s.call.push_back(call);
        s.bare.push_back(b);
        s.prepared.push_back(c);
    }
    return s;
}

QString cell(const std::vector<double> &v)
{
    return ms(median(v)) + QStringLiteral(" (p90 ") + ms(percentile(v, 90)) + QLatin1Char(')');
}

} // namespace

int benchStart(const Options &options)
{
    PrivateHome home;
    const int fakeRuns = options.quick ? 10 : 30;
    const int realRuns = options.quick ? 5 : 10;
    constexpr double kGoalMs = 20.0;

    Table table(QStringLiteral("1. Start latency: startRecording(\"Full\") until isRecording"),
                QStringLiteral("Caprello, median (p90)"), QStringLiteral("Bare QProcess start, median (p90)"));

    useFakeFfmpeg();
    const Samples fake = measure(home, false, fakeRuns);
    useRealFfmpeg();
    const Samples real = measure(home, true, realRuns);

    const auto row = [&](const QString &what, const Samples &s, int runs) {
        const double added = median(s.program) - median(s.bare);
        table.goal(QStringLiteral("%1, %2 of %3 runs").arg(what).arg(s.program.size()).arg(runs),
                   cell(s.program) + QStringLiteral(", +") + ms(added), cell(s.bare),
                   QStringLiteral("at most +%1 ms").arg(kGoalMs, 0, 'f', 0),
                   !s.program.empty() && added <= kGoalMs);
    };
    row(QStringLiteral("fake ffmpeg (tests/fake-ffmpeg)"), fake, fakeRuns);
    row(QStringLiteral("real ffmpeg"), real, realRuns);
    table.info(QStringLiteral("of which: the startRecording() call itself (fake / real)"),
               cell(fake.call) + QStringLiteral(" / ") + cell(real.call));

    // Where the program's extra time goes: the device query it makes before every start.
    std::vector<double> query;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        (void)Platform::audioInputs();
        query.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    table.info(QStringLiteral("reference: bare start with the worker's QProcess set-up (fake / real)"),
               QString(), cell(fake.prepared) + QStringLiteral(" / ") + cell(real.prepared));
    table.info(QStringLiteral("of which: PulseAudio input query (Platform::audioInputs), 20 runs"), cell(query));

    table.note(QStringLiteral("Alternated program/bare in one process, after one unmeasured warm-up round each; "
                              "the bare start runs the same absolute ffmpeg with FfmpegCommand::arguments() "
                              "for \"Full\" (speakers.monitor, mic). The set-up "
                              "reference adds what the worker adds to its QProcess: standard output to the null device "
                              "and Platform::prepareProcess() (a child-process modifier)."));
    table.note(QStringLiteral("Real ffmpeg: only the start side is timed; each program recording runs until "
                              "FFmpeg reports output time (inputs probed) and is then stopped with STOP; "
                              "each bare process is killed right after its start."));
    if (fake.failures || real.failures)
        table.note(QStringLiteral("Failed starts left out: fake %1, real %2.").arg(fake.failures).arg(real.failures));
    table.print();
    return table.misses();
}
