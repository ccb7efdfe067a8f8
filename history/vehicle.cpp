#include "history/vehicle.h"

#include "core/tunediff.h"
#include "files/mapfilecodec.h"
#include "history/tunetext.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <git2.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace history {

QString kind::restored(const QString &id) { return QStringLiteral("Restaurado de %1").arg(id); }

namespace {

// libgit2's handles, freed by their own function.
template <typename T, void (*Free)(T *)> class Handle {
public:
    Handle() = default;
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    Handle(Handle &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~Handle()
    {
        if (p_)
            Free(p_);
    }
    T **out() { return &p_; }
    T *get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T *p_ = nullptr;
};
using Repository = Handle<git_repository, git_repository_free>;
using Commit = Handle<git_commit, git_commit_free>;
using Tree = Handle<git_tree, git_tree_free>;
using Blob = Handle<git_blob, git_blob_free>;
using TreeBuilder = Handle<git_treebuilder, git_treebuilder_free>;
using Signature = Handle<git_signature, git_signature_free>;
using Reference = Handle<git_reference, git_reference_free>;
using RevWalk = Handle<git_revwalk, git_revwalk_free>;
using Note = Handle<git_note, git_note_free>;
using Config = Handle<git_config, git_config_free>;
using Object = Handle<git_object, git_object_free>;
using PackBuilder = Handle<git_packbuilder, git_packbuilder_free>;
using RemoteHandle = Handle<git_remote, git_remote_free>;
using NoteIterator = Handle<git_note_iterator, git_note_iterator_free>;

const char *const inModuleRef = "refs/velto/no-modulo";
const char *const notesRef = "refs/notes/velto";
const char *const tagsRef = "refs/notes/velto-etiquetas";
const char *const markerKey = "velto.veiculo";

struct Library {
    Library() { git_libgit2_init(); }
    ~Library() { git_libgit2_shutdown(); }
};

QString lastError()
{
    const git_error *e = git_error_last();
    return e && e->message ? QString::fromUtf8(e->message).trimmed() : QStringLiteral("erro desconhecido");
}

QString hex(const git_oid *oid)
{
    char text[GIT_OID_HEXSZ + 1];
    git_oid_tostr(text, sizeof text, oid);
    return QString::fromLatin1(text);
}

QString fieldChange(const tunediff::Difference &d)
{
    return QStringLiteral("%1: %2 → %3").arg(d.label.isEmpty() ? d.control : d.label, d.a, d.b);
}

} // namespace

QString changeSummary(const Tune &before, const Tune &after)
{
    // The values that changed: a read-back's own texts ("1,0" for "1") are no change.
    // Only when every value is the same are the texts that changed named.
    QList<tunediff::Difference> differences;
    try {
        differences = tunediff::compare(before, after);
    } catch (const std::exception &) {
        differences.clear();
    }
    if (differences.isEmpty() && before != after)
        differences = tunediff::compareTexts(before, after);
    int ignition = 0, injection = 0;
    QStringList fields;
    for (const tunediff::Difference &d : differences) {
        if (mapfile::isCellField(d.field))
            ++(d.field < mapfile::firstCellField + mapfile::cellsPerMap ? ignition : injection);
        else
            fields << fieldChange(d);
    }
    QStringList parts;
    const auto cells = [](int n) { return n == 1 ? QStringLiteral("1 célula") : QStringLiteral("%1 células").arg(n); };
    if (ignition > 0)
        parts << QStringLiteral("ignição: %1").arg(cells(ignition));
    if (injection > 0)
        parts << QStringLiteral("injeção: %1").arg(cells(injection));
    constexpr int shown = 4;
    parts << fields.mid(0, shown);
    if (fields.size() > shown)
        parts << QStringLiteral("e mais %1 campos").arg(fields.size() - shown);
    return parts.isEmpty() ? QStringLiteral("sem mudança") : parts.join(QStringLiteral("; "));
}

struct Vehicle::Repo {
    Library library;
    QString folder;
    QString messages;
    Repository repo;
    int writeLock = -1; // the file whose flock a writer holds

    ~Repo()
    {
        if (writeLock >= 0)
            ::close(writeLock);
    }

    [[noreturn]] void fail(const QString &what) const
    {
        throw HistoryError(
            QStringLiteral("Histórico do veículo em %1: %2: %3").arg(folder, what, lastError()).toStdString());
    }
    // The vehicle's remote by its name; one sentence when the vehicle has none of that name.
    RemoteHandle remoteNamed(const QString &remoteName) const
    {
        RemoteHandle remote;
        const int found = git_remote_lookup(remote.out(), repo.get(), remoteName.toUtf8().constData());
        if (found == GIT_ENOTFOUND || found == GIT_EINVALIDSPEC)
            throw HistoryError(
                QStringLiteral("O veículo em %1 não tem o remoto %2: configure-o antes (velto-cli history "
                               "remote add %2 URL).")
                    .arg(folder, remoteName)
                    .toStdString());
        check(found, QStringLiteral("o remoto %1 não pôde ser lido").arg(remoteName));
        return remote;
    }
    void check(int rc, const QString &what) const
    {
        if (rc < 0)
            fail(what);
    }

    // Held while writing: a second writer (another Velto) waits, and an open that gets
    // it knows that no Velto writes, so any lock file left in the repository is stale.
    struct Writing {
        const Repo &r;
        explicit Writing(const Repo &repo) : r(repo)
        {
            if (r.writeLock >= 0)
                ::flock(r.writeLock, LOCK_EX);
        }
        ~Writing()
        {
            if (r.writeLock >= 0)
                ::flock(r.writeLock, LOCK_UN);
        }
    };

    QString gitDir() const { return QString::fromUtf8(git_repository_path(repo.get())); }

    bool headCommit(git_oid *oid) const
    {
        const int rc = git_reference_name_to_id(oid, repo.get(), "HEAD");
        if (rc == GIT_ENOTFOUND || rc == GIT_EUNBORNBRANCH)
            return false;
        check(rc, QStringLiteral("o último registro não pôde ser lido"));
        return true;
    }

    QByteArray fileOf(const git_oid *commitId, const QString &name) const
    {
        Commit commit;
        check(git_commit_lookup(commit.out(), repo.get(), commitId), QStringLiteral("a entrada não pôde ser lida"));
        Tree tree;
        check(git_commit_tree(tree.out(), commit.get()), QStringLiteral("a entrada não pôde ser lida"));
        const git_tree_entry *e = git_tree_entry_byname(tree.get(), name.toUtf8().constData());
        if (!e)
            throw HistoryError(QStringLiteral("Histórico do veículo em %1: a entrada %2 não tem %3.")
                                   .arg(folder, hex(commitId).left(7), name)
                                   .toStdString());
        Blob blob;
        check(git_blob_lookup(blob.out(), repo.get(), git_tree_entry_id(e)),
              QStringLiteral("%1 não pôde ser lido").arg(name));
        return QByteArray(static_cast<const char *>(git_blob_rawcontent(blob.get())),
                          qsizetype(git_blob_rawsize(blob.get())));
    }

