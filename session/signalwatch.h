#pragma once
// SIGINT, SIGTERM and SIGHUP turned into an ordinary event: the handler only writes the
// signal's number into a pipe, and the event loop hands it on, so that what follows
// (stopping an upload before its end command, closing a log whole, releasing the port)
// runs as normal code rather than in the handler.
#include <QObject>

#include <functional>
#include <initializer_list>
#include <memory>

class QSocketNotifier;

class SignalWatch {
public:
    // Catches these signals until destroyed; onSignal runs from the event loop of
    // context's thread, once per signal received.
    SignalWatch(QObject *context, std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal);
    // Gives the signals back their default action.
    ~SignalWatch();
    SignalWatch(const SignalWatch &) = delete;
    SignalWatch &operator=(const SignalWatch &) = delete;

    // The first signal received since the watch began, 0 when none: for loops that
    // must notice it before the event loop runs again.
    static int received();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void(int)> onSignal_;
    QList<int> signals_;
};
