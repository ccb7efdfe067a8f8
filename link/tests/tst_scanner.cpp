// The live scanner: switching, the poll and watchdog ticks, the read-outs of the three
// live-data kinds, and the red marking of the operating cells in both maps.
#include "common/names.h"
#include "link/frames.h"
#include "link/receiver.h"
#include "link/scanner.h"
#include "linktest.h"

#include <QRegularExpression>
#include <QtTest>

using namespace linktest;

namespace {

const QString captionOn = QStringLiteral("Ativar &Scanner");
const QString captionOff = QStringLiteral("Desativar &Scanner");
const QString notResponding = QStringLiteral("Módulo não responde");

const QStringList scannerLocked{"btnLerDados", "Button6",         "btnEnvia",     "Button8",
                                "btnSalvar",   "Button1",         "btnCarregar",  "Button2",
                                "btnAlterarMapas", "btnDesativar", "btnConfigurarTps"};

QStringList gauges()
{
    QStringList g;
    for (int i = 1; i <= 8; ++i)
        g << "Gauge" + QString::number(i);
    return g;
}

struct Bench {
    Rig rig;
    Scanner scanner{rig.ctx};
    Receiver rx{rig.ctx, scanner};

    // The port is open and no transfer runs: everything the scanner locks is enabled.
    Bench()
    {
        for (const QString &b : scannerLocked)
            rig.screen.setEnabled(b, true);
        rig.screen.setEnabled("Button3", true);
        rig.state.link = LinkState::Open;
    }
    void receive(const QByteArray &bytes)
    {
        rig.port.incoming.push_back(bytes);
        rx.ComPort1RxChar();
    }
    // The engine at speed position r and load position c.
    void at(int r, int c)
    {
        scanner.liveDataA(payload({20, 0, 0, 0, 0, 0, 0, c}));
        scanner.liveDataB(payload({0, r, 0, 0, 0, 0, 0, 0}));
    }
};

// 'P' for a poll command, 'S' for a stop command, '?' for anything else.
QString commands(const QList<QByteArray> &writes)
{
    QString out;
    for (const QByteArray &w : writes)
        out += w == frames::command(frames::ScannerPoll)   ? 'P'
               : w == frames::command(frames::ScannerStop) ? 'S'
                                                           : '?';
    return out;
}

QString markedText(const std::array<int, 4> &m)
{
    QStringList out;
    for (int k : m)
        out << (k == Scanner::none ? QString("none") : QString::number(k));
    return out.join(' ');
}

// Records every colour written to a map cell.
class RecordingScreen : public FakeScreen {
public:
    void setColor(const QString &name, Rgb color) override
    {
        painted << name + (color == colors::red ? "=red" : color == colors::black ? "=black" : "=other");
        FakeScreen::setColor(name, color);
    }
    QStringList painted;
};

} // namespace

class TestScanner : public QObject {
    Q_OBJECT
private slots:
    void switchOn();
    void switchOnBadDwellStep();
    void switchOff();
    void captionIsNotTheState();
    void ticks_data();
    void ticks();
    void watchdogSurvivesARefusedPoll();
    void watchdogOrder();
    void liveDataA_data();
    void liveDataA();
    void samplingHook_data();
    void samplingHook();
    void liveDataB_data();
    void liveDataB();
    void periodZeroKeepsReadouts();
    void baseCellOfPosition_data();
    void baseCellOfPosition();
    void marking_data();
    void marking();
    void moveAndStay();
    void marksOutliveTheScanner();
    void dwellCounter();
    void liveDataC_data();
    void liveDataC();
};

void TestScanner::switchOn()
{
    Bench b;
    b.rig.state.linkActivity = false;
    b.scanner.Button3Click();
    QVERIFY(!b.rig.screen.isVisible("TabSheet2"));
    QVERIFY(!b.rig.screen.isVisible("GroupBox3"));
    QVERIFY(b.rig.state.scannerActive);
    QCOMPARE(b.rig.screen.visibleOf(gauges()), gauges());
    QCOMPARE(b.rig.screen.enabledOf(scannerLocked), QStringList());
    QVERIFY(b.rig.timer1.isEnabled());
    QCOMPARE(b.rig.timer1.interval(), 10);
    QCOMPARE(b.rig.screen.text("Button3"), captionOff);
    QVERIFY(b.rig.screen.isEnabled("Button3"));
    QVERIFY(b.rig.state.linkActivity);
    QVERIFY(b.rig.port.writes.isEmpty());
}

