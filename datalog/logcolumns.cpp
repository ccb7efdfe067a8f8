#include "datalog/logcolumns.h"

#include <algorithm>
#include <cmath>

namespace logview {

// Every channel of a row at once, in file order.
std::array<double, channelCount> channelValues(const logformat::Row &row, std::int64_t firstMs)
{
    const LiveValues &v = row.values;
    return {double(row.ms - firstMs) / 1000.0,
            double(v.rpm),
            double(v.advance),
            v.injectionTenths / 10.0,
            double(v.opening()),
            double(v.tpsReading),
            double(v.tpsVolts()),
            double(v.temperature),
            double(v.columnMap),
            double(v.columnTps),
            double(v.loadPosition),
            double(v.speedPosition),
            double(v.markedCell),
            double(v.idleActuator),
            double(v.probeMv),
            double(v.pressure),
            double(v.correctionShort),
            double(v.correctionLong),
            double(v.correctionTemperature),
            double(v.correctionAtmosphere),
            double(v.correctionAdvance),
            double(v.pump),
            double(v.fan),
            double(v.airConditioning)};
}

double channelValue(const logformat::Row &row, int channel, std::int64_t firstMs)
{
    return channel >= 0 && channel < channelCount ? channelValues(row, firstMs)[std::size_t(channel)] : 0;
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

QStringList missingPositionChannels(const logformat::Log &log)
{
    QStringList missing;
    for (int c : {SpeedRowChannel, LoadChannel})
        if (log.absent.contains(logformat::channels()[c]))
            missing << logformat::channels()[c];
    return missing;
}

QString noCellsReason(const QStringList &missingPositions)
{
    if (missingPositions.isEmpty())
        return {};
    if (missingPositions.size() == 1)
        return QStringLiteral("o registro não tem o canal de posição %1: sem ele, nenhuma leitura tem célula do "
                              "mapa")
            .arg(missingPositions.first());
    return QStringLiteral("o registro não tem os canais de posição %1: sem eles, nenhuma leitura tem célula do "
                          "mapa")
        .arg(missingPositions.join(QStringLiteral(" e ")));
}

LogColumns::LogColumns(const logformat::Log &log)
{
    const std::size_t n = log.rows.size();
    const std::int64_t first = n ? log.rows.front().ms : 0;
    time_.resize(n);
    cells_.resize(n);
    for (auto &col : columns_)
        col.resize(n);
    missingPositions_ = missingPositionChannels(log);
    // Without a position channel no row has a cell (its zeros are no position).
    const bool positioned = missingPositions_.isEmpty();
    // One pass over the rows: they are large, the columns small.
    for (std::size_t i = 0; i < n; ++i) {
        const logformat::Row &r = log.rows[i];
        time_[i] = double(r.ms - first) / 1000.0;
        cells_[i] = positioned ? std::int8_t(baseCell(r.values.speedPosition, r.values.loadPosition)) : -1;
        std::array<double, channelCount> v = channelValues(r, first);
        if (r.empty != 0) {
            // A value the file left empty is none (NaN), as are those worked out from it.
            const auto empty = [&r](int c) { return (r.empty >> c & 1u) != 0; };
            for (int c = 1; c < channelCount; ++c)
                if (empty(c) || (c == 4 && (empty(RpmChannel) || empty(3))) || (c == 6 && empty(5)))
                    v[std::size_t(c)] = std::nan("");
            if (empty(LoadChannel) || empty(SpeedRowChannel))
                cells_[i] = -1;
        }
        for (std::size_t c = 0; c < std::size_t(channelCount); ++c)
            columns_[c][i] = float(v[c]);
    }
    for (int c = 0; c < channelCount; ++c) {
        present_[std::size_t(c)] = !log.absent.contains(logformat::channels()[c]);
        const std::vector<float> &col = columns_[std::size_t(c)];
        summaries_[std::size_t(c)] = BlockSummary(col);
        float lo = 0, hi = 0;
        bool any = false;
        for (float x : col)
            if (!std::isnan(x)) {
                lo = any ? std::min(lo, x) : x;
                hi = any ? std::max(hi, x) : x;
                any = true;
            }
        min_[std::size_t(c)] = lo;
        max_[std::size_t(c)] = hi;
    }
}

// a < b and a > b for the smallest and the largest value, where a value is always
// taken over an absent one (NaN) and an absent one never over any.
static bool below(float a, float b) { return !std::isnan(a) && (std::isnan(b) || a < b); }
static bool above(float a, float b) { return !std::isnan(a) && (std::isnan(b) || a > b); }

BlockSummary::BlockSummary(const std::vector<float> &values)
{
    const std::size_t blocks = values.size() / blockRows;
    minRow.resize(blocks);
    maxRow.resize(blocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        std::uint32_t lo = std::uint32_t(b * blockRows), hi = lo;
        for (std::uint32_t i = lo + 1; i < (b + 1) * blockRows; ++i) {
            if (below(values[i], values[lo]))
                lo = i;
            if (above(values[i], values[hi]))
                hi = i;
        }
        minRow[b] = lo;
        maxRow[b] = hi;
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

namespace {

// Start of pixel column p of [t0, t1]: the one place that says where a column begins.
double columnStart(int p, double t0, double t1, int pixels) { return t0 + (t1 - t0) * p / pixels; }

// Rows of the smallest and the largest value in [begin, end): whole blocks from the
// summary, the rest row by row.
std::pair<std::size_t, std::size_t> extremes(const std::vector<float> &values, const BlockSummary *summary,
                                             std::size_t begin, std::size_t end)
{
    std::size_t lo = begin, hi = begin;
    auto take = [&](std::size_t l, std::size_t h) {
        if (below(values[l], values[lo]))
            lo = l;
        if (above(values[h], values[hi]))
            hi = h;
    };
    std::size_t i = begin + 1;
    if (summary) {
        const std::size_t n = BlockSummary::blockRows;
        const std::size_t firstBlock = (i + n - 1) / n, endBlock = std::min(end / n, summary->minRow.size());
        if (endBlock > firstBlock) {
            for (; i < firstBlock * n; ++i)
                take(i, i);
            for (std::size_t b = firstBlock; b < endBlock; ++b)
                take(summary->minRow[b], summary->maxRow[b]);
            i = endBlock * n;
        }
    }
    for (; i < end; ++i)
        take(i, i);
    return {lo, hi};
}

} // namespace

int pixelColumn(double t, double t0, double t1, int pixels)
{
    int p = std::clamp(int(std::floor((t - t0) / (t1 - t0) * pixels)), 0, pixels - 1);
    while (p + 1 < pixels && t >= columnStart(p + 1, t0, t1, pixels))
        ++p;
    while (p > 0 && t < columnStart(p, t0, t1, pixels))
        --p;
    return p;
}

Envelope reduce(const std::vector<double> &time, const std::vector<float> &values, double t0, double t1, int pixels,
                const BlockSummary *summary)
{
    Envelope out;
    if (time.empty() || pixels <= 0 || !(t1 > t0))
        return out;
    // The row before the view and the row after it carry the line to the edges.
    const std::size_t begin = std::size_t(std::lower_bound(time.begin(), time.end(), t0) - time.begin());
    const std::size_t end = std::size_t(std::upper_bound(time.begin(), time.end(), t1) - time.begin());
    auto add = [&out, &time, &values](std::size_t i) {
        out.x.push_back(time[i]);
        out.y.push_back(values[i]);
    };
    out.x.reserve(std::min(end - begin, std::size_t(2 * pixels)) + 2);
    out.y.reserve(out.x.capacity());
    if (begin > 0)
        add(begin - 1);
    if (end - begin <= std::size_t(2 * pixels)) {
        for (std::size_t i = begin; i < end; ++i)
            add(i);
    } else {
        std::size_t first = begin;
        for (int p = 0; p < pixels && first < end; ++p) {
            std::size_t last = end;
            if (p + 1 < pixels) {
                const double next = columnStart(p + 1, t0, t1, pixels);
                last = std::size_t(
                    std::lower_bound(time.begin() + std::ptrdiff_t(first), time.begin() + std::ptrdiff_t(end), next) -
                    time.begin());
            }
            if (last == first)
                continue;
            const auto [lo, hi] = extremes(values, summary, first, last);
            add(std::min(lo, hi));
            if (lo != hi)
                add(std::max(lo, hi));
            first = last;
        }
    }
    if (end < time.size())
        add(end);
    return out;
}

Envelope reduce(const LogColumns &columns, int channel, double t0, double t1, int pixels)
{
    return reduce(columns.time(), columns.column(channel), t0, t1, pixels, &columns.summary(channel));
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
        if (std::isnan(v))
            continue; // the file left it empty on this row
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
