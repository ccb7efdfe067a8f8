#include "app/mapview3d.h"

#include "app/mapcolours.h"
#include "app/widgetscreen.h"
#include "common/names.h"
#include "common/numtext.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {
// Grid coordinates: columns (load) along x, rows (speed) along y, both -1 .. 1.
double gridX(double column) { return -1 + 2 * column / (mapColumns - 1); }
double gridY(double row) { return -1 + 2 * row / (mapRows - 1); }
constexpr double floorZ = -0.5;
} // namespace

MapSurface::MapSurface(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(560, 420);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setCursor(Qt::OpenHandCursor);
    setToolTip(QStringLiteral("Arraste com o mouse para girar."));
    setAccessibleName(QStringLiteral("Superfície do mapa em 3D"));
}

void MapSurface::setData(const Data &data)
{
    data_ = data;
    bool any = false;
    for (const auto &v : data_.values) {
        if (!v)
            continue;
        low_ = any ? std::min(low_, *v) : *v;
        high_ = any ? std::max(high_, *v) : *v;
        any = true;
    }
    update();
}

void MapSurface::setAngles(double yaw, double pitch)
{
    yaw_ = yaw;
    pitch_ = std::clamp(pitch, 0.05, 1.5);
    update();
}

double MapSurface::surfaceZ(int k) const
{
    const std::optional<double> &v = data_.values[k];
    if (!v || high_ <= low_)
        return v ? 0 : floorZ;
    return floorZ + (*v - low_) / (high_ - low_);
}

QPointF MapSurface::project(double x, double y, double z) const
{
    const double x1 = x * std::cos(yaw_) - y * std::sin(yaw_);
    const double y1 = x * std::sin(yaw_) + y * std::cos(yaw_);
    const double up = z * std::cos(pitch_) + y1 * std::sin(pitch_);
    const double scale = std::min(width(), height()) * 0.30;
    return QPointF(width() / 2.0 + scale * x1, height() / 2.0 + 10 - scale * up);
}

QPointF MapSurface::cellPoint(int row, int column) const
{
    return project(gridX(column), gridY(row), surfaceZ(row * mapColumns + column));
}

void MapSurface::drawAxes(QPainter &p) const
{
    p.setPen(QPen(QColor(170, 170, 170), 1));
    for (int r = 0; r < mapRows; ++r)
        p.drawLine(project(gridX(0), gridY(r), floorZ), project(gridX(mapColumns - 1), gridY(r), floorZ));
    for (int c = 0; c < mapColumns; ++c)
        p.drawLine(project(gridX(c), gridY(0), floorZ), project(gridX(c), gridY(mapRows - 1), floorZ));
    // The value axis at the corner of the lowest speed and load.
    p.setPen(QPen(Qt::black, 1));
    const QPointF base = project(-1, -1, floorZ), top = project(-1, -1, floorZ + 1);
    p.drawLine(base, top);
    // The lowest and highest value of the map, left of the axis.
    const QFontMetrics fm(p.font());
    const QString highText = numtext::formatGeneral(high_) + QLatin1Char(' ') + data_.unit;
    const QString lowText = numtext::formatGeneral(low_) + QLatin1Char(' ') + data_.unit;
    p.drawText(top + QPointF(-8 - fm.horizontalAdvance(highText), 4), highText);
    p.drawText(base + QPointF(-8 - fm.horizontalAdvance(lowText), 4), lowText);

    p.setPen(Qt::darkBlue);
    for (int c = 0; c < mapColumns && c < data_.columnCaptions.size(); ++c)
        p.drawText(project(gridX(c), gridY(0) - 0.22, floorZ) + QPointF(-12, 4), data_.columnCaptions[c]);
    p.setPen(Qt::darkRed);
    for (int r = 0; r < mapRows && r < data_.rowCaptions.size(); ++r)
        p.drawText(project(gridX(mapColumns - 1) + 0.12, gridY(r), floorZ) + QPointF(0, 4), data_.rowCaptions[r]);
    p.setPen(Qt::black);
    p.drawText(project(0, gridY(0) - 0.5, floorZ), QStringLiteral("Carga"));
    p.drawText(project(gridX(mapColumns - 1) + 0.5, 0, floorZ), QStringLiteral("RPM"));
}

