// The datalog: rows as the read-outs show them, the file's exact lines, markers and the
// tune beside the log, the reader's handling of bad lines, playback through the
// scanner's display, a killed recorder and a full disk.
#include "common/names.h"
#include "datalog/datalog.h"
#include "datalog/logformat.h"
#include "datalog/recorder.h"
#include "files/mapfile.h"
#include "link/scanner.h"
#include "link/tests/linktest.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace linktest;
Q_DECLARE_METATYPE(linktest::Payload)

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeText(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

const QByteArray names = "Time\tRPM\tAvanco\tTi\tAbertura\tTPS\tTPSV\tTemperatura\tColunaMAP\tColunaTPS\tCarga\t"
                         "LinhaRPM\tCelula\tAtuadorML\tSonda\tPressaoAtm\tCorrCurto\tCorrLongo\tCorrTemp\tCorrAtm\t"
                         "CorrAvanco\tBomba\tEletro\tAr\n";
const QByteArray units = "s\trpm\tdeg\tms\t%\tadc\tV\tC\traw\traw\tpos\tpos\tcell\t%\tmV\tmbar\t%\t%\t%\t%\tdeg\t"
                         "on/off\ton/off\ton/off\n";

// A scanner with the screen, a datalog on it and a clock the test moves.
struct Bench {
    Rig rig;
    Scanner scanner{rig.ctx};
    MapFile mapFile{rig.ctx};
    FakeTimer timerRegistro;
    std::int64_t now = 5'000'000'000;
    Datalog datalog{rig.ctx, scanner, mapFile, timerRegistro, [this] { return now; }};
    void scannerOn()
    {
        rig.screen.setEnabled("Button3", true);
        scanner.Button3Click();
    }
    void frames(const Payload &a, const Payload &b, const Payload &c)
    {
        scanner.liveDataA(a);
        scanner.liveDataB(b);
        scanner.liveDataC(c);
    }
};

// Everything the scanner shows, to compare two screens.
QStringList shown(FakeScreen &s)
{
    QStringList out;
    for (const char *r : {"eRpm", "eAvanco", "eTi", "eValorTps", "ePresAtm", "eCorPresAtm", "eAtuadorML",
                          "eTemperatura", "eCorTemperatura", "eCorAvanco", "eValorSonda", "eCorSondaCurto",
                          "eCorSondaLongo", "eColunaTps", "eValorMap", "eLinhaMapa", "eScannerBomba",
                          "eScannerEletro", "eScannerAr"}) {
        const Rgb f = s.fontColor(r);
        out << QString("%1=%2 (%3,%4,%5)").arg(r, s.text(r)).arg(f.r).arg(f.g).arg(f.b);
    }
    for (const char *g : {"BarraTps", "Gauge1", "Gauge2", "Gauge3", "Gauge4", "Gauge5", "Gauge6", "Gauge7", "Gauge8"})
        out << QString("%1=%2").arg(g).arg(s.barPosition(g));
    for (int k = 0; k < 72; ++k)
        if (s.color(names::ignitionCell(k)) == colors::red || s.color(names::injectionCell(k)) == colors::red)
            out << QString("red %1 %2 %3").arg(k).arg(s.color(names::ignitionCell(k)) == colors::red)
                       .arg(s.color(names::injectionCell(k)) == colors::red);
    return out;
}

class TestDatalog : public QObject {
    Q_OBJECT
private slots:
    void rowsAsShown_data();
    void rowsAsShown();
    void fileLinesMarkersAndTune();
    void scannerOffEndsRecording();
    void reader_data();
    void reader();
    void playbackShowsAsTheScanner();
    void rowPerSample_data();
    void rowPerSample();
    void channelsByName_data();
    void channelsByName();
    void groupReadouts();
    void tuneOfTheModule_data();
    void tuneOfTheModule();
    void unknownSetIsReadBackFirst_data();
    void unknownSetIsReadBackFirst();
    void killedRecorder();
    void diskFull();
};

void TestDatalog::rowsAsShown_data()
{
    QTest::addColumn<Payload>("a");
    QTest::addColumn<Payload>("b");
    QTest::addColumn<Payload>("c");
    QTest::addColumn<QByteArray>("row");
    // Temperature 94, MAP 12, idle 40, probe 450 mV, TPS 512 (2.50 V), TPS column 7, load 3;
    // advance 20, speed 14 (row 2, marks 16), Ti 4000/4 = 1000 tenths? no: (p2+256p3)/4 tenths.
    QTest::newRow("steady") << payload({94, 12, 40, 45, 0, 2, 7, 3}) << payload({20, 14, 0xA0, 0, 9, 0xE8, 3, 1})
                            << payload({5, 0xFE, 3, 0xFD, 2, 1, 0, 0})
                            << QByteArray("1.000\t1200\t20\t4.0\t8.00\t512\t2.50\t94\t12\t7\t3\t14\t16\t40\t450\t1000\t5\t"
                                          "-2\t3\t-3\t2\t1\t1\t0\n");
    // Period 0: RPM, Ti and the pump are not shown, the row holds 0 for them; off the map.
    QTest::newRow("no period, off map") << payload({95, 0, 0, 0, 0xFF, 3, 0, 48}) << payload({0, 60, 40, 0, 0, 0, 0, 1})
                                        << payload({0, 0, 0, 0, 0, 0, 1, 0})
                                        << QByteArray("1.000\t0\t0\t0.0\t0.00\t1023\t5.00\t95\t0\t0\t48\t60\t-1\t0\t0\t"
                                                      "820\t0\t0\t0\t0\t0\t0\t0\t1\n");
    // Opening 89.95 % (read-out "90", lime); speed row -1 marks cell 0 (division truncates).
    QTest::newRow("opening, negative row") << payload({20, 0, 0, 0, 0, 0, 0, 0})
                                           << payload({0, 0xFF, 0xB0, 0x04, 0, 0x9B, 0x02, 0})
                                           << payload({0x80, 0x7F, 0, 0, 0, 0, 0, 0})
                                           << QByteArray("1.000\t1799\t0\t30.0\t89.95\t0\t0.00\t20\t0\t0\t0\t-1\t0\t0\t"
                                                         "0\t820\t-128\t127\t0\t0\t0\t0\t0\t0\n");
}

void TestDatalog::rowsAsShown()
{
    QFETCH(Payload, a);
    QFETCH(Payload, b);
    QFETCH(Payload, c);
    QFETCH(QByteArray, row);
    QTemporaryDir dir;
    Bench t;
    t.scannerOn();
    t.datalog.recordTo(dir.filePath("run.msl"));
    t.now += 1'000'400'000; // 1.0004 s: three decimals, cut
    t.frames(a, b, c);
    t.datalog.TimerRegistroTimer();
    const QList<QByteArray> lines = readAll(dir.filePath("run.msl")).split('\n');
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines[5] + '\n', row);
    // The row holds what the read-outs show.
    const QList<QByteArray> f = row.split('\t');
    if (f[1] != "0") {
        QCOMPARE(t.rig.screen.text("eRpm").toUtf8(), f[1]);
        QCOMPARE(t.rig.screen.text("eTi").section("  ", 0, 0).replace(',', '.').toUtf8(), f[3]);
    }
    QCOMPARE(t.rig.screen.text("eValorTps").trimmed().replace(',', '.').toUtf8(), f[6]);
    QCOMPARE(t.rig.screen.text("eLinhaMapa").toUtf8(), f[11]);
}

