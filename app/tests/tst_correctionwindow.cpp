// "Correção" in the window: the dialog on the map's axes, its colours and counts, the
// sources, and applying to the screen's injection map as one undo step.
#include "app/correctiondialog.h"
#include "app/form1.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "core/undo.h"
#include "datalog/datalog.h"
#include "fakes.h"
#include "files/mapfile.h"
#include "history/vehicle.h"
#include "session/vehiclerecorder.h"
#include "tuning/tests/drivelog.h"

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

QString pagesFolder()
{
    const QString build = qEnvironmentVariable("VELTO_BUILD", QDir::currentPath());
    QDir(build).mkpath(QStringLiteral("pages"));
    return QDir(build).filePath(QStringLiteral("pages"));
}

struct Window {
    Window() : form(&prompt, QStringList{})
    {
        form.show();
        form.pages()->setCurrentIndex(0);
    }
    FakePrompt prompt;
    TForm1 form;
    WidgetScreen &s = form.widgetScreen();
    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    // A log of the drive with the start-up screen as its snapshot.
    QString driveWithSnapshot()
    {
        write(QStringLiteral("a-mapa.txt"), form.controller().mapFile().screenBytes());
        return write(QStringLiteral("a.msl"), driveLog());
    }
    CorrectionDialog *open()
    {
        for (QPushButton *b : form.findChildren<QPushButton *>())
            if (b->text() == QString::fromUtf8("Corre&ção") && b->isVisible())
                b->click();
        return form.correctionDialog();
    }
    QPushButton *button(CorrectionDialog *d, const char *name)
    {
        return d->findChild<QPushButton *>(QString::fromLatin1(name));
    }
    QString cell(int k) { return s.text(QStringLiteral("e%1i").arg(k)); }
};

} // namespace

class TestCorrectionWindow : public QObject
{
    Q_OBJECT
private slots:
    void dialogShowsTheSuggestionOnTheMapsAxes();
    void applyAllIsOneUndoStep();
    void applyMakesAnEntryOfTheVehicle();
    void applySelectedWritesOnlyThose();
    void percentViewReturnsToMsFirst();
    void changedScreenCellsAreAskedFor();
    void refusedLogLeavesEverything();
    void liveRowsFeedTheAnalysis();
};

void TestCorrectionWindow::dialogShowsTheSuggestionOnTheMapsAxes()
{
    Window w;
    QVERIFY(w.form.grab().save(pagesFolder() + QStringLiteral("/mapas-correcao.png")));
    CorrectionDialog *d = w.open();
    QVERIFY(d);
    QCOMPARE(d->windowTitle(), QString::fromUtf8(" Correção assistida do mapa de injeção "));
    QVERIFY(!w.button(d, "btnAplicarTodas")->isEnabled());
    w.prompt.fileAnswers.push_back(w.driveWithSnapshot());
    w.button(d, "btnAbrirRegistros")->click();
    QCOMPARE(w.prompt.messages, QStringList());
    QCOMPARE(w.prompt.dialogs.size(), 1);
    QCOMPARE(w.prompt.dialogs[0].filter, QStringLiteral("Registros (.msl)|*.msl|Todos os arquivos|*.*"));

    QTableWidget *t = d->table();
    QCOMPARE(t->verticalHeaderItem(0)->text(), QStringLiteral("500"));
    QCOMPARE(t->verticalHeaderItem(8)->text(), QStringLiteral("6600"));
    QCOMPARE(t->horizontalHeaderItem(0)->text(), QStringLiteral("1"));
    QCOMPARE(t->item(2, 1)->text(), QStringLiteral("4,2\n+5,0 %\n95"));
    QCOMPARE(t->item(5, 0)->text(), QStringLiteral("2,3\n-4,2 %\n97"));
    QCOMPARE(t->item(0, 0)->text(), QStringLiteral("3,5\n0,0 %\n0"));
    QCOMPARE(t->item(2, 1)->background().color(), QColor(60, 110, 230));
    QCOMPARE(t->item(5, 0)->background().color(), QColor(220, 55, 55));
    QCOMPARE(t->item(0, 0)->background().color(), QColor(175, 175, 175));
    const QStringList counts{"2", "2", "0", "0", "5", "3", "0"};
    for (int f = 0; f < 7; ++f)
        QCOMPARE(d->findChild<QLabel *>(QStringLiteral("lbRejeitadas%1").arg(f))->text(), counts[f]);
    QCOMPARE(d->findChild<QLabel *>("lbResumo")->text(), QString::fromUtf8("204 linhas, 192 usadas; 2 células a mudar."));
    QCOMPARE(d->findChild<QLabel *>("lbFonte")->text(), QString::fromUtf8("1 registro (a.msl), relativo ao mapa a-mapa.txt."));
    QVERIFY(w.button(d, "btnAplicarTodas")->isEnabled());
    QVERIFY(!d->findChild<QCheckBox *>("cbAoVivo")->isEnabled()); // the scanner is off

    // A hit threshold above 95 greys cell 17.
    auto *hits = d->findChild<QDoubleSpinBox *>("sbAcertos");
    QVERIFY(hits);
    QCOMPARE(hits->text(), QStringLiteral("20"));
    hits->setValue(96);
    QCOMPARE(t->item(2, 1)->background().color(), QColor(175, 175, 175));
    QCOMPARE(t->item(2, 1)->text(), QStringLiteral("4\n0,0 %\n95"));
    hits->setValue(20);

    d->resize(d->sizeHint());
    QVERIFY(d->grab().save(pagesFolder() + QStringLiteral("/correcao.png")));
}

