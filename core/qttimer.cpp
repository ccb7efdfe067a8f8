#include "core/qttimer.h"

QtTimer::QtTimer(QObject *context, std::function<void()> tick, Qt::TimerType type) : tick_(std::move(tick))
{
    timer_.setTimerType(type);
    timer_.setInterval(interval_);
    QObject::connect(&timer_, &QTimer::timeout, context, [this] { tick_(); });
}

void QtTimer::setInterval(int ms)
{
    if (ms == interval_)
        return;
    interval_ = ms;
    timer_.setInterval(ms > 0 ? ms : 1);
    apply();
}

void QtTimer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    if (!enabled)
        held_ = false;
    apply();
    if (!enabled && onDisabled)
        onDisabled();
}

void QtTimer::holdForRun()
{
    held_ = enabled_;
    apply();
}

void QtTimer::apply()
{
    const bool run = enabled_ && interval_ > 0 && !held_;
    if (!run)
        timer_.stop();
    else if (!timer_.isActive())
        timer_.start();
    // QTimer::setInterval already restarted an active timer with the new period.
}
