#pragma once
// What every handler of the core works with: the screen, the serial line, the
// prompts, the timers and the program-wide state. The window (or a test) owns the
// real objects; the core only holds references.
#include "common/screen.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

// Writing from absolute deadlines, away from the window's event loop (the upload's
// frames). Slot 1 is due at once, slot n periodMs x (n - 1) later; once a slot has
// passed, Timer2 ticks. Each slot's bytes are handed over before its deadline.
class LinkPacer {
public:
    virtual ~LinkPacer() = default;
    virtual void start(int periodMs) = 0;
    // What slot n writes; empty: nothing.
    virtual void hand(int slot, const QByteArray &bytes) = 0;
    // Slot n has passed: throws its write's error as write() would.
    virtual void passed(int slot) = 0;
    // Nothing is written after it returns.
    virtual void stop() = 0;
};

namespace tunediff {
struct Difference;
}

// The serial line as the core uses it. Both calls block until done and throw the
// port's error on failure.
class LinkPort {
public:
    virtual ~LinkPort() = default;
    virtual int write(const QByteArray &bytes) = 0;
    // Up to count bytes; fewer when the line stays quiet (the port's bounded wait).
    virtual QByteArray read(int count) = 0;
    // The line's pacer when it has one and can write now; null: Timer2's ticks write.
    virtual LinkPacer *pacer() { return nullptr; }
    // The device went away before: every write fails before a byte goes out.
    virtual bool refusing() const { return false; }
};

// A timer of the window. The core sets interval and enabled state; the window calls
// the tick method. Changing the interval of an enabled timer restarts its period.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

// A timer that only keeps its settings: nothing ticks on its own (a core with no
// window, a test that calls the tick methods itself).
class IdleTimer : public Timer {
public:
    void setInterval(int ms) override { interval_ = ms; }
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }

private:
    int interval_ = 1000;
    bool enabled_ = false;
};

struct FileDialogSpec {
    QString filter;        // "Arquivos Compatíveis (.txt)|*.txt|Todos os arquivos|*.*"
    QString defaultSuffix; // "txt"
    QString initialDir;
    QString suggestedName; // file name the save dialog proposes (none when empty)
};

// Modal messages and file dialogs. The window shows real ones; tests answer them.
class Prompt {
public:
    virtual ~Prompt() = default;
    virtual void message(const QString &text) = 0; // modal box with an OK button
    // A box with an OK button that does not wait for it: the caller goes on, and closes
    // the box with closeNotice (by its number) once what it tells is over. A prompt
    // without such boxes shows a message (then the number is 0 and closing does nothing).
    virtual int notice(const QString &text)
    {
        message(text);
        return 0;
    }
    virtual void closeNotice(int id) { Q_UNUSED(id); }
    virtual std::optional<QString> saveFileName(const FileDialogSpec &setup) = 0;
    virtual std::optional<QString> openFileName(const FileDialogSpec &setup) = 0;
    // One or more existing files; by default the one file of openFileName.
    virtual std::optional<QStringList> openFileNames(const FileDialogSpec &setup)
    {
        const std::optional<QString> one = openFileName(setup);
        return one ? std::optional(QStringList{*one}) : std::nullopt;
    }
    // Modal box with one button per caption, in that order, the first one the default
    // and the last one also chosen by Escape; returns the index of the button chosen,
    // or -1 when the box was closed without a choice.
    virtual int question(const QString &text, const QStringList &buttons) = 0;
    // The same question about the fields in which the screen and another set differ:
    // text tells them in words, a window may show them as a table instead.
    virtual int differenceQuestion(const QString &text, const QList<tunediff::Difference> &differences,
                                   const QStringList &buttons)
    {
        Q_UNUSED(differences);
        return question(text, buttons);
    }
    // Modal box asking for one line of text, its field holding initial; nothing when
    // cancelled. A prompt without such a box (the command line) cancels.
    virtual std::optional<QString> askText(const QString &question, const QString &initial)
    {
        Q_UNUSED(question);
        Q_UNUSED(initial);
        return std::nullopt;
    }
};

