// The log's columns: the per-pixel reduction against a brute-force minimum and maximum,
// a one-row spike at every zoom, the table per cell against a brute-force count, the
// spans of a cell and the texts of the table.
#include "datalog/logcolumns.h"

#include <QtTest>
#include <sys/resource.h>
#include <cmath>
#include <random>
#include <stdexcept>

using namespace logview;

namespace {

// A log of n rows, a row every stepMs (jittered when jitter), values from fill.
template <typename F> logformat::Log makeLog(std::size_t n, F fill, std::int64_t stepMs = 10, bool jitter = false)
{
    std::mt19937 rng(7);
    logformat::Log log;
    log.rows.resize(n);
    std::int64_t ms = 123456;
    for (std::size_t i = 0; i < n; ++i) {
        log.rows[i].ms = ms;
        ms += jitter ? std::int64_t(rng() % 40) : stepMs; // equal times happen too
        fill(i, log.rows[i].values);
    }
    return log;
}

// Points of an envelope that lie inside [t0, t1] (the two edge rows lie outside).
std::vector<std::pair<double, double>> inside(const Envelope &e, double t0, double t1)
{
    std::vector<std::pair<double, double>> p;
    for (std::size_t i = 0; i < e.x.size(); ++i)
        if (e.x[i] >= t0 && e.x[i] <= t1)
            p.emplace_back(e.x[i], e.y[i]);
    return p;
}

// Row r of the grid holds speed positions 6r..6r+5 (row 0 also -5..-1, truncated).
bool inRow(int speed, int r) { return r == 0 ? speed >= -5 && speed <= 5 : speed >= 6 * r && speed <= 6 * r + 5; }
bool inColumn(int load, int c) { return c == 0 ? load >= -5 && load <= 5 : load >= 6 * c && load <= 6 * c + 5; }

} // namespace

class TestLogColumns : public QObject {
    Q_OBJECT
private slots:
    void spikeSurvivesEveryZoom_data();
    void spikeSurvivesEveryZoom();
    void reductionEqualsBruteForce();
    void fewRowsAreDrawnAsThey();
    void cellTableEqualsBruteForce();
    void spansOfACell();
    void channelValuesAsTheFileWrites();
    void cellTexts_data();
    void cellTexts();
    void foreignLogs_data();
    void foreignLogs();
    void emptyFieldIsNoValue();
    void noPositionNoCell();
    void longLineCostsNoMemory();
};

void TestLogColumns::spikeSurvivesEveryZoom_data()
{
    QTest::addColumn<int>("pixels");
    for (int pixels : {1, 37, 400, 1280, 1920})
        QTest::newRow(qPrintable(QString::number(pixels) + " px")) << pixels;
}

// One row of 6500 rpm and one of 0 among 400000 rows of 900: both stay in every view.
void TestLogColumns::spikeSurvivesEveryZoom()
{
    QFETCH(int, pixels);
    const std::size_t n = 400000, high = 271828, low = 31415;
    const LogColumns cols(makeLog(n, [&](std::size_t i, LiveValues &v) {
        v.rpm = i == high ? 6500 : i == low ? 0 : 900;
    }));
    const std::vector<float> &rpm = cols.column(RpmChannel);
    for (const std::size_t spike : {high, low}) {
        const double t = cols.time()[spike];
        const float want = rpm[spike];
        for (double width = cols.time().back() * 2; width > 0.005; width /= 3) {
            for (double shift : {0.0, 0.25, 0.5, 0.99}) {
                const double t0 = t - width * shift, t1 = t0 + width;
                const Envelope e = reduce(cols, RpmChannel, t0, t1, pixels);
                QVERIFY2(e.x.size() <= std::size_t(2 * pixels) + 2, qPrintable(QString::number(e.x.size())));
                const auto pts = inside(e, t0, t1);
                const bool found = std::any_of(pts.begin(), pts.end(),
                                               [&](auto p) { return p.first == t && p.second == want; });
                QVERIFY2(found, qPrintable(QStringLiteral("spike %1 lost at width %2 s").arg(spike).arg(width)));
            }
        }
    }
}

