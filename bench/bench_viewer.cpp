// The log's viewer on large logs, in the real window (offscreen):
//   - a log of 576000 rows (half an hour at the line's limit, a row per frame) opened as
//     `velto LOG.msl` opens it: time until the viewer's four panes are drawn, and the
//     resident memory after;
//   - redraw of the four panes at full width (1920 pixels) after a pan and after a zoom;
//   - the table per cell over 1152000 rows.
// bench_viewer [ROWS]                        the figures
// bench_viewer --grab LOG.msl PREFIX          PNGs of the viewer's pages on a log
#include "app/form1.h"
#include "app/logviewer.h"
#include "app/logviewerlink.h"
#include "app/logviewerpages.h"
#include "app/widgetscreen.h"
#include "datalog/datalog.h"
#include "datalog/logcolumns.h"
#include "fakes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <qcustomplot.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// A drive: RPM, load and probe that move like an engine, with a one-row spike now and then.
LiveValues driveRow(long i)
{
    LiveValues v;
    const double t = double(i) / 320.0;
    v.rpm = 900 + int(2500 * (1 + std::sin(t / 9.0)) + 300 * std::sin(t * 1.7));
    v.speedPosition = std::clamp(v.rpm * 48 / 6600, 0, 48);
    v.loadPosition = int(21 + 21 * std::sin(t / 5.0));
    v.injectionTenths = 20 + v.loadPosition * 2;
    v.probeMv = 450 + int(400 * std::sin(t * 3.1)) + (i % 9973 == 0 ? 400 : 0);
    v.correctionShort = int(10 * std::sin(t / 2.0));
    v.correctionLong = int(3 * std::sin(t / 60.0));
    v.tpsReading = v.loadPosition * 24;
    v.temperature = 70 + int(t / 60) % 25;
    v.markedCell = 8 * (v.speedPosition / 6) + v.loadPosition / 6;
    return v;
}

void writeLog(const QString &path, long rows)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return;
    f.write(logformat::header(QStringLiteral("bench"), QStringLiteral("2026-12-09T00:00:00")));
    QByteArray chunk;
    for (long i = 0; i < rows; ++i) {
        if (i % 96000 == 0 && i > 0)
            chunk += logformat::marker(int(i / 96000), QStringLiteral("Marca %1").arg(i / 96000), i * 1000 / 320);
        chunk += logformat::row(i * 1000 / 320, driveRow(i));
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
}

// CPU time of this thread, ms: on a machine shared with other work the wall time
// also counts the waits for a core.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Times {
    double wallAvg = 0, wallMax = 0, cpuAvg = 0;
};

template <typename F> Times timeEach(int n, F step)
{
    Times t;
    QElapsedTimer clock;
    for (int i = 0; i < n; ++i) {
        const double cpu = cpuMs();
        clock.start();
        step(i);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        t.wallAvg += ms / n;
        t.wallMax = std::max(t.wallMax, ms);
        t.cpuAvg += (cpuMs() - cpu) / n;
    }
    return t;
}

int grab(const QString &log, const QString &prefix)
{
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    form.show();
    form.guarded([&] { form.datalog().openLog(log); });
    LogViewer *v = form.logViewerLink().viewer();
    if (!v)
        return 1;
    v->resize(1400, 860);
    form.widgetScreen().setBarPosition(QStringLiteral("tbPosicao"), int(v->columns().size() / 3));
    v->zoomAt(v->columns().time()[v->columns().size() / 3], 0.6);
    QCoreApplication::processEvents();
    v->replotAll();
    bool ok = v->grab().save(prefix + QStringLiteral("-curvas.png"));
    v->pages()->setCurrentIndex(1);
    QCoreApplication::processEvents();
    v->cellPage()->cellClicked(3, 2);
    ok = v->grab().save(prefix + QStringLiteral("-celula.png")) && ok;
    v->pages()->setCurrentIndex(2);
    QCoreApplication::processEvents();
    ok = v->grab().save(prefix + QStringLiteral("-dispersao.png")) && ok;
    ok = form.grab().save(prefix + QStringLiteral("-janela.png")) && ok;
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--grab")
        return grab(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    const long rows = argc > 1 ? std::atol(argv[1]) : 576000L;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("drive.msl"));
    writeLog(path, rows);
    std::printf("log: %ld rows, %lld bytes\n", rows, static_cast<long long>(QFile(path).size()));

    {
        QElapsedTimer part;
        part.start();
        const logformat::Log log = logformat::read(path);
        const double readMs = double(part.nsecsElapsed()) / 1e6;
        part.restart();
        const logview::LogColumns columns(log);
        std::printf("parts: reading %.0f ms, columns %.0f ms\n", readMs, double(part.nsecsElapsed()) / 1e6);
    }

    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    form.show();
    QCoreApplication::processEvents();
    const long before = residentKiB();
    QElapsedTimer clock;
    clock.start();
    const double openCpu = cpuMs();
    // As main() opens `velto LOG.msl`; the grab paints the viewer with its four panes.
    form.guarded([&] { form.datalog().openLog(path); });
    LogViewer *v = form.logViewerLink().viewer();
    if (!v) {
        std::printf("the log did not open: %s\n", qPrintable(prompt.messages.join(u' ')));
        return 1;
    }
    const QImage first = v->grab().toImage();
    const double openMs = double(clock.nsecsElapsed()) / 1e6;
    std::printf("open with the viewer drawn: %.0f ms (%.0f ms of CPU), resident memory %ld KiB (%ld KiB before)\n",
                openMs, cpuMs() - openCpu, residentKiB(), before);

    v->resize(1920 + 210 + 2 * 62 + 20, 1000); // panes of 1920 pixels of plot
    v->grab();
    std::printf("pane width %d pixels\n", v->panePlot(0)->width());
    const double end = v->columns().time().back();
    v->setView(end * 0.25, end * 0.75);
    const Times pan = timeEach(60, [&](int i) {
        v->panBy((i % 20 < 10 ? 1 : -1) * end * 0.01);
        v->replotAll();
    });
    std::printf("pan over half the log (%ld rows in view), four panes redrawn: %.1f ms on average (%.1f ms of CPU), "
                "%.1f ms at most\n",
                rows / 2, pan.wallAvg, pan.cpuAvg, pan.wallMax);
    v->wholeLog();
    const Times zoom = timeEach(60, [&](int i) {
        v->zoomAt(end / 2, i % 2 ? 1 / 0.8 : 0.8);
        v->replotAll();
    });
    std::printf("zoom of the whole log, four panes redrawn: %.1f ms on average (%.1f ms of CPU), %.1f ms at most\n",
                zoom.wallAvg, zoom.cpuAvg, zoom.wallMax);

    // The table per cell over twice the rows.
    logformat::Log big;
    big.rows.resize(std::size_t(rows) * 2);
    for (std::size_t i = 0; i < big.rows.size(); ++i)
        big.rows[i] = {std::int64_t(i) * 1000 / 320, driveRow(long(i))};
    clock.restart();
    const logview::LogColumns columns(big);
    const double columnsMs = double(clock.nsecsElapsed()) / 1e6;
    const Times cells = timeEach(20, [&](int i) {
        const logview::CellTable t = logview::cellTable(columns, i % 2 ? 14 : 1, 0, columns.size());
        if (t.count[0] < 0)
            std::printf("?");
    });
    std::printf("table per cell over %zu rows: %.1f ms on average (%.1f ms of CPU), %.1f ms at most (columns "
                "built once in %.0f ms)\n",
                big.rows.size(), cells.wallAvg, cells.cpuAvg, cells.wallMax, columnsMs);
    return first.isNull() ? 1 : 0;
}
