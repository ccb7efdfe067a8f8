// A pulled cable end to end: the real window against the ECU simulator over a
// pseudo-terminal reached through a fixed link. The device vanishes (the simulator's
// side of the line closes) and comes back under the same link: the window closes the
// port at once, says so in its status line, opens the port again by itself, and keeps
// the scanner, the recording, the edits and the undo history.
#include "e2ewindow.h"

#include "app/mappagetools.h"
#include "app/mapview3d.h"

#include "core/undo.h"
#include "datalog/datalog.h"
#include "serial/comport.h"
#include "session/portsession.h"

#include <QDir>
#include <QFile>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>
#include <QTemporaryDir>

#include <algorithm>

namespace {

const QString interruptedLine =
    QStringLiteral(" O envio foi interrompido: os dados não chegaram inteiros ao módulo. Envie novamente. ");
// The loss's box: the port's error, then the line that names the port.
QString vanished(const QString &port)
{
    return QStringLiteral("\n O cabo ou o adaptador da porta %1 foi desconectado. ").arg(port);
}
QString deviceGone(const QString &port) { return QStringLiteral("ReadFile function failed (win error code: 5)") + vanished(port); }

// The simulator behind a fixed link path, its cable pulled and put back with its
// control lines: its side of the line closes and the link goes; on the return the
// link points at a new pseudo-terminal and the module still holds its memory.
class Cable {
public:
    explicit Cable(const QStringList &arguments) : sim_(QStringList{"--link", link()} + arguments) {}
    QString link() const { return dir_.filePath("ecu"); }
    SimProcess &sim() { return sim_; }
    bool start() { return sim_.start(); }
    bool unplug() { return sim_.command("unplug"); }
    bool plugIn() { return sim_.command("replug"); }

private:
    QTemporaryDir dir_;
    SimProcess sim_;
};

struct Window {
    FakePrompt prompt;
    std::unique_ptr<TForm1> form;
    explicit Window(const QString &port)
    {
        form = std::make_unique<TForm1>(&prompt, QStringList{port});
        form->show();
    }
    WidgetScreen &screen() { return form->widgetScreen(); }
    QString text(const QString &name) { return screen().text(name); }
    bool enabled(const QString &name) { return screen().isEnabled(name); }
    QString status() { return screen().get<QLabel>("lbConexao")->text(); }
    QString module() { return screen().get<QLabel>("lbModulo")->text(); }
    void click(const QString &name)
    {
        auto *b = screen().get<QAbstractButton>(name);
        QVERIFY2(b, qPrintable(name));
        QTest::mouseClick(b, Qt::LeftButton);
    }
};

QString lostText(const QString &port) { return QStringLiteral("Conexão perdida — aguardando %1 voltar…").arg(port); }
QString reopenedText(const QString &port) { return QStringLiteral("Reconectado a %1").arg(port); }

int countEntries(const char *folder) { return int(QDir(QString::fromLatin1(folder)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size()); }

QStringList lines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool isRow(const QString &line) { return !line.isEmpty() && line.at(0).isDigit(); }

// The cells of both maps the scanner marks red.
QStringList redCells(WidgetScreen &s)
{
    QStringList red;
    for (int k = 0; k < 72; ++k)
        for (const QString &cell : {QStringLiteral("e%1").arg(k), QStringLiteral("e%1i").arg(k)})
            if (s.color(cell) == colors::red)
                red << cell;
    return red;
}

// The message boxes of the window that are open, by their text.
QStringList openBoxes()
{
    QStringList texts;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            texts << box->text();
    texts.sort();
    return texts;
}

// Closes every modal box that opens while it lives, and keeps their texts: a handler
// that waits on a modal box is caught here instead of hanging the test.
struct ModalCatcher {
    QStringList caught;
    QTimer timer;
    ModalCatcher()
    {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                caught << box->text();
                box->close();
            }
        });
        timer.start();
    }
};

} // namespace

