// Undo and redo of the parameter set, the unsaved-changes flag, the question on closing
// and the comparison with a map file, on the whole core over the fakes.
#include "common/controls.h"
#include "common/names.h"
#include "core/undo.h"
#include "fakecore.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString closeQuestionText =
    QString::fromUtf8(" Os dados da tela foram alterados e não foram salvos. Salvar antes de sair? ");
const QStringList closeButtons = {"Salvar", "Sair sem salvar", "Cancelar"};

// Not part of the parameter set: the amounts of the bulk change (a failed change keeps
// them), the diagnostic read-outs and the lists of the port and the diagnostics.
bool isExcluded(const QString &name)
{
    static const QStringList fixed = {"eAltera", "eAlterar", "ListBox1", "Label51", "cbPorta"};
    if (fixed.contains(name))
        return true;
    for (int i = 0; i < 9; ++i) {
        if (name == names::ignitionRowField(i) || name == names::injectionRowField(i) ||
            (i < 8 && (name == names::ignitionColumnField(i) || name == names::injectionColumnField(i))))
            return true;
    }
    return false;
}

// The enabled states that follow the parameter set and the view of the injection map.
const QStringList viewButtons = {"btnPercentual", "btnmS", "cbDentesPms", "cbPontoZero", "btnEnvia", "Button8",
                                 "btnLerDados", "Button6", "btnSalvar", "Button1", "btnCarregar", "Button2"};

// Every text, selection and list of every control, the view's enabled states, the view
// flag and the TPS limits: what a tuner sees of the parameter set.
QStringList screenView(CoreRig &rig)
{
    QStringList out;
    for (const ControlSpec &c : controlTable()) {
        if (isExcluded(c.name))
            continue;
        out << c.name + "=" + rig.screen.text(c.name) + "#" + QString::number(rig.screen.itemIndex(c.name)) + "[" +
                   rig.screen.items(c.name).join('|') + "]";
    }
    out << "enabled=" + rig.screen.enabledOf(viewButtons).join(',');
    out << QString("percent=%1 tps=%2/%3")
               .arg(rig.state().percentView)
               .arg(rig.state().wv.tpsMin)
               .arg(rig.state().wv.tpsMax);
    return out;
}

