// The engine's fuel need and the ECU's lambda loop around it: the cells the
// loop reads between, the need file, where the loop corrects and where not, and
// that its settled corrections say by how much the uploaded map misses the need.
#include "engine.h"

#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <fstream>

using namespace ecusim;
using CellShares = QMap<int, double>;

namespace {

constexpr double W = kWarmUp;

Image withInjection(Image image, const FuelMap &map)
{
    for (int k = 0; k < kCells; ++k)
        image[std::size_t(72 + k)] = std::uint8_t(std::lround(map[std::size_t(k)]));
    return image;
}

// What a tuner reads off a log of the drive: per cell the weighted mean of
// short + long correction over the moments the loop ran with the throttle and
// the cell steady (the same filters a correction of the map applies).
// Beside it, what a perfectly settled loop would show over the same moments: the
// need's departure from the map between the four cells.
struct CellMeans {
    double hits[kCells] = {};
    double sum[kCells] = {};
    double idealSum[kCells] = {};
    double mean(int k) const { return sum[k] / hits[k]; }
    double ideal(int k) const { return idealSum[k] / hits[k]; }
};

CellMeans driveAndCollect(EngineModel &model, const Image &image, double from, double to)
{
    CellMeans m;
    QList<int> tps, cells;
    for (double t = from; t < to; t += kControlStep) {
        model.advanceTo(image, t);
        const LiveValues v = model.values(image, t);
        tps << v.tps;
        cells << 8 * (v.speed / 6) + v.load / 6;
        const int n = int(tps.size());
        if (n < 10 || v.injection == 0 || v.temp < 70 || v.probe < 5 || v.probe > 95)
            continue;
        bool steady = true;
        for (int i = n - 10; i < n; ++i)
            steady = steady && std::abs(tps[i] - v.tps) < 51;
        for (int i = n - 6; i < n; ++i)
            steady = steady && cells[i] == cells.last();
        if (!steady)
            continue;
        const CellWeights w = cellWeights(v.speed, v.load);
        const double ideal =
            (interpolate(model.need(), w) / interpolate(injectionMapOf(image), w) - 1) * 100;
        for (int i = 0; i < w.count; ++i) {
            m.hits[w.cell[i]] += w.weight[i];
            m.sum[w.cell[i]] += w.weight[i] * (v.shortCorr + v.longCorr);
            m.idealSum[w.cell[i]] += w.weight[i] * ideal;
        }
    }
    return m;
}

} // namespace

class TestSimEngine : public QObject {
    Q_OBJECT
private slots:
    void weights_data();
    void weights();
    void builtInNeed_data();
    void builtInNeed();
    void needFile_data();
    void needFile();
    void settledCorrections_data();
    void settledCorrections();
    void noCorrection_data();
    void noCorrection();
    void newImageForgetsTheLearned();
    void narrowBand_data();
    void narrowBand();
    void realisticDrive_data();
    void realisticDrive();
};

void TestSimEngine::weights_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("load");
    QTest::addColumn<CellShares>("expected");
    QTest::newRow("on a cell") << 0 << 0 << CellShares{{0, 1.0}};
    QTest::newRow("half way both ways") << 9 << 3
        << CellShares{{8, 0.25}, {16, 0.25}, {9, 0.25}, {17, 0.25}};
    QTest::newRow("uneven") << 13 << 40
        << CellShares{{22, 10 / 36.0}, {30, 2 / 36.0}, {23, 20 / 36.0}, {31, 4 / 36.0}};
    QTest::newRow("last column: no cell to the right") << 20 << 42
        << CellShares{{31, 4 / 6.0}, {39, 2 / 6.0}};
    QTest::newRow("last row: no cell below") << 48 << 21
        << CellShares{{67, 0.5}, {68, 0.5}};
    QTest::newRow("top corner") << 48 << 42 << CellShares{{71, 1.0}};
}

void TestSimEngine::weights()
{
    QFETCH(int, speed);
    QFETCH(int, load);
    QFETCH(CellShares, expected);
    const CellWeights w = cellWeights(speed, load);
    QMap<int, double> got;
    for (int i = 0; i < w.count; ++i) {
        QVERIFY(w.cell[i] >= 0 && w.cell[i] < kCells);
        if (w.weight[i] > 0)
            got[w.cell[i]] += w.weight[i];
    }
    QCOMPARE(got.keys(), expected.keys());
    for (int cell : expected.keys())
        QVERIFY2(std::fabs(got[cell] - expected[cell]) < 1e-9, qPrintable(QString::number(cell)));
}

