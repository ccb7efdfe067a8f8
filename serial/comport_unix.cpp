// Unix backend of the serial port component: every termios, ioctl, poll and flock
// call of the component is here.
#include "serial/comport_backend.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct BaudEntry {
    int baud;
    speed_t speed;
};

constexpr BaudEntry baudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool speedFor(int baud, speed_t *speed)
{
    for (const BaudEntry &e : baudTable) {
        if (e.baud == baud) {
            *speed = e.speed;
            return true;
        }
    }
    return false;
}

// Milliseconds left from now until a deadline, rounded up so that poll() does not
// wake just before it; 0 when it has passed.
int msLeft(Clock::time_point deadline, Clock::time_point now)
{
    const auto left = deadline - now;
    if (left <= Clock::duration::zero())
        return 0;
    return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// The sooner of two optional deadlines as a poll() time-out (-1: none).
int pollTimeout(bool hasA, Clock::time_point a, bool hasB, Clock::time_point b, Clock::time_point now = Clock::now())
{
    if (hasA && hasB)
        return msLeft(std::min(a, b), now);
    if (hasA)
        return msLeft(a, now);
    if (hasB)
        return msLeft(b, now);
    return -1;
}

class MonotonicReadClock : public ComReadClock {
public:
    Time now() override { return Clock::now(); }
    int waitReadable(int fd, int timeoutMs, short *revents) override
    {
        pollfd p{fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, timeoutMs);
        *revents = p.revents;
        return rc;
    }
};

// flock keeps out every other opener, root included; TIOCEXCL keeps out
// openers that do not use flock (except root). A device already marked
// exclusive belongs to someone else even when root could get past the mark.
int takeExclusive(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno;
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0)
        return errno;
    if (exclusive)
        return EBUSY;
    if (::ioctl(fd, TIOCEXCL) != 0)
        return errno;
    return 0;
}

int frameFlags(const ComLineSettings &s, tcflag_t *cflag, tcflag_t *iflag)
{
    switch (s.dataBits) {
    case 5: *cflag |= CS5; break;
    case 6: *cflag |= CS6; break;
    case 7: *cflag |= CS7; break;
    case 8: *cflag |= CS8; break;
    default: return EINVAL;
    }
    switch (s.parity.bits) {
    case TParityBits::None: break;
    case TParityBits::Odd: *cflag |= PARENB | PARODD; break;
    case TParityBits::Even: *cflag |= PARENB; break;
    case TParityBits::Mark: *cflag |= PARENB | PARODD | CMSPAR; break;
    case TParityBits::Space: *cflag |= PARENB | CMSPAR; break;
    }
    // With INPCK and without IGNPAR/PARMRK a byte with a parity error is read as
    // 0; no other replacement character is possible.
    if (s.parity.replace && s.parity.replaceChar != 0)
        return EINVAL;
    if (s.parity.check)
        *iflag |= INPCK;
    switch (s.stopBits) {
    case TStopBits::One: break;
    case TStopBits::Two: *cflag |= CSTOPB; break;
    case TStopBits::OnePointFive: // CSTOPB means 1.5 stop bits with 5 data bits
        if (s.dataBits != 5)
            return EINVAL;
        *cflag |= CSTOPB;
        break;
    }
    return 0;
}

int flowFlags(const TComFlowControl &f, termios *t)
{
    if (f.outDsrFlow || f.dsrSensitivity || f.controlDtr == TDtrControl::Handshake ||
        f.controlRts == TRtsControl::Toggle)
        return EINVAL;
    if (f.outCtsFlow || f.controlRts == TRtsControl::Handshake)
        t->c_cflag |= CRTSCTS;
    if (f.xonXoffOut)
        t->c_iflag |= IXON;
    if (f.xonXoffIn)
        t->c_iflag |= IXOFF;
    t->c_cc[VSTART] = cc_t(f.xonChar);
    t->c_cc[VSTOP] = cc_t(f.xoffChar);
    return 0;
}

// A pseudo-terminal has no modem lines: those ioctls give ENOTTY there.
int modemLine(int fd, unsigned long request, int line)
{
    if (::ioctl(fd, request, &line) != 0 && errno != ENOTTY)
        return errno;
    return 0;
}

int setModemLines(int fd, const TComFlowControl &f)
{
    if (f.controlDtr != TDtrControl::Handshake) {
        const int err = modemLine(fd, f.controlDtr == TDtrControl::Enable ? TIOCMBIS : TIOCMBIC, TIOCM_DTR);
        if (err)
            return err;
    }
    if (f.controlRts == TRtsControl::Enable || f.controlRts == TRtsControl::Disable) {
        const int err = modemLine(fd, f.controlRts == TRtsControl::Enable ? TIOCMBIS : TIOCMBIC, TIOCM_RTS);
        if (err)
            return err;
    }
    return 0;
}

// tcsetattr succeeds when any part of the change took effect: check the parts
// that matter for the line.
bool settingsTookEffect(int fd, const termios &wanted)
{
    termios now{};
    if (::tcgetattr(fd, &now) != 0)
        return false;
    const tcflag_t frame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    return (now.c_cflag & frame) == (wanted.c_cflag & frame) && cfgetispeed(&now) == cfgetispeed(&wanted) &&
           cfgetospeed(&now) == cfgetospeed(&wanted);
}

} // namespace

struct ComDevice::Saved {
    termios settings{};
    bool changed = false; // only then is there something to restore
};

ComDevice::ComDevice() = default;

ComDevice::~ComDevice() { close(); }

