#pragma once
// The controller without a window on a real serial port: a table screen, the port
// session the window runs, and an event loop that runs until the upload or the
// read-back has ended. Errors the window would show in a box end the run instead.
#include "cli/exitcodes.h"
#include "common/tablescreen.h"
#include "session/portsession.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <bitset>
#include <functional>
#include <optional>

class Controller;
class EComPort;

namespace cli {

// A port error as velto-cli shows it: the component's text, the port, and the fix
// where the cause is known.
QString portMessage(const EComPort &e, const QString &port);
// An upload that stopped before its end command: the module keeps its set.
QString keptSetSentence();
// message and a sentence after it, with one full stop between.
QString withSentence(const QString &message, const QString &sentence);

class Headless {
public:
    // The screen after start-up with port as the only entry of the port list.
    explicit Headless(const QString &port);
    ~Headless();

    Controller &controller() { return session_->controller(); }
    TableScreen &screen() { return screen_; }
    // The device went away.
    bool linkLost() const { return session_->linkLost(); }

    // "&Ativar". Throws Failure (3) when the port cannot be opened.
    void open();
    // "&Enviar  Dados" and its 35 ticks; returns the 256 bytes of the 32 frames written.
    // A frame that cannot be written stops the upload before the end-of-upload
    // command, so the module keeps the parameter set it had (Failure 3).
    QByteArray upload();
    // "&Lêr  Dados" until the last frame; Failure 3 when the module stays silent, the
    // port is lost, or a frame of kinds 1 to 26 never came.
    void readBack();
    // "Ativar &Scanner" and "Gravar" into path, until `seconds` have passed (0: no
    // limit) or SIGINT, SIGTERM or SIGHUP comes; then the scanner is switched off (the
    // stop command goes out) and the log is closed whole. firstRow runs once, when the
    // first row is in (or at a clean end without one). Failure 3 when the module falls
    // silent or the port is lost, 4 when the log cannot be written; the rows written
    // so far stay in the file.
    // A lost port does not end it: the recording goes on in the same file with the
    // markers "Conexão perdida" and "Reconectado", the session watches for the device
    // and switches the scanner on again once it is back. Failure 3 when it has not come
    // back within waitSeconds, or by the end of the run; the log is closed whole.
    // historyEntry: the vehicle's history entry the log's header names (none when empty).
    void record(const QString &path, int seconds, int waitSeconds, const std::function<void()> &firstRow,
                const QString &historyEntry = {});

private:
    class Messages : public Prompt {
    public:
        std::function<void(const QString &)> shown;
        std::function<void(const QString &)> asked;
        void message(const QString &text) override { shown(text); }
        std::optional<QString> saveFileName(const FileDialogSpec &) override { return std::nullopt; }
        std::optional<QString> openFileName(const FileDialogSpec &) override { return std::nullopt; }
        // Nobody to answer: told, and nothing is chosen.
        int question(const QString &text, const QStringList &) override
        {
            asked(text);
            return -1;
        }
    };

    void fail(int code, const QString &message);
    // Runs the event loop until done() or a failure; limitMs 0 runs without a limit.
    // A signal (SIGINT, SIGTERM, SIGHUP) ends the wait as a failure unless
    // signalEnds is false, where done() looks at it itself.
    void runUntil(const std::function<bool()> &done, int limitMs = 60000, bool signalEnds = true);
    // Failure 128 + N when signal N has come; what names what was left undone.
    void throwIfSignalled(const QString &what);
    QString silentMessage() const;
    void startScanner();
    void stopScanner();
    // Told on stderr while the log rides over a loss: the status line's text.
    void linkChanged(LinkState state);

    QString port_; // the device path

    QObject context_;
    TableScreen screen_;
    Messages prompt_;
    std::unique_ptr<PortSession> session_;
    std::optional<Failure> failure_;
    QList<QByteArray> written_;
    std::bitset<27> kindsRead_;
};

} // namespace cli
