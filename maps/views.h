#pragma once
// The injection map in milliseconds (ms view) or in injector duty percent (percent view).
#include "common/context.h"

class MapViews {
public:
    explicit MapViews(Context &ctx);
    void btnPercentualClick();
    void btnmSClick();
    // The enabled states, unit caption and flag of a view, as a conversion to it leaves
    // them; the cells are not touched.
    void showView(bool percent);

private:
    Context &ctx_;
};

namespace views {
// Injector duty in percent = injection time in ms x factor of the row: the share of
// one crankshaft revolution at 500, 900, 1800, 2700, ... 7200 rpm (rpm / 600).
long double dutyFactor(int row);
// Injection cell k's text in the other view, as a conversion writes it; throws the
// number's own error for a text that is no number, with the line naming the cell.
QString convertedCell(const QString &text, int k, bool toPercent);
} // namespace views
