// The rule from the program's state to the controls that can be pressed: one row per
// state, with every governed control that is enabled in it; and the combinations of
// activities in which the buttons each activity switched used to disagree with it.
#include "common/enabledset.h"
#include "fakecore.h"

#include <QtTest>

using namespace enabledset;

Q_DECLARE_METATYPE(enabledset::ProgramState)

namespace {

QStringList enabledNames(const EnabledSet &set)
{
    QStringList out;
    for (const Entry &e : set)
        if (e.enabled)
            out << e.name;
    return out;
}

const QStringList readSend{"btnLerDados", "Button6", "btnEnvia", "Button8"};
const QStringList saveLoad{"btnSalvar", "Button1", "btnCarregar", "Button2"};
const QStringList logClosed{"btnAbrirRegistro", "btnPercentual"};
const QStringList playback{"btnReproduzir", "tbPosicao", "cbVelocidade", "lbMarcas", "btnFecharRegistro"};

ProgramState open()
{
    ProgramState s;
    s.port = Port::Open;
    return s;
}

void upload(CoreRig &rig)
{
    rig.guarded([&] { rig.c().btnEnviaClick(); });
    for (int tick = 1; rig.timer2.isEnabled() && tick < 100; ++tick)
        rig.guarded([&] { rig.c().Timer2Timer(); });
}

// Every control the rule governs that the screen shows enabled, in the rule's order.
QStringList screenEnabled(CoreRig &rig, bool withFields = false)
{
    QStringList out;
    const QStringList fields{"cbDentesPms", "cbPontoZero", "BarraTps"}; // not buttons
    for (const Entry &e : enabledSet(ProgramState{}))
        if (rig.screen.isEnabled(e.name) && (withFields || !fields.contains(e.name)))
            out << e.name;
    return out;
}

} // namespace

class TestEnabledSet : public QObject {
    Q_OBJECT
private slots:
    void rule_data();
    void rule();
    void mapChanges_data();
    void mapChanges();
    void stateFromTheActivities();
    void everyHandlerLeavesTheRulesSet();
    void liveEndOfReadBackDuringScannerKeepsItsLocks();
    void percentViewDuringUploadKeepsSendingClosed();
    void leavingEditModeDuringUploadKeepsScannerAndPortLocked();
    void calibrationLocksWhatItsScannerPausesLeftOpen();
};

void TestEnabledSet::rule_data()
{
    QTest::addColumn<ProgramState>("state");
    QTest::addColumn<QStringList>("enabled");

    const QStringList map = {"btnAlterarMapas"};
    ProgramState s;
    QTest::newRow("after start-up") << s << QStringList{"btnAtivar"} + saveLoad + map + logClosed;

    s = open();
    QTest::newRow("port open, nothing transferred")
        << s << QStringList{"btnDesativar", "Button3"} + readSend + saveLoad + map + logClosed;
    s.moduleKnown = true;
    QTest::newRow("port open after a transfer")
        << s << QStringList{"btnDesativar", "Button3"} + readSend + saveLoad + map + QStringList{"btnConfigurarTps"}
                    + logClosed;

    s = open();
    s.moduleKnown = true;
    s.transfer = Transfer::Upload;
    // No conversion of the injection map while a transfer takes its cells.
    QTest::newRow("upload") << s << QStringList{"btnAbrirRegistro"};
    s.transfer = Transfer::ReadBackRequested;
    // No upload while the read-back's frames may still come and rewrite its texts.
    QTest::newRow("read-back asked, nothing came yet")
        << s << QStringList{"btnDesativar", "Button3", "btnLerDados", "Button6"} + saveLoad + map
                    + QStringList{"btnConfigurarTps", "btnAbrirRegistro"};
    s.transfer = Transfer::ReadBackReceiving;
    QTest::newRow("read-back receiving") << s << QStringList{"btnAbrirRegistro"};

    s = open();
    s.moduleKnown = true;
    s.scanner = true;
    QTest::newRow("scanner") << s << QStringList{"Button3", "btnPercentual", "btnGravar"};
    s.recording = true;
    QTest::newRow("scanner recording") << s << QStringList{"Button3", "btnPercentual", "btnParar", "btnMarcar"};

    s = open();
    s.calibrating = true;
    s.scanner = true;
    QTest::newRow("TPS calibration, scanner on") << s << QStringList{"btnGravar"};
    s.scanner = false;
    QTest::newRow("TPS calibration between its samples") << s << QStringList{"btnAbrirRegistro"};

    s = open();
    s.moduleKnown = true;
    s.editMode = true;
    QTest::newRow("map edit mode, port open")
        << s << readSend + saveLoad + QStringList{"btnConfigurarTps"} + logClosed;
    s.percentView = true; // the calibration would send percent as milliseconds
    QTest::newRow("percent view, port open") << s << QStringList{"btnmS", "btnAbrirRegistro"};
    s.moduleKnown = false;
    s.port = Port::Closed;
    s.percentView = false;
    QTest::newRow("map edit mode, port closed") << s << saveLoad + logClosed;
    s.transfer = Transfer::Upload;
    s.port = Port::Open;
    QTest::newRow("map edit mode during an upload") << s << QStringList{"btnAbrirRegistro"};

    s = ProgramState{};
    s.port = Port::Waiting;
    QTest::newRow("lost, waiting for the device") << s << QStringList{"btnDesativar"} + saveLoad + map + logClosed;
    s.recording = true;
    QTest::newRow("lost while recording")
        << s << QStringList{"btnDesativar"} + saveLoad + map + QStringList{"btnPercentual", "btnParar", "btnMarcar"};

    s = ProgramState{};
    s.toothFields = false; // a 2+2 wheel has no TDC tooth and no zero point
    QTest::newRow("2+2 wheel") << s << QStringList{"btnAtivar"} + saveLoad + map + logClosed;
    s = open();
    s.scanner = true;
    s.liveStale = true; // the TPS bar greys until live values come again
    QTest::newRow("scanner, link lost") << s << QStringList{"Button3", "btnPercentual", "btnGravar"};

    s = ProgramState{};
    s.logOpen = true;
    QTest::newRow("playback, port closed") << s << QStringList{"btnAtivar"} + saveLoad + map + logClosed + playback;
    s = open();
    s.logOpen = true;
    QTest::newRow("playback, port open")
        << s << QStringList{"btnDesativar", "Button3"} + readSend + saveLoad + map + logClosed + playback;
}

