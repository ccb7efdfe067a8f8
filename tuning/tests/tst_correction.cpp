// The injection-map correction: weights, filters, the suggestion's thresholds, limit
// and rounding, against a brute-force reference on generated rows; and the logs with
// the tune they were recorded with.
#include "common/numtext.h"
#include "core/controller.h"
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "link/tuneimage.h"
#include "tuning/beforeafter.h"
#include "tuning/correction.h"
#include "tuning/recordedlogs.h"
#include "tuning/warmup.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace correction;
using logformat::Row;

using Weights = QList<QPair<int, double>>;

namespace {

// A row that passes every filter at speed position r, load position c.
Row goodRow(std::int64_t ms, int r, int c, int corrShort = 0, int corrLong = 0)
{
    Row row;
    row.ms = ms;
    LiveValues &v = row.values;
    v.temperature = 85;
    v.rpm = 2500;
    v.injectionTenths = 40;
    v.tpsReading = 500;
    v.speedPosition = r;
    v.loadPosition = c;
    v.probeMv = ms / 100 % 2 ? 200 : 900; // the loop in control: the probe swings across its target
    v.correctionShort = corrShort;
    v.correctionLong = corrLong;
    return row;
}

// Ten steady rows 100 ms apart (t = 0 .. 900) at (r, c), then `last` at 1000 ms.
std::vector<Row> steadyThen(const Row &last, int r = 14, int c = 3)
{
    std::vector<Row> rows;
    for (int i = 0; i < 10; ++i)
        rows.push_back(goodRow(100 * i, r, c));
    rows.push_back(last);
    rows.back().ms = 1000;
    return rows;
}

// The filter that rejects the last row (FilterCount when it passes).
Filter lastVerdict(const std::vector<Row> &rows, const Settings &s = {}, int lambdaTemp = 30)
{
    Accumulator before(s, lambdaTemp), all(s, lambdaTemp);
    for (std::size_t i = 0; i + 1 < rows.size(); ++i)
        before.add(rows[i]);
    for (const Row &r : rows)
        all.add(r);
    for (int f = 0; f < FilterCount; ++f)
        if (all.analysis().rejected[std::size_t(f)] != before.analysis().rejected[std::size_t(f)])
            return Filter(f);
    return FilterCount;
}

// The reference: every filter from its definition, scanning back over the rows.
Analysis reference(const std::vector<Row> &rows, const Settings &s, const TuneFacts &facts)
{
    Analysis a;
    const int minTemp = std::max(s.minTemperature, facts.lambdaTemperature);
    auto bad = [](const LiveValues &v) {
        return v.speedPosition < 0 || v.speedPosition > 48 || v.loadPosition < 0 || v.loadPosition > 42 ||
               v.tpsReading < 0 || v.tpsReading > 1023 || std::abs(v.correctionShort) > 100 ||
               std::abs(v.correctionLong) > 100;
    };
    auto cell = [](const LiveValues &v) { return 8 * (v.speedPosition / 6) + v.loadPosition / 6; };
    std::vector<std::size_t> good; // indices of the rows with sound values, in order
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LiveValues &v = rows[i].values;
        ++a.rows;
        if (bad(v)) {
            ++a.rejected[BadValues];
            continue;
        }
        good.push_back(i);
        const std::int64_t t = rows[i].ms;
        Filter f = FilterCount;
        if (v.temperature < minTemp)
            f = Temperature;
        else if (v.rpm < s.minRpm)
            f = Speed;
        else if (v.injectionTenths <= 0)
            f = CutOff;
        if (f == FilterCount) {
            // The last sound row at or before t - window, and the throttle since.
            std::ptrdiff_t from = -1;
            for (std::ptrdiff_t j = std::ptrdiff_t(good.size()) - 1; j >= 0; --j)
                if (rows[good[std::size_t(j)]].ms <= t - s.tpsWindowMs) {
                    from = j;
                    break;
                }
            if (from < 0) {
                f = Throttle;
            } else {
                int lo = 1 << 30, hi = -1;
                for (std::size_t j = std::size_t(from); j < good.size(); ++j) {
                    lo = std::min(lo, rows[good[j]].values.tpsReading);
                    hi = std::max(hi, rows[good[j]].values.tpsReading);
                }
                if (hi - lo >= s.maxTpsMove)
                    f = Throttle;
            }
        }
        if (f == FilterCount) {
            std::size_t j = good.size() - 1;
            while (j > 0 && cell(rows[good[j - 1]].values) == cell(v))
                --j;
            if (rows[good[j]].ms > t - s.steadyCellMs)
                f = Position;
        }
        if (f == FilterCount && (v.probeMv < s.minProbeMv || v.probeMv > s.maxProbeMv))
            f = Probe;
        if (f == FilterCount && s.warmRowsOnly &&
            (v.correctionTemperature != facts.warmTempCorrection || v.fan || v.airConditioning))
            f = Warming;
        if (f == FilterCount && s.loopInControl && (facts.loopOff || (facts.loopOffAtIdle && v.loadPosition == 0)))
            f = LoopOff;
        if (f == FilterCount && s.loopSettled) {
            // Since the first row of this cell: the probe on both sides of its target,
            // counting only the rows the probe's delay after that first row.
            std::size_t j = good.size() - 1;
            while (j > 0 && cell(rows[good[j - 1]].values) == cell(v))
                --j;
            const std::int64_t since = rows[good[j]].ms;
            bool rich = false, lean = false;
            for (std::size_t k = j; k < good.size(); ++k) {
                const LiveValues &x = rows[good[k]].values;
                if (rows[good[k]].ms >= since + s.probeDelayMs && x.injectionTenths > 0)
                    (x.probeMv >= facts.target(x.loadPosition) ? rich : lean) = true;
            }
            if (t < since + s.probeDelayMs || (facts.target(v.loadPosition) > 0 && !(rich && lean)))
                f = Settling;
        }
        if (f != FilterCount) {
            ++a.rejected[f];
            continue;
        }
        ++a.used;
        const int c = v.correctionShort + v.correctionLong;
        if (v.correctionShort || v.correctionLong)
            ++a.corrected;
        const int R = v.speedPosition, C = v.loadPosition, row = R / 6, col = C / 6;
        const double fr = R / 6.0 - row, fc = C / 6.0 - col;
        const int base = 8 * row + col;
        auto put = [&a, c](int k, double w) {
            a.cells[std::size_t(k)].hits += w;
            a.cells[std::size_t(k)].sum += w * c;
            a.cells[std::size_t(k)].squares += w * w;
        };
        put(base, (1 - fr) * (1 - fc));
        if (R < 48)
            put(base + 8, fr * (1 - fc));
        if (C < 42)
            put(base + 1, (1 - fr) * fc);
        if (R < 48 && C < 42)
            put(base + 9, fr * fc);
    }
    return a;
}

