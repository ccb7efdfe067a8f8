// UUCP lock files for the serial devices this program lists and opens.
#include "serial/uucplock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace uucplock {

namespace {

QByteArray lockText(qint64 pid) { return QByteArray::number(pid).rightJustified(10, ' ') + '\n'; }

// Writes the lock file in one step: a private file first, then a hard link
// under the lock's name, which fails if anybody got there first.
int createLockFile(const QString &file, qint64 pid)
{
    const QByteArray target = QFile::encodeName(file);
    const QByteArray temporary =
        QFile::encodeName(QFileInfo(file).absolutePath() + QStringLiteral("/LTMP.%1").arg(pid));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    const QByteArray text = lockText(pid);
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    const int writeError = errno;
    ::close(fd);
    int err = written ? 0 : writeError;
    if (!err && ::link(temporary.constData(), target.constData()) != 0)
        err = errno;
    ::unlink(temporary.constData());
    return err;
}

} // namespace

QString lockName(const QString &devicePath)
{
    QString path = QFileInfo(devicePath).canonicalFilePath();
    if (path.isEmpty())
        path = devicePath;
    if (path.startsWith(QLatin1String("/dev/pts/")))
        return {};
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty())
        return {};
    return QStringLiteral("LCK..") + name;
}

QStringList lockFolders()
{
    const QString own = qEnvironmentVariable("VELTO_LOCK_DIR");
    if (!own.isEmpty())
        return {own};
    QStringList folders;
    QStringList seen;
    for (const QString &folder : {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")}) {
        const QString real = QFileInfo(folder).canonicalFilePath();
        if (real.isEmpty() || seen.contains(real))
            continue;
        seen << real;
        folders << folder;
    }
    return folders;
}

qint64 lockFilePid(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = f.read(64);
    bool ok = false;
    const qint64 pid = text.trimmed().toLongLong(&ok);
    if (ok && pid > 0)
        return pid;
    // Some old programs wrote the pid as a binary int.
    if (text.size() == int(sizeof(int))) {
        int binary = 0;
        memcpy(&binary, text.constData(), sizeof binary);
        if (binary > 0)
            return binary;
    }
    return 0;
}

bool processRuns(qint64 pid)
{
    if (pid <= 0 || pid > INT_MAX)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

qint64 holder(const QString &devicePath)
{
    const QString name = lockName(devicePath);
    if (name.isEmpty())
        return 0;
    for (const QString &folder : lockFolders()) {
        const qint64 pid = lockFilePid(folder + QLatin1Char('/') + name);
        if (processRuns(pid))
            return pid;
    }
    return 0;
}

int Lock::acquire(const QString &devicePath)
{
    release();
    const QString name = lockName(devicePath);
    const QStringList folders = lockFolders();
    if (name.isEmpty() || folders.isEmpty())
        return 0;
    if (holder(devicePath) != 0)
        return EBUSY;
    const qint64 self = ::getpid();
    for (const QString &folder : folders) {
        const QString file = folder + QLatin1Char('/') + name;
        if (QFileInfo::exists(file) && !processRuns(lockFilePid(file)))
            QFile::remove(file); // stale
    }
    const QString file = folders.first() + QLatin1Char('/') + name;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int err = createLockFile(file, self);
        if (err == 0) {
            file_ = file;
            return 0;
        }
        if (err != EEXIST)
            return 0; // the folder cannot be written: go on without a lock file
        // Another program wrote it in between, or it is stale after all.
        if (processRuns(lockFilePid(file)))
            return EBUSY;
        QFile::remove(file);
    }
    return EBUSY;
}

void Lock::release()
{
    if (file_.isEmpty())
        return;
    if (lockFilePid(file_) == ::getpid())
        QFile::remove(file_);
    file_.clear();
}

} // namespace uucplock