void TestSimEngine::builtInNeed_data()
{
    QTest::addColumn<int>("cell");
    QTest::addColumn<int>("percent");
    QTest::addColumn<double>("need");
    // Start-up cells 3,5 5,2 ... 8,1 ms; the need in tenths, rounded.
    QTest::newRow("cell 0: 3,5 ms as it is") << 0 << 0 << 35.0;
    QTest::newRow("cell 1: 5,2 ms less 6 %") << 1 << -6 << 49.0;
    QTest::newRow("cell 4: 7,4 ms less 15 %") << 4 << -15 << 63.0;
    QTest::newRow("cell 8: 3,1 ms plus 6 %") << 8 << 6 << 33.0;
    QTest::newRow("cell 32: 2,4 ms plus 15 %") << 32 << 15 << 28.0;
    QTest::newRow("cell 71: 8,1 ms plus 6 %") << 71 << 6 << 86.0;
}

void TestSimEngine::builtInNeed()
{
    QFETCH(int, cell);
    QFETCH(int, percent);
    QFETCH(double, need);
    QCOMPARE(needPatternPercent(cell), percent);
    QCOMPARE(ecusim::builtInNeed()[std::size_t(cell)], need);
}

void TestSimEngine::needFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error"); // empty: loads, cell 0 gives 4,2 ms and cell 71 2,5 ms

    auto file = [](const QByteArray &cell0, const QByteArray &cell71, int fields = 202,
                   const QByteArray &end = "\r\n") {
        QList<QByteArray> f(fields, "0");
        if (fields >= 152) {
            for (int k = 0; k < 72; ++k)
                f[80 + k] = "6,1";
            f[80] = cell0;
            f[151] = cell71;
        }
        return f.join(';') + end;
    };
    const QString where = QStringLiteral("%1: field %2 (injection cell %3) \"%4\" is not an "
                                         "injection time from 0,1 to 25,5 ms");
    QTest::newRow("decimal comma, CR LF") << file("4,2", "2,5") << QString();
    QTest::newRow("decimal point, no line end") << file("4.2", "2.5", 202, "") << QString();
    QTest::newRow("hundredths") << file("4,25", "2,5") << where.arg("%1", "81", "0", "4,25");
    QTest::newRow("zero") << file("4,2", "0") << where.arg("%1", "152", "71", "0");
    QTest::newRow("above 25,5") << file("25,6", "2,5") << where.arg("%1", "81", "0", "25,6");
    QTest::newRow("negative") << file("-1", "2,5") << where.arg("%1", "81", "0", "-1");
    QTest::newRow("empty") << file("", "2,5") << where.arg("%1", "81", "0", "");
    QTest::newRow("201 fields") << file("4,2", "2,5", 201)
        << QStringLiteral("%1: not a map file (one line of 202 fields separated by ';', found 201 fields)");
    QTest::newRow("two lines") << QByteArray(file("4,2", "2,5") + file("4,2", "2,5"))
        << QStringLiteral("%1: not a map file (one line of 202 fields separated by ';', found 403 fields)");
}

void TestSimEngine::needFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const std::string path = (dir.path() + QStringLiteral("/need.txt")).toStdString();
    {
        std::ofstream out(path, std::ios::binary);
        out.write(content.constData(), content.size());
    }
    FuelMap need = ecusim::builtInNeed();
    const FuelMap before = need;
    std::string message;
    const bool ok = loadNeed(path, need, message);
    QCOMPARE(QString::fromStdString(message), error.isEmpty() ? QString() : error.arg(QString::fromStdString(path)));
    QCOMPARE(ok, error.isEmpty());
    if (ok) {
        QCOMPARE(need[0], 42.0);
        QCOMPARE(need[1], 61.0);
        QCOMPARE(need[71], 25.0);
    } else {
        QVERIFY(need == before);
    }

    std::string missing;
    QVERIFY(!loadNeed(path + ".none", need, missing));
    QCOMPARE(QString::fromStdString(missing),
             QStringLiteral("cannot read %1.none: No such file or directory")
                 .arg(QString::fromStdString(path)));
}

