#pragma once
// The group " Registro " of the map page: record the live run with markers, and play
// a recorded log back onto the read-outs, bars and maps through the scanner's own
// display. The window forwards the group's events here; the tests call them directly.
#include "common/context.h"
#include "common/controlnames.h"
#include "datalog/logformat.h"
#include "datalog/recorder.h"
#include "datalog/samplegate.h"
#include "files/mapfile.h"

#include <functional>
#include <memory>
#include <optional>

class Scanner;

class Datalog {
public:
    // timer: TimerRegistro of the window (syncs the recording, paces the playback).
    Datalog(Context &ctx, Scanner &scanner, MapFile &mapFile, Timer &timer, Recorder::Clock clock = {});
    ~Datalog();

    void btnGravarClick();
    void btnPararClick();
    void btnMarcarClick();
    void btnAbrirRegistroClick();
    void btnReproduzirClick(); // "Reproduzir" / "Pausar"
    void tbPosicaoChange();    // the slider moved
    void cbVelocidadeChange();
    void lbMarcasClick();
    void btnFecharRegistroClick();
    void TimerRegistroTimer();

    // Without a dialog: records with the tune from moduleTune (or the screen's when
    // it is not set) written beside the log; none, and the header saying so, when
    // moduleTune has nothing.
    void recordTo(const QString &path);
    void openLog(const QString &path);

    static FileDialogSpec dialogSpec();
    static QString positionText(std::int64_t ms, std::int64_t totalMs); // "mm:ss,s / mm:ss,s"
    static constexpr int syncMs = 500;                                  // rows reach the disk at least once a second
    static constexpr int playMs = 50;

    // Each live sample while the scanner runs (see SampleGate; the rule the recorder
    // writes rows by), time from the monotonic clock in ms since it was switched on;
    // whether or not it is recorded.
    std::function<void(const logformat::Row &)> onLiveRow;
    // What the module holds (the last set sent or read back in full), nothing when
    // unknown. Set by the window: "Gravar" then writes that set beside the log. While
    // it is unknown "Gravar" reads it back first through readModuleTune (when set) and
    // records; a set still unknown then is recorded without a tune beside the log,
    // the log's header saying so.
    std::function<std::optional<Tune>()> moduleTune;
    // Reads the module's set back (the scanner pausing for it) and calls done with it,
    // or with nothing when it could not be read; done records when the scanner runs.
    std::function<void(std::function<void(const std::optional<Tune> &)> done)> readModuleTune;
    // While a vehicle is open: the entry of its history that the recording is made with
    // (its commit's hash), named in the log's header. Asked when the recording starts.
    std::function<QString()> historyEntry;
    // While a vehicle is open: the folder "Gravar"'s dialog opens in (the vehicle's
    // registros/, see history::Vehicle::logsFolder).
    std::function<QString()> logFolder;
    // "Gravar" waits for readModuleTune.
    bool isReadingModule() const { return readingModule_; }
    // The group's read-out: "● Gravando mm:ss — <file>", "Reproduzindo <file>".
    static inline const QString &statusReadout = ctl::lbEstadoRegistro;
    // The last marker set during this recording: "Marca N".
    static inline const QString &markerReadout = ctl::lbUltimaMarca;

    // The log's viewer follows the replay: a log opened (its path) or closed (empty), and
    // each row the screen shows.
    std::function<void(const QString &path)> onLogSwitched;
    std::function<void(std::size_t row)> onRowShown;

    // The port went away while recording: the recording goes on in the same file
    // with the marker "Conexão perdida"; "Reconectado" once the scanner runs again.
    // Given up ("&Desativar" during the wait): the recording ends.
    void linkLost();
    void linkRestored();
    void linkGivenUp();

    Recorder &recorder() { return recorder_; }
    bool isRecording() const { return recorder_.isRecording(); }
    bool isOpen() const { return log_ != nullptr; }
    bool isPlaying() const { return playing_; }
    const logformat::Log *log() const { return log_.get(); }
    std::size_t row() const { return row_; }

private:
    void scannerSwitched(bool on);
    void liveFrame(int kind, const LiveValues &values);
    void stopRecording();
    void closeLog(bool restoreScreen);
    void seek(std::size_t row);
    void setPlaying(bool playing);
    void updateButtons();
    void updateStatus();
    void showAbsent(const LiveValues &v);
    std::optional<QByteArray> knownTune();
    void startRecording(const QString &path, const std::optional<QByteArray> &tune);
    void moduleTuneRead(const QString &path, const std::optional<Tune> &tune);

    Context &ctx_;
    Scanner &scanner_;
    MapFile &mapFile_;
    Timer &timer_;
    Recorder recorder_;
    std::unique_ptr<logformat::Log> log_;
    std::size_t row_ = 0;
    std::int64_t playMs_ = 0; // playback time since the first row
    bool playing_ = false;
    int speed_ = 1;
    Recorder::Clock clock_;
    std::int64_t liveStartNs_ = 0;
    bool riding_ = false; // recording through a lost link
    bool readingModule_ = false;
    QString logPath_;
    SampleGate liveGate_; // restarted when the scanner is switched
};
