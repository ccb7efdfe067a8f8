// The injection-map correction: analysing a one-hour log at the line's limit (1152000
// rows, already read) and the suggestion; live accumulation as the window runs it at the
// line's limit (107 rows a second, one per three frames) with the dialog refreshed five
// times a second, in CPU time per frame.
#include "app/correctiondialog.h"
#include "core/controller.h"
#include "core/undo.h"
#include "fakecore.h"
#include "fakes.h"
#include "tuning/correction.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A drive: positions wander, the throttle mostly holds, corrections of a few percent.
std::vector<logformat::Row> drive(long count)
{
    QRandomGenerator g(7);
    std::vector<logformat::Row> rows;
    rows.reserve(std::size_t(count));
    int r = 20, c = 20, tps = 400;
    for (long i = 0; i < count; ++i) {
        logformat::Row x;
        x.ms = i * 1000 / 320;
        if (g.bounded(40) == 0)
            r = std::clamp(r + int(g.bounded(5)) - 2, 0, 48);
        if (g.bounded(40) == 0)
            c = std::clamp(c + int(g.bounded(5)) - 2, 0, 42);
        if (g.bounded(30) == 0)
            tps = std::clamp(tps + int(g.bounded(81)) - 40, 0, 1023);
        LiveValues &v = x.values;
        v.speedPosition = r;
        v.loadPosition = c;
        v.tpsReading = tps;
        v.temperature = 85;
        v.rpm = 900 + 100 * r;
        v.injectionTenths = g.bounded(20) ? 40 : 0;
        v.probeMv = int(g.bounded(900));
        v.correctionShort = int(g.bounded(11)) - 5;
        v.correctionLong = int(g.bounded(7)) - 3;
        rows.push_back(x);
    }
    return rows;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long count = argc > 1 ? std::atol(argv[1]) : 3600L * 320;
    const std::vector<logformat::Row> rows = drive(count);
    CoreRig core;
    const Tune tune = core.c().mapFile().screenTune();

    // Analysis of the whole log, five times.
    double best = 1e9, worst = 0;
    correction::Analysis a;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        a = correction::analyse(rows, correction::Settings{}, 30);
        const correction::Suggestion s = correction::suggest(a, tune, correction::Settings{});
        const double ms = double(t.nsecsElapsed()) / 1e6;
        best = std::min(best, ms);
        worst = std::max(worst, ms);
        if (i == 0)
            std::printf("rows %ld, used %lld, cells changed %d\n", count, static_cast<long long>(a.used), s.changed);
    }
    std::printf("analysis and suggestion of %ld rows: %.1f ms best, %.1f ms worst of 5\n", count, best, worst);

    // Live: one hour of the line's limit through the dialog, refreshed 5 times a second.
    FakePrompt prompt;
    core.c().history().markTransferred(tune);
    core.c().context().state.scannerActive = true;
    CorrectionDialog dialog(core.c(), prompt, [](const std::function<void()> &f) { f(); });
    dialog.show();
    dialog.session().startLive();
    const long liveRows = std::min<long>(count, 107L * 600); // ten minutes at 107 rows a second
    const double cpu0 = cpuSeconds();
    double refreshCpu = 0;
    int refreshes = 0;
    for (long i = 0; i < liveRows; ++i) {
        dialog.liveRow(rows[std::size_t(i)]);
        if (i % 107 == 106 || (i % 107) % 22 == 21) { // five refreshes per second of rows
            const double r0 = cpuSeconds();
            dialog.refreshTick();
            QCoreApplication::processEvents(); // the repaint
            refreshCpu += cpuSeconds() - r0;
            ++refreshes;
        }
    }
    const double cpu = cpuSeconds() - cpu0;
    const double seconds = double(liveRows) / 107;
    const double frames = seconds * 321;
    std::printf("live: %ld rows (%.0f s at 107 rows/s, %.0f frames), %d refreshes; CPU %.3f s in all, %.1f us per "
                "frame = %.2f %% of a frame's 3115 us; refresh %.2f ms each\n",
                liveRows, seconds, frames, refreshes, cpu, cpu / frames * 1e6, cpu / frames * 1e6 / 3115 * 100,
                refreshCpu / refreshes * 1e3);
    return 0;
}
