#include "options.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace ecusim {

bool parseInt(std::string_view text, int lo, int hi, int &out)
{
    int v = 0;
    const char *first = text.data();
    const char *last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || first == last || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parseRate(std::string_view text, double &out)
{
    if (text == "max") {
        out = 0;
        return true;
    }
    std::string s(text);
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || errno != 0 || *end != '\0' || !(v > 0) || v > 100000)
        return false;
    out = v;
    return true;
}

bool parseSeconds(std::string_view text, double &out)
{
    std::string s(text);
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || errno != 0 || *end != '\0' || !(v >= 0) || v > 3600)
        return false;
    out = v;
    return true;
}

bool parseFault(std::string_view text, Fault &out)
{
    if (text == "none")
        out = Fault::None;
    else if (text == "lose-h")
        out = Fault::LoseH;
    else if (text == "lose-hp")
        out = Fault::LoseHP;
    else
        return false;
    return true;
}

bool parseCycle(std::string_view text, DriveCycle &out)
{
    if (text == "free")
        out = DriveCycle::Free;
    else if (text == "points")
        out = DriveCycle::Points;
    else
        return false;
    return true;
}

const char kUsage[] = "usage: velto-ecu-sim [options]\n"
                      "  --link PATH          symlink PATH to the slave device\n"
                      "  --log FILE           log to FILE instead of stderr\n"
                      "  --log-sent           also log every frame sent\n"
                      "  --control PATH       read control lines from a FIFO created at PATH\n"
                      "  --dump-on-exit PATH  write the 256-byte image to PATH on exit\n"
                      "  --rate N|max         live triples per second (default 4)\n"
                      "  --pace MS            gap between read-back frames in ms (default 5)\n"
                      "  --tps N --rpm N --temp N --atm N --load N --speed N   operating point\n"
                      "  --drive              drive a repeating cycle (idle, gears, cruise, overrun,\n"
                      "                       full throttle) from a cold engine instead of holding\n"
                      "                       the operating point\n"
                      "  --drive-at S         the same, starting S seconds into the drive\n"
                      "  --cycle free|points  the drive: the free cycle above (default), or a warm\n"
                      "                       engine held for 3 s at each cell's point in turn\n"
                      "  --engine FILE        the engine needs the injection map of this map file\n"
                      "                       (default: the start-up map changed by a fixed pattern)\n"
                      "  --speedup N          run the drive clock N times faster (default 1)\n"
                      "  --cold               drive from a cold start: 25 degC to the warm cycle over 480 s\n"
                      "  --cold-from C        ... from C degC instead (-40 to 120)\n"
                      "  --thermostat LOW:HIGH  the warm cycle's temperatures (default 79:92)\n"
                      "  --drive-ac on|off    air conditioning at idle and in cruise once warm (default on)\n"
                      "  --cold-length S      ... over S seconds instead (10 to 3600)\n"
                      "  --kind-engine        the kind engine: need scales with every correction, the\n"
                      "                       probe is seen at once, the loop aims at 450 mV\n"
                      "  --probe-delay S      the probe's transport delay (default 0.15, up to 0.75)\n"
                      "  --power-lambda L     the engine's lambda at full load (default 0.88)\n"
                      "  --fan-need MS        fuel the electro-fan's load needs (default 0.5)\n"
                      "  --ac-need MS         fuel the air conditioning needs (default 1.2)\n"
                      "  --warmup-error LIST  percent the engine needs beyond the start-up temperature\n"
                      "                       curve at 0,15,...105 degC (default 6:5:4:4:3:2:0:0)\n"
                      "  --fault none|lose-h|lose-hp   framing fault of the frames sent\n"
                      "  --silent             answer nothing\n"
                      "  --seed N             seed of the garbage bytes and the probe noise\n"
                      "control lines: tps N, rpm N, load N|auto, speed N|auto, temp N, atm N,\n"
                      "  ac on|off, drive on|off, drive at S, cycle free|points, silent on|off,\n"
                      "  fault none|lose-h|lose-hp [COUNT], garbage N, short, diag, dump PATH,\n"
                      "  rate N|max, pace MS, unplug [S], replug, quit\n";

namespace {

// The command line, option by option; the handlers take their values from here.
class OptionReader {
public:
    OptionReader(int argc, char **argv) : argc_(argc), argv_(argv) {}
    bool next() { return ++i_ < argc_; }
    std::string_view name() const { return argv_[i_]; }

