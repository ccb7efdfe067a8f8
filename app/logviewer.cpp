#include "app/logviewer.h"

#include "common/numtext.h"

#include "app/logviewerpages.h"
#include "datalog/datalog.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

namespace {

// Left and right margins of every pane, so that the time axes line up.
constexpr int axisMargin = 62;
constexpr double wheelStep = 0.8; // the view shrinks to 80 % per wheel notch

const QColor channelColors[] = {QColor(0, 90, 200),  QColor(210, 40, 30), QColor(20, 140, 40), QColor(150, 60, 170),
                                QColor(220, 120, 0), QColor(0, 150, 160), QColor(120, 80, 40), QColor(90, 90, 90)};

QColor colorOf(int index) { return channelColors[index % int(std::size(channelColors))]; }

} // namespace

QLocale plotLocale()
{
    QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    locale.setNumberOptions(QLocale::OmitGroupSeparator); // "6500" as in the legend
    return locale;
}

namespace {

// The pixel columns a pane's curves are reduced to: its plotting area's width.
int plotColumns(const QCustomPlot *plot)
{
    const QMargins m = plot->axisRect()->margins();
    return std::max(200, plot->width() - m.left() - m.right());
}

} // namespace

QString displayNumber(double value, int decimals) { return numtext::formatFixed(value, decimals); }

QString clockText(double seconds)
{
    return Datalog::positionText(std::llround(seconds * 1000), 0).section(QStringLiteral(" / "), 0, 0);
}

struct LogViewer::Pane {
    QString name;
    QWidget *box = nullptr;
    QToolButton *button = nullptr;
    QCustomPlot *plot = nullptr;
    QList<int> channels;
    QList<QCPGraph *> graphs;
    QList<std::pair<float, float>> inView; // min and max in view, per channel
    QCPItemStraightLine *cursor = nullptr;
    QCPItemText *empty = nullptr;
    int columns = 0; // the pixel columns the curves were reduced to
    QPoint pressAt;
    double pressFrom = 0, pressTo = 0;
    bool pressed = false, dragged = false;
};

const QList<QList<int>> &LogViewer::defaultPanes()
{
    // RPM; Ti and Abertura; Sonda, CorrCurto and CorrLongo; TPSV and Temperatura.
    static const QList<QList<int>> panes{{1}, {3, 4}, {14, 16, 17}, {6, 7}};
    return panes;
}

QString LogViewer::title(const QString &fileName)
{
    return QString::fromUtf8(" Registro — %1 ").arg(QFileInfo(fileName).fileName());
}

LogViewer::LogViewer(const logformat::Log &log, const QString &fileName, const MapAxes &axes, QWidget *parent)
    : QWidget(parent, Qt::Window),
      columns_(std::make_unique<logview::LogColumns>(log)),
      markers_(log.markers)
{
    setWindowTitle(title(fileName));
    setObjectName(QStringLiteral("LogViewer"));
    resize(1000, 720);
    for (logformat::Marker &m : markers_)
        m.ms -= log.rows.front().ms; // the viewer's time begins at the first row

    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("pcRegistro"));
    pages_->addTab(buildPlotsPage(), QStringLiteral(" Curvas "));
    cellPage_ = new CellPage(*columns_, markers_, axes);
    cellPage_->seekRequested = [this](std::size_t row) { requestRow(row); };
    cellPage_->visibleRange = [this] { return std::pair(from_, to_); };
    pages_->addTab(cellPage_, QString::fromUtf8(" Por célula "));
    scatterPage_ = new ScatterPage(*columns_);
    pages_->addTab(scatterPage_, QString::fromUtf8(" Dispersão "));
    auto *box = new QVBoxLayout(this);
    box->setContentsMargins(4, 4, 4, 4);
    box->addWidget(pages_);

    for (const QList<int> &channels : defaultPanes())
        addPane(channels);
    wholeLog();
    showRow(0);
}

LogViewer::~LogViewer() = default;

