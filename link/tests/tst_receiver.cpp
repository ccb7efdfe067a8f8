// The receive side: recognition into the screen, the read-back with its busy panels
// and its watchdog, the diagnostic lines, and reads that are short or malformed.
#include "common/names.h"
#include "config/configfields.h"
#include "link/frames.h"
#include "link/receiver.h"
#include "link/scanner.h"
#include "linktest.h"
#include "maps/axes.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace linktest;

namespace {

const QString notResponding = QStringLiteral("Módulo não responde");

struct Bench {
    Rig rig;
    Scanner scanner{rig.ctx};
    Receiver rx{rig.ctx, scanner};

    void feed(const QByteArray &bytes)
    {
        rig.port.incoming.push_back(bytes);
        rx.ComPort1RxChar();
    }
    // The port open after a transfer: every button of the transfer set and btnAtivar enabled.
    void enableAll()
    {
        for (const QString &b : names::transferButtons())
            rig.screen.setEnabled(b, true);
        rig.screen.setEnabled("btnAtivar", true);
        rig.state.link = LinkState::Open;
        rig.state.moduleKnown = true;
    }
};

QStringList thirteenButtons()
{
    QStringList all = names::transferButtons();
    all << "btnAtivar";
    return all;
}

void applyTexts(FakeScreen &s, const QStringList &pairs)
{
    for (const QString &pair : pairs) {
        const int eq = pair.indexOf('=');
        s.setText(pair.left(eq), pair.mid(eq + 1));
    }
}

QStringList textsOf(const FakeScreen &s, const QStringList &pairs)
{
    QStringList out;
    for (const QString &pair : pairs) {
        const QString name = pair.left(pair.indexOf('='));
        out << name + '=' + s.text(name);
    }
    return out;
}

QByteArray bytes8(const Payload &p) { return QByteArray(reinterpret_cast<const char *>(p.data()), 8); }
Payload fromBytes(const QByteArray &b)
{
    Payload p{};
    for (int i = 0; i < 8 && i < b.size(); ++i)
        p[std::size_t(i)] = std::uint8_t(b[i]);
    return p;
}

} // namespace

class TestReceiver : public QObject {
    Q_OBJECT
private slots:
    void readRequest();
    void readRequestPortFails();
    void kindOneStartsReadBack_data();
    void kindOneStartsReadBack();
    void onlyBarsMove_data();
    void onlyBarsMove();
    void decode_data();
    void decode();
    void diagnosticLines();
    void engineSetUpWheelAndTooth_data();
    void engineSetUpWheelAndTooth();
    void engineSetUpCaptions_data();
    void engineSetUpCaptions();
    void engineSetUpThrottle_data();
    void engineSetUpThrottle();
    void engineSetUpAlwaysCompletes();
    void engineSetUpSpeedScale();
    void endOfReadBack_data();
    void endOfReadBack();
    void shortReads_data();
    void shortReads();
    void portErrorDuringRead();
    void liveKindsGoToScanner();
    void readBackWatchdog_data();
    void readBackWatchdog();
    void watchdogMessageAfterUnlock();
    void malformedEvents();
};

void TestReceiver::readRequest()
{
    Bench b;
    b.enableAll();
    b.rig.screen.setBarPosition("pbCarregando", 9);
    b.rig.screen.setBarPosition("pbCarregando1", 9);
    b.rx.btnLerDadosClick();
    QCOMPARE(b.rig.port.writes, QList<QByteArray>{raw({0x00, 0x33, 0x61, 0x61, 0x61, 0x61})});
    for (const char *bar : {"pbCarregando", "pbCarregando1"}) {
        QCOMPARE(b.rig.screen.barMin(bar), 0);
        QCOMPARE(b.rig.screen.barMax(bar), 26);
        QCOMPARE(b.rig.screen.barPosition(bar), 0);
    }
    QVERIFY(b.rig.screen.isVisible("Panel1"));
    QVERIFY(!b.rig.screen.isVisible("pnAguarde"));
    // Nothing is locked before the first frame.
    QCOMPARE(b.rig.screen.enabledOf(thirteenButtons()), thirteenButtons());
    QVERIFY(b.rx.readBack() == Receiver::ReadBack::Requested);
    QVERIFY(b.rig.timerReadBack.isEnabled());
    QCOMPARE(b.rig.timerReadBack.interval(), 500);
}

void TestReceiver::readRequestPortFails()
{
    Bench b;
    b.rig.port.failWrites = true;
    b.rig.guarded([&] { b.rx.btnLerDadosClick(); });
    QCOMPARE(b.rig.prompt.messages, QStringList{"WriteFile function failed (win error code: 5)"});
    QVERIFY(!b.rig.screen.isVisible("Panel1"));
    QVERIFY(!b.rig.timerReadBack.isEnabled());
    QVERIFY(b.rx.readBack() == Receiver::ReadBack::Idle);
}

void TestReceiver::kindOneStartsReadBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const Payload p = payload({10, 20, 30, 40, 50, 60, 70, 80});
    QTest::newRow("in step") << frame(1, p);
    QTest::newRow("one byte late") << shiftedByOne(1, p);
    QTest::newRow("two bytes late") << shiftedByTwo(1, p);
}