// A drive: positions, throttle and temperature wander; some rows are bad.
std::vector<Row> generatedRows(int count, quint32 seed)
{
    QRandomGenerator g(seed);
    std::vector<Row> rows;
    int r = 20, c = 20, tps = 500, temp = 60;
    std::int64_t t = 0;
    for (int i = 0; i < count; ++i) {
        t += 1 + g.bounded(120);
        if (g.bounded(8) == 0)
            r = std::clamp(r + int(g.bounded(7)) - 3, 0, 48);
        if (g.bounded(8) == 0)
            c = std::clamp(c + int(g.bounded(5)) - 2, 0, 42);
        if (g.bounded(300) == 0)
            c = c == 0 ? 20 : 0; // the throttle closed or opened again
        tps = std::clamp(tps + int(g.bounded(41)) - 20, 0, 1023);
        if (g.bounded(50) == 0)
            temp = std::clamp(temp + int(g.bounded(5)) - 1, 20, 110);
        Row row = goodRow(t, r, c, int(g.bounded(21)) - 10, int(g.bounded(11)) - 5);
        LiveValues &v = row.values;
        v.tpsReading = tps;
        v.temperature = temp;
        v.rpm = g.bounded(20) == 0 ? 0 : 400 + int(g.bounded(6000));
        v.injectionTenths = g.bounded(15) == 0 ? 0 : int(g.bounded(120));
        v.probeMv = int(g.bounded(1000));
        if (g.bounded(200) == 0)
            v.speedPosition = 49;
        if (g.bounded(300) == 0)
            v.correctionLong = 120;
        // Still warming, the fan or the air conditioning on.
        v.correctionTemperature = g.bounded(40) == 0 ? 2 : 0;
        v.fan = g.bounded(60) == 0 ? 1 : 0;
        v.airConditioning = g.bounded(60) == 0 ? 1 : 0;
        rows.push_back(row);
    }
    return rows;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray logBytes(const std::vector<Row> &rows)
{
    QByteArray b = logformat::header(QStringLiteral("2.2"), QStringLiteral("2026-01-01T10:00:00"));
    for (const Row &r : rows)
        b += logformat::row(r.ms, r.values);
    return b;
}

QByteArray tuneBytes(Tune t) { return mapfile::encodeLine(t.fields()); }

// The rows with the Ti a module running t shows: the map between the four cells times
// the corrections, cut to the tenth of a millisecond.
std::vector<Row> withTi(std::vector<Row> rows, const Tune &t)
{
    const auto map = injectionTenths(t);
    for (Row &r : rows) {
        LiveValues &v = r.values;
        std::array<Weight, 4> w;
        const int n = weights(v.speedPosition, v.loadPosition, w);
        double at = 0;
        for (int i = 0; i < n; ++i)
            at += w[std::size_t(i)].weight * map[std::size_t(w[std::size_t(i)].cell)];
        v.injectionTenths = int(at * (100 + v.correctionTemperature + v.correctionAtmosphere) / 100 *
                                (100 + v.correctionShort + v.correctionLong) / 100);
    }
    return rows;
}

} // namespace

class TestCorrection : public QObject {
    Q_OBJECT
private slots:
    void weightsFollowTheInterpolation_data();
    void weightsFollowTheInterpolation();
    void analysisMatchesTheReference();
    void eachFilterRejectsAtItsThreshold_data();
    void eachFilterRejectsAtItsThreshold();
    void suggestionHitsDeadBandLimitRounding_data();
    void suggestionHitsDeadBandLimitRounding();
    void fitTellsNeighbouringCellsApart_data();
    void fitTellsNeighbouringCellsApart();
    void mapEqualToTheNeedChangesNothing();
    void appliedChangesOnlyTheChosenCells();
    void logWithoutNeededChannelsIsRefused();
    void logsAndTheirTunes_data();
    void logsAndTheirTunes();
    void snapshotMustExplainTheLog_data();
    void snapshotMustExplainTheLog();
    void rowsCountOnceTheLoopSettledInTheCell_data();
    void rowsCountOnceTheLoopSettledInTheCell();
    void honestRules_data();
    void honestRules();
    void warmUpPointsOnAColdLog();
    void beforeAndAfterPerCell_data();
    void beforeAndAfterPerCell();
};

void TestCorrection::weightsFollowTheInterpolation_data()
{
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("c");
    QTest::addColumn<Weights>("expected");
    using L = Weights;
    QTest::newRow("origin") << 0 << 0 << L{{0, 1.0}};
    QTest::newRow("row 2 a third down, column 0 halfway")
        << 14 << 3 << L{{16, 1.0 / 3}, {24, 1.0 / 6}, {17, 1.0 / 3}, {25, 1.0 / 6}};
    QTest::newRow("top corner: no neighbours") << 48 << 42 << L{{71, 1.0}};
    QTest::newRow("last column: none to the right") << 47 << 42 << L{{63, 1.0 / 6}, {71, 5.0 / 6}};
    QTest::newRow("last row: none below") << 48 << 41 << L{{70, 1.0 / 6}, {71, 5.0 / 6}};
    QTest::newRow("one step into the cell") << 1 << 0 << L{{0, 5.0 / 6}, {8, 1.0 / 6}};
}

void TestCorrection::weightsFollowTheInterpolation()
{
    QFETCH(int, r);
    QFETCH(int, c);
    QFETCH(Weights, expected);
    std::array<Weight, 4> w;
    const int n = weights(r, c, w);
    QCOMPARE(n, expected.size());
    double total = 0;
    for (int i = 0; i < n; ++i) {
        QCOMPARE(w[std::size_t(i)].cell, expected[i].first);
        QVERIFY(std::fabs(w[std::size_t(i)].weight - expected[i].second) < 1e-12);
        total += w[std::size_t(i)].weight;
    }
    QVERIFY(std::fabs(total - 1) < 1e-12);
}

