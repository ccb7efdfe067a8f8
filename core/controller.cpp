#include "core/controller.h"

#include "common/controlnames.h"
#include "common/names.h"
#include "config/configfields.h"
#include "config/tpscalibration.h"
#include "core/undo.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/parameterimage.h"
#include "link/receiver.h"
#include "link/scanner.h"
#include "link/transmitter.h"
#include "maps/axes.h"
#include "maps/mapedit.h"
#include "maps/views.h"

#include <stdexcept>
#include <utility>

namespace {

const QString closeQuestion =
    QString::fromUtf8(" Os dados da tela foram alterados e não foram salvos. Salvar antes de sair? ");

// An operation that changes the parameter set is one step of the history. A change
// made before it and not recorded yet (a field still being typed in) becomes a step of
// its own; the operation's result is recorded also when it failed half-way.
class HistoryStep {
public:
    explicit HistoryStep(UndoHistory &history) : history_(history) { history_.record(); }
    ~HistoryStep()
    {
        try {
            history_.record();
        } catch (...) {
            // Leaving the operation must not fail; the next step records the screen.
        }
    }
    HistoryStep(const HistoryStep &) = delete;
    HistoryStep &operator=(const HistoryStep &) = delete;

private:
    UndoHistory &history_;
};

// Whatever a handler changed, also when it failed half-way, the enabled controls
// follow the state it left.
class EnabledRefresh {
public:
    explicit EnabledRefresh(Controller &c) : c_(c) {}
    ~EnabledRefresh()
    {
        try {
            c_.applyEnabled();
        } catch (...) {
            // Leaving the handler must not fail; the next handler applies the rule.
        }
    }
    EnabledRefresh(const EnabledRefresh &) = delete;
    EnabledRefresh &operator=(const EnabledRefresh &) = delete;

private:
    Controller &c_;
};

} // namespace

Controller::Controller(Screen &screen, LinkPort &port, Prompt &prompt, Timer &timer1, Timer &timer2, Timer &timerTps,
                       Timer &timerReadBack)
    : ctx_{screen, port, prompt, timer1, timer2, timerTps, timerReadBack, state_, {}}
{
    build();
}

void Controller::build()
{
    image_ = std::make_unique<ParameterImage>(ctx_);
    transmitter_ = std::make_unique<Transmitter>(ctx_, *image_);
    scanner_ = std::make_unique<Scanner>(ctx_);
    receiver_ = std::make_unique<Receiver>(ctx_, *scanner_);
    axes_ = std::make_unique<MapAxes>(ctx_);
    views_ = std::make_unique<MapViews>(ctx_);
    edit_ = std::make_unique<MapEdit>(ctx_);
    tools_ = std::make_unique<MapTools>(ctx_);
    mapFile_ = std::make_unique<MapFile>(ctx_);
    config_ = std::make_unique<ConfigFields>(ctx_);
    tps_ = std::make_unique<TpsCalibration>(ctx_);

    ctx_.hooks.wheelTypeChange = [this] { config_->cbTipoRodaFonicaChange(); };
    ctx_.hooks.speedScaleChange = [this] { axes_->cbEscalaRpmChange(); };
    ctx_.hooks.scannerToggle = [this] { scanner_->Button3Click(); };
    ctx_.hooks.upload = [this] { btnEnviaClick(); };
    ctx_.hooks.tpsSample = [this](int reading) { tps_->sample(reading); };
    ctx_.hooks.msView = [this] { views_->btnmSClick(); };
    tps_->uploadCompleted = [this] { return transmitter_->outcome() == Transmitter::Outcome::Completed; };
    undo_ =
        std::make_unique<UndoHistory>(ctx_, [this](bool percent, bool leave) { showViewForHistory(percent, leave); });
}

Controller::~Controller() = default;

void Controller::FormCreate(const QStringList &ports)
{
    FormCreateWithoutMaps(ports);
    FormCreateMaps();
}

void Controller::FormCreateWithoutMaps(const QStringList &ports)
{
    EnabledRefresh refresh(*this);
    Screen &s = ctx_.screen;
    s.setItems(ctl::cbPorta, ports);
    if (!ports.isEmpty())
        s.setItemIndex(ctl::cbPorta, 0);
    state_.percentView = false;
    state_.link = LinkState::Closed;
    state_.moduleKnown = false;
    state_.wv.lambdaLoadSource = 5;
    s.setItemIndex(ctl::cbTipoRodaFonica, 0);
    s.setItemIndex(ctl::cbEscalaRpm, 0);
    s.setItemIndex(ctl::cbPontoZero, 3);
    state_.wv.tpsMin = 130;
    state_.wv.tpsMax = 230;
}