void TestDatalog::fileLinesMarkersAndTune()
{
    QTemporaryDir dir;
    Bench t;
    t.rig.screen.setText("e5", "17");
    t.scannerOn();
    QVERIFY(t.rig.screen.isEnabled("btnGravar"));
    QVERIFY(!t.rig.screen.isEnabled("btnAbrirRegistro"));
    const QString path = dir.filePath("velto-20240102-030405.msl");
    t.rig.prompt.fileAnswers.push_back(path);
    t.datalog.btnGravarClick();
    QCOMPARE(t.rig.prompt.dialogs.size(), 1);
    QVERIFY(QRegularExpression("^velto-\\d{8}-\\d{6}\\.msl$").match(t.rig.prompt.dialogs[0].suggestedName).hasMatch());
    QCOMPARE(t.rig.prompt.dialogs[0].defaultSuffix, QString("msl"));
    QVERIFY(t.datalog.isRecording());
    QCOMPARE(t.rig.screen.enabledOf({"btnGravar", "btnParar", "btnMarcar"}), QStringList({"btnParar", "btnMarcar"}));
    QCOMPARE(t.timerRegistro.interval(), Datalog::syncMs);
    QVERIFY(t.timerRegistro.isEnabled());

    // The tune beside the log: the bytes a save writes.
    QCOMPARE(readAll(dir.filePath("velto-20240102-030405-mapa.txt")), t.mapFile.screenBytes());

    // Kinds 30 and 31 alone write no row; a marker before the first row comes first;
    // then one row per sample, on its kind 31.
    t.now += 100'000'000;
    t.scanner.liveDataB(payload({10, 0, 40, 0, 0, 0xE8, 3, 1}));
    t.scanner.liveDataC(payload({}));
    t.datalog.btnMarcarClick();
    t.now += 150'000'000;
    t.scanner.liveDataA(payload({80, 0, 0, 0, 0, 0, 0, 0}));
    t.scanner.liveDataB(payload({10, 0, 40, 0, 0, 0xE8, 3, 1}));
    t.scanner.liveDataC(payload({}));
    t.now += 2'000'000'000'000; // 2000 s later: the time does not wrap
    t.scanner.liveDataA(payload({80, 0, 0, 0, 0, 0, 0, 0}));
    t.scanner.liveDataB(payload({11, 0, 40, 0, 0, 0xE8, 3, 1}));
    t.scanner.liveDataC(payload({}));
    t.datalog.btnMarcarClick();
    t.datalog.btnPararClick();
    QVERIFY(!t.datalog.isRecording());
    QVERIFY(!t.timerRegistro.isEnabled());
    QCOMPARE(t.rig.screen.enabledOf({"btnGravar", "btnParar", "btnMarcar"}), QStringList({"btnGravar"}));

    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), 10);
    QCOMPARE(lines[0], QByteArray("\"Velto " VELTO_TEST_VERSION "\""));
    QVERIFY2(QRegularExpression("^\"Capture Date: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\"$")
                 .match(QString::fromUtf8(lines[1])).hasMatch(), lines[1]);
    QCOMPARE(lines[2], QByteArray("\"Rows: one per sample\""));
    QCOMPARE(lines[3] + '\n', names);
    QCOMPARE(lines[4] + '\n', units);
    QCOMPARE(lines[5], QByteArray("MARK 001 - Marca 1 - 0.100"));
    QVERIFY(lines[6].startsWith("0.250\t1200\t10\t1.0\t"));
    QVERIFY(lines[7].startsWith("2000.250\t1200\t11\t1.0\t"));
    QCOMPARE(lines[8], QByteArray("MARK 002 - Marca 2 - 2000.250"));
    QCOMPARE(lines[9], QByteArray());
}

