// The upload on a line with a pacer: the click hands slot 1 over, tick n tells how
// slot n went and hands slot n + 1 over (one slot ahead), and a slot that failed or a
// frame that cannot be built stops the upload before the end command.
#include "link/transmitter.h"

#include "common/names.h"
#include "defaultimage.h"
#include "fakes.h"
#include "link/parameterimage.h"

#include <QtTest>
#include <stdexcept>

namespace {

const QByteArray endCommand = QByteArray::fromHex("004861616161");
const QString interrupted =
    QString::fromUtf8(" O envio foi interrompido: os dados não chegaram inteiros ao módulo. Envie novamente. ");

// A line whose pacer only records: what each slot was handed, the slots told as passed.
class PacedPort : public FakePort, public LinkPacer {
public:
    LinkPacer *pacer() override { return this; }
    void start(int periodMs) override { periods << periodMs; }
    void hand(int slot, const QByteArray &bytes) override { handed << qMakePair(slot, bytes); }
    void passed(int slot) override
    {
        passedSlots << slot;
        if (slot == failingSlot)
            throw std::runtime_error("WriteFile function failed (win error code: 5)");
    }
    void stop() override { ++stops; }

    QList<int> periods;
    QList<QPair<int, QByteArray>> handed;
    QList<int> passedSlots;
    int failingSlot = 0;
    int stops = 0;
};

struct PacedRig : Rig {
    PacedPort paced;
    Context pacedCtx{screen, paced, prompt, timer1, timer2, timerTps, timerReadBack, state, {}};
    ParameterImage image{pacedCtx};
    Transmitter tx{pacedCtx, image};
    PacedRig()
    {
        for (const QString &b : names::transferButtons())
            screen.setEnabled(b, true);
        screen.setEnabled("btnAtivar", false);
        state.link = LinkState::Open; // as after "&Ativar"
        state.moduleKnown = true;
    }
};

// What slot n sends for the start-up screen.
QByteArray slotBytes(int slot)
{
    if (slot <= 32)
        return defaultimage::frame(defaultimage::image(), slot);
    return slot == 35 ? endCommand : QByteArray();
}

} // namespace

class TestPacedUpload : public QObject {
    Q_OBJECT
private slots:
    void slotsHandedOneAhead();
    void stopsBeforeTheEndCommand_data();
    void stopsBeforeTheEndCommand();
};

void TestPacedUpload::slotsHandedOneAhead()
{
    PacedRig rig;
    rig.tx.btnEnviaClick();
    QCOMPARE(rig.paced.periods, QList<int>{50});
    QCOMPARE(rig.paced.handed.size(), 1);
    QCOMPARE(rig.paced.handed.first().first, 1);
    QCOMPARE(rig.paced.handed.first().second.toHex(' '), slotBytes(1).toHex(' '));
    QCOMPARE(int(rig.tx.tickCounter()), 0);
    QVERIFY(rig.timer2.isEnabled());
    for (int tick = 1; tick <= 35; ++tick) {
        rig.guarded([&] { rig.tx.Timer2Timer(); });
        QCOMPARE(rig.paced.passedSlots.last(), tick);
        QCOMPARE(rig.screen.barPosition("pbCarregando"), tick);
        QCOMPARE(rig.screen.barPosition("pbCarregando1"), tick);
        if (tick < 35) {
            QCOMPARE(rig.paced.handed.size(), tick + 1);
            QCOMPARE(rig.paced.handed.last().first, tick + 1);
            QCOMPARE(rig.paced.handed.last().second.toHex(' '), slotBytes(tick + 1).toHex(' '));
            QVERIFY(rig.timer2.isEnabled());
            QVERIFY(rig.screen.isVisible("pnAguarde"));
            QCOMPARE(rig.paced.stops, 0);
        }
        // The TPS bar takes its limits once slot 31 has passed.
        QCOMPARE(rig.screen.barMin("BarraTps"), tick >= 31 ? 130 / 4 : 0);
    }
    QCOMPARE(rig.paced.handed.size(), 35);
    QVERIFY(!rig.timer2.isEnabled());
    QCOMPARE(rig.paced.stops, 1);
    QVERIFY(rig.tx.outcome() == Transmitter::Outcome::Completed);
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
    for (const QString &b : names::transferButtons())
        QVERIFY2(rig.screen.isEnabled(b), qPrintable(b));
    QVERIFY(rig.paced.writes.isEmpty()); // everything went through the pacer
    QVERIFY(rig.prompt.messages.isEmpty());
}

