// A core that restarts from what its start-up left behaves as one just built, whatever
// ran on it before: the same bytes on the line, messages, state and history.
#include "fakecore.h"
#include "link/receiver.h"

#include <QtTest>

namespace {

using Session = std::function<void(CoreRig &)>;

void openPort(CoreRig &rig)
{
    rig.c().ComPort1AfterOpen();
    rig.c().portActivated();
}

// What is left to compare after the same follow-up on two cores.
QStringList outcome(CoreRig &rig)
{
    const State &s = rig.state();
    QStringList out;
    out << rig.port.allWritten().toHex() << rig.prompt.messages.join('|') << rig.prompt.questions.join('|');
    out << QString("port %1 scanner %2 percent %3 known %4 edit %5 readBack %6 tps %7/%8 lambda %9")
               .arg(s.portOpen())
               .arg(s.scannerActive)
               .arg(s.percentView)
               .arg(s.moduleKnown)
               .arg(s.editMode)
               .arg(int(s.readBack))
               .arg(s.wv.tpsMin)
               .arg(s.wv.tpsMax)
               .arg(s.wv.lambdaLoadSource);
    out << QString("steps %1 at %2 undo %3 redo %4 unsaved %5 module %6")
               .arg(rig.c().history().count())
               .arg(rig.c().history().index())
               .arg(rig.c().canUndo())
               .arg(rig.c().canRedo())
               .arg(rig.c().unsaved())
               .arg(rig.c().history().moduleSet().has_value());
    out << QString("events %1 frames %2")
               .arg(rig.c().receiver().eventsHandled())
               .arg(rig.c().receiver().framesRecognised());
    for (const QString &name : {"e5", "e40i", "eLimiteRpm", "btnEnvia", "btnConfigurarTps", "Button3", "btnAtivar"})
        out << name + ' ' + rig.screen.text(name) + ' ' + QString::number(rig.screen.isEnabled(name));
    out << QString("timers %1 %2 %3 %4 tps %5")
               .arg(rig.timer1.isEnabled())
               .arg(rig.timer2.isEnabled())
               .arg(rig.timerTps.isEnabled())
               .arg(rig.timerReadBack.isEnabled())
               .arg(int(rig.state().tps));
    return out;
}

// An edit, an upload to its end, one frame of a read-back and an undo.
void followUp(CoreRig &rig)
{
    openPort(rig);
    rig.screen.setText("e5", "21");
    rig.c().fieldLeft();
    rig.guarded([&] { rig.c().btnEnviaClick(); });
    for (int i = 0; i < 40 && rig.timer2.isEnabled(); ++i)
        rig.guarded([&] { rig.c().Timer2Timer(); });
    rig.guarded([&] { rig.c().btnLerDadosClick(); });
    rig.receive(1, {10, 10, 6, 6, 6, 6, 6, 6});
    rig.guarded([&] { rig.c().TimerReadBackTimer(); });
    rig.guarded([&] { rig.c().undo(); });
}

} // namespace

class TestRestart : public QObject {
    Q_OBJECT
private slots:
    void restartedCoreRunsAsANewOne_data()
    {
        QTest::addColumn<Session>("session");
        QTest::newRow("nothing") << Session([](CoreRig &) {});
        QTest::newRow("scanner left on") << Session([](CoreRig &rig) {
            openPort(rig);
            rig.guarded([&] { rig.c().Button3Click(); });
        });
        QTest::newRow("read-back half way") << Session([](CoreRig &rig) {
            openPort(rig);
            rig.guarded([&] { rig.c().btnLerDadosClick(); });
            rig.receive(1, {30, 30, 30, 30, 30, 30, 30, 30});
        });
        QTest::newRow("upload half way") << Session([](CoreRig &rig) {
            openPort(rig);
            rig.screen.setText("eLimiteRpm", "7000");
            rig.guarded([&] { rig.c().btnEnviaClick(); });
            for (int i = 0; i < 5; ++i)
                rig.guarded([&] { rig.c().Timer2Timer(); });
        });
        QTest::newRow("read-back ended, module known") << Session([](CoreRig &rig) {
            openPort(rig);
            rig.receive(26, {144, 0, 0, 0, 0, 0, 0, 0});
        });
        QTest::newRow("TPS calibration started") << Session([](CoreRig &rig) {
            openPort(rig);
            rig.receive(26, {144, 0, 0, 0, 0, 0, 0, 0});
            rig.guarded([&] { rig.c().btnConfigurarTpsClick(); });
            rig.guarded([&] { rig.c().TimerTPSTimer(); });
        });
        QTest::newRow("steps to undo and redo, percent view") << Session([](CoreRig &rig) {
            rig.screen.setText("e40i", "9,9");
            rig.c().fieldLeft();
            rig.screen.setText("e5", "33");
            rig.c().fieldLeft();
            rig.c().undo();
            rig.guarded([&] { rig.c().btnAlterarMapasClick(); });
            rig.guarded([&] { rig.c().btnPercentualClick(); });
        });
    }

    void restartedCoreRunsAsANewOne()
    {
        QFETCH(Session, session);
        CoreRig rig;
        const Controller::Startup startup = rig.c().startup();
        const FakeScreen screen = rig.screen;
        const std::array<FakeTimer, 4> timers{rig.timer1, rig.timer2, rig.timerTps, rig.timerReadBack};

        session(rig);
        rig.c().restart(startup);
        rig.screen = screen;
        rig.port = FakePort();
        rig.prompt = FakePrompt();
        rig.timer1 = timers[0], rig.timer2 = timers[1], rig.timerTps = timers[2], rig.timerReadBack = timers[3];

        QCOMPARE(rig.c().history().count(), 1);
        QVERIFY(!rig.c().unsaved());
        QCOMPARE(rig.c().receiver().readBack(), Receiver::ReadBack::Idle);
        followUp(rig);
        CoreRig fresh;
        followUp(fresh);
        QCOMPARE(outcome(rig), outcome(fresh));
        QCOMPARE(rig.port.writes.size(), fresh.port.writes.size());
        QVERIFY(fresh.port.writes.size() > 33); // the follow-up did upload and read back
    }
};

QTEST_GUILESS_MAIN(TestRestart)
#include "tst_restart.moc"
