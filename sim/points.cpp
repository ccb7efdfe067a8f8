#include "points.h"

#include "drive.h"

#include <algorithm>
#include <cmath>

namespace ecusim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kTopRow = 7;
constexpr int kTopColumn = 7;

std::vector<SteadyPoint> makePoints()
{
    std::vector<SteadyPoint> points{{6, 0, 0}};
    for (int row = 1; row <= kTopRow; ++row)
        for (int i = 1; i <= kTopColumn; ++i) {
            const int column = row % 2 ? i : kTopColumn + 1 - i;
            points.push_back({6 * row, 6 * column, 0});
        }
    for (std::size_t i = 1; i < points.size(); ++i)
        points[i].start = points[i - 1].start + kPointHold + kPointMove;
    return points;
}

// The lowest value in [lo, hi] at which position(value) reaches at least target
// (position grows with the value).
template <typename Position> int lowestReaching(int lo, int hi, int target, Position position)
{
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (position(mid) >= target)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// A setting held steady at a position: the middle of the values the ECU marks with
// it, and how far the engine may stray from there without leaving it.
struct Held {
    double middle;
    double wobble;
};

Held heldRpm(const Image &image, int speed)
{
    auto position = [&](int rpm) { return speedPosition(image, rpm); };
    const int lo = lowestReaching(0, 20000, speed, position);
    const int hi = lowestReaching(lo, 20000, speed + 1, position) - 1;
    return {double((lo + hi) / 2), std::floor((hi - lo) / 4.0)};
}

Held heldTps(const Image &image, int load)
{
    auto position = [&](int tps) { return loadPosition(image, tps); };
    const int lo = lowestReaching(0, 1023, load, position);
    const int hi = lowestReaching(lo, 1023, load + 1, position) - 1;
    if (load == 0) // a closed throttle rests just above its stop
        return {double(std::clamp(image[kTpsMin] + 3, lo, hi)), 0};
    if (load == 42) // full throttle: at the stop, the band above it is the sensor's
        return {double(std::clamp(image[kTpsMax] * 4, lo, 1023)), 0};
    return {double((lo + hi) / 2), std::floor((hi - lo) / 4.0)};
}

// Holding the speed and the throttle by hand or brake: a small sway that never
// leaves the point's position, whole periods within the hold.
void setHeld(const Image &image, const SteadyPoint &s, double into, OperatingPoint &p)
{
    const Held rpm = heldRpm(image, s.speed), tps = heldTps(image, s.load);
    p.rpm = int(std::lround(rpm.middle + rpm.wobble * std::sin(2 * kPi * into / (kPointHold / 2))));
    p.tps = int(std::lround(tps.middle + tps.wobble * std::sin(2 * kPi * into / kPointHold)));
}

void setMoving(const Image &image, const SteadyPoint &from, const SteadyPoint &to, double x, OperatingPoint &p)
{
    const double s = (1 - std::cos(kPi * x)) / 2; // smooth at both ends
    const Held r0 = heldRpm(image, from.speed), r1 = heldRpm(image, to.speed);
    const Held t0 = heldTps(image, from.load), t1 = heldTps(image, to.load);
    p.rpm = int(std::lround(r0.middle + (r1.middle - r0.middle) * s));
    p.tps = int(std::lround(t0.middle + (t1.middle - t0.middle) * s));
}

} // namespace

const std::vector<SteadyPoint> &steadyPoints()
{
    static const std::vector<SteadyPoint> points = makePoints();
    return points;
}

double pointsCycleLength() { return steadyPoints().back().start + kPointHold + kPointReturn; }

DriveState pointsState(const Image &image, double t)
{
    const auto &points = steadyPoints();
    const double at = std::fmod(std::max(0.0, t), pointsCycleLength());
    const auto next =
        std::upper_bound(points.begin(), points.end(), at, [](double a, const SteadyPoint &s) { return a < s.start; });
    const SteadyPoint &here = *(next - 1);
    const double into = at - here.start;
    DriveState d;
    OperatingPoint &p = d.point;
    if (into < kPointHold) {
        d.phase = DrivePhase::Hold;
        setHeld(image, here, into, p);
    } else {
        d.phase = DrivePhase::Move;
        const SteadyPoint &to = next == points.end() ? points.front() : *next;
        const double length = next == points.end() ? kPointReturn : kPointMove;
        setMoving(image, here, to, (into - kPointHold) / length, p);
    }
    p.load = loadPosition(image, p.tps);
    p.speed = speedPosition(image, p.rpm);
    p.temp = kPointsTemp;
    p.atm = 1000;
    p.fan = p.temp >= image[kFanOn];
    p.cut = p.load == 0 && image[kCutOff] != 0 && p.rpm > 100 * image[kCutOn];
    p.probe = p.cut ? 5 : 45; // the lambda loop's probe comes from the engine model
    return d;
}

} // namespace ecusim
