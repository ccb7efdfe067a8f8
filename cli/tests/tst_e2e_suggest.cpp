// velto-cli suggest end to end: the real program on generated logs and map files;
// stdout lines, stderr counts, the written tune byte for byte, exit codes.
#include "core/controller.h"
#include "link/tuneimage.h"
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "tuning/tests/drivelog.h"
#include "tests/support/clirun.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using clirun::cli;
using clirun::Run;
using clirun::readAll;
using clirun::writeTemp;

QList<QByteArray> startupFields()
{
    QByteArray line = MapFile::bytesOf(startupTune());
    line.chop(2);
    return line.split(';');
}

// Field 81 + k holds injection cell k.
QByteArray tuneWith(const QList<QPair<int, QByteArray>> &cells)
{
    QList<QByteArray> f = startupFields();
    for (const auto &[k, text] : cells)
        f[80 + k] = text;
    return f.join(';') + "\r\n";
}



QString countsText(const QString &logs, int rows, int used, const QString &map, const QList<int> &rejected)
{
    const char *names[] = {"valores inválidos ou linha ilegível", "motor abaixo de 70 °C", "abaixo de 500 RPM",
                           "injeção cortada (Ti 0)", "TPS moveu 51 ou mais em 500 ms",
                           "menos de 300 ms na mesma célula", "sonda fora de 50 a 950 mV",
                           "motor aquecendo, eletroventilador ou ar-condicionado ligado",
                           "correção da sonda desligada",
                           "sonda ainda sem cruzar o alvo na célula (atraso de 200 ms)"};
    QString t = QStringLiteral("velto-cli: %1, %2 linha(s), %3 usada(s), mapa de referência %4\n"
                               "velto-cli: linhas rejeitadas por filtro:\n")
                    .arg(logs)
                    .arg(rows)
                    .arg(used)
                    .arg(map);
    for (int f = 0; f < 10; ++f) // the last three rules reject nothing unless given
        t += QStringLiteral("  %1  %2\n").arg(rejected.value(f), 9).arg(QString::fromUtf8(names[f]));
    return t;
}

} // namespace

class TestSuggestCli : public QObject {
    Q_OBJECT
private slots:
    void suggestsAndWritesOnlyTheChangedCells();
    void refusals_data();
    void refusals();
    void nothingToChangeStillWritesTheTune();
    void mapNamedAndJson();
    void fullLoadAndWarmUp();
};

void TestSuggestCli::suggestsAndWritesOnlyTheChangedCells()
{
    QTemporaryDir dir;
    const QString log = writeTemp(dir, "a.msl", driveLog());
    const QString snapshot = writeTemp(dir, "a-mapa.txt", tuneWith({}));
    const QString out = dir.filePath("novo.txt");
    const Run r = cli({"suggest", log, "-o", out});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringLiteral("17 3 2 95,0 +5,0% 4 -> 4,2\n"
                                   "40 6 1 97,0 -4,0% 2,4 -> 2,3\n"));
    QCOMPARE(r.err, countsText("1 registro(s)", 204, 192, snapshot, {2, 2, 0, 0, 5, 3, 0}));
    QCOMPARE(readAll(out), tuneWith({{17, "4,2"}, {40, "2,3"}}));
    QCOMPARE(readAll(snapshot), tuneWith({}));

    // Tighter settings from the command line: 96 hits are needed, 5 % at most.
    const Run tight = cli({"suggest", log, "-o", out, "--min-hits", "96", "--max-change", "5"});
    QCOMPARE(tight.code, 0);
    QCOMPARE(tight.out, QStringLiteral("40 6 1 97,0 -4,0% 2,4 -> 2,3\n"));
    QCOMPARE(readAll(out), tuneWith({{40, "2,3"}}));
    // Warmer: the rows at 85 °C still pass, the count names the new floor.
    const Run warm = cli({"suggest", log, "-o", out, "--min-temp", "90"});
    QCOMPARE(warm.code, 0);
    QVERIFY2(warm.err.contains(QString::fromUtf8("        202  motor abaixo de 90 °C\n")), qPrintable(warm.err));
    QCOMPARE(readAll(out), tuneWith({}));
}

