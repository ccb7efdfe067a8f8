#pragma once
// Opens the log's viewer beside the main window when the replay opens a log, closes it
// when the log closes, and ties the viewer's cursor to the replay's row both ways.
#include <QPointer>

class LogViewer;
class TForm1;

class LogViewerLink {
public:
    explicit LogViewerLink(TForm1 &form);
    ~LogViewerLink();
    LogViewer *viewer() const;

private:
    void logSwitched(const QString &path);
    void closeViewer();
    void placeBesideForm(LogViewer &viewer);

    TForm1 &form_;
    QPointer<LogViewer> viewer_;
};