void TestCorrectionWindow::applyAllIsOneUndoStep()
{
    Window w;
    CorrectionDialog *d = w.open();
    d->openLogs({w.driveWithSnapshot()});
    const int steps = w.form.controller().history().count();
    QVERIFY(!w.s.widget("lbNaoSalvo")->isVisibleTo(w.form.pages()->widget(0)));
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.prompt.messages, QStringList());
    QCOMPARE(w.cell(17), QStringLiteral("4,2"));
    QCOMPARE(w.cell(40), QStringLiteral("2,3"));
    QCOMPARE(w.cell(16), QStringLiteral("2,8"));
    QCOMPARE(w.form.controller().history().count(), steps + 1);
    QVERIFY(w.s.widget("lbNaoSalvo")->isVisibleTo(w.form.pages()->widget(0)));
    QVERIFY(w.prompt.questions.isEmpty());
    w.form.controller().undo();
    QCOMPARE(w.cell(17), QStringLiteral("4"));
    QCOMPARE(w.cell(40), QStringLiteral("2,4"));
    w.form.controller().redo();
    QCOMPARE(w.cell(17), QStringLiteral("4,2"));
    QCOMPARE(w.cell(40), QStringLiteral("2,3"));
}

// With a vehicle open, the applied correction is an entry of its history.
void TestCorrectionWindow::applyMakesAnEntryOfTheVehicle()
{
    Window w;
    w.form.openVehicle(w.dir.filePath(QStringLiteral("carro")));
    CorrectionDialog *d = w.open();
    d->openLogs({w.driveWithSnapshot()});
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.cell(17), QStringLiteral("4,2"));
    w.form.vehicle()->flush();
    QCOMPARE(w.prompt.messages, QStringList());
    history::Vehicle check(w.dir.filePath(QStringLiteral("carro")), history::Vehicle::Open::ExistingOnly);
    const QList<history::Entry> entries = check.entries();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].kind, history::kind::correction);
    QVERIFY(!entries[0].inModule);
    QCOMPARE(check.tune(entries[0].id).texts, w.form.controller().mapFile().screenTune().texts);
}

void TestCorrectionWindow::applySelectedWritesOnlyThose()
{
    Window w;
    CorrectionDialog *d = w.open();
    d->openLogs({w.driveWithSnapshot()});
    QVERIFY(!w.button(d, "btnAplicarSelecionadas")->isEnabled());
    d->table()->setCurrentCell(5, 0);
    QVERIFY(w.button(d, "btnAplicarSelecionadas")->isEnabled());
    w.button(d, "btnAplicarSelecionadas")->click();
    QCOMPARE(w.cell(40), QStringLiteral("2,3"));
    QCOMPARE(w.cell(17), QStringLiteral("4"));
    // A selected cell without a change writes nothing.
    const int steps = w.form.controller().history().count();
    d->table()->setCurrentCell(0, 0);
    w.button(d, "btnAplicarSelecionadas")->click();
    QCOMPARE(w.form.controller().history().count(), steps);
    QCOMPARE(w.cell(0), QStringLiteral("3,5"));
}

