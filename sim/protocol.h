#pragma once
// The ECU's side of the line protocol: it cuts the program's bytes into upload
// frames and commands, keeps the parameter memory, answers the read request
// frame by frame and streams the live triples while polled. It owns no
// descriptor: the simulator feeds it what it read and writes what it queued.
#include "ecu.h"
#include "eventlog.h"

#include <array>
#include <deque>
#include <functional>
#include <utility>

namespace ecusim {

class LineProtocol {
public:
    // The next live triple at a moment (from the steady engine or the drive).
    using LiveSource = std::function<std::array<Bytes, 3>(double now)>;

    LineProtocol(const EventLog &log, bool logSent, LiveSource live);

    const ParameterMemory &memory() const { return memory_; }
    const Counters &counters() const { return counters_; }
    // Called after every end-of-upload command that took a new image over.
    void onCommit(std::function<void()> f) { onCommit_ = std::move(f); }

    // The program's bytes, as read.
    void received(const std::uint8_t *data, std::size_t size, double now);
    // Discards a frame or command whose bytes stopped coming.
    void expire(double now);
    // Queues the read-back frames and live triples that are due.
    void produce(double now);
    // Bytes waiting for the line; sent(n) once n of them went out.
    const Bytes &output() const { return out_; }
    void sent(std::size_t n) { out_.erase(out_.begin(), out_.begin() + std::ptrdiff_t(n)); }

    // The program closed the device: the stream, the read-back and the queued
    // bytes end with it. Opened again, the ECU answers afresh.
    void disconnect();
    void connect() { connected_ = true; }
    bool connected() const { return connected_; }

    // Queues a frame (with the current fault) or raw bytes for the line.
    void sendFrame(const Bytes &frame);
    void sendRaw(const Bytes &bytes);

    bool silent() const { return silent_; }
    void setSilent(bool silent);
    void setFault(Fault fault, int count);
    void setRate(double rate, double now);
    void setPace(double seconds) { pace_ = seconds; }

    // Seconds until something is due (at most wait).
    double idleTime(double now, double wait) const;
    // True while a stream at the line's pace waits for the line to take more.
    bool wantsLineNow() const;

private:
    void handleUnit(const InputParser::Unit &u, double now);
    void handleCommand(std::uint8_t cmd, double now);

    const EventLog &log_;
    bool logSent_;
    LiveSource live_;
    std::function<void()> onCommit_;
    ParameterMemory memory_;
    InputParser parser_{0.1};
    Counters counters_;

    bool connected_ = true; // the slave side is open (or was never opened yet)
    bool silent_ = false;
    Fault fault_ = Fault::None;
    int faultCount_ = -1; // frames left with the fault, -1: until changed
    double rate_ = 4;
    double pace_ = 0.005;
    bool streaming_ = false;
    double nextLive_ = 0;
    std::deque<std::pair<double, Bytes>> readBack_;
    Bytes out_;
};

} // namespace ecusim
