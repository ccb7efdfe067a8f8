#include "core/controller.h"

#include "config/configfields.h"
#include "config/tpscalibration.h"
#include "core/undo.h"
#include "files/mapfile.h"
#include "link/parameterimage.h"
#include "link/receiver.h"
#include "link/scanner.h"
#include "link/transmitter.h"
#include "maps/axes.h"
#include "maps/mapedit.h"
#include "maps/views.h"

#include <stdexcept>

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

} // namespace

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
    undo_ = std::make_unique<UndoHistory>(ctx_,
                                          [this](bool percent, bool leave) { showViewForHistory(percent, leave); });
}

Controller::~Controller() = default;

void Controller::FormCreate(const QStringList &ports)
{
    FormCreateWithoutMaps(ports);
    FormCreateMaps();
}

void Controller::FormCreateWithoutMaps(const QStringList &ports)
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
    s.setItemIndex("cbPontoZero", 3);
    state_.wv.tpsMin = 130;
    state_.wv.tpsMax = 230;
}

void Controller::FormCreateMaps()
{
    axes_->cbEscalaRpmChange(); // the speed axis of the 6600 scale selected above
    undo_->reset();
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
    undo_->forgetModuleSet(); // whatever is behind the port now, nothing has been read from it
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

std::optional<QString> Controller::portLost(const QString &error, bool shown)
{
    std::optional<QString> message;
    if (ctx_.timer2.isEnabled()) {
        try {
            transmitter_->abort(std::runtime_error(error.toStdString()));
        } catch (const std::exception &e) {
            message = QString::fromUtf8(e.what());
        }
        uploadInterrupted();
    } else if (!shown && !state_.scannerActive) {
        message = error;
    }
    if (state_.scannerActive)
        scanner_->Button3Click();
    ctx_.timer1.setEnabled(false); // no stop command onto a device that is gone
    receiver_->cancelReadBack();
    return message;
}

void Controller::portWaiting()
{
    state_.portActive = false;
    ComPort1AfterClose();
    for (const char *b : {"btnAtivar", "btnConfigurarTps"})
        ctx_.screen.setEnabled(b, false);
    ctx_.screen.setEnabled("btnDesativar", true);
}

linkstatus::ModuleStatus Controller::moduleStatus() const
{
    return linkstatus::compare(undo_->moduleSet(), mapFile_->screenTune());
}

void Controller::moduleRead(const Tune &module)
{
    undo_->setModuleSet(module);
    const QList<tunediff::Difference> differences = tunediff::compare(mapFile_->screenTune(), module);
    if (differences.isEmpty())
        return;
    const QStringList buttons = {QStringLiteral("Enviar a tela ao módulo"), QStringLiteral("Carregar o módulo na tela"),
                                 QStringLiteral("Manter assim")};
    switch (ctx_.prompt.question(moduleDifferenceText(differences), buttons)) {
    case 0:
        btnEnviaClick();
        break;
    case 1: {
        HistoryStep step(*undo_);
        mapFile_->apply(module);
        break;
    }
    default:
        break;
    }
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
    return linkstatus::changedControls(undo_->moduleSet(), mapFile_->screenTune());
}

void Controller::uploadInterrupted()
{
    // Some frames may have reached the module: what it holds is not known.
    undo_->forgetModuleSet();
    uploadStart_.reset();
}

void Controller::btnEnviaClick()
{
    // The TPS calibration's upload carries limits that count only once it has ended
    // well: the calibration becomes one step at its end, or none.
    if (!calibrating())
        undo_->record();
    uploadStart_ = mapFile_->screenTune();
    transmitter_->btnEnviaClick();
}

void Controller::Timer2Timer()
{
    try {
        transmitter_->Timer2Timer();
    } catch (...) {
        uploadInterrupted();
        throw;
    }
    if (!ctx_.timer2.isEnabled())
        uploadEnded(); // the end command is out
}

void Controller::btnLerDadosClick()
{
    undo_->record(); // an edit still being typed is a step of its own, not part of the read-back
    receiver_->btnLerDadosClick();
}

void Controller::ComPort1RxChar()
{
    const bool readingBack = receiver_->readBack() != Receiver::ReadBack::Idle;
    receiver_->ComPort1RxChar();
    if (receiver_->readBack() != Receiver::ReadBack::Idle)
        return; // a read-back becomes one step when it ends
    if (readingBack) {
        // Kind 26 ended it: the screen is what the ECU holds.
        undo_->record();
        undo_->markTransferred(mapFile_->screenTune());
        return;
    }
    // Kinds 1 to 26 write parameters.
    const int kind = receiver_->lastKind();
    if (kind >= 1 && kind <= 26)
        undo_->record();
}

void Controller::TimerReadBackTimer()
{
    const bool readingBack = receiver_->readBack() != Receiver::ReadBack::Idle;
    receiver_->TimerReadBackTimer();
    if (readingBack && receiver_->readBack() == Receiver::ReadBack::Idle)
        undo_->record(); // ended by silence: what came in is one step, and no transfer
}
void Controller::Button3Click() { scanner_->Button3Click(); }
void Controller::Timer1Timer() { scanner_->Timer1Timer(); }
void Controller::cbEscalaRpmChange() { axes_->cbEscalaRpmChange(); }
void Controller::cbCombinacaoMapaExit() { axes_->cbCombinacaoMapaExit(); }
void Controller::btnAlterarMapasClick() { edit_->btnAlterarMapasClick(); }
void Controller::btnAlterarClick()
{
    HistoryStep step(*undo_);
    edit_->btnAlterarClick();
}

void Controller::btnVoltarTelaPrincipalClick()
{
    HistoryStep step(*undo_);
    edit_->btnVoltarTelaPrincipalClick();
}

void Controller::btnPercentualClick()
{
    HistoryStep step(*undo_);
    views_->btnPercentualClick();
}

void Controller::btnmSClick()
{
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
    // The same moments in which "Alterar &Mapas" cannot be pressed: the upload and the
    // read-back take the cells block by block, the scanner marks them.
    if (historyBusy() || state_.scannerActive)
        throw std::runtime_error(" Atenção ! !  O mapa não pode ser alterado durante o envio, a leitura, o scanner "
                                 "ou a calibração do TPS.  ");
}

void Controller::btnSalvarClick()
{
    undo_->record();
    if (mapFile_->btnSalvarClick())
        undo_->markSaved();
}

void Controller::btnCarregarClick()
{
    HistoryStep step(*undo_);
    if (mapFile_->btnCarregarClick())
        undo_->markSaved();
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
    undo_->record();
    tps_->btnConfigurarTpsClick();
}

void Controller::TimerTPSTimer()
{
    const bool calibrating = ctx_.timerTps.tag == 1;
    tps_->TimerTPSTimer();
    if (calibrating && ctx_.timerTps.tag == 0)
        undo_->record(); // the new limits, or nothing after a cancellation
}

bool Controller::calibrating() const { return ctx_.timerTps.tag == 1 || ctx_.timerTps.isEnabled(); }

bool Controller::historyBusy() const
{
    return ctx_.timer2.isEnabled() || receiver_->readBack() != Receiver::ReadBack::Idle || calibrating();
}

void Controller::undo()
{
    if (!historyBusy())
        undo_->undo();
}

void Controller::redo()
{
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
    Screen &s = ctx_.screen;
    // The percent view is shown only in the map edit mode; a step back into it opens
    // the mode as "Alterar &Mapas" does, and only when that button could be pressed.
    if (percent && !s.isVisible(QStringLiteral("GroupBox10"))) {
        if (!s.isVisible(QStringLiteral("btnAlterarMapas")) || !s.isEnabled(QStringLiteral("btnAlterarMapas")))
            throw std::runtime_error(
                " Atenção ! !  Esta etapa volta o mapa de injeção para \" % \", que só é mostrado em \"Alterar "
                "Mapas\": desative o scanner antes.  ");
        edit_->btnAlterarMapasClick();
    }
    views_->showView(percent);
    // A step taken on leaving the mode ("&Voltar  Tela Principal " from the percent
    // view) leaves it again when it is redone.
    if (leaveEditMode && !percent && s.isVisible(QStringLiteral("GroupBox10")))
        edit_->btnVoltarTelaPrincipalClick();
}

void Controller::uploadEnded()
{
    // An edit made while the blocks went out may have reached the ECU in part: only
    // an unchanged screen counts as sent.
    if (uploadStart_ && mapFile_->screenTune() == *uploadStart_)
        undo_->markTransferred(*uploadStart_);
    else
        undo_->forgetModuleSet(); // a mix of the set before and after the edit
    uploadStart_.reset();
}

bool Controller::FormCloseQuery()
{
    if (!undo_->wouldLoseChanges())
        return true;
    const QStringList buttons = {QStringLiteral("Salvar"), QStringLiteral("Sair sem salvar"),
                                 QStringLiteral("Cancelar")};
    switch (ctx_.prompt.question(closeQuestion, buttons)) {
    case 0:
        return saveBeforeClose();
    case 1:
        return true;
    default:
        return false;
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
