// Opening a one-hour log recorded at the line's limit (320 rows a second, 1152000
// rows) for playback: time to read it, resident memory after, and the time of a slider
// move (one row shown through the scanner's display on a screen without widgets).
#include "datalog/datalog.h"
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "fakes.h"
#include "link/scanner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    const long rows = argc > 1 ? std::atol(argv[1]) : 3600L * 320;
    QTemporaryDir dir;
    const QString path = dir.filePath("hour.msl");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(logformat::header("bench", "2024-01-01T00:00:00"));
        LiveValues v;
        QByteArray chunk;
        for (long i = 0; i < rows; ++i) {
            v.rpm = 800 + int(i % 6000);
            v.injectionTenths = int(i % 200);
            v.loadPosition = int(i % 43);
            v.speedPosition = int(i / 7 % 49);
            v.tpsReading = int(i % 1024);
            v.markedCell = int(i % 72);
            chunk += logformat::row(i * 1000 / 320, v);
            if (i % 60000 == 0)
                chunk += logformat::marker(int(i / 60000) + 1, "Marca", i * 1000 / 320);
            if (chunk.size() > (1 << 20)) {
                f.write(chunk);
                chunk.clear();
            }
        }
        f.write(chunk);
        std::printf("log: %ld rows, %lld bytes\n", rows, static_cast<long long>(f.size()));
    }
    const long before = residentKiB();
    Rig rig;
    Scanner scanner(rig.ctx);
    MapFile mapFile(rig.ctx);
    FakeTimer timer;
    Datalog datalog(rig.ctx, scanner, mapFile, timer);
    QElapsedTimer clock;
    clock.start();
    datalog.openLog(path);
    const double openMs = clock.nsecsElapsed() / 1e6;
    std::printf("open for playback: %.0f ms, resident memory %ld KiB (%ld KiB before)\n", openMs, residentKiB(),
                before);
    double worst = 0, total = 0;
    const int moves = 200;
    for (int i = 0; i < moves; ++i) {
        rig.screen.setBarPosition("tbPosicao", int((i * 7919L) % rows));
        clock.restart();
        datalog.tbPosicaoChange();
        const double ms = clock.nsecsElapsed() / 1e6;
        worst = std::max(worst, ms);
        total += ms;
    }
    std::printf("slider move: %.3f ms on average, %.3f ms at most (%d moves)\n", total / moves, worst, moves);
    return 0;
}
