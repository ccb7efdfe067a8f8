#include "app/logviewerlink.h"

#include "app/form1.h"
#include "app/logviewer.h"
#include "app/widgetscreen.h"
#include "common/names.h"
#include "datalog/datalog.h"

#include <QScreen>

LogViewerLink::LogViewerLink(TForm1 &form) : form_(form)
{
    Datalog &d = form_.datalog();
    d.onLogSwitched = [this](const QString &path) { logSwitched(path); };
    d.onRowShown = [this](std::size_t row) {
        if (viewer_)
            viewer_->showRow(row);
    };
}

LogViewerLink::~LogViewerLink()
{
    Datalog &d = form_.datalog();
    d.onLogSwitched = nullptr;
    d.onRowShown = nullptr;
    closeViewer();
}

void LogViewerLink::logSwitched(const QString &path)
{
    closeViewer();
    if (path.isEmpty() || !form_.datalog().log())
        return;
    WidgetScreen &s = form_.widgetScreen();
    MapAxes axes;
    for (const QString &name : names::ignitionRowCaptions())
        axes.rows << s.text(name);
    for (const QString &name : names::ignitionColumnCaptions())
        axes.columns << s.text(name);
    viewer_ = new LogViewer(*form_.datalog().log(), path, axes, &form_);
    viewer_->setAttribute(Qt::WA_DeleteOnClose);
    // A row picked in the viewer goes through the slider, as a move of the slider does.
    viewer_->seekRequested = [this](std::size_t row) {
        form_.widgetScreen().setBarPosition(QStringLiteral("tbPosicao"), int(row));
    };
    viewer_->closedByUser = [this] {
        viewer_ = nullptr; // closing already
        form_.guarded([this] { form_.datalog().btnFecharRegistroClick(); });
    };
    viewer_->showRow(form_.datalog().row());
    placeBesideForm(*viewer_);
    viewer_->show();
}

void LogViewerLink::closeViewer()
{
    if (!viewer_)
        return;
    LogViewer *v = viewer_;
    viewer_ = nullptr;
    v->closing_ = true;
    v->close(); // deletes it
}

// To the right of the main window where the screen has room, else over its right part.
void LogViewerLink::placeBesideForm(LogViewer &viewer)
{
    const QRect frame = form_.frameGeometry();
    const QRect area = form_.screen() ? form_.screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
    const int width = std::min(viewer.width(), area.width());
    const int height = std::min(std::max(viewer.height(), frame.height()), area.height());
    int x = frame.right() + 1;
    if (x + width > area.right() + 1)
        x = std::max(area.left(), area.right() + 1 - width);
    viewer.setGeometry(x, std::clamp(frame.top(), area.top(), area.bottom() + 1 - height), width, height);
}

LogViewer *LogViewerLink::viewer() const { return viewer_; }
