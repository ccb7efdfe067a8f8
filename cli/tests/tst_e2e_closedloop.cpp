// One closed-loop round with the real velto-cli against the simulator's engine: a drive
// logged under the start-up map, the suggestion written to the module, and the map
// moved towards the engine's need.
#include "simprocess.h"
#include "tuning/recordedlogs.h"
#include "tuning/tests/closedloop.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace closedloop;

class TestClosedLoop : public QObject {
    Q_OBJECT
private slots:
    void oneRoundMovesTheMapTowardsTheNeed();
};

void TestClosedLoop::oneRoundMovesTheMapTowardsTheNeed()
{
    QTemporaryDir dir;
    const Tune need = needTune(), start = startupTune();
    writeTune(dir.filePath("need.txt"), need);
    SimProcess sim({"--kind-engine", "--drive-at", "200", "--speedup", "3", "--rate", "max", "--seed", "3", "--engine",
                    dir.filePath("need.txt")});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const QString log = dir.filePath("a.msl"), next = dir.filePath("next.txt");
    const Run r = cli({"log", "--port", sim.devicePath(), "-o", log, "--seconds", "20"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    // The module held the start-up set, and so does the snapshot beside the log.
    QVERIFY(!dropWrongSnapshot(log, start));

    // The kind engine's need scales with the temperature correction and the fan's and
    // A/C's fuel, and its probe measures at full load: every row tells the map's error,
    // no column is full load, no cell marked (stdout holds the changed cells alone).
    // Its loop aims at the probe's middle, not at the tune's targets: whether the probe
    // crossed them tells nothing.
    const Run s = cli({"suggest", log, "-o", next, "--warming-rows", "--full-load-column", "9", "--min-own-share", "0", "--unsettled-rows"});
    QVERIFY2(s.code == 0, qPrintable(s.err));
    const QStringList lines = s.out.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 4, qPrintable(s.out + s.err));
    const Tune suggested = MapFile::readTune(next);
    correction::Settings kind;
    kind.warmRowsOnly = false;
    kind.leanFullLoad = true;
    kind.loopSettled = false;
    const correction::Analysis a = correction::analyse(correction::readLogs({log}), kind);
    const Error before = error(start, need, a), after = error(suggested, need, a);
    QVERIFY(before.covered >= 6);
    QVERIFY2(after.mean < before.mean / 2,
             qPrintable(QStringLiteral("%1 -> %2").arg(before.mean).arg(after.mean)));
    // Most changed cells moved towards the need (a cell beside one that needs much more
    // shares its correction: the ECU interpolates between them), each by at most 10 %,
    // and each stands in its line.
    const auto o = correction::injectionTenths(start), n = correction::injectionTenths(suggested),
               w = correction::injectionTenths(need);
    int changed = 0, closer = 0;
    for (int k = 0; k < correction::cellCount; ++k) {
        if (o[std::size_t(k)] == n[std::size_t(k)])
            continue;
        ++changed;
        if (std::abs(n[std::size_t(k)] - w[std::size_t(k)]) < std::abs(o[std::size_t(k)] - w[std::size_t(k)]))
            ++closer;
        QVERIFY(std::abs(n[std::size_t(k)] - o[std::size_t(k)]) <= o[std::size_t(k)] / 10);
        QVERIFY(lines[changed - 1].startsWith(QStringLiteral("%1 %2 %3 ").arg(k).arg(k / 8 + 1).arg(k % 8 + 1)));
    }
    QCOMPARE(changed, lines.size());
    QVERIFY2(4 * closer >= 3 * changed, qPrintable(QStringLiteral("%1 of %2 closer").arg(closer).arg(changed)));
    // Everything but the injection map is the snapshot's (the module's set as read back).
    const Tune snapshot = MapFile::readTune(dir.filePath("a-mapa.txt"));
    for (int f = 0; f < 200; ++f)
        if (f < 80 || f >= 152)
            QCOMPARE(suggested.texts[f], snapshot.texts[f]);

    // The module takes it: the next log corrects less.
    const Run wr = cli({"write", next, "--port", sim.devicePath(), "--verify"});
    QVERIFY2(wr.code == 0, qPrintable(wr.err));
    const QString log2 = dir.filePath("b.msl");
    const Run r2 = cli({"log", "--port", sim.devicePath(), "-o", log2, "--seconds", "20"});
    QVERIFY2(r2.code == 0, qPrintable(r2.err));
    const double c1 = meanCorrection(logformat::read(log), 30), c2 = meanCorrection(logformat::read(log2), 30);
    QVERIFY2(c2 < c1, qPrintable(QStringLiteral("%1 -> %2").arg(c1).arg(c2)));
    QVERIFY(sim.stop());
}

QTEST_GUILESS_MAIN(TestClosedLoop)
#include "tst_e2e_closedloop.moc"
