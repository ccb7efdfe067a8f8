#include "engine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ecusim {

namespace {

constexpr int kInjectionOffset = 72; // image offset of cell 0 of the injection map
constexpr int kMapFileFields = 202;
constexpr int kFirstInjectionField = 81; // field of cell 0, counted from 1
constexpr double kCatchUpLimit = 600.0;  // seconds of drive time the loop catches up at most

std::vector<std::string> splitFields(const std::string &line)
{
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = line.find(';', from);
        fields.push_back(line.substr(from, at - from));
        if (at == std::string::npos)
            return fields;
        from = at + 1;
    }
}

// A map file's injection time ("3,5", also "3.5") in tenths of a millisecond:
// a whole number of tenths from 1 to 255, else -1.
int tenthsOf(std::string text)
{
    std::replace(text.begin(), text.end(), ',', '.');
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return -1;
    char *end = nullptr;
    errno = 0;
    const double ms = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0')
        return -1;
    const double tenths = ms * 10.0;
    const long whole = std::lround(tenths);
    if (std::fabs(tenths - double(whole)) > 1e-6 || whole < 1 || whole > 255)
        return -1;
    return int(whole);
}

} // namespace

CellWeights cellWeights(int speed, int load)
{
    const int r = std::clamp(speed, 0, 48);
    const int c = std::clamp(load, 0, 42);
    const int row = r / 6;
    const int column = c / 6;
    const double fr = r / 6.0 - row;
    const double fc = c / 6.0 - column;
    CellWeights w;
    auto add = [&w](int cell, double weight) {
        w.cell[w.count] = cell;
        w.weight[w.count] = weight;
        ++w.count;
    };
    const int cell = 8 * row + column;
    add(cell, (1 - fr) * (1 - fc));
    if (r < 48)
        add(cell + 8, fr * (1 - fc));
    if (c < 42)
        add(cell + 1, (1 - fr) * fc);
    if (r < 48 && c < 42)
        add(cell + 9, fr * fc);
    return w;
}

double interpolate(const FuelMap &map, const CellWeights &w)
{
    double sum = 0;
    for (int i = 0; i < w.count; ++i)
        sum += w.weight[i] * map[std::size_t(w.cell[i])];
    return sum;
}

// Smooth over the map, as an engine's real departure from a map is: neighbouring
// cells differ by 6 % at most, and the drive cycle meets both signs.
int needPatternPercent(int cell)
{
    constexpr double kPi = 3.14159265358979323846;
    const int row = cell / 8;
    const int column = cell % 8;
    return int(std::lround(15.0 * std::sin(kPi * (row - column) / 8.0)));
}

FuelMap injectionMapOf(const Image &image)
{
    FuelMap map{};
    for (int k = 0; k < kCells; ++k)
        map[std::size_t(k)] = image[std::size_t(kInjectionOffset + k)];
    return map;
}

FuelMap builtInNeed()
{
    FuelMap need = injectionMapOf(defaultImage());
    for (int k = 0; k < kCells; ++k) {
        double &v = need[std::size_t(k)];
        v = double(std::lround(v * (100 + needPatternPercent(k)) / 100.0));
    }
    return need;
}

bool loadNeed(const std::string &path, FuelMap &need, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    std::string line = all.str();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    const std::vector<std::string> fields = splitFields(line);
    if (int(fields.size()) != kMapFileFields || line.find_first_of("\r\n") != std::string::npos) {
        error = path + ": not a map file (one line of 202 fields separated by ';', found " +
                std::to_string(fields.size()) + " fields)";
        return false;
    }
    FuelMap read{};
    for (int k = 0; k < kCells; ++k) {
        const int field = kFirstInjectionField + k;
        const int tenths = tenthsOf(fields[std::size_t(field - 1)]);
        if (tenths < 0) {
            error = path + ": field " + std::to_string(field) + " (injection cell " + std::to_string(k) + ") \"" +
                    fields[std::size_t(field - 1)] + "\" is not an injection time from 0,1 to 25,5 ms";
            return false;
        }
        read[std::size_t(k)] = tenths;
    }
    need = read;
    return true;
}

double probeMillivolts(double ratio) { return kProbeSwitch + kProbeSwing * std::tanh(kProbeSlope * (ratio - 1.0)); }

namespace {
constexpr double kStartUpCurve[8] = {55, 40, 30, 20, 12, 5, 0, 0}; // percent at 0, 15, ... 105 °C
constexpr double kRichRail = 410, kLeanRail = 380;                 // mV from 450 to either rail

// A curve of eight points at 0, 15, ... 105 °C read linearly at temp.
double alongCurve(const double *points, double temp)
{
    const double x = std::clamp(temp, 0.0, 105.0) / 15.0;
    const int i = std::min(6, int(x));
    return points[i] + (points[i + 1] - points[i]) * (x - i);
}
} // namespace

double startUpWarmUp(double temp) { return alongCurve(kStartUpCurve, temp); }

double warmUpNeedPercent(const Realism &realism, double temp)
{
    return startUpWarmUp(temp) + alongCurve(realism.warmUpError.data(), temp);
}

int probeTarget(const Image &image, int load, bool realistic)
{
    if (!realistic)
        return int(kProbeSwitch);
    if (load <= 0)
        return 10 * image[kLambdaIdle];
    if (load >= kFullLoadPosition)
        return 10 * image[kLambdaFull];
    return 10 * image[kLambdaPart];
}

double narrowBandMillivolts(double lambda)
{
    const double rich = lambda > 0 ? 1.0 / lambda - 1.0 : 1.0;
    return kProbeSwitch + (rich > 0 ? kRichRail : kLeanRail) * std::tanh(kProbeSlope * rich);
}

