// The injection map in milliseconds and in injector duty percent.
#include "fakes.h"
#include "maps/views.h"

#include "common/controls.h"
#include "common/names.h"

#include <QtTest>

namespace {

const QString startCaption = QStringLiteral("Valores em Ti   \" mS \"");
const QString percentCaption = QStringLiteral(" Valores em  \" % \" ");
const QString returnCaption = QStringLiteral(" Valores em Ti \" mS \" ");

const QStringList sendRead{"btnEnvia", "Button8", "btnLerDados", "Button6"};
const QStringList saveLoad{"btnSalvar", "Button1", "btnCarregar", "Button2"};

// The enabled states after "&Ativar" opened the port.
void activatePort(Rig &rig)
{
    rig.state.link = LinkState::Open;
    for (const char *b : {"btnDesativar", "Button3", "btnLerDados", "Button6", "btnEnvia", "Button8"})
        rig.screen.setEnabled(b, true);
    rig.screen.setEnabled("btnAtivar", false);
}

QStringList injectionTexts(const Rig &rig)
{
    QStringList t;
    for (int k = 0; k < 72; ++k)
        t << rig.screen.text(names::injectionCell(k));
    return t;
}

QStringList ignitionTexts(const Rig &rig)
{
    QStringList t;
    for (int k = 0; k < 72; ++k)
        t << rig.screen.text(names::ignitionCell(k));
    return t;
}

// Everything a conversion may touch besides the cells.
struct ViewState {
    QHash<QString, bool> enabled;
    QString caption;
    bool percentView;
    friend bool operator==(const ViewState &, const ViewState &) = default;
};

ViewState viewState(const Rig &rig)
{
    ViewState v;
    for (const QString &b : sendRead + saveLoad + QStringList{"btnAtivar", "btnPercentual", "btnmS"})
        v.enabled.insert(b, rig.screen.isEnabled(b));
    v.caption = rig.screen.text("Label46");
    v.percentView = rig.state.percentView;
    return v;
}

} // namespace

class TestViews : public QObject {
    Q_OBJECT

private slots:
    void cellValues_data();
    void cellValues();
    void typedPercent_data();
    void typedPercent();
    void ignitionUntouched();
    void captions();
    void enabledStates_data();
    void enabledStates();
    void failedConversionChangesNothing_data();
    void failedConversionChangesNothing();
};

void TestViews::cellValues_data()
{
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("ms");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<QString>("back");
    QTest::newRow("cell 0 row 0") << 0 << "3,5" << "2,9" << "3,5";
    QTest::newRow("cell 11 row 1") << 11 << "6,2" << "9,3" << "6,2";
    QTest::newRow("cell 71 row 8") << 71 << "8,1" << "97,2" << "8,1";
    QTest::newRow("cell 7 row 0 drifts") << 7 << "8,1" << "6,8" << "8,2";
    QTest::newRow("cell 6 row 0 whole") << 6 << "8" << "6,7" << "8,0";
    QTest::newRow("cell 16 row 2 whole") << 16 << "4" << "12,0" << "4,0";
    QTest::newRow("zero row 0") << 0 << "0" << "0,0" << "0,0";
    QTest::newRow("zero row 5") << 44 << "0" << "0,0" << "0,0";
    QTest::newRow("blanks around") << 30 << " 2,0 " << "9,0" << "2,0";
    QTest::newRow("negative") << 9 << "-2" << "-3,0" << "-2,0";
    // Long texts (from a read-back or a map file) just below a rounding edge: the
    // general format takes them to 15 digits before the one-decimal rounding.
    QTest::newRow("rounding edge row 0") << 0 << "8,0999999999999999" << "6,8" << "8,2";
    QTest::newRow("rounding edge row 3") << 24 << "0,6999999999999999" << "3,2" << "0,7";
}

void TestViews::cellValues()
{
    QFETCH(int, cell);
    QFETCH(QString, ms);
    QFETCH(QString, percent);
    QFETCH(QString, back);
    Rig rig;
    MapViews views(rig.ctx);
    rig.screen.setText(names::injectionCell(cell), ms);
    views.btnPercentualClick();
    QCOMPARE(rig.screen.text(names::injectionCell(cell)), percent);
    views.btnmSClick();
    QCOMPARE(rig.screen.text(names::injectionCell(cell)), back);
}

void TestViews::typedPercent_data()
{
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<QString>("ms");
    QTest::newRow("row 0") << 0 << "2,9" << "3,5";
    QTest::newRow("row 1") << 8 << "15" << "10,0";
    QTest::newRow("row 8") << 71 << "97,2" << "8,1";
    QTest::newRow("zero") << 40 << "0" << "0,0";
    QTest::newRow("rounding edge row 0") << 0 << "2,8749999999999999" << "3,5";
}

// Percentages typed in the percent view come back as milliseconds like all others.
void TestViews::typedPercent()
{
    QFETCH(int, cell);
    QFETCH(QString, percent);
    QFETCH(QString, ms);
    Rig rig;
    MapViews views(rig.ctx);
    views.btnPercentualClick();
    rig.screen.setText(names::injectionCell(cell), percent);
    views.btnmSClick();
    QCOMPARE(rig.screen.text(names::injectionCell(cell)), ms);
}

void TestViews::ignitionUntouched()
{
    Rig rig;
    MapViews views(rig.ctx);
    const QStringList before = ignitionTexts(rig);
    views.btnPercentualClick();
    QCOMPARE(ignitionTexts(rig), before);
    views.btnmSClick();
    QCOMPARE(ignitionTexts(rig), before);
}

