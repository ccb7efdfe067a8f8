// A vehicle's history: the folder it accepts, the entries and their rules, the mark of
// what the module holds, restore, notes and tags, and what a killed writer leaves.
#include "history/tunetext.h"
#include "history/vehicle.h"
#include "link/tuneimage.h"

#include <QProcess>
#include <QtTest>
#include <fcntl.h>
#include <git2.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace history;

namespace {

const QString port = QStringLiteral("/dev/ttyUSB0");

QDateTime at(int minute) { return QDateTime(QDate(2026, 3, 14), QTime(10, minute, 0), Qt::OffsetFromUTC, -3 * 3600); }

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// The set with these ignition and injection cells and this RPM limit changed.
Tune changed(int ignitionCells, int injectionCells, const QString &limit = QStringLiteral("6000"))
{
    Tune t = startupTune();
    for (int k = 0; k < ignitionCells; ++k)
        t.texts[8 + k] = QString::number(20 + k);
    for (int k = 0; k < injectionCells; ++k)
        t.texts[80 + k] = QStringLiteral("9,%1").arg(k);
    t.texts[2] = limit;
    return t;
}

// What git itself reads from the repository (libgit2, not through the history).
struct Git {
    git_repository *repo = nullptr;
    explicit Git(const QString &folder)
    {
        git_libgit2_init();
        if (git_repository_open(&repo, QFile::encodeName(folder).constData()) != 0)
            qFatal("not a repository: %s", qPrintable(folder));
    }
    ~Git()
    {
        git_repository_free(repo);
        git_libgit2_shutdown();
    }
    QString message(const QString &commit) const
    {
        git_oid oid;
        git_oid_fromstr(&oid, commit.toLatin1().constData());
        git_commit *c = nullptr;
        if (git_commit_lookup(&c, repo, &oid) != 0)
            return QStringLiteral("<no commit>");
        const QString m = QString::fromUtf8(git_commit_message(c));
        git_commit_free(c);
        return m;
    }
    QString note(const char *ref, const QString &commit) const
    {
        git_oid oid;
        git_oid_fromstr(&oid, commit.toLatin1().constData());
        git_note *n = nullptr;
        if (git_note_read(&n, repo, ref, &oid) != 0)
            return QStringLiteral("<no note>");
        const QString m = QString::fromUtf8(git_note_message(n));
        git_note_free(n);
        return m;
    }
    QString ref(const char *name) const
    {
        git_oid oid;
        if (git_reference_name_to_id(&oid, repo, name) != 0)
            return QStringLiteral("<none>");
        return QString::fromLatin1(git_oid_tostr_s(&oid));
    }
    int commits() const
    {
        git_revwalk *w = nullptr;
        git_revwalk_new(&w, repo);
        git_revwalk_push_head(w);
        git_oid oid;
        int n = 0;
        while (git_revwalk_next(&oid, w) == 0)
            ++n;
        git_revwalk_free(w);
        return n;
    }
};

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const HistoryError &e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("<accepted>");
}

} // namespace

