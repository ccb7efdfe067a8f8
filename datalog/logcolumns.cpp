#include "datalog/logcolumns.h"

#include <algorithm>
#include <cmath>

namespace logview {

double channelValue(const logformat::Row &row, int channel, std::int64_t firstMs)
{
    const LiveValues &v = row.values;
    switch (channel) {
    case 0: return double(row.ms - firstMs) / 1000.0;
    case 1: return v.rpm;
    case 2: return v.advance;
    case 3: return v.injectionTenths / 10.0;
    case 4: return double(v.opening());
    case 5: return v.tpsReading;
    case 6: return v.tpsReading * 5 / 1023.0;
    case 7: return v.temperature;
    case 8: return v.columnMap;
    case 9: return v.columnTps;
    case 10: return v.loadPosition;
    case 11: return v.speedPosition;
    case 12: return v.markedCell;
    case 13: return v.idleActuator;
    case 14: return v.probeMv;
    case 15: return v.pressure;
    case 16: return v.correctionShort;
    case 17: return v.correctionLong;
    case 18: return v.correctionTemperature;
    case 19: return v.correctionAtmosphere;
    case 20: return v.correctionAdvance;
    case 21: return v.pump;
    case 22: return v.fan;
    case 23: return v.airConditioning;
    default: return 0;
    }
}

int channelDecimals(int channel)
{
    switch (channel) {
    case 0: return 3;
    case 3: return 1;
    case 4:
    case 6: return 2;
    default: return 0;
    }
}

int channelIndex(const QString &name) { return int(logformat::channels().indexOf(name)); }

int baseCell(int speedPosition, int loadPosition)
{
    const int row = speedPosition / 6;
    const int column = loadPosition / 6;
    if (row < 0 || row > 8 || column < 0 || column > 7)
        return -1;
    return 8 * row + column;
}

LogColumns::LogColumns(const logformat::Log &log)
{
    const std::size_t n = log.rows.size();
    const std::int64_t first = n ? log.rows.front().ms : 0;
    time_.resize(n);
    cells_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        time_[i] = double(log.rows[i].ms - first) / 1000.0;
        cells_[i] = std::int8_t(baseCell(log.rows[i].values.speedPosition, log.rows[i].values.loadPosition));
    }
    for (int c = 0; c < channelCount; ++c) {
        present_[std::size_t(c)] = !log.absent.contains(logformat::channels()[c]);
        std::vector<float> &col = columns_[std::size_t(c)];
        col.resize(n);
        float lo = 0, hi = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const float v = float(c == TimeChannel ? time_[i] : channelValue(log.rows[i], c, first));
            col[i] = v;
            lo = i ? std::min(lo, v) : v;
            hi = i ? std::max(hi, v) : v;
        }
        min_[std::size_t(c)] = lo;
        max_[std::size_t(c)] = hi;
    }
}

std::size_t LogColumns::rowAtOrAfter(double t) const
{
    return std::size_t(std::lower_bound(time_.begin(), time_.end(), t) - time_.begin());
}

std::size_t LogColumns::rowAtOrBefore(double t) const
{
    const std::size_t after = std::size_t(std::upper_bound(time_.begin(), time_.end(), t) - time_.begin());
    return after ? after - 1 : 0;
}

std::size_t LogColumns::nearestRow(double t) const
{
    if (time_.empty())
        return 0;
    const std::size_t after = std::min(rowAtOrAfter(t), time_.size() - 1);
    const std::size_t before = after ? after - 1 : 0;
    return std::abs(time_[before] - t) <= std::abs(time_[after] - t) ? before : after;
}

int pixelColumn(double t, double t0, double t1, int pixels)
{
    const int p = int(std::floor((t - t0) / (t1 - t0) * pixels));
    return std::clamp(p, 0, pixels - 1);
}

