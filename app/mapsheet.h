#pragma once
// A map of the window edited like a spreadsheet: a rectangular selection of its cells
// (click, Shift+click, drag, Shift+arrows, "Selecionar todo o mapa"), copy and paste of
// blocks and the tools on the selection, from the keyboard and the cells' context menu.
// The cells stay plain fields: typing, Ctrl+A and the paste of a single value into one
// cell work as in any field. The work is the controller's.
#include "maps/cells.h"
#include "maps/maptools.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <functional>
#include <optional>

class Controller;
class QLineEdit;
class QMenu;
class WidgetScreen;

// Frames drawn over a map's cells: the selection, and while the cells are coloured by
// value the scanner's marks (a colour of their own would hide the value colours).
class MapFrames : public QWidget {
public:
    explicit MapFrames(QWidget *parent);
    void setSelection(std::optional<CellRect> selection);
    void setMarks(const QSet<int> &cells); // cell numbers framed in thick red
    const QSet<int> &marks() const { return marks_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect cellRect(int row, int column) const;
    std::optional<CellRect> selection_;
    QSet<int> marks_;
};

class MapSheet : public QObject {
    Q_OBJECT
public:
    using Guard = std::function<void(const std::function<void()> &)>;
    MapSheet(MapId map, WidgetScreen &screen, Controller &controller, Guard guard, QObject *parent);

    MapId map() const { return map_; }
    std::optional<CellRect> selection() const { return selection_; }
    void select(const CellRect &cells); // a rectangle; anchor on its top-left
    void selectAll();
    void copy();
    void paste();
    void runTool(MapTool tool);
    MapFrames *frames() const { return frames_; }
    // The context menu of a cell: the field's own entries, then the map's.
    QMenu *contextMenu(QLineEdit *cell);

    // Captions and keys of the tools, in menu order.
    struct ToolEntry {
        MapTool tool;
        QString caption;
        QKeySequence key;
    };
    static const QList<ToolEntry> &tools();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool keyPress(QLineEdit *cell, int k, QKeyEvent *key);
    bool mouse(QLineEdit *cell, int k, QMouseEvent *event);
    void extendTo(int row, int column);
    std::optional<int> cellAt(const QPoint &globalPos) const;
    bool clipboardHoldsBlock() const;

    MapId map_;
    WidgetScreen &screen_;
    Controller &controller_;
    Guard guard_;
    QList<QLineEdit *> cells_;
    QPointer<MapFrames> frames_;
    std::optional<CellRect> selection_;
    int anchor_ = 0; // cell the selection grows from
    int end_ = 0;    // its opposite corner
    bool dragging_ = false;
};
