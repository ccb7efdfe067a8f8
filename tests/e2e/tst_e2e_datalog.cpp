// A recording made in the real window against the simulator: its rows hold what the
// read-outs showed, and playing it back puts the same read-outs, bars and cell marks
// on the screen with the line untouched.
#include "datalog/datalog.h"
#include "datalog/logformat.h"
#include "datalog/recorder.h"
#include "session/portsession.h"
#include "e2ewindow.h"
#include "realdialog.h"
#include "core/undo.h"
#include "files/mapfile.h"

#include <QComboBox>
#include <QListWidget>
#include <QSlider>
#include <QTemporaryDir>

namespace {

const char *const readoutNames[] = {"eRpm", "eAvanco", "eTi", "eValorTps", "ePresAtm", "eCorPresAtm", "eAtuadorML",
                                    "eTemperatura", "eCorTemperatura", "eCorAvanco", "eValorSonda", "eCorSondaCurto",
                                    "eCorSondaLongo", "eColunaTps", "eValorMap", "eLinhaMapa"};

QStringList screenState(WidgetScreen &s)
{
    QStringList out;
    for (const char *r : readoutNames)
        out << QString("%1=%2").arg(r, s.text(r));
    for (const char *r : {"eTemperatura", "eTi", "eScannerBomba", "eScannerEletro", "eScannerAr"}) {
        const Rgb c = s.fontColor(r);
        out << QString("%1 colour %2,%3,%4").arg(r).arg(c.r).arg(c.g).arg(c.b);
    }
    for (const char *g : {"BarraTps", "Gauge1", "Gauge2", "Gauge3", "Gauge4", "Gauge5", "Gauge6", "Gauge7", "Gauge8"})
        out << QString("%1=%2").arg(g).arg(s.barPosition(g));
    for (int k = 0; k < 72; ++k)
        if (s.color(QString("e%1").arg(k)) == colors::red)
            out << QString("red %1").arg(k);
    return out;
}

// The channels of a row as the read-outs write them (decimal comma).
QString channel(const logformat::Log &, const QList<QByteArray> &row, const QString &name)
{
    return QString::fromUtf8(row[logformat::channels().indexOf(name)]).replace('.', ',');
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestE2EDatalog : public QObject {
    Q_OBJECT
private slots:
    void recordAndPlayBack();
    void recordAndOpenThroughTheRealDialogs();
};

void TestE2EDatalog::recordAndPlayBack()
{
    QTemporaryDir dir;
    E2E e({"--rate", "50"});
    QVERIFY(e.start());
    e.activate();
    e.form->pages()->setCurrentIndex(0);
    e.click("Button3");
    QTRY_VERIFY_WITH_TIMEOUT(e.text("eRpm").toInt() > 0, 4000);
    QVERIFY(e.enabled("btnGravar"));
    // Nothing sent or read back yet: which set the module holds is unknown. "Gravar"
    // reads it back first, the scanner pausing for it (its stop command goes out before
    // the read request), and records with that set beside the log.
    QVERIFY(!e.form->controller().history().moduleSet().has_value());
    const QString first = dir.filePath("first.msl");
    e.prompt.fileAnswers.push_back(first);
    e.click("btnGravar");
    QVERIFY(e.form->datalog().isReadingModule());
    QVERIFY(e.form->session().checkingModule());
    QCOMPARE(e.text("Button3"), QStringLiteral("Ativar &Scanner"));
    QTRY_VERIFY_WITH_TIMEOUT(e.form->datalog().isRecording(), 8000);
    QCOMPARE(e.text("Button3"), QStringLiteral("Desativar &Scanner"));
    const QList<quint8> commands = e.sim.commands();
    const qsizetype read = commands.indexOf(quint8(0x33));
    QVERIFY(read > 0);
    QCOMPARE(commands.at(read - 1), quint8(0xD9));
    QVERIFY(e.form->controller().history().moduleSet().has_value());
    const QByteArray firstTune = [&] {
        QFile f(Recorder::tunePath(first));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QCOMPARE(firstTune, MapFile::bytesOf(*e.form->controller().history().moduleSet()));
    QTRY_VERIFY_WITH_TIMEOUT(e.form->datalog().recorder().rows() >= 3, 4000);
    e.click("btnParar");
    QVERIFY(!e.form->datalog().isRecording());
    QVERIFY(!logformat::read(first).moduleSetUnknown);
    QCOMPARE(e.prompt.messages, QStringList());
    e.click("Button3");
    QTRY_VERIFY_WITH_TIMEOUT(!e.form->timer1().isEnabled(), 3000);
    e.form->controller().history().forgetModuleSet(); // known again through the read below
    e.click("Button6");
    QTRY_VERIFY_WITH_TIMEOUT(e.form->controller().history().moduleSet().has_value(), 6000);
    QTRY_VERIFY_WITH_TIMEOUT(!e.screen().isVisible("pnAguarde") && e.enabled("Button6"), 6000);
    const QByteArray moduleTune = e.form->controller().mapFile().screenBytes();
    e.screen().setText("e5", "33"); // the screen moves on; the module keeps what it sent
    QVERIFY(e.form->controller().mapFile().screenBytes() != moduleTune);
    e.click("Button3");
    QTRY_VERIFY_WITH_TIMEOUT(e.enabled("btnGravar"), 4000);
    QTest::qWait(300);
    const QString path = dir.filePath("run.msl");
    e.prompt.fileAnswers.push_back(path);
    e.click("btnGravar");
    QVERIFY2(e.form->datalog().isRecording(), qPrintable(e.prompt.messages.join('|')));
    QCOMPARE(e.text("lbEstadoRegistro"), QString("● Gravando 00:00 — run.msl"));
    QTest::qWait(400);
    e.click("btnMarcar");
    QCOMPARE(e.text("lbUltimaMarca"), QString("Marca 1"));
    QVERIFY(e.form->widgetScreen().get<QWidget>("GroupBoxRegistro")->grab().save(
        qEnvironmentVariable("VELTO_BUILD") + "/datalog-group-recording.png"));
    // The screen as each sample completed (on its kind 31): the last row is the last of them.
    QStringList live, readouts;
    e.form->datalog().onLiveRow = [&](const logformat::Row &) {
        live = screenState(e.screen());
        readouts.clear();
        for (const char *r : readoutNames)
            readouts << e.text(r);
    };
    // Enough samples for the checks below, however slow the build runs.
    QTest::qWait(300);
    QTRY_VERIFY_WITH_TIMEOUT(e.form->datalog().recorder().rows() > 50, 20000);
    e.form->datalog().btnPararClick();
    e.form->datalog().onLiveRow = nullptr;
    QVERIFY(!readouts.isEmpty());
    QVERIFY(!e.form->datalog().isRecording());
    QVERIFY(e.form->widgetScreen().get<QWidget>("GroupBoxRegistro")->grab().save(dir.filePath("group.png")));
    QVERIFY(e.form->pages()->widget(0)->grab().save(qEnvironmentVariable("VELTO_BUILD") + "/datalog-recording.png"));

    const QByteArray file = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const logformat::Log log = logformat::read(path);
    QCOMPARE(log.badLines, 0);
    QVERIFY(log.rows.size() > 50);
    QCOMPARE(log.markers.size(), std::size_t(1));
    QList<QByteArray> lines = file.split('\n');
    lines.removeLast();
    const QList<QByteArray> last = lines.last().split('\t');
    // Channel by channel against the read-outs.
    QCOMPARE(channel(log, last, "RPM"), readouts[0]);
    QCOMPARE(channel(log, last, "Avanco") + "°", readouts[1]);
    QCOMPARE(channel(log, last, "Ti"), readouts[2].section("  ", 0, 0));
    QCOMPARE(QString::number(qRound(channel(log, last, "Abertura").replace(',', '.').toDouble())),
             readouts[2].section("  ", 1, 1));
    QCOMPARE(channel(log, last, "TPSV") + " ", readouts[3]);
    QCOMPARE(channel(log, last, "PressaoAtm"), readouts[4]);
    QCOMPARE(channel(log, last, "CorrAtm") + " %", readouts[5]);
    QCOMPARE(channel(log, last, "AtuadorML"), readouts[6]);
    QCOMPARE(channel(log, last, "Temperatura"), readouts[7]);
    QCOMPARE(channel(log, last, "CorrTemp") + " %", readouts[8]);
    QCOMPARE(channel(log, last, "CorrAvanco") + " °", readouts[9]);
    QCOMPARE(channel(log, last, "Sonda"), readouts[10]);
    QCOMPARE(channel(log, last, "CorrCurto"), readouts[11]);
    QCOMPARE(channel(log, last, "CorrLongo"), readouts[12]);
    QCOMPARE(channel(log, last, "ColunaTPS"), readouts[13]);
    QCOMPARE(channel(log, last, "ColunaMAP"), readouts[14]);
    QCOMPARE(channel(log, last, "LinhaRPM"), readouts[15]);

    // The tune beside the log is the set read back from the module, not the screen.
    QFile tune(dir.filePath("run-mapa.txt"));
    QVERIFY(tune.open(QIODevice::ReadOnly));
    QCOMPARE(tune.readAll(), moduleTune);

    // Scanner off; open the log; the line stays quiet while it plays.
    e.click("Button3");
    QTRY_VERIFY_WITH_TIMEOUT(!e.form->timer1().isEnabled(), 3000);
    // A poll already on the line when the scanner stopped still reaches the module.
    const int eventsBefore = e.sim.settledCount("command ");
    e.prompt.fileAnswers.push_back(path);
    e.click("btnAbrirRegistro");
    QVERIFY(e.form->datalog().isOpen());
    QVERIFY(e.prompt.messages.isEmpty());
    QCOMPARE(e.text("lbEstadoRegistro"), QString("Reproduzindo run.msl"));
    QVERIFY(!e.screen().get<QComboBox>("cbVelocidade")->isEditable()); // a fixed list
    QCOMPARE(e.screen().items("cbVelocidade"), QStringList({"1x", "2x", "4x", "8x"}));
    QVERIFY(e.screen().isVisible("TabSheet2")); // the configuration page stays reachable
    QCOMPARE(e.screen().get<QListWidget>("lbMarcas")->count(), 1);
    auto *slider = e.screen().get<QSlider>("tbPosicao");
    slider->setValue(slider->maximum());
    QCOMPARE(screenState(e.screen()), live);
    e.click("btnReproduzir");
    QCOMPARE(e.text("btnReproduzir"), QString("Pa&usar"));
    slider->setValue(0);
    QTest::qWait(300);
    QVERIFY(e.form->datalog().row() > 0);
    QVERIFY(e.form->pages()->widget(0)->grab().save(qEnvironmentVariable("VELTO_BUILD") + "/datalog-playback.png"));
    e.click("btnReproduzir");
    QCOMPARE(e.sim.commands().size(), eventsBefore);
    e.click("btnFecharRegistro");
    QVERIFY(!e.screen().isVisible("Gauge1"));
    QVERIFY(e.screen().isVisible("GroupBox3"));
}

// "Gravar" and "Abrir registro" in the real window, answered in its real dialogs:
// "Cancel" in the save dialog records nothing; a map already beside the log is asked
// about in the real box ("Cancelar" records nothing and leaves that map, "Substituir"
// records and writes the module's set there); the open dialog plays the log, and a log
// with a bad line opens with the real box that names the line.
void TestE2EDatalog::recordAndOpenThroughTheRealDialogs()
{
    QTemporaryDir dir;
    E2E e({"--rate", "50"});
    e.realDialogs = true;
    QVERIFY(e.start());
    e.activate();
    e.form->pages()->setCurrentIndex(0);
    // The module's set read back: "Gravar" writes it beside the log at once.
    e.click("Button6");
    QTRY_VERIFY_WITH_TIMEOUT(e.form->controller().history().moduleSet().has_value(), 6000);
    QTRY_VERIFY_WITH_TIMEOUT(!e.screen().isVisible("pnAguarde") && e.enabled("Button3"), 6000);
    e.click("Button3");
    QTRY_VERIFY_WITH_TIMEOUT(e.enabled("btnGravar"), 4000);

    const QString path = dir.filePath("volta.msl");
    answerFileDialog(QString());
    e.click("btnGravar");
    QVERIFY(!e.form->datalog().isRecording());
    QVERIFY(!QFile::exists(path));
    QVERIFY(!QApplication::activeModalWidget());

    const QString tunePath = Recorder::tunePath(path);
    {
        QFile old(tunePath);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("antigo");
    }
    QString text;
    QStringList buttons;
    answerFileDialog(path);
    answerBox("Cancelar", &text, &buttons); // after the file dialog
    e.click("btnGravar");
    QCOMPARE(text, QString("O mapa %1 já existe ao lado do registro. Deseja substituí-lo pelo mapa do módulo?")
                       .arg(tunePath));
    QCOMPARE(buttons, QStringList({"Substituir", "Cancelar"}));
    QVERIFY(!e.form->datalog().isRecording());
    QVERIFY(!QFile::exists(path));
    QCOMPARE(contents(tunePath), QByteArray("antigo"));

    answerFileDialog(path);
    answerBox("Substituir", &text);
    e.click("btnGravar");
    QVERIFY(e.form->datalog().isRecording());
    QCOMPARE(e.text("lbEstadoRegistro"), QString("● Gravando 00:00 — volta.msl"));
    QTRY_VERIFY_WITH_TIMEOUT(e.form->datalog().recorder().rows() >= 5, 8000);
    e.click("btnParar");
    QVERIFY(!e.form->datalog().isRecording());
    QCOMPARE(contents(tunePath), MapFile::bytesOf(*e.form->controller().history().moduleSet()));
    const logformat::Log recorded = logformat::read(path);
    QCOMPARE(recorded.badLines, 0);
    QVERIFY(recorded.rows.size() >= 5);
    e.click("Button3");
    QTRY_VERIFY_WITH_TIMEOUT(!e.form->timer1().isEnabled(), 3000);

    // "Abrir registro": "Cancel" opens nothing; the log chosen plays.
    answerFileDialog(QString());
    e.click("btnAbrirRegistro");
    QVERIFY(!e.form->datalog().isOpen());
    QVERIFY(!QApplication::activeModalWidget());
    answerFileDialog(path);
    e.click("btnAbrirRegistro");
    QVERIFY(e.form->datalog().isOpen());
    QCOMPARE(e.text("lbEstadoRegistro"), QString("Reproduzindo volta.msl"));
    QCOMPARE(e.screen().barMax("tbPosicao"), int(recorded.rows.size()) - 1);
    QVERIFY(!QApplication::activeModalWidget());
    e.click("btnFecharRegistro");
    QVERIFY(!e.form->datalog().isOpen());

    // A row that is no row: the log opens without it, and the real box names the line.
    const QString damaged = dir.filePath("danificado.msl");
    QVERIFY(QFile::copy(path, damaged));
    {
        QFile f(damaged);
        QVERIFY(f.open(QIODevice::Append));
        f.write("12x\tlixo\n");
    }
    const logformat::Log read = logformat::read(damaged);
    QCOMPARE(read.badLines, 1);
    answerFileDialog(damaged);
    answerBox("OK", &text, &buttons);
    buttons.clear();
    text.clear();
    e.click("btnAbrirRegistro");
    QTRY_VERIFY(!text.isEmpty());
    QCOMPARE(text, QString("O registro %1 foi aberto sem 1 linha(s): a primeira é a linha %2 (%3).")
                       .arg(damaged)
                       .arg(read.firstBadLine)
                       .arg(read.firstBadReason));
    QCOMPARE(buttons, QStringList("OK"));
    QVERIFY(e.form->datalog().isOpen());
    QCOMPARE(e.text("lbEstadoRegistro"), QString("Reproduzindo danificado.msl"));
    QCOMPARE(e.screen().barMax("tbPosicao"), int(recorded.rows.size()) - 1);
}

QTEST_MAIN(TestE2EDatalog)
#include "tst_e2e_datalog.moc"