void TestCorrectionWindow::percentViewReturnsToMsFirst()
{
    Window w;
    CorrectionDialog *d = w.open();
    d->openLogs({w.driveWithSnapshot()});
    Controller &c = w.form.controller();
    c.btnAlterarMapasClick();
    c.btnPercentualClick();
    QCOMPARE(w.cell(0), QStringLiteral("2,9"));
    QVERIFY(c.context().state.percentView);
    QStringList percentTexts;
    for (int k = 0; k < 72; ++k)
        percentTexts << w.cell(k);
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.prompt.messages, QStringList());
    QVERIFY(!c.context().state.percentView);
    QCOMPARE(w.s.text("Label46"), QString::fromUtf8(" Valores em Ti \" mS \" "));
    QCOMPARE(w.cell(0), QStringLiteral("3,5"));
    QCOMPARE(w.cell(17), QStringLiteral("4,2"));
    QCOMPARE(w.cell(40), QStringLiteral("2,3"));
    // One step: a single "Desfazer" brings the map back in percent, every cell as it
    // was; "Refazer" brings the suggestion in ms again.
    QPushButton *undo = nullptr, *redo = nullptr;
    for (QPushButton *b : w.form.findChildren<QPushButton *>()) {
        if (b->text() == QStringLiteral("Desfazer") && b->isVisible())
            undo = b;
        if (b->text() == QStringLiteral("Refazer") && b->isVisible())
            redo = b;
    }
    QVERIFY(undo && redo);
    undo->click();
    QVERIFY(c.context().state.percentView);
    for (int k = 0; k < 72; ++k)
        QCOMPARE(w.cell(k), percentTexts[k]);
    QVERIFY(redo->isEnabled());
    redo->click();
    QVERIFY(!c.context().state.percentView);
    QCOMPARE(w.cell(0), QStringLiteral("3,5"));
    QCOMPARE(w.cell(17), QStringLiteral("4,2"));
    QCOMPARE(w.cell(40), QStringLiteral("2,3"));
    undo->click();
    QCOMPARE(w.cell(0), QStringLiteral("2,9"));

    // Declined (a cell changed on screen since the log): the map stays in percent and
    // no step is left behind.
    QVERIFY(percentTexts[17] != QStringLiteral("20,0"));
    w.s.setText(QStringLiteral("e17i"), QStringLiteral("20,0"));
    c.history().record();
    const int steps = c.history().count(), at = c.history().index();
    w.prompt.questionAnswers = {1};
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.prompt.questions.size(), 1);
    QVERIFY(c.context().state.percentView);
    QCOMPARE(w.cell(17), QStringLiteral("20,0"));
    QCOMPARE(w.cell(0), QStringLiteral("2,9"));
    QCOMPARE(c.history().count(), steps);
    QCOMPARE(c.history().index(), at);
    undo->click();
    QCOMPARE(w.cell(17), percentTexts[17]);

    // A percent cell that does not convert: refused before any cell moves, so the map
    // stays all in percent.
    w.s.setText(QStringLiteral("e3i"), QStringLiteral("x"));
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.prompt.messages,
             QStringList{QString::fromUtf8("O mapa de injeção está em % e não pode voltar a mS: 'x' is not a valid "
                                           "floating point value. Nada foi aplicado.")});
    QVERIFY(c.context().state.percentView);
    QCOMPARE(w.cell(0), QStringLiteral("2,9"));
    QCOMPARE(w.cell(40), QStringLiteral("18,0")); // 2,4 ms at row 5
}