int ComDevice::open(const QByteArray &path)
{
    if (fd_ >= 0)
        return EBUSY;
    // The lock file first: a device another program announced is not even opened
    // (every open raises DTR and RTS).
    if (int err = lockFile_.acquire(QFile::decodeName(path)))
        return err;
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        lockFile_.release();
        return err;
    }
    int err = takeExclusive(fd);
    auto saved = std::make_unique<Saved>();
    if (!err && ::tcgetattr(fd, &saved->settings) != 0) {
        err = errno;
        ::ioctl(fd, TIOCNXCL);
    }
    if (err) {
        ::close(fd); // also drops the flock, if taken
        lockFile_.release();
        return err;
    }
    fd_ = fd;
    saved_ = std::move(saved);
    return 0;
}

void ComDevice::close()
{
    if (fd_ < 0)
        return;
    // TCSADRAIN: the last bytes written leave at the speed they were written
    // with. A device that has gone away refuses at once.
    if (saved_->changed)
        ::tcsetattr(fd_, TCSADRAIN, &saved_->settings);
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    saved_.reset();
    lockFile_.release();
}

int ComDevice::applyLineSettings(const ComLineSettings &s)
{
    if (fd_ < 0)
        return EBADF;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        return errno;
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_iflag &= ~(INPCK | IGNPAR | IXON | IXOFF | IXANY);
    speed_t speed = B0;
    if (!speedFor(s.baudRate, &speed))
        return EINVAL;
    if (int err = frameFlags(s, &t.c_cflag, &t.c_iflag))
        return err;
    if (int err = flowFlags(s.flow, &t))
        return err;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0)
        return errno;
    saved_->changed = true;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0)
        return errno;
    if (!settingsTookEffect(fd_, t))
        return EINVAL;
    return setModemLines(fd_, s.flow);
}

int ComDevice::checkModemStatus()
{
    if (fd_ < 0)
        return EBADF;
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0 && errno != ENOTTY)
        return errno;
    return 0;
}

int ComDevice::pendingCount(int *count) const
{
    if (fd_ < 0)
        return EBADF;
    return comPendingCount(fd_, count);
}

void ComDevice::discardInput()
{
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

int ComDevice::write(const char *data, qsizetype length, int totalMs, qsizetype *written)
{
    *written = 0;
    if (fd_ < 0)
        return EBADF;
    const bool bounded = totalMs > 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    while (*written < length) {
        const ssize_t n = ::write(fd_, data + *written, size_t(length - *written));
        if (n > 0) {
            *written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        // No room now: wait until the device takes more.
        const int timeout = pollTimeout(bounded, deadline, false, deadline);
        if (bounded && timeout == 0)
            return 0;
        pollfd p{fd_, POLLOUT, 0};
        const int rc = ::poll(&p, 1, timeout);
        if (rc < 0 && errno != EINTR)
            return errno;
        if (rc > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return EIO;
    }
    return 0;
}

int ComDevice::read(char *data, qsizetype length, ComReadLimits limits, qsizetype *received, ComReadClock &clock)
{
    *received = 0;
    if (fd_ < 0)
        return EBADF;
    const bool idleLimited = limits.idleMs >= 0;
    const bool totalLimited = limits.totalMs >= 0;
    const auto start = clock.now();
    auto idleDeadline = start + std::chrono::milliseconds(idleLimited ? limits.idleMs : 0);
    const auto totalDeadline = start + std::chrono::milliseconds(totalLimited ? limits.totalMs : 0);
    const auto gone = [&] { return *received > 0 ? 0 : EIO; };
    bool readable = false;
    while (*received < length) {
        const ssize_t n = ::read(fd_, data + *received, size_t(length - *received));
        if (n > 0) {
            *received += n;
            readable = false;
            idleDeadline = clock.now() + std::chrono::milliseconds(idleLimited ? limits.idleMs : 0);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return *received > 0 ? 0 : errno;
        // A read of 0 right after poll() said "readable" means the device is gone.
        if (n == 0 && readable)
            return gone();
        const int timeout = pollTimeout(idleLimited, idleDeadline, totalLimited, totalDeadline, clock.now());
        if (timeout == 0)
            break;
        short revents = 0;
        const int rc = clock.waitReadable(fd_, timeout, &revents);
        if (rc < 0 && errno != EINTR)
            return *received > 0 ? 0 : errno;
        if (rc <= 0)
            continue;
        if (revents & POLLIN)
            readable = true;
        else if (revents & (POLLERR | POLLHUP | POLLNVAL))
            return gone();
    }
    return 0;
}

ComReadClock &ComReadClock::monotonic()
{
    static MonotonicReadClock clock;
    return clock;
}

int comPendingCount(int fd, int *count)
{
    *count = 0;
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) != 0)
        return errno;
    *count = n;
    return 0;
}

ComWaiter::~ComWaiter()
{
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

int ComWaiter::create()
{
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return wakeFd_ < 0 ? errno : 0;
}

void ComWaiter::wake() { ::eventfd_write(wakeFd_, 1); }

ComWaiter::Event ComWaiter::wait(int fd, int timeoutMs, int *osError)
{
    pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
    const int rc = ::poll(p, fd >= 0 ? 2 : 1, timeoutMs);
    if (rc < 0) {
        if (errno == EINTR)
            return Event::Woken;
        *osError = errno;
        return Event::Failed;
    }
    if (rc == 0)
        return Event::Timeout;
    if (p[0].revents & POLLIN) {
        eventfd_t value = 0;
        ::eventfd_read(wakeFd_, &value);
        return Event::Woken;
    }
    if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        *osError = EIO;
        return Event::Gone;
    }
    if (p[1].revents & POLLIN)
        return Event::Readable;
    return Event::Woken;
}
