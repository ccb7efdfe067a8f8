#pragma once
// The injection map in milliseconds (ms view) or in injector duty percent (percent view).
#include "common/context.h"

class MapViews {
public:
    explicit MapViews(Context &ctx);
    void btnPercentualClick();
    void btnmSClick();

private:
    Context &ctx_;
};
