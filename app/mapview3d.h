#pragma once
// " Vista 3D ": either map as a wireframe surface over its speed and load axes, turned
// with the mouse, with the cell the scanner marks shown while it runs.
#include "maps/cells.h"

#include <QDialog>
#include <QPoint>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

class QComboBox;
class QTimer;
class WidgetScreen;

class MapSurface : public QWidget {
public:
    explicit MapSurface(QWidget *parent);

    struct Data {
        QString title;
        QString unit;
        std::array<std::optional<double>, mapRows * mapColumns> values{};
        QStringList rowCaptions;    // speed, row 0 first
        QStringList columnCaptions; // load, column 0 first
        int marked = -1;            // the scanner's cell, or -1
    };
    void setData(const Data &data);
    const Data &data() const { return data_; }

    double yaw() const { return yaw_; }
    double pitch() const { return pitch_; }
    void setAngles(double yaw, double pitch);
    // Where the surface's point of a cell lies on the widget.
    QPointF cellPoint(int row, int column) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QPointF project(double x, double y, double z) const;
    double surfaceZ(int k) const; // -0,5 .. 0,5 from the value
    void drawAxes(class QPainter &p) const;

    Data data_;
    double low_ = 0, high_ = 0;
    double yaw_ = -0.6, pitch_ = 0.9;
    QPoint lastMouse_;
};

class MapView3D : public QDialog {
public:
    // markedCell: the cell the scanner marks now, or -1.
    MapView3D(WidgetScreen &screen, std::function<int()> markedCell, QWidget *parent);

    void showMap(MapId map);
    // Reads the cells, captions and the mark again (the window's clock calls it while
    // the view is open).
    void refresh();
    MapSurface *surface() const { return surface_; }

private:
    WidgetScreen &screen_;
    std::function<int()> markedCell_;
    QComboBox *mapChoice_;
    MapSurface *surface_;
    QTimer *clock_;
};
