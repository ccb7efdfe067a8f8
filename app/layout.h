#pragma once
// Where every control of the main window sits, with its font and its label. Only
// the widgets, names, captions and geometry are made here; the start-up texts,
// choices, hints and states come from the start-up table of every named control.
#include <QFont>
#include <QStringList>

class QWidget;

namespace layout {
inline constexpr int pageWidth = 968;
inline constexpr int pageHeight = 682;
inline constexpr int pictureWidth = 276;
inline constexpr int pictureHeight = 104;

QFont windowFont();
void buildMapPage(QWidget *page);
void buildConfigPage(QWidget *page);
// The controls that lie under the page control and are never seen.
void buildHiddenControls(QWidget *form);
// The four boxes that show the picture.
QStringList pictureBoxes();
// The read-outs of the map page (read-only).
QStringList readouts();
// Undo, redo and the unsaved-changes label of both pages, and "Com&parar".
QStringList historyControls();
} // namespace layout
