#pragma once
// The live scanner: Button3 switches it, Timer1 polls the ECU every second and
// watches the link; kinds 29..31 fill the read-outs and mark the operating cells.
#include "common/context.h"
#include "link/livevalues.h"

#include <array>
#include <cstdint>
#include <functional>

class Scanner {
public:
    explicit Scanner(Context &ctx);
    void Button3Click();
    void Timer1Timer();
    // The link went while the scanner ran: the red marks leave the cells and the
    // throttle bar empties and greys, so that nothing on the map page looks live. The
    // first live frames put them back.
    void linkLost();
    // Decoders of the live-data frames. hasPayload false: a short read, nothing decoded.
    void liveDataA(const std::array<std::uint8_t, 8> &p);        // kind 29
    void liveDataB(const std::array<std::uint8_t, 8> &p);        // kind 30
    void liveDataC(const std::array<std::uint8_t, 8> &p);        // kind 31
    static constexpr int none = 500;                             // "no cell" in the marked list
    const std::array<int, 4> &marked() const { return marked_; } // base, lower, right, diagonal

    // Which read-outs a call of show() sets: those of one kind, or all of them.
    enum Parts : unsigned { PartA = 1, PartB = 2, PartC = 4, AllParts = 7 };
    // Shows a set of live values: read-out texts and colours, BarraTps, the load and
    // speed bars and the red cell marks. The live frames and the datalog's playback
    // both show through here. The marks follow the speed and load positions given
    // (live, kind 30 marks with the load position of the last kind 29).
    void show(const LiveValues &v, unsigned parts);
    // The live values as the last frames left them.
    const LiveValues &values() const { return values_; }
    // Called after each decoded live frame (kind, the values now shown), and after the
    // scanner was switched on or off (true: on). Set by the datalog.
    std::function<void(int kind, const LiveValues &)> onLiveFrame;
    std::function<void(bool on)> onSwitched;

private:
    // With PartB: the frame carried no period, speed and injection keep what they showed.
    static constexpr unsigned speedUnknown = 8;
    void markCells(int speedPosition, int loadPosition);
    Context &ctx_;
    std::array<int, 4> marked_{0, 0, 0, 0};
    LiveValues values_;
    int dwellStep_ = 0, dwellTotal_ = 0, positionCode_ = 0;
    bool havePositionCode_ = false;
};
