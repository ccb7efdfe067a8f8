#pragma once
// "Antes e depois": for an entry of the history, the logs recorded on the entry before
// it ("antes") and on the entry itself ("depois desta mudança"), and per cell of the
// injection map the mean correction the lambda loop made in each, side by side.
#include "datalog/vehiclelogs.h"
#include "tuning/beforeafter.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QTableWidget;

class BeforeAfterDialog : public QDialog {
    Q_OBJECT
public:
    // rowCaptions, columnCaptions: the injection map's axes as the screen shows them.
    BeforeAfterDialog(const vehiclelogs::BeforeAfter &logs, const QStringList &rowCaptions,
                      const QStringList &columnCaptions, QWidget *parent = nullptr);

    QListWidget *beforeList() const { return beforeList_; }
    QListWidget *afterList() const { return afterList_; }
    QTableWidget *beforeTable() const { return beforeTable_; }
    QTableWidget *afterTable() const { return afterTable_; }
    const correction::LogsCells &before() const { return before_; }
    const correction::LogsCells &after() const { return after_; }

private:
    QWidget *side(const QString &caption, const QString &name, const QList<vehiclelogs::RecordedLog> &logs,
                  const correction::LogsCells &cells, QListWidget *&list, QTableWidget *&table,
                  const QStringList &rowCaptions, const QStringList &columnCaptions);

    correction::LogsCells before_, after_;
    QListWidget *beforeList_ = nullptr, *afterList_ = nullptr;
    QTableWidget *beforeTable_ = nullptr, *afterTable_ = nullptr;
};
