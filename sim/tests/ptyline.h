#pragma once
// The program's end of the simulator's line in a test: the slave device opened
// with plain POSIX calls, raw 38400 8N1.
#include <QByteArray>
#include <QString>

class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    bool open(const QString &path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool write(const QByteArray &bytes);
    // Waits until count bytes are in or timeoutMs passes; returns what came.
    QByteArray read(int count, int timeoutMs = 5000);
    // Everything that arrives until the line has been quiet for quietMs.
    QByteArray readUntilQuiet(int quietMs, int maxMs = 10000);
    // True once the other side has gone (POLLHUP, read returns 0).
    bool waitGone(int timeoutMs = 5000);

private:
    int fd_ = -1;
};
