#include "maps/maptools.h"

#include "common/numtext.h"
#include "maps/mapblock.h"

#include <QStringList>
#include <stdexcept>

namespace maptools {

Values interpolate(const CellRect &rect, const Reader &value)
{
    const long double tl = value(rect.top, rect.left), tr = value(rect.top, rect.right);
    const long double bl = value(rect.bottom, rect.left), br = value(rect.bottom, rect.right);
    Values out{};
    for (int r = rect.top; r <= rect.bottom; ++r) {
        const long double v = rect.rows() == 1 ? 0 : (r - rect.top) / static_cast<long double>(rect.rows() - 1);
        for (int c = rect.left; c <= rect.right; ++c) {
            const long double u =
                rect.columns() == 1 ? 0 : (c - rect.left) / static_cast<long double>(rect.columns() - 1);
            out[r][c] = (1 - v) * ((1 - u) * tl + u * tr) + v * ((1 - u) * bl + u * br);
        }
    }
    return out;
}

Values smooth(const CellRect &rect, const Reader &value)
{
    Values out{};
    for (int r = rect.top; r <= rect.bottom; ++r) {
        for (int c = rect.left; c <= rect.right; ++c) {
            long double sum = 4 * value(r, c);
            int weight = 4;
            for (int dr = -1; dr <= 1; ++dr) {
                for (int dc = -1; dc <= 1; ++dc) {
                    if ((dr || dc) && CellRect::whole().contains(r + dr, c + dc)) {
                        sum += value(r + dr, c + dc);
                        ++weight;
                    }
                }
            }
            out[r][c] = sum / weight;
        }
    }
    return out;
}

} // namespace maptools

namespace {

QString mapUnit(MapId map, bool percentView)
{
    if (map == MapId::Ignition)
        return QStringLiteral("graus");
    return percentView ? QStringLiteral("%") : QStringLiteral("mS");
}

// The cell's text already holds that value ("8,0" holds 8).
bool holds(const QString &cellText, long double value)
{
    long double v = 0;
    return numtext::tryParseFloat(cellText, &v) && v == value;
}

QString warn(const QString &text) { return QStringLiteral(" Atenção ! !  ") + text + QStringLiteral("  "); }

[[noreturn]] void refuse(const QString &text) { throw std::runtime_error(warn(text).toStdString()); }

void refuseFault(MapId map, const CellRect &at, const mapblock::Fault &f)
{
    using Kind = mapblock::Fault::Kind;
    switch (f.kind) {
    case Kind::Empty: refuse(QStringLiteral("Não há valores para colar."));
    case Kind::NotANumber:
        refuse(QStringLiteral("Colar: '%1' para a %2 não é um número.")
                   .arg(f.text, cells::place(map, at.top + f.row, at.left + f.column)));
    case Kind::EmptyCell:
        refuse(QStringLiteral("Colar: a célula da linha %1, coluna %2 do bloco está vazia (iria para a %3).")
                   .arg(f.row + 1)
                   .arg(f.column + 1)
                   .arg(cells::place(map, at.top + f.row, at.left + f.column)));
    case Kind::Ragged:
        refuse(QStringLiteral("Colar: a linha %1 do bloco tem outro número de valores que a primeira (%2).")
                   .arg(f.row + 1)
                   .arg(cells::place(map, at.top + f.row, at.left + f.column)));
    }
    refuse(QString());
}

} // namespace

MapTools::MapTools(Context &ctx) : ctx_(ctx) {}

maptools::Reader MapTools::reader(MapId map) const
{
    return [this, map](int row, int column) { return cells::cellValue(ctx_.screen, map, row, column); };
}

QString MapTools::copy(MapId map, const CellRect &rect) const
{
    QList<QStringList> rows;
    for (int r = rect.top; r <= rect.bottom; ++r) {
        QStringList row;
        for (int c = rect.left; c <= rect.right; ++c)
            row << ctx_.screen.text(cells::cellName(map, r, c));
        rows << row;
    }
    return mapblock::copyText(rows);
}

void MapTools::paste(MapId map, const CellRect &selection, const QString &text)
{
    if (!selection.insideMap())
        throw std::invalid_argument("paste: selection outside the map");
    const mapblock::Block block = mapblock::parse(text);
    if (block.fault)
        refuseFault(map, selection, *block.fault);
    const bool fill = block.rowCount() == 1 && block.columnCount() == 1;
    const CellRect target = fill ? selection
                                 : CellRect{selection.top, selection.left, selection.top + block.rowCount() - 1,
                                            selection.left + block.columnCount() - 1};
    if (!target.insideMap())
        refuse(QStringLiteral("Colar: o bloco de %1 x %2 valores não cabe no mapa a partir da %3: a %4 ficaria fora "
                              "do mapa (9 linhas, 8 colunas).")
                   .arg(block.rowCount())
                   .arg(block.columnCount())
                   .arg(cells::place(map, target.top, target.left), cells::place(map, target.bottom, target.right)));

    const bool percent = ctx_.state.percentView;
    QStringList texts;
    for (int r = target.top; r <= target.bottom; ++r) {
        const cells::Scale s = cells::scale(map, r, percent);
        for (int c = target.left; c <= target.right; ++c) {
            const long double v = fill ? block.rows[0][0] : block.rows[r - target.top][c - target.left];
            const QString old = ctx_.screen.text(cells::cellName(map, r, c));
            // A value the cell already holds is no change, also beyond the range (a
            // read-back's 25,5 ms, a percent figure the view rounded up).
            if (holds(old, v)) {
                texts << old;
                continue;
            }
            const long double x = cells::rounded(s, v);
            if (holds(old, x)) {
                texts << old;
                continue;
            }
            if (x < s.min || x > s.max)
                refuse(QStringLiteral("Colar: %1 para a %2 está fora da faixa de %3 a %4 %5.")
                           .arg(numtext::formatGeneral(v), cells::place(map, r, c), numtext::formatGeneral(s.min),
                                numtext::formatGeneral(s.max), mapUnit(map, percent)));
            texts << numtext::formatGeneral(x);
        }
    }
    writeTexts(map, target, texts);
}

