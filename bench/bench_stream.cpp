// Live data from the simulator into the real window (offscreen) with the scanner on.
//   bench_stream                      as fast as the pseudo-terminal carries the frames, 10 s
//   bench_stream --rate 107 --seconds 600   the soak: the line's own limit for ten minutes
// Prints frames decoded per second, the ratio to the line's limit (38400 baud carries
// 320 twelve-byte frames a second), CPU time per frame, the largest input queue seen,
// frames sent against frames decoded, and resident memory at start and end.
#include "datalog/datalog.h"
#include <QTemporaryDir>
#include "benchrig.h"

#include <QTimer>

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    QString rate = "max";
    int seconds = 10;
    bool record = false;
    for (int i = 1; i < argc; ++i)
        if (QString(argv[i]) == "--record")
            record = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString key = argv[i];
        if (key == "--rate")
            rate = argv[i + 1];
        else if (key == "--seconds")
            seconds = std::max(1, atoi(argv[i + 1]));
    }
    bench::Rig rig({"--rate", rate, "--log-sent", "--speed", "14", "--load", "3"});
    if (!rig.start())
        return 1;

    Receiver &receiver = rig.c().receiver();
    rig.form->guarded([&] { rig.c().Button3Click(); });
    // --record: the datalog records every frame (synced by its timer, as in the window).
    QTemporaryDir logDir;
    if (record)
        rig.form->guarded([&] { rig.form->datalog().recordTo(logDir.filePath("bench.msl")); });
    // Let the stream settle before measuring.
    bench::waitFor([&] { return receiver.framesRecognised() > 50; }, 5000);
    bench::runFor(1000);

    int largestQueue = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &app, [&] {
        try {
            largestQueue = std::max(largestQueue, rig.form->ComPort1().InputCount());
        } catch (const std::exception &) {
        }
    });
    sampler.start(100);

    const long rssStart = bench::residentKiB();
    const std::uint64_t framesStart = receiver.framesRecognised();
    const double cpuStart = bench::cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    int minute = 0;
    while (clock.elapsed() < qint64(seconds) * 1000) {
        bench::runFor(200);
        if (clock.elapsed() / 60000 > minute) {
            minute = int(clock.elapsed() / 60000);
            std::printf("  %3d min: %llu frames, resident %ld KiB\n", minute,
                        (unsigned long long)(receiver.framesRecognised() - framesStart), bench::residentKiB());
            std::fflush(stdout);
        }
    }
    const double elapsed = clock.elapsed() / 1000.0;
    const double cpu = bench::cpuSeconds() - cpuStart;
    const std::uint64_t frames = receiver.framesRecognised() - framesStart;
    const long rssEnd = bench::residentKiB();
    sampler.stop();

    const std::int64_t recorded = record ? rig.form->datalog().recorder().rows() : 0;
    rig.form->guarded([&] { rig.c().Button3Click(); });
    if (record)
        std::printf("recorded %lld rows to %s\n", static_cast<long long>(recorded),
                    qPrintable(logDir.filePath("bench.msl")));
    rig.sim.waitForEvents("command D9", 1, 3000);
    bench::runFor(1500);
    const int sent = rig.sim.countEvents("sent");
    const std::uint64_t decoded = receiver.framesRecognised();
    const double perSecond = frames / elapsed;

    std::printf("rate %s, %.1f s: %llu frames decoded, %.0f frames/s, %.1f x the line's limit of 320 frames/s\n",
                qPrintable(rate), elapsed, (unsigned long long)frames, perSecond, perSecond / 320.0);
    std::printf("CPU %.2f s: %.1f us per frame; largest input queue %d bytes\n", cpu, frames ? cpu * 1e6 / frames : 0.0,
                largestQueue);
    std::printf("frames sent by the simulator %d, decoded by the window %llu, lost %lld (receive events %llu)\n",
                sent, (unsigned long long)decoded, (long long)sent - (long long)decoded,
                (unsigned long long)receiver.eventsHandled());
    std::printf("resident memory: %ld KiB at start, %ld KiB at end (%+ld KiB)\n", rssStart, rssEnd, rssEnd - rssStart);
    std::printf("messages shown: %d\n", int(rig.prompt.messages.size()));
    for (const QString &m : rig.prompt.messages)
        std::printf("  %s\n", qPrintable(m));
    return (sent == qint64(decoded) && rig.prompt.messages.isEmpty()) ? 0 : 1;
}
