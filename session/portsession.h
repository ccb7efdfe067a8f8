#pragma once
// The controller on a real serial port and Qt timers, as a program runs it: the port's
// events go to the controller, each timer ticks its handler (Timer2, during an upload,
// once each frame's slot has passed on the port's own thread), and "&Ativar" /
// "&Desativar" open and close the port named by cbPorta.
// What escapes a tick or a receive event goes to the owner's guard; the port's own
// errors to its error handler.
//
// The session keeps the link's one state (core/linkstatus.h). When the device goes
// away the port is closed at once, nothing more is written, and, when reconnecting is
// on, a look every 0,5 s at /dev (never an open) waits for the same device to come
// back: the same path, or a USB adapter's /dev/serial/by-id name under another
// number (that name, once known, wins over another device at the old path). It is
// then opened again with the same settings and the scanner, if it ran,
// is switched on again. A box that told the loss closes itself then, and after a few
// seconds the status line says "Conectado a …" again.
#include "common/context.h"
#include "core/linkstatus.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class ComPortLink;
class Controller;
class ModuleReader;
class EComPort;
class QObject;
class QtTimer;
class TComPort;
struct Tune;

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
    QtTimer &timerWatch() { return *timerWatch_; }
    QtTimer &timerSettle() { return *timerSettle_; }

    // "&Ativar": opens the port that cbPorta names. Throws the port's error; a port that
    // opened and then could not read its modem lines stays open and counts as active.
    void activate();
    // "&Desativar"; while the link is lost it ends the wait.
    void deactivate();

    // The controller's state holds it (State::link): the port's buttons follow it.
    LinkState linkState() const;
    // The device went away (also in the moment before the state says so).
    bool linkLost() const { return lossPending_ || linkState() == LinkState::Lost; }
    // The status line: "Conectado a /dev/ttyUSB0" and the others.
    QString linkText() const;
    // Whether a lost link waits for the device to come back (on in the window).
    void setReconnect(bool on) { reconnect_ = on; }
    // "Verificar o módulo ao conectar": "&Ativar" also reads the module back and
    // compares (after a reconnect it always does). Off: "&Ativar" sends nothing.
    void setCheckOnActivate(bool on) { checkOnActivate_ = on; }
    // The check's read-back runs (the scanner waits for it).
    bool checkingModule() const { return reader_ != nullptr; }
    // Reads the module's set back for a recording that is to start while it is unknown:
    // the scanner pauses for it (its stop command goes out first) and runs again
    // afterwards; then done gets the set (now the module's known set), or nothing when
    // the module did not send it whole. After a loss or "&Desativar" on the way, done
    // gets nothing while the scanner is off. Throws the port's error (the scanner then
    // stays off).
    void readForRecording(std::function<void(const std::optional<Tune> &)> done);
    // Told of every change of the link's state: Lost before the scanner stops,
    // Reopened once the scanner runs again, Closed when "&Desativar" ended a wait.
    std::function<void(LinkState)> onLinkState;

    // The look at /dev while the link is lost (timerWatch ticks it every 0,5 s).
    void watchTick();
    // "Reconectado a …" has been shown long enough (timerSettle, once, settleMs after
    // the return): the link is told as "Conectado a …" again.
    void settleTick();
    static constexpr int settleMs = 5000;

private:
    void runEvent(const QtTimer *timer, const std::function<void()> &handler);
    void noticeLoss(const EComPort &error, bool shown);
    void finishLoss();
    void setState(LinkState state);
    void rememberDevice();
    QString returnedDevice() const;
    void startCheck(bool scannerAfter);
    void endCheck();
    void checkProgressed();
    void finishCheck();
    void resumeScannerAfterUpload();

    Screen &screen_;
    Prompt &prompt_;
    Guard guard_;
    PortError portError_;
    std::unique_ptr<QObject> anchor_; // queued calls die with the session
    std::unique_ptr<TComPort> port_;
    std::unique_ptr<ComPortLink> link_;
    std::unique_ptr<QtTimer> timer1_, timer2_, timerTps_, timerReadBack_, timerWatch_, timerSettle_;
    std::unique_ptr<Controller> controller_;

    bool reconnect_ = false;
    int eventDepth_ = 0;     // inside a tick or a receive event
    bool lossShown_ = false; // a handler's own error box tells the loss
    bool uploadAtLoss_ = false;
    bool scannerAtLoss_ = false;
    bool lossPending_ = false;
    QString lossError_;
    QString watchedPath_; // the device path that was open
    QString byIdName_;    // its /dev/serial/by-id name, if any
    bool refusalShown_ = false;
    bool checkOnActivate_ = false;
    std::unique_ptr<ModuleReader> reader_;
    bool scannerAfterCheck_ = false;
    bool checkEnding_ = false;
    std::function<void(const std::optional<Tune> &)> recordingRead_; // the read is a recording's
    int lossNotice_ = 0;                                             // the loss's box, closed when the device is back
    bool scannerAfterUpload_ = false; // the check's upload runs; the scanner ran before the loss
};