void TestReceiver::kindOneStartsReadBack()
{
    QFETCH(QByteArray, bytes);
    Bench b;
    b.enableAll();
    b.rx.btnLerDadosClick();
    b.feed(bytes);
    QStringList cells;
    for (int k = 0; k < 8; ++k)
        cells << b.rig.screen.text(names::ignitionCell(k));
    QCOMPARE(cells, (QStringList{"10", "20", "30", "40", "50", "60", "70", "80"}));
    QCOMPARE(b.rig.screen.text("e8"), QString("10")); // row 1 untouched (default)
    QVERIFY(b.rig.screen.isVisible("pnAguarde"));
    QVERIFY(b.rig.screen.isVisible("Panel1"));
    QCOMPARE(b.rig.screen.enabledOf(thirteenButtons()), QStringList());
    QCOMPARE(b.rig.screen.barPosition("pbCarregando"), 1);
    QCOMPARE(b.rig.screen.barPosition("pbCarregando1"), 1);
    QVERIFY(b.rig.state.linkActivity);
    QVERIFY(b.rx.readBack() == Receiver::ReadBack::Receiving);
}

// Strings that are dropped, and kinds that carry nothing for the program: the two
// bars go to the kind (0 when nothing was recognised), the flag is set, nothing else.
void TestReceiver::onlyBarsMove_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("bar");
    const Payload p = payload({10, 20, 30, 40, 50, 60, 70, 80});
    QTest::newRow("HP without F") << (frame(1, p).left(11) + 'X') << 0;
    QTest::newRow("no rule matches") << QByteArray("abcdefghijkl") << 0;
    QTest::newRow("nothing read") << QByteArray() << 0;
    QTest::newRow("11 bytes") << frame(1, p).left(11) << 0;
    QTest::newRow("kind 0") << frame(0, p) << 0;
    QTest::newRow("kind 27") << frame(27, p) << 27;
    QTest::newRow("kind 28") << frame(28, p) << 28;
    QTest::newRow("kind 35") << frame(35, p) << 35;
    QTest::newRow("kind 100") << frame(100, p) << 100;
    QTest::newRow("kind 255") << frame(255, p) << 255;
}

void TestReceiver::onlyBarsMove()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, bar);
    Bench b;
    b.enableAll();
    b.rig.screen.setBarPosition("pbCarregando", 7);
    b.rig.screen.setBarPosition("pbCarregando1", 7);
    const Snapshot before = snapshot(b.rig.screen);
    b.feed(bytes);
    QCOMPARE(b.rig.screen.barPosition("pbCarregando"), bar);
    QCOMPARE(b.rig.screen.barPosition("pbCarregando1"), bar);
    QCOMPARE(changedControls(before, b.rig.screen, {"pbCarregando", "pbCarregando1"}), QStringList());
    QVERIFY(b.rig.state.linkActivity);
    QVERIFY(b.rig.prompt.messages.isEmpty());
    QVERIFY(b.rig.port.writes.isEmpty());
}

