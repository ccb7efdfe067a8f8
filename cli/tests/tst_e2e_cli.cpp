// velto-cli end to end: the real program against the ECU simulator over a
// pseudo-terminal, and, for the read, against what the real window saves.
#include "e2ewindow.h"

#include "core/offlinecore.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tests/defaultimage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>

namespace {

struct Run {
    int code = -1;
    QString out, err;
};

Run cli(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(VELTO_CLI), arguments);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("velto-cli did not end");
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The fields of the start-up screen's map file, as the window saves it.
QList<QByteArray> startupFields()
{
    OfflineCore core;
    QByteArray line = core.controller().mapFile().screenBytes();
    line.chop(2); // CR LF
    return line.split(';');
}

int fieldIndex(const QString &control)
{
    if (control == QLatin1String("tpsMin"))
        return 200;
    if (control == QLatin1String("tpsMax"))
        return 201;
    return int(mapfile::fieldControls().indexOf(control));
}

// A map file: the start-up fields with some changed ({control, text}).
QByteArray tuneFile(const QList<QPair<QString, QByteArray>> &changes)
{
    QList<QByteArray> fields = startupFields();
    for (const auto &[control, text] : changes)
        fields[fieldIndex(control)] = text;
    return fields.join(';') + "\r\n";
}

QString writeTemp(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Start-up image with e0 = 12, e9i = 12,5 and e71 = 40.
const QList<QPair<QString, QByteArray>> changedCells = {{"e0", "12"}, {"e9i", "12,5"}, {"e71", "40"}};
QByteArray changedImage()
{
    QByteArray image = defaultimage::image();
    image[0] = char(12);
    image[71] = char(40);
    image[72 + 9] = char(125);
    return image;
}

} // namespace

class TestE2ECli : public QObject {
    Q_OBJECT
private slots:
    void writeLandsTheImageInTheModule()
    {
        QTemporaryDir dir;
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QString tune = writeTemp(dir, "tune.txt", tuneFile(changedCells));
        const Run r = cli({"write", tune, "--port", sim.devicePath()});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString());
        const QByteArray expected = changedImage();
        const QList<QByteArray> frames = sim.uploadFrames();
        QCOMPARE(frames.size(), 32);
        for (int b = 0; b < 32; ++b)
            QCOMPARE(frames[b], char(b + 1) + expected.mid(8 * b, 8));
        QCOMPARE(sim.commands(), QList<quint8>{0x48});
        QCOMPARE(sim.dumpImage(), expected);
    }

