// Undo and redo of a bulk change in the real window (offscreen): the time each takes
// and the memory each step of the history holds.
//
//   bench_undo [steps]     (default 1000)
#include "app/form1.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "core/undo.h"
#include "fakes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <vector>

namespace {

struct Times {
    std::vector<double> ms;
    void add(double v) { ms.push_back(v); }
    double median()
    {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : ms[ms.size() / 2];
    }
    double max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

std::size_t heapBytes() { return mallinfo2().uordblks; }

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int steps = argc > 1 ? std::max(2, atoi(argv[1])) : 1000;

    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    form.show();
    QApplication::processEvents();
    Controller &c = form.controller();
    WidgetScreen &s = form.widgetScreen();
    c.btnAlterarMapasClick();

    // Every bulk change moves all 144 cells: ignition +1 or -1 degree, injection +10 %
    // or -9 %, so that no cell reaches a limit and every step differs from the last.
    const std::size_t heapBefore = heapBytes();
    const qsizetype storedBefore = c.history().storedBytes();
    Times change, undo, redo;
    QElapsedTimer t;
    for (int i = 0; i < steps; ++i) {
        s.setText("eAltera", i % 2 ? "-1" : "1");
        s.setText("eAlterar", i % 2 ? "-9" : "10");
        t.start();
        form.guarded([&] { c.btnAlterarClick(); });
        change.add(t.nsecsElapsed() / 1e6);
    }
    const std::size_t heapAfter = heapBytes();
    const qsizetype storedAfter = c.history().storedBytes();
    const int recorded = c.history().count() - 1;

    for (int i = 0; i < recorded; ++i) {
        t.start();
        form.guarded([&] { c.undo(); });
        undo.add(t.nsecsElapsed() / 1e6);
    }
    const QString firstCell = s.text("e0");
    for (int i = 0; i < recorded; ++i) {
        t.start();
        form.guarded([&] { c.redo(); });
        redo.add(t.nsecsElapsed() / 1e6);
    }

    std::printf("bulk changes: %d, steps recorded: %d, messages: %lld\n", steps, recorded,
                static_cast<long long>(prompt.messages.size()));
    std::printf("after undoing all, e0 = %s (start-up 10)\n", qPrintable(firstCell));
    std::printf("bulk change with its step: median %.3f ms, max %.3f ms\n", change.median(), change.max());
    std::printf("undo of a bulk change:     median %.3f ms, max %.3f ms\n", undo.median(), undo.max());
    std::printf("redo of a bulk change:     median %.3f ms, max %.3f ms\n", redo.median(), redo.max());
    std::printf("memory per step: %.0f bytes held by the history, %.0f bytes of heap growth\n",
                double(storedAfter - storedBefore) / recorded, double(heapAfter - heapBefore) / recorded);
    return recorded == steps && firstCell == QLatin1String("10") ? 0 : 1;
}