void TestReceiver::decode_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("preset");   // "name=text" written before the frame
    QTest::addColumn<QStringList>("expected"); // "name=text" after it

    auto row = [](const char *name, int kind, const Payload &p, const QStringList &preset,
                  const QStringList &expected) {
        QTest::newRow(name) << kind << bytes8(p) << preset << expected;
    };

    row("ignition row 0", 1, payload({0, 1, 9, 10, 99, 100, 200, 0xFE}), {},
        {"e0=0", "e1=1", "e2=9", "e3=10", "e4=99", "e5=100", "e6=200", "e7=254"});
    row("ignition row 8", 9, payload({1, 2, 3, 4, 5, 6, 7, 8}), {},
        {"e63=27", "e64=1", "e65=2", "e70=7", "e71=8"});
    row("injection 35 255 0", 10, payload({35, 255, 0, 1, 10, 99, 100, 101}), {},
        {"e0i=3,5", "e1i=25,5", "e2i=0,0", "e3i=0,1", "e4i=1,0", "e5i=9,9", "e6i=10,0", "e7i=10,1"});
    row("injection row 8", 18, payload({22, 0, 0, 0, 0, 0, 0, 81}), {}, {"e63i=8,3", "e64i=2,2", "e71i=8,1"});
    row("Ti correction signed", 19, payload({0xFE, 0x80, 0x7F, 0, 1, 0xFF, 55, 0}), {},
        {"eCorrecaoTi0=-2", "eCorrecaoTi15=-128", "eCorrecaoTi30=127", "eCorrecaoTi45=0", "eCorrecaoTi60=1",
         "eCorrecaoTi75=-1", "eCorrecaoTi90=55", "eCorrecaoTi105=0"});
    row("advance correction", 20, payload({5, 4, 3, 2, 1, 0, 0xFF, 0xFE}), {},
        {"eCorrecaoIg0=5", "eCorrecaoIg60=1", "eCorrecaoIg90=-1", "eCorrecaoIg105=-2"});
    row("idle correction", 21, payload({70, 50, 40, 30, 20, 15, 0, 0x9C}), {},
        {"eCorrecaoMl0=70", "eCorrecaoMl75=15", "eCorrecaoMl105=-100"});
    row("atmosphere, MAP", 22, payload({0xFB, 3, 0, 0x81, 10, 25, 6, 4}), {},
        {"eAtm820=-5", "eAtm880=3", "eAtm940=0", "eAtm1000=-127", "cbRapidaTpsxMap=MAP", "eBasico=2,5",
         "eGanho=6", "eDecremento=4"});
    row("quick accel, TPS", 22, payload({0, 0, 0, 0, 5, 0, 255, 0}), {"cbRapidaTpsxMap=MAP"},
        {"cbRapidaTpsxMap=TPS", "eBasico=0,0", "eGanho=255", "eDecremento=0"});
    row("quick accel, unknown code", 22, payload({0, 0, 0, 0, 7, 0, 0, 0}), {"cbRapidaTpsxMap=MAP"},
        {"cbRapidaTpsxMap=MAP"});
    row("lambda p2 15", 23, payload({10, 99, 15, 40, 55, 70, 255, 10}), {},
        {"cbSondaTipo=Banda Larga (1)", "cbSondaAtiva=Des em Marcha Lenta", "eSondaTemp=40", "eSondaLenta=550",
         "eSondaParcial=700", "eSondaPlena=2550", "cbSondaCorrecao=MAP"});
    row("lambda codes 5", 23, payload({5, 0, 5, 0, 0, 0, 0, 5}),
        {"cbSondaTipo=x", "cbSondaAtiva=x", "cbSondaCorrecao=x"},
        {"cbSondaTipo=Normal", "cbSondaAtiva=Ativada", "cbSondaCorrecao=TPS", "eSondaLenta=0"});
    row("lambda p2 10", 23, payload({0, 0, 10, 0, 0, 0, 0, 0}), {}, {"cbSondaAtiva=Desativada"});
    row("lambda p2 7 keeps text", 23, payload({7, 0, 7, 30, 0, 0, 0, 7}),
        {"cbSondaTipo=x", "cbSondaAtiva=y", "cbSondaCorrecao=z"},
        {"cbSondaTipo=x", "cbSondaAtiva=y", "cbSondaCorrecao=z", "eSondaTemp=30"});
    row("cut-off, fan, air", 24, payload({22, 15, 87, 80, 7, 20, 10, 70}), {},
        {"eDeslCutOff=2200", "eLigaCutOff=1500", "eLigaEletro=87", "eDesligaEletro=80", "emSCorrecaoEletro=0,7",
         "ePercEletro=20", "emSAr=1,0", "ePercentualAr=70"});
    row("cut-off zeros", 24, payload({0, 255, 0, 0, 0, 0, 0, 0}), {},
        {"eDeslCutOff=0", "eLigaCutOff=25500", "emSCorrecaoEletro=0,0", "ePercEletro=0", "emSAr=0,0",
         "ePercentualAr=0"});
    row("charge time 144", 26, payload({144, 0xFF, 9, 9, 9, 9, 9, 9}), {}, {"eTempoCarga=3,6", "cbPontoZero=-1"});
    row("charge time 0", 26, payload({0, 3, 0, 0, 0, 0, 0, 0}), {}, {"eTempoCarga=0,0", "cbPontoZero=3"});
    row("charge time 255", 26, payload({255, 0xFD, 0, 0, 0, 0, 0, 0}), {}, {"eTempoCarga=6,4", "cbPontoZero=-3"});
    row("MAP supply 512", 32, payload({0x00, 0x02, 0, 0, 0, 0, 0, 0}), {}, {"Label51=Vcc MAP = 2,50 = 512"});
    row("MAP supply 1023", 32, payload({0xFF, 0x03, 0, 0, 0, 0, 0, 0}), {}, {"Label51=Vcc MAP = 5,00 = 1023"});
    row("MAP supply 0", 32, payload({0, 0, 0, 0, 0, 0, 0, 0}), {}, {"Label51=Vcc MAP = 0,00 = 0"});
    row("MAP supply 65535", 32, payload({0xFF, 0xFF, 0, 0, 0, 0, 0, 0}), {}, {"Label51=Vcc MAP = 320,31 = 65535"});
}

void TestReceiver::decode()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, preset);
    QFETCH(QStringList, expected);
    Bench b;
    applyTexts(b.rig.screen, preset);
    b.feed(frame(kind, fromBytes(payload)));
    QCOMPARE(textsOf(b.rig.screen, expected), expected);
    QCOMPARE(b.rig.screen.barPosition("pbCarregando"), kind);
    QVERIFY(b.rig.state.linkActivity);
}

void TestReceiver::diagnosticLines()
{
    Bench b;
    b.feed(frame(33, payload({1, 2, 3, 4, 5, 6, 7, 8})));
    QCOMPARE(b.rig.screen.items("ListBox1"), QStringList{"1 2 3 4 5 6 7 8 "});
    b.feed(frame(34, payload({0, 255, 0xFE, 10, 0, 0, 0, 1})));
    b.feed(frame(32, payload({0x00, 0x02, 3, 4, 5, 6, 7, 8})));
    QCOMPARE(b.rig.screen.items("ListBox1"),
             (QStringList{"1 2 3 4 5 6 7 8 ", "0 255 254 10 0 0 0 1 ", "3 4 5 6 7 8 "}));
    QCOMPARE(b.rig.screen.text("Label51"), QString("Vcc MAP = 2,50 = 512"));
}