void TestDatalog::scannerOffEndsRecording()
{
    QTemporaryDir dir;
    Bench t;
    t.scannerOn();
    t.datalog.recordTo(dir.filePath("w.msl"));
    t.frames(payload({}), payload({0, 0, 0, 0, 0, 1, 0, 0}), payload({}));
    // The watchdog finds the line silent: the scanner goes off, the recording ends.
    t.rig.state.linkActivity = false;
    t.scanner.Timer1Timer();
    QVERIFY(!t.datalog.isRecording());
    QCOMPARE(t.rig.prompt.messages, QStringList{"Módulo não responde"});
    QCOMPARE(logformat::read(dir.filePath("w.msl")).rows.size(), std::size_t(1));
    QVERIFY(t.rig.screen.isEnabled("btnAbrirRegistro"));
    QVERIFY(!t.rig.screen.isEnabled("btnGravar"));
}

void TestDatalog::reader_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("badLine");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("refusal"); // empty: the log opens
    QTest::addColumn<int>("badLines");
    const QByteArray head = "\"Velto 2.2\"\n\"Capture Date: 2024-01-02T03:04:05\"\n" + names + units;
    const QByteArray good = "0.010\t900\t10\t2.5\t3.75\t100\t0.49\t80\t5\t6\t7\t8\t9\t10\t100\t1000\t1\t2\t3\t4\t5\t1\t0\t1\n";
    const QByteArray later = "1.010\t900\t10\t2.5\t3.75\t100\t0.49\t80\t5\t6\t7\t8\t9\t10\t100\t1000\t1\t2\t3\t4\t5\t1\t0\t1\n";
    QTest::newRow("good") << head + good + "MARK 001 - a - b - 0.500\n" + later << 2 << 0 << QString() << QString() << 0;
    QTest::newRow("bad number") << head + good + QByteArray(good).replace("900", "9x0") + later << 2 << 6
                                << "número inválido em RPM" << QString() << 1;
    QTest::newRow("decimal comma") << head + good + QByteArray(good).replace("2.5", "2,5") + later << 2 << 6
                                   << "vírgula decimal em Ti" << QString() << 1;
    QTest::newRow("negative time") << head + good + QByteArray(good).replace("0.010", "-0.010") + later << 2 << 6
                                   << "tempo negativo" << QString() << 1;
    QTest::newRow("short row") << head + good + "1.0\t2\n" + later << 2 << 6 << "2 campos em vez de 24" << QString()
                               << 1;
    QTest::newRow("truncated last line") << head + good + later.left(20) << 1 << 6 << "linha incompleta" << QString()
                                         << 1;
    // A time that goes back begins a new stretch (a logger that restarted).
    QTest::newRow("time backwards") << head + later + "MARK 001 - a - b - 0.500\n" + good << 2 << 0 << QString()
                                    << QString() << 0;
    // Restarted stretches that would carry the time past 2147483.647 s: that row is
    // not taken (it could not be written again as it reads).
    const QByteArray at = QByteArray(good).replace("0.010", "999998.000"),
                     next = QByteArray(good).replace("0.010", "999999.000"),
                     zero = QByteArray(good).replace("0.010", "0.000");
    QTest::newRow("stretches past the time's range")
        << head + at + next + zero + next + zero + later << 4 << 9 << "número inválido em Time" << QString() << 2;
    QTest::newRow("bad marker") << head + good + "MARK 001 - a\n" + later << 2 << 6 << "marcador ilegível" << QString()
                                << 1;
    // Only the first bad line's reason is told, with the count of all of them.
    QTest::newRow("three bad lines") << head + good + "1.0\t2\n" + QByteArray(good).replace("900", "9x0") + "MARK x\n" +
                                            later
                                     << 2 << 6 << "2 campos em vez de 24" << QString() << 3;
    QTest::newRow("no rows") << head << 0 << 0 << QString()
                             << "O registro %1 não tem nenhuma linha de dados que possa ser lida. Nada foi aberto." << 0;
    QTest::newRow("no channel line") << QByteArray("hello\n") << 0 << 0 << QString()
                                     << "O registro %1 não tem a linha dos canais (Time ...). Nada foi aberto." << 0;
    QTest::newRow("semicolons") << QByteArray("\"Velto 2.2\"\nRPM; \"Time\" ;Ti\n") << 0 << 0 << QString()
                                << "O registro %1 separa os campos com \";\" na linha 2 (Velto lê campos separados por "
                                   "tabulação). Nada foi aberto."
                                << 0;
    QTest::newRow("names among quotes and blanks")
        << QByteArray("\"Velto 2.2\"\n") + QByteArray(names).replace("RPM", " \"RPM\" ") + units + good +
               "MARK 001 - a - b - 0.500\n" + later
        << 2 << 0
        << QString() << QString() << 0;
}

