#include "app/beforeafterdialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

namespace {

QStringList pathsOf(const QList<vehiclelogs::RecordedLog> &logs)
{
    QStringList paths;
    for (const vehiclelogs::RecordedLog &l : logs)
        paths << l.path;
    return paths;
}

QString entryText(const history::Entry &e)
{
    return QStringLiteral("%1 (%2, %3)").arg(e.id, e.kind, e.time.toString(QStringLiteral("dd/MM/yyyy HH:mm")));
}

// The colours of the correction's table: more fuel asked for in blue, less in red, by
// how far the mean lies outside the dead band.
QColor meanColour(const correction::CellSuggestion &c)
{
    if (std::lround(c.hits) == 0)
        return QColor(225, 225, 225);
    const double t = std::min(std::abs(c.mean) / 10.0, 1.0) * 0.6;
    const QColor full = c.mean > 0 ? QColor(30, 80, 220) : QColor(220, 40, 30);
    return QColor(int(255 + (full.red() - 255) * t), int(255 + (full.green() - 255) * t),
                  int(255 + (full.blue() - 255) * t));
}

} // namespace

BeforeAfterDialog::BeforeAfterDialog(const vehiclelogs::BeforeAfter &logs, const QStringList &rowCaptions,
                                     const QStringList &columnCaptions, QWidget *parent)
    : QDialog(parent),
      before_(correction::analyseLogs(pathsOf(logs.before))),
      after_(correction::analyseLogs(pathsOf(logs.after)))
{
    setObjectName(QStringLiteral("dlgAntesDepois"));
    setWindowTitle(QStringLiteral("Antes e depois de %1").arg(logs.entry.id));
    auto *layout = new QVBoxLayout(this);
    auto *heading =
        new QLabel(QStringLiteral("Entrada %1: %2\nCada célula do mapa de injeção: a correção média da sonda (%) e as "
                                  "amostras dos registros.")
                       .arg(entryText(logs.entry), logs.entry.summary),
                   this);
    heading->setObjectName(QStringLiteral("lbEntradaAntesDepois"));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto *sides = new QHBoxLayout;
    const QString beforeCaption = logs.parent
                                      ? QStringLiteral("&Antes (registros da entrada %1):").arg(entryText(*logs.parent))
                                      : QStringLiteral("&Antes: esta é a primeira entrada do veículo.");
    sides->addWidget(side(beforeCaption, QStringLiteral("Antes"), logs.before, before_, beforeList_, beforeTable_,
                          rowCaptions, columnCaptions));
    sides->addWidget(side(QStringLiteral("&Depois desta mudança (registros da entrada %1):").arg(logs.entry.id),
                          QStringLiteral("Depois"), logs.after, after_, afterList_, afterTable_, rowCaptions,
                          columnCaptions));
    layout->addLayout(sides);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Fechar"));
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("btnFecharAntesDepois"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QWidget *BeforeAfterDialog::side(const QString &caption, const QString &name,
                                 const QList<vehiclelogs::RecordedLog> &logs, const correction::LogsCells &cells,
                                 QListWidget *&list, QTableWidget *&table, const QStringList &rowCaptions,
                                 const QStringList &columnCaptions)
{
    auto *box = new QWidget(this);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(caption, box);
    label->setWordWrap(true);
    column->addWidget(label);
    list = new QListWidget(box);
    list->setObjectName(QStringLiteral("lwRegistros") + name);
    list->setAccessibleName(QStringLiteral("Registros ") + name.toLower());
    for (const vehiclelogs::RecordedLog &l : logs) {
        auto *item =
            new QListWidgetItem(QStringLiteral("%1 (%2)").arg(QFileInfo(l.path).fileName(),
                                                              l.modified.toString(QStringLiteral("dd/MM/yyyy HH:mm"))),
                                list);
        item->setToolTip(l.path);
    }
    if (logs.isEmpty())
        list->addItem(QStringLiteral("Nenhum registro gravado nesta entrada."));
    list->setFixedHeight(list->sizeHintForRow(0) * 3 + 2 * list->frameWidth() + 4);
    label->setBuddy(list);
    column->addWidget(list);

    auto *refusal = new QLabel(cells.refusal, box);
    refusal->setObjectName(QStringLiteral("lbRecusa") + name);
    refusal->setWordWrap(true);
    refusal->setTextFormat(Qt::PlainText);
    refusal->setVisible(!cells.refusal.isEmpty());
    column->addWidget(refusal);

    table = new QTableWidget(9, 8, box);
    table->setObjectName(QStringLiteral("twCelulas") + name);
    table->setAccessibleName(QStringLiteral("Células ") + name.toLower());
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setVerticalHeaderLabels(rowCaptions);
    table->setHorizontalHeaderLabels(columnCaptions);
    constexpr int columnWidth = 64, rowHeight = 40;
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->horizontalHeader()->setDefaultSectionSize(columnWidth);
    table->verticalHeader()->setDefaultSectionSize(rowHeight);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int k = 0; k < correction::cellCount; ++k) {
        auto *item = new QTableWidgetItem(correction::meanText(cells, k));
        item->setTextAlignment(Qt::AlignCenter);
        if (cells.cells)
            item->setBackground(meanColour(cells.cells->cells[std::size_t(k)]));
        table->setItem(k / 8, k % 8, item);
    }
    const int frame = 2 * table->frameWidth();
    table->setFixedSize(table->verticalHeader()->sizeHint().width() + 8 * columnWidth + frame,
                        table->horizontalHeader()->sizeHint().height() + 9 * rowHeight + frame);
    column->addWidget(table);
    column->addStretch();
    return box;
}
