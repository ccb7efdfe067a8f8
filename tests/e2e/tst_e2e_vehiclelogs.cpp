// The logs of a vehicle in the real window against the ECU simulator: recorded with
// "Gravar" through its real save dialog while a vehicle is open, they go to its
// registros/ folder and name the entry the module runs; " Histórico " counts them per
// entry and shows an entry's before and after side by side; the correction dialog
// offers the logs of the module's entry first.
#include "e2ewindow.h"
#include "realdialog.h"

#include "app/beforeafterdialog.h"
#include "app/correctiondialog.h"
#include "app/historywindow.h"
#include "common/names.h"
#include "datalog/datalog.h"
#include "datalog/logformat.h"
#include "history/vehicle.h"
#include "session/vehiclerecorder.h"
#include "tuning/beforeafter.h"

#include <QListWidget>
#include <QTableWidget>
#include <QTabWidget>
#include <QTemporaryDir>

namespace {

void grab(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("VELTO_GRAB_DIR");
    if (!dir.isEmpty())
        QVERIFY(w->grab().save(QDir(dir).filePath(name), "PNG"));
}

// "Gravar" answered in its real save dialog with a bare file name, so the log lands in
// the folder the dialog opened in; records a few rows and stops. The folder the dialog
// showed goes to shownFolder.
void record(E2E &e, const QString &fileName, QString *shownFolder, int rows = 40)
{
    e.form->pages()->setCurrentIndex(0);
    if (!e.form->controller().state().scannerActive)
        e.click("Button3");
    QTRY_VERIFY_WITH_TIMEOUT(e.enabled("btnGravar"), 4000);
    RealDialog::answerNext<QFileDialog>([fileName, shownFolder](QFileDialog *d) {
        *shownFolder = d->directory().absolutePath();
        auto *buttons = d->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(buttons && name);
        name->setFocus();
        name->setText(fileName);
        for (QAbstractButton *b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole)
                b->click();
    });
    e.click("btnGravar");
    // At once when the module's set is known; after reading it back otherwise.
    QTRY_VERIFY_WITH_TIMEOUT(e.form->datalog().isRecording(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(e.form->datalog().recorder().rows() >= rows, 30000);
    e.click("btnParar");
    QVERIFY(!e.form->datalog().isRecording());
    e.click("Button3"); // the scanner off: the next upload may go
    QTRY_VERIFY_WITH_TIMEOUT(!e.form->controller().state().scannerActive && e.enabled("btnEnvia"), 4000);
}

void upload(E2E &e)
{
    const int commands = e.sim.countEvents("command 48");
    e.click("btnEnvia");
    QVERIFY(e.awaitUploadEnd(commands));
}

// Types text into a field of the window, on its page, and leaves it with Tab.
void typeAndLeave(E2E &e, const QString &field, const QString &text)
{
    auto *edit = e.screen().get<QLineEdit>(field);
    QTabWidget *pages = e.form->pages();
    for (int i = 0; i < pages->count(); ++i)
        if (pages->widget(i)->isAncestorOf(edit))
            pages->setCurrentIndex(i);
    edit->setFocus(Qt::MouseFocusReason);
    e.type(field, text);
    QTest::keyClick(edit, Qt::Key_Tab);
    QTest::qWait(20); // the field's check runs from the event loop
}

QStringList texts(QListWidget *list)
{
    QStringList t;
    for (int i = 0; i < list->count(); ++i)
        t << list->item(i)->text().section(QStringLiteral(" ("), 0, 0).section(QStringLiteral(" — "), 0, 0);
    return t;
}

} // namespace

class TestE2EVehicleLogs : public QObject {
    Q_OBJECT
private slots:
    void logsOfEachEntryInTheWindow()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Gol"));
        const QString logs = QDir(folder).filePath(QStringLiteral("registros"));
        // The engine driven through the cells' points: logs the correction reads.
        E2E e({"--drive", "--cycle", "points", "--thermostat", "90:94", "--drive-ac", "off", "--rate", "50", "--seed", "3"});
        e.realDialogs = true;
        QVERIFY(e.start());
        e.activate();
        e.form->openVehicle(folder);

        // The first upload: the first entry, which the module runs; a log recorded now
        // goes to registros/ and names it.
        upload(e);
        const QString first = e.form->vehicle()->moduleEntry();
        QString shown;
        record(e, QStringLiteral("antes.msl"), &shown, 250);
        QCOMPARE(shown, logs);
        QVERIFY(QFile::exists(QDir(logs).filePath("antes.msl")));
        QCOMPARE(logformat::historyEntryOf(QDir(logs).filePath("antes.msl")), first);

        // The map changed and sent: the second entry; the next log names it, though the
        // screen then differs from the module again (the log records what the module runs).
        typeAndLeave(e, "eLimiteRpm", "6500");
        upload(e);
        typeAndLeave(e, "eLimiteRpm", "6400");
        record(e, QStringLiteral("depois.msl"), &shown, 250);
        QCOMPARE(shown, logs);
        e.form->vehicle()->flush();
        QString second;
        {
            history::Vehicle check(folder, history::Vehicle::Open::ExistingOnly);
            const QList<history::Entry> entries = check.entries();
            QCOMPARE(entries.size(), 2);
            QCOMPARE(entries[1].commit, first);
            QCOMPARE(entries[1].kind, history::kind::sent);
            QVERIFY(entries[0].inModule);
            second = entries[0].commit;
        }
        QCOMPARE(logformat::historyEntryOf(QDir(logs).filePath("depois.msl")), second);
        QCOMPARE(QDir(folder).entryList({"*.msl"}, QDir::Files), QStringList()); // none beside the tune's files

        // " Histórico ": one log on each entry; the second entry's before and after.
        e.click("btnHistorico");
        QTRY_VERIFY(e.form->historyWindow() && e.form->historyWindow()->isVisible());
        HistoryWindow *h = e.form->historyWindow();
        QTableWidget *t = h->table();
        QCOMPARE(t->horizontalHeaderItem(6)->text(), QStringLiteral("Registros"));
        QCOMPARE(t->rowCount(), 2);
        QCOMPARE(t->item(0, 6)->text(), QStringLiteral("1"));
        QCOMPARE(t->item(1, 6)->text(), QStringLiteral("1"));
        grab(h, QStringLiteral("history_logs.png"));
        t->selectRow(0);
        QTest::mouseClick(h->findChild<QPushButton *>("btnAntesDepois"), Qt::LeftButton);
        QTRY_VERIFY(h->beforeAfterDialog() && h->beforeAfterDialog()->isVisible());
        BeforeAfterDialog *b = h->beforeAfterDialog();
        QCOMPARE(texts(b->beforeList()), QStringList{"antes.msl"});
        QCOMPARE(texts(b->afterList()), QStringList{"depois.msl"});
        for (const correction::LogsCells *side : {&b->before(), &b->after()}) {
            QCOMPARE(side->refusal, QString());
            QVERIFY(side->cells.has_value());
        }
        QCOMPARE(b->before().rows, qint64(logformat::read(QDir(logs).filePath("antes.msl")).rows.size()));
        QCOMPARE(b->after().rows, qint64(logformat::read(QDir(logs).filePath("depois.msl")).rows.size()));
        // Each side's table shows its own analysis, the two tables side by side.
        int shownCells = 0;
        for (int k = 0; k < correction::cellCount; ++k) {
            QCOMPARE(b->beforeTable()->item(k / 8, k % 8)->text(), correction::meanText(b->before(), k));
            QCOMPARE(b->afterTable()->item(k / 8, k % 8)->text(), correction::meanText(b->after(), k));
            shownCells += b->afterTable()->item(k / 8, k % 8)->text().contains(QStringLiteral("amostra"));
        }
        QVERIFY2(b->after().used == 0 || shownCells > 0, "rows used, yet no cell shows them");
        const QPoint left = b->beforeTable()->mapTo(b, QPoint()), right = b->afterTable()->mapTo(b, QPoint());
        QVERIFY(left.x() + b->beforeTable()->width() <= right.x());
        QCOMPARE(left.y(), right.y());
        QCOMPARE(b->beforeTable()->verticalHeaderItem(0)->text(), e.text(names::injectionRowCaptions()[0]));
        grab(b, QStringLiteral("history_before_after.png"));
        b->close();
        h->close();

        // The correction: the module's entry's log listed first and selected; "Abrir
        // registros…" opens in registros/.
        e.click("btnCorrecao");
        QTRY_VERIFY(e.form->correctionDialog() && e.form->correctionDialog()->isVisible());
        CorrectionDialog *c = e.form->correctionDialog();
        QListWidget *list = c->vehicleLogList();
        QVERIFY(list->isVisible());
        QCOMPARE(texts(list), (QStringList{"depois.msl", "antes.msl"}));
        QVERIFY(list->item(0)->text().contains(QStringLiteral("esta entrada")));
        QVERIFY(list->item(0)->isSelected());
        QVERIFY(!list->item(1)->isSelected());
        grab(c, QStringLiteral("correction_vehicle_logs.png"));
        QTest::mouseClick(c->findChild<QPushButton *>("btnAbrirSelecionados"), Qt::LeftButton);
        QCOMPARE(c->session().sourceText().contains(QStringLiteral("depois.msl")), true);
        QCOMPARE(c->session().sourceText().contains(QStringLiteral("antes.msl")), false);
        RealDialog::answerNext<QFileDialog>([&shown](QFileDialog *d) {
            shown = d->directory().absolutePath();
            d->reject();
        });
        shown.clear();
        QTest::mouseClick(c->findChild<QPushButton *>("btnAbrirRegistros"), Qt::LeftButton);
        QCOMPARE(shown, logs);
    }

    // "Gravar" while the module's set is unknown reads it back first: that read-back is
    // an entry marked "no módulo", and the log names it.
    void readBackForTheRecordingIsTheEntry()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Uno"));
        E2E e({"--rate", "50"});
        e.realDialogs = true;
        QVERIFY(e.start());
        e.activate();
        e.form->openVehicle(folder);
        QVERIFY(!e.form->controller().history().moduleSet());
        QString shown;
        record(e, QStringLiteral("lido.msl"), &shown);
        e.form->vehicle()->flush();
        history::Vehicle check(folder, history::Vehicle::Open::ExistingOnly);
        const QList<history::Entry> entries = check.entries();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].kind, history::kind::read);
        QVERIFY(entries[0].inModule);
        QCOMPARE(check.tune(entries[0].id).texts, e.form->controller().history().moduleSet()->texts);
        QCOMPARE(logformat::historyEntryOf(QDir(folder).filePath(QStringLiteral("registros/lido.msl"))),
                 entries[0].commit);
    }

    // With no vehicle open nothing changes: the dialog opens where it did, the header
    // names no entry, the correction lists no vehicle's logs.
    void noVehicleNoEntry()
    {
        QTemporaryDir dir;
        E2E e({"--rate", "50"});
        e.realDialogs = true;
        QVERIFY(e.start());
        e.activate();
        upload(e);
        QString shown;
        record(e, dir.filePath(QStringLiteral("solto.msl")), &shown);
        QVERIFY(QFile::exists(dir.filePath("solto.msl")));
        QCOMPARE(logformat::historyEntryOf(dir.filePath("solto.msl")), QString());
        QVERIFY(!logformat::read(dir.filePath("solto.msl")).historyEntry.size());
        e.click("btnCorrecao");
        QTRY_VERIFY(e.form->correctionDialog() && e.form->correctionDialog()->isVisible());
        QVERIFY(!e.form->correctionDialog()->vehicleLogList()->isVisible());
    }
};

QTEST_MAIN(TestE2EVehicleLogs)
#include "tst_e2e_vehiclelogs.moc"
