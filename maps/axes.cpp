#include "maps/axes.h"

#include "common/controlnames.h"
#include "common/names.h"
#include "common/numtext.h"

MapAxes::MapAxes(Context &ctx) : ctx_(ctx) {}

void MapAxes::cbEscalaRpmChange()
{
    Screen &s = ctx_.screen;
    const int index = s.itemIndex(ctl::cbEscalaRpm);
    // A typed text leaves no scale selected: the ECU keeps the scale it was last
    // given, so the captions stay as they were rather than show a scale of step 600
    // that no entry describes.
    if (index < 0)
        return;
    const int step = 200 * index + 800;
    // Rows 0 and 1 ("500", "900") are fixed; rows 2 to 8 follow the scale.
    for (int n = 1; n <= 7; ++n) {
        const QString caption = numtext::formatInt(1000 + n * step);
        s.setText(names::ignitionRowCaptions().at(n + 1), caption);
        s.setText(names::injectionRowCaptions().at(n + 1), caption);
    }
}

void MapAxes::cbCombinacaoMapaExit() { axes::writeLoadCaptions(ctx_.screen, ctx_.screen.text(ctl::cbCombinacaoMapa)); }

namespace axes {
bool writeLoadCaptions(Screen &screen, const QString &combination)
{
    static const QStringList throttle{"0 %", "14", "28", "42", "56", "70", "84", "100 %"};
    static const QStringList pressure{"-820", "-720", "-600", "-480", "-370", "-250", "-130", "0 mbar"};
    const QStringList *captions = nullptr;
    if (combination == QLatin1String("TPS X RPM"))
        captions = &throttle;
    else if (combination == QLatin1String("MAP X RPM"))
        captions = &pressure;
    else
        return false;
    for (int c = 0; c < 8; ++c) {
        screen.setText(names::ignitionColumnCaptions().at(c), captions->at(c));
        screen.setText(names::injectionColumnCaptions().at(c), captions->at(c));
    }
    return true;
}
Captions injectionCaptions(const Screen &screen)
{
    Captions c;
    for (const QString &n : names::injectionRowCaptions())
        c.rows << screen.text(n);
    for (const QString &n : names::injectionColumnCaptions())
        c.columns << screen.text(n);
    return c;
}

} // namespace axes
