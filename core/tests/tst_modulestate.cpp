// The screen against what the module holds: which set the core knows the module to
// hold after each transfer, edit and port event, the status texts, and what a lost
// port does to a running upload, the scanner and a read-back.
#include "core/linkstatus.h"
#include "fakecore.h"
#include "link/tuneimage.h"
#include "core/tunediff.h"
#include "core/undo.h"
#include "files/mapfilecodec.h"
#include "link/transmitter.h"
#include "config/tpscalibration.h"

#include <QtTest>

namespace {

const QString unknown = QStringLiteral("Módulo: conteúdo desconhecido");
const QString equal = QStringLiteral("Tela igual ao módulo");
const QString gone = QStringLiteral("ReadFile function failed (win error code: 5)\n O cabo ou o adaptador foi desconectado. ");

void upload(CoreRig &rig, const std::function<void(int tick)> &duringTick = {})
{
    rig.guarded([&] { rig.c().btnEnviaClick(); });
    for (int tick = 1; rig.timer2.isEnabled() && tick < 100; ++tick) {
        if (duringTick)
            duringTick(tick);
        rig.guarded([&] { rig.c().Timer2Timer(); });
    }
}

void readBack(CoreRig &rig)
{
    rig.guarded([&] { rig.c().btnLerDadosClick(); });
    rig.receive(1, {20, 21, 22, 23, 24, 25, 26, 27});
    rig.receive(26, {144, 0, 0, 0, 0, 0, 0, 0});
}

void edit(CoreRig &rig, const QString &cell, const QString &text)
{
    rig.screen.setText(cell, text);
    rig.c().fieldLeft();
}

// An injection map of 0,6 to 2,0 ms across each row, as a read-back of a small engine's.
void smallMap(CoreRig &rig)
{
    for (int k = 0; k < 72; ++k)
        rig.screen.setText(QStringLiteral("e%1i").arg(k), QString::number(0.6 + 0.2 * (k % 8), 'f', 1).replace('.', ','));
    rig.c().fieldLeft();
}

void toPercent(CoreRig &rig)
{
    rig.c().btnAlterarMapasClick();
    rig.guarded([&] { rig.c().btnPercentualClick(); });
    QVERIFY(rig.state().percentView);
}

// The 32 blocks of the last upload, as the module stores them.
QByteArray uploadedImage(const CoreRig &rig)
{
    QByteArray image;
    for (const QByteArray &w : rig.port.writes)
        if (w.size() == 9)
            image += w.mid(1);
    return image.right(256);
}

using Step = std::function<void(CoreRig &)>;

// One change to the module's set (module) or to the screen: a field's text, or back to
// its start-up text when text is empty; no control forgets the module's set.
struct Change {
    bool module = false;
    QString control;
    QString text;
};

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(QList<Change>)

class TestModuleState : public QObject {
    Q_OBJECT
private slots:
    void screenAgainstModule_data()
    {
        QTest::addColumn<Step>("steps");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("unsent");

        QTest::newRow("nothing sent or read since start-up") << Step([](CoreRig &) {}) << unknown << QStringList();
        QTest::newRow("port opened") << Step([](CoreRig &r) { r.c().portActivated(); }) << unknown << QStringList();
        QTest::newRow("upload ran to its end") << Step([](CoreRig &r) { upload(r); }) << equal << QStringList();
        QTest::newRow("read-back ended with kind 26") << Step([](CoreRig &r) { readBack(r); }) << equal
                                                      << QStringList();
        QTest::newRow("one map cell edited after the upload")
            << Step([](CoreRig &r) {
                   upload(r);
                   edit(r, "e5", "33");
               })
            << QStringLiteral("Tela diferente do módulo (1 campo)") << QStringList{"e5"};
        QTest::newRow("two cells and a field edited after the read-back")
            << Step([](CoreRig &r) {
                   readBack(r);
                   edit(r, "e5", "33");
                   edit(r, "e7i", "4,5");
                   edit(r, "eLimiteRpm", "7000");
               })
            << QStringLiteral("Tela diferente do módulo (3 campos)") << QStringList{"e5", "e7i", "eLimiteRpm"};
        QTest::newRow("edited and undone")
            << Step([](CoreRig &r) {
                   upload(r);
                   edit(r, "e5", "33");
                   r.c().undo();
               })
            << equal << QStringList();
        QTest::newRow("a frame could not be written")
            << Step([](CoreRig &r) { upload(r, [&r](int tick) { r.port.failWrites = tick == 6; }); }) << unknown
            << QStringList();
        QTest::newRow("the end command could not be written")
            << Step([](CoreRig &r) { upload(r, [&r](int tick) { r.port.failWrites = tick == 35; }); }) << unknown
            << QStringList();
        QTest::newRow("a cell edited while the blocks went out")
            << Step([](CoreRig &r) {
                   upload(r, [&r](int tick) {
                       if (tick == 20)
                           r.screen.setText("e3", "40");
                   });
               })
            << unknown << QStringList();
        QTest::newRow("the port opened again after an upload")
            << Step([](CoreRig &r) {
                   upload(r);
                   r.c().portActivated();
               })
            << unknown << QStringList();
        QTest::newRow("the port was lost during an upload")
            << Step([](CoreRig &r) {
                   upload(r, [&r](int tick) {
                       if (tick == 10)
                           r.guarded([&r] { (void)r.c().portLost(gone, false); });
                   });
               })
            << unknown << QStringList();
        QTest::newRow("the injection map converted to percent after the upload")
            << Step([](CoreRig &r) {
                   smallMap(r);
                   upload(r);
                   toPercent(r);
               })
            << equal << QStringList();
        QTest::newRow("an injection cell edited in the percent view")
            << Step([](CoreRig &r) {
                   smallMap(r);
                   upload(r);
                   toPercent(r);
                   edit(r, "e16i", "7,5"); // 2,5 ms in row 2
               })
            << QStringLiteral("Tela diferente do módulo (1 campo)") << QStringList{"e16i"};
        QTest::newRow("the port closed with Desativar after an upload")
            << Step([](CoreRig &r) {
                   upload(r);
                   r.c().portDeactivated();
               })
            << unknown << QStringList();
        QTest::newRow("an upload refused before its first byte")
            << Step([](CoreRig &r) {
                   upload(r);
                   edit(r, "e5", "33");
                   r.port.refuseWrites = true;
                   upload(r);
                   QCOMPARE(r.prompt.messages.size(), 1); // the refusal's own
               })
            << QStringLiteral("Tela diferente do módulo (1 campo)") << QStringList{"e5"};
        QTest::newRow("one field that cannot be sent and one written another way")
            << Step([](CoreRig &r) {
                   smallMap(r);
                   upload(r);
                   edit(r, "e5", "abc");
                   edit(r, "e7i", "2,00"); // 2,0 on the module
               })
            << QStringLiteral("Tela diferente do módulo (1 campo)") << QStringList{"e5"};
        QTest::newRow("the port was lost after an upload")
            << Step([](CoreRig &r) {
                   upload(r);
                   (void)r.c().portLost(gone, false);
               })
            << equal << QStringList();
    }