    Tune tuneOf(const git_oid *commitId) const
    {
        try {
            return tunetext::parse(fileOf(commitId, tuneTextFile));
        } catch (const tunetext::ParseError &e) {
            throw HistoryError(QStringLiteral("Histórico do veículo em %1: %2 da entrada %3: %4")
                                   .arg(folder, tuneTextFile, hex(commitId).left(7), QString::fromUtf8(e.what()))
                                   .toStdString());
        }
    }

    // The commits of the current line, newest first, with their hashes; kept between
    // calls, and grown by one when the branch moved one entry on (as record() moves it).
    struct Line {
        git_oid head{};
        QList<git_oid> oids;
        QStringList hashes;
    };
    mutable std::optional<Line> cache;

    const Line &line() const
    {
        git_oid head;
        if (!headCommit(&head)) {
            cache = Line{};
            return *cache;
        }
        if (cache && !cache->oids.isEmpty() && git_oid_equal(&cache->head, &head))
            return *cache;
        if (cache && !cache->oids.isEmpty()) {
            Commit c;
            if (git_commit_lookup(c.out(), repo.get(), &head) == 0 && git_commit_parentcount(c.get()) == 1 &&
                git_oid_equal(git_commit_parent_id(c.get(), 0), &cache->head)) {
                cache->head = head;
                cache->oids.prepend(head);
                cache->hashes.prepend(hex(&head));
                return *cache;
            }
        }
        Line fresh;
        fresh.head = head;
        RevWalk walk;
        check(git_revwalk_new(walk.out(), repo.get()), QStringLiteral("o histórico não pôde ser lido"));
        git_revwalk_sorting(walk.get(), GIT_SORT_TOPOLOGICAL | GIT_SORT_TIME);
        check(git_revwalk_push(walk.get(), &head), QStringLiteral("o histórico não pôde ser lido"));
        git_oid oid;
        int rc;
        while ((rc = git_revwalk_next(&oid, walk.get())) == 0) {
            fresh.oids << oid;
            fresh.hashes << hex(&oid);
        }
        if (rc != GIT_ITEROVER)
            fail(QStringLiteral("o histórico não pôde ser lido"));
        cache = std::move(fresh);
        return *cache;
    }

    static int commonStart(const QString &a, const QString &b)
    {
        int n = 0;
        while (n < a.size() && n < b.size() && a[n] == b[n])
            ++n;
        return n;
    }

    // Each commit's shortest start (at least 7 characters) that no other commit of the
    // line shares.
    static QHash<QString, QString> shortIds(const QStringList &hashes)
    {
        QStringList all = hashes;
        all.sort();
        QHash<QString, QString> ids;
        for (qsizetype i = 0; i < all.size(); ++i) {
            int n = 0;
            if (i > 0)
                n = std::max(n, commonStart(all[i], all[i - 1]));
            if (i + 1 < all.size())
                n = std::max(n, commonStart(all[i], all[i + 1]));
            ids.insert(all[i], all[i].left(std::max(7, n + 1)));
        }
        return ids;
    }

    QHash<QString, QString> notes(const char *ref) const
    {
        QHash<QString, QString> texts;
        struct Walk {
            const Repo *r;
            const char *ref;
            QHash<QString, QString> *texts;
        } walk{this, ref, &texts};
        const int rc = git_note_foreach(
            repo.get(), ref,
            [](const git_oid *, const git_oid *annotated, void *payload) {
                auto *w = static_cast<Walk *>(payload);
                Note note;
                if (git_note_read(note.out(), w->r->repo.get(), w->ref, annotated) == 0)
                    w->texts->insert(hex(annotated), QString::fromUtf8(git_note_message(note.get())));
                return 0;
            },
            &walk);
        if (rc != 0 && rc != GIT_ENOTFOUND)
            fail(QStringLiteral("as notas não puderam ser lidas"));
        return texts;
    }

    std::optional<QString> markedCommit() const
    {
        git_oid oid;
        const int rc = git_reference_name_to_id(&oid, repo.get(), inModuleRef);
        if (rc == GIT_ENOTFOUND)
            return std::nullopt;
        check(rc, QStringLiteral("a marca \"no módulo\" não pôde ser lida"));
        return hex(&oid);
    }

    Entry entryOf(const git_oid *oid, const QString &shortId, const QHash<QString, QString> &noteTexts,
                  const QHash<QString, QString> &tagTexts, const std::optional<QString> &marked) const
    {
        Commit commit;
        check(git_commit_lookup(commit.out(), repo.get(), oid), QStringLiteral("a entrada não pôde ser lida"));
        Entry e;
        e.commit = hex(oid);
        e.id = shortId;
        const QStringList lines = QString::fromUtf8(git_commit_message(commit.get())).split(u'\n');
        e.kind = lines.value(0);
        for (const QString &l : lines) {
            if (l.startsWith(QLatin1String("Porta: ")))
                e.port = l.mid(7);
            else if (l.startsWith(QString::fromUtf8("Mudanças: ")))
                e.summary = l.mid(10);
        }
        e.time = QDateTime::fromSecsSinceEpoch(git_commit_time(commit.get()), Qt::OffsetFromUTC,
                                               git_commit_time_offset(commit.get()) * 60);
        e.note = noteTexts.value(e.commit).trimmed();
        e.tags = tagTexts.value(e.commit).split(u'\n', Qt::SkipEmptyParts);
        e.inModule = marked && *marked == e.commit;
        return e;
    }

    // The commit that id names on the current line.
    git_oid resolve(const QString &id, QString *shortId = nullptr) const
    {
        const QString wanted = id.trimmed().toLower();
        const Line &l = line();
        qsizetype found = -1;
        int matches = 0;
        if (wanted.size() >= 4 && wanted.size() <= GIT_OID_HEXSZ)
            for (qsizetype i = 0; i < l.hashes.size(); ++i)
                if (l.hashes[i].startsWith(wanted)) {
                    ++matches;
                    found = i;
                }
        if (matches == 0 && wanted.size() >= 4 && wanted.size() <= GIT_OID_HEXSZ) {
            // An entry of another line (one a pull kept).
            const QList<git_oid> others = otherLinesCommits();
            std::optional<git_oid> other;
            for (const git_oid &o : others)
                if (hex(&o).startsWith(wanted)) {
                    ++matches;
                    other = o;
                }
            if (matches == 1) {
                if (shortId)
                    *shortId = hex(&*other).left(std::max<qsizetype>(7, wanted.size()));
                return *other;
            }
        }
        if (matches > 1)
            throw UnknownEntry(QStringLiteral("%1 é o começo de mais de uma entrada do histórico em %2: dê mais "
                                              "caracteres.")
                                   .arg(id, folder)
                                   .toStdString());
        if (found < 0)
            throw UnknownEntry(
                QStringLiteral("Não há entrada %1 no histórico do veículo em %2.").arg(id, folder).toStdString());
        if (shortId) {
            // As shortIds() abbreviates it.
            const QString &hash = l.hashes[found];
            int n = 0;
            for (qsizetype i = 0; i < l.hashes.size(); ++i)
                if (i != found)
                    n = std::max(n, commonStart(hash, l.hashes[i]));
            *shortId = hash.left(std::max(7, n + 1));
        }
        return l.oids[found];
    }

