#pragma once
// Records the live run: one row per live sample (see SampleGate), markers between the rows, and the tune on screen
// beside the log. Needs no window: whoever drives it calls frame() for each decoded
// frame and sync() at least once a second.
#include "datalog/samplegate.h"
#include "link/livevalues.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

// A recording that could not go on; what() names the file and the error. The
// recording has ended when it is thrown.
class RecordError : public std::runtime_error {
public:
    explicit RecordError(const QString &message) : std::runtime_error(message.toUtf8().toStdString()) {}
};

class Recorder {
public:
    // Monotonic clock in nanoseconds (a steady clock when not given).
    using Clock = std::function<std::int64_t()>;
    explicit Recorder(Clock clock = {});
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // The tune beside a log: the log's path with ".msl" replaced by "-mapa.txt".
    static QString tunePath(const QString &logPath);
    // "velto-AAAAMMDD-HHMMSS.msl" for the local time now.
    static QString suggestedName();

    // Writes the tune (the bytes a map file save writes) beside the log, creates the
    // log with its header and starts the clock. Without a tune (the module's set is
    // unknown) nothing is written beside the log and the header says so. Throws
    // RecordError.
    // historyEntry: the vehicle's history entry the log is recorded with, named in the
    // header (none when empty).
    void start(const QString &path, const std::optional<QByteArray> &tune, const QString &historyEntry = {});
    bool isRecording() const { return fd_ >= 0; }
    QString path() const { return path_; }

    // A decoded live frame (kind 29, 30 or 31) and the values now shown; a frame that
    // completes a sample adds a row. Never does input or output: the row waits in
    // memory for sync().
    void frame(int kind, const LiveValues &values);
    // Adds marker "Marca N" (or the text given); returns N.
    int mark(const QString &text = {});
    // Writes what waits and forces it to the disk. A failure ends the recording and
    // throws RecordError.
    void sync();
    // Syncs and closes. A failure throws RecordError after closing.
    void stop();

    std::int64_t rows() const { return rows_; }
    int markers() const { return markers_; }

    // Milliseconds since the recording began.
    std::int64_t elapsedMs() const;

private:
    [[noreturn]] void fail(int err);
    void close();

    Clock clock_;
    int fd_ = -1;
    QString path_;
    QByteArray pending_;
    std::int64_t startNs_ = 0;
    SampleGate gate_;
    std::int64_t committed_ = 0; // bytes in the file
    std::int64_t rows_ = 0;
    int markers_ = 0;
};
