#include "tuning/correction.h"

#include "common/controlnames.h"
#include "common/numtext.h"
#include "maps/cells.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace correction {

namespace {

// The ECU holds each correction within a byte; larger values are not corrections.
constexpr int maxCorrection = 100;
constexpr int maxSpeedPosition = 48, maxLoadPosition = 42, maxTps = 1023;

} // namespace

QString filterText(Filter filter, const Settings &s, int lambdaTemperature)
{
    switch (filter) {
    case BadValues: return QString::fromUtf8("valores inválidos ou linha ilegível");
    case Temperature:
        return QString::fromUtf8("motor abaixo de %1 °C").arg(std::max(s.minTemperature, lambdaTemperature));
    case Speed: return QString::fromUtf8("abaixo de %1 RPM").arg(s.minRpm);
    case CutOff: return QString::fromUtf8("injeção cortada (Ti 0)");
    case Throttle: return QString::fromUtf8("TPS moveu %1 ou mais em %2 ms").arg(s.maxTpsMove).arg(s.tpsWindowMs);
    case Position: return QString::fromUtf8("menos de %1 ms na mesma célula").arg(s.steadyCellMs);
    case Probe: return QString::fromUtf8("sonda fora de %1 a %2 mV").arg(s.minProbeMv).arg(s.maxProbeMv);
    case Warming: return QString::fromUtf8("motor aquecendo, eletroventilador ou ar-condicionado ligado");
    case LoopOff: return QString::fromUtf8("correção da sonda desligada");
    case Settling:
        return QString::fromUtf8("sonda ainda sem cruzar o alvo na célula (atraso de %1 ms)").arg(s.probeDelayMs);
    case FilterCount: break;
    }
    return {};
}

int weights(int speedPosition, int loadPosition, std::array<Weight, 4> &out)
{
    const int row = speedPosition / 6, column = loadPosition / 6;
    const double fr = speedPosition / 6.0 - row, fc = loadPosition / 6.0 - column;
    const int base = 8 * row + column;
    const bool below = speedPosition < maxSpeedPosition, right = loadPosition < maxLoadPosition;
    int n = 0;
    auto put = [&out, &n](int cell, double w) {
        if (w > 0)
            out[std::size_t(n++)] = Weight{cell, w};
    };
    put(base, (1 - fr) * (1 - fc));
    if (below)
        put(base + 8, fr * (1 - fc));
    if (right)
        put(base + 1, (1 - fr) * fc);
    if (below && right)
        put(base + 9, fr * fc);
    return n;
}

Accumulator::Accumulator(const Settings &settings, int lambdaTemperature)
    : Accumulator(settings, TuneFacts{lambdaTemperature, 0, false, false, 0, 0, 0})
{
}

Accumulator::Accumulator(const Settings &settings, const TuneFacts &facts)
    : settings_(settings),
      facts_(facts),
      minTemperature_(std::max(settings.minTemperature, facts.lambdaTemperature))
{
}

TuneFacts tuneFacts(const Tune &tune)
{
    const QStringList &controls = mapfile::fieldControls();
    auto text = [&](const QString &name) { return tune.texts.value(int(controls.indexOf(name))); };
    TuneFacts f;
    f.lambdaTemperature = numtext::parseInt(text(ctl::eSondaTemp));
    f.warmTempCorrection = numtext::parseInt(text(ctl::eCorrecaoTi90));
    const QString activity = text(ctl::cbSondaAtiva).trimmed();
    f.loopOff = activity == QStringLiteral("Desativada");
    f.loopOffAtIdle = activity == QStringLiteral("Des em Marcha Lenta");
    // The ECU holds a target in tens of mV.
    f.idleTarget = numtext::parseInt(text(ctl::eSondaLenta)) / 10 * 10;
    f.partTarget = numtext::parseInt(text(ctl::eSondaParcial)) / 10 * 10;
    f.fullTarget = numtext::parseInt(text(ctl::eSondaPlena)) / 10 * 10;
    return f;
}

void Accumulator::beginRun()
{
    inRun_ = false;
    cell_ = -1;
    window_.clear();
    lows_.clear();
    highs_.clear();
}

void Accumulator::addUnreadable(std::int64_t lines)
{
    analysis_.rows += lines;
    analysis_.rejected[BadValues] += lines;
}

