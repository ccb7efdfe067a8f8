// How long the main window takes to appear, against a bare Qt window of the same size,
// measured side by side in one run. Each start is a fresh process (this program again,
// with --child bare, velto or velto-at-once), so that every start pays for loading the
// libraries, the fonts and the style as the real program does; the runs alternate.
// A start is timed from launching the process to the end of the window's first paint.
//
//   bench_startup [RUNS]      (default 15 of each; offscreen without a display)
#include "app/form1.h"
#include "app/startupprefetch.h"
#include "app/translations.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

// CPU time of the calling thread (the one that paints): what a start costs where
// it cannot be spread over another core, also on a loaded machine.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}
double cpuAtMain = 0;

// Reports the end of the first paint of the window (its children paint in the same
// pass) with the time since main() began, then runs then (if any) and ends the process.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const QElapsedTimer &clock, std::function<void()> then = {})
        : clock_(clock), then_(std::move(then))
    {
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, this, [this] {
                std::printf("painted %.3f %.3f\n", double(clock_.nsecsElapsed()) / 1e6, threadCpuMs() - cpuAtMain);
                std::fflush(stdout);
                if (then_)
                    then_();
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer &clock_;
    std::function<void()> then_;
    bool seen_ = false;
};

// kind: "bare", "velto" (as the program starts: the map page after the first paint) or
// "velto-at-once" (the whole window built before it is shown, for comparison).
int child(int argc, char **argv, const QByteArray &kind, const QElapsedTimer &clock)
{
    // As main() starts the program: the fonts and the port list load beside the
    // application object.
    std::optional<StartupPrefetch> prefetch;
    if (kind != "bare")
        prefetch.emplace();
    QApplication app(argc, argv);
    if (prefetch)
        prefetch->applicationStarted();
    if (kind == "bare") {
        FirstPaint watch(clock);
        QWidget bare;
        bare.setFixedSize(972, 710);
        bare.installEventFilter(&watch);
        bare.show();
        return app.exec();
    }
    // As main() starts the program.
    QApplication::setApplicationName(QStringLiteral("Velto"));
    installQtTranslations(app);
    TForm1 form(nullptr, std::nullopt, nullptr, nullptr,
                kind == "velto" ? TForm1::MapPageBuild::AfterFirstPaint : TForm1::MapPageBuild::Now);
    // The picture lies beside this program; a start without it would skip its decode.
    const QLabel *picture = form.findChild<QLabel *>(QStringLiteral("Image2"));
    if (!picture || picture->pixmap().isNull()) {
        std::fputs("bench_startup: the window's picture was not found beside the benchmark\n", stderr);
        return 2;
    }
    // After the first paint: when the map page, built right after it, is ready (at once:
    // already).
    FirstPaint watch(clock, [&form, &clock] {
        form.ensureMapPage();
        std::printf("complete %.3f\n", double(clock.nsecsElapsed()) / 1e6);
        std::fflush(stdout);
    });
    form.installEventFilter(&watch);
    form.show();
    return app.exec();
}

struct Start {
    double wall = 0;  // launch to first paint, as the parent saw it
    double inside = 0; // main() to first paint, as the child measured it
    double cpu = 0;    // the painting thread's CPU time from main() to first paint
    double complete = 0; // main() to the whole window built (Velto only)
};

bool runChild(const QString &self, const char *kind, Start *out)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer wall;
    wall.start();
    p.start(self, {QStringLiteral("--child"), QString::fromLatin1(kind)});
    if (!p.waitForStarted(10000))
        return false;
    QByteArray line;
    while (!line.contains('\n')) {
        if (!p.waitForReadyRead(30000))
            return false;
        line += p.readAllStandardOutput();
    }
    out->wall = double(wall.nsecsElapsed()) / 1e6;
    if (!line.startsWith("painted "))
        return false;
    const QList<QByteArray> figures = line.mid(8).split('\n').first().split(' ');
    out->inside = figures.value(0).toDouble();
    out->cpu = figures.value(1).toDouble();
    p.waitForFinished(10000);
    line += p.readAllStandardOutput();
    const qsizetype at = line.indexOf("complete ");
    out->complete = at < 0 ? 0 : line.mid(at + 9).trimmed().toDouble();
    return p.exitCode() == 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    cpuAtMain = threadCpuMs();
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv, QByteArray(argv[2]), clock);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    const QString self = QCoreApplication::applicationFilePath();
    const char *kinds[] = {"bare", "velto", "velto-at-once"};
    std::vector<double> wall[3], inside[3], cpu[3], complete;
    Start s;
    // One start of each first, not counted: it brings the files into the page cache.
    for (const char *kind : kinds)
        if (!runChild(self, kind, &s)) {
            std::fputs("bench_startup: a start failed\n", stderr);
            return 1;
        }
    for (int i = 0; i < runs; ++i) {
        for (int k = 0; k < 3; ++k) {
            if (!runChild(self, kinds[k], &s)) {
                std::fprintf(stderr, "bench_startup: the %s start failed\n", kinds[k]);
                return 1;
            }
            wall[k].push_back(s.wall);
            inside[k].push_back(s.inside);
            cpu[k].push_back(s.cpu);
            if (k == 1)
                complete.push_back(s.complete);
            std::printf("run %2d %-13s launch to first paint %7.1f ms (main() to first paint %7.1f ms)\n", i + 1,
                        kinds[k], s.wall, s.inside);
        }
    }
    double w[3], in[3];
    for (int k = 0; k < 3; ++k) {
        w[k] = median(wall[k]);
        in[k] = median(inside[k]);
    }
    std::printf("\n%d runs each (%s), medians:\n", runs, qgetenv("QT_QPA_PLATFORM").isEmpty() ? "display" : "offscreen");
    std::printf("  bare window   launch to first paint %7.1f ms, main() to first paint %7.1f ms\n", w[0], in[0]);
    std::printf("  Velto window  launch to first paint %7.1f ms, main() to first paint %7.1f ms\n", w[1], in[1]);
    std::printf("  ratio         %.2f (launch to first paint), %.2f (main() to first paint)\n", w[1] / w[0],
                in[1] / in[0]);
    std::printf("  CPU time of the thread that paints, main() to first paint: bare %.1f ms, Velto %.1f ms "
                "(the rest of Velto's start runs on a second thread beside it)\n",
                median(cpu[0]), median(cpu[1]));
    std::printf("  Velto's map page, built right after the first paint, ready %.1f ms after main()\n",
                median(complete));
    std::printf("  Velto built at once (map page before the first paint): launch to first paint %.1f ms, "
                "ratio %.2f\n",
                w[2], w[2] / w[0]);
    return 0;
}
