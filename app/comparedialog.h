#pragma once
// "Comparar": the differences between the screen and a map file, one row each (field,
// control, label or map position, text on screen, text in the file). A double-click
// on a row shows that field on its page and gives it the focus.
#include "core/controller.h"

#include <QDialog>
#include <functional>

class QTableWidget;

// The differences as rows (field, control, label or map position, text on screen, text
// on the other side, headed otherSide).
QTableWidget *differenceTable(const QList<tunediff::Difference> &differences, const QString &otherSide, QWidget *parent,
                              const QString &thisSide = QStringLiteral("Na tela"));

class CompareDialog : public QDialog {
    Q_OBJECT
public:
    // showField: shows the page of a control ("e12i", "tpsMin") and focuses it.
    CompareDialog(const FileComparison &comparison, std::function<void(const QString &control)> showField,
                  QWidget *parent = nullptr);
    // Two other sets (two entries of a vehicle's history): the window's title, the line
    // above the table and the captions of the two text columns.
    struct Texts {
        QString title, heading, thisSide, otherSide;
    };
    CompareDialog(const QList<tunediff::Difference> &differences, const Texts &texts,
                  std::function<void(const QString &control)> showField, QWidget *parent = nullptr);
    QTableWidget *table() const { return table_; }
    // What a double-click on the row does.
    void showRow(int row);

private:
    QTableWidget *table_ = nullptr;
    QStringList controls_; // per row
    std::function<void(const QString &)> showField_;
};

// The check of the module after a reconnect (or on "&Ativar"): the fields in which the
// screen and the module differ, as "Comparar" lists them, and one button per choice,
// the first the default. Escape and closing the box choose the last one.
class ModuleCheckDialog : public QDialog {
    Q_OBJECT
public:
    ModuleCheckDialog(const QString &text, const QList<tunediff::Difference> &differences, const QStringList &choices,
                      QWidget *parent = nullptr);
    QTableWidget *table() const { return table_; }
    // The index of the choice made; -1 while none.
    int chosen() const { return chosen_; }
    void reject() override;

private:
    QTableWidget *table_ = nullptr;
    int chosen_ = -1;
    int escapeChoice_ = -1;
};