// A dwell step that does not convert stops the switching at that step, with the
// conversion message; what came before it stays done.
void TestScanner::switchOnBadDwellStep()
{
    Bench b;
    b.rig.state.linkActivity = false;
    b.rig.screen.setText("eLeitura", "abc");
    b.rig.guarded([&] { b.scanner.Button3Click(); });
    QCOMPARE(b.rig.prompt.messages, QStringList{"'abc' is not a valid integer value"});
    QCOMPARE(b.rig.screen.text("Button3"), captionOff);
    QVERIFY(b.rig.timer1.isEnabled());
    // The scanner is on: its locks are in place.
    QVERIFY(!b.rig.screen.isEnabled("btnEnvia"));
    QVERIFY(!b.rig.screen.isEnabled("btnAlterarMapas"));
    QVERIFY(!b.rig.state.linkActivity);
}

void TestScanner::switchOff()
{
    Bench b;
    b.scanner.Button3Click();
    b.scanner.Timer1Timer();
    b.at(12, 0); // cell 16 marked
    b.rig.state.linkActivity = false;
    b.scanner.Button3Click();
    QVERIFY(!b.rig.state.scannerActive);
    QCOMPARE(b.rig.screen.text("Button3"), captionOn);
    QStringList unlocked = scannerLocked;
    unlocked.removeAll("btnConfigurarTps");
    QCOMPARE(b.rig.screen.enabledOf(scannerLocked), unlocked);
    QCOMPARE(b.rig.screen.visibleOf(gauges()), QStringList());
    QVERIFY(b.rig.screen.isVisible("GroupBox3"));
    QVERIFY(b.rig.screen.isVisible("TabSheet2"));
    QVERIFY(b.rig.state.linkActivity);
    // Timer1 goes on until its next tick sends the stop command.
    QVERIFY(b.rig.timer1.isEnabled());
    QCOMPARE(commands(b.rig.port.writes), QString("P"));
    // The marks stay.
    QCOMPARE(b.rig.screen.color("e16"), colors::red);
    QCOMPARE(b.rig.screen.color("e16i"), colors::red);
}

// The button's caption only shows the state: a caption written by something else
// does not keep the scanner from switching.
void TestScanner::captionIsNotTheState()
{
    Bench b;
    b.rig.screen.setText("Button3", "Scanner");
    b.scanner.Button3Click();
    QVERIFY(b.rig.state.scannerActive);
    QCOMPARE(b.rig.screen.text("Button3"), captionOff);
    QVERIFY(b.rig.timer1.isEnabled());
    b.rig.screen.setText("Button3", "Scanner");
    b.scanner.Button3Click();
    QVERIFY(!b.rig.state.scannerActive);
    QCOMPARE(b.rig.screen.text("Button3"), captionOn);
}

// Events, one character each: b Button3Click, t tick of Timer1, r a live-data frame.
void TestScanner::ticks_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<int>("messages");
    QTest::addColumn<bool>("timerOn");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QString>("caption");

    QTest::newRow("switching on sends nothing") << "b" << "" << 0 << true << 10 << captionOff;
    QTest::newRow("first tick polls") << "bt" << "P" << 0 << true << 1000 << captionOff;
    QTest::newRow("later ticks poll") << "btrtrtrt" << "PPPP" << 0 << true << 1000 << captionOff;
    QTest::newRow("several frames a second") << "btrrrtrt" << "PPP" << 0 << true << 1000 << captionOff;
    QTest::newRow("no frame between ticks") << "btt" << "PS" << 1 << false << 1000 << captionOn;
    QTest::newRow("silence after frames") << "btrtrtt" << "PPPS" << 1 << false << 1000 << captionOn;
    QTest::newRow("switched off: next tick stops") << "btrbt" << "PS" << 0 << false << 1000 << captionOn;
    QTest::newRow("off before the first tick") << "bbt" << "S" << 0 << false << 1000 << captionOn;
    QTest::newRow("frame after switching off") << "btbrt" << "PS" << 0 << false << 1000 << captionOn;
    QTest::newRow("on again after the watchdog") << "bttbt" << "PSP" << 1 << true << 1000 << captionOff;
    QTest::newRow("on again, first tick 10 ms") << "bttb" << "PS" << 1 << true << 10 << captionOff;
}

