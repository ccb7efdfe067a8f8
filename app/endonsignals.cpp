#include "app/endonsignals.h"

#include "app/form1.h"
#include "core/qttimer.h"

#include <QCoreApplication>
#include <csignal>

namespace {
bool loopRuns = false;
bool ended = false;
} // namespace

std::unique_ptr<SignalWatch> endOnSignals(TForm1 &form)
{
    return std::make_unique<SignalWatch>(&form, std::initializer_list<int>{SIGTERM, SIGHUP}, [&form](int) {
        // No tick may follow: the end command of an upload never goes out.
        form.timer2().setEnabled(false);
        ended = true;
        if (loopRuns)
            QCoreApplication::quit();
        else
            QCoreApplication::exit(0); // quit() does nothing yet; this ends the open box's loop
    });
}

void eventLoopStarts() { loopRuns = true; }

bool endRequested() { return ended; }
