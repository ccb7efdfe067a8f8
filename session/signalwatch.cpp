#include "session/signalwatch.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
volatile std::sig_atomic_t firstSignal = 0;

extern "C" void onSignalHandler(int number)
{
    const int saved = errno;
    if (firstSignal == 0)
        firstSignal = number;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalWatch::SignalWatch(QObject *context, std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)),
      signals_(signalNumbers)
{
    firstSignal = 0;
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without the pipe the signals keep their default action
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, context, [this] {
        char bytes[16];
        ssize_t n;
        while ((n = ::read(pipeFds[0], bytes, sizeof bytes)) > 0)
            for (ssize_t i = 0; i < n; ++i)
                onSignal_(bytes[i]);
    });
    struct sigaction action {};
    action.sa_handler = onSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : signals_)
        ::sigaction(number, &action, nullptr);
}

SignalWatch::~SignalWatch()
{
    for (int number : signals_)
        std::signal(number, SIG_DFL);
}

int SignalWatch::received() { return firstSignal; }