// Every pixel column of every view: its points' smallest and largest value are the
// smallest and largest of all its rows, and every point is a row of the log.
void TestLogColumns::reductionEqualsBruteForce()
{
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<int> value(-500, 500);
    const LogColumns cols(makeLog(200000, [&](std::size_t, LiveValues &v) { v.correctionShort = value(rng); }, 0, true));
    const std::vector<double> &time = cols.time();
    const std::vector<float> &col = cols.column(16);
    std::uniform_real_distribution<double> where(-5, time.back() + 5);
    for (int trial = 0; trial < 40; ++trial) {
        double t0 = where(rng), t1 = where(rng);
        if (t0 > t1)
            std::swap(t0, t1);
        const int pixels = 1 + int(rng() % 900);
        // Row by row, and with the summary of blocks of rows.
        const Envelope e = trial % 2 ? reduce(time, col, t0, t1, pixels) : reduce(cols, 16, t0, t1, pixels);
        std::vector<float> lo(std::size_t(pixels), 1e9f), hi(std::size_t(pixels), -1e9f);
        std::size_t rowsInView = 0;
        for (std::size_t i = 0; i < time.size(); ++i) {
            if (time[i] < t0 || time[i] > t1)
                continue;
            ++rowsInView;
            const std::size_t p = std::size_t(pixelColumn(time[i], t0, t1, pixels));
            lo[p] = std::min(lo[p], col[i]);
            hi[p] = std::max(hi[p], col[i]);
        }
        std::vector<float> gotLo(std::size_t(pixels), 1e9f), gotHi(std::size_t(pixels), -1e9f);
        std::vector<int> perColumn(std::size_t(pixels), 0);
        for (const auto &[x, y] : inside(e, t0, t1)) {
            const std::size_t p = std::size_t(pixelColumn(x, t0, t1, pixels));
            gotLo[p] = std::min(gotLo[p], float(y));
            gotHi[p] = std::max(gotHi[p], float(y));
            ++perColumn[p];
            const auto first = std::lower_bound(time.begin(), time.end(), x);
            bool isRow = false;
            for (auto it = first; it != time.end() && *it == x && !isRow; ++it)
                isRow = col[std::size_t(it - time.begin())] == float(y);
            QVERIFY2(isRow, "a point that is no row of the log");
        }
        QCOMPARE(gotLo, lo);
        QCOMPARE(gotHi, hi);
        if (rowsInView > std::size_t(2 * pixels))
            QVERIFY(*std::max_element(perColumn.begin(), perColumn.end()) <= 2);
    }
}

// Where the view holds few rows, every row is drawn, with the rows beside the view.
void TestLogColumns::fewRowsAreDrawnAsThey()
{
    const LogColumns cols(makeLog(10, [](std::size_t i, LiveValues &v) { v.rpm = int(i) * 100; }, 1000));
    const Envelope e = reduce(cols.time(), cols.column(RpmChannel), 2.5, 6.0, 800);
    QCOMPARE(e.x, (std::vector<double>{2, 3, 4, 5, 6, 7}));
    QCOMPARE(e.y, (std::vector<double>{200, 300, 400, 500, 600, 700}));
    QVERIFY(reduce(cols.time(), cols.column(RpmChannel), 3, 3, 800).x.empty());
}

