// A vehicle's history: the time to write one entry, to list them all, and the room they
// take on disk, for entries of one map cell changed each; then the whole history pushed
// to a bare repository, pulled into an empty folder, and a diverged line pulled and listed.
//
//   bench_history [entries]     (default 10000)
#include "history/vehicle.h"
#include "link/tuneimage.h"
#include "session/vehiclerecorder.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <vector>
#include <git2.h>

namespace {

// Bytes the folder takes on disk (allocated blocks, as du counts them) and its files.
std::pair<qint64, qint64> diskUse(const QString &folder)
{
    qint64 bytes = 0, files = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        struct stat st{};
        if (::stat(QFile::encodeName(it.next()).constData(), &st) == 0) {
            bytes += qint64(st.st_blocks) * 512;
            ++files;
        }
    }
    return {bytes, files};
}

// The window's prompt, for the recorder: a failure is printed.
class PrintedPrompt : public Prompt {
public:
    void message(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    std::optional<QString> saveFileName(const FileDialogSpec &) override { return std::nullopt; }
    std::optional<QString> openFileName(const FileDialogSpec &) override { return std::nullopt; }
    int question(const QString &, const QStringList &) override { return -1; }
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(2, atoi(argv[1])) : 10000;
    QTemporaryDir dir;
    const QString folder = dir.filePath("carro");
    history::Vehicle vehicle(folder);
    Tune tune = startupTune();
    std::vector<double> ms, packMs;
    ms.reserve(std::size_t(count));
    QElapsedTimer all;
    all.start();
    for (int n = 0; n < count; ++n) {
        // One cell a step, walking over both maps.
        const int cell = 8 + n % 144;
        tune.texts[cell] = QString::number((tune.texts[cell].toInt() + 1) % 60);
        QElapsedTimer t;
        t.start();
        vehicle.record(history::kind::sent, tune, QStringLiteral("/dev/ttyUSB0"));
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        t.start();
        if (vehicle.compact())
            packMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double total = double(all.elapsed()) / 1000.0;
    std::printf("entries written:      %d in %.1f s\n", count, total);
    std::printf("one entry:            median %.2f ms, 99th percentile %.2f ms, max %.2f ms (target < 50 ms)\n",
                percentile(ms, 0.5), percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()));

    std::printf("packing (after an entry): %zu times, median %.0f ms, max %.0f ms\n", packMs.size(),
                percentile(packMs, 0.5), packMs.empty() ? 0.0 : *std::max_element(packMs.begin(), packMs.end()));

    QElapsedTimer t;
    t.start();
    const qsizetype listed = vehicle.entries().size();
    std::printf("list of %lld entries:  %.0f ms (target < 1000 ms)\n", static_cast<long long>(listed), double(t.nsecsElapsed()) / 1e6);
    t.start();
    history::Vehicle reopened(folder);
    const qsizetype again = reopened.entries().size();
    std::printf("open and list again:  %.0f ms (%lld entries)\n", double(t.nsecsElapsed()) / 1e6, static_cast<long long>(again));

    const auto [bytes, files] = diskUse(folder);
    std::printf("on disk:              %.1f MB in %lld files (target < 20 MB for 10,000 entries)\n", double(bytes) / 1e6,
                static_cast<long long>(files));

    // The window's way: an upload's end told to the recorder, which writes the entry on
    // its own thread. The window's thread spends only the telling; the entry is on
    // disk when the queue is empty again.
    {
        PrintedPrompt prompt;
        VehicleRecorder recorder(dir.filePath("janela"), prompt, nullptr);
        const int events = std::min(count, 1000);
        std::vector<double> told, onDisk;
        Tune shown = startupTune();
        for (int n = 0; n < events; ++n) {
            const int cell = 8 + n % 144;
            shown.texts[cell] = QString::number((shown.texts[cell].toInt() + 1) % 60);
            QElapsedTimer t;
            t.start();
            recorder.event(TuneEvent::Sent, shown, QStringLiteral("/dev/ttyUSB0"));
            told.push_back(double(t.nsecsElapsed()) / 1e6);
            recorder.flush();
            onDisk.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::printf("window, %d uploads:  event to entry on disk median %.2f ms, 99th percentile %.2f ms (target < 50 ms),"
                    " max %.0f ms (an entry that packs); window's thread per event median %.3f ms, max %.3f ms\n",
                    events, percentile(onDisk, 0.5), percentile(onDisk, 0.99),
                    *std::max_element(onDisk.begin(), onDisk.end()), percentile(told, 0.5),
                    *std::max_element(told.begin(), told.end()));
    }
    // Sharing: the whole history to a bare repository, into a second laptop's empty
    // folder, then both change the car and the second pulls the diverged line.
    const QString remote = dir.filePath("remoto.git");
    QDir().mkpath(remote);
    {
        git_libgit2_init();
        git_repository *bare = nullptr;
        git_repository_init(&bare, QFile::encodeName(remote).constData(), 1);
        git_repository_free(bare);
        git_libgit2_shutdown();
    }
    reopened.addRemote(QStringLiteral("origin"), remote);
    t.start();
    reopened.push();
    std::printf("push of all:          %.0f ms\n", double(t.nsecsElapsed()) / 1e6);
    history::Vehicle second(dir.filePath("outro"));
    second.addRemote(QStringLiteral("origin"), remote);
    t.start();
    second.pull();
    std::printf("pull into an empty folder: %.0f ms (%lld entries)\n", double(t.nsecsElapsed()) / 1e6,
                static_cast<long long>(second.entries().size()));
    tune.texts[8] = QStringLiteral("1");
    reopened.record(history::kind::sent, tune, {});
    reopened.push();
    tune.texts[8] = QStringLiteral("2");
    second.record(history::kind::sent, tune, {});
    t.start();
    const history::PullResult kept = second.pull();
    std::printf("pull of a diverged line: %.0f ms (kept as %s)\n", double(t.nsecsElapsed()) / 1e6,
                qPrintable(kept.kept.join(u',')));
    t.start();
    const qsizetype both = second.allEntries().size();
    std::printf("list of both lines:   %.0f ms (%lld entries)\n", double(t.nsecsElapsed()) / 1e6, static_cast<long long>(both));
    return 0;
}
