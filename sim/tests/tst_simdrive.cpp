// The simulator's drive cycle as a function of time: what the engine does in
// each phase, that every value fits its frame, and that the cycle repeats.
#include "drive.h"
#include "points.h"

#include <QSet>
#include <QtTest>

#include <cstdint>

using namespace ecusim;

Q_DECLARE_METATYPE(ecusim::DrivePhase)

namespace {

constexpr double W = kWarmUp;
double kPointsCycle() { return pointsCycleLength(); }

int u8(const Bytes &f, int i) { return f[3 + i]; }
int s8(const Bytes &f, int i) { return std::int8_t(f[3 + i]); }
int u16(const Bytes &f, int i) { return f[3 + i] + 256 * f[4 + i]; }

// The frames read back the way the tool reads them.
LiveValues decode(const std::array<Bytes, 3> &frames)
{
    const Bytes &a = frames[0], &b = frames[1], &c = frames[2];
    LiveValues v;
    v.temp = u8(a, 0);
    v.mapColumn = u8(a, 1);
    v.idle = u8(a, 2);
    v.probe = u8(a, 3);
    v.tps = u16(a, 4);
    v.tpsColumn = u8(a, 6);
    v.load = u8(a, 7);
    v.advance = u8(b, 0);
    v.speed = s8(b, 1);
    v.injection = u16(b, 2);
    v.atmStep = u8(b, 4);
    v.period = u16(b, 5);
    v.pump = u8(b, 7) != 0;
    v.shortCorr = s8(c, 0);
    v.longCorr = s8(c, 1);
    v.tempCorr = s8(c, 2);
    v.atmCorr = s8(c, 3);
    v.advCorr = s8(c, 4);
    v.fan = u8(c, 5) != 0;
    v.ac = u8(c, 6) != 0;
    return v;
}

int rpmOf(const LiveValues &v) { return v.period > 0 ? 1200000 / v.period : 0; }

QString describe(double t, const LiveValues &v)
{
    return QStringLiteral("t %1: rpm %2 speed %3 load %4 tps %5 temp %6 ti40 %7 probe %8")
        .arg(t)
        .arg(rpmOf(v))
        .arg(v.speed)
        .arg(v.load)
        .arg(v.tps)
        .arg(v.temp)
        .arg(v.injection)
        .arg(v.probe);
}

} // namespace

class TestSimDrive : public QObject {
    Q_OBJECT
private slots:
    void phases_data();
    void phases();
    void everyMomentFitsTheFrames();
    void cycleRepeats_data();
    void cycleRepeats();
    void warmUp();
    void imageSettings_data();
    void imageSettings();
    void pointsHeld_data();
    void pointsHeld();
    void pointsCoverTheReachableCells();
};

void TestSimDrive::phases_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<DrivePhase>("phase");
    QTest::addColumn<int>("rpmLo");
    QTest::addColumn<int>("rpmHi");
    QTest::addColumn<int>("loadLo");
    QTest::addColumn<int>("loadHi");
    QTest::addColumn<bool>("injecting");
    QTest::addColumn<int>("probeLo"); // tens of mV
    QTest::addColumn<int>("probeHi");
    QTest::addColumn<int>("tempLo");
    QTest::addColumn<int>("tempHi");

    using P = DrivePhase;
    // Cold: a fast idle and the probe's middle reading, open loop.
    QTest::newRow("cold idle") << 3.0 << P::Idle << 1150 << 1250 << 0 << 0 << true << 45 << 45
                               << 20 << 23;
    QTest::newRow("warm idle") << W + 3 << P::Idle << 870 << 930 << 0 << 0 << true << 10 << 85
                               << 79 << 81;
    QTest::newRow("first gear") << W + 10 << P::Pull << 3000 << 3400 << 24 << 30 << true << 10
                                << 85 << 82 << 84;
    QTest::newRow("shift: throttle closed, injectors cut")
        << W + 12.75 << P::Shift << 3000 << 4800 << 0 << 0 << false << 5 << 5 << 83 << 84;
    QTest::newRow("third gear") << W + 22 << P::Pull << 3900 << 4300 << 27 << 30 << true << 10
                                << 85 << 86 << 88;
    QTest::newRow("cruise") << W + 33 << P::Cruise << 2650 << 2950 << 6 << 12 << true << 10 << 85
                            << 89 << 92;
    QTest::newRow("overrun: no injection, lean") << W + 43 << P::Overrun << 2000 << 2500 << 0
                                                 << 0 << false << 0 << 10 << 86 << 90;
    QTest::newRow("full throttle: full load, rich")
        << W + 51 << P::FullThrottle << 4000 << 5000 << 42 << 42 << true << 85 << 100 << 83 << 86;
    QTest::newRow("lift-off above the resume speed")
        << W + 55 << P::LiftOff << 3000 << 5000 << 0 << 0 << false << 0 << 10 << 80 << 82;
    QTest::newRow("lift-off, fuel back on") << W + 59.5 << P::LiftOff << 900 << 1500 << 0 << 0
                                            << true << 45 << 45 << 79 << 80;
}