    void screenAgainstModule()
    {
        QFETCH(Step, steps);
        QFETCH(QString, status);
        QFETCH(QStringList, unsent);
        CoreRig rig;
        steps(rig);
        QCOMPARE(linkstatus::text(rig.c().moduleStatus()), status);
        QStringList got = rig.c().unsentControls();
        got.sort();
        unsent.sort();
        QCOMPARE(got, unsent);
    }

    // The check after a reconnect read the module's set: nothing changes without the
    // user's choice, and loading it onto the screen is one undo step.
    void moduleRead_data()
    {
        QTest::addColumn<bool>("differs");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("uploading");
        QTest::newRow("equal: known, nothing asked") << false << -1 << equal << false;
        QTest::newRow("different, kept") << true << 2 << QStringLiteral("Tela diferente do módulo (2 campos)") << false;
        QTest::newRow("different, box closed") << true << -1 << QStringLiteral("Tela diferente do módulo (2 campos)")
                                               << false;
        QTest::newRow("different, module loaded onto the screen") << true << 1 << equal << false;
        QTest::newRow("different, screen sent") << true << 0 << equal << true;
    }

    void moduleRead()
    {
        QFETCH(bool, differs);
        QFETCH(int, answer);
        QFETCH(QString, status);
        QFETCH(bool, uploading);
        CoreRig rig;
        rig.c().portActivated(); // "Enviar" needs an open port
        Tune module = rig.c().mapFile().screenTune();
        const QString e5Before = rig.screen.text("e5");
        edit(rig, "e5", "33");
        edit(rig, "eLimiteRpm", "7000");
        const Tune screen = rig.c().mapFile().screenTune();
        if (!differs)
            module = screen;
        const int steps = rig.c().history().count();
        rig.prompt.questionAnswers.push_back(answer);
        rig.guarded([&] { rig.c().moduleRead(module); });
        QCOMPARE(rig.timer2.isEnabled(), uploading);
        for (int tick = 0; rig.timer2.isEnabled() && tick < 100; ++tick)
            rig.guarded([&] { rig.c().Timer2Timer(); });

        QCOMPARE(linkstatus::text(rig.c().moduleStatus()), status);
        QCOMPARE(rig.prompt.messages, QStringList());
        if (!differs) {
            QCOMPARE(rig.prompt.questions, QStringList());
            return;
        }
        QCOMPARE(rig.prompt.questions.size(), 1);
        QCOMPARE(rig.prompt.questionButtons.first(),
                 (QStringList{"Enviar a tela ao módulo", "Carregar o módulo na tela", "Manter assim"}));
        int e5Field = 1;
        while (tunediff::fieldControl(e5Field) != "e5")
            ++e5Field;
        const QString ignition5 = tunediff::fieldLabel(e5Field);
        QVERIFY2(rig.prompt.questions.first().startsWith(" A tela e o módulo diferem em 2 campos:\n\n"),
                 qPrintable(rig.prompt.questions.first()));
        QVERIFY2(rig.prompt.questions.first().contains(ignition5 + ": tela 33, módulo " + e5Before + "\n"),
                 qPrintable(rig.prompt.questions.first()));
        if (answer == 1) {
            QCOMPARE(rig.c().mapFile().screenTune(), module);
            QCOMPARE(rig.c().history().count(), steps + 1);
            rig.c().undo();
            QCOMPARE(rig.c().mapFile().screenTune(), screen);
        } else if (answer != 0) {
            QCOMPARE(rig.c().mapFile().screenTune(), screen);
            QCOMPARE(rig.c().history().count(), steps);
        }
    }