// The first line that differs, for a readable failure.
QString firstDifference(const QStringList &a, const QStringList &b)
{
    for (qsizetype i = 0; i < qMin(a.size(), b.size()); ++i)
        if (a[i] != b[i])
            return a[i] + "  <>  " + b[i];
    return a.size() == b.size() ? QString() : QString("lengths %1 and %2").arg(a.size()).arg(b.size());
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray tuneBytes(const Tune &tune) { return mapfile::encodeLine(tune.fields()); }

void typeInto(CoreRig &rig, const QString &field, const QString &text)
{
    rig.screen.type(field, text);
    rig.c().fieldLeft();
}

// A tuner's random session: typed edits, bulk changes, view conversions, loads and
// read-backs, each only where its button could be pressed.
class Session {
public:
    Session(CoreRig &rig, QRandomGenerator &random, const QString &folder) : rig_(rig), r_(random), folder_(folder) {}

    void step()
    {
        const bool percent = rig_.state().percentView;
        switch (r_.bounded(percent ? 3 : 6)) {
        case 0: typedEdit(); break;
        case 1: bulkChange(); break;
        case 2: convert(); break;
        case 3: load(); break;
        case 4: readBack(); break;
        default: typedEdit(); break;
        }
    }

private:
    QString number()
    {
        const int whole = r_.bounded(40);
        return r_.bounded(2) ? QString::number(whole) : QString("%1,%2").arg(whole).arg(r_.bounded(10));
    }

    QString randomText(const QString &field)
    {
        const QStringList items = rig_.screen.items(field);
        if (!items.isEmpty() && r_.bounded(4))
            return items.at(r_.bounded(int(items.size())));
        // Cells hold numbers, so that the bulk change and the conversions go on working.
        const bool cell = field.size() > 1 && field[1].isDigit();
        return cell || r_.bounded(8) ? number() : QString::fromUtf8("ção;%1").arg(r_.bounded(100));
    }

    void typedEdit()
    {
        const QStringList &fields = mapfile::fieldControls();
        const QString field = fields.at(r_.bounded(int(fields.size())));
        Controller &c = rig_.c();
        rig_.screen.type(field, randomText(field));
        rig_.guarded([&] {
            if (field == "cbTipoRodaFonica")
                c.cbTipoRodaFonicaChange();
            else if (field == "cbEscalaRpm")
                c.cbEscalaRpmChange();
            else if (field == "cbCombinacaoMapa")
                c.cbCombinacaoMapaExit();
            else if (field == "eLimiteRpm")
                c.eLimiteRpmExit();
            else if (field == "eTempoCarga")
                c.eTempoCargaExit();
            else if (field == "eAvancoPartida")
                c.eAvancoPartidaExit();
            else if (field == "eDeslCutOff")
                c.eDeslCutOffExit();
            else if (field == "eLigaCutOff")
                c.eLigaCutOffExit();
        });
        c.fieldLeft();
    }

    void openEditMode()
    {
        if (!rig_.screen.isVisible("GroupBox10"))
            rig_.c().btnAlterarMapasClick();
    }

    void bulkChange()
    {
        openEditMode();
        const QString amounts[] = {"eAltera", "eAlterar", names::ignitionRowField(r_.bounded(9)),
                                   names::injectionColumnField(r_.bounded(8))};
        for (const QString &field : amounts)
            rig_.screen.setText(field, QString::number(r_.bounded(-20, 21)));
        rig_.guarded([&] { rig_.c().btnAlterarClick(); });
    }

    void convert()
    {
        openEditMode();
        Controller &c = rig_.c();
        if (rig_.state().percentView)
            rig_.guarded([&] { r_.bounded(2) ? c.btnmSClick() : c.btnVoltarTelaPrincipalClick(); });
        else
            rig_.guarded([&] { c.btnPercentualClick(); });
    }

    void load()
    {
        Tune tune;
        for (const QString &field : mapfile::fieldControls()) {
            QString text = randomText(field);
            text.remove(';');
            tune.texts << text;
        }
        tune.tpsMin = r_.bounded(1024);
        tune.tpsMax = r_.bounded(256);
        const QString path = QDir(folder_).filePath(QString("load%1.txt").arg(++files_));
        writeFile(path, tuneBytes(tune));
        rig_.prompt.fileAnswers.push_back(path);
        rig_.guarded([&] { rig_.c().btnCarregarClick(); });
    }

    void readBack()
    {
        rig_.guarded([&] { rig_.c().btnLerDadosClick(); });
        for (int kind = 1; kind <= 26; ++kind) {
            if (kind != 1 && kind != 26 && r_.bounded(4) == 0)
                continue; // a frame lost on the line
            std::array<std::uint8_t, 8> p;
            for (auto &b : p)
                b = std::uint8_t(r_.bounded(256));
            if (kind == 25)
                p[0] = std::uint8_t(3 * r_.bounded(1, 4)); // a wheel code
            rig_.receive(kind, p);
        }
    }

    CoreRig &rig_;
    QRandomGenerator &r_;
    QString folder_;
    int files_ = 0;
};

} // namespace

class TestUndo : public QObject {
    Q_OBJECT
private slots:
    void undoAllGivesTheStartUpScreenRedoAllTheFinalOne_data();
    void undoAllGivesTheStartUpScreenRedoAllTheFinalOne();
    void oneStepPerOperation();
    void stepIntoThePercentViewOpensTheMapEditMode();
    void stepIntoThePercentViewWhileTheScannerRunsIsRefused();
    void noUndoWhileATransferRuns();
    void tpsCalibrationIsOneStep();
    void tpsCalibrationThatSendsNothingLeavesNoStep_data();
    void tpsCalibrationThatSendsNothingLeavesNoStep();
    void typedEditBeforeAReadBackIsAStepOfItsOwn();
    void redoingTheReturnFromThePercentViewLeavesTheEditMode();
    void unsavedFlag_data();
    void unsavedFlag();
    void closeQuestion_data();
    void closeQuestion();
    void saveBeforeClosingInThePercentViewIsRefused();
    void compareWithAFile();
    void compareWithAFileThatDoesNotLoad();
};

