#pragma once
// Reads the module's parameter set back without the window: the read request, the
// frames decoded by the field table into a set of its own, and the read-back's
// time-out (the window's own rule: 3 s without a recognised frame). The window's
// fields, boxes, bars and buttons never go through it.
#include "common/context.h"
#include "files/mapfile.h"
#include "link/tuneimage.h"

#include <functional>
#include <memory>
#include <optional>

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
    void tick();

    LinkPort &port_;
    std::unique_ptr<QtTimer> timer_;
    Tune tune_;
    bool started_ = false, reading_ = false, complete_ = false;
    int quietMs_ = 0;
};