    // The check's three choices in each view of the injection map: the comparison, the
    // load and the upload all take the cells in milliseconds, the module's unit.
    void moduleCheckInEachView_data()
    {
        QTest::addColumn<bool>("percent");
        QTest::addColumn<int>("answer");
        for (const bool percent : {false, true}) {
            const char *view = percent ? "percent view" : "ms view";
            QTest::addRow("%s, Enviar a tela ao módulo", view) << percent << 0;
            QTest::addRow("%s, Carregar o módulo na tela", view) << percent << 1;
            QTest::addRow("%s, Manter assim", view) << percent << 2;
        }
    }

    void moduleCheckInEachView()
    {
        QFETCH(bool, percent);
        QFETCH(int, answer);
        CoreRig rig;
        rig.c().portActivated();
        smallMap(rig);
        upload(rig);
        const Tune module = rig.c().mapFile().screenTune(); // 0,6..2,0 ms
        QCOMPARE(module.texts.value(mapfile::fieldControls().indexOf("e16i")), QStringLiteral("0,6"));
        edit(rig, "e5", "33");
        if (percent)
            toPercent(rig);
        edit(rig, "e16i", percent ? "7,5" : "2,5"); // 2,5 ms either way
        Tune screenMs = module;
        screenMs.texts[mapfile::fieldControls().indexOf("e5")] = "33";
        screenMs.texts[mapfile::fieldControls().indexOf("e16i")] = "2,5";
        rig.port.writes.clear();
        const int steps = rig.c().history().count();

        rig.prompt.questionAnswers.push_back(answer);
        rig.guarded([&] { rig.c().moduleRead(module); });
        for (int tick = 0; rig.timer2.isEnabled() && tick < 100; ++tick)
            rig.guarded([&] { rig.c().Timer2Timer(); });

        QCOMPARE(rig.prompt.messages, QStringList());
        QCOMPARE(rig.prompt.questions.size(), 1);
        QVERIFY2(rig.prompt.questions.first().startsWith(" A tela e o módulo diferem em 2 campos:\n\n"),
                 qPrintable(rig.prompt.questions.first()));
        QVERIFY2(rig.prompt.questions.first().contains(": tela 2,5, módulo 0,6\n"), qPrintable(rig.prompt.questions.first()));
        switch (answer) {
        case 0: // the map goes back to ms, then out whole
            QVERIFY(!rig.state().percentView);
            QVERIFY(rig.screen.text("Label46").contains("\" mS \""));
            QCOMPARE(rig.c().mapFile().screenTune(), screenMs);
            QCOMPARE(rig.port.writes.size(), 33);
            QCOMPARE(uploadedImage(rig), imageBytes(tuneImage(screenMs)));
            QCOMPARE(linkstatus::text(rig.c().moduleStatus()), equal);
            break;
        case 1: // the module's ms, in the ms view, as one step
            QVERIFY(rig.port.writes.isEmpty());
            QVERIFY(!rig.state().percentView);
            QVERIFY(rig.screen.text("Label46").contains("\" mS \""));
            QCOMPARE(rig.c().mapFile().screenTune(), module);
            QCOMPARE(linkstatus::text(rig.c().moduleStatus()), equal);
            QCOMPARE(rig.c().history().count(), steps + 1);
            rig.c().undo();
            QCOMPARE(rig.state().percentView, percent);
            QCOMPARE(rig.screen.text("e16i"), percent ? QStringLiteral("7,5") : QStringLiteral("2,5"));
            break;
        default: // both sides as they were
            QVERIFY(rig.port.writes.isEmpty());
            QCOMPARE(rig.state().percentView, percent);
            QCOMPARE(rig.screen.text("e16i"), percent ? QStringLiteral("7,5") : QStringLiteral("2,5"));
            QCOMPARE(linkstatus::text(rig.c().moduleStatus()), QStringLiteral("Tela diferente do módulo (2 campos)"));
            break;
        }
    }

