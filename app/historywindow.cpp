#include "app/historywindow.h"

#include "app/beforeafterdialog.h"
#include "app/comparedialog.h"
#include "app/mapcolours.h"
#include "common/names.h"
#include "common/numtext.h"
#include "core/controller.h"
#include "core/tunediff.h"
#include "datalog/vehiclelogs.h"
#include "maps/axes.h"
#include "session/vehiclerecorder.h"

#include <QDialogButtonBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

const QString inModuleText = QStringLiteral("no módulo");

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setToolTip(text);
    return item;
}

[[noreturn]] void refuse(const QString &text) { throw std::runtime_error(text.toStdString()); }

QString entryName(const history::Entry &e)
{
    return QStringLiteral("%1 (%2, %3)").arg(e.id, e.kind, e.time.toString(QStringLiteral("dd/MM/yyyy HH:mm")));
}

} // namespace

HistoryWindow::HistoryWindow(VehicleRecorder &vehicle, Controller &controller, Prompt &prompt, Guard guard,
                             std::function<void(const QString &)> showField, QWidget *parent)
    : QDialog(parent),
      vehicle_(vehicle),
      controller_(controller),
      prompt_(prompt),
      guard_(std::move(guard)),
      showField_(std::move(showField))
{
    setObjectName(QStringLiteral("dlgHistorico"));
    setWindowTitle(QStringLiteral(" Histórico "));
    resize(900, 480);

    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(
        QStringLiteral("&Entradas do veículo %1 (%2), a mais nova primeiro:").arg(vehicle.name(), vehicle.folder()),
        this);
    heading->setObjectName(QStringLiteral("lbEntradas"));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    table_ = new QTableWidget(0, 7, this);
    table_->setObjectName(QStringLiteral("tbEntradas"));
    table_->setAccessibleName(QStringLiteral("Entradas"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Data"), QStringLiteral("Tipo"), QStringLiteral("Resumo"),
                                       QStringLiteral("Nota"), QStringLiteral("Etiquetas"), QStringLiteral("Módulo"),
                                       QStringLiteral("Registros")});
    table_->verticalHeader()->setVisible(false);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QHeaderView *header = table_->horizontalHeader();
    for (int c : {0, 1, 4, 5, 6})
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    header->setSectionResizeMode(3, QHeaderView::Interactive);
    heading->setBuddy(table_);
    layout->addWidget(table_);

    auto *buttons = new QDialogButtonBox(this);
    const std::pair<const char *, QString> captions[] = {
        {"btnNota", QStringLiteral("&Nota…")},
        {"btnEtiqueta", QStringLiteral("E&tiqueta…")},
        {"btnCompararEntradas", QStringLiteral("&Comparar")},
        {"btnRestaurar", QStringLiteral("&Restaurar na tela")},
        {"btnAntesDepois", QStringLiteral("Antes e &depois")},
        {"btnAtualizar", QStringLiteral("&Atualizar")},
    };
    const std::function<void()> handlers[] = {
        [this] { btnNotaClick(); },      [this] { btnEtiquetaClick(); },    [this] { btnCompararClick(); },
        [this] { btnRestaurarClick(); }, [this] { btnAntesDepoisClick(); }, [this] { refresh(); },
    };
    for (std::size_t i = 0; i < std::size(captions); ++i) {
        QPushButton *b = buttons->addButton(captions[i].second, QDialogButtonBox::ActionRole);
        b->setObjectName(QString::fromLatin1(captions[i].first));
        b->setAutoDefault(false);
        const std::function<void()> handler = handlers[i];
        connect(b, &QPushButton::clicked, this, [this, handler] { guard_(handler); });
    }
    QPushButton *close = buttons->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnFechar"));
    close->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *note = new QLabel(QStringLiteral("Restaurar põe o ajuste da entrada na tela (Desfazer o tira); nada é "
                                           "enviado ao módulo."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addWidget(buttons);
    refresh();
}

void HistoryWindow::refresh()
{
    entries_ = vehicle_.call<QList<history::Entry>>([](history::Vehicle &v) { return v.entries(); });
    // Only the logs' headers are read.
    const QHash<QString, int> logs = vehiclelogs::countPerEntry(vehiclelogs::list(vehicle_.folder()), entries_);
    table_->clearSelection();
    table_->setRowCount(int(entries_.size()));
    int row = 0;
    for (const history::Entry &e : entries_) {
        table_->setItem(row, 0, cell(e.time.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))));
        table_->setItem(row, 1, cell(e.kind));
        table_->setItem(row, 2, cell(e.summary));
        table_->setItem(row, 3, cell(e.note));
        table_->setItem(row, 4, cell(e.tags.join(QStringLiteral(", "))));
        table_->setItem(row, 5, cell(e.inModule ? inModuleText : QString()));
        const int count = logs.value(e.commit);
        table_->setItem(row, 6, cell(count ? QString::number(count) : QString()));
        table_->item(row, 6)->setTextAlignment(Qt::AlignCenter);
        if (e.inModule) {
            QFont bold = table_->font();
            bold.setBold(true);
            for (int c = 0; c < 7; ++c)
                table_->item(row, c)->setFont(bold);
        }
        ++row;
    }
}

QList<int> HistoryWindow::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &i : table_->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

const history::Entry &HistoryWindow::selectedOne() const
{
    const QList<int> rows = selectedRows();
    if (rows.size() != 1 || rows[0] >= entries_.size())
        refuse(QStringLiteral("Selecione uma entrada do histórico."));
    return entries_[rows[0]];
}

