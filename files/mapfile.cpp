#include "files/mapfile.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/numtext.h"
#include "common/systemerror.h"
#include "files/mapfilecodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A map file that cannot be written or loaded as it stands; nothing was changed.
class MapFileRefused : public std::runtime_error {
public:
    explicit MapFileRefused(const QString &message) : std::runtime_error(message.toUtf8().toStdString()) {}
};

QString ioErrorText(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR: return QStringLiteral("File not found");
    case ENAMETOOLONG:
    case EINVAL: return QStringLiteral("Invalid filename");
    case EMFILE:
    case ENFILE: return QStringLiteral("Too many open files");
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("Disk full");
    default: return QStringLiteral("I/O error %1").arg(err);
    }
}

[[noreturn]] void fail(int err) { throw MapFileIoError(ioErrorText(err), err); }

// A map file line is well under a kilobyte; a first line longer than this is no map
// file (a device without line ends, a large binary file) and is not read on.
constexpr qsizetype maxLineBytes = 1 << 20;

struct FirstLineBytes {
    QByteArray bytes; // everything read, the first line end included if found
    bool tooLong = false;
};

// Files are opened without waiting, so that a named pipe with nobody at the other end
// cannot freeze the window; reads and writes then block as usual.
void blockAgain(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

FirstLineBytes readFirstLine(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        fail(errno);
    blockAgain(fd);

    FirstLineBytes out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            fail(err);
        }
        if (n == 0)
            break;
        out.bytes.append(buffer, n);
        const QByteArrayView chunk(buffer, n);
        if (chunk.contains('\r') || chunk.contains('\n'))
            break;
        if (out.bytes.size() > maxLineBytes) {
            out.tooLong = true;
            break;
        }
    }
    if (::close(fd) < 0 && errno != EINTR)
        fail(errno);
    return out;
}

// Writes all bytes; returns 0 or the errno of the failing write.
int writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += n;
        left -= n;
    }
    return 0;
}

// A device or pipe chosen as the target has no old contents to keep: write to it.
void writeInPlace(const QByteArray &target, const QByteArray &bytes)
{
    int fd;
    do
        fd = ::open(target.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        fail(errno);
    blockAgain(fd);
    if (const int err = writeAll(fd, bytes)) {
        ::close(fd);
        fail(err);
    }
    if (::close(fd) < 0 && errno != EINTR)
        fail(errno);
}

// Replaces the file at path with bytes. The new contents go to a file of their own in
// the same folder, which replaces the old file only once it is complete and on disk:
// a failure at any step leaves the old file as it was and removes the new one.
void writeReplacing(const QString &path, const QByteArray &bytes)
{
    QByteArray target = QFile::encodeName(path);
    if (target.isEmpty())
        fail(ENOENT);

    // Replace what a link points to, not the link.
    struct stat st;
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char *resolved = ::realpath(target.constData(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        fail(EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
        writeInPlace(target, bytes);
        return;
    }

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    const QByteArray base = slash < 0 ? target : target.mid(slash + 1);
    const QByteArray stem = folder + (folder.endsWith('/') ? "" : "/") + '.' + base.left(100) + ".tmp" +
                            QByteArray::number(qint64(::getpid()));

    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = stem + '.' + QByteArray::number(attempt);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EINTR && (errno != EEXIST || attempt >= 1000))
            fail(errno);
    }
    if (exists)
        (void)::fchmod(fd, st.st_mode & 07777); // the replacement keeps the old file's permissions

    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(temp.constData());
        fail(err);
    };
    if (const int err = writeAll(fd, bytes))
        abandon(err);
    while (::fsync(fd) < 0) {
        if (errno != EINTR)
            abandon(errno);
    }
    if (::close(fd) < 0 && errno != EINTR) {
        const int err = errno;
        ::unlink(temp.constData());
        fail(err);
    }
    if (::rename(temp.constData(), target.constData()) < 0) {
        const int err = errno;
        ::unlink(temp.constData());
        fail(err);
    }
    // Make the new name itself durable; the file is complete either way.
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
}

const QString &attention()
{
    static const QString text = QString::fromUtf8(" Atenção ! !  ");
    return text;
}

// A text that would not come back from the file as it was written: a ";" splits the
// field, a line end cuts the line, a character outside the file's 8-bit set is lost.
void checkSavable(const QString &control, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        QString what;
        if (c == u';') {
            what = QStringLiteral("\";\"");
        } else if (c == u'\r' || c == u'\n') {
            what = QString::fromUtf8("uma quebra de linha");
        } else if (c.unicode() > 0xFF) {
            const qsizetype n = c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
            what = u'"' + text.mid(i, n) + u'"';
        } else {
            continue;
        }
        throw MapFileRefused(
            attention() +
            QString::fromUtf8("O campo %1 contém %2 e não pode ser salvo. Nada foi gravado.  ").arg(control, what));
    }
}

[[noreturn]] void refuseLoad(const QString &detail)
{
    throw MapFileRefused(attention() + QString::fromUtf8("Arquivo de mapa inválido: ") + detail +
                         QString::fromUtf8(". Nada foi carregado.  "));
}

int tpsField(const QStringList &table, int field, const char *label)
{
    const QString &text = table[field - 1];
    int value = 0;
    if (!numtext::tryParseInt(text, &value))
        refuseLoad(QString::fromUtf8("o campo %1 (%2) contém \"%3\", que não é um número inteiro")
                       .arg(QString::number(field), QString::fromUtf8(label), text));
    return value;
}

} // namespace

MapFile::MapFile(Context &ctx) : ctx_(ctx) {}

