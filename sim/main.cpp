// velto-ecu-sim: an ECU at the far end of a pseudo-terminal.
//
// The program opens a pseudo-terminal, prints the device path of its slave side
// as the first line on stdout and then behaves as the ECU on the master side:
// it stores upload frames, answers the read request, streams live data while
// polled, and takes test commands from a control FIFO.
#include "drive.h"
#include "ecu.h"
#include "options.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace ecusim;

namespace {

double monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

std::string timestamp()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%lld.%06ld", static_cast<long long>(ts.tv_sec),
                  static_cast<long>(ts.tv_nsec / 1000));
    return buf;
}

int g_signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const unsigned char b = static_cast<unsigned char>(sig);
    const int saved = errno;
    [[maybe_unused]] ssize_t r = write(g_signalPipe[1], &b, 1);
    errno = saved;
}

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

// Writes the whole buffer to a new file beside path and renames it over path.
bool writeAtomically(const std::string &path, const Image &image, std::string &error)
{
    const std::string tmp = path + ".tmp." + std::to_string(getpid());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
            close(fd);
            unlink(tmp.c_str());
            return false;
        }
        done += std::size_t(n);
    }
    if (close(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot store " + path + ": " + std::strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

// A control line cut into words, with the checks the commands share.
struct ControlLine {
    std::string_view text; // the whole line, trimmed
    std::vector<std::string_view> words;

    // Sets target from "NAME N" with N in lo..hi; the message when not.
    std::string number(int lo, int hi, int &target) const;
    // Sets target from "NAME on" or "NAME off"; the message when neither.
    std::string onOff(bool &target) const;
};

class Simulator {
public:
    explicit Simulator(Options o) : m_opt(std::move(o)), m_engine(m_opt.engine),
        m_parser(0.1), m_random(m_opt.seed)
    {
        m_silent = m_opt.silent;
        m_fault = m_opt.fault;
        m_rate = m_opt.rate;
        m_pace = m_opt.paceMs / 1000.0;
        if (m_opt.driveAt >= 0)
            startDrive(m_opt.driveAt);
    }

    int run();

private:
    int setUp();
    bool step();
    int idleTimeMs(double now) const;
    void lookForReconnect();
    bool openPty();
    bool placeLink();
    bool openControl();
    void cleanUp();

    void log(const std::string &text);
    void readMaster();
    void readControl();
    void hangUp();
    void handleUnit(const InputParser::Unit &u, double now);
    void handleCommand(std::uint8_t cmd, double now);
    void handleControlLine(std::string_view line);
    std::string doControl(const ControlLine &line);
    std::string controlTps(const ControlLine &line);
    std::string controlRpm(const ControlLine &line);
    std::string controlTemp(const ControlLine &line);
    std::string controlAtm(const ControlLine &line);
    std::string controlLoad(const ControlLine &line);
    std::string controlSpeed(const ControlLine &line);
    std::string setOrAuto(const ControlLine &line, int hi, int &target);
    std::string controlAc(const ControlLine &line);
    std::string controlDrive(const ControlLine &line);
    std::string controlSilent(const ControlLine &line);
    std::string controlFault(const ControlLine &line);
    std::string controlGarbage(const ControlLine &line);
    std::string controlShort(const ControlLine &line);
    std::string controlDiag(const ControlLine &line);
    std::string controlDump(const ControlLine &line);
    std::string controlRate(const ControlLine &line);
    std::string controlPace(const ControlLine &line);
    std::string controlQuit(const ControlLine &line);

    struct ControlEntry {
        std::string_view name;
        std::string (Simulator::*handle)(const ControlLine &);
    };
    static const ControlEntry kControls[];

    // The drive cycle, t seconds in from the moment startDrive was called.
    void startDrive(double from);
    double driveTime() const;
    // The next live triple: from the drive or from the steady engine.
    std::array<Bytes, 3> liveTriple(double now);

    // Queues a frame (with the current fault) or raw bytes for the line.
    void sendFrame(const Bytes &frame);
    void sendRaw(const Bytes &bytes);
    void produce(double now);
    void flush();

    Options m_opt;
    Engine m_engine;
    ParameterMemory m_memory;
    InputParser m_parser;
    Counters m_counters;
    std::mt19937 m_random;

    int m_master = -1;
    int m_logFd = 2;
    int m_control = -1;
    int m_controlKeep = -1;   // our own writer, so the FIFO never reports end of file
    bool m_fifoCreated = false;
    std::string m_slavePath;
    std::string m_controlBuffer;

    bool m_connected = true;  // the slave side is open (or was never opened yet)
    double m_nextHangupCheck = 0;

    bool m_silent = false;
    Fault m_fault = Fault::None;
    int m_faultCount = -1;    // frames left with the fault, -1: until changed
    double m_rate = 4;
    double m_pace = 0.005;
    bool m_streaming = false;
    double m_nextLive = 0;
    std::deque<std::pair<double, Bytes>> m_readBack;
    Bytes m_out;
    bool m_quit = false;
    bool m_driving = false;
    double m_driveStart = 0; // monotonic time at drive second 0
};

void Simulator::log(const std::string &text)
{
    std::string line = timestamp();
    line += ' ';
    line += text;
    line += '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(m_logFd, line.data() + done, line.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        done += std::size_t(n);
    }
}

bool Simulator::openPty()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        std::fprintf(stderr, "velto-ecu-sim: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return false;
    }
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        std::fprintf(stderr, "velto-ecu-sim: ptsname: %s\n", std::strerror(errno));
        return false;
    }
    m_slavePath = name;
    // The line settings live with the slave side; set on the master they are
    // what the program finds when it opens the device: raw 38400 8N1.
    termios t{};
    if (tcgetattr(m_master, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B38400);
        cfsetospeed(&t, B38400);
        t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(m_master, TCSANOW, &t);
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    return true;
}

