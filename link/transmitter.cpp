#include "link/transmitter.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "link/frames.h"
#include "link/parameterimage.h"

#include <stdexcept>
#include <string>

namespace {
constexpr int lastBlock = 32;
constexpr int endTick = 35;
const QString panels[] = {ctl::pnAguarde, ctl::Panel1};
const QString bars[] = {ctl::pbCarregando, ctl::pbCarregando1};
} // namespace

QString Transmitter::interruptedMessage()
{
    return QStringLiteral(" O envio foi interrompido: os dados não chegaram inteiros ao módulo. Envie novamente. ");
}

Transmitter::Transmitter(Context &ctx, ParameterImage &image) : ctx_(ctx), image_(image) {}

void Transmitter::showBusy()
{
    Screen &s = ctx_.screen;
    for (const QString &p : panels)
        s.setVisible(p, true);
    for (const QString &b : bars) {
        s.setBarPosition(b, 0);
        s.setBarMin(b, 0);
        s.setBarMax(b, 33);
    }
}

void Transmitter::release()
{
    // While the TPS calibration runs the panels were never shown.
    if (ctx_.state.tps != TpsPhase::Sampling)
        for (const QString &p : panels)
            ctx_.screen.setVisible(p, false);
    // Only a completed upload makes the module known ("Configurar &TPS" may start); a
    // refused or interrupted one leaves it as it was.
    if (outcome_ == Outcome::Completed)
        ctx_.state.moduleKnown = true;
    ctx_.state.uploading = false;
    enabledset::apply(ctx_);
}

void Transmitter::btnEnviaClick()
{
    if (ctx_.state.tps != TpsPhase::Sampling)
        showBusy();

    // A parameter set goes out whole or not at all: every block is converted and
    // range-checked once before the first frame. On failure the screen is given back
    // and the error goes to the window's guard; nothing has been written.
    outcome_ = Outcome::Refused;
    reachedLine_ = false;
    try {
        image_.prepare();
        image_.checkAll();
    } catch (...) {
        release();
        throw;
    }
    outcome_ = Outcome::Running;
    ctx_.state.uploading = true;

    ctx_.timer2.setInterval(1);
    ctx_.timer2.setEnabled(true);
    enabledset::apply(ctx_); // the transfer's buttons lock while it runs
    tick_ = 0;
    pacer_ = ctx_.port.pacer();
    if (pacer_) {
        try {
            pacer_->start(50);
        } catch (const std::exception &e) {
            interrupt(e);
        }
        handOver(1);
    }
}

void Transmitter::interrupt(const std::exception &cause)
{
    ctx_.timer2.setEnabled(false);
    if (pacer_)
        pacer_->stop();
    pacer_ = nullptr;
    outcome_ = Outcome::Interrupted;
    release();
    throw std::runtime_error(std::string(cause.what()) + "\n" + interruptedMessage().toUtf8().toStdString());
}

QByteArray Transmitter::frame(int block)
{
    // Read again when built, so an edit made during the upload still travels.
    image_.checkSelections(block);
    const std::array<std::uint8_t, 8> bytes = image_.block(block);
    QByteArray frame;
    frame.reserve(9);
    frame.append(char(block));
    for (std::uint8_t b : bytes)
        frame.append(char(b));
    return frame;
}

void Transmitter::blockWritten(int block)
{
    if (block == 31) {
        const WorkingValues &wv = ctx_.state.wv;
        ctx_.screen.setBarMin(ctl::BarraTps, wv.tpsMin / 4);
        ctx_.screen.setBarMax(ctl::BarraTps, wv.tpsMax);
    }
}

void Transmitter::complete()
{
    ctx_.timer2.setEnabled(false);
    if (pacer_)
        pacer_->stop();
    pacer_ = nullptr;
    outcome_ = Outcome::Completed;
    release();
}

void Transmitter::Timer2Timer()
{
    ctx_.timer2.setInterval(50);
    ++tick_;
    for (const QString &b : bars)
        ctx_.screen.setBarPosition(b, tick_);
    if (pacer_) {
        pacedTick();
        return;
    }

    if (tick_ == endTick) {
        ctx_.timer2.setEnabled(false);
        try {
            reachedLine_ = reachedLine_ || !ctx_.port.refusing();
            ctx_.port.write(frames::command(frames::EndOfUpload));
        } catch (const std::exception &e) {
            interrupt(e);
        }
        complete();
        return;
    }
    if (tick_ >= 1 && tick_ <= lastBlock) {
        // A frame that cannot be built or written ends the upload before the end
        // command: the ECU then keeps its previous complete set instead of a mix.
        try {
            const QByteArray bytes = frame(tick_);
            reachedLine_ = reachedLine_ || !ctx_.port.refusing();
            ctx_.port.write(bytes);
        } catch (const std::exception &e) {
            interrupt(e);
        }
        blockWritten(tick_);
    }
    // Ticks 33 and 34 write nothing.
}

void Transmitter::pacedTick()
{
    try {
        pacer_->passed(tick_);
    } catch (const std::exception &e) {
        interrupt(e);
    }
    blockWritten(tick_);
    if (tick_ == endTick) {
        complete();
        return;
    }
    handOver(tick_ + 1);
}

void Transmitter::handOver(int slot)
{
    QByteArray bytes;
    if (slot <= lastBlock) {
        try {
            bytes = frame(slot);
        } catch (const std::exception &e) {
            // Stopped before that frame, as its own tick stops: no end command follows.
            tick_ = std::uint16_t(slot);
            for (const QString &b : bars)
                ctx_.screen.setBarPosition(b, tick_);
            interrupt(e);
        }
    } else if (slot == endTick) {
        bytes = frames::command(frames::EndOfUpload);
    }
    try {
        reachedLine_ = reachedLine_ || (!bytes.isEmpty() && !ctx_.port.refusing());
        pacer_->hand(slot, bytes); // slots 33 and 34 write nothing
    } catch (const std::exception &e) {
        interrupt(e);
    }
}
