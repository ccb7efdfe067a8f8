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
