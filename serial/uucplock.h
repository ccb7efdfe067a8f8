#pragma once
// UUCP lock files: "LCK..ttyUSB0" in /run/lock (or /var/lock) holds the pid of
// the program that uses /dev/ttyUSB0, as ten ASCII characters and a newline.
// Other serial programs keep the same files, so a device one of them holds is
// left alone, and the devices this program holds are left alone by them.
//
// The environment variable VELTO_LOCK_DIR replaces both folders (tests).
#include <QString>
#include <QStringList>

namespace uucplock {

// The lock file name of a device path ("LCK..ttyUSB0"), after following links
// (/dev/serial/by-id/... names the device it leads to). Empty for pseudo-
// terminals (/dev/pts/N): their name has no lock file form, no program that
// keeps lock files opens them, and flock keeps out a second opener there.
QString lockName(const QString &devicePath);

// The folders looked at for lock files; a new lock is written into the first.
QStringList lockFolders();

// The pid in a lock file, 0 when the file cannot be read or holds no pid.
qint64 lockFilePid(const QString &file);

// Whether that process runs.
bool processRuns(qint64 pid);

// The pid of the running program whose lock file names the device, else 0.
// Stale lock files (their pid does not run) count as free.
qint64 holder(const QString &devicePath);

// A lock file this process holds for one device; removed when released.
class Lock {
public:
    Lock() = default;
    ~Lock() { release(); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

    // Takes the lock: 0, or EBUSY when a running program holds it (this
    // process included). A stale lock file is removed and replaced. A device
    // without a lock file name, or a lock folder that cannot be written,
    // gives 0 without a file: a lock file is a courtesy among programs, not a
    // condition for using the device.
    int acquire(const QString &devicePath);
    // Removes the lock file, if it is still this process's.
    void release();
    // The lock file written, empty when none.
    QString file() const { return file_; }

private:
    QString file_;
};

} // namespace uucplock