class TestE2EReconnect : public QObject {
    Q_OBJECT
private slots:
    // The scanner streams into a recording; the cable goes and comes back: no message,
    // the status line tells both moments, the scanner runs again by itself and the
    // recording goes on in the same file with a marker at each moment.
    void unplugWhileScanningAndRecording()
    {
        Cable cable({"--rate", "50", "--rpm", "3000"});
        QVERIFY(cable.start());
        Window w(cable.link());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("Button3"), 3000);
        QCOMPARE(w.status(), QStringLiteral("Conectado a %1").arg(cable.link()));
        // A recording needs the module's set for the tune beside it: read it back first.
        w.click("Button6");
        QTRY_VERIFY_WITH_TIMEOUT(w.form->controller().history().moduleSet().has_value(), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.screen().isVisible("pnAguarde") && w.enabled("Button3"), 6000);
        w.click("Button3");
        QTRY_VERIFY_WITH_TIMEOUT(w.text("eRpm") == "3000", 4000);
        QTemporaryDir dir;
        const QString log = dir.filePath("run.msl");
        w.prompt.fileAnswers.push_back(log);
        w.click("btnGravar");
        QVERIFY(w.form->datalog().isRecording());
        QTRY_VERIFY_WITH_TIMEOUT(w.form->datalog().recorder().rows() >= 5, 4000);
        // Live: the marks on both maps, the throttle bar, the 3D view's dot.
        QVERIFY(!redCells(w.screen()).isEmpty());
        QVERIFY(w.enabled("BarraTps"));
        w.click("btnVista3D");
        MapView3D *view = w.form->mapPageTools().view3D();
        QVERIFY(view);
        view->refresh();
        QVERIFY(view->surface()->data().marked >= 0);

        QVERIFY(cable.unplug());
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
        qInfo("loss shown after %lld ms", clock.elapsed());
        QVERIFY(!w.form->ComPort1().Connected());
        QCOMPARE(w.text("Button3"), QStringLiteral("Ativar &Scanner"));
        // Nothing on the read-outs looks live while the link is lost.
        for (const char *readout : {"eRpm", "eAvanco", "eTi", "eTemperatura", "eValorSonda"})
            QCOMPARE(w.text(readout), QString());
        for (const char *device : {"eScannerBomba", "eScannerEletro", "eScannerAr"})
            QCOMPARE(w.screen().fontColor(device), colors::silver);
        // Nor do the cell marks, the throttle bar (empty and greyed) or the 3D view's dot.
        QCOMPARE(redCells(w.screen()), QStringList());
        QCOMPARE(w.screen().barPosition("BarraTps"),
                 std::min(w.screen().barMin("BarraTps"), w.screen().barMax("BarraTps")));
        QVERIFY(!w.enabled("BarraTps"));
        view->refresh();
        QCOMPARE(view->surface()->data().marked, -1);
        QVERIFY(view->grab().save(qEnvironmentVariable("VELTO_BUILD") + "/reconnect-lost-3d.png"));
        QVERIFY(w.form->pages()->widget(0)->grab().save(qEnvironmentVariable("VELTO_BUILD") + "/reconnect-lost.png"));
        QVERIFY(w.form->datalog().isRecording());
        QVERIFY(w.enabled("btnDesativar"));
        QVERIFY(!w.enabled("btnAtivar"));
        QVERIFY(!w.enabled("btnEnvia"));
        const qint64 rowsAtLoss = w.form->datalog().recorder().rows();
        QTest::qWait(1500);
        QCOMPARE(w.form->datalog().recorder().rows(), rowsAtLoss); // nothing invented
        QCOMPARE(w.prompt.messages, QStringList());

