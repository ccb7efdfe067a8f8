#include "serial/pacedwriter.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

class MonotonicClock : public PaceClock {
public:
    Time now() override { return std::chrono::steady_clock::now(); }
    // libstdc++ waits on a steady_clock deadline with pthread_cond_clockwait on
    // CLOCK_MONOTONIC: an absolute deadline that a late wake-up does not push back.
    //
    // The last stretch before a deadline is spent awake: a thread woken by a timer
    // can still wait for its core to come out of an idle state (on a virtual machine
    // for the host to run it), which made a write up to a few ms late. Spinning costs
    // at most `awake` of a core per slot; a stop is seen when the stretch ends.
    void waitUntil(std::unique_lock<std::mutex> &lock, std::condition_variable &wake, Time deadline) override
    {
        constexpr auto awake = std::chrono::microseconds(1500);
        if (deadline - now() > awake) {
            wake.wait_until(lock, deadline - awake);
            return;
        }
        lock.unlock();
        while (now() < deadline)
            __builtin_ia32_pause();
        lock.lock();
    }
    bool keepCoresAwake() const override { return true; }
};

// A thread that only sleeps to its deadlines and writes a few bytes gains from the
// real-time class where the system allows it (root, or an RLIMIT_RTPRIO above 0):
// busy processes beside it then cannot delay it. Elsewhere it stays as it is.
void preferRealTime()
{
    sched_param param{};
    param.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

// A core with nothing to run goes idle, and on a virtual machine the host may wake an
// idle core some ms after its timer is due: on the idle machine one write in a few
// hundred was up to 29 ms late, while beside two busy processes none was later than
// 0.08 ms. A thread at the lowest priority keeps the cores busy for the upload's 1,7 s;
// the real-time writer, or anything else that needs the core, runs before it.
void spinUntilStopped(const std::atomic<bool> &runs)
{
    setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 19);
    while (runs.load(std::memory_order_relaxed))
        __builtin_ia32_pause();
}

} // namespace

PaceClock &PaceClock::monotonic()
{
    static MonotonicClock clock;
    return clock;
}

PacedWriter::PacedWriter(Write write, Passed passed, std::chrono::nanoseconds period, PaceClock &clock)
    : write_(std::move(write)), passed_(std::move(passed)), period_(period), clock_(clock)
{
    if (clock_.keepCoresAwake()) {
        companionRuns_ = true;
        companion_ = std::thread([this] { spinUntilStopped(companionRuns_); });
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        stop(); // ends the companion
        throw;
    }
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
    companionRuns_ = false;
    if (companion_.joinable() && companion_.get_id() != std::this_thread::get_id())
        companion_.join();
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
    preferRealTime();
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
