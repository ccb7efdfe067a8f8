#include "session/portsession.h"

#include "common/controlnames.h"
#include "core/controller.h"
#include "core/qttimer.h"
#include "serial/comport.h"
#include "serial/portnames.h"
#include "session/comportlink.h"
#include "session/modulereader.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <utility>

namespace {

constexpr int watchIntervalMs = 500;

} // namespace

PortSession::PortSession(QObject *context, Screen &screen, Prompt &prompt, Guard guard, PortError portError,
                         std::unique_ptr<TComPort> port)
    : screen_(screen),
      prompt_(prompt),
      guard_(std::move(guard)),
      portError_(std::move(portError)),
      anchor_(std::make_unique<QObject>()),
      port_(port ? std::move(port) : std::make_unique<TComPort>())
{
    link_ = std::make_unique<ComPortLink>(*port_);
    auto ticking = [this, context](std::unique_ptr<QtTimer> &timer, void (Controller::*handler)(), Qt::TimerType type) {
        timer = std::make_unique<QtTimer>(
            context, [this, &timer, handler] { runEvent(timer.get(), [&] { (controller_.get()->*handler)(); }); },
            type);
    };
    ticking(timer1_, &Controller::Timer1Timer, Qt::CoarseTimer);
    ticking(timer2_, &Controller::Timer2Timer, Qt::PreciseTimer);
    ticking(timerTps_, &Controller::TimerTPSTimer, Qt::CoarseTimer);
    ticking(timerReadBack_, &Controller::TimerReadBackTimer, Qt::CoarseTimer);
    timerWatch_ = std::make_unique<QtTimer>(context, [this] { guard_(timerWatch_.get(), [this] { watchTick(); }); });
    timerWatch_->setInterval(watchIntervalMs);
    timerSettle_ = std::make_unique<QtTimer>(context, [this] { guard_(timerSettle_.get(), [this] { settleTick(); }); });
    timerSettle_->setInterval(settleMs);
    controller_ = std::make_unique<Controller>(screen, *link_, prompt, *timer1_, *timer2_, *timerTps_, *timerReadBack_);

    port_->OnAfterOpen = [this] { controller_->ComPort1AfterOpen(); };
    port_->OnAfterClose = [this] { controller_->ComPort1AfterClose(); };
    port_->OnRxChar = [this](int) {
        runEvent(nullptr, [this] {
            if (!reader_) {
                controller_->ComPort1RxChar();
                return;
            }
            reader_->receive();
            checkProgressed();
        });
    };
    // The upload's slots pass on the port's own thread; each one is Timer2's tick.
    link_->pacingStarted = [this] { timer2_->holdForRun(); };
    timer2_->onDisabled = [this] {
        link_->stop();
        if (scannerAfterUpload_)
            QMetaObject::invokeMethod(
                anchor_.get(), [this] { guard_(nullptr, [this] { resumeScannerAfterUpload(); }); },
                Qt::QueuedConnection);
    };
    port_->OnSlotPassed = [this](const PacedSlot &slot) {
        link_->slotPassed(slot);
        if (timer2_->isEnabled())
            timer2_->fire();
    };
    port_->OnError = [this](const EComPort &error) {
        if (isDeviceGone(error) && (linkState() == LinkState::Open || linkState() == LinkState::Reopened)) {
            noticeLoss(error, false);
            return;
        }
        if (portError_)
            portError_(error);
    };
    link_->lost = [this](const EComPort &error) {
        // Outside a tick or a receive event it was a click's write: its error box tells it.
        noticeLoss(error, eventDepth_ == 0);
    };
}

PortSession::~PortSession()
{
    reader_.reset();
    port_->OnAfterOpen = nullptr;
    port_->OnAfterClose = nullptr;
    port_->OnRxChar = nullptr;
    port_->OnError = nullptr;
    port_->OnSlotPassed = nullptr;
    timer2_->onDisabled = nullptr;
    try {
        port_->Close();
    } catch (const std::exception &) {
        // The owner is going away; there is nobody left to tell.
    }
    for (QtTimer *t :
         {timer1_.get(), timer2_.get(), timerTps_.get(), timerReadBack_.get(), timerWatch_.get(), timerSettle_.get()})
        t->setEnabled(false);
}

