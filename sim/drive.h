#pragma once
// The simulator as a car: a repeating drive cycle (idle, a pull through the
// gears, cruise, overrun, full throttle, lift-off back to idle) on an engine that
// warms up during the first cycles. Everything is a function of the time since
// the drive began, so a test can ask for any moment.
#include "ecu.h"

namespace ecusim {

constexpr double kDriveCycle = 60.0; // seconds of one cycle
constexpr double kWarmUp = 180.0;    // the first three cycles warm the engine
constexpr int kColdStart = 20;       // °C at the start of the drive
constexpr int kWarmTemp = 79;        // °C at the end of the warm-up
constexpr int kHotTemp = 92;         // °C at the top of each warm cycle

// How the free drive warms the engine: from coldTemp °C over length seconds of
// driving to warmTemp, then each warm cycle up to hotTemp and back. The default
// is the drive's own; a cold start (--cold) begins at 25 °C and takes longer, a
// thermostat (--thermostat) holds other temperatures; ac: the air conditioning
// runs at idle and in cruise once warm.
struct WarmUp {
    int coldTemp = kColdStart;
    double length = kWarmUp;
    int warmTemp = kWarmTemp;
    int hotTemp = kHotTemp;
    bool ac = true;
};
constexpr int kColdStartTemp = 25;
constexpr double kColdStartLength = 480.0;

enum class DrivePhase { Idle, Pull, Shift, Cruise, Overrun, FullThrottle, LiftOff, Hold, Move };
const char *phaseName(DrivePhase phase);

// Free: the drive above. Points: the engine held warm at steady points, one per
// cell it reaches (points.h), for gathering correction data cell by cell.
enum class DriveCycle { Free, Points };
const char *cycleName(DriveCycle cycle);
// Seconds of one cycle.
double cycleLength(DriveCycle cycle);

struct DriveState {
    DrivePhase phase = DrivePhase::Idle;
    int gear = 0; // 0 at idle
    OperatingPoint point;
};

// Where the engine runs t seconds after the drive began (t below 0 counts as 0).
// The image gives the throttle sensor's limits, the overrun cut-off speeds, the
// electro-fan temperatures and the probe's working temperature.
DriveState driveState(const Image &image, double t, DriveCycle cycle = DriveCycle::Free, const WarmUp &warmUp = {});
// The live values at that moment.
LiveValues driveValues(const Image &image, double t, DriveCycle cycle = DriveCycle::Free);

} // namespace ecusim
