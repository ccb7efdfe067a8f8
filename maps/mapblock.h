#pragma once
// A block of cells as text, the way spreadsheets put it on the clipboard.
#include <QList>
#include <QString>
#include <optional>

namespace mapblock {

// What is wrong with a text, at which row and column of the block (counted from 0).
struct Fault {
    enum class Kind {
        Empty,      // no value at all
        NotANumber, // the field at row, column
        EmptyCell,  // the field at row, column holds nothing (blanks at most)
        Ragged,     // row has another number of values than the first row
    };
    Kind kind = Kind::Empty;
    int row = 0;
    int column = 0;
    QString text; // the field that is no number
};

struct Block {
    QList<QList<long double>> rows; // all rows have the same length
    std::optional<Fault> fault;     // set: rows is empty
    int rowCount() const { return int(rows.size()); }
    int columnCount() const { return rows.isEmpty() ? 0 : int(rows.first().size()); }
};

// Rows end with LF, CRLF or CR; an empty last line (or several) is ignored. Values are
// separated by tabs when the text holds one, else by semicolons when it holds one, else
// by runs of blanks; one tab or semicolon closing every row is ignored (a spreadsheet
// may add it), but where only some rows end with one it is an empty cell. A value has
// the decimal comma or the decimal point and may have blanks around it (a no-break
// space too).
Block parse(const QString &text);

// The cells' texts as a block: a tab between cells, a line end between rows, each
// text without the blanks around it.
QString copyText(const QList<QStringList> &rows);

} // namespace mapblock
