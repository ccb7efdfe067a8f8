#pragma once
// Everything the ECU sends arrives here: ComPort1RxChar reads one frame, recognises it,
// moves both progress bars to its kind and decodes it into the screen.
#include "common/context.h"
#include "link/frames.h"

class Scanner;

class Receiver {
public:
    Receiver(Context &ctx, Scanner &scanner);
    void btnLerDadosClick(); // btnLerDados and Button6
    void ComPort1RxChar();
    // Read-back watchdog: while a read-back is requested or receiving and no frame has
    // arrived for 3 s, the read-back ends as kind 26 ends it and "Módulo não responde"
    // is shown.
    void TimerReadBackTimer();
    // Acts on one frame already read (used by ComPort1RxChar).
    void handle(const frames::Frame &frame);
    enum class ReadBack { Idle, Requested, Receiving };
    ReadBack readBack() const { return readBack_; }

private:
    Context &ctx_;
    Scanner &scanner_;
    ReadBack readBack_ = ReadBack::Idle;
    int quietMs_ = 0;
};
