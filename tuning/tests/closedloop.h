#pragma once
// Rounds of log -> suggest -> write against the simulator's engine, with the real
// velto-cli: shared by the closed-loop end-to-end test and its benchmark.
#include "core/controller.h"
#include "datalog/recorder.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"
#include "tests/support/clirun.h"
#include "tuning/correction.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cmath>

namespace closedloop {

using clirun::Run;

// A round's log runs for its seconds: the time-out leaves room for it.
inline Run cli(const QStringList &arguments) { return clirun::cli(arguments, {}, 120000); }

// The engine's need: the start-up injection map with each cell changed by
// round(15 sin(pi (row - column) / 8)) percent, in tenths of a millisecond.
inline Tune needTune()
{
    Tune t = startupTune();
    const auto start = correction::injectionTenths(t);
    for (int k = 0; k < correction::cellCount; ++k) {
        const int percent = int(std::lround(15 * std::sin(M_PI * (k / 8 - k % 8) / 8)));
        const int tenths = int(std::lround(start[std::size_t(k)] * (100 + percent) / 100.0));
        t.texts[correction::injectionField(k)] = QString::number(tenths / 10) + u',' + QString::number(tenths % 10);
    }
    return t;
}

inline void writeTune(const QString &path, const Tune &t) { MapFile::writeFile(path, mapfile::encodeLine(t.fields())); }

struct Error {
    int covered = 0;
    double mean = 0, largest = 0; // |map - need| / need over the covered cells
    int within = 0;               // cells within the larger of 0,1 ms and 3 % of the need
};

inline Error error(const Tune &map, const Tune &need, const correction::Analysis &a, double minHits = 20)
{
    const auto m = correction::injectionTenths(map), n = correction::injectionTenths(need);
    Error e;
    for (int k = 0; k < correction::cellCount; ++k) {
        if (a.cells[std::size_t(k)].hits < minHits)
            continue;
        const double d = std::abs(m[std::size_t(k)] - n[std::size_t(k)]), rel = d / n[std::size_t(k)];
        ++e.covered;
        e.mean += rel;
        e.largest = std::max(e.largest, rel);
        if (d <= std::max(1.0, 0.03 * n[std::size_t(k)]) + 1e-9)
            ++e.within;
    }
    if (e.covered)
        e.mean /= e.covered;
    return e;
}

// Mean |CorrCurto + CorrLongo| over the rows where the ECU corrects (warm, injecting).
inline double meanCorrection(const logformat::Log &log, int lambdaTemperature)
{
    double sum = 0;
    long n = 0;
    for (const logformat::Row &r : log.rows)
        if (r.values.temperature >= lambdaTemperature && r.values.injectionTenths > 0 && r.values.rpm > 0) {
            sum += std::abs(r.values.correctionShort + r.values.correctionLong);
            ++n;
        }
    return n ? sum / n : 0;
}

// The snapshot beside a log must hold the map the module ran with; a recorder that
// wrote the screen instead leaves a wrong one, which is taken away (--map then says it).
inline bool dropWrongSnapshot(const QString &logPath, const Tune &held)
{
    const QString snapshot = Recorder::tunePath(logPath);
    try {
        if (correction::injectionTenths(MapFile::readTune(snapshot)) == correction::injectionTenths(held))
            return false;
    } catch (const std::exception &) {
    }
    QFile::remove(snapshot);
    return true;
}

} // namespace closedloop