void TestSuggestCli::refusals_data()
{
    QTest::addColumn<QStringList>("arguments"); // %1 the folder
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("err");
    QTest::newRow("different maps")
        << QStringList{"%1/a.msl", "%1/b.msl", "-o", "%1/novo.txt"} << 4
        << QString::fromUtf8("velto-cli: Os registros %1/a.msl e %1/b.msl foram gravados com mapas de injeção "
                             "diferentes (%1/a-mapa.txt e %1/b-mapa.txt): a correção de um não vale para o outro. "
                             "Abra-os em separado. Nada a sugerir.\n");
    QTest::newRow("no snapshot")
        << QStringList{"%1/c.msl", "-o", "%1/novo.txt"} << 4
        << QString::fromUtf8("velto-cli: O mapa do registro %1/c.msl, %1/c-mapa.txt não pôde ser lido: o arquivo não "
                             "existe. Nada a sugerir.\n");
    QTest::newRow("log without CorrCurto")
        << QStringList{"%1/semcorr.msl", "-o", "%1/novo.txt"} << 4
        << QString::fromUtf8("velto-cli: O registro %1/semcorr.msl não tem o canal CorrCurto, de que a correção precisa: nada a sugerir.\n");
    QTest::newRow("output over the snapshot")
        << QStringList{"%1/a.msl", "-o", "%1/a-mapa.txt"} << 4
        << QString::fromUtf8("velto-cli: %1/a-mapa.txt é o mapa com que %1/a.msl foi gravado (ou o próprio "
                             "registro): escolha outro arquivo. Nada foi gravado.\n");
    QTest::newRow("limit above 25 %")
        << QStringList{"%1/a.msl", "-o", "%1/novo.txt", "--max-change", "30"} << 2
        << QString::fromUtf8("velto-cli: --max-change espera um número de 0 a 25, não \"30\"\n");
    QTest::newRow("no log") << QStringList{"-o", "%1/novo.txt"} << 2 << QString();
    // Beside d.msl the map of the round before (cells 17 and 40 as they were then).
    QTest::newRow("snapshot of the round before")
        << QStringList{"%1/d.msl", "-o", "%1/novo.txt"} << 4
        << QString::fromUtf8("velto-cli: O mapa de injeção de %1/d-mapa.txt não explica o Ti do registro %1/d.msl "
                             "(erro mediano de 5,3 %, acima de 1,5 %): o registro foi gravado com outro mapa, e a "
                             "correção não vale para esse. Nada a sugerir.\n");
    QTest::newRow("the round before's map named")
        << QStringList{"%1/c.msl", "--map", "%1/antes.txt", "-o", "%1/novo.txt"} << 4
        << QString::fromUtf8("velto-cli: O mapa de injeção de %1/antes.txt não explica o Ti do registro %1/c.msl "
                             "(erro mediano de 5,3 %, acima de 1,5 %): o registro foi gravado com outro mapa, e a "
                             "correção não vale para esse. Nada a sugerir.\n");
}