void Controller::FormCreateMaps()
{
    EnabledRefresh refresh(*this);
    axes_->cbEscalaRpmChange(); // the speed axis of the 6600 scale selected above
    undo_->reset();
}

Controller::Startup Controller::startup() const { return {state_, undo_->snapshot()}; }

void Controller::restart(const Startup &startup)
{
    // The start-up changes no part but the history: new parts are as it left them.
    build();
    state_ = startup.state;
    undo_->restore(startup.history);
    uploadStart_.reset();
    moduleComparison_ = {};
    enabled_.reset();
    enabledShown_.reset();
}

void Controller::applyEnabled()
{
    const enabledset::ProgramState now = programState();
    const std::optional<quint64> seen = ctx_.screen.enabledRevision();
    if (enabled_ && enabled_->first == now && seen && seen == enabledShown_)
        return; // no enabled state written since the same rule was applied
    if (!enabled_ || enabled_->first != now)
        enabled_.emplace(now, enabledset::enabledSet(now));
    enabledset::apply(ctx_.screen, enabled_->second);
    enabledShown_ = ctx_.screen.enabledRevision();
}

// The port's own events change no state: the steps after a successful open or close
// (portActivated, portDeactivated) do.
void Controller::ComPort1AfterOpen() { applyEnabled(); }
void Controller::ComPort1AfterClose() { applyEnabled(); }

void Controller::portActivated()
{
    EnabledRefresh refresh(*this);
    state_.link = LinkState::Open;
    state_.moduleKnown = false; // whatever is behind the port now, nothing has been read from it
    undo_->forgetModuleSet();
    if (state_.tps == TpsPhase::Sampling)
        state_.tps = TpsPhase::Started; // its readings are no samples until its next step
}

void Controller::portDeactivated()
{
    EnabledRefresh refresh(*this);
    state_.link = LinkState::Closed;
    state_.moduleKnown = false;
    // Whatever is sent to the module from now on (another program, velto-cli) is not
    // seen here: what it holds is not known any more.
    undo_->forgetModuleSet();
    // A read-back that waits for a closed port can never end by itself.
    cancelReadBack();
    // The scanner's stop command that Timer1 still had to send: closing the port ended
    // the stream, and nothing may be written to a closed port.
    ctx_.timer1.setEnabled(false);
}

std::optional<QString> Controller::portLost(const QString &error, bool shown)
{
    EnabledRefresh refresh(*this);
    // A TPS calibration ends at once: its limits go back to what they were before it
    // began, and nothing of it is sent (its upload, if it runs, is interrupted below).
    const bool calibration = tps_->portLost();
    std::optional<QString> message;
    if (state_.uploading) {
        try {
            transmitter_->abort(std::runtime_error(error.toStdString()));
        } catch (const std::exception &e) {
            message = QString::fromUtf8(e.what());
        }
        uploadInterrupted();
    } else if (!shown && (!state_.scannerActive || calibration)) {
        message = error;
    }
    if (calibration) // one box tells both
        message = (message ? *message + QLatin1Char('\n') : QString()) + TpsCalibration::lostMessage();
    if (state_.scannerActive) {
        scanner_->linkLost();
        scanner_->Button3Click();
    }
    ctx_.timer1.setEnabled(false); // no stop command onto a device that is gone
    cancelReadBack();
    tell(TuneEvent::ModuleUnknown, {}); // it may come back without power, or be another module
    return message;
}

// A read-back that ends without its last frame: what was typed (or received) while it
// ran becomes a step, as at a read-back's end, so that undo can take it back.
void Controller::cancelReadBack()
{
    const bool running = receiver_->readBack() != Receiver::ReadBack::Idle;
    receiver_->cancelReadBack();
    if (running && !calibrating())
        undo_->record();
}

void Controller::portWaiting()
{
    EnabledRefresh refresh(*this);
    state_.link = LinkState::Lost;
    state_.moduleKnown = false;
}

linkstatus::ModuleStatus Controller::moduleStatus() const
{
    // While the device is away nobody can know what it holds: it may come back without
    // power, or be another module.
    if (state_.portWaiting())
        return {};
    return moduleComparison_.status(undo_->moduleSet(), screenInModuleUnit());
}

Tune Controller::screenInModuleUnit() const
{
    Tune tune = mapFile_->screenTune();
    if (!state_.percentView)
        return tune;
    const QStringList &controls = mapfile::fieldControls();
    for (int k = 0; k < 72; ++k) {
        const qsizetype i = controls.indexOf(names::injectionCell(k));
        try {
            tune.texts[i] = views::convertedCell(tune.texts[i], k, false);
        } catch (const std::exception &) {
            // No number: the text as it is, which no upload can send either.
        }
    }
    return tune;
}

