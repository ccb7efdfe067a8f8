#include "tuning/warmup.h"

#include "common/controlnames.h"
#include "common/numtext.h"

#include <algorithm>
#include <cmath>

namespace correction {

namespace {

// The map's filters without its temperature floor and its warm-rows rule.
Settings warmUpFilters(Settings s)
{
    s.minTemperature = -40; // eSondaTemp is the floor
    s.warmRowsOnly = false;
    s.loopInControl = true;
    return s;
}

} // namespace

int warmUpField(int point)
{
    static const QStringList names{ctl::eCorrecaoTi0,  ctl::eCorrecaoTi15, ctl::eCorrecaoTi30, ctl::eCorrecaoTi45,
                                   ctl::eCorrecaoTi60, ctl::eCorrecaoTi75, ctl::eCorrecaoTi90, ctl::eCorrecaoTi105};
    return int(mapfile::fieldControls().indexOf(names.value(point)));
}

QString pointMark(PointState state)
{
    return state == PointState::NoClosedLoop ? QString::fromUtf8("sem malha fechada") : QString();
}

WarmUpAccumulator::WarmUpAccumulator(const Settings &settings, const TuneFacts &facts)
    : filters_(warmUpFilters(settings), facts),
      fullLoadFrom_(settings.fullLoadFrom)
{
}

void WarmUpAccumulator::add(const logformat::Row &row)
{
    filters_.add(row);
    const LiveValues &v = row.values;
    // Where the full-load column weighs the probe cannot measure: no row from there.
    const bool fullLoad = v.loadPosition > 6 * (fullLoadFrom_ - 1);
    if (!filters_.lastUsed() || v.fan != 0 || v.airConditioning != 0 || fullLoad)
        return;
    ++used_;
    const double need =
        ((1 + v.correctionTemperature / 100.0) * (1 + (v.correctionShort + v.correctionLong) / 100.0) - 1) * 100;
    const double x = std::clamp(double(v.temperature), 0.0, double(warmUpStep * (warmUpPoints - 1))) / warmUpStep;
    const int i = std::min(warmUpPoints - 2, int(std::floor(x)));
    const double f = x - i;
    const std::size_t a = std::size_t(i), b = a + 1;
    weight_[a] += 1 - f;
    weight_[b] += f;
    if (f <= 1.0 / 3)
        near_[a] += 1 - f;
    if (f >= 2.0 / 3)
        near_[b] += f;
    diagonal_[a] += (1 - f) * (1 - f);
    diagonal_[b] += f * f;
    upper_[a] += (1 - f) * f;
    rhs_[a] += (1 - f) * need;
    rhs_[b] += f * need;
}

WarmUpSuggestion suggestWarmUp(const WarmUpAccumulator &rows, const Tune &recordedWith, const Settings &settings)
{
    WarmUpSuggestion s;
    s.rows = rows.rows();
    s.used = rows.used();
    const int lambdaTemp = tuneFacts(recordedWith).lambdaTemperature;
    const double limit = std::clamp(settings.maxChange, 0.0, Settings::maxChangeLimit);
    std::array<int, warmUpPoints> olds{};
    for (int i = 0; i < warmUpPoints; ++i)
        try {
            olds[std::size_t(i)] = numtext::parseInt(recordedWith.texts.value(warmUpField(i)));
        } catch (const numtext::ConvertError &e) {
            throw numtext::ConvertError(
                QString::fromUtf8("Correção Ti a %1 °C: %2").arg(warmUpStep * i).arg(e.message()));
        }
    // The fit: minimise the rows' squared misses plus, per point, a pull of one row's
    // weight towards its old value. Points below eSondaTemp and points without rows
    // near them are held at their old values. A tridiagonal system, by elimination.
    constexpr double hold = 1;
    std::array<bool, warmUpPoints> held{};
    for (int i = 0; i < warmUpPoints; ++i)
        held[std::size_t(i)] = warmUpStep * i < lambdaTemp || rows.nearWeights()[std::size_t(i)] < settings.minHits ||
                               rows.weights()[std::size_t(i)] <= 0;
    std::array<double, warmUpPoints> sub{}, d{}, sup{}, r{}, fitted{};
    for (int i = 0; i < warmUpPoints; ++i) {
        const std::size_t k = std::size_t(i);
        if (held[k]) {
            d[k] = 1;
            r[k] = olds[k];
            continue;
        }
        d[k] = rows.diagonal()[k] + hold;
        r[k] = rows.rhs()[k] + hold * olds[k];
        if (i > 0) {
            if (held[k - 1])
                r[k] -= rows.upper()[k - 1] * olds[k - 1]; // its share is known
            else
                sub[k] = rows.upper()[k - 1];
        }
        if (i < warmUpPoints - 1) {
            if (held[k + 1])
                r[k] -= rows.upper()[k] * olds[k + 1];
            else
                sup[k] = rows.upper()[k];
        }
    }
    for (int i = 1; i < warmUpPoints; ++i) {
        const std::size_t k = std::size_t(i);
        const double m = sub[k] / d[k - 1];
        d[k] -= m * sup[k - 1];
        r[k] -= m * r[k - 1];
    }
    for (int i = warmUpPoints - 1; i >= 0; --i) {
        const std::size_t k = std::size_t(i);
        fitted[k] = (r[k] - (i < warmUpPoints - 1 ? sup[k] * fitted[k + 1] : 0)) / d[k];
    }
    for (int i = 0; i < warmUpPoints; ++i) {
        WarmUpPoint &p = s.points[std::size_t(i)];
        p.temperature = warmUpStep * i;
        p.weight = rows.weights()[std::size_t(i)];
        p.need = fitted[std::size_t(i)];
        p.oldText = recordedWith.texts.value(warmUpField(i));
        p.newText = p.oldText;
        const int old = olds[std::size_t(i)];
        if (p.temperature < lambdaTemp) {
            p.state = PointState::NoClosedLoop;
            continue;
        }
        if (rows.nearWeights()[std::size_t(i)] < settings.minHits || p.weight <= 0) {
            p.state = PointState::TooFew;
            continue;
        }
        p.state = PointState::Unchanged;
        const double need = p.need;
        if (std::fabs(need - old) < settings.deadBand)
            continue;
        // The fuel may change by the map's limit per round: (1 + new/100) within
        // (1 + old/100)(1 -+ limit/100).
        const double low = ((1 + old / 100.0) * (1 - limit / 100) - 1) * 100;
        const double high = ((1 + old / 100.0) * (1 + limit / 100) - 1) * 100;
        int t = int(std::lround(std::clamp(need, low, high)));
        t = std::clamp(t, int(std::ceil(low - 1e-9)), int(std::floor(high + 1e-9)));
        t = std::clamp(t, -99, 100);
        if (t == old)
            continue;
        p.newText = QString::number(t);
        p.state = t > old ? PointState::Added : PointState::Removed;
        ++s.changed;
    }
    if (s.changed == 0)
        s.sentence = s.used == 0 ? QString::fromUtf8("Nenhuma linha com a sonda em malha fechada passou pelos filtros: "
                                                     "nada a sugerir para o aquecimento.")
                                 : QString::fromUtf8("Nenhum ponto da curva de aquecimento precisa de correção.");
    return s;
}

Tune appliedWarmUp(const Tune &base, const WarmUpSuggestion &suggestion)
{
    Tune out = base;
    for (int i = 0; i < warmUpPoints; ++i) {
        const WarmUpPoint &p = suggestion.points[std::size_t(i)];
        if (p.state == PointState::Added || p.state == PointState::Removed)
            out.texts[warmUpField(i)] = p.newText;
    }
    return out;
}

} // namespace correction
