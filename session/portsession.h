#pragma once
// The controller on a real serial port and Qt timers, as a program runs it: the port's
// events go to the controller, each timer ticks its handler (Timer2 precisely, for the
// upload pacing), and "&Ativar" / "&Desativar" open and close the port named by cbPorta.
// What escapes a tick or a receive event goes to the owner's guard; the port's own
// errors to its error handler.
#include "common/context.h"

#include <QString>
#include <functional>
#include <memory>

class ComPortLink;
class Controller;
class EComPort;
class QObject;
class QtTimer;
class TComPort;

class PortSession {
public:
    // Runs one tick (timer given) or one receive event (timer null) and deals with an
    // error that escapes it.
    using Guard = std::function<void(const QtTimer *timer, const std::function<void()> &handler)>;
    using PortError = std::function<void(const EComPort &error)>;

    // context: the object the timers live with. port: this program's TComPort when null.
    PortSession(QObject *context, Screen &screen, Prompt &prompt, Guard guard, PortError portError,
                std::unique_ptr<TComPort> port = nullptr);
    // No port event reaches the owner any more; the port is closed, the timers stop.
    ~PortSession();
    PortSession(const PortSession &) = delete;
    PortSession &operator=(const PortSession &) = delete;

    Controller &controller() { return *controller_; }
    TComPort &port() { return *port_; }
    ComPortLink &link() { return *link_; }
    QtTimer &timer1() { return *timer1_; }
    QtTimer &timer2() { return *timer2_; }
    QtTimer &timerTps() { return *timerTps_; }
    QtTimer &timerReadBack() { return *timerReadBack_; }

    // "&Ativar": opens the port that cbPorta names. Throws the port's error; a port that
    // opened and then could not read its modem lines stays open and counts as active.
    void activate();
    // "&Desativar".
    void deactivate();

private:
    Screen &screen_;
    std::unique_ptr<TComPort> port_;
    std::unique_ptr<ComPortLink> link_;
    std::unique_ptr<QtTimer> timer1_, timer2_, timerTps_, timerReadBack_;
    std::unique_ptr<Controller> controller_;
};