void Accumulator::remember(const LiveValues &v, std::int64_t ms)
{
    const int cell = baseCell(v.speedPosition, v.loadPosition);
    if (cell != cell_) {
        cell_ = cell;
        cellSince_ = ms;
        seenRich_ = seenLean_ = false;
    }
    // What the probe shows before the delay is the exhaust of the cell before.
    if (ms >= cellSince_ + settings_.probeDelayMs && v.injectionTenths > 0)
        (v.probeMv >= facts_.target(v.loadPosition) ? seenRich_ : seenLean_) = true;
    const Sample s{seq_++, ms, v.tpsReading};
    window_.push_back(s);
    while (!lows_.empty() && lows_.back().tps >= s.tps)
        lows_.pop_back();
    lows_.push_back(s);
    while (!highs_.empty() && highs_.back().tps <= s.tps)
        highs_.pop_back();
    highs_.push_back(s);
    // Keep the last row at or before ms - window: the throttle stood there then.
    while (window_.size() >= 2 && window_[1].ms <= ms - settings_.tpsWindowMs)
        window_.pop_front();
    const std::int64_t first = window_.front().seq;
    while (lows_.front().seq < first)
        lows_.pop_front();
    while (highs_.front().seq < first)
        highs_.pop_front();
}

bool Accumulator::throttleSteady(std::int64_t ms) const
{
    // The run must reach back over the whole window: before it, nothing is known.
    return window_.front().ms <= ms - settings_.tpsWindowMs &&
           highs_.front().tps - lows_.front().tps < settings_.maxTpsMove;
}

Filter Accumulator::check(const LiveValues &v, std::int64_t ms)
{
    if (v.temperature < minTemperature_)
        return Temperature;
    if (v.rpm < settings_.minRpm)
        return Speed;
    if (v.injectionTenths <= 0)
        return CutOff;
    if (!throttleSteady(ms))
        return Throttle;
    if (cellSince_ > ms - settings_.steadyCellMs)
        return Position;
    if (v.probeMv < settings_.minProbeMv || v.probeMv > settings_.maxProbeMv)
        return Probe;
    if (settings_.warmRowsOnly &&
        (v.correctionTemperature != facts_.warmTempCorrection || v.fan != 0 || v.airConditioning != 0))
        return Warming;
    if (settings_.loopInControl && (facts_.loopOff || (facts_.loopOffAtIdle && v.loadPosition == 0)))
        return LoopOff;
    if (settings_.loopSettled &&
        (ms < cellSince_ + settings_.probeDelayMs || (facts_.target(v.loadPosition) > 0 && !(seenRich_ && seenLean_))))
        return Settling;
    return FilterCount;
}

void Accumulator::add(const logformat::Row &row)
{
    const LiveValues &v = row.values;
    ++analysis_.rows;
    lastUsed_ = false;
    if (v.speedPosition < 0 || v.speedPosition > maxSpeedPosition || v.loadPosition < 0 ||
        v.loadPosition > maxLoadPosition || v.tpsReading < 0 || v.tpsReading > maxTps ||
        std::abs(v.correctionShort) > maxCorrection || std::abs(v.correctionLong) > maxCorrection || row.ms < 0) {
        ++analysis_.rejected[BadValues];
        return;
    }
    if (inRun_ && row.ms < lastMs_)
        beginRun();
    inRun_ = true;
    lastMs_ = row.ms;
    remember(v, row.ms);
    const Filter f = check(v, row.ms);
    if (f != FilterCount) {
        ++analysis_.rejected[f];
        return;
    }
    ++analysis_.used;
    lastUsed_ = true;
    const int c = v.correctionShort + v.correctionLong;
    if (v.correctionShort != 0 || v.correctionLong != 0)
        ++analysis_.corrected;
    std::array<Weight, 4> w;
    const int n = weights(v.speedPosition, v.loadPosition, w);
    for (int i = 0; i < n; ++i) {
        CellSum &cell = analysis_.cells[std::size_t(w[std::size_t(i)].cell)];
        const double weight = w[std::size_t(i)].weight;
        cell.hits += weight;
        cell.sum += weight * c;
        cell.squares += weight * weight;
        for (int j = 0; j < n; ++j)
            if (j != i)
                analysis_.couplings[std::size_t(cellCount * w[std::size_t(i)].cell + w[std::size_t(j)].cell)] +=
                    weight * w[std::size_t(j)].weight;
    }
}