    // The check's "Enviar" sends only when the enabled rule allows sending.
    void checkSendsOnlyWhenSendingIsAllowed()
    {
        CoreRig rig; // the port closed
        const Tune module = rig.c().mapFile().screenTune();
        edit(rig, "e5", "33");
        rig.prompt.questionAnswers.push_back(0);
        rig.guarded([&] { rig.c().moduleRead(module); });
        QVERIFY(!rig.timer2.isEnabled());
        QVERIFY(rig.port.writes.isEmpty());
        QCOMPARE(rig.prompt.messages,
                 QStringList{" Atenção ! !  A tela não pode ser enviada ao módulo agora: nada foi enviado.  "});
        QCOMPARE(linkstatus::text(rig.c().moduleStatus()), QStringLiteral("Tela diferente do módulo (1 campo)"));
    }

    // A lost port ends a TPS calibration at once, wherever it is: the limits from
    // before it began, one message, nothing sent, and nothing of it goes on afterwards.
    void tpsCalibrationEndsWithTheLostPort_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("uploading");
        QTest::newRow("first message open") << "Deixar" << false;
        QTest::newRow("closed-throttle sample taken") << "sampled" << false;
        QTest::newRow("full-throttle message open") << "Abrir" << false;
        QTest::newRow("its upload running") << "upload" << true;
    }