void TestUndo::undoAllGivesTheStartUpScreenRedoAllTheFinalOne_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::newRow("seed 1") << 1u;
    QTest::newRow("seed 2024") << 2024u;
    QTest::newRow("seed 77") << 77u;
}

void TestUndo::undoAllGivesTheStartUpScreenRedoAllTheFinalOne()
{
    QFETCH(quint32, seed);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    CoreRig rig({"/dev/ttyUSB0"});
    rig.c().ComPort1AfterOpen();
    rig.c().portActivated();
    const QStringList start = screenView(rig);

    QRandomGenerator random(seed);
    Session session(rig, random, folder.path());
    for (int i = 0; i < 1000; ++i)
        session.step();
    const QStringList final = screenView(rig);
    const int steps = rig.c().history().count() - 1;
    QVERIFY2(steps > 600, qPrintable(QString::number(steps) + " " + rig.prompt.messages.mid(0, 30).join("\n")));
    const qsizetype written = rig.port.writes.size();

    int undone = 0;
    while (rig.c().canUndo()) {
        rig.c().undo();
        QVERIFY(++undone <= steps);
    }
    QCOMPARE(undone, steps);
    QVERIFY2(screenView(rig) == start, qPrintable(firstDifference(screenView(rig), start)));
    QVERIFY(rig.c().canRedo());

    int redone = 0;
    while (rig.c().canRedo()) {
        rig.c().redo();
        ++redone;
    }
    QCOMPARE(redone, steps);
    QVERIFY2(screenView(rig) == final, qPrintable(firstDifference(screenView(rig), final)));
    QCOMPARE(rig.port.writes.size(), written); // undo and redo send nothing
}

void TestUndo::oneStepPerOperation()
{
    CoreRig rig;
    Controller &c = rig.c();
    QCOMPARE(c.history().count(), 1);
    typeInto(rig, "e3", "9");
    QCOMPARE(c.history().count(), 2);
    c.fieldLeft(); // leaving again without a change adds nothing
    QCOMPARE(c.history().count(), 2);

    c.btnAlterarMapasClick();
    rig.screen.setText("eAltera", "2");
    rig.screen.setText("eAlterar", "20");
    c.btnAlterarClick();
    QCOMPARE(c.history().count(), 3);
    QCOMPARE(rig.screen.text("e3"), QString("11"));
    QCOMPARE(rig.screen.text("e0i"), QString("4,2"));

    // A field typed in and not left yet becomes a step of its own before the next one.
    rig.screen.type("e4", "20");
    c.btnPercentualClick();
    QCOMPARE(c.history().count(), 5);

    c.undo();
    QCOMPARE(rig.screen.text("e0i"), QString("4,2"));
    QVERIFY(!rig.state().percentView);
    QCOMPARE(rig.screen.text("Label46"), QString("Valores em Ti   \" mS \""));
    QVERIFY(rig.screen.isEnabled("btnPercentual"));
    QVERIFY(!rig.screen.isEnabled("btnmS"));
    QCOMPARE(rig.screen.text("e4"), QString("20"));
    c.undo();
    QCOMPARE(rig.screen.text("e4"), QString("8"));
    c.undo();
    QCOMPARE(rig.screen.text("e3"), QString("9"));
    QCOMPARE(rig.screen.text("e0i"), QString("3,5"));
    c.undo();
    QCOMPARE(rig.screen.text("e3"), QString("6"));
    QVERIFY(!c.canUndo());

    // A new change drops what could be redone.
    c.redo();
    QCOMPARE(rig.screen.text("e3"), QString("9"));
    typeInto(rig, "e5", "7");
    QVERIFY(!c.canRedo());
    QCOMPARE(c.history().count(), 3);
}