std::array<double, cellCount> fitted(const Analysis &analysis, double minHits)
{
    // The normal equations (WᵀW + P + ridge) x = Wᵀc + P mean, P the pull towards the
    // means, solved by Cholesky: the matrix is symmetric and, with a ridge on every
    // cell, positive definite.
    constexpr int n = cellCount;
    std::vector<double> m(std::size_t(n * n));
    std::array<double, cellCount> x{};
    for (int i = 0; i < n; ++i) {
        const CellSum &c = analysis.cells[std::size_t(i)];
        for (int j = 0; j < n; ++j)
            m[std::size_t(n * i + j)] = analysis.couplings[std::size_t(n * i + j)];
        // Held towards the cell's own mean by the weight its rows share with the
        // neighbours: where they cannot be told apart, the fit does not swing apart.
        const double pull = fitMeanPull * (c.hits - c.squares);
        m[std::size_t(n * i + i)] =
            c.squares + pull + (c.hits < minHits ? fitRidge : std::max(1e-9 * c.squares, 1e-12));
        x[std::size_t(i)] = c.sum + pull * c.mean();
    }
    for (int j = 0; j < n; ++j) {
        double d = m[std::size_t(n * j + j)];
        for (int k = 0; k < j; ++k)
            d -= m[std::size_t(n * j + k)] * m[std::size_t(n * j + k)];
        d = std::sqrt(std::max(d, 1e-12));
        m[std::size_t(n * j + j)] = d;
        for (int i = j + 1; i < n; ++i) {
            double v = m[std::size_t(n * i + j)];
            for (int k = 0; k < j; ++k)
                v -= m[std::size_t(n * i + k)] * m[std::size_t(n * j + k)];
            m[std::size_t(n * i + j)] = v / d;
        }
    }
    for (int i = 0; i < n; ++i) { // L y = b
        double v = x[std::size_t(i)];
        for (int k = 0; k < i; ++k)
            v -= m[std::size_t(n * i + k)] * x[std::size_t(k)];
        x[std::size_t(i)] = v / m[std::size_t(n * i + i)];
    }
    for (int i = n - 1; i >= 0; --i) { // Lᵀ x = y
        double v = x[std::size_t(i)];
        for (int k = i + 1; k < n; ++k)
            v -= m[std::size_t(n * k + i)] * x[std::size_t(k)];
        x[std::size_t(i)] = v / m[std::size_t(n * i + i)];
    }
    // The trace of ridge on a well-seen cell stays below the millionth of a percent:
    // a row set that says exactly 2 % or 2,5 % is read so.
    for (double &v : x)
        v = std::round(v * 1e6) / 1e6;
    return x;
}

Analysis analyse(const std::vector<logformat::Row> &rows, const Settings &settings, int lambdaTemperature)
{
    return analyse(rows, settings, TuneFacts{lambdaTemperature, 0, false, false, 0, 0, 0});
}

Analysis analyse(const std::vector<logformat::Row> &rows, const Settings &settings, const TuneFacts &facts)
{
    Accumulator a(settings, facts);
    for (const logformat::Row &r : rows)
        a.add(r);
    return a.analysis();
}

const QStringList &neededChannels()
{
    static const QStringList c{"RPM",      "Ti",    "TPS",       "Temperatura", "Carga",
                               "LinhaRPM", "Sonda", "CorrCurto", "CorrLongo"};
    return c;
}

QStringList ruleChannels(const Settings &settings)
{
    return settings.warmRowsOnly ? QStringList{"CorrTemp", "Eletro", "Ar"} : QStringList{};
}

void requireChannels(const logformat::Log &log, const QString &path, const Settings &settings)
{
    QStringList missing;
    for (const QString &c : neededChannels() + ruleChannels(settings))
        if (log.absent.contains(c))
            missing << c;
    if (missing.isEmpty())
        return;
    throw std::runtime_error(
        QString::fromUtf8("O registro %1 não tem %2 %3, de que a correção precisa: nada a sugerir.")
            .arg(path, missing.size() == 1 ? QStringLiteral("o canal") : QStringLiteral("os canais"),
                 missing.join(QStringLiteral(", ")))
            .toStdString());
}

int lambdaTemperature(const Tune &tune)
{
    return numtext::parseInt(tune.texts.value(int(mapfile::fieldControls().indexOf(ctl::eSondaTemp))));
}

