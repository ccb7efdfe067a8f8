#include "simprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

SimProcess::SimProcess(const QStringList &arguments) : arguments_(arguments)
{
    // A write into the FIFO of a simulator that has just died must fail, not end
    // the test process.
    std::signal(SIGPIPE, SIG_IGN);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimProcess::~SimProcess()
{
    if (isRunning())
        stop();
}

QString SimProcess::logPath() const { return dir_.filePath(QStringLiteral("sim.log")); }
QString SimProcess::controlPath() const { return dir_.filePath(QStringLiteral("control")); }

qint64 SimProcess::pid() const { return process_.processId(); }

bool SimProcess::isRunning() const { return process_.state() != QProcess::NotRunning; }

int SimProcess::exitCode() const { return process_.exitCode(); }

bool SimProcess::start(int timeoutMs)
{
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return false;
    }
    const QString program = qEnvironmentVariable("VELTO_SIM");
    if (program.isEmpty()) {
        error_ = QStringLiteral("VELTO_SIM is not set");
        return false;
    }
    QStringList args{QStringLiteral("--control"), controlPath(), QStringLiteral("--log"),
                     logPath()};
    args += arguments_;
    process_.start(program, args);
    if (!process_.waitForStarted(timeoutMs)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(program, process_.errorString());
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!process_.canReadLine()) {
        if (process_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            error_ = QStringLiteral("%1 printed no device path").arg(program);
            if (isRunning())
                kill();
            return false;
        }
        process_.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    device_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    return !device_.isEmpty();
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
    ++commandsSent_;
    return waitForEvents(QStringLiteral("control "), commandsSent_,
                         int(qMax<qint64>(1, deadline.remainingTime())));
}

QByteArray SimProcess::dumpImage(int timeoutMs)
{
    const QString path = dir_.filePath(QStringLiteral("dump-%1.bin").arg(++dumps_));
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
    if (!file.seek(logPos_))
        return;
    const QByteArray data = file.readAll();
    logPos_ += data.size();
    tail_ += data;
    qsizetype start = 0;
    for (;;) {
        const qsizetype nl = tail_.indexOf('\n', start);
        if (nl < 0)
            break;
        lines_ << QString::fromUtf8(tail_.mid(start, nl - start));
        start = nl + 1;
    }
    tail_.remove(0, start);
}

QStringList SimProcess::logLines()
{
    refreshLog();
    return lines_;
}

QStringList SimProcess::logEvents()
{
    refreshLog();
    QStringList events;
    events.reserve(lines_.size());
    for (const QString &l : std::as_const(lines_)) {
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

int SimProcess::settledCount(const QString &prefix, int quietMs, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    int count = countEvents(prefix);
    QDeadlineTimer quiet(quietMs);
    while (!quiet.hasExpired() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
        const int now = countEvents(prefix);
        if (now != count) {
            count = now;
            quiet.setRemainingTime(quietMs);
        }
    }
    return count;
}

void SimProcess::kill()
{
    if (!isRunning())
        return;
    process_.kill();
    process_.waitForFinished(5000);
}

bool SimProcess::stop(int timeoutMs, int signal)
{
    if (isRunning())
        ::kill(pid_t(process_.processId()), signal);
    return waitForExit(timeoutMs);
}

bool SimProcess::waitForExit(int timeoutMs)
{
    if (isRunning() && !process_.waitForFinished(timeoutMs)) {
        kill();
        return false;
    }
    return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}
