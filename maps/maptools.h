#pragma once
// Copy, paste and the tools that work on a rectangle of cells of either map. Every
// operation works out all new texts first: a value that does not convert, does not fit
// or lies outside a cell's range stops it with one message naming the cell, before any
// cell changes.
#include "common/context.h"
#include "maps/cells.h"

#include <array>
#include <functional>

enum class MapTool { SetValue, Add, Multiply, Interpolate, Smooth };

namespace maptools {

using Values = std::array<std::array<long double, mapColumns>, mapRows>;
using Reader = std::function<long double(int row, int column)>;

// Bilinear between the four corners of rect (along the row or the column alone for a
// rect of one row or one column); the result holds the cells of rect only.
Values interpolate(const CellRect &rect, const Reader &value);
// Each cell of rect: (4 x itself + each of its up to 8 neighbours inside the map) /
// (4 + number of neighbours), from the values before the change.
Values smooth(const CellRect &rect, const Reader &value);

} // namespace maptools

class MapTools {
public:
    explicit MapTools(Context &ctx);

    // The cells' texts as the block a spreadsheet takes.
    QString copy(MapId map, const CellRect &rect) const;
    // A block lands with its first value on the selection's top-left cell; a single
    // value fills the whole selection.
    void paste(MapId map, const CellRect &selection, const QString &text);
    // Set, add and multiply ask their amount through the prompt, the question naming the
    // unit, the range of the selected cells and the decimal comma; a cancelled question
    // changes nothing. A cell whose value does not change keeps its text.
    void run(MapTool tool, MapId map, const CellRect &selection);

private:
    std::optional<long double> askAmount(MapTool tool, MapId map, const CellRect &selection);
    // The values rounded and limited to each cell's scale, written.
    void write(MapId map, const CellRect &rect, const maptools::Values &values);
    void writeTexts(MapId map, const CellRect &rect, const QStringList &texts);
    maptools::Reader reader(MapId map) const;

    Context &ctx_;
};
