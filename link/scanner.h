#pragma once
// The live scanner: Button3 switches it, Timer1 polls the ECU every second and
// watches the link; kinds 29..31 fill the read-outs and mark the operating cells.
#include "common/context.h"

#include <array>
#include <cstdint>

class Scanner {
public:
    explicit Scanner(Context &ctx);
    void Button3Click();
    void Timer1Timer();
    // Decoders of the live-data frames. hasPayload false: a short read, nothing decoded.
    void liveDataA(const std::array<std::uint8_t, 8> &p); // kind 29
    void liveDataB(const std::array<std::uint8_t, 8> &p); // kind 30
    void liveDataC(const std::array<std::uint8_t, 8> &p); // kind 31
    static constexpr int none = 500; // "no cell" in the marked list
    const std::array<int, 4> &marked() const { return marked_; } // base, lower, right, diagonal

private:
    void markCells();
    Context &ctx_;
    std::array<int, 4> marked_{0, 0, 0, 0};
    int loadPosition_ = 0;
    int speedPosition_ = 0;
    long double injectionTime_ = 0;
    int dwellStep_ = 0, dwellTotal_ = 0, positionCode_ = 0;
    bool havePositionCode_ = false;
};
