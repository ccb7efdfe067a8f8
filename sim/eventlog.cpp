#include "eventlog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace ecusim {

double monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

namespace {
std::string timestamp()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%lld.%06ld", static_cast<long long>(ts.tv_sec),
                  static_cast<long>(ts.tv_nsec / 1000));
    return buf;
}
} // namespace

bool EventLog::open(const std::string &path)
{
    if (path.empty())
        return true;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        std::fprintf(stderr, "velto-ecu-sim: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void EventLog::close()
{
    if (fd_ > 2)
        ::close(fd_);
    fd_ = 2;
}

void EventLog::write(const std::string &text) const
{
    std::string line = timestamp();
    line += ' ';
    line += text;
    line += '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        done += std::size_t(n);
    }
}

} // namespace ecusim
