#include "app/tgauge.h"

#include <QPainter>
#include <algorithm>

TGauge::TGauge(Qt::Orientation orientation, QWidget *parent) : QWidget(parent), orientation_(orientation)
{
    setFocusPolicy(Qt::NoFocus);
}

void TGauge::setMinimum(int value)
{
    if (min_ == value)
        return;
    min_ = value;
    update();
}

void TGauge::setMaximum(int value)
{
    if (max_ == value)
        return;
    max_ = value;
    update();
}

void TGauge::setPosition(int value)
{
    if (position_ == value)
        return;
    position_ = value;
    update();
}

double TGauge::fraction() const
{
    const int low = std::min(min_, max_);
    const int high = std::max(min_, max_);
    if (high == low)
        return position_ >= high ? 1.0 : 0.0;
    const int shown = std::clamp(position_, low, high);
    return double(shown - low) / double(high - low);
}

void TGauge::setFillColor(const QColor &color)
{
    fill_ = color;
    update();
}

void TGauge::setBackColor(const QColor &color)
{
    back_ = color;
    update();
}

QSize TGauge::sizeHint() const { return orientation_ == Qt::Horizontal ? QSize(100, 16) : QSize(16, 100); }

void TGauge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect outer = rect();
    const QRect inner = outer.adjusted(1, 1, -1, -1);
    p.fillRect(outer, QColor(96, 96, 96));
    p.fillRect(inner, isEnabled() ? back_ : back_.lighter(120));
    QRect filled = inner;
    if (orientation_ == Qt::Horizontal) {
        filled.setWidth(int(inner.width() * fraction() + 0.5));
    } else {
        const int h = int(inner.height() * fraction() + 0.5);
        filled.setTop(inner.bottom() - h + 1);
    }
    if (!filled.isEmpty())
        p.fillRect(filled, fill_);
}
