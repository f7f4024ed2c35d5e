// caprello_bench <benchmark> [--quick] [--log FILE]
// Benchmarks: start, stop, cpu, fidelity, gallery-list, gallery-frames (see bench/README.md).
// Prints the benchmark's table; exit code 0 when every goal is met, 1 when one is
// missed, 2 on a usage error.
#include "benches.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QQuickStyle>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

int main(int argc, char **argv)
{
    const std::map<std::string, int (*)(const Bench::Options &)> benches = {
        {"start", benchStart},
        {"stop", benchStop},
        {"cpu", benchCpu},
        {"fidelity", benchFidelity},
        {"gallery-list", benchGalleryList},
        {"gallery-frames", benchGalleryFrames},
    };
    Bench::Options options;
    std::string name;
    QString log = QDir::tempPath() + QStringLiteral("/caprello-bench.log");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            options.quick = true;
        else if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc)
            log = QString::fromLocal8Bit(argv[++i]);
        else
            name = argv[i];
    }
    const auto bench = benches.find(name);
    if (bench == benches.end()) {
        std::fprintf(stderr, "usage: %s {start|stop|cpu|fidelity|gallery-list|gallery-frames} [--quick] [--log FILE]\n",
                     argv[0]);
        return 2;
    }

    // What the program does first at its start (src/app/application.cpp).
    Platform::prepareApplication();
    // The window benchmark needs a GUI application set up as the program sets itself up.
    std::unique_ptr<QCoreApplication> app;
    if (name == "gallery-frames") {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // The program's log (and FFmpeg's error output, which the worker logs) goes to a
    // file, as a person's terminal would take it, and is watched for FFmpeg's progress.
    Bench::installFfmpegLogWatch(log);
    return bench->second(options) > 0 ? 1 : 0;
}