void TestSuggestCli::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, err);
    QTemporaryDir dir;
    writeTemp(dir, "a.msl", driveLog());
    writeTemp(dir, "b.msl", driveLog());
    writeTemp(dir, "c.msl", driveLog());
    QByteArray noCorr = driveLog();
    noCorr.replace("CorrCurto", "Outro");
    writeTemp(dir, "semcorr.msl", noCorr);
    writeTemp(dir, "semcorr-mapa.txt", tuneWith({}));
    const QByteArray snapshot = tuneWith({});
    writeTemp(dir, "a-mapa.txt", snapshot);
    writeTemp(dir, "b-mapa.txt", tuneWith({{5, "7,9"}}));
    writeTemp(dir, "d.msl", driveLog());
    writeTemp(dir, "d-mapa.txt", tuneWith({{17, "3,8"}, {40, "2,6"}}));
    writeTemp(dir, "antes.txt", tuneWith({{17, "3,8"}, {40, "2,6"}}));
    for (QString &a : arguments)
        a = a.arg(dir.path());
    const Run r = cli(QStringList{"suggest"} + arguments);
    QCOMPARE(r.code, code);
    QCOMPARE(r.out, QString());
    if (!err.isEmpty())
        QCOMPARE(r.err, err.arg(dir.path()));
    else
        QVERIFY(r.err.startsWith(QStringLiteral("velto-cli: ")));
    QVERIFY(!QFile::exists(dir.filePath("novo.txt")));
    QCOMPARE(readAll(dir.filePath("a-mapa.txt")), snapshot);
}

void TestSuggestCli::nothingToChangeStillWritesTheTune()
{
    QTemporaryDir dir;
    const QString log = writeTemp(dir, "a.msl", driveLog(0, 0));
    // A snapshot as another program may have written it: LF only, "8,0" for "8".
    QByteArray snapshot = tuneWith({{6, "8,0"}});
    snapshot.chop(2);
    writeTemp(dir, "a-mapa.txt", snapshot + "\n");
    const QString out = dir.filePath("novo.txt");
    const Run r = cli({"suggest", log, "-o", out});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QString());
    QVERIFY2(r.err.endsWith(QString::fromUtf8(
                 "velto-cli: O módulo não corrigiu a injeção neste registro (correção da sonda desligada ou ainda "
                 "não ativa): nada a sugerir.\n")),
             qPrintable(r.err));
    QCOMPARE(readAll(out), snapshot + "\r\n");

    writeTemp(dir, "b.msl", driveLog(1, -1));
    writeTemp(dir, "b-mapa.txt", tuneWith({}));
    const Run within = cli({"suggest", dir.filePath("b.msl"), "-o", out});
    QCOMPARE(within.code, 0);
    QVERIFY2(within.err.endsWith(QString::fromUtf8(
                 "velto-cli: Nenhuma célula precisa de correção: o mapa de injeção fica como está.\n")),
             qPrintable(within.err));
}

void TestSuggestCli::mapNamedAndJson()
{
    QTemporaryDir dir;
    const QString log1 = writeTemp(dir, "a.msl", driveLog());
    const QString log2 = writeTemp(dir, "b.msl", driveLog(5, -4));
    // The tune the module held, with another RPM limit: written back with it.
    QList<QByteArray> fields = startupFields();
    fields[2] = "6500";
    const QString map = writeTemp(dir, "oficina.txt", fields.join(';') + "\r\n");
    writeTemp(dir, "b-mapa.txt", tuneWith({}));
    const QString out = dir.filePath("novo.txt");
    const Run r = cli({"suggest", log1, log2, "--map", map, "-o", out, "--json"});
    QCOMPARE(r.code, 0);
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    QCOMPARE(o.value("changed").toInt(), 2);
    QCOMPARE(o.value("map").toString(), map);
    QCOMPARE(o.value("used").toInt(), 384);
    const QJsonObject c17 = o.value("cells").toArray().at(17).toObject();
    QCOMPARE(c17.value("new").toString(), QStringLiteral("4,2"));
    QCOMPARE(c17.value("hits").toDouble(), 190.0);
    QCOMPARE(c17.value("state").toString(), QStringLiteral("mais"));
    fields[80 + 17] = "4,2";
    fields[80 + 40] = "2,3";
    QCOMPARE(readAll(out), fields.join(';') + "\r\n");
}

