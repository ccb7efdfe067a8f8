#pragma once
// The core's serial line over the port component.
#include "common/context.h"
#include "serial/pacedwriter.h"

#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>

class EComPort;
class TComPort;

// Also the upload's pacer: its frames leave from the port's own thread at their
// deadlines, each told as a write once it has gone.
class ComPortLink : public LinkPort, public LinkPacer {
public:
    explicit ComPortLink(TComPort &port) : port_(port) {}
    int write(const QByteArray &bytes) override;
    QByteArray read(int count) override;
    LinkPacer *pacer() override;
    bool refusing() const override { return refusal_.has_value(); }
    void start(int periodMs) override;
    void hand(int slot, const QByteArray &bytes) override;
    void passed(int slot) override;
    void stop() override;

    // A paced slot has passed (the port's OnSlotPassed): told as a write, and kept
    // for the tick that follows it.
    void slotPassed(const PacedSlot &slot);
    // Told when pacing starts: Timer2's ticks then come from the slots.
    std::function<void()> pacingStarted;

    // Told of every write that went out whole and of every read, with its bytes.
    std::function<void(const QByteArray &)> written;
    std::function<void(const QByteArray &)> received;
    // Told when a read or a write failed because the device is gone.
    std::function<void(const EComPort &)> lost;

    // After a loss nothing more goes to the device: every write and read fails with
    // the loss's error until the port is opened again.
    void refuse(const EComPort &loss);
    void accept() { refusal_.reset(); }

private:
    void checkRefusal() const;
    void failed(const EComPort &error);
    // A slot's write told as write() tells it; true when it failed.
    bool tell(const PacedSlot &slot);

    TComPort &port_;
    std::optional<QString> refusal_;
    std::optional<PacedSlot> lastSlot_;
};

// A write or read refused because the device went away before.
class LinkRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The device behind an open port went away (unplugged cable or adapter, a USB reset):
// a read or write failed with EIO, ENXIO or ENODEV, or poll reported a hang-up.
bool isDeviceGone(const EComPort &error);
