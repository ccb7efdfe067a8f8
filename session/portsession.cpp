#include "session/portsession.h"

#include "core/controller.h"
#include "core/qttimer.h"
#include "serial/comport.h"
#include "session/comportlink.h"

PortSession::PortSession(QObject *context, Screen &screen, Prompt &prompt, Guard guard, PortError portError,
                         std::unique_ptr<TComPort> port)
    : screen_(screen), port_(port ? std::move(port) : std::make_unique<TComPort>())
{
    link_ = std::make_unique<ComPortLink>(*port_);
    auto ticking = [this, context, guard](std::unique_ptr<QtTimer> &timer, void (Controller::*handler)(),
                                 Qt::TimerType type) {
        timer = std::make_unique<QtTimer>(
            context, [this, guard, &timer, handler] { guard(timer.get(), [&] { (controller_.get()->*handler)(); }); },
            type);
    };
    ticking(timer1_, &Controller::Timer1Timer, Qt::CoarseTimer);
    ticking(timer2_, &Controller::Timer2Timer, Qt::PreciseTimer);
    ticking(timerTps_, &Controller::TimerTPSTimer, Qt::CoarseTimer);
    ticking(timerReadBack_, &Controller::TimerReadBackTimer, Qt::CoarseTimer);
    controller_ = std::make_unique<Controller>(screen, *link_, prompt, *timer1_, *timer2_, *timerTps_, *timerReadBack_);

    port_->OnAfterOpen = [this] { controller_->ComPort1AfterOpen(); };
    port_->OnAfterClose = [this] { controller_->ComPort1AfterClose(); };
    port_->OnRxChar = [this, guard](int) { guard(nullptr, [this] { controller_->ComPort1RxChar(); }); };
    port_->OnError = std::move(portError);
}

PortSession::~PortSession()
{
    port_->OnAfterOpen = nullptr;
    port_->OnAfterClose = nullptr;
    port_->OnRxChar = nullptr;
    port_->OnError = nullptr;
    try {
        port_->Close();
    } catch (const std::exception &) {
        // The owner is going away; there is nobody left to tell.
    }
    for (QtTimer *t : {timer1_.get(), timer2_.get(), timerTps_.get(), timerReadBack_.get()})
        t->setEnabled(false);
}

void PortSession::activate()
{
    port_->setPort(screen_.text(QStringLiteral("cbPorta")));
    try {
        port_->Open(); // OnAfterOpen runs inside; a failure before it leaves the port closed
    } catch (...) {
        if (port_->Connected())
            controller_->portActivated();
        throw;
    }
    controller_->portActivated();
}

void PortSession::deactivate()
{
    port_->Close(); // OnAfterClose runs inside
    controller_->portDeactivated();
}