void TestUndo::stepIntoThePercentViewOpensTheMapEditMode()
{
    CoreRig rig;
    Controller &c = rig.c();
    c.btnAlterarMapasClick();
    c.btnPercentualClick();
    c.btnVoltarTelaPrincipalClick(); // back to ms on leaving the mode
    QVERIFY(!rig.screen.isVisible("GroupBox10"));
    QCOMPARE(rig.screen.text("e0i"), QString("3,5"));

    c.undo();
    QVERIFY(rig.state().percentView);
    QVERIFY(rig.screen.isVisible("GroupBox10"));
    QVERIFY(!rig.screen.isVisible("btnAlterarMapas"));
    QCOMPARE(rig.screen.text("e0i"), QString("2,9"));
    QCOMPARE(rig.screen.text("Label46"), QString(" Valores em  \" % \" "));
    QVERIFY(rig.screen.isEnabled("btnmS"));
    QCOMPARE(rig.screen.enabledOf({"btnEnvia", "Button8", "btnLerDados", "Button6", "btnSalvar", "Button1",
                                   "btnCarregar", "Button2", "btnAtivar", "btnPercentual"}),
             QStringList());
}

void TestUndo::stepIntoThePercentViewWhileTheScannerRunsIsRefused()
{
    CoreRig rig;
    Controller &c = rig.c();
    c.ComPort1AfterOpen();
    c.portActivated();
    c.btnAlterarMapasClick();
    c.btnPercentualClick();
    c.btnVoltarTelaPrincipalClick();
    c.Button3Click(); // the scanner locks "Alterar &Mapas"
    const QStringList before = {rig.screen.text("e0i"), rig.screen.text("Label46")};
    rig.guarded([&] { c.undo(); });
    QCOMPARE(rig.prompt.messages,
             QStringList{QString::fromUtf8(" Atenção ! !  Esta etapa volta o mapa de injeção para \" % \", que só é "
                                           "mostrado em \"Alterar Mapas\": desative o scanner antes.  ")});
    QCOMPARE((QStringList{rig.screen.text("e0i"), rig.screen.text("Label46")}), before);
    QVERIFY(!rig.state().percentView);
    QVERIFY(c.canUndo());

    // A step that stays in the ms view goes back while the scanner runs.
    c.Button3Click();
    typeInto(rig, "e1", "12");
    c.Button3Click();
    c.undo();
    QCOMPARE(rig.screen.text("e1"), QString("10"));
    QVERIFY(rig.state().scannerActive);
}

void TestUndo::noUndoWhileATransferRuns()
{
    CoreRig rig;
    Controller &c = rig.c();
    c.ComPort1AfterOpen();
    c.portActivated();
    typeInto(rig, "e1", "12");

    c.btnEnviaClick();
    QVERIFY(!c.canUndo());
    c.undo();
    QCOMPARE(rig.screen.text("e1"), QString("12"));
    for (int i = 0; i < 35; ++i)
        c.Timer2Timer();
    QVERIFY(c.canUndo());

    c.btnLerDadosClick();
    QVERIFY(!c.canUndo());
    rig.receive(1, {20, 21, 22, 23, 24, 25, 26, 27});
    QVERIFY(!c.canUndo());
    c.undo();
    QCOMPARE(rig.screen.text("e1"), QString("21"));
    rig.receive(26, {144, 0, 0, 0, 0, 0, 0, 0});
    QVERIFY(c.canUndo());
    c.undo(); // the whole read-back is one step
    QCOMPARE(rig.screen.text("e0"), QString("10"));
    QCOMPARE(rig.screen.text("e1"), QString("12"));
}

void TestUndo::tpsCalibrationIsOneStep()
{
    CoreRig rig;
    Controller &c = rig.c();
    c.ComPort1AfterOpen();
    c.portActivated();
    // Live data with a TPS reading (p4 + 256 p5).
    auto liveData = [&](int reading) {
        rig.receive(29, {90, 0, 0, 0, std::uint8_t(reading & 0xFF), std::uint8_t(reading >> 8), 0, 0});
    };
    c.btnConfigurarTpsClick();
    QVERIFY(!c.canUndo());
    c.TimerTPSTimer(); // step 1: scanner on
    liveData(200);     // closed throttle
    for (int step = 2; step <= 4; ++step)
        c.TimerTPSTimer();
    for (int i = 0; i < 6; ++i)
        liveData(900); // the sixth is the full-throttle sample
    for (int step = 5; step <= 11; ++step)
        c.TimerTPSTimer(); // step 11 starts the upload
    QVERIFY(!c.canUndo());
    for (int i = 0; i < 35; ++i)
        c.Timer2Timer();
    for (int step = 12; step <= 17; ++step)
        c.TimerTPSTimer();
    QCOMPARE(rig.state().wv.tpsMin, 200);
    QCOMPARE(rig.state().wv.tpsMax, 225);
    QCOMPARE(c.history().count(), 2);
    QVERIFY(c.canUndo());
    c.undo();
    QCOMPARE(rig.state().wv.tpsMin, 130);
    QCOMPARE(rig.state().wv.tpsMax, 230);
    c.redo();
    QCOMPARE(rig.state().wv.tpsMax, 225);
    QVERIFY(c.unsaved()); // the new limits are in no file yet
}

