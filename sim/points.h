#pragma once
// The steady-points cycle: the engine held still for a few seconds at the node of
// each injection cell a warm engine reaches, as on a dyno or a steady road run,
// moving smoothly from one to the next. At a node the ECU reads one cell alone,
// so what its lambda loop corrects there is that cell's own error.
#include "ecu.h"

#include <vector>

namespace ecusim {

struct DriveState;

constexpr double kPointHold = 3.0;   // seconds held at each point
constexpr double kPointMove = 1.0;   // seconds from one point to the next
constexpr double kPointReturn = 3.0; // seconds from the last point back to idle
constexpr int kPointsTemp = 85;      // °C, a warm engine throughout

// A point as the scanner marks it: speed position (LinhaRPM) and load position
// (Carga), and the second of the cycle at which its hold begins.
struct SteadyPoint {
    int speed = 0;
    int load = 0;
    double start = 0;
};

// The points in the order the cycle holds them: idle (closed throttle), then rows 1
// to 7 of the map (900 to 5800 rpm; row 8 lies above the rev limiter) at load
// positions 6 to 42, each row's loads in turn up and down so that every move is
// to a neighbouring cell.
const std::vector<SteadyPoint> &steadyPoints();
double pointsCycleLength();

// Where the engine runs t seconds into the steady-points drive (t below 0 counts as 0).
DriveState pointsState(const Image &image, double t);

} // namespace ecusim
