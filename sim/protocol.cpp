#include "protocol.h"

#include <algorithm>

namespace ecusim {

LineProtocol::LineProtocol(const EventLog &log, bool logSent, LiveSource live)
    : m_log(log), m_logSent(logSent), m_live(std::move(live))
{
}

void LineProtocol::received(const std::uint8_t *data, std::size_t size, double now)
{
    std::vector<InputParser::Unit> units;
    m_parser.feed(data, size, now, units);
    for (const auto &u : units)
        handleUnit(u, now);
}

void LineProtocol::expire(double now)
{
    std::vector<InputParser::Unit> expired;
    m_parser.expire(now, expired);
    for (const auto &u : expired)
        handleUnit(u, now);
}

void LineProtocol::handleUnit(const InputParser::Unit &u, double now)
{
    switch (u.type) {
    case InputParser::Unit::UploadFrame:
        ++m_counters.uploadFrames;
        m_log.write("frame " + hex(u.bytes));
        m_memory.storeBlock(u.bytes[0], u.bytes.data() + 1);
        break;
    case InputParser::Unit::Command:
        m_log.write("command " + hex(&u.bytes[1], 1));
        handleCommand(u.bytes[1], now);
        break;
    case InputParser::Unit::BadCommand:
        m_log.write("bad-command " + hex(u.bytes));
        break;
    case InputParser::Unit::Dropped:
        ++m_counters.dropped;
        m_log.write("dropped " + hex(u.bytes));
        break;
    case InputParser::Unit::Incomplete:
        m_log.write("incomplete " + hex(u.bytes));
        break;
    }
}

void LineProtocol::handleCommand(std::uint8_t cmd, double now)
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
            m_log.write("commit");
            if (m_onCommit)
                m_onCommit();
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

void LineProtocol::disconnect()
{
    m_connected = false;
    m_streaming = false;
    m_readBack.clear();
    m_out.clear();
}

void LineProtocol::sendFrame(const Bytes &frame)
{
    Bytes f = applyFault(frame, m_fault);
    if (m_faultCount > 0 && --m_faultCount == 0) {
        m_fault = Fault::None;
        m_faultCount = -1;
    }
    sendRaw(f);
}

void LineProtocol::sendRaw(const Bytes &bytes)
{
    if (!m_connected)
        return;
    if (m_logSent)
        m_log.write("sent " + hex(bytes));
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
}

void LineProtocol::produce(double now)
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
            for (const Bytes &f : m_live(now))
                sendFrame(f);
        return;
    }
    if (now < m_nextLive)
        return;
    // A reader that does not read holds the line up, as a real one would: no
    // triple is added while a backlog waits.
    if (m_out.size() < 1024)
        for (const Bytes &f : m_live(now))
            sendFrame(f);
    const double period = 1.0 / m_rate;
    m_nextLive += period;
    if (m_nextLive < now - period)
        m_nextLive = now + period;
}

void LineProtocol::setSilent(bool silent)
{
    m_silent = silent;
    if (silent) {
        m_readBack.clear();
        m_out.clear();
    }
}

void LineProtocol::setFault(Fault fault, int count)
{
    m_fault = fault;
    m_faultCount = fault == Fault::None ? -1 : count;
}

void LineProtocol::setRate(double rate, double now)
{
    m_rate = rate;
    m_nextLive = now;
}

double LineProtocol::idleTime(double now, double wait) const
{
    if (m_connected && !m_silent) {
        if (!m_readBack.empty())
            wait = std::min(wait, m_readBack.front().first - now);
        if (m_streaming && m_rate > 0)
            wait = std::min(wait, m_nextLive - now);
    }
    if (m_parser.hasPartial())
        wait = std::min(wait, m_parser.partialDeadline() - now + 0.001);
    return wait;
}

bool LineProtocol::wantsLineNow() const
{
    return m_streaming && m_rate <= 0 && m_connected && !m_silent && m_out.empty();
}

} // namespace ecusim
