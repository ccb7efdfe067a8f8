#pragma once
// A vehicle's history: a folder that is a git repository, one commit (an "entry") for
// each tune the car has had. Each entry holds the tune as text a person reads
// (ajuste.txt) and as the map file (mapa.txt); its message names what made it, when,
// on which port, and what changed. Notes and tags are added later as git notes, so
// history is never rewritten; a reference marks the entry the module holds.
#include "files/mapfile.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <stdexcept>

namespace history {

// The kinds of entry: the first line of an entry's message.
namespace kind {
inline const QString sent = QStringLiteral("Enviado ao módulo");
inline const QString read = QStringLiteral("Lido do módulo");
inline const QString loaded = QStringLiteral("Arquivo carregado");
inline const QString saved = QStringLiteral("Arquivo salvo");
inline const QString correction = QStringLiteral("Correção aplicada");
inline const QString tps = QStringLiteral("TPS calibrado");
QString restored(const QString &id); // "Restaurado de <id>"
} // namespace kind

// The files of an entry.
inline const QString tuneTextFile = QStringLiteral("ajuste.txt");
inline const QString mapFileName = QStringLiteral("mapa.txt");

// The folder of a vehicle's logs, beside the entry's files; git ignores it.
inline const QString logsFolderName = QStringLiteral("registros");

// A failure of the history (the folder, git's reason), in Portuguese.
class HistoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// An entry id that names no entry.
class UnknownEntry : public HistoryError {
public:
    using HistoryError::HistoryError;
};

struct Entry {
    QString id;     // the commit's short hash, unique within the history
    QString commit; // the full hash
    QString kind;
    QDateTime time;
    QString port;
    QString summary;
    QString note;
    QStringList tags;
    bool inModule = false;
};

// A line of entries: a branch of the repository. A vehicle has one ("main") until a
// pull finds that another computer changed the car from an older entry than this one:
// then the other computer's line is kept beside this one, and the user picks which
// to continue (Vehicle::use). Two tunes are never merged.
struct Line {
    QString name; // the branch's name
    QString head; // its newest entry's full hash
    bool current = false;
};

// An entry with the lines it is on (every line, when the vehicle has one).
struct LineEntry {
    Entry entry;
    QStringList lines;
};

// A remote that the user configured (git remote add, or Vehicle::addRemote).
struct Remote {
    QString name;
    QString url;
};

// What a pull did.
struct PullResult {
    QStringList updated; // lines moved on to the remote's newer entries
    QStringList added;   // lines this computer did not have
    QStringList kept;    // the remote's lines that diverged from this one, kept under these names
    int notesMerged = 0; // entries whose note or tags both computers had changed, merged
    bool changed() const { return !updated.isEmpty() || !added.isEmpty() || !kept.isEmpty() || notesMerged > 0; }
};

// "ignição: 3 células; injeção: 12 células; Limite de RPM: 6000 → 6500": the cells
// whose value changed (as tunediff::compare tells) counted per map, then each other
// field with its old and new text (the first four, then how many more). When no value
// changed, the fields whose text changed ("4" → "4,0").
QString changeSummary(const Tune &before, const Tune &after);

class Vehicle {
public:
    enum class Open { CreateIfMissing, ExistingOnly };
    // Opens the history in folder, making it when the folder does not exist or is
    // empty (unless ExistingOnly). Refuses, naming it, a folder that holds something
    // else. Lock files left by a writer that was killed are removed (see messages()).
    explicit Vehicle(const QString &folder, Open mode = Open::CreateIfMissing);
    ~Vehicle();
    Vehicle(const Vehicle &) = delete;
    Vehicle &operator=(const Vehicle &) = delete;

    // $XDG_DATA_HOME/velto/veiculos/<name>.
    static QString defaultFolder(const QString &name);

    QString folder() const;
    QString name() const;
    // What opening repaired (stale locks removed, an unfinished entry's files put back):
    // at most one message, empty when there was nothing.
    QString messages() const;

    // A new entry for this tune, unless it equals the latest entry's: then that entry is
    // returned and nothing is written.
    Entry record(const QString &kind, const Tune &tune, const QString &port,
                 const QDateTime &when = QDateTime::currentDateTime());
    // libgit2 writes every object as a file of its own (a disk block each): once about
    // `threshold` (about 250 entries) are loose, packs them into one file, compressed
    // against each other, and removes them. Returns whether it packed. Takes longer than
    // an entry: call it after the entry, off the window's thread.
    bool compact(int threshold = 1024);
    // Newest first.
    QList<Entry> entries() const;
    std::optional<Entry> latest() const;
    // An entry by its id (or any unique start of its hash); throws UnknownEntry.
    Entry entry(const QString &id) const;
    Tune tune(const QString &id) const;
    QByteArray mapBytes(const QString &id) const;
    // A new entry on top holding the tune of id ("Restaurado de <id>").
    Entry restore(const QString &id, const QString &port = {}, const QDateTime &when = QDateTime::currentDateTime());
    void setNote(const QString &id, const QString &text);
    void addTag(const QString &id, const QString &tag);
    // The "no módulo" mark.
    void markInModule(const QString &id);
    void clearInModule();
    std::optional<QString> inModule() const; // the entry's id

    // Sharing between computers, through git's own protocol (a folder, a bare repository
    // on a USB disk, a workshop server). Failures throw HistoryError, in one sentence.
    QList<Remote> remotes() const;
    void addRemote(const QString &name, const QString &url);
    // Sends the current line and the notes and tags of every entry (not the "no módulo"
    // mark: it tells what this computer saw in the module). A line kept from the remote
    // goes to the remote's line it came from (the git upstream a pull sets), any other
    // under its own name. A remote whose line has entries this computer lacks refuses
    // it, nothing changed on either side. Returns the name of the line on the remote.
    QString push(const QString &remote = QStringLiteral("origin"));
    // Fetches the remote's lines and notes. A line that is an older state of the
    // remote's moves on to it; one that diverged stays as it is and the remote's line is
    // kept as a line of its own ("<remote>-<line>"). Notes of both sides are kept.
    PullResult pull(const QString &remote = QStringLiteral("origin"));
    QList<Line> lines() const;
    // The entries of every line, newest first.
    QList<LineEntry> allEntries() const;
    // Continues from another line: the next entries go on top of it.
    void use(const QString &line);

    // <folder>/registros, made when missing and left out of git (info/exclude): the
    // recordings made while the vehicle is open.
    QString logsFolder();
    // The entry the commit's first parent is (empty for the first entry).
    QString parentOf(const QString &id) const;

private:
    struct Repo;
    std::unique_ptr<Repo> repo_;
};

} // namespace history
