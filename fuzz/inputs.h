#pragma once
// How the fuzz targets read their byte input, shared with the seed generator so that
// the seeds mean what the targets make of them.
#include <QByteArray>
#include <QString>
#include "maps/cells.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

static_assert(std::numeric_limits<long double>::digits == 64, "x87 extended precision expected");

namespace fuzzinput {

// fuzz_frames: the first byte sets up the window, then every step is one control byte
// followed by the bytes of one read. The control byte c gives the read's length
// (c % 13, 0 to 12 bytes; fewer when the input ends) and, for c / 13 from 14 up, an
// event of the window that runs just before that read.
namespace frames {
enum Setup : std::uint8_t {
    PortOpen = 0x01,       // "&Ativar" opened the port
    StartTpsCalibration = 0x02, // btnConfigurarTps clicked
    ScannerOn = 0x04,      // "Ativar &Scanner" clicked
    TpsFlag = 0x08,        // the TPS calibration takes samples
};
enum Event : std::uint8_t {
    ReadOnly = 0,       // 0 to 13: nothing but the read
    ToggleScanner = 14, // Button3Click
    ToggleTpsFlag = 15, // the TPS calibration starts or stops taking samples
    Timer1Tick = 16,    // scanner poll and link watchdog
    TimerTpsTick = 17,  // a step of the TPS calibration, and one upload tick if Timer2 runs
    ReadBackTick = 18,  // read-back watchdog
    ReadRequest = 19,   // "&Lêr  Dados" (only reads of 0 to 8 bytes fit in one byte)
};
constexpr int maxRead = 12;
inline std::uint8_t control(Event e, int readLength) { return std::uint8_t(int(e) * 13 + readLength); }
} // namespace frames

// fuzz_numtext: byte 0 chooses what the input runs (see Choice), the next ten bytes are
// a number (read as the bits of an extended-precision value, or as a 64-bit integer
// divided by a power of ten), the rest is a text to parse. Each input runs one text
// through both parsers and one value through one format: every conversion is checked
// against printf's digits, and a few of them per input keep the inputs cheap.
namespace numtext {
constexpr int header = 11;
constexpr int numberAt = 1, numberSize = 10;
enum Encoding : int { Utf8, Latin1, Utf16 };
enum Source : int { Bits, Decimal, Parsed }; // Parsed: the text's value, else the bits
constexpr int encodingCount = 3, sourceCount = 3;
constexpr int generalFormat = 0;  // formats 1 to 10 are the program's patterns,
constexpr int textPattern = 11;   // 11 the text itself as a pattern
constexpr int formatCount = 12;
struct Choice {
    Encoding encoding;
    Source source;
    int format;
};
inline Choice choice(std::uint8_t b)
{
    return {Encoding(b % encodingCount), Source(b / encodingCount % sourceCount),
            b / (encodingCount * sourceCount) % formatCount};
}
inline std::uint8_t choiceByte(Encoding e, Source s, int format)
{
    return std::uint8_t(e + encodingCount * (s + sourceCount * format));
}

// Sign, exponent and fraction as an x87 extended value with its integer bit set as a
// normal or subnormal number has it, so that no unsupported encoding comes out.
inline long double fromBits(const std::uint8_t *b)
{
    std::uint64_t fraction = 0;
    std::memcpy(&fraction, b, 8);
    const std::uint16_t signExponent = std::uint16_t(b[8] | b[9] << 8);
    const int exponent = signExponent & 0x7FFF;
    fraction &= 0x7FFFFFFFFFFFFFFFull;
    if (exponent != 0)
        fraction |= 0x8000000000000000ull;
    unsigned char raw[sizeof(long double)] = {};
    std::memcpy(raw, &fraction, 8);
    std::memcpy(raw + 8, &signExponent, 2);
    long double value;
    std::memcpy(&value, raw, sizeof value);
    return value;
}

inline long double fromDecimal(const std::uint8_t *b)
{
    std::int64_t mantissa = 0;
    std::memcpy(&mantissa, b, 8);
    long double scale = 1;
    for (int i = 0; i < b[8] % 24; ++i)
        scale *= 10;
    return (long double)mantissa / scale;
}
} // namespace numtext

// fuzz_mapblock: byte 0 chooses the map (bit 0: injection) and the view (bit 1: percent),
// bytes 1 to 3 the selection (top-left cell 0 to 71, then rows and columns 1 to 9 and 1
// to 8, cut at the map's edge); the rest is the clipboard's text in UTF-8.
namespace mapblock {
constexpr int header = 4;
struct Setup {
    bool injection = false;
    bool percent = false;
    CellRect selection;
};
inline Setup setup(const QByteArray &b)
{
    auto at = [&](int i) { return i < b.size() ? std::uint8_t(b[i]) : std::uint8_t(0); };
    Setup s;
    s.injection = at(0) & 1;
    s.percent = at(0) & 2;
    const int first = at(1) % (mapRows * mapColumns);
    s.selection.top = first / mapColumns;
    s.selection.left = first % mapColumns;
    s.selection.bottom = std::min(mapRows - 1, s.selection.top + at(2) % mapRows);
    s.selection.right = std::min(mapColumns - 1, s.selection.left + at(3) % mapColumns);
    return s;
}
} // namespace mapblock

} // namespace fuzzinput
