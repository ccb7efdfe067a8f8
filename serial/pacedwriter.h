#pragma once
// Byte strings written at absolute deadlines of the monotonic clock from a thread of
// their own (the upload's frames), so that a busy GUI thread cannot delay them.
//
// Slot 1 is written as soon as its bytes are handed over, and that moment is the start:
// slot n is due at the start + (n - 1) x the period. The thread runs before the
// constructor returns, so that slot 1 does not wait for a new thread to get a core
// (under load that took up to 57 ms). The owner hands
// each slot's bytes over before its deadline (empty bytes: nothing is written in that
// slot). Bytes handed over late are written at once, and the next slot keeps its own
// deadline: a late slot never shifts the ones after it. After each slot `passed` is
// called on the writer's thread with what happened; after a failed write nothing
// more is written. stop() joins the thread: nothing is written after it returns.
#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

// What one slot did.
struct PacedSlot {
    int slot = 0;
    QByteArray bytes;                 // what was handed over for it
    int written = 0;                  // bytes the write handed to the device
    std::exception_ptr error;         // the write's failure, if any
    std::chrono::nanoseconds late{0}; // from the deadline to the start of the write
    bool handedLate = false;          // the bytes came after the deadline
};

// The writer's clock. Tests give their own, whose time passes only when they say so.
class PaceClock {
public:
    using Time = std::chrono::steady_clock::time_point;
    virtual ~PaceClock() = default;
    virtual Time now() = 0;
    // Waits with lock released until deadline, or until wake is notified; may return early.
    virtual void waitUntil(std::unique_lock<std::mutex> &lock, std::condition_variable &wake, Time deadline) = 0;
    // Whether the writer's thread is set up for punctual wake-ups (timer slack of 1 ns,
    // real-time priority where the system allows it). Tests' clocks say no.
    virtual bool punctual() const { return false; }
    // The monotonic clock with an absolute wait on it (CLOCK_MONOTONIC).
    static PaceClock &monotonic();
};

class PacedWriter {
public:
    // Writes all bytes or throws; returns the number handed to the device.
    using Write = std::function<int(const QByteArray &)>;
    using Passed = std::function<void(const PacedSlot &)>;

    // Starts the thread and returns once it runs. Throws std::system_error when no thread can start.
    PacedWriter(Write write, Passed passed, std::chrono::nanoseconds period, PaceClock &clock = PaceClock::monotonic());
    ~PacedWriter(); // stop()
    PacedWriter(const PacedWriter &) = delete;
    PacedWriter &operator=(const PacedWriter &) = delete;

    void hand(int slot, const QByteArray &bytes);
    void stop();
    // When slot 1 was written; before that, meaningless.
    PaceClock::Time start() const { return start_; }

private:
    void run();
    // The next slot's bytes once its deadline has come and they are there; false on stop.
    bool awaitSlot(std::unique_lock<std::mutex> &lock, int slot, PacedSlot *due);

    const Write write_;
    const Passed passed_;
    const std::chrono::nanoseconds period_;
    PaceClock &clock_;
    PaceClock::Time start_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false; // the thread waits for slot 1
    bool stop_ = false;
    std::map<int, QByteArray> handed_;
    std::thread thread_;
};