void PortSession::runEvent(const QtTimer *timer, const std::function<void()> &handler)
{
    guard_(timer, [&] {
        ++eventDepth_;
        // A write or read that met the lost device: the loss is told once, by itself.
        try {
            handler();
        } catch (const EComPort &e) {
            --eventDepth_;
            if ((lossPending_ || linkState() == LinkState::Lost) && isDeviceGone(e))
                return;
            throw;
        } catch (const LinkRefused &) {
            --eventDepth_;
            return;
        } catch (...) {
            --eventDepth_;
            throw;
        }
        --eventDepth_;
    });
}

void PortSession::activate()
{
    port_->setPort(screen_.text(ctl::cbPorta));
    link_->accept();
    try {
        port_->Open(); // OnAfterOpen runs inside; a failure before it leaves the port closed
    } catch (...) {
        if (port_->Connected()) {
            controller_->portActivated();
            rememberDevice();
            setState(LinkState::Open);
        }
        throw;
    }
    controller_->portActivated();
    rememberDevice();
    setState(LinkState::Open);
    if (checkOnActivate_)
        startCheck(false);
}

void PortSession::deactivate()
{
    endCheck();
    scannerAfterUpload_ = false;
    if (auto done = std::exchange(recordingRead_, nullptr))
        done(std::nullopt); // the scanner is off: nothing is recorded
    if (linkState() == LinkState::Lost) {
        timerWatch_->setEnabled(false);
        controller_->ComPort1AfterClose(); // the port is closed already
    } else {
        port_->Close(); // OnAfterClose runs inside
    }
    controller_->portDeactivated();
    lossNotice_ = 0; // the box stays until its OK: the device did not come back
    setState(LinkState::Closed);
}

QString PortSession::linkText() const { return linkstatus::text(linkState(), port_->port()); }

LinkState PortSession::linkState() const { return controller_->state().link; }

void PortSession::setState(LinkState state)
{
    controller_->state().link = state;
    timerSettle_->setEnabled(state == LinkState::Reopened);
    if (onLinkState)
        onLinkState(state);
}

void PortSession::noticeLoss(const EComPort &error, bool shown)
{
    if (lossPending_ || (linkState() != LinkState::Open && linkState() != LinkState::Reopened))
        return;
    lossPending_ = true;
    lossShown_ = shown;
    lossError_ = QString::fromUtf8(error.what());
    uploadAtLoss_ = timer2_->isEnabled();
    link_->refuse(error); // nothing more goes to the device
    // Closing the port inside its own event or a write is not safe: it happens next.
    QMetaObject::invokeMethod(
        anchor_.get(), [this] { guard_(nullptr, [this] { finishLoss(); }); }, Qt::QueuedConnection);
}

void PortSession::finishLoss()
{
    lossPending_ = false;
    scannerAtLoss_ = controller_->state().scannerActive || (reader_ && scannerAfterCheck_) || scannerAfterUpload_;
    scannerAfterUpload_ = false;
    // The recording does not start ("Gravar" again once back): the scanner is off.
    if (auto done = std::exchange(recordingRead_, nullptr))
        done(std::nullopt);
    endCheck();
    setState(LinkState::Lost); // before the scanner stops: a recording keeps going
    // An upload that met the loss itself has already said so.
    const bool shown = lossShown_ || (uploadAtLoss_ && !timer2_->isEnabled());
    const std::optional<QString> message = controller_->portLost(lossError_, shown);
    port_->Close();
    controller_->portWaiting();
    refusalShown_ = false;
    timerWatch_->setEnabled(reconnect_);
    // Not modal: the watch goes on under it, and the box closes itself on the return.
    if (message)
        lossNotice_ = prompt_.notice(*message);
}

void PortSession::settleTick()
{
    timerSettle_->setEnabled(false);
    if (linkState() == LinkState::Reopened && !lossPending_)
        setState(LinkState::Open);
}

void PortSession::watchTick()
{
    if (linkState() != LinkState::Lost) {
        timerWatch_->setEnabled(false);
        return;
    }
    const QString device = returnedDevice();
    if (device.isEmpty())
        return;
    port_->setPort(device);
    link_->accept();
    try {
        port_->Open();
    } catch (const EComPort &e) {
        if (!port_->Connected()) {
            // Refused (permission, busy): told once, and the watch goes on.
            if (!refusalShown_ && portError_)
                portError_(e);
            refusalShown_ = true;
            return;
        }
    }
    timerWatch_->setEnabled(false);
    controller_->portActivated();
    rememberDevice();
    prompt_.closeNotice(std::exchange(lossNotice_, 0));
    setState(LinkState::Reopened);
    // The module may have lost power, or be another one: read it before anything else.
    startCheck(scannerAtLoss_);
}