void TestCorrection::analysisMatchesTheReference()
{
    for (quint32 seed : {1u, 7u, 42u}) {
        const std::vector<Row> rows = generatedRows(6000, seed);
        Settings s;
        s.minTemperature = 65;
        s.steadyCellMs = 150; // under the probe's delay: the settling rule has rows of its own
        const TuneFacts facts{62, 0, false, true, 550, 700, 820}; // the loop off at idle
        const Analysis got = analyse(rows, s, facts), want = reference(rows, s, facts);
        QCOMPARE(got.rows, want.rows);
        QCOMPARE(got.used, want.used);
        QCOMPARE(got.corrected, want.corrected);
        for (int f = 0; f < FilterCount; ++f)
            QCOMPARE(got.rejected[std::size_t(f)], want.rejected[std::size_t(f)]);
        QVERIFY(got.used > 100); // the generated drive does reach every branch
        for (int f = 0; f < FilterCount; ++f)
            QVERIFY2(got.rejected[std::size_t(f)] > 0, qPrintable(filterText(Filter(f), s, 62)));
        for (int k = 0; k < cellCount; ++k) {
            QVERIFY(std::fabs(got.cells[std::size_t(k)].hits - want.cells[std::size_t(k)].hits) < 1e-6);
            QVERIFY(std::fabs(got.cells[std::size_t(k)].sum - want.cells[std::size_t(k)].sum) < 1e-6);
            QVERIFY(std::fabs(got.cells[std::size_t(k)].squares - want.cells[std::size_t(k)].squares) < 1e-6);
        }
    }
}

void TestCorrection::eachFilterRejectsAtItsThreshold_data()
{
    QTest::addColumn<QList<Row>>("rows");
    QTest::addColumn<int>("lambdaTemp");
    QTest::addColumn<int>("verdict");
    auto last = [](auto change) {
        Row r = goodRow(1000, 14, 3);
        change(r.values);
        return r;
    };
    auto list = [](const std::vector<Row> &v) { return QList<Row>(v.begin(), v.end()); };
    const int pass = FilterCount;
    QTest::newRow("steady row passes") << list(steadyThen(goodRow(1000, 14, 3))) << 30 << pass;
    QTest::newRow("69 °C") << list(steadyThen(last([](LiveValues &v) { v.temperature = 69; }))) << 30
                           << int(Temperature);
    QTest::newRow("70 °C") << list(steadyThen(last([](LiveValues &v) { v.temperature = 70; }))) << 30 << pass;
    QTest::newRow("75 °C under a lambda temperature of 80")
        << list(steadyThen(last([](LiveValues &v) { v.temperature = 75; }))) << 80 << int(Temperature);
    QTest::newRow("499 RPM") << list(steadyThen(last([](LiveValues &v) { v.rpm = 499; }))) << 30 << int(Speed);
    QTest::newRow("500 RPM") << list(steadyThen(last([](LiveValues &v) { v.rpm = 500; }))) << 30 << pass;
    QTest::newRow("overrun cut-off") << list(steadyThen(last([](LiveValues &v) { v.injectionTenths = 0; }))) << 30
                                     << int(CutOff);
    QTest::newRow("TPS moved 51") << list(steadyThen(last([](LiveValues &v) { v.tpsReading = 551; }))) << 30
                                  << int(Throttle);
    QTest::newRow("TPS moved 50") << list(steadyThen(last([](LiveValues &v) { v.tpsReading = 550; }))) << 30
                                  << pass;
    QTest::newRow("probe 49 mV") << list(steadyThen(last([](LiveValues &v) { v.probeMv = 49; }))) << 30
                                 << int(Probe);
    QTest::newRow("probe 50 mV") << list(steadyThen(last([](LiveValues &v) { v.probeMv = 50; }))) << 30 << pass;
    QTest::newRow("probe 950 mV") << list(steadyThen(last([](LiveValues &v) { v.probeMv = 950; }))) << 30 << pass;
    QTest::newRow("probe 951 mV") << list(steadyThen(last([](LiveValues &v) { v.probeMv = 951; }))) << 30
                                  << int(Probe);
    QTest::newRow("speed position 49") << list(steadyThen(last([](LiveValues &v) { v.speedPosition = 49; }))) << 30
                                       << int(BadValues);
    QTest::newRow("correction 101 %") << list(steadyThen(last([](LiveValues &v) { v.correctionShort = 101; })))
                                      << 30 << int(BadValues);
    // Only the warm engine, without the fan's or the air conditioning's fuel, feeds the map.
    QTest::newRow("still warming: CorrTemp 2 %")
        << list(steadyThen(last([](LiveValues &v) { v.correctionTemperature = 2; }))) << 30 << int(Warming);
    QTest::newRow("electro-fan on") << list(steadyThen(last([](LiveValues &v) { v.fan = 1; }))) << 30
                                    << int(Warming);
    QTest::newRow("air conditioning on") << list(steadyThen(last([](LiveValues &v) { v.airConditioning = 1; })))
                                         << 30 << int(Warming);

    // Throttle: a move more than 0,5 s back no longer counts; the row at 500 ms still does.
    std::vector<Row> early = steadyThen(goodRow(1000, 14, 3));
    early[3].values.tpsReading = 600; // t = 300
    QTest::newRow("TPS moved 0,7 s before") << list(early) << 30 << pass;
    std::vector<Row> edge = steadyThen(goodRow(1000, 14, 3));
    edge[5].values.tpsReading = 600; // t = 500, the throttle stood there 0,5 s ago
    QTest::newRow("TPS moved exactly 0,5 s before") << list(edge) << 30 << int(Throttle);
    // The run must reach back 0,5 s.
    QTest::newRow("first 0,5 s of a log")
        << QList<Row>{goodRow(0, 14, 3), goodRow(300, 14, 3), goodRow(499, 14, 3)} << 30 << int(Throttle);
    // Position: the cell entered 200 ms before is not steady; 300 ms before is.
    std::vector<Row> moved = steadyThen(goodRow(1000, 14, 9));
    for (int i = 8; i < 10; ++i)
        moved[std::size_t(i)] = goodRow(100 * i, 14, 9);
    QTest::newRow("cell entered 0,2 s before") << list(moved) << 30 << int(Position);
    moved[7] = goodRow(700, 14, 9);
    QTest::newRow("cell entered 0,3 s before") << list(moved) << 30 << pass;
    // Moving within the cell keeps it steady.
    QTest::newRow("same cell, other step") << list(steadyThen(goodRow(1000, 15, 5))) << 30 << pass;
    // Time going back starts a new run: nothing of the old one counts.
    std::vector<Row> restarted = steadyThen(goodRow(1000, 14, 3));
    restarted.push_back(goodRow(100, 14, 3));
    QTest::newRow("scanner switched on again") << list(restarted) << 30 << int(Throttle);
}

void TestCorrection::eachFilterRejectsAtItsThreshold()
{
    QFETCH(QList<Row>, rows);
    QFETCH(int, lambdaTemp);
    QFETCH(int, verdict);
    const std::vector<Row> v(rows.begin(), rows.end());
    QCOMPARE(int(lastVerdict(v, Settings{}, lambdaTemp)), verdict);
    const Analysis a = analyse(v, Settings{}, lambdaTemp);
    const Analysis want = reference(v, Settings{}, TuneFacts{lambdaTemp, 0, false, false, 0, 0, 0});
    QCOMPARE(a.rejected, want.rejected);
}

