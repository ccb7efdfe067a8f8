#pragma once
// The engine as a fuel need, and the ECU's lambda loop closed around it.
//
// The engine needs a known injection time at each operating point (its "need",
// a 9 x 8 map in tenths of a millisecond, read between the four cells around the
// position). The ECU delivers its uploaded injection map at the position times
// (1 + (short + long correction) / 100); a narrow-band probe tells it whether the
// mixture is rich or lean of what the engine needs, the short correction steps
// against it and the long one learns it per cell. Once settled, the correction
// at a cell is (need / map - 1) x 100 %: a tuner who corrects each cell by the
// mean correction there converges on the need.
//
// The loop runs in control steps of kControlStep seconds of drive time, so that
// it does the same whatever the line's pace and however fast the drive clock runs.
#include "drive.h"
#include "ecu.h"

#include <array>
#include <deque>
#include <random>
#include <string>

namespace ecusim {

constexpr int kCells = 72;
constexpr double kControlStep = 0.05;                                // seconds of drive time per loop step
constexpr double kShortStep = 1.0;                                   // percent per step, towards the probe's side
constexpr double kShortLimit = 25.0;                                 // percent, both corrections
constexpr double kLearnRate = 0.01;                                  // share of the short correction learned per step
constexpr double kProbeSwitch = 450.0;                               // mV at the stoichiometric mixture
constexpr double kProbeSwing = 420.0;                                // mV from the switch point to either rail
constexpr double kProbeSlope = 60.0;                                 // steepness: tanh(slope x (ratio - 1))
constexpr double kProbeNoise = 15.0;                                 // mV, uniform, either way
constexpr int kLambdaOn = 5, kLambdaOff = 10, kLambdaOffAtIdle = 15; // activity codes

// Tenths of a millisecond per cell, cell k = 8 x row + column.
using FuelMap = std::array<double, kCells>;

// What makes the engine as unkind as a real one with a narrow-band probe. Off
// (the kind engine): the need scales with every correction of the tune, the
// probe is seen at once and the loop aims at 450 mV everywhere. On (the
// default of the program):
// - the probe follows a steep curve of lambda (450 mV at lambda 1, towards
//   860 mV rich and 70 mV lean) and is seen probeDelay seconds late;
// - the loop aims at the tune's own targets: eSondaLenta at a closed throttle,
//   eSondaPlena at full load (load position 39 and above), eSondaParcial between;
// - the need map is what a right map holds: fuel for lambda 1, but for lambda
//   powerLambda (power-rich) in the last load column, which the probe reads as
//   rich;
// - the engine needs, at each temperature, the start-up temperature curve plus
//   warmUpError (percent at 0, 15, ... 105 °C, linear between), and fanNeed and
//   acNeed tenths of a millisecond for the electro-fan and the air conditioning,
//   against which the tune's curve and increments are delivered.
struct Realism {
    bool on = false;
    double probeDelay = 0.15;  // seconds
    double powerLambda = 0.88; // the engine's lambda at full load
    std::array<double, 8> warmUpError{6, 5, 4, 4, 3, 2, 0, 0};
    double fanNeed = 5; // tenths of a millisecond (the start-up tune adds 7)
    double acNeed = 12; // tenths of a millisecond (the start-up tune adds 10)
};
// The full-load zone of the loop's targets: load position from here on.
constexpr int kFullLoadPosition = 39;
// The start-up temperature curve (percent at 0, 15, ... 105 °C).
double startUpWarmUp(double temp);
// What the realistic engine needs on top of its warm need at temp, percent.
double warmUpNeedPercent(const Realism &realism, double temp);
// The loop's target (mV) at a load position: the tune's own.
int probeTarget(const Image &image, int load, bool realistic);
// The realistic probe's reading at a lambda, before noise.
double narrowBandMillivolts(double lambda);

// The four cells the ECU interpolates between and their bilinear weights.
struct CellWeights {
    int cell[4] = {0, 0, 0, 0};
    double weight[4] = {0, 0, 0, 0};
    int count = 0;
};
// speed position 0..48, load position 0..42
CellWeights cellWeights(int speed, int load);
double interpolate(const FuelMap &map, const CellWeights &w);

// The built-in need: the start-up injection map, each cell changed by
// needPatternPercent(cell) and rounded to a tenth of a millisecond.
int needPatternPercent(int cell);
FuelMap builtInNeed();
FuelMap injectionMapOf(const Image &image);
// The injection map (fields 81 to 152) of a map file as the need; false with
// the reason in error.
bool loadNeed(const std::string &path, FuelMap &need, std::string &error);

// The probe's reading for a mixture ratio (delivered / needed), before noise.
double probeMillivolts(double ratio);

class EngineModel {
public:
    explicit EngineModel(const FuelMap &need, unsigned seed = 1, const Realism &realism = {});

    const FuelMap &need() const { return need_; }
    // The drive whose operating points the loop runs on.
    void setCycle(DriveCycle cycle) { cycle_ = cycle; }
    DriveCycle cycle() const { return cycle_; }
    // How the free drive warms the engine (a cold start, or the drive's own).
    void setWarmUp(const WarmUp &warmUp) { warmUp_ = warmUp; }
    const Realism &realism() const { return realism_; }
    // Where the engine runs at drive time t.
    DriveState state(const Image &image, double t) const;
    // A new image was taken over: the learned corrections start afresh.
    void newImage();
    // Runs the loop up to drive time t on the drive's operating points.
    void advanceTo(const Image &image, double t);
    // The live values at drive time t with the loop's probe and corrections
    // (t at or after the last step).
    LiveValues values(const Image &image, double t) const;

    double shortCorrection() const { return short_; }
    double learned(int cell) const { return learned_[std::size_t(cell)]; }
    bool active() const { return active_; }
    double probe() const { return probe_; }

private:
    // Whether the ECU corrects at this point: warm, lambda on, injecting.
    static bool correcting(const Image &image, const OperatingPoint &p);
    double learnedAt(const CellWeights &w) const;
    void step(const Image &image, double t);
    // The mixture (delivered over needed; above 1 rich) at the point with the
    // loop's correction: the kind engine's or the realistic one's.
    double mixture(const Image &image, const OperatingPoint &p, const CellWeights &w, double correction) const;

    FuelMap need_;
    FuelMap stoichiometric_{}; // fuel for lambda 1 per cell (the realistic engine)
    Realism realism_;
    WarmUp warmUp_;
    std::array<double, 16> seen_{}; // the realistic probe's past readings, a ring
    int seenAt_ = 0;
    FuelMap learned_{};
    DriveCycle cycle_ = DriveCycle::Free;
    std::mt19937 random_;
    double time_ = -1; // drive time of the last step, -1: none yet
    double short_ = 0;
    double probe_ = kProbeSwitch;
    bool active_ = false;
};

} // namespace ecusim
