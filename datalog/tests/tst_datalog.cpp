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
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[4] + '\n', row);
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

    // Kinds 30 and 31 alone write no row; a marker before the first row comes first.
    t.now += 100'000'000;
    t.scanner.liveDataB(payload({10, 0, 40, 0, 0, 0xE8, 3, 1}));
    t.scanner.liveDataC(payload({}));
    t.datalog.btnMarcarClick();
    t.now += 150'000'000;
    t.scanner.liveDataA(payload({80, 0, 0, 0, 0, 0, 0, 0}));
    t.now += 2'000'000'000'000; // 2000 s later: the time does not wrap
    t.scanner.liveDataB(payload({11, 0, 40, 0, 0, 0xE8, 3, 1}));
    t.datalog.btnMarcarClick();
    t.datalog.btnPararClick();
    QVERIFY(!t.datalog.isRecording());
    QVERIFY(!t.timerRegistro.isEnabled());
    QCOMPARE(t.rig.screen.enabledOf({"btnGravar", "btnParar", "btnMarcar"}), QStringList({"btnGravar"}));

    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), 9);
    QCOMPARE(lines[0], QByteArray("\"Velto " VELTO_TEST_VERSION "\""));
    QVERIFY2(QRegularExpression("^\"Capture Date: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\"$")
                 .match(QString::fromUtf8(lines[1])).hasMatch(), lines[1]);
    QCOMPARE(lines[2] + '\n', names);
    QCOMPARE(lines[3] + '\n', units);
    QCOMPARE(lines[4], QByteArray("MARK 001 - Marca 1 - 0.100"));
    QVERIFY(lines[5].startsWith("0.250\t1200\t10\t1.0\t"));
    QVERIFY(lines[6].startsWith("2000.250\t1200\t11\t1.0\t"));
    QCOMPARE(lines[7], QByteArray("MARK 002 - Marca 2 - 2000.250"));
    QCOMPARE(lines[8], QByteArray());
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
    const QByteArray head = "\"Velto 2.2\"\n\"Capture Date: 2024-01-02T03:04:05\"\n" + names + units;
    const QByteArray good = "0.010\t900\t10\t2.5\t3.75\t100\t0.49\t80\t5\t6\t7\t8\t9\t10\t100\t1000\t1\t2\t3\t4\t5\t1\t0\t1\n";
    const QByteArray later = "1.010\t900\t10\t2.5\t3.75\t100\t0.49\t80\t5\t6\t7\t8\t9\t10\t100\t1000\t1\t2\t3\t4\t5\t1\t0\t1\n";
    QTest::newRow("good") << head + good + "MARK 001 - a - b - 0.500\n" + later << 2 << 0 << QString() << QString();
    QTest::newRow("bad number") << head + good + QByteArray(good).replace("900", "9x0") + later << 2 << 6
                                << "número inválido em RPM" << QString();
    QTest::newRow("short row") << head + good + "1.0\t2\n" + later << 2 << 6 << "2 campos em vez de 24" << QString();
    QTest::newRow("truncated last line") << head + good + later.left(20) << 1 << 6 << "linha incompleta" << QString();
    QTest::newRow("time backwards") << head + later + good << 1 << 6 << "tempo fora de ordem" << QString();
    QTest::newRow("no rows") << head << 0 << 0 << QString()
                             << "O registro %1 não tem nenhuma linha de dados que possa ser lida. Nada foi aberto.";
    QTest::newRow("missing channel") << QByteArray(head).replace("\tSonda\t", "\tLambda\t") + good << 0 << 0 << QString()
                                     << "O registro %1 não tem o canal Sonda. Nada foi aberto.";
    QTest::newRow("no channel line") << QByteArray("hello\n") << 0 << 0 << QString()
                                     << "O registro %1 não tem a linha dos canais (Time ...). Nada foi aberto.";
}