std::array<int, cellCount> injectionTenths(const Tune &tune)
{
    std::array<int, cellCount> out;
    for (int k = 0; k < cellCount; ++k) {
        long double v = 0;
        out[std::size_t(k)] = numtext::tryParseFloat(tune.texts.value(injectionField(k)), &v) && v >= 0 && v < 1000
                                  ? int(std::lround(v * 10))
                                  : -1;
    }
    return out;
}

const QStringList &snapshotChannels()
{
    static const QStringList c{"Ti",       "Carga",   "LinhaRPM", "CorrCurto", "CorrLongo",
                               "CorrTemp", "CorrAtm", "Eletro",   "Ar"};
    return c;
}

SnapshotFit snapshotFit(const std::vector<logformat::Row> &rows, const Tune &tune)
{
    const std::array<int, cellCount> map = injectionTenths(tune);
    const QStringList &controls = mapfile::fieldControls();
    // An increment that is no number leaves out the rows where it applies.
    auto increment = [&](const QString &name) {
        long double ms = 0;
        return numtext::tryParseFloat(tune.texts.value(int(controls.indexOf(name))), &ms) && ms >= 0 ? double(ms) * 10
                                                                                                     : -1.0;
    };
    const double fanTenths = increment(ctl::emSCorrecaoEletro), acTenths = increment(ctl::emSAr);
    std::uint32_t needed = 0;
    for (const QString &c : snapshotChannels())
        needed |= 1u << logformat::channels().indexOf(c);
    std::vector<double> errors;
    for (const logformat::Row &r : rows) {
        const LiveValues &v = r.values;
        if ((r.empty & needed) || v.injectionTenths <= 0 || v.speedPosition < 0 || v.speedPosition > maxSpeedPosition ||
            v.loadPosition < 0 || v.loadPosition > maxLoadPosition || std::abs(v.correctionShort) > maxCorrection ||
            std::abs(v.correctionLong) > maxCorrection || (v.fan && fanTenths < 0) ||
            (v.airConditioning && acTenths < 0))
            continue;
        std::array<Weight, 4> w;
        const int n = weights(v.speedPosition, v.loadPosition, w);
        double at = 0;
        bool known = true;
        for (int i = 0; i < n; ++i) {
            const int tenths = map[std::size_t(w[std::size_t(i)].cell)];
            known = known && tenths >= 0;
            at += w[std::size_t(i)].weight * tenths;
        }
        if (!known)
            continue;
        double predicted = at * (100 + v.correctionTemperature + v.correctionAtmosphere) / 100.0 *
                           (1 + (v.correctionShort + v.correctionLong) / 100.0);
        if (v.fan)
            predicted += fanTenths;
        if (v.airConditioning)
            predicted += acTenths;
        if (predicted <= 0)
            continue;
        // The log shows the time cut to the tenth: the ECU's lies in [Ti, Ti + 1).
        const double low = v.injectionTenths, high = v.injectionTenths + 1.0;
        const double off = predicted < low ? low - predicted : predicted > high ? predicted - high : 0;
        errors.push_back(off / predicted);
    }
    SnapshotFit fit;
    fit.rows = std::int64_t(errors.size());
    if (!errors.empty()) {
        const auto middle = errors.begin() + std::ptrdiff_t(errors.size() / 2);
        std::nth_element(errors.begin(), middle, errors.end());
        fit.medianError = *middle;
    }
    return fit;
}

QString noRowsSentence() { return QString::fromUtf8("Nenhuma linha passou pelos filtros: nada a sugerir."); }

QString noCorrectionSentence()
{
    return QString::fromUtf8("O módulo não corrigiu a injeção neste registro (correção da sonda desligada ou ainda "
                             "não ativa): nada a sugerir.");
}

QString fewDataSentence(const Settings &settings)
{
    return QString::fromUtf8("Há poucos dados: nenhuma célula chegou a %1 amostras. Nada a sugerir; grave mais tempo "
                             "com o motor quente.")
        .arg(settings.minHits);
}

QString stateMark(CellState state)
{
    switch (state) {
    case CellState::FullLoad: return QString::fromUtf8("plena: a sonda não mede");
    case CellState::Neighbours: return QString::fromUtf8("dados de vizinhas");
    default: return {};
    }
}

