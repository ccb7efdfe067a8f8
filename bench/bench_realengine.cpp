// The assisted correction against the simulator's real narrow-band engine, all with the
// real velto-cli (not a test: it prints figures).
// Three warm rounds on the free drive (thermostat 90 to 97 °C, A/C off, the tune's fan
// at 99 °C): log, suggest, write. Per round, over the part-load cells the analysis
// covers: mean and largest |map - need| / need before and after, how many within the
// larger of 0,1 ms and 3 %; and whether any full-load cell lost fuel.
// Three cold starts from 25 °C with the warm map right: log, suggest --warmup, write.
// Per round, each typed point of "Correção Ti" above eSondaTemp against the engine's
// need (the start-up curve plus 6, 5, 4, 4, 3, 2, 0, 0).
//   bench_realengine [warm seconds per log, default 20] [cold seconds per log, default 48]
#include "files/mapfilecodec.h"
#include "simprocess.h"
#include "tuning/recordedlogs.h"
#include "tuning/tests/closedloop.h"
#include "tuning/warmup.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

using namespace closedloop;

namespace {

int field(const char *name) { return int(mapfile::fieldControls().indexOf(QLatin1String(name))); }

bool run(const QStringList &arguments)
{
    const Run r = cli(arguments);
    if (r.code != 0)
        std::fprintf(stderr, "velto-cli %s: %s\n", qPrintable(arguments.join(u' ')), qPrintable(r.err));
    return r.code == 0;
}

struct Figures {
    int covered = 0, within = 0;
    double mean = 0, largest = 0;
};

// Over the part-load cells (columns 1 to 7) the analysis covers.
Figures partLoad(const Tune &map, const Tune &need, const correction::Analysis &a)
{
    const auto m = correction::injectionTenths(map), n = correction::injectionTenths(need);
    Figures f;
    for (int k = 0; k < correction::cellCount; ++k) {
        if (k % 8 == 7 || a.cells[std::size_t(k)].hits < correction::Settings{}.minHits)
            continue;
        const double off = std::abs(m[std::size_t(k)] - n[std::size_t(k)]), rel = off / n[std::size_t(k)];
        ++f.covered;
        f.within += off <= std::max(1.0, 0.03 * n[std::size_t(k)]) + 1e-9;
        f.mean += rel;
        f.largest = std::max(f.largest, rel);
    }
    if (f.covered)
        f.mean /= f.covered;
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("VELTO_SIM"))
        qputenv("VELTO_SIM", VELTO_SIM_DEFAULT);
    const QString warmSeconds = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("20");
    const QString coldSeconds = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("48");
    QTemporaryDir dir;
    const Tune need = needTune();

    Tune map = startupTune();
    map.texts[field("eLigaEletro")] = QStringLiteral("99");
    map.texts[field("eDesligaEletro")] = QStringLiteral("95");
    {
        SimProcess sim({"--drive-at", "230", "--speedup", "3", "--rate", "max", "--seed", "3", "--thermostat",
                        "90:97", "--drive-ac", "off"});
        if (!sim.start()) {
            std::fprintf(stderr, "%s\n", qPrintable(sim.errorString()));
            return 1;
        }
        std::printf("warm rounds (part-load covered cells; |map - need| / need)\n"
                    "round covered  before mean/largest  after mean/largest  within after  full load leaned\n");
        for (int round = 1; round <= 3; ++round) {
            const QString tune = dir.filePath(QStringLiteral("m%1.txt").arg(round)),
                          log = dir.filePath(QStringLiteral("w%1.msl").arg(round)),
                          next = dir.filePath(QStringLiteral("n%1.txt").arg(round));
            writeTune(tune, map);
            if (!run({"write", tune, "--port", sim.devicePath(), "--verify"}) ||
                !run({"log", "--port", sim.devicePath(), "-o", log, "--seconds", warmSeconds}) ||
                !run({"suggest", log, "-o", next}))
                return 1;
            const Tune suggested = MapFile::readTune(next);
            const correction::Analysis a = correction::analyse(correction::readLogs({log}), correction::Settings{});
            const Figures before = partLoad(map, need, a), after = partLoad(suggested, need, a);
            const auto o = correction::injectionTenths(map), n = correction::injectionTenths(suggested);
            int leaned = 0;
            for (int k = 7; k < correction::cellCount; k += 8)
                leaned += n[std::size_t(k)] < o[std::size_t(k)];
            std::printf("%5d %7d  %8.1f %% %6.1f %%   %7.1f %% %6.1f %%  %6d of %d  %d cells\n", round, before.covered,
                        100 * before.mean, 100 * before.largest, 100 * after.mean, 100 * after.largest, after.within,
                        after.covered, leaned);
            map = suggested;
        }
        sim.stop();
    }

    writeTune(dir.filePath("need.txt"), startupTune());
    Tune curve = startupTune();
    const int engineNeeds[8] = {61, 45, 34, 24, 15, 7, 0, 0};
    std::printf("\ncold starts (typed points of \"Correção Ti\"; the engine needs 61 45 34 24 15 7 0 0)\n"
                "round   0   15   30   45   60   75   90  105   points above eSondaTemp within 3 of the need\n");
    for (int round = 1; round <= 3; ++round) {
        SimProcess sim({"--cold", "--speedup", "10", "--rate", "max", "--seed", QString::number(10 + round),
                        "--engine", dir.filePath("need.txt")});
        if (!sim.start()) {
            std::fprintf(stderr, "%s\n", qPrintable(sim.errorString()));
            return 1;
        }
        const QString tune = dir.filePath(QStringLiteral("c%1.txt").arg(round)),
                      log = dir.filePath(QStringLiteral("f%1.msl").arg(round)),
                      next = dir.filePath(QStringLiteral("q%1.txt").arg(round));
        writeTune(tune, curve);
        if (!run({"write", tune, "--port", sim.devicePath(), "--verify"}) ||
            !run({"log", "--port", sim.devicePath(), "-o", log, "--seconds", coldSeconds}) ||
            !run({"suggest", log, "-o", next, "--warmup"}))
            return 1;
        sim.stop();
        curve = MapFile::readTune(next);
        int within = 0, above = 0;
        std::printf("%5d", round);
        for (int i = 0; i < correction::warmUpPoints; ++i) {
            const int v = curve.texts[correction::warmUpField(i)].toInt();
            std::printf(" %4d", v);
            if (15 * i >= 30) {
                ++above;
                within += std::abs(v - engineNeeds[i]) <= 3;
            }
        }
        std::printf("   %d of %d\n", within, above);
    }
    return 0;
}
