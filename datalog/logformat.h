#pragma once
// The datalog's file: a text file with three header lines, a row of channel names, a
// row of units and one row per live sample (kinds 29, 30 and 31), fields separated by a
// tab, a point as decimal separator, LF line ends; markers are lines of their own
// between the rows. Logs written before hold two header lines and a row per frame.
#include "link/livevalues.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace logformat {

// Channel names and units, in file order.
const QStringList &channels();
const QStringList &units();

// The header line that says the rows are one per sample.
QByteArray perSampleLine();
// The header line that says which set the module held was unknown when the recording
// began (no tune was written beside the log).
QByteArray moduleSetUnknownLine();
// The header line that names the entry of the vehicle's history (its commit's hash) the
// log was recorded with: "Entrada do histórico: <hash>".
QByteArray historyEntryLine(const QString &entry);
// The five lines before the first row (six with moduleSetUnknownLine, one more with
// the history's entry when given).
QByteArray header(const QString &version, const QString &captureDate, bool moduleSetUnknown = false,
                  const QString &historyEntry = {});
// The history's entry a log's header names, read from the lines before its names row
// only (a log of any size is read as fast); empty when it names none (logs recorded
// without a vehicle, and those written before). Empty too when the file cannot be read.
QString historyEntryOf(const QString &path);
// One row: time in milliseconds since recording began, and the values shown.
QByteArray row(std::int64_t ms, const LiveValues &v);
// "MARK 001 - text - 12.345"
QByteArray marker(int number, const QString &text, std::int64_t ms);
// Seconds with three decimals.
QByteArray seconds(std::int64_t ms);

struct Row {
    std::int64_t ms = 0;
    LiveValues values;
    // Bit c set: the file left channel c (in channels() order) empty on this row; its
    // value in values is 0 and means nothing.
    std::uint32_t empty = 0;
};
struct Marker {
    int number = 0;
    QString text;
    std::int64_t ms = 0;
    std::size_t row = 0; // the first row at or after the marker
};
struct Log {
    std::vector<Row> rows;
    std::vector<Marker> markers;
    // Channels (names as in channels()) that the file does not hold: their values in
    // the rows are 0 and are shown as not available.
    QStringList absent;
    // One row per sample (kinds 29, 30, 31); false for logs written with a row per frame.
    bool rowPerSample = false;
    // The header says the module's set was unknown: no tune beside the log is its own.
    bool moduleSetUnknown = false;
    // The entry of the vehicle's history the log was recorded with (its commit's hash);
    // empty when the header names none.
    QString historyEntry;
    // Lines that could not be read: the first one (1-based) and why, and how many.
    int firstBadLine = 0;
    QString firstBadReason;
    int badLines = 0;
};

// A log that cannot be played: what() is the message for the user.
class LogRefused : public std::runtime_error {
public:
    explicit LogRefused(const QString &message) : std::runtime_error(message.toUtf8().toStdString()) {}
};

// Reads a log: channels are taken by name in any order, those missing are listed in
// absent; every complete line that parses is taken; a line that does not (and an
// unterminated last line) is counted as bad. Taken as they are: blank lines, blanks
// around a field, separators at the end of a line, an empty field (an absent value,
// see Row::empty); a clock time (seconds since 1970) counts from the first row; a time
// that goes back begins a new stretch right after the last row. Throws LogRefused, saying why, when the
// file cannot be read, has no Time or no channel Velto shows, or holds no usable row.
Log read(const QString &path);
// The same, from bytes already in memory.
Log parse(const QByteArray &bytes, const QString &path);

} // namespace logformat
