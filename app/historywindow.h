#pragma once
// " Histórico ": the entries of the open vehicle, newest first (date, kind, summary,
// note, tags, the "no módulo" mark, the logs recorded on it). A note or a tag is added to the selected entry;
// two selected entries are compared in the "Comparar" table (the older one first, the
// map cells that changed coloured by how much); one is put back on screen as one undo
// step, nothing sent.
#include "history/vehicle.h"

#include <QDialog>
#include <QPointer>
#include <functional>

class Controller;
class Prompt;
class QTableWidget;
class VehicleRecorder;
class CompareDialog;
class BeforeAfterDialog;

class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    using Guard = std::function<void(const std::function<void()> &)>;
    HistoryWindow(VehicleRecorder &vehicle, Controller &controller, Prompt &prompt, Guard guard,
                  std::function<void(const QString &control)> showField, QWidget *parent = nullptr);

    QTableWidget *table() const { return table_; }
    const QList<history::Entry> &entries() const { return entries_; }
    // Reads the entries again (after what is queued is written).
    void refresh();
    // The buttons' handlers, on the selected rows.
    void btnNotaClick();
    void btnEtiquetaClick();
    void btnCompararClick();
    void btnRestaurarClick();
    // "Antes e depois" of the selected entry: the logs of its parent and its own, and
    // their per-cell analysis side by side.
    void btnAntesDepoisClick();
    CompareDialog *compareDialog() const;
    BeforeAfterDialog *beforeAfterDialog() const;

    // "Comparar" of two entries: the cells of the maps whose value changed get a
    // background from white to red (up) or blue (down), by the change against the
    // largest change of the same map.
    static void colourMapCells(QTableWidget *table, const QList<tunediff::Difference> &differences);

private:
    QList<int> selectedRows() const;
    const history::Entry &selectedOne() const; // throws when not exactly one row is selected

    VehicleRecorder &vehicle_;
    Controller &controller_;
    Prompt &prompt_;
    Guard guard_;
    std::function<void(const QString &)> showField_;
    QTableWidget *table_ = nullptr;
    QList<history::Entry> entries_;
    QPointer<CompareDialog> compare_;
    QPointer<BeforeAfterDialog> beforeAfter_;
};
