// velto-cli cells end to end: the real program on logs written as the recorder writes
// them: the table per cell of every statistic, as text and as JSON, and its refusals.
#include "datalog/logformat.h"
#include "tests/support/clirun.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using clirun::cli;
using clirun::Run;

QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

LiveValues at(int speed, int load, int rpm, int tiTenths)
{
    LiveValues v;
    v.speedPosition = speed;
    v.loadPosition = load;
    v.rpm = rpm;
    v.injectionTenths = tiTenths;
    return v;
}

// Cell 0 twice, cell 9 once, cell 71 three times; a load past column 7 (speed 17,
// load 48) and a speed past row 8 (54) count for no cell.
QByteArray sampleLog()
{
    QByteArray b = logformat::header(QStringLiteral("2.2"), QStringLiteral("2026-12-09T03:00:00"));
    const LiveValues rows[] = {at(0, 0, 800, 25), at(5, 5, 900, 30), at(6, 7, 1000, 41), at(48, 42, 6500, 80),
                               at(53, 47, 6600, 85), at(17, 48, 3000, 50), at(54, 0, 7000, 90), at(48, 47, 6400, 77)};
    std::int64_t ms = 0;
    for (const LiveValues &v : rows)
        b += logformat::row(ms += 100, v);
    return b;
}

// Nine lines of eight, "-" but in the cells given.
QString table(const QMap<int, QString> &cells)
{
    QString t;
    for (int r = 0; r < 9; ++r) {
        QStringList line;
        for (int c = 0; c < 8; ++c)
            line << cells.value(8 * r + c, QStringLiteral("-"));
        t += line.join(u'\t') + u'\n';
    }
    return t;
}

} // namespace

class TestE2ECells : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void tableOfEveryStatistic_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("out");
        QTest::newRow("count is the default") << QStringList{"RPM"} << table({{0, "2"}, {9, "1"}, {71, "3"}});
        QTest::newRow("count") << QStringList{"Ti", "--stat", "count"} << table({{0, "2"}, {9, "1"}, {71, "3"}});
        QTest::newRow("mean, 2 decimals") << QStringList{"RPM", "--stat", "mean"}
                                          << table({{0, "850.00"}, {9, "1000.00"}, {71, "6500.00"}});
        QTest::newRow("mean of Ti") << QStringList{"Ti", "--stat", "mean"}
                                    << table({{0, "2.75"}, {9, "4.10"}, {71, "8.07"}});
        QTest::newRow("min of Ti, its decimal") << QStringList{"Ti", "--stat", "min"}
                                                << table({{0, "2.5"}, {9, "4.1"}, {71, "7.7"}});
        QTest::newRow("max") << QStringList{"RPM", "--stat", "max"} << table({{0, "900"}, {9, "1000"}, {71, "6600"}});
    }
    void tableOfEveryStatistic()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, out);
        const QString log = write(dir, QStringLiteral("run.msl"), sampleLog());
        const Run r = cli(QStringList{"cells", log} + options);
        QCOMPARE(r.err, QString());
        QCOMPARE(r.out, out);
        QCOMPARE(r.code, 0);
    }

    void json()
    {
        const QString log = write(dir, QStringLiteral("run.msl"), sampleLog());
        const Run r = cli({"cells", log, "Ti", "--stat", "mean", "--json"});
        QCOMPARE(r.code, 0);
        QStringList cells(72, QStringLiteral("null"));
        cells[0] = "2.75";
        cells[9] = "4.10";
        cells[71] = "8.07";
        QCOMPARE(r.out, QStringLiteral("{\"channel\":\"Ti\",\"stat\":\"mean\",\"cells\":[%1]}\n").arg(cells.join(u',')));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("err");
        QTest::newRow("unknown channel") << sampleLog() << QStringList{"rpm"} << 2
                                         << "velto-cli: canal desconhecido \"rpm\"; os canais são: " +
                                                logformat::channels().join(", ") + "\n";
        QTest::newRow("unknown statistic") << sampleLog() << QStringList{"RPM", "--stat", "median"} << 2
                                           << "velto-cli: --stat espera count, mean, min ou max, não \"median\"\n";
        QTest::newRow("a file the reader refuses") << QByteArray("RPM;Ti\n900;2.5\n") << QStringList{"RPM"} << 4
                                                   << "velto-cli: %1: O registro %1 não tem a linha dos canais "
                                                      "(Time ...). Nada foi aberto.\n";
        // Without a position channel every row would fall in cell (0,0).
        QTest::newRow("no LinhaRPM") << QByteArray("Time\tRPM\tTi\tCarga\n0.1\t900\t2.5\t5\n0.2\t950\t2.6\t7\n")
                                     << QStringList{"RPM"} << 4
                                     << "velto-cli: %1: o registro não tem o canal de posição LinhaRPM: sem ele, "
                                        "nenhuma leitura tem célula do mapa.\n";
        QTest::newRow("neither position") << QByteArray("Time\tRPM\tTi\n0.1\t900\t2.5\n") << QStringList{"Ti"} << 4
                                          << "velto-cli: %1: o registro não tem os canais de posição LinhaRPM e "
                                             "Carga: sem eles, nenhuma leitura tem célula do mapa.\n";
    }
    void refusals()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, err);
        const QString log = write(dir, QStringLiteral("bad.msl"), file);
        const Run r = cli(QStringList{"cells", log} + options);
        QCOMPARE(r.err, err.contains("%1") ? err.arg(log) : err);
        QCOMPARE(r.out, QString());
        QCOMPARE(r.code, code);
    }
};

QTEST_MAIN(TestE2ECells)
#include "tst_e2e_cells.moc"