    void tpsCalibrationEndsWithTheLostPort()
    {
        QFETCH(QString, when);
        QFETCH(bool, uploading);
        CoreRig rig;
        Controller &c = rig.c();
        c.portActivated();
        upload(rig);
        QCOMPARE(rig.state().wv.tpsMin, 130);
        QCOMPARE(rig.state().wv.tpsMax, 230);
        int writes = -1;
        QStringList before;
        auto lose = [&] {
            writes = int(rig.port.writes.size());
            before = rig.prompt.messages;
            const std::optional<QString> message = c.portLost(gone, false);
            c.portWaiting();
            if (message)
                rig.prompt.message(*message);
        };
        rig.prompt.onMessage = [&](const QString &text) {
            if (writes < 0 && text.contains(when))
                lose();
        };
        auto liveData = [&](int reading) {
            if (writes < 0)
                rig.receive(29, {90, 0, 0, 0, std::uint8_t(reading & 0xFF), std::uint8_t(reading >> 8), 0, 0});
        };
        auto tick = [&] { // TimerTPS, while it runs
            if (rig.timerTps.isEnabled())
                rig.guarded([&] { c.TimerTPSTimer(); });
        };
        rig.guarded([&] { c.btnConfigurarTpsClick(); });
        tick();        // step 1: scanner on
        liveData(200); // closed throttle
        if (when == "sampled")
            lose();
        for (int step = 2; step <= 4; ++step)
            tick();
        for (int i = 0; i < 6; ++i)
            liveData(900);
        for (int step = 5; step <= 11; ++step)
            tick();
        for (int i = 0; i < 5 && rig.timer2.isEnabled(); ++i)
            rig.guarded([&] { c.Timer2Timer(); });
        if (when == "upload") {
            QVERIFY(rig.timer2.isEnabled());
            lose();
        }
        // Whatever the timers would still tick.
        for (int i = 0; i < 40; ++i) {
            if (rig.timer2.isEnabled())
                rig.guarded([&] { c.Timer2Timer(); });
            if (rig.timerTps.isEnabled())
                rig.guarded([&] { c.TimerTPSTimer(); });
        }

        QVERIFY(writes >= 0);
        QCOMPARE(rig.port.writes.size(), writes);
        QCOMPARE(rig.state().wv.tpsMin, 130);
        QCOMPARE(rig.state().wv.tpsMax, 230);
        QVERIFY(!rig.timerTps.isEnabled());
        QCOMPARE(rig.state().tps, TpsPhase::None);
        QVERIFY(!rig.timer1.isEnabled());
        QVERIFY(!rig.state().scannerActive);
        const QString first = uploading ? gone + "\n" + Transmitter::interruptedMessage() : gone;
        QCOMPARE(rig.prompt.messages.mid(before.size()), QStringList{first + "\n" + TpsCalibration::lostMessage()});
        QVERIFY(!c.history().canRedo());
        QCOMPARE(c.history().count(), 1); // no step of the calibration
    }

    // The loss of the port while something runs: one message at most, no write after it.
    void portLost_data()
    {
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QStringList>("messages");
        const QString interrupted = gone + "\n" + Transmitter::interruptedMessage();
        QTest::newRow("idle") << "idle" << false << QStringList{gone};
        QTest::newRow("idle, told by the click's own error") << "idle" << true << QStringList();
        QTest::newRow("scanner") << "scanner" << false << QStringList();
        QTest::newRow("upload") << "upload" << false << QStringList{interrupted};
        QTest::newRow("upload, a write had failed before") << "upload" << true << QStringList{interrupted};
        QTest::newRow("read-back") << "read-back" << false << QStringList{gone};
    }