void Controller::moduleRead(const Tune &module)
{
    EnabledRefresh refresh(*this);
    undo_->setModuleSet(module);
    const QList<tunediff::Difference> differences = tunediff::compareWithModule(screenInModuleUnit(), module);
    if (differences.isEmpty()) {
        tell(TuneEvent::ModuleMatched, module);
        return;
    }
    const QStringList buttons = {QStringLiteral("Enviar a tela ao módulo"), QStringLiteral("Carregar o módulo na tela"),
                                 QStringLiteral("Manter assim")};
    switch (ctx_.prompt.differenceQuestion(moduleDifferenceText(differences), differences, buttons)) {
    case 0: sendCheckedScreen(); break;
    case 1: {
        HistoryStep step(*undo_);
        mapFile_->apply(module);
        // The cells hold the module's milliseconds now: the view says so. Shown in
        // percent again they would not convert back to the same values in every row.
        if (state_.percentView)
            views_->showView(false);
        tell(TuneEvent::Read, module);
        break;
    }
    default: break;
    }
}

void Controller::sendCheckedScreen()
{
    // The module holds milliseconds: the map goes back to them first, as "Ti mS" does.
    if (state_.percentView)
        btnmSClick();
    if (!enabledset::sendingAllowed(programState()))
        throw std::runtime_error(" Atenção ! !  A tela não pode ser enviada ao módulo agora: nada foi enviado.  ");
    btnEnviaClick();
}

QString Controller::moduleDifferenceText(const QList<tunediff::Difference> &differences)
{
    constexpr int listed = 20;
    const int n = int(differences.size());
    QString text = QStringLiteral(" A tela e o módulo diferem em %1 %2:\n")
                       .arg(n)
                       .arg(n == 1 ? QStringLiteral("campo") : QStringLiteral("campos"));
    for (int i = 0; i < differences.size() && i < listed; ++i) {
        const tunediff::Difference &d = differences[i];
        text += QStringLiteral("\n%1: tela %2, módulo %3").arg(d.label, d.a, d.b);
    }
    if (differences.size() > listed)
        text += QStringLiteral("\n… e mais %1").arg(differences.size() - listed);
    return text + QLatin1Char('\n');
}

QStringList Controller::unsentControls() const
{
    if (state_.portWaiting())
        return {};
    return moduleComparison_.changedControls(undo_->moduleSet(), screenInModuleUnit());
}

void Controller::uploadInterrupted()
{
    // Some frames may have reached the module: what it holds is not known.
    undo_->forgetModuleSet();
    uploadStart_.reset();
    tell(TuneEvent::ModuleUnknown, {});
}

void Controller::btnEnviaClick()
{
    EnabledRefresh refresh(*this);
    // The TPS calibration's upload carries limits that count only once it has ended
    // well: the calibration becomes one step at its end, or none.
    if (!calibrating())
        undo_->record();
    uploadStart_ = screenInModuleUnit();
    transmitter_->btnEnviaClick();
}

void Controller::Timer2Timer()
{
    EnabledRefresh refresh(*this);
    try {
        transmitter_->Timer2Timer();
    } catch (...) {
        if (transmitter_->reachedLine())
            uploadInterrupted();
        else
            uploadStart_.reset(); // refused before its first byte: the module holds what it held
        throw;
    }
    if (!state_.uploading)
        uploadEnded(); // the end command is out
}

void Controller::btnLerDadosClick()
{
    EnabledRefresh refresh(*this);
    undo_->record(); // an edit still being typed is a step of its own, not part of the read-back
    receiver_->btnLerDadosClick();
}

void Controller::ComPort1RxChar()
{
    EnabledRefresh refresh(*this);
    const bool readingBack = receiver_->readBack() != Receiver::ReadBack::Idle;
    receiver_->ComPort1RxChar();
    if (receiver_->readBack() != Receiver::ReadBack::Idle)
        return; // a read-back becomes one step when it ends
    if (readingBack) {
        // Kind 26 ended it: the screen is what the ECU holds.
        undo_->record();
        undo_->markTransferred(screenInModuleUnit());
        tell(TuneEvent::Read, screenInModuleUnit());
        return;
    }
    // Kinds 1 to 26 write parameters.
    const int kind = receiver_->lastKind();
    if (kind >= 1 && kind <= 26)
        undo_->record();
}

