#pragma once
// The group " Registro " of the map page: record the live run with markers, and play
// a recorded log back onto the read-outs, bars and maps through the scanner's own
// display. The window forwards the group's events here; the tests call them directly.
#include "common/context.h"
#include "datalog/logformat.h"
#include "datalog/recorder.h"

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

    Recorder &recorder() { return recorder_; }
    bool isRecording() const { return recorder_.isRecording(); }
    bool isOpen() const { return log_ != nullptr; }
    bool isPlaying() const { return playing_; }
    const logformat::Log *log() const { return log_.get(); }
    std::size_t row() const { return row_; }

private:
    void scannerSwitched(bool on);
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
};
