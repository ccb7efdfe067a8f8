// Reconnect: the window (offscreen) on the simulator behind a fixed link; the
// simulator's cable is pulled (its control line `unplug`: its side of the line closes,
// the link goes) and put back (`replug`: a new pseudo-terminal behind the same link),
// N times (20 by default). For each cycle: the time from the loss to the status line
// saying so, the time from the device's return (the link in place again) to the port
// open again, and the CPU the program spends while it waits two seconds for the device.
#include "benchrig.h"

#include "session/portsession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>

namespace {

// On-CPU time of every thread of this process from the scheduler's own count in
// nanoseconds: getrusage's figure is sampled at the clock tick and charges whole ticks
// to a process that wakes for microseconds on a loaded machine.
double runSeconds()
{
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (f.open(QIODevice::ReadOnly))
            total += f.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

void printFigures(const char *what, QList<double> v, const char *unit)
{
    std::sort(v.begin(), v.end());
    std::printf("%s: median %.1f %s, worst %.1f %s (%d cycles)\n", what, v[v.size() / 2], unit, v.last(), unit,
                int(v.size()));
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTemporaryDir dir;
    const QString link = dir.filePath("ecu");
    SimProcess sim(QStringList{"--link", link, "--rate", "50"});
    if (!sim.start())
        return 1;
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{link});
    form.show();
    form.guarded([&] { form.btnAtivarClick(); });
    form.guarded([&] { form.controller().Button3Click(); });
    PortSession &session = form.session();

    QList<double> lossMs, reopenMs, scannerMs, cpuPercent;
    for (int i = 0; i < cycles; ++i) {
        bench::runFor(300);
        QElapsedTimer clock;
        clock.start();
        if (!sim.command(QStringLiteral("unplug")))
            return 1;
        if (!bench::waitFor([&] { return session.linkState() == LinkState::Lost; }, 3000)) {
            std::fprintf(stderr, "cycle %d: the loss was not seen\n", i + 1);
            return 1;
        }
        lossMs << double(clock.elapsed());
        bench::runFor(500); // the loss's own work (closing, repainting) is not the wait
        const double cpuBefore = runSeconds();
        clock.restart();
        bench::runFor(2000);
        cpuPercent << (runSeconds() - cpuBefore) * 100.0 / (double(clock.elapsed()) / 1000.0);

        if (!sim.command(QStringLiteral("replug")))
            return 1;
        clock.restart();
        if (!bench::waitFor([&] { return session.linkState() == LinkState::Reopened; }, 5000)) {
            std::fprintf(stderr, "cycle %d: not reopened\n", i + 1);
            return 1;
        }
        reopenMs << double(clock.elapsed());
        if (!bench::waitFor([&] { return form.controller().state().scannerActive; }, 8000)) {
            std::fprintf(stderr, "cycle %d: the scanner did not come back\n", i + 1);
            return 1;
        }
        scannerMs << double(clock.elapsed());
    }
    printFigures("loss to status line", lossMs, "ms");
    printFigures("device back to port open", reopenMs, "ms");
    printFigures("device back to scanner running (after the module check)", scannerMs, "ms");
    printFigures("CPU while waiting for the device", cpuPercent, "% of a core");
    std::printf("messages shown: %d, questions asked: %d\n", int(prompt.messages.size()),
                int(prompt.questions.size()));
    return prompt.messages.isEmpty() ? 0 : 1;
}
