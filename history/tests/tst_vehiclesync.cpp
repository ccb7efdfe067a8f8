// Sharing a vehicle's history between two computers through a bare repository: the
// same entries, notes and tags on both; a line that diverged kept beside this one, never
// merged; a push that would lose the other computer's entries refused, nothing lost.
#include "history/vehicle.h"
#include "link/tuneimage.h"

#include <QtTest>
#include <git2.h>

using namespace history;

namespace {

QDateTime at(int minute) { return QDateTime(QDate(2026, 3, 14), QTime(10, minute, 0), Qt::OffsetFromUTC, -3 * 3600); }

Tune withCell(int cell, const QString &text)
{
    Tune t = startupTune();
    t.texts[8 + cell] = text;
    return t;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A bare repository as git reads it: its references and the parents of the commits.
struct Bare {
    git_repository *repo = nullptr;
    explicit Bare(const QString &folder, bool make = false)
    {
        git_libgit2_init();
        const int rc = make ? git_repository_init(&repo, QFile::encodeName(folder).constData(), 1)
                            : git_repository_open_bare(&repo, QFile::encodeName(folder).constData());
        if (rc != 0)
            qFatal("no bare repository at %s", qPrintable(folder));
    }
    ~Bare()
    {
        git_repository_free(repo);
        git_libgit2_shutdown();
    }
    QString ref(const char *name) const
    {
        git_oid oid;
        return git_reference_name_to_id(&oid, repo, name) == 0 ? QString::fromLatin1(git_oid_tostr_s(&oid)) : QString();
    }
};

// What a person compares between two computers: each entry's id, kind, summary, note, tags.
QStringList shown(const QList<Entry> &entries)
{
    QStringList lines;
    for (const Entry &e : entries)
        lines << QStringLiteral("%1 %2 %3 | %4 | %5").arg(e.commit, e.kind, e.summary, e.note, e.tags.join(u','));
    return lines;
}

} // namespace

class TestVehicleSync : public QObject {
    Q_OBJECT
private slots:
    // One computer pushes, a second (an empty folder) pulls: the same history, the
    // working files of the newest entry; the "no módulo" mark stays on the first.
    void pushThenPullGivesTheSameHistory()
    {
        QTemporaryDir dir;
        const QString remote = dir.filePath("pendrive/gol.git");
        { Bare make(remote, true); }
        Vehicle a(dir.filePath("a/gol"));
        a.record(kind::sent, withCell(0, "12"), "/dev/ttyUSB0", at(1));
        const Entry second = a.record(kind::read, withCell(1, "13"), "/dev/ttyUSB0", at(2));
        a.record(kind::correction, withCell(2, "14"), {}, at(3));
        a.setNote(second.id, "pista seca");
        a.addTag(second.id, "boa");
        a.markInModule(second.id);
        a.addRemote("origin", remote);
        a.push();

        const Bare bare(remote);
        QCOMPARE(bare.ref("refs/heads/main"), a.latest()->commit);
        QVERIFY(!bare.ref("refs/notes/velto").isEmpty());
        QVERIFY(!bare.ref("refs/notes/velto-etiquetas").isEmpty());
        QCOMPARE(bare.ref("refs/velto/no-modulo"), QString());

        Vehicle b(dir.filePath("b/gol"));
        b.addRemote("origin", remote);
        const PullResult pulled = b.pull();
        QCOMPARE(pulled.updated, QStringList{"main"});
        QCOMPARE(pulled.kept, QStringList());
        QCOMPARE(shown(b.entries()), shown(a.entries()));
        QCOMPARE(b.entries().size(), 3);
        QCOMPARE(b.entry(second.id).note, QStringLiteral("pista seca"));
        QCOMPARE(b.inModule(), std::nullopt);
        QCOMPARE(readAll(dir.filePath("b/gol/mapa.txt")), readAll(dir.filePath("a/gol/mapa.txt")));

        // Back the other way: a fast-forward, no line kept.
        b.record(kind::sent, withCell(3, "15"), "/dev/ttyUSB1", at(4));
        b.push();
        const PullResult back = a.pull();
        QCOMPARE(back.updated, QStringList{"main"});
        QCOMPARE(back.kept, QStringList());
        QCOMPARE(shown(a.entries()), shown(b.entries()));
        QCOMPARE(a.lines().size(), 1);
        QCOMPARE(a.tune(a.latest()->id), withCell(3, "15"));
        QCOMPARE(readAll(dir.filePath("a/gol/mapa.txt")), readAll(dir.filePath("b/gol/mapa.txt")));
        QVERIFY(!a.pull().changed());
    }