        QVERIFY(cable.plugIn());
        clock.restart();
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), reopenedText(cable.link()), 3000);
        qInfo("reopened %lld ms after the device came back", clock.elapsed());
        // The check reads the module first; the scanner waits for it.
        QVERIFY(w.form->session().checkingModule());
        QTRY_COMPARE_WITH_TIMEOUT(w.text("Button3"), QStringLiteral("Desativar &Scanner"), 6000);
        qInfo("scanner running again %lld ms after the device came back", clock.elapsed());
        QTRY_VERIFY_WITH_TIMEOUT(w.text("eRpm") == "3000", 4000); // live again
        QTRY_VERIFY_WITH_TIMEOUT(!redCells(w.screen()).isEmpty(), 3000);
        QVERIFY(w.enabled("BarraTps"));
        view->refresh();
        QVERIFY(view->surface()->data().marked >= 0);
        QVERIFY(w.form->pages()->widget(0)->grab().save(qEnvironmentVariable("VELTO_BUILD") + "/reconnect-back.png"));
        QTRY_VERIFY_WITH_TIMEOUT(w.form->datalog().recorder().rows() >= rowsAtLoss + 5, 4000);
        QVERIFY(w.form->datalog().isRecording());
        QCOMPARE(w.prompt.messages, QStringList());
        w.form->datalog().btnPararClick();

        const QStringList file = lines(log);
        const int lost = int(std::find_if(file.begin(), file.end(),
                                          [](const QString &l) { return l.contains("Conexão perdida"); }) -
                             file.begin());
        const int back = int(std::find_if(file.begin(), file.end(),
                                          [](const QString &l) { return l.contains("Reconectado"); }) -
                             file.begin());
        QVERIFY2(lost < file.size() && back < file.size(), qPrintable(file.join('\n').right(600)));
        QVERIFY(lost < back);
        QVERIFY(std::count_if(file.begin(), file.begin() + lost, isRow) >= 5);
        QCOMPARE(std::count_if(file.begin() + lost, file.begin() + back, isRow), 0);
        QVERIFY(std::count_if(file.begin() + back, file.end(), isRow) >= 5);
    }

    // The cable goes during an upload: one box, whose last line is the upload's; no end
    // command, so the module still holds its set; its content is unknown to the window
    // afterwards. After the return the check lists the differing fields and offers the
    // three choices; each does what it says and nothing else.
    void unplugDuringUpload_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Enviar a tela ao módulo") << 0;
        QTest::newRow("Carregar o módulo na tela") << 1;
        QTest::newRow("Manter assim") << 2;
    }
    void unplugDuringUpload()
    {
        QFETCH(int, answer);
        Cable cable({});
        QVERIFY(cable.start());
        const QByteArray before = cable.sim().dumpImage();
        QCOMPARE(before.size(), 256);
        Window w(cable.link());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("btnEnvia"), 3000);
        w.click("btnEnvia");
        QTRY_VERIFY_WITH_TIMEOUT(w.screen().barPosition("pbCarregando") >= 4, 3000);
        QVERIFY(cable.unplug());

        QTRY_VERIFY_WITH_TIMEOUT(!w.form->timer2().isEnabled() && w.prompt.messages.size() >= 1, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
        QTest::qWait(500); // nothing more comes
        QCOMPARE(w.prompt.messages.size(), 1);
        const QString box = w.prompt.messages.first();
        QVERIFY2(box.endsWith("\n" + interruptedLine), qPrintable(box));
        QVERIFY2(box.contains(vanished(cable.link())), qPrintable(box));
        QCOMPARE(w.module(), QStringLiteral("Módulo: conteúdo desconhecido"));
        QVERIFY(!w.enabled("btnEnvia"));
        QVERIFY(w.enabled("btnSalvar"));
        QCOMPARE(cable.sim().dumpImage(), before); // the set was never ended

        // The screen now differs from what the module holds in this cell.
        w.screen().setText("e5", "77");
        w.form->guarded([&w] { w.form->controller().fieldLeft(); });
        const QString moduleE5 = QString::number(quint8(before.at(5)));
        QVERIFY(moduleE5 != "77");
        const int steps = w.form->controller().history().count();
        w.prompt.questionAnswers.push_back(answer);
        QVERIFY(cable.plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), reopenedText(cable.link()), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(w.prompt.questions.size(), 1, 6000);
        QCOMPARE(w.prompt.questionButtons.first(),
                 (QStringList{"Enviar a tela ao módulo", "Carregar o módulo na tela", "Manter assim"}));
        const QList<tunediff::Difference> rows = w.prompt.questionDifferences.first();
        QVERIFY2(w.prompt.questions.first().startsWith(QStringLiteral(" A tela e o módulo diferem em %1 ")
                                                           .arg(rows.size())),
                 qPrintable(w.prompt.questions.first()));
        const auto e5 = std::find_if(rows.begin(), rows.end(),
                                     [](const tunediff::Difference &d) { return d.control == "e5"; });
        QVERIFY(e5 != rows.end());
        QCOMPARE(e5->a, QStringLiteral("77"));
        QCOMPARE(e5->b, moduleE5);
        QCOMPARE(cable.sim().countEvents("command 48"), 0);

        switch (answer) {
        case 0: // the upload ends this time, and the module holds the screen
            QTRY_VERIFY_WITH_TIMEOUT(cable.sim().countEvents("command 48") == 1, 8000);
            QTRY_COMPARE_WITH_TIMEOUT(w.module(), QStringLiteral("Tela igual ao módulo"), 3000);
            QCOMPARE(quint8(cable.sim().dumpImage().at(5)), quint8(77));
            QCOMPARE(w.text("e5"), QStringLiteral("77"));
            break;
        case 1: // one step that undo takes back
            QCOMPARE(w.text("e5"), moduleE5);
            QCOMPARE(w.module(), QStringLiteral("Tela igual ao módulo"));
            QCOMPARE(w.form->controller().history().count(), steps + 1);
            w.form->controller().undo();
            QCOMPARE(w.text("e5"), QStringLiteral("77"));
            break;
        default: // nothing overwritten on either side
            QCOMPARE(w.text("e5"), QStringLiteral("77"));
            QCOMPARE(w.module(), QStringLiteral("Tela diferente do módulo (%1 %2)")
                                     .arg(rows.size())
                                     .arg(rows.size() == 1 ? "campo" : "campos"));
            QTest::qWait(300);
            QCOMPARE(cable.sim().dumpImage(), before);
            break;
        }
        QVERIFY(w.enabled("btnEnvia"));
        QCOMPARE(w.prompt.messages.size(), 1);
        QCOMPARE(w.prompt.questions.size(), 1);
    }

    // Scanning and recording when the cable goes; an edit made while it is out; on the
    // return the check offers the choices and "Enviar a tela ao módulo" sends the screen:
    // once the upload has ended the scanner runs again and the same file gets rows.
    void checkUploadAfterReturnResumesScannerAndRecording()
    {
        Cable cable({"--rate", "50", "--rpm", "3000"});
        QVERIFY(cable.start());
        Window w(cable.link());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("Button6"), 3000);
        w.click("Button6");
        QTRY_VERIFY_WITH_TIMEOUT(w.form->controller().history().moduleSet().has_value(), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.screen().isVisible("pnAguarde") && w.enabled("Button3"), 6000);
        w.click("Button3");
        QTRY_VERIFY_WITH_TIMEOUT(w.text("eRpm") == "3000", 4000);
        QTemporaryDir dir;
        const QString log = dir.filePath("run.msl");
        w.prompt.fileAnswers.push_back(log);
        w.click("btnGravar");
        QVERIFY(w.form->datalog().isRecording());
        QTRY_VERIFY_WITH_TIMEOUT(w.form->datalog().recorder().rows() >= 3, 4000);

        QVERIFY(cable.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
        w.screen().setText("e5", "77");
        w.form->guarded([&w] { w.form->controller().fieldLeft(); });
        w.prompt.questionAnswers.push_back(0); // "Enviar a tela ao módulo"
        QVERIFY(cable.plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(w.prompt.questions.size(), 1, 6000);
        QTRY_VERIFY_WITH_TIMEOUT(cable.sim().countEvents("command 48") == 1, 8000);
        QCOMPARE(quint8(cable.sim().dumpImage().at(5)), quint8(77));
        QTRY_COMPARE_WITH_TIMEOUT(w.text("Button3"), QStringLiteral("Desativar &Scanner"), 3000);
        QVERIFY(w.form->datalog().isRecording());
        const qint64 rowsAfterUpload = w.form->datalog().recorder().rows();
        QTRY_VERIFY_WITH_TIMEOUT(w.form->datalog().recorder().rows() >= rowsAfterUpload + 5, 4000);
        QCOMPARE(w.prompt.messages, QStringList());
        w.form->datalog().btnPararClick();

        const QStringList file = lines(log);
        const auto back = std::find_if(file.begin(), file.end(), [](const QString &l) { return l.contains("Reconectado"); });
        QVERIFY2(back != file.end(), qPrintable(file.join('\n').right(600)));
        QVERIFY(std::count_if(back, file.end(), isRow) >= 5);
    }

    // Edits not saved nor sent survive the cable: texts, the unsaved flag, the history.
    void unplugWithUnsavedEdits()
    {
        Cable cable({});
        QVERIFY(cable.start());
        Window w(cable.link());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("btnEnvia"), 3000);
        const QString e9iBefore = w.text("e9i");
        w.screen().setText("e5", "33");
        w.form->controller().fieldLeft();
        w.screen().setText("e9i", "4,5");
        w.form->controller().fieldLeft();
        w.form->guarded([] {});
        QVERIFY(!w.screen().widget("lbNaoSalvo1")->isHidden());
        const int steps = w.form->controller().history().count();
        const int index = w.form->controller().history().index();

        QVERIFY(cable.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
        QVERIFY(cable.plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), reopenedText(cable.link()), 3000);
        // The check finds the edits and asks; the box closed without a choice keeps all.
        QTRY_COMPARE_WITH_TIMEOUT(w.prompt.questions.size(), 1, 6000);
        QVERIFY(!w.form->session().checkingModule());

        QCOMPARE(w.text("e5"), QStringLiteral("33"));
        QCOMPARE(w.text("e9i"), QStringLiteral("4,5"));
        QVERIFY(!w.screen().widget("lbNaoSalvo1")->isHidden());
        QCOMPARE(w.form->controller().history().count(), steps);
        QCOMPARE(w.form->controller().history().index(), index);
        w.form->controller().undo();
        QCOMPARE(w.text("e9i"), e9iBefore);
        QCOMPARE(w.text("e5"), QStringLiteral("33"));
        // Lost while idle: the one box of the loss, nothing for the return.
        QCOMPARE(w.prompt.messages, QStringList{deviceGone(cable.link())});
    }

    // "&Desativar" while waiting ends the wait: the port stays closed when the device
    // comes back.
    void deactivateEndsTheWait()
    {
        Cable cable({});
        QVERIFY(cable.start());
        Window w(cable.link());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("btnEnvia"), 3000);
        QVERIFY(cable.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(w.prompt.messages, QStringList{deviceGone(cable.link())}, 1000);
        w.click("btnDesativar");
        QCOMPARE(w.status(), QStringLiteral("Desconectado"));
        QVERIFY(w.enabled("btnAtivar"));
        QVERIFY(!w.enabled("btnDesativar"));
        QVERIFY(cable.plugIn());
        QTest::qWait(1500);
        QVERIFY(!w.form->ComPort1().Connected());
        QCOMPARE(w.status(), QStringLiteral("Desconectado"));
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("btnEnvia"), 3000);
        QCOMPARE(w.status(), QStringLiteral("Conectado a %1").arg(cable.link()));
    }

    // The device comes back but another opener holds it: the refusal is told once, with
    // the explanation "&Ativar" gives, and the watch goes on until the device is free.
    void returnRefusedOnceAndWatchGoesOn_data()
    {
        QTest::addColumn<bool>("otherProcess");
        QTest::newRow("flock in another process") << true;
        QTest::newRow("TComPort of this process") << false;
    }
    void returnRefusedOnceAndWatchGoesOn()
    {
        QFETCH(bool, otherProcess);
        Cable cable({});
        QVERIFY(cable.start());
        Window w(cable.link());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("btnEnvia"), 3000);
        QVERIFY(cable.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(w.prompt.messages, QStringList{deviceGone(cable.link())}, 1000);
        w.prompt.messages.clear();
        PortSession &session = w.form->session();
        session.timerWatch().setEnabled(false); // the test ticks the watch itself
        QVERIFY(cable.plugIn());

        PortHolder holder;
        QVERIFY(holder.hold(cable.link(), otherProcess));
        const QString refused = QStringLiteral("Unable to open com port (win error code: 11)\n"
                                               " A porta %1 está em uso por outro programa: %2 (processo %3). ")
                                    .arg(TCustomComPort::devicePath(cable.link()), holder.name())
                                    .arg(holder.pid());
        for (int tick = 0; tick < 3; ++tick) {
            w.form->guarded([&session] { session.watchTick(); });
            QCOMPARE(w.prompt.messages, QStringList{refused});
            QCOMPARE(w.status(), lostText(cable.link()));
            QVERIFY(!w.form->ComPort1().Connected());
            QVERIFY(w.enabled("btnDesativar"));
            QVERIFY(!w.enabled("btnAtivar"));
        }

        holder.release();
        w.form->guarded([&session] { session.watchTick(); });
        QCOMPARE(w.status(), reopenedText(cable.link()));
        QVERIFY(w.form->ComPort1().Connected());
        QTRY_VERIFY_WITH_TIMEOUT(!session.checkingModule(), 6000);
        QCOMPARE(w.prompt.questions, QStringList()); // the module holds the screen's set
        QCOMPARE(w.module(), QStringLiteral("Tela igual ao módulo"));
        QCOMPARE(w.prompt.messages, QStringList{refused});
    }

    // The real window and its real boxes. The loss and a refused return are told in
    // boxes that do not wait for OK: the watch goes on under them, each box closes itself
    // once the device is open again, and the status line says the return; after a while
    // it says "Conectado a …" again. "Configurar TPS" follows the read-back of the check.
    void boxesOfTheLossCloseThemselvesOnTheReturn()
    {
        Cable cable({});
        QVERIFY(cable.start());
        TForm1 form(nullptr, QStringList{cable.link()});
        form.show();
        WidgetScreen &screen = form.widgetScreen();
        auto status = [&screen] { return screen.get<QLabel>("lbConexao")->text(); };
        ModalCatcher modal;
        QTest::mouseClick(screen.get<QAbstractButton>("btnAtivar"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(screen.isEnabled("Button6"), 3000);
        QTest::mouseClick(screen.get<QAbstractButton>("Button6"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(form.controller().history().moduleSet().has_value(), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(screen.isEnabled("btnConfigurarTps"), 3000);

        QVERIFY(cable.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(status(), lostText(cable.link()), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(openBoxes(), QStringList{deviceGone(cable.link())}, 1000);
        QVERIFY(!screen.isEnabled("btnConfigurarTps"));
        PortSession &session = form.session();
        session.timerWatch().setEnabled(false); // the test ticks the watch itself
        QVERIFY(cable.plugIn());
        PortHolder holder;
        QVERIFY(holder.hold(cable.link(), true));
        const QString refused = QStringLiteral("Unable to open com port (win error code: 11)\n"
                                               " A porta %1 está em uso por outro programa: %2 (processo %3). ")
                                    .arg(TCustomComPort::devicePath(cable.link()), holder.name())
                                    .arg(holder.pid());
        for (int tick = 0; tick < 3; ++tick) {
            form.guarded([&session] { session.watchTick(); });
            QStringList both{deviceGone(cable.link()), refused};
            both.sort();
            QCOMPARE(openBoxes(), both);
            QCOMPARE(status(), lostText(cable.link()));
        }
        QVERIFY(form.grab().save(qEnvironmentVariable("VELTO_BUILD") + "/reconnect-refused-window.png"));
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible() && box->text() == refused)
                QVERIFY(box->grab().save(qEnvironmentVariable("VELTO_BUILD") + "/reconnect-refused-box.png"));
        holder.release();
        form.guarded([&session] { session.watchTick(); });
        QCOMPARE(status(), reopenedText(cable.link()));
        QCOMPARE(openBoxes(), QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(!session.checkingModule(), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(screen.isEnabled("btnConfigurarTps"), 3000);
        QCOMPARE(screen.get<QLabel>("lbModulo")->text(), QStringLiteral("Tela igual ao módulo"));
        QCOMPARE(modal.caught, QStringList());

        QVERIFY(session.timerSettle().isEnabled());
        session.settleTick();
        QCOMPARE(status(), QStringLiteral("Conectado a %1").arg(cable.link()));
        QVERIFY(!session.timerSettle().isEnabled());
        // Lost again: the status line tells the loss, not the settled link.
        QVERIFY(cable.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(status(), lostText(cable.link()), 1000);
        session.settleTick();
        QCOMPARE(status(), lostText(cable.link()));
        QCOMPARE(modal.caught, QStringList());
    }

    // The device comes back at its path but the module answers nothing: the check says
    // "Módulo não responde" once, as the scanner's watchdog would, and the scanner that
    // ran before the loss is not switched on to say it a second time.
    void silentModuleAfterReturnToldOnce_data()
    {
        QTest::addColumn<bool>("scanning");
        QTest::newRow("scanner on") << true;
        QTest::newRow("scanner off") << false;
    }
    void silentModuleAfterReturnToldOnce()
    {
        QFETCH(bool, scanning);
        Cable cable({"--rate", "50"});
        QVERIFY(cable.start());
        Window w(cable.link());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("Button3"), 3000);
        if (scanning) {
            w.click("Button3");
            QTRY_VERIFY_WITH_TIMEOUT(w.form->ComPort1().comThread()->handOverCount() > 3, 3000);
        }
        QVERIFY(cable.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
        QVERIFY(cable.sim().command("silent on"));
        w.prompt.messages.clear();
        QVERIFY(cable.plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), reopenedText(cable.link()), 3000);
        w.form->session().timerSettle().setEnabled(false); // "Reconectado" stays: the test waits longer
        QTRY_VERIFY_WITH_TIMEOUT(!w.prompt.messages.isEmpty(), 8000);
        QTest::qWait(2500); // longer than the scanner's watchdog
        QCOMPARE(w.prompt.messages, QStringList{QStringLiteral("Módulo não responde")});
        QCOMPARE(w.text("Button3"), QStringLiteral("Ativar &Scanner"));
        QCOMPARE(w.status(), reopenedText(cable.link()));
        QCOMPARE(w.module(), QStringLiteral("Módulo: conteúdo desconhecido"));
        QVERIFY(w.enabled("btnEnvia"));
        // Once it answers again, the scanner runs at a click.
        QVERIFY(cable.sim().command("silent off"));
        w.click("Button3");
        QTRY_VERIFY_WITH_TIMEOUT(w.text("eRpm") != "", 3000);
        QTest::qWait(1000);
        QCOMPARE(w.text("Button3"), QStringLiteral("Desativar &Scanner"));
        QCOMPARE(w.prompt.messages.size(), 1);
    }

    // "&Ativar" sends nothing unless "Verificar o módulo ao conectar" is set; set, it
    // reads the module into its own image and asks when the screen differs.
    void checkOnActivateOnlyWhenSet()
    {
        Cable cable({});
        QVERIFY(cable.start());
        Window w(cable.link());
        auto *check = w.screen().get<QAbstractButton>("ckVerificarModulo");
        QVERIFY(!check->isChecked());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("btnEnvia"), 3000);
        QTest::qWait(500);
        QCOMPARE(cable.sim().commands(), QList<quint8>());
        QCOMPARE(w.module(), QStringLiteral("Módulo: conteúdo desconhecido"));
        w.click("btnDesativar");

        check->setChecked(true);
        struct Restore {
            QAbstractButton *b;
            ~Restore() { b->setChecked(false); }
        } restore{check};
        w.screen().setText("e5", "77");
        w.prompt.questionAnswers.push_back(1); // "Carregar o módulo na tela"
        w.click("btnAtivar");
        QTRY_COMPARE_WITH_TIMEOUT(w.prompt.questions.size(), 1, 6000);
        QCOMPARE(cable.sim().commands(), QList<quint8>{0x33});
        QTRY_COMPARE_WITH_TIMEOUT(w.module(), QStringLiteral("Tela igual ao módulo"), 1000);
        QCOMPARE(w.text("e5"), QString::number(quint8(cable.sim().dumpImage().at(5))));
        QCOMPARE(w.prompt.messages, QStringList());
    }

    // Twenty cables pulled in a row: every return is taken within 3 s, and no
    // descriptor or thread is left behind.
    void twentyCyclesLeakNothing()
    {
        Cable cable({"--rate", "50"});
        QVERIFY(cable.start());
        Window w(cable.link());
        w.click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(w.enabled("Button3"), 3000);
        w.click("Button3");
        QTRY_VERIFY_WITH_TIMEOUT(w.form->ComPort1().comThread()->handOverCount() > 3, 3000);
        // Once: the first cycle may create what Qt keeps for the rest of the run.
        QVERIFY(cable.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
        QVERIFY(cable.plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), reopenedText(cable.link()), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(w.text("Button3"), QStringLiteral("Desativar &Scanner"), 6000);
        const int fds = countEntries("/proc/self/fd");
        const int threads = countEntries("/proc/self/task");

        QList<qint64> times;
        for (int i = 0; i < 20; ++i) {
            QVERIFY(cable.unplug());
            QTRY_COMPARE_WITH_TIMEOUT(w.status(), lostText(cable.link()), 1000);
            QVERIFY(cable.plugIn());
            QElapsedTimer clock;
            clock.start();
            QTRY_COMPARE_WITH_TIMEOUT(w.status(), reopenedText(cable.link()), 3000);
            times << clock.elapsed();
            QTRY_COMPARE_WITH_TIMEOUT(w.text("Button3"), QStringLiteral("Desativar &Scanner"), 6000);
        }
        std::sort(times.begin(), times.end());
        qInfo("reopened after the return: median %lld ms, worst %lld ms", times[times.size() / 2], times.last());
        QCOMPARE(countEntries("/proc/self/fd"), fds);
        QCOMPARE(countEntries("/proc/self/task"), threads);
        QCOMPARE(w.prompt.messages, QStringList());
    }
};

QTEST_MAIN(TestE2EReconnect)
#include "tst_e2e_reconnect.moc"