    bool text(std::string_view &out)
    {
        if (i_ + 1 >= argc_) {
            std::fprintf(stderr, "velto-ecu-sim: %s needs a value\n", argv_[i_]);
            return false;
        }
        out = argv_[++i_];
        return true;
    }
    bool text(std::string &out)
    {
        std::string_view v;
        if (!text(v))
            return false;
        out = v;
        return true;
    }
    bool number(int lo, int hi, int &out)
    {
        std::string_view v;
        if (!text(v))
            return false;
        if (!parseInt(v, lo, hi, out)) {
            std::fprintf(stderr, "velto-ecu-sim: bad value for %s: %.*s\n", argv_[i_ - 1], int(v.size()), v.data());
            return false;
        }
        return true;
    }
    // A value read by parse; what names it in the message.
    template <typename T> bool parsed(bool (*parse)(std::string_view, T &), T &out, const char *what)
    {
        std::string_view v;
        if (!text(v))
            return false;
        if (!parse(v, out)) {
            std::fprintf(stderr, "velto-ecu-sim: bad %s: %s\n", what, argv_[i_]);
            return false;
        }
        return true;
    }

private:
    int argc_;
    char **argv_;
    int i_ = 0;
};

bool showUsage(OptionReader &, Options &)
{
    std::fputs(kUsage, stdout);
    std::exit(0);
}

bool readPace(OptionReader &r, Options &o)
{
    int ms = 0;
    if (!r.number(0, 10000, ms))
        return false;
    o.paceMs = ms;
    return true;
}

bool readEngine(OptionReader &r, Options &o)
{
    std::string path;
    if (!r.text(path))
        return false;
    std::string error;
    if (!loadNeed(path, o.need, error)) {
        std::fprintf(stderr, "velto-ecu-sim: %s\n", error.c_str());
        return false;
    }
    return true;
}

bool readSeed(OptionReader &r, Options &o)
{
    int seed = 0;
    if (!r.number(0, 0x7FFFFFFF, seed))
        return false;
    o.seed = unsigned(seed);
    return true;
}

// A decimal number within [lo, hi].
bool readDecimal(OptionReader &r, double lo, double hi, double &out)
{
    std::string text;
    if (!r.text(text))
        return false;
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(v >= lo) || !(v <= hi)) {
        std::fprintf(stderr, "velto-ecu-sim: bad value: %s (%g to %g)\n", text.c_str(), lo, hi);
        return false;
    }
    out = v;
    return true;
}

bool readTenths(OptionReader &r, double &tenths)
{
    double ms = 0;
    if (!readDecimal(r, 0, 25.5, ms))
        return false;
    tenths = ms * 10;
    return true;
}

// Eight percentages separated by ':'.
bool readWarmUpError(OptionReader &r, Options &o)
{
    std::string text;
    if (!r.text(text))
        return false;
    std::array<double, 8> points{};
    std::size_t from = 0;
    for (int i = 0; i < 8; ++i) {
        const std::size_t at = text.find(':', from);
        const std::string part = text.substr(from, at == std::string::npos ? std::string::npos : at - from);
        char *end = nullptr;
        const double v = std::strtod(part.c_str(), &end);
        if (part.empty() || *end != '\0' || !(v >= -50 && v <= 50) || (i < 7) == (at == std::string::npos)) {
            std::fprintf(stderr,
                         "velto-ecu-sim: bad --warmup-error: %s (eight percentages from -50 to 50 "
                         "separated by ':')\n",
                         text.c_str());
            return false;
        }
        points[std::size_t(i)] = v;
        from = at + 1;
    }
    o.realism.warmUpError = points;
    return true;
}

bool readCold(OptionReader &, Options &o)
{
    o.warmUp.coldTemp = kColdStartTemp;
    o.warmUp.length = kColdStartLength;
    if (o.driveAt < 0)
        o.driveAt = 0;
    return true;
}

// "LOW:HIGH", the warm cycle's temperatures.
bool readThermostat(OptionReader &r, Options &o)
{
    std::string text;
    if (!r.text(text))
        return false;
    const std::size_t at = text.find(':');
    int low = 0, high = 0;
    if (at == std::string::npos || !parseInt(std::string_view(text).substr(0, at), 40, 120, low) ||
        !parseInt(std::string_view(text).substr(at + 1), 40, 120, high) || high < low) {
        std::fprintf(stderr, "velto-ecu-sim: bad --thermostat: %s (LOW:HIGH, 40 to 120 degC)\n", text.c_str());
        return false;
    }
    o.warmUp.warmTemp = low;
    o.warmUp.hotTemp = high;
    return true;
}