void TestSimEngine::settledCorrections_data()
{
    QTest::addColumn<bool>("needUploaded");
    QTest::newRow("the need uploaded: nothing to correct") << true;
    QTest::newRow("the start-up map: the pattern") << false;
}

// Three warm cycles with the map in the module: every covered cell's mean
// correction is what a settled loop shows there, the need's departure from the
// map read between the cells.
void TestSimEngine::settledCorrections()
{
    QFETCH(bool, needUploaded);
    const FuelMap need = ecusim::builtInNeed();
    const Image image = needUploaded ? withInjection(defaultImage(), need) : defaultImage();
    const FuelMap map = injectionMapOf(image);
    EngineModel model(need);
    model.advanceTo(image, W);
    const CellMeans m = driveAndCollect(model, image, W, W + 3 * kDriveCycle);
    int covered = 0;
    double worstIdeal = 0, largest = 0;
    int wrongSign = 0;
    QString report;
    for (int k = 0; k < kCells; ++k) {
        if (m.hits[k] < 20)
            continue;
        ++covered;
        const double atCell = (need[std::size_t(k)] / map[std::size_t(k)] - 1) * 100;
        worstIdeal = std::max(worstIdeal, std::fabs(m.mean(k) - m.ideal(k)));
        if (std::fabs(atCell) >= 5 && m.mean(k) * atCell <= 0)
            ++wrongSign;
        largest = std::max(largest, std::fabs(m.mean(k)));
        report += QStringLiteral(" cell %1: %2 (settled %3, cell %4, %5 hits);")
                      .arg(k)
                      .arg(m.mean(k), 0, 'f', 1)
                      .arg(m.ideal(k), 0, 'f', 1)
                      .arg(atCell, 0, 'f', 1)
                      .arg(m.hits[k], 0, 'f', 0);
    }
    QVERIFY2(covered >= 10, qPrintable(report));
    QVERIFY2(worstIdeal < 1.5, qPrintable(report));
    // Read between the cells, a cell's mean is smoothed by its neighbours, but a
    // cell that needs 5 % or more either way shows it.
    QCOMPARE(wrongSign, 0);
    if (needUploaded)
        QVERIFY2(largest < 1.5, qPrintable(report));
    else
        QVERIFY2(largest > 8, qPrintable(report)); // the pattern shows
}

void TestSimEngine::noCorrection_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("value");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<bool>("corrects");
    const int none = -1;
    QTest::newRow("warm cruise corrects") << none << 0 << W + 27.0 << W + 39.0 << true;
    QTest::newRow("lambda off: none in cruise") << int(kLambdaActivity) << kLambdaOff << W + 27.0
                                                << W + 39.0 << false;
    QTest::newRow("below eSondaTemp 95: none") << int(kLambdaTemp) << 95 << W + 27.0 << W + 39.0
                                               << false;
    QTest::newRow("cold engine, below 30 °C: none") << none << 0 << 3.0 << 12.0 << false;
    QTest::newRow("overrun cut-off: none") << none << 0 << W + 40.0 << W + 46.0 << false;
    QTest::newRow("off at idle: none at idle") << int(kLambdaActivity) << kLambdaOffAtIdle << W + 1.0
                                               << W + 7.0 << false;
    QTest::newRow("off at idle: cruise corrects") << int(kLambdaActivity) << kLambdaOffAtIdle
                                                  << W + 27.0 << W + 39.0 << true;
}

// Where the ECU does not correct, both corrections read 0 and the injection time
// is the map's; where it does, the corrections move with the probe.
void TestSimEngine::noCorrection()
{
    QFETCH(int, offset);
    QFETCH(int, value);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(bool, corrects);
    Image image = defaultImage();
    if (offset >= 0)
        image[std::size_t(offset)] = std::uint8_t(value);
    EngineModel model(ecusim::builtInNeed());
    // A warm engine has learned already: the learned values must not show either.
    model.advanceTo(image, from - 30);
    Image learning = defaultImage();
    model.advanceTo(learning, from);
    const EngineModel fresh(ecusim::builtInNeed());
    int nonZero = 0, rich = 0, lean = 0;
    for (double t = from; t < to; t += kControlStep) {
        model.advanceTo(image, t);
        const LiveValues v = model.values(image, t);
        if (v.shortCorr != 0 || v.longCorr != 0)
            ++nonZero;
        if (v.probe > 45)
            ++rich;
        else
            ++lean;
        // Without correction the injection time is the map's, as a loop that
        // never learned anything gives it.
        if (!corrects)
            QCOMPARE(v.injection, fresh.values(image, t).injection);
    }
    if (corrects) {
        QVERIFY(nonZero > 0);
        QVERIFY2(rich > 10 && lean > 10, qPrintable(QStringLiteral("%1 rich, %2 lean").arg(rich).arg(lean)));
    } else {
        QCOMPARE(nonZero, 0);
    }
}

