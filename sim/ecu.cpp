#include "ecu.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ecusim {

namespace {

// Ignition map as delivered, whole degrees, row 0 lowest speed.
constexpr std::uint8_t kIgnition[9][8] = {
    {10, 10, 6, 6, 6, 6, 6, 6},       {10, 10, 12, 12, 12, 12, 13, 14}, {11, 15, 18, 21, 24, 28, 26, 25},
    {32, 32, 32, 32, 30, 28, 27, 25}, {33, 33, 32, 32, 30, 29, 28, 26}, {33, 33, 32, 32, 30, 29, 28, 26},
    {34, 34, 33, 33, 31, 30, 29, 27}, {34, 34, 33, 33, 31, 30, 29, 27}, {34, 34, 33, 33, 31, 30, 29, 27},
};

// Injection map as delivered, tenths of a millisecond.
constexpr std::uint8_t kInjection[9][8] = {
    {35, 52, 58, 64, 74, 78, 80, 81}, {31, 43, 53, 62, 73, 76, 78, 81}, {28, 40, 50, 62, 72, 74, 78, 81},
    {25, 38, 44, 62, 72, 74, 80, 82}, {24, 33, 42, 66, 74, 82, 82, 83}, {24, 31, 42, 68, 76, 87, 86, 86},
    {23, 29, 40, 67, 77, 82, 83, 85}, {23, 28, 39, 66, 78, 78, 83, 83}, {22, 28, 38, 65, 78, 78, 81, 81},
};

// Typed points of the temperature curves (0, 15, ... 105 °C).
constexpr int kTiTyped[8] = {55, 40, 30, 20, 12, 5, 0, 0};
constexpr int kAdvanceTyped[8] = {5, 4, 3, 2, 1, 0, 0, -2};
constexpr int kIdleTyped[8] = {70, 50, 40, 30, 20, 15, 0, 0};
constexpr int kAtmTyped[4] = {0, 0, 0, 0};

// Fills a curve of `points` points at `offset` from its typed points (every third
// point); the two points of each gap are a + trunc((b - a) / 3) and
// a + trunc(2 (b - a) / 3).
void fillCurve(Image &image, int offset, const int *typed, int typedCount)
{
    for (int i = 0; i < typedCount; ++i)
        image[offset + 3 * i] = static_cast<std::uint8_t>(typed[i]);
    for (int i = 0; i + 1 < typedCount; ++i) {
        const int a = typed[i];
        const int b = typed[i + 1];
        image[offset + 3 * i + 1] = static_cast<std::uint8_t>(a + (b - a) / 3);
        image[offset + 3 * i + 2] = static_cast<std::uint8_t>(a + 2 * (b - a) / 3);
    }
}

int clampInt(int v, int lo, int hi) { return std::max(lo, std::min(hi, v)); }

std::int8_t signedAt(const Image &image, int offset) { return static_cast<std::int8_t>(image[offset]); }

// Index 0..21 of the temperature curves for an engine temperature.
int tempIndex(int temp) { return clampInt(temp, 0, 105) / 5; }
int atmIndex(int atm) { return clampInt((atm - 820) / 20, 0, 9); }

std::uint8_t lo(int v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t hi(int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }

} // namespace

Image defaultImage()
{
    Image image{};
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 8; ++c) {
            image[8 * r + c] = kIgnition[r][c];
            image[72 + 8 * r + c] = kInjection[r][c];
        }
    fillCurve(image, kTiCurve, kTiTyped, 8);
    fillCurve(image, kAdvanceCurve, kAdvanceTyped, 8);
    fillCurve(image, kIdleCurve, kIdleTyped, 8);
    fillCurve(image, kAtmCurve, kAtmTyped, 4);
    image[kLambdaIdle] = 55;
    image[kLambdaPart] = 70;
    image[kLambdaFull] = 82;
    image[kLambdaType] = 5;
    image[kLambdaSource] = 5;
    image[kLambdaTemp] = 30;
    image[kLambdaActivity] = 5;
    image[kQuickSource] = 5;
    image[kQuickShort] = 30;
    image[kQuickLong] = 5;
    image[kQuickDecrement] = 3;
    image[kWheel] = 3;
    image[kTooth] = 8;
    image[kRpmLimit] = 60;
    image[kMapCombination] = 5;
    image[kCrankAdvance] = 6;
    image[kSpeedScale] = 0;
    image[kCoilCharge] = 144;
    image[kZeroPoint] = 0;
    image[kTpsMin] = 130;
    image[kTpsMax] = 230;
    image[247] = 0;
    image[kCutOff] = 22;
    image[kCutOn] = 15;
    image[kFanOn] = 87;
    image[kFanOff] = 80;
    image[kFanTi] = 7;
    image[kFanIdle] = 20;
    image[kAcTi] = 10;
    image[kAcIdle] = 70;
    return image;
}

