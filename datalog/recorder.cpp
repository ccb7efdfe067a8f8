#include "datalog/recorder.h"

#include "common/systemerror.h"
#include "datalog/logformat.h"
#include "files/mapfile.h"

#include <QDateTime>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

#ifndef VELTO_VERSION
#define VELTO_VERSION "0"
#endif

namespace {

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Writes all bytes; returns 0 or the errno of the failing write. *written counts the
// bytes that reached the file.
int writeAll(int fd, const char *data, std::size_t size, std::size_t *written)
{
    *written = 0;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        data += n;
        size -= std::size_t(n);
        *written += std::size_t(n);
    }
    return 0;
}

} // namespace

Recorder::Recorder(Clock clock) : clock_(clock ? std::move(clock) : Clock(steadyNs)) {}

Recorder::~Recorder() { close(); }

QString Recorder::tunePath(const QString &logPath)
{
    QString base = logPath;
    if (base.endsWith(QLatin1String(".msl"), Qt::CaseInsensitive))
        base.chop(4);
    return base + QStringLiteral("-mapa.txt");
}

QString Recorder::suggestedName()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("'velto-'yyyyMMdd-HHmmss'.msl'"));
}

void Recorder::start(const QString &path, const std::optional<QByteArray> &tune, const QString &historyEntry)
{
    close();
    const QString tuneFile = tunePath(path);
    try {
        if (tune)
            MapFile::writeFile(tuneFile, *tune);
    } catch (const MapFileIoError &e) {
        throw RecordError(QString::fromUtf8("O mapa do registro %1 não pôde ser gravado: %2")
                              .arg(tuneFile, systemerror::text(e.error())));
    } catch (const std::exception &e) {
        throw RecordError(QString::fromUtf8("O mapa do registro %1 não pôde ser gravado: %2")
                              .arg(tuneFile, QString::fromUtf8(e.what())));
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw RecordError(
            QString::fromUtf8("O registro %1 não pôde ser criado: %2").arg(path, systemerror::text(errno)));
    fd_ = fd;
    path_ = path;
    pending_ = logformat::header(QStringLiteral(VELTO_VERSION), QDateTime::currentDateTime().toString(Qt::ISODate),
                                 !tune.has_value(), historyEntry);
    gate_.restart();
    rows_ = 0;
    markers_ = 0;
    committed_ = 0;
    startNs_ = clock_();
    sync();
}

std::int64_t Recorder::elapsedMs() const { return (clock_() - startNs_) / 1000000; }

void Recorder::frame(int kind, const LiveValues &values)
{
    if (fd_ < 0 || !gate_.complete(kind))
        return;
    pending_ += logformat::row(elapsedMs(), values);
    ++rows_;
}

int Recorder::mark(const QString &text)
{
    if (fd_ < 0)
        return 0;
    ++markers_;
    pending_ +=
        logformat::marker(markers_, text.isEmpty() ? QStringLiteral("Marca %1").arg(markers_) : text, elapsedMs());
    return markers_;
}

void Recorder::sync()
{
    if (fd_ < 0)
        return;
    std::size_t written = 0;
    int err = writeAll(fd_, pending_.constData(), std::size_t(pending_.size()), &written);
    if (err != 0) {
        // A line cut short by a full disk is taken back: the file ends with whole lines.
        const qsizetype lastEnd = pending_.lastIndexOf('\n', qsizetype(written) - 1);
        if (::ftruncate(fd_, committed_ + (lastEnd < 0 ? 0 : lastEnd + 1)) == 0)
            ::fdatasync(fd_);
        fail(err);
    }
    committed_ += std::int64_t(written);
    if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS)
        fail(errno);
    pending_.clear();
}

void Recorder::stop()
{
    if (fd_ < 0)
        return;
    sync();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        throw RecordError(
            QString::fromUtf8("A gravação do registro %1 terminou com erro: %2").arg(path_, systemerror::text(errno)));
}

void Recorder::fail(int err)
{
    close();
    throw RecordError(QString::fromUtf8("A gravação do registro %1 foi interrompida: %2. "
                                        "As linhas gravadas até aqui podem ser lidas.")
                          .arg(path_, systemerror::text(err)));
}

void Recorder::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    pending_.clear();
}