void TestLogColumns::cellTableEqualsBruteForce()
{
    std::mt19937 rng(4242);
    // Positions also a little outside the grid: they count for no cell.
    std::uniform_int_distribution<int> speed(-5, 60), load(-5, 50), rpm(700, 7000);
    const logformat::Log log = makeLog(120000, [&](std::size_t, LiveValues &v) {
        v.speedPosition = speed(rng);
        v.loadPosition = load(rng);
        v.rpm = rpm(rng);
    });
    const LogColumns cols(log);
    for (const auto &[first, end] : {std::pair<std::size_t, std::size_t>{0, 120000}, {1000, 2000}, {777, 98765},
                                     {5, 5}}) {
        const CellTable t = cellTable(cols, RpmChannel, first, end);
        for (int r = 0; r < 9; ++r)
            for (int c = 0; c < 8; ++c) {
                std::int64_t count = 0;
                double sum = 0, lo = 1e9, hi = -1e9;
                for (std::size_t i = first; i < end; ++i) {
                    const LiveValues &v = log.rows[i].values;
                    if (!inRow(v.speedPosition, r) || !inColumn(v.loadPosition, c))
                        continue;
                    ++count;
                    sum += v.rpm;
                    lo = std::min(lo, double(v.rpm));
                    hi = std::max(hi, double(v.rpm));
                }
                const int k = 8 * r + c;
                QCOMPARE(t.count[std::size_t(k)], count);
                if (count == 0) {
                    QVERIFY(std::isnan(t.value(k, CellStat::Mean)));
                    continue;
                }
                QCOMPARE(t.value(k, CellStat::Count), double(count));
                QCOMPARE(t.value(k, CellStat::Mean), sum / double(count));
                QCOMPARE(t.value(k, CellStat::Min), lo);
                QCOMPARE(t.value(k, CellStat::Max), hi);
            }
    }
}

void TestLogColumns::spansOfACell()
{
    // Cells by row (a row a second): 9 9 17 9 9 9 -1 9
    const int speeds[] = {6, 6, 12, 6, 6, 6, 60, 11};
    const LogColumns cols(makeLog(8, [&](std::size_t i, LiveValues &v) {
        v.speedPosition = speeds[i];
        v.loadPosition = 6;
    }, 1000));
    const auto spans = cellSpans(cols, 9, 0, 8);
    QCOMPARE(spans.size(), std::size_t(3));
    QCOMPARE(std::vector<double>({spans[0].from, spans[0].to, spans[1].from, spans[1].to, spans[2].from, spans[2].to}),
             std::vector<double>({0, 2, 3, 6, 7, 7}));
    QCOMPARE(spans[1].row, std::size_t(3));
    // A range that cuts a stay ends it at the first row past the range.
    const auto cut = cellSpans(cols, 9, 4, 5);
    QCOMPARE(cut.size(), std::size_t(1));
    QCOMPARE(std::pair(cut[0].from, cut[0].to), std::pair(4.0, 5.0));
    QVERIFY(cellSpans(cols, 17, 3, 8).empty());
}

void TestLogColumns::channelValuesAsTheFileWrites()
{
    logformat::Log log = makeLog(2, [](std::size_t i, LiveValues &v) {
        v.injectionTenths = 123;
        v.tpsReading = 1023;
        v.rpm = 3000;
        v.markedCell = int(i) - 1;
    }, 250);
    log.absent = QStringList{QStringLiteral("Celula")};
    const LogColumns cols(log);
    QCOMPARE(cols.column(3)[0], 12.3f);
    QCOMPARE(cols.column(6)[1], 5.0f);
    QCOMPARE(cols.column(4)[0], float(3000 * 12.3 / 600));
    QCOMPARE(cols.column(TimeChannel)[1], 0.25f);
    QCOMPARE(cols.time(), (std::vector<double>{0, 0.25}));
    QCOMPARE(std::pair(cols.minimum(12), cols.maximum(12)), std::pair(-1.0f, 0.0f));
    QVERIFY(!cols.present(12));
    QVERIFY(cols.present(3));
    QCOMPARE(channelIndex(QStringLiteral("Sonda")), 14);
    QCOMPARE(channelIndex(QStringLiteral("sonda")), -1);
}

