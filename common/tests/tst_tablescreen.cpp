// The screen without widgets finds each control by its name, however the name's
// characters are held and whatever was asked for before.
#include "common/controlnames.h"
#include "common/controls.h"
#include "common/names.h"
#include "common/tablescreen.h"

#include <QtTest>

#include <functional>
#include <stdexcept>

namespace {
using Write = std::function<void(TableScreen &)>;
}

class TestTableScreen : public QObject {
    Q_OBJECT
private slots:
    // Every control of the start-up table under its own name, asked for twice (the
    // second time through the names remembered).
    void everyControlHasItsOwnStartupState()
    {
        TableScreen screen;
        for (int pass = 0; pass < 2; ++pass)
            for (const ControlSpec &setup : controlTable()) {
                const QString copy = QString(setup.name.constData(), setup.name.size()); // other characters
                for (const QString &name : {setup.name, copy}) {
                    QCOMPARE(screen.text(name), setup.text);
                    QCOMPARE(screen.items(name), setup.items);
                    QCOMPARE(screen.isVisible(name), setup.visible);
                }
            }
    }

    // The constants name every control of the start-up table once, in its order; the
    // map cells are named by number.
    void theNameConstantsAreTheTablesControls()
    {
        QStringList table;
        for (const ControlSpec &setup : controlTable()) {
            const bool cell = [&] {
                for (int k = 0; k < 72; ++k)
                    if (setup.name == names::ignitionCell(k) || setup.name == names::injectionCell(k))
                        return true;
                return false;
            }();
            if (!cell)
                table << setup.name;
        }
        QCOMPARE(ctl::all(), table);
        QCOMPARE(ctl::btnAtivar, QStringLiteral("btnAtivar"));
        QCOMPARE(ctl::eCorrecaoTi105, QStringLiteral("eCorrecaoTi105"));
    }

    // A name rewritten in place keeps its characters' address: it must still find
    // the control it names now.
    void aNameRewrittenInPlaceFindsItsNewControl_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("one letter") << "e5" << "e6";
        QTest::newRow("same length, other control") << "e40i" << "e41i";
        QTest::newRow("a known name becomes unknown") << "e5" << "x5";
    }

    void aNameRewrittenInPlaceFindsItsNewControl()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        TableScreen screen;
        screen.setText(first, "first");
        QString name = QString::fromLatin1(first.toLatin1()); // not shared: changed in place
        const QChar *chars = name.constData();
        QCOMPARE(screen.text(name), QString("first"));
        for (qsizetype i = 0; i < name.size(); ++i)
            name[i] = second[i];
        QCOMPARE(name.constData(), chars);
        if (!findControl(second)) {
            QVERIFY_THROWS_EXCEPTION(std::logic_error, screen.text(name));
            return;
        }
        QCOMPARE(screen.text(name), findControl(second)->text);
        screen.setText(name, "second");
        QCOMPARE(screen.text(first), QString("first"));
        QCOMPARE(screen.text(second), QString("second"));
    }

    // What a reader of the screen may skip rests on these numbers: each write that can
    // change a text, list, selection, enabled or visible state gives a new one.
    void revisionsFollowTheWrites_data()
    {
        QTest::addColumn<Write>("write");
        QTest::addColumn<bool>("revision");
        QTest::addColumn<bool>("enabledRevision");
        QTest::newRow("text") << Write([](TableScreen &s) { s.setText("e5", "17"); }) << true << false;
        QTest::newRow("same text again") << Write([](TableScreen &s) { s.setText("e5", "0"); }) << true << false;
        QTest::newRow("typed") << Write([](TableScreen &s) { s.type("cbEscalaRpm", "x"); }) << true << false;
        QTest::newRow("entry") << Write([](TableScreen &s) { s.setItemIndex("cbEscalaRpm", 1); }) << true << false;
        QTest::newRow("entries") << Write([](TableScreen &s) { s.setItems("cbPorta", {"a"}); }) << true << false;
        QTest::newRow("disabled") << Write([](TableScreen &s) { s.setEnabled("btnAtivar", false); }) << true << true;
        QTest::newRow("enabled as it was") << Write([](TableScreen &s) { s.setEnabled("btnAtivar", true); }) << false
                                          << false;
        QTest::newRow("hidden") << Write([](TableScreen &s) { s.setVisible("btnAtivar", false); }) << true << false;
        QTest::newRow("visible as it was") << Write([](TableScreen &s) { s.setVisible("btnAtivar", true); }) << false
                                          << false;
        QTest::newRow("through control()") << Write([](TableScreen &s) { s.control("e5").text = "3"; }) << true << true;
        QTest::newRow("bar") << Write([](TableScreen &s) { s.setBarPosition("pbCarregando", 7); }) << false << false;
        QTest::newRow("colour") << Write([](TableScreen &s) { s.setColor("e5", colors::red); }) << false << false;
        QTest::newRow("focus") << Write([](TableScreen &s) { s.setFocus("e5"); }) << false << false;
    }

    void revisionsFollowTheWrites()
    {
        QFETCH(Write, write);
        QFETCH(bool, revision);
        QFETCH(bool, enabledRevision);
        TableScreen screen, other;
        QVERIFY(screen.revision().has_value() && screen.enabledRevision().has_value());
        QCOMPARE(screen.revision(), other.revision()); // the same start-up table
        other.setText("e5", "9");
        const auto before = screen.revision(), enabledBefore = screen.enabledRevision();
        write(screen);
        QCOMPARE(screen.revision() != before, revision);
        QCOMPARE(screen.enabledRevision() != enabledBefore, enabledRevision);
        if (revision) // another screen's look never has the same number
            QVERIFY(screen.revision() != other.revision());
    }

    void unknownNamesThrowEachTime()
    {
        TableScreen screen;
        const QString name = "eNoSuchControl";
        for (int i = 0; i < 2; ++i) {
            try {
                screen.text(name);
                QFAIL("no error for an unknown control");
            } catch (const std::logic_error &e) {
                QCOMPARE(QString(e.what()), QString("unknown control eNoSuchControl"));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestTableScreen)
#include "tst_tablescreen.moc"
