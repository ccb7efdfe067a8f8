#include "tuning/beforeafter.h"

#include "common/numtext.h"
#include "tuning/recordedlogs.h"

#include <cmath>

namespace correction {

LogsCells analyseLogs(const QStringList &paths, const Settings &settings)
{
    LogsCells side;
    side.paths = paths;
    if (paths.isEmpty())
        return side;
    try {
        const RecordedLogs logs = readLogs(paths);
        requireRuleChannels(logs, settings);
        const Analysis analysis = analyse(logs, settings);
        side.cells = suggest(analysis, logs.tune, settings);
        side.rows = analysis.rows;
        side.used = analysis.used;
    } catch (const Refused &e) {
        side.refusal = QString::fromUtf8(e.what());
    } catch (const std::exception &e) {
        side.refusal = QString::fromUtf8("Os registros não puderam ser analisados: %1").arg(asSentence(e));
    }
    return side;
}

QString meanText(const LogsCells &side, int cell)
{
    if (!side.cells)
        return {};
    const CellSuggestion &c = side.cells->cells[std::size_t(cell)];
    const long hits = std::lround(c.hits);
    if (hits == 0)
        return QString::fromUtf8("—");
    const QString mean = numtext::formatFixed(c.mean, 1);
    return (c.mean > 0 && mean != QStringLiteral("0,0") ? QStringLiteral("+") : QString()) + mean +
           QStringLiteral(" %\n") + QString::number(hits) +
           (hits == 1 ? QStringLiteral(" amostra") : QStringLiteral(" amostras"));
}

} // namespace correction
