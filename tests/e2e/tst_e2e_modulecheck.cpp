// The check of the module after a pulled cable, in each view of the injection map,
// through the real window and its real boxes against the ECU simulator: the comparison,
// the load and the upload take the cells in milliseconds, the module's unit.
#include "e2ewindow.h"

#include "app/comparedialog.h"
#include "common/names.h"
#include "config/tpscalibration.h"
#include "core/tunediff.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace {

const QString equal = QStringLiteral("Tela igual ao módulo");
const QString percentCaption = QStringLiteral(" Valores em  \" % \" ");

// The simulator behind a fixed link, its cable pulled and put back: the module keeps
// its memory.
class Cable {
public:
    explicit Cable(const QStringList &arguments = {}) : sim_(QStringList{"--link", dir_.filePath("ecu")} + arguments) {}
    QString link() const { return dir_.filePath("ecu"); }
    SimProcess &sim() { return sim_; }

private:
    QTemporaryDir dir_;
    SimProcess sim_;
};

// Answers the boxes the window opens, as a user does: the module check with the
// button of the given caption, every message box with its first button.
class User : public QObject {
public:
    explicit User(const QString &choice) : choice_(choice)
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start();
    }
    QStringList messages;     // the texts of the message boxes
    QStringList checks;       // the heading of each module check
    QList<int> checkRows;     // its table's rows
    QStringList checkTable;   // each row's cells, joined by " | "
    QStringList checkChoices; // its buttons' captions
    // Asked before a message box is answered: true leaves it open for now.
    std::function<bool(const QString &text)> hold;

private:
    void look()
    {
        // A box that does not stop the window (the loss's, which closes itself when the
        // device is back) is read, not answered.
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(top);
            if (box && box->isVisible() && !box->isModal() && !box->property("seen").toBool()) {
                box->setProperty("seen", true);
                messages << box->text();
            }
        }
        QWidget *w = QApplication::activeModalWidget();
        if (!w || w->property("answered").toBool())
            return;
        if (auto *check = qobject_cast<ModuleCheckDialog *>(w)) {
            auto *heading = check->findChild<QLabel *>("lbVerificacao");
            checks << (heading ? heading->text() : QString());
            checkRows << check->table()->rowCount();
            for (int r = 0; r < check->table()->rowCount(); ++r) {
                QStringList cells;
                for (int c = 0; c < check->table()->columnCount(); ++c)
                    cells << (check->table()->item(r, c) ? check->table()->item(r, c)->text() : QString());
                checkTable << cells.join(" | ");
            }
            QPushButton *target = nullptr;
            for (QPushButton *b : check->findChildren<QPushButton *>()) {
                checkChoices << b->text();
                if (b->text() == choice_)
                    target = b;
            }
            if (!target)
                return; // the test fails on the missing caption; the box stays open
            w->setProperty("answered", true);
            QTest::mouseClick(target, Qt::LeftButton);
        } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
            if (!w->property("seen").toBool())
                messages << box->text();
            w->setProperty("seen", true);
            if (hold && hold(box->text()))
                return;
            w->setProperty("answered", true);
            if (!box->buttons().isEmpty())
                QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
        }
    }

    QString choice_;
    QTimer timer_;
};

void setCell(TForm1 &form, const QString &cell, const QString &text)
{
    form.widgetScreen().setText(cell, text);
    form.guarded([&form] { form.controller().fieldLeft(); });
}

QString moduleLabel(TForm1 &form) { return form.widgetScreen().get<QLabel>("lbModulo")->text(); }

void clickButton(WidgetScreen &screen, const char *name)
{
    auto *b = screen.get<QAbstractButton>(name);
    QVERIFY2(b && b->isEnabled(), name);
    QTest::mouseClick(b, Qt::LeftButton);
}

// "&Ativar", then an upload of the screen as it is; the module's image afterwards.
QByteArray activateAndSend(TForm1 &form, Cable &cable)
{
    WidgetScreen &screen = form.widgetScreen();
    clickButton(screen, "btnAtivar");
    if (!QTest::qWaitFor([&] { return screen.isEnabled("btnEnvia"); }, 3000))
        return {};
    clickButton(screen, "btnEnvia");
    if (!QTest::qWaitFor([&] { return cable.sim().countEvents("command 48") == 1 && !form.timer2().isEnabled(); },
                         8000))
        return {};
    return cable.sim().dumpImage();
}

} // namespace

class TestE2EModuleCheck : public QObject {
    Q_OBJECT
private slots:
    void threeChoicesInEachView_data()
    {
        QTest::addColumn<bool>("percent");
        QTest::addColumn<QString>("choice");
        for (const bool percent : {false, true})
            for (const char *choice : {"Enviar a tela ao módulo", "Carregar o módulo na tela", "Manter assim"})
                QTest::addRow("%s, %s", percent ? "percent view" : "ms view", choice) << percent << QString(choice);
    }