// A power-rich full-load column read as rich is not leaned unless asked for; a cold
// start teaches the warm-up curve's points above eSondaTemp, and nothing else.
void TestSuggestCli::fullLoadAndWarmUp()
{
    QTemporaryDir dir;
    QByteArray rich = logformat::header(QStringLiteral("2.2"), QStringLiteral("2026-01-01T10:00:00"));
    for (int i = 0; i < 100; ++i)
        rich += logformat::row(100 * i, driveRow(100 * i, 18, 42, -6, -4).values);
    const QString log = writeTemp(dir, "plena.msl", rich);
    writeTemp(dir, "plena-mapa.txt", tuneWith({}));
    const QString out = dir.filePath("novo.txt");
    const Run kept = cli({"suggest", log, "-o", out});
    QCOMPARE(kept.code, 0);
    QCOMPARE(kept.out, QString::fromUtf8("31 4 8 95,0 -10,0% 8,2 plena: a sonda não mede\n"));
    QCOMPARE(readAll(out), tuneWith({}));
    const Run leaned = cli({"suggest", log, "-o", out, "--lean-full-load"});
    QCOMPARE(leaned.out, QStringLiteral("31 4 8 95,0 -10,0% 8,2 -> 7,4\n"));
    QCOMPARE(readAll(out), tuneWith({{31, "7,4"}}));
    const Run moved = cli({"suggest", log, "-o", out, "--full-load-column", "9"});
    QCOMPARE(moved.out, QStringLiteral("31 4 8 95,0 -10,0% 8,2 -> 7,4\n"));

    // From 25 to 95 °C at 50 rows a degree: CorrTemp as the tune's curve, and a loop
    // that finds 4 points more than the curve gives at 45 °C (20 %).
    QByteArray cold = logformat::header(QStringLiteral("2.2"), QStringLiteral("2026-01-01T10:00:00"));
    std::int64_t ms = 0;
    const int curve[8] = {55, 40, 30, 20, 12, 5, 0, 0};
    for (int temp = 25; temp <= 95; ++temp)
        for (int i = 0; i < 50; ++i, ms += 100) {
            const int x = std::min(temp, 105) / 15, ct = temp >= 105 ? 0 : curve[x] + (curve[std::min(x + 1, 7)] - curve[x]) * (temp - 15 * x) / 15;
            const int loop = temp >= 40 && temp < 50 ? 3 : 0;
            logformat::Row r = driveRow(ms, 14, 9, loop, 0, temp);
            r.values.correctionTemperature = ct;
            setStartupTi(r.values);
            cold += logformat::row(r.ms, r.values);
        }
    const QString coldLog = writeTemp(dir, "frio.msl", cold);
    writeTemp(dir, "frio-mapa.txt", tuneWith({}));
    const Run w = cli({"suggest", coldLog, "-o", out, "--warmup"});
    QCOMPARE(w.code, 0);
    QVERIFY2(w.out.startsWith(QString::fromUtf8("0 °C 0,0 +55,0% 55 sem malha fechada\n"
                                                "15 °C 0,0 +40,0% 40 sem malha fechada\n")),
             qPrintable(w.out));
    QVERIFY2(w.out.contains(QString::fromUtf8("45 °C ")) && w.out.contains(QStringLiteral("20 -> 2")), qPrintable(w.out));
    // Only the warm-up points changed; the injection map is as it was.
    QList<QByteArray> written = readAll(out).split(';'), before = tuneWith({}).split(';');
    QCOMPARE(written.size(), before.size());
    QStringList changed;
    for (int f = 0; f < before.size(); ++f)
        if (written[f] != before[f])
            changed << QString::number(f);
    const int field45 = int(mapfile::fieldControls().indexOf(QStringLiteral("eCorrecaoTi45")));
    QVERIFY2(changed.contains(QString::number(field45)), qPrintable(changed.join(',')));
    for (const QString &f : changed) {
        const QString name = mapfile::fieldControls().value(f.toInt());
        QVERIFY2(name.startsWith(QStringLiteral("eCorrecaoTi")), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestSuggestCli)
#include "tst_e2e_suggest.moc"
