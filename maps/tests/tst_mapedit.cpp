// The map edit mode and the bulk change of both maps.
#include "fakes.h"
#include "maps/mapedit.h"
#include "maps/views.h"

#include "common/controls.h"
#include "common/names.h"

#include <QtTest>

namespace {

// "name=text|name=text": texts written to controls before a step, or expected after it.
using Assignments = QList<QPair<QString, QString>>;
Assignments parse(const QString &setup)
{
    Assignments list;
    if (setup.isEmpty())
        return list;
    for (const QString &part : setup.split('|')) {
        const auto eq = part.indexOf('=');
        list.append({part.left(eq), part.mid(eq + 1)});
    }
    return list;
}

void apply(Rig &rig, const QString &setup)
{
    for (const auto &[name, text] : parse(setup))
        rig.screen.setText(name, text);
}

QStringList changeFields()
{
    QStringList list{"eAltera", "eAlterar"};
    for (int c = 0; c < 8; ++c)
        list << names::ignitionColumnField(c) << names::injectionColumnField(c);
    for (int r = 0; r < 9; ++r)
        list << names::ignitionRowField(r) << names::injectionRowField(r);
    return list;
}

QStringList rowColumnFields()
{
    QStringList list = changeFields();
    list.removeAll("eAltera");
    list.removeAll("eAlterar");
    return list;
}

QStringList texts(const Rig &rig, const QStringList &names)
{
    QStringList t;
    for (const QString &n : names)
        t << rig.screen.text(n);
    return t;
}

QStringList allCells()
{
    QStringList list;
    for (int k = 0; k < 72; ++k)
        list << names::ignitionCell(k) << names::injectionCell(k);
    return list;
}

void activatePort(Rig &rig)
{
    rig.state.link = LinkState::Open;
    for (const char *b : {"btnDesativar", "Button3", "btnLerDados", "Button6", "btnEnvia", "Button8"})
        rig.screen.setEnabled(b, true);
    rig.screen.setEnabled("btnAtivar", false);
}

// Ignition cells whose lower limit is 0 degrees.
const QList<int> zeroLimitCells{9, 27, 28, 29, 37, 38, 39, 47, 48, 49, 57, 58, 59, 67, 68, 69};

} // namespace

class TestMapEdit : public QObject {
    Q_OBJECT

private slots:
    void ignitionChange_data();
    void ignitionChange();
    void ignitionLowerLimits();
    void injectionChange_data();
    void injectionChange();
    void repeatedChange();
    void fieldsCleared();
    void failedChangeChangesNothing_data();
    void failedChangeChangesNothing();
    void enterEditMode();
    void leaveEditMode_data();
    void leaveEditMode();
    void leaveEditModeWithBadPercentCell();
};

void TestMapEdit::ignitionChange_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("all"); // every ignition cell, when not empty
    QTest::newRow("map, column and row") << "eAltera=2|eC3ig=1|eL0ig=-1"
                                         << "e3=8|e0=11|e11=15|e64=36|e8=12|e7=7|e67=36" << "";
    QTest::newRow("minus 40") << "eAltera=-40" << "" << "0";
    QTest::newRow("plus 30") << "eAltera=30" << "e64=50|e2=36|e0=40|e16=41|e71=50" << "";
    QTest::newRow("half degree") << "e0=0|e9=0|e8=0|e27=0|eAltera=0,5"
                                 << "e0=0|e9=0,5|e8=0|e27=0,5|e1=10,5" << "";
    QTest::newRow("row field only") << "eL8ig=-10" << "e64=24|e71=17|e63=27|e0=10" << "";
    QTest::newRow("column field only") << "eC7ig=5" << "e7=11|e71=32|e6=6" << "";
    QTest::newRow("blanks around amount") << "eAltera= 3 " << "e0=13" << "";
    QTest::newRow("exactly 50 and 1") << "e0=49|e1=0|eAltera=1" << "e0=50|e1=1" << "";
    QTest::newRow("below zero on zero cell") << "e9=0|eC1ig=-1" << "e9=0|e1=9" << "";
}

void TestMapEdit::ignitionChange()
{
    QFETCH(QString, setup);
    QFETCH(QString, expected);
    QFETCH(QString, all);
    Rig rig;
    MapEdit edit(rig.ctx);
    apply(rig, setup);
    const QStringList injectionBefore = [&] {
        QStringList t;
        for (int k = 0; k < 72; ++k)
            t << rig.screen.text(names::injectionCell(k));
        return t;
    }();
    edit.btnAlterarClick();
    for (const auto &[name, text] : parse(expected))
        QCOMPARE(rig.screen.text(name), text);
    if (!all.isEmpty())
        for (int k = 0; k < 72; ++k)
            QCOMPARE(rig.screen.text(names::ignitionCell(k)), all);
    // No injection amount was given: the injection texts only take one decimal.
    for (int k = 0; k < 72; ++k) {
        const QString old = injectionBefore.at(k);
        QCOMPARE(rig.screen.text(names::injectionCell(k)), old.contains(',') ? old : old + ",0");
    }
}

