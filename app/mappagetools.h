#pragma once
// The map page's spreadsheet editing of both maps, "Cores por valor" (remembered
// between runs) and " Vista 3D " (its window is built when first opened).
#include "app/mapsheet.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class Controller;
class MapColours;
class MapView3D;
class WidgetScreen;

namespace layout {
// Builds the check box cbCoresPorValor and the button btnVista3D on the map page.
void buildMapPageTools(QWidget *page);
} // namespace layout

class MapPageTools : public QObject {
public:
    MapPageTools(WidgetScreen &screen, Controller &controller, MapSheet::Guard guard, QWidget *window);
    ~MapPageTools() override;

    MapSheet &sheet(MapId map) { return map == MapId::Ignition ? *ignition_ : *injection_; }
    MapColours &colours() { return *colours_; }
    // The 3D view, opened (and built the first time) by btnVista3D.
    void btnVista3DClick();
    MapView3D *view3D() const;

    // Where "Cores por valor" is remembered.
    static QString settingsKey() { return QStringLiteral("mapas/coresPorValor"); }

private:
    int markedCell() const;

    WidgetScreen &screen_;
    Controller &controller_;
    QWidget *window_;
    MapSheet *ignition_;
    MapSheet *injection_;
    MapColours *colours_;
    QPointer<MapView3D> view3D_;
};
