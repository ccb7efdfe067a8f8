// velto-cli end to end: the real program against the ECU simulator over a
// pseudo-terminal, and, for the read, against what the real window saves.
#include "e2ewindow.h"

#include "app/endonsignals.h"

#include "link/tuneimage.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tests/defaultimage.h"
#include "tests/support/clirun.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using clirun::cli;
using clirun::Run;
using clirun::readAll;
using clirun::writeTemp;

// The fields of the start-up screen's map file, as the window saves it.
QList<QByteArray> startupFields()
{
    QByteArray line = MapFile::bytesOf(startupTune());
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

// The silent module's message for a port.
QString silent(const QString &port)
{
    return QStringLiteral("Módulo não responde\nNenhuma resposta pela porta %1: confira o cabo e se o módulo está "
                          "ligado.")
        .arg(port);
}

// Whether a device is still marked for exclusive use (TIOCEXCL); -1 when it cannot be told.
int exclusive(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int value = -1;
    if (::ioctl(fd, TIOCGEXCL, &value) != 0)
        value = -1;
    ::close(fd);
    return value;
}

using clirun::Background;

// For the signal tests: the signal to velto-cli in the background, then its end.
Run signalAndWait(Background &b, int number)
{
    ::kill(pid_t(b.p.processId()), number);
    return b.finish(15000);
}

const char *signalName(int number)
{
    return number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : "SIGHUP";
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
        // The simulator logs what it read a moment after velto-cli has written it.
        QTRY_COMPARE(sim.commands(), QList<quint8>{0x48});
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
        // The highest TPS maximum the read-back takes back as it is.
        QTest::newRow("TPS maximum 250 comes back") << "tpsMax" << QByteArray("250") << 0 << "";
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

    // A shop's file and what `read` saves of the module it was sent to differ in texts
    // only ("6050" kept as 6000, "1" read as "1,0"): equal by value, listed by --texts.
    void diffOfAFileAndItsReadBack()
    {
        QTemporaryDir dir;
        SimProcess sim;
        QVERIFY(sim.start());
        const QString shop = writeTemp(dir, "shop.txt", tuneFile({{"eLimiteRpm", "6050"}, {"emSAr", "1"}, {"e9i", "12,50"}}));
        QCOMPARE(cli({"write", shop, "--port", sim.devicePath()}).code, 0);
        const QString backup = dir.filePath("backup.txt");
        QCOMPARE(cli({"read", "--port", sim.devicePath(), "-o", backup}).code, 0);
        Run r = cli({"diff", shop, backup});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.out, QString());
        QCOMPARE(r.code, 0);
        r = cli({"diff", "--texts", shop, backup});
        QCOMPARE(r.code, 1);
        const QStringList lines = r.out.split('\n');
        QVERIFY(lines.contains(" 90  e9i         injeção linha 2 coluna 2        \"12,50\" -> \"12,5\""));
        QVERIFY(lines.contains(" 98  e17i        injeção linha 3 coluna 2        \"4\" -> \"4,0\""));
        QVERIFY(lines.contains("  3  eLimiteRpm  Limite de RPM                   \"6050\" -> \"6000\""));
        QVERIFY(lines.contains("  5  emSAr       Ar Condic.: Incrementa Ti (ms)  \"1\" -> \"1,0\""));
    }

    // Data that cannot reach standard output is a failure, not a success.
    void fullStandardOutput_data()
    {
        QTest::addColumn<QStringList>("arguments"); // TUNE and OTHER are replaced
        QTest::newRow("image") << QStringList{"image", "TUNE"};
        QTest::newRow("image --json") << QStringList{"image", "TUNE", "--json"};
        QTest::newRow("ports --json") << QStringList{"ports", "--json"};
        QTest::newRow("diff") << QStringList{"diff", "TUNE", "OTHER"};
        QTest::newRow("help") << QStringList{"--help"};
    }
    void fullStandardOutput()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        const QString tune = writeTemp(dir, "tune.txt", tuneFile({}));
        const QString other = writeTemp(dir, "other.txt", tuneFile({{"e0", "12"}}));
        for (QString &a : arguments)
            a = a == "TUNE" ? tune : a == "OTHER" ? other : a;
        const Run r = cli(arguments, "/dev/full");
        QCOMPARE(r.code, 4);
        QVERIFY2(r.err.startsWith("velto-cli: a saída padrão não pôde ser gravada: "), qPrintable(r.err));
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
                                          << QStringList{} << 4 << "velto-cli: MISSING: File not found (arquivo ou pasta não encontrado)\n";
        QTest::newRow("201 fields")
            << QStringList{"write", "TUNE", "--port", "PORT"} << short201 << QStringList{} << 4
            << "velto-cli: TUNE: Atenção ! !  Arquivo de mapa inválido: 201 campos em vez de 202. Nada foi "
               "carregado.\n";
        const QString abc = "velto-cli: TUNE: campo 14 e5 (ignição linha 1 coluna 6): 'abc' is not a valid integer "
                            "value\n";
        QTest::newRow("cell abc") << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"e5", "abc"}})
                                  << QStringList{} << 4 << abc;
        QTest::newRow("cell abc, image") << QStringList{"image", "TUNE"} << tuneFile({{"e5", "abc"}})
                                         << QStringList{} << 4 << abc;
        QTest::newRow("injection cell 4,x")
            << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"e9i", "4,x"}}) << QStringList{} << 4
            << "velto-cli: TUNE: campo 90 e9i (injeção linha 2 coluna 2): '4,x' is not a valid floating point "
               "value\n";
        // The configuration page's own checks, before anything is sent.
        QTest::newRow("RPM limit above the page's maximum")
            << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"eLimiteRpm", "20000"}})
            << QStringList{} << 4
            << "velto-cli: TUNE: campo 3 eLimiteRpm (Limite de RPM): Atenção ! !  Valor máximo 12.000 PRM. Nada foi "
               "enviado.\n";
        QTest::newRow("charge time 6,5")
            << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"eTempoCarga", "6,5"}})
            << QStringList{} << 4
            << "velto-cli: TUNE: campo 196 eTempoCarga (Tempo de Carga (mS)): Atenção ! !  Valor máximo 4 mS. Nada "
               "foi enviado.\n";
        QTest::newRow("start advance 16")
            << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"eAvancoPartida", "16"}})
            << QStringList{} << 4
            << "velto-cli: TUNE: campo 198 eAvancoPartida (Avanço na Partida): Atenção ! !  Valor máximo 15 graus. "
               "Nada foi enviado.\n";
        QTest::newRow("cut-off off below on")
            << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"eDeslCutOff", "1400"}})
            << QStringList{} << 4
            << "velto-cli: TUNE: campo 8 eDeslCutOff (Cut Off: Desl. os Injet. (RPM)): Atenção ! !  Esse valor deve "
               "ser maior que o valor para ligar os injetores . Nada foi enviado.\n";
        QTest::newRow("TPS maximum 2000")
            << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"tpsMax", "2000"}}) << QStringList{}
            << 4
            << "velto-cli: TUNE: campo 202 tpsMax (TPS máximo): 2000 fora da faixa do TPS máximo (32 a 250): lido "
               "de volta, o módulo daria o TPS mínimo no lugar. Nada foi enviado.\n";
        // The read-back would give the TPS minimum for it: not sent, not blamed on the module.
        QTest::newRow("TPS maximum 252")
            << QStringList{"write", "TUNE", "--port", "PORT"} << tuneFile({{"tpsMax", "252"}})
            << QStringList{} << 4
            << "velto-cli: TUNE: campo 202 tpsMax (TPS máximo): 252 fora da faixa do TPS máximo (32 a 250): lido "
               "de volta, o módulo daria o TPS mínimo no lugar. Nada foi enviado.\n";
        QTest::newRow("port that does not exist")
            << QStringList{"write", "TUNE", "--port", "/dev/velto-none"} << good << QStringList{} << 3
            << "velto-cli: Unable to open com port (win error code: 2)\nA porta /dev/velto-none não existe. Veja as "
               "portas com: velto-cli ports\n";
        QTest::newRow("a map file as the port")
            << QStringList{"write", "TUNE", "--port", "TUNE"} << good << QStringList{} << 3
            << "velto-cli: Unable to open com port (win error code: 25)\nTUNE não é uma porta serial. Veja as "
               "portas com: velto-cli ports\n";
        QTest::newRow("silent module, read") << QStringList{"read", "--port", "PORT", "-o", "OUT"} << good
                                             << QStringList{"--silent"} << 3
                                             << "velto-cli: " + silent("PORT") + " Nada foi gravado.\n";
        QTest::newRow("silent module, verify")
            << QStringList{"write", "TUNE", "--port", "PORT", "--verify"} << good << QStringList{"--silent"} << 3
            << "velto-cli: " + silent("PORT") + "\n";
        // A log never takes the place of files that are there unless asked to.
        QTest::newRow("log over an existing log")
            << QStringList{"log", "--port", "PORT", "-o", "OUT", "--seconds", "5"} << good << QStringList{} << 4
            << "velto-cli: OUT já existe: dê outro nome ou use --force para substituí-lo. Nada foi gravado.\n";
        QTest::newRow("log, silent module") << QStringList{"log", "--port", "PORT", "-o", "TUNEDIR/new.msl", "--seconds", "5"} << good
                                            << QStringList{"--silent"} << 3
                                            << "velto-cli: " + silent("PORT") + " Nada foi gravado.\n";
        QTest::newRow("log --force, silent module")
            << QStringList{"log", "--port", "PORT", "-o", "OUT", "--force", "--seconds", "5"} << good << QStringList{"--silent"} << 3
            << "velto-cli: " + silent("PORT") + " Nada foi gravado.\n";
        QTest::newRow("no port given") << QStringList{"read", "-o", "OUT"} << good << QStringList{} << 2
                                       << "velto-cli: falta a opção --port\nUso: velto-cli read --port PORTA -o "
                                          "MAPFILE\n(velto-cli --help mostra os comandos)\n";
        QTest::newRow("unknown command") << QStringList{"flash"} << good << QStringList{} << 2
                                         << "velto-cli: comando desconhecido: flash\n(velto-cli --help mostra os "
                                            "comandos)\n";
        QTest::newRow("diff of a missing file") << QStringList{"diff", "TUNE", "MISSING"} << good << QStringList{}
                                                << 4 << "velto-cli: MISSING: File not found (arquivo ou pasta não encontrado)\n";
        // The module falls silent after the log has begun: the files that were there stay.
        QTest::newRow("log --force --map, module silent while recording")
            << QStringList{"log", "--port", "PORT", "-o", "OUT", "--force", "--map", "TUNE", "--seconds", "10"} << good
            << QStringList{"--silent"} << 3 << "velto-cli: " + silent("PORT") + "\n";
        QTest::newRow("log --map of a missing file")
            << QStringList{"log", "--port", "PORT", "-o", "TUNEDIR/new.msl", "--map", "MISSING"} << good
            << QStringList{} << 4 << "velto-cli: MISSING: File not found (arquivo ou pasta não encontrado)\n";
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
        for (QString &a : arguments) {
            a = a == "TUNE" ? tunePath : a == "PORT" ? sim.devicePath() : a == "OUT" ? out : a == "MISSING" ? missing : a;
            a.replace("TUNEDIR", dir.path());
        }
        const Run r = cli(arguments);
        QString expected = message;
        expected.replace("MISSING", missing).replace("TUNEDIR", dir.path()).replace("TUNE", tunePath);
        expected.replace(QRegularExpression("\\bPORT\\b"), sim.devicePath()).replace(QRegularExpression("\\bOUT\\b"), out);
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
        // The module holds a set other than the start-up screen's.
        QCOMPARE(cli({"write", writeTemp(dir, "tune.txt", tuneFile(changedCells)), "--port", sim.devicePath()}).code, 0);
        const Run backup = cli({"read", "--port", sim.devicePath(), "-o", "-"});
        QCOMPARE(backup.code, 0);
        QCOMPARE(backup.out.toUtf8().split(';').value(fieldIndex("e9i")), QByteArray("12,5"));
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
        // Beside the log: what the module holds, read back first, as `read` saves it.
        QCOMPARE(readAll(dir.filePath("run-mapa.txt")), backup.out.toUtf8());
        // The simulator logs what it read a moment after velto-cli has written it.
        QTRY_COMPARE(sim.commands().value(sim.commands().size() - 1), quint8(0xD9));
        QCOMPARE(sim.commands().mid(0, 4), (QList<quint8>{0x48, 0x33, 0x33, 0x7F}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"run-mapa.txt", "run.msl", "tune.txt"}));
    }

    // --map: the user says what the module holds; nothing is read, the file is the snapshot.
    void logWithTheMapTheUserGives()
    {
        QTemporaryDir dir;
        SimProcess sim({"--rate", "20"});
        QVERIFY(sim.start());
        const QByteArray tune = tuneFile(changedCells);
        const QString map = writeTemp(dir, "shop.txt", tune);
        const QString log = dir.filePath("run.msl");
        writeTemp(dir, "run-mapa.txt", "old map\r\n");
        const Run refused = cli({"log", "--port", sim.devicePath(), "-o", log, "--seconds", "2", "--map", map});
        QCOMPARE(refused.err, "velto-cli: " + dir.filePath("run-mapa.txt") +
                                  " já existe: dê outro nome ou use --force para substituí-lo. Nada foi gravado.\n");
        QCOMPARE(refused.code, 4);
        QCOMPARE(sim.commands(), QList<quint8>{});
        writeTemp(dir, "run.msl", "old log\n");
        const Run r = cli({"log", "--port", sim.devicePath(), "-o", log, "--seconds", "2", "--map", map, "--force"});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QCOMPARE(readAll(dir.filePath("run-mapa.txt")), tune);
        QVERIFY(readAll(log).startsWith("\"Velto 2.2\"\n"));
        QVERIFY(readAll(log).split('\n').size() > 7);
        QCOMPARE(sim.commands().first(), quint8(0x7F)); // no read request
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"run-mapa.txt", "run.msl", "shop.txt"}));
    }

    // Ctrl+C, a kill and a dropped SSH session end a log as its clock does.
    void logEndsOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        for (int n : {SIGINT, SIGTERM, SIGHUP})
            QTest::newRow(signalName(n)) << n;
    }
    void logEndsOnSignal()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        SimProcess sim({"--rate", "20"});
        QVERIFY(sim.start());
        const QString log = dir.filePath("run.msl");
        Background b({"log", "--port", sim.devicePath(), "-o", log});
        QVERIFY(b.p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readAll(log).split('\n').size() > 7, 10000);
        const Run r = signalAndWait(b, signal);
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QVERIFY(readAll(log).endsWith('\n'));
        QTRY_COMPARE(sim.commands().value(sim.commands().size() - 1), quint8(0xD9));
        QCOMPARE(exclusive(sim.devicePath()), 0);
    }

    // A signal during an upload: the frames stop before the end command, so the module
    // keeps its set; the message says so; the port is free again.
    void writeStopsOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        for (int n : {SIGINT, SIGTERM, SIGHUP})
            QTest::newRow(signalName(n)) << n;
    }
    void writeStopsOnSignal()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        SimProcess sim;
        QVERIFY(sim.start());
        const QString tune = writeTemp(dir, "tune.txt", tuneFile(changedCells));
        Background b({"write", tune, "--port", sim.devicePath()});
        QVERIFY(b.p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.uploadFrames().size() >= 3, 10000);
        const Run r = signalAndWait(b, signal);
        QCOMPARE(r.err, QStringLiteral("velto-cli: interrompido por %1: o envio parou antes do comando de fim; o "
                                       "módulo mantém o conjunto que tinha.\nO envio foi interrompido: os dados não "
                                       "chegaram inteiros ao módulo. Envie novamente.\n")
                            .arg(signalName(signal)));
        QCOMPARE(r.code, 128 + signal);
        QTest::qWait(200);
        QVERIFY(sim.uploadFrames().size() < 32);
        QVERIFY(!sim.commands().contains(0x48));
        QCOMPARE(sim.dumpImage(), defaultimage::image());
        QCOMPARE(exclusive(sim.devicePath()), 0);
        QCOMPARE(cli({"read", "--port", sim.devicePath(), "-o", dir.filePath("after.txt")}).code, 0);
    }

    // The cable pulled mid-upload: the port's error, the port, and the window's line.
    void writeLostMidUpload()
    {
        QTemporaryDir dir;
        SimProcess sim;
        QVERIFY(sim.start());
        const QString tune = writeTemp(dir, "tune.txt", tuneFile(changedCells));
        Background b({"write", tune, "--port", sim.devicePath()});
        QVERIFY(b.p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.uploadFrames().size() >= 3, 10000);
        sim.kill();
        QVERIFY(b.p.waitForFinished(15000));
        QCOMPARE(b.p.exitCode(), 3);
        const QStringList lines = QString::fromUtf8(b.p.readAllStandardError()).split('\n');
        QCOMPARE(lines.size(), 5); // four lines and the end
        QVERIFY2(lines[0].startsWith("velto-cli: ") && lines[0].contains("function failed (win error code: "),
                 qPrintable(lines[0]));
        // The line names the port: no "Porta:" line repeats it.
        QCOMPARE(lines[1], "O cabo ou o adaptador da porta " + sim.devicePath() + " foi desconectado.");
        QCOMPARE(lines[2], QString("O envio foi interrompido: os dados não chegaram inteiros ao módulo. Envie novamente."));
        QCOMPARE(lines[3], QString("O comando de fim não foi enviado: o módulo mantém o conjunto que tinha."));
    }

    void readWritesNothingOnSignal()
    {
        QTemporaryDir dir;
        SimProcess sim({"--pace", "300"});
        QVERIFY(sim.start());
        const QString out = writeTemp(dir, "backup.txt", "kept\r\n");
        Background b({"read", "--port", sim.devicePath(), "-o", out});
        QVERIFY(b.p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains(0x33), 10000);
        QTest::qWait(500);
        const Run r = signalAndWait(b, SIGTERM);
        QCOMPARE(r.err, QString("velto-cli: interrompido por SIGTERM: a leitura do módulo não terminou. Nada foi "
                                "gravado.\n"));
        QCOMPARE(r.code, 128 + SIGTERM);
        QCOMPARE(readAll(out), QByteArray("kept\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"backup.txt"});
        QCOMPARE(exclusive(sim.devicePath()), 0);
    }

    // The window on SIGTERM: the upload stops before its end command and the window ends.
    void windowStopsTheUploadOnSigterm()
    {
        E2E e;
        QVERIFY(e.start());
        const auto watch = endOnSignals(*e.form);
        e.activate();
        e.click("btnEnvia");
        QTRY_VERIFY_WITH_TIMEOUT(e.sim.uploadFrames().size() >= 3, 5000);
        ::raise(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!e.form->timer2().isEnabled(), 2000);
        QTest::qWait(300);
        QVERIFY(e.sim.uploadFrames().size() < 32);
        QVERIFY(!e.sim.commands().contains(0x48));
        e.form.reset();
        QCOMPARE(exclusive(e.sim.devicePath()), 0);
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

        // -o -: the same text on standard output.
        const Run piped = cli({"convert", in, "-o", "-"});
        QCOMPARE(piped.code, 0);
        QCOMPARE(piped.out.toUtf8(), expected);

        // --br: semicolons and decimal commas, for a spreadsheet in Portuguese.
        const QString br = dir.filePath("run-br.csv");
        QCOMPARE(cli({"convert", in, "-o", br, "--br"}).code, 0);
        QByteArray expectedBr = QByteArray(names).replace('\t', ';') + ";Marca\n" +
                                QByteArray(units).replace('\t', ';') + ";\n" +
                                "0,000;900;12;2,5;3,75;150;0,73;85;40;30;5;2;16;20;450;1000;0;0;0;0;0;1;0;0;\n" +
                                "0,250;1000;13;2,6;4,33;160;0,78;85;41;31;6;3;24;21;460;1000;1;0;0;0;0;1;0;1;"
                                "MARK 001 - curva, forte\n";
        QCOMPARE(readAll(br), expectedBr);
    }

    // A log from another program: the channels it does not hold stay out of the CSV
    // (no column of zeros), and the command says which.
    void convertLeavesAbsentChannelsOut()
    {
        QTemporaryDir dir;
        const QString in = writeTemp(dir, "foreign.msl", "Time\tRPM\tTi\n0.0\t900\t2.5\n0.1\t950\t2.6\n");
        const Run r = cli({"convert", in, "-o", "-"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString("Time,RPM,Ti,Abertura,Marca\ns,rpm,ms,%,\n0.000,900,2.5,3.75,\n0.100,950,2.6,4.12,\n"));
        QCOMPARE(r.err, "velto-cli: " + in + ": o registro não tem os canais Avanco, TPS, TPSV, Temperatura, "
                            "ColunaMAP, ColunaTPS, Carga, LinhaRPM, Celula, AtuadorML, Sonda, PressaoAtm, CorrCurto, "
                            "CorrLongo, CorrTemp, CorrAtm, CorrAvanco, Bomba, Eletro, Ar: ficaram fora do CSV.\n");
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
