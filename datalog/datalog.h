#pragma once
// The group " Registro " of the map page: record the live run with markers, and play
// a recorded log back onto the read-outs, bars and maps through the scanner's own
// display. The window forwards the group's events here; the tests call them directly.
#include "common/context.h"
#include "datalog/logformat.h"
#include "datalog/recorder.h"

#include <functional>
#include <memory>
#include <optional>

class MapFile;
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
    void btnReproduzirClick();  // "Reproduzir" / "Pausar"
    void tbPosicaoChange();     // the slider moved
    void cbVelocidadeChange();
    void lbMarcasClick();
    void btnFecharRegistroClick();
    void TimerRegistroTimer();

    // Without a dialog.
    void recordTo(const QString &path);
    void openLog(const QString &path);

    static FileDialogSpec dialogSpec();
    static QString positionText(std::int64_t ms, std::int64_t totalMs); // "mm:ss,s / mm:ss,s"
    static constexpr int syncMs = 500; // rows reach the disk at least once a second
    static constexpr int playMs = 50;

    // Each live sample while the scanner runs (a row on every kind-31 frame once kinds 29
    // and 30 have come since it was switched on), time from the monotonic clock in ms
    // since then; whether or not it is recorded.
    std::function<void(const logformat::Row &)> onLiveRow;

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
    unsigned liveKinds_ = 0; // kinds 29..31 seen since the scanner was switched on
    bool riding_ = false;    // recording through a lost link
};