Bytes makeFrame(std::uint8_t kind, const Payload &payload)
{
    Bytes f;
    f.reserve(kFrameSize);
    f.push_back('H');
    f.push_back('P');
    f.push_back(kind);
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back('F');
    return f;
}

Payload readBackPayload(const Image &image, int kind)
{
    Payload p{};
    auto at = [&](std::initializer_list<int> offsets) {
        int i = 0;
        for (int o : offsets) {
            p[i++] = o < 0 ? 0 : image[o];
        }
    };
    if (kind >= 1 && kind <= 18) {
        const int base = 8 * (kind - 1);
        for (int i = 0; i < 8; ++i)
            p[i] = image[base + i];
    } else if (kind >= 19 && kind <= 21) {
        const int base = kind == 19 ? kTiCurve : kind == 20 ? kAdvanceCurve : kIdleCurve;
        for (int i = 0; i < 8; ++i)
            p[i] = image[base + 3 * i];
    } else if (kind == 22) {
        at({kAtmCurve, kAtmCurve + 3, kAtmCurve + 6, kAtmCurve + 9, kQuickSource, kQuickShort, kQuickLong,
            kQuickDecrement});
    } else if (kind == 23) {
        at({kLambdaType, -1, kLambdaActivity, kLambdaTemp, kLambdaIdle, kLambdaPart, kLambdaFull, kLambdaSource});
    } else if (kind == 24) {
        for (int i = 0; i < 8; ++i)
            p[i] = image[kCutOff + i];
    } else if (kind == 25) {
        at({kWheel, kTooth, kRpmLimit, kMapCombination, kCrankAdvance, kTpsMin, kTpsMax, kSpeedScale});
    } else if (kind == 26) {
        at({kCoilCharge, kZeroPoint, -1, -1, -1, -1, -1, -1});
    }
    return p;
}

Bytes applyFault(const Bytes &frame, Fault fault)
{
    switch (fault) {
    case Fault::None: return frame;
    case Fault::LoseH: {
        Bytes f(frame.begin() + 1, frame.end());
        f.push_back(' ');
        return f;
    }
    case Fault::LoseHP: {
        Bytes f(frame.begin() + 2, frame.end());
        f.push_back(' ');
        f.push_back(' ');
        return f;
    }
    }
    return frame;
}

const char *faultName(Fault fault)
{
    switch (fault) {
    case Fault::None: return "none";
    case Fault::LoseH: return "lose-h";
    case Fault::LoseHP: return "lose-hp";
    }
    return "none";
}

void ParameterMemory::storeBlock(int block, const std::uint8_t *bytes)
{
    if (block < 1 || block > kBlockCount)
        return;
    if (!pending_) {
        staging_ = image_;
        pending_ = true;
    }
    std::copy(bytes, bytes + 8, staging_.begin() + 8 * (block - 1));
}

bool ParameterMemory::commit()
{
    if (!pending_)
        return false;
    image_ = staging_;
    pending_ = false;
    return true;
}