void TestReceiver::engineSetUpWheelAndTooth_data()
{
    QTest::addColumn<QList<int>>("wheelCodes"); // p0 of successive kind-25 frames
    QTest::addColumn<int>("tooth");             // p1 of every frame
    QTest::addColumn<int>("wheelIndex");
    QTest::addColumn<QString>("wheelText");
    QTest::addColumn<QStringList>("teeth");
    QTest::addColumn<QString>("toothText");

    QStringList t6021, t361;
    for (int i = 12; i <= 27; ++i)
        t6021 << QString::number(i);
    for (int i = 8; i <= 16; ++i)
        t361 << QString::number(i);
    QTest::newRow("36-1 tooth 8") << QList<int>{6} << 8 << 1 << "36-1" << t361 << "16";
    QTest::newRow("60-2 tooth 8") << QList<int>{3} << 8 << 0 << "60-2" << t6021 << "20";
    QTest::newRow("2+2") << QList<int>{9} << 0 << 2 << "2+2" << QStringList{"0"} << "0";
    QTest::newRow("unknown code first") << QList<int>{4} << 2 << 0 << "60-2" << t6021 << "14";
    QTest::newRow("unknown code keeps 36-1") << QList<int>{6, 0} << 3 << 1 << "36-1" << t361 << "11";
    QTest::newRow("36-1 tooth past list") << QList<int>{6} << 9 << 1 << "36-1" << t361 << QString();
}

// The wheel type is selected after the tooth offset is stored, so the real wheel-type
// handler rebuilds the list and selects the entry at the new offset.
void TestReceiver::engineSetUpWheelAndTooth()
{
    QFETCH(QList<int>, wheelCodes);
    QFETCH(int, tooth);
    QFETCH(int, wheelIndex);
    QFETCH(QString, wheelText);
    QFETCH(QStringList, teeth);
    QFETCH(QString, toothText);
    Bench b;
    ConfigFields config(b.rig.ctx);
    QList<int> offsetsSeen;
    b.rig.ctx.hooks.wheelTypeChange = [&] {
        offsetsSeen << b.rig.state.wv.toothOffset;
        config.cbTipoRodaFonicaChange();
    };
    for (int code : wheelCodes)
        b.feed(frame(25, payload({code, tooth, 60, 5, 6, 130, 230, 0})));
    QCOMPARE(offsetsSeen, QList<int>(wheelCodes.size(), tooth));
    QCOMPARE(int(b.rig.state.wheelTypeIndex), wheelIndex);
    QCOMPARE(int(b.rig.state.wv.toothOffset), tooth);
    QCOMPARE(b.rig.screen.itemIndex("cbTipoRodaFonica"), wheelIndex);
    QCOMPARE(b.rig.screen.text("cbTipoRodaFonica"), wheelText);
    QCOMPARE(b.rig.screen.items("cbDentesPms"), teeth);
    if (!toothText.isNull())
        QCOMPARE(b.rig.screen.text("cbDentesPms"), toothText);
    QCOMPARE(b.rig.screen.itemIndex("cbDentesPms"), tooth < teeth.size() ? tooth : -1);
}

void TestReceiver::engineSetUpCaptions_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("combination");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("MAP") << 10 << "MAP X RPM"
                         << QStringList{"-820", "-720", "-600", "-480", "-370", "-250", "-130", "0 mbar"};
    QTest::newRow("TPS") << 5 << "TPS X RPM" << QStringList{"0 %", "14", "28", "42", "56", "70", "84", "100 %"};
    QTest::newRow("other code") << 7 << "anything" << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"};
}

void TestReceiver::engineSetUpCaptions()
{
    QFETCH(int, code);
    QFETCH(QString, combination);
    QFETCH(QStringList, captions);
    Bench b;
    b.rig.screen.setText("cbCombinacaoMapa", "anything");
    b.feed(frame(25, payload({3, 8, 60, code, 6, 130, 230, 0})));
    QCOMPARE(b.rig.screen.text("cbCombinacaoMapa"), combination);
    QStringList ignition, injection;
    for (int c = 0; c < 8; ++c) {
        ignition << b.rig.screen.text(names::ignitionColumnCaptions()[c]);
        injection << b.rig.screen.text(names::injectionColumnCaptions()[c]);
    }
    QCOMPARE(ignition, captions);
    QCOMPARE(injection, captions);
}