    // Sent a map of 0,6 to 2,0 ms, the tuner edits an ignition cell, maybe converts the
    // injection map to percent, edits an injection cell, and the cable goes and comes
    // back. The check lists those two fields, in milliseconds, and each choice does
    // what it says in the module's unit.
    void threeChoicesInEachView()
    {
        QFETCH(bool, percent);
        QFETCH(QString, choice);
        Cable cable;
        QVERIFY(cable.sim().start());
        TForm1 form(nullptr, QStringList{cable.link()});
        form.show();
        WidgetScreen &screen = form.widgetScreen();
        auto click = [&screen](const char *name) { clickButton(screen, name); };
        click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(screen.isEnabled("btnEnvia"), 3000);

        for (int k = 0; k < 72; ++k)
            setCell(form, names::injectionCell(k), QStringLiteral("%1,%2").arg((6 + 2 * (k % 8)) / 10).arg((6 + 2 * (k % 8)) % 10));
        QCOMPARE(screen.text("e17i"), QStringLiteral("0,8"));
        click("btnEnvia");
        QTRY_VERIFY_WITH_TIMEOUT(cable.sim().countEvents("command 48") == 1 && !form.timer2().isEnabled(), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(moduleLabel(form), equal, 1000);
        const QByteArray sent = cable.sim().dumpImage();
        for (int k = 0; k < 72; ++k)
            QCOMPARE(int(quint8(sent.at(72 + k))), 6 + 2 * (k % 8));
        const Tune module = form.controller().mapFile().screenTune();

        const QString e5 = screen.text("e5") == "33" ? "34" : "33";
        setCell(form, "e5", e5);
        if (percent) {
            click("btnAlterarMapas");
            click("btnPercentual");
            QTRY_COMPARE(screen.text("Label46"), percentCaption);
            QCOMPARE(screen.text("e16i"), QStringLiteral("1,8")); // 0,6 ms at 1800 rpm
            QCOMPARE(moduleLabel(form), QStringLiteral("Tela diferente do módulo (1 campo)"));
        }
        setCell(form, "e16i", percent ? "7,5" : "2,5"); // 2,5 ms either way
        QCOMPARE(moduleLabel(form), QStringLiteral("Tela diferente do módulo (2 campos)"));
        Tune screenMs = module;
        screenMs.texts[mapfile::fieldControls().indexOf("e5")] = e5;
        screenMs.texts[mapfile::fieldControls().indexOf("e16i")] = "2,5";
        const QStringList shown = form.controller().mapFile().screenTune().texts;

        User user(choice);
        QVERIFY(cable.sim().command("unplug"));
        QTRY_VERIFY_WITH_TIMEOUT(user.messages.size() == 1, 3000); // the loss's box
        QVERIFY(cable.sim().command("replug"));
        QTRY_COMPARE_WITH_TIMEOUT(user.checks.size(), 1, 8000);
        QCOMPARE(user.checkChoices,
                 (QStringList{"Enviar a tela ao módulo", "Carregar o módulo na tela", "Manter assim"}));
        QCOMPARE(user.checkRows, QList<int>{2});
        QCOMPARE(user.checks.first(), QStringLiteral("A tela e o módulo diferem em 2 campos:"));
        // The injection cell in milliseconds on both sides.
        QCOMPARE(user.checkTable.filter("injeção linha 3 coluna 1").size(), 1);
        const QString row = user.checkTable.filter("injeção linha 3 coluna 1").first();
        QVERIFY2(row.endsWith(" | 2,5 | 0,6"), qPrintable(row));

        if (choice.startsWith("Enviar")) {
            // The map back in ms first, then the upload of what the check compared.
            QTRY_VERIFY_WITH_TIMEOUT(cable.sim().countEvents("command 48") == 2 && !form.timer2().isEnabled(), 8000);
            QCOMPARE(cable.sim().dumpImage(), imageBytes(tuneImage(screenMs)));
            QCOMPARE(int(quint8(cable.sim().dumpImage().at(72 + 16))), 25);
            QVERIFY(screen.text("Label46").contains("\" mS \""));
            QCOMPARE(form.controller().mapFile().screenTune(), screenMs);
            QTRY_COMPARE_WITH_TIMEOUT(moduleLabel(form), equal, 1000);
        } else if (choice.startsWith("Carregar")) {
            // The module's milliseconds, under the ms caption.
            QTRY_COMPARE_WITH_TIMEOUT(screen.text("e16i"), QStringLiteral("0,6"), 3000);
            // Every field as the module holds it (a text may be written another way).
            QCOMPARE(tunediff::compare(form.controller().mapFile().screenTune(), module),
                     QList<tunediff::Difference>());
            QCOMPARE(screen.text("e5"), module.texts.at(mapfile::fieldControls().indexOf("e5")));
            QVERIFY(screen.text("Label46").contains("\" mS \""));
            QCOMPARE(moduleLabel(form), equal);
            QTest::qWait(300);
            QCOMPARE(cable.sim().countEvents("command 48"), 1);
            QCOMPARE(cable.sim().dumpImage(), sent);
        } else {
            QTest::qWait(500);
            QCOMPARE(form.controller().mapFile().screenTune().texts, shown);
            QCOMPARE(screen.text("Label46").contains("%"), percent);
            QCOMPARE(moduleLabel(form), QStringLiteral("Tela diferente do módulo (2 campos)"));
            QCOMPARE(cable.sim().countEvents("command 48"), 1);
            QCOMPARE(cable.sim().dumpImage(), sent);
        }
        QCOMPARE(user.messages.size(), 1); // no other box
        QCOMPARE(user.checks.size(), 1);
    }

    // The cable goes while the calibration asks to open the throttle, its closed sample
    // taken: the calibration ends at once with one box, the limits are those from before
    // it, nothing more is sent, and after the return the screen equals the module.
    void lostPortEndsTheTpsCalibration()
    {
        const QString openMessage =
            QStringLiteral(" Abrir  totalmente  a  Borboleta,  teclar Enter ou \" OK \" para continuar.... ");
        Cable cable({"--tps", "200"});
        QVERIFY(cable.sim().start());
        TForm1 form(nullptr, QStringList{cable.link()});
        form.show();
        WidgetScreen &screen = form.widgetScreen();
        const QByteArray sent = activateAndSend(form, cable);
        QCOMPARE(sent.size(), 256);
        QTRY_VERIFY(screen.isEnabled("btnConfigurarTps"));
        const int tpsMin = form.controller().state().wv.tpsMin, tpsMax = form.controller().state().wv.tpsMax;

        User user(QString{});
        bool unplugged = false;
        int closedSample = 0;
        user.hold = [&](const QString &text) {
            if (text != openMessage)
                return false;
            if (!unplugged) {
                closedSample = form.controller().state().wv.tpsMin;
                unplugged = cable.sim().command("unplug");
            }
            return user.messages.size() < 3; // open until the loss has been told
        };
        clickButton(screen, "btnConfigurarTps");
        QTRY_VERIFY_WITH_TIMEOUT(user.messages.size() >= 3, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 3000);
        QTest::qWait(1500); // three steps of the calibration, had it gone on
        QVERIFY(unplugged);
        QCOMPARE(closedSample, 200); // taken before the loss, and given back
        QCOMPARE(user.messages.size(), 3);
        QCOMPARE(user.messages.at(1), openMessage);
        QVERIFY2(user.messages.at(2).endsWith(TpsCalibration::lostMessage()), qPrintable(user.messages.at(2)));
        QCOMPARE(form.controller().state().wv.tpsMin, tpsMin);
        QCOMPARE(form.controller().state().wv.tpsMax, tpsMax);
        QVERIFY(!form.timerTps().isEnabled());
        QCOMPARE(form.controller().state().tps, TpsPhase::None);

        QVERIFY(cable.sim().command("replug"));
        QTRY_COMPARE_WITH_TIMEOUT(moduleLabel(form), equal, 8000);
        QTest::qWait(500);
        QVERIFY(user.checks.isEmpty());
        QCOMPARE(user.messages.size(), 3);
        QCOMPARE(cable.sim().countEvents("command 48"), 1);
        QCOMPARE(cable.sim().dumpImage(), sent);
    }

    // "&Desativar" closes the port: whatever reaches the module from now on is not
    // seen here, and the status says so.
    void deactivateMakesTheModuleUnknown()
    {
        Cable cable;
        QVERIFY(cable.sim().start());
        TForm1 form(nullptr, QStringList{cable.link()});
        form.show();
        QCOMPARE(activateAndSend(form, cable).size(), 256);
        QTRY_COMPARE_WITH_TIMEOUT(moduleLabel(form), equal, 1000);
        User user(QString{});
        clickButton(form.widgetScreen(), "btnDesativar");
        QTRY_VERIFY(form.widgetScreen().isEnabled("btnAtivar"));
        QCOMPARE(moduleLabel(form), QStringLiteral("Módulo: conteúdo desconhecido"));
        QVERIFY(user.messages.isEmpty());
    }
};

QTEST_MAIN(TestE2EModuleCheck)
#include "tst_e2e_modulecheck.moc"