void TestMapEdit::ignitionLowerLimits()
{
    Rig rig;
    MapEdit edit(rig.ctx);
    for (int k = 0; k < 72; ++k)
        rig.screen.setText(names::ignitionCell(k), "0");
    rig.screen.setText("eAltera", "0,5");
    edit.btnAlterarClick();
    for (int k = 0; k < 72; ++k)
        QCOMPARE(rig.screen.text(names::ignitionCell(k)), QString(zeroLimitCells.contains(k) ? "0,5" : "0"));
}

void TestMapEdit::injectionChange_data()
{
    QTest::addColumn<bool>("percentView");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ms +20") << false << "eAlterar=20" << "e0i=4,2|e7i=9,7|e45i=10,4|e6i=9,6";
    QTest::newRow("ms +250 capped") << false << "eAlterar=250"
                                    << "e16i=9,8|e7i=25|e45i=25|e4i=25|e0i=12,3|e3i=22,4";
    QTest::newRow("percent +250 not capped") << true << "eAlterar=250"
                                             << "e16i=9,8|e4i=25,9|e0i=12,3|e3i=22,4";
    QTest::newRow("row 0 to zero") << false << "eAlterar=-50|eL0inj=-50"
                                   << "e0i= 0,0|e1i= 0,0|e6i= 0,0|e7i= 0,0|e11i=3,1|e14i=3,9";
    QTest::newRow("negative result") << false << "eAlterar=-99|eC0inj=-99" << "e0i= -3,4|e1i=0,1|e8i= -3,0";
    QTest::newRow("sum, not product") << false << "eAlterar=10|eL1inj=10|eC2inj=-5"
                                      << "e8i=3,7|e10i=6,1|e2i=6,1|e1i=5,7";
    QTest::newRow("fractional amount") << false << "eAlterar=2,5" << "e16i=2,9|e6i=8,2";
    QTest::newRow("cap compares the rounded text") << false << "e0i=25,04" << "e0i=25,0";
    QTest::newRow("rounded text above the cap") << false << "e0i=25,06" << "e0i=25";
    QTest::newRow("percent view, rounded text above 25") << true << "e0i=25,06" << "e0i=25,1";
    QTest::newRow("just below the cap") << false << "e0i=24,96" << "e0i=25,0";
}

void TestMapEdit::injectionChange()
{
    QFETCH(bool, percentView);
    QFETCH(QString, setup);
    QFETCH(QString, expected);
    Rig rig;
    MapEdit edit(rig.ctx);
    if (percentView) {
        // The percent view is told by the disabled percent button.
        rig.screen.setEnabled("btnPercentual", false);
        rig.screen.setEnabled("btnmS", true);
        rig.state.percentView = true;
    }
    apply(rig, setup);
    edit.btnAlterarClick();
    for (const auto &[name, text] : parse(expected))
        QCOMPARE(rig.screen.text(name), text);
}

void TestMapEdit::repeatedChange()
{
    Rig rig;
    MapEdit edit(rig.ctx);
    const QStringList before = texts(rig, allCells());
    edit.btnAlterarClick();
    // Values stay; whole injection texts take one decimal.
    QStringList expected = before;
    for (int i = 0; i < expected.size(); ++i)
        if (allCells().at(i).endsWith('i') && !expected.at(i).contains(','))
            expected[i] += ",0";
    QCOMPARE(texts(rig, allCells()), expected);
    QCOMPARE(rig.screen.text("e6i"), QString("8,0"));
    QCOMPARE(rig.screen.text("e17i"), QString("4,0"));

    // A second press after a real change leaves everything as it is.
    rig.screen.setText("eAlterar", "20");
    rig.screen.setText("eAltera", "2");
    edit.btnAlterarClick();
    const QStringList changed = texts(rig, allCells());
    QCOMPARE(rig.screen.text("e0i"), QString("4,2"));
    edit.btnAlterarClick();
    QCOMPARE(texts(rig, allCells()), changed);
}

void TestMapEdit::fieldsCleared()
{
    Rig rig;
    MapEdit edit(rig.ctx);
    int n = 0;
    for (const QString &f : changeFields())
        rig.screen.setText(f, QString::number(n++ % 5 - 2));
    edit.btnAlterarClick();
    for (const QString &f : changeFields())
        QCOMPARE(rig.screen.text(f), QString("0"));
}