void TestEnabledSet::rule()
{
    QFETCH(ProgramState, state);
    QFETCH(QStringList, enabled);
    const EnabledSet set = enabledSet(state);
    QStringList got = enabledNames(set);
    QStringList want = enabled;
    if (state.toothFields)
        want << "cbDentesPms" << "cbPontoZero";
    if (!state.liveStale)
        want << "BarraTps";
    got.sort();
    want.sort();
    QCOMPARE(got, want);
    // Every row names the same controls, so that applying a set leaves nothing of the one before.
    QCOMPARE(set.size(), enabledSet(ProgramState{}).size());
}

void TestEnabledSet::mapChanges_data()
{
    QTest::addColumn<ProgramState>("state");
    QTest::addColumn<bool>("allowed");
    ProgramState s = open();
    QTest::newRow("idle") << s << true;
    s.editMode = true;
    s.percentView = true;
    QTest::newRow("percent view") << s << true;
    s = open();
    s.transfer = Transfer::Upload;
    QTest::newRow("upload") << s << false;
    s.transfer = Transfer::ReadBackRequested;
    QTest::newRow("read-back asked") << s << false;
    s.transfer = Transfer::ReadBackReceiving;
    QTest::newRow("read-back receiving") << s << false;
    s = open();
    s.scanner = true;
    QTest::newRow("scanner") << s << false;
    s = open();
    s.calibrating = true;
    QTest::newRow("TPS calibration") << s << false;
    s = ProgramState{};
    s.logOpen = true;
    QTest::newRow("playback") << s << true;
}

void TestEnabledSet::mapChanges()
{
    QFETCH(ProgramState, state);
    QFETCH(bool, allowed);
    QCOMPARE(mapChangesAllowed(state), allowed);
}

void TestEnabledSet::stateFromTheActivities()
{
    CoreRig rig;
    const auto state = [&] { return rig.c().programState(); };
    QVERIFY(state().port == Port::Closed);
    rig.c().portActivated();
    QVERIFY(state().port == Port::Open);
    rig.c().btnLerDadosClick();
    QVERIFY(state().transfer == Transfer::ReadBackRequested);
    rig.receive(1, {1, 2, 3, 4, 5, 6, 7, 8});
    QVERIFY(state().transfer == Transfer::ReadBackReceiving);
    QVERIFY(!state().moduleKnown);
    rig.receive(26, {144, 0, 0, 0, 0, 0, 0, 0});
    QVERIFY(state().transfer == Transfer::None);
    QVERIFY(state().moduleKnown);
    rig.state().moduleCheck = true; // the module check after a reconnect reads it back
    QVERIFY(state().transfer == Transfer::ReadBackReceiving);
    rig.state().moduleCheck = false;
    rig.c().Button3Click();
    QVERIFY(state().scanner);
    QVERIFY(!state().moduleKnown);
    rig.c().Button3Click();
    rig.c().portWaiting();
    QVERIFY(state().port == Port::Waiting);
    rig.c().portDeactivated();
    QVERIFY(state().port == Port::Closed);
}