void TestDatalog::reader()
{
    QFETCH(QByteArray, body);
    QFETCH(int, rows);
    QFETCH(int, badLine);
    QFETCH(QString, reason);
    QFETCH(QString, refusal);
    QFETCH(int, badLines);
    QTemporaryDir dir;
    const QString path = dir.filePath("x.msl");
    writeText(path, body);

    // Through the group: a refused file leaves the screen as it was.
    Bench t;
    const QStringList before = shown(t.rig.screen);
    t.rig.prompt.fileAnswers.push_back(path);
    t.rig.guarded([&] { t.datalog.btnAbrirRegistroClick(); });
    if (!refusal.isEmpty()) {
        QCOMPARE(t.rig.prompt.messages, QStringList{refusal.arg(path)});
        QVERIFY(!t.datalog.isOpen());
        QCOMPARE(shown(t.rig.screen), before);
        QVERIFY(!t.rig.screen.isVisible("Gauge1"));
        return;
    }
    QVERIFY(t.datalog.isOpen());
    QCOMPARE(int(t.datalog.log()->rows.size()), rows);
    if (badLine == 0) {
        QVERIFY(t.rig.prompt.messages.isEmpty());
        QCOMPARE(t.datalog.log()->markers.size(), std::size_t(1));
        QCOMPARE(t.datalog.log()->markers[0].text, QString("a - b"));
        QCOMPARE(t.datalog.log()->markers[0].row, std::size_t(1));
        QCOMPARE(t.rig.screen.items("lbMarcas"), QStringList{"001 - a - b - 0,500 s"});
    } else {
        QCOMPARE(t.rig.prompt.messages,
                 QStringList{QString("O registro %1 foi aberto sem %2 linha(s): a primeira é a linha %3 (%4).")
                                 .arg(path).arg(badLines).arg(badLine).arg(reason)});
    }
    QCOMPARE(t.rig.screen.text("eRpm"), QString("900"));
    QCOMPARE(t.rig.screen.text("eTi"), QString("2,5  4"));
}