void TestReceiver::engineSetUpThrottle_data()
{
    QTest::addColumn<int>("p5");
    QTest::addColumn<int>("p6");
    QTest::addColumn<int>("tpsMin");
    QTest::addColumn<int>("tpsMax");
    QTest::addColumn<int>("barMin");
    QTest::addColumn<int>("barMax");
    QTest::newRow("130 230") << 130 << 230 << 130 << 230 << 32 << 230;
    QTest::newRow("max 0") << 130 << 0 << 130 << 130 << 32 << 130;
    QTest::newRow("max 251") << 130 << 251 << 130 << 130 << 32 << 130;
    QTest::newRow("max 250") << 130 << 250 << 130 << 250 << 32 << 250;
    QTest::newRow("max below min/4") << 130 << 31 << 130 << 130 << 32 << 130;
    QTest::newRow("max at min/4") << 130 << 32 << 130 << 32 << 32 << 32;
    QTest::newRow("max 1") << 0 << 1 << 0 << 1 << 0 << 1;
    QTest::newRow("both 0") << 0 << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("min 255") << 255 << 255 << 255 << 255 << 63 << 255;
}

void TestReceiver::engineSetUpThrottle()
{
    QFETCH(int, p5);
    QFETCH(int, p6);
    QFETCH(int, tpsMin);
    QFETCH(int, tpsMax);
    QFETCH(int, barMin);
    QFETCH(int, barMax);
    Bench b;
    b.feed(frame(25, payload({3, 8, 60, 5, 6, p5, p6, 0})));
    QCOMPARE(int(b.rig.state.wv.tpsMin), tpsMin);
    QCOMPARE(int(b.rig.state.wv.tpsMax), tpsMax);
    QCOMPARE(b.rig.screen.barMin("BarraTps"), barMin);
    QCOMPARE(b.rig.screen.barMax("BarraTps"), barMax);
}

// A new minimum above the bar's present maximum (and a maximum below its present
// minimum) does not stop the frame: everything after the throttle bounds still runs.
void TestReceiver::engineSetUpAlwaysCompletes()
{
    Bench b;
    int speedCalls = 0;
    b.rig.ctx.hooks.speedScaleChange = [&] { ++speedCalls; };
    b.rig.screen.setBarMin("BarraTps", 0);
    b.rig.screen.setBarMax("BarraTps", 10);
    b.feed(frame(25, payload({3, 8, 60, 5, 6, 200, 230, 2})));
    QCOMPARE(b.rig.screen.barMin("BarraTps"), 50);
    QCOMPARE(b.rig.screen.barMax("BarraTps"), 230);
    QCOMPARE(b.rig.screen.itemIndex("cbEscalaRpm"), 2);
    QCOMPARE(speedCalls, 1);
    QVERIFY(b.rig.state.linkActivity);

    b.rig.state.linkActivity = false;
    b.rig.screen.setBarMin("BarraTps", 240);
    b.rig.screen.setBarMax("BarraTps", 250);
    b.feed(frame(25, payload({3, 8, 60, 5, 6, 8, 5, 1})));
    QCOMPARE(b.rig.screen.barMin("BarraTps"), 2);
    QCOMPARE(b.rig.screen.barMax("BarraTps"), 5);
    QCOMPARE(b.rig.screen.itemIndex("cbEscalaRpm"), 1);
    QCOMPARE(speedCalls, 2);
    QVERIFY(b.rig.state.linkActivity);
    QVERIFY(b.rig.prompt.messages.isEmpty());
}

void TestReceiver::engineSetUpSpeedScale()
{
    Bench b;
    MapAxes axes(b.rig.ctx);
    int indexSeen = -2;
    b.rig.ctx.hooks.speedScaleChange = [&] {
        indexSeen = b.rig.screen.itemIndex("cbEscalaRpm");
        axes.cbEscalaRpmChange();
    };
    b.feed(frame(25, payload({3, 8, 75, 5, 12, 130, 230, 1})));
    QCOMPARE(indexSeen, 1);
    QCOMPARE(b.rig.screen.text("cbEscalaRpm"), QString("8000"));
    QCOMPARE(b.rig.screen.text("StaticText3"), QString("2000"));
    QCOMPARE(b.rig.screen.text("StaticText19"), QString("8000"));
    QCOMPARE(b.rig.screen.text("eLimiteRpm"), QString("7500"));
    QCOMPARE(b.rig.screen.text("eAvancoPartida"), QString("12"));

    b.feed(frame(25, payload({3, 8, 0, 5, 0, 130, 230, 3})));
    QCOMPARE(indexSeen, -1); // no such entry: nothing selected
    QCOMPARE(b.rig.screen.text("eLimiteRpm"), QString("0"));
    QCOMPARE(b.rig.screen.text("eAvancoPartida"), QString("0"));
}

void TestReceiver::endOfReadBack_data()
{
    QTest::addColumn<bool>("afterKindOne");
    QTest::newRow("after kind 1") << true;
    QTest::newRow("kind 26 alone") << false;
}

void TestReceiver::endOfReadBack()
{
    QFETCH(bool, afterKindOne);
    Bench b;
    b.enableAll();
    b.rx.btnLerDadosClick();
    if (afterKindOne)
        b.feed(frame(1, payload({1, 2, 3, 4, 5, 6, 7, 8})));
    b.feed(frame(26, payload({144, 0xFF, 0, 0, 0, 0, 0, 0})));
    QCOMPARE(b.rig.screen.text("eTempoCarga"), QString("3,6"));
    QCOMPARE(b.rig.screen.text("cbPontoZero"), QString("-1"));
    QCOMPARE(b.rig.screen.itemIndex("cbPontoZero"), 2);
    QVERIFY(!b.rig.screen.isVisible("pnAguarde"));
    QVERIFY(!b.rig.screen.isVisible("Panel1"));
    // The port is open: "&Ativar" stays locked.
    QCOMPARE(b.rig.screen.enabledOf(thirteenButtons()), names::transferButtons());
    QCOMPARE(b.rig.screen.barPosition("pbCarregando1"), 26);
    QVERIFY(b.rx.readBack() == Receiver::ReadBack::Idle);
    QVERIFY(!b.rig.timerReadBack.isEnabled());
}

