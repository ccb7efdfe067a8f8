#pragma once
// A pseudo-terminal standing in for the ECU: the window opens the slave by its path,
// the test reads and writes the master.
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

class PtyLine
{
public:
    PtyLine()
    {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            path_ = QString::fromLocal8Bit(name);
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyLine()
    {
        closeMaster();
        if (slave_ >= 0)
            ::close(slave_);
    }
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    bool isOpen() const { return master_ >= 0; }
    QString path() const { return path_; }

    // Everything the program sent so far (collected while the event loop runs).
    QByteArray received()
    {
        char buffer[512];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            received_.append(buffer, n);
        }
        return received_;
    }
    // Waits, running the event loop, until at least count bytes have come.
    QByteArray waitFor(int count, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (received().size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 5);
        }
        return received_;
    }
    void send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
            if (n > 0)
                done += n;
        }
    }
    // The ECU goes away.
    void closeMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    QString path_;
    QByteArray received_;
};

// An ECU-to-PC frame: "H", "P", kind, eight bytes, "F".
inline QByteArray ecuFrame(int kind, std::initializer_list<int> payload)
{
    QByteArray f("HP");
    f.append(char(kind));
    for (int b : payload)
        f.append(char(b));
    f.append('F');
    return f;
}
