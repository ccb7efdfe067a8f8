#pragma once
// A bar gauge: progress bars, the throttle bar and the position bars around the maps.
// The bounds may be set in either order; the bar shows the range between them and a
// position outside that range shows the nearest end. The stored values are kept as
// they were set, so reading them back gives what was written.
#include <QColor>
#include <QWidget>

class TGauge : public QWidget {
    Q_OBJECT
public:
    // Horizontal bars fill from the left, vertical bars from the bottom.
    explicit TGauge(Qt::Orientation orientation, QWidget *parent = nullptr);

    Qt::Orientation orientation() const { return orientation_; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int position() const { return position_; }
    void setMinimum(int value);
    void setMaximum(int value);
    void setPosition(int value);

    // The share of the bar that is filled, 0 to 1.
    double fraction() const;

    QColor fillColor() const { return fill_; }
    QColor backColor() const { return back_; }
    void setFillColor(const QColor &color);
    void setBackColor(const QColor &color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::Orientation orientation_;
    int min_ = 0, max_ = 100, position_ = 0;
    QColor fill_{0, 0, 160};
    QColor back_{255, 255, 255};
};