// 9-byte reads carry no payload: only the steps of the kind that need none run.
void TestReceiver::shortReads_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("changes"); // controls allowed to change besides the bars
    // The conversion of the injection map closes too while a transfer takes its cells.
    const QStringList lock = thirteenButtons() + QStringList{"pnAguarde", "btnPercentual"};
    const QStringList unlock = names::transferButtons() + QStringList{"pnAguarde", "Panel1"};
    QTest::newRow("kind 1") << shortFrame(1) << 1 << lock;
    QTest::newRow("kind 1 one late") << raw({'P', 1, 9, 9, 9, 9, 9, 'F', ' '}) << 1 << lock;
    QTest::newRow("kind 1 two late") << raw({1, 9, 9, 9, 9, 9, 'F', ' ', ' '}) << 1 << lock;
    QTest::newRow("kind 26") << shortFrame(26) << 26 << unlock;
    for (int kind : {5, 10, 19, 22, 23, 24, 25, 29, 30, 31, 32, 33, 34})
        QTest::newRow(qPrintable(QString("kind %1").arg(kind))) << shortFrame(kind) << kind << QStringList();
}

void TestReceiver::shortReads()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(QStringList, changes);
    Bench b;
    int hookCalls = 0;
    b.rig.ctx.hooks.wheelTypeChange = [&] { ++hookCalls; };
    b.rig.ctx.hooks.speedScaleChange = [&] { ++hookCalls; };
    b.rig.ctx.hooks.tpsSample = [&](int) { ++hookCalls; };
    if (kind == 26) {
        // Locked as a read-back leaves it, with values that a payload would overwrite.
        b.rig.state.link = LinkState::Open;
        b.rig.state.readBack = Receiver::ReadBack::Receiving;
        for (const QString &btn : thirteenButtons())
            b.rig.screen.setEnabled(btn, false);
        b.rig.screen.setVisible("pnAguarde", true);
        b.rig.screen.setVisible("Panel1", true);
        b.rig.screen.setText("eTempoCarga", "9,9");
    } else {
        b.rig.state.tps = TpsPhase::Sampling;
        b.enableAll();
    }
    const Snapshot before = snapshot(b.rig.screen);
    const State stateBefore = b.rig.state;
    b.feed(bytes);

    QCOMPARE(b.rig.screen.barPosition("pbCarregando"), kind);
    QCOMPARE(b.rig.screen.barPosition("pbCarregando1"), kind);
    QStringList expectedChanges = changes;
    expectedChanges.sort();
    QCOMPARE(changedControls(before, b.rig.screen, {"pbCarregando", "pbCarregando1"}), expectedChanges);
    QCOMPARE(hookCalls, 0);
    QVERIFY(b.rig.state.linkActivity);
    QCOMPARE(b.rig.state.wv.tpsMin, stateBefore.wv.tpsMin);
    QCOMPARE(b.rig.state.wv.tpsMax, stateBefore.wv.tpsMax);
    QCOMPARE(b.rig.state.wv.toothOffset, stateBefore.wv.toothOffset);
    QCOMPARE(b.rig.state.tpsReading, stateBefore.tpsReading);
    if (kind == 1) {
        QVERIFY(b.rig.screen.isVisible("pnAguarde"));
        QCOMPARE(b.rig.screen.enabledOf(thirteenButtons()), QStringList());
        QVERIFY(b.rx.readBack() == Receiver::ReadBack::Receiving);
    }
    if (kind == 26) {
        QCOMPARE(b.rig.screen.text("eTempoCarga"), QString("9,9"));
        QCOMPARE(b.rig.screen.itemIndex("cbPontoZero"), 3);
        QVERIFY(!b.rig.screen.isVisible("Panel1"));
        QCOMPARE(b.rig.screen.enabledOf(names::transferButtons()), names::transferButtons());
    }
}

void TestReceiver::portErrorDuringRead()
{
    Rig rig;
    linktest::FailingReadPort port;
    Context ctx{rig.screen, port, rig.prompt, rig.timer1, rig.timer2, rig.timerTps, rig.timerReadBack, rig.state, {}};
    Scanner scanner(ctx);
    Receiver rx(ctx, scanner);
    rig.screen.setBarPosition("pbCarregando", 4);
    const Snapshot before = snapshot(rig.screen);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, rx.ComPort1RxChar());
    QVERIFY(!rig.state.linkActivity);
    QCOMPARE(changedControls(before, rig.screen), QStringList());
    // Through the window's guard the user sees the port's message.
    rig.guarded([&] { rx.ComPort1RxChar(); });
    QCOMPARE(rig.prompt.messages, QStringList{"ReadFile function failed (win error code: 995)"});
}

