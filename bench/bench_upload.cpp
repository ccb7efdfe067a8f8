// Pacing of a real upload: the window hands the frames to the serial component, whose
// own thread writes them to the simulator at their deadlines; the simulator's log stamps
// each frame on arrival (CLOCK_MONOTONIC). Each frame is compared with its slot,
// t + 50 x (n - 1) ms, and the end command with t + 1700 ms. The uploads run on an
// idle machine, then again with two busy processes beside them; each series ends with
// the median and worst deviation of a frame and of the end command.
#include "benchrig.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <future>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Processes that only spin, one per core this machine has to spare.
class BusyProcesses {
public:
    explicit BusyProcesses(int count)
    {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long n = 0;
                for (;;)
                    n = n + 1;
            }
            if (pid > 0)
                pids_.push_back(pid);
        }
    }
    ~BusyProcesses()
    {
        for (pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

private:
    std::vector<pid_t> pids_;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The value farthest from 0, with its sign.
double largest(const QList<double> &values)
{
    double worst = 0;
    for (double v : values)
        if (std::fabs(v) > std::fabs(worst))
            worst = v;
    return worst;
}

// The machine's own floor: the same writer, its clock and its thread, without the
// window, the port and the simulator (a write that does nothing, every slot handed
// over before it starts). What it shows is lateness no code of ours adds: on a virtual
// machine the host can hold back a core for some ms.
void printFloor(const char *label, int count)
{
    QList<double> late;
    std::promise<void> done;
    {
        PacedWriter writer([](const QByteArray &bytes) { return int(bytes.size()); },
                           [&](const PacedSlot &slot) {
                               late << std::chrono::duration<double, std::milli>(slot.late).count();
                               if (slot.slot == count)
                                   done.set_value();
                           },
                           std::chrono::milliseconds(50));
        for (int n = 1; n <= count; ++n)
            writer.hand(n, QByteArray(9, char(n)));
        done.get_future().wait();
    }
    late.removeFirst(); // slot 1 goes when handed over: no deadline
    const auto over = [&](double ms) {
        return int(std::count_if(late.begin(), late.end(), [ms](double v) { return v > ms; }));
    };
    std::printf("%s: the same writer alone (no window, port or simulator), %d slots: %.3f ms after the deadline "
                "(median), %.3f ms at worst; later than 1 ms: %d, than 3 ms: %d\n",
                label, int(late.size()), median(late), largest(late), over(1), over(3));
}

QString loadAverage()
{
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(' ', 0, 2) : QString("?");
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    bench::Rig rig({});
    if (!rig.start())
        return 1;

    // The writer's own lateness: from each slot's deadline to its write, as the port
    // reports the slot (the simulator's stamps add the line and its own wake-up).
    QList<double> writerLate;
    QList<double> wakeLate; // the writes whose bytes were there before their deadline
    QList<int> lateSlots; // the slots whose write began more than 1 ms after the deadline
    int handedLate = 0; // frames the window built after their deadline
    auto told = rig.form->ComPort1().OnSlotPassed;
    rig.form->ComPort1().OnSlotPassed = [&](const PacedSlot &slot) {
        if (!slot.bytes.isEmpty()) {
            writerLate << std::chrono::duration<double, std::milli>(slot.late).count();
            if (!slot.handedLate && slot.slot > 1)
                wakeLate << writerLate.last();
            if (writerLate.last() > 1)
                lateSlots << slot.slot;
            handedLate += slot.handedLate ? 1 : 0;
        }
        told(slot);
    };

    int run = 0;
    auto series = [&](const char *label) -> int {
    std::printf("-- %s\n", label);
    QList<double> frameDeviations; // frames 2 to 32 of every upload, ms from their slots
    QList<double> endOffsets;      // end command, ms from t + 1700
    writerLate.clear();
    wakeLate.clear();
    lateSlots.clear();
    handedLate = 0;
    for (int i = 1; i <= runs; ++i) {
        ++run;
        rig.form->guarded([&] { rig.c().btnEnviaClick(); });
        if (!bench::waitFor([&] { return !rig.form->timer2().isEnabled(); }, 5000) ||
            !rig.sim.waitForEvents("command 48", run, 3000)) {
            std::fprintf(stderr, "upload %d did not end\n", run);
            return 1;
        }
        // This run's frames and end command, with their arrival times.
        QList<double> frameTimes;
        double end = 0;
        int endsSeen = 0;
        for (const QString &line : rig.sim.logLines()) {
            const QStringList f = line.split(' ');
            if (f.size() < 2)
                continue;
            if (f[1] == "command" && f.value(2) == "48") {
                if (++endsSeen == run) {
                    end = f[0].toDouble();
                    break;
                }
                frameTimes.clear();
            } else if (f[1] == "frame" && endsSeen == run - 1) {
                frameTimes << f[0].toDouble();
            }
        }
        if (frameTimes.size() != 32) {
            std::fprintf(stderr, "run %d: %d frames logged\n", run, int(frameTimes.size()));
            return 1;
        }
        const double t = frameTimes[0];
        double worst = 0;
        int worstFrame = 1;
        for (int n = 1; n <= 32; ++n) {
            const double deviation = (frameTimes[n - 1] - t) * 1000 - 50.0 * (n - 1);
            if (n > 1)
                frameDeviations << deviation;
            if (std::fabs(deviation) > std::fabs(worst)) {
                worst = deviation;
                worstFrame = n;
            }
        }
        const double endDeviation = (end - t) * 1000 - 1700;
        endOffsets << endDeviation;
        if (std::fabs(endDeviation) > std::fabs(worst)) {
            worst = endDeviation;
            worstFrame = 35;
        }
        std::printf("upload %d: first frame to end command %.2f ms (schedule 1700 ms); largest deviation %+.2f ms "
                    "(%s)\n",
                    run, (end - t) * 1000, worst,
                    worstFrame == 35 ? "end command" : qPrintable(QString("frame %1").arg(worstFrame)));
        if (i == 1) {
            std::printf("  frame  slot ms  arrived ms  deviation ms\n");
            for (int n = 1; n <= 32; ++n)
                std::printf("  %5d  %7d  %10.2f  %+12.2f\n", n, 50 * (n - 1), (frameTimes[n - 1] - t) * 1000,
                            (frameTimes[n - 1] - t) * 1000 - 50.0 * (n - 1));
            std::printf("    end  %7d  %10.2f  %+12.2f\n", 1700, (end - t) * 1000, endDeviation);
        }
    }
    std::printf("%s, %d uploads: frame deviation from its slot median %+.2f ms, worst %+.2f ms; end command at "
                "+1700 ms %+.2f ms median, %+.2f ms worst; messages shown: %d\n",
                label, runs, median(frameDeviations), largest(frameDeviations), median(endOffsets),
                largest(endOffsets), int(rig.prompt.messages.size()));
    const auto over = [&](double ms) { return int(std::count_if(writerLate.begin(), writerLate.end(),
                                                               [ms](double v) { return v > ms; })); };
    std::printf("%s: the writer began each write %.3f ms after its deadline (median), %.3f ms at worst, over %d "
                "writes; later than 1 ms: %d, than 3 ms: %d; handed over by the window after the deadline: %d\n",
                label, median(writerLate), largest(writerLate), int(writerLate.size()), over(1), over(3),
                handedLate);
    // The writer's own wake-up: the frames that were there in time. None may go early.
    const int early = int(std::count_if(wakeLate.begin(), wakeLate.end(), [](double v) { return v < 0; }));
    std::printf("%s: of the %d writes whose frame was there before its deadline: %.3f ms after it (median), "
                "%.3f ms at worst; before the deadline: %d\n",
                label, int(wakeLate.size()), median(wakeLate), largest(wakeLate), early);
    QStringList lateNames;
    for (int slot : lateSlots)
        lateNames << QString::number(slot);
    std::printf("%s: the slots later than 1 ms: %s\n", label, lateNames.isEmpty() ? "none" : qPrintable(lateNames.join(' ')));
    printFloor(label, runs * 33);
    return rig.prompt.messages.isEmpty() ? 0 : 1;
    };
    std::printf("load average at the start: %s\n", qPrintable(loadAverage()));
    if (const int failed = series("idle machine"))
        return failed;
    BusyProcesses busy(2);
    const int failed = series("two busy processes beside it");
    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
    return failed;
}