class TestVehicle : public QObject {
    Q_OBJECT
private slots:
    void folders_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message"); // %1: the folder; empty: accepted
        QTest::newRow("does not exist") << "none" << "";
        QTest::newRow("empty folder") << "empty" << "";
        QTest::newRow("folder with files") << "files"
                                           << "A pasta %1 não é o histórico de um veículo (não é um repositório git): "
                                              "escolha uma pasta vazia, uma que ainda não existe ou a de um veículo.";
        QTest::newRow("repository of something else")
            << "otherrepo"
            << "A pasta %1 não é o histórico de um veículo (um repositório git de outra coisa): escolha uma pasta "
               "vazia, uma que ainda não existe ou a de um veículo.";
        QTest::newRow("a file") << "file" << "%1 não é uma pasta: não pode ser o histórico de um veículo.";
    }
    void folders()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString folder = dir.filePath("Gol 1.6 do Zé");
        if (setup == "empty" || setup == "files" || setup == "otherrepo")
            QVERIFY(QDir().mkpath(folder));
        if (setup == "files")
            writeFile(folder + "/notas.txt", "x");
        if (setup == "file")
            writeFile(folder, "x");
        if (setup == "otherrepo") {
            git_libgit2_init();
            git_repository *r = nullptr;
            QCOMPARE(git_repository_init(&r, QFile::encodeName(folder).constData(), 0), 0);
            git_repository_free(r);
            git_libgit2_shutdown();
        }
        const QString error = errorOf([&] { Vehicle v(folder); });
        if (!message.isEmpty()) {
            QCOMPARE(error, message.arg(folder));
            return;
        }
        QCOMPARE(error, QStringLiteral("<accepted>"));
        {
            Vehicle v(folder);
            QCOMPARE(v.name(), QStringLiteral("Gol 1.6 do Zé"));
            QVERIFY(v.entries().isEmpty());
            v.record(kind::read, startupTune(), port, at(1));
        }
        Vehicle again(folder, Vehicle::Open::ExistingOnly);
        QCOMPARE(again.entries().size(), 1);
        QCOMPARE(again.messages(), QString());
    }

    void defaultFolder()
    {
        QCOMPARE(Vehicle::defaultFolder("Gol"),
                 QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/velto/veiculos/Gol");
    }

    // One entry for each tune that differs from the latest; its message, files and tune.
    void entries()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("carro");
        Vehicle v(folder);
        const Entry first = v.record(kind::sent, startupTune(), port, at(1));
        QCOMPARE(first.kind, kind::sent);
        QCOMPARE(first.summary, QStringLiteral("primeiro ajuste do veículo"));
        QCOMPARE(first.port, port);
        QCOMPARE(first.time, at(1));
        QCOMPARE(first.id.size(), 7);
        QVERIFY(first.commit.startsWith(first.id));

        // The same tune again: no entry, the existing one returned.
        const Entry same = v.record(kind::read, startupTune(), port, at(2));
        QCOMPARE(same.commit, first.commit);
        QCOMPARE(v.entries().size(), 1);

        const Tune second = changed(3, 12, "6500");
        const Entry e2 = v.record(kind::correction, second, QString(), at(3));
        QCOMPARE(e2.summary, QStringLiteral("ignição: 3 células; injeção: 12 células; Limite de RPM: 6000 → 6500"));
        Git git(folder);
        QCOMPARE(git.message(e2.commit), QStringLiteral("Correção aplicada\n\nData: 14/03/2026 10:03:00\nPorta: -\n"
                                                        "Mudanças: ignição: 3 células; injeção: 12 células; Limite de "
                                                        "RPM: 6000 → 6500\n"));
        QCOMPARE(git.commits(), 2);
        // The working folder holds the latest entry's files.
        QCOMPARE(readAll(folder + "/ajuste.txt"), tunetext::write(second));
        QCOMPARE(readAll(folder + "/mapa.txt"), MapFile::bytesOf(second));
        QCOMPARE(v.tune(e2.id), second);
        QCOMPARE(v.tune(first.id), startupTune());
        QCOMPARE(v.mapBytes(first.id), MapFile::bytesOf(startupTune()));

        // Texts that send the same bytes are still another tune.
        Tune third = second;
        third.texts[2] = QStringLiteral("6500,0");
        QCOMPARE(v.record(kind::saved, third, port, at(4)).summary, QStringLiteral("Limite de RPM: 6500 → 6500,0"));

        const QList<Entry> list = v.entries();
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].kind, kind::saved);
        QCOMPARE(list[1].commit, e2.commit);
        QCOMPARE(list[2].commit, first.commit);
        QCOMPARE(v.latest()->commit, list[0].commit);
        QCOMPARE(v.entry(first.commit.left(5)).commit, first.commit);
    }

    void unknownEntry_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("no such hash") << "0000000";
        QTest::newRow("not a hash") << "boa";
        QTest::newRow("empty") << "";
    }
    void unknownEntry()
    {
        QFETCH(QString, id);
        QTemporaryDir dir;
        Vehicle v(dir.filePath("carro"));
        v.record(kind::sent, startupTune(), port, at(1));
        for (const auto &call : QList<std::function<void()>>{[&] { v.entry(id); }, [&] { v.tune(id); },
                                                             [&] { v.restore(id); }, [&] { v.setNote(id, "x"); },
                                                             [&] { v.addTag(id, "boa"); }, [&] { v.markInModule(id); }}) {
            try {
                call();
                QFAIL("accepted");
            } catch (const UnknownEntry &e) {
                QCOMPARE(QString::fromUtf8(e.what()),
                         QStringLiteral("Não há entrada %1 no histórico do veículo em %2.").arg(id, v.folder()));
            }
        }
        QCOMPARE(v.entries().size(), 1);
    }

    // The mark follows what the module holds; new entries do not move it.
    void inModule()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("carro");
        Vehicle v(folder);
        const Entry a = v.record(kind::sent, startupTune(), port, at(1));
        QCOMPARE(v.inModule(), std::nullopt);
        v.markInModule(a.id);
        QCOMPARE(v.inModule(), a.id);
        const Entry b = v.record(kind::loaded, changed(1, 0), port, at(2));
        QCOMPARE(v.inModule(), a.id);
        QList<Entry> list = v.entries();
        QCOMPARE(list[0].inModule, false);
        QCOMPARE(list[1].inModule, true);
        QCOMPARE(Git(folder).ref("refs/velto/no-modulo"), a.commit);
        v.markInModule(b.id);
        QCOMPARE(v.entries()[0].inModule, true);
        QCOMPARE(v.entries()[1].inModule, false);
        v.clearInModule();
        QCOMPARE(v.inModule(), std::nullopt);
        v.clearInModule(); // nothing to remove
        QCOMPARE(Git(folder).ref("refs/velto/no-modulo"), QStringLiteral("<none>"));
        QVERIFY(!v.entries()[0].inModule && !v.entries()[1].inModule);
    }

    // A restore is a new entry on top; the entries before it stay as they were.
    void restore()
    {
        QTemporaryDir dir;
        Vehicle v(dir.filePath("carro"));
        const Entry a = v.record(kind::sent, startupTune(), port, at(1));
        const Entry b = v.record(kind::correction, changed(2, 0), port, at(2));
        const Entry r = v.restore(a.id, port, at(3));
        QCOMPARE(r.kind, QStringLiteral("Restaurado de %1").arg(a.id));
        QCOMPARE(r.summary, QStringLiteral("ignição: 2 células"));
        QCOMPARE(v.tune(r.id), startupTune());
        const QList<Entry> list = v.entries();
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[1].commit, b.commit);
        QCOMPARE(list[2].commit, a.commit);
        QCOMPARE(v.tune(b.id), changed(2, 0));
        // Restoring the latest tune again makes no entry.
        QCOMPARE(v.restore(a.id, port, at(4)).commit, r.commit);
        QCOMPARE(v.entries().size(), 3);
    }

    // Notes and tags leave the entries' commits as they were.
    void notesAndTags()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("carro");
        Vehicle v(folder);
        const Entry a = v.record(kind::sent, startupTune(), port, at(1));
        const Entry b = v.record(kind::read, changed(0, 4), port, at(2));
        v.setNote(a.id, QStringLiteral("Pista seca, 28 °C; marcha lenta instável"));
        v.addTag(a.id, QStringLiteral("boa"));
        v.addTag(a.id, QStringLiteral("pista"));
        v.addTag(a.id, QStringLiteral("boa"));
        v.addTag(b.id, QStringLiteral("boa"));
        QList<Entry> list = v.entries();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].commit, b.commit);
        QCOMPARE(list[1].commit, a.commit);
        QCOMPARE(list[1].note, QStringLiteral("Pista seca, 28 °C; marcha lenta instável"));
        QCOMPARE(list[1].tags, (QStringList{"boa", "pista"}));
        QCOMPARE(list[0].note, QString());
        QCOMPARE(list[0].tags, QStringList{"boa"});
        QCOMPARE(v.entry(a.id).tags, (QStringList{"boa", "pista"}));
        {
            Git git(folder);
            QCOMPARE(git.note("refs/notes/velto", a.commit), QStringLiteral("Pista seca, 28 °C; marcha lenta instável"));
            QCOMPARE(git.note("refs/notes/velto-etiquetas", a.commit), QStringLiteral("boa\npista\n"));
            QCOMPARE(git.ref("HEAD"), b.commit);
        }
        v.setNote(a.id, QStringLiteral("trocada"));
        QCOMPARE(v.entry(a.id).note, QStringLiteral("trocada"));
        v.setNote(a.id, QString());
        QCOMPARE(v.entry(a.id).note, QString());
        QCOMPARE(errorOf([&] { v.addTag(a.id, " "); }), QStringLiteral("Uma etiqueta é uma palavra ou frase de uma linha, não \" \"."));
    }

    // Packing the loose objects: the files go, every entry, note, tag and the mark read
    // as before, in Velto and in git.
    void compact()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("carro");
        Vehicle v(folder);
        for (int n = 0; n < 6; ++n)
            v.record(kind::sent, changed(n, n), port, at(n));
        const QString first = v.entries().last().id;
        v.setNote(first, "nota");
        v.addTag(first, "boa");
        v.markInModule(first);
        const auto looseFiles = [&] {
            int files = 0;
            QDirIterator it(folder + "/.git/objects", QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files += QFileInfo(it.next()).path().endsWith("/pack") ? 0 : 1;
            return files;
        };
        QVERIFY(looseFiles() > 24);
        QVERIFY(!v.compact()); // few loose objects: nothing to do
        QVERIFY(v.compact(0));
        QCOMPARE(looseFiles(), 0);
        Vehicle reopened(folder);
        const QList<Entry> list = reopened.entries();
        QCOMPARE(list.size(), 6);
        for (int n = 0; n < 6; ++n)
            QCOMPARE(reopened.tune(list[5 - n].id), changed(n, n));
        QCOMPARE(list.last().note, QStringLiteral("nota"));
        QCOMPARE(list.last().tags, QStringList{"boa"});
        QVERIFY(list.last().inModule);
        QCOMPARE(Git(folder).commits(), 6);
        QCOMPARE(Git(folder).note("refs/notes/velto", list.last().commit), QStringLiteral("nota"));
        reopened.record(kind::read, changed(7, 0), port, at(9));
        QCOMPARE(reopened.entries().size(), 7);
    }

    // A full disk: the entry that does not fit fails with one message naming the folder
    // and the reason, leaves no entry, and those before it stay whole.
    void diskFull()
    {
        QTemporaryDir dir;
        const QString mount = dir.filePath("tiny");
        QVERIFY(QDir().mkpath(mount));
        const QByteArray m = QFile::encodeName(mount);
        if (::mount("tmpfs", m.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=96k") != 0)
            QSKIP(qPrintable(QString("no tmpfs can be mounted here (errno %1)").arg(errno)));
        struct Unmount {
            QByteArray m;
            ~Unmount() { ::umount2(m.constData(), MNT_DETACH); }
        } unmount{m};

        const QString folder = mount + "/carro";
        QString error;
        QList<Tune> made;
        QString latestBefore;
        {
            Vehicle v(folder);
            for (int n = 0; n < 400 && error.isEmpty(); ++n) {
                Tune t = changed(n % 72, n % 60, QString::number(3000 + n));
                latestBefore = v.latest() ? v.latest()->commit : QString();
                try {
                    v.record(kind::sent, t, port, at(n % 60));
                    made << t;
                } catch (const HistoryError &e) {
                    error = QString::fromUtf8(e.what());
                }
            }
            QVERIFY2(!error.isEmpty(), "the disk never filled");
            QVERIFY2(error.startsWith(QStringLiteral("Histórico do veículo em %1: ").arg(folder)), qPrintable(error));
            QVERIFY2(error.contains(QStringLiteral("No space left on device")), qPrintable(error));
            QCOMPARE(v.latest()->commit, latestBefore);
        }
        QVERIFY(!made.isEmpty());
        Vehicle reopened(folder);
        const QList<Entry> list = reopened.entries();
        QCOMPARE(list.size(), made.size());
        for (qsizetype i = 0; i < list.size(); ++i)
            QCOMPARE(reopened.tune(list[i].id), made[made.size() - 1 - i]);
    }

    // Lock files that a killed writer left are removed on open, with one message; while
    // another writer holds the history, they are left alone.
    void staleLocks_data()
    {
        QTest::addColumn<bool>("writerRunning");
        QTest::newRow("writer gone") << false;
        QTest::newRow("writer running") << true;
    }
    void staleLocks()
    {
        QFETCH(bool, writerRunning);
        QTemporaryDir dir;
        const QString folder = dir.filePath("carro");
        { Vehicle(folder).record(kind::sent, startupTune(), port, at(1)); }
        writeFile(folder + "/.git/index.lock", "");
        writeFile(folder + "/.git/refs/heads/main.lock", "0123");
        // An entry killed between its commit and its files: the working folder is behind.
        writeFile(folder + "/ajuste.txt", "meio");
        int held = -1;
        if (writerRunning) {
            held = ::open(QFile::encodeName(folder + "/.git/velto-escrita").constData(), O_RDWR);
            QVERIFY(held >= 0);
            QCOMPARE(::flock(held, LOCK_EX | LOCK_NB), 0);
        }
        Vehicle v(folder);
        if (writerRunning) {
            QCOMPARE(v.messages(), QString());
            QVERIFY(QFile::exists(folder + "/.git/index.lock"));
            ::close(held);
            return;
        }
        QCOMPARE(v.messages(), QStringLiteral("Histórico do veículo em %1: uma gravação interrompida deixou travas "
                                              "(index.lock, refs/heads/main.lock), removidas; ajuste.txt e mapa.txt "
                                              "voltaram a ser os da última entrada.")
                                   .arg(folder));
        QVERIFY(!QFile::exists(folder + "/.git/index.lock"));
        QVERIFY(!QFile::exists(folder + "/.git/refs/heads/main.lock"));
        QCOMPARE(readAll(folder + "/ajuste.txt"), tunetext::write(startupTune()));
        v.record(kind::sent, changed(1, 1), port, at(2));
        QCOMPARE(v.entries().size(), 2);
        QCOMPARE(Vehicle(folder).messages(), QString());
    }

    // A writer killed (SIGKILL) in the middle of its entries: the history reads, every
    // entry holds a whole tune, and the next open records on.
    void killedWriter()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("carro");
        QProcess child;
        child.start(qEnvironmentVariable("VELTO_BUILD") + "/history/historychild", {folder});
        QVERIFY(child.waitForStarted());
        long recorded = 0;
        while (recorded < 30 && child.waitForReadyRead(10000))
            while (child.canReadLine())
                recorded = child.readLine().trimmed().split(' ').last().toLong();
        QVERIFY(recorded >= 30);
        child.kill();
        child.waitForFinished();

        Vehicle v(folder);
        const QList<Entry> list = v.entries();
        QVERIFY2(list.size() >= recorded, qPrintable(QString("%1 < %2").arg(list.size()).arg(recorded)));
        for (const Entry &e : list) {
            QCOMPARE(e.kind, kind::sent);
            QCOMPARE(MapFile::bytesOf(v.tune(e.id)), v.mapBytes(e.id));
        }
        QCOMPARE(readAll(folder + "/ajuste.txt"), tunetext::write(v.tune(list[0].id)));
        const Entry next = v.record(kind::read, changed(5, 5, "7000"), port);
        QCOMPARE(v.entries().size(), list.size() + 1);
        QCOMPARE(v.latest()->commit, next.commit);
        QCOMPARE(Vehicle(folder).messages(), QString());
    }
};

QTEST_GUILESS_MAIN(TestVehicle)
#include "tst_vehicle.moc"
