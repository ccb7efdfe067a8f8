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
    if (separator.isSpace() && separator != u'\t')
        return line.split(u' ', Qt::SkipEmptyParts);
    QStringList list = line.split(separator);
    // A spreadsheet may close each row with a separator.
    if (list.size() > 1 && list.last().trimmed().isEmpty())
        list.removeLast();
    return list;
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
    Block block;
    for (int r = 0; r < rowTexts.size(); ++r) {
        const QStringList values = fields(rowTexts[r], separator);
        if (r > 0 && values.size() != block.rows.first().size())
            return failed(Fault::Kind::Ragged, r, int(std::min(values.size(), block.rows.first().size())));
        QList<long double> row;
        row.reserve(values.size());
        for (int c = 0; c < values.size(); ++c) {
            long double v = 0;
            if (!cells::parseUserNumber(values[c], &v))
                return failed(Fault::Kind::NotANumber, r, c, values[c].trimmed());
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
