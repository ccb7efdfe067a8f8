// velto-cli when the cable goes: the real program against the simulator reached
// through its --link name, which the simulator unplugs and plugs in again.
#include "simprocess.h"

#include "core/controller.h"
#include "link/tuneimage.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tests/defaultimage.h"
#include "tests/support/clirun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {

using clirun::Background;
using clirun::Run;
using clirun::readAll;


QStringList lines(const QString &path) { return QString::fromUtf8(readAll(path)).split(u'\n'); }

bool isRow(const QString &line) { return !line.isEmpty() && line.at(0).isDigit(); }

int rows(const QString &path)
{
    const QStringList l = lines(path);
    return int(std::count_if(l.begin(), l.end(), isRow));
}

int lineWith(const QStringList &file, const QString &text)
{
    return int(std::find_if(file.begin(), file.end(), [&](const QString &l) { return l.contains(text); }) -
               file.begin());
}

QString lostLine(const QString &port)
{
    return QStringLiteral("velto-cli: Conexão perdida — aguardando %1 voltar…\n").arg(port);
}

// A map file as the window saves its start-up screen, with one field changed so
// that the upload changes the module.
QString tuneFile(const QTemporaryDir &dir)
{
    QByteArray bytes = MapFile::bytesOf(startupTune());
    bytes.chop(2); // CR LF
    QList<QByteArray> fields = bytes.split(';');
    fields[mapfile::fieldControls().indexOf("e0")] = "12";
    bytes = fields.join(';') + "\r\n";
    const QString path = dir.filePath(QStringLiteral("tune.txt"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

} // namespace

class TestE2ECliLink : public QObject {
    Q_OBJECT
private slots:
    // The cable goes for a second: the log goes on in the same file, both markers in
    // order, rows before and after and none in between, and the run ends at its time.
    // With --map naming a set the module does not hold, the check after the return
    // tells the difference and sends nothing.
    void logRidesOverUnplug_data()
    {
        QTest::addColumn<bool>("map");
        QTest::addColumn<QString>("afterReturn");
        QTest::newRow("module read") << false << QString();
        QTest::newRow("other map") << true
                                   << "velto-cli: A tela e o módulo diferem em 1 campo:\n\n"
                                      "ignição linha 1 coluna 1: tela 12, módulo 10\n"
                                      "Nada foi enviado: o módulo fica como está.\n";
    }
    void logRidesOverUnplug()
    {
        QFETCH(bool, map);
        QFETCH(QString, afterReturn);
        QTemporaryDir dir;
        const QString link = dir.filePath("ecu");
        SimProcess sim({"--link", link, "--rate", "20"});
        QVERIFY(sim.start());
        const QString log = dir.filePath("run.msl");
        QStringList arguments{"log", "--port", link, "-o", log, "--seconds", "9"};
        if (map)
            arguments << "--map" << tuneFile(dir);
        Background b(arguments);
        QVERIFY(b.p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(rows(log) >= 5, 10000);
        QVERIFY(sim.command("unplug 1"));

        const Run r = b.finish();
        QCOMPARE(r.err, lostLine(link) + QStringLiteral("velto-cli: Reconectado a %1\n").arg(link) + afterReturn);
        QVERIFY(!sim.commands().contains(0x48));
        QCOMPARE(r.code, 0);
        QVERIFY(readAll(log).endsWith('\n'));
        const QStringList file = lines(log);
        const int lost = lineWith(file, "Conexão perdida");
        const int back = lineWith(file, "Reconectado");
        QVERIFY2(lost < back && back < file.size(), qPrintable(file.join('\n').right(800)));
        QVERIFY(file[lost].startsWith("MARK 001 - Conexão perdida - "));
        QVERIFY(file[back].startsWith("MARK 002 - Reconectado - "));
        QVERIFY(std::count_if(file.begin(), file.begin() + lost, isRow) >= 5);
        QCOMPARE(std::count_if(file.begin() + lost, file.begin() + back, isRow), 0);
        QVERIFY2(std::count_if(file.begin() + back, file.end(), isRow) >= 5, qPrintable(file.join('\n').right(800)));
        // The scanner was switched off at the end: its stop command reached the module.
        QTRY_COMPARE(sim.commands().value(sim.commands().size() - 1), quint8(0xD9));
    }

    // The cable stays away: after --wait the log is closed whole with what it had and
    // the command ends with 3 and the port's name; no half-made file is left.
    // The same when the run's own time ends first while waiting.
    void logGivesUpAfterWait_data()
    {
        QTest::addColumn<QStringList>("limit");
        QTest::addColumn<QString>("message"); // %1: the port
        QTest::newRow("--wait 2") << QStringList{"--wait", "2"}
                                  << "velto-cli: Conexão perdida: a porta %1 não voltou em 2 s. O registro foi "
                                     "fechado inteiro, com as leituras até a perda.\n";
        QTest::newRow("--seconds 4") << QStringList{"--seconds", "4"}
                                     << "velto-cli: Conexão perdida: a porta %1 não voltou antes do fim da gravação. "
                                        "O registro foi fechado inteiro, com as leituras até a perda.\n";
    }
    void logGivesUpAfterWait()
    {
        QFETCH(QStringList, limit);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString link = dir.filePath("ecu");
        SimProcess sim({"--link", link, "--rate", "20"});
        QVERIFY(sim.start());
        const QString log = dir.filePath("run.msl");
        Background b(QStringList{"log", "--port", link, "-o", log} + limit);
        QVERIFY(b.p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(rows(log) >= 5, 10000);
        QVERIFY(sim.command("unplug"));

        const Run r = b.finish();
        QCOMPARE(r.err, lostLine(link) + message.arg(link));
        QCOMPARE(r.code, 3);
        QVERIFY(readAll(log).endsWith('\n'));
        const QStringList file = lines(log);
        const int lost = lineWith(file, "Conexão perdida");
        QVERIFY(lost < file.size());
        QCOMPARE(lineWith(file, "Reconectado"), file.size());
        QVERIFY(std::count_if(file.begin(), file.begin() + lost, isRow) >= 5);
        QCOMPARE(std::count_if(file.begin() + lost, file.end(), isRow), 0);
        QCOMPARE(QDir(dir.path()).entryList({"*.msl", "*.txt"}, QDir::Files | QDir::Hidden),
                 QStringList({"run-mapa.txt", "run.msl"}));
    }

    // Lost before the first row and not back: the log that was there stays as it was
    // and no half-made file is left.
    void logLostBeforeTheFirstRow()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ecu");
        SimProcess sim({"--link", link, "--silent"});
        QVERIFY(sim.start());
        const QString tune = tuneFile(dir);
        const QString log = dir.filePath("run.msl");
        QFile kept(log);
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("kept\r\n") == 6);
        kept.close();
        Background b({"log", "--port", link, "-o", log, "--map", tune, "--force", "--wait", "1"});
        QVERIFY(b.p.waitForStarted());
        // The silent module leaves the scanner a second before its watchdog speaks.
        QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains(0x7F), 10000);
        QVERIFY(sim.command("unplug"));

        const Run r = b.finish();
        QCOMPARE(r.err, lostLine(link) + QStringLiteral("velto-cli: Conexão perdida: a porta %1 não voltou em 1 s. "
                                                        "Nada foi gravado.\n")
                                             .arg(link));
        QCOMPARE(r.code, 3);
        QCOMPARE(readAll(log), QByteArray("kept\r\n"));
        QCOMPARE(QDir(dir.path()).entryList({"*.msl", "*.txt"}, QDir::Files | QDir::Hidden),
                 QStringList({"run.msl", "tune.txt"}));
    }

    // A signal while waiting ends the run as a signal always does: the log closed
    // whole with the loss as its last marker, and 0.
    void logEndsOnSignalWhileWaiting()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ecu");
        SimProcess sim({"--link", link, "--rate", "20"});
        QVERIFY(sim.start());
        const QString log = dir.filePath("run.msl");
        Background b({"log", "--port", link, "-o", log});
        QVERIFY(b.p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(rows(log) >= 5, 10000);
        QVERIFY(sim.command("unplug"));
        QTRY_VERIFY_WITH_TIMEOUT(readAll(log).contains("Conexão perdida"), 5000);
        ::kill(pid_t(b.p.processId()), SIGTERM);

        const Run r = b.finish();
        QCOMPARE(r.err, lostLine(link));
        QCOMPARE(r.code, 0);
        QVERIFY(readAll(log).endsWith('\n'));
        const QStringList file = lines(log);
        const int lost = lineWith(file, "Conexão perdida");
        QCOMPARE(std::count_if(file.begin() + lost, file.end(), isRow), 0);
        QCOMPARE(lineWith(file, "Reconectado"), file.size());
    }

    // Cut mid-way, neither command retries; each says what the module and the disk hold.
    void cutByUnplug_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("message"); // %1: the port
        QTest::newRow("write") << "write"
                               << "velto-cli: ReadFile function failed (win error code: 5)\n"
                                  "O cabo ou o adaptador da porta %1 foi desconectado.\n"
                                  "O envio foi interrompido: os dados não chegaram inteiros ao módulo. Envie novamente.\n"
                                  "O comando de fim não foi enviado: o módulo mantém o conjunto que tinha.\n";
        QTest::newRow("write --verify") << "verify"
                                        << "velto-cli: ReadFile function failed (win error code: 5)\n"
                                           "O cabo ou o adaptador da porta %1 foi desconectado.\n"
                                           "A leitura foi interrompida. O envio tinha terminado com o comando de "
                                           "fim; a verificação não terminou.\n";
        QTest::newRow("read") << "read"
                              << "velto-cli: ReadFile function failed (win error code: 5)\n"
                                 "O cabo ou o adaptador da porta %1 foi desconectado.\n"
                                 "A leitura foi interrompida. Nada foi gravado.\n";
    }
    void cutByUnplug()
    {
        QFETCH(QString, command);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString link = dir.filePath("ecu");
        SimProcess sim({"--link", link, "--pace", "300"});
        QVERIFY(sim.start());
        const QString tune = tuneFile(dir);
        QVERIFY(!tune.isEmpty());
        const QString out = dir.filePath("backup.txt");
        const bool write = command == "write", verify = command == "verify";
        Background b(write    ? QStringList{"write", tune, "--port", link}
                     : verify ? QStringList{"write", tune, "--port", link, "--verify"}
                              : QStringList{"read", "--port", link, "-o", out});
        QVERIFY(b.p.waitForStarted());
        if (write)
            QTRY_VERIFY_WITH_TIMEOUT(sim.uploadFrames().size() >= 3, 10000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains(0x33), 10000);
        QTest::qWait(400);
        QVERIFY(sim.command("unplug"));

        const Run r = b.finish();
        // The port's reading side meets the hang-up first, unless a frame goes out in
        // that very moment: either operation names the same loss.
        QString said = r.err;
        if (said.startsWith("velto-cli: WriteFile "))
            said.replace(11, 5, "Read");
        QCOMPARE(said, message.arg(link));
        QCOMPARE(r.code, 3);
        if (write) {
            QVERIFY(sim.uploadFrames().size() < 32);
            QVERIFY(!sim.commands().contains(0x48));
        } else {
            QVERIFY(!QFile::exists(out));
        }
        // The module kept the set it had across the cut: the one before an upload
        // that did not end, the one sent by an upload that did.
        QVERIFY(sim.command("replug"));
        QCOMPARE(sim.dumpImage() == defaultimage::image(), !verify);
        QCOMPARE(sim.commands().contains(0x48), verify);
    }
};

QTEST_GUILESS_MAIN(TestE2ECliLink)
#include "tst_e2e_clilink.moc"
