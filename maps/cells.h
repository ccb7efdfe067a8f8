#pragma once
// The cells of either map as numbers: where a cell lies, what its text holds, the
// resolution and range of a value written into it, and how it is named to the user.
#include "common/screen.h"

#include <QString>

enum class MapId { Ignition, Injection };

inline constexpr int mapRows = 9;
inline constexpr int mapColumns = 8;

// A rectangle of cells, bounds included (rows 0..8, columns 0..7).
struct CellRect {
    int top = 0, left = 0, bottom = 0, right = 0;

    static CellRect spanning(int row1, int column1, int row2, int column2);
    static CellRect whole() { return {0, 0, mapRows - 1, mapColumns - 1}; }
    int rows() const { return bottom - top + 1; }
    int columns() const { return right - left + 1; }
    int count() const { return rows() * columns(); }
    bool contains(int row, int column) const
    {
        return row >= top && row <= bottom && column >= left && column <= right;
    }
    bool insideMap() const;
    friend bool operator==(const CellRect &, const CellRect &) = default;
};

namespace cells {

QString cellName(MapId map, int row, int column); // "e12" / "e12i"
// "linha 2, coluna 5 do mapa de injeção" (rows and columns counted from 1).
QString place(MapId map, int row, int column);

// The one range of every value the program writes into a cell of that map, in the
// map's own unit: ignition 0 to 50 degrees, injection 0 to 25 ms. The bulk change caps
// the ms view at it, and the paste, the tools and the correction keep within it. (A
// byte of the parameter image carries up to 25,5 ms, so a read-back may show more; no
// edit writes it.)
struct Limits {
    long double min = 0;
    long double max = 0;
};
Limits limits(MapId map);

// What a value written into a cell of that map and row is rounded to and limited to:
// ignition whole degrees and injection 0,1 ms within limits(), or in the percent view
// 0,1 % (what the view shows) from 0 to the largest such figure that is still at most
// the upper limit in ms in that row.
struct Scale {
    long double min = 0;
    long double max = 0;
    int decimals = 0; // digits after the comma the value is rounded to (0 or 1)
};
Scale scale(MapId map, int row, bool percentView);

// The value rounded half away from zero to the scale's digits (a negative zero is 0).
// It is first taken to 15 significant digits, as the general format writes it, so that
// a result such as 2,4999999999999999 of an exact 2,5 rounds as 2,5 does.
long double rounded(const Scale &s, long double value);
// The text a tool or a paste writes: rounded, limited to the range, in the general
// format ("8", "3,5"; as a spreadsheet shows the number).
QString toolText(const Scale &s, long double value);

// A number typed or pasted by the user: the decimal comma or the decimal point, blanks
// around it; false for anything else.
bool parseUserNumber(const QString &text, long double *value);

// How a message names a cell: its control and place ("e12i (injeção linha 2 coluna 5)").
QString fieldName(MapId map, int row, int column);
// The number a cell's text holds. A text that is no number throws the conversion's
// own error with a line under it that names the cell and shows what it holds.
long double cellNumber(MapId map, int row, int column, const QString &text);
// The value a cell's text holds, as cellNumber.
long double cellValue(const Screen &screen, MapId map, int row, int column);

} // namespace cells
