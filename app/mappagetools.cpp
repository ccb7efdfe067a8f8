#include "app/mappagetools.h"

#include "app/layout.h"
#include "app/mapcolours.h"
#include "app/mapview3d.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "link/scanner.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSettings>

namespace {
std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velto"),
                                       QStringLiteral("Velto"));
}
} // namespace

namespace layout {
void buildMapPageTools(QWidget *page)
{
    // In the free parts of the maps' title bars: the right end of the ignition map's,
    // the middle of the injection map's (between its title and the unit caption).
    auto *ignitionTitle = page->findChild<QWidget *>(QStringLiteral("pnColunaOkIgn"));
    auto *view = new QPushButton(ignitionTitle);
    view->setObjectName(QStringLiteral("btnVista3D"));
    view->setGeometry(ignitionTitle->width() - 2 - 72, 1, 72, ignitionTitle->height() - 2);
    auto *injectionTitle = page->findChild<QWidget *>(QStringLiteral("pnColunaOkInj"));
    auto *colours = new QCheckBox(injectionTitle);
    colours->setObjectName(QStringLiteral("cbCoresPorValor"));
    colours->setGeometry(112, 1, 102, injectionTitle->height() - 2);
    colours->setFont(layout::windowFont());
}
} // namespace layout

MapPageTools::MapPageTools(WidgetScreen &screen, Controller &controller, MapSheet::Guard guard, QWidget *window)
    : QObject(window),
      screen_(screen),
      controller_(controller),
      window_(window)
{
    ignition_ = new MapSheet(MapId::Ignition, screen, controller, guard, this);
    injection_ = new MapSheet(MapId::Injection, screen, controller, guard, this);
    colours_ = new MapColours(screen, ignition_->frames(), injection_->frames(), this);

    auto *box = screen_.get<QCheckBox>(QStringLiteral("cbCoresPorValor"));
    box->setChecked(settings()->value(settingsKey(), false).toBool());
    colours_->setOn(box->isChecked());
    connect(box, &QCheckBox::toggled, this, [this](bool on) {
        colours_->setOn(on);
        settings()->setValue(settingsKey(), on);
    });
    connect(screen_.get<QPushButton>(QStringLiteral("btnVista3D")), &QPushButton::clicked, this,
            [this] { btnVista3DClick(); });
}

MapPageTools::~MapPageTools() = default;

int MapPageTools::markedCell() const
{
    // The base of the scanner's marks, while the cells show them (live or in playback);
    // once the scanner stopped the cells keep their last marks, the view none.
    const State &state = controller_.state();
    if (!state.scannerActive && !state.logOpen)
        return -1;
    const int k = controller_.scanner().marked()[0];
    if (k < 0 || k >= mapRows * mapColumns)
        return -1;
    return screen_.color(cells::cellName(MapId::Ignition, k / mapColumns, k % mapColumns)) == colors::red ? k : -1;
}

MapView3D *MapPageTools::view3D() const { return view3D_.data(); }

void MapPageTools::btnVista3DClick()
{
    if (!view3D_) {
        view3D_ = new MapView3D(
            screen_, [this] { return markedCell(); }, window_);
        view3D_->setAttribute(Qt::WA_DeleteOnClose);
    }
    view3D_->refresh();
    view3D_->show();
    view3D_->raise();
}