void TestSimDrive::phases()
{
    QFETCH(double, t);
    QFETCH(DrivePhase, phase);
    QFETCH(int, rpmLo);
    QFETCH(int, rpmHi);
    QFETCH(int, loadLo);
    QFETCH(int, loadHi);
    QFETCH(bool, injecting);
    QFETCH(int, probeLo);
    QFETCH(int, probeHi);
    QFETCH(int, tempLo);
    QFETCH(int, tempHi);
    const Image image = defaultImage();
    const DriveState d = driveState(image, t);
    const LiveValues v = decode(encodeLive(driveValues(image, t)));
    const QString what = describe(t, v);
    QCOMPARE(phaseName(d.phase), phaseName(phase));
    QVERIFY2(rpmOf(v) >= rpmLo && rpmOf(v) <= rpmHi, qPrintable(what));
    QVERIFY2(v.load >= loadLo && v.load <= loadHi, qPrintable(what));
    QCOMPARE(v.injection > 0, injecting);
    QVERIFY2(v.probe >= probeLo && v.probe <= probeHi, qPrintable(what));
    QVERIFY2(v.temp >= tempLo && v.temp <= tempHi, qPrintable(what));
    QVERIFY(v.pump);
    // A closed throttle reads just above the image's closed stop (130); an open one
    // follows the load.
    if (v.load == 0)
        QVERIFY2(v.tps >= 130 && v.tps <= 135 && v.tpsColumn == 0, qPrintable(what));
    if (v.load == 42)
        QCOMPARE(v.tpsColumn, 100);
}

void TestSimDrive::everyMomentFitsTheFrames()
{
    const Image image = defaultImage();
    QSet<int> cells, rows, columns;
    int fanOn = 0, acOn = 0;
    for (int i = 0; i <= int((W + 2 * kDriveCycle) * 20); ++i) {
        const double t = i / 20.0;
        const LiveValues v = driveValues(image, t);
        const QString what = describe(t, v);
        // Read back as the tool reads them, the frames give the same values: none
        // was cut to its bytes.
        QVERIFY2(decode(encodeLive(v)) == v, qPrintable(what));
        QVERIFY2(v.speed >= 0 && v.speed <= 48, qPrintable(what));
        QVERIFY2(v.load >= 0 && v.load <= 42, qPrintable(what));
        QVERIFY2(v.tps >= 0 && v.tps <= 1023, qPrintable(what));
        QVERIFY2(v.tpsColumn >= 0 && v.tpsColumn <= 100, qPrintable(what));
        QVERIFY2(v.probe >= 0 && v.probe <= 100, qPrintable(what)); // at most 1000 mV
        QVERIFY2(v.idle >= 0 && v.idle <= 100, qPrintable(what));
        QVERIFY2(v.period > 0 && rpmOf(v) >= 850 && rpmOf(v) <= 6100, qPrintable(what));
        QVERIFY2(v.temp >= 20 && v.temp <= 92, qPrintable(what));
        QVERIFY2(v.shortCorr >= -5 && v.shortCorr <= 5, qPrintable(what));
        QCOMPARE(v.atmStep, 9); // 1000 mbar
        // Injector opening in percent, as the scanner works it out: never stuck open.
        const double opening = rpmOf(v) * ((v.injection / 4) / 10.0) / 600.0;
        QVERIFY2(opening < 100, qPrintable(what));
        cells << 8 * (v.speed / 6) + v.load / 6;
        rows << v.speed / 6;
        columns << v.load / 6;
        fanOn += v.fan;
        acOn += v.ac;
    }
    // The engine goes through the maps, so the scanner marks cells all over them.
    QCOMPARE(rows.size(), 8); // rows 0..7: up to 6000 rpm (position 43)
    QVERIFY2(columns.contains(0) && columns.contains(7) && columns.size() >= 5,
             qPrintable(QString::number(columns.size())));
    QVERIFY2(cells.size() >= 20, qPrintable(QString::number(cells.size())));
    QVERIFY(fanOn > 0);
    QVERIFY(acOn > 0);
}