void TestDatalog::playbackShowsAsTheScanner()
{
    // Record a varied run, keeping what the live screen showed after each frame; beside
    // it, the same run as logs were written before: two header lines and a row per frame.
    QTemporaryDir dir;
    const QString path = dir.filePath("p.msl");
    const QString legacyPath = dir.filePath("legacy.msl");
    Bench live;
    live.scannerOn();
    live.datalog.recordTo(path);
    QList<QStringList> seen;
    QByteArray legacy = logformat::header("2.2", "2024-01-02T03:04:05");
    legacy.remove(legacy.indexOf(logformat::perSampleLine()), logformat::perSampleLine().size());
    auto frameDone = [&] {
        seen << shown(live.rig.screen);
        if (seen.size() >= 3) // rows once the first kind 31 has come
            legacy += logformat::row((live.now - 5'000'000'000) / 1'000'000, live.scanner.values());
    };
    for (int i = 0; i < 60; ++i) {
        live.now += 20'000'000;
        const int speed = (i * 7) % 50, load = (i * 5) % 44;
        live.scanner.liveDataA(payload({60 + i, i, 2 * i, i % 90, (i * 37) & 0xFF, (i * 37) >> 8 & 3, i % 40, load}));
        frameDone();
        live.scanner.liveDataB(payload({i, speed, 4 * i, 0, i % 10, i % 3 == 0 ? 0 : 0x10, 3, i % 2}));
        frameDone();
        live.scanner.liveDataC(payload({i, 256 - i, i % 7, 3, 250, i % 2, i % 3, 0}));
        frameDone();
        if (i == 30)
            live.datalog.btnMarcarClick();
    }
    live.scanner.Button3Click(); // off: the recording ends
    QVERIFY(!live.datalog.isRecording());
    writeText(legacyPath, legacy);

    // The log written before plays as it did: each row shows what the screen showed after
    // its frame (after a kind 29 the live marks wait for the next kind 30, and so do the
    // played ones).
    {
        Bench old;
        old.datalog.openLog(legacyPath);
        QVERIFY(old.rig.prompt.messages.isEmpty());
        QVERIFY(!old.datalog.log()->rowPerSample);
        QCOMPARE(old.datalog.log()->rows.size(), std::size_t(3 * 60 - 2));
        for (int r : {99, 0, 177, 5, 6, 150, 100, 7}) {
            old.rig.screen.setBarPosition("tbPosicao", r);
            old.datalog.tbPosicaoChange();
            QCOMPARE(shown(old.rig.screen), seen[r + 2]);
        }
    }

    // Play the new log on a fresh screen: one row per sample, each showing what the live
    // screen showed after the sample's kind 31.
    Bench play;
    play.datalog.openLog(path);
    QVERIFY(play.rig.prompt.messages.isEmpty());
    QVERIFY(play.datalog.log()->rowPerSample);
    const auto &rows = play.datalog.log()->rows;
    QCOMPARE(rows.size(), std::size_t(60));
    QCOMPARE(play.rig.screen.visibleOf({"Gauge1", "Gauge4", "GroupBox3", "TabSheet2"}),
             QStringList({"Gauge1", "Gauge4", "TabSheet2"}));
    QCOMPARE(play.rig.screen.enabledOf({"btnReproduzir", "tbPosicao", "btnFecharRegistro", "btnGravar"}),
             QStringList({"btnReproduzir", "tbPosicao", "btnFecharRegistro"}));
    for (int r : {39, 0, 59, 5, 6, 50, 33, 7}) {
        play.rig.screen.setBarPosition("tbPosicao", r);
        play.datalog.tbPosicaoChange();
        QCOMPARE(play.datalog.row(), std::size_t(r));
        QCOMPARE(shown(play.rig.screen), seen[3 * r + 2]);
    }
    for (int r = 0; r < int(rows.size()); ++r) {
        play.rig.screen.setBarPosition("tbPosicao", r);
        play.datalog.tbPosicaoChange();
        QVERIFY2(shown(play.rig.screen) == seen[3 * r + 2], qPrintable(QString("row %1").arg(r)));
        QCOMPARE(rows[std::size_t(r)].ms, std::int64_t(20 * (r + 1)));
    }
    // A click on the marker jumps to its row (set after sample 30: the next row).
    play.rig.screen.setItemIndex("lbMarcas", 0);
    play.datalog.lbMarcasClick();
    QCOMPARE(play.datalog.row(), std::size_t(31));
    QCOMPARE(shown(play.rig.screen), seen[3 * 31 + 2]);

    // Play at 8x: each 50 ms tick moves 400 ms, i.e. 20 samples of 20 ms.
    play.rig.screen.setBarPosition("tbPosicao", 0);
    play.datalog.tbPosicaoChange();
    play.rig.screen.setItemIndex("cbVelocidade", 3);
    play.datalog.cbVelocidadeChange();
    play.datalog.btnReproduzirClick();
    QCOMPARE(play.rig.screen.text("btnReproduzir"), QString("Pa&usar"));
    QVERIFY(play.timerRegistro.isEnabled());
    QCOMPARE(play.timerRegistro.interval(), Datalog::playMs);
    play.datalog.TimerRegistroTimer();
    QCOMPARE(play.rig.screen.text("ePosicaoRegistro"), QString("00:00,4 / 00:01,1"));
    QCOMPARE(play.datalog.row(), std::size_t(20));
    QCOMPARE(shown(play.rig.screen), seen[3 * 20 + 2]);
    for (int i = 0; i < 10; ++i)
        play.datalog.TimerRegistroTimer();
    QVERIFY(!play.datalog.isPlaying());
    QCOMPARE(play.datalog.row(), rows.size() - 1);
    QCOMPARE(play.rig.screen.text("btnReproduzir"), QString("Repr&oduzir"));
    QVERIFY(!play.timerRegistro.isEnabled());
    QVERIFY(play.rig.port.writes.isEmpty()); // the line is untouched

    // Closing leaves the screen as the scanner leaves it when switched off.
    const QStringList last = shown(play.rig.screen);
    play.datalog.btnFecharRegistroClick();
    QCOMPARE(play.rig.screen.visibleOf({"Gauge1", "Gauge2", "Gauge3", "Gauge4", "Gauge5", "Gauge6", "Gauge7", "Gauge8",
                                        "GroupBox3"}),
             QStringList{"GroupBox3"});
    QCOMPARE(shown(play.rig.screen), last);
    QCOMPARE(play.rig.screen.enabledOf({"btnReproduzir", "tbPosicao", "btnFecharRegistro", "btnAbrirRegistro"}),
             QStringList{"btnAbrirRegistro"});
}

void TestDatalog::killedRecorder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("k.msl");
    QProcess child;
    child.start(qEnvironmentVariable("VELTO_BUILD") + "/datalog/recordchild", {path});
    QVERIFY(child.waitForStarted());
    long long synced = 0;
    while (synced < 300 && child.waitForReadyRead(5000))
        while (child.canReadLine())
            synced = child.readLine().trimmed().split(' ').last().toLongLong();
    QVERIFY(synced >= 300);
    child.kill(); // SIGKILL
    child.waitForFinished();
    const logformat::Log log = logformat::read(path);
    QCOMPARE(log.badLines, 0);
    // Everything synced is there (and at most what followed in the last half second).
    QVERIFY2(qint64(log.rows.size()) >= synced, qPrintable(QString("%1 < %2").arg(log.rows.size()).arg(synced)));
    QCOMPARE(readAll(Recorder::tunePath(path)), QByteArray("tune\r\n"));
}

void TestDatalog::diskFull()
{
    QTemporaryDir dir;
    const QString mount = dir.filePath("tiny");
    QVERIFY(QDir().mkpath(mount));
    const QByteArray m = QFile::encodeName(mount);
    if (::mount("tmpfs", m.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
        QSKIP(qPrintable(QString("no tmpfs can be mounted here (errno %1)").arg(errno)));
    struct Unmount {
        QByteArray m;
        ~Unmount() { ::umount2(m.constData(), MNT_DETACH); }
    } unmount{m};

    Bench t;
    t.scannerOn();
    const QString path = mount + "/full.msl";
    t.datalog.recordTo(path);
    qint64 syncedRows = 0;
    for (int tick = 0; tick < 200 && t.datalog.isRecording(); ++tick) {
        for (int i = 0; i < 50; ++i)
            t.frames(payload({}), payload({0, 0, 0, 0, 0, 1, 0, 0}), payload({}));
        t.rig.guarded([&] { t.datalog.TimerRegistroTimer(); });
        if (t.datalog.isRecording())
            syncedRows = t.datalog.recorder().rows();
    }
    QVERIFY(!t.datalog.isRecording());
    QCOMPARE(t.rig.prompt.messages,
             QStringList{QString("A gravação do registro %1 foi interrompida: disco cheio. As linhas gravadas até aqui "
                                 "podem ser lidas.").arg(path)});
    // The scanner goes on; the group can record again; the rows written stay readable.
    QVERIFY(t.rig.state.scannerActive);
    QVERIFY(t.rig.screen.isEnabled("btnGravar"));
    QVERIFY(!t.timerRegistro.isEnabled());
    const logformat::Log log = logformat::read(path);
    QCOMPARE(log.badLines, 0);
    QVERIFY(qint64(log.rows.size()) >= syncedRows);
}

void TestDatalog::rowPerSample_data()
{
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<QList<int>>("rowFrames"); // the frames (1-based) that write a row
    QTest::newRow("two samples") << QList<int>{29, 30, 31, 29, 30, 31} << QList<int>{3, 6};
    QTest::newRow("started mid-sample") << QList<int>{30, 31, 29, 30, 31} << QList<int>{5};
    QTest::newRow("29 late, then 31") << QList<int>{30, 31, 29, 31} << QList<int>{4};
    QTest::newRow("repeated kinds") << QList<int>{29, 29, 30, 30, 31} << QList<int>{5};
    QTest::newRow("a 31 again is a new sample") << QList<int>{29, 30, 31, 31} << QList<int>{3, 4};
    QTest::newRow("no 31 after 29 and 30") << QList<int>{31, 29, 30} << QList<int>{};
}

void TestDatalog::rowPerSample()
{
    QFETCH(QList<int>, kinds);
    QFETCH(QList<int>, rowFrames);
    QTemporaryDir dir;
    const QString path = dir.filePath("s.msl");
    Bench t;
    std::vector<logformat::Row> liveRows;
    t.datalog.onLiveRow = [&](const logformat::Row &r) { liveRows.push_back(r); };
    t.scannerOn();
    t.datalog.recordTo(path);
    QByteArray want;
    for (int i = 0; i < kinds.size(); ++i) {
        t.now += 10'000'000;
        const int v = i + 1;
        if (kinds[i] == 29)
            t.scanner.liveDataA(payload({60 + v, v, v, v, v, 0, v, v}));
        else if (kinds[i] == 30)
            t.scanner.liveDataB(payload({v, v, 4 * v, 0, v, 0x10, 3, 1}));
        else
            t.scanner.liveDataC(payload({v, v, v, v, v, 1, 0, 0}));
        if (rowFrames.contains(i + 1))
            want += logformat::row(10 * (i + 1), t.scanner.values());
    }
    t.datalog.btnPararClick();
    const QByteArray file = readAll(path);
    QCOMPARE(file.mid(file.indexOf(units) + units.size()), want);
    // The live rows are the same rows (the recording began as the scanner went on).
    QCOMPARE(int(liveRows.size()), int(rowFrames.size()));
    QByteArray live;
    for (const logformat::Row &r : liveRows)
        live += logformat::row(r.ms, r.values);
    QCOMPARE(live, want);
}

void TestDatalog::channelsByName_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QStringList>("readouts"); // eRpm, eTi, eValorSonda, eCorSondaLongo after opening
    QTest::addColumn<QString>("refusal");
    const QByteArray head = "\"Velto 2.2\"\n\"Capture Date: 2024-01-02T03:04:05\"\n";
    const QByteArray good = "0.010\t900\t10\t2.5\t3.75\t100\t0.49\t80\t5\t6\t7\t8\t9\t10\t100\t1000\t1\t2\t3\t4\t5\t1\t0\t1\n";
    // The file without one column: its name and its field in every row.
    auto without = [&](const QByteArray &channel) {
        const int i = int(logformat::channels().indexOf(QString::fromLatin1(channel)));
        auto drop = [i](const QByteArray &line) {
            QList<QByteArray> f = line.chopped(1).split('\t');
            f.removeAt(i);
            return f.join('\t') + '\n';
        };
        return head + drop(names) + drop(units) + drop(good);
    };
    QTest::newRow("without Sonda") << without("Sonda") << QStringList{"Sonda"}
                                   << QStringList{"900", "2,5  4", "", "2"} << QString();
    QTest::newRow("without CorrLongo") << without("CorrLongo") << QStringList{"CorrLongo"}
                                       << QStringList{"900", "2,5  4", "100", ""} << QString();
    QTest::newRow("without Abertura (follows from RPM and Ti)") << without("Abertura") << QStringList{}
                                                  << QStringList{"900", "2,5  4", "100", "2"} << QString();
    QStringList allButTime = logformat::channels().mid(1);
    QStringList onlyRpmSonda = allButTime;
    onlyRpmSonda.removeOne("RPM");
    onlyRpmSonda.removeOne("Sonda");
    QTest::newRow("other order, no units row, CR LF")
        << head + "\"RPM\"\tSonda\tTime\r\n900\t450\t0.010\r\n" << onlyRpmSonda
        << QStringList{"900", "", "450", ""} << QString();
    QStringList onlyRpm = allButTime;
    onlyRpm.removeOne("RPM");
    QTest::newRow("only Time and RPM") << head + "Time\tRPM\n0.010\t900\n" << onlyRpm
                                       << QStringList{"900", "", "", ""} << QString();
    QTest::newRow("without Time") << without("Time") << QStringList() << QStringList()
                                  << "O registro %1 não pode ser reproduzido: falta o canal Time. Nada foi aberto.";
    QTest::newRow("only Time") << head + "Time\tHora\n0.010\t3\n" << QStringList() << QStringList()
                               << "O registro %1 não pode ser reproduzido: faltam os canais " + allButTime.join(", ") +
                                      ". Nada foi aberto.";
    QTest::newRow("decimal comma") << head + names + units + QByteArray(good).replace("2.5", "2,5") << QStringList()
                                   << QStringList()
                                   << "O registro %1 não tem nenhuma linha de dados que possa ser lida: a primeira, a "
                                      "linha 5, não pôde ser lida (vírgula decimal em Ti). Nada foi aberto.";
    QTest::newRow("semicolons") << head + QByteArray(names).replace('\t', ';') + good << QStringList() << QStringList()
                                << "O registro %1 separa os campos com \";\" na linha 3 (Velto lê campos separados por "
                                   "tabulação). Nada foi aberto.";
}

void TestDatalog::channelsByName()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, absent);
    QFETCH(QStringList, readouts);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    const QString path = dir.filePath("c.msl");
    writeText(path, body);
    Bench t;
    // Live values on screen first: an absent channel must not show what they left.
    t.scannerOn();
    t.frames(payload({94, 12, 40, 45, 0, 2, 7, 3}), payload({20, 14, 0xA0, 0, 9, 0xE8, 3, 1}),
             payload({5, 0x10, 3, 0xFD, 2, 1, 1, 0}));
    t.scanner.Button3Click();
    t.rig.guarded([&] { t.datalog.openLog(path); });
    if (!refusal.isEmpty()) {
        QCOMPARE(t.rig.prompt.messages, QStringList{refusal.arg(path)});
        QVERIFY(!t.datalog.isOpen());
        return;
    }
    QCOMPARE(t.rig.prompt.messages, QStringList());
    QCOMPARE(t.datalog.log()->absent, absent);
    QCOMPARE(t.datalog.log()->rows.size(), std::size_t(1));
    QCOMPARE((QStringList{t.rig.screen.text("eRpm"), t.rig.screen.text("eTi"), t.rig.screen.text("eValorSonda"),
                          t.rig.screen.text("eCorSondaLongo")}),
             readouts);
    if (absent.contains("Ar"))
        QCOMPARE(t.rig.screen.fontColor("eScannerAr"), colors::silver);
}