    // The branches, by full reference name, with their newest commits.
    QList<std::pair<QString, git_oid>> branches() const
    {
        QList<std::pair<QString, git_oid>> list;
        struct Out {
            QList<std::pair<QString, git_oid>> *list;
        } out{&list};
        const int rc = git_reference_foreach_glob(
            repo.get(), "refs/heads/*",
            [](const char *name, void *payload) {
                static_cast<Out *>(payload)->list->append({QString::fromUtf8(name), git_oid{}});
                return 0;
            },
            &out);
        check(rc, QStringLiteral("as linhas do histórico não puderam ser lidas"));
        for (auto &[name, oid] : list)
            check(git_reference_name_to_id(&oid, repo.get(), name.toUtf8().constData()),
                  QStringLiteral("as linhas do histórico não puderam ser lidas"));
        std::sort(list.begin(), list.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        return list;
    }

    // The commits reachable from starts, newest first.
    QList<git_oid> walk(const QList<git_oid> &starts, const QList<git_oid> &hidden = {}) const
    {
        RevWalk walk;
        check(git_revwalk_new(walk.out(), repo.get()), QStringLiteral("o histórico não pôde ser lido"));
        git_revwalk_sorting(walk.get(), GIT_SORT_TOPOLOGICAL | GIT_SORT_TIME);
        for (const git_oid &o : starts)
            check(git_revwalk_push(walk.get(), &o), QStringLiteral("o histórico não pôde ser lido"));
        for (const git_oid &o : hidden)
            check(git_revwalk_hide(walk.get(), &o), QStringLiteral("o histórico não pôde ser lido"));
        QList<git_oid> list;
        git_oid oid;
        int rc;
        while ((rc = git_revwalk_next(&oid, walk.get())) == 0)
            list << oid;
        if (rc != GIT_ITEROVER)
            fail(QStringLiteral("o histórico não pôde ser lido"));
        return list;
    }

    // The commits of the other branches that the current line does not hold.
    QList<git_oid> otherLinesCommits() const
    {
        QList<git_oid> starts;
        for (const auto &b : branches())
            starts << b.second;
        if (starts.isEmpty())
            return {};
        git_oid head;
        QList<git_oid> hidden;
        if (headCommit(&head))
            hidden << head;
        return walk(starts, hidden);
    }

    Entry entry(const QString &id) const
    {
        QString shortId;
        const git_oid oid = resolve(id, &shortId);
        return entryOf(&oid, shortId, notes(notesRef), notes(tagsRef), markedCommit());
    }

    Signature signature(const QDateTime &when) const
    {
        QByteArray name("Velto"), email("velto@localhost");
        Signature user;
        if (git_signature_default(user.out(), repo.get()) == 0) {
            name = user.get()->name;
            email = user.get()->email;
        }
        Signature s;
        check(git_signature_new(s.out(), name.constData(), email.constData(), when.toSecsSinceEpoch(),
                                when.offsetFromUtc() / 60),
              QStringLiteral("a assinatura da entrada não pôde ser feita"));
        return s;
    }

    // The working folder's files as the latest entry has them (also the index).
    void checkoutHead() const
    {
        git_checkout_options options = GIT_CHECKOUT_OPTIONS_INIT;
        options.checkout_strategy = GIT_CHECKOUT_FORCE;
        check(git_checkout_head(repo.get(), &options),
              QStringLiteral("os arquivos da última entrada não puderam ser escritos"));
    }

    // Lock files that a killed writer left; only called while holding the write lock.
    QStringList staleLocks() const
    {
        QStringList locks;
        QDirIterator it(gitDir(), {QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            locks << it.next();
        return locks;
    }

    // libgit2 writes each object as a file of its own, a disk block each. Once about
    // threshold are loose (two of the 256 fan-out folders counted, times 128),
    // they go into one pack, compressed against each other, and the loose files go.
    // Killed half-way, the pack is either whole (the loose copies only cost room) or a
    // temporary file git ignores. Only called while holding the write lock.
    bool packWhenMany(int threshold) const
    {
        const QDir objects(gitDir() + QStringLiteral("objects"));
        qsizetype sample = 0;
        for (const char *fan : {"17", "a5"})
            sample += QDir(objects.filePath(QLatin1String(fan))).entryList(QDir::Files, QDir::NoSort).size();
        if (sample * 128 < threshold)
            return false;
        pack();
        return true;
    }

    void pack() const
    {
        const QString objectsDir = gitDir() + QStringLiteral("objects");
        PackBuilder builder;
        check(git_packbuilder_new(builder.out(), repo.get()), QStringLiteral("os objetos não puderam ser compactados"));
        QStringList files;
        QDirIterator fans(objectsDir, QDir::Dirs | QDir::NoDotAndDotDot);
        while (fans.hasNext()) {
            const QString fan = fans.next();
            const QString fanName = QFileInfo(fan).fileName();
            if (fanName.size() != 2)
                continue;
            for (const QString &name : QDir(fan).entryList(QDir::Files, QDir::NoSort)) {
                git_oid oid;
                const QByteArray text = (fanName + name).toLatin1();
                if (text.size() != GIT_OID_HEXSZ || git_oid_fromstr(&oid, text.constData()) != 0)
                    continue;
                check(git_packbuilder_insert(builder.get(), &oid, nullptr),
                      QStringLiteral("os objetos não puderam ser compactados"));
                files << fan + u'/' + name;
            }
        }
        if (files.isEmpty())
            return;
        check(git_packbuilder_write(builder.get(), nullptr, 0, nullptr, nullptr),
              QStringLiteral("os objetos não puderam ser compactados"));
        git_odb *odb = nullptr;
        if (git_repository_odb(&odb, repo.get()) == 0) {
            git_odb_refresh(odb);
            git_odb_free(odb);
        }
        for (const QString &f : files)
            QFile::remove(f);
    }

    void writeNote(const char *ref, const QString &id, const QString &text)
    {
        const git_oid oid = resolve(id);
        const Writing writing(*this);
        const Signature sig = signature(QDateTime::currentDateTime());
        git_oid noteId;
        if (text.isEmpty()) {
            const int rc = git_note_remove(repo.get(), ref, sig.get(), sig.get(), &oid);
            if (rc != GIT_ENOTFOUND)
                check(rc, QStringLiteral("a nota não pôde ser removida"));
            return;
        }
        check(git_note_create(&noteId, repo.get(), ref, sig.get(), sig.get(), &oid, text.toUtf8().constData(), 1),
              QStringLiteral("a nota não pôde ser gravada"));
    }
};

Vehicle::Vehicle(const QString &folder, Open mode) : repo_(std::make_unique<Repo>())
{
    Repo &r = *repo_;
    r.folder = QDir::cleanPath(QDir(folder).absolutePath());
    const QDir dir(r.folder);
    const bool exists = dir.exists();
    const bool empty = !exists || dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (!exists && mode == Open::ExistingOnly)
        throw HistoryError(
            QStringLiteral("A pasta %1 não existe: não é o histórico de um veículo.").arg(r.folder).toStdString());
    if (QFileInfo(r.folder).exists() && !QFileInfo(r.folder).isDir())
        throw HistoryError(
            QStringLiteral("%1 não é uma pasta: não pode ser o histórico de um veículo.").arg(r.folder).toStdString());
    const QByteArray path = QFile::encodeName(r.folder);
    if (empty) {
        if (mode == Open::ExistingOnly)
            throw HistoryError(
                QStringLiteral("A pasta %1 está vazia: não é o histórico de um veículo.").arg(r.folder).toStdString());
        git_repository_init_options options = GIT_REPOSITORY_INIT_OPTIONS_INIT;
        options.flags = GIT_REPOSITORY_INIT_MKPATH | GIT_REPOSITORY_INIT_NO_REINIT;
        options.initial_head = "main";
        options.description = "Histórico de um veículo (Velto)";
        r.check(git_repository_init_ext(r.repo.out(), path.constData(), &options),
                QStringLiteral("a pasta não pôde ser feita histórico"));
        Config config;
        r.check(git_repository_config(config.out(), r.repo.get()), QStringLiteral("a configuração não pôde ser lida"));
        r.check(git_config_set_string(config.get(), markerKey, QFileInfo(r.folder).fileName().toUtf8().constData()),
                QStringLiteral("a configuração não pôde ser gravada"));
        // git log shows the notes and tags of the entries.
        r.check(git_config_set_string(config.get(), "notes.displayRef", "refs/notes/velto*"),
                QStringLiteral("a configuração não pôde ser gravada"));
    } else {
        const QString refused = QStringLiteral("A pasta %1 não é o histórico de um veículo (%2): escolha uma pasta "
                                               "vazia, uma que ainda não existe ou a de um veículo.");
        if (git_repository_open_ext(r.repo.out(), path.constData(), GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr) < 0)
            throw HistoryError(refused.arg(r.folder, QStringLiteral("não é um repositório git")).toStdString());
        const char *workdir = git_repository_workdir(r.repo.get());
        if (!workdir || QDir::cleanPath(QString::fromUtf8(workdir)) != r.folder)
            throw HistoryError(
                refused.arg(r.folder, QStringLiteral("um repositório sem pasta de trabalho")).toStdString());
        Config config;
        r.check(git_repository_config(config.out(), r.repo.get()), QStringLiteral("a configuração não pôde ser lida"));
        git_buf marker = GIT_BUF_INIT;
        const bool marked = git_config_get_string_buf(&marker, config.get(), markerKey) == 0;
        git_buf_dispose(&marker);
        git_oid head;
        if (!marked && !(r.headCommit(&head) && [&] {
                Commit c;
                Tree t;
                return git_commit_lookup(c.out(), r.repo.get(), &head) == 0 && git_commit_tree(t.out(), c.get()) == 0 &&
                       git_tree_entry_byname(t.get(), tuneTextFile.toUtf8().constData()) != nullptr;
            }()))
            throw HistoryError(
                refused.arg(r.folder, QStringLiteral("um repositório git de outra coisa")).toStdString());
    }

    const QByteArray lockPath = QFile::encodeName(r.gitDir() + QStringLiteral("velto-escrita"));
    r.writeLock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (r.writeLock < 0)
        throw HistoryError(QStringLiteral("Histórico do veículo em %1: a trava de escrita não pôde ser aberta: %2")
                               .arg(r.folder, QString::fromLocal8Bit(strerror(errno)))
                               .toStdString());

    // No other Velto writes: lock files are what a killed writer left, and the working
    // folder's files may be those of an entry it did not finish.
    if (::flock(r.writeLock, LOCK_EX | LOCK_NB) == 0) {
        QStringList repaired;
        QStringList names;
        QStringList locks = r.staleLocks();
        locks.sort();
        for (const QString &lock : locks) {
            names << QDir(r.gitDir()).relativeFilePath(lock);
            QFile::remove(lock);
        }
        if (!names.isEmpty())
            repaired << QStringLiteral("uma gravação interrompida deixou travas (%1), removidas")
                            .arg(names.join(QStringLiteral(", ")));
        git_oid head;
        try {
            if (r.headCommit(&head)) {
                const auto differs = [&](const QString &name) {
                    QFile f(QDir(r.folder).filePath(name));
                    return !f.open(QIODevice::ReadOnly) || f.readAll() != r.fileOf(&head, name);
                };
                if (differs(tuneTextFile) || differs(mapFileName)) {
                    // A full disk leaves them for a later open: the entries are whole.
                    try {
                        r.checkoutHead();
                        repaired << QStringLiteral("%1 e %2 voltaram a ser os da última entrada")
                                        .arg(tuneTextFile, mapFileName);
                    } catch (const HistoryError &) {
                    }
                }
            }
        } catch (...) {
            ::flock(r.writeLock, LOCK_UN);
            throw;
        }
        ::flock(r.writeLock, LOCK_UN);
        if (!repaired.isEmpty())
            r.messages =
                QStringLiteral("Histórico do veículo em %1: %2.").arg(r.folder, repaired.join(QStringLiteral("; ")));
    }
}

Vehicle::~Vehicle() = default;

QString Vehicle::defaultFolder(const QString &name)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("velto/veiculos/") + name);
}

QString Vehicle::folder() const { return repo_->folder; }
QString Vehicle::name() const { return QFileInfo(repo_->folder).fileName(); }
QString Vehicle::messages() const { return repo_->messages; }

Entry Vehicle::record(const QString &kind, const Tune &tune, const QString &port, const QDateTime &when)
{
    Repo &r = *repo_;
    const QByteArray text = tunetext::write(tune);
    QByteArray map;
    try {
        map = MapFile::bytesOf(tune);
    } catch (const std::exception &e) {
        throw HistoryError(QStringLiteral("Histórico do veículo em %1: o ajuste não cabe num arquivo de mapa: %2")
                               .arg(r.folder, QString::fromUtf8(e.what()))
                               .toStdString());
    }
    const Repo::Writing writing(r);
    git_oid head;
    const bool hasHead = r.headCommit(&head);
    QString summary = QStringLiteral("primeiro ajuste do veículo");
    if (hasHead) {
        if (r.fileOf(&head, tuneTextFile) == text && r.fileOf(&head, mapFileName) == map)
            return r.entry(hex(&head));
        summary = changeSummary(r.tuneOf(&head), tune);
    }

    git_oid textId, mapId, treeId, commitId;
    r.check(git_blob_create_from_buffer(&textId, r.repo.get(), text.constData(), std::size_t(text.size())),
            QStringLiteral("%1 não pôde ser gravado").arg(tuneTextFile));
    r.check(git_blob_create_from_buffer(&mapId, r.repo.get(), map.constData(), std::size_t(map.size())),
            QStringLiteral("%1 não pôde ser gravado").arg(mapFileName));
    {
        TreeBuilder builder;
        r.check(git_treebuilder_new(builder.out(), r.repo.get(), nullptr),
                QStringLiteral("a entrada não pôde ser montada"));
        r.check(git_treebuilder_insert(nullptr, builder.get(), tuneTextFile.toUtf8().constData(), &textId,
                                       GIT_FILEMODE_BLOB),
                QStringLiteral("a entrada não pôde ser montada"));
        r.check(
            git_treebuilder_insert(nullptr, builder.get(), mapFileName.toUtf8().constData(), &mapId, GIT_FILEMODE_BLOB),
            QStringLiteral("a entrada não pôde ser montada"));
        r.check(git_treebuilder_write(&treeId, builder.get()), QStringLiteral("a entrada não pôde ser gravada"));
    }
    Tree tree;
    r.check(git_tree_lookup(tree.out(), r.repo.get(), &treeId), QStringLiteral("a entrada não pôde ser gravada"));
    Commit parent;
    if (hasHead)
        r.check(git_commit_lookup(parent.out(), r.repo.get(), &head),
                QStringLiteral("o último registro não pôde ser lido"));
    const QString message = QStringLiteral("%1\n\nData: %2\nPorta: %3\nMudanças: %4\n")
                                .arg(kind, when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                                     port.isEmpty() ? QStringLiteral("-") : port, summary);
    const Signature sig = r.signature(when);
    const git_commit *parents[] = {parent.get()};
    // The branch moves under its own lock file, after every object is written: a
    // failure (a full disk) or a kill before it leaves no entry.
    r.check(git_commit_create(&commitId, r.repo.get(), "HEAD", sig.get(), sig.get(), "UTF-8",
                              message.toUtf8().constData(), tree.get(), hasHead ? 1 : 0, parents),
            QStringLiteral("a entrada não pôde ser gravada"));
    // The entry is whole in git now. The folder's copies of its files are a convenience:
    // when they cannot be written (a full disk), the next open puts them back.
    try {
        r.checkoutHead();
    } catch (const HistoryError &) {
    }
    return r.entry(hex(&commitId));
}

QList<Entry> Vehicle::entries() const
{
    const Repo &r = *repo_;
    const QList<git_oid> oids = r.line().oids;
    const QHash<QString, QString> ids = Repo::shortIds(r.line().hashes);
    const QHash<QString, QString> noteTexts = r.notes(notesRef), tagTexts = r.notes(tagsRef);
    const std::optional<QString> marked = r.markedCommit();
    QList<Entry> list;
    list.reserve(oids.size());
    for (const git_oid &o : oids)
        list << r.entryOf(&o, ids.value(hex(&o)), noteTexts, tagTexts, marked);
    return list;
}

std::optional<Entry> Vehicle::latest() const
{
    git_oid head;
    if (!repo_->headCommit(&head))
        return std::nullopt;
    return repo_->entry(hex(&head));
}

Entry Vehicle::entry(const QString &id) const { return repo_->entry(id); }

bool Vehicle::compact(int threshold)
{
    const Repo::Writing writing(*repo_);
    return repo_->packWhenMany(threshold);
}

Tune Vehicle::tune(const QString &id) const
{
    const git_oid oid = repo_->resolve(id);
    return repo_->tuneOf(&oid);
}

QByteArray Vehicle::mapBytes(const QString &id) const
{
    const git_oid oid = repo_->resolve(id);
    return repo_->fileOf(&oid, mapFileName);
}

Entry Vehicle::restore(const QString &id, const QString &port, const QDateTime &when)
{
    const Entry from = entry(id);
    return record(kind::restored(from.id), tune(from.commit), port, when);
}

void Vehicle::setNote(const QString &id, const QString &text) { repo_->writeNote(notesRef, id, text.trimmed()); }

void Vehicle::addTag(const QString &id, const QString &tag)
{
    const QString name = tag.trimmed();
    if (name.isEmpty() || name.contains(u'\n'))
        throw HistoryError(
            QStringLiteral("Uma etiqueta é uma palavra ou frase de uma linha, não \"%1\".").arg(tag).toStdString());
    QStringList tags = entry(id).tags;
    if (tags.contains(name))
        return;
    tags << name;
    repo_->writeNote(tagsRef, id, tags.join(u'\n') + u'\n');
}

void Vehicle::markInModule(const QString &id)
{
    Repo &r = *repo_;
    const git_oid oid = r.resolve(id);
    const Repo::Writing writing(r);
    Reference ref;
    r.check(git_reference_create(ref.out(), r.repo.get(), inModuleRef, &oid, 1, "no módulo"),
            QStringLiteral("a marca \"no módulo\" não pôde ser gravada"));
}

void Vehicle::clearInModule()
{
    Repo &r = *repo_;
    const Repo::Writing writing(r);
    const int rc = git_reference_remove(r.repo.get(), inModuleRef);
    if (rc != GIT_ENOTFOUND)
        r.check(rc, QStringLiteral("a marca \"no módulo\" não pôde ser removida"));
}

std::optional<QString> Vehicle::inModule() const
{
    const std::optional<QString> commit = repo_->markedCommit();
    if (!commit)
        return std::nullopt;
    try {
        return entry(*commit).id;
    } catch (const UnknownEntry &) {
        return commit->left(7); // an entry of another line
    }
}

// ---- Sharing between computers ----

namespace {

const char *const remoteNotesPrefix = "refs/velto/remotos/";

// Credentials for a workshop server: the keys that ssh-agent holds, once.
int credentials(git_credential **out, const char *, const char *user, unsigned int allowed, void *payload)
{
    auto *tries = static_cast<int *>(payload);
    if ((allowed & GIT_CREDENTIAL_SSH_KEY) && (*tries)++ == 0)
        return git_credential_ssh_key_from_agent(out, user ? user : "git");
    return GIT_PASSTHROUGH;
}

// The merged text of an entry's note or tags that both computers changed: tags are
// the union (this computer's first); notes are both texts, unless one holds the other.
QString mergedNote(bool tags, const QString &here, const QString &there)
{
    if (tags) {
        QStringList all = here.split(u'\n', Qt::SkipEmptyParts);
        for (const QString &t : there.split(u'\n', Qt::SkipEmptyParts))
            if (!all.contains(t))
                all << t;
        return all.join(u'\n') + u'\n';
    }
    const QString a = here.trimmed(), b = there.trimmed();
    if (a.contains(b))
        return a;
    if (b.contains(a))
        return b;
    return a + QStringLiteral("\n\n") + b;
}

} // namespace

QList<Remote> Vehicle::remotes() const
{
    const Repo &r = *repo_;
    git_strarray names{};
    r.check(git_remote_list(&names, r.repo.get()), QStringLiteral("os remotos não puderam ser lidos"));
    QList<Remote> list;
    for (std::size_t i = 0; i < names.count; ++i) {
        RemoteHandle remote;
        if (git_remote_lookup(remote.out(), r.repo.get(), names.strings[i]) == 0)
            list << Remote{QString::fromUtf8(names.strings[i]), QString::fromUtf8(git_remote_url(remote.get()))};
    }
    git_strarray_dispose(&names);
    return list;
}

void Vehicle::addRemote(const QString &name, const QString &url)
{
    Repo &r = *repo_;
    int valid = 0;
    if (git_remote_name_is_valid(&valid, name.toUtf8().constData()) < 0 || !valid)
        throw HistoryError(QStringLiteral("\"%1\" não serve de nome de remoto: use letras, números e hífens.")
                               .arg(name)
                               .toStdString());
    const Repo::Writing writing(r);
    RemoteHandle remote;
    const int rc = git_remote_create(remote.out(), r.repo.get(), name.toUtf8().constData(), url.toUtf8().constData());
    if (rc == GIT_EEXISTS)
        throw HistoryError(QStringLiteral("O veículo em %1 já tem um remoto %2.").arg(r.folder, name).toStdString());
    r.check(rc, QStringLiteral("o remoto %1 não pôde ser gravado").arg(name));
}

QList<Line> Vehicle::lines() const
{
    const Repo &r = *repo_;
    QString current;
    {
        Reference head;
        if (git_reference_lookup(head.out(), r.repo.get(), "HEAD") == 0 &&
            git_reference_type(head.get()) == GIT_REFERENCE_SYMBOLIC)
            current = QString::fromUtf8(git_reference_symbolic_target(head.get()));
    }
    QList<Line> list;
    for (const auto &[name, oid] : r.branches())
        list << Line{name.mid(11), hex(&oid), name == current};
    return list;
}

QList<LineEntry> Vehicle::allEntries() const
{
    const Repo &r = *repo_;
    const QList<std::pair<QString, git_oid>> branches = r.branches();
    QList<git_oid> starts;
    for (const auto &b : branches)
        starts << b.second;
    if (starts.isEmpty())
        return {};
    const QList<git_oid> oids = r.walk(starts);
    QStringList hashes;
    for (const git_oid &o : oids)
        hashes << hex(&o);
    // Which lines hold each commit.
    QHash<QString, QStringList> linesOf;
    if (branches.size() > 1)
        for (const auto &[name, head] : branches)
            for (const git_oid &o : r.walk({head}))
                linesOf[hex(&o)] << name.mid(11);
    const QHash<QString, QString> ids = Repo::shortIds(hashes);
    const QHash<QString, QString> noteTexts = r.notes(notesRef), tagTexts = r.notes(tagsRef);
    const std::optional<QString> marked = r.markedCommit();
    QList<LineEntry> list;
    list.reserve(oids.size());
    for (qsizetype i = 0; i < oids.size(); ++i) {
        QStringList on = linesOf.value(hashes[i]);
        if (branches.size() == 1)
            on << branches[0].first.mid(11);
        list << LineEntry{r.entryOf(&oids[i], ids.value(hashes[i]), noteTexts, tagTexts, marked), on};
    }
    return list;
}

void Vehicle::use(const QString &line)
{
    Repo &r = *repo_;
    const QByteArray ref = (QStringLiteral("refs/heads/") + line).toUtf8();
    Reference branch;
    if (line.isEmpty() || git_reference_lookup(branch.out(), r.repo.get(), ref.constData()) != 0) {
        QStringList names;
        for (const Line &l : lines())
            names << l.name;
        throw UnknownEntry(QStringLiteral("Não há linha %1 no histórico do veículo em %2; as linhas são: %3.")
                               .arg(line, r.folder, names.join(QStringLiteral(", ")))
                               .toStdString());
    }
    const Repo::Writing writing(r);
    r.check(git_repository_set_head(r.repo.get(), ref.constData()),
            QStringLiteral("a linha %1 não pôde ser escolhida").arg(line));
    r.cache.reset();
    r.checkoutHead();
}

namespace {

// What a push found wrong, for the one sentence the user reads.
struct PushState {
    git_repository *repo = nullptr;
    QString remote;
    QString refused; // the reason, when a reference was refused
    int credentialTries = 0;
};

QString lineOrNotes(const QString &ref)
{
    if (ref.startsWith(QLatin1String("refs/heads/")))
        return QStringLiteral("a linha %1").arg(ref.mid(11));
    return ref.endsWith(QLatin1String("etiquetas")) ? QStringLiteral("as etiquetas") : QStringLiteral("as notas");
}

} // namespace

QString Vehicle::push(const QString &remoteName)
{
    Repo &r = *repo_;
    const Repo::Writing writing(r);
    RemoteHandle remote = r.remoteNamed(remoteName);
    Reference head;
    if (git_repository_head(head.out(), r.repo.get()) != 0)
        throw HistoryError(QStringLiteral("O histórico do veículo em %1 não tem entradas: nada a enviar ao remoto %2.")
                               .arg(r.folder, remoteName)
                               .toStdString());
    // A line kept from this remote goes back to the remote's line it came from.
    const QByteArray local = git_reference_name(head.get());
    QByteArray destination = local;
    {
        Config config;
        r.check(git_repository_config(config.out(), r.repo.get()), QStringLiteral("a configuração não pôde ser lida"));
        const QByteArray key = "branch." + local.mid(11);
        git_buf remoteBuf = GIT_BUF_INIT, mergeBuf = GIT_BUF_INIT;
        if (git_config_get_string_buf(&remoteBuf, config.get(), (key + ".remote").constData()) == 0 &&
            git_config_get_string_buf(&mergeBuf, config.get(), (key + ".merge").constData()) == 0 &&
            QString::fromUtf8(remoteBuf.ptr) == remoteName && QByteArray(mergeBuf.ptr).startsWith("refs/heads/"))
            destination = mergeBuf.ptr;
        git_buf_dispose(&remoteBuf);
        git_buf_dispose(&mergeBuf);
    }
    QList<QByteArray> mappings{local + ':' + destination};
    for (const char *ref : {notesRef, tagsRef}) {
        git_oid oid;
        if (git_reference_name_to_id(&oid, r.repo.get(), ref) == 0)
            mappings << QByteArray(ref) + ':' + ref;
    }
    QList<char *> pointers;
    for (QByteArray &s : mappings)
        pointers << s.data();
    const git_strarray refspecs{pointers.data(), std::size_t(pointers.size())};

    PushState state{r.repo.get(), remoteName, {}, 0};
    git_push_options options = GIT_PUSH_OPTIONS_INIT;
    options.callbacks.payload = &state;
    options.callbacks.credentials = [](git_credential **out, const char *url, const char *user, unsigned int allowed,
                                       void *payload) {
        return credentials(out, url, user, allowed, &static_cast<PushState *>(payload)->credentialTries);
    };
    // Before anything is sent: a reference of the remote that is not an older state of
    // ours holds what another computer sent; it would be lost.
    options.callbacks.push_negotiation = [](const git_push_update **updates, size_t len, void *payload) {
        auto *st = static_cast<PushState *>(payload);
        for (size_t i = 0; i < len; ++i) {
            // src: what the remote's reference holds now; the new value is our reference's.
            const git_push_update *u = updates[i];
            git_oid ours;
            if (git_oid_is_zero(&u->src) || git_reference_name_to_id(&ours, st->repo, u->src_refname) != 0 ||
                git_oid_equal(&ours, &u->src))
                continue;
            git_odb *odb = nullptr;
            bool known = false;
            if (git_repository_odb(&odb, st->repo) == 0) {
                known = git_odb_exists(odb, &u->src);
                git_odb_free(odb);
            }
            if (!known || git_graph_descendant_of(st->repo, &ours, &u->src) != 1) {
                const QString what = lineOrNotes(QString::fromUtf8(u->dst_refname));
                st->refused = QStringLiteral("%1 do remoto tem mudanças que este computador não tem (outro "
                                             "computador enviou antes); traga-as do remoto e envie de novo")
                                  .arg(what);
                git_error_set_str(GIT_ERROR_REFERENCE, "recusado");
                return -1;
            }
        }
        return 0;
    };
    options.callbacks.push_update_reference = [](const char *refname, const char *status, void *payload) {
        auto *st = static_cast<PushState *>(payload);
        if (status && st->refused.isEmpty())
            st->refused = QStringLiteral("ele respondeu \"%1\" para %2")
                              .arg(QString::fromUtf8(status).trimmed().remove(QRegularExpression(QStringLiteral(":$"))),
                                   lineOrNotes(QString::fromUtf8(refname)));
        return 0;
    };
    const int rc = git_remote_push(remote.get(), &refspecs, &options);
    if (!state.refused.isEmpty())
        throw HistoryError(QStringLiteral("O remoto %1 recusou o envio: %2; as entradas deste computador ficam como "
                                          "estavam.")
                               .arg(remoteName, state.refused)
                               .toStdString());
    if (rc < 0)
        throw HistoryError(QStringLiteral("O envio ao remoto %1 (%2) falhou: %3; as entradas deste computador ficam "
                                          "como estavam.")
                               .arg(remoteName, QString::fromUtf8(git_remote_url(remote.get())), lastError())
                               .toStdString());
    return QString::fromUtf8(destination.mid(11));
}

PullResult Vehicle::pull(const QString &remoteName)
{
    Repo &r = *repo_;
    const Repo::Writing writing(r);
    RemoteHandle remote = r.remoteNamed(remoteName);

    // The remote's lines as refs/remotes/<remote>/<line>, its notes apart.
    const QByteArray name = remoteName.toUtf8();
    const QByteArray notesPrefix = QByteArray(remoteNotesPrefix) + name + '/';
    QList<QByteArray> mappings{"+refs/heads/*:refs/remotes/" + name + "/*"};
    for (const char *ref : {notesRef, tagsRef})
        mappings << QByteArray("+") + ref + ':' + notesPrefix + QByteArray(ref).mid(11);
    QList<char *> pointers;
    for (QByteArray &s : mappings)
        pointers << s.data();
    const git_strarray refspecs{pointers.data(), std::size_t(pointers.size())};
    int credentialTries = 0;
    git_fetch_options options = GIT_FETCH_OPTIONS_INIT;
    options.callbacks.payload = &credentialTries;
    options.callbacks.credentials = credentials;
    if (git_remote_fetch(remote.get(), &refspecs, &options, "velto: pull") < 0)
        throw HistoryError(QStringLiteral("A busca no remoto %1 (%2) falhou: %3; nada mudou neste computador.")
                               .arg(remoteName, QString::fromUtf8(git_remote_url(remote.get())), lastError())
                               .toStdString());

    const auto descends = [&](const git_oid &a, const git_oid &b) {
        return git_oid_equal(&a, &b) || git_graph_descendant_of(r.repo.get(), &a, &b) == 1;
    };
    const auto setRef = [&](const QByteArray &ref, const git_oid &to) {
        Reference out;
        r.check(git_reference_create(out.out(), r.repo.get(), ref.constData(), &to, 1, "velto: pull"),
                QStringLiteral("%1 não pôde ser gravada").arg(QString::fromUtf8(ref)));
    };
    const auto idOf = [&](const QByteArray &ref, git_oid *oid) {
        return git_reference_name_to_id(oid, r.repo.get(), ref.constData()) == 0;
    };

    QString current;
    {
        Reference head;
        if (git_reference_lookup(head.out(), r.repo.get(), "HEAD") == 0 &&
            git_reference_type(head.get()) == GIT_REFERENCE_SYMBOLIC)
            current = QString::fromUtf8(git_reference_symbolic_target(head.get()));
    }
    PullResult result;
    bool checkout = false;
    QList<std::pair<QString, git_oid>> theirs;
    {
        const QByteArray glob = "refs/remotes/" + name + "/*";
        QStringList refs;
        git_reference_foreach_glob(
            r.repo.get(), glob.constData(),
            [](const char *ref, void *payload) {
                static_cast<QStringList *>(payload)->append(QString::fromUtf8(ref));
                return 0;
            },
            &refs);
        refs.sort();
        for (const QString &ref : refs) {
            git_oid oid;
            const QString line = ref.mid(14 + remoteName.size());
            if (line != QLatin1String("HEAD") && idOf(ref.toUtf8(), &oid))
                theirs << std::pair{line, oid};
        }
    }
    for (const auto &[line, there] : theirs) {
        const QByteArray local = (QStringLiteral("refs/heads/") + line).toUtf8();
        git_oid here;
        if (!idOf(local, &here)) {
            setRef(local, there);
            (QString::fromUtf8(local) == current ? result.updated : result.added) << line;
            checkout = checkout || QString::fromUtf8(local) == current;
            continue;
        }
        if (descends(here, there))
            continue; // this computer has it all
        if (descends(there, here)) {
            setRef(local, there);
            result.updated << line;
            checkout = checkout || QString::fromUtf8(local) == current;
            continue;
        }
        // Diverged: the remote's line is kept beside this one, under a name of its own;
        // a line kept before moves on when the remote's line grew from it.
        const QString base = remoteName + u'-' + line;
        for (int n = 1;; ++n) {
            const QString keptName = n == 1 ? base : QStringLiteral("%1-%2").arg(base).arg(n);
            const QByteArray keptRef = (QStringLiteral("refs/heads/") + keptName).toUtf8();
            git_oid kept;
            if (!idOf(keptRef, &kept)) {
                setRef(keptRef, there);
                result.kept << keptName;
                // Its upstream is the remote's line: a push of it goes back there.
                Config config;
                r.check(git_repository_config(config.out(), r.repo.get()),
                        QStringLiteral("a configuração não pôde ser lida"));
                const QByteArray key = "branch." + keptName.toUtf8();
                r.check(git_config_set_string(config.get(), (key + ".remote").constData(), name.constData()),
                        QStringLiteral("a configuração não pôde ser gravada"));
                r.check(git_config_set_string(config.get(), (key + ".merge").constData(),
                                              ("refs/heads/" + line).toUtf8().constData()),
                        QStringLiteral("a configuração não pôde ser gravada"));
                break;
            }
            if (descends(kept, there))
                break;
            if (descends(there, kept)) {
                // The line kept before (perhaps the one continued now) moves on.
                setRef(keptRef, there);
                result.updated << keptName;
                checkout = checkout || QString::fromUtf8(keptRef) == current;
                break;
            }
        }
    }

    // Notes and tags: notes of different entries are different files of the notes'
    // tree; an entry whose note both computers changed keeps both texts.
    const Signature sig = r.signature(QDateTime::currentDateTime());
    for (const char *ref : {notesRef, tagsRef}) {
        const QByteArray tracking = notesPrefix + QByteArray(ref).mid(11);
        git_oid there, here;
        if (!idOf(tracking, &there))
            continue;
        if (!idOf(ref, &here)) {
            setRef(ref, there);
            continue;
        }
        if (descends(here, there))
            continue;
        if (descends(there, here)) {
            setRef(ref, there);
            continue;
        }
        Commit ours, theirsCommit;
        r.check(git_commit_lookup(ours.out(), r.repo.get(), &here), QStringLiteral("as notas não puderam ser lidas"));
        r.check(git_commit_lookup(theirsCommit.out(), r.repo.get(), &there),
                QStringLiteral("as notas não puderam ser lidas"));
        const auto read = [&](git_commit *notes, const git_oid &annotated) -> std::optional<QString> {
            Note note;
            if (git_note_commit_read(note.out(), r.repo.get(), notes, &annotated) != 0)
                return std::nullopt;
            return QString::fromUtf8(git_note_message(note.get()));
        };
        NoteIterator it;
        r.check(git_note_commit_iterator_new(it.out(), theirsCommit.get()),
                QStringLiteral("as notas não puderam ser lidas"));
        git_oid noteBlob, annotated;
        git_oid tipId = here;
        while (git_note_next(&noteBlob, &annotated, it.get()) == 0) {
            const std::optional<QString> theirText = read(theirsCommit.get(), annotated);
            const std::optional<QString> ourText = read(ours.get(), annotated);
            if (!theirText || (ourText && *ourText == *theirText))
                continue;
            const QString text =
                ourText ? mergedNote(std::strcmp(ref, tagsRef) == 0, *ourText, *theirText) : *theirText;
            if (ourText && text == *ourText)
                continue;
            if (ourText)
                ++result.notesMerged;
            Commit tip;
            r.check(git_commit_lookup(tip.out(), r.repo.get(), &tipId),
                    QStringLiteral("as notas não puderam ser juntadas"));
            r.check(git_note_commit_create(&tipId, nullptr, r.repo.get(), tip.get(), sig.get(), sig.get(), &annotated,
                                           text.toUtf8().constData(), 1),
                    QStringLiteral("as notas não puderam ser juntadas"));
        }
        // One commit with both sides as parents: the next push is a fast-forward.
        Commit tip;
        r.check(git_commit_lookup(tip.out(), r.repo.get(), &tipId),
                QStringLiteral("as notas não puderam ser juntadas"));
        Tree tree;
        r.check(git_commit_tree(tree.out(), tip.get()), QStringLiteral("as notas não puderam ser juntadas"));
        const git_commit *parents[] = {ours.get(), theirsCommit.get()};
        git_oid merged;
        r.check(git_commit_create(&merged, r.repo.get(), ref, sig.get(), sig.get(), "UTF-8",
                                  QStringLiteral("Notas de %1 juntadas").arg(remoteName).toUtf8().constData(),
                                  tree.get(), 2, parents),
                QStringLiteral("as notas não puderam ser juntadas"));
    }
    r.cache.reset();
    if (checkout)
        r.checkoutHead();
    return result;
}

QString Vehicle::logsFolder()
{
    Repo &r = *repo_;
    const QString folder = QDir(r.folder).filePath(logsFolderName);
    if (!QDir().mkpath(folder))
        throw HistoryError(QStringLiteral("Histórico do veículo em %1: a pasta %2 não pôde ser feita.")
                               .arg(r.folder, folder)
                               .toStdString());
    const Repo::Writing writing(r);
    const QString excludePath = r.gitDir() + QStringLiteral("info/exclude");
    const QByteArray line = "/" + logsFolderName.toUtf8() + "/";
    QFile exclude(excludePath);
    QByteArray text;
    if (exclude.open(QIODevice::ReadOnly))
        text = exclude.readAll();
    exclude.close();
    if (!text.split('\n').contains(line)) {
        QDir().mkpath(QFileInfo(excludePath).path());
        if (!exclude.open(QIODevice::Append) ||
            exclude.write((text.isEmpty() || text.endsWith('\n') ? QByteArray() : QByteArray("\n")) + line + '\n') <
                0 ||
            !exclude.flush())
            throw HistoryError(QStringLiteral("Histórico do veículo em %1: %2 não pôde ser gravado: %3")
                                   .arg(r.folder, excludePath, exclude.errorString())
                                   .toStdString());
    }
    return folder;
}

QString Vehicle::parentOf(const QString &id) const
{
    const Repo &r = *repo_;
    const git_oid oid = r.resolve(id);
    Commit commit;
    r.check(git_commit_lookup(commit.out(), r.repo.get(), &oid), QStringLiteral("a entrada não pôde ser lida"));
    if (git_commit_parentcount(commit.get()) == 0)
        return {};
    return hex(git_commit_parent_id(commit.get(), 0));
}

} // namespace history