void TestLogColumns::cellTexts_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("stat");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("text");
    const double nan = std::nan("");
    QTest::newRow("empty count") << nan << int(CellStat::Count) << 1 << "-";
    QTest::newRow("empty mean") << nan << int(CellStat::Mean) << 1 << "-";
    QTest::newRow("count") << 1234.0 << int(CellStat::Count) << 3 << "1234";
    QTest::newRow("mean rounds") << 3456.125 << int(CellStat::Mean) << 1 << "3456.13";
    QTest::newRow("mean whole") << 900.0 << int(CellStat::Mean) << 1 << "900.00";
    QTest::newRow("min of Ti") << 2.5 << int(CellStat::Min) << 3 << "2.5";
    QTest::newRow("max of TPSV") << 4.995112 << int(CellStat::Max) << 6 << "5.00";
    QTest::newRow("min of RPM") << 800.0 << int(CellStat::Min) << 1 << "800";
    QTest::newRow("negative mean") << -3.5 << int(CellStat::Mean) << 16 << "-3.50";
    QTest::newRow("no minus zero") << -0.001 << int(CellStat::Mean) << 16 << "0.00";
}

void TestLogColumns::cellTexts()
{
    QFETCH(double, value);
    QFETCH(int, stat);
    QFETCH(int, channel);
    QFETCH(QString, text);
    QCOMPARE(cellText(value, CellStat(stat), channel), text);
}

QTEST_GUILESS_MAIN(TestLogColumns)
#include "tst_logcolumns.moc"

// Logs of other programs: what is unambiguous is taken, only what is really bad counted.
void TestLogColumns::foreignLogs_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<qint64>>("ms"); // the rows' times
    QTest::addColumn<int>("badLines");
    QTest::addColumn<QString>("reason");
    const QByteArray names = "Time\tRPM\tTi\n";
    QTest::newRow("plain") << names + "0.1\t900\t2.5\n0.2\t950\t2.6\n" << QList<qint64>{100, 200} << 0 << "";
    QTest::newRow("trailing tab on the rows") << names + "0.1\t900\t2.5\t\n0.2\t950\t2.6\t \n"
                                              << QList<qint64>{100, 200} << 0 << "";
    QTest::newRow("trailing tab on the names") << QByteArray("Time\tRPM\tTi\t\n0.1\t900\t2.5\n0.2\t950\t2.6\t\n")
                                               << QList<qint64>{100, 200} << 0 << "";
    QTest::newRow("blank lines") << names + "\n0.1\t900\t2.5\n\n  \r\n0.2\t950\t2.6\n\n" << QList<qint64>{100, 200}
                                 << 0 << "";
    QTest::newRow("blanks around") << names + "0.1\t 900\t2.5 \n 0.2 \t950\t  2.6\r\n" << QList<qint64>{100, 200}
                                   << 0 << "";
    QTest::newRow("empty field") << names + "0.1\t\t2.5\n0.2\t950\t \n" << QList<qint64>{100, 200} << 0 << "";
    QTest::newRow("epoch seconds") << names + "1733700000.250\t900\t2.5\n1733700001.500\t950\t2.6\n"
                                   << QList<qint64>{0, 1250} << 0 << "";
    QTest::newRow("time reset: a new stretch") << names + "5.0\t900\t2.5\n5.1\t900\t2.5\n0.0\t950\t2.6\n0.1\t950\t2.6\n"
                                               << QList<qint64>{5000, 5100, 5200, 5300} << 0 << "";
    // Still bad: a field no name stands for, a number that is none, an empty time.
    QTest::newRow("a field too many") << names + "0.1\t900\t2.5\t7\n0.2\t950\t2.6\n" << QList<qint64>{200} << 1
                                      << "mais de 3 campos";
    QTest::newRow("not a number") << names + "0.1\t9x0\t2.5\n0.2\t950\t2.6\n" << QList<qint64>{200} << 1
                                  << QString::fromUtf8("número inválido em RPM");
    QTest::newRow("empty time") << names + "0.1\t900\t2.5\n\t950\t2.6\n" << QList<qint64>{100} << 1
                                << QString::fromUtf8("número inválido em Time");
}

void TestLogColumns::foreignLogs()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<qint64>, ms);
    QFETCH(int, badLines);
    QFETCH(QString, reason);
    const logformat::Log log = logformat::parse(file, QStringLiteral("outro.msl"));
    QList<qint64> times;
    for (const logformat::Row &r : log.rows)
        times << r.ms;
    QCOMPARE(times, ms);
    QCOMPARE(log.badLines, badLines);
    QCOMPARE(log.firstBadReason, reason);
}