void TestSimDrive::cycleRepeats_data()
{
    QTest::addColumn<double>("t");
    QTest::newRow("idle") << W + 2.3;
    QTest::newRow("first gear") << W + 9.1;
    QTest::newRow("shift") << W + 18.7;
    QTest::newRow("cruise") << W + 31.35;
    QTest::newRow("overrun") << W + 40.0;
    QTest::newRow("full throttle") << W + 50.55;
    QTest::newRow("lift-off") << W + 57.2;
}

void TestSimDrive::cycleRepeats()
{
    QFETCH(double, t);
    const Image image = defaultImage();
    const LiveValues v = driveValues(image, t);
    QVERIFY(driveValues(image, t + kDriveCycle) == v);
    QVERIFY(driveValues(image, t + 10 * kDriveCycle) == v);
    // Speed and load move the same way during the warm-up too.
    const double cold = t - W;
    QCOMPARE(driveValues(image, cold + kDriveCycle).load, v.load);
    // Within the cycle, the moment half a cycle on is another one.
    QVERIFY(!(driveValues(image, t + kDriveCycle / 2) == v));
}

void TestSimDrive::warmUp()
{
    const Image image = defaultImage();
    int last = driveValues(image, 0).temp;
    QCOMPARE(last, 20);
    for (double t = 1; t <= W; t += 1) {
        const int temp = driveValues(image, t).temp;
        QVERIFY2(temp >= last, qPrintable(QStringLiteral("%1 °C at %2 s after %3").arg(temp).arg(t).arg(last)));
        last = temp;
    }
    QCOMPARE(last, 79);
    // The long-term correction learns during the warm-up and then holds.
    QCOMPARE(driveValues(image, 0).longCorr, 0);
    QCOMPARE(driveValues(image, W).longCorr, 2);
    QCOMPARE(driveValues(image, W + 500).longCorr, 2);
    // A negative time is the start.
    QVERIFY(driveValues(image, -5) == driveValues(image, 0));
}

void TestSimDrive::imageSettings_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("value"); // -1: the image as delivered
    QTest::addColumn<double>("t");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("expected");

    QTest::newRow("cut-off 2200: overrun from 2800 cuts") << 0 << -1 << W + 43 << "injection" << 0;
    QTest::newRow("cut-off 3000: overrun from 2800 keeps fuel")
        << int(kCutOff) << 30 << W + 43 << "injecting" << 1;
    QTest::newRow("resume at 1500: still cut at 1700") << 0 << -1 << W + 46.9 << "injection" << 0;
    QTest::newRow("resume at 2000: fuel back at 1700")
        << int(kCutOn) << 20 << W + 46.9 << "injecting" << 1;
    QTest::newRow("fan on at 87: on at 92 °C") << 0 << -1 << W + 36 << "fan" << 1;
    QTest::newRow("fan on at 95: off at 92 °C") << int(kFanOn) << 95 << W + 36 << "fan" << 0;
    QTest::newRow("fan off at 80: still on at 81 °C") << 0 << -1 << W + 56 << "fan" << 1;
    QTest::newRow("fan off at 85: off at 81 °C") << int(kFanOff) << 85 << W + 56 << "fan" << 0;
    QTest::newRow("full throttle at the image's top, 230 * 4")
        << 0 << -1 << W + 51 << "tps" << 920;
    QTest::newRow("full throttle at the image's top, 200 * 4")
        << int(kTpsMax) << 200 << W + 51 << "tps" << 800;
    QTest::newRow("probe working from 30 °C: closed loop at 40 °C")
        << 0 << -1 << 33.0 << "shortCorrMoves" << 1;
    QTest::newRow("probe working from 50 °C: open loop at 40 °C")
        << int(kLambdaTemp) << 50 << 33.0 << "shortCorrMoves" << 0;
}