void HistoryWindow::btnNotaClick()
{
    const history::Entry e = selectedOne();
    const std::optional<QString> text =
        prompt_.askText(QStringLiteral("Nota da entrada %1:").arg(entryName(e)), e.note);
    if (!text)
        return;
    vehicle_.callVoid([&](history::Vehicle &v) { v.setNote(e.id, *text); });
    refresh();
}

void HistoryWindow::btnEtiquetaClick()
{
    const history::Entry e = selectedOne();
    const std::optional<QString> text = prompt_.askText(
        QStringLiteral("Etiqueta para a entrada %1 (por exemplo boa, pista):").arg(entryName(e)), QString());
    if (!text || text->trimmed().isEmpty())
        return;
    vehicle_.callVoid([&](history::Vehicle &v) { v.addTag(e.id, *text); });
    refresh();
}

void HistoryWindow::btnCompararClick()
{
    const QList<int> rows = selectedRows();
    if (rows.size() != 2)
        refuse(QStringLiteral("Selecione duas entradas do histórico para comparar."));
    // Newest first: the lower row is the older entry, shown first.
    const history::Entry older = entries_[rows[1]], newer = entries_[rows[0]];
    const auto tunes = vehicle_.call<std::pair<Tune, Tune>>(
        [&](history::Vehicle &v) { return std::pair(v.tune(older.commit), v.tune(newer.commit)); });
    const QList<tunediff::Difference> differences = tunediff::compare(tunes.first, tunes.second);
    const qsizetype n = differences.size();
    const QString heading =
        n == 0 ? QStringLiteral("As entradas %1 e %2 têm o mesmo ajuste.").arg(older.id, newer.id)
               : QStringLiteral("%1 %2 da entrada %3 para a entrada %4. Clique duas vezes numa linha para ir ao "
                                "campo.")
                     .arg(QString::number(n), n == 1 ? QStringLiteral("diferença") : QStringLiteral("diferenças"),
                          entryName(older), entryName(newer));
    if (compare_)
        compare_->close();
    auto *dialog = new CompareDialog(differences,
                                     {QStringLiteral("Comparar %1 com %2").arg(older.id, newer.id), heading,
                                      QStringLiteral("Em %1").arg(older.id), QStringLiteral("Em %1").arg(newer.id)},
                                     showField_, this);
    colourMapCells(dialog->table(), differences);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    compare_ = dialog;
    dialog->show();
}

CompareDialog *HistoryWindow::compareDialog() const { return compare_.data(); }

void HistoryWindow::btnAntesDepoisClick()
{
    const history::Entry e = selectedOne();
    const vehiclelogs::BeforeAfter logs = vehicle_.call<vehiclelogs::BeforeAfter>(
        [&](history::Vehicle &v) { return vehiclelogs::beforeAfter(v, e.commit); });
    const axes::Captions captions = axes::injectionCaptions(controller_.context().screen);
    if (beforeAfter_)
        beforeAfter_->close();
    auto *dialog = new BeforeAfterDialog(logs, captions.rows, captions.columns, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    beforeAfter_ = dialog;
    dialog->show();
}

BeforeAfterDialog *HistoryWindow::beforeAfterDialog() const { return beforeAfter_.data(); }

void HistoryWindow::btnRestaurarClick()
{
    const history::Entry e = selectedOne();
    const Tune tune = vehicle_.call<Tune>([&](history::Vehicle &v) { return v.tune(e.commit); });
    controller_.restoreTune(tune);
}

void HistoryWindow::colourMapCells(QTableWidget *table, const QList<tunediff::Difference> &differences)
{
    // The map of each cell control (0 ignition, 1 injection).
    QHash<QString, int> mapOf;
    for (int k = 0; k < 72; ++k) {
        mapOf.insert(names::ignitionCell(k), 0);
        mapOf.insert(names::injectionCell(k), 1);
    }
    QList<double> change(differences.size(), 0.0);
    double largest[2] = {0.0, 0.0};
    for (qsizetype i = 0; i < differences.size(); ++i) {
        const tunediff::Difference &d = differences[i];
        long double a = 0, b = 0;
        if (!mapOf.contains(d.control) || !numtext::tryParseFloat(d.a, &a) || !numtext::tryParseFloat(d.b, &b))
            continue;
        change[i] = double(b - a);
        double &l = largest[mapOf.value(d.control)];
        l = std::max(l, std::abs(change[i]));
    }
    for (qsizetype i = 0; i < differences.size(); ++i) {
        const tunediff::Difference &d = differences[i];
        if (change[i] == 0.0 || !mapOf.contains(d.control))
            continue;
        // From a pale tint for the smallest change to a strong one for the largest.
        const double t = 0.2 + 0.6 * std::abs(change[i]) / largest[mapOf.value(d.control)];
        const QColor full = change[i] > 0 ? QColor(220, 40, 30) : QColor(30, 80, 220);
        const QColor colour(int(255 + (full.red() - 255) * t), int(255 + (full.green() - 255) * t),
                            int(255 + (full.blue() - 255) * t));
        const QColor text = MapColours::textColour(colour);
        for (int c : {3, 4}) {
            QTableWidgetItem *item = table->item(int(i), c);
            item->setBackground(colour);
            item->setForeground(text);
        }
        table->item(int(i), 4)->setToolTip(QStringLiteral("%1%2").arg(change[i] > 0 ? QStringLiteral("+") : QString(),
                                                                      numtext::formatGeneral(change[i])));
    }
}