FileDialogSpec MapFile::dialogSpec()
{
    FileDialogSpec setup;
    setup.filter = QString::fromUtf8("Arquivos Compatíveis (.txt)|*.txt|Todos os arquivos|*.*");
    setup.defaultSuffix = QStringLiteral("txt");
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        home = QDir::homePath();
    const QString folder = QDir(home).filePath(QString::fromUtf8("InjeçãoSorvaniVelto"));
    setup.initialDir = QFileInfo(folder).isDir() ? folder : home;
    return setup;
}

QStringList Tune::fields() const
{
    QStringList all = texts;
    all << numtext::formatInt(tpsMin) << numtext::formatInt(tpsMax);
    return all;
}

Tune MapFile::screenTune() const
{
    Tune tune;
    tune.texts.reserve(mapfile::fieldControls().size());
    for (const QString &control : mapfile::fieldControls())
        tune.texts << ctx_.screen.text(control);
    tune.tpsMin = ctx_.state.wv.tpsMin;
    tune.tpsMax = ctx_.state.wv.tpsMax;
    return tune;
}

QByteArray MapFile::screenBytes() const { return bytesOf(screenTune()); }

QByteArray MapFile::bytesOf(const Tune &tune)
{
    const QStringList &controls = mapfile::fieldControls();
    for (int i = 0; i < controls.size(); ++i)
        checkSavable(controls[i], tune.texts[i]);
    return mapfile::encodeLine(tune.fields());
}

void MapFile::writeFile(const QString &path, const QByteArray &bytes) { writeReplacing(path, bytes); }

MapFileIoError::MapFileIoError(const QString &message, int err) : std::runtime_error(message.toStdString()), err_(err)
{
}

void MapFile::saveTo(const QString &path) const { writeReplacing(path, screenBytes()); }

namespace {

// The map file's own text ("Disk full"), then what it means in the window's language,
// with the file's name: "O arquivo ... não pôde ser gravado: disco cheio."
template <typename F> void namingTheFile(const QString &path, bool saving, F &&step)
{
    try {
        step();
    } catch (const MapFileIoError &e) {
        throw MapFileIoError(QString::fromUtf8(e.what()) +
                                 QStringLiteral("\nO arquivo %1 não pôde ser %2: %3.")
                                     .arg(QDir::toNativeSeparators(path),
                                          saving ? QStringLiteral("gravado") : QStringLiteral("lido"),
                                          systemerror::text(e.error())),
                             e.error());
    }
}

} // namespace

bool MapFile::btnSalvarClick()
{
    const std::optional<QString> path = ctx_.prompt.saveFileName(dialogSpec());
    if (!path)
        return false;
    namingTheFile(*path, true, [&] { saveTo(*path); });
    return true;
}

Tune MapFile::readTune(const QString &path)
{
    // Read and check the whole line first: a file that does not hold a complete map
    // changes nothing on the screen.
    const FirstLineBytes read = readFirstLine(path);
    if (read.bytes.isEmpty())
        refuseLoad(QString::fromUtf8("o arquivo está vazio"));
    if (read.tooLong)
        refuseLoad(QString::fromUtf8("a primeira linha é longa demais"));
    const QString line = mapfile::firstLine(read.bytes);
    const qsizetype count = line.count(u';') + 1;
    if (count != mapfile::fieldCount)
        refuseLoad(QString::fromUtf8("%1 %2 em vez de %3")
                       .arg(QString::number(count), count == 1 ? QStringLiteral("campo") : QStringLiteral("campos"),
                            QString::number(mapfile::fieldCount)));
    const QStringList table = mapfile::splitSlots(line);
    Tune tune;
    tune.tpsMin = tpsField(table, 201, "TPS mínimo");
    tune.tpsMax = tpsField(table, 202, "TPS máximo");
    tune.texts = table.mid(0, 200);
    return tune;
}

bool MapFile::btnCarregarClick()
{
    const std::optional<QString> path = ctx_.prompt.openFileName(dialogSpec());
    if (!path)
        return false;
    namingTheFile(*path, false, [&] { loadFrom(*path); });
    return true;
}

void MapFile::loadFrom(const QString &path) { apply(readTune(path)); }

void MapFile::apply(const Tune &tune)
{
    const QStringList &table = tune.texts;
    Screen &s = ctx_.screen;
    const QStringList &controls = mapfile::fieldControls();
    for (int i = 0; i < 193; ++i)
        s.setText(controls[i], table[i]);
    const QString wheel = ctl::cbTipoRodaFonica;
    s.setText(wheel, table[193]);
    const QString wheelText = s.text(wheel);
    int wheelEntry = -1;
    bool toothFields = true;
    if (wheelText == QLatin1String("36-1")) {
        wheelEntry = 1;
    } else if (wheelText == QLatin1String("60-2")) {
        wheelEntry = 0;
    } else if (wheelText == QLatin1String("2+2")) {
        wheelEntry = 2;
        toothFields = false;
    }
    if (wheelEntry >= 0) {
        s.setItemIndex(wheel, wheelEntry);
        ctx_.state.toothFields = toothFields;
        enabledset::apply(ctx_);
    }

    const QString scale = ctl::cbEscalaRpm;
    s.setText(scale, table[194]);
    const QString scaleText = s.text(scale);
    if (scaleText == QLatin1String("6600"))
        s.setItemIndex(scale, 0);
    else if (scaleText == QLatin1String("8000"))
        s.setItemIndex(scale, 1);
    else if (scaleText == QLatin1String("9400"))
        s.setItemIndex(scale, 2);
    if (ctx_.hooks.speedScaleChange)
        ctx_.hooks.speedScaleChange();

    for (int i = 195; i < 200; ++i)
        s.setText(controls[i], table[i]);

    ctx_.state.wv.tpsMin = tune.tpsMin;
    ctx_.state.wv.tpsMax = tune.tpsMax;
}