QWidget *LogViewer::buildPlotsPage()
{
    auto *page = new QWidget;
    auto *row = new QHBoxLayout(page);
    row->setContentsMargins(2, 2, 2, 2);
    auto *paneHost = new QWidget;
    paneBox_ = new QVBoxLayout(paneHost);
    paneBox_->setContentsMargins(0, 0, 0, 0);
    paneBox_->setSpacing(2);
    // Panes that do not fit at their least height scroll.
    auto *scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("sbPaineis"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(paneHost);
    row->addWidget(scroll, 1);

    auto *side = new QVBoxLayout;
    cursorLabel_ = new QLabel;
    cursorLabel_->setObjectName(QStringLiteral("lCursorRegistro"));
    side->addWidget(cursorLabel_);
    auto *markersLabel = new QLabel(QStringLiteral("&Marcas"));
    side->addWidget(markersLabel);
    markerList_ = new QListWidget;
    markerList_->setObjectName(QStringLiteral("lbMarcasRegistro"));
    markersLabel->setBuddy(markerList_);
    for (const logformat::Marker &m : markers_)
        markerList_->addItem(QStringLiteral("%1 - %2 - %3")
                                 .arg(m.number, 3, 10, QLatin1Char('0'))
                                 .arg(m.text, clockText(columns_->time()[m.row])));
    auto jump = [this](QListWidgetItem *item) {
        const int i = markerList_->row(item);
        if (i >= 0 && std::size_t(i) < markers_.size())
            requestRow(markers_[std::size_t(i)].row);
    };
    connect(markerList_, &QListWidget::itemClicked, this, jump);
    connect(markerList_, &QListWidget::itemActivated, this, jump);
    side->addWidget(markerList_, 1);
    auto *add = new QPushButton(QStringLiteral("&Adicionar painel"));
    add->setObjectName(QStringLiteral("btnAdicionarPainel"));
    connect(add, &QPushButton::clicked, this, [this] { addPane(); });
    side->addWidget(add);
    auto *whole = new QPushButton(QStringLiteral("Registro &inteiro"));
    whole->setObjectName(QStringLiteral("btnRegistroInteiro"));
    whole->setToolTip(QStringLiteral("Mostra o registro inteiro (também com um duplo clique num painel)."));
    connect(whole, &QPushButton::clicked, this, [this] { wholeLog(); });
    side->addWidget(whole);
    auto *help = new QLabel(QString::fromUtf8("Roda: zoom no tempo\nArrastar: desloca\nClique: leva a "
                                              "reprodução\nDuplo clique: tudo\n← →: uma linha (Shift: dez)"));
    help->setStyleSheet(QStringLiteral("color: gray"));
    side->addWidget(help);
    auto *sideHost = new QWidget;
    sideHost->setLayout(side);
    sideHost->setFixedWidth(210);
    row->addWidget(sideHost);
    return page;
}

void LogViewer::addPane(const QList<int> &channels)
{
    auto pane = std::make_unique<Pane>();
    pane->name = QStringLiteral("Painel %1").arg(++paneNumber_);
    for (int c : channels)
        if (c >= 0 && c < logview::channelCount && columns_->present(c))
            pane->channels << c; // a channel the log does not hold is not offered
    buildPane(*pane);
    paneBox_->addWidget(pane->box, 1);
    panes_.push_back(std::move(pane));
    alignPanes();
    refreshPane(*panes_.back());
    refreshLegends();
}

void LogViewer::removePane(int index)
{
    if (index < 0 || index >= paneCount())
        return;
    panes_[std::size_t(index)]->box->deleteLater();
    panes_.erase(panes_.begin() + index);
    alignPanes();
}

void LogViewer::buildPane(Pane &pane)
{
    pane.box = new QWidget;
    auto *column = new QVBoxLayout(pane.box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    pane.button = new QToolButton;
    pane.button->setPopupMode(QToolButton::InstantPopup);
    pane.button->setMenu(new QMenu(pane.button));
    pane.button->setToolTip(QStringLiteral("Escolhe os canais do painel."));
    pane.button->setAutoRaise(true);
    column->addWidget(pane.button, 0, Qt::AlignLeft);

    QCustomPlot *plot = pane.plot = new QCustomPlot;
    plot->setObjectName(pane.name);
    plot->setMinimumHeight(90);
    plot->setLocale(plotLocale());
    column->addWidget(plot, 1);
    plot->setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    plot->setNotAntialiasedElements(QCP::aeAll);
    plot->axisRect()->setAutoMargins(QCP::msTop | QCP::msBottom);
    plot->axisRect()->setMargins(QMargins(axisMargin, 0, axisMargin, 0));
    plot->xAxis->setTickLabels(true);
    plot->yAxis2->setVisible(true);
    plot->legend->setVisible(true);
    plot->legend->setBrush(QColor(255, 255, 255, 215));
    QFont small = plot->legend->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    plot->legend->setFont(small);
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    pane.cursor = new QCPItemStraightLine(plot);
    pane.cursor->setPen(QPen(Qt::black, 1, Qt::SolidLine));
    pane.cursor->setSelectable(false);
    pane.empty = new QCPItemText(plot);
    pane.empty->position->setType(QCPItemPosition::ptAxisRectRatio);
    pane.empty->position->setCoords(0.5, 0.5);
    pane.empty->setText(pane.name + QStringLiteral(": nenhum canal"));
    pane.empty->setColor(Qt::gray);
    for (const logformat::Marker &m : markers_) {
        const double t = double(m.ms) / 1000.0;
        auto *line = new QCPItemStraightLine(plot);
        line->setPen(QPen(QColor(230, 120, 0), 1, Qt::DashLine));
        line->point1->setCoords(t, 0);
        line->point2->setCoords(t, 1);
        auto *label = new QCPItemText(plot);
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(t, 1);
        label->setPositionAlignment(Qt::AlignBottom | Qt::AlignLeft);
        label->setText(m.text);
        label->setColor(QColor(190, 90, 0));
        label->setClipToAxisRect(true);
    }
    plot->setFocusPolicy(Qt::ClickFocus); // the arrow keys step the cursor
    plot->installEventFilter(this);
    buildMenu(pane);
    rebuildGraphs(pane);
}

// The pane's menu: a checkable entry per channel the log holds, then "Remover painel".
void LogViewer::buildMenu(Pane &pane)
{
    QMenu *menu = pane.button->menu();
    const QStringList &names = logformat::channels();
    for (int c = 0; c < logview::channelCount; ++c) {
        if (!columns_->present(c))
            continue; // a channel the log does not hold is not offered
        QAction *a = menu->addAction(names[c]);
        a->setCheckable(true);
        a->setData(c);
        connect(a, &QAction::toggled, this, [this, p = &pane, c](bool on) {
            QList<int> channels = p->channels;
            if (on && !channels.contains(c))
                channels << c;
            if (!on)
                channels.removeAll(c);
            const int i = paneIndex(p);
            if (i >= 0)
                setPaneChannels(i, channels);
        });
    }
    menu->addSeparator();
    QAction *remove = menu->addAction(QStringLiteral("Remover painel"));
    // Queued: the menu that emits goes with its pane.
    connect(remove, &QAction::triggered, this, [this, p = &pane] {
        QMetaObject::invokeMethod(
            this, [this, p] { removePane(paneIndex(p)); }, Qt::QueuedConnection);
    });
}

int LogViewer::paneIndex(const Pane *pane) const
{
    for (int i = 0; i < paneCount(); ++i)
        if (panes_[std::size_t(i)].get() == pane)
            return i;
    return -1;
}

// The pane's curves for its channels: one value axis each (first left, second right,
// more to the right), scaled to the channel's whole range so that panning keeps them.
void LogViewer::rebuildGraphs(Pane &pane)
{
    const QStringList &names = logformat::channels();
    QStringList shown;
    for (int c : pane.channels)
        shown << names[c];
    pane.button->setText(pane.name + QStringLiteral(": ") +
                         (shown.isEmpty() ? QStringLiteral("nenhum canal") : shown.join(QStringLiteral(", "))));
    for (QAction *a : pane.button->menu()->actions()) {
        const QSignalBlocker quiet(a);
        if (a->isCheckable())
            a->setChecked(pane.channels.contains(a->data().toInt()));
    }

    QCustomPlot *plot = pane.plot;
    plot->clearGraphs();
    for (QCPAxis *extra : plot->axisRect()->axes(QCPAxis::atRight))
        if (extra != plot->yAxis2)
            plot->axisRect()->removeAxis(extra);
    pane.graphs.clear();
    pane.inView.clear();
    const QStringList &units = logformat::units();
    for (int i = 0; i < pane.channels.size(); ++i) {
        const int c = pane.channels[i];
        QCPAxis *axis = i == 0 ? plot->yAxis : i == 1 ? plot->yAxis2 : plot->axisRect()->addAxis(QCPAxis::atRight);
        const QColor color = colorOf(i);
        axis->setTickLabelColor(color);
        axis->setLabelColor(color);
        axis->setBasePen(QPen(color));
        axis->setTickPen(QPen(color));
        axis->setSubTickPen(QPen(color));
        axis->setTickLabels(true);
        axis->setVisible(true);
        // The third and later axes stand to the right of the one before, each in a
        // margin of its own (alignPanes leaves room for them).
        axis->setOffset(i >= 2 ? axisMargin * (i - 1) : 0);
        double lo = columns_->minimum(c), hi = columns_->maximum(c);
        if (hi - lo < 1e-9) { // a constant channel: a flat line in the middle
            lo -= 1;
            hi += 1;
        }
        const double pad = (hi - lo) * 0.06;
        axis->setRange(lo - pad, hi + pad);
        QCPGraph *g = plot->addGraph(plot->xAxis, axis);
        g->setPen(QPen(color, 1.2));
        g->setAdaptiveSampling(false); // the data is reduced already, exactly
        g->setName(names[c] + QStringLiteral(" (") + units[c] + u')');
        pane.graphs << g;
        pane.inView << std::pair(0.0f, 0.0f);
    }
    if (pane.channels.size() < 2) {
        plot->yAxis2->setTickLabels(false);
        plot->yAxis2->setRange(0, 1);
    }
    pane.empty->setVisible(pane.channels.isEmpty());
    plot->legend->setVisible(!pane.channels.isEmpty());
    alignPanes();
}

// Every pane gets the margins of the pane with the most value axes on its right, so
// that one moment lies at the same x in every pane.
void LogViewer::alignPanes()
{
    int rightAxes = 1;
    for (const auto &pane : panes_)
        rightAxes = std::max<int>(rightAxes, int(pane->channels.size()) - 1);
    for (const auto &pane : panes_) {
        pane->plot->axisRect()->setMargins(QMargins(axisMargin, 0, axisMargin * rightAxes, 0));
        pane->plot->replot(QCustomPlot::rpQueuedReplot);
    }
}

QList<int> LogViewer::paneChannels(int pane) const { return panes_[std::size_t(pane)]->channels; }
QCustomPlot *LogViewer::panePlot(int pane) const { return panes_[std::size_t(pane)]->plot; }
QToolButton *LogViewer::paneButton(int pane) const { return panes_[std::size_t(pane)]->button; }

void LogViewer::setPaneChannels(int index, const QList<int> &channels)
{
    if (index < 0 || index >= paneCount())
        return;
    Pane &pane = *panes_[std::size_t(index)];
    pane.channels.clear();
    for (int c : channels)
        if (c >= 0 && c < logview::channelCount && columns_->present(c) && !pane.channels.contains(c))
            pane.channels << c;
    rebuildGraphs(pane);
    refreshPane(pane);
    refreshLegends();
}

void LogViewer::refreshPane(Pane &pane)
{
    const int pixels = pane.columns = plotColumns(pane.plot);
    pane.plot->xAxis->setRange(from_, to_);
    for (int i = 0; i < pane.channels.size(); ++i) {
        const std::vector<float> &values = columns_->column(pane.channels[i]);
        const logview::Envelope e = logview::reduce(*columns_, pane.channels[i], from_, to_, pixels);
        QVector<QCPGraphData> points(qsizetype(e.x.size()));
        float lo = 0, hi = 0;
        bool any = false;
        for (std::size_t k = 0; k < e.x.size(); ++k) {
            points[qsizetype(k)] = QCPGraphData(e.x[k], e.y[k]);
            if (e.x[k] < from_ || e.x[k] > to_)
                continue;
            lo = any ? std::min(lo, float(e.y[k])) : float(e.y[k]);
            hi = any ? std::max(hi, float(e.y[k])) : float(e.y[k]);
            any = true;
        }
        if (!any) { // no row inside the view: the value the line carries through it
            const std::size_t r = columns_->rowAtOrBefore(from_);
            lo = hi = values[r];
        }
        pane.graphs[i]->data()->set(points, true);
        // A lone point has no line to draw: it is drawn as a dot.
        pane.graphs[i]->setScatterStyle(points.size() == 1 ? QCPScatterStyle(QCPScatterStyle::ssDisc, 7)
                                                           : QCPScatterStyle());
        pane.inView[i] = std::pair(lo, hi);
    }
}

QString LogViewer::legendText(int index, int channelIndex) const
{
    const Pane &pane = *panes_[std::size_t(index)];
    const int c = pane.channels[channelIndex];
    const int decimals = logview::channelDecimals(c);
    const auto [lo, hi] = pane.inView[channelIndex];
    return QString::fromUtf8("%1  %2 %3   mín %4  máx %5")
        .arg(logformat::channels()[c], displayNumber(columns_->column(c)[row_], decimals), logformat::units()[c],
             displayNumber(lo, decimals), displayNumber(hi, decimals));
}

void LogViewer::refreshLegends()
{
    const double t = columns_->size() ? columns_->time()[row_] : 0;
    for (int p = 0; p < paneCount(); ++p) {
        Pane &pane = *panes_[std::size_t(p)];
        pane.cursor->point1->setCoords(t, 0);
        pane.cursor->point2->setCoords(t, 1);
        for (int i = 0; i < pane.graphs.size(); ++i)
            pane.graphs[i]->setName(legendText(p, i));
        pane.plot->replot(QCustomPlot::rpQueuedReplot);
    }
    cursorLabel_->setText(
        QStringLiteral("Cursor %1\nlinha %2 de %3")
            .arg(Datalog::positionText(std::llround(t * 1000), std::llround(columns_->time().back() * 1000)))
            .arg(row_ + 1)
            .arg(columns_->size()));
}

void LogViewer::replotAll()
{
    for (const auto &pane : panes_)
        pane->plot->replot(QCustomPlot::rpImmediateRefresh);
}

void LogViewer::setView(double from, double to)
{
    const double end = columns_->time().empty() ? 0 : columns_->time().back();
    if (end <= 0) { // one moment: a second around it
        from_ = -0.5;
        to_ = 0.5;
    } else {
        double width = to - from;
        if (!(width > 0))
            width = end;
        width = std::clamp(width, std::min(0.01, end), end);
        from_ = std::clamp(from, 0.0, end - width);
        to_ = from_ + width;
    }
    for (const auto &pane : panes_)
        refreshPane(*pane);
    refreshLegends();
}

void LogViewer::wholeLog() { setView(0, columns_->time().empty() ? 1 : columns_->time().back()); }

void LogViewer::zoomAt(double t, double factor) { setView(t - (t - from_) * factor, t + (to_ - t) * factor); }

void LogViewer::panBy(double seconds) { setView(from_ + seconds, to_ + seconds); }

void LogViewer::showRow(std::size_t row)
{
    if (columns_->size() == 0)
        return;
    row_ = std::min(row, columns_->size() - 1);
    const double t = columns_->time()[row_];
    if (t < from_ || t > to_) {
        const double width = to_ - from_;
        setView(t - width / 2, t + width / 2);
        return;
    }
    refreshLegends();
}

void LogViewer::requestRow(std::size_t row)
{
    if (columns_->size() == 0)
        return;
    row = std::min(row, columns_->size() - 1);
    if (seekRequested)
        seekRequested(row);
    else
        showRow(row);
}

void LogViewer::stepRows(int delta)
{
    const std::int64_t target =
        std::clamp<std::int64_t>(std::int64_t(row_) + delta, 0, std::int64_t(columns_->size()) - 1);
    requestRow(std::size_t(target));
}

void LogViewer::keyPressEvent(QKeyEvent *event)
{
    const int step = event->modifiers() & Qt::ShiftModifier ? 10 : 1;
    if (event->key() == Qt::Key_Right)
        return stepRows(step);
    if (event->key() == Qt::Key_Left)
        return stepRows(-step);
    QWidget::keyPressEvent(event);
}

void LogViewer::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (!closing_ && closedByUser)
        closedByUser();
}

LogViewer::Pane *LogViewer::paneOf(QObject *plot)
{
    for (const auto &pane : panes_)
        if (pane->plot == plot)
            return pane.get();
    return nullptr;
}

bool LogViewer::eventFilter(QObject *watched, QEvent *event)
{
    Pane *pane = paneOf(watched);
    if (!pane)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *k = static_cast<QKeyEvent *>(event);
        if (k->key() != Qt::Key_Left && k->key() != Qt::Key_Right)
            return false;
        keyPressEvent(k);
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel: paneMouse(*pane, event); return true;
    case QEvent::Resize:
        // The plot has its new size already: its curves are reduced to its new width.
        if (plotColumns(pane->plot) != pane->columns)
            refreshPane(*pane);
        return false;
    default: return QWidget::eventFilter(watched, event);
    }
}

