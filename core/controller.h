#pragma once
// All handlers of the main window, free of widgets. The window forwards each widget
// event to the method of the same name; the tests call them directly.
#include "common/context.h"
#include "common/enabledset.h"
#include "core/linkstatus.h"
#include "core/tunediff.h"
#include "core/undo.h"
#include "maps/maptools.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class ParameterImage;
class Transmitter;
class Receiver;
class Scanner;
class MapAxes;
class MapViews;
class MapEdit;
class MapTools;
class MapFile;
class ConfigFields;
class TpsCalibration;

// What happened to the parameter set that a vehicle's history keeps: a transfer that
// ended (the module holds the set), a map file loaded or saved, a correction applied,
// a TPS calibration that ended with its limits sent, a check of the module that found
// it equal to the screen, and the module becoming unknown (a lost link, an upload cut).
enum class TuneEvent { Sent, Read, Loaded, Saved, Corrected, TpsCalibrated, ModuleMatched, ModuleUnknown };

// The differences between the screen and a map file ("Comparar").
struct FileComparison {
    QString path;
    QList<tunediff::Difference> differences; // a = the screen, b = the file
};

class Controller {
public:
    Controller(Screen &screen, LinkPort &port, Prompt &prompt, Timer &timer1, Timer &timer2, Timer &timerTps,
               Timer &timerReadBack);
    ~Controller();
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    State &state() { return state_; }
    // The program's state as the enabled-controls rule reads it, and the rule applied.
    // Every handler below ends by applying it.
    enabledset::ProgramState programState() const { return enabledset::fromContext(ctx_); }
    void applyEnabled();
    Context &context() { return ctx_; }

    // Start-up: the port list as enumerated, then the start-up steps of the window.
    void FormCreate(const QStringList &ports);
    // FormCreate in two halves, for a window that builds its map page after the first
    // paint: the first touches no control of the map page; the second draws the speed
    // axis and starts the history, once the maps exist.
    void FormCreateWithoutMaps(const QStringList &ports);
    void FormCreateMaps();
    // What FormCreate leaves inside the core. restart() brings the core back to it
    // without running the start-up again (no read of the whole screen): the parts as
    // new, the state and the history as taken. The screen, line, timers and prompts
    // are the caller's to put back as they were when the snapshot was taken.
    struct Startup;
    Startup startup() const; // right after FormCreate
    void restart(const Startup &startup);

    // Port activation. The window opens or closes the real port; the port's events
    // and the steps after a successful open or close come here.
    void ComPort1AfterOpen();
    void ComPort1AfterClose();
    void portActivated();   // after "&Ativar" opened the port
    void portDeactivated(); // after "&Desativar" closed it
    // The device went away; the port is still open and is closed next. A running
    // upload ends (no end command), the scanner stops without a stop command, a
    // read-back is dropped. Returns the one message to show: the upload's, else the
    // loss's own unless it was shown already or the scanner ran (the status line and
    // the log's marker tell it then).
    std::optional<QString> portLost(const QString &error, bool shown);
    // The lost port is closed and watched: only "&Desativar" (it ends the wait).
    void portWaiting();
    // The screen against the module's known set; the controls that differ from it.
    linkstatus::ModuleStatus moduleStatus() const;
    // The check of the module after a reconnect read its set back into an image of
    // its own: equal, it is known; different, the user chooses which side wins
    // ("Enviar a tela ao módulo", "Carregar o módulo na tela" as one undo step,
    // "Manter assim"); nothing is overwritten without that choice.
    // Every comparison with the module, every load of its set and every upload takes
    // the injection map in the module's unit, milliseconds, whatever the view shows:
    // from the percent view "Carregar" puts the module's set on screen in milliseconds
    // and the view with it, and "Enviar" converts the map back to milliseconds first
    // (as "Ti mS" does); it sends only when the enabled rule allows sending.
    void moduleRead(const Tune &module);
    QStringList unsentControls() const;
    // The parameter set on screen in the module's unit: the injection cells in
    // milliseconds also in the percent view (a cell that is no number keeps its text).
    Tune screenInModuleUnit() const;

