// velto-cli: the wall time of `write` against the upload's 1700 ms schedule, and the
// program's own start-up. The simulator stamps each frame on arrival (CLOCK_MONOTONIC).
//   bench_cli [RUNS]
#include "link/tuneimage.h"
#include "core/controller.h"
#include "files/mapfile.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

// Wall time of one run of velto-cli in ms, or -1 when it failed.
double runCli(const QStringList &arguments)
{
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.start(QStringLiteral(VELTO_CLI), arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "velto-cli %s: %s\n", qPrintable(arguments.join(' ')),
                     p.readAllStandardError().constData());
        return -1;
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("VELTO_SIM"))
        qputenv("VELTO_SIM", VELTO_SIM_DEFAULT);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QList<double> startup;
    for (int i = 0; i < 20; ++i) {
        const double ms = runCli({"--version"});
        if (ms < 0)
            return 1;
        startup << ms;
    }
    std::printf("start-up (velto-cli --version, 20 runs): median %.1f ms, min %.1f ms, max %.1f ms\n",
                median(startup), *std::min_element(startup.begin(), startup.end()),
                *std::max_element(startup.begin(), startup.end()));

    QTemporaryDir dir;
    const QString tune = dir.filePath("tune.txt");
    {
        MapFile::writeFile(tune, MapFile::bytesOf(startupTune()));
    }
    const double imageMs = runCli({"image", tune});
    std::printf("velto-cli image (load and convert, no port): %.1f ms\n", imageMs);

    SimProcess sim;
    if (!sim.start()) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    QList<double> walls, spans;
    for (int run = 1; run <= runs; ++run) {
        const double wall = runCli({"write", tune, "--port", sim.devicePath()});
        if (wall < 0 || !sim.waitForEvents("command 48", run, 3000))
            return 1;
        double first = -1, end = 0;
        int endsSeen = 0;
        for (const QString &line : sim.logLines()) {
            const QStringList f = line.split(' ');
            if (endsSeen == run - 1 && first < 0 && f.value(1) == "frame")
                first = f[0].toDouble();
            if (f.value(1) == "command" && f.value(2) == "48" && ++endsSeen == run) {
                end = f[0].toDouble();
                break;
            }
        }
        const double span = (end - first) * 1000;
        walls << wall;
        spans << span;
        std::printf("write %d: wall %.1f ms; first frame to end command %.1f ms (schedule 1700 ms); "
                    "wall over the schedule %+.1f ms\n",
                    run, wall, span, wall - 1700);
    }
    std::printf("write, median of %d: wall %.1f ms, first frame to end command %.1f ms, over the schedule %+.1f ms\n",
                runs, median(walls), median(spans), median(walls) - 1700);
    return 0;
}
