// Explanations of port errors, read from the system when the error happens.
#include "serial/porterror.h"

#include "serial/comport.h"
#include "serial/uucplock.h"

#include "common/systemerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QString programName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// A process with the device open, by its descriptors.
qint64 openerOf(dev_t device)
{
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : processes) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (!ok)
            continue;
        const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            struct stat st {};
            if (::stat(QFile::encodeName(fdFolder + QLatin1Char('/') + fd).constData(), &st) == 0 &&
                S_ISCHR(st.st_mode) && st.st_rdev == device)
                return pid;
        }
    }
    return 0;
}

QString heldLine(const QString &path)
{
    const PortHolder holder = findPortHolder(path);
    if (holder.pid == 0)
        return QStringLiteral(" A porta %1 está em uso por outro programa. ").arg(path);
    if (holder.program.isEmpty())
        return QStringLiteral(" A porta %1 está em uso por outro programa (processo %2). ").arg(path).arg(holder.pid);
    return QStringLiteral(" A porta %1 está em uso por outro programa: %2 (processo %3). ")
        .arg(path, holder.program)
        .arg(holder.pid);
}

// Whether the user's groups in the system's files hold gid, and whether this
// session's do.
struct Membership {
    bool listed = false;
    bool session = false;
};

Membership membership(const passwd *user, gid_t gid)
{
    Membership m;
    m.session = ::getegid() == gid;
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        QList<gid_t> groups(count);
        const int n = ::getgroups(count, groups.data());
        for (int i = 0; i < n; ++i)
            m.session = m.session || groups[i] == gid;
    }
    if (user) {
        int n = 64;
        QList<gid_t> groups(n);
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &n) < 0) {
            groups.resize(n);
            ::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &n);
        }
        for (int i = 0; i < n && i < groups.size(); ++i)
            m.listed = m.listed || groups[i] == gid;
    }
    return m;
}

QString noPermissionLine(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral(" Sem permissão para %1. ").arg(path);
    const group *g = ::getgrgid(st.st_gid);
    const QString groupName = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        const passwd *owner = ::getpwuid(st.st_uid);
        const QString ownerName = owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid);
        return QStringLiteral(" Sem permissão para %1 (só o dono, %2, pode abri-lo). ").arg(path, ownerName);
    }
    const passwd *user = ::getpwuid(::geteuid());
    const QString userName = user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("<usuário>");
    const Membership m = membership(user, st.st_gid);
    if (m.listed && !m.session)
        return QStringLiteral(" Sem permissão para %1 (grupo %2). O usuário %3 já está no grupo %2, mas esta "
                              "sessão começou antes: entre de novo na sessão. ")
            .arg(path, groupName, userName);
    return QStringLiteral(" Sem permissão para %1 (grupo %2). Execute: sudo usermod -aG %2 %3 e entre de novo "
                          "na sessão. ")
        .arg(path, groupName, userName);
}

} // namespace

qint64 procLocksHolder(quint64 fsDevice, quint64 inode)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray wanted = QStringLiteral("%1:%2:%3")
                                  .arg(major(dev_t(fsDevice)), 2, 16, QLatin1Char('0'))
                                  .arg(minor(dev_t(fsDevice)), 2, 16, QLatin1Char('0'))
                                  .arg(inode)
                                  .toLatin1();
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // "->" marks a waiter, which holds nothing; OFD locks show pid -1.
        if (fields.size() < 6 || fields.at(1) == "->" || fields.at(5) != wanted)
            continue;
        const qint64 pid = fields.at(4).toLongLong();
        if (pid > 0)
            return pid;
    }
    return 0;
}

PortHolder findPortHolder(const QString &devicePath)
{
    PortHolder found;
    found.pid = uucplock::holder(devicePath);
    struct stat st {};
    const bool node = ::stat(QFile::encodeName(devicePath).constData(), &st) == 0;
    // /proc/locks names the process that took the lock, which may have ended
    // while a child it handed the descriptor to holds the lock on.
    if (found.pid == 0 && node) {
        const qint64 locker = procLocksHolder(st.st_dev, st.st_ino);
        if (uucplock::processRuns(locker))
            found.pid = locker;
    }
    if (found.pid == 0 && node && S_ISCHR(st.st_mode))
        found.pid = openerOf(st.st_rdev);
    if (found.pid != 0)
        found.program = programName(found.pid);
    return found;
}

// What failed, in the words of a code, on the port: "A leitura da porta %1 falhou".
QString failedStep(int code, const QString &path)
{
    switch (code) {
    case EComPort::OpenFailed: return QStringLiteral("Não foi possível abrir a porta %1").arg(path);
    case EComPort::WriteFailed: return QStringLiteral("A escrita na porta %1 falhou").arg(path);
    case EComPort::ReadFailed: return QStringLiteral("A leitura da porta %1 falhou").arg(path);
    case EComPort::PurgeFailed: return QStringLiteral("A porta %1 não pôde ser esvaziada ao fechar").arg(path);
    case EComPort::SetStateFailed: return QStringLiteral("A porta %1 recusou a configuração da linha").arg(path);
    case EComPort::SetTimeoutsFailed: return QStringLiteral("A porta %1 recusou os tempos de espera").arg(path);
    case EComPort::SetupFailed: return QStringLiteral("A porta %1 recusou o tamanho dos buffers").arg(path);
    case EComPort::ClearErrorFailed: return QStringLiteral("O estado da porta %1 não pôde ser lido").arg(path);
    case EComPort::ModemStatusFailed:
        return QStringLiteral("As linhas de controle da porta %1 não puderam ser lidas").arg(path);
    default: return QStringLiteral("Erro na porta %1").arg(path);
    }
}

QString explainPortError(int code, int osError, const QString &devicePath)
{
    const bool opening = code == EComPort::OpenFailed;
    switch (osError) {
    case EACCES:
        if (opening)
            return noPermissionLine(devicePath);
        break;
    case EBUSY:
    case EWOULDBLOCK:
        if (opening)
            return heldLine(devicePath);
        break;
    case EIO:
    case ENXIO:
    case ENODEV:
        // The port is named: with two adapters on the car a tuner must know which went.
        if (devicePath.isEmpty())
            return QStringLiteral(" O cabo ou o adaptador foi desconectado. ");
        return QStringLiteral(" O cabo ou o adaptador da porta %1 foi desconectado. ").arg(devicePath);
    case ENOENT:
        if (!opening)
            break;
        // "!!" stands in the port list when no port was found.
        if (QFileInfo(devicePath).fileName() == QLatin1String("!!"))
            return QStringLiteral(" Nenhuma porta serial foi encontrada: conecte o cabo do módulo e escolha a porta. ");
        return QStringLiteral(" A porta %1 não existe. ").arg(devicePath);
    case ENOTTY:
        if (opening)
            return QStringLiteral(" %1 não é uma porta serial. ").arg(devicePath);
        break;
    case EBADF:
        if (!opening)
            return QStringLiteral(" A porta %1 não está aberta. ").arg(devicePath);
        break;
    default: break;
    }
    if (devicePath.isEmpty())
        return {};
    return QStringLiteral(" %1: %2. ").arg(failedStep(code, devicePath), systemerror::text(osError));
}
