// A vehicle's history kept by the real window against the ECU simulator: the vehicle
// opened through its real box, the entries that an upload, a read-back, a saved and a
// loaded map file make by themselves (read back with history::Vehicle), the "no
// módulo" mark, " Histórico " with its comparison, note, tag and restore, and a
// history that cannot be written.
#include "e2ewindow.h"

#include "app/comparedialog.h"
#include "app/historywindow.h"
#include "common/names.h"
#include "files/mapfile.h"
#include "history/vehicle.h"
#include "session/vehiclerecorder.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <deque>

namespace {

// Answers every modal box the window opens, as a user does: a message box with its
// first button (its text kept), a file dialog with the next path, a text box with the
// next text and "OK".
class User : public QObject {
public:
    User()
    {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start();
    }
    QStringList messages, questions;
    std::deque<QString> files, texts;
    QString checkChoice; // the button pressed in the module check
    int checks = 0;

private:
    void look()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w->property("answered").toBool())
            return;
        w->setProperty("answered", true);
        if (auto *check = qobject_cast<ModuleCheckDialog *>(w)) {
            ++checks;
            for (QPushButton *b : check->findChildren<QPushButton *>())
                if (b->text() == checkChoice)
                    b->click();
        } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
            messages << box->text();
            box->buttons().first()->click();
        } else if (auto *dialog = qobject_cast<QFileDialog *>(w)) {
            QVERIFY2(!files.empty(), "a file dialog nobody expected");
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(files.front());
            files.pop_front();
            auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
            for (QAbstractButton *b : buttons->buttons())
                if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole)
                    b->click();
        } else if (auto *field = w->findChild<QLineEdit *>(QStringLiteral("eResposta"))) {
            QVERIFY2(!texts.empty(), "a text box nobody expected");
            questions << w->findChild<QLabel *>(QStringLiteral("lbPergunta"))->text();
            field->setText(texts.front());
            texts.pop_front();
            QTest::keyClick(field, Qt::Key_Return);
        }
    }
    QTimer timer_;
};

QStringList kinds(const QList<history::Entry> &entries)
{
    QStringList k;
    for (const history::Entry &e : entries)
        k << e.kind;
    return k;
}

QStringList marked(const QList<history::Entry> &entries)
{
    QStringList k;
    for (const history::Entry &e : entries)
        if (e.inModule)
            k << e.kind;
    return k;
}

Tune screenTune(E2E &e) { return e.form->controller().mapFile().screenTune(); }

void grab(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("VELTO_GRAB_DIR");
    if (!dir.isEmpty())
        QVERIFY(w->grab().save(QDir(dir).filePath(name), "PNG"));
}

// Types text into a field of the window and leaves it with Tab, as a user does.
void typeAndLeave(E2E &e, const QString &field, const QString &text)
{
    auto *edit = e.screen().get<QLineEdit>(field);
    edit->setFocus(Qt::MouseFocusReason);
    e.type(field, text);
    QTest::keyClick(edit, Qt::Key_Tab);
    QTest::qWait(20); // the field's check runs from the event loop
}

} // namespace

class TestE2EVehicle : public QObject {
    Q_OBJECT
private:
    QTemporaryDir data_;

private slots:
    void initTestCase()
    {
        QVERIFY(data_.isValid());
        qputenv("XDG_DATA_HOME", data_.path().toUtf8());
    }