void TestCorrection::suggestionHitsDeadBandLimitRounding_data()
{
    QTest::addColumn<QString>("old");
    QTest::addColumn<double>("hits");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("maxChange");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("state");
    const int few = int(CellState::TooFewHits), same = int(CellState::Unchanged), more = int(CellState::Added),
              less = int(CellState::Removed);
    QTest::newRow("+4 %") << "3,5" << 30.0 << 4.0 << 10.0 << "3,6" << more;
    QTest::newRow("-2 % is outside the dead band") << "3,5" << 30.0 << -2.0 << 10.0 << "3,4" << less;
    QTest::newRow("+1,9 % is inside") << "3,5" << 30.0 << 1.9 << 10.0 << "3,5" << same;
    QTest::newRow("19,9 hits") << "3,5" << 19.9 << 8.0 << 10.0 << "3,5" << few;
    QTest::newRow("20 hits") << "3,5" << 20.0 << 8.0 << 10.0 << "3,8" << more;
    QTest::newRow("no hits") << "3,5" << 0.0 << 0.0 << 10.0 << "3,5" << few;
    QTest::newRow("limit: rounding stays within 10 %") << "3,5" << 20.0 << 15.0 << 10.0 << "3,8" << more;
    QTest::newRow("limit downwards") << "8,1" << 20.0 << -30.0 << 10.0 << "7,3" << less;
    QTest::newRow("whole text gets a decimal") << "8" << 20.0 << 15.0 << 10.0 << "8,8" << more;
    QTest::newRow("limit of 25 %") << "8" << 20.0 << 30.0 << 25.0 << "10,0" << more;
    QTest::newRow("limit above 25 % is 25 %") << "8" << 20.0 << 40.0 << 40.0 << "10,0" << more;
    QTest::newRow("kept within 25 ms, as every edit") << "24" << 20.0 << 10.0 << 10.0 << "25,0" << more;
    QTest::newRow("a read-back's 25,5 ms is not raised") << "25,5" << 20.0 << 10.0 << 10.0 << "25,5" << same;
    QTest::newRow("a read-back's 25,5 ms may come down") << "25,5" << 20.0 << -4.0 << 10.0 << "24,5" << less;
    QTest::newRow("a small cell moves by 0,1 ms") << "0,5" << 20.0 << 9.0 << 10.0 << "0,6" << more;
    QTest::newRow("... also down") << "0,9" << 20.0 << -3.0 << 10.0 << "0,8" << less;
    QTest::newRow("a change that rounds away") << "1,0" << 20.0 << 4.0 << 10.0 << "1,0" << same;
    QTest::newRow("zero stays zero") << "0" << 50.0 << 10.0 << 10.0 << "0" << same;
    QTest::newRow("rounding half away from zero") << "2" << 20.0 << 2.5 << 10.0 << "2,1" << more;
}

void TestCorrection::suggestionHitsDeadBandLimitRounding()
{
    QFETCH(QString, old);
    QFETCH(double, hits);
    QFETCH(double, mean);
    QFETCH(double, maxChange);
    QFETCH(QString, expected);
    QFETCH(int, state);
    Tune t = startupTune();
    t.texts[injectionField(17)] = old;
    Analysis a;
    a.used = a.corrected = 1;
    a.cells[17] = CellSum{hits, hits * mean, hits}; // every row on the cell's own position
    Settings s;
    s.maxChange = maxChange;
    const Suggestion got = suggest(a, t, s);
    QCOMPARE(got.cells[17].newText, expected);
    QCOMPARE(int(got.cells[17].state), state);
    QCOMPARE(got.changed, expected == old ? 0 : 1);
    QCOMPARE(got.cells[17].oldText, old);
    for (int k = 0; k < cellCount; ++k)
        if (k != 17)
            QCOMPARE(got.cells[std::size_t(k)].state, CellState::TooFewHits);
}

void TestCorrection::fitTellsNeighbouringCellsApart_data()
{
    QTest::addColumn<int>("error17"); // percent the cell needs
    QTest::addColumn<int>("error18");
    QTest::addColumn<QString>("text17"); // 4 ms
    QTest::addColumn<QString>("text18"); // 5 ms
    QTest::newRow("+8 % beside -4 %") << 8 << -4 << "4,3" << "4,8";
    QTest::newRow("-6 % beside +6 %") << -6 << 6 << "3,8" << "5,3";
}

// Four seconds at each load position from cell 17's (6) to cell 18's (12): each row's
// correction is the two cells' errors in the ECU's proportions. The fit finds both
// cells' own errors closely (+8 % and -4 % read +7,1 % and -3,1 %); the means of the
// rows on each cell blur them into each other (+4,7 % and -0,7 %: cell 18 would stay).
void TestCorrection::fitTellsNeighbouringCellsApart()
{
    QFETCH(int, error17);
    QFETCH(int, error18);
    QFETCH(QString, text17);
    QFETCH(QString, text18);
    std::vector<Row> rows;
    for (int c = 6; c <= 12; ++c) {
        const int correction = ((12 - c) * error17 + (c - 6) * error18) / 6; // whole for these errors
        QCOMPARE(correction * 6, (12 - c) * error17 + (c - 6) * error18);
        for (int i = 0; i < 40; ++i)
            rows.push_back(goodRow(4000 * (c - 6) + 100 * i, 12, c, correction));
    }
    const Tune t = startupTune();
    const Analysis a = analyse(rows, Settings{}, tuneFacts(t));
    QVERIFY(a.used > 200);
    // Held towards the means where rows fall between the cells, the fit still lands
    // within 1 % of each cell's error; the means of the same rows lie more than 2 %
    // off, between the two errors.
    const auto x = fitted(a, Settings{}.minHits);
    QVERIFY2(std::fabs(x[17] - error17) < 1 && std::fabs(x[18] - error18) < 1,
             qPrintable(QStringLiteral("%1 %2").arg(x[17]).arg(x[18])));
    QVERIFY(std::fabs(a.cells[17].mean() - error17) > 2 && std::fabs(a.cells[18].mean() - error18) > 2);
    const Suggestion s = suggest(a, t, Settings{});
    QCOMPARE(s.cells[17].newText, text17);
    QCOMPARE(s.cells[18].newText, text18);
    QCOMPARE(s.cells[17].mean, x[17]);
    QCOMPARE(s.changed, 2);
}

