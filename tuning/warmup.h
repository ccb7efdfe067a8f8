#pragma once
// The warm-up curve ("Correção Ti" at 0, 15, ... 105 °C) learned from the same logs as
// the injection map. Wherever the lambda correction acts (at or above eSondaTemp, the
// loop in control), the fuel the engine needed at the row's temperature, relative to
// its warm need, is (1 + CorrTemp/100)(1 + (CorrCurto + CorrLongo)/100) - 1. Each row
// counts towards the two typed points around its temperature, shared linearly as the
// curve is read between them; the points are the least-squares fit of all rows (held
// towards the tune's own values where rows are few), and a point with enough rows
// near it gets its fitted value as whole percent, limited per round as the map is.
// Points below eSondaTemp, which the loop never sees, stay as they are.
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "tuning/correction.h"

#include <QString>
#include <array>
#include <vector>

namespace correction {

constexpr int warmUpPoints = 8;
constexpr int warmUpStep = 15; // °C between typed points
// Field index in Tune::texts of the typed point i (0 at 0 °C, 7 at 105 °C).
int warmUpField(int point);

enum class PointState {
    TooFew,       // grey: not enough rows
    Unchanged,    // within the dead band, or the change rounds away
    Added,        // more fuel
    Removed,      // less fuel
    NoClosedLoop, // below eSondaTemp: "sem malha fechada"
};

struct WarmUpPoint {
    int temperature = 0;
    double weight = 0; // sum of the rows' shares
    double need = 0;   // the fitted value, percent
    QString oldText, newText;
    PointState state = PointState::TooFew;
};

struct WarmUpSuggestion {
    std::array<WarmUpPoint, warmUpPoints> points{};
    std::int64_t rows = 0, used = 0;
    int changed = 0;
    QString sentence; // why nothing changes; empty when a point changes
};

// Rows accumulated with the filters of the map's analysis that do not concern the
// temperature (speed, cut-off, throttle, position, probe), at or above eSondaTemp,
// the loop in control, the electro-fan and air conditioning off, and away from the
// full-load column (where the probe cannot measure). Throws the
// conversion error of a point that is no number.
class WarmUpAccumulator {
public:
    WarmUpAccumulator(const Settings &settings, const TuneFacts &facts);
    void beginRun() { filters_.beginRun(); }
    void add(const logformat::Row &row);

    const std::array<double, warmUpPoints> &weights() const { return weight_; }
    // The shares of rows within a third of the step (5 °C) of each point: a point
    // whose rows all lie far from it is extrapolated, not measured.
    const std::array<double, warmUpPoints> &nearWeights() const { return near_; }
    // The normal equations of the fit: diagonal, the one above it, right-hand side.
    const std::array<double, warmUpPoints> &diagonal() const { return diagonal_; }
    const std::array<double, warmUpPoints> &upper() const { return upper_; }
    const std::array<double, warmUpPoints> &rhs() const { return rhs_; }
    std::int64_t used() const { return used_; }
    std::int64_t rows() const { return filters_.analysis().rows; }

private:
    Accumulator filters_;
    int fullLoadFrom_;
    std::array<double, warmUpPoints> weight_{}, near_{}, diagonal_{}, upper_{}, rhs_{};
    std::int64_t used_ = 0;
};

WarmUpSuggestion suggestWarmUp(const WarmUpAccumulator &rows, const Tune &recordedWith, const Settings &settings);
// base with the changed points' texts.
Tune appliedWarmUp(const Tune &base, const WarmUpSuggestion &suggestion);
QString pointMark(PointState state); // "sem malha fechada"

} // namespace correction
