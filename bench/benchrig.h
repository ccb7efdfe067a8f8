#pragma once
// The real window (offscreen) on the ECU simulator, for the benchmarks.
#include "app/form1.h"
#include "core/qttimer.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "fakes.h"
#include "link/receiver.h"
#include "serial/comport.h"
#include "simprocess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QTest>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace bench {

// Offscreen when there is no display; the simulator built beside the benchmark.
inline void prepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("VELTO_SIM"))
        qputenv("VELTO_SIM", VELTO_SIM_DEFAULT);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

inline double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline long residentKiB()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Runs the event loop as the program does for ms milliseconds. (QTest::qWait would
// sleep between its rounds of events and so measure itself, not the window.)
inline void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() or the time-out.
template <typename F> bool waitFor(F done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        runFor(5);
    }
    return true;
}

struct Rig {
    SimProcess sim;
    FakePrompt prompt;
    std::unique_ptr<TForm1> form;
    explicit Rig(const QStringList &simArguments) : sim(simArguments) {}
    bool start()
    {
        if (!sim.start()) {
            std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorString()));
            return false;
        }
        form = std::make_unique<TForm1>(&prompt, QStringList{sim.devicePath()});
        form->show();
        form->guarded([&] { form->btnAtivarClick(); });
        return form->ComPort1().Connected();
    }
    Controller &c() { return form->controller(); }
};

} // namespace bench