void TestCorrection::mapEqualToTheNeedChangesNothing()
{
    const Tune t = startupTune();
    // The ECU never corrected: the sentence says so.
    std::vector<Row> rows;
    for (int i = 0; i < 2000; ++i)
        rows.push_back(goodRow(50 * i, 14 + (i / 400) * 6, 3));
    Analysis a = analyse(rows, Settings{}, 30);
    QVERIFY(a.used > 1500);
    Suggestion s = suggest(a, t, Settings{});
    QCOMPARE(s.changed, 0);
    QCOMPARE(s.sentence, noCorrectionSentence());
    QCOMPARE(applied(t, s), t);
    // The map meets the need: the corrections wander within the dead band.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].values.correctionShort = int(i % 3) - 1;
        rows[i].values.correctionLong = i % 2 ? 1 : 0;
    }
    a = analyse(rows, Settings{}, 30);
    QVERIFY(a.corrected > 0);
    s = suggest(a, t, Settings{});
    QCOMPARE(s.changed, 0);
    QCOMPARE(s.sentence, noChangeSentence());
    // Nothing passed the filters.
    for (Row &r : rows)
        r.values.temperature = 40;
    s = suggest(analyse(rows, Settings{}, 30), t, Settings{});
    QCOMPARE(s.sentence, noRowsSentence());
}

void TestCorrection::appliedChangesOnlyTheChosenCells()
{
    const Tune t = startupTune();
    Analysis a;
    a.used = a.corrected = 1;
    a.cells[0] = CellSum{40, 40 * 5.0, 40};  // 3,5 -> 3,7
    a.cells[9] = CellSum{40, 40 * -6.0, 40}; // 4,3 -> 4,0
    a.cells[30] = CellSum{5, 5 * 9.0, 5};   // too few hits
    const Suggestion s = suggest(a, t, Settings{});
    QCOMPARE(s.changed, 2);
    QVERIFY(s.sentence.isEmpty());
    const Tune all = applied(t, s);
    Tune want = t;
    want.texts[injectionField(0)] = QStringLiteral("3,7");
    want.texts[injectionField(9)] = QStringLiteral("4,0");
    QCOMPARE(all, want);
    const Tune one = applied(t, s, {9, 30});
    want.texts[injectionField(0)] = QStringLiteral("3,5");
    QCOMPARE(one, want);
    QCOMPARE(QString::number(s.cells[9].changePercent(), 'f', 2), QStringLiteral("-6.98"));
}

void TestCorrection::logWithoutNeededChannelsIsRefused()
{
    logformat::Log log;
    log.absent = QStringList{"CorrCurto", "Sonda"};
    try {
        requireChannels(log, QStringLiteral("/tmp/a.msl"));
        QFAIL("a log without CorrCurto was taken");
    } catch (const std::exception &e) {
        QCOMPARE(QString::fromUtf8(e.what()),
                 QString::fromUtf8("O registro /tmp/a.msl não tem os canais Sonda, CorrCurto, de que a correção "
                                   "precisa: nada a sugerir."));
    }
    // The warm-rows rule reads CorrTemp, Eletro and Ar; without the rule a log may lack them.
    log.absent = QStringList{"Eletro", "Ar"};
    try {
        requireChannels(log, QStringLiteral("/tmp/a.msl"));
        QFAIL("a log without Eletro was taken for the warm-rows rule");
    } catch (const std::exception &e) {
        QCOMPARE(QString::fromUtf8(e.what()),
                 QString::fromUtf8("O registro /tmp/a.msl não tem os canais Eletro, Ar, de que a correção "
                                   "precisa: nada a sugerir."));
    }
    Settings noWarmRule;
    noWarmRule.warmRowsOnly = false;
    requireChannels(log, QStringLiteral("/tmp/a.msl"), noWarmRule);
}

void TestCorrection::logsAndTheirTunes_data()
{
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<QString>("map");
    QTest::addColumn<QString>("message"); // empty: accepted; %1 the folder
    QTest::newRow("one log, its snapshot") << QStringList{"a"} << QString() << QString();
    QTest::newRow("two logs, same map") << QStringList{"a", "same"} << QString() << QString();
    QTest::newRow("two logs, different maps")
        << QStringList{"a", "other"} << QString()
        << QString::fromUtf8("Os registros %1/a.msl e %1/other.msl foram gravados com mapas de injeção diferentes "
                             "(%1/a-mapa.txt e %1/other-mapa.txt): a correção de um não vale para o outro. Abra-os "
                             "em separado. Nada a sugerir.");
    QTest::newRow("no snapshot")
        << QStringList{"a", "bare"} << QString()
        << QString::fromUtf8("O mapa do registro %1/bare.msl, %1/bare-mapa.txt não pôde ser lido: o arquivo não "
                             "existe. Nada a sugerir.");
    QTest::newRow("no snapshot, the map named") << QStringList{"bare"} << "tune.txt" << QString();
    QTest::newRow("snapshot differs from the map named")
        << QStringList{"other"} << "tune.txt"
        << QString::fromUtf8("O registro %1/other.msl foi gravado com outro mapa de injeção (%1/other-mapa.txt) que "
                             "não o de %1/tune.txt: a correção não vale para esse mapa. Nada a sugerir.");
    QTest::newRow("snapshot whose injection cell is no number")
        << QStringList{"broken"} << QString()
        << QString::fromUtf8("O mapa do registro %1/broken.msl, %1/broken-mapa.txt não serve para a correção: "
                             "Célula e5i do mapa de injeção: 'x' is not a valid floating point value. Nada a sugerir.");
    // Recorded while the module's set was unknown: a tune found beside it is not its own.
    const QString unknownSet =
        QString::fromUtf8("O registro %1/unknown.msl foi gravado sem que se soubesse que mapa o módulo tinha (o módulo "
                          "não pôde ser lido ao começar a gravação): não há mapa ao lado dele, e a correção só vale "
                          "em relação ao mapa com que o motor rodou. Nada a sugerir.");
    QTest::newRow("module's set unknown") << QStringList{"unknown"} << QString() << unknownSet;
    QTest::newRow("module's set unknown, after a good log") << QStringList{"a", "unknown"} << QString() << unknownSet;
    QTest::newRow("module's set unknown, the map named") << QStringList{"unknown"} << "tune.txt" << QString();
}

