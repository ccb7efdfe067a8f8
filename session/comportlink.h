#pragma once
// The core's serial line over the port component.
#include "common/context.h"

#include <functional>

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

private:
    TComPort &port_;
};
