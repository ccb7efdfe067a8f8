#pragma once
// How much of a cell's mean correction is the cell's own: the rows that passed the
// filters spread their correction over up to four cells, so a cell's mean also holds the
// errors of the neighbours those rows were near. Shared by the closed-loop test on the
// engine model and the closed-loop benchmark.
#include "tuning/correction.h"

#include <array>
#include <vector>

namespace cellsight {

// Per cell, the share of its hits that the weights of the same rows put on cells the
// analysis left below the hit minimum: cells no suggestion corrects, whose errors stay
// in this cell's mean round after round.
inline std::array<double, correction::cellCount> uncoveredShares(const std::vector<logformat::Row> &rows,
                                                                 const correction::Settings &settings,
                                                                 int lambdaTemperature)
{
    using namespace correction;
    const Analysis all = analyse(rows, settings, lambdaTemperature);
    std::array<double, cellCount> share{};
    Accumulator a(settings, lambdaTemperature);
    for (const logformat::Row &r : rows) {
        const std::int64_t used = a.analysis().used;
        a.add(r);
        if (a.analysis().used == used)
            continue;
        std::array<Weight, 4> w;
        const int n = weights(r.values.speedPosition, r.values.loadPosition, w);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                if (all.cells[std::size_t(w[std::size_t(j)].cell)].hits < settings.minHits)
                    share[std::size_t(w[std::size_t(i)].cell)] += w[std::size_t(i)].weight * w[std::size_t(j)].weight;
    }
    for (int k = 0; k < cellCount; ++k)
        share[std::size_t(k)] = all.cells[std::size_t(k)].hits > 0 ? share[std::size_t(k)] / all.cells[std::size_t(k)].hits : 0;
    return share;
}

} // namespace cellsight