void TestUndo::tpsCalibrationThatSendsNothingLeavesNoStep_data()
{
    const QString notSent = QString::fromUtf8(
        " Atenção ! !  Os limites do TPS não foram enviados ao módulo. A configuração do TPS foi cancelada.  ");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("lastMessage");
    QTest::newRow("upload refused") << "refused" << notSent;
    QTest::newRow("upload interrupted") << "interrupted" << notSent;
    QTest::newRow("closed throttle too high") << "high" << QString::fromUtf8(" A configuração foi cancelada ! ! ! ");
    QTest::newRow("no live data") << "silent"
                                  << QString::fromUtf8(" Atenção ! !  O módulo não respondeu. A configuração do TPS foi "
                                                       "cancelada.  ");
}

// Limits that never reached the module are no step: after the calibration the history
// is as it was, and undo goes back past the edit made before it.
void TestUndo::tpsCalibrationThatSendsNothingLeavesNoStep()
{
    QFETCH(QString, ending);
    QFETCH(QString, lastMessage);
    CoreRig rig;
    Controller &c = rig.c();
    c.ComPort1AfterOpen();
    c.portActivated();
    const Tune beforeEdit = c.mapFile().screenTune();
    if (ending == "refused")
        typeInto(rig, "cbPontoZero", "5"); // no entry selected: the upload refuses it
    else
        typeInto(rig, "e1", "12");
    const int steps = c.history().count();
    QCOMPARE(steps, 2);
    auto liveData = [&](int reading) {
        rig.receive(29, {90, 0, 0, 0, std::uint8_t(reading & 0xFF), std::uint8_t(reading >> 8), 0, 0});
    };

    c.btnConfigurarTpsClick();
    c.TimerTPSTimer();
    if (ending != "silent")
        liveData(ending == "high" ? 300 : 200);
    for (int step = 2; step <= 4; ++step)
        rig.guarded([&] { c.TimerTPSTimer(); });
    if (ending == "refused" || ending == "interrupted") {
        for (int i = 0; i < 6; ++i)
            liveData(900);
        rig.port.failWrites = ending == "interrupted";
        for (int step = 5; step <= 11; ++step)
            rig.guarded([&] { c.TimerTPSTimer(); });
        for (int i = 0; i < 35 && rig.timer2.isEnabled(); ++i)
            rig.guarded([&] { c.Timer2Timer(); });
        rig.port.failWrites = false;
        for (int step = 12; step <= 17 && rig.state().tps == TpsPhase::Sampling; ++step)
            rig.guarded([&] { c.TimerTPSTimer(); });
    }
    QCOMPARE(rig.state().tps, TpsPhase::None);
    QVERIFY(!rig.timerTps.isEnabled());
    QCOMPARE(rig.prompt.messages.last(), lastMessage);
    QCOMPARE(rig.state().wv.tpsMin, 130);
    QCOMPARE(rig.state().wv.tpsMax, 230);
    QCOMPARE(c.history().count(), steps);
    c.undo();
    QVERIFY(c.mapFile().screenTune() == beforeEdit);
    QVERIFY(!c.canUndo());
    QCOMPARE(rig.state().wv.tpsMin, 130);
    QCOMPARE(rig.state().wv.tpsMax, 230);
}