    void entriesMarkAndHistoryWindow()
    {
        User user;
        E2E e;
        e.realDialogs = true;
        QVERIFY2(e.start(), qPrintable(e.sim.errorString()));
        e.activate();

        // "Abrir veículo…": a name is a vehicle in the default place, made now.
        user.texts.push_back(QStringLiteral("Gol 1.6 ABC1D23"));
        e.click("btnAbrirVeiculo");
        QTRY_VERIFY(e.form->vehicle());
        QCOMPARE(user.questions.size(), 1);
        QVERIFY(user.questions[0].startsWith(QStringLiteral("Nome do veículo (guardado em ")));
        const QString folder = history::Vehicle::defaultFolder(QStringLiteral("Gol 1.6 ABC1D23"));
        QCOMPARE(folder, data_.filePath(QStringLiteral("velto/veiculos/Gol 1.6 ABC1D23")));
        QCOMPARE(e.form->vehicle()->folder(), folder);
        QCOMPARE(e.form->findChild<QLineEdit *>("eVeiculo")->text(), QStringLiteral("Gol 1.6 ABC1D23"));
        QVERIFY(e.form->findChild<QPushButton *>("btnHistorico")->isEnabled());
        QVERIFY(QDir(folder).exists(".git"));
        grab(e.form.get(), QStringLiteral("vehicle_window.png"));

        // Read back: the module's set is the first entry, marked.
        e.click("btnLerDados");
        QTRY_VERIFY_WITH_TIMEOUT(!e.screen().isVisible("Panel1") && e.enabled("btnEnvia"), 8000);
        const Tune readBack = screenTune(e);
        // An edit, then an upload: the second entry, the mark moves to it.
        typeAndLeave(e, "eLimiteRpm", "6500");
        QCOMPARE(e.text("eLimiteRpm"), QStringLiteral("6500"));
        const int commands = e.sim.countEvents("command 48");
        e.click("btnEnvia");
        QVERIFY(e.awaitUploadEnd(commands));
        const Tune sent = screenTune(e);
        // An upload of the same set again makes no entry.
        e.click("btnEnvia");
        QVERIFY(e.awaitUploadEnd(commands + 1));
        // Another edit, saved to a file; then a file with another injection map loaded.
        typeAndLeave(e, "eLigaCutOff", "1600");
        QTemporaryDir files;
        user.files.push_back(files.filePath("salvo.txt"));
        e.click("Button1");
        QTRY_VERIFY(QFile::exists(files.filePath("salvo.txt")));
        const Tune saved = screenTune(e);
        Tune other = saved;
        const QStringList &controls = mapfile::fieldControls();
        other.texts[controls.indexOf(names::injectionCell(5))] = QStringLiteral("9,5");
        other.texts[controls.indexOf(names::injectionCell(6))] = QStringLiteral("2,0");
        MapFile::writeFile(files.filePath("outro.txt"), MapFile::bytesOf(other));
        user.files.push_back(files.filePath("outro.txt"));
        e.click("Button2");
        QTRY_COMPARE(e.text(names::injectionCell(5)), QStringLiteral("9,5"));
        const Tune loaded = screenTune(e);

        e.form->vehicle()->flush();
        QCOMPARE(user.messages, QStringList());
        {
            history::Vehicle check(folder, history::Vehicle::Open::ExistingOnly);
            const QList<history::Entry> entries = check.entries();
            QCOMPARE(kinds(entries), (QStringList{history::kind::loaded, history::kind::saved, history::kind::sent,
                                                  history::kind::read}));
            QCOMPARE(marked(entries), QStringList{history::kind::sent});
            QCOMPARE(check.tune(entries[3].id).texts, readBack.texts);
            QCOMPARE(check.tune(entries[2].id).texts, sent.texts);
            QCOMPARE(check.tune(entries[1].id).texts, saved.texts);
            QCOMPARE(check.tune(entries[0].id).texts, loaded.texts);
            QCOMPARE(entries[2].port, e.sim.devicePath());
            QVERIFY2(entries[2].summary.contains(QStringLiteral("6500")), qPrintable(entries[2].summary));
        }

        // " Histórico ": four rows, newest first, the mark on the upload.
        e.click("btnHistorico");
        QTRY_VERIFY(e.form->historyWindow() && e.form->historyWindow()->isVisible());
        HistoryWindow *h = e.form->historyWindow();
        QTableWidget *t = h->table();
        QCOMPARE(t->rowCount(), 4);
        QCOMPARE(t->item(0, 1)->text(), history::kind::loaded);
        QCOMPARE(t->item(3, 1)->text(), history::kind::read);
        QCOMPARE(t->item(2, 5)->text(), QStringLiteral("no módulo"));
        QCOMPARE(t->item(0, 5)->text(), QString());
        QCOMPARE(t->item(0, 2)->text(), QStringLiteral("injeção: 2 células"));

        // A note and a tag on the upload, through their real boxes.
        t->selectRow(2);
        user.texts.push_back(QStringLiteral("rodou bem na pista"));
        QTest::mouseClick(h->findChild<QPushButton *>("btnNota"), Qt::LeftButton);
        QTRY_COMPARE(t->item(2, 3)->text(), QStringLiteral("rodou bem na pista"));
        t->selectRow(2);
        user.texts.push_back(QStringLiteral("boa"));
        QTest::mouseClick(h->findChild<QPushButton *>("btnEtiqueta"), Qt::LeftButton);
        QTRY_COMPARE(t->item(2, 4)->text(), QStringLiteral("boa"));
        QCOMPARE(user.questions.size(), 3);
        QVERIFY(user.questions[1].startsWith(QStringLiteral("Nota da entrada ") + h->entries()[2].id));
        QCOMPARE(user.messages, QStringList());

        // Compare the saved and the loaded entries: the two injection cells, coloured.
        t->clearSelection();
        t->selectionModel()->select(t->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        t->selectionModel()->select(t->model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::mouseClick(h->findChild<QPushButton *>("btnCompararEntradas"), Qt::LeftButton);
        QTRY_VERIFY(h->compareDialog() && h->compareDialog()->isVisible());
        QTableWidget *d = h->compareDialog()->table();
        QCOMPARE(d->rowCount(), 2);
        QCOMPARE(d->item(0, 1)->text(), names::injectionCell(5));
        QCOMPARE(d->item(0, 4)->text(), QStringLiteral("9,5"));
        QCOMPARE(d->horizontalHeaderItem(3)->text(), QStringLiteral("Em ") + h->entries()[1].id);
        QCOMPARE(d->horizontalHeaderItem(4)->text(), QStringLiteral("Em ") + h->entries()[0].id);
        const QColor up = d->item(0, 4)->background().color(), down = d->item(1, 4)->background().color();
        QVERIFY2(up.red() > up.blue() && up != QColor(Qt::white), qPrintable(up.name()));
        QVERIFY2(down.blue() > down.red(), qPrintable(down.name()));
        grab(h, QStringLiteral("history_window.png"));
        grab(h->compareDialog(), QStringLiteral("history_compare.png"));
        h->compareDialog()->close();

        // Restore the read-back to the screen: one undo step, nothing sent.
        const int frames = e.sim.countEvents("command");
        t->selectRow(3);
        QTest::mouseClick(h->findChild<QPushButton *>("btnRestaurar"), Qt::LeftButton);
        QTRY_COMPARE(screenTune(e).texts, readBack.texts);
        QCOMPARE(e.sim.countEvents("command"), frames);
        e.click("btnDesfazer1");
        QCOMPARE(screenTune(e).texts, loaded.texts);
        e.form->vehicle()->flush();
        QCOMPARE(e.form->vehicle()->call<int>([](history::Vehicle &v) { return int(v.entries().size()); }), 4);

        // The link lost: the module is unknown, the mark goes.
        e.sim.kill();
        QTRY_VERIFY_WITH_TIMEOUT(e.form->session().linkState() == LinkState::Lost, 5000);
        e.form->vehicle()->flush();
        QCOMPARE(e.form->vehicle()->call<std::optional<QString>>([](history::Vehicle &v) { return v.inModule(); }),
                 std::nullopt);
    }

    // The TPS calibration's upload is one entry, "TPS calibrado", once the calibration
    // has ended; the upload before it is the entry under it, and the mark is on it.
    void tpsCalibrationIsOneEntry()
    {
        E2E e({"--tps", "200"});
        QVERIFY(e.start());
        QTemporaryDir place;
        e.form->openVehicle(place.filePath("carro"));
        e.activate();
        e.click("btnEnvia");
        QVERIFY(e.awaitUploadEnd(0));
        e.prompt.onMessage = [&](const QString &text) {
            if (text.contains(QStringLiteral("Abrir  totalmente  a  Borboleta")))
                e.sim.command("tps 900");
        };
        e.click("btnConfigurarTps");
        QTRY_VERIFY_WITH_TIMEOUT(e.prompt.messages.size() == 3, 20000);
        QVERIFY2(e.prompt.messages[2].contains(QStringLiteral("CONFIGURAÇÃO  CONCLUIDA")),
                 qPrintable(e.prompt.messages.join('\n')));
        QVERIFY(e.sim.waitForEvents("command 48", 2, 3000));
        e.form->vehicle()->flush();
        history::Vehicle check(place.filePath("carro"), history::Vehicle::Open::ExistingOnly);
        const QList<history::Entry> entries = check.entries();
        QCOMPARE(kinds(entries), (QStringList{history::kind::tps, history::kind::sent}));
        QCOMPARE(marked(entries), QStringList{history::kind::tps});
        QCOMPARE(check.tune(entries[0].id).texts, screenTune(e).texts);
    }

    // "Verificar o módulo ao conectar": the module's set loaded onto the screen is an
    // entry read from the module; a later check that finds the screen equal marks it
    // again after the mark went (as a lost link removes it).
    void moduleCheckMarks()
    {
        User user;
        user.checkChoice = QStringLiteral("Carregar o módulo na tela");
        E2E e;
        e.realDialogs = true;
        QVERIFY2(e.start(), qPrintable(e.sim.errorString()));
        QTemporaryDir place;
        e.form->openVehicle(place.filePath("carro"));
        auto *check = e.screen().get<QAbstractButton>("ckVerificarModulo");
        check->setChecked(true);
        struct Restore {
            QAbstractButton *b;
            ~Restore() { b->setChecked(false); }
        } restore{check};
        const QString equal = QStringLiteral("Tela igual ao módulo");
        e.screen().setText("e5", "77");
        e.click("btnAtivar");
        QTRY_COMPARE_WITH_TIMEOUT(e.text("lbModulo1"), equal, 8000);
        QCOMPARE(user.checks, 1);
        e.form->vehicle()->flush();
        auto entries = [&] {
            return e.form->vehicle()->call<QList<history::Entry>>([](history::Vehicle &v) { return v.entries(); });
        };
        QCOMPARE(kinds(entries()), QStringList{history::kind::read});
        QCOMPARE(marked(entries()), QStringList{history::kind::read});

        e.form->vehicle()->callVoid([](history::Vehicle &v) { v.clearInModule(); });
        QCOMPARE(marked(entries()), QStringList());
        e.click("btnDesativar");
        QTRY_VERIFY(e.enabled("btnAtivar"));
        e.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(e.enabled("btnEnvia"), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(e.text("lbModulo1"), equal, 8000);
        e.form->vehicle()->flush();
        QCOMPARE(user.checks, 1); // equal: nothing asked
        QCOMPARE(kinds(entries()), QStringList{history::kind::read});
        QCOMPARE(marked(entries()), QStringList{history::kind::read});
        QCOMPARE(user.messages, QStringList());
    }

    // A folder that is no vehicle's history is refused; a vehicle's folder gone while it
    // is open: one message for the entries it loses, the tune on screen as it was.
    void historyThatCannotBeWritten()
    {
        User user;
        E2E e;
        e.realDialogs = true;
        QVERIFY2(e.start(), qPrintable(e.sim.errorString()));
        QTemporaryDir place;
        // A folder that holds something else is refused, named, through "Abrir veículo…".
        QVERIFY(QDir().mkpath(place.filePath("fotos")));
        QFile photo(place.filePath("fotos/carro.jpg"));
        QVERIFY(photo.open(QIODevice::WriteOnly));
        photo.close();
        user.texts.push_back(place.filePath("fotos"));
        e.click("btnAbrirVeiculo");
        QTRY_COMPARE(user.messages.size(), 1);
        QVERIFY2(user.messages[0].contains(place.filePath("fotos")), qPrintable(user.messages[0]));
        QVERIFY(!e.form->vehicle());
        QCOMPARE(e.form->findChild<QLineEdit *>("eVeiculo")->text(), QString());
        QVERIFY(!e.form->findChild<QPushButton *>("btnHistorico")->isEnabled());
        user.messages.clear();

        const QString folder = place.filePath("carro");
        e.form->openVehicle(folder);
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder); // a file where the folder was: nothing can be made in it
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        QTemporaryDir files;
        typeAndLeave(e, "eLigaCutOff", "1700");
        user.files.push_back(files.filePath("um.txt"));
        e.click("Button1");
        QTRY_VERIFY(QFile::exists(files.filePath("um.txt")));
        typeAndLeave(e, "eLigaCutOff", "1800");
        user.files.push_back(files.filePath("dois.txt"));
        e.click("Button1");
        QTRY_VERIFY(QFile::exists(files.filePath("dois.txt")));
        const Tune before = screenTune(e);
        e.form->vehicle()->flush();
        QCoreApplication::processEvents(); // a second box, were there one, would open now
        QCOMPARE(user.messages.size(), 1);
        QVERIFY2(user.messages[0].contains(QStringLiteral("A entrada \"Arquivo salvo\" não foi registrada no "
                                                          "histórico; o ajuste na tela não mudou.")),
                 qPrintable(user.messages[0]));
        QVERIFY2(user.messages[0].contains(folder), qPrintable(user.messages[0]));
        QCOMPARE(screenTune(e).texts, before.texts);
        QCOMPARE(e.text("eLigaCutOff"), QStringLiteral("1800"));
    }
};

QTEST_MAIN(TestE2EVehicle)
#include "tst_e2e_vehicle.moc"
