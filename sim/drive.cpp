#include "drive.h"

#include "points.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace ecusim {

namespace {

constexpr double kPi = 3.14159265358979323846;

// One stretch of the cycle: engine speed and throttle move from the first value
// to the second over its length. An rpm of 0 stands for the idle speed.
struct Segment {
    DrivePhase phase;
    int gear;
    double length; // seconds
    int rpmFrom, rpmTo;
    int throttleFrom, throttleTo; // percent, 0: closed
    bool easeOut;                 // engine speed falls fast first (clutch in)
};

// Gear ratios 3.5, 2.1, 1.4, 1.0: a shift at 4800 rpm lands at 4800 times the
// ratio of the next gear over this one.
constexpr Segment kCycle[] = {
    {DrivePhase::Idle, 0, 7.0, 0, 0, 0, 0, false},
    {DrivePhase::Pull, 1, 5.5, 1300, 4800, 60, 70, false},
    {DrivePhase::Shift, 1, 0.5, 4800, 2900, 0, 0, false},
    {DrivePhase::Pull, 2, 5.5, 2900, 4800, 70, 70, false},
    {DrivePhase::Shift, 2, 0.5, 4800, 3200, 0, 0, false},
    {DrivePhase::Pull, 3, 5.5, 3200, 4800, 70, 70, false},
    {DrivePhase::Shift, 3, 0.5, 4800, 3400, 0, 0, false},
    {DrivePhase::Cruise, 4, 2.0, 3400, 2800, 45, 22, false},
    {DrivePhase::Cruise, 4, 12.0, 2800, 2800, 22, 22, false},
    {DrivePhase::Overrun, 4, 8.0, 2800, 1700, 0, 0, false},
    {DrivePhase::FullThrottle, 3, 7.0, 2400, 6000, 100, 100, false},
    {DrivePhase::LiftOff, 0, 6.0, 6000, 0, 0, 0, true},
};

constexpr double kRising = 0.6; // share of a warm cycle in which the engine heats

constexpr double kProbePeriod = 1.2; // seconds of one lean-rich swing

struct Moment {
    const Segment *segment;
    double into; // seconds into the segment
};

Moment momentOf(double t)
{
    double at = std::fmod(t, kDriveCycle);
    for (const Segment &s : kCycle) {
        if (at < s.length)
            return {&s, at};
        at -= s.length;
    }
    const Segment &last = kCycle[std::size(kCycle) - 1];
    return {&last, last.length};
}

double lerp(double a, double b, double s) { return a + (b - a) * s; }

int engineTemp(double t, const WarmUp &w)
{
    if (t < w.length) {
        const double x = 1.0 - t / w.length;
        return int(std::lround(lerp(w.coldTemp, w.warmTemp, 1.0 - x * x)));
    }
    const double u = std::fmod(t - w.length, kDriveCycle) / kDriveCycle;
    if (u < kRising)
        return int(std::lround(lerp(w.warmTemp, w.hotTemp, u / kRising)));
    return int(std::lround(lerp(w.hotTemp, w.warmTemp, (u - kRising) / (1.0 - kRising))));
}

// The electro-fan with the image's switching temperatures: on from the on
// temperature while heating, off again once the engine has cooled to the off
// temperature.
bool fanRunning(const Image &image, double t, int temp, const WarmUp &w)
{
    if (temp >= image[kFanOn])
        return true;
    const bool cooling = t >= w.length && std::fmod(t - w.length, kDriveCycle) / kDriveCycle >= kRising;
    return cooling && w.hotTemp >= image[kFanOn] && temp > image[kFanOff];
}

int idleRpm(int temp)
{
    const double cold = std::clamp(double(kWarmTemp - temp) / (kWarmTemp - kColdStart), 0.0, 1.0);
    return 900 + int(std::lround(300 * cold));
}

int tpsAt(const Image &image, double throttle)
{
    int min = image[kTpsMin];
    int max = image[kTpsMax] * 4;
    if (max <= min + 10) {
        min = 130;
        max = 920;
    }
    if (throttle <= 0)
        return std::min(1023, min + 3); // a closed throttle reads just above its stop
    return std::clamp(min + int(std::lround(throttle * (max - min))), 0, 1023);
}

void setSpeedAndThrottle(const Image &image, const Moment &m, int temp, OperatingPoint &p)
{
    const Segment &s = *m.segment;
    double x = m.into / s.length;
    if (s.easeOut)
        x = 1.0 - (1.0 - x) * (1.0 - x);
    const int idle = idleRpm(temp);
    double rpm = lerp(s.rpmFrom ? s.rpmFrom : idle, s.rpmTo ? s.rpmTo : idle, x);
    double throttle = lerp(s.throttleFrom, s.throttleTo, x) / 100.0;
    if (s.phase == DrivePhase::Idle) {
        rpm += 15 * std::sin(2 * kPi * m.into / 1.7);
    } else if (s.phase == DrivePhase::Cruise && s.rpmFrom == s.rpmTo) {
        // Holding the speed on a road that is not quite flat.
        const double wave = std::sin(2 * kPi * m.into / 6.0);
        rpm += 80 * wave;
        throttle += 0.03 * wave;
    }
    p.rpm = int(std::lround(rpm));
    p.tps = tpsAt(image, throttle);
    p.load = loadPosition(image, p.tps);
    p.speed = speedPosition(image, p.rpm);
}

// Closed throttle above the cut-off speed: the injectors stay off until the
// engine has slowed to the speed at which they come on again.
bool injectionCut(const Image &image, const Segment &s, int rpm)
{
    if (s.throttleFrom > 0 || s.phase == DrivePhase::Idle || image[kCutOff] == 0)
        return false;
    return s.rpmFrom >= 100 * image[kCutOff] && rpm > 100 * image[kCutOn];
}

// The narrow-band probe and its corrections: swinging lean and rich around the
// mixture while the loop is closed, rich at full throttle, lean while the
// injectors are cut, and a cold probe's middle reading otherwise.
void setProbe(const Image &image, DrivePhase phase, double t, double warmUp, OperatingPoint &p)
{
    const bool closedLoop = !p.cut && p.temp >= image[kLambdaTemp] &&
                            (phase == DrivePhase::Idle || phase == DrivePhase::Pull || phase == DrivePhase::Cruise);
    p.longCorr = int(std::lround(2.0 * std::min(t, warmUp) / warmUp));
    p.shortCorr = 0;
    if (p.cut)
        p.probe = 5;
    else if (phase == DrivePhase::FullThrottle)
        p.probe = 88;
    else if (!closedLoop)
        p.probe = 45;
    if (closedLoop) {
        const double s = std::fmod(t, kProbePeriod) / kProbePeriod;
        const int ripple = int(s * 20) % 6;
        if (s < 0.5) {
            p.probe = 12 + ripple;
            p.shortCorr = -5 + int(std::lround(20 * s));
        } else {
            p.probe = 76 + ripple;
            p.shortCorr = 5 - int(std::lround(20 * (s - 0.5)));
        }
    }
    p.trim = p.shortCorr + p.longCorr;
}

} // namespace

