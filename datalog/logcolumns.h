#pragma once
// A log's channels as columns, built once from the rows: the viewer's plots, its table
// per cell and velto-cli's cells all read the same store.
#include "datalog/logformat.h"

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace logview {

// The channels in file order (logformat::channels()): 0 is Time.
enum ChannelIndex { TimeChannel = 0, RpmChannel = 1, LoadChannel = 10, SpeedRowChannel = 11 };
constexpr int channelCount = 24;

// The value of a channel as the file writes it (Ti in ms, TPSV in volts, Time in seconds
// since the first row: first is the first row's ms).
double channelValue(const logformat::Row &row, int channel, std::int64_t firstMs);
std::array<double, channelCount> channelValues(const logformat::Row &row, std::int64_t firstMs);
// Decimals the file writes a channel with (Ti 1, Abertura and TPSV 2, Time 3, else 0).
int channelDecimals(int channel);
// Index of a channel by its name in the file, -1 when none has that name.
int channelIndex(const QString &name);

// Row of the smallest and of the largest value of every block of rows of a column, so
// that a view of the whole log is reduced without visiting each row.
struct BlockSummary {
    static constexpr std::size_t blockRows = 64;
    BlockSummary() = default;
    explicit BlockSummary(const std::vector<float> &values);
    std::vector<std::uint32_t> minRow, maxRow;
};

// The position channels (LinhaRPM, Carga) the log does not hold: without either no
// row has a map cell.
QStringList missingPositionChannels(const logformat::Log &log);
// The sentence that says why no row has a cell ("o registro não tem o canal de posição
// Carga: ..."), empty when none is missing.
QString noCellsReason(const QStringList &missingPositions);

class LogColumns {
public:
    explicit LogColumns(const logformat::Log &log);

    std::size_t size() const { return time_.size(); }
    // Seconds since the first row, rising.
    const std::vector<double> &time() const { return time_; }
    const std::vector<float> &column(int channel) const { return columns_[std::size_t(channel)]; }
    // False for a channel the file does not hold (never offered).
    bool present(int channel) const { return present_[std::size_t(channel)]; }
    // Smallest and largest value over the whole log.
    float minimum(int channel) const { return min_[std::size_t(channel)]; }
    float maximum(int channel) const { return max_[std::size_t(channel)]; }
    const BlockSummary &summary(int channel) const { return summaries_[std::size_t(channel)]; }
    // First row at or after t seconds (size() when none), last row at or before t.
    std::size_t rowAtOrAfter(double t) const;
    std::size_t rowAtOrBefore(double t) const;
    // The row nearest to t seconds.
    std::size_t nearestRow(double t) const;
    // Base map cell of a row as the scanner marks it: 8 (LinhaRPM div 6) + Carga div 6,
    // -1 when the position lies outside the 9 x 8 grid.
    // Every row's cell is -1 when a position channel is missing (these are named).
    int cell(std::size_t row) const { return cells_[row]; }
    const QStringList &missingPositions() const { return missingPositions_; }

private:
    std::vector<double> time_;
    std::array<std::vector<float>, channelCount> columns_;
    std::array<bool, channelCount> present_{};
    std::array<float, channelCount> min_{}, max_{};
    std::array<BlockSummary, channelCount> summaries_;
    std::vector<std::int8_t> cells_;
    QStringList missingPositions_;
};

// At most two points (the smallest and the largest value, in row order) per pixel
// column of [t0, t1], computed from every row in view, plus the row on each side of the
// range so that the line reaches the edges. Where the view holds no more than two rows
// per pixel, the rows themselves.
struct Envelope {
    std::vector<double> x, y;
};
Envelope reduce(const std::vector<double> &time, const std::vector<float> &values, double t0, double t1, int pixels,
                const BlockSummary *summary = nullptr);
Envelope reduce(const LogColumns &columns, int channel, double t0, double t1, int pixels);
// The pixel column of t in [t0, t1] drawn on pixels columns (the reduction's buckets).
int pixelColumn(double t, double t0, double t1, int pixels);

// Statistics per base cell of one channel over a range of rows.
enum class CellStat { Count, Mean, Min, Max };
struct CellTable {
    std::array<std::int64_t, 72> count{};
    std::array<double, 72> sum{};
    std::array<double, 72> min{};
    std::array<double, 72> max{};
    // NaN for a cell without rows.
    double value(int cell, CellStat stat) const;
};
CellTable cellTable(const LogColumns &columns, int channel, std::size_t firstRow, std::size_t endRow);

// Time spans (seconds) in which the rows of [firstRow, endRow) sat in a cell: from the
// first row of a stay to the row that left it (the last row's time at the end).
struct Span {
    double from = 0, to = 0;
    std::size_t row = 0; // first row of the stay
};
std::vector<Span> cellSpans(const LogColumns &columns, int cell, std::size_t firstRow, std::size_t endRow);

// "count", "mean", "min", "max" and back; false for another text.
QString statName(CellStat stat);
bool parseStat(const QString &name, CellStat &stat);
// A value of the table as text: "-" for NaN, whole counts, 2 decimals for means,
// the channel's own decimals for minimum and maximum; a point as decimal separator.
QString cellText(double value, CellStat stat, int channel);

} // namespace logview
