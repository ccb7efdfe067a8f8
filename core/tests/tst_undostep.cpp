// What makes a new step of the history: every part of the parameter set on screen,
// and nothing else; and what the enabled rule leaves after each handler.
#include "common/names.h"
#include "core/undo.h"
#include "fakecore.h"
#include "files/mapfilecodec.h"

#include <QtTest>

namespace {
using Change = std::function<void(CoreRig &)>;
}

class TestUndoStep : public QObject {
    Q_OBJECT
private slots:
    void recordTakesEveryChangeOfTheSet_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("step");
        auto text = [](const QString &name, const QString &t) { return Change([=](CoreRig &r) { r.screen.setText(name, t); }); };
        QTest::newRow("nothing") << Change([](CoreRig &) {}) << false;
        QTest::newRow("a map cell") << text("e40i", "9,9") << true;
        QTest::newRow("the last field") << text(mapfile::fieldControls().last(), "77") << true;
        QTest::newRow("a combo's entry, text unchanged")
            << Change([](CoreRig &r) { r.screen.control("cbEscalaRpm").itemIndex = 1; }) << true;
        QTest::newRow("a combo's entries")
            << Change([](CoreRig &r) { r.screen.control("cbDentesPms").items << "99"; }) << true;
        QTest::newRow("a row caption") << text(names::ignitionRowCaptions().first(), "501") << true;
        QTest::newRow("a column caption of the injection map") << text(names::injectionColumnCaptions().last(), "99")
                                                                << true;
        QTest::newRow("tooth fields disabled")
            << Change([](CoreRig &r) { r.state().toothFields = false; }) << true;
        QTest::newRow("unit caption") << text("Label46", "x") << true;
        QTest::newRow("TPS lower limit") << Change([](CoreRig &r) { r.state().wv.tpsMin = 131; }) << true;
        QTest::newRow("TPS upper limit") << Change([](CoreRig &r) { r.state().wv.tpsMax = 229; }) << true;
        QTest::newRow("percent flag") << Change([](CoreRig &r) { r.state().percentView = true; }) << true;
        QTest::newRow("edit mode alone")
            << Change([](CoreRig &r) { r.screen.setVisible("GroupBox10", true); }) << false;
        QTest::newRow("an edit box's entry index")
            << Change([](CoreRig &r) { r.screen.control("e5").itemIndex = 3; }) << false;
        QTest::newRow("a read-out outside the set") << text("Label48", "12") << false;
        QTest::newRow("a button's enabled state")
            << Change([](CoreRig &r) { r.screen.setEnabled("btnEnvia", true); }) << false;
    }

    void recordTakesEveryChangeOfTheSet()
    {
        QFETCH(Change, change);
        QFETCH(bool, step);
        CoreRig rig;
        UndoHistory &h = rig.c().history();
        QCOMPARE(h.count(), 1);
        change(rig);
        QCOMPARE(h.record(), step);
        QCOMPARE(h.count(), step ? 2 : 1);
        QVERIFY(!h.record()); // the screen is the current step now
        if (step) {
            // A step of its own: undo takes it back to what start-up showed.
            h.undo();
            CoreRig fresh;
            QVERIFY(ScreenState::capture(rig.c().context()) == ScreenState::capture(fresh.c().context()));
        }
    }

    // A screen put back from a copy shows the copy's look: the history sees it.
    void aScreenAssignedFromACopyIsSeen()
    {
        CoreRig rig;
        const FakeScreen startup = rig.screen;
        rig.screen.setText("e5", "44");
        QVERIFY(rig.c().history().record());
        rig.screen = startup;
        QVERIFY(rig.c().history().record());
        QCOMPARE(rig.c().history().count(), 3);
        QVERIFY(!rig.c().history().record());
    }

    // Whatever wrote an enabled state between two handlers, the next handler leaves the
    // rule's states behind, also when the program's state did not change.
    void theNextHandlerPutsBackTheRulesStates_data()
    {
        QTest::addColumn<Change>("write");
        QTest::newRow("setEnabled") << Change([](CoreRig &r) { r.screen.setEnabled("btnEnvia", true); });
        QTest::newRow("through control()") << Change([](CoreRig &r) { r.screen.control("btnEnvia").enabled = true; });
        QTest::newRow("screen assigned from a copy") << Change([](CoreRig &r) {
            FakeScreen copy = r.screen;
            copy.setEnabled("btnEnvia", true);
            r.screen = copy;
        });
    }

    void theNextHandlerPutsBackTheRulesStates()
    {
        QFETCH(Change, write);
        CoreRig rig;
        rig.c().ComPort1AfterClose(); // changes no state
        QVERIFY(!rig.screen.isEnabled("btnEnvia")); // no port
        write(rig);
        QVERIFY(rig.screen.isEnabled("btnEnvia"));
        rig.c().ComPort1AfterClose(); // changes no state
        QVERIFY(!rig.screen.isEnabled("btnEnvia"));
    }
};

QTEST_GUILESS_MAIN(TestUndoStep)
#include "tst_undostep.moc"
