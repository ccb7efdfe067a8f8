#pragma once
// Ordering of the serial device candidates (used by EnumComPorts).
#include <QStringList>

// From the entry names of /dev, the serial devices /dev/ttyS<n>, /dev/ttyUSB<n>
// and /dev/ttyACM<n>, by family in this order and by ascending number.
QStringList numberedSerialDevices(const QStringList &devEntries);
