#include "control.h"

#include "options.h"
#include "simulator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace ecusim {

std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t')
            ++j;
        if (j > i)
            words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string ControlLine::number(int lo, int hi, int &target) const
{
    if (words.size() != 2 || !parseInt(words[1], lo, hi, target))
        return std::string(words[0]) + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi);
    return {};
}

std::string ControlLine::onOff(bool &target) const
{
    if (words.size() == 2 && words[1] == "on")
        target = true;
    else if (words.size() == 2 && words[1] == "off")
        target = false;
    else
        return std::string(words[0]) + " needs on or off";
    return {};
}

bool writeAtomically(const std::string &path, const Image &image, std::string &error)
{
    const std::string tmp = path + ".tmp." + std::to_string(getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < image.size()) {
        const ssize_t n = write(fd, image.data() + done, image.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = "cannot write " + tmp + ": " + std::strerror(errno);
            ::close(fd);
            unlink(tmp.c_str());
            return false;
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot store " + path + ": " + std::strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool ControlFifo::open(const std::string &path)
{
    path_ = path;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) {
            std::fprintf(stderr, "velto-ecu-sim: %s exists and is not a FIFO\n", path.c_str());
            return false;
        }
    } else if (mkfifo(path.c_str(), 0600) != 0) {
        std::fprintf(stderr, "velto-ecu-sim: mkfifo %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    } else {
        created_ = true;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        std::fprintf(stderr, "velto-ecu-sim: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    keep_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return true;
}

void ControlFifo::close()
{
    if (keep_ >= 0)
        ::close(keep_);
    if (fd_ >= 0)
        ::close(fd_);
    if (created_)
        unlink(path_.c_str());
    keep_ = fd_ = -1;
    created_ = false;
}

void ControlFifo::read(const std::function<bool(std::string_view)> &handle)
{
    char buf[1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            buffer_.append(buf, std::size_t(n));
            std::size_t pos;
            while ((pos = buffer_.find('\n')) != std::string::npos) {
                const std::string line = buffer_.substr(0, pos);
                buffer_.erase(0, pos + 1);
                if (!handle(line))
                    return;
            }
            if (buffer_.size() > 65536) {
                log_.write("error control line too long, dropped");
                buffer_.clear();
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            // End of file: every writer has gone. Take a last unterminated line and
            // open the FIFO again for the next writer.
            if (!buffer_.empty()) {
                const std::string line = buffer_;
                buffer_.clear();
                handle(line);
            }
            ::close(fd_);
            fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
        return;
    }
}

// The control lines the simulator takes.

const Simulator::ControlEntry Simulator::kControls[] = {
    {"tps", &Simulator::controlTps},         {"rpm", &Simulator::controlRpm},
    {"temp", &Simulator::controlTemp},       {"atm", &Simulator::controlAtm},
    {"load", &Simulator::controlLoad},       {"speed", &Simulator::controlSpeed},
    {"ac", &Simulator::controlAc},           {"drive", &Simulator::controlDrive},
    {"silent", &Simulator::controlSilent},   {"fault", &Simulator::controlFault},
    {"garbage", &Simulator::controlGarbage}, {"short", &Simulator::controlShort},
    {"diag", &Simulator::controlDiag},       {"dump", &Simulator::controlDump},
    {"rate", &Simulator::controlRate},       {"pace", &Simulator::controlPace},
    {"quit", &Simulator::controlQuit},       {"unplug", &Simulator::controlUnplug},
    {"replug", &Simulator::controlReplug},   {"cycle", &Simulator::controlCycle},
};

bool Simulator::handleControlLine(std::string_view raw)
{
    const std::string_view line = trim(raw);
    if (line.empty())
        return true;
    const std::string error = doControl({line, splitWords(line)});
    if (!error.empty())
        log_.write("error " + error);
    // Logged once the line has taken effect, so a reader of the log knows that
    // what it asked for is done.
    log_.write("control " + std::string(line));
    return !quit_;
}

std::string Simulator::doControl(const ControlLine &line)
{
    for (const ControlEntry &entry : kControls)
        if (entry.name == line.words[0])
            return (this->*entry.handle)(line);
    return "unknown command";
}

std::string Simulator::controlTps(const ControlLine &l) { return l.number(0, 1023, engine_.tps); }
std::string Simulator::controlRpm(const ControlLine &l) { return l.number(0, 20000, engine_.rpm); }
std::string Simulator::controlTemp(const ControlLine &l) { return l.number(-40, 150, engine_.temp); }
std::string Simulator::controlAtm(const ControlLine &l) { return l.number(500, 1200, engine_.atm); }
std::string Simulator::controlAc(const ControlLine &l) { return l.onOff(engine_.ac); }

// "load N" or "load auto" (follow the TPS), and the same for the speed.
std::string Simulator::controlLoad(const ControlLine &l) { return setOrAuto(l, 42, engine_.loadOverride); }

std::string Simulator::controlSpeed(const ControlLine &l) { return setOrAuto(l, 48, engine_.speedOverride); }

std::string Simulator::setOrAuto(const ControlLine &l, int hi, int &target)
{
    if (l.words.size() == 2 && l.words[1] == "auto") {
        target = -1;
        return {};
    }
    return l.number(0, hi, target);
}

std::string Simulator::controlDrive(const ControlLine &l)
{
    int from = 0;
    if (l.words.size() == 2 && l.words[1] == "on")
        startDrive(0);
    else if (l.words.size() == 2 && l.words[1] == "off")
        driving_ = false;
    else if (l.words.size() == 3 && l.words[1] == "at" && parseInt(l.words[2], 0, kMaxDriveStart, from))
        startDrive(from);
    else
        return "drive needs on, off or at SECONDS";
    return {};
}

// The drive's clock runs on: the other cycle takes over at the same second.
std::string Simulator::controlCycle(const ControlLine &l)
{
    DriveCycle cycle = DriveCycle::Free;
    if (l.words.size() != 2 || !parseCycle(l.words[1], cycle))
        return "cycle needs free or points";
    model_.setCycle(cycle);
    return {};
}

std::string Simulator::controlSilent(const ControlLine &l)
{
    bool silent = protocol_.silent();
    const std::string e = l.onOff(silent);
    if (e.empty())
        protocol_.setSilent(silent);
    return e;
}

std::string Simulator::controlFault(const ControlLine &l)
{
    const auto &w = l.words;
    Fault f;
    int count = -1;
    if (w.size() < 2 || w.size() > 3 || !parseFault(w[1], f) || (w.size() == 3 && !parseInt(w[2], 1, 1000000, count)))
        return "fault needs none, lose-h or lose-hp and an optional count";
    protocol_.setFault(f, count);
    return {};
}

std::string Simulator::controlGarbage(const ControlLine &l)
{
    int n = 0;
    if (l.words.size() != 2 || !parseInt(l.words[1], 1, 65536, n))
        return "garbage needs a count from 1 to 65536";
    Bytes b(static_cast<std::size_t>(n));
    std::uniform_int_distribution<int> dist(0, 255);
    for (auto &v : b)
        v = std::uint8_t(dist(random_));
    protocol_.sendRaw(b);
    return {};
}

std::string Simulator::controlShort(const ControlLine &l)
{
    if (l.words.size() != 1)
        return "short takes no argument";
    const Bytes f = peekTriple()[0];
    protocol_.sendRaw(Bytes(f.begin(), f.begin() + kFrameSize / 2));
    return {};
}

std::string Simulator::controlDiag(const ControlLine &l)
{
    if (l.words.size() != 1)
        return "diag takes no argument";
    for (const Bytes &f : diagnosticFrames(image(), diagEngine(), protocol_.counters()))
        protocol_.sendFrame(f);
    return {};
}

std::string Simulator::controlDump(const ControlLine &l)
{
    // The rest of the line is the path, blanks included.
    const std::string_view path = trim(l.text.substr(4));
    if (path.empty())
        return "dump needs a path";
    std::string error;
    if (!writeAtomically(std::string(path), image(), error))
        return error;
    return {};
}

std::string Simulator::controlRate(const ControlLine &l)
{
    double r = 0;
    if (l.words.size() != 2 || !parseRate(l.words[1], r))
        return "rate needs a positive number or max";
    protocol_.setRate(r, monotonicNow());
    return {};
}

std::string Simulator::controlPace(const ControlLine &l)
{
    int ms = 0;
    const std::string e = l.number(0, 10000, ms);
    if (e.empty())
        protocol_.setPace(ms / 1000.0);
    return e;
}

std::string Simulator::controlQuit(const ControlLine &)
{
    quit_ = true;
    return {};
}

} // namespace ecusim

namespace ecusim {

// "unplug" stays away until "replug"; "unplug S" comes back after S seconds.
// Unplugged already, it only sets when the line returns.
std::string Simulator::controlUnplug(const ControlLine &l)
{
    double seconds = -1;
    if (l.words.size() > 2 || (l.words.size() == 2 && !parseSeconds(l.words[1], seconds)))
        return "unplug needs no argument or seconds from 0 to 3600";
    if (!unplugged_)
        unplug();
    replugAt_ = seconds < 0 ? -1 : monotonicNow() + seconds;
    return {};
}

std::string Simulator::controlReplug(const ControlLine &l)
{
    if (l.words.size() != 1)
        return "replug takes no argument";
    if (!unplugged_)
        return "replug needs an unplugged line";
    replug();
    return {};
}

} // namespace ecusim
