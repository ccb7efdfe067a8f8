#pragma once
// The whole core over the fakes, input after input, without paying each time for what
// does not change: the fakes and the core live on. After each input the core restarts
// from what its start-up left (Controller::restart, no new start-up), and the fakes go
// back to how the start-up left them: the screen puts back only the controls that the
// input changed (copying the whole table would cost more than most inputs).
//
// fingerprint() writes down everything an input leaves behind; with
// VELTO_FUZZ_RESET_CHECK set, the targets run each input on the bench twice and on a
// core built from nothing, and stop when the three differ.
#include "check.h"
#include "common/controls.h"
#include "fakecore.h"

#include <QSet>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

// A screen that remembers which controls were changed since the last reset. Most
// writes put back the value a control already has (every handler applies the enabled
// rule to all the controls it governs): those are no change and are not remembered.
class ResettableScreen : public FakeScreen {
public:
    ResettableScreen() { ownTable(); }
    // The screen as it stands is what reset() puts back.
    void markStartup()
    {
        base_ = *this;
        ownTable();
        touched_.clear();
        touchedAt_.clear();
    }

    void setText(const QString &n, const QString &t) override { touch(n), FakeScreen::setText(n, t); }
    void setItemIndex(const QString &n, int i) override { touch(n), FakeScreen::setItemIndex(n, i); }
    void setItems(const QString &n, const QStringList &i) override { touch(n), FakeScreen::setItems(n, i); }
    void setEnabled(const QString &n, bool e) override
    {
        if (look(n).enabled != e)
            touch(n), FakeScreen::setEnabled(n, e);
    }
    void setVisible(const QString &n, bool v) override
    {
        if (look(n).visible != v)
            touch(n), FakeScreen::setVisible(n, v);
    }
    void setColor(const QString &n, Rgb c) override
    {
        if (look(n).color != c)
            touch(n), FakeScreen::setColor(n, c);
    }
    void setFontColor(const QString &n, Rgb c) override
    {
        if (look(n).fontColor != c)
            touch(n), FakeScreen::setFontColor(n, c);
    }
    void setBarMin(const QString &n, int v) override
    {
        if (look(n).barMin != v)
            touch(n), FakeScreen::setBarMin(n, v);
    }
    void setBarMax(const QString &n, int v) override
    {
        if (look(n).barMax != v)
            touch(n), FakeScreen::setBarMax(n, v);
    }
    void setBarPosition(const QString &n, int v) override
    {
        if (look(n).barPosition != v)
            touch(n), FakeScreen::setBarPosition(n, v);
    }
    void setFocus(const QString &n) override { touch(n), FakeScreen::setFocus(n); }

    // Every control as markStartup() found it again (a change the screen counts).
    void reset()
    {
        for (const QString &name : touched_)
            control(name) = std::as_const(base_).control(name);
        touched_.clear();
        touchedAt_.clear();
        lastFocus = base_.lastFocus;
    }

private:
    // The table made the screen's own (no longer shared with a copy): the addresses of
    // its controls stay as they are from here on.
    void ownTable() { control(controlTable().front().name); }
    const TableControl &look(const QString &name) const { return TableScreen::control(name); }
    void touch(const QString &name)
    {
        const TableControl *c = &look(name);
        if (!touchedAt_.contains(c)) {
            touchedAt_.insert(c);
            touched_.push_back(name);
        }
    }
    std::vector<QString> touched_;
    QSet<const TableControl *> touchedAt_;
    TableScreen base_;
};

struct CoreBench {
    ResettableScreen screen;
    FakePort port;
    FakePrompt prompt;
    FakeTimer timer1, timer2, timerTps, timerReadBack;
    std::unique_ptr<Controller> controller;

    // The state of a CoreRig just built, kept to go back to after each input.
    CoreBench()
    {
        controller = std::make_unique<Controller>(screen, port, prompt, timer1, timer2, timerTps, timerReadBack);
        controller->FormCreate({});
        startup_ = controller->startup();
        screen.markStartup();
        portStart_ = port;
        promptStart_ = prompt;
        for (int i = 0; i < 4; ++i)
            timersStart_[i] = *timers()[i];
    }
    // Back to that state. Nothing an input allocated outlives it: libFuzzer takes an
    // input that allocates more than it frees for a leak and runs it again to look for one.
    void finish()
    {
        controller->restart(startup_);
        screen.reset();
        port = portStart_;
        prompt = promptStart_;
        for (int i = 0; i < 4; ++i)
            *timers()[i] = timersStart_[i];
    }
    Controller &c() { return *controller; }
    State &state() { return controller->state(); }

private:
    std::array<FakeTimer *, 4> timers() { return {&timer1, &timer2, &timerTps, &timerReadBack}; }
    Controller::Startup startup_;
    FakePort portStart_;
    FakePrompt promptStart_;
    std::array<FakeTimer, 4> timersStart_;
};

