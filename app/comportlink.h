#pragma once
// The core's serial line over the window's port component.
#include "common/context.h"

class TComPort;

class ComPortLink : public LinkPort
{
public:
    explicit ComPortLink(TComPort &port) : port_(port) {}
    int write(const QByteArray &bytes) override;
    QByteArray read(int count) override;

private:
    TComPort &port_;
};