void PortSession::readForRecording(std::function<void(const std::optional<Tune> &)> done)
{
    if (reader_ || timer2_->isEnabled() || (linkState() != LinkState::Open && linkState() != LinkState::Reopened)) {
        done(std::nullopt);
        return;
    }
    const bool scanning = controller_->state().scannerActive;
    if (scanning) {
        controller_->Button3Click();
        runEvent(timer1_.get(), [this] { controller_->Timer1Timer(); }); // the stop command, now
    }
    if (linkLost()) {
        done(std::nullopt); // the loss is told by itself; the scanner is off
        return;
    }
    recordingRead_ = std::move(done);
    try {
        startCheck(scanning);
    } catch (...) {
        recordingRead_ = nullptr;
        throw;
    }
}

void PortSession::startCheck(bool scannerAfter)
{
    scannerAfterCheck_ = scannerAfter;
    checkEnding_ = false;
    reader_ = std::make_unique<ModuleReader>(anchor_.get(), *link_, [this] { checkProgressed(); });
    // The check reads the module back: the window stays locked as for a read-back.
    controller_->state().moduleCheck = true;
    controller_->applyEnabled();
    try {
        reader_->start();
    } catch (...) {
        endCheck();
        throw;
    }
}

void PortSession::endCheck()
{
    reader_.reset();
    controller_->state().moduleCheck = false;
    controller_->applyEnabled();
}

void PortSession::checkProgressed()
{
    if (!reader_ || !reader_->finished() || checkEnding_)
        return;
    // The reader is inside its own event: it goes next.
    checkEnding_ = true;
    QMetaObject::invokeMethod(
        anchor_.get(), [this] { guard_(nullptr, [this] { finishCheck(); }); }, Qt::QueuedConnection);
}

void PortSession::finishCheck()
{
    if (!reader_ || !checkEnding_)
        return;
    const std::optional<Tune> module = reader_->result();
    endCheck();
    if (module)
        controller_->state().moduleKnown = true; // a read-back ended: "Configurar &TPS" may start
    if (auto done = std::exchange(recordingRead_, nullptr)) {
        if (module)
            controller_->history().setModuleSet(*module);
        if (scannerAfterCheck_ && !controller_->state().scannerActive &&
            (linkState() == LinkState::Open || linkState() == LinkState::Reopened))
            controller_->Button3Click();
        controller_->applyEnabled();
        done(module);
        return;
    }
    if (!module) {
        // Told once, as the scanner's watchdog tells it; a scanner switched on now
        // would only meet the same silence and say it again.
        prompt_.message(QStringLiteral("Módulo não responde"));
        return;
    }
    controller_->moduleRead(*module); // may ask, and may start an upload
    if (timer2_->isEnabled()) {
        // The scanner (and a recording riding on it) goes on once the upload has ended.
        scannerAfterUpload_ = scannerAfterCheck_;
        return;
    }
    if (scannerAfterCheck_ && !controller_->state().scannerActive &&
        (linkState() == LinkState::Open || linkState() == LinkState::Reopened))
        controller_->Button3Click();
}

void PortSession::resumeScannerAfterUpload()
{
    if (!scannerAfterUpload_ || timer2_->isEnabled())
        return;
    scannerAfterUpload_ = false;
    // A loss during the upload keeps its own wish for the scanner (scannerAtLoss_).
    if (linkLost() || (linkState() != LinkState::Open && linkState() != LinkState::Reopened))
        return;
    if (!controller_->state().scannerActive)
        controller_->Button3Click();
}

void PortSession::rememberDevice()
{
    const QString path = TCustomComPort::devicePath(port_->port());
    // A pseudo-terminal's number is taken by the next program that asks for one: the
    // same name coming back is not the same device (a link to it may be repointed).
    const bool pseudoTerminal = path.startsWith(QLatin1String("/dev/pts/")) && !QFileInfo(path).isSymLink();
    watchedPath_ = pseudoTerminal ? QString() : path;
    byIdName_ = byIdNameOf(path);
}

QString PortSession::returnedDevice() const { return returningDevice(watchedPath_, byIdName_); }