    // Both computers change the car from the same entry: the second push is refused
    // with its reason and loses nothing; the pull keeps the other line beside this one,
    // never merged, and the user continues from either.
    void divergedLinesAreBothKept()
    {
        QTemporaryDir dir;
        const QString remote = dir.filePath("oficina.git");
        { Bare make(remote, true); }
        Vehicle a(dir.filePath("a"));
        const Entry base = a.record(kind::sent, withCell(0, "12"), {}, at(1));
        a.addRemote("origin", remote);
        a.push();
        Vehicle b(dir.filePath("b"));
        b.addRemote("origin", remote);
        b.pull();
        const Entry fromA = a.record(kind::sent, withCell(1, "21"), {}, at(2));
        const Entry fromB = b.record(kind::sent, withCell(1, "31"), {}, at(3));
        a.push();

        const QStringList before = shown(b.entries());
        try {
            b.push();
            QFAIL("the push that would lose A's entry was taken");
        } catch (const HistoryError &e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QStringLiteral("O remoto origin recusou o envio: a linha main do remoto tem mudanças que este "
                                    "computador não tem (outro computador enviou antes); traga-as do remoto e envie "
                                    "de novo; as entradas deste computador ficam como estavam."));
        }
        QCOMPARE(shown(b.entries()), before);
        QCOMPARE(Bare(remote).ref("refs/heads/main"), fromA.commit);

