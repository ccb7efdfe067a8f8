#pragma once
// The log's viewer " Registro — <file> ": stacked plot panes on one time axis with a
// cursor, the table per map cell (" Por célula ") and the XY plot (" Dispersão ").
// The cursor is the replay's row: the viewer asks for a row through seekRequested and
// is told the row the screen shows through showRow.
#include "datalog/logcolumns.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class QCustomPlot;
class QCPItemStraightLine;
class QListWidget;
class QTabWidget;
class QToolButton;
class QVBoxLayout;
class QLabel;
class CellPage;
class ScatterPage;

// The map's axis captions for the table per cell.
struct MapAxes {
    QStringList rows;    // 9, row 0 first
    QStringList columns; // 8
};

class LogViewer : public QWidget {
    Q_OBJECT
public:
    LogViewer(const logformat::Log &log, const QString &fileName, const MapAxes &axes, QWidget *parent = nullptr);
    ~LogViewer() override;

    static QString title(const QString &fileName); // " Registro — <file> "
    static const QList<QList<int>> &defaultPanes();

    // Asked when the user picks a row (click, arrow keys, marker, cell span).
    std::function<void(std::size_t row)> seekRequested;
    // Told when the user closes the window.
    std::function<void()> closedByUser;

    // The screen shows row: the cursor moves there (and into view).
    void showRow(std::size_t row);
    std::size_t cursorRow() const { return row_; }

    // The time axis of every pane, seconds since the first row.
    void setView(double from, double to);
    void wholeLog();
    void zoomAt(double t, double factor); // factor < 1 zooms in
    void panBy(double seconds);
    double viewFrom() const { return from_; }
    double viewTo() const { return to_; }

    // Panes and their channels (indexes of logformat::channels()).
    int paneCount() const { return int(panes_.size()); }
    QList<int> paneChannels(int pane) const;
    void setPaneChannels(int pane, const QList<int> &channels);
    void addPane(const QList<int> &channels = {});
    void removePane(int pane);
    QCustomPlot *panePlot(int pane) const;
    QToolButton *paneButton(int pane) const;
    // Legend line of a channel in a pane ("RPM  3450   mín 800  máx 6500").
    QString legendText(int pane, int index) const;

    QTabWidget *pages() const { return pages_; }
    QListWidget *markerList() const { return markerList_; }
    CellPage *cellPage() const { return cellPage_; }
    ScatterPage *scatterPage() const { return scatterPage_; }
    const logview::LogColumns &columns() const { return *columns_; }

    // Redraws every pane now (benchmarks time it).
    void replotAll();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Pane;
    QWidget *buildPlotsPage();
    void buildPane(Pane &pane);
    void refreshPane(Pane &pane);
    void refreshLegends();
    void buildMenu(Pane &pane);
    void rebuildGraphs(Pane &pane);
    int paneIndex(const Pane *pane) const;
    void alignPanes();
    void requestRow(std::size_t row);
    void stepRows(int delta);
    void paneMouse(Pane &pane, QEvent *event);
    Pane *paneOf(QObject *plot);

    std::unique_ptr<logview::LogColumns> columns_;
    std::vector<logformat::Marker> markers_;
    std::vector<std::unique_ptr<Pane>> panes_;
    QVBoxLayout *paneBox_ = nullptr;
    QTabWidget *pages_ = nullptr;
    QListWidget *markerList_ = nullptr;
    QLabel *cursorLabel_ = nullptr;
    CellPage *cellPage_ = nullptr;
    ScatterPage *scatterPage_ = nullptr;
    std::size_t row_ = 0;
    double from_ = 0, to_ = 1;
    int paneNumber_ = 0; // names of new panes
    bool closing_ = false;
    friend class LogViewerLink;
};