void TestScanner::ticks()
{
    QFETCH(QString, events);
    QFETCH(QString, sent);
    QFETCH(int, messages);
    QFETCH(bool, timerOn);
    QFETCH(int, interval);
    QFETCH(QString, caption);
    Bench b;
    for (QChar e : events) {
        switch (e.toLatin1()) {
        case 'b': b.scanner.Button3Click(); break;
        case 't': b.scanner.Timer1Timer(); break;
        case 'r': b.receive(frame(29, payload({80, 0, 0, 0, 0, 0, 0, 0}))); break;
        default: QFAIL("bad event");
        }
    }
    QCOMPARE(commands(b.rig.port.writes), sent);
    QCOMPARE(b.rig.prompt.messages, QStringList(messages, notResponding));
    QCOMPARE(b.rig.timer1.isEnabled(), timerOn);
    QCOMPARE(b.rig.timer1.interval(), interval);
    QCOMPARE(b.rig.screen.text("Button3"), caption);
    QCOMPARE(b.rig.state.scannerActive, caption == captionOff);
    QCOMPARE(b.rig.screen.isVisible("TabSheet2"), caption == captionOn);
}

// The watchdog switches the scanner off and stops Timer1 before its message opens;
// the stop command follows at the same tick, after the message.
// A port that refuses the poll (the device went away) still lets the watchdog
// notice the silence at the next tick.
void TestScanner::watchdogSurvivesARefusedPoll()
{
    Bench b;
    b.scanner.Button3Click();
    b.rig.port.failWrites = true;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, b.scanner.Timer1Timer());
    QVERIFY(!b.rig.state.linkActivity);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, b.scanner.Timer1Timer());
    QCOMPARE(b.rig.prompt.messages, QStringList{notResponding});
    QCOMPARE(b.rig.screen.text("Button3"), captionOn);
    QVERIFY(!b.rig.timer1.isEnabled());
    QVERIFY(!b.rig.state.scannerActive);
}

void TestScanner::watchdogOrder()
{
    Bench b;
    b.scanner.Button3Click();
    b.scanner.Timer1Timer();
    bool timerOn = true;
    QString captionSeen, sentSeen;
    b.rig.prompt.onMessage = [&](const QString &) {
        timerOn = b.rig.timer1.isEnabled();
        captionSeen = b.rig.screen.text("Button3");
        sentSeen = commands(b.rig.port.writes);
    };
    b.scanner.Timer1Timer();
    QCOMPARE(b.rig.prompt.messages, QStringList{notResponding});
    QVERIFY(!timerOn);
    QCOMPARE(captionSeen, captionOn);
    QCOMPARE(sentSeen, QString("P"));
    QCOMPARE(b.rig.port.writes,
             (QList<QByteArray>{raw({0x00, 0x7F, 0x61, 0x61, 0x61, 0x61}), raw({0x00, 0xD9, 0x61, 0x61, 0x61, 0x61})}));
    QVERIFY(!b.rig.state.linkActivity);
    QVERIFY(b.rig.screen.isVisible("TabSheet2"));
}

void TestScanner::liveDataA_data()
{
    QTest::addColumn<QByteArray>("p");
    QTest::addColumn<QStringList>("texts"); // eTemperatura eValorMap eAtuadorML eValorSonda eValorTps eColunaTps
    QTest::addColumn<bool>("hot");
    QTest::addColumn<int>("bar");
    QTest::addColumn<int>("load");
    QTest::addColumn<int>("reading");

    auto row = [](const char *name, const Payload &p, const QStringList &texts, bool hot, int bar, int load,
                  int reading) {
        QTest::newRow(name) << QByteArray(reinterpret_cast<const char *>(p.data()), 8) << texts << hot << bar
                            << load << reading;
    };
    row("94 lime, reading 255", payload({94, 10, 20, 30, 0xFF, 0x00, 4, 0}),
        {"94", "10", "20", "300", "1,25 ", "4"}, false, 63, 0, 255);
    row("95 yellow, reading 256", payload({95, 0, 0, 0, 0x00, 0x01, 0, 42}), {"95", "0", "0", "0", "1,25 ", "0"},
        true, 64, 42, 256);
    row("reading 1023", payload({0, 255, 255, 255, 0xFF, 0x03, 255, 3}),
        {"0", "255", "255", "2550", "5,00 ", "255"}, false, 255, 3, 1023);
    row("reading 512", payload({255, 1, 2, 3, 0x00, 0x02, 6, 7}), {"255", "1", "2", "30", "2,50 ", "6"}, true, 128,
        7, 512);
    row("reading 0", payload({0, 0, 0, 0, 0, 0, 0, 0}), {"0", "0", "0", "0", "0,00 ", "0"}, false, 0, 0, 0);
}