void TestMapEdit::failedChangeChangesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    // The conversion's own line, then the field and what it holds.
    QTest::newRow("empty eAlterar") << "eAlterar" << ""
                                    << "'' is not a valid floating point value\nO campo eAlterar (Alterar todo o Mapa "
                                       "de Injeção) está vazio: escreva um número.";
    QTest::newRow("injection row field") << "eL8inj" << "--"
                                         << "'--' is not a valid floating point value\nO campo eL8inj (alteração da "
                                            "linha 9 do mapa de injeção) contém \"--\", que não é um número.";
    QTest::newRow("injection column field") << "eC7inj" << "1.5"
                                            << "'1.5' is not a valid floating point value\nO campo eC7inj (alteração "
                                               "da coluna 8 do mapa de injeção) contém \"1.5\", que não é um número.";
    QTest::newRow("last injection cell") << "e71i" << "8,1a"
                                         << "'8,1a' is not a valid floating point value\nO campo e71i (injeção linha "
                                            "9 coluna 8) contém \"8,1a\", que não é um número.";
    QTest::newRow("eAltera") << "eAltera" << "x"
                             << "'x' is not a valid floating point value\nO campo eAltera (Alterar todo o Mapa de "
                                "Ignição) contém \"x\", que não é um número.";
    QTest::newRow("ignition column field") << "eC0ig" << " "
                                           << "' ' is not a valid floating point value\nO campo eC0ig (alteração da "
                                              "coluna 1 do mapa de ignição) está vazio: escreva um número.";
    QTest::newRow("ignition row field") << "eL4ig" << "1,,5"
                                        << "'1,,5' is not a valid floating point value\nO campo eL4ig (alteração da "
                                           "linha 5 do mapa de ignição) contém \"1,,5\", que não é um número.";
    QTest::newRow("last ignition cell") << "e71" << ""
                                        << "'' is not a valid floating point value\nO campo e71 (ignição linha 9 "
                                           "coluna 8) está vazio: escreva um número.";
    QTest::newRow("middle ignition cell") << "e33" << "3O"
                                          << "'3O' is not a valid floating point value\nO campo e33 (ignição linha 5 "
                                             "coluna 2) contém \"3O\", que não é um número.";
}

// A bulk change applies to every cell of both maps or to none.
void TestMapEdit::failedChangeChangesNothing()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, message);
    Rig rig;
    MapEdit edit(rig.ctx);
    int n = 0;
    for (const QString &f : changeFields())
        rig.screen.setText(f, QString::number(n++ % 3 + 1));
    rig.screen.setText(name, text);
    const QStringList cells = texts(rig, allCells());
    const QStringList amounts = texts(rig, changeFields());
    rig.guarded([&] { edit.btnAlterarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList{message});
    QCOMPARE(texts(rig, allCells()), cells);
    QCOMPARE(texts(rig, changeFields()), amounts);

    // Mended, the same press changes every cell once.
    rig.screen.setText(name, "1");
    const QString e0 = rig.screen.text("e0");
    edit.btnAlterarClick();
    QVERIFY(rig.screen.text("e0") != e0);
    for (const QString &f : changeFields())
        QCOMPARE(rig.screen.text(f), QString("0"));
}

void TestMapEdit::enterEditMode()
{
    Rig rig;
    activatePort(rig);
    rig.screen.setVisible("Gauge4", true); // shown by the scanner
    MapEdit edit(rig.ctx);
    edit.btnAlterarMapasClick();
    for (const char *c : {"Button3", "Button6", "Button8", "btnCarregar", "btnSalvar", "GroupBox3", "Gauge4",
                             "btnAlterarMapas"})
        QVERIFY2(!rig.screen.isVisible(c), c);
    for (const QString &c : rowColumnFields() + QStringList{"GroupBox10", "btnVoltarTelaPrincipal"})
        QVERIFY2(rig.screen.isVisible(c), qPrintable(c));
    for (const char *c : {"Button3", "btnAlterarMapas", "btnAtivar", "btnDesativar"})
        QVERIFY2(!rig.screen.isEnabled(c), c);
    // The configuration page's transfer buttons stay as they were.
    for (const char *c : {"btnEnvia", "btnLerDados", "Button1", "Button2", "Button6", "Button8"})
        QVERIFY2(rig.screen.isEnabled(c), c);
}

void TestMapEdit::leaveEditMode_data()
{
    QTest::addColumn<bool>("portActive");
    QTest::addColumn<bool>("percentView");
    QTest::newRow("port active, ms view") << true << false;
    QTest::newRow("port inactive, ms view") << false << false;
    QTest::newRow("port active, percent view") << true << true;
    QTest::newRow("port inactive, percent view") << false << true;
}

