// Undo and redo in the window: the keys, also inside a field, the buttons and the
// unsaved-changes label on both pages, the question on closing and the compare dialog.
#include "app/comparedialog.h"
#include "app/form1.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "core/undo.h"
#include "fakes.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
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
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    FakePrompt prompt;
    TForm1 form;
    WidgetScreen &s = form.widgetScreen();
    QWidget *w(const QString &name) { return s.widget(name); }
    void click(const QString &button)
    {
        auto *b = s.get<QPushButton>(button);
        QVERIFY2(b->isEnabled() && b->isVisible(), qPrintable(button));
        b->click();
    }
    // Shown on both pages, as each page would show it.
    bool labelShown() { return !w("lbNaoSalvo")->isHidden() && !w("lbNaoSalvo1")->isHidden(); }
    bool undoEnabled() { return w("btnDesfazer")->isEnabled() && w("btnDesfazer1")->isEnabled(); }
    bool redoEnabled() { return w("btnRefazer")->isEnabled() && w("btnRefazer1")->isEnabled(); }
    void key(QWidget *target, Qt::Key key, Qt::KeyboardModifiers mods)
    {
        QTest::keyClick(target, key, mods);
        QCoreApplication::processEvents();
    }
};

} // namespace

class TstHistory : public QObject
{
    Q_OBJECT
private slots:
    void bulkChangeUndoneWithTheKeysOnTheMapPage();
    void keysInsideAFieldUndoTheTypedEdit();
    void buttonsNameTheirKeys();
    void closingAsksBeforeLosingChanges_data();
    void closingAsksBeforeLosingChanges();
    void compareDialogListsAndShowsTheFields();
};