void TestScanner::liveDataA()
{
    QFETCH(QByteArray, p);
    QFETCH(QStringList, texts);
    QFETCH(bool, hot);
    QFETCH(int, bar);
    QFETCH(int, load);
    QFETCH(int, reading);
    Bench b;
    Payload pl{};
    std::copy(p.cbegin(), p.cend(), pl.begin());
    b.scanner.liveDataA(pl);
    QStringList shown;
    for (const char *n : {"eTemperatura", "eValorMap", "eAtuadorML", "eValorSonda", "eValorTps", "eColunaTps"})
        shown << b.rig.screen.text(n);
    QCOMPARE(shown, texts);
    QCOMPARE(b.rig.screen.fontColor("eTemperatura"), hot ? colors::yellow : colors::lime);
    QCOMPARE(b.rig.screen.barPosition("BarraTps"), bar);
    for (const QString &g : names::loadBars())
        QCOMPARE(b.rig.screen.barPosition(g), load);
    for (const QString &g : names::speedBars())
        QCOMPARE(b.rig.screen.barPosition(g), 0);
    QCOMPARE(b.rig.state.tpsReading, reading);
    QVERIFY(qAbs(double(b.rig.state.tpsVoltage) - reading * 5.0 / 1023) < 1e-9);
}

void TestScanner::samplingHook_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<bool>("called");
    QTest::newRow("calibration running") << int(TpsPhase::Sampling) << true;
    QTest::newRow("not running") << int(TpsPhase::None) << false;
    QTest::newRow("pressed, no step yet") << int(TpsPhase::Started) << false;
}

// The calibration sees the new reading before the throttle bar moves.
void TestScanner::samplingHook()
{
    QFETCH(int, tag);
    QFETCH(bool, called);
    Bench b;
    b.rig.state.tps = TpsPhase(tag);
    b.rig.screen.setBarPosition("BarraTps", 7);
    QList<int> readings, barsSeen, stateSeen;
    b.rig.ctx.hooks.tpsSample = [&](int r) {
        readings << r;
        barsSeen << b.rig.screen.barPosition("BarraTps");
        stateSeen << b.rig.state.tpsReading;
    };
    b.scanner.liveDataA(payload({20, 0, 0, 0, 0x2C, 0x01, 0, 0})); // reading 300
    QCOMPARE(readings, called ? QList<int>{300} : QList<int>{});
    QCOMPARE(barsSeen, called ? QList<int>{7} : QList<int>{});
    QCOMPARE(stateSeen, called ? QList<int>{300} : QList<int>{});
    QCOMPARE(b.rig.screen.barPosition("BarraTps"), 75);
}

void TestScanner::liveDataB_data()
{
    QTest::addColumn<QByteArray>("p");
    QTest::addColumn<QStringList>("texts"); // eAvanco eLinhaMapa ePresAtm eRpm eTi
    QTest::addColumn<int>("speedBar");
    QTest::addColumn<Rgb>("tiColour");
    QTest::addColumn<Rgb>("pumpColour");

    auto row = [](const char *name, const Payload &p, const QStringList &texts, int speedBar, Rgb ti, Rgb pump) {
        QTest::newRow(name) << QByteArray(reinterpret_cast<const char *>(p.data()), 8) << texts << speedBar << ti
                            << pump;
    };
    row("p4 9, period 0", payload({25, 14, 0, 0, 9, 0, 0, 0}), {"25°", "14", "1000", "rpm?", "ti?"}, 34,
        colors::lime, colors::silver);
    row("1200 rpm, 2,5 ms", payload({10, 0, 100, 0, 0, 0xE8, 0x03, 1}), {"10°", "0", "820", "1200", "2,5  5"}, 48,
        colors::lime, colors::yellow);
    row("injection raw truncated", payload({10, 0, 103, 0, 0, 0xE8, 0x03, 0}), {"10°", "0", "820", "1200", "2,5  5"},
        48, colors::lime, colors::grey);
    row("opening 89.9 lime", payload({0, 6, 0xB8, 0x02, 1, 0x83, 0x01, 0}), {"0°", "6", "840", "3100", "17,4  90"},
        42, colors::lime, colors::grey);
    row("opening 90 yellow", payload({0, 6, 0x68, 0x01, 1, 0xC8, 0x00, 9}), {"0°", "6", "840", "6000", "9,0  90"},
        42, colors::yellow, colors::yellow);
    row("speed position signed", payload({255, 0xFF, 0, 0, 255, 1, 0, 0}),
        {"255°", "-1", "5920", "1200000", "0,0  0"}, -207, colors::lime, colors::grey);
    row("speed 48", payload({0, 48, 0, 0, 0, 0xFF, 0xFF, 0}), {"0°", "48", "820", "18", "0,0  0"}, 0, colors::lime,
        colors::grey);
}

