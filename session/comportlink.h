#pragma once
// The core's serial line over the port component.
#include "common/context.h"

#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>

class EComPort;
class TComPort;

class ComPortLink : public LinkPort
{
public:
    explicit ComPortLink(TComPort &port) : port_(port) {}
    int write(const QByteArray &bytes) override;
    QByteArray read(int count) override;

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

    TComPort &port_;
    std::optional<QString> refusal_;
};

// A write or read refused because the device went away before.
class LinkRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The device behind an open port went away (unplugged cable or adapter, a USB reset):
// a read or write failed with EIO, ENXIO or ENODEV, or poll reported a hang-up.
bool isDeviceGone(const EComPort &error);
