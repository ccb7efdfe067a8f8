#pragma once
// The window's view of the link: the status line under the page control ("Conectado a
// /dev/ttyUSB0", "Conexão perdida — aguardando …"), the module's state next to the
// unsaved flag on both pages, and map cells not yet sent in italic.
#include "core/linkstatus.h"

#include <QString>
#include <QStringList>

class PortSession;
class QWidget;
class WidgetScreen;

namespace linkview {

inline constexpr int statusHeight = 22;

// lbConexao under the page control of form (the window grows by statusHeight), and
// lbModulo / lbModulo1 on the map and the configuration page.
void build(QWidget *form, QWidget *mapPage, QWidget *configPage);
// Shows the link's text, the module's state, and the cells that differ from the
// module's known set in italic.
void show(WidgetScreen &screen, const QString &linkText, const linkstatus::ModuleStatus &module,
          const QStringList &unsentControls);
// "Verificar o módulo ao conectar" (ckVerificarModulo): remembered between runs, off
// at first; the session follows it.
void wireCheckSetting(WidgetScreen &screen, PortSession &session);
// The link is lost while the scanner ran: the read-outs show nothing (the devices the
// colour before any frame) until the live frames come back.
void dimReadouts(WidgetScreen &screen);
// A map cell's font tells whether its value is still to be sent.
void setUnsent(QWidget *cell, bool unsent);

} // namespace linkview