EngineModel::EngineModel(const FuelMap &need, unsigned seed, const Realism &realism)
    : need_(need),
      realism_(realism),
      random_(seed)
{
    for (int k = 0; k < kCells; ++k)
        stoichiometric_[std::size_t(k)] = need_[std::size_t(k)] * (k % 8 == 7 ? realism_.powerLambda : 1.0);
    seen_.fill(kProbeSwitch);
}

DriveState EngineModel::state(const Image &image, double t) const { return driveState(image, t, cycle_, warmUp_); }

double EngineModel::mixture(const Image &image, const OperatingPoint &p, const CellWeights &w, double correction) const
{
    if (!realism_.on) {
        const double delivered = interpolate(injectionMapOf(image), w) * (1 + correction / 100);
        const double needed = interpolate(need_, w);
        return needed > 0 ? delivered / needed : 2.0;
    }
    // The fuel as the ECU delivers it, against what the engine burns at lambda 1
    // at this temperature with the fan and the air conditioning as they run.
    const LiveValues v = liveValues(image, p);
    double delivered =
        interpolate(injectionMapOf(image), w) * (100 + v.tempCorr + v.atmCorr) / 100.0 * (1 + correction / 100);
    double needed = interpolate(stoichiometric_, w) * (1 + warmUpNeedPercent(realism_, p.temp) / 100);
    if (p.fan) {
        delivered += image[kFanTi];
        needed += realism_.fanNeed;
    }
    if (p.ac) {
        delivered += image[kAcTi];
        needed += realism_.acNeed;
    }
    return needed > 0 ? delivered / needed : 2.0;
}

void EngineModel::newImage()
{
    learned_.fill(0);
    short_ = 0;
}

bool EngineModel::correcting(const Image &image, const OperatingPoint &p)
{
    const int activity = image[kLambdaActivity];
    if (activity == kLambdaOff || p.rpm <= 0 || p.cut || p.temp < image[kLambdaTemp])
        return false;
    return !(activity == kLambdaOffAtIdle && p.load == 0);
}

double EngineModel::learnedAt(const CellWeights &w) const { return interpolate(learned_, w); }

void EngineModel::advanceTo(const Image &image, double t)
{
    if (time_ < 0 || t < time_ || t - time_ > kCatchUpLimit) {
        // A new drive, or one that jumped: the loop starts there, with what it learned.
        time_ = t;
        step(image, t);
        return;
    }
    while (time_ + kControlStep <= t) {
        time_ += kControlStep;
        step(image, time_);
    }
}

void EngineModel::step(const Image &image, double t)
{
    const OperatingPoint p = state(image, t).point;
    const CellWeights w = cellWeights(p.speed, p.load);
    std::uniform_real_distribution<double> noise(-kProbeNoise, kProbeNoise);
    active_ = correcting(image, p);
    double fresh = kProbeSwitch;
    if (p.rpm <= 0) {
        fresh = 0;
    } else if (p.cut) {
        fresh = std::max(0.0, 50.0 + noise(random_)); // no fuel: lean
    } else if (p.temp < image[kLambdaTemp]) {
        fresh = kProbeSwitch; // a cold probe's middle reading
    } else {
        const double correction = active_ ? short_ + learnedAt(w) : 0.0;
        const double ratio = mixture(image, p, w, correction);
        const double mv = realism_.on ? narrowBandMillivolts(1.0 / ratio) : probeMillivolts(ratio);
        fresh = std::clamp(mv + noise(random_), 0.0, 1000.0);
    }
    if (realism_.on) {
        // The exhaust reaches the probe late: the ECU sees what burnt steps ago.
        const int size = int(seen_.size());
        const int late = std::clamp(int(std::lround(realism_.probeDelay / kControlStep)), 0, size - 1);
        seen_[std::size_t(seenAt_)] = fresh;
        probe_ = seen_[std::size_t((seenAt_ - late + size) % size)];
        seenAt_ = (seenAt_ + 1) % size;
    } else {
        probe_ = fresh;
    }
    if (!active_)
        return; // held, not applied: the loop resumes where it left off
    short_ += probe_ > probeTarget(image, p.load, realism_.on) ? -kShortStep : kShortStep;
    short_ = std::clamp(short_, -kShortLimit, kShortLimit);
    for (int i = 0; i < w.count; ++i) {
        double &learned = learned_[std::size_t(w.cell[i])];
        learned = std::clamp(learned + w.weight[i] * kLearnRate * short_, -kShortLimit, kShortLimit);
    }
}

LiveValues EngineModel::values(const Image &image, double t) const
{
    OperatingPoint p = state(image, t).point;
    const CellWeights w = cellWeights(p.speed, p.load);
    const bool on = correcting(image, p);
    const double shortCorr = on ? short_ : 0.0;
    const double longCorr = on ? learnedAt(w) : 0.0;
    p.probe = int(std::lround(probe_ / 10));
    p.shortCorr = int(std::lround(shortCorr));
    p.longCorr = int(std::lround(longCorr));
    p.trim = 0;
    LiveValues v = liveValues(image, p);
    if (v.injection == 0)
        return v; // stopped or cut off
    // The injection time as delivered: between the four cells, with the
    // temperature and pressure corrections and the loop's own.
    double tenths = interpolate(injectionMapOf(image), w) * (100 + v.tempCorr + v.atmCorr) / 100.0 *
                    (1 + (shortCorr + longCorr) / 100);
    if (p.fan)
        tenths += image[kFanTi];
    if (p.ac)
        tenths += image[kAcTi];
    v.injection = std::clamp(int(std::lround(tenths * 4)), 0, 0xFFFF);
    return v;
}

} // namespace ecusim