void TestDatalog::groupReadouts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("r.msl");
    Bench t;
    t.datalog.moduleTune = [&] { return std::optional<Tune>(t.mapFile.screenTune()); };
    t.scannerOn();
    QCOMPARE(t.rig.screen.text("lbEstadoRegistro"), QString());
    t.rig.prompt.fileAnswers.push_back(path);
    t.datalog.btnGravarClick();
    QCOMPARE(t.rig.screen.text("lbEstadoRegistro"), QString("● Gravando 00:00 — r.msl"));
    QCOMPARE(t.rig.screen.text("lbUltimaMarca"), QString());
    t.now += 65'400'000'000;
    t.frames(payload({}), payload({0, 0, 0, 0, 0, 1, 0, 0}), payload({}));
    t.datalog.TimerRegistroTimer();
    QCOMPARE(t.rig.screen.text("lbEstadoRegistro"), QString("● Gravando 01:05 — r.msl"));
    t.datalog.btnMarcarClick();
    QCOMPARE(t.rig.screen.text("lbUltimaMarca"), QString("Marca 1"));
    t.now += 1'234'000'000;
    t.datalog.btnMarcarClick();
    QCOMPARE(t.rig.screen.text("lbUltimaMarca"), QString("Marca 2"));
    t.now += 6000'000'000'000; // 100 minutes: the minutes go on
    t.datalog.TimerRegistroTimer();
    QCOMPARE(t.rig.screen.text("lbEstadoRegistro"), QString("● Gravando 101:06 — r.msl"));
    t.datalog.btnPararClick();
    QCOMPARE(t.rig.screen.text("lbEstadoRegistro"), QString());
    QCOMPARE(t.rig.screen.text("lbUltimaMarca"), QString());
    t.scanner.Button3Click();

    t.datalog.openLog(path);
    QCOMPARE(t.rig.screen.text("lbEstadoRegistro"), QString("Reproduzindo r.msl"));
    QCOMPARE(t.rig.screen.items("lbMarcas"), QStringList({"001 - Marca 1 - 65,400 s", "002 - Marca 2 - 66,634 s"}));
    t.datalog.btnReproduzirClick();
    QCOMPARE(t.rig.screen.text("lbEstadoRegistro"), QString("Reproduzindo r.msl"));
    t.datalog.btnFecharRegistroClick();
    QCOMPARE(t.rig.screen.text("lbEstadoRegistro"), QString());
}

