// Logs that belong to a tune: the header line naming the history's entry (written by the
// "Gravar" recording, read by the reader and by the quick header look), and a vehicle's
// registros/ listed per entry, before and after a change, the current entry's first.
#include "datalog/datalog.h"
#include "datalog/logformat.h"
#include "datalog/vehiclelogs.h"
#include "history/vehicle.h"
#include "link/scanner.h"
#include "link/tests/linktest.h"
#include "link/tuneimage.h"

#include <QtTest>

using namespace linktest;

namespace {

const QString hashA = QStringLiteral("3f2a9c1d0e5b7a8c9d0e1f2a3b4c5d6e7f8a9b0c");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes, int minute = 0)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush())
        qFatal("cannot write %s", qPrintable(path));
    f.setFileTime(QDateTime(QDate(2026, 3, 14), QTime(11, minute)), QFileDevice::FileModificationTime);
}

QByteArray oneRow() { return logformat::row(0, LiveValues{}); }

// A log recorded on this entry (no entry: without a vehicle).
QByteArray logOn(const QString &entry)
{
    return logformat::header("1.0", "2026-03-14T11:00:00", false, entry) + oneRow();
}

Tune withCell(int cell, const QString &text)
{
    Tune t = startupTune();
    t.texts[8 + cell] = text;
    return t;
}

QStringList names(const QList<vehiclelogs::RecordedLog> &logs)
{
    QStringList list;
    for (const auto &l : logs)
        list << QFileInfo(l.path).fileName();
    return list;
}

} // namespace

