#pragma once
// The simulator's command line and the value parsers its control lines share.
#include "ecu.h"
#include "engine.h"

#include <string>
#include <string_view>

namespace ecusim {

// The program's engine: a real narrow-band engine unless --kind-engine.
inline Realism realisticEngine()
{
    Realism r;
    r.on = true;
    return r;
}

struct Options {
    std::string link;
    std::string log;
    std::string control;
    std::string dumpOnExit;
    bool logSent = false;
    bool silent = false;
    // Live triples per second, 0 = as fast as the line takes them. The TPS
    // calibration takes its closed-throttle sample from the first kind-29 frame
    // after a poll and its full-throttle sample from the sixth after that one,
    // while the stop command follows the sample only at the next watchdog tick,
    // up to a second later: more than five frames in that second would take the
    // full-throttle sample with the throttle still closed. Four a second keeps
    // well inside that and still gives the watchdog a frame every second.
    double rate = 4;
    double paceMs = 5; // gap between read-back frames
    unsigned seed = 1;
    Fault fault = Fault::None;
    Engine engine;
    int driveAt = -1; // seconds into the drive cycle at start, -1: steady engine
    DriveCycle cycle = DriveCycle::Free;
    FuelMap need = builtInNeed(); // what the engine needs in drive mode
    int speedup = 1;              // drive seconds per second
    Realism realism = realisticEngine();
    WarmUp warmUp; // the drive's own, or a cold start (--cold)
};

inline constexpr int kMaxDriveStart = 1000000; // seconds
inline constexpr int kMaxSpeedup = 1000;

extern const char kUsage[];

// Reads the options into o; false (after a message on stderr) when one is wrong.
// --help prints the usage and ends the program.
bool parseOptions(int argc, char **argv, Options &o);

bool parseInt(std::string_view text, int lo, int hi, int &out);
// A rate of live triples per second; "max" gives 0 (as fast as the line takes them).
bool parseRate(std::string_view text, double &out);
bool parseFault(std::string_view text, Fault &out);
bool parseCycle(std::string_view text, DriveCycle &out);
// Seconds from 0 to 3600, decimals allowed.
bool parseSeconds(std::string_view text, double &out);

} // namespace ecusim