    // Upload.
    void btnEnviaClick();
    void Timer2Timer();
    // Read-back and receive side.
    void btnLerDadosClick();
    void ComPort1RxChar();
    void TimerReadBackTimer();
    // Scanner and watchdog.
    void Button3Click();
    void Timer1Timer();
    // Maps.
    void cbEscalaRpmChange();
    void cbCombinacaoMapaExit();
    void btnAlterarMapasClick();
    void btnAlterarClick();
    void btnVoltarTelaPrincipalClick();
    void btnPercentualClick();
    void btnmSClick();
    // Cells of either map as a spreadsheet's: copy, paste and the tools on a rectangle.
    // Paste and tools are one step each; they are refused with a message while an
    // upload, a read-back, the scanner or the TPS calibration runs.
    QString mapCopy(MapId map, const CellRect &cells) const;
    void mapPaste(MapId map, const CellRect &selection, const QString &text);
    void mapTool(MapTool tool, MapId map, const CellRect &selection);
    // Map files.
    void btnSalvarClick();
    void btnCarregarClick();
    // Configuration fields.
    void eDeslCutOffExit();
    void eLigaCutOffExit();
    void eTempoCargaExit();
    void eLimiteRpmExit();
    void eAvancoPartidaExit();
    void fixedComboKeyPress(const QString &comboName); // cbCombinacaoMapaKeyPress and its four siblings
    void cbTipoRodaFonicaChange();
    // TPS calibration.
    void btnConfigurarTpsClick();
    void TimerTPSTimer();

    // Undo and redo of the parameter set on screen (Ctrl+Z, Ctrl+Y, Ctrl+Shift+Z).
    // Not while an upload, a read-back or the TPS calibration runs (they read or write
    // the parameter texts themselves); they never send anything.
    void undo();
    void redo();
    bool canUndo() const;
    bool canRedo() const;
    // An upload, a read-back or the TPS calibration runs: the parameter texts are theirs.
    bool historyBusy() const;
    // The focus left a field and its check has run: the typed edit becomes one step.
    void fieldLeft();
    // "Alterações não salvas": the parameter set differs from the last map file saved
    // or loaded (from the start-up screen while there was none).
    bool unsaved() const;
    // Closing the window: asks before a screen neither saved nor sent is lost; returns
    // whether the window may close.
    bool FormCloseQuery();
    // "Comparar": the differences between the screen and a map file the user chooses;
    // nothing when the dialog is cancelled. A file that does not load throws the
    // load's own message and changes nothing.
    std::optional<FileComparison> btnCompararClick();

    // Told of each TuneEvent with the set it concerns, in the module's unit (empty for
    // ModuleUnknown). It must not throw nor wait: the vehicle's history writes later.
    std::function<void(TuneEvent, const Tune &)> onTuneEvent;
    // A correction was applied to the screen.
    void correctionApplied();
    // A set from elsewhere (an entry of the vehicle's history) on screen as one undo
    // step; nothing is sent. Refused while the map may not change.
    void restoreTune(const Tune &tune);

    ParameterImage &image() { return *image_; }
    Receiver &receiver() { return *receiver_; }
    Scanner &scanner() { return *scanner_; }
    TpsCalibration &tpsCalibration() { return *tps_; }
    MapFile &mapFile() { return *mapFile_; }
    UndoHistory &history() { return *undo_; }

private:
    void cancelReadBack();
    State state_;
    Context ctx_;
    std::unique_ptr<ParameterImage> image_;
    std::unique_ptr<Transmitter> transmitter_;
    std::unique_ptr<Scanner> scanner_;
    std::unique_ptr<Receiver> receiver_;
    std::unique_ptr<MapAxes> axes_;
    std::unique_ptr<MapViews> views_;
    std::unique_ptr<MapEdit> edit_;
    std::unique_ptr<MapTools> tools_;
    std::unique_ptr<MapFile> mapFile_;
    std::unique_ptr<ConfigFields> config_;
    std::unique_ptr<TpsCalibration> tps_;
    std::unique_ptr<UndoHistory> undo_;

    void build(); // the parts, as new, and the hooks between them
    void showViewForHistory(bool percent, bool leaveEditMode);
    bool calibrating() const; // the TPS calibration runs
    void refuseMapChangeWhileBusy() const;
    bool saveBeforeClose();
    void uploadEnded();
    void uploadInterrupted();
    void sendCheckedScreen();
    static QString moduleDifferenceText(const QList<tunediff::Difference> &differences);
    void tell(TuneEvent event, const Tune &tune) const;
    std::optional<Tune> uploadStart_; // the parameter set when the running upload began
    bool calibrationSent_ = false;    // the running TPS calibration's upload ended
    mutable linkstatus::ModuleComparison moduleComparison_;
    // The rule's last result (most handlers leave the state it reads as it was), and
    // the screen's enabled states as they were once it was applied.
    std::optional<std::pair<enabledset::ProgramState, enabledset::EnabledSet>> enabled_;
    std::optional<quint64> enabledShown_;
};

struct Controller::Startup {
    State state;
    UndoHistory::Snapshot history;
};