void TestPacedUpload::stopsBeforeTheEndCommand_data()
{
    QTest::addColumn<int>("failingSlot"); // the slot whose write failed (0: none)
    QTest::addColumn<QString>("field");   // a field edited after tick editedAfter
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("editedAfter");
    QTest::addColumn<int>("lastHanded");  // the last slot handed over
    QTest::addColumn<int>("tickAtEnd");
    QTest::addColumn<QString>("message");
    QTest::newRow("write of frame 1 failed") << 1 << "" << "" << 0 << 1 << 1
                                             << "WriteFile function failed (win error code: 5)";
    QTest::newRow("write of frame 20 failed") << 20 << "" << "" << 0 << 20 << 20
                                              << "WriteFile function failed (win error code: 5)";
    QTest::newRow("end command failed") << 35 << "" << "" << 0 << 35 << 35
                                        << "WriteFile function failed (win error code: 5)";
    // Frame 11 is built at tick 10: an edit after tick 9 is caught before it is handed.
    QTest::newRow("frame 11 cannot be built") << 0 << "e9i" << "" << 9 << 10 << 11
                                              << "'' is not a valid floating point value\nO campo e9i (injeção linha 2 coluna 2) está vazio: escreva um número.";
    QTest::newRow("box emptied before frame 31")
        << 0 << "cbPontoZero" << "05" << 25 << 30 << 31
        << QString::fromUtf8(" Atenção ! !  O valor \"05\" do campo Ponto  Zero não é um dos valores da lista. "
                             "Selecione um dos Valores. O bloco 31 não foi enviado.  ");
}

void TestPacedUpload::stopsBeforeTheEndCommand()
{
    QFETCH(int, failingSlot);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, editedAfter);
    QFETCH(int, lastHanded);
    QFETCH(int, tickAtEnd);
    QFETCH(QString, message);
    PacedRig rig;
    rig.paced.failingSlot = failingSlot;
    rig.tx.btnEnviaClick();
    for (int tick = 1; tick <= 35 && rig.timer2.isEnabled(); ++tick) {
        rig.guarded([&] { rig.tx.Timer2Timer(); });
        if (tick == editedAfter) {
            if (field.startsWith("cb"))
                rig.screen.type(field, text);
            else
                rig.screen.setText(field, text);
        }
    }
    QCOMPARE(rig.prompt.messages, QStringList{message + "\n" + interrupted});
    QCOMPARE(rig.paced.handed.last().first, lastHanded);
    for (const auto &[slot, bytes] : rig.paced.handed)
        QVERIFY2(bytes != endCommand || failingSlot == 35, "no end command after a failure");
    QCOMPARE(int(rig.tx.tickCounter()), tickAtEnd);
    QCOMPARE(rig.screen.barPosition("pbCarregando1"), tickAtEnd);
    QVERIFY(!rig.timer2.isEnabled());
    QCOMPARE(rig.paced.stops, 1);
    QVERIFY(rig.tx.outcome() == Transmitter::Outcome::Interrupted);
    for (const QString &b : names::transferButtons())
        QVERIFY2(rig.screen.isEnabled(b), qPrintable(b));
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
}

QTEST_GUILESS_MAIN(TestPacedUpload)
#include "tst_pacedupload.moc"
