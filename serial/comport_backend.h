#pragma once
// The operating-system side of the serial port component. Only comport_unix.cpp
// implements it; every function reports failure as an errno value (0 = success)
// and leaves the choice of the component's error code to the caller.
#include "serial/comport.h"
#include "serial/uucplock.h"

#include <QByteArray>

#include <memory>

struct ComLineSettings {
    int baudRate = 9600;
    int dataBits = 8;
    TComParity parity;
    TStopBits stopBits = TStopBits::One;
    TComFlowControl flow;
};

// How long a read may wait; -1 = no such limit.
struct ComReadLimits {
    int idleMs = -1;  // since the call or the last byte
    int totalMs = -1; // since the call
};

// An exclusively opened serial device.
class ComDevice {
public:
    ComDevice();
    ~ComDevice(); // closes
    ComDevice(const ComDevice &) = delete;
    ComDevice &operator=(const ComDevice &) = delete;

    // Non-blocking open with a UUCP lock file (EBUSY while a running program
    // holds one), flock and TIOCEXCL; the settings found are saved.
    int open(const QByteArray &path);
    // Restores the saved settings, releases TIOCEXCL and the locks, closes.
    // Never fails: the device may already be gone.
    void close();
    int fd() const { return fd_; }

    // Raw mode, speed, frame and flow control; then the DTR and RTS lines.
    int applyLineSettings(const ComLineSettings &settings);
    // Reads the modem status lines once (a pseudo-terminal has none: success).
    int checkModemStatus();
    int pendingCount(int *count) const;
    void discardInput();

    // Hands all bytes to the device, waiting for room; totalMs > 0 bounds the wait.
    int write(const char *data, qsizetype length, int totalMs, qsizetype *written);
    // Reads up to length bytes within the limits. A device that has gone away
    // gives EIO unless some bytes came before.
    // The limits are counted on clock, which also does the waiting.
    int read(char *data, qsizetype length, ComReadLimits limits, qsizetype *received,
             ComReadClock &clock = ComReadClock::monotonic());

private:
    struct Saved;
    int fd_ = -1;
    std::unique_ptr<Saved> saved_;
    uucplock::Lock lockFile_;
};

// Pending count of any open device descriptor (the event thread's view).
int comPendingCount(int fd, int *count);

// The event thread's wait: the device and a wake descriptor in one poll().
class ComWaiter {
public:
    enum class Event { Readable, Woken, Timeout, Gone, Failed };

    ComWaiter() = default;
    ~ComWaiter();
    ComWaiter(const ComWaiter &) = delete;
    ComWaiter &operator=(const ComWaiter &) = delete;

    int create();
    // Safe from any thread.
    void wake();
    // fd -1: wait for the wake descriptor only. timeoutMs -1: no limit.
    // Gone and Failed set *osError.
    Event wait(int fd, int timeoutMs, int *osError);

private:
    int wakeFd_ = -1;
};
