// System errors in the datalog's messages are in Portuguese, one text per error number;
// the map file's own texts keep their fixed wording.
#include "common/systemerror.h"
#include "datalog/logformat.h"
#include "datalog/recorder.h"
#include "files/mapfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <new>
#include <stdexcept>

class TestErrorTexts : public QObject {
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void logOpen_data();
    void logOpen();
    void recordStart_data();
    void recordStart();
    void mapFileKeepsItsOwnTexts();
    void memoryFailure();
};

// The runtime's "std::bad_alloc" never reaches a box alone; Velto's own texts pass as they are.
void TestErrorTexts::memoryFailure()
{
    QCOMPARE(systemerror::failureText(std::bad_alloc()),
             QString::fromUtf8("Memória insuficiente: a última ação não terminou. Feche outros programas ou use um "
                               "arquivo menor."));
    QCOMPARE(systemerror::failureText(std::runtime_error("Disk full")), QString("Disk full"));
}

void TestErrorTexts::texts_data()
{
    QTest::addColumn<int>("err");
    QTest::addColumn<QString>("text");
    QTest::newRow("ENOSPC") << ENOSPC << "disco cheio";
    QTest::newRow("EACCES") << EACCES << QString::fromUtf8("permissão negada");
    QTest::newRow("EPERM") << EPERM << QString::fromUtf8("permissão negada");
    QTest::newRow("EROFS") << EROFS << "sistema de arquivos somente para leitura";
    QTest::newRow("ENOENT") << ENOENT << QString::fromUtf8("arquivo ou pasta não encontrado");
    QTest::newRow("EISDIR") << EISDIR << QString::fromUtf8("é uma pasta");
    QTest::newRow("EIO") << EIO << QString::fromUtf8("erro de entrada e saída");
    QTest::newRow("unknown") << 9999 << QString::fromUtf8("erro do sistema número 9999");
}

void TestErrorTexts::texts()
{
    QFETCH(int, err);
    QFETCH(QString, text);
    QCOMPARE(systemerror::text(err), text);
}

void TestErrorTexts::logOpen_data()
{
    QTest::addColumn<QString>("name"); // relative to a folder that holds "d/" and "f"
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "nada.msl" << QString::fromUtf8("arquivo ou pasta não encontrado");
    QTest::newRow("a folder") << "d" << QString::fromUtf8("é uma pasta");
    QTest::newRow("a file as folder") << "f/x.msl" << QString::fromUtf8("uma parte do caminho não é uma pasta");
}

void TestErrorTexts::logOpen()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("d"));
    QFile f(dir.filePath("f"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const QString path = dir.filePath(name);
    try {
        logformat::read(path);
        QFAIL("the log was opened");
    } catch (const logformat::LogRefused &e) {
        QCOMPARE(QString::fromUtf8(e.what()), QString::fromUtf8("O registro %1 não pôde ser aberto: %2").arg(path, reason));
    }
}

void TestErrorTexts::recordStart_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message"); // %1 the log, %2 the tune beside it
    QTest::newRow("folder missing") << "nenhuma/x.msl"
                                    << QString::fromUtf8("O mapa do registro %2 não pôde ser gravado: arquivo ou pasta "
                                                         "não encontrado");
    QTest::newRow("log is a folder") << "d.msl"
                                     << QString::fromUtf8("O registro %1 não pôde ser criado: é uma pasta");
}

void TestErrorTexts::recordStart()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("d.msl"));
    const QString path = dir.filePath(name);
    Recorder recorder;
    try {
        recorder.start(path, "tune\r\n");
        QFAIL("the recording started");
    } catch (const RecordError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), QString(message).replace("%1", path).replace("%2", Recorder::tunePath(path)));
    }
    QVERIFY(!recorder.isRecording());
}

// The map file's save reports its errors in the words it always used.
void TestErrorTexts::mapFileKeepsItsOwnTexts()
{
    try {
        MapFile::writeFile(QStringLiteral("/dev/full"), "x\r\n");
        QFAIL("written to a full device");
    } catch (const MapFileIoError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), QString("Disk full"));
        QCOMPARE(e.error(), ENOSPC);
    }
}

QTEST_GUILESS_MAIN(TestErrorTexts)
#include "tst_errortexts.moc"