void TestScanner::liveDataB()
{
    QFETCH(QByteArray, p);
    QFETCH(QStringList, texts);
    QFETCH(int, speedBar);
    QFETCH(Rgb, tiColour);
    QFETCH(Rgb, pumpColour);
    Bench b;
    b.rig.screen.setText("eRpm", "rpm?");
    b.rig.screen.setText("eTi", "ti?");
    Payload pl{};
    std::copy(p.cbegin(), p.cend(), pl.begin());
    b.scanner.liveDataB(pl);
    QStringList shown;
    for (const char *n : {"eAvanco", "eLinhaMapa", "ePresAtm", "eRpm", "eTi"})
        shown << b.rig.screen.text(n);
    QCOMPARE(shown, texts);
    for (const QString &g : names::speedBars())
        QCOMPARE(b.rig.screen.barPosition(g), speedBar);
    QCOMPARE(b.rig.screen.fontColor("eTi"), tiColour);
    QCOMPARE(b.rig.screen.fontColor("eScannerBomba"), pumpColour);
}

void TestScanner::periodZeroKeepsReadouts()
{
    Bench b;
    b.scanner.liveDataB(payload({10, 12, 100, 0, 0, 0xE8, 0x03, 1}));
    QCOMPARE(b.rig.screen.text("eRpm"), QString("1200"));
    QCOMPARE(redCells(b.rig.screen, false), QStringList{"16"});
    b.scanner.liveDataB(payload({11, 24, 0x68, 0x01, 0, 0, 0, 0}));
    QCOMPARE(b.rig.screen.text("eRpm"), QString("1200"));
    QCOMPARE(b.rig.screen.text("eTi"), QString("2,5  5"));
    QCOMPARE(b.rig.screen.fontColor("eTi"), colors::lime);
    QCOMPARE(b.rig.screen.fontColor("eScannerBomba"), colors::yellow);
    QCOMPARE(b.rig.screen.text("eAvanco"), QString("11°"));
    for (const QString &g : names::speedBars())
        QCOMPARE(b.rig.screen.barPosition(g), 24);
    QCOMPARE(redCells(b.rig.screen, false), QStringList{"32"});
    QCOMPARE(redCells(b.rig.screen, true), QStringList{"32"});
}

void TestScanner::marking_data()
{
    QTest::addColumn<int>("speed"); // p1 of kind 30, read signed
    QTest::addColumn<int>("load");  // p7 of kind 29
    QTest::addColumn<QStringList>("red");
    QTest::addColumn<QString>("marked"); // base lower right diagonal

    QTest::newRow("0 0") << 0 << 0 << QStringList{"0"} << "0 none none none";
    QTest::newRow("14 3") << 14 << 3 << QStringList{"16", "17", "24", "25"} << "16 24 17 25";
    QTest::newRow("13 0: own row") << 13 << 0 << QStringList{"16"} << "16 none none none";
    QTest::newRow("14 0: row below") << 14 << 0 << QStringList{"16", "24"} << "16 24 none none";
    QTest::newRow("0 1: fraction 16.7") << 0 << 1 << QStringList{"0"} << "0 none none none";
    QTest::newRow("0 2: fraction 33.3") << 0 << 2 << QStringList{"0", "1"} << "0 none 1 none";
    QTest::newRow("load 42: no right") << 0 << 42 << QStringList{"7"} << "7 none none none";
    QTest::newRow("load 41") << 0 << 41 << QStringList{"6", "7"} << "6 none 7 none";
    QTest::newRow("load 47: no right") << 0 << 47 << QStringList{"7"} << "7 none none none";
    QTest::newRow("speed 48: no lower") << 48 << 0 << QStringList{"64"} << "64 none none none";
    QTest::newRow("speed 47") << 47 << 0 << QStringList{"56", "64"} << "56 64 none none";
    QTest::newRow("speed 53, load 47") << 53 << 47 << QStringList{"71"} << "71 none none none";
    QTest::newRow("speed 54: off the map") << 54 << 0 << QStringList{} << "none none none none";
    QTest::newRow("load 48: off the map") << 0 << 48 << QStringList{} << "none none none none";
    QTest::newRow("load 255: off the map") << 20 << 255 << QStringList{} << "none none none none";
    QTest::newRow("speed -1: row 0") << -1 << 0 << QStringList{"0"} << "0 none none none";
    QTest::newRow("speed -6: off the map") << -6 << 0 << QStringList{} << "none none none none";
    QTest::newRow("speed -128") << -128 << 30 << QStringList{} << "none none none none";
    QTest::newRow("speed 127") << 127 << 30 << QStringList{} << "none none none none";
}

