#include "session/comportlink.h"

#include "serial/comport.h"

int ComPortLink::write(const QByteArray &bytes)
{
    const int n = port_.Write(bytes);
    if (written && n == bytes.size())
        written(bytes);
    return n;
}

QByteArray ComPortLink::read(int count)
{
    QByteArray bytes;
    port_.Read(bytes, count);
    if (received)
        received(bytes);
    return bytes;
}