void TestReceiver::liveKindsGoToScanner()
{
    Bench b;
    QList<int> samples;
    b.rig.ctx.hooks.tpsSample = [&](int r) { samples << r; };
    b.rig.state.tps = TpsPhase::Sampling;
    b.feed(frame(29, payload({95, 1, 2, 3, 0x00, 0x02, 6, 3})));
    QCOMPARE(b.rig.screen.text("eTemperatura"), QString("95"));
    QCOMPARE(b.rig.screen.fontColor("eTemperatura"), colors::yellow);
    QCOMPARE(b.rig.screen.barPosition("Gauge1"), 3);
    QCOMPARE(samples, QList<int>{512});
    QCOMPARE(b.rig.screen.barPosition("pbCarregando"), 29);
    b.feed(shiftedByTwo(30, payload({25, 14, 0, 0, 9, 0, 0, 0})));
    QCOMPARE(b.rig.screen.text("eAvanco"), QString("25°"));
    QCOMPARE(b.rig.screen.text("ePresAtm"), QString("1000"));
    QCOMPARE(redCells(b.rig.screen, false), (QStringList{"16", "17", "24", "25"}));
    b.feed(shiftedByOne(31, payload({0xFE, 3, 5, 0xFB, 2, 1, 0, 0})));
    QCOMPARE(b.rig.screen.text("eCorSondaCurto"), QString("-2"));
    QCOMPARE(b.rig.screen.text("eCorPresAtm"), QString("-5 %"));
    QCOMPARE(b.rig.screen.barPosition("pbCarregando"), 31);
}

// Events of the read-back watchdog, one character each: c click of "&Lêr  Dados",
// t tick of the read-back timer, 1 kind-1 frame, 5 kind-5 frame, z kind-26 frame,
// g a string that is no frame, s a 9-byte kind-3 frame, e the timer switched on by hand.
void TestReceiver::readBackWatchdog_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("messages");
    QTest::addColumn<bool>("timerOn");
    QTest::addColumn<bool>("locked"); // panels shown, transfer set disabled
    // "Configurar &TPS" at the end: only kind 26 unlocks it, the time-out never does.
    QTest::addColumn<bool>("tpsButton");

    QTest::newRow("silent ECU after request") << "cttttt" + QString("t") << 1 << false << false << true;
    QTest::newRow("2.5 s silent: still waiting") << "cttttt" << 0 << true << false << true;
    QTest::newRow("silent ECU mid read-back") << "c1tttttt" << 1 << false << false << false;
    QTest::newRow("frames reset the quiet time") << "cttttt1ttttt5ttttt" << 0 << true << true << false;
    QTest::newRow("quiet after last frame") << "cttttt1ttttt5tttttt" << 1 << false << false << false;
    QTest::newRow("short frame resets too") << "c1tttttsttttt" << 0 << true << true << false;
    QTest::newRow("garbage does not reset") << "c1tttttgt" << 1 << false << false << false;
    QTest::newRow("kind 26 stops the timer") << "c1tt5zttttttttt" << 0 << false << false << true;
    QTest::newRow("unasked kind 1 is watched") << "1tttttt" << 1 << false << false << false;
    QTest::newRow("unasked kind 1 then 26") << "1ttz" << 0 << false << false << true;
    QTest::newRow("no read-back: tick stops timer") << "et" << 0 << false << false << true;
    QTest::newRow("second read-back after timeout") << "ctttttt" + QString("c1ttttt") << 1 << true << true << false;
    QTest::newRow("two time-outs") << "ctttttt" + QString("c1tttttt") << 2 << false << false << false;
}

void TestReceiver::readBackWatchdog()
{
    QFETCH(QString, events);
    QFETCH(int, messages);
    QFETCH(bool, timerOn);
    QFETCH(bool, locked);
    QFETCH(bool, tpsButton);
    Bench b;
    b.enableAll();
    for (QChar e : events) {
        switch (e.toLatin1()) {
        case 'c': b.rx.btnLerDadosClick(); break;
        case 't': b.rx.TimerReadBackTimer(); break;
        case '1': b.feed(frame(1, payload({1, 2, 3, 4, 5, 6, 7, 8}))); break;
        case '5': b.feed(frame(5, payload({1, 2, 3, 4, 5, 6, 7, 8}))); break;
        case 'z': b.feed(frame(26, payload({144, 0, 0, 0, 0, 0, 0, 0}))); break;
        case 'g': b.feed(QByteArray("garbage-here")); break;
        case 's': b.feed(shortFrame(3)); break;
        case 'e': b.rig.timerReadBack.setEnabled(true); break;
        default: QFAIL("bad event");
        }
    }
    QCOMPARE(b.rig.prompt.messages, QStringList(messages, notResponding));
    QCOMPARE(b.rig.timerReadBack.isEnabled(), timerOn);
    QCOMPARE(b.rig.screen.isVisible("pnAguarde"), locked);
    QCOMPARE(b.rig.screen.isVisible("Panel1"), locked || (timerOn && !locked));
    QStringList unlocked = names::transferButtons();
    if (!tpsButton)
        unlocked.removeAll("btnConfigurarTps");
    QCOMPARE(b.rig.screen.enabledOf(names::transferButtons()), locked ? QStringList() : unlocked);
    // The watchdog never writes to the ECU.
    for (const QByteArray &w : b.rig.port.writes)
        QCOMPARE(w, frames::command(frames::ReadRequest));
}