void InputParser::feed(const std::uint8_t *data, std::size_t size, double now, std::vector<Unit> &out)
{
    if (size > 0)
        expire(now, out);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (partial_.empty()) {
            if (b == 0x00) {
                expected_ = kCommandSize;
            } else if (b >= 1 && b <= kBlockCount) {
                expected_ = kUploadFrameSize;
            } else {
                out.push_back({Unit::Dropped, {b}});
                continue;
            }
        }
        partial_.push_back(b);
        if (partial_.size() == expected_) {
            Unit u{Unit::UploadFrame, std::move(partial_)};
            partial_.clear();
            if (expected_ == kCommandSize) {
                const bool tailOk = u.bytes[2] == 'a' && u.bytes[3] == 'a' && u.bytes[4] == 'a' && u.bytes[5] == 'a';
                u.type = tailOk ? Unit::Command : Unit::BadCommand;
            }
            out.push_back(std::move(u));
        }
    }
    lastByte_ = now;
}

void InputParser::expire(double now, std::vector<Unit> &out)
{
    if (!partial_.empty() && now - lastByte_ > gapLimit_) {
        out.push_back({Unit::Incomplete, std::move(partial_)});
        partial_.clear();
    }
}

int speedPosition(const Image &image, int rpm)
{
    const int scale = image[kSpeedScale] <= 2 ? image[kSpeedScale] : 0;
    const int step = 200 * scale + 800;
    int rows[9] = {500, 900};
    for (int n = 1; n <= 7; ++n)
        rows[n + 1] = 1000 + n * step;
    if (rpm <= rows[0])
        return 0;
    if (rpm >= rows[8])
        return 48;
    int n = 0;
    while (rpm >= rows[n + 1])
        ++n;
    return 6 * n + 6 * (rpm - rows[n]) / (rows[n + 1] - rows[n]);
}

namespace {
double throttleFraction(const Image &image, int tps)
{
    const int min = image[kTpsMin];
    const int max = image[kTpsMax] * 4;
    if (max <= min)
        return tps > min ? 1.0 : 0.0;
    return std::clamp(double(tps - min) / double(max - min), 0.0, 1.0);
}
} // namespace

int loadPosition(const Image &image, int tps) { return int(std::lround(42.0 * throttleFraction(image, tps))); }

int tpsColumn(const Image &image, int tps) { return int(std::lround(100.0 * throttleFraction(image, tps))); }

LiveValues liveValues(const Image &image, const OperatingPoint &p)
{
    const int row = clampInt(p.speed / 6, 0, 8);
    const int col = clampInt(p.load / 6, 0, 7);
    const int cell = 8 * row + col;
    const int ti = tempIndex(p.temp);
    const bool running = p.rpm > 0;

    LiveValues v;
    v.tempCorr = signedAt(image, kTiCurve + ti);
    v.atmCorr = signedAt(image, kAtmCurve + atmIndex(p.atm));
    v.advCorr = signedAt(image, kAdvanceCurve + ti);

    int idle = signedAt(image, kIdleCurve + ti);
    if (p.fan)
        idle += image[kFanIdle];
    if (p.ac)
        idle += image[kAcIdle];

    v.temp = clampInt(p.temp, 0, 255);
    v.mapColumn = 30 + p.load * 70 / 42;
    v.idle = clampInt(idle, 0, 100);
    v.probe = p.probe;
    v.tps = clampInt(p.tps, 0, 1023);
    v.tpsColumn = tpsColumn(image, v.tps);
    v.load = clampInt(p.load, 0, 255);

    int advance = image[cell] + v.advCorr;
    if (running && p.rpm < 400)
        advance = image[kCrankAdvance];
    int tenths = image[72 + cell] * (100 + v.tempCorr + v.atmCorr + p.trim) / 100;
    if (p.fan)
        tenths += image[kFanTi];
    if (p.ac)
        tenths += image[kAcTi];
    if (!running || p.cut)
        tenths = 0;
    v.advance = clampInt(advance, 0, 255);
    v.speed = clampInt(p.speed, 0, 255);
    v.injection = clampInt(tenths * 4, 0, 0xFFFF);
    v.atmStep = clampInt((p.atm - 820) / 20, 0, 255);
    v.period = running ? std::min(0xFFFF, 1200000 / p.rpm) : 0;
    v.pump = running;

    v.shortCorr = p.shortCorr;
    v.longCorr = p.longCorr;
    v.fan = p.fan;
    v.ac = p.ac;
    return v;
}