void TestViews::captions()
{
    Rig rig;
    MapViews views(rig.ctx);
    QCOMPARE(rig.screen.text("Label46"), startCaption);
    views.btnPercentualClick();
    QCOMPARE(rig.screen.text("Label46"), percentCaption);
    views.btnmSClick();
    QCOMPARE(rig.screen.text("Label46"), returnCaption);
    views.btnPercentualClick();
    QCOMPARE(rig.screen.text("Label46"), percentCaption);
}

void TestViews::enabledStates_data()
{
    QTest::addColumn<bool>("portActive");
    QTest::newRow("port active") << true;
    QTest::newRow("port inactive") << false;
}

void TestViews::enabledStates()
{
    QFETCH(bool, portActive);
    Rig rig;
    if (portActive)
        activatePort(rig);
    rig.state.editMode = true; // the views are switched in the map edit mode
    MapViews views(rig.ctx);
    QVERIFY(rig.screen.isEnabled("btnPercentual"));
    QVERIFY(!rig.screen.isEnabled("btnmS"));

    views.btnPercentualClick();
    QVERIFY(rig.state.percentView);
    for (const QString &b : sendRead + saveLoad + QStringList{"btnAtivar"})
        QVERIFY2(!rig.screen.isEnabled(b), qPrintable(b));
    QVERIFY(rig.screen.isEnabled("btnmS"));
    QVERIFY(!rig.screen.isEnabled("btnPercentual"));

    views.btnmSClick();
    QVERIFY(!rig.state.percentView);
    QVERIFY(rig.screen.isEnabled("btnPercentual"));
    QVERIFY(!rig.screen.isEnabled("btnmS"));
    for (const QString &b : saveLoad)
        QVERIFY2(rig.screen.isEnabled(b), qPrintable(b));
    for (const QString &b : sendRead)
        QVERIFY2(rig.screen.isEnabled(b) == portActive, qPrintable(b));
    // Port activation is left to the end of the edit mode.
    QVERIFY(!rig.screen.isEnabled("btnAtivar"));
    // The edit mode keeps the scanner and the port's buttons locked.
    QVERIFY(!rig.screen.isEnabled("Button3"));
    QVERIFY(!rig.screen.isEnabled("btnDesativar"));
}

void TestViews::failedConversionChangesNothing_data()
{
    QTest::addColumn<bool>("toPercent");
    QTest::addColumn<bool>("portActive");
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("repaired");
    QTest::addColumn<QString>("repairedResult");
    QTest::addColumn<QString>("message");
    // The conversion's own line, then the cell and what it holds.
    QTest::newRow("percent, empty first cell") << true << true << 0 << "" << "3,5" << "2,9"
                                               << "'' is not a valid floating point value\nO campo e0i (injeção "
                                                  "linha 1 coluna 1) está vazio: escreva um número.";
    QTest::newRow("percent, last cell") << true << false << 71 << "8,1x" << "8,1" << "97,2"
                                        << "'8,1x' is not a valid floating point value\nO campo e71i (injeção linha 9 "
                                           "coluna 8) contém \"8,1x\", que não é um número.";
    QTest::newRow("percent, point for comma") << true << true << 40 << "7.6" << "7,6" << "57,0"
                                              << "'7.6' is not a valid floating point value\nO campo e40i (injeção "
                                                 "linha 6 coluna 1) contém \"7.6\", que não é um número.";
    QTest::newRow("ms, empty middle cell") << false << true << 36 << "" << "44,4" << "7,4"
                                           << "'' is not a valid floating point value\nO campo e36i (injeção linha 5 "
                                              "coluna 5) está vazio: escreva um número.";
    QTest::newRow("ms, last cell") << false << false << 71 << "abc" << "97,2" << "8,1"
                                   << "'abc' is not a valid floating point value\nO campo e71i (injeção linha 9 "
                                      "coluna 8) contém \"abc\", que não é um número.";
}

// A cell that does not convert leaves the map in the units it had and every other
// control as it was; once mended, the same button converts every cell exactly once.
void TestViews::failedConversionChangesNothing()
{
    QFETCH(bool, toPercent);
    QFETCH(bool, portActive);
    QFETCH(int, cell);
    QFETCH(QString, text);
    QFETCH(QString, repaired);
    QFETCH(QString, repairedResult);
    QFETCH(QString, message);
    Rig rig;
    if (portActive)
        activatePort(rig);
    MapViews views(rig.ctx);
    if (!toPercent)
        views.btnPercentualClick();
    auto press = [&] {
        if (toPercent)
            views.btnPercentualClick();
        else
            views.btnmSClick();
    };

    rig.screen.setText(names::injectionCell(cell), text);
    const QStringList cellsBefore = injectionTexts(rig);
    const ViewState stateBefore = viewState(rig);
    rig.guarded(press);
    QCOMPARE(rig.prompt.messages, QStringList{message});
    QCOMPARE(injectionTexts(rig), cellsBefore);
    QVERIFY(viewState(rig) == stateBefore);

    rig.screen.setText(names::injectionCell(cell), repaired);
    press();
    QCOMPARE(rig.screen.text(names::injectionCell(cell)), repairedResult);
    // Cell 0 and cell 71 converted once from their texts before the failure.
    const QString cell0 = toPercent ? "2,9" : "3,5";
    const QString cell71 = toPercent ? "97,2" : "8,1";
    if (cell != 0)
        QCOMPARE(rig.screen.text(names::injectionCell(0)), cell0);
    if (cell != 71)
        QCOMPARE(rig.screen.text(names::injectionCell(71)), cell71);
    QCOMPARE(rig.state.percentView, toPercent);
    QCOMPARE(rig.screen.text("Label46"), toPercent ? percentCaption : returnCaption);
    QCOMPARE(rig.prompt.messages.size(), 1);
}

QTEST_GUILESS_MAIN(TestViews)
#include "tst_views.moc"