void TestCorrection::logsAndTheirTunes()
{
    QFETCH(QStringList, logs);
    QFETCH(QString, map);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const Tune t = startupTune();
    Tune sameValues = t;
    sameValues.texts[injectionField(6)] = QStringLiteral("8,0"); // "8" on the start-up screen
    Tune other = t;
    other.texts[injectionField(6)] = QStringLiteral("8,4");
    Tune broken = t;
    broken.texts[injectionField(5)] = QStringLiteral("x");
    std::vector<Row> rows;
    for (int i = 0; i < 50; ++i)
        rows.push_back(goodRow(100 * i, 14, 3, 5));
    const QByteArray log = logBytes(withTi(rows, t)) + "torn";
    for (const char *name : {"a", "same", "other", "bare", "broken"})
        writeFile(dir, QString::fromLatin1(name) + ".msl", log);
    QByteArray unknown = log;
    unknown.replace(logformat::perSampleLine(), logformat::perSampleLine() + logformat::moduleSetUnknownLine());
    QVERIFY(unknown != log);
    writeFile(dir, "unknown.msl", unknown);
    writeFile(dir, "unknown-mapa.txt", tuneBytes(other)); // left from an older log of that name
    writeFile(dir, "a-mapa.txt", tuneBytes(t));
    writeFile(dir, "same-mapa.txt", tuneBytes(sameValues));
    writeFile(dir, "other-mapa.txt", tuneBytes(other));
    writeFile(dir, "broken-mapa.txt", tuneBytes(broken));
    writeFile(dir, "tune.txt", tuneBytes(t));
    QStringList paths;
    for (const QString &l : logs)
        paths << dir.filePath(l + ".msl");
    const std::optional<QString> mapPath = map.isEmpty() ? std::nullopt : std::optional(dir.filePath(map));
    try {
        const RecordedLogs r = readLogs(paths, mapPath);
        QVERIFY2(message.isEmpty(), "refused nothing");
        QCOMPARE(r.paths, paths);
        QCOMPARE(r.tunePath, mapPath ? *mapPath : dir.filePath(logs.first() + "-mapa.txt"));
        QCOMPARE(injectionTenths(r.tune), injectionTenths(t));
        const Analysis a = analyse(r, Settings{});
        QCOMPARE(a.rows, 51 * logs.size()); // the torn last line of each counts as a bad one
        QCOMPARE(a.rejected[BadValues], logs.size());
        QCOMPARE(a.used, 45 * logs.size()); // the first 0,5 s of each log has no past
    } catch (const Refused &e) {
        QCOMPARE(QString::fromUtf8(e.what()), message.arg(dir.path()));
    }
}

void TestCorrection::snapshotMustExplainTheLog_data()
{
    QTest::addColumn<QString>("snapshot"); // the map beside the log: "true" or "before"
    QTest::addColumn<QString>("map");      // the map named instead, if any
    QTest::addColumn<QStringList>("absent"); // channels the log does not hold
    QTest::addColumn<QString>("message");  // empty: accepted; %1 the folder
    QTest::newRow("the map it ran with") << "true" << QString() << QStringList() << QString();
    QTest::newRow("the map of the round before")
        << "before" << QString() << QStringList()
        << QString::fromUtf8("O mapa de injeção de %1/a-mapa.txt não explica o Ti do registro %1/a.msl (erro mediano "
                             "de 5,5 %, acima de 1,5 %): o registro foi gravado com outro mapa, e a correção não vale "
                             "para esse. Nada a sugerir.");
    QTest::newRow("no snapshot, the round before's map named")
        << QString() << "before.txt" << QStringList()
        << QString::fromUtf8("O mapa de injeção de %1/before.txt não explica o Ti do registro %1/a.msl (erro mediano "
                             "de 5,5 %, acima de 1,5 %): o registro foi gravado com outro mapa, e a correção não vale "
                             "para esse. Nada a sugerir.");
    QTest::newRow("no snapshot, the true map named") << QString() << "true.txt" << QStringList() << QString();
    QTest::newRow("a log without CorrAtm and Ar")
        << "true" << QString() << QStringList{"CorrAtm", "Ar"}
        << QString::fromUtf8("O registro %1/a.msl não tem os canais CorrAtm, Ar, com os quais se confere que ele foi "
                             "gravado com o mapa %1/a-mapa.txt: nada a sugerir.");
}

// A drive over cells 17, 18, 25 and 26 that the map of the round before held 7 %
// richer; warming, with the fan and the air conditioning now and then.
void TestCorrection::snapshotMustExplainTheLog()
{
    QFETCH(QString, snapshot);
    QFETCH(QString, map);
    QFETCH(QStringList, absent);
    QFETCH(QString, message);
    const Tune truth = startupTune();
    Tune before = truth;
    const auto tenths = injectionTenths(truth);
    for (int k : {17, 18, 25, 26})
        before.texts[injectionField(k)] =
            numtext::formatFloat(QStringLiteral("0.0"), std::lround(tenths[std::size_t(k)] * 1.07) / 10.0L);
    std::vector<Row> rows;
    const int positions[][2] = {{12, 6}, {15, 9}, {18, 12}, {14, 8}};
    for (int i = 0; i < 400; ++i) {
        Row r = goodRow(100 * i, positions[i / 100][0], positions[i / 100][1], i % 7 - 3, 4);
        r.values.correctionTemperature = i < 50 ? 3 : 0;
        r.values.correctionAtmosphere = i % 3 == 0 ? -2 : 0;
        rows.push_back(r);
    }
    rows = withTi(rows, truth);
    for (int i = 200; i < 260; ++i) { // the increments of the start-up tune: 0,7 and 1 ms
        rows[std::size_t(i)].values.fan = 1;
        rows[std::size_t(i)].values.injectionTenths += 7;
        rows[std::size_t(i + 60)].values.airConditioning = 1;
        rows[std::size_t(i + 60)].values.injectionTenths += 10;
    }
    QByteArray log = logBytes(rows);
    for (const QString &c : absent) { // the column left out: its name and every value
        QList<QByteArray> lines = log.split('\n');
        const int at = int(lines[3].split('\t').indexOf(c.toLatin1()));
        QVERIFY(at > 0);
        for (QByteArray &line : lines) {
            QList<QByteArray> fields = line.split('\t');
            if (fields.size() > at && line.count('\t') > 5) {
                fields.removeAt(at);
                line = fields.join('\t');
            }
        }
        log = lines.join('\n');
    }
    QTemporaryDir dir;
    writeFile(dir, "a.msl", log);
    if (!snapshot.isEmpty())
        writeFile(dir, "a-mapa.txt", tuneBytes(snapshot == "true" ? truth : before));
    writeFile(dir, "true.txt", tuneBytes(truth));
    writeFile(dir, "before.txt", tuneBytes(before));
    const std::optional<QString> mapPath = map.isEmpty() ? std::nullopt : std::optional(dir.filePath(map));
    try {
        const RecordedLogs r = readLogs({dir.filePath("a.msl")}, mapPath);
        QVERIFY2(message.isEmpty(), "refused nothing");
        QCOMPARE(r.logs.front().rows.size(), rows.size());
        const SnapshotFit fit = snapshotFit(r.logs.front().rows, r.tune);
        QCOMPARE(fit.rows, std::int64_t(rows.size()));
        QVERIFY2(fit.medianError < 1e-9, qPrintable(QString::number(fit.medianError)));
    } catch (const Refused &e) {
        QCOMPARE(QString::fromUtf8(e.what()), message.arg(dir.path()));
    }
}

