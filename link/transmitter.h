#pragma once
// The upload: one 9-byte frame per Timer2 tick (block number, 8 bytes), 32 frames,
// two idle ticks, then the end-of-upload command.
#include "common/context.h"

#include <cstdint>

class ParameterImage;

class Transmitter {
public:
    Transmitter(Context &ctx, ParameterImage &image);
    void btnEnviaClick(); // btnEnvia and Button8; also run by the TPS calibration
    void Timer2Timer();
    std::uint16_t tickCounter() const { return tick_; }

private:
    void showBusy();
    // Hides the busy panels (outside the TPS calibration) and unlocks the buttons.
    void release();

    Context &ctx_;
    ParameterImage &image_;
    std::uint16_t tick_ = 0;
};
