#include "app/logviewerpages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <qcustomplot.h>
#include <unordered_map>

namespace {

const char *const statCaptions[] = {"amostras", "média", "mínimo", "máximo"};

// The channels the log holds, the one named first selected.
QComboBox *channelCombo(const logview::LogColumns &columns, const char *objectName, const QString &selected)
{
    auto *box = new QComboBox;
    box->setObjectName(QString::fromLatin1(objectName));
    for (int c = 0; c < logview::channelCount; ++c)
        if (columns.present(c))
            box->addItem(logformat::channels()[c], c);
    const int i = box->findText(selected);
    box->setCurrentIndex(i >= 0 ? i : std::min(1, box->count() - 1));
    return box;
}

// A caption with its field as buddy.
QLabel *captionFor(const QString &text, QWidget *field)
{
    auto *label = new QLabel(text);
    label->setBuddy(field);
    return label;
}

// Blue for the smallest value of the table, through green and yellow to red for the largest.
QColor heat(double f) { return QColor::fromHsvF(float(std::clamp(1.0 - f, 0.0, 1.0) * 240.0 / 360.0), 0.45f, 1.0f); }

} // namespace

CellPage::CellPage(const logview::LogColumns &columns, const std::vector<logformat::Marker> &markers,
                   const MapAxes &axes, QWidget *parent)
    : QWidget(parent),
      columns_(columns),
      markers_(markers)
{
    channel_ = channelCombo(columns, "cbCanalCelula", QStringLiteral("Sonda"));
    stat_ = new QComboBox;
    stat_->setObjectName(QStringLiteral("cbEstatisticaCelula"));
    for (const char *s : statCaptions)
        stat_->addItem(QString::fromUtf8(s));
    stat_->setCurrentIndex(1);
    from_ = new QComboBox;
    from_->setObjectName(QStringLiteral("cbDeMarca"));
    to_ = new QComboBox;
    to_->setObjectName(QStringLiteral("cbAteMarca"));
    from_->addItem(QString::fromUtf8("Início"));
    for (const logformat::Marker &m : markers) {
        const QString text = QStringLiteral("%1 - %2").arg(m.number, 3, 10, QLatin1Char('0')).arg(m.text);
        from_->addItem(text);
        to_->addItem(text);
    }
    to_->addItem(QStringLiteral("Fim"));
    to_->setCurrentIndex(to_->count() - 1);
    visibleOnly_ = new QCheckBox(QString::fromUtf8("Só o trecho &visível"));
    visibleOnly_->setObjectName(QStringLiteral("cbSoTrechoVisivel"));

    auto *controls = new QHBoxLayout;
    controls->addWidget(captionFor(QStringLiteral("&Canal:"), channel_));
    controls->addWidget(channel_);
    controls->addWidget(captionFor(QString::fromUtf8("&Estatística:"), stat_));
    controls->addWidget(stat_);
    controls->addSpacing(12);
    controls->addWidget(captionFor(QStringLiteral("&De:"), from_));
    controls->addWidget(from_);
    controls->addWidget(captionFor(QString::fromUtf8("&Até:"), to_));
    controls->addWidget(to_);
    controls->addWidget(visibleOnly_);
    controls->addStretch(1);

    table_ = new QTableWidget(9, 8);
    table_->setObjectName(QStringLiteral("tbCelulas"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setVerticalHeaderLabels(axes.rows);
    table_->setHorizontalHeaderLabels(axes.columns);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 8; ++c) {
            auto *item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            table_->setItem(r, c, item);
        }
    spans_ = new QListWidget;
    spans_->setObjectName(QStringLiteral("lbTrechosCelula"));
    auto *spansLabel = captionFor(QStringLiteral("&Trechos da célula"), spans_);

    auto *side = new QVBoxLayout;
    side->addWidget(spansLabel);
    side->addWidget(spans_);
    auto *body = new QHBoxLayout;
    body->addWidget(table_, 1);
    auto *sideHost = new QWidget;
    sideHost->setLayout(side);
    sideHost->setFixedWidth(230);
    body->addWidget(sideHost);
    auto *page = new QVBoxLayout(this);
    page->addLayout(controls);
    // A log without a position channel has no cell for any row: the table stays empty
    // and says why.
    const QString noCells = logview::noCellsReason(columns.missingPositions());
    if (!noCells.isEmpty()) {
        auto *note = new QLabel(noCells.left(1).toUpper() + noCells.mid(1) + QLatin1Char('.'));
        note->setObjectName(QStringLiteral("lbSemCelula"));
        note->setWordWrap(true);
        page->addWidget(note);
    }
    page->addLayout(body, 1);

    for (QComboBox *box : {channel_, stat_, from_, to_})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(visibleOnly_, &QCheckBox::toggled, this, [this](bool on) {
        from_->setEnabled(!on);
        to_->setEnabled(!on);
        refresh();
    });
    connect(table_, &QTableWidget::cellClicked, this, [this](int r, int c) { cellClicked(r, c); });
    auto jump = [this](QListWidgetItem *item) {
        const int i = spans_->row(item);
        if (i >= 0 && std::size_t(i) < shownSpans_.size() && seekRequested)
            seekRequested(shownSpans_[std::size_t(i)].row);
    };
    connect(spans_, &QListWidget::itemClicked, this, jump);
    connect(spans_, &QListWidget::itemActivated, this, jump);
    refresh();
}

std::pair<std::size_t, std::size_t> CellPage::rowRange() const
{
    if (visibleOnly_->isChecked() && visibleRange) {
        const auto [t0, t1] = visibleRange();
        return {columns_.rowAtOrAfter(t0), columns_.rowAtOrBefore(t1) + 1};
    }
    const int f = from_->currentIndex(), t = to_->currentIndex();
    std::size_t first = f <= 0 ? 0 : markers_[std::size_t(f - 1)].row;
    std::size_t end = t < 0 || std::size_t(t) >= markers_.size() ? columns_.size() : markers_[std::size_t(t)].row;
    if (first > end)
        std::swap(first, end);
    return {first, end};
}

void CellPage::refresh()
{
    const int channel = channel_->currentData().toInt();
    const auto stat = logview::CellStat(std::max(0, stat_->currentIndex()));
    const auto [first, end] = rowRange();
    const logview::CellTable t = logview::cellTable(columns_, channel, first, end);
    double lo = 0, hi = 0;
    bool any = false;
    for (int k = 0; k < 72; ++k) {
        const double v = t.value(k, stat);
        if (std::isnan(v))
            continue;
        lo = any ? std::min(lo, v) : v;
        hi = any ? std::max(hi, v) : v;
        any = true;
    }
    const int decimals = stat == logview::CellStat::Count  ? 0
                         : stat == logview::CellStat::Mean ? 2
                                                           : logview::channelDecimals(channel);
    for (int k = 0; k < 72; ++k) {
        QTableWidgetItem *item = table_->item(k / 8, k % 8);
        const double v = t.value(k, stat);
        item->setText(std::isnan(v) ? QStringLiteral("-") : displayNumber(v, decimals));
        item->setBackground(std::isnan(v) ? QColor(235, 235, 235) : heat(hi > lo ? (v - lo) / (hi - lo) : 0.5));
        item->setToolTip(QStringLiteral("%1 leitura(s)").arg(t.count[std::size_t(k)]));
    }
    listSpans(); // the stays of the chosen cell within the rows counted now
}

// The chosen cell's stays within the rows counted.
void CellPage::listSpans()
{
    shownSpans_.clear();
    spans_->clear();
    if (spanCell_ < 0)
        return;
    const auto [first, end] = rowRange();
    shownSpans_ = logview::cellSpans(columns_, spanCell_, first, end);
    for (const logview::Span &s : shownSpans_)
        spans_->addItem(QString::fromUtf8("%1 – %2  (%3 s)")
                            .arg(clockText(s.from), clockText(s.to), displayNumber(s.to - s.from, 1)));
}

void CellPage::cellClicked(int row, int column)
{
    spanCell_ = 8 * row + column;
    listSpans();
    if (!shownSpans_.empty() && seekRequested)
        seekRequested(shownSpans_.front().row);
}

void CellPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (visibleOnly_->isChecked())
        refresh(); // the plots' view may have moved
}