void TstHistory::bulkChangeUndoneWithTheKeysOnTheMapPage()
{
    Window w;
    w.form.pages()->setCurrentWidget(w.w("TabSheet1"));
    QVERIFY(!w.labelShown());
    QVERIFY(!w.undoEnabled());
    QVERIFY(!w.redoEnabled());

    w.click("btnAlterarMapas");
    w.s.setText("eAltera", "2");
    w.click("btnAlterar");
    QCOMPARE(w.s.text("e0"), QString("12"));
    QVERIFY(w.labelShown());
    QVERIFY(w.undoEnabled());
    QVERIFY(!w.redoEnabled());

    QWidget *button = w.w("btnAlterar");
    button->setFocus();
    w.key(button, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.s.text("e0"), QString("10"));
    QVERIFY(!w.labelShown());
    QVERIFY(!w.undoEnabled());
    QVERIFY(w.redoEnabled());
    w.key(button, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(w.s.text("e0"), QString("12"));
    w.key(button, Qt::Key_Z, Qt::ControlModifier);
    w.key(button, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(w.s.text("e0"), QString("12"));
    QVERIFY(w.labelShown());
    QCOMPARE(w.prompt.messages, QStringList());
}

void TstHistory::keysInsideAFieldUndoTheTypedEdit()
{
    Window w;
    w.form.pages()->setCurrentWidget(w.w("TabSheet1"));
    auto *cell = w.s.get<QLineEdit>("e3");
    cell->setFocus(Qt::MouseFocusReason);
    cell->selectAll();
    QTest::keyClicks(cell, "9");
    QCOMPARE(cell->text(), QString("9"));

    // The window's undo, not the field's own: the typed edit is a step that can be redone.
    w.key(cell, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(cell->text(), QString("6"));
    QVERIFY(w.redoEnabled());
    QCOMPARE(w.form.controller().history().count(), 2);
    w.key(cell, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(cell->text(), QString("9"));
    QVERIFY(w.labelShown());

    // Leaving a field ends the typed edit: one step, the label shows it.
    auto *limit = w.s.get<QLineEdit>("eLimiteRpm");
    w.form.pages()->setCurrentWidget(w.w("TabSheet2"));
    limit->setFocus(Qt::MouseFocusReason);
    limit->selectAll();
    QTest::keyClicks(limit, "5000");
    w.w("eTempoCarga")->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    QCOMPARE(w.form.controller().history().count(), 3);
    w.click("btnDesfazer1");
    QCOMPARE(limit->text(), QString("6000"));
    QCOMPARE(cell->text(), QString("9"));
}

void TstHistory::buttonsNameTheirKeys()
{
    Window w;
    for (const char *suffix : {"", "1"}) {
        auto *undo = w.s.get<QPushButton>(QStringLiteral("btnDesfazer") + suffix);
        auto *redo = w.s.get<QPushButton>(QStringLiteral("btnRefazer") + suffix);
        QCOMPARE(undo->text(), QString("Desfazer"));
        QCOMPARE(redo->text(), QString("Refazer"));
        QVERIFY2(undo->toolTip().contains("Ctrl+Z"), qPrintable(undo->toolTip()));
        QVERIFY2(redo->toolTip().contains("Ctrl+Y") && redo->toolTip().contains("Ctrl+Shift+Z"),
                 qPrintable(redo->toolTip()));
        QCOMPARE(w.s.text(QStringLiteral("lbNaoSalvo") + suffix), QString::fromUtf8("Alterações não salvas"));
    }
    QVERIFY(w.w("btnDesfazer")->parentWidget() == w.w("TabSheet1"));
    QVERIFY(w.w("btnDesfazer1")->parentWidget() == w.w("TabSheet2"));
    QVERIFY(w.w("btnComparar")->parentWidget() == w.w("TabSheet2"));
    QCOMPARE(w.s.text("btnComparar"), QString("Com&parar"));
    QCOMPARE(w.form.windowTitle(), TForm1::caption());
}

void TstHistory::closingAsksBeforeLosingChanges_data()
{
    QTest::addColumn<bool>("changed");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closed");
    QTest::newRow("nothing changed") << false << -1 << true;
    QTest::newRow("Cancelar") << true << 2 << false;
    QTest::newRow("Sair sem salvar") << true << 1 << true;
}

void TstHistory::closingAsksBeforeLosingChanges()
{
    QFETCH(bool, changed);
    QFETCH(int, answer);
    QFETCH(bool, closed);
    Window w;
    if (changed) {
        w.s.setText("e5", "40");
        w.form.guarded([&] { w.form.controller().fieldLeft(); });
    }
    w.prompt.questionAnswers.push_back(answer);
    QCOMPARE(w.form.close(), closed);
    QCOMPARE(w.form.isVisible(), !closed);
    QCOMPARE(w.prompt.questions.size(), changed ? 1 : 0);
    if (changed)
        QCOMPARE(w.prompt.questions.first(),
                 QString::fromUtf8(" Os dados da tela foram alterados e não foram salvos. Salvar antes de sair? "));
}

void TstHistory::compareDialogListsAndShowsTheFields()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("outro.txt");
    Window w;
    Tune other = w.form.controller().mapFile().screenTune();
    other.texts[mapfile::fieldControls().indexOf("e21")] = "19";
    other.texts[mapfile::fieldControls().indexOf("cbSondaAtiva")] = "Desativada";
    other.tpsMin = 150;
    MapFile::writeFile(path, mapfile::encodeLine(other.fields()));

    w.prompt.fileAnswers.push_back(path);
    w.click("btnComparar");
    QCOMPARE(w.prompt.messages, QStringList());
    CompareDialog *dialog = w.form.compareDialog();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QTableWidget *table = dialog->table();
    QCOMPARE(table->rowCount(), 3);
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << table->item(r, c)->text();
        rows << cells.join(" | ");
    }
    QCOMPARE(rows, QStringList({QString::fromUtf8("30 | e21 | ignição linha 3 coluna 6 | 28 | 19"),
                                "159 | cbSondaAtiva | Sonda Lambda: Atividade | Ativada | Desativada",
                                QString::fromUtf8("201 | tpsMin | TPS mínimo | 130 | 150")}));
    QVERIFY(dialog->grab().save(QDir(pagesFolder()).filePath("compare-dialog.png")));

    // A double-click shows the field's page and gives it the focus.
    emit table->cellDoubleClicked(0, 2);
    QCOMPARE(w.form.pages()->currentWidget(), w.w("TabSheet1"));
    QCOMPARE(w.form.focusWidget(), w.w("e21"));
    dialog->showRow(1);
    QCOMPARE(w.form.pages()->currentWidget(), w.w("TabSheet2"));
    QCOMPARE(w.form.focusWidget(), w.w("cbSondaAtiva"));

    // A file that does not load shows the load's message; the open dialog stays as it was.
    const QString bad = folder.filePath("ruim.txt");
    MapFile::writeFile(bad, "TPS X RPM;20\r\n");
    w.prompt.fileAnswers.push_back(bad);
    w.click("btnComparar");
    QCOMPARE(w.prompt.messages, QStringList{QString::fromUtf8(" Atenção ! !  Arquivo de mapa inválido: 2 campos em vez "
                                                              "de 202. Nada foi carregado.  ")});
    QCOMPARE(w.form.compareDialog(), dialog);
    QCOMPARE(w.form.controller().history().count(), 1);
}

QTEST_MAIN(TstHistory)
#include "tst_history.moc"