// When the message of the read-back watchdog shows, the window is already unlocked and
// the timer stopped, so no second message can follow while it is open.
void TestReceiver::watchdogMessageAfterUnlock()
{
    Bench b;
    b.enableAll();
    b.rx.btnLerDadosClick();
    b.feed(frame(1, payload({1, 2, 3, 4, 5, 6, 7, 8})));
    bool timerOnAtMessage = true, panelAtMessage = true;
    QStringList enabledAtMessage;
    b.rig.prompt.onMessage = [&](const QString &) {
        timerOnAtMessage = b.rig.timerReadBack.isEnabled();
        panelAtMessage = b.rig.screen.isVisible("pnAguarde") || b.rig.screen.isVisible("Panel1");
        enabledAtMessage = b.rig.screen.enabledOf(thirteenButtons());
    };
    for (int i = 0; i < 6; ++i)
        b.rx.TimerReadBackTimer();
    QCOMPARE(b.rig.prompt.messages, QStringList{notResponding});
    QVERIFY(!timerOnAtMessage);
    QVERIFY(!panelAtMessage);
    QStringList unlocked = names::transferButtons(); // btnAtivar stays disabled, and so does
    unlocked.removeAll("btnConfigurarTps");            // "Configurar &TPS": no real end
    QCOMPARE(enabledAtMessage, unlocked);
    QVERIFY(b.rx.readBack() == Receiver::ReadBack::Idle);
    b.rx.TimerReadBackTimer();
    QCOMPARE(b.rig.prompt.messages.size(), 1);
}

// Random reads of every length through the receive event. Each read is served from a
// heap buffer of exactly its length, so a read past it would trip the sanitizer build;
// every event ends with the bars at the recognised kind and the flag set.
void TestReceiver::malformedEvents()
{
    Rig rig;
    ExactPort port;
    Context ctx{rig.screen, port, rig.prompt, rig.timer1, rig.timer2, rig.timerTps, rig.timerReadBack, rig.state, {}};
    ConfigFields config(ctx);
    MapAxes axes(ctx);
    int samples = 0;
    ctx.hooks.wheelTypeChange = [&] { config.cbTipoRodaFonicaChange(); };
    ctx.hooks.speedScaleChange = [&] { axes.cbEscalaRpmChange(); };
    ctx.hooks.tpsSample = [&](int reading) {
        QVERIFY(reading >= 0 && reading <= 65535);
        ++samples;
    };
    Scanner scanner(ctx);
    Receiver rx(ctx, scanner);

    QRandomGenerator rng(424242);
    const char special[] = {'H', 'P', 'F', ' '};
    int recognised = 0, withPayload = 0;
    for (int round = 0; round < 4000; ++round) {
        const int n = rng.bounded(2) == 0 ? (rng.bounded(2) ? 9 : 12) : rng.bounded(0, 13);
        QByteArray s;
        for (int i = 0; i < n; ++i)
            s.append(rng.bounded(3) == 0 ? special[rng.bounded(4)] : char(rng.bounded(256)));
        // Make a good share of them frames of some layout, with any kind.
        if (n >= 9 && rng.bounded(4) != 0) {
            switch (rng.bounded(3)) {
            case 0: s[0] = 'H'; s[1] = 'P'; s[n - 1] = 'F'; break;
            case 1: s[0] = 'P'; s[n - 2] = 'F'; s[n - 1] = ' '; break;
            default: s[n - 3] = 'F'; s[n - 2] = ' '; s[n - 1] = ' '; break;
            }
        }
        rig.state.tps = rng.bounded(2) ? TpsPhase::Sampling : TpsPhase::None;
        rig.state.linkActivity = false;
        port.pending = s;
        const frames::Frame expected = frames::recognise(s);
        bool threw = false;
        try {
            rx.ComPort1RxChar();
        } catch (...) {
            threw = true;
        }
        QVERIFY2(!threw, qPrintable("round " + QString::number(round) + ": " + s.toHex(' ')));
        QCOMPARE(port.lastCount, 12);
        QCOMPARE(rig.screen.barPosition("pbCarregando"), expected.kind);
        QCOMPARE(rig.screen.barPosition("pbCarregando1"), expected.kind);
        QVERIFY(rig.state.linkActivity);
        QVERIFY(!expected.hasPayload || n == 12);
        recognised += expected.kind != 0;
        withPayload += expected.hasPayload;
        // The read-back watchdog stays consistent whatever arrived.
        QCOMPARE(rig.timerReadBack.isEnabled(), rx.readBack() != Receiver::ReadBack::Idle);
    }
    QVERIFY(recognised > 1000);
    QVERIFY(withPayload > 500);
    QVERIFY(samples > 0);
    QVERIFY(port.writes.isEmpty());
}

QTEST_GUILESS_MAIN(TestReceiver)
#include "tst_receiver.moc"