bool Simulator::placeLink()
{
    if (m_opt.link.empty())
        return true;
    struct stat st{};
    if (lstat(m_opt.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "velto-ecu-sim: %s exists and is not a symlink\n",
                     m_opt.link.c_str());
        return false;
    }
    const std::string tmp = m_opt.link + ".tmp." + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(m_slavePath.c_str(), tmp.c_str()) != 0
        || rename(tmp.c_str(), m_opt.link.c_str()) != 0) {
        std::fprintf(stderr, "velto-ecu-sim: cannot place %s: %s\n", m_opt.link.c_str(),
                     std::strerror(errno));
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool Simulator::openControl()
{
    if (m_opt.control.empty())
        return true;
    struct stat st{};
    if (lstat(m_opt.control.c_str(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) {
            std::fprintf(stderr, "velto-ecu-sim: %s exists and is not a FIFO\n",
                         m_opt.control.c_str());
            return false;
        }
    } else if (mkfifo(m_opt.control.c_str(), 0600) != 0) {
        std::fprintf(stderr, "velto-ecu-sim: mkfifo %s: %s\n", m_opt.control.c_str(),
                     std::strerror(errno));
        return false;
    } else {
        m_fifoCreated = true;
    }
    m_control = open(m_opt.control.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_control < 0) {
        std::fprintf(stderr, "velto-ecu-sim: cannot open %s: %s\n", m_opt.control.c_str(),
                     std::strerror(errno));
        return false;
    }
    // Holding a writer ourselves keeps the FIFO from reaching end of file between
    // two writers: closing and reopening the read side at that moment could lose
    // a line that a writer has just put in.
    m_controlKeep = open(m_opt.control.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return true;
}

void Simulator::cleanUp()
{
    if (!m_opt.dumpOnExit.empty()) {
        std::string error;
        if (!writeAtomically(m_opt.dumpOnExit, m_memory.image(), error))
            log("error " + error);
    }
    if (!m_opt.link.empty()) {
        char target[256];
        const ssize_t n = readlink(m_opt.link.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, std::size_t(n)) == m_slavePath)
            unlink(m_opt.link.c_str());
    }
    if (m_controlKeep >= 0)
        close(m_controlKeep);
    if (m_control >= 0)
        close(m_control);
    if (m_fifoCreated)
        unlink(m_opt.control.c_str());
    if (m_master >= 0)
        close(m_master);
}

void Simulator::hangUp()
{
    if (!m_connected)
        return;
    m_connected = false;
    m_streaming = false;
    m_readBack.clear();
    m_out.clear();
    m_nextHangupCheck = monotonicNow() + 0.02;
    log("hangup");
}

void Simulator::readMaster()
{
    std::uint8_t buf[4096];
    std::vector<InputParser::Unit> units;
    for (;;) {
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n > 0) {
            units.clear();
            const double now = monotonicNow();
            m_parser.feed(buf, std::size_t(n), now, units);
            for (const auto &u : units)
                handleUnit(u, now);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO)
            hangUp();
        return;
    }
}

void Simulator::handleUnit(const InputParser::Unit &u, double now)
{
    switch (u.type) {
    case InputParser::Unit::UploadFrame:
        ++m_counters.uploadFrames;
        log("frame " + hex(u.bytes));
        m_memory.storeBlock(u.bytes[0], u.bytes.data() + 1);
        break;
    case InputParser::Unit::Command:
        log("command " + hex(&u.bytes[1], 1));
        handleCommand(u.bytes[1], now);
        break;
    case InputParser::Unit::BadCommand:
        log("bad-command " + hex(u.bytes));
        break;
    case InputParser::Unit::Dropped:
        ++m_counters.dropped;
        log("dropped " + hex(u.bytes));
        break;
    case InputParser::Unit::Incomplete:
        log("incomplete " + hex(u.bytes));
        break;
    }
}

void Simulator::handleCommand(std::uint8_t cmd, double now)
{
    switch (cmd) {
    case kCmdReadRequest: {
        ++m_counters.readRequests;
        if (m_silent || !m_connected)
            break;
        double t = now;
        if (!m_readBack.empty())
            t = std::max(now, m_readBack.back().first + m_pace);
        for (int kind = kFirstReadBackKind; kind <= kLastReadBackKind; ++kind) {
            m_readBack.emplace_back(t, makeFrame(std::uint8_t(kind),
                                                 readBackPayload(m_memory.image(), kind)));
            t += m_pace;
        }
        break;
    }
    case kCmdEndOfUpload:
        if (m_memory.commit()) {
            ++m_counters.commits;
            log("commit");
        }
        break;
    case kCmdPoll:
        ++m_counters.polls;
        if (!m_streaming && m_connected) {
            m_streaming = true;
            m_nextLive = now;
        }
        break;
    case kCmdStop:
        ++m_counters.stops;
        m_streaming = false;
        break;
    default:
        break;
    }
}

void Simulator::sendFrame(const Bytes &frame)
{
    Bytes f = applyFault(frame, m_fault);
    if (m_faultCount > 0 && --m_faultCount == 0) {
        m_fault = Fault::None;
        m_faultCount = -1;
    }
    sendRaw(f);
}

void Simulator::sendRaw(const Bytes &bytes)
{
    if (!m_connected)
        return;
    if (m_opt.logSent)
        log("sent " + hex(bytes));
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
}

void Simulator::produce(double now)
{
    if (!m_connected || m_silent)
        return;
    while (!m_readBack.empty() && m_readBack.front().first <= now) {
        sendFrame(m_readBack.front().second);
        m_readBack.pop_front();
    }
    if (!m_streaming)
        return;
    if (m_rate <= 0) {
        // As fast as the line takes them: a new triple whenever the last is out.
        if (m_out.empty())
            for (const Bytes &f : liveTriple(now))
                sendFrame(f);
        return;
    }
    if (now < m_nextLive)
        return;
    // A reader that does not read holds the line up, as a real one would: no
    // triple is added while a backlog waits.
    if (m_out.size() < 1024)
        for (const Bytes &f : liveTriple(now))
            sendFrame(f);
    const double period = 1.0 / m_rate;
    m_nextLive += period;
    if (m_nextLive < now - period)
        m_nextLive = now + period;
}

void Simulator::flush()
{
    while (!m_out.empty() && m_connected) {
        const ssize_t n = write(m_master, m_out.data(), m_out.size());
        if (n > 0) {
            m_out.erase(m_out.begin(), m_out.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO)
            hangUp();
        return;
    }
}

void Simulator::readControl()
{
    char buf[1024];
    for (;;) {
        const ssize_t n = read(m_control, buf, sizeof buf);
        if (n > 0) {
            m_controlBuffer.append(buf, std::size_t(n));
            std::size_t pos;
            while ((pos = m_controlBuffer.find('\n')) != std::string::npos) {
                const std::string line = m_controlBuffer.substr(0, pos);
                m_controlBuffer.erase(0, pos + 1);
                handleControlLine(line);
                if (m_quit)
                    return;
            }
            if (m_controlBuffer.size() > 65536) {
                log("error control line too long, dropped");
                m_controlBuffer.clear();
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            // End of file: every writer has gone. Take a last unterminated line and
            // open the FIFO again for the next writer.
            if (!m_controlBuffer.empty()) {
                const std::string line = m_controlBuffer;
                m_controlBuffer.clear();
                handleControlLine(line);
            }
            close(m_control);
            m_control = open(m_opt.control.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
        return;
    }
}

void Simulator::handleControlLine(std::string_view raw)
{
    const std::string_view line = trim(raw);
    if (line.empty())
        return;
    const std::string error = doControl({line, splitWords(line)});
    if (!error.empty())
        log("error " + error);
    // Logged once the line has taken effect, so a reader of the log knows that
    // what it asked for is done.
    log("control " + std::string(line));
}

std::string ControlLine::number(int lo, int hi, int &target) const
{
    if (words.size() != 2 || !parseInt(words[1], lo, hi, target))
        return std::string(words[0]) + " needs a number from " + std::to_string(lo) + " to "
            + std::to_string(hi);
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

const Simulator::ControlEntry Simulator::kControls[] = {
    {"tps", &Simulator::controlTps},         {"rpm", &Simulator::controlRpm},
    {"temp", &Simulator::controlTemp},       {"atm", &Simulator::controlAtm},
    {"load", &Simulator::controlLoad},       {"speed", &Simulator::controlSpeed},
    {"ac", &Simulator::controlAc},           {"drive", &Simulator::controlDrive},
    {"silent", &Simulator::controlSilent},   {"fault", &Simulator::controlFault},
    {"garbage", &Simulator::controlGarbage}, {"short", &Simulator::controlShort},
    {"diag", &Simulator::controlDiag},       {"dump", &Simulator::controlDump},
    {"rate", &Simulator::controlRate},       {"pace", &Simulator::controlPace},
    {"quit", &Simulator::controlQuit},
};

std::string Simulator::doControl(const ControlLine &line)
{
    for (const ControlEntry &entry : kControls)
        if (entry.name == line.words[0])
            return (this->*entry.handle)(line);
    return "unknown command";
}

std::string Simulator::controlTps(const ControlLine &l) { return l.number(0, 1023, m_engine.tps); }
std::string Simulator::controlRpm(const ControlLine &l) { return l.number(0, 20000, m_engine.rpm); }
std::string Simulator::controlTemp(const ControlLine &l) { return l.number(-40, 150, m_engine.temp); }
std::string Simulator::controlAtm(const ControlLine &l) { return l.number(500, 1200, m_engine.atm); }
std::string Simulator::controlAc(const ControlLine &l) { return l.onOff(m_engine.ac); }

// "load N" or "load auto" (follow the TPS), and the same for the speed.
std::string Simulator::controlLoad(const ControlLine &l)
{
    return setOrAuto(l, 42, m_engine.loadOverride);
}

std::string Simulator::controlSpeed(const ControlLine &l)
{
    return setOrAuto(l, 48, m_engine.speedOverride);
}

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
        m_driving = false;
    else if (l.words.size() == 3 && l.words[1] == "at"
             && parseInt(l.words[2], 0, kMaxDriveStart, from))
        startDrive(from);
    else
        return "drive needs on, off or at SECONDS";
    return {};
}

std::string Simulator::controlSilent(const ControlLine &l)
{
    const std::string e = l.onOff(m_silent);
    if (e.empty() && m_silent) {
        m_readBack.clear();
        m_out.clear();
    }
    return e;
}

std::string Simulator::controlFault(const ControlLine &l)
{
    const auto &w = l.words;
    Fault f;
    int count = -1;
    if (w.size() < 2 || w.size() > 3 || !parseFault(w[1], f)
        || (w.size() == 3 && !parseInt(w[2], 1, 1000000, count)))
        return "fault needs none, lose-h or lose-hp and an optional count";
    m_fault = f;
    m_faultCount = f == Fault::None ? -1 : count;
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
        v = std::uint8_t(dist(m_random));
    sendRaw(b);
    return {};
}

std::string Simulator::controlShort(const ControlLine &l)
{
    if (l.words.size() != 1)
        return "short takes no argument";
    // A look at the next triple that leaves the steady engine's cycle alone.
    Engine copy = m_engine;
    const Bytes f = m_driving ? encodeLive(driveValues(m_memory.image(), driveTime()))[0]
                              : liveFrames(m_memory.image(), copy)[0];
    sendRaw(Bytes(f.begin(), f.begin() + kFrameSize / 2));
    return {};
}

std::string Simulator::controlDiag(const ControlLine &l)
{
    if (l.words.size() != 1)
        return "diag takes no argument";
    Engine engine = m_engine;
    if (m_driving) {
        const OperatingPoint p = driveState(m_memory.image(), driveTime()).point;
        engine.rpm = p.rpm;
        engine.tps = p.tps;
        engine.temp = p.temp;
        engine.atm = p.atm;
    }
    for (const Bytes &f : diagnosticFrames(m_memory.image(), engine, m_counters))
        sendFrame(f);
    return {};
}

std::string Simulator::controlDump(const ControlLine &l)
{
    // The rest of the line is the path, blanks included.
    const std::string_view path = trim(l.text.substr(4));
    if (path.empty())
        return "dump needs a path";
    std::string error;
    if (!writeAtomically(std::string(path), m_memory.image(), error))
        return error;
    return {};
}

std::string Simulator::controlRate(const ControlLine &l)
{
    double r = 0;
    if (l.words.size() != 2 || !parseRate(l.words[1], r))
        return "rate needs a positive number or max";
    m_rate = r;
    m_nextLive = monotonicNow();
    return {};
}

std::string Simulator::controlPace(const ControlLine &l)
{
    int ms = 0;
    const std::string e = l.number(0, 10000, ms);
    if (e.empty())
        m_pace = ms / 1000.0;
    return e;
}

std::string Simulator::controlQuit(const ControlLine &)
{
    m_quit = true;
    return {};
}

void Simulator::startDrive(double from)
{
    m_driving = true;
    m_driveStart = monotonicNow() - from;
}

double Simulator::driveTime() const { return monotonicNow() - m_driveStart; }

std::array<Bytes, 3> Simulator::liveTriple(double now)
{
    if (m_driving)
        return encodeLive(driveValues(m_memory.image(), now - m_driveStart));
    return liveFrames(m_memory.image(), m_engine);
}

// 0 when ready, else the exit code.
int Simulator::setUp()
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!m_opt.log.empty()) {
        m_logFd = open(m_opt.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (m_logFd < 0) {
            std::fprintf(stderr, "velto-ecu-sim: cannot open %s: %s\n", m_opt.log.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }
    if (!openPty() || !placeLink() || !openControl()) {
        cleanUp();
        return 2;
    }
    return 0;
}

int Simulator::run()
{
    if (const int failed = setUp())
        return failed;
    log("ready " + m_slavePath);
    std::printf("%s\n", m_slavePath.c_str());
    std::fflush(stdout);
    while (!m_quit && step()) {
    }
    log("exit");
    cleanUp();
    return 0;
}

// How long, in ms, nothing needs doing.
int Simulator::idleTimeMs(double now) const
{
    double wait = 1.0;
    if (m_connected && !m_silent) {
        if (!m_readBack.empty())
            wait = std::min(wait, m_readBack.front().first - now);
        if (m_streaming && m_rate > 0)
            wait = std::min(wait, m_nextLive - now);
    }
    if (m_parser.hasPartial())
        wait = std::min(wait, m_parser.partialDeadline() - now + 0.001);
    if (!m_connected)
        wait = std::min(wait, m_nextHangupCheck - now);
    if (m_streaming && m_rate <= 0 && m_connected && !m_silent && m_out.empty())
        return 0;
    return wait <= 0 ? 0 : int(wait * 1000.0 + 0.999);
}

// One round of the main loop; false once a signal or a failed poll ends it.
bool Simulator::step()
{
    const double now = monotonicNow();
    std::vector<InputParser::Unit> expired;
    m_parser.expire(now, expired);
    for (const auto &u : expired)
        handleUnit(u, now);
    produce(now);
    flush();

    pollfd fds[3];
    int n = 0;
    fds[n++] = {g_signalPipe[0], POLLIN, 0};
    int masterIdx = -1, controlIdx = -1;
    if (m_connected) {
        masterIdx = n;
        fds[n++] = {m_master, short(POLLIN | (m_out.empty() ? 0 : POLLOUT)), 0};
    }
    if (m_control >= 0) {
        controlIdx = n;
        fds[n++] = {m_control, POLLIN, 0};
    }
    const int r = poll(fds, nfds_t(n), idleTimeMs(now));
    if (r < 0 && errno != EINTR)
        return false;
    if (r > 0 && (fds[0].revents & POLLIN))
        return false;
    if (controlIdx >= 0 && (fds[controlIdx].revents & (POLLIN | POLLHUP)))
        readControl();
    if (masterIdx >= 0 && fds[masterIdx].revents) {
        // Bytes that the program wrote before it closed the device are still
        // read before the hang-up is taken.
        if (fds[masterIdx].revents & (POLLIN | POLLHUP | POLLERR))
            readMaster();
        if (fds[masterIdx].revents & (POLLHUP | POLLERR))
            hangUp();
    }
    if (!m_connected && monotonicNow() >= m_nextHangupCheck)
        lookForReconnect();
    return true;
}

// With no slave open the master reports a hang-up at once, so it is looked at
// every 20 ms instead of being polled.
void Simulator::lookForReconnect()
{
    pollfd p{m_master, POLLIN, 0};
    poll(&p, 1, 0);
    if (!(p.revents & POLLHUP)) {
        m_connected = true;
        log("connected");
    } else {
        m_nextHangupCheck = monotonicNow() + 0.02;
    }
    // Read also when the program has opened, written and closed again between
    // two looks: its commands are logged, their answers dropped.
    if (p.revents & POLLIN)
        readMaster();
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parseOptions(argc, argv, o))
        return 2;
    Simulator sim(std::move(o));
    return sim.run();
}