// A value typed into a cell and not left yet when "&Lêr  Dados" is pressed is a step
// before the read-back's: the first undo after the read-back gives the typed value back.
void TestUndo::typedEditBeforeAReadBackIsAStepOfItsOwn()
{
    CoreRig rig;
    Controller &c = rig.c();
    c.ComPort1AfterOpen();
    c.portActivated();
    rig.screen.type("e1", "12");
    c.btnLerDadosClick();
    rig.receive(1, {20, 21, 22, 23, 24, 25, 26, 27});
    rig.receive(26, {144, 0, 0, 0, 0, 0, 0, 0});
    QCOMPARE(rig.screen.text("e1"), QString("21"));
    QCOMPARE(c.history().count(), 3);
    c.undo();
    QCOMPARE(rig.screen.text("e0"), QString("10"));
    QCOMPARE(rig.screen.text("e1"), QString("12"));
    c.undo();
    QCOMPARE(rig.screen.text("e1"), QString("10"));
    QVERIFY(!c.canUndo());
    c.redo();
    c.redo();
    QCOMPARE(rig.screen.text("e1"), QString("21"));
}

// "&Voltar  Tela Principal " from the percent view is one step (back to ms); undo opens
// the edit mode again in percent, and redo leaves the mode as the click did.
void TestUndo::redoingTheReturnFromThePercentViewLeavesTheEditMode()
{
    CoreRig rig;
    Controller &c = rig.c();
    c.ComPort1AfterOpen();
    c.portActivated();
    c.btnAlterarMapasClick();
    c.btnPercentualClick();
    c.btnVoltarTelaPrincipalClick();
    const QStringList shown = {"Button3", "Button6", "Button8", "btnCarregar", "btnSalvar", "btnAlterarMapas",
                               "GroupBox3", "GroupBox10", "btnVoltarTelaPrincipal", "eC0ig", "eL8inj"};
    const QStringList enabled = {"btnAlterarMapas", "Button3", "btnDesativar", "btnAtivar", "btnEnvia", "btnmS",
                                 "btnPercentual"};
    auto view = [&] {
        QStringList out;
        for (const QString &n : shown)
            out << n + (rig.screen.isVisible(n) ? "+" : "-");
        return out.join(' ') + " | " + rig.screen.enabledOf(enabled).join(',') + " | " + rig.screen.text("e0i");
    };
    const QString afterReturn = view();
    QVERIFY(!rig.screen.isVisible("GroupBox10"));

    c.undo();
    QVERIFY(rig.state().percentView);
    QVERIFY(rig.screen.isVisible("GroupBox10"));
    QCOMPARE(rig.screen.text("e0i"), QString("2,9"));
    c.redo();
    QVERIFY(!rig.state().percentView);
    QCOMPARE(view(), afterReturn);

    // A step into ms taken inside the mode ("Ti mS") keeps the mode open when redone.
    c.undo();
    c.btnmSClick();
    QVERIFY(!c.canRedo());
    c.undo();
    c.redo();
    QVERIFY(!rig.state().percentView);
    QVERIFY(rig.screen.isVisible("GroupBox10"));
    QVERIFY(!rig.screen.isVisible("btnAlterarMapas"));
}

void TestUndo::unsavedFlag_data()
{
    QTest::addColumn<QString>("actions");
    QTest::addColumn<bool>("unsaved");
    // e: type into a cell; u: undo; r: redo; s: save; l: load the saved file;
    // b: a read-back ended by kind 26; p/m: to percent / back to ms.
    QTest::newRow("start-up screen") << "" << false;
    QTest::newRow("typed edit") << "e" << true;
    QTest::newRow("typed edit undone") << "eu" << false;
    QTest::newRow("typed edit undone and redone") << "eur" << true;
    QTest::newRow("saved") << "es" << false;
    QTest::newRow("edited after the save") << "ese" << true;
    QTest::newRow("undone back to the saved state") << "eseu" << false;
    QTest::newRow("undone past the saved state") << "esu" << true;
    QTest::newRow("loaded") << "esul" << false;
    QTest::newRow("load undone") << "esulu" << true;
    QTest::newRow("read-back") << "b" << true;
    QTest::newRow("read-back undone") << "bu" << false;
    QTest::newRow("percent view") << "p" << true;
    QTest::newRow("percent view undone") << "pu" << false;
}

