// 3. Supervision overhead: the CPU time of this process, which hosts the
// ScreenRecorder and its worker thread, over one long recording, as a share of
// the CPU time of the FFmpeg it supervises.
#include "benchsupport.h"
#include "benches.h"

#include "recorder/screenrecorder.h"

#include <sys/resource.h>
#include <time.h>

using namespace Bench;

namespace {

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double childrenCpuMs()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return (double(ru.ru_utime.tv_sec) + double(ru.ru_stime.tv_sec)) * 1e3
            + (double(ru.ru_utime.tv_usec) + double(ru.ru_stime.tv_usec)) / 1e3;
}

} // namespace

int benchCpu(const Options &options)
{
    PrivateHome home;
    useRealFfmpeg();
    const int seconds = options.quick ? 20 : 60;
    constexpr double kGoalPercent = 1.0;

    Table table(QStringLiteral("3. Supervision overhead: program CPU time as a share of FFmpeg's"),
                QStringLiteral("Caprello (this process)"), QStringLiteral("FFmpeg (child)"));

    ScreenRecorder recorder;
    resetFfmpegLog();
    const qint64 selfTicks0 = selfCpuTicks();
    const double selfMs0 = processCpuMs();
    const double childMs0 = childrenCpuMs();
    QElapsedTimer wall;
    wall.start();

    recorder.startRecording(QStringLiteral("Full"));
    if (!waitUntil([&] { return recorder.isRecording(); }, 10000)) {
        table.goal(QStringLiteral("recording"), QStringLiteral("did not start"), QStringLiteral("-"), QStringLiteral("-"), false);
        table.print();
        return 1;
    }
    const qint64 ffmpegPid = childPid(QStringLiteral("ffmpeg"));
    // The event loop sits idle as the window's would while FFmpeg records.
    waitUntil([] { return false; }, seconds * 1000, 1000);
    const qint64 ffmpegTicks = cpuTicks(ffmpegPid);
    const int progress = ffmpegProgressMs();
    recorder.stopRecording();
    waitUntil([&] { return !recorder.isRecording(); }, 15000);
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;

    const double selfMs = processCpuMs() - selfMs0;
    const double selfStatMs = ticksToMs(selfCpuTicks() - selfTicks0);
    const double childMs = childrenCpuMs() - childMs0;
    const double ffmpegStatMs = ticksToMs(ffmpegTicks);

    const double percent = childMs > 0 ? 100.0 * selfStatMs / childMs : 0;
    const double precisePercent = childMs > 0 ? 100.0 * selfMs / childMs : 0;
    table.goal(QStringLiteral("CPU time over a %1 s recording (/proc/self/stat; FFmpeg reaped, RUSAGE_CHILDREN)").arg(seconds),
               ms(selfStatMs, 0) + QStringLiteral(" = %1 %").arg(percent, 0, 'f', 3), ms(childMs, 0),
               QStringLiteral("at most %1 % of FFmpeg's").arg(kGoalPercent, 0, 'f', 0), childMs > 0 && percent <= kGoalPercent);
    table.info(QStringLiteral("same, CLOCK_PROCESS_CPUTIME_ID (ns resolution)"),
               ms(selfMs, 1) + QStringLiteral(" = %1 %").arg(precisePercent, 0, 'f', 3));
    table.info(QStringLiteral("FFmpeg from /proc/<pid>/stat just before STOP"), QString(), ms(ffmpegStatMs, 0));
    table.info(QStringLiteral("CPU load over the wall time (%1 s)").arg(wallMs / 1000, 0, 'f', 1),
               QStringLiteral("%1 % of a core").arg(100.0 * selfMs / wallMs, 0, 'f', 3),
               QStringLiteral("%1 % of a core").arg(100.0 * childMs / wallMs, 0, 'f', 1));
    table.info(QStringLiteral("FFmpeg error-output pieces handled by the worker"),
               QString::number(ffmpegLogMessages()), QStringLiteral("%1 s of output").arg(progress / 1000.0, 0, 'f', 1));
    table.note(QStringLiteral("Program CPU is everything this process spent from just before startRecording(\"Full\") "
                              "until isRecording was false again (start, the device query, supervision, logging, stop, "
                              "the folder re-read); FFmpeg's children CPU is excluded. Clock tick: %1 ms.")
                       .arg(ticksToMs(1), 0, 'f', 0));
    table.print();
    return table.misses();
}