Envelope reduce(const std::vector<double> &time, const std::vector<float> &values, double t0, double t1, int pixels)
{
    Envelope out;
    if (time.empty() || pixels <= 0 || !(t1 > t0))
        return out;
    // The row before the view and the row after it carry the line to the edges.
    std::size_t begin = std::size_t(std::lower_bound(time.begin(), time.end(), t0) - time.begin());
    std::size_t end = std::size_t(std::upper_bound(time.begin(), time.end(), t1) - time.begin());
    auto add = [&out, &time, &values](std::size_t i) {
        out.x.push_back(time[i]);
        out.y.push_back(values[i]);
    };
    if (begin > 0)
        add(begin - 1);
    if (end - begin <= std::size_t(2 * pixels)) {
        for (std::size_t i = begin; i < end; ++i)
            add(i);
    } else {
        out.x.reserve(std::size_t(2 * pixels) + 2);
        out.y.reserve(std::size_t(2 * pixels) + 2);
        std::size_t i = begin;
        while (i < end) {
            const int column = pixelColumn(time[i], t0, t1, pixels);
            std::size_t lo = i, hi = i;
            for (++i; i < end && pixelColumn(time[i], t0, t1, pixels) == column; ++i) {
                if (values[i] < values[lo])
                    lo = i;
                if (values[i] > values[hi])
                    hi = i;
            }
            add(std::min(lo, hi));
            if (lo != hi)
                add(std::max(lo, hi));
        }
    }
    if (end < time.size())
        add(end);
    return out;
}

double CellTable::value(int cell, CellStat stat) const
{
    const std::size_t k = std::size_t(cell);
    if (count[k] == 0)
        return std::nan("");
    switch (stat) {
    case CellStat::Count: return double(count[k]);
    case CellStat::Mean: return sum[k] / double(count[k]);
    case CellStat::Min: return min[k];
    case CellStat::Max: return max[k];
    }
    return std::nan("");
}

CellTable cellTable(const LogColumns &columns, int channel, std::size_t firstRow, std::size_t endRow)
{
    CellTable t;
    const std::vector<float> &col = columns.column(channel);
    endRow = std::min(endRow, columns.size());
    for (std::size_t i = firstRow; i < endRow; ++i) {
        const int cell = columns.cell(i);
        if (cell < 0)
            continue;
        const std::size_t k = std::size_t(cell);
        const double v = col[i];
        if (t.count[k]++ == 0) {
            t.min[k] = t.max[k] = v;
        } else {
            t.min[k] = std::min(t.min[k], v);
            t.max[k] = std::max(t.max[k], v);
        }
        t.sum[k] += v;
    }
    return t;
}

std::vector<Span> cellSpans(const LogColumns &columns, int cell, std::size_t firstRow, std::size_t endRow)
{
    std::vector<Span> spans;
    endRow = std::min(endRow, columns.size());
    const std::vector<double> &t = columns.time();
    std::size_t i = firstRow;
    while (i < endRow) {
        if (columns.cell(i) != cell) {
            ++i;
            continue;
        }
        Span s;
        s.row = i;
        s.from = t[i];
        while (i < endRow && columns.cell(i) == cell)
            ++i;
        s.to = i < columns.size() ? t[i] : t.back();
        spans.push_back(s);
    }
    return spans;
}

QString statName(CellStat stat)
{
    static const char *const names[] = {"count", "mean", "min", "max"};
    return QString::fromLatin1(names[int(stat)]);
}

bool parseStat(const QString &name, CellStat &stat)
{
    for (CellStat s : {CellStat::Count, CellStat::Mean, CellStat::Min, CellStat::Max})
        if (statName(s) == name) {
            stat = s;
            return true;
        }
    return false;
}

QString cellText(double value, CellStat stat, int channel)
{
    if (std::isnan(value))
        return QStringLiteral("-");
    const int decimals = stat == CellStat::Count ? 0 : stat == CellStat::Mean ? 2 : channelDecimals(channel);
    QString text = QString::number(value, 'f', decimals);
    if (text.startsWith(u'-') && text.count(u'0') == text.size() - 1 - (decimals ? 1 : 0))
        text.remove(0, 1); // no "-0.00"
    return text;
}

} // namespace logview
