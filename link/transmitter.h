#pragma once
// The upload: one 9-byte frame per Timer2 tick (block number, 8 bytes), 32 frames,
// two idle ticks, then the end-of-upload command.
//
// On a line with a pacer the frames leave from absolute deadlines on the port's own
// thread, and Timer2 ticks once each slot has passed: tick n tells how slot n went
// and builds what slot n + 1 sends. A frame is thus built one slot (50 ms) ahead of
// the moment it leaves; without a pacer each tick builds and writes its own frame.
#include "common/context.h"

#include <QString>
#include <cstdint>
#include <exception>

class ParameterImage;

class Transmitter {
public:
    Transmitter(Context &ctx, ParameterImage &image);
    void btnEnviaClick(); // btnEnvia and Button8; also run by the TPS calibration
    void Timer2Timer();
    std::uint16_t tickCounter() const { return tick_; }

    // How the last upload went. Interrupted: a frame could not be built or written,
    // or the end command could not be written; the ECU did not take the set over.
    enum class Outcome { None, Refused, Running, Interrupted, Completed };
    Outcome outcome() const { return outcome_; }
    // Bytes of the last upload may have reached the line: a frame was handed to a
    // line that did not refuse it. An upload interrupted before that sent nothing.
    bool reachedLine() const { return reachedLine_; }
    // Second line of the message of an interrupted upload.
    static QString interruptedMessage();
    // Ends a running upload whose port went away, as a frame that could not be
    // written does: throws the cause with the second line of the message.
    [[noreturn]] void abort(const std::exception &cause) { interrupt(cause); }

private:
    void showBusy();
    QByteArray frame(int block);
    void blockWritten(int block);
    void complete();
    void pacedTick();
    // Builds and hands over what slot `slot` sends; a frame that cannot be built ends
    // the upload as its own tick would have.
    void handOver(int slot);
    // Hides the busy panels (outside the TPS calibration) and unlocks the buttons.
    void release();
    // Ends the upload at a frame or end command that could not be written as built:
    // buttons back, and the cause thrown again with the second line of the message.
    [[noreturn]] void interrupt(const std::exception &cause);

    Context &ctx_;
    ParameterImage &image_;
    std::uint16_t tick_ = 0;
    Outcome outcome_ = Outcome::None;
    bool reachedLine_ = false;
    LinkPacer *pacer_ = nullptr; // the running upload's, if its line has one
};
