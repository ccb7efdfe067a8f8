#pragma once
// Captions of the two map axes: rows follow the speed scale, columns the map
// combination. Both maps always show the same captions.
#include "common/context.h"

class MapAxes {
public:
    explicit MapAxes(Context &ctx);
    void cbEscalaRpmChange();
    void cbCombinacaoMapaExit();

private:
    Context &ctx_;
};

namespace axes {
// Writes the column captions of both maps for a map-combination text ("TPS X RPM" or
// "MAP X RPM", compared exactly); returns false and changes nothing for any other text.
bool writeLoadCaptions(Screen &screen, const QString &combination);

struct Captions {
    QStringList rows;    // speed, first row first
    QStringList columns; // load, first column first
};
// The injection map's captions as the screen shows them.
Captions injectionCaptions(const Screen &screen);
} // namespace axes
