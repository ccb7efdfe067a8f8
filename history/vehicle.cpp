#include "history/vehicle.h"

#include "core/tunediff.h"
#include "files/mapfilecodec.h"
#include "history/tunetext.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <algorithm>
#include <utility>
#include <fcntl.h>
#include <git2.h>
#include <sys/file.h>
#include <unistd.h>

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
        check(git_blob_lookup(blob.out(), repo.get(), git_tree_entry_id(e)), QStringLiteral("%1 não pôde ser lido").arg(name));
        return QByteArray(static_cast<const char *>(git_blob_rawcontent(blob.get())), qsizetype(git_blob_rawsize(blob.get())));
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
        check(git_checkout_head(repo.get(), &options), QStringLiteral("os arquivos da última entrada não puderam ser escritos"));
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
                check(git_packbuilder_insert(builder.get(), &oid, nullptr), QStringLiteral("os objetos não puderam ser compactados"));
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
        throw HistoryError(QStringLiteral("A pasta %1 não existe: não é o histórico de um veículo.").arg(r.folder).toStdString());
    if (QFileInfo(r.folder).exists() && !QFileInfo(r.folder).isDir())
        throw HistoryError(QStringLiteral("%1 não é uma pasta: não pode ser o histórico de um veículo.").arg(r.folder).toStdString());
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
            throw HistoryError(refused.arg(r.folder, QStringLiteral("um repositório sem pasta de trabalho")).toStdString());
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
            throw HistoryError(refused.arg(r.folder, QStringLiteral("um repositório git de outra coisa")).toStdString());
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
            repaired << QStringLiteral("uma gravação interrompida deixou travas (%1), removidas").arg(names.join(QStringLiteral(", ")));
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
                        repaired << QStringLiteral("%1 e %2 voltaram a ser os da última entrada").arg(tuneTextFile, mapFileName);
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
            r.messages = QStringLiteral("Histórico do veículo em %1: %2.").arg(r.folder, repaired.join(QStringLiteral("; ")));
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
        r.check(git_treebuilder_new(builder.out(), r.repo.get(), nullptr), QStringLiteral("a entrada não pôde ser montada"));
        r.check(git_treebuilder_insert(nullptr, builder.get(), tuneTextFile.toUtf8().constData(), &textId, GIT_FILEMODE_BLOB),
                QStringLiteral("a entrada não pôde ser montada"));
        r.check(git_treebuilder_insert(nullptr, builder.get(), mapFileName.toUtf8().constData(), &mapId, GIT_FILEMODE_BLOB),
                QStringLiteral("a entrada não pôde ser montada"));
        r.check(git_treebuilder_write(&treeId, builder.get()), QStringLiteral("a entrada não pôde ser gravada"));
    }
    Tree tree;
    r.check(git_tree_lookup(tree.out(), r.repo.get(), &treeId), QStringLiteral("a entrada não pôde ser gravada"));
    Commit parent;
    if (hasHead)
        r.check(git_commit_lookup(parent.out(), r.repo.get(), &head), QStringLiteral("o último registro não pôde ser lido"));
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
        throw HistoryError(QStringLiteral("Uma etiqueta é uma palavra ou frase de uma linha, não \"%1\".").arg(tag).toStdString());
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

} // namespace history