void TestSimDrive::imageSettings()
{
    QFETCH(int, offset);
    QFETCH(int, value);
    QFETCH(double, t);
    QFETCH(QString, field);
    QFETCH(int, expected);
    Image image = defaultImage();
    if (value >= 0)
        image[offset] = std::uint8_t(value);
    const LiveValues v = driveValues(image, t);
    int actual = -1;
    if (field == QLatin1String("injection"))
        actual = v.injection;
    else if (field == QLatin1String("injecting"))
        actual = v.injection > 0;
    else if (field == QLatin1String("fan"))
        actual = v.fan;
    else if (field == QLatin1String("tps"))
        actual = v.tps;
    else if (field == QLatin1String("shortCorrMoves"))
        actual = v.shortCorr != driveValues(image, t + 0.3).shortCorr;
    QCOMPARE(actual, expected);
}

void TestSimDrive::pointsHeld_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("speed"); // LinhaRPM
    QTest::addColumn<int>("load");  // Carga
    QTest::addColumn<double>("start");
    QTest::addColumn<int>("speedScale");
    QTest::addColumn<int>("tpsMin");
    QTest::addColumn<int>("tpsMax"); // quarters of the reading, as in the image

    QTest::newRow("idle, closed throttle") << 0 << 6 << 0 << 0.0 << 0 << 130 << 230;
    QTest::newRow("idle speed, first load") << 1 << 6 << 6 << 4.0 << 0 << 130 << 230;
    QTest::newRow("idle speed, full throttle") << 7 << 6 << 42 << 28.0 << 0 << 130 << 230;
    QTest::newRow("row 2 starts at full throttle") << 8 << 12 << 42 << 32.0 << 0 << 130 << 230;
    QTest::newRow("row 2 ends at load 6") << 14 << 12 << 6 << 56.0 << 0 << 130 << 230;
    QTest::newRow("row 4, middle") << 25 << 24 << 24 << 100.0 << 0 << 130 << 230;
    QTest::newRow("last point, 5800 rpm full throttle") << 49 << 42 << 42 << 196.0 << 0 << 130 << 230;
    QTest::newRow("speed scale 2") << 25 << 24 << 24 << 100.0 << 2 << 130 << 230;
    QTest::newRow("speed scale 2, last point") << 49 << 42 << 42 << 196.0 << 2 << 130 << 230;
    QTest::newRow("throttle 60..800") << 14 << 12 << 6 << 56.0 << 0 << 60 << 200;
    QTest::newRow("throttle 60..800, idle") << 0 << 6 << 0 << 0.0 << 0 << 60 << 200;
    QTest::newRow("throttle 60..800, full") << 7 << 6 << 42 << 28.0 << 0 << 60 << 200;
}

