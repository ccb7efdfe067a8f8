#include "simulator.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace ecusim {

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const unsigned char b = static_cast<unsigned char>(sig);
    const int saved = errno;
    [[maybe_unused]] ssize_t r = write(g_signalPipe[1], &b, 1);
    errno = saved;
}

} // namespace

Simulator::Simulator(Options o)
    : m_opt(std::move(o)), m_engine(m_opt.engine), m_model(m_opt.need, m_opt.seed, m_opt.realism),
      m_protocol(m_log, m_opt.logSent, [this](double now) { return liveTriple(now); }),
      m_control(m_log), m_random(m_opt.seed)
{
    m_protocol.setSilent(m_opt.silent);
    m_protocol.setFault(m_opt.fault, -1);
    m_protocol.setRate(m_opt.rate, 0);
    m_protocol.setPace(m_opt.paceMs / 1000.0);
    // A new set in the module: the loop learns afresh on it.
    m_protocol.onCommit([this] { m_model.newImage(); });
    m_speedup = m_opt.speedup;
    m_model.setCycle(m_opt.cycle);
    m_model.setWarmUp(m_opt.warmUp);
    if (m_opt.driveAt >= 0)
        startDrive(m_opt.driveAt);
}

void Simulator::cleanUp()
{
    if (!m_opt.dumpOnExit.empty()) {
        std::string error;
        if (!writeAtomically(m_opt.dumpOnExit, image(), error))
            m_log.write("error " + error);
    }
    if (!m_opt.link.empty())
        removeLink(m_opt.link, m_pty.slavePath());
    m_control.close();
    m_pty.close();
}

void Simulator::hangUp()
{
    if (!m_protocol.connected())
        return;
    m_protocol.disconnect();
    m_nextHangupCheck = monotonicNow() + 0.02;
    m_log.write("hangup");
}

void Simulator::readMaster()
{
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = read(m_pty.fd(), buf, sizeof buf);
        if (n > 0) {
            m_protocol.received(buf, std::size_t(n), monotonicNow());
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO)
            hangUp();
        return;
    }
}