void TestUndo::unsavedFlag()
{
    QFETCH(QString, actions);
    QFETCH(bool, unsaved);
    QTemporaryDir folder;
    const QString file = folder.filePath("mapa.txt");
    CoreRig rig;
    Controller &c = rig.c();
    int typed = 0;
    for (const QChar a : actions) {
        switch (a.toLatin1()) {
        case 'e': typeInto(rig, "e2", QString::number(20 + ++typed)); break;
        case 'u': c.undo(); break;
        case 'r': c.redo(); break;
        case 's':
            rig.prompt.fileAnswers.push_back(file);
            c.btnSalvarClick();
            break;
        case 'l':
            rig.prompt.fileAnswers.push_back(file);
            c.btnCarregarClick();
            break;
        case 'b':
            for (int kind = 1; kind <= 26; ++kind)
                rig.receive(kind, {9, 8, 7, 6, 5, 4, 3, 2});
            break;
        case 'p':
            c.btnAlterarMapasClick();
            c.btnPercentualClick();
            break;
        }
    }
    QCOMPARE(rig.prompt.messages, QStringList());
    QCOMPARE(c.unsaved(), unsaved);
}

void TestUndo::closeQuestion_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("saved");
    // e: type into a cell; s: save; n: an upload to its end; N: an upload during which
    // a cell is typed in; b: a read-back ended by kind 26; w: a read-back ended by silence;
    // c: the save dialog is cancelled; f: the chosen file cannot be written.
    QTest::newRow("nothing changed") << "" << -1 << false << true << false;
    QTest::newRow("saved") << "es" << -1 << false << true << false;
    QTest::newRow("sent") << "en" << -1 << false << true << false;
    QTest::newRow("read back") << "eb" << -1 << false << true << false;
    QTest::newRow("read-back ended by silence") << "ew" << 1 << true << true << false;
    QTest::newRow("edited during the upload") << "eN" << 1 << true << true << false;
    QTest::newRow("edited after the upload") << "ene" << 1 << true << true << false;
    QTest::newRow("edited back to the saved state") << "eseu" << -1 << false << true << false;
    QTest::newRow("Salvar") << "e" << 0 << true << true << true;
    QTest::newRow("Salvar, dialog cancelled") << "ec" << 0 << true << false << false;
    QTest::newRow("Salvar, file cannot be written") << "ef" << 0 << true << false << false;
    QTest::newRow("Sair sem salvar") << "e" << 1 << true << true << false;
    QTest::newRow("Cancelar") << "e" << 2 << true << false << false;
    QTest::newRow("box closed") << "e" << -1 << true << false << false;
}

void TestUndo::closeQuestion()
{
    QFETCH(QString, before);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, closes);
    QFETCH(bool, saved);
    QTemporaryDir folder;
    const QString file = folder.filePath("mapa.txt");
    CoreRig rig;
    Controller &c = rig.c();
    c.ComPort1AfterOpen();
    c.portActivated();
    bool saveAnswered = false;
    int typed = 0;
    for (const QChar a : before) {
        switch (a.toLatin1()) {
        case 'e': typeInto(rig, "e2", QString::number(30 + ++typed)); break;
        case 'u': c.undo(); break;
        case 's':
            rig.prompt.fileAnswers.push_back(folder.filePath("antes.txt"));
            c.btnSalvarClick();
            break;
        case 'n':
        case 'N':
            c.btnEnviaClick();
            for (int i = 0; i < 35; ++i) {
                if (i == 10 && a == 'N')
                    rig.screen.type("e7", "9");
                c.Timer2Timer();
            }
            break;
        case 'b':
        case 'w':
            c.btnLerDadosClick();
            for (int kind = 1; kind <= (a == 'b' ? 26 : 20); ++kind)
                rig.receive(kind, {33, 8, 7, 6, 5, 4, 3, 2});
            for (int i = 0; a == 'w' && i < 6; ++i)
                c.TimerReadBackTimer();
            break;
        case 'c': saveAnswered = true; rig.prompt.fileAnswers.push_back(std::nullopt); break;
        case 'f': saveAnswered = true; rig.prompt.fileAnswers.push_back(folder.path()); break;
        }
    }
    if (!saveAnswered)
        rig.prompt.fileAnswers.push_back(file);
    rig.prompt.messages.clear();
    rig.prompt.questionAnswers.push_back(answer);

    bool mayClose = false;
    rig.guarded([&] { mayClose = c.FormCloseQuery(); });
    QCOMPARE(mayClose, closes);
    QCOMPARE(rig.prompt.questions, asked ? QStringList(closeQuestionText) : QStringList());
    if (asked)
        QCOMPARE(rig.prompt.questionButtons.first(), closeButtons);
    QCOMPARE(QFile::exists(file), saved);
    if (saved) {
        QCOMPARE(MapFile::readTune(file), c.mapFile().screenTune());
        QVERIFY(!c.unsaved());
    }
    QCOMPARE(rig.prompt.messages, before.contains('f') ? QStringList{"File access denied\nO arquivo " + folder.path() +
                                                                              " não pôde ser gravado: é uma pasta."}
                                                : QStringList());
}

