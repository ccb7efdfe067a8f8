#include "app/mapcolours.h"

#include "app/mapsheet.h"
#include "app/widgetscreen.h"
#include "common/numtext.h"
#include "maps/cells.h"

#include <QLineEdit>
#include <QMetaObject>
#include <algorithm>
#include <cmath>

namespace {

constexpr std::array<MapId, 2> maps{MapId::Ignition, MapId::Injection};

// Blue, green, yellow, red at even steps; light enough for black text from green on.
const std::array<QColor, 4> stops{QColor(40, 90, 255), QColor(0, 190, 60), QColor(255, 225, 0), QColor(230, 30, 20)};

int blend(int a, int b, double f) { return int(a + (b - a) * f + 0.5); }

} // namespace

MapColours::MapColours(WidgetScreen &screen, MapFrames *ignitionFrames, MapFrames *injectionFrames, QObject *parent)
    : QObject(parent),
      screen_(screen),
      frames_{ignitionFrames, injectionFrames}
{
    for (int m = 0; m < 2; ++m) {
        for (int r = 0; r < mapRows; ++r) {
            for (int c = 0; c < mapColumns; ++c) {
                auto *cell = screen_.get<QLineEdit>(cells::cellName(maps[m], r, c));
                cells_[m] << cell;
                connect(cell, &QLineEdit::textChanged, this, [this] { scheduleRecolour(); });
            }
        }
    }
}

MapColours::~MapColours()
{
    if (on_)
        screen_.setColorHook({}, nullptr);
}

QColor MapColours::valueColour(double t)
{
    t = std::clamp(t, 0.0, 1.0) * (stops.size() - 1);
    const int i = std::min(int(t), int(stops.size()) - 2);
    const double f = t - i;
    const QColor &a = stops[i], &b = stops[i + 1];
    return QColor(blend(a.red(), b.red(), f), blend(a.green(), b.green(), f), blend(a.blue(), b.blue(), f));
}

QColor MapColours::textColour(const QColor &background)
{
    // The relative luminance and contrast ratio of the accessibility guidelines: the
    // better of black and white never falls below 4,58 to 1, above the 4,5 asked of text.
    auto linear = [](int v) {
        const double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double l =
        0.2126 * linear(background.red()) + 0.7152 * linear(background.green()) + 0.0722 * linear(background.blue());
    const double onBlack = (l + 0.05) / 0.05, onWhite = 1.05 / (l + 0.05);
    return onBlack >= onWhite ? Qt::black : Qt::white;
}

void MapColours::setOn(bool on)
{
    if (on == on_)
        return;
    on_ = on;
    if (!on) {
        restore();
        return;
    }
    QStringList names;
    for (const auto &list : cells_)
        for (const QLineEdit *cell : list)
            names << cell->objectName();
    markedNames_.clear();
    for (const QString &name : names)
        if (screen_.color(name) == colors::red)
            markedNames_.insert(name);
    screen_.setColorHook(names, [this](const QString &name, Rgb colour) { coreColour(name, colour); });
    recolour();
}

void MapColours::restore()
{
    markedNames_.clear();
    for (MapFrames *f : frames_)
        f->setMarks({});
    for (const auto &list : cells_) {
        for (QLineEdit *cell : list) {
            QPalette pal = cell->palette();
            pal.setColor(QPalette::Text, QColor(colors::yellow.r, colors::yellow.g, colors::yellow.b));
            cell->setPalette(pal);
        }
    }
    screen_.setColorHook({}, nullptr); // paints the colours the program gave the cells
}

void MapColours::coreColour(const QString &name, Rgb colour)
{
    if (colour == colors::red)
        markedNames_.insert(name);
    else
        markedNames_.remove(name);
    updateMarks();
}

void MapColours::updateMarks()
{
    for (int m = 0; m < 2; ++m) {
        QSet<int> marks;
        for (int k = 0; k < cells_[m].size(); ++k)
            if (markedNames_.contains(cells_[m][k]->objectName()))
                marks.insert(k);
        frames_[m]->setMarks(marks);
    }
}

void MapColours::scheduleRecolour()
{
    if (!on_ || pending_)
        return;
    pending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { recolour(); }, Qt::QueuedConnection);
}

void MapColours::recolour()
{
    pending_ = false;
    if (!on_)
        return;
    for (int m = 0; m < 2; ++m)
        recolourMap(m);
    updateMarks();
}

void MapColours::recolourMap(int m)
{
    std::array<std::optional<long double>, mapRows * mapColumns> values;
    long double low = 0, high = 0;
    bool any = false;
    for (int k = 0; k < cells_[m].size(); ++k) {
        long double v = 0;
        if (!numtext::tryParseFloat(cells_[m][k]->text(), &v))
            continue;
        values[k] = v;
        low = any ? std::min(low, v) : v;
        high = any ? std::max(high, v) : v;
        any = true;
    }
    for (int k = 0; k < cells_[m].size(); ++k) {
        // A text that is no number keeps the cells' plain look.
        QColor back(Qt::black), text(colors::yellow.r, colors::yellow.g, colors::yellow.b);
        if (values[k]) {
            back = valueColour(high > low ? double((*values[k] - low) / (high - low)) : 0.5);
            text = textColour(back);
        }
        QLineEdit *cell = cells_[m][k];
        QPalette pal = cell->palette();
        if (pal.color(QPalette::Base) == back && pal.color(QPalette::Text) == text)
            continue;
        pal.setColor(QPalette::Base, back);
        pal.setColor(QPalette::Text, text);
        cell->setPalette(pal);
    }
}