std::array<Bytes, 3> encodeLive(const LiveValues &v)
{
    const Payload a{lo(v.temp), lo(v.mapColumn), lo(v.idle),      lo(v.probe),
                    lo(v.tps),  hi(v.tps),       lo(v.tpsColumn), lo(v.load)};
    const Payload b{lo(v.advance), lo(v.speed),  lo(v.injection), hi(v.injection),
                    lo(v.atmStep), lo(v.period), hi(v.period),    std::uint8_t(v.pump ? 1 : 0)};
    const Payload c{lo(v.shortCorr),
                    lo(v.longCorr),
                    lo(v.tempCorr),
                    lo(v.atmCorr),
                    lo(v.advCorr),
                    std::uint8_t(v.fan ? 1 : 0),
                    std::uint8_t(v.ac ? 1 : 0),
                    0};
    return {makeFrame(29, a), makeFrame(30, b), makeFrame(31, c)};
}

std::array<Bytes, 3> liveFrames(const Image &image, Engine &e)
{
    // Electro-fan with the image's switching temperatures.
    if (e.temp >= image[kFanOn])
        e.fan = true;
    else if (e.temp <= image[kFanOff])
        e.fan = false;

    const bool running = e.rpm > 0;
    OperatingPoint p;
    p.rpm = e.rpm;
    p.tps = e.tps;
    p.load = e.loadOverride >= 0 ? e.loadOverride : loadPosition(image, e.tps);
    p.speed = e.speedOverride >= 0 ? e.speedOverride : speedPosition(image, e.rpm);
    p.temp = e.temp;
    p.atm = e.atm;
    p.ac = e.ac;
    p.fan = e.fan;
    // Narrow-band probe swinging between lean and rich.
    p.probe = running ? (e.cycle % 2 ? 80 : 15) : 0;
    p.shortCorr = running ? int(e.cycle % 7) - 3 : 0;

    ++e.cycle;
    return encodeLive(liveValues(image, p));
}

std::array<Bytes, 3> diagnosticFrames(const Image &image, const Engine &e, const Counters &n)
{
    // Kind 32: MAP sensor supply reading (10-bit converter, about 4.9 V), then
    // the line counters.
    const int supply = 1000;
    Payload a{lo(supply),       hi(supply),       lo(int(n.uploadFrames)), lo(int(n.commits)), lo(int(n.readRequests)),
              lo(int(n.polls)), lo(int(n.stops)), lo(int(n.dropped))};
    // Kind 33: operating point.
    Payload b{lo(e.rpm), hi(e.rpm), lo(e.tps),       hi(e.tps), lo(clampInt(e.temp, 0, 255)),
              lo(e.atm), hi(e.atm), lo(int(e.cycle))};
    // Kind 34: image checksum and the engine set-up bytes.
    int sum = 0;
    for (std::uint8_t v : image)
        sum += v;
    Payload c{lo(sum),        hi(sum),       image[kWheel], image[kTooth], image[kRpmLimit], image[kSpeedScale],
              image[kTpsMin], image[kTpsMax]};
    return {makeFrame(32, a), makeFrame(33, b), makeFrame(34, c)};
}

std::string hex(const std::uint8_t *data, std::size_t size)
{
    std::string s;
    s.reserve(size * 3);
    char buf[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", data[i]);
        if (i)
            s.push_back(' ');
        s += buf;
    }
    return s;
}

} // namespace ecusim