        const PullResult pulled = b.pull();
        QCOMPARE(pulled.kept, QStringList{"origin-main"});
        QCOMPARE(pulled.updated, QStringList());
        QCOMPARE(b.latest()->commit, fromB.commit); // this computer's line goes on as it was
        const QList<Line> lines = b.lines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].name, QStringLiteral("main"));
        QVERIFY(lines[0].current);
        QCOMPARE(lines[0].head, fromB.commit);
        QCOMPARE(lines[1].name, QStringLiteral("origin-main"));
        QVERIFY(!lines[1].current);
        QCOMPARE(lines[1].head, fromA.commit);
        // Every entry listed once, with the lines it is on.
        QStringList onLines;
        for (const LineEntry &e : b.allEntries())
            onLines << e.entry.commit.left(7) + u' ' + e.lines.join(u',');
        QCOMPARE(onLines, (QStringList{fromB.commit.left(7) + " main", fromA.commit.left(7) + " origin-main",
                                       base.commit.left(7) + " main,origin-main"}));
        // The other line's entry is named by its id as any other.
        QCOMPARE(b.tune(fromA.id), withCell(1, "21"));
        // A second pull finds nothing new; the same divergence is not kept twice.
        QVERIFY(!b.pull().changed());
        // The remote's line is not overwritten by this computer's, which git holds now.
        QVERIFY_THROWS_EXCEPTION(HistoryError, b.push());
        QCOMPARE(Bare(remote).ref("refs/heads/main"), fromA.commit);

        b.use("origin-main");
        QCOMPARE(b.latest()->commit, fromA.commit);
        QCOMPARE(readAll(dir.filePath("b/ajuste.txt")), readAll(dir.filePath("a/ajuste.txt")));
        const Entry next = b.record(kind::sent, withCell(2, "40"), {}, at(5));
        QCOMPARE(b.entries().value(1).commit, fromA.commit);
        QCOMPARE(b.entries().size(), 3);
        // Continued from the remote's line, it goes back to it; A moves on.
        QCOMPARE(b.push(), QStringLiteral("main"));
        QCOMPARE(Bare(remote).ref("refs/heads/main"), next.commit);
        QCOMPARE(Bare(remote).ref("refs/heads/origin-main"), QString());
        QCOMPARE(a.pull().updated, QStringList{"main"});
        QCOMPARE(a.latest()->commit, next.commit);
        QVERIFY(!b.pull().changed());
        // A goes on; B, on the line kept from the remote, moves on with it.
        const Entry later = a.record(kind::sent, withCell(3, "41"), {}, at(6));
        a.push();
        const PullResult moved = b.pull();
        QCOMPARE(moved.updated, QStringList{"origin-main"});
        QCOMPARE(moved.kept, QStringList());
        QCOMPARE(b.latest()->commit, later.commit);
        QCOMPARE(readAll(dir.filePath("b/mapa.txt")), readAll(dir.filePath("a/mapa.txt")));
        try {
            b.use("nenhuma");
            QFAIL("an unknown line was taken");
        } catch (const UnknownEntry &e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QStringLiteral("Não há linha nenhuma no histórico do veículo em %1; as linhas são: main, "
                                    "origin-main.")
                         .arg(b.folder()));
        }
        QCOMPARE(b.latest()->commit, later.commit);
    }

    // Notes and tags that both computers gave the same entry: both kept, and the next
    // push goes through.
    void notesOfBothSidesAreKept()
    {
        QTemporaryDir dir;
        const QString remote = dir.filePath("r.git");
        { Bare make(remote, true); }
        Vehicle a(dir.filePath("a"));
        const Entry e1 = a.record(kind::sent, withCell(0, "12"), {}, at(1));
        const Entry e2 = a.record(kind::sent, withCell(0, "13"), {}, at(2));
        a.addRemote("origin", remote);
        a.push();
        Vehicle b(dir.filePath("b"));
        b.addRemote("origin", remote);
        b.pull();
        a.setNote(e1.id, "marcha lenta boa");
        a.addTag(e1.id, "boa");
        b.setNote(e1.id, "falha em 4000");
        b.addTag(e1.id, "pista");
        b.setNote(e2.id, "só de B");
        a.push();
        const PullResult pulled = b.pull();
        QCOMPARE(pulled.notesMerged, 2);
        QCOMPARE(b.entry(e1.id).note, QStringLiteral("falha em 4000\n\nmarcha lenta boa"));
        QCOMPARE(b.entry(e1.id).tags, (QStringList{"pista", "boa"}));
        QCOMPARE(b.entry(e2.id).note, QStringLiteral("só de B"));
        b.push();
        a.pull();
        QCOMPARE(shown(a.entries()), shown(b.entries()));
    }

    // A remote that the vehicle does not have, or that cannot be reached: one sentence.
    void remoteMissingOrUnreachable()
    {
        QTemporaryDir dir;
        Vehicle a(dir.filePath("a"));
        a.record(kind::sent, withCell(0, "12"), {}, at(1));
        try {
            a.push("oficina");
            QFAIL("a push to no remote went through");
        } catch (const HistoryError &e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QStringLiteral("O veículo em %1 não tem o remoto oficina: configure-o antes (velto-cli history "
                                    "remote add oficina URL).")
                         .arg(a.folder()));
        }
        a.addRemote("oficina", dir.filePath("nada.git"));
        QCOMPARE(a.remotes().size(), 1);
        QCOMPARE(a.remotes()[0].url, dir.filePath("nada.git"));
        try {
            a.pull("oficina");
            QFAIL("a pull from nothing went through");
        } catch (const HistoryError &e) {
            QVERIFY2(QString::fromUtf8(e.what()).startsWith(
                         QStringLiteral("A busca no remoto oficina (%1) falhou: ").arg(dir.filePath("nada.git"))),
                     e.what());
            QVERIFY2(QString::fromUtf8(e.what()).endsWith(QStringLiteral("; nada mudou neste computador.")), e.what());
        }
        QCOMPARE(a.entries().size(), 1);
    }

    // A remote that cannot take the push (its branch locked by another writer): the
    // reason in one sentence; nothing lost here, nothing changed there.
    void remoteThatRefuses()
    {
        QTemporaryDir dir;
        const QString remote = dir.filePath("r.git");
        { Bare make(remote, true); }
        Vehicle a(dir.filePath("a"));
        const Entry first = a.record(kind::sent, withCell(0, "12"), {}, at(1));
        a.addRemote("origin", remote);
        a.push();
        const Entry second = a.record(kind::sent, withCell(0, "13"), {}, at(2));
        QFile lock(remote + "/refs/heads/main.lock");
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.close();
        try {
            a.push();
            QFAIL("a push into a locked branch went through");
        } catch (const HistoryError &e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QStringLiteral("O remoto origin recusou o envio: ele respondeu \"failed to lock file '%1' for "
                                    "writing\" para a linha main; as entradas deste computador ficam como estavam.")
                         .arg(remote + "/refs/heads/main.lock"));
        }
        QCOMPARE(Bare(remote).ref("refs/heads/main"), first.commit);
        QCOMPARE(a.latest()->commit, second.commit);
        QCOMPARE(a.entries().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestVehicleSync)
#include "tst_vehiclesync.moc"