void TestScanner::marking()
{
    QFETCH(int, speed);
    QFETCH(int, load);
    QFETCH(QStringList, red);
    QFETCH(QString, marked);
    Bench b;
    // Cell 0 painted as a previous run left it: the first frame clears it unless it
    // is one of its own cells.
    b.rig.screen.setColor("e0", colors::red);
    b.rig.screen.setColor("e0i", colors::red);
    b.at(speed, load);
    QCOMPARE(redCells(b.rig.screen, false), red);
    QCOMPARE(redCells(b.rig.screen, true), red);
    QCOMPARE(markedText(b.scanner.marked()), marked);
    for (int k = 0; k < 72; ++k) {
        if (!red.contains(QString::number(k))) {
            QCOMPARE(b.rig.screen.color(names::ignitionCell(k)), colors::black);
            QCOMPARE(b.rig.screen.color(names::injectionCell(k)), colors::black);
        }
    }
}

// Leaving a cell clears it in both maps; a cell that stays marked is never painted
// black in between.
void TestScanner::moveAndStay()
{
    Rig rig;
    RecordingScreen screen;
    Context ctx{screen, rig.port, rig.prompt, rig.timer1, rig.timer2, rig.timerTps, rig.timerReadBack, rig.state, {}};
    Scanner scanner(ctx);
    auto at = [&](int r, int c) {
        scanner.liveDataA(payload({20, 0, 0, 0, 0, 0, 0, c}));
        scanner.liveDataB(payload({0, r, 0, 0, 0, 0, 0, 0}));
    };
    at(12, 0);
    QCOMPARE(screen.painted.filter(QRegularExpression("^e16i?=")), (QStringList{"e16=red", "e16i=red"}));
    QVERIFY(screen.painted.contains("e0=black") && screen.painted.contains("e0i=black"));
    screen.painted.clear();
    at(14, 0); // 16 stays, 24 joins
    QVERIFY(!screen.painted.contains("e16=black"));
    QVERIFY(!screen.painted.contains("e16i=black"));
    QCOMPARE(redCells(screen, false), (QStringList{"16", "24"}));
    screen.painted.clear();
    at(12, 6); // to 17: 16 and 24 cleared in both maps
    QCOMPARE(redCells(screen, false), QStringList{"17"});
    QCOMPARE(redCells(screen, true), QStringList{"17"});
    QVERIFY(screen.painted.contains("e16=black") && screen.painted.contains("e16i=black"));
    QVERIFY(screen.painted.contains("e24=black") && screen.painted.contains("e24i=black"));
    QVERIFY(!screen.painted.contains("e17=black"));
    screen.painted.clear();
    at(12, 6); // the same cell again: nothing goes black
    QCOMPARE(screen.painted.filter("=black"), QStringList());
    QCOMPARE(redCells(screen, false), QStringList{"17"});
}

// The marked list lives on while the scanner is off: the next run clears what the
// last one left.
void TestScanner::marksOutliveTheScanner()
{
    Bench b;
    b.scanner.Button3Click();
    b.at(14, 3);
    b.scanner.Button3Click();
    QCOMPARE(redCells(b.rig.screen, false), (QStringList{"16", "17", "24", "25"}));
    b.scanner.Button3Click();
    b.at(0, 0);
    QCOMPARE(redCells(b.rig.screen, false), QStringList{"0"});
    QCOMPARE(redCells(b.rig.screen, true), QStringList{"0"});
}