    void writeVerify_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        // The ECU keeps RPM in hundreds: the text comes back as 6000, the byte is the same.
        QTest::newRow("rounded text, same bytes") << "eLimiteRpm" << QByteArray("6050") << 0 << "";
        // A TPS maximum above 250 is taken back as the minimum by the read-back.
        QTest::newRow("TPS maximum refused on read-back")
            << "tpsMax" << QByteArray("252") << 5
            << "velto-cli: verificação: o módulo guardou outros bytes em 1 campo (enviado -> lido):\n"
               "202  tpsMax  TPS máximo  \"252\" -> \"130\"\n";
    }
    void writeVerify()
    {
        QFETCH(QString, control);
        QFETCH(QByteArray, text);
        QFETCH(int, code);
        QFETCH(QString, message);
        QTemporaryDir dir;
        SimProcess sim;
        QVERIFY(sim.start());
        const QString tune = writeTemp(dir, "tune.txt", tuneFile({{control, text}}));
        const Run r = cli({"write", tune, "--port", sim.devicePath(), "--verify"});
        QCOMPARE(r.err, message);
        QCOMPARE(r.code, code);
        QCOMPARE(sim.commands(), (QList<quint8>{0x48, 0x33}));
        QCOMPARE(sim.uploadFrames().size(), 32);
    }

    // A backup with read holds the bytes the window saves after its own read-back.
    void readSavesWhatTheWindowSaves()
    {
        QTemporaryDir dir;
        E2E e;
        QVERIFY(e.start());
        const QString tune = writeTemp(dir, "tune.txt", tuneFile(changedCells));
        QCOMPARE(cli({"write", tune, "--port", e.sim.devicePath()}).code, 0);

        const QString backup = dir.filePath("backup.txt");
        writeTemp(dir, "backup.txt", "old contents\r\n");
        const Run r = cli({"read", "--port", e.sim.devicePath(), "-o", backup});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);

        e.activate();
        e.click("btnLerDados");
        QTRY_VERIFY_WITH_TIMEOUT(!e.screen().isVisible("Panel1") && e.enabled("btnEnvia"), 8000);
        const QString windowSave = dir.filePath("window.txt");
        e.prompt.fileAnswers.push_back(windowSave);
        e.click("btnSalvar");
        QCOMPARE(e.prompt.messages, QStringList());
        QCOMPARE(readAll(backup), readAll(windowSave));
        const QList<QByteArray> fields = readAll(backup).split(';');
        QCOMPARE(fields.value(fieldIndex("e0")), QByteArray("12"));
        QCOMPARE(fields.value(fieldIndex("e9i")), QByteArray("12,5"));
    }

    void diffListsFieldsInOrder()
    {
        QTemporaryDir dir;
        const QString a = writeTemp(dir, "a.txt", tuneFile({}));
        const QString b = writeTemp(
            dir, "b.txt", tuneFile({{"e0", "12"}, {"e17i", "5,5"}, {"eLimiteRpm", "7000"}, {"tpsMin", "120"}}));
        Run r = cli({"diff", a, b});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out, QString("  9  e0          ignição linha 1 coluna 1  \"10\" -> \"12\"\n"
                                " 98  e17i        injeção linha 3 coluna 2  \"4\" -> \"5,5\"\n"
                                "  3  eLimiteRpm  Limite de RPM             \"6000\" -> \"7000\"\n"
                                "201  tpsMin      TPS mínimo                \"130\" -> \"120\"\n"));

        r = cli({"diff", a, b, "--json"});
        QCOMPARE(r.code, 1);
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        const QJsonArray list = json["differences"].toArray();
        QCOMPARE(list.size(), 4);
        QCOMPARE(list[1].toObject(), (QJsonObject{{"field", 98}, {"control", "e17i"},
                                                  {"label", "injeção linha 3 coluna 2"}, {"a", "4"}, {"b", "5,5"}}));

        r = cli({"diff", a, a});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString());
    }

    void imageShowsTheUploadBytes()
    {
        QTemporaryDir dir;
        const QString tune = writeTemp(dir, "tune.txt", tuneFile(changedCells));
        Run r = cli({"image", tune});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        const QByteArray expected = changedImage();
        QString lines;
        for (int b = 0; b < 32; ++b)
            lines += QString("%1: %2\n").arg(b + 1, 2, 10, QChar('0')).arg(QString(expected.mid(8 * b, 8).toHex(' ').toUpper()));
        QCOMPARE(r.out, lines);

        r = cli({"image", tune, "--json"});
        QCOMPARE(r.code, 0);
        const QJsonArray blocks = QJsonDocument::fromJson(r.out.toUtf8()).object()["blocks"].toArray();
        QCOMPARE(blocks.size(), 32);
        QCOMPARE(blocks[10].toObject()["block"].toInt(), 11);
        QCOMPARE(blocks[10].toObject()["bytes"].toArray()[1].toInt(), 125);
    }

    // Each failure: its exit code and message, nothing sent to the module, and an
    // output file that was there stays as it was.
    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments"); // TUNE, PORT and OUT are replaced
        QTest::addColumn<QByteArray>("tune");
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QByteArray good = tuneFile({});
        QByteArray short201 = good;
        short201.replace(";130;230\r\n", ";130\r\n");

        QTest::newRow("missing map file") << QStringList{"write", "MISSING", "--port", "PORT"} << good
                                          << QStringList{} << 4 << "velto-cli: MISSING: File not found\n";
        QTest::newRow("201 fields")
            << QStringList{"write", "TUNE", "--port", "PORT"} << short201 << QStringList{} << 4
            << "velto-cli: TUNE:  Atenção ! !  Arquivo de mapa inválido: 201 campos em vez de 202. Nada foi "
               "carregado.  \n";
        QTest::newRow("cell abc") << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"e5", "abc"}})
                                  << QStringList{} << 4 << "velto-cli: 'abc' is not a valid integer value\n";
        QTest::newRow("cell abc, image") << QStringList{"image", "TUNE"} << tuneFile({{"e5", "abc"}})
                                         << QStringList{} << 4 << "velto-cli: 'abc' is not a valid integer value\n";
        QTest::newRow("port that does not exist")
            << QStringList{"write", "TUNE", "--port", "/dev/velto-none"} << good << QStringList{} << 3
            << "velto-cli: Unable to open com port (win error code: 2)\n";
        QTest::newRow("silent module, read") << QStringList{"read", "--port", "PORT", "-o", "OUT"} << good
                                             << QStringList{"--silent"} << 3
                                             << "velto-cli: Módulo não responde. Nada foi gravado.\n";
        QTest::newRow("silent module, verify")
            << QStringList{"write", "TUNE", "--port", "PORT", "--verify"} << good << QStringList{"--silent"} << 3
            << "velto-cli: Módulo não responde\n";
        QTest::newRow("no port given") << QStringList{"read", "-o", "OUT"} << good << QStringList{} << 2
                                       << "velto-cli: falta a opção --port\nUso: velto-cli read --port PORTA -o "
                                          "MAPFILE\n(velto-cli --help mostra os comandos)\n";
        QTest::newRow("unknown command") << QStringList{"flash"} << good << QStringList{} << 2
                                         << "velto-cli: comando desconhecido: flash\n(velto-cli --help mostra os "
                                            "comandos)\n";
        QTest::newRow("diff of a missing file") << QStringList{"diff", "TUNE", "MISSING"} << good << QStringList{}
                                                << 4 << "velto-cli: MISSING: File not found\n";
    }
    void exitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, tune);
        QFETCH(QStringList, simOptions);
        QFETCH(int, code);
        QFETCH(QString, message);
        QTemporaryDir dir;
        SimProcess sim(simOptions);
        QVERIFY(sim.start());
        const QString tunePath = writeTemp(dir, "tune.txt", tune);
        const QString out = writeTemp(dir, "out.txt", "kept\r\n");
        const QString missing = dir.filePath("missing.txt");
        for (QString &a : arguments)
            a = a == "TUNE" ? tunePath : a == "PORT" ? sim.devicePath() : a == "OUT" ? out : a == "MISSING" ? missing : a;
        const Run r = cli(arguments);
        QString expected = message;
        expected.replace("MISSING", missing).replace("TUNE", tunePath);
        QCOMPARE(r.err, expected);
        QCOMPARE(r.code, code);
        QCOMPARE(r.out, QString());
        QCOMPARE(sim.uploadFrames().size(), arguments.contains("--verify") ? 32 : 0);
        QCOMPARE(readAll(out), QByteArray("kept\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"out.txt", "tune.txt"}));
    }

    void helpAndVersionEverywhere_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("start");
        QTest::newRow("overview") << QStringList{"--help"} << "Uso: velto-cli COMANDO [opções]\n";
        for (const char *c : {"ports", "image", "write", "read", "diff", "log", "convert"})
            QTest::newRow(c) << QStringList{c, "--help"} << QString("Uso: velto-cli %1").arg(c);
        QTest::newRow("version") << QStringList{"--version"} << "velto-cli 2.2\n";
        QTest::newRow("write version") << QStringList{"write", "--version"} << "velto-cli 2.2\n";
    }
    void helpAndVersionEverywhere()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, start);
        const Run r = cli(arguments);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.err, QString());
        QVERIFY2(r.out.startsWith(start), qPrintable(r.out));
        if (arguments.contains("--help"))
            QVERIFY(r.out.contains("  5  a verificação após o envio encontrou diferença (write --verify)\n"));
    }

    void portsListsTheSimulator()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELTO_SERIAL_PORTS", sim.devicePath());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VELTO_CLI), {"ports", "--json"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QJsonArray list = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
        QVERIFY(!list.isEmpty());
        QCOMPARE(list[0].toObject()["name"].toString(), sim.devicePath());
        QCOMPARE(list[0].toObject()["description"].toString(), QString("Pseudo-terminal"));
    }

    // A run recorded by the command line: the scanner's poll, rows once the three
    // live kinds came, the tune beside the log, the stop command at the end.
    void logRecordsTheRunAndStopsTheScanner()
    {
        QTemporaryDir dir;
        SimProcess sim({"--rate", "20"});
        QVERIFY(sim.start());
        const QString log = dir.filePath("run.msl");
        const Run r = cli({"log", "--port", sim.devicePath(), "-o", log, "--seconds", "2"});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        const QList<QByteArray> lines = readAll(log).split('\n');
        QCOMPARE(lines.value(0), QByteArray("\"Velto 2.2\""));
        QVERIFY(lines.value(1).startsWith("\"Capture Date: "));
        QCOMPARE(lines.value(2), QByteArray("\"Rows: one per sample\""));
        QVERIFY(lines.value(3).startsWith("Time\tRPM\tAvanco\tTi\tAbertura\tTPS\tTPSV\tTemperatura\t"));
        QVERIFY2(lines.size() > 7, "no row recorded");
        QCOMPARE(lines.last(), QByteArray()); // the file ends with a whole line
        QCOMPARE(lines.value(5).count('\t'), 23);
        QByteArray tune = readAll(dir.filePath("run-mapa.txt"));
        QCOMPARE(tune, startupFields().join(';') + "\r\n");
        // The simulator logs what it read a moment after velto-cli has written it.
        QTRY_COMPARE(sim.commands().value(sim.commands().size() - 1), quint8(0xD9));
        QCOMPARE(sim.commands().first(), quint8(0x7F));
    }

    void logEndsOnSigint()
    {
        QTemporaryDir dir;
        SimProcess sim({"--rate", "20"});
        QVERIFY(sim.start());
        const QString log = dir.filePath("run.msl");
        QProcess p;
        p.start(QStringLiteral(VELTO_CLI), {"log", "--port", sim.devicePath(), "-o", log});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readAll(log).split('\n').size() > 7, 10000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(QString::fromUtf8(p.readAllStandardError()), QString());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(readAll(log).endsWith('\n'));
        QTRY_COMPARE(sim.commands().value(sim.commands().size() - 1), quint8(0xD9));
    }

    void logOfASilentModule()
    {
        QTemporaryDir dir;
        SimProcess sim({"--silent"});
        QVERIFY(sim.start());
        const QString log = dir.filePath("run.msl");
        const Run r = cli({"log", "--port", sim.devicePath(), "-o", log, "--seconds", "10"});
        QCOMPARE(r.err, QString("velto-cli: Módulo não responde\n"));
        QCOMPARE(r.code, 3);
        // The log was started and is closed whole: header lines, no row.
        QCOMPARE(readAll(log).split('\n').size(), 6);
    }

    // CSV: names and units with the column "Marca", a row per reading with commas and
    // decimal points, the marker on the first row at or after its time; a bad line is
    // reported once and the rest converted.
    void convertWritesCsv()
    {
        QTemporaryDir dir;
        const QByteArray names = "Time\tRPM\tAvanco\tTi\tAbertura\tTPS\tTPSV\tTemperatura\tColunaMAP\tColunaTPS\t"
                                 "Carga\tLinhaRPM\tCelula\tAtuadorML\tSonda\tPressaoAtm\tCorrCurto\tCorrLongo\t"
                                 "CorrTemp\tCorrAtm\tCorrAvanco\tBomba\tEletro\tAr";
        const QByteArray units = "s\trpm\tdeg\tms\t%\tadc\tV\tC\traw\traw\tpos\tpos\tcell\t%\tmV\tmbar\t%\t%\t%\t%\t"
                                 "deg\ton/off\ton/off\ton/off";
        const QByteArray row1 = "0.000\t900\t12\t2.5\t3.75\t150\t0.73\t85\t40\t30\t5\t2\t16\t20\t450\t1000\t0\t0\t0\t"
                                "0\t0\t1\t0\t0";
        const QByteArray row2 = "0.250\t1000\t13\t2.6\t4.33\t160\t0.78\t85\t41\t31\t6\t3\t24\t21\t460\t1000\t1\t0\t"
                                "0\t0\t0\t1\t0\t1";
        const QByteArray msl = "\"Velto 2.2\"\n\"Capture Date: 2026-12-08T18:00:00\"\n" + names + "\n" + units + "\n" +
                               row1 + "\nMARK 001 - curva, forte - 0.250\n" + row2 + "\n0.500\t1x\n";
        const QString in = writeTemp(dir, "run.msl", msl);
        const QString csv = dir.filePath("run.csv");
        const Run r = cli({"convert", in, "-o", csv});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.startsWith("velto-cli: " + in + ": 1 linha(s) ignorada(s); a primeira, linha 8: "), qPrintable(r.err));
        QByteArray expected = QByteArray(names).replace('\t', ',') + ",Marca\n" +
                              QByteArray(units).replace('\t', ',') + ",\n" + QByteArray(row1).replace('\t', ',') +
                              ",\n" + QByteArray(row2).replace('\t', ',') + ",\"MARK 001 - curva, forte\"\n";
        QCOMPARE(readAll(csv), expected);
    }

    void convertRefusesALogWithoutRows()
    {
        QTemporaryDir dir;
        const QString in = writeTemp(dir, "empty.msl", "\"Velto 2.2\"\n");
        const QString csv = writeTemp(dir, "old.csv", "kept\n");
        const Run r = cli({"convert", in, "-o", csv});
        QCOMPARE(r.code, 4);
        QVERIFY2(r.err.startsWith("velto-cli: " + in + ": "), qPrintable(r.err));
        QCOMPARE(readAll(csv), QByteArray("kept\n"));
    }
};

QTEST_MAIN(TestE2ECli)
#include "tst_e2e_cli.moc"
