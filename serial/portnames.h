#pragma once
// The port list: the serial devices that can be opened now, found in the
// system's device tree (sysfs) without opening any of them. Every open of a
// serial device raises DTR and RTS, which resets boards that reset on DTR.
#include <QList>
#include <QString>
#include <QStringList>

struct SerialPortInfo {
    QString path;           // the device path, what the port component opens
    QString description;    // maker and product, serial number; may be empty
    bool accessible = true; // this user may open it for reading and writing
    friend bool operator==(const SerialPortInfo &, const SerialPortInfo &) = default;
};

// In this order, each device once:
//  1. the paths in the environment variable VELTO_SERIAL_PORTS (separated by
//     ':'; a bare name means /dev/NAME), in their order;
//  2. USB serial adapters and USB modems (ttyUSB<n>, ttyACM<n>), by name, the
//     numbers compared as numbers (ttyACM2 before ttyACM10 before ttyUSB0);
//  3. on-board UARTs with hardware behind them (a sysfs "type" other than 0),
//     by name in the same way.
// Left out: a device without its node, a device that vanishes while the list
// is read, a device held by a running program's UUCP lock file or by a lock
// that /proc/locks shows on its node. A device this user may not open stays in
// the list with accessible false, so that opening it explains why.
//
// VELTO_SYSFS_ROOT replaces /sys and VELTO_DEV_ROOT replaces /dev (for the
// devices found in sysfs); VELTO_LOCK_DIR replaces the lock folders (tests).
QList<SerialPortInfo> listPorts();

// The paths of listPorts().
QStringList EnumComPorts();

// The text shown beside a path in the drop-down and by the command line:
// the description, with " (sem permissão)" for a device the user may not open.
QString portListText(const SerialPortInfo &port);

// A USB adapter's stable names: the links in /dev/serial/by-id (under VELTO_DEV_ROOT
// when it is set) that lead to the device whatever number it gets.
QString byIdFolder();
// The by-id name (the link's file name) that leads to device, or empty.
QString byIdNameOf(const QString &device);
// The device to open again after a device went away: the device the by-id name leads
// to when a name is known (empty while the link is absent), else the old path while it
// exists. A different device at the old path never wins over the adapter's own name.
QString returningDevice(const QString &oldPath, const QString &byIdName);
