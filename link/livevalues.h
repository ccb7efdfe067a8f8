#pragma once
// The live values of the engine as the scanner's read-outs show them: what the last
// frames of kinds 29, 30 and 31 carried, decoded. Showing a set of them on the screen
// is Scanner::show; the datalog records and replays the same set.
#include <cstdint>

// A reading of the module's converter (steps of 1/1023 of its 5 V reference: the TPS,
// the MAP sensor's supply) in volts.
inline long double converterVolts(int reading) { return reading * 5 / 1023.0L; }

// The map cell of the engine's position (speed 0..48, load 0..42: six steps a cell):
// row = speed div 6 and column = load div 6, truncating towards zero; -1 outside rows
// 0..8 and columns 0..7 (a load past column 7 would otherwise count in the next row).
inline int baseCell(int speedPosition, int loadPosition)
{
    const int row = speedPosition / 6;
    const int column = loadPosition / 6;
    if (row < 0 || row > 8 || column < 0 || column > 7)
        return -1;
    return 8 * row + column;
}

struct LiveValues {
    // Kind 29.
    int temperature = 0;  // engine temperature, °C (p0)
    int columnMap = 0;    // MAP column value (p1)
    int idleActuator = 0; // idle actuator opening (p2)
    int probeMv = 0;      // lambda probe, mV (p3 times 10)
    int tpsReading = 0;   // TPS converter steps (p4 + 256 p5)
    int columnTps = 0;    // TPS column value (p6)
    int loadPosition = 0; // 0..42 (p7)
    // Kind 30.
    int advance = 0;       // degrees (p0)
    int speedPosition = 0; // 0..48 (p1 read signed)
    int pressure = 0;      // atmospheric pressure, mbar (p4 times 20 plus 820)
    // Shown only by a frame with a period: 0 until the first such frame.
    int rpm = 0;
    int injectionTenths = 0; // injection time shown, tenths of a millisecond
    int pump = 0;            // fuel pump on (0 or 1)
    int markedCell = -1;     // base cell the last kind 30 painted red, -1 for none
    // Kind 31.
    int correctionShort = 0, correctionLong = 0; // lambda corrections, %
    int correctionTemperature = 0;               // % of Ti
    int correctionAtmosphere = 0;                // % of Ti
    int correctionAdvance = 0;                   // degrees
    int fan = 0, airConditioning = 0;            // 0 or 1

    // Injector opening in percent as eTi shows it (0 while no speed is known).
    long double opening() const
    {
        return static_cast<long double>(rpm) / 30 * 20 * (injectionTenths / 10.0L) / 100 / 4;
    }
    // The TPS's voltage as "TPS V" and the log's TPSV show it.
    long double tpsVolts() const { return converterVolts(tpsReading); }
    friend bool operator==(const LiveValues &, const LiveValues &) = default;
};
