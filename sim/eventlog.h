#pragma once
// The simulator's clock and its event log: one line per event, stamped with the
// monotonic clock, so that a test can tell what happened and in which order.
#include <string>

namespace ecusim {

// Seconds on CLOCK_MONOTONIC.
double monotonicNow();

class EventLog {
public:
    // Opens (appends to) path; an empty path logs to stderr. False on failure,
    // after a message on stderr.
    bool open(const std::string &path);
    void close();
    // "<seconds.micros> <text>" as one write.
    void write(const std::string &text) const;

private:
    int fd_ = 2;
};

} // namespace ecusim