void MapTools::run(MapTool tool, MapId map, const CellRect &selection)
{
    if (!selection.insideMap())
        throw std::invalid_argument("map tool: selection outside the map");
    maptools::Values values{};
    const maptools::Reader value = reader(map);
    switch (tool) {
    case MapTool::Interpolate: values = maptools::interpolate(selection, value); break;
    case MapTool::Smooth: values = maptools::smooth(selection, value); break;
    default: {
        const std::optional<long double> amount = askAmount(tool, map, selection);
        if (!amount)
            return;
        for (int r = selection.top; r <= selection.bottom; ++r) {
            for (int c = selection.left; c <= selection.right; ++c) {
                if (tool == MapTool::SetValue)
                    values[r][c] = *amount;
                else if (tool == MapTool::Add)
                    values[r][c] = value(r, c) + *amount;
                else
                    values[r][c] = value(r, c) * *amount / 100;
            }
        }
    }
    }
    write(map, selection, values);
}

std::optional<long double> MapTools::askAmount(MapTool tool, MapId map, const CellRect &selection)
{
    const bool percent = ctx_.state.percentView;
    const QString unit = mapUnit(map, percent);
    // The range the selected cells take; in the percent view it grows with the row.
    const cells::Scale first = cells::scale(map, selection.top, percent);
    const cells::Scale last = cells::scale(map, selection.bottom, percent);
    QString range =
        QStringLiteral("de %1 a %2 %3").arg(numtext::formatGeneral(first.min), numtext::formatGeneral(first.max), unit);
    if (last.max != first.max)
        range = QStringLiteral("de %1 a %2 %3 na linha %4, até %5 %3 na linha %6")
                    .arg(numtext::formatGeneral(first.min), numtext::formatGeneral(first.max), unit)
                    .arg(selection.top + 1)
                    .arg(numtext::formatGeneral(last.max))
                    .arg(selection.bottom + 1);
    const QString decimals = map == MapId::Ignition ? QStringLiteral("graus inteiros")
                             : percent              ? QStringLiteral("0,1 %")
                                                    : QStringLiteral("0,1 mS");
    QString question, initial;
    switch (tool) {
    case MapTool::SetValue:
        question = QStringLiteral("Valor para as células selecionadas (%1; faixa %2).").arg(unit, range);
        break;
    case MapTool::Add:
        question = QStringLiteral("Somar às células selecionadas (%1; negativo subtrai).").arg(unit);
        initial = QStringLiteral("0");
        break;
    default:
        question = QStringLiteral("Multiplicar as células selecionadas por (%; 110 aumenta 10 %).");
        initial = QStringLiteral("100");
        break;
    }
    if (tool != MapTool::SetValue)
        question += QStringLiteral("\nCada célula fica na faixa %1.").arg(range);
    question += QStringLiteral("\nUse a vírgula decimal (ex.: 8,5); o resultado é arredondado a %1.").arg(decimals);
    const std::optional<QString> answer = ctx_.prompt.askText(question, initial);
    if (!answer)
        return std::nullopt;
    long double amount = 0;
    if (answer->trimmed().isEmpty())
        refuse(QStringLiteral("Nenhum número foi digitado: nada mudou."));
    if (!cells::parseUserNumber(*answer, &amount))
        refuse(QStringLiteral("'%1' não é um número: nada mudou.").arg(answer->trimmed()));
    return amount;
}

void MapTools::write(MapId map, const CellRect &rect, const maptools::Values &values)
{
    const bool percent = ctx_.state.percentView;
    QStringList texts;
    for (int r = rect.top; r <= rect.bottom; ++r) {
        for (int c = rect.left; c <= rect.right; ++c) {
            // A value the cell already holds is no change, also beyond the range.
            const QString old = ctx_.screen.text(cells::cellName(map, r, c));
            const cells::Scale s = cells::scale(map, r, percent);
            const bool same = holds(old, values[r][c]) || holds(old, cells::rounded(s, values[r][c]));
            texts << (same ? old : cells::toolText(s, values[r][c]));
        }
    }
    writeTexts(map, rect, texts);
}

void MapTools::writeTexts(MapId map, const CellRect &rect, const QStringList &texts)
{
    int i = 0;
    for (int r = rect.top; r <= rect.bottom; ++r) {
        for (int c = rect.left; c <= rect.right; ++c) {
            const QString name = cells::cellName(map, r, c);
            const QString &text = texts.at(i++);
            if (ctx_.screen.text(name) != text) // an unchanged cell is no step and no unsaved change
                ctx_.screen.setText(name, text);
        }
    }
}
