#include "session/comportlink.h"

#include "serial/comport.h"

#include <cerrno>

bool isDeviceGone(const EComPort &error)
{
    const int code = error.code();
    if (code != EComPort::WriteFailed && code != EComPort::ReadFailed && code != EComPort::ClearErrorFailed)
        return false;
    const int e = error.osError();
    return e == EIO || e == ENXIO || e == ENODEV;
}

void ComPortLink::refuse(const EComPort &loss) { refusal_ = QString::fromUtf8(loss.what()); }

void ComPortLink::checkRefusal() const
{
    if (refusal_)
        throw LinkRefused(refusal_->toStdString());
}

void ComPortLink::failed(const EComPort &error)
{
    if (lost && isDeviceGone(error))
        lost(error);
}

int ComPortLink::write(const QByteArray &bytes)
{
    checkRefusal();
    int n = 0;
    try {
        n = port_.Write(bytes);
    } catch (const EComPort &e) {
        failed(e);
        throw;
    }
    if (written && n == bytes.size())
        written(bytes);
    return n;
}

QByteArray ComPortLink::read(int count)
{
    checkRefusal();
    QByteArray bytes;
    try {
        port_.Read(bytes, count);
    } catch (const EComPort &e) {
        failed(e);
        throw;
    }
    if (received)
        received(bytes);
    return bytes;
}