void TestCorrectionWindow::changedScreenCellsAreAskedFor()
{
    Window w;
    CorrectionDialog *d = w.open();
    d->openLogs({w.driveWithSnapshot()});
    w.s.setText(QStringLiteral("e17i"), QStringLiteral("5"));
    w.prompt.questionAnswers = {1};
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.prompt.questions,
             QStringList{QString::fromUtf8("1 das 2 células a aplicar mudaram na tela desde que o registro foi gravado; "
                                           "a sugestão substitui o que está nelas. Aplicar assim mesmo?")});
    QCOMPARE(w.prompt.questionButtons[0], (QStringList{"Aplicar", "Cancelar"}));
    QCOMPARE(w.cell(17), QStringLiteral("5"));
    QCOMPARE(w.cell(40), QStringLiteral("2,4"));
    w.prompt.questionAnswers = {0};
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.cell(17), QStringLiteral("4,2"));
    QCOMPARE(w.cell(40), QStringLiteral("2,3"));
}

void TestCorrectionWindow::refusedLogLeavesEverything()
{
    Window w;
    CorrectionDialog *d = w.open();
    const QString log = w.write(QStringLiteral("b.msl"), driveLog());
    w.prompt.fileAnswers.push_back(log);
    w.button(d, "btnAbrirRegistros")->click();
    QCOMPARE(w.prompt.messages,
             QStringList{QString::fromUtf8("O mapa do registro %1, %2 não pôde ser lido: o arquivo não existe. "
                                           "Nada a sugerir.")
                             .arg(log, w.dir.filePath("b-mapa.txt"))});
    QVERIFY(!d->session().hasSource());
    QCOMPARE(d->findChild<QLabel *>("lbFonte")->text(), QString::fromUtf8("Nenhum registro aberto."));
    QVERIFY(!w.button(d, "btnAplicarTodas")->isEnabled());
}

void TestCorrectionWindow::liveRowsFeedTheAnalysis()
{
    Window w;
    CorrectionDialog *d = w.open();
    Controller &c = w.form.controller();
    auto *live = d->findChild<QCheckBox *>("cbAoVivo");
    c.context().state.scannerActive = true; // as "Ativar &Scanner" leaves it
    d->refreshTick();
    QVERIFY(live->isEnabled());
    live->click();
    QCOMPARE(w.prompt.messages, QStringList{CorrectionSession::liveWithoutTuneMessage()});
    QVERIFY(!live->isChecked());

    c.history().markTransferred(c.mapFile().screenTune()); // as after an upload to its end
    live->click();
    QVERIFY(live->isChecked());
    QCOMPARE(d->findChild<QLabel *>("lbFonte")->text(),
             QString::fromUtf8("Ao vivo, relativo ao mapa enviado ao módulo ou lido dele."));
    for (const logformat::Row &r : driveRows())
        w.form.datalog().onLiveRow(r);
    QCOMPARE(d->table()->item(2, 1)->text(), QStringLiteral("4\n0,0 %\n0")); // shown at the next refresh
    d->refreshTick();
    QCOMPARE(d->table()->item(2, 1)->text(), QStringLiteral("4,2\n+5,0 %\n95"));
    QCOMPARE(d->findChild<QLabel *>("lbResumo")->text(), QString::fromUtf8("200 linhas, 192 usadas; 2 células a mudar."));
    // While the scanner runs the map is not changed, as by the map tools.
    w.prompt.messages.clear();
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.prompt.messages, QStringList{CorrectionSession::scannerMessage()});
    QCOMPARE(w.cell(17), QStringLiteral("4"));

    c.context().state.scannerActive = false; // the scanner went off: the run stays
    d->refreshTick();
    QVERIFY(!live->isChecked());
    QVERIFY(!live->isEnabled());
    w.form.datalog().onLiveRow(driveRow(30000, 12, 6, 20, 0));
    d->refreshTick();
    QCOMPARE(d->findChild<QLabel *>("lbResumo")->text(), QString::fromUtf8("200 linhas, 192 usadas; 2 células a mudar."));
    w.button(d, "btnAplicarTodas")->click();
    QCOMPARE(w.cell(17), QStringLiteral("4,2"));
}

QTEST_MAIN(TestCorrectionWindow)
#include "tst_correctionwindow.moc"