void TestDatalog::tuneOfTheModule_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<QByteArray>("tuneBefore"); // empty: no tune file beside the log
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("records");
    QTest::newRow("module unknown") << false << QByteArray() << -1 << true;
    QTest::newRow("module unknown, a tune beside") << false << QByteArray("old\r\n") << -1 << true;
    QTest::newRow("module known") << true << QByteArray() << -1 << true;
    QTest::newRow("tune exists, replace") << true << QByteArray("old\r\n") << 0 << true;
    QTest::newRow("tune exists, cancel") << true << QByteArray("old\r\n") << 1 << false;
    QTest::newRow("tune exists, box closed") << true << QByteArray("old\r\n") << -1 << false;
}

void TestDatalog::tuneOfTheModule()
{
    QFETCH(bool, known);
    QFETCH(QByteArray, tuneBefore);
    QFETCH(int, answer);
    QFETCH(bool, records);
    QTemporaryDir dir;
    const QString path = dir.filePath("m.msl");
    const QString tunePath = dir.filePath("m-mapa.txt");
    if (!tuneBefore.isEmpty())
        writeText(tunePath, tuneBefore);
    Bench t;
    // The module holds another set than the screen shows.
    Tune module = t.mapFile.screenTune();
    module.texts[5] = "23";
    t.rig.screen.setText("e5", "17");
    t.datalog.moduleTune = [&] { return known ? std::optional<Tune>(module) : std::nullopt; };
    t.scannerOn();
    t.rig.prompt.fileAnswers.push_back(path);
    if (answer >= 0)
        t.rig.prompt.questionAnswers.push_back(answer);
    t.rig.guarded([&] { t.datalog.btnGravarClick(); });

    QCOMPARE(t.datalog.isRecording(), records);
    QCOMPARE(QFile::exists(path), records);
    if (!known) {
        // Recorded all the same, without a tune of its own: the header says so, and a
        // tune that was beside the name stays as it was (no question about it).
        QCOMPARE(t.rig.prompt.messages, QStringList());
        QCOMPARE(t.rig.prompt.questions, QStringList());
        t.frames(payload({}), payload({0, 0, 0, 0, 0, 1, 0, 0}), payload({}));
        t.datalog.TimerRegistroTimer();
        t.datalog.btnPararClick();
        const QList<QByteArray> head = readAll(path).split('\n').mid(0, 5);
        QCOMPARE(head.at(3), QByteArray("\"Mapa do módulo: desconhecido (o módulo não pôde ser lido; nenhum mapa foi "
                                        "gravado ao lado)\""));
        QCOMPARE(head.at(4), logformat::channels().join('\t').toUtf8());
        QVERIFY(logformat::read(path).moduleSetUnknown);
        QCOMPARE(readAll(tunePath), tuneBefore);
        QCOMPARE(QFile::exists(tunePath), !tuneBefore.isEmpty());
        return;
    }
    if (records)
        QVERIFY(!readAll(path).contains(logformat::moduleSetUnknownLine()));
    QCOMPARE(t.rig.prompt.messages, QStringList());
    if (!tuneBefore.isEmpty()) {
        QCOMPARE(t.rig.prompt.questions,
                 QStringList{QString("O mapa %1 já existe ao lado do registro. Deseja substituí-lo pelo mapa do módulo?")
                                 .arg(tunePath)});
        QCOMPARE(t.rig.prompt.questionButtons, QList<QStringList>{QStringList({"Substituir", "Cancelar"})});
    } else {
        QCOMPARE(t.rig.prompt.questions, QStringList());
    }
    QCOMPARE(readAll(tunePath), records ? MapFile::bytesOf(module) : tuneBefore);
    QVERIFY(MapFile::bytesOf(module) != t.mapFile.screenBytes());
}

