#include "ptyline.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyLine::~PtyLine() { close(); }

bool PtyLine::open(const QString &path)
{
    close();
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        close();
        return false;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        close();
        return false;
    }
    return true;
}

void PtyLine::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool PtyLine::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray PtyLine::read(int count, int timeoutMs)
{
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    char buf[4096];
    while (out.size() < count) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (r <= 0 || (p.revents & POLLIN) == 0)
            break;
        const ssize_t n = ::read(fd_, buf, size_t(qMin<qsizetype>(sizeof buf, count - out.size())));
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

QByteArray PtyLine::readUntilQuiet(int quietMs, int maxMs)
{
    QByteArray out;
    QDeadlineTimer deadline(maxMs);
    char buf[4096];
    while (!deadline.hasExpired()) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, quietMs);
        if (r <= 0 || (p.revents & POLLIN) == 0)
            break;
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

bool PtyLine::waitGone(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    char buf[256];
    while (!deadline.hasExpired()) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (r <= 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR)) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                return true;
            continue; // bytes still on the way
        }
        if (::read(fd_, buf, sizeof buf) == 0)
            return true;
    }
    return false;
}
