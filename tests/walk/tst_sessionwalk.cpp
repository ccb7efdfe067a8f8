// The model-based walk through the core (tests/support/sessionwalk.h): a seeded random
// walk of the user's actions and the link's events, and the sequences it found as
// regression cases. VELTO_WALK_STEPS and VELTO_WALK_SEED set the walk's length and seed.
#include "sessionwalk.h"

#include <QTest>
#include <QTextStream>

#include <cstdlib>

using namespace sessionwalk;

class TstSessionWalk : public QObject {
    Q_OBJECT
private slots:
    void regressions_data();
    void regressions();
    void randomWalk();
};

namespace {

void report(const Steps &steps)
{
    const std::optional<Failure> failure = run(steps);
    if (!failure)
        return;
    const Steps shortest = shrink(steps);
    const std::optional<Failure> again = run(shortest);
    const Failure &f = again ? *again : *failure;
    QFAIL(qPrintable(QStringLiteral("%1 (%2) após o passo %3 de: %4")
                         .arg(f.invariant, f.detail)
                         .arg(f.step + 1)
                         .arg(describe(shortest))));
}

} // namespace

void TstSessionWalk::regressions_data()
{
    QTest::addColumn<QList<int>>("bytes"); // four a step: the operation, then its arguments

    auto step = [](Op op, int a = 0, int b = 0, int c = 0) { return QList<int>{int(op), a, b, c}; };
    // Read back, percent view, cable pulled, back, "Enviar a tela ao módulo": the module
    // must not take percent figures as milliseconds.
    QTest::newRow("percent view, then the check's send")
        << (step(Op::Activate) + step(Op::ReadBack) + step(Op::Frames, 25) + step(Op::Tool, 1, 255, 3) +
            step(Op::EditMode) + step(Op::Percent) + step(Op::Lost) + step(Op::Returned, 0, 0, 0) +
            step(Op::Ticks, 0, 39));
    // A TPS calibration half way, the cable pulled: its intermediate limits never reach
    // the module, and the calibration ends with the loss.
    QTest::newRow("calibration, then a lost port")
        << (step(Op::Activate) + step(Op::ReadBack) + step(Op::Frames, 25) + step(Op::TpsStart) +
            step(Op::TpsTick) + step(Op::Ticks, 1) + step(Op::Frames, 0, 20) + step(Op::TpsTick) +
            step(Op::TpsTick) + step(Op::TpsTick) + step(Op::Lost) + step(Op::Returned, 0, 0, 0) + step(Op::Ticks, 0, 39));
    // "&Desativar" after an upload: the module is not known any more.
    QTest::newRow("percent view and back, then the scanner")
        << (step(Op::EditMode, 37, 21, 215) + step(Op::Percent, 95, 77, 191) + step(Op::BackToMain, 91, 34, 63) +
            step(Op::Activate, 48, 148, 137) + step(Op::Scanner, 106, 248, 30) + step(Op::Scanner, 70, 78, 207) +
            step(Op::Scanner, 62, 176, 77));
    // The scanner switched off, "&Desativar" before Timer1's next tick: its stop command
    // is not written to the closed port.
    QTest::newRow("scanner off, then deactivated")
        << (step(Op::Activate) + step(Op::Scanner) + step(Op::Scanner) + step(Op::Deactivate) + step(Op::Ticks, 1));
    // "&Enviar  Dados" pressed while a read-back was asked for: the read-back's frames
    // would rewrite the texts of the blocks still to be sent.
    QTest::newRow("send while a read-back is asked")
        << (step(Op::Tool, 52, 53, 51) + step(Op::Activate) + step(Op::ReadBack) + step(Op::Send) +
            step(Op::Frames, 153) + step(Op::Ticks, 0, 5) + step(Op::Ticks, 0, 30));
    // A bulk change while the read-back's frames come in.
    QTest::newRow("bulk change during a read-back")
        << (step(Op::Activate) + step(Op::ReadBack) + step(Op::EditMode) + step(Op::Frames, 180) +
            step(Op::Bulk, 191, 159, 72) + step(Op::Frames, 6));
    // "Repouso do TPS" is kept in the map file only: the module cannot differ in it.
    QTest::newRow("a field the module does not hold")
        << (step(Op::Activate) + step(Op::Type, 3, 60, 109) + step(Op::Lost) + step(Op::Returned, 0, 0, 2));
    QTest::newRow("deactivated after an upload")
        << (step(Op::Activate) + step(Op::Send) + step(Op::Ticks, 0, 39) + step(Op::Deactivate));
    QTest::newRow("typed while a read-back is asked, then the link lost")
        << (step(Op::Activate, 251, 220, 18) + step(Op::ReadBack, 121, 5, 114) + step(Op::Type, 214, 249, 26) +
            step(Op::Lost, 225, 53, 27));
}

void TstSessionWalk::regressions()
{
    QFETCH(QList<int>, bytes);
    std::vector<std::uint8_t> raw;
    for (int b : bytes)
        raw.push_back(std::uint8_t(b));
    report(decode(raw.data(), raw.size()));
}

void TstSessionWalk::randomWalk()
{
    const int steps = qEnvironmentVariableIsSet("VELTO_WALK_STEPS") ? qEnvironmentVariableIntValue("VELTO_WALK_STEPS")
                                                                    : 12000;
    const std::uint64_t seed = qEnvironmentVariableIsSet("VELTO_WALK_SEED")
                                   ? std::strtoull(qgetenv("VELTO_WALK_SEED").constData(), nullptr, 10)
                                   : 20261209;
    QTextStream(stdout) << "walk: VELTO_WALK_SEED=" << seed << " VELTO_WALK_STEPS=" << steps << Qt::endl;
    // Walks of 120 steps, each from a core as new, so that every walk ends with all its
    // steps undone and a failure shrinks quickly.
    constexpr int length = 120;
    for (int done = 0, walk = 0; done < steps; done += length, ++walk) {
        const Steps s = sessionwalk::randomWalk(seed * 1000003 + std::uint64_t(walk), std::min(length, steps - done));
        const std::optional<Failure> failure = run(s);
        if (failure) {
            QTextStream(stdout) << "walk " << walk << " of seed " << seed << " failed" << Qt::endl;
            report(s);
            return;
        }
    }
}

QTEST_GUILESS_MAIN(TstSessionWalk)
#include "tst_sessionwalk.moc"
