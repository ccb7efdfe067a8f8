#pragma once
// A quick before and after of a change: the logs recorded before it and those recorded
// after it, each analysed per cell as the correction does (the mean correction the
// lambda loop had to make in each cell of the injection map, and how many rows ran
// there), relative to the tune each side was recorded with.
#include "tuning/correction.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace correction {

struct LogsCells {
    QStringList paths;
    // Why the logs could not be analysed, in one sentence; empty when they were, or
    // when there are none.
    QString refusal;
    // Per cell: the fitted mean correction (percent) and the rows' weight; none when
    // there are no logs or they were refused.
    std::optional<Suggestion> cells;
    std::int64_t rows = 0; // rows read from the logs
    std::int64_t used = 0; // of those, rows that passed every filter
};

// Reads and analyses the logs with the tune written beside them (readLogs), as the
// correction does. Never throws: a refusal is kept in LogsCells::refusal.
LogsCells analyseLogs(const QStringList &paths, const Settings &settings = {});

// A cell of one side: "+3,2 %\n45 amostras"; "—" where no row ran; empty without cells.
QString meanText(const LogsCells &side, int cell);

} // namespace correction
