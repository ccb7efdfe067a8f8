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

QString warn(const QString &text) { return QStringLiteral(" Atenção ! !  ") + text + QStringLiteral("  "); }

[[noreturn]] void refuse(const QString &text) { throw std::runtime_error(warn(text).toStdString()); }

void refuseFault(MapId map, const CellRect &at, const mapblock::Fault &f)
{
    using Kind = mapblock::Fault::Kind;
    switch (f.kind) {
    case Kind::Empty:
        refuse(QStringLiteral("Não há valores para colar."));
    case Kind::NotANumber:
        refuse(QStringLiteral("Colar: '%1' para a %2 não é um número.")
                   .arg(f.text, cells::place(map, at.top + f.row, at.left + f.column)));
    case Kind::Ragged:
        refuse(QStringLiteral("Colar: a linha %1 do bloco tem outro número de valores que a primeira (%2).")
                   .arg(f.row + 1)
                   .arg(cells::place(map, at.top + f.row, at.left + f.column)));
    }
    refuse(QString());
}

} // namespace

MapTools::MapTools(Context &ctx)
    : ctx_(ctx)
{
}

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
            const long double x = cells::rounded(s, v);
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
    case MapTool::Interpolate:
        values = maptools::interpolate(selection, value);
        break;
    case MapTool::Smooth:
        values = maptools::smooth(selection, value);
        break;
    default: {
        const std::optional<long double> amount = askAmount(tool, map);
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

std::optional<long double> MapTools::askAmount(MapTool tool, MapId map)
{
    const QString unit = mapUnit(map, ctx_.state.percentView);
    QString question, initial;
    switch (tool) {
    case MapTool::SetValue:
        question = QStringLiteral("Valor para as células selecionadas (%1):").arg(unit);
        break;
    case MapTool::Add:
        question = QStringLiteral("Somar às células selecionadas (%1; negativo subtrai):").arg(unit);
        initial = QStringLiteral("0");
        break;
    default:
        question = QStringLiteral("Multiplicar as células selecionadas por (%; 110 aumenta 10 %):");
        initial = QStringLiteral("100");
        break;
    }
    const std::optional<QString> answer = ctx_.prompt.askText(question, initial);
    if (!answer)
        return std::nullopt;
    long double amount = 0;
    if (!cells::parseUserNumber(*answer, &amount))
        refuse(QStringLiteral("'%1' não é um número.").arg(answer->trimmed()));
    return amount;
}

void MapTools::write(MapId map, const CellRect &rect, const maptools::Values &values)
{
    const bool percent = ctx_.state.percentView;
    QStringList texts;
    for (int r = rect.top; r <= rect.bottom; ++r)
        for (int c = rect.left; c <= rect.right; ++c)
            texts << cells::toolText(cells::scale(map, r, percent), values[r][c]);
    writeTexts(map, rect, texts);
}

void MapTools::writeTexts(MapId map, const CellRect &rect, const QStringList &texts)
{
    int i = 0;
    for (int r = rect.top; r <= rect.bottom; ++r)
        for (int c = rect.left; c <= rect.right; ++c)
            ctx_.screen.setText(cells::cellName(map, r, c), texts.at(i++));
}