const char *phaseName(DrivePhase phase)
{
    switch (phase) {
    case DrivePhase::Idle: return "idle";
    case DrivePhase::Pull: return "pull";
    case DrivePhase::Shift: return "shift";
    case DrivePhase::Cruise: return "cruise";
    case DrivePhase::Overrun: return "overrun";
    case DrivePhase::FullThrottle: return "full-throttle";
    case DrivePhase::LiftOff: return "lift-off";
    case DrivePhase::Hold: return "hold";
    case DrivePhase::Move: return "move";
    }
    return "idle";
}

const char *cycleName(DriveCycle cycle) { return cycle == DriveCycle::Points ? "points" : "free"; }

double cycleLength(DriveCycle cycle) { return cycle == DriveCycle::Points ? pointsCycleLength() : kDriveCycle; }

DriveState driveState(const Image &image, double t, DriveCycle cycle, const WarmUp &warmUp)
{
    if (cycle == DriveCycle::Points)
        return pointsState(image, t);
    t = std::max(0.0, t);
    const Moment m = momentOf(t);
    DriveState d;
    d.phase = m.segment->phase;
    d.gear = m.segment->gear;
    OperatingPoint &p = d.point;
    p.temp = engineTemp(t, warmUp);
    setSpeedAndThrottle(image, m, p.temp, p);
    p.atm = 1000;
    p.fan = fanRunning(image, t, p.temp, warmUp);
    p.ac = warmUp.ac && t >= warmUp.length && (d.phase == DrivePhase::Idle || d.phase == DrivePhase::Cruise);
    p.cut = injectionCut(image, *m.segment, p.rpm);
    setProbe(image, d.phase, t, warmUp.length, p);
    return d;
}

LiveValues driveValues(const Image &image, double t, DriveCycle cycle)
{
    return liveValues(image, driveState(image, t, cycle).point);
}

} // namespace ecusim
