#pragma once
// "Comparar": the differences between the screen and a map file, one row each (field,
// control, label or map position, text on screen, text in the file). A double-click
// on a row shows that field on its page and gives it the focus.
#include "core/controller.h"

#include <QDialog>
#include <functional>

class QTableWidget;

class CompareDialog : public QDialog
{
    Q_OBJECT
public:
    // showField: shows the page of a control ("e12i", "tpsMin") and focuses it.
    CompareDialog(const FileComparison &comparison, std::function<void(const QString &control)> showField,
                  QWidget *parent = nullptr);
    QTableWidget *table() const { return table_; }
    // What a double-click on the row does.
    void showRow(int row);

private:
    QTableWidget *table_ = nullptr;
    QStringList controls_; // per row
    std::function<void(const QString &)> showField_;
};
