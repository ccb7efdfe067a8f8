// A vehicle's history through the real velto-cli against the simulator: write and read
// with --vehicle make their entries and move the "no módulo" mark (checked with libgit2
// itself), and history lists, shows, compares, restores, notes and tags them.
#include "simprocess.h"

#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "history/tunetext.h"
#include "link/tuneimage.h"
#include "tests/support/clirun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <git2.h>

namespace {

using clirun::cli;
using clirun::readAll;
using clirun::Run;
using clirun::writeTemp;

// The start-up set with these ignition cells (index, text) changed, as a map file.
QByteArray tuneBytes(const QList<std::pair<int, QString>> &cells)
{
    Tune t = startupTune();
    for (const auto &[k, text] : cells)
        t.texts[8 + k] = text;
    return MapFile::bytesOf(t);
}

// The repository as git reads it: the commits of the branch, newest first, each with
// its message and its files; the "no módulo" reference.
struct Repo {
    struct Commit {
        QString hash, message;
        QByteArray map, text;
    };
    QList<Commit> commits;
    QString inModule;

    explicit Repo(const QString &folder)
    {
        git_libgit2_init();
        git_repository *repo = nullptr;
        if (git_repository_open(&repo, QFile::encodeName(folder).constData()) == 0) {
            git_oid oid;
            if (git_reference_name_to_id(&oid, repo, "refs/velto/no-modulo") == 0)
                inModule = QString::fromLatin1(git_oid_tostr_s(&oid));
            git_revwalk *walk = nullptr;
            git_revwalk_new(&walk, repo);
            git_revwalk_push_head(walk);
            while (git_revwalk_next(&oid, walk) == 0) {
                git_commit *c = nullptr;
                git_commit_lookup(&c, repo, &oid);
                Commit entry{QString::fromLatin1(git_oid_tostr_s(&oid)), QString::fromUtf8(git_commit_message(c)), {}, {}};
                git_tree *tree = nullptr;
                git_commit_tree(&tree, c);
                for (auto [name, bytes] : {std::pair{"mapa.txt", &entry.map}, std::pair{"ajuste.txt", &entry.text}}) {
                    git_blob *blob = nullptr;
                    const git_tree_entry *e = git_tree_entry_byname(tree, name);
                    if (e && git_blob_lookup(&blob, repo, git_tree_entry_id(e)) == 0) {
                        *bytes = QByteArray(static_cast<const char *>(git_blob_rawcontent(blob)), qsizetype(git_blob_rawsize(blob)));
                        git_blob_free(blob);
                    }
                }
                git_tree_free(tree);
                git_commit_free(c);
                commits << entry;
            }
            git_revwalk_free(walk);
            git_repository_free(repo);
        }
        git_libgit2_shutdown();
    }
};

} // namespace

class TestE2EHistory : public QObject {
    Q_OBJECT
private slots:
    void writeReadAndHistory()
    {
        QTemporaryDir dir;
        const QString vehicle = dir.filePath("veiculos/Gol do Zé");
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QString port = sim.devicePath();
        const QByteArray first = tuneBytes({{0, "12"}});
        const QString tune1 = writeTemp(dir, "tune1.txt", first);

        // An upload makes the first entry, marked: the folder is made on first use.
        Run r = cli({"write", tune1, "--port", port, "--vehicle", vehicle});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QCOMPARE(sim.uploadFrames().size(), 32);
        Repo repo(vehicle);
        QCOMPARE(repo.commits.size(), 1);
        const QStringList message = repo.commits[0].message.split(u'\n');
        QCOMPARE(message.value(0), QStringLiteral("Enviado ao módulo"));
        QCOMPARE(message.value(3), QStringLiteral("Porta: ") + port);
        QCOMPARE(message.value(4), QStringLiteral("Mudanças: primeiro ajuste do veículo"));
        QCOMPARE(repo.commits[0].map, first);
        QCOMPARE(tunetext::parse(repo.commits[0].text), MapFile::readTune(tune1));
        QCOMPARE(repo.inModule, repo.commits[0].hash);
        QCOMPARE(readAll(vehicle + "/mapa.txt"), first);

        // A read-back: the mark goes to the entry of what was read (a new entry only
        // when its texts differ from the latest).
        r = cli({"read", "--port", port, "--vehicle", vehicle, "-o", dir.filePath("back.txt")});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        repo = Repo(vehicle);
        QCOMPARE(repo.commits[0].map, readAll(dir.filePath("back.txt")));
        QCOMPARE(repo.inModule, repo.commits[0].hash);
        QCOMPARE(repo.commits[0].message.section(u'\n', 0, 0),
                 repo.commits.size() == 1 ? QStringLiteral("Enviado ao módulo") : QStringLiteral("Lido do módulo"));
        const int afterRead = int(repo.commits.size());

        // Without -o the read only makes its entry; the same set again: no new entry.
        r = cli({"read", "--port", port, "--vehicle", vehicle});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString());
        QCOMPARE(Repo(vehicle).commits.size(), afterRead);