QString noChangeSentence()
{
    return QString::fromUtf8("Nenhuma célula precisa de correção: o mapa de injeção fica como está.");
}

Suggestion suggest(const Analysis &analysis, const Tune &recordedWith, const Settings &settings)
{
    Suggestion s;
    const double limit = std::clamp(settings.maxChange, 0.0, Settings::maxChangeLimit);
    const std::array<double, cellCount> fit = fitted(analysis, settings.minHits);
    for (int k = 0; k < cellCount; ++k) {
        CellSuggestion &cell = s.cells[std::size_t(k)];
        const CellSum &sum = analysis.cells[std::size_t(k)];
        cell.hits = sum.hits;
        cell.mean = fit[std::size_t(k)];
        cell.ownShare = sum.ownShare();
        cell.oldText = recordedWith.texts.value(injectionField(k));
        long double old = 0;
        try {
            old = numtext::parseFloat(cell.oldText);
        } catch (const numtext::ConvertError &e) {
            throw numtext::ConvertError(
                QString::fromUtf8("Célula e%1i do mapa de injeção: %2").arg(k).arg(e.message()));
        }
        cell.oldTenths = int(std::lround(old * 10));
        cell.newTenths = cell.oldTenths;
        cell.newText = cell.oldText;
        if (cell.hits < settings.minHits || cell.hits <= 0) {
            cell.state = CellState::TooFewHits;
            continue;
        }
        // Where the probe cannot measure, and where the rows fell near the neighbours,
        // "no change" is no confirmation.
        const bool fullLoad = k % 8 >= settings.fullLoadFrom;
        const CellState plain = fullLoad                               ? CellState::FullLoad
                                : cell.ownShare < settings.minOwnShare ? CellState::Neighbours
                                                                       : CellState::Unchanged;
        cell.state = plain;
        if (std::fabs(cell.mean) < settings.deadBand)
            continue;
        if (fullLoad && cell.mean < 0 && !settings.leanFullLoad)
            continue;
        // Limited to the change allowed per round, and the rounding to 0,1 ms may not
        // carry it past that limit.
        const double oldT = double(old) * 10;
        const double bound = std::fabs(oldT) * limit / 100; // never reversed bounds
        const double wanted = std::clamp(oldT * (1 + cell.mean / 100), oldT - bound, oldT + bound);
        int t = int(std::lround(wanted));
        const int step = int(std::floor(bound + 1e-9));
        t = std::clamp(t, int(std::lround(oldT)) - step, int(std::lround(oldT)) + step);
        // A cell of 0,1 to 0,9 ms moves by no less than 0,1 ms when its change asks
        // for it: no limit of a few percent could otherwise ever move it.
        if (t == cell.oldTenths && cell.oldTenths >= 1 && cell.oldTenths <= 9 && limit > 0)
            t = cell.oldTenths + (cell.mean > 0 ? 1 : -1);
        // Within the range every edit of a cell keeps (a cell already above it, as a
        // read-back may show, is not raised further).
        const int maxTenths = int(std::lround(cells::limits(MapId::Injection).max * 10));
        t = std::clamp(t, 0, std::max(maxTenths, cell.oldTenths));
        if (t == cell.oldTenths)
            continue;
        cell.newTenths = t;
        cell.newText = numtext::formatFloat(QStringLiteral("0.0"), t / 10.0L);
        cell.state = t > cell.oldTenths ? CellState::Added : CellState::Removed;
        ++s.changed;
    }
    const bool anyCovered = std::any_of(s.cells.begin(), s.cells.end(),
                                        [](const CellSuggestion &c) { return c.state != CellState::TooFewHits; });
    if (s.changed == 0)
        s.sentence = analysis.used == 0        ? noRowsSentence()
                     : analysis.corrected == 0 ? noCorrectionSentence()
                     : !anyCovered             ? fewDataSentence(settings)
                                               : noChangeSentence();
    return s;
}

Tune applied(const Tune &base, const Suggestion &suggestion, const QList<int> &cells)
{
    Tune out = base;
    for (int k = 0; k < cellCount; ++k) {
        const CellSuggestion &c = suggestion.cells[std::size_t(k)];
        const bool chosen = cells.isEmpty() || cells.contains(k);
        if (chosen && (c.state == CellState::Added || c.state == CellState::Removed))
            out.texts[injectionField(k)] = c.newText;
    }
    return out;
}

} // namespace correction