void TestMapEdit::leaveEditMode()
{
    QFETCH(bool, portActive);
    QFETCH(bool, percentView);
    Rig rig;
    if (portActive)
        activatePort(rig);
    MapViews views(rig.ctx);
    int msViews = 0;
    rig.ctx.hooks.msView = [&] {
        ++msViews;
        views.btnmSClick();
    };
    MapEdit edit(rig.ctx);
    edit.btnAlterarMapasClick();
    if (percentView) {
        views.btnPercentualClick();
        QCOMPARE(rig.screen.text("e0i"), QString("2,9"));
    }
    // Controls that leaving must show or enable, hidden or disabled by hand.
    for (const QString &c : names::injectionRowCaptions())
        rig.screen.setVisible(c, false);

    edit.btnVoltarTelaPrincipalClick();
    QCOMPARE(msViews, percentView ? 1 : 0);
    for (const QString &c : rowColumnFields() + QStringList{"GroupBox10", "btnVoltarTelaPrincipal", "Gauge4"})
        QVERIFY2(!rig.screen.isVisible(c), qPrintable(c));
    for (const QString &c : names::injectionRowCaptions() +
                                QStringList{"GroupBox3", "Button3", "Button6", "Button8", "btnCarregar", "btnSalvar",
                                            "btnAlterarMapas"})
        QVERIFY2(rig.screen.isVisible(c), qPrintable(c));
    QVERIFY(rig.screen.isEnabled("btnAlterarMapas"));
    QVERIFY(rig.screen.isEnabled("TabSheet1"));
    QCOMPARE(rig.screen.isEnabled("Button3"), portActive);
    QCOMPARE(rig.screen.isEnabled("btnDesativar"), portActive);
    QCOMPARE(rig.screen.isEnabled("btnAtivar"), !portActive);

    // The injection map is in milliseconds again.
    QVERIFY(!rig.state.percentView);
    QVERIFY(rig.screen.isEnabled("btnPercentual"));
    QVERIFY(!rig.screen.isEnabled("btnmS"));
    QCOMPARE(rig.screen.text("e0i"), QString("3,5"));
    QCOMPARE(rig.screen.text("e7i"), QString(percentView ? "8,2" : "8,1"));
    QCOMPARE(rig.screen.text("Label46"),
             percentView ? QString(" Valores em Ti \" mS \" ") : QString("Valores em Ti   \" mS \""));
    for (const char *b : {"btnSalvar", "Button1", "btnCarregar", "Button2"})
        QVERIFY2(rig.screen.isEnabled(b), b);
    for (const char *b : {"btnEnvia", "Button8", "btnLerDados", "Button6"})
        QVERIFY2(rig.screen.isEnabled(b) == portActive, b);
}

// A percent cell that does not convert back keeps the edit mode open, so the ms
// button stays within reach and the map cannot leave the edit mode in percent.
void TestMapEdit::leaveEditModeWithBadPercentCell()
{
    Rig rig;
    MapViews views(rig.ctx);
    rig.ctx.hooks.msView = [&] { views.btnmSClick(); };
    MapEdit edit(rig.ctx);
    edit.btnAlterarMapasClick();
    views.btnPercentualClick();
    rig.screen.setText("e20i", "");
    rig.guarded([&] { edit.btnVoltarTelaPrincipalClick(); });
    QCOMPARE(rig.prompt.messages, QStringList{"'' is not a valid floating point value\nO campo e20i (injeção linha 3 "
                                              "coluna 5) está vazio: escreva um número."});
    QVERIFY(rig.state.percentView);
    QVERIFY(rig.screen.isVisible("GroupBox10"));
    QVERIFY(rig.screen.isVisible("btnVoltarTelaPrincipal"));
    QVERIFY(rig.screen.isEnabled("btnmS"));
    QVERIFY(!rig.screen.isVisible("btnAlterarMapas"));
    QVERIFY(!rig.screen.isEnabled("btnAtivar"));
    QCOMPARE(rig.screen.text("e0i"), QString("2,9"));

    rig.screen.setText("e20i", "12");
    edit.btnVoltarTelaPrincipalClick();
    QVERIFY(!rig.state.percentView);
    QVERIFY(!rig.screen.isVisible("GroupBox10"));
    QCOMPARE(rig.screen.text("e0i"), QString("3,5"));
    QCOMPARE(rig.screen.text("e20i"), QString("4,0"));
    QVERIFY(rig.screen.isEnabled("btnAtivar"));
}

QTEST_GUILESS_MAIN(TestMapEdit)
#include "tst_mapedit.moc"
