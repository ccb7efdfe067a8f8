#pragma once
// "Cores por valor": each cell of both maps gets a background from its value (blue for
// the lowest of its map, through green and yellow, to red for the highest) with a text
// colour readable on it. The scanner's red marks then show as thick red frames. Off,
// the cells have exactly the colours the rest of the program gives them.
#include "common/screen.h"

#include <QColor>
#include <QObject>
#include <QSet>
#include <array>

class MapFrames;
class QLineEdit;
class WidgetScreen;

class MapColours : public QObject {
public:
    MapColours(WidgetScreen &screen, MapFrames *ignitionFrames, MapFrames *injectionFrames, QObject *parent);
    ~MapColours() override;

    bool isOn() const { return on_; }
    void setOn(bool on);
    // Paints every cell from its value now (the cells' changes ask for it on their own,
    // once per turn of the event loop).
    void recolour();

    // t from 0 (lowest) to 1 (highest).
    static QColor valueColour(double t);
    // Black or white, whichever reads better on background.
    static QColor textColour(const QColor &background);

private:
    void scheduleRecolour();
    void coreColour(const QString &name, Rgb colour);
    void updateMarks();
    void recolourMap(int map);
    void restore();

    WidgetScreen &screen_;
    std::array<MapFrames *, 2> frames_;
    std::array<QList<QLineEdit *>, 2> cells_;
    QSet<QString> markedNames_;
    bool on_ = false;
    bool pending_ = false;
};
