#pragma once
// Everything the ECU sends arrives here: ComPort1RxChar reads one frame, recognises it,
// moves both progress bars to its kind and decodes it into the screen.
#include "common/context.h"
#include "link/frames.h"

#include <QString>
#include <array>
#include <cstdint>

class Scanner;

class Receiver {
public:
    // The read-back's watchdog: a tick every 500 ms; 3 s without a recognised frame end it.
    static constexpr int readBackTickMs = 500;
    static constexpr int readBackQuietLimitMs = 3000;
    Receiver(Context &ctx, Scanner &scanner);
    void btnLerDadosClick(); // btnLerDados and Button6
    void ComPort1RxChar();
    // Read-back watchdog: while a read-back is requested or receiving and no frame has
    // arrived for 3 s, the read-back ends as kind 26 ends it and "Módulo não responde"
    // is shown.
    void TimerReadBackTimer();
    // The port was closed: a pending read-back ends with its time-out.
    void cancelReadBack();
    // Acts on one frame already read (used by ComPort1RxChar).
    void handle(const frames::Frame &frame);
    using ReadBack = ReadBackPhase;
    ReadBack readBack() const { return ctx_.state.readBack; }
    // Receive events handled, and how many of them carried a recognised frame.
    std::uint64_t eventsHandled() const { return events_; }
    std::uint64_t framesRecognised() const { return recognised_; }
    // The kind of the last frame handled (0 for rubbish).
    int lastKind() const { return lastKind_; }

private:
    using Payload = std::array<std::uint8_t, 8>;
    // One entry per frame kind: the steps that need no payload (before and after the
    // payload steps) and the payload decoder, which runs only for a full 12-byte frame.
    struct Decoder {
        void (Receiver::*before)() = nullptr;
        void (Receiver::*decode)(int kind, const Payload &p) = nullptr;
        void (Receiver::*after)() = nullptr;
    };
    static const std::array<Decoder, 256> &decoders();

    void enterReadBack();                             // kind 1, before its row
    void endReadBack();                               // kind 26
    void stopReadBack();                              // the read-back watchdog and a closed port
    void fieldRow(int kind, const Payload &p);        // kinds 1..24: the fields of the frame
    void engineSetUp(int kind, const Payload &p);     // kind 25
    void chargeZeroPoint(int kind, const Payload &p); // kind 26
    void mapSupply(int kind, const Payload &p);       // kind 32
    void diagnosticLine(int kind, const Payload &p);  // kinds 33, 34
    void liveData(int kind, const Payload &p);        // kinds 29..31
    void appendDiagnostic(const Payload &p, int from);

    Context &ctx_;
    Scanner &scanner_;
    std::uint64_t events_ = 0;
    std::uint64_t recognised_ = 0;
    int lastKind_ = 0;
    int quietMs_ = 0;
    QString lastDiagnostic_;
};
