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
    : opt_(std::move(o)),
      engine_(opt_.engine),
      model_(opt_.need, opt_.seed, opt_.realism),
      protocol_(log_, opt_.logSent, [this](double now) { return liveTriple(now); }),
      control_(log_),
      random_(opt_.seed)
{
    protocol_.setSilent(opt_.silent);
    protocol_.setFault(opt_.fault, -1);
    protocol_.setRate(opt_.rate, 0);
    protocol_.setPace(opt_.paceMs / 1000.0);
    // A new set in the module: the loop learns afresh on it.
    protocol_.onCommit([this] { model_.newImage(); });
    speedup_ = opt_.speedup;
    model_.setCycle(opt_.cycle);
    model_.setWarmUp(opt_.warmUp);
    if (opt_.driveAt >= 0)
        startDrive(opt_.driveAt);
}

void Simulator::cleanUp()
{
    if (!opt_.dumpOnExit.empty()) {
        std::string error;
        if (!writeAtomically(opt_.dumpOnExit, image(), error))
            log_.write("error " + error);
    }
    if (!opt_.link.empty())
        removeLink(opt_.link, pty_.slavePath());
    control_.close();
    pty_.close();
}

void Simulator::hangUp()
{
    if (!protocol_.connected())
        return;
    protocol_.disconnect();
    nextHangupCheck_ = monotonicNow() + 0.02;
    log_.write("hangup");
}

void Simulator::readMaster()
{
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = read(pty_.fd(), buf, sizeof buf);
        if (n > 0) {
            protocol_.received(buf, std::size_t(n), monotonicNow());
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
    while (!protocol_.output().empty() && protocol_.connected()) {
        const Bytes &out = protocol_.output();
        const ssize_t n = write(pty_.fd(), out.data(), out.size());
        if (n > 0) {
            protocol_.sent(std::size_t(n));
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
    driving_ = true;
    driveStart_ = monotonicNow() - from / speedup_;
}

double Simulator::driveTimeAt(double now) const { return (now - driveStart_) * speedup_; }
double Simulator::driveTime() const { return driveTimeAt(monotonicNow()); }

std::array<Bytes, 3> Simulator::liveTriple(double now)
{
    if (driving_) {
        const double t = driveTimeAt(now);
        model_.advanceTo(image(), t);
        return encodeLive(model_.values(image(), t));
    }
    return liveFrames(image(), engine_);
}

std::array<Bytes, 3> Simulator::peekTriple() const
{
    if (driving_)
        return encodeLive(model_.values(image(), driveTime()));
    Engine copy = engine_;
    return liveFrames(image(), copy);
}

Engine Simulator::diagEngine() const
{
    Engine engine = engine_;
    if (driving_) {
        const OperatingPoint p = model_.state(image(), driveTime()).point;
        engine.rpm = p.rpm;
        engine.tps = p.tps;
        engine.temp = p.temp;
        engine.atm = p.atm;
    }
    return engine;
}

void Simulator::unplug()
{
    if (!opt_.link.empty())
        removeLink(opt_.link, pty_.slavePath());
    protocol_.disconnect();
    pty_.close();
    unplugged_ = true;
    log_.write("unplugged " + pty_.slavePath());
}

void Simulator::replug()
{
    std::string error;
    bool ok = pty_.open(error);
    if (ok && !opt_.link.empty())
        ok = placeLink(opt_.link, pty_.slavePath(), error);
    if (!ok) {
        // Tried again in a second; the module stays unplugged meanwhile.
        pty_.close();
        log_.write("error " + error);
        replugAt_ = monotonicNow() + 1;
        return;
    }
    unplugged_ = false;
    replugAt_ = -1;
    // Nobody has the new device open yet: the look for the program starts now.
    nextHangupCheck_ = monotonicNow();
    log_.write("replugged " + pty_.slavePath());
    std::printf("%s\n", pty_.slavePath().c_str());
    std::fflush(stdout);
}

// 0 when ready, else the exit code.
int Simulator::setUp()
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!log_.open(opt_.log))
        return 2;
    std::string error;
    bool ok = pty_.open(error);
    if (ok && !opt_.link.empty())
        ok = placeLink(opt_.link, pty_.slavePath(), error);
    if (!ok)
        std::fprintf(stderr, "velto-ecu-sim: %s\n", error.c_str());
    if (!ok || (!opt_.control.empty() && !control_.open(opt_.control))) {
        cleanUp();
        return 2;
    }
    return 0;
}

int Simulator::run()
{
    if (const int failed = setUp())
        return failed;
    log_.write("ready " + pty_.slavePath());
    std::printf("%s\n", pty_.slavePath().c_str());
    std::fflush(stdout);
    while (!quit_ && step()) {
    }
    log_.write("exit");
    cleanUp();
    return 0;
}

// How long, in ms, nothing needs doing.
int Simulator::idleTimeMs(double now) const
{
    double wait = protocol_.idleTime(now, 1.0);
    if (unplugged_) {
        if (replugAt_ >= 0)
            wait = std::min(wait, replugAt_ - now);
    } else if (!protocol_.connected()) {
        wait = std::min(wait, nextHangupCheck_ - now);
    }
    if (protocol_.wantsLineNow())
        return 0;
    return wait <= 0 ? 0 : int(wait * 1000.0 + 0.999);
}

// One round of the main loop; false once a signal or a failed poll ends it.
bool Simulator::step()
{
    const double now = monotonicNow();
    protocol_.expire(now);
    protocol_.produce(now);
    flush();

    pollfd fds[3];
    int n = 0;
    fds[n++] = {g_signalPipe[0], POLLIN, 0};
    int masterIdx = -1, controlIdx = -1;
    if (protocol_.connected()) {
        masterIdx = n;
        fds[n++] = {pty_.fd(), short(POLLIN | (protocol_.output().empty() ? 0 : POLLOUT)), 0};
    }
    if (control_.fd() >= 0) {
        controlIdx = n;
        fds[n++] = {control_.fd(), POLLIN, 0};
    }
    const int r = poll(fds, nfds_t(n), idleTimeMs(now));
    if (r < 0 && errno != EINTR)
        return false;
    if (r > 0 && (fds[0].revents & POLLIN))
        return false;
    if (controlIdx >= 0 && (fds[controlIdx].revents & (POLLIN | POLLHUP)))
        control_.read([this](std::string_view line) { return handleControlLine(line); });
    if (masterIdx >= 0 && fds[masterIdx].revents) {
        // Bytes that the program wrote before it closed the device are still
        // read before the hang-up is taken.
        if (fds[masterIdx].revents & (POLLIN | POLLHUP | POLLERR))
            readMaster();
        if (fds[masterIdx].revents & (POLLHUP | POLLERR))
            hangUp();
    }
    if (unplugged_ && replugAt_ >= 0 && monotonicNow() >= replugAt_)
        replug();
    else if (!unplugged_ && !protocol_.connected() && monotonicNow() >= nextHangupCheck_)
        lookForReconnect();
    return true;
}

// With no slave open the master reports a hang-up at once, so it is looked at
// every 20 ms instead of being polled.
void Simulator::lookForReconnect()
{
    const short revents = pty_.look();
    if (!(revents & POLLHUP)) {
        protocol_.connect();
        log_.write("connected");
    } else {
        nextHangupCheck_ = monotonicNow() + 0.02;
    }
    // Read also when the program has opened, written and closed again between
    // two looks: its commands are logged, their answers dropped.
    if (revents & POLLIN)
        readMaster();
}

} // namespace ecusim