void TestDatalog::reader()
{
    QFETCH(QByteArray, body);
    QFETCH(int, rows);
    QFETCH(int, badLine);
    QFETCH(QString, reason);
    QFETCH(QString, refusal);
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
        QCOMPARE(t.rig.screen.items("lbMarcas"), QStringList{"001 - a - b - 00:01,0"});
    } else {
        QCOMPARE(t.rig.prompt.messages,
                 QStringList{QString("O registro %1 foi aberto sem 1 linha(s): a primeira é a linha %2 (%3).")
                                 .arg(path).arg(badLine).arg(reason)});
    }
    QCOMPARE(t.rig.screen.text("eRpm"), QString("900"));
    QCOMPARE(t.rig.screen.text("eTi"), QString("2,5  4"));
}

void TestDatalog::playbackShowsAsTheScanner()
{
    // Record a varied run, keeping what the live screen showed after each row.
    QTemporaryDir dir;
    const QString path = dir.filePath("p.msl");
    Bench live;
    live.scannerOn();
    live.datalog.recordTo(path);
    QList<QStringList> seen;
    for (int i = 0; i < 60; ++i) {
        live.now += 20'000'000;
        const int speed = (i * 7) % 50, load = (i * 5) % 44;
        live.scanner.liveDataA(payload({60 + i, i, 2 * i, i % 90, (i * 37) & 0xFF, (i * 37) >> 8 & 3, i % 40, load}));
        seen << shown(live.rig.screen);
        live.scanner.liveDataB(payload({i, speed, 4 * i, 0, i % 10, i % 3 == 0 ? 0 : 0x10, 3, i % 2}));
        seen << shown(live.rig.screen);
        live.scanner.liveDataC(payload({i, 256 - i, i % 7, 3, 250, i % 2, i % 3, 0}));
        seen << shown(live.rig.screen);
        if (i == 30)
            live.datalog.btnMarcarClick();
    }
    live.scanner.Button3Click(); // off: the recording ends
    QVERIFY(!live.datalog.isRecording());

    // Play it on a fresh screen: each row shows what the live screen showed after it.
    Bench play;
    play.datalog.openLog(path);
    QVERIFY(play.rig.prompt.messages.isEmpty());
    const auto &rows = play.datalog.log()->rows;
    QCOMPARE(rows.size(), std::size_t(3 * 60 - 2)); // rows start with the first kind 31
    QCOMPARE(play.rig.screen.visibleOf({"Gauge1", "Gauge4", "GroupBox3", "TabSheet2"}),
             QStringList({"Gauge1", "Gauge4", "TabSheet2"}));
    QCOMPARE(play.rig.screen.enabledOf({"btnReproduzir", "tbPosicao", "btnFecharRegistro", "btnGravar"}),
             QStringList({"btnReproduzir", "tbPosicao", "btnFecharRegistro"}));
    // Slider moves, backwards and forwards, onto rows of every kind (after a kind 29
    // the live marks wait for the next kind 30, and so do the played ones).
    for (int r : {99, 0, 177, 5, 6, 150, 100, 7}) {
        play.rig.screen.setBarPosition("tbPosicao", r);
        play.datalog.tbPosicaoChange();
        QCOMPARE(play.datalog.row(), std::size_t(r));
        QCOMPARE(shown(play.rig.screen), seen[r + 2]);
    }
    for (int r = 0; r < int(rows.size()); ++r) {
        play.rig.screen.setBarPosition("tbPosicao", r);
        play.datalog.tbPosicaoChange();
        QVERIFY2(shown(play.rig.screen) == seen[r + 2], qPrintable(QString("row %1").arg(r)));
    }
    // A click on the marker jumps to its row.
    play.rig.screen.setItemIndex("lbMarcas", 0);
    play.datalog.lbMarcasClick();
    QCOMPARE(play.datalog.row(), std::size_t(3 * 31 - 2));
    QCOMPARE(shown(play.rig.screen), seen[3 * 31]);

    // Play at 8x: each 50 ms tick moves 400 ms, i.e. 20 frames of 20 ms.
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
    QCOMPARE(play.datalog.row(), std::size_t(60));
    QCOMPARE(shown(play.rig.screen), seen[62]);
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

} // namespace

QTEST_GUILESS_MAIN(TestDatalog)
#include "tst_datalog.moc"
