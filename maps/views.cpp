#include "maps/views.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/names.h"
#include "common/numtext.h"
#include "maps/cells.h"

#include <QStringList>

long double views::dutyFactor(int row)
{
    if (row == 0)
        return 5.0L / 6.0L;
    return 1.5L * row;
}

QString views::convertedCell(const QString &text, int k, bool toPercent)
{
    const long double v = cells::cellNumber(MapId::Injection, k / 8, k % 8, text);
    const long double factor = views::dutyFactor(k / 8);
    const long double converted = toPercent ? v * factor : v / factor;
    const long double readBack = numtext::parseFloat(numtext::formatGeneral(converted));
    return numtext::formatFloat("0.0", readBack);
}

namespace {

// The 72 new injection texts of a conversion, all computed before any cell is
// written, so that a cell that does not convert leaves the whole map in the units
// it had. Each value is written in the general format, read back and written with
// one decimal; that intermediate text decides the rounding ("8,1" in row 0 gives
// 6,75 and so "6,8").
QStringList convertedCells(const Screen &screen, bool toPercent)
{
    QStringList texts;
    texts.reserve(72);
    for (int k = 0; k < 72; ++k)
        texts << views::convertedCell(screen.text(names::injectionCell(k)), k, toPercent);
    return texts;
}

void writeCells(Screen &screen, const QStringList &texts)
{
    for (int k = 0; k < 72; ++k)
        screen.setText(names::injectionCell(k), texts.at(k));
}

} // namespace

MapViews::MapViews(Context &ctx) : ctx_(ctx) {}

void MapViews::btnPercentualClick()
{
    const QStringList texts = convertedCells(ctx_.screen, true); // throws before anything changes
    writeCells(ctx_.screen, texts);
    showView(true);
}

void MapViews::btnmSClick()
{
    const QStringList texts = convertedCells(ctx_.screen, false); // throws before anything changes
    writeCells(ctx_.screen, texts);
    showView(false);
}

void MapViews::showView(bool percent)
{
    // Every path that takes the cells as milliseconds is closed while they hold percent.
    ctx_.screen.setText(ctl::Label46, percent ? " Valores em  \" % \" " : " Valores em Ti \" mS \" ");
    ctx_.state.percentView = percent;
    enabledset::apply(ctx_);
}