void TestCorrection::rowsCountOnceTheLoopSettledInTheCell_data()
{
    QTest::addColumn<int>("load");         // the load position entered at 1000 ms
    QTest::addColumn<QList<int>>("probes"); // mV of the rows there, 50 ms apart
    QTest::addColumn<bool>("settledRule");
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("verdict");      // of the last row
    const int pass = FilterCount, settling = Settling;
    using L = QList<int>;
    // Part load aims at 700 mV; the row at 1200 ms is the first the delay lets through.
    QTest::newRow("crossed after the delay") << 9 << L{800, 800, 800, 800, 800, 600} << true << 200 << pass;
    QTest::newRow("not crossed yet") << 9 << L{800, 800, 800, 800, 800, 800} << true << 200 << settling;
    QTest::newRow("crossed only within the delay: the cell before's exhaust")
        << 9 << L{600, 800, 600, 800, 800, 800} << true << 200 << settling;
    QTest::newRow("crossed, still within the delay") << 9 << L{800, 600, 800, 600} << true << 200 << settling;
    QTest::newRow("no delay") << 9 << L{600, 800, 600, 800, 800, 800} << true << 0 << pass;
    QTest::newRow("the rule off") << 9 << L{800, 800, 800, 800, 800, 800} << false << 200 << pass;
    // Idle aims at 550 mV, full load (from load position 39) at 820 mV.
    QTest::newRow("idle: 600 to 500 mV crosses") << 0 << L{600, 600, 600, 600, 600, 500} << true << 200 << pass;
    QTest::newRow("part load: 600 to 500 mV does not")
        << 9 << L{600, 600, 600, 600, 600, 500} << true << 200 << settling;
    QTest::newRow("full load: 850 to 800 mV crosses") << 42 << L{850, 850, 850, 850, 850, 800} << true << 200 << pass;
    QTest::newRow("load position 38 is part load: 850 to 800 mV does not")
        << 38 << L{850, 850, 850, 850, 850, 800} << true << 200 << settling;
}

// A second at (14, 3) with the probe swinging, then the rows of the table at speed
// position 20, another cell; the position rule is off so that only the settling rule decides.
void TestCorrection::rowsCountOnceTheLoopSettledInTheCell()
{
    QFETCH(int, load);
    QFETCH(QList<int>, probes);
    QFETCH(bool, settledRule);
    QFETCH(int, delay);
    QFETCH(int, verdict);
    Settings s;
    s.steadyCellMs = 0;
    s.loopSettled = settledRule;
    s.probeDelayMs = delay;
    const TuneFacts facts = tuneFacts(startupTune());
    QCOMPARE(facts.partTarget, 700);
    std::vector<Row> rows;
    for (int i = 0; i < 10; ++i)
        rows.push_back(goodRow(100 * i, 14, 3));
    for (int i = 0; i < probes.size(); ++i) {
        rows.push_back(goodRow(1000 + 50 * i, 20, load));
        rows.back().values.probeMv = probes[i];
    }
    Accumulator before(s, facts), all(s, facts);
    for (std::size_t i = 0; i + 1 < rows.size(); ++i)
        before.add(rows[i]);
    for (const Row &r : rows)
        all.add(r);
    Filter got = FilterCount;
    for (int f = 0; f < FilterCount; ++f)
        if (all.analysis().rejected[std::size_t(f)] != before.analysis().rejected[std::size_t(f)])
            got = Filter(f);
    QCOMPARE(int(got), verdict);
    QCOMPARE(all.lastUsed(), verdict == FilterCount);
    if (verdict == Settling)
        QCOMPARE(filterText(Settling, s, 30),
                 QString::fromUtf8("sonda ainda sem cruzar o alvo na célula (atraso de %1 ms)").arg(delay));
}

// Ten seconds at (r, c) with the correction, temperature correction and fan given.
std::vector<Row> stretch(std::int64_t from, int r, int c, int corr, int tempCorr = 0, int fan = 0)
{
    std::vector<Row> rows;
    for (int i = 0; i < 100; ++i) {
        rows.push_back(goodRow(from + 100 * i, r, c, corr, 0));
        rows.back().values.correctionTemperature = tempCorr;
        rows.back().values.fan = fan;
    }
    return rows;
}

void TestCorrection::honestRules_data()
{
    QTest::addColumn<QList<Row>>("rows");
    QTest::addColumn<bool>("leanFullLoad");
    QTest::addColumn<int>("cell");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("newText");
    QTest::addColumn<QString>("sentence");
    auto list = [](const std::vector<Row> &v) { return QList<Row>(v.begin(), v.end()); };
    // Cell 31 (row 3, last column) holds 8,2 ms; power-rich, the probe reads it rich.
    const std::vector<Row> fullLoad = stretch(0, 18, 42, -10);
    QTest::newRow("power-rich full load: never leaned")
        << list(fullLoad) << false << 31 << int(CellState::FullLoad) << "8,2" << noChangeSentence();
    QTest::newRow("... unless asked for this run")
        << list(fullLoad) << true << 31 << int(CellState::Removed) << "7,4" << QString();
    QTest::newRow("full load may gain fuel")
        << list(stretch(0, 18, 42, 6)) << false << 31 << int(CellState::Added) << "8,7" << QString();
    // Cell 17 (row 2, column 1, 4,0 ms): +6 % while warming and with the fan, 0 warm.
    std::vector<Row> warming = stretch(0, 12, 6, 6, 4);
    for (const Row &r : stretch(10000, 12, 6, 6, 0, 1))
        warming.push_back(r);
    for (const Row &r : stretch(20000, 12, 6, 1))
        warming.push_back(r);
    QTest::newRow("warming rows stay out of the map")
        << list(warming) << false << 17 << int(CellState::Unchanged) << "4" << noChangeSentence();
    // Rows half way to every neighbour: cell 17's own share 0,25.
    QTest::newRow("a cell fed by its neighbours is marked")
        << list(stretch(0, 15, 9, 1)) << false << 17 << int(CellState::Neighbours) << "4" << noChangeSentence();
    QTest::newRow("too few rows anywhere: poucos dados")
        << list(std::vector<Row>(fullLoad.begin(), fullLoad.begin() + 15)) << false << 31
        << int(CellState::TooFewHits) << "8,2" << fewDataSentence(Settings{});
}

