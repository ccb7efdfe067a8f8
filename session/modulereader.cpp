#include "session/modulereader.h"

#include "core/qttimer.h"
#include "link/frames.h"
#include "link/receiver.h"

ModuleReader::ModuleReader(QObject *context, LinkPort &port, std::function<void()> changed)
    : port_(port),
      tune_(startupTune())
{
    timer_ = std::make_unique<QtTimer>(context, [this, changed = std::move(changed)] {
        tick();
        if (changed)
            changed();
    });
}

ModuleReader::~ModuleReader() { timer_->setEnabled(false); }

void ModuleReader::start()
{
    port_.write(frames::command(frames::ReadRequest));
    started_ = true;
    reading_ = true;
    quietMs_ = 0;
    timer_->setInterval(Receiver::readBackTickMs);
    timer_->setEnabled(true);
}

void ModuleReader::receive()
{
    const frames::Frame frame = frames::recognise(port_.read(12));
    if (frame.kind < 1 || frame.kind > 255)
        return; // nothing recognised: the quiet time runs on
    quietMs_ = 0;
    if (frame.kind > 26)
        return; // live data and diagnostics are not the set
    if (frame.hasPayload) {
        ReadBackPayloads one;
        one[std::size_t(frame.kind)] = frame.p;
        tune_ = readBackTune(one, tune_);
    }
    if (frame.kind == 1 && !reading_) { // a read-back the module began by itself
        reading_ = true;
        timer_->setInterval(Receiver::readBackTickMs);
        timer_->setEnabled(true);
    }
    if (frame.kind == 26 && reading_) {
        reading_ = false;
        complete_ = true;
        timer_->setEnabled(false);
    }
}

void ModuleReader::tick()
{
    if (!reading_) {
        timer_->setEnabled(false);
        return;
    }
    quietMs_ += timer_->interval();
    if (quietMs_ < Receiver::readBackQuietLimitMs)
        return;
    reading_ = false;
    timer_->setEnabled(false);
}

bool ModuleReader::finished() const { return started_ && !reading_; }

std::optional<Tune> ModuleReader::result() const
{
    if (!finished() || !complete_)
        return std::nullopt;
    return tune_;
}