// Wheel: zoom around the mouse; drag: pan; click: the replay goes there; double-click:
// the whole log.
void LogViewer::paneMouse(Pane &pane, QEvent *event)
{
    QCustomPlot *plot = pane.plot;
    if (event->type() == QEvent::Wheel) {
        auto *w = static_cast<QWheelEvent *>(event);
        const double notches = w->angleDelta().y() / 120.0;
        if (notches != 0)
            zoomAt(plot->xAxis->pixelToCoord(w->position().x()), std::pow(wheelStep, notches));
        return;
    }
    auto *m = static_cast<QMouseEvent *>(event);
    const QPoint at = m->position().toPoint();
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        if (m->button() == Qt::LeftButton)
            wholeLog();
        return;
    case QEvent::MouseButtonPress:
        if (m->button() != Qt::LeftButton)
            return;
        pane.pressed = true;
        pane.dragged = false;
        pane.pressAt = at;
        pane.pressFrom = from_;
        pane.pressTo = to_;
        return;
    case QEvent::MouseMove: {
        if (!pane.pressed)
            return;
        const int dx = at.x() - pane.pressAt.x();
        if (!pane.dragged && std::abs(dx) < 4)
            return;
        pane.dragged = true;
        const double perPixel = (pane.pressTo - pane.pressFrom) / std::max(1, plot->axisRect()->width());
        setView(pane.pressFrom - dx * perPixel, pane.pressTo - dx * perPixel);
        return;
    }
    case QEvent::MouseButtonRelease:
        if (m->button() != Qt::LeftButton || !pane.pressed)
            return;
        pane.pressed = false;
        if (!pane.dragged)
            requestRow(columns_->nearestRow(plot->xAxis->pixelToCoord(at.x())));
        return;
    default: return;
    }
}
