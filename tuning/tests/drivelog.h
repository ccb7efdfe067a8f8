#pragma once
// A generated log for the correction's end-to-end tests: ten seconds at the middle of
// cell 17 with corr17 percent, ten at cell 40 with corr40, then two cold rows, a line
// that does not read and a row that is no position. With the defaults, cell 17 gets
// 95 hits of +5 % and cell 40 97 hits of -4 %; 204 rows, 192 used. Ti is what a module
// with the start-up set shows.
#include "datalog/logformat.h"
#include "link/tuneimage.h"
#include "tuning/correction.h"

#include <cmath>

// The Ti a module holding the start-up set shows at the values' position and
// corrections: the map between the four cells times the corrections, cut to the tenth.
inline void setStartupTi(LiveValues &v)
{
    static const std::array<int, correction::cellCount> map = correction::injectionTenths(startupTune());
    std::array<correction::Weight, 4> w;
    const int n = correction::weights(std::clamp(v.speedPosition, 0, 48), std::clamp(v.loadPosition, 0, 42), w);
    double at = 0;
    for (int i = 0; i < n; ++i)
        at += w[std::size_t(i)].weight * map[std::size_t(w[std::size_t(i)].cell)];
    v.injectionTenths = int(at * (100 + v.correctionTemperature + v.correctionAtmosphere) / 100 *
                            (100 + v.correctionShort + v.correctionLong) / 100);
}

inline logformat::Row driveRow(std::int64_t ms, int r, int c, int corrShort, int corrLong, int temperature = 85)
{
    logformat::Row x;
    x.ms = ms;
    x.values.temperature = temperature;
    x.values.rpm = 2400;
    x.values.injectionTenths = 40;
    x.values.tpsReading = 300;
    x.values.speedPosition = r;
    x.values.loadPosition = c;
    x.values.probeMv = ms / 100 % 2 ? 200 : 900; // the loop in control: the probe swings across its target
    x.values.correctionShort = corrShort;
    x.values.correctionLong = corrLong;
    setStartupTi(x.values);
    return x;
}

inline std::vector<logformat::Row> driveRows(int corr17 = 5, int corr40 = -4)
{
    std::vector<logformat::Row> rows;
    for (int i = 0; i < 100; ++i)
        rows.push_back(driveRow(100 * i, 12, 6, corr17 - corr17 / 2, corr17 / 2));
    for (int i = 0; i < 100; ++i)
        rows.push_back(driveRow(10000 + 100 * i, 30, 0, corr40, 0));
    return rows;
}

inline QByteArray driveLog(int corr17 = 5, int corr40 = -4)
{
    QByteArray b = logformat::header(QStringLiteral("2.2"), QStringLiteral("2026-01-01T10:00:00"));
    for (const logformat::Row &r : driveRows(corr17, corr40))
        b += logformat::row(r.ms, r.values);
    b += logformat::row(20000, driveRow(0, 30, 0, 9, 9, 60).values);
    b += logformat::row(20100, driveRow(0, 30, 0, 9, 9, 69).values);
    b += "20.200\tnot a row\n";
    b += logformat::row(20300, driveRow(0, 49, 0, 9, 9).values);
    return b;
}