class TestVehicleLogs : public QObject {
    Q_OBJECT
private slots:
    void headerEntry_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("entry");
        const QByteArray names = logformat::channels().join('\t').toUtf8() + '\n';
        const QByteArray units = logformat::units().join('\t').toUtf8() + '\n';
        QTest::newRow("recorded on an entry") << logOn(hashA) << hashA;
        QTest::newRow("with the module's set unknown")
            << logformat::header("1.0", "x", true, hashA) + oneRow() << hashA;
        QTest::newRow("without a vehicle") << logOn({}) << QString();
        QTest::newRow("written before: two header lines")
            << QByteArray("\"Velto 0.9\"\n\"Capture Date: x\"\n") + names + units + oneRow() << QString();
        QTest::newRow("abbreviated id") << QByteArray("\"Entrada do histórico: 3f2a9c1\"\n") + names + units + oneRow()
                                        << QStringLiteral("3f2a9c1");
        QTest::newRow("not a hash") << QByteArray("\"Entrada do histórico: boa\"\n") + names + units + oneRow() << QString();
        QTest::newRow("after the names row: not the header")
            << QByteArray("\"Velto 1.0\"\n") + names + units + "\"Entrada do histórico: " + hashA.toLatin1() + "\"\n" + oneRow()
            << QString();
    }
    void headerEntry()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, entry);
        QTemporaryDir dir;
        const QString path = dir.filePath("r.msl");
        writeFile(path, bytes);
        QCOMPARE(logformat::historyEntryOf(path), entry);
        const logformat::Log log = logformat::parse(bytes, path);
        QCOMPARE(log.historyEntry, entry);
        QCOMPARE(int(log.rows.size()), 1);
    }

    // "Gravar" while a vehicle is open: the dialog opens in the vehicle's logs folder,
    // and the header's fourth line names the entry the window gives, asked when the
    // recording starts.
    void recordingNamesTheEntry()
    {
        QTemporaryDir dir;
        Rig rig;
        Scanner scanner{rig.ctx};
        MapFile mapFile{rig.ctx};
        FakeTimer timer;
        std::int64_t now = 1'000'000'000;
        Datalog datalog{rig.ctx, scanner, mapFile, timer, [&] { return now; }};
        QString entry = QStringLiteral("0000000");
        datalog.historyEntry = [&] { return entry; };
        datalog.logFolder = [&] { return dir.filePath("Gol/registros"); };
        rig.screen.setEnabled("Button3", true);
        scanner.Button3Click();
        entry = hashA;
        const QString path = dir.filePath("r.msl");
        rig.prompt.fileAnswers.push_back(path);
        rig.guarded([&] { datalog.btnGravarClick(); });
        QVERIFY(datalog.isRecording());
        QCOMPARE(rig.prompt.dialogs.size(), 1);
        QCOMPARE(rig.prompt.dialogs[0].initialDir, dir.filePath("Gol/registros"));
        datalog.btnPararClick();
        QCOMPARE(readAll(path).split('\n').value(3), "\"Entrada do histórico: " + hashA.toUtf8() + "\"");
    }

    void vehicleLogs()
    {
        QTemporaryDir dir;
        const QDateTime when(QDate(2026, 3, 14), QTime(10, 0));
        history::Vehicle v(dir.filePath("Gol"));
        const history::Entry e1 = v.record(history::kind::sent, withCell(0, "12"), {}, when);
        const history::Entry e2 = v.record(history::kind::sent, withCell(0, "13"), {}, when.addSecs(60));
        const history::Entry e3 = v.record(history::kind::sent, withCell(0, "14"), {}, when.addSecs(120));

        // The folder is made once, and git leaves it out.
        const QString folder = v.logsFolder();
        QCOMPARE(folder, dir.filePath("Gol/registros"));
        QCOMPARE(v.logsFolder(), folder);
        QCOMPARE(readAll(dir.filePath("Gol/.git/info/exclude")).count("/registros/\n"), 1);
        const QString fresh = vehiclelogs::newLogPath(v);
        QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(folder) + "/velto-\\d{8}-\\d{6}\\.msl$").match(fresh).hasMatch(),
                 qPrintable(fresh));
        writeFile(fresh, logOn({}));
        const QString next = vehiclelogs::newLogPath(v);
        // A name taken (within the same second) is not given again.
        QVERIFY2(next != fresh && !QFile::exists(next), qPrintable(next));
        QFile::remove(fresh);

        writeFile(folder + "/a1.msl", logOn(e1.commit), 1);
        writeFile(folder + "/a2.msl", logOn(e1.commit), 3);
        writeFile(folder + "/b1.msl", logOn(e2.commit), 2);
        writeFile(folder + "/c1.msl", logOn(e3.commit.left(7)), 5);
        writeFile(folder + "/velho.msl", logOn({}), 4);
        writeFile(folder + "/b1-mapa.txt", "x", 6);
        writeFile(folder + "/.b2.msl.gravando-77.msl", logOn(e2.commit), 7);

        const QList<vehiclelogs::RecordedLog> logs = vehiclelogs::list(v.folder());
        QCOMPARE(names(logs), (QStringList{"c1.msl", "velho.msl", "a2.msl", "b1.msl", "a1.msl"}));
        const QHash<QString, int> counts = vehiclelogs::countPerEntry(logs, v.entries());
        QCOMPARE(counts.value(e1.commit), 2);
        QCOMPARE(counts.value(e2.commit), 1);
        QCOMPARE(counts.value(e3.commit), 1);
        QCOMPARE(counts.size(), 3);

        // Before and after e2's change: e1's logs, then e2's.
        vehiclelogs::BeforeAfter ba = vehiclelogs::beforeAfter(v, e2.id);
        QCOMPARE(ba.entry.commit, e2.commit);
        QCOMPARE(ba.parent->commit, e1.commit);
        QCOMPARE(names(ba.before), (QStringList{"a2.msl", "a1.msl"}));
        QCOMPARE(names(ba.after), QStringList{"b1.msl"});
        ba = vehiclelogs::beforeAfter(v, e1.id);
        QVERIFY(!ba.parent);
        QCOMPARE(names(ba.before), QStringList());
        QCOMPARE(names(ba.after), (QStringList{"a2.msl", "a1.msl"}));

        // For the correction: the logs of the entry first, then the others, newest first.
        QCOMPARE(names(vehiclelogs::forCorrection(logs, e1.commit)),
                 (QStringList{"a2.msl", "a1.msl", "c1.msl", "velho.msl", "b1.msl"}));
        QCOMPARE(names(vehiclelogs::forCorrection(logs, e3.commit)), names(logs));
        // A vehicle without the folder has none.
        history::Vehicle other(dir.filePath("Uno"));
        QCOMPARE(vehiclelogs::list(other.folder()).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestVehicleLogs)
#include "tst_vehiclelogs.moc"