void MapSurface::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont title = font();
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(0, 6, width(), 20), Qt::AlignHCenter, data_.title);
    p.setFont(font());
    drawAxes(p);

    auto colourOf = [this](int k) {
        const std::optional<double> &v = data_.values[k];
        return MapColours::valueColour(v && high_ > low_ ? (*v - low_) / (high_ - low_) : 0.5);
    };
    auto segment = [&](int k1, int k2) {
        if (!data_.values[k1] || !data_.values[k2])
            return;
        const QColor a = colourOf(k1), b = colourOf(k2);
        p.setPen(QPen(QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2), 2));
        p.drawLine(cellPoint(k1 / mapColumns, k1 % mapColumns), cellPoint(k2 / mapColumns, k2 % mapColumns));
    };
    for (int r = 0; r < mapRows; ++r) {
        for (int c = 0; c < mapColumns; ++c) {
            const int k = r * mapColumns + c;
            if (c + 1 < mapColumns)
                segment(k, k + 1);
            if (r + 1 < mapRows)
                segment(k, k + mapColumns);
        }
    }

    const int m = data_.marked;
    if (m >= 0 && m < mapRows * mapColumns) {
        const int r = m / mapColumns, c = m % mapColumns;
        const QPointF point = cellPoint(r, c);
        p.setPen(QPen(Qt::red, 2, Qt::DashLine));
        p.drawLine(project(gridX(c), gridY(r), floorZ), point);
        p.setPen(QPen(Qt::red, 2));
        p.setBrush(Qt::red);
        p.drawEllipse(point, 6, 6);
    }
}

void MapSurface::mousePressEvent(QMouseEvent *event) { lastMouse_ = event->position().toPoint(); }

void MapSurface::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint now = event->position().toPoint();
    const QPoint d = now - lastMouse_;
    lastMouse_ = now;
    setAngles(yaw_ + d.x() * 0.01, pitch_ + d.y() * 0.01);
}

MapView3D::MapView3D(WidgetScreen &screen, std::function<int()> markedCell, QWidget *parent)
    : QDialog(parent),
      screen_(screen),
      markedCell_(std::move(markedCell))
{
    setObjectName(QStringLiteral("Vista3D"));
    setWindowTitle(QStringLiteral("Vista 3D"));
    auto *choiceRow = new QHBoxLayout;
    mapChoice_ = new QComboBox(this);
    mapChoice_->setObjectName(QStringLiteral("cbMapa3D"));
    mapChoice_->addItems({QStringLiteral("Mapa de ignição"), QStringLiteral("Mapa de injeção")});
    auto *label = new QLabel(QStringLiteral("&Mapa:"), this);
    label->setBuddy(mapChoice_);
    choiceRow->addWidget(label);
    choiceRow->addWidget(mapChoice_);
    choiceRow->addStretch();
    surface_ = new MapSurface(this);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(choiceRow);
    layout->addWidget(surface_, 1);
    connect(mapChoice_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });

    // The marks move with the engine; a few looks a second follow them.
    clock_ = new QTimer(this);
    clock_->setInterval(250);
    connect(clock_, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh();
    });
    clock_->start();
    resize(640, 500);
    refresh();
}

void MapView3D::showMap(MapId map) { mapChoice_->setCurrentIndex(map == MapId::Ignition ? 0 : 1); }

void MapView3D::refresh()
{
    const MapId map = mapChoice_->currentIndex() == 0 ? MapId::Ignition : MapId::Injection;
    MapSurface::Data d;
    d.title = mapChoice_->currentText();
    if (map == MapId::Ignition)
        d.unit = QStringLiteral("graus");
    else
        d.unit = screen_.text(QStringLiteral("Label46")).contains(u'%') ? QStringLiteral("%") : QStringLiteral("mS");
    for (int k = 0; k < mapRows * mapColumns; ++k) {
        long double v = 0;
        if (numtext::tryParseFloat(screen_.text(cells::cellName(map, k / mapColumns, k % mapColumns)), &v))
            d.values[k] = double(v);
    }
    for (const QString &name : names::ignitionRowCaptions())
        d.rowCaptions << screen_.text(name);
    for (const QString &name : names::ignitionColumnCaptions())
        d.columnCaptions << screen_.text(name);
    d.marked = markedCell_ ? markedCell_() : -1;
    surface_->setData(d);
}
