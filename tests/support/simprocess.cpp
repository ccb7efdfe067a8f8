#include "simprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

SimProcess::SimProcess(const QStringList &arguments) : m_arguments(arguments)
{
    // A write into the FIFO of a simulator that has just died must fail, not end
    // the test process.
    std::signal(SIGPIPE, SIG_IGN);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimProcess::~SimProcess()
{
    if (isRunning())
        stop();
}

QString SimProcess::logPath() const { return m_dir.filePath(QStringLiteral("sim.log")); }
QString SimProcess::controlPath() const { return m_dir.filePath(QStringLiteral("control")); }

qint64 SimProcess::pid() const { return m_process.processId(); }

bool SimProcess::isRunning() const { return m_process.state() != QProcess::NotRunning; }

int SimProcess::exitCode() const { return m_process.exitCode(); }

bool SimProcess::start(int timeoutMs)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString program = qEnvironmentVariable("VELTO_SIM");
    if (program.isEmpty()) {
        m_error = QStringLiteral("VELTO_SIM is not set");
        return false;
    }
    QStringList args{QStringLiteral("--control"), controlPath(), QStringLiteral("--log"),
                     logPath()};
    args += m_arguments;
    m_process.start(program, args);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString());
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine()) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            m_error = QStringLiteral("%1 printed no device path").arg(program);
            if (isRunning())
                kill();
            return false;
        }
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    m_device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    return !m_device.isEmpty();
}

bool SimProcess::command(const QString &line, int timeoutMs)
{
    if (line.contains(QLatin1Char('\n')) || line.trimmed().isEmpty() || !isRunning())
        return false;
    const QByteArray bytes = line.toUtf8() + '\n';
    QDeadlineTimer deadline(timeoutMs);
    int fd = -1;
    for (;;) {
        fd = ::open(QFile::encodeName(controlPath()).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            break;
        if ((errno != ENXIO && errno != EINTR && errno != ENOENT) || deadline.hasExpired()
            || !isRunning())
            return false;
        QThread::msleep(2);
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && !deadline.hasExpired()) {
            QThread::msleep(1);
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += n;
    }
    ::close(fd);
    ++m_commandsSent;
    return waitForEvents(QStringLiteral("control "), m_commandsSent,
                         int(qMax<qint64>(1, deadline.remainingTime())));
}

QByteArray SimProcess::dumpImage(int timeoutMs)
{
    const QString path = m_dir.filePath(QStringLiteral("dump-%1.bin").arg(++m_dumps));
    QFile::remove(path);
    QDeadlineTimer deadline(timeoutMs);
    if (!command(QStringLiteral("dump ") + path, timeoutMs))
        return {};
    QFile file(path);
    while (!file.exists()) {
        if (deadline.hasExpired())
            return {};
        QThread::msleep(2);
    }
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void SimProcess::refreshLog()
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    if (!file.seek(m_logPos))
        return;
    const QByteArray data = file.readAll();
    m_logPos += data.size();
    m_tail += data;
    qsizetype start = 0;
    for (;;) {
        const qsizetype nl = m_tail.indexOf('\n', start);
        if (nl < 0)
            break;
        m_lines << QString::fromUtf8(m_tail.mid(start, nl - start));
        start = nl + 1;
    }
    m_tail.remove(0, start);
}

QStringList SimProcess::logLines()
{
    refreshLog();
    return m_lines;
}

QStringList SimProcess::logEvents()
{
    refreshLog();
    QStringList events;
    events.reserve(m_lines.size());
    for (const QString &l : std::as_const(m_lines)) {
        const qsizetype sp = l.indexOf(QLatin1Char(' '));
        events << (sp < 0 ? QString() : l.mid(sp + 1));
    }
    return events;
}

QList<QByteArray> SimProcess::uploadFrames()
{
    QList<QByteArray> frames;
    for (const QString &e : logEvents()) {
        if (!e.startsWith(QLatin1String("frame ")))
            continue;
        frames << QByteArray::fromHex(e.mid(6).toLatin1());
    }
    return frames;
}

QList<quint8> SimProcess::commands()
{
    QList<quint8> cmds;
    for (const QString &e : logEvents()) {
        if (!e.startsWith(QLatin1String("command ")))
            continue;
        const QByteArray b = QByteArray::fromHex(e.mid(8).toLatin1());
        if (!b.isEmpty())
            cmds << quint8(b[0]);
    }
    return cmds;
}

int SimProcess::countEvents(const QString &prefix)
{
    int n = 0;
    for (const QString &e : logEvents())
        if (e.startsWith(prefix))
            ++n;
    return n;
}

bool SimProcess::waitForEvents(const QString &prefix, int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (countEvents(prefix) >= count)
            return true;
        if (deadline.hasExpired())
            return false;
        if (!isRunning())
            return countEvents(prefix) >= count;
        QThread::msleep(2);
    }
}

void SimProcess::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool SimProcess::stop(int timeoutMs, int signal)
{
    if (isRunning())
        ::kill(pid_t(m_process.processId()), signal);
    return waitForExit(timeoutMs);
}

bool SimProcess::waitForExit(int timeoutMs)
{
    if (isRunning() && !m_process.waitForFinished(timeoutMs)) {
        kill();
        return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}