    void portLost()
    {
        QFETCH(QString, running);
        QFETCH(bool, shown);
        QFETCH(QStringList, messages);
        CoreRig rig;
        rig.c().ComPort1AfterOpen();
        rig.c().portActivated();
        if (running == "scanner") {
            rig.c().Button3Click();
            QVERIFY(rig.state().scannerActive);
        } else if (running == "upload") {
            rig.c().btnEnviaClick();
            for (int i = 0; i < 5; ++i)
                rig.c().Timer2Timer();
        } else if (running == "read-back") {
            rig.c().btnLerDadosClick();
            rig.receive(1, {20, 21, 22, 23, 24, 25, 26, 27});
        }
        const int writes = rig.port.writes.size();
        const std::optional<QString> message = rig.c().portLost(gone, shown);
        if (message)
            rig.prompt.message(*message);
        rig.c().portWaiting();

        QCOMPARE(rig.prompt.messages, messages);
        QCOMPARE(rig.port.writes.size(), writes);
        QVERIFY(!rig.timer1.isEnabled());
        QVERIFY(!rig.timer2.isEnabled());
        QVERIFY(!rig.timerReadBack.isEnabled());
        QVERIFY(!rig.state().scannerActive);
        QCOMPARE(rig.screen.text("Button3"), QStringLiteral("Ativar &Scanner"));
        // Waiting: only "&Desativar" of the port's buttons; the screen's own stay usable.
        const QStringList portButtons = {"btnAtivar", "btnDesativar", "Button3", "btnLerDados", "Button6",
                                         "btnEnvia", "Button8", "btnConfigurarTps"};
        QCOMPARE(rig.screen.enabledOf(portButtons), QStringList{"btnDesativar"});
        QCOMPARE(rig.screen.enabledOf({"btnSalvar", "Button1", "btnCarregar", "Button2"}),
                 (QStringList{"btnSalvar", "Button1", "btnCarregar", "Button2"}));
        QVERIFY(!rig.screen.isVisible("Panel1"));
        QVERIFY(!rig.screen.isVisible("pnAguarde"));
    }

    // The comparison is asked after every event: each answer is the field difference of
    // the module's set and the screen as they are now, whichever of the two changed last.
    void comparisonFollowsEitherSide_data()
    {
        QTest::addColumn<QList<Change>>("changes");
        QTest::newRow("screen edited, then edited back")
            << QList<Change>{{false, "e5", "33"}, {false, "e5", ""}, {false, "e7i", "4,5"}};
        QTest::newRow("module changes under the same screen")
            << QList<Change>{{true, "e5", "33"}, {true, "e5", ""}, {true, "eLimiteRpm", "7000"}};
        QTest::newRow("both sides, alternating")
            << QList<Change>{{false, "e5", "33"}, {true, "e5", "33"}, {true, "e9", "12"}, {false, "e9", "12"}};
        QTest::newRow("module forgotten and known again")
            << QList<Change>{{false, "e5", "33"}, {true, "", ""}, {true, "e5", "33"}};
    }
    void comparisonFollowsEitherSide()
    {
        QFETCH(QList<Change>, changes);
        const Tune start = startupTune();
        Tune screen = start;
        std::optional<Tune> module = start;
        linkstatus::ModuleComparison comparison;
        auto check = [&] {
            QStringList expected;
            if (module)
                for (const tunediff::Difference &d : tunediff::compare(screen, *module))
                    expected << d.control;
            QCOMPARE(comparison.status(module, screen),
                     (linkstatus::ModuleStatus{module.has_value(), int(expected.size())}));
            QCOMPARE(comparison.changedControls(module, screen), expected);
        };
        check();
        for (const Change &c : changes) {
            Tune &side = c.module ? (module ? *module : module.emplace(start)) : screen;
            if (c.control.isEmpty()) {
                module.reset();
            } else {
                const int field = int(mapfile::fieldControls().indexOf(c.control));
                side.texts[field] = c.text.isEmpty() ? start.texts[field] : c.text;
            }
            check();
            if (QTest::currentTestFailed())
                return;
        }
    }
};

QTEST_GUILESS_MAIN(TestModuleState)
#include "tst_modulestate.moc"
