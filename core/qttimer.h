#pragma once
// A timer of the program over QTimer, for the window and velto-cli. Like the timers
// the core was written for, an interval of 0 never ticks, enabling an enabled timer
// does not restart it, and a new interval restarts the period of an enabled timer.
#include "common/context.h"

#include <QTimer>
#include <functional>

class QtTimer : public Timer {
public:
    QtTimer(QObject *context, std::function<void()> tick, Qt::TimerType type = Qt::CoarseTimer);
    void setInterval(int ms) override;
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }

    QTimer &qtimer() { return timer_; }
    // Runs the tick as a timeout would.
    void fire() { tick_(); }
    // The ticks of this run come from elsewhere through fire() (the upload's slots,
    // from the port's thread): the QTimer stays stopped until the timer is disabled.
    void holdForRun();
    // Told whenever the core or the owner disables the timer.
    std::function<void()> onDisabled;

private:
    void apply();

    QTimer timer_;
    std::function<void()> tick_;
    int interval_ = 1000;
    bool enabled_ = false;
    bool held_ = false;
};
