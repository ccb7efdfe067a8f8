#include "serial/pacedwriter.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

namespace {

using std::chrono::nanoseconds;

timespec timespecOf(PaceClock::Time t)
{
    const auto ns = std::chrono::duration_cast<nanoseconds>(t.time_since_epoch()).count();
    return timespec{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
}

// Sleeps until the absolute time t of CLOCK_MONOTONIC (what steady_clock reads on
// Linux): a late wake-up never pushes the deadline back, and a signal resumes the wait.
void sleepUntil(PaceClock::Time t)
{
    const timespec at = timespecOf(t);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// A hint to the core that this is a wait loop, where the processor has one.
inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || (defined(__arm__) && defined(__ARM_ARCH) && __ARM_ARCH >= 7)
    __asm__ __volatile__("yield" ::: "memory");
#endif
}

class MonotonicClock : public PaceClock {
public:
    Time now() override { return std::chrono::steady_clock::now(); }
    // Far from the deadline the wait is on the condition variable (libstdc++ waits on a
    // steady_clock deadline with pthread_cond_clockwait on CLOCK_MONOTONIC, absolute),
    // so that a hand-over or a stop wakes it. The last `near` is slept with
    // clock_nanosleep on the absolute deadline less `spin`, and only that last `spin`
    // is spent awake: a woken thread can still wait for its core to come out of an
    // idle state (on a virtual machine for the host to run it). A stop is seen when the
    // stretch ends, at most `near` later.
    void waitUntil(std::unique_lock<std::mutex> &lock, std::condition_variable &wake, Time deadline) override
    {
        constexpr auto near = std::chrono::milliseconds(1);
        constexpr auto spin = std::chrono::microseconds(200);
        if (deadline - now() > near) {
            wake.wait_until(lock, deadline - near);
            return;
        }
        lock.unlock();
        if (deadline - now() > spin)
            sleepUntil(deadline - spin);
        while (now() < deadline)
            relax();
        lock.lock();
    }
    bool punctual() const override { return true; }
};

// The writer's thread wakes as close to its deadlines as the system lets it: a timer
// slack of 1 ns (the default 50 us lets the kernel merge its wake-up with later ones),
// and the real-time class where the system allows it (root, or an RLIMIT_RTPRIO above
// 0), so that busy processes beside it cannot delay it. Elsewhere it stays as it is.
// The thread sleeps between its slots: it takes no core from other programs.
void makePunctual()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param param{};
    param.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

} // namespace

PaceClock &PaceClock::monotonic()
{
    static MonotonicClock clock;
    return clock;
}

PacedWriter::PacedWriter(Write write, Passed passed, std::chrono::nanoseconds period, PaceClock &clock)
    : write_(std::move(write)),
      passed_(std::move(passed)),
      period_(period),
      clock_(clock)
{
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return running_; });
}

PacedWriter::~PacedWriter() { stop(); }

void PacedWriter::hand(int slot, const QByteArray &bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handed_[slot] = bytes;
    }
    wake_.notify_all();
}

void PacedWriter::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

bool PacedWriter::awaitSlot(std::unique_lock<std::mutex> &lock, int slot, PacedSlot *due)
{
    PaceClock::Time deadline = start_;
    if (slot > 1) {
        deadline = start_ + period_ * (slot - 1);
        while (!stop_ && clock_.now() < deadline)
            clock_.waitUntil(lock, wake_, deadline);
        due->handedLate = !stop_ && handed_.count(slot) == 0;
    }
    wake_.wait(lock, [&] { return stop_ || handed_.count(slot) != 0; });
    if (slot == 1)
        deadline = start_ = clock_.now();
    if (stop_)
        return false; // decided under the lock: a stop either comes before a write or after it
    due->slot = slot;
    due->bytes = handed_[slot];
    handed_.erase(slot);
    due->late = clock_.now() - deadline;
    return true;
}

void PacedWriter::run()
{
    if (clock_.punctual())
        makePunctual();
    std::unique_lock<std::mutex> lock(mutex_);
    running_ = true;
    wake_.notify_all();
    for (int slot = 1;; ++slot) {
        PacedSlot due;
        if (!awaitSlot(lock, slot, &due))
            return;
        lock.unlock();
        if (!due.bytes.isEmpty()) {
            try {
                due.written = write_(due.bytes);
            } catch (...) {
                due.error = std::current_exception();
            }
        }
        passed_(due);
        lock.lock();
        if (due.error)
            return;
    }
}