void Controller::TimerReadBackTimer()
{
    EnabledRefresh refresh(*this);
    const bool readingBack = receiver_->readBack() != Receiver::ReadBack::Idle;
    receiver_->TimerReadBackTimer();
    if (readingBack && receiver_->readBack() == Receiver::ReadBack::Idle)
        undo_->record(); // ended by silence: what came in is one step, and no transfer
}
void Controller::Button3Click()
{
    EnabledRefresh refresh(*this);
    scanner_->Button3Click();
}

void Controller::Timer1Timer()
{
    EnabledRefresh refresh(*this);
    scanner_->Timer1Timer();
}

void Controller::cbEscalaRpmChange() { axes_->cbEscalaRpmChange(); }
void Controller::cbCombinacaoMapaExit() { axes_->cbCombinacaoMapaExit(); }
void Controller::btnAlterarMapasClick()
{
    EnabledRefresh refresh(*this);
    edit_->btnAlterarMapasClick();
}

void Controller::btnAlterarClick()
{
    refuseMapChangeWhileBusy();
    HistoryStep step(*undo_);
    edit_->btnAlterarClick();
}

void Controller::btnVoltarTelaPrincipalClick()
{
    EnabledRefresh refresh(*this);
    HistoryStep step(*undo_);
    edit_->btnVoltarTelaPrincipalClick();
}

void Controller::btnPercentualClick()
{
    EnabledRefresh refresh(*this);
    HistoryStep step(*undo_);
    views_->btnPercentualClick();
}

void Controller::btnmSClick()
{
    EnabledRefresh refresh(*this);
    HistoryStep step(*undo_);
    views_->btnmSClick();
}

QString Controller::mapCopy(MapId map, const CellRect &cells) const { return tools_->copy(map, cells); }

void Controller::mapPaste(MapId map, const CellRect &selection, const QString &text)
{
    refuseMapChangeWhileBusy();
    HistoryStep step(*undo_);
    tools_->paste(map, selection, text);
}

void Controller::mapTool(MapTool tool, MapId map, const CellRect &selection)
{
    refuseMapChangeWhileBusy();
    HistoryStep step(*undo_);
    tools_->run(tool, map, selection);
}

void Controller::refuseMapChangeWhileBusy() const
{
    // The upload and the read-back take the cells block by block, the scanner marks them.
    if (!enabledset::mapChangesAllowed(programState()))
        throw std::runtime_error(" Atenção ! !  O mapa não pode ser alterado durante o envio, a leitura, o scanner "
                                 "ou a calibração do TPS.  ");
}

void Controller::btnSalvarClick()
{
    undo_->record();
    if (mapFile_->btnSalvarClick()) {
        undo_->markSaved();
        tell(TuneEvent::Saved, screenInModuleUnit());
    }
}

void Controller::btnCarregarClick()
{
    EnabledRefresh refresh(*this);
    HistoryStep step(*undo_);
    if (mapFile_->btnCarregarClick()) {
        undo_->markSaved();
        tell(TuneEvent::Loaded, screenInModuleUnit());
    }
}
void Controller::eDeslCutOffExit() { config_->eDeslCutOffExit(); }
void Controller::eLigaCutOffExit() { config_->eLigaCutOffExit(); }
void Controller::eTempoCargaExit() { config_->eTempoCargaExit(); }
void Controller::eLimiteRpmExit() { config_->eLimiteRpmExit(); }
void Controller::eAvancoPartidaExit() { config_->eAvancoPartidaExit(); }
void Controller::fixedComboKeyPress(const QString &comboName) { config_->fixedComboKeyPress(comboName); }
void Controller::cbTipoRodaFonicaChange() { config_->cbTipoRodaFonicaChange(); }
void Controller::btnConfigurarTpsClick()
{
    EnabledRefresh refresh(*this);
    undo_->record();
    calibrationSent_ = false;
    tps_->btnConfigurarTpsClick();
}

void Controller::TimerTPSTimer()
{
    EnabledRefresh refresh(*this);
    const bool calibrating = this->calibrating();
    tps_->TimerTPSTimer();
    if (calibrating && !this->calibrating()) {
        // Ended or cancelled: "Configurar &TPS" may start again, unless the port went
        // away meanwhile (its return makes the module unknown).
        if (state_.portOpen())
            state_.moduleKnown = true;
        undo_->record(); // the new limits, or nothing after a cancellation
        // Ended with its limits sent (a cancellation puts the old ones back on screen).
        if (std::exchange(calibrationSent_, false) && undo_->moduleSet() && *undo_->moduleSet() == screenInModuleUnit())
            tell(TuneEvent::TpsCalibrated, screenInModuleUnit());
    }
}