namespace fuzzbench {

class Print {
public:
    template <typename T> Print &operator<<(const T &v)
    {
        if constexpr (std::is_same_v<T, QString>) {
            *this << v.size();
            out.append(reinterpret_cast<const char *>(v.constData()), v.size() * 2);
        } else if constexpr (std::is_same_v<T, QStringList>) {
            *this << v.size();
            for (const QString &s : v)
                *this << s;
        } else if constexpr (std::is_same_v<T, QByteArray>) {
            *this << v.size();
            out.append(v);
        } else if constexpr (std::is_same_v<T, Rgb>) {
            *this << v.r << v.g << v.b;
        } else if constexpr (std::is_same_v<T, long double>) {
            out.append(reinterpret_cast<const char *>(&v), 10); // the bytes that hold the value
        } else {
            static_assert(std::is_arithmetic_v<T>, "no print for this type");
            out.append(reinterpret_cast<const char *>(&v), sizeof v);
        }
        return *this;
    }
    template <typename T, std::size_t N> Print &operator<<(const std::array<T, N> &a)
    {
        for (const T &v : a)
            *this << v;
        return *this;
    }
    QByteArray out;
};

inline void printScreen(Print &p, const TableScreen &screen)
{
    for (const ControlSpec &row : controlTable()) {
        const TableControl &c = screen.control(row.name);
        p << row.name << c.text << c.items << c.itemIndex << c.enabled << c.visible << c.color << c.fontColor
          << c.barMin << c.barMax << c.barPosition << c.focusCount;
    }
    p << screen.lastFocus;
}

// Every control of a screen.
inline QByteArray screenPrint(const TableScreen &screen)
{
    Print p;
    printScreen(p, screen);
    return p.out;
}

// Every control, the state, the timers, the line and the prompts after an input.
template <typename Rig> QByteArray fingerprint(Rig &rig)
{
    Print p;
    printScreen(p, rig.screen);
    const State &s = rig.state();
    const WorkingValues &w = s.wv;
    p << w.lambdaLoadSource << w.mapCombination << w.quickAccelSource << w.lambdaActivity << w.lambdaType
      << w.wheelCode << w.toothOffset << w.speedScaleIndex << w.fanIncrement << w.tiCurve << w.advanceCurve
      << w.idleCurve << w.atmCurve << w.tpsMin << w.tpsMax;
    p << int(s.link) << s.linkActivity << s.scannerActive << s.percentView << s.wheelTypeIndex << s.tpsReading
      << s.tpsVoltage << int(s.tps);
    for (const FakeTimer *t : {&rig.timer1, &rig.timer2, &rig.timerTps, &rig.timerReadBack})
        p << t->interval() << t->isEnabled();
    p << qsizetype(rig.port.writes.size()) << rig.port.allWritten() << qsizetype(rig.port.incoming.size());
    p << rig.prompt.messages << rig.prompt.questions << qsizetype(rig.prompt.dialogs.size());
    Controller &c = rig.c();
    p << c.canUndo() << c.canRedo() << c.unsaved();
    return p.out;
}

inline bool resetCheck()
{
    static const bool on = std::getenv("VELTO_FUZZ_RESET_CHECK") != nullptr;
    return on;
}

// Runs one input on the bench, and in the reset check twice more: again on the bench
// and on a CoreRig built for it alone; all three must leave the same.
template <typename Run> void runOnBench(CoreBench &bench, Run &&run)
{
    run(bench);
    if (!resetCheck()) {
        bench.finish();
        return;
    }
    const QByteArray first = fingerprint(bench);
    bench.finish();
    run(bench);
    const QByteArray second = fingerprint(bench);
    bench.finish();
    fuzzcheck::require(second == first, "the same input on the bench ran otherwise the second time");
    CoreRig fresh;
    run(fresh);
    fuzzcheck::require(fingerprint(fresh) == first, "the input ran otherwise on a core built from nothing");
}

} // namespace fuzzbench