// Over the whole hold the frames, decoded as the tool decodes them, mark the
// point's own position; the throttle stays within what the analysis calls steady
// (less than 51 of 1023 over half a second) and the injectors run. The hold lasts
// its 3 s: moving before and after.
void TestSimDrive::pointsHeld()
{
    QFETCH(int, index);
    QFETCH(int, speed);
    QFETCH(int, load);
    QFETCH(double, start);
    QFETCH(int, speedScale);
    QFETCH(int, tpsMin);
    QFETCH(int, tpsMax);
    Image image = defaultImage();
    image[kSpeedScale] = std::uint8_t(speedScale);
    image[kTpsMin] = std::uint8_t(tpsMin);
    image[kTpsMax] = std::uint8_t(tpsMax);
    const SteadyPoint &p = steadyPoints().at(std::size_t(index));
    QCOMPARE(p.speed, speed);
    QCOMPARE(p.load, load);
    QCOMPARE(p.start, start);
    constexpr auto P = DriveCycle::Points;
    for (const double t : {start, start + kPointsCycle()}) {
        int tpsLo = 1023, tpsHi = 0;
        for (double at = t; at < t + kPointHold - 1e-9; at += 0.05) {
            const LiveValues v = decode(encodeLive(driveValues(image, at, P)));
            const QString what = describe(at, v);
            QCOMPARE(phaseName(driveState(image, at, P).phase), "hold");
            QVERIFY2(v.speed == speed && v.load == load, qPrintable(what));
            QVERIFY2(v.injection > 0 && v.temp == kPointsTemp && !v.fan && !v.ac, qPrintable(what));
            tpsLo = std::min(tpsLo, v.tps);
            tpsHi = std::max(tpsHi, v.tps);
        }
        QVERIFY2(tpsHi - tpsLo < 51, qPrintable(QStringLiteral("%1..%2").arg(tpsLo).arg(tpsHi)));
        QCOMPARE(phaseName(driveState(image, t + kPointHold, P).phase), "move");
        if (t > 0)
            QCOMPARE(phaseName(driveState(image, t - 0.01, P).phase), "move");
    }
    // Full throttle is the image's top stop.
    if (load == 42)
        QCOMPARE(driveValues(image, start + 1, P).tps, 4 * tpsMax);
}

// One point at the node of every cell of rows 1 to 7 and columns 1 to 7, and idle;
// each move goes to a neighbouring node; nothing leaves the frames' ranges, the
// injectors never stop; the drive repeats.
void TestSimDrive::pointsCoverTheReachableCells()
{
    const Image image = defaultImage();
    const auto &points = steadyPoints();
    QSet<int> cells;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const SteadyPoint &p = points[i];
        QVERIFY(p.speed % 6 == 0 && p.load % 6 == 0);
        cells << 8 * (p.speed / 6) + p.load / 6;
        if (i > 0) {
            const int step = std::abs(p.speed - points[i - 1].speed) + std::abs(p.load - points[i - 1].load);
            QCOMPARE(step, 6);
        }
    }
    QCOMPARE(points.size(), std::size_t(50));
    QCOMPARE(cells.size(), 50);
    QVERIFY(cells.contains(8));
    for (int row = 1; row <= 7; ++row)
        for (int column = 1; column <= 7; ++column)
            QVERIFY(cells.contains(8 * row + column));
    QCOMPARE(kPointsCycle(), 202.0);
    QCOMPARE(cycleLength(DriveCycle::Points), kPointsCycle());
    QCOMPARE(cycleLength(DriveCycle::Free), kDriveCycle);

    const double length = kPointsCycle();
    for (int i = 0; i < int(length * 20); ++i) {
        const double t = i / 20.0;
        const LiveValues v = driveValues(image, t, DriveCycle::Points);
        const QString what = describe(t, v);
        QVERIFY2(decode(encodeLive(v)) == v, qPrintable(what));
        QVERIFY2(v.speed >= 6 && v.speed <= 42 && v.load >= 0 && v.load <= 42, qPrintable(what));
        QVERIFY2(rpmOf(v) >= 900 && rpmOf(v) <= 6000, qPrintable(what));
        QVERIFY2(v.injection > 0, qPrintable(what)); // the throttle closes at idle speed
        QVERIFY(driveValues(image, t + 3 * length, DriveCycle::Points) == v);
    }
    // The free drive stays the default.
    QVERIFY(driveValues(image, W + 22) == driveValues(image, W + 22, DriveCycle::Free));
    QVERIFY(!(driveValues(image, W + 22) == driveValues(image, W + 22, DriveCycle::Points)));
}

QTEST_GUILESS_MAIN(TestSimDrive)
#include "tst_simdrive.moc"