// An empty field is no value: not a zero in the plots' range nor in a cell's statistic.
void TestLogColumns::emptyFieldIsNoValue()
{
    const logformat::Log log = logformat::parse("Time\tRPM\tTi\tCarga\tLinhaRPM\n"
                                                "0.1\t900\t2.5\t0\t0\n"
                                                "0.2\t\t3.5\t0\t0\n"
                                                "0.3\t1100\t4.5\t\t0\n",
                                                QStringLiteral("outro.msl"));
    QCOMPARE(int(log.rows.size()), 3);
    const LogColumns columns(log);
    QVERIFY(std::isnan(columns.column(RpmChannel)[1]));
    QVERIFY(std::isnan(columns.column(4)[1])); // Abertura needs the RPM
    QCOMPARE(columns.minimum(RpmChannel), 900.0f);
    QCOMPARE(columns.maximum(RpmChannel), 1100.0f);
    QCOMPARE(columns.cell(2), -1); // no load position on that row
    const CellTable t = cellTable(columns, RpmChannel, 0, 3);
    QCOMPARE(t.count[0], std::int64_t(1));
    QCOMPARE(t.value(0, CellStat::Mean), 900.0);
    QCOMPARE(cellTable(columns, 3, 0, 3).count[0], std::int64_t(2)); // Ti on rows 0 and 1
}

// Without LinhaRPM or Carga no row has a cell (their zeros are no position).
void TestLogColumns::noPositionNoCell()
{
    const logformat::Log log = logformat::parse("Time\tRPM\tCarga\n0.1\t900\t5\n0.2\t950\t7\n",
                                                QStringLiteral("outro.msl"));
    const LogColumns columns(log);
    QCOMPARE(columns.missingPositions(), QStringList{"LinhaRPM"});
    const CellTable t = cellTable(columns, RpmChannel, 0, columns.size());
    for (int k = 0; k < 72; ++k)
        QCOMPARE(t.count[std::size_t(k)], std::int64_t(0));
    QCOMPARE(noCellsReason(columns.missingPositions()),
             QString::fromUtf8("o registro não tem o canal de posição LinhaRPM: sem ele, nenhuma leitura tem célula "
                               "do mapa"));
}

static long peakKilobytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A line of 16 million tabs is read no further than the names row's fields; a names
// row of as many fields is refused.
void TestLogColumns::longLineCostsNoMemory()
{
    const QByteArray tabs(16 * 1024 * 1024, '\t');
    const QByteArray file = "Time\tRPM\n0.1\t900\n" + tabs + "\n0.2\t950\n";
    const QByteArray crowded = "Time\tRPM\n0.1\t900\n0.15" + tabs + "7\n0.2\t950\n";
    const long before = peakKilobytes();
    const logformat::Log log = logformat::parse(file, QStringLiteral("linha.msl"));
    QCOMPARE(int(log.rows.size()), 2); // the line of tabs alone holds no value: blank
    const logformat::Log crowdedLog = logformat::parse(crowded, QStringLiteral("linha.msl"));
    QCOMPARE(int(crowdedLog.rows.size()), 2);
    QCOMPARE(crowdedLog.firstBadReason, QString("mais de 2 campos"));
    const long grown = peakKilobytes() - before;
    QVERIFY2(grown < 32 * 1024, qPrintable(QString("peak grew by %1 kB").arg(grown)));
    try {
        logformat::parse("RPM\t" + tabs + "Time\n", QStringLiteral("nomes.msl"));
        QFAIL("a names row of 16 million fields was taken");
    } catch (const logformat::LogRefused &e) {
        QCOMPARE(QString::fromUtf8(e.what()),
                 QString::fromUtf8("O registro nomes.msl tem mais de 1024 campos na linha dos canais (linha 1). Nada "
                                   "foi aberto."));
    }
}
