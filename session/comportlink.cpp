#include "session/comportlink.h"

#include "serial/comport.h"

#include <cerrno>
#include <string>

bool isDeviceGone(const EComPort &error)
{
    const int code = error.code();
    if (code != EComPort::WriteFailed && code != EComPort::ReadFailed && code != EComPort::ClearErrorFailed)
        return false;
    const int e = error.osError();
    return e == EIO || e == ENXIO || e == ENODEV;
}

void ComPortLink::refuse(const EComPort &loss)
{
    refusal_ = QString::fromUtf8(loss.what());
    stop(); // no frame of a running upload follows
}

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

LinkPacer *ComPortLink::pacer() { return port_.Connected() && !refusal_ ? this : nullptr; }

void ComPortLink::start(int periodMs)
{
    checkRefusal();
    lastSlot_.reset();
    port_.StartPacing(periodMs);
    if (pacingStarted)
        pacingStarted();
}

void ComPortLink::hand(int slot, const QByteArray &bytes)
{
    checkRefusal();
    port_.PaceSlot(slot, bytes);
}

bool ComPortLink::tell(const PacedSlot &slot)
{
    if (!slot.error) {
        if (written && !slot.bytes.isEmpty() && slot.written == slot.bytes.size())
            written(slot.bytes);
        return false;
    }
    try {
        std::rethrow_exception(slot.error);
    } catch (const EComPort &e) {
        failed(e);
    } catch (...) {
    }
    return true;
}

void ComPortLink::slotPassed(const PacedSlot &slot)
{
    tell(slot);
    lastSlot_ = slot;
}

void ComPortLink::passed(int slot)
{
    if (!lastSlot_ || lastSlot_->slot != slot)
        throw std::logic_error("paced slot " + std::to_string(slot) + " has not passed");
    const PacedSlot done = *lastSlot_;
    lastSlot_.reset();
    if (done.error)
        std::rethrow_exception(done.error);
}

void ComPortLink::stop()
{
    // Slots that went out while their report waited in the queue count as written.
    for (const PacedSlot &slot : port_.StopPacing())
        tell(slot);
    lastSlot_.reset();
}
