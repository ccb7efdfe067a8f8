#pragma once
// The viewer's pages beside the plots: the table per map cell and the XY plot.
#include "app/logviewer.h"

#include <QLocale>
#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QCustomPlot;
class QCPColorScale;
class QListWidget;
class QTableWidget;

// A number as the window shows it: a decimal comma, no "-0".
QString displayNumber(double value, int decimals);
// "mm:ss,s" of seconds since the first row.
QString clockText(double seconds);
// The plots' numbers: pt-BR (a decimal comma, as the legends), without group separators.
QLocale plotLocale();

// " Por célula ": a channel's statistic per base cell on the map's axes, coloured by
// value; clicking a cell lists its time spans and jumps to the first.
class CellPage : public QWidget {
    Q_OBJECT
public:
    CellPage(const logview::LogColumns &columns, const std::vector<logformat::Marker> &markers, const MapAxes &axes,
             QWidget *parent = nullptr);

    std::function<void(std::size_t row)> seekRequested;
    std::function<std::pair<double, double>()> visibleRange; // seconds

    void refresh();
    void cellClicked(int row, int column);
    // The rows counted: the visible stretch, or from a marker (or the start) to a
    // marker (or the end).
    std::pair<std::size_t, std::size_t> rowRange() const;

    QComboBox *channelBox() const { return channel_; }
    QComboBox *statBox() const { return stat_; }
    QComboBox *fromBox() const { return from_; }
    QComboBox *toBox() const { return to_; }
    QCheckBox *visibleOnly() const { return visibleOnly_; }
    QTableWidget *table() const { return table_; }
    QListWidget *spanList() const { return spans_; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    const logview::LogColumns &columns_;
    const std::vector<logformat::Marker> &markers_;
    QComboBox *channel_, *stat_, *from_, *to_;
    QCheckBox *visibleOnly_;
    QTableWidget *table_;
    QListWidget *spans_;
    std::vector<logview::Span> shownSpans_;
    int spanCell_ = -1; // the cell whose stays are listed
    void listSpans();
};

// " Dispersão ": one channel against another for every row, coloured by a third.
class ScatterPage : public QWidget {
    Q_OBJECT
public:
    explicit ScatterPage(const logview::LogColumns &columns, QWidget *parent = nullptr);
    void refresh();
    QComboBox *xBox() const { return x_; }
    QComboBox *yBox() const { return y_; }
    QComboBox *colorBox() const { return color_; }
    QCustomPlot *plot() const { return plot_; }
    // Points drawn (rows falling on the same spot of the plot are drawn once).
    int pointCount() const { return points_; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    const logview::LogColumns &columns_;
    QComboBox *x_, *y_, *color_;
    QCustomPlot *plot_;
    QCPColorScale *scale_;
    int points_ = 0;
    bool drawn_ = false;
};
