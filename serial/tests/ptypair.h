#pragma once
// A pseudo-terminal pair for the serial tests: the component opens the slave by
// name, the test plays the ECU through the master.
#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

class PtyPair {
public:
    PtyPair()
    {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) == 0)
            name_ = QString::fromLocal8Bit(::ttyname(slave_));
    }
    ~PtyPair()
    {
        closeMaster();
        if (slave_ >= 0)
            ::close(slave_);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return master_ >= 0 && !name_.isEmpty(); }
    // The slave's device path, e.g. "/dev/pts/3".
    QString slaveName() const { return name_; }
    // A descriptor of the slave kept by the test, only to look at its settings.
    int slaveFd() const { return slave_; }

    // The device goes away for whoever holds the slave.
    void closeMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // What the component wrote: up to count bytes, waiting at most waitMs for
    // each next one.
    QByteArray receive(int count, int waitMs = 2000)
    {
        QByteArray got;
        while (got.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, waitMs) <= 0 || !(p.revents & POLLIN))
                break;
            char buffer[512];
            const ssize_t n = ::read(master_, buffer, std::min<size_t>(sizeof buffer, size_t(count - got.size())));
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got;
    }

    // TIOCEXCL state of the slave: 1 exclusive, 0 not, -1 unknown.
    int exclusive() const
    {
        int value = 0;
        return ::ioctl(slave_, TIOCGEXCL, &value) == 0 ? value : -1;
    }

    termios settings() const
    {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    QString name_;
};
