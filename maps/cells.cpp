#include "maps/cells.h"

#include "common/names.h"
#include "common/numtext.h"
#include "maps/views.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>

CellRect CellRect::spanning(int row1, int column1, int row2, int column2)
{
    return {std::min(row1, row2), std::min(column1, column2), std::max(row1, row2), std::max(column1, column2)};
}

bool CellRect::insideMap() const
{
    return top >= 0 && left >= 0 && top <= bottom && left <= right && bottom < mapRows && right < mapColumns;
}

namespace cells {

QString cellName(MapId map, int row, int column)
{
    // Built once: a paste or a tool names up to 144 cells.
    static const std::array<QStringList, 2> table = [] {
        std::array<QStringList, 2> t;
        for (int k = 0; k < mapRows * mapColumns; ++k) {
            t[0] << names::ignitionCell(k);
            t[1] << names::injectionCell(k);
        }
        return t;
    }();
    return table[map == MapId::Ignition ? 0 : 1].at(row * mapColumns + column);
}

QString place(MapId map, int row, int column)
{
    return QStringLiteral("linha %1, coluna %2 do mapa de %3")
        .arg(row + 1)
        .arg(column + 1)
        .arg(map == MapId::Ignition ? QStringLiteral("ignição") : QStringLiteral("injeção"));
}

Limits limits(MapId map)
{
    if (map == MapId::Ignition)
        return {0, 50};
    return {0, 25};
}

Scale scale(MapId map, int row, bool percentView)
{
    const Limits l = limits(map);
    if (map == MapId::Ignition)
        return {l.min, l.max, 0};
    if (!percentView)
        return {l.min, l.max, 1};
    // The largest tenth of a percent that still comes back as at most the limit in ms.
    const long double top = std::floor(l.max * views::dutyFactor(row) * 10 + 1e-9L) / 10;
    return {l.min, top, 1};
}

long double rounded(const Scale &s, long double value)
{
    // Far beyond any cell's range the resolution no longer matters (and the pattern
    // would write hundreds of digits).
    if (!std::isfinite(value) || std::fabs(value) > 1e9L)
        return value;
    const QString pattern = s.decimals == 0 ? QStringLiteral("0") : QStringLiteral("0.0"); // the scales' digits
    const long double general = numtext::parseFloat(numtext::formatGeneral(value));
    const long double r = numtext::parseFloat(numtext::formatFloat(pattern, general));
    return r == 0 ? 0 : r; // no "-0"
}

QString toolText(const Scale &s, long double value)
{
    const long double r = std::clamp(rounded(s, value), s.min, s.max);
    return numtext::formatGeneral(r);
}

bool parseUserNumber(const QString &text, long double *value)
{
    QString t = text;
    if (t.contains(u'.')) {
        if (t.contains(u','))
            return false;
        t.replace(u'.', u',');
    }
    return numtext::tryParseFloat(t, value);
}

QString fieldName(MapId map, int row, int column)
{
    return QStringLiteral("%1 (%2 linha %3 coluna %4)")
        .arg(cellName(map, row, column), map == MapId::Ignition ? QStringLiteral("ignição") : QStringLiteral("injeção"))
        .arg(row + 1)
        .arg(column + 1);
}

long double cellNumber(MapId map, int row, int column, const QString &text)
{
    try {
        return numtext::parseFloat(text);
    } catch (const numtext::ConvertError &e) {
        throw numtext::ConvertError::inField(e, cellName(map, row, column), fieldName(map, row, column), text,
                                             map == MapId::Ignition ? 0 : 1);
    }
}

long double cellValue(const Screen &screen, MapId map, int row, int column)
{
    return cellNumber(map, row, column, screen.text(cellName(map, row, column)));
}

} // namespace cells