        // A second upload with three more cells: its summary counts them.
        const QString tune2 = writeTemp(dir, "tune2.txt", tuneBytes({{0, "12"}, {1, "13"}, {2, "14"}, {70, "33"}}));
        QCOMPARE(cli({"write", tune2, "--port", port, "--vehicle", vehicle}).code, 0);
        repo = Repo(vehicle);
        QCOMPARE(repo.commits.size(), afterRead + 1);
        QCOMPARE(repo.commits[0].message.section(u'\n', 4, 4), QStringLiteral("Mudanças: ignição: 3 células"));
        QCOMPARE(repo.inModule, repo.commits[0].hash);

        // history list: newest first, the mark on the latest.
        r = cli({"history", "list", "--vehicle", vehicle});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), repo.commits.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(repo.commits[i].hash.startsWith(lines[i].left(7)), qPrintable(lines[i]));
        QVERIFY2(lines[0].endsWith(QStringLiteral("Enviado ao módulo  ignição: 3 células  [no módulo]")), qPrintable(lines[0]));
        QVERIFY(!lines.last().contains(QStringLiteral("[no módulo]")));
        const QString newest = lines[0].left(7), oldest = lines.last().left(7);

        // Tags and a note; the commits stay as they were.
        QCOMPARE(cli({"history", "tag", oldest, "boa", "--vehicle", vehicle}).code, 0);
        QCOMPARE(cli({"history", "tag", oldest, "pista", "--vehicle", vehicle}).code, 0);
        QCOMPARE(cli({"history", "note", oldest, "pista seca, 28 °C", "--vehicle", vehicle}).code, 0);
        r = cli({"history", "list", "--json", "--vehicle", vehicle});
        QCOMPARE(r.code, 0);
        const QJsonArray array = QJsonDocument::fromJson(r.out.toUtf8()).array();
        QCOMPARE(array.size(), repo.commits.size());
        const QJsonObject last = array.last().toObject();
        QCOMPARE(last["id"].toString(), oldest);
        QCOMPARE(last["commit"].toString(), repo.commits.last().hash);
        QCOMPARE(last["kind"].toString(), QStringLiteral("Enviado ao módulo"));
        QCOMPARE(last["port"].toString(), port);
        QCOMPARE(last["tags"].toArray(), (QJsonArray{"boa", "pista"}));
        QCOMPARE(last["note"].toString(), QStringLiteral("pista seca, 28 °C"));
        QCOMPARE(last["inModule"].toBool(), false);
        QCOMPARE(array.first().toObject()["inModule"].toBool(), true);
        QCOMPARE(Repo(vehicle).commits.size(), repo.commits.size());

        // show and diff, as for map files.
        const QString shown = dir.filePath("shown.txt");
        QCOMPARE(cli({"history", "show", oldest, "-o", shown, "--vehicle", vehicle}).code, 0);
        QCOMPARE(readAll(shown), first);
        r = cli({"history", "diff", oldest, newest, "--vehicle", vehicle});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out, cli({"diff", tune1, tune2}).out);

        // restore: a new entry on top with the oldest tune; nothing sent.
        const int uploads = int(sim.uploadFrames().size());
        r = cli({"history", "restore", oldest, "--vehicle", vehicle});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("Restaurado de %1  ignição: 3 células").arg(oldest)), qPrintable(r.out));
        repo = Repo(vehicle);
        QCOMPARE(repo.commits[0].map, first);
        QCOMPARE(repo.commits[1].hash.left(7), newest);
        QCOMPARE(repo.inModule, repo.commits[1].hash);
        QCOMPARE(int(sim.uploadFrames().size()), uploads);

        // An id that names no entry: one sentence, the file error's code, no file.
        r = cli({"history", "show", "1234567", "-o", dir.filePath("none.txt"), "--vehicle", vehicle});
        QCOMPARE(r.err, QStringLiteral("velto-cli: Não há entrada 1234567 no histórico do veículo em %1.\n")
                            .arg(QDir::cleanPath(vehicle)));
        QCOMPARE(r.code, 4);
        QVERIFY(!QFile::exists(dir.filePath("none.txt")));
    }

    // log --vehicle: the log goes to the vehicle's registros/ (left out of git), its
    // header names the entry of the set read back, and history shows it on that entry.
    void logBelongsToTheEntry()
    {
        QTemporaryDir dir;
        const QString vehicle = dir.filePath("Gol");
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QString port = sim.devicePath();
        QCOMPARE(cli({"write", writeTemp(dir, "t1.txt", tuneBytes({{0, "12"}})), "--port", port, "--vehicle", vehicle}).code, 0);
        QCOMPARE(cli({"write", writeTemp(dir, "t2.txt", tuneBytes({{0, "12"}, {1, "19"}})), "--port", port, "--vehicle", vehicle}).code, 0);

        // No log on the entry the module holds yet: the correction has nothing to take.
        const QString held = Repo(vehicle).inModule.left(7);
        Run r = cli({"suggest", "--vehicle", vehicle, "-o", dir.filePath("novo.txt")});
        QCOMPARE(r.err, QStringLiteral("velto-cli: Nenhum registro de %1/registros foi gravado com a entrada %2 (Enviado "
                                       "ao módulo): grave um com velto-cli log --vehicle ou dê os registros. Nada foi "
                                       "gravado.\n")
                            .arg(QDir::cleanPath(vehicle), held));
        QCOMPARE(r.code, 4);
        QVERIFY(!QFile::exists(dir.filePath("novo.txt")));

        r = cli({"log", "--port", port, "--vehicle", vehicle, "--seconds", "2"});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        const Repo repo(vehicle);
        const QString entry = repo.inModule; // the read-back's entry (the latest)
        QCOMPARE(entry, repo.commits[0].hash);
        const QStringList logs = QDir(vehicle + "/registros").entryList({"*.msl"}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        const QString log = vehicle + "/registros/" + logs[0];
        QCOMPARE(r.out, log + "\n");
        const QList<QByteArray> header = readAll(log).split('\n');
        QCOMPARE(header.value(3), QStringLiteral("\"Entrada do histórico: %1\"").arg(entry).toUtf8());
        QVERIFY(QFile::exists(vehicle + "/registros/" + logs[0].chopped(4) + "-mapa.txt"));
        QVERIFY(readAll(vehicle + "/.git/info/exclude").contains("\n/registros/\n"));
        // git sees no change in the vehicle's folder.
        git_libgit2_init();
        git_repository *g = nullptr;
        QCOMPARE(git_repository_open(&g, QFile::encodeName(vehicle).constData()), 0);
        git_status_options so = GIT_STATUS_OPTIONS_INIT;
        so.flags = GIT_STATUS_OPT_INCLUDE_UNTRACKED;
        git_status_list *status = nullptr;
        QCOMPARE(git_status_list_new(&status, g, &so), 0);
        QCOMPARE(int(git_status_list_entrycount(status)), 0);
        git_status_list_free(status);
        git_repository_free(g);
        git_libgit2_shutdown();

        r = cli({"history", "list", "--vehicle", vehicle});
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(lines[0].startsWith(entry.left(7)) && lines[0].endsWith("[no módulo]  [1 registro]"), qPrintable(lines[0]));
        for (const QString &l : lines.mid(1))
            QVERIFY2(!l.contains("registro"), qPrintable(l));
        r = cli({"history", "list", "--json", "--vehicle", vehicle});
        QCOMPARE(QJsonDocument::fromJson(r.out.toUtf8()).array().first().toObject()["logs"].toInt(), 1);

        // Before and after: the log is "after" its own entry's change, "before" none.
        const QString date = QFileInfo(log).lastModified().toString("dd/MM/yyyy HH:mm");
        r = cli({"history", "logs", entry.left(7), "--vehicle", vehicle});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringLiteral("antes (%1, %2):\n  (nenhum)\ndepois desta mudança (%3, %4):\n  %5  registros/%6\n")
                            .arg(repo.commits[1].hash.left(7), repo.commits[1].message.section(u'\n', 0, 0), entry.left(7),
                                 repo.commits[0].message.section(u'\n', 0, 0), date, logs[0]));

        // The correction takes the logs of the entry the module holds.
        r = cli({"suggest", "--vehicle", vehicle, "-o", dir.filePath("novo.txt")});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.startsWith(QStringLiteral("velto-cli: 1 registro(s), ")) &&
                     r.err.section(u'\n', 0, 0).endsWith(QStringLiteral("mapa de referência %1-mapa.txt").arg(log.chopped(4))),
                 qPrintable(r.err));

        // With --map the user names the set the module holds: its entry ("Arquivo
        // carregado", not marked: nothing read it from the module) is the one named.
        const QString given = writeTemp(dir, "dado.txt", tuneBytes({{0, "12"}, {1, "19"}, {5, "30"}}));
        r = cli({"log", "--port", port, "--vehicle", vehicle, "--map", given, "--seconds", "2"});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        const Repo after(vehicle);
        QCOMPARE(after.commits.size(), repo.commits.size() + 1);
        QCOMPARE(after.commits[0].message.section(u'\n', 0, 0), QStringLiteral("Arquivo carregado"));
        QCOMPARE(after.inModule, entry);
        const QString second = r.out.trimmed();
        QVERIFY2(second.startsWith(vehicle + "/registros/velto-") && second != log, qPrintable(second));
        QCOMPARE(readAll(second).split('\n').value(3),
                 QStringLiteral("\"Entrada do histórico: %1\"").arg(after.commits[0].hash).toUtf8());
        QVERIFY(cli({"history", "list", "--vehicle", vehicle}).out.startsWith(
            after.commits[0].hash.left(7)));
        QVERIFY(cli({"history", "list", "--vehicle", vehicle}).out.section(u'\n', 0, 0).endsWith("[1 registro]"));
    }

    // Two computers share a car through a bare repository with velto-cli alone: the
    // same list on both; a push that would lose the other's entries refused with its
    // reason; the pull keeps both lines and use picks one.
    void pushAndPullBetweenTwoFolders()
    {
        QTemporaryDir dir;
        const QString remote = dir.filePath("pendrive/gol.git");
        git_libgit2_init();
        git_repository *bare = nullptr;
        QCOMPARE(git_repository_init(&bare, QFile::encodeName(remote).constData(), 1), 0);
        git_repository_free(bare);
        const QString a = dir.filePath("a/Gol"), b = dir.filePath("b/Gol");
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QCOMPARE(cli({"write", writeTemp(dir, "t1.txt", tuneBytes({{0, "12"}})), "--port", sim.devicePath(), "--vehicle", a}).code, 0);
        QCOMPARE(cli({"write", writeTemp(dir, "t2.txt", tuneBytes({{0, "14"}})), "--port", sim.devicePath(), "--vehicle", a}).code, 0);
        const QString first = Repo(a).commits[1].hash.left(7);
        QCOMPARE(cli({"history", "note", first, "primeira", "--vehicle", a}).code, 0);
        QCOMPARE(cli({"history", "tag", first, "boa", "--vehicle", a}).code, 0);

        QCOMPARE(cli({"history", "remote", "add", "origin", remote, "--vehicle", a}).code, 0);
        Run r = cli({"history", "push", "--vehicle", a});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.out, QStringLiteral("Enviados ao remoto origin: a linha main, as notas e as etiquetas.\n"));
        QCOMPARE(cli({"history", "remote", "add", "origin", remote, "--vehicle", b}).code, 0);
        QCOMPARE(cli({"history", "remote", "--vehicle", b}).out, "origin\t" + remote + "\n");
        r = cli({"history", "pull", "--vehicle", b});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringLiteral("Linha main: trazidas as entradas novas do remoto origin.\n"));
        // The same entries, notes and tags; the "no módulo" mark stays on the computer that saw the module.
        const QString listA = cli({"history", "list", "--vehicle", a}).out;
        QCOMPARE(cli({"history", "list", "--vehicle", b}).out, QString(listA).replace("  [no módulo]", ""));
        QVERIFY(listA.contains("[no módulo]"));
        QCOMPARE(readAll(b + "/mapa.txt"), readAll(a + "/mapa.txt"));

        // Both change the car: A pushes first; B's push is refused and B keeps its entry.
        QCOMPARE(cli({"history", "restore", first, "--vehicle", a}).code, 0);
        QCOMPARE(cli({"history", "push", "origin", "--vehicle", a}).code, 0);
        QCOMPARE(cli({"write", writeTemp(dir, "t3.txt", tuneBytes({{0, "16"}})), "--port", sim.devicePath(), "--vehicle", b}).code, 0);
        const Repo repoB(b);
        r = cli({"history", "push", "--vehicle", b});
        QCOMPARE(r.err, QStringLiteral("velto-cli: O remoto origin recusou o envio: a linha main do remoto tem mudanças que "
                                       "este computador não tem (outro computador enviou antes); traga-as do remoto e "
                                       "envie de novo; as entradas deste computador ficam como estavam.\n"));
        QCOMPARE(r.code, 4);
        QCOMPARE(Repo(b).commits.size(), repoB.commits.size());
        QCOMPARE(Repo(b).commits[0].hash, repoB.commits[0].hash);

        r = cli({"history", "pull", "--vehicle", b});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QStringLiteral("Linha origin-main: a do remoto origin, que divergiu desta, guardada ao lado; nada "
                                       "foi juntado (velto-cli history use origin-main continua dela).\n"));
        const QString fromA = Repo(a).commits[0].hash.left(7), fromB = repoB.commits[0].hash.left(7);
        QStringList lines = cli({"history", "list", "--vehicle", b}).out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QStringList marks;
        for (const QString &l : lines)
            marks << l.left(7) + (l.contains("[linha main (atual)]") ? " main" : l.contains("[linha origin-main]") ? " origin-main" : " ambas");
        QVERIFY2(marks.contains(fromB + " main") && marks.contains(fromA + " origin-main"), qPrintable(marks.join(" | ")));
        QCOMPARE(marks.filter(QRegularExpression(" ambas$")).size(), 2);
        // Nothing is merged: B goes on from A's line only when told.
        QCOMPARE(Repo(b).commits[0].hash.left(7), fromB);
        r = cli({"history", "use", "origin-main", "--vehicle", b});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith(fromA), qPrintable(r.out));
        QCOMPARE(Repo(b).commits[0].hash.left(7), fromA);
        QCOMPARE(readAll(b + "/mapa.txt"), readAll(a + "/mapa.txt"));
        // Continued from A's line (with B's tune restored on it, an entry of the other
        // line), B's next entry goes back to the remote's main.
        QCOMPARE(cli({"history", "restore", fromB, "--vehicle", b}).code, 0);
        QCOMPARE(readAll(b + "/mapa.txt"), tuneBytes({{0, "16"}}));
        r = cli({"history", "push", "--vehicle", b});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.out, QStringLiteral("Enviados ao remoto origin: a linha origin-main (main no remoto), as notas e as etiquetas.\n"));
        QCOMPARE(cli({"history", "pull", "--vehicle", a}).out, QStringLiteral("Linha main: trazidas as entradas novas do remoto origin.\n"));
        QCOMPARE(Repo(a).commits[0].hash, Repo(b).commits[0].hash);
        git_libgit2_shutdown();
    }

    // A folder that is not a vehicle history: refused before anything is sent.
    void foreignFolder()
    {
        QTemporaryDir dir;
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QString folder = dir.filePath("documentos");
        QVERIFY(QDir().mkpath(folder));
        writeTemp(dir, "documentos/carta.txt", "x");
        const QString tune = writeTemp(dir, "tune.txt", tuneBytes({}));
        const Run r = cli({"write", tune, "--port", sim.devicePath(), "--vehicle", folder});
        QCOMPARE(r.err, QStringLiteral("velto-cli: A pasta %1 não é o histórico de um veículo (não é um repositório "
                                       "git): escolha uma pasta vazia, uma que ainda não existe ou a de um veículo.\n")
                            .arg(folder));
        QCOMPARE(r.code, 4);
        QVERIFY(sim.uploadFrames().isEmpty());
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"carta.txt"});
    }
};

QTEST_GUILESS_MAIN(TestE2EHistory)
#include "tst_e2e_history.moc"
