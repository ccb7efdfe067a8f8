#include "app/comportlink.h"

#include "serial/comport.h"

int ComPortLink::write(const QByteArray &bytes) { return port_.Write(bytes); }

QByteArray ComPortLink::read(int count)
{
    QByteArray bytes;
    port_.Read(bytes, count);
    return bytes;
}