void TestUndo::saveBeforeClosingInThePercentViewIsRefused()
{
    QTemporaryDir folder;
    CoreRig rig;
    Controller &c = rig.c();
    c.btnAlterarMapasClick();
    c.btnPercentualClick();
    rig.prompt.questionAnswers.push_back(0);
    rig.prompt.fileAnswers.push_back(folder.filePath("mapa.txt"));
    QVERIFY(!c.FormCloseQuery());
    QCOMPARE(rig.prompt.messages, QStringList{QString::fromUtf8(
                                      " Atenção ! !  O mapa de injeção está em \" % \": volte para Ti \" mS \" antes "
                                      "de salvar.  ")});
    QVERIFY(!QFile::exists(folder.filePath("mapa.txt")));
}

void TestUndo::compareWithAFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("outro.txt");
    CoreRig rig;
    Controller &c = rig.c();
    Tune other = c.mapFile().screenTune();
    other.texts[mapfile::fieldControls().indexOf("e21")] = "19";
    other.texts[mapfile::fieldControls().indexOf("cbSondaAtiva")] = "Desativada";
    other.tpsMax = 201;
    QCOMPARE(other.texts[mapfile::fieldControls().indexOf("e17i")], QStringLiteral("4"));
    other.texts[mapfile::fieldControls().indexOf("e17i")] = "4,0"; // the same value: no difference
    writeFile(path, tuneBytes(other));
    typeInto(rig, "eLimiteRpm", "6000"); // unchanged text: no difference
    const QStringList before = screenView(rig);

    rig.prompt.fileAnswers.push_back(path);
    const std::optional<FileComparison> result = c.btnCompararClick();
    QVERIFY(result);
    QCOMPARE(result->path, path);
    const QList<tunediff::Difference> expected = {
        {30, "e21", QString::fromUtf8("ignição linha 3 coluna 6"), "28", "19"},
        {159, "cbSondaAtiva", "Sonda Lambda: Atividade", "Ativada", "Desativada"},
        {202, "tpsMax", QString::fromUtf8("TPS máximo"), "230", "201"},
    };
    QCOMPARE(result->differences, expected);
    QCOMPARE(screenView(rig), before);
    QCOMPARE(c.history().count(), 1);

    rig.prompt.fileAnswers.push_back(std::nullopt);
    QVERIFY(!c.btnCompararClick());
}

void TestUndo::compareWithAFileThatDoesNotLoad()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("curto.txt");
    writeFile(path, "TPS X RPM;20;6000\r\n");
    CoreRig rig;
    const QStringList before = screenView(rig);
    rig.prompt.fileAnswers.push_back(path);
    rig.guarded([&] { (void)rig.c().btnCompararClick(); });
    QCOMPARE(rig.prompt.messages, QStringList{QString::fromUtf8(" Atenção ! !  Arquivo de mapa inválido: 3 campos em "
                                                                "vez de 202. Nada foi carregado.  ")});
    QCOMPARE(screenView(rig), before);
    QCOMPARE(rig.c().history().count(), 1);
}

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