// Values converted from the screen at the start of an upload, kept for the run.
struct WorkingValues {
    std::int16_t lambdaLoadSource = 0; // cbSondaCorrecao (5 from start-up on)
    std::int16_t mapCombination = 0;   // cbCombinacaoMapa
    std::int16_t quickAccelSource = 0; // cbRapidaTpsxMap
    std::int16_t lambdaActivity = 0;   // cbSondaAtiva
    std::int16_t lambdaType = 0;       // cbSondaTipo
    std::int16_t wheelCode = 0;        // cbTipoRodaFonica
    std::uint16_t toothOffset = 0;     // position of the TDC tooth in cbDentesPms
    std::int16_t speedScaleIndex = 0;  // cbEscalaRpm
    std::int32_t fanIncrement = 0;     // emSCorrecaoEletro, tenths of ms
    std::array<std::int8_t, 22> tiCurve{};
    std::array<std::int8_t, 22> advanceCurve{};
    std::array<std::int8_t, 22> idleCurve{};
    std::array<std::int8_t, 10> atmCurve{};
    std::int32_t tpsMin = 130; // closed-throttle reading, 0..1023
    std::int32_t tpsMax = 230; // full-throttle reading / 4, 0..255
};

// Where a read-back stands: asked for, frames coming in (the window locked), or none.
enum class ReadBackPhase { Idle, Requested, Receiving };

// Where the TPS calibration stands: not running; "Configurar &TPS" pressed, its first
// step not yet taken; its steps running, the scanner's readings taken as samples.
enum class TpsPhase { None, Started, Sampling };

// The port's one state value: what the status line shows and what the port's buttons
// follow.
enum class LinkState {
    Closed,   // never opened, or "&Desativar"
    Open,     // "&Ativar" opened it
    Lost,     // the device went away; waiting for it to come back
    Reopened, // it came back and was opened again by itself
};

// Program-wide state shared by several handlers. State private to one activity
// lives in that activity's class. What can be pressed follows from it alone
// (common/enabledset.h).
struct State {
    WorkingValues wv;
    LinkState link = LinkState::Closed;
    bool linkActivity = false; // set by every receive event, cleared by the watchdog
    bool scannerActive = false;
    bool percentView = false; // injection map shows injector duty in percent
    // An upload, a read-back or the TPS calibration ended since the port opened and
    // since the user last switched the scanner on: "Configurar &TPS" may start.
    bool moduleKnown = false;
    // An upload runs: from its first tick to its end command, or until it stops before it.
    bool uploading = false;
    ReadBackPhase readBack = ReadBackPhase::Idle;
    bool moduleCheck = false;      // the module is read back after the port opened or came back
    TpsPhase tps = TpsPhase::None; // "Configurar &TPS" was pressed and the calibration has not ended
    bool editMode = false;         // "Alterar &Mapas" opened the map tools
    bool recording = false;        // the datalog writes a log
    bool logOpen = false;          // a log is open for playback
    // The port is open: "&Ativar" opened it, or it came back by itself.
    bool portOpen() const { return link == LinkState::Open || link == LinkState::Reopened; }
    // The device went away; its return is watched.
    bool portWaiting() const { return link == LinkState::Lost; }
    std::uint16_t wheelTypeIndex = 0; // last wheel type decoded from the ECU
    // The wheel chosen has a TDC tooth and a zero point (60-2, 36-1; not 2+2): their
    // boxes can be chosen.
    bool toothFields = true;
    bool liveStale = false; // the link was lost since the last live values shown
    // Live values of the scanner that the TPS calibration reads.
    std::int32_t tpsReading = 0;
    long double tpsVoltage = 0;
};

// Calls from one activity into another (set up by the Controller).
struct Hooks {
    std::function<void()> wheelTypeChange;      // cbTipoRodaFonicaChange
    std::function<void()> speedScaleChange;     // cbEscalaRpmChange
    std::function<void()> scannerToggle;        // Button3Click
    std::function<void()> upload;               // btnEnviaClick
    std::function<void(int reading)> tpsSample; // sampling hook of the TPS calibration
    std::function<void()> msView;               // btnmSClick
};

struct Context {
    Screen &screen;
    LinkPort &port;
    Prompt &prompt;
    Timer &timer1;        // scanner poll and link watchdog
    Timer &timer2;        // upload pacing
    Timer &timerTps;      // TPS calibration steps
    Timer &timerReadBack; // read-back watchdog (no frame for 3 s)
    State &state;
    Hooks hooks;
};