struct OptionEntry {
    std::string_view name;
    bool (*read)(OptionReader &, Options &);
};

const OptionEntry kOptions[] = {
    {"--help", showUsage},
    {"-h", showUsage},
    {"--link", [](OptionReader &r, Options &o) { return r.text(o.link); }},
    {"--log", [](OptionReader &r, Options &o) { return r.text(o.log); }},
    {"--control", [](OptionReader &r, Options &o) { return r.text(o.control); }},
    {"--dump-on-exit", [](OptionReader &r, Options &o) { return r.text(o.dumpOnExit); }},
    {"--log-sent",
     [](OptionReader &, Options &o) {
         o.logSent = true;
         return true;
     }},
    {"--silent",
     [](OptionReader &, Options &o) {
         o.silent = true;
         return true;
     }},
    {"--rate", [](OptionReader &r, Options &o) { return r.parsed(parseRate, o.rate, "rate"); }},
    {"--pace", readPace},
    {"--seed", readSeed},
    {"--fault", [](OptionReader &r, Options &o) { return r.parsed(parseFault, o.fault, "fault"); }},
    {"--tps", [](OptionReader &r, Options &o) { return r.number(0, 1023, o.engine.tps); }},
    {"--rpm", [](OptionReader &r, Options &o) { return r.number(0, 20000, o.engine.rpm); }},
    {"--temp", [](OptionReader &r, Options &o) { return r.number(-40, 150, o.engine.temp); }},
    {"--atm", [](OptionReader &r, Options &o) { return r.number(500, 1200, o.engine.atm); }},
    {"--load", [](OptionReader &r, Options &o) { return r.number(0, 42, o.engine.loadOverride); }},
    {"--speed", [](OptionReader &r, Options &o) { return r.number(0, 48, o.engine.speedOverride); }},
    {"--drive",
     [](OptionReader &, Options &o) {
         o.driveAt = 0;
         return true;
     }},
    {"--drive-at", [](OptionReader &r, Options &o) { return r.number(0, kMaxDriveStart, o.driveAt); }},
    {"--cycle", [](OptionReader &r, Options &o) { return r.parsed(parseCycle, o.cycle, "cycle"); }},
    {"--engine", readEngine},
    {"--speedup", [](OptionReader &r, Options &o) { return r.number(1, kMaxSpeedup, o.speedup); }},
    {"--cold", readCold},
    {"--cold-from", [](OptionReader &r, Options &o) { return r.number(-40, 120, o.warmUp.coldTemp); }},
    {"--thermostat", readThermostat},
    {"--drive-ac",
     [](OptionReader &r, Options &o) {
         std::string_view v;
         if (!r.text(v))
             return false;
         if (v != "on" && v != "off") {
             std::fprintf(stderr, "velto-ecu-sim: bad --drive-ac: %.*s (on or off)\n", int(v.size()), v.data());
             return false;
         }
         o.warmUp.ac = v == "on";
         return true;
     }},
    {"--cold-length", [](OptionReader &r, Options &o) { return readDecimal(r, 10, 3600, o.warmUp.length); }},
    {"--kind-engine",
     [](OptionReader &, Options &o) {
         o.realism.on = false;
         return true;
     }},
    {"--probe-delay", [](OptionReader &r, Options &o) { return readDecimal(r, 0, 0.75, o.realism.probeDelay); }},
    {"--power-lambda", [](OptionReader &r, Options &o) { return readDecimal(r, 0.6, 1.2, o.realism.powerLambda); }},
    {"--fan-need", [](OptionReader &r, Options &o) { return readTenths(r, o.realism.fanNeed); }},
    {"--ac-need", [](OptionReader &r, Options &o) { return readTenths(r, o.realism.acNeed); }},
    {"--warmup-error", readWarmUpError},
};

} // namespace

bool parseOptions(int argc, char **argv, Options &o)
{
    OptionReader reader(argc, argv);
    while (reader.next()) {
        const auto entry = std::find_if(std::begin(kOptions), std::end(kOptions),
                                        [&](const OptionEntry &e) { return e.name == reader.name(); });
        if (entry == std::end(kOptions)) {
            std::fprintf(stderr, "velto-ecu-sim: unknown option %s\n%s", reader.name().data(), kUsage);
            return false;
        }
        if (!entry->read(reader, o))
            return false;
    }
    return true;
}

} // namespace ecusim
