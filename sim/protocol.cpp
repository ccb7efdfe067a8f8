#include "protocol.h"

#include <algorithm>

namespace ecusim {

LineProtocol::LineProtocol(const EventLog &log, bool logSent, LiveSource live)
    : log_(log),
      logSent_(logSent),
      live_(std::move(live))
{
}

void LineProtocol::received(const std::uint8_t *data, std::size_t size, double now)
{
    std::vector<InputParser::Unit> units;
    parser_.feed(data, size, now, units);
    for (const auto &u : units)
        handleUnit(u, now);
}

void LineProtocol::expire(double now)
{
    std::vector<InputParser::Unit> expired;
    parser_.expire(now, expired);
    for (const auto &u : expired)
        handleUnit(u, now);
}

void LineProtocol::handleUnit(const InputParser::Unit &u, double now)
{
    switch (u.type) {
    case InputParser::Unit::UploadFrame:
        ++counters_.uploadFrames;
        log_.write("frame " + hex(u.bytes));
        memory_.storeBlock(u.bytes[0], u.bytes.data() + 1);
        break;
    case InputParser::Unit::Command:
        log_.write("command " + hex(&u.bytes[1], 1));
        handleCommand(u.bytes[1], now);
        break;
    case InputParser::Unit::BadCommand: log_.write("bad-command " + hex(u.bytes)); break;
    case InputParser::Unit::Dropped:
        ++counters_.dropped;
        log_.write("dropped " + hex(u.bytes));
        break;
    case InputParser::Unit::Incomplete: log_.write("incomplete " + hex(u.bytes)); break;
    }
}

void LineProtocol::handleCommand(std::uint8_t cmd, double now)
{
    switch (cmd) {
    case kCmdReadRequest: {
        ++counters_.readRequests;
        if (silent_ || !connected_)
            break;
        double t = now;
        if (!readBack_.empty())
            t = std::max(now, readBack_.back().first + pace_);
        for (int kind = kFirstReadBackKind; kind <= kLastReadBackKind; ++kind) {
            readBack_.emplace_back(t, makeFrame(std::uint8_t(kind), readBackPayload(memory_.image(), kind)));
            t += pace_;
        }
        break;
    }
    case kCmdEndOfUpload:
        if (memory_.commit()) {
            ++counters_.commits;
            log_.write("commit");
            if (onCommit_)
                onCommit_();
        }
        break;
    case kCmdPoll:
        ++counters_.polls;
        if (!streaming_ && connected_) {
            streaming_ = true;
            nextLive_ = now;
        }
        break;
    case kCmdStop:
        ++counters_.stops;
        streaming_ = false;
        break;
    default: break;
    }
}

void LineProtocol::disconnect()
{
    connected_ = false;
    streaming_ = false;
    readBack_.clear();
    out_.clear();
}

void LineProtocol::sendFrame(const Bytes &frame)
{
    Bytes f = applyFault(frame, fault_);
    if (faultCount_ > 0 && --faultCount_ == 0) {
        fault_ = Fault::None;
        faultCount_ = -1;
    }
    sendRaw(f);
}

void LineProtocol::sendRaw(const Bytes &bytes)
{
    if (!connected_)
        return;
    if (logSent_)
        log_.write("sent " + hex(bytes));
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void LineProtocol::produce(double now)
{
    if (!connected_ || silent_)
        return;
    while (!readBack_.empty() && readBack_.front().first <= now) {
        sendFrame(readBack_.front().second);
        readBack_.pop_front();
    }
    if (!streaming_)
        return;
    if (rate_ <= 0) {
        // As fast as the line takes them: a new triple whenever the last is out.
        if (out_.empty())
            for (const Bytes &f : live_(now))
                sendFrame(f);
        return;
    }
    if (now < nextLive_)
        return;
    // A reader that does not read holds the line up, as a real one would: no
    // triple is added while a backlog waits.
    if (out_.size() < 1024)
        for (const Bytes &f : live_(now))
            sendFrame(f);
    const double period = 1.0 / rate_;
    nextLive_ += period;
    if (nextLive_ < now - period)
        nextLive_ = now + period;
}

void LineProtocol::setSilent(bool silent)
{
    silent_ = silent;
    if (silent) {
        readBack_.clear();
        out_.clear();
    }
}

void LineProtocol::setFault(Fault fault, int count)
{
    fault_ = fault;
    faultCount_ = fault == Fault::None ? -1 : count;
}

void LineProtocol::setRate(double rate, double now)
{
    rate_ = rate;
    nextLive_ = now;
}

double LineProtocol::idleTime(double now, double wait) const
{
    if (connected_ && !silent_) {
        if (!readBack_.empty())
            wait = std::min(wait, readBack_.front().first - now);
        if (streaming_ && rate_ > 0)
            wait = std::min(wait, nextLive_ - now);
    }
    if (parser_.hasPartial())
        wait = std::min(wait, parser_.partialDeadline() - now + 0.001);
    return wait;
}

bool LineProtocol::wantsLineNow() const { return streaming_ && rate_ <= 0 && connected_ && !silent_ && out_.empty(); }

} // namespace ecusim
