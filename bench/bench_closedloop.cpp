// Three closed-loop rounds against the simulator's engine with a known need, all with
// the real velto-cli: log a drive cycle, suggest, write. Per round: the cells covered,
// over them the mean and largest |map - need| / need before and after, and the mean
// |CorrCurto + CorrLongo| of the next round's log. Then, per covered cell, the need, the
// map, the hits, the mean correction and where in the cell the rows fell.
//   bench_closedloop [seconds per log, default 30] [speed-up, default 2] [rate, default 107]
//                    [drive: free (default) or points]
// The free drive starts warm, 200 s in; the steady points are warm from their start. A
// log of the points' whole cycle takes 202 s of drive: 51 s at a speed-up of 4.
#include "simprocess.h"
#include "tuning/recordedlogs.h"
#include "tuning/tests/cellsight.h"
#include "tuning/tests/closedloop.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

using namespace closedloop;

namespace {

// The kind engine (--kind-engine): its need scales with the temperature correction and
// the fan's and A/C's fuel, and its probe measures at full load.
correction::Settings kindSettings()
{
    correction::Settings s;
    s.warmRowsOnly = false;
    s.leanFullLoad = true;
    return s;
}

// The covered cells after the last round: what the analysis of the log before the last
// suggestion saw there (hits, mean, own share, share through uncovered cells) and what
// the ECU said with the final map.
void printCells(const Tune &map, const Tune &need, const correction::Analysis &seen,
                const std::array<double, correction::cellCount> &uncovered, const correction::Analysis &after)
{
    const auto m = correction::injectionTenths(map), n = correction::injectionTenths(need);
    std::printf("\ncell row col  need   map  map-need   hits  mean corr  own share  uncovered  within  mean corr with this "
                "map\n");
    int within[2] = {0, 0}, cells[2] = {0, 0};
    for (int k = 0; k < correction::cellCount; ++k) {
        const correction::CellSum &c = seen.cells[std::size_t(k)];
        if (c.hits < correction::Settings{}.minHits)
            continue;
        const double need = n[std::size_t(k)], held = m[std::size_t(k)];
        const bool ok = std::abs(held - need) <= std::max(1.0, 0.03 * need) + 1e-9;
        const int centred = c.ownShare() >= 0.5 && uncovered[std::size_t(k)] < 0.1;
        ++cells[centred];
        within[centred] += ok;
        std::printf("%4d %3d %3d  %4.1f  %4.1f  %+7.1f %%  %5.0f  %+7.2f %%  %9.2f  %9.2f  %6s  %+7.2f %%\n", k,
                    k / 8 + 1, k % 8 + 1, need / 10, held / 10, 100 * (held - need) / need, c.hits, c.mean(),
                    c.ownShare(), uncovered[std::size_t(k)], ok ? "yes" : "no", after.cells[std::size_t(k)].mean());
    }
    std::printf("own share = sum of the squared weights / sum of the weights: 1 when every row fell on the cell's "
                "own position, small when they fell near its neighbours\n"
                "uncovered = share of its hits whose rows also weighted cells below the hit minimum (never corrected)\n");
    std::printf("own share >= 0,5 and uncovered < 0,1: %d of %d within; the others: %d of %d within\n", within[1],
                cells[1], within[0], cells[0]);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("VELTO_SIM"))
        qputenv("VELTO_SIM", VELTO_SIM_DEFAULT);
    const QString seconds = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("30");
    const QString speedup = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("2");
    const QString rate = argc > 3 ? QString::fromLatin1(argv[3]) : QStringLiteral("107");
    const QString cycle = argc > 4 ? QString::fromLatin1(argv[4]) : QStringLiteral("free");
    if (cycle != QLatin1String("free") && cycle != QLatin1String("points")) {
        std::fprintf(stderr, "drive: free or points, not %s\n", qPrintable(cycle));
        return 2;
    }
    QTemporaryDir dir;
    const Tune need = needTune();
    writeTune(dir.filePath("need.txt"), need);
    const QString driveStart = cycle == QLatin1String("free") ? QStringLiteral("200") : QStringLiteral("0");
    SimProcess sim({"--kind-engine", "--drive-at", driveStart, "--cycle", cycle, "--speedup", speedup, "--rate", rate, "--seed", "1",
                    "--engine", dir.filePath("need.txt")});
    if (!sim.start()) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    std::printf("%s drive, log %s s per round, drive clock x%s, %s triples a second; need: start-up map changed by "
                "round(15 sin(pi (row - column) / 8)) %%\n",
                qPrintable(cycle), qPrintable(seconds), qPrintable(speedup), qPrintable(rate));
    std::printf("covered: a cell to which the analysis of the round's log gave at least %g hits (the sum of the "
                "bilinear weights of the rows that passed the filters)\n",
                correction::Settings{}.minHits);
    std::printf("round  cells  before: mean  largest   after: mean  largest  within 0,1 ms/3 %%  "
                "|CorrCurto+CorrLongo| this log -> next log\n");
    Tune held = startupTune();
    QString heldPath = dir.filePath("round0.txt");
    writeTune(heldPath, held);
    double previousCorrection = -1;
    correction::Analysis previous;
    std::array<double, correction::cellCount> previousUncovered{};
    Tune before;
    for (int round = 0; round <= 3; ++round) {
        const QString log = dir.filePath(QStringLiteral("round%1.msl").arg(round));
        const Run r = cli({"log", "--port", sim.devicePath(), "-o", log, "--seconds", seconds});
        if (r.code != 0) {
            std::fprintf(stderr, "log: %d %s\n", r.code, qPrintable(r.err));
            return 1;
        }
        if (dropWrongSnapshot(log, held))
            std::printf("(round %d: the snapshot beside the log was not the module's set; --map names it)\n", round);
        const logformat::Log rows = logformat::read(log);
        const double correctionNow = meanCorrection(rows, correction::lambdaTemperature(held));
        if (round > 0) {
            const Error b = error(before, need, previous), a = error(held, need, previous);
            std::printf("%5d  %5d  %12.1f %% %7.1f %%  %10.1f %% %7.1f %%  %17d  %18.2f %% -> %.2f %%\n", round,
                        a.covered, 100 * b.mean, 100 * b.largest, 100 * a.mean, 100 * a.largest, a.within,
                        previousCorrection, correctionNow);
        }
        if (round == 3) {
            printCells(held, need, previous, previousUncovered,
                       correction::analyse(correction::readLogs({log}, heldPath), kindSettings()));
            break;
        }
        const QString next = dir.filePath(QStringLiteral("round%1.txt").arg(round + 1));
        const Run s = cli({"suggest", log, "--map", heldPath, "-o", next, "--warming-rows", "--full-load-column", "9"});
        if (s.code != 0) {
            std::fprintf(stderr, "suggest: %d %s\n", s.code, qPrintable(s.err));
            return 1;
        }
        std::fprintf(stderr, "round %d:\n%s%s", round + 1, qPrintable(s.err), qPrintable(s.out));
        const Run w = cli({"write", next, "--port", sim.devicePath()});
        if (w.code != 0) {
            std::fprintf(stderr, "write: %d %s\n", w.code, qPrintable(w.err));
            return 1;
        }
        previous = correction::analyse(correction::readLogs({log}, heldPath), kindSettings());
        previousUncovered =
            cellsight::uncoveredShares(rows.rows, kindSettings(), correction::lambdaTemperature(held));
        before = held;
        held = MapFile::readTune(next);
        heldPath = next;
        previousCorrection = correctionNow;
    }
    sim.stop();
    return 0;
}
