#pragma once
// Reads the module's parameter set back into an image of its own: a second core on a
// screen without widgets runs the read-back, so the window's fields, boxes, bars and
// buttons never go through the read-back's states. The read-back's protocol and its
// time-out are the core's own.
#include "common/context.h"
#include "common/tablescreen.h"
#include "files/mapfile.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class Controller;
class QObject;
class QtTimer;

class ModuleReader {
public:
    // changed: told after every time-out tick (the read-back may have ended).
    ModuleReader(QObject *context, LinkPort &port, std::function<void()> changed);
    ~ModuleReader();
    ModuleReader(const ModuleReader &) = delete;
    ModuleReader &operator=(const ModuleReader &) = delete;

    // Writes the read request; throws the port's error.
    void start();
    // A receive event while the read-back runs.
    void receive();
    bool finished() const;
    // The module's set, when the read-back ended with its last frame.
    std::optional<Tune> result() const;

private:
    class Quiet : public Prompt {
    public:
        void message(const QString &) override {}
        std::optional<QString> saveFileName(const FileDialogSpec &) override { return std::nullopt; }
        std::optional<QString> openFileName(const FileDialogSpec &) override { return std::nullopt; }
        int question(const QString &, const QStringList &) override { return -1; }
    };

    TableScreen screen_;
    Quiet prompt_;
    IdleTimer timer1_, timer2_, timerTps_;
    std::unique_ptr<QtTimer> timerReadBack_;
    std::unique_ptr<Controller> core_;
    bool started_ = false;
};
