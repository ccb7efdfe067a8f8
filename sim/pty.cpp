#include "pty.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace ecusim {

bool PtyMaster::open(std::string &error)
{
    close();
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    char name[128];
    if (ptsname_r(fd_, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        close();
        return false;
    }
    slavePath_ = name;
    // The line settings live with the slave side; set on the master they are
    // what the program finds when it opens the device: raw 38400 8N1.
    termios t{};
    if (tcgetattr(fd_, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B38400);
        cfsetospeed(&t, B38400);
        t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd_, TCSANOW, &t);
    }
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    fcntl(fd_, F_SETFD, FD_CLOEXEC);
    return true;
}

void PtyMaster::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

short PtyMaster::look() const
{
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, 0);
    return p.revents;
}

bool placeLink(const std::string &link, const std::string &target, std::string &error)
{
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symlink";
        return false;
    }
    const std::string tmp = link + ".tmp." + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
        error = "cannot place " + link + ": " + std::strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string &link, const std::string &target)
{
    char buf[256];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n >= 0 && std::string(buf, std::size_t(n)) == target)
        unlink(link.c_str());
}

} // namespace ecusim