void TestEnabledSet::everyHandlerLeavesTheRulesSet()
{
    CoreRig rig;
    const auto check = [&](const char *step) {
        QVERIFY2(screenEnabled(rig, true) == enabledNames(enabledSet(rig.c().programState())), step);
    };
    check("start-up");
    rig.c().ComPort1AfterOpen();
    rig.c().portActivated();
    check("open");
    rig.c().Button3Click();
    check("scanner on");
    rig.c().portLost(QStringLiteral("gone"), true);
    check("link lost with the scanner on");
    QVERIFY(!rig.screen.isEnabled("BarraTps"));
    rig.c().portActivated();
    rig.c().Button3Click();
    rig.receive(29, {0, 0, 0, 0, 0, 0, 0, 0});
    QVERIFY(rig.screen.isEnabled("BarraTps")); // live values again
    rig.c().Button3Click();
    check("scanner off");
    rig.screen.setItemIndex("cbTipoRodaFonica", 2);
    rig.c().cbTipoRodaFonicaChange();
    check("2+2 wheel");
    QVERIFY(!rig.screen.isEnabled("cbDentesPms"));
    rig.screen.setItemIndex("cbTipoRodaFonica", 0);
    rig.c().cbTipoRodaFonicaChange();
    QVERIFY(rig.screen.isEnabled("cbPontoZero"));
    upload(rig);
    check("after an upload");
    QVERIFY(rig.screen.isEnabled("btnConfigurarTps"));
    rig.c().btnAlterarMapasClick();
    check("edit mode");
    rig.c().btnPercentualClick();
    check("percent view");
    rig.c().btnVoltarTelaPrincipalClick();
    check("edit mode left");
    rig.c().portWaiting();
    check("waiting");
    rig.c().ComPort1AfterClose();
    rig.c().portDeactivated();
    check("closed");
    QCOMPARE(screenEnabled(rig), QStringList({"btnAtivar", "btnSalvar", "Button1", "btnCarregar", "Button2",
                                              "btnAlterarMapas", "btnPercentual", "btnAbrirRegistro"}));
}

void TestEnabledSet::liveEndOfReadBackDuringScannerKeepsItsLocks()
{
    // A kind-26 frame that comes while the scanner runs must not open the upload, the
    // read-back and the map file beside the running scanner.
    CoreRig rig;
    rig.c().portActivated();
    rig.c().Button3Click();
    rig.receive(26, {144, 0, 0, 0, 0, 0, 0, 0});
    QVERIFY(rig.state().scannerActive);
    QCOMPARE(screenEnabled(rig), QStringList({"Button3", "btnPercentual", "btnGravar"}));
    rig.c().Button3Click(); // off: the frame did end a read-back of the module
    QVERIFY(rig.screen.isEnabled("btnConfigurarTps"));
    QVERIFY(rig.screen.isEnabled("btnEnvia"));
}

void TestEnabledSet::percentViewDuringUploadKeepsSendingClosed()
{
    // The views stay usable during an upload; its end must not open sending, reading,
    // saving and loading of cells that now hold percent.
    CoreRig rig;
    rig.c().portActivated();
    rig.c().btnAlterarMapasClick();
    rig.guarded([&] { rig.c().btnEnviaClick(); });
    for (int tick = 1; tick <= 20; ++tick) // the injection map (blocks 10 to 18) is out
        rig.c().Timer2Timer();
    rig.c().btnPercentualClick();
    while (rig.timer2.isEnabled())
        rig.guarded([&] { rig.c().Timer2Timer(); });
    QCOMPARE(rig.prompt.messages, QStringList());
    for (const QString &b : readSend + saveLoad + QStringList{"btnConfigurarTps", "btnAtivar", "btnDesativar"})
        QVERIFY2(!rig.screen.isEnabled(b), qPrintable(b));
    QVERIFY(rig.screen.isEnabled("btnmS"));
    rig.c().btnmSClick();
    for (const QString &b : readSend + saveLoad + QStringList{"btnConfigurarTps"})
        QVERIFY2(rig.screen.isEnabled(b), qPrintable(b));
}

void TestEnabledSet::leavingEditModeDuringUploadKeepsScannerAndPortLocked()
{
    CoreRig rig;
    rig.c().portActivated();
    rig.c().btnAlterarMapasClick();
    rig.guarded([&] { rig.c().btnEnviaClick(); });
    rig.c().Timer2Timer();
    rig.c().btnVoltarTelaPrincipalClick();
    QVERIFY(rig.timer2.isEnabled());
    QCOMPARE(screenEnabled(rig), QStringList({"btnAbrirRegistro"}));
}

void TestEnabledSet::calibrationLocksWhatItsScannerPausesLeftOpen()
{
    // Between the calibration's samples its scanner is off; the read-back, the upload
    // and the map file stay locked all the same, until the calibration ends.
    CoreRig rig;
    rig.c().portActivated();
    upload(rig);
    rig.c().btnConfigurarTpsClick();
    rig.c().TimerTPSTimer(); // step 1: scanner on
    rig.receive(29, {20, 0, 0, 0, 40, 0, 0, 0}); // closed-throttle sample: scanner off
    QVERIFY(!rig.state().scannerActive);
    QCOMPARE(screenEnabled(rig), QStringList({"btnAbrirRegistro"}));
    for (int step = 2; step <= 3; ++step)
        rig.c().TimerTPSTimer();
    QCOMPARE(screenEnabled(rig), QStringList({"btnAbrirRegistro"}));
}

QTEST_GUILESS_MAIN(TestEnabledSet)
#include "tst_enabledset.moc"
