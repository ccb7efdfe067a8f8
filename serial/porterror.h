#pragma once
// What a port error means for the user: the second line under the component's
// message, in the window's language, where the cause is known.
#include <QString>

// The program that holds a device, as the system shows it.
struct PortHolder {
    qint64 pid = 0;  // 0: not known
    QString program; // /proc/PID/comm, empty when not readable
};

// The pid of a process holding a lock (flock or fcntl) on the file with this
// inode on this filesystem device, as /proc/locks shows it; 0 when none.
qint64 procLocksHolder(quint64 fsDevice, quint64 inode);

// Looks for the holder of a device in this order: a live UUCP lock file, a
// running process with a lock in /proc/locks on the device node, a process
// with the device open in /proc/PID/fd (only those this user may look at).
PortHolder findPortHolder(const QString &devicePath);

// The explanation of the component's error code with the system's error number
// on a device, read from the system at the moment of the call, in the window's
// language:
//   EACCES at open               no permission, with the device's group and the fix
//   EBUSY, EWOULDBLOCK at open   held by another program, named where it is known
//   EIO, ENXIO, ENODEV           the device vanished
//   ENOENT, ENOTTY at open       no such port, not a serial port
//   EBADF after open             the port is not open
//   anything else                the step that failed on the port and the system's error
// Empty only for an error of no named device.
// The text begins and ends with a blank, as the window's other messages.
QString explainPortError(int code, int osError, const QString &devicePath);
