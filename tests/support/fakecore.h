#pragma once
// A complete core over the fakes, as the window builds it, after start-up.
#include "core/controller.h"
#include "fakes.h"

#include <memory>

struct CoreRig {
    FakeScreen screen;
    FakePort port;
    FakePrompt prompt;
    FakeTimer timer1, timer2, timerTps, timerReadBack;
    std::unique_ptr<Controller> controller;
    explicit CoreRig(const QStringList &ports = {});
    Controller &c() { return *controller; }
    State &state() { return controller->state(); }
    template <typename F> void guarded(F &&f)
    {
        try {
            f();
        } catch (const std::exception &e) {
            prompt.message(QString::fromUtf8(e.what()));
        }
    }
    // The ECU's side: queue a 12-byte frame "HP", kind, payload, "F" and deliver it.
    void receive(int kind, std::array<std::uint8_t, 8> payload);
};