ScatterPage::ScatterPage(const logview::LogColumns &columns, QWidget *parent) : QWidget(parent), columns_(columns)
{
    x_ = channelCombo(columns, "cbEixoX", QStringLiteral("RPM"));
    y_ = channelCombo(columns, "cbEixoY", QStringLiteral("Carga"));
    color_ = channelCombo(columns, "cbCorDispersao", QStringLiteral("Sonda"));
    auto *controls = new QHBoxLayout;
    controls->addWidget(captionFor(QStringLiteral("Eixo &X:"), x_));
    controls->addWidget(x_);
    controls->addWidget(captionFor(QStringLiteral("Eixo &Y:"), y_));
    controls->addWidget(y_);
    controls->addWidget(captionFor(QStringLiteral("C&or:"), color_));
    controls->addWidget(color_);
    controls->addStretch(1);
    plot_ = new QCustomPlot;
    plot_->setObjectName(QStringLiteral("plotDispersao"));
    plot_->setLocale(plotLocale());
    scale_ = new QCPColorScale(plot_);
    plot_->plotLayout()->addElement(0, 1, scale_);
    auto *page = new QVBoxLayout(this);
    page->addLayout(controls);
    page->addWidget(plot_, 1);
    for (QComboBox *box : {x_, y_, color_})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
}

void ScatterPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!drawn_)
        refresh(); // drawn the first time the page is shown
}

// Rows that fall on the same spot of a 600 x 400 grid are drawn once, coloured by the
// mean of their third channel: every row counts, and the plot stays quick.
void ScatterPage::refresh()
{
    drawn_ = true;
    const int cx = x_->currentData().toInt(), cy = y_->currentData().toInt(), cc = color_->currentData().toInt();
    const auto &xs = columns_.column(cx), &ys = columns_.column(cy), &cs = columns_.column(cc);
    const double x0 = columns_.minimum(cx), x1 = std::max<double>(columns_.maximum(cx), x0 + 1e-9);
    const double y0 = columns_.minimum(cy), y1 = std::max<double>(columns_.maximum(cy), y0 + 1e-9);
    constexpr int gridX = 600, gridY = 400;
    struct Spot {
        double x = 0, y = 0, sum = 0;
        int count = 0;
    };
    std::unordered_map<int, Spot> spots;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const int gx = std::clamp(int((xs[i] - x0) / (x1 - x0) * (gridX - 1) + 0.5), 0, gridX - 1);
        const int gy = std::clamp(int((ys[i] - y0) / (y1 - y0) * (gridY - 1) + 0.5), 0, gridY - 1);
        Spot &s = spots[gx * gridY + gy];
        if (s.count == 0) {
            s.x = xs[i];
            s.y = ys[i];
        }
        s.sum += cs[i];
        ++s.count;
    }
    plot_->clearGraphs();
    plot_->clearPlottables();
    const double c0 = columns_.minimum(cc), c1 = std::max<double>(columns_.maximum(cc), c0 + 1e-9);
    QCPColorGradient gradient(QCPColorGradient::gpJet);
    constexpr int bins = 16;
    QVector<QCPGraph *> graphs;
    for (int b = 0; b < bins; ++b) {
        QCPGraph *g = plot_->addGraph();
        g->setLineStyle(QCPGraph::lsNone);
        const QColor color = gradient.color((b + 0.5) / bins, QCPRange(0, 1));
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, color, color, 4));
        g->setAdaptiveSampling(false);
        graphs << g;
    }
    QVector<QVector<QCPGraphData>> data(bins);
    for (const auto &[key, s] : spots) {
        const double mean = s.sum / s.count;
        const int b = std::clamp(int((mean - c0) / (c1 - c0) * bins), 0, bins - 1);
        data[b].append(QCPGraphData(s.x, s.y));
    }
    for (int b = 0; b < bins; ++b) {
        std::sort(data[b].begin(), data[b].end(),
                  [](const QCPGraphData &a, const QCPGraphData &b) { return a.key < b.key; });
        graphs[b]->data()->set(data[b], true);
    }
    points_ = int(spots.size());
    const QStringList &names = logformat::channels(), &units = logformat::units();
    plot_->xAxis->setLabel(names[cx] + QStringLiteral(" (") + units[cx] + u')');
    plot_->yAxis->setLabel(names[cy] + QStringLiteral(" (") + units[cy] + u')');
    const double px = (x1 - x0) * 0.03 + 0.5, py = (y1 - y0) * 0.03 + 0.5;
    plot_->xAxis->setRange(x0 - px, x1 + px);
    plot_->yAxis->setRange(y0 - py, y1 + py);
    scale_->setGradient(gradient);
    scale_->setDataRange(QCPRange(c0, c1));
    scale_->axis()->setLabel(names[cc] + QStringLiteral(" (") + units[cc] + u')');
    plot_->replot();
}
