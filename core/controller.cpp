#include "core/controller.h"

#include "config/configfields.h"
#include "config/tpscalibration.h"
#include "files/mapfile.h"
#include "link/parameterimage.h"
#include "link/receiver.h"
#include "link/scanner.h"
#include "link/transmitter.h"
#include "maps/axes.h"
#include "maps/mapedit.h"
#include "maps/views.h"

Controller::Controller(Screen &screen, LinkPort &port, Prompt &prompt, Timer &timer1, Timer &timer2,
                       Timer &timerTps, Timer &timerReadBack)
    : ctx_{screen, port, prompt, timer1, timer2, timerTps, timerReadBack, state_, {}}
{
    image_ = std::make_unique<ParameterImage>(ctx_);
    transmitter_ = std::make_unique<Transmitter>(ctx_, *image_);
    scanner_ = std::make_unique<Scanner>(ctx_);
    receiver_ = std::make_unique<Receiver>(ctx_, *scanner_);
    axes_ = std::make_unique<MapAxes>(ctx_);
    views_ = std::make_unique<MapViews>(ctx_);
    edit_ = std::make_unique<MapEdit>(ctx_);
    mapFile_ = std::make_unique<MapFile>(ctx_);
    config_ = std::make_unique<ConfigFields>(ctx_);
    tps_ = std::make_unique<TpsCalibration>(ctx_);

    ctx_.hooks.wheelTypeChange = [this] { config_->cbTipoRodaFonicaChange(); };
    ctx_.hooks.speedScaleChange = [this] { axes_->cbEscalaRpmChange(); };
    ctx_.hooks.scannerToggle = [this] { scanner_->Button3Click(); };
    ctx_.hooks.upload = [this] { transmitter_->btnEnviaClick(); };
    ctx_.hooks.tpsSample = [this](int reading) { tps_->sample(reading); };
    ctx_.hooks.msView = [this] { views_->btnmSClick(); };
    tps_->uploadCompleted = [this] { return transmitter_->outcome() == Transmitter::Outcome::Completed; };
}

Controller::~Controller() = default;

void Controller::FormCreate(const QStringList &ports)
{
    Screen &s = ctx_.screen;
    s.setItems("cbPorta", ports);
    if (!ports.isEmpty())
        s.setItemIndex("cbPorta", 0);
    state_.percentView = false;
    state_.portActive = false;
    s.setEnabled("btnAtivar", true);
    s.setEnabled("btnDesativar", false);
    s.setEnabled("btnConfigurarTps", false);
    state_.wv.lambdaLoadSource = 5;
    s.setItemIndex("cbTipoRodaFonica", 0);
    s.setItemIndex("cbEscalaRpm", 0);
    axes_->cbEscalaRpmChange();
    s.setItemIndex("cbPontoZero", 3);
    state_.wv.tpsMin = 130;
    state_.wv.tpsMax = 230;
}

void Controller::ComPort1AfterOpen()
{
    for (const char *b : {"btnAtivar", "btnDesativar", "Button3", "btnLerDados", "Button6", "btnEnvia", "Button8"})
        ctx_.screen.setEnabled(b, true);
}

void Controller::ComPort1AfterClose()
{
    for (const char *b : {"btnDesativar", "Button3", "btnLerDados", "Button6", "btnEnvia", "Button8"})
        ctx_.screen.setEnabled(b, false);
}

void Controller::portActivated()
{
    state_.portActive = true;
    ctx_.screen.setEnabled("btnAtivar", false);
    ctx_.timerTps.tag = 0;
}

void Controller::portDeactivated()
{
    state_.portActive = false;
    // A read-back that waits for a closed port can never end by itself.
    receiver_->cancelReadBack();
    ctx_.screen.setEnabled("btnConfigurarTps", false);
    ctx_.screen.setEnabled("btnAtivar", true);
}

void Controller::btnEnviaClick() { transmitter_->btnEnviaClick(); }
void Controller::Timer2Timer() { transmitter_->Timer2Timer(); }
void Controller::btnLerDadosClick() { receiver_->btnLerDadosClick(); }
void Controller::ComPort1RxChar() { receiver_->ComPort1RxChar(); }
void Controller::TimerReadBackTimer() { receiver_->TimerReadBackTimer(); }
void Controller::Button3Click() { scanner_->Button3Click(); }
void Controller::Timer1Timer() { scanner_->Timer1Timer(); }
void Controller::cbEscalaRpmChange() { axes_->cbEscalaRpmChange(); }
void Controller::cbCombinacaoMapaExit() { axes_->cbCombinacaoMapaExit(); }
void Controller::btnAlterarMapasClick() { edit_->btnAlterarMapasClick(); }
void Controller::btnAlterarClick() { edit_->btnAlterarClick(); }
void Controller::btnVoltarTelaPrincipalClick() { edit_->btnVoltarTelaPrincipalClick(); }
void Controller::btnPercentualClick() { views_->btnPercentualClick(); }
void Controller::btnmSClick() { views_->btnmSClick(); }
void Controller::btnSalvarClick() { mapFile_->btnSalvarClick(); }
void Controller::btnCarregarClick() { mapFile_->btnCarregarClick(); }
void Controller::eDeslCutOffExit() { config_->eDeslCutOffExit(); }
void Controller::eLigaCutOffExit() { config_->eLigaCutOffExit(); }
void Controller::eTempoCargaExit() { config_->eTempoCargaExit(); }
void Controller::eLimiteRpmExit() { config_->eLimiteRpmExit(); }
void Controller::eAvancoPartidaExit() { config_->eAvancoPartidaExit(); }
void Controller::fixedComboKeyPress(const QString &comboName) { config_->fixedComboKeyPress(comboName); }
void Controller::cbTipoRodaFonicaChange() { config_->cbTipoRodaFonicaChange(); }
void Controller::btnConfigurarTpsClick() { tps_->btnConfigurarTpsClick(); }
void Controller::TimerTPSTimer() { tps_->TimerTPSTimer(); }