// "Gravar" while the module's set is unknown: the read-back runs first, the recording
// starts when it ends: with the set read beside the log, or, when it could not be read,
// without a tune and the header saying so; nothing when the scanner did not come back.
void TestDatalog::unknownSetIsReadBackFirst_data()
{
    QTest::addColumn<bool>("read");         // the module sent its set
    QTest::addColumn<bool>("scannerBack");  // the scanner runs when the read ends
    QTest::addColumn<QByteArray>("tuneBefore");
    QTest::addColumn<int>("answer");        // to "O mapa … já existe" (-1: not asked)
    QTest::newRow("read") << true << true << QByteArray() << -1;
    QTest::newRow("read, a tune beside replaced") << true << true << QByteArray("old\r\n") << 0;
    QTest::newRow("a tune beside kept: nothing read") << true << true << QByteArray("old\r\n") << 1;
    QTest::newRow("not read") << false << true << QByteArray() << -1;
    QTest::newRow("scanner not back") << true << false << QByteArray() << -1;
}

void TestDatalog::unknownSetIsReadBackFirst()
{
    QFETCH(bool, read);
    QFETCH(bool, scannerBack);
    QFETCH(QByteArray, tuneBefore);
    QFETCH(int, answer);
    QTemporaryDir dir;
    const QString path = dir.filePath("m.msl");
    const QString tunePath = dir.filePath("m-mapa.txt");
    if (!tuneBefore.isEmpty())
        writeText(tunePath, tuneBefore);
    Bench t;
    Tune module = t.mapFile.screenTune();
    module.texts[5] = "23";
    std::optional<Tune> held;
    t.datalog.moduleTune = [&] { return held; };
    std::function<void(const std::optional<Tune> &)> pending;
    int reads = 0;
    t.datalog.readModuleTune = [&](std::function<void(const std::optional<Tune> &)> done) {
        ++reads;
        t.scanner.Button3Click(); // paused for the read
        pending = std::move(done);
    };
    t.scannerOn();
    t.rig.prompt.fileAnswers.push_back(path);
    if (answer >= 0)
        t.rig.prompt.questionAnswers.push_back(answer);
    t.rig.guarded([&] { t.datalog.btnGravarClick(); });
    if (answer == 1) {
        QCOMPARE(reads, 0);
        QVERIFY(!t.datalog.isReadingModule() && !t.datalog.isRecording());
        QCOMPARE(readAll(tunePath), tuneBefore);
        return;
    }
    QCOMPARE(reads, 1);
    QVERIFY(t.datalog.isReadingModule());
    QVERIFY(!t.datalog.isRecording());
    QVERIFY(!QFile::exists(path));
    t.rig.guarded([&] { t.datalog.btnGravarClick(); }); // a second press meanwhile does nothing
    QCOMPARE(reads, 1);

    if (read)
        held = module;
    if (scannerBack)
        t.scanner.Button3Click();
    t.rig.guarded([&] { pending(held); });
    QVERIFY(!t.datalog.isReadingModule());
    QCOMPARE(t.rig.prompt.messages, QStringList());
    QCOMPARE(t.datalog.isRecording(), scannerBack);
    QCOMPARE(QFile::exists(path), scannerBack);
    if (!scannerBack) {
        QCOMPARE(readAll(tunePath), tuneBefore);
        return;
    }
    t.frames(payload({}), payload({0, 0, 0, 0, 0, 1, 0, 0}), payload({}));
    t.datalog.TimerRegistroTimer();
    t.datalog.btnPararClick();
    QCOMPARE(logformat::read(path).moduleSetUnknown, !read);
    QCOMPARE(readAll(tunePath), read ? MapFile::bytesOf(module) : tuneBefore);
}

} // namespace

QTEST_GUILESS_MAIN(TestDatalog)
#include "tst_datalog.moc"