bool Controller::calibrating() const { return programState().calibrating; }

bool Controller::historyBusy() const { return !enabledset::parameterTextsFree(programState()); }

void Controller::undo()
{
    EnabledRefresh refresh(*this);
    if (!historyBusy())
        undo_->undo();
}

void Controller::redo()
{
    EnabledRefresh refresh(*this);
    if (!historyBusy())
        undo_->redo();
}

bool Controller::canUndo() const { return !historyBusy() && undo_->canUndo(); }
bool Controller::canRedo() const { return !historyBusy() && undo_->canRedo(); }

void Controller::fieldLeft()
{
    // During a read-back or the TPS calibration the typed edit becomes a step at its
    // end, so that no step holds TPS limits that were measured but never sent.
    if (receiver_->readBack() == Receiver::ReadBack::Idle && !calibrating())
        undo_->record();
}

bool Controller::unsaved() const { return undo_->unsaved(); }

void Controller::showViewForHistory(bool percent, bool leaveEditMode)
{
    // The percent view is shown only in the map edit mode; a step back into it opens
    // the mode as "Alterar &Mapas" does, and only when that button could be pressed.
    if (percent && !state_.editMode) {
        if (!enabledset::editModeAllowed(programState()))
            throw std::runtime_error(
                " Atenção ! !  Esta etapa volta o mapa de injeção para \" % \", que só é mostrado em \"Alterar "
                "Mapas\": desative o scanner antes.  ");
        edit_->btnAlterarMapasClick();
    }
    views_->showView(percent);
    // A step taken on leaving the mode ("&Voltar  Tela Principal " from the percent
    // view) leaves it again when it is redone.
    if (leaveEditMode && !percent && state_.editMode)
        edit_->btnVoltarTelaPrincipalClick();
}

void Controller::uploadEnded()
{
    // An edit made while the blocks went out may have reached the ECU in part: only
    // an unchanged screen counts as sent.
    if (uploadStart_ && screenInModuleUnit() == *uploadStart_) {
        undo_->markTransferred(*uploadStart_);
        // The calibration's upload is its own entry once the calibration has ended.
        if (calibrating())
            calibrationSent_ = true;
        else
            tell(TuneEvent::Sent, *uploadStart_);
    } else {
        undo_->forgetModuleSet(); // a mix of the set before and after the edit
        tell(TuneEvent::ModuleUnknown, {});
    }
    uploadStart_.reset();
}

bool Controller::FormCloseQuery()
{
    if (!undo_->wouldLoseChanges())
        return true;
    const QStringList buttons = {QStringLiteral("Salvar"), QStringLiteral("Sair sem salvar"),
                                 QStringLiteral("Cancelar")};
    switch (ctx_.prompt.question(closeQuestion, buttons)) {
    case 0: return saveBeforeClose();
    case 1: return true;
    default: return false;
    }
}

bool Controller::saveBeforeClose()
{
    if (state_.percentView) {
        // The file holds milliseconds; the cells hold percent now.
        ctx_.prompt.message(QString::fromUtf8(" Atenção ! !  O mapa de injeção está em \" % \": volte para Ti \" mS "
                                              "\" antes de salvar.  "));
        return false;
    }
    undo_->record();
    if (!mapFile_->btnSalvarClick())
        return false; // cancelled: the window stays open
    undo_->markSaved();
    tell(TuneEvent::Saved, screenInModuleUnit());
    return true;
}

std::optional<FileComparison> Controller::btnCompararClick()
{
    const std::optional<QString> path = ctx_.prompt.openFileName(MapFile::dialogSpec());
    if (!path)
        return std::nullopt;
    const Tune file = MapFile::readTune(*path);
    return FileComparison{*path, tunediff::compare(mapFile_->screenTune(), file)};
}

void Controller::tell(TuneEvent event, const Tune &tune) const
{
    if (onTuneEvent)
        onTuneEvent(event, tune);
}

void Controller::correctionApplied() { tell(TuneEvent::Corrected, screenInModuleUnit()); }

void Controller::restoreTune(const Tune &tune)
{
    EnabledRefresh refresh(*this);
    if (historyBusy())
        throw std::runtime_error(" Atenção ! !  O ajuste não pode ser posto na tela durante o envio, a leitura ou a "
                                 "calibração do TPS.  ");
    refuseMapChangeWhileBusy();
    HistoryStep step(*undo_);
    mapFile_->apply(tune);
    // The entry holds the module's milliseconds: the view says so.
    if (state_.percentView)
        views_->showView(false);
}
