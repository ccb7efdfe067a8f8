#include "app/mapsheet.h"

#include "app/widgetscreen.h"
#include "core/controller.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int markFrame = 3;
const QColor selectionColour(0, 200, 255);

QRect gridRect(const QList<QLineEdit *> &cells) { return cells.first()->geometry().united(cells.last()->geometry()); }

// Lays frames just above the cells, under whatever was built after them (the busy
// panel covers the frames as it covers the cells).
void stackAboveCells(QWidget *frames, QWidget *lastCell)
{
    const QObjectList siblings = lastCell->parentWidget()->children();
    for (qsizetype i = siblings.indexOf(lastCell) + 1; i < siblings.size(); ++i) {
        auto *w = qobject_cast<QWidget *>(siblings[i]);
        if (w && w != frames) {
            frames->stackUnder(w);
            return;
        }
    }
    frames->raise();
}

} // namespace

MapFrames::MapFrames(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void MapFrames::setSelection(std::optional<CellRect> selection)
{
    selection_ = selection;
    update();
}

void MapFrames::setMarks(const QSet<int> &cells)
{
    if (cells == marks_)
        return;
    marks_ = cells;
    update();
}

QRect MapFrames::cellRect(int row, int column) const
{
    const int w = width() / mapColumns, h = height() / mapRows;
    return QRect(column * w, row * h, w, h);
}

void MapFrames::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    for (int k : marks_) {
        // A white line on both sides keeps the red frame visible on every colour, the
        // red of the hottest cells too.
        const QRectF r = QRectF(cellRect(k / mapColumns, k % mapColumns)).adjusted(2.5, 2.5, -2.5, -2.5);
        p.setPen(QPen(Qt::white, markFrame + 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.drawRect(r);
        p.setPen(QPen(Qt::red, markFrame, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.drawRect(r);
    }
    if (selection_) {
        const QRect r =
            cellRect(selection_->top, selection_->left).united(cellRect(selection_->bottom, selection_->right));
        p.setPen(QPen(selectionColour, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.drawRect(QRectF(r).adjusted(1, 1, -1, -1));
    }
}

const QList<MapSheet::ToolEntry> &MapSheet::tools()
{
    static const QList<ToolEntry> list = {
        {MapTool::SetValue, QStringLiteral("Definir valor…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D)},
        {MapTool::Add, QStringLiteral("Somar…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {MapTool::Multiply, QStringLiteral("Multiplicar por %…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M)},
        {MapTool::Interpolate, QStringLiteral("Interpolar"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I)},
        {MapTool::Smooth, QStringLiteral("Suavizar"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U)},
    };
    return list;
}

MapSheet::MapSheet(MapId map, WidgetScreen &screen, Controller &controller, Guard guard, QObject *parent)
    : QObject(parent),
      map_(map),
      screen_(screen),
      controller_(controller),
      guard_(std::move(guard))
{
    for (int r = 0; r < mapRows; ++r)
        for (int c = 0; c < mapColumns; ++c)
            cells_ << screen_.get<QLineEdit>(cells::cellName(map, r, c));
    for (QLineEdit *cell : cells_)
        cell->installEventFilter(this);
    frames_ = new MapFrames(cells_.first()->parentWidget());
    frames_->setObjectName(map == MapId::Ignition ? QStringLiteral("frMapaIgnicao") : QStringLiteral("frMapaInjecao"));
    frames_->setGeometry(gridRect(cells_));
    stackAboveCells(frames_, cells_.last());
    frames_->show();
}

void MapSheet::select(const CellRect &cells)
{
    anchor_ = cells.top * mapColumns + cells.left;
    end_ = cells.bottom * mapColumns + cells.right;
    selection_ = cells;
    frames_->setSelection(selection_);
}

void MapSheet::selectAll() { select(CellRect::whole()); }

void MapSheet::extendTo(int row, int column)
{
    row = std::clamp(row, 0, mapRows - 1);
    column = std::clamp(column, 0, mapColumns - 1);
    end_ = row * mapColumns + column;
    selection_ = CellRect::spanning(anchor_ / mapColumns, anchor_ % mapColumns, row, column);
    frames_->setSelection(selection_);
}

void MapSheet::copy()
{
    if (!selection_)
        return;
    QGuiApplication::clipboard()->setText(controller_.mapCopy(map_, *selection_));
}

void MapSheet::paste()
{
    const CellRect at = selection_.value_or(CellRect{});
    const QString text = QGuiApplication::clipboard()->text();
    guard_([this, at, text] { controller_.mapPaste(map_, at, text); });
}

void MapSheet::runTool(MapTool tool)
{
    if (!selection_)
        return;
    const CellRect at = *selection_;
    guard_([this, tool, at] { controller_.mapTool(tool, map_, at); });
}

QMenu *MapSheet::contextMenu(QLineEdit *cell)
{
    QMenu *menu = cell->createStandardContextMenu();
    // Ctrl+C and Ctrl+V act on the cells or on the field's text, as keyPress decides:
    // each key is shown once, beside the entry it triggers.
    const bool cellsCopy = selection_ && selection_->count() > 1;
    const bool cellsPaste = selection_ && (selection_->count() > 1 || clipboardHoldsBlock());
    for (QAction *a : menu->actions()) {
        const qsizetype tab = a->text().indexOf(u'\t');
        if (tab < 0)
            continue;
        const QKeySequence key(a->text().mid(tab + 1), QKeySequence::NativeText);
        if ((cellsCopy && key == QKeySequence(QKeySequence::Copy)) ||
            (cellsPaste && key == QKeySequence(QKeySequence::Paste)))
            a->setText(a->text().left(tab));
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("Selecionar todo o mapa"), this, [this] { selectAll(); });
    QAction *copyCells = menu->addAction(QStringLiteral("Copiar células"), this, [this] { copy(); });
    if (cellsCopy)
        copyCells->setShortcut(QKeySequence::Copy);
    QAction *pasteCells = menu->addAction(QStringLiteral("Colar células"), this, [this] { paste(); });
    if (cellsPaste)
        pasteCells->setShortcut(QKeySequence::Paste);
    QMenu *toolMenu = menu->addMenu(QStringLiteral(" Ferramentas "));
    for (const ToolEntry &entry : tools()) {
        QAction *a = toolMenu->addAction(entry.caption, this, [this, tool = entry.tool] { runTool(tool); });
        a->setShortcut(entry.key);
    }
    for (QAction *a : menu->actions() + toolMenu->actions())
        a->setShortcutVisibleInContextMenu(true);
    return menu;
}

bool MapSheet::clipboardHoldsBlock() const
{
    // A spreadsheet's single cell comes with a line end: it replaces the cell's value,
    // as a block does, instead of going into the text.
    const QString text = QGuiApplication::clipboard()->text();
    // A no-break space comes from a spreadsheet's number format, never from typing.
    return text.contains(u'\t') || text.contains(u'\n') || text.contains(u'\r') || text.contains(u';') ||
           text.trimmed().contains(u' ') || text.contains(QChar(0x00a0));
}

std::optional<int> MapSheet::cellAt(const QPoint &globalPos) const
{
    const QPoint p = frames_->mapFromGlobal(globalPos);
    const int w = frames_->width() / mapColumns, h = frames_->height() / mapRows;
    if (p.x() < 0 || p.y() < 0 || w <= 0 || h <= 0)
        return std::nullopt;
    const int row = p.y() / h, column = p.x() / w;
    if (row >= mapRows || column >= mapColumns)
        return std::nullopt;
    return row * mapColumns + column;
}

bool MapSheet::mouse(QLineEdit *, int k, QMouseEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress && event->button() == Qt::LeftButton) {
        if (event->modifiers() & Qt::ShiftModifier) {
            extendTo(k / mapColumns, k % mapColumns);
            // As in a spreadsheet the cell the selection grew from keeps the focus.
            cells_[anchor_]->setFocus(Qt::MouseFocusReason);
            return true;
        }
        select(CellRect{k / mapColumns, k % mapColumns, k / mapColumns, k % mapColumns});
        dragging_ = true;
    } else if (event->type() == QEvent::MouseMove && dragging_ && (event->buttons() & Qt::LeftButton)) {
        if (const std::optional<int> under = cellAt(event->globalPosition().toPoint()); under && *under != end_)
            extendTo(*under / mapColumns, *under % mapColumns);
    } else if (event->type() == QEvent::MouseButtonRelease) {
        dragging_ = false;
    }
    return false;
}

bool MapSheet::keyPress(QLineEdit *cell, int k, QKeyEvent *key)
{
    if (!selection_)
        select(CellRect{k / mapColumns, k % mapColumns, k / mapColumns, k % mapColumns});
    const int endRow = end_ / mapColumns, endColumn = end_ % mapColumns;
    const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (mods == Qt::ShiftModifier) {
        switch (key->key()) {
        case Qt::Key_Up: extendTo(endRow - 1, endColumn); return true;
        case Qt::Key_Down: extendTo(endRow + 1, endColumn); return true;
        case Qt::Key_Left:
            if (cell->cursorPosition() > 0)
                return false; // within the text first
            extendTo(endRow, endColumn - 1);
            return true;
        case Qt::Key_Right:
            if (cell->cursorPosition() < cell->text().size())
                return false;
            extendTo(endRow, endColumn + 1);
            return true;
        default: break;
        }
    }
    if (key->matches(QKeySequence::Copy) && selection_->count() > 1) {
        copy();
        return true;
    }
    if (key->matches(QKeySequence::Paste) && (selection_->count() > 1 || clipboardHoldsBlock())) {
        paste();
        return true;
    }
    const QKeySequence pressed(key->keyCombination());
    for (const ToolEntry &entry : tools()) {
        if (pressed == entry.key) {
            runTool(entry.tool);
            return true;
        }
    }
    return false;
}

bool MapSheet::eventFilter(QObject *watched, QEvent *event)
{
    auto *cell = qobject_cast<QLineEdit *>(watched);
    const int k = cell ? int(cells_.indexOf(cell)) : -1;
    if (k < 0)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease: return mouse(cell, k, static_cast<QMouseEvent *>(event));
    case QEvent::KeyPress: return keyPress(cell, k, static_cast<QKeyEvent *>(event));
    case QEvent::ShortcutOverride: {
        // The cell takes its own keys before the window's shortcuts see them.
        auto *key = static_cast<QKeyEvent *>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const ToolEntry &entry : tools())
            if (pressed == entry.key) {
                event->accept();
                return true;
            }
        return false;
    }
    case QEvent::FocusIn: {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            select(CellRect{k / mapColumns, k % mapColumns, k / mapColumns, k % mapColumns});
        return false;
    }
    case QEvent::ContextMenu: {
        // The selection first: the menu shows the keys where they act on it.
        if (!selection_ || !selection_->contains(k / mapColumns, k % mapColumns))
            select(CellRect{k / mapColumns, k % mapColumns, k / mapColumns, k % mapColumns});
        QMenu *menu = contextMenu(cell);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    }
    default: return QObject::eventFilter(watched, event);
    }
}