void TestScanner::dwellCounter()
{
    Bench b;
    b.rig.screen.setText("eLeitura", "3");
    b.scanner.Button3Click();
    b.at(2, 5); // code 2 * 43 + 5
    QCOMPARE(b.rig.screen.text("Label1"), QString("91"));
    QCOMPARE(b.rig.screen.text("Label48"), QString(""));
    b.at(2, 5);
    QCOMPARE(b.rig.screen.text("Label48"), QString("3"));
    b.at(2, 5);
    QCOMPARE(b.rig.screen.text("Label48"), QString("6"));
    b.at(3, 5);
    QCOMPARE(b.rig.screen.text("Label1"), QString("134"));
    QCOMPARE(b.rig.screen.text("Label48"), QString("6"));
    b.at(3, 5);
    QCOMPARE(b.rig.screen.text("Label48"), QString("9"));
    b.at(-1, 0);
    QCOMPARE(b.rig.screen.text("Label1"), QString("-43"));
}

void TestScanner::liveDataC_data()
{
    QTest::addColumn<QByteArray>("p");
    QTest::addColumn<QStringList>("texts"); // eCorSondaCurto eCorSondaLongo eCorTemperatura eCorPresAtm eCorAvanco
    QTest::addColumn<Rgb>("fan");
    QTest::addColumn<Rgb>("air");
    auto row = [](const char *name, const Payload &p, const QStringList &texts, Rgb fan, Rgb air) {
        QTest::newRow(name) << QByteArray(reinterpret_cast<const char *>(p.data()), 8) << texts << fan << air;
    };
    row("signed values", payload({0xFE, 3, 5, 0xFB, 2, 1, 0, 0}), {"-2", "3", "5 %", "-5 %", "2 °"}, colors::yellow,
        colors::grey);
    row("zeros", payload({0, 0, 0, 0, 0, 0, 7, 9}), {"0", "0", "0 %", "0 %", "0 °"}, colors::grey, colors::yellow);
    row("extremes", payload({0x80, 0x7F, 0xFF, 0x80, 0x9C, 255, 255, 0}), {"-128", "127", "-1 %", "-128 %", "-100 °"},
        colors::yellow, colors::yellow);
}

void TestScanner::liveDataC()
{
    QFETCH(QByteArray, p);
    QFETCH(QStringList, texts);
    QFETCH(Rgb, fan);
    QFETCH(Rgb, air);
    Bench b;
    Payload pl{};
    std::copy(p.cbegin(), p.cend(), pl.begin());
    b.scanner.liveDataC(pl);
    QStringList shown;
    for (const char *n : {"eCorSondaCurto", "eCorSondaLongo", "eCorTemperatura", "eCorPresAtm", "eCorAvanco"})
        shown << b.rig.screen.text(n);
    QCOMPARE(shown, texts);
    QCOMPARE(b.rig.screen.fontColor("eScannerEletro"), fan);
    QCOMPARE(b.rig.screen.fontColor("eScannerAr"), air);
}

QTEST_GUILESS_MAIN(TestScanner)
// The one rule from the engine's position to its cell, shared by the marks, the log
// viewer's table and the correction.
void TestScanner::baseCellOfPosition_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("load");
    QTest::addColumn<int>("cell");
    QTest::newRow("origin") << 0 << 0 << 0;
    QTest::newRow("inside the first cell") << 5 << 5 << 0;
    QTest::newRow("next row and column") << 6 << 6 << 9;
    QTest::newRow("last cell") << 48 << 42 << 71;
    QTest::newRow("load 47, still column 7") << 48 << 47 << 71;
    QTest::newRow("load 48 does not wrap into the next row") << 0 << 48 << -1;
    QTest::newRow("speed past row 8") << 54 << 0 << -1;
    QTest::newRow("negative speed, truncated to row 0") << -1 << 0 << 0;
    QTest::newRow("speed -6") << -6 << 0 << -1;
    QTest::newRow("load -6") << 0 << -6 << -1;
}

void TestScanner::baseCellOfPosition()
{
    QFETCH(int, speed);
    QFETCH(int, load);
    QFETCH(int, cell);
    QCOMPARE(baseCell(speed, load), cell);
}

#include "tst_scanner.moc"
