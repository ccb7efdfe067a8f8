#include "session/modulereader.h"

#include "core/controller.h"
#include "core/qttimer.h"
#include "core/undo.h"
#include "link/receiver.h"

ModuleReader::ModuleReader(QObject *context, LinkPort &port, std::function<void()> changed)
{
    timerReadBack_ = std::make_unique<QtTimer>(context, [this, changed = std::move(changed)] {
        core_->TimerReadBackTimer();
        if (changed)
            changed();
    });
    core_ = std::make_unique<Controller>(screen_, port, prompt_, timer1_, timer2_, timerTps_, *timerReadBack_);
    core_->FormCreate({});
}

ModuleReader::~ModuleReader() { timerReadBack_->setEnabled(false); }

void ModuleReader::start()
{
    core_->btnLerDadosClick();
    started_ = true;
}

void ModuleReader::receive() { core_->ComPort1RxChar(); }

bool ModuleReader::finished() const
{
    return started_ && core_->receiver().readBack() == Receiver::ReadBack::Idle;
}

std::optional<Tune> ModuleReader::result() const
{
    if (!finished())
        return std::nullopt;
    return core_->history().moduleSet();
}