void TestSimEngine::newImageForgetsTheLearned()
{
    const Image image = defaultImage();
    EngineModel model(ecusim::builtInNeed());
    model.advanceTo(image, W);
    model.advanceTo(image, W + kDriveCycle);
    double learned = 0;
    for (int k = 0; k < kCells; ++k)
        learned += std::fabs(model.learned(k));
    QVERIFY(learned > 10);
    model.newImage();
    for (int k = 0; k < kCells; ++k)
        QCOMPARE(model.learned(k), 0.0);
    QCOMPARE(model.shortCorrection(), 0.0);
}

void TestSimEngine::narrowBand_data()
{
    QTest::addColumn<double>("lambda");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("lambda 1") << 1.0 << 449.0 << 451.0;
    QTest::newRow("power-rich 0,88") << 0.88 << 800.0 << 900.0;
    QTest::newRow("0,95 reads as rich as 0,88") << 0.95 << 800.0 << 900.0;
    QTest::newRow("lean 1,1") << 1.1 << 50.0 << 100.0;
    QTest::newRow("1 % rich") << 0.99 << 600.0 << 750.0;
}

// The probe cannot tell lambda 0,95 from 0,85: both read near its rich rail.
void TestSimEngine::narrowBand()
{
    QFETCH(double, lambda);
    QFETCH(double, low);
    QFETCH(double, high);
    const double mv = narrowBandMillivolts(lambda);
    QVERIFY2(mv >= low && mv <= high, qPrintable(QString::number(mv)));
}

void TestSimEngine::realisticDrive_data()
{
    QTest::addColumn<bool>("realistic");
    QTest::addColumn<int>("phase");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("target");
    // The need uploaded, warm: the map is right everywhere.
    QTest::newRow("kind: full throttle reads right") << false << int(DrivePhase::FullThrottle) << -2.0 << 2.0 << 450;
    QTest::newRow("real: full throttle, power-rich map pulled lean")
        << true << int(DrivePhase::FullThrottle) << -14.0 << -6.0 << 820;
    QTest::newRow("real: part load near right") << true << int(DrivePhase::Pull) << -3.0 << 3.5 << 700;
    // At idle the A/C needs 1,2 ms where the tune gives 1,0 on 3,3 ms.
    QTest::newRow("real: idle with the A/C lean") << true << int(DrivePhase::Idle) << 3.0 << 10.0 << 550;
}

// Over the second warm cycle, the mean of CorrCurto + CorrLongo in a phase, and
// the loop's target there.
void TestSimEngine::realisticDrive()
{
    QFETCH(bool, realistic);
    QFETCH(int, phase);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, target);
    Realism r;
    r.on = realistic;
    const FuelMap need = ecusim::builtInNeed();
    const Image image = withInjection(defaultImage(), need);
    EngineModel model(need, 1, r);
    double sum = 0;
    int n = 0;
    for (double t = W; t < W + 2 * kDriveCycle; t += kControlStep) {
        model.advanceTo(image, t);
        const DriveState d = model.state(image, t);
        if (t < W + kDriveCycle || int(d.phase) != phase || d.point.cut)
            continue;
        const LiveValues v = model.values(image, t);
        QCOMPARE(probeTarget(image, d.point.load, realistic), target);
        sum += v.shortCorr + v.longCorr;
        ++n;
    }
    QVERIFY(n > 50);
    QVERIFY2(sum / n >= low && sum / n <= high, qPrintable(QString::number(sum / n)));
}

QTEST_GUILESS_MAIN(TestSimEngine)
#include "tst_simengine.moc"