void Simulator::flush()
{
    while (!m_protocol.output().empty() && m_protocol.connected()) {
        const Bytes &out = m_protocol.output();
        const ssize_t n = write(m_pty.fd(), out.data(), out.size());
        if (n > 0) {
            m_protocol.sent(std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO)
            hangUp();
        return;
    }
}

void Simulator::startDrive(double from)
{
    m_driving = true;
    m_driveStart = monotonicNow() - from / m_speedup;
}

double Simulator::driveTimeAt(double now) const { return (now - m_driveStart) * m_speedup; }
double Simulator::driveTime() const { return driveTimeAt(monotonicNow()); }

std::array<Bytes, 3> Simulator::liveTriple(double now)
{
    if (m_driving) {
        const double t = driveTimeAt(now);
        m_model.advanceTo(image(), t);
        return encodeLive(m_model.values(image(), t));
    }
    return liveFrames(image(), m_engine);
}

std::array<Bytes, 3> Simulator::peekTriple() const
{
    if (m_driving)
        return encodeLive(m_model.values(image(), driveTime()));
    Engine copy = m_engine;
    return liveFrames(image(), copy);
}

Engine Simulator::diagEngine() const
{
    Engine engine = m_engine;
    if (m_driving) {
        const OperatingPoint p = m_model.state(image(), driveTime()).point;
        engine.rpm = p.rpm;
        engine.tps = p.tps;
        engine.temp = p.temp;
        engine.atm = p.atm;
    }
    return engine;
}

void Simulator::unplug()
{
    if (!m_opt.link.empty())
        removeLink(m_opt.link, m_pty.slavePath());
    m_protocol.disconnect();
    m_pty.close();
    m_unplugged = true;
    m_log.write("unplugged " + m_pty.slavePath());
}

void Simulator::replug()
{
    std::string error;
    bool ok = m_pty.open(error);
    if (ok && !m_opt.link.empty())
        ok = placeLink(m_opt.link, m_pty.slavePath(), error);
    if (!ok) {
        // Tried again in a second; the module stays unplugged meanwhile.
        m_pty.close();
        m_log.write("error " + error);
        m_replugAt = monotonicNow() + 1;
        return;
    }
    m_unplugged = false;
    m_replugAt = -1;
    // Nobody has the new device open yet: the look for the program starts now.
    m_nextHangupCheck = monotonicNow();
    m_log.write("replugged " + m_pty.slavePath());
    std::printf("%s\n", m_pty.slavePath().c_str());
    std::fflush(stdout);
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

    if (!m_log.open(m_opt.log))
        return 2;
    std::string error;
    bool ok = m_pty.open(error);
    if (ok && !m_opt.link.empty())
        ok = placeLink(m_opt.link, m_pty.slavePath(), error);
    if (!ok)
        std::fprintf(stderr, "velto-ecu-sim: %s\n", error.c_str());
    if (!ok || (!m_opt.control.empty() && !m_control.open(m_opt.control))) {
        cleanUp();
        return 2;
    }
    return 0;
}

int Simulator::run()
{
    if (const int failed = setUp())
        return failed;
    m_log.write("ready " + m_pty.slavePath());
    std::printf("%s\n", m_pty.slavePath().c_str());
    std::fflush(stdout);
    while (!m_quit && step()) {
    }
    m_log.write("exit");
    cleanUp();
    return 0;
}

// How long, in ms, nothing needs doing.
int Simulator::idleTimeMs(double now) const
{
    double wait = m_protocol.idleTime(now, 1.0);
    if (m_unplugged) {
        if (m_replugAt >= 0)
            wait = std::min(wait, m_replugAt - now);
    } else if (!m_protocol.connected()) {
        wait = std::min(wait, m_nextHangupCheck - now);
    }
    if (m_protocol.wantsLineNow())
        return 0;
    return wait <= 0 ? 0 : int(wait * 1000.0 + 0.999);
}

// One round of the main loop; false once a signal or a failed poll ends it.
bool Simulator::step()
{
    const double now = monotonicNow();
    m_protocol.expire(now);
    m_protocol.produce(now);
    flush();

    pollfd fds[3];
    int n = 0;
    fds[n++] = {g_signalPipe[0], POLLIN, 0};
    int masterIdx = -1, controlIdx = -1;
    if (m_protocol.connected()) {
        masterIdx = n;
        fds[n++] = {m_pty.fd(), short(POLLIN | (m_protocol.output().empty() ? 0 : POLLOUT)), 0};
    }
    if (m_control.fd() >= 0) {
        controlIdx = n;
        fds[n++] = {m_control.fd(), POLLIN, 0};
    }
    const int r = poll(fds, nfds_t(n), idleTimeMs(now));
    if (r < 0 && errno != EINTR)
        return false;
    if (r > 0 && (fds[0].revents & POLLIN))
        return false;
    if (controlIdx >= 0 && (fds[controlIdx].revents & (POLLIN | POLLHUP)))
        m_control.read([this](std::string_view line) { return handleControlLine(line); });
    if (masterIdx >= 0 && fds[masterIdx].revents) {
        // Bytes that the program wrote before it closed the device are still
        // read before the hang-up is taken.
        if (fds[masterIdx].revents & (POLLIN | POLLHUP | POLLERR))
            readMaster();
        if (fds[masterIdx].revents & (POLLHUP | POLLERR))
            hangUp();
    }
    if (m_unplugged && m_replugAt >= 0 && monotonicNow() >= m_replugAt)
        replug();
    else if (!m_unplugged && !m_protocol.connected() && monotonicNow() >= m_nextHangupCheck)
        lookForReconnect();
    return true;
}

// With no slave open the master reports a hang-up at once, so it is looked at
// every 20 ms instead of being polled.
void Simulator::lookForReconnect()
{
    const short revents = m_pty.look();
    if (!(revents & POLLHUP)) {
        m_protocol.connect();
        m_log.write("connected");
    } else {
        m_nextHangupCheck = monotonicNow() + 0.02;
    }
    // Read also when the program has opened, written and closed again between
    // two looks: its commands are logged, their answers dropped.
    if (revents & POLLIN)
        readMaster();
}

} // namespace ecusim
