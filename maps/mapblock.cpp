#include "maps/mapblock.h"

#include "maps/cells.h"

#include <QStringList>

namespace mapblock {

namespace {

QStringList lines(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(u'\r', u'\n');
    QStringList list = t.split(u'\n');
    while (!list.isEmpty() && list.last().trimmed().isEmpty())
        list.removeLast();
    return list;
}

QStringList fields(const QString &line, QChar separator)
{
    if (separator == u' ') {
        // Runs of any blanks, the no-break space of a spreadsheet's number format too.
        QStringList list;
        QString field;
        for (QChar ch : line) {
            if (ch.isSpace()) {
                if (!field.isEmpty())
                    list << field;
                field.clear();
            } else {
                field += ch;
            }
        }
        if (!field.isEmpty())
            list << field;
        return list;
    }
    return line.split(separator);
}

// A spreadsheet may close each row with a separator: dropped only when every row has
// it, so that a real empty cell at the end of one row is reported where it is.
void dropClosingSeparators(QList<QStringList> &rows, QChar separator)
{
    if (separator == u' ')
        return;
    for (const QStringList &row : rows)
        if (row.size() < 2 || !row.last().trimmed().isEmpty())
            return;
    for (QStringList &row : rows)
        row.removeLast();
}

QChar separatorOf(const QString &text)
{
    if (text.contains(u'\t'))
        return u'\t';
    if (text.contains(u';'))
        return u';';
    return u' ';
}

Block failed(Fault::Kind kind, int row, int column, const QString &text = {})
{
    Block b;
    b.fault = Fault{kind, row, column, text};
    return b;
}

} // namespace

Block parse(const QString &text)
{
    const QStringList rowTexts = lines(text);
    if (rowTexts.isEmpty())
        return failed(Fault::Kind::Empty, 0, 0);
    const QChar separator = separatorOf(text);
    QList<QStringList> rowFields;
    for (const QString &line : rowTexts)
        rowFields << fields(line, separator);
    dropClosingSeparators(rowFields, separator);
    Block block;
    for (int r = 0; r < rowFields.size(); ++r) {
        const QStringList &values = rowFields[r];
        if (r > 0 && values.size() != block.rows.first().size())
            return failed(Fault::Kind::Ragged, r, int(std::min(values.size(), block.rows.first().size())));
        QList<long double> row;
        row.reserve(values.size());
        for (int c = 0; c < values.size(); ++c) {
            const QString value = values[c].trimmed(); // QString's blanks include the no-break space
            if (value.isEmpty())
                return failed(Fault::Kind::EmptyCell, r, c);
            long double v = 0;
            if (!cells::parseUserNumber(value, &v))
                return failed(Fault::Kind::NotANumber, r, c, value);
            row << v;
        }
        block.rows << row;
    }
    return block;
}

QString copyText(const QList<QStringList> &rows)
{
    QStringList out;
    for (const QStringList &row : rows) {
        QStringList trimmed;
        for (const QString &t : row)
            trimmed << t.trimmed();
        out << trimmed.join(u'\t');
    }
    return out.join(u'\n');
}

} // namespace mapblock