void TestCorrection::honestRules()
{
    QFETCH(QList<Row>, rows);
    QFETCH(bool, leanFullLoad);
    QFETCH(int, cell);
    QFETCH(int, state);
    QFETCH(QString, newText);
    QFETCH(QString, sentence);
    const Tune t = startupTune();
    Settings s;
    s.leanFullLoad = leanFullLoad;
    const Analysis a = analyse(std::vector<Row>(rows.begin(), rows.end()), s, tuneFacts(t));
    const Suggestion got = suggest(a, t, s);
    QCOMPARE(got.cells[std::size_t(cell)].newText, newText);
    QCOMPARE(int(got.cells[std::size_t(cell)].state), state);
    QCOMPARE(got.sentence, sentence);
}

// A cold start by hand: from 25 to 95 °C, 50 steady rows a degree. The tune's curve
// (55, 40, 30, 20, 12, 5, 0, 0 %) as CorrTemp, the ECU's whole percents between the
// typed points; the engine needs 6, 5, 4, 4, 3, 2, 0, 0 points more, which the loop's
// corrections make up.
void TestCorrection::warmUpPointsOnAColdLog()
{
    const double curve[8] = {55, 40, 30, 20, 12, 5, 0, 0}, extra[8] = {6, 5, 4, 4, 3, 2, 0, 0};
    auto along = [](const double *p, double t) {
        const double x = std::clamp(t, 0.0, 105.0) / 15;
        const int i = std::min(6, int(x));
        return p[i] + (p[i + 1] - p[i]) * (x - i);
    };
    std::vector<Row> rows;
    std::int64_t ms = 0;
    for (int temp = 25; temp <= 95; ++temp)
        for (int i = 0; i < 50; ++i, ms += 100) {
            const int tempCorr = int(along(curve, 5 * (temp / 5))); // the ECU reads the curve in 5 °C steps
            const double need = along(curve, temp) + along(extra, temp);
            const int loop = int(std::lround(((1 + need / 100) / (1 + tempCorr / 100.0) - 1) * 100));
            Row r = goodRow(ms, 14, 9, loop - loop / 2, loop / 2);
            r.values.temperature = temp;
            r.values.correctionTemperature = tempCorr;
            rows.push_back(r);
        }
    const Tune t = startupTune();
    WarmUpAccumulator acc(Settings{}, tuneFacts(t));
    for (const Row &r : rows)
        acc.add(r);
    const WarmUpSuggestion s = suggestWarmUp(acc, t, Settings{});
    const PointState expected[8] = {PointState::NoClosedLoop, PointState::NoClosedLoop, PointState::Added,
                                    PointState::Added,        PointState::Added,        PointState::Unchanged,
                                    PointState::Unchanged,    PointState::TooFew}; // no row near 105 °C
    for (int i = 0; i < 8; ++i) {
        const WarmUpPoint &p = s.points[std::size_t(i)];
        const QString what = QStringLiteral("%1 °C: %2 -> %3, need %4").arg(p.temperature).arg(p.oldText, p.newText).arg(p.need);
        QVERIFY2(p.state == expected[i], qPrintable(what));
        if (i >= 2)
            QVERIFY2(std::abs(p.newText.toInt() - (curve[i] + extra[i])) <= 1 || p.state == PointState::Unchanged,
                     qPrintable(what));
    }
    QCOMPARE(pointMark(s.points[0].state), QString::fromUtf8("sem malha fechada"));
    QCOMPARE(s.points[0].newText, QStringLiteral("55"));
    // Only the changed points are written.
    const Tune out = appliedWarmUp(t, s);
    for (int f = 0; f < t.texts.size(); ++f)
        if (out.texts[f] != t.texts[f])
            QVERIFY(f == warmUpField(2) || f == warmUpField(3) || f == warmUpField(4));
    QCOMPARE(out.texts[warmUpField(3)], QStringLiteral("24"));
}

// A side of the before and after: the logs with their tunes beside them, analysed as
// the correction does; a cell shows the mean correction and its samples, "—" where no
// row ran; a log without its tune is a refusal, not a failure of the window.
void TestCorrection::beforeAndAfterPerCell_data()
{
    QTest::addColumn<int>("correction"); // short + long, percent, of every row
    QTest::addColumn<bool>("tuneBeside");
    QTest::addColumn<QString>("cell17");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("richer needed") << 5 << true << "+5,0 %" << QString();
    QTest::newRow("leaner needed") << -4 << true << "-4,0 %" << QString();
    QTest::newRow("on target") << 0 << true << "0,0 %" << QString();
    QTest::newRow("no tune beside") << 5 << false << QString()
                                    << "O mapa do registro %1/a.msl, %1/a-mapa.txt não pôde ser lido: o arquivo não "
                                       "existe. Nada a sugerir.";
}

void TestCorrection::beforeAndAfterPerCell()
{
    QFETCH(int, correction);
    QFETCH(bool, tuneBeside);
    QFETCH(QString, cell17);
    QFETCH(QString, refusal);
    const Tune tune = startupTune();
    std::vector<Row> rows;
    for (int i = 0; i < 200; ++i) // speed position 12, load position 6: cell 17 alone
        rows.push_back(goodRow(100 * i, 12, 6, correction, 0));
    rows = withTi(rows, tune);
    QTemporaryDir dir;
    writeFile(dir, "a.msl", logBytes(rows));
    if (tuneBeside)
        writeFile(dir, "a-mapa.txt", tuneBytes(tune));

    const LogsCells side = analyseLogs({dir.filePath("a.msl")});
    QCOMPARE(side.paths, QStringList{dir.filePath("a.msl")});
    if (!refusal.isEmpty()) {
        QCOMPARE(side.refusal, refusal.arg(dir.path()));
        QVERIFY(!side.cells);
        QCOMPARE(meanText(side, 17), QString());
        return;
    }
    QCOMPARE(side.refusal, QString());
    QVERIFY(side.cells.has_value());
    QCOMPARE(side.rows, std::int64_t(rows.size()));
    QVERIFY(side.used > 100);
    const QStringList lines = meanText(side, 17).split(u'\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], cell17);
    QCOMPARE(lines[1], QStringLiteral("%1 amostras").arg(std::lround(side.cells->cells[17].hits)));
    QVERIFY(std::lround(side.cells->cells[17].hits) > 100);
    for (int k : {0, 16, 18, 25, 71})
        QCOMPARE(meanText(side, k), QString::fromUtf8("—"));

    // No logs on a side: nothing to show, nothing refused.
    const LogsCells none = analyseLogs({});
    QVERIFY(!none.cells && none.refusal.isEmpty());
    QCOMPARE(meanText(none, 17), QString());
}

QTEST_GUILESS_MAIN(TestCorrection)
#include "tst_correction.moc"
